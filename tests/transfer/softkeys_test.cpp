#include <gtest/gtest.h>

#include <string>

#include "app/session.h"
#include "comms/recordinglines.h"
#include "comms/transmit.h"
#include "log/logfiles.h"
#include "support/testing.h"
#include "terminal/keyboard.h"
#include "transfer/engine.h"

namespace {
// Counts the reads that drain the input.
class TWire : public TRecordingNetworkLine {
 public:
  int Receive(std::uint8_t* buffer, int length) override {
    ++Drains;
    return TRecordingNetworkLine::Receive(buffer, length);
  }
  int Drains = 0;
};

struct SoftKeys : ::testing::Test {
  TWiredSession T;
  TWire Wire;
  TKeyboard& K() { return *T.S->Keyboard; }
  TTransferEngine& E() { return T.Engine(); }
  TSetupRecord& Settings() { return T.Settings(); }
  void SetUp() override { T.Use(Wire); }
  void Define(int key, const std::string& text) { Settings().SoftKeys[key - 1] = text; }
  void TimerTick() { T.S->TimerTick(); }
  void Receive(char c) { T.S->HandleSessionEvent(sekReceivedByte, static_cast<std::uint8_t>(c)); }
};
}  // namespace

TEST(SoftKeyElement, TheLanguageElements) {
  using E = TSoftKeyElement;
  struct TCase {
    const char* Text;
    E::TKind Kind;
    int Value;
    std::size_t Length;
  } cases[] = {
      {"x", E::skChar, 'x', 1},     {"<<", E::skChar, '<', 2},     {"<CR>", E::skCR, 0, 4},
      {"<cr>", E::skCR, 0, 4},      {"<Cx>z", E::skCR, 0, 4},      {"<P:20>", E::skPause, 20, 6},
      {"<p-5>", E::skPause, 5, 5},  {"<P:14H>", E::skPause, 20, 7}, {"<W:13>", E::skWait, 13, 6},
      {"<W:x>", E::skWait, 'x', 5}, {"<w:100>", E::skWait, '1', 7}, {"<W:0DH>", E::skWait, '0', 7},
      {"<W:1H>", E::skWait, 1, 6},  {"<65>", E::skCode, 65, 4},     {"<41H>", E::skCode, 65, 5},
      {"<300>", E::skInvalid, 0, 5}, {"<P:zz>", E::skInvalid, 0, 6}, {"<abc>", E::skInvalid, 0, 5},
      {"<", E::skChar, '<', 1},     {"<P:2", E::skChar, '<', 1},
  };
  for (const TCase& c : cases) {
    const E e = ParseSoftKeyElement(c.Text, 0);
    EXPECT_EQ(e.Kind, c.Kind) << c.Text;
    if (c.Kind != E::skInvalid) {
      EXPECT_EQ(e.Value, c.Value) << c.Text;
    }
    EXPECT_EQ(e.Length, c.Length) << c.Text;
  }
}

TEST_F(SoftKeys, ALineWithCrSendsCrLfThenWaitsForTheLfEcho) {
  Define(1, "ls<CR>pwd");
  Settings().NewLine = 1;
  Settings().MaxEchoDelay = 6;
  K().StartSoftKey(1);
  TimerTick();
  EXPECT_EQ(Wire.Sent, "ls\r\n");
  EXPECT_EQ(E().AwaitedEcho, '\n');
  TimerTick();
  EXPECT_EQ(Wire.Sent, "ls\r\n");
  Receive('\r');  // not yet
  EXPECT_EQ(Wire.Sent, "ls\r\n");
  Receive('\n');  // the echo lets the sender go on at once
  EXPECT_EQ(Wire.Sent, "ls\r\npwd");
  TimerTick();
  EXPECT_EQ(K().SoftKeyNumber, 0);
  EXPECT_FALSE(E().Activities & acSoftKey);

  // Without New Line the CR's echo is awaited.
  Define(2, "a<cr>b");
  Settings().NewLine = 0;
  Wire.Sent.clear();
  K().StartSoftKey(2);
  TimerTick();
  EXPECT_EQ(Wire.Sent, "a\r");
  EXPECT_EQ(E().AwaitedEcho, '\r');
  for (int i = 0; i < 6; ++i) TimerTick();  // the echo never comes: the wait runs out
  EXPECT_EQ(Wire.Sent, "a\rb");
}

TEST_F(SoftKeys, APauseOfTwentyLastsTwoSecondsUnlessAKeyIsPressed) {
  Define(3, "a<P:20>b");
  K().StartSoftKey(3);
  TimerTick();
  EXPECT_EQ(Wire.Sent, "a");
  for (int i = 0; i < 19; ++i) TimerTick();
  EXPECT_EQ(Wire.Sent, "a");
  TimerTick();
  EXPECT_EQ(Wire.Sent, "ab");

  Wire.Sent.clear();
  K().StartSoftKey(3);
  TimerTick();
  TimerTick();
  T.S->HandleSessionEvent(sekKey, TKeyEvent{TKeyEvent::keVirtual, vkF13}.Payload());  // a key that sends nothing
  TimerTick();
  EXPECT_EQ(Wire.Sent, "ab");
}

TEST_F(SoftKeys, TheKeyThatStartsASoftKeyDoesNotCutItsFirstPause) {
  Define(4, "<P:5>x");
  T.S->HandleSessionEvent(sekKey, TKeyEvent{TKeyEvent::keVirtual, vkF1}.Payload());  // F1 pressed
  K().StartSoftKey(4);
  TimerTick();
  TimerTick();
  EXPECT_EQ(Wire.Sent, "");
}

