// Fuzzes the chip dialogue: the whole tool runs, "-v", an update, a backup
// or a comparison, against the chip model behind an SMBus whose faults come
// from the input: transactions refused (once or several times in a row,
// with any status), warnings, noise in the status register's low bits, and
// writes the chip acknowledges but ignores.
//
// Input: a flags byte (bits 0-1 the command: -v, an update, -d, -c; bit 2
// an AMD controller, else Intel; bits 3-4 the image shape the chip holds;
// bit 5 for -c the chip differs from the image in one byte; bit 6 a chip
// that is another model), the image's version byte (an update) or where
// the chip differs (-c), a byte of chip timing (bits 0-1 the polls until
// ready, bits 4-6 the device-ID read that first answers), then fault
// records of three bytes: the transactions to let pass (16 bits, low byte
// first) and what happens to the one after them (below 0x80 refused:
// bits 0-2 the status, bits 3-5 how many transactions in a row; from 0x80
// a lie: a write ignored, or noise in bits 0-6 of a status read). Past the
// records the bus is clean.
//
// Every run is judged by the oracle of the other multi-run tests (success
// only when true), with no more writes ignored than the command's proof
// stands up to: one for -v and the update, which read the version byte
// until two reads agree; two for -d and -c, unless the chip holds a byte
// that differs from its whole page and column, which no read can set apart
// from them. The log is held to the retry rules: a refused transaction is
// sent again as it was, at most CHIP_ATTEMPTS times in a row; the block
// frames in order, each the image's; nothing at the E2PROM before the chip
// is confirmed. A run that met no lie and no refusal it could not ride out
// must end as the clean run ends, its note counting every refusal.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "chip/TconChip.h"
#include "tests/firmware/Oracle.h"
#include "tests/firmware/SimFirmware.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

enum : uint8_t {
  COMMAND_MASK   = 0x03,
  AMD_CONTROLLER = 0x04,
  SHAPE_SHIFT    = 3,
  SHAPE_MASK     = 0x03,
  CHIP_DIFFERS   = 0x20,
  OTHER_MODEL    = 0x40
};

enum RUN_COMMAND { RunVersion, RunUpdate, RunBackup, RunCompare };

// The chip's addresses and registers, in the tests' one copy.
using harness::ID_BUS_ADDRESS;
using harness::EEPROM_BUS_ADDRESS;
using harness::R_DEVICE_ID;
using harness::V_DEVICE_ID;
using harness::R_EEPROM_STATUS;
using harness::SmbusTransaction;

constexpr uint8_t  R_ACCESS       = 0xB1;
constexpr uint8_t  LIE_FROM       = 0x80;
constexpr uint8_t  STATUS_NOISE   = 0x7F;
constexpr size_t   DEVICE_ID_READS = 6;
constexpr size_t   BLOCK_COUNT    = EEPROM_SIZE / EEPROM_BLOCK_SIZE;

// A whole read: two passes and three more tries (two reads each) of every byte at most, each read its set-up, polls and data.
constexpr size_t  MAX_READS        = 2 * EEPROM_SIZE + 2 * (EEPROM_AGREEING_READS_LIMIT - 2) * EEPROM_SIZE;
constexpr size_t  MAX_TRANSACTIONS = 2 * (1 + DEVICE_ID_READS) + CHIP_REFUSALS_LIMIT + CHIP_ATTEMPTS + 1 + BLOCK_COUNT
                                     + MAX_READS * (3 + 4 + 1) + EEPROM_READ_POLL_LIMIT;

const EFI_STATUS  FAILURES[] = {
  EFI_DEVICE_ERROR, EFI_TIMEOUT, EFI_NO_RESPONSE, EFI_INVALID_PARAMETER,
  EFI_UNSUPPORTED, EFI_BUFFER_TOO_SMALL, EFI_NOT_READY,
  4    // a warning: not an error, the transaction went through
};

struct FAULT_RECORD {
  uint64_t    At;      // the transaction it strikes, counted from 1
  uint8_t     Kind;
};

// The run being fuzzed: its faults and how many lies it may still tell.
harness::SimFirmware             *mSim;
EFI_SMBUS_HC_EXECUTE_OPERATION   mSimExecute;
std::vector<FAULT_RECORD>        mFaults;
size_t                           mNextFault;
uint32_t                         mRefuseLeft;
EFI_STATUS                       mRefuseStatus;
size_t                           mLiesLeft;
size_t                           mLies;

