// Random bytes as marked serial input: decoding them in one piece and in
// chunks of random sizes (taken from the input) must give the same bytes and
// the same counts, and the input queue must hand back exactly what it took.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "comms/serialinput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  TInputFilter filter;
  filter.NullStrip = data[0] & 1;
  filter.ReplaceErrors = data[0] & 2;
  filter.ErrorChar = data[1];
  filter.EventChar = static_cast<std::uint8_t>(data[0] >> 2);
  const std::uint8_t* raw = data + 2;
  const std::size_t count = size - 2;

  std::vector<std::uint8_t> whole(count);
  TSerialInputDecoder oneGo;
  const TDecodedInput all = oneGo.Decode(raw, count, whole.data(), filter);
  if (all.Count > count) std::abort();
  whole.resize(all.Count);

  TSerialInputDecoder chunked;
  TByteRing ring(1 + data[1] % 64);
  std::vector<std::uint8_t> pieces, out(count), taken(64);
  TDecodedInput sum;
  std::size_t at = 0;
  while (at < count) {
    const std::size_t chunk = std::min<std::size_t>(count - at, 1 + raw[at] % 7);
    const TDecodedInput part = chunked.Decode(raw + at, chunk, out.data(), filter);
    sum.Breaks += part.Breaks;
    sum.BadBytes += part.BadBytes;
    sum.EventChar |= part.EventChar;
    std::size_t pushed = 0;
    while (pushed < part.Count) {
      pushed += ring.Push(out.data() + pushed, part.Count - pushed);
      const std::size_t n = ring.Take(taken.data(), taken.size());
      pieces.insert(pieces.end(), taken.begin(), taken.begin() + static_cast<long>(n));
    }
    at += chunk;
  }
  const std::size_t n = ring.Take(taken.data(), taken.size());
  pieces.insert(pieces.end(), taken.begin(), taken.begin() + static_cast<long>(n));

  if (pieces != whole) std::abort();
  if (sum.Breaks != all.Breaks || sum.BadBytes != all.BadBytes || sum.EventChar != all.EventChar) std::abort();
  return 0;
}
