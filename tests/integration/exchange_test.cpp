// qel exchange as a real process on a free loopback port, driven by raw
// sockets and by qel connect: the status page, the recorded traces, the
// answer-back round trip and its log, a host transfer over Telnet, callers
// that must not bring it down. The session logic has its own tests.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>

#include <filesystem>
#include <random>
#include <sstream>

#include "integration/integration_support.h"

using namespace std::string_literals;

namespace {

// Reads (a socket or a tty) until the text ends with what is expected, the
// other end is gone or the time is up.
std::string ReadUntil(int fd, const std::string& end, int timeoutMs = 5000) {
  std::string got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    if (got.size() >= end.size() && got.compare(got.size() - end.size(), end.size(), end) == 0) break;
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, 50) <= 0) continue;
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

class ExchangeTool : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(Exchange.Port, 0) << "the exchange did not say where it listens"; }
  // A raw Telnet caller past the negotiation, with the given terminal type.
  int LogIn(const std::string& type) {
    const int fd = ConnectTo(Exchange.Port);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(ReceiveSome(fd, 9), "\xFF\xFB\x01\xFF\xFB\x03\xFF\xFD\x18");
    SendAll(fd, "\xFF\xFB\x18");
    EXPECT_EQ(ReceiveSome(fd, 6), "\xFF\xFA\x18\x01\xFF\xF0");
    SendAll(fd, "\xFF\xFA\x18\x00"s + type + "\xFF\xF0");
    Banner = ReadUntil(fd, "\r\n<");
    return fd;
  }
  TProcessRun Connect(const QStringList& sends, const QString& output, const QStringList& more = {}) {
    QStringList arguments{"connect", "--host", QString::fromStdString(Exchange.Address()), "--for", "20", output};
    for (const QString& send : sends) arguments << "--send" << send;
    return RunTool(arguments + more, 30000);
  }

  TTempDir Dir;
  TExchangeProcess Exchange{{"--log", QString::fromStdString(Dir.file("received.log"))}};
  std::string Banner;
};

std::vector<std::string> Rows(const std::string& text) {
  std::vector<std::string> rows;
  std::istringstream in(text);
  for (std::string row; std::getline(in, row);) rows.push_back(row);
  return rows;
}

std::string Repeat(const std::string& piece, int count) {
  std::string s;
  for (int i = 0; i < count; ++i) s += piece;
  return s;
}

// The rows of a 38-column box in line-drawing characters, as a VT100 shows them.
std::string BoxTop(const std::string& title) {
  return "┌─ " + title + " " + Repeat("─", 36 - 3 - static_cast<int>(title.size())) + "┐";
}
std::string BoxRow(const std::string& text) { return "│ " + text + std::string(35 - text.size(), ' ') + "│"; }

}  // namespace

TEST_F(ExchangeTool, TheStatusPageIsDrawnOnTheTerminalsScreen) {
  const TProcessRun run = Connect({"STATUS<CR>", "BYE<CR>"}, "--screen", {"--emulation", "vt100"});
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  const std::vector<std::string> rows = Rows(run.Out);
  ASSERT_EQ(rows.size(), 24u) << run.Out;
  // The page filled rows 1..24 and ended at the prompt on row 24; BYE and its
  // answer then scrolled it up by two rows.
  EXPECT_EQ(rows[0], " " + BoxTop("SWITCHING NETWORK") + "  " + BoxTop("SIGNALLING"));
  EXPECT_EQ(rows[5], " " + BoxRow("State       IN SERVICE") + "  " + BoxRow("State       MINOR ALARM"));
  EXPECT_EQ(rows[7], " └" + Repeat("─", 36) + "┘  └" + Repeat("─", 36) + "┘");
  EXPECT_EQ(rows[9], " " + BoxTop("SUBSCRIBER LINES") + "  " + BoxTop("TRUNKS AND ROUTES"));
  EXPECT_EQ(rows[13], " " + BoxRow("Locked out  4") + "  " + BoxRow("Blocked     17"));
  EXPECT_EQ(rows[18], " Alarms: 1 minor, 0 major, 0 critical");
  EXPECT_EQ(rows[21], "<BYE");
  EXPECT_EQ(rows[22], "SESSION ENDED");
}

