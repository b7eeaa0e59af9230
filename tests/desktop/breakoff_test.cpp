// Long work broken off with the break key while the window goes on: a
// Display Mode listing of a large mode and a conversion of 10,000 marked
// dump lines, each interrupted by an Esc that the window takes from its
// event queue mid-run, after it has painted text that arrived meanwhile;
// the status bar's gauge follows the run.
#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>

#include "core/session.h"
#include "desktop/mainwindow.h"
#include "desktop/memoviewer.h"
#include "desktop/modenamedialog.h"
#include "desktop/screenview.h"
#include "desktop/statusbar.h"
#include "guitesting.h"
#include "screen/selection.h"
#include "screen/store.h"
#include "support/testing.h"
#include "trace/compiler.h"
#include "trace/decoder.h"
#include "trace/display.h"

namespace {
struct TWindow {
  TTempDir Dir;
  std::unique_ptr<TMainWindow> W;
  TWindow() {
    TWindowOptions options;
    options.SkipBackgroundFile = true;
    W = std::make_unique<TMainWindow>(Dir.path().string(), options);
    W->show();
    QVERIFY(QTest::qWaitForWindowExposed(W.get()));
    W->StartUp();
    if (QWidget* panel = W->findChild<QWidget*>("QelStartupPanel")) QTest::mouseClick(panel, Qt::LeftButton);
    S().Settings.Emulation = emQuorix;
  }
  TSession& S() { return W->Session(); }
  TScreenView& View() { return *W->ScreenView(); }
};

// Watches a command through the session's progress hook (after the
// window's own): once it is under way, text arrives on the screen; once the
// window has painted since, an Esc is posted to the screen the way a key
// press arrives. Each step of progress takes a few milliseconds more, as on
// a slower machine, so the run lasts long enough to be watched.
class TBreakWatcher {
 public:
  explicit TBreakWatcher(TWindow& t) : T(t) {
    TTraceDecoder& trace = *T.S().Trace;
    const std::function<void()> window = trace.OnCommandProgress;
    trace.OnCommandProgress = [this, window] {
      if (window) window();
      Step();
    };
  }

  bool EscPosted = false;
  bool GaugeFollowed = false;
  int LastPercent = -1;
  int PercentAtEsc = -1;

 private:
  void Step() {
    const TTraceDecoder::TCommandProgress& command = T.S().Trace->Command;
    if (!command.Running) return;
    LastPercent = command.Percent();
    QThread::msleep(3);
    TQelClock& clock = *T.W->StatusBar();
    if (LastPercent >= 2 && PaintsAtArrival < 0) {
      GaugeFollowed = clock.GaugeShown() && clock.GaugeProgress() == LastPercent;
      TBrowse& store = *T.S().Screen;
      store.AddLine("arrived while the command runs", 0, true);
      PaintsAtArrival = T.View().PaintCount();
      return;
    }
    if (PaintsAtArrival >= 0 && !EscPosted && T.View().PaintCount() > PaintsAtArrival) {
      QCoreApplication::postEvent(&T.View(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
      QCoreApplication::postEvent(&T.View(), new QKeyEvent(QEvent::KeyRelease, Qt::Key_Escape, Qt::NoModifier));
      EscPosted = true;
      PercentAtEsc = LastPercent;
    }
  }

  TWindow& T;
  int PaintsAtArrival = -1;
};

// Closes any message box the run shows (a test must never wait on one) and
// keeps its text.
class TBoxCloser {
 public:
  TBoxCloser() {
    QObject::connect(&Timer, &QTimer::timeout, [this] {
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
          Texts << box->text();
          box->done(0);
        }
      }
    });
    Timer.start(20);
  }
  QStringList Texts;

