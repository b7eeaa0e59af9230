#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "comms/transmit.h"
#include "log/logfiles.h"
#include "screen/store.h"
#include "screen/writer.h"
#include "support/testing.h"
#include "trace/decoder.h"
#include "transfer/engine.h"

namespace {
// A session as the main window leaves it: terminal reset, 24 blank screen rows.
class Terminal {
 public:
  Terminal() : S(*T.S), W(*S.Writer), Screen(*S.Screen) {
    W.ResetTerminal();
    for (int i = 0; i < 24; ++i) Screen.AddLine(std::string(132, ' '), W.DefaultAttribute(), false);
  }
  // Row text with trailing blanks removed.
  std::string Row(int row) const {
    std::string text = Screen.GetLineText(Screen.ScreenLine(row));
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
  }
  void Put(std::string_view text) {
    for (const char c : text) W.PutChar(static_cast<std::uint8_t>(c));
  }
  void MoveTo(int column, int row) {
    W.State.CursorColumn = static_cast<std::uint8_t>(column);
    W.State.CursorRow = static_cast<std::uint8_t>(row);
  }
  int Column() const { return W.State.CursorColumn; }
  int CursorRow() const { return W.State.CursorRow; }
  // The cursor's column and row.
  std::pair<int, int> Cursor() const { return {Column(), CursorRow()}; }
  std::vector<std::string> Rows(std::initializer_list<int> rows) const {
    std::vector<std::string> texts;
    for (const int row : rows) texts.push_back(Row(row));
    return texts;
  }
  // Writes a distinct text on each of the rows.
  void Label(int first, int last) {
    for (int row = first; row <= last; ++row)
      Screen.PutText("row" + std::to_string(row), 1, false, W.DefaultAttribute(), row);
  }

  TTestSession T;
  TSession& S;
  TScreenWriter& W;
  TBrowse& Screen;
};

enum class TFeed { Chars, Lines };

// Every byte through PutChar; or as the receive interpreter feeds it:
// stretches it has found plain (none while the line-drawing set is active)
// with the CRs and LFs after them through PutTextAndLineEnds, then one byte
// through PutChar.
void Feed(TScreenWriter& writer, const std::vector<std::uint8_t>& bytes, TFeed feed) {
  const TTerminalState& t = writer.State;
  std::size_t at = 0;
  while (at < bytes.size()) {
    if (feed == TFeed::Lines) {
      std::size_t n = 0, ends = 0;
      if (!(t.G0Selected ? t.G0Graphics : t.G1Graphics))
        while (at + n < bytes.size() && TScreenWriter::IsPlain(bytes[at + n], false)) ++n;
      while (at + n + ends < bytes.size() && (bytes[at + n + ends] == '\r' || bytes[at + n + ends] == '\n')) ++ends;
      writer.PutTextAndLineEnds(bytes.data() + at, n, bytes.data() + at + n, ends);
      at += n + ends;
    }
    if (at < bytes.size()) writer.PutChar(bytes[at++]);
  }
}

// Every store line alike in text, looks, run list and state.
void ExpectSameLines(const Terminal& a, const Terminal& b, const std::string& context) {
  ASSERT_EQ(a.Screen.Count(), b.Screen.Count()) << context;
  for (int line = 0; line < a.Screen.Count(); ++line) {
    std::string textA, textB;
    std::uint16_t cellsA[132], cellsB[132];
    a.Screen.GetLine(line, textA, cellsA);
    b.Screen.GetLine(line, textB, cellsB);
    ASSERT_EQ(textA, textB) << context << " line " << line;
    ASSERT_EQ(std::vector<int>(cellsA, cellsA + 132), std::vector<int>(cellsB, cellsB + 132))
        << context << " line " << line;
    ASSERT_EQ(a.Screen.GetRunBytes(line), b.Screen.GetRunBytes(line)) << context << " line " << line;
    ASSERT_EQ(a.Screen.GetLineState(line), b.Screen.GetLineState(line)) << context << " line " << line;
  }
}

// What a region scroll did before rows were handed round: the cells copied
// row by row (CopyBlock's general path), the uncovered rows erased.
void ScrollByCopies(Terminal& t, bool up, int count, int left, int top, int right, int bottom, int attribute) {
  const int height = bottom - top + 1;
  count = std::min(count, height);
  if (count == height) {
    t.W.EraseArea(left, top, right, bottom, attribute, false);
  } else if (up) {
    t.Screen.CopyBlock({left, top + count, right, bottom}, {left, top, right, bottom - count}, true, true);
    t.W.EraseArea(left, bottom - count + 1, right, bottom, attribute, false);
  } else {
    t.Screen.CopyBlock({left, top, right, bottom - count}, {left, top + count, right, bottom}, true, true);
    t.W.EraseArea(left, top, right, top + count - 1, attribute, false);
  }
}
}  // namespace

