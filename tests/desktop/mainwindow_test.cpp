// The main window offscreen: menus and toolbars with their captions and
// hints, enabling after connect and disconnect, the bars and the window
// height, the Quorix toolbar's looks, and the transfers a host starts on a
// real loopback line.
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QToolBar>
#include <QScrollBar>
#include <QToolButton>
#include <QtTest>
#include <functional>
#include <memory>

#include "app/session.h"
#include "app/settingsfile.h"
#include "comms/transmit.h"
#include "desktop/mainwindow.h"
#include "desktop/screenview.h"
#include "desktop/statusbar.h"
#include "guitesting.h"
#include "screen/store.h"
#include "support/loopback.h"
#include "support/testing.h"
#include "transfer/engine.h"

namespace {
QStringList Captions(const QWidget* menu) {
  QStringList captions;
  for (const QAction* action : menu->actions()) {
    if (!action->isSeparator()) captions << action->text();
  }
  return captions;
}

// The menu of the item with this caption in a menu or the menu bar.
const QMenu* SubMenu(const QWidget* menu, const QString& caption) {
  for (const QAction* action : menu->actions()) {
    if (action->text() == caption) return action->menu();
  }
  return nullptr;
}

// Runs the window's event loop (it must run for the window to send) until
// what arrived at the host's end since got was cleared makes done true.
bool HostGets(int fd, std::string& got, const std::function<bool(const std::string&)>& done) {
  got.clear();
  return WaitFor([&] {
    char buffer[65536];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
      got.append(buffer, static_cast<std::size_t>(n));
    return done(got);
  });
}
bool HostGets(int fd, std::string& got, const std::string& text) {
  return HostGets(fd, got, [&](const std::string& g) { return g == text; });
}

// The connect and disconnect controls of the network port, and the Setup
// menu's Connect and Disconnect items themselves, as a session up or down leaves them.
void CheckNetworkControls(const TMainWindow::TActions& a, bool up) {
  QCOMPARE((QList<bool>{a.ConnectNetwork->isEnabled(), a.ConnectNetworkButton->isEnabled(),
                        a.ConnectMenu->isEnabled(), a.DisconnectNetworkButton->isEnabled(),
                        a.DisconnectNetwork->isEnabled(), a.DisconnectMenu->isEnabled()}),
           (QList<bool>{!up, !up, !up, up, up, up}));
}

// Answers the next box (a session's end is one) with its default button.
void CloseNextBox() {
  WhenShown<QMessageBox>([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); });
}

// A window on a fresh program directory, started without questions, its
// start-up panel still up.
struct TWindow : TStartedWindow {
  TWindow() : TStartedWindow({}, {}, true) {}
  const TMainWindow::TActions& A() { return W->Actions(); }
  // Connects through Setup|Connect|Network Port to a plain (not Telnet)
  // loopback host; the host's end of the call, or -1.
  int ConnectTo(const TLoopbackHost& host) {
    S().Settings.HostName.assign(host.Address());
    S().Settings.Port = 0;
    A().ConnectNetwork->trigger();
    return host.AcceptOne();
  }
};
}  // namespace

