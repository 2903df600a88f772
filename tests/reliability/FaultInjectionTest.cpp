// Systematic fault injection: each firmware or bus call of a run made to fail
// in turn (alone, and with every call after it), and each chip fault at
// each transaction of an update. Every run must end, refuse nothing the
// firmware would refuse, give back all it took, and report success only
// when the chip really holds what the tool says.
#include "tests/host/FirmwareTest.h"

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <ostream>

#include "platform/PrintLib.h"

namespace {

using sim::Call;
using sim::SimFirmware;

constexpr uint8_t   IMAGE_VERSION     = 0x5A;
constexpr uint8_t   CHIP_VERSION      = 0x3C;   // the byte at 0x112F before any run
constexpr size_t    VERSION_ADDRESS   = 0x112F;
constexpr size_t    IMAGE_SIZE        = 0x2000;
constexpr size_t    BLOCK_SIZE        = 8;
constexpr UINTN     PRINT_BUFFER_SIZE = (PRINT_MAX_CHARACTERS + 1) * sizeof (CHAR16);
constexpr uint64_t  CLEAN_RUN_BUDGET  = 1000000;
constexpr size_t    FAILURES_SHOWN    = 10;

const char  FINISHED[]     = " E2PROM update finished.";
const char  VERSION_LINE[] = "The E2PROM version is 0x";

enum class Expect { NoChange, ShowsVersion, Writes };

struct RUN_MODE {
  const char      *Name;
  const char16_t  *Argument;   // nullptr: none
  size_t          FileSize;    // of zk48.bin on the volume; 0: no file
  Expect          Outcome;
  EFI_STATUS      Clean;       // the exit status of a run where nothing fails, as README.md gives it
};

const RUN_MODE  NO_ARGUMENT = { "no-argument", nullptr, 0, Expect::NoChange, EFI_INVALID_PARAMETER };
const RUN_MODE  VERSION     = { "version", u"-v", 0, Expect::ShowsVersion, EFI_SUCCESS };
const RUN_MODE  UPDATE      = { "update", u"zk48.bin", IMAGE_SIZE, Expect::Writes, EFI_SUCCESS };
const RUN_MODE  MISSING     = { "missing-file", u"zk48.bin", 0, Expect::NoChange, EFI_NOT_FOUND };
const RUN_MODE  WRONG_SIZE  = { "wrong-size", u"zk48.bin", 100, Expect::NoChange, EFI_BAD_BUFFER_SIZE };

void
PrintTo (
  const RUN_MODE  &Mode,
  std::ostream    *Out
  )
{
  *Out << Mode.Name;
}

struct OUTCOME {
  std::unique_ptr<SimFirmware>  Sim;
  EFI_STATUS                    Status;
};

struct SWEEP {
  uint64_t                    N      = 0;
  EFI_STATUS                  Clean  = EFI_SUCCESS;
  uint64_t                    Runs   = 0;
  uint64_t                    Benign = 0;       // runs whose every injected failure was console, pause or release
  std::vector<std::string>    Failures;         // runs that broke a rule
  std::vector<std::string>    Changed;          // benign runs whose status differs from the clean run's
};

uint64_t  mCallFaultRuns;
uint64_t  mChipFaultRuns;

std::string
Hex (
  uint64_t  Value
  )
{
  char  Text[24];

  std::snprintf (Text, sizeof (Text), "%llX", (unsigned long long)Value);
  return Text;
}

// A failure that cannot change what the run does: console output, a pause, a release, Print's own buffer.
bool
IsBenign (
  const sim::InjectedFailure  &Failure
  )
{
  switch (Failure.Kind) {
    case Call::OutputString:
    case Call::ClearScreen:
    case Call::SetCursorPosition:
    case Call::Stall:
    case Call::FreePool:
      return true;
    case Call::AllocatePool:
      return Failure.Size == PRINT_BUFFER_SIZE;
    default:
      return false;
  }
}

bool
LostOutput (
  const SimFirmware  &Sim
  )
{
  for (const sim::InjectedFailure &Failure : Sim.Injected) {
    if ((Failure.Kind == Call::OutputString) || ((Failure.Kind == Call::AllocatePool) && (Failure.Size == PRINT_BUFFER_SIZE))) {
      return true;
    }
  }

  return false;
}

class FaultInjection : public FirmwareTest {
protected:
  const std::vector<uint8_t>  Image = MakeImage (IMAGE_VERSION);

