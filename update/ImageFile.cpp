/** @file
  The image load: locate, open, size, read, check; and its one release step.
**/
#include "update/ImageFile.h"
#include "chip/TconChip.h"
#include "platform/PrintLib.h"
#include "platform/UefiLib.h"
#include "update/FileVolume.h"

namespace {

// A record shorter than the fixed part of EFI_FILE_INFO cannot hold a file size.
constexpr UINTN  FILE_INFO_MIN_SIZE = __builtin_offsetof (EFI_FILE_INFO, FileName);

/**
  Ends the load with Status. A device error or a timeout of the volume
  ends it with EFI_LOAD_ERROR instead: a script takes those two for the
  chip's, which may have been written, and no load writes it.
**/
BOOLEAN
FailLoad (
  CHIP_IMAGE_FILE  *ImageFile,
  EFI_STATUS       Status
  )
{
  ImageFile->Status = ((Status == EFI_DEVICE_ERROR) || (Status == EFI_TIMEOUT)) ? EFI_LOAD_ERROR : Status;
  ReleaseImageFile (ImageFile);
  return FALSE;
}

/** A name that cannot be opened, and, when it was not found, where it was looked for. **/
EFI_STATUS
FailOpen (
  const CHAR16                     *FileName,
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL  *FileSystem,
  EFI_STATUS                       Status
  )
{
  Print ("open: fail_%r\r\n", Status);
  if (Status == EFI_NOT_FOUND) {
    ShowWhereLookedFor (FileName, FileSystem);
  }

  return Status;
}

EFI_STATUS
OpenImage (
  const CHAR16     *FileName,
  CHIP_IMAGE_FILE  *ImageFile
  )
{
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL  *FileSystem = nullptr;
  EFI_FILE_PROTOCOL                *Root       = nullptr;
  EFI_FILE_PROTOCOL                *File       = nullptr;
  const CHAR16                     *Path       = nullptr;
  EFI_STATUS                       Status;

  //
  // A mapping that names no volume is a name that cannot be opened; no
  // first volume at all is the firmware's lack.
  //
  Status = LocateFileVolume (FileName, &FileSystem, &Path);
  if (EFI_ERROR (Status) && (Path != FileName)) {
    return FailOpen (FileName, nullptr, Status);
  }

  if (EFI_ERROR (Status)) {
    Print ("locate protocol: fail\r\n");
    return Status;
  }

  ImageFile->FileSystem = FileSystem;
  Status                = FileSystem->OpenVolume (FileSystem, &Root);
  if (EFI_ERROR (Status) || (Root == nullptr)) {
    Print ("open volume: fail\r\n");
    return EFI_ERROR (Status) ? Status : EFI_NOT_FOUND;
  }

  ImageFile->Root = Root;
  Status          = Root->Open (Root, &File, Path, EFI_FILE_MODE_READ, 0);
  if (EFI_ERROR (Status)) {
    return FailOpen (FileName, FileSystem, Status);
  }

  if (File == nullptr) {
    return EFI_NOT_FOUND;
  }

  ImageFile->File = File;
  return EFI_SUCCESS;
}

/** Learns the file's length from its information record, asked for twice. **/
EFI_STATUS
ReadFileSize (
  CHIP_IMAGE_FILE  *ImageFile
  )
{
  EFI_FILE_INFO  *FileInfo = nullptr;
  UINTN          InfoSize  = 0;
  EFI_STATUS     Status;

  Status = ImageFile->File->GetInfo (ImageFile->File, &gEfiFileInfoGuid, &InfoSize, nullptr);
  if (Status != EFI_BUFFER_TOO_SMALL) {
    return EFI_ERROR (Status) ? Status : EFI_DEVICE_ERROR;
  }

  ImageFile->FileInfoSize = InfoSize;
  if (InfoSize < FILE_INFO_MIN_SIZE) {
    return EFI_DEVICE_ERROR;
  }

  Status = gBS->AllocatePool (EfiBootServicesData, InfoSize, (VOID **)&FileInfo);
  if (EFI_ERROR (Status) || (FileInfo == nullptr)) {
    return EFI_ERROR (Status) ? Status : EFI_OUT_OF_RESOURCES;
  }

  ImageFile->FileInfo = FileInfo;
  Status              = ImageFile->File->GetInfo (ImageFile->File, &gEfiFileInfoGuid, &ImageFile->FileInfoSize, FileInfo);
  if (EFI_ERROR (Status)) {
    return Status;
  }

  ImageFile->FileSize = FileInfo->FileSize;
  return EFI_SUCCESS;
}

EFI_STATUS
ReadImage (
  CHIP_IMAGE_FILE  *ImageFile
  )
{
  UINT8       *Image   = nullptr;
  UINTN       ReadSize = ImageFile->FileSize;
  EFI_STATUS  Status;

  Status = gBS->AllocatePool (EfiBootServicesData, ImageFile->FileSize, (VOID **)&Image);
  if (EFI_ERROR (Status) || ((Image == nullptr) && (ImageFile->FileSize != 0))) {
    Print ("Allocate buffer size fail\r\n");
    return EFI_ERROR (Status) ? Status : EFI_OUT_OF_RESOURCES;
  }

  ImageFile->Image = Image;
  Status           = ImageFile->File->Read (ImageFile->File, &ReadSize, Image);
  if (EFI_ERROR (Status)) {
    Print ("Read file fail\r\n");
    return Status;
  }

  ImageFile->ImageSize = ReadSize;
  return EFI_SUCCESS;
}

} // namespace