TEST_F(ExchangeTool, TheAnswerBackMakesTheRoundTripAndIsLogged) {
  const TProcessRun run = Connect({"ENQ<CR>", "BYE<CR>"}, "--screen", {"--emulation", "vt100"});
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  // The default answer-back: STX, the terminal identifier, CR, EOT; New Line
  // (on by default) sends a LF after every CR, the answer-back's included.
  EXPECT_NE(run.Out.find("\nAnswer-back: <2>QELWIN-32<13><10><4>\n<BYE\n"), std::string::npos) << run.Out;
  const std::string log = ReadFileBytes(Dir.file("received.log"));
  // The exchange hangs up at BYE's CR: the LF behind it may come too late to be read.
  const std::string expected = "ENQ\r\n\x02QELWIN-32\r\n\x04" "BYE\r";
  EXPECT_TRUE(log == expected || log == expected + "\n") << log;
  EXPECT_EQ(log.find('\xFF'), std::string::npos);  // the Telnet answers are not data
}

TEST_F(ExchangeTool, ASendFileOverTelnetIsStoredByteForByteWhereConnectIsTold) {
  // The exchange sends each 255 of its data as IAC IAC, as Telnet must.
  std::filesystem::create_directory(Dir.file("in"));
  const TProcessRun run = Connect({"SENDFILE 100000<CR><P:30>BYE<CR>"}, "--screen",
                                  {"--receive-dir", QString::fromStdString(Dir.file("in"))});
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_NE(run.Out.find("FILE SENT, 100000 BYTES"), std::string::npos) << run.Out;
  const std::string payload = RandomBytes(100000, 20261206);  // the low bytes of mt19937's draws
  ASSERT_NE(payload.find('\xFF'), std::string::npos);
  const std::string stored = ReadFileBytes(Dir.file("in/received"));
  EXPECT_EQ(stored.size(), payload.size());
  EXPECT_TRUE(stored == payload) << "the stored bytes differ from the exchange's";
}

// The session logic's own tests print given texts: here the recorded files.
TEST_F(ExchangeTool, TraceAndMiniPrintTheRecordedSampleFiles) {
  const int fd = LogIn("DEC-VT100");
  for (const std::string command : {"TRACE", "MINI"}) {
    std::string expected;
    // Bare line feeds of the recording go out as CR LF.
    const std::string file = command == "TRACE" ? "exchange.trace" : "mini.trace";
    for (const char c : ReadFileBytes(std::string(QEL_TEST_DATA) + "/../samples/" + file)) {
      if (c == '\n' && (expected.empty() || expected.back() != '\r')) expected += '\r';
      expected += c;
    }
    SendAll(fd, command + "\r");
    EXPECT_EQ(ReadUntil(fd, "\r\n<"), command + "\r\n" + expected + "<");
  }
  ::close(fd);
}

TEST_F(ExchangeTool, GarbageNeverBringsItDown) {
  std::mt19937 random(7);
  for (int caller = 0; caller < 3; ++caller) {
    const int fd = ConnectTo(Exchange.Port);
    ASSERT_GE(fd, 0);
    std::string noise(64 * 1024, '\0');
    for (char& c : noise) c = static_cast<char>(random() % 3 == 0 ? 0xFF : random() & 0xFF);
    SendAll(fd, noise);
    ReceiveFor(fd, 200);
    ::close(fd);  // gone mid-session, with output unread
  }
  // The session after: end any command, interrupt whatever runs, then ask.
  const int fd = LogIn("DEC-VT100");
  SendAll(fd, "\xFF\xF0\x03HELP\r");
  EXPECT_NE(ReadUntil(fd, "BYE, LOGOFF     end the session\r\n<").find("LIST [N]"), std::string::npos);
  ::close(fd);
  EXPECT_TRUE(Exchange.StopsCleanly());
}

