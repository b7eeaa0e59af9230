// A week of scroll-back: 10,000,000 lines of mixed exchange output (see
// exchange_output.h) taken in through the session's receive path as socket
// reads hand them over, then: the memory the process holds, a find that
// misses across every line, a page of rows read anywhere (the view's paint),
// and the store saved as the screen background file and loaded back.
//   bench_store_memory [LINES]      (run by bench/run)
#include <algorithm>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "app/session.h"
#include "core/desktop.h"
#include "core/tempdir.h"
#include "exchange_output.h"
#include "screen/screenfind.h"
#include "screen/store.h"

namespace {
using TClock = std::chrono::steady_clock;

double StatusMegabytes(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::size_t length = std::strlen(field);
  while (std::getline(status, line))
    if (line.compare(0, length, field) == 0) return std::atof(line.c_str() + length) / 1024.0;
  return 0;
}

double Since(TClock::time_point start) { return std::chrono::duration<double>(TClock::now() - start).count(); }

// CPU seconds of the whole process (every thread) so far: on a busy machine
// the wall clock says more about the neighbours than about the work.
double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

const char* Verdict(bool met) { return met ? "" : ", MISSED"; }

// Feeds `lines` lines to the session in socket-sized reads; seconds spent
// in the receive path (making the text is not counted) and bytes fed.
double Ingest(TSession& session, long lines, std::size_t& bytes) {
  constexpr std::size_t kRead = 8192;
  TExchangeOutput output;
  std::string chunk;
  double seconds = 0;
  bytes = 0;
  for (long done = 0; done < lines;) {
    chunk.clear();
    for (int i = 0; i < 100000 && done < lines; ++i, ++done) output.AppendLine(chunk);
    const auto* data = reinterpret_cast<const std::uint8_t*>(chunk.data());
    const TClock::time_point start = TClock::now();
    for (std::size_t at = 0; at < chunk.size(); at += kRead)
      session.ReceiveBytes(data + at, std::min(kRead, chunk.size() - at));
    seconds += Since(start);
    bytes += chunk.size();
  }
  return seconds;
}

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct TPage {
  double Milliseconds = 0;
  double CpuMilliseconds = 0;
};

// A page of rows from `top` read as the view paints them, with the page's
// blocks not yet unpacked (lines of far-away blocks were read just before).
TPage ReadPage(const TBrowse& store, int top, int rows) {
  const int far = (top + store.Count() / 2) % std::max(1, store.Count());
  for (int i = 0; i < 8; ++i) store.GetLineText((far + i * 4096) % store.Count());
  std::string text;
  std::uint16_t cells[kLineCells];
  const TClock::time_point start = TClock::now();
  const double cpu = ThreadCpuSeconds();
  for (int row = 0; row < rows; ++row) store.GetLine(std::min(top + row, store.Count() - 1), text, cells);
  return {Since(start) * 1000, (ThreadCpuSeconds() - cpu) * 1000};
}
}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each figure as soon as it is known
  const long lines = argc > 1 ? std::atol(argv[1]) : 10000000;
  const TTemporaryDirectory directory("qelbench");
  THeadlessDesktop desktop;
  TSession session(desktop, directory.Path().string());
  session.Settings.Emulation = emVT100;
  session.StartUp();
  TBrowse& store = *session.Screen;
  const double before = StatusMegabytes("VmRSS:");

  std::size_t bytes = 0;
  const double receiveSeconds = Ingest(session, lines, bytes);
  const TClock::time_point settling = TClock::now();
  store.Settle();
  const double settleSeconds = Since(settling);
  const double ingestCpu = CpuSeconds();
  const double megabytes = static_cast<double>(bytes) / 1e6;
  const double rate = megabytes / (receiveSeconds + settleSeconds);
  std::printf("scroll-back: %ld lines of mixed exchange output, %.1f MB (%.1f bytes a line)\n", lines, megabytes,
              static_cast<double>(bytes) / static_cast<double>(lines));
  std::printf("  ingest through the receive path: %.1f MB/s, %.1f MB/s with packing finished (target >= 60%s); "
              "CPU %.1f s of all threads, making the text included\n",
              megabytes / receiveSeconds, rate, Verdict(rate >= 60), ingestCpu);
  const TStoreFigures f = store.Figures();
  const double rss = StatusMegabytes("VmRSS:");
  std::printf("  resident %.1f MB (%.1f before; %.1f bytes a line), peak %.1f MB (target <= 300%s)\n", rss, before,
              (rss - before) * 1048576.0 / static_cast<double>(lines), StatusMegabytes("VmHWM:"), Verdict(rss <= 300));
  std::printf("  store: %.1f MB held, %lld of %lld lines packed %.1f:1\n", static_cast<double>(f.ResidentBytes) / 1048576.0,
              static_cast<long long>(f.PackedLines), static_cast<long long>(f.Lines), f.Ratio());

  TScreenFind find(store);
  for (const bool caseSensitive : {false, true}) {
    find.FindCaseSensitive = caseSensitive;
    const TClock::time_point start = TClock::now();
    const double cpu = CpuSeconds();
    const int column = find.Find("NO SUCH TEXT|~");
    const double seconds = Since(start);
    std::printf("  find that misses, %s: %.3f s, CPU %.3f s (target <= 1 s%s)%s\n",
                caseSensitive ? "case sensitive" : "without case", seconds, CpuSeconds() - cpu, Verdict(seconds <= 1.0),
                column ? " FOUND?" : "");
  }

  // Pages at 20 places from the oldest to the newest, each crossing into a second block now and then.
  const int rows = 60;
  std::vector<TPage> pages;
  for (int i = 0; i < 20; ++i) pages.push_back(ReadPage(store, static_cast<int>((store.Count() - rows) * (i / 19.0)), rows));
  const TPage oldest = ReadPage(store, 0, rows);
  const TPage newest = ReadPage(store, store.Count() - rows, rows);
  double worst = 0, worstCpu = 0;
  for (const TPage& page : pages) {
    worst = std::max(worst, page.Milliseconds);
    worstCpu = std::max(worstCpu, page.CpuMilliseconds);
  }
  std::printf("  a page of %d rows: oldest %.2f ms, newest %.2f ms, worst of 20 places %.2f ms (CPU %.2f ms) "
              "(target <= 5 ms%s)\n",
              rows, oldest.Milliseconds, newest.Milliseconds, worst, worstCpu,
              Verdict(std::max(oldest.Milliseconds, worst) <= 5));

  const std::string file = directory.File("QelWin.SBF");
  TClock::time_point start = TClock::now();
  double cpu = CpuSeconds();
  const int saved = store.SaveToFile(file);
  const double saveSeconds = Since(start);
  std::printf("  saved as the background file: %.2f s, CPU %.2f s (target <= 10 s%s)%s\n", saveSeconds,
              CpuSeconds() - cpu, Verdict(saveSeconds <= 10), saved == 0 ? "" : " FAILED");
  const int count = store.Count();
  store.Clear();

  TBrowse loaded;
  loaded.FileName = file;
  start = TClock::now();
  cpu = CpuSeconds();
  const bool read = loaded.OpenFile() == 0 && loaded.LoadFile() == 0;
  loaded.Settle();
  const double loadSeconds = Since(start);
  std::printf("  loaded back: %.2f s, CPU %.2f s, %d lines (target <= 10 s%s)%s, resident %.1f MB\n", loadSeconds,
              CpuSeconds() - cpu, loaded.Count(), Verdict(loadSeconds <= 10),
              read && loaded.Count() == count ? "" : " FAILED", StatusMegabytes("VmRSS:"));
  return read && saved == 0 && loaded.Count() == count ? 0 : 1;
}
