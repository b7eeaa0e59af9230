#include "transfer/simulate.h"

#include <climits>

#include "app/session.h"
#include "core/desktop.h"
#include "log/errors.h"
#include "log/logfiles.h"
#include "transfer/commandstate.h"
#include "transfer/engine.h"

void ReplayBytes(TSession& session, const std::uint8_t* data, std::size_t count) {
  session.Transfer->ReplayBytes(data, count);
}

TReplay::TReplay(TSession& session, TCommandState& state) : S(session), State(state) {
  SimulateFile.SetFaults(&Faults);
  TTransferEngine& engine = *S.Transfer;
  engine.SimulateWorker = [this] { SimulateStep(); };
  engine.PlaybackWorker = [this] { PlaybackStep(); };
}

TReplay::~TReplay() {
  TTransferEngine& engine = *S.Transfer;
  engine.SimulateWorker = nullptr;
  engine.PlaybackWorker = nullptr;
}

bool TReplay::PlaybackActive() const { return S.Files->PlaybackActive; }

namespace {
void Refuse(TSession& s, const char* text) { s.Desktop.ShowMessage({TMsgIcon::Error, text, "", mbOK | mbHelp, 0}); }
void ClearActivity(TSession& s, TActivity bit) { s.Transfer->Activities &= ~static_cast<std::uint32_t>(bit); }
}  // namespace

void TReplay::Ended() { S.Desktop.PostMessage(wmTransferEnded); }

void TReplay::ShowGauge(std::int64_t maximum) {
  State.TransfersEnabled = false;
  State.GaugeVisible = true;
  State.GaugeProgress = 0;
  // The gauge's range is an int; a larger file is shown in proportion.
  Scale = 1;
  while (maximum / Scale > INT32_MAX) Scale *= 2;
  State.GaugeMax = maximum > 0 ? static_cast<int>(maximum / Scale) : 1;
  if (OnStateChanged) OnStateChanged();
}

void TReplay::SetProgress() {
  State.GaugeProgress = static_cast<int>(static_cast<std::int64_t>(Position) / Scale);
  if (OnStateChanged) OnStateChanged();
}

void TReplay::StartSimulate() {
  if (PlaybackActive()) {
    Refuse(S, kReplayAlreadyActive);
    return;
  }
  if (!AskSimulateFile) return;
  const std::optional<std::string> name = AskSimulateFile(S.Settings.SimulateFileName.str());
  if (!name) return;
  S.Settings.SimulateFileName.assign(*name);
  if (S.Settings.SimulateFileName.empty()) {
    Refuse(S, kNoSimulateFileName);
    return;
  }
  // A second start begins again, from the start of the (maybe other) file.
  const bool restarting = Simulating;
  SimulateFile.Close();
  Simulating = false;
  const int error = SimulateFile.OpenRead(S.Settings.SimulateFileName.str());
  if (error != 0) {
    ClearActivity(S, acSimulate);
    S.Errors->ReportErrno(ekFileAccess, error, kSimulateOpenFailure);
    // The simulation that ran is over: the window must not keep Upload off.
    if (restarting) Ended();
    ++S.Status.Changes;
    return;
  }
  Simulating = true;
  Position = 0;
  const std::int64_t size = SimulateFile.Size();
  ShowGauge(size);
  S.Transfer->Activities |= acSimulate;
  ++S.Status.Changes;
}

void TReplay::SimulateStep() {
  if (!Simulating) {
    ClearActivity(S, acSimulate);
    return;
  }
  SetProgress();
  std::uint8_t chunk[kChunk];
  const TIoResult read = SimulateFile.Read(chunk, sizeof chunk);
  if (read.Done == 0) {
    EndSimulate(true);  // the end of the file, or a read error
  } else {
    Position += read.Done;
    ReplayBytes(S, chunk, read.Done);
  }
  ++S.Status.Changes;
}

void TReplay::EndSimulate(bool notify) {
  const bool was = Simulating;
  Simulating = false;
  ClearActivity(S, acSimulate);
  SimulateFile.Close();
  if (was && notify) Ended();
}

void TReplay::StartPlayback() {
  if (Simulating) {
    Refuse(S, kSimulateAlreadyActive);
    return;
  }
  if (S.Settings.Emulation != emQuorix) {
    Refuse(S, kQuorixOnly);
    return;
  }
  // The open closes a recording first, so what it buffered is replayed too.
  TLogFiles& files = *S.Files;
  files.OpenBackgroundLogForPlayback();
  if (files.PlaybackActive) {
    Position = 0;
    // Playback shows its gauge too: its worker moves it.
    ShowGauge(static_cast<std::int64_t>(files.PlaybackLength));
    S.Transfer->Activities |= acPlayback;
  }
  ++S.Status.Changes;
}

void TReplay::PlaybackStep() {
  TLogFiles& files = *S.Files;
  if (!files.PlaybackActive) {
    ClearActivity(S, acPlayback);
    return;
  }
  SetProgress();
  std::uint8_t chunk[kChunk];
  const long read = files.ReadBackgroundLog(chunk, sizeof chunk);
  if (read < 0) {
    EndPlayback(false, true);
  } else if (read == 0) {
    EndPlayback(true, true);
  } else {
    Position += static_cast<std::uint64_t>(read);
    ReplayBytes(S, chunk, static_cast<std::size_t>(read));
  }
  ++S.Status.Changes;
}

void TReplay::EndPlayback(bool resume, bool notify) {
  TLogFiles& files = *S.Files;
  ClearActivity(S, acPlayback);
  files.CloseBackgroundLog();
  if (resume) files.ResumeBackgroundLog();
  if (notify) Ended();
}

void TReplay::Cancel() {
  if (Simulating) EndSimulate(false);
  if (PlaybackActive()) EndPlayback(true, false);
  ClearActivity(S, acSimulate);
  ClearActivity(S, acPlayback);
}
