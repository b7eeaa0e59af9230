// Attribute run lists: a line's 132 attribute cells as a byte string of
// 3-byte entries (attribute number low byte first, start column). The first
// entry has column 1, the last column 132 and the attribute of column 132.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

inline constexpr int kLineCells = 132;

struct TRun {
  std::uint16_t Attribute = 0;
  std::uint8_t Column = 1;
  bool operator==(const TRun&) const = default;
};

// Compression: (attribute of column 1, 1); for columns 2..131 an entry
// wherever the attribute differs from the previous column's; finally
// (attribute of column 132, 132).
std::string EncodeRuns(const std::uint16_t* cells);
// Expansion: each entry fills from its column to the column before the next
// entry's; the last entry fills column 132. Tolerates malformed lists.
void ExpandRuns(std::string_view encoded, std::uint16_t* cells);
std::vector<TRun> DecodeRuns(std::string_view encoded);

// Run lists are shared: a line holds a 32-bit handle. The very common line of
// one attribute needs no storage at all; every other distinct list is kept
// once, however many lines use it.
class TRunPool {
 public:
  using THandle = std::uint32_t;

  static THandle Single(std::uint16_t attribute) { return kSingleFlag | attribute; }
  static bool IsSingle(THandle h) { return (h & kSingleFlag) != 0; }
  // The attribute of every cell of a single-attribute handle, else -1.
  static int SingleAttribute(THandle h) { return IsSingle(h) ? static_cast<int>(h & 0xFFFFu) : -1; }

  THandle Intern(const std::uint16_t* cells);
  void Expand(THandle handle, std::uint16_t* cells) const;
  std::string Encoded(THandle handle) const;
  std::uint16_t AttributeAt(THandle handle, int column) const;
  void Clear();
  // Bytes held by the distinct lists and their index (an estimate).
  std::size_t Bytes() const;

 private:
  static constexpr THandle kSingleFlag = 0x80000000u;
  std::deque<std::string> Lists;  // stable addresses: Index keys point into them
  std::unordered_map<std::string_view, THandle> Index;
};
