// The socket side against hosts on loopback: refused calls, a host that
// closes, a call taken on the listening port, a reset in the middle of a
// burst, a send on a socket the host has closed, and data that arrives under
// a box.
#include <gtest/gtest.h>
#include <fcntl.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "integration/integration_support.h"
#include "log/errors.h"
#include "terminal/keyboard.h"
#include "transfer/engine.h"

namespace {

void ExpectDisconnected(const TWindow& w) {
  EXPECT_FALSE(w.S.Transmit->NetworkSessionUp());
  EXPECT_TRUE(w.Events.Controls.ConnectItem);
  EXPECT_TRUE(w.Events.Controls.NetworkConnectButton);
  EXPECT_FALSE(w.Events.Controls.NetworkDisconnectButton);
  EXPECT_FALSE(w.S.Status.Connected);
}

TEST(Network, ARefusedCallShowsConnectionRefusedAndAHostThatClosesSessionClosedOnce) {
  TWindow w;
  w.Connect("127.0.0.1:" + std::to_string(FreePort()));
  ASSERT_TRUE(RunUntil([&] { return w.Ended > 0; }));
  RunFor(100);
  EXPECT_EQ(w.Boxes, std::vector<std::string>{"Connection refused"});
  ExpectDisconnected(w);
  EXPECT_EQ(w.Sockets.ClientSocket(), -1);

  TLoopbackHost host;
  std::thread peer([&] {
    const int fd = host.AcceptOne();
    SendAll(fd, "served\r\nbye\r\n");
    ::close(fd);
  });
  w.Connect(host.Address());
  const bool ended = RunUntil([&] { return w.Ended > 1; });
  peer.join();
  ASSERT_TRUE(ended);
  RunFor(300);
  EXPECT_EQ(w.Boxes, (std::vector<std::string>{"Connection refused", "Session Closed!"}));
  EXPECT_TRUE(w.Shows("served\nbye\n")) << w.ScreenText();
  ExpectDisconnected(w);
}

TEST(Network, ACallOnTheListeningPortIsTakenAndAnswered) {
  const std::uint16_t port = FreePort();
  TWindow w;
  w.S.Settings.HostName.assign("127.0.0.1:" + std::to_string(port));
  w.S.Transmit->StartListen();
  ASSERT_GE(w.Sockets.ListenSocket(), 0);

  std::string heard;
  std::thread caller([&] {
    const int fd = ConnectTo(port);
    if (fd < 0) return;
    SendAll(fd, "host calling\r\n");
    heard = ReceiveFor(fd, 1500);
    ::close(fd);
  });
  const bool accepted = RunUntil([&] { return w.S.Transmit->ListenActive; });
  if (accepted) w.S.Keyboard->StartText("terminal here<CR>");
  const bool ended = RunUntil([&] { return w.Ended > 0; });
  caller.join();
  ASSERT_TRUE(accepted);
  ASSERT_TRUE(ended);
  EXPECT_TRUE(w.Shows("host calling")) << w.ScreenText();
  EXPECT_EQ(heard, "terminal here\r\n");
  EXPECT_EQ(w.Boxes, std::vector<std::string>{"Session Closed!"});
  EXPECT_FALSE(w.S.Transmit->NetworkConnected);
}

TEST(Network, AResetInTheMiddleOfABurstEndsTheSessionWithItsText) {
  TLoopbackHost host;
  constexpr int kLines = 200000;
  std::thread peer([&] {
    const int fd = host.AcceptOne();
    std::string burst;
    char line[16];
    for (int i = 1; i <= kLines; ++i) {
      std::snprintf(line, sizeof line, "L%07d\r\n", i);
      burst += line;
    }
    // Whatever the terminal has not taken yet is thrown away with the reset.
    fcntl(fd, F_SETFL, O_NONBLOCK);
    for (std::size_t done = 0; done < burst.size() / 2;) {
      const ssize_t n = write(fd, burst.data() + done, burst.size() - done);
      if (n > 0) done += static_cast<std::size_t>(n);
      else std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const linger hard{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(fd);
  });
  TWindow w;
  w.Connect(host.Address());
  const bool ended = RunUntil([&] { return w.Ended > 0; }, 30000);
  peer.join();
  ASSERT_TRUE(ended);
  RunFor(200);
  EXPECT_EQ(w.Boxes, std::vector<std::string>{"Connection reset by peer"});
  ExpectDisconnected(w);
  // What arrived is shown in order: the last lines on the screen follow each other.
  int previous = 0;
  int rows = 0;
  for (int row = 1; row <= w.S.Screen->Rows; ++row) {
    const std::string text = w.S.Screen->GetLineText(w.S.Screen->ScreenLine(row));
    // The reset can cut the last line short ("L001" of "L0019559"): only whole lines count.
    int number = 0;
    int length = 0;
    if (std::sscanf(text.c_str(), "L%7d%n", &number, &length) != 1 || length != 8) continue;
    if (previous != 0) {
      EXPECT_EQ(number, previous + 1);
    }
    previous = number;
    ++rows;
  }
  EXPECT_GT(rows, 0);
}

TEST(Network, ASendOnASocketTheHostHasClosedEndsTheSessionOnce) {
  TLoopbackHost host;
  std::atomic<bool> connected{false};
  std::thread peer([&] {
    const int fd = host.AcceptOne();
    for (int i = 0; i < 1000 && !connected; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ::close(fd);
  });
  TWindow w;
  w.Connect(host.Address());
  const bool up = RunUntil([&] { return w.S.Transmit->NetworkConnected; });
  connected = true;
  peer.join();
  ASSERT_TRUE(up) << (w.Boxes.empty() ? "" : w.Boxes[0]);
  // The host's end and its reset to our first byte arrive before the window looks.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  w.S.Transmit->SendByte('a');
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  w.S.Transmit->SendByte('b');
  w.S.Transmit->SendByte('c');
  ASSERT_TRUE(RunUntil([&] { return !w.Boxes.empty(); }));
  RunFor(300);
  ASSERT_EQ(w.Boxes.size(), 1u);
  EXPECT_TRUE(w.Boxes[0] == "Connection reset by peer" || w.Boxes[0] == "Can't send after socket shutdown" ||
              w.Boxes[0] == "Session Closed!")
      << w.Boxes[0];
  ExpectDisconnected(w);
  w.S.Transmit->SendByte('d');  // nothing is up any more: dropped quietly
  RunFor(100);
  EXPECT_EQ(w.Boxes.size(), 1u);
}

// A host that draws a full screen and closes at once: the window pumps its
// messages between pieces of what it read, and the close it meets there must
// wait for the rest, or the end resets the interpreter inside a sequence.
TEST(Network, AScreenSentJustBeforeTheCloseIsDrawnWholeBeforeSessionClosed) {
  TLoopbackHost host;
  std::string screen = "\x1b[2J\x1b[1;1H\x1b[7mSTATUS TITLE\x1b[0m";
  for (int i = 0; i < 60; ++i) {
    char line[96];
    std::snprintf(line, sizeof line, "\x1b[%d;1H\x1b[3%dmEVENT %05d\x1b[0m TRUNK %02d \x1b[1mBUSY\x1b[0m\x1b[K",
                  2 + i % 22, 1 + i % 6, i, i % 32);
    screen += line;
  }
  screen += "\x1b[24;1HFOOTER LINE\x1b[23;1H> ";
  ASSERT_GT(screen.size(), 20u * TReceiveHandover::kSocketBurst);
  std::thread peer([&] {
    const int fd = host.AcceptOne();
    SendAll(fd, screen);
    ::close(fd);
  });
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
  w.Connect(host.Address());
  const bool ended = RunUntil([&] { return w.Ended > 0; });
  peer.join();
  ASSERT_TRUE(ended);
  EXPECT_EQ(w.Boxes, std::vector<std::string>{"Session Closed!"});
  const auto row = [&](int r) { return w.S.Screen->GetLineText(w.S.Screen->ScreenLine(r)); };
  EXPECT_EQ(row(24).substr(0, 11), "FOOTER LINE");
  EXPECT_EQ(row(1).substr(0, 12), "STATUS TITLE");
  EXPECT_EQ(row(19).substr(0, 25), "EVENT 00039 TRUNK 07 BUSY");
  EXPECT_EQ(w.ScreenText().find(";1H"), std::string::npos) << w.ScreenText();
  EXPECT_NE(atTheBox.find("FOOTER LINE"), std::string::npos) << atTheBox;
}

TEST(Network, DataArrivingUnderABoxIsShownAfterItInOrder) {
  TLoopbackHost host;
  TWindow w;
  w.Connect(host.Address());
  const int fd = host.AcceptOne();
  ASSERT_GE(fd, 0);
  ExpectDataUnderABoxShownAfterIt(w, [&](const std::string& bytes) { SendAll(fd, bytes); });
  ::close(fd);
}

// A caller inside the allow-list gets the session.
TEST(Network, QelConnectTakesACall) {
  const std::uint16_t port = FreePort();
  QProcess tool;
  tool.start(QEL_TOOL, {"connect", "--host", QString(":%1").arg(port), "--listen", "--allow", "127.0.0.0/8", "--for",
                        "10", "--send", "hello caller<CR>"});
  ASSERT_TRUE(tool.waitForStarted(5000));
  std::string heard;
  bool called = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!called && std::chrono::steady_clock::now() < deadline) {
    const int fd = ConnectTo(port);
    if (fd < 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      continue;
    }
    called = true;
    SendAll(fd, "line one\r\nline two\r\n");
    heard = ReceiveFor(fd, 1000);
    ::close(fd);
  }
  ASSERT_TRUE(tool.waitForFinished(10000));
  EXPECT_TRUE(called);
  EXPECT_EQ(heard, "hello caller\r\n");
  EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
  const std::string screen = tool.readAllStandardOutput().toStdString();
  EXPECT_EQ(screen.rfind("line one\nline two\n", 0), 0u) << screen;
}

}  // namespace