  // A fresh bench with the mode's file, Inject applied, the run cut off past Budget calls.
  OUTCOME
  RunOnce (
    const RUN_MODE                           &Mode,
    uint64_t                                 Budget,
    const std::function<void (SimFirmware &)> &Inject
    ) const
  {
    OUTCOME                      Run    = { std::make_unique<SimFirmware> (), EFI_SUCCESS };
    int                          Volume = SetUpBench (*Run.Sim);
    std::vector<std::u16string>  Argv   = { u"Zk48Update.efi" };

    Run.Sim->Chip.Eeprom[VERSION_ADDRESS] = CHIP_VERSION;
    if (Mode.FileSize != 0) {
      Run.Sim->AddFile (Volume, u"zk48.bin", MakeImage (IMAGE_VERSION, Mode.FileSize));
    }

    if (Mode.Argument != nullptr) {
      Argv.push_back (Mode.Argument);
    }

    Run.Sim->SetArguments (Argv);
    Run.Sim->CallBudget = Budget;
    Inject (*Run.Sim);
    Run.Status = Run.Sim->RunImage ();
    return Run;
  }

  //
  // What is wrong with a run, "" when nothing is. Skip is the address of a
  // block the chip dropped while the bus reported success: the tool cannot
  // see that but by its one-byte read-back, so it is left out of the check.
  //
  std::string
  Judge (
    const RUN_MODE  &Mode,
    const OUTCOME   &Run,
    size_t          Skip = SIZE_MAX
    ) const
  {
    const SimFirmware  &Sim     = *Run.Sim;
    const std::string  Raw      = Sim.RawText ();
    const std::string  Shown    = std::string (VERSION_LINE) + Hex (Sim.Chip.Eeprom[VERSION_ADDRESS]) + ". ";
    const bool         Finished = Raw.find (FINISHED) != std::string::npos;
    const bool         Wrote    = (Mode.Outcome == Expect::Writes) && (Run.Status == EFI_SUCCESS);
    size_t             Line     = Raw.find (VERSION_LINE);
    std::string        Wrong;

    for (const std::string &Violation : Sim.Violations) {
      Wrong += "violation: " + Violation + "; ";
    }

    for (const std::string &Problem : Sim.LedgerProblems ()) {
      Wrong += Problem + "; ";
    }

    if (Finished && (Run.Status != EFI_SUCCESS)) {
      Wrong += "\"finished\" printed with status " + Hex (Run.Status) + "; ";
    }

    if ((Line != std::string::npos) && (Raw.compare (Line, Shown.size (), Shown) != 0)) {
      Wrong += "the version shown is not the chip's 0x" + Hex (Sim.Chip.Eeprom[VERSION_ADDRESS]) + "; ";
    }

    for (size_t Index = 0; Index < IMAGE_SIZE; Index++) {
      uint8_t  Before = Index == VERSION_ADDRESS ? CHIP_VERSION : 0xFF;

      if ((Mode.Outcome != Expect::Writes) && (Sim.Chip.Eeprom[Index] != Before)) {
        Wrong += "E2PROM changed at 0x" + Hex (Index) + "; ";
        break;
      }

      if (Wrote && ((Index == VERSION_ADDRESS) || (Index / BLOCK_SIZE != Skip / BLOCK_SIZE)) && (Sim.Chip.Eeprom[Index] != Image[Index])) {
        Wrong += "success, but the E2PROM differs from the image at 0x" + Hex (Index) + "; ";
        break;
      }
    }

    if (Run.Status == EFI_SUCCESS) {
      if (Mode.Outcome == Expect::NoChange) {
        Wrong += "success where none is possible; ";
      } else if ((Mode.Outcome == Expect::ShowsVersion) && (Line == std::string::npos) && !LostOutput (Sim)) {
        Wrong += "success without the version line; ";
      } else if ((Mode.Outcome == Expect::Writes) && !Finished && !LostOutput (Sim)) {
        Wrong += "success without \"finished\"; ";
      }
    }

    return Wrong;
  }

