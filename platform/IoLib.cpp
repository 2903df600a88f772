/** @file
  Port I/O on the processor itself.
**/
#include "platform/IoLib.h"

UINT32
IoWrite32 (
  UINTN   Port,
  UINT32  Value
  )
{
  __asm__ __volatile__ ("outl %0, %1" : : "a" (Value), "Nd" ((UINT16)Port));
  return Value;
}

UINT32
IoRead32 (
  UINTN  Port
  )
{
  UINT32  Value;

  __asm__ __volatile__ ("inl %1, %0" : "=a" (Value) : "Nd" ((UINT16)Port));
  return Value;
}
