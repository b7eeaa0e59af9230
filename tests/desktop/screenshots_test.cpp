// The window as a user sees it, grabbed offscreen for the docs: the demo
// session in 80 and 132 columns, a selection, the scroll-back held with a
// bookmark, the find dialog after a hit, every page of the configuration
// dialog and the soft-key bars. Each picture
// is checked for what it must show before it is saved.
#include <QAction>
#include <QFile>
#include <QCheckBox>
#include <QLineEdit>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>
#include <memory>

#include "app/session.h"
#include "desktop/bookmarkwindow.h"
#include "desktop/configdialog.h"
#include "desktop/finddialog.h"
#include "desktop/mainwindow.h"
#include "desktop/pageprinter.h"
#include "desktop/printdialog.h"
#include "desktop/screenview.h"
#include "guitesting.h"
#include "screen/selection.h"
#include "screen/store.h"
#include "support/testing.h"

namespace {
std::string FileBytes(const QString& name) {
  QFile file(name);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll().toStdString();
}

// The started window, with its pictures saved as artifacts.
struct TShownWindow : TStartedWindow {
  void Save(QWidget* widget, const char* name) { QVERIFY(widget->grab().save(ArtifactPath(name))); }
};
}  // namespace

class TScreenshotsTest : public QObject {
  Q_OBJECT
 private slots:
  void DemoSessionIn80Columns() {
    TShownWindow t;
    const std::string demo = FileBytes(QEL_TEST_DATA "/../samples/demo.vt");
    QVERIFY(!demo.empty());
    t.Receive(demo);
    t.Save(t.W.get(), "window-80.png");
  }

