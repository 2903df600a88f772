/** @file
  Zk48Sim.efi: a boot-service driver that gives the firmware an SMBus host
  controller with a simulated ZK48 behind it, so an update can be rehearsed
  in a virtual machine, and, when asked, a decoy host controller with
  nothing behind it ahead of the chip's. Settings come from Zk48Sim.cfg on
  the first volume.
**/
#include "platform/PrintLib.h"
#include "platform/SimpleFileSystem.h"
#include "platform/UefiLib.h"
#include "sim/Zk48Chip.h"
#include "sim/Zk48Settings.h"
#include "sim/Zk48Wire.h"
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

constexpr UINT8   ALL_ONES = 0xFF;

ZK48_CHIP          mChip;
// One byte more than a settings file may hold: a file that fills it is too long, and is refused rather than cut.
UINT8              mSettings[MAX_SETTINGS_SIZE + 1];

EFI_STATUS EFIAPI
ArrangeHostControllers (
  );

ZK48_SIM_PROTOCOL  mSimProtocol = { ZK48_SIM_PROTOCOL_REVISION, &mChip, ArrangeHostControllers };

/**
  Holds the caller for the time the transfer just answered takes on the
  wire at the bus clock: the whole transfer when the chip took it, and
  when it did not, its start, address and stop (the model does not say
  which byte it refused, and an absent chip refuses the address).
**/
VOID
TakeWireTime (
  EFI_SMBUS_OPERATION  Operation,
  BOOLEAN              PecCheck,
  EFI_STATUS           Status,
  const UINTN          *Length
  )
{
  UINT64  BitTimes = ZK48_WIRE_REFUSED_BIT_TIMES;
  UINTN   Microseconds;

  if (mChip.Wire.Khz == 0) {
    return;
  }

  if (!EFI_ERROR (Status)) {
    BitTimes = Zk48WireBitTimes (Operation, *Length, PecCheck);
  }

  Microseconds = Zk48WireMicroseconds (&mChip.Wire, BitTimes);
  if (Microseconds != 0) {
    (VOID)gBS->Stall (Microseconds);
  }
}

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
  EFI_STATUS  Status;

  (VOID)This;
  //
  // The whole address value goes to the chip, so that stray high bits
  // address nobody, as on a real bus.
  //
  Status = Zk48Execute (&mChip, SlaveAddress, Command, (EFI_SMBUS_OPERATION)Operation, Length, (UINT8 *)Buffer);
  TakeWireTime ((EFI_SMBUS_OPERATION)Operation, PecCheck, Status, Length);
  return Status;
}

/**
  The decoy: nothing behind it. It refuses every transaction, as a host
  controller does when no device acknowledges, or, silent, takes every one
  and reads 0xFF, as the bus's pull-ups give it to a controller that does
  not see the missing acknowledge.
**/
EFI_STATUS EFIAPI
DecoyExecute (
  const SIM_SMBUS_HC_PROTOCOL  *This,
  UINTN                        SlaveAddress,
  UINTN                        Command,
  UINT32                       Operation,
  BOOLEAN                      PecCheck,
  UINTN                        *Length,   // NOLINT(readability-non-const-parameter): as Execute takes it
  VOID                         *Buffer
  )
{
  (VOID)This;
  (VOID)SlaveAddress;
  (VOID)Command;
  (VOID)PecCheck;
  (VOID)Length;
  mChip.Counts.Decoy++;
  if (mChip.Decoy != Zk48DecoySilent) {
    return EFI_DEVICE_ERROR;
  }

  if ((Operation == EfiSmbusReadByte) && (Buffer != nullptr)) {
    *(UINT8 *)Buffer = ALL_ONES;
  }

  return EFI_SUCCESS;
}

