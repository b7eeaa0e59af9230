// ExtractBits, AdvanceBitPosition and UnpackedStride.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "trace/messagebuffer.h"

namespace {
TMessageBuffer Buffer(std::initializer_list<std::uint8_t> bytes, std::size_t at = 0) {
  TMessageBuffer b;
  for (std::uint8_t v : bytes) b.Bytes[at++] = v;
  return b;
}

// Bytes 12 34 56 78 9A: as a big-endian word 0x12345678, little-endian 0x78563412.
const TMessageBuffer kSample = Buffer({0x12, 0x34, 0x56, 0x78, 0x9A});

TEST(ExtractBits, EachPackModeCountsBitsItsOwnWay) {
  struct TRow {
    std::uint32_t Byte, Bit, Width;
    std::vector<TPackMode> Modes;
    std::uint16_t Expected;
  };
  const std::vector<TPackMode> little = {pmNone, pmRevPack};
  const TRow rows[] = {
      // Pack counts from the most significant bit.
      {0, 0, 8, {pmPack}, 0x12}, {1, 0, 8, {pmPack}, 0x34}, {0, 0, 16, {pmPack}, 0x1234},
      {1, 0, 16, {pmPack}, 0x3456},
      {0, 3, 5, {pmPack}, 0x12},  // 0x12 = 0001 0010: bits 3..7 from the top are 10010
      {0, 0, 1, {pmPack}, 0}, {0, 3, 1, {pmPack}, 1},
      // Pack across byte boundaries: "10" from 0x12 and "00" from 0x34; the
      // low nibble of 0x12 and the high one of 0x34; bits 7..22 of 12 34 56.
      {0, 6, 4, {pmPack}, 0x8}, {0, 4, 8, {pmPack}, 0x23}, {0, 7, 16, {pmPack}, 0x1A2B},
      // The little-endian modes count from the least significant bit.
      {0, 0, 8, little, 0x12}, {0, 0, 16, little, 0x3412}, {2, 0, 16, little, 0x7856},
      {0, 1, 1, little, 1}, {0, 4, 4, little, 0x1},
      {0, 4, 8, little, 0x41},     // the high nibble of 0x12 below the low nibble of 0x34
      {0, 7, 16, little, 0xAC68},  // 0x78563412 >> 7 = 0xF0AC68
      // Width zero, and wide fields give their low 16 bits.
      {0, 3, 0, {pmNone, pmPack, pmRevPack, pmByteWise}, 0},
      {0, 0, 20, {pmPack}, 0x2345},  // the field is 0x12345
      {0, 0, 20, {pmNone}, 0x3412}, {0, 0, 32, {pmPack}, 0x5678},
      {0, 0, 40, {pmPack}, 0x789A},    // beyond the 32-bit word: the low bits of the whole field
      {0, 4, 200, {pmNone}, 0x6341},   // the first 16: 0x78563412 >> 4
      // Bit offsets above seven move into later bytes.
      {0, 12, 4, {pmPack}, 0x4}, {0, 12, 4, {pmNone}, 0x3}, {1, 16, 8, {pmNone}, 0x78},
      // ByteWise joins bytes most significant first: (0x12 >> 1) & 7; 0x12 >> 4
      // then the low 4 bits of 0x34; 0x12 >> 6, whole 0x34, the low 6 bits of 0x56.
      {0, 1, 3, {pmByteWise}, 0x1}, {0, 4, 4, {pmByteWise}, 0x1}, {0, 0, 16, {pmByteWise}, 0x1234},
      {0, 4, 8, {pmByteWise}, 0x14}, {0, 6, 16, {pmByteWise}, 0x0D16},
  };
  for (const TRow& r : rows) {
    for (const TPackMode mode : r.Modes) {
      EXPECT_EQ(ExtractBits(kSample, r.Byte, r.Bit, r.Width, mode), r.Expected)
          << "byte " << r.Byte << " bit " << r.Bit << " width " << r.Width << " mode " << mode;
    }
  }
}

TEST(ExtractBits, NeverReadsBeyondTheBuffer) {
  TMessageBuffer b = Buffer({0xCD, 0xAB}, 4094);
  // The last two bytes; the last byte with nothing after it (the missing
  // bytes read as 0; ByteWise: 0xA, then 12 zero bits); then past the end.
  EXPECT_EQ((std::vector{ExtractBits(b, 4094, 0, 16, pmNone), ExtractBits(b, 4094, 0, 16, pmPack),
                         ExtractBits(b, 4095, 0, 16, pmPack), ExtractBits(b, 4095, 0, 16, pmNone),
                         ExtractBits(b, 4095, 4, 16, pmByteWise), ExtractBits(b, 4096, 0, 16, pmNone),
                         ExtractBits(b, 0xFFFF, 7, 16, pmPack), ExtractBits(b, ~0u, ~0u, ~0u, pmPack)}),
            (std::vector<std::uint16_t>{0xABCD, 0xCDAB, 0xAB00, 0x00AB, 0xA000, 0, 0, 0}));
}

// Byte and bit after advancing by `bits`; the byte saturates instead of wrapping.
TEST(AdvanceBitPosition, CarriesBitsIntoBytes) {
  const auto advance = [](std::uint32_t byte, std::uint32_t bit, std::uint32_t bits) {
    AdvanceBitPosition(bits, byte, bit);
    return std::pair(byte, bit);
  };
  // 17 bits are 2 bytes and 1 bit.
  EXPECT_EQ((std::vector{advance(0, 5, 5), advance(1, 2, 17), advance(0, 7, 1), advance(1, 0, 0)}),
            (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{1, 2}, {3, 3}, {1, 0}, {1, 0}}));
  EXPECT_EQ(advance(0xFFFFFFF0u, 7, 0xFFFFFFFFu).first, 0xFFFFFFFFu);
}

// Bits to whole bytes up to 8, to 16 and 32 bits, and multiples of 16 beyond.
TEST(UnpackedStride, RoundsToBytesAndWords) {
  const std::pair<std::uint32_t, std::uint32_t> strides[] = {
      {0, 8}, {1, 8}, {8, 8}, {9, 16}, {16, 16}, {17, 32}, {24, 32}, {48, 48}, {0xFFFFFFFFu, 0xFFFFFFF0u}};
  for (const auto& [bits, stride] : strides) EXPECT_EQ(UnpackedStride(bits), stride) << bits;
}
}  // namespace
