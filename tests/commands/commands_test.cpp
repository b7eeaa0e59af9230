// The Quorix command line's local commands and the Command File: lines typed
// or offered as the keyboard offers them, and what the user gets: bytes at
// the host, lines on the screen, boxes, dialogs, files and switches.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "app/session.h"
#include "commands/definitions.h"
#include "commands/definitionsearch.h"
#include "commands/localcommands.h"
#include "comms/comm.h"
#include "comms/recordinglines.h"
#include "comms/transmit.h"
#include "log/logfiles.h"
#include "screen/store.h"
#include "screen/writer.h"
#include "support/shown.h"
#include "support/testing.h"
#include "terminal/keyboard.h"
#include "trace/decoder.h"
#include "trace/mini.h"
#include "transfer/engine.h"

namespace {
const std::string CR = "\r";

const std::string kNoSuchFile = Padded("The system cannot find the file specified.");

// ------------------------------------------------------------ the file format

// A definition as "NAME|FILE|method|length|PREFIX|SKIP|error" (fields upper-cased but the
// prefix's blanks kept as written); the text methods (3 and up) have no record length field.
std::string Parsed(const std::string& line) {
  std::string error;
  const TCommandDefinition d = ParseCommandDefinition(line, error);
  return d.Name + "|" + d.DataFile + "|" + std::to_string(d.SearchMethod) + "|" + std::to_string(d.RecordLength) +
         "|" + d.Prefix + "|" + d.SkipText + "|" + error;
}

std::string ParseError(const std::string& line) {
  std::string error;
  ParseCommandDefinition(line, error);
  return error;
}

TEST(CommandFileLines, FieldsPerSearchMethod) {
  EXPECT_EQ(Parsed("phone,phones.txt,3,Tel: ,end"), "PHONE|PHONES.TXT|3|1|TEL: |END|");
  EXPECT_EQ(Parsed("REC,data.bin,1,20,R: ,xxx"), "REC|DATA.BIN|1|20|R: |XXX|");
  EXPECT_EQ(Parsed("NUM,data.bin,2,14H,P,S"), "NUM|DATA.BIN|2|20|P|S|");
  // The last field is the rest of the line; missing fields are empty.
  EXPECT_EQ(Parsed("A,F,3,P,one,two"), "A|F|3|1|P|ONE,TWO|");
  EXPECT_EQ(Parsed("A,F,4"), "A|F|4|1|||");
  // Fields are cut to 255 characters.
  EXPECT_EQ(Parsed(std::string(300, 'n') + ",F,3," + std::string(300, 'p') + ",S"),
            std::string(255, 'N') + "|F|3|1|" + std::string(255, 'P') + "|S|");
}

TEST(CommandFileLines, EachFaultHasItsMessageAndTheDefinitionStays) {
  // No record length field above 4.
  EXPECT_EQ(Parsed("A,F,7,P,S"), "A|F|7|1|P|S|Wrong search method value --> ");
  EXPECT_EQ(ParseError("A,F,x,P,S"), "Wrong search method value --> ");
  EXPECT_EQ(ParseError("A,F,0,abc,P,S"), "Not valid decimal input --> ");
  EXPECT_EQ(ParseError("A,F,1,,P,S"), "Not valid decimal input --> ");
  // A record length is one byte.
  EXPECT_EQ(ParseError("A,F,0,256,P,S"), "Not valid decimal input --> ");
  EXPECT_EQ(Parsed("A,F,2,0,P,S"), "A|F|2|0|P|S|Zero length defined for array element --> ");
  // The text methods read no record length, so no text there is wrong.
  EXPECT_EQ(Parsed("A,F,3,abc,S"), "A|F|3|1|ABC|S|");
}

TEST(CommandFiles, BlankLinesAreSkippedAndAnyLineEndEndsALine) {
  const TCommandFile file = ParseCommandFile("A,F,3,P,S\r\n\r\n   \nB,G,4,Q,T\rC,H,0,10,R,U");
  ASSERT_EQ(file.Definitions.size(), 3u);
  EXPECT_EQ(file.Definitions[0].SkipText, "S");  // no CR left in the last field
  EXPECT_EQ(file.Definitions[1].Name, "B");
  EXPECT_EQ(file.Definitions[2].RecordLength, 10);
  EXPECT_TRUE(file.Errors.empty());
}

// --------------------------------------------------------------- a session

class Commands : public ::testing::Test {
 protected:
  TWiredSession T;
  TRecordingNetworkLine& Wire = T.Wire;
  std::unique_ptr<TLocalCommands> C;
  std::ostringstream Shown;  // every line the writer's line output gave

