#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdlib>

#include <string>
#include <tuple>
#include <vector>

#include "core/desktop.h"
#include "screen/store.h"
#include "support/scripteddesktop.h"
#include "support/testing.h"

namespace {
// Loads `bytes` as the backing file and returns every line's text.
std::vector<std::string> LoadLines(const std::string& bytes, TBrowse& store, TTempDir& dir) {
  const std::string name = dir.file("screen.sbf");
  WriteFileBytes(name, bytes);
  store.FileName = name;
  store.FileType = TBrowse::ftText;
  store.Medium = TBrowse::mtDiskReadWrite;
  EXPECT_EQ(store.OpenFile(), 0);
  EXPECT_EQ(store.LoadFile(), 0);
  std::vector<std::string> lines;
  for (int i = 0; i < store.Count(); ++i) lines.push_back(store.GetLineText(i));
  return lines;
}

std::vector<std::string> LoadLines(const std::string& bytes) {
  TTempDir dir;
  TBrowse store;
  return LoadLines(bytes, store, dir);
}

using TLines = std::vector<std::string>;
}  // namespace

TEST(LoadFile, EachLineEndEndsExactlyOneLine) {
  EXPECT_EQ(LoadLines("a\r\nb\n\rc\rd\ne"), (TLines{"a", "b", "c", "d", "e"}));
  // A CR after a CR, or an LF after an LF, ends an empty line.
  EXPECT_EQ(LoadLines("a\r\rb\n\nc"), (TLines{"a", "", "b", "", "c"}));
  // CR LF CR LF is two line ends, LF CR LF CR too.
  EXPECT_EQ(LoadLines("a\r\n\r\nb\n\r\n\r"), (TLines{"a", "", "b", ""}));
  EXPECT_EQ(LoadLines("\r\nx\r\n"), (TLines{"", "x"}));
  EXPECT_EQ(LoadLines(""), TLines{});
  // Long lines go on after the 255th character; exactly 255 make one line.
  const std::string line300 = std::string(255, 'a') + std::string(45, 'b');
  EXPECT_EQ(LoadLines(line300 + "\r\n" + std::string(255, 'q') + "\r\nend"),
            (TLines{std::string(255, 'a'), std::string(45, 'b'), std::string(255, 'q'), "end"}));
}

TEST(LoadFile, LinesAreDiskLinesWithOffsetsAndTheLoadingAttribute) {
  TTempDir dir;
  TBrowse store;
  const TLines lines = LoadLines("first\r\nsecond\nthird", store, dir);
  ASSERT_EQ(lines, (TLines{"first", "second", "third"}));
  EXPECT_EQ((std::vector<int>{store.GetFileOffset(0), store.GetFileOffset(1), store.GetFileOffset(2)}),
            (std::vector<int>{0, 7, 14}));
  EXPECT_EQ(store.GetLineState(2), lsOnDisk);
  const TTextAttributes& look = store.GetAttributeRecord(store.GetAttributeAt(1, 1));
  EXPECT_EQ(std::tuple(std::string(look.FontName), look.Size, look.Foreground, look.Background, look.Style),
            std::tuple(std::string("Courier New"), 8, colors::Black, colors::White, 0));
  EXPECT_TRUE(store.TakeDamage().ShowTop);
}

TEST(LoadFile, LineEndsSplitAcrossTheBlockBoundary) {
  // Byte 2048 is the last of the first 2049-byte block.
  const std::string lead = std::string(2000, 'x') + "\r\n" + std::string(46, 'y');  // 2048 bytes
  for (const std::string end : {"\r\n", "\n\r", "\r\r", "\n\n"}) {
    const TLines lines = LoadLines(lead + end + "z");
    TLines expected(7, std::string(255, 'x'));
    expected.insert(expected.end(), {std::string(215, 'x'), std::string(46, 'y')});
    if (end[0] == end[1]) expected.push_back("");
    expected.push_back("z");
    EXPECT_EQ(lines, expected) << int(end[0]) << " " << int(end[1]);
  }
}

