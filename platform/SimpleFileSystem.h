/** @file
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL, EFI_FILE_PROTOCOL and EFI_FILE_INFO:
  what the image load needs to read one file from a FAT volume, the
  backup to create, write, flush and, when it fails, delete one, and the
  record of a run to append a line to one.
**/
#ifndef PLATFORM_SIMPLE_FILE_SYSTEM_H_
#define PLATFORM_SIMPLE_FILE_SYSTEM_H_

#include "platform/Base.h"
#include "platform/SystemTable.h"

inline constexpr EFI_GUID  gEfiSimpleFileSystemProtocolGuid = {
  0x964e5b22, 0x6459, 0x11d2, { 0x8e, 0x39, 0x00, 0xa0, 0xc9, 0x69, 0x72, 0x3b }
};

inline constexpr EFI_GUID  gEfiFileInfoGuid = {
  0x09576e92, 0x6d3f, 0x11d2, { 0x8e, 0x39, 0x00, 0xa0, 0xc9, 0x69, 0x72, 0x3b }
};

constexpr UINT64  EFI_FILE_MODE_READ   = 0x0000000000000001ULL;
constexpr UINT64  EFI_FILE_MODE_WRITE  = 0x0000000000000002ULL;
constexpr UINT64  EFI_FILE_MODE_CREATE = 0x8000000000000000ULL;

struct EFI_FILE_PROTOCOL;

typedef EFI_STATUS (EFIAPI *EFI_FILE_OPEN)(EFI_FILE_PROTOCOL *This, EFI_FILE_PROTOCOL **NewHandle, const CHAR16 *FileName, UINT64 OpenMode, UINT64 Attributes);
typedef EFI_STATUS (EFIAPI *EFI_FILE_CLOSE)(EFI_FILE_PROTOCOL *This);
typedef EFI_STATUS (EFIAPI *EFI_FILE_READ)(EFI_FILE_PROTOCOL *This, UINTN *BufferSize, VOID *Buffer);
typedef EFI_STATUS (EFIAPI *EFI_FILE_DELETE)(EFI_FILE_PROTOCOL *This);
typedef EFI_STATUS (EFIAPI *EFI_FILE_WRITE)(EFI_FILE_PROTOCOL *This, UINTN *BufferSize, const VOID *Buffer);
typedef EFI_STATUS (EFIAPI *EFI_FILE_FLUSH)(EFI_FILE_PROTOCOL *This);
typedef EFI_STATUS (EFIAPI *EFI_FILE_SET_POSITION)(EFI_FILE_PROTOCOL *This, UINT64 Position);
typedef EFI_STATUS (EFIAPI *EFI_FILE_GET_INFO)(EFI_FILE_PROTOCOL *This, const EFI_GUID *InformationType, UINTN *BufferSize, VOID *Buffer);

struct EFI_FILE_PROTOCOL {
  UINT64                   Revision;
  EFI_FILE_OPEN            Open;
  EFI_FILE_CLOSE           Close;
  EFI_FILE_DELETE          Delete;
  EFI_FILE_READ            Read;
  EFI_FILE_WRITE           Write;
  VOID                     *GetPosition;
  EFI_FILE_SET_POSITION    SetPosition;
  EFI_FILE_GET_INFO        GetInfo;
  VOID                     *SetInfo;
  EFI_FILE_FLUSH           Flush;
};

// NOLINTBEGIN(readability-magic-numbers): the offsets the standard gives
static_assert (__builtin_offsetof (EFI_FILE_PROTOCOL, Open) == 8, "file protocol layout");
static_assert (__builtin_offsetof (EFI_FILE_PROTOCOL, Close) == 16, "file protocol layout");
static_assert (__builtin_offsetof (EFI_FILE_PROTOCOL, Delete) == 24, "file protocol layout");
static_assert (__builtin_offsetof (EFI_FILE_PROTOCOL, Read) == 32, "file protocol layout");
static_assert (__builtin_offsetof (EFI_FILE_PROTOCOL, Write) == 40, "file protocol layout");
static_assert (__builtin_offsetof (EFI_FILE_PROTOCOL, SetPosition) == 56, "file protocol layout");
static_assert (__builtin_offsetof (EFI_FILE_PROTOCOL, GetInfo) == 64, "file protocol layout");
static_assert (__builtin_offsetof (EFI_FILE_PROTOCOL, Flush) == 80, "file protocol layout");
// NOLINTEND(readability-magic-numbers)

struct EFI_SIMPLE_FILE_SYSTEM_PROTOCOL;

typedef EFI_STATUS (EFIAPI *EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_OPEN_VOLUME)(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *This, EFI_FILE_PROTOCOL **Root);

struct EFI_SIMPLE_FILE_SYSTEM_PROTOCOL {
  UINT64                                         Revision;
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_OPEN_VOLUME    OpenVolume;
};

struct EFI_FILE_INFO {
  UINT64      Size;
  UINT64      FileSize;
  UINT64      PhysicalSize;
  EFI_TIME    CreateTime;
  EFI_TIME    LastAccessTime;
  EFI_TIME    ModificationTime;
  UINT64      Attribute;
  CHAR16      FileName[1];
};

// NOLINTBEGIN(readability-magic-numbers): the offsets and codes the standard gives
static_assert (__builtin_offsetof (EFI_FILE_INFO, FileSize) == 8, "file info layout");
static_assert (__builtin_offsetof (EFI_FILE_INFO, FileName) == 80, "file info layout");
// NOLINTEND(readability-magic-numbers)

#endif
