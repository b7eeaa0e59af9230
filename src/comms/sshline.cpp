#include "comms/sshline.h"

#include <fcntl.h>
#include <libssh/libssh.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QMetaObject>
#include <QObject>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "comms/addressfilter.h"
#include "comms/winsock.h"
#include "core/text.h"

namespace {
constexpr int kReadChunk = 16384;
constexpr int kPasswordAttempts = 3;
constexpr int kWsaHostNotFound = 11001;
constexpr int kWsaTryAgain = 11002;
constexpr int kWsaNoRecovery = 11003;
// How long a user's disconnect may take before the worker is stopped outright.
constexpr int kCloseGraceMs = 3000;
constexpr int kCloseWaitAtEndMs = 1000;

enum TEventKind { evConnected, evData, evClosed, evError, evNote, evQuestion };

struct TEvent {
  TEventKind Kind = evNote;
  std::string Text;
  int Id = 0;  // questions
  bool HostKeyQuestion = false;
  TNewHostKey HostKey;
  TSecretPrompt Secret;
};

TEvent MakeEvent(TEventKind kind, std::string text = {}) {
  TEvent event;
  event.Kind = kind;
  event.Text = std::move(text);
  return event;
}

struct TTarget {
  std::string User;
  std::string Host;
  int Port = 22;
  TSshOptions Options;
};

void InitialiseLibsshOnce() {
  static const int done = ssh_init();
  (void)done;
}

std::string LocalUser() {
  if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_name) return entry->pw_name;
  const char* user = std::getenv("USER");
  return user ? user : "";
}

std::string HomeDirectory() {
  const char* home = std::getenv("HOME");
  return home && *home ? home : "/";
}

bool Readable(const std::string& file) { return ::access(file.c_str(), R_OK) == 0; }

std::string ErrnoText(int error) { return WinSockErrorText(WinSockErrorCode(error)); }

std::string MethodNames(int methods) {
  std::string names;
  auto add = [&](int bit, const char* name) {
    if (!(methods & bit)) return;
    if (!names.empty()) names += ',';
    names += name;
  };
  add(SSH_AUTH_METHOD_PUBLICKEY, "publickey");
  add(SSH_AUTH_METHOD_INTERACTIVE, "keyboard-interactive");
  add(SSH_AUTH_METHOD_PASSWORD, "password");
  add(SSH_AUTH_METHOD_HOSTBASED, "hostbased");
  add(SSH_AUTH_METHOD_GSSAPI_MIC, "gssapi-with-mic");
  return names;
}

// The host as known_hosts and the messages name it: "host port 2222".
std::string HostAndPort(const std::string& host, int port) { return host + " port " + std::to_string(port); }
}  // namespace

// ------------------------------------------------------------ shared state

struct TSshLine::TShared {
  std::mutex Lock;
  std::condition_variable Answered;
  std::deque<TEvent> Events;
  bool EventsPosted = false;
  std::function<void()> Post;  // schedules RunEvents on the window thread

  // To the worker.
  std::string Outgoing;
  bool BreakWanted = false;
  bool ResizeWanted = false;
  int Columns = 80, Rows = 24;
  bool CloseWanted = false;  // the user's disconnect
  bool Stopped = false;      // everything ends now
  int AnsweredId = 0;
  std::optional<std::string> Answer;

  // From the worker.
  std::string Incoming;
  std::size_t IncomingStart = 0;
  bool DataEventQueued = false;  // an evData waits for the window thread
  bool ReadingPaused = false;
  bool Up = false;  // window thread: the shell has started

  int Socket = -1;  // ours; libssh works on a duplicate. Closed only under Lock.
  int WakeRead = -1, WakeWrite = -1;
  std::size_t SendQueueLimit = 0, ReceiveQueueLimit = 0;
  std::atomic<bool> Done{false};
  std::thread Worker;

