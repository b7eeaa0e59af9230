#include "trace/messagebuffer.h"

#include "core/numbers.h"

namespace {
std::uint16_t MaskOf(std::uint32_t width) {
  return width >= 16 ? 0xFFFF : static_cast<std::uint16_t>((1u << width) - 1);
}

std::uint32_t BigEndianWord(const TMessageBuffer& b, std::uint32_t o) {
  return (std::uint32_t{b.At(o)} << 24) | (std::uint32_t{b.At(o + 1)} << 16) |
         (std::uint32_t{b.At(o + 2)} << 8) | b.At(o + 3);
}

std::uint32_t LittleEndianWord(const TMessageBuffer& b, std::uint32_t o) {
  return b.At(o) | (std::uint32_t{b.At(o + 1)} << 8) | (std::uint32_t{b.At(o + 2)} << 16) |
         (std::uint32_t{b.At(o + 3)} << 24);
}

// Offsets far beyond the buffer only ever read zeros; keeping them below this
// bound keeps the arithmetic below from overflowing.
constexpr std::uint64_t kFarBeyond = 0x10000000;
}  // namespace

void AppendHexBytes(std::string& out, const TMessageBuffer& buffer, std::uint32_t from, std::uint32_t to) {
  for (std::uint32_t i = from; i < to; ++i) {
    out += ' ';
    AppendHex(out, buffer.At(i), 2);
  }
}

std::uint16_t ExtractBits(const TMessageBuffer& buffer, std::uint32_t byteOffset,
                          std::uint32_t bitOffset, std::uint32_t width, TPackMode mode) {
  if (width == 0) return 0;
  std::uint64_t bit = std::uint64_t{byteOffset} * 8 + bitOffset;
  if (width > 16) {
    // Only 16 bits survive the mask: for the big-endian and byte-wise forms
    // those are the field's last 16 bits, for the little-endian its first.
    if (mode == pmPack || mode == pmByteWise) bit += width - 16;
    width = 16;
  }
  if (bit >= kFarBeyond) return 0;
  const std::uint32_t o = static_cast<std::uint32_t>(bit / 8);
  const std::uint32_t b = static_cast<std::uint32_t>(bit % 8);
  const std::uint16_t mask = MaskOf(width);

  switch (mode) {
    case pmPack:
      return static_cast<std::uint16_t>((BigEndianWord(buffer, o) >> (32 - b - width)) & mask);
    case pmByteWise: {
      std::uint32_t value = buffer.At(o) >> b;
      std::uint32_t missing = width > 8 - b ? width - (8 - b) : 0;
      std::uint32_t next = o + 1;
      while (missing >= 8) {
        value = (value << 8) | buffer.At(next++);
        missing -= 8;
      }
      if (missing > 0) value = (value << missing) | (buffer.At(next) & ((1u << missing) - 1));
      return static_cast<std::uint16_t>(value & mask);
    }
    case pmNone:
    case pmRevPack:
    default:
      return static_cast<std::uint16_t>((LittleEndianWord(buffer, o) >> b) & mask);
  }
}

void AdvanceBitPosition(std::uint32_t bits, std::uint32_t& byteOffset, std::uint32_t& bitOffset) {
  std::uint64_t bytes = std::uint64_t{byteOffset} + bits / 8;
  bitOffset += bits % 8;
  if (bitOffset > 7) {
    bytes += 1;
    bitOffset -= 8;
  }
  // Saturate rather than wrap, so a hostile size never moves a walk back to
  // the start of the buffer.
  byteOffset = bytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(bytes);
}

std::uint32_t UnpackedStride(std::uint32_t bits) {
  if (bits < 9) return 8;
  if (bits % 16 == 0) return bits;
  if (bits > 0xFFFFFFF0u) return 0xFFFFFFF0u;  // the largest multiple of 16
  return (bits / 16 + 1) * 16;
}
