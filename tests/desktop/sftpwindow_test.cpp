// The FTP window on SFTP, offscreen, against the private OpenSSH server's
// internal-sftp: the protocol chosen beside the host, the host key checked
// against the same known_hosts as SSH sessions with the same rules (asked
// about once, stored, refused when it changes), and 100 MB moved both ways
// byte for byte.
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QtTest>
#include <filesystem>

#include "app/connectionsettings.h"
#include "secureftp.h"
#include "support/sshserver.h"

class TSftpWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    qputenv("HOME", QByteArray::fromStdString(Dir.path().string()));
    qunsetenv("SSH_AUTH_SOCK");
  }

  void AHundredMegabytesBothWaysWithTheHostKeyAskedOnce() {
    TSshServer server(Dir.path().string());
    QVERIFY(server.Ready());
    TTestSession t;
    t.S->Connection.SshKeyFile = server.ClientKey.Private;
    t.S->Connection.KnownHostsFile = Dir.file("known_hosts");
    t.S->Connection.FTPProtocol = fpSftp;
    const std::string local = t.Dir.file("local"), back = t.Dir.file("back"), served = t.Dir.file("served");
    for (const std::string& folder : {local, back, served}) std::filesystem::create_directories(folder);
    WriteLargeFile(local + "/big.bin", 100u << 20);

    TQelFTPDlg window(t.S->Settings, t.Desktop, t.S->ProgramDirectory, nullptr, &t.S->Connection);
    QVERIFY(Exposed(window));
    QCOMPARE(window.ProtocolCmb->currentText(), QStringLiteral("SFTP"));
    window.UserNameEdt->setText(QString::fromStdString(TSshServer::User()));
    window.HostNameEdt->setText(QString::fromStdString(server.Host()));
    t.Desktop.Answers = {TMsgResult::Yes};
    window.ConnectClick();
    QVERIFY2(WaitFor([&] { return window.IsConnected() && window.RemoteList->count() > 0; }, 20000),
             qPrintable(HistoryOf(window)));
    QCOMPARE(t.Desktop.Boxes.size(), std::size_t{1});
    const std::string question = t.Desktop.Boxes[0].Box.Text;
    QVERIFY2(question.find(server.HostKey.Fingerprint()) != std::string::npos, question.c_str());
    QVERIFY(question.find("port " + std::to_string(server.PortNumber())) != std::string::npos);
    QVERIFY(t.Desktop.Boxes[0].Box.Buttons & mbDefaultNo);
    QVERIFY(RunProgram({"ssh-keygen", "-F", "[127.0.0.1]:" + std::to_string(server.PortNumber()), "-f",
                        Dir.file("known_hosts")}) == 0);
    window.grab().save(ArtifactPath("ftp-window-sftp.png"));

    window.CommandEdt->setText(QString::fromStdString("CWD " + served));
    window.SendClick();
    QVERIFY2(WaitFor([&] { return window.RemoteGroup->title().endsWith(QString::fromStdString(served)); }, 10000),
             qPrintable(HistoryOf(window)));
    const qint64 ms = RoundTrip(window, local, back, "big.bin", 100000);
    QVERIFY2(ms >= 0, qPrintable(HistoryOf(window)));
    qInfo("SFTP: 100 MB up and down in %lld ms", static_cast<long long>(ms));
    QCOMPARE(QString::fromStdString(FileDifference(local + "/big.bin", served + "/big.bin")), QString());
    QCOMPARE(QString::fromStdString(FileDifference(local + "/big.bin", back + "/big.bin")), QString());

    // Known now: no second question.
    window.DisconnectClick();
    QVERIFY(WaitFor([&] { return !window.IsConnected() && window.ConnectBtn->isEnabled(); }));
    window.ConnectClick();
    QVERIFY2(WaitFor([&] { return window.IsConnected(); }, 20000), qPrintable(HistoryOf(window)));
    QCOMPARE(t.Desktop.Boxes.size(), std::size_t{1});
  }

  void AChangedHostKeyIsRefusedWithoutAQuestion() {
    TSshServer server(Dir.path().string());
    QVERIFY(server.Ready());
    const std::string known = Dir.file("changed_known_hosts");
    // The entry of another key of the same type for this host and port.
    const TSshKeyPair other = TSshKeyPair::Make(Dir.path().string(), "other_host");
    std::ofstream(known) << "[127.0.0.1]:" << server.PortNumber() << " " << other.PublicLine() << "\n";
    TTestSession t;
    t.S->Connection.SshKeyFile = server.ClientKey.Private;
    t.S->Connection.KnownHostsFile = known;
    t.S->Connection.FTPProtocol = fpSftp;
    TQelFTPDlg window(t.S->Settings, t.Desktop, t.S->ProgramDirectory, nullptr, &t.S->Connection);
    window.UserNameEdt->setText(QString::fromStdString(TSshServer::User()));
    window.HostNameEdt->setText(QString::fromStdString(server.Host()));
    t.Desktop.Answers = {TMsgResult::Yes};  // would let it in if it were asked
    window.ConnectClick();
    QVERIFY2(WaitFor([&] { return window.ConnectBtn->isEnabled(); }, 20000), qPrintable(HistoryOf(window)));
    QVERIFY(!window.IsConnected());
    QVERIFY(t.Desktop.Boxes.empty());
    QVERIFY2(HistoryOf(window).contains("REMOTE HOST IDENTIFICATION HAS CHANGED"), qPrintable(HistoryOf(window)));
    QVERIFY(HistoryOf(window).contains(QString::fromStdString(server.HostKey.Fingerprint())));
  }

 private:
  TTempDir Dir;
};

QTEST_MAIN(TSftpWindowTest)
#include "sftpwindow_test.moc"
