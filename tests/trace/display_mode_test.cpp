// The Display Mode command: the listing file, the memo viewer, its error
// boxes, and the trace state put back afterwards.
#include <gtest/gtest.h>

#include "app/session.h"
#include "support/boxes.h"
#include "support/testing.h"
#include "trace/compiler.h"
#include "trace/decoder.h"
#include "trace/display.h"
#include "trace/mini.h"
#include "trace/decoder_testing.h"
#include "trace/tracefiles.h"

namespace {
const char* const kModes = R"(
VERSION 1.0;
NEWMODE pair = STRUCT (a INT, b BOOL);
NEWMODE table = ARRAY (1:400) pair;
NEWMODE colour = SET (red, green);
KASP MSG 1 = "ONE";
)";

const std::string kPairListing = "PAIR\r\n  0000@0 000016 A     = INT \r\n  0002@0 000001 B     = BOOL \r\n";

class DisplayModeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = UseModesOnDisk(T, kModes);
    S->StartUp();
  }

  void Display(const std::string& name) {
    S->Settings.DisplayModeName = name;
    DisplayMode(*S);
  }

  TTestSession T;
  TScriptedDesktop& Desktop = T.Desktop;
  std::unique_ptr<TSession>& S = T.S;
  std::string Dir;
};

TEST_F(DisplayModeTest, ListsIntoTheFileAndShowsIt) {
  Display("  pair ");
  ASSERT_EQ(Desktop.Memos.size(), 1u);
  EXPECT_EQ(Desktop.Memos[0].Title, "PAIR  Display Mode");
  EXPECT_EQ(Desktop.Memos[0].Text, kPairListing);
  EXPECT_EQ(Desktop.Memos[0].CursorLine, 1);
  EXPECT_EQ(ReadFileBytes(Dir + "qel.%%%"), kPairListing);
  EXPECT_TRUE(Desktop.Boxes.empty());
  // The files were opened for the command only.
  EXPECT_EQ(TraceSwitches(*S), "off");

  // The listing file is replaced each time.
  Display("COLOUR");
  ASSERT_EQ(Desktop.Memos.size(), 2u);
  EXPECT_EQ(Desktop.Memos[1].Text, "COLOUR = SET \r\n  0000 RED\r\n  0001 GREEN\r\n");
  EXPECT_EQ(ReadFileBytes(Dir + "qel.%%%"), Desktop.Memos[1].Text);
}

TEST_F(DisplayModeTest, MiniTraceAloneGetsTheModeFilesForTheCommand) {
  // MINI trace holds only the host name files; they stay open, the mode
  // files are opened and closed again.
  S->Mini->MiniTraceOn();
  ASSERT_EQ(TraceSwitches(*S), "off names");
  Display("PAIR");
  EXPECT_EQ(Desktop.Memos.size(), 1u);
  EXPECT_EQ(TraceSwitches(*S), "off names");
}

TEST_F(DisplayModeTest, ErrorBoxes) {
  Display("NOTHING");
  EXPECT_TRUE(Desktop.Memos.empty());
  EXPECT_EQ(TraceSwitches(*S), "off");
  Display("   ");  // an empty name lists nothing and says nothing
  S->Settings.ModeFileName = "";
  Display("PAIR");
  EXPECT_EQ(Desktop.Beeps, 1);
  // Missing mode files: the opening reports it; nothing is listed.
  S->Settings.ModeFileName = Dir + "absent";
  Display("PAIR");
  EXPECT_EQ(BoxTexts(Desktop),
            (std::vector<std::string>{
                "Mode name not found", "No Mode Name File Specified\rEnter in Setup|Files",
                "The file =" + Dir + "absent.ver doesn't exist. Correct in the Configure|Files window"}));
  EXPECT_TRUE(Desktop.Memos.empty());
  EXPECT_EQ(S->Trace->TraceState, TTraceDecoder::tsOff);
}

TEST_F(DisplayModeTest, ListingFileThatCannotBeCreated) {
  S->ProgramDirectory = Dir + "missing/";
  Display("PAIR");
  ASSERT_EQ(Desktop.Boxes.size(), 1u);
  const std::string text = Desktop.Boxes[0].Box.Text;
  EXPECT_EQ(text.substr(0, 63), "File access error. File = Qel.%%%\rError = The system cannot fin");
  EXPECT_TRUE(Desktop.Memos.empty());
  EXPECT_FALSE(S->TraceFiles->TraceFilesOpen());
}

TEST_F(DisplayModeTest, TheBreakKeyStopsAListingAtTheNextElement) {
  // The progress is the array's elements; a quarter through the user breaks
  // off, and asks for another listing, which does not start meanwhile.
  int elementsSeen = 0;
  S->Trace->OnCommandProgress = [&] {
    const TTraceDecoder::TCommandProgress& c = S->Trace->Command;
    if (c.Running && c.Maximum == 400) elementsSeen = static_cast<int>(c.Position);
    if (c.Running && c.Position >= 100 && !S->Trace->AbortRequested) {
      S->Trace->AbortRequested = true;
      Display("PAIR");
    }
  };
  Display("TABLE");
  EXPECT_TRUE(Desktop.Memos.empty());
  EXPECT_TRUE(Desktop.Boxes.empty());
  EXPECT_EQ(S->Trace->TraceState, TTraceDecoder::tsOff);
  EXPECT_FALSE(S->Trace->Command.Running);
  // The listing file holds the elements before the break, not all 400.
  const std::string listed = ReadFileBytes(Dir + "qel.%%%");
  EXPECT_NE(listed.find("(00100)"), std::string::npos);
  EXPECT_EQ(listed.find("(00101)"), std::string::npos);
  EXPECT_EQ(elementsSeen, 100);
  // The break-off ends with the command: the live trace is not stopped by it.
  EXPECT_FALSE(S->Trace->AbortRequested);
}

TEST_F(DisplayModeTest, ModeDialogStoresTheNameUpperCased) {
  Desktop.ModeNames.push_back(std::string("  colour "));
  S->Settings.DisplayModeName = "PAIR";
  EXPECT_TRUE(ShowModeDialog(*S, true));
  EXPECT_EQ(Desktop.ModeNamesAsked, std::vector<std::string>{"PAIR"});
  EXPECT_EQ(S->Settings.DisplayModeName.str(), "COLOUR");
  ASSERT_EQ(Desktop.Memos.size(), 1u);
  EXPECT_EQ(Desktop.Memos[0].Title, "COLOUR  Display Mode");

  // Cancel keeps the last name and runs nothing.
  EXPECT_FALSE(ShowModeDialog(*S, true));
  EXPECT_EQ(S->Settings.DisplayModeName.str(), "COLOUR");
  EXPECT_EQ(Desktop.Memos.size(), 1u);
  // Without display-on-OK the name is only stored.
  Desktop.ModeNames.push_back(std::string("pair"));
  EXPECT_TRUE(ShowModeDialog(*S, false));
  EXPECT_EQ(S->Settings.DisplayModeName.str(), "PAIR");
  EXPECT_EQ(Desktop.Memos.size(), 1u);
}
}  // namespace
