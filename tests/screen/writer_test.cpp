#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
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
  EXPECT_EQ(t.Row(1), "row2");
  EXPECT_EQ(t.Row(23), "row24");
  EXPECT_EQ(t.Row(24), "");
  EXPECT_EQ(t.W.State.LineSize[0], 2);
  // A right margin left of the cursor: every character wraps, none is lost.
  t.W.State.TopMargin = 1;
  t.W.State.RightMargin = 0;
  t.MoveTo(1, 3);
  const std::uint8_t text[] = {'a', 'b'};
  EXPECT_EQ(t.W.PutRun(text, 2), 2u);
  EXPECT_EQ(t.Row(4), "aow5");
  EXPECT_EQ(t.Row(5), "bow6");
  EXPECT_EQ(t.CursorRow(), 5);
}

TEST(WriteLine, OverRow10KeepsTheRestOfTheRowAndMovesToRow11) {
  Terminal t;
  t.Screen.PutText("0123456789", 1, false, 0, 10);
  t.MoveTo(40, 10);
  const int attribute = t.W.State.Category[caMsg];
  const int count = t.Screen.Count();
  t.W.WriteLine("abc", attribute, 0);
  EXPECT_EQ(t.Row(10), "abc3456789");
  EXPECT_EQ(t.Screen.GetCellAttribute(3, 10), attribute);
  EXPECT_EQ(t.Screen.GetCellAttribute(4, 10), 0);
  EXPECT_EQ(t.CursorRow(), 11);
  EXPECT_EQ(t.Column(), 1);
  EXPECT_EQ(t.Screen.Count(), count);
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
  EXPECT_EQ(t.Row(24), "decoded");
  EXPECT_EQ(t.Row(23), "row24");
  EXPECT_EQ(t.Screen.GetRuns(count), (std::vector<TRun>{{std::uint16_t(attribute), 1},
                                                         {std::uint16_t(attribute), 132}}));
  EXPECT_EQ(t.CursorRow(), 24);
  EXPECT_EQ(t.Column(), 1);
  EXPECT_EQ(t.W.State.LineSize[22], 1);
  EXPECT_EQ(t.W.State.LineSize[23], 0);
}

TEST(WriteLine, OtherRowsLeaveCursorAndLogAlone) {
  Terminal t;
  t.S.Settings.LogFileName = t.T.Dir.file("screen.log");
  t.S.Files->CreateLogFile();
  ASSERT_TRUE(t.S.Files->LogOpen);
  t.MoveTo(9, 4);
  t.W.WriteLine("fixed", t.W.DefaultAttribute(), 12);
  EXPECT_EQ(t.Row(12), "fixed");
  EXPECT_EQ(t.Column(), 9);
  EXPECT_EQ(t.CursorRow(), 4);
  EXPECT_EQ(t.S.Files->LogBuffered(), 0u);
  t.W.WriteLine("logged", t.W.DefaultAttribute(), 0);
  t.Put("ab\bc\t\x01\r\n");
  t.S.Files->CloseLogFile();
  // BS and other control codes are not logged; TAB, CR and LF are.
  EXPECT_EQ(ReadFileBytes(t.T.Dir.file("screen.log")), "logged\r\nabc\t\r\n");
}

TEST(WriteLine, RedirectedOutputGoesToTheFileOnly) {
  Terminal t;
  std::ostringstream out;
  t.W.Redirect = &out;
  t.MoveTo(1, 3);
  t.W.WriteLine("to file", 0, 0);
  t.W.WriteLine("second", 0, 0);
  EXPECT_EQ(out.str(), "to file\r\nsecond\r\n");
  EXPECT_EQ(t.Row(3), "");
  EXPECT_EQ(t.CursorRow(), 3);
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
  EXPECT_EQ(t.W.PutRun(run, 3), 3u);
  t.W.WriteLine("line", 0, 0);
  EXPECT_EQ(files.ReceivedBytes, 13u);
  EXPECT_EQ(files.FlushTransferBuffer(), 0u);
  files.CloseTransferFile();
  EXPECT_EQ(ReadFileBytes(t.T.Dir.file("receive.txt")), "hi\r\nrunline\r\n");
}

