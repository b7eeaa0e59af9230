// Reading and laying out the text of trace lines: hex digit groups, blanks
// around fields, fields padded to their columns. Trace text is ASCII.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/text.h"  // TrimSpaces

// 0-15 for a hex digit (either case), -1 for anything else.
int HexDigitValue(char c);

// The value of up to 7 hex digits (0 for none); -1 when one is not a hex digit.
std::int32_t HexGroupValue(std::string_view digits);

// The text with spaces after it up to `width` characters; a longer text is kept whole.
std::string Padded(std::string_view text, std::size_t width);
