// Settings kept beside the 14044-byte record: SSH sessions, the listening
// port's allow-list, reconnecting after a drop and the FTP window's protocol.
// A settings file keeps them in a tagged trailer after the record, which
// readers of the record alone never read (they take the first 14044 bytes
// of a longer file). A file whose extra settings are all at their defaults
// has no trailer, so such files stay exactly one record long.
//
// Trailer: "QELX", u32 body length, then entries of u16 tag, u16 length and
// the value (integers little-endian, texts as bytes). Entries of tags this
// version does not know are kept and written back unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/connectionsettings.h"

// The trailer of a settings, or nothing when every value is a default.
std::string EncodeSettingsTrailer(const TConnectionSettings& settings);
// The settings in the bytes after a record: defaults when there are none or
// they are no trailer of ours. A damaged trailer gives the defaults too, and
// false.
bool DecodeSettingsTrailer(std::string_view bytes, TConnectionSettings& settings);
inline constexpr std::size_t kSettingsTrailerLimit = 64 * 1024;

// By name, as `qel settings` prints and changes them (see settingsfields.h).
std::vector<std::pair<std::string, std::string>> PrintConnectionFields(const TConnectionSettings& settings);
// nullopt when name is not one of these fields (error untouched then).
std::optional<std::string> GetConnectionField(const TConnectionSettings& settings, std::string_view name);
// 1 changed, 0 not one of these fields, -1 a bad value (error says why).
int SetConnectionField(TConnectionSettings& settings, std::string_view name, std::string_view value,
                       std::string& error);
// Reference rows: name, values, default, meaning.
struct TConnectionFieldRow {
  std::string Name, Values, Default, Meaning;
};
std::vector<TConnectionFieldRow> ConnectionFieldReference();
