// The backup of the whole E2PROM (-d) and its comparison with an image
// (-c): what the bus carries for each byte, what the console and the
// volume hold after every way a run can end.
#include "tests/firmware/FirmwareTest.h"

#include <cstdio>
#include <memory>

namespace {

using harness::Call;

using harness::EEPROM_BYTES;
using harness::Pattern;
using harness::PatternByte;
using harness::VERSION_ADDRESS;

using harness::SCAN_TRANSACTIONS;

// After the scan, each byte costs three set-up writes, the polls and the data read.
constexpr uint32_t  POLLS_PER_BYTE    = 3;
constexpr uint32_t  BYTE_TRANSACTIONS = 3 + POLLS_PER_BYTE + 1;

const char  READ_START[] = " Reading E2PROM:      ";
const char  READ_END[]   = "\r\n================================================\r\n";

std::string
Format (
  const char  *Format,
  uint32_t    A,
  uint32_t    B = 0,
  uint32_t    C = 0
  )
{
  char  Text[160];

  std::snprintf (Text, sizeof (Text), Format, A, B, C);
  return Text;
}

// The figures a whole read draws: each new one, then 100.
std::string
ReadFigures (
  )
{
  std::string  Text;

  for (int Figure = 0; Figure < 100; Figure++) {
    Text += std::to_string (Figure) + "%";
  }

  return Text + "100%";
}

class BackupCompareTest : public FirmwareTest {
protected:
  std::unique_ptr<harness::SimFirmware>  Later;

  void
  SetUp (
    ) override
  {
    FirmwareTest::SetUp ();
    SetEeprom (Pattern ());
  }

  void
  SetEeprom (
    const std::vector<uint8_t>  &Bytes
    )
  {
    std::copy (Bytes.begin (), Bytes.end (), Bench ().Chip.Eeprom);
  }

  std::vector<uint8_t>
  Eeprom (
    )
  {
    return harness::Eeprom (Bench ().Chip);
  }

  // The bench of the test's latest run: the fixture's, until Restart.
  harness::SimFirmware &
  Bench (
    )
  {
    return Later != nullptr ? *Later : Sim;
  }

  //
  // A fresh bench, firmware and chip, for the next run of the same test;
  // the E2PROM and the volume's files carry over. The last run's bench is
  // held to the fixture's checks first.
  //
  void
  Restart (
    )
  {
    auto  Fresh = std::make_unique<harness::SimFirmware> ();

    ExpectBalanced (Bench ());
    SetUpBench (*Fresh);
    Fresh->Volumes[(size_t)Volume]->Files = Bench ().Volumes[(size_t)Volume]->Files;
    std::copy (Bench ().Chip.Eeprom, Bench ().Chip.Eeprom + EEPROM_BYTES, Fresh->Chip.Eeprom);
    Later = std::move (Fresh);
  }

  void
  TearDown (
    ) override
  {
    ExpectBalanced (Bench ());
  }

  EFI_STATUS
  Run (
    const std::vector<std::u16string>  &Args
    )
  {
    return RunOn (Bench (), Args);
  }

  std::string
  Output (
    )
  {
    return Bench ().RawText ();
  }

  // The first transaction of the byte at Address in the first pass, counted from 1 over the run.
  static uint32_t
  FirstTransactionOf (
    uint32_t  Address
    )
  {
    return SCAN_TRANSACTIONS + 1 + harness::FirstPassIndex (Address) * BYTE_TRANSACTIONS;
  }

