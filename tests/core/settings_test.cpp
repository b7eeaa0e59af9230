#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "core/settings.h"

namespace {
// The default record written byte by byte from the layout table, by offset,
// without the record's own field names.
class TImage {
 public:
  TImage() : Bytes(14044, 0) {}
  void U8(std::size_t at, std::uint8_t v) { Bytes.at(at) = v; }
  void U16(std::size_t at, std::uint16_t v) { U8(at, v & 0xFF); U8(at + 1, v >> 8); }
  void U32(std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) U8(at + i, static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void Text(std::size_t at, const std::string& s) {
    U8(at, static_cast<std::uint8_t>(s.size()));
    for (std::size_t i = 0; i < s.size(); ++i) U8(at + 1 + i, static_cast<std::uint8_t>(s[i]));
  }
  void Block(std::size_t at, std::uint32_t fg, std::uint32_t bg, std::uint8_t style) {
    U32(at, fg);
    U32(at + 4, bg);
    U8(at + 8, style);
    U8(at + 9, 8);  // a copy of the 8-point font size
  }
  std::vector<std::uint8_t> Bytes;
};

constexpr std::uint32_t Black = 0x000000, White = 0xFFFFFF, Red = 0x0000FF, Green = 0x008000,
                        Blue = 0xFF0000, Yellow = 0x00FFFF;

TImage DefaultImage() {
  TImage m;
  // Single bytes by offset, as the layout table gives them: baud rate 9600
  // and data bits 8 first, then a reserved 3, wrap, new line, backspace sends.
  const std::pair<int, int> bytes[] = {
      {1, 6},      {2, 4},      {253, 3},    {254, 1},    {255, 1},    {419, 1},    {553, 1},    {554, 1},
      {555, 1},    {556, 1},    {557, 1},    {558, 1},    {561, 1},    {744, 2},    {745, 1},    {778, 9},
      {782, '>'},  {784, 2},    {1120, 9},   {1121, 15},  {1125, 6},   {1127, 3},   {1128, 2},   {1131, 1},
      {1638, 5},   {2475, 1},   {2476, 1},   {2477, 1},   {2479, 1},   {11722, 1}};
  for (const auto& [at, v] : bytes) m.U8(at, static_cast<std::uint8_t>(v));
  for (int i = 8; i <= 128; i += 8) m.U8(420 + i, 1);
  // Nine colour blocks of 20 bytes, each on a white background.
  const std::pair<std::uint32_t, std::uint8_t> blocks[] = {
      {Blue, 1}, {Green, 1}, {Black, 0}, {Blue, 1}, {Green, 1}, {Black, 0}, {Red, 1}, {Black, 1}, {Black, 1}};
  for (std::size_t i = 0; i < std::size(blocks); ++i) m.Block(564 + 20 * i, blocks[i].first, White, blocks[i].second);
  for (int e = 0; e < 4; ++e) m.U16(746 + 8 * e + 4, 0xFFFF);
  const std::uint32_t colours[] = {Black, White, Red, Red, White, Blue, White, Yellow, White, Green};
  for (std::size_t i = 0; i < std::size(colours); ++i) m.U32(872 + 4 * i, colours[i]);
  m.Text(914, "Courier New");
  m.U16(956, 8);
  m.Text(1133, "ATDP 9,");
  m.Text(1199, "<P:20>+++<P:20>ATH<CR>");
  m.Text(1313, "C:\\ORNET\\");
  for (const auto& [at, v] : {std::pair{2484, 5}, {2488, 5}, {2492, 492}, {2496, 825}}) m.U32(at, v);
  m.Text(11805, "<2>QELWIN-32<13><4>");
  for (int i = 0; i < 40; ++i) m.U32(13884 + 4 * i, 0xFFFFFF);
  return m;
}

std::vector<std::uint8_t> BytesOf(const TSetupRecord& r) {
  std::vector<std::uint8_t> bytes(sizeof r);
  std::memcpy(bytes.data(), &r, sizeof r);
  return bytes;
}
}  // namespace

TEST(SettingsRecord, DefaultsMatchTheLayoutByteForByte) {
  TSetupRecord r;
  std::memset(static_cast<void*>(&r), 0xA5, sizeof r);  // every byte must be set
  r.ApplyDefaults();
  const std::vector<std::uint8_t> expected = DefaultImage().Bytes;
  const std::vector<std::uint8_t> actual = BytesOf(r);
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(int(actual[i]), int(expected[i])) << "at offset " << i;
  }
}

TEST(SettingsRecord, LongTextsAreCutAndStaleBytesBehindTheLengthStay) {
  TSetupRecord r;
  r.ApplyDefaults();
  r.LogFileName = std::string(100, 'x');
  EXPECT_EQ(r.LogFileName.Length, 80);
  EXPECT_EQ(r.LogFileName.str(), std::string(80, 'x'));
  EXPECT_EQ(r.ModeFileName.Length, 0);  // the next field is untouched
  r.LogFileName = "ab";
  EXPECT_EQ(r.LogFileName.str(), "ab");
  EXPECT_EQ(r.LogFileName.Data[2], 'x');  // kept, as a file read and written keeps it
  r.FontName = std::string(50, 'f');
  EXPECT_EQ(r.FontName.str().size(), 40u);
}

TEST(SettingsRecord, ALengthByteBeyondTheCapacityReadsOnlyTheCapacity) {
  TSetupRecord r;
  r.ApplyDefaults();
  r.DialString.Length = 200;  // as a damaged file can hold
  EXPECT_EQ(r.DialString.str().size(), 32u);
  EXPECT_EQ(r.DialString.view().size(), 32u);
}