  void SetUp() override {
    T.S->StartUp();
    Settings().Emulation = emQuorix;
    Settings().BackSpaceSends = 0;
    Settings().NewLine = 0;
    Settings().LocalEcho = 0;
    T.S->Files->BackgroundLogName = File("QELWIN.BGL");
  }
  TSetupRecord& Settings() { return T.S->Settings; }
  TTransferEngine& Engine() { return *T.S->Transfer; }
  // Whether a transfer runs, its direction and its receive kind.
  auto Transfer() { return std::tuple(Engine().TransferActive, int{Engine().Direction}, int{Engine().ReceiveKind}); }
  std::string File(const std::string& name) { return T.Dir.file(name); }

  void Install(const std::string& commandFile) {
    WriteFileBytes(File("cmd.fil"), commandFile);
    Settings().CommandFileName = File("cmd.fil");
    C = InstallLocalCommands(*T.S);
  }
  // A command file of one definition "NAME,<data file>,REST" whose data file holds data.
  void InstallOver(const std::string& data, const std::string& definition) {
    WriteFileBytes(File("data.txt"), data);
    const std::size_t comma = definition.find(',');
    Install(definition.substr(0, comma) + "," + File("data.txt") + definition.substr(comma) + "\n");
  }
  // Lines shown on the screen are collected instead (the one test of the
  // screen itself below runs without this).
  void CollectLines() { T.S->Writer->Redirect = &Shown; }
  // The lines shown since the last look.
  std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    const std::string all = Shown.str();
    Shown.str("");
    for (std::size_t at = 0; at < all.size();) {
      const std::size_t end = all.find("\r\n", at);
      lines.push_back(all.substr(at, end - at));
      at = end + 2;
    }
    return lines;
  }
  // What reached the host, the queued text sent out by the ticks it needs.
  std::string Sent() {
    for (int i = 0; i < 100 && (Engine().Activities & acQueuedString); ++i) T.S->TimerTick();
    std::string sent = Wire.Sent;
    Wire.Sent.clear();
    return sent;
  }
  bool Offer(const std::string& line) { return C->LocalCommand(line); }
  void Type(const std::string& text) {
    for (const char c : text) T.S->Keyboard->SendCharacter(static_cast<std::uint8_t>(c));
  }
};

// The local commands without a command file: the built-in ones only.
struct NoCommandFile : Commands {
  void SetUp() override {
    Commands::SetUp();
    C = InstallLocalCommands(*T.S);
  }
};

// ------------------------------------------------------ loading the file

// Each fault's message is the line parser's test; here a box per faulty line.
TEST_F(Commands, LoadingReportsEachFaultyLineAndKeepsItsDefinition) {
  Install("A,F,3,P,S\nBAD,X.DAT,7,P,S\nZERO,X.DAT,2,0,P,S\n");
  const std::string head = "An error occurred processing the information in " + File("cmd.fil") + "." + CR;
  EXPECT_EQ(BoxTexts(T.Desktop), (std::vector<std::string>{head + "Wrong search method value --> BAD,X.DAT,7,P,S",
                                                           head + "Zero length defined for array element --> "
                                                                  "ZERO,X.DAT,2,0,P,S"}));
  ASSERT_EQ(C->Definitions().size(), 3u);
  EXPECT_EQ(C->Definitions()[2].Name, "ZERO");
}

