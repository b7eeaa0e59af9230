#include "screen/store.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace {
constexpr int kPaddedLength = 133;  // PutText pads a line to this before writing

int ClampColumn8(int column) { return std::clamp(column, 0, 255); }
}  // namespace

TBrowse::TBrowse() : Hot(new THotLine[kHotLines]) {}

TBrowse::~TBrowse() { CloseFile(); }

// ---------------------------------------------------------------------------
// Hot lines

void TBrowse::PackText(TLineRecord& record, const char* text, int length) {
  int stored = length;
  while (stored > 0 && text[stored - 1] == ' ') --stored;
  record.Length = static_cast<std::uint8_t>(length);
  // Rewritten in place when the old place is big enough; lines are rarely
  // rewritten once packed, so the space of a moved text is not reclaimed.
  if (stored > record.Stored) record.TextPos = Arena.Allocate(static_cast<std::uint32_t>(stored));
  if (stored > 0) std::memcpy(Arena.At(record.TextPos), text, static_cast<std::size_t>(stored));
  record.Stored = static_cast<std::uint8_t>(stored);
}

void TBrowse::Evict(THotLine& slot) {
  if (slot.Line < 0) return;
  const int line = slot.Line;
  if (line < Count()) {
    // The slot stays valid until the line is packed: a failure loses nothing.
    TLineRecord& record = Lines[line];
    try {
      if (slot.TextDirty) PackText(record, slot.Text, slot.Length);
    } catch (const std::bad_alloc&) {
      throw EOutOfResources(kNoMemoryReplaceLine, line);
    }
    slot.TextDirty = false;
    if (slot.RunsDirty) record.Runs = RunLists.Intern(slot.Attr);
    slot.RunsDirty = false;
  }
  slot.Line = -1;
}

