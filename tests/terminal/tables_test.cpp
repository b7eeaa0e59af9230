// The sequence tables and the recogniser, entry by entry.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "terminal/tables.h"

namespace {

using namespace terminal_tables;

struct TEntry {
  std::string Sequence;  // after ESC
  int Function;
};

// A scan's result as "function N" when complete, else "incomplete" or "no match".
std::string Scan(const std::uint8_t* table, std::string_view sequence) {
  const auto r = ScanSequence(table, sequence);
  if (r.Kind == TScanKind::Complete) return "function " + std::to_string(r.Function);
  return r.Kind == TScanKind::Incomplete ? "incomplete" : "no match";
}

// Each sequence's scan, as Scan gives it.
std::vector<std::string> Scans(const std::uint8_t* table, std::initializer_list<std::string_view> sequences) {
  std::vector<std::string> scans;
  for (const std::string_view sequence : sequences) scans.push_back(Scan(table, sequence));
  return scans;
}

// Feeds the sequence one character at a time as the interpreter does:
// every proper prefix must be incomplete, the whole sequence complete.
void ExpectRecognised(int emulation, const TEntry& e) {
  const std::uint8_t* table = SequenceTable(emulation);
  ASSERT_NE(table, nullptr);
  for (std::size_t n = 1; n < e.Sequence.size(); ++n) {
    EXPECT_EQ(Scan(table, std::string_view(e.Sequence).substr(0, n)), "incomplete")
        << "type " << emulation << " '" << e.Sequence << "' after " << n << " characters";
  }
  EXPECT_EQ(Scan(table, e.Sequence), "function " + std::to_string(e.Function))
      << "type " << emulation << " '" << e.Sequence << "'";
}

// Written from the QUORIX table's left half.
const std::vector<TEntry> kQuorixEntries = {
    {"h", 148}, {"J", 149}, {"&dB", 150}, {"&d@", 151}, {"{", 153}, {"] ", 154}, {"W", 157},
    {"&s0a1d1H", 158}, {"&k1a1c1B", 159}, {"X", 160}, {"&k0a0B", 161}, {"k", 149},
    {"R", 104}, {"0P", 134}, {"0@", 129}, {"V", 109}, {"0d", 146}, {"0H", 129}, {"0X", 134},
    {"U", 108}, {"B", 148}, {"O", 105},
};

// The right half, which the VT types share.
const std::vector<TEntry> kVtEntries = {
    {"D", 6}, {"E", 7}, {"M", 8}, {"7", 9}, {"8", 10}, {"#3", 11}, {"#4", 12}, {"#5", 13},
    {"#6", 14}, {"#8", 162}, {"(A", 42}, {")A", 43}, {"(B", 44}, {")B", 45}, {"(0", 46},
    {")0", 47}, {"=", 63}, {">", 64}, {"H", 74}, {"[>x", 166},
};

const std::vector<TEntry> kVt52Entries = {
    {"A", 1}, {"B", 2}, {"C", 3}, {"D", 4}, {"F", 66}, {"G", 67}, {"H", 68},
    {"I", 8}, {"J", 18}, {"K", 15}, {"Z", 81}, {"=", 63}, {">", 64}, {"]", 70},
    {"V", 71}, {"^", 72}, {"_", 76}, {"W", 79}, {"X", 80}, {"<", 65},
};

// Final tables: (final character, function).
const std::vector<TEntry> kFinalA = {{"f", 169}, {"k", 167}, {"c", 168}, {"s", 170}, {"r", 171}};
const std::vector<TEntry> kFinalB = {{"h", 50}, {"l", 51}, {"i", 87}};
const std::vector<TEntry> kFinalC = {
    {"H", 5}, {"f", 5}, {"r", 73}, {"R", 78}, {"A", 1}, {"B", 2}, {"C", 3},
    {"D", 4}, {"L", 163}, {"M", 164}, {"P", 165}, {"m", 21}, {"J", 18}, {"K", 15},
    {"h", 48}, {"l", 49}, {"g", 75}, {"n", 77}, {"c", 81}, {"i", 86}, {"q", 92},
};

void ExpectFinals(int emulation, const std::string& prefix, const std::vector<TEntry>& finals) {
  for (const auto& f : finals) {
    ExpectRecognised(emulation, {prefix + f.Sequence, f.Function});
    ExpectRecognised(emulation, {prefix + "12;0;7" + f.Sequence, f.Function});
    ExpectRecognised(emulation, {prefix + ";;" + f.Sequence, f.Function});
  }
}

TEST(SequenceTables, QuorixEntries) {
  for (const auto& e : kQuorixEntries) ExpectRecognised(0, e);
  for (const auto& e : kVtEntries) ExpectRecognised(0, e);
  ExpectFinals(0, "[>", kFinalA);
  ExpectFinals(0, "[?", kFinalB);
  ExpectFinals(0, "[", kFinalC);
  ExpectFinals(0, "[", {{"w", 16}});
}

TEST(SequenceTables, VtTypesShareTheirEntriesButNotTheirTables) {
  for (int type : {1, 2, 3}) {
    for (const auto& e : kVtEntries) ExpectRecognised(type, e);
    ExpectFinals(type, "[>", kFinalA);
    ExpectFinals(type, "[?", kFinalB);
    ExpectFinals(type, "[", kFinalC);
    // 'w' belongs to the QUORIX final table only.
    EXPECT_EQ(ScanSequence(SequenceTable(type), "[2w").Kind, TScanKind::NoMatch);
  }
  EXPECT_NE(SequenceTable(1), SequenceTable(2));
  EXPECT_NE(SequenceTable(2), SequenceTable(3));
}

TEST(SequenceTables, Vt52Entries) {
  for (const auto& e : kVt52Entries) ExpectRecognised(4, e);
  // Y takes any two characters, whatever they are.
  ExpectRecognised(4, {"Y%*", 82});
  ExpectRecognised(4, {std::string("Y\0\xFF", 3), 82});
  EXPECT_EQ(ScanSequence(SequenceTable(4), "[").Kind, TScanKind::NoMatch);
}

// Unknown types and final tables have none; a final table ends with zero.
TEST(SequenceTables, UnknownTypesAndFinalTables) {
  EXPECT_EQ(SequenceTable(5), nullptr);
  EXPECT_EQ(SequenceTable(-1), nullptr);
  EXPECT_EQ(ScanSequence(nullptr, "D").Kind, TScanKind::NoMatch);
  EXPECT_EQ(LookUpFinal(FinalTable(ftB), 'm'), 0);
  EXPECT_EQ(FinalTable(0), nullptr);
  EXPECT_EQ(FinalTable(5), nullptr);
}

// Unknown finals and the plain entry "[>x" against "[>1x" are in recogniser.test.
TEST(Recogniser, QuorixInverseAndNormalVideoShareTheirStart) {
  // "&k0" leaves &k1a1c1B behind and continues with &k0a0B.
  EXPECT_EQ(Scans(SequenceTable(0), {"&d", "&d@", "&dC", "&k0a", "&k0a1"}),
            (std::vector<std::string>{"incomplete", "function 151", "no match", "incomplete", "no match"}));
}

TEST(Recogniser, ResumingAtTheDecidingEntryGivesTheSameResult) {
  const std::uint8_t* quorix = SequenceTable(0);
  const std::string sequence = "[12;40H";
  std::size_t entry = 0;
  for (std::size_t n = 1; n <= sequence.size(); ++n) {
    const auto full = ScanSequence(quorix, std::string_view(sequence).substr(0, n));
    const auto resumed = ScanSequence(quorix, std::string_view(sequence).substr(0, n), entry);
    EXPECT_EQ(std::tuple(full.Kind, full.Function, full.Entry),
              std::tuple(resumed.Kind, resumed.Function, resumed.Entry));
    entry = full.Entry;
  }
}

TEST(Recogniser, ParametersNeverDecideInTheBindingTables) {
  for (int type = 0; type <= 4; ++type) {
    EXPECT_TRUE(terminal_tables::ParametersNeverDecide(terminal_tables::SequenceTable(type)));
  }
  // A plain entry that spells out a parameter would make the digits matter.
  const std::uint8_t withDigit[] = {3, '[', '1', 'x', 7, 128 + 1, '[', 128 + 3, 0};
  EXPECT_FALSE(terminal_tables::ParametersNeverDecide(withDigit));
  const std::uint8_t withWildcard[] = {3, '[', 0x80, 'x', 7, 0};
  EXPECT_FALSE(terminal_tables::ParametersNeverDecide(withWildcard));
  EXPECT_FALSE(terminal_tables::ParametersNeverDecide(nullptr));
}

TEST(Recogniser, AnUnindexedTableIsScannedFromItsFirstEntry) {
  // Entries in an order the recogniser must keep: "AB" before the prefix "A".
  const std::uint8_t table[] = {2, 'A', 'B', 9, 128 + 1, 'A', 128 + 3, 1, 'Z', 4, 0};
  EXPECT_EQ(Scans(table, {"A", "AB", "A5;6H", "Z", "Q"}),
            (std::vector<std::string>{"incomplete", "function 9", "function 5", "function 4", "no match"}));
}

}  // namespace
