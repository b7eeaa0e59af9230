// TFtpClient: the FTP client behind the FTP window, on libcurl. Every request
// is queued to a worker thread of its own, so the window thread never waits on
// the network; what happens comes back as a list of events the window takes
// on its own thread. Passive mode, one control connection kept between
// requests (libcurl logs in again by itself if the server dropped it).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/connectionsettings.h"

// The connection states the window lists (same numbers as the window's texts).
enum TFtpState {
  fsConnecting = 1,
  fsResolvingHost = 2,
  fsHostResolved = 3,
  fsConnected = 4,  // waiting for authentication
  fsDisconnecting = 5,
  fsDisconnected = 6,
};

enum TFtpProtocolState { fpBase = 0, fpAuthorization = 1, fpTransaction = 2 };

enum TFtpTimeout { ftConnect = 1, ftReceive = 2, ftUser = 3, ftUndefined = 4 };

// Transfer types as the window's radio group numbers them.
enum TFtpType { ftAscii = 0, ftBinary = 3 };

enum TFtpDirection { fdSend, fdReceive };

enum TFtpEventKind {
  fvState,           // Value: TFtpState
  fvProtocolState,   // Value: TFtpProtocolState
  fvBusy,            // Value 1 busy, 0 free
  fvLog,             // Text: one line the server answered
  fvListItem,        // Text: one line of a listing
  fvListDone,        // Value 1 for a name list; Text: the directory listed
  fvProgress,        // Text: the file; Bytes: moved so far
  fvTransferDone,    // Text: the file; Value: TFtpDirection; Bytes: its size
  fvType,            // Value: TFtpType
  fvAccount,         // Text: the account
  fvAbort,           // Text: what was stopped
  fvDirectory,       // Text: the remote directory changed to
  fvPrintDirectory,  // Text: the remote directory
  fvSystem,          // Text: the server's system
  fvExecute,         // Text: the server's answer to a typed command
  fvHelp,            // the server's help lines follow as fvLog
  fvError,           // Value: the error code (2104..2171); Text: the cause, may be empty
  fvTimeout,         // Value: TFtpTimeout
  fvQuestion,        // Value: the question's number for Answer; Text: the question (a host key, a certificate)
};

struct TFtpEvent {
  TFtpEventKind Kind = fvLog;
  int Value = 0;
  std::string Text;
  std::int64_t Bytes = 0;
};

// The error codes the window lists.
enum TFtpError {
  fcPortFailed = 2104,
  fcAbortFailed = 2105,
  fcAccountFailed = 2106,
  fcCwdFailed = 2107,
  fcConnectFailed = 2108,
  fcDisconnectFailed = 2112,
  fcGetFailed = 2113,
  fcHelpFailed = 2114,
  fcNoopFailed = 2115,
  fcNameListFailed = 2116,
  fcListFailed = 2117,
  fcCdupFailed = 2118,
  fcPwdFailed = 2119,
  fcPutFailed = 2120,
  fcSystFailed = 2126,
  fcTypeFailed = 2127,
  fcNotImplemented = 2157,
};

// How the client reaches its server: the protocol, and for SFTP the
// known_hosts file its host key is checked against (OpenSSH's rules, shared
// with SSH sessions) and the key file it logs in with.
struct TFtpSecurity {
  std::uint8_t Protocol = fpPlainFtp;  // TFtpProtocol
  std::string KnownHostsFile;          // empty: ~/.ssh/known_hosts
  std::string KeyFile;                 // empty: the agent and ~/.ssh's default keys
};

class TFtpClient {
 public:
  static constexpr int kDefaultPort = 21;
  // What one listing may bring: beyond it the listing ends with an error.
  static constexpr std::uint64_t kListingLimit = std::uint64_t(64) << 20;
  // A listing line is kept up to this length.
  static constexpr std::size_t kListLineLimit = 4096;
  // The port a protocol uses when the host names none.
  static int DefaultPort(std::uint8_t protocol);

  // wake is called on the worker thread whenever events wait to be taken and
  // none waited before; it must only schedule TakeEvents on the window thread.
  explicit TFtpClient(std::function<void()> wake = nullptr);
  ~TFtpClient();  // aborts what runs, quits the server, joins the worker
  TFtpClient(const TFtpClient&) = delete;
  TFtpClient& operator=(const TFtpClient&) = delete;

  // Where listings are written as well as reported ("Qelwin32.rdo"); empty: nowhere.
  void SetListingFile(const std::string& name);
  // Seconds without a byte before a transfer or an answer times out.
  void SetTimeouts(int connectSeconds, int receiveSeconds);

