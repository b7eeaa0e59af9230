#include "support/testing.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "comms/transmit.h"
#include "screen/store.h"
#include "transfer/engine.h"

TTempDir::TTempDir() {
  if (Dir.Path().empty()) throw std::runtime_error("no temporary directory could be made");
}

TTestSession::TTestSession() : S(std::make_unique<TSession>(Desktop, Dir.path().string())) {}

TWiredSession::TWiredSession() {
  Use(Wire);
  Settings().Port = 0;
  Engine().ScreenPathOverride = [this](std::uint8_t c) { Shown.push_back(static_cast<char>(c)); };
}

void TWiredSession::Use(TNetworkLine& line) {
  S->Transmit->Network = &line;
  S->Transmit->NetworkConnected = true;
}

void TWiredSession::Receive(const std::string& bytes) {
  for (const char c : bytes) S->HandleSessionEvent(sekReceivedByte, static_cast<std::uint8_t>(c));
}

void TWiredSession::Tick(int count) {
  for (int i = 0; i < count; ++i) S->TimerTick();
}

bool TWiredSession::TickWhile(std::uint32_t bit, int limit) {
  for (int i = 0; i < limit && (Engine().Activities & bit); ++i) S->TimerTick();
  return (Engine().Activities & bit) == 0;
}

std::string TWiredSession::TakeSent() {
  std::string sent;
  sent.swap(Wire.Sent);
  return sent;
}

TConnectedSession::TConnectedSession() {
  Engine().ScreenPathOverride = nullptr;
  S->StartUp();
}

void TConnectedSession::Push(std::string_view bytes) { PushBytes(*S, bytes); }

std::string TConnectedSession::Row(int row) const { return ScreenRow(*S, row); }

void PushBytes(TSession& s, std::string_view bytes) {
  s.ReceiveBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

std::string ScreenRow(const TSession& s, int row) {
  return Trimmed(s.Screen->GetLineText(s.Screen->ScreenLine(row)));
}

bool ScreenShows(const TSession& s, const std::string& text) {
  for (int row = 1; row <= s.Screen->Rows; ++row) {
    if (s.Screen->GetLineText(s.Screen->ScreenLine(row)).find(text) != std::string::npos) return true;
  }
  return false;
}

int PostedCount(const TScriptedDesktop& desktop, int message) {
  int n = 0;
  for (const TPostedMessage& posted : desktop.Posted) n += posted.Message == message;
  return n;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') quoted += "'\\''";
    else quoted.push_back(c);
  }
  return quoted + "'";
}

namespace {
TQelRun RunQelWith(const TTempDir& dir, const std::string& arguments, const std::string& in, const std::string& out) {
  const std::string err = dir.file("qel.stderr");
  const std::string command = ShellQuoted(QEL_TOOL) + " " + arguments + " <" + ShellQuoted(in) + " >" +
                              ShellQuoted(out) + " 2>" + ShellQuoted(err);
  const int raw = std::system(command.c_str());
  TQelRun run;
  run.Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  if (out != "/dev/full") run.Out = ReadFileBytes(out);
  run.Err = ReadFileBytes(err);
  return run;
}
}  // namespace

TQelRun RunQel(const TTempDir& dir, const std::string& arguments, const std::string& input) {
  WriteFileBytes(dir.file("qel.stdin"), input);
  return RunQelWith(dir, arguments, dir.file("qel.stdin"), dir.file("qel.stdout"));
}

TQelRun RunQelOnAFullDisk(const TTempDir& dir, const std::string& arguments) {
  return RunQelWith(dir, arguments, "/dev/null", "/dev/full");
}

int RunUnprivileged(const std::function<int()>& work) {
  if (::geteuid() != 0) return work() & 0xFF;
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    constexpr uid_t kNobody = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(255);
    ::_exit(work() & 0xFF);
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  const int result = WEXITSTATUS(status);
  return result == 255 ? -1 : result;
}

std::string Padded(std::string sentence) {
  sentence.resize(96, ' ');
  return sentence;
}

std::string Trimmed(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}
