#include "desktop/screenview.h"

#include <QAccessible>
#include <QClipboard>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "core/cp437.h"
#include "desktop/colors.h"
#include "desktop/screenaccessible.h"
#include "screen/store.h"

namespace {
constexpr int kFrameMs = 16;        // at most one flush (and paint) per frame
constexpr int kCaretBlinkMs = 500;
constexpr int kDragTickMs = 10;
constexpr int kMaxScrollBarRange = 32000;
constexpr int kWheelLines = 3;

// Code page 437 as UTF-16, built once: every glyph of the screen font is in the BMP.
const char16_t* Glyphs() {
  static const auto table = [] {
    std::array<char16_t, 256> t{};
    for (int b = 0; b < 256; ++b) t[b] = static_cast<char16_t>(Cp437CodePoint(static_cast<std::uint8_t>(b)));
    t[0] = u' ';
    return t;
  }();
  return table.data();
}

bool ListUse(const TBrowse& store) { return (store.Options & (boMarkCursorLine | boListBox | boEditor)) != 0; }
}  // namespace

TScreenView::TScreenView(TBrowse& store, QWidget* parent)
    : QAbstractScrollArea(parent), Browse(store), Mouse(store) {
  InstallScreenAccessibility();
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_InputMethodEnabled, false);
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setLineWidth(1);
  // Every pixel is painted from the store: nothing to erase first.
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  viewport()->setAutoFillBackground(false);
  viewport()->setCursor(Qt::IBeamCursor);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

  FrameTimer.setSingleShot(true);
  connect(&FrameTimer, &QTimer::timeout, this, &TScreenView::FlushDamage);
  BlinkTimer.setInterval(kCaretBlinkMs);
  connect(&BlinkTimer, &QTimer::timeout, this, [this] {
    CaretOn = !CaretOn;
    if (CaretLine >= 0) viewport()->update(CellRect(CaretLine, CaretColumn));
  });
  DragTimer.setInterval(kDragTickMs);
  connect(&DragTimer, &QTimer::timeout, this, &TScreenView::DragTick);

  QScrollBar* vertical = verticalScrollBar();
  // Arrow steps move one line even when the bar's range is scaled down.
  connect(vertical, &QScrollBar::actionTriggered, this, [this, vertical](int action) {
    if (VerticalDivisor() == 1) return;
    int step = 0;
    if (action == QAbstractSlider::SliderSingleStepAdd) step = 1;
    if (action == QAbstractSlider::SliderSingleStepSub) step = -1;
    if (step == 0) return;
    SetTop(Top + step);
    vertical->setSliderPosition(Top / VerticalDivisor());
  });
  connect(vertical, &QScrollBar::valueChanged, this, [this, vertical](int value) {
    if (Syncing || value == Top / VerticalDivisor()) return;
    SetTop(value >= vertical->maximum() ? MaxTop() : value * VerticalDivisor());
  });
  connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
    if (!Syncing) ScrollTo(value, Top);
  });

  MeasureFont();
  SinceFlush.start();
  Browse.OnDamage = [this] { NoteDamage(); };
  if (!Browse.PendingDamage().Empty()) NoteDamage();
  UpdateScrollBars();
  FollowCursor();
}

TScreenView::~TScreenView() { Browse.OnDamage = nullptr; }

// ---------------------------------------------------------------------------
// Geometry

int TScreenView::VisibleRows() const { return std::max(1, viewport()->height() / CellHeight); }

int TScreenView::VisibleColumns() const {
  return std::clamp(viewport()->width() / CellWidth, 1, kLineCells);
}

QRect TScreenView::RowRect(int row) const {
  return QRect(0, row * CellHeight, viewport()->width(), CellHeight);
}

QRect TScreenView::CellRect(int line, int column) const {
  return QRect((column - 1 - Left) * CellWidth, (line - Top) * CellHeight, CellWidth, CellHeight);
}

QRect TScreenView::CharacterRect(int line, int column) const {
  const TCellSpan span = CellsOfColumn(SizeOf(line), column);
  const QRect first = CellRect(line, span.First);
  return QRect(first.topLeft(), QSize(span.Count * CellWidth, CellHeight));
}

