#include "app/settingsfile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/connectionsettings.h"
#include "app/session.h"
#include "core/desktop.h"
#include "core/paths.h"
#include "core/settings.h"
#include "log/errors.h"
#include "screen/store.h"
#include "screen/writer.h"

namespace {
constexpr std::size_t kEbcdicMapSize = 512;
constexpr const char* kSettingsFilter = "QEL Settings (*.MSE)|*.MSE";
// The screen is never shorter than this after a settings file is opened.
constexpr int kPaddedLines = 101;

// Reads exactly count bytes: 0, or the system error code. With trailer
// given, what follows them (up to the trailer limit and one byte more) goes there.
std::uint32_t ReadRecord(const std::string& name, void* record, std::size_t count,
                         TFileFaults* faults, bool& opened, std::string* trailer = nullptr) {
  TFile file;
  file.SetFaults(faults);
  const int openError = file.OpenRead(name);
  opened = openError == 0;
  if (!opened) return SystemErrorCode(openError);
  const TIoResult read = file.Read(record, count);
  if (read.Error != 0) return SystemErrorCode(read.Error);
  if (read.Done < count) return kErrorHandleEof;
  if (trailer) {
    trailer->resize(kSettingsTrailerLimit + 1);
    const TIoResult rest = file.Read(trailer->data(), trailer->size());
    // The record is what counts; trailing bytes that cannot be read are as good as none.
    trailer->resize(rest.Error == 0 ? rest.Done : 0);
  }
  return 0;
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  TFile file;
  if (file.OpenRead(path) != 0) return lines;
  std::string text;
  char buffer[4096];
  for (;;) {
    const TIoResult read = file.Read(buffer, sizeof buffer);
    text.append(buffer, read.Done);
    if (read.Done < sizeof buffer) break;
  }
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

bool WriteLines(TFile& file, const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return file.Write(text.data(), text.size()).Done == text.size();
}

std::string RecentCaption(int item, const std::string& name) {
  return std::to_string(item) + ". " + name;
}

// The file a name stands for, through a symbolic link, so that replacing it
// keeps the link.
std::string ReplacementTarget(const std::string& name) {
  std::string path = NativeFileName(name);
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved)) path = resolved;
  }
  return path;
}
}  // namespace

TSettingsReadResult ReadSettingsRecord(const std::string& name, TSetupRecord& record, TFileFaults* faults,
                                       TConnectionSettings* extra) {
  TSettingsReadResult result;
  std::vector<std::uint8_t> buffer(kSetupRecordSize);
  std::string trailer;
  result.Error = ReadRecord(name, buffer.data(), buffer.size(), faults, result.Opened, extra ? &trailer : nullptr);
  if (result.Error != 0) return result;
  std::memcpy(static_cast<void*>(&record), buffer.data(), buffer.size());
  if (extra) {
    // Longer than any trailer of ours: not one, and not to be half-read.
    if (trailer.size() > kSettingsTrailerLimit) trailer.clear();
    result.TrailerDamaged = !DecodeSettingsTrailer(trailer, *extra);
  }
  return result;
}

