#include "app/session.h"

#include "app/settingsfile.h"
#include "comms/transmit.h"
#include "core/desktop.h"
#include "log/errors.h"
#include "log/logfiles.h"
#include "screen/store.h"
#include "screen/writer.h"
#include "terminal/interpreter.h"
#include "terminal/keyboard.h"
#include "trace/decoder.h"
#include "trace/mini.h"
#include "trace/tracefiles.h"
#include "transfer/engine.h"

TSession::TSession(TDesktop& desktop, std::string programDirectory)
    : Desktop(desktop), ProgramDirectory(std::move(programDirectory)) {
  if (!ProgramDirectory.empty() && ProgramDirectory.back() != '/') ProgramDirectory += '/';
  Settings.ApplyDefaults();
  Errors = std::make_unique<TErrorReporter>(desktop);
  // The engine's constructor only keeps the session; it comes first because
  // the files take its transfer state.
  Transfer = std::make_unique<TTransferEngine>(*this);
  Files = std::make_unique<TLogFiles>(TLogFilesContext{desktop, *Errors, Settings, Status, *Transfer, ProgramDirectory});
  SettingsFiles = std::make_unique<TSettingsFiles>(*this);
  Screen = std::make_unique<TBrowse>();
  Screen->Desktop = &desktop;
  Writer = std::make_unique<TScreenWriter>(TScreenWriterContext{desktop, Settings, *Screen, *Files, Status});
  Transmit = std::make_unique<TTransmitPath>(TTransmitContext{desktop, Settings, Connection, EbcdicMap, *Files, *Transfer});
  TraceFiles = std::make_unique<TTraceFiles>(*this);
  Kasp = std::make_unique<TKaspFiles>(*this);
  Trace = std::make_unique<TTraceDecoder>(*this);
  Mini = std::make_unique<TMiniTrace>(*this);
  Interpreter = std::make_unique<TReceiveInterpreter>(*this);
  Keyboard = std::make_unique<TKeyboard>(*this);
  Wire();
}

TSession::~TSession() = default;

void TSession::Wire() {
  Files->ReceiveEnded = [this] { Transfer->EndReceive(); };
  Transmit->QueueString = [this](const std::string& text) { Transfer->QueueSendString(text); };
  Transmit->InputFlushed = [this] { Transfer->CaptureRing.Reset(); };
  Writer->FillStatus = [this](TStatusIndicators& status) {
    status.MiniStatus = Mini->WantsCharacters();
    status.TraceStatus = Trace->TraceState == TTraceDecoder::tsConverting;
    status.Connected = Transmit->SerialConnected || Transmit->NetworkConnected;
  };
  Transfer->KeyHandler = [this](int key) { Keyboard->HandleKey(key); };
  Transfer->SoftKeyStep = [this] { Keyboard->SoftKeyStep(); };
  Transfer->Interpret = [this](std::uint8_t c) { Interpreter->ReceiveByte(c); };
  Transfer->InterpretRun = [this](const std::uint8_t* data, std::size_t count) {
    return Interpreter->ReceiveBlock(data, count);
  };
  Transfer->TelnetDuringTransfer = [this](std::uint8_t c) { return Interpreter->TelnetDuringTransfer(c); };
  Transfer->StreamEnded = [this] { Interpreter->StreamEnded(); };
}

void TSession::HandleSessionEvent(TSessionEventKind kind, int payload) {
  Transfer->HandleSessionEvent(kind, payload);
}

void TSession::ReceiveBytes(const std::uint8_t* data, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    // While the dispatcher has nothing to do, runs of plain text go to the
    // interpreter in one piece; it returns after any byte that may have
    // changed what the dispatcher must do.
    if (Transfer->PassesThrough()) {
      done += Interpreter->ReceiveBlock(data + done, count - done);
    } else {
      Transfer->HandleSessionEvent(sekReceivedByte, data[done++]);
    }
  }
}

void TSession::TimerTick() {
  Transfer->DecrementTimers();
  HandleSessionEvent(sekTick);
}

void TSession::StartUp() {
  Writer->ResetTerminal();
  Screen->Clear();
  const int attribute = Writer->DefaultAttribute();
  while (Screen->Count() < 101) Screen->AddLine(TBrowse::BlankRow(), attribute, false);
}