int TScreenView::ColumnAtCell(int line, int cell) const { return ColumnOfCell(SizeOf(line), cell); }

int TScreenView::CursorLine() const {
  if (ListUse(Browse)) return Top + Browse.CursorYPosition() - 1;
  return std::max(0, Browse.Count() - Browse.Rows + Browse.CursorYPosition() - 1);
}

QSize TScreenView::SizeForColumns(int columns) const {
  const int frame = 2 * frameWidth();
  return QSize(columns * CellWidth + frame, Browse.Rows * CellHeight + frame);
}

QSize TScreenView::sizeHint() const { return SizeForColumns(Browse.Cols); }

TScreenView::TCell TScreenView::CellAt(const QPoint& point) const {
  TCell cell;
  const int row = std::clamp(point.y() < 0 ? 0 : point.y() / CellHeight, 0, VisibleRows() - 1);
  cell.Line = std::min(Top + row, Browse.Count() - 1);
  cell.Column = std::min(Left + (point.x() < 0 ? 0 : point.x() / CellWidth), kLineCells - 1);
  return cell;
}

void TScreenView::MeasureFont() {
  const std::string key = Browse.FontName + '/' + std::to_string(Browse.FontSize);
  if (key == FontKey) return;
  FontKey = key;
  BaseFont = QFont(QString::fromStdString(Browse.FontName));
  BaseFont.setPointSize(std::max(1, Browse.FontSize));
  BaseFont.setStyleHint(QFont::TypeWriter);
  BaseFont.setFixedPitch(true);
  BaseFont.setKerning(false);
  const QFontMetricsF metrics(BaseFont);
  CellWidth = std::max(1, static_cast<int>(std::ceil(metrics.horizontalAdvance(QLatin1Char('M')) - 0.01)));
  CellHeight = std::max(1, static_cast<int>(std::ceil(metrics.lineSpacing())));
  Ascent = static_cast<int>(std::round(metrics.ascent()));
  Fonts.clear();
  FontMade.clear();
  GlyphTables.clear();
}

void TScreenView::FontChanged() {
  MeasureFont();
  Fonts.clear();
  FontMade.clear();
  GlyphTables.clear();
  updateGeometry();
  UpdateScrollBars();
  viewport()->update();
}

// The font of an attribute, spaced so its advance is exactly one cell: a
// run drawn in one call then stays on the grid at any size and scale. A
// double-size attribute has the same font: its lines are drawn scaled.
const QFont& TScreenView::FontFor(int attribute) {
  if (attribute >= static_cast<int>(Fonts.size())) {
    Fonts.resize(static_cast<std::size_t>(attribute) + 1);
    FontMade.resize(static_cast<std::size_t>(attribute) + 1, false);
  }
  if (!FontMade[attribute]) {
    const TTextAttributes& record = Browse.GetAttributeRecord(attribute);
    QFont font = BaseFont;
    font.setBold(record.Style & fsBold);
    font.setItalic(record.Style & fsItalic);
    font.setUnderline(record.Style & fsUnderline);
    font.setStrikeOut(record.Style & fsStrikeOut);
    const qreal advance = QFontMetricsF(font).horizontalAdvance(QLatin1Char('M'));
    font.setLetterSpacing(QFont::AbsoluteSpacing, CellWidth - advance);
    Fonts[attribute] = font;
    FontMade[attribute] = true;
  }
  return Fonts[attribute];
}

// ---------------------------------------------------------------------------
// Painting

void TScreenView::paintEvent(QPaintEvent* event) {
  ++Paints;
  QPainter painter(viewport());
  const QRect clip = event->rect();
  const int firstRow = std::max(0, clip.top() / CellHeight);
  const int lastRow = clip.bottom() / CellHeight;
  for (int row = firstRow; row <= lastRow; ++row) PaintRow(painter, row, clip);
  const int textRight = (kLineCells - Left) * CellWidth;
  if (clip.right() >= textRight)
    painter.fillRect(QRect(textRight, clip.top(), clip.right() - textRight + 1, clip.height()),
                     ToQColor(Browse.BackColor));
  PaintCaret(painter);
}