  void DemoSessionIn132ColumnsWithASelection() {
    TShownWindow t;
    t.S().Settings.ScreenSize = 1;
    t.W->Actions().ResetTerminal->trigger();
    std::string lines;
    for (int i = 1; i <= 30; ++i) {
      char line[160];
      std::snprintf(line, sizeof line,
                    "%05d  TRUNK %03d/%02d  CIC %05d  STATE %-8s CALLS %6d  ERL %2d.%02d  ROUTE VIENNA-%02d  "
                    "LAST CHANGE 06.12.2026 09:%02d\r\n",
                    i, i * 7 % 512, i % 31, i * 37, i % 5 ? "IDLE" : "BLOCKED", i * 113, i % 30, i * 7 % 100, i % 12,
                    i % 60);
      lines += line;
    }
    t.Receive(lines);
    TScreenView& view = *t.W->ScreenView();
    QCOMPARE(view.width(), view.SizeForColumns(132).width());
    QCOMPARE(view.VisibleColumns(), 132);
    QCOMPARE(view.LeftColumn(), 0);
    const int line = t.S().Screen->ScreenLine(20);
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, view.CellRect(line, 8).center());
    QTest::mouseMove(view.viewport(), view.CellRect(line + 2, 40).center());
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, view.CellRect(line + 2, 40).center());
    t.Settle();
    const std::string text = view.SelectionText();
    QVERIFY2(text.find("TRUNK") != std::string::npos, text.c_str());
    QCOMPARE(std::count(text.begin(), text.end(), '\n'), 3L);
    t.Save(t.W.get(), "window-132-selection.png");
  }

  void HeldScrollBackWithABookmark() {
    TShownWindow t;
    std::string lines;
    for (int i = 1; i <= 400; ++i) lines += "00" + std::to_string(1000 + i) + "  subscriber line " + std::to_string(i) + "\r\n";
    t.Receive(lines);
    t.W->Actions().ScrollBuffer->trigger();
    TScreenView& view = *t.W->ScreenView();
    QVERIFY(view.verticalScrollBar()->isVisible());
    view.ScrollTo(0, 150);
    const int line = 160;
    QTest::mousePress(view.viewport(), Qt::LeftButton, {}, view.CellRect(line, 1).center());
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, view.CellRect(line + 1, 30).center());
    QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::ShiftModifier, view.CellRect(line + 1, 30).center());
    QVERIFY(t.W->AddBookmarkNamed("line check"));
    t.W->Actions().BookmarkOpt->trigger();
    auto* bookmarks = t.W->findChild<TBookMarkForm*>();
    QVERIFY(bookmarks && bookmarks->isVisible());
    auto* grid = bookmarks->findChild<QTableWidget*>();
    QVERIFY(grid);
    bool listed = false;
    for (int row = 0; row < grid->rowCount(); ++row) {
      listed |= grid->item(row, 1) && grid->item(row, 1)->text() == "line check";
    }
    QVERIFY(listed);
    t.Save(t.W.get(), "window-held-bookmark.png");
    t.Save(bookmarks, "bookmark-window.png");
  }

  void FindDialogAfterAHit() {
    TShownWindow t;
    std::string lines;
    for (int i = 1; i <= 200; ++i) lines += "alarm log entry " + std::to_string(i) + (i == 120 ? " TRUNK 044 BLOCKED" : "") + "\r\n";
    t.Receive(lines);
    t.W->Actions().Find->trigger();
    auto* find = t.W->findChild<TQelFindDlg*>();
    QVERIFY(find && find->isVisible());
    QCOMPARE(find->windowTitle(), QString("Find Dialog"));
    find->FindEdt->setText("TRUNK 044");
    QTest::mouseClick(find->FindBtn, Qt::LeftButton);
    QVERIFY(WaitFor([&] { return find->windowTitle() == "Find Dialog - Found"; }));
    t.Settle();
    const TScreenView& view = *t.W->ScreenView();
    const TBrowse& store = *t.S().Screen;
    bool shown = false;
    for (int line = view.TopLine(); line < view.TopLine() + view.VisibleRows(); ++line) {
      shown |= store.GetLineText(line).find("TRUNK 044") != std::string::npos;
    }
    QVERIFY(shown);
    t.Save(t.W.get(), "window-find.png");
    t.Save(find, "find-dialog.png");
  }

  void ConfigurationDialogPages() {
    TTestSession session;
    TConfigDialog dialog(session.S->Settings, session.Desktop);
    dialog.show();
    QTabWidget* pages = dialog.Pages();
    QVERIFY(pages->count() >= 5);
    for (int i = 0; i < pages->count(); ++i) {
      pages->setCurrentIndex(i);
      QTest::qWait(20);
      const QString name = pages->tabText(i).remove('&').trimmed().toLower().replace(' ', '-');
      QVERIFY(dialog.grab().save(ArtifactPath("config-" + name + ".png")));
    }
  }

  void PrintDialogAndPrintPreview() {
    TShownWindow t;
    std::string listing = "\x1b[1mTRUNK STATUS LISTING            EXCHANGE VIENNA-04\x1b[0m\r\n\r\n";
    for (int i = 1; i <= 120; ++i) {
      char line[128];
      std::snprintf(line, sizeof line, "%05d  TRUNK %03d/%02d  STATE %s  CALLS %6d\r\n", i, i * 7 % 512, i % 31,
                    i % 5 ? "IDLE    " : "\x1b[1;37;41mBLOCKED\x1b[0m ", i * 113);
      listing += line;
    }
    t.Receive(listing);
    TQelPrintDialog dialog(t.W->Printer(), {false, true}, "/home/engineer/trace.log", t.W.get());
    dialog.show();
    QTest::qWait(50);
    // The options part, with the page of the print-to-file choice, is shown.
    for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
      if (button->text().contains("Options")) button->click();
    }
    for (QTabWidget* tabs : dialog.findChildren<QTabWidget*>()) {
      for (int i = 0; i < tabs->count(); ++i)
        if (tabs->tabText(i).remove('&') == "Print to File") tabs->setCurrentIndex(i);
    }
    QTest::qWait(50);
    QVERIFY(dialog.ToFileBox()->isVisible());
    QVERIFY(dialog.ToFileBox()->isChecked());
    t.Save(&dialog, "print-dialog.png");
    dialog.reject();

    // The listing marked and its first page previewed, at the width of the window.
    TBrowse& store = *t.S().Screen;
    int first = 0;
    while (first < store.Count() && store.GetLineText(first).rfind("TRUNK STATUS", 0) != 0) ++first;
    PlaceMark(store, kSelectionMark, first, store.Count() - 1, 1, 132);
    TQelPrintPreview* preview = t.W->PrintPreviewWindow();
    QCOMPARE(preview->windowTitle(), QString("Qel Print Preview"));
    QCOMPARE(t.W->PrintPreviewWindow(), preview);  // made once
    preview->SetMarkedOnly(true);
    preview->resize(900, 760);
    preview->show();
    QVERIFY(WaitFor([&] { return preview->PagesShown() >= 2; }));
    if (auto* pages = preview->findChild<QPrintPreviewWidget*>()) pages->fitToWidth();
    QTest::qWait(100);
    t.Save(preview, "print-preview.png");
    preview->close();
  }

  // The status bar's two modes are the bars' test's pictures.
  void SoftKeyBars() {
    TShownWindow t;
    TSetupRecord& settings = t.S().Settings;
    settings.SoftKeys[0].assign("STATUS<CR>");
    settings.SoftKeys[1].assign("LIST 100<CR>");
    settings.SoftKeys[2].assign("TRACE<CR>");
    settings.ShiftSoftKeys[0].assign("ENQ<CR>");
    settings.CntrlSoftKeys[11].assign("BYE<CR>");
    settings.SoftKeyBarVisible = settings.ShiftSoftKeyBarVisible = settings.CntrlSoftKeyBarVisible = 1;
    t.W->SetScreenProperties();
    t.Receive("\x1b[1mQUORIX MAINTENANCE MONITOR\x1b[0m\r\n<");
    QWidget* normal = t.W->findChild<QWidget*>("QelSoftKey");
    QVERIFY(normal && normal->isVisible());
    t.Save(t.W.get(), "window-softkeys.png");
  }
};

QTEST_MAIN(TScreenshotsTest)
#include "screenshots_test.moc"
