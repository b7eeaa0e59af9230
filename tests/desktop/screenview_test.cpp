// The screen view painted from a real session's store, offscreen.
#include <QAccessible>
#include <QImage>
#include <QPaintEvent>
#include <QScrollBar>
#include <QtTest>
#include <string>

#include "desktop/screenview.h"
#include "guitesting.h"
#include "screen/rowsize.h"
#include "screen/store.h"
#include "screen/writer.h"
#include "support/testing.h"

namespace {
// Counts the viewport's paint events and keeps their rectangles.
class TPaintSpy : public QObject {
 public:
  explicit TPaintSpy(QWidget* target) { target->installEventFilter(this); }
  int Count() const { return static_cast<int>(Rects.size()); }
  QRect LastRect() const { return Rects.empty() ? QRect() : Rects.back(); }
  void Reset() { Rects.clear(); }
  std::vector<QRect> Rects;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) Rects.push_back(static_cast<QPaintEvent*>(event)->rect());
    return false;
  }
};

// A started session with its view shown at the size of an 80-column screen.
struct TShownView {
  TTestSession T;
  std::unique_ptr<TScreenView> View;
  TShownView() {
    T.S->StartUp();
    View = std::make_unique<TScreenView>(*T.S->Screen);
    View->RowSize = [this](int line) { return RowSizeOf(*T.S->Screen, T.S->Writer->State, line); };
    View->resize(View->SizeForColumns(80));
    if (!Exposed(*View)) qWarning("the view was not exposed");
  }
  TBrowse& Store() { return *T.S->Screen; }
  void Receive(const std::string& bytes) {
    T.S->ReceiveBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  // Lets the queued flush and the paint it asks for run.
  bool Settle() {
    const bool flushed = WaitFor([&] { return Store().PendingDamage().Empty(); });
    QTest::qWait(40);
    return flushed;
  }
  QPoint CellCentre(int line, int column) { return View->CellRect(line, column).center(); }
  // Store line of screen row r (1..24).
  int Line(int row) { return Store().ScreenLine(row); }
};

// The last cell (from 0) of a row with ink in it, and the pixels of ink on
// one pixel line of a row: anything unlike the background.
int LastInkedCell(const QImage& shot, const QRect& row, int cellWidth, const QColor& background) {
  int last = -1;
  for (int x = row.left(); x < row.right(); ++x)
    for (int y = row.top(); y <= row.bottom(); ++y)
      if (shot.pixelColor(x, y) != background) last = x / cellWidth;
  return last;
}

int InkOnPixelLine(const QImage& shot, const QRect& row, int y, const QColor& background) {
  int ink = 0;
  for (int x = row.left(); x < row.right(); ++x) ink += shot.pixelColor(x, y) != background;
  return ink;
}
}  // namespace

class TScreenViewTest : public QObject {
  Q_OBJECT
 private slots:
  void OnlyTheDamagedRowIsRepainted() {
    TShownView v;
    v.Receive("\x1b[6;1H");
    QVERIFY(v.Settle());
    QCOMPARE(v.View->TopLine(), v.Store().Count() - v.View->VisibleRows());
    TPaintSpy paints(v.View->viewport());
    const int before = v.View->PaintCount();
    v.Receive("hello");
    QVERIFY(v.Settle());
    QCOMPARE(paints.Count(), 1);
    QCOMPARE(v.View->PaintCount(), before + 1);
    QCOMPARE(paints.LastRect(), v.View->RowRect(5));
    v.View->viewport()->grab().save(ArtifactPath("screenview-row6.png"));

    // Without the focus no caret is drawn, so only the written rows change
    // (the store hands over one span of lines: row 11 between them too).
    v.View->clearFocus();
    QVERIFY(v.Settle());
    paints.Reset();
    v.Receive("\x1b[10;1Hx\x1b[12;1Hy");
    QVERIFY(v.Settle());
    QCOMPARE(paints.Count(), 1);
    QCOMPARE(paints.LastRect(), v.View->RowRect(9).united(v.View->RowRect(11)));
  }

  void BurstsAreCoalescedIntoFewPaints() {
    TShownView v;
    v.Receive("\x1b[24;1H");
    QVERIFY(v.Settle());
    TPaintSpy paints(v.View->viewport());
    // Lines arriving in many small chunks, the event loop running between them.
    for (int i = 0; i < 400; ++i) {
      v.Receive("line " + std::to_string(i) + "\r\n");
      QCoreApplication::processEvents();
    }
    QVERIFY(v.Settle());
    QVERIFY2(paints.Count() >= 1, "nothing was painted");
    QVERIFY2(paints.Count() < 100, qPrintable(QString::number(paints.Count())));
    // The view followed the cursor to the bottom.
    QCOMPARE(v.View->TopLine(), v.Store().Count() - v.View->VisibleRows());
  }

