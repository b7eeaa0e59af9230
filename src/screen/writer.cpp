#include "screen/writer.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "core/desktop.h"
#include "core/settings.h"
#include "core/status.h"
#include "log/logfiles.h"
#include "screen/store.h"

namespace {
// Codes 95..127 of the line-drawing set, as the screen font's code page shows them.
constexpr std::uint8_t kLineDrawing[33] = {
    32,  4,   8,   9,   12,  13,  10,  248, 241, 10,  11,  217, 191, 218, 192, 197,  // 95..110
    196, 196, 196, 45,  95,  195, 180, 193, 194, 179, 243, 242, 227, 29,  156, 250,  // 111..126
    0,                                                                               // 127
};

bool Logged(std::uint8_t c) { return c >= 32 || c == 13 || c == 10 || c == 9; }

// The file-state test first keeps the common path (no receive) to one branch.
bool TextReceive(const TLogFiles& files) {
  return files.TransferFileState == TLogFiles::tsWriting && files.TextReceiveActive();
}
}  // namespace

TScreenWriter::TScreenWriter(const TScreenWriterContext& context) : S(context) {}

std::uint8_t TScreenWriter::LineDrawing(std::uint8_t c) {
  return c >= 95 && c <= 127 ? kLineDrawing[c - 95] : c;
}

// ---------------------------------------------------------------------------
// Attributes

int TScreenWriter::DefaultAttribute() const {
  const TSetupRecord& settings = S.Settings;
  TTextAttributes record;
  record.Foreground = settings.ForegroundColor;
  record.Background = settings.BackgroundColor;
  record.Style = 0;
  record.Size = static_cast<std::uint8_t>(std::min<int>(settings.FontSize, 255));
  record.FontName = settings.FontName.str();
  return S.Screen.InternAttribute(record);
}

int TScreenWriter::ResizedAttribute(int attribute, int size) {
  size = std::clamp(size, 1, 255);
  if (attribute == ResizeFrom && size == ResizeSize) return ResizeTo;
  TTextAttributes record = S.Screen.GetAttributeRecord(attribute);
  record.Size = static_cast<std::uint8_t>(size);
  ResizeTo = S.Screen.InternAttribute(record);
  ResizeFrom = attribute;
  ResizeSize = size;
  return ResizeTo;
}

int TScreenWriter::DoubleSizeAttribute(int attribute) {
  return ResizedAttribute(attribute, 2 * S.Settings.FontSize);
}

int TScreenWriter::SingleSizeAttribute(int attribute) {
  return ResizedAttribute(attribute, S.Settings.FontSize);
}

void TScreenWriter::ResetTerminal() {
  const TSetupRecord& settings = S.Settings;
  TTerminalState& t = State;
  std::fill(std::begin(t.LineSize), std::end(t.LineSize), std::uint8_t{0});
  t.CursorKeysApplication = t.KeypadApplication = t.OriginMode = false;
  t.G0Graphics = t.G1Graphics = false;
  t.G0Selected = t.Saved.G0Selected = true;
  BuildAttributes();
  SetColumnMode(settings.ScreenSize);
  RepaintArea(1, 1, TBrowse::ScreenXSizeMax, t.ScreenRows);
}

void TScreenWriter::BuildAttributes() {
  const TSetupRecord& settings = S.Settings;
  TTerminalState& t = State;
  TTextAttributes record;
  record.Size = static_cast<std::uint8_t>(std::min<int>(settings.FontSize, 255));
  record.FontName = settings.FontName.str();
  record.Foreground = settings.ForegroundColor;
  record.Background = settings.BackgroundColor;
  record.Style = settings.FontStyle;
  t.CurrentAttribute = S.Screen.InternAttribute(record);

  const TAttributeBlock* blocks[caCount] = {
      &settings.IEAttr,   &settings.DSS1MsgAttr, &settings.SndRcvAttr,
      &settings.MbidAttr, &settings.VMIAttr,     &settings.DataAttr,
      &settings.ErrorAttr, &settings.MsgAttr,    &settings.IndicatorAttr,
  };
  for (int category = 0; category < caCount; ++category) {
    record.Foreground = blocks[category]->Foreground;
    record.Background = blocks[category]->Background;
    record.Style = blocks[category]->Style;
    t.Category[category] = S.Screen.InternAttribute(record);
  }

  S.Screen.FontName = settings.FontName.str();
  S.Screen.FontSize = settings.FontSize;
  S.Screen.FontStyle = settings.FontStyle;
}

