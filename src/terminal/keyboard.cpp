#include "terminal/keyboard.h"

#include <algorithm>

#include "app/session.h"
#include "comms/transmit.h"
#include "core/ascii.h"
#include "core/desktop.h"
#include "core/numbers.h"
#include "core/text.h"
#include "log/logfiles.h"
#include "screen/writer.h"
#include "transfer/engine.h"

namespace {
constexpr std::uint16_t kNothingAwaited = 0xFFFF;

bool IsLetter(char c, char upper) { return c == upper || c == upper + ('a' - 'A'); }
}  // namespace

TSoftKeyElement ParseSoftKeyElement(std::string_view text, std::size_t position) {
  TSoftKeyElement element;
  const char first = text[position];
  if (first != '<') {
    element.Kind = TSoftKeyElement::skChar;
    element.Value = static_cast<std::uint8_t>(first);
    return element;
  }
  const std::size_t rest = text.size() - position;
  if (rest >= 2 && text[position + 1] == '<') {
    element.Kind = TSoftKeyElement::skChar;
    element.Value = '<';
    element.Length = 2;
    return element;
  }
  if (rest >= 2 && IsLetter(text[position + 1], 'C')) {
    // Any four characters that begin "<C" are the CR element.
    element.Kind = TSoftKeyElement::skCR;
    element.Length = rest < 4 ? rest : 4;
    return element;
  }
  const std::size_t close = text.find('>', position + 1);
  if (close == std::string_view::npos) {
    // An unclosed "<" is an ordinary character.
    element.Kind = TSoftKeyElement::skChar;
    element.Value = '<';
    return element;
  }
  element.Length = close - position + 1;
  const std::string_view inner = text.substr(position + 1, close - position - 1);
  if (inner.size() >= 2 && IsLetter(inner[0], 'P')) {
    const auto tenths = ReadNumber16(inner.substr(2));
    element.Kind = tenths ? TSoftKeyElement::skPause : TSoftKeyElement::skInvalid;
    element.Value = tenths.value_or(0);
    return element;
  }
  if (inner.size() >= 2 && IsLetter(inner[0], 'W')) {
    const std::string_view awaited = inner.substr(2);
    element.Kind = TSoftKeyElement::skWait;
    element.Value = kNothingAwaited;
    if (awaited.size() == 2) {
      const auto code = ReadNumber16(awaited);
      if (code) {
        if (*code < 256) element.Value = *code;
        return element;
      }
    }
    // Not a two-character number: its first character is awaited.
    if (!awaited.empty()) element.Value = static_cast<std::uint8_t>(awaited[0]);
    return element;
  }
  const auto code = ReadNumber16(inner);
  if (code && *code < 256) {
    element.Kind = TSoftKeyElement::skCode;
    element.Value = *code;
  } else {
    element.Kind = TSoftKeyElement::skInvalid;
  }
  return element;
}

TKeyboard::TKeyboard(TSession& session) : S(session) {}

// ------------------------------------------------------- character rules

void TKeyboard::SendAndEcho(std::uint8_t c) {
  S.Transmit->SendByte(c);
  if (S.Settings.LocalEcho) S.Writer->PutChar(c);
}

void TKeyboard::StoreInHistory(const std::string& line) {
  History[HistoryIndex - 1] = line.substr(0, kTypedLineMax);
  HistoryIndex = HistoryIndex == kHistorySize ? 1 : HistoryIndex + 1;
}

