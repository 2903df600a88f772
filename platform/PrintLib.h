/** @file
  Formatted console output. Print checks at compile time that every
  argument suits its conversion, then formats in the firmware's manner:
  line feeds out as CR LF, upper-case hexadecimal, %r as a status name,
  at most PRINT_MAX_CHARACTERS per call. Formats are 8-bit text, widened
  to UTF-16 while formatting: half the bytes of UTF-16 formats in an image
  whose size is a budget.
**/
#ifndef PLATFORM_PRINT_LIB_H_
#define PLATFORM_PRINT_LIB_H_

#include "platform/Base.h"

constexpr UINTN  PRINT_MAX_CHARACTERS = 320;

//
// What an argument carries: a 32-bit integer (%d, %x, %X), a 64-bit one
// (%lx, %lX, %r), a UTF-16 string (%s) or an 8-bit one (%a).
//
enum PRINT_ARG_KIND : UINT8 {
  PrintArgNone,
  PrintArgInt32,
  PrintArgInt64,
  PrintArgString,
  PrintArgAscii
};

//
// A string travels as its address in Value: two members to fill at each
// call of Print, not three, in an image whose size is a budget.
//
struct PRINT_ARG {
  PRINT_ARG_KIND    Kind;
  UINT64            Value;      // the number, or the address of the CHAR16 (PrintArgString) or CHAR8 (PrintArgAscii) string
};

//
// One conversion of a format, as both the compile-time check and the
// formatter read it.
//
struct PRINT_CONVERSION {
  const CHAR8       *Next;        // the format text after the conversion
  PRINT_ARG_KIND    Takes;        // PrintArgNone for %% and unknown types
  CHAR8             Type;         // 'd', 'x', 'X', 's', 'a', 'r', '%' or another unit
  BOOLEAN           ZeroPad;
  UINTN             Width;
  UINTN             Precision;
};

/** Reads the conversion whose '%' is at Percent. **/
constexpr PRINT_CONVERSION
ParseConversion (
  const CHAR8  *Percent
  )
{
  PRINT_CONVERSION  Conversion = { Percent + 1, PrintArgNone, 0, FALSE, 0, 0 };
  const CHAR8       *Cursor    = Percent + 1;
  BOOLEAN           Long       = FALSE;

  if (*Cursor == '0') {
    Conversion.ZeroPad = TRUE;
    Cursor++;
  }

  for ( ; *Cursor >= '0' && *Cursor <= '9'; Cursor++) {
    Conversion.Width = Conversion.Width * 10 + (UINTN)(*Cursor - '0');
  }

  if (*Cursor == '.') {
    for (Cursor++; *Cursor >= '0' && *Cursor <= '9'; Cursor++) {
      Conversion.Precision = Conversion.Precision * 10 + (UINTN)(*Cursor - '0');
    }
  }

  if ((*Cursor == 'l') || (*Cursor == 'L')) {
    Long = TRUE;
    Cursor++;
  }

  Conversion.Type = *Cursor;
  if (*Cursor == 0) {
    Conversion.Next = Cursor;
    return Conversion;
  }

  Conversion.Next = Cursor + 1;
  switch (*Cursor) {
    case 'd':
    case 'x':
    case 'X':
      Conversion.Takes = Long ? PrintArgInt64 : PrintArgInt32;
      break;
    case 'r':
      Conversion.Takes = PrintArgInt64;
      break;
    case 's':
      Conversion.Takes = PrintArgString;
      break;
    case 'a':
      Conversion.Takes = PrintArgAscii;
      break;
    default:
      break;
  }

  return Conversion;
}

/** The kind of argument a C++ type passes, PrintArgNone if it cannot be printed. **/
template <typename TYPE>
constexpr PRINT_ARG_KIND
PrintArgKindOf (
  )
{
  if constexpr (__is_same (TYPE, const CHAR16 *) || __is_same (TYPE, CHAR16 *)) {
    return PrintArgString;
  } else if constexpr (__is_same (TYPE, const CHAR8 *) || __is_same (TYPE, CHAR8 *)) {
    return PrintArgAscii;
  } else if constexpr (__is_integral (TYPE) && !__is_same (TYPE, bool) && (sizeof (TYPE) <= 4)) {
    return PrintArgInt32;
  } else if constexpr (__is_integral (TYPE) && (sizeof (TYPE) == 8)) {
    return PrintArgInt64;
  } else {
    return PrintArgNone;
  }
}

