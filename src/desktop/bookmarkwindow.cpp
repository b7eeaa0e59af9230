#include "desktop/bookmarkwindow.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QTableWidget>
#include <QVBoxLayout>

#include "desktop/bytetext.h"
#include "screen/bookmarks.h"

namespace {
// Grid rows count from 1 below the title row; the table's rows from 0.
int GridRow(int tableRow) { return tableRow + 1; }

}  // namespace

TBookMarkForm::TBookMarkForm(TBookmarks& bookmarks, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint), Bookmarks(bookmarks) {
  setWindowTitle(QStringLiteral("Bookmark Selection"));
  StringGrid = new QTableWidget(0, 3, this);
  StringGrid->setObjectName(QStringLiteral("StringGrid"));
  StringGrid->setHorizontalHeaderLabels(
      {QStringLiteral("Line #"), QStringLiteral("Mark Name"), QStringLiteral("Line Content")});
  StringGrid->verticalHeader()->hide();
  StringGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  StringGrid->verticalHeader()->setMinimumSectionSize(kRowHeight);
  StringGrid->verticalHeader()->setDefaultSectionSize(kRowHeight);
  StringGrid->horizontalHeader()->setHighlightSections(false);
  StringGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  StringGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
  StringGrid->setSelectionMode(QAbstractItemView::SingleSelection);
  StringGrid->setWordWrap(false);
  QFont font(QStringLiteral("Courier New"), 8);
  font.setStyleHint(QFont::TypeWriter);
  StringGrid->setFont(font);
  int width = 0;
  for (int column = 0; column < 3; ++column) {
    StringGrid->setColumnWidth(column, kColumnWidths[column]);
    width += kColumnWidths[column];
  }
  StringGrid->horizontalHeader()->setStretchLastSection(true);
  StringGrid->installEventFilter(this);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(StringGrid);
  resize(width + 2 * StringGrid->frameWidth() + 20, 12 * kRowHeight + 40);

  connect(StringGrid, &QTableWidget::cellDoubleClicked, this, [this](int row, int column) {
    if (column == 0) Bookmarks.Jump(GridRow(row));
  });
  Bookmarks.OnChanged = [this] { Refresh(); };
  Refresh();
}

TBookMarkForm::~TBookMarkForm() { Bookmarks.OnChanged = nullptr; }

void TBookMarkForm::SetRow(int tableRow, int gridRow) {
  const TBookmarkRow row = Bookmarks.Row(gridRow);
  const std::string* cells[3] = {&row.LineNumber, &row.Name, &row.Content};
  for (int column = 0; column < 3; ++column) {
    QTableWidgetItem* item = StringGrid->item(tableRow, column);
    if (!item) {
      item = new QTableWidgetItem;
      StringGrid->setItem(tableRow, column, item);
    }
    item->setText(FromBytes(*cells[column]));
  }
}

void TBookMarkForm::Refresh() {
  const int rows = Bookmarks.RowCount();
  StringGrid->setRowCount(rows);
  for (int row = 0; row < rows; ++row) SetRow(row, GridRow(row));
}

void TBookMarkForm::UpdateSelectionRow() {
  if (StringGrid->rowCount() < 1) StringGrid->setRowCount(1);
  SetRow(0, TBookmarks::kSelectionRow);
}

void TBookMarkForm::DeleteSelectedRow() {
  const int row = GridRow(StringGrid->currentRow());
  if (StringGrid->currentRow() < 0 || !Bookmarks.CanDelete(row)) return;
  Bookmarks.DeleteBookmark(row);
}

bool TBookMarkForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == StringGrid && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
    DeleteSelectedRow();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}
