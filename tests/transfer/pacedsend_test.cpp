#include "transfer/pacedsend.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "app/session.h"
#include "comms/recordinglines.h"
#include "comms/transmit.h"
#include "log/logfiles.h"
#include "support/shown.h"
#include "support/testing.h"
#include "terminal/keyboard.h"
#include "transfer/commandstate.h"
#include "transfer/engine.h"

using namespace std::string_literals;

namespace {

struct PacedSend : ::testing::Test {
  TWiredSession T;
  TRecordingNetworkLine& Wire = T.Wire;
  std::string& Screen = T.Shown;  // what the dispatcher showed
  TCommandState State;
  TPacedSend Sender{*T.S, State};

  TTransferEngine& E() { return T.Engine(); }
  TSetupRecord& Settings() { return T.Settings(); }
  void SetUp() override { E().KeyHandler = nullptr; }  // keys only raise the key-pressed flag here
  void Start(const std::string& bytes) {
    const std::string name = T.Dir.file("send.txt");
    WriteFileBytes(name, bytes);
    Settings().SendReceiveFileName.assign(name);
    ASSERT_TRUE(Sender.StartFileSend());
  }
  bool Sending() { return (E().Activities & acFileSend) != 0; }
  void Tick(int n = 1) { T.Tick(n); }
  // What had been sent after each run of ticks.
  std::vector<std::string> SentAfter(std::initializer_list<int> runs) {
    std::vector<std::string> sent;
    for (const int n : runs) {
      Tick(n);
      sent.push_back(Wire.Sent);
    }
    return sent;
  }
  void TickToEnd() { ASSERT_TRUE(T.TickWhile(acFileSend)); }
  void Receive(const std::string& bytes) { T.Receive(bytes); }
  void PressKey() { T.S->HandleSessionEvent(sekKey, 0); }
  std::string SentWith(std::uint8_t eol, const std::string& file) {
    Settings().EOL = eol;
    Wire.Sent.clear();
    Start(file);
    TickToEnd();
    return Wire.Sent;
  }
};

// ------------------------------------------------------------ end of line

// What each choice sends for a line end, and whether it takes the next
// character with it; the senders (paced send, paste, queued strings) share it.
TEST(EndOfLine, EachChoiceConvertsALineEndAndTakesPairsAsItSays) {
  struct {
    std::uint8_t Eol;
    char C;
    int Next;
    std::string Sent;
    int Taken;
  } const cases[] = {
      {elCR, '\r', '\n', "\r", 2},   {elCR, '\n', '\r', "\r", 1},  // CR takes only a following LF
      {elCR, '\n', '\n', "\r", 2},   {elCR, '\r', -1, "\r", 1},  // any line end takes an LF
      {elLF, '\r', '\n', "\n", 1},   {elLF, '\n', '\r', "\n", 2},  // LF takes only a following CR
      {elCRLF, '\n', '\r', "\r\n", 2}, {elCRLF, '\r', '\r', "\r\n", 1}, {elCRLF, '\n', -1, "\r\n", 1},
      {elLFCR, '\r', '\n', "\n\r", 2}, {elLFCR, '\n', '\n', "\n\r", 1},
      {elNoChange, '\r', '\n', "\r", 1}, {elNoChange, '\n', '\r', "\n", 1},
      {7, '\r', '\n', "\r", 1},  // a code no dialog writes: no change
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "EOL " << int{c.Eol} << " char " << int{c.C} << " next " << c.Next);
    const TLineEndOut out = ConvertLineEnd(c.Eol, static_cast<std::uint8_t>(c.C), c.Next);
    EXPECT_EQ(std::string(out.Bytes, out.Count), c.Sent);
    EXPECT_EQ(out.Taken, c.Taken);
  }
}

TEST_F(PacedSend, AFileSendConvertsItsLineEnds) {
  EXPECT_EQ(SentWith(elCRLF, "A\n\rB\r\rC\nD"), "A\r\nB\r\n\r\nC\r\nD");
  EXPECT_EQ(SentWith(elLF, "A\rB\n\rC\r\nD"), "A\nB\nC\n\nD");
}

