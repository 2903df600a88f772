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
using harness::R_EEPROM_DATA;
using harness::R_EEPROM_STATUS;
using harness::B_DATA_READY;

constexpr uint8_t  SUCCESS_BELOW   = 0xC0;
constexpr uint8_t  ABSENT_BYTE     = 0xFF;

// The device-ID tries per controller, and an AMD controller's two bases.
constexpr size_t  DEVICE_ID_READS = 6;
constexpr size_t  CHIP_CHECKS     = 2;
constexpr size_t  BLOCK_COUNT     = EEPROM_SIZE / EEPROM_BLOCK_SIZE;

// Every transaction a run may make: the checks, the MCU read, the blocks,
// one version read, or a read of every E2PROM byte.
constexpr size_t  BYTE_READ_TRANSACTIONS = 3 + EEPROM_READ_POLL_LIMIT + 1;
constexpr size_t  MAX_TRANSACTIONS       = CHIP_CHECKS * (1 + DEVICE_ID_READS) + 1 + BLOCK_COUNT + EEPROM_SIZE * BYTE_READ_TRANSACTIONS;

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
  size_t                          Blocks    = 0;
  bool                            AllAcked  = true;
  std::vector<uint8_t>            Delivered;   // the data bytes read, in order
  const Transaction               *Last     = Log.empty () ? nullptr : &Log.back ();

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

    // The data byte is read only right after a status read that showed it ready.
    if (Is (Entry, EEPROM_BUS_ADDRESS, R_EEPROM_DATA, EfiSmbusReadByte)) {
      FUZZ_CHECK (Index > 0);
      const Transaction  &Before = Log[Index - 1];
      FUZZ_CHECK (Is (Before, EEPROM_BUS_ADDRESS, R_EEPROM_STATUS, EfiSmbusReadByte));
      FUZZ_CHECK (!EFI_ERROR (Before.Status) && (Before.Data[0] & B_DATA_READY) != 0);
      if (!EFI_ERROR (Entry.Status)) {
        Delivered.push_back (Entry.Data[0]);
      }
    }

    // A whole read asks for each address in turn, high byte first; the others for the version byte.
    if ((Entry.Operation == EfiSmbusWriteByte) && ((Entry.Command == R_ADDRESS_HIGH) || (Entry.Command == R_ADDRESS_LOW))) {
      size_t  Address = Whole ? Delivered.size () : EEPROM_VERSION_ADDRESS;

      FUZZ_CHECK (Entry.Data[0] == (uint8_t)(Entry.Command == R_ADDRESS_HIGH ? Address >> 8 : Address));
    }

    if (Entry.Operation == EfiSmbusWriteBlock) {
      size_t  Offset = Blocks * EEPROM_BLOCK_SIZE;

      // The blocks in order, each frame the count, the address and the image's bytes there.
      FUZZ_CHECK (Update && Blocks < BLOCK_COUNT);
      FUZZ_CHECK (Entry.Size == BLOCK_FRAME_SIZE && Entry.Data[0] == BLOCK_FRAME_SIZE - 1);
      FUZZ_CHECK (Entry.Data[1] == (uint8_t)(Offset >> 8) && Entry.Data[2] == (uint8_t)Offset);
      FUZZ_CHECK (std::equal (Entry.Data + 3, Entry.Data + BLOCK_FRAME_SIZE, Image.begin () + (ptrdiff_t)Offset));
      AllAcked = AllAcked && !EFI_ERROR (Entry.Status);
      Blocks++;
    }
  }

  //
  // Success only for a run whose last transaction delivered the version
  // byte; for an update besides, every block acknowledged and that byte the
  // image's. The other way round, such a run must succeed.
  //
  bool  VersionRead = (Last != nullptr) && Is (*Last, EEPROM_BUS_ADDRESS, R_EEPROM_DATA, EfiSmbusReadByte) && !EFI_ERROR (Last->Status);
  bool  Succeeds    = VersionRead && (!Update || ((Blocks == BLOCK_COUNT) && AllAcked && (Last->Data[0] == Version)));

  //
  // A backup succeeds exactly when every byte arrived, and then the file
  // holds them; otherwise no file is left. A comparison says "identical"
  // exactly when every byte arrived equal to the image's.
  //
  if (Whole) {
    bool  AllRead = Delivered.size () == EEPROM_SIZE;

    Succeeds = AllRead && (Backup || (Delivered == Image));
    FUZZ_CHECK (Delivered.size () <= EEPROM_SIZE);
    FUZZ_CHECK (Sim.HasFile (Volume, u"backup.bin") == (Backup && Succeeds));
    FUZZ_CHECK (!Backup || !Succeeds || (Sim.FileData (Volume, u"backup.bin") == Delivered));
    FUZZ_CHECK (!Compare || ((Status == EFI_CRC_ERROR) == (AllRead && (Delivered != Image))));
  }

  FUZZ_CHECK ((Status == EFI_SUCCESS) == Succeeds);
  FUZZ_CHECK (Blocks == 0 || Blocks == BLOCK_COUNT);
  if (Succeeds && !Update && !Whole) {
    char  Line[40];
    std::snprintf (Line, sizeof (Line), "The E2PROM version is 0x%X. \r\n", Last->Data[0]);
    FUZZ_CHECK (Sim.RawText ().find (Line) != std::string::npos);
  }

  mInput = nullptr;
  return 0;
}