TEST_F(Commands, AMissingCommandFileIsAFileAccessError) {
  Settings().CommandFileName = File("none.fil");
  C = InstallLocalCommands(*T.S);
  EXPECT_EQ(BoxTexts(T.Desktop),
            std::vector<std::string>{"File access error. File = " + File("none.fil") + CR + "Error = " + kNoSuchFile});
  EXPECT_TRUE(C->Definitions().empty());
}

TEST_F(Commands, ACommandFileThatNeverEndsIsRefusedWithItsBox) {
  Settings().CommandFileName = "/dev/zero";
  C = InstallLocalCommands(*T.S);
  EXPECT_EQ(BoxTexts(T.Desktop), (std::vector<std::string>{"An error occurred processing the information in /dev/zero." + CR +
                                                  "The file is larger than 16 MB and was not loaded."}));
  EXPECT_TRUE(C->Definitions().empty());
}

TEST_F(Commands, AReloadReplacesTheOldList) {
  Install("A,F,3,P,S\nB,F,3,P,S\n");
  WriteFileBytes(File("other.fil"), "C,G,4,Q,T\n");
  Settings().CommandFileName = File("other.fil");
  C->LoadCommandDefinitions();
  ASSERT_EQ(C->Definitions().size(), 1u);
  EXPECT_EQ(C->Definitions()[0].Name, "C");
}

TEST_F(Commands, ABinaryCommandFileLoadsWithAFewBoxesAndTheProgramGoesOn) {
  std::string junk;
  for (int i = 0; i < 25; ++i) junk += std::string("X,\x01\xff,9,") + '\0' + "\x02\n";
  junk += std::string(5000, '\xfe');  // a last line far longer than any field
  Install(junk);
  ASSERT_EQ(T.Desktop.Boxes.size(), TLocalCommands::kErrorBoxesMax + 1);
  EXPECT_EQ(T.Desktop.Boxes.back().Box.Text, "An error occurred processing the information in " + File("cmd.fil") +
                                                 "." + CR + "16 more lines with errors are not shown.");
  EXPECT_EQ(C->Definitions().size(), 26u);
}

// ------------------------------------------------------------- lookups

TEST_F(Commands, ALookupErasesTheTypedLineRunsAndGivesThePromptBack) {
  InstallOver("Miller 4711\nSmith 0815\n", "PHONE,3,TEL: ,");
  CollectLines();
  EXPECT_TRUE(Offer("phone smith"));
  EXPECT_EQ(Sent(), std::string(11, '\b') + "\r");
  // A BS each 50 ms, then 100 ms before the run.
  std::vector<int> waits(11, 50);
  waits.push_back(100);
  EXPECT_EQ(T.Desktop.Waits, waits);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"", "TEL: Smith 0815"}));
  Settings().BackSpaceSends = 1;  // erasing sends DEL when Delete is chosen
  EXPECT_TRUE(Offer("PHONE X"));
  EXPECT_EQ(Sent(), std::string(7, '\x7f') + "\r");
}

TEST_F(Commands, RecordSearchFindsTheArgumentAndANumberWithoutItsLeadingZeros) {
  // Records of 10 bytes; the last one is short and never read.
  InstallOver("alpha 0007beta  0012SKIPME    gamma 7   delta 1007 short", "R,0,10,R:,skipme");
  CollectLines();
  EXPECT_TRUE(Offer("R 0012"));
  EXPECT_TRUE(Offer("R 007"));
  EXPECT_TRUE(Offer("R"));
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         "", "R:BETA  0012",                                   // literally only
                         "", "R:ALPHA 0007", "R:GAMMA 7", "R:DELTA 1007",      // "007" or "7"
                         "", "R:ALPHA 0007", "R:BETA  0012", "R:GAMMA 7", "R:DELTA 1007",  // all but the skip text
                     }));
}

