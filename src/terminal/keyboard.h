// The keyboard side of the terminal: the character rules every typed or
// soft-key character is sent by, the Quorix command line with its history,
// and the soft-key sender that plays soft keys and the answer-back out.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

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
  void Select(int number, const std::string& text);
  void SendAndEcho(std::uint8_t c);
  TSession& S;
};
