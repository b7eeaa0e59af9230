// Bookmarks: named, coloured user marks made from the selection, and the
// rows of the bookmark window's grid. Row 1 stands for the selection;
// bookmark rows follow from row 2.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/settings.h"

class TBrowse;

struct TBookmarkRow {
  std::string LineNumber;  // first store line, from 0; empty: none
  std::string Name;
  std::string Content;  // the first line's text as the mark covers it
  int Mark = 0;         // user mark number; 0 none
};

class TBookmarks {
 public:
  static constexpr int kSelectionRow = 1;
  static constexpr int kFirstBookmarkRow = 2;

  explicit TBookmarks(TBrowse& screen) : Screen(screen) {}

  // Turns the selection into a user mark with this name and colours, and
  // appends its row. False without a selection (then nothing changes).
  // Throws EOutOfResources, changing nothing, when every mark number is taken.
  bool AddBookmark(const std::string& name, TColor foreground, TColor background);
  // Removes a bookmark row (from 2) and its mark; rows below move up.
  // Row 1 and rows beyond the grid change nothing.
  void DeleteBookmark(int row);

  // Row 1: the selection's first line, "Marked Lines" and its text, or
  // empty, "No Marked Lines", empty.
  TBookmarkRow SelectionRow() const;
  // A grid row from 1 (row 1 is the selection row); an empty row outside the grid.
  TBookmarkRow Row(int row) const;
  // Grid rows below the title: row 1 and the bookmarks.
  int RowCount() const { return static_cast<int>(Marks.size()) + 1; }
  const std::vector<TBookmarkRow>& Bookmarks() const { return Marks; }

  // A double click on a row's line number: the line is centred (CentreLine)
  // and returned; -1 when the row holds no line number.
  int Jump(int row);
  // The Delete key on the selected row: only a bookmark row with a line number.
  bool CanDelete(int row) const;

  // Centres a store line in the view (top line = line - half the visible rows).
  std::function<void(int line)> CentreLine;
  // The rows changed (a bookmark added or deleted).
  std::function<void()> OnChanged;

 private:
  std::string CoveredText(int line, int startColumn, int endColumn, bool oneLine) const;
  void FreeMark(int mark);
  void Changed() {
    if (OnChanged) OnChanged();
  }

  TBrowse& Screen;
  std::vector<TBookmarkRow> Marks;
};
