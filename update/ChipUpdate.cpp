/** @file
  The update: versions shown, 1024 blocks written with the figure redrawn
  in place, the version byte read back and compared.
**/
#include "update/ChipUpdate.h"
#include "chip/TconChip.h"
#include "platform/PrintLib.h"
#include "platform/UefiLib.h"

UINT32  mBlockOffset;

namespace {

// The E2PROM's write cycle needs this long after each block.
constexpr UINTN  BLOCK_WRITE_PAUSE_US = 4000;

constexpr UINT32  BLOCK_COUNT = EEPROM_SIZE / EEPROM_BLOCK_SIZE;

// The figure divides by the E2PROM's size with a shift.
constexpr UINT32  EEPROM_SIZE_SHIFT = 13;
static_assert (((UINTN)1 << EEPROM_SIZE_SHIFT) == EEPROM_SIZE, "the shift divides by the E2PROM size");

struct CURSOR {
  INT32    Column;
  INT32    Row;
};

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

VOID
ShowFigure (
  const CURSOR  &Saved,
  UINT32        Percent
  )
{
  gST->ConOut->SetCursorPosition (gST->ConOut, (UINTN)Saved.Column, (UINTN)Saved.Row);
  Print (u"%d%%", Percent);
}

/** Sends every block in ascending order; returns how many the host controller refused. **/
UINT32
WriteAllBlocks (
  const UINT8  *Image
  )
{
  CURSOR  Saved;
  UINT32  Failed = 0;

  Print (u" Start update Chip image:      ");
  Saved = { gST->ConOut->Mode->CursorColumn, gST->ConOut->Mode->CursorRow };
  for (mBlockOffset = 0; mBlockOffset < EEPROM_SIZE; mBlockOffset += EEPROM_BLOCK_SIZE) {
    if (!WriteEepromBlock ((UINT16)mBlockOffset, &Image[mBlockOffset])) {
      Failed++;
    }

    ShowFigure (Saved, ((mBlockOffset + 1) * 100) >> EEPROM_SIZE_SHIFT);
    gBS->Stall (BLOCK_WRITE_PAUSE_US);
  }

  gST->ConOut->SetCursorPosition (gST->ConOut, (UINTN)Saved.Column, (UINTN)Saved.Row);
  Print (u"100%%");
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
  UINT8               ReadBack;

  if (!ReadEepromVersion (&ReadBack)) {
    Print (u" Error: E2PROM read timed out, exit.\n");
    Result = ChipUpdateReadTimeout;
  } else if (ReadBack != Expected) {
    Print (u" Version information validation error,the bin version is 0x%x and the E2PROM version is 0x%x. \n", Expected, ReadBack);
    Result = ChipUpdateMismatch;
  } else {
    Print (u" Version information verified successfully,the version is 0x%x. \n", ReadBack);
  }

  if (FailedBlocks != 0) {
    Print (u" Error: %d of 1024 block writes failed, the E2PROM image is incomplete.\n", FailedBlocks);
    return (Result == ChipUpdateReadTimeout) ? Result : ChipUpdateBlocksFailed;
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
