// The lookups of the reader over hand-made files: record layouts, indexes,
// name searches, set element and constant texts, and hostile files.
#include <gtest/gtest.h>

#include "trace/modefile.h"
#include "trace/modefile_testing.h"

namespace {

// --- Records ---

TModeRecord RecordOf(const std::string& bytes) {
  TModeRecord record;
  std::copy(bytes.begin(), bytes.end(), record.Bytes.begin());
  return record;
}

// Every field read back and written again gives the same bytes; the
// compiler's byte tests pin where the writer puts each field, so a field read
// from the wrong offset fails here.
TEST(ModeRecords, HeaderFieldsSitAtTheirOffsets) {
  const std::string bytes = RecordBytes(
      0x1234, {{2, Le32(0x00010020)}, {6, Short40("HEADER")}, {47, Le32(0xFFFFFFFE)},  {51, "\x0B\x08\x0A\x01"},
               {55, Le16(3)},         {57, Le16(0x8001)},      {59, Le32(42)},          {63, Le16(1) + Le16(4) + Le32(0x200)},
               {71, Le16(0) + Le16(2) + Le32(0xFFFFFFFF)},     {79, Le16(5) + Le16(5) + Le32(7)},
               {87, Le32(12)},        {91, Le16(0x0015)},      {93, std::string(16, '\x5A')}});
  const TModeRecord record = RecordOf(bytes);
  const TModeHeaderRecord h = record.Header();
  EXPECT_EQ(record.ModeNumber(), 0x1234);
  EXPECT_EQ(h.Name, "HEADER");
  EXPECT_EQ(h.Reference, -2);
  EXPECT_EQ(h.ElementCount(), 4u * 3u * 1u);
  EXPECT_EQ(h.Packing(), pmRevPack);  // pack flag 1 and flag bit 4
  const TModeRecordBytes again = EncodeModeHeader(h);
  EXPECT_EQ(std::string(again.begin(), again.end()), bytes);
}

TEST(ModeRecords, ComponentFieldsSitAtTheirOffsets) {
  const std::string bytes = RecordBytes(
      7, {{2, "\x01\x02\x03\x04"}, {6, Short40("FIELD")}, {47, Le32(24)}, {51, Le16(0x0102)}, {53, "\x05"},
          {54, Short40("SOME_MODE")}, {95, Le32(99)}, {99, "\x09\x01"}, {101, Le32(12)}, {105, Le16(0xFFFE)},
          {107, Le16(0x001F)}});
  const TModeComponentRecord c = RecordOf(bytes).Component();
  EXPECT_EQ(c.ModeName, "SOME_MODE");
  EXPECT_EQ(c.Adjustment(), -2);
  EXPECT_TRUE(c.IsElse() && c.IsOptPar() && c.IsVarPar() && c.IsVarLength());
  EXPECT_FALSE(c.IsVariant());  // VARLENGTH uses the selector for the length
  EXPECT_EQ(c.Packing(), pmRevPack);
  const TModeRecordBytes again = EncodeModeComponent(c);
  EXPECT_EQ(std::string(again.begin(), again.end()), bytes);
}

TEST(ModeRecords, ANameLengthBeyondTheFieldIsCut) {
  TModeRecord record;
  record.Bytes[6] = 200;
  std::fill(record.Bytes.begin() + 7, record.Bytes.end(), 'N');
  EXPECT_EQ(record.Header().Name, std::string(40, 'N'));
  EXPECT_EQ(record.Component().ModeName, std::string(40, 'N'));
}

// --- Message and MBID indexes ---

TEST(MessageIndexes, EntriesAndSpecialValues) {
  const std::string msg = Le32(14) + Le32(-1) + Le32(-2) + Le32(-3) + Le32(-4) + Le32(-5) + Le32(-6) + "\x01\x02";
  TRecordingReporter r;
  auto set = OpenMemory(MinimalFiles({{".msg", msg}, {".usb", Le32(-2)}}), r);
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(set->MessageModeIndex(0).Status, TIndexStatus::Found);
  EXPECT_EQ(set->MessageModeIndex(0).Index, 14);
  for (int n = 1; n <= 6; ++n) EXPECT_EQ(set->MessageModeIndex(static_cast<std::uint32_t>(n)).Index, -n);
  // An entry cut off by the end and one beyond it have no decoding, silently.
  EXPECT_EQ(set->MessageModeIndex(7).Status, TIndexStatus::Absent);
  EXPECT_EQ(set->MessageModeIndex(65535).Status, TIndexStatus::Absent);
  EXPECT_EQ(set->UserBufferModeIndex(0).Index, -2);
  EXPECT_EQ(set->UserBufferModeIndex(1).Status, TIndexStatus::Absent);
  EXPECT_TRUE(r.Errors.empty());
}

TEST(MessageIndexes, ReadFailuresAreReportedWithTheFileTitle) {
  auto files = MinimalFiles();
  files.erase(".msg");
  files.erase(".usb");
  files.erase(".bid");
  TRecordingReporter r;
  auto set = TTraceFileSet::Open(
      std::make_shared<TFaultyStore>(files, std::map<std::string, std::uint32_t>{{".msg", 1117}, {".usb", 23}, {".bid", 30}}), r);
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(set->MessageModeIndex(3).Status, TIndexStatus::Failed);
  EXPECT_EQ(set->UserBufferModeIndex(3).Status, TIndexStatus::Failed);
  EXPECT_EQ(set->MbidIndexEntry(3).Status, TIndexStatus::Failed);
  EXPECT_EQ(r.Errors, (std::vector<TReported>{{ekFileAccess, 1117, "MSG Index File"},
                                               {ekFileAccess, 23, "Userbuffer Index File"},
                                               {ekFileAccess, 30, "MBID Index File"}}));
}

// --- Mode runs ---

TEST(ModeRuns, ARunEndsAtAnotherModeNumberOrTheEndOfTheFile) {
  const std::string mod = RecordBytes(7, {{51, "\x0A"}}) + RecordBytes(7, {{6, Short40("A")}}) +
                          RecordBytes(7, {{6, Short40("B")}}) + RecordBytes(8, {{51, "\x04"}});
  TRecordingReporter r;
  auto set = OpenMemory(MinimalFiles({{".mod", mod}}), r);
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(set->ModeRecordCount(), 4u);
  const TModeRun structure = set->ReadModeRun(0);
  ASSERT_TRUE(structure.ok());
  ASSERT_EQ(structure.Components.size(), 2u);
  EXPECT_EQ(structure.Components[1].Component().Name, "B");
  EXPECT_TRUE(structure.End.ok());
  // A header-only mode as the last record is a whole mode.
  const TModeRun last = set->ReadModeRun(3);
  ASSERT_TRUE(last.ok());
  EXPECT_EQ(last.Header.Header().Kind, mkInt);
  EXPECT_TRUE(last.Components.empty());
  EXPECT_EQ(last.End.Kind, TReadStatus::PastEnd);
  // A run that starts inside another mode just reads on from there.
  EXPECT_EQ(set->ReadModeRun(1).Components.size(), 1u);
  EXPECT_EQ(set->ReadModeRun(4).Status.Kind, TReadStatus::PastEnd);
  EXPECT_EQ(set->ReadModeRun(-1).Status.Kind, TReadStatus::Failed);
  EXPECT_EQ(set->ReadModeRun(-1).Status.Code, kErrorNegativeSeek);
  EXPECT_TRUE(r.Errors.empty());
}

TEST(ModeRuns, ARunOfOneModeNumberIsBounded) {
  // 70000 records of mode number 0 (a zero-filled file).
  TRecordingReporter r;
  auto set = OpenMemory(MinimalFiles({{".mod", std::string(70000 * kModeRecordSize, '\0')}}), r);
  const TModeRun run = set->ReadModeRun(0);
  EXPECT_TRUE(run.Truncated);
  EXPECT_EQ(run.Components.size(), TTraceFileSet::kMaxComponents);
}

// --- Name searches ---

std::string Names(std::initializer_list<std::pair<const char*, std::uint32_t>> entries, std::size_t width = 40) {
  std::string bytes;
  for (const auto& [name, index] : entries) bytes += NameEntry(name, index, width);
  return bytes;
}

class NameSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string forty(40, 'Z');
    const std::string mna = Names({{"ALPHA", 0}, {"BRAVO", 1}, {"CHARLIE", 2}, {"DELTA", 3}, {"ECHO", 1},
                                   {"XRAY_9", 2}, {forty.c_str(), 3}});
    const std::string mod = RecordBytes(1, {{6, Short40("ALPHA")}, {93, std::string(16, 'S')}}) +
                            RecordBytes(2, {{6, Short40("BRAVO")}}) + RecordBytes(3) + RecordBytes(4);
    const std::string sen = Names({{"COLOUR", 16}, {"STATE", 40}, {"TRUNK_STATE_OF_THE_LONG_NAME_WITH_48_CHARS_ABCDE", 8}}, 48);
    const std::string syn = SynBytes("SETUP", "MSG_TYPE", 5, -1) + SynBytes("CONNECT", "MSG_TYPE", 7, -1);
    const std::string sna = Names({{"CONNECT", 1}, {"SETUP", 0}, {"ZULU", 9}});
    Set = OpenMemory(MinimalFiles({{".mna", mna}, {".mod", mod}, {".sen", sen}, {".syn", syn}, {".sna", sna}}), R);
    ASSERT_NE(Set, nullptr);
  }
  TRecordingReporter R;
  std::unique_ptr<TTraceFileSet> Set;
};

