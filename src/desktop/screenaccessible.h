// The screen view as screen readers see it: a terminal whose text is the
// visible rows, each Cols characters and a line feed, so an offset is
// row * (Cols + 1) + column.
#pragma once

#include <QAccessibleWidget>

class TScreenView;

class TScreenAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
 public:
  explicit TScreenAccessible(TScreenView* view);

  void* interface_cast(QAccessible::InterfaceType type) override;
  QString text(QAccessible::Text kind) const override;

  void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
  int selectionCount() const override;
  void addSelection(int, int) override {}
  void removeSelection(int) override {}
  void setSelection(int, int, int) override {}
  int cursorPosition() const override;
  void setCursorPosition(int) override {}
  QString text(int startOffset, int endOffset) const override;
  int characterCount() const override;
  QRect characterRect(int offset) const override;
  int offsetAtPoint(const QPoint& point) const override;
  void scrollToSubstring(int startIndex, int) override;
  QString attributes(int offset, int* startOffset, int* endOffset) const override;

 private:
  TScreenView* View() const;
  int Columns() const;
  // Offset of a store line and column (1..) within the visible rows, clamped.
  int OffsetOf(int line, int column) const;
  QString AllText() const;
};

// Registers the factory once; every TScreenView gets a TScreenAccessible.
void InstallScreenAccessibility();
