#include "comms/knownhosts.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

namespace {
constexpr std::string_view kHashedPrefix = "|1|";
constexpr std::size_t kSha1Size = 20;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = Lower(c);
  return out;
}

std::optional<std::string> DecodeBase64(std::string_view text) {
  if (text.empty() || text.size() % 4 != 0) return std::nullopt;
  std::string out(text.size() / 4 * 3, '\0');
  const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                     reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  if (length < 0) return std::nullopt;
  // EVP_DecodeBlock counts the bytes the padding stands for.
  std::size_t padding = 0;
  if (text.back() == '=') ++padding;
  if (text.size() >= 2 && text[text.size() - 2] == '=') ++padding;
  out.resize(static_cast<std::size_t>(length) - padding);
  return out;
}

std::string EncodeBase64(std::string_view bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                     reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(length));
  return out;
}

// ssh's glob: '*' any run, '?' one character; host names without regard to case.
bool GlobMatches(std::string_view text, std::string_view pattern) {
  std::size_t t = 0, p = 0;
  std::size_t starP = std::string_view::npos, starT = 0;
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || Lower(pattern[p]) == Lower(text[t]))) {
      ++t;
      ++p;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starT = t;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      t = ++starT;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool HashedNameMatches(std::string_view field, std::string_view name) {
  // |1|base64(salt)|base64(HMAC-SHA1(salt, name))
  const std::string_view rest = field.substr(kHashedPrefix.size());
  const std::size_t bar = rest.find('|');
  if (bar == std::string_view::npos) return false;
  const auto salt = DecodeBase64(rest.substr(0, bar));
  const auto hash = DecodeBase64(rest.substr(bar + 1));
  if (!salt || !hash || hash->size() != kSha1Size) return false;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  HMAC(EVP_sha1(), salt->data(), static_cast<int>(salt->size()), reinterpret_cast<const unsigned char*>(name.data()),
       name.size(), digest, &size);
  return size == kSha1Size && std::memcmp(digest, hash->data(), kSha1Size) == 0;
}

struct TLine {
  bool Revoked = false;
  std::string Hosts;
  std::string Type;
  std::string Key;  // base64
};

// A known_hosts line in its parts; false for comments, blanks, lines ssh
// would skip and @cert-authority lines (certificates are not used here).
bool ParseLine(std::string_view line, TLine& out) {
  std::istringstream words{std::string(line)};
  std::string first;
  if (!(words >> first) || first[0] == '#') return false;
  if (first[0] == '@') {
    if (first != "@revoked") return false;
    out.Revoked = true;
    if (!(words >> first)) return false;
  }
  out.Hosts = first;
  return static_cast<bool>(words >> out.Type >> out.Key);
}

std::string HomeDirectory() {
  const char* home = std::getenv("HOME");
  return home && *home ? home : "/";
}

// 0, or the errno of the failure.
int ReadWholeFile(const std::string& name, std::string& content) {
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno;
  struct stat st {};
  // Only a plain file: a FIFO or a device named by mistake must not hang the check.
  const int error = ::fstat(fd, &st) != 0 ? errno : S_ISREG(st.st_mode) ? 0 : EINVAL;
  if (error != 0) {
    ::close(fd);
    return error;
  }
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      return error;
    }
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return 0;
}
}  // namespace

// ------------------------------------------------------------------ keys

std::optional<THostKey> THostKey::FromBlob(std::string blob) {
  // The blob begins with its type: a 32-bit big-endian length and the name.
  if (blob.size() < 4) return std::nullopt;
  const std::uint32_t length = (static_cast<std::uint8_t>(blob[0]) << 24) | (static_cast<std::uint8_t>(blob[1]) << 16) |
                               (static_cast<std::uint8_t>(blob[2]) << 8) | static_cast<std::uint8_t>(blob[3]);
  if (length == 0 || length > 64 || length > blob.size() - 4) return std::nullopt;
  THostKey key;
  key.Type = blob.substr(4, length);
  key.Blob = std::move(blob);
  return key;
}

std::optional<THostKey> THostKey::FromBase64(std::string_view text) {
  auto blob = DecodeBase64(text);
  if (!blob) return std::nullopt;
  return FromBlob(std::move(*blob));
}

std::string THostKey::Base64() const { return EncodeBase64(Blob); }

std::string THostKey::Fingerprint() const {
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(Blob.data()), Blob.size(), digest);
  std::string text = EncodeBase64(std::string_view(reinterpret_cast<const char*>(digest), sizeof digest));
  while (!text.empty() && text.back() == '=') text.pop_back();
  return "SHA256:" + text;
}

