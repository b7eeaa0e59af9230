#include "transfer/receive.h"

#include "app/session.h"
#include "core/desktop.h"
#include "log/errors.h"
#include "log/logfiles.h"
#include "transfer/commandstate.h"
#include "transfer/engine.h"

TFileReceive::TFileReceive(TSession& session, TCommandState& state) : S(session), State(state) {
  TTransferEngine& engine = *S.Transfer;
  engine.HostReceiveStarted = [this] { HostReceiveStarted(); };
  engine.HostReceiveStep = [this](std::uint8_t c) { HostReceiveByte(c); };
}

TFileReceive::~TFileReceive() {
  TTransferEngine& engine = *S.Transfer;
  engine.HostReceiveStarted = nullptr;
  engine.HostReceiveStep = nullptr;
}

TReceiveParameters TFileReceive::Preset(bool ascii) const {
  TReceiveParameters preset;
  preset.FileName = S.Settings.SendReceiveFileName.str();
  if (ascii) {
    preset.CtrlZEnds = S.Settings.CtrlZEnd != 0;
    preset.SuppressControl = S.Settings.SuppressCtrlChar != 0;
  }
  return preset;
}

bool TFileReceive::StartReceive(bool ascii) {
  if (!AskParameters) return false;
  const std::optional<TReceiveParameters> chosen = AskParameters(ascii, Preset(ascii));
  if (!chosen) return false;
  TSetupRecord& settings = S.Settings;
  settings.SendReceiveFileName.assign(chosen->FileName);
  // A binary receive stores every byte whatever the dialog showed.
  const bool ctrlZEnds = ascii && chosen->CtrlZEnds;
  const bool suppress = ascii && chosen->SuppressControl;
  if (ascii) {
    settings.CtrlZEnd = ctrlZEnds ? 1 : 0;
    settings.SuppressCtrlChar = suppress ? 1 : 0;
  }
  if (settings.SendReceiveFileName.empty()) {
    S.Desktop.ShowMessage({TMsgIcon::Error, kNoReceiveFileName, "", mbOK | mbHelp, 0});
    return false;
  }
  TTransferEngine& engine = *S.Transfer;
  TLogFiles& files = *S.Files;
  // The append question depends on the kind, so it is set before the open;
  // a transfer that runs keeps its own kind.
  const bool idle = files.TransferFileState == TLogFiles::tsClosed;
  const TReceiveKind previousKind = engine.ReceiveKind;
  if (idle) {
    files.TransferFileName = settings.SendReceiveFileName.str();
    engine.ReceiveKind = rkUser;
  }
  if (!files.OpenTransferFile(1)) {
    if (idle) engine.ReceiveKind = previousKind;
    ++S.Status.Changes;
    return false;
  }
  engine.TransferActive = true;
  engine.ReceiveKind = rkUser;
  engine.ReceiveLimit = 0;  // the user's own receive has no limit
  engine.CtrlZEnds = ctrlZEnds;
  engine.SuppressControl = suppress;
  engine.Direction = drReceive;
  engine.WaitFlag = wfRunning;
  Started();
  return true;
}

void TFileReceive::Started() {
  BytesLeft = 0;
  Counted = false;
  State.TransfersEnabled = false;
  ++S.Status.Changes;
  if (OnStateChanged) OnStateChanged();
}

void TFileReceive::HostReceiveStarted() {
  TTransferEngine& engine = *S.Transfer;
  if (!engine.TransferActive || engine.Direction != drReceive) return;
  engine.WaitFlag = wfRunning;
  if (engine.ReceiveKind == rkUser) {
    // The host has no dialog: its text ends at Ctrl-Z, control characters and all kept.
    engine.CtrlZEnds = true;
    engine.SuppressControl = false;
    Started();
    return;
  }
  Started();
  const std::int32_t length = engine.HostTransferParams[2];
  Counted = length > 0;
  BytesLeft = Counted ? static_cast<std::uint64_t>(length) : 0;
}

void TFileReceive::HostReceiveByte(std::uint8_t c) {
  TTransferEngine& engine = *S.Transfer;
  TLogFiles& files = *S.Files;
  if (engine.Direction != drReceive || files.TransferFileState != TLogFiles::tsWriting) return;
  files.AppendTransferByte(c);
  const bool last = Counted && --BytesLeft == 0;
  if (last) {
    // The close writes what is buffered and reports a failure itself.
    engine.EndReceive();
    return;
  }
  if (engine.ReceiveLimitReached()) return;
  if (files.TransferBuffered() < TLogFiles::kTransferFlushSize) return;
  const std::uint32_t error = files.FlushTransferBuffer();
  if (error == 0) return;
  S.Errors->ReportError(ekFileAccess, error, "Transfer File");
  engine.EndReceive();
}
