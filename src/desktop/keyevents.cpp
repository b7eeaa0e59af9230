#include "desktop/keyevents.h"

#include <QKeyEvent>
#include <algorithm>

#include "app/session.h"
#include "terminal/keyboard.h"

namespace {
struct TQtKeyName {
  int Qt;
  int Virtual;
};

// Keys whose virtual code is not their character.
constexpr TQtKeyName kNamedKeys[] = {
    {Qt::Key_Escape, vkEscape},   {Qt::Key_Tab, vkTab},          {Qt::Key_Backtab, vkTab},
    {Qt::Key_Backspace, vkBack},  {Qt::Key_Return, vkReturn},    {Qt::Key_Enter, vkReturn},
    {Qt::Key_Insert, vkInsert},   {Qt::Key_Delete, vkDelete},    {Qt::Key_Pause, vkPause},
    {Qt::Key_Cancel, vkCancel},   {Qt::Key_Print, vkSnapshot},   {Qt::Key_Home, vkHome},
    {Qt::Key_End, vkEnd},         {Qt::Key_Left, vkLeft},        {Qt::Key_Up, vkUp},
    {Qt::Key_Right, vkRight},     {Qt::Key_Down, vkDown},        {Qt::Key_PageUp, vkPrior},
    {Qt::Key_PageDown, vkNext},   {Qt::Key_Shift, vkShift},      {Qt::Key_Control, vkControl},
    {Qt::Key_Alt, vkMenu},        {Qt::Key_CapsLock, vkCapital}, {Qt::Key_NumLock, vkNumLock},
    {Qt::Key_ScrollLock, vkScroll}, {Qt::Key_Space, vkSpace},
};

// The keypad's keys while they make characters (Num Lock on).
constexpr TQtKeyName kKeypadKeys[] = {
    {Qt::Key_Asterisk, vkMultiply}, {Qt::Key_Plus, vkAdd},      {Qt::Key_Comma, vkSeparator},
    {Qt::Key_Minus, vkSubtract},    {Qt::Key_Period, vkDecimal}, {Qt::Key_Slash, vkDivide},
};

int Lookup(const TQtKeyName* begin, const TQtKeyName* end, int key) {
  const auto* found = std::find_if(begin, end, [key](const TQtKeyName& k) { return k.Qt == key; });
  return found == end ? 0 : found->Virtual;
}

int VirtualKeyOf(int key, bool keypad) {
  if (keypad && key >= Qt::Key_0 && key <= Qt::Key_9) return vkNumpad0 + key - Qt::Key_0;
  if (keypad) {
    const int k = Lookup(std::begin(kKeypadKeys), std::end(kKeypadKeys), key);
    if (k != 0) return k;
  }
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return vkF1 + key - Qt::Key_F1;
  // Letters and digits have their capital character as their code.
  if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9)) return key;
  return Lookup(std::begin(kNamedKeys), std::end(kNamedKeys), key);
}

// Keys that make a character although Qt's range for them is the special one.
char CharacterOfSpecialKey(int key) {
  switch (key) {
    case Qt::Key_Escape: return 27;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return 9;
    case Qt::Key_Backspace: return 8;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 13;
    default: return 0;
  }
}

std::string Latin1Text(const QString& text) {
  std::string out;
  for (const QChar c : text) {
    if (c.unicode() <= 0xFF) out.push_back(static_cast<char>(c.unicode()));
  }
  return out;
}

unsigned ModifiersOf(Qt::KeyboardModifiers modifiers) {
  unsigned result = 0;
  if (modifiers & Qt::ShiftModifier) result |= kmShift;
  if (modifiers & Qt::ControlModifier) result |= kmCtrl;
  if (modifiers & Qt::AltModifier) result |= kmAlt;
  return result;
}
}  // namespace

TKeyStroke KeyStrokeFromQt(const QKeyEvent& event) {
  const int key = event.key();
  const bool keypad = event.modifiers() & Qt::KeypadModifier;
  TKeyStroke stroke;
  stroke.Modifiers = ModifiersOf(event.modifiers());
  stroke.Key = VirtualKeyOf(key, keypad);
  const bool ctrl = stroke.Modifiers & kmCtrl;
  if (key == Qt::Key_Pause && ctrl) stroke.Key = vkCancel;  // Ctrl+Break
  stroke.Extended = key == Qt::Key_Enter;
  stroke.Repeat = std::max(1, event.count());
  if (key >= Qt::Key_Escape) {
    // Only these special keys make characters; Delete, Insert and the
    // cursor keys make none.
    if (const char c = CharacterOfSpecialKey(key)) stroke.Text.assign(1, c);
  } else if (ctrl && !(stroke.Modifiers & kmAlt) && key >= Qt::Key_At && key <= Qt::Key_Underscore) {
    stroke.Text.assign(1, static_cast<char>(key & 0x1F));  // Ctrl+letter: its control code
  } else {
    stroke.Text = Latin1Text(event.text());
  }
  return stroke;
}

void DeliverKeyEvent(TSession& session, const QKeyEvent& event) {
  TKeyboard& keyboard = *session.Keyboard;
  const TKeyStroke stroke = KeyStrokeFromQt(event);
  if (event.type() == QEvent::KeyRelease) {
    if (event.isAutoRepeat()) return;
    TLockStates locks = keyboard.Locks;
    if (stroke.Key == vkNumLock) locks.NumLock = !locks.NumLock;
    if (stroke.Key == vkCapital) locks.CapsLock = !locks.CapsLock;
    if (stroke.Key == vkScroll) locks.ScrollLock = !locks.ScrollLock;
    keyboard.KeyUp(stroke.Key, locks);
    return;
  }
  // Alt with a key is the menu's (a system key), except F10; AltGr comes
  // with Ctrl or as a group switch and types its character.
  const bool systemKey = (stroke.Modifiers & kmAlt) && !(stroke.Modifiers & kmCtrl);
  if (systemKey && stroke.Key != vkF10 && stroke.Key != vkMenu) return;
  if (event.modifiers() & Qt::KeypadModifier) {
    if (stroke.Key >= vkNumpad0 && stroke.Key <= vkNumpad9) keyboard.Locks.NumLock = true;
    if (stroke.Key >= vkPrior && stroke.Key <= vkDown) keyboard.Locks.NumLock = false;
  }
  keyboard.KeyDown(stroke);
}
