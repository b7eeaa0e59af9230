// The FTP window on FTPS (explicit AUTH TLS), offscreen, against pyftpdlib
// with TLS and a self-signed certificate: the certificate no authority vouches
// for is asked about with its SHA-256 fingerprint (OpenSSL's own reading of
// it), refused on No, trusted on Yes, and 100 MB move both ways byte for byte
// over TLS.
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QtTest>
#include <filesystem>

#include "app/connectionsettings.h"
#include "secureftp.h"
#include "support/ftpsserver.h"

class TFtpsWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void ASelfSignedCertificateIsAskedAboutThenAHundredMegabytesMoveBothWays() {
    TTestSession t;
    const std::string local = t.Dir.file("local"), back = t.Dir.file("back"), served = t.Dir.file("served");
    for (const std::string& folder : {local, back, served}) std::filesystem::create_directories(folder);
    WriteLargeFile(local + "/big.bin", 100u << 20);
    TFtpsServer server(t.Dir.path().string(), served);
    QVERIFY(server.Ready());

    t.S->Connection.FTPProtocol = fpExplicitTls;
    TQelFTPDlg window(t.S->Settings, t.Desktop, t.S->ProgramDirectory, nullptr, &t.S->Connection);
    QVERIFY(Exposed(window));
    QCOMPARE(window.ProtocolCmb->currentText(), QStringLiteral("FTPS"));
    window.UserNameEdt->setText(QString::fromLatin1(TFtpsServer::kUser));
    window.PasswordEdt->setText(QString::fromLatin1(TFtpsServer::kPassword));
    window.HostNameEdt->setText(QString::fromStdString(server.Host()));

    // No: nothing is connected.
    t.Desktop.Answers = {TMsgResult::No};
    window.ConnectClick();
    QVERIFY2(WaitFor([&] { return window.ConnectBtn->isEnabled(); }, 20000), qPrintable(HistoryOf(window)));
    QVERIFY(!window.IsConnected());
    QCOMPARE(t.Desktop.Boxes.size(), std::size_t{1});
    const std::string question = t.Desktop.Boxes[0].Box.Text;
    QVERIFY2(question.find("SHA-256 fingerprint: " + server.Fingerprint()) != std::string::npos, question.c_str());
    QVERIFY(question.find("self-signed") != std::string::npos || question.find("self signed") != std::string::npos);
    QVERIFY(t.Desktop.Boxes[0].Box.Buttons & mbDefaultNo);
    QVERIFY(HistoryOf(window).contains("Not trusted: connection refused"));

    // Yes: trusted while the window is open.
    t.Desktop.Answers = {TMsgResult::Yes};
    window.ConnectClick();
    QVERIFY2(WaitFor([&] { return window.IsConnected() && window.IsAuthorised(); }, 20000),
             qPrintable(HistoryOf(window)));
    QCOMPARE(t.Desktop.Boxes.size(), std::size_t{2});
    window.grab().save(ArtifactPath("ftp-window-ftps.png"));
    const qint64 ms = RoundTrip(window, local, back, "big.bin", 100000);
    QVERIFY2(ms >= 0, qPrintable(HistoryOf(window)));
    qInfo("FTPS: 100 MB up and down in %lld ms", static_cast<long long>(ms));
    QCOMPARE(QString::fromStdString(FileDifference(local + "/big.bin", served + "/big.bin")), QString());
    QCOMPARE(QString::fromStdString(FileDifference(local + "/big.bin", back + "/big.bin")), QString());
    QCOMPARE(t.Desktop.Boxes.size(), std::size_t{2});  // asked once while the window is open
  }

  void WithoutTlsOnTheServerFtpsRefusesToGoOnInClear() {
    // A plain FTP server: AUTH TLS is refused, and the client must not log in without it.
    TTestSession t;
    std::filesystem::create_directories(t.Dir.file("served"));
    const std::string port = std::to_string(FreePort());
    TChild plain({"/usr/bin/python3", "-m", "pyftpdlib", "-i", "127.0.0.1", "-p", port, "-d", t.Dir.file("served"),
                  "-u", "engineer", "-P", "exchange"}, true);
    QVERIFY(WaitForListener(static_cast<std::uint16_t>(std::stoi(port))));
    t.S->Connection.FTPProtocol = fpExplicitTls;
    TQelFTPDlg window(t.S->Settings, t.Desktop, t.S->ProgramDirectory, nullptr, &t.S->Connection);
    window.UserNameEdt->setText(QStringLiteral("engineer"));
    window.PasswordEdt->setText(QStringLiteral("exchange"));
    window.HostNameEdt->setText(QString::fromStdString("127.0.0.1:" + port));
    window.ConnectClick();
    QVERIFY2(WaitFor([&] { return window.ConnectBtn->isEnabled(); }, 20000), qPrintable(HistoryOf(window)));
    QVERIFY(!window.IsConnected());
    QVERIFY2(!HistoryOf(window).contains("230 "), qPrintable(HistoryOf(window)));  // never logged in
    QVERIFY(HistoryOf(window).contains("Connect Command Failed."));
    QVERIFY(t.Desktop.Boxes.empty());  // a server's refusal goes to the history, never to a box
  }
};

QTEST_MAIN(TFtpsWindowTest)
#include "ftpswindow_test.moc"
