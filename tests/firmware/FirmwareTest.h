// The fixture every host test runs in: a fresh simulated firmware shaped
// like the q35 bench machine (an Intel SMBus controller at 00:1F.3, one
// SMBus host-controller driver with the chip behind it, one FAT volume),
// and a check after each test that the firmware saw nothing it would
// refuse and that every buffer and handle was given back.
#ifndef TESTS_FIRMWARE_FIRMWARE_TEST_H_
#define TESTS_FIRMWARE_FIRMWARE_TEST_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/firmware/SimFirmware.h"

constexpr uint16_t  INTEL_VENDOR       = 0x8086;
constexpr uint16_t  AMD_VENDOR         = 0x1022;
constexpr uint16_t  Q35_SMBUS_DEVICE   = 0x2930;
constexpr uint8_t   SERIAL_BUS_CLASS   = 0x0C;
constexpr uint8_t   SMBUS_SUBCLASS     = 0x05;
constexpr uint32_t  Q35_SMBUS_BAR      = 0x0000B101;

using harness::MakeImage;

class FirmwareTest : public ::testing::Test {
protected:
  harness::SimFirmware  Sim;
  int               Volume = -1;

  void SetUp () override;
  void TearDown () override;

  // Shapes a firmware like the bench machine; returns its volume's index.
  static int SetUpBench (harness::SimFirmware &Firmware);

  // Runs the tool on Firmware (the fixture's by default) with the given arguments after its own name.
  EFI_STATUS Run (const std::vector<std::u16string> &Args) { return RunOn (Sim, Args); }
  static EFI_STATUS RunOn (harness::SimFirmware &Firmware, const std::vector<std::u16string> &Args);

  // Nothing the firmware would refuse, every buffer and handle given back.
  static void ExpectBalanced (const harness::SimFirmware &Firmware);

  void InstallTables ();   // the fixture's firmware, as SimFirmware::InstallTables

  // Takes the SMBus host-controller protocol off every handle: a machine
  // whose firmware has no SMBus driver.
  void RemoveSmbusHc ();

  // The q35 SMBus controller, or another at the given position.
  void AddIntelSmbus (int Bus = 0, int Dev = 0x1F, int Func = 3, uint32_t Bar = Q35_SMBUS_BAR);


  // The SMBus transactions of the run, as text lines "R 23 02 -> 11", "W 21 B1 08", "B 21 00 0A ...".
  std::vector<std::string> BusLog () const;

  // Output as the console received it, in UTF-8.
  std::string Output () const { return Sim.RawText (); }
};

// The banner's five lines, CR LF and all, as a run prints them after ClearScreen.
extern const char  BANNER[];
extern const char  SEPARATOR_LINE[];

// The banner, the separator and what the bench's scan prints when the chip answers.
const std::string &BenchUpToChip ();

#endif
