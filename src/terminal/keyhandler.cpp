#include "terminal/keyhandler.h"

#include "core/ascii.h"
#include "core/settings.h"

namespace {
constexpr char SS3 = static_cast<char>(143);
constexpr char CSI = static_cast<char>(155);

bool IsNumLockKeypadKey(int key) { return key >= vkMultiply && key <= vkDivide; }
bool IsVirtualKey(int key) {
  return key == vkCancel || (key >= vkPrior && key <= vkDown) || (key >= vkF1 && key <= vkF24);
}
}  // namespace

std::vector<TKeyEvent> TranslateKeyDown(const TKeyStroke& stroke, bool numLock) {
  const int key = stroke.Key;
  if (key == vkShift || key == vkControl) return {};
  if (key >= vkNumpad0 && key <= vkNumpad9) return {{TKeyEvent::keKeypad, key}};
  if (IsNumLockKeypadKey(key) && numLock) return {{TKeyEvent::keKeypad, key}};
  if (key == vkReturn && stroke.Extended) return {{TKeyEvent::keKeypad, CR}};
  if (IsVirtualKey(key)) return {{TKeyEvent::keVirtual, key}};
  std::vector<TKeyEvent> events;
  for (const char c : stroke.Text) events.push_back({TKeyEvent::keChar, static_cast<std::uint8_t>(c)});
  return events;
}

std::string KeySequence(TSequenceForm form, char letter, int emulation, bool eightBitControls) {
  switch (emulation) {
    case emVT100: return {ESC, form == sfSS3 ? 'O' : '[', letter};
    case emVT220:
      if (eightBitControls) return {form == sfSS3 ? SS3 : CSI, letter};
      return {ESC, form == sfSS3 ? 'O' : '[', letter};
    case emVT52: return {ESC, letter};
    default: return {};
  }
}

std::uint8_t KeypadCharacter(int code) {
  if (code >= vkNumpad0 && code <= vkNumpad9) return static_cast<std::uint8_t>('0' + code - vkNumpad0);
  switch (code) {
    case vkMultiply: return '*';
    case vkAdd: return '+';
    case vkSeparator: return ',';
    case vkSubtract: return '-';
    case vkDecimal: return '.';
    case vkDivide: return '/';
    default: return CR;
  }
}

char KeypadApplicationLetter(int code, bool numLock) {
  if (code >= vkNumpad0 && code <= vkNumpad9) return static_cast<char>('p' + code - vkNumpad0);
  if (!numLock) return 0;
  switch (code) {
    case vkAdd: return 'M';
    case vkSubtract: return 'm';
    case vkDecimal: return 'n';
    case CR: return 'M';
    default: return 0;
  }
}

int SoftKeyOfFunctionKey(int key, bool shiftHeld, bool ctrlHeld) {
  if (key < vkF1 || key > vkF12) return 0;
  const int number = key - vkF1 + 1;
  if (ctrlHeld) return number + 24;
  if (shiftHeld) return number + 12;
  return number;
}