EFI_STATUS EFIAPI
FaultExecute (
  const EFI_SMBUS_HC_PROTOCOL  *This,
  EFI_SMBUS_DEVICE_ADDRESS     SlaveAddress,
  EFI_SMBUS_DEVICE_COMMAND     Command,
  EFI_SMBUS_OPERATION          Operation,
  BOOLEAN                      PecCheck,
  UINTN                        *Length,
  VOID                         *Buffer
  )
{
  ZK48_CHIP   &Chip   = mSim->Chip;
  uint64_t    This1   = Chip.Counts.Transactions + 1;
  uint8_t     Noise   = 0;
  bool        Warning = false;
  EFI_STATUS  Status;

  if ((mNextFault < mFaults.size ()) && (mFaults[mNextFault].At == This1)) {
    uint8_t  Kind = mFaults[mNextFault++].Kind;

    if (Kind < LIE_FROM) {
      mRefuseStatus = FAILURES[Kind % (sizeof (FAILURES) / sizeof (FAILURES[0]))];
      mRefuseLeft   = 1 + ((Kind >> 3) & 7);
    } else if ((Operation != EfiSmbusReadByte) && (mLiesLeft > 0)) {
      mLiesLeft--;
      mLies++;
      Chip.Faults.FaultAt   = (UINT32)This1;
      Chip.Faults.FaultKind = Zk48FaultWriteIgnored;
    } else if ((Operation == EfiSmbusReadByte) && (Command == R_EEPROM_STATUS)) {
      Noise = Kind & STATUS_NOISE;
    }
  }

  if (mRefuseLeft > 0) {
    mRefuseLeft--;
    Warning = !EFI_ERROR (mRefuseStatus);
    if (!Warning) {
      Chip.Faults.FaultAt    = (UINT32)This1;
      Chip.Faults.FaultKind  = Zk48FaultNack;
      Chip.Faults.FailStatus = mRefuseStatus;
    }
  }

  Status = mSimExecute (This, SlaveAddress, Command, Operation, PecCheck, Length, Buffer);
  if (!EFI_ERROR (Status) && (Operation == EfiSmbusReadByte) && (Command == R_EEPROM_STATUS)) {
    *(uint8_t *)Buffer |= Noise;
    mSim->Transactions.back ().Data[0] |= Noise;
  }

  return (Warning && !EFI_ERROR (Status)) ? mRefuseStatus : Status;
}

bool
Same (
  const SmbusTransaction  &One,
  const SmbusTransaction  &Other
  )
{
  return (One.Address == Other.Address) && (One.Command == Other.Command) && (One.Operation == Other.Operation)
         && ((One.Operation == EfiSmbusReadByte) || (One.Data == Other.Data));
}

bool
Is (
  const SmbusTransaction  &Entry,
  UINTN                   Address,
  UINTN                   Command,
  EFI_SMBUS_OPERATION     Operation
  )
{
  return (Entry.Address == Address) && (Entry.Command == Command) && (Entry.Operation == Operation);
}

// A byte that differs from all of its page and column, which all hold one value: no read can set it apart from them.
bool
HoldsASurroundedByte (
  const std::vector<uint8_t>  &Eeprom
  )
{
  for (size_t Address = 0; Address < EEPROM_SIZE; Address++) {
    const uint8_t  Around = Eeprom[Address ^ 1];
    bool           Alike  = Eeprom[Address] != Around;

    for (size_t Slot = 0; Alike && (Slot < 0x100 + EEPROM_SIZE / 0x100); Slot++) {
      size_t  Other = (Slot < 0x100) ? ((Address & ~(size_t)0xFF) | Slot) : (((Slot - 0x100) << 8) | (Address & 0xFF));

      Alike = (Other == Address) || (Eeprom[Other] == Around);
    }

    if (Alike) {
      return true;
    }
  }

  return false;
}

// How the log shows the run met the bus, from the device-ID check that found the chip on: what it refused and whether the tool had to give up on it.
struct BUS_SEEN {
  size_t    Sent     = 0;
  size_t    Refused  = 0;
  bool      GaveUp   = false;    // a transaction refused CHIP_ATTEMPTS times in a row, or more refusals than a run sends again
  bool      Confirmed = false;   // a device-ID read answered 0x11
};

