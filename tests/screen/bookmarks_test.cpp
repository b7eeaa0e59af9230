#include "screen/bookmarks.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "screen/failures.h"
#include "screen/store.h"
#include "support/testing.h"

namespace {
constexpr TColor kFore = colors::Yellow;
constexpr TColor kBack = colors::Green;

struct TGrid {
  TBrowse Screen;
  TBookmarks Bookmarks{Screen};
  std::vector<int> Centred;
  int Changes = 0;
  explicit TGrid(int lines) {
    for (int i = 0; i < lines; ++i) Screen.AddLine("line " + std::to_string(i) + " text  and more   ", 0, false);
    Bookmarks.CentreLine = [this](int line) { Centred.push_back(line); };
    Bookmarks.OnChanged = [this] { ++Changes; };
  }
  // The selection as the view makes it: from (first, left) to (last, right).
  void Select(int first, int left, int last, int right) {
    Screen.SetMarkTop(first, left, 2);
    Screen.SetMarkBottom(last, right, 2);
    Screen.Marks.Get(2)->Anchor = left;
  }
  // Selects and makes a bookmark of the selection.
  bool Add(const std::string& name, int first, int left, int last, int right, TColor fore = kFore) {
    Select(first, left, last, right);
    return Bookmarks.AddBookmark(name, fore, kBack);
  }
  int UserSlot(int line) const { return Screen.GetMarkSlot(line, 5); }
  std::vector<int> UserSlots() const {
    std::vector<int> slots;
    for (int i = 0; i < Screen.Count(); ++i) slots.push_back(UserSlot(i));
    return slots;
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (int row = 2; row <= Bookmarks.RowCount(); ++row) names.push_back(Bookmarks.Row(row).Name);
    return names;
  }
};

using TInts = std::vector<int>;
using TNames = std::vector<std::string>;
}  // namespace

// Row 1 shows the selection, cut after its end column; without one a
// bookmark changes nothing.
TEST(SelectionRow, OneLineIsCutAfterTheEndColumnAndNoSelectionIsNoBookmark) {
  TGrid grid(4);
  EXPECT_FALSE(grid.Bookmarks.AddBookmark("none", kFore, kBack));
  EXPECT_EQ(grid.Bookmarks.RowCount(), 1);
  EXPECT_EQ(grid.UserSlots(), (TInts{0, 0, 0, 0}));
  EXPECT_EQ(grid.Changes, 0);
  EXPECT_EQ(grid.Screen.Marks.Get(5), nullptr);
  grid.Select(1, 3, 1, 11);  // "line 1 text  and more   "
  EXPECT_EQ(grid.Bookmarks.SelectionRow().Content, "ne 1 text");
  grid.Screen.Marks.Free(2);
  grid.Select(1, 12, 1, 13);  // blanks only
  EXPECT_EQ(grid.Bookmarks.SelectionRow().Content, "");
  EXPECT_EQ(grid.Bookmarks.SelectionRow().LineNumber, "1");
}

TEST(AddBookmark, TwoSelectedLinesTakeTheColoursAndTheGridGainsARow) {
  TGrid grid(5);
  grid.Select(1, 6, 2, 4);
  grid.Screen.TakeDamage();
  ASSERT_TRUE(grid.Bookmarks.AddBookmark("link up", kFore, kBack));

  EXPECT_EQ(grid.UserSlots(), (TInts{0, 5, 5, 0, 0}));
  const TMarkAttributes* mark = grid.Screen.Marks.Get(5);
  ASSERT_NE(mark, nullptr);
  EXPECT_EQ(std::tuple(mark->Type, mark->Foreground, mark->Background, mark->Name, mark->Anchor),
            std::tuple(4, kFore, kBack, std::string("link up"), 6));
  EXPECT_EQ(std::pair(grid.Screen.MarkStartColumn(1, 5), grid.Screen.MarkEndColumn(2, 5)), std::pair(6, 4));
  // The selection is gone: its slots, its record and row 1.
  EXPECT_FALSE(grid.Screen.HasMark(1, 2) || grid.Screen.HasMark(2, 2) || grid.Screen.Marks.Get(2)->Placed());
  EXPECT_EQ(grid.Bookmarks.Row(1).Name, "No Marked Lines");
  ASSERT_EQ(grid.Bookmarks.RowCount(), 2);
  const TBookmarkRow row = grid.Bookmarks.Row(2);
  EXPECT_EQ(std::tuple(row.LineNumber, row.Name, row.Content),
            std::tuple(std::string("1"), std::string("link up"), std::string("1 text  and more")));
  EXPECT_EQ(grid.Changes, 1);
  const TScreenDamage damage = grid.Screen.TakeDamage();
  EXPECT_LE(damage.FirstLine, 1);
  EXPECT_GE(damage.LastLine, 2);
}

