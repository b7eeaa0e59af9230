#include "transfer/engine.h"

#include <algorithm>
#include <string_view>

#include "app/session.h"
#include "comms/transmit.h"
#include "core/desktop.h"
#include "core/text.h"
#include "log/errors.h"
#include "log/logfiles.h"
#include "transfer/textbytes.h"

namespace {

std::uint16_t TenthsFromSetting(std::int64_t value) {
  return static_cast<std::uint16_t>(std::clamp<std::int64_t>(value, 0, 0xFFFF));
}
}  // namespace

TTransferEngine::TTransferEngine(TSession& session) : S(session) {}

void TTransferEngine::DecrementTimers() {
  for (std::uint16_t& timer : Timers) {
    if (timer > 0) --timer;
  }
}

void TTransferEngine::AwaitEcho(std::uint8_t c) {
  AwaitedEcho = c;
  Timers[tmEcho] = S.Settings.MaxEchoDelay;
}

void TTransferEngine::HandleSessionEvent(TSessionEventKind kind, int payload) {
  switch (kind) {
    case sekTick: Tick(); return;
    case sekReceivedByte: DispatchReceivedByte(static_cast<std::uint8_t>(payload)); return;
    case sekKey:
      KeyPressed = true;
      if (KeyHandler) KeyHandler(payload);
      return;
    default: return;
  }
}

void TTransferEngine::Tick() {
  if (S.Errors->DialogShowing) return;
  FlushReceive();
  if (TickSkip > 0) {
    --TickSkip;
    return;
  }
  if (Activities & acQueuedString) {
    SendQueuedString(true);
    return;
  }
  if ((Activities & acSoftKey) && SoftKeyStep) SoftKeyStep();
  if (Timers[tmTraceLine] == 0 && TraceLineFlush) TraceLineFlush();
  const struct {
    TActivity Bit;
    const std::function<void()>& Worker;
  } workers[] = {
      {acFileSend, FileSender},     {acSimulate, SimulateWorker}, {acPlayback, PlaybackWorker},
      {acPasteSend, PasteSender},   {acPasteReceive, PasteReceiver},
  };
  for (const auto& w : workers) {
    if ((Activities & w.Bit) && w.Worker) w.Worker();
  }
}

bool TTransferEngine::PassesThrough() const {
  return Timers[tmEcho] == 0 && !ScreenPathOverride && !S.Files->Capturing() &&
         (Activities & (acSimulate | acPlayback)) == 0 && !PadsPrompt.Collecting &&
         !S.Files->BackgroundRecording && !TransferActive;
}

void TTransferEngine::ScreenPath(std::uint8_t c) {
  if (ScreenPathOverride) {
    ScreenPathOverride(c);
    return;
  }
  if (Interpret) Interpret(c);
}

void TTransferEngine::ReplayBytes(const std::uint8_t* data, std::size_t count) {
  if (ScreenPathOverride || !InterpretRun) {
    for (std::size_t i = 0; i < count; ++i) ScreenPath(data[i]);
    return;
  }
  std::size_t done = 0;
  while (done < count) done += InterpretRun(data + done, count - done);
}

void TTransferEngine::DispatchReceivedByte(std::uint8_t c) {
  if (Timers[tmEcho] > 0 && c == AwaitedEcho) {
    Timers[tmEcho] = 0;
    if (Activities & acQueuedString) {
      SendQueuedString(false);
    } else {
      if ((Activities & acSoftKey) && SoftKeyStep) SoftKeyStep();
      if ((Activities & acPasteSend) && PasteSender) PasteSender();
    }
  }
  S.Files->RecordReceived(c);
  // Live data is neither shown nor stored while a file is replayed.
  if (Activities & (acSimulate | acPlayback)) return;
  if (PadsPrompt.Collecting) {
    PadsPromptByte(c);
    ScreenPath(c);
    return;
  }
  S.Files->RecordBackground(c);
  if (!TransferActive) {
    ScreenPath(c);
    return;
  }
  // A transfer takes the bytes before the interpreter sees them: Telnet's
  // own bytes are taken out here, and a doubled 255 stays one byte.
  if (TelnetDuringTransfer && TelnetDuringTransfer(c)) return;
  switch (ReceiveKind) {
    case rkUser: FileReceiveStep(c); return;
    case rkCapture: {
      bool halfFull = false;
      {
        std::lock_guard<std::mutex> guard(CaptureRing.Lock);
        CaptureRing.Bytes[CaptureRing.WriteIndex] = c;
        ++CaptureRing.Count;
        CaptureRing.WriteIndex = (CaptureRing.WriteIndex + 1) % TCaptureRing::kSize;
        halfFull = CaptureRing.Count >= TCaptureRing::kSize / 2;
      }
      if (halfFull && CaptureRing.Filling) CaptureRing.Filling();
      return;
    }
    case rkHost:
      // While the file goes to the host, what the host says is shown.
      if (Direction == drSend) {
        FileReceiveStep(c);
        return;
      }
      if (HostReceiveStep) HostReceiveStep(c);
      return;
    default: return;  // rkHostOther routes received bytes nowhere
  }
}

