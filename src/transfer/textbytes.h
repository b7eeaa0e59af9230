// What the senders of text (paced send, paste, the transfer engine) share.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>

#include "core/ascii.h"

inline bool IsLineEnd(std::uint8_t c) { return c == CR || c == LF; }

// "End Of Line" codes of the settings.
enum TEndOfLineChoice : std::uint8_t { elCR = 0, elLF = 1, elNoChange = 2, elCRLF = 3, elLFCR = 4 };

// A line end as "End Of Line" sends it: the bytes to send, and how many
// characters it takes from the text (2 when the next one is its partner: CR
// LF or LF CR, or any line end's LF under CR, its CR under LF).
struct TLineEndOut {
  char Bytes[2];
  std::uint8_t Count;
  std::uint8_t Taken;
};

// c is CR or LF; next is the character after it, or -1 at the end of what is
// in hand. Codes no dialog writes send c unchanged, as "No Change" does.
inline TLineEndOut ConvertLineEnd(std::uint8_t eol, std::uint8_t c, int next) {
  const bool pair = (next == CR || next == LF) && next != c;
  switch (eol) {
    case elCR:
      return {{CR, 0}, 1, static_cast<std::uint8_t>(next == LF ? 2 : 1)};
    case elLF:
      return {{LF, 0}, 1, static_cast<std::uint8_t>(next == CR ? 2 : 1)};
    case elCRLF:
      return {{CR, LF}, 2, static_cast<std::uint8_t>(pair ? 2 : 1)};
    case elLFCR:
      return {{LF, CR}, 2, static_cast<std::uint8_t>(pair ? 2 : 1)};
    default:
      return {{static_cast<char>(c), 0}, 1, 1};
  }
}

// A byte count for the progress gauge, whose range is an int.
inline int GaugeValue(std::uint64_t value) { return static_cast<int>(std::min<std::uint64_t>(value, INT_MAX)); }
