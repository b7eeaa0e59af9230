// The receive dialog, offscreen: its captions, the presets of the two
// receives, Browse through the desktop, and a receive started through it.
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "desktop/receivedialog.h"
#include "guitesting.h"
#include "log/logfiles.h"
#include "support/testing.h"
#include "transfer/commandstate.h"
#include "transfer/engine.h"

class TReceiveDialogTest : public QObject {
  Q_OBJECT

 private:
  // Presses a button of the modal dialog once it is up.
  static void PressLater(QDialogButtonBox::StandardButton which, const QString& name, bool ctrlZ, bool suppress) {
    QTimer::singleShot(0, [=] {
      auto* dialog = qobject_cast<TReceiveDialog*>(QApplication::activeModalWidget());
      QVERIFY(dialog);
      dialog->NameEdit()->setText(name);
      if (dialog->CtrlZBox()->isEnabled()) dialog->CtrlZBox()->setChecked(ctrlZ);
      if (dialog->SuppressBox()->isEnabled()) dialog->SuppressBox()->setChecked(suppress);
      DialogButton(*dialog, which)->click();
    });
  }

  // Ctrl-Z's box enabled and checked, then the suppress box's.
  static QList<bool> BoxStates(TReceiveDialog& dialog) {
    return {dialog.CtrlZBox()->isEnabled(), dialog.CtrlZBox()->isChecked(), dialog.SuppressBox()->isEnabled(),
            dialog.SuppressBox()->isChecked()};
  }

 private slots:
  void HasItsCaptionsThePresetOfATextReceiveAndBrowse() {
    TScriptedDesktop desktop;
    TReceiveDialog dialog(desktop, true, {"C:\\LOGS\\RX.TXT", true, false});
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Receive File Parameters"));
    QCOMPARE(MissingTexts(dialog, {"File Name", "Parameters", "Ctrl-Z Ends Transfer", "Suppress Control Characters",
                                   "Browse", "OK", "Cancel", "Help"}),
             QStringList());
    QCOMPARE(std::pair(dialog.NameEdit()->text(), dialog.NameEdit()->maxLength()),
             std::pair(QStringLiteral("C:\\LOGS\\RX.TXT"), 80));
    QCOMPARE(BoxStates(dialog), (QList<bool>{true, true, true, false}));

    dialog.SuppressBox()->setChecked(true);
    dialog.CtrlZBox()->setChecked(false);
    const TReceiveParameters chosen = dialog.Parameters();
    QCOMPARE(std::tuple(QString::fromStdString(chosen.FileName), chosen.CtrlZEnds, chosen.SuppressControl),
             std::tuple(QStringLiteral("C:\\LOGS\\RX.TXT"), false, true));

    QVERIFY(Exposed(dialog));
    Shot(dialog, "receive_dialog_ascii.png");

    // Browse asks for a file to save to and takes the answer.
    desktop.DialogAnswers = {std::nullopt, std::string("/tmp/chosen.txt")};
    dialog.BrowseButton()->click();
    QCOMPARE(dialog.NameEdit()->text(), QStringLiteral("C:\\LOGS\\RX.TXT"));  // cancelled: unchanged
    dialog.BrowseButton()->click();
    QCOMPARE(dialog.NameEdit()->text(), QStringLiteral("/tmp/chosen.txt"));
    QCOMPARE(desktop.Dialogs.size(), std::size_t(2));
    QVERIFY(desktop.Dialogs[0].Save);
    QCOMPARE((std::vector<std::string>{desktop.Dialogs[0].Title, desktop.Dialogs[0].InitialName}),
             (std::vector<std::string>{"Save To File", "C:\\LOGS\\RX.TXT"}));
  }

  void ABinaryReceiveShowsTheOptionsOffAndDisabled() {
    TScriptedDesktop desktop;
    TReceiveDialog dialog(desktop, false, {"rx.bin", true, true});
    QCOMPARE(BoxStates(dialog), (QList<bool>{false, false, false, false}));
    const TReceiveParameters chosen = dialog.Parameters();
    QVERIFY(!chosen.CtrlZEnds && !chosen.SuppressControl);
    QVERIFY(Exposed(dialog));
    dialog.grab().save(ArtifactPath("receive_dialog_binary.png"));
  }

  void OkStartsTheReceiveAndCancelStartsNothing() {
    TTestSession t;
    TCommandState state;
    TFileReceive receive(*t.S, state);
    receive.AskParameters = [&](bool ascii, const TReceiveParameters& preset) {
      return TReceiveDialog::Ask(t.Desktop, nullptr, ascii, preset);
    };
    const QString name = QString::fromStdString(t.Dir.file("rx.txt"));
    PressLater(QDialogButtonBox::Cancel, name, true, false);
    QVERIFY(!receive.StartReceive(true));
    QVERIFY(!t.S->Transfer->TransferActive);

    // The name and the Ctrl-Z choice reach the receive (what it does with
    // them is the receive's test).
    PressLater(QDialogButtonBox::Ok, name, true, false);
    QVERIFY(receive.StartReceive(true));
    const std::string bytes = std::string("text") + char(26) + "more";
    t.S->ReceiveBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    QVERIFY(!t.S->Transfer->TransferActive);
    QCOMPARE(QString::fromStdString(ReadFileBytes(t.Dir.file("rx.txt"))), QStringLiteral("text"));
  }
};

QTEST_MAIN(TReceiveDialogTest)
#include "receivedialog_test.moc"
