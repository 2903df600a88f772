// Simulated SMBus host controllers: each Execute is logged and answered by
// the ZK48 model.
#include "tests/firmware/SimFirmware.h"
#include "tests/firmware/Vocabulary.h"

namespace harness {

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

// Operations the chip's protocol uses, and the Length each must carry.
constexpr UINTN  BYTE_LENGTH  = 1;
constexpr UINTN  FRAME_LENGTH = 11;

//
// What every Execute must carry: a 7-bit address and nothing above it, no
// PEC (the chip sends none), one of the three operations the chip's
// protocol uses, and the Length that operation takes.
//
void
CheckRequest (
  SimFirmware             &Sim,
  const SmbusTransaction  &Entry
  )
{
  bool  Block = Entry.Operation == EfiSmbusWriteBlock;

  if (Entry.Address > 0x7F) {
    Sim.Violation ("Execute with address bits above the 7-bit address");
  }

  if (Entry.PecCheck != FALSE) {
    Sim.Violation ("Execute with PEC");
  }

  if (!Block && (Entry.Operation != EfiSmbusReadByte) && (Entry.Operation != EfiSmbusWriteByte)) {
    Sim.Violation ("Execute of an operation other than ReadByte, WriteByte and WriteBlock");
  }

  if (Entry.Length != (Block ? FRAME_LENGTH : BYTE_LENGTH)) {
    Sim.Violation ("Execute with Length " + std::to_string (Entry.Length) + " for its operation");
  }
}

// The chip's answer, a data read at the unsteady address altered each time.
EFI_STATUS
ChipAnswer (
  SimFirmware          &Sim,
  UINTN                Address,
  UINTN                Command,
  EFI_SMBUS_OPERATION  Operation,
  UINTN                *Length,
  UINT8                *Buffer
  )
{
  const bool  Unsteady = Sim.UnsteadyAddress.has_value () && (Command == R_EEPROM_DATA) && (Operation == EfiSmbusReadByte) &&
                         ((((uint16_t)Sim.Chip.AddressHigh << 8) | Sim.Chip.AddressLow) == *Sim.UnsteadyAddress);
  EFI_STATUS  Status   = Zk48Execute (&Sim.Chip, Address, Command, Operation, Length, Buffer);

  if (Unsteady && !EFI_ERROR (Status)) {
    *Buffer ^= (UINT8)++Sim.UnsteadyReads;
  }

  return Status;
}

// What answers behind the controller: the chip, nobody, or a bus that reads as all ones.
EFI_STATUS
Answer (
  const SimSmbusHc     &Controller,
  UINTN                Address,
  UINTN                Command,
  EFI_SMBUS_OPERATION  Operation,
  UINTN                *Length,
  UINT8                *Buffer
  )
{
  switch (Controller.Behind) {
    case SmbusBehind::Chip:
      return ChipAnswer (*Controller.Owner, Address, Command, Operation, Length, Buffer);
    case SmbusBehind::Nothing:
      return EFI_DEVICE_ERROR;
    default:
      if (Operation == EfiSmbusReadByte) {
        *Buffer = 0xFF;
      }

      return EFI_SUCCESS;
  }
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
  SmbusTransaction  Entry       = { Controller->Index, RawAddress, Command, Operation, PecCheck, Length != nullptr ? *Length : 0, {}, EFI_SUCCESS };

  CheckRequest (Sim, Entry);
  if (!Sim.LogTransactions) {
    return EFI_ERROR (Status) ? Status : Answer (*Controller, RawAddress, Command, Operation, Length, (UINT8 *)Buffer);
  }

  if ((Operation == EfiSmbusWriteByte) || (Operation == EfiSmbusWriteBlock)) {
    Entry.Data.assign ((const uint8_t *)Buffer, (const uint8_t *)Buffer + Entry.Length);
  }

  if (!EFI_ERROR (Status)) {
    Status = Answer (*Controller, RawAddress, Command, Operation, Length, (UINT8 *)Buffer);
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
  SmbusBehind  Behind,
  bool         Ahead
  )
{
  auto         Controller = std::make_unique<SimSmbusHc> ();
  HandleEntry  Entry;

  Controller->Protocol         = EFI_SMBUS_HC_PROTOCOL {};
  Controller->Protocol.Execute = SimExecute;
  Controller->Owner            = this;
  Controller->Index            = (int)SmbusControllers.size ();
  Controller->Behind           = Behind;
  Entry                        = { NewHandle (), gEfiSmbusHcProtocolGuid, &Controller->Protocol, false };
  Handles.insert (Ahead ? Handles.begin () : Handles.end (), Entry);
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

} // namespace harness
