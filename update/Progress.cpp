/** @file
  The running percentage, drawn at a saved cursor position.
**/
#include "update/Progress.h"
#include "chip/TconChip.h"
#include "platform/PrintLib.h"
#include "platform/UefiLib.h"

static_assert (((UINTN)1 << EEPROM_SIZE_SHIFT) == EEPROM_SIZE, "the shift divides by the E2PROM size");

PROGRESS
StartProgress (
  const CHAR8   *Label
  )
{
  Print ("%a", Label);
  return PROGRESS { gST->ConOut->Mode->CursorColumn, gST->ConOut->Mode->CursorRow };
}

VOID
ShowProgress (
  const PROGRESS  &Progress,
  UINT32          Percent
  )
{
  gST->ConOut->SetCursorPosition (gST->ConOut, (UINTN)Progress.Column, (UINTN)Progress.Row);
  Print ("%d%%", Percent);
}
