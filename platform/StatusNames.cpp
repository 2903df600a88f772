/** @file
  Status names as the firmware's print library spells them for %r.
**/
#include "platform/PrintLib.h"

namespace {

const CHAR16 *const  mWarningNames[] = {
  u"Success",
  u"Warning Unknown Glyph",
  u"Warning Delete Failure",
  u"Warning Write Failure",
  u"Warning Buffer Too Small",
  u"Warning Stale Data",
  u"Warning File System",
  u"Warning Reset Required",
};

//
// Error codes 1 to 35, in order; 29 and 30 are reserved and named so.
//
const CHAR16 *const  mErrorNames[] = {
  u"Load Error",
  u"Invalid Parameter",
  u"Unsupported",
  u"Bad Buffer Size",
  u"Buffer Too Small",
  u"Not Ready",
  u"Device Error",
  u"Write Protected",
  u"Out of Resources",
  u"Volume Corrupt",
  u"Volume Full",
  u"No Media",
  u"Media changed",
  u"Not Found",
  u"Access Denied",
  u"No Response",
  u"No mapping",
  u"Time out",
  u"Not started",
  u"Already started",
  u"Aborted",
  u"ICMP Error",
  u"TFTP Error",
  u"Protocol Error",
  u"Incompatible Version",
  u"Security Violation",
  u"CRC Error",
  u"End of Media",
  u"Reserved (29)",
  u"Reserved (30)",
  u"End of File",
  u"Invalid Language",
  u"Compromised Data",
  u"IP Address Conflict",
  u"HTTP Error",
};

constexpr UINTN  WARNING_COUNT = sizeof (mWarningNames) / sizeof (mWarningNames[0]);
constexpr UINTN  ERROR_COUNT   = sizeof (mErrorNames) / sizeof (mErrorNames[0]);

} // namespace

const CHAR16 *
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
