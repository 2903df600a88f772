/** @file
  EFI_DEVICE_PATH_PROTOCOL: the header of every device path node. The tool
  hands device paths from the shell to the boot services and back; it
  never reads one.
**/
#ifndef PLATFORM_DEVICE_PATH_H_
#define PLATFORM_DEVICE_PATH_H_

#include "platform/Base.h"

inline constexpr EFI_GUID  gEfiDevicePathProtocolGuid = {
  0x09576e91, 0x6d3f, 0x11d2, { 0x8e, 0x39, 0x00, 0xa0, 0xc9, 0x69, 0x72, 0x3b }
};

struct EFI_DEVICE_PATH_PROTOCOL {
  UINT8    Type;
  UINT8    SubType;
  UINT8    Length[2];
};

static_assert (sizeof (EFI_DEVICE_PATH_PROTOCOL) == 4, "device path node header layout");

#endif
