// The soak: many runs of each kind (-v, the update, -d, -c and the bench
// sequence of examples/Zk48Bench.nsh) on a chip behind a shared bus that
// refuses one transaction in 1000 and ignores one write in 10 000, each run
// with a seed of its own and a chip of one of the image shapes in turn. It
// counts how the runs end and every false success, by the oracle the fault
// sweep and the fuzzer judge by: a version shown that the chip does not
// hold, a backup that differs from the chip, "identical" while the chip
// differs, a bench whose last line is not true. A benchmark, not a CI test:
// scripts/soak.sh builds and runs it; ZK48_SOAK_RUNS sets the runs per
// kind, ZK48_SOAK_BUS other simulator settings for the bus
// ("refuse-rate=1/100 ignore-rate=1/10000").
#include "tests/firmware/FirmwareTest.h"
#include "tests/firmware/Oracle.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <sstream>

#include "sim/Zk48Settings.h"

namespace {

using harness::BLOCK_BYTES;
using harness::EEPROM_BYTES;
using harness::IMAGE_SHAPES;
using harness::SimFirmware;
using harness::VERSION_ADDRESS;

constexpr uint8_t  IMAGE_VERSION   = 0x5A;
constexpr size_t   SEEDS_SHOWN     = 10;
constexpr size_t   SHAPE_COUNT     = sizeof (IMAGE_SHAPES) / sizeof (IMAGE_SHAPES[0]);
// A bench status as %lasterror% shows it: the error bit dropped.
constexpr uint64_t STATUS_BITS     = 0xFF;
constexpr uint64_t CRC_ERROR_BITS  = EFI_CRC_ERROR & STATUS_BITS;
// The update's failures after which the bench script writes the backup back: it may have written blocks.
constexpr uint64_t DEVICE_ERROR_BITS = EFI_DEVICE_ERROR & STATUS_BITS;
constexpr uint64_t TIMEOUT_BITS      = EFI_TIMEOUT & STATUS_BITS;

const char  DEFAULT_BUS[] = "refuse-rate=1/1000 ignore-rate=1/10000";

size_t
RunsPerKind (
  )
{
  const char  *Text = std::getenv ("ZK48_SOAK_RUNS");

  return (Text != nullptr) ? std::strtoul (Text, nullptr, 10) : 1000;
}

const char *
Bus (
  )
{
  const char  *Text = std::getenv ("ZK48_SOAK_BUS");

  return (Text != nullptr) ? Text : DEFAULT_BUS;
}

// The bus faults' settings, as Zk48SimCtl.efi takes them.
std::vector<std::u16string>
BusSettings (
  )
{
  std::istringstream           Words (Bus ());
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

//
// One bench: the q35 firmware, a chip holding one image shape, on the
// volume the shape's complement as the image (every block changes, the
// runs of equal bytes stay), the bus faults seeded.
//
struct BENCH {
  std::unique_ptr<SimFirmware>    Sim;
  int                             Volume;
  size_t                          Shape;
  std::vector<uint8_t>            Image;
  std::vector<uint8_t>            Before;   // the E2PROM as the bench found it
  std::string                     Output;   // the last run's console output
  uint32_t                        Seed;
  std::string                     Wrong;    // what the runs claimed falsely, by the oracle
};

// How the runs of one kind ended.
struct TALLY {
  const char    *Kind;
  size_t        Runs      = 0;
  size_t        Completed = 0;
  size_t        False     = 0;                 // false successes
  std::string   FalseSeeds;                    // to repeat them: seed=N
  size_t        Endings[7] = {};               // the bench's exit statuses
  size_t        BlockNotStored = 0;            // the update finished with a block not stored
  size_t        BlockNotStoredCaught = 0;      // ... and the compare after it did not pass
  size_t        RunProblems = 0;               // ledger or firmware violations
  size_t        ShapeRuns[SHAPE_COUNT] = {};
  size_t        ShapeCompleted[SHAPE_COUNT] = {};
  std::map<uint64_t, size_t>  Unfinished;      // the runs that did not complete, by status as %lasterror% shows it
  std::string   UnfinishedSeeds;               // the first few of them, to repeat them

  explicit TALLY (const char *Name) : Kind (Name) {}

  // Counts a run of Bench that ended with Status, complete when it ended as Expected.
  void
  Ended (
    const BENCH  &Bench,
    EFI_STATUS   Status,
    EFI_STATUS   Expected = EFI_SUCCESS
    )
  {
    Runs++;
    ShapeRuns[Bench.Shape]++;
    if (Status == Expected) {
      Completed++;
      ShapeCompleted[Bench.Shape]++;
    } else if (++Unfinished[Status & STATUS_BITS] <= 2) {
      UnfinishedSeeds += " seed=" + std::to_string (Bench.Seed) + " (" + std::to_string (Status & STATUS_BITS) + ")";
    }
  }

  // Counts a false success when Wrong says one; the first few seeds are kept to repeat them, with what was false.
  void
  Judge (
    const BENCH  &Bench
    )
  {
    if (!Bench.Wrong.empty ()) {
      Keep (++False, Bench.Seed, Bench.Wrong.c_str ());
    }
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
    std::string  Shapes;

    for (size_t Shape = 0; Shape < SHAPE_COUNT; Shape++) {
      Shapes += std::string (" ") + IMAGE_SHAPES[Shape].Name + " " + std::to_string (ShapeCompleted[Shape]) + "/" + std::to_string (ShapeRuns[Shape]);
    }

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
    std::printf ("soak: %-7s completed by shape:%s\n", Kind, Shapes.c_str ());
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
      std::printf ("soak: %-7s not completed:%s; for instance%s\n", Kind, Text.c_str (), UnfinishedSeeds.c_str ());
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
    std::printf ("soak: %zu runs of each kind, bus %s, a seed of its own for each run, the image shapes in turn\n", RunsPerKind (), Bus ());
  }

  // A new bench, its bus faults seeded for run Run of kind Kind, its chip holding the shape of the run.
  static BENCH
  NewBench (
    uint32_t  Kind,
    size_t    Run
    )
  {
    BENCH              Bench = { std::make_unique<SimFirmware> (), -1, Run % SHAPE_COUNT, {}, {}, {}, (uint32_t)(Kind << 24 | (Run + 1)), {} };
    const std::string  Seed  = "seed=" + std::to_string (Bench.Seed);

    Bench.Volume               = SetUpBench (*Bench.Sim);
    Bench.Sim->LogTransactions = false;
    Bench.Before               = harness::ShapeBytes (IMAGE_SHAPES[Bench.Shape]);
    std::copy (Bench.Before.begin (), Bench.Before.end (), Bench.Sim->Chip.Eeprom);
    for (uint8_t Byte : Bench.Before) {
      Bench.Image.push_back ((uint8_t)~Byte);
    }

    Bench.Image[VERSION_ADDRESS] = IMAGE_VERSION;
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

  // Runs the tool once on the bench; Bench.Output is what this run printed, Bench.Wrong gains what it claimed falsely.
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
    Status        = Bench.Sim->RunImage ();
    Bench.Output  = harness::Utf8 (Bench.Sim->Raw.substr (Before));
    Bench.Wrong  += harness::FalseClaims (harness::SeenAfter (*Bench.Sim, Bench.Volume, Args, Status, Before));
    return Status;
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
  // compare; when the update fails having maybe written (a device error or
  // a time-out) or the compare does not pass, the backup written back and
  // compared; when it fails before its first block, nothing written back.
  // Returns the script's exit status.
  //
  static uint64_t
  BenchSequence (
    BENCH  &Bench,
    TALLY  &Tally
    )
  {
    uint64_t  Updated;

    if (EFI_ERROR (RunTool (Bench, { u"-d", u"backup.bin" }))) {
      return harness::BenchNoBackup;
    }

    Updated = RunTool (Bench, { u"image.bin" }) & STATUS_BITS;
    if ((Updated != 0) && (Updated != DEVICE_ERROR_BITS) && (Updated != TIMEOUT_BITS)) {
      return harness::BenchNotStarted;
    }

    if (Updated == 0) {
      const bool  NotStored = BlocksDiffering (harness::Eeprom (Bench.Sim->Chip), Bench.Image) != 0;
      EFI_STATUS  Compared  = RunTool (Bench, { u"-c", u"image.bin" });

      Tally.BlockNotStored       += NotStored ? 1 : 0;
      Tally.BlockNotStoredCaught += (NotStored && (Compared != EFI_SUCCESS)) ? 1 : 0;
      if (Compared == EFI_SUCCESS) {
        return harness::BenchPass;
      }
    }

    (VOID)RunTool (Bench, { u"backup.bin" });
    switch (RunTool (Bench, { u"-c", u"backup.bin" }) & STATUS_BITS) {
      case 0:
        return harness::BenchPreviousAgain;
      case CRC_ERROR_BITS:
        return harness::BenchNotPrevious;
      default:
        return harness::BenchUnknown;
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
    BENCH  Bench = NewBench (1, Run);

    Tally.Ended (Bench, RunTool (Bench, { u"-v" }));
    Tally.Judge (Bench);
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

    Tally.Ended (Bench, Status);
    Tally.Judge (Bench);
    if ((Status == EFI_SUCCESS) && (BlocksDiffering (harness::Eeprom (Bench.Sim->Chip), Bench.Image) != 0)) {
      Tally.BlockNotStored++;
    }

    Tally.RunProblems += Clean (Bench) ? 0 : 1;
  }

  //
  // The update reads one byte back, as specified: an ignored block write
  // elsewhere is beyond it. The bench sequence below must catch each one.
  //
  Tally.Print ("finished without the image's version byte in the chip");
  std::printf ("soak: %-7s finished with a block not stored %zu (beyond its one-byte check)\n", Tally.Kind, Tally.BlockNotStored);
  Report (Tally);
}

TEST_F (Soak, Backup) {
  TALLY  Tally ("-d");

  for (size_t Run = 0; Run < Runs; Run++) {
    BENCH  Bench = NewBench (3, Run);

    Tally.Ended (Bench, RunTool (Bench, { u"-d", u"backup.bin" }));
    Tally.Judge (Bench);
    Tally.RunProblems += Clean (Bench) ? 0 : 1;
  }

  Tally.Print ("a backup saved that differs from the E2PROM, or a failed one left unannounced");
  Report (Tally);
}

TEST_F (Soak, Compare) {
  TALLY  Tally ("-c");

  // Every other run, the E2PROM differs from the image in one byte of its own.
  for (size_t Run = 0; Run < Runs; Run++) {
    BENCH         Bench    = NewBench (4, Run);
    const bool    Differs  = ((Run / SHAPE_COUNT) % 2) == 1;
    const size_t  Address  = (Run * 0x35) % EEPROM_BYTES;

    Bench.Sim->Volumes[(size_t)Bench.Volume]->Files[u"image.bin"] = Bench.Before;
    Bench.Sim->Chip.Eeprom[Address] ^= Differs ? 0x10 : 0x00;
    Tally.Ended (Bench, RunTool (Bench, { u"-c", u"image.bin" }), Differs ? EFI_CRC_ERROR : EFI_SUCCESS);
    Tally.Judge (Bench);
    Tally.RunProblems += Clean (Bench) ? 0 : 1;
  }

  Tally.Print ("\"identical\" while the E2PROM differs, or a difference reported that is not there");
  Report (Tally);
}

TEST_F (Soak, BenchSequence) {
  TALLY  Tally ("bench");

  for (size_t Run = 0; Run < Runs; Run++) {
    BENCH           Bench  = NewBench (5, Run);
    const uint64_t  Ending = BenchSequence (Bench, Tally);

    Bench.Wrong += harness::FalseBenchEnding (Ending, Bench.Before, Bench.Image, harness::Eeprom (Bench.Sim->Chip));
    Tally.Endings[Ending]++;
    Tally.Ended (Bench, (EFI_STATUS)Ending, (EFI_STATUS)harness::BenchPass);
    Tally.Judge (Bench);
    Tally.RunProblems += Clean (Bench) ? 0 : 1;
  }

  Tally.Print ("a last line that is not true, or a run of the sequence that claimed what is not");
  std::printf (
    "soak: %-7s endings: PASS %zu, STOPPED (no backup) %zu, STOPPED (update ended before writing) %zu, previous image again %zu, NOT the previous image %zu, unknown %zu\n",
    Tally.Kind,
    Tally.Endings[harness::BenchPass],
    Tally.Endings[harness::BenchNoBackup],
    Tally.Endings[harness::BenchNotStarted],
    Tally.Endings[harness::BenchPreviousAgain],
    Tally.Endings[harness::BenchNotPrevious],
    Tally.Endings[harness::BenchUnknown]
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