  // The protocol and its checks for the next Connect.
  void SetSecurity(const TFtpSecurity& security);
  // The user's answer to an fvQuestion: yes lets the connection go on.
  void Answer(int question, bool yes);

  // Requests, run in order on the worker. host may be "name:port".
  void Connect(const std::string& host, int port, const std::string& user, const std::string& password,
               const std::string& account = "");
  void SetType(TFtpType type);
  void ChangeDirectory(const std::string& path);
  void ParentDirectory();
  void PrintDirectory();
  // Lists path (relative to the remote directory; empty: the directory itself).
  void List(const std::string& path, bool namesOnly);
  void Get(const std::string& remote, const std::string& local);
  void Put(const std::string& local, const std::string& remote);
  void Help(const std::string& topic);
  void Execute(const std::string& line);
  void Disconnect();
  // Stops the running request and drops the queued ones, at once.
  void Abort();

  // Requests queued or running.
  bool Busy() const;
  bool Connected() const { return IsConnected.load(); }
  // The remote directory as last reported by the server.
  std::string RemoteDirectory() const;
  // Everything that happened since the last call, in order.
  std::vector<TFtpEvent> TakeEvents();

  // "host:port" split; the port is fallback when none is written.
  static void SplitHost(const std::string& text, int fallback, std::string& host, int& port);
  // path resolved against directory ("/" based, ".." and "." folded).
  static std::string JoinPath(const std::string& directory, const std::string& path);
  // An ftp:// URL for an absolute remote path, each byte escaped that must be.
  static std::string Url(const std::string& host, int port, const std::string& path, bool directory);
  // The same for a protocol: sftp:// and ftps:// (implicit TLS) have their own schemes.
  static std::string Url(std::uint8_t protocol, const std::string& host, int port, const std::string& path,
                         bool directory);

 private:
  struct TJob {
    std::function<void()> Run;
    unsigned Generation = 0;
  };
  struct TRequest;
  friend struct TRequest;

  void Queue(std::function<void()> run);
  void WorkerLoop();
  void Post(TFtpEvent event);
  void Post(TFtpEventKind kind, int value = 0, const std::string& text = "", std::int64_t bytes = 0);
  bool AbortWanted() const;

  void DoConnect(const std::string& host, int port, const std::string& user, const std::string& password,
                 const std::string& account);
  bool Sftp() const { return Security.Protocol == fpSftp; }
  bool Tls() const { return Security.Protocol == fpExplicitTls || Security.Protocol == fpImplicitTls; }
  int ConnectRequest(std::string& cause);
  bool TrustCertificate(const std::string& cause);
  void AfterLogin();
  void DoSftpChangeDirectory(const std::string& path, int errorCode);
  // A question to the window, waited for; false when not answered yes.
  bool Ask(const std::string& question);
  static int OnHostKey(void* client, int type, const char* key, std::size_t length);
  void DoQuote(const std::vector<std::string>& commands, int errorCode, std::vector<std::string>& replies,
               int& curlCode);
  void DoChangeDirectory(const std::string& command, int errorCode);
  void DoPrintDirectory();
  void DoList(const std::string& path, bool namesOnly);
  void DoGet(const std::string& remote, const std::string& local);
  void DoPut(const std::string& local, const std::string& remote);
  void DoHelp(const std::string& topic);
  void DoExecute(const std::string& line);
  void DoDisconnect();
  void ReportFailure(int errorCode, int curlCode, const std::string& cause);
  void CheckStillConnected();
  void DropConnection();

  std::function<void()> Wake;
  mutable std::mutex Lock;
  std::condition_variable Ready;
  std::deque<TJob> Jobs;
  std::vector<TFtpEvent> Events;
  bool Running = false;  // a job is being run
  bool Stopping = false;
  unsigned Generation = 0;          // raised by Abort; jobs of older generations stop
  unsigned RunningGeneration = 0;   // the generation of the job running
  std::atomic<bool> IsConnected{false};
  std::string Directory = "/";
  std::string ListingFile;
  int ConnectTimeout = 30;
  int ReceiveTimeout = 60;

  // Questions: the number of the last one asked, and the answer given.
  std::condition_variable Answered;
  int LastQuestion = 0;
  int AnsweredQuestion = 0;
  bool AnswerYes = false;

  // Worker-only state.
  TFtpSecurity Security;
  // An FTPS certificate the user has trusted: its key's pin ("sha256//..."),
  // for the host and port it was shown for.
  std::string TrustedPin;
  std::string TrustedFor;
  std::string HostKeyFailure;  // why the last SFTP host key was refused
  void* Curl = nullptr;  // CURL*
  std::string Host;
  int Port = kDefaultPort;
  std::string User, Password, Account;
  TFtpType Type = ftBinary;
  std::thread Worker;
};
