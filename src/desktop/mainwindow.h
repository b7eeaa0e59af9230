// TMainWindow: the program's one main window. It owns the session, the
// line drivers, the bars and the dialogs; every command is one QAction,
// shared by the menus, the toolbars and the pop-up menu, and the bars are
// redrawn from the session by one function each after every event batch.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <array>
#include <memory>
#include <string>

#include "app/mainform.h"
#include "desktop/qtdesktop.h"

class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QToolBar;
class QToolButton;
class QVBoxLayout;
class TComm;
class TSockets;
class TSshLine;
class TDdeServer;
class TDBusDdeServer;
class TSession;
class TScreenView;
class TQelClock;
class TModemToolbar;
class TModem;
class TScreenFind;
class TBookmarks;
class TQelFindDlg;
class TQelSoftK;
class TWindowProbe;
class TLocalCommands;
class TPacedSend;
class TPaste;
class TFileReceive;
class TReplay;
class TBookMarkForm;
class QPrinter;
class TPagePrinter;
class TQelPrintPreview;
struct TPrintChoice;
struct TWindowGeometry;

// Options of the program's command line.
struct TWindowOptions {
  std::string SettingsFile;  // a settings file to open at start
  std::string Connect;       // "serial", "network" or "ssh": connect at start
  bool SkipBackgroundFile = false;  // no screen background file questions
  bool Trace = false;               // trace conversion on at start
  std::uint64_t ReceiveLimit = 0;   // bytes a receive the host starts may store; 0 no limit
};

class TMainWindow : public QMainWindow {
  Q_OBJECT
 public:
  // programDirectory: where the program's own files live.
  TMainWindow(const std::string& programDirectory, const TWindowOptions& options, QWidget* parent = nullptr);
  ~TMainWindow() override;

  // Start-up after the window is shown (its questions need a window).
  void StartUp();
  // The program is told to end (SIGTERM, SIGHUP, SIGINT): connections and
  // files are closed, nothing is asked, and the program ends.
  void EndWithoutQuestions();

  TSession& Session() { return *S; }
  TMainForm& Form() { return *MainForm; }
  TQtDesktop& Desktop() { return QtDesktop; }
  TScreenView* ScreenView() const { return Screen; }
  TQelClock* StatusBar() const { return Clock; }

  // Every command, by its component name (tests and the accessibility tree
  // find them by their captions too).
  struct TActions {
    QAction *Open, *Save, *SaveAs, *Print, *PrintPreview, *PrintSetUp, *Logfile, *ExecuteScript, *Exit;
    std::array<QAction*, 4> Recent;
    QAction *FontSelect, *FileClose;
    QAction *Copy, *PasteSend, *PasteReceive, *PastetoDisk, *CancelPaste, *SelectAll, *Clear, *UnMark,
        *Empty, *AddBookmark, *Find, *FindForward, *FindBackward;
    // The Setup menu's "C&onnect" and "&Disconnect" items themselves.
    QAction *ConnectMenu, *DisconnectMenu;
    QAction *ConnectSecure, *DisconnectSecure;
    QAction *Configure, *ConnectSerial, *ConnectNetwork, *Listen, *DisconnectSerial, *DisconnectNetwork,
        *SendBreak, *ResetTerminal, *SoftNormal, *SoftShift, *SoftCntrl, *AnswerBack, *Keymaps, *Tabs;
    QAction *ReceiveAscii, *ReceiveBinary, *ReceiveFtp, *SendAscii, *SendVtrans, *Simulate, *Playback, *SendFtp,
        *CancelTransfer;
    QAction *ReceivePopupAscii, *ReceivePopupBinary, *ReceivePopupFtp, *SendPopupAscii, *SendPopupVtrans,
        *SendPopupSimulate, *SendPopupPlayback, *SendPopupFtp;
    QAction *ToolbarOpt, *StatusBarOpt, *QuorixToolBarOpt, *ModemToolbarOpt, *SoftKeyBarOpt, *ShiftSoftKeyBarOpt,
        *CntrlSoftKeyBarOpt, *BookmarkOpt, *ConfigureToolbar, *ScrollBuffer;
    QAction *About, *Help, *Debug;
    QAction *ConnectSerialButton, *ConnectNetworkButton, *DisconnectSerialButton, *DisconnectNetworkButton;
    QAction *ReceiveButton, *TransmitButton;
    std::array<QAction*, qbCount> Quorix;
    QAction* TracePcap;
  };
  const TActions& Actions() const { return A; }
  QMenu* ScreenPopup() const { return Popup; }

