// The Print and Print SetUp commands without their dialog: the dialog's
// presets from the settings, what Print SetUp keeps, the page printer's
// fixed setup with the changes it refuses while a document prints, and a
// print to file, which writes the lines into the Log File Name.
#pragma once

#include <string>

class TBrowse;
class TDesktop;
class TLogFiles;
struct TSetupRecord;

// The print dialog's two choices.
struct TPrintChoice {
  bool MarkedOnly = false;  // the range is the selection
  bool ToFile = false;      // the lines go into the Log File Name as text
  bool operator==(const TPrintChoice&) const = default;
};

// The dialog's presets: PrintRange (0 all, 1 selection) and PrintToFile.
TPrintChoice PrintPresets(const TSetupRecord& settings);
// Print SetUp's OK.
void StorePrintChoice(TSetupRecord& settings, const TPrintChoice& choice);

inline constexpr const char* kPrintTitle = "Qel for Windows";

// The page printer's setup: millimetre margins of 15, one copy, tabs of 8,
// word wrap, single spacing, the page number right-aligned in the footer.
// While a document prints, changing the orientation, a margin, the
// print-to-file choice or the file name is refused with its text.
class TPagePrinterSetup {
 public:
  enum TMargin { pmTop, pmBottom, pmLeft, pmRight };
  static constexpr double kMarginMm = 15.0;
  static constexpr const char* kFooter = "&r&p";

  bool Printing = false;
  bool Landscape = false;
  double Margins[4] = {kMarginMm, kMarginMm, kMarginMm, kMarginMm};
  bool PrintToFile = false;
  std::string FileName;

  // Empty when done, else the refusal text (nothing changes then).
  std::string SetLandscape(bool landscape);
  std::string SetMargin(TMargin margin, double millimetres);
  std::string SetPrintToFile(bool toFile);
  std::string SetFileName(const std::string& name);
};

// The page number footer "&r&p" for a page: the number, right-aligned.
std::string FooterText(const std::string& format, int page);

// Print to file: the range (all lines, or the marked ones) into the file the
// Log File Name names, replacing it. An empty name is refused with the
// NoLogFileName box; a file this program is writing (the open log, a
// receive's file, the background log) is never replaced: a box says so and
// nothing is written. True when the file was written whole.
bool PrintLinesToFile(const TBrowse& store, const TSetupRecord& settings, const TLogFiles& files,
                      TDesktop& desktop, bool markedOnly);

// The refusal for printing into a file that is being written.
std::string FileInUseText(const std::string& name, bool isLog);
