// Binds the serial and socket components to the session the way the main
// window does: the transmit path writes through them, their receive events
// go to the hand-over and their session events to the connection events.
#pragma once

class TSession;
class TComm;
class TSockets;
class TReceiveHandover;
class TSessionEvents;

void WireLines(TSession& session, TComm& comm, TSockets& sockets, TReceiveHandover& handover,
               TSessionEvents& events);
