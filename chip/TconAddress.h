/** @file
  Where the ZK48 answers on the SMBus: 7-bit 0x21 for its E2PROM interface
  and 0x23 for its identity and MCU registers.
**/
#ifndef CHIP_TCON_ADDRESS_H_
#define CHIP_TCON_ADDRESS_H_

#include "platform/Base.h"

constexpr UINT8  TCON_EEPROM_ADDRESS = 0x21;
constexpr UINT8  TCON_ID_ADDRESS     = 0x23;

/** The 8-bit form of a 7-bit address, as SmbusReadByte takes it. **/
constexpr UINT8
BusAddressOf (
  UINT8  SevenBitAddress
  )
{
  return (UINT8)(SevenBitAddress << 1);
}

#endif