void TKeyboard::SendCharacter(std::uint8_t c, bool typed) {
  if (c == ESC && typed) EscapeAction();
  if (S.Settings.Emulation == emQuorix) {
    if (c == CR) {
      if (!TypedLine.empty()) {
        const std::string line = TypedLine;
        TypedLine.clear();
        StoreInHistory(line);
        if (OfferLocalCommand && OfferLocalCommand(line)) return;
      }
    } else if (c == BS) {
      if (!TypedLine.empty()) TypedLine.pop_back();
    } else if (c < 32 || c == DEL) {
      TypedLine.clear();
    } else if (TypedLine.size() < kTypedLineMax) {
      TypedLine.push_back(static_cast<char>(c));
    }
  }
  std::uint8_t out = c;
  if (c == BS) {
    const bool deleteSelected = S.Settings.BackSpaceSends == 1;
    out = (deleteSelected != CtrlHeld) ? DEL : BS;
  }
  SendAndEcho(out);
  if (c != CR) return;
  if (S.Settings.NewLine) SendAndEcho(LF);
  const TTransferEngine& engine = *S.Transfer;
  if (engine.TransferActive && engine.ReceiveKind == rkCapture) S.Desktop.PostMessage(wmOpenPads);
}

void TKeyboard::EscapeAction() {
  TTransferEngine& engine = *S.Transfer;
  S.Files->CloseBackgroundLog();
  if (engine.PadsPrompt.Collecting) {
    engine.PadsPrompt.Collecting = false;
    if (engine.PadsPrompt.StopPadsReceive) engine.PadsPrompt.StopPadsReceive();
  }
  TypedLine.clear();
  // The queued text (history recall, command lines) goes; a clipboard paste
  // send runs on until "Cancel Paste".
  engine.SendQueue.clear();
  engine.Activities &= ~static_cast<std::uint32_t>(acQueuedString);
  StopSoftKey();
  if (S.Settings.EscFlush) S.Transmit->FlushInput();
  if (EscapeActionHook) EscapeActionHook();
  ++S.Status.Changes;
}

// ------------------------------------------------------- soft-key sender

void TKeyboard::Select(int number, const std::string& text) {
  SoftKeyNumber = number;
  SoftKeyText = text;
  SoftKeyPosition = 1;
  // The waits of a text it replaces end with it, and the key that started it
  // must not cut its own first wait short.
  S.Transfer->Timers[tmCharDelay] = 0;
  S.Transfer->Timers[tmEcho] = 0;
  S.Transfer->KeyPressed = false;
  S.Transfer->Activities |= acSoftKey;
}

void TKeyboard::StartSoftKey(int number) {
  if (number < 1 || number > 36) return;
  const TSetupRecord& settings = S.Settings;
  const int index = (number - 1) % 12;
  const auto& keys = number <= 12 ? settings.SoftKeys
                     : number <= 24 ? settings.ShiftSoftKeys
                                    : settings.CntrlSoftKeys;
  Select(number, keys[index].str());
}

void TKeyboard::StartAnswerBack() { Select(kAnswerBack, S.Settings.AnswerBack.str()); }

void TKeyboard::StartText(const std::string& text) { Select(kGivenText, text); }

void TKeyboard::StopSoftKey() {
  SoftKeyNumber = 0;
  SoftKeyText.clear();
  SoftKeyPosition = 1;
  S.Transfer->Activities &= ~static_cast<std::uint32_t>(acSoftKey);
}

