// A real OpenSSH server on loopback for the SSH and SFTP tests: Debian's
// sshd with its own host key, authorized keys and configuration in a
// temporary folder, key-only login for the user running the tests, on a
// free port. Keys are made by ssh-keygen, and fingerprints read back with
// it, so expectations come from OpenSSH, not from the code under test.
#pragma once

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "loopback.h"

extern char** environ;

// Runs a program to its end with its output in a string (both streams).
inline int RunProgram(std::vector<std::string> words, std::string* output = nullptr,
                      const std::string& input = "") {
  static int runs = 0;
  const std::string dir = std::filesystem::temp_directory_path() /
                          ("qelrun." + std::to_string(::getpid()) + "." + std::to_string(++runs));
  std::filesystem::create_directories(dir);
  const std::string outFile = dir + "/out", inFile = dir + "/in";
  std::ofstream(inFile) << input;
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, inFile.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = -1;
  if (spawned == 0) ::waitpid(pid, &status, 0);
  if (output) {
    std::ifstream in(outFile);
    std::stringstream text;
    text << in.rdbuf();
    *output = text.str();
  }
  std::filesystem::remove_all(dir);
  return spawned == 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A server program run for a test, its output dropped, killed at the end.
class TChildServer {
 public:
  explicit TChildServer(std::vector<std::string> words) : Pid(StartServer(std::move(words))) {}
  ~TChildServer() {
    if (Pid <= 0) return;
    ::kill(Pid, SIGKILL);
    ::waitpid(Pid, nullptr, 0);
  }
  TChildServer(const TChildServer&) = delete;
  TChildServer& operator=(const TChildServer&) = delete;
  // True once something takes calls on the loopback port.
  bool WaitForPort(std::uint16_t port) const { return WaitForListener(port, Pid > 0); }

 private:
  pid_t Pid;
};

// An OpenSSH key pair made by ssh-keygen in dir.
struct TSshKeyPair {
  std::string Private;  // the private key file; Private + ".pub" the public one
  static TSshKeyPair Make(const std::string& dir, const std::string& name, const std::string& type = "ed25519",
                          const std::string& passphrase = "") {
    TSshKeyPair pair{dir + "/" + name};
    std::filesystem::remove(pair.Private);
    std::filesystem::remove(pair.Private + ".pub");
    RunProgram({"ssh-keygen", "-q", "-t", type, "-N", passphrase, "-C", name, "-f", pair.Private});
    return pair;
  }
  std::string PublicLine() const {
    std::ifstream in(Private + ".pub");
    std::string line;
    std::getline(in, line);
    return line;
  }
  // "SHA256:..." as ssh-keygen prints it.
  std::string Fingerprint() const {
    std::string out;
    RunProgram({"ssh-keygen", "-l", "-E", "sha256", "-f", Private + ".pub"}, &out);
    const std::size_t start = out.find("SHA256:");
    return start == std::string::npos ? "" : out.substr(start, out.find(' ', start) - start);
  }
};

class TSshServer {
 public:
  // Everything lives in dir, which must exist and stay for the server's life.
  explicit TSshServer(const std::string& dir) : Dir(dir), Port(FreePort()) {
    HostKey = TSshKeyPair::Make(Dir, "host_ed25519");
    ClientKey = TSshKeyPair::Make(Dir, "client_ed25519");
    AuthorizeOnly({ClientKey});
    WriteConfig();
    Start();
  }
  ~TSshServer() { Kill(); }
  TSshServer(const TSshServer&) = delete;
  TSshServer& operator=(const TSshServer&) = delete;

  bool Ready() const { return Listening; }
  pid_t ProcessId() const { return Pid; }
  std::uint16_t PortNumber() const { return Port; }
  std::string Host() const { return "127.0.0.1:" + std::to_string(Port); }
  static std::string User() {
    const passwd* entry = getpwuid(getuid());
    return entry ? entry->pw_name : "root";
  }
  std::string LogText() const {
    std::ifstream in(Dir + "/sshd.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // The keys whose owners may log in.
  void AuthorizeOnly(const std::vector<TSshKeyPair>& keys) {
    std::ofstream out(Dir + "/authorized_keys", std::ios::trunc);
    for (const TSshKeyPair& key : keys) out << key.PublicLine() << "\n";
    out.close();
    ::chmod((Dir + "/authorized_keys").c_str(), 0600);
  }

  // A new host key of the type given, the server started again with it: the
  // host's identity has changed.
  void ChangeHostKey(const std::string& type = "ed25519") {
    Kill();
    HostKey = TSshKeyPair::Make(Dir, "host_" + type, type);
    WriteConfig();
    Start();
  }

  // Ends the processes serving sessions (children of the server), as a line
  // that drops would; the server itself goes on.
  void DropSessions() const {
    for (const pid_t child : Children()) ::kill(child, SIGKILL);
  }
  std::vector<pid_t> Children() const {
    std::vector<pid_t> children;
    std::ifstream in("/proc/" + std::to_string(Pid) + "/task/" + std::to_string(Pid) + "/children");
    pid_t child = 0;
    while (in >> child) children.push_back(child);
    return children;
  }

  void Kill() {
    if (Pid <= 0) return;
    DropSessions();
    ::kill(Pid, SIGKILL);
    ::waitpid(Pid, nullptr, 0);
    Pid = -1;
    Listening = false;
  }

  void Start() {
    // sshd run by root wants its privilege separation directory.
    if (::geteuid() == 0) ::mkdir("/run/sshd", 0755);
    Pid = StartServer({"/usr/sbin/sshd", "-D", "-e", "-f", Dir + "/sshd_config"}, Dir + "/sshd.log", true);
    Listening = WaitForListener(Port, Pid > 0);
  }

  std::string Dir;
  TSshKeyPair HostKey;
  TSshKeyPair ClientKey;

 private:
  void WriteConfig() const {
    std::ofstream out(Dir + "/sshd_config", std::ios::trunc);
    out << "Port " << Port << "\nListenAddress 127.0.0.1\n"
        << "HostKey " << HostKey.Private << "\n"
        << "AuthorizedKeysFile " << Dir << "/authorized_keys\n"
        << "PidFile " << Dir << "/sshd.pid\n"
        << "PubkeyAuthentication yes\nPasswordAuthentication no\nKbdInteractiveAuthentication no\n"
        << "UsePAM no\n"
        // The temporary folder sits in /tmp, which anyone may write to.
        << "StrictModes no\n"
        << "PermitRootLogin prohibit-password\nPrintMotd no\nPrintLastLog no\nUseDNS no\n"
        << "LogLevel VERBOSE\nSubsystem sftp internal-sftp\n";
  }

  std::uint16_t Port = 0;
  pid_t Pid = -1;
  bool Listening = false;
};
