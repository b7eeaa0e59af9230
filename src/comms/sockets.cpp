#include "comms/sockets.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "comms/winsock.h"
#include "core/desktop.h"
#include "core/text.h"

namespace {

const char* const kCaption = "WINSOCK ERROR";
// The sent front of the send queue is cut off once it is this large and at
// least half of the queue, so a long-lived queue neither grows nor copies much.
constexpr std::size_t kQueueCompactAt = 64 * 1024;

// Every address of a host, in the resolver's order, with the port set. A
// dotted IPv4 text is taken as inet_aton reads it ("10.1" too), as ever.
std::vector<sockaddr_storage> ResolveHost(const std::string& host, std::uint16_t port) {
  std::vector<sockaddr_storage> addresses;
  in_addr v4{};
  if (host.find(':') == std::string::npos && inet_aton(host.c_str(), &v4) != 0) {
    sockaddr_storage record{};
    auto* in = reinterpret_cast<sockaddr_in*>(&record);
    in->sin_family = AF_INET;
    in->sin_port = htons(port);
    in->sin_addr = v4;
    addresses.push_back(record);
    return addresses;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) return addresses;
  for (const addrinfo* a = found; a; a = a->ai_next) {
    if (a->ai_family != AF_INET && a->ai_family != AF_INET6) continue;
    sockaddr_storage record{};
    std::memcpy(&record, a->ai_addr, a->ai_addrlen);
    if (a->ai_family == AF_INET) reinterpret_cast<sockaddr_in*>(&record)->sin_port = htons(port);
    else reinterpret_cast<sockaddr_in6*>(&record)->sin6_port = htons(port);
    addresses.push_back(record);
  }
  freeaddrinfo(found);
  return addresses;
}

socklen_t RecordSize(const sockaddr_storage& record) {
  return record.ss_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
}

// "10.1.2.3 port 40000", "2001:db8::1 port 40000".
std::string CallerText(const sockaddr_storage& record) {
  const auto address = TNetAddress::FromSocket(reinterpret_cast<const sockaddr*>(&record));
  const std::uint16_t port = record.ss_family == AF_INET6
                                 ? ntohs(reinterpret_cast<const sockaddr_in6*>(&record)->sin6_port)
                                 : ntohs(reinterpret_cast<const sockaddr_in*>(&record)->sin_port);
  return (address ? address->Text() : std::string("an unknown address")) + " port " + std::to_string(port);
}

void CloseQuietly(int fd) {
  if (fd >= 0) ::close(fd);
}

}  // namespace

TSockets::TSockets(TDesktop& desktop) : Desktop(desktop) {}

TSockets::~TSockets() {
  Unwatch(Client);
  Unwatch(Listener);
  CloseQuietly(Client.Fd);
  CloseQuietly(Listener.Fd);
}

void TSockets::SetAddress(const std::string& host, const std::string& port) {
  IPAddr = host;
  Port = port;
}

void TSockets::ShowBox(const std::string& text) {
  Desktop.ShowMessage({TMsgIcon::None, text, kCaption, mbOK | mbCancel, 0});
}

void TSockets::ReportError(const char* place, int socket, int code) {
  const std::string text = WinSockErrorText(code);
  if (OnErrorOccurred) {
    OnErrorOccurred(socket, text, code);
    return;
  }
  ShowBox("Error " + std::to_string(code) + " in function " + place + "\r\n" + text);
}

void TSockets::ReportBlockingTimeOut(int socket) {
  if (OnErrorOccurred) {
    OnErrorOccurred(socket, "Blocking call timed out", kWsaTimedOut);
    return;
  }
  Desktop.ShowMessage({TMsgIcon::None, "Error " + std::to_string(kWsaTimedOut) + "\r\nBlocking call timed out",
                       "WINSOCK CALL CANCELED", mbOK | mbCancel, 0});
}

