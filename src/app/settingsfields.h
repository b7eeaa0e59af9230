// Settings fields by name, as text: what `qel settings` prints and changes.
//
// Values are written as:
//   numbers            decimal (colours 0xBBGGRR in hexadecimal); coded
//                      fields by name (Emulation=vt100, BaudRate=9600),
//                      numbers still read
//   strings            the text; bytes outside 32..126 as \xHH, and a
//                      backslash as \x5C where "x" follows it
//   attribute blocks   fg:0xBBGGRR bg:0xBBGGRR style:bold+italic size:8
//   trigger entries    identity:0 offset:0 mask:0xFFFF value:0x0000
//   TabStops           the indices (0..131) whose stop is set: 8,16,24
// Arrays are named by index from 0: SoftKeys[0] is F1, TabStops[8] one flag,
// TriggerEntries[2]; parts by a dot: IEAttr.Foreground, TriggerEntries[0].Mask.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/connectionsettings.h"
#include "core/settings.h"

// Every named field of the record, in record order, as NAME and VALUE.
std::vector<std::pair<std::string, std::string>> PrintSettingsFields(const TSetupRecord& record);

// The value of one field (names without regard to case); nullopt and the
// reason in error when there is no such field.
std::optional<std::string> GetSettingsField(const TSetupRecord& record, std::string_view name,
                                            std::string& error);

// Changes one field after checking the value against the field's range; the
// record is unchanged and error says why when it fails.
bool SetSettingsField(TSetupRecord& record, std::string_view name, std::string_view value,
                      std::string& error);

// The same over the record and the settings kept beside it (SSH, the
// listen allow-list, reconnecting, the FTP protocol), which follow the
// record's fields.
std::vector<std::pair<std::string, std::string>> PrintSettingsFields(const TSetupRecord& record,
                                                                     const TConnectionSettings& extra);
std::optional<std::string> GetSettingsField(const TSetupRecord& record, const TConnectionSettings& extra,
                                            std::string_view name, std::string& error);
bool SetSettingsField(TSetupRecord& record, TConnectionSettings& extra, std::string_view name,
                      std::string_view value, std::string& error);

// The reference of every field (docs/settings.md): names, values, defaults.
std::string SettingsReferenceText();

// The string escapes above, both ways; nullopt for a malformed number.
std::string EscapeSettingsText(std::string_view text);
std::string UnescapeSettingsText(std::string_view text);
