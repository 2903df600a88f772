// One judge of "success only when true" for every test that runs the tool
// many times over (the fault sweep, the soak, the chip-dialogue fuzzer):
// what a run said and how it ended, held against what the chip and the
// volume hold afterwards.
#ifndef TESTS_FIRMWARE_ORACLE_H_
#define TESTS_FIRMWARE_ORACLE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "tests/firmware/SimFirmware.h"

namespace harness {

// What one run of the tool said, and the truth after it.
struct RUN_SEEN {
  std::vector<std::u16string>    Args;                 // after the tool's name
  EFI_STATUS                     Status;
  std::string                    Output;               // what this run printed, UTF-8
  bool                           OutputLost = false;   // the console failed: a line missing proves nothing
  std::vector<uint8_t>           Eeprom;               // the chip's E2PROM after the run
  uint8_t                        Mcu = 0;              // the MCU version the chip reports
  std::vector<uint8_t>           Image;                // the file an update or a comparison was given, as on the volume
  bool                           FileLeft = false;     // -d: a file of the backup's name is on the volume
  std::vector<uint8_t>           Backup;               // ... and what it holds
};

// The run that just ended on Sim: its output from OutputFrom (a position in Sim.Raw) on, the chip, the file named last in Args.
RUN_SEEN SeenAfter (SimFirmware &Sim, int Volume, const std::vector<std::u16string> &Args, EFI_STATUS Status, size_t OutputFrom = 0);

//
// What the run claimed that is not true, "" when nothing is: a version
// shown that the chip does not hold (E2PROM or MCU), an update finished
// without the image's version byte in the chip, a backup saved that
// differs from the chip or a failed one left unannounced, "identical"
// while the chip differs from the image, a difference reported that is
// not there.
//
std::string FalseClaims (const RUN_SEEN &Run);

// The bench script's exit statuses, as examples/Zk48Bench.nsh ends.
enum BENCH_ENDING : uint64_t {
  BenchPass           = 0,
  BenchNoBackup       = 2,   // STOPPED, nothing written
  BenchPreviousAgain  = 3,
  BenchNotPrevious    = 4,
  BenchUnknown        = 5,
  BenchNotStarted     = 6    // STOPPED: the update ended before its first block, nothing written back
};

// What the bench's last line claims about the panel that is not true, "" when it is.
std::string FalseBenchEnding (uint64_t Ending, const std::vector<uint8_t> &Before, const std::vector<uint8_t> &Image, const std::vector<uint8_t> &Now);

} // namespace harness

#endif
