/** @file
  The firmware's SMBus host controller and the byte transactions the chip
  protocol is made of.
**/
#ifndef CHIP_SMBUS_ACCESS_H_
#define CHIP_SMBUS_ACCESS_H_

#include "platform/Base.h"
#include "platform/SmbusHc.h"

//
// The interface every transaction goes through; NULL when the firmware has
// no SMBus host controller.
//
extern EFI_SMBUS_HC_PROTOCOL  *mSmbusHc;

// Instances kept: two PCH controllers, an AMD part's two ports and a BMC's bus, with room to spare.
constexpr UINTN  SMBUS_HC_LIMIT = 8;

//
// Every SMBus host-controller instance the firmware offers, in its order:
// the chip may sit behind any one of them.
//
extern EFI_SMBUS_HC_PROTOCOL  *mSmbusHcs[SMBUS_HC_LIMIT];
extern UINTN                  mSmbusHcCount;

/**
  Keeps the interface of every handle carrying the SMBus host controller,
  in the firmware's order, in mSmbusHcs; mSmbusHc is the first of them.
**/
VOID
LocateSmbusHc (
  );

/**
  Reads register Register of the device at BusAddress, given in 8-bit form
  (bit 0 is dropped). Returns the byte read, 0x00 when the transaction failed.
**/
UINT8
SmbusReadByte (
  UINT8  BusAddress,
  UINT8  Register
  );

/**
  Reads register Register of the device at BusAddress (8-bit form) into
  *Value. Returns the host controller's status; *Value is left alone when
  it is an error.
**/
EFI_STATUS
SmbusReadByteStatus (
  UINT8  BusAddress,
  UINT8  Register,
  UINT8  *Value
  );

/**
  Reads register Register of the device at BusAddress (8-bit form) into
  *Value. Returns FALSE, leaving *Value alone, when the transaction failed.
**/
BOOLEAN
SmbusTryReadByte (
  UINT8  BusAddress,
  UINT8  Register,
  UINT8  *Value
  );

/**
  Writes Value to register Register of the chip's E2PROM interface at 0x21.
  Returns TRUE when the host controller reported the write done.
**/
BOOLEAN
SmbusWriteByte (
  UINT8  Register,
  UINT8  Value
  );

/**
  Sends Length bytes of Frame as one block write with command 0x00 to the
  chip at 0x21. Returns TRUE when the host controller reported success.
**/
BOOLEAN
SmbusWriteBlock (
  UINT8  *Frame,
  UINTN  Length
  );

#endif
