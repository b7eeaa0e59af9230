#include "auxwin/printing.h"

#include <algorithm>
#include <cmath>

#include "core/desktop.h"
#include "core/numbers.h"
#include "log/errors.h"
#include "log/file.h"
#include "screen/selection.h"
#include "screen/store.h"

namespace {
constexpr int kTabSize = 8;
// Lines gathered before they go to the file in one write.
constexpr std::size_t kSaveChunk = 64 * 1024;

// Columns first..last (from 1) of a line that a print takes; last < first: none.
struct TColumns {
  int First = 1;
  int Last = 0;
};

TColumns ColumnsOf(const TBrowse& store, int line, bool markedOnly, int textLength) {
  TColumns columns{1, std::max(kLineCells, textLength)};
  if (!markedOnly) return columns;
  if (!store.HasMark(line, kSelectionMark)) return {1, 0};
  columns.First = std::max(1, store.MarkStartColumn(line, kSelectionMark));
  // A mark to the last cell keeps what a long line holds beyond it.
  const int end = store.MarkEndColumn(line, kSelectionMark);
  if (end < kLineCells) columns.Last = end;
  return columns;
}

std::string FileBoxText(const char* what, const std::string& name, int error) {
  return std::string(what) + name + "\rError = H'" + Hex(SystemErrorCode(error), 4);
}

void ErrorBox(TDesktop& desktop, const std::string& text) {
  desktop.ShowMessage({TMsgIcon::Error, text, "", mbOK, 0});
}

// Appends cells of one look, joining the last run when it has that look.
void AppendCells(TPrintedLine& out, std::string_view cells, std::uint16_t attribute, bool wide) {
  if (cells.empty()) return;
  const int start = static_cast<int>(out.Text.size());
  out.Text.append(cells);
  if (!out.Runs.empty() && out.Runs.back().Attribute == attribute && out.Runs.back().Wide == wide) {
    out.Runs.back().Length += static_cast<int>(cells.size());
    return;
  }
  out.Runs.push_back({start, static_cast<int>(cells.size()), attribute, wide});
}
}  // namespace

TPrintRange PrintRangeOf(const TBrowse& store, bool markedOnly) {
  const int last = store.Count() - 1;
  if (!markedOnly) return {0, last};
  if (!HasSelection(store)) return {};
  const TMarkAttributes& mark = *store.Marks.Get(kSelectionMark);
  return {std::max(0, mark.Top()), std::min(last, mark.Bottom())};
}

TPrintedLine TPrintedLine::Slice(int from, int count) const {
  TPrintedLine out;
  const int size = static_cast<int>(Text.size());
  from = std::clamp(from, 0, size);
  const int end = std::clamp(from + count, from, size);
  out.Text = Text.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(end - from));
  for (const TPrintRun& run : Runs) {
    const int first = std::max(run.Start, from);
    const int last = std::min(run.Start + run.Length, end);
    if (first < last) out.Runs.push_back({first - from, last - first, run.Attribute, run.Wide});
  }
  return out;
}

TPrintedLine PrintedLine(const TBrowse& store, int line, bool markedOnly) {
  TPrintedLine out;
  std::string text = store.GetLineText(line);
  const TColumns columns = ColumnsOf(store, line, markedOnly, static_cast<int>(text.size()));
  std::replace(text.begin(), text.end(), '\0', ' ');
  int last = std::min(columns.Last, static_cast<int>(text.size()));
  while (last >= columns.First && text[static_cast<std::size_t>(last - 1)] == ' ') --last;
  if (last < columns.First) return out;

  std::uint16_t attributes[kLineCells] = {};
  const std::vector<TRun> runs = store.GetRuns(line);
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const int from = std::max(1, static_cast<int>(runs[i].Column));
    const int to = i + 1 < runs.size() ? runs[i + 1].Column - 1 : kLineCells;
    for (int c = from; c <= std::min(to, kLineCells); ++c) attributes[c - 1] = runs[i].Attribute;
  }
  // Beyond the last cell a long line keeps the look of the last cell.
  auto attributeAt = [&](int column) { return attributes[std::min(column, kLineCells) - 1]; };
  for (int column = columns.First; column <= last; ++column) {
    const std::uint16_t attribute = attributeAt(column);
    const bool wide = store.GetAttributeRecord(attribute).Size > store.FontSize;
    const char c = text[static_cast<std::size_t>(column - 1)];
    if (c == '\t') {
      const std::size_t to = (out.Text.size() / kTabSize + 1) * kTabSize;
      AppendCells(out, std::string(to - out.Text.size(), ' '), attribute, wide);
    } else if (wide) {
      const char cells[2] = {c, ' '};
      AppendCells(out, std::string_view(cells, 2), attribute, true);
    } else {
      AppendCells(out, std::string_view(&c, 1), attribute, false);
    }
  }
  return out;
}

