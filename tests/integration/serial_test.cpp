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
  ExpectDataUnderABoxShownAfterIt(w, [&](const std::string& bytes) {
    [[maybe_unused]] const ssize_t n = write(master, bytes.data(), bytes.size());
  });
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
}

}  // namespace
