// The soak: many runs of each kind (-v, the update, -d, -c and the bench
// sequence of examples/Zk48Bench.nsh) on a chip behind a shared bus that
// refuses one transaction in 1000 and ignores one write in 10 000, each run
// with a seed of its own. It counts how the runs end and every false
// success: a version shown that the chip does not hold, a backup that
// differs from the chip, "identical" while the chip differs, a bench PASS
// while the chip differs from the image. A benchmark, not a CI test:
// scripts/soak.sh builds and runs it; ZK48_SOAK_RUNS sets the runs per kind,
// ZK48_SOAK_BUS other simulator settings for the bus ("ignore-rate=1/100").
#include "tests/firmware/FirmwareTest.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>

#include "sim/Zk48Settings.h"

namespace {

using harness::BLOCK_BYTES;
using harness::EEPROM_BYTES;
using harness::Hex;
using harness::SimFirmware;
using harness::VERSION_ADDRESS;

constexpr uint8_t  IMAGE_VERSION   = 0x5A;
constexpr size_t   SEEDS_SHOWN     = 10;
// A bench status as %lasterror% shows it: the error bit dropped.
constexpr uint64_t STATUS_BITS     = 0xFF;
constexpr uint64_t CRC_ERROR_BITS  = EFI_CRC_ERROR & STATUS_BITS;

const char  DEFAULT_BUS[] = "refuse-rate=1/1000 ignore-rate=1/10000";

size_t
RunsPerKind (
  )
{
  const char  *Text = std::getenv ("ZK48_SOAK_RUNS");

  return (Text != nullptr) ? std::strtoul (Text, nullptr, 10) : 1000;
}

// The bus faults' settings, as Zk48SimCtl.efi takes them.
std::vector<std::u16string>
BusSettings (
  )
{
  const char                   *Text = std::getenv ("ZK48_SOAK_BUS");
  std::istringstream           Words ((Text != nullptr) ? Text : DEFAULT_BUS);
  std::vector<std::u16string>  Settings;

  for (std::string Word; Words >> Word; ) {
    Settings.emplace_back (Word.begin (), Word.end ());
  }

  return Settings;
}

// The blocks in which Got differs from Want.
size_t
BlocksDiffering (
  const std::vector<uint8_t>  &Got,
  const std::vector<uint8_t>  &Want
  )
{
  size_t  Count = 0;

  for (size_t Block = 0; Block < EEPROM_BYTES; Block += BLOCK_BYTES) {
    Count += std::equal (Got.begin () + (std::ptrdiff_t)Block, Got.begin () + (std::ptrdiff_t)(Block + BLOCK_BYTES), Want.begin () + (std::ptrdiff_t)Block) ? 0 : 1;
  }

  return Count;
}

// One bench: the q35 firmware, a chip holding the pattern, the image on the volume, the bus faults seeded.
struct BENCH {
  std::unique_ptr<SimFirmware>    Sim;
  int                             Volume;
  std::vector<uint8_t>            Image;
  std::vector<uint8_t>            Before;   // the E2PROM as the bench found it
  std::string                     Output;   // the last run's console output
  uint32_t                        Seed;
};

// How the runs of one kind ended.
struct TALLY {
  const char    *Kind;
  size_t        Runs      = 0;
  size_t        Completed = 0;
  size_t        False     = 0;                 // false successes
  std::string   FalseSeeds;                    // to repeat them: seed=N
  size_t        Endings[6] = {};               // the bench's exit statuses
  size_t        BlockNotStored = 0;            // the update finished with a block not stored
  size_t        BlockNotStoredCaught = 0;      // ... and the compare after it did not pass
  size_t        FalseAlarms = 0;               // a difference reported where there was none
  size_t        RunProblems = 0;               // ledger or firmware violations, files left behind
  std::map<uint64_t, size_t>  Unfinished;      // the runs that did not complete, by status as %lasterror% shows it

  // Counts a run that ended with Status, complete when it ended as Expected.
  void
  Ended (
    EFI_STATUS  Status,
    EFI_STATUS  Expected = EFI_SUCCESS
    )
  {
    if (Status == Expected) {
      Completed++;
    } else {
      Unfinished[Status & STATUS_BITS]++;
    }
  }

  explicit TALLY (const char *Name) : Kind (Name) {}