TEST(PutChar, LineDrawingSetTranslatesCodes95To127) {
  Terminal t;
  t.W.State.G1Graphics = true;
  t.MoveTo(1, 1);
  t.Put("q");  // G0 in use: plain
  t.W.State.G0Selected = false;
  t.Put("qx_j~^");
  t.W.PutChar(127);
  t.W.PutChar(200);  // no line-drawing form
  const std::string row = t.Screen.GetLineText(t.Screen.ScreenLine(1)).substr(0, 9);
  EXPECT_EQ(row, std::string("q\xC4\xB3 \xD9\xFA^\0\xC8", 9));
  EXPECT_EQ(t.Column(), 10);
}

TEST(PutChar, MarginsBeyondTheScreenAreClipped) {
  Terminal t;
  t.Label(1, 24);
  // A region from row 0 is not the whole screen: the line feed scrolls rows
  // 1..24 inside the screen and the row that does not exist is skipped.
  t.W.State.TopMargin = 0;
  t.W.State.LineSize[0] = 1;
  t.W.State.LineSize[1] = 2;
  const int count = t.Screen.Count();
  t.MoveTo(1, 24);
  t.Put("\n");
  EXPECT_EQ(t.Screen.Count(), count);
  EXPECT_EQ(t.Rows({1, 23, 24}), (std::vector<std::string>{"row2", "row24", ""}));
  EXPECT_EQ(t.W.State.LineSize[0], 2);
  // A right margin left of the cursor: every character wraps, none is lost.
  t.W.State.TopMargin = 1;
  t.W.State.RightMargin = 0;
  t.MoveTo(1, 3);
  const std::uint8_t text[] = {'a', 'b'};
  t.W.PutTextAndLineEnds(text, 2, nullptr, 0);
  EXPECT_EQ(t.Rows({4, 5}), (std::vector<std::string>{"aow5", "bow6"}));
  EXPECT_EQ(t.CursorRow(), 5);
}

// Over the cursor's row (the rest of the row kept, the cursor to the next
// row), over another row (the cursor stays, nothing logged) or redirected.
TEST(WriteLine, OverTheCursorRowAnotherRowOrToTheRedirection) {
  Terminal t;
  t.S.Settings.LogFileName = t.T.Dir.file("screen.log");
  t.S.Files->CreateLogFile();
  ASSERT_TRUE(t.S.Files->LogOpen);
  t.Screen.PutText("0123456789", 1, false, 0, 10);
  t.MoveTo(40, 10);
  const int attribute = t.W.State.Category[caMsg];
  const int count = t.Screen.Count();
  t.W.WriteLine("abc", attribute, 0);
  EXPECT_EQ(t.Row(10), "abc3456789");
  EXPECT_EQ(std::pair(t.Screen.GetCellAttribute(3, 10), t.Screen.GetCellAttribute(4, 10)),
            std::pair(attribute, 0));
  EXPECT_EQ(t.Cursor(), std::pair(1, 11));
  EXPECT_EQ(t.Screen.Count(), count);
  t.W.WriteLine("fixed", t.W.DefaultAttribute(), 12);
  EXPECT_EQ(t.Row(12), "fixed");
  EXPECT_EQ(t.Cursor(), std::pair(1, 11));
  t.Put("ab\bc\t\x01\r\n");
  t.S.Files->CloseLogFile();
  // BS and other control codes are not logged; TAB, CR and LF are.
  EXPECT_EQ(ReadFileBytes(t.T.Dir.file("screen.log")), "abc\r\nabc\t\r\n");
  std::ostringstream out;
  t.W.Redirect = &out;
  t.W.WriteLine("to file", 0, 0);
  t.W.WriteLine("second", 0, 0);
  EXPECT_EQ(out.str(), "to file\r\nsecond\r\n");
  EXPECT_EQ(t.Row(12), "fixed");
  EXPECT_EQ(t.CursorRow(), 12);
}

