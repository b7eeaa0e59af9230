// The bytes of every output file of the mode compiler, worked out by hand
// from the record layouts.
#include <gtest/gtest.h>

#include "trace/compiler.h"
#include "trace/modefile_testing.h"

namespace {
constexpr std::size_t kRecord = 109;

// A header as the compiler writes it when nothing else is said: reference,
// constant chain and the three index modes -1.
std::string Header(std::uint16_t number, std::map<std::size_t, std::string> fields) {
  std::string r = RecordBytes(number, {{47, Le32(-1)}, {59, Le32(-1)}, {67, Le32(-1)}, {75, Le32(-1)}, {83, Le32(-1)}});
  for (const auto& [offset, bytes] : fields) r.replace(offset, bytes.size(), bytes);
  return r;
}

std::string Record(const std::string& mod, std::size_t n) { return mod.substr(n * kRecord, kRecord); }
std::uint32_t U8(const std::string& mod, std::size_t rec, std::size_t at) {
  return static_cast<std::uint8_t>(mod.at(rec * kRecord + at));
}
std::uint32_t U16(const std::string& mod, std::size_t rec, std::size_t at) { return U16At(mod, rec * kRecord + at); }
std::uint32_t U32(const std::string& mod, std::size_t rec, std::size_t at) { return U32At(mod, rec * kRecord + at); }
std::string Name(const std::string& mod, std::size_t rec, std::size_t at) {
  return mod.substr(rec * kRecord + at + 1, static_cast<std::uint8_t>(mod.at(rec * kRecord + at)));
}

const char* const kSmall = R"(
VERSION 2.1;
NEWMODE colour = SET (red, green, *, blue FLAGGED);
NEWMODE msgtype = RANGE (0:127) CONSTANTS (setup = 5, connect = 7);
NEWMODE hdr = STRUCT (kind colour, len INT);
MESSAGE 2 = hdr;
USERBUFFER 0 = MBIDLIST;
MBID 1 = colour;
KASP MSG 2 = "HDR";
)";

TEST(CompilerFormat, EveryFileOfASmallSource) {
  const TModeFileImage image = CompiledModes(kSmall);
  const auto& f = image.Files;
  ASSERT_EQ(f.size(), 11u);

  EXPECT_EQ(f.at(".ver"), "VERSION = VERSION 2.1\r\n");
  EXPECT_EQ(f.at(".sem"), Le16(4) + Le16(16) + std::string("\x03RED\x05GREEN\x00\x84" "BLUE", 16));
  EXPECT_EQ(f.at(".syn"), SynBytes("SETUP", "MSGTYPE", 5, 1) + SynBytes("CONNECT", "MSGTYPE", 7, -1));
  EXPECT_EQ(f.at(".msg"), Le32(-1) + Le32(-1) + Le32(12));
  EXPECT_EQ(f.at(".usb"), Le32(-2));
  EXPECT_EQ(f.at(".bid"), "\x01" + Le32(-1) + std::string(1, '\0') + Le32(0));
  EXPECT_EQ(f.at(".mna"), NameEntry("HDR", 12) + NameEntry("MSGTYPE", 11));
  EXPECT_EQ(f.at(".sen"), NameEntry("COLOUR", 0, 48));
  EXPECT_EQ(f.at(".sna"), NameEntry("CONNECT", 1) + NameEntry("SETUP", 0));
  EXPECT_EQ(f.at(".mnt"), "COLOUR\r\nHDR\r\nMSGTYPE\r\n");
  EXPECT_EQ(image.Kasp.at("KASP.MSG"), std::string(20, ' ') + "HDR       ");
  EXPECT_EQ(image.Kasp.at("KASP.VMI"), "");
  EXPECT_EQ(image.Kasp.at("KASP.BID"), "");

  const std::string& mod = f.at(".mod");
  ASSERT_EQ(mod.size(), 15 * kRecord);
  // Records 0-9: the DSS1 vocabulary, none given here.
  EXPECT_EQ(Record(mod, 0), Header(0, {{6, Short40("DSS1_MESSAGE_TYPES")}}));
  EXPECT_EQ(Record(mod, 2), Header(2, {{6, Short40("DSS1_IE_CONTENTS")}}));
  EXPECT_EQ(Record(mod, 9), Header(9, {{6, Short40("DSS1_CODESET_7")}}));
  // The set: 4 elements need 2 bits.
  EXPECT_EQ(Record(mod, 10), Header(10, {{2, Le32(2)}, {6, Short40("COLOUR")}, {47, Le32(0)}, {51, "\x08"}}));
  // The range over constants: chain from .syn record 0.
  EXPECT_EQ(Record(mod, 11), Header(11, {{2, Le32(7)}, {6, Short40("MSGTYPE")}, {51, "\x0E\x04"},
                                         {57, Le16(127)}, {59, Le32(0)}}));
  // The structure (not packed): kind in byte 0, len in bytes 1-2.
  EXPECT_EQ(Record(mod, 12), Header(12, {{2, Le32(24)}, {6, Short40("HDR")}, {51, "\x0A"}}));
  EXPECT_EQ(Record(mod, 13), RecordBytes(12, {{6, Short40("KIND")}, {47, Le32(2)}, {54, Short40("COLOUR")},
                                              {95, Le32(0)}, {99, "\x08"}, {101, Le32(-1)}}));
  EXPECT_EQ(Record(mod, 14), RecordBytes(12, {{6, Short40("LEN")}, {47, Le32(16)}, {51, Le16(1)},
                                              {95, Le32(-1)}, {99, "\x04"}, {101, Le32(-1)}}));
  EXPECT_EQ(image.ModeIndex.at("HDR"), 12);
  EXPECT_EQ(image.SetOffset.at("COLOUR"), 0);
}

