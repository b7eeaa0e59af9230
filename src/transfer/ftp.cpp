#include "transfer/ftp.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <netdb.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "comms/knownhosts.h"
#include "log/errors.h"
#include "transfer/certificates.h"

namespace {

constexpr long kBufferSize = 512 * 1024;
constexpr auto kProgressEvery = std::chrono::milliseconds(100);

CURL* Handle(void* curl) { return static_cast<CURL*>(curl); }

// libcurl's global set-up is not thread-safe: done once, before any worker runs.
void InitialiseCurlOnce() {
  static const bool done = [] { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }();
  (void)done;
}

std::string TrimRight(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\n')) text.pop_back();
  return text;
}

std::string ErrnoText(int error) {
  if (error == ENOSPC) return "Disk FULL !";
  return TrimRight(ErrorCodeText(SystemErrorCode(error)));
}

// The directory in a "257" answer: the text between its first and last quote.
std::string QuotedDirectory(const std::vector<std::string>& replies) {
  for (auto line = replies.rbegin(); line != replies.rend(); ++line) {
    if (line->rfind("257", 0) != 0) continue;
    const auto first = line->find('"');
    const auto last = line->rfind('"');
    if (first == std::string::npos || last <= first) return "";
    std::string directory;
    // A quote inside the name is written twice.
    for (std::size_t i = first + 1; i < last; ++i) {
      directory += (*line)[i];
      if ((*line)[i] == '"' && i + 1 < last && (*line)[i + 1] == '"') ++i;
    }
    return directory;
  }
  return "";
}

int ReplyCode(const std::string& line) {
  if (line.size() < 3) return 0;
  for (int i = 0; i < 3; ++i)
    if (line[i] < '0' || line[i] > '9') return 0;
  return std::stoi(line.substr(0, 3));
}

// Failures after which the control connection may be gone.
bool MayHaveLostConnection(int code) {
  switch (code) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_PARTIAL_FILE:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_LOGIN_DENIED:
    case CURLE_FTP_ACCEPT_FAILED:
    case CURLE_FTP_ACCEPT_TIMEOUT:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_WEIRD_227_FORMAT:
      return true;
    default:
      return false;
  }
}

size_t DiscardReply(char*, size_t size, size_t count, void*) { return size * count; }

// Frees the handle; libcurl sends QUIT on a live connection and reads its
// answer, which must reach no request (the last one is gone) and may not keep
// the worker long when the server answers without end.
void CloseHandle(void* curl) {
  CURL* handle = Handle(curl);
  curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &DiscardReply);
  curl_easy_setopt(handle, CURLOPT_HEADERDATA, nullptr);
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 1L);
  curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, nullptr);
  curl_easy_setopt(handle, CURLOPT_SERVER_RESPONSE_TIMEOUT, 2L);
  curl_easy_cleanup(handle);
}

std::string HostAndPort(const std::string& host, int port) { return host + " port " + std::to_string(port); }

struct TSlist {
  curl_slist* List = nullptr;
  ~TSlist() { curl_slist_free_all(List); }
  void Add(const std::string& line) { List = curl_slist_append(List, line.c_str()); }
};

}  // namespace

// One perform on the client's handle: common options, the server's answers,
// progress and abort.
struct TFtpClient::TRequest {
  TFtpClient& C;
  std::vector<std::string> Replies;
  std::string Error;
  std::string ProgressName;  // non-empty: report progress under this name
  bool WatchLogin = false;   // report the greeting and the login as states
  std::chrono::steady_clock::time_point LastProgress{};
  char ErrorBuffer[CURL_ERROR_SIZE] = {};

