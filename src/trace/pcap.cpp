#include "trace/pcap.h"

#include <cerrno>
#include <algorithm>
#include <chrono>

namespace {
constexpr std::uint32_t kDay = 24 * 60 * 60;
constexpr std::uint32_t kSnapLength = 65535;

void PutLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void PutLe16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

bool TwoDigits(std::string_view text, std::size_t at, std::uint32_t& value) {
  if (at + 2 > text.size()) return false;
  const char a = text[at], b = text[at + 1];
  if (a < '0' || a > '9' || b < '0' || b > '9') return false;
  value = static_cast<std::uint32_t>((a - '0') * 10 + (b - '0'));
  return true;
}

std::int64_t TodayStart() {
  const auto now = std::chrono::system_clock::now();
  const std::int64_t seconds = std::chrono::duration_cast<std::chrono::seconds>(now.time_since_epoch()).count();
  return seconds - seconds % kDay;
}
}  // namespace

std::optional<TTimeOfDay> ParseTraceTime(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  std::uint32_t h = 0, m = 0, s = 0;
  if (!TwoDigits(text, 0, h) || text.size() < 8 || text[2] != ':' || !TwoDigits(text, 3, m) || text[5] != ':' ||
      !TwoDigits(text, 6, s) || h > 23 || m > 59 || s > 59)
    return std::nullopt;
  TTimeOfDay t{h * 3600 + m * 60 + s, 0};
  if (text.size() == 8) return t;
  if (text[8] != '.') return std::nullopt;
  std::uint32_t scale = 100000;
  for (const char c : text.substr(9)) {
    if (c < '0' || c > '9') return std::nullopt;
    t.Micros += static_cast<std::uint32_t>(c - '0') * scale;
    scale /= 10;
  }
  return t;
}

bool SentByExchange(std::string_view direction) {
  const std::size_t p = direction.find_first_not_of(' ');
  return p != std::string_view::npos && direction[p] == 'S';
}

std::vector<std::uint8_t> LapdFrame(const std::uint8_t* pdu, std::size_t count, bool fromNetwork) {
  std::vector<std::uint8_t> frame;
  frame.reserve(count + 4);
  frame.push_back(fromNetwork ? 0x02 : 0x00);  // SAPI 0, C/R, EA 0
  frame.push_back(0x01);                       // TEI 0, EA 1
  frame.push_back(0x00);                       // I frame, N(S) 0
  frame.push_back(0x00);                       // N(R) 0, P 0
  frame.insert(frame.end(), pdu, pdu + count);
  return frame;
}

int TPcapWriter::Open(const std::string& path) {
  if (const int error = File.Create(path); error != 0) return error;
  FrameCount = 0;
  Last = {};
  DayStart = TodayStart();
  std::vector<std::uint8_t> header;
  PutLe32(header, 0xA1B2C3D4);  // microsecond stamps
  PutLe16(header, 2);
  PutLe16(header, 4);
  PutLe32(header, 0);  // GMT offset
  PutLe32(header, 0);  // accuracy
  PutLe32(header, kSnapLength);
  PutLe32(header, kLinkTypeLapd);
  const int error = WriteAll(header);
  if (error != 0) File.Close();
  return error;
}

int TPcapWriter::Write(const TDss1Capture& message) {
  if (!File.IsOpen()) return EBADF;
  if (const std::optional<TTimeOfDay> t = ParseTraceTime(message.Time)) {
    // A trace running past midnight: the time of day falls far back.
    if (FrameCount > 0 && t->Seconds + kDay / 2 < Last.Seconds) DayStart += kDay;
    Last = *t;
  }
  const std::size_t count = std::min<std::size_t>(message.Count, kSnapLength - 4);
  const std::vector<std::uint8_t> frame = LapdFrame(message.Bytes, count, SentByExchange(message.Direction));
  std::vector<std::uint8_t> record;
  record.reserve(16 + frame.size());
  PutLe32(record, static_cast<std::uint32_t>(DayStart + Last.Seconds));
  PutLe32(record, Last.Micros);
  PutLe32(record, static_cast<std::uint32_t>(frame.size()));
  PutLe32(record, static_cast<std::uint32_t>(frame.size()));
  record.insert(record.end(), frame.begin(), frame.end());
  const int error = WriteAll(record);
  if (error == 0) ++FrameCount;
  return error;
}

int TPcapWriter::WriteAll(const std::vector<std::uint8_t>& bytes) {
  const TIoResult result = File.Write(bytes.data(), bytes.size());
  if (result.Error != 0) return result.Error;
  return result.Done == bytes.size() ? 0 : ENOSPC;
}