TEST(CompilerFormat, WithoutKaspStatementsNoKaspFiles) {
  const TModeFileImage image = CompiledModes("VERSION 1.0;");
  EXPECT_TRUE(image.Kasp.empty());
  EXPECT_EQ(image.Files.at(".ver"), "VERSION = VERSION 1.0\r\n");
  EXPECT_EQ(image.Files.at(".mod").size(), 10 * kRecord);
  for (const char* ext : {".msg", ".usb", ".bid", ".sem", ".syn", ".mna", ".sen", ".sna", ".mnt"})
    EXPECT_EQ(image.Files.at(ext), "") << ext;
}

const char* const kVariants = R"(
NEWMODE state = SET (idle, busy, out = 5);
NEWMODE ie_names = RANGE (0:255) CONSTANTS (bearer = 4, cause = 8);
NEWMODE rec = PACK STRUCT (
  tag  state,
  flag BOOL,
  CASE tag OF
    (busy): count BIT(4);
    (idle, out): a BIT(2), b BIT(6);
    ELSE rest BIN(8);
  ESAC,
  len  BIT(4),
  data ARRAY (0:3) CHAR VARLENGTH (len - 2),
  opt  ie_names OPTPAR,
  var  REVPACK BIN(12) VARPAR
);
)";

TEST(CompilerFormat, PackedStructureWithCaseVarlengthOptparAndVarpar) {
  const TModeFileImage image = CompiledModes(kVariants);
  const std::string& mod = image.Files.at(".mod");
  // state 10, ie_names 11, rec 12 with 12 components (13-24), then the
  // anonymous array of "data" at 25.
  ASSERT_EQ(mod.size(), 26 * kRecord);
  EXPECT_EQ(image.Files.at(".sem"), Le16(6) + Le16(17) + std::string("\x04IDLE\x04" "BUSY\x00\x00\x00\x03OUT", 17));
  EXPECT_EQ(U32(mod, 10, 2), 3u);  // 6 elements: 3 bits

  // The header: packed with "Pack", 64 bits.
  EXPECT_EQ(Record(mod, 12), Header(12, {{2, Le32(64)}, {6, Short40("REC")}, {51, std::string("\x0A\x00\x00\x01", 4)}}));

  struct TExpect {
    const char* Name;
    std::uint32_t Size, Byte, Bit, Kind, Selector, Label, Flags;
  };
  const TExpect expected[] = {
      {"TAG", 3, 0, 0, 8, 0xFFFFFFFF, 0, 0},   {"FLAG", 1, 0, 3, 3, 0xFFFFFFFF, 0, 0},
      {"COUNT", 4, 0, 4, 2, 13, 1, 0},         {"A", 2, 0, 4, 2, 13, 0, 0},
      {"B", 6, 0, 6, 2, 13, 0, 0},             {"A", 2, 0, 4, 2, 13, 5, 0},
      {"B", 6, 0, 6, 2, 13, 5, 0},             {"REST", 8, 0, 4, 12, 13, 0, 1},
      {"LEN", 4, 1, 4, 2, 0xFFFFFFFF, 0, 0},   {"DATA", 32, 2, 0, 11, 21, 0xFFFE, 16},
      {"OPT", 8, 6, 0, 14, 0xFFFFFFFF, 0, 4},  {"VAR", 12, 7, 0, 12, 0xFFFFFFFF, 0, 10},
  };
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    const std::size_t rec = 13 + i;
    const TExpect& e = expected[i];
    SCOPED_TRACE(e.Name);
    EXPECT_EQ(Name(mod, rec, 6), e.Name);
    // Mode number, size, byte, bit, kind, selector, label and flags at their offsets.
    EXPECT_EQ((std::vector<std::uint32_t>{U16(mod, rec, 0), U32(mod, rec, 47), U16(mod, rec, 51),
                                          U8(mod, rec, 53), U8(mod, rec, 99), U32(mod, rec, 101),
                                          U16(mod, rec, 105), U16(mod, rec, 107)}),
              (std::vector<std::uint32_t>{12, e.Size, e.Byte, e.Bit, e.Kind, e.Selector, e.Label, e.Flags}));
  }
  // What the components point at: the set's block in .sem, nowhere for an
  // elementary kind, the anonymous array, the range; var has its own pack
  // flag (RevPack by flag bit 1), data inherits.
  EXPECT_EQ(Name(mod, 13, 54) + " " + Name(mod, 22, 54) + " " + Name(mod, 23, 54), "STATE DATA IE_NAMES");
  EXPECT_EQ((std::vector{U32(mod, 13, 95), U32(mod, 14, 95), U32(mod, 22, 95), U32(mod, 23, 95), U8(mod, 24, 100),
                         U8(mod, 22, 100)}),
            (std::vector<std::uint32_t>{0, 0xFFFFFFFFu, 25, 11, 1, 0}));
  // The anonymous array: 4 CHARs, unpacked.
  EXPECT_EQ(Record(mod, 25), Header(13, {{2, Le32(32)}, {6, Short40("DATA")}, {51, "\x0B\x0D\x0D"},
                                         {63, Le16(0) + Le16(3) + Le32(-1)}, {87, Le32(8)}}));
  // Anonymous modes are not in the name files.
  EXPECT_EQ(image.Files.at(".mna"), NameEntry("IE_NAMES", 11) + NameEntry("REC", 12));
  EXPECT_EQ(image.Files.at(".syn"), SynBytes("BEARER", "IE_NAMES", 4, 1) + SynBytes("CAUSE", "IE_NAMES", 8, -1));
}

