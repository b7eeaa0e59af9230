// Printing from the window, the real path: the scroll-back printed to a PDF
// and read back with pdftotext (every line in order, pages as the layout
// breaks them, page numbers, the marked-only cut), print to file through
// the print dialog into the Log File Name, Print SetUp keeping its choices,
// the spooling window's Cancel, the preview window, and the memo viewer.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
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
#include <functional>
#include <memory>

#include "auxwin/printing.h"
#include "core/session.h"
#include "desktop/mainwindow.h"
#include "desktop/memoviewer.h"
#include "desktop/pageprinter.h"
#include "desktop/printdialog.h"
#include "desktop/screenview.h"
#include "desktop/statusbar.h"
#include "guitesting.h"
#include "log/files.h"
#include "screen/selection.h"
#include "screen/store.h"
#include "support/testing.h"

namespace {
struct TWindow {
  TTempDir Dir;
  std::unique_ptr<TMainWindow> W;
  TWindow() {
    TWindowOptions options;
    options.SkipBackgroundFile = true;
    W = std::make_unique<TMainWindow>(Dir.path().string(), options);
    W->show();
    W->Form().Now = [] { return std::string("06.12.2026 21:22:18"); };
    W->StartUp();
  }
  TSession& S() { return W->Session(); }
  void Receive(const std::string& bytes) {
    S().ReceiveBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  // "LISTING nnnn ..." lines the way a host lists, with blanks at their ends.
  void ReceiveListing(int count) {
    std::string text;
    for (int i = 1; i <= count; ++i) text += ListingLine(i) + "    \r\n";
    Receive(text);
  }
  static std::string ListingLine(int i) {
    char line[64];
    std::snprintf(line, sizeof line, "LISTING %04d  TRUNK %03d IDLE", i, i % 512);
    return line;
  }
  QString Pdf(const char* name) {
    QPrinter& printer = W->Printer();
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setPageSize(QPageSize(QPageSize::A4));
    const QString file = QString::fromStdString(Dir.file(name));
    printer.setOutputFileName(file);
    return file;
  }
};

// The text of a PDF, page by page, each page's lines with their trailing
// blanks removed and blank lines left out. pdftotext rebuilds the blanks
// between words from their distance, so runs of blanks are compared as one
// (Simple) while a line's position on the page stays readable.
QList<QStringList> PdfPages(const QString& file) {
  QProcess run;
  run.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), file, QStringLiteral("-")});
  if (!run.waitForFinished(60000)) return {};
  const QString text = QString::fromUtf8(run.readAllStandardOutput());
  QList<QStringList> pages;
  for (const QString& page : text.split(QLatin1Char('\f'))) {
    QStringList lines;
    for (QString line : page.split(QLatin1Char('\n'))) {
      while (line.endsWith(QLatin1Char(' '))) line.chop(1);
      if (!line.isEmpty()) lines << line;
    }
    if (!lines.isEmpty()) pages << lines;
  }
  return pages;
}

QString Simple(const QString& line) { return line.simplified(); }
QStringList Simple(QStringList lines) {
  for (QString& line : lines) line = line.simplified();
  return lines;
}

QString PdfTitle(const QString& file) {
  QProcess run;
  run.start(QStringLiteral("pdfinfo"), {file});
  run.waitForFinished(30000);
  for (const QString& line : QString::fromUtf8(run.readAllStandardOutput()).split(QLatin1Char('\n')))
    if (line.startsWith(QLatin1String("Title:"))) return line.mid(6).trimmed();
  return {};
}

// Lines per page by the layout's rule, from this printer's page and the
// screen font: whole lines of the printable height, less a gap and the footer.
int LinesPerPage(QPrinter& printer, const TBrowse& store) {
  QFont font(QString::fromStdString(store.FontName), store.FontSize);
  font.setStyleHint(QFont::TypeWriter);
  const QFontMetricsF metrics(QFont(font, &printer), &printer);
  const double height = printer.pageLayout().paintRectPixels(printer.resolution()).height();
  return static_cast<int>(height / metrics.lineSpacing()) - 2;
}

