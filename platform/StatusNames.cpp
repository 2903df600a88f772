/** @file
  Status names as the firmware's print library spells them for %r.
**/
#include "platform/PrintLib.h"

namespace {

const CHAR8 *const  mWarningNames[] = {
  "Success",
  "Warning Unknown Glyph",
  "Warning Delete Failure",
  "Warning Write Failure",
  "Warning Buffer Too Small",
  "Warning Stale Data",
  "Warning File System",
  "Warning Reset Required",
};

//
// Error codes 1 to 35, in order; 29 and 30 are reserved and named so.
//
const CHAR8 *const  mErrorNames[] = {
  "Load Error",
  "Invalid Parameter",
  "Unsupported",
  "Bad Buffer Size",
  "Buffer Too Small",
  "Not Ready",
  "Device Error",
  "Write Protected",
  "Out of Resources",
  "Volume Corrupt",
  "Volume Full",
  "No Media",
  "Media changed",
  "Not Found",
  "Access Denied",
  "No Response",
  "No mapping",
  "Time out",
  "Not started",
  "Already started",
  "Aborted",
  "ICMP Error",
  "TFTP Error",
  "Protocol Error",
  "Incompatible Version",
  "Security Violation",
  "CRC Error",
  "End of Media",
  "Reserved (29)",
  "Reserved (30)",
  "End of File",
  "Invalid Language",
  "Compromised Data",
  "IP Address Conflict",
  "HTTP Error",
};

constexpr UINTN  WARNING_COUNT = sizeof (mWarningNames) / sizeof (mWarningNames[0]);
constexpr UINTN  ERROR_COUNT   = sizeof (mErrorNames) / sizeof (mErrorNames[0]);

} // namespace

const CHAR8 *
StatusName (
  EFI_STATUS  Status
  )
{
  if (EFI_ERROR (Status)) {
    UINTN  Code = Status & ~MAX_BIT;
    return ((Code >= 1) && (Code <= ERROR_COUNT)) ? mErrorNames[Code - 1] : nullptr;
  }

  return (Status < WARNING_COUNT) ? mWarningNames[Status] : nullptr;
}
