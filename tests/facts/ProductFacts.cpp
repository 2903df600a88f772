// The facts as the tool declares them in platform/, compiled with the
// product's own flags and nothing from gnu-efi.
#include "tests/facts/Facts.h"

#include "platform/Base.h"
#include "platform/ShellParameters.h"
#include "platform/SimpleFileSystem.h"
#include "platform/SimpleTextOut.h"
#include "platform/SmbusHc.h"
#include "platform/SystemTable.h"

namespace {

constexpr UINTN  SAMPLE_SMBUS_ADDRESS = 0x21;

// The device address as a host controller reads it: a UINTN, whatever bits
// the structure adds or moves.
uint64_t
SmbusAddressAsPassed (
  )
{
  EFI_SMBUS_DEVICE_ADDRESS  Address = {};
  UINTN                     Raw;

  Address.SmbusDeviceAddress = SAMPLE_SMBUS_ADDRESS;
  static_assert (sizeof (Raw) == sizeof (Address), "passed as a UINTN");
  __builtin_memcpy (&Raw, &Address, sizeof (Raw));
  return Raw;
}

} // namespace

facts::FACT_TABLE
facts::ProductFacts (
  )
{
  static const FACT  Table[] = {
    FACT_SIZE (UINTN),
    FACT_SIZE (CHAR16),
    FACT_SIZE (BOOLEAN),
    FACT_SIZE (EFI_STATUS),
    FACT_SIZE (EFI_GUID),

    FACT_CODE (EFI_SUCCESS),
    FACT_CODE (EFI_WARN_DELETE_FAILURE),
    FACT_CODE (EFI_LOAD_ERROR),
    FACT_CODE (EFI_INVALID_PARAMETER),
    FACT_CODE (EFI_UNSUPPORTED),
    FACT_CODE (EFI_BAD_BUFFER_SIZE),
    FACT_CODE (EFI_BUFFER_TOO_SMALL),
    FACT_CODE (EFI_NOT_READY),
    FACT_CODE (EFI_DEVICE_ERROR),
    FACT_CODE (EFI_WRITE_PROTECTED),
    FACT_CODE (EFI_OUT_OF_RESOURCES),
    FACT_CODE (EFI_VOLUME_CORRUPTED),
    FACT_CODE (EFI_VOLUME_FULL),
    FACT_CODE (EFI_NO_MEDIA),
    FACT_CODE (EFI_NOT_FOUND),
    FACT_CODE (EFI_ACCESS_DENIED),
    FACT_CODE (EFI_NO_RESPONSE),
    FACT_CODE (EFI_TIMEOUT),
    FACT_CODE (EFI_CRC_ERROR),
    FACT_CODE (EFI_END_OF_FILE),

    FACT_SIZE (EFI_MEMORY_TYPE),
    FACT_CODE (EfiReservedMemoryType),
    FACT_CODE (EfiLoaderCode),
    FACT_CODE (EfiLoaderData),
    FACT_CODE (EfiBootServicesCode),
    FACT_CODE (EfiBootServicesData),
    FACT_CODE (EfiRuntimeServicesCode),
    FACT_CODE (EfiRuntimeServicesData),
    FACT_CODE (EfiConventionalMemory),
    FACT_CODE (EfiUnusableMemory),
    FACT_CODE (EfiACPIReclaimMemory),
    FACT_CODE (EfiACPIMemoryNVS),
    FACT_CODE (EfiMemoryMappedIO),
    FACT_CODE (EfiMemoryMappedIOPortSpace),
    FACT_CODE (EfiPalCode),
    FACT_CODE (EfiPersistentMemory),
    FACT_CODE (EfiUnacceptedMemoryType),

    FACT_SIZE (EFI_LOCATE_SEARCH_TYPE),
    FACT_CODE (AllHandles),
    FACT_CODE (ByRegisterNotify),
    FACT_CODE (ByProtocol),
    FACT_SIZE (EFI_INTERFACE_TYPE),
    FACT_CODE (EFI_NATIVE_INTERFACE),
    FACT_CODE (EFI_OPEN_PROTOCOL_GET_PROTOCOL),
    FACT_CODE (EFI_FILE_MODE_READ),
    FACT_CODE (EFI_FILE_MODE_WRITE),
    FACT_CODE (EFI_FILE_MODE_CREATE),

    FACT_GUID (gEfiSimpleFileSystemProtocolGuid),
    FACT_GUID (gEfiFileInfoGuid),
    FACT_GUID (gEfiShellParametersProtocolGuid),
    FACT_GUID (gEfiShellInterfaceGuid),
    FACT_GUID (gEfiSmbusHcProtocolGuid),

    FACT_SIZE (EFI_TABLE_HEADER),
    FACT_OFFSET (EFI_SYSTEM_TABLE, FirmwareVendor),
    FACT_OFFSET (EFI_SYSTEM_TABLE, FirmwareRevision),
    FACT_OFFSET (EFI_SYSTEM_TABLE, ConsoleInHandle),
    FACT_OFFSET (EFI_SYSTEM_TABLE, ConIn),
    FACT_OFFSET (EFI_SYSTEM_TABLE, ConsoleOutHandle),
    FACT_OFFSET (EFI_SYSTEM_TABLE, ConOut),
    FACT_OFFSET (EFI_SYSTEM_TABLE, StandardErrorHandle),
    FACT_OFFSET (EFI_SYSTEM_TABLE, StdErr),
    FACT_OFFSET (EFI_SYSTEM_TABLE, RuntimeServices),
    FACT_OFFSET (EFI_SYSTEM_TABLE, BootServices),
    FACT_OFFSET (EFI_SYSTEM_TABLE, NumberOfTableEntries),
    FACT_OFFSET (EFI_SYSTEM_TABLE, ConfigurationTable),
    FACT_SIZE (EFI_SYSTEM_TABLE),

    FACT_OFFSET (EFI_BOOT_SERVICES, AllocatePool),
    FACT_OFFSET (EFI_BOOT_SERVICES, FreePool),
    FACT_OFFSET (EFI_BOOT_SERVICES, InstallProtocolInterface),
    FACT_OFFSET (EFI_BOOT_SERVICES, UninstallProtocolInterface),
    FACT_OFFSET (EFI_BOOT_SERVICES, HandleProtocol),
    FACT_OFFSET (EFI_BOOT_SERVICES, Stall),
    FACT_OFFSET (EFI_BOOT_SERVICES, OpenProtocol),
    FACT_OFFSET (EFI_BOOT_SERVICES, LocateHandleBuffer),
    FACT_OFFSET (EFI_BOOT_SERVICES, LocateProtocol),
    FACT_OFFSET (EFI_BOOT_SERVICES, CalculateCrc32),
    FACT_SIZE (EFI_BOOT_SERVICES),

    FACT_OFFSET (EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, OutputString),
    FACT_OFFSET (EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, ClearScreen),
    FACT_OFFSET (EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, SetCursorPosition),
    FACT_OFFSET (EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, Mode),
    FACT_SIZE (EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL),
    FACT_OFFSET (EFI_SIMPLE_TEXT_OUTPUT_MODE, MaxMode),
    FACT_OFFSET (EFI_SIMPLE_TEXT_OUTPUT_MODE, Mode),
    FACT_OFFSET (EFI_SIMPLE_TEXT_OUTPUT_MODE, Attribute),
    FACT_OFFSET (EFI_SIMPLE_TEXT_OUTPUT_MODE, CursorColumn),
    FACT_OFFSET (EFI_SIMPLE_TEXT_OUTPUT_MODE, CursorRow),
    FACT_OFFSET (EFI_SIMPLE_TEXT_OUTPUT_MODE, CursorVisible),
    FACT_SIZE (EFI_SIMPLE_TEXT_OUTPUT_MODE),

    FACT_OFFSET (EFI_SIMPLE_FILE_SYSTEM_PROTOCOL, OpenVolume),
    FACT_SIZE (EFI_SIMPLE_FILE_SYSTEM_PROTOCOL),
    FACT_OFFSET (EFI_FILE_PROTOCOL, Open),
    FACT_OFFSET (EFI_FILE_PROTOCOL, Close),
    FACT_OFFSET (EFI_FILE_PROTOCOL, Delete),
    FACT_OFFSET (EFI_FILE_PROTOCOL, Read),
    FACT_OFFSET (EFI_FILE_PROTOCOL, Write),
    FACT_OFFSET (EFI_FILE_PROTOCOL, GetInfo),
    FACT_OFFSET (EFI_FILE_PROTOCOL, Flush),
    FACT_SIZE (EFI_TIME),
    FACT_OFFSET (EFI_FILE_INFO, Size),
    FACT_OFFSET (EFI_FILE_INFO, FileSize),
    FACT_OFFSET (EFI_FILE_INFO, PhysicalSize),
    FACT_OFFSET (EFI_FILE_INFO, CreateTime),
    FACT_OFFSET (EFI_FILE_INFO, LastAccessTime),
    FACT_OFFSET (EFI_FILE_INFO, ModificationTime),
    FACT_OFFSET (EFI_FILE_INFO, Attribute),
    FACT_OFFSET (EFI_FILE_INFO, FileName),

    FACT_OFFSET (EFI_SHELL_PARAMETERS_PROTOCOL, Argv),
    FACT_OFFSET (EFI_SHELL_PARAMETERS_PROTOCOL, Argc),
    FACT_SIZE (EFI_SHELL_PARAMETERS_PROTOCOL),
    FACT_OFFSET (EFI_SHELL_INTERFACE, Argv),
    FACT_OFFSET (EFI_SHELL_INTERFACE, Argc),
    FACT_OFFSET (EFI_SHELL_INTERFACE, EchoOn),
    FACT_SIZE (EFI_SHELL_INTERFACE),

    FACT_CODE (EfiSmbusReadByte),
    FACT_CODE (EfiSmbusWriteByte),
    FACT_CODE (EfiSmbusWriteBlock),
    FACT_SIZE (EFI_SMBUS_OPERATION),
    FACT_SIZE (EFI_SMBUS_DEVICE_ADDRESS),
    FACT_SIZE (EFI_SMBUS_DEVICE_COMMAND),
    facts::FACT { "EFI_SMBUS_DEVICE_ADDRESS of 0x21 as passed", SmbusAddressAsPassed (), {}, false },
    FACT_OFFSET (EFI_SMBUS_HC_PROTOCOL, Execute),
    FACT_SIZE (EFI_SMBUS_HC_PROTOCOL),
  };

  return { Table, sizeof (Table) / sizeof (Table[0]) };
}
