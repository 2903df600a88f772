// A bus that is not perfect: refused transactions sent again, bytes read
// until two reads agree, the backup read back from the volume, and the note
// that says what it took. Each case against the chip model and the screen.
#include "tests/firmware/FirmwareTest.h"
#include "tests/firmware/Oracle.h"

#include <algorithm>
#include <cstdio>

#include "chip/SmbusAccess.h"
#include "chip/TconChip.h"

namespace {

using harness::Call;
using harness::Eeprom;
using harness::SCAN_TRANSACTIONS;

constexpr uint16_t  UNSTEADY_ADDRESS = 0x0800;
constexpr uint32_t  BYTE_TRANSACTIONS = 3 + 3 + 1;   // set-up writes, the default three polls, the data read

// The steps of one byte's read sequence, as transactions after its first.
constexpr uint32_t  STEP_ADDRESS_HIGH = 0;
constexpr uint32_t  STEP_COMMAND      = 2;
constexpr uint32_t  STEP_POLL         = 3;
constexpr uint32_t  STEP_DATA         = 6;

const char  NOTE_RESENT[] = " Note: 1 bus transaction was refused and sent again.\r\n";
const char  NOTE_REREAD[] = " Note: 1 E2PROM byte was read again until two reads agreed.\r\n";

//
// A host controller in front of the simulated one, at whose one E2PROM
// byte the chip ignores the first two read commands, whenever they come:
// the same stray write in both passes of a backup.
//
EFI_SMBUS_HC_EXECUTE_OPERATION  mSimExecute;
ZK48_CHIP                       *mChip;
uint32_t                        mStrayAddress;
uint32_t                        mStrays;      // commands ignored

EFI_STATUS EFIAPI
StrayExecute (
  const EFI_SMBUS_HC_PROTOCOL  *This,
  EFI_SMBUS_DEVICE_ADDRESS     SlaveAddress,
  EFI_SMBUS_DEVICE_COMMAND     Command,
  EFI_SMBUS_OPERATION          Operation,
  BOOLEAN                      PecCheck,
  UINTN                        *Length,
  VOID                         *Buffer
  )
{
  const bool  AtAddress = (((uint32_t)mChip->AddressHigh << 8) | mChip->AddressLow) == mStrayAddress;

  if (AtAddress && (Command == harness::R_COMMAND) && (Operation == EfiSmbusWriteByte) && (mStrays < 2)) {
    mStrays++;
    mChip->Faults.FaultAt   = mChip->Counts.Transactions + 1;
    mChip->Faults.FaultKind = Zk48FaultWriteIgnored;
  }

  return mSimExecute (This, SlaveAddress, Command, Operation, PecCheck, Length, Buffer);
}

// Puts StrayExecute in front of the bench's first SMBus controller, straying at Address.
void
InterposeStray (
  harness::SimFirmware  &Bench,
  uint32_t              Address
  )
{
  mSimExecute                                 = Bench.SmbusControllers[0]->Protocol.Execute;
  mChip                                       = &Bench.Chip;
  mStrayAddress                               = Address;
  mStrays                                     = 0;
  Bench.SmbusControllers[0]->Protocol.Execute = StrayExecute;
}

//
// Where a shape is hardest on a read that compares a byte with its
// neighbours: in page 0x08 (read upwards), a byte whose two neighbours hold
// the same value and it another; UNSTEADY_ADDRESS when the shape has none.
//
uint32_t
BetweenEqualNeighbours (
  const std::vector<uint8_t>  &Bytes
  )
{
  for (uint32_t Address = UNSTEADY_ADDRESS + 1; Address < UNSTEADY_ADDRESS + 0xFF; Address++) {
    if ((Bytes[Address - 1] == Bytes[Address + 1]) && (Bytes[Address] != Bytes[Address - 1])) {
      return Address;
    }
  }

  return UNSTEADY_ADDRESS;
}

void
Fill (
  ZK48_CHIP                   &Chip,
  const std::vector<uint8_t>  &Bytes
  )
{
  std::copy (Bytes.begin (), Bytes.end (), Chip.Eeprom);
}

// The refusals a run's note counts; 0 when it has none.
uint32_t
NoteOf (
  const std::string  &Output
  )
{
  const size_t  At = Output.find (" Note: ");

  return (At == std::string::npos) ? 0 : (uint32_t)std::strtoul (Output.c_str () + At + 7, nullptr, 10);
}

class TransientFaultTest : public FirmwareTest {
protected:
  void
  SetUp (
    ) override
  {
    FirmwareTest::SetUp ();
    Zk48FillPattern (&Sim.Chip);
  }

