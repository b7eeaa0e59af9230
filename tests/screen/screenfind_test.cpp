#include "screen/screenfind.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "screen/store.h"
#include "support/testing.h"

namespace {
std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// Every hit position of pattern in text, by the standard library.
std::vector<int> AllHits(const std::string& text, const std::string& pattern) {
  std::vector<int> hits;
  for (auto at = text.find(pattern); at != std::string::npos; at = text.find(pattern, at + 1))
    hits.push_back(static_cast<int>(at));
  return hits;
}

std::vector<int> ForwardHits(TTSearch& search, const std::string& text) {
  std::vector<int> hits;
  for (bool found = search.SetText(text); found; found = search.SearchForward())
    hits.push_back(search.HitPosition());
  return hits;
}

std::vector<int> BackwardHits(TTSearch& search, const std::string& text) {
  std::vector<int> hits;
  search.SetTextFrom(text, static_cast<int>(text.size()));
  while (search.SearchBackward()) hits.insert(hits.begin(), search.HitPosition());
  return hits;
}

struct TStore {
  TBrowse Screen;
  TScreenFind Finder{Screen};
  std::vector<int> Shown;
  explicit TStore(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) Screen.AddLine(line, 0, false);
    Screen.TakeDamage();
    Finder.ShowLine = [this](int line) { Shown.push_back(line); };
  }
  // Line and first and last column of the find mark; {-1, 0, 0} when it is not placed.
  std::vector<int> FindMark() const {
    const TMarkAttributes* mark = Screen.Marks.Get(3);
    if (!mark->Placed()) return {-1, 0, 0};
    return {mark->Top(), Screen.MarkStartColumn(mark->Top(), 3), Screen.MarkEndColumn(mark->Bottom(), 3)};
  }
  // A search's column and the line of its hit.
  std::vector<int> Hit(int column) const { return {column, Finder.LastHitLine()}; }
  std::vector<int> LinesWithFindMark() const {
    std::vector<int> lines;
    for (int i = 0; i < Screen.Count(); ++i)
      if (Screen.HasMark(i, 3)) lines.push_back(i);
    return lines;
  }
};

using TInts = std::vector<int>;
}  // namespace

// ---------------------------------------------------------------------------
// Search within a line

TEST(QuickSearch, AgreesWithTheStandardLibraryOnRandomTextBothWays) {
  std::mt19937 random(7);
  const std::string alphabet = "abcAB ";
  for (int round = 0; round < 3000; ++round) {
    std::string text(random() % 60, ' '), pattern(1 + random() % 4, ' ');
    for (char& c : text) c = alphabet[random() % alphabet.size()];
    for (char& c : pattern) c = alphabet[random() % alphabet.size()];
    const bool caseSensitive = round % 2 == 0;
    TTSearch search;
    search.SetPattern(pattern, caseSensitive);
    const TInts expected = caseSensitive ? AllHits(text, pattern) : AllHits(Upper(text), Upper(pattern));
    ASSERT_EQ(ForwardHits(search, text), expected) << "text '" << text << "' pattern '" << pattern << "'";
    ASSERT_EQ(BackwardHits(search, text), expected) << "text '" << text << "' pattern '" << pattern << "'";
  }
}

// What the random test above leaves out: the count of hits, bytes above 127
// and punctuation (compared as they are), an empty pattern and start positions.
TEST(QuickSearch, HitsFoldingEmptyPatternsAndStartPositions) {
  TTSearch search;
  EXPECT_FALSE(search.SetText("anything"));
  search.SetPattern("aa");
  search.SetText("xaaxaa");
  search.SearchForward();
  EXPECT_EQ(search.Hits(), 2);
  EXPECT_FALSE(search.SearchForward() || search.Found());
  search.SetPattern("\xE4[", false);
  EXPECT_FALSE(search.SetText("\xC4{"));
  EXPECT_TRUE(search.SetText("x\xE4["));
  search.SetPattern("");
  EXPECT_FALSE(search.SetText("anything"));
  search.SetTextFrom("anything", 8);
  EXPECT_FALSE(search.SearchBackward());
  search.SetPattern("ab");
  search.SetTextFrom("ab ab ab", 1);
  ASSERT_TRUE(search.SearchForward());
  EXPECT_EQ(search.HitPosition(), 3);
  const std::pair<int, int> backwards[] = {{5, 3}, {2, 0}, {-1, -1}};  // from, hit
  for (const auto& [from, hit] : backwards) {
    search.SetTextFrom("ab ab ab", from);
    EXPECT_EQ(search.SearchBackward() ? search.HitPosition() : -1, hit) << from;
  }
}

