/** @file
  Zk48Sim.efi: a boot-service driver that gives the firmware an SMBus host
  controller with a simulated ZK48 behind it, so an update can be rehearsed
  in a virtual machine. Settings come from Zk48Sim.cfg on the first volume.
**/
#include "platform/PrintLib.h"
#include "platform/SimpleFileSystem.h"
#include "platform/UefiLib.h"
#include "sim/Zk48Chip.h"
#include "sim/Zk48Settings.h"
#include "sim/driver/Zk48SimProtocol.h"

namespace {

//
// The PI SMBus host-controller protocol, written out here on its own rather
// than taken from the tool's header: a wrong GUID, layout or signature in
// the tool must not find the same mistake on this side and pass.
//
constexpr EFI_GUID  mSmbusHcProtocolGuid = {
  0xe49d33ed, 0x513d, 0x4634, { 0xb6, 0x98, 0x6f, 0x55, 0xaa, 0x75, 0x1c, 0x1b }
};

struct SIM_SMBUS_HC_PROTOCOL;

typedef EFI_STATUS (EFIAPI *SIM_SMBUS_EXECUTE)(
  const SIM_SMBUS_HC_PROTOCOL  *This,
  UINTN                        SlaveAddress,
  UINTN                        Command,
  UINT32                       Operation,
  BOOLEAN                      PecCheck,
  UINTN                        *Length,
  VOID                         *Buffer
  );

struct SIM_SMBUS_HC_PROTOCOL {
  SIM_SMBUS_EXECUTE    Execute;
  VOID                 *ArpDevice;
  VOID                 *GetArpMap;
  VOID                 *Notify;
};

constexpr UINT8   DEFAULT_MCU_VERSION  = 0x10;
constexpr UINTN   MAX_SETTINGS_SIZE    = 4096;
constexpr CHAR16  SETTINGS_FILE_NAME[] = u"Zk48Sim.cfg";

ZK48_CHIP          mChip;
UINT8              mSettings[MAX_SETTINGS_SIZE];
EFI_HANDLE         mHandle;
ZK48_SIM_PROTOCOL  mSimProtocol = { ZK48_SIM_PROTOCOL_REVISION, &mChip };

EFI_STATUS EFIAPI
SimExecute (
  const SIM_SMBUS_HC_PROTOCOL  *This,
  UINTN                        SlaveAddress,
  UINTN                        Command,
  UINT32                       Operation,
  BOOLEAN                      PecCheck,
  UINTN                        *Length,
  VOID                         *Buffer
  )
{
  (VOID)This;
  (VOID)PecCheck;
  //
  // The whole address value goes to the chip, so that stray high bits
  // address nobody, as on a real bus.
  //
  return Zk48Execute (&mChip, SlaveAddress, Command, (EFI_SMBUS_OPERATION)Operation, Length, (UINT8 *)Buffer);
}

SIM_SMBUS_HC_PROTOCOL  mSmbusHc = { SimExecute, nullptr, nullptr, nullptr };

/** Reads the settings file into mSettings; returns its size, 0 when there is none. **/
UINTN
ReadSettingsFile (
  )
{
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL  *FileSystem = nullptr;
  EFI_FILE_PROTOCOL                *Root       = nullptr;
  EFI_FILE_PROTOCOL                *File       = nullptr;
  UINTN                            Size        = 0;

  if (EFI_ERROR (gBS->LocateProtocol (&gEfiSimpleFileSystemProtocolGuid, nullptr, (VOID **)&FileSystem))
      || EFI_ERROR (FileSystem->OpenVolume (FileSystem, &Root)))
  {
    return 0;
  }

  if (!EFI_ERROR (Root->Open (Root, &File, SETTINGS_FILE_NAME, EFI_FILE_MODE_READ, 0)) && (File != nullptr)) {
    Size = sizeof (mSettings);
    if (EFI_ERROR (File->Read (File, &Size, mSettings))) {
      Size = 0;
    }

    File->Close (File);
  }

  Root->Close (Root);
  return Size;
}

} // namespace

EFI_STATUS
UefiMain (
  EFI_HANDLE        ImageHandle,
  EFI_SYSTEM_TABLE  *SystemTable
  )
{
  UINTN       Size;
  UINTN       BadLine;
  EFI_STATUS  Status;

  (VOID)ImageHandle;
  (VOID)SystemTable;
  Zk48Reset (&mChip, DEFAULT_MCU_VERSION);
  Size    = ReadSettingsFile ();
  BadLine = Zk48ApplySettingsFile (&mChip, mSettings, Size);
  if (BadLine != 0) {
    Print (u"Zk48Sim: %s line %d not understood, driver not loaded.\n", SETTINGS_FILE_NAME, (UINT32)BadLine);
    return EFI_INVALID_PARAMETER;
  }

  Status = gBS->InstallProtocolInterface (&mHandle, &mSmbusHcProtocolGuid, EFI_NATIVE_INTERFACE, &mSmbusHc);
  if (!EFI_ERROR (Status)) {
    Status = gBS->InstallProtocolInterface (&mHandle, &gZk48SimProtocolGuid, EFI_NATIVE_INTERFACE, &mSimProtocol);
  }

  if (EFI_ERROR (Status)) {
    Print (u"Zk48Sim: cannot install the SMBus host controller: %r.\n", Status);
    return Status;
  }

  Print (u"Zk48Sim: simulated ZK48 on SMBus, E2PROM CRC-32 %08X.\n", Zk48EepromCrc32 (&mChip));
  return EFI_SUCCESS;
}
