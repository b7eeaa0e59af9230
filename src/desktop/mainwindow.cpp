#include "desktop/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QFontDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPrinter>
#include <QSpinBox>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/configrules.h"
#include "app/linewiring.h"
#include "app/modemdial.h"
#include "app/session.h"
#include "app/settingsfile.h"
#include "auxwin/printcommand.h"
#include "auxwin/printing.h"
#include "commands/localcommands.h"
#include "comms/comm.h"
#include "comms/dbus.h"
#include "comms/dde.h"
#include "comms/sockets.h"
#include "comms/sshline.h"
#include "comms/transmit.h"
#include "core/paths.h"
#include "core/text.h"
#include "desktop/bookmarkwindow.h"
#include "desktop/bytetext.h"
#include "desktop/configdialog.h"
#include "desktop/editbox.h"
#include "desktop/finddialog.h"
#include "desktop/ftpwindow.h"
#include "desktop/helpwindow.h"
#include "desktop/historybox.h"
#include "desktop/keyevents.h"
#include "desktop/keymapdialog.h"
#include "desktop/memoviewer.h"
#include "desktop/modemtoolbar.h"
#include "desktop/modenamedialog.h"
#include "desktop/padswindow.h"
#include "desktop/pageprinter.h"
#include "desktop/printdialog.h"
#include "desktop/receivedialog.h"
#include "desktop/screenview.h"
#include "desktop/senddialog.h"
#include "desktop/softkeybar.h"
#include "desktop/softkeydialog.h"
#include "desktop/startuppanel.h"
#include "desktop/statusbar.h"
#include "desktop/tabstopdialog.h"
#include "desktop/windowprobe.h"
#include "log/errors.h"
#include "log/logfiles.h"
#include "screen/bookmarks.h"
#include "screen/failures.h"
#include "screen/rowsize.h"
#include "screen/screenfind.h"
#include "screen/selection.h"
#include "screen/store.h"
#include "screen/writer.h"
#include "terminal/keyboard.h"
#include "terminal/softkeylayout.h"
#include "trace/decoder.h"
#include "trace/display.h"
#include "trace/mini.h"
#include "trace/tracefiles.h"
#include "transfer/engine.h"
#include "transfer/pacedsend.h"
#include "transfer/paste.h"
#include "transfer/receive.h"
#include "transfer/simulate.h"

namespace {
// The user's break key: Esc, and Ctrl+Break where the keyboard has one.
bool IsBreakKey(const QKeyEvent& event) {
  const int key = event.key();
  return key == Qt::Key_Escape || key == Qt::Key_Cancel ||
         (key == Qt::Key_Pause && (event.modifiers() & Qt::ControlModifier));
}
}  // namespace

TMainWindow::TMainWindow(const std::string& programDirectory, const TWindowOptions& options, QWidget* parent)
    : QMainWindow(parent), Options(options) {
  setObjectName(QStringLiteral("QelForm"));
  S = std::make_unique<TSession>(QtDesktop, programDirectory);
  QtDesktop.Window = this;
  QtDesktop.Reporter = S->Errors.get();
  MainForm = std::make_unique<TMainForm>(*S);
  PacedSend = std::make_unique<TPacedSend>(*S, MainForm->State);
  Paste = std::make_unique<TPaste>(*S, MainForm->State);
  Receive = std::make_unique<TFileReceive>(*S, MainForm->State);
  Replay = std::make_unique<TReplay>(*S, MainForm->State);
  Receive->AskParameters = [this](bool ascii, const TReceiveParameters& preset) {
    return QtDesktop.Modal([&] { return TReceiveDialog::Ask(QtDesktop, this, ascii, preset); });
  };
  Replay->AskSimulateFile = [this](const std::string& preset) { return AskSimulateFile(preset); };
  Comm = std::make_unique<TComm>();
  Sockets = std::make_unique<TSockets>(QtDesktop);
  WireLines(*S, *Comm, *Sockets, MainForm->Handover, MainForm->Events);
  Ssh = std::make_unique<TSshLine>();
  WireSecureLine(*S, *Ssh, MainForm->Handover, MainForm->Events);
  WireSecureQuestions(*Ssh, QtDesktop);
  Dde = std::make_unique<TDdeServer>();
  DBus = std::make_unique<TDBusDdeServer>(*Dde);
  PrinterDevice = std::make_unique<QPrinter>(QPrinter::HighResolution);
  Pages = std::make_unique<TPagePrinter>(*S->Screen, QtDesktop);

  BuildActions();
  BuildMenus();
  BuildToolBars();
  BuildCentral();
  WireSession();

  setWindowTitle(QStringLiteral("QEL for Windows : []"));
  SetScreenProperties();
  SizeAtStart();
  Timer.setInterval(100);
  // Paced sends count on every tick arriving on time.
  Timer.setTimerType(Qt::PreciseTimer);
  connect(&Timer, &QTimer::timeout, this, [this] {
    MainForm->TimerTick();
    WriteStatusBar();
  });
}

TMainWindow::~TMainWindow() {
  Timer.stop();
  if (DBus) DBus->Stop();
  QtDesktop.Handler = nullptr;
  S->SettingsFiles->ReloadCommandDefinitions = nullptr;  // the interpreter goes before the session
  // Child windows hold references into the session and its helpers (the
  // view its store, the bookmark window its bookmarks): they go first, not
  // after the members as QObject children otherwise would.
  qDeleteAll(findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly));
}

QAction* TMainWindow::MakeAction(const char* caption, const char* hint) {
  auto* action = new QAction(QString::fromLatin1(caption), this);
  if (hint) {
    action->setToolTip(QString::fromLatin1(hint));
    action->setStatusTip(QString::fromLatin1(hint));
  }
  return action;
}

void TMainWindow::BuildActions() {
  BuildFileActions();
  BuildEditActions();
  BuildSetupActions();
  BuildTransferActions();
  BuildWindowActions();
  BuildQuorixActions();
}

void TMainWindow::BuildFileActions() {
  TMainForm& form = *MainForm;

  A.Open = MakeAction("&Open", "Open File");
  On(A.Open, [this] { S->SettingsFiles->Open(); ApplySettingsFileState(); });
  A.Save = MakeAction("&Save");
  On(A.Save, [this] { S->SettingsFiles->Save(); ApplySettingsFileState(); });
  A.SaveAs = MakeAction("Save &As...", "Save File As");
  On(A.SaveAs, [this] { S->SettingsFiles->SaveAs(); ApplySettingsFileState(); });
  A.Print = MakeAction("&Print", "Print");
  On(A.Print, [this] { PrintCommand(); });
  A.PrintPreview = MakeAction("Print Pre&view", "Print Preview");
  On(A.PrintPreview, [this] { ShowPrintPreview(); });
  A.PrintSetUp = MakeAction("Print Set&Up", "Print Setup");
  On(A.PrintSetUp, [this] { PrintSetUpCommand(); });
  A.Logfile = MakeAction("&Logfile", "Log File On/Off");
  A.Logfile->setCheckable(true);
  On(A.Logfile, [&form] { form.LogFile(); });
  A.ExecuteScript = MakeAction("&Execute Script");
  A.ExecuteScript->setEnabled(false);
  A.Exit = MakeAction("E&xit");
  On(A.Exit, [this] { ExitCommand(); });
  for (int i = 0; i < 4; ++i) {
    A.Recent[i] = MakeAction("");
    A.Recent[i]->setVisible(false);
    On(A.Recent[i], [this, i] { S->SettingsFiles->OpenRecent(i + 1); ApplySettingsFileState(); });
  }
  A.FontSelect = MakeAction("Font", "Select Font");
  On(A.FontSelect, [this] { SelectFont(); });
  A.FileClose = MakeAction("Close", "Close File");

}

