/** @file
  The update: versions shown, 1024 blocks written with the figure redrawn
  in place, the version byte read back and compared.
**/
#include "update/ChipUpdate.h"
#include "chip/TconChip.h"
#include "platform/PrintLib.h"
#include "platform/ShellLib.h"
#include "platform/UefiLib.h"
#include "update/EepromRead.h"
#include "update/Progress.h"
#include "update/RetryNote.h"

UINT32  mBlockOffset;

namespace {

constexpr UINT32  BLOCK_COUNT = EEPROM_SIZE / EEPROM_BLOCK_SIZE;

/** The versions, the current one only when it could be read: a refused read gives no byte to show. **/
VOID
ShowVersions (
  BOOLEAN  Known,
  UINT8    Current,
  UINT8    New
  )
{
  Print ("================================================ \n");
  if (Known) {
    Print (" Current E2PROM MCU version: V%x. \n", Current);
  } else {
    Print (" Current E2PROM MCU version: unreadable. \n");
  }

  Print (" The New E2PROM MCU version: V%x. \n", New);
  Print ("================================================ \n");
}

/** Sends every block in ascending order; returns how many the host controller refused at every attempt. **/
UINT32
WriteAllBlocks (
  const UINT8  *Image
  )
{
  PROGRESS  Progress = StartProgress (" Start update Chip image:      ");
  UINT32    Failed   = 0;

  for (mBlockOffset = 0; mBlockOffset < EEPROM_SIZE; mBlockOffset += EEPROM_BLOCK_SIZE) {
    if (WriteEepromBlock ((UINT16)mBlockOffset, &Image[mBlockOffset]) != ChipDone) {
      Failed++;
    }

    ShowProgress (Progress, ProgressFigure (mBlockOffset));
    gBS->Stall (BLOCK_WRITE_PAUSE_US);
  }

  ShowProgress (Progress, 100);
  gBS->Stall (BLOCK_WRITE_PAUSE_US);
  Print ("\n================================================\n");
  return Failed;
}

CHIP_RESULT
Verify (
  UINT8            Expected,
  UINT32           FailedBlocks,
  UPDATE_VERSIONS  *Versions
  )
{
  UINT8        ReadBack = 0;
  CHIP_RESULT  Result   = ReadEepromVersion (&ReadBack);

  Versions->ReadBack      = ReadBack;
  Versions->ReadBackKnown = (Result == ChipDone);

  //
  // Each failure also leaves its reason in Zk48Reason, for a script whose
  // next run clears this screen.
  //
  if (Result != ChipDone) {
    ShowEepromReadError (Result, NO_EEPROM_ADDRESS);
    SetShellVariable ("Zk48Reason=version byte not read back");
  } else if (ReadBack != Expected) {
    Print (" Version information validation error,the bin version is 0x%x and the E2PROM version is 0x%x. \n", Expected, ReadBack);
    SetShellVariable ("Zk48Reason=version read back 0x%X, not 0x%X", ReadBack, Expected);
    Result = ChipFailed;
  } else {
    Print (" Version information verified successfully,the version is 0x%x. \n", ReadBack);
  }

  //
  // Refused blocks explain a mismatch, so their failure is the outcome that
  // names the cause. A read-back that timed out says more: the chip itself
  // stopped answering, which the refused blocks only follow from, and
  // nothing is known of what the E2PROM holds. A read-back the bus refused
  // at every attempt fails the update either way.
  //
  if (FailedBlocks != 0) {
    Print (" Error: %d of 1024 block writes failed, the E2PROM image is incomplete.\n", FailedBlocks);
    ShowBusRefusals ();
    SetShellVariable ("Zk48Reason=%d of 1024 block writes failed", FailedBlocks);
    return (Result == ChipTimedOut) ? Result : ChipFailed;
  }

  if (Result == ChipDone) {
    Print ("\n");
    ShowRetryNote (0);
    Print (" E2PROM update finished.\n");
  }

  return Result;
}

} // namespace

CHIP_RESULT
UpdateChipImage (
  CHIP_IMAGE_FILE  *ImageFile,
  UPDATE_VERSIONS  *Versions
  )
{
  UINT8        Current = 0;
  BOOLEAN      Known   = ReadMcuVersion (&Current) == ChipDone;
  UINT8        New     = ImageFile->Image[EEPROM_VERSION_ADDRESS];
  CHIP_RESULT  Result;

  static_assert (BLOCK_COUNT == 1024, "the failure line names 1024 blocks");
  *Versions = UPDATE_VERSIONS { Current, 0, FALSE, Known };
  ShowVersions (Known, Current, New);
  Result = Verify (New, WriteAllBlocks (ImageFile->Image), Versions);
  ReleaseImageFile (ImageFile);
  return Result;
}
