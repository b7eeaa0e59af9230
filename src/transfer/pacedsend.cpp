#include "transfer/pacedsend.h"

#include <algorithm>
#include <cerrno>
#include <climits>

#include "app/session.h"
#include "comms/transmit.h"
#include "core/desktop.h"
#include "log/errors.h"
#include "log/logfiles.h"
#include "transfer/commandstate.h"
#include "transfer/engine.h"
#include "transfer/textbytes.h"

TPacedSend::TPacedSend(TSession& session, TCommandState& state)
    : S(session), State(state), Buffer(kBufferSize) {
  S.Transfer->FileSender = [this] { SenderTick(); };
  S.Transfer->HostSendStarted = [this] { StartHostSend(); };
  // A received byte ends a wait at once (an echo, a prompt); a send that
  // does not wait stays at the tick's budget, however fast the host echoes.
  S.Transfer->FileSendStep = [this] {
    const TTransferEngine& engine = *S.Transfer;
    if ((engine.Activities & acFileSend) && engine.WaitFlag == wfWaiting) SendStep();
  };
}

TPacedSend::~TPacedSend() {
  S.Transfer->FileSender = nullptr;
  S.Transfer->FileSendStep = nullptr;
  S.Transfer->HostSendStarted = nullptr;
}

void TPacedSend::Changed() {
  ++S.Status.Changes;
  if (OnStateChanged) OnStateChanged();
}

bool TPacedSend::SendAscii(const TSendDialog& dialog) {
  const TTransferEngine& engine = *S.Transfer;
  if (S.Files->PlaybackActive || (engine.Activities & acPlayback)) {
    S.Desktop.ShowMessage({TMsgIcon::Error, kPlaybackBusyText, "", mbOK | mbHelp, 0});
    return false;
  }
  TSetupRecord draft = S.Settings;
  if (!dialog || !dialog(draft)) return false;
  S.Settings = draft;
  return StartFileSend();
}

bool TPacedSend::StartFileSend() {
  if (S.Settings.SendReceiveFileName.empty()) {
    S.Desktop.ShowMessage({TMsgIcon::Error, kNoSendFileNameText, "", mbOK | mbHelp, 0});
    return false;
  }
  TTransferEngine& engine = *S.Transfer;
  engine.ReceiveKind = rkUser;
  TLogFiles& files = *S.Files;
  files.TransferFileName = S.Settings.SendReceiveFileName.str();
  if (!files.OpenTransferFile(0)) return false;
  Binary = false;
  Begin();
  return true;
}

void TPacedSend::StartHostSend() {
  const TTransferEngine& engine = *S.Transfer;
  if (!engine.TransferActive || engine.Direction != drSend || S.Files->TransferFileState != TLogFiles::tsReading) return;
  Binary = engine.ReceiveKind == rkHost;
  Begin();
}

// The transfer file is open for reading: the send runs from the next tick.
void TPacedSend::Begin() {
  TTransferEngine& engine = *S.Transfer;
  Count = Index = 0;
  Position = 0;
  EndOfFile = false;
  Previous = 0;
  engine.TransferActive = true;
  engine.Direction = drSend;
  engine.WaitFlag = wfRunning;
  engine.KeyPressed = false;  // a key typed before the send releases no line of it
  engine.Activities |= acFileSend;
  State.TransfersEnabled = false;
  State.GaugeVisible = true;
  State.GaugeProgress = 0;
  State.GaugeMax = std::max(1, GaugeValue(S.Files->TransferFileSize));
  Changed();
}

void TPacedSend::SenderTick() {
  TTransferEngine& engine = *S.Transfer;
  if (!engine.TransferActive || engine.Direction != drSend) {
    engine.Activities &= ~static_cast<std::uint32_t>(acFileSend);
    State.GaugeVisible = false;
    Changed();
    return;
  }
  const int budget = std::max(1, S.Transmit->CharsPerTick);
  for (int i = 0; i < budget; ++i) {
    if (!SendStep()) break;
  }
  ++S.Status.Changes;
}

