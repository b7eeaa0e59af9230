// Printing without a printer: the range a print takes, each line as printed
// (runs cut to the selection's columns), word wrap and page breaks, the
// spooling loop with its window, and the text written by a print to file.
#include "auxwin/printing.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <tuple>
#include <vector>

#include "core/settings.h"
#include "auxwin/printcommand.h"
#include "core/desktop.h"
#include "log/logfiles.h"
#include "screen/selection.h"
#include "screen/store.h"
#include "support/testing.h"

namespace {
int Look(TBrowse& store, TColor foreground, TColor background, std::uint8_t style = 0, int size = 8) {
  TTextAttributes record;
  record.Foreground = foreground;
  record.Background = background;
  record.Style = style;
  record.Size = static_cast<std::uint8_t>(size);
  return store.InternAttribute(record);
}

// Lines "line 0", "line 1", ... in the default look.
void FillNumbered(TBrowse& store, int count) {
  const int plain = Look(store, colors::Black, colors::White);
  for (int i = 0; i < count; ++i) store.AddLine("line " + std::to_string(i), plain, false);
}

std::vector<std::string> Texts(const TPrintDocument& document) {
  std::vector<std::string> texts;
  for (const auto& page : document.Pages)
    for (const TPrintedLine& line : page) texts.push_back(line.Text);
  return texts;
}

// A selection from column 10 of line 5 to column 20 of line 7.
constexpr const char* kWide =
    "0123456789abcdefghijABCDEFGHIJ0123456789abcdefghij";  // 50 characters, all distinct in their tens
void FillSelectionExample(TBrowse& store) {
  const int plain = Look(store, colors::Black, colors::White);
  for (int i = 0; i < 10; ++i) store.AddLine(std::string(kWide) + "   ", plain, false);
  PlaceMark(store, kSelectionMark, 5, 7, 10, 20);
}
}  // namespace

TEST(PrintRange, AllLinesOrTheSelectionInStoreOrder) {
  TBrowse store;
  FillNumbered(store, 12);
  EXPECT_EQ(PrintRangeOf(store, false).Count(), 12);
  EXPECT_EQ(PrintRangeOf(store, true).Count(), 0);  // no selection: nothing
  // Marked from line 9 upwards to line 4: still lines 4..9.
  PlaceMark(store, kSelectionMark, 9, 4, 3, 2);
  EXPECT_EQ(std::pair(PrintRangeOf(store, true).First, PrintRangeOf(store, true).Last), std::pair(4, 9));
}

// The printed lines of a marked print are the window's test (read back from
// the PDF); a line without the mark, and the file, are here.
TEST(PrintedLine, MarkedOnlyCutsTheFirstAndLastLinesToTheMarksColumns) {
  TBrowse store;
  FillSelectionExample(store);
  const std::string wide = kWide;
  // A line without the mark prints nothing; all lines print whole.
  EXPECT_EQ(PrintedLine(store, 4, true).Text, "");
  EXPECT_EQ(PrintedLine(store, 4, false).Text, wide);
  // The file writes the same columns.
  EXPECT_EQ(SavedLineText(store, 5, true), wide.substr(9));
  EXPECT_EQ(SavedLineText(store, 6, true), wide);
  EXPECT_EQ(SavedLineText(store, 7, true), wide.substr(0, 20));
}

TEST(PrintedLine, RunsKeepTheirLooksAndAreCutOrSkippedAtTheMark) {
  TBrowse store;
  const int plain = Look(store, colors::Black, colors::White);
  const int red = Look(store, colors::White, colors::Red, fsBold);
  // "aaaa" plain, "RRRR" red, "bbbb" plain.
  store.AddLine("aaaaRRRRbbbb", plain, false);
  for (int column = 5; column <= 8; ++column) store.SetAttributeAt(0, column, red);
  const TPrintedLine all = PrintedLine(store, 0, false);
  EXPECT_EQ(all.Text, "aaaaRRRRbbbb");
  const std::vector<TPrintRun> expected{{0, 4, static_cast<std::uint16_t>(plain), false},
                                        {4, 4, static_cast<std::uint16_t>(red), false},
                                        {8, 4, static_cast<std::uint16_t>(plain), false}};
  EXPECT_EQ(all.Runs, expected);
  // Marked from column 6 to 7: only the middle of the red run.
  PlaceMark(store, kSelectionMark, 0, 0, 6, 7);
  const TPrintedLine cut = PrintedLine(store, 0, true);
  EXPECT_EQ(cut.Text, "RR");
  EXPECT_EQ(cut.Runs, (std::vector<TPrintRun>{{0, 2, static_cast<std::uint16_t>(red), false}}));
}