  // Counts a false success; the first few seeds are kept to repeat them, with what was false when a kind can be false in more than one way.
  void
  Falsely (
    uint32_t     Seed,
    const char  *What = nullptr
    )
  {
    Keep (++False, Seed, What);
  }

  void
  Keep (
    size_t       Count,
    uint32_t     Seed,
    const char  *What = nullptr
    )
  {
    if (Count <= SEEDS_SHOWN) {
      FalseSeeds += " seed=" + std::to_string (Seed) + ((What != nullptr) ? std::string (" (") + What + ")" : "");
    } else if (Count == SEEDS_SHOWN + 1) {
      FalseSeeds += " ...";
    }
  }

  void
  Print (
    const char  *FalseMeans
    ) const
  {
    std::printf (
      "soak: %-7s completed %zu/%zu (%.1f %%), false successes %zu (%s)%s\n",
      Kind,
      Completed,
      Runs,
      100.0 * (double)Completed / (double)Runs,
      False,
      FalseMeans,
      FalseSeeds.c_str ()
      );
    PrintUnfinished ();
  }

  void
  PrintUnfinished (
    ) const
  {
    std::string  Text;

    for (const auto &[Status, Count] : Unfinished) {
      Text += " status " + std::to_string (Status) + " x" + std::to_string (Count);
    }

    if (!Text.empty ()) {
      std::printf ("soak: %-7s not completed:%s\n", Kind, Text.c_str ());
    }
  }
};

class Soak : public FirmwareTest {
protected:
  const size_t  Runs = RunsPerKind ();

  static void
  SetUpTestSuite (
    )
  {
    const char  *Bus = std::getenv ("ZK48_SOAK_BUS");

    std::printf ("soak: %zu runs of each kind, bus %s, a seed of its own for each run\n", RunsPerKind (), (Bus != nullptr) ? Bus : DEFAULT_BUS);
  }

  // A new bench, its bus faults seeded for run Run of kind Kind.
  static BENCH
  NewBench (
    uint32_t  Kind,
    size_t    Run
    )
  {
    BENCH              Bench = { std::make_unique<SimFirmware> (), -1, MakeImage (IMAGE_VERSION), {}, {}, (uint32_t)(Kind << 24 | (Run + 1)) };
    const std::string  Seed  = "seed=" + std::to_string (Bench.Seed);

    Bench.Volume               = SetUpBench (*Bench.Sim);
    Bench.Sim->LogTransactions = false;
    Zk48FillPattern (&Bench.Sim->Chip);
    Bench.Before = harness::Eeprom (Bench.Sim->Chip);
    Bench.Sim->AddFile (Bench.Volume, u"image.bin", Bench.Image);
    for (const std::u16string &Setting : BusSettings ()) {
      Apply (Bench, Setting);
    }

    Apply (Bench, std::u16string (Seed.begin (), Seed.end ()));
    return Bench;
  }

  static void
  Apply (
    BENCH                 &Bench,
    const std::u16string  &Setting
    )
  {
    ASSERT_TRUE (Zk48ApplySetting (&Bench.Sim->Chip, Setting.c_str (), Setting.size ())) << harness::Utf8 (Setting);
  }

  // Runs the tool once on the bench; Bench.Output is what this run printed.
  static EFI_STATUS
  RunTool (
    BENCH                               &Bench,
    const std::vector<std::u16string>  &Args
    )
  {
    std::vector<std::u16string>  Argv   = { u"Zk48Update.efi" };
    const size_t                 Before = Bench.Sim->Raw.size ();
    EFI_STATUS                   Status;

    Argv.insert (Argv.end (), Args.begin (), Args.end ());
    Bench.Sim->SetArguments (Argv);
    Status       = Bench.Sim->RunImage ();
    Bench.Output = harness::Utf8 (Bench.Sim->Raw.substr (Before));
    return Status;
  }

  static bool
  Says (
    const BENCH        &Bench,
    const std::string  &Text
    )
  {
    return Bench.Output.find (Text) != std::string::npos;
  }

  // Whatever the run's outcome, the firmware saw nothing it refuses and got everything back.
  static bool
  Clean (
    const BENCH  &Bench
    )
  {
    return Bench.Sim->Violations.empty () && Bench.Sim->LedgerProblems ().empty ();
  }

