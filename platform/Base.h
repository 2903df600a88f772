/** @file
  Base types of the UEFI standard: fixed-width integers, CHAR16, BOOLEAN,
  EFI_STATUS and its codes, GUIDs and the EFIAPI calling convention.
**/
#ifndef PLATFORM_BASE_H_
#define PLATFORM_BASE_H_

#include <stddef.h>
#include <stdint.h>

typedef uint8_t   UINT8;
typedef int8_t    INT8;
typedef uint16_t  UINT16;
typedef int16_t   INT16;
typedef uint32_t  UINT32;
typedef int32_t   INT32;
typedef uint64_t  UINT64;
typedef int64_t   INT64;
typedef uint64_t  UINTN;
typedef int64_t   INTN;
typedef char      CHAR8;
typedef char16_t  CHAR16;
typedef UINT8     BOOLEAN;
typedef void      VOID;

static_assert (sizeof (UINTN) == sizeof (void *), "the tool is built for x86-64 only");

#define TRUE   ((BOOLEAN)1)
#define FALSE  ((BOOLEAN)0)

//
// Firmware interfaces use the Microsoft x64 calling convention on every
// build, so the host tests call through the same convention as firmware.
//
#define EFIAPI  __attribute__((ms_abi))

typedef UINTN EFI_STATUS;
typedef VOID  *EFI_HANDLE;
typedef VOID  *EFI_EVENT;

struct EFI_GUID {
  UINT32    Data1;
  UINT16    Data2;
  UINT16    Data3;
  UINT8     Data4[8];
};

static_assert (sizeof (EFI_GUID) == 16, "EFI_GUID layout");

constexpr UINTN  MAX_BIT = 0x8000000000000000ULL;

constexpr EFI_STATUS  EFI_SUCCESS           = 0;
constexpr EFI_STATUS  EFI_WARN_DELETE_FAILURE = 2;
constexpr EFI_STATUS  EFI_LOAD_ERROR        = MAX_BIT | 1;
constexpr EFI_STATUS  EFI_INVALID_PARAMETER = MAX_BIT | 2;
constexpr EFI_STATUS  EFI_UNSUPPORTED       = MAX_BIT | 3;
constexpr EFI_STATUS  EFI_BAD_BUFFER_SIZE   = MAX_BIT | 4;
constexpr EFI_STATUS  EFI_BUFFER_TOO_SMALL  = MAX_BIT | 5;
constexpr EFI_STATUS  EFI_NOT_READY         = MAX_BIT | 6;
constexpr EFI_STATUS  EFI_DEVICE_ERROR      = MAX_BIT | 7;
constexpr EFI_STATUS  EFI_WRITE_PROTECTED   = MAX_BIT | 8;
constexpr EFI_STATUS  EFI_OUT_OF_RESOURCES  = MAX_BIT | 9;
constexpr EFI_STATUS  EFI_VOLUME_CORRUPTED  = MAX_BIT | 10;
constexpr EFI_STATUS  EFI_VOLUME_FULL       = MAX_BIT | 11;
constexpr EFI_STATUS  EFI_NO_MEDIA          = MAX_BIT | 12;
constexpr EFI_STATUS  EFI_NOT_FOUND         = MAX_BIT | 14;
constexpr EFI_STATUS  EFI_ACCESS_DENIED     = MAX_BIT | 15;
constexpr EFI_STATUS  EFI_NO_RESPONSE       = MAX_BIT | 16;
constexpr EFI_STATUS  EFI_TIMEOUT           = MAX_BIT | 18;
constexpr EFI_STATUS  EFI_CRC_ERROR         = MAX_BIT | 27;
constexpr EFI_STATUS  EFI_END_OF_FILE       = MAX_BIT | 31;

constexpr BOOLEAN
EFI_ERROR (
  EFI_STATUS  Status
  )
{
  return (Status & MAX_BIT) != 0;
}

#endif