void TScreenView::DrawRun(QPainter& painter, int attribute, const QFont& font, int x, int baseline,
                          const std::uint8_t* bytes, int count) {
  if (attribute >= static_cast<int>(GlyphTables.size())) GlyphTables.resize(static_cast<std::size_t>(attribute) + 1);
  std::unique_ptr<TGlyphs>& table = GlyphTables[static_cast<std::size_t>(attribute)];
  if (!table) {
    table = std::make_unique<TGlyphs>();
    table->Font = QRawFont::fromFont(font);
    const char16_t* glyphs = Glyphs();
    for (int b = 0; b < 256; ++b) {
      const QChar c(glyphs[b]);
      int made = 1;
      if (!table->Font.isValid() || !table->Font.glyphIndexesForChars(&c, 1, &table->Index[b], &made) || made != 1)
        table->Index[b] = 0;
    }
  }
  RunGlyphs.resize(static_cast<std::size_t>(count));
  RunPositions.resize(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const quint32 glyph = table->Index[bytes[i]];
    if (glyph == 0) {
      // A glyph another font must give: the text way finds it.
      const char16_t* glyphs = Glyphs();
      QString text(count, QChar(u' '));
      for (int k = 0; k < count; ++k) text[k] = QChar(glyphs[bytes[k]]);
      painter.setFont(font);
      painter.drawText(x, baseline, text);
      return;
    }
    RunGlyphs[static_cast<std::size_t>(i)] = glyph;
    RunPositions[static_cast<std::size_t>(i)] = QPointF(i * CellWidth, 0);
  }
  QGlyphRun run;
  run.setRawFont(table->Font);
  run.setRawData(RunGlyphs.data(), RunPositions.data(), count);
  run.setUnderline(font.underline());
  run.setStrikeOut(font.strikeOut());
  painter.drawGlyphRun(QPointF(x, baseline), run);
}

void TScreenView::PaintRow(QPainter& painter, int row, const QRect& clip) {
  const int line = Top + row;
  const int y = row * CellHeight;
  const int firstColumn = Left + std::max(0, clip.left() / CellWidth);
  const int lastColumn = std::min(kLineCells - 1, Left + clip.right() / CellWidth);
  if (firstColumn > lastColumn) return;
  if (line >= Browse.Count()) {
    painter.fillRect(QRect((firstColumn - Left) * CellWidth, y, (lastColumn - firstColumn + 1) * CellWidth, CellHeight),
                     ToQColor(Browse.BackColor));
    return;
  }
  if (const TRowSize size = SizeOf(line); size != rsNormal) {
    PaintSizedRow(painter, row, line, size, firstColumn, lastColumn);
    return;
  }
  std::uint16_t attributes[kLineCells];
  // The line's bytes, blank to the last column; NUL shows as a blank.
  std::uint8_t bytes[kLineCells];
  {
    std::string text;
    Browse.GetLine(line, text, attributes);
    const std::size_t length = std::min<std::size_t>(text.size(), kLineCells);
    std::memcpy(bytes, text.data(), length);
    std::memset(bytes + length, ' ', kLineCells - length);
    std::replace(bytes, bytes + length, std::uint8_t{0}, std::uint8_t{' '});
  }
  std::uint8_t marks[kLineCells];
  const bool marked = LineMarkColours(Browse, line, marks);
  for (int start = firstColumn; start <= lastColumn;) {
    const std::uint16_t attribute = attributes[start];
    const std::uint8_t mark = marked ? marks[start] : 0;
    int end = start + 1;
    while (end <= lastColumn && attributes[end] == attribute && (!marked || marks[end] == mark)) ++end;

    const TTextAttributes& record = Browse.GetAttributeRecord(attribute);
    const TMarkAttributes* markColours = mark ? Browse.Marks.Get(mark) : nullptr;
    const QRect cells((start - Left) * CellWidth, y, (end - start) * CellWidth, CellHeight);
    painter.fillRect(cells, ToQColor(markColours ? markColours->Background : record.Background));

    int shown = end - start;
    // Trailing blanks draw nothing unless a line runs through them.
    if (!(record.Style & (fsUnderline | fsStrikeOut)))
      while (shown > 0 && bytes[start + shown - 1] == ' ') --shown;
    if (shown > 0) {
      const QFont& font = FontFor(attribute);
      painter.setPen(ToQColor(markColours ? markColours->Foreground : record.Foreground));
      DrawRun(painter, attribute, font, cells.left(), y + Ascent, bytes + start, shown);
    }
    start = end;
  }
}

