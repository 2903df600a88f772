// What every fuzz target shares: a reader that takes a fuzz input apart
// front to back, and the check that turns a broken invariant into a crash
// libFuzzer keeps (and a replay run fails on).
#ifndef TESTS_FUZZ_FUZZ_INPUT_H_
#define TESTS_FUZZ_FUZZ_INPUT_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

// Past the end of the input every read gives zeros; Exhausted says so.
class FuzzInput {
public:
  FuzzInput (const uint8_t *Bytes, size_t Length) : Data (Bytes), Size (Length) {}

  bool     Exhausted () const { return Used >= Size; }
  size_t   Remaining () const { return Exhausted () ? 0 : Size - Used; }
  uint8_t  Byte () { return Exhausted () ? 0 : Data[Used++]; }

  // Low byte first. The reads are separate statements because the compiler
  // may evaluate the operands of | in either order.
  uint16_t
  Word (
    )
  {
    uint16_t  Low  = Byte ();
    uint16_t  High = Byte ();

    return (uint16_t)(Low | (High << 8));
  }

  uint64_t
  Quad (
    )
  {
    uint64_t  Value = 0;

    for (int Shift = 0; Shift < 64; Shift += 8) {
      Value |= (uint64_t)Byte () << Shift;
    }

    return Value;
  }

private:
  const uint8_t  *Data;
  size_t         Size;
  size_t         Used = 0;
};

[[noreturn]] inline void
Fail (
  const char  *What,
  const char  *File,
  int         Line
  )
{
  std::fprintf (stderr, "%s:%d: invariant broken: %s\n", File, Line, What);
  std::abort ();
}

} // namespace fuzz

#define FUZZ_CHECK(Condition)  ((Condition) ? (void)0 : fuzz::Fail (#Condition, __FILE__, __LINE__))

#endif
