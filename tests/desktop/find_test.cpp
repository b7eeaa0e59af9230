// The find dialog, the bookmark window and the bookmark name box, offscreen.
#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QtTest>

#include "desktop/bookmarkwindow.h"
#include "desktop/editbox.h"
#include "desktop/finddialog.h"
#include "guitesting.h"
#include "screen/bookmarks.h"
#include "screen/screenfind.h"
#include "screen/store.h"
#include "support/testing.h"

class TFindTest : public QObject {
  Q_OBJECT

 private:
  // A session's finder and its dialog; the requests the dialog posts stay
  // queued (a search from the window's own dialog is the screenshots' test,
  // what a search finds and marks the finder's).
  struct TFindSetup {
    TTestSession T;
    TScreenFind Finder{*T.S->Screen};
    TQelFindDlg Dialog{Finder, T.Desktop};
  };

  static QString CellText(QTableWidget* grid, int row, int column) {
    const QTableWidgetItem* item = grid->item(row, column);
    return item ? item->text() : QStringLiteral("<none>");
  }

 private slots:
  void FindDialogHasItsCaptionsAndControlsAndOpensOnTheLastTextAndOptions() {
    TFindSetup setup;
    TQelFindDlg& dialog = setup.Dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Find Dialog"));
    const QStringList captions{"Case sensitive", "Seach from start text", "Find", "Find Next", "Find Previous",
                               "Cancel"};
    QCOMPARE((QStringList{dialog.CaseSenseBtn->text(), dialog.StartSearchBtn->text(), dialog.FindBtn->text(),
                          dialog.FindNextBtn->text(), dialog.FindPreviousBtn->text(), dialog.CancelBtn->text()}),
             captions);
    QVERIFY(dialog.FindBtn->isDefault());
    QVERIFY(!dialog.FindNextBtn->isDefault());
    QVERIFY(!dialog.isModal());
    QVERIFY(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
    setup.Finder.SearchText = "earlier";
    setup.Finder.SearchCaseSensitive = true;
    setup.Finder.SearchFromCursor = true;
    setup.Dialog.ShowFindState(fsNotFound);
    QCOMPARE(setup.Dialog.windowTitle(), QStringLiteral("Find Dialog - Not Found"));
    setup.Dialog.Open();
    QVERIFY(QTest::qWaitForWindowExposed(&setup.Dialog));
    QCOMPARE(setup.Dialog.windowTitle(), QStringLiteral("Find Dialog"));  // the last search's state is gone
    QCOMPARE(setup.Dialog.FindEdt->text(), QStringLiteral("earlier"));
    QVERIFY(setup.Dialog.CaseSenseBtn->isChecked());
    QVERIFY(!setup.Dialog.StartSearchBtn->isChecked());
  }

  void AButtonStoresTheTrimmedTextAndPostsTheRequestAndCancelCloses() {
    TFindSetup setup;
    setup.Dialog.Open();
    setup.Dialog.FindEdt->setText(QStringLiteral("  two words  "));
    setup.Dialog.CaseSenseBtn->setChecked(true);
    setup.Dialog.StartSearchBtn->setChecked(false);
    QTest::mouseClick(setup.Dialog.FindPreviousBtn, Qt::LeftButton);
    QCOMPARE(setup.Dialog.windowTitle(), QStringLiteral("Find Dialog - Searching"));
    QCOMPARE(setup.Finder.SearchText, std::string("two words"));
    QVERIFY(setup.Finder.SearchCaseSensitive);
    QVERIFY(setup.Finder.SearchFromCursor);
    QTest::mouseClick(setup.Dialog.FindNextBtn, Qt::LeftButton);
    QTest::mouseClick(setup.Dialog.FindBtn, Qt::LeftButton);
    // Cancel clears the search flag, closes and asks for nothing.
    setup.Finder.Busy = true;
    QTest::mouseClick(setup.Dialog.CancelBtn, Qt::LeftButton);
    QVERIFY(!setup.Finder.Busy);
    QVERIFY(!setup.Dialog.isVisible());
    QList<std::pair<int, int>> requests;
    for (const TPostedMessage& m : setup.T.Desktop.Queue) requests << std::pair(m.Message, int(m.WParam));
    QCOMPARE(requests, (QList<std::pair<int, int>>{
                           {wmFindRequest, frFindPrevious}, {wmFindRequest, frFindNext}, {wmFindRequest, frFind}}));
  }

  void BookmarkWindowListsJumpsAndDeletes() {
    TBrowse screen;
    for (int i = 0; i < 40; ++i) screen.AddLine("line " + std::to_string(i) + " of the trace   ", 0, false);
    TBookmarks bookmarks(screen);
    std::vector<int> centred;
    bookmarks.CentreLine = [&](int line) { centred.push_back(line); };
    TBookMarkForm form(bookmarks);
    QTableWidget* grid = form.StringGrid;
    QCOMPARE(form.windowTitle(), QStringLiteral("Bookmark Selection"));
    QCOMPARE(grid->horizontalHeaderItem(0)->text(), QStringLiteral("Line #"));
    QCOMPARE(grid->horizontalHeaderItem(1)->text(), QStringLiteral("Mark Name"));
    QCOMPARE(grid->horizontalHeaderItem(2)->text(), QStringLiteral("Line Content"));
    QCOMPARE(grid->rowCount(), 1);
    QCOMPARE(CellText(grid, 0, 1), QStringLiteral("No Marked Lines"));

    // A selection shows in row 1 once the window is told.
    screen.SetMarkTop(12, 6, 2);
    screen.SetMarkBottom(13, 3, 2);
    form.UpdateSelectionRow();
    QCOMPARE(CellText(grid, 0, 0), QStringLiteral("12"));
    QCOMPARE(CellText(grid, 0, 2), QStringLiteral("12 of the trace"));

    QVERIFY(bookmarks.AddBookmark("alarm", colors::Yellow, colors::Green));
    screen.SetMarkTop(30, 1, 2);
    screen.SetMarkBottom(30, 7, 2);
    QVERIFY(bookmarks.AddBookmark("restart", colors::Yellow, colors::Green));
    QCOMPARE(grid->rowCount(), 3);
    QCOMPARE(CellText(grid, 1, 1), QStringLiteral("alarm"));
    QCOMPARE(CellText(grid, 2, 0), QStringLiteral("30"));

    QVERIFY(Exposed(form));
    form.grab().save(ArtifactPath(QStringLiteral("bookmark_window.png")));

    // A double click on a line number centres that line; elsewhere nothing.
    // (A view takes a double click only on the cell a press went to first.)
    const auto doubleClick = [grid](int row, int column) {
      const QPoint at = grid->visualItemRect(grid->item(row, column)).center();
      QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, at);
      QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, at);
    };
    doubleClick(2, 0);
    doubleClick(1, 2);
    QCOMPARE(centred, std::vector<int>{30});