TEST(WriteLine, AtTheBottomMarginTheTextBecomesANewStoreLine) {
  Terminal t;
  t.Label(1, 24);
  t.MoveTo(30, 24);
  t.W.State.LineSize[23] = 1;
  const int count = t.Screen.Count();
  const int attribute = t.W.State.Category[caIE];
  t.W.WriteLine("decoded", attribute, 0);
  EXPECT_EQ(t.Screen.Count(), count + 1);
  EXPECT_EQ(t.S.Status.LinesInBuffer, count + 1);
  EXPECT_EQ(t.Rows({23, 24}), (std::vector<std::string>{"row24", "decoded"}));
  EXPECT_EQ(t.Screen.GetRuns(count), (std::vector<TRun>{{std::uint16_t(attribute), 1},
                                                         {std::uint16_t(attribute), 132}}));
  EXPECT_EQ(t.Cursor(), std::pair(1, 24));
  EXPECT_EQ((std::pair<int, int>(t.W.State.LineSize[22], t.W.State.LineSize[23])), std::pair(1, 0));
}

TEST(TextReceive, PrintedCharactersAndLinesGoToTheTransferFile) {
  Terminal t;
  TLogFiles& files = *t.S.Files;
  files.TransferFileName = t.T.Dir.file("receive.txt");
  ASSERT_TRUE(files.OpenTransferFile(2));
  t.S.Transfer->TransferActive = true;
  t.S.Transfer->Direction = drReceive;
  t.S.Transfer->ReceiveKind = rkUser;
  t.S.Transfer->SuppressControl = true;
  ASSERT_TRUE(files.TextReceiveActive());
  t.MoveTo(1, 1);
  t.Put("hi\x01\b\r\n");
  const std::uint8_t run[] = {'r', 'u', 'n'};
  t.W.PutTextAndLineEnds(run, 3, nullptr, 0);
  t.W.WriteLine("line", 0, 0);
  EXPECT_EQ(files.ReceivedBytes, 13u);
  EXPECT_EQ(files.FlushTransferBuffer(), 0u);
  files.CloseTransferFile();
  EXPECT_EQ(ReadFileBytes(t.T.Dir.file("receive.txt")), "hi\r\nrunline\r\n");
}

// Writing on such rows is in linesize.test; here the column mapping and the
// way back to single size.
TEST(LineSizes, DoubleHeightRowTakesOneStoreColumnPerTwoScreenColumns) {
  Terminal t;
  t.MoveTo(1, 5);
  t.W.MakeRowDoubleHeight(5);
  t.W.State.LineSize[4] = 2;
  t.Put("ABC");
  EXPECT_EQ((std::vector<int>{t.W.GetScreenChar(3, 5), t.W.GetScreenChar(4, 5)}), std::vector<int>(2, 'B'));
  // Back to single size: attributes at FontSize, the right half blanked, the row below too.
  t.Screen.PutText(std::string(80, 'x'), 1, false, 0, 5);
  t.Screen.PutText("next", 1, false, 0, 6);
  t.W.MakeRowSingle(5);
  EXPECT_EQ(t.Screen.GetAttributeRecord(t.Screen.GetCellAttribute(100, 5)).Size, 16 / 2);
  EXPECT_EQ(t.Rows({5, 6}), (std::vector<std::string>{std::string(40, 'x'), ""}));
}

TEST(Modes, ColumnModeSetsMarginsSizesAndTheCursor) {
  Terminal t;
  t.W.State.TopMargin = 4;
  t.MoveTo(120, 10);
  // Right margin, top margin, store columns, the setting, the cursor column and the store's.
  const auto mode = [&] {
    return std::vector<int>{t.W.State.RightMargin, t.W.State.TopMargin, t.Screen.Cols, t.S.Settings.ScreenSize,
                            t.S.Status.ScreenSize,  t.Column(),         t.Screen.CursorXPosition()};
  };
  t.W.SetColumnMode(1);
  EXPECT_EQ(mode(), (std::vector<int>{132, 1, 132, 1, 1, 120, 120}));
  t.W.SetColumnMode(0);
  EXPECT_EQ(mode(), (std::vector<int>{80, 1, 80, 0, 0, 80, 80}));
}

