/** @file
  The two ways a UEFI shell hands an application its command line:
  EFI_SHELL_PARAMETERS_PROTOCOL, and the older shell's EFI_SHELL_INTERFACE.
**/
#ifndef PLATFORM_SHELL_PARAMETERS_H_
#define PLATFORM_SHELL_PARAMETERS_H_

#include "platform/Base.h"

inline constexpr EFI_GUID  gEfiShellParametersProtocolGuid = {
  0x752f3136, 0x4e16, 0x4fdc, { 0xa2, 0x2a, 0xe5, 0xf4, 0x68, 0x12, 0xf4, 0xca }
};

inline constexpr EFI_GUID  gEfiShellInterfaceGuid = {
  0x47c7b223, 0xc42a, 0x11d2, { 0x8e, 0x57, 0x00, 0xa0, 0xc9, 0x69, 0x72, 0x3b }
};

struct EFI_SHELL_PARAMETERS_PROTOCOL {
  CHAR16    **Argv;
  UINTN     Argc;
  VOID      *StdIn;
  VOID      *StdOut;
  VOID      *StdErr;
};

struct EFI_SHELL_INTERFACE {
  EFI_HANDLE    ImageHandle;
  VOID          *Info;
  CHAR16        **Argv;
  UINTN         Argc;
  CHAR16        **RedirArgv;
  UINTN         RedirArgc;
  VOID          *StdIn;
  VOID          *StdOut;
  VOID          *StdErr;
  VOID          *ArgInfo;
  BOOLEAN       EchoOn;
};

// NOLINTBEGIN(readability-magic-numbers): the offsets and codes the standard gives
static_assert (__builtin_offsetof (EFI_SHELL_PARAMETERS_PROTOCOL, Argc) == 8, "shell parameters layout");
static_assert (__builtin_offsetof (EFI_SHELL_INTERFACE, Argv) == 16, "shell interface layout");
static_assert (__builtin_offsetof (EFI_SHELL_INTERFACE, Argc) == 24, "shell interface layout");
// NOLINTEND(readability-magic-numbers)

#endif
