#include "app/mainform.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>

#include "app/session.h"
#include "app/settingsfile.h"
#include "comms/transmit.h"
#include "core/desktop.h"
#include "core/paths.h"
#include "log/errors.h"
#include "log/logfiles.h"
#include "screen/selection.h"
#include "screen/store.h"
#include "screen/writer.h"
#include "terminal/interpreter.h"
#include "trace/convert.h"
#include "trace/decoder.h"
#include "trace/display.h"
#include "trace/mini.h"
#include "trace/tracefiles.h"
#include "transfer/engine.h"

namespace {
const TQuorixButtonText kQuorixButtons[qbCount] = {
    {"MH", "Display Msg Header On/Off", false},
    {"MB", "Display Msg Buffer On/Off", false},
    {"UB", "Display UserBuffer On/Off", false},
    {"CS", "Convert Set Elements On/Off", false},
    {"TR", "Trigger On/Off", false},
    {"CW", "Convert Word to Mode", true},
    {"CB", "Convert Byte to Mode", true},
    {"DM", "Display a Mode", true},
    {"CM", "Convert to mode while tracing On/Off", false},
    {"MI", "MINI Trace On/Off", false},
    {"CE", "ConvertError ON/OFF", false},
};

constexpr const char* kBackgroundFilter = "QEL Screen Background File (*.SBF)|*.SBF";

bool FileExists(const std::string& name) {
  struct stat info {};
  return stat(name.c_str(), &info) == 0;
}

std::string LocalTimeText() {
  const std::time_t now = std::time(nullptr);
  std::tm local {};
  localtime_r(&now, &local);
  char text[64];
  std::strftime(text, sizeof text, "%d.%m.%Y %H:%M:%S", &local);
  return text;
}

// The file, matched case-insensitively (names from Windows); empty when absent.
std::string FindFileNoCase(const std::string& name) {
  const std::string found = MatchCaseInsensitive(name);
  return FileExists(found) ? found : std::string();
}

void Flip(std::uint8_t& flag) { flag = flag ? 0 : 1; }
}  // namespace

const TQuorixButtonText& QuorixButtonText(TQuorixButton button) { return kQuorixButtons[button]; }

TMainForm::TMainForm(TSession& session)
    : S(session), Handover(session), Events(session), Reconnect(session.Connection) {
  Events.OnChanged = [this] { Changed(); };
  Events.OnNetworkUp = [this](int kind) { Reconnect.SessionUp(kind); };
  Events.OnNetworkLost = [this](const std::string& text, int kind) {
    return Reconnect.SessionLost(kind, text) ? Reconnect.Description() : std::string();
  };
  Reconnect.Open = [this](int kind) { OpenNetwork(kind); };
}

void TMainForm::TimerTick() {
  Handover.TimerTick();
  Reconnect.Tick();
  const std::string text = Reconnect.PanelText();
  if (text != S.Status.Reconnecting) {
    S.Status.Reconnecting = text;
    ++S.Status.Changes;
    if (OnStateChanged) OnStateChanged();
  }
}

void TMainForm::Changed() {
  S.Writer->UpdateStatusBar();
  if (OnStateChanged) OnStateChanged();
}

// --- Life cycle ---

void TMainForm::StartUp(const std::string& commandLineArgument, bool askForBackground) {
  S.Writer->ResetTerminal();
  S.Screen->Clear();
  S.SettingsFiles->ReadRecentList();
  if (!commandLineArgument.empty()) {
    std::string name = commandLineArgument;
    // Only the file's own name counts: a dot in a directory is no extension.
    const std::size_t slash = name.find_last_of('/');
    if (name.find('.', slash == std::string::npos ? 0 : slash + 1) == std::string::npos) name += ".mse";
    S.SettingsFiles->OpenQelSetFile(name);
  }
  const std::string background = askForBackground ? ChooseBackgroundFile() : std::string();
  if (!background.empty()) LoadBackgroundFile(background);
  const int attribute = S.Writer->DefaultAttribute();
  // The terminal screen (the last Rows lines) starts below the restored
  // lines: the greeting and the host's output never write over them. Blank
  // lines at the end of the file (the last session's empty screen rows) are
  // taken over, so the file does not grow by a screen at every start.
  const int lines = std::max(101, S.Screen->Count() + S.Screen->Rows - TrailingBlankLines(S.Screen->Rows));
  while (S.Screen->Count() < lines) S.Screen->AddLine(TBrowse::BlankRow(), attribute, true);
  S.Writer->WriteLine("Logged in at : " + (Now ? Now() : LocalTimeText()), attribute);
  S.Writer->WriteLine("", attribute);
  Changed();
}

