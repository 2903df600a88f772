// The format engine and Print: line ends, hexadecimal case, widths, strings,
// status names, the 320-character cut, and the trip to the console.
#include "tests/firmware/FirmwareTest.h"

#include <algorithm>

#include "platform/PrintLib.h"

namespace {

using harness::Call;
using harness::Utf8;

// Formats through FormatString into a Print-sized buffer, as Print does.
template <typename... ARGS>
std::string
Format (
  const CHAR8  *Text,
  ARGS...      Args
  )
{
  const PRINT_ARG  List[] = { MakePrintArg (Args)..., PRINT_ARG { PrintArgNone, 0 } };
  CHAR16           Buffer[PRINT_MAX_CHARACTERS + 1];
  UINTN            Count;

  Count = FormatString (Buffer, PRINT_MAX_CHARACTERS + 1, Text, List, sizeof...(ARGS));
  EXPECT_EQ (std::u16string (Buffer).size (), Count) << "the count is the units before the terminator";
  return Utf8 (std::u16string (Buffer, Count));
}

struct FORMAT_CASE {
  const CHAR8    *Format;
  const char     *Expected;
};

TEST (PrintFormatTest, LineFeedsLeaveAsCarriageReturnLineFeed) {
  const FORMAT_CASE  Cases[] = {
    { "a\nb",          "a\r\nb"         },
    { "a\r\nb",        "a\r\nb"         },
    { "a\n\rb",        "a\r\nb"         },
    { "a\rb",          "a\rb"           },
    { "\n",            "\r\n"           },
    { "\n\n",          "\r\n\r\n"       },
    { "\r\n\r\n",      "\r\n\r\n"       },
    { "\n\r\n",        "\r\n\r\n"       },
    { "\r\r\n",        "\r\r\n"         },
    { "\n\r\r",        "\r\n\r"         },
    { "end\r",         "end\r"          },
    { "\n==== \n",     "\r\n==== \r\n"  },
  };

  for (const FORMAT_CASE &Case : Cases) {
    EXPECT_EQ (Format (Case.Format), Case.Expected) << Case.Format;
  }

  // Only the format's own line feeds are turned; an argument's pass as they are.
  EXPECT_EQ (Format ("[%s]\n", u"a\nb"), "[a\nb]\r\n");
}

TEST (PrintFormatTest, HexadecimalIsUpperCaseWithoutLeadingZeros) {
  EXPECT_EQ (Format ("%x", (UINT32)0xABCDEF), "ABCDEF");
  EXPECT_EQ (Format ("%X", (UINT32)0xbeef), "BEEF");
  EXPECT_EQ (Format ("%x", (UINT8)0x5A), "5A");
  EXPECT_EQ (Format ("%x", (UINT8)0x05), "5");
  EXPECT_EQ (Format ("%x", (UINT32)0), "0");
  EXPECT_EQ (Format ("%x", (UINT32)0xFFFFFFFF), "FFFFFFFF");
  EXPECT_EQ (Format ("%x", (INT32)-1), "FFFFFFFF");
  EXPECT_EQ (Format ("%lx", (UINT64)0x123456789ABCDEF0), "123456789ABCDEF0");
  EXPECT_EQ (Format ("%lx", (UINT64)0x8000FB20), "8000FB20");
  EXPECT_EQ (Format ("%lx", (UINT64)0xB00), "B00");
  EXPECT_EQ (Format ("%lx", (UINT64)0), "0");
  EXPECT_EQ (Format ("%lx", ~(UINT64)0), "FFFFFFFFFFFFFFFF");
  EXPECT_EQ (Format ("0x%x. ", (UINT8)0xab), "0xAB. ");
}

TEST (PrintFormatTest, ZeroPaddedWidths) {
  EXPECT_EQ (Format ("%2.2X", (INT32)0), "00");
  EXPECT_EQ (Format ("%2.2X", (INT32)0x3), "03");
  EXPECT_EQ (Format ("%2.2X", (INT32)0x1F), "1F");
  EXPECT_EQ (Format ("%2.2X", (INT32)0xFF), "FF");
  EXPECT_EQ (Format ("%2.2X", (INT32)0x123), "123");
  EXPECT_EQ (Format ("%4.4X", (UINT16)0), "0000");
  EXPECT_EQ (Format ("%4.4X", (UINT16)0x2A), "002A");
  EXPECT_EQ (Format ("%4.4X", (UINT16)0x8086), "8086");
  EXPECT_EQ (Format ("%4.4X", (UINT32)0x12345), "12345");
  EXPECT_EQ (Format (" %2.2X %2.2X %2.2X ", (INT32)0, (INT32)0x1F, (INT32)3), " 00 1F 03 ");
  EXPECT_EQ (Format (" %4.4X %4.4X", (UINT16)0x1022, (UINT16)0x780B), " 1022 780B");
}

TEST (PrintFormatTest, DecimalIsSigned32Bit) {
  EXPECT_EQ (Format ("%d", (INT32)0), "0");
  EXPECT_EQ (Format ("%d", (INT32)7), "7");
  EXPECT_EQ (Format ("%d", (INT32)-1), "-1");
  EXPECT_EQ (Format ("%d", (INT32)-305), "-305");
  EXPECT_EQ (Format ("%d", (INT32)2147483647), "2147483647");
  EXPECT_EQ (Format ("%d", (INT32)(-2147483647 - 1)), "-2147483648");
  EXPECT_EQ (Format ("%d", (UINT32)0xFFFFFFFF), "-1");
  EXPECT_EQ (Format ("%d", (UINT32)0x80000000), "-2147483648");
  EXPECT_EQ (Format (" Software version: %d.%d.%d\n", 2, 7, 2), " Software version: 2.7.2\r\n");
}

TEST (PrintFormatTest, StringsAndPercentSigns) {
  EXPECT_EQ (Format ("%s", u"text"), "text");
  EXPECT_EQ (Format ("[%s]", u""), "[]");
  EXPECT_EQ (Format (" Image name is: %s", u"\\EFI\\zk48.bin"), " Image name is: \\EFI\\zk48.bin");
  EXPECT_EQ (Format ("%s%s", u"ab", u"cd"), "abcd");
  EXPECT_EQ (Format ("%a", "narrow"), "narrow");
  EXPECT_EQ (Format (" (%r%a)", EFI_TIMEOUT, ", and other statuses"), " (Time out, and other statuses)");
  EXPECT_EQ (Format ("[%a][%s]", (const CHAR8 *)nullptr, (const CHAR16 *)nullptr), "[<null string>][<null string>]");
  EXPECT_EQ (Format ("%%"), "%");
  EXPECT_EQ (Format ("100%%"), "100%");
  EXPECT_EQ (Format ("%%d"), "%d");
  EXPECT_EQ (Format ("%d%%\r", (INT32)37), "37%\r");
  EXPECT_EQ (Format ("plain"), "plain");
  EXPECT_EQ (Format (""), "");
}

TEST (PrintFormatTest, StatusNamesAsTheFirmwareSpellsThem) {
  static const char *const  ErrorNames[] = {
    "Load Error", "Invalid Parameter", "Unsupported", "Bad Buffer Size", "Buffer Too Small",
    "Not Ready", "Device Error", "Write Protected", "Out of Resources", "Volume Corrupt",
    "Volume Full", "No Media", "Media changed", "Not Found", "Access Denied",
    "No Response", "No mapping", "Time out", "Not started", "Already started",
    "Aborted", "ICMP Error", "TFTP Error", "Protocol Error", "Incompatible Version",
    "Security Violation", "CRC Error", "End of Media", "Reserved (29)", "Reserved (30)",
    "End of File", "Invalid Language", "Compromised Data", "IP Address Conflict", "HTTP Error",
  };
  static const char *const  WarningNames[] = {
    "Success", "Warning Unknown Glyph", "Warning Delete Failure", "Warning Write Failure",
    "Warning Buffer Too Small", "Warning Stale Data", "Warning File System", "Warning Reset Required",
  };

  for (UINTN Code = 1; Code <= sizeof (ErrorNames) / sizeof (ErrorNames[0]); Code++) {
    EXPECT_EQ (Format ("%r", MAX_BIT | Code), ErrorNames[Code - 1]) << "error " << Code;
  }

  for (UINTN Code = 0; Code < sizeof (WarningNames) / sizeof (WarningNames[0]); Code++) {
    EXPECT_EQ (Format ("%r", (EFI_STATUS)Code), WarningNames[Code]) << "warning " << Code;
  }

  EXPECT_EQ (Format ("open: fail_%r\r\n", EFI_NOT_FOUND), "open: fail_Not Found\r\n");
}

TEST (PrintFormatTest, UnnamedStatusShowsItsValue) {
  const struct {
    EFI_STATUS    Status;
    const char    *Expected;
  } Cases[] = {
    { MAX_BIT | 99,          "8000000000000063" },
    { MAX_BIT | 36,          "8000000000000024" },
    { MAX_BIT,               "8000000000000000" },
    { 0x20,                  "00000020"         },
    { 8,                     "00000008"         },
    { 0x123456789,           "123456789"        },
  };

  for (const auto &Case : Cases) {
    EXPECT_EQ (Format ("%r", Case.Status), Case.Expected) << std::hex << Case.Status;
  }
}

TEST (PrintFormatTest, OutputIsCutAt320Characters) {
  const std::u16string  Long320 (320, u'A');
  const std::u16string  Long400 (400, u'B');
  const std::u16string  Long318 (318, u'C');
  const std::u16string  Long319 (319, u'D');

  EXPECT_EQ (Format ("%s", Long320.c_str ()), std::string (320, 'A'));
  EXPECT_EQ (Format ("%s", Long400.c_str ()), std::string (320, 'B'));
  EXPECT_EQ (Format ("%s!", Long320.c_str ()), std::string (320, 'A'));

  // A line end is two units of the 320: it fits whole, or only its CR does.
  EXPECT_EQ (Format ("%s\n", Long318.c_str ()), std::string (318, 'C') + "\r\n");
  EXPECT_EQ (Format ("%s\n", Long319.c_str ()), std::string (319, 'D') + "\r");
  EXPECT_EQ (Format ("%s\r\n", Long319.c_str ()), std::string (319, 'D') + "\r");

  // The cut holds for the format's own text as for an argument's.
  std::string  LongFormat (330, 'e');
  EXPECT_EQ (Format (LongFormat.c_str ()), std::string (320, 'e'));
}

TEST (PrintFormatTest, BufferIsTerminatedAndNeverOverrun) {
  CHAR16           Buffer[PRINT_MAX_CHARACTERS + 10];
  const PRINT_ARG  Text = MakePrintArg ((const CHAR16 *)u"abcdefgh");

  std::fill (std::begin (Buffer), std::end (Buffer), u'#');
  EXPECT_EQ (FormatString (Buffer, 5, "%s", &Text, 1), 4u);
  EXPECT_EQ (std::u16string (Buffer), u"abcd");
  EXPECT_EQ (Buffer[5], u'#');

  std::fill (std::begin (Buffer), std::end (Buffer), u'#');
  EXPECT_EQ (FormatString (Buffer, 1, "%s", &Text, 1), 0u);
  EXPECT_EQ (Buffer[0], 0);
  EXPECT_EQ (Buffer[1], u'#');

  std::fill (std::begin (Buffer), std::end (Buffer), u'#');
  EXPECT_EQ (FormatString (Buffer, 0, "%s", &Text, 1), 0u);
  EXPECT_EQ (Buffer[0], u'#');

  std::string  Long (400, 'x');
  std::fill (std::begin (Buffer), std::end (Buffer), u'#');
  EXPECT_EQ (FormatString (Buffer, PRINT_MAX_CHARACTERS + 1, Long.c_str (), nullptr, 0), PRINT_MAX_CHARACTERS);
  EXPECT_EQ (Buffer[PRINT_MAX_CHARACTERS], 0);
  EXPECT_EQ (Buffer[PRINT_MAX_CHARACTERS + 1], u'#');
}

//
// Print itself: one pool buffer, one OutputString, the buffer given back
// (the fixture's ledger check fails a test that leaks it).
//
class PrintTest : public FirmwareTest {
protected:
  void SetUp () override
  {
    FirmwareTest::SetUp ();
    InstallTables ();
  }
};

TEST_F (PrintTest, OneOutputStringPerPrint) {
  EXPECT_EQ (Print (" Found Chip on Addr = 0x%lx, SMBaddr = 0x%lx\n", (UINT64)0x8000FB20, (UINT64)0xB100), 52u);
  EXPECT_EQ (Print ("open: fail_%r\r\n", EFI_NOT_FOUND), 22u);
  EXPECT_EQ (Print (" %2.2X %2.2X %2.2X ", 0, 0x1F, 3), 10u);
  EXPECT_EQ (Print ("%d%%", 100), 4u);
  EXPECT_EQ (Print ("%x", 7), 1u);

  ASSERT_EQ (Sim.Timeline.size (), 5u);
  EXPECT_EQ (Sim.Timeline[0].Text, u" Found Chip on Addr = 0x8000FB20, SMBaddr = 0xB100\r\n");
  EXPECT_EQ (Sim.Timeline[1].Text, u"open: fail_Not Found\r\n");
  EXPECT_EQ (Sim.Timeline[2].Text, u" 00 1F 03 ");
  EXPECT_EQ (Sim.Timeline[3].Text, u"100%");
  EXPECT_EQ (Sim.Timeline[4].Text, u"7");
  EXPECT_EQ (Sim.CallCount (Call::OutputString), 5u);
  EXPECT_EQ (Sim.CallCount (Call::AllocatePool), 5u);
  EXPECT_EQ (Sim.CallCount (Call::FreePool), 5u);
  EXPECT_EQ (Sim.ScreenLines ()[0], u" Found Chip on Addr = 0x8000FB20, SMBaddr = 0xB100");
  EXPECT_EQ (Sim.ScreenLines ()[1], u"open: fail_Not Found");
  EXPECT_EQ (Sim.ScreenLines ()[2], u" 00 1F 03 100%7");
}

TEST_F (PrintTest, LongOutputReachesTheConsoleCut) {
  const std::u16string  Long (400, u'z');

  EXPECT_EQ (Print ("%s\n", Long.c_str ()), PRINT_MAX_CHARACTERS);
  EXPECT_EQ (Output (), std::string (320, 'z'));
  EXPECT_EQ (Sim.CallCount (Call::OutputString), 1u);
}

TEST_F (PrintTest, NoPoolBufferMeansNoOutput) {
  Sim.Fail (harness::Once (Call::AllocatePool, 1, EFI_OUT_OF_RESOURCES));

  EXPECT_EQ (Print ("lost\n"), 0u);
  EXPECT_EQ (Print ("kept %d\n", 2), 8u);
  EXPECT_EQ (Output (), "kept 2\r\n");
  EXPECT_EQ (Sim.CallCount (Call::OutputString), 1u);
  EXPECT_EQ (Sim.CallCount (Call::FreePool), 1u);
}

} // namespace