class TMainWindowTest : public QObject {
  Q_OBJECT
 private slots:
  void MenusCarryTheirCaptionsInOrder() {
    TWindow t;
    const QMainWindow& w = *t.W;
    QCOMPARE(Captions(w.menuBar()), (QStringList{"&File", "&Edit", "&Setup", "&Transfer", "&Window", "&Help"}));
    const QStringList file = Captions(SubMenu(w.menuBar(), "&File"));
    for (const char* caption : {"&Open", "&Save", "Save &As...", "&Print", "Print Set&Up", "&Logfile",
                                "&Execute Script", "E&xit"}) {
      QVERIFY2(file.contains(caption), caption);
    }
    QCOMPARE(Captions(SubMenu(w.menuBar(), "&Edit")),
             (QStringList{"&Copy", "&Paste Send", "Paste &Receive", "Paste to &Disk", "C&ancel Paste", "&Select All",
                          "&Clear", "&Empty Screenbuffer", "Add &Bookmark", "&Find", "Find F&orward",
                          "Find &Backward"}));
    const QMenu* setup = SubMenu(w.menuBar(), "&Setup");
    QCOMPARE(Captions(SubMenu(setup, "C&onnect")),
             (QStringList{"&Serial Port", "&Network Port", "SS&H", "&Listen Port"}));
    QCOMPARE(Captions(SubMenu(setup, "&Disconnect")), (QStringList{"&Serial Port", "&Network Port", "SS&H"}));
    QCOMPARE(Captions(SubMenu(setup, "&SoftKey Definition")),
             (QStringList{"F1-F12", "Shift F1-F12", "Cntrl F1-F12"}));
    for (const char* caption : {"&Configure...", "Send &Break", "&Reset Terminal", "AnswerBack", "&Keymaps", "&Tabs"}) {
      QVERIFY2(Captions(setup).contains(caption), caption);
    }
    const QMenu* transfer = SubMenu(w.menuBar(), "&Transfer");
    QCOMPARE(Captions(SubMenu(transfer, "&Download")), (QStringList{"Receive &Ascii", "Receive &Binary", "&FTP"}));
    QCOMPARE(Captions(SubMenu(transfer, "&Upload")),
             (QStringList{"Send &Ascii", "Send &Vtrans", "&Simulate", "&Playback", "&FTP"}));
    QVERIFY(Captions(transfer).contains("&Cancel"));
    QCOMPARE(Captions(SubMenu(w.menuBar(), "&Window")),
             (QStringList{"&Toolbar", "&Statusbar", "&QUORIX Toolbar", "M&odem Toolbar", "S&oftkey Toolbar",
                          "S&hift Softkey Toolbar", "C&ntrl Softkey Toolbar", "&Bookmark", "&Configure Toolbar",
                          "Scroll&Buffer"}));
    QCOMPARE(Captions(SubMenu(w.menuBar(), "&Help")), (QStringList{"&About QEL", "&Help", "&Debug"}));
    QCOMPARE(Captions(t.W->ScreenPopup()),
             (QStringList{"&Copy", "&Paste Send", "Paste &Receive", "Paste to &Disk", "C&ancel Paste", "&Select All",
                          "&UnMark", "Add &Bookmark", "&Find", "Find F&orward", "Find &Backward"}));
  }

  void ToolbarHintsAreTheSystemsOwnAndDisabledCommandsStayDisabled() {
    TWindow t;
    const auto& a = t.A();
    for (QAction* action : {a.ExecuteScript, a.Empty, a.SendVtrans, a.SendPopupVtrans, a.ConfigureToolbar})
      QVERIFY2(!action->isEnabled(), qPrintable(action->text()));
    const std::pair<QAction*, const char*> hints[] = {
        {a.Open, "Open File"}, {a.SaveAs, "Save File As"}, {a.Print, "Print"}, {a.PrintSetUp, "Print Setup"},
        {a.Logfile, "Log File On/Off"}, {a.FontSelect, "Select Font"}, {a.FileClose, "Close File"},
        {a.Copy, "Copy"}, {a.Find, "Find Text in Screenbuffer"}, {a.Configure, "Configure"},
        {a.ConnectSerialButton, "Connect Serial Port"}, {a.DisconnectSerialButton, "Disconnect Serialport"},
        {a.ConnectNetworkButton, "Connect Network Port"}, {a.DisconnectNetworkButton, "Disconnect Network"},
        {a.ReceiveButton, "Receive File"}, {a.TransmitButton, "Transmit File"},
        {a.CancelTransfer, "Cancel Transfer"}, {a.Quorix[qbMsgHeader], "Display Msg Header On/Off"},
        {a.Quorix[qbDisplayMode], "Display a Mode"}};
    for (const auto& [action, hint] : hints) QCOMPARE(action->toolTip(), QString::fromLatin1(hint));
    QCOMPARE(Captions(a.ReceiveButton->menu()), (QStringList{"&ASCII", "&BINARY", "&FTP"}));
    QCOMPARE(Captions(a.TransmitButton->menu()), (QStringList{"&ASCII", "&VTRANS", "&SIMULATE", "PLAY&BACK", "&FTP"}));
  }

  void ConnectAndDisconnectMoveTheControls() {
    TLoopbackHost host;
    TWindow t;
    const auto& a = t.A();
    CheckNetworkControls(a, false);
    const int peer = t.ConnectTo(host);
    QVERIFY(peer >= 0);
    QVERIFY(WaitFor([&] { return t.S().Transmit->NetworkConnected; }));
    CheckNetworkControls(a, true);
    QVERIFY(WaitFor([&] { return t.W->StatusBar()->PanelText(10) == "CONN"; }));
    a.DisconnectNetwork->trigger();
    ::close(peer);
    CheckNetworkControls(a, false);
    QVERIFY(WaitFor([&] { return t.W->StatusBar()->PanelText(10).isEmpty(); }));
  }