  TShared() {
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC | O_NONBLOCK) == 0) {
      WakeRead = pipe[0];
      WakeWrite = pipe[1];
    }
  }
  ~TShared() {
    if (Worker.joinable()) Worker.join();
    for (const int fd : {WakeRead, WakeWrite, Socket}) {
      if (fd >= 0) ::close(fd);
    }
  }

  void Wake() {
    const char byte = 1;
    if (WakeWrite >= 0) (void)!::write(WakeWrite, &byte, 1);
  }
  void DrainWake() {
    char buffer[64];
    while (::read(WakeRead, buffer, sizeof buffer) > 0) {
    }
  }
  // Ends the connection at once: any call of the worker on the socket returns.
  void Stop() {
    {
      std::lock_guard<std::mutex> guard(Lock);
      Stopped = true;
      if (Socket >= 0) ::shutdown(Socket, SHUT_RDWR);
    }
    Answered.notify_all();
    Wake();
  }
  std::size_t IncomingSize() const { return Incoming.size() - IncomingStart; }
  void PushEvent(TEvent event) {
    bool post = false;
    {
      std::lock_guard<std::mutex> guard(Lock);
      Events.push_back(std::move(event));
      post = !EventsPosted;
      EventsPosted = true;
    }
    if (post && Post) Post();
  }
};

// ------------------------------------------------------------ worker

namespace {
class TWorker {
 public:
  TWorker(TSshLine::TShared& shared, TTarget target) : Sh(shared), T(std::move(target)) {}
  ~TWorker() {
    if (Channel) ssh_channel_free(Channel);
    if (Session) ssh_free(Session);
  }

  void Run() {
    if (!Call() || !Handshake() || !CheckHostKey() || !Authenticate() || !OpenShell()) {
      Finish();
      return;
    }
    Sh.PushEvent(MakeEvent(evConnected));
    Serve();
    Finish();
  }

 private:
  using TClock = std::chrono::steady_clock;

  bool Stopping() {
    std::lock_guard<std::mutex> guard(Sh.Lock);
    return Sh.Stopped || Sh.CloseWanted;
  }
  void Error(const std::string& text) {
    if (!Stopping()) Sh.PushEvent(MakeEvent(evError, text));
  }
  void Note(const std::string& text) { Sh.PushEvent(MakeEvent(evNote, text)); }
  std::string SshError() const { return Session ? ssh_get_error(Session) : "no session"; }
  // A failure of libssh in the user's terms: a broken socket by its own
  // sentence, anything else by libssh's.
  void SshFailure(const std::string& during) {
    int error = 0;
    socklen_t size = sizeof error;
    if (Fd >= 0 && getsockopt(Fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error != 0) {
      Error(ErrnoText(error));
      return;
    }
    // The host went away without closing the session: said as ssh says it.
    if (SshError().find("Socket error: disconnected") != std::string::npos) {
      Error("Connection to " + T.Host + " closed by remote host");
      return;
    }
    Error(during + ": " + SshError());
  }

  // Waits for the socket or the wake pipe; false when stopping or after the time.
  int WaitSocket(short events, int timeoutMs) {
    // No events: only the wake pipe, so a hung-up socket cannot keep the poll busy.
    pollfd fds[2] = {{events != 0 ? Fd : -1, events, 0}, {Sh.WakeRead, POLLIN, 0}};
    int result;
    do {
      result = ::poll(fds, 2, timeoutMs);
    } while (result < 0 && errno == EINTR);
    if (fds[1].revents & POLLIN) Sh.DrainWake();
    return result > 0 && fds[0].revents != 0 ? 1 : 0;
  }

  // ---------------------------------------------------------- the call
  bool Call() {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(T.Port);
    const int looked = getaddrinfo(T.Host.c_str(), port.c_str(), &hints, &found);
    if (looked != 0 || !found) {
      const int code = looked == EAI_AGAIN ? kWsaTryAgain
                       : looked == EAI_NONAME || looked == EAI_NODATA || looked == EAI_FAIL ? kWsaHostNotFound
                                                                                             : kWsaNoRecovery;
      Error(WinSockErrorText(code));
      return false;
    }
    int lastError = ECONNREFUSED;
    for (addrinfo* a = found; a && !Stopping(); a = a->ai_next) {
      lastError = TryAddress(a);
      if (lastError == 0) break;
    }
    freeaddrinfo(found);
    if (lastError != 0) Error(ErrnoText(lastError));
    return lastError == 0 && !Stopping();
  }

  // 0 when connected (Fd set), else the errno.
  int TryAddress(const addrinfo* a) {
    const int fd = ::socket(a->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return errno;
    {
      std::lock_guard<std::mutex> guard(Sh.Lock);
      Sh.Socket = fd;
    }
    Fd = fd;
    int error = 0;
    if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0 && errno != EINPROGRESS) error = errno;
    if (error == 0) {
      const int seconds = std::max(1, T.Options.ConnectTimeout);
      const auto deadline = TClock::now() + std::chrono::seconds(seconds);
      for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
        if (left <= 0) {
          error = ETIMEDOUT;
          break;
        }
        if (WaitSocket(POLLOUT, static_cast<int>(left)) == 1) break;
        if (Stopping()) {
          error = ECANCELED;
          break;
        }
      }
    }
    if (error == 0) {
      socklen_t size = sizeof error;
      if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
    }
    if (error != 0) {
      ReleaseSocket();
      return error;
    }
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    if (T.Options.KeepAliveSeconds > 0) {
      // Keep-alives that go unanswered this long end the session: a dead
      // line is noticed instead of waited on for a quarter of an hour.
      const unsigned limit = static_cast<unsigned>(std::max(3 * T.Options.KeepAliveSeconds, 15)) * 1000u;
      setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &limit, sizeof limit);
    }
    return 0;
  }