  void AHugeStoreScalesTheScrollBarAndReachesTheEnd() {
    TTestSession t;
    TBrowse& store = *t.S->Screen;
    for (int i = 0; i < 100000; ++i) store.AddLine("line " + std::to_string(i), 0, false);
    TScreenView view(store);
    view.resize(view.SizeForColumns(80));
    view.SetHold(true);
    QVERIFY(Exposed(view));
    QVERIFY(WaitFor([&] { return store.PendingDamage().Empty(); }));
    QScrollBar* bar = view.verticalScrollBar();
    // 100,000 lines: the bar's range is divided by 16, to 6250 with its page.
    QCOMPARE(bar->maximum(), (100000 - view.VisibleRows()) / 16);
    QVERIFY(bar->maximum() + bar->pageStep() <= 6250);
    bar->setValue(bar->maximum());
    QCOMPARE(view.TopLine(), 100000 - view.VisibleRows());
    bar->setValue(bar->maximum() / 2);
    QCOMPARE(view.TopLine(), bar->maximum() / 2 * 16);
    bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(view.TopLine(), bar->maximum() / 2 * 16 + 1);
    view.ShowLine(12345);
    QVERIFY(view.TopLine() <= 12345 && 12345 < view.TopLine() + view.VisibleRows());
  }

  // The scroll range grows with the lines; the held view stays where it is.
  void HeldScrollBackKeepsItsPlaceWhileDataArrives() {
    TShownView v;
    QVERIFY(v.Settle());
    QVERIFY(!v.View->verticalScrollBar()->isVisible());
    v.View->SetHold(true);
    QVERIFY(v.View->verticalScrollBar()->isVisible());
    QCOMPARE(v.View->verticalScrollBar()->maximum(), v.Store().Count() - v.View->VisibleRows());
    QCOMPARE(v.View->verticalScrollBar()->pageStep(), v.View->VisibleRows());
    v.View->ScrollTo(0, 10);
    QCOMPARE(v.View->TopLine(), 10);
    v.Receive("\x1b[24;1H");
    for (int i = 0; i < 60; ++i) v.Receive("more data\r\n");
    QVERIFY(v.Settle());
    QCOMPARE(v.View->TopLine(), 10);
    QCOMPARE(v.View->verticalScrollBar()->maximum(), v.Store().Count() - v.View->VisibleRows());
    v.View->SetHold(false);
    QVERIFY(!v.View->verticalScrollBar()->isVisible());
    QCOMPARE(v.View->TopLine(), v.Store().Count() - v.View->VisibleRows());
  }

  void DraggingMarksTextAndCopiesItAndShiftClickExtendsToWholeLines() {
    TShownView v;
    v.Receive("\x1b[3;1H0123456789 first\x1b[4;1Habcdefghij second");
    QVERIFY(v.Settle());
    QSignalSpy changed(v.View.get(), &TScreenView::SelectionChanged);
    QWidget* port = v.View->viewport();
    QTest::mousePress(port, Qt::LeftButton, Qt::NoModifier, v.CellCentre(v.Line(3), 5));
    QTest::mouseMove(port, v.CellCentre(v.Line(4), 2));
    QTest::mouseMove(port, v.CellCentre(v.Line(4), 3));
    QTest::mouseRelease(port, Qt::LeftButton, Qt::NoModifier, v.CellCentre(v.Line(4), 3));
    QCOMPARE(QString::fromStdString(v.View->SelectionText()), QString("456789 first\r\nabc\r\n"));
    QVERIFY(changed.count() >= 2);
    v.View->CopySelection();
    QCOMPARE(v.T.Desktop.Clipboard.value_or(""), std::string("456789 first\r\nabc\r\n"));
    QTest::qWait(20);
    v.View->viewport()->grab().save(ArtifactPath("screenview-selection.png"));

    // A shift-click extends to whole lines (Select All and Unmark are the
    // selection's calls as they are, its tests).
    v.View->Unmark();
    v.Receive("\x1b[5;1Hline five  \x1b[6;1H  line six\x1b[7;1Hline seven");
    QVERIFY(v.Settle());
    QTest::mouseClick(port, Qt::LeftButton, Qt::NoModifier, v.CellCentre(v.Line(5), 7));
    QTest::mouseClick(port, Qt::LeftButton, Qt::ShiftModifier, v.CellCentre(v.Line(7), 2));
    QCOMPARE(QString::fromStdString(v.View->SelectionText()), QString("line five\r\n  line six\r\nline seven\r\n"));
  }

  void DoubleAndMiddleClicksReachTheMainWindow() {
    TShownView v;
    QVERIFY(v.Settle());
    QSignalSpy doubles(v.View.get(), &TScreenView::DoubleClicked);
    QSignalSpy middles(v.View.get(), &TScreenView::MiddleClicked);
    QTest::mouseDClick(v.View->viewport(), Qt::LeftButton, Qt::NoModifier, v.CellCentre(v.Line(8), 12));
    QCOMPARE(doubles.count(), 1);
    QCOMPARE(doubles.at(0).at(0).toInt(), v.Line(8));
    QCOMPARE(doubles.at(0).at(1).toInt(), 12);
    QTest::mouseClick(v.View->viewport(), Qt::MiddleButton, Qt::NoModifier, v.CellCentre(v.Line(2), 2));
    QCOMPARE(middles.count(), 1);
  }

