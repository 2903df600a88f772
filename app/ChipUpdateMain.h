/** @file
  The run of the tool: banner, command line, scan, then the version query
  or the update.
**/
#ifndef APP_CHIP_UPDATE_MAIN_H_
#define APP_CHIP_UPDATE_MAIN_H_

#include "platform/Base.h"

/**
  Runs the tool once with the shell's argument list. Returns the exit
  status: EFI_SUCCESS only when the query or the update did what was asked.
**/
EFI_STATUS
ChipUpdateMain (
  UINTN   Argc,
  CHAR16  **Argv
  );

#endif
