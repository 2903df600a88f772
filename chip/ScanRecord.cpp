/** @file
  What a scan without the chip tells the technician about each device-ID
  check: a bus that refuses every read (nothing at the address) reads
  differently from a device that answers with another ID.
**/
#include "chip/ScanRecord.h"
#include "platform/PrintLib.h"

namespace {

BOOLEAN
AllAnsweredAlike (
  const DEVICE_ID_CHECK  *Check
  )
{
  for (UINTN Index = 1; Index < Check->Answered; Index++) {
    if (Check->Values[Index] != Check->Values[0]) {
      return FALSE;
    }
  }

  return Check->Refused == 0;
}

VOID
ShowValuesRead (
  const DEVICE_ID_CHECK  *Check
  )
{
  if (AllAnsweredAlike (Check)) {
    Print ("all answered 0x%2.2X", Check->Values[0]);
    return;
  }

  Print ("answered");
  for (UINTN Index = 0; Index < Check->Answered; Index++) {
    Print (" 0x%2.2X", Check->Values[Index]);
  }
}

VOID
ShowRefusals (
  const DEVICE_ID_CHECK  *Check
  )
{
  if (Check->Answered == 0) {
    Print ("all refused");
  } else {
    Print (", %d refused", (UINT32)Check->Refused);
  }

  Print (" (%r%a)", Check->RefusedStatus, Check->RefusedAlike ? "" : ", and other statuses");
}

VOID
ShowScanCheck (
  const SCAN_RECORD  *Record,
  const SCAN_CHECK   *Entry
  )
{
  const DEVICE_ID_CHECK  *Check = &Entry->Check;

  Print (" Device ID check at %2.2X:%2.2X.%X (SMBus 0x%lX", Entry->Bus, Entry->Dev, Entry->Func, Entry->SmbusBase);
  if (Record->Drivers > 1) {
    Print (", driver %d of %d", (UINT32)Entry->Driver, (UINT32)Record->Drivers);
  }

  Print ("): %d reads, ", (UINT32)(Check->Answered + Check->Refused));
  if (Check->Answered != 0) {
    ShowValuesRead (Check);
  }

  if (Check->Refused != 0) {
    ShowRefusals (Check);
  }

  Print ("; the ZK48 answers 0x%2.2X.\n", TCON_DEVICE_ID);
}

} // namespace

VOID
KeepScanCheck (
  SCAN_RECORD       *Record,
  const SCAN_CHECK  *Entry
  )
{
  if (Record->Count < SCAN_CHECKS_SHOWN) {
    Record->Checks[Record->Count] = *Entry;
  }

  Record->Count++;
}

VOID
ShowScanChecks (
  const SCAN_RECORD  *Record
  )
{
  UINTN  Shown = (Record->Count < SCAN_CHECKS_SHOWN) ? Record->Count : SCAN_CHECKS_SHOWN;

  for (UINTN Index = 0; Index < Shown; Index++) {
    ShowScanCheck (Record, &Record->Checks[Index]);
  }

  if (Record->Count > SCAN_CHECKS_SHOWN) {
    Print (" And %d more device ID check(s), not shown.\n", (UINT32)(Record->Count - SCAN_CHECKS_SHOWN));
  }
}
