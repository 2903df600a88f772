// The same facts as Debian's gnu-efi headers give them: the oracle the
// product's declarations are held against. Compiled as C++ with the flags
// gnu-efi code is built with (-fshort-wchar), never with platform/ in sight.
// <efi.h> brings efishell.h, the UEFI Shell's protocol, with it.
#include <efi.h>
#include <efishellintf.h>

// By its own directory: this side has no include path to platform/.
#include "Facts.h"

namespace {

//
// gnu-efi's names for what platform/ calls otherwise, so that both tables
// name each fact the same way.
//
typedef SIMPLE_TEXT_OUTPUT_INTERFACE  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL;
typedef SIMPLE_TEXT_OUTPUT_MODE       EFI_SIMPLE_TEXT_OUTPUT_MODE;

const EFI_GUID  gEfiSimpleFileSystemProtocolGuid = EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID;
const EFI_GUID  gEfiFileInfoGuid                 = EFI_FILE_INFO_ID;
const EFI_GUID  gEfiShellParametersProtocolGuid  = EFI_SHELL_PARAMETERS_PROTOCOL_GUID;
const EFI_GUID  gEfiShellInterfaceGuid           = SHELL_INTERFACE_PROTOCOL_GUID;
const EFI_GUID  gEfiLoadedImageProtocolGuid      = EFI_LOADED_IMAGE_PROTOCOL_GUID;
const EFI_GUID  gEfiShellProtocolGuid            = EFI_SHELL_PROTOCOL_GUID;
const EFI_GUID  gEfiDevicePathProtocolGuid       = EFI_DEVICE_PATH_PROTOCOL_GUID;

} // namespace

facts::FACT_TABLE
facts::GnuEfiFacts (
  )
{
  static const FACT  Table[] = {
#include "FactNames.inc"
  };

  return { Table, sizeof (Table) / sizeof (Table[0]) };
}
