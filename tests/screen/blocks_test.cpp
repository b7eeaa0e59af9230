// The scroll-back once its old blocks are compressed: every line, run list,
// state, offset and mark reads back as it was written, across block edges
// and after rewrites; find, bookmarks, save and load work on packed lines;
// the store's accounting matches the heap it takes.
#include "screen/blocks.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <string>
#include <vector>

#include "screen/bookmarks.h"
#include "screen/screenfind.h"
#include "screen/store.h"
#include "support/testing.h"

namespace {
// What one line should hold, kept beside the store.
struct TModelLine {
  std::string Text;
  std::uint16_t Cells[kLineCells];
  int State = lsAdded;
  std::int32_t Offset = -1;
};

// Text of line i: hex dumps (also cut short, lower case and touching the
// mark byte), the mark byte alone, blanks at the end, empty and longest lines.
std::string SampleText(int i) {
  switch (i % 7) {
    case 0: return "  H'" + std::to_string(i) + " 3F A2 07 FE 00 11 22";
    case 1: return "line " + std::to_string(i) + " \xFE mark byte \xFE";
    case 2: return "";
    case 3: return " 3f a2 07 lower case stays text " + std::to_string(i);
    case 4: return std::string(static_cast<std::size_t>(100 + i % 156), static_cast<char>('A' + i % 26));
    case 5: return "trailing blanks " + std::to_string(i) + "      ";
    default: return " AB CD EF 01 23 45 67 89 AB CD EF 01 23 45 67 89 AB CD E";
  }
}

// Blocks more than this behind the newest line are packed.
constexpr int kTestWarmLines = 1024;

class TModelStore {
 public:
  TBrowse Store;
  std::vector<TModelLine> Lines;
  TModelStore() { Store.WarmLines = kTestWarmLines; }

  // A line added, or loaded from disk when offset is not -1.
  void Add(const std::string& text, int attribute, std::int32_t offset = -1) {
    if (offset < 0) Store.AddLine(text, attribute, false);
    else Store.AddDiskLine(text, offset, attribute);
    TModelLine line;
    line.Text = text.substr(0, TBrowse::kMaxLineLength);
    std::fill_n(line.Cells, kLineCells, static_cast<std::uint16_t>(attribute));
    line.State = offset < 0 ? lsAdded : lsOnDisk;
    line.Offset = offset;
    Lines.push_back(line);
  }
  void AddSamples(int count) {
    for (int i = 0; i < count; ++i) Add(SampleText(static_cast<int>(Lines.size())), i % 5);
  }
  void SetAttribute(int line, int column, int attribute) {
    Store.SetAttributeAt(line, column, attribute);
    Lines[line].Cells[column - 1] = static_cast<std::uint16_t>(attribute);
  }
  // ReplaceLine drops the file offset, SetLineText keeps it.
  void Replace(int line, const std::string& text, bool keepOffset = false) {
    if (keepOffset) Store.SetLineText(line, text);
    else Store.ReplaceLine(line, text);
    Lines[line].Text = text;
    Lines[line].State = lsRewritten;
    if (!keepOffset) Lines[line].Offset = -1;
  }
  // Every line against the model; the first difference fails.
  void Check(const char* when) const {
    ASSERT_EQ(Store.Count(), static_cast<int>(Lines.size())) << when;
    std::string text;
    std::uint16_t cells[kLineCells];
    for (int i = 0; i < Store.Count(); ++i) {
      ASSERT_TRUE(Store.GetLine(i, text, cells));
      ASSERT_EQ(text, Lines[i].Text) << when << ": line " << i;
      ASSERT_TRUE(std::equal(cells, cells + kLineCells, Lines[i].Cells)) << when << ": line " << i;
      ASSERT_EQ(Store.GetLineState(i), Lines[i].State) << when << ": line " << i;
      ASSERT_EQ(Store.GetFileOffset(i), Lines[i].Offset) << when << ": line " << i;
    }
  }
};

int PackedBlocks(const TBrowse& store) {
  return static_cast<int>(store.Figures().PackedLines / kBlockLines);
}
}  // namespace