  // Adds a bookmark of that name on the marked lines (Edit|Add Bookmark
  // after its name box). False without a mark.
  bool AddBookmarkNamed(const std::string& name);

  // The bars, redrawn from the session.
  void WriteToolBar();
  void WriteQuorixBar();
  void WriteStatusBar();
  // Applies the settings to the screen and the window.
  void SetScreenProperties();

  // Heights of the visible bars (the window grows and shrinks by them).
  int BarHeight(QWidget* bar) const;

  // Printing: the printer the print dialog sets up (tests point it at a PDF
  // file), the page printer, and the preview window (made on first use).
  QPrinter& Printer() { return *PrinterDevice; }
  TPagePrinter& PagePrinter() { return *Pages; }
  TQelPrintPreview* PrintPreviewWindow();
  // File|Print after its dialog: to the printer, or the lines into the Log
  // File Name. Returns whether anything was printed or written.
  bool PrintChosen(const TPrintChoice& choice);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void BuildActions();
  void BuildFileActions();
  void BuildEditActions();
  void BuildSetupActions();
  void BuildTransferActions();
  void BuildWindowActions();
  void BuildQuorixActions();
  template <typename TSlot>
  void On(QAction* action, TSlot slot) {
    connect(action, &QAction::triggered, this, slot);
  }
  void BuildMenus();
  void BuildToolBars();
  void BuildCentral();
  void WireSession();
  void HandleMessage(const TPostedMessage& message);
  QAction* MakeAction(const char* caption, const char* hint = nullptr);
  void ToggleBar(QAction* item, QWidget* bar, std::uint8_t& visible);
  void FitWindowToScreen();
  void SizeAtStart();
  void OpenDisplayMode();
  void Configure();
  void SendAscii();
  std::optional<std::string> AskSimulateFile(const std::string& preset);
  void CancelTransfer();
  void SoftKeyDialog(int kind);
  void TabStops();
  void KeyMaps();
  void TracePcap(bool on);
  void WireKeyboard();
  int VisibleBarsHeight() const;
  void ExitCommand();
  void About();
  void Help();
  void SelectFont();
  void AddBookmark();
  void StartupPanelDone();
  void ApplySettingsFileState();
  void ApplyWindowGeometry(const TWindowGeometry& geometry);
  void PrintCommand();
  void PrintSetUpCommand();
  void ShowPrintPreview();
  bool KeyEvent(QKeyEvent* event);
  void EscapeActionHook();

  TQtDesktop QtDesktop;
  std::unique_ptr<TSession> S;
  std::unique_ptr<TMainForm> MainForm;
  std::unique_ptr<TComm> Comm;
  std::unique_ptr<TSockets> Sockets;
  std::unique_ptr<TSshLine> Ssh;
  std::unique_ptr<TDdeServer> Dde;
  std::unique_ptr<TDBusDdeServer> DBus;
  TWindowOptions Options;
  TActions A{};
  QMenu* Popup = nullptr;
  QMenu* ReceiveMenu = nullptr;
  QMenu* TransmitMenu = nullptr;
  QMenu* FileMenu = nullptr;
  QAction* RecentSeparator = nullptr;
  QToolBar* MainToolBar = nullptr;
  QToolBar* QuorixToolBar = nullptr;
  TModemToolbar* ModemToolBar = nullptr;
  std::unique_ptr<TModem> Modem;
  std::unique_ptr<TPacedSend> PacedSend;
  std::unique_ptr<TPaste> Paste;
  std::unique_ptr<TFileReceive> Receive;
  std::unique_ptr<TReplay> Replay;
  std::unique_ptr<TScreenFind> Finder;
  std::unique_ptr<TBookmarks> Bookmarks;
  TQelFindDlg* FindDialog = nullptr;
  TBookMarkForm* BookmarkForm = nullptr;
  // Top to bottom under the screen: Cntrl, Shift, normal.
  std::array<TQelSoftK*, 3> SoftKeyBars{};
  TWindowProbe* Probe = nullptr;  // may be null
  // After the session: it clears the keyboard's hook when it goes.
  std::unique_ptr<TLocalCommands> LocalCommands;
  QWidget* Central = nullptr;
  QVBoxLayout* CentralLayout = nullptr;
  TScreenView* Screen = nullptr;
  TQelClock* Clock = nullptr;
  QPointer<QWidget> StartupPanel;
  std::unique_ptr<QPrinter> PrinterDevice;
  std::unique_ptr<TPagePrinter> Pages;
  TQelPrintPreview* Preview = nullptr;
  QTimer Timer;
  bool ClosingAllowed = false;
};