void TBrowse::ReadDisk(const TLineRecord& record, char* out) const {
  std::size_t done = 0;
  const std::size_t length = record.Length;
  while (done < length) {
    if (Fd < 0 || record.FileOffset < 0) throw EScreenFileError();
    const ssize_t n = pread(Fd, out + done, length - done,
                            static_cast<off_t>(record.FileOffset) + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw EScreenFileError();
    done += static_cast<std::size_t>(n);
  }
}

TBrowse::THotLine& TBrowse::Materialize(int line) {
  THotLine& slot = Hot[line % kHotLines];
  if (slot.Line == line) return slot;
  Evict(slot);
  const TLineRecord& record = Lines[line];
  std::memset(slot.Text, ' ', sizeof slot.Text);
  if (record.State == lsOnDisk)
    ReadDisk(record, slot.Text);
  else if (record.Stored > 0)
    std::memcpy(slot.Text, Arena.At(record.TextPos), record.Stored);
  slot.Length = record.Length;
  RunLists.Expand(record.Runs, slot.Attr);
  slot.TextDirty = slot.RunsDirty = false;
  slot.Line = line;
  return slot;
}

// ---------------------------------------------------------------------------
// Damage and cursor

void TBrowse::NoteDamage() {
  if (DamagePending) return;
  DamagePending = true;
  if (OnDamage) OnDamage();
}

void TBrowse::AddDamage(int line, int left, int right) {
  Damage.FirstLine = std::min(Damage.FirstLine, line);
  Damage.LastLine = std::max(Damage.LastLine, line);
  Damage.LeftColumn = std::min(Damage.LeftColumn, std::max(left, 1));
  Damage.RightColumn = std::max(Damage.RightColumn, std::min(right, kMaxLineLength));
  NoteDamage();
}

TScreenDamage TBrowse::TakeDamage() {
  TScreenDamage taken = Damage;
  Damage = TScreenDamage{};
  DamagePending = false;
  return taken;
}

void TBrowse::SetCursor(int column, int row) {
  if (Options & (boMarkCursorLine | boListBox | boEditor)) {
    CursorX = std::clamp(column, 1, ScreenXSizeMax);
    CursorY = std::clamp(row, 1, std::max(1, VisibleRows > 0 ? VisibleRows : Rows));
  } else {
    CursorX = std::clamp(column, 1, std::max(1, Cols));
    CursorY = std::clamp(row, 1, std::max(1, Rows));
  }
  if (!(Options & boSuppressCursor)) Follow();
}

// ---------------------------------------------------------------------------
// Adding lines

void TBrowse::ReserveLine() {
  if (Lines.size() < Lines.capacity()) return;
  const std::size_t capacity = Lines.capacity() ? Lines.capacity() * 2 : kFirstCapacity;
  try {
    Lines.reserve(capacity);
  } catch (const std::bad_alloc&) {
    throw EOutOfResources(kNoMemoryNewLine, Count());
  } catch (const std::length_error&) {
    throw EOutOfResources(kNoMemoryNewLine, Count());
  }
}

void TBrowse::AddLine(std::string_view text, int attribute, bool paint) {
  if (attribute < 0) attribute = 0;
  const int line = Count();
  ReserveLine();
  THotLine& slot = Hot[line % kHotLines];
  Evict(slot);
  TLineRecord record;
  record.Runs = TRunPool::Single(static_cast<std::uint16_t>(attribute));
  const int length = static_cast<int>(std::min<std::size_t>(text.size(), kMaxLineLength));
  record.Length = static_cast<std::uint8_t>(length);
  Lines.push_back(record);
  // The new line starts hot: its text is packed when it leaves the window.
  std::memcpy(slot.Text, text.data(), static_cast<std::size_t>(length));
  std::memset(slot.Text + length, ' ', sizeof slot.Text - static_cast<std::size_t>(length));
  std::fill_n(slot.Attr, kLineCells, static_cast<std::uint16_t>(attribute));
  slot.Length = static_cast<std::uint8_t>(length);
  slot.TextDirty = true;
  slot.RunsDirty = false;
  slot.Line = line;
  ++Damage.LinesAdded;
  if (paint) AddDamage(line, 1, ScreenXSizeMax);
  NoteDamage();
  Follow();
}

void TBrowse::AppendDiskLine(int length, std::int32_t fileOffset, int attribute) {
  if (attribute < 0) attribute = 0;
  ReserveLine();
  TLineRecord record;
  record.Runs = TRunPool::Single(static_cast<std::uint16_t>(attribute));
  record.Length = static_cast<std::uint8_t>(std::clamp(length, 0, kMaxLineLength));
  record.FileOffset = fileOffset;
  record.State = lsOnDisk;
  Lines.push_back(record);
  ++Damage.LinesAdded;
  NoteDamage();
}

void TBrowse::AddDiskLine(std::string_view text, std::int32_t fileOffset, int attribute) {
  AppendDiskLine(static_cast<int>(std::min<std::size_t>(text.size(), kMaxLineLength)), fileOffset,
                 attribute);
}

// ---------------------------------------------------------------------------
// Whole lines

std::string TBrowse::GetLineText(int line) const {
  if (!ValidLine(line)) return {};
  if (const THotLine* hot = HotFor(line)) return std::string(hot->Text, hot->Length);
  const TLineRecord& record = Lines[line];
  std::string text(record.Length, ' ');
  if (record.State == lsOnDisk)
    ReadDisk(record, text.data());
  else if (record.Stored > 0)
    std::memcpy(text.data(), Arena.At(record.TextPos), record.Stored);
  return text;
}

std::string_view TBrowse::GetLineTextView(int line, char* scratch) const {
  if (!ValidLine(line)) return {};
  if (const THotLine* hot = HotFor(line)) return {hot->Text, hot->Length};
  const TLineRecord& record = Lines[line];
  if (record.Length == 0) return {};
  if (record.State == lsOnDisk) {
    ReadDisk(record, scratch);
    return {scratch, record.Length};
  }
  if (record.Stored == record.Length) return {Arena.At(record.TextPos), record.Length};
  if (record.Stored > 0) std::memcpy(scratch, Arena.At(record.TextPos), record.Stored);
  std::memset(scratch + record.Stored, ' ', static_cast<std::size_t>(record.Length - record.Stored));
  return {scratch, record.Length};
}

int TBrowse::GetLineLength(int line) const {
  if (!ValidLine(line)) return 0;
  if (const THotLine* hot = HotFor(line)) return hot->Length;
  return Lines[line].Length;
}

void TBrowse::StoreText(int line, std::string_view text, bool dropOffset) {
  if (!ValidLine(line)) return;
  const int length = static_cast<int>(std::min<std::size_t>(text.size(), kMaxLineLength));
  TLineRecord& record = Lines[line];
  if (THotLine* hot = HotFor(line)) {
    std::memcpy(hot->Text, text.data(), static_cast<std::size_t>(length));
    std::memset(hot->Text + length, ' ', sizeof hot->Text - static_cast<std::size_t>(length));
    hot->Length = static_cast<std::uint8_t>(length);
    hot->TextDirty = true;
  } else {
    // A line of the history: rewritten in its packed form, the screen stays hot.
    try {
      PackText(record, text.data(), length);
    } catch (const std::bad_alloc&) {
      throw EOutOfResources(kNoMemoryReplaceLine, line);
    }
  }
  record.State = lsRewritten;
  if (dropOffset) record.FileOffset = -1;
  AddDamage(line, 1, ScreenXSizeMax);
}

void TBrowse::SetLineText(int line, std::string_view text) { StoreText(line, text, false); }

void TBrowse::ReplaceLine(int line, std::string_view text) { StoreText(line, text, true); }

bool TBrowse::GetLine(int line, std::string& text, std::uint16_t* attributes) const {
  if (!ValidLine(line)) {
    text.clear();
    std::fill_n(attributes, kLineCells, std::uint16_t{0});
    return false;
  }
  text = GetLineText(line);
  if (const THotLine* hot = HotFor(line))
    std::copy_n(hot->Attr, kLineCells, attributes);
  else
    RunLists.Expand(Lines[line].Runs, attributes);
  return true;
}

int TBrowse::GetAttributeAt(int line, int column) const {
  if (!ValidLine(line) || column < 1 || column > kLineCells) return 0;
  if (const THotLine* hot = HotFor(line)) return hot->Attr[column - 1];
  return RunLists.AttributeAt(Lines[line].Runs, column);
}

void TBrowse::SetAttributeAt(int line, int column, int attribute) {
  if (!ValidLine(line) || column < 1 || column > kLineCells) return;
  if (attribute < 0) attribute = 0;
  const auto a = static_cast<std::uint16_t>(attribute);
  if (THotLine* hot = HotFor(line)) {
    if (hot->Attr[column - 1] != a) {
      hot->Attr[column - 1] = a;
      hot->RunsDirty = true;
    }
  } else {
    std::uint16_t cells[kLineCells];
    RunLists.Expand(Lines[line].Runs, cells);
    if (cells[column - 1] == a) return;
    cells[column - 1] = a;
    Lines[line].Runs = RunLists.Intern(cells);
  }
  AddDamage(line, column, column);
}

std::vector<TRun> TBrowse::GetRuns(int line) const { return DecodeRuns(GetRunBytes(line)); }

std::string TBrowse::GetRunBytes(int line) const {
  if (!ValidLine(line)) return {};
  if (const THotLine* hot = HotFor(line)) return EncodeRuns(hot->Attr);
  return RunLists.Encoded(Lines[line].Runs);
}

int TBrowse::GetLineState(int line) const { return ValidLine(line) ? Lines[line].State : 0; }

std::int32_t TBrowse::GetFileOffset(int line) const {
  return ValidLine(line) ? Lines[line].FileOffset : -1;
}

// ---------------------------------------------------------------------------
// Screen rows

template <typename TWriteText>
void TBrowse::WriteRow(int row, int column, int count, int attribute, bool damage, TWriteText writeText) {
  const int line = ScreenLine(row);
  if (line < 0 || count < 0) return;
  const auto a = static_cast<std::uint16_t>(std::max(attribute, 0));
  THotLine& hot = Materialize(line);
  if (hot.Length < kPaddedLength) hot.Length = kPaddedLength;
  // Characters before column 1 or beyond the longest line are dropped.
  const int first = std::max(1, column);
  const int last = std::min(column + count - 1, kMaxLineLength);
  // Only characters that land lengthen the line: an empty text, or one wholly
  // past the longest line, leaves just the padding.
  if (first <= last) {
    writeText(hot.Text, first, last);
    if (last > hot.Length) hot.Length = static_cast<std::uint8_t>(last);
  }
  const int lastCell = std::min(last, kLineCells);
  for (int at = first; at <= lastCell; ++at) {
    if (hot.Attr[at - 1] != a) {
      hot.Attr[at - 1] = a;
      hot.RunsDirty = true;
    }
  }
  hot.TextDirty = true;
  Lines[line].State = lsRewritten;
  if (damage && count > 0 && first <= last) AddDamage(line, first, last);
  Follow();
}

std::string_view TBrowse::BlankRow() {
  static const std::string row(ScreenXSizeMax, ' ');
  return row;
}

void TBrowse::PutText(std::string_view text, int column, bool paint, int attribute, int row) {
  const bool shown = !text.empty() && static_cast<std::uint8_t>(text[0]) >= 32;
  WriteRow(row, column, static_cast<int>(text.size()), attribute, paint && shown,
           [&](char* cells, int first, int last) {
             for (int at = first; at <= last; ++at) cells[at - 1] = text[at - column];
           });
}

void TBrowse::FillText(char c, int count, int column, bool paint, int attribute, int row) {
  WriteRow(row, column, count, attribute, paint && static_cast<std::uint8_t>(c) >= 32,
           [&](char* cells, int first, int last) {
             std::memset(cells + first - 1, c, static_cast<std::size_t>(last - first + 1));
           });
}

void TBrowse::ReplaceScreenLine(std::string_view text, int attribute, bool paint, int row) {
  const int line = ScreenLine(row);
  if (line < 0) return;
  if (attribute < 0) attribute = 0;
  THotLine& hot = Materialize(line);
  const int length = static_cast<int>(std::min<std::size_t>(text.size(), kMaxLineLength));
  std::memcpy(hot.Text, text.data(), static_cast<std::size_t>(length));
  std::memset(hot.Text + length, ' ', sizeof hot.Text - static_cast<std::size_t>(length));
  hot.Length = static_cast<std::uint8_t>(length);
  std::fill_n(hot.Attr, kLineCells, static_cast<std::uint16_t>(attribute));
  hot.TextDirty = true;
  hot.RunsDirty = false;
  Lines[line].Runs = TRunPool::Single(static_cast<std::uint16_t>(attribute));
  Lines[line].State = lsRewritten;
  Lines[line].FileOffset = -1;
  if (paint) AddDamage(line, 1, ScreenXSizeMax);
}

std::uint8_t TBrowse::GetCellChar(int column, int row) const {
  const int line = ScreenLine(row);
  if (line < 0 || column < 1 || column > kMaxLineLength) return 0;
  if (const THotLine* hot = HotFor(line)) return static_cast<std::uint8_t>(hot->Text[column - 1]);
  const TLineRecord& record = Lines[line];
  if (column > record.Length) return ' ';
  if (record.State == lsOnDisk) return static_cast<std::uint8_t>(GetLineText(line)[column - 1]);
  if (column > record.Stored) return ' ';
  return static_cast<std::uint8_t>(Arena.At(record.TextPos)[column - 1]);
}

int TBrowse::GetCellAttribute(int column, int row) const {
  const int line = ScreenLine(row);
  return line < 0 ? 0 : GetAttributeAt(line, column);
}

void TBrowse::SetCellAttribute(int column, int row, int attribute) {
  const int line = ScreenLine(row);
  if (line >= 0) SetAttributeAt(line, column, attribute);
}

TTextAttributes TBrowse::GetCellRecord(int column, int row) const {
  return Attributes.Get(GetCellAttribute(column, row));
}

void TBrowse::SetCellRecord(int column, int row, const TTextAttributes& record) {
  SetCellAttribute(column, row, Attributes.Intern(record));
}

void TBrowse::CopyBlock(const TBlock& source, const TBlock& destination, bool paint,
                        bool screenRelative) {
  const int height = source.Bottom - source.Top + 1;
  const int left = std::max(1, source.Left);
  const int shift = destination.Left - source.Left;
  // Columns whose source and destination both lie on the line.
  const int from = std::max(left, 1 - shift);
  const int to = std::min({source.Right, kLineCells, kLineCells - shift});
  if (height <= 0 || from > to) return;
  const int width = to - from + 1;
  const auto lineOf = [&](int top, int i) {
    if (!screenRelative) return ValidLine(top + i) ? top + i : -1;
    return ScreenLine(top + i);
  };
  const bool upward = destination.Top > source.Top;
  char text[kLineCells];
  std::uint16_t cells[kLineCells];
  std::uint16_t sourceCells[kLineCells];
  for (int step = 0; step < height; ++step) {
    const int i = upward ? height - 1 - step : step;
    const int sourceLine = lineOf(source.Top, i);
    const int targetLine = lineOf(destination.Top, i);
    if (sourceLine < 0 || targetLine < 0) continue;
    if (const THotLine* hot = HotFor(sourceLine)) {
      std::memcpy(text, hot->Text + from - 1, static_cast<std::size_t>(width));
      std::copy_n(hot->Attr, kLineCells, sourceCells);
    } else {
      const std::string sourceText = GetLineText(sourceLine);
      for (int k = 0; k < width; ++k) {
        const int at = from - 1 + k;
        text[k] = at < static_cast<int>(sourceText.size()) ? sourceText[at] : ' ';
      }
      RunLists.Expand(Lines[sourceLine].Runs, sourceCells);
    }
    std::copy_n(sourceCells + from - 1, width, cells);
    THotLine& target = Materialize(targetLine);
    const int targetFrom = from + shift;
    const int targetTo = to + shift;
    std::memcpy(target.Text + targetFrom - 1, text, static_cast<std::size_t>(width));
    if (targetTo > target.Length) target.Length = static_cast<std::uint8_t>(targetTo);
    for (int k = 0; k < width; ++k) {
      if (target.Attr[targetFrom - 1 + k] != cells[k]) {
        target.Attr[targetFrom - 1 + k] = cells[k];
        target.RunsDirty = true;
      }
    }
    target.TextDirty = true;
    Lines[targetLine].State = lsRewritten;
    if (paint) {
      AddDamage(sourceLine, from, to);
      AddDamage(targetLine, targetFrom, targetTo);
    }
  }
}

void TBrowse::InvalidateCells(int left, int top, int bottom, int right) {
  const int firstRow = std::max(top, 1);
  const int lastRow = std::min(bottom, Rows);
  for (int row = firstRow; row <= lastRow; ++row) {
    const int line = ScreenLine(row);
    if (line >= 0) AddDamage(line, left, right);
  }
}

void TBrowse::InvalidateLines(int first, int last) {
  first = std::max(first, 0);
  last = std::min(last, Count() - 1);
  if (first > last) return;
  AddDamage(first, 1, ScreenXSizeMax);
  AddDamage(last, 1, ScreenXSizeMax);
}

void TBrowse::Clear() {
  for (int i = 0; i < kHotLines; ++i) Hot[i].Line = -1;
  std::vector<TLineRecord>().swap(Lines);
  Arena.Clear();
  RunLists.Clear();
  Damage = TScreenDamage{};
  Damage.All = Damage.ShowTop = true;
  DamagePending = false;
  NoteDamage();
}

// ---------------------------------------------------------------------------
// Mark slots

int TBrowse::SlotIndex(int mark) {
  switch (mark) {
    case 2: return 0;
    case 1: return 1;
    case 3: return 2;
    default: return mark >= TMarkManager::kFirstUserMark ? 3 : -1;
  }
}

void TBrowse::SetMarkTop(int line, int column, int mark) {
  TMarkAttributes* m = Marks.Get(mark);
  const int slot = SlotIndex(mark);
  if (!ValidLine(line) || !m || slot < 0) return;
  if (m->FirstLine < 0 || m->LastLine < 0) {
    m->FirstLine = m->LastLine = line;
    m->TopColumn = static_cast<std::uint8_t>(ClampColumn8(column));
  } else if (line <= m->Top()) {
    (m->FirstLine <= m->LastLine ? m->FirstLine : m->LastLine) = line;
    m->TopColumn = static_cast<std::uint8_t>(ClampColumn8(column));
  }
  Lines[line].Marks[slot] = static_cast<std::uint8_t>(mark);
  m->Type = static_cast<std::uint8_t>(mark < TMarkManager::kFirstUserMark ? mark : 4);
}

void TBrowse::SetMarkBottom(int line, int column, int mark) {
  TMarkAttributes* m = Marks.Get(mark);
  const int slot = SlotIndex(mark);
  if (!ValidLine(line) || !m || slot < 0) return;
  if (m->FirstLine < 0 || m->LastLine < 0) {
    m->FirstLine = m->LastLine = line;
    m->BottomColumn = static_cast<std::uint8_t>(ClampColumn8(column));
  } else if (line >= m->Bottom()) {
    (m->FirstLine <= m->LastLine ? m->LastLine : m->FirstLine) = line;
    m->BottomColumn = static_cast<std::uint8_t>(ClampColumn8(column));
  }
  Lines[line].Marks[slot] = static_cast<std::uint8_t>(mark);
  m->Type = static_cast<std::uint8_t>(mark < TMarkManager::kFirstUserMark ? mark : 4);
}

void TBrowse::ClearMarkSlot(int line, int mark) {
  const int slot = SlotIndex(mark);
  if (!ValidLine(line) || slot < 0) return;
  // The user slot is shared by every user mark: only this mark's number is cleared.
  if (slot == 3 && Lines[line].Marks[slot] != mark) return;
  Lines[line].Marks[slot] = 0;
}

void TBrowse::SetMarkSlot(int line, int mark, int value) {
  const int slot = SlotIndex(mark);
  if (!ValidLine(line) || slot < 0) return;
  Lines[line].Marks[slot] = static_cast<std::uint8_t>(std::clamp(value, 0, 255));
}

bool TBrowse::HasMark(int line, int mark) const {
  const int slot = SlotIndex(mark);
  if (!ValidLine(line) || slot < 0) return false;
  return Lines[line].Marks[slot] == mark;
}

int TBrowse::GetMarkSlot(int line, int mark) const {
  const int slot = SlotIndex(mark);
  if (!ValidLine(line) || slot < 0) return 0;
  return Lines[line].Marks[slot];
}

int TBrowse::MarkStartColumn(int line, int mark) const {
  const TMarkAttributes* m = Marks.Get(mark);
  if (!m || m->FirstLine < 0 || m->LastLine < 0) return 0;
  if (line < m->Top() || line > m->Bottom()) return 0;
  return line == m->Top() ? m->TopColumn : 1;
}

int TBrowse::MarkEndColumn(int line, int mark) const {
  const TMarkAttributes* m = Marks.Get(mark);
  if (!m || m->FirstLine < 0 || m->LastLine < 0) return 0;
  if (line < m->Top() || line > m->Bottom()) return 0;
  return line == m->Bottom() ? m->BottomColumn : kLineCells;
}
