// Simulated SMBus host controllers: each Execute is logged and answered by
// the ZK48 model.
#include "tests/firmware/SimFirmware.h"

namespace sim {

namespace {

UINTN
AllAddressBits (
  EFI_SMBUS_DEVICE_ADDRESS  SlaveAddress
  )
{
  UINTN  RawAddress;

  static_assert (sizeof (RawAddress) == sizeof (SlaveAddress), "the address travels as a UINTN");
  __builtin_memcpy (&RawAddress, &SlaveAddress, sizeof (RawAddress));
  return RawAddress;
}

EFI_STATUS EFIAPI
SimExecute (
  const EFI_SMBUS_HC_PROTOCOL  *This,
  EFI_SMBUS_DEVICE_ADDRESS     SlaveAddress,
  EFI_SMBUS_DEVICE_COMMAND     Command,
  EFI_SMBUS_OPERATION          Operation,
  BOOLEAN                      PecCheck,
  UINTN                        *Length,
  VOID                         *Buffer
  )
{
  const SimSmbusHc  *Controller = (const SimSmbusHc *)This;
  SimFirmware       &Sim        = *Controller->Owner;
  UINTN             RawAddress  = AllAddressBits (SlaveAddress);
  EFI_STATUS        Status      = Sim.Enter (Call::Execute, ExecuteSite (RawAddress, Command, Operation));
  //
  // Only now, past Enter and its jump out of an overlong run: the log
  // entry's vector must not be alive on a frame the jump skips.
  //
  SmbusTransaction  Entry       = { Controller->Index, RawAddress, Command, Operation, PecCheck, Length != nullptr ? *Length : 0, {}, EFI_SUCCESS };

  if (!Sim.LogTransactions) {
    return EFI_ERROR (Status) ? Status : Zk48Execute (&Sim.Chip, RawAddress, Command, Operation, Length, (UINT8 *)Buffer);
  }

  if ((Operation == EfiSmbusWriteByte) || (Operation == EfiSmbusWriteBlock)) {
    Entry.Data.assign ((const uint8_t *)Buffer, (const uint8_t *)Buffer + Entry.Length);
  }

  if (!EFI_ERROR (Status)) {
    Status = Zk48Execute (&Sim.Chip, RawAddress, Command, Operation, Length, (UINT8 *)Buffer);
  }

  if ((Operation == EfiSmbusReadByte) && !EFI_ERROR (Status)) {
    Entry.Data.push_back (*(const uint8_t *)Buffer);
  }

  Entry.Status = Status;
  Sim.Transactions.push_back (Entry);
  Sim.Timeline.push_back (Event { Event::Smbus, u"", Sim.Transactions.size () - 1, 0 });
  return Status;
}

} // namespace

int
SimFirmware::AddSmbusController (
  )
{
  auto  Controller = std::make_unique<SimSmbusHc> ();

  Controller->Protocol         = EFI_SMBUS_HC_PROTOCOL {};
  Controller->Protocol.Execute = SimExecute;
  Controller->Owner            = this;
  Controller->Index            = (int)SmbusControllers.size ();
  Handles.push_back ({ NewHandle (), gEfiSmbusHcProtocolGuid, &Controller->Protocol, false });
  SmbusControllers.push_back (std::move (Controller));
  return (int)SmbusControllers.size () - 1;
}

void
SimFirmware::FailHandleProtocolFor (
  int  Controller
  )
{
  for (HandleEntry &Entry : Handles) {
    if (Entry.Interface == &SmbusControllers[(size_t)Controller]->Protocol) {
      Entry.Refuse = true;
    }
  }
}

} // namespace sim
