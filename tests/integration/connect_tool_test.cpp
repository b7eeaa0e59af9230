// qel connect's outputs for a host that sends and hangs up: the log text, a
// trace decoded through mode files while it arrives, and the host's transfer
// sequence, which writes only into --receive-dir.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/settingsfile.h"
#include "integration/integration_support.h"

namespace {

TEST(ConnectTool, AHostTransferWritesOnlyWhereItIsToldAndTheTextAfterItIsShown) {
  TTempDir dir;
  const std::string precious = dir.file("precious.txt");
  WriteFileBytes(precious, "PRECIOUS USER DATA");
  TSetupRecord settings = DefaultSettings();
  settings.Port = 0;  // no Telnet: the bytes are the host's exactly
  settings.SendReceiveFileName.assign(precious);
  ASSERT_EQ(WriteSettingsRecord(dir.file("s.mse"), settings), 0u);
  const std::string stream = "before\x1b[>0;1;10r0123456789after\r\n";
  const auto run = [&](const QStringList& more) {
    TOneShotHost host(stream);
    const QString mse = QString::fromStdString(dir.file("s.mse"));
    return RunTool(QStringList{"connect", "--host", host.Address(), "--settings", mse, "--log", "--for", "10"} + more);
  };
  const TProcessRun shown = run({});
  EXPECT_EQ(shown.ExitCode, 0) << shown.Err;
  EXPECT_EQ(shown.Out, "before0123456789after\n");
  EXPECT_EQ(ReadFileBytes(precious), "PRECIOUS USER DATA");

  std::filesystem::create_directory(dir.file("in"));
  const TProcessRun stored = run({"--receive-dir", QString::fromStdString(dir.file("in"))});
  EXPECT_EQ(stored.ExitCode, 0) << stored.Err;
  EXPECT_EQ(stored.Out, "beforeafter\n");
  EXPECT_EQ(ReadFileBytes(dir.file("in/precious.txt")), "0123456789");
  EXPECT_EQ(ReadFileBytes(precious), "PRECIOUS USER DATA");
}

TEST(ConnectTool, DecodesATraceAsItArrives) {
  TTempDir dir;
  WriteFileBytes(dir.file("modes.txt"), "NEWMODE pair = STRUCT (a INT, b BIT(8));\nMESSAGE 7 = pair;\n");
  const TProcessRun compiled = RunTool({"compile", QString::fromStdString(dir.file("modes.txt")), "-o",
                                     QString::fromStdString(dir.file("modes"))});
  ASSERT_EQ(compiled.ExitCode, 0) << compiled.Err;

  const std::string header = "00007        0001_0002 0003_0004 0310 0800 .... ....:.... ....  SND  12:34:56.78";
  TOneShotHost host(header + "\r\nDATA = 3412 00AB\r\nplain text\r\n");
  const TProcessRun run = RunTool({"connect", "--host", host.Address(), "--decode", "--mode",
                                QString::fromStdString(dir.file("modes")), "--for", "10"});
  EXPECT_EQ(run.ExitCode, 0) << run.Err;
  // The message's data walked through its mode: a 16-bit INT, then 8 bits.
  EXPECT_EQ(run.Out, header + "\n  A = 3412\n  B = AB\nplain text\n");
}

// The refusal is the one line of the failure: the box that reports it is not
// printed as a note besides.
TEST(ConnectTool, ARefusedCallIsOneLineNamingTheHost) {
  // Bound but not listening: a call to it is refused.
  const int bound = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = LoopbackAddress(0);
  ASSERT_EQ(bind(bound, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  const std::string host = "127.0.0.1:" + std::to_string(PortOf(bound));
  const TProcessRun run = RunTool({"connect", "--host", QString::fromStdString(host), "--for", "10"});
  ::close(bound);
  EXPECT_EQ(run.ExitCode, 1);
  EXPECT_EQ(run.Err, "qel connect: " + host + ": Connection refused\n");
  EXPECT_EQ(run.Out, "");
}

TEST(ConnectTool, ADeviceThatCannotBeOpenedIsOneLine) {
  TTempDir dir;
  const std::string device = dir.file("ttyNone");
  const TProcessRun run = RunTool({"connect", "--serial", QString::fromStdString(device), "--for", "1"});
  EXPECT_EQ(run.ExitCode, 1);
  EXPECT_EQ(run.Err, "qel connect: " + device + ": Error accessing specified device (Error: 2)\n");
}

}  // namespace
