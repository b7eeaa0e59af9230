// The send dialog, offscreen: presets from the settings, the choices read
// back on OK, nothing on Cancel, Browse through the desktop.
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>
#include <cstring>

#include "core/desktop.h"
#include "desktop/senddialog.h"
#include "guitesting.h"
#include "support/scripteddesktop.h"

namespace {
QStringList Items(QComboBox* combo) {
  QStringList items;
  for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
  return items;
}
}  // namespace

class TSendDialogTest : public QObject {
  Q_OBJECT

 private:
  TScriptedDesktop Desktop;

 private slots:
  void CaptionsAndChoicesAreTheCommandsOwn() {
    TSendDialog dialog(DefaultSettings(), Desktop);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Send File Selection"));
    QCOMPARE(MissingTexts(dialog, {"Character Delay", "Line Delay", "Char To Wait For", "End Of Line",
                                   "Wait After Line", "Max Echo Delay", "Ctrl-Z at EOF", "Browse"}),
             QStringList());
    QCOMPARE(Items(dialog.CharDelayBox()), (QStringList{"No Wait", "Paced By Echo"}));
    QCOMPARE(Items(dialog.LineDelayBox()),
             (QStringList{"No Wait", "Wait For A Character", "Wait For x/10 Seconds", "Wait For A Keystroke"}));
    QCOMPARE(Items(dialog.EndOfLineBox()), (QStringList{"CR", "LF", "No Change", "CR-LF", "LF-CR"}));
    QCOMPARE(dialog.WaitAfterLineBox()->maximum(), 100);
    QCOMPARE(dialog.MaxEchoDelayBox()->maximum(), 50);
  }

  void ThePresetsComeFromTheSettings() {
    TSetupRecord settings = DefaultSettings();
    settings.SendReceiveFileName.assign("C:\\QEL\\UPLOAD.TXT");
    settings.CharDelay = 1;
    settings.LineDelay = 3;
    settings.EOL = 4;
    settings.WaitChar = 13;  // not printable: shown as its code
    settings.EOFCtrlZ = 1;
    settings.LineDly = 7;
    settings.MaxEchoDelay = 12;
    TSendDialog dialog(settings, Desktop);
    QCOMPARE(dialog.FileNameEdit()->text(), QStringLiteral("C:\\QEL\\UPLOAD.TXT"));
    QCOMPARE(dialog.CharDelayBox()->currentIndex(), 1);
    QCOMPARE(dialog.LineDelayBox()->currentIndex(), 3);
    QCOMPARE(dialog.EndOfLineBox()->currentIndex(), 4);
    QCOMPARE(dialog.WaitCharEdit()->text(), QStringLiteral("<13>"));
    QVERIFY(dialog.CtrlZBox()->isChecked());
    QCOMPARE(dialog.WaitAfterLineBox()->value(), 7);
    QCOMPARE(dialog.MaxEchoDelayBox()->value(), 12);
    QVERIFY(Exposed(dialog));
    Shot(dialog, "senddialog.png");
  }

  void OkHandsBackTheChoices() {
    const TSetupRecord settings = DefaultSettings();
    TSendDialog dialog(settings, Desktop);
    dialog.FileNameEdit()->setText("  /tmp/lines.txt ");
    dialog.CharDelayBox()->setCurrentIndex(1);
    dialog.LineDelayBox()->setCurrentIndex(1);
    dialog.EndOfLineBox()->setCurrentIndex(3);
    dialog.WaitCharEdit()->setText(" <35>x ");
    dialog.CtrlZBox()->setChecked(true);
    dialog.WaitAfterLineBox()->setValue(20);
    dialog.MaxEchoDelayBox()->setValue(0);
    DialogButton(dialog, QDialogButtonBox::Ok)->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    const TSetupRecord& draft = dialog.Draft();
    QCOMPARE(QString::fromStdString(draft.SendReceiveFileName.str()), QStringLiteral("/tmp/lines.txt"));
    QCOMPARE(int(draft.CharDelay), 1);
    QCOMPARE(int(draft.LineDelay), 1);
    QCOMPARE(int(draft.EOL), 3);
    QCOMPARE(int(draft.WaitChar), 35);
    QCOMPARE(int(draft.EOFCtrlZ), 1);
    QCOMPARE(int(draft.LineDly), 20);
    QCOMPARE(int(draft.MaxEchoDelay), 0);
  }

  void CancelKeepsTheDraftAsGiven() {
    const TSetupRecord settings = DefaultSettings();
    TSendDialog dialog(settings, Desktop);
    dialog.EndOfLineBox()->setCurrentIndex(0);
    dialog.FileNameEdit()->setText("changed");
    DialogButton(dialog, QDialogButtonBox::Cancel)->click();
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(std::memcmp(&dialog.Draft(), &settings, sizeof settings) == 0);
  }

  void BrowseFillsTheNameFromTheDesktopsDialog() {
    Desktop.Dialogs.clear();
    Desktop.DialogAnswers = {std::string("/data/chosen.mac")};
    TSetupRecord settings = DefaultSettings();
    settings.SendReceiveFileName.assign("old.txt");
    TSendDialog dialog(settings, Desktop);
    dialog.BrowseButton()->click();
    QCOMPARE(Desktop.Dialogs.size(), std::size_t(1));
    const TFileDialog& shown = Desktop.Dialogs[0];
    QCOMPARE(QString::fromStdString(shown.Title), QStringLiteral("Find Send File"));
    QCOMPARE(QString::fromStdString(shown.Filter),
             QStringLiteral("All File Types(*.*)|*.*|TXT Files     (*.TXT)|*.TXT|MAC Files     (*.MAC)|*.MAC|"
                            "Log/TRC Files (*.LOG,*.TRC)|*.LOG;*.TRC"));
    QCOMPARE(QString::fromStdString(shown.InitialName), QStringLiteral("old.txt"));
    QCOMPARE(dialog.FileNameEdit()->text(), QStringLiteral("/data/chosen.mac"));
    dialog.BrowseButton()->click();  // cancelled this time: the name stays
    QCOMPARE(dialog.FileNameEdit()->text(), QStringLiteral("/data/chosen.mac"));
  }
};

QTEST_MAIN(TSendDialogTest)
#include "senddialog_test.moc"
