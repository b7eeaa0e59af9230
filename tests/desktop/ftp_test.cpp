// The FTP window offscreen: its captions and controls, the missing host name
// box, the settings it writes back, its work files, and a whole session with
// a real server (pyftpdlib) on loopback: listing, directories, a typed
// command, files dropped on the transfer box going both ways, disconnecting;
// and a server whose listing never ends.
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QUrl>
#include <QtTest>
#include <filesystem>

#include "desktop/ftptransfer.h"
#include "desktop/ftpwindow.h"
#include "guitesting.h"
#include "support/ftpserver.h"
#include "support/testing.h"

namespace {

QStringList Names(const QListWidget* list) {
  QStringList names;
  for (int i = 0; i < list->count(); ++i) names << list->item(i)->text();
  return names;
}

bool HistoryHas(const TQelFTPDlg& window, const QString& line) { return window.History().contains(line); }

// The login typed as a user types it, and Connect.
void LogIn(TQelFTPDlg& window, const TFtpServer& server, const QString& password = TFtpServer::kPassword) {
  window.UserNameEdt->setText(QString::fromLatin1(TFtpServer::kUser));
  window.PasswordEdt->setText(password);
  window.HostNameEdt->setText(QString::fromStdString(server.Host()));
  window.ConnectClick();
}

QString HistoryText(const TQelFTPDlg& window) { return window.History().join(QLatin1Char('\n')); }

}  // namespace

class TFtpWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void CaptionsButtonsAndPresetsAsTheEngineerSeesThem() {
    TTestSession t;
    t.S->Settings.FTPUserName = "engineer";
    t.S->Settings.FTPPassword = "secret";
    t.S->Settings.FTPHostName = "exchange-7";
    TQelFTPDlg window(t.S->Settings, t.Desktop, t.S->ProgramDirectory);
    QVERIFY(Exposed(window));