// A double-width line, or a half of a double-height one, as a VT100 draws
// it: each character twice as wide (and twice as high, the row showing its
// half) over the cells it covers. The bottom half shows the characters of
// the line above it. Marks colour the cells the mouse marked.
void TScreenView::PaintSizedRow(QPainter& painter, int row, int line, TRowSize size, int firstCell, int lastCell) {
  const int y = row * CellHeight;
  const int source = size == rsDoubleBottom ? line - 1 : line;
  std::string text;
  std::uint16_t attributes[kLineCells] = {};
  if (source < 0 || !Browse.GetLine(source, text, attributes)) text.clear();
  std::uint8_t marks[kLineCells];
  const bool marked = LineMarkColours(Browse, line, marks);
  auto columnLook = [&](int column) -> const TTextAttributes& {
    return Browse.GetAttributeRecord(attributes[std::clamp(column, 0, kLineCells - 1)]);
  };
  for (int cell = firstCell; cell <= lastCell; ++cell) {
    const int column = ColumnOfCell(size, cell + 1) - 1;
    const TMarkAttributes* mark = marked && marks[cell] ? Browse.Marks.Get(marks[cell]) : nullptr;
    painter.fillRect(QRect((cell - Left) * CellWidth, y, CellWidth, CellHeight),
                     ToQColor(mark ? mark->Background : columnLook(column).Background));
  }
  const char16_t* glyphs = Glyphs();
  painter.save();
  painter.setClipRect(QRect(0, y, viewport()->width(), CellHeight), Qt::IntersectClip);
  const int length = std::min<int>(static_cast<int>(text.size()), kLineCells);
  for (int column = 0; column < length; ++column) {
    const auto byte = static_cast<std::uint8_t>(text[static_cast<std::size_t>(column)]);
    if (byte == ' ' || byte == 0) continue;
    const TCellSpan span = CellsOfColumn(size, column + 1);
    const int first = span.First - 1;
    if (first > lastCell || first + span.Count - 1 < firstCell) continue;
    const TMarkAttributes* mark = marked && marks[first] ? Browse.Marks.Get(marks[first]) : nullptr;
    painter.setFont(FontFor(attributes[column]));
    painter.setPen(ToQColor(mark ? mark->Foreground : columnLook(column).Foreground));
    painter.save();
    painter.translate((first - Left) * CellWidth, size == rsDoubleBottom ? y - CellHeight : y);
    painter.scale(2, size == rsDoubleWidth ? 1 : 2);
    painter.drawText(0, Ascent, QString(QChar(glyphs[byte])));
    painter.restore();
  }
  painter.restore();
}

void TScreenView::PaintCaret(QPainter& painter) {
  if (!CaretOn || CaretLine < 0 || !hasFocus() || (Browse.Options & boSuppressCursor)) return;
  const QRect cell = CellRect(CaretLine, CaretColumn);
  const int height = std::max(2, CellHeight / 7);
  painter.fillRect(QRect(cell.left(), cell.bottom() - height + 1, cell.width(), height),
                   ToQColor(Browse.ForeColor));
}

// ---------------------------------------------------------------------------
// Damage

void TScreenView::NoteDamage() {
  if (FlushQueued || FrameTimer.isActive()) return;
  const qint64 since = SinceFlush.elapsed();
  if (since >= kFrameMs) {
    FlushQueued = true;
    QMetaObject::invokeMethod(this, &TScreenView::FlushDamage, Qt::QueuedConnection);
  } else {
    FrameTimer.start(static_cast<int>(kFrameMs - since));
  }
}