TEST_F(ExchangeTool, ASecondCallerIsToldTheMonitorIsBusy) {
  const int first = LogIn("DEC-VT100");
  const int second = ConnectTo(Exchange.Port);
  ASSERT_GE(second, 0);
  EXPECT_EQ(ReceiveFor(second, 5000), "\r\nQUORIX MAINTENANCE MONITOR: BUSY, ONE SESSION AT A TIME\r\n");
  ::close(second);
  SendAll(first, "BYE\r");
  EXPECT_NE(ReceiveFor(first, 5000).find("SESSION ENDED"), std::string::npos);
  ::close(first);
  // The next caller is served.
  const int third = LogIn("DEC-VT100");
  EXPECT_NE(Banner.find("Terminal type: DEC-VT100"), std::string::npos);
  ::close(third);
}

TEST(ExchangeToolOptions, UsageErrorsAndFailuresAreOneLine) {
  EXPECT_EQ(RunTool({"exchange"}).ExitCode, 2);
  EXPECT_EQ(RunTool({"exchange", "--listen", "127.0.0.1:99999"}).ExitCode, 2);
  EXPECT_EQ(RunTool({"exchange", "--listen", "1", "--serial", "/dev/null"}).ExitCode, 2);
  const TProcessRun missing = RunTool({"exchange", "--listen", "127.0.0.1:0", "--samples", "/nonexistent"});
  EXPECT_EQ(missing.ExitCode, 1);
  EXPECT_EQ(missing.Err, "qel exchange: /nonexistent/exchange.trace: No such file or directory\n");
  TLoopbackHost taken;
  const TProcessRun busy = RunTool({"exchange", "--listen", QString::fromStdString(taken.Address())});
  EXPECT_EQ(busy.ExitCode, 1);
  EXPECT_EQ(busy.Err, "qel exchange: " + taken.Address() + ": Address already in use\n");
}

namespace {

// A tty takes write only.
void TtyWrite(int fd, const std::string& bytes) {
  [[maybe_unused]] const ssize_t n = ::write(fd, bytes.data(), bytes.size());
}

}  // namespace

TEST(ExchangeToolSerial, ServesPlainBytesOnATtyAndEndsWhenTheLineHangsUp) {
  int master = -1;
  int slave = -1;
  char name[256];
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  // The exchange must not inherit the master, or the line never hangs up.
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(slave, F_SETFD, FD_CLOEXEC);
  QProcess exchange;
  exchange.start(QEL_TOOL, {"exchange", "--serial", name});
  ASSERT_TRUE(exchange.waitForStarted(5000));
  const std::string banner = ReadUntil(master, "\r\n<");
  ::close(slave);  // the exchange has its own by now
  EXPECT_EQ(banner.find('\xFF'), std::string::npos);  // no Telnet on a serial line
  EXPECT_NE(banner.find("QUORIX MAINTENANCE MONITOR"), std::string::npos) << banner;
  TtyWrite(master, "help\r");
  EXPECT_NE(ReadUntil(master, "end the session\r\n<").find("help\r\nSTATUS "), std::string::npos);
  // After BYE the next byte starts another session.
  TtyWrite(master, "BYE\r");
  EXPECT_EQ(ReadUntil(master, "SESSION ENDED\r\n"), "BYE\r\nSESSION ENDED\r\n");
  TtyWrite(master, "\r");
  EXPECT_NE(ReadUntil(master, "\r\n<").find("QUORIX MAINTENANCE MONITOR"), std::string::npos);
  ::close(master);
  EXPECT_TRUE(exchange.waitForFinished(5000));
  EXPECT_EQ(exchange.exitCode(), 0) << exchange.readAllStandardError().toStdString();
}
