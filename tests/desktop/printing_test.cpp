// Printing from the window, the real path: the scroll-back printed to a PDF
// and read back with pdftotext (every line in order, pages where the layout
// breaks them, page numbers, the marked-only cut), print to file through the
// print dialog, Print SetUp, the spooling window's Cancel and the memo
// viewer (the preview is the screenshots' test).
#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QProcess>
#include <QProgressDialog>
#include <QRadioButton>
#include <QTextBlock>
#include <QTimer>
#include <QtTest>

#include "auxwin/printing.h"
#include "app/session.h"
#include "desktop/mainwindow.h"
#include "desktop/memoviewer.h"
#include "desktop/pageprinter.h"
#include "desktop/printdialog.h"
#include "desktop/statusbar.h"
#include "guitesting.h"
#include "screen/selection.h"
#include "screen/store.h"

namespace {
std::string ListingLine(int i) {
  char line[64];
  std::snprintf(line, sizeof line, "LISTING %04d  TRUNK %03d IDLE", i, i % 512);
  return line;
}

// A host's listing, with blanks at the lines' ends.
void ReceiveListing(TStartedWindow& t, int count) {
  std::string text;
  for (int i = 1; i <= count; ++i) text += ListingLine(i) + "    \r\n";
  t.Receive(text);
}

QString PdfPrinter(TStartedWindow& t, const char* name) {
  QPrinter& printer = t.W->Printer();
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setPageSize(QPageSize(QPageSize::A4));
  printer.setOutputFileName(QString::fromStdString(t.Dir.file(name)));
  return printer.outputFileName();
}

// pdftotext rebuilds the blanks between words from their distance: runs of
// blanks are compared as one.
QStringList Simple(QStringList lines) {
  for (QString& line : lines) line = line.simplified();
  return lines;
}

// The PDF's text page by page, blank lines left out.
QList<QStringList> PdfPages(const QString& file) {
  QProcess run;
  run.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), file, QStringLiteral("-")});
  if (!run.waitForFinished(60000)) return {};
  QList<QStringList> pages;
  for (const QString& page : QString::fromUtf8(run.readAllStandardOutput()).split(QLatin1Char('\f'))) {
    QStringList lines;
    for (const QString& line : page.split(QLatin1Char('\n')))
      if (!line.trimmed().isEmpty()) lines << line;
    if (!lines.isEmpty()) pages << lines;
  }
  return pages;
}

// By the layout's rule, from the printer's page and the screen font: whole
// lines of the printable height, less a gap and the footer.
int LinesPerPage(QPrinter& printer, const TBrowse& store) {
  QFont font(QString::fromStdString(store.FontName), store.FontSize);
  font.setStyleHint(QFont::TypeWriter);
  const QFontMetricsF metrics(QFont(font, &printer), &printer);
  return static_cast<int>(printer.pageLayout().paintRectPixels(printer.resolution()).height() /
                          metrics.lineSpacing()) - 2;
}

QRadioButton* RangeButton(QWidget* dialog, const QString& caption) {
  QStringList captions;
  for (QRadioButton* button : dialog->findChildren<QRadioButton*>()) {
    if (button->text().remove('&') == caption) return button;
    captions << button->text();
  }
  qFatal("no range button %s among %s", qPrintable(caption), qPrintable(captions.join(", ")));
}
}  // namespace

