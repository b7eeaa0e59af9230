#include "transfer/padssession.h"

#include <algorithm>
#include <utility>

#include "app/session.h"
#include "comms/comm.h"
#include "comms/lines.h"
#include "comms/transmit.h"
#include "core/ascii.h"
#include "core/desktop.h"
#include "log/logfiles.h"
#include "screen/writer.h"
#include "transfer/engine.h"

namespace pads {

namespace {

constexpr int kPadsWriteAttempts = 100;

TPadsOptions OptionsOf(const TSetupRecord& settings) {
  TPadsOptions options;
  options.Retries = std::clamp<int>(settings.PadsRetries, 1, 5);
  options.DelayTenths = std::clamp<int>(settings.PadsDelay, 0, 10);
  options.Improved = settings.ImprovedProtocol != 0;
  return options;
}

}  // namespace

void ArmPasswordWatch(TSession& session) {
  session.Transfer->PadsPrompt.Collecting = true;
  session.Transfer->PadsPrompt.Text.clear();
}

void StartCapture(TSession& session) {
  TTransferEngine& engine = *session.Transfer;
  engine.PadsPrompt.Collecting = false;
  engine.CaptureRing.Reset();
  engine.TransferActive = true;
  engine.Direction = drReceive;
  engine.ReceiveKind = rkCapture;
}

int SessionState(const TSession& session) {
  const TTransferEngine& engine = *session.Transfer;
  if (engine.PadsPrompt.Collecting) return psWaitForPassword;
  if (engine.TransferActive && engine.ReceiveKind == rkCapture) return psLinking;
  return psDisconnected;
}

TPadsSession::TPadsSession(TSession& session)
    : S(session), Pads(std::make_unique<TPadsProtocol>(session.Desktop, OptionsOf(session.Settings))) {
  Pads->Send = [this](std::string_view bytes) { Send(bytes); };
  Pads->DiscardInput = [this] {
    Inbox.clear();
    S.Transfer->CaptureRing.Reset();
  };
  Pads->LineUp = [this] { LineUp(); };
  Pads->LineDown = [this](bool exited) { LineDown(exited); };
  S.Transfer->CaptureRing.Filling = [this] { TakeRing(); };
}

TPadsSession::~TPadsSession() {
  S.Transfer->CaptureRing.Filling = nullptr;
  // The protocol goes first: nothing may call back into a half-gone session.
  Pads.reset();
  if (Saved) LineDown(false);
}

bool TPadsSession::Open() {
  if (SessionState(S) != psLinking) {
    StopCapture();
    Pads->State = psDisconnected;
    Pads->Finished = true;
    return false;
  }
  Pads->Open(S.Desktop.TickCount());
  return true;
}

std::string TPadsSession::DrainRing() {
  TCaptureRing& ring = S.Transfer->CaptureRing;
  std::lock_guard<std::mutex> guard(ring.Lock);
  // Past a full ring the oldest bytes were overwritten: the newest stay.
  const int count = std::min(ring.Count, TCaptureRing::kSize);
  std::string bytes(static_cast<std::size_t>(count), '\0');
  const int start = ((ring.WriteIndex - count) % TCaptureRing::kSize + TCaptureRing::kSize) % TCaptureRing::kSize;
  for (int i = 0; i < count; ++i) bytes[i] = static_cast<char>(ring.Bytes[(start + i) % TCaptureRing::kSize]);
  ring.Count = 0;
  return bytes;
}

void TPadsSession::Pump() {
  TakeRing();
  const std::string bytes = std::exchange(Inbox, {});
  const std::uint32_t now = S.Desktop.TickCount();
  if (bytes.empty()) Pads->Advance(now);
  else Pads->Received(bytes, now);
}

void TPadsSession::Execute(std::string_view line) { Pads->Execute(line, S.Desktop.TickCount()); }

void TPadsSession::Close() { Pads->Close(S.Desktop.TickCount()); }

// Frames are binary: on a serial line they go out whole; elsewhere byte by
// byte through the transmit path (Telnet doubling and all).
void TPadsSession::Send(std::string_view bytes) {
  TTransmitPath& transmit = *S.Transmit;
  if (!transmit.SerialConnected || !transmit.Serial || transmit.NetworkSessionUp()) {
    for (const char c : bytes) transmit.SendByte(static_cast<std::uint8_t>(c));
    return;
  }
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  int done = 0;
  int attempts = 0;
  const int size = static_cast<int>(bytes.size());
  while (done < size && attempts < kPadsWriteAttempts) {
    const int written = transmit.Serial->Write(data + done, size - done);
    if (written < 0 && transmit.Serial->LastError() == kErrorIoPending) break;
    if (written > 0) done += written;
    else ++attempts;
  }
  for (const char c : bytes) S.Files->RecordSent(static_cast<std::uint8_t>(c));
}

void TPadsSession::LineUp() {
  TSetupRecord& settings = S.Settings;
  if (!S.Transmit->SerialConnected || Saved) return;
  Saved = TSavedLine{settings.BaudRate, settings.DataBits, settings.Parity, settings.StopBits, settings.FlowControl};
  settings.DataBits = da8;
  settings.Parity = paNone;
  settings.StopBits = sb10;
  settings.FlowControl = fcNone;
  S.Transmit->ConnectionControl(ckSerial, ctReconfigure);
}

void TPadsSession::LineDown(bool exited) {
  StopCapture();
  if (Saved) {
    TSetupRecord& settings = S.Settings;
    settings.BaudRate = Saved->BaudRate;
    settings.DataBits = Saved->DataBits;
    settings.Parity = Saved->Parity;
    settings.StopBits = Saved->StopBits;
    settings.FlowControl = Saved->FlowControl;
    Saved.reset();
    if (S.Transmit->SerialConnected) S.Transmit->ConnectionControl(ckSerial, ctReconfigure);
  }
  if (!exited) return;
  S.Writer->PutChar('\r');
  S.Writer->PutChar('\n');
  S.Transmit->SendByte(ESC);
}

void TPadsSession::StopCapture() {
  TTransferEngine& engine = *S.Transfer;
  engine.PadsPrompt.Collecting = false;
  if (engine.TransferActive && engine.ReceiveKind == rkCapture) {
    engine.TransferActive = false;
    engine.ReceiveKind = rkUser;
    engine.Direction = drSend;
  }
  engine.CaptureRing.Reset();
}

}  // namespace pads
