#include "transfer/paste.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/session.h"
#include "comms/recordinglines.h"
#include "comms/transmit.h"
#include "log/logfiles.h"
#include "support/boxes.h"
#include "support/shown.h"
#include "support/testing.h"
#include "transfer/commandstate.h"
#include "transfer/engine.h"
#include "transfer/pacedsend.h"

using namespace std::string_literals;

namespace {

struct Paste : ::testing::Test {
  TWiredSession T;
  TRecordingNetworkLine& Wire = T.Wire;
  std::string& Screen = T.Shown;     // what reached the screen path
  TCommandState State;
  TPaste P{*T.S, State};
  std::vector<int> GaugeSteps;       // the gauge's progress at each change

  TTransferEngine& E() { return T.Engine(); }
  TSetupRecord& Settings() { return T.Settings(); }
  void SetUp() override { P.OnStateChanged = [this] { GaugeSteps.push_back(State.GaugeProgress); }; }
  void Tick(int n = 1) { T.Tick(n); }
  void TickWhile(std::uint32_t bit) { ASSERT_TRUE(T.TickWhile(bit)); }
  std::string PasteSent(std::uint8_t eol, const std::string& text) {
    Settings().EOL = eol;
    Wire.Sent.clear();
    T.Desktop.Clipboard = text;
    P.PasteSend();
    TickWhile(acPasteSend);
    return Wire.Sent;
  }
  const std::vector<TScriptedDesktop::TRecordedBox>& Boxes() { return T.Desktop.Boxes; }
};

// ------------------------------------------------------------ paste send

TEST_F(Paste, PasteSendSendsTheClipboardWithTheLineEndsConverted) {
  EXPECT_EQ(PasteSent(elLF, "A\r\nB\n\rC"), "A\n\nB\nC");
  EXPECT_EQ(PasteSent(elLFCR, "A\r\nB\rC"), "A\n\rB\n\rC");  // the CR LF pair is one line end
  EXPECT_EQ(T.Desktop.Clipboard, "A\r\nB\rC");  // a paste send leaves the clipboard
}

TEST_F(Paste, PasteSendStopsAtANulAndDropsCtrlZUnlessItIsSent) {
  Settings().EOFCtrlZ = 0;
  EXPECT_EQ(PasteSent(elNoChange, "ab\x1A" "cd\0ef"s), "abcd");
  Settings().EOFCtrlZ = 1;
  EXPECT_EQ(PasteSent(elNoChange, "ab\x1A" "cd"), "ab\x1A" "cd");
}

TEST_F(Paste, PasteSendRunsAtTheBudgetAndTheGaugeCountsPairsTwice) {
  T.S->Transmit->CharsPerTick = 3;
  Settings().EOL = elCRLF;
  T.Desktop.Clipboard = "ab\r\ncdefg";
  P.PasteSend();
  EXPECT_TRUE(State.GaugeVisible);
  EXPECT_EQ(State.GaugeMax, 9);
  EXPECT_EQ(State.GaugeProgress, 0);
  Tick();
  EXPECT_EQ(Wire.Sent, "ab\r\n");
  EXPECT_EQ(State.GaugeProgress, 4);  // a, b and the CR LF pair
  Tick();
  EXPECT_EQ(Wire.Sent, "ab\r\ncde");
  EXPECT_EQ(State.GaugeProgress, 7);
  Tick(2);
  EXPECT_EQ(Wire.Sent, "ab\r\ncdefg");
  EXPECT_FALSE(E().Activities & acPasteSend);
  EXPECT_FALSE(State.GaugeVisible);
  EXPECT_EQ(P.Remaining(), 0u);
}

TEST_F(Paste, PasteSendWaitsWhileAnotherActivitysTimerRuns) {
  T.Desktop.Clipboard = "abc";
  P.PasteSend();
  E().Timers[tmCharDelay] = 2;  // a soft key's character delay
  Tick();
  EXPECT_EQ(Wire.Sent, "");
  Tick();
  EXPECT_EQ(Wire.Sent, "abc");
}

TEST_F(Paste, AnEchoArrivingContinuesThePasteSendAtOnce) {
  T.Desktop.Clipboard = "abc";
  P.PasteSend();
  E().AwaitedEcho = 'k';
  E().Timers[tmEcho] = 6;
  Tick();
  EXPECT_EQ(Wire.Sent, "");
  T.S->HandleSessionEvent(sekReceivedByte, 'k');
  EXPECT_EQ(Wire.Sent, "abc");
}

TEST_F(Paste, AnEmptyClipboardDoesNothing) {
  T.Desktop.Clipboard.reset();
  P.PasteSend();
  P.PasteReceive();
  P.PasteToDisk();
  T.Desktop.Clipboard = "";
  P.PasteSend();
  EXPECT_EQ(E().Activities, 0u);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_TRUE(T.Desktop.Dialogs.empty());
  EXPECT_FALSE(State.GaugeVisible);
}

// ------------------------------------------------------------ busy and cancel

TEST_F(Paste, AnyPasteWhileOneRunsIsRefused) {
  T.Desktop.Clipboard = "first";
  P.PasteReceive();
  ASSERT_TRUE(E().Activities & acPasteReceive);
  T.Desktop.Clipboard = "second";
  P.PasteSend();
  P.PasteReceive();
  P.PasteToDisk();
  EXPECT_EQ(BoxesShown(T.Desktop),
            std::vector<TBoxShown>(3, {"Paste already in Progress. Cancel Previous", mbOK | mbHelp, TMsgIcon::Error}));
  EXPECT_FALSE(E().Activities & acPasteSend);
  EXPECT_TRUE(T.Desktop.Dialogs.empty());
  Tick();
  EXPECT_EQ(Screen, "first");  // the running paste keeps its own text
}

TEST_F(Paste, CancelPasteStopsBothAndFreesTheStream) {
  T.Desktop.Clipboard = std::string(500, 'x');
  P.PasteSend();
  Tick();
  P.CancelPaste();
  EXPECT_EQ(E().Activities & (acPasteSend | acPasteReceive), 0u);
  EXPECT_EQ(P.Remaining(), 0u);
  EXPECT_FALSE(State.GaugeVisible);
  Tick(3);
  EXPECT_EQ(Wire.Sent.size(), 100u);
  T.Desktop.Clipboard = "next";
  P.PasteSend();  // no longer refused
  EXPECT_TRUE(Boxes().empty());
  Tick();
  EXPECT_EQ(Wire.Sent.substr(100), "next");
}

// ------------------------------------------------------------ paste receive

TEST_F(Paste, PasteReceiveFeedsTheTextAsIfReceivedAndEmptiesTheClipboard) {
  T.Desktop.Clipboard = "line one\r\nline two";
  P.PasteReceive();
  EXPECT_EQ(T.Desktop.Clipboard.value_or("?"), "");
  EXPECT_EQ(State.GaugeMax, 18);
  Tick();
  EXPECT_EQ(Screen, "line one\r\nline two");
  EXPECT_EQ(Wire.Sent, "");  // nothing goes to the host
  EXPECT_EQ(State.GaugeProgress, 18);
  Tick();
  EXPECT_FALSE(E().Activities & acPasteReceive);
  EXPECT_FALSE(State.GaugeVisible);
}

TEST_F(Paste, PasteReceiveHands2048BytesATickAndStopsAtANul) {
  const std::string text = std::string(3000, 'r') + "\0tail"s;
  T.Desktop.Clipboard = text;
  P.PasteReceive();
  Tick();
  EXPECT_EQ(Screen.size(), 2048u);
  EXPECT_EQ(State.GaugeProgress, 2048);
  Tick();
  EXPECT_EQ(Screen, std::string(3000, 'r'));
  EXPECT_FALSE(E().Activities & acPasteReceive);
}

TEST_F(Paste, PasteReceivedBytesGoThroughTheDispatcher) {
  // A received byte meets an echo wait exactly as one from the line does.
  E().AwaitedEcho = '>';
  E().Timers[tmEcho] = 5;
  T.Desktop.Clipboard = "ok>";
  P.PasteReceive();
  Tick();
  EXPECT_EQ(E().Timers[tmEcho], 0);
}

// ------------------------------------------------------------ paste to disk

struct PasteToDisk : Paste {
  std::string File;
  void SetUp() override {
    Paste::SetUp();
    File = T.Dir.file("paste.log");
    T.Desktop.DialogAnswers.push_back(File);
  }
};

TEST_F(PasteToDisk, TheSaveDialogProposesTheLogFile) {
  Settings().LogFileName.assign(T.Dir.file("logs/today.log"));
  T.Desktop.Clipboard = "text";
  P.PasteToDisk();
  ASSERT_EQ(T.Desktop.Dialogs.size(), 1u);
  EXPECT_EQ(DialogShown(T.Desktop.Dialogs[0]), TDialogShown(true, "Save marked Screen to File",
                                                            "Log File (*.LOG)|*.LOG", "today.log", T.Dir.file("logs")));
}

TEST_F(PasteToDisk, ANewFileGetsTheTextAndTheClipboardIsEmptied) {
  T.Desktop.Clipboard = "abc\r\ndef";
  P.PasteToDisk();
  EXPECT_EQ(ReadFileBytes(File), "abc\r\ndef");
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(T.Desktop.Clipboard.value_or("?"), "");
  EXPECT_FALSE(State.GaugeVisible);
}

TEST_F(PasteToDisk, ACancelledDialogWritesNothing) {
  T.Desktop.DialogAnswers.clear();
  T.Desktop.Clipboard = "abc";
  P.PasteToDisk();
  EXPECT_FALSE(std::filesystem::exists(File));
  EXPECT_EQ(T.Desktop.Clipboard, "abc");
}

TEST_F(PasteToDisk, AnExistingFileIsAppendedOverAFinalCtrlZRecreatedOrLeftAlone) {
  const auto pastedOnto = [&](const std::string& old, TMsgResult answer, const std::string& text) {
    WriteFileBytes(File, old);
    T.Desktop.DialogAnswers = {File};
    T.Desktop.Answers = {answer};
    T.Desktop.Clipboard = text;
    P.PasteToDisk();
    return ReadFileBytes(File);
  };
  EXPECT_EQ(pastedOnto("old\x1A", TMsgResult::Yes, "new"), "oldnew");
  EXPECT_EQ(pastedOnto("old\x1A\r\n", TMsgResult::Yes, "new"), "old\x1A\r\nnew");  // not the last byte
  EXPECT_EQ(pastedOnto("old", TMsgResult::No, "new"), "new");
  EXPECT_EQ(pastedOnto("old", TMsgResult::Cancel, "other"), "old");
  EXPECT_EQ(T.Desktop.Clipboard, "other");
  EXPECT_EQ(BoxesShown(T.Desktop), std::vector<TBoxShown>(4, {"File already exists\r\nDo you wish to Append to the "
                                                             "existing file?", mbYes | mbNo | mbCancel,
                                                             TMsgIcon::Confirmation}));
}

TEST_F(PasteToDisk, TheTextGoesInBlocksOf2049AndStopsAtTheFirstNul) {
  const std::string text = std::string(5000, 'd');
  T.Desktop.Clipboard = text;
  P.PasteToDisk();
  EXPECT_EQ(ReadFileBytes(File), text);
  EXPECT_EQ(GaugeSteps, (std::vector<int>{0, 2049, 4098, 5000, 5000}));

  T.Desktop.DialogAnswers.push_back(File);
  T.Desktop.Answers.push_back(TMsgResult::No);
  T.Desktop.Clipboard = std::string(3000, 'e') + "\0after"s;
  P.PasteToDisk();
  EXPECT_EQ(ReadFileBytes(File), std::string(3000, 'e'));
}

TEST_F(PasteToDisk, ADiskFullStopsTheWriteAndKeepsTheClipboard) {
  T.S->Files->Faults.WritesBeforeFault = 1;
  T.S->Files->Faults.ShortWrite = 100;
  const std::string text = std::string(5000, 'f');
  T.Desktop.Clipboard = text;
  P.PasteToDisk();
  EXPECT_EQ(BoxTexts(T.Desktop), std::vector<std::string>{"Disk FULL !"});
  EXPECT_EQ(ReadFileBytes(File), std::string(2049 + 100, 'f'));
  EXPECT_EQ(T.Desktop.Clipboard, text);
  EXPECT_FALSE(State.GaugeVisible);
}

TEST_F(PasteToDisk, AFileThatCannotBeCreatedIsReported) {
  T.S->Files->Faults.OpenErrno = EACCES;
  T.Desktop.Clipboard = "x";
  P.PasteToDisk();
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].Box.Text.rfind("File access error. File = " + File + "\r", 0), 0u) << Boxes()[0].Box.Text;
  EXPECT_FALSE(std::filesystem::exists(File));
}

}  // namespace
