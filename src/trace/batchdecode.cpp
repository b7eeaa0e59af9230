#include "trace/batchdecode.h"

#include <fstream>
#include <iterator>

#include "app/settings.h"
#include "core/desktop.h"
#include "core/session.h"
#include "log/files.h"
#include "screen/store.h"
#include "screen/writer.h"
#include "trace/decoder.h"
#include "trace/files.h"
#include "trace/mini.h"

namespace {
// Received bytes are handed over in socket-sized pieces.
constexpr std::size_t kReceiveChunk = 8192;
// The log is read back (and the scroll-back emptied) after this much input,
// so a recording of any size decodes in bounded memory and disk space.
constexpr std::size_t kHarvestEvery = 1 << 20;

std::string WithoutReturns(std::string text) {
  for (char& c : text) {
    if (c == '\r') c = ' ';
  }
  return text;
}
}  // namespace

TBatchDecoder::TBatchDecoder(TSession& session) : S(session), LogName(session.ProgramDirectory + "decode.log") {}

TBatchDecoder::~TBatchDecoder() = default;

bool TBatchDecoder::Start(const TBatchDecodeOptions& options, std::string* error) {
  TSetupRecord& settings = S.Settings;
  settings.Emulation = emQuorix;
  settings.ModeFileName.assign(options.ModeBase);
  if (options.OrnetGiven) settings.OrnetDirectoryName.assign(options.OrnetDirectory);
  if (options.QuorixType >= 0) settings.QuorixType = static_cast<std::uint8_t>(options.QuorixType);
  S.StartUp();

  settings.LogFileName.assign(LogName);
  S.Files->CreateLogFile();
  if (!S.Files->LogOpen) {
    if (error) *error = LogName + ": the log file could not be created";
    return false;
  }
  auto* desktop = dynamic_cast<TScriptedDesktop*>(&S.Desktop);
  const std::size_t boxesBefore = desktop ? desktop->Boxes.size() : 0;
  S.TraceFiles->TraceOn();
  if (S.Trace->TraceState != 2) {
    if (error) {
      *error = desktop && desktop->Boxes.size() > boxesBefore ? WithoutReturns(desktop->Boxes.back().Box.Text)
                                                               : "the mode files could not be opened";
    }
    return false;
  }
  if (options.ConvertError) S.Kasp->OpenErrorFile();
  if (options.Mini) S.Mini->MiniTraceOn();
  return true;
}

void TBatchDecoder::Feed(const std::uint8_t* data, std::size_t count) {
  for (std::size_t done = 0; done < count;) {
    const std::size_t piece = std::min(kReceiveChunk, count - done);
    S.ReceiveBytes(data + done, piece);
    done += piece;
    FedSinceHarvest += piece;
    if (FedSinceHarvest >= kHarvestEvery) Harvest(true);
  }
}

void TBatchDecoder::Finish() {
  S.Trace->EndOfInput();
  Harvest(false);
  if (!Carry.empty() && Output) Output(Carry);
  Carry.clear();
}

void TBatchDecoder::Harvest(bool reopen) {
  FedSinceHarvest = 0;
  S.Files->CloseLogFile();
  {
    std::ifstream log(LogName, std::ios::binary);
    std::string text(std::istreambuf_iterator<char>(log), {});
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      Carry.append(text, start, end - start);
      if (!Carry.empty() && Carry.back() == '\r') Carry.pop_back();
      if (Output) Output(Carry);
      Carry.clear();
    }
    Carry.append(text, start, std::string::npos);
  }
  if (!reopen) return;
  S.Files->CreateLogFile();
  // Nobody reads the scroll-back of a batch run: keep only the screen.
  S.Screen->Clear();
  const std::string blankLine(TBrowse::ScreenXSizeMax, ' ');
  while (S.Screen->Count() < S.Screen->Rows) S.Screen->AddLine(blankLine, S.Writer->DefaultAttribute(), false);
}