    // Delete on the first bookmark's row deletes that one (what that does is the bookmarks' test).
    grid->setFocus();
    grid->setCurrentCell(1, 0);
    QTest::keyClick(grid, Qt::Key_Delete);
    QCOMPARE(grid->rowCount(), 2);
    QCOMPARE(CellText(grid, 1, 1), QStringLiteral("restart"));
  }

  void BookmarkNameBoxGivesTheTextOrNothing() {
    QTimer::singleShot(0, [] {
      auto* box = qobject_cast<TEditBox*>(QApplication::activeModalWidget());
      QVERIFY(box);
      QCOMPARE(box->windowTitle(), QStringLiteral("Enter Bookmark Name"));
      QCOMPARE(box->Edit->text(), QString());
      QTest::keyClicks(box->Edit, QStringLiteral("call setup"));
      box->grab().save(ArtifactPath(QStringLiteral("bookmark_name_box.png")));
      QTest::mouseClick(box->OkBtn, Qt::LeftButton);
    });
    const std::optional<std::string> name = TEditBox::Ask(nullptr, QStringLiteral("Enter Bookmark Name"));
    QVERIFY(name.has_value());
    QCOMPARE(*name, std::string("call setup"));

    QTimer::singleShot(0, [] {
      auto* box = qobject_cast<TEditBox*>(QApplication::activeModalWidget());
      QVERIFY(box);
      QTest::keyClicks(box->Edit, QStringLiteral("dropped"));
      QTest::mouseClick(box->CancelBtn, Qt::LeftButton);
    });
    QVERIFY(!TEditBox::Ask(nullptr, QStringLiteral("Enter Bookmark Name")).has_value());
  }
};

QTEST_MAIN(TFindTest)
#include "find_test.moc"
