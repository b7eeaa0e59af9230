// Settings kept beside the 14044-byte record: SSH sessions, the listening
// port's allow-list, reconnecting after a drop and the FTP window's protocol.
// Plain data every floor reads; how a settings file stores them and how
// `qel settings` names them is app/connectionsettings.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

enum TNetworkKind : std::uint8_t { nkTelnet = 0, nkSsh = 1 };

// How the FTP window reaches its server.
enum TFtpProtocol : std::uint8_t {
  fpPlainFtp = 0,
  fpExplicitTls = 1,  // ftp:// with AUTH TLS, required
  fpImplicitTls = 2,  // ftps://, TLS from the first byte (port 990)
  fpSftp = 3,         // sftp:// over SSH (port 22)
};

struct TConnectionSettings {
  static constexpr std::uint16_t kDefaultSshPort = 22;
  static constexpr std::size_t kNameCapacity = 80;
  static constexpr std::size_t kPathCapacity = 255;
  static constexpr std::size_t kAllowCapacity = 1024;

  // What the toolbar's network button opens; the menus offer both.
  std::uint8_t NetworkKind = nkTelnet;
  std::string SshUserName;  // empty: the local user name
  std::uint16_t SshPort = kDefaultSshPort;
  std::string SshKeyFile;      // empty: ~/.ssh/id_rsa, id_ecdsa, id_ed25519
  std::string KnownHostsFile;  // empty: ~/.ssh/known_hosts
  std::uint16_t SshKeepAlive = 30;  // seconds between keep-alives; 0 none
  std::string ListenAllow;     // caller networks, blank-separated; empty: anyone
  std::uint8_t Reconnect = 0;
  std::uint8_t ReconnectLimit = 5;    // attempts after a drop
  std::uint16_t ReconnectDelay = 2;   // seconds before the first; doubled each time
  std::uint8_t FTPProtocol = fpPlainFtp;
  // Entries of a newer writer, by tag, as read.
  std::map<std::uint16_t, std::string> Unknown;

  void ApplyDefaults() { *this = TConnectionSettings{}; }
  bool operator==(const TConnectionSettings&) const = default;
};
