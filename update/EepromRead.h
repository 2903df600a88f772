/** @file
  Reading the whole E2PROM byte by byte with a running percentage, and
  the words for a read that did not deliver.
**/
#ifndef UPDATE_EEPROM_READ_H_
#define UPDATE_EEPROM_READ_H_

#include "chip/TconChip.h"
#include "platform/Base.h"

// What the last whole read delivered, address N at index N.
extern UINT8  mEepromCopy[EEPROM_SIZE];

/** Prints why a read of the version byte ended without it. **/
VOID
ShowEepromReadError (
  EEPROM_READ_RESULT  Result
  );

/**
  Reads every E2PROM byte, ascending, into mEepromCopy while the figure
  runs to 100%. Returns EepromReadDone, or why the read stopped; the
  console then says at which address.
**/
EEPROM_READ_RESULT
ReadWholeEeprom (
  );

#endif
