/** @file
  The simulator driver's own protocol: where Zk48SimCtl.efi finds the
  simulated chip to change its settings or report its state.
**/
#ifndef SIM_DRIVER_ZK48_SIM_PROTOCOL_H_
#define SIM_DRIVER_ZK48_SIM_PROTOCOL_H_

#include "platform/Base.h"
#include "sim/Zk48Chip.h"

inline constexpr EFI_GUID  gZk48SimProtocolGuid = {
  0x5a4b3e21, 0x9c1d, 0x4f0e, { 0x8a, 0x73, 0x2d, 0x61, 0xb4, 0x0c, 0x93, 0x5e }
};

// Raised whenever ZK48_CHIP or this protocol changes: a control program must not write into a chip laid out otherwise.
constexpr UINT32  ZK48_SIM_PROTOCOL_REVISION = 4;

/**
  Installs or removes the decoy host controller as Chip->Decoy asks, the
  decoy ahead of the chip's in the order the firmware gives host
  controllers. Called after every change of settings. Returns the
  firmware's status.
**/
typedef EFI_STATUS (EFIAPI *ZK48_SIM_ARRANGE_HOST_CONTROLLERS)();

struct ZK48_SIM_PROTOCOL {
  UINT32                               Revision;
  ZK48_CHIP                            *Chip;
  ZK48_SIM_ARRANGE_HOST_CONTROLLERS    ArrangeHostControllers;
};

#endif
