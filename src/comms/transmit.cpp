#include "comms/transmit.h"

#include "comms/lines.h"
#include "core/ascii.h"
#include "core/connectionsettings.h"
#include "core/desktop.h"
#include "core/ebcdicmap.h"
#include "core/numbers.h"
#include "core/settings.h"
#include "core/transferstate.h"
#include "log/logfiles.h"

namespace {
constexpr std::uint8_t IAC = 255;
constexpr std::uint8_t EOR = 239;
constexpr std::uint8_t BRK = 243;
constexpr int kWriteAttempts = 100;
constexpr int kFlushReadSize = 8192;

int CharsPerTickForBaud(int baudIndex) {
  switch (baudIndex) {
    case 0: return 5;    // 110
    case 1: return 15;   // 300
    case 2: return 30;   // 600
    case 3: return 60;   // 1200
    default: return 100;
  }
}

std::uint8_t ReceiveMaskForDataBits(int dataBits) {
  switch (dataBits) {
    case 0: return 15;
    case 1: return 31;
    case 2: return 63;
    case 3: return 127;
    default: return 255;
  }
}

// Telnet commands of our own leave as they are: no translation, no doubling.
class TUntranslatedSend {
 public:
  explicit TUntranslatedSend(TTransmitPath& t) : T(t), Saved(t.TranslateEnabled) { T.TranslateEnabled = false; }
  ~TUntranslatedSend() { T.TranslateEnabled = Saved; }

 private:
  TTransmitPath& T;
  bool Saved;
};
}  // namespace

TTransmitPath::TTransmitPath(const TTransmitContext& context) : S(context) {}

// ------------------------------------------------------------ connections

std::uint8_t TTransmitPath::ConnectionControl(int kind, int action) {
  bool serial = SerialConnected;
  bool network = NetworkConnected;
  if (kind == ckSerial || kind == ckBoth) serial = SerialAction(action);
  if (kind == ckNetwork || kind == ckBoth || kind == ckSecure) network = NetworkAction(action, kind == ckSecure);
  if (serial && network) ConnectionResult = crBoth;
  else if (serial) ConnectionResult = crSerial;
  else if (network) ConnectionResult = crNetwork;
  else ConnectionResult = crNone;
  return ConnectionResult;
}

void TTransmitPath::ApplySerialParams() {
  const TSetupRecord& settings = S.Settings;
  TSerialParams params;
  params.DeviceName = "COM" + std::to_string(settings.ComPort + 1);
  params.BaudRate = settings.BaudRate;
  params.Parity = settings.Parity;
  params.DataBits = settings.DataBits;
  params.StopBits = settings.StopBits;
  params.FlowControl = settings.FlowControl;
  params.ReadBufSize = 4096;
  params.WriteBufSize = 2048;
  params.Options = coIgnoreXOff;
  Serial->SetParams(params);
  // Kept in step with the line, also when it is reconfigured while open.
  CharsPerTick = CharsPerTickForBaud(settings.BaudRate);
  ReceiveMask = ReceiveMaskForDataBits(settings.DataBits);
}

bool TTransmitPath::SerialAction(int action) {
  if (!Serial) return false;
  switch (action) {
    case ctOpen:
      ApplySerialParams();
      SerialConnected = true;
      try {
        Serial->Open();
      } catch (const ECommError& error) {
        SerialConnected = false;
        S.Desktop.ShowMessage({TMsgIcon::Error, error.what(), "", mbOK, 0});
        return false;
      }
      return true;
    case ctClose:
      if (SerialConnected) {
        Serial->Close();
        SerialConnected = false;
      }
      return true;
    case ctReconfigure:
      // The driver may refuse a setting of an open port: say so rather than let it escape.
      try {
        ApplySerialParams();
      } catch (const ECommError& error) {
        S.Desktop.ShowMessage({TMsgIcon::Error, error.what(), "", mbOK, 0});
      }
      return true;
    default: return SerialConnected;
  }
}

bool TTransmitPath::NetworkAction(int action, bool secure) {
  if (!Network && !Secure) return false;
  switch (action) {
    case ctOpen: {
      TNetworkLine* line = secure ? Secure : Network;
      if (!line) return false;
      // One network session at a time: a session of the other kind goes first.
      if (SecureSession != secure) NetworkAction(ctClose, SecureSession);
      SecureSession = secure;
      CharsPerTick = 100;
      if (secure) {
        line->SetAddress(S.Settings.HostName.str(), std::to_string(S.Connection.SshPort));
      } else {
        line->SetAddress(S.Settings.HostName.str(), PortName(S.Settings.Port));
      }
      line->Connect();
      NetworkConnected = false;  // the connect event sets it
      return true;
    }
    case ctClose:
      // A port still waiting for a call is closed too (cancelling is harmless
      // when nothing listens), and an accepted call is taken down like an
      // outgoing one: neither may outlive the close.
      if (Network) Network->CancelListen();
      if (TNetworkLine* line = SessionLine(); line && (ListenActive || NetworkConnected || SecureSession)) {
        line->Disconnect();
      }
      ListenActive = false;
      NetworkConnected = false;
      SecureSession = false;
      return true;
    case ctReconfigure: return true;
    default: return NetworkConnected;
  }
}