//
// The retry rules, read from the log: a refused transaction is followed by
// the same one (the device-ID reads are tries of their own), at most
// CHIP_ATTEMPTS in a row, until the run's refusals reach their limit; the
// E2PROM is not touched before the chip is confirmed; the block frames
// carry the image in order.
//
BUS_SEEN
CheckLog (
  const std::vector<SmbusTransaction>  &Log,
  const std::vector<uint8_t>           &Image,
  bool                                 Update
  )
{
  BUS_SEEN  Seen;
  size_t    InARow = 0;
  size_t    Blocks = 0;

  FUZZ_CHECK (Log.size () <= MAX_TRANSACTIONS);
  for (size_t Index = 0; Index < Log.size (); Index++) {
    const SmbusTransaction  &Entry   = Log[Index];
    const bool              Refused  = EFI_ERROR (Entry.Status);
    const bool              IdRead   = Is (Entry, ID_BUS_ADDRESS, R_DEVICE_ID, EfiSmbusReadByte);
    const bool              After    = (Index > 0) && EFI_ERROR (Log[Index - 1].Status) && !Is (Log[Index - 1], ID_BUS_ADDRESS, R_DEVICE_ID, EfiSmbusReadByte);
    const bool              Again    = After && Same (Log[Index - 1], Entry);

    FUZZ_CHECK (Entry.Address == ID_BUS_ADDRESS || Entry.Address == EEPROM_BUS_ADDRESS);
    if ((Entry.Address == EEPROM_BUS_ADDRESS) && (Entry.Command != R_ACCESS)) {
      FUZZ_CHECK (Seen.Confirmed);
    }

    // Refused and not sent again only when the tool has given up on the bus.
    FUZZ_CHECK (!After || Again || (InARow == CHIP_ATTEMPTS) || (Seen.Refused >= CHIP_REFUSALS_LIMIT));

    // Each device-ID check counts anew: the bus the chip answers on is the run's.
    if (Is (Entry, EEPROM_BUS_ADDRESS, R_ACCESS, EfiSmbusWriteByte) && !Again) {
      Seen.Sent    = 0;
      Seen.Refused = 0;
      Seen.GaveUp  = false;
    }

    Seen.Sent++;
    Seen.Confirmed = Seen.Confirmed || (IdRead && !Refused && (Entry.Data[0] == V_DEVICE_ID));
    InARow         = Again ? InARow + 1 : 1;
    FUZZ_CHECK (InARow <= CHIP_ATTEMPTS);
    if (Refused) {
      Seen.Refused++;
      Seen.GaveUp = Seen.GaveUp || (!IdRead && ((InARow == CHIP_ATTEMPTS) || (Seen.Refused >= CHIP_REFUSALS_LIMIT)));
    }

    if (Entry.Operation == EfiSmbusWriteBlock) {
      size_t  Offset;

      Blocks += Again ? 0 : 1;
      Offset  = (Blocks - 1) * EEPROM_BLOCK_SIZE;
      FUZZ_CHECK (Update && Blocks <= BLOCK_COUNT);
      FUZZ_CHECK (Entry.Data.size () == BLOCK_FRAME_SIZE && Entry.Data[0] == BLOCK_FRAME_SIZE - 1);
      FUZZ_CHECK (Entry.Data[1] == (uint8_t)(Offset >> 8) && Entry.Data[2] == (uint8_t)Offset);
      FUZZ_CHECK (std::equal (Entry.Data.begin () + 3, Entry.Data.end (), Image.begin () + (ptrdiff_t)Offset));
    }
  }

  FUZZ_CHECK (Blocks == 0 || Blocks == BLOCK_COUNT);
  return Seen;
}

// The refusals a note counts; 0 when it counts none.
size_t
NoteCount (
  const std::string  &Output
  )
{
  const size_t  At    = Output.find (" Note: ");
  char          *End  = nullptr;
  size_t        Count = (At == std::string::npos) ? 0 : std::strtoul (Output.c_str () + At + 7, &End, 10);

  return ((Count != 0) && (std::strncmp (End, " bus transaction", 16) == 0)) ? Count : 0;
}

} // namespace

