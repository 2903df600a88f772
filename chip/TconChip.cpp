/** @file
  The ZK48's register protocol, built from single SMBus byte transactions
  and one block write.
**/
#include "chip/TconChip.h"
#include "chip/SmbusAccess.h"
#include "chip/TconAddress.h"
#include "platform/UefiLib.h"

UINT8   mBlockFrame[BLOCK_FRAME_SIZE];
UINT32  mTransactionsResent;

namespace {

//
// At 0x23: identity and MCU.
//
constexpr UINT8  R_TCON_DEVICE_ID     = 0x02;
constexpr UINT8  R_TCON_MCU_VERSION   = 0xC0;

//
// At 0x21: the E2PROM read interface.
//
constexpr UINT8  R_EEPROM_ACCESS      = 0xB1;
constexpr UINT8    V_EEPROM_ACCESS_ON = 0x08;
constexpr UINT8  R_EEPROM_ADDRESS_HI  = 0xB2;
constexpr UINT8  R_EEPROM_ADDRESS_LO  = 0xB3;
constexpr UINT8  R_EEPROM_COMMAND     = 0xB5;
constexpr UINT8    V_EEPROM_CMD_READ  = 0x02;
constexpr UINT8  R_EEPROM_DATA        = 0xB6;
constexpr UINT8  R_EEPROM_STATUS      = 0xB7;
constexpr UINT8    B_EEPROM_DATA_READY = 0x80;

// The count byte that opens a block-write frame: the frame bytes after it.
constexpr UINT8  BLOCK_FRAME_COUNT = (UINT8)(BLOCK_FRAME_SIZE - 1);

/** Gives the chip the address to read and starts the read; FALSE when a write failed. **/
BOOLEAN
StartEepromRead (
  UINT16  Address
  )
{
  return SmbusWriteByte (R_EEPROM_ADDRESS_HI, (UINT8)(Address >> 8))
         && SmbusWriteByte (R_EEPROM_ADDRESS_LO, (UINT8)(Address & 0xFF))
         && SmbusWriteByte (R_EEPROM_COMMAND, V_EEPROM_CMD_READ);
}

/**
  Polls the completion flag, at most EEPROM_READ_POLL_LIMIT times. A poll
  the bus refuses counts as "not yet", so that one stray error does not end
  the read; when the last poll was refused too, the bus is gone rather than
  the chip slow.
**/
CHIP_RESULT
WaitForEepromData (
  )
{
  BOOLEAN  Answered = FALSE;

  for (UINTN Poll = 0; Poll < EEPROM_READ_POLL_LIMIT; Poll++) {
    UINT8  Status = 0;

    Answered = SmbusTryReadByte (BusAddressOf (TCON_EEPROM_ADDRESS), R_EEPROM_STATUS, &Status);
    if ((Status & B_EEPROM_DATA_READY) != 0) {
      return ChipDone;
    }
  }

  return Answered ? ChipTimedOut : ChipFailed;
}

/**
  One attempt at the byte at Address. *Refused: TRUE when a transaction the
  bus refused ended it, so that the read may start over; FALSE when the
  completion wait ran out, having already waited its bound.
**/
CHIP_RESULT
TryReadEepromByte (
  UINT16   Address,
  UINT8    *Value,
  BOOLEAN  *Refused
  )
{
  CHIP_RESULT  Result;

  //
  // A write the chip did not take would leave it reading another address,
  // and a failed data read delivers nothing: the byte did not arrive.
  //
  *Refused = TRUE;
  if (!StartEepromRead (Address)) {
    return ChipFailed;
  }

  Result = WaitForEepromData ();
  if (Result != ChipDone) {
    *Refused = FALSE;
    return Result;
  }

  return SmbusTryReadByte (BusAddressOf (TCON_EEPROM_ADDRESS), R_EEPROM_DATA, Value) ? ChipDone : ChipFailed;
}

VOID
RecordRefusal (
  DEVICE_ID_CHECK  *Check,
  EFI_STATUS       Status
  )
{
  if (Check->Refused == 0) {
    Check->RefusedStatus = Status;
    Check->RefusedAlike  = TRUE;
  } else if (Status != Check->RefusedStatus) {
    Check->RefusedAlike = FALSE;
  }

  Check->Refused++;
}

} // namespace

BOOLEAN
CheckTconDeviceId (
  DEVICE_ID_CHECK  *Check
  )
{
  *Check = DEVICE_ID_CHECK {};
  SmbusWriteByte (R_EEPROM_ACCESS, V_EEPROM_ACCESS_ON);
  for (UINTN Read = 0; Read < DEVICE_ID_READS; Read++) {
    UINT8       Value  = 0;
    EFI_STATUS  Status = SmbusReadByteStatus (BusAddressOf (TCON_ID_ADDRESS), R_TCON_DEVICE_ID, &Value);

    if (!EFI_ERROR (Status)) {
      Check->Values[Check->Answered++] = Value;
      if (Value == TCON_DEVICE_ID) {
        return TRUE;
      }
    } else {
      RecordRefusal (Check, Status);
    }
  }

  return FALSE;
}

CHIP_RESULT
ReadEepromByte (
  UINT16  Address,
  UINT8   *Value
  )
{
  BOOLEAN      Refused;
  CHIP_RESULT  Result = TryReadEepromByte (Address, Value, &Refused);

  for (UINTN Attempt = 1; (Result == ChipFailed) && Refused && (Attempt < CHIP_ATTEMPTS); Attempt++) {
    mTransactionsResent++;
    Result = TryReadEepromByte (Address, Value, &Refused);
  }

  return Result;
}

CHIP_RESULT
ReadEepromVersion (
  UINT8  *Version
  )
{
  return ReadEepromByte (EEPROM_VERSION_ADDRESS, Version);
}

UINT8
ReadMcuVersion (
  )
{
  return SmbusReadByte (BusAddressOf (TCON_ID_ADDRESS), R_TCON_MCU_VERSION);
}

CHIP_RESULT
WriteEepromBlock (
  UINT16       Address,
  const UINT8  *Data
  )
{
  mBlockFrame[0] = BLOCK_FRAME_COUNT;
  mBlockFrame[1] = (UINT8)(Address >> 8);
  mBlockFrame[2] = (UINT8)(Address & 0xFF);
  for (UINTN Index = 0; Index < EEPROM_BLOCK_SIZE; Index++) {
    mBlockFrame[3 + Index] = Data[Index];
  }

  //
  // The same frame to the same address stores the same bytes: sending it
  // again is safe, once the write cycle a refused attempt may have started
  // has had its time.
  //
  for (UINTN Attempt = 1; !SmbusWriteBlock (mBlockFrame, BLOCK_FRAME_SIZE); Attempt++) {
    if (Attempt == CHIP_ATTEMPTS) {
      return ChipFailed;
    }

    gBS->Stall (BLOCK_WRITE_PAUSE_US);
    mTransactionsResent++;
  }

  return ChipDone;
}