// Runs `step` once a window of type T is there (a modal dialog opened by the
// code under test; a progress window also before it shows).
template <typename T>
void WhenShown(std::function<void(T*)> step, bool mustBeVisible = true) {
  auto* timer = new QTimer;
  timer->setInterval(20);
  QObject::connect(timer, &QTimer::timeout, [timer, step, mustBeVisible] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (auto* found = qobject_cast<T*>(widget); found && (found->isVisible() || !mustBeVisible)) {
        timer->stop();
        timer->deleteLater();
        step(found);
        return;
      }
    }
  });
  timer->start();
}

// The print dialog's range button of that caption.
QRadioButton* RangeButton(QWidget* dialog, const QString& caption) {
  for (QRadioButton* button : dialog->findChildren<QRadioButton*>())
    if (button->text().remove('&') == caption) return button;
  qFatal("no range button %s", qPrintable(caption));
}

std::vector<std::string> FileLines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < bytes.size()) {
    const std::size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(bytes.substr(start) + "<no line end>");
      break;
    }
    lines.push_back(bytes.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}
}  // namespace

class TPrintingTest : public QObject {
  Q_OBJECT
 private slots:
  void TheScrollBackOnNumberedPdfPagesEveryLineInOrder() {
    TWindow t;
    t.ReceiveListing(3000);
    const QString file = t.Pdf("scrollback.pdf");
    QTest::qWait(50);
    QVERIFY(t.W->PrintChosen({false, false}));
    QFile::remove(ArtifactPath("scrollback.pdf"));
    QFile::copy(file, ArtifactPath("scrollback.pdf"));
    QCOMPARE(PdfTitle(file), QString("Qel for Windows"));

    const TBrowse& store = *t.S().Screen;
    const int perPage = LinesPerPage(t.W->Printer(), store);
    QVERIFY(perPage > 20);
    const QList<QStringList> pages = PdfPages(file);
    const int expectedPages = (store.Count() + perPage - 1) / perPage;
    QCOMPARE(pages.size(), expectedPages);
    // Every page ends with its number, right-aligned; its other lines are
    // the non-blank screen lines of its share of the store, in order.
    for (int page = 0; page < pages.size(); ++page) {
      QStringList lines = pages[page];
      const QString number = lines.takeLast();
      QCOMPARE(number.trimmed(), QString::number(page + 1));
      // Right of every line of text on the page.
      for (const QString& line : lines) QVERIFY2(number.size() > line.size(), qPrintable(number + "|" + line));
      QStringList expected;
      for (int line = page * perPage; line < std::min(store.Count(), (page + 1) * perPage); ++line) {
        const QString text = QString::fromStdString(SavedLineText(store, line, false));
        if (!text.isEmpty()) expected << text;
      }
      QCOMPARE(Simple(lines), Simple(expected));
    }
    // Nothing lost: the greeting and the 3000 listing lines are all there.
    QString all;
    for (const QStringList& page : pages) all += page.join('\n') + '\n';
    all = Simple(all.split('\n')).join('\n');
    QVERIFY(all.contains("Logged in at : 06.12.2026 21:22:18"));
    for (int i = 1; i <= 3000; i += 333) QVERIFY(all.contains(Simple(QString::fromStdString(TWindow::ListingLine(i)))));
    QVERIFY(all.contains(Simple(QString::fromStdString(TWindow::ListingLine(3000)))));
  }

  void MarkedOnlyPrintsTheMarksColumns() {
    TWindow t;
    t.ReceiveListing(40);
    TBrowse& store = *t.S().Screen;
    const int first = store.ScreenLine(5);
    // From column 10 of one line to column 20 of the line two below.
    PlaceMark(store, kSelectionMark, first, first + 2, 10, 20);
    const QString file = t.Pdf("marked.pdf");
    QVERIFY(t.W->PrintChosen({true, false}));
    const QList<QStringList> pages = PdfPages(file);
    QCOMPARE(pages.size(), 1);
    const std::string top = store.GetLineText(first), middle = store.GetLineText(first + 1),
                      bottom = store.GetLineText(first + 2);
    const QStringList expected{QString::fromStdString(top.substr(9)), QString::fromStdString(middle),
                               QString::fromStdString(bottom.substr(0, 20)), "1"};
    QCOMPARE(Simple(pages[0]), Simple(expected));
  }