void TMainWindow::BuildEditActions() {
  A.Copy = MakeAction("&Copy", "Copy");
  On(A.Copy, [this] { Screen->CopySelection(); });
  A.PasteSend = MakeAction("&Paste Send");
  On(A.PasteSend, [this] { Paste->PasteSend(); });
  A.PasteReceive = MakeAction("Paste &Receive");
  On(A.PasteReceive, [this] { Paste->PasteReceive(); });
  A.PastetoDisk = MakeAction("Paste to &Disk");
  On(A.PastetoDisk, [this] { Paste->PasteToDisk(); });
  A.CancelPaste = MakeAction("C&ancel Paste");
  On(A.CancelPaste, [this] { Paste->CancelPaste(); });
  A.SelectAll = MakeAction("&Select All");
  On(A.SelectAll, [this] { Screen->SelectAll(); });
  A.Clear = MakeAction("&Clear");
  On(A.Clear, [this] { Screen->Unmark(); });
  A.UnMark = MakeAction("&UnMark");
  On(A.UnMark, [this] { Screen->Unmark(); });
  A.Empty = MakeAction("&Empty Screenbuffer");
  A.Empty->setEnabled(false);
  A.AddBookmark = MakeAction("Add &Bookmark");
  On(A.AddBookmark, [this] { AddBookmark(); });
  A.Find = MakeAction("&Find", "Find Text in Screenbuffer");
  On(A.Find, [this] { FindDialog->Open(); });
  A.FindForward = MakeAction("Find F&orward");
  On(A.FindForward, [this] { QtDesktop.PostMessage(wmFindRequest, frFindNext); });
  A.FindBackward = MakeAction("Find &Backward");
  On(A.FindBackward, [this] { QtDesktop.PostMessage(wmFindRequest, frFindPrevious); });

}

void TMainWindow::BuildSetupActions() {
  TMainForm& form = *MainForm;
  A.Configure = MakeAction("&Configure...", "Configure");
  On(A.Configure, [this] { Configure(); });
  A.ConnectSerial = MakeAction("&Serial Port");
  On(A.ConnectSerial, [&form] { form.ConnectSerial(); });
  A.ConnectNetwork = MakeAction("&Network Port");
  On(A.ConnectNetwork, [&form] { form.ConnectNetwork(); });
  A.ConnectSecure = MakeAction("SS&H", "Connect over SSH (Setup|Configure: host, SSH user, port and key file)");
  On(A.ConnectSecure, [&form] { form.ConnectSecure(); });
  A.DisconnectSecure = MakeAction("SS&H");
  On(A.DisconnectSecure, [&form] { form.DisconnectNetwork(); });
  A.Listen = MakeAction("&Listen Port");
  On(A.Listen, [&form] { form.Listen(); });
  A.DisconnectSerial = MakeAction("&Serial Port");
  On(A.DisconnectSerial, [&form] { form.DisconnectSerial(); });
  A.DisconnectNetwork = MakeAction("&Network Port");
  On(A.DisconnectNetwork, [&form] { form.DisconnectNetwork(); });
  A.ConnectSerialButton = MakeAction("COM", "Connect Serial Port");
  On(A.ConnectSerialButton, [&form] { form.ConnectSerial(); });
  A.DisconnectSerialButton = MakeAction("COM off", "Disconnect Serialport");
  On(A.DisconnectSerialButton, [&form] { form.DisconnectSerial(); });
  A.ConnectNetworkButton = MakeAction("NET", "Connect Network Port");
  On(A.ConnectNetworkButton, [&form] { form.ConnectNetworkButton(); });
  A.DisconnectNetworkButton = MakeAction("NET off", "Disconnect Network");
  On(A.DisconnectNetworkButton, [&form] { form.DisconnectNetwork(); });
  A.SendBreak = MakeAction("Send &Break");
  On(A.SendBreak, [&form] { form.SendBreak(); });
  A.ResetTerminal = MakeAction("&Reset Terminal");
  On(A.ResetTerminal, [this] {
    MainForm->ResetTerminal();
    // A port stopped by an XOFF the host never took back starts again.
    if (S->Transmit->SerialConnected && Comm->IsOpen()) {
      try {
        Comm->SetXonState(true);
      } catch (const std::exception&) {
        // The component reported its failure; the reset itself is done.
      }
    }
  });
  A.SoftNormal = MakeAction("F1-F12");
  On(A.SoftNormal, [this] { SoftKeyDialog(TQelFKeyDlg::fkNormal); });
  A.SoftShift = MakeAction("Shift F1-F12");
  On(A.SoftShift, [this] { SoftKeyDialog(TQelFKeyDlg::fkShift); });
  A.SoftCntrl = MakeAction("Cntrl F1-F12");
  On(A.SoftCntrl, [this] { SoftKeyDialog(TQelFKeyDlg::fkCntrl); });
  A.AnswerBack = MakeAction("AnswerBack");
  On(A.AnswerBack, [this] { SoftKeyDialog(TQelFKeyDlg::fkAnswerBack); });
  A.Keymaps = MakeAction("&Keymaps");
  On(A.Keymaps, [this] { KeyMaps(); });
  A.Tabs = MakeAction("&Tabs");
  On(A.Tabs, [this] { TabStops(); });

}

void TMainWindow::BuildTransferActions() {
  A.ReceiveAscii = MakeAction("Receive &Ascii");
  On(A.ReceiveAscii, [this] { Receive->StartReceive(true); });
  A.ReceiveBinary = MakeAction("Receive &Binary");
  On(A.ReceiveBinary, [this] { Receive->StartReceive(false); });
  A.ReceiveFtp = MakeAction("&FTP");
  A.SendAscii = MakeAction("Send &Ascii");
  On(A.SendAscii, [this] { SendAscii(); });
  A.SendVtrans = MakeAction("Send &Vtrans");
  A.SendVtrans->setEnabled(false);
  A.Simulate = MakeAction("&Simulate");
  On(A.Simulate, [this] { Replay->StartSimulate(); });
  A.Playback = MakeAction("&Playback");
  On(A.Playback, [this] { Replay->StartPlayback(); });
  A.SendFtp = MakeAction("&FTP");
  A.CancelTransfer = MakeAction("&Cancel", "Cancel Transfer");
  On(A.CancelTransfer, [this] { CancelTransfer(); });
  for (QAction* ftp : {A.ReceiveFtp, A.SendFtp}) {
    On(ftp, [this] {
      auto* window = new TQelFTPDlg(S->Settings, QtDesktop, S->ProgramDirectory, this, &S->Connection);
      window->setAttribute(Qt::WA_DeleteOnClose);
      window->show();
    });
  }
  A.ReceivePopupAscii = MakeAction("&ASCII");
  A.ReceivePopupBinary = MakeAction("&BINARY");
  A.ReceivePopupFtp = MakeAction("&FTP");
  A.SendPopupAscii = MakeAction("&ASCII");
  A.SendPopupVtrans = MakeAction("&VTRANS");
  A.SendPopupVtrans->setEnabled(false);
  A.SendPopupSimulate = MakeAction("&SIMULATE");
  A.SendPopupPlayback = MakeAction("PLAY&BACK");
  A.SendPopupFtp = MakeAction("&FTP");
  // The pop-up items run the menu items' commands.
  for (auto [popup, item] : {std::pair{A.ReceivePopupAscii, A.ReceiveAscii}, {A.ReceivePopupBinary, A.ReceiveBinary},
                             {A.ReceivePopupFtp, A.ReceiveFtp}, {A.SendPopupAscii, A.SendAscii},
                             {A.SendPopupSimulate, A.Simulate}, {A.SendPopupPlayback, A.Playback},
                             {A.SendPopupFtp, A.SendFtp}}) {
    connect(popup, &QAction::triggered, item, &QAction::trigger);
  }
  A.ReceiveButton = MakeAction("Receive", "Receive File");
  A.TransmitButton = MakeAction("Transmit", "Transmit File");

}

