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
// Build (done by qemu_shell.py):
//   clang++ --target=x86_64-unknown-windows -ffreestanding -fno-exceptions -fno-rtti
//           -mno-red-zone -mno-stack-arg-probe -std=c++20 -O1 -c shell_boot.cpp
//   lld-link /subsystem:efi_application /entry:efi_main /nodefaultlib /out:shell_boot.efi shell_boot.o
#include <stdint.h>

namespace {

using Status = uint64_t;
using Handle = void*;
using Fn = void*;

constexpr Status kNotFound = 0x800000000000000Eull;

struct Guid {
  uint32_t a;
  uint16_t b, c;
  uint8_t d[8];
};

struct LoadedImage {
  uint32_t revision;
  Handle parent;
  void* system_table;
  Handle device;
  void* file_path;
  void* reserved;
  uint32_t load_options_size;
  void* load_options;
};

// Only the members used here are named; the function tables are indexed.
struct BootServices {
  uint8_t header[24];
  Fn fn[44];
};
struct RuntimeServices {
  uint8_t header[24];
  Fn fn[14];
};
struct SystemTable {
  uint8_t header[24];
  void* firmware_vendor;
  uint32_t firmware_revision;
  uint32_t padding;
  Handle console_in_handle;
  void* con_in;
  Handle console_out_handle;
  void* con_out;
  Handle standard_error_handle;
  void* std_err;
  RuntimeServices* runtime;
  BootServices* boot;
};

enum BootFn : int {
  kHandleProtocol = 16,
  kLoadImage = 22,
  kStartImage = 23,
  kSetWatchdogTimer = 29,
  kLocateHandleBuffer = 36,
};
constexpr int kResetSystem = 10;
constexpr int kByProtocol = 2;
constexpr uint32_t kResetShutdown = 2;

constexpr Guid kFirmwareVolume2 = {0x220e73b6, 0x6bdb, 0x4413, {0x84, 0x05, 0xb9, 0x74, 0xb1, 0x08, 0x61, 0x9a}};
constexpr Guid kDevicePath = {0x09576e91, 0x6d3f, 0x11d2, {0x8e, 0x39, 0x00, 0xa0, 0xc9, 0x69, 0x72, 0x3b}};
constexpr Guid kLoadedImage = {0x5b1b31a1, 0x9562, 0x11d2, {0x8e, 0x3f, 0x00, 0xa0, 0xc9, 0x69, 0x72, 0x3b}};
// File name GUID of the UEFI Shell application inside the firmware volume.
constexpr Guid kShellFile = {0x7c04a583, 0x9e3e, 0x4f1c, {0xad, 0x65, 0xe0, 0x52, 0x68, 0xd0, 0xb4, 0xd1}};

// The shell reads its options from argv[0] on, skipping a non-option argv[0].
char16_t shell_options[] = u"Shell.efi -delay 0";

uint8_t shell_path[512];

// Copies the volume's device path without its end node, appends an
// FvFile(shell) node and an end node. Returns false if it does not fit.
bool make_shell_path(const uint8_t* volume) {
  uint32_t n = 0;
  for (const uint8_t* node = volume; node[0] != 0x7f;) {
    uint32_t len = node[2] | (node[3] << 8);
    if (len < 4 || n + len + 24 > sizeof shell_path) return false;
    for (uint32_t k = 0; k < len; ++k) shell_path[n++] = node[k];
    node += len;
  }
  uint8_t* file = shell_path + n;
  file[0] = 0x04;  // media device path
  file[1] = 0x06;  // firmware file
  file[2] = 20;
  file[3] = 0;
  const uint8_t* guid = reinterpret_cast<const uint8_t*>(&kShellFile);
  for (int k = 0; k < 16; ++k) file[4 + k] = guid[k];
  uint8_t* end = file + 20;
  end[0] = 0x7f;
  end[1] = 0xff;
  end[2] = 4;
  end[3] = 0;
  return true;
}

}  // namespace

extern "C" Status efi_main(Handle self, SystemTable* st) {
  BootServices* bs = st->boot;
  auto handle_protocol = reinterpret_cast<Status (*)(Handle, const Guid*, void**)>(bs->fn[kHandleProtocol]);
  auto load_image = reinterpret_cast<Status (*)(bool, Handle, void*, void*, uint64_t, Handle*)>(bs->fn[kLoadImage]);
  auto start_image = reinterpret_cast<Status (*)(Handle, uint64_t*, char16_t**)>(bs->fn[kStartImage]);
  auto set_watchdog = reinterpret_cast<Status (*)(uint64_t, uint64_t, uint64_t, char16_t*)>(bs->fn[kSetWatchdogTimer]);
  auto locate_handles =
      reinterpret_cast<Status (*)(int, const Guid*, void*, uint64_t*, Handle**)>(bs->fn[kLocateHandleBuffer]);
  auto reset_system = reinterpret_cast<void (*)(uint32_t, Status, uint64_t, void*)>(st->runtime->fn[kResetSystem]);

  // The boot manager armed a 5 minute watchdog for this boot option.
  set_watchdog(0, 0, 0, nullptr);

  uint64_t count = 0;
  Handle* volumes = nullptr;
  if (locate_handles(kByProtocol, &kFirmwareVolume2, nullptr, &count, &volumes) != 0) return kNotFound;
  for (uint64_t i = 0; i < count; ++i) {
    uint8_t* volume_path = nullptr;
    if (handle_protocol(volumes[i], &kDevicePath, reinterpret_cast<void**>(&volume_path)) != 0) continue;
    if (!make_shell_path(volume_path)) continue;
    Handle shell = nullptr;
    if (load_image(false, self, shell_path, nullptr, 0, &shell) != 0) continue;
    LoadedImage* image = nullptr;
    if (handle_protocol(shell, &kLoadedImage, reinterpret_cast<void**>(&image)) == 0) {
      image->load_options = shell_options;
      image->load_options_size = sizeof shell_options;
    }
    Status status = start_image(shell, nullptr, nullptr);
    reset_system(kResetShutdown, status, 0, nullptr);
    return status;
  }
  // Not found: the firmware falls back to its own shell boot option.
  return kNotFound;
}
