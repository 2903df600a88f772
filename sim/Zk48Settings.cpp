/** @file
  Parsing of the simulator's "name=value" settings.
**/
#include "sim/Zk48Settings.h"

namespace {

constexpr UINTN  MAX_SETTING_LENGTH = 80;
constexpr UINT8  DEFAULT_MCU_VERSION = 0x10;
constexpr UINTN  VERSION_ADDRESS     = 0x112F;
constexpr UINT64  MAX_COUNT          = 0xFFFFFFFF;   // a count or a seed fits 32 bits
// Blocks are written whole: a drop anywhere but a block's start would never strike.
constexpr UINT64  BLOCK_SIZE         = 8;

struct TEXT {
  const CHAR16    *Start;
  UINTN           Length;
};

BOOLEAN
Is (
  TEXT          Text,
  const CHAR16  *Word
  )
{
  UINTN  Index = 0;

  for ( ; Word[Index] != 0; Index++) {
    if ((Index >= Text.Length) || (Text.Start[Index] != Word[Index])) {
      return FALSE;
    }
  }

  return Index == Text.Length;
}

/** Splits Text at its first Mark into *Before and *After; FALSE when there is none. **/
BOOLEAN
SplitAt (
  TEXT    Text,
  CHAR16  Mark,
  TEXT    *Before,
  TEXT    *After
  )
{
  UINTN  Length = 0;

  while ((Length < Text.Length) && (Text.Start[Length] != Mark)) {
    Length++;
  }

  if (Length == Text.Length) {
    return FALSE;
  }

  *Before = { Text.Start, Length };
  *After  = { Text.Start + Length + 1, Text.Length - Length - 1 };
  return TRUE;
}

/** Reads a decimal number, a 0x-prefixed hexadecimal one, or "never". **/
BOOLEAN
ParseNumber (
  TEXT    Text,
  UINT64  *Value
  )
{
  UINT64  Result = 0;
  UINTN   Index  = 0;
  UINT32  Radix  = 10;

  if (Is (Text, u"never")) {
    *Value = ZK48_NEVER;
    return TRUE;
  }

  if ((Text.Length > 2) && (Text.Start[0] == u'0') && ((Text.Start[1] == u'x') || (Text.Start[1] == u'X'))) {
    Radix = 16;
    Index = 2;
  }

  if ((Index == Text.Length) || (Text.Length - Index > 16)) {
    return FALSE;
  }

  for ( ; Index < Text.Length; Index++) {
    CHAR16  Unit  = Text.Start[Index];
    UINT32  Digit;

    if ((Unit >= u'0') && (Unit <= u'9')) {
      Digit = Unit - u'0';
    } else if ((Radix == 16) && (Unit >= u'a') && (Unit <= u'f')) {
      Digit = Unit - u'a' + 10;
    } else if ((Radix == 16) && (Unit >= u'A') && (Unit <= u'F')) {
      Digit = Unit - u'A' + 10;
    } else {
      return FALSE;
    }

    if (Digit >= Radix) {
      return FALSE;
    }

    Result = Result * Radix + Digit;
  }

  *Value = Result;
  return TRUE;
}

/** Reads a number that fits 32 bits, and not "never": a count or a seed. **/
BOOLEAN
ParseCount (
  TEXT    Text,
  UINT32  *Value
  )
{
  UINT64  Number;

  if (Is (Text, u"never") || !ParseNumber (Text, &Number) || (Number > MAX_COUNT)) {
    return FALSE;
  }

  *Value = (UINT32)Number;
  return TRUE;
}

/** Reads a rate: "0" for never, or "N/D", N chances in D (D at least 1, N at most D). **/
BOOLEAN
ParseRate (
  TEXT       Text,
  ZK48_RATE  *Rate
  )
{
  TEXT       Numerator;
  TEXT       Denominator;
  ZK48_RATE  Parsed;

  if (Is (Text, u"0")) {
    *Rate = { 0, 1 };
    return TRUE;
  }

  if (!SplitAt (Text, u'/', &Numerator, &Denominator)
      || !ParseCount (Numerator, &Parsed.Numerator) || !ParseCount (Denominator, &Parsed.Denominator)
      || (Parsed.Denominator == 0) || (Parsed.Numerator > Parsed.Denominator))
  {
    return FALSE;
  }

  *Rate = Parsed;
  return TRUE;
}

/** The faults of a shared bus: refusals counted or at random, ignored writes, the draws' seed. **/
BOOLEAN
ApplyBusFault (
  ZK48_CHIP  *Chip,
  TEXT       Name,
  TEXT       Value
  )
{
  UINT64  Every;
  UINT32  Seed;

  if (Is (Name, u"refuse-every")) {
    if (!ParseNumber (Value, &Every) || (Every == 0) || (Every > ZK48_NEVER)) {
      return FALSE;
    }

    // Counted from here, so that the refusals fall where the technician aims them.
    Chip->Faults.RefuseEvery  = (UINT32)Every;
    Chip->Faults.SinceRefusal = 0;
    return TRUE;
  }

  if (Is (Name, u"refuse-rate")) {
    return ParseRate (Value, &Chip->Faults.RefuseRate);
  }

  if (Is (Name, u"ignore-rate")) {
    return ParseRate (Value, &Chip->Faults.IgnoreRate);
  }

  if (!ParseCount (Value, &Seed)) {
    return FALSE;
  }

  Zk48Seed (Chip, Seed);
  return TRUE;
}

BOOLEAN
ParseFault (
  TEXT             Text,
  ZK48_FAULT_KIND  *Kind
  )
{
  static constexpr struct {
    const CHAR16       *Name;
    ZK48_FAULT_KIND    Kind;
  } mFaultNames[] = {
    { u"none",          Zk48FaultNone         },
    { u"nack",          Zk48FaultNack         },
    { u"read-zero",     Zk48FaultReadZero     },
    { u"write-ignored", Zk48FaultWriteIgnored },
    { u"status-stuck",  Zk48FaultStatusStuck  },
  };

  for (const auto &Entry : mFaultNames) {
    if (Is (Text, Entry.Name)) {
      *Kind = Entry.Kind;
      return TRUE;
    }
  }

  return FALSE;
}

/** The decoy host controller: "none", "refuse" or "silent". **/
BOOLEAN
ParseDecoy (
  TEXT        Text,
  ZK48_DECOY  *Decoy
  )
{
  static constexpr struct {
    const CHAR16    *Name;
    ZK48_DECOY      Decoy;
  } mDecoyNames[] = {
    { u"none",   Zk48DecoyNone   },
    { u"refuse", Zk48DecoyRefuse },
    { u"silent", Zk48DecoySilent },
  };

  for (const auto &Entry : mDecoyNames) {
    if (Is (Text, Entry.Name)) {
      *Decoy = Entry.Decoy;
      return TRUE;
    }
  }

  return FALSE;
}

/** The chip's faults that take a number: when it answers, and what it drops or fails. **/
BOOLEAN
ApplyFaultNumber (
  ZK48_CHIP  *Chip,
  TEXT       Name,
  UINT64     Value
  )
{
  BOOLEAN  IsFlag = (Value <= 1);

  if (Is (Name, u"id-from") && (Value <= ZK48_NEVER)) {
    Chip->Faults.DeviceIdFromRead = (UINT32)Value;
  } else if (Is (Name, u"ready-after") && (Value <= ZK48_NEVER)) {
    Chip->Faults.ReadyAfterPolls = (UINT32)Value;
  } else if (Is (Name, u"ignore-writes") && IsFlag) {
    Chip->Faults.IgnoreBlockWrites = (BOOLEAN)Value;
  } else if (Is (Name, u"fail-all") && IsFlag) {
    Chip->Faults.FailAll = (BOOLEAN)Value;
  } else if (Is (Name, u"fault-at") && (Value < ZK48_NEVER)) {
    Chip->Faults.FaultAt = (UINT32)Value;
  } else if (Is (Name, u"drop-block") && (((Value < ZK48_EEPROM_SIZE) && (Value % BLOCK_SIZE == 0)) || (Value == ZK48_NEVER))) {
    Chip->Faults.DropBlockAt = (UINT32)Value;
  } else {
    return FALSE;
  }

  return TRUE;
}

BOOLEAN
ApplyNumber (
  ZK48_CHIP  *Chip,
  TEXT       Name,
  UINT64     Value
  )
{
  BOOLEAN  IsByte = (Value <= 0xFF);

  if (Is (Name, u"mcu") && IsByte) {
    Chip->McuVersion = (UINT8)Value;
  } else if (Is (Name, u"device-id") && IsByte) {
    Chip->DeviceId = (UINT8)Value;
  } else if (Is (Name, u"version") && IsByte) {
    Chip->Eeprom[VERSION_ADDRESS] = (UINT8)Value;
  } else if (Is (Name, u"fill") && IsByte) {
    for (UINT8 &Byte : Chip->Eeprom) {
      Byte = (UINT8)Value;
    }
  } else if (Is (Name, u"bus-khz") && (Value <= ZK48_WIRE_MAX_KHZ)) {
    Chip->Wire = { (UINT32)Value, 0 };
  } else {
    return ApplyFaultNumber (Chip, Name, Value);
  }

  return TRUE;
}

} // namespace