// Reads the next block. A line end left last in the block is kept at the
// front of the new one, so a CR LF split by the block boundary still counts
// as one pair.
bool TPacedSend::Refill() {
  std::size_t kept = 0;
  if (Index < Count) {
    Buffer[0] = Buffer[Index];
    kept = 1;
  } else {
    State.GaugeProgress = GaugeValue(Position);
  }
  Index = 0;
  Count = kept;
  if (EndOfFile) return kept > 0;
  const long read = S.Files->ReadTransferFile(Buffer.data() + kept, kBufferSize - kept);
  if (read < 0) {
    // A file that cannot be read any more ends the send; what went out stays sent.
    S.Errors->ReportErrno(ekFileAccess, EIO, "Transfer File");
    return false;
  }
  if (read == 0) EndOfFile = true;
  Count += static_cast<std::size_t>(read);
  Position += static_cast<std::uint64_t>(read);
  return Count > 0;
}

bool TPacedSend::SendStep() {
  TTransferEngine& engine = *S.Transfer;
  if (engine.Activities & acQueuedString) return true;
  if (!engine.TransferActive || engine.Direction != drSend) return false;
  if (Binary) return SendBinaryStep();
  const bool ctrlZAtEnd = S.Settings.EOFCtrlZ != 0;
  if (Index >= Count) {
    const bool readFailed = !Refill() && !EndOfFile;
    if (Count == 0) {
      Finish(ctrlZAtEnd && !readFailed);
      return false;
    }
  }
  if (!ctrlZAtEnd && Previous == CtrlZ) {
    Finish(false);
    return false;
  }
  const std::uint8_t c = Buffer[Index];
  if (IsLineEnd(c) && Index + 1 == Count && !EndOfFile && !Refill()) {
    Finish(false);
    return false;
  }
  if (!PacingAllows(c)) return false;
  TTransmitPath& transmit = *S.Transmit;
  ++Index;
  Previous = c;
  if (!IsLineEnd(c)) {
    if (c != CtrlZ || ctrlZAtEnd) transmit.SendByte(c);
    return true;
  }
  SendLineEnd(c);
  return true;
}

bool TPacedSend::SendBinaryStep() {
  if (Index >= Count) {
    Refill();  // a read failure reports itself and ends the send like the end of the file
    if (Count == 0) {
      Finish(false);
      return false;
    }
  }
  S.Transmit->SendByte(Buffer[Index++]);
  return true;
}

void TPacedSend::SendLineEnd(std::uint8_t c) {
  const int next = Index < Count ? Buffer[Index] : -1;
  const TLineEndOut out = ConvertLineEnd(S.Settings.EOL, c, next);
  for (std::uint8_t i = 0; i < out.Count; ++i) S.Transmit->SendByte(static_cast<std::uint8_t>(out.Bytes[i]));
  if (out.Taken == 1) return;
  Previous = static_cast<std::uint8_t>(next);
  ++Index;
}

bool TPacedSend::PacingAllows(std::uint8_t c) {
  TTransferEngine& engine = *S.Transfer;
  const TSetupRecord& settings = S.Settings;
  if (engine.SendDelayRunning()) {
    engine.WaitFlag = wfWaiting;
    return false;
  }
  engine.WaitFlag = wfRunning;
  if (settings.CharDelay == cdPacedByEcho) engine.AwaitEcho(c);
  switch (c == CR ? settings.LineDelay : static_cast<std::uint8_t>(ldNoWait)) {
    case ldWaitForChar:
      engine.AwaitEcho(settings.WaitChar);
      engine.WaitFlag = wfWaiting;
      break;
    case ldWaitTenths:
      engine.Timers[tmLineDelay] = settings.LineDly;
      engine.WaitFlag = wfWaiting;
      break;
    case ldWaitForKey:
      if (!engine.KeyPressed) {
        engine.WaitFlag = wfWaiting;
        return false;  // the CR is held until a key is pressed
      }
      engine.KeyPressed = false;
      break;
    default:
      break;
  }
  // The character goes now; what it waits for is pending from here on.
  if (engine.SendDelayRunning()) engine.WaitFlag = wfWaiting;
  return true;
}

void TPacedSend::Finish(bool sendCtrlZ) {
  TTransferEngine& engine = *S.Transfer;
  if (sendCtrlZ) S.Transmit->SendByte(CtrlZ);
  engine.Activities &= ~static_cast<std::uint32_t>(acFileSend);
  S.Files->CloseTransferFile();
  engine.TransferActive = false;
  engine.WaitFlag = wfFinished;
  State.GaugeProgress = State.GaugeMax;
  S.Desktop.PostMessage(wmTransferEnded);
  Changed();
}