  //
  // The bench script's logic, step for step: the backup, the update, the
  // compare; when the update fails or the compare does not pass, the backup
  // written back and compared. Returns the script's exit status.
  //
  static uint64_t
  BenchSequence (
    BENCH  &Bench,
    TALLY  &Tally,
    bool   &BackupWrong
    )
  {
    BackupWrong = false;
    if (EFI_ERROR (RunTool (Bench, { u"-d", u"backup.bin" }))) {
      return 2;
    }

    BackupWrong = Bench.Sim->FileData (Bench.Volume, u"backup.bin") != Bench.Before;
    if (!EFI_ERROR (RunTool (Bench, { u"image.bin" }))) {
      const bool  NotStored = BlocksDiffering (harness::Eeprom (Bench.Sim->Chip), Bench.Image) != 0;
      EFI_STATUS  Compared  = RunTool (Bench, { u"-c", u"image.bin" });

      Tally.BlockNotStored       += NotStored ? 1 : 0;
      Tally.BlockNotStoredCaught += (NotStored && (Compared != EFI_SUCCESS)) ? 1 : 0;
      if (Compared == EFI_SUCCESS) {
        return 0;
      }
    }

    (VOID)RunTool (Bench, { u"backup.bin" });
    switch (RunTool (Bench, { u"-c", u"backup.bin" }) & STATUS_BITS) {
      case 0:
        return 3;
      case CRC_ERROR_BITS:
        return 4;
      default:
        return 5;
    }
  }

