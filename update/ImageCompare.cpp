/** @file
  The comparison: the whole E2PROM read with every byte proven, then byte
  by byte against the image, the first few differences shown.
**/
#include "update/ImageCompare.h"
#include "platform/PrintLib.h"
#include "platform/ShellLib.h"
#include "platform/UefiLib.h"
#include "update/ProvenEeprom.h"
#include "update/RetryNote.h"

namespace {

// Enough to see the pattern of a difference; the count gives the rest.
constexpr UINT32  DIFFERENCES_SHOWN = 8;

VOID
ShowCrcs (
  const UINT8    *Image,
  const UINT8    *Eeprom,
  IMAGE_COMPARE  *Compare
  )
{
  EFI_STATUS  Status;

  Status = gBS->CalculateCrc32 (Image, EEPROM_SIZE, &Compare->ImageCrc);
  if (!EFI_ERROR (Status)) {
    Status = gBS->CalculateCrc32 (Eeprom, EEPROM_SIZE, &Compare->EepromCrc);
  }

  if (EFI_ERROR (Status)) {
    Print (" CRC-32 not available: %r.\n", Status);
  } else {
    Compare->CrcKnown = TRUE;
    Print (" Image CRC-32 0x%08X, E2PROM CRC-32 0x%08X.\n", Compare->ImageCrc, Compare->EepromCrc);
  }
}

UINT32
CountDifferences (
  const UINT8  *Image,
  const UINT8  *Eeprom
  )
{
  UINT32  Count = 0;

  for (UINTN Address = 0; Address < EEPROM_SIZE; Address++) {
    Count += (Image[Address] != Eeprom[Address]) ? 1 : 0;
  }

  return Count;
}

VOID
ShowFirstDifferences (
  const UINT8  *Image,
  const UINT8  *Eeprom
  )
{
  UINT32  Shown = 0;

  for (UINT32 Address = 0; (Address < EEPROM_SIZE) && (Shown < DIFFERENCES_SHOWN); Address++) {
    if (Image[Address] != Eeprom[Address]) {
      if (Shown == 0) {
        SetShellVariable ("Zk48FirstDifference=0x%4.4X", Address);
      }

      Print (" Address 0x%4.4X: image 0x%2.2X, E2PROM 0x%2.2X\n", Address, Image[Address], Eeprom[Address]);
      Shown++;
    }
  }
}

VOID
CompareWithImage (
  const UINT8    *Image,
  IMAGE_COMPARE  *Compare
  )
{
  UINT8  Eeprom[EEPROM_SIZE];
  UINT8  Second[EEPROM_SIZE];

  //
  // A byte that matches the image needs its proof as much as one that
  // does not: a stray read can deliver exactly the image's byte.
  //
  Compare->Read = ReadProvenEeprom (Eeprom, Second, &Compare->BytesReread);
  if (Compare->Read != ChipDone) {
    return;
  }

  ShowCrcs (Image, Eeprom, Compare);
  Compare->Differences = CountDifferences (Image, Eeprom);
  SetShellVariable ("Zk48Differences=%d", Compare->Differences);
  if (Compare->Differences == 0) {
    ShowRetryNote (Compare->BytesReread);
    Print (" The E2PROM is identical to the image.\n");
    return;
  }

  Print (" Error: %d of %d bytes differ from the image:\n", Compare->Differences, (UINT32)EEPROM_SIZE);
  ShowFirstDifferences (Image, Eeprom);
}

} // namespace

VOID
CompareChipImage (
  CHIP_IMAGE_FILE  *ImageFile,
  IMAGE_COMPARE    *Compare
  )
{
  *Compare = IMAGE_COMPARE {};
  CompareWithImage (ImageFile->Image, Compare);
  ReleaseImageFile (ImageFile);
}
