// A simulated UEFI firmware for host tests: system table, boot services,
// console, file systems, the shell's mappings and current directory, SMBus
// host controllers driving the ZK48 model (or nothing) and a PCI
// configuration space behind the port-I/O pair. Every call is counted and
// can be made to fail; every pool buffer and file handle is on a ledger.
#ifndef TESTS_FIRMWARE_SIM_FIRMWARE_H_
#define TESTS_FIRMWARE_SIM_FIRMWARE_H_

#include <compare>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/LoadedImage.h"
#include "platform/Shell.h"
#include "platform/SimpleFileSystem.h"
#include "platform/ShellParameters.h"
#include "platform/SmbusHc.h"
#include "platform/SystemTable.h"
#include "sim/Zk48Chip.h"
#include "tests/firmware/Vocabulary.h"

namespace harness {

// Every firmware or bus call the tool can make.
enum class Call : int {
  OpenProtocol,
  LocateHandleBuffer,
  HandleProtocol,
  LocateProtocol,
  LocateDevicePath,
  InstallProtocolInterface,
  UninstallProtocolInterface,
  AllocatePool,
  FreePool,
  Stall,
  OutputString,
  ClearScreen,
  SetCursorPosition,
  OpenVolume,
  Open,
  GetInfo,
  Read,
  Close,
  Write,
  Flush,
  Delete,
  CalculateCrc32,
  GetTime,
  SetPosition,
  GetDevicePathFromMap,     // the shell's; a failure is its "no such mapping"
  GetMapFromDevicePath,
  GetCurDir,
  SetEnv,
  Execute,
  PortWrite,
  PortRead,
  Count
};

const char *CallName (Call Kind);

// What happened, in order: console, pauses and bus transactions.
struct Event {
  enum Kind { Output, Clear, Cursor, Stall, Smbus } Kind;
  std::u16string    Text;       // Output
  uint64_t          A = 0;      // Cursor: column; Stall: microseconds; Smbus: transaction index
  uint64_t          B = 0;      // Cursor: row
};

struct SmbusTransaction {
  int                    Controller;   // which host-controller instance
  UINTN                  Address;      // SlaveAddress as passed, all bits
  UINTN                  Command;
  EFI_SMBUS_OPERATION    Operation;
  BOOLEAN                PecCheck;
  UINTN                  Length;       // as set before the call
  std::vector<uint8_t>   Data;         // bytes written, or the byte read
  EFI_STATUS             Status;
};

struct PortAccess {
  bool        Write;
  UINTN       Port;
  uint32_t    Value;
};

// Any call of any kind, in a FaultRule.
constexpr Call  ANY_CALL = Call::Count;
// Any site of the kind, in a FaultRule.
constexpr uint64_t  ANY_SITE = UINT64_MAX;

//
// A rule that makes calls fail. It matches the calls of Kind (ANY_CALL:
// every counted call), or only those of one Site (a CallSite's Detail),
// fires at the Nth of them (1-based, counted from the firmware's start; for
// a Site, from when the rule was added), once or FromOn, and answers
// Status. A Read or Write it fires at with Delivers set succeeds instead,
// having moved at most that many bytes.
//
struct FaultRule {
  Call                        Kind;
  uint64_t                    Nth      = 1;
  bool                        FromOn   = false;
  std::optional<EFI_STATUS>   Status;              // none: TypicalFailure of the kind
  uint64_t                    Site     = ANY_SITE;
  std::optional<uint64_t>     Delivers;
  uint64_t                    Seen     = 0;        // matching calls so far
};

// The Nth call of Kind fails; Status none: TypicalFailure of the kind.
inline FaultRule
Once (Call Kind, uint64_t Nth, std::optional<EFI_STATUS> Status = {})
{
  return { Kind, Nth, false, Status, ANY_SITE, {}, 0 };
}

// Every call of Kind from the Nth on fails.
inline FaultRule
FromThenOn (Call Kind, uint64_t Nth, std::optional<EFI_STATUS> Status = {})
{
  return { Kind, Nth, true, Status, ANY_SITE, {}, 0 };
}

// Every call of Kind at Site fails.
inline FaultRule
AtSite (Call Kind, uint64_t Site, EFI_STATUS Status)
{
  return { Kind, 1, true, Status, Site, {}, 0 };
}

// Every Read or Write (Kind) from the Nth on reports success, having moved at most Bytes.
inline FaultRule
Short (Call Kind, uint64_t Bytes, uint64_t Nth = 1)
{
  return { Kind, Nth, true, {}, ANY_SITE, Bytes, 0 };
}

// A call that failed because a test asked for it.
struct InjectedFailure {
  Call        Kind;
  uint64_t    K;      // its position over every kind
  UINTN       Size;   // AllocatePool: the size asked for (other kinds: their CallSite's Detail)
};

//
// Where in the tool a call comes from, as far as the firmware can tell: the
// calls of one site do the same thing again (the same register polled, the
// same buffer size), so a fault sweep can try a few of them for all.
//
struct CallSite {
  Call        Kind;
  uint64_t    Detail;   // Execute: ExecuteSite; AllocatePool: the size; Open: the open mode; other kinds 0

