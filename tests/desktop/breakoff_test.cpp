// Long work broken off with the break key while the window goes on: a
// Display Mode listing of a large mode and a conversion of 10,000 marked
// dump lines, each stopped by an Esc the window takes from its event queue
// mid-run, after it has painted text that arrived meanwhile; the status
// bar's gauge follows the run.
#include <QAction>
#include <QKeyEvent>
#include <QMessageBox>
#include <QThread>
#include <QtTest>

#include "app/session.h"
#include "desktop/mainwindow.h"
#include "desktop/memoviewer.h"
#include "desktop/modenamedialog.h"
#include "desktop/screenview.h"
#include "desktop/statusbar.h"
#include "guitesting.h"
#include "screen/selection.h"
#include "screen/store.h"
#include "trace/compiler.h"
#include "trace/decoder.h"
#include "trace/display.h"

namespace {
// Watches a command through the session's progress hook (after the
// window's own): once under way, text arrives on the screen; once the window
// has painted since, an Esc is posted to the screen as a key press arrives.
// Each step of progress takes a few milliseconds more, as on a slower
// machine, so the run lasts long enough to be watched. Message boxes are
// closed and kept (a test must never wait on one).
class TBreakWatcher {
 public:
  explicit TBreakWatcher(TStartedWindow& t) : T(t) {
    TTraceDecoder& trace = *T.S().Trace;
    const std::function<void()> window = trace.OnCommandProgress;
    trace.OnCommandProgress = [this, window] {
      if (window) window();
      Step();
    };
    QObject::connect(&BoxTimer, &QTimer::timeout, [this] {
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
          Boxes << box->text();
          box->done(0);
        }
      }
    });
    BoxTimer.start(20);
  }

  void ExpectBrokenOff() {
    QVERIFY2(Boxes.isEmpty(), qPrintable(Boxes.join('|')));
    QVERIFY2(EscPosted, "the window never painted the arriving text while the command ran");
    QVERIFY(GaugeFollowed);
    QVERIFY2(LastPercent < 100, qPrintable(QString::number(LastPercent)));
    // The command's state after a break is the listing's and the conversion's tests.
    QVERIFY(!T.W->StatusBar()->GaugeShown());
    QVERIFY(T.W->findChild<TQelMemoForm*>() == nullptr);
    QVERIFY(T.W->Actions().Quorix[qbDisplayMode]->isEnabled());  // the next command may run
  }

 private:
  void Step() {
    const TTraceDecoder::TCommandProgress& command = T.S().Trace->Command;
    if (!command.Running) return;
    LastPercent = command.Percent();
    QThread::msleep(3);
    TScreenView& view = *T.W->ScreenView();
    if (LastPercent >= 2 && PaintsAtArrival < 0) {
      TQelClock& clock = *T.W->StatusBar();
      GaugeFollowed = clock.GaugeShown() && clock.GaugeProgress() == LastPercent;
      T.S().Screen->AddLine("arrived while the command runs", 0, true);
      PaintsAtArrival = view.PaintCount();
    } else if (PaintsAtArrival >= 0 && !EscPosted && view.PaintCount() > PaintsAtArrival) {
      QCoreApplication::postEvent(&view, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
      EscPosted = true;
    }
  }

  TStartedWindow& T;
  QTimer BoxTimer;
  QStringList Boxes;
  int PaintsAtArrival = -1;
  bool EscPosted = false;
  bool GaugeFollowed = false;
  int LastPercent = -1;
};
}  // namespace

class TBreakOffTest : public QObject {
  Q_OBJECT
 private slots:
  void EscBreaksOffALongDisplayModeListing() {
    TStartedWindow t;
    const std::string base = t.Dir.file("big");
    const TCompileResult modes = CompileModeSource(
        "VERSION 1.0;\nNEWMODE pair = STRUCT (a INT, b BOOL);\nNEWMODE big = ARRAY (1:20000) pair;\n"
        "KASP MSG 1 = \"ONE\";\n",
        "big.mode");
    std::string error;
    QVERIFY2(modes.Ok && WriteModeFileImage(modes.Image, base, t.Dir.path().string() + "/", &error), error.c_str());
    TSetupRecord& settings = t.S().Settings;
    settings.Emulation = emQuorix;
    settings.ModeFileName = base;
    settings.OrnetDirectoryName = t.Dir.path().string() + "/";
    settings.DisplayModeName = "BIG";
    TBreakWatcher watch(t);
    DisplayMode(t.S());
    watch.ExpectBrokenOff();
    const std::string listed = ReadFileBytes(t.S().ProgramDirectory + "qel.%%%");
    QVERIFY(listed.find("(00001)") != std::string::npos);
    QVERIFY(listed.find("(20000)") == std::string::npos);
  }

  void EscBreaksOffAConversionOf10000MarkedLines() {
    TStartedWindow t;
    TSetupRecord& settings = t.S().Settings;
    settings.Emulation = emQuorix;
    settings.ModeFileName = QEL_SAMPLES "/exchange";
    settings.OrnetDirectoryName = QEL_SAMPLES "/";
    std::string dump;
    for (int i = 0; i < 10000; ++i) dump += " BYT 0000:0000    34 12 01 00 FF 00 10 20 30 40 50 60 70 80 90 A0\r\n";
    t.Receive(dump);
    TBrowse& store = *t.S().Screen;
    int first = 0;
    while (store.GetLineText(first).rfind(" BYT ", 0) != 0) ++first;
    PlaceMark(store, kSelectionMark, first, first + 9999, 19, 132);
    // Were the break missed, the mode name would be asked next.
    bool modeNameAsked = false;
    WhenShown<TModeDialogBox>([&](TModeDialogBox* dialog) {
      modeNameAsked = true;
      QMetaObject::invokeMethod(dialog, "reject");
    });
    TBreakWatcher watch(t);
    t.W->Actions().Quorix[qbConvertByte]->trigger();
    QVERIFY(!modeNameAsked);
    watch.ExpectBrokenOff();
    // The marked text went to the clipboard first, all of it.
    const std::string copied = t.S().Desktop.ClipboardText().value_or("");
    QCOMPARE(std::count(copied.begin(), copied.end(), '\n'), 10000L);
  }
};

QTEST_MAIN(TBreakOffTest)
#include "breakoff_test.moc"
