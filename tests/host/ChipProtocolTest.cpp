// The chip's register protocol as the bus sees it: the host-controller
// lookup, the device-ID check, the E2PROM version read and its bounded
// wait, the MCU version, the block-write frame, and failed transactions.
#include "tests/firmware/FirmwareTest.h"

#include <cstdio>

#include "chip/SmbusAccess.h"
#include "chip/TconChip.h"

namespace {

using harness::Call;

// Readable expectations: N copies of one bus-log line.
std::vector<std::string>
Repeated (
  const std::string  &Line,
  size_t             Count
  )
{
  return std::vector<std::string> (Count, Line);
}

std::vector<std::string>
operator+ (
  std::vector<std::string>        Lines,
  const std::vector<std::string>  &More
  )
{
  Lines.insert (Lines.end (), More.begin (), More.end ());
  return Lines;
}

//
// A host-controller driver in front of the simulated one that keeps only
// the promises the standard makes: it leaves its own value in Length after
// every call, and garbage in the buffer of a read that failed.
//
EFI_SMBUS_HC_EXECUTE_OPERATION  mSimExecute;
UINT8                           mLeftByFailedRead = 0xFF;

EFI_STATUS EFIAPI
CarelessExecute (
  const EFI_SMBUS_HC_PROTOCOL  *This,
  EFI_SMBUS_DEVICE_ADDRESS     SlaveAddress,
  EFI_SMBUS_DEVICE_COMMAND     Command,
  EFI_SMBUS_OPERATION          Operation,
  BOOLEAN                      PecCheck,
  UINTN                        *Length,
  VOID                         *Buffer
  )
{
  EFI_STATUS  Status = mSimExecute (This, SlaveAddress, Command, Operation, PecCheck, Length, Buffer);

  if (EFI_ERROR (Status) && (Operation == EfiSmbusReadByte)) {
    *(UINT8 *)Buffer = mLeftByFailedRead;
  }

  *Length = 0xA5;
  return Status;
}

class ChipProtocolTest : public FirmwareTest {
protected:
  size_t           Mark  = 0;
  DEVICE_ID_CHECK  Check = {};

  void SetUp () override
  {
    FirmwareTest::SetUp ();
    InstallTables ();
    mSimExecute                                 = Sim.SmbusControllers[0]->Protocol.Execute;
    Sim.SmbusControllers[0]->Protocol.Execute   = CarelessExecute;
    mLeftByFailedRead                           = 0xFF;
    Sim.Chip.Eeprom[EEPROM_VERSION_ADDRESS]     = 0x5A;
    Sim.Chip.McuVersion                         = 0x5C;
    mTransactionsRefused                        = 0;
    LocateSmbusHc ();
  }

  // Every transaction goes to one of the chip's two addresses (the controller checks the rest of each request).
  void TearDown () override
  {
    for (const harness::SmbusTransaction &Entry : Sim.Transactions) {
      EXPECT_TRUE ((Entry.Address == 0x21) || (Entry.Address == 0x23)) << std::hex << Entry.Address;
    }

    FirmwareTest::TearDown ();
  }

  // Starts a fresh chip and a fresh stretch of the bus log.
  void NewChip ()
  {
    Zk48Reset (&Sim.Chip, 0x5C);
    Sim.Chip.Eeprom[EEPROM_VERSION_ADDRESS] = 0x5A;
    Mark                                    = Sim.Transactions.size ();
  }

