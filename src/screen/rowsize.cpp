#include "screen/rowsize.h"

#include <algorithm>
#include <string>

#include "screen/store.h"
#include "screen/writer.h"

namespace {
bool IsDoubleTop(const TBrowse& store, int line) {
  std::string text;
  std::uint16_t attributes[kLineCells];
  if (!store.GetLine(line, text, attributes)) return false;
  const int length = std::min<int>(static_cast<int>(text.size()), kLineCells);
  for (int c = 0; c < length; ++c) {
    if (text[static_cast<std::size_t>(c)] == ' ' || text[static_cast<std::size_t>(c)] == '\0') continue;
    return store.GetAttributeRecord(attributes[c]).Size > store.FontSize;
  }
  return false;
}

bool HoldsNoCharacter(const TBrowse& store, int line) {
  const std::string text = store.GetLineText(line);
  if (text.empty()) return false;
  return text.find_first_not_of('\0') == std::string::npos;
}
}  // namespace

TRowSize RowSizeOf(const TBrowse& store, const TTerminalState& terminal, int line) {
  if (line < 0 || line >= store.Count()) return rsNormal;
  const int firstScreenLine = store.Count() - store.Rows;
  if (line >= firstScreenLine) {
    const int row = line - firstScreenLine;
    if (row >= static_cast<int>(sizeof terminal.LineSize)) return rsNormal;
    switch (terminal.LineSize[row]) {
      case rsDoubleWidth: return rsDoubleWidth;
      case rsDoubleTop: return rsDoubleTop;
      case rsDoubleBottom: return rsDoubleBottom;
      default: return rsNormal;
    }
  }
  if (IsDoubleTop(store, line)) return rsDoubleTop;
  if (line > 0 && HoldsNoCharacter(store, line) && IsDoubleTop(store, line - 1)) return rsDoubleBottom;
  return rsNormal;
}

TCellSpan CellsOfColumn(TRowSize size, int column) {
  switch (size) {
    case rsDoubleTop:
    case rsDoubleBottom: return {2 * column - 1, 2};
    case rsDoubleWidth: return {column, 2};
    case rsNormal: break;
  }
  return {column, 1};
}

int ColumnOfCell(TRowSize size, int cell) {
  if (size == rsDoubleTop || size == rsDoubleBottom) return (cell + 1) / 2;
  return cell;
}
