// What the receive benchmarks share: the generated streams, the figures, and
// our whole receive path in memory (session receive -> dispatcher ->
// interpreter -> writer -> store) as socket reads hand bytes to it.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/session.h"
#include "core/desktop.h"
#include "core/settings.h"
#include "core/tempdir.h"
#include "screen/store.h"

// A socket read.
inline constexpr std::size_t kReceiveChunk = 8192;

// A small deterministic generator, so every run measures the same bytes.
class TRandom {
 public:
  std::uint32_t Next() {
    State = State * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>(State >> 33);
  }
  int Between(int low, int high) { return low + static_cast<int>(Next() % (high - low + 1)); }

 private:
  std::uint64_t State = 0x5EED;
};

inline void AppendText(std::string& out, TRandom& random, int length) {
  for (int i = 0; i < length; ++i) out.push_back(static_cast<char>(random.Between(32, 126)));
}

// Lines of shortest to longest printable characters, each ended by CR LF.
inline std::string TextLines(std::size_t bytes, int shortest, int longest) {
  TRandom random;
  std::string s;
  s.reserve(bytes + static_cast<std::size_t>(longest) + 2);
  while (s.size() < bytes) {
    AppendText(s, random, random.Between(shortest, longest));
    s += "\r\n";
  }
  return s;
}

// Lines as a listing or a log shows them.
inline std::string PlainLines(std::size_t bytes) { return TextLines(bytes, 60, 80); }

// A full-screen monitor as an exchange's status display draws it: a title
// row and a footer in their own attributes, a scrolling region between them
// where event lines of coloured fields arrive at the bottom and are scrolled
// up by LF, fields updated in place by cursor addressing, erased line ends,
// now and then the region or the whole screen erased.
inline std::string ScrollRegionScreens(std::size_t bytes) {
  static const char* const kLooks[] = {"\x1b[0m", "\x1b[1m", "\x1b[7m", "\x1b[0;31m", "\x1b[0;32;44m",
                                       "\x1b[1;33m", "\x1b[4m", "\x1b[0;36m"};
  TRandom random;
  std::string s;
  s.reserve(bytes + 4096);
  char position[32];
  while (s.size() < bytes) {
    if (random.Between(0, 15) == 0) s += "\x1b[H\x1b[2J";
    s += "\x1b[1;1H\x1b[7m";
    AppendText(s, random, random.Between(40, 79));
    s += "\x1b[K\x1b[24;1H\x1b[0;1;33m";
    AppendText(s, random, random.Between(20, 60));
    s += "\x1b[K\x1b[0m\x1b[3;22r\x1b[22;1H";
    if (random.Between(0, 7) == 0) s += "\x1b[3;1H\x1b[J";
    const int events = random.Between(4, 16);
    for (int line = 0; line < events; ++line) {
      const int width = random.Between(30, 72);
      for (int column = 1; column < width;) {
        s += kLooks[random.Between(0, 7)];
        const int length = random.Between(4, 12);
        AppendText(s, random, length);
        column += length + 1;
        s += ' ';
      }
      s += "\x1b[0m\x1b[K\r\n";
    }
    for (int k = random.Between(2, 8); k > 0; --k) {
      std::snprintf(position, sizeof position, "\x1b[%d;%dH", random.Between(3, 22), random.Between(1, 70));
      s += position;
      s += kLooks[random.Between(0, 7)];
      AppendText(s, random, random.Between(2, 9));
      if (random.Between(0, 3) == 0) s += "\x1b[K";
    }
    s += "\x1b[0m\x1b[r";
  }
  return s;
}

inline double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

inline double Megabytes(std::size_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

// MB/s of a VT100 session taking the stream in socket-sized pieces.
inline double InMemoryRate(const std::string& stream) {
  const TTemporaryDirectory directory("qelbench");
  if (directory.Path().empty()) std::abort();
  THeadlessDesktop desktop;
  TSession session(desktop, directory.Path().string());
  session.Settings.Emulation = emVT100;
  session.StartUp();
  const auto* data = reinterpret_cast<const std::uint8_t*>(stream.data());
  const auto start = std::chrono::steady_clock::now();
  for (std::size_t done = 0; done < stream.size(); done += kReceiveChunk) {
    session.ReceiveBytes(data + done, std::min(kReceiveChunk, stream.size() - done));
  }
  const double seconds = Seconds(start);
  // Keeps the work observable: lines added, or (a screen whose regions
  // scroll adds none) rows written.
  bool written = session.Screen->Count() > 101;
  for (int row = 1; row <= 24 && !written; ++row)
    written = session.Screen->GetLineLength(session.Screen->ScreenLine(row)) > TBrowse::ScreenXSizeMax;
  if (!written) {
    std::fprintf(stderr, "bench: nothing reached the store\n");
    std::exit(1);
  }
  return Megabytes(stream.size()) / seconds;
}