TEST_F(SoftKeys, WaitElements) {
  Define(5, "<W:13>a<W:x>b<W:100>c");
  K().StartSoftKey(5);
  TimerTick();
  EXPECT_EQ(E().AwaitedEcho, 13);
  Receive('\r');
  EXPECT_EQ(Wire.Sent, "a");
  EXPECT_EQ(E().AwaitedEcho, 'x');
  Receive('x');
  EXPECT_EQ(Wire.Sent, "ab");
  EXPECT_EQ(E().AwaitedEcho, '1');
  Receive('1');
  EXPECT_EQ(Wire.Sent, "abc");
}

// Codes in decimal and hexadecimal (an ESC among them goes out without
// stopping the key), the doubled angle, and an invalid code sent as nothing.
TEST_F(SoftKeys, CodesAndTheDoubledAngle) {
  Define(6, "<65><41H><<<300><0>");
  Define(9, "<27>[2J");
  K().StartSoftKey(6);
  TimerTick();
  K().StartSoftKey(9);
  TimerTick();
  EXPECT_EQ(Wire.Sent, std::string("AA<\0", 4) + "\x1b[2J");
}

TEST_F(SoftKeys, WaitForEchoAndSoftKeyDelayPaceEachCharacter) {
  Define(7, "abc");
  Settings().SoftkeyEcho = 1;
  K().StartSoftKey(7);
  TimerTick();
  EXPECT_EQ(Wire.Sent, "a");
  Receive('a');
  EXPECT_EQ(Wire.Sent, "ab");

  Settings().SoftkeyEcho = 0;
  Settings().SoftKeyDelay = 3;
  Wire.Sent.clear();
  K().StartSoftKey(7);
  TimerTick();
  EXPECT_EQ(Wire.Sent, "a");
  TimerTick();
  TimerTick();
  EXPECT_EQ(Wire.Sent, "a");
  TimerTick();
  EXPECT_EQ(Wire.Sent, "ab");
}

TEST_F(SoftKeys, ShiftAndCtrlKeysAndAnEmptyKey) {
  Settings().ShiftSoftKeys[0] = "s";
  Settings().CntrlSoftKeys[11] = "c";
  K().StartSoftKey(13);
  TimerTick();
  K().StartSoftKey(36);
  TimerTick();
  EXPECT_EQ(Wire.Sent, "sc");
  K().StartSoftKey(8);  // empty
  TimerTick();
  EXPECT_FALSE(E().Activities & acSoftKey);
}

TEST_F(SoftKeys, ATypedEscapeRunsTheEscapeAction) {
  Define(10, "a<P:50>b");
  K().StartSoftKey(10);
  TimerTick();
  T.S->Files->BackgroundLogName = T.Dir.file("QELWIN.BGL");
  Settings().BackgroundLogging = 1;
  T.S->Files->StartBackgroundLog();
  Settings().EscFlush = 1;
  K().TypedLine = "DIS";
  K().SendCharacter(27);
  EXPECT_EQ(Wire.Sent, "a\x1b");
  EXPECT_EQ(K().SoftKeyNumber, 0);
  EXPECT_FALSE(E().Activities & acSoftKey);
  EXPECT_FALSE(T.S->Files->BackgroundRecording);
  EXPECT_TRUE(K().TypedLine.empty());
  EXPECT_EQ(Wire.Drains, 1);  // "Esc Flushes Inbuffer"
}

TEST_F(SoftKeys, EscStopsTheQueuedStringButNotThePasteSend) {
  Settings().SoftKeyDelay = 5;
  T.S->Transmit->QueueSendString("xyz");
  TimerTick();
  EXPECT_EQ(Wire.Sent, "x");
  int pasteTicks = 0;
  E().PasteSender = [&] { ++pasteTicks; };
  E().Activities |= acPasteSend;
  K().SendCharacter(27);
  EXPECT_EQ(Wire.Sent, "x\x1b");
  EXPECT_TRUE(E().SendQueue.empty());
  EXPECT_FALSE(E().Activities & acQueuedString);
  EXPECT_TRUE(E().Activities & acPasteSend);
  for (int i = 0; i < 10; ++i) TimerTick();
  EXPECT_EQ(Wire.Sent, "x\x1b");  // "yz" is never sent
  EXPECT_EQ(pasteTicks, 10);
}

// ----------------------------------------------------------- character rules

TEST_F(SoftKeys, TheQuorixCommandLineKeepsHistoryAndOffersLocalCommands) {
  std::vector<std::string> offered;
  K().OfferLocalCommand = [&](const std::string& line) {
    offered.push_back(line);
    return line == "LOFF";
  };
  for (char c : std::string("LOFX\bF\r")) K().SendCharacter(static_cast<std::uint8_t>(c));
  EXPECT_EQ(offered, std::vector<std::string>{"LOFF"});
  EXPECT_EQ(Wire.Sent, "LOFX\x7f" "F");  // the consumed Enter is not sent
  EXPECT_EQ(K().History[0], "LOFF");
  EXPECT_EQ(K().HistoryIndex, 2);
  for (char c : std::string("DIS\r")) K().SendCharacter(static_cast<std::uint8_t>(c));
  EXPECT_EQ(Wire.Sent, "LOFX\x7f" "FDIS\r\n");
  EXPECT_TRUE(K().TypedLine.empty());
  K().SendCharacter('x');
  K().SendCharacter(3);  // other control characters empty the line
  EXPECT_TRUE(K().TypedLine.empty());
}

TEST_F(SoftKeys, TypedAndStoredLinesStopAtEightyCharacters) {
  for (int i = 0; i < 90; ++i) K().SendCharacter('a');
  EXPECT_EQ(K().TypedLine.size(), 80u);
  K().StoreInHistory(std::string(100, 'x'));
  EXPECT_EQ(K().History[0].size(), 80u);
}