TEST(PrintedLine, BlanksEmptyCellsTabsAndDoubleSizeCharacters) {
  TBrowse store;
  const int plain = Look(store, colors::Black, colors::White);
  const int doubled = Look(store, colors::Black, colors::White, 0, 2 * store.FontSize);
  // Trailing blanks go, a cell that never got a character is a blank, a tab
  // reaches the next eighth cell (the file keeps the tab).
  store.AddLine(std::string("ab\tc\0d    ", 10), plain, false);
  EXPECT_EQ(PrintedLine(store, 0, false).Text, "ab      c d");
  EXPECT_EQ(SavedLineText(store, 0, false), std::string("ab\tc d"));
  // A double-size character takes two cells.
  store.AddLine("HIx", doubled, false);
  store.SetAttributeAt(1, 3, plain);
  EXPECT_EQ(PrintedLine(store, 1, false).Text, "H I x");
  EXPECT_EQ(PrintedLine(store, 1, false).Runs, (std::vector<TPrintRun>{{0, 4, static_cast<std::uint16_t>(doubled), true},
                                                                      {4, 1, static_cast<std::uint16_t>(plain), false}}));
}

TEST(WrapPieces, BreaksAfterTheLastBlankThatFitsOrAtTheWidth) {
  using P = std::vector<std::pair<int, int>>;
  EXPECT_EQ(WrapPieces("", 10), (P{{0, 0}}));
  EXPECT_EQ(WrapPieces("exactly10!", 10), (P{{0, 10}}));
  // "alpha beta gamma" in 8 cells: "alpha" | "beta" | "gamma".
  EXPECT_EQ(WrapPieces("alpha beta gamma", 8), (P{{0, 5}, {6, 4}, {11, 5}}));
  // In 10 the blank right after "alpha beta" is the break.
  EXPECT_EQ(WrapPieces("alpha beta gamma", 10), (P{{0, 10}, {11, 5}}));
  // No blank to break at: hard breaks at the width.
  EXPECT_EQ(WrapPieces("abcdefghijklmnopqrstuvw", 10), (P{{0, 10}, {10, 10}, {20, 3}}));
  // A blank just past the width still breaks there.
  EXPECT_EQ(WrapPieces("abcdefghij klm", 10), (P{{0, 10}, {11, 3}}));
}

TEST(PageGeometry, WholeCellsAcrossAndWholeLinesLessTheFooterDown) {
  // 180 x 267 mm at 10 units a mm, cells of 24 x 40: 1800 / 24 across;
  // 2670 / 40 = 66 down, less a gap and the footer; never below one.
  const TPageGeometry page = PageGeometryOf(1800, 2670, 24, 40);
  EXPECT_EQ(std::pair(page.CharsPerLine, page.LinesPerPage), std::pair(75, 64));
  EXPECT_EQ(PageGeometryOf(10, 10, 24, 40).LinesPerPage, 1);
}

TEST(SpoolLines, LinesFallOnPagesInOrderAndWrapTakesRoom) {
  TBrowse store;
  FillNumbered(store, 25);
  TScriptedDesktop desktop;
  const TPrintDocument document = SpoolLines(store, false, {80, 10}, desktop);
  ASSERT_EQ(document.Pages.size(), 3u);
  EXPECT_EQ(std::tuple(document.Pages[2].size(), document.LinesTaken, document.Cancelled), std::tuple(5u, 25, false));

  // Five cells across: "line 12" wraps to "line" and "12", so a page of
  // three holds a line and a half.
  const TPrintDocument narrow = SpoolLines(store, false, {5, 3}, desktop);
  const std::vector<std::string> texts = Texts(narrow);
  ASSERT_EQ(texts.size(), 50u);
  EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + 4),
            (std::vector<std::string>{"line", "0", "line", "1"}));
  ASSERT_EQ(narrow.Pages[0].size(), 3u);  // the second half of "line 1" opens page 2
}

TEST(SpoolLines, TheProgressWindowRunsOverTheRangeAndTheWindowIsServedEvery251Lines) {
  TBrowse store;
  FillNumbered(store, 600);
  TScriptedDesktop desktop;
  SpoolLines(store, false, {80, 60}, desktop);
  EXPECT_EQ(desktop.ProgressCaptions, std::vector<std::string>{"Spooling Print Area"});
  std::vector<std::int64_t> positions(600);
  std::iota(positions.begin(), positions.end(), 1);
  EXPECT_EQ(desktop.ProgressPositions, positions);
  // Pumped after 251 and 502 lines.
  EXPECT_EQ(std::tuple(desktop.ProgressMaximum, desktop.PendingPumps, desktop.ProgressEnded), std::tuple(600, 2, 1));
}

TEST(SpoolLines, CancelEndsAfterTheCurrentLineAndKeepsWhatWasTaken) {
  TBrowse store;
  FillNumbered(store, 100);
  TScriptedDesktop desktop;
  desktop.CancelProgressAt = 40;
  const TPrintDocument document = SpoolLines(store, false, {80, 60}, desktop);
  EXPECT_EQ(std::tuple(document.Cancelled, document.LinesTaken, desktop.ProgressEnded), std::tuple(true, 40, 1));
  const std::vector<std::string> texts = Texts(document);
  ASSERT_EQ(texts.size(), 40u);
  EXPECT_EQ(texts.back(), "line 39");
}

