/** @file
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, the console the tool writes to.
**/
#ifndef PLATFORM_SIMPLE_TEXT_OUT_H_
#define PLATFORM_SIMPLE_TEXT_OUT_H_

#include "platform/Base.h"

struct EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL;

struct EFI_SIMPLE_TEXT_OUTPUT_MODE {
  INT32      MaxMode;
  INT32      Mode;
  INT32      Attribute;
  INT32      CursorColumn;
  INT32      CursorRow;
  BOOLEAN    CursorVisible;
};

typedef EFI_STATUS (EFIAPI *EFI_TEXT_STRING)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, const CHAR16 *String);
typedef EFI_STATUS (EFIAPI *EFI_TEXT_CLEAR_SCREEN)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This);
typedef EFI_STATUS (EFIAPI *EFI_TEXT_SET_CURSOR_POSITION)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, UINTN Column, UINTN Row);

struct EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL {
  VOID                            *Reset;
  EFI_TEXT_STRING                 OutputString;
  VOID                            *TestString;
  VOID                            *QueryMode;
  VOID                            *SetMode;
  VOID                            *SetAttribute;
  EFI_TEXT_CLEAR_SCREEN           ClearScreen;
  EFI_TEXT_SET_CURSOR_POSITION    SetCursorPosition;
  VOID                            *EnableCursor;
  EFI_SIMPLE_TEXT_OUTPUT_MODE     *Mode;
};

// NOLINTBEGIN(readability-magic-numbers): the offsets and codes the standard gives
static_assert (__builtin_offsetof (EFI_SIMPLE_TEXT_OUTPUT_MODE, CursorColumn) == 12, "Mode layout");
static_assert (__builtin_offsetof (EFI_SIMPLE_TEXT_OUTPUT_MODE, CursorRow) == 16, "Mode layout");
static_assert (__builtin_offsetof (EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, OutputString) == 8, "ConOut layout");
static_assert (__builtin_offsetof (EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, ClearScreen) == 48, "ConOut layout");
static_assert (__builtin_offsetof (EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, SetCursorPosition) == 56, "ConOut layout");
static_assert (__builtin_offsetof (EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL, Mode) == 72, "ConOut layout");
// NOLINTEND(readability-magic-numbers)

#endif
