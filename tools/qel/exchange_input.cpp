#include "exchange_input.h"

#include <array>
#include <utility>
#include <cstdio>

#include "core/ascii.h"

namespace {
constexpr std::uint8_t kTab = 9;
constexpr std::uint8_t kCtrlZ = 26;

constexpr const char* kLinePrompt = ">";

std::array<std::uint32_t, 256> MakeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}
}  // namespace

std::uint32_t Crc32(std::uint32_t crc, std::string_view bytes) {
  static const std::array<std::uint32_t, 256> table = MakeCrcTable();
  crc = ~crc;
  for (const char b : bytes) crc = table[(crc ^ static_cast<std::uint8_t>(b)) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void TExchangeInput::Start(std::string& out, bool afterCr) {
  Collecting = true;
  Line.clear();
  LinePartCounted = false;
  LastLineEnd = 0;
  SkipCommandLineEnd = afterCr;
  LineCount = ByteCount = 0;
  Checksum = 0;
  out += "ENTER TEXT, END WITH . OR CTRL-Z\r\n";
  out += kLinePrompt;
}

void TExchangeInput::Count(std::string_view bytes) {
  ByteCount += bytes.size();
  Checksum = Crc32(Checksum, bytes);
}

void TExchangeInput::Byte(std::uint8_t b, std::string& out, bool echo, bool& afterCr) {
  if (std::exchange(SkipCommandLineEnd, false) && (b == LF || b == 0)) return;
  if (b == kCtrlZ) {
    if (!Line.empty() || LinePartCounted) ++LineCount;  // an unfinished last line
    Count(Line);
    afterCr = false;
    End(out);
    return;
  }
  const std::uint8_t lastLineEnd = std::exchange(LastLineEnd, 0);
  if (b == CR || b == LF) {
    // The second half of a CR LF or LF CR pair belongs to the line before.
    if (lastLineEnd != 0 && lastLineEnd != b) {
      Count(std::string(1, static_cast<char>(b)));
      return;
    }
    LineEnd(b, out, afterCr);
    return;
  }
  Line += static_cast<char>(b);
  if (echo && ((b >= 32 && b < 127) || b == kTab)) out += static_cast<char>(b);
  if (Line.size() >= kLineLimit) {
    Count(Line);
    Line.clear();
    LinePartCounted = true;
  }
}

void TExchangeInput::LineEnd(std::uint8_t b, std::string& out, bool& afterCr) {
  if (Line == "." && !LinePartCounted) {
    afterCr = b == CR;
    End(out);
    return;
  }
  Line += static_cast<char>(b);
  Count(Line);
  Line.clear();
  LinePartCounted = false;
  ++LineCount;
  LastLineEnd = b;
  out += "\r\n";
  out += kLinePrompt;
}

void TExchangeInput::End(std::string& out) {
  Collecting = false;
  Line.clear();
  char report[128];
  std::snprintf(report, sizeof report, "\r\nINPUT ENDED: %llu LINES, %llu BYTES, CRC32 %08X\r\n",
                static_cast<unsigned long long>(LineCount), static_cast<unsigned long long>(ByteCount),
                static_cast<unsigned>(Checksum));
  out += report;
}
