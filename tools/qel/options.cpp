#include "options.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/session.h"
#include "app/settingsfile.h"
#include "core/paths.h"
#include "core/settings.h"
#include "log/errors.h"
#include "transfer/engine.h"
#include "progress.h"

int TToolCommand::ShowUsage() const {
  std::fprintf(stderr, "usage: %s\n", Usage);
  return 2;
}

int TToolCommand::UsageError(const std::string& message) const {
  std::fprintf(stderr, "qel %s: %s\n", Name, message.c_str());
  return ShowUsage();
}

int TToolCommand::Failure(const std::string& subject, const std::string& reason) const {
  std::fprintf(stderr, "qel %s: %s: %s\n", Name, subject.c_str(), OneLine(WithCommandLineHint(reason)).c_str());
  return 1;
}

void TToolCommand::Note(const std::string& text) const {
  std::fprintf(stderr, "qel %s: note: %s\n", Name, OneLine(WithCommandLineHint(text)).c_str());
}

bool TakeValue(int argc, char** argv, int& i, const char* option, std::string& value, bool& missing) {
  const std::size_t length = std::strlen(option);
  if (std::strncmp(argv[i], option, length) != 0) return false;
  if (argv[i][length] == '=') {
    value = argv[i] + length + 1;
    missing = value.empty();
    return true;
  }
  if (argv[i][length] != '\0') return false;
  missing = i + 1 >= argc;
  if (!missing) value = argv[++i];
  return true;
}

TInputFile::~TInputFile() {
  if (Owned) ::close(Descriptor);
}

bool TInputFile::Open(const std::string& name, std::string& reason) {
  if (name == "-") {
    Descriptor = STDIN_FILENO;
  } else {
    // Not blocking, so that a named pipe without a writer cannot hold the open.
    Descriptor = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (Descriptor < 0) {
      reason = std::strerror(errno);
      return false;
    }
    Owned = true;
  }
  struct stat st {};
  if (::fstat(Descriptor, &st) != 0) {
    reason = std::strerror(errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    reason = std::strerror(EISDIR);
    return false;
  }
  if (S_ISREG(st.st_mode)) FileSize = static_cast<std::int64_t>(st.st_size);
  // A device is read like standard input (a live line, /dev/null).
  if (name == "-" || !S_ISFIFO(st.st_mode)) {
    if (Owned) ::fcntl(Descriptor, F_SETFL, O_RDONLY);
    return true;
  }
  // A pipe read without blocking ends at once when nothing writes to it, and
  // has nothing yet while something does.
  char first[4096];
  ssize_t got;
  do {
    got = ::read(Descriptor, first, sizeof first);
  } while (got < 0 && errno == EINTR);
  if (got == 0) {
    reason = "a named pipe with nothing writing to it";
    return false;
  }
  if (got < 0 && errno != EAGAIN) {
    reason = std::strerror(errno);
    return false;
  }
  if (got > 0) Pending.assign(first, static_cast<std::size_t>(got));
  ::fcntl(Descriptor, F_SETFL, O_RDONLY);
  return true;
}

long TInputFile::Read(char* buffer, std::size_t size, std::string& reason) {
  std::size_t done = std::min(size, Pending.size());
  Pending.copy(buffer, done);
  Pending.erase(0, done);
  while (done < size && !Interrupted()) {
    const ssize_t got = ::read(Descriptor, buffer + done, size - done);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR && Interrupted()) break;
      if (errno == EINTR) continue;
      reason = std::strerror(errno);
      return -1;
    }
    done += static_cast<std::size_t>(got);
  }
  return static_cast<long>(done);
}

bool ReadInput(const std::string& name, std::string& bytes, std::string& reason) {
  TInputFile input;
  if (!input.Open(name, reason)) return false;
  bytes.clear();
  std::string chunk(1 << 16, '\0');
  for (;;) {
    const long got = input.Read(chunk.data(), chunk.size(), reason);
    if (got < 0) return false;
    bytes.append(chunk.data(), static_cast<std::size_t>(got));
    if (static_cast<std::size_t>(got) < chunk.size()) return true;
  }
}