TEST_F(Commands, RecordByNumberReadsOneRecordAndRingsForAnythingElse) {
  InstallOver("zero  \r\none   \r\ntwo   \r\n", "N,1,8,#,");
  CollectLines();
  EXPECT_TRUE(Offer("N 2"));
  EXPECT_EQ(Sent(), std::string(3, '\b') + "\r");
  EXPECT_TRUE(Offer("N 9"));   // beyond the end: nothing
  EXPECT_TRUE(Offer("N two"));
  EXPECT_EQ(T.Desktop.Beeps, 1);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"", "#two   ", "", ""}));
}

TEST_F(Commands, NumberedSearchShowsRecordNumbersOrReadsByNumber) {
  InstallOver("red  blue green", "C,2,5,=,");
  CollectLines();
  EXPECT_TRUE(Offer("C e"));
  EXPECT_TRUE(Offer("C 1"));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"", "0 -> =RED", "1 -> =BLUE", "2 -> =GREEN", "", "=blue "}));
  EXPECT_EQ(RecordNumberLabel(123456), "123456 ->");
  EXPECT_EQ(RecordNumberLabel(1234567), "1234567 -");
}

TEST_F(Commands, TextSearchShowsMatchingLinesAsWrittenExceptTheSkipText) {
  InstallOver("Exchange Berlin\r\nexchange Paris\r\nOther\r\n--\r\nlast line without end", "T,3,> ,--");
  CollectLines();
  EXPECT_TRUE(Offer("T EXCHANGE"));
  EXPECT_TRUE(Offer("T"));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"", "> Exchange Berlin", "> exchange Paris", "", "> Exchange Berlin",
                                               "> exchange Paris", "> Other", "> last line without end"}));
}

TEST_F(Commands, SectionSearchShowsFromTheArgumentToTheSkipText) {
  InstallOver("DIAL help\nfirst\nEND\nLIST help\nsecond\n  end  \nthird\n", "H,4,,end");
  CollectLines();
  EXPECT_TRUE(Offer("H list"));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"", "LIST help", "second"}));
  EXPECT_TRUE(Offer("H"));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"", "DIAL help", "first", "END", "LIST help", "second", "  end  ",
                                               "third"}));
  EXPECT_TRUE(Offer("H DIAL"));  // runs to the skip text, not to the next section
  EXPECT_EQ(Lines(), (std::vector<std::string>{"", "DIAL help", "first"}));
}

TEST_F(Commands, AMissingDataFileEndsTheCommandWithItsBox) {
  Install("GONE,nofile.dat,3,,\n");
  CollectLines();
  EXPECT_TRUE(Offer("GONE 1"));
  EXPECT_EQ(BoxTexts(T.Desktop), (std::vector<std::string>{"File access error. File = NOFILE.DAT" + CR +
                                                  "Check Command File for correct command" + CR + "Error = " +
                                                  kNoSuchFile}));
  EXPECT_EQ(Sent(), std::string(6, '\b'));  // erased, but no prompt asked for
  EXPECT_TRUE(Lines().empty());
}

TEST_F(Commands, AFaultyDefinitionFindsNothingAndNeverHangs) {
  WriteFileBytes(File("rec.dat"), "abcdef");
  Install("Z," + File("rec.dat") + ",0,0,P,\nW," + File("rec.dat") + ",8,P,\n");
  CollectLines();
  EXPECT_TRUE(Offer("Z"));
  EXPECT_TRUE(Offer("W"));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"", ""}));
}

