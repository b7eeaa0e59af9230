#include "auxwin/printcommand.h"

#include "auxwin/printing.h"
#include "core/desktop.h"
#include "core/settings.h"
#include "log/logfiles.h"

TPrintChoice PrintPresets(const TSetupRecord& settings) {
  return {settings.PrintRange == 1, settings.PrintToFile != 0};
}

void StorePrintChoice(TSetupRecord& settings, const TPrintChoice& choice) {
  settings.PrintRange = choice.MarkedOnly ? 1 : 0;
  settings.PrintToFile = choice.ToFile ? 1 : 0;
}

std::string TPagePrinterSetup::SetLandscape(bool landscape) {
  if (Printing) return "Unable to change orientation while printing";
  Landscape = landscape;
  return {};
}

std::string TPagePrinterSetup::SetMargin(TMargin margin, double millimetres) {
  static const char* const kRefusals[4] = {
      "Unable to change top margin while printing", "Unable to change bottom margin while printing",
      "Unable to change left margin while printing", "Unable to change right margin while printing"};
  if (Printing) return kRefusals[margin];
  Margins[margin] = millimetres;
  return {};
}

std::string TPagePrinterSetup::SetPrintToFile(bool toFile) {
  if (Printing) return "Can't change PrintToFile while printing";
  PrintToFile = toFile;
  return {};
}

std::string TPagePrinterSetup::SetFileName(const std::string& name) {
  if (Printing) return "Can't change FileName while printing";
  FileName = name;
  return {};
}

std::string FooterText(const std::string& format, int page) {
  // "&r" aligns right (the window draws it so); "&p" is the page number.
  std::string out;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '&' && i + 1 < format.size()) {
      const char code = format[++i];
      if (code == 'p') out += std::to_string(page);
      if (code == '&') out += '&';
      continue;
    }
    out += format[i];
  }
  return out;
}

std::string FileInUseText(const std::string& name, bool isLog) {
  if (isLog) return "The Log File " + name + " is open.\rClose it (File|Logfile) before printing into it";
  return "The file " + name + " is being written.\rUnable to print into it";
}

bool PrintLinesToFile(const TBrowse& store, const TSetupRecord& settings, const TLogFiles& files,
                      TDesktop& desktop, bool markedOnly) {
  const std::string name = settings.LogFileName.str();
  if (name.empty()) {
    desktop.ShowMessage({TMsgIcon::Error, kNoLogFileNameText, "", mbOK | mbHelp, 0});
    return false;
  }
  // Replacing the file would cut what is being written into it from under it.
  if (const TLogFiles::TWrittenFile held = files.WritesTo(name); held != TLogFiles::wfNone) {
    desktop.ShowMessage({TMsgIcon::Error, FileInUseText(name, held == TLogFiles::wfLog), "", mbOK, 0});
    return false;
  }
  return SaveLinesToFile(store, name, markedOnly, desktop);
}
