// The FTP client on loopback: a put and a get of a large file (200 MB unless
// given) over FTP and FTPS against pyftpdlib and over SFTP against a private
// OpenSSH server; MB/s each way, how busy the server and this process were
// (a server near one full core is the limit, not the client), and the
// longest stall of a 10-ms timer on the thread standing for the window
// thread, which takes the client's events as the window does (and says yes
// to the host key and certificate questions).
//   bench_ftp [MEGABYTES [ftp|ftps|sftp]...]      (run by bench/run)
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../tests/support/ftpserver.h"
#include "../tests/support/ftpsserver.h"
#include "../tests/support/sshserver.h"
#include "core/tempdir.h"
#include "transfer/ftp.h"

namespace {

using TClock = std::chrono::steady_clock;

double Seconds(TClock::duration d) { return std::chrono::duration<double>(d).count(); }

// CPU seconds a process has used so far (user + system), from /proc.
double ProcessCpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const auto close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  unsigned long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stoul(field);
    if (i == 15) stime = std::stoul(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

void WriteTestFile(const std::string& name, std::size_t megabytes) {
  std::string block(1 << 20, '\0');
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
  std::ofstream out(name, std::ios::binary);
  for (std::size_t i = 0; i < megabytes; ++i) out.write(block.data(), static_cast<std::streamsize>(block.size()));
}

// The same for a process and everything it started (sshd serves each
// session in processes of its own).
double TreeCpuSeconds(pid_t pid) {
  double seconds = ProcessCpuSeconds(pid);
  std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
  pid_t child = 0;
  while (children >> child) seconds += TreeCpuSeconds(child);
  return seconds;
}

struct TRun {
  double Seconds = 0;
  double ServerCpu = 0;
  double OwnCpu = 0;
  double LongestStallMs = 0;
  bool Failed = false;
};

// Runs one request while this thread plays the window: a 10-ms timer that
// takes the client's events each time it fires.
template <typename TRequest>
TRun RunWithWindowTimer(TFtpClient& client, pid_t server, TRequest request) {
  TRun run;
  const double serverBefore = TreeCpuSeconds(server);
  const double ownBefore = ProcessCpuSeconds(getpid());
  const auto start = TClock::now();
  request();
  auto due = start + std::chrono::milliseconds(10);
  // Wait for the worker to pick the request up before watching for idle.
  while (!client.Busy() && TClock::now() - start < std::chrono::milliseconds(200)) std::this_thread::yield();
  for (;;) {
    std::this_thread::sleep_until(due);
    const auto fired = TClock::now();
    run.LongestStallMs = std::max(run.LongestStallMs, Seconds(fired - due) * 1000.0);
    for (const TFtpEvent& event : client.TakeEvents()) {
      if (event.Kind == fvError) run.Failed = true;
      if (event.Kind == fvQuestion) client.Answer(event.Value, true);
    }
    if (!client.Busy()) break;
    due += std::chrono::milliseconds(10);
    if (due < fired) due = fired + std::chrono::milliseconds(10);
  }
  run.Seconds = Seconds(TClock::now() - start);
  run.ServerCpu = TreeCpuSeconds(server) - serverBefore;
  run.OwnCpu = ProcessCpuSeconds(getpid()) - ownBefore;
  return run;
}

void Report(const std::string& protocol, const char* way, std::size_t megabytes, const TRun& run) {
  const double rate = static_cast<double>(megabytes) / run.Seconds;
  const double serverLoad = run.ServerCpu / run.Seconds;
  std::printf("%-4s %-4s %4zu MB  %7.1f MB/s (target >= 100)  server CPU %3.0f%%  client CPU %3.0f%%  "
              "longest 10-ms timer stall %5.1f ms (target <= 50)%s%s\n",
              protocol.c_str(), way, megabytes, rate, serverLoad * 100.0, run.OwnCpu / run.Seconds * 100.0, run.LongestStallMs,
              serverLoad > 0.85 ? "  [server-bound]" : "", run.Failed ? "  FAILED" : "");
}


// One protocol's put and get through a client already told how to connect;
// false when a transfer failed or came back short.
// remote: the file's path as the client names it; stored: where the server
// keeps it here.
bool Measure(const std::string& protocol, TFtpClient& client, pid_t server, const TTemporaryDirectory& dir,
             const std::string& remote, const std::string& stored, std::size_t megabytes) {
  while (client.Busy()) {
    for (const TFtpEvent& event : client.TakeEvents())
      if (event.Kind == fvQuestion) client.Answer(event.Value, true);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  client.TakeEvents();
  if (!client.Connected()) {
    std::fprintf(stderr, "bench_ftp: %s: could not log in\n", protocol.c_str());
    return false;
  }
  const TRun put = RunWithWindowTimer(client, server, [&] { client.Put(dir.File("local.bin"), remote); });
  Report(protocol, "put", megabytes, put);
  const TRun get = RunWithWindowTimer(client, server, [&] { client.Get(remote, dir.File("back.bin")); });
  Report(protocol, "get", megabytes, get);
  const bool same = std::filesystem::file_size(dir.File("back.bin")) == megabytes << 20 &&
                    std::filesystem::file_size(stored) == megabytes << 20;
  std::filesystem::remove(stored);
  if (!same || put.Failed || get.Failed) {
    std::fprintf(stderr, "bench_ftp: %s: a transfer failed or came back short\n", protocol.c_str());
    return false;
  }
  return true;
}

bool RunProtocol(const std::string& protocol, const TTemporaryDirectory& dir, std::size_t megabytes) {
  const std::string served = dir.File("served");
  TFtpClient client;
  client.SetType(ftBinary);
  if (protocol == "ftp") {
    TFtpServer server(served);
    if (!server.Ready()) return std::fprintf(stderr, "bench_ftp: pyftpdlib did not start\n"), false;
    client.Connect(server.Host(), 0, TFtpServer::kUser, TFtpServer::kPassword);
    return Measure(protocol, client, server.ProcessId(), dir, "/remote.bin", served + "/remote.bin", megabytes);
  }
  if (protocol == "ftps") {
    TFtpsServer server(dir.Path().string(), served);
    if (!server.Ready()) return std::fprintf(stderr, "bench_ftp: pyftpdlib with TLS did not start\n"), false;
    client.SetSecurity({fpExplicitTls, "", ""});
    client.Connect(server.Host(), 0, TFtpsServer::kUser, TFtpsServer::kPassword);
    return Measure(protocol, client, server.ProcessId(), dir, "/remote.bin", served + "/remote.bin", megabytes);
  }
  TSshServer server(dir.Path().string());
  if (!server.Ready()) return std::fprintf(stderr, "bench_ftp: sshd did not start\n"), false;
  client.SetSecurity({fpSftp, dir.File("known_hosts"), server.ClientKey.Private});
  client.Connect(server.Host(), 22, TSshServer::User(), "");
  return Measure(protocol, client, server.ProcessId(), dir, served + "/remote.bin", served + "/remote.bin", megabytes);
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 200;
  std::vector<std::string> protocols;
  for (int i = 2; i < argc; ++i) protocols.emplace_back(argv[i]);
  if (protocols.empty()) protocols = {"ftp", "ftps", "sftp"};
  TTemporaryDirectory dir("qelbench");
  // The user's own agent and keys stay out of it.
  ::unsetenv("SSH_AUTH_SOCK");
  ::setenv("HOME", dir.Path().c_str(), 1);
  std::filesystem::create_directories(dir.File("served"));
  WriteTestFile(dir.File("local.bin"), megabytes);
  bool ok = true;
  for (const std::string& protocol : protocols) ok = RunProtocol(protocol, dir, megabytes) && ok;
  return ok ? 0 : 1;
}
