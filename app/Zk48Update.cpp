/** @file
  The application's entry: the shell's argument list, then the run.
**/
#include "app/ChipUpdateMain.h"
#include "platform/ShellParameters.h"
#include "platform/UefiLib.h"

namespace {

/**
  Takes the argument list from the shell, through the current interface or
  the older one. Returns the status of the open that decided: success, or
  the older interface's failure with *Argc left 0.
**/
EFI_STATUS
GetArguments (
  UINTN   *Argc,
  CHAR16  ***Argv
  )
{
  EFI_SHELL_PARAMETERS_PROTOCOL  *Parameters = nullptr;
  EFI_SHELL_INTERFACE            *Interface  = nullptr;
  EFI_STATUS                     Status;

  Status = gBS->OpenProtocol (
                  gImageHandle,
                  &gEfiShellParametersProtocolGuid,
                  (VOID **)&Parameters,
                  gImageHandle,
                  nullptr,
                  EFI_OPEN_PROTOCOL_GET_PROTOCOL
                  );
  if (!EFI_ERROR (Status) && (Parameters != nullptr)) {
    *Argc = Parameters->Argc;
    *Argv = Parameters->Argv;
    return Status;
  }

  Status = gBS->OpenProtocol (
                  gImageHandle,
                  &gEfiShellInterfaceGuid,
                  (VOID **)&Interface,
                  gImageHandle,
                  nullptr,
                  EFI_OPEN_PROTOCOL_GET_PROTOCOL
                  );
  if (!EFI_ERROR (Status) && (Interface != nullptr)) {
    *Argc = Interface->Argc;
    *Argv = Interface->Argv;
    return Status;
  }

  return EFI_ERROR (Status) ? Status : EFI_NOT_FOUND;
}

} // namespace

EFI_STATUS
UefiMain (
  EFI_HANDLE        ImageHandle,
  EFI_SYSTEM_TABLE  *SystemTable
  )
{
  UINTN       Argc = 0;
  CHAR16      **Argv = nullptr;
  EFI_STATUS  ArgumentStatus;
  EFI_STATUS  RunStatus;

  (VOID)ImageHandle;
  (VOID)SystemTable;
  ArgumentStatus = GetArguments (&Argc, &Argv);
  RunStatus      = ChipUpdateMain (Argc, Argv);
  return EFI_ERROR (ArgumentStatus) ? ArgumentStatus : RunStatus;
}