class TPrintingTest : public QObject {
  Q_OBJECT
 private slots:
  void TheScrollBackOnNumberedPdfPagesEveryLineInOrder() {
    TStartedWindow t;
    ReceiveListing(t, 3000);
    const QString file = PdfPrinter(t, "scrollback.pdf");
    QVERIFY(t.W->PrintChosen({false, false}));
    QFile::remove(ArtifactPath("scrollback.pdf"));
    QFile::copy(file, ArtifactPath("scrollback.pdf"));
    QProcess info;
    info.start(QStringLiteral("pdfinfo"), {file});
    info.waitForFinished(30000);
    QVERIFY(QString::fromUtf8(info.readAllStandardOutput()).contains(QRegularExpression("Title: +Qel for Windows\n")));

    const TBrowse& store = *t.S().Screen;
    const int perPage = LinesPerPage(t.W->Printer(), store);
    const QList<QStringList> pages = PdfPages(file);
    QCOMPARE(pages.size(), (store.Count() + perPage - 1) / perPage);
    QStringList all;
    for (int page = 0; page < pages.size(); ++page) {
      // Each page: the non-blank lines of its share of the store, then its
      // number right of them all.
      QStringList lines = pages[page];
      const QString number = lines.takeLast();
      QCOMPARE(number.trimmed(), QString::number(page + 1));
      for (const QString& line : lines) QVERIFY2(number.size() > line.size(), qPrintable(number + "|" + line));
      QStringList expected;
      for (int line = page * perPage; line < std::min(store.Count(), (page + 1) * perPage); ++line)
        if (const std::string text = SavedLineText(store, line, false); !text.empty()) expected << QString::fromStdString(text);
      QCOMPARE(Simple(lines), Simple(expected));
      all << Simple(lines);
    }
    // Nothing lost: the greeting, then LISTING 0001 to 3000 in order.
    QCOMPARE(all.size(), 3001);
    QCOMPARE(all[0], QString("Logged in at : 06.12.2026 21:22:18"));
    for (int i = 1; i <= 3000; ++i) QCOMPARE(all[i], QString::fromStdString(ListingLine(i)).simplified());
  }

  void MarkedOnlyPrintsTheMarksColumns() {
    TStartedWindow t;
    ReceiveListing(t, 40);
    TBrowse& store = *t.S().Screen;
    const int first = store.ScreenLine(5);
    PlaceMark(store, kSelectionMark, first, first + 2, 10, 20);
    const QString file = PdfPrinter(t, "marked.pdf");
    QVERIFY(t.W->PrintChosen({true, false}));
    const QList<QStringList> pages = PdfPages(file);
    QCOMPARE(pages.size(), 1);
    QCOMPARE(Simple(pages[0]), Simple({QString::fromStdString(store.GetLineText(first).substr(9)),
                                       QString::fromStdString(store.GetLineText(first + 1)),
                                       QString::fromStdString(store.GetLineText(first + 2).substr(0, 20)), "1"}));
  }

  void PrintToFileThroughTheDialogWritesTheWholeScrollBack() {
    TStartedWindow t;
    ReceiveListing(t, 3000);
    const std::string log = t.Dir.file("printed.log");
    WriteFileBytes(log, std::string(100000, 'x'));  // replaced, not appended to
    t.S().Settings.LogFileName = log;
    t.S().Settings.PrintToFile = 1;
    bool presets = false;
    WhenShown<TQelPrintDialog>([&](TQelPrintDialog* dialog) {
      presets = dialog->ToFileBox()->isChecked() && RangeButton(dialog, "Print all")->isChecked();
      dialog->accept();
    });
    t.W->Actions().Print->trigger();
    QVERIFY(presets);
    // Every store line (not the screen's, not a selection's), its blanks at
    // the end removed, CR LF each.
    const TBrowse& store = *t.S().Screen;
    std::string expected;
    for (int line = 0; line < store.Count(); ++line) {
      const std::string text = store.GetLineText(line);
      expected += text.substr(0, text.find_last_not_of(' ') + 1) + "\r\n";
    }
    QVERIFY(expected.find("LISTING 3000") != std::string::npos);
    QVERIFY(ReadFileBytes(log) == expected);
  }

  void PrintSetUpKeepsItsChoicesForTheNextDialog() {
    TStartedWindow t;
    WhenShown<TQelPrintDialog>([](TQelPrintDialog* dialog) {
      RangeButton(dialog, "Selection")->click();
      dialog->ToFileBox()->setChecked(true);
      dialog->accept();
    });
    t.W->Actions().PrintSetUp->trigger();
    QCOMPARE(std::pair(int(t.S().Settings.PrintRange), int(t.S().Settings.PrintToFile)), std::pair(1, 1));
    bool presets = false;
    WhenShown<TQelPrintDialog>([&](TQelPrintDialog* dialog) {
      presets = RangeButton(dialog, "Selection")->isChecked() && dialog->ToFileBox()->isChecked();
      dialog->ToFileBox()->setChecked(false);
      dialog->reject();
    });
    t.W->Actions().PrintSetUp->trigger();
    QVERIFY(presets);
    QCOMPARE(t.S().Settings.PrintToFile, std::uint8_t(1));  // cancelled: kept
  }