  void ATransferDisablesTheTransferCommandsAndShowsTheGauge() {
    TWindow t;
    t.S().Desktop.PostMessage(wmTransferStarted);
    const auto state = [&] {
      return QList<bool>{t.A().SendAscii->isEnabled(), t.A().ReceiveButton->isEnabled(),
                         t.A().TransmitButton->isEnabled(), t.W->StatusBar()->GaugeShown()};
    };
    QVERIFY(WaitFor([&] { return !t.A().ReceiveAscii->isEnabled(); }));
    QCOMPARE(state(), (QList<bool>{false, false, false, true}));
    t.S().Desktop.PostMessage(wmTransferEnded);
    QVERIFY(WaitFor([&] { return t.A().ReceiveAscii->isEnabled(); }));
    QCOMPARE(state(), (QList<bool>{true, true, true, false}));
    QCOMPARE(t.W->StatusBar()->PanelText(8), QString("80x24"));
  }

  void HidingABarShrinksTheWindowByItsHeight() {
    TWindow t;
    QTest::qWait(50);
    const int height = t.W->height();
    const int barHeight = t.W->StatusBar()->height();
    QVERIFY(barHeight > 0);
    t.A().StatusBarOpt->trigger();
    QTest::qWait(50);
    QCOMPARE(t.W->height(), height - barHeight);
    QVERIFY(!t.A().StatusBarOpt->isChecked());
    QCOMPARE(t.S().Settings.StatusBarVisible, std::uint8_t(0));
    t.A().StatusBarOpt->trigger();
    QTest::qWait(50);
    QCOMPARE(t.W->height(), height);
    QVERIFY(t.A().StatusBarOpt->isChecked());
  }

  void QuorixButtonsShowOnBoldBlackAndOffBlue() {
    TWindow t;
    t.S().Settings.Emulation = emQuorix;
    t.S().Settings.DisplayMsgHeader = 0;
    t.W->WriteQuorixBar();
    auto* bar = t.W->findChild<QToolBar*>("QUORIXToolBar");
    QVERIFY(bar);
    QWidget* header = bar->widgetForAction(t.A().Quorix[qbMsgHeader]);
    QVERIFY(!header->font().bold());
    QCOMPARE(header->palette().color(QPalette::ButtonText), QColor(Qt::blue));
    t.A().Quorix[qbMsgHeader]->trigger();
    QCOMPARE(t.S().Settings.DisplayMsgHeader, std::uint8_t(1));
    QVERIFY(header->font().bold());
    QVERIFY(header->font().underline());
    QCOMPARE(header->palette().color(QPalette::ButtonText), QColor(Qt::black));
    QWidget* convertWord = bar->widgetForAction(t.A().Quorix[qbConvertWord]);
    QVERIFY(convertWord->font().underline());
    QVERIFY(!convertWord->font().bold());
  }