// Blank lines at the end of the store, counting at most `limit` of them.
int TMainForm::TrailingBlankLines(int limit) const {
  const TBrowse& screen = *S.Screen;
  int blank = 0;
  char scratch[TBrowse::kMaxLineLength];
  for (int line = screen.Count() - 1; line >= 0 && blank < limit; --line, ++blank) {
    const std::string_view text = screen.GetLineTextView(line, scratch);
    if (text.find_first_not_of(' ') != std::string_view::npos) break;
  }
  return blank;
}

std::string TMainForm::ChooseBackgroundFile() {
  const std::string& directory = S.ProgramDirectory;
  TFileDialog open;
  open.Title = "Open QEL Screen Background File";
  open.Filter = kBackgroundFilter;
  open.DefaultExtension = "SBF";
  open.MustExist = true;
  open.InitialDirectory = directory;
  const std::string existing = FindFileNoCase(directory + kBackgroundFile);
  if (!existing.empty()) {
    const TMsgResult answer = S.Desktop.ShowMessage(
        {TMsgIcon::Confirmation,
         "Screen background file " + directory + "QELWIN.SBF already exists.\rDo you which to load this file?", "",
         mbYes | mbNo | mbCancel, 0});
    if (answer == TMsgResult::Yes) return existing;
    if (answer != TMsgResult::No) return "";
  } else {
    const TMsgResult answer = S.Desktop.ShowMessage(
        {TMsgIcon::Information,
         "Screen background file " + directory + "QELWIN.SBF does not exist.\rDo you which to load another file?", "",
         mbYes | mbNo, 0});
    if (answer != TMsgResult::Yes) return "";
  }
  return S.Desktop.FileDialog(open).value_or("");
}

void TMainForm::LoadBackgroundFile(const std::string& name) {
  TBrowse& screen = *S.Screen;
  screen.FileName = name;
  screen.FileType = TBrowse::ftText;
  screen.Medium = TBrowse::mtDiskReadWrite;
  const std::string shownName = S.ProgramDirectory + "QelWin.SBF";
  if (screen.OpenFile() != 0) {
    S.Errors->ReportError(ekFileAccess, screen.LastError, shownName);
    screen.FileName.clear();
    screen.Medium = TBrowse::mtMemoryOnly;
    return;
  }
  if (screen.LoadFile() != 0) S.Errors->ReportError(ekFileAccess, screen.LastError, shownName);
}

bool TMainForm::CloseQuery() {
  if (S.Desktop.ShowMessage({TMsgIcon::Warning, "Do you really want to quit?", "", mbYes | mbNo, 0}) !=
      TMsgResult::Yes) {
    return false;
  }
  const TMsgResult save = S.Desktop.ShowMessage({TMsgIcon::Information,
                                                 "Do you which to save the Screen Background File ?", "",
                                                 mbYes | mbNo | mbCancel, 0});
  if (save != TMsgResult::Yes && save != TMsgResult::No) return false;
  CloseConnectionsAndFiles();
  if (save == TMsgResult::Yes) SaveBackgroundFile();
  return true;
}

