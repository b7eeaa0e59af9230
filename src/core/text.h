// Trimming text typed by users or read from files, settings and peers.
#pragma once

#include <string_view>

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Without the spaces before and after.
std::string_view TrimSpaces(std::string_view text);

// Without the blanks and control characters (codes up to 32) before and after.
std::string_view TrimBlanks(std::string_view text);
