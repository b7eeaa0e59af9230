// qel exchange: a simulated exchange host for demos, end-to-end tests and
// benchmarks. Serves one session at a time over Telnet on a loopback port (or
// plain bytes on a tty) with TExchangeHost's monitor, until it is stopped.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "core/paths.h"
#include "exchange_host.h"
#include "exchange_pads.h"
#include "tools_common.h"

namespace {

namespace fs = std::filesystem;

constexpr int kExchangeTickMs = 100;
constexpr std::size_t kReadSize = 64 * 1024;
constexpr const char* kBusy = "\r\nQUORIX MAINTENANCE MONITOR: BUSY, ONE SESSION AT A TIME\r\n";

volatile std::sig_atomic_t ExchangeStopRequested = 0;

void RequestExchangeStop(int) { ExchangeStopRequested = 1; }

std::int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

struct TExchangeOptions {
  std::string Host = "127.0.0.1";
  int Port = -1;
  std::string Device;
  std::string Log;
  std::string Samples;
  TPadsServerOptions Pads;
};

// "HOST:PORT", ":PORT" or "PORT".
bool ParseListen(const std::string& text, TExchangeOptions& options) {
  const std::size_t colon = text.rfind(':');
  const std::string port = colon == std::string::npos ? text : text.substr(colon + 1);
  if (colon != std::string::npos && colon > 0) options.Host = text.substr(0, colon);
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return false;
  options.Port = std::stoi(port);
  return options.Port <= 65535;
}

int ParseExchangeOptions(const TToolCommand& tool, int argc, char** argv, TExchangeOptions& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    std::string value;
    bool missing = false;
    if (TakeValue(argc, argv, i, "--listen", value, missing)) {
      if (missing || !ParseListen(value, options)) return tool.UsageError("--listen needs HOST:PORT or PORT");
    } else if (TakeValue(argc, argv, i, "--serial", value, missing)) {
      if (missing) return tool.UsageError("--serial needs a device");
      options.Device = value;
    } else if (TakeValue(argc, argv, i, "--log", value, missing)) {
      if (missing) return tool.UsageError("--log needs a file name");
      options.Log = value;
    } else if (TakeValue(argc, argv, i, "--samples", value, missing)) {
      if (missing) return tool.UsageError("--samples needs a directory");
      options.Samples = value;
    } else if (std::string error; const int pads = TakePadsOption(argc, argv, i, options.Pads, error)) {
      if (pads < 0) return tool.UsageError(error);
    } else {
      return tool.UsageError("unknown argument '" + arg + "'");
    }
  }
  if (!options.Pads.Dir.empty() && options.Device.empty()) return tool.UsageError("--pads-dir needs --serial");
  if ((options.Port >= 0) == !options.Device.empty()) return tool.UsageError("give one of --listen and --serial");
  return 0;
}

bool ReadWhole(const fs::path& file, std::string& text) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::ostringstream content;
  content << in.rdbuf();
  text = content.str();
  return true;
}

// The sample traces installed with the program; in a build folder, the
// samples folder of the source tree it was built from (beside the build
// folder, or named by the build's CMake cache).
fs::path FindSamples() {
  const fs::path installed = fs::path(BundledDataDirectory()) / "samples";
  std::error_code error;
  if (fs::exists(installed / "exchange.trace", error)) return installed;
  const fs::path exe = fs::read_symlink("/proc/self/exe", error);
  if (error) return {};
  const fs::path build = exe.parent_path().parent_path();
  for (const fs::path& candidate : {build.parent_path() / "samples", build / "samples"}) {
    if (fs::exists(candidate / "exchange.trace", error)) return candidate;
  }
  std::ifstream cache(build / "CMakeCache.txt");
  const std::string key = "CMAKE_HOME_DIRECTORY:INTERNAL=";
  for (std::string line; std::getline(cache, line);) {
    if (line.compare(0, key.size(), key) == 0) return fs::path(line.substr(key.size())) / "samples";
  }
  return {};
}

class TExchangeRun {
 public:
  TExchangeRun(const TToolCommand& tool, TExchangeOptions options) : Tool(tool), Options(std::move(options)) {}
  ~TExchangeRun();
  TExchangeRun(const TExchangeRun&) = delete;
  TExchangeRun& operator=(const TExchangeRun&) = delete;

