/** @file
  The device-ID checks a controller scan ran, kept so that a scan that
  ends without the chip can show where it asked and what answered.
**/
#ifndef CHIP_SCAN_RECORD_H_
#define CHIP_SCAN_RECORD_H_

#include "chip/TconChip.h"
#include "platform/Base.h"

// The checks shown one by one; any after them are only counted.
constexpr UINTN  SCAN_CHECKS_SHOWN = 4;

// One device-ID check: behind which controller, on which SMBus base, through which driver, and what it saw.
struct SCAN_CHECK {
  INT32              Bus;
  INT32              Dev;
  INT32              Func;
  UINT64             SmbusBase;
  UINTN              Driver;    // the SMBus host-controller instance, from 1, in the firmware's order
  DEVICE_ID_CHECK    Check;
};

struct SCAN_RECORD {
  SCAN_CHECK    Checks[SCAN_CHECKS_SHOWN];
  UINTN         Count;     // every check the scan ran, kept or not
  UINTN         Drivers;   // the instances each check could go through; a line names its own only when there are several
};

/** Adds Entry to Record; past SCAN_CHECKS_SHOWN it is only counted. **/
VOID
KeepScanCheck (
  SCAN_RECORD       *Record,
  const SCAN_CHECK  *Entry
  );

/** Shows one line for each kept check, then how many more ran. **/
VOID
ShowScanChecks (
  const SCAN_RECORD  *Record
  );

#endif
