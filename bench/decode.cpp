// Trace decoding throughput: `qel decode`'s path (the session's receive path
// with trace conversion on, the decoder, the writer and the log) over a
// generated recording of 50 MB of mixed messages: structures with every kind
// of value, CASE variants and arrays, MBID lists, DSS1 messages, hex dumps,
// full headers and plain lines. Figures in MB of trace text per second (best
// of three runs). The target is 20 MB/s.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/batchdecode.h"
#include "app/session.h"
#include "core/desktop.h"
#include "core/numbers.h"
#include "core/tempdir.h"
#include "trace/compiler.h"

namespace {

constexpr std::size_t kTraceBytes = 50u * 1024 * 1024;
constexpr double kTargetMBps = 20.0;

// The exchange vocabulary the recording is decoded with.
const char kModeSource[] = R"(
NEWMODE state = SET (idle, busy, *, blocked);
NEWMODE wide = SET (zero, one) WITH (count = 300);
NEWMODE prio = RANGE (0:3) CONSTANTS (low = 0, high = 2);
NEWMODE counter = INT;
NEWMODE state_alias = state;
NEWMODE prio_alias = prio;
NEWMODE kinds = STRUCT (
  i INT, b BOOL, c CHAR, p PTR, r REF, e EXTENTIONBIT, b4 BIT(4), b8 BIT(8), b12 BIT(12),
  b24 BIN(24), rg RANGE (0:1000), st state, w wide, pr prio, sa state_alias, pa prio_alias,
  cnt counter, u INT);
MESSAGE 100 = kinds;
NEWMODE cases = STRUCT (
  tag state,
  CASE tag OF
    (idle): a INT;
    (busy, blocked): b CHAR, c CHAR;
    ELSE d BIN(16);
  ESAC,
  n INT,
  list ARRAY (0:9) CHAR VARLENGTH (n - 1),
  tail INT);
MESSAGE 101 = cases;
NEWMODE arrays = STRUCT (
  plain ARRAY (0:2) BIT(8), byset ARRAY (state) CHAR, bycon ARRAY (prio) BOOL,
  twod ARRAY (0:1, 1:2) BIT(8), packed PACK ARRAY (0:3) BIT(2));
MESSAGE 103 = arrays;
NEWMODE item = STRUCT (tag BIT(8), len BIT(8), val INT);
MESSAGE 1 = HEXDUMP;
MESSAGE 2 = MBIDLIST;
MESSAGE 3 = DSS1;
MBID 5 = state;
MBID 6 = item;
MBID 7 = HEXDUMP;
KASP BID 5 = "LINE_STATE";
KASP BID 6 = "ITEM";
KASP BID 128 = "GROUP";
KASP VMI 3 = "LINE_PROCESS";
NEWMODE dss1_types = RANGE (0:127) CONSTANTS (setup = 05H, connect = 07H);
NEWMODE ie0 = RANGE (0:255) CONSTANTS (
  bearer = 04H, facility = 1CH, called = 70H, shift = 90H, more_data = 0A0H,
  complete = 0A1H, congestion = 0B0H);
NEWMODE bearer_cap = STRUCT (coding BIT(8), rate BIT(8));
NEWMODE cong = PACK STRUCT (id BIT(4), level BIT(4));
NEWMODE ie_contents = STRUCT (id BIT(8), CASE id OF (04H): bc bearer_cap; (0B0H): cl cong; ESAC);
DSS1 MESSAGETYPES = dss1_types;
DSS1 CODESET 0 = ie0;
DSS1 IECONTENTS = ie_contents;
)";

class TRandom {
 public:
  std::uint32_t Next() {
    State = State * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>(State >> 33);
  }
  int Between(int low, int high) { return low + static_cast<int>(Next() % static_cast<std::uint32_t>(high - low + 1)); }

 private:
  std::uint64_t State = 0xDEC0DE;
};

// A layout A header line (80 columns) of message `identity` with `length` bytes.
std::string Header(unsigned identity, unsigned length, TRandom& random) {
  std::string line(80, ' ');
  auto put = [&](std::size_t column, const std::string& text) { line.replace(column - 1, text.size(), text); };
  put(1, Dec(identity, 5));
  put(14, Hex(random.Next() & 0xFFFF, 4) + "_" + Hex(random.Next() & 0xFFFF, 4));
  put(24, Hex(random.Next() & 0xFFFF, 4) + "_" + Hex(random.Next() & 0xFFFF, 4));
  put(34, Hex(length, 2) + "10");
  put(39, "0800");
  put(44, "....");
  put(49, "....:....");
  put(59, "....");
  put(65, random.Between(0, 1) ? "SND" : "RCV");
  put(70, "12:34:56.78");
  return line + "\r\n";
}

// DATA lines of the given bytes, 16 bytes (8 words) to a line.
void AppendData(std::string& out, const std::string& bytes) {
  for (std::size_t at = 0; at < bytes.size(); at += 16) {
    out += "DATA =";
    for (std::size_t i = at; i < std::min(at + 16, bytes.size()); i += 2) {
      const unsigned low = static_cast<std::uint8_t>(bytes[i]);
      const unsigned high = i + 1 < bytes.size() ? static_cast<std::uint8_t>(bytes[i + 1]) : 0;
      out += ' ';
      out += Hex(high << 8 | low, 4);
    }
    out += "\r\n";
  }
}

