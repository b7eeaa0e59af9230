// The keyboard side of the window, offscreen: Qt key events to the keys the
// key handler takes and on to the host, the soft-key bars, the soft-key,
// answer-back, tab stop and key map dialogs, and the history box.
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include "comms/recordinglines.h"
#include "comms/transmit.h"
#include "desktop/historybox.h"
#include "desktop/keyevents.h"
#include "desktop/keymapdialog.h"
#include "desktop/softkeybar.h"
#include "desktop/softkeydialog.h"
#include "desktop/tabstopdialog.h"
#include "guitesting.h"
#include "support/testing.h"
#include "terminal/keyboard.h"
#include "terminal/keymap.h"
#include "transfer/engine.h"

namespace {
TKeyStroke Stroke(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, const QString& text = {}, int count = 1) {
  const QKeyEvent event(QEvent::KeyPress, key, modifiers, text, false, static_cast<quint16>(count));
  return KeyStrokeFromQt(event);
}

// Stands in for the screen view: hands every key event to the session.
class TKeySink : public QWidget {
 public:
  explicit TKeySink(TSession& session) : S(session) { setFocusPolicy(Qt::StrongFocus); }

 protected:
  void keyPressEvent(QKeyEvent* event) override { DeliverKeyEvent(S, *event); }
  void keyReleaseEvent(QKeyEvent* event) override { DeliverKeyEvent(S, *event); }

 private:
  TSession& S;
};

// A session talking to a recording line, seven bits, Enter sending CR alone.
struct TKeyedSession : TWiredSession {
  TKeyedSession() {
    Settings().NewLine = 0;
    Settings().DataBits = 3;
  }
  QByteArray Sent() { return QByteArray::fromStdString(TakeSent()); }
};

}  // namespace

class TKeyboardTest : public QObject {
  Q_OBJECT
 private slots:
  // ------------------------------------------------------- key translation
  void qtKeysBecomeVirtualKeys() {
    struct TRow {
      int QtKey;
      Qt::KeyboardModifiers Modifiers;
      QString Text;
      int Key;
    };
    const auto keypad = Qt::KeypadModifier;
    const TRow rows[] = {
        {Qt::Key_F1, {}, {}, vkF1}, {Qt::Key_F12, Qt::ShiftModifier, {}, vkF12}, {Qt::Key_Up, {}, {}, vkUp},
        {Qt::Key_PageDown, {}, {}, vkNext}, {Qt::Key_A, {}, "a", 'A'},
        // Keypad keys with Num Lock on; its arrows (Num Lock off) are the arrows.
        {Qt::Key_5, keypad, "5", vkNumpad5}, {Qt::Key_Minus, keypad, "-", vkSubtract},
        {Qt::Key_Asterisk, keypad, "*", vkMultiply}, {Qt::Key_Up, keypad, {}, vkUp},
        {Qt::Key_Enter, keypad, "\r", vkReturn}, {Qt::Key_Pause, Qt::ControlModifier, {}, vkCancel},  // Ctrl+Break
        {Qt::Key_Pause, {}, {}, vkPause},
        // A punctuation key's Qt code is its character, which must not pass
        // for a virtual key ('!' is 33, the code of Page Up).
        {Qt::Key_Exclam, Qt::ShiftModifier, "!", 0}};
    for (const TRow& row : rows) QCOMPARE(Stroke(row.QtKey, row.Modifiers, row.Text).Key, row.Key);
    QCOMPARE(Stroke(Qt::Key_F12, Qt::ShiftModifier).Modifiers, unsigned(kmShift));
    QVERIFY(Stroke(Qt::Key_Enter, Qt::KeypadModifier, "\r").Extended);
    QVERIFY(!Stroke(Qt::Key_Return, Qt::NoModifier, "\r").Extended);
    QCOMPARE(Stroke(Qt::Key_X, Qt::NoModifier, "x", 3).Repeat, 3);
  }

  void qtKeysMakeLatin1Characters() {
    const std::tuple<int, Qt::KeyboardModifiers, QString, std::string> rows[] = {
        {Qt::Key_C, Qt::ControlModifier, {}, "\x03"}, {Qt::Key_BracketLeft, Qt::ControlModifier, {}, "\x1b"},
        {Qt::Key_Backspace, {}, {}, "\b"}, {Qt::Key_Escape, {}, {}, "\x1b"}, {Qt::Key_Tab, {}, {}, "\t"},
        {Qt::Key_Return, {}, {}, "\r"}, {Qt::Key_Exclam, Qt::ShiftModifier, "!", "!"},
        // Keys the layout makes no character of, whatever text Qt gives them.
        {Qt::Key_Delete, {}, "\x7f", ""}, {Qt::Key_F1, {}, {}, ""},
        {Qt::Key_Eacute, {}, QString(QChar(0xE9)), "\xe9"},
        {Qt::Key_unknown, {}, QString(QChar(0x20AC)), ""}};  // no Latin-1 euro
    for (const auto& [key, modifiers, text, made] : rows) QCOMPARE(Stroke(key, modifiers, text).Text, made);
  }