TEST_F(NameSearch, FindsFirstMiddleAndLastEntries) {
  const TModeLookup first = Set->LookupModeByName("ALPHA");
  ASSERT_TRUE(first.Found);
  EXPECT_EQ(first.Index, 0);
  EXPECT_EQ(first.Header.Header().Name, "ALPHA");
  // The returned copy holds offsets 0-92 only.
  EXPECT_EQ(first.Header.Bytes[93], 0);
  EXPECT_EQ(first.Header.Bytes[108], 0);
  EXPECT_EQ(Set->LookupModeByName("DELTA").Index, 3);
  EXPECT_EQ(Set->LookupModeByName("ECHO").Header.ModeNumber(), 2);
  EXPECT_EQ(Set->LookupModeByName(std::string(40, 'Z')).Index, 3);  // exactly 40 characters
  // Longer names compare on their first forty characters.
  EXPECT_EQ(Set->LookupModeByName(std::string(40, 'Z') + "_AND_MORE").Index, 3);
  EXPECT_TRUE(R.Errors.empty());
}

// Between entries, before the first, beyond every entry (the search reads
// past the end), without case folding, and empty.
TEST_F(NameSearch, MissingNamesAreNotFoundWithoutAMessage) {
  for (const char* name : {"BETA", "AAA", "\xFF", "alpha", ""}) EXPECT_FALSE(Set->LookupModeByName(name).Found) << name;
  EXPECT_TRUE(R.Errors.empty());
}

