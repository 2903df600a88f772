/** @file
  The wire time of SMBus transfers, in bit times and in microseconds.
**/
#include "sim/Zk48Wire.h"

namespace {

constexpr UINT64  START_BIT_TIMES          = 1;
constexpr UINT64  REPEATED_START_BIT_TIMES = 1;
constexpr UINT64  STOP_BIT_TIMES           = 1;
constexpr UINT64  BYTE_BIT_TIMES           = 9;   // 8 bits and the acknowledge
constexpr UINT64  MICROSECONDS_PER_MS      = 1000;

// The parts of a transfer, in bytes on the wire.
constexpr UINT64  ADDRESS = 1;   // the 7-bit address and the R/W bit
constexpr UINT64  COMMAND = 1;
constexpr UINT64  COUNT   = 1;   // a block's byte count
constexpr UINT64  BYTE    = 1;   // a data byte, or the PEC
constexpr UINT64  WORD    = 2;

//
// The bytes of a transfer, the address counted each time it is sent, and
// whether a repeated start turns the bus round for the answer.
//
struct TRANSFER_SHAPE {
  UINT64     Bytes;
  BOOLEAN    Repeated;
};

/** The shape of Operation, or Bytes 0 for a transfer not timed here. **/
TRANSFER_SHAPE
ShapeOf (
  EFI_SMBUS_OPERATION  Operation,
  UINTN                Length
  )
{
  BOOLEAN  BlockFits = (Length >= 1) && (Length <= ZK48_WIRE_MAX_BLOCK);

  switch (Operation) {
    case EfiSmbusQuickRead:
    case EfiSmbusQuickWrite:
      return { ADDRESS, FALSE };
    case EfiSmbusReceiveByte:
    case EfiSmbusSendByte:
      return { ADDRESS + BYTE, FALSE };
    case EfiSmbusReadByte:
      return { ADDRESS + COMMAND + ADDRESS + BYTE, TRUE };
    case EfiSmbusWriteByte:
      return { ADDRESS + COMMAND + BYTE, FALSE };
    case EfiSmbusReadWord:
      return { ADDRESS + COMMAND + ADDRESS + WORD, TRUE };
    case EfiSmbusWriteWord:
      return { ADDRESS + COMMAND + WORD, FALSE };
    case EfiSmbusProcessCall:
      return { ADDRESS + COMMAND + WORD + ADDRESS + WORD, TRUE };
    case EfiSmbusReadBlock:
      return { BlockFits ? ADDRESS + COMMAND + ADDRESS + COUNT + Length : 0, TRUE };
    case EfiSmbusWriteBlock:
      return { BlockFits ? ADDRESS + COMMAND + COUNT + Length : 0, FALSE };
    default:
      return { 0, FALSE };
  }
}

} // namespace

UINT64
Zk48WireBitTimes (
  EFI_SMBUS_OPERATION  Operation,
  UINTN                Length,
  BOOLEAN              PecCheck
  )
{
  TRANSFER_SHAPE  Shape = ShapeOf (Operation, Length);
  BOOLEAN         Quick = (Operation == EfiSmbusQuickRead) || (Operation == EfiSmbusQuickWrite);

  if (Shape.Bytes == 0) {
    return 0;
  }

  if (PecCheck && !Quick) {
    Shape.Bytes += BYTE;
  }

  return START_BIT_TIMES + (Shape.Bytes * BYTE_BIT_TIMES) + (Shape.Repeated ? REPEATED_START_BIT_TIMES : 0) + STOP_BIT_TIMES;
}

UINTN
Zk48WireMicroseconds (
  ZK48_WIRE  *Wire,
  UINT64     BitTimes
  )
{
  UINT64  Owed;

  if (Wire->Khz == 0) {
    return 0;
  }

  //
  // One bit time is 1000 / Khz microseconds: count in 1/Khz microseconds,
  // hand out the whole ones and keep the rest.
  //
  Owed        = (BitTimes * MICROSECONDS_PER_MS) + Wire->Carry;
  Wire->Carry = (UINT32)(Owed % Wire->Khz);
  return (UINTN)(Owed / Wire->Khz);
}
