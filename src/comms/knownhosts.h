// Host keys checked as OpenSSH checks them, against a known_hosts file in
// OpenSSH's format: plain and hashed ("|1|salt|hash") host names, pattern
// lists with wildcards and negation, "[host]:port" for ports other than 22,
// and @revoked keys. SSH sessions and SFTP transfers share it, so a key
// accepted in one is known to the other.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// A server's public key: its type name ("ssh-ed25519") and its blob, the
// bytes that a known_hosts line holds in base64.
struct THostKey {
  std::string Type;
  std::string Blob;

  // The type is read from the blob itself; nullopt for a blob without one.
  static std::optional<THostKey> FromBlob(std::string blob);
  static std::optional<THostKey> FromBase64(std::string_view text);
  std::string Base64() const;
  // "SHA256:" and the unpadded base64 of the blob's SHA-256, as ssh shows it.
  std::string Fingerprint() const;
  // "ED25519", "RSA", "ECDSA", "DSA" or the type name: how ssh names the key to the user.
  std::string Label() const;
  bool operator==(const THostKey&) const = default;
};

enum THostKeyStatus {
  hkKnown,    // an entry for the host holds this key
  hkUnknown,  // no entry of this key's type for the host
  hkChanged,  // the host has entries of this type, none with this key
  hkRevoked,  // the key is marked @revoked
};

struct THostKeyCheck {
  THostKeyStatus Status = hkUnknown;
  // hkUnknown: keys of other types are known for the host (ssh warns of it).
  bool OtherTypesKnown = false;
  // hkChanged, hkRevoked: "file:line" of the entry that decided it.
  std::string Where;
};

// "~/x" as $HOME/x; any other name as it is.
std::string ExpandUserPath(const std::string& name);

class TKnownHosts {
 public:
  // file: empty for the user's ~/.ssh/known_hosts; "~/" is the home folder.
  explicit TKnownHosts(std::string file = {});

  const std::string& File() const { return Name; }
  static std::string DefaultFile();
  // The name a host is known by: "host" on port 22, "[host]:port" otherwise;
  // lower case, as ssh writes it.
  static std::string EntryName(std::string_view host, int port);

  // nullopt when the file exists and cannot be read (error says why); a
  // missing file knows no host.
  std::optional<THostKeyCheck> Check(std::string_view host, int port, const THostKey& key,
                                     std::string& error) const;
  // Appends a line for the key, making the file (mode 0600) and its
  // directory (0700) when missing. Empty, or why it failed.
  std::string Add(std::string_view host, int port, const THostKey& key) const;

  // One host name against a known_hosts host field (a pattern list or one
  // hashed name): ssh's rules, exposed for the tests of them.
  static bool HostFieldMatches(std::string_view field, std::string_view name);

 private:
  std::string Name;
};

// An unknown host key, put to the user.
struct TNewHostKey {
  std::string Host;
  int Port = 22;
  THostKey Key;
  bool OtherTypesKnown = false;
  std::string KnownHostsFile;
};
// The question's text, as ssh puts it: the host, the port, the key's type
// and SHA256 fingerprint, and where an accepted key is stored.
std::string NewHostKeyQuestion(const TNewHostKey& key);