  int Run();

 private:
  int LoadSamples();
  int OpenLog();
  int ServeNetwork();
  int ServeSerial();
  // Runs one session on fd to its end; false when the line went down.
  bool Session(int fd, bool telnet);
  bool Wait(pollfd* fds, nfds_t count);
  void TurnAway();
  void HangUp(int fd);
  void Log(const std::string& bytes);

  const TToolCommand& Tool;
  const TExchangeOptions Options;
  TExchangeSamples Samples;
  int LogFd = -1;
  int Listener = -1;
  sigset_t Unblocked{};
};

TExchangeRun::~TExchangeRun() {
  if (LogFd >= 0) ::close(LogFd);
  if (Listener >= 0) ::close(Listener);
}

int TExchangeRun::Run() {
  if (const int status = LoadSamples(); status != 0) return status;
  if (const int status = OpenLog(); status != 0) return status;
  // Stop requests are taken only while waiting, so a session's state is
  // never cut in the middle of a step.
  std::signal(SIGPIPE, SIG_IGN);
  struct sigaction stop {};
  stop.sa_handler = RequestExchangeStop;
  sigaction(SIGTERM, &stop, nullptr);
  sigaction(SIGINT, &stop, nullptr);
  sigset_t blocked;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGTERM);
  sigaddset(&blocked, SIGINT);
  sigprocmask(SIG_BLOCK, &blocked, &Unblocked);
  sigdelset(&Unblocked, SIGTERM);
  sigdelset(&Unblocked, SIGINT);
  return Options.Device.empty() ? ServeNetwork() : ServeSerial();
}

int TExchangeRun::LoadSamples() {
  const bool given = !Options.Samples.empty();
  const fs::path folder = given ? fs::path(Options.Samples) : FindSamples();
  const bool trace = !folder.empty() && ReadWhole(folder / "exchange.trace", Samples.Trace);
  const bool mini = !folder.empty() && ReadWhole(folder / "mini.trace", Samples.Mini);
  if (trace && mini) return 0;
  const std::string missing = (folder / (trace ? "mini.trace" : "exchange.trace")).string();
  if (given) return Tool.Failure(missing, std::strerror(ENOENT));
  Tool.Note("no sample traces found (give --samples DIR): TRACE and MINI have nothing to print");
  return 0;
}

