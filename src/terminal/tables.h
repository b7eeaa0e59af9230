// Escape-sequence tables and the table-driven recogniser.
//
// A sequence table is a run of entries ended by a 0 byte. An entry is a
// header byte h, a pattern and one more byte:
//  - h < 128: the pattern has h bytes and the last byte is the function
//    number; a pattern byte with bit 7 set matches any one character.
//  - h >= 128: the pattern is a prefix of h - 128 characters, followed in the
//    sequence by parameters (digits and ';') and a final character; the last
//    byte is 128 + the number of the final table that maps the final
//    character to the function.
// A final table is a list of (final character, function) pairs ended by 0.
// Entries are tried in table order; the first entry that finds the sequence
// complete or incomplete decides.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace terminal_tables {

inline constexpr std::uint8_t kAnyChar = 0x80;  // wildcard pattern byte
inline constexpr std::uint8_t kPrefixEntry = 0x80;  // header bit of a prefix entry

// Final table numbers (the byte after a prefix is 128 + number).
enum TFinalTable : std::uint8_t {
  ftA = 1,  // after "[>"
  ftB = 2,  // after "[?"
  ftC = 3,  // after "[" (VT types)
  ftD = 4,  // after "[" (QUORIX): C plus 'w'
};

// The table of a terminal type (`Emulation` 0..4); nullptr for any other value.
const std::uint8_t* SequenceTable(int emulation);
// The pairs of a final table; nullptr for an unknown number.
const std::uint8_t* FinalTable(int number);

// The function a final table gives for `final`, or 0 when it has none.
int LookUpFinal(const std::uint8_t* finalTable, std::uint8_t final);

enum class TScanKind { Incomplete, Complete, NoMatch };

struct TScanResult {
  TScanKind Kind = TScanKind::NoMatch;
  int Function = 0;
  // Offset in the table of the entry that decided (Incomplete or Complete).
  // Entries before it stay out of the race while the buffer only grows, so
  // the next scan of the same sequence may start here.
  std::size_t Entry = 0;
  // Incomplete inside the parameters of a prefix entry: its final table. Only
  // the next character then decides (a digit or ';' keeps it incomplete).
  const std::uint8_t* Finals = nullptr;
};

inline bool IsParameterChar(std::uint8_t c) { return (c >= '0' && c <= '9') || c == ';'; }

// Scans `table` for the collected sequence `buffer` (the characters after
// ESC), starting with the entry at offset `firstEntry` (0: the first entry
// that can match the buffer's first character).
TScanResult ScanSequence(const std::uint8_t* table, std::string_view buffer,
                         std::size_t firstEntry = 0);

// True when in `table` the parameters of a control sequence ("[", an optional
// marker, digits and ';', a final character) cannot decide between entries:
// no plain entry starting with '[' holds a parameter character or a wildcard.
// The scan result of such a sequence then depends only on its marker, on
// whether it has parameters at all, and on its final character.
bool ParametersNeverDecide(const std::uint8_t* table);

}  // namespace terminal_tables
