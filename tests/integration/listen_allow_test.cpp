// qel connect --listen with an allow-list: a caller inside it gets the
// session; one outside it is cut off at once and named in the line the run
// ends with.
#include <gtest/gtest.h>

#include "integration_support.h"

namespace {
// Calls the port until the tool listens; the caller's own port, or 0.
std::uint16_t CallWhenListening(std::uint16_t port, int& fd) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    fd = ConnectTo(port);
    if (fd >= 0) return PortOf(fd);
    RunFor(20);
  }
  return 0;
}
}  // namespace

TEST(ListenAllowTool, ACallerInsideTheListGetsTheSession) {
  const std::uint16_t port = FreePort();
  QProcess tool;
  tool.start(QEL_TOOL, {"connect", "--host", QString(":%1").arg(port), "--listen", "--allow", "127.0.0.0/8", "--for",
                        "10", "--send", "hello caller<CR>"});
  ASSERT_TRUE(tool.waitForStarted(5000));
  int caller = -1;
  ASSERT_NE(CallWhenListening(port, caller), 0);
  SendAll(caller, "line one\r\nline two\r\n");
  EXPECT_EQ(ReceiveFor(caller, 1000), "hello caller\r\n");
  ::close(caller);
  ASSERT_TRUE(RunUntil([&] { return tool.state() == QProcess::NotRunning; }, 20000));
  const std::string err = tool.readAllStandardError().toStdString();
  EXPECT_EQ(tool.exitCode(), 0) << err;
  EXPECT_EQ(err, "qel connect: note: Session Closed!\n");
  const std::string screen = tool.readAllStandardOutput().toStdString();
  EXPECT_EQ(screen.rfind("line one\nline two\n", 0), 0u) << screen;
}

TEST(ListenAllowTool, ACallerOutsideTheListIsNamedInTheFailure) {
  const std::uint16_t port = FreePort();
  QProcess tool;
  tool.start(QEL_TOOL, {"connect", "--host", QString("127.0.0.1:%1").arg(port), "--listen", "--allow",
                        "10.0.0.0/8", "--allow", "2001:db8::/32", "--for", "3"});
  ASSERT_TRUE(tool.waitForStarted(5000));
  int caller = -1;
  const std::uint16_t callerPort = CallWhenListening(port, caller);
  ASSERT_NE(callerPort, 0);
  char byte = 0;
  EXPECT_LE(recv(caller, &byte, 1, 0), 0) << "cut off without a word";
  ::close(caller);
  ASSERT_TRUE(RunUntil([&] { return tool.state() == QProcess::NotRunning; }, 20000));
  EXPECT_EQ(tool.exitCode(), 1);
  const std::string err = tool.readAllStandardError().toStdString();
  EXPECT_NE(err.find("no call came in; refused: 127.0.0.1 port " + std::to_string(callerPort) +
                     " (not in the allow list)"),
            std::string::npos)
      << err;
}

// --allow without --listen is a row of the serial tests' usage errors.
TEST(ListenAllowTool, AllowTakesOnlyAddresses) {
  TTempDir dir;
  const TQelRun bad = RunQel(dir, "connect --host 127.0.0.1:2323 --listen --allow exchange.example");
  EXPECT_EQ(bad.Status, 2);
  EXPECT_NE(bad.Err.find("'exchange.example' is not an IPv4 or IPv6 address or network"), std::string::npos)
      << bad.Err;
}
