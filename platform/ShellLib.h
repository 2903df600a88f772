/** @file
  The UEFI Shell the tool runs under, and the shell variables a script
  reads after it: what a run found, in a few words, beside the exit status.
**/
#ifndef PLATFORM_SHELL_LIB_H_
#define PLATFORM_SHELL_LIB_H_

#include "platform/PrintLib.h"
#include "platform/Shell.h"

// The longest "NAME=value", in characters: a few words for a script's line.
constexpr UINTN  SHELL_VARIABLE_MAX_CHARACTERS = 79;

/** The shell's protocol; NULL when the tool runs under no shell that has one. **/
EFI_SHELL_PROTOCOL *
LocateShell (
  );

/**
  Formats Format ("NAME=value ...") with First and Second, as Print does,
  and sets the volatile shell variable NAME to the rest. Without a shell,
  nothing is set.
**/
VOID
SetShellVariableArgs (
  const CHAR8  *Format,
  UINT32       First,
  UINT32       Second
  );

//
// Checked like Print's formats; no more than two 32-bit numbers, so that a
// call costs a few instructions, not an argument list of its own.
//
inline VOID
SetShellVariable (
  PRINT_FORMAT<>  Format
  )
{
  SetShellVariableArgs (Format.Text, 0, 0);
}

inline VOID
SetShellVariable (
  PRINT_FORMAT<UINT32>  Format,
  UINT32                Value
  )
{
  SetShellVariableArgs (Format.Text, Value, 0);
}

inline VOID
SetShellVariable (
  PRINT_FORMAT<UINT32, UINT32>  Format,
  UINT32                        First,
  UINT32                        Second
  )
{
  SetShellVariableArgs (Format.Text, First, Second);
}

#endif