 private:
  QTimer Timer;
};

void ExpectBrokenOff(TWindow& t, const TBreakWatcher& watch) {
  QVERIFY2(watch.EscPosted, "the window never painted the arriving text while the command ran");
  QVERIFY(watch.GaugeFollowed);
  QVERIFY2(watch.LastPercent < 100, qPrintable(QString::number(watch.LastPercent)));
  QVERIFY(!t.S().Trace->Command.Running);
  QVERIFY(!t.S().Trace->AbortRequested);
  QVERIFY(!t.W->StatusBar()->GaugeShown());
  QVERIFY(t.W->findChild<TQelMemoForm*>() == nullptr);
  // The Esc was the break key only: the trace files the command opened are
  // closed again as before, and the next command runs.
  QVERIFY(t.W->Actions().Quorix[qbDisplayMode]->isEnabled());
}
}  // namespace

class TBreakOffTest : public QObject {
  Q_OBJECT
 private slots:
  void EscBreaksOffALongDisplayModeListing() {
    TWindow t;
    const std::string base = t.Dir.file("big");
    const TCompileResult modes = CompileModeSource(
        "VERSION 1.0;\nNEWMODE pair = STRUCT (a INT, b BOOL);\nNEWMODE big = ARRAY (1:20000) pair;\nKASP MSG 1 = \"ONE\";\n", "big.mode");
    QVERIFY(modes.Ok);
    std::string error;
    QVERIFY2(WriteModeFileImage(modes.Image, base, t.Dir.path().string() + "/", &error), error.c_str());
    t.S().Settings.ModeFileName = base;
    t.S().Settings.OrnetDirectoryName = t.Dir.path().string() + "/";
    t.S().Settings.DisplayModeName = "BIG";
    TBreakWatcher watch(t);
    TBoxCloser boxes;
    DisplayMode(t.S());
    QVERIFY2(boxes.Texts.isEmpty(), qPrintable(boxes.Texts.join('|')));
    ExpectBrokenOff(t, watch);
    // The listing stopped where the Esc came: its last elements never came.
    const std::string listed = ReadFileBytes(t.S().ProgramDirectory + "qel.%%%");
    QVERIFY(listed.find("(00001)") != std::string::npos);
    QVERIFY(listed.find("(20000)") == std::string::npos);
  }

  void EscBreaksOffAConversionOf10000MarkedLines() {
    TWindow t;
    t.S().Settings.ModeFileName = QEL_SAMPLES "/exchange";
    t.S().Settings.OrnetDirectoryName = QEL_SAMPLES "/";
    std::string dump;
    for (int i = 0; i < 10000; ++i) dump += " BYT 0000:0000    34 12 01 00 FF 00 10 20 30 40 50 60 70 80 90 A0\r\n";
    t.S().ReceiveBytes(reinterpret_cast<const std::uint8_t*>(dump.data()), dump.size());
    TBrowse& store = *t.S().Screen;
    int first = -1, last = -1;
    for (int line = 0; line < store.Count(); ++line) {
      if (store.GetLineText(line).rfind(" BYT ", 0) != 0) continue;
      if (first < 0) first = line;
      last = line;
    }
    QCOMPARE(last - first + 1, 10000);
    PlaceMark(store, kSelectionMark, first, last, 19, 132);
    // Were the break to go unnoticed, the mode name would be asked next.
    bool modeNameAsked = false;
    auto* guard = new QTimer(t.W.get());
    QObject::connect(guard, &QTimer::timeout, [&] {
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<TModeDialogBox*>(widget); dialog && dialog->isVisible()) {
          modeNameAsked = true;
          QMetaObject::invokeMethod(dialog, "reject");
        }
      }
    });
    guard->start(20);
    TBreakWatcher watch(t);
    TBoxCloser boxes;
    t.W->Actions().Quorix[qbConvertByte]->trigger();
    QVERIFY2(boxes.Texts.isEmpty(), qPrintable(boxes.Texts.join('|')));
    guard->stop();
    QVERIFY(!modeNameAsked);
    ExpectBrokenOff(t, watch);
    // The marked text went to the clipboard first, all of it.
    const std::optional<std::string> copied = t.S().Desktop.ClipboardText();
    QVERIFY(copied);
    QCOMPARE(static_cast<int>(std::count(copied->begin(), copied->end(), '\n')), 10000);
  }
};

QTEST_MAIN(TBreakOffTest)
#include "breakoff_test.moc"
