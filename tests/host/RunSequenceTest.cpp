// The run from the shell's point of view: arguments, banner, refusal,
// the missing host controller, and the exit status.
#include "tests/host/FirmwareTest.h"

namespace {

using RunSequenceTest = FirmwareTest;

TEST_F (RunSequenceTest, NoArgumentPrintsBannerAndRefusalOnly) {
  EXPECT_EQ (Run ({}), EFI_INVALID_PARAMETER);
  EXPECT_EQ (Output (), std::string (BANNER) + " Error: No bin file name parameter or Command missing -v parameters, program exit.\r\n");
  EXPECT_TRUE (Sim.Transactions.empty ());
  EXPECT_TRUE (Sim.Ports.empty ());
  EXPECT_EQ (Sim.Timeline.front ().Kind, sim::Event::Clear);
}

} // namespace