TEST(Serialization, RecordsAndTextsRoundTripIncludingHexRunsAndTheMarkByte) {
  TLineSegment segment;
  std::vector<std::string> texts;
  for (int i = 0; i < 300; ++i) texts.push_back(SampleText(i));
  // Runs longer than one count byte holds, and a triple cut by the line's end.
  std::string longRun;
  for (int i = 0; i < 84; ++i) longRun += " 5A";
  texts.push_back(longRun + longRun.substr(0, 2));
  texts.push_back(std::string(1, '\xFE'));
  for (std::size_t i = 0; i < texts.size(); ++i) {
    TLineRecord r;
    r.TextPos = static_cast<std::uint32_t>(segment.Text.size());
    r.Stored = static_cast<std::uint8_t>(std::min<std::size_t>(texts[i].size(), 255));
    r.Length = static_cast<std::uint8_t>(std::min<std::size_t>(texts[i].size() + i % 3, 255));
    r.State = static_cast<std::uint8_t>(i % 3);
    r.Runs = i % 2 ? TRunPool::Single(static_cast<std::uint16_t>(i)) : static_cast<std::uint32_t>(i * 7);
    r.FileOffset = i % 4 == 0 ? -1 : static_cast<std::int32_t>(i * 81 + 3);
    segment.Text.append(texts[i], 0, r.Stored);
    segment.Records.push_back(r);
  }
  std::string raw;
  SerializeSegment(segment, raw);
  // The long hex runs went in as bytes: the serialised form is smaller than the text.
  EXPECT_LT(raw.size(), segment.Text.size() + segment.Records.size() * 11);
  TBlockCodec codec;
  const TPackedBlock packed = codec.Pack(raw);
  TLineSegment back;
  ASSERT_TRUE(codec.Unpack(packed, back));
  ASSERT_EQ(back.Records.size(), segment.Records.size());
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const TLineRecord& a = segment.Records[i];
    const TLineRecord& b = back.Records[i];
    EXPECT_EQ(std::tuple(std::string(back.TextOf(b), b.Stored), b.Length, b.State, b.Runs, b.FileOffset),
              std::tuple(std::string(segment.TextOf(a), a.Stored), a.Length, a.State, a.Runs, a.FileOffset))
        << i;
  }
  // Cut short or lengthened, the bytes are refused rather than misread.
  EXPECT_FALSE(DeserializeSegment(std::string_view(raw).substr(0, raw.size() - 1), back));
  EXPECT_FALSE(DeserializeSegment(raw + "x", back));
  EXPECT_FALSE(DeserializeSegment("", back));
}

TEST(PackedStore, LinesRunsStatesAndOffsetsReadBackAcrossBlockEdges) {
  TModelStore m;
  m.AddSamples(3 * kBlockLines + 1500);
  // Loaded lines carry offsets and their state; attributes vary inside lines.
  for (int i = 0; i < 40; ++i) m.Add("disk line " + std::to_string(i), 2, 1000 + i * 13);
  for (const int line : {0, 1, kBlockLines - 1, kBlockLines, 2 * kBlockLines + 5})
    for (const int column : {1, 60, 132}) m.SetAttribute(line, column, 300 + column);
  m.Replace(kBlockLines + 1, "rewritten before packing");
  m.AddSamples(kBlockLines);
  m.Store.Settle();
  EXPECT_GE(PackedBlocks(m.Store), 3);
  m.Check("packed");
  // Reading them again after the unpacking cache moved on reads the same.
  m.Check("again");
}

TEST(PackedStore, OldLinesRewrittenAfterPackingKeepTheWrite) {
  TModelStore m;
  m.AddSamples(8 * kBlockLines);
  m.Store.Settle();
  ASSERT_EQ(PackedBlocks(m.Store), 7);
  // One write in each of the packed blocks: more blocks than stay warm after a write.
  for (int block = 0; block < 7; ++block) {
    const int first = block * kBlockLines;
    m.Replace(first, "first of block " + std::to_string(block));
    m.Replace(first + kBlockLines - 1, "last of block", true);
    m.SetAttribute(first + 100, 7, 42);
  }
  m.Check("rewritten");
  m.Store.Settle();
  EXPECT_GE(PackedBlocks(m.Store), 7 - 4);
  m.Check("packed again");
  // A write through the screen-row functions to a line fetched from a packed block.
  TBlock from{1, 5, 10, 5};
  TBlock to{1, m.Store.Count() - 1, 10, m.Store.Count() - 1};
  m.Store.CopyBlock(from, to, false, false);
  const std::string copied = m.Lines[5].Text.substr(0, 10) + std::string(10 - std::min<std::size_t>(10, m.Lines[5].Text.size()), ' ');
  EXPECT_EQ(m.Store.GetLineText(m.Store.Count() - 1).substr(0, 10), copied);
}

