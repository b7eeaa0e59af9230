// The status bar, the memo viewer, the mode name dialog and the modem toolbar,
// offscreen: what they show, what a click or a key does, and how they look.
#include <QAction>
#include <QGroupBox>
#include <QImage>
#include <QTextBlock>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

#include "app/modemdial.h"
#include "app/statusbarmodel.h"
#include "comms/transmit.h"
#include "desktop/memoviewer.h"
#include "desktop/modemtoolbar.h"
#include "desktop/modenamedialog.h"
#include "desktop/statusbar.h"
#include "guitesting.h"
#include "log/errors.h"
#include "support/testing.h"

namespace {
// Pixels of exactly this colour inside rect.
int CountColour(const QImage& image, const QRect& rect, QRgb colour) {
  int count = 0;
  for (int y = rect.top(); y <= rect.bottom(); ++y) {
    for (int x = rect.left(); x <= rect.right(); ++x) {
      if (image.pixel(x, y) == colour) ++count;
    }
  }
  return count;
}

}  // namespace

class TBarsTest : public QObject {
  Q_OBJECT
 private slots:
  void statusBarClockModeShowsEachIndicator() {
    TQelClock bar;
    bar.ReadLocks = [] { return std::optional<TKeyLocks>(); };
    bar.SetClockWidth(90);
    bar.resize(800, 20);
    QVERIFY(Exposed(bar));
    bar.SetKeyLocks({true, true, false});
    TStatusIndicators status;
    status.LogStatus = true;
    status.Connected = true;
    status.LinesInBuffer = 150;
    bar.SetIndicators(status);
    bar.Tick();

    QCOMPARE(bar.PanelCount(), 11);
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$")).match(bar.PanelText(0)).hasMatch(),
             qPrintable(bar.PanelText(0)));
    QStringList shown;
    for (int i = 1; i < 11; ++i) shown << bar.PanelText(i);
    QCOMPARE(shown, (QStringList{"NUM", "CAPS", "", "LOG", "", "", "", "80x24", "150", "CONN"}));
    QCOMPARE(bar.PanelRect(0), QRect(0, 0, 90, 20));
    QCOMPARE(bar.toolTip(), QStringLiteral("Click to see system resources"));

    const QImage image = Shot(bar, QStringLiteral("statusbar-clock.png"));
    // Words are drawn where they are on, nothing where they are off.
    QVERIFY2(CountInk(image, bar.PanelRect(1)) > 10, "NUM not drawn: see statusbar-clock.png");
    QVERIFY2(CountInk(image, bar.PanelRect(8)) > 10, "80x24 not drawn");
    QCOMPARE(CountInk(image, bar.PanelRect(3)), 0);
    QCOMPARE(CountInk(image, bar.PanelRect(5)), 0);