TEST(LineSizes, DoubleHeightRowTakesOneStoreColumnPerTwoScreenColumns) {
  Terminal t;
  t.Screen.PutText("below", 1, false, 0, 6);
  t.MoveTo(1, 5);
  t.W.MakeRowDoubleHeight(5);
  t.W.State.LineSize[4] = 2;
  EXPECT_EQ(t.Row(6), "");
  t.Put("ABC");
  EXPECT_EQ(t.Row(5), "ABC");
  EXPECT_EQ(t.Column(), 7);
  const int doubled = t.Screen.GetCellAttribute(1, 5);
  EXPECT_EQ(t.Screen.GetAttributeRecord(doubled).Size, 16);
  EXPECT_EQ(t.Screen.GetCellAttribute(100, 5), doubled);
  // Screen columns map to store columns (c + 1) / 2 on such a row.
  EXPECT_EQ(t.W.GetScreenChar(3, 5), 'B');
  EXPECT_EQ(t.W.GetScreenChar(4, 5), 'B');
  // Back to single size: attributes at FontSize, the right half blanked, the row below too.
  t.Screen.PutText(std::string(80, 'x'), 1, false, 0, 5);
  t.Screen.PutText("next", 1, false, 0, 6);
  t.W.MakeRowSingle(5);
  EXPECT_EQ(t.Screen.GetAttributeRecord(t.Screen.GetCellAttribute(100, 5)).Size, 16 / 2);
  EXPECT_EQ(t.Row(5), std::string(40, 'x'));
  EXPECT_EQ(t.Row(6), "");
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
  EXPECT_EQ(current.Style, fsItalic);
  EXPECT_EQ(current.Size, 10);
  // The default attribute has no style whatever FontStyle says.
  EXPECT_EQ(t.Screen.GetAttributeRecord(t.W.DefaultAttribute()).Style, 0);
  const TTextAttributes& error = t.Screen.GetAttributeRecord(t.W.State.Category[caError]);
  EXPECT_EQ(error.Foreground, colors::Red);
  EXPECT_EQ(error.Background, colors::White);
  EXPECT_EQ(error.Style, fsBold);
  EXPECT_EQ(error.Size, 10);
  EXPECT_EQ(error.FontName, "Courier New");
  EXPECT_EQ(t.W.State.Category[caIE], t.W.State.Category[caMbid]);  // equal blocks share a number
  EXPECT_NE(t.W.State.Category[caIE], t.W.State.Category[caVMI]);
}

TEST(Modes, StatusBarAndRegionAttribute) {
  Terminal t;
  t.S.Transmit->NetworkConnected = true;
  t.S.Trace->TraceState = TTraceDecoder::tsConverting;
  t.W.UpdateStatusBar();
  EXPECT_TRUE(t.S.Status.Connected && t.S.Status.TraceStatus);
  EXPECT_FALSE(t.S.Status.LogStatus);
  EXPECT_EQ(t.S.Status.LinesInBuffer, 24);
  t.W.State.TopMargin = 3;
  t.W.State.BottomMargin = 4;
  t.W.State.CurrentAttribute = t.W.State.Category[caError];
  t.W.ApplyAttributeToRegion();
  EXPECT_EQ(t.Screen.GetCellAttribute(1, 3), t.W.State.CurrentAttribute);
  EXPECT_EQ(t.Screen.GetCellAttribute(80, 4), t.W.State.CurrentAttribute);
  EXPECT_EQ(t.Screen.GetCellAttribute(81, 4), t.W.DefaultAttribute());
  EXPECT_EQ(t.Screen.GetCellAttribute(1, 5), t.W.DefaultAttribute());
  t.W.Beep();
  EXPECT_EQ(t.T.Desktop.Beeps, 1);
}

namespace {
// Runs of printable text through PutRun, everything else through PutChar.
void FeedWithRuns(TScreenWriter& writer, const std::vector<std::uint8_t>& bytes) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    const std::size_t taken = writer.PutRun(bytes.data() + at, bytes.size() - at);
    if (taken == 0) writer.PutChar(bytes[at++]);
    at += taken;
  }
}

// As the receive interpreter feeds it: stretches it has found plain (none
// while the line-drawing set is active) through PutPlainRun, everything else
// through PutChar.
void FeedWithPlainRuns(TScreenWriter& writer, const std::vector<std::uint8_t>& bytes) {
  const TTerminalState& t = writer.State;
  std::size_t at = 0;
  while (at < bytes.size()) {
    std::size_t n = 0;
    if (!(t.G0Selected ? t.G0Graphics : t.G1Graphics)) {
      while (at + n < bytes.size() && TScreenWriter::IsPlain(bytes[at + n], false)) ++n;
    }
    writer.PutPlainRun(bytes.data() + at, n);
    at += n;
    if (at < bytes.size()) writer.PutChar(bytes[at++]);
  }
}

enum class TFeed { Chars, Runs, PlainRuns };

struct TStep {
  enum { Bytes, Wrap, Region, LineSize, Graphics, Margin } Kind;
  std::vector<std::uint8_t> Data;
  int A = 0, B = 0;
};

void Apply(Terminal& t, const TStep& step, TFeed feed) {
  switch (step.Kind) {
    case TStep::Bytes:
      if (feed == TFeed::Runs)
        FeedWithRuns(t.W, step.Data);
      else if (feed == TFeed::PlainRuns)
        FeedWithPlainRuns(t.W, step.Data);
      else
        for (const std::uint8_t c : step.Data) t.W.PutChar(c);
      break;
    case TStep::Wrap:
      t.S.Settings.Wrap = static_cast<std::uint8_t>(step.A);
      break;
    case TStep::Region:
      t.W.State.TopMargin = static_cast<std::uint8_t>(step.A);
      t.W.State.BottomMargin = static_cast<std::uint8_t>(step.B);
      break;
    case TStep::LineSize:
      t.W.State.LineSize[step.A] = static_cast<std::uint8_t>(step.B);
      break;
    case TStep::Graphics:
      t.W.State.G0Graphics = step.A != 0;
      break;
    case TStep::Margin:
      t.W.State.RightMargin = static_cast<std::uint8_t>(step.A);
      break;
  }
}
}  // namespace