// ---------------------------------------------------------------------------
// The store's line text without a copy

TEST(LineTextView, AgreesWithLineTextForHotPackedAndPaddedLines) {
  TBrowse screen;
  for (int i = 0; i < 200; ++i) {
    std::string text = "line " + std::to_string(i);
    if (i % 3 == 0) text += std::string(40, ' ');  // trailing blanks are not stored
    if (i % 7 == 0) text.clear();
    screen.AddLine(text, 0, false);
  }
  char scratch[TBrowse::kMaxLineLength];
  for (int i = 0; i < screen.Count(); ++i)
    ASSERT_EQ(std::string(screen.GetLineTextView(i, scratch)), screen.GetLineText(i)) << "line " << i;
  EXPECT_TRUE(screen.GetLineTextView(-1, scratch).empty());
  EXPECT_TRUE(screen.GetLineTextView(200, scratch).empty());
}

TEST(InvalidateLines, RepaintsTheLinesWithinTheStore) {
  TBrowse screen;
  for (int i = 0; i < 10; ++i) screen.AddLine("x", 0, false);
  screen.TakeDamage();
  const auto lines = [&](int first, int last) {
    screen.InvalidateLines(first, last);
    const TScreenDamage damage = screen.TakeDamage();
    return damage.Empty() ? TInts{} : TInts{damage.FirstLine, damage.LastLine};
  };
  EXPECT_EQ(lines(3, 5), (TInts{3, 5}));
  EXPECT_EQ(lines(8, 40), (TInts{8, 9}));
  EXPECT_EQ(lines(12, 40), TInts{});
}

// ---------------------------------------------------------------------------
// Find, Find Next, Find Previous in the store

// Find (f), Find Next (n) and Find Previous (p) in turn: the column of each
// hit and its line, 0 for nothing found.
TEST(Find, NextAndPreviousGoOnFromTheLastHit) {
  struct TStep {
    char Op;
    const char* Text;
    int Column, Line;
  };
  const struct {
    std::vector<std::string> Lines;
    std::vector<TStep> Steps;
  } cases[] = {
      // Nothing in an empty store or for an empty text.
      {{}, {{'f', "a", 0, 0}, {'n', "a", 0, 0}, {'p', "a", 0, 0}}},
      {{"abc"}, {{'f', "", 0, 0}}},
      // A one-line store finds at both ends of its line and no further.
      {{"abc abc"}, {{'f', "abc", 1, 0}, {'n', "abc", 5, 0}, {'n', "abc", 0, 0}}},
      // The same text: later in the same line first.
      {{"", "         ab here ab there", "ab below"}, {{'f', "ab", 10, 1}, {'n', "ab", 18, 1}, {'n', "ab", 1, 2}}},
      // Another text starts again from the top.
      {{"ab cd", "ab cd"}, {{'f', "ab", 1, 0}, {'n', "ab", 1, 1}, {'n', "cd", 4, 0}}},
      // Previous with the same text goes up, earlier in the line first.
      {{"aa x aa", "nothing", "aa"},
       {{'f', "aa", 1, 0}, {'n', "aa", 6, 0}, {'n', "aa", 1, 2}, {'p', "aa", 6, 0}, {'p', "aa", 1, 0}, {'p', "aa", 0, 0}}},
      // Previous with a new text starts at line 0 without the cursor option.
      {{"ab ab", "ab"}, {{'p', "ab", 4, 0}}},
  };
  for (const auto& c : cases) {
    TStore store(c.Lines);
    for (const TStep& step : c.Steps) {
      const int column = step.Op == 'f'   ? store.Finder.Find(step.Text)
                         : step.Op == 'n' ? store.Finder.FindNext(step.Text)
                                          : store.Finder.FindPrevious(step.Text);
      const std::string context = (c.Lines.empty() ? "" : c.Lines[0]) + " " + step.Op + " " + step.Text;
      EXPECT_EQ(column, step.Column) << context;
      EXPECT_EQ(column ? store.Finder.LastHitLine() : step.Line, step.Line) << context;
    }
    // Nothing shown: no mark placed.
    EXPECT_EQ((store.Shown.empty() ? store.FindMark() : TInts{-1, 0, 0}), (TInts{-1, 0, 0})) << c.Steps[0].Text;
  }
}

