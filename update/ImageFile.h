/** @file
  Loading the chip image from the volume its name is on (update/FileVolume.h),
  and giving back everything the load obtained.
**/
#ifndef UPDATE_IMAGE_FILE_H_
#define UPDATE_IMAGE_FILE_H_

#include "platform/Base.h"
#include "platform/SimpleFileSystem.h"

//
// What a load obtained. A handle or buffer field is set only when the call
// that produces it succeeded; the release step gives back exactly those.
//
struct CHIP_IMAGE_FILE {
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL    *FileSystem;
  EFI_FILE_PROTOCOL                  *Root;
  EFI_FILE_PROTOCOL                  *File;
  UINTN                              FileInfoSize;
  EFI_FILE_INFO                      *FileInfo;
  UINT64                             FileSize;
  UINT8                              *Image;
  UINTN                              ImageSize;
  EFI_STATUS                         Status;      // why the load ended; EFI_SUCCESS once loaded
};

/**
  Opens FileName on its volume (a plain name: on the first one) and reads it whole.
  Returns TRUE when exactly one chip image was read; the caller then owes a
  ReleaseImageFile. FALSE: the reason is on the console and in
  ImageFile->Status, and everything has been given back.
**/
BOOLEAN
LoadImageFile (
  const CHAR16     *FileName,
  CHIP_IMAGE_FILE  *ImageFile
  );

/** Frees the buffers and closes the handles that ImageFile holds, once. **/
VOID
ReleaseImageFile (
  CHIP_IMAGE_FILE  *ImageFile
  );

#endif