const char* const kArrays = R"(
NEWMODE colour = SET (red, green, blue);
NEWMODE cause = RANGE (0:127) CONSTANTS (normal = 16, busy = 17);
NEWMODE shade = colour (green:blue);
NEWMODE pixel = STRUCT (c colour, level BIT(4));
NEWMODE sel = RANGE (1:2) CONSTANTS (first = 1, second = 2);
NEWMODE grid = ARRAY (colour, 1:2, sel) pixel;
NEWMODE bits = PACK ARRAY (0:9) BIT(3);
NEWMODE alias_colour = colour;
NEWMODE alias_cause = cause;
NEWMODE alias_pixel = pixel;
NEWMODE link = REF pixel;
NEWMODE odd = INT WITH (kind = 5, spare = "\x01\x02", flags = 8000H, dim2index = odd);
DSS1 MESSAGETYPES = cause;
DSS1 CODESET 5 = sel;
DSS1 IECONTENTS WITH (kind = 10, reference = 77);
MESSAGE 0 = SPECIAL 5;
MESSAGE 1 = DSS1;
MESSAGE 3 = SPECIAL 3;
MESSAGE 4 = -123;
USERBUFFER 2 = SPECIAL 4;
USERBUFFER 3 = HEXDUMP;
MBID 0 = (7, 1234);
MBID 2 = HEXDUMP;
MBID 3 = pixel;
)";