TEST(DeleteBookmark, TheFirstRowGoesRowsMoveUpAndItsLinesLoseTheColours) {
  TGrid grid(8);
  ASSERT_TRUE(grid.Add("one", 1, 1, 2, 5));
  ASSERT_TRUE(grid.Add("two", 4, 1, 4, 5));
  ASSERT_TRUE(grid.Add("three", 6, 1, 7, 5));
  ASSERT_EQ(grid.UserSlots(), (TInts{0, 5, 5, 0, 6, 0, 7, 7}));

  grid.Bookmarks.DeleteBookmark(2);
  EXPECT_EQ(grid.Names(), (TNames{"two", "three"}));
  EXPECT_EQ(grid.Bookmarks.Row(2).LineNumber, "4");
  EXPECT_EQ(grid.UserSlots(), (TInts{0, 0, 0, 0, 6, 0, 7, 7}));
  EXPECT_EQ(grid.Screen.Marks.Get(5)->Type, 0);
  EXPECT_EQ(grid.Changes, 4);

  // The freed number is the next bookmark's.
  ASSERT_TRUE(grid.Add("again", 0, 1, 0, 3));
  EXPECT_EQ(grid.UserSlot(0), 5);
}

TEST(DeleteBookmark, RowOneAndRowsOutsideTheGridChangeNothing) {
  TGrid grid(4);
  ASSERT_TRUE(grid.Add("kept", 1, 1, 1, 5));
  grid.Select(1, 1, 1, 3);  // row 1 now shows line 1 too
  const int changes = grid.Changes;
  grid.Bookmarks.DeleteBookmark(1);
  grid.Bookmarks.DeleteBookmark(0);
  grid.Bookmarks.DeleteBookmark(3);
  EXPECT_EQ(grid.Names(), (TNames{"kept"}));
  EXPECT_EQ(grid.UserSlot(1), 5);
  EXPECT_EQ(grid.Changes, changes);
  EXPECT_EQ((std::vector<bool>{grid.Bookmarks.CanDelete(1), grid.Bookmarks.CanDelete(2), grid.Bookmarks.CanDelete(3)}),
            (std::vector<bool>{false, true, false}));
}

// A line holds one user mark: a bookmark over another's lines takes them, and
// deleting either gives back what the other still covers.
TEST(DeleteBookmark, OverlappingBookmarksEachRemoveTheirOwn) {
  TGrid grid(6);
  ASSERT_TRUE(grid.Add("wide", 2, 1, 4, 5));
  ASSERT_TRUE(grid.Add("narrow", 2, 3, 2, 6, colors::Red));
  ASSERT_TRUE(grid.Add("over", 4, 1, 5, 5));
  ASSERT_EQ(grid.UserSlots(), (TInts{0, 0, 6, 5, 7, 7}));
  grid.Bookmarks.DeleteBookmark(4);  // "over": line 4 is the wide one's again
  EXPECT_EQ(grid.UserSlots(), (TInts{0, 0, 6, 5, 5, 0}));
  // Deleting the wide one leaves the narrow one's line as it is.
  grid.Bookmarks.DeleteBookmark(2);
  EXPECT_EQ(grid.UserSlots(), (TInts{0, 0, 6, 0, 0, 0}));
  EXPECT_EQ(grid.Screen.Marks.Get(6)->Name, "narrow");
  grid.Bookmarks.DeleteBookmark(2);
  EXPECT_EQ(grid.UserSlots(), (TInts{0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(grid.Bookmarks.RowCount(), 1);
}

TEST(Jump, CentresTheLineOfARowThatHoldsOne) {
  TGrid grid(50);
  ASSERT_TRUE(grid.Add("far", 42, 1, 43, 5));
  EXPECT_EQ(std::pair(grid.Bookmarks.Jump(2), grid.Bookmarks.Jump(1)), std::pair(42, -1));  // no selection yet
  grid.Select(7, 1, 7, 2);
  EXPECT_EQ(std::pair(grid.Bookmarks.Jump(1), grid.Bookmarks.Jump(9)), std::pair(7, -1));
  EXPECT_EQ(grid.Centred, (TInts{42, 7}));
}

TEST(AddBookmark, WhenEveryMarkNumberIsTakenTheSelectionStays) {
  TGrid grid(300);
  for (int i = 0; i < 251; ++i) {
    ASSERT_TRUE(grid.Add("b" + std::to_string(i), i, 1, i, 4)) << i;
  }
  EXPECT_EQ(grid.UserSlot(250), 255);
  grid.Select(260, 1, 261, 4);
  EXPECT_THROW(grid.Bookmarks.AddBookmark("one too many", kFore, kBack), EOutOfResources);
  EXPECT_TRUE(grid.Screen.HasMark(260, 2));
  EXPECT_EQ(std::pair(grid.Bookmarks.Row(1).LineNumber, grid.Bookmarks.RowCount()),
            std::pair(std::string("260"), 252));
}

TEST(AddBookmark, ALoadedLineKeepsItsTextWhenTheBackingFileIsEmptied) {
  TTempDir dir;
  TBrowse screen;
  TBookmarks bookmarks(screen);
  const std::string name = dir.file("screen.sbf");
  WriteFileBytes(name, "kept on disk\r\n");
  screen.FileName = name;
  screen.Medium = TBrowse::mtDiskReadOnly;
  ASSERT_EQ(screen.OpenFile(), 0);
  ASSERT_EQ(screen.LoadFile(), 0);
  screen.SetMarkTop(0, 1, 2);
  screen.SetMarkBottom(0, 4, 2);
  WriteFileBytes(name, "");
  EXPECT_EQ(bookmarks.SelectionRow().Content, "kept");
  ASSERT_TRUE(bookmarks.AddBookmark("still there", kFore, kBack));
  const TBookmarkRow row = bookmarks.Row(2);
  EXPECT_EQ(std::pair(row.LineNumber, row.Content), std::pair(std::string("0"), std::string("kept")));
}