void TMainWindow::BuildWindowActions() {
  TMainForm& form = *MainForm;
  A.ToolbarOpt = MakeAction("&Toolbar");
  A.StatusBarOpt = MakeAction("&Statusbar");
  A.QuorixToolBarOpt = MakeAction("&QUORIX Toolbar");
  A.ModemToolbarOpt = MakeAction("M&odem Toolbar");
  A.SoftKeyBarOpt = MakeAction("S&oftkey Toolbar");
  A.ShiftSoftKeyBarOpt = MakeAction("S&hift Softkey Toolbar");
  A.CntrlSoftKeyBarOpt = MakeAction("C&ntrl Softkey Toolbar");
  A.BookmarkOpt = MakeAction("&Bookmark");
  for (QAction* item : {A.ToolbarOpt, A.StatusBarOpt, A.QuorixToolBarOpt, A.ModemToolbarOpt, A.SoftKeyBarOpt,
                        A.ShiftSoftKeyBarOpt, A.CntrlSoftKeyBarOpt, A.BookmarkOpt}) {
    item->setCheckable(true);
  }
  A.ConfigureToolbar = MakeAction("&Configure Toolbar");
  A.ConfigureToolbar->setEnabled(false);
  A.ScrollBuffer = MakeAction("Scroll&Buffer");
  On(A.ScrollBuffer, [&form] { form.HoldScreen(); });

}

void TMainWindow::BuildQuorixActions() {
  TMainForm& form = *MainForm;
  // Beside trace conversion: every DSS1 message decoded also goes into a
  // capture file that Wireshark opens.
  A.TracePcap = MakeAction("PC", "Trace to pcap On/Off");
  A.TracePcap->setCheckable(true);
  connect(A.TracePcap, &QAction::toggled, this, [this](bool on) { TracePcap(on); });

  A.About = MakeAction("&About QEL");
  On(A.About, [this] { About(); });
  A.Help = MakeAction("&Help");
  On(A.Help, [this] { Help(); });
  A.Debug = MakeAction("&Debug");
  A.Debug->setCheckable(true);
  On(A.Debug, [&form] { form.Debug(); });

  for (int b = 0; b < qbCount; ++b) {
    const TQuorixButtonText& text = QuorixButtonText(static_cast<TQuorixButton>(b));
    A.Quorix[b] = MakeAction(text.Caption, text.Hint);
    // The caption is the whole label: no mnemonic, no "&" handling.
    A.Quorix[b]->setIconText(QString::fromLatin1(text.Caption));
    if (b == qbDisplayMode) {
      On(A.Quorix[b], [this] { OpenDisplayMode(); });
    } else if (b == qbConvertWord || b == qbConvertByte) {
      On(A.Quorix[b], [this, b] {
        const TMarkedText marked = MainForm->MarkedSelection();
        if (!marked.Lines.empty()) Screen->CopySelection();
        MainForm->QuorixCommand(static_cast<TQuorixButton>(b), &marked);
      });
    } else {
      On(A.Quorix[b], [this, b] { MainForm->QuorixCommand(static_cast<TQuorixButton>(b)); });
    }
  }
}

void TMainWindow::BuildMenus() {
  FileMenu = menuBar()->addMenu(QStringLiteral("&File"));
  FileMenu->addActions({A.Open, A.Save, A.SaveAs});
  FileMenu->addSeparator();
  FileMenu->addActions({A.Print, A.PrintPreview, A.PrintSetUp});
  FileMenu->addSeparator();
  FileMenu->addActions({A.Logfile, A.ExecuteScript});
  RecentSeparator = FileMenu->addSeparator();
  RecentSeparator->setVisible(false);
  for (QAction* item : A.Recent) FileMenu->addAction(item);
  FileMenu->addSeparator();
  FileMenu->addAction(A.Exit);

  QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
  edit->addAction(A.Copy);
  edit->addActions({A.PasteSend, A.PasteReceive, A.PastetoDisk, A.CancelPaste});
  edit->addSeparator();
  edit->addActions({A.SelectAll, A.Clear, A.Empty});
  edit->addSeparator();
  edit->addActions({A.AddBookmark, A.Find, A.FindForward, A.FindBackward});

  QMenu* setup = menuBar()->addMenu(QStringLiteral("&Setup"));
  setup->addAction(A.Configure);
  setup->addSeparator();
  QMenu* connectMenu = setup->addMenu(QStringLiteral("C&onnect"));
  connectMenu->addActions({A.ConnectSerial, A.ConnectNetwork, A.ConnectSecure, A.Listen});
  QMenu* disconnectMenu = setup->addMenu(QStringLiteral("&Disconnect"));
  disconnectMenu->addActions({A.DisconnectSerial, A.DisconnectNetwork, A.DisconnectSecure});
  A.ConnectMenu = connectMenu->menuAction();
  A.DisconnectMenu = disconnectMenu->menuAction();
  setup->addActions({A.SendBreak, A.ResetTerminal});
  setup->addSeparator();
  QMenu* soft = setup->addMenu(QStringLiteral("&SoftKey Definition"));
  soft->addActions({A.SoftNormal, A.SoftShift, A.SoftCntrl});
  setup->addActions({A.AnswerBack, A.Keymaps, A.Tabs});

  QMenu* transfer = menuBar()->addMenu(QStringLiteral("&Transfer"));
  QMenu* download = transfer->addMenu(QStringLiteral("&Download"));
  download->addActions({A.ReceiveAscii, A.ReceiveBinary, A.ReceiveFtp});
  QMenu* upload = transfer->addMenu(QStringLiteral("&Upload"));
  upload->addActions({A.SendAscii, A.SendVtrans, A.Simulate, A.Playback, A.SendFtp});
  transfer->addSeparator();
  transfer->addAction(A.CancelTransfer);
  download->menuAction()->setObjectName(QStringLiteral("Download"));
  upload->menuAction()->setObjectName(QStringLiteral("Upload"));

  QMenu* window = menuBar()->addMenu(QStringLiteral("&Window"));
  window->addActions({A.ToolbarOpt, A.StatusBarOpt, A.QuorixToolBarOpt, A.ModemToolbarOpt, A.SoftKeyBarOpt,
                      A.ShiftSoftKeyBarOpt, A.CntrlSoftKeyBarOpt, A.BookmarkOpt});
  window->addSeparator();
  window->addActions({A.ConfigureToolbar, A.ScrollBuffer});

  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  help->addActions({A.About, A.Help});
  help->addSeparator();
  help->addAction(A.Debug);

  // Opening the Edit menu (or the pop-up) decides what can be pasted.
  auto pasteRules = [this] {
    const bool text = QtDesktop.ClipboardText().has_value();
    const std::uint32_t jobs = S->Transfer->Activities;
    A.PasteSend->setEnabled(text && !(jobs & acPasteSend));
    A.PasteReceive->setEnabled(text && !(jobs & acPasteReceive));
    A.PastetoDisk->setEnabled(text);
  };
  connect(edit, &QMenu::aboutToShow, this, pasteRules);

  Popup = new QMenu(this);
  Popup->addAction(A.Copy);
  Popup->addActions({A.PasteSend, A.PasteReceive, A.PastetoDisk, A.CancelPaste});
  Popup->addSeparator();
  Popup->addActions({A.SelectAll, A.UnMark});
  Popup->addSeparator();
  Popup->addActions({A.AddBookmark, A.Find, A.FindForward, A.FindBackward});
  connect(Popup, &QMenu::aboutToShow, this, pasteRules);

  ReceiveMenu = new QMenu(this);
  ReceiveMenu->addActions({A.ReceivePopupAscii, A.ReceivePopupBinary, A.ReceivePopupFtp});
  TransmitMenu = new QMenu(this);
  TransmitMenu->addActions({A.SendPopupAscii, A.SendPopupVtrans, A.SendPopupSimulate, A.SendPopupPlayback,
                            A.SendPopupFtp});
  A.ReceiveButton->setMenu(ReceiveMenu);
  A.TransmitButton->setMenu(TransmitMenu);
}

