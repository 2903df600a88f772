/** @file
  UTF-16 string helpers.
**/
#include "platform/BaseLib.h"

namespace {

CHAR16
UpperCase (
  CHAR16  Unit
  )
{
  return ((Unit >= u'a') && (Unit <= u'z')) ? (CHAR16)(Unit - (u'a' - u'A')) : Unit;
}

} // namespace

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

INTN
StriCmp (
  const CHAR16  *FirstString,
  const CHAR16  *SecondString
  )
{
  while ((*FirstString != 0) && (UpperCase (*FirstString) == UpperCase (*SecondString))) {
    FirstString++;
    SecondString++;
  }

  return (INTN)UpperCase (*FirstString) - (INTN)UpperCase (*SecondString);
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