TEST(Find, WithoutCaseFindsEveryCasingWithCaseOnlyTheSame) {
  TStore store({"nothing", "xx ABC", "aBc", "abc"});
  EXPECT_EQ(store.Finder.Find("abc"), 4);
  EXPECT_EQ(store.FindMark(), (TInts{1, 4, 6}));
  EXPECT_EQ(store.Hit(store.Finder.FindNext("abc")), (TInts{1, 2}));
  store.Finder.FindCaseSensitive = true;
  EXPECT_EQ(store.Hit(store.Finder.Find("abc")), (TInts{1, 3}));
  EXPECT_EQ(store.Hit(store.Finder.Find("ABC")), (TInts{4, 1}));
  // The text searched for is kept as the user typed it.
  EXPECT_EQ(store.Finder.LastSearchText(), "ABC");
}

TEST(Find, TheMarkMovesAndTheOldLineIsRepainted) {
  TStore store({"one", "two one", "three", "one"});
  ASSERT_EQ(store.Finder.Find("one"), 1);
  store.Screen.TakeDamage();
  ASSERT_EQ(store.Finder.FindNext("one"), 5);
  EXPECT_EQ(store.LinesWithFindMark(), (TInts{1}));
  TScreenDamage damage = store.Screen.TakeDamage();
  EXPECT_LE(damage.FirstLine, 0);
  EXPECT_GE(damage.LastLine, 1);
  ASSERT_EQ(store.Finder.FindNext("one"), 1);
  EXPECT_EQ(store.LinesWithFindMark(), (TInts{3}));
  EXPECT_EQ(store.FindMark(), (TInts{3, 1, 3}));
  EXPECT_EQ(store.Shown, (TInts{0, 1, 3}));
}

TEST(Find, NotFoundKeepsTheMarkAndTheViewAndDoesNotWrap) {
  TStore store({"target", "x", "target"});
  ASSERT_EQ(store.Finder.Find("target"), 1);
  ASSERT_EQ(store.Finder.FindNext("target"), 1);
  ASSERT_EQ(store.Finder.LastHitLine(), 2);
  store.Screen.TakeDamage();
  store.Shown.clear();
  for (const char* text : {"target", "missing"}) {
    EXPECT_EQ(store.Finder.FindNext(text), 0);
    EXPECT_EQ(store.FindMark(), (TInts{2, 1, 6}));
  }
  EXPECT_TRUE(store.Shown.empty() && store.Screen.TakeDamage().Empty());
}

TEST(Find, PreviousFindsTheSecondOfTwoFromAfterIt) {
  TStore store({"first", "id 17 and id 18 here", "last"});
  store.Screen.SetCursor(1, 2);  // the screen's row 2 is store line 1 while the store is short
  store.Screen.Rows = 3;
  store.Finder.FindStartCursor = true;
  EXPECT_EQ(store.Finder.Find("id"), 1);
  EXPECT_EQ(store.Finder.FindPrevious("id 1"), 11);
  EXPECT_EQ(store.FindMark(), (TInts{1, 11, 14}));
  EXPECT_EQ(store.Finder.FindPrevious("id 1"), 1);
  EXPECT_EQ(store.Finder.FindPrevious("id 1"), 0);
}

