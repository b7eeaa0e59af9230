// Random bytes from the host through the whole receive path (dispatcher,
// interpreter, writer, store) on a connected Telnet session. Two sessions take
// the same bytes, one in blocks as a socket read delivers them and one byte
// by byte; they must end on the same screen. The interpreter's buffers stay
// within their limits whatever arrives.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzzing.h"
#include "transfer/engine.h"

namespace {

// The host end of the line keeps what the terminal answers.
struct TFuzzSession : TLineSession {
  TFuzzSession(int emulation, bool wrap, bool newLine) {
    S.Settings.Emulation = static_cast<std::uint8_t>(emulation);
    S.Settings.Wrap = wrap;
    S.Settings.NewLine = newLine;
    S.Settings.ETXAck = 1;
    Start(true);
  }
};

void CheckLimits(const TSession& s, std::size_t inputSize) {
  CheckTerminalLimits(s, TReceiveInterpreter::kRunawayLength);
  // Every received byte adds at most one line to the history.
  if (static_cast<std::size_t>(s.Screen->Count()) > 101 + inputSize) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // The first two bytes choose the terminal and how the bytes arrive.
  const int emulation = data[0] % 5;
  const bool wrap = (data[0] & 0x08) != 0;
  const bool newLine = (data[0] & 0x10) != 0;
  const std::size_t chunk = 1 + data[1];
  data += 2;
  size -= 2;

  TFuzzSession blocks(emulation, wrap, newLine);
  TFuzzSession bytes(emulation, wrap, newLine);
  for (std::size_t done = 0; done < size; done += chunk) {
    blocks.S.ReceiveBytes(data + done, std::min(chunk, size - done));
  }
  for (std::size_t i = 0; i < size; ++i) bytes.S.HandleSessionEvent(sekReceivedByte, data[i]);

  CheckLimits(blocks.S, size);
  CheckLimits(bytes.S, size);
  if (!SameStoreLines(blocks.S, bytes.S)) std::abort();
  const TTerminalState& a = blocks.S.Writer->State;
  const TTerminalState& b = bytes.S.Writer->State;
  if (a.CursorRow != b.CursorRow || a.CursorColumn != b.CursorColumn) std::abort();
  if (blocks.Line.Sent != bytes.Line.Sent) std::abort();

  // A few timer ticks let the answer-back go out.
  for (int tick = 0; tick < 3; ++tick) blocks.S.TimerTick();
  return 0;
}
