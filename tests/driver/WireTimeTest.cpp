// The simulator's wire time: the bit times of each kind of transfer, the
// bus clock setting, and the carry that keeps a long run's total exact.
#include <gtest/gtest.h>

#include <string>

#include "sim/Zk48Settings.h"
#include "sim/Zk48Wire.h"

namespace {

//
// Bit times from the parts of the transfer: S and P (and Sr) 1 each, every
// byte 9 with its acknowledge. At 100 kHz a bit time is 10 us.
//
struct WIRE_CASE {
  const char             *Name;
  EFI_SMBUS_OPERATION    Operation;
  UINTN                  Length;
  BOOLEAN                PecCheck;
  UINT64                 BitTimes;
  UINTN                  MicrosecondsAt100Khz;
};

constexpr UINT64  S = 1, SR = 1, P = 1, BYTE = 9;

const WIRE_CASE  mWireCases[] = {
  // The tool's three: the register write, the register read, the 11-byte block frame (address high, low, 8 data, after its count 0x0A).
  { "WriteByte",            EfiSmbusWriteByte,       1,  FALSE, S + 3 * BYTE + P,                  290  },   // addr cmd data
  { "ReadByte",             EfiSmbusReadByte,        1,  FALSE, S + 2 * BYTE + SR + 2 * BYTE + P,  390  },   // addr cmd Sr addr data
  { "WriteBlockOfTheFrame", EfiSmbusWriteBlock,      11, FALSE, S + (3 + 11) * BYTE + P,           1280 },   // addr cmd count 11 data
  // The other kinds a host controller offers.
  { "QuickRead",            EfiSmbusQuickRead,       0,  FALSE, S + BYTE + P,                      110  },
  { "QuickWrite",           EfiSmbusQuickWrite,      0,  TRUE,  S + BYTE + P,                      110  },   // no PEC on a quick command
  { "ReceiveByte",          EfiSmbusReceiveByte,     1,  FALSE, S + 2 * BYTE + P,                  200  },
  { "SendByte",             EfiSmbusSendByte,        1,  FALSE, S + 2 * BYTE + P,                  200  },
  { "ReadWord",             EfiSmbusReadWord,        2,  FALSE, S + 2 * BYTE + SR + 3 * BYTE + P,  480  },
  { "WriteWord",            EfiSmbusWriteWord,       2,  FALSE, S + 4 * BYTE + P,                  380  },
  { "ProcessCall",          EfiSmbusProcessCall,     2,  FALSE, S + 4 * BYTE + SR + 3 * BYTE + P,  660  },
  { "ReadBlockOf32",        EfiSmbusReadBlock,       32, FALSE, S + 2 * BYTE + SR + 34 * BYTE + P, 3270 },
  { "WriteBlockOf1",        EfiSmbusWriteBlock,      1,  FALSE, S + 4 * BYTE + P,                  380  },
  { "ReadByteWithPec",      EfiSmbusReadByte,        1,  TRUE,  S + 2 * BYTE + SR + 3 * BYTE + P,  480  },
  { "WriteBlockWithPec",    EfiSmbusWriteBlock,      11, TRUE,  S + (3 + 11 + 1) * BYTE + P,       1370 },
  // What never reaches the wire.
  { "WriteBlockOf0",        EfiSmbusWriteBlock,      0,  FALSE, 0,                                 0    },
  { "WriteBlockOf33",       EfiSmbusWriteBlock,      33, FALSE, 0,                                 0    },
  { "ReadBlockOf33",        EfiSmbusReadBlock,       33, FALSE, 0,                                 0    },
  { "BlockProcessCall",     EfiSmbusBWBRProcessCall, 4,  FALSE, 0,                                 0    },
  { "UnknownOperation",     (EFI_SMBUS_OPERATION)12, 1,  FALSE, 0,                                 0    },
};

class WireTimeTest : public ::testing::TestWithParam<WIRE_CASE> {};

TEST_P (WireTimeTest, BitTimesOfTheTransferAndTheirMicrosecondsAt100Khz) {
  const WIRE_CASE  &Case = GetParam ();
  ZK48_WIRE        Wire  = { 100, 0 };

  EXPECT_EQ (Zk48WireBitTimes (Case.Operation, Case.Length, Case.PecCheck), Case.BitTimes);
  EXPECT_EQ (Zk48WireMicroseconds (&Wire, Case.BitTimes), Case.MicrosecondsAt100Khz);
  EXPECT_EQ (Wire.Carry, 0u);
}

INSTANTIATE_TEST_SUITE_P (
  Transfers,
  WireTimeTest,
  ::testing::ValuesIn (mWireCases),
  [](const ::testing::TestParamInfo<WIRE_CASE> &Info) { return std::string (Info.param.Name); }
  );

//
// Many transfers in a row, the tool's mix of 29, 39 and 128 bit times: the
// microseconds handed out add up to the whole run's time rounded down,
// at clocks whose bit time has no whole microseconds as at those that do,
// and no single pause is off its own share by a whole microsecond.
//
TEST (WireTimeCarryTest, ManyTransfersSumToTheExactTotal) {
  const UINT64  Mix[] = { 29, 39, 39, 128 };

  for (UINT32 Khz : { 1u, 7u, 100u, 333u, 400u, 999u, 1000u }) {
    ZK48_WIRE  Wire  = { Khz, 0 };
    UINT64     Bits  = 0;
    UINT64     Given = 0;

    for (UINTN Index = 0; Index < 10000; Index++) {
      const UINT64  Share = Mix[Index % 4];
      const UINTN   Step  = Zk48WireMicroseconds (&Wire, Share);

      EXPECT_LE (Step * Khz, Share * 1000 + Khz - 1) << Khz << " kHz, transfer " << Index;
      EXPECT_GE ((Step + 1) * Khz, Share * 1000 + 1) << Khz << " kHz, transfer " << Index;
      Bits  += Share;
      Given += Step;
      ASSERT_LT (Wire.Carry, Khz);
    }

    EXPECT_EQ (Given, Bits * 1000 / Khz) << Khz << " kHz";
    EXPECT_EQ (Wire.Carry, Bits * 1000 % Khz) << Khz << " kHz";
  }
}

TEST (WireTimeCarryTest, NoClockTakesNoTime) {
  ZK48_WIRE  Wire = { 0, 0 };

  EXPECT_EQ (Zk48WireMicroseconds (&Wire, 128), 0u);
  EXPECT_EQ (Wire.Carry, 0u);
}

// The setting: 0 to 1000 kHz, each time with a fresh carry; reset is 0.
TEST (WireTimeSettingTest, BusKhzTakesZeroToOneMegahertz) {
  const struct {
    const char16_t    *Text;
    BOOLEAN           Taken;
    UINT32            Khz;
  } Cases[] = {
    { u"bus-khz=100",    TRUE,  100  },
    { u"bus-khz=0x3E8",  TRUE,  1000 },
    { u"bus-khz=0",      TRUE,  0    },
    { u"bus-khz=1001",   FALSE, 77   },
    { u"bus-khz=never",  FALSE, 77   },
    { u"bus-khz=",       FALSE, 77   },
    { u"bus-khz=-1",     FALSE, 77   },
    { u"reset",          TRUE,  0    },
  };

  for (const auto &Case : Cases) {
    ZK48_CHIP    Chip;
    const UINTN  Length = std::char_traits<char16_t>::length (Case.Text);

    Zk48Reset (&Chip, 0x10);
    Chip.Wire = { 77, 5 };
    const int    Index  = (int)(&Case - Cases);

    EXPECT_EQ (Zk48ApplySetting (&Chip, Case.Text, Length), Case.Taken) << "case " << Index;
    EXPECT_EQ (Chip.Wire.Khz, Case.Khz) << "case " << Index;
    EXPECT_EQ (Chip.Wire.Carry, Case.Taken ? 0u : 5u) << "case " << Index;
  }
}

} // namespace
