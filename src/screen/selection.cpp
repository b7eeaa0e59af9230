#include "screen/selection.h"

#include <algorithm>

#include "core/desktop.h"

namespace {
constexpr int kCopyPumpLines = 251;

int LastLine(const TBrowse& store) { return store.Count() - 1; }

void SetSlots(TBrowse& store, int mark, int from, int to) {
  for (int line = std::max(from, 0); line <= std::min(to, LastLine(store)); ++line)
    store.SetMarkSlot(line, mark, mark);
}

void ClearSlots(TBrowse& store, int mark, int from, int to) {
  for (int line = std::max(from, 0); line <= std::min(to, LastLine(store)); ++line)
    store.ClearMarkSlot(line, mark);
}

std::uint8_t Column8(int column) { return static_cast<std::uint8_t>(std::clamp(column, 0, 255)); }
}  // namespace

TLineSpan PlaceMark(TBrowse& store, int mark, int firstLine, int lastLine, int topColumn,
                    int bottomColumn) {
  TMarkAttributes* m = store.Marks.Get(mark);
  if (!m || mark == kOverlapMark || store.Count() == 0) return {};
  firstLine = std::clamp(firstLine, 0, LastLine(store));
  lastLine = std::clamp(lastLine, 0, LastLine(store));
  const int newTop = std::min(firstLine, lastLine);
  const int newBottom = std::max(firstLine, lastLine);
  TLineSpan changed;
  const bool overlaps = m->Placed() && m->Top() <= newBottom && m->Bottom() >= newTop;
  if (overlaps) {
    const int oldTop = m->Top(), oldBottom = m->Bottom();
    ClearSlots(store, mark, oldTop, newTop - 1);
    ClearSlots(store, mark, newBottom + 1, oldBottom);
    SetSlots(store, mark, newTop, oldTop - 1);
    SetSlots(store, mark, oldBottom + 1, newBottom);
    if (oldTop != newTop || m->TopColumn != Column8(topColumn)) changed.AddRange(oldTop, newTop);
    if (oldBottom != newBottom || m->BottomColumn != Column8(bottomColumn))
      changed.AddRange(oldBottom, newBottom);
  } else {
    if (m->Placed()) {
      ClearSlots(store, mark, m->Top(), m->Bottom());
      changed.AddRange(m->Top(), m->Bottom());
    }
    SetSlots(store, mark, newTop, newBottom);
    changed.AddRange(newTop, newBottom);
  }
  m->FirstLine = firstLine;
  m->LastLine = lastLine;
  m->TopColumn = Column8(topColumn);
  m->BottomColumn = Column8(bottomColumn);
  m->Type = static_cast<std::uint8_t>(mark < TMarkManager::kFirstUserMark ? mark : 4);
  return changed;
}

TLineSpan MarkLine(TBrowse& store, int line, int mark) {
  if (line < 0 || line > LastLine(store)) return {};
  return PlaceMark(store, mark, line, line, 1, kLineCells);
}

TLineSpan ExtendMarkToLine(TBrowse& store, int line, int mark) {
  const TMarkAttributes* m = store.Marks.Get(mark);
  if (!m || line < 0 || line > LastLine(store)) return {};
  if (!m->Placed()) return MarkLine(store, line, mark);
  return PlaceMark(store, mark, m->FirstLine, line, 1, kLineCells);
}

TLineSpan ClearMark(TBrowse& store, int mark) {
  const TMarkAttributes* m = store.Marks.Get(mark);
  if (!m) return {};
  TLineSpan changed;
  if (m->Placed()) {
    ClearSlots(store, mark, m->Top(), m->Bottom());
    changed.AddRange(m->Top(), m->Bottom());
  }
  store.Marks.Free(mark);
  return changed;
}

TLineSpan MarkAll(TBrowse& store, int mark) {
  return PlaceMark(store, mark, 0, LastLine(store), 0, kLineCells);
}

TLineSpan UnmarkAll(TBrowse& store, int mark) {
  TLineSpan changed;
  for (int line = 0; line < store.Count(); ++line) {
    if (!store.HasMark(line, mark)) continue;
    store.ClearMarkSlot(line, mark);
    changed.Add(line);
  }
  store.Marks.Free(mark);
  return changed;
}

std::pair<int, int> MarkFirst(const TBrowse& store, int mark) {
  const TMarkAttributes* m = store.Marks.Get(mark);
  if (!m || !m->Placed() || !store.HasMark(m->Top(), mark)) return {-1, -1};
  return {m->Top(), m->TopColumn};
}

