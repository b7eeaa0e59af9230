#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "core/settings.h"
#include "terminal/keymap.h"
#include "terminal/softkeylayout.h"
#include "terminal/tabstops.h"

// ------------------------------------------------------- soft-key bar

TEST(SoftKeyBar, TwelveKeysShareTheWidthAfterTheLabel) {
  const TSoftKeyBarLayout bar;  // label 45, space 1, bevel 1
  // 219 wide: keys start at 45 + 1 + 1 = 47 and are (219 - 1 - 47 - 12) / 12 = 13 wide.
  EXPECT_EQ(bar.KeyRect(1, 219, 20), (TBarRect{47, 1, 13, 18}));
  EXPECT_EQ(bar.KeyRect(2, 219, 20).Left, 61);
  EXPECT_EQ(bar.KeyRect(11, 219, 20), (TBarRect{187, 1, 13, 18}));
  // The twelfth reaches the right edge minus 1 minus the space.
  EXPECT_EQ(bar.KeyRect(12, 219, 20), (TBarRect{201, 1, 16, 18}));
  EXPECT_EQ(bar.KeyRect(12, 219, 20).Right(), 219 - 1 - 1);
}

TEST(SoftKeyBar, WiderSpacesAndLabels) {
  TSoftKeyBarLayout bar;
  bar.LabelWidth = 60;
  bar.Space = 3;
  // start 64, width (800 - 1 - 64 - 36) / 12 = 58
  EXPECT_EQ(bar.KeyRect(1, 800, 24), (TBarRect{64, 1, 58, 22}));
  EXPECT_EQ(bar.KeyRect(3, 800, 24).Left, 64 + 2 * 61);
  EXPECT_EQ(bar.KeyRect(12, 800, 24).Right(), 800 - 1 - 3);
}

TEST(SoftKeyBar, ClicksFindTheKeyUnderThePointer) {
  const TSoftKeyBarLayout bar;
  // The label, key 1, the space between keys, key 2, key 12, the edge.
  std::vector<int> keys;
  for (const int x : {10, 47, 59, 60, 61, 216, 217}) keys.push_back(bar.KeyAt(x, 10, 219, 20));
  EXPECT_EQ(keys, (std::vector<int>{0, 1, 1, 0, 2, 12, 0}));
  EXPECT_EQ(bar.KeyAt(100, 0, 219, 20), 0);  // the frame
}

TEST(SoftKeyBar, ABarTooNarrowForItsKeysShowsNoTextAndNeverGoesNegative) {
  const TSoftKeyBarLayout bar;
  for (int index = 1; index <= 12; ++index) {
    const TBarRect key = bar.KeyRect(index, 50, 3);
    EXPECT_TRUE(key.Width >= 0 && key.Height >= 0 && !bar.ShowsText(key)) << index;
  }
  EXPECT_EQ(bar.KeyAt(48, 1, 50, 3), 0);
  EXPECT_TRUE(bar.ShowsText(bar.KeyRect(1, 219, 20)));
}

TEST(SoftKeyBar, LabelsHintsAndTheSoftKeyOfAClick) {
  TSetupRecord settings;
  settings.ApplyDefaults();
  settings.SoftKeys[0] = "ls<CR>";
  settings.ShiftSoftKeys[11] = "<P:20>";
  settings.CntrlSoftKeys[5] = "bye";
  EXPECT_EQ((std::vector<std::string>{SoftKeyBarLabel(sgNormal), SoftKeyBarLabel(sgShift), SoftKeyBarLabel(sgCntrl)}),
            (std::vector<std::string>{"F-Keys", "Shift-F", "Cntrl-F"}));
  EXPECT_EQ((std::vector<std::string>{SoftKeyHints(settings, sgNormal)[0], SoftKeyHints(settings, sgNormal)[11],
                                      SoftKeyHints(settings, sgShift)[11], SoftKeyHints(settings, sgCntrl)[5]}),
            (std::vector<std::string>{"ls<CR>", "", "<P:20>", "bye"}));
  EXPECT_EQ((std::vector<int>{SoftKeyOfBarKey(sgNormal, 1), SoftKeyOfBarKey(sgShift, 1), SoftKeyOfBarKey(sgCntrl, 12)}),
            (std::vector<int>{1, 13, 36}));
}

// ------------------------------------------------------- tab stops

TEST(TabStops, MarksComeFromTheColumnFlagsAndGoBack) {
  TSetupRecord settings;
  settings.ApplyDefaults();
  TTabStopMarks marks(settings.TabStops);
  std::vector<int> every8;
  for (int column = 9; column <= 129; column += 8) every8.push_back(column);
  EXPECT_EQ(marks.Positions(), every8);
  marks.Set(132);
  marks.Reset(9);
  marks.Set(1);
  marks.StoreInto(settings.TabStops);
  // Columns 1, 9, 17 and 132.
  const std::uint8_t* stops = settings.TabStops;
  EXPECT_EQ((std::vector<int>{stops[0], stops[8], stops[16], stops[131]}), (std::vector<int>{1, 0, 1, 1}));
}

TEST(TabStops, PositionZeroIsShownButHasNoColumnAndOutsidePositionsAreIgnored) {
  std::uint8_t flags[132] = {};
  TTabStopMarks marks(flags);
  marks.Set(0);
  marks.Set(133);
  marks.Set(-1);
  EXPECT_EQ(marks.Positions(), std::vector<int>{0});
  EXPECT_FALSE(marks.IsSet(133));
  std::uint8_t stored[132];
  std::fill(std::begin(stored), std::end(stored), 7);
  marks.StoreInto(stored);
  for (int i = 0; i < 132; ++i) EXPECT_EQ(stored[i], 0) << i;
}

// ------------------------------------------------------- key map picture

TEST(KeyMapPicture, KeysLieInsideThePictureWithoutOverlapping) {
  const auto panels = PcKeyboardPanels();
  ASSERT_EQ(panels.size(), 101u);
  std::set<std::pair<int, int>> cells;
  for (const TKeyPanel& p : panels) {
    EXPECT_GE(p.X, 0) << p.Caption;
    EXPECT_LE(p.X + p.Width, kKeyboardWidth) << p.Caption;
    EXPECT_LE(p.Y + p.Height, kKeyboardHeight) << p.Caption;
    for (int x = p.X; x < p.X + p.Width; ++x) {
      for (int y = p.Y; y < p.Y + p.Height; ++y) {
        EXPECT_TRUE(cells.insert({x, y}).second) << p.Caption << " overlaps at " << x << "," << y;
      }
    }
  }
}