TEST_F(NameSearch, SetNamesAreTrimmedAndUseFortyEightCharacters) {
  const TSetLookup colour = Set->LookupSetByName("  COLOUR ");
  EXPECT_TRUE(colour.Found);
  EXPECT_EQ(colour.Offset, 16);
  EXPECT_EQ(Set->LookupSetByName("STATE").Offset, 40);
  EXPECT_EQ(Set->LookupSetByName("TRUNK_STATE_OF_THE_LONG_NAME_WITH_48_CHARS_ABCDEFGH").Offset, 8);
  EXPECT_FALSE(Set->LookupSetByName("TRUNK_STATE_OF_THE_LONG_NAME_WITH_48_CHARS_ABCD").Found);
  EXPECT_FALSE(Set->LookupSetByName("colour").Found);
  EXPECT_TRUE(R.Errors.empty());
}

TEST_F(NameSearch, ConstantsGiveTheirValueAndMode) {
  const TSynLookup setup = Set->LookupSynByName("SETUP");
  ASSERT_TRUE(setup.Found);
  EXPECT_EQ(setup.Record, 1);
  EXPECT_EQ(setup.SynIndex, 0);
  EXPECT_EQ(setup.Value, 5);
  EXPECT_EQ(setup.ModeName, Chars("MSG_TYPE", 40));
  EXPECT_EQ(Set->LookupSynByName("CONNECT").Value, 7);
  EXPECT_TRUE(R.Errors.empty());
  // ZULU names record 9 of .syn, which has two: past its end.
  EXPECT_FALSE(Set->LookupSynByName("ZULU").Found);
  EXPECT_EQ(R.Errors, (std::vector<TReported>{{ekFileAccess, kErrorHandleEof, "MEMORY.syn"}}));
}

