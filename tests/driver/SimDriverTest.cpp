// Zk48Sim.efi loading on the simulated firmware: its settings file taken
// whole or refused, its two protocols installed both or neither, and the
// decoy host controller put ahead of the chip's and taken away.
#include <algorithm>
#include <cstring>
#include <numeric>
#include <vector>

#include "platform/SmbusHc.h"
#include "platform/UefiLib.h"
#include "sim/Zk48Settings.h"
#include "sim/driver/Zk48SimProtocol.h"
#include "tests/firmware/FirmwareTest.h"

namespace {

using harness::Call;

constexpr size_t  SETTINGS_LIMIT = 4096;

// What the driver left installed (by protocol GUID), on whichever handle.
size_t
Installed (
  const harness::SimFirmware  &Firmware,
  const EFI_GUID          &Protocol
  )
{
  return (size_t)std::count_if (Firmware.Handles.begin (), Firmware.Handles.end (), [&Protocol](const harness::SimFirmware::HandleEntry &Entry) {
    return Entry.ByImage && (std::memcmp (&Entry.Protocol, &Protocol, sizeof (EFI_GUID)) == 0);
  });
}

class SimDriverTest : public FirmwareTest {
protected:
  void SetUp () override
  {
    FirmwareTest::SetUp ();
    RemoveSmbusHc ();
    Sim.ImageIsDriver = true;
  }

  void AddSettings (const std::string &Text)
  {
    Sim.AddFile (Volume, u"Zk48Sim.cfg", std::vector<uint8_t> (Text.begin (), Text.end ()));
  }

  // Nothing of the driver's is left for anyone to find.
  void ExpectNothingInstalled ()
  {
    EXPECT_EQ (Installed (Sim, gEfiSmbusHcProtocolGuid), 0u);
    EXPECT_EQ (Installed (Sim, gZk48SimProtocolGuid), 0u);
  }

  // The driver's control protocol, nullptr when not installed.
  ZK48_SIM_PROTOCOL *ControlledProtocol ()
  {
    ZK48_SIM_PROTOCOL  *Control = nullptr;

    if (EFI_ERROR (gBS->LocateProtocol (&gZk48SimProtocolGuid, nullptr, (VOID **)&Control))) {
      return nullptr;
    }

    EXPECT_EQ (Control->Revision, ZK48_SIM_PROTOCOL_REVISION);
    return Control;
  }

  // The driver's chip through its control protocol, nullptr when not installed.
  ZK48_CHIP *ControlledChip ()
  {
    ZK48_SIM_PROTOCOL  *Control = ControlledProtocol ();

    return (Control != nullptr) ? Control->Chip : nullptr;
  }

  // One transaction through SmbusHc.
  // The driver writes the protocol out in types of its own, so that it does
  // not share the tool's mistakes; the call crosses the two on purpose, as
  // in firmware, where only the layout and the calling convention meet.
  __attribute__ ((no_sanitize ("function"))) static EFI_STATUS ExecuteThrough (
    EFI_SMBUS_HC_PROTOCOL  *SmbusHc,
    UINTN                  Raw,
    UINTN                  Command,
    EFI_SMBUS_OPERATION    Operation,
    UINTN                  Length,
    UINT8                  *Buffer
    )
  {
    EFI_SMBUS_DEVICE_ADDRESS  Address;

    // Every bit above the seven of the address clear: a braced bit-field leaves them to chance.
    std::memcpy (&Address, &Raw, sizeof (Address));
    return SmbusHc->Execute (SmbusHc, Address, Command, Operation, FALSE, &Length, Buffer);
  }

  // One transaction through the installed host controller, or the lookup's failing status.
  EFI_STATUS ExecuteThroughDriver (
    UINTN                Raw,
    UINTN                Command,
    EFI_SMBUS_OPERATION  Operation,
    UINTN                Length,
    UINT8                *Buffer
    )
  {
    EFI_SMBUS_HC_PROTOCOL  *SmbusHc = nullptr;
    EFI_STATUS             Status   = gBS->LocateProtocol (&gEfiSmbusHcProtocolGuid, nullptr, (VOID **)&SmbusHc);

    return EFI_ERROR (Status) ? Status : ExecuteThrough (SmbusHc, Raw, Command, Operation, Length, Buffer);
  }