TEST_F(Commands, KeywordsNotInTheFileGoToTheHostWithTheirEnter) {
  InstallOver("x\n", "T,3,,");
  Type("DIR T\r");
  EXPECT_EQ(Sent(), "DIR T\r");
  Type("TX\r");  // the first word must equal the name
  EXPECT_EQ(Sent(), "TX\r");
  // A word typed far right of the prompt is the host's without an argument.
  T.S->Writer->State.CursorColumn = 11;  // one typed character: 10 columns to its left
  EXPECT_FALSE(Offer("T"));
  T.S->Writer->State.CursorColumn = 12;
  EXPECT_TRUE(Offer("T X"));
  T.S->Writer->State.CursorColumn = 10;
  EXPECT_TRUE(Offer("T"));
}

TEST_F(Commands, EscBetweenRecordsEndsTheRun) {
  WriteFileBytes(File("t.txt"), "one\ntwo\nthree\n");
  WriteFileBytes(File("rec.dat"), "one two three ");
  Install("T," + File("t.txt") + ",3,,\nR," + File("rec.dat") + ",0,4,,\n");
  CollectLines();
  int windowHooks = 0;
  T.S->Keyboard->EscapeActionHook = [&] { ++windowHooks; };
  // Esc is pressed while the first record is on screen: the window's turn
  // between records delivers it.
  T.Desktop.DeliverOnProcess = true;
  T.Desktop.Handler = [&](const TPostedMessage&) { T.S->Keyboard->EscapeAction(); };
  T.Desktop.PostMessage(wmUser + 1, 0, 0);
  EXPECT_TRUE(Offer("T"));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"", "one"}));
  EXPECT_EQ(Sent(), "\b\r");  // a text search gives the prompt back even so
  EXPECT_EQ(windowHooks, 1);  // the window's own escape work still ran

  T.Desktop.PostMessage(wmUser + 1, 0, 0);
  EXPECT_TRUE(Offer("R"));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"", "ONE"}));
  EXPECT_EQ(Sent(), "\b");  // an interrupted record search ends without
  EXPECT_EQ(windowHooks, 2);
  // After the run Esc is the window's alone again.
  C->Interrupted = false;
  T.S->Keyboard->EscapeAction();
  EXPECT_EQ(windowHooks, 3);
  EXPECT_FALSE(C->Interrupted);
}

TEST_F(Commands, ADeviceWithoutLineFeedsIsReadInPiecesAndEscEndsIt) {
  Install("ZZ,/dev/zero,3,>> ,\n");
  CollectLines();
  // Esc is pressed at the window's third turn: one turn follows each piece.
  int turns = 0;
  T.Desktop.DeliverOnProcess = true;
  T.Desktop.Handler = [&](const TPostedMessage&) {
    if (++turns == 3) T.S->Keyboard->EscapeAction();
    else T.Desktop.PostMessage(wmUser + 1, 0, 0);
  };
  T.Desktop.PostMessage(wmUser + 1, 0, 0);
  EXPECT_TRUE(Offer("ZZ"));
  EXPECT_EQ(turns, 3);
  // Blank pieces equal the empty skip text: none is shown.
  EXPECT_EQ(Lines(), std::vector<std::string>{""});
  EXPECT_EQ(Sent(), "\b\b\r");
  // With a skip text of its own the pieces show, each as long as the limit.
  Install("ZZ,/dev/zero,3,>> ,END\n");
  turns = 0;
  T.Desktop.PostMessage(wmUser + 1, 0, 0);
  EXPECT_TRUE(Offer("ZZ"));
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 4u);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    EXPECT_TRUE(lines[i] == ">> " + std::string(kSearchLineLimit, '\0')) << "line " << i << ": " << lines[i].size();
  }
}

TEST_F(Commands, LongLinesArePiecesOfTheLimitAndALineOfExactlyTheLimitIsOne) {
  const std::string longLine(kSearchLineLimit + 10, 'a');
  const std::string exactLine(kSearchLineLimit, 'b');
  WriteFileBytes(File("t.txt"), longLine + "\n" + exactLine + "\r\nc");
  Install("T," + File("t.txt") + ",3,,\nS," + File("t.txt") + ",4,,C\n");
  CollectLines();
  EXPECT_TRUE(Offer("T"));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"", longLine.substr(0, kSearchLineLimit), std::string(10, 'a'),
                                               exactLine, "c"}));
  EXPECT_TRUE(Offer("S A"));  // a section from a piece runs to the skip text
  EXPECT_EQ(Lines(), (std::vector<std::string>{"", longLine.substr(0, kSearchLineLimit), std::string(10, 'a'),
                                               exactLine}));
}

