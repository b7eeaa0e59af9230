#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "screen/store.h"
#include "support/testing.h"

namespace {
const std::string kBlankLine(132, ' ');

// A store holding `lines` blank lines of attribute 0, as the terminal leaves it.
void Fill(TBrowse& store, int lines, int attribute = 0) {
  for (int i = 0; i < lines; ++i) store.AddLine(kBlankLine, attribute, false);
}

// The damaged rectangle: first and last store line, left and right column.
std::vector<int> Rectangle(const TScreenDamage& damage) {
  return {damage.FirstLine, damage.LastLine, damage.LeftColumn, damage.RightColumn};
}

// What `read` gives for each of the lines, in order.
template <typename T>
std::vector<T> Each(const TBrowse& store, std::initializer_list<int> lines, T (TBrowse::*read)(int) const) {
  std::vector<T> values;
  for (const int line : lines) values.push_back((store.*read)(line));
  return values;
}

std::vector<TRun> Runs(std::initializer_list<std::pair<int, int>> entries) {
  std::vector<TRun> runs;
  for (const auto& [attribute, column] : entries)
    runs.push_back({static_cast<std::uint16_t>(attribute), static_cast<std::uint8_t>(column)});
  return runs;
}

}  // namespace

TEST(LineTable, GrowsByDoublingFromFirstCapacityAndKeepsEveryLine) {
  TBrowse store;
  EXPECT_EQ(store.Count(), 0);
  for (int i = 0; i < 2708; ++i) store.AddLine("line " + std::to_string(i), i % 3, false);
  EXPECT_EQ(store.Capacity(), 2708);
  store.AddLine("line 2708", 7, false);
  EXPECT_EQ(std::pair(store.Count(), store.Capacity()), std::pair(2709, 5416));
  for (int i : {0, 1, 1000, 2643, 2707, 2708}) {
    EXPECT_EQ(store.GetLineText(i), "line " + std::to_string(i)) << i;
    EXPECT_EQ(store.GetAttributeAt(i, 50), i == 2708 ? 7 : i % 3) << i;
  }
  store.Clear();
  EXPECT_EQ(std::pair(store.Count(), store.Capacity()), std::pair(0, 0));
  store.AddLine("again", 0, false);
  EXPECT_EQ(store.Capacity(), 2708);
}

TEST(LineTable, NewLinesAreInMemoryWithOffsetMinusOneAndLinesOutsideAreIgnored) {
  TBrowse store;
  store.AddLine("abc", -1, false);
  EXPECT_EQ(std::pair(store.GetLineState(0), store.GetFileOffset(0)), std::pair(int{lsAdded}, -1));
  EXPECT_EQ(store.GetRuns(0), Runs({{0, 1}, {0, 132}}));
  // A line holds at most 255 characters.
  store.AddLine(std::string(300, 'x'), 0, false);
  EXPECT_EQ(store.GetLineLength(1), 255);
  // Lines outside the store are ignored.
  store.AddLine("third", 0, false);
  EXPECT_EQ(Each(store, {-1, 3}, &TBrowse::GetLineText), (std::vector<std::string>{"", ""}));
  EXPECT_EQ(store.GetAttributeAt(3, 1), 0);
  store.SetLineText(3, "nowhere");
  store.SetAttributeAt(-1, 1, 5);
  store.SetMarkTop(3, 1, 2);
  EXPECT_EQ(store.Count(), 3);
  EXPECT_FALSE(store.Marks.Get(2)->Placed());
  std::string text = "x";
  std::uint16_t cells[132];
  EXPECT_FALSE(store.GetLine(7, text, cells));
  EXPECT_EQ(text, "");
}