void TMainForm::CloseConnectionsAndFiles() {
  Reconnect.Cancel();
  S.Transmit->ConnectionControl(ckSerial, ctClose);
  S.Transmit->ConnectionControl(ckNetwork, ctClose);
  S.Files->CloseAll();
  S.TraceFiles->CloseTraceFiles();
  S.Kasp->CloseKaspFiles();
  S.Kasp->CloseErrorFile();
  Changed();
}

void TMainForm::SaveBackgroundFile() {
  const std::string& directory = S.ProgramDirectory;
  const std::string copy = directory + kBackgroundCopy;
  TBrowse& screen = *S.Screen;
  screen.FileName = directory + kBackgroundFile;
  screen.FileType = TBrowse::ftText;
  if (screen.SaveToFile(copy) != 0) {
    S.Errors->ReportError(ekFileAccess, screen.LastError, copy);
    return;
  }
  screen.Clear();
  screen.CloseFile();

  std::string target = directory + "QelWin.SBF";
  const std::string existing = FindFileNoCase(target);
  if (!existing.empty()) {
    const TMsgResult answer = S.Desktop.ShowMessage(
        {TMsgIcon::Confirmation,
         "Screen Background File " + directory + "QELWIN.SBF already exists.\n\rDo you which to overwrite?", "",
         mbYes | mbNo | mbCancel, 0});
    if (answer == TMsgResult::Yes) {
      target = existing;
      unlink(existing.c_str());
    } else if (answer == TMsgResult::No) {
      TFileDialog save;
      save.Save = true;
      save.Title = "Save Screen Background File";
      save.Filter = kBackgroundFilter;
      save.DefaultExtension = "SBF";
      save.InitialName = "QELWIN.SBF";
      save.InitialDirectory = directory;
      const std::optional<std::string> chosen = S.Desktop.FileDialog(save);
      if (!chosen) return;
      target = *chosen;
      unlink(target.c_str());
    } else {
      return;  // the copy stays
    }
  }
  RenameCopyTo(copy, target);
}

bool TMainForm::RenameCopyTo(const std::string& copy, const std::string& target) {
  if (std::rename(copy.c_str(), target.c_str()) == 0) return true;
  // Another file system: copy in blocks, then remove the copy.
  std::FILE* in = std::fopen(copy.c_str(), "rb");
  std::FILE* out = in ? std::fopen(target.c_str(), "wb") : nullptr;
  bool written = in && out;
  if (written) {
    char block[2048];
    std::size_t n;
    while ((n = std::fread(block, 1, sizeof block, in)) > 0) {
      if (std::fwrite(block, 1, n, out) != n) {
        written = false;
        break;
      }
    }
    if (std::ferror(in)) written = false;
  }
  if (in) std::fclose(in);
  if (out && std::fclose(out) != 0) written = false;
  if (!written) {
    // The copy is kept whole, so nothing of the screen is lost.
    S.Desktop.ShowMessage({TMsgIcon::Error,
                           "File access error when trying save the Screen background file\rA copy is still "
                           "available as file = " + S.ProgramDirectory + "QELWIN.@#@",
                           "", mbOK, 0});
    return false;
  }
  unlink(copy.c_str());
  return true;
}

// --- Commands ---

void TMainForm::LogFile() {
  S.Files->ToggleLogFile();
  Changed();
}

void TMainForm::ConnectSerial() {
  const std::uint8_t result = S.Transmit->ConnectionControl(ckSerial, ctOpen);
  if (result == crSerial || result == crBoth) {
    TConnectionControls& c = Events.Controls;
    c.ConnectItem = false;
    c.DisconnectItem = true;
    c.SerialDisconnectButton = true;
    c.SerialConnectButton = false;
  }
  Changed();
}

// The user's own connects and disconnects end any reconnecting.
void TMainForm::ConnectNetwork() {
  Reconnect.Cancel();
  OpenNetwork(ckNetwork);
}

void TMainForm::ConnectSecure() {
  Reconnect.Cancel();
  OpenNetwork(ckSecure);
}

void TMainForm::ConnectNetworkButton() {
  Reconnect.Cancel();
  OpenNetwork(S.Connection.NetworkKind == nkSsh ? ckSecure : ckNetwork);
}

