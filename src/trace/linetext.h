// Reading and laying out the text of trace lines: hex digit groups, blanks
// around fields, fields padded to their columns. Trace text is ASCII.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/text.h"  // TrimSpaces

// 0-15 for a hex digit (either case), -1 for anything else.
inline int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The value of up to 7 hex digits (0 for none); -1 when one is not a hex digit.
// Inline: every data line's groups go through it.
inline std::int32_t HexGroupValue(std::string_view digits) {
  std::int32_t value = 0;
  for (const char c : digits) {
    const int d = HexDigitValue(c);
    if (d < 0) return -1;
    value = value * 16 + d;
  }
  return value;
}

// The text with spaces after it up to `width` characters; a longer text is kept whole.
std::string Padded(std::string_view text, std::size_t width);
