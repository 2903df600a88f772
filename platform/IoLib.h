/** @file
  32-bit processor port I/O. On firmware these are the in and out
  instructions; the host tests link a simulated port space instead.
**/
#ifndef PLATFORM_IO_LIB_H_
#define PLATFORM_IO_LIB_H_

#include "platform/Base.h"

/** Writes Value to the 32-bit I/O port Port; returns Value. **/
UINT32
IoWrite32 (
  UINTN   Port,
  UINT32  Value
  );

/** Reads the 32-bit I/O port Port; returns what the port delivered. **/
UINT32
IoRead32 (
  UINTN  Port
  );

#endif