  void ReleaseSocket() {
    std::lock_guard<std::mutex> guard(Sh.Lock);
    if (Sh.Socket >= 0) ::close(Sh.Socket);
    Sh.Socket = -1;
    Fd = -1;
  }

  // ---------------------------------------------------------- SSH
  bool Handshake() {
    Session = ssh_new();
    if (!Session) {
      Error("SSH: no memory for a session");
      return false;
    }
    // libssh closes the descriptor it is given; ours stays for Stop.
    const int own = ::fcntl(Fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0) {
      Error(ErrnoText(errno));
      return false;
    }
    const long timeout = std::max(1, T.Options.ConnectTimeout);
    const int no = 0;
    const std::string known = TKnownHosts(T.Options.KnownHostsFile).File();
    ssh_options_set(Session, SSH_OPTIONS_FD, &own);
    ssh_options_set(Session, SSH_OPTIONS_HOST, T.Host.c_str());
    ssh_options_set(Session, SSH_OPTIONS_PORT, &T.Port);
    ssh_options_set(Session, SSH_OPTIONS_USER, T.User.c_str());
    ssh_options_set(Session, SSH_OPTIONS_TIMEOUT, &timeout);
    // Keys the file knows make libssh ask for their types first, as ssh does.
    ssh_options_set(Session, SSH_OPTIONS_KNOWNHOSTS, known.c_str());
    // What the user's ssh configuration says is not what this program was told.
    ssh_options_set(Session, SSH_OPTIONS_PROCESS_CONFIG, &no);
    if (ssh_connect(Session) != SSH_OK) {
      SshFailure("SSH");
      return false;
    }
    return !Stopping();
  }

  bool ServerKey(THostKey& key) {
    ssh_key server = nullptr;
    if (ssh_get_server_publickey(Session, &server) != SSH_OK) return false;
    char* base64 = nullptr;
    const int exported = ssh_pki_export_pubkey_base64(server, &base64);
    ssh_key_free(server);
    if (exported != SSH_OK || !base64) return false;
    auto parsed = THostKey::FromBase64(base64);
    ssh_string_free_char(base64);
    if (!parsed) return false;
    key = std::move(*parsed);
    return true;
  }

  bool CheckHostKey() {
    THostKey key;
    if (!ServerKey(key)) {
      Error("SSH: the host's key could not be read: " + SshError());
      return false;
    }
    const TKnownHosts known(T.Options.KnownHostsFile);
    std::string error;
    const auto check = known.Check(T.Host, T.Port, key, error);
    if (!check) {
      Error("host key verification failed: " + error);
      return false;
    }
    const std::string host = HostAndPort(T.Host, T.Port);
    switch (check->Status) {
      case hkKnown: return true;
      case hkRevoked:
        Error("host key verification failed: the " + key.Label() + " host key of " + host + " (" +
              key.Fingerprint() + ") is marked as revoked in " + check->Where);
        return false;
      case hkChanged:
        Error("WARNING: REMOTE HOST IDENTIFICATION HAS CHANGED! The " + key.Label() + " host key of " + host +
              " is now " + key.Fingerprint() + ", not the one in " + check->Where +
              ". Someone could be eavesdropping on you right now (a man-in-the-middle attack), or the host key "
              "has just been changed. Host key verification failed.");
        return false;
      case hkUnknown: break;
    }
    TEvent question = MakeEvent(evQuestion);
    question.HostKeyQuestion = true;
    question.HostKey = {T.Host, T.Port, key, check->OtherTypesKnown, known.File()};
    if (!Ask(std::move(question))) {
      Error("host key verification failed: the " + key.Label() + " host key of " + host + " (" + key.Fingerprint() +
            ") is not known and was not accepted");
      return false;
    }
    if (const std::string failed = known.Add(T.Host, T.Port, key); !failed.empty()) {
      Note("the host key could not be stored: " + failed);
    } else {
      Note("Permanently added '" + TKnownHosts::EntryName(T.Host, T.Port) + "' (" + key.Label() + " " +
           key.Fingerprint() + ") to " + known.File());
    }
    return !Stopping();
  }