TEST(CompilerFormat, ArraysAliasesReferencesOverridesAndSpecialEntries) {
  const TModeFileImage image = CompiledModes(kArrays);
  const std::string& mod = image.Files.at(".mod");
  // Records: colour 10, cause 11, shade 12, pixel 13 (+14, 15), sel 16, grid 17,
  // bits 18, alias_colour 19, alias_cause 20, alias_pixel 21, link 22, odd 23.
  // Mode numbers count headers only: sel has 14, grid 15, ... odd 21.
  ASSERT_EQ(mod.size(), 24 * kRecord);

  // A range over a set: the set's block and element values 1..2.
  EXPECT_EQ(Record(mod, 12), Header(12, {{2, Le32(2)}, {6, Short40("SHADE")}, {47, Le32(0)}, {51, "\x09\x08"},
                                         {55, Le16(1) + Le16(2)}}));
  // Not packed: c takes byte 0, level byte 1.
  EXPECT_EQ(U32(mod, 13, 2), 16u);
  EXPECT_EQ(U16(mod, 15, 51), 1u);
  // Three dimensions: a set index, a plain index and a constant index.
  EXPECT_EQ(Record(mod, 17), Header(15, {{2, Le32(12 * 16)}, {6, Short40("GRID")}, {47, Le32(13)}, {51, "\x0B\x01\x0A"},
                                         {63, Le16(0) + Le16(2) + Le32(0)}, {71, Le16(1) + Le16(2) + Le32(-1)},
                                         {79, Le16(1) + Le16(2) + Le32(2)}, {87, Le32(16)}, {91, Le16(4)}}));
  // Packed: ten 3-bit elements in 30 bits.
  EXPECT_EQ(Record(mod, 18), Header(16, {{2, Le32(30)}, {6, Short40("BITS")}, {51, std::string("\x0B\x02\x02\x01", 4)},
                                         {63, Le16(0) + Le16(9) + Le32(-1)}, {87, Le32(3)}}));
  // Aliases: to a set (its block), to a range over constants (base RANGE,
  // flag bit 3, the chain and bounds), to a structure.
  EXPECT_EQ(Record(mod, 19), Header(17, {{2, Le32(2)}, {6, Short40("ALIAS_COLOUR")}, {47, Le32(0)}, {51, "\x01\x08"}}));
  EXPECT_EQ(Record(mod, 20), Header(18, {{2, Le32(7)}, {6, Short40("ALIAS_CAUSE")}, {47, Le32(11)}, {51, "\x01\x09"},
                                         {55, Le16(0) + Le16(127)}, {59, Le32(0)}, {91, Le16(8)}}));
  EXPECT_EQ(Record(mod, 21), Header(19, {{2, Le32(16)}, {6, Short40("ALIAS_PIXEL")}, {47, Le32(13)}, {51, "\x01\x0A"}}));
  EXPECT_EQ(Record(mod, 22), Header(20, {{2, Le32(32)}, {6, Short40("LINK")}, {47, Le32(13)}, {51, "\x07\x0A"}}));
  // WITH sets the fields it names and nothing else.
  EXPECT_EQ(Record(mod, 23), Header(21, {{2, Le32(16)}, {6, Short40("ODD")}, {51, "\x05"}, {75, Le32(23)},
                                         {91, Le16(0x8000)}, {93, "\x01\x02"}}));
  // DSS1 records: given ones point at their mode.
  EXPECT_EQ(Record(mod, 0), Header(0, {{2, Le32(7)}, {6, Short40("DSS1_MESSAGE_TYPES")}, {47, Le32(11)}, {51, "\x01\x0E"}}));
  EXPECT_EQ(U32(mod, 7, 47), 16u);  // codeset 5 is record 7
  EXPECT_EQ(U8(mod, 7, 52), 14u);
  EXPECT_EQ(Record(mod, 2), Header(2, {{6, Short40("DSS1_IE_CONTENTS")}, {47, Le32(77)}, {51, "\x0A"}}));
  EXPECT_EQ(U32(mod, 6, 47), 0xFFFFFFFFu);  // codeset 4 is not given

  EXPECT_EQ(image.Files.at(".msg"), Le32(-6) + Le32(-3) + Le32(-1) + Le32(-4) + Le32(-123));
  EXPECT_EQ(image.Files.at(".usb"), Le32(-1) + Le32(-1) + Le32(-5) + Le32(-1));
  EXPECT_EQ(image.Files.at(".bid"), "\x07" + Le32(1234) + "\x01" + Le32(-1) + "\x01" + Le32(-1) + "\x01" + Le32(13));
  EXPECT_EQ(image.Files.at(".syn"), SynBytes("NORMAL", "CAUSE", 16, 1) + SynBytes("BUSY", "CAUSE", 17, -1) +
                                        SynBytes("FIRST", "SEL", 1, 3) + SynBytes("SECOND", "SEL", 2, -1));
  EXPECT_EQ(image.Files.at(".sna"), NameEntry("BUSY", 1) + NameEntry("FIRST", 2) + NameEntry("NORMAL", 0) +
                                        NameEntry("SECOND", 3));
}

TEST(CompilerFormat, SetBlocksCanBeGivenAnyCounts) {
  const TModeFileImage image = CompiledModes(R"(
    NEWMODE big = SET (a, b) WITH (count = 65535, tablesize = 200);
    NEWMODE "Mixed Case" = SET (x = 2, "y z");
  )");
  EXPECT_EQ(image.Files.at(".sem"), Le16(65535) + Le16(200) + "\x01" "A\x01" "B" + Le16(4) + Le16(8) +
                                        std::string("\x00\x00\x01X\x03y z", 8));
  EXPECT_EQ(image.Files.at(".sen"), NameEntry("BIG", 0, 48) + NameEntry("Mixed Case", 8, 48));
}
}  // namespace