TEST(RunLists, AUniformLineHasTwoEntriesAndColumn132OnlyChangesTheLast) {
  TBrowse store;
  store.AddLine("text", 9, false);
  EXPECT_EQ(store.GetRuns(0), Runs({{9, 1}, {9, 132}}));
  // The byte form: attribute low byte first, then the column.
  EXPECT_EQ(store.GetRunBytes(0), std::string("\x09\x00\x01\x09\x00\x84", 6));
  for (int column = 1; column <= 132; ++column) store.SetAttributeAt(0, column, 300);
  EXPECT_EQ(store.GetRunBytes(0), std::string("\x2C\x01\x01\x2C\x01\x84", 6));
  store.SetAttributeAt(0, 132, 6);
  EXPECT_EQ(store.GetRuns(0), Runs({{300, 1}, {6, 132}}));
  EXPECT_EQ(std::pair(store.GetAttributeAt(0, 131), store.GetAttributeAt(0, 132)), std::pair(300, 6));
  // A change at column 131 needs an entry of its own before the last.
  store.SetAttributeAt(0, 131, 6);
  EXPECT_EQ(store.GetRuns(0), Runs({{300, 1}, {6, 131}, {6, 132}}));
}

TEST(RunLists, HistoryLinesKeepTheirRunsAfterLeavingTheScreen) {
  TBrowse store;
  Fill(store, 24);
  store.PutText("red", 5, false, 2, 1);
  store.PutText("x", 132, false, 3, 1);
  const int line = store.ScreenLine(1);
  Fill(store, 200);  // far beyond the lines kept expanded
  EXPECT_EQ(store.GetRuns(line), Runs({{0, 1}, {2, 5}, {0, 8}, {3, 132}}));
  EXPECT_EQ(Trimmed(store.GetLineText(line)), std::string(4, ' ') + "red" + std::string(124, ' ') + "x");
  EXPECT_EQ(store.GetLineLength(line), 133);
  store.SetAttributeAt(line, 6, 9);
  EXPECT_EQ(store.GetRuns(line), Runs({{0, 1}, {2, 5}, {9, 6}, {2, 7}, {0, 8}, {3, 132}}));
}

TEST(PutText, PadsTheLineTo133AndWritesTextAndAttributes) {
  TBrowse store;
  Fill(store, 30);
  store.PutText("Hello", 3, false, 5, 2);
  const int line = store.Count() - 24 + 1;
  EXPECT_EQ(store.ScreenLine(2), line);
  const std::string text = store.GetLineText(line);
  ASSERT_EQ(text.size(), 133u);
  EXPECT_EQ(text.substr(0, 8), "  Hello ");
  EXPECT_EQ(store.GetLineState(line), lsRewritten);
  EXPECT_EQ(store.GetRuns(line), Runs({{0, 1}, {5, 3}, {0, 8}, {0, 132}}));
  EXPECT_EQ((std::pair<int, int>(store.GetCellChar(4, 2), store.GetCellAttribute(4, 2))), std::pair(int{'e'}, 5));
  // Replacing the row gives all 132 cells the new attribute.
  store.ReplaceScreenLine("whole", 6, false, 2);
  EXPECT_EQ(store.GetLineText(line), "whole");
  EXPECT_EQ(store.GetRuns(line), Runs({{6, 1}, {6, 132}}));
  // Rows outside 1..Rows address nothing.
  store.PutText("zz", 1, false, 5, 0);
  store.PutText("zz", 1, false, 5, 25);
  EXPECT_EQ(Trimmed(store.GetLineText(store.ScreenLine(1) - 1)), "");
  EXPECT_EQ(store.GetCellChar(1, 25), 0);
}

TEST(PutText, ALookDifferingInAnyOneCellOfTheWriteReachesThePackedRuns) {
  // Writes of 1..20 cells where only one cell had another look before: that
  // one cell must still make the line's run list change.
  for (int length = 1; length <= 20; ++length) {
    for (int odd = 0; odd < length; ++odd) {
      TBrowse store;
      Fill(store, 100, 5);
      const int line = store.ScreenLine(1);
      store.SetAttributeAt(line, 20 + odd, 0);
      // A write to the line 64 above takes the row's place among the
      // expanded lines, so the row is packed with its odd cell: only the
      // write below can make its run list stale again.
      store.CopyBlock({1, 0, 1, 0}, {1, line - 64, 1, line - 64}, false, false);
      store.PutText(std::string(static_cast<std::size_t>(length), 'x'), 20, false, 5, 1);
      Fill(store, 100);  // the line leaves the screen and is packed
      EXPECT_EQ(store.GetRuns(line), Runs({{5, 1}, {5, 132}})) << length << " " << odd;
    }
  }
}