  // A question for the window thread; nullopt when unanswered or stopping.
  std::optional<std::string> Ask(TEvent question) {
    std::unique_lock<std::mutex> lock(Sh.Lock);
    const int id = ++LastQuestion;
    question.Id = id;
    Sh.Events.push_back(std::move(question));
    const bool post = !Sh.EventsPosted;
    Sh.EventsPosted = true;
    lock.unlock();
    if (post && Sh.Post) Sh.Post();
    lock.lock();
    Sh.Answered.wait(lock, [&] { return Sh.AnsweredId == id || Sh.Stopped || Sh.CloseWanted; });
    if (Sh.AnsweredId != id) return std::nullopt;
    return std::move(Sh.Answer);
  }

  std::optional<std::string> AskSecret(TSecretKind kind, const std::string& title, const std::string& prompt,
                                       bool echo = false) {
    TEvent question = MakeEvent(evQuestion);
    question.Secret = {kind, title, prompt, echo};
    return Ask(std::move(question));
  }

  // ---------------------------------------------------------- authentication
  bool Authenticate() {
    int result = ssh_userauth_none(Session, nullptr);
    if (result == SSH_AUTH_SUCCESS) return true;
    if (result == SSH_AUTH_ERROR) {
      SshFailure("SSH authentication");
      return false;
    }
    Methods = ssh_userauth_list(Session, nullptr);
    const int offered = Methods;
    // OpenSSH's order: public keys (the agent's, then the files),
    // keyboard-interactive, password.
    if (Done(TryAgent()) || Done(TryKeyFiles()) || Done(TryKeyboardInteractive()) || Done(TryPassword())) {
      return !Stopping();
    }
    if (Failed || Stopping()) return false;
    std::string text = "authentication failed for " + T.User + "@" + T.Host + ": Permission denied (" +
                       MethodNames(offered) + ")";
    for (const std::string& remark : Remarks) text += "; " + remark;
    Error(text);
    return false;
  }

  // A method's result: success ends the search; partial success (more
  // factors wanted) updates the methods and the search goes on.
  bool Done(int result) {
    if (result == SSH_AUTH_SUCCESS) return true;
    if (result == SSH_AUTH_PARTIAL) Methods = ssh_userauth_list(Session, nullptr);
    return Failed || Stopping();
  }

  bool Offers(int method) const { return (Methods & method) != 0; }

  int TryAgent() {
    if (!Offers(SSH_AUTH_METHOD_PUBLICKEY)) return SSH_AUTH_DENIED;
    const char* agent = std::getenv("SSH_AUTH_SOCK");
    if (!agent || !*agent) return SSH_AUTH_DENIED;
    const int result = ssh_userauth_agent(Session, nullptr);
    // An agent that cannot be reached is no reason to stop.
    return result == SSH_AUTH_ERROR && ssh_is_connected(Session) ? SSH_AUTH_DENIED : Checked(result);
  }

  std::vector<std::string> KeyFiles() const {
    if (!T.Options.KeyFile.empty()) return {ExpandUserPath(T.Options.KeyFile)};
    std::vector<std::string> files;
    for (const char* name : {"id_rsa", "id_ecdsa", "id_ed25519", "id_dsa"}) {
      const std::string file = HomeDirectory() + "/.ssh/" + name;
      if (Readable(file)) files.push_back(file);
    }
    return files;
  }

  int TryKeyFiles() {
    if (!Offers(SSH_AUTH_METHOD_PUBLICKEY)) return SSH_AUTH_DENIED;
    for (const std::string& file : KeyFiles()) {
      const int result = TryKeyFile(file);
      if (result != SSH_AUTH_DENIED) return result;
    }
    return SSH_AUTH_DENIED;
  }