TEST(NameSearchFailures, AnUnreadableModeRecordIsReportedWithDiagnostics) {
  TRecordingReporter r;
  auto set = OpenMemory(MinimalFiles({{".mna", NameEntry("LOST", 12)}, {".mod", RecordBytes(1)}}), r);
  EXPECT_FALSE(set->LookupModeByName("LOST").Found);
  EXPECT_EQ(r.Errors, (std::vector<TReported>{{ekFileAccess, kErrorHandleEof, "MEMORY.mod"}}));
  EXPECT_EQ(r.Diagnostics, (std::vector<std::string>{" Mode file index =12", " Mode name =" + Chars("LOST", 40)}));
}

TEST(NameSearchFailures, AMissingIndexFileIsAFileAccessError) {
  auto files = MinimalFiles();
  files.erase(".sen");
  TRecordingReporter r;
  auto set = OpenMemory(files, r);
  EXPECT_FALSE(set->LookupSetByName("COLOUR").Found);
  EXPECT_EQ(r.Errors, (std::vector<TReported>{{ekFileAccess, 2, "MEMORY.sen"}}));
}

TEST(NameSearchFailures, ACutOffLastEntryIsAFailedRead) {
  TRecordingReporter r;
  auto set = OpenMemory(MinimalFiles({{".sna", NameEntry("ALPHA", 0) + "BRAVO"}}), r);
  EXPECT_FALSE(set->LookupSynByName("BRAVO").Found);  // lands on the 5-byte remainder
  EXPECT_EQ(r.Errors, (std::vector<TReported>{{ekFileAccess, kErrorHandleEof, "MEMORY.sna"}}));
}

TEST(NameSearchFailures, AnUnsortedIndexEndsWithoutHanging) {
  std::string mna, mod;
  for (int i = 0; i < 1000; ++i) {
    const std::string name(1, static_cast<char>('A' + (i * 7) % 26));
    mna += NameEntry(name, static_cast<std::uint32_t>(i));
    mod += RecordBytes(static_cast<std::uint16_t>(i), {{6, Short40(name)}});
  }
  TRecordingReporter r;
  auto set = OpenMemory(MinimalFiles({{".mna", mna}, {".mod", mod}}), r);
  int found = 0;
  for (char c = 'A'; c <= 'Z'; ++c) {
    const TModeLookup hit = set->LookupModeByName(std::string(1, c));
    if (!hit.Found) continue;
    ++found;
    EXPECT_EQ(hit.Header.Header().Name, std::string(1, c));  // whatever it finds is a real entry
  }
  EXPECT_GT(found, 0);
  EXPECT_TRUE(r.Errors.empty());
}

// --- Set element texts ---

// N = 4: "RED", unnamed, "GREEN" with bit 7 set in its length byte, "Blue".
const std::string kColourTable = std::string("\x03RED\x00\x85GREEN\x04" "Blue", 16);
const std::string kColour = Le16(4) + Le16(16) + kColourTable;

class SetElements : public ::testing::Test {
 protected:
  void Open(const std::string& sem) {
    Set = OpenMemory(MinimalFiles({{".sem", sem}}), R);
    ASSERT_NE(Set, nullptr);
  }
  std::string Text(std::int64_t offset, std::uint16_t value, bool convert = true) {
    return Set->SetElementText(offset, value, Buffer, 0, 0, pmNone, convert);
  }
  TRecordingReporter R;
  std::unique_ptr<TTraceFileSet> Set;
  TMessageBuffer Buffer;
};

TEST_F(SetElements, NamesInLowerCaseHexOtherwise) {
  Open(kColour);
  // An empty name gives hex and a space; the flag bit is not part of the
  // length; a value not below N is hex.
  EXPECT_EQ((std::vector{Text(0, 0), Text(0, 1), Text(0, 2), Text(0, 3), Text(0, 4), Text(0, 0xFFFE)}),
            (std::vector<std::string>{"red", "01 ", "green", "blue", "04", "FFFE"}));
  EXPECT_EQ(Text(0, 0, false), "00");  // "Convert Set Elements" off
  EXPECT_TRUE(R.Errors.empty());
}

