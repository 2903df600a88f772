/** @file
  The whole E2PROM read, one byte at a time: the chip shows no way to read
  more than one byte per command.
**/
#include "update/EepromRead.h"
#include "platform/PrintLib.h"
#include "update/Progress.h"

UINT8  mEepromCopy[EEPROM_SIZE];

namespace {

// Redraws cost console time; the figure is drawn only when it changes.
constexpr UINT32  NO_FIGURE = 0xFFFFFFFF;

// The last byte's figure is the whole, so the loop draws the final one itself.
constexpr UINT32  WHOLE_FIGURE = 100;
static_assert (ProgressFigure (EEPROM_SIZE - 1) == WHOLE_FIGURE, "the last byte shows 100%");

VOID
ShowEepromReadErrorAt (
  EEPROM_READ_RESULT  Result,
  UINT32              Address
  )
{
  if (Result == EepromReadTimeout) {
    Print (u" Error: E2PROM read timed out at address 0x%4.4X, exit.\n", Address);
  } else {
    Print (u" Error: E2PROM read failed at address 0x%4.4X, exit.\n", Address);
  }
}

} // namespace

VOID
ShowEepromReadError (
  EEPROM_READ_RESULT  Result
  )
{
  if (Result == EepromReadTimeout) {
    Print (u" Error: E2PROM read timed out, exit.\n");
  } else {
    Print (u" Error: E2PROM read failed, exit.\n");
  }
}

EEPROM_READ_RESULT
ReadWholeEeprom (
  )
{
  PROGRESS  Progress = StartProgress (u" Reading E2PROM:      ");
  UINT32    Shown    = NO_FIGURE;

  for (UINT32 Address = 0; Address < EEPROM_SIZE; Address++) {
    EEPROM_READ_RESULT  Result = ReadEepromByte ((UINT16)Address, &mEepromCopy[Address]);

    if (Result != EepromReadDone) {
      Print (u"\n");
      ShowEepromReadErrorAt (Result, Address);
      return Result;
    }

    if (ProgressFigure (Address) != Shown) {
      Shown = ProgressFigure (Address);
      ShowProgress (Progress, Shown);
    }
  }

  Print (u"\n================================================\n");
  return EepromReadDone;
}
