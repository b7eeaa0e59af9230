// The manual opens from the Help menu, the dialogs' Help buttons and the
// error boxes' Help buttons, each at the topic that explains it; a box stays
// up while its topic is read.
#include <QAction>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPrinter>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QtTest>

#include "desktop/configdialog.h"
#include "desktop/helpwindow.h"
#include "desktop/mainwindow.h"
#include "desktop/memoviewer.h"
#include "desktop/printdialog.h"
#include "desktop/qtdesktop.h"
#include "guitesting.h"

namespace {
// The manual window shows the heading in view, scrolled there unless it is
// the page's top.
bool ShowsHeading(QTextBrowser* browser, const QString& heading) {
  if (!browser || !browser->isVisible()) return false;
  for (QTextBlock block = browser->document()->begin(); block.isValid(); block = block.next()) {
    if (block.text() != heading) continue;
    const QRect at = browser->cursorRect(QTextCursor(block));
    const bool top = block.blockNumber() == 0;
    return at.top() >= 0 && at.bottom() <= browser->viewport()->height() &&
           (browser->verticalScrollBar()->value() > 0) != top;
  }
  return false;
}
}  // namespace

class THelpTest : public QObject {
  Q_OBJECT
 private slots:
  void TheHelpMenuOpensTheManualAtItsTop() {
    TStartedWindow t;
    t.W->Actions().Help->trigger();
    QTextBrowser* manual = HelpWindowOf(t.W.get());
    QVERIFY(ShowsHeading(manual, "QEL for Windows"));
    t.W->Actions().Help->trigger();
    QCOMPARE(HelpWindowOf(t.W.get()), manual);  // the same window again
  }

  void EveryTopicIsAHeadingOfTheManual() {
    QWidget host;
    const std::pair<const char*, const char*> topics[] = {
        {help::kConnecting, "Connecting"}, {help::kConfigure, "Configuration"},
        {help::kAttributes, "Colours and attributes"}, {help::kSoftKeys, "Soft keys"},
        {help::kTransfer, "Transfers"}, {help::kPaste, "Paste"}, {help::kTrace, "Trace decoding (QUORIX)"},
        {help::kModes, "Display Mode and conversion"}, {help::kMemo, "The memo viewer"},
        {help::kPrinting, "Printing"}, {help::kFiles, "Settings files"}, {help::kErrors, "Error messages"}};
    for (const auto& [topic, heading] : topics) {
      QVERIFY(ShowHelpTopic(&host, QString::fromLatin1(topic)));
      QVERIFY2(ShowsHeading(HelpWindowOf(&host), heading), topic);
    }
  }

  void DialogHelpButtonsOpenTheirTopics() {
    TTestSession t;
    TConfigDialog config(t.S->Settings, t.Desktop);
    config.show();
    DialogButton(config, QDialogButtonBox::Help)->click();
    QVERIFY(ShowsHeading(HelpWindowOf(&config), "Configuration"));
    QPrinter printer;
    TQelPrintDialog print(printer, {}, "", nullptr);
    print.show();
    print.HelpButton()->click();
    QVERIFY(ShowsHeading(HelpWindowOf(&print), "Printing"));
    TQelMemoForm memo;
    memo.show();
    memo.Actions().Help->trigger();
    QVERIFY(ShowsHeading(HelpWindowOf(&memo), "The memo viewer"));
  }

  void AnErrorBoxStaysUpWhileItsTopicIsRead() {
    TQtDesktop desktop;
    bool shown = false, stayed = false;
    WhenShown<QMessageBox>([&](QMessageBox* box) {
      box->button(QMessageBox::Help)->click();
      shown = ShowsHeading(HelpWindowOf(box), "Settings files");
      stayed = box->isVisible();
      box->button(QMessageBox::Ok)->click();
    });
    QCOMPARE(desktop.ShowMessage({TMsgIcon::Error, "No LogFile Name specified\rCorrect in the Setup|Configure|Files",
                                  "", mbOK | mbHelp, 0}),
             TMsgResult::OK);
    QVERIFY(shown);
    QVERIFY(stayed);
    // Other boxes by what they say: a refusal of the QUORIX toolbar, a file error.
    QCOMPARE(HelpTopicOf({TMsgIcon::Error, "Option only for Terminal Type = QUORIX", "", mbOK | mbHelp, 0}),
             QString(help::kTrace));
    QCOMPARE(HelpTopicOf({TMsgIcon::Error, "File access error. File = x", "", mbOK | mbHelp, 2}),
             QString(help::kErrors));
  }
};

QTEST_MAIN(THelpTest)
#include "help_test.moc"
