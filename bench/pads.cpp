// PADS throughput: the protocol against qel exchange's file server over a
// pty pair, "Pads Delay" 0 and the improved protocol, the exchange offering
// 4 KB load and get blocks. 1 MB read, 1 MB written; MB/s each way.
// Target: at least 1 MB/s each way.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "core/desktop.h"
#include "core/tempdir.h"
#include "transfer/pads.h"

namespace {

namespace fs = std::filesystem;
constexpr std::size_t kSize = 1 << 20;
constexpr double kTarget = 1.0;

std::uint32_t Now() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class TBench {
 public:
  TBench() : Desktop(), Pads(Desktop, pads::TPadsOptions{3, 0, true}) {}
  ~TBench() {
    if (Child > 0) {
      kill(Child, SIGTERM);
      waitpid(Child, nullptr, 0);
    }
    if (Master >= 0) ::close(Master);
  }

  bool Start() {
    int slave = -1;
    char name[128] = {};
    if (openpty(&Master, &slave, name, nullptr, nullptr) != 0) return false;
    fs::create_directories(Dir.Path() / "server");
    const fs::path tool = fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "tools" / "qel";
    Child = fork();
    if (Child == 0) {
      const std::string server = (Dir.Path() / "server").string();
      execl(tool.c_str(), "qel", "exchange", "--serial", name, "--pads-dir", server.c_str(), nullptr);
      _exit(127);
    }
    termios raw{};
    tcgetattr(Master, &raw);
    cfmakeraw(&raw);
    tcsetattr(Master, TCSANOW, &raw);
    const bool banner = WaitText("FILE SERVER");
    ::close(slave);
    if (!banner) return false;
    Write("PAD\r");
    if (!WaitText("PASSWORD:\x03")) return false;
    Write("BENCH\r");
    Pads.Send = [this](std::string_view bytes) { Write(bytes); };
    Pads.Open(Now());
    return Run() && Pads.State == pads::psActive;
  }

  // Seconds the command took; negative when it failed.
  double Time(const std::string& command) {
    const auto start = std::chrono::steady_clock::now();
    Pads.Execute(command, Now());
    if (!Run()) return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }

  fs::path File(const std::string& name) const { return Dir.Path() / name; }
  fs::path ServerFile(const std::string& name) const { return Dir.Path() / "server" / name; }
  const pads::TPadsProtocol& Protocol() const { return Pads; }

 private:
  void Write(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = ::write(Master, bytes.data(), bytes.size());
      if (n > 0) bytes.remove_prefix(static_cast<std::size_t>(n));
      else if (n < 0 && errno != EINTR && errno != EAGAIN) return;
    }
  }
  bool WaitText(const std::string& text) {
    std::string seen;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (seen.find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > until) return false;
      pollfd ready{Master, POLLIN, 0};
      if (poll(&ready, 1, 100) <= 0) continue;
      char buffer[256];
      const ssize_t n = ::read(Master, buffer, sizeof buffer);
      if (n > 0) seen.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  }
  // Feeds the protocol until the running operation ends: bytes as they
  // come, the clock when the protocol's deadline is due.
  bool Run() {
    std::string buffer(64 * 1024, '\0');
    while (Pads.Busy()) {
      const auto deadline = Pads.Deadline();
      const int wait = deadline ? std::max(0, static_cast<std::int32_t>(*deadline - Now())) : 1000;
      pollfd ready{Master, POLLIN, 0};
      if (poll(&ready, 1, wait) > 0) {
        const ssize_t n = ::read(Master, buffer.data(), buffer.size());
        if (n <= 0) return false;
        Pads.Received(std::string_view(buffer.data(), static_cast<std::size_t>(n)), Now());
      } else {
        Pads.Advance(Now());
      }
    }
    return true;
  }

  TTemporaryDirectory Dir{"qelbench"};
  THeadlessDesktop Desktop;
  pads::TPadsProtocol Pads;
  int Master = -1;
  pid_t Child = -1;
};

std::string Pattern(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  std::uint32_t x = seed;
  for (char& c : bytes) {
    x = x * 1664525u + 1013904223u;
    c = static_cast<char>(x >> 24);
  }
  return bytes;
}

void Report(const char* way, double seconds, bool intact) {
  const double rate = seconds > 0 ? kSize / seconds / 1e6 : 0;
  std::printf("%-6s %8.3f s  %7.2f MB/s  target >= %.1f MB/s  %s%s\n", way, seconds, rate, kTarget,
              rate >= kTarget ? "met" : "MISSED", intact ? "" : "  (DATA DIFFERS)");
}

}  // namespace

int main() {
  std::signal(SIGPIPE, SIG_IGN);
  TBench bench;
  if (!bench.Start()) {
    std::fprintf(stderr, "bench_pads: could not link to qel exchange\n");
    return 1;
  }
  const std::string served = Pattern(kSize, 1);
  std::ofstream(bench.ServerFile("D001F00002.PAD"), std::ios::binary) << served;
  const std::string local = Pattern(kSize, 2);
  std::ofstream(bench.File("up.dat"), std::ios::binary) << local;

  std::printf("PADS over a pty pair, Pads Delay 0, improved protocol, 4 KB blocks, 1 MB each way\n");
  const double read = bench.Time("READ 1,2 " + bench.File("down.dat").string());
  Report("read", read, ReadAll(bench.File("down.dat")) == served);
  const double written = bench.Time("WRITE 1,3 " + bench.File("up.dat").string());
  Report("write", written, ReadAll(bench.ServerFile("D001F00003.PAD")) == local);
  bench.Time("EXIT");
  return read > 0 && written > 0 ? 0 : 1;
}