SIM_SMBUS_HC_PROTOCOL  mSmbusHc    = { SimExecute, nullptr, nullptr, nullptr };
SIM_SMBUS_HC_PROTOCOL  mDecoySmbusHc = { DecoyExecute, nullptr, nullptr, nullptr };
EFI_HANDLE             mSmbusHcHandle;   // the chip's host controller's
EFI_HANDLE             mDecoyHandle;     // NULL while there is no decoy

/**
  Puts the decoy ahead of the chip's host controller: the decoy on a new
  handle, then the chip's moved to a newer one. Firmware gives host
  controllers in the order their interfaces were installed (EDK II) or
  their handles made (U-Boot); this order is the same in both.
**/
EFI_STATUS
InstallDecoy (
  )
{
  EFI_HANDLE  Handle = nullptr;
  EFI_STATUS  Status;

  Status = gBS->InstallProtocolInterface (&Handle, &mSmbusHcProtocolGuid, EFI_NATIVE_INTERFACE, &mDecoySmbusHc);
  if (EFI_ERROR (Status)) {
    return Status;
  }

  mDecoyHandle = Handle;
  Status       = gBS->UninstallProtocolInterface (mSmbusHcHandle, &mSmbusHcProtocolGuid, &mSmbusHc);
  if (EFI_ERROR (Status)) {
    return Status;
  }

  Handle = nullptr;
  Status = gBS->InstallProtocolInterface (&Handle, &mSmbusHcProtocolGuid, EFI_NATIVE_INTERFACE, &mSmbusHc);
  if (!EFI_ERROR (Status)) {
    mSmbusHcHandle = Handle;
  }

  return Status;
}

EFI_STATUS EFIAPI
ArrangeHostControllers (
  )
{
  EFI_STATUS  Status;

  if ((mChip.Decoy != Zk48DecoyNone) == (mDecoyHandle != nullptr)) {
    return EFI_SUCCESS;
  }

  if (mDecoyHandle == nullptr) {
    return InstallDecoy ();
  }

  Status = gBS->UninstallProtocolInterface (mDecoyHandle, &mSmbusHcProtocolGuid, &mDecoySmbusHc);
  if (!EFI_ERROR (Status)) {
    mDecoyHandle = nullptr;
  }

  return Status;
}

/**
  Reads File from where it stands into mSettings until its end or until
  mSettings is full. Returns the firmware's status; *Size is what was read.
**/
EFI_STATUS
ReadToEnd (
  EFI_FILE_PROTOCOL  *File,
  UINTN              *Size
  )
{
  UINTN       Room;
  UINTN       Chunk;
  EFI_STATUS  Status;

  //
  // A read may deliver less than asked for; only a read that delivers
  // nothing marks the end. Each pass gains a byte at least, so the buffer
  // bounds the loop.
  //
  *Size = 0;
  do {
    Room   = sizeof (mSettings) - *Size;
    Chunk  = Room;
    Status = File->Read (File, &Chunk, mSettings + *Size);
    if (EFI_ERROR (Status)) {
      return Status;
    }

    *Size += (Chunk < Room) ? Chunk : Room;
  } while ((Chunk != 0) && (*Size < sizeof (mSettings)));

  return EFI_SUCCESS;
}

/**
  Reads the settings file into mSettings. Returns EFI_SUCCESS with *Size 0
  when there is no volume or no such file, or the firmware's status when
  the file is there and cannot be read. *Size above MAX_SETTINGS_SIZE
  means the file is longer than that.
**/
EFI_STATUS
ReadSettingsFile (
  UINTN  *Size
  )
{
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL  *FileSystem = nullptr;
  EFI_FILE_PROTOCOL                *Root       = nullptr;
  EFI_FILE_PROTOCOL                *File       = nullptr;
  EFI_STATUS                       Status;

  *Size = 0;
  if (EFI_ERROR (gBS->LocateProtocol (&gEfiSimpleFileSystemProtocolGuid, nullptr, (VOID **)&FileSystem))
      || EFI_ERROR (FileSystem->OpenVolume (FileSystem, &Root)))
  {
    return EFI_SUCCESS;
  }

  Status = Root->Open (Root, &File, SETTINGS_FILE_NAME, EFI_FILE_MODE_READ, 0);
  if (Status == EFI_NOT_FOUND) {
    Status = EFI_SUCCESS;
  } else if (!EFI_ERROR (Status) && (File != nullptr)) {
    Status = ReadToEnd (File, Size);
    //
    // Nothing was written, so a failing close loses nothing; and Close
    // always closes.
    //
    (VOID)File->Close (File);
  }

  (VOID)Root->Close (Root);
  return Status;
}

