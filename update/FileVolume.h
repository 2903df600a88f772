/** @file
  Which volume a file name is on. A name that begins with a mapping the
  shell knows ("fs1:\images\panel.bin", "FS1:panel.bin", "HD0a0b:x.bin")
  names that volume, and the path after the colon is taken from its root.
  Any other name is a path from the root of the first file-system volume
  the firmware offers, whatever the shell's current directory: factory
  scripts rely on that.
**/
#ifndef UPDATE_FILE_VOLUME_H_
#define UPDATE_FILE_VOLUME_H_

#include "platform/Base.h"
#include "platform/SimpleFileSystem.h"

// A mapping name in UTF-16 units, colon and terminator included: the shell's consistent names fit.
constexpr UINTN  MAPPING_NAME_SIZE = 64;

/**
  Finds the volume FileName is on. *Path receives the name to open on it
  (FileName itself for a plain name), found or not. Returns EFI_SUCCESS
  with *FileSystem set, or why not: for a plain name the firmware's
  status; EFI_NOT_FOUND for a mapping that names no volume, or no shell to
  ask. Prints nothing.
**/
EFI_STATUS
LocateFileVolume (
  const CHAR16                     *FileName,
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL  **FileSystem,
  const CHAR16                     **Path
  );

/**
  Shows, after FileName could not be found, the line that says where it was
  looked for when that is not what the technician may think: a mapping
  that names no volume (FileSystem NULL), or a plain name looked for on the
  first volume (FileSystem) while the shell's current directory is on
  another. Prints nothing otherwise.
**/
VOID
ShowWhereLookedFor (
  const CHAR16                     *FileName,
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL  *FileSystem
  );

/**
  Copies the shell's name for the volume FileSystem ("FS0:", the first of
  its mappings) into Name, MAPPING_NAME_SIZE units. Returns FALSE, Name
  untouched, when there is no shell or the shell maps no name to it.
**/
BOOLEAN
VolumeMapping (
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL  *FileSystem,
  CHAR16                           *Name
  );

#endif