TEST_F(SetElements, ReadsTheValueFromTheMessageWithTheBitsNMinusOneNeeds) {
  Open(kColour);
  Buffer.Bytes[0] = 0x83;  // 1000 0011
  // N = 4: 2 bits. Little-endian from bit 0: 11 = 3; Pack from the top: 10 = 2.
  EXPECT_EQ(Set->SetElementText(0, 0xFFFF, Buffer, 0, 0, pmNone, true), "blue");
  EXPECT_EQ(Set->SetElementText(0, 0xFFFF, Buffer, 0, 0, pmPack, true), "green");
  EXPECT_EQ(Set->SetElementText(0, 0xFFFF, Buffer, 0, 6, pmNone, true), "green");
}

TEST_F(SetElements, SetsOf256OrMoreUseFourDigits) {
  Open(kColour + Le16(256) + Le16(0) + Le16(255) + Le16(0));
  // No names in the tables: four digits for 256 elements, two for 255.
  EXPECT_EQ((std::vector{Text(20, 5), Text(20, 256), Text(24, 7), Text(24, 255)}),
            (std::vector<std::string>{"0005", "0100", "07", "FF"}));
  // N = 256 needs 8 bits for the value read from the message.
  Buffer.Bytes[0] = 0xAB;
  Buffer.Bytes[1] = 0x01;
  EXPECT_EQ(Set->SetElementText(20, 0xFFFF, Buffer, 0, 0, pmNone, true), "00AB");
}

TEST_F(SetElements, AnUnreadableBlockIsReportedAndGivesNothing) {
  Open(kColour);
  EXPECT_EQ(Text(1000, 0), "");
  EXPECT_EQ(Text(-1, 0), "");
  ASSERT_EQ(R.Errors.size(), 2u);
  EXPECT_EQ(R.Errors[0],
            (TReported{ekFileAccess, kErrorHandleEof, "Unable to read Set Element File. File Index =000003E8"}));
  EXPECT_EQ(R.Errors[1].Text, "Unable to read Set Element File. File Index =FFFFFFFF");
}

TEST_F(SetElements, HostileBlocksStayInsideTheirTable) {
  // S says 200 bytes, the file holds 9: the names that are there still count.
  // Then N = 65535 with an empty table, and an empty set.
  Open(Le16(3) + Le16(200) + std::string("\x03ONE\x7FTW\0\0", 9) + Le16(65535) + Le16(0) + Le16(0) + Le16(0));
  EXPECT_EQ(Text(0, 0), "one");
  EXPECT_EQ(Text(0, 1), "01");  // its length runs past the table
  EXPECT_EQ(Text(0, 2), "02");
  EXPECT_EQ(Text(13, 1234), "04D2");
  Buffer.Bytes[0] = 0x34;
  Buffer.Bytes[1] = 0x12;
  EXPECT_EQ(Set->SetElementText(13, 0xFFFF, Buffer, 0, 0, pmNone, true), "1234");  // 16 bits for N - 1 = 65534
  // N = 0: N - 1 is taken as 65535 (16 bits); a value above 255 keeps its four digits.
  EXPECT_EQ(Set->SetElementText(17, 0xFFFF, Buffer, 0, 0, pmNone, true), "1234");
  EXPECT_TRUE(R.Errors.empty());
  TSetElementBlock block;
  ASSERT_TRUE(Set->ReadSetElementBlock(0, block).ok());
  EXPECT_EQ(block.TableSize, 200);
  EXPECT_EQ(block.Table.size(), 17u);  // up to the end of the file
  ASSERT_EQ(block.Elements().size(), 1u);
}

TEST(SetElementBlocks, ElementsKeepTheFlag) {
  TSetElementBlock block;
  block.Count = 4;
  block.Table = kColourTable;
  std::vector<std::pair<std::string, bool>> elements;
  for (const auto& e : block.Elements()) elements.emplace_back(e.Name, e.Flagged);
  EXPECT_EQ(elements, (std::vector<std::pair<std::string, bool>>{{"RED", false}, {"", false}, {"GREEN", true},
                                                                  {"Blue", false}}));
}

