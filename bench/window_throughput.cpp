// The window end to end: a loopback peer sends a stream into a terminal
// running under Xvfb and times it from the first byte until the terminal has
// answered a cursor position request sent after the data (and, for qelwin,
// until its screen was drawn for the last time). The same streams go, in the
// same run, into xterm and urxvt running socat in a raw pty. Also: the
// longest delay of a 10-ms timer on qelwin's window thread during the burst,
// qelwin's memory holding 1,000,000 scroll-back lines, and a week of mixed
// exchange output (10,000,000 lines) taken in and held. Each stream figure
// is the best of three runs.
//   bench_window_throughput [MEGABYTES]      (run by bench/run)
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/tempdir.h"
#include "exchange_output.h"
#include "receive_support.h"

namespace {
using TClock = std::chrono::steady_clock;

std::string BuildDir() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  std::string path(self, n > 0 ? static_cast<std::size_t>(n) : 0);
  path = path.substr(0, path.rfind('/'));  // build-bench/bench
  return path.substr(0, path.rfind('/'));
}

bool OnPath(const char* program) {
  const std::string command = std::string("command -v ") + program + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

// A listening loopback socket on a free port.
struct TListener {
  int Fd = -1;
  int Port = 0;
  TListener() {
    Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(Fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(Fd, 1);
    socklen_t length = sizeof address;
    getsockname(Fd, reinterpret_cast<sockaddr*>(&address), &length);
    Port = ntohs(address.sin_port);
  }
  ~TListener() { close(Fd); }
  int Accept(int timeoutMs) const {
    pollfd p{Fd, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return -1;
    return accept4(Fd, nullptr, nullptr, SOCK_CLOEXEC);
  }
};

pid_t Spawn(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {}) {
  const pid_t pid = fork();
  if (pid == 0) {
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    setpgid(0, 0);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  return pid;
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  kill(-pid, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    usleep(20000);
  }
  kill(-pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

// Sends everything, then the cursor position request, and waits for its
// answer. Seconds from the first byte to the answer; nullopt on a failure.
std::optional<double> Feed(int fd, const std::string& stream) {
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  // Whatever the terminal says first (Telnet answers, nothing) is not the answer.
  const TClock::time_point start = TClock::now();
  std::size_t sent = 0;
  const std::string request = "\x1b[6n";
  const std::string all = stream + request;
  std::string answer;
  while (true) {
    pollfd p{fd, static_cast<short>(POLLIN | (sent < all.size() ? POLLOUT : 0)), 0};
    if (poll(&p, 1, 60000) <= 0) return std::nullopt;
    if (p.revents & POLLOUT) {
      const ssize_t n = send(fd, all.data() + sent, std::min<std::size_t>(all.size() - sent, 1 << 16), MSG_NOSIGNAL);
      if (n < 0) return std::nullopt;
      sent += static_cast<std::size_t>(n);
    }
    if (p.revents & (POLLIN | POLLHUP)) {
      char buffer[4096];
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) return std::nullopt;
      if (sent == all.size()) {
        answer.append(buffer, static_cast<std::size_t>(n));
        if (answer.find('R') != std::string::npos) break;
      }
    }
  }
  return std::chrono::duration<double>(TClock::now() - start).count();
}

// Listings as an exchange prints them (the receive path benchmark's lines),
// and a mix of short and long lines, which costs more per byte.
std::string PlainStream(std::size_t bytes) { return PlainLines(bytes); }
std::string ShortLineStream(std::size_t bytes) { return TextLines(bytes, 20, 79); }

// Full-screen output: cursor addressing and attributes on every few words.
std::string DenseStream(std::size_t bytes) {
  TRandom random;
  std::string out;
  out.reserve(bytes + 64);
  char head[48];
  while (out.size() < bytes) {
    const int n = std::snprintf(head, sizeof head, "\x1b[%d;%dH\x1b[%d;3%dm", random.Between(1, 24),
                                random.Between(1, 70), random.Between(0, 7) == 0 ? 7 : 1, random.Between(0, 7));
    out.append(head, static_cast<std::size_t>(n));
    AppendText(out, random, random.Between(3, 10));
    out += "\x1b[0m";
    if (random.Between(0, 15) == 0) out += "\x1b[K";
  }
  return out;
}

std::map<std::string, double> ReadStats(const std::string& file) {
  std::map<std::string, double> stats;
  std::ifstream in(file);
  std::string name;
  double value;
  while (in >> name >> value) stats[name] = value;
  return stats;
}

long RssKilobytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

struct TTerminalRun {
  std::optional<double> Seconds;
  double MaxTimerDelayMs = -1;
  double Paints = -1;
};

class TBench {
 public:
  TBench(std::string display, std::string build) : Display(std::move(display)), Build(std::move(build)) {
    Settings = Dir.File("bench.mse");
    Stats = Dir.File("stats");
  }

  // qelwin, 80x24, VT100, no Telnet, connected at start.
  TTerminalRun Qelwin(const std::string& stream, bool holdForMemory = false) {
    TListener listener;
    const std::string make = Build + "/tools/qel settings --defaults --set Emulation=1 --set Port=0 --set " +
                             "HostName=127.0.0.1:" + std::to_string(listener.Port) + " -o " + Settings +
                             " >/dev/null";
    if (std::system(make.c_str()) != 0) return {};
    unlink(Stats.c_str());
    const pid_t pid = Spawn({Build + "/tools/qelwin", "--connect", "network", "--no-background", Settings},
                            {{"DISPLAY", Display}, {"QELWIN_HOME", Dir.Path().string()},
                             {"QELWIN_STATS", Stats}, {"QT_QPA_PLATFORM", "xcb"}});
    TTerminalRun run;
    const int fd = listener.Accept(20000);
    if (fd >= 0) {
      usleep(300000);  // the window is up and idle before the clock starts
      run.Seconds = Feed(fd, stream);
      if (holdForMemory) {
        usleep(1500000);
        Memory = RssKilobytes(pid);
      }
      close(fd);
    }
    usleep(300000);
    Stop(pid);  // SIGTERM: qelwin writes its figures and ends
    const auto stats = ReadStats(Stats);
    if (stats.count("max_timer_delay_ms")) run.MaxTimerDelayMs = stats.at("max_timer_delay_ms");
    if (stats.count("paints")) run.Paints = stats.at("paints");
    if (run.Seconds && stats.count("last_paint_after_first_byte_s")) {
      run.Seconds = std::max(*run.Seconds, stats.at("last_paint_after_first_byte_s"));
    }
    return run;
  }

  // xterm or urxvt running socat in a raw pty.
  TTerminalRun Terminal(const std::string& program, const std::string& stream) {
    TListener listener;
    const std::string shell =
        "stty raw -echo; exec socat - TCP:127.0.0.1:" + std::to_string(listener.Port);
    const pid_t pid = Spawn({program, "-geometry", "80x24", "-e", "sh", "-c", shell}, {{"DISPLAY", Display}});
    TTerminalRun run;
    const int fd = listener.Accept(20000);
    if (fd >= 0) {
      usleep(300000);
      run.Seconds = Feed(fd, stream);
      close(fd);
    }
    Stop(pid);
    return run;
  }

  long Memory = 0;

 private:
  TTemporaryDirectory Dir{"qelwinbench"};
  std::string Display, Build, Settings, Stats;
};

std::string Rate(const TTerminalRun& run, double megabytes) {
  if (!run.Seconds) return "failed";
  char text[64];
  std::snprintf(text, sizeof text, "%.1f MB/s (%.2f s)", megabytes / *run.Seconds, *run.Seconds);
  return text;
}

double RateOf(const TTerminalRun& run, double megabytes) { return run.Seconds ? megabytes / *run.Seconds : 0; }
}  // namespace

int main(int argc, char** argv) {
  const double megabytes = argc > 1 ? std::atof(argv[1]) : 20;
  const std::size_t bytes = static_cast<std::size_t>(megabytes * 1e6);
  if (!OnPath("Xvfb")) {
    std::printf("window_throughput: Xvfb is missing (apt-get install xvfb)\n");
    return 1;
  }
  const std::string display = ":87";
  const pid_t xvfb = Spawn({"Xvfb", display, "-screen", "0", "1600x1200x24", "-nolisten", "tcp"});
  usleep(800000);
  TBench bench(display, BuildDir());

  struct TStream {
    const char* Name;
    std::string Bytes;
  };
  const TStream streams[] = {{"text lines of 60-80 characters", PlainStream(bytes)},
                             {"text lines of 20-79 characters", ShortLineStream(bytes)},
                             {"cursor addressing and attributes", DenseStream(bytes)}};
  // Best of three for each terminal, taken in turn, so a busy moment of the
  // machine does not decide a ratio.
  auto best = [](const auto& run) {
    TTerminalRun kept;
    for (int i = 0; i < 3; ++i) {
      const TTerminalRun next = run();
      if (next.Seconds && (!kept.Seconds || *next.Seconds < *kept.Seconds)) kept = next;
    }
    return kept;
  };
  for (const TStream& stream : streams) {
    const TTerminalRun ours = best([&] { return bench.Qelwin(stream.Bytes); });
    const TTerminalRun xterm =
        OnPath("xterm") ? best([&] { return bench.Terminal("xterm", stream.Bytes); }) : TTerminalRun{};
    const TTerminalRun urxvt =
        OnPath("urxvt") ? best([&] { return bench.Terminal("urxvt", stream.Bytes); }) : TTerminalRun{};
    const double ratio = RateOf(urxvt, megabytes) > 0 ? RateOf(ours, megabytes) / RateOf(urxvt, megabytes) : 0;
    std::printf("%-34s %.0f MB  qelwin %s | xterm %s | urxvt %s | qelwin/urxvt %.2fx (target 1.5x)\n", stream.Name,
                megabytes, Rate(ours, megabytes).c_str(), Rate(xterm, megabytes).c_str(),
                Rate(urxvt, megabytes).c_str(), ratio);
    std::printf("%-34s longest 10-ms timer delay on the window thread %.1f ms (target <= 50 ms), %.0f paints\n", "",
                ours.MaxTimerDelayMs, ours.Paints);
  }

  // 1,000,000 scroll-back lines of 80 characters.
  std::string million;
  million.reserve(83000000);
  char line[96];
  for (int i = 0; i < 1000000; ++i) {
    const int n = std::snprintf(line, sizeof line, "%07d %-71.71s\r\n", i,
                                "exchange line: trunk group 0047 circuit 12 state idle alarm none since");
    million.append(line, static_cast<std::size_t>(n));
  }
  bench.Qelwin(million, true);
  std::printf("%-34s qelwin resident %.1f MB holding 1,000,000 lines (target <= 200 MB)\n", "scroll-back memory",
              bench.Memory / 1024.0);
  std::string().swap(million);

  // A week of exchange output: 10,000,000 mixed lines.
  std::string week;
  week.reserve(790000000);
  TExchangeOutput output;
  for (int i = 0; i < 10000000; ++i) output.AppendLine(week);
  const double weekMegabytes = static_cast<double>(week.size()) / 1e6;
  const TTerminalRun taken = bench.Qelwin(week, true);
  std::printf("%-34s qelwin %s, then resident %.1f MB holding 10,000,000 lines (targets >= 60 MB/s, <= 300 MB)\n",
              "a week of exchange output", Rate(taken, weekMegabytes).c_str(), bench.Memory / 1024.0);
  Stop(xvfb);
  return 0;
}
