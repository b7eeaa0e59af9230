#include "comms/serialinput.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr std::uint8_t kMark = 0377;
}

TDecodedInput TSerialInputDecoder::Decode(const std::uint8_t* raw, std::size_t count,
                                          std::uint8_t* out, const TInputFilter& filter) {
  TDecodedInput result;
  auto emit = [&](std::uint8_t c) {
    if (c == 0 && filter.NullStrip) return;
    if (c == filter.EventChar) result.EventChar = true;
    out[result.Count++] = c;
  };
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t c = raw[i];
    switch (State) {
      case kData:
        if (c == kMark) {
          State = kMarked;
        } else {
          emit(c);
        }
        break;
      case kMarked:
        if (c == kMark) {
          State = kData;
          emit(kMark);
        } else if (c == 0) {
          State = kMarkedZero;
        } else {
          // Not a mark the tty layer makes; keep both bytes rather than lose one.
          State = kData;
          emit(kMark);
          emit(c);
        }
        break;
      case kMarkedZero:
        State = kData;
        if (c == 0) {
          ++result.Breaks;
        } else {
          ++result.BadBytes;
          emit(filter.ReplaceErrors ? filter.ErrorChar : c);
        }
        break;
    }
  }
  return result;
}

std::size_t TByteRing::Push(const std::uint8_t* data, std::size_t count) {
  const std::size_t n = std::min(count, Room());
  const std::size_t capacity = Buffer.size();
  std::size_t tail = (Head + Count) % (capacity ? capacity : 1);
  std::size_t done = 0;
  while (done < n) {
    const std::size_t chunk = std::min(n - done, capacity - tail);
    std::memcpy(Buffer.data() + tail, data + done, chunk);
    done += chunk;
    tail = (tail + chunk) % capacity;
  }
  Count += n;
  return n;
}

std::size_t TByteRing::Take(std::uint8_t* out, std::size_t count) {
  const std::size_t n = std::min(count, Count);
  const std::size_t capacity = Buffer.size();
  std::size_t done = 0;
  while (done < n) {
    const std::size_t chunk = std::min(n - done, capacity - Head);
    std::memcpy(out + done, Buffer.data() + Head, chunk);
    done += chunk;
    Head = (Head + chunk) % capacity;
  }
  Count -= n;
  if (Count == 0) Head = 0;
  return n;
}

void TByteRing::Reset(std::size_t capacity) {
  Buffer.assign(capacity, 0);
  Clear();
}
