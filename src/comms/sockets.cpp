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

#include "comms/winsock.h"
#include "core/desktop.h"
#include "core/text.h"

namespace {

const char* const kCaption = "WINSOCK ERROR";
constexpr int kWsaNoBufferSpace = 10055;
// The sent front of the send queue is cut off once it is this large and at
// least half of the queue, so a long-lived queue neither grows nor copies much.
constexpr std::size_t kQueueCompactAt = 64 * 1024;

bool ResolveHost(const std::string& host, in_addr& address) {
  if (inet_aton(host.c_str(), &address) != 0) return true;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return false;
  address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
  freeaddrinfo(found);
  return true;
}

sockaddr_in AddressRecord(in_addr host, std::uint16_t port) {
  sockaddr_in record{};
  record.sin_family = AF_INET;
  record.sin_port = htons(port);
  record.sin_addr = host;
  return record;
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

// The port of "host:port" in IPAddr wins over Port.
bool TSockets::TargetAddress(std::string& host, std::uint16_t& port, bool needHost) {
  host = TrimBlanks(IPAddr);
  std::string service(TrimBlanks(Port));
  const auto colon = host.find(':');
  if (colon != std::string::npos && host.find(':', colon + 1) == std::string::npos) {
    const std::string override(TrimBlanks(std::string_view(host).substr(colon + 1)));
    host = std::string(TrimBlanks(std::string_view(host).substr(0, colon)));
    if (!override.empty()) service = override;
  }
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
  in_addr address{};
  if (!ResolveHost(host, address)) {
    ShowBox("Cannot convert host address");
    return;
  }

  ReleaseClient(true);  // a session still open is replaced, not leaked
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    ReportError("SConnect (socket)", -1, WinSockErrorCode(errno));
    return;
  }
  Client.Fd = fd;
  ++ClientGeneration;
  const unsigned generation = ClientGeneration;

  const sockaddr_in record = AddressRecord(address, port);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&record), sizeof record) != 0 && errno != EINPROGRESS) {
    ReportError("SConnect", fd, WinSockErrorCode(errno));
    if (ClientGeneration == generation) ReleaseClient(false);
    return;
  }
  if (NonBlocking) {
    // Writable means the connect has finished, one way or the other.
    Connecting = true;
    Watch(Client, false, true);
    return;
  }
  if (!WaitReady(fd, POLLOUT)) {
    ReportBlockingTimeOut(fd);
    if (ClientGeneration == generation) ReleaseClient(true);
    return;
  }
  int error = 0;
  socklen_t size = sizeof error;
  getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
  if (error != 0) {
    ReportError("SConnect", fd, WinSockErrorCode(error));
    if (ClientGeneration == generation) ReleaseClient(false);
  }
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
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    ReportError("socket", -1, WinSockErrorCode(errno));
    return;
  }
  // Listening again right after a session must not wait for TIME_WAIT to pass.
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  in_addr any{};
  any.s_addr = htonl(INADDR_ANY);
  const sockaddr_in record = AddressRecord(any, port);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&record), sizeof record) != 0) {
    const int code = WinSockErrorCode(errno);
    ::close(fd);
    ReportError("Bind", fd, code);
    return;
  }
  if (::listen(fd, 5) != 0) {
    const int code = WinSockErrorCode(errno);
    ::close(fd);
    ReportError("Listen", fd, code);
    return;
  }
  Listener.Fd = fd;
  if (NonBlocking) Watch(Listener, true, false);
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
  const int fd = accept4(Listener.Fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (Listener.Readable) Listener.Readable->setEnabled(true);
  if (fd < 0) {
    ReportError("Accept", Listener.Fd, WinSockErrorCode(errno));
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