void TScreenView::FlushDamage() {
  FlushQueued = false;
  FrameTimer.stop();
  SinceFlush.restart();
  const TScreenDamage damage = Browse.TakeDamage();
  if (damage.Empty()) return;
  const int oldLine = CaretLine, oldColumn = CaretColumn;
  if (damage.All) {
    MeasureFont();
    Fonts.clear();
    FontMade.clear();
  }
  if (damage.ShowTop) ScrollTo(0, 0);
  // Lines added scroll the view with them, one scroll for the whole burst,
  // so a view at the bottom stays there; a held screen stays where the user
  // is reading.
  if (damage.LinesAdded > 0 && !Held) {
    UpdateScrollBars();
    SetTop(std::min(Top + damage.LinesAdded, MaxTop()));
  }
  if (damage.FollowCursor && !Held) FollowCursor();
  UpdateScrollBars();
  if (Top > MaxTop()) SetTop(MaxTop());
  if (damage.All) {
    viewport()->update();
  } else if (damage.LastLine >= 0) {
    const int first = std::max(damage.FirstLine, Top);
    // A double-height bottom half shows the line above it.
    const int below = SizeOf(damage.LastLine + 1) == rsDoubleBottom ? 1 : 0;
    const int last = std::min(damage.LastLine + below, Top + VisibleRows());
    if (first <= last)
      viewport()->update(QRect(0, (first - Top) * CellHeight, viewport()->width(), (last - first + 1) * CellHeight));
  }
  UpdateCaret();
  NotifyAccessibility(CaretLine != oldLine || CaretColumn != oldColumn);
}

void TScreenView::NotifyAccessibility(bool cursorMoved) {
  if (!QAccessible::isActive()) return;
  QAccessibleTextUpdateEvent update(this, 0, QString(), QString());
  QAccessible::updateAccessibility(&update);
  if (cursorMoved) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(this);
    QAccessibleTextInterface* text = accessible ? accessible->textInterface() : nullptr;
    QAccessibleTextCursorEvent cursor(this, text ? text->cursorPosition() : 0);
    QAccessible::updateAccessibility(&cursor);
  }
}

// ---------------------------------------------------------------------------
// Scrolling

int TScreenView::VerticalDivisor() const {
  int divisor = 1;
  while (Browse.Count() / divisor > kMaxScrollBarRange) divisor *= 16;
  return divisor;
}

int TScreenView::MaxTop() const { return std::max(0, Browse.Count() - VisibleRows()); }

int TScreenView::MaxLeft() const { return std::max(0, kLineCells - VisibleColumns()); }