TEST(LoadFile, ProgressCanCancelAndServesMessagesEvery201Blocks) {
  TTempDir dir;
  TScriptedDesktop desktop;
  TBrowse store;
  store.Desktop = &desktop;
  std::string bytes;
  for (int i = 0; i < 30000; ++i) bytes += "line of text " + std::to_string(i) + "\r\n";
  // 10 lines of 16 bytes, 90 of 17, 900 of 18, 9000 of 19, 20000 of 20.
  ASSERT_EQ(bytes.size(), 588890u);
  LoadLines(bytes, store, dir);
  EXPECT_EQ(store.Count(), 30000);
  ASSERT_EQ(desktop.ProgressCaptions, std::vector<std::string>{"LOADING"});
  EXPECT_EQ(desktop.ProgressMaximum, 588890);
  EXPECT_EQ(desktop.ProgressPositions.front(), 2049);
  EXPECT_EQ(desktop.ProgressPositions.back(), 588890);
  EXPECT_EQ(desktop.ProgressPositions.size(), 288u);  // blocks of 2049 bytes
  EXPECT_EQ(desktop.PendingPumps, 1);                 // after block 201
  EXPECT_EQ(desktop.ProgressEnded, 1);

  // Cancelled after the third block (6147 bytes): 1690 bytes hold lines 0..99,
  // 247 lines of 18 bytes follow; the line cut by the block end is dropped.
  TBrowse cancelled;
  cancelled.Desktop = &desktop;
  desktop.CancelProgressAt = 3;
  LoadLines(bytes, cancelled, dir);
  EXPECT_EQ(cancelled.Count(), 347);
  EXPECT_EQ(cancelled.GetLineText(346), "line of text 346");
}

TEST(OpenFile, NeedsANameAndReportsTheSystemCode) {
  TTempDir dir;
  TBrowse store;
  // The result and the file state (0 none, 1 read only, 2 read and write).
  const auto open = [&] { return std::vector<int>{store.OpenFile(), store.FileState()}; };
  EXPECT_EQ(open(), (std::vector<int>{-1, 0}));
  EXPECT_EQ(store.LastError, 0u);
  store.FileName = dir.file("missing.sbf");
  EXPECT_EQ(open(), (std::vector<int>{-1, 0}));
  EXPECT_EQ(store.LastError, 2u);  // file not found
  WriteFileBytes(store.FileName, "x");
  store.Medium = TBrowse::mtDiskReadOnly;
  EXPECT_EQ(open(), (std::vector<int>{0, 1}));
  store.Medium = TBrowse::mtDiskReadWrite;
  EXPECT_EQ(open(), (std::vector<int>{0, 2}));
  store.CloseFile();
  EXPECT_EQ(store.FileState(), 0);
}

// Another program empties, shortens or replaces the loaded file (a
// rotation, a second instance): the store keeps every line it loaded.
TEST(DiskLines, AFileChangedByAnotherProcessLeavesTheLoadedLinesReadable) {
  TTempDir dir;
  TBrowse store;
  std::string bytes;
  std::vector<std::string> texts;
  for (int i = 0; i < 6000; ++i) {
    texts.push_back("restored " + std::to_string(i) + std::string(static_cast<std::size_t>(i % 90), '-'));
    bytes += texts.back() + "\r\n";
  }
  store.WarmLines = 1024;  // the older blocks are compressed too
  LoadLines(bytes, store, dir);
  ASSERT_EQ(store.Count(), 6000);
  const std::string name = dir.file("screen.sbf");
  for (const char* change : {"truncate -s 10 ", "truncate -s 0 ", "printf 'other\\n' > "}) {
    const std::string command = std::string(change) + ShellQuoted(name);
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::string text;
    std::uint16_t cells[kLineCells];
    for (int i = 5999; i >= 0; --i) {
      ASSERT_TRUE(store.GetLine(i, text, cells));
      ASSERT_EQ(text, texts[i]) << change << " line " << i;
    }
  }
  // Saving over the changed file writes what the store holds.
  ASSERT_EQ(store.SaveToFile(name), 0);
  EXPECT_EQ(ReadFileBytes(name), bytes);
  store.CloseFile();
  EXPECT_EQ(store.GetLineText(17), texts[17]);
}

// A file of bare line ends: its empty lines must not cost more than a few
// bytes each (the heap of the whole process, worker threads included).
TEST(DiskLines, EmptyLinesCostAFewBytesEach) {
  // Enough for the newest lines, kept uncompressed, to be a small part.
  constexpr int kLines = 4000000;
  TTempDir dir;
  const std::string name = dir.file("empty.sbf");
  WriteFileBytes(name, std::string(kLines, '\n'));
  const struct mallinfo2 before = mallinfo2();
  {
    TBrowse store;
    store.FileName = name;
    ASSERT_EQ(store.OpenFile(), 0);
    ASSERT_EQ(store.LoadFile(), 0);
    ASSERT_EQ(store.Count(), kLines);
    store.Settle();
    const struct mallinfo2 after = mallinfo2();
    const double used = static_cast<double>(after.uordblks + after.hblkhd) -
                        static_cast<double>(before.uordblks + before.hblkhd);
    EXPECT_LT(used / kLines, 4.0) << used << " bytes of heap";
    EXPECT_EQ(store.GetLineText(kLines - 1), "");
    EXPECT_EQ(store.GetLineLength(kLines / 2), 0);
  }
}

