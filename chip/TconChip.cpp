/** @file
  The ZK48's register protocol, built from single SMBus byte transactions
  and one block write.
**/
#include "chip/TconChip.h"
#include "chip/SmbusAccess.h"
#include "chip/TconAddress.h"
#include "platform/UefiLib.h"

UINT8   mBlockFrame[BLOCK_FRAME_SIZE];
UINT32  mTransactionsSent;
UINT32  mTransactionsRefused;

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

/**
  Counts a transaction sent, Attempt times so far in a row, and whether the
  bus refused it. TRUE: refused, to be sent again. Every transaction the
  tool sends is idempotent: a register written again holds the same value,
  a register read again gives what it holds, a block frame sent again
  stores the same bytes.
**/
BOOLEAN
SendAgain (
  BOOLEAN  Done,
  UINTN    Attempt
  )
{
  mTransactionsSent++;
  if (Done) {
    return FALSE;
  }

  mTransactionsRefused++;
  return (Attempt < CHIP_ATTEMPTS) && (mTransactionsRefused < CHIP_REFUSALS_LIMIT);
}

/** Counts a transaction that is tried once, whatever it meets. **/
EFI_STATUS
Counted (
  EFI_STATUS  Status
  )
{
  (VOID)SendAgain (!EFI_ERROR (Status), CHIP_ATTEMPTS);
  return Status;
}

CHIP_RESULT
WriteRegister (
  UINT8  Register,
  UINT8  Value
  )
{
  UINTN    Attempt = 0;
  BOOLEAN  Done;

  do {
    Done = SmbusWriteByte (Register, Value);
  } while (SendAgain (Done, ++Attempt));

  return Done ? ChipDone : ChipRefused;
}

CHIP_RESULT
ReadRegister (
  UINT8  BusAddress,
  UINT8  Register,
  UINT8  *Value
  )
{
  UINTN    Attempt = 0;
  BOOLEAN  Done;

  do {
    Done = SmbusTryReadByte (BusAddress, Register, Value);
  } while (SendAgain (Done, ++Attempt));

  return Done ? ChipDone : ChipRefused;
}

/** Gives the chip the address to read and starts the read. **/
CHIP_RESULT
StartEepromRead (
  UINT16  Address
  )
{
  CHIP_RESULT  Result = WriteRegister (R_EEPROM_ADDRESS_HI, (UINT8)(Address >> 8));

  if (Result == ChipDone) {
    Result = WriteRegister (R_EEPROM_ADDRESS_LO, (UINT8)(Address & 0xFF));
  }

  return (Result == ChipDone) ? WriteRegister (R_EEPROM_COMMAND, V_EEPROM_CMD_READ) : Result;
}

/** Polls the completion flag, at most EEPROM_READ_POLL_LIMIT times. **/
CHIP_RESULT
WaitForEepromData (
  )
{
  for (UINTN Poll = 0; Poll < EEPROM_READ_POLL_LIMIT; Poll++) {
    UINT8        Status = 0;
    CHIP_RESULT  Result = ReadRegister (BusAddressOf (TCON_EEPROM_ADDRESS), R_EEPROM_STATUS, &Status);

    if (Result != ChipDone) {
      return Result;
    }

    if ((Status & B_EEPROM_DATA_READY) != 0) {
      return ChipDone;
    }
  }

  return ChipTimedOut;
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
  //
  // What a run counts is the bus the chip answers on: a check through a
  // host controller with nothing behind it is the scan's course, not a bus
  // that is not perfect.
  //
  mTransactionsSent    = 0;
  mTransactionsRefused = 0;
  *Check               = DEVICE_ID_CHECK {};
  WriteRegister (R_EEPROM_ACCESS, V_EEPROM_ACCESS_ON);
  for (UINTN Read = 0; Read < DEVICE_ID_READS; Read++) {
    UINT8       Value  = 0;
    EFI_STATUS  Status = Counted (SmbusReadByteStatus (BusAddressOf (TCON_ID_ADDRESS), R_TCON_DEVICE_ID, &Value));

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
  CHIP_RESULT  Result = StartEepromRead (Address);

  if (Result == ChipDone) {
    Result = WaitForEepromData ();
  }

  return (Result == ChipDone) ? ReadRegister (BusAddressOf (TCON_EEPROM_ADDRESS), R_EEPROM_DATA, Value) : Result;
}

CHIP_RESULT
ReadEepromVersion (
  UINT8  *Version
  )
{
  return ReadEepromByte (EEPROM_VERSION_ADDRESS, Version);
}

CHIP_RESULT
ReadMcuVersion (
  UINT8  *Version
  )
{
  return ReadRegister (BusAddressOf (TCON_ID_ADDRESS), R_TCON_MCU_VERSION, Version);
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
  // A refused attempt may have started a write cycle: the next waits it out.
  //
  for (UINTN Attempt = 1; ; Attempt++) {
    BOOLEAN  Done = SmbusWriteBlock (mBlockFrame, BLOCK_FRAME_SIZE);

    if (!SendAgain (Done, Attempt)) {
      return Done ? ChipDone : ChipRefused;
    }

    gBS->Stall (BLOCK_WRITE_PAUSE_US);
  }
}