  int TryKeyFile(const std::string& file) {
    if (!Readable(file)) {
      Remarks.push_back("key file " + file + ": " + std::strerror(errno));
      return SSH_AUTH_DENIED;
    }
    // A public key beside it lets the host say first whether it would take
    // the key, so no passphrase is asked for a key it refuses.
    ssh_key pub = nullptr;
    if (ssh_pki_import_pubkey_file((file + ".pub").c_str(), &pub) == SSH_OK) {
      const int offer = ssh_userauth_try_publickey(Session, nullptr, pub);
      ssh_key_free(pub);
      if (offer != SSH_AUTH_SUCCESS) return offer == SSH_AUTH_ERROR ? Checked(offer) : SSH_AUTH_DENIED;
    }
    ssh_key key = LoadPrivateKey(file);
    if (!key) return Stopping() ? SSH_AUTH_ERROR : SSH_AUTH_DENIED;
    const int result = ssh_userauth_publickey(Session, nullptr, key);
    ssh_key_free(key);
    return Checked(result);
  }

  ssh_key LoadPrivateKey(const std::string& file) {
    ssh_key key = nullptr;
    if (ssh_pki_import_privkey_file(file.c_str(), nullptr, nullptr, nullptr, &key) == SSH_OK) return key;
    // Most likely protected by a passphrase.
    for (int attempt = 0; attempt < kPasswordAttempts; ++attempt) {
      const auto passphrase =
          AskSecret(skPassphrase, "SSH key passphrase", "Enter passphrase for key '" + file + "': ");
      if (!passphrase) break;
      if (ssh_pki_import_privkey_file(file.c_str(), passphrase->c_str(), nullptr, nullptr, &key) == SSH_OK) {
        return key;
      }
    }
    Remarks.push_back("key file " + file + ": not loaded (a wrong passphrase, or not a private key)");
    return nullptr;
  }

  int TryKeyboardInteractive() {
    if (!Offers(SSH_AUTH_METHOD_INTERACTIVE)) return SSH_AUTH_DENIED;
    int result = ssh_userauth_kbdint(Session, nullptr, nullptr);
    while (result == SSH_AUTH_INFO) {
      const std::string name = ssh_userauth_kbdint_getname(Session);
      const int prompts = ssh_userauth_kbdint_getnprompts(Session);
      for (int i = 0; i < prompts; ++i) {
        char echo = 0;
        const char* prompt = ssh_userauth_kbdint_getprompt(Session, static_cast<unsigned>(i), &echo);
        const auto answer = AskSecret(skKeyboardInteractive, name.empty() ? T.User + "@" + T.Host : name,
                                      prompt ? prompt : "", echo != 0);
        if (!answer) return Stopping() ? SSH_AUTH_ERROR : SSH_AUTH_DENIED;
        ssh_userauth_kbdint_setanswer(Session, static_cast<unsigned>(i), answer->c_str());
      }
      result = ssh_userauth_kbdint(Session, nullptr, nullptr);
    }
    return Checked(result);
  }

  int TryPassword() {
    if (!Offers(SSH_AUTH_METHOD_PASSWORD)) return SSH_AUTH_DENIED;
    for (int attempt = 0; attempt < kPasswordAttempts; ++attempt) {
      const auto password = AskSecret(skPassword, "SSH password", T.User + "@" + T.Host + "'s password: ");
      if (!password) return Stopping() ? SSH_AUTH_ERROR : SSH_AUTH_DENIED;
      const int result = Checked(ssh_userauth_password(Session, nullptr, password->c_str()));
      if (result != SSH_AUTH_DENIED) return result;
    }
    return SSH_AUTH_DENIED;
  }

  // An error of libssh during authentication ends it, with its reason.
  int Checked(int result) {
    if (result == SSH_AUTH_ERROR && !Failed) {
      Failed = true;
      SshFailure("SSH authentication");
    }
    return result;
  }

  // ---------------------------------------------------------- the shell
  bool OpenShell() {
    Channel = ssh_channel_new(Session);
    if (!Channel || ssh_channel_open_session(Channel) != SSH_OK) {
      SshFailure("SSH session channel");
      return false;
    }
    {
      std::lock_guard<std::mutex> guard(Sh.Lock);
      Columns = Sh.Columns;
      Rows = Sh.Rows;
      Sh.ResizeWanted = false;
    }
    if (ssh_channel_request_pty_size(Channel, T.Options.TerminalType.c_str(), Columns, Rows) != SSH_OK) {
      SshFailure("SSH terminal request");
      return false;
    }
    if (ssh_channel_request_shell(Channel) != SSH_OK) {
      SshFailure("SSH shell request");
      return false;
    }
    return !Stopping();
  }