void TKeyboard::SoftKeyStep() {
  TTransferEngine& engine = *S.Transfer;
  const TSetupRecord& settings = S.Settings;
  if (engine.TimerRunning(tmCharDelay) || engine.TimerRunning(tmEcho)) {
    if (!engine.KeyPressed) return;
    // A key press cuts a wait short.
    engine.Timers[tmCharDelay] = 0;
    engine.Timers[tmEcho] = 0;
    engine.KeyPressed = false;
  }
  if (SoftKeyNumber == 0) {
    engine.Activities &= ~static_cast<std::uint32_t>(acSoftKey);
    return;
  }
  for (;;) {
    if (SoftKeyPosition > SoftKeyText.size()) {
      StopSoftKey();
      return;
    }
    const TSoftKeyElement element = ParseSoftKeyElement(SoftKeyText, SoftKeyPosition - 1);
    SoftKeyPosition += element.Length;
    bool endTick = false;
    switch (element.Kind) {
      case TSoftKeyElement::skChar: {
        const auto c = static_cast<std::uint8_t>(element.Value);
        if (settings.SoftkeyEcho) engine.AwaitEcho(c);
        if (settings.SoftKeyDelay > 0) {
          engine.Timers[tmCharDelay] =
              static_cast<std::uint16_t>(settings.SoftKeyDelay > 0xFFFF ? 0xFFFF : settings.SoftKeyDelay);
        }
        SendCharacter(c, false);
        break;
      }
      case TSoftKeyElement::skCR:
        SendCharacter(CR, false);
        engine.AwaitEcho(settings.NewLine ? LF : CR);
        endTick = true;
        break;
      case TSoftKeyElement::skPause:
        engine.Timers[tmCharDelay] = element.Value;
        endTick = true;
        break;
      case TSoftKeyElement::skWait:
        if (element.Value != kNothingAwaited) engine.AwaitEcho(static_cast<std::uint8_t>(element.Value));
        endTick = true;
        break;
      case TSoftKeyElement::skCode:
        SendCharacter(static_cast<std::uint8_t>(element.Value), false);
        break;
      case TSoftKeyElement::skInvalid:
        break;
    }
    // The character rules may have stopped the sender (a local command, Esc).
    if (SoftKeyNumber == 0) return;
    if (endTick || engine.TimerRunning(tmCharDelay) || engine.TimerRunning(tmEcho)) return;
  }
}

// ------------------------------------------------------------ key handler

namespace {
constexpr std::uint8_t XON = 17;
constexpr std::uint8_t XOFF = 19;
constexpr int kSoftwareFlowControl = 3;  // "XON/XOFF"
constexpr std::uint8_t kEightDataBits = 4;
}  // namespace

void TKeyboard::KeyDown(const TKeyStroke& stroke) {
  // The host locked the keyboard: nothing typed reaches it until the host
  // unlocks it; Esc still runs, so the user can stop what is running.
  if (S.Writer->State.KeyboardLocked && stroke.Key != vkEscape && stroke.Text != "\x1b") {
    if (!stroke.Text.empty() || stroke.Key >= vkF1) S.Desktop.Beep();
    return;
  }
  S.Transfer->KeyPressed = true;
  // The window gives the modifiers with every key, so a Shift or Ctrl
  // released while another window had the focus is not left held.
  ShiftHeld = (stroke.Modifiers & kmShift) != 0 || stroke.Key == vkShift;
  CtrlHeld = (stroke.Modifiers & kmCtrl) != 0 || stroke.Key == vkControl;
  const std::vector<TKeyEvent> events = TranslateKeyDown(stroke, Locks.NumLock);
  for (int repeat = 0; repeat < std::max(1, stroke.Repeat); ++repeat) {
    for (const TKeyEvent& event : events) S.HandleSessionEvent(sekKey, event.Payload());
  }
}

void TKeyboard::KeyUp(int key, const TLockStates& locks) {
  switch (key) {
    case vkShift: ShiftHeld = false; return;
    case vkControl: CtrlHeld = false; return;
    case vkNumLock: Locks.NumLock = locks.NumLock; break;
    case vkCapital: Locks.CapsLock = locks.CapsLock; break;
    case vkScroll:
      Locks.ScrollLock = locks.ScrollLock;
      if (Locks.ScrollLock && !XoffSent && S.Settings.FlowControl == kSoftwareFlowControl) {
        S.Transmit->SendByte(XOFF);
        XoffSent = true;
      } else if (!Locks.ScrollLock && XoffSent) {
        S.Transmit->SendByte(XON);
        XoffSent = false;
      }
      break;
    default: return;
  }
  ++S.Status.Changes;
}

bool TKeyboard::KeysIgnored() const {
  const TTransferEngine& engine = *S.Transfer;
  // The file job bit also runs receives to a file, where typing goes on.
  const bool fileJob = engine.TransferActive || (engine.Activities & acFileSend);
  if (fileJob && engine.Direction == drSend) return true;
  return engine.TransferActive && (engine.ReceiveKind == rkHost || engine.ReceiveKind == rkHostOther);
}

