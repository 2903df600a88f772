/** @file
  The running percentage of a long chip operation, redrawn in place after
  its label.
**/
#ifndef UPDATE_PROGRESS_H_
#define UPDATE_PROGRESS_H_

#include "platform/Base.h"

// The figure divides by the E2PROM's 8192 bytes with a shift.
constexpr UINT32  EEPROM_SIZE_SHIFT = 13;

// Where the figure goes: right after the label, on the label's row.
struct PROGRESS {
  INT32    Column;
  INT32    Row;
};

/** Prints Label (no line end) and returns where the figure is to be drawn. **/
PROGRESS
StartProgress (
  const CHAR8   *Label
  );

/** Draws Percent and a percent sign at the saved position, over the figure before. **/
VOID
ShowProgress (
  const PROGRESS  &Progress,
  UINT32          Percent
  );

/**
  The figure shown once the E2PROM byte or block at Offset is done: the
  offset plus one, as a share of the E2PROM in whole percent.
**/
constexpr UINT32
ProgressFigure (
  UINT32  Offset
  )
{
  return ((Offset + 1) * 100) >> EEPROM_SIZE_SHIFT;
}

#endif