  static void
  Report (
    const TALLY  &Tally
    )
  {
    EXPECT_EQ (Tally.False, 0u) << Tally.Kind << ":" << Tally.FalseSeeds;
    EXPECT_EQ (Tally.RunProblems, 0u) << Tally.Kind;
  }
};

TEST_F (Soak, VersionQuery) {
  TALLY  Tally ("-v");

  for (size_t Run = 0; Run < Runs; Run++) {
    BENCH       Bench  = NewBench (1, Run);
    EFI_STATUS  Status = RunTool (Bench, { u"-v" });
    const bool  Shown  = Says (Bench, "The E2PROM version is 0x" + Hex (Bench.Sim->Chip.Eeprom[VERSION_ADDRESS], 1) + ". ");

    Tally.Runs++;
    Tally.Ended (Status);
    if ((Status == EFI_SUCCESS) && !Shown) {
      Tally.Falsely (Bench.Seed);
    }

    Tally.RunProblems += Clean (Bench) ? 0 : 1;
  }

  Tally.Print ("a version shown that the E2PROM does not hold");
  Report (Tally);
}

TEST_F (Soak, Update) {
  TALLY  Tally ("update");

  for (size_t Run = 0; Run < Runs; Run++) {
    BENCH       Bench  = NewBench (2, Run);
    EFI_STATUS  Status = RunTool (Bench, { u"image.bin" });

    Tally.Runs++;
    Tally.Ended (Status);
    if ((Status == EFI_SUCCESS) && (BlocksDiffering (harness::Eeprom (Bench.Sim->Chip), Bench.Image) != 0)) {
      Tally.Keep (++Tally.BlockNotStored, Bench.Seed);
    }

    Tally.RunProblems += Clean (Bench) ? 0 : 1;
  }

  //
  // The update reads one byte back, as specified: an ignored block write
  // elsewhere is beyond it. The bench sequence below must catch each one.
  //
  std::printf (
    "soak: %-7s completed %zu/%zu (%.1f %%), finished with a block not stored %zu (beyond its one-byte check)%s\n",
    Tally.Kind,
    Tally.Completed,
    Tally.Runs,
    100.0 * (double)Tally.Completed / (double)Tally.Runs,
    Tally.BlockNotStored,
    Tally.FalseSeeds.c_str ()
    );
  EXPECT_EQ (Tally.RunProblems, 0u);
}

TEST_F (Soak, Backup) {
  TALLY  Tally ("-d");

  for (size_t Run = 0; Run < Runs; Run++) {
    BENCH       Bench  = NewBench (3, Run);
    EFI_STATUS  Status = RunTool (Bench, { u"-d", u"backup.bin" });
    const bool  Kept   = Bench.Sim->HasFile (Bench.Volume, u"backup.bin");

    Tally.Runs++;
    Tally.Ended (Status);
    if ((Status == EFI_SUCCESS) && (!Kept || (Bench.Sim->FileData (Bench.Volume, u"backup.bin") != harness::Eeprom (Bench.Sim->Chip)))) {
      Tally.Falsely (Bench.Seed);
    }

    // A backup that failed is deleted, or the run says it could not be.
    Tally.RunProblems += (Clean (Bench) && ((Status == EFI_SUCCESS) || !Kept || Says (Bench, "must not be used"))) ? 0 : 1;
  }

  Tally.Print ("a backup saved that differs from the E2PROM");
  Report (Tally);
}

TEST_F (Soak, Compare) {
  TALLY  Tally ("-c");

  // Every other run, the E2PROM differs from the image in one byte of its own.
  for (size_t Run = 0; Run < Runs; Run++) {
    BENCH         Bench    = NewBench (4, Run);
    const bool    Differs  = (Run % 2) == 1;
    const size_t  Address  = (Run * 0x35) % EEPROM_BYTES;
    EFI_STATUS    Status;

    std::copy (Bench.Image.begin (), Bench.Image.end (), Bench.Sim->Chip.Eeprom);
    if (Differs) {
      Bench.Sim->Chip.Eeprom[Address] ^= 0x10;
    }

    Status = RunTool (Bench, { u"-c", u"image.bin" });
    Tally.Runs++;
    // A difference is found only at its address, and nothing else with it.
    const bool  Misreported = (Status == EFI_CRC_ERROR)
                              && (!Differs || !Says (Bench, " Address 0x" + Hex (Address, 4) + ": ") || !Says (Bench, " Error: 1 of 8192 bytes differ"));

    if (Differs && (Status == EFI_SUCCESS)) {
      Tally.Falsely (Bench.Seed);
    }

    if (Misreported) {
      Tally.FalseAlarms++;
    } else {
      Tally.Ended (Status, Differs ? EFI_CRC_ERROR : EFI_SUCCESS);
    }
    Tally.RunProblems += Clean (Bench) ? 0 : 1;
  }

  Tally.Print ("\"identical\" while the E2PROM differs");
  std::printf ("soak: %-7s differences reported wrongly (where there were none, or not at its address alone) %zu\n", Tally.Kind, Tally.FalseAlarms);
  Report (Tally);
}

TEST_F (Soak, BenchSequence) {
  TALLY  Tally ("bench");

  for (size_t Run = 0; Run < Runs; Run++) {
    BENCH                       Bench = NewBench (5, Run);
    bool                        BackupWrong;
    const uint64_t              Ending = BenchSequence (Bench, Tally, BackupWrong);
    const std::vector<uint8_t>  Now    = harness::Eeprom (Bench.Sim->Chip);

    Tally.Runs++;
    Tally.Endings[Ending]++;
    Tally.Completed += (Ending == 0) ? 1 : 0;
    // A PASS with the image not all there; "holds its previous image" or "not written" when it does not; a wrong backup kept.
    if (BackupWrong) {
      Tally.Falsely (Bench.Seed, "the backup differs from the E2PROM it was taken from");
    } else if ((Ending == 0) && (Now != Bench.Image)) {
      Tally.Falsely (Bench.Seed, "PASS, the E2PROM differs from the image");
    } else if (((Ending == 2) || (Ending == 3)) && (Now != Bench.Before)) {
      Tally.Falsely (Bench.Seed, "the previous image said to be there, and it is not");
    }

    Tally.RunProblems += Clean (Bench) ? 0 : 1;
  }

  Tally.Print ("PASS while the E2PROM differs from the image, or \"previous image again\" while it differs from it, or a wrong backup");
  std::printf (
    "soak: %-7s endings: PASS %zu, STOPPED (no backup) %zu, previous image again %zu, NOT the previous image %zu, unknown %zu\n",
    Tally.Kind,
    Tally.Endings[0],
    Tally.Endings[2],
    Tally.Endings[3],
    Tally.Endings[4],
    Tally.Endings[5]
    );
  std::printf (
    "soak: %-7s updates finished with a block not stored %zu, caught by the compare after them %zu\n",
    Tally.Kind,
    Tally.BlockNotStored,
    Tally.BlockNotStoredCaught
    );
  EXPECT_EQ (Tally.BlockNotStoredCaught, Tally.BlockNotStored);
  Report (Tally);
}

} // namespace