std::uint32_t WriteSettingsRecord(const std::string& name, const TSetupRecord& record, TFileFaults* faults,
                                  const TConnectionSettings* extra) {
  std::string bytes(reinterpret_cast<const char*>(&record), kSetupRecordSize);
  if (extra) bytes += EncodeSettingsTrailer(*extra);
  // A failed save must not destroy the file it replaces: the record goes to a
  // file beside it, which then takes the name.
  const std::string target = ReplacementTarget(name);
  // Renaming over a pipe or a device would replace it with a plain file.
  struct stat existing;
  if (::stat(target.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) return SystemErrorCode(EACCES);
  const std::string temporary = target + ".$$$";
  TFile file;
  file.SetFaults(faults);
  int error = file.Create(temporary);
  if (error != 0) {
    // A directory we may not write in, holding a file we may: write it in
    // place. Not on other failures (a full disk), which would cost the old file.
    if ((error != EACCES && error != EPERM) || file.Create(target) != 0) return SystemErrorCode(error);
    const TIoResult written = file.Write(bytes.data(), bytes.size());
    if (written.Done == bytes.size()) return 0;
    return SystemErrorCode(written.Error);
  }
  const TIoResult written = file.Write(bytes.data(), bytes.size());
  if (written.Done != bytes.size()) error = written.Error;
  if (error == 0) error = file.Sync();
  file.Close();
  struct stat st;
  if (error == 0 && ::stat(target.c_str(), &st) == 0) ::chmod(temporary.c_str(), st.st_mode & 07777);
  if (error == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    return SystemErrorCode(error);
  }
  return 0;
}

std::string BareFileName(const std::string& name) {
  const std::size_t separator = name.find_last_of("\\:/");
  std::string bare = separator == std::string::npos ? name : name.substr(separator + 1);
  const std::size_t dot = bare.rfind('.');
  if (dot != std::string::npos) bare.erase(dot);
  return bare;
}

TSettingsFiles::TSettingsFiles(TSession& session) : S(session) {}

std::string TSettingsFiles::RecentListName() const {
  return MatchCaseInsensitive(S.ProgramDirectory + "QelWin.INI");
}

void TSettingsFiles::GetWindowParameters() {
  if (!WindowGeometry) return;
  const TWindowGeometry geometry = WindowGeometry();
  S.Settings.WindowLeft = geometry.Left;
  S.Settings.WindowTop = geometry.Top;
  S.Settings.WindowWidth = geometry.Width;
  S.Settings.WindowHeight = geometry.Height;
}

void TSettingsFiles::ShowName(const std::string& name) {
  Caption = std::string(kBaseCaption) + " : [" + name + "]";
  ApplicationTitle = BareFileName(name);
}

bool TSettingsFiles::OpenQelSetFile(const std::string& name) {
  if (name.empty()) return false;
  const TSettingsReadResult read = ReadSettingsRecord(name, S.Settings, &Faults, &S.Connection);
  if (!read.Opened) {
    S.Errors->ReportError(ekFileAccess, read.Error, name);
    return false;
  }
  // A record that could not be read is reported; the old one stays and is shown again.
  if (read.Error != 0) S.Errors->ReportError(ekFileAccess, read.Error, name);
  CurrentName = name;
  ShowName(name);
  AddRecentFile(name);
  S.Writer->BuildAttributes();
  if (ApplyWindowGeometry) {
    const TSetupRecord& r = S.Settings;
    ApplyWindowGeometry({r.WindowLeft, r.WindowTop, r.WindowWidth, r.WindowHeight});
  }
  if (SettingsLoaded) SettingsLoaded();
  // An empty screen is start-up's, which pads it after the background file:
  // blank lines here would stand above the restored ones, and the saved file
  // would grow by them at every start.
  const int blank = S.Writer->DefaultAttribute();
  while (S.Screen->Count() > 0 && S.Screen->Count() < kPaddedLines)
    S.Screen->AddLine(TBrowse::BlankRow(), blank, true);
  if (ReloadCommandDefinitions) ReloadCommandDefinitions();
  LoadEbcdicMap();
  S.Writer->UpdateStatusBar();
  return read.Error == 0;
}

bool TSettingsFiles::WriteCurrent(const std::string& name) {
  const std::uint32_t error = WriteSettingsRecord(name, S.Settings, &Faults, &S.Connection);
  if (error == 0) return true;
  S.Errors->ReportError(ekFileAccess, error, name);
  return false;
}

bool TSettingsFiles::Save() {
  if (CurrentName.empty()) return SaveAs();
  GetWindowParameters();
  const bool saved = WriteCurrent(CurrentName);
  AddRecentFile(CurrentName);
  return saved;
}

bool TSettingsFiles::SaveAs() {
  TFileDialog dialog;
  dialog.Save = true;
  dialog.Title = "Save Settings to an QEL Settings File";
  dialog.Filter = kSettingsFilter;
  dialog.DefaultExtension = "MSE";
  dialog.InitialName = CurrentName;
  dialog.InitialDirectory = S.ProgramDirectory;
  dialog.OverwritePrompt = true;
  const auto chosen = S.Desktop.FileDialog(dialog);
  if (!chosen || chosen->empty()) return false;
  CurrentName = *chosen;
  GetWindowParameters();
  const bool saved = WriteCurrent(CurrentName);
  ShowName(CurrentName);
  AddRecentFile(CurrentName);
  SaveEnabled = true;
  return saved;
}

bool TSettingsFiles::Open() {
  TFileDialog dialog;
  dialog.Title = "Open QEL Settings File";
  dialog.Filter = kSettingsFilter;
  dialog.DefaultExtension = "MSE";
  dialog.MustExist = true;
  const auto chosen = S.Desktop.FileDialog(dialog);
  if (!chosen || chosen->empty()) return false;
  CurrentName = *chosen;
  return OpenQelSetFile(CurrentName);
}

bool TSettingsFiles::OpenRecent(int item) {
  if (item < 1 || item > kRecentMax) return false;
  const std::string& caption = RecentItems[item - 1];
  if (caption.size() <= 3) return false;
  return OpenQelSetFile(caption.substr(3));
}

void TSettingsFiles::ReadRecentList() {
  const std::vector<std::string> lines = ReadLines(RecentListName());
  RecentItems = {};
  const int count = static_cast<int>(std::min<std::size_t>(lines.size(), kRecentMax));
  for (int i = 0; i < count; ++i) RecentItems[i] = RecentCaption(i + 1, lines[i]);
  RecentSeparatorVisible = count > 0;
  if (count > 0) CurrentName = lines[0];
}

void TSettingsFiles::AddRecentFile(const std::string& name) {
  // Names keep their case (Linux file names depend on it); duplicates are
  // recognised without regard to case, as the list always did.
  std::vector<std::string> lines{name};
  const std::string listName = RecentListName();
  if (FileCanBeOpened(listName)) {
    for (const std::string& line : ReadLines(listName)) {
      if (lines.size() == kRecentMax) break;
      if (EqualsIgnoreCase(line, name)) continue;
      lines.push_back(line);
    }
    const std::string temporary = S.ProgramDirectory + "###.$$$";
    TFile file;
    file.SetFaults(&Faults);
    if (file.Create(temporary) != 0) return;
    const bool written = WriteLines(file, lines);
    file.Close();
    if (!written || ::rename(temporary.c_str(), listName.c_str()) != 0) {
      ::unlink(temporary.c_str());
      return;
    }
  } else {
    TFile file;
    file.SetFaults(&Faults);
    if (file.Create(listName) != 0) return;
    if (!WriteLines(file, lines)) return;
  }
  RecentItems = {};
  for (std::size_t i = 0; i < lines.size(); ++i) {
    RecentItems[i] = RecentCaption(static_cast<int>(i) + 1, lines[i]);
  }
  RecentSeparatorVisible = true;
}

void TSettingsFiles::LoadEbcdicMap() {
  S.EbcdicMap.SetIdentity();
  const std::string name = S.Settings.EBCDICMapFileName.str();
  if (name.empty()) return;
  std::uint8_t map[kEbcdicMapSize];
  bool opened = false;
  const std::uint32_t error = ReadRecord(name, map, sizeof map, &Faults, opened);
  if (error != 0) {
    S.Errors->ReportError(ekFileAccess, error, name);
    return;
  }
  std::memcpy(S.EbcdicMap.Outgoing.data(), map, 256);
  std::memcpy(S.EbcdicMap.Incoming.data(), map + 256, 256);
}