  // The bus log since the last NewChip.
  std::vector<std::string> Traffic () const
  {
    std::vector<std::string>  Lines = BusLog ();

    return std::vector<std::string> (Lines.begin () + (std::ptrdiff_t)Mark, Lines.end ());
  }
};

TEST_F (ChipProtocolTest, DeviceIdCheckWritesOnceThenReadsUpToSixTimes) {
  const struct {
    UINT32     AnswersFromRead;
    BOOLEAN    Found;
    size_t     Reads;
  } Cases[] = {
    { 1,          TRUE,  1 },
    { 2,          TRUE,  2 },
    { 6,          TRUE,  6 },
    { 7,          FALSE, 6 },
    { ZK48_NEVER, FALSE, 6 },
  };

  for (const auto &Case : Cases) {
    NewChip ();
    Sim.Chip.Faults.DeviceIdFromRead = Case.AnswersFromRead;

    EXPECT_EQ (CheckTconDeviceId (&Check), Case.Found) << "answers from read " << Case.AnswersFromRead;
    EXPECT_EQ (
      Traffic (),
      std::vector<std::string> { "W 21 B1 08" } + Repeated ("R 23 02 -> FF", Case.Reads - 1) + Repeated (Case.Found ? "R 23 02 -> 11" : "R 23 02 -> FF", 1)
      ) << "answers from read " << Case.AnswersFromRead;
  }
}

TEST_F (ChipProtocolTest, EepromVersionReadWaitsForBit7OfB7) {
  const std::vector<std::string>  Setup = { "W 21 B2 11", "W 21 B3 2F", "W 21 B5 02" };
  const struct {
    UINT32                ReadyAfterPolls;
    CHIP_RESULT    Result;
    size_t                StatusReads;
  } Cases[] = {
    { 1,          ChipDone,    1     },
    { 2,          ChipDone,    2     },
    { 10000,      ChipDone,    10000 },
    { 10001,      ChipTimedOut, 10000 },
    { ZK48_NEVER, ChipTimedOut, 10000 },
  };

  for (const auto &Case : Cases) {
    UINT8  Version = 0xEE;

    NewChip ();
    Sim.Chip.Faults.ReadyAfterPolls = Case.ReadyAfterPolls;

    const bool  Read = Case.Result == ChipDone;

    EXPECT_EQ (ReadEepromVersion (&Version), Case.Result) << "ready after " << Case.ReadyAfterPolls;
    EXPECT_EQ (Version, Read ? 0x5A : 0xEE) << "ready after " << Case.ReadyAfterPolls;
    EXPECT_EQ (
      Traffic (),
      Setup + Repeated ("R 21 B7 -> 7F", Case.StatusReads - (Read ? 1 : 0))
      + (Read ? std::vector<std::string> { "R 21 B7 -> 80", "R 21 B6 -> 5A" } : std::vector<std::string> {})
      ) << "ready after " << Case.ReadyAfterPolls;
  }
}

TEST_F (ChipProtocolTest, McuVersionIsOneReadOfC0At23) {
  UINT8  Mcu = 0;

  EXPECT_EQ (ReadMcuVersion (&Mcu), ChipDone);
  EXPECT_EQ (Mcu, 0x5C);
  EXPECT_EQ (BusLog (), std::vector<std::string> { "R 23 C0 -> 5C" });
}

TEST_F (ChipProtocolTest, ReadAddressIsTakenInItsEightBitForm) {
  const struct {
    UINT8    BusAddress;
    UINTN    SevenBit;
  } Cases[] = {
    { 0x42, 0x21 },
    { 0x43, 0x21 },
    { 0x46, 0x23 },
    { 0x47, 0x23 },
  };

  for (const auto &Case : Cases) {
    SmbusReadByte (Case.BusAddress, 0xC0);
    ASSERT_FALSE (Sim.Transactions.empty ());
    EXPECT_EQ (Sim.Transactions.back ().Address, Case.SevenBit) << std::hex << (int)Case.BusAddress;
    EXPECT_EQ (Sim.Transactions.back ().Command, 0xC0u);
    EXPECT_EQ (Sim.Transactions.back ().Operation, EfiSmbusReadByte);
  }

  EXPECT_EQ (Sim.Transactions.size (), 4u);
}

TEST_F (ChipProtocolTest, FailedReadGivesZeroWhateverTheBufferHolds) {
  Sim.Fail (harness::FromThenOn (Call::Execute, 1, EFI_DEVICE_ERROR));

  for (UINT8 Left : std::initializer_list<UINT8> { 0x11, 0x80, 0xFF, 0x5C }) {
    mLeftByFailedRead = Left;
    EXPECT_EQ (SmbusReadByte (0x46, 0x02), 0x00) << std::hex << (int)Left;
    EXPECT_EQ (SmbusReadByte (0x46, 0xC0), 0x00) << std::hex << (int)Left;
    EXPECT_EQ (SmbusReadByte (0x42, 0xB7), 0x00) << std::hex << (int)Left;
  }

  // The MCU version is sent again, and then delivers nothing rather than the garbage.
  UINT8  Mcu = 0xEE;

  EXPECT_EQ (ReadMcuVersion (&Mcu), ChipRefused);
  EXPECT_EQ (Mcu, 0xEE);
  EXPECT_EQ (Sim.Transactions.size (), 12u + CHIP_ATTEMPTS);
}

TEST_F (ChipProtocolTest, FailedDeviceIdReadIsAMiss) {
  mLeftByFailedRead = 0x11;

  // One failed read, then the answer.
  Sim.Fail (harness::Once (Call::Execute, 2, EFI_DEVICE_ERROR));
  EXPECT_TRUE (CheckTconDeviceId (&Check));
  EXPECT_EQ (Traffic (), (std::vector<std::string> { "W 21 B1 08", "R 23 02 -> !", "R 23 02 -> 11" }));

  // Six failed reads, though the driver left the device ID in the buffer each time.
  NewChip ();
  for (uint64_t Nth = 5; Nth <= 10; Nth++) {
    Sim.Fail (harness::Once (Call::Execute, Nth, EFI_DEVICE_ERROR));
  }

  EXPECT_FALSE (CheckTconDeviceId (&Check));
  EXPECT_EQ (Traffic (), std::vector<std::string> { "W 21 B1 08" } + Repeated ("R 23 02 -> !", 6));
}

TEST_F (ChipProtocolTest, RefusedStatusReadIsSentAgainAndAnswersKeepTheWaitGoing) {
  UINT8  Version = 0xEE;

  mLeftByFailedRead = 0xFF;
  // The three set-up writes go through; every transaction after them fails:
  // a bus that is gone, not a slow chip. The poll is sent again, and again, then the read gives up.
  Sim.Fail (harness::FromThenOn (harness::ANY_CALL, Sim.TotalCalls () + 4));

  EXPECT_EQ (ReadEepromVersion (&Version), ChipRefused);
  EXPECT_EQ (Version, 0xEE);
  EXPECT_EQ (BusLog (), (std::vector<std::string> { "W 21 B2 11", "W 21 B3 2F", "W 21 B5 02" }) + Repeated ("R 21 B7 -> !", CHIP_ATTEMPTS));

  // A refused poll among answered ones is sent again; the chip's answers decide.
  Sim.ForgetRules ();
  for (UINT32 ReadyAfter : { 3u, ZK48_NEVER }) {
    NewChip ();
    Sim.Chip.Faults.ReadyAfterPolls = ReadyAfter;
    Sim.Chip.Faults.FaultAt         = 5;
    Sim.Chip.Faults.FaultKind       = Zk48FaultNack;
    EXPECT_EQ (ReadEepromVersion (&Version), ReadyAfter == 3 ? ChipDone : ChipTimedOut);
  }

  EXPECT_EQ (Version, 0x5A);
}

TEST_F (ChipProtocolTest, AnyAddressIsReadHighByteFirstWithItsOwnSequence) {
  for (UINT16 Address : { (UINT16)0x0000, (UINT16)0x00FF, (UINT16)0x0100, (UINT16)0x1FFF }) {
    UINT8  Value = 0xEE;

    NewChip ();
    Sim.Chip.Eeprom[Address] = (UINT8)(Address ^ 0xA5);
    EXPECT_EQ (ReadEepromByte (Address, &Value), ChipDone);
    EXPECT_EQ (Value, (UINT8)(Address ^ 0xA5));
    char  High[16], Low[16], Data[16];

    std::snprintf (High, sizeof (High), "W 21 B2 %02X", Address >> 8);
    std::snprintf (Low, sizeof (Low), "W 21 B3 %02X", Address & 0xFF);
    std::snprintf (Data, sizeof (Data), "R 21 B6 -> %02X", (Address ^ 0xA5) & 0xFF);
    const std::vector<std::string>  Expected = std::vector<std::string> { High, Low, "W 21 B5 02" } + Repeated ("R 21 B7 -> 7F", 2)
                                               + std::vector<std::string> { "R 21 B7 -> 80", Data };

    EXPECT_EQ (Traffic (), Expected) << std::hex << Address;
  }
}

// A transaction refused at every attempt: it alone is sent again, CHIP_ATTEMPTS times in a row, then the read gives up.
TEST_F (ChipProtocolTest, VersionReadRefusedAtEveryAttemptDeliversNothing) {
  const struct {
    uint64_t                    FailedExecute;   // refused from then on, CHIP_ATTEMPTS times
    std::vector<std::string>    Log;             // what went through before it
    std::string                 Refused;
  } Cases[] = {
    { 1, {},                                                         "W 21 B2 11 !" },
    { 2, { "W 21 B2 11" },                                           "W 21 B3 2F !" },
    { 3, { "W 21 B2 11", "W 21 B3 2F" },                             "W 21 B5 02 !" },
    // Ready on the third poll; the data read itself fails.
    { 7, { "W 21 B2 11", "W 21 B3 2F", "W 21 B5 02", "R 21 B7 -> 7F", "R 21 B7 -> 7F", "R 21 B7 -> 80" }, "R 21 B6 -> !" },
  };

  for (const auto &Case : Cases) {
    UINT8  Version = 0xEE;

    NewChip ();
    for (uint64_t Attempt = 0; Attempt < CHIP_ATTEMPTS; Attempt++) {
      Sim.Fail (harness::Once (Call::Execute, Sim.CallCount (Call::Execute) + Case.FailedExecute + Attempt, EFI_DEVICE_ERROR));
    }

    mTransactionsRefused = 0;
    EXPECT_EQ (ReadEepromVersion (&Version), ChipRefused) << Case.FailedExecute;
    EXPECT_EQ (Version, 0xEE) << Case.FailedExecute;
    EXPECT_EQ (Traffic (), Case.Log + Repeated (Case.Refused, CHIP_ATTEMPTS)) << Case.FailedExecute;
    EXPECT_EQ (mTransactionsRefused, CHIP_ATTEMPTS);
  }
}

// Past the run's limit of refusals, a refused transaction is not sent again.
TEST_F (ChipProtocolTest, RefusalsPastTheRunsLimitAreNotSentAgain) {
  UINT8  Version = 0xEE;

  NewChip ();
  mTransactionsRefused = CHIP_REFUSALS_LIMIT - 1;
  Sim.Fail (harness::Once (Call::Execute, Sim.CallCount (Call::Execute) + 2, EFI_DEVICE_ERROR));
  EXPECT_EQ (ReadEepromVersion (&Version), ChipRefused);
  EXPECT_EQ (Traffic (), (std::vector<std::string> { "W 21 B2 11", "W 21 B3 2F !" }));
  EXPECT_EQ (mTransactionsRefused, CHIP_REFUSALS_LIMIT);
  mTransactionsRefused = 0;
}

TEST_F (ChipProtocolTest, BlockWriteFrameCarriesAddressHighByteFirst) {
  const UINT8  Data[16] = { 0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE };
  const struct {
    UINT16        Address;
    const char    *Line;
  } Cases[] = {
    { 0x0000, "B 21 00 0A 00 00 D0 D1 D2 D3 D4 D5 D6 D7" },
    { 0x0008, "B 21 00 0A 00 08 D0 D1 D2 D3 D4 D5 D6 D7" },
    { 0x1128, "B 21 00 0A 11 28 D0 D1 D2 D3 D4 D5 D6 D7" },
    { 0x1FF8, "B 21 00 0A 1F F8 D0 D1 D2 D3 D4 D5 D6 D7" },
  };

  for (const auto &Case : Cases) {
    NewChip ();
    EXPECT_EQ (WriteEepromBlock (Case.Address, Data), ChipDone) << std::hex << Case.Address;
    EXPECT_EQ (Traffic (), std::vector<std::string> { Case.Line });
    EXPECT_EQ (std::vector<uint8_t> (Sim.Chip.Eeprom + Case.Address, Sim.Chip.Eeprom + Case.Address + 8), std::vector<uint8_t> (Data, Data + 8));
  }
}

//
// The lookup: which handles' interfaces are kept, in the firmware's order,
// which serves until the scan chooses, what is tried, and that the handle
// array goes back to the pool (the fixture's ledger checks that).
//
struct LOOKUP_CASE {
  const char          *Name;
  int                 Controllers;      // SMBus host-controller handles installed
  std::vector<int>    Refused;          // handles whose HandleProtocol fails
  bool                ListFails;        // LocateHandleBuffer itself fails
  int                 Serving;          // the controller that carries the transactions, -1 none
  uint64_t            HandleProtocols;  // HandleProtocol calls expected
  std::vector<int>    Kept;             // the controllers kept, in order
};

class SmbusHcLookupTest : public FirmwareTest, public ::testing::WithParamInterface<LOOKUP_CASE> {
protected:
  DEVICE_ID_CHECK  Check = {};

