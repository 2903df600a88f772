/** @file
  Image entry point: the firmware tables become the library globals.
**/
#include "platform/UefiLib.h"

EFI_HANDLE            gImageHandle;
EFI_SYSTEM_TABLE      *gST;
EFI_BOOT_SERVICES     *gBS;
EFI_RUNTIME_SERVICES  *gRT;

extern "C" EFI_STATUS EFIAPI
ModuleEntryPoint (
  EFI_HANDLE        ImageHandle,
  EFI_SYSTEM_TABLE  *SystemTable
  )
{
  gImageHandle = ImageHandle;
  gST          = SystemTable;
  gBS          = SystemTable->BootServices;
  gRT          = SystemTable->RuntimeServices;
  return UefiMain (ImageHandle, SystemTable);
}
