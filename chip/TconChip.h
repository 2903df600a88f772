/** @file
  The ZK48's own operations: confirm its identity, read any E2PROM byte
  (the version byte among them) and the MCU version, and write one 8-byte
  E2PROM block. Every transaction is counted; one the bus refuses is sent
  again, a bounded number of times.
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

// The E2PROM's write cycle needs this long after each block.
constexpr UINTN  BLOCK_WRITE_PAUSE_US = 4000;

//
// How hard the tool tries. The SMBus is shared and the chip may be busy, so
// a refused transaction is sent again; the chip protocol carries no
// checksum, so a byte that must be trusted is read until two reads agree.
//
// Enough for any chip to finish an E2PROM read; a chip that never does ends the wait.
constexpr UINTN  EEPROM_READ_POLL_LIMIT = 10000;
// Each transaction at most this many times in a row while the bus refuses it.
constexpr UINTN  CHIP_ATTEMPTS = 5;
// Refusals a run sends again at most: a bus that refuses more is failing, not noisy.
constexpr UINT32  CHIP_REFUSALS_LIMIT = 4096;
// Reads of one E2PROM byte, among which two must agree.
constexpr UINTN  EEPROM_AGREEING_READS_LIMIT = 5;

extern UINT8  mBlockFrame[BLOCK_FRAME_SIZE];

// Chip transactions sent since the run began, and how many of them the bus refused.
extern UINT32  mTransactionsSent;
extern UINT32  mTransactionsRefused;

// How a chip operation ended; the same for every operation and every layer above.
enum CHIP_RESULT {
  ChipDone,       // the chip did what was asked
  ChipTimedOut,   // the chip never signalled an E2PROM byte ready
  ChipRefused,    // the bus refused a transaction CHIP_ATTEMPTS times in a row, or past the run's CHIP_REFUSALS_LIMIT
  ChipFailed      // the chip's answers cannot be trusted
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
  Reads the E2PROM byte at Address into *Value: the address, the read
  command, the completion polls and the data byte, each transaction sent
  again while the bus refuses it. Returns ChipDone, or why the byte did not
  arrive, leaving *Value alone.
**/
CHIP_RESULT
ReadEepromByte (
  UINT16  Address,
  UINT8   *Value
  );

/** Reads the E2PROM's version byte into *Version, as ReadEepromByte does. **/
CHIP_RESULT
ReadEepromVersion (
  UINT8  *Version
  );

/** Reads the MCU version the chip reports now into *Version, as ReadEepromByte reads. **/
CHIP_RESULT
ReadMcuVersion (
  UINT8  *Version
  );

/**
  Writes the 8 bytes of Data to the E2PROM at Address; a refused frame is
  sent again after the write-cycle pause. Returns ChipDone when the host
  controller reported one of them done, else ChipRefused.
**/
CHIP_RESULT
WriteEepromBlock (
  UINT16       Address,
  const UINT8  *Data
  );

#endif
