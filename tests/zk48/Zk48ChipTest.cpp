// The ZK48 model's own settings as the tool meets them on the bus: the
// pattern fill, a block write dropped on purpose, and the faults of a
// shared bus.
#include "tests/firmware/FirmwareTest.h"

#include <set>

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
  EXPECT_EQ (ReadEepromVersion (&Version), ChipDone);
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
    bool       Lands;
  } Writes[] = {
    { 0x1128, false },   // refused by the bus once: the drop waits for the frame sent again
    { 0x1120, true  },
    { 0x0128, true  },   // the same low byte in another page
    { 0x1128, true  },
    { 0x1130, true  },
  };

  NewChip ();
  ASSERT_TRUE (Apply (u"drop-block=0x1128"));
  Sim.Chip.Faults.FaultAt   = 1;
  Sim.Chip.Faults.FaultKind = Zk48FaultNack;
  for (size_t Index = 0; Index < sizeof (Writes) / sizeof (Writes[0]); Index++) {
    const std::vector<uint8_t>  Data (8, (uint8_t)(0xA0 + Index));
    const std::vector<uint8_t>  Before = Block (Writes[Index].Address);

    EXPECT_EQ (WriteEepromBlock (Writes[Index].Address, Data.data ()), ChipDone) << Index;
    EXPECT_EQ (Block (Writes[Index].Address), Writes[Index].Lands ? Data : Before) << Index;
  }

  // An address inside a block is refused and leaves the drop armed as it was: no write could ever meet it.
  NewChip ();
  ASSERT_TRUE (Apply (u"drop-block=0x0800"));
  for (const char16_t *Inside : { u"drop-block=0x0801", u"drop-block=0x0807", u"drop-block=4" }) {
    EXPECT_FALSE (Apply (Inside)) << harness::Utf8 (Inside);
  }
  EXPECT_EQ (Sim.Chip.Faults.DropBlockAt, 0x0800u);

  // Disarmed, or asked for an address the E2PROM does not have: every write lands.
  for (const char16_t *Disarm : { u"drop-block=never", u"reset" }) {
    NewChip ();
    ASSERT_TRUE (Apply (u"drop-block=0x0000"));
    EXPECT_FALSE (Apply (u"drop-block=0x2000"));
    ASSERT_TRUE (Apply (Disarm));
    EXPECT_EQ (WriteEepromBlock (0x0000, std::vector<uint8_t> (8, 0x11).data ()), ChipDone);
    EXPECT_EQ (Block (0x0000), std::vector<uint8_t> (8, 0x11)) << harness::Utf8 (Disarm);
  }
}

//
// The faults of a shared bus: a transaction refused by count or at random,
// a write acknowledged and ignored at random, the draws repeatable by seed.
// The workload alternates a block write, one transaction each, with a read
// of the MCU version.
//
TEST_F (Zk48ChipTest, BusFaultSettingsRefuseAndIgnoreAsSet) {
  constexpr size_t  Rounds = 1000;
  const struct {
    std::vector<std::u16string>    Settings;
    size_t                         Every;        // refused exactly every Nth transaction; 0: by the range below
    size_t                         RefusedMin, RefusedMax;
    size_t                         IgnoredMin, IgnoredMax;
  } Cases[] = {
    { { u"refuse-every=3" },                               3, 0,   0,    0,   0    },
    { { u"refuse-every=1" },                               1, 0,   0,    0,   0    },
    { { u"refuse-every=3", u"refuse-every=never" },        0, 0,   0,    0,   0    },
    { { u"refuse-rate=1/1" },                              1, 0,   0,    0,   0    },
    { { u"refuse-rate=1/4", u"seed=7" },                   0, 440, 560,  0,   0    },
    { { u"refuse-rate=0x1/0x4", u"seed=8" },               0, 440, 560,  0,   0    },
    { { u"ignore-rate=1/10", u"seed=1" },                  0, 0,   0,    65,  135  },
    { { u"ignore-rate=1/1" },                              0, 0,   0,    1000, 1000 },
    { { u"refuse-rate=1/4", u"ignore-rate=1/4" },          0, 440, 560,  140, 235  },
    { { u"refuse-rate=1/4", u"ignore-rate=1/4", u"reset" }, 0, 0,  0,    0,   0    },   // and the MCU back to 0x10
    { { u"refuse-rate=1/4", u"refuse-rate=0" },            0, 0,   0,    0,   0    },
  };
  std::vector<std::vector<std::string>>  LogOf;

  for (size_t CaseIndex = 0; CaseIndex < sizeof (Cases) / sizeof (Cases[0]); CaseIndex++) {
    const auto                &Case = Cases[CaseIndex];
    std::vector<std::string>  Seen[2];

    // Twice on a fresh chip: the same settings give the same bus.
    for (std::vector<std::string> &Log : Seen) {
      size_t  Refused = 0;
      size_t  Ignored = 0;

      NewChip ();
      const size_t  Mark = Sim.Transactions.size ();
      for (const std::u16string &Setting : Case.Settings) {
        ASSERT_TRUE (Apply (Setting)) << harness::Utf8 (Setting);
      }

      for (size_t Round = 0; Round < Rounds; Round++) {
        const UINT16                At        = (UINT16)(Round * 8);
        UINT8                       Frame[11] = { 0x0A, (UINT8)(At >> 8), (UINT8)At, (UINT8)(Round % 251) };
        const std::vector<uint8_t>  Data (Frame + 3, Frame + sizeof (Frame));
        const std::vector<uint8_t>  Before    = Block (At);
        const BOOLEAN               Took      = SmbusWriteBlock (Frame, sizeof (Frame));
        const bool                  Landed    = Block (At) == Data;

        EXPECT_TRUE (Landed || (Block (At) == Before)) << "case " << CaseIndex << ", round " << Round;
        EXPECT_FALSE (!Took && Landed) << "a refused write changed the E2PROM, case " << CaseIndex;
        Ignored += (Took && !Landed) ? 1 : 0;
        SmbusReadByte (0x46, 0xC0);
      }

      Log = BusLog ();
      Log.erase (Log.begin (), Log.begin () + (std::ptrdiff_t)Mark);
      for (size_t Index = 0; Index < Log.size (); Index++) {
        const bool  WasRefused = Log[Index].ends_with (" !");

        Refused += WasRefused ? 1 : 0;
        if (Case.Every != 0) {
          EXPECT_EQ (WasRefused, (Index + 1) % Case.Every == 0) << "case " << CaseIndex << ", transaction " << Index + 1;
        }

        // A read is never ignored: every one answered gives the MCU version.
        if (Log[Index].starts_with ("R ") && !WasRefused) {
          EXPECT_EQ (Log[Index], Sim.Chip.McuVersion == 0x5C ? "R 23 C0 -> 5C" : "R 23 C0 -> 10") << CaseIndex;
        }
      }

      if (Case.Every == 0) {
        EXPECT_GE (Refused, Case.RefusedMin) << CaseIndex;
        EXPECT_LE (Refused, Case.RefusedMax) << CaseIndex;
      }

      EXPECT_GE (Ignored, Case.IgnoredMin) << CaseIndex;
      EXPECT_LE (Ignored, Case.IgnoredMax) << CaseIndex;
      EXPECT_EQ (Sim.Chip.Counts.Ignored, Ignored) << CaseIndex;
      EXPECT_EQ (Sim.Chip.Counts.Failed, Refused) << CaseIndex;
    }

    EXPECT_EQ (Seen[0], Seen[1]) << "case " << CaseIndex << " does not repeat";
    LogOf.push_back (Seen[0]);
  }

  // Another seed, another sequence.
  EXPECT_NE (LogOf[4], LogOf[5]);

  for (const char16_t *Refused : { u"refuse-every=0", u"refuse-rate=2/1", u"refuse-rate=1/0", u"refuse-rate=1", u"refuse-rate=1/",
                                   u"refuse-rate=/4", u"refuse-rate=never/4", u"ignore-rate=1/1/1", u"ignore-rate=1/0x100000000",
                                   u"seed=never", u"seed=0x100000000", u"seed=" }) {
    EXPECT_FALSE (Apply (Refused)) << harness::Utf8 (Refused);
  }
}

