// TDesktop: the one seam between the terminal logic and the window system.
// Every modal box, file dialog, posted message, nested message pump, wait,
// beep, clipboard access and tick read of the logic goes through it, so the
// logic runs headless (tests, `qel`) and under Qt alike.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class TMsgIcon { None, Error, Warning, Information, Confirmation };

// Button set of a box (bit flags).
enum TMsgButtons : unsigned {
  mbOK = 1,
  mbCancel = 2,
  mbYes = 4,
  mbNo = 8,
  mbRetry = 16,
  mbIgnore = 32,
  mbHelp = 64,
  mbAbort = 128,
  // Not a button: No is what Enter presses (a question whose Yes lets something in).
  mbDefaultNo = 256,
};

// What the user pressed. None: the box was closed some other way (or nothing was shown).
enum class TMsgResult { None = 0, OK, Cancel, Yes, No, Retry, Ignore, Abort };

struct TMessageBox {
  TMsgIcon Icon = TMsgIcon::None;
  std::string Text;
  std::string Caption;  // empty: the application's title
  unsigned Buttons = mbOK;
  int HelpContext = 0;
};

struct TFileDialog {
  bool Save = false;  // save dialog (else open)
  std::string Title;
  std::string Filter;  // "Description|*.EXT;*.EX2|Other|*.*"
  std::string DefaultExtension;
  std::string InitialName;
  std::string InitialDirectory;
  bool MustExist = false;
  bool OverwritePrompt = false;
};

// Window messages of the main window: the platform's first user message (1024) plus an offset.
enum TWindowMessage : int {
  wmUser = 1024,
  wmWriteQuorixBar = 1134,
  wmWriteToolBar = 1135,
  wmCursorShape = 1136,
  wmTransferEnded = 1137,
  wmTransferStarted = 1138,
  wmFindRequest = 1139,
  wmFindState = 1140,
  wmFreeObject = 1141,
  wmOpenPads = 1142,
  wmSerialReceive = 1144,
  wmSocketReceive = 1145,
};

// A text for the memo viewer (listings, converted messages), shown in a
// window of its own with the caret at a line and column.
struct TMemoText {
  std::string Title;
  std::string Text;
  int CursorLine = 1;
  int CursorColumn = 1;
};

struct TPostedMessage {
  int Message = 0;
  std::intptr_t WParam = 0;
  std::intptr_t LParam = 0;
};

class TDesktop {
 public:
  virtual ~TDesktop() = default;

  // Shows a modal box and returns the button pressed.
  virtual TMsgResult ShowMessage(const TMessageBox& box) = 0;
  // Open or save dialog; nullopt when cancelled.
  virtual std::optional<std::string> FileDialog(const TFileDialog& dialog) = 0;

  // Posted messages to the main window (delivered later on the window thread).
  virtual void PostMessage(int message, std::intptr_t wparam = 0, std::intptr_t lparam = 0) = 0;
  virtual bool IsMessageQueued(int message) const = 0;
  virtual void RemoveQueuedMessages(int message) = 0;
  // Lets the window process its pending messages once. With systemOnly, user
  // messages (1024 and up) stay queued.
  virtual void ProcessPendingMessages(bool systemOnly = false) = 0;
  // False while a ProcessPendingMessages call would return at once without
  // running anything (a desktop may space its passes out), so a caller that
  // pumps every few bytes may hand over a longer run first.
  virtual bool PumpWanted() const { return true; }
  // Waits while the window keeps processing messages.
  virtual void Wait(int milliseconds) = 0;

  virtual void Beep() = 0;
  virtual std::optional<std::string> ClipboardText() = 0;  // nullopt: no text on the clipboard
  virtual void SetClipboardText(const std::string& text) = 0;
  // Milliseconds since some fixed point (the platform's tick counter).
  virtual std::uint32_t TickCount() = 0;

  // A progress window with a cancel button ("LOADING", "SAVING", ...).
  // Progress returns false once the user has cancelled.
  virtual void BeginProgress(const std::string& caption, std::int64_t maximum) {}
  virtual bool Progress(std::int64_t position) { return true; }
  virtual void EndProgress() {}

  // Shows a text in the memo viewer.
  virtual void ShowMemo(const TMemoText& memo) {}
  // A one-line secret (a password, a passphrase), shown as typed only with
  // echo; nullopt when cancelled or when no one can be asked.
  virtual std::optional<std::string> AskSecret(const std::string& caption, const std::string& prompt, bool echo) {
    return std::nullopt;
  }
  // The mode name dialog, preset with the last name; its "Browse" lists the
  // modes of modeListFile (the ".mnt" file). nullopt when cancelled.
  virtual std::optional<std::string> AskModeName(const std::string& lastName, const std::string& modeListFile) {
    return std::nullopt;
  }
};

// A desktop without a window, for the tools: every box is answered with its
// default button and kept (the tool prints them), a wait only advances the
// tick count, the clipboard is a string, and posted messages are dropped (no
// window waits for them).
class THeadlessDesktop : public TDesktop {
 public:
  struct TRecordedBox {
    TMessageBox Box;
    TMsgResult Answer;
  };

  TMsgResult ShowMessage(const TMessageBox& box) override;
  std::optional<std::string> FileDialog(const TFileDialog&) override { return std::nullopt; }
  void PostMessage(int, std::intptr_t, std::intptr_t) override {}
  bool IsMessageQueued(int) const override { return false; }
  void RemoveQueuedMessages(int) override {}
  void ProcessPendingMessages(bool) override {}
  void Wait(int milliseconds) override { Ticks += static_cast<std::uint32_t>(milliseconds); }
  void Beep() override {}
  std::optional<std::string> ClipboardText() override { return Clipboard; }
  void SetClipboardText(const std::string& text) override { Clipboard = text; }
  std::uint32_t TickCount() override { return Ticks; }

  std::vector<TRecordedBox> Boxes;
  std::optional<std::string> Clipboard;
  std::uint32_t Ticks = 0;

  // No where the box makes it its default, else the first of OK, Yes,
  // Cancel, No the box offers.
  static TMsgResult DefaultAnswer(unsigned buttons);
};
