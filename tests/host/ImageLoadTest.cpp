// Loading the image file: every way a load ends early, the lengths it
// accepts and refuses, which volume and which name it opens, for an update,
// a comparison and a backup. Each failure must leave the chip untouched and
// give back exactly what it obtained (the fixture's ledger check).
#include "tests/firmware/FirmwareTest.h"

#include <cstddef>
#include <ostream>

namespace {

// What the q35 bench prints before the load begins.
const std::string  RUN_START = BenchUpToChip ();

// The scan's own transactions: nothing may follow them when a load fails.
const std::vector<std::string>  SCAN_BUS = { "W 21 B1 08", "R 23 02 -> 11" };

const std::string  NAME_LINE = " Image name is: zk48.bin";

// The first line of the update, which only a good load reaches.
const std::string  UPDATE_START = "================================================ \r\n Current E2PROM MCU version: V10. \r\n";

// The information record the volume answers for "zk48.bin".
constexpr UINTN  RECORD_SIZE = offsetof (EFI_FILE_INFO, FileName) + sizeof (u"zk48.bin");

struct LoadFailure {
  const char    *Name;
  void          (*Arrange) (harness::SimFirmware &Sim);
  const char    *Tail;      // what follows the name line
  EFI_STATUS    Status;     // the run's exit status
};

const LoadFailure  LOAD_FAILURES[] = {
  { "LocateProtocolFails",
    [](harness::SimFirmware &Sim) { Sim.Fail (harness::Once (harness::Call::LocateProtocol, 1, EFI_NOT_FOUND)); },
    "locate protocol: fail\r\n", EFI_NOT_FOUND },
  { "OpenVolumeFails",
    [](harness::SimFirmware &Sim) { Sim.Fail (harness::Once (harness::Call::OpenVolume, 1, EFI_VOLUME_CORRUPTED)); },
    "open volume: fail\r\n", EFI_VOLUME_CORRUPTED },
  { "OpenFails",
    [](harness::SimFirmware &Sim) { Sim.Fail (harness::Once (harness::Call::Open, 1, EFI_ACCESS_DENIED)); },
    "open: fail_Access Denied\r\n", EFI_ACCESS_DENIED },
  { "OpenFailsAndRootCloseFails",
    [](harness::SimFirmware &Sim) { Sim.Fail (harness::Once (harness::Call::Open, 1, EFI_ACCESS_DENIED)); Sim.Fail (harness::Once (harness::Call::Close, 1, EFI_DEVICE_ERROR)); },
    "open: fail_Access Denied\r\nclose: fail\r\n", EFI_ACCESS_DENIED },
  { "OpenGivesNoHandle",
    [](harness::SimFirmware &Sim) { Sim.OpenReturnsNoHandle = true; },
    "", EFI_NOT_FOUND },
  { "OpenGivesNoHandleAndRootCloseFails",
    [](harness::SimFirmware &Sim) { Sim.OpenReturnsNoHandle = true; Sim.Fail (harness::Once (harness::Call::Close, 1, EFI_DEVICE_ERROR)); },
    "close: fail\r\n", EFI_NOT_FOUND },
  { "FirstGetInfoFails",
    [](harness::SimFirmware &Sim) { Sim.Fail (harness::Once (harness::Call::GetInfo, 1, EFI_DEVICE_ERROR)); },
    "Get file info fail\r\n", EFI_LOAD_ERROR },
  { "FirstGetInfoSucceedsWithoutRecord",
    [](harness::SimFirmware &Sim) { Sim.GetInfoSucceedsEmpty = true; },
    "Get file info fail\r\n", EFI_LOAD_ERROR },
  { "FirstGetInfoAsksForTooSmallRecord",
    [](harness::SimFirmware &Sim) { Sim.GetInfoClaimsSize = 8; },
    "Get file info fail\r\n", EFI_LOAD_ERROR },
  { "RecordAllocationFails",
    [](harness::SimFirmware &Sim) { Sim.Fail (harness::AtSite (harness::Call::AllocatePool, RECORD_SIZE, EFI_OUT_OF_RESOURCES)); },
    "Get file info fail\r\n", EFI_OUT_OF_RESOURCES },
  { "SecondGetInfoFails",
    [](harness::SimFirmware &Sim) { Sim.Fail (harness::Once (harness::Call::GetInfo, 2, EFI_VOLUME_CORRUPTED)); },
    "Get file info fail\r\n", EFI_VOLUME_CORRUPTED },
  { "SecondGetInfoFailsAndBothClosesFail",
    [](harness::SimFirmware &Sim) { Sim.Fail (harness::Once (harness::Call::GetInfo, 2, EFI_DEVICE_ERROR)); Sim.Fail (harness::FromThenOn (harness::Call::Close, 1, EFI_DEVICE_ERROR)); },
    "Get file info fail\r\nclose: fail\r\nclose: fail\r\n", EFI_LOAD_ERROR },
  { "ImageAllocationFails",
    [](harness::SimFirmware &Sim) { Sim.Fail (harness::AtSite (harness::Call::AllocatePool, 0x2000, EFI_OUT_OF_RESOURCES)); },
    " FileSize:8KB\r\nAllocate buffer size fail\r\n", EFI_OUT_OF_RESOURCES },
  { "ReadFails",
    [](harness::SimFirmware &Sim) { Sim.Fail (harness::Once (harness::Call::Read, 1, EFI_DEVICE_ERROR)); },
    " FileSize:8KB\r\nRead file fail\r\n", EFI_LOAD_ERROR },
  { "ReadFailsAndFileCloseFails",
    [](harness::SimFirmware &Sim) { Sim.Fail (harness::Once (harness::Call::Read, 1, EFI_DEVICE_ERROR)); Sim.Fail (harness::Once (harness::Call::Close, 1, EFI_DEVICE_ERROR)); },
    " FileSize:8KB\r\nRead file fail\r\nclose: fail\r\n", EFI_LOAD_ERROR },
  // A failing stick: its timeout must not read as the chip's.
  { "ReadTimesOut",
    [](harness::SimFirmware &Sim) { Sim.Fail (harness::Once (harness::Call::Read, 1, EFI_TIMEOUT)); },
    " FileSize:8KB\r\nRead file fail\r\n", EFI_LOAD_ERROR },
  { "ReadDeliversShortCount",
    [](harness::SimFirmware &Sim) { Sim.Fail (harness::Short (harness::Call::Read, 4096)); },
    " FileSize:8KB\r\n File size 4096 is not right, must be 8k Byte,exit.\r\n", EFI_BAD_BUFFER_SIZE },
  { "ReadDeliversShortCountAndBothClosesFail",
    [](harness::SimFirmware &Sim) { Sim.Fail (harness::Short (harness::Call::Read, 8191)); Sim.Fail (harness::FromThenOn (harness::Call::Close, 1, EFI_DEVICE_ERROR)); },
    " FileSize:8KB\r\n File size 8191 is not right, must be 8k Byte,exit.\r\nclose: fail\r\nclose: fail\r\n", EFI_BAD_BUFFER_SIZE },
};

void
PrintTo (
  const LoadFailure  &Case,
  std::ostream       *Stream
  )
{
  *Stream << Case.Name;
}

class ImageLoadFailureTest : public FirmwareTest, public ::testing::WithParamInterface<LoadFailure> {
};

TEST_P (ImageLoadFailureTest, PrintsItsReasonWritesNothingAndGivesBackAll) {
  const LoadFailure  &Case = GetParam ();

  Sim.AddFile (Volume, u"zk48.bin", MakeImage (0x5A));
  Case.Arrange (Sim);
  EXPECT_EQ (Run ({ u"zk48.bin" }), Case.Status);
  EXPECT_EQ (Output (), RUN_START + NAME_LINE + Case.Tail);
  EXPECT_EQ (BusLog (), SCAN_BUS);
  EXPECT_EQ (Sim.Chip.Counts.BlockWrites, 0u);
}

INSTANTIATE_TEST_SUITE_P (
  ,
  ImageLoadFailureTest,
  ::testing::ValuesIn (LOAD_FAILURES),
  [](const ::testing::TestParamInfo<LoadFailure> &Info) { return std::string (Info.param.Name); }
  );

//
// Lengths: the size line shows whole KiB; the file is read whole and only
// then judged by the count Read delivered.
//
struct WrongLength {
  const char    *Name;
  size_t        Bytes;
  void          (*Arrange) (harness::SimFirmware &Sim);
  const char    *Tail;
  EFI_STATUS    Status;
};

void
NoChange (
  harness::SimFirmware  &
  )
{
}

const WrongLength  WRONG_LENGTHS[] = {
  { "OneByteShort", 8191, NoChange,
    " FileSize:7KB\r\n File size 8191 is not right, must be 8k Byte,exit.\r\n", EFI_BAD_BUFFER_SIZE },
  { "OneByteLong", 8193, NoChange,
    " FileSize:8KB\r\n File size 8193 is not right, must be 8k Byte,exit.\r\n", EFI_BAD_BUFFER_SIZE },
  { "JustUnderNineKiB", 9215, NoChange,
    " FileSize:8KB\r\n File size 9215 is not right, must be 8k Byte,exit.\r\n", EFI_BAD_BUFFER_SIZE },
  { "NineKiB", 9216, NoChange,
    " FileSize:9KB\r\n File size 9216 is not right, must be 8k Byte,exit.\r\n", EFI_BAD_BUFFER_SIZE },
  { "SixtyFourKiB", 0x10000, NoChange,
    " FileSize:64KB\r\n File size 65536 is not right, must be 8k Byte,exit.\r\n", EFI_BAD_BUFFER_SIZE },
  { "Empty", 0, NoChange,
    " FileSize:0KB\r\n File size 0 is not right, must be 8k Byte,exit.\r\n", EFI_BAD_BUFFER_SIZE },
  { "EmptyGrantedAsNull", 0, [](harness::SimFirmware &Sim) { Sim.AllocateZeroGivesNull = true; },
    " FileSize:0KB\r\n File size 0 is not right, must be 8k Byte,exit.\r\n", EFI_BAD_BUFFER_SIZE },
  { "EmptyAllocationRefused", 0, [](harness::SimFirmware &Sim) { Sim.Fail (harness::AtSite (harness::Call::AllocatePool, 0, EFI_OUT_OF_RESOURCES)); },
    " FileSize:0KB\r\nAllocate buffer size fail\r\n", EFI_OUT_OF_RESOURCES },
};

void
PrintTo (
  const WrongLength  &Case,
  std::ostream       *Stream
  )
{
  *Stream << Case.Name;
}

class ImageLengthTest : public FirmwareTest, public ::testing::WithParamInterface<WrongLength> {
};

TEST_P (ImageLengthTest, IsReadWholeThenRefused) {
  const WrongLength  &Case = GetParam ();

  Sim.AddFile (Volume, u"zk48.bin", MakeImage (0x5A, Case.Bytes));
  Case.Arrange (Sim);
  EXPECT_EQ (Run ({ u"zk48.bin" }), Case.Status);
  EXPECT_EQ (Output (), RUN_START + NAME_LINE + Case.Tail);
  EXPECT_EQ (BusLog (), SCAN_BUS);
  EXPECT_EQ (Sim.Chip.Counts.BlockWrites, 0u);
  if (Case.Status == EFI_BAD_BUFFER_SIZE) {
    ASSERT_EQ (Sim.Files.size (), 2u);
    EXPECT_EQ (Sim.CallCount (harness::Call::Read), 1u);
    EXPECT_EQ (Sim.Files[1]->Position, Case.Bytes);
  }
}

INSTANTIATE_TEST_SUITE_P (
  ,
  ImageLengthTest,
  ::testing::ValuesIn (WRONG_LENGTHS),
  [](const ::testing::TestParamInfo<WrongLength> &Info) { return std::string (Info.param.Name); }
  );

using ImageLoadTest = FirmwareTest;

TEST_F (ImageLoadTest, ExactlyEightKiBLoadsAndTheUpdateFollowsTheSizeLine) {
  std::vector<uint8_t>  Image = MakeImage (0x5A);

  Sim.AddFile (Volume, u"zk48.bin", Image);
  EXPECT_EQ (Run ({ u"zk48.bin" }), EFI_SUCCESS);
  EXPECT_EQ (Output ().substr (0, RUN_START.size () + NAME_LINE.size () + 15 + UPDATE_START.size ()),
             RUN_START + NAME_LINE + " FileSize:8KB\r\n" + UPDATE_START);
  EXPECT_EQ (Sim.CallCount (harness::Call::Read), 1u);
  EXPECT_EQ (std::vector<uint8_t> (Sim.Chip.Eeprom, Sim.Chip.Eeprom + sizeof (Sim.Chip.Eeprom)), Image);
}

TEST_F (ImageLoadTest, NameNotOnTheVolumeIsReportedNotFound) {
  Sim.AddFile (Volume, u"zk48.bin", MakeImage (0x5A));
  EXPECT_EQ (Run ({ u"zk49.bin" }), EFI_NOT_FOUND);
  EXPECT_EQ (Output (), RUN_START + " Image name is: zk49.bin" + "open: fail_Not Found\r\n");
  EXPECT_EQ (BusLog (), SCAN_BUS);
}

TEST_F (ImageLoadTest, OnlyTheFirstVolumeIsSearched) {
  int  Second = Sim.AddVolume ();

  Sim.AddFile (Second, u"zk48.bin", MakeImage (0x5A));
  EXPECT_EQ (Run ({ u"zk48.bin" }), EFI_NOT_FOUND);
  EXPECT_EQ (Output (), RUN_START + NAME_LINE + "open: fail_Not Found\r\n");
  EXPECT_EQ (BusLog (), SCAN_BUS);
  for (const auto &File : Sim.Files) {
    EXPECT_EQ (File->Volume, Sim.Volumes[0].get ());
  }
}

TEST_F (ImageLoadTest, TheFirstVolumesFileIsWrittenWhenOthersHoldOneToo) {
  int                   Second = Sim.AddVolume ();
  std::vector<uint8_t>  First  = MakeImage (0x5A);
  std::vector<uint8_t>  Other  = MakeImage (0x5B);

  Other[0] = (uint8_t)~Other[0];
  Sim.AddFile (Second, u"zk48.bin", Other);
  Sim.AddFile (Volume, u"zk48.bin", First);
  EXPECT_EQ (Run ({ u"zk48.bin" }), EFI_SUCCESS);
  EXPECT_EQ (std::vector<uint8_t> (Sim.Chip.Eeprom, Sim.Chip.Eeprom + sizeof (Sim.Chip.Eeprom)), First);
  for (const auto &File : Sim.Files) {
    EXPECT_EQ (File->Volume, Sim.Volumes[0].get ());
  }
}

TEST_F (ImageLoadTest, LongNameIsCutOnTheConsoleButOpenedWhole) {
  std::u16string        Name;
  std::vector<uint8_t>  Image = MakeImage (0x5A);

  for (size_t Index = 0; Index < 400; Index++) {
    Name += (char16_t)(u'a' + Index % 26);
  }

  //
  // A file named by the part that fits on the console must not be the one
  // written.
  //
  Sim.AddFile (Volume, Name.substr (0, 304), MakeImage (0x11));
  Sim.AddFile (Volume, Name, Image);
  EXPECT_EQ (Run ({ Name }), EFI_SUCCESS);
  EXPECT_EQ (Output ().substr (0, RUN_START.size () + 320 + 15),
             RUN_START + " Image name is: " + harness::Utf8 (Name.substr (0, 304)) + " FileSize:8KB\r\n");
  EXPECT_EQ (std::vector<uint8_t> (Sim.Chip.Eeprom, Sim.Chip.Eeprom + sizeof (Sim.Chip.Eeprom)), Image);
}

//
// How a name is looked up, for each command that takes one. The bench has a
// second volume, the shell's FS1: (and F0b65535a:), holding another image
// under the same name, one in a directory, and one that only it holds; the
// chip starts from a pattern that none of them holds.
//
enum NAMED_IMAGE { FirstImage, SecondImage, DirectoryImage, NoImage };

struct NAMING_CASE {
  const char                     *Name;
  std::vector<std::u16string>    Args;
  void                           (*Arrange) (harness::SimFirmware &Sim);
  std::string                    Tail;       // after the scan's lines: all of it for a failure, its start for a success
  EFI_STATUS                     Status;
  NAMED_IMAGE                    Holds;      // an update: what the chip holds after; a comparison: what the chip held
  int                            BackupOn;   // -d: the volume the backup lands on; -1: none anywhere
};

void
PrintTo (
  const NAMING_CASE  &Case,
  std::ostream       *Stream
  )
{
  *Stream << Case.Name;
}

void
ShellOnSecond (
  harness::SimFirmware  &Sim
  )
{
  Sim.Shell->CurrentDir = u"FS1:\\";
}

void
ShellInSecondsDirectory (
  harness::SimFirmware  &Sim
  )
{
  Sim.Shell->CurrentDir = u"FS1:\\images";
}

const std::string  NO_FS9 = " Image name is: fs9:\\zk48.binopen: fail_Not Found\r\n No volume is mapped as fs9: (the shell's map command lists them).\r\n";

const NAMING_CASE  NAMING_CASES[] = {
  // Plain names: the first volume, from its root, whatever the shell's current directory.
  { "Plain", { u"zk48.bin" }, NoChange, " Image name is: zk48.bin FileSize:8KB\r\n", EFI_SUCCESS, FirstImage, -1 },
  { "PlainWithTheShellOnTheSecond", { u"zk48.bin" }, ShellOnSecond, " Image name is: zk48.bin FileSize:8KB\r\n", EFI_SUCCESS, FirstImage, -1 },
  // A mapping names its volume, in any case, with or without the backslash.
  { "MappedFromTheRoot", { u"fs1:\\zk48.bin" }, NoChange, " Image name is: fs1:\\zk48.bin FileSize:8KB\r\n", EFI_SUCCESS, SecondImage, -1 },
  { "MappedUpperCaseNoBackslash", { u"FS1:zk48.bin" }, NoChange, " Image name is: FS1:zk48.bin FileSize:8KB\r\n", EFI_SUCCESS, SecondImage, -1 },
  { "ConsistentNameInADirectory", { u"F0b65535a:\\images\\zk48.bin" }, NoChange, " Image name is: F0b65535a:\\images\\zk48.bin FileSize:8KB\r\n", EFI_SUCCESS, DirectoryImage, -1 },
  { "FirstVolumeByItsMapping", { u"fs0:\\zk48.bin" }, ShellOnSecond, " Image name is: fs0:\\zk48.bin FileSize:8KB\r\n", EFI_SUCCESS, FirstImage, -1 },
  // A mapping that names no volume: said so, nothing opened, the chip as the scan left it.
  { "UnknownMapping", { u"fs9:\\zk48.bin" }, NoChange, NO_FS9, EFI_NOT_FOUND, NoImage, -1 },
  { "NoShellToAsk", { u"fs1:\\zk48.bin" }, [](harness::SimFirmware &Sim) { Sim.RemoveShell (); },
    " Image name is: fs1:\\zk48.binopen: fail_Not Found\r\n No volume is mapped as fs1: (the shell's map command lists them).\r\n", EFI_NOT_FOUND, NoImage, -1 },
  { "MappingOfABlockDeviceWithoutFileSystem", { u"blk9:zk48.bin" }, [](harness::SimFirmware &Sim) { Sim.Shell->Mappings.push_back ({ u"BLK9:", -1 }); },
    " Image name is: blk9:zk48.binopen: fail_Not Found\r\n No volume is mapped as blk9: (the shell's map command lists them).\r\n", EFI_NOT_FOUND, NoImage, -1 },
  { "ShellAnswersNoMapping", { u"fs1:\\zk48.bin" }, [](harness::SimFirmware &Sim) { Sim.Fail (harness::Once (harness::Call::GetDevicePathFromMap, 1)); },
    " Image name is: fs1:\\zk48.binopen: fail_Not Found\r\n No volume is mapped as fs1: (the shell's map command lists them).\r\n", EFI_NOT_FOUND, NoImage, -1 },
  { "MappedButNotThere", { u"fs1:\\only0.bin" }, NoChange, " Image name is: fs1:\\only0.binopen: fail_Not Found\r\n", EFI_NOT_FOUND, NoImage, -1 },
  // A plain name not on the first volume: the hint only when the shell is on another.
  { "PlainMissingShellOnTheFirst", { u"only1.bin" }, NoChange, " Image name is: only1.binopen: fail_Not Found\r\n", EFI_NOT_FOUND, NoImage, -1 },
  { "PlainMissingShellOnTheSecond", { u"only1.bin" }, ShellOnSecond,
    " Image name is: only1.binopen: fail_Not Found\r\n Looked on FS0: (the first volume); from here, name it FS1:\\only1.bin\r\n", EFI_NOT_FOUND, NoImage, -1 },
  { "PlainMissingShellInADirectory", { u"zk49.bin" }, ShellInSecondsDirectory,
    " Image name is: zk49.binopen: fail_Not Found\r\n Looked on FS0: (the first volume); from here, name it FS1:\\images\\zk49.bin\r\n", EFI_NOT_FOUND, NoImage, -1 },
  { "PathFromTheRootShellInADirectory", { u"\\images\\zk48.bin" }, ShellInSecondsDirectory,
    " Image name is: \\images\\zk48.binopen: fail_Not Found\r\n Looked on FS0: (the first volume); from here, name it FS1:\\images\\zk48.bin\r\n", EFI_NOT_FOUND, NoImage, -1 },
  { "PlainMissingNoShell", { u"only1.bin" }, [](harness::SimFirmware &Sim) { Sim.RemoveShell (); },
    " Image name is: only1.binopen: fail_Not Found\r\n", EFI_NOT_FOUND, NoImage, -1 },
  { "PlainMissingNoCurrentDirectory", { u"only1.bin" }, [](harness::SimFirmware &Sim) { Sim.Shell->CurrentDir.clear (); },
    " Image name is: only1.binopen: fail_Not Found\r\n", EFI_NOT_FOUND, NoImage, -1 },
  { "PlainMissingFirstVolumeUnmapped", { u"only1.bin" }, [](harness::SimFirmware &Sim) { ShellOnSecond (Sim); std::erase_if (Sim.Shell->Mappings, [](const auto &Entry) { return Entry.second == 0; }); },
    " Image name is: only1.binopen: fail_Not Found\r\n", EFI_NOT_FOUND, NoImage, -1 },
  // The comparison loads as the update does.
  { "CompareMapped", { u"-c", u"fs1:\\zk48.bin" }, NoChange, " Image name is: fs1:\\zk48.bin FileSize:8KB\r\n", EFI_SUCCESS, SecondImage, -1 },
  { "CompareUnknownMapping", { u"-c", u"fs9:\\zk48.bin" }, NoChange, NO_FS9, EFI_NOT_FOUND, NoImage, -1 },
  // The backup: on the named volume; refused before a read when the mapping names none.
  // Its messages name the volume of a plain name as the shell maps it, or, with no name for it, as given.
  { "BackupPlain", { u"-d", u"backup.bin" }, ShellOnSecond, " Backup file is: FS0:\\backup.bin\r\n", EFI_SUCCESS, NoImage, 0 },
  { "BackupPlainFromTheRoot", { u"-d", u"\\backup.bin" }, ShellOnSecond, " Backup file is: FS0:\\backup.bin\r\n", EFI_SUCCESS, NoImage, 0 },
  { "BackupPlainNoShell", { u"-d", u"backup.bin" }, [](harness::SimFirmware &Sim) { Sim.RemoveShell (); },
    " Backup file is: backup.bin\r\n", EFI_SUCCESS, NoImage, 0 },
  { "BackupPlainFirstVolumeUnmapped", { u"-d", u"backup.bin" }, [](harness::SimFirmware &Sim) { std::erase_if (Sim.Shell->Mappings, [](const auto &Entry) { return Entry.second == 0; }); },
    " Backup file is: backup.bin\r\n", EFI_SUCCESS, NoImage, 0 },
  { "BackupMapped", { u"-d", u"fs1:\\backup.bin" }, NoChange, " Backup file is: fs1:\\backup.bin\r\n", EFI_SUCCESS, NoImage, 1 },
  { "BackupMappedNameTakenThere", { u"-d", u"FS1:only1.bin" }, NoChange,
    " Backup file is: FS1:only1.bin\r\n Error: FS1:only1.bin already exists, it is not overwritten, exit.\r\n", EFI_ACCESS_DENIED, NoImage, -1 },
  { "BackupUnknownMapping", { u"-d", u"fs9:\\backup.bin" }, NoChange,
    " Backup file is: fs9:\\backup.bin\r\n Error: cannot create fs9:\\backup.bin: Not Found, exit.\r\n No volume is mapped as fs9: (the shell's map command lists them).\r\n", EFI_NOT_FOUND, NoImage, -1 },
};

class FileNamingTest : public FirmwareTest, public ::testing::WithParamInterface<NAMING_CASE> {
protected:
  int                   Second = -1;
  std::vector<uint8_t>  Images[3] = { MakeImage (0x5A), MakeImage (0x5B), MakeImage (0x5C) };

