// Printing a screen buffer, without the printer: which lines a print takes
// (all of them, or the selection's), each line as it is printed (its runs,
// cut to the selection's columns), how the printed lines fall on pages, the
// spooling of a range into pages with its progress window, and the same
// lines written as a text file. The window draws the pages (src/desktop).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TBrowse;
class TDesktop;

// Store lines First..Last (none while Last < First).
struct TPrintRange {
  int First = 0;
  int Last = -1;
  int Count() const { return Last >= First ? Last - First + 1 : 0; }
};

// All lines of the store, or the lines of the selection from its first to its
// last in store order (none without a selection).
TPrintRange PrintRangeOf(const TBrowse& store, bool markedOnly);

// Cells Start..Start+Length-1 of a printed line in one attribute. A wide run
// (a double-size attribute) shows each character over two cells: its text
// holds the character and a blank after it.
struct TPrintRun {
  int Start = 0;
  int Length = 0;
  std::uint16_t Attribute = 0;
  bool Wide = false;
  bool operator==(const TPrintRun&) const = default;
};

// A line as it goes on paper, from the left margin on: one character per
// cell and the runs that cover them in order.
struct TPrintedLine {
  std::string Text;
  std::vector<TPrintRun> Runs;
  bool operator==(const TPrintedLine&) const = default;
  // The cells From..From+Count-1 as a line of their own.
  TPrintedLine Slice(int from, int count) const;
};

// A store line as printed. Marked only, a line carrying the selection is cut
// to its columns there and a line without it prints nothing. Blanks at the
// end are left out (a coloured line end would only wrap onto a line of its
// own); a cell that never got a character is a blank. Tabs go to the next
// multiple of 8 cells.
TPrintedLine PrintedLine(const TBrowse& store, int line, bool markedOnly);

// What a page holds: printed lines of at most CharsPerLine cells, at most
// LinesPerPage of them above the footer.
struct TPageGeometry {
  int CharsPerLine = 80;
  int LinesPerPage = 60;
};

// From the printable area and the font's cell, in one unit (device pixels):
// as many whole cells as fit across; down, as many whole lines as fit less
// two (a blank line and the footer with the page number). Never below 1.
TPageGeometry PageGeometryOf(double printableWidth, double printableHeight, double cellWidth,
                             double lineHeight);

// Word wrap of a printed line's text into pieces of at most width cells,
// as (start, length): a piece ends after the last blank that fits, or at
// the width when none does; the blank a break falls on opens no line. An
// empty line is one empty piece.
std::vector<std::pair<int, int>> WrapPieces(std::string_view text, int width);

// A document: pages of printed lines (screen lines wrapped as needed).
struct TPrintDocument {
  std::vector<std::vector<TPrintedLine>> Pages;
  int LinesTaken = 0;      // screen lines spooled
  bool Cancelled = false;  // the spooling window's Cancel stopped it early
  // The printed lines of all pages in order.
  int PrintedLineCount() const;
};

// The spooling window's caption, and after how many lines it lets the
// window run.
inline constexpr const char* kSpoolingCaption = "Spooling Print Area";
inline constexpr int kSpoolPumpLines = 251;

// The range into pages. A progress window ("Spooling Print Area") runs over
// the range's lines; after every 251 lines the window processes its pending
// messages. Cancel ends the loop after the current line: what was taken so
// far is the document.
TPrintDocument SpoolLines(const TBrowse& store, bool markedOnly, const TPageGeometry& geometry,
                          TDesktop& desktop);

// The range as a text file, replacing the file: each line's text (cut to the
// selection's columns, marked only), trailing blanks removed, CR LF after
// it. A file that cannot be created or written is reported in an error box
// ("File access error. File = " / "File write error. File = " with the
// code as "H'" and 4 hex digits); what was written before a failure stays.
// True when every line was written.
bool SaveLinesToFile(const TBrowse& store, const std::string& name, bool markedOnly, TDesktop& desktop);

// The text SaveLinesToFile writes for one store line (without its line end).
std::string SavedLineText(const TBrowse& store, int line, bool markedOnly);