void TScreenWriter::ApplyAttributeToRegion() {
  const TTerminalState& t = State;
  for (int row = t.TopMargin; row <= t.BottomMargin; ++row)
    for (int column = t.LeftMargin; column <= t.RightMargin; ++column)
      S.Screen.SetCellAttribute(column, row, t.CurrentAttribute);
  RepaintArea(t.LeftMargin, t.TopMargin, t.RightMargin, t.BottomMargin);
}

// ---------------------------------------------------------------------------
// Characters

void TScreenWriter::MoveLineSizesUp() {
  TTerminalState& t = State;
  // Rows of normal size all (nearly always): moving them changes nothing.
  static_assert(sizeof t.LineSize == 24);
  std::uint64_t sizes[3];
  std::memcpy(sizes, t.LineSize, sizeof sizes);
  if ((sizes[0] | sizes[1] | sizes[2]) == 0) return;
  const int bottom = std::min<int>(t.BottomMargin, sizeof t.LineSize);
  for (int row = std::max(t.TopMargin + 1, 2); row <= bottom; ++row)
    t.LineSize[row - 2] = t.LineSize[row - 1];
  if (bottom >= 1) t.LineSize[bottom - 1] = 0;
}

void TScreenWriter::LineFeedRule(bool lineFeed) {
  TTerminalState& t = State;
  // Only a line feed out of the region's bottom row scrolls it; below the
  // region (a status line under a scrolling area) the cursor just moves down.
  if (lineFeed && t.CursorRow == t.BottomMargin + 1) {
    LineFeedScroll(t.BottomMargin);
    t.CursorRow = t.BottomMargin;
    MoveLineSizesUp();
  } else if (t.CursorRow > t.ScreenRows) {
    t.CursorRow = t.ScreenRows;
  }
}

void TScreenWriter::WrapCheck() {
  TTerminalState& t = State;
  if (t.CursorColumn <= t.RightMargin) return;
  bool lineFeed = false;
  if (S.Settings.Wrap) {
    ++t.CursorRow;
    t.CursorColumn = t.LeftMargin;
    lineFeed = true;
  } else {
    t.CursorColumn = t.RightMargin;
  }
  LineFeedRule(lineFeed);
}

void TScreenWriter::PutPrintable(std::uint8_t c) {
  WrapCheck();
  WritePrintable(c);
}

void TScreenWriter::WritePrintable(std::uint8_t c) {
  TTerminalState& t = State;
  switch (RowSize(t.CursorRow)) {
    case 2:
      PutCell(c, t.CursorColumn, t.CursorRow, true, DoubleSizeAttribute(t.CurrentAttribute));
      t.CursorColumn += 2;
      break;
    case 1:
      PutCell(c, t.CursorColumn, t.CursorRow, true, t.CurrentAttribute);
      t.CursorColumn += 2;
      break;
    case 4:
      // The bottom half shows what the top half (the row above) holds.
      PutCell(c, t.CursorColumn, t.CursorRow - 1, true, DoubleSizeAttribute(t.CurrentAttribute));
      t.CursorColumn += 2;
      break;
    default:
      PutCell(c, t.CursorColumn, t.CursorRow, true, t.CurrentAttribute);
      ++t.CursorColumn;
      break;
  }
}

void TScreenWriter::FeedHooks(std::uint8_t c) {
  if (!Logged(c)) return;
  TLogFiles& files = S.Files;
  if (files.LogOpen) files.LogChar(c);
  if (TextReceive(files)) {
    files.TransferChar(c);
    UpdateStatusBar();
  }
}

