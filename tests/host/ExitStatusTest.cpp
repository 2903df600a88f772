// The exit status of every way a run ends, held against the manual page's
// RETURN VALUES, the one place a script writer reads them: each status a
// run gives is listed there (or, passed on from a failing firmware call,
// falls under its "Any other" line), and each status listed there is what
// some run gives.
#include "tests/firmware/FirmwareTest.h"

#include <fstream>
#include <map>
#include <ostream>
#include <set>

namespace {

using harness::Call;
using harness::Pattern;

// How a script reads a status: %lasterror% drops the error bit.
uint64_t
LastError (
  EFI_STATUS  Status
  )
{
  return Status & ~MAX_BIT;
}

struct RETURN_VALUES {
  std::set<uint64_t>    Listed;     // each entry's "0xN" at the start of its line
  bool                  AnyOther = false;
};

// The RETURN VALUES section of the page the build turns into Zk48Update.man.
RETURN_VALUES
ReadReturnValues (
  )
{
  std::ifstream  Page (ZK48_MANUAL_PAGE);
  std::string    Line;
  std::string    Section;
  RETURN_VALUES  Values;

  EXPECT_TRUE (Page.is_open ()) << ZK48_MANUAL_PAGE;
  while (std::getline (Page, Line)) {
    if (Line.starts_with (".SH ")) {
      Section = Line.substr (4);
    } else if ((Section == "RETURN VALUES") && Line.starts_with ("  0x")) {
      Values.Listed.insert (std::stoull (Line.substr (2), nullptr, 16));
    } else if ((Section == "RETURN VALUES") && Line.starts_with ("  Any other")) {
      Values.AnyOther = true;
    }
  }

  return Values;
}

const RETURN_VALUES &
ManualPage (
  )
{
  static const RETURN_VALUES  Values = ReadReturnValues ();

  return Values;
}

class ExitStatusTest;

struct RUN_ENDING {
  const char                     *Name;
  std::vector<std::u16string>    Args;       // after the tool's own name
  void                           (*Arrange) (ExitStatusTest &Test);
  EFI_STATUS                     Status;
  const char                     *Says;      // what the run's screen shows of its ending
  bool                           Passed = false;   // the status of a failing firmware call, passed on
  harness::ArgumentSource        Source = harness::ArgumentSource::ShellParameters;
};

void
PrintTo (
  const RUN_ENDING  &Ending,
  std::ostream      *Stream
  )
{
  *Stream << Ending.Name;
}

class ExitStatusTest : public FirmwareTest, public ::testing::WithParamInterface<RUN_ENDING> {
public:
  // The rows below arrange the bench through these.
  harness::SimFirmware &Bench () { return Sim; }
  void AddFile (const char16_t *Name, const std::vector<uint8_t> &Data) { Sim.AddFile (Volume, Name, Data); }
  void AddDirectory (const char16_t *Name) { Sim.AddDirectory (Volume, Name); }
  harness::SimVolume &Disk () { return *Sim.Volumes[(size_t)Volume]; }
  void NoSmbusHc () { RemoveSmbusHc (); }
};

void Nothing (ExitStatusTest &) {}
void ImageFile (ExitStatusTest &Test) { Test.AddFile (u"image.bin", MakeImage (0x5A)); }
void ChipImageFile (ExitStatusTest &Test) { Zk48FillPattern (&Test.Bench ().Chip); Test.AddFile (u"image.bin", Pattern ()); }
void NoChip (ExitStatusTest &Test) { Test.Bench ().Chip.Faults.DeviceIdFromRead = ZK48_NEVER; }
void ReadsNeverReady (ExitStatusTest &Test) { Test.Bench ().Chip.Faults.ReadyAfterPolls = ZK48_NEVER; }
// From the first transaction after the scan's two, every one refused.
void BusRefusesPastScan (ExitStatusTest &Test) { Test.Bench ().Fail (harness::FromThenOn (Call::Execute, harness::SCAN_TRANSACTIONS + 1, EFI_DEVICE_ERROR)); }

const RUN_ENDING  RUN_ENDINGS[] = {
  // The command did its work.
  { "Help",                   { u"-h" },                 Nothing,            EFI_SUCCESS,           "show these lines; the chip is not touched." },
  { "Version",                { u"-v" },                 Nothing,            EFI_SUCCESS,           "The E2PROM version is 0xFF." },
  { "Update",                 { u"image.bin" },          ImageFile,          EFI_SUCCESS,           " E2PROM update finished." },
  { "Backup",                 { u"-d", u"backup.bin" },  Nothing,            EFI_SUCCESS,           " Backup saved to FS0:\\backup.bin" },
  { "CompareIdentical",       { u"-c", u"image.bin" },   ChipImageFile,      EFI_SUCCESS,           " The E2PROM is identical to the image." },
  // The command line, and where it comes from.
  { "NoArgument",             {},                        Nothing,            EFI_INVALID_PARAMETER, " Error: No bin file name parameter" },
  { "BackupWithoutAName",     { u"-d" },                 Nothing,            EFI_INVALID_PARAMETER, " Error: -d needs a file name, program exit." },
  { "CompareWithAnOption",    { u"-c", u"-v" },          Nothing,            EFI_INVALID_PARAMETER, " Error: -c needs a file name, -v is an option" },
  { "NotStartedFromAShell",   { u"-v" },                 Nothing,            EFI_UNSUPPORTED,       " Error: No bin file name parameter", false, harness::ArgumentSource::None },
  // The firmware's SMBus driver and the scan.
  { "NoSmbusHostController",  { u"-v" },                 [](ExitStatusTest &Test) { Test.NoSmbusHc (); },
    EFI_NOT_FOUND, " Error: SMBus host controller protocol not found" },
  { "NoChip",                 { u"-v" },                 NoChip,             EFI_NOT_FOUND,         " Device ID check at 00:1F.3" },
  { "NoChipBehindAmd",        { u"-v" },
    [](ExitStatusTest &Test) {
      Test.Bench ().PciFunctions.clear ();
      Test.Bench ().AddPciFunction (0, 0x14, 0, AMD_VENDOR, 0x780B, SERIAL_BUS_CLASS, SMBUS_SUBCLASS, 0x00, 0x14);
      NoChip (Test);
    },
    EFI_NOT_FOUND, " Device ID check at 00:14.0 (SMBus 0xB20)" },
  { "UnsupportedVendor",      { u"-v" },
    [](ExitStatusTest &Test) { Test.Bench ().AddPciFunction (0, 0x10, 0, 0x1106, 0x3050, SERIAL_BUS_CLASS, SMBUS_SUBCLASS, 0x00, 0x01, 0x0000C001); },
    EFI_UNSUPPORTED, " Found unknown SMBUS device, can't support now." },
  // The image file.
  { "NoSuchImage",            { u"image.bin" },          Nothing,            EFI_NOT_FOUND,         "open: fail_Not Found" },
  { "CompareWithNoSuchFile",  { u"-c", u"image.bin" },   Nothing,            EFI_NOT_FOUND,         "open: fail_Not Found" },
  { "MappingNamesNoVolume",   { u"fs9:\\image.bin" },   ImageFile,          EFI_NOT_FOUND,         " No volume is mapped as fs9:" },
  { "ImageNot8192Bytes",      { u"image.bin" },
    [](ExitStatusTest &Test) { Test.AddFile (u"image.bin", MakeImage (0x5A, 8191)); },
    EFI_BAD_BUFFER_SIZE, " File size 8191 is not right" },
  // A failing stick: never the chip's 0x7 or 0x12, which tell a script the panel may have been written.
  { "ImageReadDeviceError",   { u"image.bin" },
    [](ExitStatusTest &Test) { ImageFile (Test); Test.Bench ().Fail (harness::Once (Call::Read, 1, EFI_DEVICE_ERROR)); },
    EFI_LOAD_ERROR, "Read file fail" },
  // The chip.
  { "VersionReadTimesOut",    { u"-v" },                 ReadsNeverReady,    EFI_TIMEOUT,           " Error: E2PROM read timed out, exit." },
  { "BackupReadTimesOut",     { u"-d", u"backup.bin" },  ReadsNeverReady,    EFI_TIMEOUT,           " Error: E2PROM read timed out at address 0x0000" },
  { "VersionReadRefused",     { u"-v" },                 BusRefusesPastScan, EFI_DEVICE_ERROR,      " Error: E2PROM read failed, exit." },
  { "CompareReadRefused",     { u"-c", u"image.bin" },
    [](ExitStatusTest &Test) { ChipImageFile (Test); BusRefusesPastScan (Test); },
    EFI_DEVICE_ERROR, " Error: E2PROM read failed at address 0x0000, exit." },
  { "CompareReadsNeverAgree", { u"-c", u"image.bin" },
    [](ExitStatusTest &Test) { ChipImageFile (Test); Test.Bench ().UnsteadyAddress = 0x0000; },
    EFI_DEVICE_ERROR, "no two of 5 reads agreed" },
  { "UpdateBlocksRefused",    { u"image.bin" },
    [](ExitStatusTest &Test) {
      // The version byte already right, so that only the refused blocks fail the run.
      ImageFile (Test);
      Test.Bench ().Chip.Eeprom[harness::VERSION_ADDRESS] = 0x5A;
      Test.Bench ().Fail (harness::AtSite (Call::Execute, harness::ExecuteSite (harness::EEPROM_BUS_ADDRESS, 0x00, EfiSmbusWriteBlock), EFI_DEVICE_ERROR));
    },
    EFI_DEVICE_ERROR, " Error: 1024 of 1024 block writes failed" },
  { "UpdateReadBackTimesOut", { u"image.bin" },
    [](ExitStatusTest &Test) { ImageFile (Test); ReadsNeverReady (Test); },
    EFI_TIMEOUT, " Error: E2PROM read timed out, exit." },
  { "UpdateVersionDiffers",   { u"image.bin" },
    [](ExitStatusTest &Test) { ImageFile (Test); Test.Bench ().Chip.Faults.IgnoreBlockWrites = TRUE; },
    EFI_DEVICE_ERROR, " Version information validation error" },
  { "CompareDiffers",         { u"-c", u"image.bin" },
    [](ExitStatusTest &Test) {
      // The chip lost one block, 0x0800 to 0x0807, each byte of it unlike the image's.
      std::vector<uint8_t>  Image = Pattern ();

      Zk48FillPattern (&Test.Bench ().Chip);
      for (size_t Address = 0x0800; Address < 0x0808; Address++) {
        Image[Address] ^= 0xFF;
      }

      Test.AddFile (u"image.bin", Image);
    },
    EFI_CRC_ERROR, " Error: 8 of 8192 bytes differ from the image:" },
  // The backup file.
  { "BackupExists",           { u"-d", u"backup.bin" },
    [](ExitStatusTest &Test) { Test.AddFile (u"backup.bin", Pattern ()); },
    EFI_ACCESS_DENIED, " already exists, it is not overwritten" },
  { "BackupNameIsADirectory", { u"-d", u"backup.bin" },
    [](ExitStatusTest &Test) { Test.AddDirectory (u"backup.bin"); },
    EFI_ACCESS_DENIED, " already exists, it is not overwritten" },
  { "BackupWriteCutShort",    { u"-d", u"backup.bin" },
    [](ExitStatusTest &Test) { Test.Bench ().Fail (harness::Short (Call::Write, 100)); },
    EFI_VOLUME_FULL, " writing FS0:\\backup.bin stopped after 100 of 8192 bytes" },
  { "BackupDoesNotReadBack",  { u"-d", u"backup.bin" },
    [](ExitStatusTest &Test) { Test.Disk ().CorruptOffset = 0x0800; },
    EFI_VOLUME_CORRUPTED, " does not read back as it was written" },
  // A firmware call that failed, its status passed on.
  { "ImageReadFails",         { u"image.bin" },
    [](ExitStatusTest &Test) { ImageFile (Test); Test.Bench ().Fail (harness::Once (Call::Read, 1, EFI_NO_MEDIA)); },
    EFI_NO_MEDIA, "Read file fail", true },
  { "BackupWriteProtected",   { u"-d", u"backup.bin" },
    [](ExitStatusTest &Test) { Test.Disk ().ReadOnly = true; },
    EFI_WRITE_PROTECTED, " cannot create FS0:\\backup.bin: Write Protected", true },
  { "BackupVolumeFull",       { u"-d", u"backup.bin" },
    [](ExitStatusTest &Test) { Test.Disk ().FreeBytes = 4096; },
    EFI_VOLUME_FULL, " writing FS0:\\backup.bin failed: Volume Full", true },
  { "BackupFlushFails",       { u"-d", u"backup.bin" },
    [](ExitStatusTest &Test) { Test.Bench ().Fail (harness::Once (Call::Flush, 1, EFI_NO_MEDIA)); },
    EFI_NO_MEDIA, " flushing FS0:\\backup.bin failed: No Media", true },
  { "BackupReadBackFails",    { u"-d", u"backup.bin" },
    [](ExitStatusTest &Test) { Test.Bench ().Fail (harness::Once (Call::Read, 1, EFI_NO_MEDIA)); },
    EFI_NO_MEDIA, " reading FS0:\\backup.bin back failed: No Media", true },
};

//
// What a run leaves in the shell's variables for a script, by row; every
// other row leaves none. An update's reason comes only with 0x7 or 0x12, a
// compare's count only once the whole E2PROM was read.
//
const std::map<std::string, std::string>  VARIABLES_LEFT = {
  { "CompareIdentical",       "Zk48Differences=0" },
  { "CompareDiffers",         "Zk48Differences=8;Zk48FirstDifference=0x0800" },
  { "UpdateBlocksRefused",    "Zk48Reason=1024 of 1024 block writes failed" },
  { "UpdateReadBackTimesOut", "Zk48Reason=version byte not read back" },
  { "UpdateVersionDiffers",   "Zk48Reason=version read back 0xFF, not 0x5A" },
};

std::string
VariablesLeft (
  const harness::SimFirmware  &Bench
  )
{
  std::string  Left;

  for (const auto &[Name, Value] : Bench.Shell->Variables) {
    Left += (Left.empty () ? "" : ";") + harness::Utf8 (Name) + "=" + harness::Utf8 (Value);
  }

  return Left;
}

TEST_P (ExitStatusTest, RunEndsWithAStatusTheManualPageGives) {
  const RUN_ENDING             &Ending = GetParam ();
  std::vector<std::u16string>  Argv    = { u"Zk48Update.efi" };

  Argv.insert (Argv.end (), Ending.Args.begin (), Ending.Args.end ());
  Ending.Arrange (*this);
  Sim.SetArguments (Argv, Ending.Source);
  EXPECT_EQ (LastError (Sim.RunImage ()), LastError (Ending.Status));
  EXPECT_NE (Output ().find (Ending.Says), std::string::npos) << Output ();
  EXPECT_EQ (VariablesLeft (Sim), VARIABLES_LEFT.contains (Ending.Name) ? VARIABLES_LEFT.at (Ending.Name) : "");
  if (Ending.Passed) {
    EXPECT_TRUE (ManualPage ().AnyOther) << "the page says nothing of the firmware's own statuses";
  } else {
    EXPECT_TRUE (ManualPage ().Listed.contains (LastError (Ending.Status))) << "0x" << harness::Hex (LastError (Ending.Status)) << " is not in the page";
  }
}

INSTANTIATE_TEST_SUITE_P (
  ,
  ExitStatusTest,
  ::testing::ValuesIn (RUN_ENDINGS),
  [](const ::testing::TestParamInfo<RUN_ENDING> &Info) { return std::string (Info.param.Name); }
  );

// Every run above asserts its status; here, each status the page lists is one of theirs.
TEST (ExitStatusPage, ListsNoStatusThatNoRunGives) {
  std::set<uint64_t>  Given;

  for (const RUN_ENDING &Ending : RUN_ENDINGS) {
    if (!Ending.Passed) {
      Given.insert (LastError (Ending.Status));
    }
  }

  ASSERT_FALSE (ManualPage ().Listed.empty ()) << "no RETURN VALUES entries read from " << ZK48_MANUAL_PAGE;
  for (uint64_t Listed : ManualPage ().Listed) {
    EXPECT_TRUE (Given.contains (Listed)) << "the page lists 0x" << harness::Hex (Listed) << ", which no run gives";
  }
}

} // namespace
