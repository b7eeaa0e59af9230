// The main window's logic without the window: start-up with the screen
// background file, shutdown with its questions and the save-and-rename of
// that file, and the commands of the menus, the toolbars and the Quorix
// toolbar with their refusals. The window draws what this keeps and calls
// it for every command; everything here runs on a scripted desktop in tests.
#pragma once

#include <functional>
#include <string>

#include "app/events.h"
#include "app/handover.h"
#include "app/reconnect.h"
#include "trace/convert.h"
#include "transfer/commandstate.h"

class TSession;

// The Quorix toolbar's buttons, left to right.
enum TQuorixButton {
  qbMsgHeader,      // "MH"
  qbMsgBuffer,      // "MB"
  qbUserBuffer,     // "UB"
  qbConvertSet,     // "CS"
  qbTrigger,        // "TR"
  qbConvertWord,    // "CW"
  qbConvertByte,    // "CB"
  qbDisplayMode,    // "DM"
  qbTrace,          // "CM"
  qbMini,           // "MI"
  qbConvertError,   // "CE"
  qbCount
};

struct TQuorixButtonText {
  const char* Caption;
  const char* Hint;
  bool OneShot;  // "CW", "CB", "DM": no on/off look
};
const TQuorixButtonText& QuorixButtonText(TQuorixButton button);

// The program's screen background file and its temporary copy.
inline constexpr const char* kBackgroundFile = "QelWin.sbf";
inline constexpr const char* kBackgroundCopy = "QelWin.@#@";

class TMainForm {
 public:
  explicit TMainForm(TSession& session);

  TSession& S;
  TReceiveHandover Handover;
  TSessionEvents Events;
  // Network and SSH sessions that drop come back by themselves when the settings say so.
  TReconnect Reconnect;
  TCommandState State;

  // The window redraws its bars and status bar from the state.
  std::function<void()> OnStateChanged;
  // The settings changed in ways the window must apply (fonts, bars, sizes).
  std::function<void()> OnSettingsApplied;
  // The scroll-back hold changed (scroll bars shown, cursor line marked).
  std::function<void(bool held)> OnHoldChanged;
  // The local time as the greeting line shows it ("06.12.2026 21:22:18").
  std::function<std::string()> Now;

  // --- Life cycle ---
  // Start-up after the window exists: the recent list, a settings file
  // named on the command line (".mse" added to a name without a dot), the
  // screen background file questions, the 101-line padding and the greeting.
  // askForBackground false: no questions, no background file (automation).
  void StartUp(const std::string& commandLineArgument, bool askForBackground = true);
  // The window asks to close: the two questions and, with Yes to the second,
  // the background file saved. False: the window stays open.
  bool CloseQuery();
  // Both connections and every file closed (Exit does this first).
  void CloseConnectionsAndFiles();
  // The 100-ms timer: the hand-over's tick, then reconnecting and its
  // countdown in the status bar.
  void TimerTick();

  // --- Commands ---
  void LogFile();
  void ConnectSerial();
  void ConnectNetwork();
  // The network session over SSH (Setup|Connect|SSH).
  void ConnectSecure();
  // The toolbar's network button: Telnet/TCP or SSH as the settings say.
  void ConnectNetworkButton();
  void Listen();
  void DisconnectSerial();
  void DisconnectNetwork();
  void SendBreak();
  void ResetTerminal();
  void CancelTransfer();
  void Debug();
  // "Scroll&Buffer": received data waits and the scroll-back can be read.
  void HoldScreen();
  // Escape with the hold on: only the hold ends. False when no hold was on.
  bool ReleaseHold();
  // The Quorix toolbar; `marked` is the marked text for "CW" and "CB".
  void QuorixCommand(TQuorixButton button, const TMarkedText* marked = nullptr);
  bool QuorixButtonOn(TQuorixButton button) const;
  // A transfer started or ended (messages 1138 and 1137).
  void TransferStarted(int size);
  void TransferEnded();

  // What "CW" and "CB" convert: the marked lines (none without a selection).
  TMarkedText MarkedSelection() const;
  // What a double click converts: the text from the clicked cell on, and the
  // lines below it that a message may still need.
  TMarkedText MarkedAt(int line, int column) const;
  // The screen's double click: converts the text there when the emulation
  // is QUORIX; nothing otherwise.
  void ConvertAt(int line, int column);

 private:
  std::string ChooseBackgroundFile();
  int TrailingBlankLines(int limit) const;
  void LoadBackgroundFile(const std::string& name);
  void SaveBackgroundFile();
  bool RenameCopyTo(const std::string& copy, const std::string& target);
  void OpenNetwork(int kind);
  void Changed();
};