const ZK48_SETTING_HELP  gZk48SettingHelp[] = {
  { "reset",         "  reset                    every setting back to its default, counts cleared" },
  { "show",          "  show                     one line: CRC-32, versions, counts, bus faults" },
  { "fill",          "  fill=0xNN|pattern        every E2PROM byte; pattern: each from its address" },
  { "version",       "  version=0xNN             the E2PROM byte at 0x112F" },
  { "mcu",           "  mcu=0xNN                 the MCU version the chip reports" },
  { "device-id",     "  device-id=0xNN           what the device-ID register answers" },
  { "id-from",       "  id-from=N|never          the device ID answers from the Nth read on" },
  { "ready-after",   "  ready-after=N|never      E2PROM reads complete after N status polls" },
  { "ignore-writes", "  ignore-writes=0|1        block writes acknowledged, nothing stored" },
  { "fail-all",      "  fail-all=0|1             every transaction refused" },
  { "drop-block",    "  drop-block=0xADDR|never  the next block write to ADDR, a multiple of 8, lost" },
  { "fault-at",      "  fault-at=N               the fault below strikes the Nth transaction" },
  { "fault",         "  fault=nack|read-zero|write-ignored|status-stuck" },
  { "bus-khz",       "  bus-khz=N                the SMBus clock, 0 to 1000 kHz; 0: no wire time" },
  { "refuse-every",  "  refuse-every=N|never     every Nth transaction refused" },
  { "refuse-rate",   "  refuse-rate=N/D|0        each transaction refused at random, N in D" },
  { "ignore-rate",   "  ignore-rate=N/D|0        each write acknowledged and ignored, N in D" },
  { "seed",          "  seed=N                   the random draws of the rates start over from N" },
  { "decoy",         "  decoy=none|refuse|silent a host controller ahead of the chip's, no chip" },
};

