// The run from the shell's point of view: arguments, banner, refusal,
// the missing host controller, the version query, and the exit status.
#include "tests/firmware/FirmwareTest.h"

#include <cstring>

#include "chip/TconChip.h"
#include "platform/LoadOptions.h"

namespace {

using harness::ArgumentSource;
using harness::Call;
using harness::Event;

const std::string  REFUSAL            = " Error: No bin file name parameter or Command missing -v parameters, program exit.\r\n";
const std::string  NO_HOST_CONTROLLER = " Error: SMBus host controller protocol not found, exit.\r\n";
const std::string  IGNORED_OPTIONS    = " Load options ignored.\r\n";

const std::string  UP_TO_CHIP = BenchUpToChip ();

// The device-ID check of the scan, answered at once.
const std::vector<std::string>  ID_CHECK = { "W 21 B1 08", "R 23 02 -> 11" };

class RunSequenceTest : public FirmwareTest {
protected:
  void SetUp () override
  {
    FirmwareTest::SetUp ();
    Sim.Chip.Eeprom[harness::VERSION_ADDRESS] = 0x5A;
  }

  // Nothing of the image file was touched.
  void ExpectNoFileAccess ()
  {
    EXPECT_EQ (Sim.CallCount (Call::LocateProtocol), 0u);
    EXPECT_EQ (Sim.CallCount (Call::OpenVolume), 0u);
    EXPECT_EQ (Sim.CallCount (Call::Open), 0u);
  }
};

//
// The refusal: no argument, nothing but the banner and one line.
//

TEST_F (RunSequenceTest, NoArgumentPrintsBannerAndRefusalOnly) {
  EXPECT_EQ (Run ({}), EFI_INVALID_PARAMETER);
  EXPECT_EQ (Output (), BANNER + REFUSAL);
  EXPECT_TRUE (Sim.Transactions.empty ());
  EXPECT_TRUE (Sim.Ports.empty ());
  ExpectNoFileAccess ();
  ASSERT_EQ (Sim.Timeline.size (), 7u) << "ClearScreen, then one output per line";
  EXPECT_EQ (Sim.Timeline.front ().Kind, harness::Event::Clear);
  EXPECT_EQ (Sim.CallCount (Call::ClearScreen), 1u);
}

//
// The lookup of the host controller comes before anything reaches the
// console: for each of the lookup's two boot-service calls, the calls made
// before it count one OpenProtocol (the arguments') and nothing of the console.
//
TEST_F (RunSequenceTest, HostControllerIsLookedUpAfterTheArgumentsAndBeforeAnyOutput) {
  std::vector<uint64_t>  OpensAtLookup;
  std::vector<uint64_t>  ConsoleAtLookup;
  uint64_t               Opens   = 0;
  uint64_t               Console = 0;

  Sim.RecordCallSites = true;
  EXPECT_EQ (Run ({ u"-v" }), EFI_SUCCESS);
  for (const harness::CallSite &Site : Sim.CallSites) {
    if ((Site.Kind == Call::LocateHandleBuffer) || (Site.Kind == Call::HandleProtocol)) {
      OpensAtLookup.push_back (Opens);
      ConsoleAtLookup.push_back (Console);
    }

    Opens   += Site.Kind == Call::OpenProtocol;
    Console += (Site.Kind == Call::ClearScreen) || (Site.Kind == Call::OutputString) || (Site.Kind == Call::SetCursorPosition);
  }

  EXPECT_EQ (OpensAtLookup, (std::vector<uint64_t> { 1, 1 }));
  EXPECT_EQ (ConsoleAtLookup, (std::vector<uint64_t> { 0, 0 }));
  EXPECT_EQ (Sim.Timeline.front ().Kind, harness::Event::Clear);
  EXPECT_EQ (Sim.CallCount (Call::ClearScreen), 1u);
  EXPECT_EQ (Output (), UP_TO_CHIP + "The E2PROM version is 0x5A. \r\n");
}

//
// Where the argument list comes from, and the exit status when it is missing.
//
struct SOURCE_CASE {
  const char        *Name;
  ArgumentSource    Source;
  uint64_t          FailingOpen;        // the OpenProtocol call made to fail, 0 for none
  EFI_STATUS        OpenFailure;
  EFI_STATUS        Exit;
  uint64_t          Opens;
};

class ArgumentSourceTest : public RunSequenceTest, public ::testing::WithParamInterface<SOURCE_CASE> {};

TEST_P (ArgumentSourceTest, ArgumentsComeFromTheFirstInterfaceThatOpens) {
  const SOURCE_CASE  &Case = GetParam ();

  Sim.SetArguments ({ u"Zk48Update.efi", u"-v" }, Case.Source);
  if (Case.FailingOpen != 0) {
    Sim.Fail (harness::Once (Call::OpenProtocol, Case.FailingOpen, Case.OpenFailure));
  }

  EXPECT_EQ (Sim.RunImage (), Case.Exit);
  EXPECT_EQ (Sim.CallCount (Call::OpenProtocol), Case.Opens);
  EXPECT_EQ (Sim.Timeline.front ().Kind, harness::Event::Clear);
  if (EFI_ERROR (Case.Exit)) {
    EXPECT_EQ (Output (), BANNER + REFUSAL);
    EXPECT_TRUE (Sim.Transactions.empty ());
    EXPECT_TRUE (Sim.Ports.empty ());
  } else {
    EXPECT_EQ (Output (), UP_TO_CHIP + "The E2PROM version is 0x5A. \r\n");
  }
}

INSTANTIATE_TEST_SUITE_P (
  Shell,
  ArgumentSourceTest,
  ::testing::Values (
    SOURCE_CASE { "ShellParameters",             ArgumentSource::ShellParameters, 0, 0,                  EFI_SUCCESS,        1 },
    SOURCE_CASE { "OlderShellInterface",         ArgumentSource::ShellInterface,  0, 0,                  EFI_SUCCESS,        2 },
    SOURCE_CASE { "OlderInterfaceAfterFailure",  ArgumentSource::ShellInterface,  1, EFI_ACCESS_DENIED,  EFI_SUCCESS,        2 },
    SOURCE_CASE { "Neither",                     ArgumentSource::None,            0, 0,                  EFI_UNSUPPORTED,    2 },
    SOURCE_CASE { "NeitherSecondOpenDenied",     ArgumentSource::None,            2, EFI_ACCESS_DENIED,  EFI_ACCESS_DENIED,  2 },
    SOURCE_CASE { "NeitherFirstOpenDenied",      ArgumentSource::None,            1, EFI_ACCESS_DENIED,  EFI_UNSUPPORTED,    2 },
    SOURCE_CASE { "ParametersOpenFailsAlone",    ArgumentSource::ShellParameters, 1, EFI_ACCESS_DENIED,  EFI_UNSUPPORTED,    2 }
    ),
  [](const ::testing::TestParamInfo<SOURCE_CASE> &Info) { return std::string (Info.param.Name); }
  );

//
// "-v" is the two units '-' 'v' and the terminator; anything else is a file name.
//
struct COMMAND_CASE {
  const char                     *Name;
  std::vector<std::u16string>    Args;
  bool                           VersionQuery;
};

class CommandLineTest : public RunSequenceTest, public ::testing::WithParamInterface<COMMAND_CASE> {};

TEST_P (CommandLineTest, OnlyExactDashVQueriesTheVersion) {
  const COMMAND_CASE  &Case = GetParam ();

  Sim.AddFile (Volume, u"image.bin", MakeImage (0x33));

  if (Case.VersionQuery) {
    EXPECT_EQ (Run (Case.Args), EFI_SUCCESS);
    EXPECT_EQ (Output (), UP_TO_CHIP + "The E2PROM version is 0x5A. \r\n");
    ExpectNoFileAccess ();
    EXPECT_EQ (Sim.Chip.Counts.BlockWrites, 0u);
  } else {
    EXPECT_EQ (Run (Case.Args), EFI_NOT_FOUND);
    EXPECT_EQ (Output (), UP_TO_CHIP + " Image name is: " + harness::Utf8 (Case.Args[0]) + "open: fail_Not Found\r\n");
    EXPECT_EQ (Sim.CallCount (Call::Open), 1u);
    EXPECT_EQ (BusLog (), ID_CHECK) << "no version query";
  }
}

INSTANTIATE_TEST_SUITE_P (
  Arguments,
  CommandLineTest,
  ::testing::Values (
    COMMAND_CASE { "DashV",              { u"-v" },                 true  },
    COMMAND_CASE { "DashVThenMore",      { u"-v", u"extra" },       true  },
    COMMAND_CASE { "DashVThenDashV",     { u"-v", u"-v" },          true  },
    COMMAND_CASE { "DashVThenImage",     { u"-v", u"image.bin" },   true  },
    COMMAND_CASE { "CapitalV",           { u"-V" },                 false },
    COMMAND_CASE { "DashVOne",           { u"-v1" },                false },
    COMMAND_CASE { "DashVSpace",         { u"-v " },                false },
    COMMAND_CASE { "DashVV",             { u"-vv" },                false },
    COMMAND_CASE { "Dash",               { u"-" },                  false },
    COMMAND_CASE { "DoubleDashV",        { u"--v" },                false },
    COMMAND_CASE { "V",                  { u"v" },                  false },
    COMMAND_CASE { "SlashV",             { u"/v" },                 false },
    COMMAND_CASE { "CapitalVThenDashV",  { u"-V", u"-v" },          false },
    COMMAND_CASE { "CapitalH",           { u"-H" },                 false },
    COMMAND_CASE { "DashHX",             { u"-hx" },                false }
    ),
  [](const ::testing::TestParamInfo<COMMAND_CASE> &Info) { return std::string (Info.param.Name); }
  );

//
// "-h": the banner and one line for each command, nothing scanned or read,
// whatever follows it and whether or not the firmware has an SMBus driver.
//
const std::string  USAGE =
  " Zk48Update.efi IMAGE    write the 8192-byte IMAGE and check its version byte.\r\n"
  " Zk48Update.efi -v       show the version byte the E2PROM holds.\r\n"
  " Zk48Update.efi -d FILE  save the whole E2PROM in FILE, a new file.\r\n"
  " Zk48Update.efi -c FILE  compare the whole E2PROM with the image FILE.\r\n"
  " Zk48Update.efi -h       show these lines; the chip is not touched.\r\n"
  " Exit statuses, the bench script, the chip not found: help Zk48Update -verbose\r\n";

struct HELP_CASE {
  const char                     *Name;
  std::vector<std::u16string>    Args;
  bool                           WithoutSmbusHc;
};

class HelpTest : public RunSequenceTest, public ::testing::WithParamInterface<HELP_CASE> {};

TEST_P (HelpTest, ShowsTheCommandsAndTouchesNothing) {
  const HELP_CASE  &Case = GetParam ();

  Sim.AddFile (Volume, u"image.bin", MakeImage (0x33));
  if (Case.WithoutSmbusHc) {
    RemoveSmbusHc ();
  }

  EXPECT_EQ (Run (Case.Args), EFI_SUCCESS);
  EXPECT_EQ (Output (), BANNER + USAGE);
  EXPECT_TRUE (Sim.Ports.empty ());
  EXPECT_EQ (Sim.CallCount (Call::Execute), 0u);
  ExpectNoFileAccess ();
}

INSTANTIATE_TEST_SUITE_P (
  Arguments,
  HelpTest,
  ::testing::Values (
    HELP_CASE { "DashH",              { u"-h" },                 false },
    HELP_CASE { "DashHThenImage",     { u"-h", u"image.bin" },   false },
    HELP_CASE { "DashHThenDashD",     { u"-h", u"-d" },          false },
    HELP_CASE { "DashHWithoutSmbusHc", { u"-h" },                true  }
    ),
  [](const ::testing::TestParamInfo<HELP_CASE> &Info) { return std::string (Info.param.Name); }
  );

//
// No SMBus host controller: the run stops after the separator, before the scan.
//
struct NO_HC_CASE {
  const char                     *Name;
  int                            How;       // 0: no handle, 1: handle refuses, 2: handle list fails
  std::vector<std::u16string>    Args;
};

class MissingHostControllerTest : public RunSequenceTest, public ::testing::WithParamInterface<NO_HC_CASE> {};

TEST_P (MissingHostControllerTest, StopsBeforeTheScan) {
  const NO_HC_CASE  &Case = GetParam ();

  Sim.AddFile (Volume, u"image.bin", MakeImage (0x33));
  switch (Case.How) {
    case 0:
      RemoveSmbusHc ();
      break;
    case 1:
      Sim.FailHandleProtocolFor (0);
      break;
    default:
      Sim.Fail (harness::Once (Call::LocateHandleBuffer, 1, EFI_OUT_OF_RESOURCES));
      break;
  }

  if (Case.Args.empty ()) {
    EXPECT_EQ (Run (Case.Args), EFI_INVALID_PARAMETER);
    EXPECT_EQ (Output (), BANNER + REFUSAL);
  } else {
    EXPECT_EQ (Run (Case.Args), EFI_NOT_FOUND);
    EXPECT_EQ (Output (), BANNER + std::string (SEPARATOR_LINE) + NO_HOST_CONTROLLER);
  }

  EXPECT_TRUE (Sim.Ports.empty ());
  EXPECT_TRUE (Sim.Transactions.empty ());
  EXPECT_EQ (Sim.CallCount (Call::Execute), 0u);
  ExpectNoFileAccess ();
}

INSTANTIATE_TEST_SUITE_P (
  Firmware,
  MissingHostControllerTest,
  ::testing::Values (
    NO_HC_CASE { "NoHandleDashV",          0, { u"-v" }        },
    NO_HC_CASE { "NoHandleImage",          0, { u"image.bin" } },
    NO_HC_CASE { "HandleRefusesDashV",     1, { u"-v" }        },
    NO_HC_CASE { "HandleRefusesImage",     1, { u"image.bin" } },
    NO_HC_CASE { "HandleListFailsDashV",   2, { u"-v" }        },
    NO_HC_CASE { "NoHandleNoArgument",     0, {}               }
    ),
  [](const ::testing::TestParamInfo<NO_HC_CASE> &Info) { return std::string (Info.param.Name); }
  );

//
// The version query: the byte in upper-case hexadecimal without leading
// zeros, or the timeout when the chip never signals the byte ready.
//
struct VERSION_CASE {
  uint8_t       Byte;
  const char    *Line;
};

class VersionQueryTest : public RunSequenceTest, public ::testing::WithParamInterface<VERSION_CASE> {};

TEST_P (VersionQueryTest, ShowsTheVersionByte) {
  Sim.Chip.Eeprom[harness::VERSION_ADDRESS] = GetParam ().Byte;

  EXPECT_EQ (Run ({ u"-v" }), EFI_SUCCESS);
  EXPECT_EQ (Output (), UP_TO_CHIP + GetParam ().Line);
}

INSTANTIATE_TEST_SUITE_P (
  Bytes,
  VersionQueryTest,
  ::testing::Values (
    VERSION_CASE { 0x5A, "The E2PROM version is 0x5A. \r\n" },
    VERSION_CASE { 0x05, "The E2PROM version is 0x5. \r\n"  },
    VERSION_CASE { 0x00, "The E2PROM version is 0x0. \r\n"  },
    VERSION_CASE { 0xAB, "The E2PROM version is 0xAB. \r\n" },
    VERSION_CASE { 0xFF, "The E2PROM version is 0xFF. \r\n" }
    )
  );

// Twice: one write the chip ignored must not show a version the E2PROM does not hold.
TEST_F (RunSequenceTest, VersionQueryReadsTheVersionByteTwiceAfterTheCheck) {
  const std::vector<std::string>  Read = { "W 21 B2 11", "W 21 B3 2F", "W 21 B5 02", "R 21 B7 -> 7F", "R 21 B7 -> 7F", "R 21 B7 -> 80", "R 21 B6 -> 5A" };
  std::vector<std::string>        Expected = { "W 21 B1 08", "R 23 02 -> 11" };

  Expected.insert (Expected.end (), Read.begin (), Read.end ());
  Expected.insert (Expected.end (), Read.begin (), Read.end ());
  EXPECT_EQ (Run ({ u"-v" }), EFI_SUCCESS);
  EXPECT_EQ (BusLog (), Expected);
  EXPECT_EQ (Sim.Timeline.back ().Kind, harness::Event::Output) << "the version line is the last thing the run does";
  EXPECT_EQ (Sim.CallCount (Call::Stall), 0u);
  ExpectNoFileAccess ();
}

TEST_F (RunSequenceTest, VersionQueryOnAChipThatNeverSignalsReadyTimesOut) {
  Sim.Chip.Faults.ReadyAfterPolls = ZK48_NEVER;

  EXPECT_EQ (Run ({ u"-v" }), EFI_TIMEOUT);
  EXPECT_EQ (Output (), UP_TO_CHIP + " Error: E2PROM read timed out, exit.\r\n");
  EXPECT_EQ (Sim.Chip.Counts.ByteReads, 1u + 10000u) << "the identity read, then every status read the bound allows";
  EXPECT_EQ (BusLog ().back (), "R 21 B7 -> 7F") << "no data read";
  ExpectNoFileAccess ();
}

//
// A transaction of the read refused on the bus is not a slow chip: it is
// sent again, and only a refusal at every attempt fails, saying so.
//
TEST_F (RunSequenceTest, VersionQueryWithARefusedTransactionTriesAgainThenSaysSo) {
  // After the scan's two transactions: the three set-up writes, three polls, the data read.
  for (UINT32 At : { 3u, 4u, 5u, 9u }) {
    for (bool Always : { false, true }) {
      harness::SimFirmware  Bench;

      SetUpBench (Bench);
      Bench.Chip.Eeprom[harness::VERSION_ADDRESS] = 0x5A;
      if (Always) {
        Bench.Fail (harness::FromThenOn (Call::Execute, At, EFI_DEVICE_ERROR));
      } else {
        Bench.Chip.Faults.FaultAt   = At;
        Bench.Chip.Faults.FaultKind = Zk48FaultNack;
      }

      Bench.SetArguments ({ u"Zk48Update.efi", u"-v" });
      EXPECT_EQ (Bench.RunImage (), Always ? EFI_DEVICE_ERROR : EFI_SUCCESS) << At;
      const std::string  Refusals = " The bus refused 5 of " + std::to_string (At - 1 + CHIP_ATTEMPTS) + " transactions, the last one 5 times in a row.\r\n";

      EXPECT_EQ (Bench.RawText (), UP_TO_CHIP + (Always ? " Error: E2PROM read failed, exit.\r\n" + Refusals
                                                        : " Note: 1 bus transaction was refused and sent again.\r\nThe E2PROM version is 0x5A. \r\n")) << At;
      EXPECT_EQ (Bench.LedgerProblems (), std::vector<std::string> {});
    }
  }
}

//
// Load options, as a boot entry carries them to a tool no shell started:
// words as the shell splits them, or nothing when they are not a line.
//
struct SPLIT_CASE {
  const char                     *Name;
  std::vector<uint8_t>           Bytes;
  bool                           Taken;
  std::vector<std::u16string>    Words;
};

class SplitLoadOptionsTest : public ::testing::TestWithParam<SPLIT_CASE> {};

TEST_P (SplitLoadOptionsTest, SplitsALineAndRefusesAnythingElse) {
  const SPLIT_CASE       &Case = GetParam ();
  // As the firmware's pool would hold them: aligned, and nothing past them.
  std::vector<uint16_t>  Aligned ((Case.Bytes.size () + 1) / 2);
  LOAD_OPTION_ARGUMENTS  Arguments;

  std::memcpy (Aligned.data (), Case.Bytes.data (), Case.Bytes.size ());
  ASSERT_EQ (SplitLoadOptions (Aligned.data (), (UINT32)Case.Bytes.size (), &Arguments),
             Case.Taken ? LoadOptionsCommandLine : LoadOptionsIgnored);
  if (Case.Taken) {
    std::vector<std::u16string>  Words (Arguments.Argv + 1, Arguments.Argv + Arguments.Argc);

    EXPECT_EQ (Words, Case.Words);
    EXPECT_EQ (std::u16string (Arguments.Argv[0]), u"") << "load options carry no program name";
    EXPECT_EQ (Arguments.Argv[Arguments.Argc], nullptr);
  }
}

std::vector<uint8_t>
Bytes (
  std::vector<uint8_t>        First,
  const std::vector<uint8_t>  &Then
  )
{
  First.insert (First.end (), Then.begin (), Then.end ());
  return First;
}

using harness::Ucs2Bytes;

// OVMF's own boot entry for a disk carries a GUID as its optional data.
const std::vector<uint8_t>  DISK_ENTRY_DATA = { 0x4E, 0xAC, 0x08, 0x81, 0x11, 0x9F, 0x59, 0x4D, 0x85, 0x0E, 0xE2, 0x1A, 0x52, 0x2C, 0x59, 0xB2 };

INSTANTIATE_TEST_SUITE_P (
  LoadOptions,
  SplitLoadOptionsTest,
  ::testing::Values (
    SPLIT_CASE { "Plain",                Ucs2Bytes (u"image.bin -l zk48.log"),                 true,  { u"image.bin", u"-l", u"zk48.log" } },
    SPLIT_CASE { "SpacesAndTabs",        Ucs2Bytes (u"  -v \t -l\tlog  "),                     true,  { u"-v", u"-l", u"log" } },
    SPLIT_CASE { "QuotedSpaces",         Ucs2Bytes (u"-c \"new image.bin\" -l \"a b.log\""),  true,  { u"-c", u"new image.bin", u"-l", u"a b.log" } },
    SPLIT_CASE { "QuotesInsideAWord",    Ucs2Bytes (u"a\"b c\"d e"),                           true,  { u"ab cd", u"e" } },
    SPLIT_CASE { "EmptyQuotes",          Ucs2Bytes (u"-d \"\""),                               true,  { u"-d", u"" } },
    SPLIT_CASE { "QuoteNeverClosed",     Ucs2Bytes (u"\"a  b"),                                true,  { u"a  b" } },
    SPLIT_CASE { "Empty",                Ucs2Bytes (u""),                                      true,  {} },
    SPLIT_CASE { "OnlySpaces",           Ucs2Bytes (u"   "),                                   true,  {} },
    SPLIT_CASE { "BeyondAscii",          Ucs2Bytes (u"bild\u00E9.bin"),                        true,  { u"bild\u00E9.bin" } },
    SPLIT_CASE { "DataAfterTheEnd",      Bytes (Ucs2Bytes (u"-v"), { 0x01, 0x00, 0xFF, 0xFF }), true,  { u"-v" } },
    SPLIT_CASE { "LongestLine",          Ucs2Bytes (std::u16string (255, u'a')),               true,  { std::u16string (255, u'a') } },
    SPLIT_CASE { "MostWords",            Ucs2Bytes ([] { std::u16string L; for (int I = 0; I < 127; I++) L += u"a "; return L + u"a"; } ()),
                 true, std::vector<std::u16string> (128, u"a") },
    SPLIT_CASE { "LineTooLong",          Ucs2Bytes (std::u16string (256, u'a')),               false, {} },
    SPLIT_CASE { "OddSize",              Bytes (Ucs2Bytes (u"-v"), { 0x00 }),                 false, {} },
    SPLIT_CASE { "NoTerminator",         Ucs2Bytes (u"-v -l zk48.log", false),                 false, {} },
    SPLIT_CASE { "BinaryGuid",           DISK_ENTRY_DATA,                                      false, {} },
    SPLIT_CASE { "ControlCharacter",     Ucs2Bytes (u"-v\x01"),                                false, {} },
    // efibootmgr without --unicode: 8-bit text, one zero byte at its end.
    SPLIT_CASE { "AsciiOptionalData",    { '-', 'v', ' ', 'x', 'y', 0 },                       false, {} }
    ),
  [](const ::testing::TestParamInfo<SPLIT_CASE> &Info) { return std::string (Info.param.Name); }
  );

//
// The same through the firmware: no shell, the loaded image's options. A
// run started with them ends with its own status and restarts the machine,
// so that a one-shot boot entry returns to the operating system; options
// that are no line are said to be ignored, and the run is the one without
// arguments, which restarts nothing.
//
struct LOADED_CASE {
  const char              *Name;
  ArgumentSource          Source;         // a shell's arguments too, or not
  std::vector<uint8_t>    Options;
  EFI_STATUS              Exit;
  std::string             Screen;
  bool                    Restarts;
};

const std::string  RESTART = " Restarting the machine in 5 seconds.\r\n";

class LoadOptionArgumentsTest : public RunSequenceTest, public ::testing::WithParamInterface<LOADED_CASE> {};

TEST_P (LoadOptionArgumentsTest, TakesTheArgumentsOnlyWhenNoShellGivesAny) {
  const LOADED_CASE  &Case = GetParam ();

  Sim.SetArguments ({ u"Zk48Update.efi", u"-v" }, Case.Source);
  Sim.SetLoadOptions (Case.Options);
  EXPECT_EQ (Sim.RunImage (), Case.Exit);
  EXPECT_EQ (Output (), Case.Screen + (Case.Restarts ? RESTART : ""));
  EXPECT_EQ (Sim.ResetStatus, Case.Restarts ? std::optional<EFI_STATUS> (Case.Exit) : std::nullopt);
  if (Case.Restarts) {
    EXPECT_EQ (Sim.Timeline.back ().Kind, Event::Stall);
    EXPECT_EQ (Sim.Timeline.back ().A, 5000000u);
  }
}

INSTANTIATE_TEST_SUITE_P (
  LoadOptions,
  LoadOptionArgumentsTest,
  ::testing::Values (
    LOADED_CASE { "Version",              ArgumentSource::None,            Ucs2Bytes (u"-v"),        EFI_SUCCESS,           UP_TO_CHIP + "The E2PROM version is 0x5A. \r\n", true },
    LOADED_CASE { "MissingImage",         ArgumentSource::None,            Ucs2Bytes (u"none.bin"),  EFI_NOT_FOUND,         UP_TO_CHIP + " Image name is: none.binopen: fail_Not Found\r\n", true },
    LOADED_CASE { "EmptyLine",            ArgumentSource::None,            Ucs2Bytes (u" "),         EFI_INVALID_PARAMETER, BANNER + REFUSAL, true },
    LOADED_CASE { "NoOptions",            ArgumentSource::None,            {},                       EFI_UNSUPPORTED,       BANNER + REFUSAL, false },
    LOADED_CASE { "BinaryIgnored",        ArgumentSource::None,            DISK_ENTRY_DATA,          EFI_UNSUPPORTED,       BANNER + IGNORED_OPTIONS + REFUSAL, false },
    LOADED_CASE { "ShellBeforeOptions",   ArgumentSource::ShellParameters, Ucs2Bytes (u"none.bin"),  EFI_SUCCESS,           UP_TO_CHIP + "The E2PROM version is 0x5A. \r\n", false },
    LOADED_CASE { "ShellBeforeBinary",    ArgumentSource::ShellInterface,  DISK_ENTRY_DATA,          EFI_SUCCESS,           UP_TO_CHIP + "The E2PROM version is 0x5A. \r\n", false }
    ),
  [](const ::testing::TestParamInfo<LOADED_CASE> &Info) { return std::string (Info.param.Name); }
  );

} // namespace
