#include "tests/firmware/FirmwareTest.h"

#include <cstdio>
#include <cstring>

const char  BANNER[] =
  "================================================\r\n"
  " This tool is used for updating the ZK48 Chip image.\r\n"
  " Software support cmd-one format:xxx.efi xxx.bin.\r\n"
  " Software support cmd-two format:xxx.efi -v.\r\n"
  " Software version: 2.7.2\r\n";

const char  SEPARATOR_LINE[] = "\r\n================================================ \r\n";

const std::string &
BenchUpToChip (
  )
{
  static const std::string  Text = std::string (BANNER) + SEPARATOR_LINE +
                                   " Found SMBus device:\r\n"
                                   " Bus Dev Func Vendor Device Revision\r\n"
                                   " 00 1F 03  8086 2930 02\r\n"
                                   " Intel ID.\r\n"
                                   " Found Chip on Addr = 0x8000FB20, SMBaddr = 0xB100\r\n"
                                   "================================================ \r\n";

  return Text;
}

int
FirmwareTest::SetUpBench (
  harness::SimFirmware  &Firmware
  )
{
  int  NewVolume;

  Firmware.AddSmbusController ();
  NewVolume = Firmware.AddVolume ();
  Firmware.AddPciFunction (0, 0x1F, 3, INTEL_VENDOR, Q35_SMBUS_DEVICE, SERIAL_BUS_CLASS, SMBUS_SUBCLASS, 0x00, 0x02, Q35_SMBUS_BAR);
  return NewVolume;
}

void
FirmwareTest::SetUp (
  )
{
  Volume = SetUpBench (Sim);
}

void
FirmwareTest::TearDown (
  )
{
  ExpectBalanced (Sim);
}

void
FirmwareTest::ExpectBalanced (
  const harness::SimFirmware  &Firmware
  )
{
  EXPECT_EQ (Firmware.Violations, std::vector<std::string> {});
  EXPECT_EQ (Firmware.LedgerProblems (), std::vector<std::string> {});
}

EFI_STATUS
FirmwareTest::RunOn (
  harness::SimFirmware               &Firmware,
  const std::vector<std::u16string>  &Args
  )
{
  std::vector<std::u16string>  Argv = { u"Zk48Update.efi" };

  Argv.insert (Argv.end (), Args.begin (), Args.end ());
  Firmware.SetArguments (Argv);
  return Firmware.RunImage ();
}

void
FirmwareTest::InstallTables (
  )
{
  Sim.InstallTables ();
}

void
FirmwareTest::RemoveSmbusHc (
  )
{
  std::erase_if (Sim.Handles, [](const harness::SimFirmware::HandleEntry &Entry) {
    return std::memcmp (&Entry.Protocol, &gEfiSmbusHcProtocolGuid, sizeof (EFI_GUID)) == 0;
  });
}

void
FirmwareTest::AddIntelSmbus (
  int       Bus,
  int       Dev,
  int       Func,
  uint32_t  Bar
  )
{
  Sim.AddPciFunction (Bus, Dev, Func, INTEL_VENDOR, Q35_SMBUS_DEVICE, SERIAL_BUS_CLASS, SMBUS_SUBCLASS, 0x00, 0x02, Bar);
}

std::vector<std::string>
FirmwareTest::BusLog (
  ) const
{
  std::vector<std::string>  Lines;

  for (const harness::SmbusTransaction &Entry : Sim.Transactions) {
    char         Text[16];
    std::string  Line;
    const char   *Kind = Entry.Operation == EfiSmbusReadByte ? "R" : Entry.Operation == EfiSmbusWriteByte ? "W" : Entry.Operation == EfiSmbusWriteBlock ? "B" : "?";

    std::snprintf (Text, sizeof (Text), "%s %02llX %02llX", Kind, (unsigned long long)Entry.Address, (unsigned long long)Entry.Command);
    Line = Text;
    if (Entry.Operation == EfiSmbusReadByte) {
      Line += " ->";
    }

    for (uint8_t Byte : Entry.Data) {
      std::snprintf (Text, sizeof (Text), " %02X", Byte);
      Line += Text;
    }

    if (EFI_ERROR (Entry.Status)) {
      Line += " !";
    }

    Lines.push_back (Line);
  }

  return Lines;
}
