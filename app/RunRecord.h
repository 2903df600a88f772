/** @file
  The record of a run: one line appended to the file that -l names, saying
  in key=value words of plain ASCII when the run began, what it was asked,
  where it found the chip, what it read and how it ended.
**/
#ifndef APP_RUN_RECORD_H_
#define APP_RUN_RECORD_H_

#include "platform/Base.h"
#include "platform/SystemTable.h"
#include "update/ChipUpdate.h"
#include "update/EepromBackup.h"
#include "update/ImageCompare.h"

// What a record knows: the bits of RUN_RECORD.Known.
constexpr UINT8  RECORD_START_TIME = 0x01;
constexpr UINT8  RECORD_CHIP_FOUND = 0x02;   // mBus, mDev, mFunc and mSmbAddr name its controller
constexpr UINT8  RECORD_BEFORE     = 0x04;   // Versions.Current was read
constexpr UINT8  RECORD_IMAGE_CRC  = 0x08;   // ImageCrc, the update's image

struct RUN_RECORD {
  const CHAR16    *LogName;       // the file -l names; nullptr: the run keeps no record
  const CHAR8     *Command;       // "update", "version", "backup" or "compare"
  const CHAR16    *FileName;      // the command's file; nullptr for -v
  UINT8           Known;
  UPDATE_VERSIONS Versions;       // Current: the version before the run (-v: the E2PROM's); ReadBack: after an update
  UINT32          ImageCrc;
  IMAGE_COMPARE   Compare;        // what -c did
  EFI_TIME        Start;          // all zero when the firmware gave no time
  EEPROM_BACKUP   Backup;         // what -d did; last, for its name's buffer
};

/** Notes the time the run began, when the firmware tells it. **/
VOID
StartRunRecord (
  RUN_RECORD  *Record
  );

/**
  Appends Record's line, with RunStatus and the time since StartRunRecord,
  to the file Record->LogName, created when missing. Returns the exit
  status: RunStatus when the line was written or RunStatus is itself an
  error; otherwise why the line could not be written, which the console
  shows in either case.
**/
EFI_STATUS
WriteRunRecord (
  const RUN_RECORD  *Record,
  EFI_STATUS        RunStatus
  );

#endif
