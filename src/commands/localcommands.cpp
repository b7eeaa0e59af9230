#include "commands/localcommands.h"

#include <cerrno>

#include "app/session.h"
#include "commands/definitionsearch.h"
#include "comms/comm.h"
#include "comms/transmit.h"
#include "core/ascii.h"
#include "core/desktop.h"
#include "core/paths.h"
#include "core/text.h"
#include "log/errors.h"
#include "log/file.h"
#include "log/logfiles.h"
#include "screen/writer.h"
#include "terminal/keyboard.h"
#include "trace/mini.h"
#include "trace/tracefiles.h"
#include "transfer/engine.h"
#include "transfer/padssession.h"

namespace {
constexpr int kEraseStepMs = 50;
constexpr int kAfterEraseMs = 100;
constexpr int kLineSpeedSettleMs = 2000;

constexpr const char* kLogFilter = "Log Files (*.LOG)|*.LOG|TXT Files (*.TXT)|*.TXT|All Files (*.*)|*.*";
constexpr const char* kIncludeFilter =
    "Macro Files (*.MAC)|*.MAC|Log Files   (*.LOG)|*.LOG|TXT Files   (*.TXT)|*.TXT|All Files   (*.*)|*.*";
constexpr const char* kPlaybackActive =
    "Playback is already active\rPlayBack and sending can't be active at the same time";

bool StartsWith(std::string_view text, std::string_view start) { return text.substr(0, start.size()) == start; }

std::size_t NameStart(const std::string& path) {
  const std::size_t separator = path.find_last_of("/\\");
  return separator == std::string::npos ? 0 : separator + 1;
}

// The line speeds "BDR " may select, as serial rates.
std::optional<TBaudRate> LineSpeed(std::string_view text) {
  std::string_view digits = text;
  if (!digits.empty() && digits.back() == 'T') digits.remove_suffix(1);
  else if (digits.size() > 4) return std::nullopt;
  if (!IsRecordNumber(digits) || digits.size() > 9) return std::nullopt;
  switch (std::stoul(std::string(digits))) {
    case 300: return cbr300;
    case 1200: return cbr1200;
    case 2400: return cbr2400;
    case 4800: return cbr4800;
    case 9600: return cbr9600;
    default: return std::nullopt;
  }
}

// The escape action interrupts a lookup: its hook is widened for the run only,
// so whatever the window hooked there keeps running too.
class TEscapeInterrupts {
 public:
  TEscapeInterrupts(TKeyboard& keyboard, bool& interrupted)
      : Keyboard(keyboard), Previous(keyboard.EscapeActionHook) {
    Keyboard.EscapeActionHook = [&interrupted, previous = Previous] {
      interrupted = true;
      if (previous) previous();
    };
  }
  ~TEscapeInterrupts() { Keyboard.EscapeActionHook = Previous; }
  TEscapeInterrupts(const TEscapeInterrupts&) = delete;
  TEscapeInterrupts& operator=(const TEscapeInterrupts&) = delete;

 private:
  TKeyboard& Keyboard;
  std::function<void()> Previous;
};
}  // namespace

std::string FilterWithExtension(const std::string& proposed, const char* filter) {
  const std::size_t dot = proposed.rfind('.');
  if (dot == std::string::npos || dot < NameStart(proposed)) return filter;
  const std::string extension = proposed.substr(dot);
  return extension + "|*" + extension + "|" + filter;
}

TLocalCommands::TLocalCommands(TSession& session) : S(session) {}

TLocalCommands::~TLocalCommands() {
  if (S.Keyboard) S.Keyboard->OfferLocalCommand = nullptr;
}

std::unique_ptr<TLocalCommands> InstallLocalCommands(TSession& session) {
  auto commands = std::make_unique<TLocalCommands>(session);
  TLocalCommands* interpreter = commands.get();
  session.Keyboard->OfferLocalCommand = [interpreter](const std::string& line) {
    return interpreter->LocalCommand(line);
  };
  commands->LoadCommandDefinitions();
  return commands;
}

// ------------------------------------------------------------------ the line

bool TLocalCommands::LocalCommand(const std::string& line) {
  const std::string_view trimmed = TrimBlanks(line);
  const std::string upper = UpperCase(trimmed);

  if (S.Transfer->PadsPrompt.Collecting) return PadsPasswordEntered();
  if (upper == "COL") {
    SwitchTraceOnCol();
    return false;
  }
  if (upper == ":COL" || upper == ":RTB") {
    SwitchMiniTraceOnCol();
    return false;
  }
  if (StartsWith(upper, "LON")) return LogOn(line, TrimBlanks(trimmed.substr(3)));
  if (upper == "LOFF") return LogOff(line);
  if (StartsWith(upper, "BAT ") || StartsWith(upper, "INC ")) return IncludeFile(line, TrimBlanks(trimmed.substr(4)));
  if (StartsWith(upper, "PAD")) {
    ArmPadsWatch();
    return false;
  }
  if (StartsWith(upper, "BDR ")) {
    ChangeLineSpeed(TrimBlanks(std::string_view(upper).substr(4)));
    return false;
  }
  if (StartsWith(upper, "MFTON")) return MiniTrace(line, true);
  if (StartsWith(upper, "MFTOFF")) return MiniTrace(line, false);
  return LookUp(line, upper);
}

