// Keys from Qt to the keyboard side: a QKeyEvent becomes the virtual-key
// code, modifiers and Latin-1 characters the key handler takes.
#pragma once

#include "terminal/keyhandler.h"

class QKeyEvent;
class TSession;

// The key of a press or release as the platform's virtual-key code, with the
// modifiers held, the keypad Enter's extended bit, the characters the layout
// made of it (only for keys that make characters; Latin-1, others dropped)
// and its repeat count.
TKeyStroke KeyStrokeFromQt(const QKeyEvent& event);

// The screen view's hook: a press goes to TKeyboard::KeyDown, a release to
// TKeyboard::KeyUp. Alt with a key belongs to the menus and sends nothing,
// but F10 is a key like any other. Qt does not report the lock keys' states, so a lock key's
// release flips the state the keyboard keeps; keypad keys tell the Num Lock
// state as they come (digits only arrive with Num Lock on).
void DeliverKeyEvent(TSession& session, const QKeyEvent& event);