//
// The help Zk48SimCtl.efi shows: one line for each setting the parser takes,
// each within an 80-column screen, and the rule of a refused setting found
// by its name alone ("fault=" is not "fault-at=").
//
TEST_F (Zk48ChipTest, EverySettingHasOneHelpLineAndARefusedOneShowsItsRule) {
  const std::u16string  Accepted[] = {
    u"reset", u"fill=pattern", u"version=0x55", u"mcu=0x21", u"device-id=0x12", u"id-from=2",
    u"ready-after=never", u"ignore-writes=1", u"fail-all=0", u"drop-block=0x0808", u"fault-at=9",
    u"fault=read-zero", u"bus-khz=100", u"refuse-every=7", u"refuse-rate=1/100", u"ignore-rate=0", u"seed=3",
    u"decoy=silent",
  };
  std::set<std::string>  Named;

  for (const std::u16string &Setting : Accepted) {
    const CHAR8  *Line = Zk48SettingHelpFor (Setting.c_str (), Setting.size ());

    NewChip ();
    EXPECT_TRUE (Apply (Setting)) << harness::Utf8 (Setting);
    ASSERT_NE (Line, nullptr) << harness::Utf8 (Setting);
    Named.insert (Line);
  }

  // Every line but show's, which the control program takes itself, belongs to a setting above.
  EXPECT_EQ (Named.size () + 1, gZk48SettingHelpCount);
  for (UINTN Index = 0; Index < gZk48SettingHelpCount; Index++) {
    const std::string  Line = gZk48SettingHelp[Index].Line;

    EXPECT_LE (Line.size (), 79u) << Line;
    EXPECT_EQ (Line.rfind (std::string ("  ") + gZk48SettingHelp[Index].Name, 0), 0u) << Line;
  }

  const struct {
    const char16_t    *Text;
    const char        *Starts;    // nullptr: no setting of that name
  } Lookups[] = {
    { u"drop-block=0x0801", "  drop-block=" },
    { u"fault=sometimes",   "  fault=" },
    { u"fault-at=x",        "  fault-at=" },
    { u"seed",              "  seed=" },
    { u"fill-all=1",        nullptr },
    { u"-h",                nullptr },
    { u"",                  nullptr },
  };
  for (const auto &Lookup : Lookups) {
    const std::u16string  Text = Lookup.Text;
    const CHAR8           *Line = Zk48SettingHelpFor (Text.c_str (), Text.size ());

    if (Lookup.Starts == nullptr) {
      EXPECT_EQ (Line, nullptr) << harness::Utf8 (Text);
    } else {
      ASSERT_NE (Line, nullptr) << harness::Utf8 (Text);
      EXPECT_EQ (std::string (Line).rfind (Lookup.Starts, 0), 0u) << harness::Utf8 (Text) << ": " << Line;
    }
  }
}

} // namespace