/** Called only when a format and its arguments disagree: stops compilation. **/
void
PrintFormatDoesNotMatchArguments (
  );

template <typename TYPE>
struct TYPE_IDENTITY {
  using THE_TYPE = TYPE;
};

/**
  A format string checked against the argument types when the program is
  compiled: a conversion without an argument of its kind does not build.
**/
template <typename... ARGS>
struct PRINT_FORMAT {
  const CHAR8    *Text;

  consteval
  PRINT_FORMAT (
    const CHAR8  *Format
    ) : Text (Format)
  {
    constexpr PRINT_ARG_KIND  Kinds[] = { PrintArgKindOf<ARGS>()..., PrintArgNone };
    UINTN                     Used    = 0;

    for (const CHAR8 *Cursor = Format; *Cursor != 0; ) {
      if (*Cursor != '%') {
        Cursor++;
        continue;
      }

      PRINT_CONVERSION  Conversion = ParseConversion (Cursor);
      if ((Conversion.Takes == PrintArgNone) && (Conversion.Type != '%')) {
        PrintFormatDoesNotMatchArguments ();
      }

      if (Conversion.Takes != PrintArgNone) {
        if ((Used >= sizeof...(ARGS)) || (Kinds[Used] != Conversion.Takes)) {
          PrintFormatDoesNotMatchArguments ();
        }

        Used++;
      }

      Cursor = Conversion.Next;
    }

    if (Used != sizeof...(ARGS)) {
      PrintFormatDoesNotMatchArguments ();
    }
  }
};

// The most arguments one format takes.
constexpr UINTN  PRINT_MAX_ARGS = 12;

/**
  An argument as it travels to the formatter: every kind as one UINT64,
  a string as its address. The format, checked when the tool is compiled,
  tells the formatter each argument's kind.
**/
template <typename TYPE>
constexpr UINT64
PrintValue (
  TYPE  Value
  )
{
  constexpr PRINT_ARG_KIND  Kind = PrintArgKindOf<TYPE>();

  if constexpr ((Kind == PrintArgString) || (Kind == PrintArgAscii)) {
    return (UINT64)(UINTN)Value;
  } else if constexpr (Kind == PrintArgInt32) {
    return (UINT32)Value;
  } else {
    return (UINT64)Value;
  }
}

template <typename TYPE>
constexpr PRINT_ARG
MakePrintArg (
  TYPE  Value
  )
{
  return PRINT_ARG { PrintArgKindOf<TYPE>(), PrintValue (Value) };
}

/**
  Formats Format with Args into Buffer of BufferUnits UTF-16 units, always
  terminating it. Returns the number of units before the terminator.
**/
UINTN
FormatString (
  CHAR16           *Buffer,
  UINTN            BufferUnits,
  const CHAR8      *Format,
  const PRINT_ARG  *Args,
  UINTN            ArgCount
  );

/** Returns the name the firmware's print library gives Status, or NULL. **/
const CHAR8 *
StatusName (
  EFI_STATUS  Status
  );

/**
  Formats Format into Buffer as FormatString does, its arguments following
  it in Values, each a UINT64 as PrintValue makes it, as many as Format's
  conversions take (PRINT_MAX_ARGS at most).
**/
UINTN
FormatValues (
  CHAR16             *Buffer,
  UINTN              BufferUnits,
  const CHAR8        *Format,
  __builtin_va_list  Values
  );

/**
  Formats into a pool buffer and writes it to gST->ConOut, the arguments
  after Format as FormatValues takes them. Returns the number of
  characters written, 0 when no buffer could be had.
**/
UINTN
PrintValues (
  const CHAR8  *Format,
  ...
  );

/**
  Print's arguments go to the formatter as plain values through one
  variadic function: a call costs its arguments' registers, and no copy
  of Print is made for each list of argument types.
**/
template <typename... ARGS>
[[gnu::always_inline]] inline UINTN
Print (
  PRINT_FORMAT<typename TYPE_IDENTITY<ARGS>::THE_TYPE...>  Format,
  ARGS...                                                  Args
  )
{
  static_assert (sizeof...(ARGS) <= PRINT_MAX_ARGS, "at most PRINT_MAX_ARGS arguments");
  return PrintValues (Format.Text, PrintValue (Args)...);
}

#endif