bool TSockets::ResolvePort(const std::string& text, std::uint16_t& port) {
  servent entry{};
  servent* found = nullptr;
  char buffer[1024];
  if (getservbyname_r(text.c_str(), "tcp", &entry, buffer, sizeof buffer, &found) == 0 && found) {
    port = ntohs(static_cast<std::uint16_t>(found->s_port));
    return true;
  }
  const bool digits = !text.empty() && text.size() <= 9 &&
                      std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
  if (!digits) {
    Desktop.ShowMessage({TMsgIcon::Error, "'" + text + "' is not a valid integer value", "", mbOK, 0});
    return false;
  }
  const unsigned long number = std::stoul(text);
  if (number > 65535) {
    Desktop.ShowMessage({TMsgIcon::Error, "'" + text + "' is not a valid port number", "", mbOK, 0});
    return false;
  }
  port = static_cast<std::uint16_t>(number);
  return true;
}

// The port of "host:port" (or "[v6]:port") in IPAddr wins over Port.
bool TSockets::TargetAddress(std::string& host, std::uint16_t& port, bool needHost) {
  const THostPort split = SplitHostPort(IPAddr);
  host = split.Host;
  const std::string service = split.Port.empty() ? std::string(TrimBlanks(Port)) : split.Port;
  if (service.empty()) {
    ShowBox("No Port Specified");
    return false;
  }
  if (needHost && host.empty()) {
    ShowBox("No IP Address Specified");
    return false;
  }
  return ResolvePort(service, port);
}

bool TSockets::WaitReady(int fd, short events) {
  using TClock = std::chrono::steady_clock;
  const auto deadline = TClock::now() + std::chrono::seconds(Timeout);
  for (;;) {
    int wait = -1;
    if (Timeout > 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
      if (left <= 0) return false;
      wait = static_cast<int>(left);
    }
    pollfd ready{fd, events, 0};
    const int result = poll(&ready, 1, wait);
    if (result > 0) return true;
    if (result == 0) return false;
    if (errno != EINTR) return true;  // let the call itself report the failure
  }
}

void TSockets::Watch(TWatched& socket, bool readable, bool writable) {
  socket.Readable = new QSocketNotifier(socket.Fd, QSocketNotifier::Read);
  socket.Writable = new QSocketNotifier(socket.Fd, QSocketNotifier::Write);
  socket.Readable->setEnabled(readable);
  socket.Writable->setEnabled(writable);
  if (&socket == &Listener) {
    QObject::connect(socket.Readable, &QSocketNotifier::activated, [this] { ListenerReadable(); });
    return;
  }
  QObject::connect(socket.Readable, &QSocketNotifier::activated, [this] { ClientReadable(); });
  QObject::connect(socket.Writable, &QSocketNotifier::activated, [this] { ClientWritable(); });
}

// Safe inside the notifier's own activation: it is only disabled here and
// deleted once control is back in the event loop.
void TSockets::Unwatch(TWatched& socket) {
  for (QSocketNotifier** notifier : {&socket.Readable, &socket.Writable}) {
    if (!*notifier) continue;
    (*notifier)->setEnabled(false);
    (*notifier)->deleteLater();
    *notifier = nullptr;
  }
}

