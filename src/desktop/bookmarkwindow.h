// TBookMarkForm: the bookmark window, a grid of the selection (row 1) and
// the bookmarks. A double click on a line number centres that line; the
// Delete key removes the selected bookmark. Shown while the Window menu's
// "&Bookmark" is checked; it lives as long as the main window.
#pragma once

#include <QWidget>

class QTableWidget;
class TBookmarks;

class TBookMarkForm : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kRowHeight = 15;
  static constexpr int kColumnWidths[3] = {74, 109, 505};

  // Takes the bookmarks' OnChanged hook to keep the grid current.
  explicit TBookMarkForm(TBookmarks& bookmarks, QWidget* parent = nullptr);
  ~TBookMarkForm() override;

  // Every row again, from the bookmarks.
  void Refresh();
  // Row 1 only: call when the selection changed (mouse button up, select all, unmark).
  void UpdateSelectionRow();

  QTableWidget* StringGrid;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void SetRow(int tableRow, int gridRow);
  void DeleteSelectedRow();

  TBookmarks& Bookmarks;
};
