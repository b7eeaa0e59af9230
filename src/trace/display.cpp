#include "trace/display.h"

#include <cerrno>
#include <cstdio>

#include "app/session.h"
#include "core/desktop.h"
#include "core/paths.h"
#include "log/errors.h"
#include "log/file.h"
#include "trace/decoder.h"
#include "trace/linetext.h"
#include "trace/listing.h"
#include "trace/mini.h"
#include "trace/tracefiles.h"

namespace {
bool HostNamesOpen(const TSession& s) {
  const THostNameFiles& names = s.Kasp->Names;
  return names.MsgOpen() || names.VmiOpen() || names.BidOpen();
}

void NoModeFileBox(TSession& s) {
  s.Desktop.Beep();
  s.Errors->ReportError(ekMessage, 0, "No Mode Name File Specified\rEnter in Setup|Files");
}

// The listing lines go to the listing file, boxes to the user, and the
// user's break key ends the listing.
class TFileListing final : public TListingOutput {
 public:
  TFileListing(TSession& session, std::FILE* file) : S(session), File(file) {}
  void Line(std::string_view text) override {
    if (std::fwrite(text.data(), 1, text.size(), File) != text.size() || std::fputs("\r\n", File) < 0) {
      WriteFailed = true;
      if (WriteError == 0) WriteError = errno;
    }
  }
  void Message(const std::string& text) override { S.Errors->ReportError(ekMessage, 0, text); }
  bool Stop() override { return S.Trace->YieldStop(); }
  void Progress(std::uint64_t done, std::uint64_t total) override { S.Trace->CommandProgress(done, total); }

  bool WriteFailed = false;
  int WriteError = 0;

 private:
  TSession& S;
  std::FILE* File;
};
}  // namespace

// --- The files of one command ---

TModeCommandScope::TModeCommandScope(TSession& session)
    : S(session),
      SavedTraceState(session.Trace->TraceState),
      SavedHostNames(HostNamesOpen(session)),
      SavedTrigger(session.Trace->TriggerEnabled) {
  S.Trace->BeginCommand();
}

bool TModeCommandScope::Open(bool hostNames) {
  TTraceDecoder& trace = *S.Trace;
  // State 1 keeps only the host name files: the trace files are opened then too.
  if (!S.TraceFiles->TraceFilesOpen()) {
    trace.TraceState = TTraceDecoder::tsConverting;
    if (!S.TraceFiles->OpenTraceFiles()) return false;
    OpenedFiles = true;
  } else if (hostNames) {
    S.Kasp->OpenKaspFiles();
  }
  trace.TraceState = TTraceDecoder::tsConverting;
  return true;
}

void TModeCommandScope::SuspendTrigger() {
  if (SavedTrigger) S.Trace->SetTriggerEnabled(false);
  TriggerSuspended = true;
}

TModeCommandScope::~TModeCommandScope() {
  if (OpenedFiles) S.TraceFiles->CloseTraceFiles();
  // Opening the trace files opens the host name files too: close them again
  // when nothing had them open.
  if (SavedHostNames) {
    S.Kasp->OpenKaspFiles();
  } else if (SavedTraceState != TTraceDecoder::tsConverting && !S.Mini->WantsCharacters()) {
    S.Kasp->CloseKaspFiles();
  }
  S.Trace->TraceState = SavedTraceState;
  if (TriggerSuspended && SavedTrigger) S.Trace->SetTriggerEnabled(true);
  S.Trace->EndCommand();
}

// --- Display Mode ---

void ShowFileInMemo(TSession& s, const std::string& path, const std::string& title, const char* displayName) {
  // A listing larger than this is not what the viewer is for; it is refused
  // before it takes the memory.
  constexpr std::size_t kMemoLimit = std::size_t(64) << 20;
  std::string text;
  if (const int error = ReadWholeFile(path, kMemoLimit, text); error != 0) {
    s.Errors->ReportErrno(ekFileAccess, error, displayName);
    return;
  }
  TMemoText memo;
  memo.Title = title;
  memo.Text = std::move(text);
  s.Desktop.ShowMemo(memo);
}

void DisplayMode(TSession& s) {
  if (s.Trace->Command.Running) return;  // one command on the mode files at a time
  if (s.Settings.ModeFileName.empty()) {
    NoModeFileBox(s);
    return;
  }
  TModeCommandScope scope(s);
  if (!scope.Open(false)) return;

  const std::string path = s.ProgramDirectory + kListingFileName;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    s.Errors->ReportErrno(ekFileAccess, errno, kListingDisplayName);
    return;
  }
  const std::string name = UpperCase(TrimSpaces(s.Settings.DisplayModeName.view()));
  if (name.empty()) {
    std::fclose(file);
    return;
  }

  TFileListing output(s, file);
  TModeLister lister(*s.TraceFiles->FileSet(), output, s.Settings.ConvertSetElements != 0);
  const bool found = lister.ListName(name);
  const bool closed = std::fclose(file) == 0;
  if (!found) {
    s.Errors->ReportError(ekMessage, 0, "Mode name not found");
    return;
  }
  if (output.WriteFailed || !closed) {
    s.Errors->ReportErrno(ekFileAccess, output.WriteError != 0 ? output.WriteError : errno, kListingDisplayName);
    return;
  }
  if (lister.BrokenOff()) return;
  ShowFileInMemo(s, path, name + "  Display Mode", kListingDisplayName);
}

bool ShowModeDialog(TSession& s, bool displayOnOk) {
  const std::string list = s.Settings.ModeFileName.empty() ? std::string() : s.Settings.ModeFileName.str() + ".mnt";
  const std::optional<std::string> answer = s.Desktop.AskModeName(s.Settings.DisplayModeName.str(), list);
  if (!answer) return false;
  const std::string name = UpperCase(TrimSpaces(*answer));
  if (!name.empty()) s.Settings.DisplayModeName = name;
  if (displayOnOk) DisplayMode(s);
  return true;
}
