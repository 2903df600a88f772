/** @file
  Zk48SimCtl.efi: changes the loaded simulator's settings and reports what
  the chip holds and what it has seen.
    Zk48SimCtl.efi reset ready-after=never    change settings
    Zk48SimCtl.efi show                       one line of state
    Zk48SimCtl.efi -h                         the settings, one line each
    Zk48SimCtl.efi decoy=refuse               a host controller with nothing behind it, ahead of the chip's
**/
#include "platform/BaseLib.h"
#include "platform/PrintLib.h"
#include "platform/ShellParameters.h"
#include "platform/UefiLib.h"
#include "sim/Zk48Settings.h"
#include "sim/driver/Zk48SimProtocol.h"

namespace {

constexpr UINTN  VERSION_ADDRESS = 0x112F;

/** A rate in the form its setting takes: " refuse-rate=1/1000", or "=0" for never. **/
VOID
ShowRate (
  const CHAR8   *Name,
  ZK48_RATE     Rate
  )
{
  if (Rate.Numerator == 0) {
    Print (" %a=0", Name);
  } else {
    Print (" %a=%ld/%ld", Name, (UINT64)Rate.Numerator, (UINT64)Rate.Denominator);
  }
}

VOID
ShowState (
  const ZK48_CHIP  *Chip
  )
{
  Print (
    "ZK48SIM crc=%08X version=%2.2X mcu=%2.2X transactions=%d reads=%d writes=%d blocks=%d failed=%d ignored=%d bus-khz=%d",
    Zk48EepromCrc32 (Chip),
    Chip->Eeprom[VERSION_ADDRESS],
    Chip->McuVersion,
    Chip->Counts.Transactions,
    Chip->Counts.ByteReads,
    Chip->Counts.ByteWrites,
    Chip->Counts.BlockWrites,
    Chip->Counts.Failed,
    Chip->Counts.Ignored,
    Chip->Wire.Khz
    );
  //
  // The bus faults as their settings take them, so that a run seen can be
  // set up again; through %ld, since %d would show the top half of a
  // 32-bit value as negative.
  //
  if (Chip->Faults.RefuseEvery == ZK48_NEVER) {
    Print (" refuse-every=never");
  } else {
    Print (" refuse-every=%ld", (UINT64)Chip->Faults.RefuseEvery);
  }

  ShowRate ("refuse-rate", Chip->Faults.RefuseRate);
  ShowRate ("ignore-rate", Chip->Faults.IgnoreRate);
  Print (" seed=%ld", (UINT64)Chip->Faults.Seed);
  //
  // Only when there is one, so that a bench without a decoy reads as it
  // always did.
  //
  if (Chip->Decoy != Zk48DecoyNone) {
    Print (" decoy=%a decoy-transactions=%d", (Chip->Decoy == Zk48DecoySilent) ? "silent" : "refuse", Chip->Counts.Decoy);
  }

  //
  // Last, and in the form the setting takes, so that a script sees whether
  // the drop is still to come.
  //
  if (Chip->Faults.DropBlockAt == ZK48_NEVER) {
    Print (" drop-block=never\n");
  } else {
    Print (" drop-block=0x%4.4X\n", Chip->Faults.DropBlockAt);
  }
}

/** What a technician can type, one line each; also for no argument at all. **/
VOID
ShowSettings (
  )
{
  Print ("Zk48SimCtl.efi SETTING ...: changes the loaded chip simulator, in order.\n");
  for (UINTN Index = 0; Index < gZk48SettingHelpCount; Index++) {
    Print ("%a\n", gZk48SettingHelp[Index].Line);
  }
}

/** Names the setting that was refused, with the rule of its name when it has one. **/
VOID
ShowRefused (
  const CHAR16  *Argument
  )
{
  const CHAR8  *Rule = Zk48SettingHelpFor (Argument, StrLen (Argument));

  Print ("Zk48SimCtl: setting not understood: %s\n", Argument);
  if (Rule != nullptr) {
    Print ("%a\n", Rule);
  }
}

} // namespace

EFI_STATUS
UefiMain (
  EFI_HANDLE        ImageHandle,
  EFI_SYSTEM_TABLE  *SystemTable
  )
{
  EFI_SHELL_PARAMETERS_PROTOCOL  *Parameters = nullptr;
  ZK48_SIM_PROTOCOL              *Sim        = nullptr;

  (VOID)SystemTable;
  if (EFI_ERROR (gBS->OpenProtocol (ImageHandle, &gEfiShellParametersProtocolGuid, (VOID **)&Parameters, ImageHandle, nullptr, EFI_OPEN_PROTOCOL_GET_PROTOCOL))) {
    return EFI_UNSUPPORTED;
  }

  //
  // Help needs no simulator: it is what a technician types before loading one.
  //
  if ((Parameters->Argc <= 1) || (StrCmp (Parameters->Argv[1], u"-h") == 0)) {
    ShowSettings ();
    return EFI_SUCCESS;
  }

  if (EFI_ERROR (gBS->LocateProtocol (&gZk48SimProtocolGuid, nullptr, (VOID **)&Sim)) || (Sim->Revision != ZK48_SIM_PROTOCOL_REVISION)) {
    Print ("Zk48SimCtl: the simulator is not loaded.\n");
    return EFI_NOT_FOUND;
  }

  for (UINTN Index = 1; Index < Parameters->Argc; Index++) {
    const CHAR16  *Argument = Parameters->Argv[Index];
    EFI_STATUS    Status;

    if (StrCmp (Argument, u"show") == 0) {
      ShowState (Sim->Chip);
      continue;
    }

    if (!Zk48ApplySetting (Sim->Chip, Argument, StrLen (Argument))) {
      ShowRefused (Argument);
      return EFI_INVALID_PARAMETER;
    }

    Status = Sim->ArrangeHostControllers ();
    if (EFI_ERROR (Status)) {
      Print ("Zk48SimCtl: cannot arrange the SMBus host controllers: %r\n", Status);
      return Status;
    }
  }

  return EFI_SUCCESS;
}