void TScreenWriter::PutChar(std::uint8_t c) {
  TTerminalState& t = State;
  bool lineFeed = false;
  // Codes above 127 have no line-drawing form and stay as they are.
  if (c > 94 && c <= 127 && GraphicsActive()) {
    WrapCheck();
    PutCell(LineDrawing(c), t.CursorColumn, t.CursorRow, true, t.CurrentAttribute);
    ++t.CursorColumn;
  } else {
    switch (c) {
      case 10:
        ++t.CursorRow;
        lineFeed = true;
        break;
      case 8:
        if (t.CursorColumn > t.LeftMargin) --t.CursorColumn;
        break;
      case 9: {
        WrapCheck();
        // Stops at the last two columns are never used.
        const int last = std::min(t.RightMargin - 2, TBrowse::ScreenXSizeMax);
        for (int column = t.CursorColumn + 1; column <= last; ++column) {
          if (S.Settings.TabStops[column - 1]) {
            t.CursorColumn = static_cast<std::uint8_t>(column);
            break;
          }
        }
        break;
      }
      case 13:
        t.CursorColumn = t.LeftMargin;
        break;
      case 127:
        if (t.CursorColumn > t.LeftMargin) {
          --t.CursorColumn;
          PutCell(' ', t.CursorColumn, t.CursorRow, true, t.CurrentAttribute);
        }
        break;
      default:
        if (c >= 32) PutPrintable(c);
        break;
    }
  }
  FeedHooks(c);
  LineFeedRule(lineFeed);
  UpdateCursor();
}

void TScreenWriter::PutTextAndLineEnds(const std::uint8_t* text, std::size_t count, const std::uint8_t* ends,
                                       std::size_t endCount) {
  if (count > 0) WritePlain(text, count);
  TTerminalState& t = State;
  for (std::size_t i = 0; i < endCount; ++i) {
    // PutChar's steps for the two, the cursor update left to the end.
    const bool lineFeed = ends[i] == 10;
    if (lineFeed)
      ++t.CursorRow;
    else
      t.CursorColumn = t.LeftMargin;
    FeedHooks(ends[i]);
    LineFeedRule(lineFeed);
  }
  if (count + endCount > 0) UpdateCursor();
}

void TScreenWriter::WritePlain(const std::uint8_t* text, std::size_t count) {
  TTerminalState& t = State;
  TLogFiles& files = S.Files;
  std::size_t done = 0;
  while (done < count) {
    const std::uint8_t first = text[done];
    WrapCheck();
    const int columnsLeft = t.RightMargin - t.CursorColumn + 1;
    if (RowSize(t.CursorRow) != 0 || columnsLeft < 1) {
      // PutChar's steps after its wrap check, which must not run twice.
      WritePrintable(first);
      FeedHooks(first);
      LineFeedRule(false);
      ++done;
      continue;
    }
    const bool pinned = !S.Settings.Wrap && t.CursorColumn == t.RightMargin;
    // Without wrap every character lands on the last column: only the last one stays.
    const std::size_t n = pinned ? count - done : std::min(count - done, static_cast<std::size_t>(columnsLeft));
    const std::uint8_t* chunk = text + done;
    if (pinned) {
      PutCell(chunk[n - 1], t.CursorColumn, t.CursorRow, true, t.CurrentAttribute);
      ++t.CursorColumn;
    } else {
      S.Screen.PutText(std::string_view(reinterpret_cast<const char*>(chunk), n), t.CursorColumn,
                        true, t.CurrentAttribute, t.CursorRow);
      t.CursorColumn = static_cast<std::uint8_t>(t.CursorColumn + n);
    }
    if (files.LogOpen) files.LogBytes(chunk, n);
    if (TextReceive(files)) {
      for (std::size_t i = 0; i < n; ++i) files.TransferChar(chunk[i]);
      UpdateStatusBar();
    }
    LineFeedRule(false);
    done += n;
  }
}

void TScreenWriter::WriteLine(std::string_view text, int attribute, int row) {
  if (Redirect) {
    Redirect->write(text.data(), static_cast<std::streamsize>(text.size()));
    *Redirect << "\r\n";
    return;
  }
  TBrowse& screen = S.Screen;
  if (row != 0) {
    screen.PutText(text, 1, true, attribute, row);
    return;
  }
  TTerminalState& t = State;
  // The text is written as one piece: on a double-height row a character per
  // cell, not squeezed through the column halving of PutCell.
  if (t.CursorRow != t.BottomMargin)
    screen.PutText(text, 1, true, attribute, t.CursorRow);
  else
    screen.AddLine(text, attribute, true);
  t.CursorColumn = t.LeftMargin;
  UpdateLinesInBuffer();
  ++t.CursorRow;
  if (t.CursorRow > t.BottomMargin) {
    t.CursorRow = t.BottomMargin;
    MoveLineSizesUp();
  }
  TLogFiles& files = S.Files;
  if (files.LogOpen) files.LogLine(text);
  if (TextReceive(files)) {
    files.TransferLine(text);
    UpdateStatusBar();
  }
  UpdateCursor();
}

