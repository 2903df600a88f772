/** @file
  The application's entry: the shell's argument list, or without a shell
  the load options of the boot entry that started the tool, then the run.
**/
#include "app/ChipUpdateMain.h"
#include "platform/LoadOptions.h"
#include "platform/PrintLib.h"
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

// Long enough to read the last lines, short enough for no one to wait for.
constexpr UINTN  RESTART_PAUSE_US = 5000000;

/**
  A run started by a boot entry's command line (a one-shot BootNext from the
  operating system) restarts the machine when it is done, so that it boots
  back into its system: after a program that succeeded, a firmware may stop
  in its boot menu and wait for a key no one will press. The record is
  written and closed by then.
**/
VOID
RestartMachine (
  EFI_STATUS  RunStatus
  )
{
  Print (" Restarting the machine in 5 seconds.\n");
  gBS->Stall (RESTART_PAUSE_US);
  gRT->ResetSystem (EfiResetCold, RunStatus, 0, nullptr);
}

} // namespace

EFI_STATUS
UefiMain (
  EFI_HANDLE        ImageHandle,
  EFI_SYSTEM_TABLE  *SystemTable
  )
{
  UINTN                  Argc = 0;
  CHAR16                 **Argv = nullptr;
  LOAD_OPTION_ARGUMENTS  Options;
  BOOLEAN                FromBootEntry = FALSE;
  UINT32                 IgnoredSize = 0;
  EFI_STATUS             ArgumentStatus;
  EFI_STATUS             RunStatus;

  (VOID)SystemTable;
  ArgumentStatus = GetArguments (&Argc, &Argv);

  //
  // Started by the boot manager, the tool has no shell: the command line is
  // in its load options, and the run's status is the one to return.
  //
  if (EFI_ERROR (ArgumentStatus) && (GetLoadOptionArguments (ImageHandle, &Options, &IgnoredSize) == LoadOptionsCommandLine)) {
    Argc           = Options.Argc;
    Argv           = Options.Argv;
    ArgumentStatus = EFI_SUCCESS;
    FromBootEntry  = TRUE;
  }

  RunStatus = ChipUpdateMain (Argc, Argv, IgnoredSize);
  if (FromBootEntry) {
    RestartMachine (RunStatus);
  }

  return EFI_ERROR (ArgumentStatus) ? ArgumentStatus : RunStatus;
}
