// The update after a good load: both versions shown, 1024 blocks sent in
// order with the figure redrawn in place and a pause after each, the
// version byte read back and compared, then the file given back.
#include "tests/firmware/FirmwareTest.h"

#include <algorithm>
#include <cstdio>

#include "chip/TconChip.h"

namespace {

using harness::VERSION_ADDRESS;

const std::string  RUN_START = BenchUpToChip () +
                               " Image name is: zk48.bin FileSize:8KB\r\n";

const char  START_LINE[]    = " Start update Chip image:      ";
const char  CLOSING_LINE[]  = "\r\n================================================\r\n";
const char  VERIFIED[]      = " Version information verified successfully,the version is 0x5A. \r\n";
const char  FINISHED[]      = "\r\n E2PROM update finished.\r\n";

constexpr uint8_t   IMAGE_VERSION   = 0x5A;
constexpr uint8_t   CHIP_MCU        = 0x0B;
constexpr size_t    BLOCKS          = 1024;

// Transactions before the first block: the scan's two and the MCU version read.
constexpr uint64_t  EXECUTES_BEFORE_BLOCKS = 3;

std::string
VersionLines (
  const char  *Current,
  const char  *New
  )
{
  return std::string ("================================================ \r\n") +
         " Current E2PROM MCU version: V" + Current + ". \r\n" +
         " The New E2PROM MCU version: V" + New + ". \r\n" +
         "================================================ \r\n";
}

// The figure shown after a block: its offset plus one, in hundredths of the image.
std::string
FigureAfter (
  size_t  Block
  )
{
  return std::to_string ((Block * 8 + 1) * 100 / 8192) + "%";
}

std::string
AllFigures (
  )
{
  std::string  Text;

  for (size_t Block = 0; Block < BLOCKS; Block++) {
    Text += FigureAfter (Block);
  }

  return Text + "100%";
}

class UpdateTest : public FirmwareTest {
protected:
  std::vector<uint8_t>  Image = MakeImage (IMAGE_VERSION);

  void
  SetUp (
    ) override
  {
    FirmwareTest::SetUp ();
    Sim.Chip.McuVersion = CHIP_MCU;
    Sim.AddFile (Volume, u"zk48.bin", Image);
  }

  EFI_STATUS
  RunUpdate (
    )
  {
    return Run ({ u"zk48.bin" });
  }

  // Everything the console receives up to the line after "100%".
  std::string
  ThroughWriting (
    const char  *Current = "B"
    ) const
  {
    return RUN_START + VersionLines (Current, "5A") + START_LINE + AllFigures () + CLOSING_LINE;
  }

  // The bus log line of the block at Block, as the image gives it.
  std::string
  BlockLine (
    size_t  Block
    ) const
  {
    std::string  Line = "B 21 00 0A " + harness::Hex ((uint8_t)(Block * 8 >> 8), 2) + " " + harness::Hex ((uint8_t)(Block * 8), 2);

    for (size_t Index = 0; Index < 8; Index++) {
      Line += " " + harness::Hex (Image[Block * 8 + Index], 2);
    }

    return Line;
  }

  // The host controller refuses each of Blocks (ascending) at every attempt.
  void
  RefuseAtEveryAttempt (
    const std::vector<size_t>  &Blocks
    )
  {
    uint64_t  Resent = 0;

    for (size_t Block : Blocks) {
      for (uint64_t Attempt = 0; Attempt < CHIP_ATTEMPTS; Attempt++) {
        Sim.Fail (harness::Once (harness::Call::Execute, EXECUTES_BEFORE_BLOCKS + 1 + Block + Resent + Attempt, EFI_DEVICE_ERROR));
      }

      Resent += CHIP_ATTEMPTS - 1;
    }
  }

