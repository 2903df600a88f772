// A bus that is not perfect: refused transactions sent again, bytes read
// until two reads agree, the backup read back from the volume, and the note
// that says what it took. Each case against the chip model and the screen.
#include "tests/firmware/FirmwareTest.h"

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
constexpr uint32_t  STEP_DATA         = 6;

const char  NOTE_RESENT[] = " Note: 1 bus transaction was refused and sent again.\r\n";
const char  NOTE_REREAD[] = " Note: 1 E2PROM byte was read again until two reads agreed.\r\n";

//
// A host controller in front of the simulated one, straying at one E2PROM
// byte in one of two ways: its reads never come back the same twice, as a
// failing cell or a marginal bus would deliver them; or the chip ignores
// the first two read commands for it, whenever they come, the same stray
// write in both passes of a backup.
//
enum STRAY_KIND {
  StrayUnsteadyReads,
  StrayTwiceIgnoredCommand
};

EFI_SMBUS_HC_EXECUTE_OPERATION  mSimExecute;
ZK48_CHIP                       *mChip;
STRAY_KIND                      mStrayKind;
uint32_t                        mStrays;      // reads altered, or commands ignored

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
  const bool  AtAddress = (((uint32_t)mChip->AddressHigh << 8) | mChip->AddressLow) == UNSTEADY_ADDRESS;
  EFI_STATUS  Status;

  if ((mStrayKind == StrayTwiceIgnoredCommand) && AtAddress && (Command == harness::R_COMMAND) && (Operation == EfiSmbusWriteByte) && (mStrays < 2)) {
    mStrays++;
    mChip->Faults.FaultAt   = mChip->Counts.Transactions + 1;
    mChip->Faults.FaultKind = Zk48FaultWriteIgnored;
  }

  Status = mSimExecute (This, SlaveAddress, Command, Operation, PecCheck, Length, Buffer);
  if ((mStrayKind == StrayUnsteadyReads) && AtAddress && !EFI_ERROR (Status) && (Command == harness::R_EEPROM_DATA) && (Operation == EfiSmbusReadByte)) {
    *(UINT8 *)Buffer ^= (UINT8)++mStrays;
  }

  return Status;
}

// Puts StrayExecute in front of the bench's first SMBus controller.
void
InterposeStray (
  harness::SimFirmware  &Bench,
  STRAY_KIND            Kind
  )
{
  mSimExecute                                 = Bench.SmbusControllers[0]->Protocol.Execute;
  mChip                                       = &Bench.Chip;
  mStrayKind                                  = Kind;
  mStrays                                     = 0;
  Bench.SmbusControllers[0]->Protocol.Execute = StrayExecute;
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
    return SCAN_TRANSACTIONS + 1 + Address * BYTE_TRANSACTIONS;
  }
};

