// The mark table: marks 1-4 are fixed (cursor line, selection, find, the
// colours of a cell covered twice), user marks (bookmarks) are 5 and up.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/settings.h"

struct TMarkAttributes {
  std::uint8_t Type = 0;  // 0 free, 1-4
  std::int32_t FirstLine = -1;
  std::int32_t LastLine = -1;
  std::int32_t Anchor = -1;  // column where a selection was started; -1 unset
  std::uint8_t TopColumn = 0;
  std::uint8_t BottomColumn = 0;
  TColor Foreground = colors::White;
  TColor Background = colors::Blue;
  std::string Name;

  // First and last line may be in either order.
  std::int32_t Top() const { return FirstLine < LastLine ? FirstLine : LastLine; }
  std::int32_t Bottom() const { return FirstLine < LastLine ? LastLine : FirstLine; }
  bool Placed() const { return Type != 0 && FirstLine >= 0 && LastLine >= 0; }
};

class TMarkClass {
 public:
  TMarkAttributes Attributes;
};

class TMarkManager {
 public:
  TMarkManager();

  static constexpr int kFixedMarks = 4;
  static constexpr int kFirstUserMark = 5;
  // A line's user-mark slot is 8 bits wide.
  static constexpr int kLastUserMark = 255;

  int Count() const { return static_cast<int>(Marks.size()); }
  // nullptr for a number that is not in the table.
  TMarkAttributes* Get(int mark);
  const TMarkAttributes* Get(int mark) const;
  // A new user mark (type 4, no lines): the first free record from 5 on, else
  // a new one. Throws EOutOfResources when every user number is taken.
  int NewUserMark();
  // Forgets the mark's lines; a user mark's record becomes free for reuse.
  // The fixed marks stay in the table with their type and colours.
  void Free(int mark);

 private:
  std::vector<TMarkClass> Marks;
};
