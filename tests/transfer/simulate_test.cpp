#include "transfer/simulate.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "app/mainform.h"
#include "app/session.h"
#include "log/errors.h"
#include "log/logfiles.h"
#include "screen/store.h"
#include "support/boxes.h"
#include "support/testing.h"
#include "transfer/engine.h"

namespace {

// Host output of a maintenance session: text, colours, cursor moves,
// erasures, scrolling and line drawing, as a recording would hold it.
std::string SessionBytes(unsigned seed, std::size_t pieces) {
  std::mt19937 random(seed);
  const char* kPieces[] = {"\x1b[1m",  "\x1b[0m",  "\x1b[7m",   "\x1b[31m", "\x1b[K",    "\x1b[2J",
                           "\x1b[H",   "\r\n",     "\r\n",      "\t",       "\x1b(0lqk\x1b(B", "\b",
                           "\x1b[5;10H", "\x1b[12;1H", "\x1b[3A", "\x1b[2C"};
  std::string bytes;
  for (std::size_t i = 0; i < pieces; ++i) {
    if (random() % 3 == 0) {
      bytes += kPieces[random() % std::size(kPieces)];
    } else {
      const std::size_t length = 1 + random() % 40;
      for (std::size_t k = 0; k < length; ++k) bytes.push_back(static_cast<char>('A' + random() % 58));
    }
  }
  return bytes;
}

std::string Text(const std::string& text) {
  std::string out = text;
  while (!out.empty() && (out.back() == ' ' || out.back() == '\0')) out.pop_back();
  return out;
}

struct Session {
  TTestSession T;
  TCommandState State;
  TReplay Replay{*T.S, State};
  Session() {
    T.S->StartUp();
    T.S->Files->BackgroundLogName = T.Dir.file("QELWIN.BGL");
  }
  void Push(const std::string& bytes) { PushBytes(*T.S, bytes); }
  // Every store line's text, trailing blanks dropped.
  std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    for (int i = 0; i < T.S->Screen->Count(); ++i) lines.push_back(Text(T.S->Screen->GetLineText(i)));
    return lines;
  }
  int Posted(int message) { return PostedCount(T.Desktop, message); }
  // Ticks until the bit is off; the number of ticks it took.
  int RunUntilOff(TActivity bit, int limit = 100000) {
    int ticks = 0;
    while ((T.S->Transfer->Activities & bit) && ticks < limit) {
      T.S->TimerTick();
      ++ticks;
    }
    return ticks;
  }
};

struct Simulate : ::testing::Test, Session {
  std::string Shown;  // bytes handed to the screen path
  std::vector<int> Progress;
  std::string FileName;
  void SetUp() override {
    FileName = T.Dir.file("trace.sim");
    Replay.AskSimulateFile = [this](const std::string&) { return std::optional<std::string>(FileName); };
    Replay.OnStateChanged = [this] { Progress.push_back(State.GaugeProgress); };
  }
  void Watch() {
    T.S->Transfer->ScreenPathOverride = [this](std::uint8_t c) { Shown.push_back(static_cast<char>(c)); };
  }
  TTransferEngine& E() { return *T.S->Transfer; }
  const std::vector<TScriptedDesktop::TRecordedBox>& Boxes() { return T.Desktop.Boxes; }
  std::vector<std::string> Texts() { return BoxTexts(T.Desktop); }
  void StartSimulateOf(const std::string& bytes) {
    WriteFileBytes(FileName, bytes);
    Replay.StartSimulate();
  }
};

// ------------------------------------------------------------- simulate

TEST_F(Simulate, HandsTheFileOn256BytesATickAndEndsWithTheNotification) {
  const std::string bytes = SessionBytes(1, 60).substr(0, 600);
  ASSERT_EQ(bytes.size(), 600u);
  WriteFileBytes(FileName, bytes);
  Watch();
  Replay.StartSimulate();
  EXPECT_TRUE(E().Activities & acSimulate);
  EXPECT_FALSE(State.TransfersEnabled);
  EXPECT_TRUE(State.GaugeVisible);
  EXPECT_EQ(State.GaugeMax, 600);
  const std::size_t expected[] = {256, 512, 600};
  for (std::size_t shown : expected) {
    T.S->TimerTick();
    EXPECT_EQ(Shown.size(), shown);
    EXPECT_EQ(T.Desktop.Posted.size(), 0u);
  }
  T.S->TimerTick();  // nothing more: the end
  EXPECT_FALSE(E().Activities & acSimulate);
  EXPECT_FALSE(Replay.SimulateActive());
  EXPECT_EQ(Posted(wmTransferEnded), 1);
  EXPECT_EQ(Shown, bytes);
  // The gauge stood at the file position before each read.
  EXPECT_EQ(Progress, (std::vector<int>{0, 0, 256, 512, 600}));
}

