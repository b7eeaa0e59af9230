// TSockets: the socket component. One TCP session to the host, made by
// connecting out or by accepting the host's call on a listening socket.
// Sockets are non-blocking and watched by the window thread's event loop;
// their readiness becomes component events on that thread.
#pragma once

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "comms/addressfilter.h"
#include "comms/lines.h"

class QSocketNotifier;
class TDesktop;

class TSockets : public TNetworkLine {
 public:
  explicit TSockets(TDesktop& desktop);
  ~TSockets() override;
  TSockets(const TSockets&) = delete;
  TSockets& operator=(const TSockets&) = delete;

  // TNetworkLine (the session socket is the client socket)
  void SetAddress(const std::string& host, const std::string& port) override;
  void Connect() override;
  void Listen() override;
  void CancelListen() override;
  void Disconnect() override;
  int Send(const std::uint8_t* buffer, int length) override;
  int Receive(std::uint8_t* buffer, int length) override;
  bool SetAllowedCallers(const std::string& list, std::string& error) override {
    return AllowedCallers.Parse(list, error);
  }

  // Takes the call waiting on the listening socket as the session; returns
  // the new socket, or -1 after an "Accept" error. A caller outside
  // AllowedCallers is closed at once (a reset), named to OnCallerRefused,
  // and the port goes on listening: -1 then too.
  int Accept();
  // Bytes sent; a negative value after the "SSend" error event. On the
  // session socket in non-blocking mode, what the socket cannot take at once
  // is queued and counts as sent: it leaves in order as the socket drains, so
  // a host that stops reading never holds up the window thread. A send that
  // would take the queue past SendQueueLimit is refused whole with error
  // 10055 ("No buffer space available"), which ends the session as every
  // send error does; nothing is dropped unreported.
  int Send(int socket, const std::uint8_t* buffer, int length);
  // Bytes received, 0 at the orderly end, -1 when nothing can be read now
  // (errors included: they arrive as the close notification).
  int Receive(int socket, std::uint8_t* buffer, int length);

  int ClientSocket() const { return Client.Fd; }  // -1 when none
  int ListenSocket() const { return Listener.Fd; }

  // Host: an address (IPv4 or IPv6) or a host name; "host:port" and
  // "[v6]:port" override Port.
  std::string IPAddr;
  // A service name or a decimal port number.
  std::string Port;
  // False: calls block, each for at most Timeout seconds (0: no limit), and
  // no events are delivered.
  bool NonBlocking = true;
  int Timeout = 30;
  int MaximumReceiveLength = 8192;
  std::size_t SendQueueLimit = 16 * 1024 * 1024;
  // Callers Listen takes; empty: anyone.
  TAddressFilter AllowedCallers;

  // Bytes accepted by Send that the session socket has not taken yet. A
  // Disconnect discards them, as the abortive close discards unsent data.
  std::size_t QueuedBytes() const { return Queue.size() - QueueStart; }

  // Events, each with the socket concerned; all run on the window thread.
  std::function<void(int socket)> OnDataAvailable;
  std::function<void(int socket)> OnDataNeeded;
  std::function<void(int socket)> OnSessionClosed;
  std::function<void(int socket)> OnSessionAvailable;
  std::function<void(int socket)> OnSessionConnected;
  std::function<void(int socket, const std::string& text, int code)> OnErrorOccurred;
  // A caller refused by AllowedCallers: "10.1.2.3 port 40000 (not in the allow list)".
  std::function<void(const std::string& caller)> OnCallerRefused;

 private:
  struct TWatched {
    int Fd = -1;
    QSocketNotifier* Readable = nullptr;
    QSocketNotifier* Writable = nullptr;
  };

  bool TargetAddress(std::string& host, std::uint16_t& port, bool needHost);
  bool StartConnect(unsigned generation);
  int ListeningSocket(std::uint16_t port);
  bool ResolvePort(const std::string& text, std::uint16_t& port);
  void ShowBox(const std::string& text);
  void ReportError(const char* place, int socket, int code);
  void ReportBlockingTimeOut(int socket);
  bool WaitReady(int fd, short events);
  void Watch(TWatched& socket, bool readable, bool writable);
  static void Unwatch(TWatched& socket);
  void ReleaseClient(bool abortive);
  void ClientReadable();
  void ClientWritable();
  int SendQueued(const std::uint8_t* buffer, int length);
  int FlushQueue();
  void DrainQueue();
  void DropQueue();
  void ListenerReadable();

  TDesktop& Desktop;
  TWatched Client;
  TWatched Listener;
  bool Connecting = false;  // the client socket waits for its connect to finish
  int ClosingError = 0;     // errno of a failed Receive on the client socket
  // Raised whenever the client socket is replaced or closed, so an event
  // handler that did either is noticed after it returns.
  unsigned ClientGeneration = 0;
  // The addresses of the host not yet tried by a connect under way.
  std::vector<sockaddr_storage> Candidates;
  std::size_t NextCandidate = 0;
  // The session socket's send queue: Queue from QueueStart on.
  std::string Queue;
  std::size_t QueueStart = 0;
};
