/** @file
  The backup: a new file created before the chip is read, so that a name
  that cannot be used costs no read; the E2PROM read with every byte
  proven; the file written whole, flushed, closed, opened again and read
  back; and deleted again when any of it fails.
**/
#include "update/EepromBackup.h"
#include "chip/TconChip.h"
#include "platform/BaseLib.h"
#include "platform/PrintLib.h"
#include "platform/UefiLib.h"
#include "update/FileVolume.h"
#include "update/ProvenEeprom.h"
#include "update/RetryNote.h"

namespace {

constexpr UINT64  CREATE_MODE = EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE | EFI_FILE_MODE_CREATE;
constexpr UINT64  REOPEN_MODE = EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE;

BOOLEAN
Fail (
  EEPROM_BACKUP  *Backup,
  EFI_STATUS     Status
  )
{
  Backup->Status = Status;
  return FALSE;
}

/** Shows why the file cannot be created and ends the backup with Status. **/
BOOLEAN
FailCreate (
  EEPROM_BACKUP  *Backup,
  EFI_STATUS     Status
  )
{
  Print (" Error: cannot create %s: %r, exit.\n", Backup->FileName, Status);
  return Fail (Backup, Status);
}

/**
  Names a plain name with the volume it is on, "FS0:\backup.bin", as the
  shell maps it: that volume need not be the one the shell is on. A name
  given with its mapping, or one the shell cannot name, stays as given.
**/
VOID
NameBackupVolume (
  EEPROM_BACKUP                    *Backup,
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL  *FileSystem
  )
{
  const CHAR16  *Name  = Backup->FileName;
  CHAR16        *Named = Backup->Named;
  UINTN         Length;

  if ((Backup->Path != Name) || !VolumeMapping (FileSystem, Named)) {
    return;
  }

  Length = StrLen (Named);
  if (Name[0] != u'\\') {
    Named[Length++] = u'\\';
  }

  while ((*Name != 0) && (Length < BACKUP_NAME_SIZE - 1)) {
    Named[Length++] = *Name++;
  }

  Named[Length]    = 0;
  Backup->FileName = Named;
}

/** Opens the root directory of the volume the name is on; FALSE when there is none to write to. **/
BOOLEAN
OpenBackupVolume (
  EEPROM_BACKUP  *Backup
  )
{
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL  *FileSystem = nullptr;
  EFI_FILE_PROTOCOL                *Root       = nullptr;
  EFI_STATUS                       Status;

  Status = LocateFileVolume (Backup->FileName, &FileSystem, &Backup->Path);
  if (!EFI_ERROR (Status)) {
    NameBackupVolume (Backup, FileSystem);
  }

  Print (" Backup file is: %s\n", Backup->FileName);
  if (EFI_ERROR (Status)) {
    FailCreate (Backup, Status);
    ShowWhereLookedFor (Backup->FileName, nullptr);
    return FALSE;
  }

  Status = FileSystem->OpenVolume (FileSystem, &Root);
  if (EFI_ERROR (Status) || (Root == nullptr)) {
    return FailCreate (Backup, EFI_ERROR (Status) ? Status : EFI_NOT_FOUND);
  }

  Backup->Root = Root;
  return TRUE;
}

/** FALSE, with the reason shown, when FileName is taken: an existing file is never touched. **/
BOOLEAN
CheckNameIsFree (
  EEPROM_BACKUP  *Backup
  )
{
  EFI_FILE_PROTOCOL  *Existing = nullptr;
  EFI_STATUS         Status;

  Status = Backup->Root->Open (Backup->Root, &Existing, Backup->Path, EFI_FILE_MODE_READ, 0);
  if (Status == EFI_NOT_FOUND) {
    return TRUE;
  }

  if (EFI_ERROR (Status)) {
    return FailCreate (Backup, Status);
  }

  if ((Existing != nullptr) && EFI_ERROR (Existing->Close (Existing))) {
    Print ("close: fail\r\n");
  }

  Print (" Error: %s already exists, it is not overwritten, exit.\n", Backup->FileName);
  return Fail (Backup, EFI_ACCESS_DENIED);
}

BOOLEAN
CreateBackupFile (
  EEPROM_BACKUP  *Backup
  )
{
  EFI_FILE_PROTOCOL  *File = nullptr;
  EFI_STATUS         Status;

  Status = Backup->Root->Open (Backup->Root, &File, Backup->Path, CREATE_MODE, 0);
  if (EFI_ERROR (Status) || (File == nullptr)) {
    return FailCreate (Backup, EFI_ERROR (Status) ? Status : EFI_DEVICE_ERROR);
  }

  Backup->File = File;
  return TRUE;
}

/** Writes Content into the file, flushes and closes it; FALSE, with the reason shown, when any step fails. **/
BOOLEAN
WriteBackupFile (
  EEPROM_BACKUP  *Backup,
  const UINT8    *Content
  )
{
  EFI_FILE_PROTOCOL  *File = Backup->File;
  UINTN              Size  = EEPROM_SIZE;
  EFI_STATUS         Status;

  Status = File->Write (File, &Size, Content);
  if (EFI_ERROR (Status)) {
    Print (" Error: writing %s failed: %r, exit.\n", Backup->FileName, Status);
    return Fail (Backup, Status);
  }

  //
  // A driver may take less than it was given and still report success; the
  // file then lacks the rest, as on a full volume, and the count says so.
  //
  if (Size != EEPROM_SIZE) {
    Print (" Error: writing %s stopped after %d of %d bytes, exit.\n", Backup->FileName, (UINT32)Size, (UINT32)EEPROM_SIZE);
    return Fail (Backup, EFI_VOLUME_FULL);
  }

  Status = File->Flush (File);
  if (EFI_ERROR (Status)) {
    Print (" Error: flushing %s failed: %r, exit.\n", Backup->FileName, Status);
    return Fail (Backup, Status);
  }

  //
  // Close gives the handle back whatever it answers.
  //
  Backup->File = nullptr;
  Status       = File->Close (File);
  if (EFI_ERROR (Status)) {
    Print (" Error: closing %s failed: %r, exit.\n", Backup->FileName, Status);
    return Fail (Backup, Status);
  }

  return TRUE;
}

/**
  Opens the closed file again and reads it whole into ReadBack (one byte
  more than the E2PROM, so that a longer file shows); FALSE, with the
  reason shown, unless it holds Content byte for byte.
**/
BOOLEAN
CheckBackupFile (
  EEPROM_BACKUP  *Backup,
  const UINT8    *Content,
  UINT8          *ReadBack
  )
{
  EFI_FILE_PROTOCOL  *File = nullptr;
  UINTN              Size  = EEPROM_SIZE + 1;
  BOOLEAN            Same;
  EFI_STATUS         Status;

  Status = Backup->Root->Open (Backup->Root, &File, Backup->Path, EFI_FILE_MODE_READ, 0);
  if (!EFI_ERROR (Status) && (File == nullptr)) {
    Status = EFI_NOT_FOUND;
  }

  if (!EFI_ERROR (Status)) {
    Status = File->Read (File, &Size, ReadBack);
    if (EFI_ERROR (File->Close (File))) {
      Print ("close: fail\r\n");
    }
  }

  if (EFI_ERROR (Status)) {
    Print (" Error: reading %s back failed: %r, exit.\n", Backup->FileName, Status);
    return Fail (Backup, Status);
  }

  Same = (Size == EEPROM_SIZE);
  for (UINTN Index = 0; Same && (Index < EEPROM_SIZE); Index++) {
    Same = (ReadBack[Index] == Content[Index]);
  }

  if (!Same) {
    Print (" Error: %s does not read back as it was written, exit.\n", Backup->FileName);
    return Fail (Backup, EFI_VOLUME_CORRUPTED);
  }

  return TRUE;
}

/**
  Deletes the file this run created, through its open handle, or opened
  again when the handle is already gone. Delete closes the handle whatever
  it answers.
**/
VOID
DeleteIncompleteBackup (
  EEPROM_BACKUP  *Backup
  )
{
  EFI_FILE_PROTOCOL  *File   = Backup->File;
  EFI_STATUS         Status  = EFI_SUCCESS;

  Backup->File = nullptr;
  if (File == nullptr) {
    Status = Backup->Root->Open (Backup->Root, &File, Backup->Path, REOPEN_MODE, 0);
    if (!EFI_ERROR (Status) && (File == nullptr)) {
      Status = EFI_NOT_FOUND;
    }
  }

  if (!EFI_ERROR (Status)) {
    Status = File->Delete (File);
  }

  if (Status == EFI_SUCCESS) {
    Print (" The incomplete backup file was deleted.\n");
  } else {
    Print (" Error: the incomplete backup file %s could not be deleted, do not use it.\n", Backup->FileName);
  }
}

VOID
ShowBackupSaved (
  EEPROM_BACKUP  *Backup,
  const UINT8    *Content
  )
{
  EFI_STATUS  Status = gBS->CalculateCrc32 (Content, EEPROM_SIZE, &Backup->Crc);

  if (EFI_ERROR (Status)) {
    Print (" Backup saved to %s: %d bytes, CRC-32 not available: %r.\n", Backup->FileName, (UINT32)EEPROM_SIZE, Status);
  } else {
    Backup->CrcKnown = TRUE;
    Print (" Backup saved to %s: %d bytes, CRC-32 0x%08X.\n", Backup->FileName, (UINT32)EEPROM_SIZE, Backup->Crc);
  }
}

/** Closes the root directory, the one handle every backup that opened it holds to the end. **/
VOID
ReleaseBackupVolume (
  EEPROM_BACKUP  *Backup
  )
{
  if ((Backup->Root != nullptr) && EFI_ERROR (Backup->Root->Close (Backup->Root))) {
    Print ("close: fail\r\n");
  }

  Backup->Root = nullptr;
}

/** The backup from the created file on; FALSE when the file had to be given up. **/
BOOLEAN
FillBackupFile (
  EEPROM_BACKUP  *Backup,
  UINT8          *Agreed,
  UINT8          *Second
  )
{
  Backup->Read = ReadProvenEeprom (Agreed, Second, &Backup->BytesReread);
  if (Backup->Read != ChipDone) {
    return FALSE;
  }

  return WriteBackupFile (Backup, Agreed) && CheckBackupFile (Backup, Agreed, Second);
}

} // namespace

BOOLEAN
SaveEepromBackup (
  const CHAR16   *FileName,
  EEPROM_BACKUP  *Backup
  )
{
  UINT8    Agreed[EEPROM_SIZE];
  UINT8    Second[EEPROM_SIZE + 1];   // the second pass, then the file read back
  BOOLEAN  Saved = FALSE;

  *Backup          = EEPROM_BACKUP {};
  Backup->FileName = FileName;
  if (OpenBackupVolume (Backup)) {
    if (CheckNameIsFree (Backup) && CreateBackupFile (Backup)) {
      Saved = FillBackupFile (Backup, Agreed, Second);
      if (!Saved) {
        DeleteIncompleteBackup (Backup);
      }
    }

    ReleaseBackupVolume (Backup);
  }

  if (Saved) {
    ShowRetryNote (Backup->BytesReread);
    ShowBackupSaved (Backup, Agreed);
    Backup->Status = EFI_SUCCESS;
  }

  return Saved;
}
