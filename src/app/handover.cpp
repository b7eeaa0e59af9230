#include "app/handover.h"

#include <algorithm>

#include "app/session.h"
#include "comms/lines.h"
#include "comms/transmit.h"
#include "log/errors.h"
#include "screen/store.h"
#include "screen/writer.h"
#include "transfer/engine.h"

namespace {
const char* const kReadErrorLine = "[*** Error reading incoming data!]";

// A read that found nothing waiting is no failure: the bytes were taken by a
// purge (Esc) in between, and nothing was lost.
bool NothingToRead(const TSerialLine& line) { return line.LastError() == kErrorIoPending; }
}  // namespace

TReceiveHandover::TReceiveHandover(TSession& session)
    : S(session), Desktop(session.Desktop), WindowThread(std::this_thread::get_id()) {}

std::string TReceiveHandover::SerialErrorText(unsigned errors) {
  switch (errors) {
    case 1: return "[*** Receive buffer overflow.]";
    case 2: return "[*** Character was overwritten before it could be retrieved.]";
    case 4: return "[*** Hardware detected a parity error.]";
    case 8: return "[*** Hardware detected a framing error.]";
    case 16: return "[*** Hardware detected a break condition.]";
    case 256: return "[*** Transmit buffer overflow.]";
    case 512: return "[*** Timeout during communication with parallel device.]";
    case 1024: return "[*** I/O error during communication with parallel device.]";
    case 2048: return "[*** Parallel device was not selected.]";
    case 4096: return "[*** Parallel device is out of paper.]";
    case 32768: return "[*** Requested mode is not supported.]";
    default: return "[*** General error " + std::to_string(errors) + "]";
  }
}

void TReceiveHandover::NoteReceived() {
  if (StartupCountdown > 0) StartupCountdown = 1;
}

// ------------------------------------------------------------------ serial

void TReceiveHandover::QelCommRxChar(int count) {
  NoteReceived();
  {
    std::lock_guard<std::mutex> guard(Lock);
    if (SerialRxDepth > 0 || Hold) {
      SerialDataPending = true;
      return;
    }
    ++SerialRxDepth;
    SerialDataPending = false;
  }
  // From here until the window thread lets go, ReceiveBuffer is ours alone.
  const int wanted = std::clamp(count, 0, kReceiveBufferSize);
  const int read = Serial ? Serial->Read(ReceiveBuffer.data(), wanted) : -1;
  if (read <= 0) {
    if (read < 0 && !(Serial && NothingToRead(*Serial))) HandToWindow({false, kReadErrorLine, false, 0});
    std::lock_guard<std::mutex> guard(Lock);
    SerialRxDepth = 0;
    return;
  }
  Desktop.RemoveQueuedMessages(wmSerialReceive);
  Desktop.PostMessage(wmSerialReceive, read);
}

void TReceiveHandover::QelCommError(unsigned errors) {
  HandToWindow({false, SerialErrorText(errors), true, 0});
}

void TReceiveHandover::QelCommException(int code) { HandToWindow({true, {}, false, code}); }

void TReceiveHandover::SerialReceived(int count) {
  if (SerialRxDepth > 1) {
    if (Desktop.IsMessageQueued(wmSerialReceive)) return;
    Desktop.ProcessPendingMessages();
    if (!Desktop.IsMessageQueued(wmSerialReceive)) Desktop.PostMessage(wmSerialReceive, count);
    return;
  }
  if (Hold || S.Errors->DialogShowing) {
    // Parked until the hold is released or the box has gone (the next tick),
    // rather than posted round and round, a core busy, for as long as the
    // user reads the scroll-back or leaves the box up.
    std::lock_guard<std::mutex> guard(Lock);
    HeldSerialCount = count;
    return;
  }
  ++SerialRxDepth;
  int counted = 0;
  DeliverBytes(ReceiveBuffer.data(), std::clamp(count, 0, kReceiveBufferSize), S.Transmit->ReceiveMask, counted,
               kSerialBurst, false);

  for (;;) {
    int held = 0;
    {
      std::lock_guard<std::mutex> guard(Lock);
      held = SerialDataPending && Serial ? Serial->InQueCount() : 0;
      if (held <= 0) {
        SerialRxDepth = 0;
        return;
      }
      SerialDataPending = false;
    }
    const int read = Serial->Read(ReceiveBuffer.data(), std::min(held, kReceiveBufferSize));
    if (read > 0) {
      if (held > kReceiveBufferSize) {
        // More than the buffer takes stays for the next round.
        std::lock_guard<std::mutex> guard(Lock);
        SerialDataPending = true;
      }
      Desktop.RemoveQueuedMessages(wmSerialReceive);
      Desktop.ProcessPendingMessages();
      Desktop.PostMessage(wmSerialReceive, read);
      SerialRxDepth = 1;
      return;
    }
    if (read < 0 && !NothingToRead(*Serial)) {
      S.Writer->WriteLine(kReadErrorLine, S.Writer->DefaultAttribute());
      std::lock_guard<std::mutex> guard(Lock);
      SerialRxDepth = 0;
      return;
    }
    // Nothing after all: look once more, so nothing that arrived meanwhile is left behind.
  }
}