TEST_F(Simulate, AnEmptyFileEndsOnTheFirstTick) {
  StartSimulateOf("");
  T.S->TimerTick();
  EXPECT_FALSE(E().Activities & acSimulate);
  EXPECT_EQ(Posted(wmTransferEnded), 1);
}

TEST_F(Simulate, StartingAgainRestartsFromTheStartOfTheNewFile) {
  Watch();
  StartSimulateOf(std::string(1000, 'a'));
  T.S->TimerTick();
  FileName = T.Dir.file("second.sim");
  StartSimulateOf("second file");
  RunUntilOff(acSimulate);
  EXPECT_EQ(Shown, std::string(256, 'a') + "second file");
  EXPECT_EQ(T.S->Settings.SimulateFileName.str(), FileName);
}

TEST_F(Simulate, ItsRefusalsAndFailuresShowTheirTexts) {
  FileName.clear();
  Replay.StartSimulate();
  EXPECT_EQ(Texts(), std::vector<std::string>{"No Simulate File Name specified\rCorrect in the Setup|Configure|Files"});
  EXPECT_EQ(Boxes().back().Box.Buttons, unsigned(mbOK | mbHelp));

  FileName = T.Dir.file("missing.sim");
  Replay.StartSimulate();
  ASSERT_EQ(Boxes().size(), 2u);
  EXPECT_EQ(Boxes()[1].Box.Text.rfind("File access error. File = Simulate File. Correct Filename in the Setup Menu.\r"
                                      "Error = The system cannot find the file specified.", 0),
            0u)
      << Boxes()[1].Box.Text;
  EXPECT_FALSE(Replay.SimulateActive());
  EXPECT_FALSE(E().Activities & acSimulate);
  EXPECT_TRUE(State.TransfersEnabled);

  // The dialog cancelled: nothing at all.
  Replay.AskSimulateFile = [](const std::string&) { return std::nullopt; };
  Replay.StartSimulate();
  EXPECT_EQ(Boxes().size(), 2u);
}

TEST_F(Simulate, AFailedRestartEndsTheRunningSimulationForTheWindow) {
  StartSimulateOf(std::string(1000, 'a'));
  FileName = T.Dir.file("missing.sim");
  Replay.StartSimulate();
  EXPECT_FALSE(Replay.SimulateActive());
  EXPECT_EQ(Posted(wmTransferEnded), 1);
}

TEST_F(Simulate, AReadErrorEndsItLikeTheEnd) {
  FileName = "/proc/self/mem";  // opens, but reading its address 0 fails
  Replay.StartSimulate();
  ASSERT_TRUE(Replay.SimulateActive());
  T.S->TimerTick();
  EXPECT_FALSE(Replay.SimulateActive());
  EXPECT_EQ(Posted(wmTransferEnded), 1);
}

TEST_F(Simulate, LiveBytesAreDroppedAndNotRecordedWhileItRuns) {
  T.S->Settings.BackgroundLogging = 1;
  T.S->Files->StartBackgroundLog();
  Watch();
  StartSimulateOf("from the file");
  Push("live");
  EXPECT_EQ(Shown, "");
  RunUntilOff(acSimulate);
  Push("after");
  T.S->Files->CloseBackgroundLog();
  EXPECT_EQ(Shown, "from the fileafter");
  EXPECT_EQ(ReadFileBytes(T.S->Files->BackgroundLogName), "after");
}

TEST_F(Simulate, CancelClosesTheFileWithoutTheNotification) {
  Watch();
  StartSimulateOf(std::string(1000, 'a'));
  T.S->TimerTick();
  TMainForm form(*T.S);
  form.CancelTransfer();
  Replay.Cancel();
  EXPECT_FALSE(Replay.SimulateActive());
  T.S->TimerTick();
  EXPECT_EQ(Shown.size(), 256u);
  EXPECT_EQ(Posted(wmTransferEnded), 0);
}

// qel replay shows a recording as a live session does: the same screen from
// a simulate is the simulate's test against the live one.
TEST_F(Simulate, QelReplayShowsARecordingAsSimulateDoes) {
  StartSimulateOf(SessionBytes(13, 1500));
  RunUntilOff(acSimulate);
  const TQelRun run = RunQel(T.Dir, "replay --scrollback " + ShellQuoted(FileName));
  ASSERT_EQ(run.Status, 0) << run.Err;
  std::string expected;
  for (const std::string& line : Lines()) expected += line + "\n";
  EXPECT_EQ(run.Out, expected);
}

// ------------------------------------------------------------- playback

struct Playback : Simulate {
  void Record(const std::string& bytes) {
    T.S->Settings.BackgroundLogging = 1;
    T.S->Files->StartBackgroundLog();
    Push(bytes);
  }
};

