/** @file
  Two passes over the E2PROM, the second in an order chosen from the
  first, then the few bytes left read until they are proven.

  Why it is built so. The chip latches the byte at the address in 0xB2 and
  0xB3 into its data register when a read command takes; a write it
  acknowledges but ignores leaves a read delivering the byte latched
  before, or the byte of an address mixed from the one before and the one
  asked for. Two reads that agree prove nothing by themselves: inside a run
  of 0xFF padding, or between the 0x00 high bytes of a 16-bit table, the
  byte latched before is the byte next door, and the same stray write in
  both passes gives the same wrong byte twice. So a byte is taken only on
  the word of a proven read (TrailRead): one made right after a read of a
  neighbour (same page or same column) that delivered another value. Such
  a read is wrong only when a write of its own and one of the read before
  it were ignored, and the byte is taken only when another read of it
  agrees, which a third ignored write would have to fake: no one stray
  write, nor two, can put a wrong byte in a backup or past a comparison,
  whatever the bytes around it hold (but for the one case at the end).

  Pass 1 runs page by page, odd pages downwards, so that every read is a
  neighbour of the one before (a page crossing keeps the low byte). Pass 2
  walks from each byte to a neighbour not read yet whose first-pass value
  differs, so that its read is proven: first to one whose pass-1 read was
  not, then to the one whose value is still most common, so that the
  majority value (the padding) is not left to the end with nothing else
  around it. A byte is taken when its two reads agree and either was
  proven. What is left, some hundred bytes of padding where the columns
  run out of other values, is read again right after a neighbour that
  holds another value (ConfirmEepromByte). A byte that no neighbour sets
  apart (a constant E2PROM has only such bytes) can be proven by no read:
  the two agreeing passes are all the evidence there is. A stray read
  there delivers the same value, unless the byte alone differs from its
  whole page and column: then two stray writes at it could hide it.
**/
#include "update/ProvenEeprom.h"
#include "platform/PrintLib.h"
#include "update/EepromRead.h"

