/** @file
  The format engine behind Print, and Print's trip to the console.
**/
#include "platform/PrintLib.h"
#include "platform/UefiLib.h"

namespace {

constexpr CHAR8  mHexDigits[] = "0123456789ABCDEF";

//
// The digits of the widest value, a 64-bit number in decimal, fit here.
//
constexpr UINTN  MAX_DIGITS = 20;

// Minimum digits of a status value that has no name.
constexpr UINTN  STATUS_VALUE_DIGITS = 8;

struct PRINT_OUTPUT {
  CHAR16    *Buffer;
  UINTN     Limit;      // units available before the terminator
  UINTN     Count;
};

VOID
PutUnit (
  PRINT_OUTPUT  *Output,
  CHAR16        Unit
  )
{
  if (Output->Count < Output->Limit) {
    Output->Buffer[Output->Count++] = Unit;
  }
}

VOID
PutString (
  PRINT_OUTPUT  *Output,
  const CHAR16  *String
  )
{
  for ( ; *String != 0; String++) {
    PutUnit (Output, *String);
  }
}

/** 8-bit text widens unit by unit: the formats and names are plain ASCII. **/
VOID
PutAscii (
  PRINT_OUTPUT  *Output,
  const CHAR8   *String
  )
{
  for ( ; *String != 0; String++) {
    PutUnit (Output, (UINT8)*String);
  }
}

VOID
PutRun (
  PRINT_OUTPUT  *Output,
  const CHAR8   *Start,
  const CHAR8   *End
  )
{
  for ( ; Start < End; Start++) {
    PutUnit (Output, (UINT8)*Start);
  }
}

/**
  Writes Magnitude in Radix, after a minus sign when Negative, padded with
  zeros to MinimumDigits and then with spaces on the left to Width.
**/
VOID
PutNumber (
  PRINT_OUTPUT  *Output,
  UINT64        Magnitude,
  BOOLEAN       Negative,
  UINT32        Radix,
  UINTN         MinimumDigits,
  UINTN         Width
  )
{
  CHAR16  Digits[MAX_DIGITS];
  UINTN   DigitCount = 0;
  UINTN   Length;

  do {
    Digits[DigitCount++] = (CHAR16)mHexDigits[Magnitude % Radix];
    Magnitude           /= Radix;
  } while (Magnitude != 0);

  //
  // Padding past a full buffer would only be dropped: it stops there, so
  // that a field however wide costs no more than the buffer holds.
  //
  Length = (DigitCount > MinimumDigits ? DigitCount : MinimumDigits) + (Negative ? 1 : 0);
  for ( ; (Length < Width) && (Output->Count < Output->Limit); Width--) {
    PutUnit (Output, u' ');
  }

  if (Negative) {
    PutUnit (Output, u'-');
  }

  for (UINTN Pad = DigitCount; (Pad < MinimumDigits) && (Output->Count < Output->Limit); Pad++) {
    PutUnit (Output, u'0');
  }

  while (DigitCount != 0) {
    PutUnit (Output, Digits[--DigitCount]);
  }
}

VOID
PutConversion (
  PRINT_OUTPUT            *Output,
  const PRINT_CONVERSION  &Conversion,
  const PRINT_ARG         &Arg
  )
{
  UINTN    MinimumDigits = Conversion.Precision;
  BOOLEAN  Wide          = (Arg.Kind == PrintArgInt64);

  if (Conversion.ZeroPad && (Conversion.Width > MinimumDigits)) {
    MinimumDigits = Conversion.Width;
  }

  switch (Conversion.Type) {
    case 'd': {
      INT64  Value = Wide ? (INT64)Arg.Value : (INT64)(INT32)(UINT32)Arg.Value;
      PutNumber (Output, Value < 0 ? 0 - (UINT64)Value : (UINT64)Value, Value < 0, 10, MinimumDigits, Conversion.Width);
      break;
    }
    case 'x':
    case 'X':
      PutNumber (Output, Wide ? Arg.Value : (UINT32)Arg.Value, FALSE, 16, MinimumDigits, Conversion.Width);
      break;
    case 'r': {
      const CHAR8  *Name = StatusName (Arg.Value);
      if (Name != nullptr) {
        PutAscii (Output, Name);
      } else {
        PutNumber (Output, Arg.Value, FALSE, 16, STATUS_VALUE_DIGITS, 0);
      }

      break;
    }
    case 'a':
      PutAscii (Output, Arg.Value != 0 ? __builtin_bit_cast (const CHAR8 *, Arg.Value) : "<null string>");
      break;
    default:
      if (Arg.Value != 0) {
        PutString (Output, __builtin_bit_cast (const CHAR16 *, Arg.Value));
      } else {
        PutAscii (Output, "<null string>");
      }

      break;
  }
}

} // namespace

