// The window on SSH, offscreen, against a private OpenSSH server: the
// configuration dialog filled as a user fills it, the network button making
// the SSH call, the host-key question answered in its box, a shell that
// answers what is typed; and the dialog's SSH controls read back.
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QtTest>
#include <cstdlib>

#include "comms/transmit.h"
#include "app/session.h"
#include "desktop/configdialog.h"
#include "desktop/mainwindow.h"
#include "desktop/statusbar.h"
#include "guitesting.h"
#include "screen/store.h"
#include "support/sshserver.h"
#include "support/testing.h"
#include "terminal/keyboard.h"

class TSshWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    qputenv("HOME", QByteArray::fromStdString(Dir.path().string()));
    qunsetenv("SSH_AUTH_SOCK");
  }

  void ConnectsOverSshFromTheConfigurationDialog() {
    TSshServer server(Dir.path().string());
    QVERIFY(server.Ready());
    TStartedWindow started;
    TMainWindow& window = *started.W;
    const std::string known = Dir.file("known_hosts");

    WhenShown<TConfigDialog>([&](TConfigDialog* dialog) {
      dialog->Pages()->setCurrentIndex(2);
      Field<QLineEdit>(dialog, "Host Name:")->setText("127.0.0.1");
      const TConfigDialog::TSecureControls& c = dialog->Secure();
      c.Kind->button(nkSsh)->click();
      c.User->setText(QString::fromStdString(TSshServer::User()));
      c.Port->setValue(server.PortNumber());
      c.KeyFile->setText(QString::fromStdString(server.ClientKey.Private));
      c.KnownHosts->setText(QString::fromStdString(known));
      c.Reconnect->setChecked(true);
      dialog->grab().save(ArtifactPath("config-connectivity-ssh.png"));
      DialogButton(*dialog, QDialogButtonBox::Ok)->click();
    });
    window.Actions().Configure->trigger();
    TSession& s = window.Session();
    QCOMPARE(s.Connection.NetworkKind, static_cast<std::uint8_t>(nkSsh));
    QCOMPARE(s.Connection.SshPort, server.PortNumber());

    QString question;
    WhenShown<QMessageBox>([&](QMessageBox* box) {
      question = box->text();
      box->grab().save(ArtifactPath("ssh-host-key-question.png"));
      QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
      box->button(QMessageBox::Yes)->click();
    });
    window.Actions().ConnectNetworkButton->trigger();  // the toolbar button follows the kind chosen
    QVERIFY2(WaitFor([&] { return s.Transmit->NetworkConnected; }, 20000), qPrintable(question));
    QVERIFY(question.contains(QString::fromStdString(server.HostKey.Fingerprint())));
    QVERIFY(question.contains(QStringLiteral("port %1").arg(server.PortNumber())));
    QVERIFY(s.Transmit->SecureSession);
    QVERIFY(!window.Actions().ConnectSecure->isEnabled());
    QVERIFY(window.Actions().DisconnectSecure->isEnabled());

    s.Keyboard->StartText("echo hello-$((6*7))<CR>");
    QVERIFY(WaitFor([&] { return ScreenShows(s, "hello-42"); }, 15000));
    window.grab().save(ArtifactPath("window-ssh-session.png"));

    // The line drops: it comes back by itself, counting down in the status bar
    // (the line on the screen is the reconnect's form test).
    QVERIFY(s.Connection.Reconnect);
    s.Connection.ReconnectDelay = 1;
    server.DropSessions();
    QVERIFY2(WaitFor([&] { return window.StatusBar()->PanelText(10).startsWith("RECON"); }, 10000),
             qPrintable(window.StatusBar()->PanelText(10)));
    window.grab().save(ArtifactPath("window-ssh-reconnecting.png"));
    QVERIFY(WaitFor([&] { return s.Transmit->NetworkConnected; }, 20000));
    QVERIFY(WaitFor([&] { return window.StatusBar()->PanelText(10) == "CONN"; }, 5000));
    s.Keyboard->StartText("echo again-$((2+3))<CR>");
    QVERIFY(WaitFor([&] { return ScreenShows(s, "again-5"); }, 15000));

    window.Actions().DisconnectSecure->trigger();
    QVERIFY(!s.Transmit->NetworkSessionUp());
    QVERIFY(window.Actions().ConnectSecure->isEnabled());
    // That this is no drop to come back from is the reconnect's form test.
    QVERIFY(WaitFor([&] { return server.LogText().find("Received disconnect") != std::string::npos; }, 10000));
  }

  void TheDialogReadsBackItsSshControlsAndRefusesABadAllowList() {
    TScriptedDesktop desktop;
    TSetupRecord record = DefaultSettings();
    TConnectionSettings connection;
    connection.SshUserName = "eng";
    connection.FTPProtocol = fpSftp;
    TConfigDialog dialog(record, connection, desktop);
    const TConfigDialog::TSecureControls& c = dialog.Secure();
    QCOMPARE(std::tuple(c.User->text(), c.FtpProtocol->currentIndex(), c.Port->value()),
             std::tuple(QStringLiteral("eng"), 3, 22));
    c.ListenAllow->setText(QStringLiteral("10.1.2.3/8"));
    DialogButton(dialog, QDialogButtonBox::Ok)->click();
    QCOMPARE(dialog.result(), 0);  // still open
    QCOMPARE(desktop.Boxes.size(), std::size_t{1});
    QVERIFY(QString::fromStdString(desktop.Boxes[0].Box.Text).contains("10.1.2.3/8"));
    c.ListenAllow->setText(QStringLiteral("10.0.0.0/8, [::1]"));
    c.KeepAlive->setValue(0);
    DialogButton(dialog, QDialogButtonBox::Ok)->click();
    QCOMPARE(dialog.result(), static_cast<int>(QDialog::Accepted));
    const TConnectionSettings& draft = dialog.ConnectionDraft();
    QCOMPARE(std::tuple(QString::fromStdString(draft.ListenAllow), int(draft.SshKeepAlive),
                        QString::fromStdString(draft.SshUserName)),
             std::tuple(QStringLiteral("10.0.0.0/8 ::1"), 0, QStringLiteral("eng")));
  }

 private:
  TTempDir Dir;
};

QTEST_MAIN(TSshWindowTest)
#include "sshwindow_test.moc"
