// Fuzzes the chip dialogue: the whole tool runs, "-v", an update with a
// good image, a backup or a comparison, on a simulated firmware whose SMBus
// host controller answers every transaction from the input: each Execute's
// status, each byte read.
//
// Input: flags (bit 2 a backup, else bit 3 a comparison, else bit 0 an
// update, else "-v"; bit 1 an AMD controller, else Intel), the image's
// version byte, then per transaction a status byte
// (below 0xC0 success, else one of the statuses below) and, for a read, the
// byte the buffer receives (also on failure: the driver promises nothing
// then). An input that has run out is a bus where nobody answers.
//
// The log of the run is read back as the chip would see it: E2PROM read
// attempts, grouped into byte reads (a refused attempt tried again, three
// in all), and block frames (the same, sent again); then the reads are
// held against what a backup or a comparison must ask for, and the
// outcome against what the bytes delivered allow.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "chip/TconChip.h"
#include "tests/firmware/SimFirmware.h"
#include "tests/fuzz/FuzzInput.h"

namespace {

enum : uint8_t {
  RUN_UPDATE     = 0x01,
  AMD_CONTROLLER = 0x02,
  RUN_BACKUP     = 0x04,
  RUN_COMPARE    = 0x08
};

// The chip's addresses and registers, in the tests' one copy.
using harness::ID_BUS_ADDRESS;
using harness::EEPROM_BUS_ADDRESS;
using harness::R_DEVICE_ID;
using harness::V_DEVICE_ID;
using harness::R_ADDRESS_HIGH;
using harness::R_ADDRESS_LOW;
using harness::R_COMMAND;
using harness::R_EEPROM_DATA;
using harness::R_EEPROM_STATUS;
using harness::B_DATA_READY;

constexpr uint8_t  SUCCESS_BELOW   = 0xC0;
constexpr uint8_t  ABSENT_BYTE     = 0xFF;

// The device-ID tries per controller, and an AMD controller's two bases.
constexpr size_t  DEVICE_ID_READS = 6;
constexpr size_t  CHIP_CHECKS     = 2;
constexpr size_t  BLOCK_COUNT     = EEPROM_SIZE / EEPROM_BLOCK_SIZE;

// What the tool may spend: three attempts at a block or a byte, five reads of a byte the reads disagree on.
constexpr size_t  ATTEMPTS       = 3;
constexpr size_t  AGREEING_READS = 5;

// Every transaction a run may make: the checks, the MCU read, the blocks,
// one version read, or two reads of every E2PROM byte and the reads again.
constexpr size_t  BYTE_READ_TRANSACTIONS = 3 + EEPROM_READ_POLL_LIMIT + 1;
constexpr size_t  MAX_TRANSACTIONS       = CHIP_CHECKS * (1 + DEVICE_ID_READS) + 1 + ATTEMPTS * BLOCK_COUNT
                                           + ATTEMPTS * (2 + AGREEING_READS) * EEPROM_SIZE * BYTE_READ_TRANSACTIONS;

const EFI_STATUS  FAILURES[] = {
  EFI_DEVICE_ERROR, EFI_TIMEOUT, EFI_NO_RESPONSE, EFI_INVALID_PARAMETER,
  EFI_UNSUPPORTED, EFI_BUFFER_TOO_SMALL, EFI_NOT_READY,
  4    // a warning: not an error, the transaction went through
};

struct Transaction {
  UINTN                  Address;
  UINTN                  Command;
  EFI_SMBUS_OPERATION    Operation;
  EFI_STATUS             Status;
  size_t                 Size;
  uint8_t                Data[BLOCK_FRAME_SIZE];   // written, or the byte read
};

//
// The input being answered from and the logs of the run. Their room is
// kept from run to run: a failed Intel check scans all 65536 functions and
// a chip never ready is polled 10000 times, and growing the logs anew each
// time would cost more than the run.
//
fuzz::FuzzInput                   *mInput;
std::vector<Transaction>          mLog;
std::vector<harness::PortAccess>  mPortLog;

EFI_STATUS EFIAPI
ScriptedExecute (
  const EFI_SMBUS_HC_PROTOCOL  *This,
  EFI_SMBUS_DEVICE_ADDRESS     SlaveAddress,
  EFI_SMBUS_DEVICE_COMMAND     Command,
  EFI_SMBUS_OPERATION          Operation,
  BOOLEAN                      PecCheck,
  UINTN                        *Length,
  VOID                         *Buffer
  )
{
  harness::SimFirmware  &Sim   = *((const harness::SimSmbusHc *)This)->Owner;
  fuzz::FuzzInput       &In   = *mInput;
  Transaction           Entry = {};
  uint8_t               Answer;

  Sim.Enter (harness::Call::Execute);
  std::memcpy (&Entry.Address, &SlaveAddress, sizeof (Entry.Address));
  Entry.Command   = Command;
  Entry.Operation = Operation;
  if ((PecCheck != FALSE) || (Length == nullptr) || (Buffer == nullptr)) {
    Sim.Violation ("Execute with PEC, no length or no buffer");
    return EFI_INVALID_PARAMETER;
  }

  if (Operation == EfiSmbusReadByte) {
    if (*Length != 1) {
      Sim.Violation ("byte read of another length");
    }
  } else if (((Operation == EfiSmbusWriteByte) || (Operation == EfiSmbusWriteBlock)) && (*Length <= BLOCK_FRAME_SIZE)) {
    Entry.Size = *Length;
    std::memcpy (Entry.Data, Buffer, Entry.Size);
  } else {
    Sim.Violation ("Execute of an operation the chip is not spoken to with");
  }

  if (In.Exhausted ()) {
    Entry.Status = EFI_NO_RESPONSE;
  } else {
    Answer       = In.Byte ();
    Entry.Status = (Answer < SUCCESS_BELOW) ? EFI_SUCCESS : FAILURES[Answer % (sizeof (FAILURES) / sizeof (FAILURES[0]))];
  }

  if (Operation == EfiSmbusReadByte) {
    *(uint8_t *)Buffer = In.Exhausted () ? ABSENT_BYTE : In.Byte ();
    Entry.Data[0]      = *(const uint8_t *)Buffer;
    Entry.Size         = 1;
  }

  mLog.push_back (Entry);
  return Entry.Status;
}

bool
Is (
  const Transaction    &Entry,
  UINTN                Address,
  UINTN                Command,
  EFI_SMBUS_OPERATION  Operation
  )
{
  return (Entry.Address == Address) && (Entry.Command == Command) && (Entry.Operation == Operation);
}

// One E2PROM byte as the tool asked for it, over all its attempts.
struct BYTE_READ {
  size_t     Address;
  size_t     Known;      // the bits of Address its writes showed: a refused high byte shows no low byte
  size_t     Attempts;
  bool       Refused;    // the last attempt ended at a refused transaction
  bool       Done;       // the last attempt delivered Value
  uint8_t    Value;
};

//
// The E2PROM read attempts of the log, from each address-high write on:
// the address, the command, the polls, the data byte, each step only after
// the one before went through. An attempt that a refusal ended is followed
// by another of the same address, three in all.
//
std::vector<BYTE_READ>
ByteReadsOf (
  const std::vector<Transaction>  &Log
  )
{
  std::vector<BYTE_READ>  Reads;

  for (size_t Index = 0; Index < Log.size (); Index++) {
    BYTE_READ  Attempt = { 0, 0xFF00, 1, true, false, 0 };
    size_t     Step    = Index;

    if (!Is (Log[Index], EEPROM_BUS_ADDRESS, R_ADDRESS_HIGH, EfiSmbusWriteByte)) {
      continue;
    }

    Attempt.Address = (size_t)Log[Step].Data[0] << 8;
    if (!EFI_ERROR (Log[Step].Status)) {
      FUZZ_CHECK (++Step < Log.size () && Is (Log[Step], EEPROM_BUS_ADDRESS, R_ADDRESS_LOW, EfiSmbusWriteByte));
      Attempt.Address |= Log[Step].Data[0];
      Attempt.Known    = 0xFFFF;
    }

    if (!EFI_ERROR (Log[Step].Status) && (Step > Index)) {
      FUZZ_CHECK (++Step < Log.size () && Is (Log[Step], EEPROM_BUS_ADDRESS, R_COMMAND, EfiSmbusWriteByte) && Log[Step].Data[0] == 0x02);
    }

    // The data byte is read only right after a status read that showed it ready.
    if (!EFI_ERROR (Log[Step].Status) && (Step == Index + 2)) {
      while ((Step + 1 < Log.size ()) && Is (Log[Step + 1], EEPROM_BUS_ADDRESS, R_EEPROM_STATUS, EfiSmbusReadByte)) {
        Step++;
      }

      const bool  Ready = Is (Log[Step], EEPROM_BUS_ADDRESS, R_EEPROM_STATUS, EfiSmbusReadByte) && !EFI_ERROR (Log[Step].Status) && ((Log[Step].Data[0] & B_DATA_READY) != 0);

      Attempt.Refused = false;
      if (Ready) {
        FUZZ_CHECK (++Step < Log.size () && Is (Log[Step], EEPROM_BUS_ADDRESS, R_EEPROM_DATA, EfiSmbusReadByte));
        Attempt.Done    = !EFI_ERROR (Log[Step].Status);
        Attempt.Refused = !Attempt.Done;
        Attempt.Value   = Log[Step].Data[0];
      }
    }

    if (!Reads.empty () && Reads.back ().Refused && (Reads.back ().Attempts < ATTEMPTS)) {
      FUZZ_CHECK ((Reads.back ().Address & Attempt.Known) == (Attempt.Address & Reads.back ().Known));
      Attempt.Attempts = Reads.back ().Attempts + 1;
      Attempt.Address  = Reads.back ().Known == 0xFFFF ? Reads.back ().Address : Attempt.Address;
      Attempt.Known   |= Reads.back ().Known;
      Reads.back ()    = Attempt;
    } else {
      Reads.push_back (Attempt);
    }

    Index = Step;
  }

  return Reads;
}

//
// What a whole read must have asked for, one byte read after another, and
// what it found: every address once a pass (two passes for a backup), then
// each byte in doubt read until two reads in a row agree. Returns FALSE
// when the reads ran out, or one failed, before the content was settled.
//
bool
SettleWholeRead (
  const std::vector<BYTE_READ>  &Reads,
  bool                          Backup,
  const std::vector<uint8_t>    &Image,
  std::vector<uint8_t>          &Content
  )
{
  std::vector<uint8_t>  Second (EEPROM_SIZE);
  size_t                Next = 0;

  Content.assign (EEPROM_SIZE, 0);
  for (size_t Pass = 0; Pass < (Backup ? 2u : 1u); Pass++) {
    for (size_t Done = 0; Done < EEPROM_SIZE; Done++, Next++) {
      size_t  Address = (Pass == 0) ? Done : EEPROM_SIZE - 1 - Done;   // the second pass runs down

      if (Next == Reads.size ()) {
        return false;
      }

      FUZZ_CHECK (Reads[Next].Address == (Address & Reads[Next].Known));
      if (!Reads[Next].Done) {
        FUZZ_CHECK (Next + 1 == Reads.size ());
        return false;
      }

      (Pass == 0 ? Content : Second)[Address] = Reads[Next].Value;
    }
  }

  for (size_t Address = 0; Address < EEPROM_SIZE; Address++) {
    size_t   Made = Backup ? 2 : 1;
    uint8_t  Last = Backup ? Second[Address] : Content[Address];

    if (Backup ? (Content[Address] == Second[Address]) : (Content[Address] == Image[Address])) {
      continue;
    }

    for (bool Agreed = false; !Agreed; Made++) {
      if ((Made == AGREEING_READS) || (Next == Reads.size ())) {
        FUZZ_CHECK (Next == Reads.size ());
        return false;
      }

      FUZZ_CHECK (Reads[Next].Address == (Address & Reads[Next].Known));
      if (!Reads[Next++].Done) {
        FUZZ_CHECK (Next == Reads.size ());
        return false;
      }

      Agreed = Reads[Next - 1].Value == Last;
      Last   = Reads[Next - 1].Value;
    }

    Content[Address] = Last;
  }

  FUZZ_CHECK (Next == Reads.size ());
  return true;
}

} // namespace