  // The first transaction of the byte at Address in the first whole-E2PROM read, counted from 1 over the run.
  static uint32_t
  FirstTransactionOf (
    uint32_t  Address
    )
  {
    return SCAN_TRANSACTIONS + 1 + harness::FirstPassIndex (Address) * BYTE_TRANSACTIONS;
  }
};

// A refused block write: the write cycle's pause, then the same frame to the same address, CHIP_ATTEMPTS in all.
TEST_F (TransientFaultTest, RefusedBlockIsSentAgainAfterThePauseAFewTimesAtMost) {
  const UINT8  Data[8] = { 0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7 };
  const char   FRAME[] = "B 21 00 0A 11 28 D0 D1 D2 D3 D4 D5 D6 D7";

  InstallTables ();
  LocateSmbusHc ();
  for (uint64_t Refusals = 0; Refusals <= CHIP_ATTEMPTS; Refusals++) {
    const uint64_t  Sent   = std::min<uint64_t> (Refusals + 1, CHIP_ATTEMPTS);
    const uint64_t  Before = Sim.CallCount (Call::Execute);
    const uint64_t  Clock  = Sim.Microseconds;

    std::fill (Sim.Chip.Eeprom + 0x1128, Sim.Chip.Eeprom + 0x1130, 0xFF);
    Sim.Transactions.clear ();
    mTransactionsRefused = 0;
    for (uint64_t Nth = 1; Nth <= Refusals; Nth++) {
      Sim.Fail (harness::Once (Call::Execute, Before + Nth, EFI_DEVICE_ERROR));
    }

    std::vector<std::string>  Expected (std::min<uint64_t> (Refusals, CHIP_ATTEMPTS), std::string (FRAME) + " !");

    Expected.resize (Sent, FRAME);
    EXPECT_EQ (WriteEepromBlock (0x1128, Data), Refusals < CHIP_ATTEMPTS ? ChipDone : ChipRefused) << Refusals;
    EXPECT_EQ (BusLog (), Expected) << Refusals;
    EXPECT_EQ (Sim.Microseconds - Clock, (Sent - 1) * BLOCK_WRITE_PAUSE_US) << Refusals;
    EXPECT_EQ (mTransactionsRefused, std::min<uint64_t> (Refusals, CHIP_ATTEMPTS)) << Refusals;
    EXPECT_EQ (Sim.Chip.Eeprom[0x1128] == 0xD0, Refusals < CHIP_ATTEMPTS) << Refusals;
  }
}

// Refused once or twice, a block is stored, the update verified, and the note counts the frames sent again.
TEST_F (TransientFaultTest, UpdateStoresABlockRefusedOnceOrTwiceAndSaysSo) {
  const std::vector<uint8_t>  Image = MakeImage (0x5A);
  const struct {
    uint64_t      Refusals;
    const char    *Note;
  } Cases[] = {
    { 1, NOTE_RESENT },
    { 2, " Note: 2 bus transactions were refused and sent again.\r\n" },
  };

  for (const auto &Case : Cases) {
    harness::SimFirmware  Bench;
    int               BenchVolume = SetUpBench (Bench);

    Bench.AddFile (BenchVolume, u"zk48.bin", Image);
    for (uint64_t Nth = 1; Nth <= Case.Refusals; Nth++) {
      // After the scan's two transactions and the MCU version read, block 511 and the frames sent again.
      Bench.Fail (harness::Once (Call::Execute, 3 + 1 + 511 + Nth - 1, EFI_DEVICE_ERROR));
    }

    Bench.SetArguments ({ u"Zk48Update.efi", u"zk48.bin" });
    EXPECT_EQ (Bench.RunImage (), EFI_SUCCESS) << Case.Refusals;
    EXPECT_TRUE (Bench.RawText ().ends_with (" Version information verified successfully,the version is 0x5A. \r\n\r\n" + std::string (Case.Note) +
                                             " E2PROM update finished.\r\n")) << Bench.RawText ().substr (Bench.RawText ().size () - 300);
    EXPECT_EQ (Eeprom (Bench.Chip), Image) << Case.Refusals;
    EXPECT_EQ (std::count_if (Bench.Transactions.begin (), Bench.Transactions.end (), [](const harness::SmbusTransaction &Entry) {
      return Entry.Operation == EfiSmbusWriteBlock;
    }), (std::ptrdiff_t)(1024 + Case.Refusals));
    EXPECT_EQ (Bench.LedgerProblems (), std::vector<std::string> {});
  }
}

//
// A transaction refused at any step of a command is sent again, the
// command succeeds, and the note before its last line counts it: the
// scan's write of 0xB1, a completion poll, the MCU version, an E2PROM
// read's address, command or data.
//
TEST_F (TransientFaultTest, RefusedTransactionIsSentAgainInEveryCommand) {
  const struct {
    std::vector<std::u16string>    Args;
    uint32_t                       At;
    const char                     *LastLine;
    const char                     *Shows;     // a line the run must print besides
  } Cases[] = {
    { { u"-v" },                 SCAN_TRANSACTIONS + 1 + STEP_DATA,                  "The E2PROM version is 0xAA. \r\n",  "" },
    { { u"-v" },                 SCAN_TRANSACTIONS + 1 + STEP_POLL,                  "The E2PROM version is 0xAA. \r\n",  "" },
    { { u"-v" },                 1,                                                  "The E2PROM version is 0xAA. \r\n",  " Found Chip on Addr" },
    { { u"zk48.bin" },           SCAN_TRANSACTIONS + 1,                              " E2PROM update finished.\r\n",      " Current E2PROM MCU version: V10. \r\n" },
    { { u"-d", u"backup.bin" },  FirstTransactionOf (0x0800) + STEP_ADDRESS_HIGH,    " Backup saved to FS0:\\backup.bin: 8192 bytes, CRC-32 0x05C8C018.\r\n", "" },
    { { u"-d", u"backup.bin" },  FirstTransactionOf (0x08FF) + STEP_DATA,            " Backup saved to FS0:\\backup.bin: 8192 bytes, CRC-32 0x05C8C018.\r\n", "" },
    { { u"-c", u"zk48.bin" },    FirstTransactionOf (0x0800) + STEP_COMMAND,         " The E2PROM is identical to the image.\r\n", "" },
  };

  for (const auto &Case : Cases) {
    harness::SimFirmware  Bench;
    int               BenchVolume = SetUpBench (Bench);
    std::vector<std::u16string>  Argv = { u"Zk48Update.efi" };

    Zk48FillPattern (&Bench.Chip);
    Bench.AddFile (BenchVolume, u"zk48.bin", Eeprom (Bench.Chip));
    Bench.Chip.Faults.FaultAt   = Case.At;
    Bench.Chip.Faults.FaultKind = Zk48FaultNack;
    Argv.insert (Argv.end (), Case.Args.begin (), Case.Args.end ());
    Bench.SetArguments (Argv);
    EXPECT_EQ (Bench.RunImage (), EFI_SUCCESS) << Case.At;
    EXPECT_TRUE (Bench.RawText ().ends_with (std::string (NOTE_RESENT) + Case.LastLine)) << Bench.RawText ().substr (Bench.RawText ().size () - 200);
    EXPECT_NE (Bench.RawText ().find (Case.Shows), std::string::npos) << Case.Shows;
    EXPECT_EQ (Bench.Chip.Counts.Failed, 1u);
    if (Case.Args[0] == u"-d") {
      EXPECT_EQ (Bench.FileData (BenchVolume, u"backup.bin"), Eeprom (Bench.Chip));
    }

    EXPECT_EQ (Bench.LedgerProblems (), std::vector<std::string> {});
  }
}

// An MCU version the bus refuses at every attempt is said to be unreadable, never shown as V0; the update goes on.
TEST_F (TransientFaultTest, McuVersionRefusedAtEveryAttemptIsUnreadable) {
  const std::vector<uint8_t>  Image = MakeImage (0x5A);

  Sim.AddFile (Volume, u"zk48.bin", Image);
  for (uint64_t Attempt = 0; Attempt < CHIP_ATTEMPTS; Attempt++) {
    Sim.Fail (harness::Once (Call::Execute, SCAN_TRANSACTIONS + 1 + Attempt, EFI_DEVICE_ERROR));
  }

  EXPECT_EQ (Run ({ u"zk48.bin" }), EFI_SUCCESS);
  EXPECT_NE (Output ().find ("================================================ \r\n Current E2PROM MCU version: unreadable. \r\n The New E2PROM MCU version: V5A. \r\n"), std::string::npos) << Output ();
  EXPECT_TRUE (Output ().ends_with (" E2PROM update finished.\r\n"));
  EXPECT_EQ (Eeprom (Sim.Chip), Image);
}

//
// A bus that refuses one transaction in a hundred, on each image shape:
// every command rides it out, and its note counts every refusal the bus
// made, completion polls included.
//
TEST_F (TransientFaultTest, NoisyBusIsRiddenOutAndEveryRefusalCounted) {
  const std::vector<std::u16string>  Commands[] = { { u"-v" }, { u"zk48.bin" }, { u"-d", u"backup.bin" }, { u"-c", u"zk48.bin" } };
  uint32_t                           Seed = 0;

  for (const harness::IMAGE_SHAPE &Shape : harness::IMAGE_SHAPES) {
    for (const auto &Args : Commands) {
      harness::SimFirmware  Bench;
      int                   BenchVolume = SetUpBench (Bench);
      const std::string     Name        = std::string (Shape.Name) + " " + harness::Utf8 (Args[0]);
      EFI_STATUS            Status;

      Fill (Bench.Chip, harness::ShapeBytes (Shape));
      Bench.AddFile (BenchVolume, u"zk48.bin", harness::ShapeBytes (Shape));
      Bench.Chip.Faults.RefuseRate = { 1, 100 };
      Zk48Seed (&Bench.Chip, ++Seed);
      Bench.LogTransactions = false;
      Status = RunOn (Bench, Args);
      EXPECT_EQ (Status, EFI_SUCCESS) << Name << ": " << Bench.RawText ().substr (Bench.RawText ().size () - 300);
      EXPECT_EQ (NoteOf (Bench.RawText ()), Bench.Chip.Counts.Failed) << Name;
      EXPECT_EQ (harness::FalseClaims (harness::SeenAfter (Bench, BenchVolume, Args, Status)), "") << Name;
    }
  }
}

//
// A register write the chip acknowledges but does not act on leaves it
// reading another byte: the one it read before (an ignored command), or
// one of a mixed address. Once, or at the same byte in both passes, on
// every image shape, at a byte whose two neighbours are equal where the
// shape has one: the file holds the chip.
//
TEST_F (TransientFaultTest, BackupHoldsTheChipDespiteAWriteTheChipIgnored) {
  const struct {
    uint32_t    Step;
    bool        BothPasses;
  } Cases[] = {
    { STEP_ADDRESS_HIGH, false },
    { STEP_COMMAND,      false },
    { STEP_COMMAND,      true  },
  };

  for (const harness::IMAGE_SHAPE &Shape : harness::IMAGE_SHAPES) {
    const std::vector<uint8_t>  Bytes   = harness::ShapeBytes (Shape);
    const uint32_t              Address = BetweenEqualNeighbours (Bytes);

    for (const auto &Case : Cases) {
      harness::SimFirmware  Bench;
      int                   BenchVolume = SetUpBench (Bench);
      char                  Saved[80];

      Fill (Bench.Chip, Bytes);
      if (Case.BothPasses) {
        InterposeStray (Bench, Address);
      } else {
        Bench.Chip.Faults.FaultAt   = FirstTransactionOf (Address) + Case.Step;
        Bench.Chip.Faults.FaultKind = Zk48FaultWriteIgnored;
      }

      std::snprintf (Saved, sizeof (Saved), " Backup saved to FS0:\\backup.bin: 8192 bytes, CRC-32 0x%08X.\r\n", harness::Crc32 (Bytes.data (), Bytes.size ()));
      Bench.SetArguments ({ u"Zk48Update.efi", u"-d", u"backup.bin" });
      EXPECT_EQ (Bench.RunImage (), EFI_SUCCESS) << Shape.Name << Case.Step;
      EXPECT_EQ (Bench.FileData (BenchVolume, u"backup.bin"), Bytes) << Shape.Name << " at 0x" << harness::Hex (Address) << ", step " << Case.Step << (Case.BothPasses ? ", both passes" : "");
      EXPECT_TRUE (Bench.RawText ().ends_with (Saved)) << Shape.Name;
      EXPECT_EQ (Bench.Chip.Counts.Ignored, Case.BothPasses ? 2u : 1u) << Shape.Name;
      EXPECT_EQ (Bench.LedgerProblems (), std::vector<std::string> {});
    }
  }
}

// The file is opened again after Close and read whole: anything but the E2PROM's bytes deletes it, saying which check failed.
TEST_F (TransientFaultTest, BackupThatDoesNotReadBackIsDeleted) {
  const struct {
    const char    *Name;
    EFI_STATUS    Status;
    const char    *Line;
  } Cases[] = {
    { "corrupt",    EFI_VOLUME_CORRUPTED, " Error: FS0:\\backup.bin does not read back as it was written, exit.\r\n" },
    { "read fails", EFI_DEVICE_ERROR,     " Error: reading FS0:\\backup.bin back failed: Device Error, exit.\r\n" },
    { "open fails", EFI_NOT_FOUND,        " Error: reading FS0:\\backup.bin back failed: Not Found, exit.\r\n" },
  };

  for (const auto &Case : Cases) {
    harness::SimFirmware  Bench;
    int               BenchVolume = SetUpBench (Bench);
    const std::string Name        = Case.Name;

    if (Name == "corrupt") {
      Bench.Volumes[(size_t)BenchVolume]->CorruptOffset = UNSTEADY_ADDRESS;
    } else if (Name == "read fails") {
      Bench.Fail (harness::Once (Call::Read, 1, EFI_DEVICE_ERROR));
    } else {
      // The name check, the creation, then the read-back.
      Bench.Fail (harness::Once (Call::Open, 3, EFI_NOT_FOUND));
    }

    Bench.SetArguments ({ u"Zk48Update.efi", u"-d", u"backup.bin" });
    EXPECT_EQ (Bench.RunImage (), Case.Status) << Name;
    EXPECT_TRUE (Bench.RawText ().ends_with (std::string (Case.Line) + " The incomplete backup file was deleted.\r\n")) << Bench.RawText ();
    EXPECT_FALSE (Bench.HasFile (BenchVolume, u"backup.bin")) << Name;
    EXPECT_EQ (Bench.LedgerProblems (), std::vector<std::string> {});
  }
}

//
// A byte read wrong once must neither make a difference nor hide one: a
// stray read is identical with the note; a real difference stays one, with
// the chip's byte and its address, even when the read that went astray
// delivered exactly the image's byte (its neighbour's, a 16-bit table's 0x00).
//
TEST_F (TransientFaultTest, ComparisonReadsADifferingByteAgainBeforeItCounts) {
  const struct {
    const char         *Shape;
    ZK48_FAULT_KIND    Fault;
    uint32_t           Step;
    bool               Differs;   // the image differs from the chip at the byte
  } Cases[] = {
    { "pattern", Zk48FaultWriteIgnored, STEP_COMMAND, false },
    { "pattern", Zk48FaultReadZero,     STEP_DATA,    false },
    { "pattern", Zk48FaultNone,         STEP_DATA,    true  },
    { "pattern", Zk48FaultReadZero,     STEP_DATA,    true  },
    { "pattern", Zk48FaultWriteIgnored, STEP_COMMAND, true  },
    { "table16", Zk48FaultWriteIgnored, STEP_COMMAND, true  },
    { "table16", Zk48FaultWriteIgnored, STEP_COMMAND, false },
  };

  for (const auto &Case : Cases) {
    harness::SimFirmware  Bench;
    int                   BenchVolume = SetUpBench (Bench);
    const std::vector<uint8_t>  Bytes = harness::ShapeBytes (*std::find_if (std::begin (harness::IMAGE_SHAPES), std::end (harness::IMAGE_SHAPES),
                                                                            [&](const harness::IMAGE_SHAPE &Shape) { return std::string (Shape.Name) == Case.Shape; }));
    const uint32_t        Address = BetweenEqualNeighbours (Bytes);
    std::vector<uint8_t>  Image   = Bytes;
    char                  Line[80];

    Fill (Bench.Chip, Bytes);
    // The image's byte is the one before it: what an ignored read command delivers.
    Image[Address] = Case.Differs ? Bytes[Address - 1] : Bytes[Address];
    Image[Address] ^= (Case.Differs && (Image[Address] == Bytes[Address])) ? 0x5A : 0x00;
    Bench.AddFile (BenchVolume, u"zk48.bin", Image);
    Bench.Chip.Faults.FaultAt   = FirstTransactionOf (Address) + Case.Step;
    Bench.Chip.Faults.FaultKind = Case.Fault;
    Bench.SetArguments ({ u"Zk48Update.efi", u"-c", u"zk48.bin" });
    std::snprintf (Line, sizeof (Line), " Address 0x%04X: image 0x%02X, E2PROM 0x%02X\r\n", Address, Image[Address], Bytes[Address]);
    EXPECT_EQ (Bench.RunImage (), Case.Differs ? EFI_CRC_ERROR : EFI_SUCCESS) << Case.Shape << " " << Case.Fault;
    EXPECT_TRUE (Bench.RawText ().ends_with (Case.Differs ? " Error: 1 of 8192 bytes differ from the image:\r\n" + std::string (Line)
                                                          : std::string (NOTE_REREAD) + " The E2PROM is identical to the image.\r\n")) << Bench.RawText ().substr (Bench.RawText ().size () - 200);
    EXPECT_EQ (Bench.LedgerProblems (), std::vector<std::string> {});
  }
}

// A byte whose reads never agree twice in a row: five reads, then the command ends at its address, and no backup is left.
TEST_F (TransientFaultTest, ByteThatNeverReadsTheSameTwiceEndsTheCommandAtItsAddress) {
  for (const char16_t *Option : { u"-c", u"-d" }) {
    harness::SimFirmware  Bench;
    int               BenchVolume = SetUpBench (Bench);
    const bool        Backup      = Option[1] == u'd';

    Zk48FillPattern (&Bench.Chip);
    Bench.AddFile (BenchVolume, u"zk48.bin", Eeprom (Bench.Chip));
    Bench.UnsteadyAddress = UNSTEADY_ADDRESS;
    Bench.SetArguments ({ u"Zk48Update.efi", Option, Backup ? u"backup.bin" : u"zk48.bin" });
    EXPECT_EQ (Bench.RunImage (), EFI_DEVICE_ERROR);
    EXPECT_TRUE (Bench.RawText ().ends_with (std::string (" Error: E2PROM read failed at address 0x0800: no two of 5 reads agreed, exit.\r\n") +
                                             (Backup ? " The incomplete backup file was deleted.\r\n" : ""))) << Bench.RawText ().substr (Bench.RawText ().size () - 200);
    EXPECT_EQ (Bench.UnsteadyReads, 5u);
    EXPECT_FALSE (Bench.HasFile (BenchVolume, u"backup.bin"));
    EXPECT_EQ (Bench.LedgerProblems (), std::vector<std::string> {});
  }
}

// A backup named like an option could never be written back by that name: refused before the scan, the chip untouched.
TEST_F (TransientFaultTest, FileNameThatIsAnOptionIsRefusedBeforeTheScan) {
  const struct {
    const char16_t    *Command;
    const char16_t    *Name;
    const char        *Line;
  } Cases[] = {
    { u"-d", u"-v", " Error: -d needs a file name, -v is an option, program exit.\r\n" },
    { u"-d", u"-d", " Error: -d needs a file name, -d is an option, program exit.\r\n" },
    { u"-d", u"-c", " Error: -d needs a file name, -c is an option, program exit.\r\n" },
    { u"-c", u"-v", " Error: -c needs a file name, -v is an option, program exit.\r\n" },
    { u"-c", u"-h", " Error: -c needs a file name, -h is an option, program exit.\r\n" },
  };

  for (const auto &Case : Cases) {
    harness::SimFirmware  Bench;
    int               BenchVolume = SetUpBench (Bench);

    Bench.SetArguments ({ u"Zk48Update.efi", Case.Command, Case.Name });
    EXPECT_EQ (Bench.RunImage (), EFI_INVALID_PARAMETER) << Case.Line;
    EXPECT_EQ (Bench.RawText (), std::string (BANNER) + Case.Line);
    EXPECT_EQ (Bench.CallCount (Call::Execute), 0u);
    EXPECT_EQ (Bench.CallCount (Call::PortRead), 0u);
    EXPECT_EQ (Bench.CallCount (Call::Open), 0u);
    EXPECT_TRUE (Bench.Volumes[(size_t)BenchVolume]->Files.empty ());
  }
}

} // namespace
