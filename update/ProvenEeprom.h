/** @file
  The whole E2PROM read that a backup saves and a comparison judges: every
  byte one the tool has proven it read from its address, whatever the
  bytes around it hold.
**/
#ifndef UPDATE_PROVEN_EEPROM_H_
#define UPDATE_PROVEN_EEPROM_H_

#include "chip/TconChip.h"
#include "platform/Base.h"

/**
  Reads every E2PROM byte into Content (EEPROM_SIZE bytes, address N at
  index N), Second serving as the second pass's (EEPROM_SIZE bytes), with
  one running figure. Returns ChipDone with *BytesReread the bytes whose
  reads differed; else why the read stopped, the console saying where.
**/
CHIP_RESULT
ReadProvenEeprom (
  UINT8   *Content,
  UINT8   *Second,
  UINT32  *BytesReread
  );

#endif