// --- Constant texts ---

class Constants : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string syn = SynBytes("SETUP", "MSG_TYPE", 5, 1) + SynBytes("  CONNECT ", "MSG_TYPE", 7, 2) +
                            SynBytes("RELEASE", "MSG_TYPE", 0x4D, -1) + SynBytes("LOOP_A", "L", 1, 4) +
                            SynBytes("LOOP_B", "L", 2, 3) + SynBytes("BROKEN", "B", 9, 99) +
                            SynBytes("BIG", "W", 0x1234, -1);
    Set = OpenMemory(MinimalFiles({{".syn", syn}}), R);
    ASSERT_NE(Set, nullptr);
  }
  std::string Value(std::int64_t first, std::uint16_t v) { return Set->SynValueText(first, v, 0, 0, pmNone, Buffer); }
  std::string Field(std::int64_t first, std::uint32_t width) { return Set->SynValueText(first, 0, 0, width, pmNone, Buffer); }
  TRecordingReporter R;
  std::unique_ptr<TTraceFileSet> Set;
  TMessageBuffer Buffer;
};

TEST_F(Constants, FollowsTheChainToTheValueAndEndsWithoutAName) {
  // Names are trimmed. The chain from record 1 does not hold 5; a chain ends
  // at the -1 link; then no chain, chains beyond the file, a looping chain.
  EXPECT_EQ((std::vector{Value(0, 5), Value(0, 7), Value(0, 0x4D), Value(1, 5), Value(0, 8), Value(-1, 5),
                         Value(7, 5), Value(1000, 5), Value(3, 9), Value(3, 2)}),
            (std::vector<std::string>{"0005(SETUP)", "0007(CONNECT)", "004D(RELEASE)", "0005", "0008", "0005",
                                      "0005", "0005", "0009", "0002(LOOP_B)"}));
  EXPECT_TRUE(R.Errors.empty());
  EXPECT_EQ(Set->ConstantChain(3).size(), 2u);
}

TEST_F(Constants, TheNumericFormFollowsTheWidth) {
  Buffer.Bytes[0] = 0x4E;
  Buffer.Bytes[1] = 0x21;
  // 1-4 bits: one digit; 5-8: two; 9-16: four, so no digit is lost; above
  // 16: the low 16 bits, four digits.
  EXPECT_EQ((std::vector{Field(0, 4), Field(0, 8), Field(0, 12), Field(0, 16), Field(0, 20)}),
            (std::vector<std::string>{"E", "4E", "014E", "214E", "214E"}));
  Buffer.Bytes[0] = 0x05;
  EXPECT_EQ(Field(0, 3), "0005(SETUP)");
  Buffer.Bytes[0] = 0x34;
  Buffer.Bytes[1] = 0x12;
  EXPECT_EQ(Field(6, 16), "1234(BIG)");
}

TEST_F(Constants, ABrokenLinkIsReportedAndChainsComeInOrder) {
  EXPECT_EQ(Value(5, 1), "0001");
  EXPECT_EQ(Value(-7, 1), "0001");  // a negative start other than -1 cannot be read either
  ASSERT_EQ(R.Errors.size(), 2u);
  EXPECT_EQ(R.Errors[0].Kind, ekFileAccess);
  EXPECT_EQ(R.Errors[0].Text, "Unable to read Syn-Mode-File. File Index =00000063");
  EXPECT_EQ(R.Errors[1].Text, "Unable to read Syn-Mode-File. File Index =FFFFFFF9");
  const auto chain = Set->ConstantChain(0);
  ASSERT_EQ(chain.size(), 3u);
  EXPECT_EQ(TrimName(chain[1].Name), "CONNECT");
  EXPECT_EQ(chain[2].Value, 0x4D);
  EXPECT_TRUE(Set->ConstantChain(-1).empty());
  EXPECT_EQ(Set->ConstantChain(5).size(), 1u);  // BROKEN, then the unreadable link
  EXPECT_EQ(R.Errors.size(), 3u);
}
}  // namespace
