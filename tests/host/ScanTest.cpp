// The controller scan as a technician meets it through "-v": each outcome's
// lines, the values of the chip-found line, the version query after it, and
// where on the PCI bus each outcome stops probing.
#include "tests/host/ScanTest.h"

#include <algorithm>

#include "chip/TconChip.h"

namespace {

constexpr uint32_t  Q35_SMBUS      = Position (0, 0x1F, 3);
constexpr char      Q35_ROW[]      = " 00 1F 03  8086 2930 02\r\n";
constexpr char      Q35_CHIP[]     = " Found Chip on Addr = 0x8000FB20, SMBaddr = 0xB100\r\n";
constexpr char      VERSION_LINE[] = "The E2PROM version is 0x5A. \r\n";

// What a chip that answers at once sees of a "-v" run: the identity check, then the version read until two reads agree.
const std::vector<std::string>  QUERY_BUS_LOG = {
  "W 21 B1 08",
  "R 23 02 -> 11",
  "W 21 B2 11", "W 21 B3 2F", "W 21 B5 02", "R 21 B7 -> 7F", "R 21 B7 -> 7F", "R 21 B7 -> 80", "R 21 B6 -> 5A",
  "W 21 B2 11", "W 21 B3 2F", "W 21 B5 02", "R 21 B7 -> 7F", "R 21 B7 -> 7F", "R 21 B7 -> 80", "R 21 B6 -> 5A"
};

// One identity check that never sees the device ID, and what a scan without the chip says of it.
const std::vector<std::string>  MISSED_CHECK = {
  "W 21 B1 08", "R 23 02 -> FF", "R 23 02 -> FF", "R 23 02 -> FF", "R 23 02 -> FF", "R 23 02 -> FF", "R 23 02 -> FF"
};
// The same check through a driver with nothing behind it.
const std::vector<std::string>  REFUSED_CHECK = {
  "W 21 B1 08 !", "W 21 B1 08 !", "W 21 B1 08 !", "W 21 B1 08 !", "W 21 B1 08 !",   // sent again, as every transaction
  "R 23 02 -> !", "R 23 02 -> !", "R 23 02 -> !", "R 23 02 -> !", "R 23 02 -> !", "R 23 02 -> !"
};
const std::string  Q35_MISSED_LINE = " Device ID check at 00:1F.3 (SMBus 0xB100): 6 reads, all answered 0xFF; the ZK48 answers 0x11.\r\n";

class ScanOutcomeTest : public ScanTest {
protected:
  void
  SetUp (
    ) override
  {
    ScanTest::SetUp ();
    Sim.Chip.Eeprom[harness::VERSION_ADDRESS] = 0x5A;
  }