extern "C" int
LLVMFuzzerTestOneInput (
  const uint8_t  *Data,
  size_t         Size
  )
{
  fuzz::FuzzInput              In (Data, Size);
  const uint8_t                Flags   = In.Byte ();
  const uint8_t                Choice  = In.Byte ();
  const uint8_t                Timing  = In.Byte ();
  const RUN_COMMAND            Command = (RUN_COMMAND)(Flags & COMMAND_MASK);
  const harness::IMAGE_SHAPE   &Shape  = harness::IMAGE_SHAPES[(Flags >> SHAPE_SHIFT) & SHAPE_MASK];
  std::vector<uint8_t>         Image   = harness::ShapeBytes (Shape);
  std::vector<uint8_t>         Chip    = Image;
  std::vector<std::u16string>  Args;
  harness::SimFirmware         Sim;
  uint64_t                     At      = 0;
  int                          Volume;
  EFI_STATUS                   Clean   = EFI_SUCCESS;

  mFaults.clear ();
  while (In.Remaining () >= 3) {
    At += (uint64_t)In.Word () + 1;
    mFaults.push_back ({ At, In.Byte () });
  }

  // The update writes the pattern image with the version asked for over the shape; -c may meet one byte that differs.
  if (Command == RunUpdate) {
    Image                           = harness::Pattern ();
    Image[harness::VERSION_ADDRESS] = Choice;
  } else if ((Command == RunCompare) && ((Flags & CHIP_DIFFERS) != 0)) {
    Chip[0x0800 + Choice] ^= 0x5A;
    Clean                  = EFI_CRC_ERROR;
  }

  Sim.AddSmbusController ();
  Volume = Sim.AddVolume ();
  Sim.AddFile (Volume, u"zk48.bin", Image);
  if ((Flags & AMD_CONTROLLER) != 0) {
    Sim.AddPciFunction (0, 0x14, 0, 0x1022, 0x780B, 0x0C, 0x05, 0x00, 0x14);
  } else {
    Sim.AddPciFunction (0, 0x1F, 3, 0x8086, 0x2930, 0x0C, 0x05, 0x00, 0x02, 0xB101);
  }

  std::copy (Chip.begin (), Chip.end (), Sim.Chip.Eeprom);
  Sim.Chip.Faults.ReadyAfterPolls  = Timing & 0x03;
  Sim.Chip.Faults.DeviceIdFromRead = 1 + ((Timing >> 4) & 0x07);
  Sim.Chip.DeviceId                = ((Flags & OTHER_MODEL) != 0) ? 0x12 : V_DEVICE_ID;
  switch (Command) {
    case RunVersion: Args = { u"-v" }; break;
    case RunUpdate:  Args = { u"zk48.bin" }; break;
    case RunBackup:  Args = { u"-d", u"backup.bin" }; break;
    default:         Args = { u"-c", u"zk48.bin" }; break;
  }

  mSim        = &Sim;
  mNextFault  = 0;
  mRefuseLeft = 0;
  mLies       = 0;
  mLiesLeft   = ((Command == RunBackup) || (Command == RunCompare)) && !HoldsASurroundedByte (Chip) ? 2 : 1;
  mSimExecute = Sim.SmbusControllers[0]->Protocol.Execute;
  Sim.SmbusControllers[0]->Protocol.Execute = FaultExecute;

  std::vector<std::u16string>  Argv = { u"Zk48Update.efi" };

  Argv.insert (Argv.end (), Args.begin (), Args.end ());
  Sim.SetArguments (Argv);

  const EFI_STATUS         Status = Sim.RunImage ();
  const harness::RUN_SEEN  Run    = harness::SeenAfter (Sim, Volume, Args, Status);
  const BUS_SEEN           Bus    = CheckLog (Sim.Transactions, Image, Command == RunUpdate);

  FUZZ_CHECK (Sim.Violations.empty ());
  FUZZ_CHECK (Sim.LedgerProblems ().empty ());
  FUZZ_CHECK (harness::FalseClaims (Run).empty ());

  // A note counts every refusal of a run that succeeded; a run that gave up says what the bus refused.
  if (Status == EFI_SUCCESS) {
    FUZZ_CHECK (NoteCount (Run.Output) == Bus.Refused);
  }

  if ((Status == EFI_DEVICE_ERROR) && Bus.GaveUp && (Run.Output.find ("Error: E2PROM read failed") != std::string::npos)) {
    char  Line[80];

    std::snprintf (Line, sizeof (Line), " The bus refused %zu of %zu transactions, ", Bus.Refused, Bus.Sent);
    FUZZ_CHECK (Run.Output.find (Line) != std::string::npos);
  }

  // Met with nothing it cannot ride out, the run ends as on a clean bus.
  if ((mLies == 0) && !Bus.GaveUp && Bus.Confirmed) {
    FUZZ_CHECK (Status == Clean);
  }

  mSim = nullptr;
  return 0;
}