  void SetUp () override
  {
    const LOOKUP_CASE  &Case = GetParam ();

    FirmwareTest::SetUp ();
    InstallTables ();
    while ((int)Sim.SmbusControllers.size () < Case.Controllers) {
      Sim.AddSmbusController ();
    }

    if (Case.Controllers == 0) {
      RemoveSmbusHc ();
    }

    for (int Controller : Case.Refused) {
      Sim.FailHandleProtocolFor (Controller);
    }

    if (Case.ListFails) {
      Sim.Fail (harness::Once (Call::LocateHandleBuffer, 1, EFI_OUT_OF_RESOURCES));
    }
  }
};

TEST_P (SmbusHcLookupTest, EveryHandleThatAnswersIsKeptTheFirstServes) {
  const LOOKUP_CASE  &Case = GetParam ();
  const UINT8        Data[8] = {};
  UINT8              Version = 0xEE;
  std::vector<int>   Kept;

  LocateSmbusHc ();
  for (UINTN Index = 0; Index < mSmbusHcCount; Index++) {
    for (size_t Controller = 0; Controller < Sim.SmbusControllers.size (); Controller++) {
      if (mSmbusHcs[Index] == &Sim.SmbusControllers[Controller]->Protocol) {
        Kept.push_back ((int)Controller);
      }
    }
  }

  EXPECT_EQ (Kept, Case.Kept);

  EXPECT_EQ (Sim.CallCount (Call::LocateHandleBuffer), 1u);
  EXPECT_EQ (Sim.CallCount (Call::HandleProtocol), Case.HandleProtocols);
  EXPECT_EQ (Sim.CallCount (Call::FreePool), (Case.Controllers > 0) && !Case.ListFails ? 1u : 0u);
  EXPECT_EQ (Sim.Timeline.size (), 0u) << "the lookup prints nothing";
  if (Case.Serving < 0) {
    EXPECT_EQ (mSmbusHc, nullptr);
    EXPECT_FALSE (CheckTconDeviceId (&Check));
    EXPECT_EQ (ReadEepromVersion (&Version), ChipRefused);
    EXPECT_EQ (ReadMcuVersion (&Version), ChipRefused);
    EXPECT_EQ (WriteEepromBlock (0, Data), ChipRefused);
    EXPECT_EQ (SmbusReadByte (0x46, 0x02), 0x00);
    SmbusWriteByte (0xB1, 0x08);
    EXPECT_EQ (Sim.CallCount (Call::Execute), 0u);
    EXPECT_EQ (Version, 0xEE);
    return;
  }

  EXPECT_EQ (mSmbusHc, &Sim.SmbusControllers[(size_t)Case.Serving]->Protocol);
  EXPECT_TRUE (CheckTconDeviceId (&Check));
  EXPECT_EQ (ReadEepromVersion (&Version), ChipDone);
  EXPECT_EQ (WriteEepromBlock (0, Data), ChipDone);
  ASSERT_FALSE (Sim.Transactions.empty ());
  for (const harness::SmbusTransaction &Entry : Sim.Transactions) {
    EXPECT_EQ (Entry.Controller, Case.Serving);
  }
}

INSTANTIATE_TEST_SUITE_P (
  Handles,
  SmbusHcLookupTest,
  ::testing::Values (
    LOOKUP_CASE { "One",                   1, {},        false, 0,  1, { 0 } },
    LOOKUP_CASE { "ThreeFirstServes",      3, {},        false, 0,  3, { 0, 1, 2 } },
    LOOKUP_CASE { "FirstRefused",          3, { 0 },     false, 1,  3, { 1, 2 } },
    LOOKUP_CASE { "FirstTwoRefused",       3, { 0, 1 },  false, 2,  3, { 2 } },
    LOOKUP_CASE { "FirstAndLastRefused",   3, { 0, 2 },  false, 1,  3, { 1 } },
    LOOKUP_CASE { "AllRefused",            3, { 0, 1, 2 }, false, -1, 3, {} },
    LOOKUP_CASE { "NoHandle",              0, {},        false, -1, 0, {} },
    LOOKUP_CASE { "HandleListFails",       2, {},        true,  -1, 0, {} },
    // Past the bound the rest are not asked for: the first eight are kept.
    LOOKUP_CASE { "MoreThanKept",         10, { 1 },     false, 0,  9, { 0, 2, 3, 4, 5, 6, 7, 8 } }
    ),
  [](const ::testing::TestParamInfo<LOOKUP_CASE> &Info) { return std::string (Info.param.Name); }
  );

} // namespace