extern "C" int
LLVMFuzzerTestOneInput (
  const uint8_t  *Data,
  size_t         Size
  )
{
  fuzz::FuzzInput       In (Data, Size);
  uint8_t               Flags   = In.Byte ();
  uint8_t               Version = In.Byte ();
  bool                  Backup  = (Flags & RUN_BACKUP) != 0;
  bool                  Compare = !Backup && ((Flags & RUN_COMPARE) != 0);
  bool                  Whole   = Backup || Compare;
  bool                  Update  = !Whole && ((Flags & RUN_UPDATE) != 0);
  std::vector<uint8_t>  Image   = harness::MakeImage (Version);
  harness::SimFirmware  Sim;
  int                   Controller;
  EFI_STATUS            Status;

  mInput     = &In;
  mLog.clear ();
  Controller = Sim.AddSmbusController ();
  Sim.SmbusControllers[(size_t)Controller]->Protocol.Execute = ScriptedExecute;
  int                   Volume;

  Volume     = Sim.AddVolume ();
  Sim.AddFile (Volume, u"zk48.bin", Image);
  if ((Flags & AMD_CONTROLLER) != 0) {
    Sim.AddPciFunction (0, 0x14, 0, 0x1022, 0x780B, 0x0C, 0x05, 0x00, 0x14);
  } else {
    Sim.AddPciFunction (0, 0x1F, 3, 0x8086, 0x2930, 0x0C, 0x05, 0x00, 0x02, 0xB101);
  }

  if (Whole) {
    Sim.SetArguments ({ u"Zk48Update.efi", Backup ? u"-d" : u"-c", Backup ? u"backup.bin" : u"zk48.bin" });
  } else {
    Sim.SetArguments ({ u"Zk48Update.efi", Update ? u"zk48.bin" : u"-v" });
  }

  mPortLog.clear ();
  Sim.Ports.swap (mPortLog);
  Status = Sim.RunImage ();
  Sim.Ports.swap (mPortLog);

  const std::vector<Transaction>  &Log = mLog;
  bool                            Confirmed = false;
  size_t                          Blocks    = 0;      // blocks sent, each over all its attempts
  size_t                          Attempts  = 0;      // of the block being sent
  bool                            AllStored = true;   // every block acknowledged at one of its attempts
  const std::vector<BYTE_READ>    Reads     = ByteReadsOf (Log);
  std::vector<uint8_t>            Content;

  FUZZ_CHECK (Sim.Violations.empty ());
  FUZZ_CHECK (Sim.LedgerProblems ().empty ());
  FUZZ_CHECK (Log.size () <= MAX_TRANSACTIONS);
  for (size_t Index = 0; Index < Log.size (); Index++) {
    const Transaction  &Entry = Log[Index];

    FUZZ_CHECK (Entry.Address == ID_BUS_ADDRESS || Entry.Address == EEPROM_BUS_ADDRESS);
    if (Is (Entry, ID_BUS_ADDRESS, R_DEVICE_ID, EfiSmbusReadByte) && !EFI_ERROR (Entry.Status) && (Entry.Data[0] == V_DEVICE_ID)) {
      Confirmed = true;
    }

    // Past the check of 0xB1 and the ID, nothing reaches the E2PROM before the chip is confirmed.
    if ((Entry.Address == EEPROM_BUS_ADDRESS) && (Entry.Command != 0xB1)) {
      FUZZ_CHECK (Confirmed);
    }

    if (Entry.Operation == EfiSmbusWriteBlock) {
      size_t  Offset;

      // A frame the bus refused is sent again, three times in all; then the next block.
      Attempts = (Attempts != 0) && (Attempts < ATTEMPTS) && EFI_ERROR (Log[Index - 1].Status) ? Attempts + 1 : 1;
      Blocks  += (Attempts == 1) ? 1 : 0;
      Offset   = (Blocks - 1) * EEPROM_BLOCK_SIZE;

      // The blocks in order, each frame the count, the address and the image's bytes there.
      FUZZ_CHECK (Update && Blocks <= BLOCK_COUNT);
      FUZZ_CHECK (Attempts == 1 || Log[Index - 1].Operation == EfiSmbusWriteBlock);
      FUZZ_CHECK (Entry.Size == BLOCK_FRAME_SIZE && Entry.Data[0] == BLOCK_FRAME_SIZE - 1);
      FUZZ_CHECK (Entry.Data[1] == (uint8_t)(Offset >> 8) && Entry.Data[2] == (uint8_t)Offset);
      FUZZ_CHECK (std::equal (Entry.Data + 3, Entry.Data + BLOCK_FRAME_SIZE, Image.begin () + (ptrdiff_t)Offset));
      if (EFI_ERROR (Entry.Status) && ((Attempts == ATTEMPTS) || (Index + 1 == Log.size ()) || (Log[Index + 1].Operation != EfiSmbusWriteBlock))) {
        AllStored = false;
      }
    }
  }

  //
  // Success only for a run whose last byte read delivered the version
  // byte; for an update besides, every block acknowledged and that byte the
  // image's. The other way round, such a run must succeed.
  //
  bool  VersionRead = !Reads.empty () && Reads.back ().Done && (Reads.back ().Address == EEPROM_VERSION_ADDRESS) && (Reads.size () == 1);
  bool  Succeeds    = VersionRead && (!Update || ((Blocks == BLOCK_COUNT) && AllStored && (Reads.back ().Value == Version)));

  //
  // A backup succeeds exactly when its reads settled every byte, and then
  // the file holds them; otherwise no file is left. A comparison says
  // "identical" exactly when the settled bytes are the image's.
  //
  if (Whole) {
    bool  Settled = SettleWholeRead (Reads, Backup, Image, Content);

    Succeeds = Settled && (Backup || (Content == Image));
    FUZZ_CHECK (Sim.HasFile (Volume, u"backup.bin") == (Backup && Succeeds));
    FUZZ_CHECK (!Backup || !Succeeds || (Sim.FileData (Volume, u"backup.bin") == Content));
    FUZZ_CHECK (!Compare || ((Status == EFI_CRC_ERROR) == (Settled && (Content != Image))));
  }

  FUZZ_CHECK ((Status == EFI_SUCCESS) == Succeeds);
  FUZZ_CHECK (Blocks == 0 || Blocks == BLOCK_COUNT);
  if (Succeeds && !Update && !Whole) {
    char  Line[40];
    std::snprintf (Line, sizeof (Line), "The E2PROM version is 0x%X. \r\n", Reads.back ().Value);
    FUZZ_CHECK (Sim.RawText ().find (Line) != std::string::npos);
  }

  mInput = nullptr;
  return 0;
}