TEST(PutText, OnAStoreWithFewerLinesThanRowsRowOneIsNothing) {
  TBrowse store;
  Fill(store, 10);
  store.PutText("abc", 1, true, 3, 1);
  for (int line = 0; line < 10; ++line) {
    EXPECT_EQ(store.GetLineText(line), kBlankLine) << line;
    EXPECT_EQ(store.GetLineState(line), lsAdded) << line;
  }
  EXPECT_TRUE(store.PendingDamage().LastLine < 0);
  // Row 24 is the last line.
  store.PutText("abc", 1, false, 3, 24);
  EXPECT_EQ(store.GetLineText(9).substr(0, 4), "abc ");
}

// Text past column 132 is kept up to the 255th character; an empty text only
// pads the line to 133.
TEST(PutText, TextBeyondTheCellsIsKeptUpToTheLongestLine) {
  TBrowse store;
  for (int i = 0; i < 24; ++i) store.AddLine("", 0, false);
  const int line = store.Count() - 1;
  store.PutText("", 136, false, 2, 22);
  store.FillText('x', 3, 300, false, 2, 22);
  store.PutText("yz", 256, false, 2, 22);
  EXPECT_EQ(store.GetLineText(line - 2), std::string(133, ' '));
  store.PutText("ABCDEFGH", 128, false, 2, 24);
  EXPECT_EQ(store.GetLineLength(line), 135);
  EXPECT_EQ(store.GetLineText(line).substr(127), "ABCDEFGH");
  EXPECT_EQ(store.GetAttributeAt(line, 132), 2);
  store.PutText(std::string(10, 'z'), 250, false, 2, 24);
  EXPECT_EQ(store.GetLineLength(line), 255);
  // Characters before column 1 are dropped, the rest still land.
  store.PutText("123", -1, false, 4, 24);
  EXPECT_EQ(store.GetLineText(line).substr(0, 2), "3 ");
  EXPECT_EQ(store.GetAttributeAt(line, 1), 4);
}

TEST(PutText, PaintsUnlessTheFirstCharacterIsAControlCharacter) {
  TBrowse store;
  Fill(store, 24);
  store.TakeDamage();
  store.PutText(std::string("\0\0", 2), 1, true, 0, 3);
  EXPECT_LT(store.PendingDamage().LastLine, 0);
  store.PutText("ab", 7, true, 0, 3);
  const TScreenDamage damage = store.TakeDamage();
  EXPECT_EQ(Rectangle(damage), (std::vector<int>{store.ScreenLine(3), store.ScreenLine(3), 7, 8}));
  EXPECT_TRUE(damage.FollowCursor);
}

TEST(LineText, PackedLinesKeepEveryCharacterBeforeTheirTrailingBlanks) {
  // Texts ending at every place relative to eight-byte words, some with
  // blanks inside, written on screen rows and packed when they leave.
  TBrowse store;
  Fill(store, 24);
  std::vector<std::string> written;
  for (int length = 0; length <= 20; ++length) {
    std::string text;
    for (int i = 0; i < length; ++i) text += (i % 3 == 1) ? ' ' : static_cast<char>('a' + i);
    if (length > 0) text.back() = 'z';
    store.PutText(text, 1, false, 0, 24);
    written.push_back(text);
    store.AddLine(kBlankLine, 0, false);
  }
  const int first = store.Count() - 1 - static_cast<int>(written.size());
  Fill(store, 100);
  for (std::size_t i = 0; i < written.size(); ++i) {
    const std::string text = store.GetLineText(first + static_cast<int>(i));
    EXPECT_EQ(text.size(), 133u) << i;
    EXPECT_EQ(Trimmed(text), written[i]) << i;
  }
}

