// Boot loader for the QEMU end-to-end tests.
//
// qemu_shell.py puts this program on the test disk as \EFI\BOOT\BOOTX64.EFI.
// The firmware boots it before its built-in UEFI Shell boot option; it finds
// that same built-in shell in the firmware volumes and starts it with the
// options "-delay 0", so startup.nsh runs at once instead of after the
// shell's "Press ESC in 5 seconds" countdown (which costs at least 1 s even
// when a key is sent). When the shell exits, the machine powers off so that
// the firmware does not boot the next boot option and run startup.nsh again.
//
// It stands alone, apart from the tool's sources, so that a fault in those
// cannot stop the suite from booting. Build (done by qemu_shell.py):
//   clang++ --target=x86_64-unknown-windows -ffreestanding -fno-exceptions -fno-rtti
//           -mno-red-zone -mno-stack-arg-probe -std=c++20 -O1 -c shell_boot.cpp
//   lld-link /subsystem:efi_application /entry:efi_main /nodefaultlib /out:shell_boot.efi shell_boot.o
#include <stdint.h>

#define EFIAPI  __attribute__((ms_abi))

namespace {

typedef uint64_t  EFI_STATUS;
typedef void      *EFI_HANDLE;
typedef uint8_t   BOOLEAN;
typedef uint64_t  UINTN;

constexpr EFI_STATUS  EFI_SUCCESS   = 0;
constexpr EFI_STATUS  EFI_NOT_FOUND = 0x800000000000000EULL;

struct EFI_GUID {
  uint32_t    Data1;
  uint16_t    Data2;
  uint16_t    Data3;
  uint8_t     Data4[8];
};

struct EFI_LOADED_IMAGE_PROTOCOL {
  uint32_t      Revision;
  EFI_HANDLE    ParentHandle;
  void          *SystemTable;
  EFI_HANDLE    DeviceHandle;
  void          *FilePath;
  void          *Reserved;
  uint32_t      LoadOptionsSize;
  void          *LoadOptions;
};

typedef EFI_STATUS (EFIAPI *EFI_HANDLE_PROTOCOL)(EFI_HANDLE Handle, const EFI_GUID *Protocol, void **Interface);
typedef EFI_STATUS (EFIAPI *EFI_IMAGE_LOAD)(BOOLEAN BootPolicy, EFI_HANDLE ParentImageHandle, void *DevicePath, void *SourceBuffer, UINTN SourceSize, EFI_HANDLE *ImageHandle);
typedef EFI_STATUS (EFIAPI *EFI_IMAGE_START)(EFI_HANDLE ImageHandle, UINTN *ExitDataSize, char16_t **ExitData);
typedef EFI_STATUS (EFIAPI *EFI_SET_WATCHDOG_TIMER)(UINTN Timeout, uint64_t WatchdogCode, UINTN DataSize, char16_t *WatchdogData);
typedef EFI_STATUS (EFIAPI *EFI_LOCATE_HANDLE_BUFFER)(uint32_t SearchType, const EFI_GUID *Protocol, void *SearchKey, UINTN *NoHandles, EFI_HANDLE **Buffer);
typedef void (EFIAPI *EFI_RESET_SYSTEM)(uint32_t ResetType, EFI_STATUS ResetStatus, UINTN DataSize, void *ResetData);

// Only the members used here are named; the others keep their places.
struct EFI_BOOT_SERVICES {
  uint8_t                     Header[24];
  void                        *Unused1[16];
  EFI_HANDLE_PROTOCOL         HandleProtocol;
  void                        *Unused2[5];
  EFI_IMAGE_LOAD              LoadImage;
  EFI_IMAGE_START             StartImage;
  void                        *Unused3[5];
  EFI_SET_WATCHDOG_TIMER      SetWatchdogTimer;
  void                        *Unused4[6];
  EFI_LOCATE_HANDLE_BUFFER    LocateHandleBuffer;
};

struct EFI_RUNTIME_SERVICES {
  uint8_t             Header[24];
  void                *Unused[10];
  EFI_RESET_SYSTEM    ResetSystem;
};

struct EFI_SYSTEM_TABLE {
  uint8_t                 Header[24];
  void                    *Unused[8];
  EFI_RUNTIME_SERVICES    *RuntimeServices;
  EFI_BOOT_SERVICES       *BootServices;
};

static_assert (__builtin_offsetof (EFI_BOOT_SERVICES, HandleProtocol) == 152, "boot services layout");
static_assert (__builtin_offsetof (EFI_BOOT_SERVICES, LoadImage) == 200, "boot services layout");
static_assert (__builtin_offsetof (EFI_BOOT_SERVICES, SetWatchdogTimer) == 256, "boot services layout");
static_assert (__builtin_offsetof (EFI_BOOT_SERVICES, LocateHandleBuffer) == 312, "boot services layout");
static_assert (__builtin_offsetof (EFI_RUNTIME_SERVICES, ResetSystem) == 104, "runtime services layout");
static_assert (__builtin_offsetof (EFI_SYSTEM_TABLE, RuntimeServices) == 88, "system table layout");
static_assert (__builtin_offsetof (EFI_SYSTEM_TABLE, BootServices) == 96, "system table layout");

constexpr uint32_t  BY_PROTOCOL     = 2;
constexpr uint32_t  RESET_SHUTDOWN  = 2;

constexpr uint8_t   END_DEVICE_PATH_TYPE     = 0x7F;
constexpr uint8_t   END_ENTIRE_DEVICE_PATH   = 0xFF;
constexpr uint8_t   MEDIA_DEVICE_PATH        = 0x04;
constexpr uint8_t   MEDIA_PIWG_FW_FILE       = 0x06;
constexpr uint8_t   DEVICE_PATH_HEADER_SIZE  = 4;
constexpr uint8_t   FW_FILE_NODE_SIZE        = DEVICE_PATH_HEADER_SIZE + sizeof (EFI_GUID);

constexpr EFI_GUID  FIRMWARE_VOLUME2_GUID = { 0x220e73b6, 0x6bdb, 0x4413, { 0x84, 0x05, 0xb9, 0x74, 0xb1, 0x08, 0x61, 0x9a } };
constexpr EFI_GUID  DEVICE_PATH_GUID      = { 0x09576e91, 0x6d3f, 0x11d2, { 0x8e, 0x39, 0x00, 0xa0, 0xc9, 0x69, 0x72, 0x3b } };
constexpr EFI_GUID  LOADED_IMAGE_GUID     = { 0x5b1b31a1, 0x9562, 0x11d2, { 0x8e, 0x3f, 0x00, 0xa0, 0xc9, 0x69, 0x72, 0x3b } };
// The file name of the UEFI Shell application inside the firmware volume.
constexpr EFI_GUID  SHELL_FILE_GUID       = { 0x7c04a583, 0x9e3e, 0x4f1c, { 0xad, 0x65, 0xe0, 0x52, 0x68, 0xd0, 0xb4, 0xd1 } };

// The shell reads its options from argv[0] on, skipping a non-option argv[0].
char16_t  mShellOptions[] = u"Shell.efi -delay 0";

uint8_t   mShellPath[512];

uint8_t *
PutNode (
  uint8_t  *Node,
  uint8_t  Type,
  uint8_t  SubType,
  uint8_t  Length
  )
{
  Node[0] = Type;
  Node[1] = SubType;
  Node[2] = Length;
  Node[3] = 0;
  return Node + DEVICE_PATH_HEADER_SIZE;
}

//
// The volume's device path without its end node, then an FvFile(shell)
// node and an end node. FALSE when it does not fit.
//
bool
MakeShellPath (
  const uint8_t  *VolumePath
  )
{
  uint32_t  Size = 0;

  for (const uint8_t *Node = VolumePath; Node[0] != END_DEVICE_PATH_TYPE; ) {
    uint32_t  Length = Node[2] | (Node[3] << 8);

    if ((Length < DEVICE_PATH_HEADER_SIZE) || (Size + Length + FW_FILE_NODE_SIZE + DEVICE_PATH_HEADER_SIZE > sizeof (mShellPath))) {
      return false;
    }

    for (uint32_t Index = 0; Index < Length; Index++) {
      mShellPath[Size++] = Node[Index];
    }

    Node += Length;
  }

  uint8_t        *File = PutNode (mShellPath + Size, MEDIA_DEVICE_PATH, MEDIA_PIWG_FW_FILE, FW_FILE_NODE_SIZE);
  const uint8_t  *Guid = reinterpret_cast<const uint8_t *>(&SHELL_FILE_GUID);

  for (uint32_t Index = 0; Index < sizeof (EFI_GUID); Index++) {
    File[Index] = Guid[Index];
  }

  PutNode (File + sizeof (EFI_GUID), END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH, DEVICE_PATH_HEADER_SIZE);
  return true;
}

// Loads the shell from the volume, with the options above; NULL when it is not there.
EFI_HANDLE
LoadShell (
  EFI_HANDLE         Self,
  EFI_BOOT_SERVICES  *BootServices,
  EFI_HANDLE         Volume
  )
{
  uint8_t                    *VolumePath = nullptr;
  EFI_HANDLE                 Shell       = nullptr;
  EFI_LOADED_IMAGE_PROTOCOL  *Image      = nullptr;

  if ((BootServices->HandleProtocol (Volume, &DEVICE_PATH_GUID, (void **)&VolumePath) != EFI_SUCCESS) || !MakeShellPath (VolumePath)) {
    return nullptr;
  }

  if (BootServices->LoadImage (0, Self, mShellPath, nullptr, 0, &Shell) != EFI_SUCCESS) {
    return nullptr;
  }

  if (BootServices->HandleProtocol (Shell, &LOADED_IMAGE_GUID, (void **)&Image) == EFI_SUCCESS) {
    Image->LoadOptions     = mShellOptions;
    Image->LoadOptionsSize = sizeof (mShellOptions);
  }

  return Shell;
}

} // namespace