void TKeyboard::HandleKey(int payload) {
  if (KeysIgnored()) return;
  const TKeyEvent key = TKeyEvent::FromPayload(payload);
  if (ScreenHeld && ScreenHeld()) {
    if (key.Kind == TKeyEvent::keChar && key.Code == ESC && ReleaseScreen) ReleaseScreen();
    return;
  }
  switch (key.Kind) {
    case TKeyEvent::keVirtual: SpecialKey(key.Code); return;
    case TKeyEvent::keKeypad: KeypadKey(key.Code); return;
    case TKeyEvent::keChar: SendCharacter(static_cast<std::uint8_t>(key.Code)); return;
  }
}

void TKeyboard::SendSequence(TSequenceForm form, char letter) {
  const bool eightBit = S.Settings.DataBits == kEightDataBits;
  for (const char c : KeySequence(form, letter, S.Settings.Emulation, eightBit)) {
    S.Transmit->SendByte(static_cast<std::uint8_t>(c));
  }
}

void TKeyboard::SendCursorKey(char letter) {
  SendSequence(S.Writer->State.CursorKeysApplication ? sfSS3 : sfCSI, letter);
}

void TKeyboard::SpecialKey(int key) {
  const bool quorix = S.Settings.Emulation == emQuorix;
  const bool modified = ShiftHeld || CtrlHeld;
  if (key == vkCancel) {
    S.Transmit->SendBreak();
    return;
  }
  if (key >= vkLeft && key <= vkDown) {
    if (!quorix) {
      SendCursorKey("DACB"[key - vkLeft]);
    } else if (key != vkRight) {
      RecallHistory(key == vkUp ? hmPrevious : key == vkDown ? hmNext : hmStoreTyped);
    }
    return;
  }
  const int softKey = SoftKeyOfFunctionKey(key, ShiftHeld, CtrlHeld);
  if (softKey == 0) return;  // Page Up, Page Down, Home, End, F13..F24
  if (!quorix && !modified && key <= vkF4) {
    SendSequence(sfSS3, static_cast<char>('P' + key - vkF1));
    return;
  }
  if (!quorix && !modified && key >= vkF7 && key <= vkF10) {
    SendCursorKey("ABDC"[key - vkF7]);
    return;
  }
  StartSoftKey(softKey);
}

void TKeyboard::KeypadKey(int code) {
  const std::uint8_t plain = KeypadCharacter(code);
  const TTerminalState& state = S.Writer->State;
  if (S.Settings.Emulation == emQuorix || !state.KeypadApplication) {
    SendCharacter(plain);
    return;
  }
  const char letter = KeypadApplicationLetter(code, Locks.NumLock);
  if (letter == 0) {
    SendCharacter(plain);
    return;
  }
  SendSequence(sfSS3, letter);
}

void TKeyboard::RecallHistory(THistoryMove move) {
  if (!TypedLine.empty()) {
    S.Transmit->ReplaceTypedText(TypedLine, "");
    // The host's line is gone whatever the box's answer is.
    if (move != hmStoreTyped) TypedLine.clear();
  }
  switch (move) {
    case hmPrevious: HistoryIndex = HistoryIndex == 1 ? kHistorySize : HistoryIndex - 1; break;
    case hmNext: HistoryIndex = HistoryIndex == kHistorySize ? 1 : HistoryIndex + 1; break;
    case hmStoreTyped:
      // Kept in the slot the box shows, so confirming it stores it only once;
      // with nothing typed the entry there stays.
      if (!TypedLine.empty()) History[HistoryIndex - 1] = TypedLine;
      TypedLine.clear();
      break;
  }
  if (!ShowHistoryBox) return;
  std::vector<std::string> lines;
  for (const std::string& line : History) lines.emplace_back(TrimSpaces(line));
  const std::optional<std::string> chosen = ShowHistoryBox(lines, HistoryIndex - 1);
  if (!chosen) return;
  if (!OfferLocalCommand || !OfferLocalCommand(*chosen)) S.Transmit->QueueSendString(*chosen + "\r");
  StoreInHistory(*chosen);
  TypedLine.clear();
}
