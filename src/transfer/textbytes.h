// What the senders of text (paced send, paste, the transfer engine) share.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>

#include "core/ascii.h"

inline bool IsLineEnd(std::uint8_t c) { return c == CR || c == LF; }

// A byte count for the progress gauge, whose range is an int.
inline int GaugeValue(std::uint64_t value) { return static_cast<int>(std::min<std::uint64_t>(value, INT_MAX)); }