TEST_F(Playback, ReplaysWhatWasJustRecordedAndThenRecordsAgain) {
  Record("recorded");  // still in the buffer when playback starts
  Watch();
  Replay.StartPlayback();
  EXPECT_TRUE(E().Activities & acPlayback);
  EXPECT_EQ(State.GaugeMax, 8);
  Push("dropped");
  RunUntilOff(acPlayback);
  EXPECT_EQ(Shown, "recorded");
  EXPECT_EQ(Posted(wmTransferEnded), 1);
  // Recording goes on at the end of the log.
  EXPECT_TRUE(T.S->Files->BackgroundRecording);
  Push("more");
  T.S->Files->CloseBackgroundLog();
  EXPECT_EQ(ReadFileBytes(T.S->Files->BackgroundLogName), "recordedmore");
}

// Refused while simulating and outside Quorix; and simulate is refused while it runs.
TEST_F(Playback, RefusalsEachWay) {
  StartSimulateOf("x");
  Replay.StartPlayback();
  EXPECT_FALSE(E().Activities & acPlayback);
  RunUntilOff(acSimulate);
  T.S->Settings.Emulation = emVT100;
  Replay.StartPlayback();
  EXPECT_FALSE(T.S->Files->PlaybackActive);
  T.S->Settings.Emulation = emQuorix;
  Record(std::string(2000, 'p'));
  Replay.StartPlayback();
  Replay.StartSimulate();
  EXPECT_FALSE(Replay.SimulateActive());
  EXPECT_EQ(Texts(), (std::vector<std::string>{
                         "Simulate is already active\rSimulate and Replay can't be active at the same time",
                         "Option only for Terminal Type = QUORIX\rChange in SETUP|CONFIGURE|DISPLAY|EMULATION",
                         "Replay is already active\rSimulate and Replay can't be active at the same time"}));
}

TEST_F(Playback, NoLogToReplayGivesTheOpenFailure) {
  Replay.StartPlayback();
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_NE(Boxes()[0].Box.Text.find("The file = Back ground logging file ( QELWIN.BGL )"), std::string::npos);
  EXPECT_FALSE(E().Activities & acPlayback);
  EXPECT_FALSE(T.S->Files->PlaybackActive);
  EXPECT_TRUE(State.TransfersEnabled);
}

TEST_F(Playback, CancelStopsItAndRecordingResumes) {
  Record(std::string(2000, 'p'));
  Watch();
  Replay.StartPlayback();
  T.S->TimerTick();
  Replay.Cancel();
  EXPECT_FALSE(E().Activities & acPlayback);
  EXPECT_FALSE(T.S->Files->PlaybackActive);
  EXPECT_TRUE(T.S->Files->BackgroundRecording);
  EXPECT_EQ(Posted(wmTransferEnded), 0);
  Push("q");
  T.S->Files->CloseBackgroundLog();
  EXPECT_EQ(ReadFileBytes(T.S->Files->BackgroundLogName), std::string(2000, 'p') + "q");
}

// The background log holds exactly the bytes received, and its playback in a
// fresh session gives the live session's screen and scroll-back.
TEST_F(Playback, TheLogHoldsTheBytesReceivedAndItsPlaybackTheLiveScreen) {
  const std::string bytes = SessionBytes(9, 4000) + std::string("\x00\x1a\xff\x7f", 4);
  Session live;
  live.T.S->Settings.BackgroundLogging = 1;
  live.T.S->Files->StartBackgroundLog();
  live.Push(bytes);
  live.T.S->Files->CloseBackgroundLog();
  const std::string log = ReadFileBytes(live.T.S->Files->BackgroundLogName);
  ASSERT_EQ(log, bytes);

  WriteFileBytes(T.S->Files->BackgroundLogName, log);
  Replay.StartPlayback();
  const int ticks = RunUntilOff(acPlayback);
  EXPECT_EQ(ticks, static_cast<int>((bytes.size() + 255) / 256 + 1));
  EXPECT_EQ(Lines(), live.Lines());
}

TEST_F(Playback, AFullDiskClosesTheRecordingSilentlyAndTheSessionGoesOn) {
  T.S->Settings.BackgroundLogging = 1;
  T.S->Files->StartBackgroundLog();
  T.S->Files->Faults.ShortWrite = 100;
  Push(std::string(TLogFiles::kBackgroundBufferSize + 10, 'b'));
  EXPECT_FALSE(T.S->Files->BackgroundRecording);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(ReadFileBytes(T.S->Files->BackgroundLogName), std::string(100, 'b'));
  Push("\x1b[H\x1b[2Jgoes on");
  EXPECT_EQ(ScreenRow(*T.S, 1), "goes on");
}

}  // namespace
