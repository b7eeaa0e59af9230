// Bytes of the screen font's code page (437) as Unicode text, the way the
// view shows them: box drawing for the line-drawing set, accented letters.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The Unicode code point of a byte. 32..126 are themselves; 1..31 and 127 are
// the code page's symbols; 0 shows blank.
char32_t Cp437CodePoint(std::uint8_t b);

// Appends the byte as UTF-8.
void AppendCp437AsUtf8(std::string& out, std::uint8_t b);
std::string Cp437ToUtf8(std::string_view bytes);