void TMainWindow::BuildToolBars() {
  MainToolBar = addToolBar(QStringLiteral("Toolbar"));
  MainToolBar->setObjectName(QStringLiteral("QelToolBar"));
  MainToolBar->setMovable(false);
  MainToolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
  MainToolBar->addActions({A.Open, A.SaveAs, A.FileClose});
  MainToolBar->addSeparator();
  MainToolBar->addActions({A.Print, A.PrintSetUp, A.Logfile, A.FontSelect});
  MainToolBar->addSeparator();
  MainToolBar->addActions({A.Copy, A.Find, A.Configure});
  MainToolBar->addSeparator();
  MainToolBar->addActions({A.ConnectSerialButton, A.DisconnectSerialButton, A.ConnectNetworkButton,
                           A.DisconnectNetworkButton});
  MainToolBar->addSeparator();
  MainToolBar->addActions({A.ReceiveButton, A.TransmitButton, A.CancelTransfer});
  for (QAction* withMenu : {A.ReceiveButton, A.TransmitButton}) {
    if (auto* button = qobject_cast<QToolButton*>(MainToolBar->widgetForAction(withMenu))) {
      button->setPopupMode(QToolButton::InstantPopup);
    }
  }
  // The toolbar shows short labels (icon text); the menus keep the captions.
  const std::pair<QAction*, const char*> labels[] = {
      {A.Open, "Open"},   {A.SaveAs, "Save As"}, {A.Print, "Print"},     {A.PrintSetUp, "Setup"},
      {A.Logfile, "Log"}, {A.Copy, "Copy"},      {A.Find, "Find"},       {A.Configure, "Config"},
      {A.CancelTransfer, "Cancel"}, {A.ReceiveButton, "Recv"}, {A.TransmitButton, "Send"},
      {A.DisconnectSerialButton, "COM off"}, {A.DisconnectNetworkButton, "NET off"}};
  for (const auto& [action, label] : labels) action->setIconText(QString::fromLatin1(label));
  QFont barFont = MainToolBar->font();
  barFont.setPointSizeF(barFont.pointSizeF() * 0.9);
  MainToolBar->setFont(barFont);
  // Every button fits the default window width.
  MainToolBar->setStyleSheet(QStringLiteral("QToolButton { padding: 1px 1px; margin: 0px; } QToolButton::menu-indicator { image: none; width: 0px; }"));

  addToolBarBreak();
  QuorixToolBar = addToolBar(QStringLiteral("QUORIX Toolbar"));
  QuorixToolBar->setObjectName(QStringLiteral("QUORIXToolBar"));
  QuorixToolBar->setMovable(false);
  QuorixToolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
  for (QAction* action : A.Quorix) QuorixToolBar->addAction(action);
  QuorixToolBar->insertAction(A.Quorix[qbMini], A.TracePcap);

  addToolBarBreak();
  Modem = std::make_unique<TModem>(ModemContext(*S));
  ModemToolBar = new TModemToolbar(*Modem, this);
  ModemToolBar->setObjectName(QStringLiteral("ModemToolbar"));
  ModemToolBar->setMovable(false);
  addToolBar(ModemToolBar);

  const std::pair<QAction*, int> softBars[] = {{A.CntrlSoftKeyBarOpt, 0}, {A.ShiftSoftKeyBarOpt, 1}, {A.SoftKeyBarOpt, 2}};
  for (const auto& [item, index] : softBars) {
    connect(item, &QAction::triggered, this, [this, item = item, index = index] {
      std::uint8_t* visible[3] = {&S->Settings.CntrlSoftKeyBarVisible, &S->Settings.ShiftSoftKeyBarVisible,
                                  &S->Settings.SoftKeyBarVisible};
      ToggleBar(item, SoftKeyBars[index], *visible[index]);
    });
  }
  connect(A.StatusBarOpt, &QAction::triggered, this, [this] { ToggleBar(A.StatusBarOpt, Clock, S->Settings.StatusBarVisible); });
  connect(A.ToolbarOpt, &QAction::triggered, this, [this] { ToggleBar(A.ToolbarOpt, MainToolBar, S->Settings.ToolBarVisible); });
  connect(A.QuorixToolBarOpt, &QAction::triggered, this,
          [this] { ToggleBar(A.QuorixToolBarOpt, QuorixToolBar, S->Settings.QuorixToolBarVisible); });
  connect(A.ModemToolbarOpt, &QAction::triggered, this, [this] {
    ToggleBar(A.ModemToolbarOpt, ModemToolBar, S->Settings.ModemToolBarVisible);
    ModemToolBar->SetToolbarVisible(ModemToolBar->isVisible());
  });
}