  void
  SetUp (
    ) override
  {
    FirmwareTest::SetUp ();
    Second = Sim.AddVolume ();
    Images[SecondImage][0]    ^= 0xFF;
    Images[DirectoryImage][1] ^= 0xFF;
    Sim.AddFile (Volume, u"zk48.bin", Images[FirstImage]);
    Sim.AddFile (Volume, u"only0.bin", Images[FirstImage]);
    Sim.AddFile (Second, u"zk48.bin", Images[SecondImage]);
    Sim.AddFile (Second, u"images\\zk48.bin", Images[DirectoryImage]);
    Sim.AddFile (Second, u"only1.bin", Images[SecondImage]);
    Sim.AddDirectory (Second, u"images");
    std::vector<uint8_t>  Start = harness::Pattern ();
    std::copy (Start.begin (), Start.end (), Sim.Chip.Eeprom);
  }
};

TEST_P (FileNamingTest, OpensOnTheNamedVolumeOrSaysWhereItLooked) {
  const NAMING_CASE     &Case    = GetParam ();
  const bool            Compare = (Case.Args[0] == u"-c");
  std::vector<uint8_t>  Before;

  Case.Arrange (Sim);
  if (Compare && (Case.Holds != NoImage)) {
    std::copy (Images[Case.Holds].begin (), Images[Case.Holds].end (), Sim.Chip.Eeprom);
  }

  Before = harness::Eeprom (Sim.Chip);
  EXPECT_EQ (Run (Case.Args), Case.Status);
  if (EFI_ERROR (Case.Status)) {
    EXPECT_EQ (Output (), RUN_START + Case.Tail);
    EXPECT_EQ (BusLog (), SCAN_BUS) << "nothing but the scan touches the chip";
  } else {
    EXPECT_EQ (Output ().substr (0, RUN_START.size () + Case.Tail.size ()), RUN_START + Case.Tail);
  }

  if (!Compare && (Case.Args[0] != u"-d")) {
    EXPECT_EQ (harness::Eeprom (Sim.Chip), Case.Holds == NoImage ? Before : Images[Case.Holds]);
  }

  for (int Index : { Volume, Second }) {
    EXPECT_EQ (Sim.HasFile (Index, u"backup.bin"), Index == Case.BackupOn) << "volume " << Index;
  }

  if (Case.BackupOn >= 0) {
    EXPECT_EQ (Sim.FileData (Case.BackupOn, u"backup.bin"), harness::Eeprom (Sim.Chip));
  }

  //
  // An unknown mapping opens no volume at all: nothing is written anywhere.
  //
  if (Output ().find ("No volume is mapped") != std::string::npos) {
    EXPECT_EQ (Sim.CallCount (harness::Call::OpenVolume), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P (
  ,
  FileNamingTest,
  ::testing::ValuesIn (NAMING_CASES),
  [](const ::testing::TestParamInfo<NAMING_CASE> &Info) { return std::string (Info.param.Name); }
  );

} // namespace
