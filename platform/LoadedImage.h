/** @file
  EFI_LOADED_IMAGE_PROTOCOL, which the firmware installs on every image it
  starts: where the load options of a boot entry reach a program that no
  shell started.
**/
#ifndef PLATFORM_LOADED_IMAGE_H_
#define PLATFORM_LOADED_IMAGE_H_

#include "platform/Base.h"
#include "platform/SystemTable.h"

inline constexpr EFI_GUID  gEfiLoadedImageProtocolGuid = {
  0x5b1b31a1, 0x9562, 0x11d2, { 0x8e, 0x3f, 0x00, 0xa0, 0xc9, 0x69, 0x72, 0x3b }
};

struct EFI_LOADED_IMAGE_PROTOCOL {
  UINT32              Revision;
  EFI_HANDLE          ParentHandle;
  EFI_SYSTEM_TABLE    *SystemTable;
  EFI_HANDLE          DeviceHandle;
  VOID                *FilePath;
  VOID                *Reserved;
  UINT32              LoadOptionsSize;   // in bytes
  VOID                *LoadOptions;
  VOID                *ImageBase;
  UINT64              ImageSize;
  EFI_MEMORY_TYPE     ImageCodeType;
  EFI_MEMORY_TYPE     ImageDataType;
  VOID                *Unload;
};

// NOLINTBEGIN(readability-magic-numbers): the offsets the standard gives
static_assert (__builtin_offsetof (EFI_LOADED_IMAGE_PROTOCOL, LoadOptionsSize) == 48, "loaded image layout");
static_assert (__builtin_offsetof (EFI_LOADED_IMAGE_PROTOCOL, LoadOptions) == 56, "loaded image layout");
static_assert (sizeof (EFI_LOADED_IMAGE_PROTOCOL) == 96, "loaded image layout");
// NOLINTEND(readability-magic-numbers)

#endif
