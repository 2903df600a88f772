// The ZK48 model's own settings as the tool meets them on the bus: the
// pattern fill, and a block write dropped on purpose.
#include "tests/firmware/FirmwareTest.h"

#include "chip/SmbusAccess.h"
#include "chip/TconChip.h"
#include "sim/Zk48Settings.h"

namespace {

class Zk48ChipTest : public FirmwareTest {
protected:
  void SetUp () override
  {
    FirmwareTest::SetUp ();
    InstallTables ();
    LocateSmbusHc ();
  }

  // Starts a fresh chip.
  void NewChip ()
  {
    Zk48Reset (&Sim.Chip, 0x5C);
    Sim.Chip.Eeprom[harness::VERSION_ADDRESS] = 0x5A;
  }

  // Applies one simulator setting to the chip, as Zk48SimCtl.efi would.
  BOOLEAN Apply (const std::u16string &Setting)
  {
    return Zk48ApplySetting (&Sim.Chip, Setting.c_str (), Setting.size ());
  }

  std::vector<uint8_t> Block (UINT16 Address) const
  {
    return std::vector<uint8_t> (Sim.Chip.Eeprom + Address, Sim.Chip.Eeprom + Address + harness::BLOCK_BYTES);
  }
};

TEST_F (Zk48ChipTest, FillPatternGivesEveryAddressItsOwnByte) {
  const struct {
    UINT16    Address;
    UINT8     Byte;
  } Cases[] = {
    { 0x0000, 0x00 }, { 0x00FF, 0xFF }, { 0x0100, 0x35 }, { 0x0102, 0x37 }, { 0x0201, 0x6B }, { 0x1FFF, 0x94 },
  };
  UINT8  Version = 0;

  NewChip ();
  ASSERT_TRUE (Apply (u"fill=pattern"));
  for (const auto &Case : Cases) {
    EXPECT_EQ (Sim.Chip.Eeprom[Case.Address], Case.Byte) << std::hex << Case.Address;
  }

  // All 8192 bytes at once: the CRC-32 worked out apart from the model.
  EXPECT_EQ (Zk48EepromCrc32 (&Sim.Chip), 0x05C8C018u);
  EXPECT_EQ (ReadEepromVersion (&Version), EepromReadDone);
  EXPECT_EQ (Version, 0xAA);

  // A version setting after it lands on the pattern; a byte fill still works.
  ASSERT_TRUE (Apply (u"version=0x55"));
  EXPECT_EQ (Block (0x1128), (std::vector<uint8_t> { 0xAD, 0xAC, 0xAF, 0xAE, 0xA9, 0xA8, 0xAB, 0x55 }));
  ASSERT_TRUE (Apply (u"fill=0x5A"));
  EXPECT_EQ (Block (0x0100), std::vector<uint8_t> (8, 0x5A));
  for (const char16_t *Refused : { u"fill=patterns", u"fill=Pattern", u"fill=" }) {
    EXPECT_FALSE (Apply (Refused)) << harness::Utf8 (Refused);
  }
}

TEST_F (Zk48ChipTest, DropBlockDropsTheNextAcknowledgedWriteToItsAddressOnly) {
  const struct {
    UINT16     Address;
    BOOLEAN    Acknowledged;
    bool       Lands;
  } Writes[] = {
    { 0x1128, FALSE, false },   // refused by the bus: the drop waits for the retry
    { 0x1120, TRUE,  true  },
    { 0x0128, TRUE,  true  },   // the same low byte in another page
    { 0x1128, TRUE,  false },
    { 0x1128, TRUE,  true  },
    { 0x1130, TRUE,  true  },
  };

  NewChip ();
  ASSERT_TRUE (Apply (u"drop-block=0x1128"));
  Sim.Chip.Faults.FaultAt   = 1;
  Sim.Chip.Faults.FaultKind = Zk48FaultNack;
  for (size_t Index = 0; Index < sizeof (Writes) / sizeof (Writes[0]); Index++) {
    const std::vector<uint8_t>  Data (8, (uint8_t)(0xA0 + Index));
    const std::vector<uint8_t>  Before = Block (Writes[Index].Address);

    EXPECT_EQ (WriteEepromBlock (Writes[Index].Address, Data.data ()), Writes[Index].Acknowledged) << Index;
    EXPECT_EQ (Block (Writes[Index].Address), Writes[Index].Lands ? Data : Before) << Index;
  }

  // Disarmed, or asked for an address the E2PROM does not have: every write lands.
  for (const char16_t *Disarm : { u"drop-block=never", u"reset" }) {
    NewChip ();
    ASSERT_TRUE (Apply (u"drop-block=0x0000"));
    EXPECT_FALSE (Apply (u"drop-block=0x2000"));
    ASSERT_TRUE (Apply (Disarm));
    EXPECT_TRUE (WriteEepromBlock (0x0000, std::vector<uint8_t> (8, 0x11).data ()));
    EXPECT_EQ (Block (0x0000), std::vector<uint8_t> (8, 0x11)) << harness::Utf8 (Disarm);
  }
}

} // namespace