  explicit TRequest(TFtpClient& client) : C(client) {
    CURL* curl = Handle(C.Curl);
    curl_easy_reset(curl);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    if (!C.User.empty()) {
      curl_easy_setopt(curl, CURLOPT_USERNAME, C.User.c_str());
      curl_easy_setopt(curl, CURLOPT_PASSWORD, C.Password.c_str());
    }
    if (!C.Account.empty()) curl_easy_setopt(curl, CURLOPT_FTP_ACCOUNT, C.Account.c_str());
    // Absolute paths in every command: the server's own directory never matters.
    curl_easy_setopt(curl, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, static_cast<long>(C.ConnectTimeout));
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>(C.ReceiveTimeout));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, static_cast<long>(C.ReceiveTimeout));
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, kBufferSize);
    curl_easy_setopt(curl, CURLOPT_UPLOAD_BUFFERSIZE, kBufferSize);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &TRequest::OnReply);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &TRequest::OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, ErrorBuffer);
    if (C.Tls()) SecureTls(curl);
    if (C.Sftp()) SecureSsh(curl);
  }

  // FTPS: every command and every transfer under TLS, the server's
  // certificate checked against the system's store, or against the one the
  // user trusted (its key pinned) when the store does not know it.
  void SecureTls(CURL* curl) {
    curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
    if (!C.TrustedPin.empty() && C.TrustedFor == HostAndPort(C.Host, C.Port)) {
      curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
      curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
      curl_easy_setopt(curl, CURLOPT_PINNEDPUBLICKEY, C.TrustedPin.c_str());
    }
  }

  // SFTP: the host key checked as SSH sessions check it; keys from the
  // agent and the key file, else the password.
  void SecureSsh(CURL* curl) {
    curl_easy_setopt(curl, CURLOPT_SSH_HOSTKEYFUNCTION, &TFtpClient::OnHostKey);
    curl_easy_setopt(curl, CURLOPT_SSH_HOSTKEYDATA, &C);
    curl_easy_setopt(curl, CURLOPT_SSH_AUTH_TYPES,
                     static_cast<long>(CURLSSH_AUTH_PUBLICKEY | CURLSSH_AUTH_AGENT | CURLSSH_AUTH_KEYBOARD |
                                       CURLSSH_AUTH_PASSWORD));
    if (!C.Security.KeyFile.empty()) {
      const std::string key = ExpandUserPath(C.Security.KeyFile);
      curl_easy_setopt(curl, CURLOPT_SSH_PRIVATE_KEYFILE, key.c_str());
    }
    // The password field also opens a key protected by a passphrase.
    if (!C.Password.empty()) curl_easy_setopt(curl, CURLOPT_KEYPASSWD, C.Password.c_str());
  }

  void SetUrl(const std::string& path, bool directory) {
    const std::string url = Url(C.Security.Protocol, C.Host, C.Port, path, directory);
    curl_easy_setopt(Handle(C.Curl), CURLOPT_URL, url.c_str());
  }

  int Perform() {
    const CURLcode code = curl_easy_perform(Handle(C.Curl));
    Error = ErrorBuffer[0] ? TrimRight(ErrorBuffer) : curl_easy_strerror(code);
    return code;
  }

  // Why the request failed, in libcurl's words (the server's answers are
  // listed already).
  std::string Cause() const { return Error; }

  static size_t OnReply(char* data, size_t size, size_t count, void* user) {
    auto& r = *static_cast<TRequest*>(user);
    const std::string line = TrimRight(std::string(data, size * count));
    r.Replies.push_back(line);
    r.C.Post(fvLog, 0, line);
    // Only the last line of an answer ("220 ", not "220-") tells the state.
    const bool last = line.size() == 3 || (line.size() > 3 && line[3] == ' ');
    if (r.WatchLogin && last) {
      const int code = ReplyCode(line);
      if (code == 220) {
        r.C.Post(fvState, fsConnected);
        r.C.Post(fvProtocolState, fpAuthorization);
      } else if (code == 230) {
        r.C.Post(fvProtocolState, fpTransaction);
      }
    }
    return size * count;
  }

  static int OnProgress(void* user, curl_off_t downTotal, curl_off_t down, curl_off_t upTotal, curl_off_t up) {
    auto& r = *static_cast<TRequest*>(user);
    if (r.C.AbortWanted()) return 1;
    if (r.ProgressName.empty()) return 0;
    const auto now = std::chrono::steady_clock::now();
    if (now - r.LastProgress < kProgressEvery) return 0;
    r.LastProgress = now;
    r.C.Post(fvProgress, 0, r.ProgressName, down > up ? down : up);
    return 0;
  }
};

TFtpClient::TFtpClient(std::function<void()> wake) : Wake(std::move(wake)) {
  InitialiseCurlOnce();
  Worker = std::thread([this] { WorkerLoop(); });
}

TFtpClient::~TFtpClient() {
  Abort();
  {
    std::lock_guard<std::mutex> guard(Lock);
    Stopping = true;
  }
  Ready.notify_all();
  Answered.notify_all();
  Worker.join();
  if (Curl) CloseHandle(Curl);
}

void TFtpClient::SetListingFile(const std::string& name) {
  std::lock_guard<std::mutex> guard(Lock);
  ListingFile = name;
}

int TFtpClient::DefaultPort(std::uint8_t protocol) {
  switch (protocol) {
    case fpSftp: return 22;
    case fpImplicitTls: return 990;
    default: return kDefaultPort;
  }
}

void TFtpClient::SetSecurity(const TFtpSecurity& security) {
  Queue([=, this] {
    // Another server, or the same one by another way: drop what was trusted.
    if (security.Protocol != Security.Protocol && Curl) DropConnection();
    Security = security;
  });
}

void TFtpClient::SetTimeouts(int connectSeconds, int receiveSeconds) {
  Queue([=, this] {
    ConnectTimeout = connectSeconds;
    ReceiveTimeout = receiveSeconds;
  });
}

void TFtpClient::Connect(const std::string& host, int port, const std::string& user, const std::string& password,
                         const std::string& account) {
  Queue([=, this] { DoConnect(host, port, user, password, account); });
}

void TFtpClient::SetType(TFtpType type) {
  Queue([=, this] {
    Type = type;
    Post(fvType, type);
  });
}

