/** @file
  PCI configuration mechanism 1 through ports 0xCF8 and 0xCFC, every bus,
  device and function, looking for class 0x0C subclass 0x05.
**/
#include "chip/SmbusScan.h"
#include "chip/ScanRecord.h"
#include "chip/SmbusAccess.h"
#include "chip/TconChip.h"
#include "platform/IoLib.h"
#include "platform/PrintLib.h"

INT32   mBus;
INT32   mDev;
INT32   mFunc;
UINT16  mVendorId;
UINT16  mDeviceId;
UINT16  mRevisionId;
// The PCI configuration address (as written to 0xCF8) of the Intel controller's base register; 0 for AMD.
UINT64  mChipAddr;
// The controller's SMBus I/O base: only shown, the transactions go through the firmware's host-controller driver.
UINT64  mSmbAddr;

namespace {

constexpr UINTN   PCI_CONFIG_ADDRESS_PORT = 0xCF8;
constexpr UINTN   PCI_CONFIG_DATA_PORT    = 0xCFC;
constexpr UINT32    B_PCI_CONFIG_ENABLE   = 0x80000000;
constexpr UINT32    PCI_CONFIG_BUS_SHIFT  = 16;
constexpr UINT32    PCI_CONFIG_DEV_SHIFT  = 11;
constexpr UINT32    PCI_CONFIG_DEV_MASK   = 0x1F;
constexpr UINT32    PCI_CONFIG_FUNC_SHIFT = 8;
constexpr UINT32    PCI_CONFIG_FUNC_MASK  = 0x7;

constexpr INT32   PCI_BUS_COUNT      = 256;
constexpr INT32   PCI_DEVICE_COUNT   = 32;
constexpr INT32   PCI_FUNCTION_COUNT = 8;

constexpr UINT8   R_PCI_VENDOR_DEVICE_ID = 0x00;
constexpr UINT16    V_PCI_VENDOR_NONE    = 0xFFFF;
constexpr UINT8   R_PCI_CLASS_REVISION   = 0x08;
constexpr UINT32    PCI_SUBCLASS_SHIFT   = 16;
constexpr UINT32    PCI_BASE_CLASS_SHIFT = 24;
constexpr UINT8     V_PCI_CLASS_SERIAL_BUS = 0x0C;
constexpr UINT8     V_PCI_SUBCLASS_SMBUS   = 0x05;
constexpr UINT8   R_PCI_SMBUS_BASE       = 0x20;   // base address register 4
constexpr UINT32    B_PCI_SMBUS_BASE     = 0xFFFE;

constexpr UINT16  PCI_VENDOR_INTEL = 0x8086;
constexpr UINT16  PCI_VENDOR_AMD   = 0x1022;

// The two I/O bases an AMD southbridge may give its SMBus controller.
constexpr UINT32  mAmdSmbusBases[] = { 0xB00, 0xB20 };

UINT32
ConfigAddress (
  UINT8  Register
  )
{
  return B_PCI_CONFIG_ENABLE
         | ((UINT32)(mBus & 0xFF) << PCI_CONFIG_BUS_SHIFT)
         | ((UINT32)(mDev & PCI_CONFIG_DEV_MASK) << PCI_CONFIG_DEV_SHIFT)
         | ((UINT32)(mFunc & PCI_CONFIG_FUNC_MASK) << PCI_CONFIG_FUNC_SHIFT)
         | Register;
}

UINT32
ConfigRead (
  UINT32  Address
  )
{
  IoWrite32 (PCI_CONFIG_ADDRESS_PORT, Address);
  return IoRead32 (PCI_CONFIG_DATA_PORT);
}

/** Returns TRUE when the scan position holds an SMBus controller; records its IDs. **/
BOOLEAN
IsSmbusController (
  )
{
  UINT32  Ids = ConfigRead (ConfigAddress (R_PCI_VENDOR_DEVICE_ID));
  UINT32  ClassRevision;

  if ((Ids & 0xFFFF) == V_PCI_VENDOR_NONE) {
    return FALSE;
  }

  mVendorId     = (UINT16)(Ids & 0xFFFF);
  mDeviceId     = (UINT16)(Ids >> 16);
  ClassRevision = ConfigRead (ConfigAddress (R_PCI_CLASS_REVISION));
  mRevisionId   = (UINT16)(ClassRevision & 0xFF);
  return (((ClassRevision >> PCI_SUBCLASS_SHIFT) & 0xFF) == V_PCI_SUBCLASS_SMBUS)
         && (((ClassRevision >> PCI_BASE_CLASS_SHIFT) & 0xFF) == V_PCI_CLASS_SERIAL_BUS);
}

VOID
ShowController (
  )
{
  Print (" Found SMBus device:\n");
  Print (" Bus Dev Func Vendor Device Revision\n");
  Print (" %2.2X %2.2X %2.2X ", mBus, mDev, mFunc);
  Print (" %4.4X %4.4X", mVendorId, mDeviceId);
  Print (" %2.2X\n", mRevisionId);
}

/**
  Runs the device-ID check for the controller at the scan position and
  mSmbAddr through each SMBus host-controller instance in turn, keeping
  what each saw. The instance the chip answers through carries the rest of
  the run: a board may have one instance for each of its buses.
**/
BOOLEAN
CheckChip (
  SCAN_RECORD  *Record
  )
{
  for (UINTN Index = 0; Index < mSmbusHcCount; Index++) {
    SCAN_CHECK  Entry = { mBus, mDev, mFunc, mSmbAddr, Index + 1, {} };
    BOOLEAN     Found;

    mSmbusHc = mSmbusHcs[Index];
    Found    = CheckTconDeviceId (&Entry.Check);
    KeepScanCheck (Record, &Entry);
    if (Found) {
      return TRUE;
    }
  }

  return FALSE;
}

/** Intel: the I/O base sits in the controller's register 0x20. **/
BOOLEAN
CheckIntelController (
  SCAN_RECORD  *Record
  )
{
  Print (" Intel ID.\n");
  mChipAddr = ConfigAddress (R_PCI_SMBUS_BASE);
  mSmbAddr  = ConfigRead ((UINT32)mChipAddr) & B_PCI_SMBUS_BASE;
  return CheckChip (Record);
}

/** AMD: the I/O base is one of two fixed ports; the chip is tried once for each. **/
BOOLEAN
CheckAmdController (
  SCAN_RECORD  *Record
  )
{
  Print (" Found AMD SMBUS device.\n");
  mChipAddr = 0;
  for (UINT32 Base : mAmdSmbusBases) {
    mSmbAddr = Base;
    Print (" Check TCON Device ID...on 0x%X...", Base);
    if (CheckChip (Record)) {
      Print ("Ok.\n");
      return TRUE;
    }

    Print ("Fail.\n");
  }

  return FALSE;
}

SMBUS_SCAN_RESULT
ReportChipFound (
  )
{
  Print (" Found Chip on Addr = 0x%lx, SMBaddr = 0x%lx\n", mChipAddr, mSmbAddr);
  Print ("================================================ \n");
  return SmbusScanChipFound;
}

//
// Three nested loops over bus, device and function, in the order the scan
// must take, give the function its measured complexity; it reads plainly.
//
SMBUS_SCAN_RESULT
WalkConfigSpace (  // NOLINT(readability-function-cognitive-complexity)
  SCAN_RECORD  *Record
  )
{
  for (mBus = 0; mBus < PCI_BUS_COUNT; mBus++) {
    for (mDev = 0; mDev < PCI_DEVICE_COUNT; mDev++) {
      for (mFunc = 0; mFunc < PCI_FUNCTION_COUNT; mFunc++) {
        if (!IsSmbusController ()) {
          continue;
        }

        //
        // A board may carry more than one Intel SMBus controller and the
        // chip may answer only behind a later one, so an Intel miss goes on
        // scanning. An AMD controller was tried at both bases its chipset
        // gives it, and nothing later can change that answer; an unknown
        // make has no bus the tool knows how to reach. Either ends the scan.
        //
        ShowController ();
        if (mVendorId == PCI_VENDOR_INTEL) {
          if (CheckIntelController (Record)) {
            return ReportChipFound ();
          }
        } else if (mVendorId == PCI_VENDOR_AMD) {
          return CheckAmdController (Record) ? ReportChipFound () : SmbusScanChipMissing;
        } else {
          Print (" Found unknown SMBUS device, can't support now.\n");
          Print ("Error: can't found any supported SMBus device,exit.\n");
          return SmbusScanUnsupported;
        }
      }
    }
  }

  Print ("Error: can't found any supported SMBus device,exit.\n");
  return SmbusScanNotFound;
}

} // namespace

SMBUS_SCAN_RESULT
FindSmbusController (
  )
{
  SCAN_RECORD        Record = {};
  SMBUS_SCAN_RESULT  Result;

  Record.Drivers = mSmbusHcCount;
  Result         = WalkConfigSpace (&Record);

  //
  // Without the chip, the technician learns after the scan's own lines
  // what each check saw; a chip found leaves nothing to explain.
  //
  if (Result != SmbusScanChipFound) {
    ShowScanChecks (&Record);
  }

  return Result;
}
