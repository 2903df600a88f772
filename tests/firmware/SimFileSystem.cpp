// Simulated FAT volumes: simple file systems, their root directories and
// files, with every handle on the ledger.
#include "tests/firmware/SimFirmware.h"

#include <algorithm>
#include <cstring>

#include "tests/firmware/FirmwareCodes.h"

namespace harness {

namespace {

constexpr size_t    FILE_INFO_FIXED_SIZE = __builtin_offsetof (EFI_FILE_INFO, FileName);
constexpr uint64_t  EFI_FILE_DIRECTORY   = 0x10;

SimFile *
FileOf (
  EFI_FILE_PROTOCOL  *This
  )
{
  SimFile  *File = (SimFile *)This;

  if (!File->IsOpen) {
    File->Owner->Violation ("call on a closed file handle");
  }

  return File;
}

SimFile *
NewFile (
  SimVolume             *Volume,
  bool                  IsRoot,
  const std::u16string  &Name,
  bool                  Writable = false
  );

// A directory reads as no bytes here; the tool never lists one.
const std::vector<uint8_t> &
ContentOf (
  const SimFile  &File
  )
{
  static const std::vector<uint8_t>  NoContent;
  auto                               Entry = File.Volume->Files.find (File.Name);

  return (File.IsDirectory || (Entry == File.Volume->Files.end ())) ? NoContent : Entry->second;
}

bool
IsDirectory (
  const SimVolume       &Volume,
  const std::u16string  &Name
  )
{
  return std::find (Volume.Directories.begin (), Volume.Directories.end (), Name) != Volume.Directories.end ();
}

// The open modes the standard allows: read, read-write, read-write-create.
bool
IsValidOpenMode (
  UINT64  OpenMode
  )
{
  return (OpenMode == code::FILE_MODE_READ) || (OpenMode == (code::FILE_MODE_READ | code::FILE_MODE_WRITE))
         || (OpenMode == (code::FILE_MODE_READ | code::FILE_MODE_WRITE | code::FILE_MODE_CREATE));
}

EFI_STATUS EFIAPI
SimFileOpen (
  EFI_FILE_PROTOCOL  *This,
  EFI_FILE_PROTOCOL  **NewHandle,
  const CHAR16       *FileName,
  UINT64             OpenMode,
  UINT64             Attributes
  )
{
  SimFile         *Dir    = FileOf (This);
  SimFirmware     &Sim    = *Dir->Owner;
  EFI_STATUS      Status  = Sim.Enter (Call::Open, OpenMode);
  SimVolume       &Volume = *Dir->Volume;
  bool            Write   = (OpenMode & code::FILE_MODE_WRITE) != 0;
  std::u16string  Name (FileName);

  if (!Dir->IsRoot || !IsValidOpenMode (OpenMode) || (Attributes != 0)) {
    Sim.Violation ("Open not from the root directory with a valid mode and no attributes");
  }

  if (EFI_ERROR (Status)) {
    return Status;
  }

  if (Sim.OpenReturnsNoHandle) {
    return EFI_SUCCESS;
  }

  if (!Name.empty () && (Name[0] == u'\\')) {
    Name.erase (0, 1);
  }

  if ((Volume.Files.count (Name) == 0) && !IsDirectory (Volume, Name)) {
    if ((OpenMode & code::FILE_MODE_CREATE) == 0) {
      return EFI_NOT_FOUND;
    }

    if (Volume.ReadOnly) {
      return EFI_WRITE_PROTECTED;
    }

    Volume.Files[Name] = {};
  } else if (Write && (Volume.ReadOnly || IsDirectory (Volume, Name))) {
    return Volume.ReadOnly ? EFI_WRITE_PROTECTED : EFI_ACCESS_DENIED;
  }

  *NewHandle = &NewFile (&Volume, false, Name, Write)->Protocol;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI
SimFileWrite (
  EFI_FILE_PROTOCOL  *This,
  UINTN              *BufferSize,
  const VOID         *Buffer
  )
{
  SimFile               *File  = FileOf (This);
  SimFirmware           &Sim   = *File->Owner;
  EFI_STATUS            Status = Sim.Enter (Call::Write);
  std::vector<uint8_t>  &Data  = File->Volume->Files[File->Name];
  uint64_t              Count;

  if (!File->Writable || File->IsDirectory || ((*BufferSize > 0) && (Buffer == nullptr))) {
    Sim.Violation ("Write to a handle not open for writing, or from no buffer");
    return EFI_ACCESS_DENIED;
  }

  if (EFI_ERROR (Status)) {
    *BufferSize = 0;
    return Status;
  }

  //
  // A full volume takes what fits and says so, as FAT drivers do; a short
  // rule makes a driver that takes less and says nothing.
  //
  Count = std::min<uint64_t> (*BufferSize, File->Volume->FreeBytes);
  if (Sim.TakeDeliverable (Count) < Count) {
    Count       = Sim.TakeDeliverable (Count);
    *BufferSize = Count;
  }

  if (Data.size () < File->Position + Count) {
    Data.resize (File->Position + Count);
  }

  std::memcpy (Data.data () + File->Position, Buffer, Count);
  if ((File->Volume->CorruptOffset >= File->Position) && (File->Volume->CorruptOffset < File->Position + Count)) {
    Data[File->Volume->CorruptOffset] ^= 0xFF;
    File->Volume->CorruptOffset        = UINT64_MAX;
  }

  File->Position            += Count;
  File->Volume->FreeBytes   -= (File->Volume->FreeBytes == UINT64_MAX) ? 0 : Count;
  Status                     = (Count < *BufferSize) ? EFI_VOLUME_FULL : EFI_SUCCESS;
  *BufferSize                = Count;
  return Status;
}

EFI_STATUS EFIAPI
SimFileFlush (
  EFI_FILE_PROTOCOL  *This
  )
{
  SimFile  *File = FileOf (This);

  if (!File->Writable) {
    File->Owner->Violation ("Flush of a handle not open for writing");
  }

  return File->Owner->Enter (Call::Flush);
}

EFI_STATUS EFIAPI
SimFileDelete (
  EFI_FILE_PROTOCOL  *This
  )
{
  SimFile     *File  = FileOf (This);
  EFI_STATUS  Status = File->Owner->Enter (Call::Delete);

  if (!File->Writable) {
    File->Owner->Violation ("Delete of a handle not open for writing");
  }

  //
  // Delete closes the handle whatever becomes of the file.
  //
  File->IsOpen = false;
  if (Status != EFI_SUCCESS) {
    return EFI_WARN_DELETE_FAILURE;
  }

  File->Volume->Files.erase (File->Name);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI
SimFileClose (
  EFI_FILE_PROTOCOL  *This
  )
{
  SimFile     *File  = (SimFile *)This;
  EFI_STATUS  Status = File->Owner->Enter (Call::Close);

  if (!File->IsOpen) {
    File->Owner->Violation ("Close of a handle already closed");
  }

  //
  // The handle is gone even when Close reports an error: the standard
  // says Close always closes.
  //
  File->IsOpen = false;
  return Status;
}

EFI_STATUS EFIAPI
SimFileRead (
  EFI_FILE_PROTOCOL  *This,
  UINTN              *BufferSize,
  VOID               *Buffer
  )
{
  SimFile                     *File  = FileOf (This);
  SimFirmware                 &Sim   = *File->Owner;
  EFI_STATUS                  Status = Sim.Enter (Call::Read);
  const std::vector<uint8_t>  &Data  = ContentOf (*File);
  uint64_t                    Count;

  if (EFI_ERROR (Status)) {
    return Status;
  }

  Count = Sim.TakeDeliverable (std::min<uint64_t> (*BufferSize, Data.size () - File->Position));
  if ((Count > 0) && (Buffer == nullptr)) {
    Sim.Violation ("Read into no buffer");
    return EFI_INVALID_PARAMETER;
  }

  if (Count > 0) {
    std::memcpy (Buffer, Data.data () + File->Position, Count);
  }

  File->Position += Count;
  *BufferSize     = Count;
  return EFI_SUCCESS;
}

//
// The end of the file is asked for with all bits set; a directory can only
// be started over from its first entry.
//
EFI_STATUS EFIAPI
SimFileSetPosition (
  EFI_FILE_PROTOCOL  *This,
  UINT64             Position
  )
{
  SimFile     *File  = FileOf (This);
  EFI_STATUS  Status = File->Owner->Enter (Call::SetPosition);

  if (EFI_ERROR (Status)) {
    return Status;
  }

  if (File->IsDirectory) {
    return (Position == 0) ? EFI_SUCCESS : EFI_UNSUPPORTED;
  }

  File->Position = (Position == UINT64_MAX) ? ContentOf (*File).size () : Position;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI
SimFileGetInfo (
  EFI_FILE_PROTOCOL  *This,
  const EFI_GUID     *InformationType,
  UINTN              *BufferSize,
  VOID               *Buffer
  )
{
  SimFile        *File  = FileOf (This);
  SimFirmware    &Sim   = *File->Owner;
  EFI_STATUS     Status = Sim.Enter (Call::GetInfo);
  size_t         Needed = FILE_INFO_FIXED_SIZE + (File->Name.size () + 1) * sizeof (CHAR16);
  EFI_FILE_INFO  *Info;

  if (std::memcmp (InformationType, &gEfiFileInfoGuid, sizeof (EFI_GUID)) != 0) {
    Sim.Violation ("GetInfo for another information type");
    return EFI_UNSUPPORTED;
  }

  if (EFI_ERROR (Status)) {
    return Status;
  }

  if (*BufferSize < Needed) {
    if (Sim.GetInfoSucceedsEmpty) {
      return EFI_SUCCESS;
    }

    //
    // A claimed size too small for the record is answered the same way
    // again when the tool asks with it: nothing is written past its buffer.
    //
    *BufferSize = (Sim.GetInfoClaimsSize != 0) ? Sim.GetInfoClaimsSize : Needed;
    return EFI_BUFFER_TOO_SMALL;
  }

  Info = (EFI_FILE_INFO *)Buffer;
  std::memset (Info, 0, Needed);
  Info->Size         = Needed;
  Info->FileSize     = ContentOf (*File).size ();
  Info->Attribute    = File->IsDirectory ? EFI_FILE_DIRECTORY : 0;
  Info->PhysicalSize = Info->FileSize;
  std::memcpy (Info->FileName, File->Name.c_str (), (File->Name.size () + 1) * sizeof (CHAR16));
  *BufferSize = Needed;
  return EFI_SUCCESS;
}

SimFile *
NewFile (
  SimVolume             *Volume,
  bool                  IsRoot,
  const std::u16string  &Name,
  bool                  Writable
  )
{
  auto  File = std::make_unique<SimFile> ();

  File->Protocol          = EFI_FILE_PROTOCOL {};
  File->Protocol.Revision = 0x00010000;
  File->Protocol.Open     = SimFileOpen;
  File->Protocol.Close    = SimFileClose;
  File->Protocol.Read     = SimFileRead;
  File->Protocol.GetInfo  = SimFileGetInfo;
  File->Protocol.Write    = SimFileWrite;
  File->Protocol.Flush    = SimFileFlush;
  File->Protocol.Delete   = SimFileDelete;
  File->Protocol.SetPosition = SimFileSetPosition;
  File->Owner             = Volume->Owner;
  File->Volume            = Volume;
  File->IsRoot            = IsRoot;
  File->IsDirectory       = IsRoot || IsDirectory (*Volume, Name);
  File->Writable          = Writable;
  File->Name              = Name;
  File->Position          = 0;
  File->IsOpen            = true;
  Volume->Owner->Files.push_back (std::move (File));
  return Volume->Owner->Files.back ().get ();
}

EFI_STATUS EFIAPI
SimOpenVolume (
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL  *This,
  EFI_FILE_PROTOCOL                **Root
  )
{
  SimVolume   *Volume = (SimVolume *)This;
  EFI_STATUS  Status  = Volume->Owner->Enter (Call::OpenVolume);

  if (EFI_ERROR (Status)) {
    return Status;
  }

  *Root = &NewFile (Volume, true, u"")->Protocol;
  return EFI_SUCCESS;
}

} // namespace

int
SimFirmware::AddVolume (
  )
{
  auto        Volume = std::make_unique<SimVolume> ();
  int         Index  = (int)Volumes.size ();
  EFI_HANDLE  Handle = NewHandle ();

  Volume->Protocol            = EFI_SIMPLE_FILE_SYSTEM_PROTOCOL {};
  Volume->Protocol.Revision   = 0x00010000;
  Volume->Protocol.OpenVolume = SimOpenVolume;
  Volume->Owner               = this;
  Volume->DevicePath          = DiskDevicePath (Index);
  Handles.push_back ({ Handle, gEfiSimpleFileSystemProtocolGuid, &Volume->Protocol, false });
  Handles.push_back ({ Handle, gEfiDevicePathProtocolGuid, Volume->DevicePath.data (), false });
  Volumes.push_back (std::move (Volume));
  Shell->Mappings.push_back ({ u"FS" + Utf16 (std::to_string (Index)) + u":", Index });
  Shell->Mappings.push_back ({ u"F0" + std::u16string (1, (char16_t)(u'a' + Index)) + u"65535a:", Index });
  return Index;
}

void
SimFirmware::AddFile (
  int                         Volume,
  const std::u16string        &Name,
  const std::vector<uint8_t>  &Data
  )
{
  Volumes[(size_t)Volume]->Files[Name] = Data;
}

void
SimFirmware::AddDirectory (
  int                   Volume,
  const std::u16string  &Name
  )
{
  Volumes[(size_t)Volume]->Directories.push_back (Name);
}

bool
SimFirmware::HasFile (
  int                   Volume,
  const std::u16string  &Name
  ) const
{
  return Volumes[(size_t)Volume]->Files.count (Name) != 0;
}

const std::vector<uint8_t> &
SimFirmware::FileData (
  int                   Volume,
  const std::u16string  &Name
  )
{
  return Volumes[(size_t)Volume]->Files[Name];
}

} // namespace harness
