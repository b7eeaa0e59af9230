#include "screen/selection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/desktop.h"
#include "support/scripteddesktop.h"

namespace {
// A store of the given lines (attribute 0).
void Fill(TBrowse& store, const std::vector<std::string>& lines) {
  for (const std::string& line : lines) store.AddLine(line, 0, false);
}

std::string Copied(TBrowse& store) {
  TScriptedDesktop desktop;
  CopySelection(store, desktop);
  return desktop.Clipboard.value_or("<nothing>");
}
}  // namespace

// A press, one drag and a release; columns from 0.
TEST(SelectionText, DragsCopyFromTheirFirstToTheirLastCellWhicheverWayTheyGo) {
  struct TCase {
    const char* Name;
    std::vector<std::string> Lines;
    int PressLine, PressColumn, MoveLine, MoveColumn;
    std::string Copied;
  } cases[] = {
      {"one line", {"alpha beta gamma", "second"}, 0, 6, 0, 9, "beta\r\n"},
      {"one line leftwards", {"alpha beta gamma"}, 0, 9, 0, 6, "beta\r\n"},
      {"a click alone", {"xyz"}, 0, 1, 0, 1, "y\r\n"},
      {"upwards", {"0123456789", "abcdefghij"}, 1, 2, 0, 4, "456789\r\nabc\r\n"},
      {"middle lines whole, trailing blanks gone", {"first line   ", "  middle  text     ", "", "last line here"},
       0, 6, 3, 3, "line\r\n  middle  text\r\n\r\nlast\r\n"},
      {"columns beyond the text", {"short", "x"}, 0, 40, 1, 100, "\r\nx\r\n"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TBrowse store;
    Fill(store, c.Lines);
    TMouseMarking mouse(store);
    mouse.Press(c.PressLine, c.PressColumn, false);
    mouse.Move(c.MoveLine, c.MoveColumn);
    mouse.Release();
    EXPECT_TRUE(HasSelection(store));
    EXPECT_EQ(Copied(store), c.Copied);
  }
}

TEST(SelectionText, ShrinkingADragDropsTheLinesLeft) {
  TBrowse store;
  Fill(store, {"aaaa", "bbbb", "cccc", "dddd"});
  TMouseMarking mouse(store);
  mouse.Press(0, 0, false);
  mouse.Move(3, 1);
  mouse.Move(1, 1);
  EXPECT_EQ(Copied(store), "aaaa\r\nbb\r\n");
  EXPECT_FALSE(store.HasMark(2, kSelectionMark) || store.HasMark(3, kSelectionMark));
}

// Upwards from a click, also whole lines; without a selection one whole line.
TEST(ShiftClick, MarksWholeLines) {
  TBrowse store;
  Fill(store, {"zero", "one", "two", "three"});
  TMouseMarking mouse(store);
  mouse.Press(1, 2, true);
  EXPECT_EQ(Copied(store), "one\r\n");
  mouse.Release();
  mouse.Press(3, 2, false);
  mouse.Release();
  mouse.Press(1, 2, true);
  mouse.Move(1, 0);  // jitter after a Shift-click keeps the whole lines
  EXPECT_EQ(Copied(store), "one\r\ntwo\r\nthree\r\n");
}

TEST(SelectAll, ALargeStoreCopiesEveryLineWithProgressAndPumping) {
  TBrowse store;
  const int lines = 100000;
  for (int i = 0; i < lines; ++i) store.AddLine("line " + std::to_string(i) + "   ", 0, false);
  MarkAll(store, kSelectionMark);
  TScriptedDesktop desktop;
  CopySelection(store, desktop);
  ASSERT_TRUE(desktop.Clipboard.has_value());
  const std::string& text = *desktop.Clipboard;
  EXPECT_EQ(text.compare(0, 16, "line 0\r\nline 1\r\n"), 0);
  EXPECT_EQ(text.substr(text.size() - 12), "line 99999\r\n");
  std::size_t expected = 0;
  for (int i = 0; i < lines; ++i) expected += 5 + std::to_string(i).size() + 2;
  EXPECT_EQ(text.size(), expected);
  EXPECT_EQ(desktop.ProgressCaptions, std::vector<std::string>{"Copying"});
  EXPECT_EQ(desktop.PendingPumps, lines / 251);
  EXPECT_EQ(desktop.ProgressEnded, 1);
}

TEST(SelectAll, CancellingTheCopyKeepsWhatWasGathered) {
  TBrowse store;
  for (int i = 0; i < 1000; ++i) store.AddLine("x", 0, false);
  MarkAll(store, kSelectionMark);
  TScriptedDesktop desktop;
  desktop.CancelProgressAt = 2;  // at line 502
  CopySelection(store, desktop);
  ASSERT_TRUE(desktop.Clipboard.has_value());
  EXPECT_EQ(desktop.Clipboard->size(), 502u * 3);
}

TEST(Marking, ClearAndUnmarkFreeTheSelection) {
  TBrowse store;
  Fill(store, {"a", "b", "c"});
  MarkAll(store, kSelectionMark);
  EXPECT_TRUE(HasSelection(store));
  EXPECT_EQ(MarkFirst(store, kSelectionMark), std::make_pair(0, 0));
  const TLineSpan cleared = ClearMark(store, kSelectionMark);
  EXPECT_EQ(std::pair(cleared.First, cleared.Last), std::pair(0, 2));
  EXPECT_FALSE(HasSelection(store));
  for (int line = 0; line < 3; ++line) EXPECT_FALSE(store.HasMark(line, kSelectionMark));
  EXPECT_EQ(MarkFirst(store, kSelectionMark), std::make_pair(-1, -1));

  MarkLine(store, 1, kFindMark);
  UnmarkAll(store, kFindMark);
  EXPECT_FALSE(store.HasMark(1, kFindMark));
}

TEST(Marking, ANewClickClearsTheOldSelectionsLines) {
  TBrowse store;
  Fill(store, {"a", "b", "c", "d"});
  TMouseMarking mouse(store);
  mouse.Press(0, 0, false);
  mouse.Move(2, 0);
  mouse.Release();
  const TLineSpan changed = mouse.Press(3, 0, false);
  for (int line = 0; line < 3; ++line) EXPECT_FALSE(store.HasMark(line, kSelectionMark)) << line;
  EXPECT_TRUE(store.HasMark(3, kSelectionMark));
  EXPECT_EQ(std::pair(changed.First, changed.Last), std::pair(0, 3));
}

TEST(Marking, DragSpanCoversOnlyTheLinesThatChanged) {
  TBrowse store;
  for (int i = 0; i < 50; ++i) store.AddLine("line", 0, false);
  TMouseMarking mouse(store);
  mouse.Press(10, 0, false);
  mouse.Move(20, 3);
  const TLineSpan grown = mouse.Move(22, 3);
  EXPECT_EQ(std::pair(grown.First, grown.Last), std::pair(20, 22));
  const TLineSpan sameCell = mouse.Move(22, 3);
  EXPECT_TRUE(sameCell.Empty());
}

// Selection and find on one cell show the overlap mark; a user mark comes
// first; an unmarked line is quick.
TEST(MarkColours, OverlapUserMarksAndUnmarkedLines) {
  TBrowse store;
  Fill(store, {"0123456789", "a", "b"});
  TMouseMarking mouse(store);
  mouse.Press(0, 2, false);  // columns 3..6 selected
  mouse.Move(0, 5);
  PlaceMark(store, kFindMark, 0, 0, 5, 8);  // columns 5..8 found
  std::uint8_t marks[kLineCells];
  ASSERT_TRUE(LineMarkColours(store, 0, marks));
  const int s = kSelectionMark, o = kOverlapMark, f = kFindMark;
  EXPECT_EQ(std::vector<int>(marks + 1, marks + 9), (std::vector<int>{0, s, s, o, o, f, f, 0}));  // columns 2..9
  const TMarkAttributes& overlap = *store.Marks.Get(kOverlapMark);
  EXPECT_EQ(std::pair(overlap.Foreground, overlap.Background), std::pair(colors::White, colors::Maroon));
  const int bookmark = store.Marks.NewUserMark();
  MarkLine(store, 1, bookmark);
  ASSERT_TRUE(LineMarkColours(store, 1, marks));
  EXPECT_EQ((std::vector<int>{marks[0], marks[131]}), std::vector<int>(2, bookmark));
  EXPECT_FALSE(LineMarkColours(store, 2, marks));
  EXPECT_EQ(marks[0], 0);
}

TEST(Marking, OutOfRangeLinesAndAnEmptyStoreAreHarmless) {
  TBrowse store;
  TMouseMarking mouse(store);
  EXPECT_TRUE(mouse.Press(5, 5, false).Empty());
  EXPECT_TRUE(MarkAll(store, kSelectionMark).Empty());
  EXPECT_FALSE(HasSelection(store));
  Fill(store, {"only"});
  // Without a selection the clipboard stays as it was.
  TScriptedDesktop desktop;
  desktop.Clipboard = "before";
  CopySelection(store, desktop);
  EXPECT_EQ(desktop.Clipboard, "before");
  EXPECT_TRUE(desktop.ProgressCaptions.empty());
  mouse.Press(99, 500, false);  // clamped to the last line and column 132
  EXPECT_EQ(MarkFirst(store, kSelectionMark), std::make_pair(0, 132));
  EXPECT_EQ(Copied(store), "\r\n");
}
