#include "comms/addressfilter.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

#include "core/text.h"

namespace {
constexpr std::array<std::uint8_t, 12> kMappedPrefix{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

TNetAddress FromV6Bytes(const std::uint8_t* bytes) {
  TNetAddress address;
  if (std::memcmp(bytes, kMappedPrefix.data(), kMappedPrefix.size()) == 0) {
    std::memcpy(address.Bytes.data(), bytes + 12, 4);
    return address;
  }
  address.V6 = true;
  std::memcpy(address.Bytes.data(), bytes, 16);
  return address;
}

bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == ',' || c == ';' || c == '\n' || c == '\r'; }

// Whether every bit of the address below the first `bits` is clear.
bool HostBitsClear(const TNetAddress& address, int bits) {
  for (int bit = bits; bit < address.Width(); ++bit) {
    if (address.Bytes[bit / 8] & (0x80 >> (bit % 8))) return false;
  }
  return true;
}
}  // namespace

std::optional<TNetAddress> TNetAddress::Parse(std::string_view text) {
  const std::string copy(text);
  TNetAddress address;
  in_addr v4{};
  if (copy.find(':') == std::string::npos) {
    // inet_pton, not inet_aton: "10.1" or "010.0.0.1" are not what anyone means here.
    if (inet_pton(AF_INET, copy.c_str(), &v4) != 1) return std::nullopt;
    std::memcpy(address.Bytes.data(), &v4, 4);
    return address;
  }
  in6_addr v6{};
  if (inet_pton(AF_INET6, copy.c_str(), &v6) != 1) return std::nullopt;
  return FromV6Bytes(v6.s6_addr);
}

std::optional<TNetAddress> TNetAddress::FromSocket(const sockaddr* address) {
  if (!address) return std::nullopt;
  if (address->sa_family == AF_INET) {
    TNetAddress result;
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
    std::memcpy(result.Bytes.data(), &v4->sin_addr, 4);
    return result;
  }
  if (address->sa_family == AF_INET6) {
    return FromV6Bytes(reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr.s6_addr);
  }
  return std::nullopt;
}

std::string TNetAddress::Text() const {
  char buffer[INET6_ADDRSTRLEN] = {};
  inet_ntop(V6 ? AF_INET6 : AF_INET, Bytes.data(), buffer, sizeof buffer);
  return buffer;
}

bool TAddressRange::Contains(const TNetAddress& address) const {
  if (address.V6 != Network.V6) return false;
  const int whole = Bits / 8;
  if (std::memcmp(address.Bytes.data(), Network.Bytes.data(), static_cast<std::size_t>(whole)) != 0) return false;
  const int rest = Bits % 8;
  if (rest == 0) return true;
  const auto mask = static_cast<std::uint8_t>(0xFF << (8 - rest));
  return (address.Bytes[whole] & mask) == (Network.Bytes[whole] & mask);
}

std::string TAddressRange::Text() const {
  if (Bits == Network.Width()) return Network.Text();
  return Network.Text() + "/" + std::to_string(Bits);
}

bool TAddressFilter::Add(std::string_view item, std::string& error) {
  item = TrimBlanks(item);
  const std::size_t slash = item.find('/');
  std::string_view addressText = item.substr(0, slash);
  // "[::1]" is accepted as the same as "::1": it is how hosts are written elsewhere.
  if (addressText.size() >= 2 && addressText.front() == '[' && addressText.back() == ']') {
    addressText = addressText.substr(1, addressText.size() - 2);
  }
  const auto address = TNetAddress::Parse(addressText);
  if (!address) {
    error = "'" + std::string(item) + "' is not an IPv4 or IPv6 address or network";
    return false;
  }
  TAddressRange range{*address, address->Width()};
  if (slash != std::string_view::npos) {
    const std::string_view bitsText = item.substr(slash + 1);
    int bits = 0;
    bool digits = !bitsText.empty() && bitsText.size() <= 3;
    for (const char c : bitsText) {
      digits = digits && c >= '0' && c <= '9';
      if (digits) bits = bits * 10 + (c - '0');
    }
    if (!digits || bits > address->Width()) {
      error = "'" + std::string(item) + "': the prefix length must be 0.." + std::to_string(address->Width());
      return false;
    }
    if (!HostBitsClear(*address, bits)) {
      error = "'" + std::string(item) + "' has address bits set beyond its /" + std::to_string(bits) + " prefix";
      return false;
    }
    range.Bits = bits;
  }
  Ranges.push_back(range);
  return true;
}

bool TAddressFilter::Parse(std::string_view text, std::string& error) {
  TAddressFilter parsed;
  std::size_t at = 0;
  while (at < text.size()) {
    if (IsSeparator(text[at])) {
      ++at;
      continue;
    }
    std::size_t end = at;
    while (end < text.size() && !IsSeparator(text[end])) ++end;
    if (!parsed.Add(text.substr(at, end - at), error)) return false;
    at = end;
  }
  Ranges = std::move(parsed.Ranges);
  return true;
}

bool TAddressFilter::Allows(const TNetAddress& address) const {
  if (Ranges.empty()) return true;
  for (const TAddressRange& range : Ranges) {
    if (range.Contains(address)) return true;
  }
  return false;
}

std::string TAddressFilter::Text() const {
  std::string text;
  for (const TAddressRange& range : Ranges) {
    if (!text.empty()) text += ' ';
    text += range.Text();
  }
  return text;
}

THostPort SplitHostPort(std::string_view text) {
  text = TrimBlanks(text);
  THostPort result;
  if (!text.empty() && text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close != std::string_view::npos) {
      result.Host = std::string(text.substr(1, close - 1));
      std::string_view rest = text.substr(close + 1);
      if (!rest.empty() && rest.front() == ':') result.Port = std::string(TrimBlanks(rest.substr(1)));
      return result;
    }
  }
  const std::size_t colon = text.find(':');
  // Two colons or more: an IPv6 address without brackets, which cannot carry a port.
  if (colon == std::string_view::npos || text.find(':', colon + 1) != std::string_view::npos) {
    result.Host = std::string(text);
    return result;
  }
  result.Host = std::string(TrimBlanks(text.substr(0, colon)));
  result.Port = std::string(TrimBlanks(text.substr(colon + 1)));
  return result;
}

std::string JoinHostPort(const std::string& host, const std::string& port) {
  if (port.empty()) return host;
  if (host.find(':') != std::string::npos) return "[" + host + "]:" + port;
  return host + ":" + port;
}