void TMainWindow::BuildCentral() {
  Central = new QWidget(this);
  CentralLayout = new QVBoxLayout(Central);
  CentralLayout->setContentsMargins(0, 0, 0, 0);
  CentralLayout->setSpacing(0);
  Screen = new TScreenView(*S->Screen, Central);
  Screen->setObjectName(QStringLiteral("QelScreen"));
  Screen->OnKey = [this](QKeyEvent* event) { return KeyEvent(event); };
  Screen->RowSize = [this](int line) { return RowSizeOf(*S->Screen, S->Writer->State, line); };
  Screen->setContextMenuPolicy(Qt::NoContextMenu);
  connect(Screen, &TScreenView::RightClicked, this, [this](const QPoint& at) { Popup->popup(at); });
  connect(Screen, &TScreenView::MiddleClicked, this, [this] {
    if (!Screen->SelectionText().empty()) {
      Screen->CopySelection();
      Screen->Unmark();
    } else {
      A.PasteSend->trigger();
    }
  });
  CentralLayout->addWidget(Screen, 1);
  const TSoftKeyGroup groups[3] = {sgCntrl, sgShift, sgNormal};
  const char* names[3] = {"QelCntrlSoftKey", "QelShiftSoftKey", "QelSoftKey"};
  for (int i = 0; i < 3; ++i) {
    auto* bar = new TQelSoftK(groups[i], Central);
    bar->setObjectName(QString::fromLatin1(names[i]));
    bar->setFocusPolicy(Qt::NoFocus);
    connect(bar, &TQelSoftK::Clicked, this, [this, bar](int index) {
      S->Keyboard->StartSoftKey(SoftKeyOfBarKey(bar->Group(), index));
      Screen->setFocus();
    });
    CentralLayout->addWidget(bar);
    SoftKeyBars[i] = bar;
  }
  Clock = new TQelClock(Central);
  Clock->setObjectName(QStringLiteral("QelStatusBar"));
  Clock->SetClockWidth(90);
  Clock->ReadScrollback = [this] {
    const TStoreFigures f = S->Screen->Figures();
    return TScrollbackFigures{f.Lines, f.ResidentBytes, f.Ratio()};
  };
  CentralLayout->addWidget(Clock);
  setFocusProxy(Screen);
  Screen->setFocus();

  Finder = std::make_unique<TScreenFind>(*S->Screen);
  Finder->ShowLine = [this](int line) { Screen->ShowLine(line); };
  FindDialog = new TQelFindDlg(*Finder, QtDesktop, this);
  Bookmarks = std::make_unique<TBookmarks>(*S->Screen);
  Bookmarks->CentreLine = [this](int line) {
    Screen->ScrollTo(Screen->LeftColumn(), line - Screen->VisibleRows() / 2);
  };
  BookmarkForm = new TBookMarkForm(*Bookmarks, this);
  connect(Screen, &TScreenView::SelectionChanged, BookmarkForm, &TBookMarkForm::UpdateSelectionRow);
  connect(A.BookmarkOpt, &QAction::triggered, this, [this](bool on) {
    S->Settings.BookmarkVisible = on ? 1 : 0;
    BookmarkForm->setVisible(on);
  });
  setCentralWidget(Central);
  auto* panel = new TStartupPanel(Central);
  StartupPanel = panel;
  panel->raise();
  connect(panel, &TStartupPanel::Clicked, this, [this] {
    MainForm->Handover.StartupCountdown = 0;
    StartupPanelDone();
  });
}

void TMainWindow::WireSession() {
  QtDesktop.Handler = [this](const TPostedMessage& message) { HandleMessage(message); };
  QtDesktop.OnShowMemo = [this](const TMemoText& memo) {
    TMemoServices services;
    services.Settings = &S->Settings;
    services.Files = S->Files.get();
    services.Desktop = &QtDesktop;
    services.Printer = PrinterDevice.get();
    services.PasteToDisk = [this] { Paste->PasteToDisk(); };
    TQelMemoForm::ShowModeless(memo, this, services);
  };
  QtDesktop.OnAskModeName = [this](const std::string& last, const std::string& list) {
    return TModeDialogBox::Ask(QtDesktop, *S->Errors, this, last, list);
  };
  TMainForm& form = *MainForm;
  form.OnStateChanged = [this] {
    WriteToolBar();
    WriteQuorixBar();
    WriteStatusBar();
  };
  const auto refresh = [this] {
    WriteToolBar();
    WriteStatusBar();
  };
  PacedSend->OnStateChanged = refresh;
  Receive->OnStateChanged = refresh;
  Replay->OnStateChanged = refresh;
  Paste->OnStateChanged = refresh;
  form.OnSettingsApplied = [this] {
    Finder->Busy = false;
    SetScreenProperties();
    FitWindowToScreen();
  };
  form.Handover.OnStartupPanelDone = [this] { StartupPanelDone(); };
  S->SettingsFiles->ApplyWindowGeometry = [this](const TWindowGeometry& geometry) { ApplyWindowGeometry(geometry); };
  S->SettingsFiles->SettingsLoaded = [this] {
    ModemToolBar->ShowSettings();
    SetScreenProperties();
    // The attributes were rebuilt with the record's font: new cells, all repainted.
    Screen->FontChanged();
  };
  Pages->OnPrinting = [this](bool printing) { Clock->SetPrintStatus(printing); };
  S->Trace->OnCommandProgress = [this] {
    WriteStatusBar();
    WriteQuorixBar();
  };
  S->SettingsFiles->WindowGeometry = [this] {
    TWindowGeometry geometry;
    geometry.Left = x();
    geometry.Top = y();
    geometry.Width = width();
    geometry.Height = height();
    return geometry;
  };
  form.Events.OnSessionEnded = [this](const std::string&) {
    S->Transfer->LineEnded();
    WriteToolBar();
  };
  form.OnHoldChanged = [this](bool held) { Screen->SetHold(held); };
  connect(Screen, &TScreenView::DoubleClicked, this, [this](int line, int column) {
    MainForm->ConvertAt(line, column);
  });
  WireKeyboard();
  LocalCommands = InstallLocalCommands(*S);
  // A settings file opened later brings its own command file.
  S->SettingsFiles->ReloadCommandDefinitions = [this] { LocalCommands->LoadCommandDefinitions(); };
  Probe = TWindowProbe::FromEnvironment(*Screen, this);
  if (Probe) {
    const auto dataAvailable = Sockets->OnDataAvailable;
    Sockets->OnDataAvailable = [this, dataAvailable](int socket) {
      Probe->DataArrived();
      dataAvailable(socket);
    };
  }
  S->Keyboard->EscapeActionHook = [this] { EscapeActionHook(); };
}

void TMainWindow::HandleMessage(const TPostedMessage& message) {
  switch (message.Message) {
    case wmWriteQuorixBar: WriteQuorixBar(); return;
    case wmWriteToolBar: WriteToolBar(); return;
    case wmTransferEnded: MainForm->TransferEnded(); return;
    case wmTransferStarted: MainForm->TransferStarted(static_cast<int>(message.WParam)); return;
    case wmOpenPads:
      // Not a question: received data must keep flowing to PADS under it.
      TPadsWindow::Run(*S, this);
      WriteToolBar();
      WriteQuorixBar();
      WriteStatusBar();
      return;
    case wmFindRequest:
      Finder->HandleRequest(static_cast<int>(message.WParam), [this](int state) { FindDialog->PostFindState(state); });
      return;
    default: break;
  }
  MainForm->Handover.HandleMessage(message);
}