TEST(Find, FromTheCursorLineSkipsWhatLiesAbove) {
  std::vector<std::string> lines(30, "filler");
  lines[3] = "wanted";
  lines[20] = "  wanted";
  TStore store(lines);
  store.Screen.SetCursor(1, 10);  // row 10 of 24 is store line 30 - 24 + 9 = 15
  store.Finder.FindStartCursor = true;
  EXPECT_EQ(store.Hit(store.Finder.Find("wanted")), (TInts{3, 20}));
  store.Finder.FindStartCursor = false;
  EXPECT_EQ(store.Hit(store.Finder.Find("wanted")), (TInts{1, 3}));
}

TEST(Find, AStoreClearedUnderTheLastHitStartsAgain) {
  TStore store({"x", "x", "x"});
  ASSERT_EQ(store.Finder.Find("x"), 1);
  ASSERT_EQ(store.Finder.FindNext("x"), 1);
  ASSERT_EQ(store.Finder.FindNext("x"), 1);
  store.Screen.Clear();
  store.Screen.AddLine("  x", 0, false);
  EXPECT_EQ(store.Hit(store.Finder.FindNext("x")), (TInts{3, 0}));
  EXPECT_EQ(store.Finder.FindPrevious("x"), 0);
}

// ---------------------------------------------------------------------------
// Requests from the dialog and the menu

TEST(FindRequest, ReportsSearchingThenTheResultWithTheStoredOptions) {
  TStore store({"Alpha", "alpha"});
  std::vector<int> states;
  const auto report = [&](int state) { states.push_back(state); };
  store.Finder.SearchText = "alpha";
  store.Finder.SearchCaseSensitive = true;
  store.Finder.HandleRequest(frFind, report);
  EXPECT_EQ(states, (TInts{fsSearching, fsFound}));
  EXPECT_EQ(std::pair(store.Finder.LastHitLine(), store.Finder.FindCaseSensitive), std::pair(1, true));
  states.clear();
  store.Finder.HandleRequest(frFindNext, report);
  EXPECT_EQ(states, (TInts{fsSearching, fsNotFound}));
  states.clear();
  store.Finder.SearchCaseSensitive = false;
  store.Finder.HandleRequest(frFindPrevious, report);
  EXPECT_EQ(states, (TInts{fsSearching, fsFound}));
  EXPECT_EQ(std::pair(store.Finder.LastHitLine(), store.Finder.Busy), std::pair(0, false));
}

TEST(FindRequest, ARequestWhileOneRunsDoesNothing) {
  TStore store({"a", "a"});
  store.Finder.SearchText = "a";
  std::vector<int> states;
  store.Finder.HandleRequest(frFind, [&](int state) {
    states.push_back(state);
    if (state == fsSearching) store.Finder.HandleRequest(frFindNext, [&](int s) { states.push_back(10 + s); });
  });
  EXPECT_EQ(states, (TInts{fsSearching, fsFound}));
  EXPECT_EQ(store.Finder.LastHitLine(), 0);
  store.Finder.HandleRequest(7, [&](int s) { states.push_back(20 + s); });
  EXPECT_EQ(states.size(), 2u);
}

TEST(Find, LinesOfAnEmptiedBackingFileAreStillFound) {
  TTempDir dir;
  TStore store({});
  const std::string name = dir.file("screen.sbf");
  WriteFileBytes(name, "needle one\r\nneedle two\r\n");
  store.Screen.FileName = name;
  store.Screen.Medium = TBrowse::mtDiskReadOnly;
  ASSERT_EQ(store.Screen.OpenFile(), 0);
  ASSERT_EQ(store.Screen.LoadFile(), 0);
  WriteFileBytes(name, "");  // cut short under the open store
  store.Screen.AddLine("a needle in memory", 0, false);
  EXPECT_EQ(store.Hit(store.Finder.Find("two")), (TInts{8, 1}));
  // Another text searches backward from line 0.
  EXPECT_EQ(store.Hit(store.Finder.FindPrevious("needle")), (TInts{1, 0}));
}
