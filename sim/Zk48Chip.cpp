/** @file
  The ZK48 model: one state struct and one response function.
**/
#include "sim/Zk48Chip.h"

namespace {

// The CRC-32 of IEEE 802.3, worked bit by bit from the low end.
constexpr UINT32  CRC32_INITIAL    = 0xFFFFFFFF;
constexpr UINT32  CRC32_POLYNOMIAL = 0xEDB88320;

constexpr UINTN  CHIP_EEPROM_ADDRESS = 0x21;
constexpr UINTN  CHIP_ID_ADDRESS     = 0x23;

constexpr UINT8  REG_DEVICE_ID       = 0x02;
constexpr UINT8  DEVICE_ID           = 0x11;
constexpr UINT8  REG_MCU_VERSION     = 0xC0;
constexpr UINT8  REG_ACCESS          = 0xB1;
constexpr UINT8  ACCESS_ON           = 0x08;
constexpr UINT8  REG_ADDRESS_HIGH    = 0xB2;
constexpr UINT8  REG_ADDRESS_LOW     = 0xB3;
constexpr UINT8  REG_COMMAND         = 0xB5;
constexpr UINT8  COMMAND_READ        = 0x02;
constexpr UINT8  REG_DATA            = 0xB6;
constexpr UINT8  REG_STATUS          = 0xB7;

// Bit 7 of 0xB7 is the only one that means anything; the rest read as noise.
constexpr UINT8  STATUS_BUSY         = 0x7F;
constexpr UINT8  STATUS_READY        = 0x80;

// An identity register that does not answer yet reads as a floating bus.
constexpr UINT8  NO_ANSWER           = 0xFF;

constexpr UINTN  FRAME_SIZE          = 11;
constexpr UINT8  FRAME_COUNT         = 0x0A;
constexpr UINTN  FRAME_DATA_SIZE     = 8;

constexpr UINT32  DEFAULT_READY_AFTER_POLLS = 3;

// Odd, so each of the 32 pages gets its own mask over the address's low byte.
constexpr UINTN  PATTERN_PAGE_FACTOR = 0x35;

// The random faults' generator: a 64-bit counter stepped by the golden
// ratio and mixed (SplitMix64), small, and the same on every build.
constexpr UINT64  RANDOM_STEP    = 0x9E3779B97F4A7C15;
constexpr UINT64  RANDOM_MIX_1   = 0xBF58476D1CE4E5B9;
constexpr UINT64  RANDOM_MIX_2   = 0x94D049BB133111EB;
constexpr UINT32  RANDOM_SHIFT_1 = 30;
constexpr UINT32  RANDOM_SHIFT_2 = 27;
constexpr UINT32  RANDOM_SHIFT_3 = 31;

UINT64
NextRandom (
  UINT64  *State
  )
{
  UINT64  Mixed;

  *State += RANDOM_STEP;
  Mixed   = *State;
  Mixed   = (Mixed ^ (Mixed >> RANDOM_SHIFT_1)) * RANDOM_MIX_1;
  Mixed   = (Mixed ^ (Mixed >> RANDOM_SHIFT_2)) * RANDOM_MIX_2;
  return Mixed ^ (Mixed >> RANDOM_SHIFT_3);
}

/** Draws at Rate; a rate of never draws nothing, so it shifts no other draw. **/
BOOLEAN
Chance (
  ZK48_CHIP  *Chip,
  ZK48_RATE  Rate
  )
{
  if ((Rate.Numerator == 0) || (Rate.Denominator == 0)) {
    return FALSE;
  }

  return (NextRandom (&Chip->Faults.RandomState) % Rate.Denominator) < Rate.Numerator;
}

/** Whether the bus refuses this transaction, by count or at random. **/
BOOLEAN
Refused (
  ZK48_CHIP  *Chip
  )
{
  BOOLEAN  Counted = FALSE;

  if (Chip->Faults.RefuseEvery != ZK48_NEVER) {
    Chip->Faults.SinceRefusal++;
    if (Chip->Faults.SinceRefusal >= Chip->Faults.RefuseEvery) {
      Chip->Faults.SinceRefusal = 0;
      Counted                   = TRUE;
    }
  }

  return Chance (Chip, Chip->Faults.RefuseRate) || Counted;
}

BOOLEAN
IsWrite (
  EFI_SMBUS_OPERATION  Operation
  )
{
  return (Operation == EfiSmbusWriteByte) || (Operation == EfiSmbusWriteBlock);
}

BOOLEAN
Reached (
  UINT32  Count,
  UINT32  Threshold
  )
{
  return (Threshold != ZK48_NEVER) && (Count >= Threshold);
}

UINT8
ReadIdRegister (
  ZK48_CHIP  *Chip,
  UINTN      Command
  )
{
  if (Command == REG_MCU_VERSION) {
    return Chip->McuVersion;
  }

  if (Command != REG_DEVICE_ID) {
    return 0x00;
  }

  Chip->DeviceIdReads++;
  if (Chip->AccessEnabled && Reached (Chip->DeviceIdReads, Chip->Faults.DeviceIdFromRead)) {
    return Chip->DeviceId;
  }

  return NO_ANSWER;
}

UINT8
ReadEepromRegister (
  ZK48_CHIP  *Chip,
  UINTN      Command
  )
{
  if (Command == REG_STATUS) {
    if (!Chip->ReadPending || Chip->StatusStuck) {
      return STATUS_BUSY;
    }

    Chip->PollsSinceCommand++;
    return Reached (Chip->PollsSinceCommand, Chip->Faults.ReadyAfterPolls) ? STATUS_READY : STATUS_BUSY;
  }

  return (Command == REG_DATA) ? Chip->DataLatch : 0x00;
}

VOID
WriteEepromRegister (
  ZK48_CHIP  *Chip,
  UINTN      Command,
  UINT8      Value
  )
{
  switch (Command) {
    case REG_ACCESS:
      Chip->AccessEnabled = (Value == ACCESS_ON);
      break;
    case REG_ADDRESS_HIGH:
      Chip->AddressHigh = Value;
      break;
    case REG_ADDRESS_LOW:
      Chip->AddressLow = Value;
      break;
    case REG_COMMAND:
      if (Value == COMMAND_READ) {
        Chip->DataLatch         = Chip->Eeprom[(((UINTN)Chip->AddressHigh << 8) | Chip->AddressLow) % ZK48_EEPROM_SIZE];
        Chip->ReadPending       = TRUE;
        Chip->PollsSinceCommand = 0;
      }

      break;
    default:
      break;
  }
}

EFI_STATUS
WriteBlock (
  ZK48_CHIP    *Chip,
  UINTN        Command,
  UINTN        Length,
  const UINT8  *Frame,
  BOOLEAN      Ignored
  )
{
  UINTN  Address;

  if ((Command != 0) || (Length != FRAME_SIZE) || (Frame[0] != FRAME_COUNT)) {
    return Chip->Faults.FailStatus;
  }

  Address = ((UINTN)Frame[1] << 8) | Frame[2];
  if (Address + FRAME_DATA_SIZE > ZK48_EEPROM_SIZE) {
    return Chip->Faults.FailStatus;
  }

  //
  // Only a write the chip acknowledges uses the drop up; a refused one
  // leaves it for the retry.
  //
  if (Address == Chip->Faults.DropBlockAt) {
    Chip->Faults.DropBlockAt = ZK48_NEVER;
    Ignored                  = TRUE;
  }

  if (Ignored) {
    Chip->Counts.Ignored++;
    return EFI_SUCCESS;
  }

  for (UINTN Index = 0; Index < FRAME_DATA_SIZE; Index++) {
    Chip->Eeprom[Address + Index] = Frame[3 + Index];
  }

  return EFI_SUCCESS;
}

EFI_STATUS
Respond (
  ZK48_CHIP            *Chip,
  UINTN                Address,
  UINTN                Command,
  EFI_SMBUS_OPERATION  Operation,
  UINTN                Length,
  UINT8                *Buffer,
  ZK48_FAULT_KIND      Fault
  )
{
  BOOLEAN  Ignored = (Fault == Zk48FaultWriteIgnored);

  if ((Operation == EfiSmbusReadByte) && (Length >= 1)) {
    if (Address == CHIP_ID_ADDRESS) {
      Buffer[0] = ReadIdRegister (Chip, Command);
    } else if (Address == CHIP_EEPROM_ADDRESS) {
      Buffer[0] = ReadEepromRegister (Chip, Command);
    } else {
      return Chip->Faults.FailStatus;
    }

    if (Fault == Zk48FaultReadZero) {
      Buffer[0] = 0x00;
    }

    Chip->Counts.ByteReads++;
    return EFI_SUCCESS;
  }

  if ((Operation == EfiSmbusWriteByte) && (Length >= 1) && (Address == CHIP_EEPROM_ADDRESS)) {
    if (Ignored) {
      Chip->Counts.Ignored++;
    } else {
      WriteEepromRegister (Chip, Command, Buffer[0]);
    }

    Chip->Counts.ByteWrites++;
    return EFI_SUCCESS;
  }

  if ((Operation == EfiSmbusWriteBlock) && (Address == CHIP_EEPROM_ADDRESS)) {
    Chip->Counts.BlockWrites++;
    return WriteBlock (Chip, Command, Length, Buffer, Ignored || Chip->Faults.IgnoreBlockWrites);
  }

  return Chip->Faults.FailStatus;
}

} // namespace