void TSockets::ReleaseClient(bool abortive) {
  if (Client.Fd < 0) return;
  Unwatch(Client);
  if (abortive) {
    const linger hard{1, 0};
    setsockopt(Client.Fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  }
  ::close(Client.Fd);
  Client.Fd = -1;
  Connecting = false;
  ClosingError = 0;
  DropQueue();
  ++ClientGeneration;
}

void TSockets::Connect() {
  std::string host;
  std::uint16_t port = 0;
  if (!TargetAddress(host, port, true)) return;
  std::vector<sockaddr_storage> addresses = ResolveHost(host, port);
  if (addresses.empty()) {
    ShowBox("Cannot convert host address");
    return;
  }
  ReleaseClient(true);  // a session still open is replaced, not leaked
  Candidates = std::move(addresses);
  NextCandidate = 0;
  ++ClientGeneration;
  StartConnect(ClientGeneration);
}

// Calls the next address of the host; an address that refuses at once gives
// way to the next one. False when the attempt is over (reported or replaced).
bool TSockets::StartConnect(unsigned generation) {
  while (NextCandidate < Candidates.size()) {
    const sockaddr_storage record = Candidates[NextCandidate++];
    const bool last = NextCandidate == Candidates.size();
    const int fd = socket(record.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      if (!last) continue;
      ReportError("SConnect (socket)", -1, WinSockErrorCode(errno));
      return false;
    }
    Client.Fd = fd;
    ++ClientGeneration;
    generation = ClientGeneration;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&record), RecordSize(record)) != 0 && errno != EINPROGRESS) {
      const int error = errno;
      if (!last) {
        ReleaseClient(false);
        continue;
      }
      ReportError("SConnect", fd, WinSockErrorCode(error));
      if (ClientGeneration == generation) ReleaseClient(false);
      return false;
    }
    if (NonBlocking) {
      // Writable means the connect has finished, one way or the other.
      Connecting = true;
      Watch(Client, false, true);
      return true;
    }
    if (!WaitReady(fd, POLLOUT)) {
      ReportBlockingTimeOut(fd);
      if (ClientGeneration == generation) ReleaseClient(true);
      return false;
    }
    int error = 0;
    socklen_t size = sizeof error;
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
    if (error == 0) return true;
    if (!last) {
      ReleaseClient(false);
      continue;
    }
    ReportError("SConnect", fd, WinSockErrorCode(error));
    if (ClientGeneration == generation) ReleaseClient(false);
    return false;
  }
  return false;
}

void TSockets::ClientWritable() {
  if (Client.Writable) Client.Writable->setEnabled(false);
  const int fd = Client.Fd;
  const unsigned generation = ClientGeneration;
  if (!Connecting) {
    if (QueuedBytes() > 0) {
      DrainQueue();
      return;
    }
    if (OnDataNeeded) OnDataNeeded(fd);
    return;
  }
  Connecting = false;
  int error = 0;
  socklen_t size = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
  if (error != 0 && NextCandidate < Candidates.size()) {
    // Another address of the host may answer (a name with IPv6 and IPv4 addresses).
    ReleaseClient(false);
    StartConnect(ClientGeneration);
    return;
  }
  if (error != 0) {
    ReportError("FD_CONNECT", fd, WinSockErrorCode(error));
    // The socket of a failed connect is of no further use.
    if (ClientGeneration == generation) ReleaseClient(false);
    return;
  }
  if (Client.Readable) Client.Readable->setEnabled(true);
  if (OnSessionConnected) OnSessionConnected(fd);
  if (ClientGeneration != generation) return;
  // What was sent while the call was being made goes first.
  if (QueuedBytes() > 0) {
    DrainQueue();
    return;
  }
  if (OnDataNeeded) OnDataNeeded(fd);
}

void TSockets::ClientReadable() {
  // One notification until the next Receive, as the host's data stays put
  // while the window is busy.
  if (Client.Readable) Client.Readable->setEnabled(false);
  const int fd = Client.Fd;
  const unsigned generation = ClientGeneration;
  char peek = 0;
  const ssize_t n = recv(fd, &peek, 1, MSG_PEEK | MSG_DONTWAIT);
  if (n > 0) {
    if (OnDataAvailable) OnDataAvailable(fd);
    return;
  }
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
    if (Client.Readable) Client.Readable->setEnabled(true);
    return;
  }
  // A reset that a Receive already met still ends the session as a reset.
  const int error = n < 0 ? errno : ClosingError;
  if (error == 0) {
    if (OnSessionClosed) OnSessionClosed(fd);
  } else {
    ReportError("FD_CLOSE", fd, WinSockErrorCode(error));
  }
  // The session is over; its socket is not left open behind the caller.
  if (ClientGeneration == generation) ReleaseClient(false);
}

void TSockets::ListenerReadable() {
  if (Listener.Readable) Listener.Readable->setEnabled(false);  // again after Accept
  if (OnSessionAvailable) OnSessionAvailable(Listener.Fd);
}