void TMainWindow::StartUp() {
  S->Transfer->HostTransfers.ReceiveLimit = Options.ReceiveLimit;
  MainForm->StartUp(Options.SettingsFile, !Options.SkipBackgroundFile);
  ApplySettingsFileState();
  SetScreenProperties();
  ModemToolBar->ShowSettings();
  Screen->ScrollTo(0, S->Screen->Count());
  WriteQuorixBar();
  WriteToolBar();
  Timer.start();
  std::string why;
  if (qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS")) DBus->Start("qelwin", &why);
  if (Options.Trace && !MainForm->QuorixButtonOn(qbTrace)) MainForm->QuorixCommand(qbTrace);
  if (Options.Connect == "serial") MainForm->ConnectSerial();
  if (Options.Connect == "network") MainForm->ConnectNetwork();
  if (Options.Connect == "ssh") MainForm->ConnectSecure();
}

void TMainWindow::ApplySettingsFileState() {
  const TSettingsFiles& files = *S->SettingsFiles;
  setWindowTitle(FromBytes(files.Caption));
  QtDesktop.ApplicationTitle = FromBytes(files.ApplicationTitle);
  A.Save->setEnabled(files.SaveEnabled);
  RecentSeparator->setVisible(files.RecentSeparatorVisible);
  for (int i = 0; i < 4; ++i) {
    A.Recent[i]->setText(FromBytes(files.RecentItems[i]));
    A.Recent[i]->setVisible(!files.RecentItems[i].empty());
  }
}

void TMainWindow::WriteToolBar() {
  const TConnectionControls& c = MainForm->Events.Controls;
  A.ConnectMenu->setEnabled(c.ConnectItem);
  A.DisconnectMenu->setEnabled(c.DisconnectItem);
  A.ConnectSerial->setEnabled(c.ConnectItem);
  A.ConnectNetwork->setEnabled(c.ConnectItem);
  A.ConnectSecure->setEnabled(c.ConnectItem);
  A.Listen->setEnabled(c.ConnectItem);
  A.DisconnectSerial->setEnabled(c.DisconnectItem);
  A.DisconnectNetwork->setEnabled(c.DisconnectItem);
  A.DisconnectSecure->setEnabled(c.DisconnectItem);
  A.ConnectSerialButton->setEnabled(c.SerialConnectButton);
  A.DisconnectSerialButton->setEnabled(c.SerialDisconnectButton);
  A.ConnectNetworkButton->setEnabled(c.NetworkConnectButton);
  A.DisconnectNetworkButton->setEnabled(c.NetworkDisconnectButton);
  const TCommandState& state = MainForm->State;
  for (QAction* item : {A.ReceiveAscii, A.ReceiveBinary, A.ReceiveFtp, A.SendAscii, A.Simulate, A.Playback, A.SendFtp,
                        A.ReceiveButton, A.TransmitButton}) {
    item->setEnabled(state.TransfersEnabled);
  }
  A.Logfile->setChecked(S->Files->LogOpen);
  {
    // A failed write turns the export off by itself.
    const QSignalBlocker quiet(A.TracePcap);
    A.TracePcap->setChecked(S->Trace->PcapExporting());
  }
  A.Debug->setChecked(state.DebugChecked);
}

void TMainWindow::WriteQuorixBar() {
  // A conversion or a listing runs until it ends or is broken off.
  const bool commandRunning = S->Trace->Command.Running;
  for (const TQuorixButton oneShot : {qbConvertWord, qbConvertByte, qbDisplayMode})
    A.Quorix[oneShot]->setEnabled(!commandRunning);
  for (int b = 0; b < qbCount; ++b) {
    const auto button = static_cast<TQuorixButton>(b);
    auto* widget = QuorixToolBar->widgetForAction(A.Quorix[b]);
    if (!widget) continue;
    const bool on = MainForm->QuorixButtonOn(button);
    const bool oneShot = QuorixButtonText(button).OneShot;
    QFont font = widget->font();
    font.setBold(on && !oneShot);
    font.setUnderline(on || oneShot);
    widget->setFont(font);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::ButtonText, on && !oneShot ? Qt::black : Qt::blue);
    widget->setPalette(palette);
    widget->setAccessibleDescription(on ? QStringLiteral("on") : QStringLiteral("off"));
  }
}

void TMainWindow::WriteStatusBar() {
  S->Status.ScrollLock = S->Writer->State.KeyboardLocked;
  Clock->SetIndicators(S->Status);
  const TCommandState& state = MainForm->State;
  // A running conversion or listing has the gauge; a transfer's comes back after it.
  const TTraceDecoder::TCommandProgress& command = S->Trace->Command;
  const bool gauge = state.GaugeVisible || command.Running;
  const int maximum = command.Running ? 100 : state.GaugeMax;
  if (gauge != Clock->GaugeShown() || (gauge && Clock->GaugeMaximum() != maximum)) {
    if (gauge) Clock->ShowGauge(maximum); else Clock->HideGauge();
  }
  if (gauge) Clock->SetGaugeProgress(command.Running ? command.Percent() : state.GaugeProgress);
  const TTransferEngine& engine = *S->Transfer;
  const bool receiving = engine.TransferActive && engine.Direction == 1 && engine.ReceiveKind != 2;
  Clock->SetReceivedBytes(receiving ? static_cast<std::int64_t>(S->Files->ReceivedBytes) : -1);
}

bool TMainWindow::KeyEvent(QKeyEvent* event) {
  // While a conversion or a listing runs, Esc and Ctrl+Break break it off
  // and go nowhere else.
  if (S->Trace->Command.Running && IsBreakKey(*event)) {
    if (event->type() == QEvent::KeyPress) S->Trace->AbortRequested = true;
    return true;
  }
  if (event->type() == QEvent::KeyPress) {
    if (MainForm->Handover.StartupCountdown > 0) MainForm->Handover.StartupCountdown = 1;
    // Escape with the scroll-back held ends the hold and nothing else.
    if (event->key() == Qt::Key_Escape && MainForm->ReleaseHold()) return true;
  }
  DeliverKeyEvent(*S, *event);
  return true;
}

void TMainWindow::EscapeActionHook() {
  S->TraceFiles->CloseTraceFiles();
  if (!S->Mini->WantsCharacters()) S->Kasp->CloseKaspFiles();
  Paste->CancelPaste();
  WriteQuorixBar();
  WriteStatusBar();
}

void TMainWindow::SetScreenProperties() {
  const TSetupRecord& settings = S->Settings;
  MainToolBar->setVisible(settings.ToolBarVisible);
  A.ToolbarOpt->setChecked(settings.ToolBarVisible);
  QuorixToolBar->setVisible(settings.QuorixToolBarVisible);
  A.QuorixToolBarOpt->setChecked(settings.QuorixToolBarVisible);
  ModemToolBar->setVisible(settings.ModemToolBarVisible);
  A.ModemToolbarOpt->setChecked(settings.ModemToolBarVisible);
  A.StatusBarOpt->setChecked(settings.StatusBarVisible);
  Clock->setVisible(settings.StatusBarVisible);
  const bool softVisible[3] = {settings.CntrlSoftKeyBarVisible != 0, settings.ShiftSoftKeyBarVisible != 0,
                               settings.SoftKeyBarVisible != 0};
  for (int i = 0; i < 3; ++i) {
    SoftKeyBars[i]->ApplySettings(settings);
    SoftKeyBars[i]->setVisible(softVisible[i]);
  }
  A.SoftKeyBarOpt->setChecked(settings.SoftKeyBarVisible);
  A.ShiftSoftKeyBarOpt->setChecked(settings.ShiftSoftKeyBarVisible);
  A.CntrlSoftKeyBarOpt->setChecked(settings.CntrlSoftKeyBarVisible);
  A.BookmarkOpt->setChecked(settings.BookmarkVisible);
  BookmarkForm->setVisible(settings.BookmarkVisible);
  TBrowse& screen = *S->Screen;
  const bool fontChanged = screen.FontName != settings.FontName.str() || screen.FontSize != settings.FontSize ||
                           screen.FontStyle != settings.FontStyle;
  const bool coloursChanged = screen.ForeColor != settings.ForegroundColor || screen.BackColor != settings.BackgroundColor;
  screen.FontName = settings.FontName.str();
  screen.FontSize = settings.FontSize;
  screen.FontStyle = settings.FontStyle;
  screen.ForeColor = settings.ForegroundColor;
  screen.BackColor = settings.BackgroundColor;
  if (fontChanged || coloursChanged) Screen->FontChanged();
  if (TMarkAttributes* selection = screen.Marks.Get(kSelectionMark);
      selection && (selection->Foreground != settings.MarkForegroundColor ||
                    selection->Background != settings.MarkBackgroundColor)) {
    selection->Foreground = settings.MarkForegroundColor;
    selection->Background = settings.MarkBackgroundColor;
    Screen->viewport()->update();
  }
  screen.Options = boFixedPitchOnly | (settings.FollowCursor ? boAutoTracking : 0u) |
                   (settings.LazyScroll == 1 ? boLazyWrite : 0u) |
                   (screen.Options & (boMarkCursorLine | boListBox));
  WriteStatusBar();
}