VOID
Zk48Reset (
  ZK48_CHIP  *Chip,
  UINT8      McuVersion
  )
{
  *Chip = ZK48_CHIP {};
  for (UINT8 &Byte : Chip->Eeprom) {
    Byte = 0xFF;
  }

  Chip->McuVersion               = McuVersion;
  Chip->DeviceId                 = DEVICE_ID;
  Chip->Faults.DeviceIdFromRead  = 1;
  Chip->Faults.ReadyAfterPolls   = DEFAULT_READY_AFTER_POLLS;
  Chip->Faults.DropBlockAt       = ZK48_NEVER;
  Chip->Faults.FailStatus        = EFI_DEVICE_ERROR;
  Chip->Faults.RefuseEvery       = ZK48_NEVER;
  Chip->Faults.RefuseRate        = { 0, 1 };
  Chip->Faults.IgnoreRate        = { 0, 1 };
  Zk48Seed (Chip, 0);
}

VOID
Zk48Seed (
  ZK48_CHIP  *Chip,
  UINT32     Seed
  )
{
  Chip->Faults.Seed        = Seed;
  Chip->Faults.RandomState = Seed;
}

VOID
Zk48FillPattern (
  ZK48_CHIP  *Chip
  )
{
  for (UINTN Address = 0; Address < ZK48_EEPROM_SIZE; Address++) {
    Chip->Eeprom[Address] = (UINT8)((Address & 0xFF) ^ (UINT8)((Address >> 8) * PATTERN_PAGE_FACTOR));
  }
}