TEST_F(PacedSend, APairSplitByTheReadBlockIsStillOnePair) {
  const std::string head(TPacedSend::kBufferSize - 1, 'a');  // the CR is the block's last byte
  EXPECT_EQ(SentWith(elCRLF, head + "\r\nb"), head + "\r\nb");
  EXPECT_EQ(SentWith(elCR, head + "\r\nb"), head + "\rb");
}

// ------------------------------------------------------------ Ctrl-Z and the end

// Without Ctrl-Z at end a Ctrl-Z ends the send unsent; with it every Ctrl-Z
// goes and one more follows.
TEST_F(PacedSend, CtrlZAtEndDecidesWhatACtrlZDoes) {
  Settings().EOFCtrlZ = 0;
  EXPECT_EQ(SentWith(elNoChange, "AB\x1A" "CD"), "AB");
  EXPECT_EQ(T.S->Files->TransferFileState, TLogFiles::tsClosed);
  Settings().EOFCtrlZ = 1;
  EXPECT_EQ(SentWith(elNoChange, "AB\x1A" "CD"), "AB\x1A" "CD\x1A");
  EXPECT_EQ(SentWith(elNoChange, "x"), "x\x1A");
}

TEST_F(PacedSend, TheEndClosesTheFileAndTellsTheWindow) {
  Start("hello");
  EXPECT_TRUE(E().TransferActive);
  EXPECT_FALSE(State.TransfersEnabled);
  EXPECT_TRUE(State.GaugeVisible);  // its steps: the gauge test
  T.Desktop.Posted.clear();
  TickToEnd();
  EXPECT_EQ(Wire.Sent, "hello");
  EXPECT_FALSE(E().TransferActive);
  EXPECT_EQ(E().WaitFlag, wfFinished);
  EXPECT_EQ(T.S->Files->TransferFileState, TLogFiles::tsClosed);
  ASSERT_EQ(T.Desktop.Posted.size(), 1u);
  EXPECT_EQ(T.Desktop.Posted[0].Message, wmTransferEnded);
}

TEST_F(PacedSend, AnEmptyFileEndsAtOnce) {
  Settings().EOFCtrlZ = 1;
  Start("");
  Tick();
  EXPECT_FALSE(Sending());
  EXPECT_EQ(Wire.Sent, "\x1A");
}

// ------------------------------------------------------------ budget

TEST_F(PacedSend, EachTickSendsAtMostTheBudget) {
  Start(std::string(1000, 'x'));
  Tick();
  EXPECT_EQ(Wire.Sent.size(), 100u);
  T.S->Transmit->CharsPerTick = 5;  // a 110 baud line
  Tick();
  EXPECT_EQ(Wire.Sent.size(), 105u);
  T.S->Transmit->CharsPerTick = 60;
  Tick(2);
  EXPECT_EQ(Wire.Sent.size(), 225u);
}

TEST_F(PacedSend, AnEchoingHostDoesNotDriveAnUnpacedSendPastTheBudget) {
  Start(std::string(1000, 'x'));
  Tick();
  Receive(std::string(100, 'x'));  // the host echoes all of it at once
  EXPECT_EQ(Wire.Sent.size(), 100u);
  Tick();
  EXPECT_EQ(Wire.Sent.size(), 200u);
}

TEST_F(PacedSend, ALineEndPairIsOneStepOfTheBudget) {
  T.S->Transmit->CharsPerTick = 4;
  Settings().EOL = elCRLF;
  Start("ab\ncd\nef");
  // a, b, the line end, c: four steps.
  EXPECT_EQ(SentAfter({1, 1}), (std::vector<std::string>{"ab\r\nc", "ab\r\ncd\r\nef"}));
}

