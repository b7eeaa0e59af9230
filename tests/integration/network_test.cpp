// The socket side against hosts on loopback: a screen sent just before the
// host closes, and data that arrives under a box. (A refused call is qel
// connect's test on the same wiring.)
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "integration/integration_support.h"
#include "transfer/engine.h"

namespace {

// A host that draws a full screen and closes at once: the window pumps its
// messages between pieces of what it read, and the close it meets there must
// wait for the rest, or the end resets the interpreter inside a sequence.
TEST(Network, AScreenSentJustBeforeTheCloseIsDrawnWholeBeforeSessionClosed) {
  std::string screen = "\x1b[2J\x1b[1;1H\x1b[7mSTATUS TITLE\x1b[0m";
  for (int i = 0; i < 60; ++i) {
    char line[96];
    std::snprintf(line, sizeof line, "\x1b[%d;1H\x1b[3%dmEVENT %05d\x1b[0m TRUNK %02d \x1b[1mBUSY\x1b[0m\x1b[K",
                  2 + i % 22, 1 + i % 6, i, i % 32);
    screen += line;
  }
  screen += "\x1b[24;1HFOOTER LINE\x1b[23;1H> ";
  ASSERT_GT(screen.size(), 20u * TReceiveHandover::kSocketBurst);
  TOneShotHost host(screen);
  TWindow w;
  // As the window does: a line's end clears the interpreter's state.
  w.Events.OnSessionEnded = [&](const std::string&) {
    w.S.Transfer->LineEnded();
    ++w.Ended;
  };
  std::string atTheBox;
  w.Desktop.OnMessage = [&](const TMessageBox& box) {
    w.Boxes.push_back(box.Text);
    atTheBox = w.ScreenText();
    return TMsgResult::OK;
  };
  w.Connect(host.Address().toStdString());
  ASSERT_TRUE(RunUntil([&] { return w.Ended > 0; }));
  EXPECT_EQ(w.Boxes, std::vector<std::string>{"Session Closed!"});
  const auto row = [&](int r) { return w.S.Screen->GetLineText(w.S.Screen->ScreenLine(r)); };
  EXPECT_EQ(row(24).substr(0, 11), "FOOTER LINE");
  EXPECT_EQ(row(1).substr(0, 12), "STATUS TITLE");
  EXPECT_EQ(row(19).substr(0, 25), "EVENT 00039 TRUNK 07 BUSY");
  EXPECT_EQ(w.ScreenText().find(";1H"), std::string::npos) << w.ScreenText();
  EXPECT_NE(atTheBox.find("FOOTER LINE"), std::string::npos) << atTheBox;
}

// The host sends AAA, then BBB and CCC while a box is up (its message loop
// running for 400 ms): they wait, and are shown after it in order.
TEST(Network, DataArrivingUnderABoxIsShownAfterItInOrder) {
  TLoopbackHost host;
  TWindow w;
  w.Connect(host.Address());
  const int fd = host.AcceptOne();
  ASSERT_GE(fd, 0);
  SendAll(fd, "AAA");
  ASSERT_TRUE(RunUntil([&] { return w.Shows("AAA"); })) << w.ScreenText();
  std::string underBox;
  w.Desktop.BoxOpenMs = 400;
  w.Desktop.OnMessage = [&](const TMessageBox&) {
    underBox = w.ScreenText();
    return TMsgResult::OK;
  };
  QTimer::singleShot(100, [&] { SendAll(fd, "BBB"); });
  QTimer::singleShot(200, [&] { SendAll(fd, "CCC"); });
  const auto start = std::chrono::steady_clock::now();
  w.S.Errors->ReportError(ekMessage, 0, "Disk trouble");
  // The message loop ran under the box: its own timer ended it on time.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
  EXPECT_NE(underBox.find("AAA"), std::string::npos) << underBox;
  EXPECT_EQ(underBox.find("BBB"), std::string::npos) << underBox;
  EXPECT_TRUE(RunUntil([&] { return w.Shows("AAABBBCCC"); }, 3000)) << w.ScreenText();
  ::close(fd);
}

}  // namespace
