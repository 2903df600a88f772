/** @file
  The ZK48's own operations: confirm its identity, read any E2PROM byte
  (the version byte among them) and the MCU version, and write one 8-byte
  E2PROM block.
  None prints; none returns a firmware status.
**/
#ifndef CHIP_TCON_CHIP_H_
#define CHIP_TCON_CHIP_H_

#include "platform/Base.h"

constexpr UINTN   EEPROM_SIZE            = 0x2000;
constexpr UINTN   EEPROM_BLOCK_SIZE      = 8;
constexpr UINT16  EEPROM_VERSION_ADDRESS = 0x112F;

// The block-write frame: a count byte, the address high then low, 8 data bytes.
constexpr UINTN  BLOCK_FRAME_SIZE = 3 + EEPROM_BLOCK_SIZE;

// Enough for any chip to finish an E2PROM read; a chip that never does ends the wait.
constexpr UINTN  EEPROM_READ_POLL_LIMIT = 10000;

extern UINT8  mBlockFrame[BLOCK_FRAME_SIZE];

enum EEPROM_READ_RESULT {
  EepromReadDone,      // the byte arrived
  EepromReadTimeout,   // the chip never signalled the byte ready
  EepromReadFailed     // a transaction of the read failed on the bus
};

// The value the ZK48 gives at its device-ID register.
constexpr UINT8  TCON_DEVICE_ID = 0x11;

// The chip may need a few tries before its identity answers.
constexpr UINTN  DEVICE_ID_READS = 6;

//
// What one device-ID check saw, so that a scan without the chip can say
// what answered instead.
//
struct DEVICE_ID_CHECK {
  UINT8         Values[DEVICE_ID_READS];   // the bytes the answered reads gave, in order
  UINTN         Answered;                  // how many of Values were read
  UINTN         Refused;                   // reads the bus refused
  EFI_STATUS    RefusedStatus;             // the status of the first refusal
  BOOLEAN       RefusedAlike;              // every refusal had that status
};

/**
  Returns TRUE when the chip answers with its device ID. *Check receives
  every read the check made.
**/
BOOLEAN
CheckTconDeviceId (
  DEVICE_ID_CHECK  *Check
  );

/**
  Reads the E2PROM byte at Address into *Value. Returns EepromReadDone, or
  why the byte did not arrive, leaving *Value alone.
**/
EEPROM_READ_RESULT
ReadEepromByte (
  UINT16  Address,
  UINT8   *Value
  );

/** Reads the E2PROM's version byte into *Version, as ReadEepromByte does. **/
EEPROM_READ_RESULT
ReadEepromVersion (
  UINT8  *Version
  );

/** Returns the MCU version the chip reports now. **/
UINT8
ReadMcuVersion (
  );

/**
  Writes the 8 bytes of Data to the E2PROM at Address. Returns TRUE when
  the host controller reported the block write done.
**/
BOOLEAN
WriteEepromBlock (
  UINT16       Address,
  const UINT8  *Data
  );

#endif
