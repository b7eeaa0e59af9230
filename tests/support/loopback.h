// Hosts and callers on loopback TCP, written with plain blocking calls so
// that a test thread can play the far end of a connection; and the server
// programs tests start on a loopback port.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

inline sockaddr_in LoopbackAddress(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

inline std::uint16_t PortOf(int fd) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  return ntohs(address.sin_port);
}

// A host listening on a free loopback port.
struct TLoopbackHost {
  int Listener = -1;
  std::uint16_t Port = 0;
  TLoopbackHost() {
    Listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = LoopbackAddress(0);
    bind(Listener, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    listen(Listener, 5);
    Port = PortOf(Listener);
  }
  ~TLoopbackHost() { ::close(Listener); }
  TLoopbackHost(const TLoopbackHost&) = delete;
  TLoopbackHost& operator=(const TLoopbackHost&) = delete;
  // The next call, or -1 when none came in time.
  int AcceptOne(int timeoutMs = 5000) const {
    pollfd ready{Listener, POLLIN, 0};
    if (poll(&ready, 1, timeoutMs) <= 0) return -1;
    return accept(Listener, nullptr, nullptr);
  }
  std::string Address() const { return "127.0.0.1:" + std::to_string(Port); }
};

// A loopback port nobody listens on (bound and let go).
inline std::uint16_t FreePort() { return TLoopbackHost().Port; }

// A call to the loopback port: the connected socket, or -errno.
inline int ConnectTo(std::uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = LoopbackAddress(port);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    ::close(fd);
    return -error;
  }
  return fd;
}

inline void SendAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

// Reads until count bytes, the end of the session, or the time is up.
inline std::string ReceiveSome(int fd, std::size_t count, int timeoutMs = 5000) {
  std::string got;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, 20) <= 0) continue;
    char buffer[65536];
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

// Everything that arrives until the session ends or the time is up.
inline std::string ReceiveFor(int fd, int timeoutMs) { return ReceiveSome(fd, std::string::npos, timeoutMs); }

// A child process in a process group of its own, stopped when the object
// dies; a quiet one's output is dropped.
class TChild {
 public:
  explicit TChild(const std::vector<std::string>& argv, bool quiet = false) {
    Pid = fork();
    if (Pid == 0) {
      setpgid(0, 0);
      prctl(PR_SET_PDEATHSIG, SIGTERM);  // gone with the test, even if it crashes
      if (quiet) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
      }
      std::vector<char*> args;
      for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execvp(args[0], args.data());
      _exit(127);
    }
  }
  ~TChild() {
    if (Pid <= 0) return;
    kill(-Pid, SIGTERM);
    kill(Pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
      if (waitpid(Pid, nullptr, WNOHANG) == Pid) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(-Pid, SIGKILL);
    kill(Pid, SIGKILL);
    waitpid(Pid, nullptr, 0);
  }
  TChild(const TChild&) = delete;
  TChild& operator=(const TChild&) = delete;

 private:
  pid_t Pid = -1;
};

// socat joining two addresses (ptys for a serial line). socat makes a pty's
// link before it sets the pty's line settings, so a port opened as soon as
// the link shows can have its settings (0377 marking among them) undone;
// Ready waits for socat's transfer loop, which starts after all of that.
class TSocat {
 public:
  TSocat(const std::string& log, std::vector<std::string> addresses) : Log(log) {
    std::vector<std::string> argv{"socat", "-d", "-d", "-lf", log};
    argv.insert(argv.end(), addresses.begin(), addresses.end());
    Child = std::make_unique<TChild>(argv);
  }
  bool Ready() const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      std::ifstream in(Log);
      const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (text.find("starting data transfer loop") != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

 private:
  std::string Log;
  std::unique_ptr<TChild> Child;
};

// True once something takes calls on the loopback port, within 15 s; never
// when the server did not start.
inline bool WaitForListener(std::uint16_t port, bool started = true) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (started && std::chrono::steady_clock::now() < deadline) {
    const int fd = ConnectTo(port);
    if (fd >= 0) {
      ::close(fd);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// A server program on a free loopback port (the real servers of the tests
// derive from it), killed when the object dies.
class TServerProcess {
 public:
  ~TServerProcess() { Kill(); }
  TServerProcess(const TServerProcess&) = delete;
  TServerProcess& operator=(const TServerProcess&) = delete;

  bool Ready() const { return Listening; }
  pid_t ProcessId() const { return Pid; }
  std::uint16_t PortNumber() const { return Port; }
  std::string Host() const { return "127.0.0.1:" + std::to_string(Port); }
  // Ends the server at once, as a crash would.
  void Kill() {
    if (Pid <= 0) return;
    ::kill(Pid, SIGKILL);
    ::waitpid(Pid, nullptr, 0);
    Pid = -1;
    Listening = false;
  }

 protected:
  TServerProcess() : Port(FreePort()) {}
  // Starts the program with its standard output dropped and its standard
  // error in errorFile (appended to when append, so a restart keeps the
  // log), and waits until it takes calls.
  void Start(std::vector<std::string> words, const std::string& errorFile = "/dev/null", bool append = false) {
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const int mode = O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC);
    posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), mode, 0600);
    if (posix_spawnp(&Pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) Pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    Listening = WaitForListener(Port, Pid > 0);
  }

  std::uint16_t Port = 0;
  pid_t Pid = -1;
  bool Listening = false;
};
