// The line accumulator of the trace decoders: received characters become
// lines of at most 80 characters. The message decoder and the MINI trace
// share one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

class TLineAccumulator {
 public:
  static constexpr std::size_t kMaxLine = 80;

  // Takes one received character; true when a line is complete (read it with
  // Text(), then Clear()). Characters 32 and above are kept while fewer than
  // 79 are held; backspace removes the last; line feed completes the line,
  // and so does any character arriving with 79 held: a printable one is kept
  // as the 80th, a control character only ends the line (so no CR or other
  // control code lands in a line's text).
  bool Take(std::uint8_t c) {
    if (c == '\n') return true;
    if (Length >= kMaxLine - 1) {
      if (c >= 32) Chars[Length++] = static_cast<char>(c);
      return true;
    }
    if (c >= 32) {
      Chars[Length++] = static_cast<char>(c);
    } else if (c == 8 && Length > 0) {
      --Length;
    }
    return false;
  }

  std::string_view Text() const { return {Chars, Length}; }
  bool Empty() const { return Length == 0; }
  void Clear() { Length = 0; }

 private:
  char Chars[kMaxLine] = {};
  std::size_t Length = 0;
};