EFI_STATUS
Zk48Execute (
  ZK48_CHIP            *Chip,
  UINTN                Address,
  UINTN                Command,
  EFI_SMBUS_OPERATION  Operation,
  UINTN                *Length,    // NOLINT(readability-non-const-parameter): in and out, as Execute passes it
  UINT8                *Buffer
  )
{
  ZK48_FAULT_KIND  Fault = Zk48FaultNone;
  EFI_STATUS       Status;

  Chip->Counts.Transactions++;
  if (Chip->Counts.Transactions == Chip->Faults.FaultAt) {
    Fault = Chip->Faults.FaultKind;
  }

  if (Fault == Zk48FaultStatusStuck) {
    Chip->StatusStuck = TRUE;
  }

  if (Refused (Chip)) {
    Fault = Zk48FaultNack;
  } else if ((Fault == Zk48FaultNone) && IsWrite (Operation) && Chance (Chip, Chip->Faults.IgnoreRate)) {
    Fault = Zk48FaultWriteIgnored;
  }

  if (Chip->Faults.FailAll || (Fault == Zk48FaultNack) || (Length == nullptr) || (Buffer == nullptr)) {
    Status = Chip->Faults.FailStatus;
  } else {
    Status = Respond (Chip, Address, Command, Operation, *Length, Buffer, Fault);
  }

  if (EFI_ERROR (Status)) {
    Chip->Counts.Failed++;
  }

  return Status;
}

UINT32
Zk48EepromCrc32 (
  const ZK48_CHIP  *Chip
  )
{
  UINT32  Crc = CRC32_INITIAL;

  for (UINT8 Byte : Chip->Eeprom) {
    Crc ^= Byte;
    for (UINTN Bit = 0; Bit < 8; Bit++) {
      Crc = (Crc >> 1) ^ (CRC32_POLYNOMIAL & (0 - (Crc & 1)));
    }
  }

  return ~Crc;
}