  void LineDrawingByteShowsABoxDrawingGlyph() {
    TShownView v;
    // Byte 196 of the screen font is the horizontal box-drawing line.
    v.Store().PutText(std::string(10, '\xC4'), 1, true, 0, 2);
    QVERIFY(v.Settle());
    const QImage image = v.View->viewport()->grab().toImage();
    image.save(ArtifactPath("screenview-linedrawing.png"));
    const QRect first = v.View->CellRect(v.Line(2), 1);
    const QRect last = v.View->CellRect(v.Line(2), 10);
    const qreal ratio = image.devicePixelRatio();
    // Some pixel row runs dark unbroken from the first cell's left edge to the last cell's right edge.
    bool unbroken = false;
    for (int y = first.top(); y <= first.bottom() && !unbroken; ++y) {
      bool dark = true;
      for (int x = first.left(); x <= last.right() && dark; ++x)
        dark = qGray(image.pixel(QPoint(x, y) * ratio)) < 128;
      unbroken = dark;
    }
    QVERIFY2(unbroken, qPrintable(ArtifactPath("screenview-linedrawing.png")));
  }

  void DoubleSizeLinesAreDrawnAsAVt100DrawsThem() {
    TShownView v;
    v.T.S->Settings.Emulation = emVT100;
    // Rows 2 and 3 a double-height pair, row 5 double width, row 7 normal:
    // each holds "DOUBLE" (six characters).
    v.Receive("\x1b[2;1H\x1b#3DOUBLE\x1b[3;1H\x1b#4DOUBLE\x1b[5;1H\x1b#6DOUBLE\x1b[7;1HDOUBLE\x1b[10;7H");
    QVERIFY(v.Settle());
    const QImage shot = v.View->viewport()->grab().toImage();
    shot.save(ArtifactPath("screenview-double-size.png"));
    const int width = v.View->CellSize().width();
    const QColor paper = shot.pixelColor(shot.width() - 2, 2);
    auto row = [&](int r) { return v.View->RowRect(v.Line(r) - v.View->TopLine()); };
    // Normal: six cells. Double width and both double-height halves: twelve.
    QCOMPARE(LastInkedCell(shot, row(7), width, paper), 5);
    for (int r : {2, 3, 5}) QCOMPARE(LastInkedCell(shot, row(r), width, paper), 11);
    // Capitals of a normal row touch neither its first pixel line nor its
    // last. Twice as high and cut between the two rows, they run through the
    // top row's last pixel line and the bottom row's first.
    QCOMPARE(InkOnPixelLine(shot, row(7), row(7).top(), paper), 0);
    QCOMPARE(InkOnPixelLine(shot, row(7), row(7).bottom(), paper), 0);
    QVERIFY(InkOnPixelLine(shot, row(2), row(2).bottom(), paper) > 0);
    QVERIFY(InkOnPixelLine(shot, row(3), row(3).top(), paper) > 0);
    QCOMPARE(InkOnPixelLine(shot, row(3), row(3).bottom(), paper), 0);
    // Screen readers get each row's 80 characters and a line end, the caret
    // where the cursor is (row 10, column 7); a double-width row's third
    // character covers cells 5 and 6.
    QAccessibleTextInterface* text = QAccessible::queryAccessibleInterface(v.View.get())->textInterface();
    const int normal = (v.Line(7) - v.View->TopLine()) * 81;
    QCOMPARE(text->text(normal, normal + 81), QString("DOUBLE").leftJustified(80) + "\n");
    const int first = (v.Line(2) - v.View->TopLine()) * 81;
    QCOMPARE(text->text(first, first + 6), QString("DOUBLE"));
    QCOMPARE(text->cursorPosition(), (v.Line(10) - v.View->TopLine()) * 81 + 6);
    QCOMPARE(text->characterCount(), v.View->VisibleRows() * 81);
    const QRect third = text->characterRect(first + 2);
    QCOMPARE(third.width(), 2 * width);
    QCOMPARE(text->offsetAtPoint(third.center() + QPoint(width / 2, 0)), first + 2);
  }

  void KeysGoToTheHookAndPageKeysScroll() {
    TShownView v;
    QVERIFY(v.Settle());
    std::vector<int> keys;
    v.View->OnKey = [&](QKeyEvent* event) {
      if (event->type() == QEvent::KeyPress) keys.push_back(event->key());
      return true;
    };
    const int bottom = v.View->TopLine();
    QTest::keyClick(v.View.get(), Qt::Key_A);
    QTest::keyClick(v.View.get(), Qt::Key_PageUp);
    QCOMPARE(v.View->TopLine(), bottom - v.View->VisibleRows());
    QTest::keyClick(v.View.get(), Qt::Key_Home);
    QCOMPARE(v.View->TopLine(), 0);
    QTest::keyClick(v.View.get(), Qt::Key_End);
    QCOMPARE(v.View->TopLine(), bottom);
    QCOMPARE(keys, (std::vector<int>{Qt::Key_A, Qt::Key_PageUp, Qt::Key_Home, Qt::Key_End}));
  }
};

QTEST_MAIN(TScreenViewTest)
#include "screenview_test.moc"
