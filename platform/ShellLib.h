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
  Formats Format ("NAME=value ...") as Print does, its arguments following
  it as FormatValues takes them, and sets the volatile shell variable NAME
  to the rest. Without a shell, nothing is set.
**/
VOID
SetShellVariableValues (
  const CHAR8  *Format,
  ...
  );

/** Checked and passed on as Print's formats and arguments are. **/
template <typename... ARGS>
[[gnu::always_inline]] inline VOID
SetShellVariable (
  PRINT_FORMAT<typename TYPE_IDENTITY<ARGS>::THE_TYPE...>  Format,
  ARGS...                                                  Args
  )
{
  static_assert (sizeof...(ARGS) <= PRINT_MAX_ARGS, "at most PRINT_MAX_ARGS arguments");
  SetShellVariableValues (Format.Text, PrintValue (Args)...);
}

#endif
