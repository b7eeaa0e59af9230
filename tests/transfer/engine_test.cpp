#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "app/session.h"
#include "comms/recordinglines.h"
#include "comms/transmit.h"
#include "log/errors.h"
#include "log/logfiles.h"
#include "support/testing.h"
#include "terminal/keyboard.h"
#include "transfer/engine.h"

namespace {
struct Engine : ::testing::Test {
  TWiredSession T;
  TRecordingNetworkLine& Wire = T.Wire;
  std::string& Screen = T.Shown;  // bytes the dispatcher handed to the screen path
  TTransferEngine& E() { return T.Engine(); }
  TSetupRecord& Settings() { return T.Settings(); }
  void Receive(const std::string& bytes) { T.Receive(bytes); }
  void Tick() { T.S->HandleSessionEvent(sekTick); }
  void TimerTick() { T.S->TimerTick(); }
};
}  // namespace

// ------------------------------------------------------------ timers and tick

TEST_F(Engine, TheTickRunsItsWorkersInOrder) {
  std::vector<std::string> ran;
  E().FileSender = [&] { ran.push_back("file"); };
  E().SimulateWorker = [&] { ran.push_back("simulate"); };
  E().PlaybackWorker = [&] { ran.push_back("playback"); };
  E().PasteSender = [&] { ran.push_back("paste send"); };
  E().PasteReceiver = [&] { ran.push_back("paste receive"); };
  E().TraceLineFlush = [&] { ran.push_back("trace"); };
  E().Activities = acPasteReceive | acPasteSend | acPlayback | acSimulate | acFileSend;
  Tick();
  EXPECT_EQ(ran, (std::vector<std::string>{"trace", "file", "simulate", "playback", "paste send", "paste receive"}));

  ran.clear();
  E().Activities = acFileSend;
  E().Timers[tmTraceLine] = 3;  // the decoder's line timer still runs
  Tick();
  EXPECT_EQ(ran, std::vector<std::string>{"file"});
}

TEST_F(Engine, AQueuedStringTakesTheWholeTick) {
  int fileTicks = 0;
  E().FileSender = [&] { ++fileTicks; };
  E().Activities = acFileSend;
  E().QueueSendString("ab");
  Tick();
  EXPECT_EQ(Wire.Sent, "ab");
  EXPECT_EQ(fileTicks, 0);  // nothing else runs in this tick
  EXPECT_FALSE(E().Activities & acQueuedString);  // found empty within the budget
  Tick();
  EXPECT_EQ(fileTicks, 1);
}

TEST_F(Engine, NothingRunsUnderAnErrorBoxOrWhileTicksAreSkipped) {
  E().QueueSendString("x");
  T.Desktop.OnShow = [&](const TMessageBox&) { Tick(); };
  T.S->Errors->ReportError(ekMessage, 0, "box");
  EXPECT_EQ(Wire.Sent, "");
  E().TickSkip = 2;
  Tick();
  Tick();
  EXPECT_EQ(Wire.Sent, "");
  Tick();
  EXPECT_EQ(Wire.Sent, "x");
}

// ------------------------------------------------------------ queued strings

TEST_F(Engine, QueuedStringsFollowTheEndOfLineSetting) {
  struct TCase {
    int Eol;
    std::string Text;
    std::string Sent;
  } cases[] = {
      {1, "A\r\nB", "A\n\nB"},  // the CR becomes LF, the LF after it is sent again
      {3, "A\n\rB", "A\r\nB"},  // a pair is taken whole
  };
  for (const TCase& c : cases) {
    Wire.Sent.clear();
    Settings().EOL = static_cast<std::uint8_t>(c.Eol);
    E().QueueSendString(c.Text);
    Tick();
    EXPECT_EQ(Wire.Sent, c.Sent) << "EOL " << c.Eol << " text " << c.Text;
    EXPECT_TRUE(E().SendQueue.empty());
  }
}

TEST_F(Engine, QueuedStringsSendThePerTickBudget) {
  T.S->Transmit->CharsPerTick = 5;
  E().QueueSendString("0123456789AB");
  Tick();
  EXPECT_EQ(Wire.Sent, "01234");
  Tick();
  EXPECT_EQ(Wire.Sent, "0123456789");
}

TEST_F(Engine, SoftKeyDelayPacesCharactersAndLines) {
  Settings().SoftKeyDelay = 2;
  E().QueueSendString("ab\rc");
  Tick();
  EXPECT_EQ(Wire.Sent, "a");
  EXPECT_EQ(E().Timers[tmCharDelay], 2);
  TimerTick();
  EXPECT_EQ(Wire.Sent, "a");
  TimerTick();
  EXPECT_EQ(Wire.Sent, "ab");
  TimerTick();
  TimerTick();
  EXPECT_EQ(Wire.Sent, "ab\r");
  EXPECT_EQ(E().Timers[tmLineDelay], 2);  // a line end starts the line delay
  TimerTick();
  TimerTick();
  EXPECT_EQ(Wire.Sent, "ab\rc");
}