namespace {

constexpr UINTN   BITMAP_SIZE = EEPROM_SIZE / 8;
constexpr UINT32  VALUE_COUNT = 0x100;

// What the read knows between its steps; the caller's two copies hold the bytes.
struct PROVEN_READ {
  EEPROM_READING    Reading;
  READ_TRAIL        Trail;
  UINT8             *Content;
  UINT8             *Second;
  UINT8             Settled[BITMAP_SIZE];   // pass 1: the read proven; from pass 2 on: the byte taken
  UINT8             Walked[BITMAP_SIZE];    // pass 2: read already
  UINT16            Left[VALUE_COUNT];      // pass 2: bytes not read yet, by their first-pass value
};

BOOLEAN
IsMarked (
  const UINT8  *Map,
  UINT32       Address
  )
{
  return (Map[Address / 8] & (1 << (Address % 8))) != 0;
}

VOID
Mark (
  UINT8    *Map,
  UINT32   Address,
  BOOLEAN  Set
  )
{
  Map[Address / 8] = (UINT8)((Map[Address / 8] & ~(1 << (Address % 8))) | ((Set ? 1 : 0) << (Address % 8)));
}

/** One read of a pass, the Done-th of the two; *Value and *Proven as TrailRead gives them. **/
CHIP_RESULT
ReadInPass (
  PROVEN_READ  *Read,
  UINT16       Address,
  UINT32       Done,
  UINT8        *Value,
  BOOLEAN      *Proven
  )
{
  CHIP_RESULT  Result = TrailRead (&Read->Trail, Address, Value, Proven);

  if (Result != ChipDone) {
    Print ("\n");
    ShowEepromReadError (Result, Address);
    return Result;
  }

  ShowEepromReading (&Read->Reading, Done);
  return ChipDone;
}

CHIP_RESULT
ReadFirstPass (
  PROVEN_READ  *Read
  )
{
  for (UINT32 Done = 0; Done < EEPROM_SIZE; Done++) {
    UINT32       Page    = Done / EEPROM_PAGE_SIZE;
    UINT32       Offset  = ((Page & 1) != 0) ? EEPROM_PAGE_SIZE - 1 - Done % EEPROM_PAGE_SIZE : Done % EEPROM_PAGE_SIZE;
    UINT16       Address = (UINT16)(Page * EEPROM_PAGE_SIZE + Offset);
    BOOLEAN      Proven  = FALSE;
    CHIP_RESULT  Result  = ReadInPass (Read, Address, Done + 1, &Read->Content[Address], &Proven);

    if (Result != ChipDone) {
      return Result;
    }

    Mark (Read->Settled, Address, Proven);
  }

  return ChipDone;
}

/**
  The next byte of pass 2 after From: a neighbour not read yet whose
  first-pass value differs from the byte just read, one whose pass-1 read
  was not proven first, then the one whose value is left most often; any
  neighbour not read yet when none differs; the first byte not read yet
  when From has no neighbour left.
**/
UINT16
NextInWalk (
  const PROVEN_READ  &Read,
  UINT16             From
  )
{
  UINT16  Next = From;
  UINT32  Best = 0;

  for (UINT32 Slot = 0; Slot < EEPROM_NEIGHBOUR_SLOTS; Slot++) {
    UINT16  Neighbour = EepromNeighbour (From, Slot);
    UINT8   Value     = Read.Content[Neighbour];
    UINT32  Rank      = 1;

    if ((Neighbour == From) || IsMarked (Read.Walked, Neighbour)) {
      continue;
    }

    if (Value != Read.Trail.Value) {
      Rank = 2 + Read.Left[Value] + (IsMarked (Read.Settled, Neighbour) ? 0 : (UINT32)EEPROM_SIZE);
    }

    if (Rank > Best) {
      Best = Rank;
      Next = Neighbour;
    }
  }

  for (UINT32 Address = 0; (Best == 0) && (Address < EEPROM_SIZE); Address++) {
    if (!IsMarked (Read.Walked, Address)) {
      Best = 1;
      Next = (UINT16)Address;
    }
  }

  return Next;
}

CHIP_RESULT
ReadSecondPass (
  PROVEN_READ  *Read
  )
{
  UINT16  Address = Read->Trail.Address;

  for (UINT32 Index = 0; Index < EEPROM_SIZE; Index++) {
    Read->Left[Read->Content[Index]]++;
  }

  for (UINT32 Done = EEPROM_SIZE; Done < 2 * EEPROM_SIZE; Done++) {
    BOOLEAN      Proven = FALSE;
    UINT16       Apart;
    CHIP_RESULT  Result;
    UINT8        Value;

    Address = NextInWalk (*Read, Address);
    Mark (Read->Walked, Address, TRUE);
    Read->Left[Read->Content[Address]]--;
    Result = ReadInPass (Read, Address, Done + 1, &Read->Second[Address], &Proven);
    if (Result != ChipDone) {
      return Result;
    }

    Value = Read->Second[Address];
    Proven = Proven || IsMarked (Read->Settled, Address) || !FindEepromNeighbourApart (Read->Content, Address, &Value, 1, 0, &Apart);
    Mark (Read->Settled, Address, (Value == Read->Content[Address]) && Proven);
  }

  return ChipDone;
}

/** Every byte the passes did not settle, read until it is; the content then holds it. **/
CHIP_RESULT
SettleTheRest (
  PROVEN_READ  *Read,
  UINT32       *BytesReread
  )
{
  for (UINT32 Address = 0; Address < EEPROM_SIZE; Address++) {
    const UINT8  Earlier[] = { Read->Content[Address], Read->Second[Address] };
    UINT8        Value     = 0;
    BOOLEAN      Disagreed = Earlier[0] != Earlier[1];
    CHIP_RESULT  Result;

    if (IsMarked (Read->Settled, Address)) {
      continue;
    }

    Result = ConfirmEepromByte (&Read->Trail, (UINT16)Address, Read->Content, Earlier, 2, &Value, &Disagreed);
    if (Result != ChipDone) {
      ShowEepromReadError (Result, Address);
      return Result;
    }

    Read->Content[Address] = Value;
    *BytesReread          += Disagreed ? 1 : 0;
  }

  return ChipDone;
}

} // namespace

CHIP_RESULT
ReadProvenEeprom (
  UINT8   *Content,
  UINT8   *Second,
  UINT32  *BytesReread
  )
{
  PROVEN_READ  Read = {};
  CHIP_RESULT  Result;

  Read.Content = Content;
  Read.Second  = Second;
  StartEepromReading (&Read.Reading);
  Result = ReadFirstPass (&Read);
  if (Result == ChipDone) {
    Result = ReadSecondPass (&Read);
  }

  if (Result != ChipDone) {
    return Result;
  }

  EndEepromReading ();
  return SettleTheRest (&Read, BytesReread);
}