extern "C" EFI_STATUS EFIAPI
efi_main (
  EFI_HANDLE        Self,
  EFI_SYSTEM_TABLE  *SystemTable
  )
{
  EFI_BOOT_SERVICES  *BootServices = SystemTable->BootServices;
  UINTN              Count         = 0;
  EFI_HANDLE         *Volumes      = nullptr;

  // The boot manager armed a 5 minute watchdog for this boot option.
  BootServices->SetWatchdogTimer (0, 0, 0, nullptr);

  if (BootServices->LocateHandleBuffer (BY_PROTOCOL, &FIRMWARE_VOLUME2_GUID, nullptr, &Count, &Volumes) != EFI_SUCCESS) {
    return EFI_NOT_FOUND;
  }

  for (UINTN Index = 0; Index < Count; Index++) {
    EFI_HANDLE  Shell = LoadShell (Self, BootServices, Volumes[Index]);

    if (Shell != nullptr) {
      EFI_STATUS  Status = BootServices->StartImage (Shell, nullptr, nullptr);

      SystemTable->RuntimeServices->ResetSystem (RESET_SHUTDOWN, Status, 0, nullptr);
      return Status;
    }
  }

  // Not found: the firmware falls back to its own shell boot option.
  return EFI_NOT_FOUND;
}