    QCOMPARE(window.windowTitle(), QStringLiteral("Qel FTP Dialog."));
    QCOMPARE(MissingTexts(window, {"FTP Parameters", "Remote Directory", "Connect", "Start", "Abort", "Discon.",
                                   "CDUP", "Close", "Send", "ASCII", "BINARY"}),
             QStringList());
    QVERIFY2(window.LocalGroup->title().startsWith(QStringLiteral("Local Directory : /")),
             qPrintable(window.LocalGroup->title()));
    // Binary, not ASCII; Connect, not Abort; drops taken; both lists many at once.
    QCOMPARE((QList<bool>{window.BinaryRb->isChecked(), window.AsciiRb->isChecked(), window.ConnectBtn->isEnabled(),
                          window.AbortBtn->isEnabled(), window.TransferBox->acceptDrops(),
                          window.RemoteList->selectionMode() == QAbstractItemView::ExtendedSelection,
                          window.LocalFileList->selectionMode() == QAbstractItemView::ExtendedSelection}),
             (QList<bool>{true, false, true, false, true, true, true}));
    QCOMPARE(window.StatusCombo->maxVisibleItems(), 30);
    QCOMPARE((QStringList{window.UserNameEdt->text(), window.PasswordEdt->text(), window.HostNameEdt->text()}),
             (QStringList{"engineer", "secret", "exchange-7"}));
    QCOMPARE(window.PasswordEdt->echoMode(), QLineEdit::Password);
    Shot(window, QStringLiteral("ftp_window.png"));
  }

  void ConnectWithoutAHostNameShowsTheOneBoxAndStartSavesTheFields() {
    TTestSession t;
    TQelFTPDlg window(t.S->Settings, t.Desktop, t.S->ProgramDirectory);
    window.HostNameEdt->setText(QStringLiteral("   "));
    window.ConnectClick();
    QCOMPARE(BoxTexts(t.Desktop), std::vector<std::string>{"No HostName specified"});
    QVERIFY(t.Desktop.Boxes[0].Box.Icon == TMsgIcon::Error);
    QCOMPARE(t.Desktop.Boxes[0].Box.Buttons, unsigned(mbOK));
    QVERIFY(window.ConnectBtn->isEnabled());
    QVERIFY(!window.Client().Busy());

    // Start saves the four fields, cut to 80.
    window.UserNameEdt->setText(QStringLiteral("ops"));
    window.PasswordEdt->setText(QStringLiteral("pw"));
    window.HostNameEdt->setText(QStringLiteral("10.0.0.7"));
    window.AccountEdt->setText(QString(90, QLatin1Char('a')));
    window.StartClick();
    const TSetupRecord& saved = t.S->Settings;
    QCOMPARE((std::vector<std::string>{saved.FTPUserName.str(), saved.FTPPassword.str(), saved.FTPHostName.str(),
                                       saved.FTPAccount.str()}),
             (std::vector<std::string>{"ops", "pw", "10.0.0.7", std::string(80, 'a')}));
    // Not connected: nothing starts.
    QVERIFY(!window.Sequence().Running());
    QVERIFY(!window.AbortBtn->isEnabled());
  }

  void WorkFilesAreClearedWhenTheWindowComesAndGoes() {
    TTestSession t;
    const std::string rdi = t.S->ProgramDirectory + "/Qelwin32.rdi";
    const std::string rdo = t.S->ProgramDirectory + "/Qelwin32.rdo";
    WriteFileBytes(rdi, "old");
    WriteFileBytes(rdo, "old");
    auto window = std::make_unique<TQelFTPDlg>(t.S->Settings, t.Desktop, t.S->ProgramDirectory);
    QVERIFY(!std::filesystem::exists(rdi));
    QVERIFY(!std::filesystem::exists(rdo));
    WriteFileBytes(rdo, "listing");
    window.reset();
    QVERIFY(!std::filesystem::exists(rdo));
  }

  void QueueTakesDroppedFilesOnceAndTheDeleteKeyRemovesThem() {
    TTestSession t;
    TQelFTPDlg window(t.S->Settings, t.Desktop, t.S->ProgramDirectory);
    QVERIFY(Exposed(window));
    WriteFileBytes(t.Dir.file("a.trc"), "a");
    WriteFileBytes(t.Dir.file("b.trc"), "b");
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(t.Dir.file("a.trc"))),
                  QUrl::fromLocalFile(QString::fromStdString(t.Dir.file("b.trc"))),
                  QUrl::fromLocalFile(QString::fromStdString(t.Dir.path().string()))});  // a folder: not queued
    const QPoint centre = window.TransferBox->rect().center();
    QDragEnterEvent enter(centre, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.TransferBox, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(centre), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.TransferBox, &drop);
    QApplication::sendEvent(window.TransferBox, &drop);  // the same files again
    QCOMPARE(window.Sequence().Queued().size(), size_t(2));
    QCOMPARE(Names(window.QueueList), (QStringList{"> a.trc", "> b.trc"}));

    window.QueueList->setCurrentRow(0);
    QTest::keyClick(window.QueueList, Qt::Key_Delete);
    QCOMPARE(window.Sequence().Queued().size(), size_t(1));
    QCOMPARE(Names(window.QueueList), QStringList{"> b.trc"});
  }

  // The history's texts are the client's (its tests against the same server
  // read them); here, what the window makes of the session.
  void AWholeSessionWithARealServer() {
    TTestSession t;
    std::filesystem::create_directories(t.Dir.file("served/reports"));
    WriteFileBytes(t.Dir.file("served/reports/day1.trc"), "trace of day one\r\n");
    WriteFileBytes(t.Dir.file("served/readme.txt"), "hello");
    std::filesystem::create_directories(t.Dir.file("local"));
    const std::string upload(100000, '\x7f');
    WriteFileBytes(t.Dir.file("local/up.bin"), upload);
    TFtpServer server(t.Dir.file("served"));
    QVERIFY(server.Ready());

    TQelFTPDlg window(t.S->Settings, t.Desktop, t.S->ProgramDirectory);
    QVERIFY(Exposed(window));
    window.ShowLocalFolder(QString::fromStdString(t.Dir.file("local")));
    LogIn(window, server);
    QVERIFY(!window.ConnectBtn->isEnabled());
    QVERIFY2(WaitFor([&] { return window.RemoteList->count() == 2; }), qPrintable(HistoryText(window)));
    QCOMPARE(window.windowTitle(), QStringLiteral("Qel FTP Dialog. Connected to ") + QString::fromStdString(server.Host()));
    QVERIFY(window.IsConnected());
    QCOMPARE(window.RemoteGroup->title(), QStringLiteral("Remote Directory : /"));
    QVERIFY(window.grab().save(ArtifactPath(QStringLiteral("ftp_window_connected.png"))));

    // A double click on a directory goes into it and lists it.
    QListWidgetItem* reports = window.RemoteList->findItems(QStringLiteral("reports"), Qt::MatchExactly).value(0);
    QVERIFY(reports);
    emit window.RemoteList->itemDoubleClicked(reports);
    QVERIFY(HistoryHas(window, "DIR : reports"));  // the window's own line, before the client's
    QVERIFY2(WaitFor([&] { return Names(window.RemoteList) == QStringList{"day1.trc"}; }),
             qPrintable(HistoryText(window)));
    QCOMPARE(window.RemoteGroup->title(), QStringLiteral("Remote Directory : /reports"));

    // A typed command.
    window.CommandEdt->setText(QStringLiteral("pwd"));
    window.SendClick();
    QVERIFY2(WaitFor([&] { return HistoryHas(window, "PWDR : /reports"); }), qPrintable(HistoryText(window)));
    QVERIFY(window.CommandEdt->text().isEmpty());

    // Files both ways through the transfer sequence.
    window.QueueLocalFiles({QString::fromStdString(t.Dir.file("local/up.bin"))});
    window.RemoteList->findItems(QStringLiteral("day1.trc"), Qt::MatchExactly).value(0)->setSelected(true);
    emit window.TransferBox->RemoteEntriesDropped();
    QCOMPARE(window.Sequence().Queued().size(), size_t(2));
    window.AsciiRb->setChecked(true);
    window.StartClick();
    QVERIFY(window.AbortBtn->isEnabled());
    QVERIFY(window.TransferWindow->isVisible());
    QVERIFY2(WaitFor([&] { return !window.Sequence().Running(); }, 10000), qPrintable(HistoryText(window)));
    QVERIFY(!window.AbortBtn->isEnabled());
    QVERIFY(HistoryHas(window, "Sending File : " + QString::fromStdString(t.Dir.file("local/up.bin"))));
    QVERIFY(HistoryHas(window, "Receiving File : day1.trc"));
    QCOMPARE(ReadFileBytes(t.Dir.file("served/reports/up.bin")), upload);
    // ASCII: the server's CR LF lines arrive with LF.
    QCOMPARE(ReadFileBytes(t.Dir.file("local/day1.trc")), std::string("trace of day one\n"));
    QVERIFY2(WaitFor([&] { return Names(window.RemoteList).contains("up.bin"); }),
             qPrintable(HistoryText(window)));

    // Disconnecting puts the window back as it was.
    window.DisconnectClick();
    QVERIFY2(WaitFor([&] { return !window.IsConnected(); }), qPrintable(HistoryText(window)));
    QVERIFY(HistoryHas(window, "Status : Disconnecting"));
    QCOMPARE((QStringList{window.windowTitle(), window.RemoteGroup->title()}),
             (QStringList{"Qel FTP Dialog.", "Remote Directory"}));
    QCOMPARE(window.RemoteList->count(), 0);
    QVERIFY(window.ConnectBtn->isEnabled());
    QVERIFY(t.Desktop.Boxes.empty());
  }

  void AListingThatNeverEndsEndsWithItsErrorAndTheWindowGoesOn() {
    TTestSession t;
    std::filesystem::create_directories(t.Dir.file("served"));
    TFtpServer server(t.Dir.file("served"), "endless-list");
    QVERIFY(server.Ready());
    TQelFTPDlg window(t.S->Settings, t.Desktop, t.S->ProgramDirectory);
    QVERIFY(Exposed(window));
    LogIn(window, server);  // connecting lists the directory by itself
    const QString failed =
        QStringLiteral("List Command Failed. Unable to retrieve detailed list; possible data connection error");
    QVERIFY2(WaitFor([&] { return HistoryHas(window, failed); }, 120000), qPrintable(HistoryText(window)));
    QCOMPARE(window.RemoteList->count(), 0);  // half a listing is not shown as the directory
    QVERIFY(window.IsConnected());
    QVERIFY(t.Desktop.Boxes.empty());
  }
};

QTEST_MAIN(TFtpWindowTest)
#include "ftp_test.moc"