UINTN
FormatString (
  CHAR16           *Buffer,
  UINTN            BufferUnits,
  const CHAR8      *Format,
  const PRINT_ARG  *Args,
  UINTN            ArgCount
  )
{
  PRINT_OUTPUT  Output;
  UINTN         ArgUsed = 0;

  if (BufferUnits == 0) {
    return 0;
  }

  Output = { Buffer, BufferUnits - 1, 0 };

  while (*Format != 0) {
    if ((*Format == '\n') || (*Format == '\r')) {
      //
      // A line feed, or a CR LF or LF CR pair, always leaves as CR LF.
      //
      BOOLEAN  Pair = (Format[1] == (*Format == '\n' ? '\r' : '\n'));
      if ((*Format == '\n') || Pair) {
        PutAscii (&Output, "\r\n");
      } else {
        PutUnit (&Output, u'\r');
      }

      Format += Pair ? 2 : 1;
      continue;
    }

    if (*Format != '%') {
      PutUnit (&Output, (UINT8)*Format++);
      continue;
    }

    PRINT_CONVERSION  Conversion = ParseConversion (Format);
    if (Conversion.Type == '%') {
      PutUnit (&Output, u'%');
    } else if ((Conversion.Takes != PrintArgNone) && (ArgUsed < ArgCount) && (Args[ArgUsed].Kind == Conversion.Takes)) {
      PutConversion (&Output, Conversion, Args[ArgUsed++]);
    } else {
      PutRun (&Output, Format, Conversion.Next);
    }

    Format = Conversion.Next;
  }

  Buffer[Output.Count] = 0;
  return Output.Count;
}

UINTN
FormatValues (
  CHAR16             *Buffer,
  UINTN              BufferUnits,
  const CHAR8        *Format,
  __builtin_va_list  Values
  )
{
  PRINT_ARG  Args[PRINT_MAX_ARGS];
  UINTN      ArgCount = 0;

  for (const CHAR8 *Cursor = Format; *Cursor != 0; ) {
    if (*Cursor != '%') {
      Cursor++;
      continue;
    }

    PRINT_CONVERSION  Conversion = ParseConversion (Cursor);
    if ((Conversion.Takes != PrintArgNone) && (ArgCount < PRINT_MAX_ARGS)) {
      Args[ArgCount++] = PRINT_ARG { Conversion.Takes, __builtin_va_arg (Values, UINT64) };
    }

    Cursor = Conversion.Next;
  }

  return FormatString (Buffer, BufferUnits, Format, Args, ArgCount);
}

UINTN
PrintValues (
  const CHAR8  *Format,
  ...
  )
{
  CHAR16             *Buffer = nullptr;
  UINTN              Count;
  EFI_STATUS         Status;
  __builtin_va_list  Values;

  Status = gBS->AllocatePool (EfiBootServicesData, (PRINT_MAX_CHARACTERS + 1) * sizeof (CHAR16), (VOID **)&Buffer);
  if (EFI_ERROR (Status)) {
    return 0;
  }

  __builtin_va_start (Values, Format);
  Count = FormatValues (Buffer, PRINT_MAX_CHARACTERS + 1, Format, Values);
  __builtin_va_end (Values);
  if (Count > 0) {
    gST->ConOut->OutputString (gST->ConOut, Buffer);
  }

  gBS->FreePool (Buffer);
  return Count;
}