TEST(LineText, SetKeepsRunsAndOffsetReplaceDropsOffset) {
  TBrowse store;
  store.AddDiskLine("disk text", 40, 3);
  store.AddLine("x", 0, false);
  EXPECT_EQ(std::pair(store.GetLineState(0), store.GetLineLength(0)), std::pair(int{lsOnDisk}, 9));
  store.SetAttributeAt(0, 2, 8);
  store.SetLineText(0, "new");
  EXPECT_EQ(std::tuple(store.GetLineText(0), store.GetLineState(0), store.GetFileOffset(0)),
            std::tuple(std::string("new"), int{lsRewritten}, 40));
  EXPECT_EQ(store.GetRuns(0), Runs({{3, 1}, {8, 2}, {3, 3}, {3, 132}}));
  store.ReplaceLine(0, "newer   ");
  EXPECT_EQ(std::pair(store.GetLineText(0), store.GetFileOffset(0)), std::pair(std::string("newer   "), -1));
  // A history line rewritten in place, shorter and then longer.
  Fill(store, 100);
  store.SetLineText(0, "short");
  EXPECT_EQ(store.GetLineText(0), "short");
  store.SetLineText(0, std::string(200, 'q') + "   ");
  EXPECT_EQ(Each(store, {0, 1, 2}, &TBrowse::GetLineText),
            (std::vector<std::string>{std::string(200, 'q') + "   ", "x", kBlankLine}));
}

TEST(HotLines, ASlotTakenByAnotherLineShowsNothingOfTheLineBefore) {
  // Lines 64 apart share an expanded slot: every way a line comes into one
  // that held a long text must leave only its own text behind.
  TBrowse store;
  const std::string longText(250, 'x');
  Fill(store, 24);
  store.PutText(longText, 1, false, 0, 24);
  const int longLine = store.ScreenLine(24);
  for (int i = 0; i < 64; ++i) store.AddBlankLine(0, false);
  // A new blank line in the slot of the long one, then a short write on it.
  const int blank = longLine + 64;
  EXPECT_EQ(store.GetLineText(blank), kBlankLine);
  store.PutText("ab", 1, false, 0, 24);
  EXPECT_EQ(store.GetLineText(blank), "ab" + std::string(131, ' '));
  // A new line with text, in a slot whose last line wrote 250 characters.
  store.AddBlankLine(0, false);
  const int second = store.ScreenLine(24);
  store.PutText(longText, 1, false, 0, 24);
  for (int i = 0; i < 63; ++i) store.AddBlankLine(0, false);
  store.AddLine("short", 0, false);
  EXPECT_EQ(store.GetLineText(second + 64), "short");
  // A history line brought back into the slot of a long screen line.
  store.PutText(longText, 1, false, 0, 23);
  EXPECT_EQ(store.ScreenLine(23), blank + 64);
  const std::string rewritten = "ab" + std::string(97, ' ') + "x" + std::string(33, ' ');
  store.CopyBlock({1, longLine, 1, longLine}, {100, blank, 100, blank}, false, false);
  EXPECT_EQ(store.GetLineText(blank), rewritten);
  EXPECT_EQ(store.GetLineText(blank + 64), longText);
  // And every one of them as packed once it leaves.
  Fill(store, 200);
  EXPECT_EQ(Each(store, {longLine, blank, second, second + 64, blank + 64}, &TBrowse::GetLineText),
            (std::vector<std::string>{longText, rewritten, longText, "short", longText}));
}