  // The bus log lines of the block writes, in the order sent.
  std::vector<std::string>
  BlockLog (
    ) const
  {
    std::vector<std::string>  Blocks;

    for (const std::string &Line : BusLog ()) {
      if (Line[0] == 'B') {
        Blocks.push_back (Line);
      }
    }

    return Blocks;
  }

};

TEST_F (UpdateTest, ConsoleShowsVersionsFiguresAndSuccess) {
  EXPECT_EQ (RunUpdate (), EFI_SUCCESS);
  EXPECT_EQ (Output (), ThroughWriting () + VERIFIED + FINISHED);
}

TEST_F (UpdateTest, ScreenEndsWithTheStartLineAtOneHundred) {
  std::vector<std::u16string>  Lines;
  size_t                       Start;

  EXPECT_EQ (RunUpdate (), EFI_SUCCESS);
  Lines = Sim.ScreenLines ();
  Start = (size_t)(std::find (Lines.begin (), Lines.end (), u" Image name is: zk48.bin FileSize:8KB") - Lines.begin ());
  ASSERT_LT (Start + 10, Lines.size ());
  EXPECT_EQ (std::vector<std::u16string> (Lines.begin () + (ptrdiff_t)Start, Lines.begin () + (ptrdiff_t)Start + 11),
             (std::vector<std::u16string> {
               u" Image name is: zk48.bin FileSize:8KB",
               u"================================================",
               u" Current E2PROM MCU version: VB.",
               u" The New E2PROM MCU version: V5A.",
               u"================================================",
               u" Start update Chip image:      100%",
               u"================================================",
               u" Version information verified successfully,the version is 0x5A.",
               u"",
               u" E2PROM update finished.",
               u"",
             }));
  EXPECT_EQ (Sim.CursorColumn (), 0);
  EXPECT_EQ (Sim.CursorRow (), (INT32)(Start + 10));
}

TEST_F (UpdateTest, FiguresGoWhereTheStartLineEndsOnANarrowScreen) {
  std::vector<std::u16string>  Lines;
  size_t                       Row;

  //
  // Twenty columns: the start line wraps, so it ends at column 11 of the
  // row below the one it began on, and that is where the figures belong.
  //
  Sim.SetScreenSize (20, 100);
  EXPECT_EQ (RunUpdate (), EFI_SUCCESS);
  Lines = Sim.ScreenLines ();
  Row   = (size_t)(std::find (Lines.begin (), Lines.end (), u" Start update Chip i") - Lines.begin ());
  ASSERT_LT (Row + 1, Lines.size ());
  EXPECT_EQ (Lines[Row + 1], u"mage:      100%");
  EXPECT_EQ (Sim.CallCount (harness::Call::SetCursorPosition), BLOCKS + 1);
  for (const harness::Event &Event : Sim.Timeline) {
    if (Event.Kind == harness::Event::Cursor) {
      ASSERT_EQ (Event.A, 11u);
      ASSERT_EQ (Event.B, Row + 1);
    }
  }
}

TEST_F (UpdateTest, FiguresRiseFromZeroToOneHundred) {
  std::vector<std::u16string>  Shown;

  EXPECT_EQ (RunUpdate (), EFI_SUCCESS);
  Shown = harness::FiguresAfterCursorMoves (Sim.Timeline);
  ASSERT_EQ (Shown.size (), BLOCKS + 1);
  EXPECT_EQ (Shown[0], u"0%");
  EXPECT_EQ (Shown[10], u"0%");
  EXPECT_EQ (Shown[11], u"1%");
  EXPECT_EQ (Shown[511], u"49%");
  EXPECT_EQ (Shown[512], u"50%");
  EXPECT_EQ (Shown[1013], u"98%");
  for (size_t Block = 1014; Block < BLOCKS; Block++) {
    EXPECT_EQ (Shown[Block], u"99%") << "block " << Block;
  }

  EXPECT_EQ (Shown[BLOCKS], u"100%");
}

TEST_F (UpdateTest, EachBlockIsFollowedByCursorMoveFigureAndPause) {
  const std::vector<harness::Event>  &Events = Sim.Timeline;
  size_t                         Index   = 0;
  std::vector<std::u16string>    Lines;
  UINTN                          Row;

  EXPECT_EQ (RunUpdate (), EFI_SUCCESS);
  while ((Index < Events.size ()) && !((Events[Index].Kind == harness::Event::Output) && (Events[Index].Text == u" Start update Chip image:      "))) {
    Index++;
  }

  ASSERT_LT (Index, Events.size ());
  Lines = Sim.ScreenLines ();
  Row   = (UINTN)(std::find (Lines.begin (), Lines.end (), u" Start update Chip image:      100%") - Lines.begin ());
  Index++;
  ASSERT_GE (Events.size (), Index + BLOCKS * 4 + 4);
  for (size_t Block = 0; Block < BLOCKS; Block++, Index += 4) {
    const harness::SmbusTransaction  &Sent = Sim.Transactions[Events[Index].A];

    ASSERT_EQ (Events[Index].Kind, harness::Event::Smbus) << "block " << Block;
    ASSERT_EQ (Sent.Operation, EfiSmbusWriteBlock) << "block " << Block;
    ASSERT_EQ ((size_t)Sent.Data[1] << 8 | Sent.Data[2], Block * 8);
    ASSERT_EQ (Events[Index + 1].Kind, harness::Event::Cursor) << "block " << Block;
    ASSERT_EQ (Events[Index + 1].A, 31u);
    ASSERT_EQ (Events[Index + 1].B, Row);
    ASSERT_EQ (Events[Index + 2].Kind, harness::Event::Output) << "block " << Block;
    ASSERT_EQ (harness::Utf8 (Events[Index + 2].Text), FigureAfter (Block));
    ASSERT_EQ (Events[Index + 3].Kind, harness::Event::Stall) << "block " << Block;
    ASSERT_EQ (Events[Index + 3].A, 4000u);
  }

  EXPECT_EQ (Events[Index].Kind, harness::Event::Cursor);
  EXPECT_EQ (Events[Index].A, 31u);
  EXPECT_EQ (Events[Index].B, Row);
  EXPECT_EQ (Events[Index + 1].Text, u"100%");
  EXPECT_EQ (Events[Index + 2].Kind, harness::Event::Stall);
  EXPECT_EQ (Events[Index + 2].A, 4000u);
  EXPECT_EQ (Events[Index + 3].Text, u"\r\n================================================\r\n");
}

TEST_F (UpdateTest, PausesTotalOneThousandTwentyFiveTimesFourMilliseconds) {
  size_t  Stalls = 0;

  EXPECT_EQ (RunUpdate (), EFI_SUCCESS);
  for (const harness::Event &Event : Sim.Timeline) {
    if (Event.Kind == harness::Event::Stall) {
      EXPECT_EQ (Event.A, 4000u);
      Stalls++;
    }
  }

  EXPECT_EQ (Stalls, BLOCKS + 1);
  EXPECT_EQ (Sim.Microseconds, (BLOCKS + 1) * 4000u);
}

TEST_F (UpdateTest, BlocksReproduceTheImageOnTheBus) {
  std::vector<std::string>  Expected = { "W 21 B1 08", "R 23 02 -> 11", "R 23 C0 -> 0B" };

  for (size_t Block = 0; Block < BLOCKS; Block++) {
    Expected.push_back (BlockLine (Block));
  }

  Expected.insert (Expected.end (), { "W 21 B2 11", "W 21 B3 2F", "W 21 B5 02", "R 21 B7 -> 7F", "R 21 B7 -> 7F", "R 21 B7 -> 80", "R 21 B6 -> 5A" });
  EXPECT_EQ (RunUpdate (), EFI_SUCCESS);
  EXPECT_EQ (BusLog (), Expected);
  EXPECT_EQ (harness::Eeprom (Sim.Chip), Image);
}

TEST_F (UpdateTest, ImageOfTheChipsOwnVersionIsStillWrittenWhole) {
  Sim.Chip.McuVersion = IMAGE_VERSION;
  EXPECT_EQ (RunUpdate (), EFI_SUCCESS);
  EXPECT_EQ (Output (), ThroughWriting ("5A") + VERIFIED + FINISHED);
  EXPECT_EQ (BlockLog ().size (), BLOCKS);
  EXPECT_EQ (harness::Eeprom (Sim.Chip), Image);
}

//
// The read-back compares one byte, address 0x112F, with the image's.
//
TEST_F (UpdateTest, MismatchNamesTheImageByteFirstAndStillReleases) {
  Sim.Chip.Faults.IgnoreBlockWrites = TRUE;
  Sim.Chip.Eeprom[VERSION_ADDRESS]  = 0x50;
  EXPECT_EQ (RunUpdate (), EFI_DEVICE_ERROR);
  EXPECT_EQ (Output (), ThroughWriting () + " Version information validation error,the bin version is 0x5A and the E2PROM version is 0x50. \r\n");
  EXPECT_EQ (BlockLog ().size (), BLOCKS);
  EXPECT_EQ (Sim.CallCount (harness::Call::Close), 2u);
}

TEST_F (UpdateTest, IgnoredWritesPassWhenTheVersionByteAlreadyMatches) {
  Sim.Chip.Faults.IgnoreBlockWrites = TRUE;
  Sim.Chip.Eeprom[VERSION_ADDRESS]  = IMAGE_VERSION;
  EXPECT_EQ (RunUpdate (), EFI_SUCCESS);
  EXPECT_EQ (Output (), ThroughWriting () + VERIFIED + FINISHED);
  EXPECT_EQ (Sim.Chip.Eeprom[0], 0xFF);
  EXPECT_NE (harness::Eeprom (Sim.Chip), Image);
}

TEST_F (UpdateTest, ReleaseAfterTheVerdictReportsEachFailedClose) {
  Sim.Fail (harness::FromThenOn (harness::Call::Close, 1, EFI_DEVICE_ERROR));
  EXPECT_EQ (RunUpdate (), EFI_SUCCESS);
  EXPECT_EQ (Output (), ThroughWriting () + VERIFIED + FINISHED + "close: fail\r\nclose: fail\r\n");
}

//
// Block writes the host controller refuses at every attempt: all 1024 are
// still sent in order, and the run does not claim success.
//
TEST_F (UpdateTest, RefusedBlocksAreCountedAndTheRunFails) {
  const std::vector<size_t>  Refused   = { 0, 511, 1023 };
  std::vector<std::string>  Expected;
  std::vector<uint8_t>      Written   = Image;

  RefuseAtEveryAttempt (Refused);
  for (size_t Block : Refused) {
    std::fill (Written.begin () + (ptrdiff_t)(Block * 8), Written.begin () + (ptrdiff_t)(Block * 8 + 8), 0xFF);
  }

  for (size_t Block = 0; Block < BLOCKS; Block++) {
    bool  Failed = (Block == 0) || (Block == 511) || (Block == 1023);

    Expected.insert (Expected.end (), Failed ? CHIP_ATTEMPTS : 1, BlockLine (Block) + (Failed ? " !" : ""));
  }

  EXPECT_EQ (RunUpdate (), EFI_DEVICE_ERROR);
  EXPECT_EQ (Output (), ThroughWriting () + VERIFIED + " Error: 3 of 1024 block writes failed, the E2PROM image is incomplete.\r\n"
                        " The bus refused 15 of 1046 transactions, the last one 5 times in a row.\r\n");
  EXPECT_EQ (BlockLog (), Expected);
  EXPECT_EQ (harness::Eeprom (Sim.Chip), Written);
}

TEST_F (UpdateTest, RefusedVersionBlockShowsMismatchThenTheCount) {
  RefuseAtEveryAttempt ({ VERSION_ADDRESS / 8 });
  EXPECT_EQ (RunUpdate (), EFI_DEVICE_ERROR);
  EXPECT_EQ (Output (), ThroughWriting () +
             " Version information validation error,the bin version is 0x5A and the E2PROM version is 0xFF. \r\n"
             " Error: 1 of 1024 block writes failed, the E2PROM image is incomplete.\r\n"
             " The bus refused 5 of 1038 transactions, the last one 5 times in a row.\r\n");
  EXPECT_EQ (BlockLog ().size (), BLOCKS + CHIP_ATTEMPTS - 1);
  EXPECT_EQ (BlockLog ()[VERSION_ADDRESS / 8 + CHIP_ATTEMPTS - 1], BlockLine (VERSION_ADDRESS / 8) + " !");
}

TEST_F (UpdateTest, ReadBackThatNeverBecomesReadyTimesOutAndReleases) {
  std::vector<std::string>  Log;
  std::vector<std::string>  Expected = { "W 21 B2 11", "W 21 B3 2F", "W 21 B5 02" };

  Expected.insert (Expected.end (), 10000, "R 21 B7 -> 7F");
  Sim.Chip.Faults.ReadyAfterPolls = ZK48_NEVER;
  Sim.Fail (harness::Once (harness::Call::Close, 1, EFI_DEVICE_ERROR));
  EXPECT_EQ (RunUpdate (), EFI_TIMEOUT);
  EXPECT_EQ (Output (), ThroughWriting () + " Error: E2PROM read timed out, exit.\r\nclose: fail\r\n");
  Log = BusLog ();
  ASSERT_EQ (Log.size (), EXECUTES_BEFORE_BLOCKS + BLOCKS + Expected.size ());
  EXPECT_EQ (std::vector<std::string> (Log.begin () + (ptrdiff_t)(EXECUTES_BEFORE_BLOCKS + BLOCKS), Log.end ()), Expected);
  EXPECT_EQ (harness::Eeprom (Sim.Chip), Image);
}

TEST_F (UpdateTest, ReadBackWithARefusedTransactionFailsWithoutAVersion) {
  // From the first set-up write of the read-back on, right after the last block.
  Sim.Fail (harness::FromThenOn (harness::Call::Execute, EXECUTES_BEFORE_BLOCKS + BLOCKS + 1, EFI_DEVICE_ERROR));
  EXPECT_EQ (RunUpdate (), EFI_DEVICE_ERROR);
  EXPECT_EQ (Output (), ThroughWriting () + " Error: E2PROM read failed, exit.\r\n The bus refused 5 of 1032 transactions, the last one 5 times in a row.\r\n");
  EXPECT_EQ (harness::Eeprom (Sim.Chip), Image);
}

} // namespace
