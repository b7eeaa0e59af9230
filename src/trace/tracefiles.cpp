#include "trace/tracefiles.h"

#include "app/session.h"
#include "core/desktop.h"
#include "core/paths.h"
#include "log/errors.h"
#include "screen/writer.h"
#include "trace/decoder.h"
#include "trace/mini.h"

bool QuorixOnly(TSession& session) {
  if (session.Settings.Emulation == emQuorix) return true;
  TMessageBox box;
  box.Icon = TMsgIcon::Error;
  box.Text = "Option only for Terminal Type = QUORIX\rChange in SETUP|CONFIGURE|DISPLAY|EMULATION";
  box.Buttons = mbOK | mbHelp;
  session.Desktop.ShowMessage(box);
  return false;
}

// --- Trace files ---

TTraceFiles::TTraceFiles(TSession& session) : S(session), Reporter(session) {}

TTraceFiles::~TTraceFiles() = default;

bool TTraceFiles::OpenTraceFiles() {
  if (Set) return true;
  Set = TTraceFileSet::OpenBase(S.Settings.ModeFileName.str(), Reporter);
  return Opened();
}

bool TTraceFiles::OpenTraceFiles(std::shared_ptr<const TModeFileStore> store) {
  if (Set) return true;
  Set = TTraceFileSet::Open(std::move(store), Reporter);
  return Opened();
}

bool TTraceFiles::Opened() {
  TTraceDecoder& trace = *S.Trace;
  if (!Set) {
    trace.TraceState = TTraceDecoder::tsOff;
    return false;
  }
  trace.Cache.Attach(Set.get());
  trace.ResetMessageState();
  S.Kasp->OpenKaspFiles();
  return true;
}

void TTraceFiles::CloseTraceFiles() {
  TTraceDecoder& trace = *S.Trace;
  trace.Cache.Attach(nullptr);
  Set.reset();
  trace.TraceState = TTraceDecoder::tsOff;
  trace.MessageIdentity = 0;
}

void TTraceFiles::TraceOn() {
  TTraceDecoder& trace = *S.Trace;
  // From state 1 (host name files only) the trace files may still be closed.
  trace.TraceState = TTraceDecoder::tsConverting;
  const bool alreadyOpen = TraceFilesOpen();
  OpenTraceFiles();
  // Opening the trace files has just tried the host name files; trying again
  // would only show the same missing file a second time.
  if (trace.TraceState == TTraceDecoder::tsConverting && alreadyOpen) S.Kasp->OpenKaspFiles();
  trace.ResetMessageState();
  S.Writer->UpdateStatusBar();
}

void TTraceFiles::TraceOff() {
  CloseTraceFiles();
  if (!S.Mini->WantsCharacters()) S.Kasp->CloseKaspFiles();
  S.Writer->UpdateStatusBar();
}

bool TTraceFiles::ToggleTrace() {
  if (!QuorixOnly(S)) return S.Trace->TraceState == TTraceDecoder::tsConverting;
  if (S.Trace->TraceState == TTraceDecoder::tsConverting) TraceOff();
  else TraceOn();
  S.Trace->AbortRequested = false;
  return S.Trace->TraceState == TTraceDecoder::tsConverting;
}

// --- KASP files ---

TKaspFiles::TKaspFiles(TSession& session) : S(session), Reporter(session) {}

TKaspFiles::~TKaspFiles() = default;

void TKaspFiles::OpenKaspFiles() {
  Names.Open(S.Settings.OrnetDirectoryName.str(), Reporter);
  KeptMbidNames.clear();
  KeptVmiNames.clear();
  if (S.Trace) S.Trace->AbortRequested = false;
}

void TKaspFiles::CloseKaspFiles() {
  Names.Close();
  KeptMbidNames.clear();
  KeptVmiNames.clear();
}

std::optional<std::string> TKaspFiles::Kept(TNameCache& cache, std::uint32_t n,
                                            std::optional<std::string> (THostNameFiles::*read)(std::uint32_t) const) {
  if (const auto it = cache.find(n); it != cache.end()) return it->second;
  std::optional<std::string> name = (Names.*read)(n);
  if (cache.size() >= kMaxKeptNames) cache.clear();
  cache.emplace(n, name);
  return name;
}

std::optional<std::string> TKaspFiles::MbidName(std::uint32_t mbid) {
  return Kept(KeptMbidNames, mbid, &THostNameFiles::MbidName);
}

bool TKaspFiles::ReadVmiRecord(int index, char out[25]) {
  if (index < 0) return false;
  const std::optional<std::string> name = Kept(KeptVmiNames, static_cast<std::uint32_t>(index), &THostNameFiles::VmiName);
  if (!name || name->size() != THostNameFiles::kVmiNameSize) return false;
  name->copy(out, THostNameFiles::kVmiNameSize);
  return true;
}

bool TKaspFiles::OpenErrorFile() {
  if (ErrorFile) return true;
  const std::string directory = S.Settings.OrnetDirectoryName.str();
  if (directory.empty()) return false;
  const std::string name = THostNameFiles::FullName(directory, "KASP.ERR");
  std::uint32_t code = 0;
  ErrorFile = TFileSource::Open(NativeFileName(name), &code);
  if (!ErrorFile) {
    S.Errors->ReportError(ekFileOpen, code, name);
    return false;
  }
  ErrorFileOpen = true;
  return true;
}

void TKaspFiles::CloseErrorFile() {
  ErrorFile.reset();
  ErrorFileOpen = false;
}

bool TKaspFiles::ToggleConvertError() {
  if (!QuorixOnly(S)) return ErrorFileOpen;
  if (ErrorFileOpen) CloseErrorFile();
  else OpenErrorFile();
  S.Trace->AbortRequested = false;
  return ErrorFileOpen;
}

bool TKaspFiles::ReadErrorRecord(std::uint32_t n, char out[kErrorRecordSize]) {
  if (!ErrorFile) return false;
  return ErrorFile->ReadExact(static_cast<std::int64_t>(n) * static_cast<std::int64_t>(kErrorRecordSize), out,
                              kErrorRecordSize)
      .ok();
}