const UINTN  gZk48SettingHelpCount = sizeof (gZk48SettingHelp) / sizeof (gZk48SettingHelp[0]);

const CHAR8 *
Zk48SettingHelpFor (
  const CHAR16  *Text,
  UINTN         Length
  )
{
  for (UINTN Index = 0; Index < gZk48SettingHelpCount; Index++) {
    const CHAR8  *Name = gZk48SettingHelp[Index].Name;
    UINTN        At    = 0;

    while ((At < Length) && (Name[At] != 0) && (Text[At] == (UINT8)Name[At])) {
      At++;
    }

    if ((Name[At] == 0) && ((At == Length) || (Text[At] == u'='))) {
      return gZk48SettingHelp[Index].Line;
    }
  }

  return nullptr;
}

BOOLEAN
Zk48ApplySetting (
  ZK48_CHIP     *Chip,
  const CHAR16  *Text,
  UINTN         Length
  )
{
  TEXT             Whole = { Text, Length };
  TEXT             Name;
  TEXT             Value;
  UINT64           Number;
  ZK48_FAULT_KIND  Kind;

  if (Is (Whole, u"reset")) {
    Zk48Reset (Chip, DEFAULT_MCU_VERSION);
    return TRUE;
  }

  if (!SplitAt (Whole, u'=', &Name, &Value) || (Length > MAX_SETTING_LENGTH)) {
    return FALSE;
  }

  if (Is (Name, u"refuse-every") || Is (Name, u"refuse-rate") || Is (Name, u"ignore-rate") || Is (Name, u"seed")) {
    return ApplyBusFault (Chip, Name, Value);
  }

  if (Is (Name, u"fault")) {
    if (!ParseFault (Value, &Kind)) {
      return FALSE;
    }

    Chip->Faults.FaultKind = Kind;
    return TRUE;
  }

  if (Is (Name, u"decoy")) {
    return ParseDecoy (Value, &Chip->Decoy);
  }

  if (Is (Name, u"fill") && Is (Value, u"pattern")) {
    Zk48FillPattern (Chip);
    return TRUE;
  }

  return ParseNumber (Value, &Number) && ApplyNumber (Chip, Name, Number);
}

UINTN
Zk48ApplySettingsFile (
  ZK48_CHIP    *Chip,
  const UINT8  *Text,
  UINTN        Size
  )
{
  CHAR16  Line[MAX_SETTING_LENGTH + 1];
  UINTN   LineNumber = 0;
  UINTN   Start      = 0;

  while (Start < Size) {
    UINTN  End    = Start;
    UINTN  Length = 0;

    while ((End < Size) && (Text[End] != '\n')) {
      End++;
    }

    LineNumber++;
    for (UINTN Index = Start; Index < End; Index++) {
      if ((Text[Index] != '\r') && (Text[Index] != ' ') && (Text[Index] != '\t') && (Length <= MAX_SETTING_LENGTH)) {
        Line[Length++] = Text[Index];
      }
    }

    if ((Length > 0) && (Line[0] != u'#') && !Zk48ApplySetting (Chip, Line, Length)) {
      return LineNumber;
    }

    Start = End + 1;
  }

  return 0;
}