void TFtpClient::ChangeDirectory(const std::string& path) {
  Queue([=, this] { DoChangeDirectory("CWD " + path, fcCwdFailed); });
}

void TFtpClient::ParentDirectory() {
  Queue([this] { DoChangeDirectory("CDUP", fcCdupFailed); });
}

void TFtpClient::PrintDirectory() {
  Queue([this] { DoPrintDirectory(); });
}

void TFtpClient::List(const std::string& path, bool namesOnly) {
  Queue([=, this] { DoList(path, namesOnly); });
}

void TFtpClient::Get(const std::string& remote, const std::string& local) {
  Queue([=, this] { DoGet(remote, local); });
}

void TFtpClient::Put(const std::string& local, const std::string& remote) {
  Queue([=, this] { DoPut(local, remote); });
}

void TFtpClient::Help(const std::string& topic) {
  Queue([=, this] { DoHelp(topic); });
}

void TFtpClient::Execute(const std::string& line) {
  Queue([=, this] { DoExecute(line); });
}

void TFtpClient::Disconnect() {
  Queue([this] { DoDisconnect(); });
}

void TFtpClient::Abort() {
  {
    std::lock_guard<std::mutex> guard(Lock);
    ++Generation;
    Jobs.clear();
  }
  Answered.notify_all();  // a question waiting is answered no
}

bool TFtpClient::Busy() const {
  std::lock_guard<std::mutex> guard(Lock);
  return Running || !Jobs.empty();
}

std::string TFtpClient::RemoteDirectory() const {
  std::lock_guard<std::mutex> guard(Lock);
  return Directory;
}

std::vector<TFtpEvent> TFtpClient::TakeEvents() {
  std::lock_guard<std::mutex> guard(Lock);
  std::vector<TFtpEvent> taken;
  taken.swap(Events);
  return taken;
}

void TFtpClient::Queue(std::function<void()> run) {
  {
    std::lock_guard<std::mutex> guard(Lock);
    Jobs.push_back({std::move(run), Generation});
  }
  Ready.notify_one();
}

void TFtpClient::WorkerLoop() {
  std::unique_lock<std::mutex> lock(Lock);
  for (;;) {
    Ready.wait(lock, [this] { return Stopping || !Jobs.empty(); });
    if (Stopping) return;
    TJob job = std::move(Jobs.front());
    Jobs.pop_front();
    RunningGeneration = job.Generation;
    const bool wasIdle = !Running;
    Running = true;
    lock.unlock();
    if (wasIdle) Post(fvBusy, 1);
    job.Run();
    lock.lock();
    if (Jobs.empty()) {
      Running = false;
      lock.unlock();
      Post(fvBusy, 0);
      lock.lock();
    }
  }
}

void TFtpClient::Post(TFtpEvent event) {
  bool first = false;
  {
    std::lock_guard<std::mutex> guard(Lock);
    first = Events.empty();
    Events.push_back(std::move(event));
  }
  if (first && Wake) Wake();
}

void TFtpClient::Post(TFtpEventKind kind, int value, const std::string& text, std::int64_t bytes) {
  Post(TFtpEvent{kind, value, text, bytes});
}

bool TFtpClient::AbortWanted() const {
  std::lock_guard<std::mutex> guard(Lock);
  return RunningGeneration != Generation || Stopping;
}

void TFtpClient::DoConnect(const std::string& host, int port, const std::string& user, const std::string& password,
                           const std::string& account) {
  Post(fvState, fsConnecting);
  SplitHost(host, port, Host, Port);
  User = user;
  Password = password;
  Account = account;
  Post(fvState, fsResolvingHost);
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(Host.c_str(), nullptr, &hints, &found) != 0) {
    Post(fvError, fcConnectFailed, "Host not found : " + Host);
    Post(fvState, fsDisconnected);
    return;
  }
  freeaddrinfo(found);
  Post(fvState, fsHostResolved);

  if (!Curl) Curl = curl_easy_init();
  std::string cause;
  int code = ConnectRequest(cause);
  // A certificate no authority vouches for may still be the one the user knows.
  if (code == CURLE_PEER_FAILED_VERIFICATION && Tls() && TrustCertificate(cause)) code = ConnectRequest(cause);
  if (code != CURLE_OK) {
    if (code == CURLE_OPERATION_TIMEDOUT) Post(fvTimeout, ftConnect);
    if (code == CURLE_ABORTED_BY_CALLBACK) Post(fvAbort, 0, "Connect");
    else Post(fvError, fcConnectFailed, cause);
    DropConnection();
    return;
  }
  IsConnected = true;
  AfterLogin();
}

// The first request: the call, the greeting, TLS or SSH, the login.
int TFtpClient::ConnectRequest(std::string& cause) {
  TRequest request(*this);
  request.WatchLogin = !Sftp();
  HostKeyFailure.clear();
  // SFTP starts in the user's home folder, as the ftp login does.
  request.SetUrl(Sftp() ? "/~/" : "/", true);
  curl_easy_setopt(Handle(Curl), CURLOPT_NOBODY, 1L);
  if (Tls()) curl_easy_setopt(Handle(Curl), CURLOPT_CERTINFO, 1L);
  const int code = request.Perform();
  cause = HostKeyFailure.empty() ? request.Cause() : HostKeyFailure;
  return code;
}

