// The simulated firmware's boot services, handle database, pool ledger and
// call accounting.
#include "tests/firmware/SimFirmware.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "platform/UefiLib.h"
#include "tests/firmware/FirmwareCodes.h"

namespace sim {

SimFirmware *SimFirmware::Current = nullptr;

namespace {

// EFI_ABORTED, which the tool itself never returns: what RunImage gives for a run cut off.
constexpr EFI_STATUS  RUN_ABANDONED = MAX_BIT | 21;

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

  if (EFI_ERROR (Status)) {
    return Status;
  }

  if (PoolType != code::BOOT_SERVICES_DATA) {
    Sim ().Violation ("AllocatePool of a pool type other than EfiBootServicesData");
  }

  if (Size == Sim ().RefuseAllocationOfSize) {
    Sim ().InjectedFailures++;
    Sim ().Injected.push_back ({ Call::AllocatePool, Sim ().TotalCalls (), Size });
    return EFI_OUT_OF_RESOURCES;
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

  *Crc32 = sim::Crc32 ((const uint8_t *)Data, DataSize);
  return EFI_SUCCESS;
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
    "OpenProtocol", "LocateHandleBuffer", "HandleProtocol", "LocateProtocol",
    "InstallProtocolInterface", "UninstallProtocolInterface", "AllocatePool",
    "FreePool", "Stall", "OutputString", "ClearScreen", "SetCursorPosition", "OpenVolume",
    "Open", "GetInfo", "Read", "Close", "Write", "Flush", "Delete", "CalculateCrc32", "Execute", "PortWrite", "PortRead"
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
    case Call::Open:
      return EFI_NOT_FOUND;
    case Call::FreePool:
    case Call::SetCursorPosition:
    case Call::CalculateCrc32:
      return EFI_INVALID_PARAMETER;
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

  BootServices.AllocatePool               = SimAllocatePool;
  BootServices.FreePool                   = SimFreePool;
  BootServices.Stall                      = SimStall;
  BootServices.HandleProtocol             = SimHandleProtocol;
  BootServices.OpenProtocol               = SimOpenProtocol;
  BootServices.LocateHandleBuffer         = SimLocateHandleBuffer;
  BootServices.LocateProtocol             = SimLocateProtocol;
  BootServices.CalculateCrc32             = SimCalculateCrc32;
  BootServices.InstallProtocolInterface   = SimInstallProtocolInterface;
  BootServices.UninstallProtocolInterface = SimUninstallProtocolInterface;

  SystemTable.BootServices = &BootServices;
  SystemTable.ConOut       = &ConOut;
  ImageHandle              = NewHandle ();
  Zk48Reset (&Chip, 0x10);
  InstallConsole ();
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
  gRT          = nullptr;
}

EFI_STATUS
SimFirmware::RunImage (
  )
{
  std::jmp_buf  Abort;
  EFI_STATUS    Status;

  //
  // Nothing here between setjmp and the entry point that a jump back would
  // have to destroy: the jump buffer and the status are plain data.
  //
  Current       = this;
  RunAbort      = &Abort;
  ImageUnloaded = true;
  if (setjmp (Abort) != 0) {
    RunAbort = nullptr;
    return RUN_ABANDONED;
  }

  Status        = ModuleEntryPoint (ImageHandle, &SystemTable);
  RunAbort      = nullptr;
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

  std::erase_if (Handles, [this](const HandleEntry &Entry) { return Entry.Handle == ImageHandle; });
  if (Source == ArgumentSource::ShellParameters) {
    Handles.push_back ({ ImageHandle, gEfiShellParametersProtocolGuid, &ShellParameters, false });
  } else if (Source == ArgumentSource::ShellInterface) {
    Handles.push_back ({ ImageHandle, gEfiShellInterfaceGuid, &ShellInterface, false });
  }
}

void
SimFirmware::FailCall (
  Call        Kind,
  uint64_t    Nth,
  EFI_STATUS  Status
  )
{
  Faults.push_back ({ Kind, Nth, Status });
}

void
SimFirmware::FailCallsFrom (
  Call        Kind,
  uint64_t    Nth,
  EFI_STATUS  Status
  )
{
  Faults.push_back ({ Kind, Nth, Status, true });
}

void
SimFirmware::FailGlobalCall (
  uint64_t  K,
  bool      FromOn
  )
{
  GlobalFaultAt     = K;
  GlobalFaultFromOn = FromOn;
}

EFI_STATUS
SimFirmware::Enter (
  Call      Kind,
  uint64_t  Detail
  )
{
  uint64_t  Nth  = ++Calls[(int)Kind];
  UINTN     Size = (UINTN)Detail;
  uint64_t  K;

  //
  // Port accesses have no status and cannot fail; they are counted apart
  // from the firmware and bus calls.
  //
  if ((Kind == Call::PortWrite) || (Kind == Call::PortRead)) {
    return EFI_SUCCESS;
  }

  K = ++TotalCallCount;
  if (RecordCallSites) {
    CallSites.push_back ({ Kind, Detail });
  }

  //
  // A hang would keep calling; failing the calls need not end it (a poll
  // reads a failed read as "not ready"), so the run is left by a jump.
  // longjmp destroys nothing on the frames it passes: the thunk that called
  // here holds no object that owns memory yet (Enter comes first), the
  // tool's frames hold none at all (the product_trivial_destructors test
  // keeps it so) and RunImage's frame holds only the jump buffer.
  //
  if (K > CallBudget) {
    if (K == CallBudget + 1) {
      Violation ("more than " + std::to_string (CallBudget) + " calls: the run does not end");
    }

    if (RunAbort != nullptr) {
      std::longjmp (*RunAbort, 1);
    }

    return TypicalFailure (Kind);
  }

  for (const CallFault &Fault : Faults) {
    if ((Fault.Kind == Kind) && ((Fault.Nth == 0) || (Fault.Nth == Nth) || (Fault.FromOn && (Nth > Fault.Nth)))) {
      InjectedFailures++;
      Injected.push_back ({ Kind, K, Size });
      return Fault.Status;
    }
  }

  if ((GlobalFaultAt != 0) && ((K == GlobalFaultAt) || (GlobalFaultFromOn && (K > GlobalFaultAt)))) {
    InjectedFailures++;
    Injected.push_back ({ Kind, K, Size });
    return TypicalFailure (Kind);
  }

  return EFI_SUCCESS;
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

uint32_t
Crc32 (
  const uint8_t  *Data,
  size_t         Size
  )
{
  uint32_t  Crc = 0xFFFFFFFF;

  for (size_t Index = 0; Index < Size; Index++) {
    Crc ^= Data[Index];
    for (int Bit = 0; Bit < 8; Bit++) {
      Crc = (Crc & 1) ? (Crc >> 1) ^ 0xEDB88320 : Crc >> 1;
    }
  }

  return ~Crc;
}

std::vector<uint8_t>
MakeImage (
  uint8_t  Version,
  size_t   Size
  )
{
  std::vector<uint8_t>  Image (Size);

  for (size_t Index = 0; Index < Size; Index++) {
    Image[Index] = (uint8_t)((Index * 7) ^ (Index >> 8));
  }

  if (Size > 0x112F) {
    Image[0x112F] = Version;
  }

  return Image;
}

std::string
Utf8 (
  const std::u16string  &Text
  )
{
  std::string  Out;

  for (char16_t Unit : Text) {
    if (Unit < 0x80) {
      Out += (char)Unit;
    } else if (Unit < 0x800) {
      Out += (char)(0xC0 | (Unit >> 6));
      Out += (char)(0x80 | (Unit & 0x3F));
    } else {
      Out += (char)(0xE0 | (Unit >> 12));
      Out += (char)(0x80 | ((Unit >> 6) & 0x3F));
      Out += (char)(0x80 | (Unit & 0x3F));
    }
  }

  return Out;
}

} // namespace sim
