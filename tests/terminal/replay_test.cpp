// qel replay, run as the engineers run it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "app/settingsfile.h"
#include "core/settings.h"
#include "support/testing.h"
#include "support/toolruns.h"

namespace {

// Runs `qel replay ARGS` with `input` on standard input.
TQelRun Replay(const TTempDir& dir, const std::vector<std::string>& args, const std::string& input = "") {
  std::string arguments = "replay";
  for (const auto& a : args) arguments += " " + ShellQuoted(a);
  return RunQel(dir, arguments, input);
}

TEST(QelReplay, ScrollbackPrintsEveryStoreLine) {
  TTempDir dir;
  std::string input;
  for (int i = 1; i <= 30; ++i) input += "line " + std::to_string(i) + "\r\n";
  const auto r = Replay(dir, {"--scrollback", "-"}, input);
  ASSERT_EQ(r.Status, 0) << r.Err;
  const auto lines = SplitLines(r.Out);
  // 101 blank lines at start; the 30 line feeds at the bottom row push 7 of
  // the screen's rows into the history.
  ASSERT_EQ(lines.size(), 108u);
  EXPECT_EQ((std::vector<std::string>{lines[76], lines[77], lines[106], lines[107]}),
            (std::vector<std::string>{"", "line 1", "line 30", ""}));
}

TEST(QelReplay, LogPrintsTheTextAsDisplayed) {
  TTempDir dir;
  const auto r = Replay(dir, {"--log", "--emulation", "vt100", "-"},
                        "one \x1B[1mtwo\x1B[0m\r\n\x07three\x1B[5;5H\tfour\r\n");
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, "one two\nthree\tfour\n");
}

// The screen rows without trailing blanks (CUP stops at column 80, the text
// beyond is printed too), a row of the 132 columns, high bytes through code
// page 437, IAC as data without Telnet.
TEST(QelReplay, ShowsEveryColumnAndHighBytesAsTheViewDoes) {
  TTempDir dir;
  const std::string screen = "first   \r\n\x1B[1msecond\x1B[m\x1B[24;100HZ";
  for (const auto& [args, input, row, text] :
       {std::tuple<std::vector<std::string>, std::string, int, std::string>{
            {"--emulation", "vt100", "-"}, screen, 0, "first"},
        {{"--emulation", "vt100", "-"}, screen, 1, "second"},
        {{"--emulation", "vt100", "-"}, screen, 23, std::string(79, ' ') + "Z"},
        {{"--emulation", "quorix", "-"}, "\x1B[2w\x1B[3;131HXY", 2, std::string(130, ' ') + "XY"},
        {{"--emulation", "quorix", "-"}, "\xC4\xB3\x81\xE1 \x1B(0lqk", 0,
         "\u2500\u2502\u00FC\u00DF \u250C\u2500\u2510"},
        {{"--answers", dir.file("answers.bin"), "-"}, "\xFF\xFD\x18", 0, "\u00A0\u00B2"}}) {
    const auto r = Replay(dir, args, input);
    ASSERT_EQ(r.Status, 0) << r.Err;
    ASSERT_EQ(SplitLines(r.Out).size(), 24u);
    EXPECT_EQ(SplitLines(r.Out)[row], text);
  }
  EXPECT_EQ(ReadFileBytes(dir.file("answers.bin")), "");  // nothing answered without Telnet
}

TEST(QelReplay, TelnetCommandsAreAnsweredAndNotShown) {
  TTempDir dir;
  const std::string answers = dir.file("answers.bin");
  const auto r = Replay(dir, {"--telnet", "--answers", answers, "--emulation", "vt220", "-"},
                        "\xFF\xFD\x18login: \xFF\xFA\x18\x01\xFF\xF0\xFF\xFF");
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(SplitLines(r.Out)[0], "login: \u00A0");
  EXPECT_EQ(ReadFileBytes(answers),
            "\xFF\xFB\x18\xFF\xFA\x18" + std::string(1, '\0') + "DEC-VT220\xFF\xF0");
}

TEST(QelReplay, ReadsAFileAndTheSettingsFile) {
  TTempDir dir;
  TSetupRecord settings;
  settings.ApplyDefaults();
  settings.Emulation = emVT100;
  settings.Wrap = 0;
  ASSERT_EQ(WriteSettingsRecord(dir.file("vt.mse"), settings), 0u);
  WriteFileBytes(dir.file("stream.vt"), std::string(85, 'x') + "\xC1");
  const auto r = Replay(dir, {"--settings", dir.file("vt.mse"), dir.file("stream.vt")});
  ASSERT_EQ(r.Status, 0) << r.Err;
  // Wrap off: everything beyond column 80 lands in column 80; bit 7 stripped.
  EXPECT_EQ(SplitLines(r.Out)[0], std::string(79, 'x') + "A");
  EXPECT_EQ(SplitLines(r.Out)[1], "");
  // --emulation overrides the file's type: QUORIX keeps bit 7.
  const auto quorix = Replay(dir, {"--settings", dir.file("vt.mse"), "--emulation", "quorix", "-"}, "\xC1");
  ASSERT_EQ(quorix.Status, 0) << quorix.Err;
  EXPECT_EQ(SplitLines(quorix.Out)[0], "\u2534");
}

