// The send dialog, offscreen: presets from the settings, the choices read
// back on OK, Browse through the desktop (Cancel is the plain dialog's reject,
// and the draft is written on OK alone).
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

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
    QCOMPARE(std::pair(dialog.WaitAfterLineBox()->maximum(), dialog.MaxEchoDelayBox()->maximum()),
             std::pair(100, 50));
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
    QCOMPARE((QStringList{dialog.FileNameEdit()->text(), dialog.WaitCharEdit()->text()}),
             (QStringList{"C:\\QEL\\UPLOAD.TXT", "<13>"}));
    QCOMPARE((QList<int>{dialog.CharDelayBox()->currentIndex(), dialog.LineDelayBox()->currentIndex(),
                         dialog.EndOfLineBox()->currentIndex(), dialog.CtrlZBox()->isChecked(),
                         dialog.WaitAfterLineBox()->value(), dialog.MaxEchoDelayBox()->value()}),
             (QList<int>{1, 3, 4, true, 7, 12}));
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
    QCOMPARE((QList<int>{draft.CharDelay, draft.LineDelay, draft.EOL, draft.WaitChar, draft.EOFCtrlZ,
                         draft.LineDly, draft.MaxEchoDelay}),
             (QList<int>{1, 1, 3, 35, 1, 20, 0}));
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
    QCOMPARE((std::vector<std::string>{shown.Title, shown.Filter, shown.InitialName}),
             (std::vector<std::string>{"Find Send File",
                                       "All File Types(*.*)|*.*|TXT Files     (*.TXT)|*.TXT|MAC Files     "
                                       "(*.MAC)|*.MAC|Log/TRC Files (*.LOG,*.TRC)|*.LOG;*.TRC",
                                       "old.txt"}));
    QCOMPARE(dialog.FileNameEdit()->text(), QStringLiteral("/data/chosen.mac"));
    dialog.BrowseButton()->click();  // cancelled this time: the name stays
    QCOMPARE(dialog.FileNameEdit()->text(), QStringLiteral("/data/chosen.mac"));
  }
};

QTEST_MAIN(TSendDialogTest)
#include "senddialog_test.moc"
