/** @file
  Reading E2PROM bytes that can be trusted: the running percentage of a
  whole read, the trail of reads that tells whether a read is proven, one
  byte read until two reads agree, and the words for a read that did not
  deliver.
**/
#ifndef UPDATE_EEPROM_READ_H_
#define UPDATE_EEPROM_READ_H_

#include "chip/TconChip.h"
#include "platform/Base.h"
#include "update/Progress.h"

// A whole read of the E2PROM, two reads of every byte, under one figure from 0 to 100%.
struct EEPROM_READING {
  PROGRESS    Progress;
  UINT32      Shown;      // the figure on the screen
};

// For the error line of a read whose address says nothing to the technician (the version byte).
constexpr UINT32  NO_EEPROM_ADDRESS = 0xFFFFFFFF;

//
// An E2PROM address and a byte of the same page (high byte) or of the same
// column (low byte) are neighbours: EEPROM_NEIGHBOUR_SLOTS slots give the
// column's bytes, then the page's, the address itself among them.
//
constexpr UINT32  EEPROM_PAGE_SIZE       = 0x100;
constexpr UINT32  EEPROM_PAGE_COUNT      = EEPROM_SIZE / EEPROM_PAGE_SIZE;
constexpr UINT32  EEPROM_NEIGHBOUR_SLOTS = EEPROM_PAGE_COUNT + EEPROM_PAGE_SIZE;

/** The address in Slot (below EEPROM_NEIGHBOUR_SLOTS) of Address's column and page. **/
UINT16
EepromNeighbour (
  UINT16  Address,
  UINT32  Slot
  );

/**
  Finds the Skip-th (from 0) neighbour of Address that Known (EEPROM_SIZE
  bytes) says holds another value than each of the Count Values. Returns
  FALSE when there is none such.
**/
BOOLEAN
FindEepromNeighbourApart (
  const UINT8  *Known,
  UINT16       Address,
  const UINT8  *Values,
  UINTN        Count,
  UINTN        Skip,
  UINT16       *Apart
  );

// The read made last: what the next read is proven against.
struct READ_TRAIL {
  UINT16     Address;
  UINT8      Value;
  BOOLEAN    Started;    // a read has delivered
};

/**
  Reads the byte at Address into *Value. *Proven: TRUE when the read came
  right after a read of a neighbour (or of Address itself) and delivered
  another value than that read did. Returns as ReadEepromByte does.
**/
CHIP_RESULT
TrailRead (
  READ_TRAIL  *Trail,
  UINT16      Address,
  UINT8       *Value,
  BOOLEAN     *Proven
  );

/**
  Reads the byte at Address again, Earlier holding the Reads reads made so
  far, until a read agrees with an earlier one and is proven; when Known
  says no neighbour holds another value (or Known is NULL), until two reads
  agree. EEPROM_AGREEING_READS_LIMIT reads in all at most. Returns ChipDone
  with the byte in *Value, or why not. *Disagreed is set when a read
  differed from the first.
**/
CHIP_RESULT
ConfirmEepromByte (
  READ_TRAIL   *Trail,
  UINT16       Address,
  const UINT8  *Known,
  const UINT8  *Earlier,
  UINTN        Reads,
  UINT8        *Value,
  BOOLEAN      *Disagreed
  );

/**
  Prints why a read ended without its byte: the address unless it is
  NO_EEPROM_ADDRESS, and what the bus refused when it refused.
**/
VOID
ShowEepromReadError (
  CHIP_RESULT  Result,
  UINT32       Address
  );

/** Prints the label of a whole read; the figure follows it. **/
VOID
StartEepromReading (
  EEPROM_READING  *Reading
  );

/** Draws the figure once Done reads of the whole read's two are made, when it changed. **/
VOID
ShowEepromReading (
  EEPROM_READING  *Reading,
  UINT32          Done
  );

/** Ends the reading's line once every pass is done. **/
VOID
EndEepromReading (
  );

#endif
