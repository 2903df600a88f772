// The judge of "success only when true", read from the lines a run prints.
#include "tests/firmware/Oracle.h"

#include <cstdio>

namespace harness {

namespace {

enum class Command { Version, Update, Backup, Compare, Other };

Command
CommandOf (
  const std::vector<std::u16string>  &Args
  )
{
  if (Args.empty () || (Args[0] == u"-h")) {
    return Command::Other;
  }

  if (Args[0] == u"-v") {
    return Command::Version;
  }

  if (Args[0] == u"-d") {
    return Command::Backup;
  }

  return (Args[0] == u"-c") ? Command::Compare : Command::Update;
}

bool
Says (
  const RUN_SEEN     &Run,
  const std::string  &Text
  )
{
  return Run.Output.find (Text) != std::string::npos;
}

// Every whole hexadecimal number printed right after Prefix, in order.
std::vector<unsigned long>
NumbersAfter (
  const std::string  &Output,
  const std::string  &Prefix
  )
{
  std::vector<unsigned long>  Numbers;

  for (size_t At = Output.find (Prefix); At != std::string::npos; At = Output.find (Prefix, At + 1)) {
    const char  *Start = Output.c_str () + At + Prefix.size ();
    char        *End   = nullptr;
    unsigned long  Value = std::strtoul (Start, &End, 16);

    if (End != Start) {
      Numbers.push_back (Value);
    }
  }

  return Numbers;
}

std::string
FalseVersionLines (
  const RUN_SEEN  &Run
  )
{
  std::string  Wrong;

  for (unsigned long Shown : NumbersAfter (Run.Output, "The E2PROM version is 0x")) {
    if (Shown != Run.Eeprom[VERSION_ADDRESS]) {
      Wrong += "the version shown, 0x" + Hex (Shown) + ", is not the chip's 0x" + Hex (Run.Eeprom[VERSION_ADDRESS]) + "; ";
    }
  }

  for (unsigned long Shown : NumbersAfter (Run.Output, " Current E2PROM MCU version: V")) {
    if (Shown != Run.Mcu) {
      Wrong += "the MCU version shown, V" + Hex (Shown) + ", is not the chip's V" + Hex (Run.Mcu) + "; ";
    }
  }

  return Wrong;
}

std::string
FirstDifference (
  const std::vector<uint8_t>  &Data,
  const std::vector<uint8_t>  &Eeprom
  )
{
  if (Data.size () != Eeprom.size ()) {
    return std::to_string (Data.size ()) + " bytes";
  }

  for (size_t Address = 0; Address < Eeprom.size (); Address++) {
    if (Data[Address] != Eeprom[Address]) {
      return "differs from the E2PROM at 0x" + Hex (Address);
    }
  }

  return "";
}

std::string
FalseUpdate (
  const RUN_SEEN  &Run
  )
{
  std::string  Wrong;

  if (Says (Run, " E2PROM update finished.") && (Run.Status != EFI_SUCCESS)) {
    Wrong += "\"finished\" printed with status " + Hex (Run.Status) + "; ";
  }

  if ((Run.Status == EFI_SUCCESS) && (Run.Image.size () > VERSION_ADDRESS) && (Run.Eeprom[VERSION_ADDRESS] != Run.Image[VERSION_ADDRESS])) {
    Wrong += "success, but the chip's version byte is 0x" + Hex (Run.Eeprom[VERSION_ADDRESS]) + ", not the image's; ";
  }

  for (unsigned long Shown : NumbersAfter (Run.Output, " Version information verified successfully,the version is 0x")) {
    if (Shown != Run.Eeprom[VERSION_ADDRESS]) {
      Wrong += "verified 0x" + Hex (Shown) + ", but the chip holds 0x" + Hex (Run.Eeprom[VERSION_ADDRESS]) + "; ";
    }
  }

  return Wrong;
}

// -d: success only with the file holding the chip; after a failure no file, unless the run said it could not delete it.
std::string
FalseBackup (
  const RUN_SEEN  &Run
  )
{
  std::string  Problem;

  if (Run.Status == EFI_SUCCESS) {
    if (!Run.FileLeft) {
      return "success without the backup file; ";
    }

    Problem = FirstDifference (Run.Backup, Run.Eeprom);
    return Problem.empty () ? "" : "success, but the backup file is wrong: " + Problem + "; ";
  }

  if (Run.FileLeft && !Says (Run, "could not be deleted, do not use it") && !Run.OutputLost) {
    return "failed with status " + Hex (Run.Status) + ", but left the backup file unannounced; ";
  }

  return "";
}

// -c: "identical" only when the chip holds the image; a difference only where there is one, with both bytes right.
std::string
FalseComparison (
  const RUN_SEEN  &Run
  )
{
  size_t       Differences = 0;
  std::string  Wrong;

  for (size_t Address = 0; Address < Run.Eeprom.size (); Address++) {
    Differences += ((Address >= Run.Image.size ()) || (Run.Image[Address] != Run.Eeprom[Address])) ? 1 : 0;
  }

  if ((Run.Status == EFI_SUCCESS) && (Differences != 0)) {
    Wrong += "\"identical\", but the image " + FirstDifference (Run.Image, Run.Eeprom) + "; ";
  }

  if (Says (Run, " The E2PROM is identical to the image.") && (Run.Status != EFI_SUCCESS)) {
    Wrong += "\"identical\" printed with status " + Hex (Run.Status) + "; ";
  }

  if (Run.Status != EFI_CRC_ERROR) {
    return Wrong;
  }

  for (size_t At = Run.Output.find (" Address 0x"); At != std::string::npos; At = Run.Output.find (" Address 0x", At + 1)) {
    unsigned  Address = 0, Image = 0, Chip = 0;

    if ((std::sscanf (Run.Output.c_str () + At, " Address 0x%4X: image 0x%2X, E2PROM 0x%2X", &Address, &Image, &Chip) == 3)
        && ((Address >= Run.Eeprom.size ()) || (Image != Run.Image[Address]) || (Chip != Run.Eeprom[Address]) || (Image == Chip))) {
      Wrong += "a difference reported at 0x" + Hex (Address, 4) + " that is not the chip's; ";
    }
  }

  for (size_t At = Run.Output.find (" Error: "); At != std::string::npos; At = Run.Output.find (" Error: ", At + 1)) {
    unsigned long  Counted = 0;
    int            End     = 0;

    if ((std::sscanf (Run.Output.c_str () + At, " Error: %lu of 8192 bytes differ from the image:%n", &Counted, &End) == 1) && (End != 0) && (Counted != Differences)) {
      Wrong += std::to_string (Counted) + " bytes said to differ, " + std::to_string (Differences) + " do; ";
    }
  }

  return Wrong;
}

} // namespace

RUN_SEEN
SeenAfter (
  SimFirmware                        &Sim,
  int                                Volume,
  const std::vector<std::u16string>  &Args,
  EFI_STATUS                         Status,
  size_t                             OutputFrom
  )
{
  RUN_SEEN  Run = { Args, Status, Utf8 (Sim.Raw.substr (std::min (OutputFrom, Sim.Raw.size ()))), false, Eeprom (Sim.Chip), Sim.Chip.McuVersion, {}, false, {} };

  if (!Args.empty () && (Volume >= 0) && Sim.HasFile (Volume, Args.back ())) {
    (CommandOf (Args) == Command::Backup ? Run.Backup : Run.Image) = Sim.FileData (Volume, Args.back ());
    Run.FileLeft = CommandOf (Args) == Command::Backup;
  }

  return Run;
}

std::string
FalseClaims (
  const RUN_SEEN  &Run
  )
{
  std::string  Wrong = FalseVersionLines (Run);

  switch (CommandOf (Run.Args)) {
    case Command::Version:
      if ((Run.Status == EFI_SUCCESS) && !Run.OutputLost && !Says (Run, "The E2PROM version is 0x")) {
        Wrong += "success without the version line; ";
      }

      return Wrong;
    case Command::Update:
      return Wrong + FalseUpdate (Run);
    case Command::Backup:
      return Wrong + FalseBackup (Run);
    case Command::Compare:
      return Wrong + FalseComparison (Run);
    default:
      return Wrong;
  }
}

std::string
FalseBenchEnding (
  uint64_t                    Ending,
  const std::vector<uint8_t>  &Before,
  const std::vector<uint8_t>  &Image,
  const std::vector<uint8_t>  &Now
  )
{
  switch (Ending) {
    case BenchPass:
      return (Now == Image) ? "" : "PASS, but the image " + FirstDifference (Image, Now) + "; ";
    case BenchNoBackup:
    case BenchNotStarted:
      return (Now == Before) ? "" : "\"the panel was not written\", but the E2PROM changed; ";
    case BenchPreviousAgain:
      return (Now == Before) ? "" : "\"holds its previous image again\", but it does not; ";
    case BenchNotPrevious:
      return (Now != Before) ? "" : "\"does NOT hold its previous image\", but it does; ";
    case BenchUnknown:
      return "";
    default:
      return "no such ending " + std::to_string (Ending) + "; ";
  }
}

} // namespace harness