TEST_F(Commands, FoundLinesReachTheScreenAndTheLogFile) {
  InstallOver("alpha\nbeta\n", "T,3,* ,");
  Settings().LogFileName = File("session.log");
  T.S->Files->CreateLogFile();
  EXPECT_TRUE(Offer("T BETA"));
  T.S->Files->CloseLogFile();
  EXPECT_EQ(ReadFileBytes(File("session.log")), "\r\n* beta\r\n");
  TBrowse& screen = *T.S->Screen;
  const int row = T.S->Writer->State.CursorRow;
  EXPECT_EQ(screen.GetLineText(screen.ScreenLine(row - 1)).substr(0, 7), "* beta ");
  EXPECT_EQ(screen.GetLineText(screen.ScreenLine(row - 2)).substr(0, 7), std::string(7, ' '));
}

// ------------------------------------------------------- log file commands

TEST_F(NoCommandFile, LonAloneProposesQelwinLogAndCancelLeavesTheLogClosed) {
  Settings().LogFileName = File("old.log");
  T.S->Files->CreateLogFile();
  ASSERT_TRUE(T.S->Files->LogOpen);
  EXPECT_TRUE(Offer("lon"));
  ASSERT_EQ(T.Desktop.Dialogs.size(), 1u);
  EXPECT_EQ(DialogShown(T.Desktop.Dialogs[0]),
            TDialogShown(false, "Open Log File", ".LOG|*.LOG|Log Files (*.LOG)|*.LOG|TXT Files (*.TXT)|*.TXT|All Files "
                         "(*.*)|*.*", T.S->ProgramDirectory + "QELWIN.LOG", T.S->ProgramDirectory));
  EXPECT_FALSE(T.S->Files->LogOpen);
  EXPECT_EQ(Settings().LogFileName.str(), File("old.log"));
  EXPECT_EQ(Sent(), "\b\b\b");
}

TEST_F(NoCommandFile, LonWithANameOpensTheChosenLog) {
  T.Desktop.DialogAnswers.push_back(File("day.trc"));
  EXPECT_TRUE(Offer("  LON   " + File("day.trc") + "  "));
  ASSERT_EQ(T.Desktop.Dialogs.size(), 1u);
  EXPECT_EQ(T.Desktop.Dialogs[0].InitialName, File("day.trc"));
  EXPECT_EQ(T.Desktop.Dialogs[0].InitialDirectory, T.Dir.path().string() + "/");
  EXPECT_EQ(T.Desktop.Dialogs[0].Filter.substr(0, 30), ".trc|*.trc|Log Files (*.LOG)|*");
  EXPECT_TRUE(T.S->Files->LogOpen);
  EXPECT_EQ(Settings().LogFileName.str(), File("day.trc"));
  EXPECT_TRUE(T.S->Status.LogStatus);
}

TEST_F(Commands, FiltersGetTheNamesOwnExtensionOnlyWhenItHasOne) {
  EXPECT_EQ(FilterWithExtension("a.b/name", "F|*.F"), "F|*.F");
  EXPECT_EQ(FilterWithExtension("dir\\x.mac", "F|*.F"), ".mac|*.mac|F|*.F");
  EXPECT_EQ(FilterWithExtension("plain", "F|*.F"), "F|*.F");
}

