#include "app/linewiring.h"

#include "app/events.h"
#include "app/handover.h"
#include "app/session.h"
#include "comms/comm.h"
#include "comms/sockets.h"
#include "comms/sshline.h"
#include "comms/transmit.h"
#include "core/desktop.h"
#include "screen/store.h"
#include "screen/writer.h"

void WireLines(TSession& session, TComm& comm, TSockets& sockets, TReceiveHandover& handover,
               TSessionEvents& events) {
  session.Transmit->Serial = &comm;
  session.Transmit->Network = &sockets;
  handover.Serial = &comm;
  handover.Network = &sockets;

  // These three run on the port's event thread; the hand-over takes them across.
  comm.OnRxChar = [&handover](int count) { handover.QelCommRxChar(count); };
  comm.OnError = [&handover](unsigned errors) { handover.QelCommError(errors); };
  comm.OnException = [&handover](int code) { handover.QelCommException(code); };
  handover.OnSerialFailure = [&events](int code) { events.QelCommException(code); };

  sockets.MaximumReceiveLength = TReceiveHandover::kSocketChunk;
  sockets.OnDataAvailable = [&handover](int) { handover.QelSocketDataAvailable(); };
  sockets.OnSessionConnected = [&events](int) { events.QelSocketSessionConnected(); };
  sockets.OnSessionAvailable = [&events](int) { events.QelSocketSessionAvailable(); };
  sockets.OnSessionClosed = [&events, &handover](int) {
    handover.AfterDelivery([&events] { events.QelSocketSessionClosed(); });
  };
  sockets.OnErrorOccurred = [&events](int, const std::string& text, int) { events.QelSocketErrorOccurred(text); };
  events.AcceptSession = [&sockets] { return sockets.Accept(); };
  sockets.OnCallerRefused = [&session](const std::string& caller) {
    TScreenWriter& writer = *session.Writer;
    writer.WriteLine("[*** Call from " + caller + " refused]", writer.DefaultAttribute());
  };
}

std::string SecureTerminalType(int emulation) {
  switch (emulation) {
    case emVT220: return "vt220";
    case emTN3270: return "ibm-3278-2";
    case emVT52: return "vt52";
    // QUORIX hosts speak VT100's sequences.
    default: return "vt100";
  }
}

TSshOptions SecureOptions(const TSession& session) {
  const TConnectionSettings& c = session.Connection;
  TSshOptions options;
  options.User = c.SshUserName;
  options.KeyFile = c.SshKeyFile;
  options.KnownHostsFile = c.KnownHostsFile;
  options.KeepAliveSeconds = c.SshKeepAlive;
  options.TerminalType = SecureTerminalType(session.Settings.Emulation);
  options.Columns = session.Screen->Cols;
  options.Rows = session.Screen->Rows;
  return options;
}

void WireSecureLine(TSession& session, TSshLine& ssh, TReceiveHandover& handover, TSessionEvents& events) {
  session.Transmit->Secure = &ssh;
  handover.Secure = &ssh;
  ssh.Options = [&session] { return SecureOptions(session); };
  ssh.OnDataAvailable = [&handover] { handover.QelSocketDataAvailable(); };
  ssh.OnSessionConnected = [&events] { events.QelSocketSessionConnected(); };
  ssh.OnSessionClosed = [&events, &handover] {
    handover.AfterDelivery([&events] { events.QelSocketSessionClosed(); });
  };
  ssh.OnErrorOccurred = [&events](const std::string& text) { events.QelSocketErrorOccurred(text); };
  ssh.OnNote = [&session](const std::string& text) {
    TScreenWriter& writer = *session.Writer;
    writer.WriteLine("[*** " + text + "]", writer.DefaultAttribute());
  };
}

void WireSecureQuestions(TSshLine& ssh, TDesktop& desktop) {
  ssh.AcceptNewHostKey = [&desktop](const TNewHostKey& key) {
    // Enter alone must not let an unknown key in.
    const TMessageBox box{TMsgIcon::Warning, NewHostKeyQuestion(key), "SSH host key", mbYes | mbNo | mbDefaultNo, 0};
    return desktop.ShowMessage(box) == TMsgResult::Yes;
  };
  ssh.AskSecret = [&desktop](const TSecretPrompt& prompt) {
    return desktop.AskSecret(prompt.Title, prompt.Prompt, prompt.Echo);
  };
}
