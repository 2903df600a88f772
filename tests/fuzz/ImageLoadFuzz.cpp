// Fuzzes the image load: LoadImageFile and ReleaseImageFile against the
// simulated firmware, with the file's size and contents, its name and the
// firmware's faults over every call of the load decoded from the input.
//
// Input: flags (1 byte), file size (2 bytes, up to 16384), Read's most
// per call (2 bytes, 0xFFFF for no limit), the record size GetInfo claims
// (2 bytes), the allocation size refused (2 bytes), the global fault (1
// byte: call number, bit 7 from that call on), up to four call faults (3
// bytes each: call, which one, status), then the contents, repeated to the
// file's size and stamped with their offset every 256 bytes.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "chip/TconChip.h"
#include "tests/firmware/SimFirmware.h"
#include "tests/fuzz/FuzzInput.h"
#include "update/ImageFile.h"

namespace {

using harness::Call;

enum : uint8_t {
  OPEN_GIVES_NO_HANDLE   = 0x01,
  ZERO_ALLOCATION_NULL   = 0x02,
  GETINFO_SUCCEEDS_EMPTY = 0x04,
  GETINFO_CLAIMS_SIZE    = 0x08,
  REFUSE_ALLOCATION      = 0x10,
  FILE_ON_SECOND_VOLUME  = 0x20,
  NAME_CHOICE_SHIFT      = 6         // bits 6-7: the name as stored, with a leading '\', another name, a long name
};

constexpr size_t    MAX_FAULTS       = 4;
constexpr uint16_t  NO_READ_LIMIT    = 0xFFFF;
constexpr uint8_t   FROM_ON          = 0x80;
constexpr size_t    LONG_NAME_LENGTH = 400;    // past the 320 units one Print shows
constexpr size_t    MAX_FILE_SIZE    = 2 * EEPROM_SIZE;
constexpr size_t    STAMP_EVERY      = 256;    // where the contents carry their offset, so that no two stretches are alike

const Call  FILE_CALLS[] = {
  Call::LocateProtocol, Call::OpenVolume, Call::Open, Call::GetInfo,
  Call::AllocatePool, Call::Read, Call::Close, Call::FreePool, Call::OutputString
};

const EFI_STATUS  STATUSES[] = {
  EFI_NOT_FOUND, EFI_DEVICE_ERROR, EFI_OUT_OF_RESOURCES, EFI_ACCESS_DENIED, EFI_VOLUME_CORRUPTED,
  EFI_NO_MEDIA, EFI_BUFFER_TOO_SMALL, EFI_INVALID_PARAMETER, EFI_UNSUPPORTED, EFI_END_OF_FILE
};

bool
Empty (
  const CHIP_IMAGE_FILE  &ImageFile
  )
{
  return (ImageFile.Root == nullptr) && (ImageFile.File == nullptr) && (ImageFile.FileInfo == nullptr) && (ImageFile.Image == nullptr);
}

} // namespace

