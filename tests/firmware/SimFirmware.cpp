// The simulated firmware's boot services, handle database, pool ledger and
// call accounting.
#include "tests/firmware/SimFirmware.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "platform/UefiLib.h"
#include "tests/firmware/FirmwareCodes.h"

namespace harness {

SimFirmware *SimFirmware::Current = nullptr;

namespace {

bool
SameGuid (
  const EFI_GUID  &A,
  const EFI_GUID  &B
  )
{
  return std::memcmp (&A, &B, sizeof (EFI_GUID)) == 0;
}

SimFirmware &
Sim (
  )
{
  return *SimFirmware::Current;
}

EFI_STATUS EFIAPI
SimAllocatePool (
  EFI_MEMORY_TYPE  PoolType,
  UINTN            Size,
  VOID             **Buffer
  )
{
  EFI_STATUS  Status = Sim ().Enter (Call::AllocatePool, Size);

  if (PoolType != code::BOOT_SERVICES_DATA) {
    Sim ().Violation ("AllocatePool of a pool type other than EfiBootServicesData");
  }

  if (EFI_ERROR (Status)) {
    return Status;
  }

  if ((Size == 0) && Sim ().AllocateZeroGivesNull) {
    *Buffer = nullptr;
    return EFI_SUCCESS;
  }

  if (Size > (UINTN)1 << 32) {
    return EFI_OUT_OF_RESOURCES;
  }

  *Buffer = std::malloc (Size == 0 ? 1 : Size);
  std::memset (*Buffer, 0xAF, Size);
  Sim ().Pool[*Buffer] = Size;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI
SimFreePool (
  VOID  *Buffer
  )
{
  EFI_STATUS  Status = Sim ().Enter (Call::FreePool);
  auto        Entry  = Sim ().Pool.find (Buffer);

  if (Entry == Sim ().Pool.end ()) {
    Sim ().Violation ("FreePool of a buffer that is not allocated");
    return EFI_INVALID_PARAMETER;
  }

  //
  // A failing FreePool still gives the buffer back in this model: the tool
  // does not look at the status, and the ledger tracks what it asked for.
  //
  std::free (Buffer);
  Sim ().Pool.erase (Entry);
  return Status;
}

EFI_STATUS EFIAPI
SimStall (
  UINTN  Microseconds
  )
{
  EFI_STATUS  Status = Sim ().Enter (Call::Stall);

  Sim ().Microseconds += Microseconds;
  Sim ().Timeline.push_back (Event { Event::Stall, u"", Microseconds, 0 });
  return Status;
}

SimFirmware::HandleEntry *
FindHandle (
  EFI_HANDLE      Handle,
  const EFI_GUID  *Protocol
  )
{
  for (SimFirmware::HandleEntry &Entry : Sim ().Handles) {
    if ((Entry.Handle == Handle) && SameGuid (Entry.Protocol, *Protocol)) {
      return &Entry;
    }
  }

  return nullptr;
}

EFI_STATUS EFIAPI
SimHandleProtocol (
  EFI_HANDLE      Handle,
  const EFI_GUID  *Protocol,
  VOID            **Interface
  )
{
  EFI_STATUS                Status = Sim ().Enter (Call::HandleProtocol);
  SimFirmware::HandleEntry  *Entry = FindHandle (Handle, Protocol);

  if (EFI_ERROR (Status)) {
    return Status;
  }

  if ((Entry == nullptr) || Entry->Refuse) {
    return EFI_UNSUPPORTED;
  }

  *Interface = Entry->Interface;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI
SimOpenProtocol (
  EFI_HANDLE      Handle,
  const EFI_GUID  *Protocol,
  VOID            **Interface,
  EFI_HANDLE      AgentHandle,
  EFI_HANDLE      ControllerHandle,
  UINT32          Attributes
  )
{
  EFI_STATUS                Status = Sim ().Enter (Call::OpenProtocol);
  SimFirmware::HandleEntry  *Entry = FindHandle (Handle, Protocol);

  if ((AgentHandle != Sim ().ImageHandle) || (ControllerHandle != nullptr) || (Attributes != code::OPEN_PROTOCOL_GET_PROTOCOL)) {
    Sim ().Violation ("OpenProtocol not as the image's own GET_PROTOCOL");
  }

  if (EFI_ERROR (Status)) {
    return Status;
  }

  if (Entry == nullptr) {
    return EFI_UNSUPPORTED;
  }

  *Interface = Entry->Interface;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI
SimLocateHandleBuffer (
  EFI_LOCATE_SEARCH_TYPE  SearchType,
  const EFI_GUID          *Protocol,
  VOID                    *SearchKey,
  UINTN                   *NoHandles,
  EFI_HANDLE              **Buffer
  )
{
  EFI_STATUS               Status = Sim ().Enter (Call::LocateHandleBuffer);
  std::vector<EFI_HANDLE>  Found;

  if ((SearchType != code::BY_PROTOCOL) || (SearchKey != nullptr)) {
    Sim ().Violation ("LocateHandleBuffer not ByProtocol without a key");
  }

  if (EFI_ERROR (Status)) {
    return Status;
  }

  for (const SimFirmware::HandleEntry &Entry : Sim ().Handles) {
    if (SameGuid (Entry.Protocol, *Protocol)) {
      Found.push_back (Entry.Handle);
    }
  }

  if (Found.empty ()) {
    return EFI_NOT_FOUND;
  }

  *Buffer = (EFI_HANDLE *)std::malloc (Found.size () * sizeof (EFI_HANDLE));
  std::memcpy (*Buffer, Found.data (), Found.size () * sizeof (EFI_HANDLE));
  Sim ().Pool[*Buffer] = Found.size () * sizeof (EFI_HANDLE);
  *NoHandles           = Found.size ();
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI
SimLocateProtocol (
  const EFI_GUID  *Protocol,
  VOID            *Registration,
  VOID            **Interface
  )
{
  EFI_STATUS  Status = Sim ().Enter (Call::LocateProtocol);

  if (Registration != nullptr) {
    Sim ().Violation ("LocateProtocol with a registration key");
  }

  if (EFI_ERROR (Status)) {
    return Status;
  }

  for (const SimFirmware::HandleEntry &Entry : Sim ().Handles) {
    if (SameGuid (Entry.Protocol, *Protocol)) {
      *Interface = Entry.Interface;
      return EFI_SUCCESS;
    }
  }

  return EFI_NOT_FOUND;
}

//
// The handle nearest the device the path leads to that carries Protocol: the
// one whose own device path is the longest run of whole nodes the path
// begins with. The path pointer moves past that run.
//
EFI_STATUS EFIAPI
SimLocateDevicePath (
  const EFI_GUID                  *Protocol,
  const EFI_DEVICE_PATH_PROTOCOL  **DevicePath,
  EFI_HANDLE                      *Device
  )
{
  EFI_STATUS  Status = Sim ().Enter (Call::LocateDevicePath);
  size_t      Best   = 0;
  size_t      Size;

  if ((Protocol == nullptr) || (DevicePath == nullptr) || (*DevicePath == nullptr) || (Device == nullptr)) {
    Sim ().Violation ("LocateDevicePath without a protocol, a device path or a place for the handle");
    return EFI_INVALID_PARAMETER;
  }

  if (EFI_ERROR (Status)) {
    return Status;
  }

  Size = DevicePathSize (*DevicePath);
  for (const SimFirmware::HandleEntry &Entry : Sim ().Handles) {
    const SimFirmware::HandleEntry  *Path = FindHandle (Entry.Handle, &gEfiDevicePathProtocolGuid);
    size_t                          Nodes;

    if (!SameGuid (Entry.Protocol, *Protocol) || (Path == nullptr)) {
      continue;
    }

    Nodes = DevicePathSize ((const EFI_DEVICE_PATH_PROTOCOL *)Path->Interface) - 4;
    if ((Nodes <= Size - 4) && (Nodes >= Best) && (std::memcmp (Path->Interface, *DevicePath, Nodes) == 0)) {
      Best    = Nodes;
      *Device = Entry.Handle;
    }
  }

  if (Best == 0) {
    return EFI_NOT_FOUND;
  }

  *DevicePath = (const EFI_DEVICE_PATH_PROTOCOL *)((const uint8_t *)*DevicePath + Best);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI
SimCalculateCrc32 (
  const VOID  *Data,
  UINTN       DataSize,
  UINT32      *Crc32
  )
{
  EFI_STATUS  Status = Sim ().Enter (Call::CalculateCrc32);

  if ((Data == nullptr) || (DataSize == 0) || (Crc32 == nullptr)) {
    Sim ().Violation ("CalculateCrc32 without data or a place for the result");
    return EFI_INVALID_PARAMETER;
  }

  if (EFI_ERROR (Status)) {
    return Status;
  }

  *Crc32 = harness::Crc32 ((const uint8_t *)Data, DataSize);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI
SimGetTime (
  EFI_TIME  *Time,
  VOID      *Capabilities
  )
{
  EFI_STATUS  Status  = Sim ().Enter (Call::GetTime);
  time_t      Seconds = (time_t)(Sim ().ClockBase + (int64_t)(Sim ().Microseconds / 1000000));
  struct tm   Calendar;

  if (Time == nullptr) {
    Sim ().Violation ("GetTime without a place for the time");
    return EFI_INVALID_PARAMETER;
  }

  (void)Capabilities;
  if (EFI_ERROR (Status)) {
    return Status;
  }

  gmtime_r (&Seconds, &Calendar);
  *Time          = EFI_TIME {};
  Time->Year     = (UINT16)(Calendar.tm_year + 1900);
  Time->Month    = (UINT8)(Calendar.tm_mon + 1);
  Time->Day      = (UINT8)Calendar.tm_mday;
  Time->Hour     = (UINT8)Calendar.tm_hour;
  Time->Minute   = (UINT8)Calendar.tm_min;
  Time->Second   = (UINT8)Calendar.tm_sec;
  Time->TimeZone = 2047;   // EFI_UNSPECIFIED_TIMEZONE, as a PC's clock answers
  return EFI_SUCCESS;
}

VOID EFIAPI
SimResetSystem (
  EFI_RESET_TYPE  ResetType,
  EFI_STATUS      ResetStatus,
  UINTN           DataSize,
  VOID            *ResetData
  )
{
  if ((ResetType != EfiResetCold) || (DataSize != 0) || (ResetData != nullptr) || Sim ().ResetStatus.has_value ()) {
    Sim ().Violation ("ResetSystem other than one plain cold reset");
  }

  Sim ().ResetStatus = ResetStatus;
}

bool
HandleExists (
  EFI_HANDLE  Handle
  )
{
  return std::any_of (Sim ().Handles.begin (), Sim ().Handles.end (), [Handle](const SimFirmware::HandleEntry &Entry) { return Entry.Handle == Handle; });
}

EFI_STATUS EFIAPI
SimInstallProtocolInterface (
  EFI_HANDLE          *Handle,
  const EFI_GUID      *Protocol,
  EFI_INTERFACE_TYPE  InterfaceType,
  VOID                *Interface
  )
{
  EFI_STATUS  Status = Sim ().Enter (Call::InstallProtocolInterface);

  if (!Sim ().ImageIsDriver) {
    Sim ().Violation ("InstallProtocolInterface by an application");
  }

  if ((Handle == nullptr) || (Protocol == nullptr) || (InterfaceType != code::NATIVE_INTERFACE)) {
    Sim ().Violation ("InstallProtocolInterface without a handle, a protocol or a native interface");
    return EFI_INVALID_PARAMETER;
  }

  if ((*Handle != nullptr) && (!HandleExists (*Handle) || (FindHandle (*Handle, Protocol) != nullptr))) {
    Sim ().Violation ("InstallProtocolInterface on a handle that does not exist or already has the protocol");
    return EFI_INVALID_PARAMETER;
  }

  if (EFI_ERROR (Status)) {
    return Status;
  }

  if (*Handle == nullptr) {
    *Handle = Sim ().NewHandle ();
  }

  Sim ().Handles.push_back ({ *Handle, *Protocol, Interface, false, true });
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI
SimUninstallProtocolInterface (
  EFI_HANDLE      Handle,
  const EFI_GUID  *Protocol,
  VOID            *Interface
  )
{
  EFI_STATUS                Status = Sim ().Enter (Call::UninstallProtocolInterface);
  SimFirmware::HandleEntry  *Entry = FindHandle (Handle, Protocol);

  if ((Entry == nullptr) || !Entry->ByImage || (Entry->Interface != Interface)) {
    Sim ().Violation ("UninstallProtocolInterface of an interface the image did not install");
    return EFI_NOT_FOUND;
  }

  if (EFI_ERROR (Status)) {
    return Status;
  }

  Sim ().Handles.erase (Sim ().Handles.begin () + (Entry - Sim ().Handles.data ()));
  return EFI_SUCCESS;
}

} // namespace

uint64_t
ExecuteSite (
  UINTN                Address,
  UINTN                Command,
  EFI_SMBUS_OPERATION  Operation
  )
{
  return ((uint64_t)(Address & 0x7F) << 40) | ((uint64_t)(Command & 0xFFFFFFFF) << 8) | (uint64_t)(Operation & 0xFF);
}

std::string
CallSiteName (
  const CallSite  &Site
  )
{
  static const char *const  Operations[] = {
    "QuickRead", "QuickWrite", "ReceiveByte", "SendByte", "ReadByte", "WriteByte", "ReadWord", "WriteWord",
    "ReadBlock", "WriteBlock", "ProcessCall", "BWBRProcessCall"
  };
  char                      Text[64];
  uint64_t                  Operation = Site.Detail & 0xFF;

  switch (Site.Kind) {
    case Call::Execute:
      std::snprintf (Text, sizeof (Text), " 0x%02llX 0x%02llX %s", (unsigned long long)(Site.Detail >> 40),
        (unsigned long long)((Site.Detail >> 8) & 0xFFFFFFFF), Operation < std::size (Operations) ? Operations[Operation] : "?");
      break;
    case Call::AllocatePool:
      std::snprintf (Text, sizeof (Text), " %llu bytes", (unsigned long long)Site.Detail);
      break;
    default:
      std::snprintf (Text, sizeof (Text), " 0x%llX", (unsigned long long)Site.Detail);
      if (Site.Detail == 0) {
        Text[0] = '\0';
      }

      break;
  }

  return CallName (Site.Kind) + std::string (Text);
}

const char *
CallName (
  Call  Kind
  )
{
  static const char *const  Names[] = {
    "OpenProtocol", "LocateHandleBuffer", "HandleProtocol", "LocateProtocol", "LocateDevicePath",
    "InstallProtocolInterface", "UninstallProtocolInterface", "AllocatePool",
    "FreePool", "Stall", "OutputString", "ClearScreen", "SetCursorPosition", "OpenVolume",
    "Open", "GetInfo", "Read", "Close", "Write", "Flush", "Delete", "CalculateCrc32", "GetTime", "SetPosition",
    "GetDevicePathFromMap", "GetMapFromDevicePath", "GetCurDir", "SetEnv", "Execute", "PortWrite", "PortRead"
  };

  static_assert (sizeof (Names) / sizeof (Names[0]) == (size_t)Call::Count, "a name for every call");
  return Names[(int)Kind];
}

EFI_STATUS
TypicalFailure (
  Call  Kind
  )
{
  switch (Kind) {
    case Call::AllocatePool:
    case Call::InstallProtocolInterface:
      return EFI_OUT_OF_RESOURCES;
    case Call::UninstallProtocolInterface:
      return EFI_ACCESS_DENIED;
    case Call::OpenProtocol:
    case Call::HandleProtocol:
      return EFI_UNSUPPORTED;
    case Call::LocateHandleBuffer:
    case Call::LocateProtocol:
    case Call::LocateDevicePath:
    case Call::Open:
    case Call::GetDevicePathFromMap:
    case Call::GetMapFromDevicePath:
    case Call::GetCurDir:
      return EFI_NOT_FOUND;
    case Call::FreePool:
    case Call::SetCursorPosition:
    case Call::CalculateCrc32:
      return EFI_INVALID_PARAMETER;
    case Call::GetTime:
    case Call::SetPosition:
      return EFI_DEVICE_ERROR;
    case Call::Write:
      return EFI_VOLUME_FULL;
    case Call::Delete:
      return EFI_WARN_DELETE_FAILURE;
    default:
      return EFI_DEVICE_ERROR;
  }
}

SimFirmware::SimFirmware (
  )
{
  Current = this;
  std::memset (&SystemTable, 0, sizeof (SystemTable));
  std::memset (&BootServices, 0, sizeof (BootServices));
  std::memset (&ConOut, 0, sizeof (ConOut));
  std::memset (&Mode, 0, sizeof (Mode));
  std::memset (&ShellParameters, 0, sizeof (ShellParameters));
  std::memset (&ShellInterface, 0, sizeof (ShellInterface));
  std::memset (&RuntimeServices, 0, sizeof (RuntimeServices));
  std::memset (&LoadedImage, 0, sizeof (LoadedImage));

  BootServices.AllocatePool               = SimAllocatePool;
  BootServices.FreePool                   = SimFreePool;
  BootServices.Stall                      = SimStall;
  BootServices.HandleProtocol             = SimHandleProtocol;
  BootServices.OpenProtocol               = SimOpenProtocol;
  BootServices.LocateHandleBuffer         = SimLocateHandleBuffer;
  BootServices.LocateProtocol             = SimLocateProtocol;
  BootServices.LocateDevicePath           = SimLocateDevicePath;
  BootServices.CalculateCrc32             = SimCalculateCrc32;
  BootServices.InstallProtocolInterface   = SimInstallProtocolInterface;
  BootServices.UninstallProtocolInterface = SimUninstallProtocolInterface;

  RuntimeServices.GetTime  = SimGetTime;
  RuntimeServices.ResetSystem = SimResetSystem;
  SystemTable.BootServices    = &BootServices;
  SystemTable.RuntimeServices = &RuntimeServices;
  SystemTable.ConOut          = &ConOut;
  ImageHandle                 = NewHandle ();
  //
  // The firmware puts EFI_LOADED_IMAGE_PROTOCOL on every image it starts.
  //
  LoadedImage.Revision      = 0x1000;
  LoadedImage.SystemTable   = &SystemTable;
  LoadedImage.ImageCodeType = EfiLoaderCode;
  LoadedImage.ImageDataType = EfiLoaderData;
  Handles.push_back ({ ImageHandle, gEfiLoadedImageProtocolGuid, &LoadedImage, false });
  Zk48Reset (&Chip, 0x10);
  InstallConsole ();
  InstallShell ();
  SetScreenSize (Columns, Rows);
}

SimFirmware::~SimFirmware (
  )
{
  for (auto &Entry : Pool) {
    std::free (Entry.first);
  }

  if (Current == this) {
    Current = nullptr;
  }
}

EFI_HANDLE
SimFirmware::NewHandle (
  )
{
  return (EFI_HANDLE)(uintptr_t)(NextHandle += 0x10);
}

void
SimFirmware::InstallTables (
  )
{
  Current      = this;
  gImageHandle = ImageHandle;
  gST          = &SystemTable;
  gBS          = &BootServices;
  gRT          = &RuntimeServices;
}

EFI_STATUS
SimFirmware::RunImage (
  )
{
  EFI_STATUS  Status;

  Current       = this;
  Status        = ModuleEntryPoint (ImageHandle, &SystemTable);
  ImageUnloaded = !ImageIsDriver || EFI_ERROR (Status);
  return Status;
}

void
SimFirmware::SetArguments (
  const std::vector<std::u16string>  &Argv,
  ArgumentSource                     Source
  )
{
  ArgStrings = Argv;
  ArgPointers.clear ();
  for (std::u16string &Arg : ArgStrings) {
    ArgPointers.push_back (Arg.data ());
  }

  ArgPointers.push_back (nullptr);
  ShellParameters.Argv = ArgPointers.data ();
  ShellParameters.Argc = ArgStrings.size ();
  ShellInterface.Argv  = ArgPointers.data ();
  ShellInterface.Argc  = ArgStrings.size ();

  std::erase_if (Handles, [this](const HandleEntry &Entry) {
    return (Entry.Handle == ImageHandle) && (Entry.Interface != &LoadedImage);
  });
  if (Source == ArgumentSource::ShellParameters) {
    Handles.push_back ({ ImageHandle, gEfiShellParametersProtocolGuid, &ShellParameters, false });
  } else if (Source == ArgumentSource::ShellInterface) {
    Handles.push_back ({ ImageHandle, gEfiShellInterfaceGuid, &ShellInterface, false });
  }
}

void
SimFirmware::SetLoadOptions (
  const std::vector<uint8_t>  &Bytes
  )
{
  LoadOptionBytes             = Bytes;
  LoadedImage.LoadOptionsSize = (UINT32)LoadOptionBytes.size ();
  LoadedImage.LoadOptions     = LoadOptionBytes.empty () ? nullptr : LoadOptionBytes.data ();
}

std::vector<uint8_t>
Ucs2Bytes (
  const std::u16string  &Text,
  bool                  Terminated
  )
{
  std::vector<uint8_t>  Bytes;

  for (char16_t Unit : Terminated ? Text + u'\0' : Text) {
    Bytes.push_back ((uint8_t)(Unit & 0xFF));
    Bytes.push_back ((uint8_t)(Unit >> 8));
  }

  return Bytes;
}

void
SimFirmware::Fail (
  FaultRule  Rule
  )
{
  if (Rule.Site == ANY_SITE) {
    Rule.Seen = (Rule.Kind == ANY_CALL) ? TotalCallCount : Calls[(int)Rule.Kind];
  }

  Rules.push_back (Rule);
}

//
// Port accesses have no status and cannot fail; they are counted apart
// from the firmware and bus calls.
//
EFI_STATUS
SimFirmware::Enter (
  Call      Kind,
  uint64_t  Detail
  )
{
  uint64_t  K;

  Calls[(int)Kind]++;
  if ((Kind == Call::PortWrite) || (Kind == Call::PortRead)) {
    return EFI_SUCCESS;
  }

  K = Count (Kind, Detail);
  return OverBudget (Kind, K) ? TypicalFailure (Kind) : ApplyRules (Kind, Detail, K);
}

// Counts a firmware or bus call over every kind; returns its position K.
uint64_t
SimFirmware::Count (
  Call      Kind,
  uint64_t  Detail
  )
{
  if (RecordCallSites) {
    CallSites.push_back ({ Kind, Detail });
  }

  Deliverable = UINT64_MAX;
  return ++TotalCallCount;
}

//
// A hang keeps calling. Past its budget every call fails, and the tool's
// bounded loops then end the run; one that keeps calling still is a hang
// no failure ends, and nothing is left to learn from it but where it is.
//
bool
SimFirmware::OverBudget (
  Call      Kind,
  uint64_t  K
  )
{
  if (K <= CallBudget) {
    return false;
  }

  if (K == CallBudget + 1) {
    Violation ("more than " + std::to_string (CallBudget) + " calls: the run does not end");
  }

  if (K - CallBudget > CallsPastBudget) {
    std::fprintf (stderr, "the run hangs: %llu calls past its budget of %llu, the last a %s\n",
      (unsigned long long)CallsPastBudget, (unsigned long long)CallBudget, CallName (Kind));
    std::abort ();
  }

  return true;
}

// The first failing rule that fires on the Kth call decides it, else the first short one; every matching rule counts it.
EFI_STATUS
SimFirmware::ApplyRules (
  Call      Kind,
  uint64_t  Detail,
  uint64_t  K
  )
{
  const FaultRule  *Failing = nullptr;
  const FaultRule  *Short   = nullptr;

  for (FaultRule &Rule : Rules) {
    bool  Matches = ((Rule.Kind == ANY_CALL) || (Rule.Kind == Kind)) && ((Rule.Site == ANY_SITE) || (Rule.Site == Detail));
    bool  Fires   = Matches && ((++Rule.Seen == Rule.Nth) || (Rule.FromOn && (Rule.Seen > Rule.Nth)));
    auto  &Slot   = Rule.Delivers.has_value () ? Short : Failing;

    if (Fires && (Slot == nullptr)) {
      Slot = &Rule;
    }
  }

  if (Failing != nullptr) {
    InjectedFailures++;
    Injected.push_back ({ Kind, K, (UINTN)Detail });
    return Failing->Status.value_or (TypicalFailure (Kind));
  }

  if (Short != nullptr) {
    Deliverable = *Short->Delivers;
  }

  return EFI_SUCCESS;
}

uint64_t
SimFirmware::TakeDeliverable (
  uint64_t  Asked
  )
{
  return std::min (Asked, Deliverable);
}

void
SimFirmware::Violation (
  const std::string  &What
  )
{
  Violations.push_back (What);
}

std::vector<std::string>
SimFirmware::LedgerProblems (
  ) const
{
  std::vector<std::string>  Problems;

  for (const auto &Entry : Pool) {
    Problems.push_back ("pool buffer of " + std::to_string (Entry.second) + " bytes not freed");
  }

  for (const auto &File : Files) {
    if (File->IsOpen) {
      Problems.push_back ("file handle not closed: " + (File->IsRoot ? std::string ("root directory") : Utf8 (File->Name)));
    }
  }

  for (const HandleEntry &Entry : Handles) {
    if (Entry.ByImage && ImageUnloaded) {
      Problems.push_back ("protocol interface left installed by an image that was unloaded");
    }
  }

  return Problems;
}

} // namespace harness
