/** @file
  File names with a shell mapping, asked of the shell; plain names on the
  first volume; and the line that tells the technician where the tool
  looked.
**/
#include "update/FileVolume.h"
#include "platform/BaseLib.h"
#include "platform/PrintLib.h"
#include "platform/ShellLib.h"
#include "platform/UefiLib.h"

namespace {

constexpr CHAR16  MAPPING_END        = u':';
constexpr CHAR16  MAPPING_SEPARATOR  = u';';   // between the names GetMapFromDevicePath gives one volume
constexpr CHAR16  PATH_SEPARATOR     = u'\\';

/** Copies Length units of Text into Mapping and ends it there; a longer name is cut to MAPPING_NAME_SIZE. **/
VOID
CopyMapping (
  CHAR16        *Mapping,
  const CHAR16  *Text,
  UINTN         Length
  )
{
  if (Length > MAPPING_NAME_SIZE - 1) {
    Length = MAPPING_NAME_SIZE - 1;
  }

  for (UINTN Index = 0; Index < Length; Index++) {
    Mapping[Index] = Text[Index];
  }

  Mapping[Length] = 0;
}

/**
  Copies the mapping Name begins with, its colon included, into Mapping
  (MAPPING_NAME_SIZE units). Returns the path after the colon, or NULL
  when Name begins with no mapping: no colon before its first backslash.
**/
const CHAR16 *
SplitMapping (
  const CHAR16  *Name,
  CHAR16        *Mapping
  )
{
  UINTN  Length = 0;

  while ((Name[Length] != 0) && (Name[Length] != MAPPING_END) && (Name[Length] != PATH_SEPARATOR)) {
    Length++;
  }

  if ((Name[Length] != MAPPING_END) || (Length == 0)) {
    return nullptr;
  }

  CopyMapping (Mapping, Name, Length + 1);
  return Name + Length + 1;
}

/** The volume the shell maps Mapping ("FS1:") to; NULL when none, or no shell to ask. **/
EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *
MappedVolume (
  const CHAR16  *Mapping
  )
{
  EFI_SHELL_PROTOCOL              *Shell      = LocateShell ();
  const EFI_DEVICE_PATH_PROTOCOL  *DevicePath = nullptr;
  EFI_HANDLE                      Handle      = nullptr;
  VOID                            *FileSystem = nullptr;

  if (Shell != nullptr) {
    DevicePath = Shell->GetDevicePathFromMap (Mapping);
  }

  //
  // The handle nearest the mapped device that carries a file system: the
  // volume itself, as the shell's own commands find it.
  //
  if ((DevicePath == nullptr)
      || EFI_ERROR (gBS->LocateDevicePath (&gEfiSimpleFileSystemProtocolGuid, &DevicePath, &Handle))
      || EFI_ERROR (gBS->HandleProtocol (Handle, &gEfiSimpleFileSystemProtocolGuid, &FileSystem)))
  {
    return nullptr;
  }

  return (EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *)FileSystem;
}

} // namespace

EFI_STATUS
LocateFileVolume (
  const CHAR16                     *FileName,
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL  **FileSystem,
  const CHAR16                     **Path
  )
{
  CHAR16      Mapping[MAPPING_NAME_SIZE];
  EFI_STATUS  Status;

  *FileSystem = nullptr;
  *Path       = SplitMapping (FileName, Mapping);
  if (*Path != nullptr) {
    *FileSystem = MappedVolume (Mapping);
    return (*FileSystem != nullptr) ? EFI_SUCCESS : EFI_NOT_FOUND;
  }

  *Path  = FileName;
  Status = gBS->LocateProtocol (&gEfiSimpleFileSystemProtocolGuid, nullptr, (VOID **)FileSystem);
  if (!EFI_ERROR (Status) && (*FileSystem == nullptr)) {
    Status = EFI_NOT_FOUND;
  }

  return Status;
}

VOID
ShowWhereLookedFor (
  const CHAR16                     *FileName,
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL  *FileSystem
  )
{
  CHAR16                           Mapping[MAPPING_NAME_SIZE];
  CHAR16                           FirstName[MAPPING_NAME_SIZE];
  EFI_SHELL_PROTOCOL               *Shell;
  const CHAR16                     *CurrentDir = nullptr;
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL  *Here       = nullptr;
  const CHAR16                     *Base;
  const CHAR8                      *Separator  = "\\";

  if (SplitMapping (FileName, Mapping) != nullptr) {
    if (FileSystem == nullptr) {
      Print (" No volume is mapped as %s (the shell's map command lists them).\n", Mapping);
    }

    return;
  }

  Shell = LocateShell ();
  if ((FileSystem != nullptr) && (Shell != nullptr)) {
    CurrentDir = Shell->GetCurDir (nullptr);
  }

  if ((CurrentDir != nullptr) && (SplitMapping (CurrentDir, Mapping) != nullptr)) {
    Here = MappedVolume (Mapping);
  }

  if ((Here == nullptr) || (Here == FileSystem) || !VolumeMapping (FileSystem, FirstName)) {
    return;
  }

  //
  // The name as the shell's own commands take it from here: a name from
  // the root goes after the mapping, any other after the directory.
  //
  Base = CurrentDir;
  if (FileName[0] == PATH_SEPARATOR) {
    Base      = Mapping;
    Separator = "";
  } else if (CurrentDir[StrLen (CurrentDir) - 1] == PATH_SEPARATOR) {
    Separator = "";
  }

  Print (" Looked on %s (the first volume); from here, name it %s%a%s\n", FirstName, Base, Separator, FileName);
}

BOOLEAN
VolumeMapping (
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL  *FileSystem,
  CHAR16                           *Name
  )
{
  EFI_SHELL_PROTOCOL        *Shell      = LocateShell ();
  UINTN                     HandleCount = 0;
  EFI_HANDLE                *Handles    = nullptr;
  const CHAR16              *Mappings   = nullptr;
  EFI_DEVICE_PATH_PROTOCOL  *DevicePath = nullptr;
  UINTN                     Length      = 0;

  if ((Shell == nullptr) || EFI_ERROR (gBS->LocateHandleBuffer (ByProtocol, &gEfiSimpleFileSystemProtocolGuid, nullptr, &HandleCount, &Handles))) {
    return FALSE;
  }

  for (UINTN Index = 0; (Index < HandleCount) && (Mappings == nullptr); Index++) {
    VOID  *Interface = nullptr;

    if (!EFI_ERROR (gBS->HandleProtocol (Handles[Index], &gEfiSimpleFileSystemProtocolGuid, &Interface))
        && (Interface == FileSystem)
        && !EFI_ERROR (gBS->HandleProtocol (Handles[Index], &gEfiDevicePathProtocolGuid, (VOID **)&DevicePath)))
    {
      Mappings = Shell->GetMapFromDevicePath (&DevicePath);
    }
  }

  if (Handles != nullptr) {
    gBS->FreePool (Handles);
  }

  //
  // "FS0:;F0a65535a:;BLK0:": the short name first. The shell keeps the
  // string on a list of its own and frees it when it ends; freeing it
  // here as well would free it twice.
  //
  if ((Mappings == nullptr) || (Mappings[0] == 0)) {
    return FALSE;
  }

  while ((Mappings[Length] != 0) && (Mappings[Length] != MAPPING_SEPARATOR)) {
    Length++;
  }

  CopyMapping (Name, Mappings, Length);
  return TRUE;
}