// ---------------------------------------------------------------------------
// Cells

void TScreenWriter::PutCell(std::uint8_t c, int column, int row, bool paint, int attribute) {
  if (RowSize(row) == 2) column = (column + 1) / 2;
  const char ch = static_cast<char>(c);
  S.Screen.PutText(std::string_view(&ch, 1), column, paint, attribute, row);
}

std::uint8_t TScreenWriter::GetScreenChar(int column, int row) const {
  if (RowSize(row) == 2) column = (column + 1) / 2;
  return S.Screen.GetCellChar(column, row);
}

int TScreenWriter::GetScreenAttribute(int column, int row) const {
  if (RowSize(row) == 2) column = (column + 1) / 2;
  return S.Screen.GetCellAttribute(column, row);
}

void TScreenWriter::SetScreenAttribute(int column, int row, int attribute) {
  if (RowSize(row) == 2) column = (column + 1) / 2;
  S.Screen.SetCellAttribute(column, row, attribute);
}

void TScreenWriter::Blank(int row, int fromColumn, int toColumn, int attribute) {
  fromColumn = std::max(fromColumn, 1);
  toColumn = std::min(toColumn, TBrowse::ScreenXSizeMax);
  if (fromColumn > toColumn) return;
  S.Screen.FillText(' ', toColumn - fromColumn + 1, fromColumn, false, attribute, row);
}

void TScreenWriter::EraseArea(int fromColumn, int fromRow, int toColumn, int toRow, int attribute,
                              bool paint) {
  if (fromRow > toRow) return;
  const TTerminalState& t = State;
  if (fromRow == toRow) {
    Blank(fromRow, fromColumn, toColumn, attribute);
  } else {
    Blank(fromRow, fromColumn, t.StoreColumns, attribute);
    for (int row = fromRow + 1; row < toRow; ++row) Blank(row, 1, t.StoreColumns, attribute);
    Blank(toRow, 1, toColumn, attribute);
  }
  const int firstSized = std::max(fromRow, 1);
  const int lastSized = std::min<int>(toRow, sizeof t.LineSize);
  // Nearly always one row (an erased line end): no library call for it.
  if (firstSized == lastSized)
    State.LineSize[firstSized - 1] = 0;
  else if (firstSized < lastSized)
    std::fill(State.LineSize + firstSized - 1, State.LineSize + lastSized, std::uint8_t{0});
  if (paint) RepaintArea(1, fromRow, TBrowse::ScreenXSizeMax, toRow);
}

void TScreenWriter::ScrollRegion(bool up, int count, int attribute, int left, int top, int right,
                                 int bottom, bool paint) {
  const int height = bottom - top + 1;
  if (height <= 0 || count <= 0) return;
  count = std::min(count, height);
  // The rows the scroll uncovers are erased either way: rows handed round
  // hold there what scrolled out, rows copied what was there.
  const bool moved = count < height && S.Screen.RotateScreenRows(up, count, left, top, right, bottom);
  if (count == height) {
    EraseArea(left, top, right, bottom, attribute, false);
  } else if (up) {
    if (!moved)
      S.Screen.CopyBlock({left, top + count, right, bottom}, {left, top, right, bottom - count}, false, true);
    EraseArea(left, bottom - count + 1, right, bottom, attribute, false);
  } else {
    if (!moved)
      S.Screen.CopyBlock({left, top, right, bottom - count}, {left, top + count, right, bottom}, false, true);
    EraseArea(left, top, right, top + count - 1, attribute, false);
  }
  if (paint) RepaintArea(left, top, right, bottom);
}