TEST(Modes, ResetBuildsTheCurrentAndCategoryAttributesFromTheSettings) {
  Terminal t;
  t.S.Settings.FontStyle = fsItalic;
  t.S.Settings.FontSize = 10;
  t.W.State.G0Graphics = true;
  t.W.State.G0Selected = false;
  t.W.State.OriginMode = true;
  t.W.State.LineSize[7] = 2;
  t.W.ResetTerminal();
  const TTerminalState& state = t.W.State;
  EXPECT_EQ((std::vector<int>{state.G0Graphics, state.G0Selected, state.OriginMode, state.LineSize[7]}),
            (std::vector<int>{0, 1, 0, 0}));
  const TTextAttributes& current = t.Screen.GetAttributeRecord(t.W.State.CurrentAttribute);
  EXPECT_EQ((std::pair<int, int>(current.Style, current.Size)), std::pair(int{fsItalic}, 10));
  // The default attribute has no style whatever FontStyle says.
  EXPECT_EQ(t.Screen.GetAttributeRecord(t.W.DefaultAttribute()).Style, 0);
  const TTextAttributes& error = t.Screen.GetAttributeRecord(t.W.State.Category[caError]);
  EXPECT_EQ(std::tuple(error.Foreground, error.Background, error.Style, error.Size, error.FontName),
            std::tuple(colors::Red, colors::White, std::uint8_t{fsBold}, std::uint8_t{10}, std::string("Courier New")));
  EXPECT_EQ(t.W.State.Category[caIE], t.W.State.Category[caMbid]);  // equal blocks share a number
  EXPECT_NE(t.W.State.Category[caIE], t.W.State.Category[caVMI]);
}

// The region attribute (DECSCNM) is in sgr.test, the bell in reports.test.
TEST(Modes, StatusBarShowsConnectionTraceAndLines) {
  Terminal t;
  t.S.Transmit->NetworkConnected = true;
  t.S.Trace->TraceState = TTraceDecoder::tsConverting;
  t.W.UpdateStatusBar();
  EXPECT_TRUE(t.S.Status.Connected && t.S.Status.TraceStatus);
  EXPECT_FALSE(t.S.Status.LogStatus);
  EXPECT_EQ(t.S.Status.LinesInBuffer, 24);
}

// Random text, controls and line-drawing codes between random changes of
// wrap, region, line sizes, character set and right margin.
TEST(PutText, WritesExactlyAsPutCharOneByOne) {
  std::mt19937 random(20240611);
  const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  for (int round = 0; round < 40; ++round) {
    Terminal one, lines;
    Terminal* const all[] = {&one, &lines};
    for (Terminal* t : all) {
      t->S.Settings.LogFileName = t->T.Dir.file("log");
      t->S.Files->CreateLogFile();
    }
    for (int s = 0; s < 60; ++s) {
      const int kind = pick(20);
      const int sizes[] = {0, 0, 1, 2, 4}, margins[] = {0, 1, 2, 40, 80, 132};
      int a = 0, b = 0;
      if (kind == 0 || kind == 3) a = pick(2);
      if (kind == 1) {
        a = 1 + pick(12);
        b = a + pick(24 - a + 1);
      }
      if (kind == 2) {
        a = pick(24);
        b = sizes[pick(5)];
      }
      if (kind == 19) b = margins[pick(6)];
      std::vector<std::uint8_t> bytes;
      const int length = kind >= 4 && kind < 19 ? 1 + pick(kind == 4 ? 400 : 60) : 0;
      for (int i = 0; i < length; ++i) {
        const int r = pick(100);
        bytes.push_back(static_cast<std::uint8_t>(r < 4    ? "\r\n\t\b"[r]
                                                  : r < 5  ? 127
                                                  : r < 10 ? 95 + pick(33)
                                                           : 32 + pick(224)));
      }
      for (const TFeed feed : {TFeed::Chars, TFeed::Lines}) {
        Terminal& t = *all[static_cast<int>(feed)];
        TTerminalState& state = t.W.State;
        if (kind == 0) t.S.Settings.Wrap = static_cast<std::uint8_t>(a);
        if (kind == 1) state.TopMargin = static_cast<std::uint8_t>(a);
        if (kind == 1) state.BottomMargin = static_cast<std::uint8_t>(b);
        if (kind == 2) state.LineSize[a] = static_cast<std::uint8_t>(b);
        if (kind == 3) state.G0Graphics = a != 0;
        if (kind == 19) state.RightMargin = static_cast<std::uint8_t>(b);
        Feed(t.W, bytes, feed);
      }
    }
    const std::string context = "round " + std::to_string(round);
    ASSERT_NO_FATAL_FAILURE(ExpectSameLines(one, lines, context));
    ASSERT_EQ((std::vector<int>{one.Column(), one.CursorRow(), one.Screen.CursorXPosition(),
                                one.Screen.CursorYPosition()}),
              (std::vector<int>{lines.Column(), lines.CursorRow(), lines.Screen.CursorXPosition(),
                                lines.Screen.CursorYPosition()}))
        << context;
    ASSERT_TRUE(std::equal(one.W.State.LineSize, one.W.State.LineSize + 24, lines.W.State.LineSize)) << context;
    for (Terminal* t : all) t->S.Files->CloseLogFile();
    ASSERT_EQ(ReadFileBytes(one.T.Dir.file("log")), ReadFileBytes(lines.T.Dir.file("log")));
  }
}

