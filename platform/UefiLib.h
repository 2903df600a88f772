/** @file
  The firmware tables every part of the tool calls through, set by the
  image entry point before the module's own entry runs.
**/
#ifndef PLATFORM_UEFI_LIB_H_
#define PLATFORM_UEFI_LIB_H_

#include "platform/Base.h"
#include "platform/SystemTable.h"

extern EFI_HANDLE            gImageHandle;
extern EFI_SYSTEM_TABLE      *gST;
extern EFI_BOOT_SERVICES     *gBS;
extern EFI_RUNTIME_SERVICES  *gRT;

/**
  The image entry point the linker names: fills the tables above, then
  hands over to the module's UefiMain.
**/
extern "C" EFI_STATUS EFIAPI
ModuleEntryPoint (
  EFI_HANDLE        ImageHandle,
  EFI_SYSTEM_TABLE  *SystemTable
  );

/**
  The module's own entry, defined once by each image built on this layer.
  Its result is the image's exit status.
**/
EFI_STATUS
UefiMain (
  EFI_HANDLE        ImageHandle,
  EFI_SYSTEM_TABLE  *SystemTable
  );

#endif
