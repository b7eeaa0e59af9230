// Binds the serial and socket components to the session the way the main
// window does: the transmit path writes through them, their receive events
// go to the hand-over and their session events to the connection events.
#pragma once

#include <optional>
#include <string>

class TSession;
class TComm;
class TSockets;
class TSshLine;
class TReceiveHandover;
class TSessionEvents;
class TDesktop;
struct TSshOptions;
struct TNewHostKey;

void WireLines(TSession& session, TComm& comm, TSockets& sockets, TReceiveHandover& handover,
               TSessionEvents& events);

// The SSH line the same way, beside the socket: its bytes go through the
// same hand-over, its session events to the same connection events, and its
// options come from the settings at each connect. Notes (a host key stored)
// are written on the screen. Questions are left to the caller
// (WireSecureQuestions for the window).
void WireSecureLine(TSession& session, TSshLine& ssh, TReceiveHandover& handover, TSessionEvents& events);

// What an SSH connection is given from the settings: user, key file,
// known_hosts, keep-alives, and the terminal type and size of the screen.
TSshOptions SecureOptions(const TSession& session);
// The PTY's terminal type for an emulation: vt100, vt220, ...
std::string SecureTerminalType(int emulation);

// The window's questions: an unknown host key as a Yes/No box (No unless
// the user says otherwise), secrets through the desktop's secret question.
void WireSecureQuestions(TSshLine& ssh, TDesktop& desktop);