void TTransferEngine::PadsPromptByte(std::uint8_t c) {
  if (c == ETX) {
    PadsPrompt.Text = std::string(TrimSpaces(PadsPrompt.Text));
    if (PadsPrompt.Text.find("PASSWORD:") == std::string::npos) {
      PadsPrompt.Collecting = false;
      if (PadsPrompt.StopPadsReceive) PadsPrompt.StopPadsReceive();
    }
    return;
  }
  if (c >= 32) PadsPrompt.Text.push_back(static_cast<char>(c));
}

void TTransferEngine::FileReceiveStep(std::uint8_t c) {
  ScreenPath(c);
  // The screen path may have ended the transfer (the writer's Ctrl-Z rule).
  if (!TransferActive) return;
  if (Direction == drSend) {
    // Echo-paced sending goes on between ticks.
    if (FileSendStep) FileSendStep();
    return;
  }
  if (SuppressControl) return;  // the screen writer stores what it shows
  TLogFiles& files = *S.Files;
  files.AppendTransferByte(c);
  if (CtrlZEnds && c == CtrlZ) {
    files.DropLastTransferByte();
    EndReceive();
    return;
  }
  if (ReceiveLimitReached()) return;
  if (files.TransferBuffered() < TLogFiles::kTransferFlushSize) return;
  const std::uint32_t error = files.FlushTransferBuffer();
  if (error == 0) return;
  S.Errors->ReportError(ekFileAccess, error, "Transfer File");
  EndReceive();
}

bool TTransferEngine::ReceiveLimitReached() {
  if (ReceiveLimit == 0 || S.Files->ReceivedBytes < ReceiveLimit) return false;
  const std::string name = S.Files->TransferFileName;
  EndReceive();
  const std::string limit = ReceiveLimit % (1u << 20) == 0 ? std::to_string(ReceiveLimit >> 20) + " MB"
                                                          : std::to_string(ReceiveLimit) + " bytes";
  S.Errors->ReportError(ekMessage, 0, "The transfer the host started was stopped at the receive limit of " + limit +
                                          ".\rFile = " + name);
  return true;
}

void TTransferEngine::LineEnded() {
  if (S.Transmit->SerialConnected || S.Transmit->NetworkSessionUp()) return;
  if (StreamEnded) StreamEnded();
  if (!TransferActive || ReceiveKind == rkCapture) return;
  if (Direction == drReceive) {
    EndReceive();
    return;
  }
  Activities &= ~static_cast<std::uint32_t>(acFileSend);
  S.Files->CloseTransferFile();
  WaitFlag = wfFinished;
  S.Desktop.PostMessage(wmTransferEnded);
  ++S.Status.Changes;
}

void TTransferEngine::FlushReceive() {
  TLogFiles& files = *S.Files;
  if (files.TransferFileState != TLogFiles::tsWriting || files.TransferBuffered() == 0) return;
  const std::uint32_t error = files.FlushTransferBuffer();
  if (error == 0) return;
  S.Errors->ReportError(ekFileAccess, error, "Transfer File");
  EndReceive();
}

void TTransferEngine::EndReceive() {
  TransferActive = false;
  WaitFlag = wfFinished;
  S.Files->CloseTransferFile();
  // The window re-enables its transfer commands, as after a send.
  S.Desktop.PostMessage(wmTransferEnded);
  ++S.Status.Changes;
}

void TTransferEngine::QueueSendString(const std::string& text) {
  SendQueue += text;
  Activities |= acQueuedString;
}

void TTransferEngine::SendQueuedString(bool many) {
  TTransmitPath& transmit = *S.Transmit;
  const TSetupRecord& settings = S.Settings;
  int budget = many ? std::max(1, transmit.CharsPerTick) : 1;
  const std::uint16_t softKeyDelay = TenthsFromSetting(settings.SoftKeyDelay);
  for (; budget > 0; --budget) {
    if (SendQueue.empty()) {
      Activities &= ~static_cast<std::uint32_t>(acQueuedString);
      return;
    }
    if (SendDelayRunning()) return;
    const std::uint8_t c = static_cast<std::uint8_t>(SendQueue.front());
    if (!IsLineEnd(c)) {
      transmit.SendByte(c);
      SendQueue.erase(0, 1);
      bool stop = false;
      if (settings.SoftkeyEcho && settings.MaxEchoDelay > 0) {
        AwaitEcho(c);
        stop = true;
      }
      if (softKeyDelay > 0) {
        Timers[tmCharDelay] = softKeyDelay;
        stop = true;
      }
      if (stop) return;
      continue;
    }
    const int next = SendQueue.size() > 1 ? static_cast<std::uint8_t>(SendQueue[1]) : -1;
    const TLineEndOut out = ConvertLineEnd(settings.EOL, c, next);
    for (std::uint8_t i = 0; i < out.Count; ++i) transmit.SendByte(static_cast<std::uint8_t>(out.Bytes[i]));
    const std::size_t taken = out.Taken;
    SendQueue.erase(0, taken);
    if (softKeyDelay > 0) {
      Timers[tmLineDelay] = softKeyDelay;
      return;
    }
  }
}