  // The host asks for a file (ESC [ > 1 s): the window sends it and typing
  // reaches the host as soon as it is sent. The host hangs up in the middle
  // of a second one; after a reconnect the new session's text shows and
  // typing reaches it.
  void AHostsSendRequestIsServedAndTheNextSessionWorks() {
    TLoopbackHost host;
    TWindow t;
    const std::string file = t.Dir.file("send.txt");
    WriteFileBytes(file, "line 1\r\nline 2\r\n");
    t.S().Settings.SendReceiveFileName.assign(file);
    t.S().Settings.NewLine = 0;
    t.S().Settings.LocalEcho = 0;
    int peer = t.ConnectTo(host);
    QVERIFY(peer >= 0);
    std::string got;
    SendAll(peer, "\x1b[>1s");
    QVERIFY2(HostGets(peer, got, [](const std::string& g) { return g.size() >= 17; }), got.c_str());
    QCOMPARE(got, std::string("Yline 1\r\nline 2\r\n"));
    // Received data takes the start-up panel away at the next tick.
    QVERIFY(WaitFor([&] { return t.W->findChild<QWidget*>("QelStartupPanel") == nullptr; }));
    QVERIFY(WaitFor([&] { return t.A().SendAscii->isEnabled(); }));
    QTest::keyClicks(t.W->ScreenView(), "ab");
    QVERIFY2(HostGets(peer, got, "ab"), got.c_str());

    WriteFileBytes(file, std::string(1 << 20, 'x'));
    SendAll(peer, "\x1b[>1s");
    QVERIFY(HostGets(peer, got, [](const std::string& g) { return g.size() > 1000; }));
    QVERIFY(t.S().Transfer->TransferActive);
    CloseNextBox();  // "Session Closed!"
    ::close(peer);
    QVERIFY(WaitFor([&] { return !t.S().Transmit->NetworkConnected && !t.S().Transfer->TransferActive; }, 10000));
    QVERIFY(WaitFor([&] { return t.A().ConnectNetwork->isEnabled() && !QApplication::activeModalWidget(); }));

    peer = t.ConnectTo(host);
    QVERIFY(peer >= 0);
    SendAll(peer, "\x1b[2J\x1b[HWELCOME BACK\r\n");
    const TBrowse& store = *t.S().Screen;
    QVERIFY(WaitFor([&] { return store.GetLineText(store.ScreenLine(1)).rfind("WELCOME BACK", 0) == 0; }));
    QTest::keyClicks(t.W->ScreenView(), "cd");
    QVERIFY2(HostGets(peer, got, "cd"), got.c_str());
    t.W->grab().save(ArtifactPath("mainwindow-after-host-send.png"));
    ::close(peer);
    CloseNextBox();
    QVERIFY(WaitFor([&] { return !t.S().Transmit->NetworkConnected; }, 10000));
  }

  // A receive the host starts shows its bytes in the status bar and the
  // Transfer menu's Cancel ends it.
  void AHostsReceiveIsCountedInTheStatusBarAndCancelEndsIt() {
    TLoopbackHost host;
    TWindow t;
    t.S().Settings.SendReceiveFileName.assign(t.Dir.file("received.bin"));
    const int peer = t.ConnectTo(host);
    QVERIFY(peer >= 0);
    SendAll(peer, "\x1b[>0;1;0r" + std::string(12345, 'r'));
    QVERIFY(WaitFor([&] { return t.W->StatusBar()->PanelText(8) == "RX 12,345"; }));
    t.W->grab().save(ArtifactPath("mainwindow-host-receive.png"));
    t.A().CancelTransfer->trigger();
    QVERIFY(!t.S().Transfer->TransferActive);
    QVERIFY(WaitFor([&] { return t.W->StatusBar()->PanelText(8) == "80x24"; }));
    QCOMPARE(ReadFileBytes(t.Dir.file("received.bin")), std::string(12345, 'r'));
    ::close(peer);
    CloseNextBox();
    QVERIFY(WaitFor([&] { return !t.S().Transmit->NetworkConnected; }, 10000));
  }

  // The order of what was held and the Esc kept from the host are the
  // hand-over's and the keyboard's tests; here, the menu item and the view.
  void HeldScrollBackKeepsArrivingDataUntilEscape() {
    TLoopbackHost host;
    TWindow t;
    const int peer = t.ConnectTo(host);
    QVERIFY(peer >= 0);
    const TBrowse& store = *t.S().Screen;
    auto shown = [&](const std::string& text) {
      for (int line = 0; line < store.Count(); ++line) {
        if (store.GetLineText(line).find(text) != std::string::npos) return true;
      }
      return false;
    };
    SendAll(peer, "before the hold\r\n");
    QVERIFY(WaitFor([&] { return shown("before the hold"); }));
    t.A().ScrollBuffer->trigger();  // its scroll bar showing is the screenshots' held picture's check
    std::string held;
    for (int i = 1; i <= 40; ++i) held += "held line " + std::to_string(i) + "\r\n";
    SendAll(peer, held);
    QTest::qWait(300);
    QVERIFY2(!shown("held line"), "data was shown while held");
    QTest::keyClick(t.W->ScreenView(), Qt::Key_Escape);
    QVERIFY(WaitFor([&] { return shown("held line 40"); }));
    QVERIFY(!t.W->ScreenView()->verticalScrollBar()->isVisible());
    ::close(peer);
  }
};

QTEST_MAIN(TMainWindowTest)
#include "mainwindow_test.moc"
