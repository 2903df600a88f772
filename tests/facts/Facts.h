// The UEFI facts the tool relies on (codes, GUIDs, sizes, member offsets),
// one table each from two translation units that never see each other's
// declarations: ProductFacts.cpp from platform/, GnuEfiFacts.cpp from
// Debian's gnu-efi headers. FactsTest.cpp holds the tables against each
// other. This header names no UEFI type, so either side can include it.
#ifndef TESTS_FACTS_FACTS_H_
#define TESTS_FACTS_FACTS_H_

#include <stddef.h>
#include <stdint.h>

namespace facts {

struct FACT {
  const char  *Name;
  uint64_t    Value;          // a code, a size or an offset
  uint8_t     Guid[16];       // a GUID as it lies in memory
  bool        IsGuid;
};

struct FACT_TABLE {
  const FACT  *Facts;
  size_t      Count;
};

FACT_TABLE ProductFacts ();
FACT_TABLE GnuEfiFacts ();

inline FACT
GuidFact (
  const char  *Name,
  const void  *Guid
  )
{
  FACT  Fact = { Name, 0, {}, true };

  __builtin_memcpy (Fact.Guid, Guid, sizeof (Fact.Guid));
  return Fact;
}

} // namespace facts

//
// Both tables are written with these, so that one fact has one name on
// both sides: the product's spelling of a code or a type.
//
#define FACT_CODE(Code)            facts::FACT { #Code, (uint64_t)(Code), {}, false }
#define FACT_SIZE(Type)            facts::FACT { "sizeof (" #Type ")", (uint64_t)sizeof (Type), {}, false }
#define FACT_OFFSET(Type, Member)  facts::FACT { #Type "." #Member, (uint64_t)offsetof (Type, Member), {}, false }
#define FACT_GUID(Guid)            facts::GuidFact (#Guid, &(Guid))

#endif
