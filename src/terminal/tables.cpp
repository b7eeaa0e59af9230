#include "terminal/tables.h"

#include <array>

namespace terminal_tables {
namespace {

constexpr std::uint8_t kAny = kAnyChar;
constexpr std::uint8_t P = kPrefixEntry;

// QUORIX: first the native sequences, then the VT100 set with final table D.
constexpr std::uint8_t kQuorixTable[] = {
    1, 'h', 148,
    1, 'J', 149,
    3, '&', 'd', 'B', 150,
    3, '&', 'd', 64, 151,
    1, '{', 153,
    2, ']', ' ', 154,
    1, 'W', 157,
    8, '&', 's', '0', 'a', '1', 'd', '1', 'H', 158,
    8, '&', 'k', '1', 'a', '1', 'c', '1', 'B', 159,
    1, 'X', 160,
    6, '&', 'k', '0', 'a', '0', 'B', 161,
    1, 'k', 149,
    1, 'R', 104,
    2, '0', 'P', 134,
    2, '0', 64, 129,
    1, 'V', 109,
    2, '0', 'd', 146,
    2, '0', 'H', 129,
    2, '0', 'X', 134,
    1, 'U', 108,
    1, 'B', 148,
    1, 'O', 105,
    1, 'D', 6,
    1, 'E', 7,
    1, 'M', 8,
    1, '7', 9,
    1, '8', 10,
    2, '#', '3', 11,
    2, '#', '4', 12,
    2, '#', '5', 13,
    2, '#', '6', 14,
    2, '#', '8', 162,
    2, '(', 'A', 42,
    2, ')', 'A', 43,
    2, '(', 'B', 44,
    2, ')', 'B', 45,
    2, '(', '0', 46,
    2, ')', '0', 47,
    1, '=', 63,
    1, '>', 64,
    1, 'H', 74,
    3, '[', '>', 'x', 166,
    P + 2, '[', '>', P + ftA,
    P + 2, '[', '?', P + ftB,
    P + 1, '[', P + ftD,
    0};

constexpr std::uint8_t kVt100Table[] = {
    1, 'D', 6,
    1, 'E', 7,
    1, 'M', 8,
    1, '7', 9,
    1, '8', 10,
    2, '#', '3', 11,
    2, '#', '4', 12,
    2, '#', '5', 13,
    2, '#', '6', 14,
    2, '#', '8', 162,
    2, '(', 'A', 42,
    2, ')', 'A', 43,
    2, '(', 'B', 44,
    2, ')', 'B', 45,
    2, '(', '0', 46,
    2, ')', '0', 47,
    1, '=', 63,
    1, '>', 64,
    1, 'H', 74,
    3, '[', '>', 'x', 166,
    P + 2, '[', '>', P + ftA,
    P + 2, '[', '?', P + ftB,
    P + 1, '[', P + ftC,
    0};

// VT220-8bit and TN3270 have tables of their own with the same entries.
template <std::size_t N>
constexpr std::array<std::uint8_t, N> CopyOf(const std::uint8_t (&table)[N]) {
  std::array<std::uint8_t, N> copy{};
  for (std::size_t i = 0; i < N; ++i) copy[i] = table[i];
  return copy;
}
constexpr auto kVt220Table = CopyOf(kVt100Table);
constexpr auto kTn3270Table = CopyOf(kVt100Table);

constexpr std::uint8_t kVt52Table[] = {
    1, 'A', 1,
    1, 'B', 2,
    1, 'C', 3,
    1, 'D', 4,
    1, 'F', 66,
    1, 'G', 67,
    1, 'H', 68,
    1, 'I', 8,
    1, 'J', 18,
    1, 'K', 15,
    1, 'Z', 81,
    1, '=', 63,
    1, '>', 64,
    1, ']', 70,
    1, 'V', 71,
    1, '^', 72,
    1, '_', 76,
    1, 'W', 79,
    1, 'X', 80,
    1, '<', 65,
    3, 'Y', kAny, kAny, 82,
    0};

constexpr std::uint8_t kFinalA[] = {'f', 169, 'k', 167, 'c', 168, 's', 170, 'r', 171, 0};
constexpr std::uint8_t kFinalB[] = {'h', 50, 'l', 51, 'i', 87, 0};

constexpr std::uint8_t kFinalC[] = {
    'H', 5, 'f', 5, 'r', 73, 'R', 78, 'A', 1, 'B', 2, 'C', 3, 'D', 4, 'L', 163, 'M', 164,
    'P', 165, 'm', 21, 'J', 18, 'K', 15, 'h', 48, 'l', 49, 'g', 75, 'n', 77, 'c', 81,
    'i', 86, 'q', 92, 0};

// QUORIX: the pairs of C, then 'w'.
constexpr auto kFinalD = [] {
  constexpr std::size_t kPairBytes = sizeof(kFinalC) - 1;
  std::array<std::uint8_t, kPairBytes + 3> table{};
  for (std::size_t i = 0; i < kPairBytes; ++i) table[i] = kFinalC[i];
  table[kPairBytes] = 'w';
  table[kPairBytes + 1] = 16;
  table[kPairBytes + 2] = 0;
  return table;
}();

std::size_t EntrySize(const std::uint8_t* entry) { return (entry[0] & ~kPrefixEntry) + 2u; }

// For each first character, the offset of the first entry whose pattern can
// start with it (or of the end mark): the entries before it all mismatch at
// once, so a new sequence need not try them.
struct TFirstEntries {
  std::array<std::uint16_t, 256> Offset{};
};

TFirstEntries IndexTable(const std::uint8_t* table) {
  TFirstEntries index;
  for (int c = 0; c < 256; ++c) {
    std::size_t offset = 0;
    while (table[offset] != 0) {
      const std::uint8_t first = table[offset + 1];
      const bool wildcard = (table[offset] & kPrefixEntry) == 0 && (first & kAnyChar) != 0;
      if (first == c || wildcard) break;
      offset += EntrySize(table + offset);
    }
    index.Offset[c] = static_cast<std::uint16_t>(offset);
  }
  return index;
}

std::size_t FirstEntryFor(const std::uint8_t* table, std::uint8_t first) {
  static const TFirstEntries kIndexes[] = {
      IndexTable(kQuorixTable), IndexTable(kVt100Table), IndexTable(kVt220Table.data()),
      IndexTable(kTn3270Table.data()), IndexTable(kVt52Table)};
  static const std::uint8_t* const kTables[] = {kQuorixTable, kVt100Table, kVt220Table.data(),
                                                kTn3270Table.data(), kVt52Table};
  for (std::size_t i = 0; i < std::size(kTables); ++i) {
    if (kTables[i] == table) return kIndexes[i].Offset[first];
  }
  return 0;
}

}  // namespace

const std::uint8_t* SequenceTable(int emulation) {
  switch (emulation) {
    case 0: return kQuorixTable;
    case 1: return kVt100Table;
    case 2: return kVt220Table.data();
    case 3: return kTn3270Table.data();
    case 4: return kVt52Table;
    default: return nullptr;
  }
}

const std::uint8_t* FinalTable(int number) {
  switch (number) {
    case ftA: return kFinalA;
    case ftB: return kFinalB;
    case ftC: return kFinalC;
    case ftD: return kFinalD.data();
    default: return nullptr;
  }
}

namespace {

// A final table spread out by character, for lookups on the hot path.
struct TFinalMap {
  std::array<std::uint8_t, 256> Function{};
};

TFinalMap SpreadFinals(const std::uint8_t* finalTable) {
  TFinalMap map;
  // Earlier pairs win, as in a lookup from the start.
  for (const std::uint8_t* p = finalTable; *p != 0; p += 2) {
    if (map.Function[p[0]] == 0) map.Function[p[0]] = p[1];
  }
  return map;
}

}  // namespace

int LookUpFinal(const std::uint8_t* finalTable, std::uint8_t final) {
  static const TFinalMap kMaps[] = {SpreadFinals(kFinalA), SpreadFinals(kFinalB),
                                    SpreadFinals(kFinalC), SpreadFinals(kFinalD.data())};
  static const std::uint8_t* const kFinals[] = {kFinalA, kFinalB, kFinalC, kFinalD.data()};
  if (!finalTable) return 0;
  for (std::size_t i = 0; i < std::size(kFinals); ++i) {
    if (kFinals[i] == finalTable) return kMaps[i].Function[final];
  }
  for (const std::uint8_t* p = finalTable; *p != 0; p += 2) {
    if (p[0] == final) return p[1];
  }
  return 0;
}

TScanResult ScanSequence(const std::uint8_t* table, std::string_view buffer,
                         std::size_t firstEntry) {
  TScanResult result;
  if (!table || buffer.empty()) return result;
  const std::size_t length = buffer.size();
  std::size_t offset = firstEntry != 0 ? firstEntry : FirstEntryFor(table, std::uint8_t(buffer[0]));
  while (table[offset] != 0) {
    const std::uint8_t header = table[offset];
    const std::uint8_t* pattern = table + offset + 1;
    const std::size_t entry = offset;
    if ((header & kPrefixEntry) == 0) {
      const std::size_t patternLength = header;
      offset += patternLength + 2;
      if (length > patternLength) continue;
      bool matches = true;
      for (std::size_t i = 0; i < length && matches; ++i) {
        matches = (pattern[i] & kAnyChar) != 0 || pattern[i] == std::uint8_t(buffer[i]);
      }
      if (!matches) continue;
      result.Entry = entry;
      if (length == patternLength) {
        result.Kind = TScanKind::Complete;
        result.Function = pattern[patternLength];
      } else {
        result.Kind = TScanKind::Incomplete;
      }
      return result;
    }

    const std::size_t prefixLength = header - kPrefixEntry;
    offset += prefixLength + 2;
    const std::size_t compared = length < prefixLength ? length : prefixLength;
    bool matches = true;
    for (std::size_t i = 0; i < compared && matches; ++i) {
      matches = pattern[i] == std::uint8_t(buffer[i]);
    }
    if (!matches) continue;
    result.Entry = entry;
    std::size_t i = prefixLength;
    while (i < length && IsParameterChar(std::uint8_t(buffer[i]))) ++i;
    if (i >= length) {
      result.Kind = TScanKind::Incomplete;
      if (length >= prefixLength) result.Finals = FinalTable(pattern[prefixLength] - kPrefixEntry);
      return result;
    }
    const int function = LookUpFinal(FinalTable(pattern[prefixLength] - kPrefixEntry),
                                      std::uint8_t(buffer[i]));
    // A final character the table lacks ends the scan: later entries are not tried.
    result.Kind = function != 0 ? TScanKind::Complete : TScanKind::NoMatch;
    result.Function = function;
    return result;
  }
  return result;
}

bool ParametersNeverDecide(const std::uint8_t* table) {
  if (!table) return false;
  for (std::size_t offset = 0; table[offset] != 0; offset += EntrySize(table + offset)) {
    const std::uint8_t header = table[offset];
    if ((header & kPrefixEntry) != 0 || table[offset + 1] != '[') continue;
    for (std::size_t i = 1; i < header; ++i) {
      const std::uint8_t c = table[offset + 1 + i];
      if (IsParameterChar(c) || (c & kAnyChar) != 0) return false;
    }
  }
  return true;
}

}  // namespace terminal_tables