TEST(HotLines, ALineTurnsRewrittenWithItsFirstWriteWhateverItWas) {
  TBrowse store;
  store.AddDiskLine("on disk", 10, 0);
  Fill(store, 30);
  store.AddBlankLine(3, false);
  const int added = store.Count() - 1;
  EXPECT_EQ(std::pair(store.GetLineState(added), store.GetLineLength(added)), std::pair(int{lsAdded}, 132));
  EXPECT_EQ(store.GetRuns(added), Runs({{3, 1}, {3, 132}}));
  store.FillText(' ', 0, 5, false, 3, 24);
  EXPECT_EQ(store.GetLineState(added), lsRewritten);
  // A new line in the slot of a rewritten one starts as added.
  for (int i = 0; i < 64; ++i) store.AddBlankLine(0, false);
  const int reused = added + 64;
  EXPECT_EQ(store.GetLineState(reused), lsAdded);
  // Cells moved onto a line rewrite it, a disk line out of the history too.
  store.CopyBlock({1, 23, 3, 23}, {1, 24, 3, 24}, false, true);
  store.CopyBlock({1, 24, 3, 24}, {1, 0, 3, 0}, false, false);
  const std::vector<int> states = {lsRewritten, lsAdded, lsRewritten, lsRewritten, lsAdded};
  EXPECT_EQ(Each(store, {reused, reused - 1, 0, added, 1}, &TBrowse::GetLineState), states);
  EXPECT_EQ(store.GetFileOffset(0), 10);
  // The states hold once the lines are packed.
  Fill(store, 100);
  EXPECT_EQ(Each(store, {reused, reused - 1, 0, added, 1}, &TBrowse::GetLineState), states);
}

TEST(HotLines, AWriteInALineOfOneLookChangesEveryCellThatLooksOtherwise) {
  TBrowse store;
  Fill(store, 24, 2);
  const int line = store.ScreenLine(24);
  // One cell changed on its own.
  store.SetAttributeAt(line, 5, 7);
  store.PutText("abcdef", 1, false, 2, 24);
  EXPECT_EQ(store.GetRuns(line), Runs({{2, 1}, {2, 132}}));
  // Written over in another look and back.
  store.AddBlankLine(2, false);
  store.PutText("ab", 1, false, 9, 24);
  store.PutText("ab", 1, false, 2, 24);
  EXPECT_EQ(store.GetRuns(line + 1), Runs({{2, 1}, {2, 132}}));
  // Cells moved in from a line of another look.
  store.AddBlankLine(2, false);
  store.PutText("xy", 1, false, 9, 23);
  store.CopyBlock({1, 23, 2, 23}, {1, 24, 2, 24}, false, true);
  EXPECT_EQ(store.GetRuns(line + 2), Runs({{9, 1}, {2, 3}, {2, 132}}));
  store.PutText("zz", 1, false, 2, 24);
  EXPECT_EQ(store.GetRuns(line + 2), Runs({{2, 1}, {2, 132}}));
  // A new line of the look its slot last held, and of another.
  for (int i = 0; i < 64; ++i) store.AddBlankLine(2, false);
  EXPECT_EQ(store.GetRuns(store.Count() - 1), Runs({{2, 1}, {2, 132}}));
  store.SetAttributeAt(store.Count() - 1, 132, 5);
  for (int i = 0; i < 64; ++i) store.AddBlankLine(2, false);
  EXPECT_EQ(store.GetRuns(store.Count() - 1), Runs({{2, 1}, {2, 132}}));
  store.AddBlankLine(4, false);
  EXPECT_EQ(store.GetRuns(store.Count() - 1), Runs({{4, 1}, {4, 132}}));
  store.PutText("q", 1, false, 2, 24);
  EXPECT_EQ(store.GetRuns(store.Count() - 1), Runs({{2, 1}, {4, 2}, {4, 132}}));
  // A history line of two looks brought into the slot of a new line of one:
  // the next new line there has one look again.
  store.AddBlankLine(2, false);
  const int history = store.Count() - 1 - 64;
  store.SetAttributeAt(history, 3, 9);
  store.CopyBlock({1, 22, 1, 22}, {1, history, 1, history}, false, false);
  EXPECT_EQ(store.GetRuns(history), Runs({{2, 1}, {9, 3}, {2, 4}, {2, 132}}));
  for (int i = 0; i < 64; ++i) store.AddBlankLine(2, false);
  EXPECT_EQ(store.GetRuns(store.Count() - 1), Runs({{2, 1}, {2, 132}}));
  // One of one look, then a new line of another look in its slot, written
  // in the first look.
  store.AddBlankLine(2, false);
  const int plain = store.Count() - 1 - 64;
  store.CopyBlock({1, 22, 1, 22}, {1, plain, 1, plain}, false, false);
  for (int i = 0; i < 63; ++i) store.AddBlankLine(2, false);
  store.AddBlankLine(4, false);
  store.PutText("q", 1, false, 2, 24);
  EXPECT_EQ(store.GetRuns(store.Count() - 1), Runs({{2, 1}, {4, 2}, {4, 132}}));
}

