/** @file
  The EFI system table, the boot services the tool and the chip simulator
  driver call, and the runtime service that tells the time; every other
  slot keeps its place as a bare pointer.
**/
#ifndef PLATFORM_SYSTEM_TABLE_H_
#define PLATFORM_SYSTEM_TABLE_H_

#include "platform/Base.h"
#include "platform/DevicePath.h"
#include "platform/SimpleTextOut.h"

struct EFI_TABLE_HEADER {
  UINT64    Signature;
  UINT32    Revision;
  UINT32    HeaderSize;
  UINT32    CRC32;
  UINT32    Reserved;
};

enum EFI_MEMORY_TYPE : UINT32 {
  EfiReservedMemoryType,
  EfiLoaderCode,
  EfiLoaderData,
  EfiBootServicesCode,
  EfiBootServicesData,
  EfiRuntimeServicesCode,
  EfiRuntimeServicesData,
  EfiConventionalMemory,
  EfiUnusableMemory,
  EfiACPIReclaimMemory,
  EfiACPIMemoryNVS,
  EfiMemoryMappedIO,
  EfiMemoryMappedIOPortSpace,
  EfiPalCode,
  EfiPersistentMemory,
  EfiUnacceptedMemoryType,
  EfiMaxMemoryType
};

// NOLINTBEGIN(readability-magic-numbers): the codes the standard gives
static_assert (EfiReservedMemoryType == 0 && EfiLoaderCode == 1 && EfiBootServicesData == 4, "memory types");
static_assert (EfiConventionalMemory == 7 && EfiPersistentMemory == 14 && EfiUnacceptedMemoryType == 15, "memory types");
// NOLINTEND(readability-magic-numbers)

enum EFI_LOCATE_SEARCH_TYPE : UINT32 {
  AllHandles,
  ByRegisterNotify,
  ByProtocol,
};

enum EFI_INTERFACE_TYPE : UINT32 {
  EFI_NATIVE_INTERFACE,
};

constexpr UINT32  EFI_OPEN_PROTOCOL_GET_PROTOCOL = 0x00000002;

typedef EFI_STATUS (EFIAPI *EFI_ALLOCATE_POOL)(EFI_MEMORY_TYPE PoolType, UINTN Size, VOID **Buffer);
typedef EFI_STATUS (EFIAPI *EFI_FREE_POOL)(VOID *Buffer);
typedef EFI_STATUS (EFIAPI *EFI_INSTALL_PROTOCOL_INTERFACE)(EFI_HANDLE *Handle, const EFI_GUID *Protocol, EFI_INTERFACE_TYPE InterfaceType, VOID *Interface);
typedef EFI_STATUS (EFIAPI *EFI_UNINSTALL_PROTOCOL_INTERFACE)(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID *Interface);
typedef EFI_STATUS (EFIAPI *EFI_HANDLE_PROTOCOL)(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID **Interface);
typedef EFI_STATUS (EFIAPI *EFI_LOCATE_DEVICE_PATH)(const EFI_GUID *Protocol, const EFI_DEVICE_PATH_PROTOCOL **DevicePath, EFI_HANDLE *Device);
typedef EFI_STATUS (EFIAPI *EFI_STALL)(UINTN Microseconds);
typedef EFI_STATUS (EFIAPI *EFI_OPEN_PROTOCOL)(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID **Interface, EFI_HANDLE AgentHandle, EFI_HANDLE ControllerHandle, UINT32 Attributes);
typedef EFI_STATUS (EFIAPI *EFI_LOCATE_HANDLE_BUFFER)(EFI_LOCATE_SEARCH_TYPE SearchType, const EFI_GUID *Protocol, VOID *SearchKey, UINTN *NoHandles, EFI_HANDLE **Buffer);
typedef EFI_STATUS (EFIAPI *EFI_LOCATE_PROTOCOL)(const EFI_GUID *Protocol, VOID *Registration, VOID **Interface);
typedef EFI_STATUS (EFIAPI *EFI_CALCULATE_CRC32)(const VOID *Data, UINTN DataSize, UINT32 *Crc32);

struct EFI_BOOT_SERVICES {
  EFI_TABLE_HEADER                    Hdr;
  VOID                                *RaiseTPL;
  VOID                                *RestoreTPL;
  VOID                                *AllocatePages;
  VOID                                *FreePages;
  VOID                                *GetMemoryMap;
  EFI_ALLOCATE_POOL                   AllocatePool;
  EFI_FREE_POOL                       FreePool;
  VOID                                *CreateEvent;
  VOID                                *SetTimer;
  VOID                                *WaitForEvent;
  VOID                                *SignalEvent;
  VOID                                *CloseEvent;
  VOID                                *CheckEvent;
  EFI_INSTALL_PROTOCOL_INTERFACE      InstallProtocolInterface;
  VOID                                *ReinstallProtocolInterface;
  EFI_UNINSTALL_PROTOCOL_INTERFACE    UninstallProtocolInterface;
  EFI_HANDLE_PROTOCOL                 HandleProtocol;
  VOID                                *Reserved;
  VOID                                *RegisterProtocolNotify;
  VOID                                *LocateHandle;
  EFI_LOCATE_DEVICE_PATH              LocateDevicePath;
  VOID                                *InstallConfigurationTable;
  VOID                                *LoadImage;
  VOID                                *StartImage;
  VOID                                *Exit;
  VOID                                *UnloadImage;
  VOID                                *ExitBootServices;
  VOID                                *GetNextMonotonicCount;
  EFI_STALL                           Stall;
  VOID                                *SetWatchdogTimer;
  VOID                                *ConnectController;
  VOID                                *DisconnectController;
  EFI_OPEN_PROTOCOL                   OpenProtocol;
  VOID                                *CloseProtocol;
  VOID                                *OpenProtocolInformation;
  VOID                                *ProtocolsPerHandle;
  EFI_LOCATE_HANDLE_BUFFER            LocateHandleBuffer;
  EFI_LOCATE_PROTOCOL                 LocateProtocol;
  VOID                                *InstallMultipleProtocolInterfaces;
  VOID                                *UninstallMultipleProtocolInterfaces;
  EFI_CALCULATE_CRC32                 CalculateCrc32;
  VOID                                *CopyMem;
  VOID                                *SetMem;
  VOID                                *CreateEventEx;
};