void TSockets::Listen() {
  std::string host;
  std::uint16_t port = 0;
  if (!TargetAddress(host, port, false)) return;

  if (Listener.Fd >= 0) {
    Unwatch(Listener);
    ::close(Listener.Fd);
    Listener.Fd = -1;
  }
  const int fd = ListeningSocket(port);
  if (fd < 0) return;
  if (::listen(fd, 5) != 0) {
    const int code = WinSockErrorCode(errno);
    ::close(fd);
    ReportError("Listen", fd, code);
    return;
  }
  Listener.Fd = fd;
  if (NonBlocking) Watch(Listener, true, false);
}

// A socket bound to every local address, IPv6 and IPv4 (one dual-stack
// socket; IPv4 alone where the host has no IPv6); -1 after its error.
int TSockets::ListeningSocket(std::uint16_t port) {
  int fd = socket(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  sockaddr_storage record{};
  if (fd >= 0) {
    const int off = 0;
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    auto* in6 = reinterpret_cast<sockaddr_in6*>(&record);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(port);
    in6->sin6_addr = in6addr_any;
  } else {
    fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      ReportError("socket", -1, WinSockErrorCode(errno));
      return -1;
    }
    auto* in = reinterpret_cast<sockaddr_in*>(&record);
    in->sin_family = AF_INET;
    in->sin_port = htons(port);
    in->sin_addr.s_addr = htonl(INADDR_ANY);
  }
  // Listening again right after a session must not wait for TIME_WAIT to pass.
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&record), RecordSize(record)) != 0) {
    const int code = WinSockErrorCode(errno);
    ::close(fd);
    ReportError("Bind", fd, code);
    return -1;
  }
  return fd;
}