TEST_F(NoCommandFile, LoffClosesTheLogAndIsNotSent) {
  Settings().LogFileName = File("a.log");
  T.S->Files->CreateLogFile();
  Type("LOFF\r");
  EXPECT_FALSE(T.S->Files->LogOpen);
  EXPECT_EQ(Sent(), "LOFF\b\b\b\b");
  Type("MFTON\r");
  EXPECT_TRUE(T.S->Mini->WantsCharacters());
  EXPECT_EQ(Sent(), "MFTON\b\b\b\b\b");
  Type("mftoff\r");
  EXPECT_FALSE(T.S->Mini->WantsCharacters());
  EXPECT_EQ(Sent(), "mftoff\b\b\b\b\b\b");
}

// ------------------------------------------------------------ include files

TEST_F(NoCommandFile, IncStartsAFileSendOfTheChosenFile) {
  WriteFileBytes(File("batch.mac"), "DIR\r\n");
  T.Desktop.DialogAnswers.push_back(File("batch.mac"));
  EXPECT_TRUE(Offer("INC " + File("batch.mac")));
  ASSERT_EQ(T.Desktop.Dialogs.size(), 1u);
  EXPECT_EQ(T.Desktop.Dialogs[0].Title, "Open Include File");
  EXPECT_EQ(T.Desktop.Dialogs[0].Filter,
            ".mac|*.mac|Macro Files (*.MAC)|*.MAC|Log Files   (*.LOG)|*.LOG|TXT Files   (*.TXT)|*.TXT|All Files   "
            "(*.*)|*.*");
  EXPECT_EQ(T.S->Files->TransferFileName, File("batch.mac"));
  EXPECT_EQ(T.S->Files->TransferFileState, TLogFiles::tsReading);
  EXPECT_EQ(Transfer(), std::tuple(true, 0, 0));
  EXPECT_TRUE(Engine().Activities & acFileSend);
  ASSERT_FALSE(T.Desktop.Posted.empty());
  EXPECT_EQ(T.Desktop.Posted.back().Message, wmTransferStarted);
  EXPECT_EQ(T.Desktop.Posted.back().WParam, 5);  // the file's size, for the gauge
}

// BAT is the same; a cancelled dialog or a file that is gone sends nothing.
TEST_F(NoCommandFile, BatIsTheSameAndCancelOrAGoneFileSendsNothing) {
  EXPECT_TRUE(Offer("bat x.mac"));
  EXPECT_EQ(Sent(), std::string(9, '\b'));
  T.Desktop.DialogAnswers.push_back(File("gone.mac"));
  EXPECT_TRUE(Offer("INC gone.mac"));
  EXPECT_EQ(T.Desktop.Dialogs.size(), 2u);
  EXPECT_FALSE(Engine().TransferActive);
  EXPECT_EQ(Engine().Activities & acFileSend, 0u);
  EXPECT_EQ(T.Desktop.Boxes.size(), 1u);
}

TEST_F(NoCommandFile, AnIncludeFileIsRefusedWhilePlaybackRuns) {
  WriteFileBytes(File("batch.mac"), "DIR\r\n");
  Engine().Activities |= acPlayback;
  T.Desktop.DialogAnswers.push_back(File("batch.mac"));
  EXPECT_TRUE(Offer("INC batch.mac"));
  EXPECT_EQ(BoxTexts(T.Desktop), (std::vector<std::string>{
                            "Playback is already active\rPlayBack and sending can't be active at the same time"}));
  EXPECT_FALSE(Engine().TransferActive);
}

// ------------------------------------------------------------ trace switches

TEST_F(NoCommandFile, ColStartsTheBackgroundLogAndTracesOnlyWhenSetTo) {
  Settings().BackgroundLogging = 1;
  Settings().ColTurnsTrace = 0;
  Type("COL\r");
  EXPECT_EQ(Sent(), "COL\r");  // still the host's command
  EXPECT_EQ(T.S->Files->BackgroundState, TLogFiles::bsWriting);
  EXPECT_EQ(T.S->Trace->TraceState, TTraceDecoder::tsOff);
  EXPECT_TRUE(T.Desktop.Boxes.empty());

  // With the switch on, decoding is tried: the mode files are missing, so it
  // says so and stays off.
  Settings().ColTurnsTrace = 1;
  Settings().ModeFileName = File("nomode");
  EXPECT_FALSE(Offer("col"));
  EXPECT_FALSE(T.Desktop.Boxes.empty());
  EXPECT_EQ(T.S->Trace->TraceState, TTraceDecoder::tsOff);
}