// NOLINTBEGIN(readability-magic-numbers): the offsets and codes the standard gives
static_assert (__builtin_offsetof (EFI_BOOT_SERVICES, AllocatePool) == 64, "boot services layout");
static_assert (__builtin_offsetof (EFI_BOOT_SERVICES, FreePool) == 72, "boot services layout");
static_assert (__builtin_offsetof (EFI_BOOT_SERVICES, InstallProtocolInterface) == 128, "boot services layout");
static_assert (__builtin_offsetof (EFI_BOOT_SERVICES, HandleProtocol) == 152, "boot services layout");
static_assert (__builtin_offsetof (EFI_BOOT_SERVICES, LocateDevicePath) == 184, "boot services layout");
static_assert (__builtin_offsetof (EFI_BOOT_SERVICES, Stall) == 248, "boot services layout");
static_assert (__builtin_offsetof (EFI_BOOT_SERVICES, OpenProtocol) == 280, "boot services layout");
static_assert (__builtin_offsetof (EFI_BOOT_SERVICES, LocateHandleBuffer) == 312, "boot services layout");
static_assert (__builtin_offsetof (EFI_BOOT_SERVICES, LocateProtocol) == 320, "boot services layout");
static_assert (__builtin_offsetof (EFI_BOOT_SERVICES, CalculateCrc32) == 344, "boot services layout");
static_assert (sizeof (EFI_BOOT_SERVICES) == 376, "boot services layout");
// NOLINTEND(readability-magic-numbers)

struct EFI_TIME {
  UINT16    Year;
  UINT8     Month;
  UINT8     Day;
  UINT8     Hour;
  UINT8     Minute;
  UINT8     Second;
  UINT8     Pad1;
  UINT32    Nanosecond;
  INT16     TimeZone;
  UINT8     Daylight;
  UINT8     Pad2;
};

typedef EFI_STATUS (EFIAPI *EFI_GET_TIME)(EFI_TIME *Time, VOID *Capabilities);

enum EFI_RESET_TYPE : UINT32 {
  EfiResetCold,
  EfiResetWarm,
  EfiResetShutdown,
};

typedef VOID (EFIAPI *EFI_RESET_SYSTEM)(EFI_RESET_TYPE ResetType, EFI_STATUS ResetStatus, UINTN DataSize, VOID *ResetData);

struct EFI_RUNTIME_SERVICES {
  EFI_TABLE_HEADER    Hdr;
  EFI_GET_TIME        GetTime;
  VOID                *SetTime;
  VOID                *GetWakeupTime;
  VOID                *SetWakeupTime;
  VOID                *SetVirtualAddressMap;
  VOID                *ConvertPointer;
  VOID                *GetVariable;
  VOID                *GetNextVariableName;
  VOID                *SetVariable;
  VOID                *GetNextHighMonotonicCount;
  EFI_RESET_SYSTEM    ResetSystem;
  VOID                *UpdateCapsule;
  VOID                *QueryCapsuleCapabilities;
  VOID                *QueryVariableInfo;
};

// NOLINTBEGIN(readability-magic-numbers): the offsets the standard gives
static_assert (sizeof (EFI_TIME) == 16, "EFI_TIME layout");
static_assert (__builtin_offsetof (EFI_RUNTIME_SERVICES, GetTime) == 24, "runtime services layout");
static_assert (__builtin_offsetof (EFI_RUNTIME_SERVICES, ResetSystem) == 104, "runtime services layout");
static_assert (EfiResetCold == 0, "reset types");
static_assert (sizeof (EFI_RUNTIME_SERVICES) == 136, "runtime services layout");
// NOLINTEND(readability-magic-numbers)

struct EFI_SYSTEM_TABLE {
  EFI_TABLE_HEADER                   Hdr;
  CHAR16                             *FirmwareVendor;
  UINT32                             FirmwareRevision;
  EFI_HANDLE                         ConsoleInHandle;
  VOID                               *ConIn;
  EFI_HANDLE                         ConsoleOutHandle;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL    *ConOut;
  EFI_HANDLE                         StandardErrorHandle;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL    *StdErr;
  EFI_RUNTIME_SERVICES               *RuntimeServices;
  EFI_BOOT_SERVICES                  *BootServices;
  UINTN                              NumberOfTableEntries;
  VOID                               *ConfigurationTable;
};

// NOLINTBEGIN(readability-magic-numbers): the offsets and codes the standard gives
static_assert (__builtin_offsetof (EFI_SYSTEM_TABLE, ConOut) == 64, "system table layout");
static_assert (__builtin_offsetof (EFI_SYSTEM_TABLE, RuntimeServices) == 88, "system table layout");
static_assert (__builtin_offsetof (EFI_SYSTEM_TABLE, BootServices) == 96, "system table layout");
// NOLINTEND(readability-magic-numbers)

#endif
