// Find in a large scroll-back: 1,000,000 lines of 80 characters, searched
// for a text that is not there (every line read, no hit), with and without
// case, forward and backward. Prints the time of each; the target is 0.2 s.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "screen/screenfind.h"
#include "screen/store.h"

namespace {
// Text of line i: 80 printable characters that differ from line to line.
std::string MakeLine(long i) {
  char head[32];
  const int n = std::snprintf(head, sizeof head, "%07ld ", i);
  std::string text(80, ' ');
  for (int c = 0; c < 80; ++c)
    text[c] = c < n ? head[c] : static_cast<char>(33 + (i + c) % 90);
  return text;
}

template <typename TRun>
double BestSeconds(TRun run) {
  double best = 1e9;
  for (int round = 0; round < 3; ++round) {
    const auto start = std::chrono::steady_clock::now();
    run();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}
}  // namespace

int main(int argc, char** argv) {
  const long lines = argc > 1 ? std::atol(argv[1]) : 1000000;
  TBrowse screen;
  for (long i = 0; i < lines; ++i) screen.AddLine(MakeLine(i), 0, false);
  TScreenFind finder(screen);
  // Characters the lines never hold (they run from '!' to 'z'), so no window matches.
  const std::string missing = "NO SUCH TEXT|~";
  int found = 0;
  struct TCase {
    const char* Name;
    bool CaseSensitive;
    bool Backward;
  };
  const TCase cases[] = {{"forward, case sensitive", true, false},
                         {"forward, without case", false, false},
                         {"backward, without case", false, true}};
  // Backward from the cursor on the bottom row: up through every line.
  screen.SetCursor(1, screen.Rows);
  for (const TCase& c : cases) {
    finder.FindCaseSensitive = c.CaseSensitive;
    finder.FindStartCursor = c.Backward;
    const double seconds = BestSeconds([&] {
      found += c.Backward ? finder.FindPrevious(missing) : finder.Find(missing);
    });
    std::printf("find: %ld lines, %s, not there: %.3f s (%.0f MB/s; target <= 0.2 s%s)\n", lines, c.Name,
                seconds, static_cast<double>(lines) * 80 / seconds / 1e6,
                seconds <= 0.2 * static_cast<double>(lines) / 1e6 ? "" : ", MISSED");
  }
  return found == 0 ? 0 : 1;
}
