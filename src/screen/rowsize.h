// How a store line is drawn: normal, double width, or one half of a
// double-height pair. The writer knows the sizes of its screen's rows;
// above the screen a line tells by what it holds: characters in a
// double-size attribute make the top half of a double-height line, and the
// line under such a top that holds no character at all (ESC #4 fills its
// cells with code 0) its bottom half. A double-width line that has left the
// screen holds nothing to tell it by and is drawn as a normal one.
#pragma once

#include <cstdint>

class TBrowse;
struct TTerminalState;

enum TRowSize : std::uint8_t { rsNormal = 0, rsDoubleWidth = 1, rsDoubleTop = 2, rsDoubleBottom = 4 };

TRowSize RowSizeOf(const TBrowse& store, const TTerminalState& terminal, int line);

// The screen cells (from 1) a store column of a line of that size covers:
// double height puts column c on cells 2c - 1 and 2c, double width keeps c
// and widens it over c + 1.
struct TCellSpan {
  int First = 1;
  int Count = 1;
};
TCellSpan CellsOfColumn(TRowSize size, int column);
// The store column shown on a screen cell (from 1) of a line of that size.
int ColumnOfCell(TRowSize size, int cell);
