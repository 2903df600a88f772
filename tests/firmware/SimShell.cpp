// The UEFI Shell's protocol as the tool meets it, and the device paths the
// shell and LocateDevicePath work with: each volume's one hardware node
// and the end node.
#include "tests/firmware/SimFirmware.h"

#include <cstring>

namespace harness {

namespace {

constexpr uint8_t  END_TYPE           = 0x7F;
constexpr uint8_t  END_ENTIRE_SUBTYPE = 0xFF;
constexpr uint8_t  HARDWARE_TYPE      = 0x01;
constexpr uint8_t  PCI_SUBTYPE        = 0x01;
constexpr uint8_t  PCI_NODE_LENGTH    = 6;
constexpr uint8_t  END_NODE_LENGTH    = 4;
// The device numbers the sim's disks take: volumes from here up, the bare block device apart.
constexpr uint8_t  FIRST_DISK_DEVICE  = 0x10;
constexpr uint8_t  BARE_DISK_DEVICE   = 0x1E;

SimShell &
ShellOf (
  )
{
  return *SimFirmware::Current->Shell;
}

char16_t
Upper (
  char16_t  Unit
  )
{
  return ((Unit >= u'a') && (Unit <= u'z')) ? (char16_t)(Unit - u'a' + u'A') : Unit;
}

bool
SameMapping (
  const std::u16string  &Name,
  std::u16string        Asked
  )
{
  if (Asked.empty () || (Asked.back () != u':')) {
    Asked += u':';
  }

  if (Name.size () != Asked.size ()) {
    return false;
  }

  for (size_t Index = 0; Index < Name.size (); Index++) {
    if (Upper (Name[Index]) != Upper (Asked[Index])) {
      return false;
    }
  }

  return true;
}

const std::vector<uint8_t> &
PathOfMapping (
  int  Volume
  )
{
  return (Volume < 0) ? BareBlockDevicePath () : SimFirmware::Current->Volumes[(size_t)Volume]->DevicePath;
}

const EFI_DEVICE_PATH_PROTOCOL * EFIAPI
SimGetDevicePathFromMap (
  const CHAR16  *Mapping
  )
{
  SimShell  &Shell = ShellOf ();

  if ((Mapping == nullptr) || (Mapping[0] == 0)) {
    Shell.Owner->Violation ("GetDevicePathFromMap without a mapping");
    return nullptr;
  }

  if (EFI_ERROR (Shell.Owner->Enter (Call::GetDevicePathFromMap))) {
    return nullptr;
  }

  for (const auto &Entry : Shell.Mappings) {
    if (SameMapping (Entry.first, Mapping)) {
      return (const EFI_DEVICE_PATH_PROTOCOL *)PathOfMapping (Entry.second).data ();
    }
  }

  return nullptr;
}

//
// Every mapping of the device the path names exactly, in the shell's order,
// separated by ";"; the path pointer is moved to the end node.
//
const CHAR16 * EFIAPI
SimGetMapFromDevicePath (
  EFI_DEVICE_PATH_PROTOCOL  **DevicePath
  )
{
  SimShell  &Shell = ShellOf ();
  size_t    Size;

  if ((DevicePath == nullptr) || (*DevicePath == nullptr)) {
    Shell.Owner->Violation ("GetMapFromDevicePath without a device path");
    return nullptr;
  }

  if (EFI_ERROR (Shell.Owner->Enter (Call::GetMapFromDevicePath))) {
    return nullptr;
  }

  Size = DevicePathSize (*DevicePath);
  Shell.MapAnswer.clear ();
  for (const auto &Entry : Shell.Mappings) {
    const std::vector<uint8_t>  &Path = PathOfMapping (Entry.second);

    if ((Path.size () == Size) && (std::memcmp (Path.data (), *DevicePath, Size) == 0)) {
      Shell.MapAnswer += (Shell.MapAnswer.empty () ? u"" : u";") + Entry.first;
    }
  }

  if (Shell.MapAnswer.empty ()) {
    return nullptr;
  }

  *DevicePath = (EFI_DEVICE_PATH_PROTOCOL *)((uint8_t *)*DevicePath + Size - END_NODE_LENGTH);
  return Shell.MapAnswer.c_str ();
}

const CHAR16 * EFIAPI
SimGetCurDir (
  const CHAR16  *FileSystemMapping
  )
{
  SimShell  &Shell = ShellOf ();

  if (FileSystemMapping != nullptr) {
    Shell.Owner->Violation ("GetCurDir of another mapping than the current one");
  }

  if (EFI_ERROR (Shell.Owner->Enter (Call::GetCurDir)) || Shell.CurrentDir.empty ()) {
    return nullptr;
  }

  return Shell.CurrentDir.c_str ();
}

//
// Variables as the shell keeps them: an empty value deletes one. The tool
// leaves nothing that outlives the boot.
//
EFI_STATUS EFIAPI
SimSetEnv (
  const CHAR16  *Name,
  const CHAR16  *Value,
  BOOLEAN       Volatile
  )
{
  SimShell    &Shell  = ShellOf ();
  EFI_STATUS  Status;

  if ((Name == nullptr) || (Name[0] == 0) || (Value == nullptr) || !Volatile) {
    Shell.Owner->Violation ("SetEnv without a name or a value, or not volatile");
    return EFI_INVALID_PARAMETER;
  }

  Status = Shell.Owner->Enter (Call::SetEnv);
  if (EFI_ERROR (Status)) {
    return Status;
  }

  if (Value[0] == 0) {
    Shell.Variables.erase (Name);
  } else {
    Shell.Variables[Name] = Value;
  }

  return EFI_SUCCESS;
}

} // namespace

size_t
DevicePathSize (
  const EFI_DEVICE_PATH_PROTOCOL  *DevicePath
  )
{
  const uint8_t  *Node = (const uint8_t *)DevicePath;
  size_t         Size  = 0;

  while (!((Node[Size] == END_TYPE) && (Node[Size + 1] == END_ENTIRE_SUBTYPE))) {
    Size += (size_t)(Node[Size + 2] | (Node[Size + 3] << 8));
  }

  return Size + END_NODE_LENGTH;
}

std::vector<uint8_t>
DiskDevicePath (
  int  Disk
  )
{
  return { HARDWARE_TYPE, PCI_SUBTYPE, PCI_NODE_LENGTH, 0, 0, (uint8_t)(FIRST_DISK_DEVICE + Disk), END_TYPE, END_ENTIRE_SUBTYPE, END_NODE_LENGTH, 0 };
}

const std::vector<uint8_t> &
BareBlockDevicePath (
  )
{
  static const std::vector<uint8_t>  Path = { HARDWARE_TYPE, PCI_SUBTYPE, PCI_NODE_LENGTH, 0, 0, BARE_DISK_DEVICE, END_TYPE, END_ENTIRE_SUBTYPE, END_NODE_LENGTH, 0 };

  return Path;
}

void
SimFirmware::InstallShell (
  )
{
  Shell                                = std::make_unique<SimShell> ();
  Shell->Protocol                      = EFI_SHELL_PROTOCOL {};
  Shell->Protocol.GetDevicePathFromMap = SimGetDevicePathFromMap;
  Shell->Protocol.GetMapFromDevicePath = SimGetMapFromDevicePath;
  Shell->Protocol.GetCurDir            = SimGetCurDir;
  Shell->Protocol.SetEnv               = SimSetEnv;
  Shell->Owner                         = this;
  Shell->Handle                        = NewHandle ();
  Handles.push_back ({ Shell->Handle, gEfiShellProtocolGuid, &Shell->Protocol, false });
}

void
SimFirmware::RemoveShell (
  )
{
  std::erase_if (Handles, [this](const HandleEntry &Entry) { return Entry.Handle == Shell->Handle; });
}

} // namespace harness
