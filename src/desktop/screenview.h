// TScreenView: the terminal screen and its scroll-back, painted from the
// store. The store's damage drives it: one flush per burst, at most one per
// frame, repainting only the rows that changed. It keeps no copy of the
// screen and no state per line, so any length of scroll-back scrolls alike.
#pragma once

#include <QAbstractScrollArea>
#include <QElapsedTimer>
#include <QFont>
#include <QRawFont>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "screen/rowsize.h"
#include "screen/selection.h"

class TBrowse;

class TScreenView : public QAbstractScrollArea {
  Q_OBJECT
 public:
  explicit TScreenView(TBrowse& store, QWidget* parent = nullptr);
  ~TScreenView() override;

  TBrowse& Store() const { return Browse; }

  // Every key press and release goes here first (set once by the main
  // window); true means it was used. Navigation keys also scroll the view.
  std::function<bool(QKeyEvent*)> OnKey;
  // The size a store line is drawn in (double width, the halves of double
  // height); unset, every line is normal.
  std::function<TRowSize(int line)> RowSize;

  // Paints done so far (benchmarks and tests).
  int PaintCount() const { return Paints; }
  // A visible row (0 = top of the window) in viewport coordinates.
  QRect RowRect(int row) const;
  // A store cell (column 1..132) in viewport coordinates.
  QRect CellRect(int line, int column) const;
  // Where the character of a store column shows on its line: two cells on
  // a double-size line.
  QRect CharacterRect(int line, int column) const;
  // The store column whose character shows on a cell (from 1) of a line.
  int ColumnAtCell(int line, int cell) const;
  int TopLine() const { return Top; }
  int LeftColumn() const { return Left; }  // first column shown, from 0
  int VisibleRows() const;
  int VisibleColumns() const;
  QSize CellSize() const { return QSize(CellWidth, CellHeight); }
  // Store line of the cursor (terminal use: one of the last Rows lines).
  int CursorLine() const;

  // Scroll bars are shown only while the screen is held for browsing.
  void SetHold(bool hold);
  bool Hold() const { return Held; }
  // Brings a store line into view (centred when it was out of view).
  void ShowLine(int storeLine);
  // Both limited to their ranges.
  void ScrollTo(int leftColumn, int topLine);
  // The store's font name or size changed: new cells, everything repainted.
  void FontChanged();
  // Viewport plus frame for a screen of columns x the store's Rows.
  QSize SizeForColumns(int columns) const;
  QSize sizeHint() const override;

  void SelectAll();
  void Unmark();
  // The selection's clipboard text, and putting it on the clipboard (through
  // the store's desktop when it has one, for the progress window).
  std::string SelectionText() const;
  void CopySelection();
  // Repaints the visible part of lines whose marks changed elsewhere (find,
  // bookmarks).
  void RepaintLines(const TLineSpan& lines);

 signals:
  void SelectionChanged();
  void DoubleClicked(int line, int column);
  void MiddleClicked();
  void RightClicked(const QPoint& globalPosition);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  bool focusNextPrevChild(bool) override { return false; }  // Tab goes to the host

 private:
  struct TCell {
    int Line = 0;
    int Column = 0;  // from 0
  };

  void NoteDamage();
  void FlushDamage();
  void MeasureFont();
  const QFont& FontFor(int attribute);
  TRowSize SizeOf(int line) const { return RowSize ? RowSize(line) : rsNormal; }
  // Draws count bytes of one attribute from x on the baseline: as a glyph
  // run placed on the cell grid, which needs no shaping, or, when the font
  // lacks one of their glyphs, as text (which finds it in another font).
  void DrawRun(QPainter& painter, int attribute, const QFont& font, int x, int baseline, const std::uint8_t* bytes,
               int count);
  void PaintRow(class QPainter& painter, int row, const QRect& clip);
  void PaintSizedRow(QPainter& painter, int row, int line, TRowSize size, int firstCell, int lastCell);
  void PaintCaret(QPainter& painter);
  void UpdateScrollBars();
  int VerticalDivisor() const;
  int MaxTop() const;
  int MaxLeft() const;
  void SetTop(int top);
  void FollowCursor();
  void UpdateCaret();
  bool Navigate(QKeyEvent* event);
  TCell CellAt(const QPoint& point) const;
  void Marked(const TLineSpan& lines);
  void DragTick();
  void NotifyAccessibility(bool cursorMoved);

  TBrowse& Browse;
  TMouseMarking Mouse;
  QFont BaseFont;
  std::vector<QFont> Fonts;  // per attribute number; dropped on a full repaint
  std::vector<bool> FontMade;
  // Per attribute, made with its font: the raw font, each byte's glyph (0:
  // the font has none, so the text way draws it), and the run being drawn.
  struct TGlyphs {
    QRawFont Font;
    std::array<quint32, 256> Index{};
  };
  std::vector<std::unique_ptr<TGlyphs>> GlyphTables;
  std::vector<quint32> RunGlyphs;
  std::vector<QPointF> RunPositions;
  std::string FontKey;
  int CellWidth = 8, CellHeight = 16, Ascent = 12;
  int Top = 0, Left = 0;
  bool Held = false;
  bool Syncing = false;  // scroll bars being set from Top/Left
  bool FlushQueued = false;
  QTimer FrameTimer;  // a burst's later damage waits for it
  QElapsedTimer SinceFlush;
  int Paints = 0;
  QTimer BlinkTimer;
  bool CaretOn = false;
  int CaretLine = -1, CaretColumn = 0;
  QTimer DragTimer;
  QPoint DragPoint;
  int DragTicks = 0;
};
