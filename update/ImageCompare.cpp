/** @file
  The comparison: the whole E2PROM read, then byte by byte against the
  image, the first few differences shown.
**/
#include "update/ImageCompare.h"
#include "chip/TconChip.h"
#include "platform/PrintLib.h"
#include "platform/UefiLib.h"
#include "update/EepromRead.h"

namespace {

// Enough to see the pattern of a difference; the count gives the rest.
constexpr UINT32  DIFFERENCES_SHOWN = 8;

VOID
ShowCrcs (
  const UINT8  *Image
  )
{
  UINT32      ImageCrc  = 0;
  UINT32      EepromCrc = 0;
  EFI_STATUS  Status;

  Status = gBS->CalculateCrc32 (Image, EEPROM_SIZE, &ImageCrc);
  if (!EFI_ERROR (Status)) {
    Status = gBS->CalculateCrc32 (mEepromCopy, EEPROM_SIZE, &EepromCrc);
  }

  if (EFI_ERROR (Status)) {
    Print (u" CRC-32 not available: %r.\n", Status);
  } else {
    Print (u" Image CRC-32 0x%08X, E2PROM CRC-32 0x%08X.\n", ImageCrc, EepromCrc);
  }
}

UINT32
CountDifferences (
  const UINT8  *Image
  )
{
  UINT32  Count = 0;

  for (UINTN Address = 0; Address < EEPROM_SIZE; Address++) {
    Count += (Image[Address] != mEepromCopy[Address]) ? 1 : 0;
  }

  return Count;
}

VOID
ShowFirstDifferences (
  const UINT8  *Image
  )
{
  UINT32  Shown = 0;

  for (UINT32 Address = 0; (Address < EEPROM_SIZE) && (Shown < DIFFERENCES_SHOWN); Address++) {
    if (Image[Address] != mEepromCopy[Address]) {
      Print (u" Address 0x%4.4X: image 0x%2.2X, E2PROM 0x%2.2X\n", Address, Image[Address], mEepromCopy[Address]);
      Shown++;
    }
  }
}

IMAGE_COMPARE_RESULT
Compare (
  const UINT8  *Image
  )
{
  EEPROM_READ_RESULT  Read = ReadWholeEeprom ();
  UINT32              Differences;

  if (Read != EepromReadDone) {
    return (Read == EepromReadTimeout) ? ImageCompareReadTimeout : ImageCompareReadFailed;
  }

  ShowCrcs (Image);
  Differences = CountDifferences (Image);
  if (Differences == 0) {
    Print (u" The E2PROM is identical to the image.\n");
    return ImageCompareIdentical;
  }

  Print (u" Error: %d of %d bytes differ from the image:\n", Differences, (UINT32)EEPROM_SIZE);
  ShowFirstDifferences (Image);
  return ImageCompareDiffers;
}

} // namespace

IMAGE_COMPARE_RESULT
CompareChipImage (
  CHIP_IMAGE_FILE  *ImageFile
  )
{
  IMAGE_COMPARE_RESULT  Result = Compare (ImageFile->Image);

  ReleaseImageFile (ImageFile);
  return Result;
}
