// Number formatting and reading shared by every subsystem.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Upper-case hexadecimal, exactly `digits` digits (higher digits are dropped).
std::string Hex(std::uint32_t value, int digits);
// Decimal with leading zeros to at least `digits` digits; negative values get a leading '-'.
std::string Dec(std::int64_t value, int digits);

// Reads a 16-bit unsigned number: decimal digits, or hexadecimal digits when
// the text ends in "H" or "h". Blanks are ignored. nullopt for anything else
// (empty text, other characters, a value above 65535).
std::optional<std::uint16_t> ReadNumber16(std::string_view text);

// Appends to `out` without building temporaries (hot paths).
void AppendHex(std::string& out, std::uint32_t value, int digits);
void AppendDec(std::string& out, std::int64_t value, int digits);