int TExchangeRun::OpenLog() {
  if (Options.Log.empty()) return 0;
  LogFd = ::open(Options.Log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (LogFd < 0) return Tool.Failure(Options.Log, std::strerror(errno));
  return 0;
}

void TExchangeRun::Log(const std::string& bytes) {
  std::size_t done = 0;
  while (LogFd >= 0 && done < bytes.size()) {
    const ssize_t n = ::write(LogFd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Tool.Note(Options.Log + ": " + std::strerror(errno) + "; the log stops here");
      ::close(LogFd);
      LogFd = -1;
      return;
    }
    done += static_cast<std::size_t>(n);
  }
}

// False when a stop was asked for.
bool TExchangeRun::Wait(pollfd* fds, nfds_t count) {
  const timespec tick{0, kExchangeTickMs * 1000000L};
  const int result = ppoll(fds, count, &tick, &Unblocked);
  if (result < 0) {
    for (nfds_t i = 0; i < count; ++i) fds[i].revents = 0;
  }
  return !ExchangeStopRequested;
}

int TExchangeRun::ServeNetwork() {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(Options.Host.c_str(), nullptr, &hints, &found) != 0 || !found) {
    return Tool.Failure(Options.Host, "host not found");
  }
  sockaddr_in address = *reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  freeaddrinfo(found);
  address.sin_port = htons(static_cast<std::uint16_t>(Options.Port));
  const std::string where = Options.Host + ":" + std::to_string(Options.Port);

  Listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (Listener < 0) return Tool.Failure(where, std::strerror(errno));
  const int on = 1;
  setsockopt(Listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (bind(Listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(Listener, 5) != 0) {
    return Tool.Failure(where, std::strerror(errno));
  }
  socklen_t size = sizeof address;
  getsockname(Listener, reinterpret_cast<sockaddr*>(&address), &size);
  std::printf("listening on %s:%u\n", inet_ntoa(address.sin_addr), ntohs(address.sin_port));
  std::fflush(stdout);

  for (;;) {
    pollfd ready{Listener, POLLIN, 0};
    if (!Wait(&ready, 1)) return 0;
    if (!(ready.revents & POLLIN)) continue;
    sockaddr_in caller{};
    socklen_t callerSize = sizeof caller;
    const int fd = accept4(Listener, reinterpret_cast<sockaddr*>(&caller), &callerSize, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::printf("session from %s:%u\n", inet_ntoa(caller.sin_addr), ntohs(caller.sin_port));
    std::fflush(stdout);
    Session(fd, true);
    HangUp(fd);
    std::printf("session ended\n");
    std::fflush(stdout);
    if (ExchangeStopRequested) return 0;
  }
}

int TExchangeRun::ServeSerial() {
  const int fd = ::open(Options.Device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Tool.Failure(Options.Device, std::strerror(errno));
  termios raw{};
  if (tcgetattr(fd, &raw) != 0) {
    const int error = errno;
    ::close(fd);
    return Tool.Failure(Options.Device, std::strerror(error));
  }
  cfmakeraw(&raw);
  tcsetattr(fd, TCSANOW, &raw);
  std::printf("serving on %s\n", Options.Device.c_str());
  std::fflush(stdout);
  if (!Options.Pads.Dir.empty()) {
    const int status = ServePads(fd, Options.Pads, [this](pollfd* fds, nfds_t count) { return Wait(fds, count); });
    ::close(fd);
    return status;
  }
  // After a session ends, the next byte from the terminal starts another.
  while (Session(fd, false) && !ExchangeStopRequested) {
    pollfd ready{fd, POLLIN, 0};
    while (Wait(&ready, 1) && !(ready.revents & (POLLIN | POLLHUP | POLLERR))) {
    }
    if (ExchangeStopRequested) break;
    char buffer[256];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0 && errno != EAGAIN && errno != EINTR) break;
    if (n > 0) Log(std::string(buffer, static_cast<std::size_t>(n)));
  }
  ::close(fd);
  return 0;
}

// Closing a socket that still holds unread input sends a reset, which the
// terminal sees as a failed line rather than the end of the session: say
// goodbye first and take what the terminal still sends for a moment.
void TExchangeRun::HangUp(int fd) {
  ::shutdown(fd, SHUT_WR);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(left.count())) <= 0) break;
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) break;
  }
  ::close(fd);
}

// A second caller is told the monitor is busy rather than left waiting.
void TExchangeRun::TurnAway() {
  const int fd = accept4(Listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return;
  [[maybe_unused]] const ssize_t n = ::send(fd, kBusy, std::strlen(kBusy), MSG_NOSIGNAL | MSG_DONTWAIT);
  ::close(fd);
}

bool TExchangeRun::Session(int fd, bool telnet) {
  TExchangeHost host(telnet, Samples, NowMs);
  host.Start();
  std::string buffer(kReadSize, '\0');
  for (;;) {
    const std::string_view out = host.Output();
    if (host.Finished() && out.empty()) return true;
    pollfd fds[2] = {{fd, static_cast<short>(POLLIN | (out.empty() ? 0 : POLLOUT)), 0}, {Listener, POLLIN, 0}};
    if (!Wait(fds, Listener >= 0 ? 2 : 1)) return true;
    if (fds[0].revents & POLLOUT) {
      const ssize_t n = telnet ? ::send(fd, out.data(), out.size(), MSG_NOSIGNAL | MSG_DONTWAIT)
                               : ::write(fd, out.data(), out.size());
      if (n > 0) host.Consume(static_cast<std::size_t>(n));
      if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      const ssize_t n = ::read(fd, buffer.data(), buffer.size());
      if (n == 0) return false;
      if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
      if (n > 0) {
        host.Receive(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
        Log(host.TakeReceived());
      }
    }
    if (Listener >= 0 && (fds[1].revents & POLLIN)) TurnAway();
    host.Tick();
  }
}

}  // namespace

int RunExchange(const TToolCommand& tool, int argc, char** argv) {
  TExchangeOptions options;
  if (const int status = ParseExchangeOptions(tool, argc, argv, options); status != 0) return status;
  TExchangeRun run(tool, std::move(options));
  return run.Run();
}