  // What each key sends is the key handler's table, the modifiers a stroke
  // carries the stroke table above; here, that the events reach it.
  void keyEventsReachTheHost() {
    TKeyedSession w;
    w.S->Settings.Emulation = emVT100;
    TKeySink sink(*w.S);
    sink.show();
    QTest::keyClicks(&sink, "ls");
    QTest::keyClick(&sink, Qt::Key_Return);
    QCOMPARE(w.Sent(), QByteArray("ls\r"));
    // Alt+key is for the menus; F10 is a key even so (a cursor key here).
    QTest::keyClick(&sink, Qt::Key_F, Qt::AltModifier);
    QTest::keyClick(&sink, Qt::Key_F4, Qt::AltModifier);
    QCOMPARE(w.Sent(), QByteArray());
    QTest::keyClick(&sink, Qt::Key_F10);
    QCOMPARE(w.Sent(), QByteArray("\x1b[C"));
  }

  // What a lock sends (XON and XOFF on Scroll Lock) is the key handler's test.
  void lockKeyReleasesFlipTheLockStates() {
    TKeyedSession w;
    TKeyboard& keyboard = *w.S->Keyboard;
    TKeySink sink(*w.S);
    QVERIFY(keyboard.Locks.NumLock);
    QTest::keyClick(&sink, Qt::Key_NumLock);
    QVERIFY(!keyboard.Locks.NumLock);
    QTest::keyClick(&sink, Qt::Key_ScrollLock);
    QVERIFY(keyboard.Locks.ScrollLock);
    QTest::keyClick(&sink, Qt::Key_ScrollLock);
    QVERIFY(!keyboard.Locks.ScrollLock);
    // A keypad digit can only come with Num Lock on.
    QTest::keyClick(&sink, Qt::Key_3, Qt::KeypadModifier);
    QVERIFY(keyboard.Locks.NumLock);
  }

  // ------------------------------------------------------- soft-key bars
  void softKeyBarDrawsItsHintsAndReportsTheKeyClicked() {
    TSetupRecord settings = DefaultSettings();
    settings.ShiftSoftKeys[2] = "list";
    TQelSoftK bar(sgShift);
    bar.ApplySettings(settings);
    bar.resize(720, bar.sizeHint().height());
    QVERIFY(Exposed(bar));
    // Which soft key a bar's key starts is the layout's test; here, the key clicked.
    QSignalSpy clicks(&bar, &TQelSoftK::Clicked);
    QTest::mouseClick(&bar, Qt::LeftButton, {}, bar.KeyRect(3).center());
    QCOMPARE(clicks.count(), 1);
    QCOMPARE(clicks[0][0].toInt(), 3);
    QTest::mouseClick(&bar, Qt::LeftButton, {}, QPoint(10, bar.height() / 2));  // the label
    QTest::mouseClick(&bar, Qt::RightButton, {}, bar.KeyRect(1).center());
    QCOMPARE(clicks.count(), 1);

    const QImage image = Shot(bar, "softkeybar.png");
    const QRect label(0, 0, bar.Layout().LabelWidth, bar.height());
    QVERIFY2(CountInk(image, label) > 20, "the label is drawn; see softkeybar.png");
    QVERIFY2(CountInk(image, bar.KeyRect(3)) > 10, "key 3 shows its hint");
    QCOMPARE(CountInk(image, bar.KeyRect(5)), 0);  // no definition, no text
  }

  void softKeyBarHoverShowsTheKeysHint() {
    TSetupRecord settings = DefaultSettings();
    settings.CntrlSoftKeys[6] = "<P:20>bye<CR>";
    TQelSoftK bar(sgCntrl);
    bar.ApplySettings(settings);
    bar.resize(600, 24);
    QVERIFY(Exposed(bar));
    QTest::mouseMove(&bar, bar.KeyRect(7).center());
    QTRY_COMPARE(bar.toolTip(), QString("<P:20>bye<CR>"));
    QTest::mouseMove(&bar, bar.KeyRect(8).center());
    QTRY_COMPARE(bar.toolTip(), QString());
  }

