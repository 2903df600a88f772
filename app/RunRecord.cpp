/** @file
  The run's line: formatted by the console's format engine, narrowed to
  ASCII, appended to the end of its file and flushed.
**/
#include "app/RunRecord.h"
#include "app/ChipUpdateMain.h"
#include "chip/SmbusScan.h"
#include "chip/TconChip.h"
#include "platform/PrintLib.h"
#include "platform/UefiLib.h"
#include "update/ToolFile.h"

namespace {

// A line with two names of the longest a FAT volume allows still fits.
constexpr UINTN   RECORD_UNITS   = 640;
// Room kept at the end for CR LF and the formatter's terminator: a cut line still ends.
constexpr UINTN   LINE_END_UNITS = 3;
constexpr UINT64  APPEND_MODE    = EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE | EFI_FILE_MODE_CREATE;
// SetPosition to this puts the position at the end of the file.
constexpr UINT64  END_OF_FILE    = 0xFFFFFFFFFFFFFFFFULL;
constexpr INT32   SECONDS_PER_MINUTE = 60;
constexpr INT32   MINUTES_PER_HOUR   = 60;
constexpr INT32   SECONDS_PER_DAY    = 86400;

struct RECORD_LINE {
  CHAR16    Text[RECORD_UNITS];
  UINTN     Length;
};

/** Appends to the line what Print would show of Format and the values after it (PrintValue's). **/
VOID
PutValues (
  RECORD_LINE  *Line,
  const CHAR8  *Format,
  ...
  )
{
  __builtin_va_list  Values;

  __builtin_va_start (Values, Format);
  Line->Length += FormatValues (Line->Text + Line->Length, RECORD_UNITS - LINE_END_UNITS + 1 - Line->Length, Format, Values);
  __builtin_va_end (Values);
}

/** Appends to the line what Print would show; the format is checked as Print's. **/
template <typename... ARGS>
[[gnu::always_inline]] inline VOID
Put (
  RECORD_LINE                                              *Line,
  PRINT_FORMAT<typename TYPE_IDENTITY<ARGS>::THE_TYPE...>  Format,
  ARGS...                                                  Args
  )
{
  static_assert (sizeof...(ARGS) <= PRINT_MAX_ARGS, "at most PRINT_MAX_ARGS arguments");
  PutValues (Line, Format.Text, PrintValue (Args)...);
}

INT32
SecondOfDay (
  const EFI_TIME  &Time
  )
{
  return (Time.Hour * MINUTES_PER_HOUR + Time.Minute) * SECONDS_PER_MINUTE + Time.Second;
}

VOID
PutFindings (
  const RUN_RECORD  *Record,
  RECORD_LINE       *Line
  )
{
  if ((Record->Known & RECORD_CHIP_FOUND) != 0) {
    Put (Line, " controller=%02X:%02X.%X smbus=0x%lX", mBus, mDev, mFunc, mSmbAddr);
  } else {
    Put (Line, " controller=none");
  }

  if ((Record->Known & RECORD_BEFORE) != 0) {
    Put (Line, " before=0x%02X", Record->Versions.Current);
  }

  if (Record->Versions.ReadBackKnown) {
    Put (Line, " after=0x%02X", Record->Versions.ReadBack);
  }

  if ((Record->Known & RECORD_IMAGE_CRC) != 0) {
    Put (Line, " image-crc=0x%08X", Record->ImageCrc);
  }

  if (Record->Compare.CrcKnown) {
    Put (Line, " image-crc=0x%08X eeprom-crc=0x%08X", Record->Compare.ImageCrc, Record->Compare.EepromCrc);
  }

  if (Record->Backup.CrcKnown) {
    Put (Line, " eeprom-crc=0x%08X", Record->Backup.Crc);
  }
}

/**
  The whole line. A run is taken to last less than a day: one that ends
  on the next day ends earlier in it than it began. Without a time from
  the firmware, the date is all zero and the elapsed time -1.
**/
VOID
FormatRecord (
  const RUN_RECORD  *Record,
  EFI_STATUS        RunStatus,
  const EFI_TIME    *End,
  RECORD_LINE       *Line
  )
{
  const EFI_TIME  &Start  = Record->Start;
  INT32           Elapsed = -1;

  if (((Record->Known & RECORD_START_TIME) != 0) && (End != nullptr)) {
    Elapsed = SecondOfDay (*End) - SecondOfDay (Start);
    Elapsed = (Elapsed < 0) ? Elapsed + SECONDS_PER_DAY : Elapsed;
  }

  Line->Length = 0;
  Put (
    Line,
    "date=%d-%02d-%02dT%02d:%02d:%02d tool=%d.%d.%d command=%a",
    Start.Year, Start.Month, Start.Day, Start.Hour, Start.Minute, Start.Second,
    TOOL_MAJOR_VERSION, TOOL_MINOR_VERSION, TOOL_REVISION_VERSION, Record->Command
    );
  if (Record->FileName != nullptr) {
    Put (Line, " file=\"%s\"", Record->FileName);
  }

  PutFindings (Record, Line);
  Put (Line, " resent=%d status=0x%lX status-name=\"%r\"", mTransactionsRefused, RunStatus, RunStatus);
  Put (Line, " elapsed=%ds", Elapsed);
  Line->Text[Line->Length++] = u'\r';
  Line->Text[Line->Length++] = u'\n';
}

/**
  Narrows the line to ASCII in place, a '?' for anything beyond it, and
  appends it to the end of the file Name. Returns the first failing status.
**/
EFI_STATUS
AppendLine (
  const CHAR16  *Name,
  RECORD_LINE   *Line
  )
{
  CHAR8              *Bytes = (CHAR8 *)Line->Text;
  UINTN              Size   = Line->Length;
  EFI_FILE_PROTOCOL  *File  = nullptr;
  EFI_STATUS         Status;
  EFI_STATUS         CloseStatus;

  for (UINTN Index = 0; Index < Size; Index++) {
    Bytes[Index] = (Line->Text[Index] < 0x80) ? (CHAR8)Line->Text[Index] : '?';
  }

  Status = OpenToolFile (Name, APPEND_MODE, &File);
  if (EFI_ERROR (Status)) {
    return Status;
  }

  Status = File->SetPosition (File, END_OF_FILE);
  if (!EFI_ERROR (Status)) {
    Status = File->Write (File, &Size, Bytes);
  }

  //
  // A driver that takes less than it was given leaves a cut line.
  //
  if (!EFI_ERROR (Status) && (Size != Line->Length)) {
    Status = EFI_VOLUME_FULL;
  }

  if (!EFI_ERROR (Status)) {
    Status = File->Flush (File);
  }

  CloseStatus = File->Close (File);
  return EFI_ERROR (Status) ? Status : CloseStatus;
}

} // namespace

VOID
StartRunRecord (
  RUN_RECORD  *Record
  )
{
  if (!EFI_ERROR (gRT->GetTime (&Record->Start, nullptr))) {
    Record->Known |= RECORD_START_TIME;
  }
}

EFI_STATUS
WriteRunRecord (
  const RUN_RECORD  *Record,
  EFI_STATUS        RunStatus
  )
{
  RECORD_LINE  Line;
  EFI_TIME     End;
  EFI_STATUS   Status;

  Status = gRT->GetTime (&End, nullptr);
  FormatRecord (Record, RunStatus, EFI_ERROR (Status) ? nullptr : &End, &Line);
  Status = AppendLine (Record->LogName, &Line);
  if (!EFI_ERROR (Status)) {
    return RunStatus;
  }

  Print (" Error: no record written to %s: %r.\n", Record->LogName, Status);
  return EFI_ERROR (RunStatus) ? RunStatus : Status;
}