void TTransmitPath::StartListen() {
  if (!Network) return;
  if (SecureSession) NetworkAction(ctClose, true);
  // A list that cannot be read must not leave the port open to anyone.
  std::string error;
  if (!Network->SetAllowedCallers(S.Connection.ListenAllow, error)) {
    S.Desktop.ShowMessage({TMsgIcon::Error, "Listen Port: ListenAllow: " + error, "", mbOK, 0});
    return;
  }
  Network->SetAddress(S.Settings.HostName.str(), PortName(S.Settings.Port));
  Network->Listen();
  ListenActive = false;
}

// ----------------------------------------------------------------- sending

bool TTransmitPath::TelnetDoubling() const {
  return TranslateEnabled && NetworkSessionUp() && !SecureSession && S.Settings.Port == kTelnetPortIndex;
}

void TTransmitPath::SetTerminalSize(int columns, int rows) {
  if (SecureSession && Secure) Secure->SetTerminalSize(columns, rows);
}

std::uint8_t TTransmitPath::Translate(std::uint8_t b) const {
  if (S.Settings.Emulation == emTN3270 && TranslateEnabled) return S.EbcdicMap.Outgoing[b];
  return b;
}

void TTransmitPath::SendOnSocket(const std::uint8_t* data, int length) {
  // A failed send reaches the line's error event, which closes the session.
  if (TNetworkLine* line = SessionLine()) line->Send(data, length);
}

void TTransmitPath::WriteSerialByte(std::uint8_t b) {
  int attempts = 0;
  for (;;) {
    if (Serial->Write(&b, 1) != -1) return;
    const std::uint32_t code = Serial->LastError();
    if (code == kErrorIoPending) return;  // the driver has it queued
    if (++attempts < kWriteAttempts) continue;
    const TMsgResult answer = S.Desktop.ShowMessage(
        {TMsgIcon::Error,
         "Error writing outgoing data!\r\nError = H'" + Hex(code, 8) + "\r\nDo you wish to continue trying?",
         "", mbCancel | mbRetry, 0});
    if (answer != TMsgResult::Retry) return;  // the byte is given up
    attempts = 0;
  }
}

void TTransmitPath::WriteSerialLine() {
  const auto length = static_cast<int>(LineBuffer.size());
  int done = 0;
  int attempts = 0;
  while (done < length) {
    const int written = Serial->Write(LineBuffer.data() + done, length - done);
    if (written > 0) {
      done += written;
      continue;
    }
    if (written < 0 && Serial->LastError() == kErrorIoPending) return;
    if (++attempts < kWriteAttempts) continue;
    const TMsgResult answer = S.Desktop.ShowMessage(
        {TMsgIcon::Error, "Error writing outgoing data!\r\nDo you wish to continue trying?", "",
         mbCancel | mbRetry, 0});
    if (answer == TMsgResult::Retry) {
      attempts = 0;
      continue;
    }
    Serial->Write(LineBuffer.data() + done, length - done);  // one last attempt
    return;
  }
}

void TTransmitPath::SendByte(std::uint8_t b) {
  if (TranslateEnabled && EorOption) {
    SendLineByte(b);
    return;
  }
  b = Translate(b);
  if (SerialConnected && Serial) WriteSerialByte(b);
  if (NetworkSessionUp()) SendOnSocket(&b, 1);
  S.Files.RecordSent(b);
  if (b == IAC && TelnetDoubling()) {
    SendOnSocket(&b, 1);
    S.Files.RecordSent(b);
  }
}

void TTransmitPath::SendLineByte(std::uint8_t b) {
  const std::uint8_t t = Translate(b);
  LineBuffer.push_back(t);
  if (b != CR) {
    if (t == IAC && TelnetDoubling()) LineBuffer.push_back(IAC);
    return;
  }
  LineBuffer.push_back(IAC);
  LineBuffer.push_back(EOR);
  if (SerialConnected && Serial) WriteSerialLine();
  if (NetworkSessionUp()) SendOnSocket(LineBuffer.data(), static_cast<int>(LineBuffer.size()));
  for (const std::uint8_t sent : LineBuffer) S.Files.RecordSent(sent);
  LineBuffer.clear();
}

void TTransmitPath::SendBreak() {
  if (SerialConnected && Serial) {
    Serial->SetBreak(true);
    S.Desktop.Wait(250);
    Serial->SetBreak(false);
  }
  const bool receiving = S.Transfer.TransferActive && S.Transfer.Direction == drReceive;
  // SSH has a break of its own; a Telnet session sends IAC BRK.
  if (NetworkSessionUp() && SecureSession && Secure) {
    Secure->SendBreak();
  } else if (NetworkSessionUp() && S.Settings.Port == kTelnetPortIndex && !receiving) {
    // IAC BRK is a command: it must not be doubled, translated or held in a line.
    TUntranslatedSend untranslated(*this);
    SendByte(IAC);
    SendByte(BRK);
  }
}

void TTransmitPath::QueueSendString(const std::string& text) {
  if (QueueString) QueueString(text);
}

void TTransmitPath::ReplaceTypedText(const std::string& oldText, const std::string& newText) {
  const char erase = S.Settings.BackSpaceSends == 1 ? 127 : 8;
  QueueSendString(std::string(oldText.size(), erase) + newText);
}

void TTransmitPath::FlushInput() {
  if (SerialConnected && Serial) Serial->PurgeIn();
  if (TNetworkLine* line = SessionLine(); NetworkSessionUp() && line) {
    std::vector<std::uint8_t> discard(kFlushReadSize);
    line->Receive(discard.data(), kFlushReadSize);
  }
  if (InputFlushed) InputFlushed();
}
