// Simulated FAT volumes: simple file systems, their root directories and
// files, with every handle on the ledger.
#include "tests/firmware/SimFirmware.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

constexpr size_t  FILE_INFO_FIXED_SIZE = __builtin_offsetof (EFI_FILE_INFO, FileName);

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
  const std::u16string  &Name
  );

EFI_STATUS EFIAPI
SimFileOpen (
  EFI_FILE_PROTOCOL  *This,
  EFI_FILE_PROTOCOL  **NewHandle,
  const CHAR16       *FileName,
  UINT64             OpenMode,
  UINT64             Attributes
  )
{
  SimFile         *Dir   = FileOf (This);
  SimFirmware     &Sim   = *Dir->Owner;
  EFI_STATUS      Status = Sim.Enter (Call::Open, OpenMode);
  std::u16string  Name (FileName);

  if (!Dir->IsRoot || (OpenMode != EFI_FILE_MODE_READ) || (Attributes != 0)) {
    Sim.Violation ("Open not read-only from the root directory");
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

  if (Dir->Volume->Files.count (Name) == 0) {
    return EFI_NOT_FOUND;
  }

  *NewHandle = &NewFile (Dir->Volume, false, Name)->Protocol;
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
  const std::vector<uint8_t>  &Data  = File->Volume->Files[File->Name];
  uint64_t                    Count;

  if (EFI_ERROR (Status)) {
    return Status;
  }

  Count = std::min<uint64_t> ({ *BufferSize, Data.size () - File->Position, Sim.ReadDeliversAtMost });
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
  Info->FileSize     = File->Volume->Files[File->Name].size ();
  Info->PhysicalSize = Info->FileSize;
  std::memcpy (Info->FileName, File->Name.c_str (), (File->Name.size () + 1) * sizeof (CHAR16));
  *BufferSize = Needed;
  return EFI_SUCCESS;
}

SimFile *
NewFile (
  SimVolume             *Volume,
  bool                  IsRoot,
  const std::u16string  &Name
  )
{
  auto  File = std::make_unique<SimFile> ();

  File->Protocol          = EFI_FILE_PROTOCOL {};
  File->Protocol.Revision = 0x00010000;
  File->Protocol.Open     = SimFileOpen;
  File->Protocol.Close    = SimFileClose;
  File->Protocol.Read     = SimFileRead;
  File->Protocol.GetInfo  = SimFileGetInfo;
  File->Owner             = Volume->Owner;
  File->Volume            = Volume;
  File->IsRoot            = IsRoot;
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
  auto  Volume = std::make_unique<SimVolume> ();

  Volume->Protocol            = EFI_SIMPLE_FILE_SYSTEM_PROTOCOL {};
  Volume->Protocol.Revision   = 0x00010000;
  Volume->Protocol.OpenVolume = SimOpenVolume;
  Volume->Owner               = this;
  Handles.push_back ({ NewHandle (), gEfiSimpleFileSystemProtocolGuid, &Volume->Protocol, false });
  Volumes.push_back (std::move (Volume));
  return (int)Volumes.size () - 1;
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

const std::vector<uint8_t> &
SimFirmware::FileData (
  int                   Volume,
  const std::u16string  &Name
  )
{
  return Volumes[(size_t)Volume]->Files[Name];
}

} // namespace sim
