/** @file
  The whole E2PROM read, one byte at a time: the chip shows no way to read
  more than one byte per command.
**/
#include "update/EepromRead.h"
#include "platform/PrintLib.h"

namespace {

// Redraws cost console time; the figure is drawn only when it changes.
constexpr UINT32  NO_FIGURE = 0xFFFFFFFF;

constexpr UINT32  WHOLE_FIGURE = 100;

/**
  The figure once Done bytes of pass Pass are read: the bytes done as a
  share of all passes, in whole percent; the last byte shows 100%.
**/
UINT32
ReadingFigure (
  const EEPROM_READING  &Reading,
  UINT32                Pass,
  UINT32                Done
  )
{
  return ((Pass * (UINT32)EEPROM_SIZE + Done) * WHOLE_FIGURE) / (Reading.Passes * (UINT32)EEPROM_SIZE);
}

VOID
ShowEepromReadErrorAt (
  CHIP_RESULT  Result,
  UINT32       Address
  )
{
  if (Result == ChipTimedOut) {
    Print (" Error: E2PROM read timed out at address 0x%4.4X, exit.\n", Address);
  } else {
    Print (" Error: E2PROM read failed at address 0x%4.4X, exit.\n", Address);
  }
}

} // namespace

VOID
ShowEepromReadError (
  CHIP_RESULT  Result
  )
{
  if (Result == ChipTimedOut) {
    Print (" Error: E2PROM read timed out, exit.\n");
  } else {
    Print (" Error: E2PROM read failed, exit.\n");
  }
}

VOID
StartEepromReading (
  EEPROM_READING  *Reading,
  UINT32          Passes
  )
{
  Reading->Progress = StartProgress (" Reading E2PROM:      ");
  Reading->Passes   = Passes;
  Reading->Shown    = NO_FIGURE;
}

CHIP_RESULT
ReadEepromPass (
  EEPROM_READING  *Reading,
  UINT32          Pass,
  UINT8           *Copy
  )
{
  for (UINT32 Done = 1; Done <= EEPROM_SIZE; Done++) {
    //
    // A write the chip acknowledges but ignores leaves it delivering the
    // byte it read last. Odd passes run down, so that the same stray write
    // in two passes gives different neighbours and the passes disagree.
    //
    UINT32       Address = ((Pass & 1) != 0) ? EEPROM_SIZE - Done : Done - 1;
    CHIP_RESULT  Result  = ReadEepromByte ((UINT16)Address, &Copy[Address]);
    UINT32       Figure  = ReadingFigure (*Reading, Pass, Done);

    if (Result != ChipDone) {
      Print ("\n");
      ShowEepromReadErrorAt (Result, Address);
      return Result;
    }

    if (Figure != Reading->Shown) {
      Reading->Shown = Figure;
      ShowProgress (Reading->Progress, Figure);
    }
  }

  return ChipDone;
}

VOID
EndEepromReading (
  )
{
  Print ("\n================================================\n");
}

CHIP_RESULT
ReadAgreeingByte (
  UINT16  Address,
  UINTN   Reads,
  UINT8   *Value
  )
{
  for ( ; Reads < EEPROM_AGREEING_READS_LIMIT; Reads++) {
    UINT8        Again  = 0;
    CHIP_RESULT  Result = ReadEepromByte (Address, &Again);

    if (Result != ChipDone) {
      ShowEepromReadErrorAt (Result, Address);
      return Result;
    }

    if (Again == *Value) {
      return ChipDone;
    }

    *Value = Again;
  }

  Print (" Error: E2PROM read failed at address 0x%4.4X: no two of %d reads in a row agreed, exit.\n", (UINT32)Address, (UINT32)EEPROM_AGREEING_READS_LIMIT);
  return ChipFailed;
}
