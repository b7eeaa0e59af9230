// The main window's connection events: the socket's session connected,
// a call available, the session closed, a socket error, and the serial
// component's failure. Each keeps the connection flags and the enabled
// state of the Connect and Disconnect controls in step.
#pragma once

#include <functional>
#include <string>

class TSession;

// What the window shows enabled (menu items and toolbar buttons).
struct TConnectionControls {
  bool ConnectItem = true;
  bool DisconnectItem = false;
  bool SerialConnectButton = true;
  bool SerialDisconnectButton = false;
  bool NetworkConnectButton = true;
  bool NetworkDisconnectButton = false;
};

class TSessionEvents {
 public:
  explicit TSessionEvents(TSession& session);

  TConnectionControls Controls;

  // Takes the waiting call on the listening socket; the new socket, or -1.
  std::function<int()> AcceptSession;
  // Runs after every change of the flags and controls (the window redraws them).
  std::function<void()> OnChanged;
  // A session went down: closed by the host, ended by an error, or the serial
  // component failed. The text is what the user was shown ("Session Closed!",
  // the error text), empty for a serial failure.
  std::function<void(const std::string& text)> OnSessionEnded;
  // An outgoing network session (kind ckNetwork or ckSecure) came up.
  std::function<void(int kind)> OnNetworkUp;
  // An outgoing network session, or the attempt to make one, ended without
  // the user asking. When it will be made again by itself the answer says
  // how ("reconnecting in 2 s ..."): the text and the answer are then written
  // on the screen instead of a box, which would hold received data back
  // until someone is there to close it. Empty: the box as ever.
  std::function<std::string(const std::string& text, int kind)> OnNetworkLost;

  void QelSocketSessionConnected();
  void QelSocketSessionAvailable();
  void QelSocketSessionClosed();
  void QelSocketErrorOccurred(const std::string& text);
  void QelCommException(int code);

 private:
  void NetworkUp();
  void NetworkDown();
  void Changed();
  void ReportLoss(const std::string& text, int kind, bool outgoing);

  TSession& S;
};
