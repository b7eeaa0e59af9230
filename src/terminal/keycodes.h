// Key codes as the keyboard side speaks them: the platform's virtual-key
// numbers (the window shell maps its own keys onto them), and the key event
// the session's dispatcher carries to the key handler.
#pragma once

#include <cstdint>

enum TKeyCode : int {
  vkCancel = 3,  // Ctrl+Break
  vkBack = 8,
  vkTab = 9,
  vkReturn = 13,
  vkShift = 16,
  vkControl = 17,
  vkMenu = 18,  // Alt
  vkPause = 19,
  vkCapital = 20,  // Caps Lock
  vkEscape = 27,
  vkSpace = 32,
  vkPrior = 33,  // Page Up
  vkNext = 34,   // Page Down
  vkEnd = 35,
  vkHome = 36,
  vkLeft = 37,
  vkUp = 38,
  vkRight = 39,
  vkDown = 40,
  vkSnapshot = 44,  // Print Screen
  vkInsert = 45,
  vkDelete = 46,
  vkNumpad0 = 96,
  vkNumpad1, vkNumpad2, vkNumpad3, vkNumpad4, vkNumpad5, vkNumpad6, vkNumpad7, vkNumpad8,
  vkNumpad9 = 105,
  vkMultiply = 106,
  vkAdd = 107,
  vkSeparator = 108,
  vkSubtract = 109,
  vkDecimal = 110,
  vkDivide = 111,
  vkF1 = 112,
  vkF2, vkF3, vkF4, vkF5, vkF6, vkF7, vkF8, vkF9, vkF10, vkF11, vkF12,
  vkF13, vkF14, vkF15, vkF16, vkF17, vkF18, vkF19, vkF20, vkF21, vkF22, vkF23,
  vkF24 = 135,
  vkNumLock = 144,
  vkScroll = 145,
};

// Modifier keys held with a key.
enum TKeyModifier : unsigned {
  kmShift = 1,
  kmCtrl = 2,
  kmAlt = 4,
};

// One key event for the dispatcher (HandleSessionEvent kind 3): a virtual key
// (cursor, function or Break key), a keypad key, or an ordinary character.
struct TKeyEvent {
  enum TKind : int { keChar = 0, keVirtual = 1, keKeypad = 2 };
  TKind Kind = keChar;
  int Code = 0;  // the character, the virtual key, or the keypad key (13 for its Enter)

  // The dispatcher's payload: the code, with the kind above it.
  static constexpr int kKindShift = 16;
  constexpr int Payload() const { return Code | (static_cast<int>(Kind) << kKindShift); }
  static constexpr TKeyEvent FromPayload(int payload) {
    return {static_cast<TKind>((payload >> kKindShift) & 3), payload & 0xFFFF};
  }
  friend constexpr bool operator==(const TKeyEvent&, const TKeyEvent&) = default;
};

// The lock keys' states, as the system reports them when a lock key is released.
struct TLockStates {
  bool NumLock = true;
  bool CapsLock = false;
  bool ScrollLock = false;
};
