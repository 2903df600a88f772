/** @file
  EFI_SHELL_PROTOCOL of the UEFI Shell: its mappings (fs1:, HD0a0b:) from
  names to volumes, its current directory and its variables. Only the
  members the tool calls are typed; every other keeps its place as a bare
  pointer.
**/
#ifndef PLATFORM_SHELL_H_
#define PLATFORM_SHELL_H_

#include "platform/Base.h"
#include "platform/DevicePath.h"

inline constexpr EFI_GUID  gEfiShellProtocolGuid = {
  0x6302d008, 0x7f9b, 0x4f30, { 0x87, 0xac, 0x60, 0xc9, 0xfe, 0xf5, 0xda, 0x4e }
};

//
// A mapping is given with or without its colon, in any case. The device
// path returned is the shell's, as are the strings: none is freed here.
//
typedef const EFI_DEVICE_PATH_PROTOCOL *(EFIAPI *EFI_SHELL_GET_DEVICE_PATH_FROM_MAP)(const CHAR16 *Mapping);
typedef const CHAR16 *(EFIAPI *EFI_SHELL_GET_MAP_FROM_DEVICE_PATH)(EFI_DEVICE_PATH_PROTOCOL **DevicePath);
typedef const CHAR16 *(EFIAPI *EFI_SHELL_GET_CUR_DIR)(const CHAR16 *FileSystemMapping);
// An empty Value deletes Name; a volatile variable is gone at the next boot.
typedef EFI_STATUS (EFIAPI *EFI_SHELL_SET_ENV)(const CHAR16 *Name, const CHAR16 *Value, BOOLEAN Volatile);

struct EFI_SHELL_PROTOCOL {
  VOID                                  *Execute;
  VOID                                  *GetEnv;
  EFI_SHELL_SET_ENV                     SetEnv;
  VOID                                  *GetAlias;
  VOID                                  *SetAlias;
  VOID                                  *GetHelpText;
  EFI_SHELL_GET_DEVICE_PATH_FROM_MAP    GetDevicePathFromMap;
  EFI_SHELL_GET_MAP_FROM_DEVICE_PATH    GetMapFromDevicePath;
  VOID                                  *GetDevicePathFromFilePath;
  VOID                                  *GetFilePathFromDevicePath;
  VOID                                  *SetMap;
  EFI_SHELL_GET_CUR_DIR                 GetCurDir;
};

// NOLINTBEGIN(readability-magic-numbers): the offsets the standard gives
static_assert (__builtin_offsetof (EFI_SHELL_PROTOCOL, SetEnv) == 16, "shell protocol layout");
static_assert (__builtin_offsetof (EFI_SHELL_PROTOCOL, GetDevicePathFromMap) == 48, "shell protocol layout");
static_assert (__builtin_offsetof (EFI_SHELL_PROTOCOL, GetMapFromDevicePath) == 56, "shell protocol layout");
static_assert (__builtin_offsetof (EFI_SHELL_PROTOCOL, GetCurDir) == 88, "shell protocol layout");
// NOLINTEND(readability-magic-numbers)

#endif
