// The manual opens from the Help menu, the dialogs' Help buttons and the
// error boxes' Help buttons, each at the topic that explains it; a box stays
// up while its topic is read.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QMenuBar>
#include <QMessageBox>
#include <QPrinter>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>

#include "core/session.h"
#include "desktop/attributechooser.h"
#include "desktop/configdialog.h"
#include "desktop/helpwindow.h"
#include "desktop/mainwindow.h"
#include "desktop/memoviewer.h"
#include "desktop/modenamedialog.h"
#include "desktop/printdialog.h"
#include "desktop/qtdesktop.h"
#include "guitesting.h"
#include "support/testing.h"

namespace {
// The heading a topic's anchor stands in, shown in the manual's window: true
// when it is in view, and the view had to scroll to it unless it is the top.
bool ShowsHeading(QTextBrowser* browser, const QString& heading, bool scrolled) {
  if (!browser || !browser->isVisible()) return false;
  for (QTextBlock block = browser->document()->begin(); block.isValid(); block = block.next()) {
    if (block.text() != heading) continue;
    const QRect at = browser->cursorRect(QTextCursor(block));
    const bool inView = at.top() >= 0 && at.bottom() <= browser->viewport()->height();
    return inView && (browser->verticalScrollBar()->value() > 0) == scrolled;
  }
  return false;
}

template <typename T>
void WhenShown(std::function<void(T*)> step) {
  auto* timer = new QTimer;
  timer->setInterval(20);
  QObject::connect(timer, &QTimer::timeout, [timer, step] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (auto* found = qobject_cast<T*>(widget); found && found->isVisible()) {
        timer->stop();
        timer->deleteLater();
        step(found);
        return;
      }
    }
  });
  timer->start();
}
}  // namespace

class THelpTest : public QObject {
  Q_OBJECT
 private slots:
  void TheHelpMenuOpensTheManualAtItsTop() {
    TTempDir dir;
    TWindowOptions options;
    options.SkipBackgroundFile = true;
    TMainWindow window(dir.path().string(), options);
    window.show();
    window.Actions().Help->trigger();
    QTextBrowser* manual = HelpWindowOf(&window);
    QVERIFY(manual);
    QCOMPARE(manual->windowTitle(), QString("QEL for Windows Help"));
    QVERIFY(ShowsHeading(manual, "QEL for Windows", false));
    // Once made, the same window again.
    window.Actions().Help->trigger();
    QCOMPARE(HelpWindowOf(&window), manual);
  }

  void DialogHelpButtonsOpenTheirTopics() {
    TTestSession t;
    TConfigDialog config(t.S->Settings, t.Desktop);
    config.show();
    QPushButton* help = config.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Help);
    QVERIFY(help->isEnabled());
    help->click();
    QVERIFY(ShowsHeading(HelpWindowOf(&config), "Configuration", true));
    // A second topic in the same window moves it there.
    ShowHelpTopic(&config, QString::fromLatin1(help::kPrinting));
    QVERIFY(ShowsHeading(HelpWindowOf(&config), "Printing", true));

    QPrinter printer;
    TQelPrintDialog print(printer, {}, "", nullptr);
    print.show();
    print.HelpButton()->click();
    QVERIFY(ShowsHeading(HelpWindowOf(&print), "Printing", true));

    TQelMemoForm memo;
    memo.show();
    memo.Actions().Help->trigger();
    QVERIFY(ShowsHeading(HelpWindowOf(&memo), "The memo viewer", true));
  }

  void AnErrorBoxStaysUpWhileItsTopicIsRead() {
    TQtDesktop desktop;
    QString topicShown;
    bool boxStayed = false;
    WhenShown<QMessageBox>([&](QMessageBox* box) {
      box->button(QMessageBox::Help)->click();
      QTextBrowser* manual = HelpWindowOf(box);
      if (manual && ShowsHeading(manual, "Settings files", true)) topicShown = "files";
      boxStayed = box->isVisible();
      box->button(QMessageBox::Ok)->click();
    });
    const TMsgResult answer = desktop.ShowMessage(
        {TMsgIcon::Error, "No LogFile Name specified\rCorrect in the Setup|Configure|Files", "", mbOK | mbHelp, 0});
    QCOMPARE(answer, TMsgResult::OK);
    QCOMPARE(topicShown, QString("files"));
    QVERIFY(boxStayed);
  }

  void BoxesChooseTheirTopicsByWhatTheySay() {
    auto topic = [](const char* text, int context = 0) {
      return HelpTopicOf(TMessageBox{TMsgIcon::Error, text, "", mbOK | mbHelp, context});
    };
    QCOMPARE(topic("Option only for Terminal Type = QUORIX\rChange in SETUP|CONFIGURE|DISPLAY|EMULATION"),
             QString("trace"));
    QCOMPARE(topic("Paste already in Progress. Cancel Previous"), QString("paste"));
    QCOMPARE(topic("Playback is already active\rPlayBack and sending can't be active at the same time"),
             QString("transfer"));
    QCOMPARE(topic("No Send File Name specified\rCorrect in the Setup|Configure|Files"), QString("transfer"));
    QCOMPARE(topic("File access error. File = x\rError = The system cannot find the file specified.", 2),
             QString("errors"));
    // Every topic a box or a dialog opens is an anchor of the manual.
    QWidget host;
    QVERIFY(ShowHelpTopic(&host, QString()));
    const QString html = HelpWindowOf(&host)->toHtml();
    for (const char* anchor : {help::kConnecting, help::kConfigure, help::kAttributes, help::kSoftKeys, help::kTransfer,
                               help::kPaste, help::kTrace, help::kModes, help::kMemo, help::kPrinting, help::kFiles,
                               help::kErrors}) {
      QVERIFY2(html.contains(QString("name=\"%1\"").arg(anchor)), anchor);
    }
  }
};

QTEST_MAIN(THelpTest)
#include "help_test.moc"