  auto operator<=> (const CallSite &) const = default;
};

// An Execute's Detail: the 7-bit address, the command and the operation.
uint64_t ExecuteSite (UINTN Address, UINTN Command, EFI_SMBUS_OPERATION Operation);

// "Execute 0x21 0xB7 ReadByte", "AllocatePool 8192 bytes": a site as a sweep reports it.
std::string CallSiteName (const CallSite &Site);

enum class ArgumentSource { ShellParameters, ShellInterface, None };

// What answers behind an SMBus host-controller instance.
enum class SmbusBehind {
  Chip,      // the ZK48 model
  Nothing,   // every transaction refused: no device acknowledges
  Silent     // every transaction taken, every read 0xFF: a controller that never sees the missing acknowledge
};

struct SimVolume;
struct SimFile;
struct SimSmbusHc;
struct SimShell;

class SimFirmware {
public:
  SimFirmware ();
  ~SimFirmware ();
  SimFirmware (const SimFirmware &)            = delete;
  SimFirmware &operator= (const SimFirmware &) = delete;

  // Runs the image's entry point with this firmware's tables.
  EFI_STATUS RunImage ();

  // Gives the tool this firmware's tables (gImageHandle, gST, gBS) without
  // running it, so that a test can call the tool's functions one at a time.
  void InstallTables ();

  // --- set-up ---
  void SetArguments (const std::vector<std::u16string> &Argv, ArgumentSource Source = ArgumentSource::ShellParameters);
  // The load options of the image's EFI_LOADED_IMAGE_PROTOCOL, as a boot
  // entry's optional data reaches it: Bytes as given, or none when empty.
  void SetLoadOptions (const std::vector<uint8_t> &Bytes);
  // Installs an EFI_SMBUS_HC_PROTOCOL handle, after the others or, Ahead, before them; returns its index.
  int  AddSmbusController (SmbusBehind Behind = SmbusBehind::Chip, bool Ahead = false);
  void FailHandleProtocolFor (int Controller);      // HandleProtocol on that handle fails
  // Installs a simple file system and its device path; the shell maps it as FSn: and a consistent
  // name, F0<letter>65535a:, as OVMF's shell names a whole-disk FAT volume. Returns its index.
  int  AddVolume ();
  void AddFile (int Volume, const std::u16string &Name, const std::vector<uint8_t> &Data);
  void AddDirectory (int Volume, const std::u16string &Name);
  bool HasFile (int Volume, const std::u16string &Name) const;
  void AddPciFunction (int Bus, int Dev, int Func, uint16_t Vendor, uint16_t Device, uint8_t BaseClass, uint8_t SubClass, uint8_t ProgIf, uint8_t Revision, uint32_t Bar4 = 0);
  void SetScreenSize (int Columns, int Rows);