void TScreenView::UpdateScrollBars() {
  Browse.VisibleRows = VisibleRows();
  Syncing = true;
  const int divisor = VerticalDivisor();
  QScrollBar* vertical = verticalScrollBar();
  vertical->setRange(0, MaxTop() / divisor);
  vertical->setPageStep(std::max(1, VisibleRows() / divisor));
  vertical->setSingleStep(1);
  vertical->setValue(Top / divisor);
  QScrollBar* horizontal = horizontalScrollBar();
  horizontal->setRange(0, MaxLeft());
  horizontal->setPageStep(VisibleColumns());
  horizontal->setValue(Left);
  if (Held) setHorizontalScrollBarPolicy(MaxLeft() > 0 ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  Syncing = false;
}

void TScreenView::SetTop(int top) { ScrollTo(Left, top); }

// Less than a page away the window's pixels move and only the uncovered strip is painted.
void TScreenView::ScrollTo(int leftColumn, int topLine) {
  leftColumn = std::clamp(leftColumn, 0, MaxLeft());
  topLine = std::clamp(topLine, 0, MaxTop());
  if (leftColumn == Left && topLine == Top) return;
  const int dx = Left - leftColumn, dy = Top - topLine;
  Left = leftColumn;
  Top = topLine;
  if (std::abs(dx) < VisibleColumns() && std::abs(dy) < VisibleRows())
    viewport()->scroll(dx * CellWidth, dy * CellHeight);
  else
    viewport()->update();
  UpdateScrollBars();
  UpdateCaret();
}

void TScreenView::scrollContentsBy(int, int) {}  // Top and Left are moved by ScrollTo

void TScreenView::FollowCursor() {
  const int line = CursorLine();
  const int rows = VisibleRows();
  int top = Top;
  if (line < Top || line >= Top + rows) {
    // A terminal shows its whole screen when it can, the bottom row last.
    top = ListUse(Browse) ? (line < Top ? line : line - rows + 1) : Browse.Count() - rows;
    if (line < top) top = line;
    if (line >= top + rows) top = line - rows + 1;
  }
  const int column = Browse.CursorXPosition() - 1;
  int left = Left;
  if (column < Left) left = column;
  if (column >= Left + VisibleColumns()) left = column - VisibleColumns() + 1;
  ScrollTo(left, top);
}

void TScreenView::ShowLine(int storeLine) {
  storeLine = std::clamp(storeLine, 0, std::max(0, Browse.Count() - 1));
  if (storeLine >= Top && storeLine < Top + VisibleRows()) return;
  SetTop(storeLine - VisibleRows() / 2);
}

void TScreenView::SetHold(bool hold) {
  Held = hold;
  setVerticalScrollBarPolicy(hold ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  if (!hold) setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  UpdateScrollBars();
  if (!hold) FollowCursor();
}

void TScreenView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
  if (Top > MaxTop()) SetTop(MaxTop());
  if (!Held && (Browse.Options & boAutoTracking)) FollowCursor();
}

void TScreenView::wheelEvent(QWheelEvent* event) {
  const int notches = event->angleDelta().y() / 120;
  if (notches != 0) SetTop(Top - notches * kWheelLines);
  event->accept();
}

// ---------------------------------------------------------------------------
// Caret and cursor line

void TScreenView::UpdateCaret() {
  const int line = CursorLine();
  const int column = Browse.CursorXPosition();
  if (Browse.Options & boMarkCursorLine) {
    if (!Browse.HasMark(line, kCursorLineMark)) {
      RepaintLines(ClearMark(Browse, kCursorLineMark));
      RepaintLines(MarkLine(Browse, line, kCursorLineMark));
    }
  } else if (Browse.Marks.Get(kCursorLineMark)->Placed()) {
    RepaintLines(ClearMark(Browse, kCursorLineMark));
  }
  if (line == CaretLine && column == CaretColumn) return;
  // Only a caret that is drawn costs a repaint when it moves.
  const bool drawn = hasFocus() && !(Browse.Options & boSuppressCursor);
  if (drawn && CaretLine >= 0) viewport()->update(CellRect(CaretLine, CaretColumn));
  CaretLine = line;
  CaretColumn = column;
  CaretOn = true;
  if (drawn) viewport()->update(CellRect(CaretLine, CaretColumn));
}

void TScreenView::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  CaretOn = true;
  BlinkTimer.start();
  if (CaretLine >= 0) viewport()->update(CellRect(CaretLine, CaretColumn));
}

void TScreenView::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  BlinkTimer.stop();
  CaretOn = false;
  if (CaretLine >= 0) viewport()->update(CellRect(CaretLine, CaretColumn));
}

// ---------------------------------------------------------------------------
// Keys

bool TScreenView::Navigate(QKeyEvent* event) {
  const int key = event->key();
  if (!(Browse.Options & boListBox)) {
    switch (key) {
      case Qt::Key_PageUp: SetTop(Top - VisibleRows()); return true;
      case Qt::Key_PageDown: SetTop(Top + VisibleRows()); return true;
      case Qt::Key_Home: SetTop(0); return true;
      case Qt::Key_End: SetTop(MaxTop()); return true;
      default: return false;
    }
  }
  int line = CursorLine();
  int column = Browse.CursorXPosition();
  switch (key) {
    case Qt::Key_PageUp: line -= VisibleRows(); break;
    case Qt::Key_PageDown: line += VisibleRows(); break;
    case Qt::Key_Up: --line; break;
    case Qt::Key_Down: ++line; break;
    case Qt::Key_Home: line = 0; break;
    case Qt::Key_End: line = Browse.Count() - 1; break;
    case Qt::Key_Left: --column; break;
    case Qt::Key_Right: ++column; break;
    default: return false;
  }
  line = std::clamp(line, 0, std::max(0, Browse.Count() - 1));
  ShowLine(line);
  if (line < Top) SetTop(line);
  if (line >= Top + VisibleRows()) SetTop(line - VisibleRows() + 1);
  Browse.SetCursor(column, line - Top + 1);
  Browse.TakeDamage();  // the view has already followed the move
  UpdateCaret();
  if (event->modifiers() & Qt::ShiftModifier) {
    Marked(ExtendMarkToLine(Browse, line, kSelectionMark));
    emit SelectionChanged();
  }
  return true;
}