BOOLEAN
LoadImageFile (
  const CHAR16     *FileName,
  CHIP_IMAGE_FILE  *ImageFile
  )
{
  EFI_STATUS  Status;

  *ImageFile = CHIP_IMAGE_FILE {};
  Print (" Image name is: %s", FileName);

  Status = OpenImage (FileName, ImageFile);
  if (EFI_ERROR (Status)) {
    return FailLoad (ImageFile, Status);
  }

  Status = ReadFileSize (ImageFile);
  if (EFI_ERROR (Status)) {
    Print ("Get file info fail\r\n");
    return FailLoad (ImageFile, Status);
  }

  Print (" FileSize:%dKB\r\n", (INT32)(ImageFile->FileSize >> 10));
  Status = ReadImage (ImageFile);
  if (EFI_ERROR (Status)) {
    return FailLoad (ImageFile, Status);
  }

  //
  // A count larger than the buffer would be a firmware fault; it is refused
  // like any other wrong size.
  //
  if ((ImageFile->ImageSize != EEPROM_SIZE) || (ImageFile->ImageSize > ImageFile->FileSize)) {
    Print (" File size %d is not right, must be 8k Byte,exit.\n", (INT32)ImageFile->ImageSize);
    return FailLoad (ImageFile, EFI_BAD_BUFFER_SIZE);
  }

  ImageFile->Status = EFI_SUCCESS;
  return TRUE;
}

VOID
ReleaseImageFile (
  CHIP_IMAGE_FILE  *ImageFile
  )
{
  if (ImageFile->Image != nullptr) {
    gBS->FreePool (ImageFile->Image);
    ImageFile->Image = nullptr;
  }

  if (ImageFile->FileInfo != nullptr) {
    gBS->FreePool (ImageFile->FileInfo);
    ImageFile->FileInfo = nullptr;
  }

  if (ImageFile->File != nullptr) {
    if (EFI_ERROR (ImageFile->File->Close (ImageFile->File))) {
      Print ("close: fail\r\n");
    }

    ImageFile->File = nullptr;
  }

  if (ImageFile->Root != nullptr) {
    if (EFI_ERROR (ImageFile->Root->Close (ImageFile->Root))) {
      Print ("close: fail\r\n");
    }

    ImageFile->Root = nullptr;
  }
}
