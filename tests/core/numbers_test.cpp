#include <gtest/gtest.h>

#include <optional>
#include <utility>

#include "core/numbers.h"

TEST(Numbers, HexHasFixedDigitsInUpperCase) {
  EXPECT_EQ(Hex(0xab, 2), "AB");
  EXPECT_EQ(Hex(0xab, 4), "00AB");
  EXPECT_EQ(Hex(0x1234abcd, 8), "1234ABCD");
  EXPECT_EQ(Hex(0x1ff, 2), "FF");  // higher digits dropped
}

TEST(Numbers, DecimalIsZeroPadded) {
  EXPECT_EQ(Dec(5, 3), "005");
  EXPECT_EQ(Dec(42, 5), "00042");
  EXPECT_EQ(Dec(123456, 3), "123456");
  EXPECT_EQ(Dec(4294967295LL, 10), "4294967295");
  EXPECT_EQ(Dec(-7, 3), "-007");
}

TEST(Numbers, ReadsDecimalAndTrailingHSuffixedHex) {
  // Hex digits need the suffix; 65536 is too big.
  const std::pair<const char*, std::optional<int>> rows[] = {
      {"123", 123}, {" 1 2 ", 12}, {"1FH", 0x1F}, {"ffh", 0xFF}, {"65535", 65535}, {"65536", std::nullopt},
      {"1F", std::nullopt}, {"", std::nullopt}, {"H", std::nullopt}, {"12x", std::nullopt}};
  for (const auto& [text, value] : rows) EXPECT_EQ(ReadNumber16(text), value) << "'" << text << "'";
}