void TScreenView::keyPressEvent(QKeyEvent* event) {
  const bool navigated = Navigate(event);
  const bool used = OnKey && OnKey(event);
  event->setAccepted(navigated || used);
}

void TScreenView::keyReleaseEvent(QKeyEvent* event) {
  event->setAccepted(OnKey && OnKey(event));
}

// ---------------------------------------------------------------------------
// Mouse marking

void TScreenView::Marked(const TLineSpan& lines) { RepaintLines(lines); }

void TScreenView::RepaintLines(const TLineSpan& lines) {
  if (lines.Empty()) return;
  const int first = std::max(lines.First, Top);
  const int last = std::min(lines.Last, Top + VisibleRows());
  if (first > last) return;
  viewport()->update(QRect(0, (first - Top) * CellHeight, viewport()->width(), (last - first + 1) * CellHeight));
}

void TScreenView::mousePressEvent(QMouseEvent* event) {
  switch (event->button()) {
    case Qt::LeftButton: {
      const TCell cell = CellAt(event->position().toPoint());
      if (cell.Line < 0) return;
      const bool shift = event->modifiers() & Qt::ShiftModifier;
      if (!shift && ListUse(Browse)) {
        Browse.SetCursor(cell.Column + 1, cell.Line - Top + 1);
        Browse.TakeDamage();
        UpdateCaret();
      }
      Marked(Mouse.Press(cell.Line, cell.Column, shift));
      emit SelectionChanged();
      return;
    }
    case Qt::MiddleButton: emit MiddleClicked(); return;
    case Qt::RightButton: emit RightClicked(event->globalPosition().toPoint()); return;
    default: return;
  }
}

void TScreenView::mouseMoveEvent(QMouseEvent* event) {
  if (!Mouse.ButtonDown()) return;
  const QPoint point = event->position().toPoint();
  if (viewport()->rect().contains(point)) {
    DragTimer.stop();
    const TCell cell = CellAt(point);
    const TLineSpan changed = Mouse.Move(cell.Line, cell.Column);
    Marked(changed);
    if (!changed.Empty()) emit SelectionChanged();
    return;
  }
  DragPoint = point;
  if (!DragTimer.isActive()) {
    DragTicks = 0;
    DragTimer.start();
  }
}

// Outside the window the view scrolls towards the pointer, faster every 5 ticks.
void TScreenView::DragTick() {
  const int step = 1 << std::min(DragTicks / 5, 12);
  ++DragTicks;
  int top = Top, left = Left;
  if (DragPoint.y() < 0) top -= step;
  if (DragPoint.y() >= viewport()->height()) top += step;
  if (DragPoint.x() < 0) left -= 1;
  if (DragPoint.x() >= viewport()->width()) left += 1;
  ScrollTo(left, top);
  const TCell cell = CellAt(DragPoint);
  Marked(Mouse.Move(cell.Line, cell.Column));
}

void TScreenView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  DragTimer.stop();
  Mouse.Release();
  emit SelectionChanged();
}

void TScreenView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    if (event->button() == Qt::MiddleButton) emit MiddleClicked();
    return;
  }
  const TCell cell = CellAt(event->position().toPoint());
  if (cell.Line < 0) return;
  Marked(Mouse.DoubleClick(cell.Line, cell.Column, event->modifiers() & Qt::ShiftModifier));
  emit SelectionChanged();
  emit DoubleClicked(cell.Line, cell.Column + 1);
}

// ---------------------------------------------------------------------------
// Selection commands

void TScreenView::SelectAll() {
  Marked(MarkAll(Browse, kSelectionMark));
  emit SelectionChanged();
}

void TScreenView::Unmark() {
  Marked(ClearMark(Browse, kSelectionMark));
  emit SelectionChanged();
}

std::string TScreenView::SelectionText() const { return ::SelectionText(Browse, nullptr); }

void TScreenView::CopySelection() {
  if (!HasSelection(Browse)) return;
  if (Browse.Desktop) {
    ::CopySelection(Browse, *Browse.Desktop);
    return;
  }
  const std::string text = SelectionText();
  QGuiApplication::clipboard()->setText(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())));
}
