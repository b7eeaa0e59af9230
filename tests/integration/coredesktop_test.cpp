// The headless desktop on a real QtCore event loop: posted messages in
// order, removal, posting from the serial event thread, pumps that leave
// user messages queued, and waits that keep the loop running.
#include <gtest/gtest.h>

#include <thread>

#include "integration/integration_support.h"

namespace {

struct TDesktopFixture {
  TCoreDesktop Desktop;
  std::vector<TPostedMessage> Delivered;
  std::vector<std::thread::id> Threads;
  TDesktopFixture() {
    Desktop.PumpIntervalUs = 0;
    Desktop.Handler = [this](const TPostedMessage& m) {
      Delivered.push_back(m);
      Threads.push_back(std::this_thread::get_id());
    };
  }
  std::vector<std::intptr_t> WParams() const {
    std::vector<std::intptr_t> w;
    for (const auto& m : Delivered) w.push_back(m.WParam);
    return w;
  }
};

TEST(CoreDesktop, MessagesArriveInOrderAndRemovalTakesOneKindOnlyEvenHeldByAPump) {
  TDesktopFixture f;
  f.Desktop.PostMessage(wmSerialReceive, 1);
  f.Desktop.PostMessage(wmSocketReceive, 2);
  f.Desktop.PostMessage(wmSerialReceive, 3, 33);
  EXPECT_TRUE(f.Desktop.IsMessageQueued(wmSerialReceive));
  f.Desktop.RemoveQueuedMessages(wmSerialReceive);
  EXPECT_FALSE(f.Desktop.IsMessageQueued(wmSerialReceive));
  EXPECT_TRUE(f.Desktop.IsMessageQueued(wmSocketReceive));
  f.Desktop.PostMessage(wmSerialReceive, 4);
  ASSERT_TRUE(RunUntil([&] { return f.Delivered.size() == 2; }));
  RunFor(20);
  EXPECT_EQ(f.WParams(), (std::vector<std::intptr_t>{2, 4}));
  EXPECT_EQ(f.Delivered[0].Message, wmSocketReceive);
  EXPECT_FALSE(f.Desktop.IsMessageQueued(wmSerialReceive) || f.Desktop.IsMessageQueued(wmSocketReceive));
  // Removal reaches messages a pump holds.
  f.Delivered.clear();
  f.Desktop.PostMessage(wmSerialReceive, 1);
  f.Desktop.PostMessage(wmSocketReceive, 2);
  f.Desktop.ProcessPendingMessages(true);
  f.Desktop.RemoveQueuedMessages(wmSerialReceive);
  ASSERT_TRUE(RunUntil([&] { return f.Delivered.size() == 1; }));
  RunFor(20);
  EXPECT_EQ(f.WParams(), std::vector<std::intptr_t>{2});
}

TEST(CoreDesktop, MessagesPostedOnAnotherThreadRunOnTheWindowThread) {
  TDesktopFixture f;
  std::thread eventThread([&] {
    for (int i = 0; i < 100; ++i) f.Desktop.PostMessage(wmSerialReceive, i);
  });
  eventThread.join();
  ASSERT_TRUE(RunUntil([&] { return f.Delivered.size() == 100; }));
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(f.Delivered[static_cast<std::size_t>(i)].WParam, i);
    EXPECT_EQ(f.Threads[static_cast<std::size_t>(i)], std::this_thread::get_id());
  }
}

TEST(CoreDesktop, ASystemOnlyPumpRunsOtherEventsAndKeepsUserMessagesInOrder) {
  TDesktopFixture f;
  f.Desktop.PostMessage(wmWriteToolBar, 1);
  f.Desktop.PostMessage(wmSerialReceive, 2);
  bool otherRan = false;
  QTimer::singleShot(0, [&] {
    otherRan = true;
    f.Desktop.PostMessage(wmSerialReceive, 9);  // posted by an event the pump ran
  });
  f.Desktop.ProcessPendingMessages(true);
  EXPECT_TRUE(otherRan);
  EXPECT_TRUE(f.Delivered.empty());
  EXPECT_TRUE(f.Desktop.IsMessageQueued(wmWriteToolBar) && f.Desktop.IsMessageQueued(wmSerialReceive));
  f.Desktop.PostMessage(wmWriteToolBar, 3);  // posted after the pump: stays behind them
  ASSERT_TRUE(RunUntil([&] { return f.Delivered.size() == 4; }));
  EXPECT_EQ(f.WParams(), (std::vector<std::intptr_t>{1, 2, 9, 3}));
}

TEST(CoreDesktop, AFullPumpDeliversAndAWaitKeepsTheLoopRunning) {
  TDesktopFixture f;
  f.Desktop.PostMessage(wmSocketReceive, 7);
  f.Desktop.ProcessPendingMessages(false);
  EXPECT_EQ(f.WParams(), std::vector<std::intptr_t>{7});

  QTimer::singleShot(30, [&] { f.Desktop.PostMessage(wmSocketReceive, 8); });
  const auto start = std::chrono::steady_clock::now();
  f.Desktop.Wait(120);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(120));
  EXPECT_EQ(f.WParams(), (std::vector<std::intptr_t>{7, 8}));
}

}  // namespace
