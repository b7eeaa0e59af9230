// The error reports of ConvertError mode (message identities 119 and 2777),
// named from the host's KASP.ERR.
#include <algorithm>

#include "app/session.h"
#include "core/numbers.h"
#include "screen/writer.h"
#include "trace/decoder.h"
#include "trace/tracefiles.h"

namespace {
constexpr std::size_t kErrorRecordSize = 17;
constexpr std::uint32_t kWordsPerLine = 8;
}  // namespace

void TTraceDecoder::PrintErrorReport() {
  const TMessageBuffer& b = MessageBuffer;
  auto word = [&](std::uint32_t k) { return Hex(b.Word(k), 4); };
  const std::uint32_t n = b.Word(8);
  char record[kErrorRecordSize];
  if (!S.Kasp->ReadErrorRecord(n, record)) {
    WordDump();
    return;
  }
  std::string first = n == 0 ? std::string(5, ' ') : std::to_string(n);
  if (first.size() < 5) first.insert(0, 5 - first.size(), ' ');
  first += '=';
  first.append(record, kErrorRecordSize);
  first += "PCE=>" + word(0) + " DATA=>" + word(10) + " " + word(12) + " " + word(14) + " " + word(16) + " " +
           word(18) + std::string(7, ' ') + Header.Time;
  S.Writer->WriteLine(first, caMsg);
  std::string second(23, ' ');
  second += "FMM=>" + word(22) + " CODE=>" + word(24) + " PC=>" + word(28) + ":" + word(26) + " EP=>" +
            Hex(b.At(33), 2);
  S.Writer->WriteLine(second, caData);
}

void TTraceDecoder::WordDump() {
  const std::string indent(11, ' ');
  S.Writer->WriteLine(indent + "DATA", caData);
  const TMessageBuffer& b = MessageBuffer;
  for (std::uint32_t at = 0; at < b.Count; at += 2 * kWordsPerLine) {
    if (at != 0 && YieldStop()) break;
    std::string line = indent;
    const std::uint32_t end = std::min<std::uint32_t>(at + 2 * kWordsPerLine, b.Count);
    for (std::uint32_t k = at; k < end; k += 2) {
      if (k != at) line += ' ';
      AppendHex(line, b.Word(k), 4);
    }
    S.Writer->WriteLine(line, caData);
  }
}