int TMainWindow::BarHeight(QWidget* bar) const { return bar && bar->isVisible() ? bar->sizeHint().height() : 0; }

void TMainWindow::ToggleBar(QAction* item, QWidget* bar, std::uint8_t& visible) {
  const bool show = !bar->isVisible();
  visible = show ? 1 : 0;
  item->setChecked(show);
  const int height = bar->sizeHint().height();
  bar->setVisible(show);
  if (!isMaximized() && !isFullScreen()) resize(width(), this->height() + (show ? height : -height));
}

int TMainWindow::VisibleBarsHeight() const {
  int height = menuBar()->sizeHint().height();
  for (QWidget* bar : std::initializer_list<QWidget*>{MainToolBar, QuorixToolBar, ModemToolBar, Clock, SoftKeyBars[0],
                                                     SoftKeyBars[1], SoftKeyBars[2]}) {
    if (bar && !bar->isHidden()) height += bar->sizeHint().height();
  }
  return height;
}

// Client area for 80 columns and 24 rows, then the saved window size where
// the settings hold one, then room for every visible bar.
void TMainWindow::SizeAtStart() {
  const TSetupRecord& settings = S->Settings;
  const QSize cell = Screen->CellSize();
  QSize client(cell.width() * 80 + 25, cell.height() * 24 + 48);
  if (settings.WindowWidth > 0) client.setWidth(settings.WindowWidth);
  if (settings.WindowHeight > 0) client.setHeight(settings.WindowHeight);
  resize(client.width(), client.height() + VisibleBarsHeight());
  if (settings.WindowLeft >= 0 && settings.WindowTop >= 0) move(settings.WindowLeft, settings.WindowTop);
}

// Reset Terminal: the window fits the screen's 80 or 132 columns and 24 rows.
void TMainWindow::FitWindowToScreen() {
  if (isMaximized() || isFullScreen()) return;
  const int columns = S->Settings.ScreenSize == 1 ? 132 : 80;
  const QSize wanted = Screen->SizeForColumns(columns);
  const QSize delta = wanted - Screen->size();
  resize(width() + delta.width(), height() + delta.height());
}

void TMainWindow::ExitCommand() {
  MainForm->CloseConnectionsAndFiles();
  close();
}

void TMainWindow::EndWithoutQuestions() {
  MainForm->CloseConnectionsAndFiles();
  if (Probe) Probe->Write();
  ClosingAllowed = true;
  QCoreApplication::exit(0);
}

void TMainWindow::closeEvent(QCloseEvent* event) {
  if (ClosingAllowed || MainForm->CloseQuery()) {
    Timer.stop();
    event->accept();
    return;
  }
  event->ignore();
}

void TMainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  if (StartupPanel) StartupPanel->setGeometry(Central->rect());
}

void TMainWindow::About() {
  QMessageBox::about(this, QStringLiteral("About QEL"),
                     QStringLiteral("<b>QEL for Windows</b><br>A terminal for telephone-exchange maintenance "
                                    "and trace decoding."));
}

void TMainWindow::Help() {
  if (ShowHelpTopic(this, QString::fromLatin1(help::kContents))) return;
  S->Desktop.ShowMessage({TMsgIcon::Error,
                          "Unable to open Help File.\r\nMake sure QelWin32.HLP is located in the QELWIN32 directory",
                          "", mbOK, 0});
}

void TMainWindow::OpenDisplayMode() {
  if (!QuorixOnly(*S)) return;
  TSetupRecord& settings = S->Settings;
  const std::string list = settings.ModeFileName.empty() ? std::string() : settings.ModeFileName.str() + ".mnt";
  TModeDialogBox::OpenModeless(QtDesktop, *S->Errors, this, UpperCase(settings.DisplayModeName.view()), list,
                               [this](const std::string& name) {
                                 const std::string upper = UpperCase(TrimSpaces(name));
                                 if (!upper.empty()) S->Settings.DisplayModeName = upper;
                                 DisplayMode(*S);
                               });
}

void TMainWindow::Configure() {
  TConfigDialog dialog(S->Settings, S->Connection, QtDesktop, this);
  connect(&dialog, &TConfigDialog::Applied, this, [this, &dialog](const TSetupRecord& draft) {
    ApplyConnectionSettings(*S, draft, dialog.ConnectionDraft());
    MainForm->Events.OnChanged();
  });
  if (QtDesktop.Modal([&] { return dialog.exec(); }) == QDialog::Accepted) {
    TConfigHooks hooks;
    hooks.ScreenProperties = [this](const TConfigChanges&) { Screen->FontChanged(); };
    hooks.ReloadCommandDefinitions = [this] { LocalCommands->LoadCommandDefinitions(); };
    ApplyConfiguration(*S, dialog.Draft(), dialog.ConnectionDraft(), hooks);
  }
  SetScreenProperties();
  WriteQuorixBar();
  WriteToolBar();
}

void TMainWindow::WireKeyboard() {
  TKeyboard& keyboard = *S->Keyboard;
  keyboard.ScreenHeld = [this] { return MainForm->Handover.HoldScreen(); };
  keyboard.ReleaseScreen = [this] { MainForm->ReleaseHold(); };
  keyboard.ShowHistoryBox = [this](const std::vector<std::string>& lines, int selected) {
    const int line = Screen->CursorLine();
    const QRect row = Screen->CellRect(line, 1);
    const QRect area(Screen->viewport()->mapToGlobal(row.topLeft()),
                     QSize(Screen->viewport()->width(), row.height()));
    return QtDesktop.Modal([&] { return THistoryBox::Ask(this, area, lines, selected); });
  };
}

void TMainWindow::SoftKeyDialog(int kind) {
  TQelFKeyDlg dialog(S->Settings, static_cast<TQelFKeyDlg::TKind>(kind), this);
  if (QtDesktop.Modal([&] { return dialog.exec(); }) != QDialog::Accepted) return;
  S->Settings = dialog.Settings();
  SetScreenProperties();
}

void TMainWindow::TabStops() {
  TQelTabStops dialog(S->Settings, this);
  if (QtDesktop.Modal([&] { return dialog.exec(); }) != QDialog::Accepted) return;
  S->Settings = dialog.Settings();
}