  // What the window asked for since the last look.
  struct TWork {
    std::string Out;
    bool Break = false;
    bool Resize = false;
    bool Close = false;
    bool Stop = false;
    bool Room = true;
  };

  TWork TakeWork() {
    TWork work;
    std::lock_guard<std::mutex> guard(Sh.Lock);
    work.Out.swap(Sh.Outgoing);
    work.Break = std::exchange(Sh.BreakWanted, false);
    work.Resize = std::exchange(Sh.ResizeWanted, false);
    Columns = Sh.Columns;
    Rows = Sh.Rows;
    work.Close = Sh.CloseWanted;
    work.Stop = Sh.Stopped;
    work.Room = Sh.IncomingSize() < Sh.ReceiveQueueLimit;
    Sh.ReadingPaused = !work.Room;
    return work;
  }

  // false when the session ended (an event says how, unless stopped).
  bool DoWork(const TWork& work) {
    // The size first: what was typed after a column change is read by the
    // host at the new size.
    if (work.Resize) ssh_channel_change_pty_size(Channel, Columns, Rows);
    if (!work.Out.empty() && ssh_channel_write(Channel, work.Out.data(), static_cast<std::uint32_t>(work.Out.size())) ==
                                 SSH_ERROR) {
      SshFailure("SSH");
      return false;
    }
    if (work.Break) ssh_channel_request_send_break(Channel, 0);
    return true;
  }

  // Reads what the channel holds; false when the session ended.
  bool ReadChannel(bool& any) {
    char buffer[kReadChunk];
    for (const int stream : {0, 1}) {
      const int n = ssh_channel_read_nonblocking(Channel, buffer, sizeof buffer, stream);
      if (n > 0) {
        any = true;
        Deliver(buffer, n);
      } else if (n == SSH_ERROR) {
        SshFailure("SSH");
        return false;
      }
    }
    if (!any && (ssh_channel_is_eof(Channel) || ssh_channel_is_closed(Channel))) {
      if (!Stopping()) Sh.PushEvent(MakeEvent(evClosed));
      return false;
    }
    return true;
  }

  void Deliver(const char* data, int count) {
    bool post = false;
    {
      std::lock_guard<std::mutex> guard(Sh.Lock);
      Sh.Incoming.append(data, static_cast<std::size_t>(count));
      if (!Sh.DataEventQueued) {
        Sh.DataEventQueued = true;
        Sh.Events.push_back(MakeEvent(evData));
        post = !Sh.EventsPosted;
        Sh.EventsPosted = true;
      }
    }
    if (post && Sh.Post) Sh.Post();
  }

  void Serve() {
    const int keepAliveMs = T.Options.KeepAliveSeconds > 0 ? T.Options.KeepAliveSeconds * 1000 : -1;
    auto quietSince = TClock::now();
    for (;;) {
      const TWork work = TakeWork();
      if (work.Stop) return;
      if (work.Close) {
        CloseGently();
        return;
      }
      if (!DoWork(work)) return;
      bool any = !work.Out.empty();
      if (work.Room && !ReadChannel(any)) return;
      if (any) {
        quietSince = TClock::now();
        continue;
      }
      int wait = -1;
      if (keepAliveMs > 0) {
        const auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(TClock::now() - quietSince).count();
        wait = static_cast<int>(std::max<long long>(0, keepAliveMs - quiet));
      }
      if (WaitSocket(work.Room ? POLLIN : 0, wait) == 0 && keepAliveMs > 0 &&
          TClock::now() - quietSince >= std::chrono::milliseconds(keepAliveMs)) {
        // Traffic the host must acknowledge: a dead line shows as a timeout.
        ssh_send_ignore(Session, "");
        quietSince = TClock::now();
      }
    }
  }

  // The user's close: the disconnect message, which ends the channel with
  // the connection. A channel close first would make the server end the
  // connection itself before the message arrives.
  void CloseGently() {
    ssh_disconnect(Session);
    // The disconnect has freed the session's channels.
    Channel = nullptr;
  }

  void Finish() {
    // The channel and the session go before our descriptor, which Stop may
    // still shut down until then.
    if (Channel) ssh_channel_free(Channel);
    Channel = nullptr;
    if (Session) {
      ssh_disconnect(Session);
      ssh_free(Session);
    }
    Session = nullptr;
    ReleaseSocket();
  }

