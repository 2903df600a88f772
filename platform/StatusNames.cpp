/** @file
  Status names as the firmware's print library spells them for %r.
**/
#include "platform/PrintLib.h"

namespace {

//
// Each list is one string of names, each ended by its own terminator: a
// table of pointers would cost more than the names' own bytes, and a
// relocation each, in an image whose size is a budget.
//
constexpr CHAR8  mWarningNames[] =
  "Success\0"
  "Warning Unknown Glyph\0"
  "Warning Delete Failure\0"
  "Warning Write Failure\0"
  "Warning Buffer Too Small\0"
  "Warning Stale Data\0"
  "Warning File System\0"
  "Warning Reset Required\0";

//
// Error codes 1 to 35, in order; 29 and 30 are reserved and named so.
//
constexpr CHAR8  mErrorNames[] =
  "Load Error\0"
  "Invalid Parameter\0"
  "Unsupported\0"
  "Bad Buffer Size\0"
  "Buffer Too Small\0"
  "Not Ready\0"
  "Device Error\0"
  "Write Protected\0"
  "Out of Resources\0"
  "Volume Corrupt\0"
  "Volume Full\0"
  "No Media\0"
  "Media changed\0"
  "Not Found\0"
  "Access Denied\0"
  "No Response\0"
  "No mapping\0"
  "Time out\0"
  "Not started\0"
  "Already started\0"
  "Aborted\0"
  "ICMP Error\0"
  "TFTP Error\0"
  "Protocol Error\0"
  "Incompatible Version\0"
  "Security Violation\0"
  "CRC Error\0"
  "End of Media\0"
  "Reserved (29)\0"
  "Reserved (30)\0"
  "End of File\0"
  "Invalid Language\0"
  "Compromised Data\0"
  "IP Address Conflict\0"
  "HTTP Error\0";

constexpr UINTN  WARNING_COUNT = 8;
constexpr UINTN  ERROR_COUNT   = 35;

/** The name at Index (from 0) in Names. **/
constexpr const CHAR8 *
NameAt (
  const CHAR8  *Names,
  UINTN        Index
  )
{
  for ( ; Index > 0; Index--) {
    while (*Names++ != 0) {
    }
  }

  return Names;
}

static_assert (NameAt (mErrorNames, ERROR_COUNT - 1)[0] == 'H', "the last error code is named HTTP Error");
static_assert (NameAt (mErrorNames, ERROR_COUNT)[0] == 0, "no name past the last error code");
static_assert (NameAt (mWarningNames, WARNING_COUNT)[0] == 0, "no name past the last warning code");

} // namespace

const CHAR8 *
StatusName (
  EFI_STATUS  Status
  )
{
  if (EFI_ERROR (Status)) {
    UINTN  Code = Status & ~MAX_BIT;
    return ((Code >= 1) && (Code <= ERROR_COUNT)) ? NameAt (mErrorNames, Code - 1) : nullptr;
  }

  return (Status < WARNING_COUNT) ? NameAt (mWarningNames, Status) : nullptr;
}
