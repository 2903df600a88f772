// The product's UEFI and PI declarations held against an oracle that shares
// nothing with them: gnu-efi's headers, and for what gnu-efi lacks, the
// published values pinned below. The simulated firmware's own codes are
// held against the same oracle.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/facts/Facts.h"
#include "tests/firmware/FirmwareCodes.h"

namespace facts {

void
PrintTo (
  const FACT    &Fact,
  std::ostream  *Out
  )
{
  *Out << Fact.Name;
}

} // namespace facts

namespace {

using facts::FACT;

struct ORACLE_FACT {
  FACT          Fact;
  const char    *Source;
};

FACT
PinnedGuid (
  const char        *Name,
  uint32_t          Data1,
  uint16_t          Data2,
  uint16_t          Data3,
  const uint8_t     (&Data4)[8]
  )
{
  FACT  Fact = { Name, 0, {}, true };

  for (int Byte = 0; Byte < 4; Byte++) {
    Fact.Guid[Byte] = (uint8_t)(Data1 >> (8 * Byte));
  }

  for (int Byte = 0; Byte < 2; Byte++) {
    Fact.Guid[4 + Byte] = (uint8_t)(Data2 >> (8 * Byte));
    Fact.Guid[6 + Byte] = (uint8_t)(Data3 >> (8 * Byte));
  }

  for (int Byte = 0; Byte < 8; Byte++) {
    Fact.Guid[8 + Byte] = Data4[Byte];
  }

  return Fact;
}

//
// What gnu-efi does not declare, pinned here, and only here, to the values
// the UEFI and PI standards publish:
//   - the memory types added after gnu-efi's list: EfiPersistentMemory (14)
//     and EfiUnacceptedMemoryType (15);
//   - the PI SMBus host-controller protocol: its GUID; the operation codes
//     the tool sends, EfiSmbusReadByte (4), EfiSmbusWriteByte (5) and
//     EfiSmbusWriteBlock (9), in a C enum of 4 bytes; Execute the first of
//     four pointers; the device address passed by value as a UINTN with the
//     7-bit address in its low bits; the command a UINTN.
//
std::vector<FACT>
PinnedFacts (
  )
{
  constexpr uint8_t  SMBUS_HC_GUID_DATA4[8] = { 0xb6, 0x98, 0x6f, 0x55, 0xaa, 0x75, 0x1c, 0x1b };

  return {
    FACT { "EfiPersistentMemory", 14, {}, false },
    FACT { "EfiUnacceptedMemoryType", 15, {}, false },
    PinnedGuid ("gEfiSmbusHcProtocolGuid", 0xe49d33ed, 0x513d, 0x4634, SMBUS_HC_GUID_DATA4),
    FACT { "EfiSmbusReadByte", 4, {}, false },
    FACT { "EfiSmbusWriteByte", 5, {}, false },
    FACT { "EfiSmbusWriteBlock", 9, {}, false },
    FACT { "sizeof (EFI_SMBUS_OPERATION)", 4, {}, false },
    FACT { "sizeof (EFI_SMBUS_DEVICE_ADDRESS)", 8, {}, false },
    FACT { "sizeof (EFI_SMBUS_DEVICE_COMMAND)", 8, {}, false },
    FACT { "EFI_SMBUS_DEVICE_ADDRESS of 0x21 as passed", 0x21, {}, false },
    FACT { "EFI_SMBUS_HC_PROTOCOL.Execute", 0, {}, false },
    FACT { "sizeof (EFI_SMBUS_HC_PROTOCOL)", 4 * 8, {}, false },
  };
}

std::vector<FACT>
Facts (
  facts::FACT_TABLE  Table
  )
{
  return std::vector<FACT> (Table.Facts, Table.Facts + Table.Count);
}

std::vector<ORACLE_FACT>
Oracle (
  )
{
  std::vector<ORACLE_FACT>  Oracle;

  for (const FACT &Fact : Facts (facts::GnuEfiFacts ())) {
    Oracle.push_back ({ Fact, "gnu-efi" });
  }

  for (const FACT &Fact : PinnedFacts ()) {
    Oracle.push_back ({ Fact, "pinned" });
  }

  return Oracle;
}

const ORACLE_FACT *
FindOracle (
  const std::string  &Name
  )
{
  static const std::vector<ORACLE_FACT>  Known = Oracle ();

  for (const ORACLE_FACT &Entry : Known) {
    if (Name == Entry.Fact.Name) {
      return &Entry;
    }
  }

  return nullptr;
}

// A value as it is read in firmware headers: a GUID in registry form, a number in hex.
std::string
Text (
  const FACT  &Fact
  )
{
  char  Buffer[40];

  if (Fact.IsGuid) {
    const uint8_t  *G = Fact.Guid;
    std::snprintf (
      Buffer, sizeof (Buffer), "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x",
      G[3], G[2], G[1], G[0], G[5], G[4], G[7], G[6], G[8], G[9], G[10], G[11], G[12], G[13], G[14], G[15]);
  } else {
    std::snprintf (Buffer, sizeof (Buffer), "0x%llx", (unsigned long long)Fact.Value);
  }

  return Buffer;
}

std::string
Text (
  uint64_t  Value
  )
{
  return Text (FACT { "", Value, {}, false });
}

std::string
OracleText (
  const std::string  &Name
  )
{
  const ORACLE_FACT  *Entry = FindOracle (Name);

  return (Entry != nullptr) ? Text (Entry->Fact) : "no oracle for " + Name;
}

std::vector<std::string>
Names (
  const std::vector<FACT>  &Table
  )
{
  std::vector<std::string>  List;

  for (const FACT &Fact : Table) {
    List.push_back (Fact.Name);
  }

  return List;
}

std::vector<std::string>
Duplicates (
  std::vector<std::string>  List
  )
{
  std::vector<std::string>  Twice;

  std::sort (List.begin (), List.end ());
  for (size_t Index = 1; Index < List.size (); Index++) {
    if (List[Index] == List[Index - 1]) {
      Twice.push_back (List[Index]);
    }
  }

  return Twice;
}

// The tables are only as good as their coverage: a fact on one side only is
// a fact nobody checks.
TEST (FactTables, NameTheSameFactsOnce) {
  std::vector<std::string>  Product = Names (Facts (facts::ProductFacts ()));
  std::vector<std::string>  Oracle;
  std::vector<std::string>  Missing;

  for (const ORACLE_FACT &Entry : ::Oracle ()) {
    Oracle.push_back (Entry.Fact.Name);
  }

  EXPECT_EQ (Duplicates (Product), std::vector<std::string> {}) << "named twice in ProductFacts.cpp";
  EXPECT_EQ (Duplicates (Oracle), std::vector<std::string> {}) << "pinned although gnu-efi has it, or named twice";

  for (const std::string &Name : Product) {
    if (FindOracle (Name) == nullptr) {
      Missing.push_back (Name);
    }
  }

  EXPECT_EQ (Missing, std::vector<std::string> {}) << "product facts without an oracle";
  Missing.clear ();
  for (const std::string &Name : Oracle) {
    if (std::find (Product.begin (), Product.end (), Name) == Product.end ()) {
      Missing.push_back (Name);
    }
  }

  EXPECT_EQ (Missing, std::vector<std::string> {}) << "oracle facts the product table leaves out";
}

class ProductFact : public testing::TestWithParam<FACT> {
};

TEST_P (ProductFact, AgreesWithTheOracle) {
  const FACT         &Fact  = GetParam ();
  const ORACLE_FACT  *Entry = FindOracle (Fact.Name);

  ASSERT_NE (Entry, nullptr) << Fact.Name << " has no oracle";
  ASSERT_EQ (Fact.IsGuid, Entry->Fact.IsGuid) << Fact.Name;

  std::string  Product = Text (Fact);
  std::string  Oracle  = Text (Entry->Fact);

  EXPECT_EQ (Product, Oracle) << Fact.Name << ": platform/ against " << Entry->Source;
}

std::string
TestName (
  const testing::TestParamInfo<FACT>  &Info
  )
{
  std::string  Name;

  for (const char *Char = Info.param.Name; *Char != '\0'; Char++) {
    if (std::isalnum ((unsigned char)*Char)) {
      Name += *Char;
    } else if (!Name.empty () && (Name.back () != '_')) {
      Name += '_';
    }
  }

  while (!Name.empty () && (Name.back () == '_')) {
    Name.pop_back ();
  }

  return Name;
}

INSTANTIATE_TEST_SUITE_P (Platform, ProductFact, testing::ValuesIn (Facts (facts::ProductFacts ())), TestName);

TEST (SimFirmwareCodes, AgreeWithTheOracle) {
  EXPECT_EQ (Text (harness::code::BOOT_SERVICES_DATA), OracleText ("EfiBootServicesData"));
  EXPECT_EQ (Text (harness::code::BY_PROTOCOL), OracleText ("ByProtocol"));
  EXPECT_EQ (Text (harness::code::NATIVE_INTERFACE), OracleText ("EFI_NATIVE_INTERFACE"));
  EXPECT_EQ (Text (harness::code::OPEN_PROTOCOL_GET_PROTOCOL), OracleText ("EFI_OPEN_PROTOCOL_GET_PROTOCOL"));
  EXPECT_EQ (Text (harness::code::FILE_MODE_READ), OracleText ("EFI_FILE_MODE_READ"));
  EXPECT_EQ (Text (harness::code::FILE_MODE_WRITE), OracleText ("EFI_FILE_MODE_WRITE"));
  EXPECT_EQ (Text (harness::code::FILE_MODE_CREATE), OracleText ("EFI_FILE_MODE_CREATE"));
}

} // namespace