  void CancelWhileSpoolingPrintsWhatWasTakenAndTheWindowGoesOn() {
    TStartedWindow t;
    ReceiveListing(t, 30000);
    const QString file = PdfPrinter(t, "cancelled.pdf");
    bool printShown = false;
    // The window answers while spooling: its window is there to be cancelled
    // and the status bar shows PRNT.
    // Looked for at every pass of the event loop (the spool serves it every
    // few hundred lines, which on a fast run is less than a timer period);
    // only the spooling window counts, not the pages' progress after it.
    QTimer watch;
    watch.setInterval(0);
    QObject::connect(&watch, &QTimer::timeout, [&] {
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* progress = qobject_cast<QProgressDialog*>(widget);
        if (!progress || progress->windowTitle() != QString("Spooling Print Area")) continue;
        watch.stop();
        printShown = t.W->StatusBar()->PanelText(7) == "PRNT";
        progress->cancel();
        return;
      }
    });
    watch.start();
    const int pages = t.W->PagePrinter().PrintLines(t.W->Printer(), false, t.W.get());
    QVERIFY(printShown);
    QVERIFY(pages > 0);
    QVERIFY(pages < t.S().Screen->Count() / LinesPerPage(t.W->Printer(), *t.S().Screen));
    QCOMPARE(PdfPages(file).size(), pages);
    QCOMPARE(t.W->StatusBar()->PanelText(7), QString());
  }

  void TheMemoViewerPrintsItsLinesAndPastesToDisk() {
    TStartedWindow t;
    t.S().Desktop.ShowMemo({"PAIR  Display Mode", "PAIR\r\n  0000@0 000016 A     = INT \r\n  0002@0 000001 B     = BOOL \r\n"});
    auto* viewer = t.W->findChild<TQelMemoForm*>();
    QVERIFY(viewer && viewer->Actions().Print->isEnabled());
    const std::string log = t.Dir.file("memo.log");
    t.S().Settings.LogFileName = log;
    QVERIFY(viewer->PrintChosen(false, true));
    QCOMPARE(ReadFileBytes(log), std::string("PAIR\r\n  0000@0 000016 A     = INT\r\n  0002@0 000001 B     = BOOL\r\n"));
    // The second line marked from its third character: marked only takes that.
    QTextCursor cursor = viewer->TextView()->textCursor();
    const QTextBlock second = viewer->TextView()->document()->findBlockByNumber(1);
    cursor.setPosition(second.position() + 2);
    cursor.setPosition(second.position() + second.length() - 1, QTextCursor::KeepAnchor);
    viewer->TextView()->setTextCursor(cursor);
    QVERIFY(viewer->PrintChosen(true, true));
    QCOMPARE(ReadFileBytes(log), std::string("0000@0 000016 A     = INT\r\n"));
    const QString pdf = PdfPrinter(t, "memo.pdf");
    QVERIFY(viewer->PrintChosen(false, false));
    const QList<QStringList> pages = PdfPages(pdf);
    QCOMPARE(pages.size(), 1);
    QCOMPARE(Simple(pages[0]), QStringList({"PAIR", "0000@0 000016 A = INT", "0002@0 000001 B = BOOL", "1"}));
    // Paste to Disk is the main window's (its dialog is the paste's test):
    // the clipboard text into a file.
    t.S().Desktop.SetClipboardText("clipboard text");
    const std::string pasted = t.Dir.file("pasted.log");
    t.W->Desktop().OnFileDialog = [&](const TFileDialog&) -> std::optional<std::string> { return pasted; };
    viewer->Actions().PasteToDisk->setEnabled(true);
    viewer->Actions().PasteToDisk->trigger();
    QCOMPARE(ReadFileBytes(pasted), std::string("clipboard text"));
  }
};

QTEST_MAIN(TPrintingTest)
#include "printing_test.moc"
