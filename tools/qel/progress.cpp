#include "progress.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>

namespace {
volatile std::sig_atomic_t InterruptFlag = 0;

void OnInterrupt(int) { InterruptFlag = 1; }

constexpr auto kRedraw = std::chrono::milliseconds(250);

std::string Bytes(std::int64_t n) {
  char text[32];
  if (n < 1000 * 1000) std::snprintf(text, sizeof text, "%.1f kB", static_cast<double>(n) / 1e3);
  else if (n < 1000LL * 1000 * 1000) std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(n) / 1e6);
  else std::snprintf(text, sizeof text, "%.2f GB", static_cast<double>(n) / 1e9);
  return text;
}

std::string Duration(double seconds) {
  const long s = static_cast<long>(seconds + 0.5);
  char text[32];
  if (s < 60) std::snprintf(text, sizeof text, "%ld s", s);
  else if (s < 3600) std::snprintf(text, sizeof text, "%ld min %02ld s", s / 60, s % 60);
  else std::snprintf(text, sizeof text, "%ld h %02ld min", s / 3600, (s / 60) % 60);
  return text;
}
}  // namespace

void CatchInterrupt() {
  // Without SA_RESTART, so that a read waiting on a pipe or a terminal returns.
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
}

bool Interrupted() { return InterruptFlag != 0; }

TProgress::TProgress(const std::string& what, std::int64_t total, bool quiet)
    : What(what), Total(total), Shown(!quiet && ::isatty(STDERR_FILENO) == 1) {
  Start = LastDraw = std::chrono::steady_clock::now();
}

TProgress::~TProgress() { Finish(); }

std::string TProgress::Line(const std::string& what, std::int64_t done, std::int64_t total, double seconds) {
  std::string line = what + ": " + Bytes(done);
  if (total > 0) line += " of " + Bytes(total);
  if (seconds > 0) {
    const double rate = static_cast<double>(done) / seconds;
    line += ", " + Bytes(static_cast<std::int64_t>(rate)) + "/s";
    if (total > 0 && rate > 0 && done <= total) line += ", " + Duration(static_cast<double>(total - done) / rate) + " left";
  }
  return line;
}

void TProgress::Update(std::int64_t done) {
  if (!Shown) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - LastDraw < kRedraw) return;
  Draw(done);
}

void TProgress::Draw(std::int64_t done) {
  if (!Shown) return;
  const auto now = std::chrono::steady_clock::now();
  LastDraw = now;
  const double seconds = std::chrono::duration<double>(now - Start).count();
  // Carriage return and erase to the end of the line: one line redrawn.
  std::fprintf(stderr, "\r%s\x1b[K", Line(What, done, Total, seconds).c_str());
  std::fflush(stderr);
  Drawn = true;
}

void TProgress::Finish() {
  if (!Drawn) return;
  std::fputs("\r\x1b[K", stderr);
  std::fflush(stderr);
  Drawn = false;
}
