#include "trace/linetext.h"

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::int32_t HexGroupValue(std::string_view digits) {
  std::int32_t value = 0;
  for (const char c : digits) {
    const int d = HexDigitValue(c);
    if (d < 0) return -1;
    value = value * 16 + d;
  }
  return value;
}

std::string Padded(std::string_view text, std::size_t width) {
  std::string padded(text);
  if (padded.size() < width) padded.resize(width, ' ');
  return padded;
}
