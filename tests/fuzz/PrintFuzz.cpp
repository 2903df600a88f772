// Fuzzes the print engine: FormatString with a format, an argument list of
// every kind and a buffer of 0 to 400 units, all decoded from the input.
//
// Input: buffer units (2 bytes), argument count (1 byte), each argument
// (kind byte: bits 0-2, 0 to 4 valid kinds, 5 to 7 kinds no conversion
// takes; integers 8 bytes; strings a length byte, 0xFF for a NULL string
// and 0xFE for a 2-byte length, then 2 bytes per UTF-16 unit or 1 per
// 8-bit one), then the format, 8-bit, to the end of the input.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/PrintLib.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

constexpr size_t    MAX_BUFFER_UNITS = 400;
constexpr size_t    MAX_ARGS         = 8;
constexpr uint8_t   NULL_STRING      = 0xFF;
constexpr uint8_t   LONG_STRING      = 0xFE;
constexpr CHAR16    UNTOUCHED        = 0xFFFF;

// Holds every unit a buffer of MAX_BUFFER_UNITS could show, and more.
constexpr size_t    REFERENCE_UNITS  = 4096;

} // namespace

extern "C" int
LLVMFuzzerTestOneInput (
  const uint8_t  *Data,
  size_t         Size
  )
{
  fuzz::FuzzInput              In (Data, Size);
  size_t                       Units    = In.Word () % (MAX_BUFFER_UNITS + 1);
  size_t                       ArgCount = In.Byte () % (MAX_ARGS + 1);
  std::vector<std::u16string>  Strings (MAX_ARGS);
  std::vector<std::string>     AsciiStrings (MAX_ARGS);
  std::vector<PRINT_ARG>       Args;
  std::string                  Format;
  std::u16string               Widened;
  bool                         Plain = true;

  for (size_t Index = 0; Index < ArgCount; Index++) {
    PRINT_ARG  Arg = { (PRINT_ARG_KIND)(In.Byte () & 7), 0 };

    if ((Arg.Kind == PrintArgString) || (Arg.Kind == PrintArgAscii)) {
      uint8_t  Length = In.Byte ();
      size_t   Count  = (Length == LONG_STRING) ? In.Word () : Length;

      if (Length != NULL_STRING) {
        for (size_t Unit = 0; (Unit < Count) && !In.Exhausted (); Unit++) {
          if (Arg.Kind == PrintArgString) {
            Strings[Index] += (CHAR16)In.Word ();
          } else {
            AsciiStrings[Index] += (char)In.Byte ();
          }
        }

        Arg.Value = (Arg.Kind == PrintArgString) ? (UINT64)(uintptr_t)Strings[Index].c_str () : (UINT64)(uintptr_t)AsciiStrings[Index].c_str ();
      }
    } else {
      Arg.Value = In.Quad ();
    }

    Args.push_back (Arg);
  }

  while (!In.Exhausted ()) {
    Format += (char)In.Byte ();
  }

  Format = Format.c_str ();    // up to the first terminator
  for (char Unit : Format) {
    Plain = Plain && (Unit != '%') && (Unit != '\r') && (Unit != '\n');
    Widened += (CHAR16)(uint8_t)Unit;
  }

  //
  // The buffer is exactly as large as FormatString is told, on the heap,
  // so that AddressSanitizer reports a single unit written past it.
  //
  std::unique_ptr<CHAR16[]>  Buffer (new CHAR16[Units]);
  std::vector<CHAR16>        Reference (REFERENCE_UNITS, UNTOUCHED);
  UINTN                      Count;
  UINTN                      ReferenceCount;

  std::fill (Buffer.get (), Buffer.get () + Units, UNTOUCHED);
  Count          = FormatString (Buffer.get (), Units, Format.c_str (), Args.data (), Args.size ());
  ReferenceCount = FormatString (Reference.data (), Reference.size (), Format.c_str (), Args.data (), Args.size ());
  FUZZ_CHECK (ReferenceCount < REFERENCE_UNITS && Reference[ReferenceCount] == 0);
  if (Units == 0) {
    FUZZ_CHECK (Count == 0);
    return 0;
  }

  // Always terminated, the count is where the terminator is, nothing after it touched.
  FUZZ_CHECK (Count < Units);
  FUZZ_CHECK (Buffer[Count] == 0);
  FUZZ_CHECK (std::find (Buffer.get (), Buffer.get () + Count, 0) == Buffer.get () + Count);
  FUZZ_CHECK (std::all_of (Buffer.get () + Count + 1, Buffer.get () + Units, [](CHAR16 Unit) { return Unit == UNTOUCHED; }));

  // A small buffer holds the start of what a large one holds, cut only where it is full.
  FUZZ_CHECK (Count == std::min<UINTN> (ReferenceCount, Units - 1));
  FUZZ_CHECK (std::equal (Buffer.get (), Buffer.get () + Count, Reference.begin ()));

  // Text without conversions or line ends comes out as it went in.
  if (Plain) {
    FUZZ_CHECK (std::u16string (Reference.data (), ReferenceCount) == Widened.substr (0, REFERENCE_UNITS - 1));
  }

  return 0;
}