TEST(CopyBlock, SidewaysOnOneLineAndWithStoreLineNumbers) {
  TBrowse store;
  Fill(store, 100);
  const int line = store.ScreenLine(1);
  store.PutText("abcdef", 1, false, 0, 1);
  store.SetAttributeAt(line, 3, 7);
  // Columns 3..6 two to the left (a delete of two characters).
  store.CopyBlock({3, line, 6, line}, {1, line, 4, line}, false, false);
  EXPECT_EQ(store.GetLineText(line).substr(0, 6), "cdefef");
  EXPECT_EQ(std::pair(store.GetAttributeAt(line, 1), store.GetAttributeAt(line, 3)), std::pair(7, 0));
  // Two to the right, overlapping the other way.
  store.CopyBlock({1, line, 4, line}, {3, line, 6, line}, false, false);
  EXPECT_EQ(store.GetLineText(line).substr(0, 6), "cdcdef");
  // A packed history line as the source.
  store.SetLineText(0, "XY");
  store.SetAttributeAt(0, 2, 4);
  store.CopyBlock({1, 0, 2, 0}, {1, line, 2, line}, false, false);
  EXPECT_EQ(store.GetLineText(line).substr(0, 6), "XYcdef");
  EXPECT_EQ(store.GetAttributeAt(line, 2), 4);
  // A block reaching past column 132 copies only what fits.
  store.CopyBlock({1, line, 10, line}, {127, line + 1, 136, line + 1}, false, false);
  EXPECT_EQ(store.GetLineText(line + 1).substr(120), "      XYcdef");
}

// Rows moved on the screen (overlapping either way, their looks once packed)
// are checked against the general copy by the region-scroll test of
// writer_test and by editing.test.
TEST(Attributes, InterningSharesNumbersAndRaisesMaxima) {
  TAttributeManager table;
  EXPECT_EQ(table.CachedNumber(), -1);
  TTextAttributes plain;
  plain.Size = 8;
  TTextAttributes big = plain;
  big.Size = 16;
  const int first = table.Intern(plain), second = table.Intern(big), cached = table.CachedNumber();
  EXPECT_EQ((std::vector<int>{first, second, cached, table.Intern(plain)}), (std::vector<int>{0, 1, 1, 0}));
  // Equal look, differing metrics fields: still the same record.
  TTextAttributes again = plain;
  again.LineHeight = 99;
  EXPECT_EQ(table.Intern(again), 0);
  TTextAttributes named = plain;
  named.FontName = std::string(70, 'F');
  EXPECT_EQ(table.Get(table.Intern(named)).FontName.size(), 60u);
  EXPECT_EQ(std::pair(table.Count(), int{table.Maxima().Size}), std::pair(3, 16));
  // 16 points at 96 dpi: 21.3 px; width 0.6 -> 13, line 1.2 -> 26, double size 26 / 51.
  const TTextAttributes& sixteen = table.Get(1);
  EXPECT_EQ((std::vector<int>{sixteen.UnderlineWidth, sixteen.LineHeight, sixteen.DoubleWidth,
                              sixteen.DoubleLineHeight, table.Maxima().LineHeight, table.Maxima().DoubleLineHeight}),
            (std::vector<int>{13, 26, 26, 51, 26, 51}));
  EXPECT_EQ(table.Get(12345).Size, 8);
}

