#include "screen/bookmarks.h"

#include <algorithm>
#include <charconv>

#include "screen/marks.h"
#include "screen/store.h"

namespace {
constexpr int kSelectionMark = 2;

// The user-mark slot of a line is shared by every user mark.
constexpr int kUserSlot = TMarkManager::kFirstUserMark;

int LineNumberOf(const std::string& cell) {
  int line = -1;
  const auto [end, error] = std::from_chars(cell.data(), cell.data() + cell.size(), line);
  if (error != std::errc() || end != cell.data() + cell.size() || line < 0) return -1;
  return line;
}
}  // namespace

std::string TBookmarks::CoveredText(int line, int startColumn, int endColumn, bool oneLine) const {
  std::string text = Screen.GetLineText(line);
  int first = startColumn;
  int last = static_cast<int>(text.size());
  // A selection dragged leftwards on one line has its columns the other way round.
  if (oneLine) {
    first = std::min(startColumn, endColumn);
    last = std::min(last, std::max(startColumn, endColumn));
  }
  first = std::max(first, 1);
  if (first > last) return {};
  text = text.substr(static_cast<std::size_t>(first - 1), static_cast<std::size_t>(last - first + 1));
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

TBookmarkRow TBookmarks::SelectionRow() const {
  const TMarkAttributes* selection = Screen.Marks.Get(kSelectionMark);
  if (!selection || !selection->Placed() || selection->Top() >= Screen.Count())
    return {"", "No Marked Lines", "", 0};
  const int top = selection->Top();
  return {std::to_string(top), "Marked Lines",
          CoveredText(top, selection->TopColumn, selection->BottomColumn, top == selection->Bottom()), 0};
}

TBookmarkRow TBookmarks::Row(int row) const {
  if (row == kSelectionRow) return SelectionRow();
  if (row < kFirstBookmarkRow || row - kFirstBookmarkRow >= static_cast<int>(Marks.size())) return {};
  return Marks[static_cast<std::size_t>(row - kFirstBookmarkRow)];
}

bool TBookmarks::AddBookmark(const std::string& name, TColor foreground, TColor background) {
  const TMarkAttributes* current = Screen.Marks.Get(kSelectionMark);
  if (!current || !current->Placed() || current->Top() >= Screen.Count()) return false;
  // A copy: a new mark may move the table's records.
  const TMarkAttributes selection = *current;
  const int number = Screen.Marks.NewUserMark();
  TMarkAttributes& mark = *Screen.Marks.Get(number);
  mark.FirstLine = selection.FirstLine;
  mark.LastLine = selection.LastLine;
  mark.Anchor = selection.Anchor;
  mark.TopColumn = selection.TopColumn;
  mark.BottomColumn = selection.BottomColumn;
  mark.Foreground = foreground;
  mark.Background = background;
  mark.Name = name;

  const int top = selection.Top();
  const int bottom = std::min(selection.Bottom(), Screen.Count() - 1);
  for (int line = top; line <= bottom; ++line) {
    Screen.ClearMarkSlot(line, kSelectionMark);
    Screen.SetMarkSlot(line, number, number);
  }
  Marks.push_back({std::to_string(top), name,
                   CoveredText(top, selection.TopColumn, selection.BottomColumn, top == selection.Bottom()),
                   number});
  Screen.Marks.Free(kSelectionMark);
  Screen.InvalidateLines(top, bottom);
  Changed();
  return true;
}

// Other bookmarks sharing the freed mark's lines get their colours back
// there: the slot held only the newest of them.
void TBookmarks::FreeMark(int number) {
  const TMarkAttributes* mark = Screen.Marks.Get(number);
  if (!mark || !mark->Placed() || number < TMarkManager::kFirstUserMark) return;
  const int top = mark->Top();
  const int bottom = std::min(mark->Bottom(), Screen.Count() - 1);
  for (int line = top; line <= bottom; ++line) Screen.ClearMarkSlot(line, number);
  Screen.Marks.Free(number);
  for (const TBookmarkRow& row : Marks) {
    const TMarkAttributes* other = Screen.Marks.Get(row.Mark);
    if (!other || !other->Placed()) continue;
    const int from = std::max(top, other->Top());
    const int to = std::min(bottom, other->Bottom());
    for (int line = from; line <= to; ++line)
      if (Screen.GetMarkSlot(line, kUserSlot) == 0) Screen.SetMarkSlot(line, row.Mark, row.Mark);
  }
  Screen.InvalidateLines(top, bottom);
}

void TBookmarks::DeleteBookmark(int row) {
  if (row < kFirstBookmarkRow || row - kFirstBookmarkRow >= static_cast<int>(Marks.size())) return;
  const auto at = Marks.begin() + (row - kFirstBookmarkRow);
  const TBookmarkRow removed = *at;
  Marks.erase(at);
  const int line = LineNumberOf(removed.LineNumber);
  if (line >= 0) {
    // The row's own mark when it still starts there, else whatever user mark the line carries.
    const TMarkAttributes* own = Screen.Marks.Get(removed.Mark);
    const bool ownHere = own && own->Type == 4 && own->Placed() && own->Top() == line;
    const int number = ownHere ? removed.Mark : Screen.GetMarkSlot(line, kUserSlot);
    const bool stillListed = std::any_of(Marks.begin(), Marks.end(),
                                         [&](const TBookmarkRow& r) { return r.Mark == number; });
    if (number >= TMarkManager::kFirstUserMark && !stillListed) FreeMark(number);
  }
  Changed();
}

int TBookmarks::Jump(int row) {
  const int line = LineNumberOf(Row(row).LineNumber);
  if (line < 0) return -1;
  if (CentreLine) CentreLine(line);
  return line;
}

bool TBookmarks::CanDelete(int row) const {
  return row >= kFirstBookmarkRow && !Row(row).LineNumber.empty();
}
