#include "app/linewiring.h"

#include "app/events.h"
#include "app/handover.h"
#include "app/session.h"
#include "comms/comm.h"
#include "comms/sockets.h"
#include "comms/transmit.h"

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
  sockets.OnSessionClosed = [&events](int) { events.QelSocketSessionClosed(); };
  sockets.OnErrorOccurred = [&events](int, const std::string& text, int) { events.QelSocketErrorOccurred(text); };
  events.AcceptSession = [&sockets] { return sockets.Accept(); };
}