void TReceiveHandover::DeliverBytes(const std::uint8_t* data, int count, std::uint8_t mask, int& counted, int burst,
                                    bool systemOnly) {
  int done = 0;
  while (done < count) {
    int piece = std::min(count - done, burst - counted);
    // The pumps a longer run skips would have done nothing: the desktop is
    // spacing its passes out. Long runs keep the receive path on its fast path.
    if (!Desktop.PumpWanted()) piece = std::min(count - done, mask != 255 ? kSerialBurst : kLongRun);
    const std::uint8_t* bytes = data + done;
    if (mask != 255) {
      for (int i = 0; i < piece; ++i) Masked[static_cast<std::size_t>(i)] = bytes[i] & mask;
      bytes = Masked.data();
    }
    S.ReceiveBytes(bytes, static_cast<std::size_t>(piece));
    done += piece;
    counted += piece;
    if (counted >= burst) {
      Desktop.ProcessPendingMessages(systemOnly);
      counted = 0;
    }
  }
}

// ------------------------------------------------------------------ socket

void TReceiveHandover::QelSocketDataAvailable() {
  if (S.Errors->DialogShowing) {
    // The data stays in the socket; it is read once the box has gone.
    SocketWaitsForBox = true;
    return;
  }
  if (++SocketRxDepth > 1) return;
  NoteReceived();
  if (Hold) {
    SocketDataPending = true;
    --SocketRxDepth;
    return;
  }
  SocketDataPending = false;
  SocketLoop();
}

void TReceiveHandover::SocketReread() {
  if (++SocketRxDepth > 1) return;
  SocketDataPending = true;
  SocketLoop();
}

TNetworkLine* TReceiveHandover::SessionLine() const {
  return S.Transmit->SecureSession && Secure ? Secure : Network;
}

void TReceiveHandover::SocketLoop() {
  int counted = 0;
  for (;;) {
    TNetworkLine* line = SessionLine();
    const int read = line ? line->Receive(SocketBuffer.data(), kSocketChunk) : -1;
    if (read < 0) {
      SocketRxDepth = 0;
      break;
    }
    SocketRxDepth = 1;
    DeliverBytes(SocketBuffer.data(), std::min(read, kSocketChunk), 255, counted, kSocketBurst, true);
    if (--SocketRxDepth < 1) break;
  }
  while (SocketRxDepth == 0 && !EndsAfterDelivery.empty()) {
    const std::function<void()> end = std::move(EndsAfterDelivery.front());
    EndsAfterDelivery.pop_front();
    end();
  }
}

void TReceiveHandover::AfterDelivery(std::function<void()> end) {
  if (SocketRxDepth > 0) {
    EndsAfterDelivery.push_back(std::move(end));
    return;
  }
  end();
}

// ------------------------------------------------------------------ hold

void TReceiveHandover::HoldScreenOn() {
  std::lock_guard<std::mutex> guard(Lock);
  Hold = true;
}