TEST(PutRun, WritesExactlyAsPutCharOneByOne) {
  std::mt19937 random(20240611);
  const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  for (int round = 0; round < 40; ++round) {
    std::vector<TStep> steps;
    for (int s = 0; s < 60; ++s) {
      const int kind = pick(20);
      if (kind == 0) {
        steps.push_back({TStep::Wrap, {}, pick(2)});
      } else if (kind == 1) {
        const int top = 1 + pick(12);
        steps.push_back({TStep::Region, {}, top, top + pick(24 - top + 1)});
      } else if (kind == 2) {
        const int sizes[] = {0, 0, 1, 2, 4};
        steps.push_back({TStep::LineSize, {}, pick(24), sizes[pick(5)]});
      } else if (kind == 3) {
        steps.push_back({TStep::Graphics, {}, pick(2)});
      } else if (kind == 19) {
        const int margins[] = {0, 1, 2, 40, 80, 132};
        steps.push_back({TStep::Margin, {}, margins[pick(6)]});
      } else {
        TStep bytes{TStep::Bytes, {}};
        const int length = 1 + pick(kind == 4 ? 400 : 60);
        for (int i = 0; i < length; ++i) {
          const int r = pick(100);
          if (r < 4)
            bytes.Data.push_back(static_cast<std::uint8_t>("\r\n\t\b"[r]));
          else if (r < 5)
            bytes.Data.push_back(127);
          else if (r < 10)
            bytes.Data.push_back(static_cast<std::uint8_t>(95 + pick(33)));
          else
            bytes.Data.push_back(static_cast<std::uint8_t>(32 + pick(224)));
        }
        steps.push_back(bytes);
      }
    }
    Terminal one, runs, plainRuns;
    for (Terminal* t : {&one, &runs, &plainRuns}) {
      t->S.Settings.LogFileName = t->T.Dir.file("log");
      t->S.Files->CreateLogFile();
    }
    for (const TStep& step : steps) {
      Apply(one, step, TFeed::Chars);
      Apply(runs, step, TFeed::Runs);
      Apply(plainRuns, step, TFeed::PlainRuns);
    }
    for (Terminal* other : {&runs, &plainRuns}) {
      const char* const feed = other == &runs ? "PutRun" : "PutPlainRun";
      ASSERT_EQ(one.Screen.Count(), other->Screen.Count()) << feed << " round " << round;
      ASSERT_EQ(one.Column(), other->Column()) << feed << " round " << round;
      ASSERT_EQ(one.CursorRow(), other->CursorRow()) << feed << " round " << round;
      ASSERT_EQ(one.Screen.CursorXPosition(), other->Screen.CursorXPosition()) << feed << " round " << round;
      ASSERT_EQ(one.Screen.CursorYPosition(), other->Screen.CursorYPosition()) << feed << " round " << round;
      for (int line = 0; line < one.Screen.Count(); ++line) {
        std::string a, b;
        std::uint16_t cellsA[132], cellsB[132];
        one.Screen.GetLine(line, a, cellsA);
        other->Screen.GetLine(line, b, cellsB);
        ASSERT_EQ(a, b) << feed << " round " << round << " line " << line;
        ASSERT_EQ(std::vector<int>(cellsA, cellsA + 132), std::vector<int>(cellsB, cellsB + 132))
            << feed << " round " << round << " line " << line;
      }
      for (int row = 0; row < 24; ++row) ASSERT_EQ(one.W.State.LineSize[row], other->W.State.LineSize[row]);
    }
    for (Terminal* t : {&one, &runs, &plainRuns}) t->S.Files->CloseLogFile();
    ASSERT_EQ(ReadFileBytes(one.T.Dir.file("log")), ReadFileBytes(runs.T.Dir.file("log")));
    ASSERT_EQ(ReadFileBytes(one.T.Dir.file("log")), ReadFileBytes(plainRuns.T.Dir.file("log")));
  }
}

TEST(PutRun, StopsAtControlCharacters) {
  Terminal t;
  const std::uint8_t bytes[] = {'a', 'b', 13, 'c'};
  t.MoveTo(1, 1);
  EXPECT_EQ(t.W.PutRun(bytes, 4), 2u);
  EXPECT_EQ(t.Column(), 3);
  EXPECT_EQ(t.W.PutRun(bytes + 2, 2), 0u);
  const std::uint8_t del[] = {127};
  EXPECT_EQ(t.W.PutRun(del, 1), 0u);
}

namespace {
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
}  // namespace

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