TEST(PackedStore, MarksAndBookmarksOverABlockEdge) {
  TBrowse store;
  store.WarmLines = kTestWarmLines;
  for (int i = 0; i < 3 * kBlockLines; ++i) store.AddLine("line " + std::to_string(i), 0, false);
  store.Settle();
  ASSERT_GE(PackedBlocks(store), 1);
  const int edge = kBlockLines;
  TBookmarks bookmarks(store);
  // Both blocks unpacked for reading first, so the cache holds the same before and after.
  store.GetLineText(edge - 2);
  store.GetLineText(edge + 1);
  const std::int64_t unmarked = store.Figures().ResidentBytes;
  store.SetMarkTop(edge - 2, 3, 2);
  store.SetMarkBottom(edge + 1, 4, 2);
  store.Marks.Get(2)->Anchor = 3;
  EXPECT_EQ(bookmarks.SelectionRow().Content, "ne 2046");
  ASSERT_TRUE(bookmarks.AddBookmark("edge", colors::Yellow, colors::Green));
  for (int line = edge - 3; line <= edge + 2; ++line) {
    const bool inside = line >= edge - 2 && line <= edge + 1;
    EXPECT_EQ(store.GetMarkSlot(line, 5), inside ? 5 : 0) << line;
    EXPECT_FALSE(store.HasMark(line, 2)) << line;
  }
  EXPECT_EQ((std::vector<int>{store.MarkStartColumn(edge - 2, 5), store.MarkEndColumn(edge + 1, 5),
                              store.MarkEndColumn(edge, 5)}),
            (std::vector<int>{3, 4, 132}));
  // Slots cost memory only while set: two blocks carry them.
  EXPECT_EQ(store.Figures().ResidentBytes - unmarked, 2 * 4 * kBlockLines);
  bookmarks.DeleteBookmark(2);
  for (int line = edge - 2; line <= edge + 1; ++line) EXPECT_EQ(store.GetMarkSlot(line, 5), 0) << line;
  EXPECT_EQ(store.Figures().ResidentBytes, unmarked);
  // The texts were never touched by the marks.
  EXPECT_EQ(store.GetLineText(edge), "line 2048");
}

TEST(PackedStore, FindHitsEitherSideOfABlockEdgeInBothDirections) {
  TBrowse store;
  store.WarmLines = kTestWarmLines;
  for (int i = 0; i < 4 * kBlockLines; ++i) {
    std::string text = "plain " + std::to_string(i);
    if (i == kBlockLines - 1 || i == kBlockLines || i == 3 * kBlockLines + 7) text += " a Needle here";
    store.AddLine(text, 0, false);
  }
  // A pattern ending in blanks matches into the blanks a terminal line is padded with.
  store.SetLineText(100, "ends with the word" + std::string(20, ' '));
  store.Settle();
  ASSERT_GE(PackedBlocks(store), 2);
  TScreenFind find(store);
  const auto hit = [&](int column) { return std::vector<int>{column, find.LastHitLine()}; };
  // "plain NNNN a " leaves the hit at column 14 on each of the three lines.
  EXPECT_EQ(hit(find.Find("needle")), (std::vector<int>{14, kBlockLines - 1}));
  EXPECT_EQ(hit(find.FindNext("needle")), (std::vector<int>{14, kBlockLines}));
  EXPECT_EQ(hit(find.FindNext("needle")), (std::vector<int>{14, 3 * kBlockLines + 7}));
  EXPECT_EQ(find.FindNext("needle"), 0);
  EXPECT_EQ(hit(find.FindPrevious("needle")), (std::vector<int>{14, kBlockLines}));
  EXPECT_EQ(hit(find.FindPrevious("needle")), (std::vector<int>{14, kBlockLines - 1}));
  EXPECT_EQ(find.FindPrevious("needle"), 0);
  find.FindCaseSensitive = true;
  EXPECT_EQ(find.Find("needle"), 0);
  EXPECT_EQ(hit(find.Find("word   ")), (std::vector<int>{15, 100}));
  EXPECT_EQ(find.Find("plain 8191 "), 0);
}

