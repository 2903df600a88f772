// Systematic fault injection: each firmware or bus call of a run made to fail
// in turn (alone, and with every call after it), or for long runs each call
// site at a few of its calls; and each chip fault at each transaction of an
// update, and at transactions of every kind of a backup or a comparison on
// each image shape. Every run must end, refuse nothing the firmware would
// refuse, give back all it took, and report success only when the chip
// really holds what the tool says (the oracle every soak and fuzz run is
// judged by too).
#include "tests/firmware/FirmwareTest.h"
#include "tests/firmware/Oracle.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <set>

#include "platform/PrintLib.h"

namespace {

using harness::Call;
using harness::SimFirmware;
using harness::EEPROM_BYTES;
using harness::Hex;
using harness::VERSION_ADDRESS;

constexpr uint8_t     IMAGE_VERSION     = 0x5A;
constexpr uint8_t     CHIP_VERSION      = 0x3C;   // the byte at 0x112F before any run
constexpr UINTN       PRINT_BUFFER_SIZE = (PRINT_MAX_CHARACTERS + 1) * sizeof (CHAR16);
constexpr uint64_t    CLEAN_RUN_BUDGET  = 1000000;
constexpr size_t      FAILURES_SHOWN    = 10;

const char  FINISHED[]     = " E2PROM update finished.";

//
// What a run may do to the chip. NoChange: it never succeeds. Reads: it may
// succeed, the E2PROM stays as it was, and the mode's Check says when
// success is right.
//
enum class Expect { NoChange, ShowsVersion, Writes, Reads };

//
// Which calls of a clean run a sweep fails. Every call in turn costs runs
// times calls, quadratic in a run's length: a whole-E2PROM read makes some
// 60000 calls. The calls of one call site do the same thing again, so a
// long run's sweep fails each site at its first, a middle and its last call.
//
enum class Coverage { EveryCall, SampledSites };

struct RUN_MODE;
struct OUTCOME;

struct RUN_MODE {
  const char                   *Name;
  std::vector<std::u16string>  Arguments;       // after the tool's name
  size_t                       FileSize;        // of zk48.bin on the volume; 0: no file
  Expect                       Outcome;
  EFI_STATUS                   Clean;           // the exit status of a run where nothing fails, as the manual page gives it
  Coverage                     Sweep       = Coverage::EveryCall;
  // The chip and zk48.bin of a reading mode, from an image shape; nullptr: a blank chip, CHIP_VERSION at 0x112F, MakeImage's file.
  void                         (*Prepare) (const harness::IMAGE_SHAPE &Shape, ZK48_CHIP &Chip, std::vector<uint8_t> &File) = nullptr;
};

struct OUTCOME {
  std::unique_ptr<SimFirmware>  Sim;
  EFI_STATUS                    Status;
  int                           Volume;
  std::vector<uint8_t>          Before;   // the E2PROM as the run found it
};

void
PrintTo (
  const RUN_MODE  &Mode,
  std::ostream    *Out
  )
{
  *Out << Mode.Name;
}

struct SWEEP {
  uint64_t                    N      = 0;
  EFI_STATUS                  Clean  = EFI_SUCCESS;
  uint64_t                    Runs   = 0;
  uint64_t                    Benign = 0;       // runs whose every injected failure was console, pause or release
  uint64_t                    Sites  = 0;       // distinct call sites of the clean run
  uint64_t                    Failed = 0;       // calls of the clean run failed in turn
  std::vector<std::string>    Failures;         // runs that broke a rule
  std::vector<std::string>    Changed;          // benign runs whose status differs from the clean run's
  std::set<std::string>       Endings;          // how each run ended: "site: status" or "from site on: status"
};

uint64_t  mCallFaultRuns;
uint64_t  mChipFaultRuns;

// A failure that cannot change what the run does: console output, a pause, a release, Print's own buffer.
bool
IsBenign (
  const harness::InjectedFailure  &Failure
  )
{
  switch (Failure.Kind) {
    case Call::OutputString:
    case Call::ClearScreen:
    case Call::SetCursorPosition:
    case Call::Stall:
    case Call::FreePool:
    case Call::CalculateCrc32:   // only shown, never decides
    case Call::SetEnv:           // what was shown, kept for a script
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
  for (const harness::InjectedFailure &Failure : Sim.Injected) {
    if ((Failure.Kind == Call::OutputString) || ((Failure.Kind == Call::AllocatePool) && (Failure.Size == PRINT_BUFFER_SIZE))) {
      return true;
    }
  }

  return false;
}

// --- chips and files for the modes that read the whole E2PROM (-d, -c) ---

void
Fill (
  ZK48_CHIP                   &Chip,
  const std::vector<uint8_t>  &Bytes
  )
{
  std::copy (Bytes.begin (), Bytes.end (), Chip.Eeprom);
}

void
ChipHoldsShape (
  const harness::IMAGE_SHAPE  &Shape,
  ZK48_CHIP                   &Chip,
  std::vector<uint8_t>        &File
  )
{
  File = harness::ShapeBytes (Shape);
  Fill (Chip, File);
}

//
// The byte whose reading a single stray write could make match the image
// while the chip differs there: in page 0x08 (read upwards), the image's
// byte is the one before it, what an ignored read command delivers.
//
constexpr size_t  DIFFERING_ADDRESS = 0x0802;

void
ChipDiffersFromImageInOneByte (
  const harness::IMAGE_SHAPE  &Shape,
  ZK48_CHIP                   &Chip,
  std::vector<uint8_t>        &File
  )
{
  std::vector<uint8_t>  Bytes = harness::ShapeBytes (Shape);

  File                    = Bytes;
  File[DIFFERING_ADDRESS] = Bytes[DIFFERING_ADDRESS - 1];
  Bytes[DIFFERING_ADDRESS] ^= (Bytes[DIFFERING_ADDRESS] == File[DIFFERING_ADDRESS]) ? 0x5A : 0x00;
  Fill (Chip, Bytes);
}

const RUN_MODE  NO_ARGUMENT    = { "no-argument", {}, 0, Expect::NoChange, EFI_INVALID_PARAMETER };
const RUN_MODE  VERSION        = { "version", { u"-v" }, 0, Expect::ShowsVersion, EFI_SUCCESS };
const RUN_MODE  UPDATE         = { "update", { u"zk48.bin" }, EEPROM_BYTES, Expect::Writes, EFI_SUCCESS };
const RUN_MODE  MISSING        = { "missing-file", { u"zk48.bin" }, 0, Expect::NoChange, EFI_NOT_FOUND };
const RUN_MODE  WRONG_SIZE     = { "wrong-size", { u"zk48.bin" }, 100, Expect::NoChange, EFI_BAD_BUFFER_SIZE };
// The update again, its call sites sampled: what sampling misses shows against the full sweep above.
const RUN_MODE  UPDATE_SAMPLED = { "update-sampled", { u"zk48.bin" }, EEPROM_BYTES, Expect::Writes, EFI_SUCCESS, Coverage::SampledSites };

//
// The modes of -d and -c: a whole E2PROM read is some 58 000 calls, so
// their sweeps fail each call site at its first, a middle and its last
// call rather than every call in turn.
//
const RUN_MODE  BACKUP            = { "backup", { u"-d", u"backup.bin" }, 0, Expect::Reads, EFI_SUCCESS,
                                      Coverage::SampledSites, ChipHoldsShape };
const RUN_MODE  COMPARE_IDENTICAL = { "compare-identical", { u"-c", u"zk48.bin" }, EEPROM_BYTES, Expect::Reads, EFI_SUCCESS,
                                      Coverage::SampledSites, ChipHoldsShape };
const RUN_MODE  COMPARE_DIFFERS   = { "compare-differs", { u"-c", u"zk48.bin" }, EEPROM_BYTES, Expect::NoChange, EFI_CRC_ERROR,
                                      Coverage::SampledSites, ChipDiffersFromImageInOneByte };

//
// The first injected failure that can change what the run does. With every
// call failed from some point on, that failure, not the first, decides how
// the run ends: from the print just before the image's allocation on, it is
// that allocation.
//
std::string
FirstDecisiveSite (
  const std::vector<harness::InjectedFailure>  &Failed
  )
{
  for (const harness::InjectedFailure &Failure : Failed) {
    if (!IsBenign (Failure)) {
      return harness::CallSiteName ({ Failure.Kind, Failure.Size });
    }
  }

  return "console, pause or release only";
}

class FaultInjection : public FirmwareTest {
protected:
  const std::vector<uint8_t>  Image = MakeImage (IMAGE_VERSION);

  // A fresh bench with the mode's file, chip (of Shape, for a reading mode) and arguments, not yet run.
  static OUTCOME
  Bench (
    const RUN_MODE              &Mode,
    const harness::IMAGE_SHAPE  &Shape = harness::IMAGE_SHAPES[0]
    )
  {
    OUTCOME                      Run  = { std::make_unique<SimFirmware> (), EFI_SUCCESS, -1, {} };
    std::vector<std::u16string>  Argv = { u"Zk48Update.efi" };
    std::vector<uint8_t>         File = MakeImage (IMAGE_VERSION, Mode.FileSize);

    Run.Volume = SetUpBench (*Run.Sim);
    Run.Sim->Chip.Eeprom[VERSION_ADDRESS] = CHIP_VERSION;
    if (Mode.Prepare != nullptr) {
      Mode.Prepare (Shape, Run.Sim->Chip, File);
    }

    Run.Before.assign (Run.Sim->Chip.Eeprom, Run.Sim->Chip.Eeprom + EEPROM_BYTES);
    if (Mode.FileSize != 0) {
      Run.Sim->AddFile (Run.Volume, u"zk48.bin", File);
    }

    Argv.insert (Argv.end (), Mode.Arguments.begin (), Mode.Arguments.end ());
    Run.Sim->SetArguments (Argv);
    return Run;
  }

  // The mode's bench with Inject applied, the run cut off past Budget calls.
  static OUTCOME
  RunOnce (
    const RUN_MODE                            &Mode,
    uint64_t                                  Budget,
    const std::function<void (SimFirmware &)> &Inject,
    const harness::IMAGE_SHAPE                &Shape = harness::IMAGE_SHAPES[0]
    )
  {
    OUTCOME  Run = Bench (Mode, Shape);

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
    const bool         Wrote    = (Mode.Outcome == Expect::Writes) && (Run.Status == EFI_SUCCESS);
    harness::RUN_SEEN  Seen     = harness::SeenAfter (*Run.Sim, Run.Volume, Mode.Arguments, Run.Status);
    bool               Removing = false;
    std::string        Wrong;

    for (const std::string &Violation : Sim.Violations) {
      Wrong += "violation: " + Violation + "; ";
    }

    for (const std::string &Problem : Sim.LedgerProblems ()) {
      Wrong += Problem + "; ";
    }

    //
    // A console that failed may have taken the line a success needs with
    // it, or, when a backup's file could not be removed (by Delete, through
    // a handle opened again when Close took the first), the line saying so.
    //
    for (const harness::InjectedFailure &Failure : Sim.Injected) {
      Removing = Removing || (Failure.Kind == Call::Delete) || (Failure.Kind == Call::Open);
    }

    Seen.OutputLost = LostOutput (Sim) && ((Mode.Arguments.empty () || Mode.Arguments[0] != u"-d") || Removing);
    Wrong          += harness::FalseClaims (Seen);
    for (size_t Index = 0; Index < EEPROM_BYTES; Index++) {
      if ((Mode.Outcome != Expect::Writes) && (Sim.Chip.Eeprom[Index] != Run.Before[Index])) {
        Wrong += "E2PROM changed at 0x" + Hex (Index) + "; ";
        break;
      }

      if (Wrote && ((Index == VERSION_ADDRESS) || (Index / harness::BLOCK_BYTES != Skip / harness::BLOCK_BYTES)) && (Sim.Chip.Eeprom[Index] != Image[Index])) {
        Wrong += "success, but the E2PROM differs from the image at 0x" + Hex (Index) + "; ";
        break;
      }
    }

    if (Run.Status == EFI_SUCCESS) {
      if (Mode.Outcome == Expect::NoChange) {
        Wrong += "success where none is possible; ";
      } else if ((Mode.Outcome == Expect::Writes) && (Seen.Output.find (FINISHED) == std::string::npos) && !Seen.OutputLost) {
        Wrong += "success without \"finished\"; ";
      }
    }

    return Wrong;
  }

  // The calls of a clean run whose sites are Sites that the mode's sweep fails; Count: how many sites.
  static std::set<uint64_t>
  CallsToFail (
    const RUN_MODE                    &Mode,
    const std::vector<harness::CallSite>  &Sites,
    uint64_t                          &Count
    )
  {
    std::map<harness::CallSite, std::vector<uint64_t>>  CallsOf;
    std::set<uint64_t>                              Chosen;

    for (uint64_t K = 1; K <= Sites.size (); K++) {
      CallsOf[Sites[K - 1]].push_back (K);
    }

    for (const auto &[Site, Calls] : CallsOf) {
      if (Mode.Sweep == Coverage::EveryCall) {
        Chosen.insert (Calls.begin (), Calls.end ());
      } else {
        Chosen.insert ({ Calls.front (), Calls[Calls.size () / 2], Calls.back () });
      }
    }

    Count = CallsOf.size ();
    return Chosen;
  }

  // The Kth call of the mode's clean run, made at Site, failed alone and with every call after it.
  void
  FailAt (
    const RUN_MODE        &Mode,
    uint64_t              K,
    const harness::CallSite   &Site,
    uint64_t              Budget,
    SWEEP                 &Sweep
    ) const
  {
    for (bool FromOn : { false, true }) {
      OUTCOME      Run      = RunOnce (Mode, Budget, [&](SimFirmware &Sim) { Sim.Fail (FromOn ? harness::FromThenOn (harness::ANY_CALL, K) : harness::Once (harness::ANY_CALL, K)); });
      const auto   &Failed  = Run.Sim->Injected;
      bool         Injected = !Failed.empty () && (Failed[0].K == K);
      bool         OnSite   = Injected && (Failed[0].Kind == Site.Kind) && ((uint64_t)Failed[0].Size == Site.Detail);
      std::string  Ending   = FromOn ? "from " + FirstDecisiveSite (Failed) + " on: " : harness::CallSiteName (Site) + ": ";
      std::string  Label    = "k=" + std::to_string (K) + (FromOn ? " and on: " : ": ") + harness::CallSiteName (Site);
      std::string  Wrong    = Judge (Mode, Run);
      bool         Benign   = Injected;

      Sweep.Runs++;
      Sweep.Endings.insert (Ending + Hex (Run.Status));
      for (const harness::InjectedFailure &Failure : Failed) {
        Benign = Benign && IsBenign (Failure);
      }

      if (!OnSite) {
        Label += Injected ? std::string (", but ") + harness::CallName (Failed[0].Kind) + " failed" : ", but nothing was injected";
      }

      if (!Wrong.empty () || !OnSite) {
        Sweep.Failures.push_back (Label + ": " + Wrong);
      }

      if (Benign) {
        Sweep.Benign++;
        if (Run.Status != Sweep.Clean) {
          Sweep.Changed.push_back (Label + " made the status " + Hex (Run.Status));
        }
      }

      //
      // A read or a write can also come back short without an error.
      //
      if (Injected && !FromOn && ShortTransfer (Mode, Failed[0].Kind) != 0) {
        OUTCOME  Short = RunOnce (Mode, Budget, [&](SimFirmware &Sim) { Sim.Fail (harness::Short (Failed[0].Kind, ShortTransfer (Mode, Failed[0].Kind) - 1)); });

        Sweep.Runs++;
        if (!Judge (Mode, Short).empty () || (Short.Status == EFI_SUCCESS)) {
          Sweep.Failures.push_back (Label + " returning short: status " + Hex (Short.Status) + ", " + Judge (Mode, Short));
        }
      }
    }
  }

  // The bytes a Read or Write of the mode moves whole, 0 for a call that moves none.
  static size_t
  ShortTransfer (
    const RUN_MODE  &Mode,
    Call            Kind
    )
  {
    if (Kind == Call::Read) {
      return Mode.FileSize;
    }

    return (Kind == Call::Write) ? EEPROM_BYTES : 0;
  }

  // The mode's clean run and its calls failed as its coverage says; kept so that each test reads one sweep.
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

    Clean       = RunOnce (Mode, CLEAN_RUN_BUDGET, [](SimFirmware &Sim) { Sim.RecordCallSites = true; });
    Sweep.N     = Clean.Sim->TotalCalls ();
    Sweep.Clean = Clean.Status;
    Budget      = 10 * Sweep.N + 20000;
    if (!Judge (Mode, Clean).empty ()) {
      Sweep.Failures.push_back ("clean run: " + Judge (Mode, Clean));
    }

    for (uint64_t K : CallsToFail (Mode, Clean.Sim->CallSites, Sweep.Sites)) {
      Sweep.Failed++;
      FailAt (Mode, K, Clean.Sim->CallSites[K - 1], Budget, Sweep);
    }

    mCallFaultRuns += Sweep.Runs;
    std::printf ("fault injection: mode %s N=%llu runs=%llu (console, pause or release only: %llu)", Mode.Name,
      (unsigned long long)Sweep.N, (unsigned long long)Sweep.Runs, (unsigned long long)Sweep.Benign);
    if (Mode.Sweep == Coverage::SampledSites) {
      std::printf (" sampled: %llu calls at %llu call sites", (unsigned long long)Sweep.Failed, (unsigned long long)Sweep.Sites);
    }

    std::printf ("\n");
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

INSTANTIATE_TEST_SUITE_P (Modes, CallFaultSweep, ::testing::Values (NO_ARGUMENT, VERSION, UPDATE, MISSING, WRONG_SIZE, UPDATE_SAMPLED,
                                                                      BACKUP, COMPARE_IDENTICAL, COMPARE_DIFFERS),
  [](const ::testing::TestParamInfo<RUN_MODE> &Info) {
  std::string  Name = Info.param.Name;
  std::erase (Name, '-');
  return Name;
});

//
// Sampling pays only if it meets what failing every call meets: on the
// update, every call site failed, and every way a run ends (a site failed
// alone, or the first site that matters failed with all after it; the
// exit status), at a fraction of the runs.
//
TEST_F (FaultInjection, SampledSweepEndsRunsAsTheFullSweepDoes) {
  const SWEEP  &Full    = SweepOf (UPDATE);
  const SWEEP  &Sampled = SweepOf (UPDATE_SAMPLED);
  std::string  Missed;

  for (const std::string &Ending : Full.Endings) {
    if (Sampled.Endings.count (Ending) == 0) {
      Missed += "  " + Ending + "\n";
    }
  }

  EXPECT_EQ (Sampled.N, Full.N);
  EXPECT_LT (Sampled.Runs * 10, Full.Runs);
  EXPECT_EQ (Missed, "") << "endings of the full sweep that the sampled one never met";
}

//
// The call budget, run out at each place it can be (the first call of every
// site): the run says why once and then ends on its own, every later call
// failed, as a run with every call failed from there on ends.
//
TEST_F (FaultInjection, CallBudgetEndsARunAtEveryCallSite) {
  OUTCOME                             Clean = RunOnce (UPDATE, CLEAN_RUN_BUDGET, [](SimFirmware &Sim) { Sim.RecordCallSites = true; });
  std::map<harness::CallSite, uint64_t>   FirstCall;

  for (uint64_t K = 1; K <= Clean.Sim->CallSites.size (); K++) {
    FirstCall.emplace (Clean.Sim->CallSites[K - 1], K);
  }

  ASSERT_EQ (Clean.Sim->CallSites.size (), Clean.Sim->TotalCalls ());
  for (const auto &[Site, K] : FirstCall) {
    OUTCOME  Run    = RunOnce (UPDATE, K - 1, [](SimFirmware &) {});
    OUTCOME  Failed = RunOnce (UPDATE, CLEAN_RUN_BUDGET, [K = K](SimFirmware &Sim) { Sim.Fail (harness::FromThenOn (harness::ANY_CALL, K)); });

    EXPECT_EQ (Run.Status, Failed.Status) << harness::CallSiteName (Site);
    EXPECT_EQ (Run.Sim->TotalCalls (), Failed.Sim->TotalCalls ()) << harness::CallSiteName (Site);
    EXPECT_EQ (Run.Sim->Violations, std::vector<std::string> { "more than " + std::to_string (K - 1) + " calls: the run does not end" });
  }
}

// A run that keeps calling past its budget is a hang no failure ends: the program stops and says where.
TEST_F (FaultInjection, RunThatKeepsCallingPastItsBudgetAborts) {
  EXPECT_DEATH (RunOnce (UPDATE, 0, [](SimFirmware &Sim) { Sim.CallsPastBudget = 5; }), "the run hangs: 5 calls past its budget of 0");
}

// The oracle every run here, in the soak and in the fuzzer is judged by, tried on ends of a run made by hand.
TEST_F (FaultInjection, OracleCatchesEveryFalseClaim) {
  const std::vector<uint8_t>  Chip = harness::ShapeBytes (harness::IMAGE_SHAPES[1]);
  harness::RUN_SEEN           Run  = { { u"-d", u"backup.bin" }, EFI_SUCCESS, "", false, Chip, 0x10, {}, false, {} };

  EXPECT_NE (harness::FalseClaims (Run), "") << "success without the file";
  Run.FileLeft = true;
  Run.Backup   = Chip;
  EXPECT_EQ (harness::FalseClaims (Run), "");
  Run.Backup[EEPROM_BYTES - 1] ^= 1;
  EXPECT_NE (harness::FalseClaims (Run), "") << "a wrong last byte";
  Run.Backup.assign (Chip.begin (), Chip.end () - 1);
  EXPECT_NE (harness::FalseClaims (Run), "") << "a byte short";
  Run.Status = EFI_DEVICE_ERROR;
  EXPECT_NE (harness::FalseClaims (Run), "") << "a failure that leaves the file";
  Run.Output = " Error: the incomplete backup file FS0:\\backup.bin could not be deleted, do not use it.\r\n";
  EXPECT_EQ (harness::FalseClaims (Run), "") << "a file left behind, and said so";
  Run.Output   = "";
  Run.FileLeft = false;
  EXPECT_EQ (harness::FalseClaims (Run), "");

  // -c: "identical" only when every byte is the image's; a difference only where there is one.
  Run       = { { u"-c", u"zk48.bin" }, EFI_SUCCESS, "", false, Chip, 0x10, Chip, false, {} };
  EXPECT_EQ (harness::FalseClaims (Run), "");
  Run.Image[0x0802] = 0x00;
  EXPECT_NE (harness::FalseClaims (Run), "") << "\"identical\" with one byte different";
  Run.Status = EFI_CRC_ERROR;
  Run.Output = " Error: 1 of 8192 bytes differ from the image:\r\n Address 0x0802: image 0x00, E2PROM 0x01\r\n";
  EXPECT_EQ (harness::FalseClaims (Run), "");
  Run.Output = " Error: 2 of 8192 bytes differ from the image:\r\n Address 0x0802: image 0x00, E2PROM 0x01\r\n";
  EXPECT_NE (harness::FalseClaims (Run), "") << "a count that is not the chip's";
  Run.Output = " Error: 1 of 8192 bytes differ from the image:\r\n Address 0x0803: image 0x00, E2PROM 0x01\r\n";
  EXPECT_NE (harness::FalseClaims (Run), "") << "a difference where there is none";

  // -v and the update: the versions shown are the chip's; "finished" only with success.
  Run = { { u"-v" }, EFI_SUCCESS, "The E2PROM version is 0x5A. \r\n", false, Chip, 0x10, {}, false, {} };
  EXPECT_NE (harness::FalseClaims (Run), "") << "0x5A while the chip holds 0x" << Hex (Chip[VERSION_ADDRESS]);
  Run.Output = "The E2PROM version is 0x" + Hex (Chip[VERSION_ADDRESS]) + ". \r\n";
  EXPECT_EQ (harness::FalseClaims (Run), "");
  Run.Output.clear ();
  EXPECT_NE (harness::FalseClaims (Run), "") << "success without the version";
  Run = { { u"zk48.bin" }, EFI_DEVICE_ERROR, " Current E2PROM MCU version: V0. \r\n", false, Chip, 0x10, Chip, false, {} };
  EXPECT_NE (harness::FalseClaims (Run), "") << "V0 while the chip reports V10";
  Run.Output = " Current E2PROM MCU version: unreadable. \r\n\r\n E2PROM update finished.\r\n";
  EXPECT_NE (harness::FalseClaims (Run), "") << "finished, with a failure";
  Run.Status = EFI_SUCCESS;
  EXPECT_EQ (harness::FalseClaims (Run), "");
  Run.Image[VERSION_ADDRESS] ^= 1;
  EXPECT_NE (harness::FalseClaims (Run), "") << "success without the image's version byte";

  // The bench's last line.
  std::vector<uint8_t>  Other = Chip;

  Other[0] ^= 1;
  EXPECT_EQ (harness::FalseBenchEnding (harness::BenchPass, Other, Chip, Chip), "");
  EXPECT_NE (harness::FalseBenchEnding (harness::BenchPass, Chip, Other, Chip), "");
  EXPECT_NE (harness::FalseBenchEnding (harness::BenchNotStarted, Other, Chip, Chip), "");
  EXPECT_NE (harness::FalseBenchEnding (harness::BenchPreviousAgain, Other, Chip, Chip), "");
  EXPECT_NE (harness::FalseBenchEnding (harness::BenchNotPrevious, Chip, Other, Chip), "");
  EXPECT_EQ (harness::FalseBenchEnding (harness::BenchUnknown, Chip, Other, Other), "");
}

// Every block write the bus refused was followed by the same frame, acknowledged.
bool
RefusedBlocksWereSentAgain (
  const SimFirmware  &Sim
  )
{
  std::map<std::vector<uint8_t>, bool>  Stored;   // by frame: did its last attempt go through

  for (const harness::SmbusTransaction &Entry : Sim.Transactions) {
    if (Entry.Operation == EfiSmbusWriteBlock) {
      Stored[Entry.Data] = !EFI_ERROR (Entry.Status);
    }
  }

  return std::all_of (Stored.begin (), Stored.end (), [](const auto &Frame) { return Frame.second; });
}

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
      const harness::SmbusTransaction  &Hit    = Run.Sim->Transactions.at (At - 1);
      bool                         Dropped = (KINDS[Kind] == Zk48FaultWriteIgnored) && (Hit.Operation == EfiSmbusWriteBlock);

      //
      // The update reads the MCU version once, as specified: a byte the bus
      // delivers wrong there is what the chip reported, for all it can tell.
      //
      if ((KINDS[Kind] == Zk48FaultReadZero) && (Hit.Command == 0xC0)) {
        Run.Sim->Chip.McuVersion = Hit.Data[0];
      }

      std::string                  Wrong   = Judge (UPDATE, Run, Dropped ? ((size_t)Hit.Data[1] << 8 | Hit.Data[2]) : SIZE_MAX);

      Runs++;
      Successes += Run.Status == EFI_SUCCESS;
      if ((Run.Status == EFI_SUCCESS) && !RefusedBlocksWereSentAgain (*Run.Sim)) {
        Wrong += "success with a block refused and not sent again; ";
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

//
// The chip faults of a bench, in the runs that read the whole E2PROM, on
// every image shape: a transaction refused once, refused from then on, a
// write acknowledged and ignored once; each at the first, the last and
// three transactions between of every transaction site of a clean run, so
// that each pass meets them in its middle too, and at each transaction of
// the first read of the byte that differs in compare-differs, where one
// stray read could deliver the image's byte. A fault that passes must
// change nothing.
//
TEST_F (FaultInjection, ChipFaultsNeverFakeABackupOrAComparison) {
  enum FAULT { RefusedOnce, RefusedFromThenOn, IgnoredOnce };
  const char *const         NAMES[] = { "refused once", "refused from then on", "ignored once" };
  std::vector<std::string>  Failures;

  for (const harness::IMAGE_SHAPE &Shape : harness::IMAGE_SHAPES) {
    for (const RUN_MODE *Mode : { &BACKUP, &COMPARE_IDENTICAL, &COMPARE_DIFFERS }) {
      OUTCOME                                             Clean  = RunOnce (*Mode, CLEAN_RUN_BUDGET, [](SimFirmware &Sim) { Sim.RecordCallSites = true; }, Shape);
      uint64_t                                            Budget = 10 * Clean.Sim->TotalCalls () + 20000;
      std::map<harness::CallSite, std::vector<uint32_t>>  AtSite;   // the transactions of each site, counted from 1
      std::set<uint32_t>                                  Chosen;
      uint32_t                                            Transaction = 0;
      uint64_t                                            Runs = 0, Successes = 0;

      for (const harness::CallSite &Site : Clean.Sim->CallSites) {
        if (Site.Kind == Call::Execute) {
          AtSite[Site].push_back (++Transaction);
        }
      }

      for (const auto &[Site, Transactions] : AtSite) {
        const size_t  Count = Transactions.size ();

        Chosen.insert ({ Transactions.front (), Transactions[Count / 4], Transactions[Count / 2], Transactions[Count * 3 / 4], Transactions.back () });
      }

      for (uint32_t Step = 0; Step < 7; Step++) {
        Chosen.insert (harness::SCAN_TRANSACTIONS + 1 + harness::FirstPassIndex (DIFFERING_ADDRESS) * 7 + Step);
      }

      for (uint32_t At : Chosen) {
        const harness::SmbusTransaction  &Hit = Clean.Sim->Transactions.at (At - 1);
        const std::string                Where = harness::CallSiteName ({ Call::Execute, harness::ExecuteSite (Hit.Address, Hit.Command, Hit.Operation) });

        for (FAULT Fault : { RefusedOnce, RefusedFromThenOn, IgnoredOnce }) {
          OUTCOME      Run   = RunOnce (*Mode, Budget, [&](SimFirmware &Sim) {
            Sim.LogTransactions = false;
            if (Fault == RefusedFromThenOn) {
              Sim.Fail (harness::FromThenOn (Call::Execute, At, EFI_DEVICE_ERROR));
            } else {
              Sim.Chip.Faults.FaultAt   = At;
              Sim.Chip.Faults.FaultKind = (Fault == RefusedOnce) ? Zk48FaultNack : Zk48FaultWriteIgnored;
            }
          }, Shape);
          std::string  Wrong = Judge (*Mode, Run);

          Runs++;
          Successes += Run.Status == EFI_SUCCESS;
          //
          // Every transaction is sent again when refused, the scan's too.
          // A write ignored in the scan leaves the chip unconfirmed; an
          // ignored read command may leave the chip with no read to finish:
          // that wait runs out.
          //
          if ((Fault != RefusedFromThenOn) && ((Fault == RefusedOnce) || (At > harness::SCAN_TRANSACTIONS)) && (Run.Status != Mode->Clean)
              && !((Fault == IgnoredOnce) && (Run.Status == EFI_TIMEOUT))) {
            Wrong += std::string ("a fault met once changed the status to ") + Hex (Run.Status) + "; ";
          }

          if (!Wrong.empty ()) {
            Failures.push_back (std::string (Shape.Name) + ", " + Mode->Name + ", " + NAMES[Fault] + " at " + Where + " (transaction " + std::to_string (At) + "): " + Wrong);
          }
        }
      }

      mChipFaultRuns += Runs;
      std::printf ("chip faults: %s, mode %s runs=%llu at %zu transaction sites, successes=%llu\n", Shape.Name, Mode->Name,
        (unsigned long long)Runs, AtSite.size (), (unsigned long long)Successes);
    }
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
