// MINI trace throughput: a generated MINI trace of every record kind (time
// stamps, routing, shell tracing, packets, calls, register dumps and
// four-line message records decoded through the sample exchange's modes)
// through the receive path with MINI trace and trace conversion on, the
// decoded lines going to a discarding stream. Run from the repository root
// (bench/run does).
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <ostream>
#include <streambuf>
#include <string>

#include "app/session.h"
#include "core/desktop.h"
#include "core/tempdir.h"
#include "screen/writer.h"
#include "trace/compiler.h"
#include "trace/decoder.h"
#include "trace/mini.h"
#include "trace/tracefiles.h"

namespace {
class TNullBuffer final : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

std::string Line(const char* words) { return std::string(" WOR 3A00:0000    ") + words + "\r\n"; }

// One round of records, about 1.5 KB.
std::string Round() {
  std::string text;
  text += Line("FFF5 090F 0402 0001 86A0 0178 0000 0000");
  text += Line("FFF0 1A2B 0040 0000 0123 0005 0000 0001");
  text += Line("0010 0020 0030 0040 0050 0060 0070 0080");
  text += Line("FFF6 0012 FFFF 0000 0000 0000 0000 0000");
  text += Line("FFF7 1105 0000 0102 0003 0000 0000 0000");
  text += Line("FFF8 0201 0403 0605 0807 0A09 0C0B 0E0D");
  text += Line("FFF4 0C10 0800 0000 0011 0002 0000 0000");
  // CALL_REQ: 47 bytes in the three lines after its start.
  text += Line("FFF1 000A 0012 0056 102F 2800 FFFF FFFF");
  text += Line("0042 0202 0411 0007 3535 3135 3332 0034");
  text += Line("0000 0000 0322 000A 3934 3033 3231 3433");
  text += Line("3635 0000 0031 0B0C 550A 2300 5601 0004");
  text += Line("FFBB 0001 0202 0800 0C10 1234 0000 00FF");
  text += Line("0010 0000 0A00 FFF0 0100 0A00 0020 0B00");
  text += Line("0007 3535 3135 3332 0034 0000 0000 0200");
  return text;
}
}  // namespace

int main() {
  std::ifstream source("samples/exchange.mode", std::ios::binary);
  const std::string modes((std::istreambuf_iterator<char>(source)), {});
  const TCompileResult compiled = CompileModeSource(modes, "samples/exchange.mode");
  if (!compiled.Ok) {
    std::fprintf(stderr, "bench_mini: %s (run from the repository root)\n", compiled.Error.Text().c_str());
    return 1;
  }

  const TTemporaryDirectory directory("qel-bench-mini");
  THeadlessDesktop desktop;
  TSession session(desktop, directory.Path().string());
  session.Settings.OrnetDirectoryName = "";
  session.Settings.DisplayMsgHeader = 1;
  session.StartUp();
  TNullBuffer nullBuffer;
  std::ostream discard(&nullBuffer);
  session.Writer->Redirect = &discard;
  if (!session.TraceFiles->OpenTraceFiles(std::make_shared<TMemoryModeFiles>(compiled.Image.Files))) return 1;
  session.Trace->TraceState = TTraceDecoder::tsConverting;
  session.Mini->MiniTraceOn();

  const std::string round = Round();
  std::string trace;
  while (trace.size() < 32u << 20) trace += round;

  const auto start = std::chrono::steady_clock::now();
  session.ReceiveBytes(reinterpret_cast<const std::uint8_t*>(trace.data()), trace.size());
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double megabytes = static_cast<double>(trace.size()) / (1 << 20);
  std::printf("MINI trace with decoding: %.1f MB in %.2f s = %.1f MB/s\n", megabytes, seconds, megabytes / seconds);
  if (!desktop.Boxes.empty()) std::printf("(%zu boxes shown)\n", desktop.Boxes.size());
  return 0;
}