// A refused block write: the write cycle's pause, then the same frame to the same address, three attempts in all.
TEST_F (TransientFaultTest, RefusedBlockIsSentAgainAfterThePauseThreeTimesAtMost) {
  const UINT8  Data[8] = { 0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7 };
  const char   FRAME[] = "B 21 00 0A 11 28 D0 D1 D2 D3 D4 D5 D6 D7";

  InstallTables ();
  LocateSmbusHc ();
  for (uint64_t Refusals = 0; Refusals <= 3; Refusals++) {
    const uint64_t  Sent   = std::min<uint64_t> (Refusals + 1, 3);
    const uint64_t  Before = Sim.CallCount (Call::Execute);
    const uint64_t  Clock  = Sim.Microseconds;

    std::fill (Sim.Chip.Eeprom + 0x1128, Sim.Chip.Eeprom + 0x1130, 0xFF);
    Sim.Transactions.clear ();
    mTransactionsResent = 0;
    for (uint64_t Nth = 1; Nth <= Refusals; Nth++) {
      Sim.Fail (harness::Once (Call::Execute, Before + Nth, EFI_DEVICE_ERROR));
    }

    std::vector<std::string>  Expected (std::min<uint64_t> (Refusals, 3), std::string (FRAME) + " !");

    Expected.resize (Sent, FRAME);
    EXPECT_EQ (WriteEepromBlock (0x1128, Data), Refusals < 3 ? ChipDone : ChipFailed) << Refusals;
    EXPECT_EQ (BusLog (), Expected) << Refusals;
    EXPECT_EQ (Sim.Microseconds - Clock, (Sent - 1) * BLOCK_WRITE_PAUSE_US) << Refusals;
    EXPECT_EQ (mTransactionsResent, Sent - 1) << Refusals;
    EXPECT_EQ (Sim.Chip.Eeprom[0x1128] == 0xD0, Refusals < 3) << Refusals;
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

// A byte read refused at any of its steps starts over from its address; the command succeeds and says so before its last line.
TEST_F (TransientFaultTest, RefusedByteReadIsReadAgainInEveryCommand) {
  const struct {
    std::vector<std::u16string>    Args;
    uint32_t                       At;
    const char                     *LastLine;
  } Cases[] = {
    { { u"-v" },                 SCAN_TRANSACTIONS + 1 + STEP_DATA,                  "The E2PROM version is 0xAA. \r\n" },
    { { u"-d", u"backup.bin" },  FirstTransactionOf (0x0800) + STEP_ADDRESS_HIGH,    " Backup saved to FS0:\\backup.bin: 8192 bytes, CRC-32 0x05C8C018.\r\n" },
    { { u"-d", u"backup.bin" },  FirstTransactionOf (0x1FFF) + STEP_DATA,            " Backup saved to FS0:\\backup.bin: 8192 bytes, CRC-32 0x05C8C018.\r\n" },
    { { u"-c", u"zk48.bin" },    FirstTransactionOf (0x0800) + STEP_COMMAND,         " The E2PROM is identical to the image.\r\n" },
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
    EXPECT_EQ (Bench.Chip.Counts.Failed, 1u);
    if (Case.Args[0] == u"-d") {
      EXPECT_EQ (Bench.FileData (BenchVolume, u"backup.bin"), Eeprom (Bench.Chip));
    }

    EXPECT_EQ (Bench.LedgerProblems (), std::vector<std::string> {});
  }
}

//
// A register write the chip acknowledges but does not act on leaves it
// reading another byte. Once, the other pass disagrees; at the same byte in
// both passes, the two passes run in opposite directions and deliver
// different neighbours. The byte read until two reads agree goes into the file.
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

  for (const auto &Case : Cases) {
    harness::SimFirmware  Bench;
    int               BenchVolume = SetUpBench (Bench);

    Zk48FillPattern (&Bench.Chip);
    if (Case.BothPasses) {
      InterposeStray (Bench, StrayTwiceIgnoredCommand);
    } else {
      Bench.Chip.Faults.FaultAt   = FirstTransactionOf (UNSTEADY_ADDRESS) + Case.Step;
      Bench.Chip.Faults.FaultKind = Zk48FaultWriteIgnored;
    }

    Bench.SetArguments ({ u"Zk48Update.efi", u"-d", u"backup.bin" });
    EXPECT_EQ (Bench.RunImage (), EFI_SUCCESS) << Case.Step;
    EXPECT_EQ (Bench.FileData (BenchVolume, u"backup.bin"), Eeprom (Bench.Chip)) << Case.Step << Case.BothPasses;
    EXPECT_TRUE (Bench.RawText ().ends_with (std::string (NOTE_REREAD) + " Backup saved to FS0:\\backup.bin: 8192 bytes, CRC-32 0x05C8C018.\r\n")) << Case.Step << Case.BothPasses;
    EXPECT_EQ (Bench.Chip.Counts.Ignored, Case.BothPasses ? 2u : 1u);
    EXPECT_EQ (Bench.LedgerProblems (), std::vector<std::string> {});
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
// A byte that differs from the image is read again: what two reads in a
// row agree on decides. A stray read is identical with the note; a real
// difference stays one, with the chip's byte and its address.
//
TEST_F (TransientFaultTest, ComparisonReadsADifferingByteAgainBeforeItCounts) {
  const struct {
    ZK48_FAULT_KIND    Fault;
    uint32_t           Step;
    bool               Differs;   // the image differs from the chip at UNSTEADY_ADDRESS
  } Cases[] = {
    { Zk48FaultWriteIgnored, STEP_COMMAND, false },
    { Zk48FaultReadZero,     STEP_DATA,    false },
    { Zk48FaultNone,         STEP_DATA,    true  },
    { Zk48FaultReadZero,     STEP_DATA,    true  },
    { Zk48FaultWriteIgnored, STEP_COMMAND, true  },
  };

  for (const auto &Case : Cases) {
    harness::SimFirmware      Bench;
    int                   BenchVolume = SetUpBench (Bench);
    std::vector<uint8_t>  Image;
    char                  Line[80];

    Zk48FillPattern (&Bench.Chip);
    Image = Eeprom (Bench.Chip);
    Image[UNSTEADY_ADDRESS] ^= Case.Differs ? 0x5A : 0x00;
    Bench.AddFile (BenchVolume, u"zk48.bin", Image);
    Bench.Chip.Faults.FaultAt   = FirstTransactionOf (UNSTEADY_ADDRESS) + Case.Step;
    Bench.Chip.Faults.FaultKind = Case.Fault;
    Bench.SetArguments ({ u"Zk48Update.efi", u"-c", u"zk48.bin" });
    std::snprintf (Line, sizeof (Line), " Address 0x%04X: image 0x%02X, E2PROM 0x%02X\r\n", UNSTEADY_ADDRESS, Image[UNSTEADY_ADDRESS], Bench.Chip.Eeprom[UNSTEADY_ADDRESS]);
    EXPECT_EQ (Bench.RunImage (), Case.Differs ? EFI_CRC_ERROR : EFI_SUCCESS) << Case.Fault;
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
    InterposeStray (Bench, StrayUnsteadyReads);
    Bench.SetArguments ({ u"Zk48Update.efi", Option, Backup ? u"backup.bin" : u"zk48.bin" });
    EXPECT_EQ (Bench.RunImage (), EFI_DEVICE_ERROR);
    EXPECT_TRUE (Bench.RawText ().ends_with (std::string (" Error: E2PROM read failed at address 0x0800: no two of 5 reads in a row agreed, exit.\r\n") +
                                             (Backup ? " The incomplete backup file was deleted.\r\n" : ""))) << Bench.RawText ().substr (Bench.RawText ().size () - 200);
    EXPECT_EQ (mStrays, 5u);
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