  uint64_t
  BlockWrites (
    )
  {
    return Bench ().Chip.Counts.BlockWrites;
  }
};

TEST_F (BackupCompareTest, BackupRestoreAndCompareRoundTrip) {
  const std::vector<uint8_t>  Original = Pattern ();
  const std::string           Crc      = Format ("0x%08X", Zk48EepromCrc32 (&Bench ().Chip));

  EXPECT_EQ (Run ({ u"-d", u"backup.bin" }), EFI_SUCCESS);
  EXPECT_EQ (Output (), BenchUpToChip () + " Backup file is: FS0:\\backup.bin\r\n" + READ_START + ReadFigures () + READ_END +
             " Backup saved to FS0:\\backup.bin: 8192 bytes, CRC-32 " + Crc + ".\r\n");
  EXPECT_EQ (Bench ().FileData (Volume, u"backup.bin"), Original);
  EXPECT_EQ (Bench ().Chip.Counts.Transactions, SCAN_TRANSACTIONS + 2 * EEPROM_BYTES * BYTE_TRANSACTIONS) << "two passes, 4 transactions and the polls a byte";
  EXPECT_EQ (BlockWrites (), 0u);

  // Another image goes in; the backup brings the original back, and the comparison proves it.
  Restart ();
  std::fill (Bench ().Chip.Eeprom, Bench ().Chip.Eeprom + EEPROM_BYTES, 0x00);
  EXPECT_EQ (Run ({ u"backup.bin" }), EFI_SUCCESS);
  EXPECT_EQ (Eeprom (), Original);

  Restart ();
  EXPECT_EQ (Run ({ u"-c", u"backup.bin" }), EFI_SUCCESS);
  EXPECT_EQ (Output (), BenchUpToChip () + " Image name is: backup.bin FileSize:8KB\r\n" + READ_START + ReadFigures () + READ_END +
             " Image CRC-32 " + Crc + ", E2PROM CRC-32 " + Crc + ".\r\n The E2PROM is identical to the image.\r\n");
  EXPECT_EQ (BlockWrites (), 0u);
  EXPECT_EQ (Eeprom (), Original);
}

//
// What proving every byte costs on a clean bus, on each image shape: two
// plain passes of the E2PROM and a few reads more, 2.05 passes at most,
// for -d and -c alike; no note where nothing went wrong.
//
TEST_F (BackupCompareTest, EveryShapeIsProvenWithinTwoPassesAndAFewReads) {
  const uint64_t  PASS  = EEPROM_BYTES * BYTE_TRANSACTIONS;
  const uint64_t  LIMIT = SCAN_TRANSACTIONS + PASS * 205 / 100;

  for (const harness::IMAGE_SHAPE &Shape : harness::IMAGE_SHAPES) {
    for (const char16_t *Command : { u"-d", u"-c" }) {
      uint64_t  BitTimes = 0;

      Restart ();
      SetEeprom (harness::ShapeBytes (Shape));
      Bench ().AddFile (Volume, u"zk48.bin", harness::ShapeBytes (Shape));
      EXPECT_EQ (Run ({ Command, Command[1] == u'd' ? u"backup.bin" : u"zk48.bin" }), EFI_SUCCESS) << Shape.Name;
      EXPECT_LE (Bench ().Chip.Counts.Transactions, LIMIT) << Shape.Name;
      EXPECT_EQ (Output ().find (" Note:"), std::string::npos) << Shape.Name;
      for (const harness::SmbusTransaction &Entry : Bench ().Transactions) {
        BitTimes += Zk48WireBitTimes (Entry.Operation, Entry.Data.size (), FALSE);
      }

      std::printf ("cost: %-8s %s %6u transactions, %.4f plain passes, %.2f s on the wire at 100 kHz\n", Shape.Name, Command[1] == u'd' ? "-d" : "-c",
        Bench ().Chip.Counts.Transactions, (double)(Bench ().Chip.Counts.Transactions - SCAN_TRANSACTIONS) / (double)PASS, (double)BitTimes / 100000.0);
      if (Command[1] == u'd') {
        EXPECT_EQ (Bench ().FileData (Volume, u"backup.bin"), harness::ShapeBytes (Shape)) << Shape.Name;
        Bench ().Volumes[(size_t)Volume]->Files.erase (u"backup.bin");
      }
    }
  }
}

TEST_F (BackupCompareTest, ProgressIsRedrawnInPlaceOnlyWhenTheFigureChanges) {
  EXPECT_EQ (Run ({ u"-d", u"backup.bin" }), EFI_SUCCESS);

  std::vector<std::u16string>  Figures;
  int                          Moves = 0;

  for (size_t Index = 0; Index < Bench ().Timeline.size (); Index++) {
    const harness::Event  &Event = Bench ().Timeline[Index];

    if (Event.Kind == harness::Event::Cursor) {
      Moves++;
      EXPECT_EQ (Event.A, sizeof (READ_START) - 1);
      ASSERT_LT (Index + 1, Bench ().Timeline.size ());
      Figures.push_back (Bench ().Timeline[Index + 1].Text);
    }
  }

  EXPECT_EQ (Moves, 101);
  ASSERT_EQ (Figures.size (), 101u);
  EXPECT_EQ (Figures.front (), u"0%");
  EXPECT_EQ (Figures[99], u"99%");
  EXPECT_EQ (Figures.back (), u"100%");
}

TEST_F (BackupCompareTest, ComparisonFindsEachDifferingByteWithItsAddress) {
  const struct {
    uint16_t    Address;
    uint8_t     Image;
  } Cases[] = {
    { 0x0000,          0xA7 },
    { VERSION_ADDRESS, 0x5A },
    { 0x1FFF,          0x00 },
  };

  for (const auto &Case : Cases) {
    std::vector<uint8_t>  Image = Pattern ();

    Image[Case.Address] = Case.Image;
    Restart ();
    Bench ().AddFile (Volume, u"zk48.bin", Image);
    EXPECT_EQ (Run ({ u"-c", u"zk48.bin" }), EFI_CRC_ERROR) << Case.Address;
    EXPECT_EQ (Output ().substr (Output ().find (".\r\n Error:") + 3),
               " Error: 1 of 8192 bytes differ from the image:\r\n" +
               Format (" Address 0x%04X: image 0x%02X, E2PROM 0x%02X\r\n", Case.Address, Case.Image, PatternByte (Case.Address)))
      << Case.Address;
    EXPECT_NE (Output ().find (Format (" Image CRC-32 0x%08X,", harness::Crc32 (Image.data (), Image.size ()))), std::string::npos);
    EXPECT_EQ (Eeprom (), Pattern ()) << "the comparison writes nothing";
  }
}

TEST_F (BackupCompareTest, ComparisonCountsEveryDifferenceAndShowsTheFirstEight) {
  std::vector<uint8_t>  Image = Pattern ();
  std::string           Lines;

  for (uint32_t Address = 0x0100; Address < 0x0100 + 20 * 3; Address += 3) {
    Image[Address] ^= 0xFF;
    if (Address < 0x0100 + 8 * 3) {
      Lines += Format (" Address 0x%04X: image 0x%02X, E2PROM 0x%02X\r\n", Address, Image[Address], PatternByte (Address));
    }
  }

  Bench ().AddFile (Volume, u"zk48.bin", Image);
  EXPECT_EQ (Run ({ u"-c", u"zk48.bin" }), EFI_CRC_ERROR);
  EXPECT_EQ (Output ().substr (Output ().find (" Error:")), " Error: 20 of 8192 bytes differ from the image:\r\n" + Lines);
}

//
// A read that stops part-way (a wait that runs out, a bus that refuses from
// then on) ends the command with the address and what the bus refused, and
// a backup leaves no file.
//
TEST_F (BackupCompareTest, ReadThatStopsNamesTheAddressAndLeavesNoFile) {
  const struct {
    uint32_t           Address;
    ZK48_FAULT_KIND    Fault;
    uint32_t           Step;      // of the byte's transactions: 0 the first set-up write, 6 the data read
    EFI_STATUS         Status;
    const char         *Line;
  } Cases[] = {
    { 0x0000, Zk48FaultStatusStuck, 0, EFI_TIMEOUT,      " Error: E2PROM read timed out at address 0x0000, exit.\r\n" },
    { 0x0800, Zk48FaultStatusStuck, 0, EFI_TIMEOUT,      " Error: E2PROM read timed out at address 0x0800, exit.\r\n" },
    { 0x1FFF, Zk48FaultNack,        6, EFI_DEVICE_ERROR, " Error: E2PROM read failed at address 0x1FFF, exit.\r\n" },
    { VERSION_ADDRESS, Zk48FaultNack,        1, EFI_DEVICE_ERROR, " Error: E2PROM read failed at address 0x112F, exit.\r\n" },
  };

  for (const auto &Case : Cases) {
    for (const char16_t *Command : { u"-d", u"-c" }) {
      std::string  Line = Case.Line;

      Restart ();
      Bench ().AddFile (Volume, u"zk48.bin", Pattern ());
      if (Case.Fault == Zk48FaultNack) {
        Bench ().Fail (harness::FromThenOn (harness::Call::Execute, FirstTransactionOf (Case.Address) + Case.Step, EFI_DEVICE_ERROR));
        Line += Format (" The bus refused 5 of %u transactions, the last one 5 times in a row.\r\n", FirstTransactionOf (Case.Address) + Case.Step + 4);
      } else {
        Bench ().Chip.Faults.FaultAt   = FirstTransactionOf (Case.Address) + Case.Step;
        Bench ().Chip.Faults.FaultKind = Case.Fault;
      }
      EXPECT_EQ (Run ({ Command, Command[1] == u'd' ? u"backup.bin" : u"zk48.bin" }), Case.Status) << Case.Line;
      EXPECT_NE (Output ().find ("\r\n" + Line), std::string::npos) << Output ().substr (Output ().size () - 300);
      EXPECT_EQ (Output ().find ("identical"), std::string::npos);
      EXPECT_FALSE (Bench ().HasFile (Volume, u"backup.bin")) << Case.Line;
      if (Command[1] == u'd') {
        EXPECT_TRUE (Output ().ends_with (" The incomplete backup file was deleted.\r\n")) << Output ();
      }
    }
  }
}

// Every way writing the file can fail leaves no file and a balanced ledger, with the firmware's status.
TEST_F (BackupCompareTest, FailingFileStepsLeaveNoBackupBehind) {
  const struct {
    Call           Kind;
    uint64_t       Nth;
    EFI_STATUS     Status;
    const char     *Line;
    bool           Created;
  } Cases[] = {
    { Call::Open,  2, EFI_ACCESS_DENIED, " Error: cannot create FS0:\\backup.bin: Access Denied, exit.\r\n",   false },
    { Call::Write, 1, EFI_DEVICE_ERROR,  " Error: writing FS0:\\backup.bin failed: Device Error, exit.\r\n",   true  },
    { Call::Flush, 1, EFI_VOLUME_FULL,   " Error: flushing FS0:\\backup.bin failed: Volume Full, exit.\r\n",   true  },
    { Call::Close, 1, EFI_DEVICE_ERROR,  " Error: closing FS0:\\backup.bin failed: Device Error, exit.\r\n",   true  },
  };

  for (const auto &Case : Cases) {
    Restart ();
    Bench ().Fail (harness::Once (Case.Kind, Case.Nth, Case.Status));
    EXPECT_EQ (Run ({ u"-d", u"backup.bin" }), Case.Status) << Case.Line;
    EXPECT_NE (Output ().find (Case.Line), std::string::npos) << Output ();
    EXPECT_EQ (Output ().find (" Backup saved"), std::string::npos);
    EXPECT_EQ (Output ().find (" The incomplete backup file was deleted.\r\n") != std::string::npos, Case.Created) << Case.Line;
    EXPECT_FALSE (Bench ().HasFile (Volume, u"backup.bin")) << Case.Line;
    EXPECT_EQ (Bench ().LedgerProblems (), std::vector<std::string> {}) << Case.Line;
  }

  // A full volume takes part of the file and says so.
  Restart ();
  Bench ().Volumes[(size_t)Volume]->FreeBytes = 4096;
  EXPECT_EQ (Run ({ u"-d", u"backup.bin" }), EFI_VOLUME_FULL);
  EXPECT_NE (Output ().find (" Error: writing FS0:\\backup.bin failed: Volume Full, exit.\r\n The incomplete backup file was deleted.\r\n"), std::string::npos);
  EXPECT_FALSE (Bench ().HasFile (Volume, u"backup.bin"));

  // A driver that takes part of the file and reports success: the write that failed is named, not the read-back.
  Restart ();
  Bench ().Fail (harness::Short (Call::Write, 100));
  EXPECT_EQ (Run ({ u"-d", u"backup.bin" }), EFI_VOLUME_FULL);
  EXPECT_NE (Output ().find (" Error: writing FS0:\\backup.bin stopped after 100 of 8192 bytes, exit.\r\n The incomplete backup file was deleted.\r\n"), std::string::npos) << Output ();
  EXPECT_EQ (Output ().find ("read back"), std::string::npos);
  EXPECT_FALSE (Bench ().HasFile (Volume, u"backup.bin"));

  // A file that cannot be deleted is named, so that nobody takes it for a backup.
  Restart ();
  Bench ().Fail (harness::Once (Call::Write, 1, EFI_DEVICE_ERROR));
  Bench ().Fail (harness::Once (Call::Delete, 1, EFI_WARN_DELETE_FAILURE));
  EXPECT_EQ (Run ({ u"-d", u"backup.bin" }), EFI_DEVICE_ERROR);
  EXPECT_NE (Output ().find (" Error: the incomplete backup file FS0:\\backup.bin could not be deleted, do not use it.\r\n"), std::string::npos);
}

// Names that cannot take a backup are refused before a single E2PROM byte is read.
TEST_F (BackupCompareTest, BackupRefusesNamesItCannotUseBeforeReading) {
  const std::vector<uint8_t>  Kept = MakeImage (0x33);

  Bench ().AddFile (Volume, u"backup.bin", Kept);
  EXPECT_EQ (Run ({ u"-d", u"backup.bin" }), EFI_ACCESS_DENIED);
  EXPECT_EQ (Output (), BenchUpToChip () + " Backup file is: FS0:\\backup.bin\r\n Error: FS0:\\backup.bin already exists, it is not overwritten, exit.\r\n");
  EXPECT_EQ (Bench ().FileData (Volume, u"backup.bin"), Kept);
  EXPECT_EQ (Bench ().Chip.Counts.Transactions, SCAN_TRANSACTIONS);

  Restart ();
  Bench ().AddDirectory (Volume, u"saved");
  EXPECT_EQ (Run ({ u"-d", u"saved" }), EFI_ACCESS_DENIED);
  EXPECT_NE (Output ().find (" Error: FS0:\\saved already exists, it is not overwritten, exit.\r\n"), std::string::npos);

  Restart ();
  Bench ().Volumes[(size_t)Volume]->ReadOnly = true;
  EXPECT_EQ (Run ({ u"-d", u"new.bin" }), EFI_WRITE_PROTECTED);
  EXPECT_EQ (Output (), BenchUpToChip () + " Backup file is: FS0:\\new.bin\r\n Error: cannot create FS0:\\new.bin: Write Protected, exit.\r\n");
  EXPECT_EQ (Bench ().Chip.Counts.Transactions, SCAN_TRANSACTIONS);
  EXPECT_FALSE (Bench ().HasFile (Volume, u"new.bin"));
}

TEST_F (BackupCompareTest, OptionWithoutAFileIsRefusedBeforeTheScan) {
  for (const char16_t *Option : { u"-d", u"-c" }) {
    Restart ();
    EXPECT_EQ (Run ({ Option }), EFI_INVALID_PARAMETER);
    EXPECT_EQ (Output (), std::string (BANNER) + " Error: " + (Option[1] == u'd' ? "-d" : "-c") + " needs a file name, program exit.\r\n");
    EXPECT_EQ (Bench ().CallCount (Call::Execute), 0u);
    EXPECT_EQ (Bench ().CallCount (Call::PortRead), 0u);
  }

  // Only the exact option is one: anything else is an image file name.
  Restart ();
  EXPECT_EQ (Run ({ u"-D", u"backup.bin" }), EFI_NOT_FOUND);
  EXPECT_NE (Output ().find (" Image name is: -Dopen: fail_Not Found"), std::string::npos);
}

TEST_F (BackupCompareTest, ComparisonTakesTheLoadersVerdictOnTheFile) {
  EXPECT_EQ (Run ({ u"-c", u"nothere.bin" }), EFI_NOT_FOUND);
  EXPECT_EQ (Output (), BenchUpToChip () + " Image name is: nothere.binopen: fail_Not Found\r\n");

  Restart ();
  Bench ().AddFile (Volume, u"short.bin", MakeImage (0x5A, 8191));
  EXPECT_EQ (Run ({ u"-c", u"short.bin" }), EFI_BAD_BUFFER_SIZE);
  EXPECT_EQ (Output (), BenchUpToChip () + " Image name is: short.bin FileSize:7KB\r\n File size 8191 is not right, must be 8k Byte,exit.\r\n");
  EXPECT_EQ (Bench ().Chip.Counts.Transactions, SCAN_TRANSACTIONS);
}

} // namespace