int TSockets::Accept() {
  if (Listener.Fd < 0) {
    ReportError("Accept", -1, kWsaNotSocket);
    return -1;
  }
  if (!NonBlocking && !WaitReady(Listener.Fd, POLLIN)) {
    ReportBlockingTimeOut(Listener.Fd);
    return -1;
  }
  sockaddr_storage caller{};
  socklen_t callerSize = sizeof caller;
  const int fd = accept4(Listener.Fd, reinterpret_cast<sockaddr*>(&caller), &callerSize, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (Listener.Readable) Listener.Readable->setEnabled(true);
  if (fd < 0) {
    ReportError("Accept", Listener.Fd, WinSockErrorCode(errno));
    return -1;
  }
  const auto address = TNetAddress::FromSocket(reinterpret_cast<const sockaddr*>(&caller));
  if (!AllowedCallers.Empty() && (!address || !AllowedCallers.Allows(*address))) {
    // Not a word to a stranger: a reset, and the session that is up stays.
    const linger hard{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(fd);
    if (OnCallerRefused) OnCallerRefused(CallerText(caller) + " (not in the allow list)");
    return -1;
  }
  // A second call replaces the session before it; the earlier one is reset.
  ReleaseClient(true);
  Client.Fd = fd;
  ++ClientGeneration;
  if (NonBlocking) Watch(Client, true, true);
  return fd;
}

void TSockets::CancelListen() {
  if (Listener.Fd < 0) return;
  Unwatch(Listener);
  const int fd = Listener.Fd;
  Listener.Fd = -1;
  shutdown(fd, SHUT_RDWR);
  if (::close(fd) != 0) ReportError("CancelListen (closesocket)", fd, WinSockErrorCode(errno));
}

void TSockets::Disconnect() {
  if (Client.Fd < 0) return;
  Unwatch(Client);
  const int fd = Client.Fd;
  Client.Fd = -1;
  Connecting = false;
  ClosingError = 0;
  DropQueue();
  ++ClientGeneration;
  shutdown(fd, SHUT_RDWR);
  // Linger 0: unsent data is dropped and the host sees a reset at once.
  const linger hard{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  if (::close(fd) != 0) ReportError("Disconnect (closesocket)", fd, WinSockErrorCode(errno));
}

int TSockets::Send(const std::uint8_t* buffer, int length) { return Send(Client.Fd, buffer, length); }

int TSockets::Receive(std::uint8_t* buffer, int length) { return Receive(Client.Fd, buffer, length); }

int TSockets::Send(int socket, const std::uint8_t* buffer, int length) {
  if (socket < 0) {
    ReportError("SSend", socket, kWsaNotSocket);
    return -1;
  }
  if (length <= 0) return 0;
  if (NonBlocking && socket == Client.Fd) return SendQueued(buffer, length);
  // Blocking mode: a full send buffer is waited out (up to Timeout seconds).
  int sent = 0;
  while (sent < length) {
    const ssize_t n = ::send(socket, buffer + sent, static_cast<std::size_t>(length - sent),
                             MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) {
      sent += static_cast<int>(n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) {
      ReportError("SSend", socket, WinSockErrorCode(errno));
      return -1;
    }
    if (WaitReady(socket, POLLOUT)) continue;
    if (sent > 0) return sent;
    if (socket == Client.Fd && Client.Writable) Client.Writable->setEnabled(true);
    if (NonBlocking) {
      ReportError("SSend", socket, kWsaWouldBlock);
    } else {
      ReportBlockingTimeOut(socket);
    }
    return -1;
  }
  return sent;
}

int TSockets::Receive(int socket, std::uint8_t* buffer, int length) {
  if (socket < 0 || length < 0) return -1;
  if (!NonBlocking && !WaitReady(socket, POLLIN)) {
    ReportBlockingTimeOut(socket);
    return -1;
  }
  const ssize_t n = recv(socket, buffer, static_cast<std::size_t>(length), MSG_DONTWAIT);
  if (socket != Client.Fd) return n < 0 ? -1 : static_cast<int>(n);
  if (n < 0 && errno != EAGAIN && errno != EINTR) ClosingError = errno;
  // Each receive asks for the next data notification.
  if (Client.Readable && !Connecting) Client.Readable->setEnabled(true);
  return n < 0 ? -1 : static_cast<int>(n);
}

int TSockets::SendQueued(const std::uint8_t* buffer, int length) {
  const int fd = Client.Fd;
  const auto size = static_cast<std::size_t>(length);
  // Checked before anything leaves, so a refused send is refused whole.
  if (size > SendQueueLimit || QueuedBytes() > SendQueueLimit - size) {
    ReportError("SSend", fd, kWsaNoBufferSpace);
    return -1;
  }
  std::size_t sent = 0;
  // Bytes may only go straight out when nothing is waiting ahead of them.
  if (!Connecting && QueuedBytes() == 0) {
    while (sent < size) {
      const ssize_t n = ::send(fd, buffer + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n >= 0) {
        sent += static_cast<std::size_t>(n);
        continue;
      }
      if (errno == EINTR) continue;
      if (errno == EAGAIN) break;
      ReportError("SSend", fd, WinSockErrorCode(errno));
      return -1;
    }
    if (sent == size) return length;
  }
  Queue.append(reinterpret_cast<const char*>(buffer) + sent, size - sent);
  // While connecting, the write notifier is already on: it ends the connect.
  if (!Connecting && Client.Writable) Client.Writable->setEnabled(true);
  return length;
}

// 0, or the errno that ended the session.
int TSockets::FlushQueue() {
  while (QueuedBytes() > 0) {
    const ssize_t n = ::send(Client.Fd, Queue.data() + QueueStart, QueuedBytes(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      QueueStart += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) break;
    return n < 0 ? errno : EPIPE;
  }
  if (QueuedBytes() == 0) {
    DropQueue();
  } else if (QueueStart >= kQueueCompactAt && QueueStart * 2 >= Queue.size()) {
    Queue.erase(0, QueueStart);
    QueueStart = 0;
  }
  return 0;
}

void TSockets::DrainQueue() {
  const int error = FlushQueue();
  if (error != 0) {
    // The session is broken. Its end is reported once, by the read side,
    // which meets the same error; the queued bytes can never be delivered.
    DropQueue();
    ClosingError = error;
    if (Client.Readable) Client.Readable->setEnabled(true);
    return;
  }
  if (QueuedBytes() > 0 && Client.Writable) Client.Writable->setEnabled(true);
}

void TSockets::DropQueue() {
  // A queue that grew large gives its memory back.
  if (Queue.capacity() > 16 * kQueueCompactAt) {
    std::string().swap(Queue);
  } else {
    Queue.clear();
  }
  QueueStart = 0;
}
