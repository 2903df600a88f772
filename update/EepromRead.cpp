/** @file
  E2PROM bytes read one at a time (the chip shows no way to read more than
  one byte per command), each read held against the read before it.
**/
#include "update/EepromRead.h"
#include "platform/PrintLib.h"
#include "update/RetryNote.h"

namespace {

// Redraws cost console time; the figure is drawn only when it changes.
constexpr UINT32  NO_FIGURE = 0xFFFFFFFF;

constexpr UINT32  WHOLE_FIGURE  = 100;
constexpr UINT32  WHOLE_READING = 2 * (UINT32)EEPROM_SIZE;

BOOLEAN
AreNeighbours (
  UINT16  Address,
  UINT16  Other
  )
{
  return ((Address / EEPROM_PAGE_SIZE) == (Other / EEPROM_PAGE_SIZE)) || ((Address % EEPROM_PAGE_SIZE) == (Other % EEPROM_PAGE_SIZE));
}

} // namespace

UINT16
EepromNeighbour (
  UINT16  Address,
  UINT32  Slot
  )
{
  if (Slot < EEPROM_PAGE_COUNT) {
    return (UINT16)(Slot * EEPROM_PAGE_SIZE + Address % EEPROM_PAGE_SIZE);
  }

  return (UINT16)(Address - Address % EEPROM_PAGE_SIZE + (Slot - EEPROM_PAGE_COUNT));
}

BOOLEAN
FindEepromNeighbourApart (
  const UINT8  *Known,
  UINT16       Address,
  const UINT8  *Values,
  UINTN        Count,
  UINTN        Skip,
  UINT16       *Apart
  )
{
  for (UINT32 Slot = 0; Slot < EEPROM_NEIGHBOUR_SLOTS; Slot++) {
    UINT16   Neighbour = EepromNeighbour (Address, Slot);
    BOOLEAN  Differs   = Neighbour != Address;

    for (UINTN Index = 0; Index < Count; Index++) {
      Differs = Differs && (Known[Neighbour] != Values[Index]);
    }

    if (Differs && (Skip-- == 0)) {
      *Apart = Neighbour;
      return TRUE;
    }
  }

  return FALSE;
}

/**
  The chip reads the byte at the address its registers 0xB2 and 0xB3 hold
  when a read command takes, into a data register that changes only then.
  A write the chip acknowledges but ignores therefore leaves a read
  delivering the byte latched before, or the byte of an address mixed from
  the one before and the one asked for. When the one before is a
  neighbour, every mix is one of the two addresses: a read that delivers
  another value than the read before it did is the byte asked for, unless
  that read before had gone astray as well.
**/
CHIP_RESULT
TrailRead (
  READ_TRAIL  *Trail,
  UINT16      Address,
  UINT8       *Value,
  BOOLEAN     *Proven
  )
{
  CHIP_RESULT  Result = ReadEepromByte (Address, Value);

  if (Result != ChipDone) {
    return Result;
  }

  *Proven         = Trail->Started && AreNeighbours (Trail->Address, Address) && (*Value != Trail->Value);
  Trail->Address  = Address;
  Trail->Value    = *Value;
  Trail->Started  = TRUE;
  return ChipDone;
}

/**
  Each new read of the byte comes right after a read of a neighbour that
  Known says holds another value than any read of the byte gave (else than
  the last), so that it is proven whichever of them is right; a different
  neighbour each time, in case Known is wrong about one. The new read
  counts when it agrees with any earlier read of the byte: to put a wrong
  byte past that, a stray write would have had to strike the proven read,
  the read before it and the earlier read. A byte that no neighbour (left)
  sets apart can only be read until two reads agree.
**/
CHIP_RESULT
ConfirmEepromByte (
  READ_TRAIL   *Trail,
  UINT16       Address,
  const UINT8  *Known,
  const UINT8  *Earlier,
  UINTN        Reads,
  UINT8        *Value,
  BOOLEAN      *Disagreed
  )
{
  UINT8  Seen[EEPROM_AGREEING_READS_LIMIT];

  for (UINTN Index = 0; Index < Reads; Index++) {
    Seen[Index] = Earlier[Index];
  }

  for (UINTN Tried = 0; Reads < EEPROM_AGREEING_READS_LIMIT; Reads++, Tried++) {
    UINT16       Apart    = Address;
    UINT8        Again    = 0;
    BOOLEAN      Proven   = FALSE;
    BOOLEAN      Agrees   = FALSE;
    BOOLEAN      Provable = (Known != nullptr)
                            && (FindEepromNeighbourApart (Known, Address, Seen, Reads, Tried, &Apart)
                                || FindEepromNeighbourApart (Known, Address, &Seen[Reads - 1], 1, Tried, &Apart));
    CHIP_RESULT  Result   = Provable ? TrailRead (Trail, Apart, &Again, &Proven) : ChipDone;

    if (Result == ChipDone) {
      Result = TrailRead (Trail, Address, &Again, &Proven);
    }

    if (Result != ChipDone) {
      return Result;
    }

    for (UINTN Index = 0; Index < Reads; Index++) {
      Agrees = Agrees || (Seen[Index] == Again);
    }

    *Disagreed  = *Disagreed || (Again != Seen[0]);
    Seen[Reads] = Again;
    if (Agrees && (Proven || !Provable)) {
      *Value = Again;
      return ChipDone;
    }
  }

  return ChipFailed;
}

VOID
ShowEepromReadError (
  CHIP_RESULT  Result,
  UINT32       Address
  )
{
  Print (" Error: E2PROM read %a", (Result == ChipTimedOut) ? "timed out" : "failed");
  if (Address != NO_EEPROM_ADDRESS) {
    Print (" at address 0x%4.4X", Address);
  }

  if (Result == ChipFailed) {
    Print (": no two of %d reads agreed", (UINT32)EEPROM_AGREEING_READS_LIMIT);
  }

  Print (", exit.\n");
  if (Result == ChipRefused) {
    ShowBusRefusals ();
  }
}

VOID
StartEepromReading (
  EEPROM_READING  *Reading
  )
{
  Reading->Progress = StartProgress (" Reading E2PROM:      ");
  Reading->Shown    = NO_FIGURE;
}

VOID
ShowEepromReading (
  EEPROM_READING  *Reading,
  UINT32          Done
  )
{
  UINT32  Figure = (Done * WHOLE_FIGURE) / WHOLE_READING;

  if (Figure != Reading->Shown) {
    Reading->Shown = Figure;
    ShowProgress (Reading->Progress, Figure);
  }
}

VOID
EndEepromReading (
  )
{
  Print ("\n================================================\n");
}