TEST(SaveToFile, TrailingBlanksGoAndLinesEndWithCrLf) {
  TTempDir dir;
  TBrowse store;
  store.AddLine("first   ", 0, false);
  store.AddLine(std::string(132, ' '), 0, false);
  store.AddLine("  indented\tkept \t ", 0, false);
  const std::string name = dir.file("out.sbf");
  EXPECT_EQ(store.SaveToFile(name), 0);
  EXPECT_EQ(ReadFileBytes(name), "first\r\n\r\n  indented\tkept \t\r\n");
  EXPECT_EQ(store.SaveToFile(""), -1);
  // Over its own backing file every line is kept.
  TBrowse loaded;
  LoadLines("one\r\ntwo\r\nthree\r\n", loaded, dir);
  loaded.AddLine("four", 0, false);
  ASSERT_EQ(loaded.SaveToFile(loaded.FileName), 0);
  EXPECT_EQ(ReadFileBytes(loaded.FileName), "one\r\ntwo\r\nthree\r\nfour\r\n");
  EXPECT_EQ(loaded.GetLineText(2), "three");
}

TEST(SaveToFile, AShortWriteFailsAndACancelIsNotSuccess) {
  TBrowse store;
  for (int i = 0; i < 5000; ++i) store.AddLine(std::string(100, 'w'), 0, false);
  EXPECT_EQ(store.SaveToFile("/dev/full"), -1);
  EXPECT_EQ(store.LastError, 112u);  // disk full

  TTempDir dir;
  TScriptedDesktop desktop;
  store.Desktop = &desktop;
  desktop.CancelProgressAt = 10;
  EXPECT_EQ(store.SaveToFile(dir.file("part.sbf")), kSaveCancelled);
  EXPECT_EQ(desktop.ProgressCaptions, std::vector<std::string>{"SAVING"});
  EXPECT_EQ(desktop.ProgressMaximum, 5000);
  EXPECT_EQ(desktop.ProgressPositions.size(), 10u);
  EXPECT_EQ(ReadFileBytes(dir.file("part.sbf")).size(), 10u * 102);
  desktop.CancelProgressAt = -1;
  desktop.PendingPumps = 0;
  EXPECT_EQ(store.SaveToFile(dir.file("all.sbf")), 0);
  EXPECT_EQ(desktop.PendingPumps, 5000 / 201);
}

TEST(SaveToFile, TheSessionsStoreShowsProgressOnTheDesktop) {
  TTestSession t;
  t.S->Screen->AddLine("only line", 0, false);
  ASSERT_EQ(t.S->Screen->SaveToFile(t.Dir.file("session.sbf")), 0);
  EXPECT_EQ(t.Desktop.ProgressCaptions, std::vector<std::string>{"SAVING"});
  EXPECT_EQ(t.Desktop.ProgressPositions, std::vector<std::int64_t>{1});
  EXPECT_EQ(t.Desktop.ProgressEnded, 1);
}

TEST(DiskLines, WritingOnALoadedScreenLineBringsItIntoMemory) {
  TTempDir dir;
  TBrowse store;
  std::string bytes;
  for (int i = 0; i < 30; ++i) bytes += "disk " + std::to_string(i) + "\r\n";
  LoadLines(bytes, store, dir);
  ASSERT_EQ(store.Count(), 30);
  store.PutText("XY", 2, false, 3, 24);  // row 24 is line 29
  EXPECT_EQ(store.GetLineState(29), lsRewritten);
  EXPECT_EQ(store.GetFileOffset(29), 10 * 8 + 19 * 9);  // lines 0-9 take 8 bytes, the rest 9
  EXPECT_EQ(store.GetLineText(29), "dXYk 29" + std::string(126, ' '));
  EXPECT_EQ(store.GetLineState(28), lsOnDisk);
  // Neither closing the file nor leaving the screen loses the written line.
  store.CloseFile();
  for (int i = 0; i < 100; ++i) store.AddLine("", 0, false);
  EXPECT_EQ(store.GetLineText(29), "dXYk 29" + std::string(126, ' '));
  EXPECT_EQ(store.GetRuns(29), (std::vector<TRun>{{0, 1}, {3, 2}, {0, 4}, {0, 132}}));
  EXPECT_EQ(store.GetLineText(28), "disk 28");
}