/**
  Installs the SMBus host controller and the simulator's own protocol on
  a new handle: both, or neither when the result is an error.
**/
EFI_STATUS
InstallProtocols (
  )
{
  EFI_HANDLE  Handle = nullptr;
  EFI_STATUS  Status;
  EFI_STATUS  UndoStatus;

  Status = gBS->InstallProtocolInterface (&Handle, &mSmbusHcProtocolGuid, EFI_NATIVE_INTERFACE, &mSmbusHc);
  if (EFI_ERROR (Status)) {
    Print ("Zk48Sim: cannot install the SMBus host controller: %r.\n", Status);
    return Status;
  }

  mSmbusHcHandle = Handle;
  Status         = gBS->InstallProtocolInterface (&Handle, &gZk48SimProtocolGuid, EFI_NATIVE_INTERFACE, &mSimProtocol);
  if (!EFI_ERROR (Status)) {
    return EFI_SUCCESS;
  }

  Print ("Zk48Sim: cannot install the simulator's control protocol: %r.\n", Status);

  //
  // A driver that fails is unloaded: an interface left installed would
  // send the next Execute into freed memory.
  //
  UndoStatus = gBS->UninstallProtocolInterface (Handle, &mSmbusHcProtocolGuid, &mSmbusHc);
  if (EFI_ERROR (UndoStatus)) {
    //
    // The host controller cannot be taken back, so the image has to stay
    // where the interface points: the driver stays loaded, SMBus only.
    //
    Print ("Zk48Sim: cannot remove the SMBus host controller: %r; driver stays loaded without Zk48SimCtl.efi.\n", UndoStatus);
    return EFI_SUCCESS;
  }

  return Status;
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
  mSmbusHcHandle = nullptr;
  mDecoyHandle   = nullptr;
  Status = ReadSettingsFile (&Size);
  if (EFI_ERROR (Status)) {
    Print ("Zk48Sim: cannot read %s: %r, driver not loaded.\n", SETTINGS_FILE_NAME, Status);
    return Status;
  }

  //
  // A cut file would apply a cut last line: "version=0x55" read as "version=0x5".
  //
  if (Size > MAX_SETTINGS_SIZE) {
    Print ("Zk48Sim: %s is longer than %d bytes, driver not loaded.\n", SETTINGS_FILE_NAME, (UINT32)MAX_SETTINGS_SIZE);
    return EFI_BAD_BUFFER_SIZE;
  }

  BadLine = Zk48ApplySettingsFile (&mChip, mSettings, Size);
  if (BadLine != 0) {
    Print ("Zk48Sim: %s line %d not understood, driver not loaded.\n", SETTINGS_FILE_NAME, (UINT32)BadLine);
    return EFI_INVALID_PARAMETER;
  }

  Status = InstallProtocols ();
  if (EFI_ERROR (Status)) {
    return Status;
  }

  //
  // Whatever the decoy's fate, interfaces point into the driver: it stays.
  //
  Status = ArrangeHostControllers ();
  if (EFI_ERROR (Status)) {
    Print ("Zk48Sim: cannot put the decoy host controller ahead of the chip's: %r.\n", Status);
  }

  Print ("Zk48Sim: simulated ZK48 on SMBus, E2PROM CRC-32 %08X.\n", Zk48EepromCrc32 (&mChip));
  return EFI_SUCCESS;
}