extern "C" int
LLVMFuzzerTestOneInput (
  const uint8_t  *Data,
  size_t         Size
  )
{
  fuzz::FuzzInput       In (Data, Size);
  harness::SimFirmware      Sim;
  uint8_t               Flags       = In.Byte ();
  size_t                FileSize    = In.Word () % (MAX_FILE_SIZE + 1);
  uint16_t              ReadLimit   = In.Word ();
  uint16_t              ClaimedSize = In.Word ();
  uint16_t              Refused     = In.Word ();
  uint8_t               GlobalFault = In.Byte ();
  std::u16string        StoredName  = u"zk48.bin";
  std::u16string        GivenName;
  std::vector<uint8_t>  File (FileSize);
  std::vector<uint8_t>  Pattern;
  int                   Volume;

  for (size_t Index = 0; Index < MAX_FAULTS; Index++) {
    uint8_t  Which = In.Byte ();
    uint8_t  Nth   = In.Byte ();
    uint8_t  Kind  = In.Byte ();

    if (Which < sizeof (FILE_CALLS) / sizeof (FILE_CALLS[0])) {
      EFI_STATUS  Status = STATUSES[Kind % (sizeof (STATUSES) / sizeof (STATUSES[0]))];

      // The Nth call fails, or every one for 0.
      Sim.Fail ((Nth % 4 == 0) ? harness::FromThenOn (FILE_CALLS[Which], 1, Status) : harness::Once (FILE_CALLS[Which], Nth % 4, Status));
    }
  }

  while (!In.Exhausted ()) {
    Pattern.push_back (In.Byte ());
  }

  for (size_t Index = 0; !Pattern.empty () && (Index < FileSize); Index += Pattern.size ()) {
    std::copy_n (Pattern.begin (), std::min (Pattern.size (), FileSize - Index), File.begin () + (ptrdiff_t)Index);
  }

  for (size_t Index = 0; Index < FileSize; Index += STAMP_EVERY) {
    File[Index] = (uint8_t)(Index / STAMP_EVERY);
  }

  switch (Flags >> NAME_CHOICE_SHIFT) {
    case 0:
      GivenName = StoredName;
      break;
    case 1:
      GivenName = u"\\" + StoredName;
      break;
    case 2:
      GivenName = u"other.bin";
      break;
    default:
      StoredName = GivenName = std::u16string (LONG_NAME_LENGTH, u'n');
      break;
  }

  Volume = Sim.AddVolume ();
  if ((Flags & FILE_ON_SECOND_VOLUME) != 0) {
    Volume = Sim.AddVolume ();
  }

  Sim.AddFile (Volume, StoredName, File);
  Sim.OpenReturnsNoHandle   = (Flags & OPEN_GIVES_NO_HANDLE) != 0;
  Sim.AllocateZeroGivesNull = (Flags & ZERO_ALLOCATION_NULL) != 0;
  Sim.GetInfoSucceedsEmpty  = (Flags & GETINFO_SUCCEEDS_EMPTY) != 0;
  Sim.GetInfoClaimsSize     = ((Flags & GETINFO_CLAIMS_SIZE) != 0) ? ClaimedSize : 0;
  if ((Flags & REFUSE_ALLOCATION) != 0) {
    Sim.Fail (harness::AtSite (harness::Call::AllocatePool, Refused, EFI_OUT_OF_RESOURCES));
  }

  if ((GlobalFault & ~FROM_ON) != 0) {
    uint64_t  K = GlobalFault & ~FROM_ON;

    Sim.Fail (((GlobalFault & FROM_ON) != 0) ? harness::FromThenOn (harness::ANY_CALL, K) : harness::Once (harness::ANY_CALL, K));
  }

  if (ReadLimit != NO_READ_LIMIT) {
    Sim.Fail (harness::Short (harness::Call::Read, ReadLimit));
  }

  Sim.InstallTables ();   // a load needs no run, only the tables
  CHIP_IMAGE_FILE  ImageFile;
  BOOLEAN          Loaded = LoadImageFile (GivenName.c_str (), &ImageFile);
  size_t           Delivered = std::min<size_t> (FileSize, ReadLimit != NO_READ_LIMIT ? ReadLimit : SIZE_MAX);
  size_t           Needed    = offsetof (EFI_FILE_INFO, FileName) + (StoredName.size () + 1) * sizeof (CHAR16);

  if (Loaded) {
    // Exactly one image, as the file holds it, and the firmware's own count.
    FUZZ_CHECK (ImageFile.Status == EFI_SUCCESS);
    FUZZ_CHECK (ImageFile.ImageSize == EEPROM_SIZE && Delivered == EEPROM_SIZE);
    FUZZ_CHECK (ImageFile.Image != nullptr && ImageFile.FileSize == FileSize);
    FUZZ_CHECK (std::memcmp (ImageFile.Image, File.data (), EEPROM_SIZE) == 0);
    ReleaseImageFile (&ImageFile);
  } else {
    FUZZ_CHECK (EFI_ERROR (ImageFile.Status));
    // A load that ends untroubled fails only for a missing file or a wrong length.
    FUZZ_CHECK ((Sim.InjectedFailures > 0) || Sim.OpenReturnsNoHandle || Sim.GetInfoSucceedsEmpty
                || ((Sim.GetInfoClaimsSize != 0) && (Sim.GetInfoClaimsSize < Needed))
                || (GivenName == u"other.bin") || ((Flags & FILE_ON_SECOND_VOLUME) != 0) || (Delivered != EEPROM_SIZE));
  }

  // Given back once: a second release finds nothing left.
  FUZZ_CHECK (Empty (ImageFile));
  ReleaseImageFile (&ImageFile);
  FUZZ_CHECK (Sim.LedgerProblems ().empty ());
  FUZZ_CHECK (Sim.Violations.empty ());
  return 0;
}
