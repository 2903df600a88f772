// The codes the simulated firmware judges the tool's calls by, written as
// firmware numbers them rather than taken from platform/: a misnumbered
// declaration there would agree with itself here and pass every host test.
// tests/facts/ holds each of them against gnu-efi.
#ifndef TESTS_FIRMWARE_FIRMWARE_CODES_H_
#define TESTS_FIRMWARE_FIRMWARE_CODES_H_

#include <cstdint>

namespace harness::code {

constexpr uint32_t  BOOT_SERVICES_DATA         = 4;       // EfiBootServicesData: an application's pool
constexpr uint32_t  BY_PROTOCOL                = 2;       // EFI_LOCATE_SEARCH_TYPE
constexpr uint32_t  NATIVE_INTERFACE           = 0;       // EFI_INTERFACE_TYPE
constexpr uint32_t  OPEN_PROTOCOL_GET_PROTOCOL = 0x00000002;
constexpr uint64_t  FILE_MODE_READ             = 0x0000000000000001ULL;
constexpr uint64_t  FILE_MODE_WRITE            = 0x0000000000000002ULL;
constexpr uint64_t  FILE_MODE_CREATE           = 0x8000000000000000ULL;

} // namespace harness::code

#endif
