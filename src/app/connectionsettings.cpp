#include "app/connectionsettings.h"

#include <cstring>
#include <functional>

#include "app/settingsfields.h"
#include "comms/addressfilter.h"
#include "core/paths.h"

namespace {
constexpr char kMagic[4] = {'Q', 'E', 'L', 'X'};
constexpr std::size_t kHeaderSize = 8;  // magic, body length

enum TTag : std::uint16_t {
  tgNetworkKind = 1,
  tgSshUserName = 2,
  tgSshPort = 3,
  tgSshKeyFile = 4,
  tgKnownHostsFile = 5,
  tgSshKeepAlive = 6,
  tgListenAllow = 7,
  tgReconnect = 8,
  tgReconnectLimit = 9,
  tgReconnectDelay = 10,
  tgFTPProtocol = 11,
};

enum class TTrailerKind { Byte, Word, Text };

// One field: its tag in the trailer, its name, and where it lives.
struct TTrailerField {
  TTag Tag;
  const char* Name;
  TTrailerKind Kind;
  std::uint8_t TConnectionSettings::*Byte = nullptr;
  std::uint16_t TConnectionSettings::*Word = nullptr;
  std::string TConnectionSettings::*Text = nullptr;
  std::int64_t Min = 0, Max = 0;   // numbers
  std::size_t Capacity = 0;        // texts
  std::vector<const char*> Names;  // coded bytes, by code
  const char* Meaning = "";
};

const std::vector<TTrailerField>& TrailerFields() {
  using S = TConnectionSettings;
  static const std::vector<TTrailerField> fields = {
      {tgNetworkKind, "NetworkKind", TTrailerKind::Byte, &S::NetworkKind, nullptr, nullptr, 0, 1, 0, {"telnet", "ssh"},
       "what the toolbar's network button opens: Telnet/TCP to HostName and Port, or SSH"},
      {tgSshUserName, "SshUserName", TTrailerKind::Text, nullptr, nullptr, &S::SshUserName, 0, 0, S::kNameCapacity, {},
       "SSH user; empty: the local user (USER@HOST in HostName wins)"},
      {tgSshPort, "SshPort", TTrailerKind::Word, nullptr, &S::SshPort, nullptr, 1, 65535, 0, {},
       "SSH port (HOST:PORT in HostName wins)"},
      {tgSshKeyFile, "SshKeyFile", TTrailerKind::Text, nullptr, nullptr, &S::SshKeyFile, 0, 0, S::kPathCapacity, {},
       "SSH private key file; empty: ~/.ssh/id_rsa, id_ecdsa, id_ed25519"},
      {tgKnownHostsFile, "KnownHostsFile", TTrailerKind::Text, nullptr, nullptr, &S::KnownHostsFile, 0, 0,
       S::kPathCapacity, {}, "known host keys (OpenSSH format) for SSH and SFTP; empty: ~/.ssh/known_hosts"},
      {tgSshKeepAlive, "SshKeepAlive", TTrailerKind::Word, nullptr, &S::SshKeepAlive, nullptr, 0, 3600, 0, {},
       "seconds between SSH keep-alives; 0: none"},
      {tgListenAllow, "ListenAllow", TTrailerKind::Text, nullptr, nullptr, &S::ListenAllow, 0, 0, S::kAllowCapacity, {},
       "callers Listen Port takes: addresses or networks (10.0.0.0/8 2001:db8::/32); empty: anyone"},
      {tgReconnect, "Reconnect", TTrailerKind::Byte, &S::Reconnect, nullptr, nullptr, 0, 1, 0, {},
       "a network or SSH session the host ends or loses is made again"},
      {tgReconnectLimit, "ReconnectLimit", TTrailerKind::Byte, &S::ReconnectLimit, nullptr, nullptr, 1, 100, 0, {},
       "attempts to reconnect before giving up"},
      {tgReconnectDelay, "ReconnectDelay", TTrailerKind::Word, nullptr, &S::ReconnectDelay, nullptr, 1, 600, 0, {},
       "seconds before the first attempt; each next wait is twice as long, at most 10 minutes"},
      {tgFTPProtocol, "FTPProtocol", TTrailerKind::Byte, &S::FTPProtocol, nullptr, nullptr, 0, 3, 0,
       {"ftp", "ftps", "ftps-implicit", "sftp"}, "the FTP window's protocol"},
  };
  return fields;
}

const TTrailerField* FieldByTag(std::uint16_t tag) {
  for (const TTrailerField& f : TrailerFields()) {
    if (f.Tag == tag) return &f;
  }
  return nullptr;
}

const TTrailerField* FieldByName(std::string_view name) {
  for (const TTrailerField& f : TrailerFields()) {
    if (EqualsIgnoreCase(std::string(name), f.Name)) return &f;
  }
  return nullptr;
}

void PutU16(std::string& out, std::uint16_t value) {
  out.push_back(static_cast<char>(value & 0xFF));
  out.push_back(static_cast<char>(value >> 8));
}

void PutU32(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::uint32_t GetU(std::string_view bytes, std::size_t at, int size) {
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
  return value;
}

std::string ValueBytes(const TTrailerField& f, const TConnectionSettings& s) {
  std::string out;
  switch (f.Kind) {
    case TTrailerKind::Byte: out.push_back(static_cast<char>(s.*f.Byte)); break;
    case TTrailerKind::Word: PutU16(out, s.*f.Word); break;
    case TTrailerKind::Text: out = s.*f.Text; break;
  }
  return out;
}

// A value from a trailer, held to the field's limits: a file from elsewhere
// must not put a port 0 or a 70000-character path into the settings.
bool StoreValueBytes(const TTrailerField& f, std::string_view value, TConnectionSettings& s) {
  switch (f.Kind) {
    case TTrailerKind::Byte:
      if (value.size() != 1) return false;
      if (static_cast<std::uint8_t>(value[0]) < f.Min || static_cast<std::uint8_t>(value[0]) > f.Max) return false;
      s.*f.Byte = static_cast<std::uint8_t>(value[0]);
      return true;
    case TTrailerKind::Word: {
      if (value.size() != 2) return false;
      const std::uint32_t word = GetU(value, 0, 2);
      if (word < f.Min || word > f.Max) return false;
      s.*f.Word = static_cast<std::uint16_t>(word);
      return true;
    }
    case TTrailerKind::Text:
      if (value.size() > f.Capacity) return false;
      s.*f.Text = std::string(value);
      return true;
  }
  return false;
}

std::string TrailerFieldText(const TTrailerField& f, const TConnectionSettings& s) {
  switch (f.Kind) {
    case TTrailerKind::Byte: {
      const std::uint8_t code = s.*f.Byte;
      if (code < f.Names.size()) return f.Names[code];
      return std::to_string(code);
    }
    case TTrailerKind::Word: return std::to_string(s.*f.Word);
    case TTrailerKind::Text: return EscapeSettingsText(s.*f.Text);
  }
  return {};
}

bool ParseNumber(std::string_view text, std::int64_t min, std::int64_t max, std::int64_t& out, std::string& error) {
  std::int64_t value = 0;
  bool digits = !text.empty() && text.size() <= 9;
  for (const char c : text) {
    digits = digits && c >= '0' && c <= '9';
    if (digits) value = value * 10 + (c - '0');
  }
  if (!digits) {
    error = "not a number: '" + std::string(text) + "'";
    return false;
  }
  if (value < min || value > max) {
    error = "value " + std::to_string(value) + " out of range " + std::to_string(min) + ".." + std::to_string(max);
    return false;
  }
  out = value;
  return true;
}

std::string TrailerNameList(const TTrailerField& f) {
  std::string text;
  for (const char* name : f.Names) text += std::string(text.empty() ? "" : ", ") + name;
  return text;
}

bool SetText(const TTrailerField& f, TConnectionSettings& s, std::string_view value, std::string& error) {
  std::string text = UnescapeSettingsText(value);
  if (text.size() > f.Capacity) {
    error = "text of " + std::to_string(text.size()) + " characters is longer than " + std::to_string(f.Capacity);
    return false;
  }
  if (f.Tag == tgListenAllow) {
    TAddressFilter filter;
    if (!filter.Parse(text, error)) return false;
    text = filter.Text();
  }
  s.*f.Text = std::move(text);
  return true;
}

bool SetValue(const TTrailerField& f, TConnectionSettings& s, std::string_view value, std::string& error) {
  if (f.Kind == TTrailerKind::Text) return SetText(f, s, value, error);
  for (std::size_t code = 0; code < f.Names.size(); ++code) {
    if (EqualsIgnoreCase(std::string(value), f.Names[code])) {
      s.*f.Byte = static_cast<std::uint8_t>(code);
      return true;
    }
  }
  std::int64_t number = 0;
  if (!ParseNumber(value, f.Min, f.Max, number, error)) {
    if (!f.Names.empty()) error += " (or one of " + TrailerNameList(f) + ")";
    return false;
  }
  if (f.Kind == TTrailerKind::Byte) s.*f.Byte = static_cast<std::uint8_t>(number);
  else s.*f.Word = static_cast<std::uint16_t>(number);
  return true;
}

std::string TrailerValuesText(const TTrailerField& f) {
  switch (f.Kind) {
    case TTrailerKind::Byte:
      if (!f.Names.empty()) return TrailerNameList(f) + " (or " + std::to_string(f.Min) + ".." + std::to_string(f.Max) + ")";
      if (f.Min == 0 && f.Max == 1) return "0 off, 1 on";
      [[fallthrough]];
    case TTrailerKind::Word: return std::to_string(f.Min) + ".." + std::to_string(f.Max);
    case TTrailerKind::Text: return "text of up to " + std::to_string(f.Capacity) + " characters";
  }
  return {};
}
}  // namespace

std::string EncodeSettingsTrailer(const TConnectionSettings& settings) {
  const TConnectionSettings defaults;
  std::map<std::uint16_t, std::string> entries = settings.Unknown;
  for (const TTrailerField& f : TrailerFields()) {
    const std::string value = ValueBytes(f, settings);
    if (value != ValueBytes(f, defaults)) entries[f.Tag] = value;
  }
  if (entries.empty()) return {};
  std::string body;
  for (const auto& [tag, value] : entries) {
    PutU16(body, tag);
    PutU16(body, static_cast<std::uint16_t>(value.size()));
    body += value;
  }
  std::string out(kMagic, sizeof kMagic);
  PutU32(out, static_cast<std::uint32_t>(body.size()));
  return out + body;
}

bool DecodeSettingsTrailer(std::string_view bytes, TConnectionSettings& settings) {
  settings.ApplyDefaults();
  if (bytes.size() < kHeaderSize || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) return true;
  const std::uint32_t length = GetU(bytes, 4, 4);
  if (length > bytes.size() - kHeaderSize) return false;
  const std::string_view body = bytes.substr(kHeaderSize, length);
  TConnectionSettings read;
  std::size_t at = 0;
  while (at < body.size()) {
    if (body.size() - at < 4) return false;
    const auto tag = static_cast<std::uint16_t>(GetU(body, at, 2));
    const std::uint32_t size = GetU(body, at + 2, 2);
    at += 4;
    if (size > body.size() - at) return false;
    const std::string_view value = body.substr(at, size);
    at += size;
    if (const TTrailerField* f = FieldByTag(tag)) {
      // A value out of its field's limits leaves the default; the rest is read.
      StoreValueBytes(*f, value, read);
    } else {
      read.Unknown[tag] = std::string(value);
    }
  }
  settings = std::move(read);
  return true;
}

std::vector<std::pair<std::string, std::string>> PrintConnectionFields(const TConnectionSettings& settings) {
  std::vector<std::pair<std::string, std::string>> lines;
  for (const TTrailerField& f : TrailerFields()) lines.emplace_back(f.Name, TrailerFieldText(f, settings));
  return lines;
}

std::optional<std::string> GetConnectionField(const TConnectionSettings& settings, std::string_view name) {
  const TTrailerField* f = FieldByName(name);
  if (!f) return std::nullopt;
  return TrailerFieldText(*f, settings);
}

int SetConnectionField(TConnectionSettings& settings, std::string_view name, std::string_view value,
                       std::string& error) {
  const TTrailerField* f = FieldByName(name);
  if (!f) return 0;
  return SetValue(*f, settings, value, error) ? 1 : -1;
}

std::vector<TConnectionFieldRow> ConnectionFieldReference() {
  const TConnectionSettings defaults;
  std::vector<TConnectionFieldRow> rows;
  for (const TTrailerField& f : TrailerFields()) {
    const std::string value = TrailerFieldText(f, defaults);
    rows.push_back({f.Name, TrailerValuesText(f), value.empty() ? "empty" : "`" + value + "`", f.Meaning});
  }
  return rows;
}