  TSshLine::TShared& Sh;
  TTarget T;
  int Fd = -1;
  ssh_session Session = nullptr;
  ssh_channel Channel = nullptr;
  int Methods = 0;
  bool Failed = false;  // an error was reported during authentication
  std::vector<std::string> Remarks;
  int LastQuestion = 0;
  int Columns = 80, Rows = 24;
};
}  // namespace

// ------------------------------------------------------------ the line

TSshLine::TSshLine() : Context(new QObject) { InitialiseLibsshOnce(); }

TSshLine::~TSshLine() {
  if (Current) Retired.push_back(std::move(Current));
  // A disconnect under way may say goodbye first, briefly (the program is ending).
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kCloseWaitAtEndMs);
  for (const auto& shared : Retired) {
    while (!shared->Done && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  for (const auto& shared : Retired) shared->Stop();
  Retired.clear();  // each joins its worker
  delete Context;
}

void TSshLine::SetAddress(const std::string& host, const std::string& port) {
  HostText = host;
  PortText = port;
}

bool TSshLine::Connected() const { return Current && Current->Up; }

std::string TSshLine::Target() const { return LastTarget; }

void TSshLine::Fail(const std::string& text) {
  // Events reach the session from the event loop, never from inside the call
  // that opened the line; a later Connect makes this one's failure moot.
  QMetaObject::invokeMethod(
      Context,
      [this, text, attempt = Attempts] {
        if (attempt == Attempts && !Current && OnErrorOccurred) OnErrorOccurred(text);
      },
      Qt::QueuedConnection);
}

void TSshLine::Connect() {
  if (Current) Disconnect();
  ReapFinished();
  ++Attempts;
  const TSshOptions options = Options ? Options() : TSshOptions{};
  TTarget target;
  target.Options = options;
  const std::string hostText(TrimBlanks(HostText));
  const std::size_t at = hostText.rfind('@');
  target.User = at == std::string::npos ? options.User : hostText.substr(0, at);
  if (target.User.empty()) target.User = LocalUser();
  const THostPort split = SplitHostPort(at == std::string::npos ? hostText : hostText.substr(at + 1));
  target.Host = split.Host;
  const std::string portText = split.Port.empty() ? PortText : split.Port;
  LastTarget = target.User + "@" + JoinHostPort(target.Host, portText);
  if (target.Host.empty()) {
    Fail("No IP Address Specified");
    return;
  }
  char* end = nullptr;
  const long port = std::strtol(portText.c_str(), &end, 10);
  if (portText.empty() || *end != '\0' || port < 1 || port > 65535) {
    Fail("'" + portText + "' is not a valid port number");
    return;
  }
  target.Port = static_cast<int>(port);

  auto shared = std::make_shared<TShared>();
  shared->Columns = options.Columns;
  shared->Rows = options.Rows;
  shared->SendQueueLimit = SendQueueLimit;
  shared->ReceiveQueueLimit = ReceiveQueueLimit;
  std::weak_ptr<TShared> weak = shared;
  shared->Post = [this, weak, context = Context] {
    QMetaObject::invokeMethod(
        context,
        [this, weak] {
          if (auto alive = weak.lock()) RunEvents(alive);
        },
        Qt::QueuedConnection);
  };
  TShared* raw = shared.get();
  shared->Worker = std::thread([raw, target] {
    {
      TWorker worker(*raw, target);
      worker.Run();
    }
    raw->Done = true;
  });
  Current = std::move(shared);
}

void TSshLine::Listen() { Fail("an SSH session cannot wait for a call; Listen takes Telnet and TCP calls"); }

void TSshLine::Disconnect() {
  if (!Current) return;
  {
    std::lock_guard<std::mutex> guard(Current->Lock);
    Current->CloseWanted = true;
  }
  Current->Answered.notify_all();
  Current->Wake();
  std::weak_ptr<TShared> weak = Current;
  QTimer::singleShot(kCloseGraceMs, Context, [weak] {
    if (auto shared = weak.lock()) shared->Stop();
  });
  Retire();
}

void TSshLine::Retire() {
  if (!Current) return;
  Retired.push_back(std::move(Current));
  Current.reset();
  ReapFinished();
}

void TSshLine::ReapFinished() {
  std::erase_if(Retired, [](const std::shared_ptr<TShared>& shared) { return shared->Done.load(); });
}

int TSshLine::Send(const std::uint8_t* buffer, int length) {
  if (!Current) return -1;
  if (length <= 0) return 0;
  bool overflow = false;
  {
    std::lock_guard<std::mutex> guard(Current->Lock);
    if (Current->Outgoing.size() + static_cast<std::size_t>(length) > Current->SendQueueLimit) {
      overflow = true;
    } else {
      Current->Outgoing.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(length));
    }
  }
  if (overflow) {
    Current->Stop();
    Current->PushEvent(MakeEvent(evError, WinSockErrorText(kWsaNoBufferSpace)));
    return -1;
  }
  Current->Wake();
  return length;
}