TPageGeometry PageGeometryOf(double printableWidth, double printableHeight, double cellWidth,
                             double lineHeight) {
  TPageGeometry geometry;
  geometry.CharsPerLine = cellWidth > 0 ? std::max(1, static_cast<int>(std::floor(printableWidth / cellWidth))) : 1;
  geometry.LinesPerPage =
      lineHeight > 0 ? std::max(1, static_cast<int>(std::floor(printableHeight / lineHeight)) - 2) : 1;
  return geometry;
}

std::vector<std::pair<int, int>> WrapPieces(std::string_view text, int width) {
  width = std::max(1, width);
  const int size = static_cast<int>(text.size());
  std::vector<std::pair<int, int>> pieces;
  int start = 0;
  while (size - start > width) {
    int blank = -1;
    for (int i = start + width; i > start; --i) {
      if (text[static_cast<std::size_t>(i)] == ' ') {
        blank = i;
        break;
      }
    }
    if (blank < 0) {
      pieces.emplace_back(start, width);
      start += width;
    } else {
      pieces.emplace_back(start, blank - start);
      start = blank + 1;
    }
  }
  if (start < size || pieces.empty()) pieces.emplace_back(start, size - start);
  return pieces;
}

int TPrintDocument::PrintedLineCount() const {
  int count = 0;
  for (const auto& page : Pages) count += static_cast<int>(page.size());
  return count;
}

TPrintDocument SpoolLines(const TBrowse& store, bool markedOnly, const TPageGeometry& geometry,
                          TDesktop& desktop) {
  TPrintDocument document;
  const TPrintRange range = PrintRangeOf(store, markedOnly);
  if (range.Count() == 0) return document;
  const int perPage = std::max(1, geometry.LinesPerPage);
  desktop.BeginProgress(kSpoolingCaption, range.Count());
  int sincePump = 0;
  // The store is asked again each line: serving the queue may let data in.
  for (int line = range.First; line <= range.Last && line < store.Count(); ++line) {
    const TPrintedLine printed = PrintedLine(store, line, markedOnly);
    for (const auto& [start, length] : WrapPieces(printed.Text, geometry.CharsPerLine)) {
      if (document.Pages.empty() || static_cast<int>(document.Pages.back().size()) >= perPage)
        document.Pages.emplace_back();
      document.Pages.back().push_back(printed.Slice(start, length));
    }
    ++document.LinesTaken;
    if (!desktop.Progress(line - range.First + 1)) {
      document.Cancelled = true;
      break;
    }
    if (++sincePump >= kSpoolPumpLines) {
      desktop.ProcessPendingMessages();
      sincePump = 0;
    }
  }
  desktop.EndProgress();
  return document;
}

std::string SavedLineText(const TBrowse& store, int line, bool markedOnly) {
  std::string text = store.GetLineText(line);
  if (markedOnly && store.HasMark(line, kSelectionMark)) {
    const int end = store.MarkEndColumn(line, kSelectionMark);
    const int start = store.MarkStartColumn(line, kSelectionMark);
    if (end < kLineCells && end < static_cast<int>(text.size())) text.resize(static_cast<std::size_t>(std::max(end, 0)));
    if (start > 1) text.erase(0, std::min<std::size_t>(static_cast<std::size_t>(start - 1), text.size()));
  }
  // The screen shows a cell that never got a character as a blank.
  std::replace(text.begin(), text.end(), '\0', ' ');
  const std::size_t kept = text.find_last_not_of(' ');
  text.resize(kept == std::string::npos ? 0 : kept + 1);
  return text;
}

bool SaveLinesToFile(const TBrowse& store, const std::string& name, bool markedOnly, TDesktop& desktop) {
  TFile file;
  if (const int error = file.Create(name); error != 0) {
    ErrorBox(desktop, FileBoxText("File access error. File = ", name, error));
    return false;
  }
  const TPrintRange range = PrintRangeOf(store, markedOnly);
  std::string chunk;
  auto flush = [&] {
    const TIoResult written = file.Write(chunk.data(), chunk.size());
    chunk.clear();
    if (written.Error == 0) return true;
    ErrorBox(desktop, FileBoxText("File write error. File = ", name, written.Error));
    return false;
  };
  for (int line = range.First; line <= range.Last; ++line) {
    chunk += SavedLineText(store, line, markedOnly);
    chunk += "\r\n";
    if (chunk.size() >= kSaveChunk && !flush()) return false;
  }
  return chunk.empty() || flush();
}
