// Simulated PCI configuration space behind ports 0xCF8/0xCFC, and the
// port-I/O pair the product links against on the host.
#include "tests/firmware/SimFirmware.h"

#include "platform/IoLib.h"

namespace harness {

namespace {

constexpr UINTN     CONFIG_ADDRESS_PORT = 0xCF8;
constexpr UINTN     CONFIG_DATA_PORT    = 0xCFC;
constexpr uint32_t  CONFIG_ENABLE       = 0x80000000;
constexpr uint32_t  ABSENT              = 0xFFFFFFFF;

} // namespace

void
SimFirmware::AddPciFunction (
  int       Bus,
  int       Dev,
  int       Func,
  uint16_t  Vendor,
  uint16_t  Device,
  uint8_t   BaseClass,
  uint8_t   SubClass,
  uint8_t   ProgIf,
  uint8_t   Revision,
  uint32_t  Bar4
  )
{
  std::vector<uint32_t>  Config (64, 0);

  Config[0x00 / 4]                                         = ((uint32_t)Device << 16) | Vendor;
  Config[0x08 / 4]                                         = ((uint32_t)BaseClass << 24) | ((uint32_t)SubClass << 16) | ((uint32_t)ProgIf << 8) | Revision;
  Config[0x20 / 4]                                         = Bar4;
  PciFunctions[((uint32_t)Bus << 8) | ((uint32_t)Dev << 3) | (uint32_t)Func] = Config;
}

uint32_t
SimFirmware::PortWrite (
  UINTN     Port,
  uint32_t  Value
  )
{
  Enter (Call::PortWrite);
  Ports.push_back ({ true, Port, Value });
  if (Port == CONFIG_ADDRESS_PORT) {
    PortAddress = Value;
  } else {
    Violation ("write to an I/O port other than 0xCF8");
  }

  return Value;
}

uint32_t
SimFirmware::PortRead (
  UINTN  Port
  )
{
  uint32_t  Value = ABSENT;

  Enter (Call::PortRead);
  if (Port != CONFIG_DATA_PORT) {
    Violation ("read of an I/O port other than 0xCFC");
  } else if ((PortAddress & CONFIG_ENABLE) != 0) {
    auto  Function = PciFunctions.find ((PortAddress >> 8) & 0xFFFF);
    if (Function != PciFunctions.end ()) {
      Value = Function->second[(PortAddress & 0xFC) / 4];
    }
  }

  Ports.push_back ({ false, Port, Value });
  return Value;
}

} // namespace harness

UINT32
IoWrite32 (
  UINTN   Port,
  UINT32  Value
  )
{
  return harness::SimFirmware::Current->PortWrite (Port, Value);
}

UINT32
IoRead32 (
  UINTN  Port
  )
{
  return harness::SimFirmware::Current->PortRead (Port);
}
