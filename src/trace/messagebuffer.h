// The message buffer of the trace decoders and the bit-field primitives that
// read values out of it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// The bytes of the message being decoded. Reads never leave the 4096 bytes:
// a field that reaches past the end reads the missing bytes as 0.
struct TMessageBuffer {
  static constexpr std::size_t kSize = 4096;
  static constexpr std::uint16_t kMaxCount = 4076;  // the decoders never count more

  std::array<std::uint8_t, kSize> Bytes{};
  std::uint16_t Count = 0;  // valid bytes

  // Byte i, or 0 beyond the buffer.
  std::uint8_t At(std::uint32_t i) const { return i < kSize ? Bytes[i] : 0; }
  // The little-endian word at byte i (bytes beyond the buffer read as 0).
  std::uint16_t Word(std::uint32_t i) const {
    return static_cast<std::uint16_t>(At(i) | (i < kSize - 1 ? Bytes[i + 1] : 0) << 8);
  }
  void Clear() {
    Bytes.fill(0);
    Count = 0;
  }
};

// Appends a space and two hex digits for each byte from `from` up to `to`:
// the form of every byte line of the trace output.
void AppendHexBytes(std::string& out, const TMessageBuffer& buffer, std::uint32_t from, std::uint32_t to);

// How a bit field is laid out in the bytes.
enum TPackMode : std::uint8_t {
  pmNone = 0,     // little-endian word, bit offset counted from the LSB of the byte
  pmPack = 1,     // big-endian word, bit offset counted from the MSB of the byte
  pmRevPack = 2,  // as pmNone
  pmByteWise = 3, // byte by byte, see ExtractBits
};

// The value of a field of `width` bits at byte `byteOffset`, bit `bitOffset`.
// Only the low 16 bits of a wider field are returned; width 0 gives 0.
//
// pmPack: the bytes from byteOffset on form a big-endian word, the field's
//   first bit is bit `bitOffset` counted from the most significant bit of the
//   first byte: result = (word >> (32 - bitOffset - width)) & mask.
// pmNone, pmRevPack: the bytes form a little-endian word, the field's lowest
//   bit is bit `bitOffset` counted from the least significant bit of the first
//   byte: result = (word >> bitOffset) & mask.
// pmByteWise: the bits bitOffset..7 of the first byte (bit 0 = LSB) are the
//   most significant part; each following byte is appended below the value
//   gathered so far (value = value << 8 | byte) while 8 or more bits are still
//   missing, and the last r missing bits are the low r bits of the next byte
//   (value = value << r | byte & (2^r - 1)). A field inside one byte is
//   (byte >> bitOffset) & (2^width - 1).
//
// Offsets are normalised first, giving the same value as the formulas above
// wherever those are defined: a bit offset above 7 is carried into the byte
// offset, and a field wider than 16 bits is read as its low 16 bits (the last
// 16 bits for pmPack and pmByteWise, the first 16 for the little-endian
// modes), so no shift ever exceeds the word.
std::uint16_t ExtractBits(const TMessageBuffer& buffer, std::uint32_t byteOffset,
                          std::uint32_t bitOffset, std::uint32_t width, TPackMode mode);

// Moves a position on by `bits`: byteOffset += bits / 8, bitOffset += bits % 8,
// carrying a bit offset above 7 into the byte offset. bitOffset must be 0-7 on
// entry (it is then 0-7 on return). The byte offset saturates at 0xFFFFFFFF
// instead of wrapping to the start of the buffer.
void AdvanceBitPosition(std::uint32_t bits, std::uint32_t& byteOffset, std::uint32_t& bitOffset);

// The step of an unpacked array element of `bits` bits: 8 below 9 bits, else
// the size rounded up to a multiple of 16 (at most 0xFFFFFFF0).
std::uint32_t UnpackedStride(std::uint32_t bits);