void TScreenWriter::LineFeedScroll(int row) {
  const TTerminalState& t = State;
  const bool wholeScreen = t.LeftMargin == 1 && t.RightMargin >= 80 && t.TopMargin == 1 &&
                           t.BottomMargin == t.ScreenRows;
  if (wholeScreen && row >= t.ScreenRows) {
    S.Screen.AddBlankLine(t.CurrentAttribute, true);
    UpdateLinesInBuffer();
    return;
  }
  ScrollRegion(true, 1, t.CurrentAttribute, t.LeftMargin, t.TopMargin, t.RightMargin,
               t.BottomMargin, true);
}

// ---------------------------------------------------------------------------
// Modes, cursor and status

void TScreenWriter::SetColumnMode(int mode) {
  mode = mode == 1 ? 1 : 0;
  TTerminalState& t = State;
  t.OriginColumn = t.OriginRow = 1;
  t.StoreColumns = 132;
  t.ScreenRows = 24;
  t.LeftMargin = 1;
  t.RightMargin = mode ? 132 : 80;
  t.TopMargin = 1;
  t.BottomMargin = 24;
  S.Settings.ScreenSize = static_cast<std::uint8_t>(mode);
  S.Screen.Cols = mode ? 132 : 80;
  S.Screen.Rows = 24;
  if (t.CursorColumn > t.RightMargin) t.CursorColumn = t.RightMargin;
  if (t.CursorRow > t.BottomMargin) t.CursorRow = t.ScreenRows;
  UpdateStatusBar();
  UpdateCursor();
}

void TScreenWriter::UpdateCursor() { S.Screen.SetCursor(State.CursorColumn, State.CursorRow); }

void TScreenWriter::RepaintArea(int left, int top, int right, int bottom) {
  S.Screen.InvalidateCells(left, top, bottom, right);
}

void TScreenWriter::UpdateStatusBar() {
  TStatusIndicators& status = S.Status;
  status.LogStatus = S.Files.LogOpen;
  if (FillStatus) FillStatus(status);
  status.ScreenSize = S.Settings.ScreenSize == 1;
  status.LinesInBuffer = S.Screen.Count();
  ++status.Changes;
}

void TScreenWriter::UpdateLinesInBuffer() {
  S.Status.LinesInBuffer = S.Screen.Count();
  ++S.Status.Changes;
}

void TScreenWriter::Beep() { S.Desktop.Beep(); }

// ---------------------------------------------------------------------------
// Line sizes

void TScreenWriter::MakeRowDoubleHeight(int row) {
  TBrowse& screen = S.Screen;
  for (int column = 1; column <= TBrowse::ScreenXSizeMax; ++column)
    screen.SetCellAttribute(column, row, DoubleSizeAttribute(screen.GetCellAttribute(column, row)));
  if (row + 1 <= State.BottomMargin)
    screen.ReplaceScreenLine(TBrowse::BlankRow(), State.CurrentAttribute, false, row + 1);
  RepaintArea(1, row, TBrowse::ScreenXSizeMax, row);
}

void TScreenWriter::MakeRowSingle(int row) {
  TBrowse& screen = S.Screen;
  const TTerminalState& t = State;
  for (int column = 1; column <= TBrowse::ScreenXSizeMax; ++column)
    screen.SetCellAttribute(column, row, SingleSizeAttribute(screen.GetCellAttribute(column, row)));
  Blank(row, t.RightMargin / 2 + 1, t.RightMargin, t.CurrentAttribute);
  int lastRow = row;
  if (row + 1 <= t.BottomMargin) {
    Blank(row + 1, t.LeftMargin, t.RightMargin, t.CurrentAttribute);
    lastRow = row + 1;
  }
  RepaintArea(1, row, TBrowse::ScreenXSizeMax, lastRow);
}

void TScreenWriter::MakeRowDoubleWidth(int row) {
  TBrowse& screen = S.Screen;
  const TTerminalState& t = State;
  for (int column = t.RightMargin / 2; column >= 2; --column) {
    const char c = static_cast<char>(screen.GetCellChar(column, row));
    screen.PutText(std::string_view(&c, 1), 2 * column, false, screen.GetCellAttribute(column, row),
                   row);
    Blank(row, 2 * column - 1, 2 * column - 1, t.CurrentAttribute);
  }
  Blank(row, 2, 2, t.CurrentAttribute);
  RepaintArea(1, row, TBrowse::ScreenXSizeMax, row);
}
