#include "desktop/screenaccessible.h"

#include <algorithm>

#include "core/cp437.h"
#include "desktop/screenview.h"
#include "screen/store.h"

TScreenAccessible::TScreenAccessible(TScreenView* view) : QAccessibleWidget(view, QAccessible::Terminal) {}

TScreenView* TScreenAccessible::View() const { return static_cast<TScreenView*>(widget()); }

int TScreenAccessible::Columns() const { return std::clamp(View()->Store().Cols, 1, kLineCells); }

void* TScreenAccessible::interface_cast(QAccessible::InterfaceType type) {
  if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
  return QAccessibleWidget::interface_cast(type);
}

QString TScreenAccessible::text(QAccessible::Text kind) const {
  if (kind == QAccessible::Value) return AllText();
  return QAccessibleWidget::text(kind);
}

QString TScreenAccessible::AllText() const {
  const TBrowse& store = View()->Store();
  const int columns = Columns();
  QString out;
  out.reserve(View()->VisibleRows() * (columns + 1));
  for (int row = 0; row < View()->VisibleRows(); ++row) {
    const std::string line = store.GetLineText(View()->TopLine() + row);
    for (int column = 0; column < columns; ++column) {
      const std::uint8_t byte = column < static_cast<int>(line.size()) ? static_cast<std::uint8_t>(line[column]) : ' ';
      out += QChar(static_cast<char16_t>(byte == 0 ? U' ' : Cp437CodePoint(byte)));
    }
    out += QLatin1Char('\n');
  }
  return out;
}

int TScreenAccessible::characterCount() const { return View()->VisibleRows() * (Columns() + 1); }

QString TScreenAccessible::text(int startOffset, int endOffset) const {
  const QString all = AllText();
  startOffset = std::clamp(startOffset, 0, static_cast<int>(all.size()));
  endOffset = std::clamp(endOffset, startOffset, static_cast<int>(all.size()));
  return all.mid(startOffset, endOffset - startOffset);
}

int TScreenAccessible::OffsetOf(int line, int column) const {
  const int row = std::clamp(line - View()->TopLine(), 0, View()->VisibleRows() - 1);
  return row * (Columns() + 1) + std::clamp(column - 1, 0, Columns());
}

int TScreenAccessible::cursorPosition() const {
  return OffsetOf(View()->CursorLine(), View()->Store().CursorXPosition());
}

void TScreenAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const {
  *startOffset = *endOffset = 0;
  if (selectionIndex != 0 || selectionCount() == 0) return;
  const TBrowse& store = View()->Store();
  const TMarkAttributes& mark = *store.Marks.Get(kSelectionMark);
  *startOffset = OffsetOf(mark.Top(), mark.Top() < View()->TopLine() ? 1 : std::max<int>(mark.TopColumn, 1));
  const bool endsBelow = mark.Bottom() >= View()->TopLine() + View()->VisibleRows();
  *endOffset = OffsetOf(mark.Bottom(), endsBelow ? Columns() + 1 : mark.BottomColumn + 1);
}

int TScreenAccessible::selectionCount() const {
  const TBrowse& store = View()->Store();
  if (!HasSelection(store)) return 0;
  const TMarkAttributes& mark = *store.Marks.Get(kSelectionMark);
  const int top = View()->TopLine();
  return mark.Bottom() >= top && mark.Top() < top + View()->VisibleRows() ? 1 : 0;
}

QRect TScreenAccessible::characterRect(int offset) const {
  const int row = offset / (Columns() + 1);
  const int column = offset % (Columns() + 1) + 1;
  // A character of a double-size line covers two cells.
  const QRect cell = View()->CharacterRect(View()->TopLine() + row, column);
  return QRect(View()->viewport()->mapToGlobal(cell.topLeft()), cell.size());
}

int TScreenAccessible::offsetAtPoint(const QPoint& point) const {
  const QPoint local = View()->viewport()->mapFromGlobal(point);
  const QSize cell = View()->CellSize();
  if (local.x() < 0 || local.y() < 0) return -1;
  const int row = local.y() / cell.height();
  const int column = View()->ColumnAtCell(View()->TopLine() + row, local.x() / cell.width() + View()->LeftColumn() + 1) - 1;
  if (row >= View()->VisibleRows() || column >= Columns()) return -1;
  return row * (Columns() + 1) + column;
}

void TScreenAccessible::scrollToSubstring(int startIndex, int) {
  View()->ShowLine(View()->TopLine() + startIndex / (Columns() + 1));
}

QString TScreenAccessible::attributes(int offset, int* startOffset, int* endOffset) const {
  *startOffset = *endOffset = offset;
  return QString();
}

namespace {
QAccessibleInterface* ScreenFactory(const QString& className, QObject* object) {
  if (className == QLatin1String("TScreenView") && object && object->isWidgetType())
    return new TScreenAccessible(static_cast<TScreenView*>(object));
  return nullptr;
}
}  // namespace

void InstallScreenAccessibility() {
  static const bool installed = [] {
    QAccessible::installFactory(ScreenFactory);
    return true;
  }();
  (void)installed;
}