    // The host's keyboard lock shows as Scroll Lock; a change repaints at once.
    status.ScrollLock = true;
    status.ScreenSize = true;
    bar.SetIndicators(status);
    QCOMPARE(bar.PanelText(3), QStringLiteral("SCRL"));
    QCOMPARE(bar.PanelText(8), QStringLiteral("132x24"));
    // The line count alone waits for the timer.
    status.LinesInBuffer = 2000;
    bar.SetIndicators(status);
    QCOMPARE(bar.PanelText(9), QStringLiteral("150"));
    QVERIFY(WaitFor([&] { return bar.PanelText(9) != QStringLiteral("150"); }, 3000));
    QVERIFY(bar.PanelText(9).startsWith(QLatin1Char('2')) && bar.PanelText(9).endsWith(QStringLiteral("000")));
  }

  void statusBarClickSwitchesModesAndHints() {
    TQelClock bar;
    bar.ReadScrollback = [] { return TScrollbackFigures{1234567, 3 * 1048576, 4.26}; };
    bar.resize(900, 20);
    QVERIFY(Exposed(bar));
    // A click on a panel reaches the bar.
    QWidget* panel = bar.findChild<QWidget*>(QStringLiteral("panel4"));
    QVERIFY(panel);
    QTest::mouseClick(panel, Qt::LeftButton);
    QCOMPARE(bar.PanelMode(), pmResources);
    QCOMPARE(bar.toolTip(), QStringLiteral("Click to see clock"));
    QCOMPARE(bar.PanelCount(), 7);
    // The figures' texts are the model's test; here, that each is in its panel.
    QVERIFY2(bar.PanelText(0).endsWith(QLatin1Char('%')), qPrintable(bar.PanelText(0)));
    QVERIFY2(bar.PanelText(5).endsWith(QStringLiteral(" Bytes")), qPrintable(bar.PanelText(5)));
    // The seventh panel: what the scroll-back holds and costs; it ends at the edge.
    QVERIFY2(bar.PanelText(6).endsWith(QStringLiteral("567 lines 3.0 MB 4.3:1")), qPrintable(bar.PanelText(6)));
    QCOMPARE(bar.PanelRect(6).right(), 899);
    QVERIFY(bar.findChild<QWidget*>(QStringLiteral("panel7"))->isHidden());
    const QImage image = Shot(bar, QStringLiteral("statusbar-resources.png"));
    QVERIFY2(CountInk(image, bar.PanelRect(5)) > 10, "heap figure not drawn: see statusbar-resources.png");
    QVERIFY2(CountInk(image, bar.PanelRect(6)) > 10, "scroll-back figures not drawn: see statusbar-resources.png");

    QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(300, 10));
    QCOMPARE(bar.PanelMode(), pmClock);
    QCOMPARE(bar.toolTip(), QStringLiteral("Click to see system resources"));
    QCOMPARE(bar.PanelCount(), 11);
    QCOMPARE(bar.PanelText(8), QStringLiteral("80x24"));
    QVERIFY(!bar.PanelText(0).isEmpty());  // the time at once, not 800 ms later

    bar.SetAllowClick(false);
    QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(300, 10));
    QCOMPARE(bar.PanelMode(), pmClock);
  }

  void statusBarGaugeShowsInPanelEightAndHides() {
    TQelClock bar;
    bar.resize(800, 20);
    QVERIFY(Exposed(bar));
    bar.ShowGauge(200);
    QVERIFY(bar.GaugeShown());
    QVERIFY(bar.SetGaugeProgress(100));
    QCOMPARE(bar.PanelText(8), QStringLiteral("50%"));

    const QRect gauge = bar.PanelRect(8);
    QImage image = Shot(bar, QStringLiteral("statusbar-gauge.png"));
    const int blue = CountColour(image, gauge, qRgb(0, 0, 255));
    QCOMPARE(blue, gauge.width() / 2 * gauge.height() - 2 * (gauge.width() / 2) - gauge.height() + 2);
    QCOMPARE(CountColour(image, bar.PanelRect(7), qRgb(0, 0, 255)), 0);

    // A new transfer starts from nothing, even with a smaller size.
    bar.ShowGauge(50);
    QCOMPARE(bar.GaugeProgress(), 0);
    QCOMPARE(bar.PanelText(8), QStringLiteral("0%"));

    bar.HideGauge();
    QCOMPARE(bar.PanelText(8), QStringLiteral("80x24"));
    image = Shot(bar, QStringLiteral("statusbar-gauge-hidden.png"));
    QCOMPARE(CountColour(image, gauge, qRgb(0, 0, 255)), 0);
  }

  void statusBarFollowsLockKeysWithoutTheWindowSystem() {
    TQelClock bar;
    bar.ReadLocks = [] { return std::optional<TKeyLocks>(); };
    QLineEdit typing;
    QVERIFY(Exposed(typing));
    QTest::keyClick(&typing, Qt::Key_CapsLock);
    QTest::keyClick(&typing, Qt::Key_NumLock);
    bar.Tick();
    QCOMPARE(bar.KeyLocks(), (TKeyLocks{true, true, false}));
    QCOMPARE(bar.PanelText(2), QStringLiteral("CAPS"));
    QTest::keyClick(&typing, Qt::Key_CapsLock);
    QTest::keyClick(&typing, Qt::Key_ScrollLock);
    bar.Tick();
    QCOMPARE((QStringList{bar.PanelText(1), bar.PanelText(2), bar.PanelText(3)}), (QStringList{"NUM", "", "SCRL"}));

    // Where the window system tells, it is believed over the key presses.
    bar.ReadLocks = [] { return std::optional<TKeyLocks>(TKeyLocks{false, true, false}); };
    bar.Tick();
    QCOMPARE(std::pair(bar.PanelText(1), bar.PanelText(2)), std::pair(QString(), QStringLiteral("CAPS")));
  }

  void memoViewerShowsTextAndCaret() {
    TQelMemoForm memo;
    TMemoText text;
    text.Title = "MSG_HEADER  Display Mode";
    text.Text = "MSG_HEADER\r\n  0000@0 000016 M_ID    INT\r\n  0002@0 000008 M_LEN    BIN\r\n";
    text.CursorLine = 2;
    text.CursorColumn = 3;
    memo.SetMemo(text);
    QVERIFY(Exposed(memo));
    QCOMPARE(memo.windowTitle(), QStringLiteral("MSG_HEADER  Display Mode"));
    QCOMPARE(memo.TextView()->toPlainText(),
             QStringLiteral("MSG_HEADER\n  0000@0 000016 M_ID    INT\n  0002@0 000008 M_LEN    BIN"));
    QVERIFY(memo.TextView()->isReadOnly());
    QVERIFY(QFontInfo(memo.TextView()->font()).fixedPitch());
    QCOMPARE(std::pair(memo.CursorLine(), memo.CursorColumn()), std::pair(2, 3));
    // Room for 80 columns of its font.
    QVERIFY(memo.TextView()->viewport()->width() >=
            QFontMetrics(memo.TextView()->font()).horizontalAdvance(QString(80, QLatin1Char('M'))));
    Shot(memo, QStringLiteral("memoviewer.png"));

    memo.SetCursor(99, 99);  // past the end: the last line's end
    QCOMPARE(std::pair(memo.CursorLine(), memo.CursorColumn()), std::pair(3, 29));
    memo.SetCursor(0, 0);
    QCOMPARE(std::pair(memo.CursorLine(), memo.CursorColumn()), std::pair(1, 1));
  }

  // Down with Return, and Esc, are the mode dialog's list test.
  void memoViewerChoosesOnAnEmptyListAndByDoubleClick() {
    TQelMemoForm empty;
    empty.SetMemo(TMemoText{});
    empty.show();
    QTest::keyClick(empty.TextView(), Qt::Key_Return);
    QCOMPARE(empty.result(), int(QDialog::Accepted));
    QCOMPARE(empty.ChosenLine(), QString());
    TQelMemoForm memo;
    memo.SetMemo({"List of available modes. Select and press 'RETURN'", "MODE_A\nMODE_B\nMODE_C\n"});
    QVERIFY(Exposed(memo));
    const QTextCursor thirdLine(memo.TextView()->document()->findBlockByNumber(2));
    const QRect third = memo.TextView()->cursorRect(thirdLine);
    QTest::mouseDClick(memo.TextView()->viewport(), Qt::LeftButton, {}, third.center());
    QCOMPARE(memo.result(), int(QDialog::Accepted));
    QCOMPARE(memo.ChosenLine(), QStringLiteral("MODE_C"));
  }

  void memoViewerFinds() {
    TQelMemoForm memo;
    TMemoText text;
    text.Text = "alpha\nBeta one\nbeta two\n";
    text.CursorLine = 3;
    memo.SetMemo(text);
    memo.SearchText = QStringLiteral("beta");
    memo.FromStart = true;
    QVERIFY(memo.Find(2));
    QCOMPARE(memo.CursorLine(), 2);  // from the start, any case
    QVERIFY(memo.Find(0));
    QCOMPARE(memo.CursorLine(), 3);
    QVERIFY(!memo.Find(0));  // nothing after the last
    QVERIFY(memo.Find(1));
    QCOMPARE(memo.CursorLine(), 2);
    memo.CaseSensitive = true;
    memo.SearchText = QStringLiteral("Beta");
    memo.SetCursor(3, 1);
    memo.FromStart = false;  // from the caret: the only "Beta" is behind it
    QVERIFY(!memo.Find(2));
    memo.FromStart = true;
    QVERIFY(memo.Find(2));
    QCOMPARE(memo.CursorLine(), 2);
  }

  void modeDialogBrowseWithoutModeFileBeepsAndSaysSoAndAMissingListIsReported() {
    TTestSession t;
    TModeDialogBox dialog(t.Desktop, *t.S->Errors);
    dialog.SetModeName("MSG_HEADER");
    dialog.SetModeListFile("");
    bool listShown = false;
    dialog.ChooseFromList = [&](const TMemoText&) {
      listShown = true;
      return std::optional<std::string>();
    };
    QVERIFY(Exposed(dialog));
    Shot(dialog, QStringLiteral("modenamedialog.png"));
    QCOMPARE(dialog.findChild<QGroupBox*>()->title(), QStringLiteral("Enter Mode Name"));
    QTest::mouseClick(dialog.BrowseButton(), Qt::LeftButton);
    QCOMPARE(t.Desktop.Beeps, 1);
    QCOMPARE(BoxTexts(t.Desktop), std::vector<std::string>{"No Mode Name File Specified\rEnter in Setup|Files"});
    QVERIFY(!listShown);
    QCOMPARE(dialog.NameEdit()->text(), QStringLiteral("MSG_HEADER"));
    QVERIFY(dialog.BrowseButton()->isEnabled());

    // A list file that is not there is reported, without a beep.
    const std::string missing = t.Dir.file("nothere.mnt");
    dialog.SetModeListFile(missing);
    dialog.Browse();
    QCOMPARE(BoxTexts(t.Desktop).back(), "File access error. File = " + missing + "\rError = " + ErrorCodeText(2));
    QCOMPARE(t.Desktop.Boxes.size(), std::size_t(2));
    QCOMPARE(t.Desktop.Beeps, 1);
    QVERIFY(dialog.BrowseButton()->isEnabled());
  }

  void modeDialogBrowseTakesTheChosenLine() {
    TTestSession t;
    const std::string list = t.Dir.file("demo.mnt");
    WriteFileBytes(list, "MODE_A\r\n  MSG_HEADER  \r\nMODE_C\r\n");
    TModeDialogBox dialog(t.Desktop, *t.S->Errors);
    dialog.SetModeName("OLD");
    dialog.SetModeListFile(list);
    dialog.show();
    QString title;
    bool browseEnabledMeanwhile = true;
    WhenShown<TQelMemoForm>([&](TQelMemoForm* memo) {
      title = memo->windowTitle();
      browseEnabledMeanwhile = dialog.BrowseButton()->isEnabled();
      Shot(*memo, QStringLiteral("modelist.png"));
      QTest::keyClick(memo->TextView(), Qt::Key_Down);
      QTest::keyClick(memo->TextView(), Qt::Key_Return);
    });
    dialog.Browse();
    QCOMPARE(title, QStringLiteral("List of available modes. Select and press 'RETURN'"));
    QVERIFY(!browseEnabledMeanwhile);
    QCOMPARE(dialog.NameEdit()->text(), QStringLiteral("MSG_HEADER"));
    QVERIFY(dialog.BrowseButton()->isEnabled());
    QVERIFY(t.Desktop.Boxes.empty());

    // Cancelling the list keeps the name.
    WhenShown<TQelMemoForm>([](TQelMemoForm* memo) { QTest::keyClick(memo, Qt::Key_Escape); });
    dialog.Browse();
    QCOMPARE(dialog.NameEdit()->text(), QStringLiteral("MSG_HEADER"));
  }

  void modeDialogAskGivesTheNameOrNothing() {
    TTestSession t;
    WhenShown<TModeDialogBox>([](TModeDialogBox* dialog) {
      QCOMPARE(dialog->NameEdit()->text(), QStringLiteral("MSG_HEADER"));
      QVERIFY(dialog->testAttribute(Qt::WA_WState_Visible));
      QVERIFY(dialog->windowFlags() & Qt::WindowStaysOnTopHint);
      dialog->NameEdit()->setText(QStringLiteral("dss1_setup"));
      QTest::keyClick(dialog->NameEdit(), Qt::Key_Return);  // OK is the default
    });
    std::optional<std::string> name = TModeDialogBox::Ask(t.Desktop, *t.S->Errors, nullptr, "MSG_HEADER", "");
    QVERIFY(name.has_value());
    QCOMPARE(QString::fromStdString(*name), QStringLiteral("dss1_setup"));

    WhenShown<TModeDialogBox>([](TModeDialogBox* dialog) { QTest::keyClick(dialog, Qt::Key_Escape); });
    name = TModeDialogBox::Ask(t.Desktop, *t.S->Errors, nullptr, "MSG_HEADER", "");
    QVERIFY(!name.has_value());
  }

  // What the buttons, edits and list do is the modem's (its own tests);
  // here, that the toolbar shows it and is wired to it.
  void modemToolbar() {
    TTestSession t;
    TModem modem(ModemContext(*t.S));
    TModemToolbar bar(modem);
    bar.ShowSettings();
    bar.resize(bar.sizeHint());
    bar.SetToolbarVisible(true);
    QVERIFY(Exposed(bar));
    QCOMPARE(bar.DialListBox()->count(), 4);
    QCOMPARE(bar.DialListBox()->itemText(3), QStringLiteral("Vorp3"));
    QCOMPARE(bar.InitAction()->text(), QStringLiteral("I"));
    QCOMPARE((QStringList{bar.DialAction()->toolTip(), bar.HangUpAction()->toolTip(), bar.InitAction()->toolTip(),
                          bar.DialListBox()->toolTip(), bar.DialStringEdit()->toolTip(),
                          bar.HangUpStringEdit()->toolTip(), bar.InitModemStringEdit()->toolTip()}),
             (QStringList{"Start Dialling", "Hang Up", "Send Init Modem String", "Select a telephone number",
                          "Dial String", "Hangup String", "Init Modem String"}));
    QCOMPARE(bar.DialStringEdit()->text(), QStringLiteral("ATDP 9,"));
    QCOMPARE(bar.HangUpStringEdit()->text(), QStringLiteral("<P:20>+++<P:20>ATH<CR>"));
    Shot(bar, QStringLiteral("modemtoolbar.png"));

    // Typing goes into the settings at once, cut to what they hold.
    bar.DialStringEdit()->clear();
    QTest::keyClicks(bar.DialStringEdit(), QStringLiteral("ATDT"));
    QCOMPARE(t.S->Settings.DialString.str(), std::string("ATDT"));
    QTest::keyClicks(bar.DialListBox()->lineEdit(), QStringLiteral("0123456789012345678901234567890123456"));
    QCOMPARE(t.S->Settings.DialNumber.str(), std::string("01234567890123456789012345678901"));
    bar.InitModemStringEdit()->clear();
    QTest::keyClicks(bar.InitModemStringEdit(), QStringLiteral("ATZ<CR>"));
    QCOMPARE(t.S->Settings.InitModemString.str(), std::string("ATZ<CR>"));

    t.S->Transmit->SerialConnected = true;
    bar.DialAction()->trigger();
    QCOMPARE(modem.ModemString, std::string("ATDT01234567890123456789012345678901\r"));
    bar.InitAction()->trigger();
    QCOMPARE(modem.ModemString, std::string("ATZ<CR>"));
    bar.HangUpAction()->trigger();
    QCOMPARE(modem.ModemString, std::string("<P:20>+++<P:20>ATH<CR>"));
    QVERIFY(t.Desktop.Boxes.empty());

    // Opening the list reads the dial list file into it.
    WriteFileBytes(t.Dir.file("QELWIN.TEL"), "Exchange Nord= 0815 4711\r\nno number here\r\n");
    t.S->Settings.DialNumber = "555";
    bar.ShowSettings();
    bar.DialListBox()->showPopup();
    bar.DialListBox()->hidePopup();
    QCOMPARE(bar.DialListBox()->count(), 2);
    QCOMPARE(bar.DialListBox()->itemText(0), QStringLiteral("Exchange Nord= 0815 4711"));
    QCOMPARE(bar.DialListBox()->currentText(), QStringLiteral("555"));  // filling the list keeps the box
    emit bar.DialListBox()->activated(0);
    QCOMPARE(bar.DialListBox()->currentText(), QStringLiteral("0815 4711"));  // the setting is the modem's test
    Shot(bar, QStringLiteral("modemtoolbar-list.png"));

    bar.SetToolbarVisible(false);
    QVERIFY(!bar.isVisible());
    QCOMPARE(bar.DialListBox()->count(), 0);
  }
};

QTEST_MAIN(TBarsTest)
#include "bars_test.moc"