TEST(SaveLinesToFile, WritesEveryLineTrimmedWithCrLfReplacingTheFile) {
  TTempDir dir;
  TBrowse store;
  const int plain = Look(store, colors::Black, colors::White);
  store.AddLine("first   ", plain, false);
  store.AddLine("", plain, false);
  store.AddLine("  indented", plain, false);
  const std::string name = dir.file("print.log");
  WriteFileBytes(name, std::string(5000, 'x'));
  TScriptedDesktop desktop;
  EXPECT_TRUE(SaveLinesToFile(store, name, false, desktop));
  EXPECT_EQ(ReadFileBytes(name), "first\r\n\r\n  indented\r\n");
  EXPECT_TRUE(desktop.Boxes.empty());
}

TEST(SaveLinesToFile, FailuresShowTheirBoxWithTheCodeInHex) {
  TTempDir dir;
  TBrowse store;
  FillNumbered(store, 3);
  TScriptedDesktop desktop;
  const std::string missing = dir.file("no/such/dir.log");
  EXPECT_FALSE(SaveLinesToFile(store, missing, false, desktop));
  ASSERT_EQ(BoxTexts(desktop), std::vector<std::string>{"File access error. File = " + missing + "\rError = H'0002"});
  EXPECT_EQ(desktop.Boxes[0].Box.Icon, TMsgIcon::Error);
  EXPECT_EQ(desktop.Boxes[0].Box.Buttons, unsigned{mbOK});
  // A real full device: the write fails with disk full (112).
  EXPECT_FALSE(SaveLinesToFile(store, "/dev/full", false, desktop));
  ASSERT_EQ(desktop.Boxes.size(), 2u);
  EXPECT_EQ(desktop.Boxes[1].Box.Text, "File write error. File = /dev/full\rError = H'0070");
}

TEST(PrintToFile, AnEmptyLogFileNameIsRefusedAndAnOpenLogIsNeverReplaced) {
  TTestSession t;
  TBrowse& store = *t.S->Screen;
  FillNumbered(store, 4);
  TSetupRecord& settings = t.S->Settings;
  settings.LogFileName = "";
  EXPECT_FALSE(PrintLinesToFile(store, settings, *t.S->Files, t.Desktop, false));
  EXPECT_EQ(BoxTexts(t.Desktop),
            std::vector<std::string>{"No LogFile Name specified\rCorrect in the Setup|Configure|Files"});

  // The log is open on the file (appending to what it held): the print
  // leaves it alone and says why.
  const std::string log = t.Dir.file("session.log");
  WriteFileBytes(log, "logged before\r\n");
  settings.LogFileName = log;
  t.Desktop.Answers.push_back(TMsgResult::OK);  // append
  t.S->Files->OpenLogFile();
  ASSERT_TRUE(t.S->Files->LogOpen);
  const std::size_t boxes = t.Desktop.Boxes.size();
  EXPECT_FALSE(PrintLinesToFile(store, settings, *t.S->Files, t.Desktop, false));
  ASSERT_EQ(t.Desktop.Boxes.size(), boxes + 1);
  EXPECT_EQ(t.Desktop.Boxes.back().Box.Text, FileInUseText(log, true));
  EXPECT_EQ(ReadFileBytes(log), "logged before\r\n");
  t.S->Files->LogLine("logged after");
  t.S->Files->CloseLogFile();
  EXPECT_EQ(ReadFileBytes(log), "logged before\r\nlogged after\r\n");

  // Closed, the same name takes the print.
  EXPECT_TRUE(PrintLinesToFile(store, settings, *t.S->Files, t.Desktop, false));
  EXPECT_EQ(ReadFileBytes(log), "line 0\r\nline 1\r\nline 2\r\nline 3\r\n");
}

TEST(PagePrinterSetup, ChangesAreRefusedWhileADocumentPrints) {
  TPagePrinterSetup setup;
  EXPECT_EQ(setup.SetMargin(TPagePrinterSetup::pmTop, 20), "");
  setup.Printing = true;
  EXPECT_EQ(setup.SetLandscape(true), "Unable to change orientation while printing");
  EXPECT_EQ(setup.SetMargin(TPagePrinterSetup::pmTop, 5), "Unable to change top margin while printing");
  EXPECT_EQ(setup.SetMargin(TPagePrinterSetup::pmRight, 5), "Unable to change right margin while printing");
  EXPECT_EQ(setup.SetPrintToFile(true), "Can't change PrintToFile while printing");
  EXPECT_EQ(setup.SetFileName("x"), "Can't change FileName while printing");
  EXPECT_FALSE(setup.Landscape || setup.PrintToFile);
  EXPECT_EQ(setup.Margins[TPagePrinterSetup::pmTop], 20.0);
  EXPECT_EQ(setup.Margins[TPagePrinterSetup::pmRight], 15.0);
  EXPECT_EQ(FooterText(TPagePrinterSetup::kFooter, 12), "12");
}