  void
  AddAmdSmbus (
    int  Bus,
    int  Dev,
    int  Func
    )
  {
    Sim.AddPciFunction (Bus, Dev, Func, AMD_VENDOR, 0x780B, SERIAL_BUS_CLASS, SMBUS_SUBCLASS, 0x00, 0x14);
  }
};

//
// Chip found: the lines, then the query.
//

TEST_F (ScanOutcomeTest, IntelWithChipShowsControllerChipAndVersion) {
  AddIntelSmbus ();

  EXPECT_EQ (Run ({ u"-v" }), EFI_SUCCESS);
  EXPECT_EQ (Output (), SCAN_HEAD + CONTROLLER_HEADER + Q35_ROW + " Intel ID.\r\n" + Q35_CHIP + CLOSING_SEPARATOR + VERSION_LINE);
  EXPECT_EQ (BusLog (), QUERY_BUS_LOG);
  EXPECT_EQ (ConfigReads (), Walk (Q35_SMBUS, { { Q35_SMBUS, { 0x08, 0x20 } } }));
  EXPECT_EQ (Sim.CallCount (harness::Call::Stall), 0u);
  EXPECT_EQ (Sim.CallCount (harness::Call::OpenVolume), 0u);
}

TEST_F (ScanOutcomeTest, QueryThatNeverSeesDataReadyTimesOut) {
  AddIntelSmbus ();
  Sim.Chip.Faults.ReadyAfterPolls = ZK48_NEVER;

  EXPECT_EQ (Run ({ u"-v" }), EFI_TIMEOUT);
  EXPECT_EQ (Output (), SCAN_HEAD + CONTROLLER_HEADER + Q35_ROW + " Intel ID.\r\n" + Q35_CHIP + CLOSING_SEPARATOR + " Error: E2PROM read timed out, exit.\r\n");

  std::vector<std::string>  Log = BusLog ();
  ASSERT_GE (Log.size (), 5u);
  EXPECT_EQ (std::vector<std::string> (Log.begin (), Log.begin () + 5), std::vector<std::string> (QUERY_BUS_LOG.begin (), QUERY_BUS_LOG.begin () + 5));
  EXPECT_EQ ((size_t)std::count (Log.begin () + 5, Log.end (), "R 21 B7 -> 7F"), EEPROM_READ_POLL_LIMIT);
  EXPECT_EQ (Log.size (), 5 + EEPROM_READ_POLL_LIMIT);
}

TEST_F (ScanOutcomeTest, SecondIntelControllerFindsChipAfterFirstMisses) {
  AddIntelSmbus ();
  Sim.AddPciFunction (2, 0, 0, INTEL_VENDOR, 0x8C22, SERIAL_BUS_CLASS, SMBUS_SUBCLASS, 0x00, 0x05, 0x0000F041);
  Sim.Chip.Faults.DeviceIdFromRead = 7;

  EXPECT_EQ (Run ({ u"-v" }), EFI_SUCCESS);
  EXPECT_EQ (
    Output (),
    SCAN_HEAD
    + CONTROLLER_HEADER + Q35_ROW + " Intel ID.\r\n"
    + CONTROLLER_HEADER + " 02 00 00  8086 8C22 05\r\n Intel ID.\r\n"
    + " Found Chip on Addr = 0x80020020, SMBaddr = 0xF040\r\n"
    + CLOSING_SEPARATOR + VERSION_LINE
    );

  std::vector<std::string>  Expected = MISSED_CHECK;
  Expected.insert (Expected.end (), QUERY_BUS_LOG.begin (), QUERY_BUS_LOG.end ());
  EXPECT_EQ (BusLog (), Expected);
  EXPECT_EQ (ConfigReads (), Walk (Position (2, 0, 0), { { Q35_SMBUS, { 0x08, 0x20 } }, { Position (2, 0, 0), { 0x08, 0x20 } } }));
}

TEST_F (ScanOutcomeTest, AmdFindsChipOnSecondBase) {
  AddAmdSmbus (0, 0x14, 0);
  Sim.Chip.Faults.DeviceIdFromRead = 7;

  EXPECT_EQ (Run ({ u"-v" }), EFI_SUCCESS);
  EXPECT_EQ (
    Output (),
    SCAN_HEAD + CONTROLLER_HEADER
    + " 00 14 00  1022 780B 14\r\n"
    + " Found AMD SMBUS device.\r\n"
    + " Check TCON Device ID...on 0xB00...Fail.\r\n"
    + " Check TCON Device ID...on 0xB20...Ok.\r\n"
    + " Found Chip on Addr = 0x0, SMBaddr = 0xB20\r\n"
    + CLOSING_SEPARATOR + VERSION_LINE
    );

  // Each try's line is shown before its check runs and finished after it.
  std::vector<std::string>  Steps = ConsoleAndBus ();
  ASSERT_EQ (Steps.size (), 7u);
  EXPECT_TRUE (Steps[0].ends_with (" Found AMD SMBUS device.\r\n Check TCON Device ID...on 0xB00...")) << Steps[0];
  EXPECT_EQ (Steps[1], "[7]");
  EXPECT_EQ (Steps[2], "Fail.\r\n Check TCON Device ID...on 0xB20...");
  EXPECT_EQ (Steps[3], "[2]");
  EXPECT_EQ (Steps[4], "Ok.\r\n Found Chip on Addr = 0x0, SMBaddr = 0xB20\r\n" + CLOSING_SEPARATOR);
  EXPECT_EQ (Steps[5], "[14]");
  EXPECT_EQ (Steps[6], VERSION_LINE);

  // No register 0x20 for AMD, and nothing after it.
  EXPECT_EQ (ConfigReads (), Walk (Position (0, 0x14, 0), { { Position (0, 0x14, 0), { 0x08 } } }));
}

//
// The outcomes that end the run.
//

TEST_F (ScanOutcomeTest, IntelWithoutChipProbesEverythingThenGivesUp) {
  AddIntelSmbus ();
  Sim.Chip.Faults.DeviceIdFromRead = ZK48_NEVER;

  EXPECT_EQ (Run ({ u"-v" }), EFI_NOT_FOUND);
  EXPECT_EQ (Output (), SCAN_HEAD + CONTROLLER_HEADER + Q35_ROW + " Intel ID.\r\n" + NOT_FOUND_LINE + Q35_MISSED_LINE);
  EXPECT_EQ (BusLog (), MISSED_CHECK);
  EXPECT_EQ (ConfigReads (), Walk (LAST_POSITION, { { Q35_SMBUS, { 0x08, 0x20 } } }));
  EXPECT_EQ (Sim.CallCount (harness::Call::Stall), 0u);
}

TEST_F (ScanOutcomeTest, AmdWithoutChipEndsScanBeforeIntelAfterIt) {
  AddAmdSmbus (0, 0x14, 0);
  AddIntelSmbus ();
  Sim.Chip.Faults.DeviceIdFromRead = ZK48_NEVER;

  EXPECT_EQ (Run ({ u"-v" }), EFI_NOT_FOUND);
  EXPECT_EQ (
    Output (),
    SCAN_HEAD + CONTROLLER_HEADER
    + " 00 14 00  1022 780B 14\r\n"
    + " Found AMD SMBUS device.\r\n"
    + " Check TCON Device ID...on 0xB00...Fail.\r\n"
    + " Check TCON Device ID...on 0xB20...Fail.\r\n"
    + " Device ID check at 00:14.0 (SMBus 0xB00): 6 reads, all answered 0xFF; the ZK48 answers 0x11.\r\n"
    + " Device ID check at 00:14.0 (SMBus 0xB20): 6 reads, all answered 0xFF; the ZK48 answers 0x11.\r\n"
    );

  std::vector<std::string>  Expected = MISSED_CHECK;
  Expected.insert (Expected.end (), MISSED_CHECK.begin (), MISSED_CHECK.end ());
  EXPECT_EQ (BusLog (), Expected);
  EXPECT_EQ (ConfigReads (), Walk (Position (0, 0x14, 0), { { Position (0, 0x14, 0), { 0x08 } } }));
}

TEST_F (ScanOutcomeTest, UnknownVendorEndsScanBeforeIntelAfterIt) {
  Sim.AddPciFunction (0, 0x10, 0, 0x1106, 0x3050, SERIAL_BUS_CLASS, SMBUS_SUBCLASS, 0x00, 0x01, 0x0000C001);
  AddIntelSmbus ();

  EXPECT_EQ (Run ({ u"-v" }), EFI_UNSUPPORTED);
  EXPECT_EQ (
    Output (),
    SCAN_HEAD + CONTROLLER_HEADER
    + " 00 10 00  1106 3050 01\r\n"
    + " Found unknown SMBUS device, can't support now.\r\n"
    + NOT_FOUND_LINE
    );
  EXPECT_TRUE (Sim.Transactions.empty ());
  EXPECT_EQ (ConfigReads (), Walk (Position (0, 0x10, 0), { { Position (0, 0x10, 0), { 0x08 } } }));
}

TEST_F (ScanOutcomeTest, UnknownVendorAfterChiplessIntelIsStillRefused) {
  AddIntelSmbus ();
  Sim.AddPciFunction (1, 0, 0, 0x1106, 0x3050, SERIAL_BUS_CLASS, SMBUS_SUBCLASS, 0x00, 0x01);
  Sim.Chip.Faults.DeviceIdFromRead = ZK48_NEVER;

  EXPECT_EQ (Run ({ u"-v" }), EFI_UNSUPPORTED);
  EXPECT_EQ (
    Output (),
    SCAN_HEAD
    + CONTROLLER_HEADER + Q35_ROW + " Intel ID.\r\n"
    + CONTROLLER_HEADER + " 01 00 00  1106 3050 01\r\n"
    + " Found unknown SMBUS device, can't support now.\r\n"
    + NOT_FOUND_LINE
    + Q35_MISSED_LINE
    );
  EXPECT_EQ (BusLog (), MISSED_CHECK);
}

TEST_F (ScanOutcomeTest, NoSmbusControllerAnywhere) {
  Sim.AddPciFunction (0, 0, 0, INTEL_VENDOR, 0x29C0, 0x06, 0x00, 0x00, 0x02);
  Sim.AddPciFunction (0, 0x1D, 0, INTEL_VENDOR, 0x2934, SERIAL_BUS_CLASS, 0x03, 0x00, 0x02);
  Sim.AddPciFunction (0, 0x1F, 2, INTEL_VENDOR, 0x2922, 0x01, 0x06, 0x01, 0x02);

  EXPECT_EQ (Run ({ u"-v" }), EFI_NOT_FOUND);
  EXPECT_EQ (Output (), SCAN_HEAD + NOT_FOUND_LINE);
  EXPECT_TRUE (Sim.Transactions.empty ());
  EXPECT_EQ (
    ConfigReads (),
    Walk (LAST_POSITION, { { Position (0, 0, 0), { 0x08 } }, { Position (0, 0x1D, 0), { 0x08 } }, { Position (0, 0x1F, 2), { 0x08 } } })
    );
}

//
// A scan without the chip says, after its own lines, what each device-ID
// check saw, so that nothing at the address reads differently from another
// device answering there.
//

struct DIAGNOSTIC_CASE {
  const char                  *Name;
  int                         Controllers;   // Intel controllers: the q35 one, then one on each bus from 1
  void                        (*Arrange) (harness::SimFirmware &Sim);
  std::vector<std::string>    Lines;         // after the scan's error line
};

class ScanDiagnosticTest : public ScanOutcomeTest, public ::testing::WithParamInterface<DIAGNOSTIC_CASE> {};

TEST_P (ScanDiagnosticTest, FollowsTheErrorLine) {
  const DIAGNOSTIC_CASE  &Case = GetParam ();
  std::string            Expected;

  AddIntelSmbus ();
  for (int Bus = 1; Bus < Case.Controllers; Bus++) {
    AddIntelSmbus (Bus, 0, 0, 0x0000F001 + (uint32_t)Bus * 0x20);
  }

  Case.Arrange (Sim);
  for (const std::string &Line : Case.Lines) {
    Expected += Line + "\r\n";
  }

  EXPECT_EQ (Run ({ u"-v" }), EFI_NOT_FOUND);

  std::string  Text = Output ();
  size_t       End  = Text.find (NOT_FOUND_LINE);
  ASSERT_NE (End, std::string::npos) << Text;
  EXPECT_EQ (Text.substr (End + NOT_FOUND_LINE.size ()), Expected);
  EXPECT_EQ ((int)std::count (Text.begin (), Text.end (), '\n'), 7 + 4 * Case.Controllers + 1 + (int)Case.Lines.size ()) << "nothing else printed";
}

INSTANTIATE_TEST_SUITE_P (
  Scan,
  ScanDiagnosticTest,
  ::testing::Values (
    DIAGNOSTIC_CASE {
      "EveryReadRefused", 1,
      [](harness::SimFirmware &Sim) { Sim.Chip.Faults.FailAll = TRUE; },
      { " Device ID check at 00:1F.3 (SMBus 0xB100): 6 reads, all refused (Device Error); the ZK48 answers 0x11." }
    },
    DIAGNOSTIC_CASE {
      "AnotherDeviceId", 1,
      [](harness::SimFirmware &Sim) { Sim.Chip.DeviceId = 0x12; },
      { " Device ID check at 00:1F.3 (SMBus 0xB100): 6 reads, all answered 0x12; the ZK48 answers 0x11." }
    },
    DIAGNOSTIC_CASE {
      "ReadsOfZero", 1,
      [](harness::SimFirmware &Sim) { Sim.Chip.DeviceId = 0x00; },
      { " Device ID check at 00:1F.3 (SMBus 0xB100): 6 reads, all answered 0x00; the ZK48 answers 0x11." }
    },
    // The values in the order read; a refusal with another status is not hidden.
    DIAGNOSTIC_CASE {
      "ValuesAndRefusals", 1,
      [](harness::SimFirmware &Sim) {
        Sim.Chip.Faults.DeviceIdFromRead = ZK48_NEVER;
        Sim.Chip.Faults.FaultAt          = 4;   // counted by the chip: refused reads never reach it
        Sim.Chip.Faults.FaultKind        = Zk48FaultReadZero;
        Sim.Fail (harness::Once (harness::Call::Execute, 2, EFI_TIMEOUT));
        Sim.Fail (harness::Once (harness::Call::Execute, 7, EFI_DEVICE_ERROR));
      },
      { " Device ID check at 00:1F.3 (SMBus 0xB100): 6 reads, answered 0xFF 0xFF 0x00 0xFF, 2 refused (Time out, and other statuses); the ZK48 answers 0x11." }
    },
    DIAGNOSTIC_CASE {
      "TwoIntelControllers", 2,
      [](harness::SimFirmware &Sim) { Sim.Chip.Faults.DeviceIdFromRead = ZK48_NEVER; },
      {
        " Device ID check at 00:1F.3 (SMBus 0xB100): 6 reads, all answered 0xFF; the ZK48 answers 0x11.",
        " Device ID check at 01:00.0 (SMBus 0xF020): 6 reads, all answered 0xFF; the ZK48 answers 0x11."
      }
    },
    DIAGNOSTIC_CASE {
      "FourShownOneMore", 5,
      [](harness::SimFirmware &Sim) { Sim.Chip.DeviceId = 0x12; },
      {
        " Device ID check at 00:1F.3 (SMBus 0xB100): 6 reads, all answered 0x12; the ZK48 answers 0x11.",
        " Device ID check at 01:00.0 (SMBus 0xF020): 6 reads, all answered 0x12; the ZK48 answers 0x11.",
        " Device ID check at 02:00.0 (SMBus 0xF040): 6 reads, all answered 0x12; the ZK48 answers 0x11.",
        " Device ID check at 03:00.0 (SMBus 0xF060): 6 reads, all answered 0x12; the ZK48 answers 0x11.",
        " And 1 more device ID check(s), not shown."
      }
    },
    // A driver with no chip behind it ahead of the chip's: each check names the driver it went through.
    DIAGNOSTIC_CASE {
      "RefusingDriverAheadOfTheChips", 1,
      [](harness::SimFirmware &Sim) { Sim.AddSmbusController (harness::SmbusBehind::Nothing, true); Sim.Chip.Faults.DeviceIdFromRead = ZK48_NEVER; },
      {
        " Device ID check at 00:1F.3 (SMBus 0xB100, driver 1 of 2): 6 reads, all refused (Device Error); the ZK48 answers 0x11.",
        " Device ID check at 00:1F.3 (SMBus 0xB100, driver 2 of 2): 6 reads, all answered 0xFF; the ZK48 answers 0x11."
      }
    },
    DIAGNOSTIC_CASE {
      "SilentDriverAheadOfAnotherDevice", 2,
      [](harness::SimFirmware &Sim) { Sim.AddSmbusController (harness::SmbusBehind::Silent, true); Sim.Chip.DeviceId = 0x12; },
      {
        " Device ID check at 00:1F.3 (SMBus 0xB100, driver 1 of 2): 6 reads, all answered 0xFF; the ZK48 answers 0x11.",
        " Device ID check at 00:1F.3 (SMBus 0xB100, driver 2 of 2): 6 reads, all answered 0x12; the ZK48 answers 0x11.",
        " Device ID check at 01:00.0 (SMBus 0xF020, driver 1 of 2): 6 reads, all answered 0xFF; the ZK48 answers 0x11.",
        " Device ID check at 01:00.0 (SMBus 0xF020, driver 2 of 2): 6 reads, all answered 0x12; the ZK48 answers 0x11."
      }
    },
    DIAGNOSTIC_CASE {
      "ThreeDriversTwoControllers", 2,
      [](harness::SimFirmware &Sim) { Sim.AddSmbusController (harness::SmbusBehind::Nothing); Sim.AddSmbusController (harness::SmbusBehind::Silent); Sim.Chip.Faults.FailAll = TRUE; },
      {
        " Device ID check at 00:1F.3 (SMBus 0xB100, driver 1 of 3): 6 reads, all refused (Device Error); the ZK48 answers 0x11.",
        " Device ID check at 00:1F.3 (SMBus 0xB100, driver 2 of 3): 6 reads, all refused (Device Error); the ZK48 answers 0x11.",
        " Device ID check at 00:1F.3 (SMBus 0xB100, driver 3 of 3): 6 reads, all answered 0xFF; the ZK48 answers 0x11.",
        " Device ID check at 01:00.0 (SMBus 0xF020, driver 1 of 3): 6 reads, all refused (Device Error); the ZK48 answers 0x11.",
        " And 2 more device ID check(s), not shown."
      }
    },
    DIAGNOSTIC_CASE {
      "FourShownThreeMore", 7,
      [](harness::SimFirmware &Sim) { Sim.Chip.Faults.FailAll = TRUE; },
      {
        " Device ID check at 00:1F.3 (SMBus 0xB100): 6 reads, all refused (Device Error); the ZK48 answers 0x11.",
        " Device ID check at 01:00.0 (SMBus 0xF020): 6 reads, all refused (Device Error); the ZK48 answers 0x11.",
        " Device ID check at 02:00.0 (SMBus 0xF040): 6 reads, all refused (Device Error); the ZK48 answers 0x11.",
        " Device ID check at 03:00.0 (SMBus 0xF060): 6 reads, all refused (Device Error); the ZK48 answers 0x11.",
        " And 3 more device ID check(s), not shown."
      }
    }
    ),
  [](const ::testing::TestParamInfo<DIAGNOSTIC_CASE> &Info) { return std::string (Info.param.Name); }
  );

//
// The chip behind a later driver: the check goes through each driver in the
// firmware's order until the chip answers, and every transaction after it
// goes through the one it answered through. The console is as with one.
//
struct DECOY_CASE {
  const char                  *Name;
  harness::SmbusBehind        Behind;     // behind the driver the firmware gives first
  bool                        Amd;
  std::vector<std::string>    AheadLog;   // what the first driver carried
};

class DriverOrderTest : public ScanOutcomeTest, public ::testing::WithParamInterface<DECOY_CASE> {};

TEST_P (DriverOrderTest, ChipBehindTheSecondDriverCarriesTheRun) {
  const DECOY_CASE          &Case  = GetParam ();
  int                       Ahead  = Sim.AddSmbusController (Case.Behind, true);
  std::vector<std::string>  Chips;
  std::vector<std::string>  Aheads;
  std::vector<std::string>  Log;

  if (Case.Amd) {
    AddAmdSmbus (0, 0x14, 0);
  } else {
    AddIntelSmbus ();
  }

  EXPECT_EQ (Run ({ u"-v" }), EFI_SUCCESS);
  EXPECT_EQ (
    Output (),
    SCAN_HEAD + CONTROLLER_HEADER
    + (Case.Amd ? " 00 14 00  1022 780B 14\r\n Found AMD SMBUS device.\r\n Check TCON Device ID...on 0xB00...Ok.\r\n Found Chip on Addr = 0x0, SMBaddr = 0xB00\r\n"
                : Q35_ROW + std::string (" Intel ID.\r\n") + Q35_CHIP)
    + CLOSING_SEPARATOR + VERSION_LINE
    );

  Log = BusLog ();
  ASSERT_EQ (Log.size (), Sim.Transactions.size ());
  for (size_t Index = 0; Index < Log.size (); Index++) {
    (Sim.Transactions[Index].Controller == Ahead ? Aheads : Chips).push_back (Log[Index]);
    if (Sim.Transactions[Index].Controller != Ahead) {
      EXPECT_GE (Index, Case.AheadLog.size ()) << "the first driver's check comes first";
    }
  }

  EXPECT_EQ (Aheads, Case.AheadLog);
  EXPECT_EQ (Chips, QUERY_BUS_LOG);
}

INSTANTIATE_TEST_SUITE_P (
  Scan,
  DriverOrderTest,
  ::testing::Values (
    DECOY_CASE { "RefusingIntel", harness::SmbusBehind::Nothing, false,
                 REFUSED_CHECK },
    DECOY_CASE { "SilentIntel", harness::SmbusBehind::Silent, false, MISSED_CHECK },
    DECOY_CASE { "RefusingAmd", harness::SmbusBehind::Nothing, true,
                 REFUSED_CHECK }
    ),
  [](const ::testing::TestParamInfo<DECOY_CASE> &Info) { return std::string (Info.param.Name); }
  );

//
// The values of the row and chip-found lines.
//

struct ChipFoundCase {
  int           Bus;
  int           Dev;
  int           Func;
  uint16_t      Device;
  uint8_t       Revision;
  uint32_t      Bar;
  const char    *Row;
  const char    *ChipLine;
};

class ChipFoundLineTest : public ScanOutcomeTest, public ::testing::WithParamInterface<ChipFoundCase> {};

TEST_P (ChipFoundLineTest, ShowsPositionIdsAndAddresses) {
  const ChipFoundCase  &Case = GetParam ();
  const uint32_t       At    = Position (Case.Bus, Case.Dev, Case.Func);

  Sim.AddPciFunction (Case.Bus, Case.Dev, Case.Func, INTEL_VENDOR, Case.Device, SERIAL_BUS_CLASS, SMBUS_SUBCLASS, 0x00, Case.Revision, Case.Bar);

  EXPECT_EQ (Run ({ u"-v" }), EFI_SUCCESS);
  EXPECT_EQ (Output (), SCAN_HEAD + CONTROLLER_HEADER + Case.Row + " Intel ID.\r\n" + Case.ChipLine + CLOSING_SEPARATOR + VERSION_LINE);
  EXPECT_EQ (ConfigReads (), Walk (At, { { At, { 0x08, 0x20 } } }));
}

INSTANTIATE_TEST_SUITE_P (
  Scan,
  ChipFoundLineTest,
  ::testing::Values (
    // Odd base: bit 0 dropped.
    ChipFoundCase { 0, 0x1F, 4, 0x2930, 0x10, 0x0000EFA1, " 00 1F 04  8086 2930 10\r\n", " Found Chip on Addr = 0x8000FC20, SMBaddr = 0xEFA0\r\n" },
    // Bits 16-31 dropped; no leading zeros.
    ChipFoundCase { 0, 0x1F, 4, 0xA2A3, 0x10, 0xFFFF0401, " 00 1F 04  8086 A2A3 10\r\n", " Found Chip on Addr = 0x8000FC20, SMBaddr = 0x400\r\n" },
    // High bus, zero-padded IDs, upper-case hexadecimal everywhere.
    ChipFoundCase { 0xFE, 0x0A, 7, 0x0ABC, 0xC3, 0x1234ABCD, " FE 0A 07  8086 0ABC C3\r\n", " Found Chip on Addr = 0x80FE5720, SMBaddr = 0xABCC\r\n" },
    // The very first position, a base of nothing.
    ChipFoundCase { 0, 0, 0, 0x1C22, 0x05, 0x00000001, " 00 00 00  8086 1C22 05\r\n", " Found Chip on Addr = 0x80000020, SMBaddr = 0x0\r\n" }
    )
  );

} // namespace
