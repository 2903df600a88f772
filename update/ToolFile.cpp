/** @file
  Opening a named file on the volume its name gives.
**/
#include "update/ToolFile.h"
#include "platform/PrintLib.h"
#include "update/FileVolume.h"

EFI_STATUS
OpenToolFile (
  const CHAR16       *Name,
  UINT64             Mode,
  EFI_FILE_PROTOCOL  **File
  )
{
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL  *FileSystem = nullptr;
  EFI_FILE_PROTOCOL                *Root       = nullptr;
  const CHAR16                     *Path       = nullptr;
  EFI_STATUS                       Status;

  *File  = nullptr;
  Status = LocateFileVolume (Name, &FileSystem, &Path);
  if (!EFI_ERROR (Status) && (FileSystem != nullptr)) {
    Status = FileSystem->OpenVolume (FileSystem, &Root);
  }

  if (EFI_ERROR (Status) || (FileSystem == nullptr) || (Root == nullptr)) {
    return EFI_ERROR (Status) ? Status : EFI_NOT_FOUND;
  }

  //
  // The file stays open on its own once the root is closed.
  //
  Status = Root->Open (Root, File, Path, Mode, 0);
  if (!EFI_ERROR (Status) && (*File == nullptr)) {
    Status = EFI_NOT_FOUND;
  }

  if (EFI_ERROR (Status)) {
    *File = nullptr;
  }

  if (EFI_ERROR (Root->Close (Root))) {
    Print ("close: fail\r\n");
  }

  return Status;
}
