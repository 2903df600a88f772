/** @file
  The order of the whole run and the exit status a script reads.
**/
#include "app/ChipUpdateMain.h"
#include "chip/SmbusAccess.h"
#include "chip/SmbusScan.h"
#include "chip/TconChip.h"
#include "platform/BaseLib.h"
#include "platform/PrintLib.h"
#include "platform/UefiLib.h"
#include "update/ChipUpdate.h"
#include "update/ImageFile.h"

namespace {

constexpr INT32  TOOL_MAJOR_VERSION    = 2;
constexpr INT32  TOOL_MINOR_VERSION    = 7;
constexpr INT32  TOOL_REVISION_VERSION = 2;

VOID
ShowBanner (
  )
{
  Print (u"================================================\n");
  Print (u" This tool is used for updating the ZK48 Chip image.\n");
  Print (u" Software support cmd-one format:xxx.efi xxx.bin.\n");
  Print (u" Software support cmd-two format:xxx.efi -v.\n");
  Print (u" Software version: %d.%d.%d\n", TOOL_MAJOR_VERSION, TOOL_MINOR_VERSION, TOOL_REVISION_VERSION);
}

EFI_STATUS
ScanStatus (
  SMBUS_SCAN_RESULT  Result
  )
{
  switch (Result) {
    case SmbusScanChipFound:
      return EFI_SUCCESS;
    case SmbusScanUnsupported:
      return EFI_UNSUPPORTED;
    default:
      return EFI_NOT_FOUND;
  }
}

EFI_STATUS
ShowEepromVersion (
  )
{
  UINT8  Version;

  if (!ReadEepromVersion (&Version)) {
    Print (u" Error: E2PROM read timed out, exit.\n");
    return EFI_TIMEOUT;
  }

  Print (u"The E2PROM version is 0x%x. \n", Version);
  return EFI_SUCCESS;
}

EFI_STATUS
UpdateFromFile (
  const CHAR16  *FileName
  )
{
  CHIP_IMAGE_FILE  ImageFile = {};

  if (!LoadImageFile (FileName, &ImageFile)) {
    return ImageFile.Status;
  }

  switch (UpdateChipImage (&ImageFile)) {
    case ChipUpdateVerified:
      return EFI_SUCCESS;
    case ChipUpdateReadTimeout:
      return EFI_TIMEOUT;
    default:
      return EFI_DEVICE_ERROR;
  }
}

} // namespace

EFI_STATUS
ChipUpdateMain (
  UINTN   Argc,
  CHAR16  **Argv
  )
{
  EFI_STATUS  Status;

  LocateSmbusHc ();
  gST->ConOut->ClearScreen (gST->ConOut);
  ShowBanner ();
  if (Argc <= 1) {
    Print (u" Error: No bin file name parameter or Command missing -v parameters, program exit.\n");
    return EFI_INVALID_PARAMETER;
  }

  Print (u"\n================================================ \n");
  if (mSmbusHc == nullptr) {
    Print (u" Error: SMBus host controller protocol not found, exit.\n");
    return EFI_NOT_FOUND;
  }

  Status = ScanStatus (FindSmbusController ());
  if (EFI_ERROR (Status)) {
    return Status;
  }

  if (StrCmp (Argv[1], u"-v") == 0) {
    return ShowEepromVersion ();
  }

  return UpdateFromFile (Argv[1]);
}
