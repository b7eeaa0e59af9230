// Marking text in the store: placing and clearing marks over lines, the
// mouse's marking gestures, the colours a marked cell is drawn in, and the
// text a selection puts on the clipboard.
#pragma once

#include <climits>
#include <cstdint>
#include <string>
#include <utility>

#include "screen/store.h"

class TDesktop;

inline constexpr int kCursorLineMark = 1;
inline constexpr int kSelectionMark = 2;
inline constexpr int kFindMark = 3;
inline constexpr int kOverlapMark = 4;  // its colours show a cell covered by two marks

// Store lines whose look changed (none while First > Last).
struct TLineSpan {
  int First = INT_MAX, Last = -1;
  bool Empty() const { return First > Last; }
  void Add(int line) {
    if (line < First) First = line;
    if (line > Last) Last = line;
  }
  void AddRange(int a, int b) {
    Add(a < b ? a : b);
    Add(a < b ? b : a);
  }
  void Add(const TLineSpan& other) {
    if (!other.Empty()) AddRange(other.First, other.Last);
  }
};

// Puts the mark on lines firstLine..lastLine (either order; firstLine is where
// it began), from topColumn on its upper line to bottomColumn on its lower
// line. Only the slots of lines entering or leaving the mark are touched, so
// growing a selection over millions of lines costs the lines it gains.
TLineSpan PlaceMark(TBrowse& store, int mark, int firstLine, int lastLine, int topColumn,
                    int bottomColumn);
// Columns 1..132 of one line.
TLineSpan MarkLine(TBrowse& store, int line, int mark);
// An existing mark becomes whole lines from its first line to line; a missing
// one is started on line.
TLineSpan ExtendMarkToLine(TBrowse& store, int line, int mark);
// Clears the mark's slots on its lines and frees it.
TLineSpan ClearMark(TBrowse& store, int mark);
// Every line, from column 0 to 132 (select all).
TLineSpan MarkAll(TBrowse& store, int mark);
// Clears the mark's slot on every line and frees it, wherever its slots are.
TLineSpan UnmarkAll(TBrowse& store, int mark);
// Line and column where the mark starts / ends; (-1, -1) when that line does
// not carry it.
std::pair<int, int> MarkFirst(const TBrowse& store, int mark);
std::pair<int, int> MarkLast(const TBrowse& store, int mark);
bool HasSelection(const TBrowse& store);

// The mark whose colours a cell shows: the line's user mark, then marks 3, 2
// and 1, the first covering the column; kOverlapMark when a second one covers
// it too; 0 for none. Fills marks[0..131] for columns 1..132 and returns
// false (leaving them 0) when the line carries no mark.
bool LineMarkColours(const TBrowse& store, int line, std::uint8_t* marks);

// The selection's text: each line from its first to its last, cut to the
// mark's columns where the line carries it, trailing blanks removed, CR LF
// after each. With a desktop a "Copying" progress window runs and the
// message queue is served every 251 lines; cancelling keeps what was gathered.
std::string SelectionText(const TBrowse& store, TDesktop* desktop);
// Puts SelectionText on the desktop's clipboard; nothing without a selection.
void CopySelection(const TBrowse& store, TDesktop& desktop);

// The left button's marking: press, drag, release and double click on a cell
// given as store line and column counted from 0 (as the pointer maps to it).
class TMouseMarking {
 public:
  explicit TMouseMarking(TBrowse& store) : Store(store) {}

  // Without Shift a new one-cell selection; with Shift the selection grows
  // to whole lines up to the line.
  TLineSpan Press(int line, int column, bool shift);
  // With the button down, the selection runs from where it began to the cell.
  TLineSpan Move(int line, int column);
  void Release() { Down = Dragging = false; }
  TLineSpan DoubleClick(int line, int column, bool shift) { return Press(line, column, shift); }
  bool ButtonDown() const { return Down; }

 private:
  TBrowse& Store;
  bool Down = false;
  bool Dragging = false;  // a Shift extension is whole lines: moving keeps it
  int StartLine = 0, StartColumn = 1;
};