// The host asked for the PADS password and this line answers it: from now on
// received bytes fill the capture ring the PADS window reads.
bool TLocalCommands::PadsPasswordEntered() {
  S.Transmit->FlushInput();
  pads::StartCapture(S);
  if (PadsCapturing) PadsCapturing();
  S.Writer->UpdateStatusBar();
  return false;
}

void TLocalCommands::SwitchTraceOnCol() {
  if (S.Settings.ColTurnsTrace) S.TraceFiles->TraceOn();
  S.Files->StartBackgroundLog();
  Refresh();
}

void TLocalCommands::SwitchMiniTraceOnCol() {
  if (S.Settings.ColTurnsMiniTrace) {
    S.Mini->MiniTraceOn();
    if (S.Settings.ColTurnsTrace) S.TraceFiles->TraceOn();
  }
  S.Files->StartBackgroundLog();
  Refresh();
}

bool TLocalCommands::LogOn(const std::string& line, std::string_view rest) {
  EraseTypedText(line);
  const std::string proposed = rest.empty() ? S.ProgramDirectory + "QELWIN.LOG" : std::string(rest);
  if (S.Files->LogOpen) S.Files->CloseLogFile();
  if (const std::optional<std::string> chosen = AskForFile("Open Log File", kLogFilter, proposed)) {
    S.Settings.LogFileName = *chosen;
    S.Files->OpenLogFile();
  }
  Refresh();
  return true;
}

bool TLocalCommands::LogOff(const std::string& line) {
  S.Files->CloseLogFile();
  EraseTypedText(line);
  Refresh();
  return true;
}

bool TLocalCommands::IncludeFile(const std::string& line, std::string_view rest) {
  EraseTypedText(line);
  if (rest.empty()) return true;
  const std::optional<std::string> chosen = AskForFile("Open Include File", kIncludeFilter, std::string(rest));
  if (!chosen) return true;

  TTransferEngine& engine = *S.Transfer;
  if (engine.Activities & acPlayback) {
    S.Desktop.ShowMessage({TMsgIcon::Error, kPlaybackActive, "", mbOK | mbHelp, 0});
    return true;
  }
  // A capture for PADS owns the transfer state; a send now would steal its bytes.
  if (engine.TransferActive) {
    S.Writer->Beep();
    return true;
  }
  S.Files->TransferFileName = *chosen;
  engine.ReceiveKind = rkUser;
  if (!S.Files->OpenTransferFile(0)) return true;
  engine.TransferActive = true;
  engine.Direction = drSend;
  engine.Activities |= acFileSend;
  // The file's size rides along for the gauge's maximum.
  S.Desktop.PostMessage(wmTransferStarted, static_cast<std::intptr_t>(S.Files->TransferFileSize));
  S.Writer->UpdateStatusBar();
  return true;
}

void TLocalCommands::ArmPadsWatch() {
  pads::ArmPasswordWatch(S);
  if (StartPads) StartPads();
  Refresh();
}

void TLocalCommands::ChangeLineSpeed(std::string_view rest) {
  const std::optional<TBaudRate> rate = LineSpeed(rest);
  if (!rate) return;
  S.Settings.BaudRate = *rate;
  S.Transmit->SendByte(CR);
  S.Desktop.Wait(kLineSpeedSettleMs);
  if (S.Transmit->SerialConnected) S.Transmit->ConnectionControl(ckSerial, ctReconfigure);
}

bool TLocalCommands::MiniTrace(const std::string& line, bool on) {
  if (on) S.Mini->MiniTraceOn();
  else S.Mini->MiniTraceOff();
  Refresh();
  EraseTypedText(line);
  return true;
}

// ------------------------------------------------------------- the lookups