TEST(QelReplay, AHostTransferWritesNothingUnlessAReceiveDirectoryIsGiven) {
  TTempDir dir;
  const std::string precious = dir.file("precious.txt");
  WriteFileBytes(precious, "PRECIOUS USER DATA");
  TSetupRecord settings;
  settings.ApplyDefaults();
  settings.SendReceiveFileName.assign(precious);
  ASSERT_EQ(WriteSettingsRecord(dir.file("s.mse"), settings), 0u);
  const std::string stream = "before\x1b[>0;1;10r0123456789after";
  const std::string answers = dir.file("answers.bin");

  // Refused: the host hears N, the file is untouched, every byte is shown.
  auto r = Replay(dir, {"--settings", dir.file("s.mse"), "--answers", answers, "-"}, stream);
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(ReadFileBytes(precious), "PRECIOUS USER DATA");
  EXPECT_EQ(ReadFileBytes(answers), "N");
  EXPECT_EQ(SplitLines(r.Out)[0], "before0123456789after");

  // Asked for: the ten bytes go into the directory under the configured name.
  std::filesystem::create_directory(dir.file("in"));
  r = Replay(dir, {"--settings", dir.file("s.mse"), "--answers", answers, "--receive-dir", dir.file("in"), "-"},
             stream);
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(ReadFileBytes(dir.file("in/precious.txt")), "0123456789");
  EXPECT_EQ(ReadFileBytes(precious), "PRECIOUS USER DATA");
  EXPECT_EQ(ReadFileBytes(answers), "Y");
  EXPECT_EQ(SplitLines(r.Out)[0], "beforeafter");

  // A host-started send is refused either way.
  r = Replay(dir, {"--settings", dir.file("s.mse"), "--answers", answers, "--receive-dir", dir.file("in"), "-"},
             "\x1b[>1s");
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(ReadFileBytes(answers), "N");

  r = Replay(dir, {"--receive-dir", dir.file("none"), "-"}, "x");
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find(dir.file("none")), std::string::npos) << r.Err;
}

TEST(QelReplay, UsageErrorsExitWithTwo) {
  TTempDir dir;
  for (const auto& args : std::vector<std::vector<std::string>>{
           {},
           {"--emulation"},
           {"--screen", "--log", "-"},
           {"a.vt", "b.vt"},
       }) {
    const auto r = Replay(dir, args);
    EXPECT_EQ(r.Status, 2) << (args.empty() ? "(none)" : args[0]);
    EXPECT_NE(r.Err.find("usage: qel replay"), std::string::npos);
    EXPECT_EQ(r.Out, "");
  }
}

// An answers file that cannot be written, a directory or a named pipe that
// nothing reads or writes stop the run before it starts: one line on stderr,
// status 1, no screen.
TEST(QelReplay, FilesThatCannotBeUsedStopTheRunFirst) {
  TTempDir dir;
  const std::string nowhere = dir.file("no/such/dir/answers.bin");
  const std::string pipe = dir.file("pipe");
  std::filesystem::create_directory(dir.file("recordings"));
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  const struct {
    std::vector<std::string> Args;
    std::string Input, Error;
  } cases[] = {
      {{"--answers", nowhere, "-"}, "x", nowhere + ": No such file or directory"},
      {{"--answers", pipe, "-"}, "\x1B[6n", pipe + ": a named pipe with nothing reading from it"},
      {{dir.file("recordings")}, "", dir.file("recordings") + ": Is a directory"},
      {{pipe}, "", pipe + ": a named pipe with nothing writing to it"},
  };
  for (const auto& c : cases) {
    const auto r = Replay(dir, c.Args, c.Input);
    EXPECT_EQ(Ending(r), "exit 1: qel replay: " + c.Error + "\n");
    EXPECT_EQ(r.Out, "");
  }
  const auto r = Replay(dir, {"-"});  // an empty input is an empty screen
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Out, std::string(24, '\n'));
}

TEST(QelReplay, ReadsANamedPipeWhileSomethingWritesToIt) {
  TTempDir dir;
  const std::string pipe = dir.file("pipe");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  std::atomic<pid_t> writerThread{0};
  std::thread writer([&] {
    writerThread = static_cast<pid_t>(::syscall(SYS_gettid));
    const int fd = ::open(pipe.c_str(), O_WRONLY);  // waits for the reader
    if (fd < 0) return;
    [[maybe_unused]] const ssize_t n = ::write(fd, "piped\r\n", 7);
    ::close(fd);
  });
  // Until the writer sits in its open.
  const std::string busy = std::to_string(SYS_openat) + " ";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    const pid_t tid = writerThread;
    if (tid != 0 && ReadFileBytes("/proc/self/task/" + std::to_string(tid) + "/syscall").rfind(busy, 0) == 0) break;
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the writer never opened the pipe";
    std::this_thread::yield();
  }
  const auto r = Replay(dir, {pipe});
  // Frees a writer still waiting, should the run have refused the pipe.
  const int release = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
  writer.join();
  if (release >= 0) ::close(release);
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(SplitLines(r.Out).at(0), "piped");
}

// Output that could not be written is a failure, not a silently cut result.
TEST(QelReplay, AnOutputThatCannotBeWrittenIsAFailure) {
  TTempDir dir;
  EXPECT_EQ(Ending(RunQelOnAFullDisk(dir, "replay -")),
            "exit 1: qel replay: standard output: No space left on device\n");
}

TEST(QelReplay, MalformedInputNeitherCrashesNorHangs) {
  TTempDir dir;
  std::string garbage;
  for (int i = 0; i < 20000; ++i) garbage.push_back(static_cast<char>((i * 7919 + i / 13) & 0xFF));
  for (const char* type : {"quorix", "vt100", "vt220", "tn3270"}) {
    const auto r = Replay(dir, {"--telnet", "--emulation", type, "--scrollback", "-"}, garbage);
    EXPECT_EQ(r.Status, 0) << type << ": " << r.Err;
    EXPECT_GE(SplitLines(r.Out).size(), 101u);
  }
}

}  // namespace
