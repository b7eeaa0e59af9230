#include "core/numbers.h"

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";
}

void AppendHex(std::string& out, std::uint32_t value, int digits) {
  for (int i = digits - 1; i >= 0; --i) {
    out.push_back(kHexDigits[(i < 8) ? (value >> (4 * i)) & 0xF : 0]);
  }
}

void AppendDec(std::string& out, std::int64_t value, int digits) {
  std::uint64_t magnitude;
  if (value < 0) {
    out.push_back('-');
    magnitude = static_cast<std::uint64_t>(-(value + 1)) + 1;
  } else {
    magnitude = static_cast<std::uint64_t>(value);
  }
  char buf[24];
  int n = 0;
  do {
    buf[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  for (int i = n; i < digits; ++i) out.push_back('0');
  while (n > 0) out.push_back(buf[--n]);
}

std::string Hex(std::uint32_t value, int digits) {
  std::string s;
  AppendHex(s, value, digits);
  return s;
}

std::string Dec(std::int64_t value, int digits) {
  std::string s;
  AppendDec(s, value, digits);
  return s;
}

std::optional<std::uint16_t> ReadNumber16(std::string_view text) {
  std::string digits;
  for (char c : text) {
    if (c != ' ' && c != '\t') digits.push_back(c);
  }
  if (digits.empty()) return std::nullopt;
  int base = 10;
  if (digits.back() == 'H' || digits.back() == 'h') {
    base = 16;
    digits.pop_back();
    if (digits.empty()) return std::nullopt;
  }
  std::uint32_t value = 0;
  for (char c : digits) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else return std::nullopt;
    value = value * static_cast<std::uint32_t>(base) + static_cast<std::uint32_t>(d);
    if (value > 0xFFFF) return std::nullopt;
  }
  return static_cast<std::uint16_t>(value);
}
