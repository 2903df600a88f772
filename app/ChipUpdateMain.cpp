/** @file
  The order of the whole run and the exit status a script reads.
**/
#include "app/ChipUpdateMain.h"
#include "app/RunRecord.h"
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

// The words a record names the commands by, in TOOL_COMMAND's order.
constexpr CHAR8  mCommandNames[][8] = { "update", "version", "backup", "compare" };

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
    " Exit statuses, the bench script, the chip not found: help Zk48Update -verbose\n"
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
  The version byte read until two reads agree: one stray write the chip
  ignored cannot show a version the E2PROM does not hold.
**/
EFI_STATUS
ShowEepromVersion (
  RUN_RECORD  *Record
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

  Record->Versions.Current  = Version;
  Record->Known            |= RECORD_BEFORE;
  ShowRetryNote (Disagreed ? 1 : 0);
  Print ("The E2PROM version is 0x%x. \n", Version);
  return EFI_SUCCESS;
}

/**
  The image's CRC-32 for the record: worked out only for a run that keeps
  one, so that a run without -l asks the firmware for nothing more.
**/
VOID
RecordImageCrc (
  const CHIP_IMAGE_FILE  &ImageFile,
  RUN_RECORD             *Record
  )
{
  if ((Record->LogName != nullptr) && !EFI_ERROR (gBS->CalculateCrc32 (ImageFile.Image, EEPROM_SIZE, &Record->ImageCrc))) {
    Record->Known |= RECORD_IMAGE_CRC;
  }
}

EFI_STATUS
UpdateFromFile (
  RUN_RECORD  *Record
  )
{
  CHIP_IMAGE_FILE  ImageFile = {};
  EFI_STATUS       Status;

  if (!LoadImageFile (Record->FileName, &ImageFile)) {
    return ImageFile.Status;
  }

  RecordImageCrc (ImageFile, Record);
  Status = ChipStatus (UpdateChipImage (&ImageFile, &Record->Versions));
  Record->Known |= Record->Versions.CurrentKnown ? RECORD_BEFORE : 0;
  return Status;
}

EFI_STATUS
BackupToFile (
  RUN_RECORD  *Record
  )
{
  EEPROM_BACKUP  &Backup = Record->Backup;

  SaveEepromBackup (Record->FileName, &Backup);
  return (Backup.Read != ChipDone) ? ChipStatus (Backup.Read) : Backup.Status;
}

EFI_STATUS
CompareWithFile (
  RUN_RECORD  *Record
  )
{
  CHIP_IMAGE_FILE  ImageFile = {};
  IMAGE_COMPARE    &Compare  = Record->Compare;

  if (!LoadImageFile (Record->FileName, &ImageFile)) {
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
  RUN_RECORD    *Record
  )
{
  switch (Command) {
    case CommandVersion:
      return ShowEepromVersion (Record);
    case CommandBackup:
      return BackupToFile (Record);
    case CommandCompare:
      return CompareWithFile (Record);
    default:
      return UpdateFromFile (Record);
  }
}

/**
  Refuses what follows Argv[Option] at Argv[Name]: nothing, when Name is
  Argc, or an option.
**/
EFI_STATUS
RefuseFileName (
  UINTN   Argc,
  CHAR16  **Argv,
  UINTN   Option,
  UINTN   Name
  )
{
  if (Name >= Argc) {
    Print (" Error: %s needs a file name, program exit.\n", Argv[Option]);
  } else {
    Print (" Error: %s needs a file name, %s is an option, program exit.\n", Argv[Option], Argv[Name]);
  }

  return EFI_INVALID_PARAMETER;
}

/**
  Checks the file names that the command takes and that -l, given right
  after the command's own arguments, takes; anything after them is
  ignored. Returns EFI_SUCCESS with Record naming the command, its file and
  the log, or EFI_INVALID_PARAMETER with the reason on the console.
**/
EFI_STATUS
CheckFileArguments (
  TOOL_COMMAND  Command,
  UINTN         Argc,
  CHAR16        **Argv,
  RUN_RECORD    *Record
  )
{
  BOOLEAN  NamesFile = (Command == CommandBackup) || (Command == CommandCompare);
  UINTN    LogFlag   = NamesFile ? 3 : 2;

  //
  // A backup named like an option could never be written back by name.
  //
  if (NamesFile && ((Argc < 3) || (CommandOf (Argv[2]) != CommandUpdate))) {
    return RefuseFileName (Argc, Argv, 1, 2);
  }

  Record->Command  = mCommandNames[Command];
  Record->FileName = (Command == CommandVersion) ? nullptr : Argv[LogFlag - 1];
  if ((Argc <= LogFlag) || (StrCmp (Argv[LogFlag], u"-l") != 0)) {
    return EFI_SUCCESS;
  }

  if ((Argc <= LogFlag + 1) || (CommandOf (Argv[LogFlag + 1]) != CommandUpdate)) {
    return RefuseFileName (Argc, Argv, LogFlag, LogFlag + 1);
  }

  //
  // A line appended to the image or the backup would spoil it: the next
  // load would refuse it for its size.
  //
  if ((Record->FileName != nullptr) && (StriCmp (Argv[LogFlag + 1], Record->FileName) == 0)) {
    Print (" Error: -l needs a file of its own, %s is the command's file, program exit.\n", Record->FileName);
    return EFI_INVALID_PARAMETER;
  }

  Record->LogName = Argv[LogFlag + 1];
  return EFI_SUCCESS;
}

/** From the separator on: the host controller, the scan, the command. **/
EFI_STATUS
RunOnChip (
  TOOL_COMMAND  Command,
  RUN_RECORD    *Record
  )
{
  EFI_STATUS  Status;

  Print ("\n================================================ \n");
  if (mSmbusHc == nullptr) {
    Print (" Error: SMBus host controller protocol not found, exit.\n");
    return EFI_NOT_FOUND;
  }

  Status = ScanStatus (FindSmbusController ());
  if (EFI_ERROR (Status)) {
    return Status;
  }

  Record->Known |= RECORD_CHIP_FOUND;
  return RunCommand (Command, Record);
}

} // namespace

EFI_STATUS
ChipUpdateMain (
  UINTN   Argc,
  CHAR16  **Argv,
  UINT32  IgnoredLoadOptions
  )
{
  RUN_RECORD    Record = {};
  EFI_STATUS    Status;
  TOOL_COMMAND  Command;

  mTransactionsSent    = 0;
  mTransactionsRefused = 0;
  LocateSmbusHc ();
  gST->ConOut->ClearScreen (gST->ConOut);
  ShowBanner ();
  if (IgnoredLoadOptions != 0) {
    Print (" Load options ignored.\n");
  }

  if (Argc <= 1) {
    Print (" Error: No bin file name parameter or Command missing -v parameters, program exit.\n");
    return EFI_INVALID_PARAMETER;
  }

  Command = CommandOf (Argv[1]);
  if (Command == CommandHelp) {
    ShowUsage ();
    return EFI_SUCCESS;
  }

  Status = CheckFileArguments (Command, Argc, Argv, &Record);
  if (EFI_ERROR (Status)) {
    return Status;
  }

  if (Record.LogName == nullptr) {
    return RunOnChip (Command, &Record);
  }

  StartRunRecord (&Record);
  return WriteRunRecord (&Record, RunOnChip (Command, &Record));
}
