/** @file
  The update: versions shown, 1024 blocks written with the figure redrawn
  in place, the version byte read back and compared.
**/
#include "update/ChipUpdate.h"
#include "chip/TconChip.h"
#include "platform/PrintLib.h"
#include "platform/UefiLib.h"
#include "update/EepromRead.h"
#include "update/Progress.h"

UINT32  mBlockOffset;

namespace {

// The E2PROM's write cycle needs this long after each block.
constexpr UINTN  BLOCK_WRITE_PAUSE_US = 4000;

constexpr UINT32  BLOCK_COUNT = EEPROM_SIZE / EEPROM_BLOCK_SIZE;

VOID
ShowVersions (
  UINT8  Current,
  UINT8  New
  )
{
  Print (u"================================================ \n");
  Print (u" Current E2PROM MCU version: V%x. \n", Current);
  Print (u" The New E2PROM MCU version: V%x. \n", New);
  Print (u"================================================ \n");
}

/** Sends every block in ascending order; returns how many the host controller refused. **/
UINT32
WriteAllBlocks (
  const UINT8  *Image
  )
{
  PROGRESS  Progress = StartProgress (u" Start update Chip image:      ");
  UINT32    Failed   = 0;

  for (mBlockOffset = 0; mBlockOffset < EEPROM_SIZE; mBlockOffset += EEPROM_BLOCK_SIZE) {
    if (!WriteEepromBlock ((UINT16)mBlockOffset, &Image[mBlockOffset])) {
      Failed++;
    }

    ShowProgress (Progress, ProgressFigure (mBlockOffset));
    gBS->Stall (BLOCK_WRITE_PAUSE_US);
  }

  ShowProgress (Progress, 100);
  gBS->Stall (BLOCK_WRITE_PAUSE_US);
  Print (u"\n================================================\n");
  return Failed;
}

CHIP_UPDATE_RESULT
Verify (
  UINT8   Expected,
  UINT32  FailedBlocks
  )
{
  CHIP_UPDATE_RESULT  Result = ChipUpdateVerified;
  UINT8               ReadBack = 0;
  EEPROM_READ_RESULT  Read     = ReadEepromVersion (&ReadBack);

  if (Read != EepromReadDone) {
    ShowEepromReadError (Read);
    Result = (Read == EepromReadTimeout) ? ChipUpdateReadTimeout : ChipUpdateReadFailed;
  } else if (ReadBack != Expected) {
    Print (u" Version information validation error,the bin version is 0x%x and the E2PROM version is 0x%x. \n", Expected, ReadBack);
    Result = ChipUpdateMismatch;
  } else {
    Print (u" Version information verified successfully,the version is 0x%x. \n", ReadBack);
  }

  //
  // Refused blocks explain a mismatch, so their count is the outcome that
  // names the cause. A read-back that failed or timed out says more: the
  // bus itself stopped answering, which the refused blocks only follow
  // from, and nothing is known of what the E2PROM holds.
  //
  if (FailedBlocks != 0) {
    Print (u" Error: %d of 1024 block writes failed, the E2PROM image is incomplete.\n", FailedBlocks);
    return (Result == ChipUpdateReadTimeout) || (Result == ChipUpdateReadFailed) ? Result : ChipUpdateBlocksFailed;
  }

  if (Result == ChipUpdateVerified) {
    Print (u"\n E2PROM update finished.\n");
  }

  return Result;
}

} // namespace

CHIP_UPDATE_RESULT
UpdateChipImage (
  CHIP_IMAGE_FILE  *ImageFile
  )
{
  UINT8               Current = ReadMcuVersion ();
  UINT8               New     = ImageFile->Image[EEPROM_VERSION_ADDRESS];
  CHIP_UPDATE_RESULT  Result;

  static_assert (BLOCK_COUNT == 1024, "the failure line names 1024 blocks");
  ShowVersions (Current, New);
  Result = Verify (New, WriteAllBlocks (ImageFile->Image));
  ReleaseImageFile (ImageFile);
  return Result;
}
