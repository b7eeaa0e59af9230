#include "app/events.h"

#include "app/session.h"
#include "comms/transmit.h"
#include "log/errors.h"
#include "screen/writer.h"

TSessionEvents::TSessionEvents(TSession& session) : S(session) {}

void TSessionEvents::Changed() {
  S.Writer->UpdateStatusBar();
  if (OnChanged) OnChanged();
}

void TSessionEvents::NetworkUp() {
  Controls.ConnectItem = false;
  Controls.NetworkConnectButton = false;
  Controls.DisconnectItem = true;
  Controls.NetworkDisconnectButton = true;
  Changed();
}

void TSessionEvents::NetworkDown() {
  S.Transmit->NetworkConnected = false;
  // An accepted call that ended leaves the port listening for the next one;
  // bytes typed meanwhile must not go to the dead session socket.
  S.Transmit->ListenActive = false;
  S.Transmit->SecureSession = false;
  Controls.ConnectItem = true;
  Controls.NetworkConnectButton = true;
  Controls.DisconnectItem = false;
  Controls.NetworkDisconnectButton = false;
  Changed();
}

void TSessionEvents::QelSocketSessionConnected() {
  S.Transmit->NetworkConnected = true;
  NetworkUp();
  if (OnNetworkUp) OnNetworkUp(S.Transmit->SecureSession ? ckSecure : ckNetwork);
}

void TSessionEvents::ReportLoss(const std::string& text, int kind, bool outgoing) {
  const std::string next = outgoing && OnNetworkLost ? OnNetworkLost(text, kind) : std::string();
  if (next.empty()) {
    S.Errors->ReportError(ekMessage, 0, text);
    return;
  }
  TScreenWriter& writer = *S.Writer;
  writer.WriteLine("[*** " + text + "]", writer.DefaultAttribute());
  writer.WriteLine("[*** " + next + "]", writer.DefaultAttribute());
}

void TSessionEvents::QelSocketSessionAvailable() {
  const int socket = AcceptSession ? AcceptSession() : -1;
  // A failed accept has reported itself through the error event.
  if (socket < 0) return;
  S.Transmit->ListenActive = true;
  NetworkUp();
}

void TSessionEvents::QelSocketSessionClosed() {
  // The socket is gone once it reports the end; a session we closed ourselves
  // (or never had) is not announced.
  TTransmitPath& transmit = *S.Transmit;
  if (!transmit.NetworkSessionUp()) return;
  const int kind = transmit.SecureSession ? ckSecure : ckNetwork;
  ReportLoss("Session Closed!", kind, transmit.NetworkConnected);
  NetworkDown();
  if (OnSessionEnded) OnSessionEnded("Session Closed!");
}

void TSessionEvents::QelSocketErrorOccurred(const std::string& text) {
  TTransmitPath& transmit = *S.Transmit;
  const int kind = transmit.SecureSession ? ckSecure : ckNetwork;
  // An outgoing session that was up or being made, not an accepted call.
  const bool outgoing = !transmit.ListenActive;
  transmit.ConnectionControl(ckNetwork, ctClose);
  ReportLoss(text, kind, outgoing);
  NetworkDown();
  if (OnSessionEnded) OnSessionEnded(text);
}

void TSessionEvents::QelCommException(int code) {
  // Close the component too, so its event thread stops and the device is released.
  S.Transmit->ConnectionControl(ckSerial, ctClose);
  S.Transmit->SerialConnected = false;
  Controls.ConnectItem = true;
  Controls.SerialConnectButton = true;
  Controls.SerialDisconnectButton = false;
  Controls.DisconnectItem = false;
  Changed();
  if (OnSessionEnded) OnSessionEnded({});
}
