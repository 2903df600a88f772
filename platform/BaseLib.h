/** @file
  UTF-16 string helpers.
**/
#ifndef PLATFORM_BASE_LIB_H_
#define PLATFORM_BASE_LIB_H_

#include "platform/Base.h"

/**
  Compares two null-terminated UTF-16 strings unit by unit, terminator
  included. Returns 0 when they are equal, else the difference of the first
  units that differ.
**/
INTN
StrCmp (
  const CHAR16  *FirstString,
  const CHAR16  *SecondString
  );

/**
  Compares two null-terminated UTF-16 strings as StrCmp does, but takes
  the letters A to Z and a to z as equal, as a FAT volume takes names.
**/
INTN
StriCmp (
  const CHAR16  *FirstString,
  const CHAR16  *SecondString
  );

/** Returns the number of UTF-16 units before the terminator. **/
UINTN
StrLen (
  const CHAR16  *String
  );

#endif