std::string InputName(const std::string& name) { return name == "-" ? "standard input" : name; }

namespace {
std::string LowerCase(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}
}  // namespace

std::optional<std::uint8_t> EmulationOf(const std::string& name) {
  const std::string lower = LowerCase(name);
  if (lower == "quorix") return emQuorix;
  if (lower == "vt100") return emVT100;
  if (lower == "vt220" || lower == "vt220-8bit") return emVT220;
  if (lower == "tn3270") return emTN3270;
  return std::nullopt;
}

std::string UnknownEmulation(const std::string& name) {
  if (LowerCase(name) == "vt52") {
    return "VT52 is not chosen here: a VT100 host selects it (ESC [ ? 2 h); give --emulation vt100";
  }
  return "unknown terminal type '" + name + "' (quorix, vt100, vt220 or tn3270)";
}

std::string ModeBaseOf(const std::string& name) {
  static const char* const kExtensions[] = {".ver", ".msg", ".usb", ".bid", ".mod", ".sem",
                                            ".syn", ".mna", ".sen", ".sna", ".mnt"};
  const std::size_t slash = name.rfind('/');
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return name;
  const std::string extension = LowerCase(name.substr(dot));
  for (const char* e : kExtensions) {
    if (extension == e) return name.substr(0, dot);
  }
  return name;
}

std::string WithCommandLineHint(const std::string& text) {
  if (text.find("Configure|Files") == std::string::npos) return text;
  if (text.find("KASP.") != std::string::npos) return text + " (on the command line: --ornet DIR)";
  if (text.find("LogFile") != std::string::npos) return text + " (on the command line: --log)";
  return text + " (on the command line: --mode BASE)";
}

std::string OneLine(const std::string& text) {
  std::string line;
  for (const char c : text) {
    if (c != '\r' && c != '\n') {
      line.push_back(c);
    } else if (!line.empty() && line.back() != ' ') {
      line.push_back(' ');
    }
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

std::string SystemReason(std::uint32_t code) {
  std::string text = ErrorCodeText(code);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  if (!text.empty() && text[0] >= '0' && text[0] <= '9') text = "system error " + text;
  return text;
}

std::string SettingsReadReason(std::uint32_t code) {
  if (code == kErrorHandleEof) return "shorter than a settings record (" + std::to_string(kSetupRecordSize) + " bytes)";
  return SystemReason(code);
}

bool LoadSettings(TSession& session, const std::string& file, std::string& reason) {
  // Read once on its own for the reason: the session would only show a box.
  TSetupRecord probe;
  const TSettingsReadResult read = ReadSettingsRecord(file, probe);
  if (read.Error != 0) {
    reason = SettingsReadReason(read.Error);
    return false;
  }
  if (!session.SettingsFiles->OpenQelSetFile(file)) {
    reason = "not a readable settings file";
    return false;
  }
  return true;
}

bool PermitHostTransfers(TSession& session, const std::string& receiveDirectory, std::uint64_t receiveLimit,
                         std::string& reason) {
  THostTransferPermit& permit = session.Transfer->HostTransfers;
  permit.Send = false;
  permit.Receive = false;
  permit.ReceiveDirectory.clear();
  permit.ReceiveLimit = receiveLimit;
  if (receiveDirectory.empty()) return true;
  struct stat info {};
  if (::stat(receiveDirectory.c_str(), &info) != 0) {
    reason = std::strerror(errno);
    return false;
  }
  if (!S_ISDIR(info.st_mode)) {
    reason = "not a directory";
    return false;
  }
  permit.Receive = true;
  permit.ReceiveDirectory = receiveDirectory;
  return true;
}

std::optional<std::uint64_t> ReceiveLimitOf(const std::string& megabytes) {
  constexpr unsigned long long kMax = 1u << 20;
  if (megabytes.empty() || megabytes.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  errno = 0;
  const unsigned long long value = std::strtoull(megabytes.c_str(), nullptr, 10);
  if (errno != 0 || value == 0 || value > kMax) return std::nullopt;
  return static_cast<std::uint64_t>(value) << 20;
}
