/** @file
  The walk over PCI configuration space that finds the SMBus controller
  and confirms the chip behind it.
**/
#ifndef CHIP_SMBUS_SCAN_H_
#define CHIP_SMBUS_SCAN_H_

#include "platform/Base.h"

enum SMBUS_SCAN_RESULT {
  SmbusScanChipFound,
  SmbusScanNotFound,
  SmbusScanUnsupported,
  SmbusScanChipMissing
};

extern INT32   mBus;
extern INT32   mDev;
extern INT32   mFunc;
extern UINT16  mVendorId;
extern UINT16  mDeviceId;
extern UINT16  mRevisionId;
extern UINT64  mChipAddr;
extern UINT64  mSmbAddr;

/**
  Shows every SMBus controller met on the console and confirms the chip
  behind the first supported one. Returns the outcome; every outcome but
  SmbusScanChipFound has been explained on the console, ending with what
  each device-ID check saw.
**/
SMBUS_SCAN_RESULT
FindSmbusController (
  );

#endif