namespace {
// Widths that differ by style, to see which measurement fills which metric.
class TStyledMeasurer : public TFontMeasurer {
 public:
  TFontMeasure Measure(std::string_view, int size, std::uint8_t style) const override {
    TFontMeasure m;
    m.AverageWidth = size + ((style & fsBold) ? 1 : 0) + ((style & fsItalic) ? 3 : 0);
    m.Height = size * 2 + ((style & fsUnderline) ? 1 : 0);
    m.Overhang = (style & fsItalic) ? 2 : 0;
    return m;
  }
};
}  // namespace

TEST(Attributes, MetricsComeFromTheInjectedMeasurer) {
  TStyledMeasurer measurer;
  TAttributeManager table;
  table.SetMeasurer(&measurer);
  TTextAttributes r;
  r.Size = 10;
  const TTextAttributes& got = table.Get(table.Intern(r));
  // Plain width, height (+1 underlined), bold, italic, the widest, double width and height.
  const std::vector<int> metrics = {got.UnderlineWidth, got.LineHeight, got.BoldWidth, got.ItalicWidth,
                                    got.MaxWidth,       got.DoubleWidth, got.DoubleLineHeight};
  EXPECT_EQ(metrics, (std::vector<int>{10, 21, 11, 13, 13, 20, 40}));
  EXPECT_EQ(got.Overhang, 0);
  r.Style = fsItalic;
  EXPECT_EQ(table.Get(table.Intern(r)).Overhang, 2);
  EXPECT_EQ(table.Maxima().Overhang, 2);
}

TEST(Marks, FixedMarksAndReusedUserMarks) {
  TMarkManager marks;
  ASSERT_EQ(marks.Count(), 4);
  EXPECT_EQ(marks.Get(1)->Foreground, colors::Black);
  EXPECT_EQ((std::vector<TColor>{marks.Get(1)->Background, marks.Get(2)->Background, marks.Get(3)->Background,
                                 marks.Get(4)->Background}),
            (std::vector<TColor>{colors::Aqua, colors::Blue, colors::Black, colors::Maroon}));
  EXPECT_EQ(marks.Get(4)->Type, 3);
  EXPECT_EQ((std::vector<int>{marks.NewUserMark(), marks.NewUserMark(), marks.NewUserMark()}),
            (std::vector<int>{5, 6, 7}));
  marks.Free(6);
  marks.Free(2);  // fixed: stays in the table
  EXPECT_EQ(marks.Get(2)->Type, 2);
  EXPECT_EQ((std::vector<int>{marks.NewUserMark(), marks.NewUserMark()}), (std::vector<int>{6, 8}));
  EXPECT_EQ(marks.Get(8)->Type, 4);  // the 255-mark limit: bookmarks_test
}

TEST(Marks, TopAndBottomWidenTheMarkAndWriteSlots) {
  TBrowse store;
  Fill(store, 20);
  store.SetMarkTop(5, 7, 2);
  store.SetMarkBottom(8, 20, 2);
  EXPECT_EQ(std::pair(store.Marks.Get(2)->Top(), store.Marks.Get(2)->Bottom()), std::pair(5, 8));
  // Lines 4..9: only the ends hold the slot; the columns run from the top's to the bottom's.
  std::vector<int> slots, starts, ends;
  for (int line = 4; line <= 9; ++line) {
    slots.push_back(store.HasMark(line, 2));
    starts.push_back(store.MarkStartColumn(line, 2));
    ends.push_back(store.MarkEndColumn(line, 2));
  }
  EXPECT_EQ(slots, (std::vector<int>{0, 1, 0, 0, 1, 0}));
  EXPECT_EQ(starts, (std::vector<int>{0, 7, 1, 1, 1, 0}));
  EXPECT_EQ(ends, (std::vector<int>{0, 132, 132, 132, 20, 0}));
  // A top inside the mark does not narrow it.
  store.SetMarkTop(6, 50, 2);
  EXPECT_EQ(std::pair(store.Marks.Get(2)->Top(), store.MarkStartColumn(5, 2)), std::pair(5, 7));
  // Lines in reverse order: top and bottom are the smaller and the larger.
  store.Marks.Get(2)->FirstLine = 8;
  store.Marks.Get(2)->LastLine = 5;
  store.SetMarkTop(3, 2, 2);
  EXPECT_EQ((std::vector<int>{store.Marks.Get(2)->LastLine, store.Marks.Get(2)->FirstLine,
                              store.MarkStartColumn(3, 2)}),
            (std::vector<int>{3, 8, 2}));
}