  void PrintToFileThroughTheDialogWritesTheWholeScrollBackIntoTheLogFileName() {
    TWindow t;
    t.ReceiveListing(3000);
    const std::string log = t.Dir.file("printed.log");
    WriteFileBytes(log, std::string(100000, 'x'));  // replaced, not appended to
    t.S().Settings.LogFileName = log;
    t.S().Settings.PrintToFile = 1;
    bool presetToFile = false, presetAll = false;
    WhenShown<TQelPrintDialog>([&](TQelPrintDialog* dialog) {
      presetToFile = dialog->ToFileBox()->isChecked();
      presetAll = dialog->printRange() == QAbstractPrintDialog::AllPages;
      dialog->accept();
    });
    t.W->Actions().Print->trigger();
    QVERIFY(presetToFile);
    QVERIFY(presetAll);
    const TBrowse& store = *t.S().Screen;
    const std::vector<std::string> lines = FileLines(ReadFileBytes(log));
    QCOMPARE(static_cast<int>(lines.size()), store.Count());
    // In order: the greeting, then LISTING 0001 .. 3000; blank lines otherwise;
    // no line keeps blanks at its end.
    std::vector<std::string> shown;
    for (const std::string& line : lines) {
      QVERIFY2(line.empty() || line.back() != ' ', line.c_str());
      if (!line.empty()) shown.push_back(line);
    }
    QCOMPARE(static_cast<int>(shown.size()), 3001);
    QCOMPARE(shown[0], std::string("Logged in at : 06.12.2026 21:22:18"));
    for (int i = 1; i <= 3000; ++i) QCOMPARE(shown[static_cast<std::size_t>(i)], TWindow::ListingLine(i));
  }

  void PrintingIntoTheOpenLogIsRefusedAndTheLogKeepsItsText() {
    TWindow t;
    const std::string log = t.Dir.file("open.log");
    t.S().Settings.LogFileName = log;
    t.W->Actions().Logfile->trigger();
    QVERIFY(t.S().Files->LogOpen);
    t.Receive("logged line\r\n");
    QString refusal;
    WhenShown<QMessageBox>([&](QMessageBox* box) {
      refusal = box->text();
      box->button(QMessageBox::Ok)->click();
    });
    QVERIFY(!t.W->PrintChosen({false, true}));
    QVERIFY2(refusal.startsWith("The Log File " + QString::fromStdString(log) + " is open."), qPrintable(refusal));
    t.W->Actions().Logfile->trigger();
    QVERIFY(!t.S().Files->LogOpen);
    QVERIFY(ReadFileBytes(log).find("logged line") != std::string::npos);
  }

  void PrintSetUpKeepsTheRangeAndTheToFileChoice() {
    TWindow t;
    t.S().Settings.PrintRange = 0;
    t.S().Settings.PrintToFile = 0;
    WhenShown<TQelPrintDialog>([](TQelPrintDialog* dialog) {
      QVERIFY(!RangeButton(dialog, "Selection")->isChecked());
      RangeButton(dialog, "Selection")->click();
      dialog->ToFileBox()->setChecked(true);
      dialog->accept();
    });
    t.W->Actions().PrintSetUp->trigger();
    QCOMPARE(t.S().Settings.PrintRange, std::uint8_t(1));
    QCOMPARE(t.S().Settings.PrintToFile, std::uint8_t(1));
    // The next dialog opens with them; cancelled, nothing changes.
    bool presetSelection = false, presetToFile = false;
    WhenShown<TQelPrintDialog>([&](TQelPrintDialog* dialog) {
      presetSelection = RangeButton(dialog, "Selection")->isChecked();
      presetToFile = dialog->ToFileBox()->isChecked();
      dialog->ToFileBox()->setChecked(false);
      dialog->reject();
    });
    t.W->Actions().PrintSetUp->trigger();
    QVERIFY(presetSelection);
    QVERIFY(presetToFile);
    QCOMPARE(t.S().Settings.PrintToFile, std::uint8_t(1));
  }

