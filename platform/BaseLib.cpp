/** @file
  UTF-16 string helpers.
**/
#include "platform/BaseLib.h"

INTN
StrCmp (
  const CHAR16  *FirstString,
  const CHAR16  *SecondString
  )
{
  while ((*FirstString != 0) && (*FirstString == *SecondString)) {
    FirstString++;
    SecondString++;
  }

  return (INTN)*FirstString - (INTN)*SecondString;
}

UINTN
StrLen (
  const CHAR16  *String
  )
{
  UINTN  Length;

  for (Length = 0; String[Length] != 0; Length++) {
  }

  return Length;
}
