// Socket receive: reads of up to 8192 bytes per notification, system
// messages let run every 101 bytes, another read for every notification that
// came meanwhile, and data left in the socket while a box is up or the
// screen is held.
#include <gtest/gtest.h>

#include "app/handover_support.h"
#include "log/errors.h"

namespace {

TEST(HandoverSocket, EachNotificationReadsOneChunkAndLetsSystemMessagesRun) {
  THandoverFixture f;
  std::vector<int> delivered;
  f.Desktop.DeliverOnProcess = true;
  f.Desktop.Handler = [&](const TPostedMessage& m) { delivered.push_back(m.Message); };
  f.Desktop.PostMessage(wmWriteToolBar, 0, 0);
  f.Network.Waiting = Pattern(8192 + 300);

  f.Handover.QelSocketDataAvailable();
  EXPECT_EQ(f.Network.ReceiveLengths, std::vector<int>{8192});
  EXPECT_EQ(f.Shown, Pattern(8192));
  EXPECT_EQ(f.Desktop.PendingPumps, 81);  // 8192 bytes, one pass per 101
  EXPECT_TRUE(delivered.empty());         // user messages stay queued meanwhile
  EXPECT_EQ(f.Handover.SocketRxDepth, 0);

  f.Handover.QelSocketDataAvailable();
  EXPECT_EQ(f.Shown, Pattern(8192 + 300));
  EXPECT_EQ(f.Desktop.PendingPumps, 83);
}

TEST(HandoverSocket, WhileNoPumpIsDueLongerRunsGoThroughInOrder) {
  THandoverFixture f;
  f.Desktop.PumpsWanted = false;
  f.Network.Waiting = Pattern(8192);
  f.Handover.QelSocketDataAvailable();
  EXPECT_EQ(f.Shown, Pattern(8192));
  // Runs of 4096: the pass after each would have done nothing, and is still asked for.
  EXPECT_EQ(f.Desktop.PendingPumps, 2);
}

TEST(HandoverSocket, ANotificationDuringTheLoopMakesItReadAgain) {
  THandoverFixture f;
  f.Network.Waiting = "abc";
  bool notified = false;
  f.S.Transfer->ScreenPathOverride = [&](std::uint8_t c) {
    f.Shown.push_back(static_cast<char>(c));
    if (notified) return;
    notified = true;
    f.Network.Waiting += "def";
    f.Handover.QelSocketDataAvailable();  // delivered by a pass of the loop
  };
  f.Handover.QelSocketDataAvailable();
  EXPECT_EQ(f.Shown, "abcdef");
  EXPECT_EQ(f.Network.ReceiveLengths.size(), 2u);
  EXPECT_EQ(f.Handover.SocketRxDepth, 0);
}

TEST(HandoverSocket, NothingToReadOrTheOrderlyEndStopsTheLoop) {
  THandoverFixture f;
  f.Handover.QelSocketDataAvailable();
  EXPECT_EQ(f.Network.ReceiveLengths.size(), 1u);
  f.Network.Closed = true;
  f.Handover.QelSocketDataAvailable();
  EXPECT_EQ(f.Network.ReceiveLengths.size(), 2u);
  EXPECT_EQ(f.Handover.SocketRxDepth, 0);
  EXPECT_EQ(f.Shown, "");
}

TEST(HandoverSocket, HeldScreenLeavesTheDataInTheSocketUntilReleased) {
  THandoverFixture f;
  f.Handover.HoldScreenOn();
  f.Network.Waiting = "held ";
  f.Handover.QelSocketDataAvailable();
  EXPECT_TRUE(f.Network.ReceiveLengths.empty());
  EXPECT_TRUE(f.Handover.SocketDataPending);
  f.Network.Waiting += "and more";

  f.Handover.ReleaseHold();
  EXPECT_EQ(f.Queued(wmSocketReceive), 1);
  f.Desktop.Pump();
  EXPECT_EQ(f.Shown, "held and more");
  // The message that reads again reads even while the screen is held.
  f.Handover.HoldScreenOn();
  f.Network.Waiting = "x";
  f.Desktop.PostMessage(wmSocketReceive, 0, 0);
  f.Desktop.Pump();
  EXPECT_EQ(f.Shown, "held and morex");
}

}  // namespace
