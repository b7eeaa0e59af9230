// Caller addresses and networks a listening port takes calls from, IPv4 and
// IPv6 in CIDR form ("10.1.0.0/16", "2001:db8::/32", "::1"). An empty list
// takes every caller. Also the parsing of "host:port" texts, where a host may
// be an IPv6 address in brackets ("[::1]:23").
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sockaddr;

// One address in network byte order; an IPv4 address is kept as such, also
// when it came as an IPv4-mapped IPv6 address (::ffff:10.0.0.1), so that a
// dual-stack listener matches it against IPv4 networks.
struct TNetAddress {
  bool V6 = false;
  std::array<std::uint8_t, 16> Bytes{};  // IPv4: the first 4

  // Numeric text only ("10.0.0.1", "::1"); no names.
  static std::optional<TNetAddress> Parse(std::string_view text);
  static std::optional<TNetAddress> FromSocket(const sockaddr* address);
  std::string Text() const;
  int Width() const { return V6 ? 128 : 32; }
};

struct TAddressRange {
  TNetAddress Network;
  int Bits = 0;  // prefix length
  bool Contains(const TNetAddress& address) const;
  std::string Text() const;  // "10.1.0.0/16"; a single address without "/BITS"
};

class TAddressFilter {
 public:
  // Items separated by blanks, commas or semicolons. On a bad item the
  // filter is unchanged and error names it.
  bool Parse(std::string_view text, std::string& error);
  // One "ADDR[/BITS]" item; host bits set below the prefix are refused, as
  // they usually mean a typing mistake.
  bool Add(std::string_view item, std::string& error);
  void Clear() { Ranges.clear(); }

  bool Empty() const { return Ranges.empty(); }
  bool Allows(const TNetAddress& address) const;
  // The list as Parse reads it back: items separated by single blanks.
  std::string Text() const;
  const std::vector<TAddressRange>& Items() const { return Ranges; }

 private:
  std::vector<TAddressRange> Ranges;
};

// A "host", "host:port", "[v6]" or "[v6]:port" text split into its host and
// its port text (empty when none is written). A bare IPv6 address ("::1",
// several colons) is a host without a port.
struct THostPort {
  std::string Host;
  std::string Port;
};
THostPort SplitHostPort(std::string_view text);
// The other way: brackets around an IPv6 host when a port follows.
std::string JoinHostPort(const std::string& host, const std::string& port);