  void CancelInTheSpoolingWindowPrintsWhatWasTakenAndTheWindowGoesOn() {
    TWindow t;
    t.ReceiveListing(30000);
    const QString file = t.Pdf("cancelled.pdf");
    bool printShown = false;
    // Once spooling runs, the window answers: its progress window is there
    // to be cancelled and the status bar shows PRNT.
    WhenShown<QProgressDialog>([&](QProgressDialog* progress) {
      QCOMPARE(progress->windowTitle(), QString("Spooling Print Area"));
      printShown = t.W->StatusBar()->PanelText(7) == "PRNT";
      progress->cancel();
    }, false);
    const int pages = t.W->PagePrinter().PrintLines(t.W->Printer(), false, t.W.get());
    QVERIFY(printShown);
    QVERIFY(pages > 0);
    const int perPage = LinesPerPage(t.W->Printer(), *t.S().Screen);
    QVERIFY2(pages < t.S().Screen->Count() / perPage, qPrintable(QString::number(pages)));
    QCOMPARE(PdfPages(file).size(), pages);
    QCOMPARE(t.W->StatusBar()->PanelText(7), QString());
    // The window is alive and takes more text.
    t.Receive("after the print\r\n");
    QVERIFY(WaitFor([&] { return t.S().Screen->PendingDamage().Empty(); }));
  }

  void ThePreviewWindowShowsThePages() {
    TWindow t;
    t.ReceiveListing(150);
    TQelPrintPreview* preview = t.W->PrintPreviewWindow();
    QCOMPARE(preview->windowTitle(), QString("Qel Print Preview"));
    QCOMPARE(t.W->PrintPreviewWindow(), preview);  // made once
    WhenShown<TQelPrintPreview>([](TQelPrintPreview* shown) {
      QTest::qWait(100);
      QVERIFY(shown->grab().save(ArtifactPath("print-preview.png")));
      shown->reject();
    });
    t.W->Actions().PrintPreview->trigger();
    // 150 listing lines and the 101 before them need more than one page.
    QVERIFY2(preview->PagesShown() >= 2, qPrintable(QString::number(preview->PagesShown())));
  }

  void TheMemoViewerPrintsItsLinesAndPastesToDisk() {
    TWindow t;
    TMemoText memo;
    memo.Title = "PAIR  Display Mode";
    memo.Text = "PAIR\r\n  0000@0 000016 A     = INT \r\n  0002@0 000001 B     = BOOL \r\n";
    t.S().Desktop.ShowMemo(memo);
    auto* viewer = t.W->findChild<TQelMemoForm*>();
    QVERIFY(viewer);
    QVERIFY(viewer->Actions().Print->isEnabled());
    const std::string log = t.Dir.file("memo.log");
    t.S().Settings.LogFileName = log;
    QVERIFY(viewer->PrintChosen(false, true));
    QCOMPARE(ReadFileBytes(log), std::string("PAIR\r\n  0000@0 000016 A     = INT\r\n  0002@0 000001 B     = BOOL\r\n"));
    // The second line marked from its 3rd character: marked only takes that.
    QTextCursor cursor = viewer->TextView()->textCursor();
    const QTextBlock second = viewer->TextView()->document()->findBlockByNumber(1);
    cursor.setPosition(second.position() + 2);
    cursor.setPosition(second.position() + second.length() - 1, QTextCursor::KeepAnchor);
    viewer->TextView()->setTextCursor(cursor);
    QVERIFY(viewer->PrintChosen(true, true));
    QCOMPARE(ReadFileBytes(log), std::string("0000@0 000016 A     = INT\r\n"));
    // To a PDF: the viewer's lines on a numbered page.
    const QString pdf = t.Pdf("memo.pdf");
    QVERIFY(viewer->PrintChosen(false, false));
    const QList<QStringList> pages = PdfPages(pdf);
    QCOMPARE(pages.size(), 1);
    QCOMPARE(pages[0].size(), 4);
    QCOMPARE(Simple(pages[0][1]), QString("0000@0 000016 A = INT"));
    QCOMPARE(pages[0][3].trimmed(), QString("1"));
    // Paste to Disk is the main window's: the clipboard text into a file.
    t.S().Desktop.SetClipboardText("clipboard text");
    const std::string pasted = t.Dir.file("pasted.log");
    WhenShown<QFileDialog>([&](QFileDialog* dialog) {
      dialog->selectFile(QString::fromStdString(pasted));
      QMetaObject::invokeMethod(dialog, "accept");
    });
    viewer->Actions().PasteToDisk->setEnabled(true);
    viewer->Actions().PasteToDisk->trigger();
    QVERIFY(WaitFor([&] { return ReadFileBytes(pasted) == "clipboard text"; }));
  }
};

QTEST_MAIN(TPrintingTest)
#include "printing_test.moc"