int TSshLine::Receive(std::uint8_t* buffer, int length) {
  if (!Current || length <= 0) return -1;
  bool resume = false;
  bool more = false;
  int taken = 0;
  {
    std::lock_guard<std::mutex> guard(Current->Lock);
    TShared& s = *Current;
    const std::size_t waiting = s.IncomingSize();
    if (waiting == 0) return -1;
    taken = static_cast<int>(std::min<std::size_t>(waiting, static_cast<std::size_t>(length)));
    std::memcpy(buffer, s.Incoming.data() + s.IncomingStart, static_cast<std::size_t>(taken));
    s.IncomingStart += static_cast<std::size_t>(taken);
    if (s.IncomingSize() == 0) {
      s.Incoming.clear();
      s.IncomingStart = 0;
    } else if (s.IncomingStart > 64 * 1024 && s.IncomingStart * 2 > s.Incoming.size()) {
      s.Incoming.erase(0, s.IncomingStart);
      s.IncomingStart = 0;
    }
    resume = s.ReadingPaused && s.IncomingSize() < s.ReceiveQueueLimit / 2;
    // As a socket stays readable, bytes left behind are announced again.
    more = s.IncomingSize() > 0 && !s.DataEventQueued;
    if (more) s.DataEventQueued = true;
  }
  if (more) Current->PushEvent(MakeEvent(evData));
  if (resume) Current->Wake();
  return taken;
}

bool TSshLine::SendBreak() {
  if (!Current) return false;
  {
    std::lock_guard<std::mutex> guard(Current->Lock);
    Current->BreakWanted = true;
  }
  Current->Wake();
  return true;
}

void TSshLine::SetTerminalSize(int columns, int rows) {
  if (!Current) return;
  {
    std::lock_guard<std::mutex> guard(Current->Lock);
    if (Current->Columns == columns && Current->Rows == rows) return;
    Current->Columns = columns;
    Current->Rows = rows;
    Current->ResizeWanted = true;
  }
  Current->Wake();
}

void TSshLine::RunEvents(const std::shared_ptr<TShared>& shared) {
  for (;;) {
    TEvent event;
    {
      std::lock_guard<std::mutex> guard(shared->Lock);
      if (shared->Events.empty()) {
        shared->EventsPosted = false;
        return;
      }
      event = std::move(shared->Events.front());
      shared->Events.pop_front();
    }
    // A worker the line has let go of is heard no more; its questions are
    // answered "no" by its stop.
    if (shared != Current) continue;
    switch (event.Kind) {
      case evConnected:
        shared->Up = true;
        if (OnSessionConnected) OnSessionConnected();
        break;
      case evData: {
        {
          std::lock_guard<std::mutex> guard(shared->Lock);
          shared->DataEventQueued = false;
        }
        if (OnDataAvailable) OnDataAvailable();
        break;
      }
      case evClosed:
        shared->Up = false;
        Retire();
        if (OnSessionClosed) OnSessionClosed();
        break;
      case evError:
        shared->Up = false;
        Retire();
        if (OnErrorOccurred) OnErrorOccurred(event.Text);
        break;
      case evNote:
        if (OnNote) OnNote(event.Text);
        break;
      case evQuestion: {
        std::optional<std::string> answer;
        if (event.HostKeyQuestion) {
          if (AcceptNewHostKey && AcceptNewHostKey(event.HostKey)) answer = "yes";
        } else if (AskSecret) {
          answer = AskSecret(event.Secret);
        }
        {
          std::lock_guard<std::mutex> guard(shared->Lock);
          shared->AnsweredId = event.Id;
          shared->Answer = std::move(answer);
        }
        shared->Answered.notify_all();
        break;
      }
    }
  }
}