  // ------------------------------------------------------- dialogs
  void softKeyDialogCaptionsFieldsAndOkHandingBackTheCopy() {
    TSetupRecord settings = DefaultSettings();
    settings.SoftKeys[0] = "f1";
    settings.ShiftSoftKeys[1] = "old";
    settings.ShiftSoftKeys[11] = "s12";
    settings.CntrlSoftKeys[4] = "c5";
    TQelFKeyDlg normal(settings, TQelFKeyDlg::fkNormal);
    TQelFKeyDlg shift(settings, TQelFKeyDlg::fkShift);
    TQelFKeyDlg cntrl(settings, TQelFKeyDlg::fkCntrl);
    QCOMPARE((QStringList{normal.windowTitle(), shift.windowTitle(), cntrl.windowTitle()}),
             (QStringList{"Define Function Keys F1 to F12", "Define Shift-Function Keys F1 to F12",
                          "Define Cntrl-Function Keys F1 to F12"}));
    QCOMPARE((QStringList{normal.Edits[0]->text(), shift.Edits[11]->text(), cntrl.Edits[4]->text()}),
             (QStringList{"f1", "s12", "c5"}));
    for (int i = 0; i < 12; ++i) {
      QCOMPARE(normal.Labels[i]->text(), QString("F%1").arg(i + 1));
      QCOMPARE(normal.Edits[i]->maxLength(), 255);
    }
    QCOMPARE(normal.HelpBtn->text().remove('&'), QString("Help"));
    QVERIFY(Exposed(normal));
    Shot(normal, "softkeydialog.png");

    shift.show();
    shift.Edits[1]->setText("new<CR>");
    shift.Edits[2]->setText(QString("caf") + QChar(0xE9));
    QTest::mouseClick(shift.OkBtn, Qt::LeftButton);
    QCOMPARE(shift.result(), int(QDialog::Accepted));
    const TSetupRecord edited = shift.Settings();
    // Other groups stay.
    QCOMPARE((std::vector<std::string>{edited.ShiftSoftKeys[1].str(), edited.ShiftSoftKeys[2].str(),
                                       edited.SoftKeys[0].str()}),
             (std::vector<std::string>{"new<CR>", "caf\xe9", "f1"}));
    QCOMPARE(edited.AnswerBack.str(), settings.AnswerBack.str());

    TQelFKeyDlg cancelled(settings, TQelFKeyDlg::fkShift);
    cancelled.show();
    cancelled.Edits[1]->setText("discarded");
    QTest::mouseClick(cancelled.CancelBtn, Qt::LeftButton);
    QCOMPARE(cancelled.result(), int(QDialog::Rejected));
  }

  void answerBackDialogHasOneField() {
    TSetupRecord settings = DefaultSettings();
    const std::string answerBack = settings.AnswerBack.str();
    QVERIFY(answerBack.rfind("<2>", 0) == 0);
    TQelFKeyDlg dialog(settings, TQelFKeyDlg::fkAnswerBack);
    QVERIFY(Exposed(dialog));
    QCOMPARE(dialog.windowTitle(), QString("Define Answer back string"));
    QVERIFY(dialog.Edits[0]->isVisible());
    for (int i = 1; i < 12; ++i) QVERIFY(!dialog.Edits[i]->isVisible());
    QCOMPARE(dialog.Edits[0]->text(), QString::fromStdString(answerBack));
    dialog.Edits[0]->setText("<2>QEL<13><4>");
    QTest::mouseClick(dialog.OkBtn, Qt::LeftButton);
    const TSetupRecord edited = dialog.Settings();
    QCOMPARE(edited.AnswerBack.str(), std::string("<2>QEL<13><4>"));
    QCOMPARE(edited.SoftKeys[0].str(), settings.SoftKeys[0].str());
    Shot(dialog, "answerbackdialog.png");
  }

