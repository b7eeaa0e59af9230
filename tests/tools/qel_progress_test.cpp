// Long work: progress on standard error only while it is a terminal, and
// Ctrl-C stopping a run that still prints what was done.
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "progress.h"
#include "support/testing.h"

extern char** environ;

namespace {
using namespace std::chrono_literals;
using namespace std::string_literals;

// qel with standard input from inputFd, standard output to a file and
// standard error to errorFd.
pid_t SpawnQel(const std::vector<std::string>& args, int inputFd, const std::string& outFile, int errorFd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inputFd, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, errorFd, 2);
  std::vector<std::string> all = {QEL_TOOL};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, QEL_TOOL, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return failed == 0 ? pid : -1;
}

// Waits at most 20 s; a run that does not end is killed and reported as -1.
int ExitStatus(pid_t pid) {
  int raw = 0;
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (waitpid(pid, &raw, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &raw, 0);
      return -1;
    }
    std::this_thread::sleep_for(5ms);
  }
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

// Whether the process has a handler for SIGINT (its SigCgt mask), so that a
// Ctrl-C sent now is caught rather than fatal.
bool CatchesInterrupt(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("SigCgt:", 0) != 0) continue;
    const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
    return (mask & (1ull << (SIGINT - 1))) != 0;
  }
  return false;
}

bool WaitUntil(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < deadline) {
    if (condition()) return true;
    std::this_thread::sleep_for(5ms);
  }
  return false;
}

std::string ReadAvailable(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) return text;
    text.append(buffer, static_cast<std::size_t>(got));
  }
}

