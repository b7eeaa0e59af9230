#include "terminal/tabstops.h"

TTabStopMarks::TTabStopMarks(const std::uint8_t (&flags)[132]) {
  for (int column = 1; column <= kLastPosition; ++column) Marks[column] = flags[column - 1] != 0;
}

void TTabStopMarks::Set(int position) {
  if (Valid(position)) Marks[position] = true;
}

void TTabStopMarks::Reset(int position) {
  if (Valid(position)) Marks[position] = false;
}

bool TTabStopMarks::IsSet(int position) const { return Valid(position) && Marks[position]; }

std::vector<int> TTabStopMarks::Positions() const {
  std::vector<int> positions;
  for (int p = 0; p <= kLastPosition; ++p) {
    if (Marks[p]) positions.push_back(p);
  }
  return positions;
}

void TTabStopMarks::StoreInto(std::uint8_t (&flags)[132]) const {
  for (int column = 1; column <= kLastPosition; ++column) flags[column - 1] = Marks[column] ? 1 : 0;
}
