/** @file
  A model of the ZK48 as the SMBus sees it: its identity and MCU registers
  at 0x23, its E2PROM read interface and block writes at 0x21, and switches
  for the faults a bench meets. Freestanding: the host tests and the
  simulator driver run the same model.
**/
#ifndef SIM_ZK48_CHIP_H_
#define SIM_ZK48_CHIP_H_

#include "platform/Base.h"
#include "platform/SmbusHc.h"
#include "sim/Zk48Wire.h"

constexpr UINTN   ZK48_EEPROM_SIZE = 0x2000;
constexpr UINT32  ZK48_NEVER       = 0xFFFFFFFF;

//
// What goes wrong at one chosen transaction (counted from 1).
//
enum ZK48_FAULT_KIND : UINT8 {
  Zk48FaultNone,
  Zk48FaultNack,          // Execute reports an error, nothing happens
  Zk48FaultReadZero,      // a read succeeds but delivers 0x00
  Zk48FaultWriteIgnored,  // a write succeeds but changes nothing
  Zk48FaultStatusStuck    // from this transaction on, 0xB7 never sets bit 7
};

//
// A chance of Numerator in Denominator, drawn afresh for each transaction
// it concerns; Numerator 0 is never.
//
struct ZK48_RATE {
  UINT32    Numerator;
  UINT32    Denominator;
};

struct ZK48_FAULTS {
  UINT32             DeviceIdFromRead;   // the device ID answers from this read of 0x02 on (1 = at once); ZK48_NEVER
  UINT32             ReadyAfterPolls;    // polls of 0xB7 after a read command until bit 7 sets; ZK48_NEVER
  BOOLEAN            IgnoreBlockWrites;  // block writes succeed on the bus and change nothing
  BOOLEAN            FailAll;            // every transaction fails with FailStatus
  UINT32             FaultAt;            // the transaction FaultKind strikes; 0 for none
  UINT32             DropBlockAt;        // the E2PROM address whose next acknowledged block write changes nothing; ZK48_NEVER
  ZK48_FAULT_KIND    FaultKind;
  EFI_STATUS         FailStatus;         // what a failing Execute reports
  //
  // Faults of a shared bus, over whole runs: refused transactions change
  // nothing and report FailStatus; ignored writes are acknowledged.
  //
  UINT32             RefuseEvery;        // every Nth transaction since the setting is refused; ZK48_NEVER
  UINT32             SinceRefusal;       // transactions since the setting or the last of those refusals
  ZK48_RATE          RefuseRate;         // any transaction, at random
  ZK48_RATE          IgnoreRate;         // a byte or block write, at random
  UINT32             Seed;               // where the random draws start, as set, so that a run can be repeated
  UINT64             RandomState;        // the draws' generator, started from Seed
};

struct ZK48_COUNTS {
  UINT32    Transactions;
  UINT32    ByteReads;
  UINT32    ByteWrites;
  UINT32    BlockWrites;
  UINT32    Failed;
  UINT32    Ignored;        // writes acknowledged that changed nothing, whatever the switch
  UINT32    Decoy;          // transactions the decoy host controller was given, none of them the chip's
};

//
// Not the chip's but the bench's: a second SMBus host controller the driver
// puts ahead of the chip's, with no chip behind it, as on boards whose
// firmware has one host-controller instance for each bus.
//
enum ZK48_DECOY : UINT8 {
  Zk48DecoyNone,
  Zk48DecoyRefuse,   // every transaction refused (EFI_DEVICE_ERROR): nothing acknowledges
  Zk48DecoySilent    // every transaction taken and every read 0xFF: a controller blind to the missing acknowledge
};

struct ZK48_CHIP {
  UINT8          Eeprom[ZK48_EEPROM_SIZE];
  UINT8          McuVersion;
  UINT8          DeviceId;           // what 0x02 answers once it answers: 0x11, or another model's ID
  BOOLEAN        AccessEnabled;      // 0xB1 written with 0x08
  UINT8          AddressHigh;        // 0xB2
  UINT8          AddressLow;         // 0xB3
  BOOLEAN        ReadPending;        // 0xB5 took a read command
  UINT32         PollsSinceCommand;
  UINT8          DataLatch;          // 0xB6
  BOOLEAN        StatusStuck;
  UINT32         DeviceIdReads;
  ZK48_FAULTS    Faults;
  ZK48_COUNTS    Counts;
  ZK48_WIRE      Wire;               // the bus's clock, for the time each transfer takes
  ZK48_DECOY     Decoy;              // the decoy ahead of the chip's host controller, if any
};

/** A chip with a blank (0xFF) E2PROM, MCU version McuVersion and no faults. **/
VOID
Zk48Reset (
  ZK48_CHIP  *Chip,
  UINT8      McuVersion
  );

/**
  Fills the E2PROM so that every byte differs from its 255 neighbours in
  the same 256-byte page and from the byte at the same offset in every
  other page: a read from a wrong, swapped or truncated address shows.
**/
VOID
Zk48FillPattern (
  ZK48_CHIP  *Chip
  );

/**
  Answers one SMBus transaction at the 7-bit Address. *Length and Buffer
  are as the host controller's Execute passes them. Returns what Execute
  reports: EFI_SUCCESS, or an error when the chip does not acknowledge.
**/
EFI_STATUS
Zk48Execute (
  ZK48_CHIP            *Chip,
  UINTN                Address,
  UINTN                Command,
  EFI_SMBUS_OPERATION  Operation,
  UINTN                *Length,
  UINT8                *Buffer
  );

/** Starts the random draws of the fault rates over from Seed. **/
VOID
Zk48Seed (
  ZK48_CHIP  *Chip,
  UINT32     Seed
  );

/** The CRC-32 (IEEE 802.3) of the E2PROM contents. **/
UINT32
Zk48EepromCrc32 (
  const ZK48_CHIP  *Chip
  );

#endif
