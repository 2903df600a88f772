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
#include "update/EepromBackup.h"
#include "update/EepromRead.h"
#include "update/ImageCompare.h"
#include "update/ImageFile.h"
#include "update/RetryNote.h"

namespace {

// What the first argument asks for; anything but an option is an image file.
enum TOOL_COMMAND {
  CommandUpdate,
  CommandVersion,
  CommandBackup,
  CommandCompare,
  CommandHelp
};

constexpr INT32  TOOL_MAJOR_VERSION    = 2;
constexpr INT32  TOOL_MINOR_VERSION    = 7;
constexpr INT32  TOOL_REVISION_VERSION = 2;

VOID
ShowBanner (
  )
{
  Print ("================================================\n");
  Print (" This tool is used for updating the ZK48 Chip image.\n");
  Print (" Software support cmd-one format:xxx.efi xxx.bin.\n");
  Print (" Software support cmd-two format:xxx.efi -v.\n");
  Print (" Software version: %d.%d.%d\n", TOOL_MAJOR_VERSION, TOOL_MINOR_VERSION, TOOL_REVISION_VERSION);
}

/**
  One line for each command, then where the rest is written down; touches
  nothing. Three lines a call: each call costs code in an image kept under
  20 KiB, and one call prints at most PRINT_MAX_CHARACTERS.
**/
VOID
ShowUsage (
  )
{
  Print (
    " Zk48Update.efi IMAGE    write the 8192-byte IMAGE and check its version byte.\n"
    " Zk48Update.efi -v       show the version byte the E2PROM holds.\n"
    " Zk48Update.efi -d FILE  save the whole E2PROM in FILE, a new file.\n"
    );
  Print (
    " Zk48Update.efi -c FILE  compare the whole E2PROM with the image FILE.\n"
    " Zk48Update.efi -h       show these lines; the chip is not touched.\n"
    " Exit statuses and the bench script Zk48Bench.nsh: see the README.\n"
    );
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

TOOL_COMMAND
CommandOf (
  const CHAR16  *Argument
  )
{
  if (StrCmp (Argument, u"-v") == 0) {
    return CommandVersion;
  }

  if (StrCmp (Argument, u"-d") == 0) {
    return CommandBackup;
  }

  if (StrCmp (Argument, u"-h") == 0) {
    return CommandHelp;
  }

  return (StrCmp (Argument, u"-c") == 0) ? CommandCompare : CommandUpdate;
}

/** The exit status of a chip operation's outcome, for every command. **/
EFI_STATUS
ChipStatus (
  CHIP_RESULT  Result
  )
{
  switch (Result) {
    case ChipDone:
      return EFI_SUCCESS;
    case ChipTimedOut:
      return EFI_TIMEOUT;
    default:
      return EFI_DEVICE_ERROR;
  }
}

/**
  The version byte read until two reads agree: one stray write
  the chip ignored cannot show a version the E2PROM does not hold.
**/
EFI_STATUS
ShowEepromVersion (
  )
{
  READ_TRAIL   Trail     = {};
  UINT8        Version   = 0;
  BOOLEAN      Proven    = FALSE;
  BOOLEAN      Disagreed = FALSE;
  CHIP_RESULT  Result    = TrailRead (&Trail, EEPROM_VERSION_ADDRESS, &Version, &Proven);

  if (Result == ChipDone) {
    const UINT8  First = Version;

    Result = ConfirmEepromByte (&Trail, EEPROM_VERSION_ADDRESS, nullptr, &First, 1, &Version, &Disagreed);
  }

  if (Result != ChipDone) {
    ShowEepromReadError (Result, NO_EEPROM_ADDRESS);
    return ChipStatus (Result);
  }

  ShowRetryNote (Disagreed ? 1 : 0);
  Print ("The E2PROM version is 0x%x. \n", Version);
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

  return ChipStatus (UpdateChipImage (&ImageFile));
}

EFI_STATUS
BackupToFile (
  const CHAR16  *FileName
  )
{
  EEPROM_BACKUP  Backup = {};

  SaveEepromBackup (FileName, &Backup);
  return (Backup.Read != ChipDone) ? ChipStatus (Backup.Read) : Backup.Status;
}

EFI_STATUS
CompareWithFile (
  const CHAR16  *FileName
  )
{
  CHIP_IMAGE_FILE  ImageFile = {};
  IMAGE_COMPARE    Compare;

  if (!LoadImageFile (FileName, &ImageFile)) {
    return ImageFile.Status;
  }

  CompareChipImage (&ImageFile, &Compare);
  if (Compare.Read != ChipDone) {
    return ChipStatus (Compare.Read);
  }

  return (Compare.Differences != 0) ? EFI_CRC_ERROR : EFI_SUCCESS;
}

/** Runs the command on the confirmed chip; returns the exit status. **/
EFI_STATUS
RunCommand (
  TOOL_COMMAND  Command,
  CHAR16        **Argv
  )
{
  switch (Command) {
    case CommandVersion:
      return ShowEepromVersion ();
    case CommandBackup:
      return BackupToFile (Argv[2]);
    case CommandCompare:
      return CompareWithFile (Argv[2]);
    default:
      return UpdateFromFile (Argv[1]);
  }
}

} // namespace

EFI_STATUS
ChipUpdateMain (
  UINTN   Argc,
  CHAR16  **Argv
  )
{
  EFI_STATUS    Status;
  TOOL_COMMAND  Command;
  BOOLEAN       NamesFile;

  mTransactionsSent    = 0;
  mTransactionsRefused = 0;
  LocateSmbusHc ();
  gST->ConOut->ClearScreen (gST->ConOut);
  ShowBanner ();
  if (Argc <= 1) {
    Print (" Error: No bin file name parameter or Command missing -v parameters, program exit.\n");
    return EFI_INVALID_PARAMETER;
  }

  Command = CommandOf (Argv[1]);
  if (Command == CommandHelp) {
    ShowUsage ();
    return EFI_SUCCESS;
  }

  NamesFile = (Command == CommandBackup) || (Command == CommandCompare);
  if (NamesFile && (Argc < 3)) {
    Print (" Error: %s needs a file name, program exit.\n", Argv[1]);
    return EFI_INVALID_PARAMETER;
  }

  //
  // A backup named like an option could never be written back by name.
  //
  if (NamesFile && (CommandOf (Argv[2]) != CommandUpdate)) {
    Print (" Error: %s needs a file name, %s is an option, program exit.\n", Argv[1], Argv[2]);
    return EFI_INVALID_PARAMETER;
  }

  Print ("\n================================================ \n");
  if (mSmbusHc == nullptr) {
    Print (" Error: SMBus host controller protocol not found, exit.\n");
    return EFI_NOT_FOUND;
  }

  Status = ScanStatus (FindSmbusController ());
  if (EFI_ERROR (Status)) {
    return Status;
  }

  return RunCommand (Command, Argv);
}