// Scrolling a region hands the rows' expanded lines round where the rows
// differ only inside the region's columns; what every line holds, on the
// screen, once scrolled into the history and once packed, is what copying
// the cells gives, and a find sees each text on its own line.
TEST(ScrollRegion, HandingRowsRoundGivesWhatCopyingCellsGives) {
  std::mt19937 random(20261207);
  const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  for (int round = 0; round < 30; ++round) {
    Terminal handed, copied;
    const int looks[] = {handed.W.DefaultAttribute(), handed.W.State.Category[caError],
                         handed.W.State.Category[caData]};
    for (int step = 0; step < 300; ++step) {
      const int kind = pick(14);
      const int row = 1 + pick(24);
      const int look = looks[pick(4) == 0 ? 1 + pick(2) : 0];
      // Mostly inside 80 columns, as a full-screen program writes; now and
      // then beyond them, so that rows differ outside a region too.
      const int column = 1 + (pick(8) == 0 ? pick(132) : pick(60));
      const int length = 1 + pick(30);
      const bool blanks = pick(2) == 0;
      const std::string text = "r" + std::to_string(round) + "s" + std::to_string(step);
      for (Terminal* t : {&handed, &copied}) {
        switch (kind) {
          case 0: case 1: case 2: case 3: t->Screen.PutText(text, column, true, look, row); break;
          case 4: t->Screen.FillText(blanks ? ' ' : '=', length, column, true, look, row); break;
          case 5: t->W.EraseArea(column, row, blanks ? 80 : 132, row, look, true); break;
          case 6: t->Screen.SetCellAttribute(column, row, look); break;
          case 7: if (blanks) t->Screen.AddLine(text, look, true); break;
          case 8: t->W.EraseArea(1, 1, 132, 24, looks[0], true); break;
          default: break;
        }
      }
      if (kind >= 9) {
        const int top = 1 + pick(12);
        const int bottom = top + 1 + pick(24 - top);
        const bool up = pick(4) != 0;
        const int count = 1 + (pick(5) == 0 ? pick(4) : 0);
        const int left = pick(6) == 0 ? 5 : 1;
        const int right = pick(4) == 0 ? 132 : 80;
        handed.W.ScrollRegion(up, count, look, left, top, right, bottom, true);
        ScrollByCopies(copied, up, count, left, top, right, bottom, look);
      }
      if (step % 20 == 19) {
        const std::string context = "round " + std::to_string(round) + " step " + std::to_string(step);
        ASSERT_NO_FATAL_FAILURE(ExpectSameLines(handed, copied, context));
      }
    }
    // A text on the screen is found on the same line in both.
    const std::string wanted = "s" + std::to_string(pick(300));
    const auto test = [&](std::string_view stored, int) { return stored.find(wanted) != std::string_view::npos; };
    EXPECT_EQ(handed.Screen.ScanLines(handed.Screen.Count() - 1, 0, test),
              copied.Screen.ScanLines(copied.Screen.Count() - 1, 0, test));
    // Into the history: every expanded line written back to its block.
    for (int i = 0; i < 80; ++i)
      for (Terminal* t : {&handed, &copied}) t->Screen.AddBlankLine(looks[0], false);
    ASSERT_NO_FATAL_FAILURE(ExpectSameLines(handed, copied, "history, round " + std::to_string(round)));
  }
}
