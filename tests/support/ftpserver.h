// A real FTP server on loopback for the FTP client's tests and benchmark:
// Debian's pyftpdlib serving a temporary directory with one user who may
// write, on a free port; and a log of the client's events a test waits on.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "loopback.h"
#include "transfer/ftp.h"

class TFtpServer : public TServerProcess {
 public:
#ifdef QEL_TEST_DATA
  static constexpr const char* kHostileScript = QEL_TEST_DATA "/support/hostile_ftp.py";
#else
  static constexpr const char* kHostileScript = "";  // no hostile server outside the tests: never Ready
#endif
  static constexpr const char* kUser = "engineer";
  static constexpr const char* kPassword = "exchange";

  // Serves root (which must exist) until the object dies or Kill is called.
  // A hostile mode runs support/hostile_ftp.py instead, whose listings or
  // greeting misbehave as the mode says.
  explicit TFtpServer(const std::string& root, const std::string& hostileMode = "") {
    const std::string port = std::to_string(Port);
    std::vector<std::string> words = {"/usr/bin/python3", "-m", "pyftpdlib", "-i", "127.0.0.1", "-p", port,
                                      "-d", root, "-u", kUser, "-P", kPassword, "-w"};
    if (!hostileMode.empty()) words = {"/usr/bin/python3", kHostileScript, hostileMode, port, root, kUser, kPassword};
    Start(words);  // its connection log would bury the test's own output
  }

  // SIGSTOP freezes the server (a hung host), SIGCONT lets it go on.
  void Signal(int signal) const {
    if (Pid > 0) ::kill(Pid, signal);
  }
};

// Every event a client reported, gathered by polling as a window would drain.
class TFtpEventLog {
 public:
  explicit TFtpEventLog(TFtpClient& client) : Client(client) {}

  // Takes events until done() holds or timeoutMs pass; done()'s last answer.
  bool WaitFor(const std::function<bool()>& done, int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      Drain();
      if (done()) return true;
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  // Waits until the client has finished everything it was asked.
  bool WaitIdle(int timeoutMs = 10000) {
    return WaitFor([this] { return !Client.Busy(); }, timeoutMs) && (Drain(), true);
  }
  void Drain() {
    for (TFtpEvent& event : Client.TakeEvents()) All.push_back(std::move(event));
  }
  bool Has(TFtpEventKind kind, int value) const {
    for (const TFtpEvent& event : All)
      if (event.Kind == kind && event.Value == value) return true;
    return false;
  }
  bool HasKind(TFtpEventKind kind) const {
    for (const TFtpEvent& event : All)
      if (event.Kind == kind) return true;
    return false;
  }
  std::vector<std::string> Texts(TFtpEventKind kind) const {
    std::vector<std::string> texts;
    for (const TFtpEvent& event : All)
      if (event.Kind == kind) texts.push_back(event.Text);
    return texts;
  }
  void Clear() {
    Drain();
    All.clear();
  }

  std::vector<TFtpEvent> All;

 private:
  TFtpClient& Client;
};
