// The tab stop dialog's marks: positions 0..132 of its slider, loaded from
// the settings' 132 column flags and stored back into them on OK.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

class TTabStopMarks {
 public:
  static constexpr int kLastPosition = 132;
  static constexpr int kPageSize = 8;

  explicit TTabStopMarks(const std::uint8_t (&flags)[132]);

  // Positions outside 0..132 are ignored.
  void Set(int position);
  void Reset(int position);
  bool IsSet(int position) const;
  std::vector<int> Positions() const;
  // Columns 1..132; a mark at position 0 has no column and is not stored.
  void StoreInto(std::uint8_t (&flags)[132]) const;

 private:
  static bool Valid(int position) { return position >= 0 && position <= kLastPosition; }
  std::array<bool, kLastPosition + 1> Marks{};
};