  // Every call of the mode's clean run failed in turn; kept so that each test reads one sweep.
  const SWEEP &
  SweepOf (
    const RUN_MODE  &Mode
    ) const
  {
    static std::map<std::string, SWEEP>  Sweeps;
    SWEEP                                &Sweep = Sweeps[Mode.Name];
    OUTCOME                              Clean;
    uint64_t                             Budget;

    if (Sweep.N != 0) {
      return Sweep;
    }

    Clean       = RunOnce (Mode, CLEAN_RUN_BUDGET, [](SimFirmware &) {});
    Sweep.N     = Clean.Sim->TotalCalls ();
    Sweep.Clean = Clean.Status;
    Budget      = 10 * Sweep.N + 20000;
    if (!Judge (Mode, Clean).empty ()) {
      Sweep.Failures.push_back ("clean run: " + Judge (Mode, Clean));
    }

    for (uint64_t K = 1; K <= Sweep.N; K++) {
      for (bool FromOn : { false, true }) {
        OUTCOME      Run      = RunOnce (Mode, Budget, [&](SimFirmware &Sim) { Sim.FailGlobalCall (K, FromOn); });
        const auto   &Failed  = Run.Sim->Injected;
        bool         Injected = !Failed.empty () && (Failed[0].K == K);
        std::string  Label    = "k=" + std::to_string (K) + (FromOn ? " and on: " : ": ") + (Injected ? sim::CallName (Failed[0].Kind) : "nothing injected");
        std::string  Wrong    = Judge (Mode, Run);
        bool         Benign   = Injected;

        Sweep.Runs++;
        for (const sim::InjectedFailure &Failure : Failed) {
          Benign = Benign && IsBenign (Failure);
        }

        if (!Wrong.empty () || !Injected) {
          Sweep.Failures.push_back (Label + ": " + Wrong);
        }

        if (Benign) {
          Sweep.Benign++;
          if (Run.Status != Sweep.Clean) {
            Sweep.Changed.push_back (Label + " made the status " + Hex (Run.Status));
          }
        }

        //
        // A read can also come back short without an error.
        //
        if (Injected && !FromOn && (Failed[0].Kind == Call::Read)) {
          OUTCOME  Short = RunOnce (Mode, Budget, [&](SimFirmware &Sim) { Sim.ReadDeliversAtMost = Mode.FileSize - 1; });

          Sweep.Runs++;
          if (!Judge (Mode, Short).empty () || (Short.Status == EFI_SUCCESS)) {
            Sweep.Failures.push_back (Label + " returning short: status " + Hex (Short.Status) + ", " + Judge (Mode, Short));
          }
        }
      }
    }

    mCallFaultRuns += Sweep.Runs;
    std::printf ("fault injection: mode %s N=%llu runs=%llu (console, pause or release only: %llu)\n", Mode.Name,
      (unsigned long long)Sweep.N, (unsigned long long)Sweep.Runs, (unsigned long long)Sweep.Benign);
    return Sweep;
  }
};

std::string
FirstOf (
  const std::vector<std::string>  &Lines
  )
{
  std::string  Text = std::to_string (Lines.size ()) + " runs:\n";

  for (size_t Index = 0; (Index < Lines.size ()) && (Index < FAILURES_SHOWN); Index++) {
    Text += "  " + Lines[Index] + "\n";
  }

  return Text;
}

class CallFaultSweep : public FaultInjection, public ::testing::WithParamInterface<RUN_MODE> {};

TEST_P (CallFaultSweep, EveryRunEndsBalancedAndSucceedsOnlyWhenRight) {
  const SWEEP  &Sweep = SweepOf (GetParam ());

  EXPECT_TRUE (Sweep.Failures.empty ()) << FirstOf (Sweep.Failures);
  RecordProperty ("N", std::to_string (Sweep.N));
  RecordProperty ("runs", std::to_string (Sweep.Runs));
}

TEST_P (CallFaultSweep, ConsoleAndPauseFailuresDontChangeTheOutcome) {
  const SWEEP  &Sweep = SweepOf (GetParam ());

  EXPECT_GT (Sweep.Benign, 0u);
  EXPECT_TRUE (Sweep.Changed.empty ()) << "clean status " << Hex (Sweep.Clean) << ", " << FirstOf (Sweep.Changed);
}

// The clean runs end as the exit-status table says, so that the sweeps start from the right place.
TEST_P (CallFaultSweep, CleanRunEndsAsDocumented) {
  EXPECT_EQ (SweepOf (GetParam ()).Clean, GetParam ().Clean);
}

INSTANTIATE_TEST_SUITE_P (Modes, CallFaultSweep, ::testing::Values (NO_ARGUMENT, VERSION, UPDATE, MISSING, WRONG_SIZE),
  [](const ::testing::TestParamInfo<RUN_MODE> &Info) {
  std::string  Name = Info.param.Name;
  std::erase (Name, '-');
  return Name;
});

TEST_F (FaultInjection, NoChipFaultFakesASuccessfulUpdate) {
  const ZK48_FAULT_KIND      KINDS[] = { Zk48FaultNack, Zk48FaultReadZero, Zk48FaultWriteIgnored, Zk48FaultStatusStuck };
  const char *const          NAMES[] = { "nack", "read-zero", "write-ignored", "status-stuck" };
  OUTCOME                    Clean   = RunOnce (UPDATE, CLEAN_RUN_BUDGET, [](SimFirmware &) {});
  uint64_t                   T       = Clean.Sim->Chip.Counts.Transactions;
  uint64_t                   Budget  = 10 * Clean.Sim->TotalCalls () + 20000;
  std::vector<std::string>   Failures;

  ASSERT_EQ (Clean.Status, EFI_SUCCESS);
  ASSERT_EQ (T, Clean.Sim->Transactions.size ());
  for (size_t Kind = 0; Kind < 4; Kind++) {
    uint64_t  Runs = 0, Successes = 0;

    for (uint64_t At = 1; At <= T; At++) {
      OUTCOME                      Run     = RunOnce (UPDATE, Budget, [&](SimFirmware &Sim) {
        Sim.Chip.Faults.FaultAt   = (UINT32)At;
        Sim.Chip.Faults.FaultKind = KINDS[Kind];
      });
      const sim::SmbusTransaction  &Hit    = Run.Sim->Transactions.at (At - 1);
      bool                         Dropped = (KINDS[Kind] == Zk48FaultWriteIgnored) && (Hit.Operation == EfiSmbusWriteBlock);
      std::string                  Wrong   = Judge (UPDATE, Run, Dropped ? ((size_t)Hit.Data[1] << 8 | Hit.Data[2]) : SIZE_MAX);

      Runs++;
      Successes += Run.Status == EFI_SUCCESS;
      for (const sim::SmbusTransaction &Entry : Run.Sim->Transactions) {
        if ((Entry.Operation == EfiSmbusWriteBlock) && EFI_ERROR (Entry.Status) && (Run.Status == EFI_SUCCESS)) {
          Wrong += "success after a refused block write; ";
          break;
        }
      }

      if (!Wrong.empty ()) {
        Failures.push_back (std::string (NAMES[Kind]) + " at transaction " + std::to_string (At) + ": " + Wrong);
      }
    }

    mChipFaultRuns += Runs;
    std::printf ("chip faults: %s runs=%llu (of %llu transactions), successes=%llu\n", NAMES[Kind],
      (unsigned long long)Runs, (unsigned long long)T, (unsigned long long)Successes);
  }

  EXPECT_TRUE (Failures.empty ()) << FirstOf (Failures);
}

class Summary : public ::testing::Environment {
public:
  void
  TearDown (
    ) override
  {
    std::printf ("fault injection: %llu runs with failing calls, %llu with chip faults, %llu in all\n",
      (unsigned long long)mCallFaultRuns, (unsigned long long)mChipFaultRuns, (unsigned long long)(mCallFaultRuns + mChipFaultRuns));
  }
};

[[maybe_unused]] const auto  *mSummary = ::testing::AddGlobalTestEnvironment (new Summary);

} // namespace