  // --- faults ---
  // Adds a rule. The first rule that fails a call decides it; a short rule only acts on a call none fails.
  void Fail (FaultRule Rule);
  void ForgetRules () { Rules.clear (); }
  bool     OpenReturnsNoHandle   = false;   // Open succeeds but gives no handle
  bool     AllocateZeroGivesNull = false;   // AllocatePool of 0 bytes succeeds with NULL
  bool     GetInfoSucceedsEmpty   = false;   // GetInfo answers EFI_SUCCESS to a buffer too small, filling in nothing
  UINTN    GetInfoClaimsSize      = 0;       // when set, the record size GetInfo asks for when the buffer is too small
  //
  // A run that makes more calls than CallBudget is taken to hang: a
  // violation is recorded and every later call fails, which ends a run
  // whose loops are bounded. One that makes CallsPastBudget calls more
  // still does not end: that is reported and the test process aborted.
  //
  uint64_t CallBudget             = UINT64_MAX;
  uint64_t CallsPastBudget        = 1000000;
  // A driver that returns success stays loaded, with the interfaces it
  // installed; any other image is unloaded when it returns, and an
  // interface it left installed is a ledger problem.
  bool     ImageIsDriver          = false;
  // Keep the site of every counted call in CallSites (K-1 its index).
  bool     RecordCallSites        = false;
  // Log every Execute in Transactions and Timeline; runs by the thousand
  // (the soak) do without.
  bool     LogTransactions        = true;
  // An E2PROM address whose data reads never come back the same twice, as a
  // failing cell or a marginal bus delivers them; UnsteadyReads counts the
  // reads it altered.
  std::optional<uint16_t>  UnsteadyAddress;
  uint32_t                 UnsteadyReads  = 0;

  // --- observation ---
  ZK48_CHIP                         Chip;
  std::vector<Event>                Timeline;
  std::vector<SmbusTransaction>     Transactions;
  std::vector<PortAccess>           Ports;
  std::u16string                    Raw;                 // every character output
  uint64_t                          Microseconds = 0;    // the virtual clock
  // What GetTime tells at Microseconds 0, in seconds since 1970 (UTC); the
  // virtual clock runs on from it.
  int64_t                           ClockBase    = 1796738102;   // 2026-12-08T13:55:02
  // The status a ResetSystem call was given; a real firmware never returns from it.
  std::optional<EFI_STATUS>         ResetStatus;
  std::vector<std::string>          Violations;          // calls the firmware would not accept
  uint64_t                          CallCount (Call Kind) const { return Calls[(int)Kind]; }
  uint64_t                          TotalCalls () const { return TotalCallCount; }
  uint64_t                          InjectedFailures = 0;
  std::vector<InjectedFailure>      Injected;            // every injected failure, in order
  std::vector<CallSite>             CallSites;           // with RecordCallSites
  std::vector<std::u16string>       ScreenLines () const;   // trailing spaces removed
  std::string                       ScreenText () const;    // UTF-8, lines joined by '\n', trailing empty lines dropped
  std::string                       RawText () const;       // Raw in UTF-8
  std::vector<std::string>          LedgerProblems () const;  // buffers not freed, handles not closed
  INT32                             CursorColumn () const { return Mode.CursorColumn; }
  INT32                             CursorRow () const { return Mode.CursorRow; }
  const std::vector<uint8_t>       &FileData (int Volume, const std::u16string &Name);

  // --- the port-I/O seam ---
  uint32_t PortWrite (UINTN Port, uint32_t Value);
  uint32_t PortRead (UINTN Port);

  // Thunk helpers, public for the EFIAPI entry points.
  // Counts a call and says whether it fails. Detail: what sets its CallSite apart.
  EFI_STATUS Enter (Call Kind, uint64_t Detail = 0);
  // The bytes a Read or Write just entered may move: all it asks, unless a short rule fired.
  uint64_t   TakeDeliverable (uint64_t Asked);
  void       Violation (const std::string &What);
  static SimFirmware *Current;

  EFI_SYSTEM_TABLE                   SystemTable;
  EFI_BOOT_SERVICES                  BootServices;
  EFI_RUNTIME_SERVICES               RuntimeServices;
  EFI_LOADED_IMAGE_PROTOCOL          LoadedImage;
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL    ConOut;
  EFI_SIMPLE_TEXT_OUTPUT_MODE        Mode;
  EFI_HANDLE                         ImageHandle;

  struct HandleEntry {
    EFI_HANDLE    Handle;
    EFI_GUID      Protocol;
    void          *Interface;
    bool          Refuse;
    bool          ByImage = false;   // installed by the image through InstallProtocolInterface
  };
  std::vector<HandleEntry>                       Handles;
  std::map<void *, size_t>                       Pool;
  std::vector<std::unique_ptr<SimVolume>>        Volumes;
  std::vector<std::unique_ptr<SimFile>>          Files;
  std::vector<std::unique_ptr<SimSmbusHc>>       SmbusControllers;
  std::unique_ptr<SimShell>                      Shell;          // the UEFI Shell the tool runs under
  void RemoveShell ();                                           // a run with no shell protocol to ask
  std::map<uint32_t, std::vector<uint32_t>>      PciFunctions;   // key: bus << 8 | dev << 3 | func
  uint32_t                                       PortAddress = 0;
  std::vector<std::u16string>                    Screen;
  int                                            Columns = 80;
  int                                            Rows    = 25;

