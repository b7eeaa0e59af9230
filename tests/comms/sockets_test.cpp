// The socket component on loopback, under the event loop, against plain
// POSIX peers and against itself.
#include <gtest/gtest.h>
#include <netinet/tcp.h>
#include <poll.h>

#include <algorithm>
#include <thread>
#include <tuple>

#include "comms/sockets.h"
#include "core/desktop.h"
#include "support/eventloop.h"
#include "support/loopback.h"
#include "support/randombytes.h"
#include "support/scripteddesktop.h"

namespace {

void HardClose(int fd) {
  const linger hard{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  ::close(fd);
}

// Every event of the component, in order; data read as the main window does:
// chunks of up to 8192 bytes until nothing more is ready.
struct TSocketLog {
  std::vector<std::string> Events;
  std::string Data;

  void Attach(TSockets& sockets) {
    sockets.OnSessionConnected = [this](int) { Events.push_back("connected"); };
    sockets.OnSessionClosed = [this](int) { Events.push_back("closed"); };
    sockets.OnSessionAvailable = [this, &sockets](int) {
      Events.push_back("available");
      sockets.Accept();
    };
    sockets.OnErrorOccurred = [this](int, const std::string& text, int code) {
      Events.push_back("error " + std::to_string(code) + " " + text);
    };
    sockets.OnDataAvailable = [this, &sockets](int) {
      std::uint8_t buffer[8192];
      for (;;) {
        const int n = sockets.Receive(buffer, sizeof buffer);
        if (n <= 0) break;
        Data.append(reinterpret_cast<char*>(buffer), static_cast<std::size_t>(n));
      }
    };
  }
  std::size_t Count(const std::string& event) const {
    return static_cast<std::size_t>(std::count(Events.begin(), Events.end(), event));
  }
  bool Has(const std::string& event) const { return Count(event) > 0; }
};

int SendText(TSockets& sockets, const std::string& text) {
  return sockets.Send(reinterpret_cast<const std::uint8_t*>(text.data()), static_cast<int>(text.size()));
}

class Sockets : public ::testing::Test {
 protected:
  TScriptedDesktop Desktop;
  TSocketLog Log;
  TSockets Net{Desktop};

  TLoopbackHost Peer;

  void ConnectTo(const std::string& host, std::uint16_t port) {
    Net.SetAddress(host, std::to_string(port));
    Net.Connect();
  }
  // A logged session to Peer, once it is up; the host's end of it.
  int Connected() {
    Log.Attach(Net);
    ConnectTo("127.0.0.1", Peer.Port);
    const int host = Peer.AcceptOne();
    EXPECT_GE(host, 0);
    EXPECT_TRUE(RunUntil([&] { return Log.Has("connected"); }));
    return host;
  }
  // sockets listening on a free port (Net logged): the port.
  std::uint16_t Listening(TSockets& sockets) {
    if (&sockets == &Net) Log.Attach(Net);
    const std::uint16_t port = FreePort();
    sockets.SetAddress("", std::to_string(port));
    sockets.Listen();
    return port;
  }
};

}  // namespace

TEST_F(Sockets, WithoutAnErrorHandlerTheFailureIsShownInABox) {
  ConnectTo("127.0.0.1", FreePort());
  ASSERT_TRUE(RunUntil([&] { return !Desktop.Boxes.empty(); }));
  const TMessageBox& box = Desktop.Boxes[0].Box;
  EXPECT_EQ(std::tie(box.Text, box.Caption, box.Buttons),
            std::make_tuple(std::string("Error 10061 in function FD_CONNECT\r\nConnection refused"),
                            std::string("WINSOCK ERROR"), unsigned(mbOK | mbCancel)));
}

TEST_F(Sockets, DataNotReadIsAnnouncedOnceUntilTheNextReceive) {
  int announced = 0;
  Net.OnSessionConnected = [](int) {};
  Net.OnDataAvailable = [&](int) { ++announced; };  // busy: leaves the data in the socket
  ConnectTo("127.0.0.1", Peer.Port);
  const int host = Peer.AcceptOne();
  SendAll(host, "wait for me");
  ASSERT_TRUE(RunUntil([&] { return announced == 1; }));
  RunFor(100);
  EXPECT_EQ(announced, 1);
  std::uint8_t buffer[4];
  EXPECT_EQ(Net.Receive(buffer, 4), 4);  // takes part of it: announced again for the rest
  ASSERT_TRUE(RunUntil([&] { return announced == 2; }));
  std::uint8_t rest[64];
  EXPECT_EQ(Net.Receive(rest, 64), 7);
  EXPECT_EQ(Net.Receive(rest, 64), -1);  // nothing ready now
  ::close(host);
}

TEST_F(Sockets, ListensAcceptsAndKeepsTheSessionAfterTheListenEnds) {
  const std::uint16_t port = Listening(Net);
  ASSERT_GE(Net.ListenSocket(), 0);
  EXPECT_EQ(PortOf(Net.ListenSocket()), port);
  const int host = ::ConnectTo(port);
  ASSERT_GE(host, 0);
  ASSERT_TRUE(RunUntil([&] { return Log.Has("available"); }));
  ASSERT_GE(Net.ClientSocket(), 0);
  SendAll(host, "called in");
  ASSERT_TRUE(RunUntil([&] { return Log.Data == "called in"; }));
  EXPECT_EQ(SendText(Net, "answer"), 6);
  EXPECT_EQ(ReceiveSome(host, 6), "answer");

  Net.CancelListen();
  EXPECT_EQ(Net.ListenSocket(), -1);
  EXPECT_EQ(::ConnectTo(port), -ECONNREFUSED);
  SendAll(host, " still here");
  EXPECT_TRUE(RunUntil([&] { return Log.Data == "called in still here"; }));
  ::close(host);
}

TEST_F(Sockets, ASecondCallReplacesTheFirstSession) {
  const std::uint16_t port = Listening(Net);
  const int first = ::ConnectTo(port);
  ASSERT_TRUE(RunUntil([&] { return Log.Count("available") == 1; }));
  const int second = ::ConnectTo(port);
  ASSERT_TRUE(RunUntil([&] { return Log.Count("available") == 2; }));
  EXPECT_EQ(ReceiveSome(first, 1, 2000), "");  // the first session was ended
  SendAll(second, "second");
  EXPECT_TRUE(RunUntil([&] { return Log.Data == "second"; }));
  ::close(first);
  ::close(second);
}

TEST_F(Sockets, TwoComponentsAreEachReadyForDataOnceTalkAndEndInOrder) {
  TSockets listener(Desktop);
  TSocketLog listenerLog;
  listenerLog.Attach(listener);
  listener.OnDataNeeded = [&](int) { listenerLog.Events.push_back("needed"); };
  const std::uint16_t port = Listening(listener);
  Log.Attach(Net);
  Net.OnDataNeeded = [&](int) { Log.Events.push_back("needed"); };
  ConnectTo("127.0.0.1", port);
  ASSERT_TRUE(RunUntil([&] { return Log.Has("needed") && listenerLog.Has("needed"); }));
  RunFor(50);
  EXPECT_EQ(Log.Events, (std::vector<std::string>{"connected", "needed"}));
  EXPECT_EQ(SendText(Net, "ping"), 4);
  ASSERT_TRUE(RunUntil([&] { return listenerLog.Data == "ping"; }));
  EXPECT_EQ(SendText(listener, "pong"), 4);
  ASSERT_TRUE(RunUntil([&] { return Log.Data == "pong"; }));
  Net.Disconnect();
  ASSERT_TRUE(RunUntil([&] { return listenerLog.Events.size() == 3; }));
  // The end comes after both directions were shut: an orderly end, reported once.
  RunFor(50);
  EXPECT_EQ(listenerLog.Events, (std::vector<std::string>{"available", "needed", "closed"}));
  EXPECT_EQ(listener.ClientSocket(), -1);
}

TEST_F(Sockets, DisconnectResetsTheSessionAtOnce) {
  const int host = Connected();
  Net.Disconnect();
  EXPECT_EQ(Net.ClientSocket(), -1);
  tcp_info info{};
  socklen_t size = sizeof info;
  ASSERT_TRUE(RunUntil([&] {
    getsockopt(host, IPPROTO_TCP, TCP_INFO, &info, &size);
    return info.tcpi_state == TCP_CLOSE;  // a reset; an orderly close leaves CLOSE_WAIT
  }));
  RunFor(50);
  EXPECT_EQ(Log.Events, std::vector<std::string>{"connected"});
  ::close(host);
}

TEST_F(Sockets, TheHostResettingMidBurstEndsTheSessionWithAResetError) {
  const int host = Connected();
  const std::string burst = RandomBytes(1024 * 1024, 3);
  std::thread hostSide([&] {
    SendAll(host, burst.substr(0, burst.size() / 2));
    HardClose(host);
  });
  ASSERT_TRUE(RunUntil([&] { return Log.Events.size() == 2; }, 10000));
  hostSide.join();
  RunFor(100);
  EXPECT_EQ(Log.Events, (std::vector<std::string>{"connected", "error 10054 Connection reset by peer"}));
  EXPECT_EQ(burst.compare(0, Log.Data.size(), Log.Data), 0) << "received bytes are not what was sent";
  EXPECT_EQ(Net.ClientSocket(), -1);
}

TEST_F(Sockets, SendingWithoutASessionOrAfterAResetRaisesTheSendError) {
  Log.Attach(Net);
  EXPECT_LT(SendText(Net, "nobody"), 0);
  EXPECT_EQ(Log.Events, std::vector<std::string>{"error 10038 Socket operation on non-socket"});

  const int host = Connected();
  HardClose(host);
  // The reset arrives (no events run meanwhile): the socket then reports its error.
  pollfd reset{Net.ClientSocket(), 0, 0};
  ASSERT_EQ(poll(&reset, 1, 5000), 1);
  ASSERT_TRUE(reset.revents & (POLLERR | POLLHUP));
  EXPECT_LT(SendText(Net, "too late"), 0);
  EXPECT_EQ(Log.Events.back(), "error 10054 Connection reset by peer");
}

TEST_F(Sockets, MissingOrBadAddressPartsAreRefusedWithBoxesAndPortsMayBeServiceNames) {
  struct TRow {
    const char* Host;
    const char* Port;
    bool Listen;
    const char* Box;
  };
  const TRow rows[] = {{"127.0.0.1", "", false, "No Port Specified"},
                       {"", "23", false, "No IP Address Specified"},
                       {"", "", true, "No Port Specified"},
                       {"no-such-host.invalid", "23", false, "Cannot convert host address"},
                       {"127.0.0.1", "abc", false, "'abc' is not a valid integer value"},
                       {"127.0.0.1", "70000", false, "'70000' is not a valid port number"}};
  std::vector<std::string> expected;
  for (const TRow& row : rows) {
    Net.SetAddress(row.Host, row.Port);
    row.Listen ? Net.Listen() : Net.Connect();
    expected.push_back(row.Box);
  }
  EXPECT_EQ(BoxTexts(Desktop), expected);
  // The address's boxes are the socket layer's; the port texts fail their conversion.
  for (std::size_t i = 0; i < 4 && i < Desktop.Boxes.size(); ++i)
    EXPECT_EQ(std::tie(Desktop.Boxes[i].Box.Caption, Desktop.Boxes[i].Box.Buttons),
              std::make_tuple(std::string("WINSOCK ERROR"), unsigned(mbOK | mbCancel)));
  EXPECT_EQ(Net.ClientSocket(), -1);
  EXPECT_EQ(Net.ListenSocket(), -1);

  // "telnet" is a service name: port 23.
  Log.Attach(Net);
  Net.SetAddress("", "telnet");
  Net.Listen();
  if (Net.ListenSocket() < 0) GTEST_SKIP() << "port 23 is taken here: " << Log.Events.back();
  EXPECT_EQ(PortOf(Net.ListenSocket()), 23);
  EXPECT_EQ(Desktop.Boxes.size(), std::size(rows));
}

TEST_F(Sockets, ListeningOnAPortInUseIsABindError) {
  Log.Attach(Net);
  Net.SetAddress("", std::to_string(Peer.Port));
  Net.Listen();
  EXPECT_EQ(Log.Events, std::vector<std::string>{"error 10048 Address already in use"});
  EXPECT_EQ(Net.ListenSocket(), -1);
}

TEST_F(Sockets, BlockingCallsGiveUpAfterTheTimeout) {
  Log.Attach(Net);
  Net.NonBlocking = false;
  Net.Timeout = 1;
  ConnectTo("127.0.0.1", Peer.Port);
  ASSERT_GE(Net.ClientSocket(), 0);  // connected at once, without events
  EXPECT_TRUE(Log.Events.empty());
  const int host = Peer.AcceptOne();
  std::uint8_t buffer[16];
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Net.Receive(buffer, sizeof buffer), -1);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
  EXPECT_EQ(Log.Events, std::vector<std::string>{"error 10060 Blocking call timed out"});

  SendAll(host, "late");
  EXPECT_EQ(Net.Receive(buffer, sizeof buffer), 4);

  Net.OnErrorOccurred = nullptr;
  EXPECT_EQ(Net.Receive(buffer, sizeof buffer), -1);
  ASSERT_EQ(BoxTexts(Desktop), std::vector<std::string>{"Error 10060\r\nBlocking call timed out"});
  EXPECT_EQ(Desktop.Boxes[0].Box.Caption, "WINSOCK CALL CANCELED");
  ::close(host);
}