void TReceiveHandover::ReleaseHold() {
  bool postSerial = false;
  int serialCount = 0;
  {
    std::lock_guard<std::mutex> guard(Lock);
    if (!Hold) return;
    Hold = false;
    if (HeldSerialCount >= 0) {
      // A parked 1144 still owns the buffer (the depth it raised is 1).
      postSerial = true;
      serialCount = HeldSerialCount;
      HeldSerialCount = -1;
    } else if (SerialDataPending && SerialRxDepth == 0) {
      // The message claims the buffer as the event thread would, so no read
      // of the event thread can overwrite what it is about to fetch.
      SerialRxDepth = 1;
      postSerial = true;
    }
  }
  if (OnHoldReleased) OnHoldReleased();
  if (postSerial && !Desktop.IsMessageQueued(wmSerialReceive)) Desktop.PostMessage(wmSerialReceive, serialCount);
  if (SocketDataPending && !Desktop.IsMessageQueued(wmSocketReceive)) Desktop.PostMessage(wmSocketReceive);
  bool linesWaiting = false;
  {
    std::lock_guard<std::mutex> guard(LineLock);
    linesWaiting = !LineEvents.empty();
  }
  if (linesWaiting && !Desktop.IsMessageQueued(wmSerialLineEvents)) Desktop.PostMessage(wmSerialLineEvents);
}

void TReceiveHandover::PostParkedSerial() {
  int count = -1;
  {
    std::lock_guard<std::mutex> guard(Lock);
    std::swap(count, HeldSerialCount);
  }
  if (count >= 0 && !Desktop.IsMessageQueued(wmSerialReceive)) Desktop.PostMessage(wmSerialReceive, count);
}

// ------------------------------------------------------------------ window

void TReceiveHandover::HandToWindow(TLineEvent event) {
  {
    std::lock_guard<std::mutex> guard(LineLock);
    LineEvents.push_back(std::move(event));
  }
  if (OnWindowThread()) {
    RunLineEvents();
    return;
  }
  if (!Desktop.IsMessageQueued(wmSerialLineEvents)) Desktop.PostMessage(wmSerialLineEvents);
}

void TReceiveHandover::RunLineEvents() {
  std::deque<TLineEvent> events;
  {
    std::lock_guard<std::mutex> guard(LineLock);
    events.swap(LineEvents);
  }
  // Lines wait with the held data; a failure changes the state at once.
  std::deque<TLineEvent> kept;
  for (TLineEvent& event : events) {
    if (event.Failure) {
      if (OnSerialFailure) OnSerialFailure(event.Code);
      continue;
    }
    if (Hold) {
      kept.push_back(std::move(event));
      continue;
    }
    TScreenWriter& writer = *S.Writer;
    writer.WriteLine(event.Text, writer.DefaultAttribute());
    if (event.BlankAfter) writer.WriteLine("", writer.DefaultAttribute());
  }
  if (kept.empty()) return;
  std::lock_guard<std::mutex> guard(LineLock);
  LineEvents.insert(LineEvents.begin(), std::make_move_iterator(kept.begin()), std::make_move_iterator(kept.end()));
}

bool TReceiveHandover::HandleMessage(const TPostedMessage& message) {
  switch (message.Message) {
    case wmSerialReceive: SerialReceived(static_cast<int>(message.WParam)); return true;
    case wmSocketReceive: SocketReread(); return true;
    case wmSerialLineEvents: RunLineEvents(); return true;
    default: return false;
  }
}

void TReceiveHandover::TimerTick() {
  S.Transfer->DecrementTimers();
  // A line that tells the host the terminal's size (SSH) hears of a change
  // within a tick.
  S.Transmit->SetTerminalSize(S.Screen->Cols, S.Screen->Rows);
  const int countdown = StartupCountdown;
  if (countdown > 0) {
    StartupCountdown = countdown - 1;
    if (countdown == 1 && OnStartupPanelDone) OnStartupPanelDone();
  }
  if (!Hold && !S.Errors->DialogShowing) PostParkedSerial();
  if (SocketWaitsForBox && !S.Errors->DialogShowing) {
    SocketWaitsForBox = false;
    if (Hold) {
      SocketDataPending = true;
    } else if (!Desktop.IsMessageQueued(wmSocketReceive)) {
      Desktop.PostMessage(wmSocketReceive);
    }
  }
  if (TickBusy) return;
  TickBusy = true;
  S.HandleSessionEvent(sekTick);
  TickBusy = false;
}