TEST(PackedStore, SaveAndLoadKeepEveryLineIncludingLongOnesCut) {
  TTempDir dir;
  TBrowse store;
  store.WarmLines = kTestWarmLines;
  std::string expected;
  for (int i = 0; i < 3 * kBlockLines + 10; ++i) {
    std::string text = SampleText(i);
    store.AddLine(text, 0, false);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    expected += text + "\r\n";
  }
  store.Settle();
  const std::string name = dir.file("packed.sbf");
  ASSERT_EQ(store.SaveToFile(name), 0);
  EXPECT_EQ(ReadFileBytes(name), expected);
  // Lines of 300 characters come back as 255 and 45, whichever block they fall in.
  std::string wrapped;
  for (int i = 0; i < kBlockLines + 3; ++i) wrapped += std::string(255, 'a' + i % 26) + std::string(45, 'z') + "\n";
  WriteFileBytes(name, wrapped);
  TBrowse loaded;
  loaded.WarmLines = kTestWarmLines;
  loaded.FileName = name;
  ASSERT_EQ(loaded.OpenFile(), 0);
  ASSERT_EQ(loaded.LoadFile(), 0);
  loaded.Settle();
  ASSERT_EQ(loaded.Count(), 2 * (kBlockLines + 3));
  EXPECT_GE(PackedBlocks(loaded), 1);
  for (int i = 0; i < kBlockLines + 3; ++i) {
    const int at = 2 * i;
    ASSERT_EQ(std::tuple(loaded.GetLineText(at), loaded.GetLineText(at + 1), loaded.GetFileOffset(at + 1)),
              std::tuple(std::string(255, 'a' + i % 26), std::string(45, 'z'), i * 301 + 255))
        << i;
  }
  ASSERT_EQ(loaded.SaveToFile(dir.file("again.sbf")), 0);
  std::string cut;
  for (int i = 0; i < kBlockLines + 3; ++i) cut += std::string(255, 'a' + i % 26) + "\r\n" + std::string(45, 'z') + "\r\n";
  EXPECT_EQ(ReadFileBytes(dir.file("again.sbf")), cut);
}

TEST(PackedStore, TheAccountingMatchesTheHeapAndClearGivesItBack) {
  const struct mallinfo2 before = mallinfo2();
  const auto heap = [&] {
    const struct mallinfo2 now = mallinfo2();
    return static_cast<double>(now.uordblks + now.hblkhd) - static_cast<double>(before.uordblks + before.hblkhd);
  };
  {
    TBrowse store;
    store.WarmLines = kTestWarmLines;
    std::int64_t text = 0;
    for (int i = 0; i < 20 * kBlockLines; ++i) {
      const std::string line = SampleText(i);
      text += static_cast<std::int64_t>(line.size());
      store.AddLine(line, i % 3, false);
    }
    store.Settle();
    const TStoreFigures f = store.Figures();
    EXPECT_EQ(f.Lines, 20 * kBlockLines);
    EXPECT_EQ(f.PackedLines, 19 * kBlockLines);
    EXPECT_GT(f.Ratio(), 3.0);
    // What the store says it holds is what the heap lost, within a quarter.
    EXPECT_NEAR(static_cast<double>(f.ResidentBytes), heap(), 0.25 * heap());
    store.Clear();
    EXPECT_EQ(store.Count(), 0);
    EXPECT_EQ(store.Figures().PackedLines, 0);
    // What is left is the compression contexts; the lines took a third of their text at most.
    EXPECT_LT(f.ResidentBytes - store.Figures().ResidentBytes, text / 3);
  }
  EXPECT_LT(heap(), 64 * 1024);
}

TEST(PackedStore, TextViewsOfPackedLinesOutliveReadsOfOtherBlocks) {
  TBrowse store;
  store.WarmLines = kTestWarmLines;
  for (int i = 0; i < 8 * kBlockLines; ++i) store.AddLine("view " + std::to_string(i), 0, false);
  store.Settle();
  char first[TBrowse::kMaxLineLength];
  const std::string_view view = store.GetLineTextView(3, first);
  // Reading a line of every other block turns the unpacking cache over.
  for (int block = 1; block < 8; ++block) store.GetLineText(block * kBlockLines);
  EXPECT_EQ(view, "view 3");
}