void TFtpClient::AfterLogin() {
  char* entry = nullptr;
  curl_easy_getinfo(Handle(Curl), CURLINFO_FTP_ENTRY_PATH, &entry);
  {
    std::lock_guard<std::mutex> guard(Lock);
    Directory = entry && *entry == '/' ? entry : "/";
  }
  if (Sftp()) {
    // No greeting or login replies to watch: the states as they are now.
    Post(fvState, fsConnected);
    Post(fvProtocolState, fpTransaction);
    Post(fvSystem, 0, "SFTP");
    Post(fvDirectory, 0, RemoteDirectory());
    return;
  }
  if (!Account.empty()) Post(fvAccount, 0, Account);
  std::vector<std::string> replies;
  int syst = 0;
  DoQuote({"SYST"}, fcSystFailed, replies, syst);
  if (syst == CURLE_OK) {
    const std::string& last = replies.empty() ? std::string() : replies.back();
    Post(fvSystem, 0, last.size() > 4 ? last.substr(4) : last);
  }
  Post(fvDirectory, 0, RemoteDirectory());
}

bool TFtpClient::Ask(const std::string& question) {
  int id = 0;
  {
    std::lock_guard<std::mutex> guard(Lock);
    id = ++LastQuestion;
  }
  Post(fvQuestion, id, question);
  std::unique_lock<std::mutex> lock(Lock);
  Answered.wait(lock, [&] { return AnsweredQuestion == id || Stopping || RunningGeneration != Generation; });
  return AnsweredQuestion == id && AnswerYes;
}

void TFtpClient::Answer(int question, bool yes) {
  {
    std::lock_guard<std::mutex> guard(Lock);
    AnsweredQuestion = question;
    AnswerYes = yes;
  }
  Answered.notify_all();
}

