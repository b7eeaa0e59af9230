#include "terminal/softkeylayout.h"

#include <algorithm>

#include "core/settings.h"

TBarRect TSoftKeyBarLayout::KeyRect(int index, int width, int height) const {
  const int start = LabelWidth + Space + 1;
  const int keyWidth = std::max(0, (width - 1 - start - kKeys * Space) / kKeys);
  TBarRect key;
  key.Left = start + (index - 1) * (keyWidth + Space);
  key.Top = BevelWidth;
  key.Height = std::max(0, height - 2 * BevelWidth);
  key.Width = index == kKeys ? std::max(0, width - 1 - Space - key.Left) : keyWidth;
  return key;
}

int TSoftKeyBarLayout::KeyAt(int x, int y, int width, int height) const {
  for (int index = 1; index <= kKeys; ++index) {
    const TBarRect key = KeyRect(index, width, height);
    if (x >= key.Left && x < key.Right() && y >= key.Top && y < key.Top + key.Height) return index;
  }
  return 0;
}

const char* SoftKeyBarLabel(TSoftKeyGroup group) {
  switch (group) {
    case sgShift: return "Shift-F";
    case sgCntrl: return "Cntrl-F";
    default: return "F-Keys";
  }
}

std::array<std::string, 12> SoftKeyHints(const TSetupRecord& settings, TSoftKeyGroup group) {
  const auto& keys = group == sgShift   ? settings.ShiftSoftKeys
                     : group == sgCntrl ? settings.CntrlSoftKeys
                                        : settings.SoftKeys;
  std::array<std::string, 12> hints;
  for (int i = 0; i < 12; ++i) hints[i] = keys[i].str();
  return hints;
}

int SoftKeyOfBarKey(TSoftKeyGroup group, int index) { return index + 12 * static_cast<int>(group); }
