// The key side's pure rules: which events a key press makes, and the byte
// sequences cursor, function and keypad keys send per terminal type. The
// keyboard (keyboard.h) applies them to the session.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "terminal/keycodes.h"

// A key press as the window reports it.
struct TKeyStroke {
  int Key = 0;             // virtual-key code (TKeyCode)
  unsigned Modifiers = 0;  // TKeyModifier bits held with it
  bool Extended = false;   // the extended-key bit: set for the keypad's Enter
  std::string Text;        // the characters the keyboard layout makes of it (Latin-1)
  int Repeat = 1;          // auto-repeat count of the key message
};

// The events one press of the key makes (a single repeat). Shift and Ctrl make none.
std::vector<TKeyEvent> TranslateKeyDown(const TKeyStroke& stroke, bool numLock);

// The two forms a VT key sequence takes.
enum TSequenceForm { sfSS3, sfCSI };

// The bytes of the sequence ending in letter for the terminal type; empty
// where the type sends none (TN3270, and the QUORIX type, which has no
// sequences). eightBitControls: VT220-8bit on an 8-data-bit line.
std::string KeySequence(TSequenceForm form, char letter, int emulation, bool eightBitControls);

// The plain character of a keypad key (96..111, or 13 for its Enter).
std::uint8_t KeypadCharacter(int code);
// The letter of a keypad key in application mode; 0 when the key sends its
// plain character (Num-Lock-dependent keys with Num Lock off, "*", "," and "/").
char KeypadApplicationLetter(int code, bool numLock);

// The soft key (1..36) of a function key with the modifiers held: Ctrl wins
// over Shift. 0 for keys that are not F1..F12.
int SoftKeyOfFunctionKey(int key, bool shiftHeld, bool ctrlHeld);
