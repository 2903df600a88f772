/** @file
  The memory routines the compiler may call on its own for copies and
  zeroing; firmware images link no C library to supply them.
**/
#include "platform/Base.h"

extern "C" void *
memset (
  void    *Destination,
  int     Value,
  size_t  Count
  )
{
  volatile UINT8  *Bytes = (volatile UINT8 *)Destination;

  while (Count-- != 0) {
    *Bytes++ = (UINT8)Value;
  }

  return Destination;
}

extern "C" void *
memcpy (
  void        *Destination,
  const void  *Source,
  size_t      Count
  )
{
  volatile UINT8  *To   = (volatile UINT8 *)Destination;
  const UINT8     *From = (const UINT8 *)Source;

  while (Count-- != 0) {
    *To++ = *From++;
  }

  return Destination;
}