  // The MCU version as the installed host controller reads it from 0x23, or the failing status.
  EFI_STATUS ReadMcuThroughDriver (UINT8 *Mcu)
  {
    return ExecuteThroughDriver (0x23, 0xC0, EfiSmbusReadByte, 1, Mcu);
  }

  // Every Stall the driver made, in microseconds.
  std::vector<uint64_t> Stalls () const
  {
    std::vector<uint64_t>  Microseconds;

    for (const auto &Entry : Sim.Timeline) {
      if (Entry.Kind == Entry.Stall) {
        Microseconds.push_back (Entry.A);
      }
    }

    return Microseconds;
  }
};

TEST_F (SimDriverTest, LoadInstallsBothProtocolsOnOneHandleAndTheChipAnswers) {
  UINT8  Mcu = 0;

  AddSettings ("# bench\r\nmcu=0x5C\r\nfill=pattern\r\nversion=0x55\r\n");
  ASSERT_EQ (Sim.RunImage (), EFI_SUCCESS);

  // The CRC-32 of the pattern with 0x55 at 0x112F, worked out apart from the model.
  EXPECT_EQ (Output (), "Zk48Sim: simulated ZK48 on SMBus, E2PROM CRC-32 5C4F11E2.\r\n");
  ASSERT_EQ (Installed (Sim, gEfiSmbusHcProtocolGuid), 1u);
  ASSERT_EQ (Installed (Sim, gZk48SimProtocolGuid), 1u);
  EXPECT_EQ (Sim.Handles[Sim.Handles.size () - 1].Handle, Sim.Handles[Sim.Handles.size () - 2].Handle);

  ASSERT_NE (ControlledChip (), nullptr);
  EXPECT_EQ (ReadMcuThroughDriver (&Mcu), EFI_SUCCESS);
  EXPECT_EQ (Mcu, 0x5C);
  EXPECT_EQ (ControlledChip ()->Counts.Transactions, 1u);
  EXPECT_EQ (ControlledChip ()->Eeprom[0x1FFF], 0x94);
}

TEST_F (SimDriverTest, NoSettingsFileLoadsTheDefaults) {
  UINT8  Mcu = 0;

  ASSERT_EQ (Sim.RunImage (), EFI_SUCCESS);
  EXPECT_EQ (ReadMcuThroughDriver (&Mcu), EFI_SUCCESS);
  EXPECT_EQ (Mcu, 0x10);
}

//
// With a bus clock, each transaction holds the caller for its wire time by
// Stall: the tool's three kinds and a refused one at 100 kHz, where a bit
// time is 10 us; then a clock whose bit time has no whole microseconds,
// where the pauses must still add up to the exact total.
//
TEST_F (SimDriverTest, TransactionsTakeTheirWireTimeInStalls) {
  UINT8        Byte    = 0;
  UINT8        Frame[] = { 0x0A, 0x01, 0x00, 1, 2, 3, 4, 5, 6, 7, 8 };
  const UINTN  Nobody  = 0x50;

  AddSettings ("bus-khz=100\n");
  ASSERT_EQ (Sim.RunImage (), EFI_SUCCESS);

  ZK48_CHIP  *Chip = ControlledChip ();

  ASSERT_NE (Chip, nullptr);
  EXPECT_TRUE (Stalls ().empty ());

  EXPECT_EQ (ExecuteThroughDriver (0x23, 0xC0, EfiSmbusReadByte, 1, &Byte), EFI_SUCCESS);
  Byte = 0x11;
  EXPECT_EQ (ExecuteThroughDriver (0x21, 0xB2, EfiSmbusWriteByte, 1, &Byte), EFI_SUCCESS);
  EXPECT_EQ (ExecuteThroughDriver (0x21, 0x00, EfiSmbusWriteBlock, sizeof (Frame), Frame), EFI_SUCCESS);
  EXPECT_EQ (ExecuteThroughDriver (Nobody, 0x02, EfiSmbusReadByte, 1, &Byte), EFI_DEVICE_ERROR);
  EXPECT_EQ (Stalls (), (std::vector<uint64_t> { 390, 290, 1280, 110 }));
  EXPECT_EQ (Chip->Eeprom[0x0107], 8);

  // 333 kHz: 39 bit times are 117.117... us. 1000 reads are 117117 us in all.
  Sim.Timeline.clear ();
  ASSERT_TRUE (Zk48ApplySetting (Chip, u"bus-khz=333", 11));
  for (int Read = 0; Read < 1000; Read++) {
    ASSERT_EQ (ReadMcuThroughDriver (&Byte), EFI_SUCCESS);
  }

  const std::vector<uint64_t>  Paused = Stalls ();

  ASSERT_EQ (Paused.size (), 1000u);
  EXPECT_EQ (std::accumulate (Paused.begin (), Paused.end (), uint64_t { 0 }), 117117u);
  EXPECT_TRUE (std::all_of (Paused.begin (), Paused.end (), [](uint64_t Microseconds) { return (Microseconds == 117) || (Microseconds == 118); }));

  // Back to 0: no Stall at all, as before the setting.
  Sim.Timeline.clear ();
  ASSERT_TRUE (Zk48ApplySetting (Chip, u"reset", 5));
  EXPECT_EQ (ReadMcuThroughDriver (&Byte), EFI_SUCCESS);
  EXPECT_TRUE (Stalls ().empty ());
}

//
// The decoy: installed ahead of the chip's host controller, in the order
// LocateHandleBuffer gives them, from the settings file or a later setting;
// "reset" takes it away. Each of its transactions is counted, none reaches
// the chip.
//
TEST_F (SimDriverTest, DecoyIsPutAheadOfTheChipsHostControllerAndTakenAway) {
  // The MCU version read through each host controller in the firmware's order: the status, and the byte.
  auto  ReadMcuThroughEach = []() {
    UINTN                                        Count   = 0;
    EFI_HANDLE                                   *Handles = nullptr;
    std::vector<std::pair<EFI_STATUS, UINT8>>    Answers;

    if (EFI_ERROR (gBS->LocateHandleBuffer (ByProtocol, &gEfiSmbusHcProtocolGuid, nullptr, &Count, &Handles))) {
      return Answers;
    }

    for (UINTN Index = 0; Index < Count; Index++) {
      EFI_SMBUS_HC_PROTOCOL  *SmbusHc = nullptr;
      UINT8                  Mcu      = 0x00;

      EXPECT_EQ (gBS->HandleProtocol (Handles[Index], &gEfiSmbusHcProtocolGuid, (VOID **)&SmbusHc), EFI_SUCCESS);
      Answers.push_back ({ ExecuteThrough (SmbusHc, 0x23, 0xC0, EfiSmbusReadByte, 1, &Mcu), Mcu });
    }

    gBS->FreePool (Handles);
    return Answers;
  };
  using ANSWERS = std::vector<std::pair<EFI_STATUS, UINT8>>;

  AddSettings ("mcu=0x5C\ndecoy=refuse\n");
  ASSERT_EQ (Sim.RunImage (), EFI_SUCCESS);
  ZK48_CHIP  *Chip = ControlledChip ();
  ASSERT_NE (Chip, nullptr);
  EXPECT_EQ (Installed (Sim, gEfiSmbusHcProtocolGuid), 2u);
  EXPECT_EQ (ReadMcuThroughEach (), (ANSWERS { { EFI_DEVICE_ERROR, 0x00 }, { EFI_SUCCESS, 0x5C } }));
  EXPECT_EQ (Chip->Counts.Decoy, 1u);
  EXPECT_EQ (Chip->Counts.Transactions, 1u);

  // Silent: it takes every transaction, and reads as all ones.
  ASSERT_TRUE (Zk48ApplySetting (Chip, u"decoy=silent", 12));
  EXPECT_EQ (ControlledProtocol ()->ArrangeHostControllers (), EFI_SUCCESS);
  EXPECT_EQ (ReadMcuThroughEach (), (ANSWERS { { EFI_SUCCESS, 0xFF }, { EFI_SUCCESS, 0x5C } }));
  EXPECT_EQ (Chip->Counts.Decoy, 2u);

  // Reset: the decoy goes, the chip's host controller stays, and so does the control protocol.
  ASSERT_TRUE (Zk48ApplySetting (Chip, u"reset", 5));
  EXPECT_EQ (ControlledProtocol ()->ArrangeHostControllers (), EFI_SUCCESS);
  EXPECT_EQ (ReadMcuThroughEach (), (ANSWERS { { EFI_SUCCESS, 0x10 } }));
  EXPECT_EQ (Chip->Counts.Decoy, 0u);

  // Set later, it still comes first.
  ASSERT_TRUE (Zk48ApplySetting (Chip, u"decoy=refuse", 12));
  EXPECT_EQ (ControlledProtocol ()->ArrangeHostControllers (), EFI_SUCCESS);
  EXPECT_EQ (ControlledProtocol ()->ArrangeHostControllers (), EFI_SUCCESS);
  EXPECT_EQ (ReadMcuThroughEach (), (ANSWERS { { EFI_DEVICE_ERROR, 0x00 }, { EFI_SUCCESS, 0x10 } }));
  EXPECT_EQ (Installed (Sim, gZk48SimProtocolGuid), 1u);
  EXPECT_FALSE (Zk48ApplySetting (Chip, u"decoy=loud", 10));
}

TEST_F (SimDriverTest, SettingsFileThatCannotBeReadIsRefused) {
  AddSettings ("mcu=0x5C\nversion=0x55\n");
  Sim.Fail (harness::Short (harness::Call::Read, 5));
  Sim.Fail (harness::Once (Call::Read, 2, EFI_DEVICE_ERROR));

  EXPECT_EQ (Sim.RunImage (), EFI_DEVICE_ERROR);
  EXPECT_EQ (Output (), "Zk48Sim: cannot read Zk48Sim.cfg: Device Error, driver not loaded.\r\n");
  EXPECT_EQ (Sim.CallCount (Call::InstallProtocolInterface), 0u);
  ExpectNothingInstalled ();
}

//
// A settings file of exactly Size bytes ending in "version=0x55" without a
// line end: cut anywhere short of its end, it still parses, as another file.
//
struct SIZE_CASE {
  const char    *Name;
  size_t        Size;
  uint64_t      ReadDeliversAtMost;
  bool          Loads;
};

class SettingsSizeTest : public SimDriverTest, public ::testing::WithParamInterface<SIZE_CASE> {};

TEST_P (SettingsSizeTest, FileUpToTheLimitLoadsWholeALongerOneIsRefused) {
  const SIZE_CASE    &Case = GetParam ();
  const std::string  Head  = "mcu=0x5C\n#";
  const std::string  Tail  = "\nversion=0x55";

  AddSettings (Head + std::string (Case.Size - Head.size () - Tail.size (), 'x') + Tail);
  Sim.Fail (harness::Short (harness::Call::Read, Case.ReadDeliversAtMost));

  if (!Case.Loads) {
    EXPECT_EQ (Sim.RunImage (), EFI_BAD_BUFFER_SIZE);
    EXPECT_EQ (Output (), "Zk48Sim: Zk48Sim.cfg is longer than 4096 bytes, driver not loaded.\r\n");
    EXPECT_EQ (Sim.CallCount (Call::InstallProtocolInterface), 0u);
    ExpectNothingInstalled ();
    return;
  }

  ASSERT_EQ (Sim.RunImage (), EFI_SUCCESS);
  ASSERT_NE (ControlledChip (), nullptr);
  EXPECT_EQ (ControlledChip ()->McuVersion, 0x5C);
  EXPECT_EQ (ControlledChip ()->Eeprom[harness::VERSION_ADDRESS], 0x55);
}

INSTANTIATE_TEST_SUITE_P (
  Sizes,
  SettingsSizeTest,
  ::testing::Values (
    SIZE_CASE { "AtTheLimit",                 SETTINGS_LIMIT,          UINT64_MAX, true  },
    SIZE_CASE { "AtTheLimitInShortReads",     SETTINGS_LIMIT,          1000,       true  },
    SIZE_CASE { "OneByteOver",                SETTINGS_LIMIT + 1,      UINT64_MAX, false },
    SIZE_CASE { "OneByteOverInShortReads",    SETTINGS_LIMIT + 1,      1000,       false },
    SIZE_CASE { "ThreeTimesTheLimit",         3 * SETTINGS_LIMIT,      UINT64_MAX, false }
    ),
  [](const ::testing::TestParamInfo<SIZE_CASE> &Info) { return std::string (Info.param.Name); }
  );

//
// Installs that fail: the driver ends with both protocols or neither, and
// stays loaded only when an interface it cannot take back points into it.
// The fixture's ledger check catches any interface left behind an unload.
//
struct INSTALL_CASE {
  const char    *Name;
  uint64_t      FailedInstall;      // which InstallProtocolInterface fails
  bool          UninstallFails;
  EFI_STATUS    Status;
  uint64_t      Uninstalls;
  size_t        SmbusHcLeft;
  const char    *Message;
};

class InstallFailureTest : public SimDriverTest, public ::testing::WithParamInterface<INSTALL_CASE> {};

TEST_P (InstallFailureTest, BothProtocolsOrNeither) {
  const INSTALL_CASE  &Case = GetParam ();
  UINT8               Mcu   = 0;

  Sim.Fail (harness::Once (Call::InstallProtocolInterface, Case.FailedInstall, EFI_OUT_OF_RESOURCES));
  if (Case.UninstallFails) {
    Sim.Fail (harness::Once (Call::UninstallProtocolInterface, 1, EFI_ACCESS_DENIED));
  }

  EXPECT_EQ (Sim.RunImage (), Case.Status);
  EXPECT_EQ (Sim.CallCount (Call::UninstallProtocolInterface), Case.Uninstalls);
  EXPECT_EQ (Installed (Sim, gZk48SimProtocolGuid), 0u);
  EXPECT_EQ (Installed (Sim, gEfiSmbusHcProtocolGuid), Case.SmbusHcLeft);
  EXPECT_EQ (ReadMcuThroughDriver (&Mcu), Case.SmbusHcLeft != 0 ? EFI_SUCCESS : EFI_NOT_FOUND);
  EXPECT_NE (Output ().find (Case.Message), std::string::npos) << Output ();
}

INSTANTIATE_TEST_SUITE_P (
  Installs,
  InstallFailureTest,
  ::testing::Values (
    INSTALL_CASE { "FirstFails", 1, false, EFI_OUT_OF_RESOURCES, 0, 0,
                   "Zk48Sim: cannot install the SMBus host controller: Out of Resources." },
    INSTALL_CASE { "SecondFails", 2, false, EFI_OUT_OF_RESOURCES, 1, 0,
                   "Zk48Sim: cannot install the simulator's control protocol: Out of Resources." },
    INSTALL_CASE { "SecondFailsAndTheFirstCannotBeTakenBack", 2, true, EFI_SUCCESS, 1, 1,
                   "Zk48Sim: cannot remove the SMBus host controller: Access Denied; driver stays loaded without Zk48SimCtl.efi." }
    ),
  [](const ::testing::TestParamInfo<INSTALL_CASE> &Info) { return std::string (Info.param.Name); }
  );

} // namespace
