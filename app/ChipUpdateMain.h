/** @file
  The run of the tool: banner, command line, scan, then the version query
  or the update.
**/
#ifndef APP_CHIP_UPDATE_MAIN_H_
#define APP_CHIP_UPDATE_MAIN_H_

#include "platform/Base.h"

constexpr INT32  TOOL_MAJOR_VERSION    = 2;
constexpr INT32  TOOL_MINOR_VERSION    = 7;
constexpr INT32  TOOL_REVISION_VERSION = 2;

/**
  Runs the tool once with its argument list, from the shell or from the
  load options of its boot entry; IgnoredLoadOptions is the size of load
  options that were no command line, 0 when there were none. Returns the
  exit status: EFI_SUCCESS only when the command did what was asked and
  its record, when -l asked for one, was written.
**/
EFI_STATUS
ChipUpdateMain (
  UINTN   Argc,
  CHAR16  **Argv,
  UINT32  IgnoredLoadOptions
  );

#endif