std::string RandomBytes(TRandom& random, std::size_t n) {
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(random.Next());
  return s;
}

std::string Trace() {
  TRandom random;
  std::string s;
  s.reserve(kTraceBytes + 4096);
  const std::string dss1("\x08\x02\x81\x23\x05\xA1\x04\x02\x88\x90\x70\x03\x81\x31\x32\xB3\xD5"
                         "\x1C\x08\x91\xAA\xBB\x92\x03\x01\x02\x03",
                         27);
  const std::string mbids("\x80\x05\x01\x01\x06\x04\xA1\x02\x34\x12\x07\x02\xAB\xCD\x72\x01\x03\xE5\x00"
                          "\xFF\x02\x05\x01\x11\x22",
                          25);
  while (s.size() < kTraceBytes) {
    switch (random.Between(0, 6)) {
      case 0:  // every kind of value
        s += Header(100, 31, random);
        AppendData(s, RandomBytes(random, 32));
        break;
      case 1: {  // CASE variants and a VARLENGTH array
        std::string bytes = RandomBytes(random, 18);
        bytes[0] = static_cast<char>(random.Between(0, 3));
        bytes[3] = static_cast<char>(random.Between(0, 11));
        bytes[4] = 0;
        s += Header(101, 17, random);
        AppendData(s, bytes);
        break;
      }
      case 2:  // arrays
        s += Header(103, 16, random);
        AppendData(s, RandomBytes(random, 16));
        break;
      case 3:  // an MBID list
        s += Header(2, static_cast<unsigned>(mbids.size()), random);
        AppendData(s, mbids);
        break;
      case 4:  // DSS1
        s += Header(3, static_cast<unsigned>(dss1.size()), random);
        AppendData(s, dss1);
        break;
      case 5:  // a hex dump
        s += Header(1, 48, random);
        AppendData(s, RandomBytes(random, 48));
        break;
      default:  // text that is no trace
        s += "QUORIX> DISPLAY TRACE STATUS ";
        s += std::to_string(random.Next());
        s += "\r\n";
        break;
    }
  }
  return s;
}

struct TFixture {
  TTemporaryDirectory Directory{"qel-bench-decode"};
  std::filesystem::path Dir = Directory.Path();
  std::string Base = Directory.File("fixture");
  TFixture() {
    const TCompileResult result = CompileModeSource(kModeSource, "bench");
    std::string error;
    if (Dir.empty() || !result.Ok || !WriteModeFileImage(result.Image, Base, Dir.string(), &error)) {
      std::fprintf(stderr, "bench_decode: %s%s\n", result.Error.Text().c_str(), error.c_str());
      std::exit(1);
    }
  }
};

struct TResult {
  double Seconds = 0;
  std::size_t Lines = 0;
  std::size_t Bytes = 0;
};

TResult DecodeOnce(const TFixture& fixture, const std::string& trace) {
  const std::filesystem::path programDir = fixture.Dir / "program";
  std::filesystem::create_directories(programDir);
  THeadlessDesktop desktop;
  TSession session(desktop, programDir.string());
  TBatchDecoder decoder(session);
  TResult result;
  decoder.Output = [&](std::string_view line) {
    ++result.Lines;
    result.Bytes += line.size() + 1;
  };
  TBatchDecodeOptions options;
  options.ModeBase = fixture.Base;
  options.OrnetGiven = true;
  options.OrnetDirectory = fixture.Dir.string() + "/";
  std::string error;
  if (!decoder.Start(options, &error)) {
    std::fprintf(stderr, "bench_decode: %s\n", error.c_str());
    std::exit(1);
  }
  const auto start = std::chrono::steady_clock::now();
  decoder.Feed(reinterpret_cast<const std::uint8_t*>(trace.data()), trace.size());
  decoder.Finish();
  result.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

}  // namespace

int main() {
  const TFixture fixture;
  const std::string trace = Trace();
  TResult best;
  best.Seconds = 1e30;
  for (int run = 0; run < 3; ++run) {
    const TResult r = DecodeOnce(fixture, trace);
    if (r.Seconds < best.Seconds) best = r;
  }
  const double megabytes = static_cast<double>(trace.size()) / (1024.0 * 1024.0);
  const double rate = megabytes / best.Seconds;
  // A recording that decodes to little would measure nothing.
  if (best.Lines < trace.size() / 100) {
    std::fprintf(stderr, "bench_decode: only %zu lines decoded\n", best.Lines);
    return 1;
  }
  std::printf("trace decode   %7.1f MB/s  (%.0f MB of trace in %.2f s, %zu lines / %.0f MB decoded; target %.0f MB/s)\n",
              rate, megabytes, best.Seconds, best.Lines, static_cast<double>(best.Bytes) / (1024.0 * 1024.0),
              kTargetMBps);
  return rate >= kTargetMBps ? 0 : 1;
}
