// The facts as the tool declares them in platform/, compiled with the
// product's own flags and nothing from gnu-efi.
#include "tests/facts/Facts.h"

#include "platform/Base.h"
#include "platform/DevicePath.h"
#include "platform/LoadedImage.h"
#include "platform/Shell.h"
#include "platform/ShellParameters.h"
#include "platform/SimpleFileSystem.h"
#include "platform/SimpleTextOut.h"
#include "platform/SmbusHc.h"
#include "platform/SystemTable.h"

namespace {

constexpr UINTN  SAMPLE_SMBUS_ADDRESS = 0x21;

// The device address as a host controller reads it: a UINTN, whatever bits
// the structure adds or moves.
uint64_t
SmbusAddressAsPassed (
  )
{
  EFI_SMBUS_DEVICE_ADDRESS  Address = {};
  UINTN                     Raw;

  Address.SmbusDeviceAddress = SAMPLE_SMBUS_ADDRESS;
  static_assert (sizeof (Raw) == sizeof (Address), "passed as a UINTN");
  __builtin_memcpy (&Raw, &Address, sizeof (Raw));
  return Raw;
}

} // namespace

facts::FACT_TABLE
facts::ProductFacts (
  )
{
  static const FACT  Table[] = {
#include "tests/facts/FactNames.inc"

    // Beyond gnu-efi's headers: FactsTest.cpp pins these by value.
    FACT_CODE (EfiPersistentMemory),
    FACT_CODE (EfiUnacceptedMemoryType),
    FACT_GUID (gEfiSmbusHcProtocolGuid),
    FACT_CODE (EfiSmbusReadByte),
    FACT_CODE (EfiSmbusWriteByte),
    FACT_CODE (EfiSmbusWriteBlock),
    FACT_SIZE (EFI_SMBUS_OPERATION),
    FACT_SIZE (EFI_SMBUS_DEVICE_ADDRESS),
    FACT_SIZE (EFI_SMBUS_DEVICE_COMMAND),
    facts::FACT { "EFI_SMBUS_DEVICE_ADDRESS of 0x21 as passed", SmbusAddressAsPassed (), {}, false },
    FACT_OFFSET (EFI_SMBUS_HC_PROTOCOL, Execute),
    FACT_SIZE (EFI_SMBUS_HC_PROTOCOL),
  };

  return { Table, sizeof (Table) / sizeof (Table[0]) };
}
