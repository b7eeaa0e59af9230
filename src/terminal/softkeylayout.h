// What a soft-key bar shows and where its keys sit: the label, the twelve
// hints of its group, and the key layout across the bar's width. The bar
// widget paints and hit-tests with this.
#pragma once

#include <array>
#include <string>

struct TSetupRecord;

enum TSoftKeyGroup { sgNormal = 0, sgShift = 1, sgCntrl = 2 };

struct TBarRect {
  int Left = 0, Top = 0, Width = 0, Height = 0;
  int Right() const { return Left + Width; }  // one past the last pixel
  friend bool operator==(const TBarRect&, const TBarRect&) = default;
};

struct TSoftKeyBarLayout {
  static constexpr int kKeys = 12;
  int LabelWidth = 45;
  int Space = 1;
  int BevelWidth = 1;

  // Key index 1..12 in a client area of width x height. Keys share the width
  // after the label; the twelfth takes what the division leaves.
  TBarRect KeyRect(int index, int width, int height) const;
  TBarRect LabelRect(int height) const { return {0, 0, LabelWidth, height}; }
  // The key under a point, 1..12, or 0 for none (the label, the gaps).
  int KeyAt(int x, int y, int width, int height) const;
  // A key too narrow for its frame shows no text.
  bool ShowsText(const TBarRect& key) const { return key.Width > 2 * BevelWidth; }
};

// "F-Keys", "Shift-F", "Cntrl-F".
const char* SoftKeyBarLabel(TSoftKeyGroup group);
// The twelve definitions of the group, as the bar's hints.
std::array<std::string, 12> SoftKeyHints(const TSetupRecord& settings, TSoftKeyGroup group);
// The soft key (1..36) a click on key index (1..12) of the group's bar starts.
int SoftKeyOfBarKey(TSoftKeyGroup group, int index);