void TMainForm::OpenNetwork(int kind) {
  const std::uint8_t result = S.Transmit->ConnectionControl(kind, ctOpen);
  if (result == crNetwork || result == crBoth) {
    TConnectionControls& c = Events.Controls;
    c.ConnectItem = false;
    c.DisconnectItem = true;
    c.NetworkConnectButton = false;
    c.NetworkDisconnectButton = true;
  }
  Changed();
}

void TMainForm::Listen() {
  Reconnect.Cancel();
  S.Transmit->StartListen();
  Changed();
}

void TMainForm::DisconnectSerial() {
  S.Transmit->ConnectionControl(ckSerial, ctClose);
  S.Transfer->LineEnded();
  TConnectionControls& c = Events.Controls;
  c.ConnectItem = true;
  c.SerialConnectButton = true;
  c.SerialDisconnectButton = false;
  c.DisconnectItem = false;
  Changed();
}

void TMainForm::DisconnectNetwork() {
  Reconnect.Cancel();
  S.Transmit->ConnectionControl(ckNetwork, ctClose);
  S.Transfer->LineEnded();
  TConnectionControls& c = Events.Controls;
  c.ConnectItem = true;
  c.NetworkConnectButton = true;
  c.NetworkDisconnectButton = false;
  c.DisconnectItem = false;
  Changed();
}

void TMainForm::SendBreak() { S.Transmit->SendBreak(); }

void TMainForm::ResetTerminal() {
  S.Writer->ResetTerminal();
  CancelTransfer();
  TConnectionControls& c = Events.Controls;
  c = TConnectionControls{};
  c.DisconnectItem = c.SerialDisconnectButton = c.NetworkDisconnectButton = true;
  TTransferEngine& engine = *S.Transfer;
  engine.Activities = 0;
  engine.SendQueue.clear();
  Handover.TickBusy = false;
  S.Transmit->TranslateEnabled = true;
  S.Transmit->EorOption = false;
  S.Transmit->LineBuffer.clear();
  while (S.Errors->DialogShowing) S.Errors->EndModal();
  if (Handover.HoldScreen()) ReleaseHold();
  if (OnSettingsApplied) OnSettingsApplied();
  Changed();
}

void TMainForm::CancelTransfer() {
  TTransferEngine& engine = *S.Transfer;
  engine.Activities &= ~static_cast<std::uint32_t>(acSimulate | acPlayback | acPasteSend | acPasteReceive);
  if (!engine.PadsPrompt.Collecting) {
    if (engine.TransferActive && engine.ReceiveKind != 2) engine.Activities &= ~static_cast<std::uint32_t>(acFileSend);
    S.Files->CloseTransferFile();
  }
  State.TransfersEnabled = true;
  State.GaugeVisible = false;
  Changed();
}

void TMainForm::Debug() {
  if (State.DebugChecked) {
    S.Files->StopEscapeLog();
    State.DebugChecked = false;
  } else {
    State.DebugChecked = S.Files->StartEscapeLog();
  }
  Changed();
}

void TMainForm::HoldScreen() {
  Handover.HoldScreenOn();
  S.Screen->Options |= boMarkCursorLine | boListBox;
  if (OnHoldChanged) OnHoldChanged(true);
  Changed();
}

bool TMainForm::ReleaseHold() {
  if (!Handover.HoldScreen()) return false;
  S.Screen->Options &= ~static_cast<unsigned>(boMarkCursorLine | boListBox);
  Handover.ReleaseHold();
  if (OnHoldChanged) OnHoldChanged(false);
  Changed();
  return true;
}

void TMainForm::TransferStarted(int size) {
  State.TransfersEnabled = false;
  State.GaugeVisible = true;
  State.GaugeProgress = 0;
  State.GaugeMax = size > 0 ? size : 1;
  Changed();
}

void TMainForm::TransferEnded() {
  State.TransfersEnabled = true;
  State.GaugeVisible = false;
  Changed();
}

