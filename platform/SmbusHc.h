/** @file
  EFI_SMBUS_HC_PROTOCOL of the PI standard: the firmware's SMBus host
  controller, through which every chip transaction goes.
**/
#ifndef PLATFORM_SMBUS_HC_H_
#define PLATFORM_SMBUS_HC_H_

#include "platform/Base.h"

inline constexpr EFI_GUID  gEfiSmbusHcProtocolGuid = {
  0xe49d33ed, 0x513d, 0x4634, { 0xb6, 0x98, 0x6f, 0x55, 0xaa, 0x75, 0x1c, 0x1b }
};

//
// The 7-bit device address sits in the low seven bits of a natural-width
// value; the bit-field keeps the type of the standard but adds no layout.
//
struct EFI_SMBUS_DEVICE_ADDRESS {
  UINTN    SmbusDeviceAddress : 7;
};

static_assert (sizeof (EFI_SMBUS_DEVICE_ADDRESS) == sizeof (UINTN), "passed by value as a UINTN");

typedef UINTN EFI_SMBUS_DEVICE_COMMAND;

enum EFI_SMBUS_OPERATION : UINT32 {
  EfiSmbusQuickRead,
  EfiSmbusQuickWrite,
  EfiSmbusReceiveByte,
  EfiSmbusSendByte,
  EfiSmbusReadByte,
  EfiSmbusWriteByte,
  EfiSmbusReadWord,
  EfiSmbusWriteWord,
  EfiSmbusReadBlock,
  EfiSmbusWriteBlock,
  EfiSmbusProcessCall,
  EfiSmbusBWBRProcessCall
};

// NOLINTBEGIN(readability-magic-numbers): the offsets and codes the standard gives
static_assert (EfiSmbusReadByte == 4 && EfiSmbusWriteByte == 5 && EfiSmbusWriteBlock == 9, "PI operation codes");
// NOLINTEND(readability-magic-numbers)

struct EFI_SMBUS_HC_PROTOCOL;

typedef EFI_STATUS (EFIAPI *EFI_SMBUS_HC_EXECUTE_OPERATION)(
  const EFI_SMBUS_HC_PROTOCOL  *This,
  EFI_SMBUS_DEVICE_ADDRESS     SlaveAddress,
  EFI_SMBUS_DEVICE_COMMAND     Command,
  EFI_SMBUS_OPERATION          Operation,
  BOOLEAN                      PecCheck,
  UINTN                        *Length,
  VOID                         *Buffer
  );

struct EFI_SMBUS_HC_PROTOCOL {
  EFI_SMBUS_HC_EXECUTE_OPERATION    Execute;
  VOID                              *ArpDevice;
  VOID                              *GetArpMap;
  VOID                              *Notify;
};

static_assert (sizeof (EFI_SMBUS_HC_PROTOCOL) == 32, "SMBus host controller layout");

#endif
