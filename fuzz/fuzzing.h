// What the harnesses share: a work directory that lives as long as the
// fuzzer, the input read as a little program of bytes, and the limits the
// receive path keeps whatever arrives.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/session.h"
#include "core/tempdir.h"
#include "screen/store.h"
#include "screen/writer.h"
#include "terminal/interpreter.h"

// The work directory, with its trailing '/'; removed when the fuzzer exits.
inline const std::string& FuzzDirectory() {
  static const TTemporaryDirectory directory("qelfuzz");
  if (directory.Path().empty()) std::abort();
  static const std::string path = directory.Path().string() + "/";
  return path;
}

// The bytes as the file `name`; false when it cannot be written.
inline bool WriteFuzzFile(const std::string& name, std::string_view bytes) {
  std::FILE* file = std::fopen(name.c_str(), "wb");
  if (!file) return false;
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  return std::fclose(file) == 0;
}

// The input read front to back; past its end bytes read as 0 and runs are short.
class TFuzzInput {
 public:
  TFuzzInput(const std::uint8_t* data, std::size_t size) : Data(data), Size(size) {}
  bool More() const { return At < Size; }
  std::uint8_t Byte() { return At < Size ? Data[At++] : 0; }
  // Two bytes, low first.
  int Word() {
    const int low = Byte();
    return low | Byte() << 8;
  }
  // Up to `count` bytes as they stand.
  std::string_view Bytes(std::size_t count) {
    count = std::min(count, Size - At);
    const std::string_view bytes(reinterpret_cast<const char*>(Data + At), count);
    At += count;
    return bytes;
  }

 private:
  const std::uint8_t* Data;
  std::size_t Size;
  std::size_t At = 0;
};

// The interpreter's buffers and the cursor and margins stay in their bounds;
// the escape buffer below escapeLimit.
inline void CheckTerminalLimits(const TSession& s, std::size_t escapeLimit) {
  const TReceiveInterpreter& i = *s.Interpreter;
  if (i.EscapeBuffer.size() >= escapeLimit) std::abort();
  if (i.TelnetBuffer.size() > 21) std::abort();
  if (i.LineCaptureBuffer.size() >= TReceiveInterpreter::kLineCaptureLimit) std::abort();
  if (i.ParameterCount < 0 || i.ParameterCount > TReceiveInterpreter::kMaxParameters) std::abort();
  const TTerminalState& t = s.Writer->State;
  if (t.CursorRow < 1 || t.CursorRow > t.ScreenRows) std::abort();
  // A double-width row advances by two beyond the last column.
  if (t.CursorColumn < 1 || t.CursorColumn > 134) std::abort();
  if (t.TopMargin < 1 || t.TopMargin > t.BottomMargin || t.BottomMargin > t.ScreenRows) std::abort();
}

// Every store line of the two sessions reads the same.
inline bool SameStoreLines(const TSession& a, const TSession& b) {
  if (a.Screen->Count() != b.Screen->Count()) return false;
  for (int line = 0; line < a.Screen->Count(); ++line) {
    if (a.Screen->GetLineText(line) != b.Screen->GetLineText(line)) return false;
  }
  return true;
}
