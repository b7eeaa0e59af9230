// Coming back after a drop: the waits double from the first one up to ten
// minutes, attempts stop at the limit, a session that never came up or a
// failure no attempt can mend is left alone, and the user's own commands end
// it. The main form's side: the drop is a line on the screen instead of a box,
// and the countdown is in the status bar.
#include <gtest/gtest.h>

#include "app/connectionsettings.h"
#include "app/mainform.h"
#include "app/reconnect.h"
#include "comms/lines.h"
#include "comms/transmit.h"
#include "app/session.h"
#include "screen/store.h"
#include "support/fakelines.h"
#include "support/testing.h"

namespace {
struct Reconnect : ::testing::Test {
  TConnectionSettings Settings;
  TReconnect R{Settings};
  std::vector<int> Opened;
  void SetUp() override {
    Settings.Reconnect = 1;
    Settings.ReconnectDelay = 2;
    Settings.ReconnectLimit = 3;
    R.Open = [this](int kind) { Opened.push_back(kind); };
  }
  // Runs the timer until an attempt is made; the ticks it took.
  int TicksToNextAttempt() {
    const std::size_t before = Opened.size();
    for (int ticks = 1; ticks <= 100000; ++ticks) {
      R.Tick();
      if (Opened.size() > before) return ticks;
    }
    return -1;
  }
};
}  // namespace

TEST_F(Reconnect, WaitsDoubleFromTheFirstUpToTenMinutesAndStopAtTheLimit) {
  R.SessionUp(ckSecure);
  ASSERT_TRUE(R.SessionLost(ckSecure, "Connection reset by peer"));
  EXPECT_EQ(R.PanelText(), "RECON 2s");
  EXPECT_EQ(TicksToNextAttempt(), 20);
  EXPECT_EQ(R.PanelText(), "RECON...");
  ASSERT_TRUE(R.SessionLost(ckSecure, "Connection refused"));
  EXPECT_EQ(R.Description(), "reconnecting in 4 s (attempt 2 of 3)");
  EXPECT_EQ(TicksToNextAttempt(), 40);
  ASSERT_TRUE(R.SessionLost(ckSecure, "Connection refused"));
  EXPECT_EQ(TicksToNextAttempt(), 80);
  EXPECT_FALSE(R.SessionLost(ckSecure, "Connection refused")) << "three attempts made";
  EXPECT_EQ(R.PanelText(), "");
  EXPECT_EQ(Opened, (std::vector<int>{ckSecure, ckSecure, ckSecure}));
  // The wait stops growing at ten minutes.
  Settings.ReconnectDelay = 100;
  for (const auto& [attempt, wait] : {std::pair{1, 100}, {3, 400}, {4, 600}, {60, 600}}) {
    EXPECT_EQ(R.WaitBefore(attempt), wait) << attempt;
  }
}

TEST_F(Reconnect, ASessionThatComesUpStartsTheCountAgain) {
  R.SessionUp(ckNetwork);
  ASSERT_TRUE(R.SessionLost(ckNetwork, "Session Closed!"));
  TicksToNextAttempt();
  R.SessionUp(ckNetwork);
  ASSERT_TRUE(R.SessionLost(ckNetwork, "Session Closed!"));
  EXPECT_EQ(R.SecondsLeft(), 2) << "the first wait again";
}

TEST_F(Reconnect, NothingHappensWhenOffOrForASessionThatNeverCameUp) {
  EXPECT_FALSE(R.SessionLost(ckSecure, "Connection refused")) << "the user's own attempt failed";
  R.SessionUp(ckSecure);
  Settings.Reconnect = 0;
  EXPECT_FALSE(R.SessionLost(ckSecure, "Session Closed!"));
  EXPECT_EQ(TicksToNextAttempt(), -1);
}

TEST_F(Reconnect, KeyAndAuthenticationFailuresEndIt) {
  for (const char* reason : {"host key verification failed: ...", "WARNING: REMOTE HOST IDENTIFICATION HAS CHANGED!",
                             "authentication failed for eng@host: Permission denied (publickey)"}) {
    R.SessionUp(ckSecure);
    ASSERT_TRUE(R.SessionLost(ckSecure, "Connection reset by peer"));
    TicksToNextAttempt();
    EXPECT_FALSE(R.SessionLost(ckSecure, reason)) << reason;
    EXPECT_FALSE(R.Waiting());
  }
}

TEST_F(Reconnect, TheUsersCommandEndsTheWaitAndAnAttemptWithoutAnswerCountsAsFailed) {
  R.SessionUp(ckNetwork);
  ASSERT_TRUE(R.SessionLost(ckNetwork, "Session Closed!"));
  R.Cancel();
  EXPECT_EQ(TicksToNextAttempt(), -1);

  R.SessionUp(ckNetwork);
  ASSERT_TRUE(R.SessionLost(ckNetwork, "Session Closed!"));
  TicksToNextAttempt();
  // Neither up nor failed for kAttemptSeconds: the next wait begins.
  for (int i = 0; i <= TReconnect::kAttemptSeconds * 10; ++i) R.Tick();
  EXPECT_TRUE(R.Waiting());
  EXPECT_EQ(R.Attempt(), 1);
}

// ------------------------------------------------------------ main form

namespace {
struct ReconnectForm : ::testing::Test {
  TTestSession T;
  TFakeNetwork Line;
  TMainForm Form{*T.S};
  void SetUp() override {
    T.S->Transmit->Secure = &Line;
    T.S->Connection.Reconnect = 1;
    T.S->Connection.ReconnectDelay = 1;
    T.S->StartUp();
  }
  void Up() {
    Form.ConnectSecure();
    Form.Events.QelSocketSessionConnected();
  }
  bool ScreenShows(const std::string& text) const { return ::ScreenShows(*T.S, text); }
};
}  // namespace

TEST_F(ReconnectForm, ADropIsALineOnTheScreenAndTheStatusBarCountsDown) {
  Up();
  Form.Events.QelSocketErrorOccurred("Connection reset by peer");
  EXPECT_TRUE(T.Desktop.Boxes.empty()) << "no box to hold the data back";
  EXPECT_TRUE(ScreenShows("[*** Connection reset by peer]"));
  EXPECT_TRUE(ScreenShows("[*** reconnecting in 1 s (attempt 1 of 5)]"));
  Form.TimerTick();
  EXPECT_EQ(T.S->Status.Reconnecting, "RECON 1s");
  for (int i = 0; i < 9; ++i) Form.TimerTick();
  EXPECT_EQ(Line.Connects, 2);
  EXPECT_EQ(T.S->Status.Reconnecting, "RECON...");
  Form.Events.QelSocketSessionConnected();
  Form.TimerTick();
  EXPECT_EQ(T.S->Status.Reconnecting, "");
}

TEST_F(ReconnectForm, TheUsersDisconnectIsNoDropAndEndsAWait) {
  Up();
  Form.Events.QelSocketSessionClosed();
  EXPECT_TRUE(Form.Reconnect.Waiting());
  Form.DisconnectNetwork();
  EXPECT_FALSE(Form.Reconnect.Waiting());
  for (int i = 0; i < 50; ++i) Form.TimerTick();
  EXPECT_EQ(Line.Connects, 1);
}

