/** @file
  Reading the whole E2PROM byte by byte with a running percentage, one or
  more passes into buffers the caller owns; a byte read again until two
  reads agree; and the words for a read that did not deliver.
**/
#ifndef UPDATE_EEPROM_READ_H_
#define UPDATE_EEPROM_READ_H_

#include "chip/TconChip.h"
#include "platform/Base.h"
#include "update/Progress.h"

// A whole read of the E2PROM in one or more passes, under one figure from 0 to 100%.
struct EEPROM_READING {
  PROGRESS    Progress;
  UINT32      Passes;
  UINT32      Shown;      // the figure on the screen
};

/** Prints why a read of the version byte ended without it. **/
VOID
ShowEepromReadError (
  CHIP_RESULT  Result
  );

/** Prints the label of a whole read of Passes passes; the figure follows it. **/
VOID
StartEepromReading (
  EEPROM_READING  *Reading,
  UINT32          Passes
  );

/**
  Reads every E2PROM byte into Copy (EEPROM_SIZE bytes), address N at index
  N, as pass Pass (from 0) of the reading: ascending, odd passes descending.
  Returns ChipDone, or why the read stopped; the console then says at which
  address.
**/
CHIP_RESULT
ReadEepromPass (
  EEPROM_READING  *Reading,
  UINT32          Pass,
  UINT8           *Copy
  );

/** Ends the reading's line once every pass is done. **/
VOID
EndEepromReading (
  );

/**
  Reads the byte at Address again until two reads in a row agree, *Value
  holding the last of the Reads reads made so far; EEPROM_AGREEING_READS_LIMIT
  reads in all at most. Returns ChipDone with the agreed byte in *Value, or
  ChipFailed or ChipTimedOut, the console saying why and where.
**/
CHIP_RESULT
ReadAgreeingByte (
  UINT16  Address,
  UINTN   Reads,
  UINT8   *Value
  );

#endif
