// The serial side on pseudo-terminals: a pty pair whose far end goes away,
// and qel connect against socat serving a pty with a small program behind it.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "integration/integration_support.h"
#include "log/errors.h"

namespace {

TEST(Serial, ThePortGoingAwayGivesTheDisconnectedStateAndReceivingStopsCleanly) {
  int master = -1, slave = -1;
  char name[128] = {};
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  ::close(slave);
  TWindow w;
  w.Comm.SetPortDevices({name});
  w.S.Settings.ComPort = 0;
  w.S.Settings.FlowControl = fcNone;
  ASSERT_EQ(w.S.Transmit->ConnectionControl(ckSerial, ctOpen), crSerial) << (w.Boxes.empty() ? "" : w.Boxes[0]);
  w.Events.Controls.SerialConnectButton = false;  // as the Connect command leaves them
  w.Events.Controls.SerialDisconnectButton = true;

  [[maybe_unused]] ssize_t n = write(master, "port is up\r\n", 12);
  ASSERT_TRUE(RunUntil([&] { return w.Shows("port is up"); })) << w.ScreenText();
  ::close(master);
  ASSERT_TRUE(RunUntil([&] { return !w.S.Transmit->SerialConnected; }));
  EXPECT_TRUE(w.Events.Controls.SerialConnectButton);
  EXPECT_FALSE(w.Events.Controls.SerialDisconnectButton);
  EXPECT_FALSE(w.S.Status.Connected);
  w.S.Transmit->SendByte('x');  // nothing open: dropped
  RunFor(100);
  EXPECT_TRUE(w.Boxes.empty());
  w.S.Transmit->ConnectionControl(ckSerial, ctClose);
}

TEST(Serial, BytesArrivingUnderABoxAreShownAfterItInOrder) {
  int master = -1, slave = -1;
  char name[128] = {};
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  ::close(slave);
  TWindow w;
  w.Comm.SetPortDevices({name});
  w.S.Settings.FlowControl = fcNone;
  ASSERT_EQ(w.S.Transmit->ConnectionControl(ckSerial, ctOpen), crSerial);
  [[maybe_unused]] ssize_t n = write(master, "AAA", 3);
  ASSERT_TRUE(RunUntil([&] { return w.Shows("AAA"); }));

  std::string underBox;
  w.Desktop.BoxOpenMs = 400;
  w.Desktop.OnMessage = [&](const TMessageBox&) {
    underBox = w.ScreenText();
    return TMsgResult::OK;
  };
  QTimer::singleShot(100, [&] { n = write(master, "BBB", 3); });
  QTimer::singleShot(200, [&] { n = write(master, "CCC", 3); });
  const auto start = std::chrono::steady_clock::now();
  w.S.Errors->ReportError(ekMessage, 0, "Disk trouble");
  // The message loop ran under the box: its own timer ended it on time.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
  EXPECT_EQ(underBox.find("BBB"), std::string::npos) << underBox;
  EXPECT_TRUE(RunUntil([&] { return w.Shows("AAABBBCCC"); }, 3000)) << w.ScreenText();
  ::close(master);
}

TEST(Serial, QelConnectTalksToAProgramBehindSocat) {
  TTempDir dir;
  const std::string script = dir.file("peer.sh");
  std::ofstream(script) << "#!/bin/sh\nprintf 'peer ready\\r\\n'\nread line\nprintf 'got %s\\r\\n' \"$line\"\nsleep 30\n";
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  const std::string link = dir.file("tty");
  TChild socat({"socat", "PTY,rawer,link=" + link, "EXEC:" + script});
  ASSERT_TRUE(RunUntil([&] { return std::filesystem::exists(link); }, 5000));

  const TProcessRun run = RunTool({"connect", "--serial", QString::fromStdString(link), "--baud", "115200", "--send",
                                "<P:3>abc<CR>", "--for", "2", "--scrollback"});
  EXPECT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_NE(run.Out.find("peer ready\n"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("got abc"), std::string::npos) << run.Out;
}

TEST(Serial, QelConnectRefusesUsageErrorsWithStatus2) {
  for (const QStringList& arguments : {QStringList{"connect"},
                                       QStringList{"connect", "--serial", "/dev/null", "--host", "x"},
                                       QStringList{"connect", "--host", "x", "--baud", "9600"},
                                       QStringList{"connect", "--serial", "/dev/null", "--baud", "1234"},
                                       QStringList{"connect", "--serial", "/dev/null", "--listen"},
                                       QStringList{"connect", "--host", "x", "--decode"},
                                       QStringList{"connect", "--host", "x", "--for", "0"},
                                       QStringList{"connect", "--host", "x", "--screen", "--log"}}) {
    const TProcessRun run = RunTool(arguments);
    EXPECT_EQ(run.ExitCode, 2) << arguments.join(' ').toStdString();
    EXPECT_NE(run.Err.find("usage: qel connect"), std::string::npos);
  }
  const TProcessRun missing = RunTool({"connect", "--serial", "/nonexistent/tty"});
  EXPECT_EQ(missing.ExitCode, 1);
  EXPECT_NE(missing.Err.find("/nonexistent/tty: Error accessing specified device (Error: 2)"), std::string::npos)
      << missing.Err;
}

}  // namespace
