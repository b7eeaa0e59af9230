#include <gtest/gtest.h>

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
  EXPECT_EQ(ReadNumber16("123"), 123);
  EXPECT_EQ(ReadNumber16(" 1 2 "), 12);
  EXPECT_EQ(ReadNumber16("1FH"), 0x1F);
  EXPECT_EQ(ReadNumber16("ffh"), 0xFF);
  EXPECT_EQ(ReadNumber16("65535"), 65535);
  EXPECT_FALSE(ReadNumber16("65536").has_value());
  EXPECT_FALSE(ReadNumber16("1F").has_value());  // hex digits need the suffix
  EXPECT_FALSE(ReadNumber16("").has_value());
  EXPECT_FALSE(ReadNumber16("H").has_value());
  EXPECT_FALSE(ReadNumber16("12x").has_value());
}