TEST_F(PacedSend, TheGaugeShowsTheFilePositionAtEachRead) {
  Start(std::string(5000, 'x'));
  EXPECT_EQ(State.GaugeMax, 5000);
  Tick(20);  // 2000 characters: still the first block
  EXPECT_EQ(State.GaugeProgress, 0);
  Tick(1);  // the second block is read at character 2067
  EXPECT_EQ(State.GaugeProgress, static_cast<int>(TPacedSend::kBufferSize));
  TickToEnd();
  EXPECT_EQ(Wire.Sent.size(), 5000u);
}

// ------------------------------------------------------------ waits

TEST_F(PacedSend, WaitForTenthsHoldsTheNextLine) {
  Settings().LineDelay = ldWaitTenths;
  Settings().LineDly = 3;
  Start("A\rB\rC");
  // The third countdown ends the wait.
  EXPECT_EQ(SentAfter({1, 2, 1, 3}), (std::vector<std::string>{"A\r", "A\r", "A\rB\r", "A\rB\rC"}));
}

TEST_F(PacedSend, WaitForACharacterSendsTheNextLineWhenThePromptArrives) {
  Settings().LineDelay = ldWaitForChar;
  Settings().WaitChar = '>';
  Settings().MaxEchoDelay = 50;
  Start("L1\rL2\rL3");
  Tick(3);
  EXPECT_EQ(Wire.Sent, "L1\r");
  Receive("L1\r\n");  // the echo of the line is not the prompt
  EXPECT_EQ(Wire.Sent, "L1\r");
  Receive(">");  // between two ticks: the next line starts at once
  EXPECT_EQ(Wire.Sent, "L1\rL");
  Tick();
  EXPECT_EQ(Wire.Sent, "L1\rL2\r");
  EXPECT_EQ(Screen, "L1\r\n>");  // the received bytes were shown
}

TEST_F(PacedSend, APromptThatNeverComesEndsTheWaitAfterMaxEchoDelay) {
  Settings().LineDelay = ldWaitForChar;
  Settings().MaxEchoDelay = 6;
  Start("A\rB");
  EXPECT_EQ(SentAfter({6, 1}), (std::vector<std::string>{"A\r", "A\rB"}));
}

// One character per echo, or per time-out when the echo does not come.
TEST_F(PacedSend, PacedByEchoSendsOneCharacterPerEcho) {
  Settings().CharDelay = cdPacedByEcho;
  Settings().MaxEchoDelay = 2;
  Start("abcd");
  Tick();
  EXPECT_EQ(Wire.Sent, "a");
  Receive("x");  // not the awaited character
  EXPECT_EQ(Wire.Sent, "a");
  Receive("a");
  EXPECT_EQ(Wire.Sent, "ab");
  Tick();
  EXPECT_EQ(Wire.Sent, "ab");
  Tick();
  EXPECT_EQ(Wire.Sent, "abc");
  Receive("c");
  EXPECT_EQ(Wire.Sent, "abcd");
}

TEST_F(PacedSend, PacedByEchoWithNoMaxEchoDelayDoesNotWait) {
  Settings().CharDelay = cdPacedByEcho;
  Settings().MaxEchoDelay = 0;
  Start("abcdef");
  Tick();
  EXPECT_EQ(Wire.Sent, "abcdef");
}

TEST_F(PacedSend, WaitForKeystrokeHoldsEachCrUntilAKeyIsPressed) {
  Settings().LineDelay = ldWaitForKey;
  Start("A\rB\rC");
  Tick(5);
  EXPECT_EQ(Wire.Sent, "A");  // the CR is held
  EXPECT_EQ(E().WaitFlag, wfWaiting);
  PressKey();
  EXPECT_EQ(SentAfter({1, 3}), (std::vector<std::string>{"A\rB", "A\rB"}));  // one key releases one line
  PressKey();
  Tick();
  EXPECT_EQ(Wire.Sent, "A\rB\rC");
}

TEST_F(PacedSend, AKeyTypedBeforeTheSendReleasesNoLine) {
  Settings().LineDelay = ldWaitForKey;
  PressKey();
  Start("A\rB");
  Tick(2);
  EXPECT_EQ(Wire.Sent, "A");
}

