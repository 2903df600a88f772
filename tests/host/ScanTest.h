// The fixture of the controller-scan tests: the bench firmware with an empty
// PCI configuration space, so each test places exactly the functions it
// needs, and readers of the port log in terms of configuration reads.
#ifndef TESTS_HOST_SCAN_TEST_H_
#define TESTS_HOST_SCAN_TEST_H_

#include <map>
#include <string>
#include <vector>

#include "tests/firmware/FirmwareTest.h"

// What a run prints before the scan's first line.
inline const std::string  SCAN_HEAD = std::string (BANNER) + SEPARATOR_LINE;

// The first two of the three lines shown for every SMBus controller met.
inline const std::string  CONTROLLER_HEADER =
  " Found SMBus device:\r\n"
  " Bus Dev Func Vendor Device Revision\r\n";

inline const std::string  CLOSING_SEPARATOR = "================================================ \r\n";
inline const std::string  NOT_FOUND_LINE    = "Error: can't found any supported SMBus device,exit.\r\n";

// A scan position as the port log orders them: bus, then device, then function.
constexpr uint32_t
Position (
  int  Bus,
  int  Dev,
  int  Func
  )
{
  return ((uint32_t)Bus << 8) | ((uint32_t)Dev << 3) | (uint32_t)Func;
}

constexpr uint32_t  LAST_POSITION = Position (0xFF, 0x1F, 7);

// The value written to 0xCF8 to read Register of the function at Position.
constexpr uint32_t
ConfigAddress (
  uint32_t  At,
  uint8_t   Register
  )
{
  return 0x80000000 | (At << 8) | Register;
}

class ScanTest : public FirmwareTest {
protected:
  void
  SetUp (
    ) override
  {
    FirmwareTest::SetUp ();
    Sim.PciFunctions.clear ();
  }

  // The addresses of the configuration reads of the run. Fails the test when
  // the port log is not, from the start, pairs of a write of 0xCF8 followed
  // by a read of 0xCFC.
  std::vector<uint32_t>
  ConfigReads (
    ) const
  {
    std::vector<uint32_t>  Addresses;

    for (size_t Index = 0; Index < Sim.Ports.size (); Index += 2) {
      const harness::PortAccess  &Select = Sim.Ports[Index];

      if (!Select.Write || (Select.Port != 0xCF8) || (Index + 1 >= Sim.Ports.size ())
          || Sim.Ports[Index + 1].Write || (Sim.Ports[Index + 1].Port != 0xCFC))
      {
        ADD_FAILURE () << "port access " << Index << " does not start a 0xCF8/0xCFC pair";
        break;
      }

      Addresses.push_back (Select.Value);
    }

    return Addresses;
  }

  // The configuration reads of a scan from position 0 through Last: register
  // 0x00 at every position, and at the positions in Extra the registers listed.
  static std::vector<uint32_t>
  Walk (
    uint32_t                                            Last,
    const std::map<uint32_t, std::vector<uint8_t>>      &Extra = {}
    )
  {
    std::vector<uint32_t>  Addresses;

    for (uint32_t At = 0; At <= Last; At++) {
      Addresses.push_back (ConfigAddress (At, 0x00));
      auto  Registers = Extra.find (At);
      if (Registers != Extra.end ()) {
        for (uint8_t Register : Registers->second) {
          Addresses.push_back (ConfigAddress (At, Register));
        }
      }
    }

    return Addresses;
  }

  // The timeline from the scan on, with console text joined and each run of
  // bus transactions shown as "[N]".
  std::vector<std::string>
  ConsoleAndBus (
    ) const
  {
    std::vector<std::string>  Steps;
    bool                      LastWasBus = false;
    size_t                    BusCount   = 0;

    for (const harness::Event &Step : Sim.Timeline) {
      if (Step.Kind == harness::Event::Smbus) {
        BusCount++;
        LastWasBus = true;
        continue;
      }

      if (Step.Kind != harness::Event::Output) {
        continue;
      }

      if (LastWasBus) {
        Steps.push_back ("[" + std::to_string (BusCount) + "]");
        BusCount   = 0;
        LastWasBus = false;
        Steps.push_back ("");
      } else if (Steps.empty ()) {
        Steps.push_back ("");
      }

      Steps.back () += harness::Utf8 (Step.Text);
    }

    if (LastWasBus) {
      Steps.push_back ("[" + std::to_string (BusCount) + "]");
    }

    return Steps;
  }
};

#endif
