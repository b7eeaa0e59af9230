// TSshLine: a terminal session over SSH (libssh), as a network line beside
// the socket component. One worker thread per connection does everything
// that may wait on the network — name lookup, the call, key exchange, the
// host-key check, authentication, the PTY and shell requests, reading and
// writing the channel — and hands bytes and events to the window thread,
// where every event and every question of this class runs. The window
// thread never waits on the network: Send queues, Receive takes what the
// worker has read.
//
// Host keys are checked against a known_hosts file as OpenSSH checks them
// (TKnownHosts): a changed or revoked key always ends the call; an unknown
// key goes on only if AcceptNewHostKey says so, and is then stored.
// Authentication follows OpenSSH's order: the agent's keys, the key file
// (or the default ones), keyboard-interactive, password.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "comms/knownhosts.h"
#include "comms/lines.h"

class QObject;

// What a connection needs besides the host and the port.
struct TSshOptions {
  std::string User;            // empty: the local user
  std::string KeyFile;         // empty: ~/.ssh/id_rsa, id_ecdsa, id_ed25519 (those that exist)
  std::string KnownHostsFile;  // empty: ~/.ssh/known_hosts
  std::string TerminalType = "vt100";
  int Columns = 80;
  int Rows = 24;
  int KeepAliveSeconds = 30;  // 0: none
  int ConnectTimeout = 30;    // seconds for the call and for each answer of the host
};

// A secret (or an answer of keyboard-interactive) asked of the user.
enum TSecretKind { skPassphrase, skPassword, skKeyboardInteractive };
struct TSecretPrompt {
  TSecretKind Kind = skPassword;
  std::string Title;   // "SSH key passphrase", "SSH password", the server's name for its prompts
  std::string Prompt;  // "Enter passphrase for key '/home/u/.ssh/id_ed25519': "
  bool Echo = false;   // keyboard-interactive prompts may be shown as typed
};

class TSshLine : public TNetworkLine {
 public:
  TSshLine();
  ~TSshLine() override;  // ends any connection at once and waits for its worker
  TSshLine(const TSshLine&) = delete;
  TSshLine& operator=(const TSshLine&) = delete;

  // TNetworkLine. host is "[USER@]HOST[:PORT]" (HOST may be "[v6]"); port is
  // the port used when the host names none.
  void SetAddress(const std::string& host, const std::string& port) override;
  void Connect() override;
  void Listen() override;  // SSH takes no calls: an error event
  void CancelListen() override {}
  // Ends the session the user's way: EOF and close on the channel, then a
  // disconnect message; no event follows.
  void Disconnect() override;
  // Bytes accepted; they leave in order as the channel takes them. More than
  // SendQueueLimit waiting ends the session with "No buffer space available".
  int Send(const std::uint8_t* buffer, int length) override;
  // Bytes taken from what the worker has read; -1 when none wait.
  int Receive(std::uint8_t* buffer, int length) override;
  bool SendBreak() override;
  void SetTerminalSize(int columns, int rows) override;

  // Read at each Connect on the window thread; unset: the defaults.
  std::function<TSshOptions()> Options;
  std::size_t SendQueueLimit = 16 * 1024 * 1024;
  // Read bytes waiting beyond this many make the worker stop reading, so a
  // window that does not take them holds the host back through SSH's flow control.
  std::size_t ReceiveQueueLimit = 4 * 1024 * 1024;

  // The session is up (shell started) and not ended.
  bool Connected() const;
  // "user@host:port" of the last Connect.
  std::string Target() const;

  // Events and questions, on the window thread.
  std::function<void()> OnDataAvailable;
  std::function<void()> OnSessionConnected;
  std::function<void()> OnSessionClosed;  // the host ended the session
  std::function<void(const std::string& text)> OnErrorOccurred;
  std::function<void(const std::string& text)> OnNote;  // a key stored, a warning
  // Unset: unknown keys are refused.
  std::function<bool(const TNewHostKey&)> AcceptNewHostKey;
  // Unset or nullopt: the secret is not given and the next method is tried.
  std::function<std::optional<std::string>(const TSecretPrompt&)> AskSecret;

  struct TShared;  // the state a worker shares with the window thread

 private:
  void RunEvents(const std::shared_ptr<TShared>& shared);
  void Retire();
  void ReapFinished();
  void Fail(const std::string& text);

  std::string HostText;
  std::string PortText;
  std::string LastTarget;
  unsigned Attempts = 0;  // raised by each Connect
  std::shared_ptr<TShared> Current;
  std::vector<std::shared_ptr<TShared>> Retired;  // ending; joined when done
  QObject* Context = nullptr;  // queued calls to the window thread
};