  void tabStopDialogSetsAndResetsMarks() {
    TSetupRecord settings = DefaultSettings();
    TQelTabStops dialog(settings);
    QVERIFY(Exposed(dialog));
    QCOMPARE(dialog.windowTitle(), QString("Set Tab Stops"));
    QCOMPARE(std::tuple(dialog.Slider->minimum(), dialog.Slider->maximum(), dialog.Slider->pageStep()),
             std::tuple(0, 132, 8));
    QCOMPARE(MissingTexts(dialog, {"Set Tab", "Reset Tab"}), QStringList());
    dialog.Slider->setValue(5);
    QCOMPARE(dialog.PositionLabel->text(), QString("5"));
    QTest::mouseClick(dialog.SetTabBtn, Qt::LeftButton);
    dialog.Slider->setValue(17);
    QCOMPARE(dialog.PositionLabel->text(), QString("17"));
    QTest::mouseClick(dialog.ResetTabBtn, Qt::LeftButton);
    QVERIFY(dialog.Marks().IsSet(5));
    QVERIFY(!dialog.Marks().IsSet(17));
    // Page keys move a page of eight.
    dialog.Slider->setFocus();
    QTest::keyClick(dialog.Slider, Qt::Key_PageUp);
    QCOMPARE(dialog.Slider->value(), 25);
    Shot(dialog, "tabstopdialog.png");
    QTest::mouseClick(dialog.OkBtn, Qt::LeftButton);
    const TSetupRecord edited = dialog.Settings();
    QCOMPARE(std::pair(int(edited.TabStops[4]), int(edited.TabStops[16])), std::pair(1, 0));  // columns 5, 17
  }

  void keyMapDialogBrowseAndName() {
    TSetupRecord settings = DefaultSettings();
    settings.KeyMapFileName = "C:\\QEL\\GERMAN.MKM";
    TQelKeyboard dialog(settings);
    std::vector<TFileDialog> asked;
    dialog.ChooseFile = [&](const TFileDialog& d) -> std::optional<std::string> {
      asked.push_back(d);
      return std::string("/home/eng/maps/US.MKM");
    };
    QVERIFY(Exposed(dialog));
    QCOMPARE(std::pair(dialog.FileNameEdit->text(), dialog.FileNameEdit->maxLength()),
             std::pair(QString("C:\\QEL\\GERMAN.MKM"), 80));
    QCOMPARE(dialog.BrowseBtn->text(), QString("Browse"));
    QTest::mouseClick(dialog.BrowseBtn, Qt::LeftButton);
    QCOMPARE(int(asked.size()), 1);
    QCOMPARE(asked[0].Filter, std::string("Map Files      (*.MKM)|*.MKM|All File Types (*.*)|*.*"));
    QCOMPARE(dialog.FileNameEdit->text(), QString("/home/eng/maps/US.MKM"));
    const QImage image = Shot(dialog, "keymapdialog.png");
    // Every key's panel carries its caption.
    const QPoint offset = dialog.Picture->mapTo(&dialog, QPoint(0, 0));
    const auto panels = PcKeyboardPanels();
    for (std::size_t i = 0; i < panels.size(); ++i) {
      const QRect r = dialog.Picture->PanelRect(static_cast<int>(i)).translated(offset);
      QVERIFY2(CountInk(image, r) > 0, panels[i].Caption);
    }
    QTest::mouseClick(dialog.OkBtn, Qt::LeftButton);
    QCOMPARE(dialog.Settings().KeyMapFileName.str(), std::string("/home/eng/maps/US.MKM"));
  }

  void historyBoxWrapsAndConfirms() {
    std::vector<std::string> lines(30);
    lines[0] = "status";
    lines[1] = "list all";
    lines[29] = "last";
    THistoryBox box(lines, 1, nullptr);
    QVERIFY(Exposed(box));
    QVERIFY(box.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(box.windowFlags() & Qt::WindowStaysOnTopHint);
    QLineEdit* edit = box.Combo->lineEdit();
    QCOMPARE(box.Combo->currentText(), QString("list all"));
    QCOMPARE(edit->selectedText(), QString("list all"));
    QTest::keyClick(edit, Qt::Key_Up);
    QCOMPARE(box.Combo->currentText(), QString("status"));
    QTest::keyClick(edit, Qt::Key_Up);  // from the first to the last
    QCOMPARE(std::pair(box.Combo->currentIndex(), edit->selectedText()), std::pair(29, QString("last")));
    QTest::keyClick(edit, Qt::Key_Down);  // and round again
    QCOMPARE(box.Combo->currentIndex(), 0);
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(box.result(), int(QDialog::Accepted));
    QCOMPARE(box.Text(), std::string("status"));

    THistoryBox cancelled(lines, 0, nullptr);
    cancelled.show();
    QTest::keyClick(cancelled.Combo->lineEdit(), Qt::Key_Escape);
    QCOMPARE(cancelled.result(), int(QDialog::Rejected));
  }
};

QTEST_MAIN(TKeyboardTest)
#include "keyboard_test.moc"
