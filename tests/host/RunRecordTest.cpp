// The record -l appends: one line for every run past the argument check,
// whatever its outcome, with the exit status the rule gives when the line
// cannot be written; and the refusals of -l itself.
#include "tests/firmware/FirmwareTest.h"

#include <cstring>
#include <functional>

namespace {

using harness::Call;
using harness::Hex;
using harness::SimFirmware;

const std::string  START   = "date=2026-12-08T13:55:02 tool=2.7.2 command=";
const std::string  AT_CHIP = " controller=00:1F.3 smbus=0xB100";

class RunRecordTest : public FirmwareTest {
protected:
  void SetUp () override
  {
    FirmwareTest::SetUp ();
    Sim.Chip.Eeprom[harness::VERSION_ADDRESS] = 0x5A;
    Sim.AddFile (Volume, u"image.bin", MakeImage (0x33));
  }

  std::string Log () { return Sim.HasFile (Volume, u"zk48.log") ? Text (Sim.FileData (Volume, u"zk48.log")) : "(none)"; }

  static std::string Text (const std::vector<uint8_t> &Bytes) { return std::string (Bytes.begin (), Bytes.end ()); }
};

std::string
Crc (
  const std::vector<uint8_t>  &Bytes
  )
{
  return "0x" + Hex (harness::Crc32 (Bytes.data (), Bytes.size ()), 8);
}

//
// What each kind of run records, the firmware's clock standing at 13:55:02
// when it starts and running on with its pauses.
//
struct RECORD_CASE {
  const char                                  *Name;
  std::vector<std::u16string>                 Args;
  std::function<void (SimFirmware &, int)>    Setup;
  EFI_STATUS                                  Exit;
  std::function<std::string ()>               Line;
};

class RecordOfARunTest : public RunRecordTest, public ::testing::WithParamInterface<RECORD_CASE> {};

TEST_P (RecordOfARunTest, AppendsOneLineThatSaysWhatHappened) {
  const RECORD_CASE  &Case = GetParam ();

  Sim.AddFile (Volume, u"zk48.log", { 'e', 'a', 'r', 'l', 'i', 'e', 'r', '\r', '\n' });
  Case.Setup (Sim, Volume);
  EXPECT_EQ (Run (Case.Args), Case.Exit);
  EXPECT_EQ (Log (), "earlier\r\n" + Case.Line () + "\r\n") << Output ();
  EXPECT_EQ (Output ().find ("no record written"), std::string::npos);
}

const std::vector<uint8_t>  IMAGE = MakeImage (0x33);

INSTANTIATE_TEST_SUITE_P (
  Runs,
  RecordOfARunTest,
  ::testing::Values (
    RECORD_CASE { "Update", { u"image.bin", u"-l", u"zk48.log" }, [](SimFirmware &, int) {}, EFI_SUCCESS, [] {
      return START + "update file=\"image.bin\"" + AT_CHIP + " before=0x10 after=0x33 image-crc=" + Crc (IMAGE)
             + " resent=0 status=0x0 status-name=\"Success\" elapsed=4s";
    } },
    RECORD_CASE { "Version", { u"-v", u"-l", u"zk48.log" }, [](SimFirmware &, int) {}, EFI_SUCCESS, [] {
      return START + "version" + AT_CHIP + " before=0x5A resent=0 status=0x0 status-name=\"Success\" elapsed=0s";
    } },
    RECORD_CASE { "VersionAfterARefusal", { u"-v", u"-l", u"zk48.log" }, [](SimFirmware &Firmware, int) {
      Firmware.Chip.Faults.FaultAt   = 4;
      Firmware.Chip.Faults.FaultKind = Zk48FaultNack;
    }, EFI_SUCCESS, [] {
      return START + "version" + AT_CHIP + " before=0x5A resent=1 status=0x0 status-name=\"Success\" elapsed=0s";
    } },
    RECORD_CASE { "Backup", { u"-d", u"b.bin", u"-l", u"zk48.log" }, [](SimFirmware &, int) {}, EFI_SUCCESS, [] {
      std::vector<uint8_t>  Eeprom (harness::EEPROM_BYTES, 0xFF);

      Eeprom[harness::VERSION_ADDRESS] = 0x5A;
      return START + "backup file=\"b.bin\"" + AT_CHIP + " eeprom-crc=" + Crc (Eeprom)
             + " resent=0 status=0x0 status-name=\"Success\" elapsed=0s";
    } },
    RECORD_CASE { "CompareDiffers", { u"-c", u"image.bin", u"-l", u"zk48.log" }, [](SimFirmware &, int) {}, EFI_CRC_ERROR, [] {
      std::vector<uint8_t>  Eeprom (harness::EEPROM_BYTES, 0xFF);

      Eeprom[harness::VERSION_ADDRESS] = 0x5A;
      return START + "compare file=\"image.bin\"" + AT_CHIP + " image-crc=" + Crc (IMAGE) + " eeprom-crc="
             + Crc (Eeprom) + " resent=0 status=0x800000000000001B status-name=\"CRC Error\" elapsed=0s";
    } },
    RECORD_CASE { "UpdateNotVerified", { u"image.bin", u"-l", u"zk48.log" }, [](SimFirmware &Firmware, int) {
      Firmware.Chip.Faults.IgnoreBlockWrites = TRUE;
    }, EFI_DEVICE_ERROR, [] {
      return START + "update file=\"image.bin\"" + AT_CHIP + " before=0x10 after=0x5A image-crc=" + Crc (IMAGE)
             + " resent=0 status=0x8000000000000007 status-name=\"Device Error\" elapsed=4s";
    } },
    RECORD_CASE { "UpdateReadBackTimesOut", { u"image.bin", u"-l", u"zk48.log" }, [](SimFirmware &Firmware, int) {
      Firmware.Chip.Faults.ReadyAfterPolls = ZK48_NEVER;
    }, EFI_TIMEOUT, [] {
      return START + "update file=\"image.bin\"" + AT_CHIP + " before=0x10 image-crc=" + Crc (IMAGE)
             + " resent=0 status=0x8000000000000012 status-name=\"Time out\" elapsed=4s";
    } },
    RECORD_CASE { "ImageMissing", { u"none.bin", u"-l", u"zk48.log" }, [](SimFirmware &, int) {}, EFI_NOT_FOUND, [] {
      return START + "update file=\"none.bin\"" + AT_CHIP + " resent=0 status=0x800000000000000E status-name=\"Not Found\" elapsed=0s";
    } },
    RECORD_CASE { "NoChip", { u"-v", u"-l", u"zk48.log" }, [](SimFirmware &Firmware, int) {
      Firmware.Chip.Faults.DeviceIdFromRead = ZK48_NEVER;
    }, EFI_NOT_FOUND, [] {
      return START + "version controller=none resent=0 status=0x800000000000000E status-name=\"Not Found\" elapsed=0s";
    } },
    RECORD_CASE { "NoSmbusDriver", { u"-v", u"-l", u"zk48.log" }, [](SimFirmware &Firmware, int) {
      std::erase_if (Firmware.Handles, [](const SimFirmware::HandleEntry &Entry) {
        return std::memcmp (&Entry.Protocol, &gEfiSmbusHcProtocolGuid, sizeof (EFI_GUID)) == 0;
      });
    }, EFI_NOT_FOUND, [] {
      return START + "version controller=none resent=0 status=0x800000000000000E status-name=\"Not Found\" elapsed=0s";
    } },
    // A name beyond ASCII is narrowed, a character for a character.
    RECORD_CASE { "NameBeyondAscii", { u"bild\u00E9.bin", u"-l", u"zk48.log" }, [](SimFirmware &, int) {}, EFI_NOT_FOUND, [] {
      return START + "update file=\"bild?.bin\"" + AT_CHIP + " resent=0 status=0x800000000000000E status-name=\"Not Found\" elapsed=0s";
    } },
    RECORD_CASE { "NoTime", { u"-v", u"-l", u"zk48.log" }, [](SimFirmware &Firmware, int) {
      Firmware.Fail (harness::FromThenOn (Call::GetTime, 1));
    }, EFI_SUCCESS, [] {
      return "date=0-00-00T00:00:00 tool=2.7.2 command=version" + AT_CHIP + " before=0x5A resent=0 status=0x0 status-name=\"Success\" elapsed=-1s";
    } },
    // A run over midnight is 4 s long, not minus a day.
    RECORD_CASE { "OverMidnight", { u"image.bin", u"-l", u"zk48.log" }, [](SimFirmware &Firmware, int) {
      Firmware.ClockBase = 1798761598;   // 2026-12-31T23:59:58
    }, EFI_SUCCESS, [] {
      return "date=2026-12-31T23:59:58 tool=2.7.2 command=update file=\"image.bin\"" + AT_CHIP + " before=0x10 after=0x33 image-crc="
             + Crc (IMAGE) + " resent=0 status=0x0 status-name=\"Success\" elapsed=4s";
    } }
    ),
  [](const ::testing::TestParamInfo<RECORD_CASE> &Info) { return std::string (Info.param.Name); }
  );

TEST_F (RunRecordTest, EachRunAppendsItsOwnLineToANewFile) {
  EXPECT_EQ (Run ({ u"-v", u"-l", u"zk48.log" }), EFI_SUCCESS);
  Sim.Chip.Faults.DeviceIdFromRead = ZK48_NEVER;
  EXPECT_EQ (Run ({ u"-v", u"-l", u"zk48.log" }), EFI_NOT_FOUND);
  EXPECT_EQ (
    Log (),
    START + "version" + AT_CHIP + " before=0x5A resent=0 status=0x0 status-name=\"Success\" elapsed=0s\r\n"
    + START + "version controller=none resent=0 status=0x800000000000000E status-name=\"Not Found\" elapsed=0s\r\n"
    );
}

//
// A record that cannot be written: the screen says so, a command that
// succeeded returns why, one that failed keeps its own status.
//
struct LOST_CASE {
  const char                                 *Name;
  std::function<void (SimFirmware &, int)>   Setup;
  EFI_STATUS                                 Why;
};

class LostRecordTest : public RunRecordTest, public ::testing::WithParamInterface<LOST_CASE> {};

TEST_P (LostRecordTest, SaysSoAndTheStatusTellsIt) {
  const LOST_CASE  &Case = GetParam ();
  std::string      Shown = " Error: no record written to zk48.log: ";

  Case.Setup (Sim, Volume);
  EXPECT_EQ (Run ({ u"image.bin", u"-l", u"zk48.log" }), Case.Why);
  EXPECT_NE (Output ().find (" E2PROM update finished.\r\n" + Shown), std::string::npos) << Output ();
  EXPECT_EQ (harness::Eeprom (Sim.Chip), MakeImage (0x33)) << "the chip stays written";

  harness::SimFirmware  Failing;
  int                   FailingVolume = SetUpBench (Failing);

  Case.Setup (Failing, FailingVolume);
  EXPECT_EQ (RunOn (Failing, { u"none.bin", u"-l", u"zk48.log" }), EFI_NOT_FOUND);
  EXPECT_NE (Failing.RawText ().find (Shown), std::string::npos) << Failing.RawText ();
  ExpectBalanced (Failing);
}

INSTANTIATE_TEST_SUITE_P (
  Log,
  LostRecordTest,
  ::testing::Values (
    LOST_CASE { "ReadOnlyVolume",    [](SimFirmware &Firmware, int At) { Firmware.Volumes[(size_t)At]->ReadOnly = true; }, EFI_WRITE_PROTECTED },
    LOST_CASE { "NameIsADirectory",  [](SimFirmware &Firmware, int At) { Firmware.AddDirectory (At, u"zk48.log"); }, EFI_ACCESS_DENIED },
    // The image's load opens the volume first, the record second.
    LOST_CASE { "VolumeWillNotOpen", [](SimFirmware &Firmware, int) { Firmware.Fail (harness::Once (Call::OpenVolume, 2)); }, EFI_DEVICE_ERROR },
    LOST_CASE { "VolumeFull",        [](SimFirmware &Firmware, int At) { Firmware.Volumes[(size_t)At]->FreeBytes = 10; }, EFI_VOLUME_FULL },
    // A driver that takes part of the line and says nothing: the count shows it.
    LOST_CASE { "WriteCutShort",     [](SimFirmware &Firmware, int) { Firmware.Fail (harness::Short (Call::Write, 10)); }, EFI_VOLUME_FULL },
    LOST_CASE { "SetPositionFails",  [](SimFirmware &Firmware, int) { Firmware.Fail (harness::FromThenOn (Call::SetPosition, 1)); }, EFI_DEVICE_ERROR },
    LOST_CASE { "FlushFails",        [](SimFirmware &Firmware, int) { Firmware.Fail (harness::FromThenOn (Call::Flush, 1)); }, EFI_DEVICE_ERROR }
    ),
  [](const ::testing::TestParamInfo<LOST_CASE> &Info) { return std::string (Info.param.Name); }
  );

//
// -l comes right after the command's own arguments and needs a name that
// is no option; anywhere else it is ignored, as every other extra argument.
//
struct FLAG_CASE {
  const char                     *Name;
  std::vector<std::u16string>    Args;
  EFI_STATUS                     Exit;
  std::string                    LastLine;
};

class LogFlagTest : public RunRecordTest, public ::testing::WithParamInterface<FLAG_CASE> {};

TEST_P (LogFlagTest, IsTakenOnlyWhereItBelongs) {
  const FLAG_CASE  &Case = GetParam ();
  std::string      Shown;

  EXPECT_EQ (Run (Case.Args), Case.Exit);
  Shown = Output ();
  EXPECT_EQ (Shown.substr (Shown.rfind ("\r\n", Shown.size () - 3) + 2), Case.LastLine + "\r\n");
  EXPECT_EQ (Log (), "(none)");
  EXPECT_FALSE (Sim.HasFile (Volume, u"-d"));
}

INSTANTIATE_TEST_SUITE_P (
  Arguments,
  LogFlagTest,
  ::testing::Values (
    FLAG_CASE { "NoName",            { u"-v", u"-l" },                            EFI_INVALID_PARAMETER, " Error: -l needs a file name, program exit." },
    FLAG_CASE { "OptionAsName",      { u"-v", u"-l", u"-d" },                     EFI_INVALID_PARAMETER, " Error: -l needs a file name, -d is an option, program exit." },
    FLAG_CASE { "TheImageItself",    { u"image.bin", u"-l", u"IMAGE.BIN" },       EFI_INVALID_PARAMETER, " Error: -l needs a file of its own, image.bin is the command's file, program exit." },
    FLAG_CASE { "TheBackupItself",   { u"-d", u"b.bin", u"-l", u"b.bin" },        EFI_INVALID_PARAMETER, " Error: -l needs a file of its own, b.bin is the command's file, program exit." },
    FLAG_CASE { "AfterAnExtra",      { u"-v", u"x", u"-l", u"zk48.log" },         EFI_SUCCESS,           "The E2PROM version is 0x5A. " },
    FLAG_CASE { "CapitalL",          { u"-v", u"-L", u"zk48.log" },               EFI_SUCCESS,           "The E2PROM version is 0x5A. " },
    FLAG_CASE { "WithHelp",          { u"-h", u"-l", u"zk48.log" },               EFI_SUCCESS,           " Exit statuses, the bench script, the chip not found: help Zk48Update -verbose" }
    ),
  [](const ::testing::TestParamInfo<FLAG_CASE> &Info) { return std::string (Info.param.Name); }
  );

} // namespace