std::pair<int, int> MarkLast(const TBrowse& store, int mark) {
  const TMarkAttributes* m = store.Marks.Get(mark);
  if (!m || !m->Placed() || !store.HasMark(m->Bottom(), mark)) return {-1, -1};
  return {m->Bottom(), m->BottomColumn};
}

bool HasSelection(const TBrowse& store) {
  const TMarkAttributes* m = store.Marks.Get(kSelectionMark);
  return m && m->Placed();
}

bool LineMarkColours(const TBrowse& store, int line, std::uint8_t* marks) {
  std::fill_n(marks, kLineCells, std::uint8_t{0});
  const int user = store.GetMarkSlot(line, TMarkManager::kFirstUserMark);
  const int order[] = {user >= TMarkManager::kFirstUserMark ? user : 0, kFindMark, kSelectionMark,
                       kCursorLineMark};
  bool any = false;
  for (const int mark : order) {
    if (mark == 0 || !store.HasMark(line, mark)) continue;
    const int first = std::max(store.MarkStartColumn(line, mark), 1);
    const int last = std::min(store.MarkEndColumn(line, mark), kLineCells);
    for (int column = first; column <= last; ++column) {
      std::uint8_t& cell = marks[column - 1];
      cell = static_cast<std::uint8_t>(cell == 0 ? mark : kOverlapMark);
      any = true;
    }
  }
  return any;
}

std::string SelectionText(const TBrowse& store, TDesktop* desktop) {
  if (!HasSelection(store)) return {};
  const TMarkAttributes& m = *store.Marks.Get(kSelectionMark);
  const int top = m.Top(), bottom = m.Bottom();
  if (desktop) desktop->BeginProgress("Copying", bottom - top + 1);
  std::string out;
  // Re-checked each line: serving the queue may let data in or clear the store.
  for (int line = top; line <= bottom && line < store.Count(); ++line) {
    std::string text = store.GetLineText(line);
    if (store.HasMark(line, kSelectionMark)) {
      const int end = store.MarkEndColumn(line, kSelectionMark);
      const int start = store.MarkStartColumn(line, kSelectionMark);
      if (end < static_cast<int>(text.size())) text.resize(static_cast<std::size_t>(std::max(end, 0)));
      if (start > 1) text.erase(0, std::min<std::size_t>(static_cast<std::size_t>(start - 1), text.size()));
    }
    const std::size_t kept = text.find_last_not_of(' ');
    text.resize(kept == std::string::npos ? 0 : kept + 1);
    out += text;
    out += "\r\n";
    const int done = line - top + 1;
    if (desktop && done % kCopyPumpLines == 0) {
      if (!desktop->Progress(done)) break;
      desktop->ProcessPendingMessages();
    }
  }
  if (desktop) desktop->EndProgress();
  return out;
}

void CopySelection(const TBrowse& store, TDesktop& desktop) {
  if (!HasSelection(store)) return;
  desktop.SetClipboardText(SelectionText(store, &desktop));
}

TLineSpan TMouseMarking::Press(int line, int column, bool shift) {
  if (Store.Count() == 0) return {};
  line = std::clamp(line, 0, Store.Count() - 1);
  column = std::clamp(column, 0, kLineCells - 1);
  Down = true;
  if (shift) {
    Dragging = false;
    return ExtendMarkToLine(Store, line, kSelectionMark);
  }
  TLineSpan changed = ClearMark(Store, kSelectionMark);
  changed.Add(PlaceMark(Store, kSelectionMark, line, line, column + 1, column + 1));
  Store.Marks.Get(kSelectionMark)->Anchor = column;
  StartLine = line;
  StartColumn = column + 1;
  Dragging = true;
  return changed;
}

TLineSpan TMouseMarking::Move(int line, int column) {
  if (!Down || !Dragging || Store.Count() == 0) return {};
  line = std::clamp(line, 0, Store.Count() - 1);
  const int end = std::clamp(column, 0, kLineCells - 1) + 1;
  int top = StartColumn, bottom = end;
  if (line < StartLine) std::swap(top, bottom);
  if (line == StartLine) {
    top = std::min(StartColumn, end);
    bottom = std::max(StartColumn, end);
  }
  return PlaceMark(Store, kSelectionMark, StartLine, line, top, bottom);
}
