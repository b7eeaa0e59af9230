// A real OpenSSH server on loopback for the SSH and SFTP tests: Debian's
// sshd with its own host key, authorized keys and configuration in a
// temporary folder, key-only login for the user running the tests, on a
// free port. Keys are made by ssh-keygen, and fingerprints read back with
// it, so expectations come from OpenSSH, not from the code under test.
#pragma once

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "loopback.h"

// Runs a program to its end, both its streams in output; its exit status,
// or -1 when it did not exit normally.
inline int RunProgram(const std::vector<std::string>& words, std::string* output = nullptr) {
  std::string command;
  for (const std::string& word : words) {
    command += " '";
    for (const char c : word) command += c == '\'' ? std::string("'\\''") : std::string(1, c);
    command += "'";
  }
  std::FILE* pipe = ::popen((command + " </dev/null 2>&1").c_str(), "r");
  if (!pipe) return -1;
  std::string text;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  const int status = ::pclose(pipe);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A file's whole text ("" when it cannot be read).
inline std::string FileText(const std::string& name) {
  std::ifstream in(name);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

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

class TSshServer : public TServerProcess {
 public:
  // Everything lives in dir, which must exist and stay for the server's life.
  explicit TSshServer(const std::string& dir) : Dir(dir) {
    HostKey = TSshKeyPair::Make(Dir, "host_ed25519");
    ClientKey = TSshKeyPair::Make(Dir, "client_ed25519");
    AuthorizeOnly({ClientKey});
    WriteConfig();
    Start();
  }
  ~TSshServer() { Kill(); }

  static std::string User() {
    const passwd* entry = getpwuid(getuid());
    return entry ? entry->pw_name : "root";
  }
  std::string LogText() const { return FileText(Dir + "/sshd.log"); }

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

  // The sessions too: they would outlive the server.
  void Kill() {
    DropSessions();
    TServerProcess::Kill();
  }

  void Start() {
    // sshd run by root wants its privilege separation directory.
    if (::geteuid() == 0) ::mkdir("/run/sshd", 0755);
    TServerProcess::Start({"/usr/sbin/sshd", "-D", "-e", "-f", Dir + "/sshd_config"}, Dir + "/sshd.log", true);
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
};