// qel fed input through a pipe that stays open, with standard output and
// error to out.txt and err.txt, given Ctrl-C once it would catch it and has
// taken the input (a Ctrl-C before its first read stops it after 0 bytes):
// its exit status.
int InterruptedAfter(const TTempDir& dir, const std::vector<std::string>& args, const std::string& input) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
  const int err = open(dir.file("err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const pid_t pid = SpawnQel(args, pipeFds[0], dir.file("out.txt"), err);
  close(pipeFds[0]);
  close(err);
  EXPECT_EQ(write(pipeFds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
  EXPECT_TRUE(WaitUntil([&] { return CatchesInterrupt(pid); }));
  EXPECT_TRUE(WaitUntil([&] {
    int unread = 0;
    return ioctl(pipeFds[1], FIONREAD, &unread) == 0 && unread == 0;
  }));
  kill(pid, SIGINT);
  const int status = ExitStatus(pid);
  close(pipeFds[1]);
  return status;
}

// A replay fed through a pipe in two parts with a pause between, so that
// at least one progress line falls due.
struct TFedRun {
  int Status = -1;
  std::string Out, Err;
};

TFedRun ReplayThroughPipe(const TTempDir& dir, const std::vector<std::string>& args, bool terminal) {
  TFedRun run;
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return run;
  int master = -1, slave = -1;
  const std::string errFile = dir.file("err.txt");
  if (terminal) {
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return run;
    fcntl(master, F_SETFL, O_NONBLOCK);
    // Only the child's standard error may hold the terminal open.
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
  } else {
    slave = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  }
  const pid_t pid = SpawnQel(args, pipeFds[0], dir.file("out.txt"), slave);
  close(pipeFds[0]);
  close(slave);
  const std::string part(64 * 1024, 'x');
  EXPECT_EQ(write(pipeFds[1], part.data(), part.size()), static_cast<ssize_t>(part.size()));
  std::string seen;
  // Long enough for a redraw (a quarter of a second) to fall due.
  const auto until = std::chrono::steady_clock::now() + 700ms;
  while (std::chrono::steady_clock::now() < until) {
    if (terminal) seen += ReadAvailable(master);
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(write(pipeFds[1], part.data(), part.size()), static_cast<ssize_t>(part.size()));
  close(pipeFds[1]);
  run.Status = ExitStatus(pid);
  if (terminal) {
    seen += ReadAvailable(master);
    close(master);
    run.Err = seen;
  } else {
    run.Err = ReadFileBytes(errFile);
  }
  run.Out = ReadFileBytes(dir.file("out.txt"));
  return run;
}
}  // namespace

TEST(QelProgress, ShownOnATerminalAndClearedAtTheEnd) {
  TTempDir dir;
  const TFedRun run = ReplayThroughPipe(dir, {"replay", "-"}, true);
  ASSERT_EQ(run.Status, 0) << run.Err;
  // A pipe has no size: bytes done and the rate, no time left.
  EXPECT_NE(run.Err.find("\rreplaying standard input: 73.7 kB, "), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find("/s\x1b[K"), std::string::npos) << run.Err;
  EXPECT_EQ(run.Err.find("left"), std::string::npos) << run.Err;
  // The last thing written clears the line.
  ASSERT_GE(run.Err.size(), 4u);
  EXPECT_EQ(run.Err.substr(run.Err.size() - 4), "\r\x1b[K");
  EXPECT_EQ(run.Out.substr(0, 8), "xxxxxxxx");
}

TEST(QelProgress, QuietOrNotATerminalShowsNothing) {
  TTempDir dir;
  const TFedRun quiet = ReplayThroughPipe(dir, {"replay", "--quiet", "-"}, true);
  EXPECT_EQ(std::pair(quiet.Status, quiet.Err), std::pair(0, ""s));
  const TFedRun file = ReplayThroughPipe(dir, {"replay", "-"}, false);
  EXPECT_EQ(std::tuple(file.Status, file.Err, file.Out), std::tuple(0, "", quiet.Out));
}

// A file's size is known: the line adds it and the time left at the rate so far.
TEST(QelProgress, AKnownSizeGivesTheTimeLeft) {
  EXPECT_EQ(TProgress::Line("decoding t.txt", 2000000, 8000000, 2.0),
            "decoding t.txt: 2.0 MB of 8.0 MB, 1.0 MB/s, 6 s left");
  EXPECT_EQ(TProgress::Line("decoding t.txt", 500000, 200000000, 1.0),
            "decoding t.txt: 500.0 kB of 200.0 MB, 500.0 kB/s, 6 min 39 s left");
  EXPECT_EQ(TProgress::Line("replaying -", 3000000000, -1, 10.0), "replaying -: 3.00 GB, 300.0 MB/s");
  // Before any time has passed there is no rate to give.
  EXPECT_EQ(TProgress::Line("compiling a.mode", 0, 4000000, 0.0), "compiling a.mode: 0.0 kB of 4.0 MB");
}

TEST(QelInterrupt, CtrlCPrintsWhatWasDoneAndExits130) {
  TTempDir dir;
  // The writer stays open: the replay waits for more when Ctrl-C comes.
  EXPECT_EQ(InterruptedAfter(dir, {"replay", "-"}, "hello"), 130);
  const std::string out = ReadFileBytes(dir.file("out.txt"));
  EXPECT_EQ(out.substr(0, 6), "hello\n");
  EXPECT_EQ(ReadFileBytes(dir.file("err.txt")), "qel replay: note: stopped by Ctrl-C after 5 bytes\n");
}

TEST(QelInterrupt, ADecodeStoppedByCtrlCPrintsItsLines) {
  TTempDir dir;
  // A mode set with one message: the decoded header line shows it was printed.
  WriteFileBytes(dir.file("m.mode"), "NEWMODE a = INT;\nMESSAGE 1 = HEXDUMP;\n");
  ASSERT_EQ(RunQel(dir, "compile " + dir.file("m.mode") + " -o " + dir.file("m")).Status, 0);
  const std::vector<std::string> args = {"decode", "--mode", dir.file("m"), "-"};
  EXPECT_EQ(InterruptedAfter(dir, args, "plain text before any trace\r\n"), 130);
  EXPECT_EQ(ReadFileBytes(dir.file("out.txt")), "plain text before any trace\n");
  EXPECT_NE(ReadFileBytes(dir.file("err.txt")).find("stopped by Ctrl-C after 29 bytes"), std::string::npos);
}
