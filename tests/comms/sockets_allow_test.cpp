// The socket component's listening port with an allow-list, and IPv6 on
// both sides of a call, on loopback under the event loop.
#include <gtest/gtest.h>
#include <netinet/in.h>

#include "comms/sockets.h"
#include "core/desktop.h"
#include "support/eventloop.h"
#include "support/loopback.h"
#include "support/scripteddesktop.h"

namespace {

// A caller from a loopback address of either family; -1 when it could not call.
int CallFrom(int family, std::uint16_t port) {
  const int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in6 v6{};
  v6.sin6_family = AF_INET6;
  v6.sin6_port = htons(port);
  v6.sin6_addr = in6addr_loopback;
  const sockaddr_in v4 = LoopbackAddress(port);
  const bool called = family == AF_INET6 ? ::connect(fd, reinterpret_cast<const sockaddr*>(&v6), sizeof v6) == 0
                                         : ::connect(fd, reinterpret_cast<const sockaddr*>(&v4), sizeof v4) == 0;
  if (!called) ::close(fd);
  return called ? fd : -1;
}

std::uint16_t LocalPort(int fd) {
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  return address.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port)
                                       : ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

// Whether the far end ended the call (a reset or an orderly end) by the time limit.
bool EndedByPeer(int fd) {
  char byte = 0;
  bool ended = false;
  RunUntil([&] {
    const ssize_t n = recv(fd, &byte, 1, MSG_DONTWAIT);
    ended = n == 0 || (n < 0 && errno != EAGAIN);
    return ended;
  });
  return ended;
}

// A socket bound to a free port of ::1, or -1 when there is no IPv6 loopback.
int BoundToIpv6Loopback() {
  const int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_loopback;
  if (fd >= 0 && bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return fd;
  if (fd >= 0) ::close(fd);
  return -1;
}

bool Ipv6Loopback() {
  const int fd = BoundToIpv6Loopback();
  if (fd >= 0) ::close(fd);
  return fd >= 0;
}

class ListenAllow : public ::testing::Test {
 protected:
  TScriptedDesktop Desktop;
  TSockets Net{Desktop};
  std::vector<std::string> Refused;
  int Accepted = 0;
  std::uint16_t Port = FreePort();

  void SetUp() override {
    Net.OnCallerRefused = [this](const std::string& caller) { Refused.push_back(caller); };
    Net.OnSessionAvailable = [this](int) {
      if (Net.Accept() >= 0) ++Accepted;
    };
    Net.OnErrorOccurred = [](int, const std::string& text, int) { ADD_FAILURE() << text; };
  }
  void Listen(const std::string& allow) {
    std::string error;
    ASSERT_TRUE(Net.SetAllowedCallers(allow, error)) << error;
    Net.SetAddress("", std::to_string(Port));
    Net.Listen();
    ASSERT_GE(Net.ListenSocket(), 0);
  }
};

}  // namespace

TEST_F(ListenAllow, ACallerOutsideTheListIsCutOffAndNamedAndThePortListensOn) {
  Listen("10.0.0.0/8 2001:db8::/32");
  const int stranger = CallFrom(AF_INET, Port);
  ASSERT_GE(stranger, 0);
  ASSERT_TRUE(RunUntil([&] { return !Refused.empty(); }));
  EXPECT_EQ(Refused[0], "127.0.0.1 port " + std::to_string(LocalPort(stranger)) + " (not in the allow list)");
  EXPECT_TRUE(EndedByPeer(stranger));
  EXPECT_EQ(Accepted, 0);
  EXPECT_LT(Net.ClientSocket(), 0) << "no session was made";
  ::close(stranger);

  // The same port takes the next caller the list allows.
  std::string error;
  ASSERT_TRUE(Net.SetAllowedCallers("127.0.0.0/8", error));
  const int friendly = CallFrom(AF_INET, Port);
  ASSERT_TRUE(RunUntil([&] { return Accepted == 1; }));
  EXPECT_GE(Net.ClientSocket(), 0);
  EXPECT_EQ(Refused.size(), 1u);
  ::close(friendly);
}

TEST_F(ListenAllow, AStrangerDoesNotEndTheSessionThatIsUp) {
  Listen("127.0.0.1");
  const int friendly = CallFrom(AF_INET, Port);
  ASSERT_TRUE(RunUntil([&] { return Accepted == 1; }));
  const int session = Net.ClientSocket();
  std::string error;
  ASSERT_TRUE(Net.SetAllowedCallers("192.0.2.1", error));
  const int stranger = CallFrom(AF_INET, Port);
  ASSERT_TRUE(RunUntil([&] { return !Refused.empty(); }));
  EXPECT_EQ(Net.ClientSocket(), session);
  ::close(stranger);
  ::close(friendly);
}

TEST_F(ListenAllow, BothFamiliesReachTheOnePortAndEachIsMatchedInItsOwn) {
  if (!Ipv6Loopback()) GTEST_SKIP() << "no IPv6 loopback here";
  Listen("::1");
  const int v6 = CallFrom(AF_INET6, Port);
  ASSERT_GE(v6, 0);
  ASSERT_TRUE(RunUntil([&] { return Accepted == 1; }));
  const int v4 = CallFrom(AF_INET, Port);
  ASSERT_GE(v4, 0) << "the port listens for IPv4 callers too";
  ASSERT_TRUE(RunUntil([&] { return !Refused.empty(); }));
  EXPECT_EQ(Refused[0].rfind("127.0.0.1 port ", 0), 0u) << Refused[0];
  ::close(v4);
  ::close(v6);
}

TEST(SocketsIpv6, ConnectsToABracketedAddressWithItsPort) {
  const int listener = BoundToIpv6Loopback();
  if (listener < 0) GTEST_SKIP() << "no IPv6 loopback here";
  ASSERT_EQ(listen(listener, 1), 0);
  const std::uint16_t port = LocalPort(listener);
  TScriptedDesktop desktop;
  TSockets net(desktop);
  bool connected = false;
  net.OnSessionConnected = [&](int) { connected = true; };
  net.SetAddress("[::1]:" + std::to_string(port), "23");
  net.Connect();
  EXPECT_TRUE(RunUntil([&] { return connected; }));
  EXPECT_TRUE(desktop.Boxes.empty());
  ::close(listener);
}

TEST(SocketsIpv6, ANameIsCalledOnEachOfItsAddressesUntilOneAnswers) {
  // "localhost" may give ::1 first; only 127.0.0.1 listens here. The
  // address's port wins over the port field.
  TLoopbackHost host;
  TScriptedDesktop desktop;
  TSockets net(desktop);
  bool connected = false;
  std::string error;
  net.OnSessionConnected = [&](int) { connected = true; };
  net.OnErrorOccurred = [&](int, const std::string& text, int) { error = text; };
  net.SetAddress("localhost:" + std::to_string(host.Port), "9");
  net.Connect();
  EXPECT_TRUE(RunUntil([&] { return connected || !error.empty(); }));
  EXPECT_TRUE(connected) << error;
  EXPECT_TRUE(desktop.Boxes.empty());
}