void TMainWindow::KeyMaps() {
  TQelKeyboard dialog(S->Settings, this);
  if (QtDesktop.Modal([&] { return dialog.exec(); }) != QDialog::Accepted) return;
  S->Settings = dialog.Settings();
}

void TMainWindow::TracePcap(bool on) {
  TTraceDecoder& trace = *S->Trace;
  if (!on) {
    trace.StopPcapExport();
    return;
  }
  if (trace.PcapExporting()) return;
  TFileDialog save;
  save.Save = true;
  save.Title = "Save DSS1 Trace for Wireshark";
  save.Filter = "Packet Capture (*.PCAP)|*.PCAP";
  save.DefaultExtension = "pcap";
  save.InitialName = "dss1.pcap";
  save.InitialDirectory = S->ProgramDirectory;
  save.OverwritePrompt = true;
  const std::optional<std::string> name = QtDesktop.FileDialog(save);
  const int error = name ? trace.StartPcapExport(*name) : -1;
  if (error > 0) S->Errors->ReportErrno(ekFileOpen, error, *name);
  if (error != 0) {
    const QSignalBlocker quiet(A.TracePcap);
    A.TracePcap->setChecked(false);
  }
}

void TMainWindow::SendAscii() {
  PacedSend->SendAscii([this](TSetupRecord& draft) {
    TSendDialog dialog(draft, QtDesktop, this);
    if (QtDesktop.Modal([&] { return dialog.exec(); }) != QDialog::Accepted) return false;
    draft = dialog.Draft();
    return true;
  });
}

// The simulate file is chosen in the send dialog with only its name to edit.
std::optional<std::string> TMainWindow::AskSimulateFile(const std::string& preset) {
  TSetupRecord draft = S->Settings;
  draft.SendReceiveFileName.assign(preset);
  TSendDialog dialog(draft, QtDesktop, this);
  for (QWidget* pacing : std::initializer_list<QWidget*>{dialog.CharDelayBox(), dialog.LineDelayBox(),
                                                        dialog.EndOfLineBox(), dialog.WaitCharEdit(), dialog.CtrlZBox(),
                                                        dialog.WaitAfterLineBox(), dialog.MaxEchoDelayBox()}) {
    pacing->setEnabled(false);
  }
  if (QtDesktop.Modal([&] { return dialog.exec(); }) != QDialog::Accepted) return std::nullopt;
  return dialog.FileNameEdit()->text().toLocal8Bit().toStdString();
}

void TMainWindow::CancelTransfer() {
  Paste->CancelPaste();
  Replay->Cancel();
  MainForm->CancelTransfer();
}

void TMainWindow::SelectFont() {
  TSetupRecord& settings = S->Settings;
  QFont current(QString::fromLatin1(settings.FontName.str().c_str()), std::max<int>(1, settings.FontSize));
  current.setBold(settings.FontStyle & fsBold);
  current.setItalic(settings.FontStyle & fsItalic);
  current.setUnderline(settings.FontStyle & fsUnderline);
  current.setStrikeOut(settings.FontStyle & fsStrikeOut);
  bool chosen = false;
  const QFont font = QtDesktop.Modal([&] {
    return QFontDialog::getFont(&chosen, current, this, QStringLiteral("Font"), QFontDialog::MonospacedFonts);
  });
  if (!chosen) return;
  settings.FontName.assign(font.family().toLatin1().toStdString());
  settings.FontSize = static_cast<std::uint16_t>(std::max(1, font.pointSize()));
  settings.FontStyle = static_cast<std::uint8_t>((font.bold() ? fsBold : 0) | (font.italic() ? fsItalic : 0) |
                                                 (font.underline() ? fsUnderline : 0) |
                                                 (font.strikeOut() ? fsStrikeOut : 0));
  S->Writer->BuildAttributes();
  SetScreenProperties();  // the screen takes the new font and repaints
}
void TMainWindow::AddBookmark() {
  const std::optional<std::string> name =
      QtDesktop.Modal([this] { return TEditBox::Ask(this, QStringLiteral("Enter Bookmark Name")); });
  if (name) AddBookmarkNamed(*name);
}

bool TMainWindow::AddBookmarkNamed(const std::string& name) {
  try {
    return Bookmarks->AddBookmark(name, S->Settings.BookmarkColor1, S->Settings.BookmarkColor2);
  } catch (const EOutOfResources& error) {
    S->Desktop.ShowMessage({TMsgIcon::Error, error.what(), "", mbOK, 0});
    return false;
  }
}
void TMainWindow::StartupPanelDone() {
  // Its own click handler may be running: the panel goes once that returns.
  if (!StartupPanel) return;
  StartupPanel->hide();
  StartupPanel->deleteLater();
  StartupPanel = nullptr;
}

// --- Settings files ---

// A loaded record's size and position where they differ from the window's;
// a record without a size (0 or less) leaves the size alone.
void TMainWindow::ApplyWindowGeometry(const TWindowGeometry& geometry) {
  if (isMaximized() || isFullScreen()) return;
  if (geometry.Width > 0 && geometry.Height > 0 && (geometry.Width != width() || geometry.Height != height()))
    resize(geometry.Width, geometry.Height);
  if (geometry.Left != x() || geometry.Top != y()) move(geometry.Left, geometry.Top);
}

// --- Printing ---

TQelPrintPreview* TMainWindow::PrintPreviewWindow() {
  if (!Preview) Preview = new TQelPrintPreview(*Pages, this);
  return Preview;
}

void TMainWindow::ShowPrintPreview() {
  TQelPrintPreview* preview = PrintPreviewWindow();
  preview->SetMarkedOnly(PrintPresets(S->Settings).MarkedOnly);
  QtDesktop.Modal([&] { return preview->exec(); });
}

bool TMainWindow::PrintChosen(const TPrintChoice& choice) {
  bool done = false;
  if (choice.ToFile) {
    done = PrintLinesToFile(*S->Screen, S->Settings, *S->Files, QtDesktop, choice.MarkedOnly);
  } else {
    done = Pages->PrintLines(*PrinterDevice, choice.MarkedOnly, this) > 0;
  }
  WriteStatusBar();
  return done;
}

void TMainWindow::PrintCommand() {
  if (Pages->Setup.Printing) return;  // one document at a time
  TQelPrintDialog dialog(*PrinterDevice, PrintPresets(S->Settings), S->Settings.LogFileName.str(), this);
  dialog.setWindowTitle(QStringLiteral("Print"));
  if (QtDesktop.Modal([&] { return dialog.exec(); }) != QDialog::Accepted) return;
  PrintChosen(dialog.Choice());
}

void TMainWindow::PrintSetUpCommand() {
  const TPrintChoice preset = PrintPresets(S->Settings);
  TQelPrintDialog dialog(*PrinterDevice, preset, S->Settings.LogFileName.str(), this);
  dialog.setWindowTitle(QStringLiteral("Print Setup"));
  if (QtDesktop.Modal([&] { return dialog.exec(); }) != QDialog::Accepted) return;
  TPrintChoice choice = dialog.Choice();
  if (choice.ToFile != preset.ToFile) {
    if (const std::string refused = Pages->Setup.SetPrintToFile(choice.ToFile); !refused.empty()) {
      S->Desktop.ShowMessage({TMsgIcon::Error, refused, "", mbOK, 0});
      choice.ToFile = preset.ToFile;
    }
  }
  StorePrintChoice(S->Settings, choice);
}
