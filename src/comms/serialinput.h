// The serial component's input side: turning the marked byte stream of the
// tty layer back into data and line events, and the bounded input queue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// How received bytes are filtered (the component's options).
struct TInputFilter {
  bool NullStrip = false;     // discard NUL bytes
  bool ReplaceErrors = false;  // a byte received with an error becomes ErrorChar
  std::uint8_t ErrorChar = 0;
  std::uint8_t EventChar = 0;  // its arrival is an event of its own
};

// What one chunk of input held besides data.
struct TDecodedInput {
  std::size_t Count = 0;    // data bytes written to the output
  bool EventChar = false;   // the event character was among them
  unsigned Breaks = 0;      // break conditions
  unsigned BadBytes = 0;    // bytes received with a parity or framing error
};

// Undoes the tty layer's input marking: 377 377 is a data byte 377,
// 377 0 0 a break, 377 0 c the byte c received with an error. A mark split
// across chunks is completed by the next chunk.
class TSerialInputDecoder {
 public:
  // out must have room for count bytes (the output is never longer than the input).
  TDecodedInput Decode(const std::uint8_t* raw, std::size_t count, std::uint8_t* out,
                       const TInputFilter& filter);
  void Reset() { State = kData; }

 private:
  enum : std::uint8_t { kData, kMarked, kMarkedZero };
  std::uint8_t State = kData;
};

// A fixed-capacity byte queue (the driver's input queue).
class TByteRing {
 public:
  explicit TByteRing(std::size_t capacity = 0) : Buffer(capacity) {}
  std::size_t Capacity() const { return Buffer.size(); }
  std::size_t Size() const { return Count; }
  std::size_t Room() const { return Buffer.size() - Count; }
  // Appends at most Room() bytes; returns how many were taken.
  std::size_t Push(const std::uint8_t* data, std::size_t count);
  // Removes up to count bytes into out; returns how many.
  std::size_t Take(std::uint8_t* out, std::size_t count);
  void Clear() { Head = Count = 0; }
  void Reset(std::size_t capacity);

 private:
  std::vector<std::uint8_t> Buffer;
  std::size_t Head = 0;
  std::size_t Count = 0;
};