bool TLocalCommands::LookUp(const std::string& line, const std::string& upper) {
  if (CommandDefinitionList.empty()) return false;
  const std::size_t blank = upper.find(' ');
  const std::string keyword = upper.substr(0, blank);
  const std::string argument =
      blank == std::string::npos ? std::string() : std::string(TrimBlanks(std::string_view(upper).substr(blank)));
  const TCommandDefinition* found = nullptr;
  for (const TCommandDefinition& definition : CommandDefinitionList) {
    if (definition.Name == keyword) {
      found = &definition;
      break;
    }
  }
  if (!found) return false;
  // Far right of what was typed: the host's own prompt is long, so the word
  // is taken for one of the host's.
  const int column = S.Writer->State.CursorColumn;
  if (argument.empty() && column - static_cast<int>(line.size()) > 9) return false;
  // A lookup started from the window's message loop during a run waits its turn at the host.
  if (Running) return false;
  // A copy: a reload while the run lets the window work must not pull it away.
  const TCommandDefinition definition = *found;
  EraseTypedTextSlowly(line);
  RunDefinition(definition, argument);
  return true;
}

void TLocalCommands::RunDefinition(const TCommandDefinition& definition, const std::string& argument) {
  struct TRunning {
    bool& Flag;
    explicit TRunning(bool& flag) : Flag(flag) { Flag = true; }
    ~TRunning() { Flag = false; }
  } running(Running);
  Interrupted = false;
  const TEscapeInterrupts escape(*S.Keyboard, Interrupted);

  TSearchHooks hooks;
  hooks.Line = [this](std::string_view text) { S.Writer->WriteLine(text, S.Writer->DefaultAttribute()); };
  hooks.Interrupted = [this] {
    S.Desktop.ProcessPendingMessages();
    return Interrupted;
  };
  hooks.Bell = [this] { S.Writer->Beep(); };

  const TSearchResult result = RunSearch(definition, argument, hooks);
  if (result.End == TSearchEnd::seOpenFailed) {
    S.Errors->ReportErrno(ekFileAccess, result.Error,
                          definition.DataFile + "\rCheck Command File for correct command");
    return;
  }
  // An interrupted record search ends quietly; the others give the host's prompt back.
  const bool promptAgain = result.End == TSearchEnd::seFinished || definition.SearchMethod >= smNumberedSearch;
  if (promptAgain) S.Transmit->SendByte(CR);
}

// ---------------------------------------------------------- the definitions

void TLocalCommands::LoadCommandDefinitions() {
  CommandDefinitionList.clear();
  const std::string name = S.Settings.CommandFileName.str();
  if (name.empty()) return;
  std::string text;
  const int error = ReadWholeFile(name, kCommandFileLimit, text);
  if (error == ENOMEM) {
    S.Errors->ReportError(ekMessage, 0,
                          "An error occurred processing the information in " + name + "." + char(CR) +
                              "The file is larger than 16 MB and was not loaded.");
    return;
  }
  if (error != 0) {
    S.Errors->ReportErrno(ekFileAccess, error, name);
    return;
  }
  TCommandFile parsed = ParseCommandFile(text);
  CommandDefinitionList = std::move(parsed.Definitions);
  ReportLoadErrors(name, parsed);
}

void TLocalCommands::ReportLoadErrors(const std::string& fileName, const TCommandFile& file) {
  const std::size_t shown = std::min(file.Errors.size(), kErrorBoxesMax);
  for (std::size_t i = 0; i < shown; ++i)
    S.Errors->ReportError(ekMessage, 0, CommandFileErrorText(fileName, file.Errors[i]));
  if (file.Errors.size() > shown) {
    S.Errors->ReportError(ekMessage, 0,
                          "An error occurred processing the information in " + fileName + "." + char(CR) +
                              std::to_string(file.Errors.size() - shown) + " more lines with errors are not shown.");
  }
}

// ----------------------------------------------------------------- helpers

void TLocalCommands::EraseTypedText(const std::string& line) {
  const char erase = S.Settings.BackSpaceSends == 1 ? DEL : BS;
  S.Transmit->QueueSendString(std::string(line.size(), erase));
}

void TLocalCommands::EraseTypedTextSlowly(const std::string& line) {
  const std::uint8_t erase = S.Settings.BackSpaceSends == 1 ? DEL : BS;
  for (std::size_t i = 0; i < line.size(); ++i) {
    S.Transmit->SendByte(erase);
    S.Desktop.Wait(kEraseStepMs);
  }
  S.Desktop.Wait(kAfterEraseMs);
}

std::optional<std::string> TLocalCommands::AskForFile(const char* title, const char* filter, std::string proposed) {
  TFileDialog dialog;
  dialog.Title = title;
  dialog.Filter = FilterWithExtension(proposed, filter);
  const std::size_t nameStart = NameStart(proposed);
  dialog.InitialDirectory = nameStart > 0 ? proposed.substr(0, nameStart) : S.ProgramDirectory;
  dialog.InitialName = std::move(proposed);
  return S.Desktop.FileDialog(dialog);
}

void TLocalCommands::Refresh() {
  S.Writer->UpdateStatusBar();
  if (!S.Desktop.IsMessageQueued(wmWriteQuorixBar)) S.Desktop.PostMessage(wmWriteQuorixBar);
}
