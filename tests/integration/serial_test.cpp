// qel connect on the serial side: socat serving a pty with a small program
// behind it, and the usage the serial options refuse.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "integration/integration_support.h"

namespace {

TEST(Serial, QelConnectTalksToAProgramBehindSocat) {
  TTempDir dir;
  const std::string script = dir.file("peer.sh");
  std::ofstream(script) << "#!/bin/sh\nprintf 'peer ready\\r\\n'\nread line\nprintf 'got %s\\r\\n' \"$line\"\nsleep 30\n";
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  const std::string link = dir.file("tty");
  TSocat socat(dir.file("socat.log"), {"PTY,rawer,link=" + link, "EXEC:" + script});
  ASSERT_TRUE(socat.Ready()) << "socat did not make its pty";

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
                                       QStringList{"connect", "--host", "x", "--screen", "--log"},
                                       QStringList{"connect", "--host", "x", "--allow", "10.0.0.0/8"}}) {
    const TProcessRun run = RunTool(arguments);
    EXPECT_EQ(run.ExitCode, 2) << arguments.join(' ').toStdString();
    EXPECT_NE(run.Err.find("usage: qel connect"), std::string::npos);
  }
}

}  // namespace