// An FTPS server whose certificate signs itself: its fingerprint is shown,
// and a yes pins its key for the rest of the client's life.
bool TFtpClient::TrustCertificate(const std::string& cause) {
  long verify = 0;
  curl_easy_getinfo(Handle(Curl), CURLINFO_SSL_VERIFYRESULT, &verify);
  if (!IsSelfSignedVerifyResult(verify)) return false;
  // The chain as the server sends it, fetched without judging it.
  TRequest probe(*this);
  probe.SetUrl("/", true);
  curl_easy_setopt(Handle(Curl), CURLOPT_NOBODY, 1L);
  curl_easy_setopt(Handle(Curl), CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(Handle(Curl), CURLOPT_SSL_VERIFYHOST, 0L);
  curl_easy_setopt(Handle(Curl), CURLOPT_CERTINFO, 1L);
  probe.Perform();
  curl_certinfo* chain = nullptr;
  curl_easy_getinfo(Handle(Curl), CURLINFO_CERTINFO, &chain);
  std::string pem;
  if (chain && chain->num_of_certs > 0) {
    for (curl_slist* item = chain->certinfo[0]; item; item = item->next) {
      if (std::strncmp(item->data, "Cert:", 5) == 0) pem = item->data + 5;
    }
  }
  // The probe's connection is of no further use.
  CloseHandle(Curl);
  Curl = curl_easy_init();
  const std::optional<TCertificate> certificate = ReadCertificate(pem);
  if (!certificate) return false;
  const std::string where = HostAndPort(Host, Port);
  if (!Ask(CertificateQuestion(where, cause, *certificate))) return false;
  TrustedPin = certificate->KeyPin;
  TrustedFor = where;
  return true;
}

int TFtpClient::OnHostKey(void* client, int type, const char* key, std::size_t length) {
  auto& c = *static_cast<TFtpClient*>(client);
  const auto hostKey = THostKey::FromBlob(std::string(key, length));
  if (!hostKey) {
    c.HostKeyFailure = "host key verification failed: the host's key could not be read";
    return CURLKHMATCH_MISMATCH;
  }
  const TKnownHosts known(c.Security.KnownHostsFile);
  std::string error;
  const auto check = known.Check(c.Host, c.Port, *hostKey, error);
  if (!check) {
    c.HostKeyFailure = "host key verification failed: " + error;
    return CURLKHMATCH_MISMATCH;
  }
  const std::string where = c.Host + " port " + std::to_string(c.Port);
  switch (check->Status) {
    case hkKnown: return CURLKHMATCH_OK;
    case hkRevoked:
      c.HostKeyFailure = "host key verification failed: the " + hostKey->Label() + " host key of " + where +
                         " is marked as revoked in " + check->Where;
      return CURLKHMATCH_MISMATCH;
    case hkChanged:
      c.HostKeyFailure = "WARNING: REMOTE HOST IDENTIFICATION HAS CHANGED! The " + hostKey->Label() +
                         " host key of " + where + " is now " + hostKey->Fingerprint() + ", not the one in " +
                         check->Where + ". Host key verification failed.";
      return CURLKHMATCH_MISMATCH;
    case hkUnknown: break;
  }
  const TNewHostKey question{c.Host, c.Port, *hostKey, check->OtherTypesKnown, known.File()};
  if (!c.Ask(NewHostKeyQuestion(question))) {
    c.HostKeyFailure = "host key verification failed: the " + hostKey->Label() + " host key of " + where + " (" +
                       hostKey->Fingerprint() + ") is not known and was not accepted";
    return CURLKHMATCH_MISMATCH;
  }
  if (const std::string failed = known.Add(c.Host, c.Port, *hostKey); !failed.empty()) {
    c.Post(fvLog, 0, "the host key could not be stored: " + failed);
  }
  return CURLKHMATCH_OK;
}

// Runs raw commands in the remote directory; replies gets every answer.
void TFtpClient::DoQuote(const std::vector<std::string>& commands, int errorCode, std::vector<std::string>& replies,
                         int& curlCode) {
  TRequest request(*this);
  TSlist quote;
  // SFTP's commands take their paths from the URL's directory.
  if (!Sftp()) quote.Add("CWD " + RemoteDirectory());
  for (const std::string& command : commands) quote.Add(command);
  request.SetUrl(Sftp() ? RemoteDirectory() : "/", true);
  curl_easy_setopt(Handle(Curl), CURLOPT_NOBODY, 1L);
  curl_easy_setopt(Handle(Curl), CURLOPT_QUOTE, quote.List);
  curlCode = request.Perform();
  replies = request.Replies;
  if (curlCode != CURLE_OK && errorCode) ReportFailure(errorCode, curlCode, request.Cause());
}

void TFtpClient::DoChangeDirectory(const std::string& command, int errorCode) {
  if (!Curl) return ReportFailure(errorCode, CURLE_OK, "Not connected");
  if (Sftp()) return DoSftpChangeDirectory(command == "CDUP" ? ".." : command.substr(4), errorCode);
  std::vector<std::string> replies;
  int code = 0;
  DoQuote({command, "PWD"}, errorCode, replies, code);
  if (code != CURLE_OK) return;
  const std::string directory = QuotedDirectory(replies);
  if (directory.empty()) return ReportFailure(fcPwdFailed, CURLE_OK, replies.empty() ? "" : replies.back());
  {
    std::lock_guard<std::mutex> guard(Lock);
    Directory = directory;
  }
  Post(fvDirectory, 0, directory);
}

// SFTP has no working directory on the server: the client keeps it, and a
// directory is taken once it can be listed.
void TFtpClient::DoSftpChangeDirectory(const std::string& path, int errorCode) {
  const std::string directory = JoinPath(RemoteDirectory(), path);
  TRequest request(*this);
  std::string ignored;
  request.SetUrl(directory, true);
  curl_easy_setopt(Handle(Curl), CURLOPT_DIRLISTONLY, 1L);
  curl_easy_setopt(Handle(Curl), CURLOPT_WRITEFUNCTION, +[](char*, size_t size, size_t count, void*) { return size * count; });
  const int code = request.Perform();
  if (code != CURLE_OK) return ReportFailure(errorCode, code, request.Cause());
  {
    std::lock_guard<std::mutex> guard(Lock);
    Directory = directory;
  }
  Post(fvDirectory, 0, directory);
}

void TFtpClient::DoPrintDirectory() {
  if (!Curl) return ReportFailure(fcPwdFailed, CURLE_OK, "Not connected");
  if (Sftp()) return Post(fvPrintDirectory, 0, RemoteDirectory());
  std::vector<std::string> replies;
  int code = 0;
  DoQuote({"PWD"}, fcPwdFailed, replies, code);
  if (code != CURLE_OK) return;
  const std::string directory = QuotedDirectory(replies);
  if (directory.empty()) return ReportFailure(fcPwdFailed, CURLE_OK, replies.empty() ? "" : replies.back());
  {
    std::lock_guard<std::mutex> guard(Lock);
    Directory = directory;
  }
  Post(fvPrintDirectory, 0, directory);
}

namespace {

// A listing taken line by line as it arrives: each line is reported at once
// and written to the listing file, so nothing holds the whole listing, and a
// server whose listing never ends is cut off at kListingLimit.
class TListingReceiver {
 public:
  TListingReceiver(std::function<void(const std::string&)> line, const std::string& fileName)
      : Line(std::move(line)) {
    if (!fileName.empty()) File = std::fopen(fileName.c_str(), "wb");
  }
  ~TListingReceiver() {
    if (File) std::fclose(File);
  }
  TListingReceiver(const TListingReceiver&) = delete;
  TListingReceiver& operator=(const TListingReceiver&) = delete;

  bool TooLarge() const { return Total > TFtpClient::kListingLimit; }

  static size_t OnData(char* data, size_t size, size_t count, void* user) {
    auto& r = *static_cast<TListingReceiver*>(user);
    const size_t total = size * count;
    r.Total += total;
    if (r.TooLarge()) return 0;  // libcurl stops with a write error
    if (r.File && std::fwrite(data, 1, total, r.File) != total) {
      std::fclose(r.File);  // the window still lists; only the file stops
      r.File = nullptr;
    }
    r.Take(data, total);
    return total;
  }

  // The last line may come without a line end.
  void Finish() {
    Report();
    Partial.clear();
  }

 private:
  void Take(const char* data, size_t count) {
    for (size_t at = 0; at < count;) {
      const void* found = std::memchr(data + at, '\n', count - at);
      const size_t stop = found ? static_cast<size_t>(static_cast<const char*>(found) - data) : count;
      // A line longer than the limit keeps its start; the rest is dropped.
      const size_t room = TFtpClient::kListLineLimit - Partial.size();
      Partial.append(data + at, std::min(room, stop - at));
      if (!found) return;
      Report();
      Partial.clear();
      at = stop + 1;
    }
  }
  void Report() {
    const std::string line = TrimRight(Partial);
    if (!line.empty()) Line(line);
  }

  std::function<void(const std::string&)> Line;
  std::FILE* File = nullptr;
  std::string Partial;
  std::uint64_t Total = 0;
};

}  // namespace

void TFtpClient::DoList(const std::string& path, bool namesOnly) {
  const int errorCode = namesOnly ? fcNameListFailed : fcListFailed;
  if (!Curl) return ReportFailure(errorCode, CURLE_OK, "Not connected");
  const std::string directory = JoinPath(RemoteDirectory(), path);
  std::string listingFile;
  {
    std::lock_guard<std::mutex> guard(Lock);
    listingFile = ListingFile;
  }
  TRequest request(*this);
  TListingReceiver receiver([this](const std::string& line) { Post(fvListItem, 0, line); }, listingFile);
  request.SetUrl(directory, true);
  if (namesOnly) curl_easy_setopt(Handle(Curl), CURLOPT_DIRLISTONLY, 1L);
  curl_easy_setopt(Handle(Curl), CURLOPT_WRITEFUNCTION, &TListingReceiver::OnData);
  curl_easy_setopt(Handle(Curl), CURLOPT_WRITEDATA, &receiver);
  const int code = request.Perform();
  if (receiver.TooLarge()) {
    Post(fvError, errorCode, "The listing is larger than " + std::to_string(kListingLimit >> 20) + " MB; the rest was not read");
    // libcurl dropped the data connection; the server may have dropped us too.
    CheckStillConnected();
    return;
  }
  if (code != CURLE_OK) return ReportFailure(errorCode, code, request.Cause());
  receiver.Finish();
  Post(fvListDone, namesOnly ? 1 : 0, directory);
}

namespace {

// Where a get writes: a regular file is written under a temporary name and
// renamed when complete, so a failed get never destroys the file that was
// there; anything else (a device, a pipe) is written directly.
struct TLocalTarget {
  std::string Name;
  std::string Temporary;
  int Fd = -1;
  int Error = 0;
  std::int64_t Written = 0;

  int Open(const std::string& name) {
    Name = name;
    struct stat info {};
    const bool special = ::stat(name.c_str(), &info) == 0 && !S_ISREG(info.st_mode);
    if (special) {
      Fd = ::open(name.c_str(), O_WRONLY | O_CLOEXEC);
    } else {
      Temporary = name + ".qelpart";
      Fd = ::open(Temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    }
    return Fd < 0 ? errno : 0;
  }
  static size_t OnData(char* data, size_t size, size_t count, void* user) {
    auto& t = *static_cast<TLocalTarget*>(user);
    const size_t total = size * count;
    size_t done = 0;
    while (done < total) {
      const ssize_t n = ::write(t.Fd, data + done, total - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        t.Error = n < 0 ? errno : ENOSPC;
        return 0;  // libcurl stops with a write error
      }
      done += static_cast<size_t>(n);
    }
    t.Written += static_cast<std::int64_t>(total);
    return total;
  }
  // Closes; keeps the data only when complete.
  int Finish(bool complete) {
    if (Fd >= 0 && ::close(Fd) != 0 && complete && !Error) Error = errno;
    Fd = -1;
    if (Temporary.empty()) return Error;
    if (complete && !Error && ::rename(Temporary.c_str(), Name.c_str()) != 0) Error = errno;
    if (!complete || Error) ::unlink(Temporary.c_str());
    return Error;
  }
};

// Reads a file to upload; in ASCII a bare line feed goes out as CR LF.
struct TLocalSource {
  int Fd = -1;
  bool Ascii = false;
  bool LastWasCr = false;
  int Error = 0;
  std::string Pending;

  static size_t OnRead(char* buffer, size_t size, size_t count, void* user) {
    auto& s = *static_cast<TLocalSource*>(user);
    const size_t room = size * count;
    if (!s.Ascii) {
      for (;;) {
        const ssize_t n = ::read(s.Fd, buffer, room);
        if (n >= 0) return static_cast<size_t>(n);
        if (errno == EINTR) continue;
        s.Error = errno;
        return CURL_READFUNC_ABORT;
      }
    }
    if (s.Pending.empty()) {
      std::string raw(room / 2 > 0 ? room / 2 : 1, '\0');
      ssize_t n;
      do n = ::read(s.Fd, raw.data(), raw.size());
      while (n < 0 && errno == EINTR);
      if (n < 0) {
        s.Error = errno;
        return CURL_READFUNC_ABORT;
      }
      for (ssize_t i = 0; i < n; ++i) {
        const char c = raw[static_cast<size_t>(i)];
        if (c == '\n' && !s.LastWasCr) s.Pending += '\r';
        s.Pending += c;
        s.LastWasCr = c == '\r';
      }
    }
    const size_t n = s.Pending.size() < room ? s.Pending.size() : room;
    std::memcpy(buffer, s.Pending.data(), n);
    s.Pending.erase(0, n);
    return n;
  }
};

std::string FtpBaseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

void TFtpClient::DoGet(const std::string& remote, const std::string& local) {
  if (!Curl) return ReportFailure(fcGetFailed, CURLE_OK, "Not connected");
  TLocalTarget target;
  if (const int error = target.Open(local)) return ReportFailure(fcGetFailed, CURLE_OK, local + " : " + ErrnoText(error));
  TRequest request(*this);
  request.ProgressName = FtpBaseName(remote);
  request.SetUrl(JoinPath(RemoteDirectory(), remote), false);
  if (Type == ftAscii && !Sftp()) curl_easy_setopt(Handle(Curl), CURLOPT_TRANSFERTEXT, 1L);
  curl_easy_setopt(Handle(Curl), CURLOPT_WRITEFUNCTION, &TLocalTarget::OnData);
  curl_easy_setopt(Handle(Curl), CURLOPT_WRITEDATA, &target);
  const int code = request.Perform();
  const int error = target.Finish(code == CURLE_OK);
  if (code == CURLE_OK && !error) return Post(fvTransferDone, fdReceive, local, target.Written);
  if (code == CURLE_ABORTED_BY_CALLBACK) return Post(fvAbort, 0, remote);
  if (error) return ReportFailure(fcGetFailed, code, local + " : " + ErrnoText(error));
  ReportFailure(fcGetFailed, code, request.Cause());
}

void TFtpClient::DoPut(const std::string& local, const std::string& remote) {
  if (!Curl) return ReportFailure(fcPutFailed, CURLE_OK, "Not connected");
  TLocalSource source;
  source.Ascii = Type == ftAscii && !Sftp();  // SFTP moves bytes as they are
  source.Fd = ::open(local.c_str(), O_RDONLY | O_CLOEXEC);
  if (source.Fd < 0) return ReportFailure(fcPutFailed, CURLE_OK, local + " : " + ErrnoText(errno));
  struct stat info {};
  ::fstat(source.Fd, &info);
  TRequest request(*this);
  request.ProgressName = FtpBaseName(local);
  request.SetUrl(JoinPath(RemoteDirectory(), remote), false);
  curl_easy_setopt(Handle(Curl), CURLOPT_UPLOAD, 1L);
  if (source.Ascii) curl_easy_setopt(Handle(Curl), CURLOPT_TRANSFERTEXT, 1L);
  else curl_easy_setopt(Handle(Curl), CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(info.st_size));
  curl_easy_setopt(Handle(Curl), CURLOPT_READFUNCTION, &TLocalSource::OnRead);
  curl_easy_setopt(Handle(Curl), CURLOPT_READDATA, &source);
  const int code = request.Perform();
  ::close(source.Fd);
  if (code == CURLE_OK) return Post(fvTransferDone, fdSend, local, info.st_size);
  if (code == CURLE_ABORTED_BY_CALLBACK) return Post(fvAbort, 0, FtpBaseName(local));
  if (source.Error) return ReportFailure(fcPutFailed, code, local + " : " + ErrnoText(source.Error));
  ReportFailure(fcPutFailed, code, request.Cause());
}

void TFtpClient::DoHelp(const std::string& topic) {
  if (!Curl) return ReportFailure(fcHelpFailed, CURLE_OK, "Not connected");
  Post(fvHelp);
  if (Sftp()) {
    // What the server does not say, the client does: the commands SFTP takes.
    for (const char* line : {"chgrp GROUP PATH", "chmod MODE PATH", "chown USER PATH", "ln OLD NEW", "mkdir PATH",
                             "pwd", "rename OLD NEW", "rm PATH", "rmdir PATH", "symlink OLD NEW"}) {
      Post(fvLog, 0, line);
    }
    return;
  }
  std::vector<std::string> replies;
  int code = 0;
  DoQuote({topic.empty() ? "HELP" : "HELP " + topic}, fcHelpFailed, replies, code);
}

void TFtpClient::DoExecute(const std::string& line) {
  if (!Curl) return ReportFailure(fcNotImplemented, CURLE_OK, "Not connected");
  std::vector<std::string> replies;
  int code = 0;
  DoQuote({line}, 0, replies, code);
  const std::string last = replies.empty() ? std::string() : replies.back();
  if (Sftp()) {
    // SFTP's commands answer with their outcome only.
    if (code == CURLE_OK) return Post(fvExecute, 0, last.empty() ? "OK" : last);
    return Post(fvError, fcNotImplemented, curl_easy_strerror(static_cast<CURLcode>(code)));
  }
  if (code == CURLE_OK) return Post(fvExecute, 0, last);
  if (code == CURLE_QUOTE_ERROR) {
    const int reply = ReplyCode(last);
    if (reply == 500 || reply == 502 || reply == 504) return Post(fvError, fcNotImplemented, last);
    return Post(fvExecute, 0, last);
  }
  ReportFailure(fcNotImplemented, code, last);
}

void TFtpClient::DoDisconnect() {
  Post(fvState, fsDisconnecting);
  DropConnection();
}

void TFtpClient::ReportFailure(int errorCode, int curlCode, const std::string& cause) {
  if (curlCode == CURLE_ABORTED_BY_CALLBACK) return Post(fvAbort);
  if (curlCode == CURLE_OPERATION_TIMEDOUT) Post(fvTimeout, ftReceive);
  Post(fvError, errorCode, cause);
  if (MayHaveLostConnection(curlCode)) CheckStillConnected();
}

// After a failure that may have cost the connection, a NOOP tells (libcurl
// logs in again when only the connection was lost and the server is there).
void TFtpClient::CheckStillConnected() {
  if (!Curl) return;
  const int connectTimeout = ConnectTimeout;
  ConnectTimeout = ConnectTimeout < 5 ? ConnectTimeout : 5;
  std::vector<std::string> replies;
  int code = 0;
  DoQuote({Sftp() ? "pwd" : "NOOP"}, 0, replies, code);
  ConnectTimeout = connectTimeout;
  if (code != CURLE_OK) DropConnection();
}

void TFtpClient::DropConnection() {
  if (Curl) CloseHandle(Curl);
  Curl = nullptr;
  const bool was = IsConnected.exchange(false);
  {
    std::lock_guard<std::mutex> guard(Lock);
    Directory = "/";
  }
  Post(fvState, fsDisconnected);
  if (was) Post(fvProtocolState, fpBase);
}

void TFtpClient::SplitHost(const std::string& text, int fallback, std::string& host, int& port) {
  host = text;
  port = fallback > 0 ? fallback : kDefaultPort;
  const auto colon = text.rfind(':');
  // Only one colon: "name:port"; an IPv6 address keeps its colons.
  if (colon == std::string::npos || text.find(':') != colon || colon + 1 == text.size()) return;
  const std::string digits = text.substr(colon + 1);
  for (const char c : digits)
    if (c < '0' || c > '9') return;
  if (digits.size() > 5) return;
  const int value = std::stoi(digits);
  if (value < 1 || value > 65535) return;
  host = text.substr(0, colon);
  port = value;
}

std::string TFtpClient::JoinPath(const std::string& directory, const std::string& path) {
  std::vector<std::string> parts;
  auto add = [&parts](const std::string& text) {
    std::size_t start = 0;
    while (start <= text.size()) {
      std::size_t end = text.find('/', start);
      if (end == std::string::npos) end = text.size();
      const std::string part = text.substr(start, end - start);
      if (part == "..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!part.empty() && part != ".") {
        parts.push_back(part);
      }
      start = end + 1;
    }
  };
  if (path.empty() || path[0] != '/') add(directory);
  add(path);
  std::string joined;
  for (const std::string& part : parts) joined += "/" + part;
  return joined.empty() ? "/" : joined;
}

std::string TFtpClient::Url(const std::string& host, int port, const std::string& path, bool directory) {
  return Url(fpPlainFtp, host, port, path, directory);
}

std::string TFtpClient::Url(std::uint8_t protocol, const std::string& host, int port, const std::string& path,
                            bool directory) {
  static const char* const kHex = "0123456789ABCDEF";
  const bool sftp = protocol == fpSftp;
  std::string url = sftp ? "sftp://" : protocol == fpImplicitTls ? "ftps://" : "ftp://";
  const bool ipv6 = host.find(':') != std::string::npos;
  url += ipv6 ? "[" + host + "]" : host;
  url += ":" + std::to_string(port) + "/";
  // The first "/" of an absolute path is written %2F, so the FTP server sees
  // it; an SFTP URL's path is absolute as it is (a leading "~/" is the home).
  const std::size_t from = sftp && !path.empty() && path[0] == '/' ? 1 : 0;
  for (std::size_t i = from; i < path.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(path[i]);
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                       c == '.' || c == '_' || c == '~' || (c == '/' && i > from);
    if (plain) {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 15];
    }
  }
  if (directory && (path.empty() || path.back() != '/')) url += '/';
  return url;
}
