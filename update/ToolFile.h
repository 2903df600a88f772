/** @file
  Where a file the tool is given by name is opened: the one rule for every
  name on the command line.
**/
#ifndef UPDATE_TOOL_FILE_H_
#define UPDATE_TOOL_FILE_H_

#include "platform/Base.h"
#include "platform/SimpleFileSystem.h"

/**
  Opens Name in Mode on the volume it names, as every file named on the
  command line is (LocateFileVolume: a shell mapping, or the first
  file-system volume). Returns the firmware's status, EFI_NOT_FOUND for a
  mapping that names no volume; on success *File is open and the caller
  closes it.
**/
EFI_STATUS
OpenToolFile (
  const CHAR16       *Name,
  UINT64             Mode,
  EFI_FILE_PROTOCOL  **File
  );

#endif
