// The simulated console: records every character and keeps the screen a
// person would see, as a firmware text console does (CR to column 0, LF
// down a row, wrap at the right edge, scroll at the bottom).
#include "tests/firmware/SimFirmware.h"

namespace harness {

namespace {

SimFirmware &
Sim (
  )
{
  return *SimFirmware::Current;
}

EFI_STATUS EFIAPI
SimOutputString (
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL  *This,
  const CHAR16                     *String
  )
{
  EFI_STATUS      Status = Sim ().Enter (Call::OutputString);
  std::u16string  Text;

  if (This != &Sim ().ConOut) {
    Sim ().Violation ("OutputString on another console");
  }

  if (EFI_ERROR (Status)) {
    return Status;
  }

  for ( ; *String != 0; String++) {
    Text += *String;
    Sim ().PutChar (*String);
  }

  Sim ().Raw += Text;
  Sim ().Timeline.push_back (Event { Event::Output, Text, 0, 0 });
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI
SimClearScreen (
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL  *This
  )
{
  EFI_STATUS  Status = Sim ().Enter (Call::ClearScreen);

  if (This != &Sim ().ConOut) {
    Sim ().Violation ("ClearScreen on another console");
  }

  if (EFI_ERROR (Status)) {
    return Status;
  }

  Sim ().SetScreenSize (Sim ().Columns, Sim ().Rows);
  Sim ().Timeline.push_back (Event { Event::Clear, u"", 0, 0 });
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI
SimSetCursorPosition (
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL  *This,
  UINTN                            Column,
  UINTN                            Row
  )
{
  EFI_STATUS  Status = Sim ().Enter (Call::SetCursorPosition);

  if (This != &Sim ().ConOut) {
    Sim ().Violation ("SetCursorPosition on another console");
  }

  Sim ().Timeline.push_back (Event { Event::Cursor, u"", Column, Row });
  if (EFI_ERROR (Status)) {
    return Status;
  }

  if ((Column >= (UINTN)Sim ().Columns) || (Row >= (UINTN)Sim ().Rows)) {
    return EFI_UNSUPPORTED;
  }

  Sim ().Mode.CursorColumn = (INT32)Column;
  Sim ().Mode.CursorRow    = (INT32)Row;
  return EFI_SUCCESS;
}

} // namespace

void
SimFirmware::InstallConsole (
  )
{
  ConOut.OutputString      = SimOutputString;
  ConOut.ClearScreen       = SimClearScreen;
  ConOut.SetCursorPosition = SimSetCursorPosition;
  ConOut.Mode              = &Mode;
  Mode.MaxMode             = 1;
  Mode.CursorVisible       = TRUE;
}

void
SimFirmware::SetScreenSize (
  int  NewColumns,
  int  NewRows
  )
{
  Columns = NewColumns;
  Rows    = NewRows;
  Screen.assign ((size_t)Rows, std::u16string ((size_t)Columns, u' '));
  Mode.CursorColumn = 0;
  Mode.CursorRow    = 0;
}

void
SimFirmware::PutChar (
  char16_t  Unit
  )
{
  if (Unit == u'\r') {
    Mode.CursorColumn = 0;
    return;
  }

  if (Unit != u'\n') {
    Screen[(size_t)Mode.CursorRow][(size_t)Mode.CursorColumn] = Unit;
    if (++Mode.CursorColumn < Columns) {
      return;
    }

    Mode.CursorColumn = 0;
  }

  if (++Mode.CursorRow == Rows) {
    Screen.erase (Screen.begin ());
    Screen.push_back (std::u16string ((size_t)Columns, u' '));
    Mode.CursorRow = Rows - 1;
  }
}

std::vector<std::u16string>
SimFirmware::ScreenLines (
  ) const
{
  std::vector<std::u16string>  Lines;

  for (const std::u16string &Row : Screen) {
    size_t  End = Row.find_last_not_of (u' ');
    Lines.push_back (End == std::u16string::npos ? u"" : Row.substr (0, End + 1));
  }

  return Lines;
}

std::string
SimFirmware::ScreenText (
  ) const
{
  std::vector<std::u16string>  Lines = ScreenLines ();
  std::string                  Text;

  while (!Lines.empty () && Lines.back ().empty ()) {
    Lines.pop_back ();
  }

  for (size_t Index = 0; Index < Lines.size (); Index++) {
    Text += Utf8 (Lines[Index]) + (Index + 1 < Lines.size () ? "\n" : "");
  }

  return Text;
}

std::string
SimFirmware::RawText (
  ) const
{
  return Utf8 (Raw);
}

} // namespace harness
