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
  // Keeps the work observable.
  if (session.Screen->Count() <= 101) {
    std::fprintf(stderr, "bench: nothing reached the store\n");
    std::exit(1);
  }
  return Megabytes(stream.size()) / seconds;
}