  void PutChar (char16_t Unit);
  void InstallConsole ();
  void InstallShell ();
  EFI_HANDLE NewHandle ();

private:
  std::vector<std::u16string>        ArgStrings;
  std::vector<uint8_t>               LoadOptionBytes;
  std::vector<CHAR16 *>              ArgPointers;
  EFI_SHELL_PARAMETERS_PROTOCOL      ShellParameters;
  EFI_SHELL_INTERFACE                ShellInterface;
  uint64_t                           Calls[(int)Call::Count] = {};
  uint64_t                           TotalCallCount = 0;
  std::vector<FaultRule>             Rules;
  uint64_t                           Deliverable = UINT64_MAX;
  uint64_t                           NextHandle = 0x1000;
  bool                               ImageUnloaded = false;

  uint64_t   Count (Call Kind, uint64_t Detail);
  bool       OverBudget (Call Kind, uint64_t K);
  EFI_STATUS ApplyRules (Call Kind, uint64_t Detail, uint64_t K);
};

struct SimVolume {
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL                   Protocol;     // first: This leads back here
  SimFirmware                                       *Owner;
  std::vector<uint8_t>                              DevicePath;   // its nodes and the end node, installed on its handle
  std::map<std::u16string, std::vector<uint8_t>>    Files;
  std::vector<std::u16string>                       Directories;
  bool                                              ReadOnly = false;     // opens for writing answer EFI_WRITE_PROTECTED
  uint64_t                                          FreeBytes = UINT64_MAX;   // what writes may still add
  uint64_t                                          CorruptOffset = UINT64_MAX;   // the next write over this file offset stores its byte inverted, once
};

struct SimFile {
  EFI_FILE_PROTOCOL       Protocol;       // first: This leads back here
  SimFirmware             *Owner;
  SimVolume               *Volume;
  bool                    IsRoot;
  bool                    IsDirectory;
  bool                    Writable;       // opened with EFI_FILE_MODE_WRITE
  std::u16string          Name;
  uint64_t                Position;
  bool                    IsOpen;
};

struct SimSmbusHc {
  EFI_SMBUS_HC_PROTOCOL    Protocol;      // first: This leads back here
  SimFirmware              *Owner;
  int                      Index;
  SmbusBehind              Behind;
};

// Text as a boot entry's unicode optional data carries it: UCS-2, terminated.
std::vector<uint8_t> Ucs2Bytes (const std::u16string &Text, bool Terminated = true);
//
// The UEFI Shell's protocol as the tool meets it: a table of mappings in the
// shell's order (a name with its colon, and the volume; -1 for a block
// device that carries no file system), looked up in any case and with or
// without the colon, and the current directory as GetCurDir (NULL) gives it.
//
struct SimShell {
  EFI_SHELL_PROTOCOL                               Protocol;      // first: This leads back here
  SimFirmware                                      *Owner;
  EFI_HANDLE                                       Handle;        // the shell's image handle
  std::vector<std::pair<std::u16string, int>>      Mappings;
  std::u16string                                   CurrentDir = u"FS0:\\";   // empty: none
  std::u16string                                   MapAnswer;     // what GetMapFromDevicePath gave last: the shell's to keep
  std::map<std::u16string, std::u16string>         Variables;     // the volatile ones SetEnv set
};

// The device path of a block device with no file system, for a mapping of -1.
const std::vector<uint8_t> &BareBlockDevicePath ();

// The device path of the sim's Nth disk, whose whole is one FAT volume.
std::vector<uint8_t> DiskDevicePath (int Disk);

// The bytes of a device path, its end node included.
size_t DevicePathSize (const EFI_DEVICE_PATH_PROTOCOL *DevicePath);

// A status allowed by the standard for a failing call of Kind.
EFI_STATUS TypicalFailure (Call Kind);

} // namespace harness

#endif