TEST_F(Engine, WaitForEchoSendsOneCharacterPerEcho) {
  Settings().SoftkeyEcho = 1;
  Settings().MaxEchoDelay = 6;
  E().QueueSendString("abc");
  Tick();
  EXPECT_EQ(Wire.Sent, "a");
  EXPECT_EQ(E().AwaitedEcho, 'a');
  Receive("x");  // not the echo
  EXPECT_EQ(Wire.Sent, "a");
  Receive("a");  // the echo sends the next one at once
  EXPECT_EQ(Wire.Sent, "ab");
  EXPECT_EQ(Screen, "xa");  // echoes are shown as well
  for (int i = 0; i < 6; ++i) TimerTick();  // no echo: the wait runs out
  EXPECT_EQ(Wire.Sent, "abc");
}

TEST_F(Engine, AZeroMaxEchoDelayMeansNoWait) {
  Settings().SoftkeyEcho = 1;
  Settings().MaxEchoDelay = 0;
  E().QueueSendString("abc");
  Tick();
  EXPECT_EQ(Wire.Sent, "abc");
}

// ------------------------------------------------------------ the dispatcher

TEST_F(Engine, PlainBytesGoToTheScreenPath) {
  EXPECT_FALSE(E().PassesThrough());  // the override watches every byte
  const std::string bytes = "hi\x1b[m";
  T.S->ReceiveBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  EXPECT_EQ(Screen, bytes);
  E().ScreenPathOverride = nullptr;
  EXPECT_TRUE(E().PassesThrough());
  E().Timers[tmEcho] = 1;  // an echo wait must see each byte
  EXPECT_FALSE(E().PassesThrough());
}

TEST_F(Engine, TheCaptureRecordsReceivedBytesEvenWhileReplaying) {
  ASSERT_TRUE(T.S->Files->StartEscapeLog());
  EXPECT_FALSE(E().PassesThrough());
  E().Activities = acSimulate;
  Receive("ab");
  EXPECT_EQ(T.S->Files->CaptureCount(), 2u);
  EXPECT_EQ(Screen, "");  // live data is dropped while a file is replayed
  T.S->Files->StopEscapeLog();
}

TEST_F(Engine, ThePadsPromptWatchSkipsTheBackgroundLog) {
  T.S->Files->BackgroundLogName = T.Dir.file("QELWIN.BGL");
  Settings().BackgroundLogging = 1;
  T.S->Files->StartBackgroundLog();
  int stopped = 0;
  E().PadsPrompt.Collecting = true;
  E().PadsPrompt.StopPadsReceive = [&] { ++stopped; };
  // Whether it still collects, the prompt it took and the receives it stopped.
  const auto watch = [&] { return std::tuple(E().PadsPrompt.Collecting, E().PadsPrompt.Text, stopped); };
  Receive("  PASSWORD:\x03");
  EXPECT_EQ(watch(), std::tuple(true, "PASSWORD:", 0));
  E().PadsPrompt.Text.clear();
  Receive("LOGIN\r\n\x03");
  EXPECT_EQ(watch(), std::tuple(false, "LOGIN", 1));
  EXPECT_EQ(Screen, "  PASSWORD:\x03LOGIN\r\n\x03");
  T.S->Files->CloseBackgroundLog();
  EXPECT_EQ(ReadFileBytes(T.Dir.file("QELWIN.BGL")), "");
}

TEST_F(Engine, ATraceCaptureFillsTheRingAndNotTheScreen) {
  E().TransferActive = true;
  E().ReceiveKind = rkCapture;
  EXPECT_FALSE(E().PassesThrough());
  Receive(std::string(4095, 'a'));
  Receive("bc");
  // Wrapped after 4095.
  const auto& ring = E().CaptureRing;
  EXPECT_EQ(std::tuple(ring.Count, ring.WriteIndex, ring.Bytes[4095], ring.Bytes[0]), std::tuple(4097, 1, 'b', 'c'));
  EXPECT_EQ(Screen, "");
}

TEST_F(Engine, HostInitiatedTransfersRouteBytesNowhere) {
  E().TransferActive = true;
  E().ReceiveKind = rkHostOther;
  Receive("xyz");
  EXPECT_EQ(Screen, "");
  EXPECT_EQ(E().CaptureRing.Count, 0);
}