TEST_F(NoCommandFile, ColonColSwitchesTheMiniTraceWhenSetTo) {
  Settings().ColTurnsTrace = 0;
  Settings().ColTurnsMiniTrace = 0;
  EXPECT_FALSE(Offer(":COL"));
  EXPECT_FALSE(T.S->Mini->WantsCharacters());
  Settings().ColTurnsMiniTrace = 1;
  EXPECT_FALSE(Offer(":col"));
  EXPECT_TRUE(T.S->Mini->WantsCharacters());
  EXPECT_TRUE(T.S->Status.MiniStatus);
  T.S->Mini->MiniTraceOff();
  EXPECT_FALSE(Offer(":RTB"));
  EXPECT_TRUE(T.S->Mini->WantsCharacters());
  EXPECT_FALSE(Offer(":COLX"));  // exactly, or it is a word for the host
}

// -------------------------------------------------------------------- PADS

TEST_F(NoCommandFile, PadArmsThePromptWatchAndThePasswordLineStartsTheCapture) {
  int started = 0, capturing = 0;
  C->StartPads = [&] { ++started; };
  C->PadsCapturing = [&] { ++capturing; };
  Engine().PadsPrompt.Text = "old";
  Type("PADS 1\r");
  EXPECT_EQ(Sent(), "PADS 1\r");
  EXPECT_TRUE(Engine().PadsPrompt.Collecting);
  EXPECT_EQ(Engine().PadsPrompt.Text, "");
  EXPECT_EQ(started, 1);

  // The host asks for the password; the next line answers it.
  T.S->ReceiveBytes(reinterpret_cast<const std::uint8_t*>("PASSWORD:\x03"), 10);
  ASSERT_TRUE(Engine().PadsPrompt.Collecting);
  Type("secret\r");
  EXPECT_EQ(Sent(), "secret\r");
  EXPECT_FALSE(Engine().PadsPrompt.Collecting);
  EXPECT_EQ(Transfer(), std::tuple(true, 1, 2));
  EXPECT_EQ(capturing, 1);
  EXPECT_EQ(T.Desktop.Posted.back().Message, wmOpenPads);
}

// -------------------------------------------------------------- line speed

TEST_F(NoCommandFile, BdrSelectsTheFiveLineSpeedsOnly) {
  TRecordingSerialLine serial;
  T.S->Transmit->Serial = &serial;
  T.S->Transmit->SerialConnected = true;
  Settings().BaudRate = cbr19200;

  EXPECT_FALSE(Offer("BDR 1200"));
  EXPECT_EQ(Settings().BaudRate, cbr1200);
  EXPECT_EQ(Sent(), "\r");
  EXPECT_EQ(T.Desktop.Waits, std::vector<int>{2000});

  EXPECT_FALSE(Offer("bdr 9600t"));
  EXPECT_EQ(Settings().BaudRate, cbr9600);
  EXPECT_FALSE(Offer("BDR 300T"));
  EXPECT_EQ(Settings().BaudRate, cbr300);

  for (const char* nothing : {"BDR 600", "BDR 19200", "BDR 02400", "BDR T", "BDR 12x0", "BDR"}) {
    EXPECT_FALSE(Offer(nothing)) << nothing;
    EXPECT_EQ(Settings().BaudRate, cbr300) << nothing;
  }
  EXPECT_EQ(Sent(), "\r\r");
  EXPECT_EQ(T.Desktop.Waits.size(), 3u);
  EXPECT_EQ(serial.Sent, "\r\r\r");
}
}  // namespace