std::string THostKey::Label() const {
  if (Type == "ssh-ed25519") return "ED25519";
  if (Type == "ssh-rsa") return "RSA";
  if (Type == "ssh-dss") return "DSA";
  if (Type.rfind("ecdsa-sha2-", 0) == 0) return "ECDSA";
  if (Type.rfind("sk-ssh-ed25519", 0) == 0) return "ED25519-SK";
  if (Type.rfind("sk-ecdsa-", 0) == 0) return "ECDSA-SK";
  return Type;
}

// ------------------------------------------------------------------ file

std::string ExpandUserPath(const std::string& name) {
  if (name == "~" || name.rfind("~/", 0) == 0) return HomeDirectory() + name.substr(1);
  return name;
}

TKnownHosts::TKnownHosts(std::string file) : Name(file.empty() ? DefaultFile() : ExpandUserPath(file)) {}

std::string TKnownHosts::DefaultFile() { return HomeDirectory() + "/.ssh/known_hosts"; }

std::string TKnownHosts::EntryName(std::string_view host, int port) {
  const std::string lowered = Lowered(host);
  if (port == 22 || port <= 0) return lowered;
  return "[" + lowered + "]:" + std::to_string(port);
}

bool TKnownHosts::HostFieldMatches(std::string_view field, std::string_view name) {
  if (field.substr(0, kHashedPrefix.size()) == kHashedPrefix) return HashedNameMatches(field, name);
  bool matched = false;
  std::size_t at = 0;
  while (at <= field.size()) {
    std::size_t comma = field.find(',', at);
    if (comma == std::string_view::npos) comma = field.size();
    std::string_view pattern = field.substr(at, comma - at);
    at = comma + 1;
    const bool negated = !pattern.empty() && pattern[0] == '!';
    if (negated) pattern.remove_prefix(1);
    if (pattern.empty() || !GlobMatches(name, pattern)) continue;
    // A negated pattern that matches rules the host out, whatever else matches.
    if (negated) return false;
    matched = true;
  }
  return matched;
}

std::optional<THostKeyCheck> TKnownHosts::Check(std::string_view host, int port, const THostKey& key,
                                                std::string& error) const {
  THostKeyCheck result;
  std::string content;
  if (const int failure = ReadWholeFile(Name, content); failure != 0) {
    if (failure == ENOENT || failure == ENOTDIR) return result;
    error = Name + ": " + std::strerror(failure);
    return std::nullopt;
  }
  std::istringstream in(content);
  const std::string name = EntryName(host, port);
  const std::string base64 = key.Base64();
  bool sameTypeKnown = false;
  std::string firstMismatch;
  std::string text;
  for (int number = 1; std::getline(in, text); ++number) {
    TLine line;
    if (!ParseLine(text, line)) continue;
    if (line.Revoked) {
      // A revoked key is refused for every host, whatever the host field says.
      if (line.Key == base64) {
        result.Status = hkRevoked;
        result.Where = Name + ":" + std::to_string(number);
        return result;
      }
      continue;
    }
    if (!HostFieldMatches(line.Hosts, name)) continue;
    if (line.Type != key.Type) {
      result.OtherTypesKnown = true;
      continue;
    }
    if (line.Key == base64) {
      result.Status = hkKnown;
    } else if (!sameTypeKnown) {
      firstMismatch = Name + ":" + std::to_string(number);
    }
    sameTypeKnown = true;
  }
  if (result.Status == hkKnown) return result;
  if (sameTypeKnown) {
    result.Status = hkChanged;
    result.Where = firstMismatch;
  }
  return result;
}

std::string TKnownHosts::Add(std::string_view host, int port, const THostKey& key) const {
  const std::size_t slash = Name.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    const std::string directory = Name.substr(0, slash);
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) return directory + ": " + std::strerror(errno);
  }
  const int fd = ::open(Name.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return Name + ": " + std::strerror(errno);
  std::string line = EntryName(host, port) + " " + key.Type + " " + key.Base64() + "\n";
  // A last line without its line end would run into ours.
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_size > 0) {
    char last = '\n';
    if (::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n') line.insert(0, "\n");
  }
  std::size_t done = 0;
  int error = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0 && error == 0) error = errno;
  return error == 0 ? std::string() : Name + ": " + std::strerror(error);
}

std::string NewHostKeyQuestion(const TNewHostKey& key) {
  std::string text = "The authenticity of host '" + key.Host + "' (port " + std::to_string(key.Port) +
                     ") can't be established.\r\n" + key.Key.Label() + " key fingerprint is " + key.Key.Fingerprint() +
                     ".\r\n";
  if (key.OtherTypesKnown) text += "Keys of another type are already known for this host.\r\n";
  text += "Accepting it stores it in " + key.KnownHostsFile + ".\r\nAre you sure you want to continue connecting?";
  return text;
}
