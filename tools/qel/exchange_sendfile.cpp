#include "exchange_sendfile.h"

#include <algorithm>
#include <charconv>

void TSendFilePayload::Append(std::string& out, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) out.push_back(static_cast<char>(Random() & 0xFF));
}

bool TExchangeSendFile::Start(const std::vector<std::string>& words, std::string& out, std::int64_t now) {
  std::uint64_t count = kDefaultBytes;
  if (words.size() > 2) {
    out += "?INVALID PARAMETER\r\n";
    return false;
  }
  if (words.size() == 2) {
    const std::string& text = words[1];
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
    if (error != std::errc() || end != text.data() + text.size() || count == 0 || count > kLimitBytes) {
      out += "?INVALID PARAMETER\r\n";
      return false;
    }
  }
  Total = count;
  Sent = 0;
  Payload = TSendFilePayload();
  Deadline = now + kAnswerWaitMs;
  out += "\x1b[>0;1;" + std::to_string(count) + "r";
  return true;
}

TExchangeSendFile::TAnswer TExchangeSendFile::Answer(std::uint8_t b) {
  if (b == 'Y') return anAccepted;
  if (b == 'N') return anRefused;
  return anWaiting;  // a line end typed before, or noise
}

bool TExchangeSendFile::Produce(std::string& out, std::size_t chunk, bool telnet) {
  const std::uint64_t take = std::min<std::uint64_t>(chunk, Total - Sent);
  const std::size_t start = out.size();
  Payload.Append(out, static_cast<std::size_t>(take));
  Sent += take;
  if (telnet) {
    std::string escaped = out.substr(start);
    out.resize(start);
    for (const char c : escaped) {
      out.push_back(c);
      if (c == '\xff') out.push_back(c);
    }
  }
  return Sent < Total;
}

std::string TExchangeSendFile::Report() const { return "\r\nFILE SENT, " + std::to_string(Sent) + " BYTES\r\n"; }
