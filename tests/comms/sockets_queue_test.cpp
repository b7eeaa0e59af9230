// The session socket's send queue: a host that stops reading never holds up
// the window thread, bytes leave in order as the socket drains, and what does
// not fit is refused whole and reported.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "comms/sockets.h"
#include "core/desktop.h"
#include "support/eventloop.h"
#include "support/loopback.h"
#include "support/randombytes.h"
#include "support/scripteddesktop.h"

namespace {

constexpr int kChunk = 64 * 1024;

int SendBytes(TSockets& sockets, const char* data, int size) {
  return sockets.Send(reinterpret_cast<const std::uint8_t*>(data), size);
}

class SendQueue : public ::testing::Test {
 protected:
  TScriptedDesktop Desktop;
  TSockets Net{Desktop};
  std::vector<std::string> Events;
  TLoopbackHost Peer;
  int Host = -1;

  void SetUp() override {
    // A small receive window at the host, so the sender's side fills soon.
    const int small = 16 * 1024;
    setsockopt(Peer.Listener, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    Net.OnSessionConnected = [this](int) { Events.push_back("connected"); };
    Net.OnSessionClosed = [this](int) { Events.push_back("closed"); };
    Net.OnErrorOccurred = [this](int, const std::string& text, int code) {
      Events.push_back("error " + std::to_string(code) + " " + text);
    };
  }
  void TearDown() override {
    if (Host >= 0) ::close(Host);
  }
  void Connect() {
    Net.SetAddress("127.0.0.1", std::to_string(Peer.Port));
    Net.Connect();
    Host = Peer.AcceptOne();
    ASSERT_GE(Host, 0);
    ASSERT_TRUE(RunUntil([&] { return !Events.empty(); }));
    ASSERT_EQ(Events, std::vector<std::string>{"connected"});
  }
  // Reads count bytes at the host on a thread while the event loop drains the queue.
  std::string ReadAtHostWhileDraining(std::size_t count) {
    std::string got;
    bool done = false;
    std::thread reader([&] {
      got = ReceiveSome(Host, count, 60000);
      done = true;
    });
    RunUntil([&] { return done; }, 70000);
    reader.join();
    return got;
  }
};

}  // namespace

TEST_F(SendQueue, AHostThatStopsReadingDoesNotHoldUpTheSender) {
  Connect();
  const std::string data = RandomBytes(12 * 1024 * 1024, 11);
  const auto start = std::chrono::steady_clock::now();
  for (std::size_t at = 0; at < data.size(); at += kChunk) {
    ASSERT_EQ(SendBytes(Net, data.data() + at, kChunk), kChunk) << "at " << at;
  }
  const auto took = std::chrono::steady_clock::now() - start;
  // Blocking on the full socket would take the 30-s guard; queueing takes milliseconds.
  EXPECT_LT(took, std::chrono::seconds(2));
  EXPECT_GT(Net.QueuedBytes(), 0u);
  EXPECT_LE(Net.QueuedBytes(), data.size());

  const std::string got = ReadAtHostWhileDraining(data.size());
  ASSERT_EQ(got.size(), data.size());
  EXPECT_TRUE(got == data) << "bytes arrived out of order or changed";
  EXPECT_EQ(Net.QueuedBytes(), 0u);
  EXPECT_EQ(Events, std::vector<std::string>{"connected"});
}

TEST_F(SendQueue, ASendBeyondTheLimitIsRefusedWholeAndReportedOnce) {
  Net.SendQueueLimit = 1024 * 1024;
  Connect();
  const std::string data = RandomBytes(64 * 1024 * 1024, 9);
  std::size_t accepted = 0;
  int refusals = 0;
  while (accepted + kChunk <= data.size()) {
    const int n = SendBytes(Net, data.data() + accepted, kChunk);
    if (n < 0) {
      ++refusals;
      break;
    }
    ASSERT_EQ(n, kChunk);
    accepted += kChunk;
  }
  ASSERT_EQ(refusals, 1) << "the host never stopped reading, or the queue has no bound";
  EXPECT_LE(Net.QueuedBytes(), Net.SendQueueLimit);
  EXPECT_GT(Net.QueuedBytes() + kChunk, Net.SendQueueLimit);  // refused only when it did not fit
  EXPECT_EQ(Events, (std::vector<std::string>{"connected", "error 10055 No buffer space available"}));

  // Everything accepted arrives, in order; nothing of the refused send does.
  const std::string got = ReadAtHostWhileDraining(accepted);
  ASSERT_EQ(got.size(), accepted);
  EXPECT_TRUE(got.compare(0, accepted, data, 0, accepted) == 0);
  RunFor(100);
  EXPECT_EQ(ReceiveSome(Host, 1, 200), "");
  // Once drained, the queue takes sends again.
  EXPECT_EQ(SendBytes(Net, "next", 4), 4);
  EXPECT_EQ(ReceiveSome(Host, 4), "next");
}

TEST_F(SendQueue, OneSendLargerThanTheLimitIsRefusedEvenOnAnEmptyQueue) {
  Net.SendQueueLimit = 1000;
  Connect();
  const std::string big(1001, 'x');
  EXPECT_EQ(SendBytes(Net, big.data(), 1001), -1);
  EXPECT_EQ(Net.QueuedBytes(), 0u);
  EXPECT_EQ(ReceiveSome(Host, 1, 200), "");  // refused whole: not even a part went out
  EXPECT_EQ(SendBytes(Net, big.data(), 1000), 1000);
  EXPECT_EQ(ReceiveSome(Host, 1000).size(), 1000u);
}

TEST_F(SendQueue, DisconnectDiscardsTheQueueAndTheNextSessionStartsClean) {
  Connect();
  const std::string data = RandomBytes(8 * 1024 * 1024, 3);
  ASSERT_EQ(SendBytes(Net, data.data(), static_cast<int>(data.size())), static_cast<int>(data.size()));
  ASSERT_GT(Net.QueuedBytes(), 0u);
  Net.Disconnect();
  EXPECT_EQ(Net.QueuedBytes(), 0u);

  TLoopbackHost second;
  Net.SetAddress("127.0.0.1", std::to_string(second.Port));
  Net.Connect();
  const int host = second.AcceptOne();
  ASSERT_GE(host, 0);
  ASSERT_TRUE(RunUntil([&] { return Events.size() == 2; }));
  EXPECT_EQ(SendBytes(Net, "fresh", 5), 5);
  EXPECT_EQ(ReceiveSome(host, 64, 500), "fresh");  // no leftovers of the first session
  ::close(host);
}

TEST_F(SendQueue, BytesSentWhileTheCallIsMadeFollowOnceConnected) {
  Net.SetAddress("127.0.0.1", std::to_string(Peer.Port));
  Net.Connect();
  // No event has run: the connect has not been seen to finish.
  EXPECT_EQ(SendBytes(Net, "early ", 6), 6);
  EXPECT_EQ(SendBytes(Net, "bird", 4), 4);
  Host = Peer.AcceptOne();
  ASSERT_GE(Host, 0);
  ASSERT_TRUE(RunUntil([&] { return !Events.empty() && Net.QueuedBytes() == 0; }));
  EXPECT_EQ(ReceiveSome(Host, 10), "early bird");
  EXPECT_EQ(Events, std::vector<std::string>{"connected"});
}

TEST_F(SendQueue, AHostResetWithBytesQueuedEndsTheSessionOnceAsAReset) {
  Net.OnDataAvailable = [this](int) {
    std::uint8_t buffer[8192];
    while (Net.Receive(buffer, sizeof buffer) > 0) {
    }
  };
  Connect();
  const std::string data = RandomBytes(8 * 1024 * 1024, 4);
  ASSERT_EQ(SendBytes(Net, data.data(), static_cast<int>(data.size())), static_cast<int>(data.size()));
  ASSERT_GT(Net.QueuedBytes(), 0u);
  const linger hard{1, 0};
  setsockopt(Host, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  ::close(Host);
  Host = -1;
  ASSERT_TRUE(RunUntil([&] { return Events.size() >= 2; }));
  RunFor(100);
  EXPECT_EQ(Events, (std::vector<std::string>{"connected", "error 10054 Connection reset by peer"}));
  EXPECT_EQ(Net.QueuedBytes(), 0u);
  EXPECT_EQ(Net.ClientSocket(), -1);
}
