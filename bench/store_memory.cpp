// Scroll-back memory and write speed: 1,000,000 lines of 80 characters
// written through the screen writer as a terminal receives them (text, CR,
// LF at the bottom row, so every line enters the history as 132 blanks and is
// then written). Prints the resident memory and the lines per second.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "app/session.h"
#include "core/desktop.h"
#include "core/tempdir.h"
#include "screen/store.h"
#include "screen/writer.h"

namespace {
double StatusMegabytes(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::size_t length = std::strlen(field);
  while (std::getline(status, line))
    if (line.compare(0, length, field) == 0) return std::atof(line.c_str() + length) / 1024.0;
  return 0;
}

// Text of line i: 80 printable characters that differ from line to line.
void MakeLine(long i, std::uint8_t* out) {
  char head[32];
  const int n = std::snprintf(head, sizeof head, "%07ld ", i);
  for (int c = 0; c < 80; ++c)
    out[c] = c < n ? static_cast<std::uint8_t>(head[c]) : static_cast<std::uint8_t>(33 + (i + c) % 90);
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}
}  // namespace

int main(int argc, char** argv) {
  const long lines = argc > 1 ? std::atol(argv[1]) : 1000000;
  const TTemporaryDirectory directory("qelbench");
  THeadlessDesktop desktop;
  double runSeconds = 0, charSeconds = 0;
  int count = 0;
  {
    TSession session(desktop, directory.Path().string());
    session.Writer->ResetTerminal();
    for (int i = 0; i < 24; ++i)
      session.Screen->AddLine(std::string(132, ' '), session.Writer->DefaultAttribute(), false);
    TScreenWriter& writer = *session.Writer;
    writer.State.CursorRow = 24;

    std::uint8_t text[80];
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < lines; ++i) {
      MakeLine(i, text);
      writer.PutRun(text, sizeof text);
      writer.PutChar('\r');
      writer.PutChar('\n');
    }
    runSeconds = Seconds(start);
    count = session.Screen->Count();
    const double rss = StatusMegabytes("VmRSS:");
    const double peak = StatusMegabytes("VmHWM:");
    std::printf("store: %ld lines, RSS %.1f MB, peak %.1f MB\n", lines, rss, peak);

    // The same work one character at a time, on a short run.
    const long charLines = lines / 10 > 0 ? lines / 10 : 1;
    const auto charStart = std::chrono::steady_clock::now();
    for (long i = 0; i < charLines; ++i) {
      MakeLine(i, text);
      for (const std::uint8_t c : text) writer.PutChar(c);
      writer.PutChar('\r');
      writer.PutChar('\n');
    }
    charSeconds = Seconds(charStart) * static_cast<double>(lines) / static_cast<double>(charLines);
  }
  std::printf("store: PutRun %.0f lines/s (%.1f MB/s of text), PutChar %.0f lines/s\n",
              static_cast<double>(lines) / runSeconds,
              static_cast<double>(lines) * 82 / runSeconds / 1e6,
              static_cast<double>(lines) / charSeconds);
  return count >= lines ? 0 : 1;
}
