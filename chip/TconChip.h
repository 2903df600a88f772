/** @file
  The ZK48's own operations: confirm its identity, read the E2PROM's
  version byte and the MCU version, and write one 8-byte E2PROM block.
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

/** Returns TRUE when the chip answers with its device ID. **/
BOOLEAN
CheckTconDeviceId (
  );

/**
  Reads the E2PROM byte at the version address into *Version. Returns
  FALSE, leaving *Version alone, when the byte did not arrive: the chip
  never signalled it ready, or a transaction of the read failed.
**/
BOOLEAN
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
