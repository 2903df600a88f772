// The controller scan on the configuration ports: what each position costs,
// the address layout written to 0xCF8, which class codes stop the walk and
// which positions it visits.
#include "tests/host/ScanTest.h"

#include <cstdio>

namespace {

using ScanPortTest = ScanTest;

TEST_F (ScanPortTest, EmptySpaceCostsOneReadPerPosition) {
  EXPECT_EQ (Run ({ u"-v" }), EFI_NOT_FOUND);
  EXPECT_EQ (Output (), SCAN_HEAD + NOT_FOUND_LINE);
  EXPECT_TRUE (Sim.Transactions.empty ());

  ASSERT_EQ (Sim.Ports.size (), 2u * 65536);
  std::vector<uint32_t>  Reads = ConfigReads ();
  ASSERT_EQ (Reads.size (), 65536u);
  EXPECT_EQ (Reads, Walk (LAST_POSITION));

  // The function varies fastest, then the device, then the bus.
  EXPECT_EQ (Reads[0], 0x80000000u);
  EXPECT_EQ (Reads[1], 0x80000100u);
  EXPECT_EQ (Reads[7], 0x80000700u);
  EXPECT_EQ (Reads[8], 0x80000800u);
  EXPECT_EQ (Reads[255], 0x8000FF00u);
  EXPECT_EQ (Reads[256], 0x80010000u);
  EXPECT_EQ (Reads[65535], 0x80FFFF00u);
}

TEST_F (ScanPortTest, PresentFunctionCostsTwoReadsInOrder) {
  Sim.AddPciFunction (0, 3, 0, INTEL_VENDOR, 0x10D3, 0x02, 0x00, 0x00, 0x00);
  Sim.AddPciFunction (0xFE, 0x1F, 7, INTEL_VENDOR, 0x2934, SERIAL_BUS_CLASS, 0x03, 0x00, 0x02);

  EXPECT_EQ (Run ({ u"-v" }), EFI_NOT_FOUND);
  EXPECT_EQ (Output (), SCAN_HEAD + NOT_FOUND_LINE);

  std::vector<uint32_t>  Reads = ConfigReads ();
  ASSERT_EQ (Reads.size (), 65536u + 2);
  EXPECT_EQ (Reads, Walk (LAST_POSITION, { { Position (0, 3, 0), { 0x08 } }, { Position (0xFE, 0x1F, 7), { 0x08 } } }));

  // 00:03.0: register 0x00, register 0x08, then on to 00:03.1.
  EXPECT_EQ (std::vector<uint32_t> (Reads.begin () + 24, Reads.begin () + 27), (std::vector<uint32_t> { 0x80001800, 0x80001808, 0x80001900 }));
  // FE:1F.7: bus in bits 16-23, device in 11-15, function in 8-10.
  EXPECT_EQ (std::vector<uint32_t> (Reads.begin () + 65280, Reads.begin () + 65283), (std::vector<uint32_t> { 0x80FEFF00, 0x80FEFF08, 0x80FF0000 }));
}

//
// Which class codes are SMBus controllers: base class 0x0C, subclass 0x05,
// whatever the programming interface.
//

struct ClassCase {
  uint8_t    BaseClass;
  uint8_t    SubClass;
  uint8_t    ProgIf;
  bool       Matches;
};

class ScanClassTest : public ScanTest, public ::testing::WithParamInterface<ClassCase> {};

TEST_P (ScanClassTest, MatchesOnBaseClassAndSubclassOnly) {
  const ClassCase  &Case = GetParam ();
  const uint32_t   At    = Position (0, 0x1F, 3);

  Sim.AddPciFunction (0, 0x1F, 3, INTEL_VENDOR, Q35_SMBUS_DEVICE, Case.BaseClass, Case.SubClass, Case.ProgIf, 0x02, Q35_SMBUS_BAR);

  if (Case.Matches) {
    EXPECT_EQ (Run ({ u"-v" }), EFI_SUCCESS);
    EXPECT_EQ (
      Output (),
      SCAN_HEAD + CONTROLLER_HEADER + " 00 1F 03  8086 2930 02\r\n Intel ID.\r\n"
      + " Found Chip on Addr = 0x8000FB20, SMBaddr = 0xB100\r\n" + CLOSING_SEPARATOR
      + "The E2PROM version is 0xFF. \r\n"
      );
    EXPECT_EQ (ConfigReads (), Walk (At, { { At, { 0x08, 0x20 } } }));
  } else {
    EXPECT_EQ (Run ({ u"-v" }), EFI_NOT_FOUND);
    EXPECT_EQ (Output (), SCAN_HEAD + NOT_FOUND_LINE);
    EXPECT_TRUE (Sim.Transactions.empty ());
    EXPECT_EQ (ConfigReads (), Walk (LAST_POSITION, { { At, { 0x08 } } }));
  }
}

INSTANTIATE_TEST_SUITE_P (
  Scan,
  ScanClassTest,
  ::testing::Values (
    ClassCase { 0x0C, 0x05, 0x00, true },
    ClassCase { 0x0C, 0x05, 0x01, true },
    ClassCase { 0x0C, 0x05, 0xFF, true },
    ClassCase { 0x0C, 0x03, 0x00, false },    // USB
    ClassCase { 0x0C, 0x03, 0x05, false },    // the programming interface is not the subclass
    ClassCase { 0x05, 0x0C, 0x00, false },    // the two bytes swapped
    ClassCase { 0x0D, 0x05, 0x00, false },
    ClassCase { 0x0C, 0x85, 0x00, false },
    ClassCase { 0x8C, 0x05, 0x00, false }
    )
  );

//
// Every function number of every device is visited, whatever function 0 says.
//

class ScanFunctionTest : public ScanTest, public ::testing::WithParamInterface<int> {};

TEST_P (ScanFunctionTest, FindsControllerBehindSingleFunctionDevice) {
  const int       Func = GetParam ();
  const uint32_t  At   = Position (0, 5, Func);
  char            Row[32];

  // Function 0 is a plain single-function device (header type 0x00).
  Sim.AddPciFunction (0, 5, 0, INTEL_VENDOR, 0x29C0, 0x06, 0x00, 0x00, 0x02);
  Sim.AddPciFunction (0, 5, Func, INTEL_VENDOR, Q35_SMBUS_DEVICE, SERIAL_BUS_CLASS, SMBUS_SUBCLASS, 0x00, 0x02, 0x0000B001);

  EXPECT_EQ (Run ({ u"-v" }), EFI_SUCCESS);
  std::snprintf (Row, sizeof (Row), " 00 05 %02X  8086 2930 02\r\n", Func);
  EXPECT_EQ (
    Output (),
    SCAN_HEAD + CONTROLLER_HEADER + Row + " Intel ID.\r\n"
    + " Found Chip on Addr = 0x80002" + "89ABCDEF"[Func] + "20, SMBaddr = 0xB000\r\n"
    + CLOSING_SEPARATOR + "The E2PROM version is 0xFF. \r\n"
    );
  EXPECT_EQ (ConfigReads (), Walk (At, { { Position (0, 5, 0), { 0x08 } }, { At, { 0x08, 0x20 } } }));
}

INSTANTIATE_TEST_SUITE_P (Scan, ScanFunctionTest, ::testing::Range (1, 8));

} // namespace
