// The keyboard side of the terminal: key presses and releases from the
// window, the key handler per terminal type, the character rules every typed
// or soft-key character is sent by, the Quorix command line with its history,
// and the soft-key sender that plays soft keys and the answer-back out.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "terminal/keyhandler.h"

class TSession;

// One element of a soft-key text.
struct TSoftKeyElement {
  enum TKind {
    skChar,    // a character to send ("<<" gives '<')
    skCR,      // "<CR>": CR, then an echo wait for LF (New Line) or CR
    skPause,   // "<P:n>": the delay timer set to n tenths
    skWait,    // "<W:x>": an echo wait for a character
    skCode,    // "<n>": the character of code n
    skInvalid  // an element whose number is not valid: nothing happens
  };
  TKind Kind = skInvalid;
  std::uint16_t Value = 0;  // the character, the tenths or the awaited code
  std::size_t Length = 1;   // characters of the text it takes
};

// Reads the element that starts at text[position] (0-based).
TSoftKeyElement ParseSoftKeyElement(std::string_view text, std::size_t position);

class TKeyboard {
 public:
  static constexpr std::size_t kTypedLineMax = 80;
  static constexpr int kHistorySize = 30;
  // Selection numbers beyond the 36 soft keys.
  static constexpr int kAnswerBack = 37;
  static constexpr int kGivenText = 38;

  explicit TKeyboard(TSession& session);

  // --- Keys from the window ---
  // A key press: held modifiers noted, then one event per repeat handed to
  // the session's dispatcher, which calls HandleKey.
  void KeyDown(const TKeyStroke& stroke);
  // A key release; locks: the lock keys' states as the system now has them.
  void KeyUp(int key, const TLockStates& locks);
  // The key handler: one event from the dispatcher (TKeyEvent payload).
  void HandleKey(int payload);
  TLockStates Locks;
  bool XoffSent = false;  // Scroll Lock stopped the host
  // The scroll-back hold of the screen: keys are not sent while it is on, Esc
  // ends it. May be empty (no hold).
  std::function<bool()> ScreenHeld;
  std::function<void()> ReleaseScreen;
  // The history box: the 30 ring lines (trimmed) and the 0-based entry to
  // select; the confirmed text, or nullopt when cancelled. May be empty.
  std::function<std::optional<std::string>(const std::vector<std::string>& lines, int selected)>
      ShowHistoryBox;

  // --- Character rules ---
  // Sends c as typed; the escape action runs for a typed Esc only (a soft key
  // that holds ESC sends it as part of its sequence).
  void SendCharacter(std::uint8_t c, bool typed = true);
  void EscapeAction();
  bool CtrlHeld = false;
  bool ShiftHeld = false;

  // Quorix command line and history ring (1-based write index, wrapping 30 -> 1).
  std::string TypedLine;
  std::array<std::string, kHistorySize> History;
  int HistoryIndex = 1;
  void StoreInHistory(const std::string& line);
  enum THistoryMove { hmPrevious, hmNext, hmStoreTyped };
  void RecallHistory(THistoryMove move);
  // The local command interpreter: true when it consumed the line.
  std::function<bool(const std::string& line)> OfferLocalCommand;
  // The parts of the escape action that belong to later parts (trace and
  // KASP files, the MINI trace, the paste stream).
  std::function<void()> EscapeActionHook;

  // --- Soft-key sender ---
  int SoftKeyNumber = 0;        // 0 none, 1..36, kAnswerBack or kGivenText
  std::string SoftKeyText;      // the selected text
  std::size_t SoftKeyPosition = 1;  // 1-based
  void StartSoftKey(int number);    // 1..12 F, 13..24 Shift, 25..36 Ctrl
  void StartAnswerBack();
  void StartText(const std::string& text);  // a modem string
  void StopSoftKey();
  // One step, run on every tick while the soft-key bit is on, and at once when
  // an awaited echo arrives.
  void SoftKeyStep();

 private:
  bool KeysIgnored() const;
  void SpecialKey(int key);
  void KeypadKey(int code);
  void SendCursorKey(char letter);
  void SendSequence(TSequenceForm form, char letter);
  void Select(int number, const std::string& text);
  void SendAndEcho(std::uint8_t c);
  TSession& S;
};