namespace {
// A message's user buffer lines may follow the marked lines.
constexpr int kLinesAfterMark = 100;

void AddLines(const TBrowse& screen, TMarkedText& area, int from, int to) {
  for (int line = from; line <= to && line < screen.Count(); ++line) area.Lines.push_back(screen.GetLineText(line));
}
}  // namespace

TMarkedText TMainForm::MarkedSelection() const {
  TMarkedText area;
  const TBrowse& screen = *S.Screen;
  if (!HasSelection(screen)) return area;
  const auto [firstLine, firstColumn] = MarkFirst(screen, 2);
  const auto [lastLine, lastColumn] = MarkLast(screen, 2);
  if (firstLine < 0 || lastLine < firstLine) return area;
  AddLines(screen, area, firstLine, lastLine);
  area.MarkedLines = area.Lines.size();
  area.FirstColumn = std::max(1, firstColumn);
  area.LastColumn = std::max(0, lastColumn);
  AddLines(screen, area, lastLine + 1, lastLine + kLinesAfterMark);
  return area;
}

TMarkedText TMainForm::MarkedAt(int line, int column) const {
  TMarkedText area;
  const TBrowse& screen = *S.Screen;
  if (line < 0 || line >= screen.Count()) return area;
  AddLines(screen, area, line, line + kLinesAfterMark);
  area.MarkedLines = 1;
  area.FirstColumn = std::clamp(column, 1, TBrowse::ScreenXSizeMax);
  return area;
}

void TMainForm::ConvertAt(int line, int column) {
  if (S.Settings.Emulation != emQuorix) return;
  const TMarkedText area = MarkedAt(line, column);
  if (area.Lines.empty()) return;
  ConvertMarkedArea(S, ckMarked, area);
  Changed();
}

bool TMainForm::QuorixButtonOn(TQuorixButton button) const {
  const TSetupRecord& settings = S.Settings;
  switch (button) {
    case qbMsgHeader: return settings.DisplayMsgHeader != 0;
    case qbMsgBuffer: return settings.DisplayMsgBuffer != 0;
    case qbUserBuffer: return settings.DisplayUserBuffer != 0;
    case qbConvertSet: return settings.ConvertSetElements != 0;
    case qbTrigger: return S.Trace->TriggerEnabled;
    case qbTrace: return S.Trace->TraceState == TTraceDecoder::tsConverting;
    case qbMini: return S.Mini->WantsCharacters();
    case qbConvertError: return S.Kasp->ErrorFileOpen;
    default: return false;
  }
}

void TMainForm::QuorixCommand(TQuorixButton button, const TMarkedText* marked) {
  if (!QuorixOnly(S)) return;
  TSetupRecord& settings = S.Settings;
  switch (button) {
    case qbMsgHeader: Flip(settings.DisplayMsgHeader); break;
    case qbMsgBuffer: Flip(settings.DisplayMsgBuffer); break;
    case qbUserBuffer: Flip(settings.DisplayUserBuffer); break;
    case qbConvertSet: Flip(settings.ConvertSetElements); break;
    case qbTrigger: S.Trace->SetTriggerEnabled(!S.Trace->TriggerEnabled); break;
    case qbConvertWord:
    case qbConvertByte:
      if (marked && !marked->Lines.empty()) {
        ConvertMarkedArea(S, button == qbConvertWord ? ckWordDump : ckByteDump, *marked);
      }
      break;
    case qbDisplayMode: ShowModeDialog(S, true); break;
    case qbTrace:
      S.TraceFiles->ToggleTrace();
      S.Trace->AbortRequested = false;
      break;
    case qbMini:
      if (S.Mini->WantsCharacters()) {
        S.Mini->MiniTraceOff();
      } else {
        S.Mini->MiniTraceOn();
      }
      break;
    case qbConvertError:
      S.Kasp->ToggleConvertError();
      S.Trace->AbortRequested = false;
      break;
    case qbCount: break;
  }
  Changed();
}
