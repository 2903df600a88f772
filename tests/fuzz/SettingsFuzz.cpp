// Fuzzes the simulator's settings parser: Zk48ApplySettingsFile over any
// bytes. The line it reports must be the first one not understood: the
// lines before it apply cleanly on their own, and every setting it applied
// leaves the chip in a state the model knows.
#include <cstring>
#include <initializer_list>

#include "sim/Zk48Settings.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

// The offset just past the end of line Number (1-based), or Size.
size_t
EndOfLine (
  const uint8_t  *Data,
  size_t         Size,
  size_t         Number
  )
{
  size_t  Offset = 0;

  for (size_t Line = 1; Offset < Size; Offset++) {
    if ((Data[Offset] == '\n') && (Line++ == Number)) {
      return Offset + 1;
    }
  }

  return Size;
}

// The chip state settings reach, field by field (padding is no state).
bool
SameSettings (
  const ZK48_CHIP  &A,
  const ZK48_CHIP  &B
  )
{
  return (std::memcmp (A.Eeprom, B.Eeprom, sizeof (A.Eeprom)) == 0) && (A.McuVersion == B.McuVersion)
         && (A.Faults.DeviceIdFromRead == B.Faults.DeviceIdFromRead) && (A.Faults.ReadyAfterPolls == B.Faults.ReadyAfterPolls)
         && (A.Faults.IgnoreBlockWrites == B.Faults.IgnoreBlockWrites) && (A.Faults.FailAll == B.Faults.FailAll)
         && (A.Faults.FaultAt == B.Faults.FaultAt) && (A.Faults.FaultKind == B.Faults.FaultKind)
         && (A.Faults.DropBlockAt == B.Faults.DropBlockAt)
         && (A.Faults.FailStatus == B.Faults.FailStatus)
         && (A.Wire.Khz == B.Wire.Khz) && (A.Wire.Carry == B.Wire.Carry)
         && (A.Faults.RefuseEvery == B.Faults.RefuseEvery) && (A.Faults.SinceRefusal == B.Faults.SinceRefusal)
         && (A.Faults.RefuseRate.Numerator == B.Faults.RefuseRate.Numerator) && (A.Faults.RefuseRate.Denominator == B.Faults.RefuseRate.Denominator)
         && (A.Faults.IgnoreRate.Numerator == B.Faults.IgnoreRate.Numerator) && (A.Faults.IgnoreRate.Denominator == B.Faults.IgnoreRate.Denominator)
         && (A.Faults.Seed == B.Faults.Seed) && (A.Faults.RandomState == B.Faults.RandomState);
}

} // namespace

extern "C" int
LLVMFuzzerTestOneInput (
  const uint8_t  *Data,
  size_t         Size
  )
{
  static ZK48_CHIP  Chip;
  static ZK48_CHIP  Again;
  size_t            Lines = 1;
  UINTN             Bad;

  for (size_t Index = 0; Index < Size; Index++) {
    Lines += (Data[Index] == '\n') ? 1 : 0;
  }

  Zk48Reset (&Chip, 0x10);
  Bad = Zk48ApplySettingsFile (&Chip, Data, Size);
  FUZZ_CHECK (Bad <= Lines);
  FUZZ_CHECK (Chip.Faults.FaultKind <= Zk48FaultStatusStuck);
  FUZZ_CHECK (Chip.Faults.IgnoreBlockWrites <= 1 && Chip.Faults.FailAll <= 1);
  FUZZ_CHECK (Chip.Faults.FaultAt != ZK48_NEVER);
  FUZZ_CHECK ((Chip.Faults.DropBlockAt < ZK48_EEPROM_SIZE) || (Chip.Faults.DropBlockAt == ZK48_NEVER));
  FUZZ_CHECK ((Chip.Wire.Khz <= ZK48_WIRE_MAX_KHZ) && (Chip.Wire.Carry == 0));
  FUZZ_CHECK (Chip.Faults.RefuseEvery >= 1);
  // A rate is a chance: some in at least one. The draws start from the seed as set.
  for (const ZK48_RATE &Rate : { Chip.Faults.RefuseRate, Chip.Faults.IgnoreRate }) {
    FUZZ_CHECK ((Rate.Denominator >= 1) && (Rate.Numerator <= Rate.Denominator));
  }

  FUZZ_CHECK (Chip.Faults.RandomState == Chip.Faults.Seed);

  // The same text gives the same chip: parsing depends on nothing else.
  Zk48Reset (&Again, 0x10);
  FUZZ_CHECK (Zk48ApplySettingsFile (&Again, Data, Size) == Bad);
  FUZZ_CHECK (SameSettings (Chip, Again));

  if (Bad != 0) {
    size_t  Good = (Bad == 1) ? 0 : EndOfLine (Data, Size, Bad - 1);
    FUZZ_CHECK (Zk48ApplySettingsFile (&Again, Data, Good) == 0);
    FUZZ_CHECK (Zk48ApplySettingsFile (&Again, Data, EndOfLine (Data, Size, Bad)) == Bad);
  }

  return 0;
}
