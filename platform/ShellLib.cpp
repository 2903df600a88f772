/** @file
  The shell's protocol, and shell variables set through it.
**/
#include "platform/ShellLib.h"
#include "platform/UefiLib.h"

EFI_SHELL_PROTOCOL *
LocateShell (
  )
{
  EFI_SHELL_PROTOCOL  *Shell = nullptr;

  if (EFI_ERROR (gBS->LocateProtocol (&gEfiShellProtocolGuid, nullptr, (VOID **)&Shell))) {
    return nullptr;
  }

  return Shell;
}

VOID
SetShellVariableValues (
  const CHAR8  *Format,
  ...
  )
{
  EFI_SHELL_PROTOCOL  *Shell = LocateShell ();
  CHAR16              Text[SHELL_VARIABLE_MAX_CHARACTERS + 1];
  CHAR16              *Value = Text;
  __builtin_va_list   Values;

  if (Shell == nullptr) {
    return;
  }

  __builtin_va_start (Values, Format);
  FormatValues (Text, SHELL_VARIABLE_MAX_CHARACTERS + 1, Format, Values);
  __builtin_va_end (Values);
  while ((*Value != 0) && (*Value != u'=')) {
    Value++;
  }

  if (*Value == 0) {
    return;
  }

  //
  // Like the console's, its status is not examined: the screen has said
  // it all, and a script that finds the variable empty says so in turn.
  //
  *Value++ = 0;
  Shell->SetEnv (Text, Value, TRUE);
}