TEST(Marks, SlotsPerMarkAndTypes) {
  TBrowse store;
  Fill(store, 5);
  const int user = store.Marks.NewUserMark();
  const int other = store.Marks.NewUserMark();
  store.SetMarkTop(1, 1, 1);
  store.SetMarkTop(1, 1, 3);
  store.SetMarkTop(1, 1, user);
  store.SetMarkTop(1, 1, 4);  // mark 4 changes nothing
  EXPECT_EQ((std::vector<int>{store.GetMarkSlot(1, 1), store.GetMarkSlot(1, 2), store.GetMarkSlot(1, 3),
                              store.GetMarkSlot(1, 4), store.GetMarkSlot(1, user)}),
            (std::vector<int>{1, 0, 3, 0, user}));
  EXPECT_FALSE(store.Marks.Get(4)->Placed());
  EXPECT_EQ((std::vector<int>{store.Marks.Get(user)->Type, store.Marks.Get(3)->Type}), (std::vector<int>{4, 3}));
  // User marks share one slot: clearing another user mark leaves it.
  const auto marks = [&](int line, int mark) {
    return std::pair(store.HasMark(line, user), store.HasMark(line, mark));
  };
  EXPECT_EQ(marks(1, other), std::pair(true, false));
  store.ClearMarkSlot(1, other);
  EXPECT_EQ(marks(1, other), std::pair(true, false));
  store.ClearMarkSlot(1, user);
  EXPECT_EQ(marks(1, other), std::pair(false, false));
  store.SetMarkSlot(2, 3, 3);
  EXPECT_EQ(marks(2, 3), std::pair(false, true));
  store.ClearMarkSlot(2, 3);
  EXPECT_EQ(store.GetMarkSlot(2, 3), 0);
}

TEST(Damage, IsCollectedUntilTakenAndAnnouncedOnce) {
  TBrowse store;
  int announced = 0;
  store.OnDamage = [&] { ++announced; };
  Fill(store, 24);
  EXPECT_EQ(announced, 1);
  store.PutText("a", 1, true, 0, 1);
  EXPECT_EQ(announced, 1);
  TScreenDamage damage = store.TakeDamage();
  EXPECT_EQ(damage.LinesAdded, 24);
  EXPECT_TRUE(store.PendingDamage().Empty());
  store.InvalidateCells(3, 20, 30, 9);  // rows beyond the screen are clipped
  EXPECT_EQ(Rectangle(store.TakeDamage()), (std::vector<int>{store.ScreenLine(20), store.ScreenLine(24), 3, 9}));
  EXPECT_EQ(announced, 2);
  // A copy with paint invalidates both rectangles.
  store.CopyBlock({5, 2, 9, 3}, {20, 10, 24, 11}, true, true);
  EXPECT_EQ(Rectangle(store.TakeDamage()), (std::vector<int>{store.ScreenLine(2), store.ScreenLine(11), 5, 24}));
  store.Clear();
  EXPECT_TRUE(store.TakeDamage().ShowTop);
}

TEST(Cursor, LimitedToTheTerminalScreenUnlessBrowsing) {
  TBrowse store;
  const auto cursor = [&] { return std::pair(store.CursorXPosition(), store.CursorYPosition()); };
  store.SetCursor(81, 30);
  EXPECT_EQ(cursor(), std::pair(80, 24));
  store.SetCursor(0, 0);
  EXPECT_EQ(cursor(), std::pair(1, 1));
  store.Options |= boListBox;
  store.VisibleRows = 40;
  store.SetCursor(200, 35);
  EXPECT_EQ(cursor(), std::pair(132, 35));
}