TEST_F(PacedSend, EscStopsTheQueuedStringButNotTheFileSend) {
  T.S->Transmit->CharsPerTick = 2;
  Start("abcdef");
  Tick();
  EXPECT_EQ(Wire.Sent, "ab");
  T.S->Keyboard->EscapeAction();
  EXPECT_TRUE(Sending());
  EXPECT_TRUE(E().TransferActive);
  Tick(2);
  EXPECT_EQ(Wire.Sent, "abcdef");
}

TEST_F(PacedSend, ACancelledTransferStopsTheSenderAndHidesTheGauge) {
  Start(std::string(500, 'x'));
  Tick();
  T.S->Files->CloseTransferFile();  // what "&Cancel" does to the file
  Tick();
  EXPECT_FALSE(Sending());
  EXPECT_FALSE(State.GaugeVisible);
  EXPECT_EQ(Wire.Sent.size(), 100u);
}

// ------------------------------------------------------------ the command

TEST_F(PacedSend, PlaybackRefusesTheSendBeforeTheDialog) {
  E().Activities |= acPlayback;
  bool asked = false;
  EXPECT_FALSE(Sender.SendAscii([&](TSetupRecord&) { return asked = true; }));
  EXPECT_FALSE(asked);
  EXPECT_EQ(BoxesShown(T.Desktop),
            (std::vector<TBoxShown>{{"Playback is already active\rPlayBack and sending can't be active at the same "
                                     "time", mbOK | mbHelp, TMsgIcon::Error}}));
}

TEST_F(PacedSend, TheDialogsChoicesAreStoredOnOkAndTheSendStarts) {
  const std::string name = T.Dir.file("lines.txt");
  WriteFileBytes(name, "one\r\n");
  EXPECT_TRUE(Sender.SendAscii([&](TSetupRecord& draft) {
    draft.SendReceiveFileName.assign(name);
    draft.EOL = elCR;
    draft.LineDelay = ldWaitTenths;
    return true;
  }));
  EXPECT_EQ(std::tuple(Settings().SendReceiveFileName.str(), int{Settings().EOL}, int{Settings().LineDelay}),
            std::tuple(name, int{elCR}, int{ldWaitTenths}));
  EXPECT_TRUE(Sending());
  EXPECT_EQ(std::tuple(E().ReceiveKind, E().Direction), std::tuple(0, 0));
  TickToEnd();
  EXPECT_EQ(Wire.Sent, "one\r");
}

TEST_F(PacedSend, ACancelledDialogChangesNothing) {
  Settings().EOL = elNoChange;
  EXPECT_FALSE(Sender.SendAscii([&](TSetupRecord& draft) {
    draft.EOL = elLF;
    return false;
  }));
  EXPECT_EQ(Settings().EOL, elNoChange);
  EXPECT_FALSE(Sending());
  EXPECT_TRUE(T.Desktop.Boxes.empty());
}

TEST_F(PacedSend, AnEmptyFileNameIsRefused) {
  EXPECT_FALSE(Sender.SendAscii([](TSetupRecord& draft) {
    draft.SendReceiveFileName.assign("");
    return true;
  }));
  ASSERT_EQ(T.Desktop.Boxes.size(), 1u);
  EXPECT_EQ(T.Desktop.Boxes[0].Box.Text, "No Send File Name specified\rCorrect in the Setup|Configure|Files");
  EXPECT_EQ(T.Desktop.Boxes[0].Box.Buttons, unsigned(mbOK | mbHelp));
  EXPECT_FALSE(Sending());
  EXPECT_FALSE(E().TransferActive);
}

TEST_F(PacedSend, AMissingFileStartsNothing) {
  Settings().SendReceiveFileName.assign(T.Dir.file("absent.txt"));
  EXPECT_FALSE(Sender.StartFileSend());
  EXPECT_FALSE(Sending());
  EXPECT_FALSE(E().TransferActive);
  EXPECT_TRUE(State.TransfersEnabled);
  ASSERT_EQ(T.Desktop.Boxes.size(), 1u);  // the transfer file's own report
}

}  // namespace
