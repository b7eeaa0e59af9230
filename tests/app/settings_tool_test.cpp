#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "support/testing.h"

namespace {
TQelRun Qel(const TTempDir& dir, const std::string& args) { return RunQel(dir, "settings " + args); }

std::size_t LineCount(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}
}  // namespace

TEST(QelSettings, DefaultsPrintEveryNamedFieldOnce) {
  TTempDir dir;
  const TQelRun run = Qel(dir, "--defaults");
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out.substr(0, 13), "ComPort=com1\n");
  EXPECT_NE(run.Out.find("\nAnswerBack=<2>QELWIN-32<13><4>\n"), std::string::npos);
  EXPECT_NE(run.Out.find("\nSoftKeys[11]=\n"), std::string::npos);
  EXPECT_NE(run.Out.find("\nIEAttr=fg:0xFF0000 bg:0xFFFFFF style:bold size:8\n"), std::string::npos);
  EXPECT_EQ(run.Out.find("Reserved"), std::string::npos);
  // 99 single fields (counted from the layout table), 4 trigger entries, 36
  // soft keys; then the 11 fields kept after the record.
  EXPECT_EQ(LineCount(run.Out), 99u + 4 + 36 + 11);
  EXPECT_NE(run.Out.find("\nSshPort=22\n"), std::string::npos);
}

TEST(QelSettings, SetWritesTheFileAndGetReadsIt) {
  TTempDir dir;
  const std::string file = dir.file("site.mse");
  TQelRun run = Qel(dir, "--defaults --set Emulation=1 --set 'SoftKeys[0]=ls<CR>' -o " + file + " --get Emulation");
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out, "Emulation=vt100\n");
  const std::string bytes = ReadFileBytes(file);
  ASSERT_EQ(bytes.size(), 14044u);
  EXPECT_EQ(bytes[5], 1);
  EXPECT_EQ(bytes.substr(2500, 7), std::string("\x06ls<CR>"));

  // --in-place writes the changes back into the file read.
  run = Qel(dir, file + " --set LocalEcho=1 --get LocalEcho --get SoftKeys[0] --in-place");
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out, "LocalEcho=1\nSoftKeys[0]=ls<CR>\n");
  EXPECT_EQ(ReadFileBytes(file)[7], 1);
  EXPECT_EQ(ReadFileBytes(file)[5], 1);
}

TEST(QelSettings, FailuresNameTheFileAndExitOne) {
  TTempDir dir;
  TQelRun run = Qel(dir, dir.file("missing.mse"));
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Err, "qel settings: " + dir.file("missing.mse") + ": The system cannot find the file specified.\n");
  EXPECT_EQ(run.Out, "");

  WriteFileBytes(dir.file("short.mse"), std::string(100, '\0'));
  run = Qel(dir, dir.file("short.mse"));
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Err.find("short.mse: shorter than a settings record"), std::string::npos);

  run = Qel(dir, "--defaults -o " + dir.file("no/dir/out.mse"));
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Err.find("out.mse: "), std::string::npos);
}

// The record is written beside the target and renamed over it: a named pipe
// (or a device) given as the target must stay what it is.
TEST(QelSettings, ANamedPipeIsNotReplacedByTheRecord) {
  TTempDir dir;
  const std::string pipe = dir.file("settings.pipe");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  const TQelRun run = Qel(dir, "--defaults --get Emulation -o " + pipe);
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Err, "qel settings: " + pipe + ": not a regular file\n");
  EXPECT_EQ(run.Out, "");
  struct stat st {};
  ASSERT_EQ(stat(pipe.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST(QelSettings, UsageErrorsExitTwo) {
  TTempDir dir;
  for (const std::string args : {"", "--defaults x.mse", "--bogus", "--defaults --set Emulation",
                                  "--defaults --set Emulation=9", "--defaults --get Nope", "--defaults --get",
                                  "a.mse b.mse"}) {
    const TQelRun run = Qel(dir, args);
    EXPECT_EQ(run.Status, 2) << args;
    EXPECT_NE(run.Err.find("qel settings: "), std::string::npos) << args;
  }
  const TQelRun run = Qel(dir, "--defaults --set Emulation=9");
  EXPECT_EQ(run.Err.substr(0, run.Err.find('\n')), "qel settings: --set Emulation: value 9 out of range 0..3 (or one of quorix, vt100, vt220, tn3270)");
}
