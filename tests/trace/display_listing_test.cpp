// The Display Mode listing of every kind of mode, set and constant. Expected
// lines are worked out by hand from the source below: positions from the
// layout rules (unpacked components start on a byte, variants share their
// CASE's start), texts from the listing rules.
#include <gtest/gtest.h>

#include <cstdio>

#include "trace/compiler.h"
#include "trace/listing.h"
#include "trace/modefile_testing.h"

namespace {
const char* const kSource = R"(
VERSION 1.0;
NEWMODE colour = SET (red, green, *, blue);
NEWMODE level  = RANGE (0:3) CONSTANTS (low = 0, high = 3);
NEWMODE small  = RANGE (1:9);
NEWMODE hue    = colour (green:blue);
NEWMODE word   = INT;
NEWMODE f12    = PACK BIT(12);
NEWMODE yes    = BOOL;
NEWMODE raw    = BIN(16);
NEWMODE letter = CHAR;
NEWMODE where  = PTR;
NEWMODE more   = EXTENTIONBIT;
NEWMODE shade  = colour;
NEWMODE lvl2   = level;
NEWMODE pair   = STRUCT (a INT, b BOOL);
NEWMODE rec = STRUCT (
  kind colour,
  p    pair,
  CASE kind OF
    (red):   x INT;
    (green): y small, z level;
    ELSE     w CHAR;
  ESAC,
  n INT,
  d ARRAY (0:2) CHAR VARLENGTH (n - 2),
  v pair VARPAR,
  o level OPTPAR,
  f PACK BIT(12)
);
NEWMODE flags = PACK STRUCT (a BIT(3), b BOOL, c REVPACK BIT(5), d pair);
NEWMODE grid  = ARRAY (colour (green:blue), 1:2) BOOL;
NEWMODE byname = ARRAY (level) INT;
NEWMODE bits  = PACK ARRAY (0:2) BIT(2);
NEWMODE pairs = ARRAY (0:1) pair;
NEWMODE n11 = STRUCT (z INT);
NEWMODE n10 = STRUCT (y n11);
NEWMODE n9 = STRUCT (y n10);
NEWMODE n8 = STRUCT (y n9);
NEWMODE n7 = STRUCT (y n8);
NEWMODE n6 = STRUCT (y n7);
NEWMODE n5 = STRUCT (y n6);
NEWMODE n4 = STRUCT (y n5);
NEWMODE n3 = STRUCT (y n4);
NEWMODE n2 = STRUCT (y n3);
NEWMODE n1 = STRUCT (y n2);
NEWMODE n0 = STRUCT (y n1);
NEWMODE huge = PACK ARRAY (0:65535, 0:4095) BIT(1);
SYN max_len word = 32;
)";

class TCollect final : public TListingOutput {
 public:
  void Line(std::string_view text) override { Lines.emplace_back(text); }
  void Message(const std::string& text) override { Messages.push_back(text); }

  std::vector<std::string> Lines;
  std::vector<std::string> Messages;
};

class ListingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Image = CompiledModes(kSource);
    Files = OpenMemory(Image.Files, Reporter);
    ASSERT_NE(Files, nullptr);
  }

  std::vector<std::string> List(const std::string& name, bool convertSetElements = true) {
    Out = TCollect();
    TModeLister lister(*Files, Out, convertSetElements);
    EXPECT_TRUE(lister.ListName(name)) << name;
    return Out.Lines;
  }

  TModeFileImage Image;
  TRecordingReporter Reporter;
  std::unique_ptr<TTraceFileSet> Files;
  TCollect Out;
};

using Lines = std::vector<std::string>;

TEST_F(ListingTest, ElementaryHeadersCompleteTheFirstLine) {
  EXPECT_EQ(List("WORD"), Lines{"WORD = INT"});
  EXPECT_EQ(List("F12"), Lines{"F12 = BIT(0000000012) PACK"});
  EXPECT_EQ(List("YES"), Lines{"YES = Boolean"});
  EXPECT_EQ(List("RAW"), Lines{"RAW = BIN(0000000016)"});
  EXPECT_EQ(List("LETTER"), Lines{"LETTER = CHAR"});
  EXPECT_EQ(List("WHERE"), Lines{"WHERE = PTR"});
  // EXTENTIONBIT is a component kind only; as a header it is undefined.
  EXPECT_EQ(List("MORE"), Lines{"MORE  *** UNDEFINED = 0F"});
  EXPECT_TRUE(Out.Messages.empty());
  EXPECT_TRUE(Reporter.Errors.empty());
}

TEST_F(ListingTest, RangesShowTheirBoundsByKind) {
  EXPECT_EQ(List("SMALL"), Lines{"SMALL = RANGE (0001:0009)"});
  EXPECT_EQ(List("HUE"), Lines{"HUE = RANGE (green:blue)"});
  // Without set element conversion the bounds are hex.
  EXPECT_EQ(List("HUE", false), Lines{"HUE = RANGE (01:03)"});
  EXPECT_EQ(List("LEVEL"), (Lines{"LEVEL = RANGE (0000(LOW):0003(HIGH))", "    0000 LOW", "    0003 HIGH"}));
}

TEST_F(ListingTest, SetsConstantsAndAliases) {
  EXPECT_EQ(List("COLOUR"), (Lines{"COLOUR = SET ", "  0000 RED", "  0001 GREEN", "  0002 ", "  0003 BLUE"}));
  EXPECT_EQ(List("MAX_LEN"), Lines{"MAX_LEN = WORD (00032)"});
  EXPECT_EQ(List("HIGH"), Lines{"HIGH = LEVEL (00003)"});
  EXPECT_EQ(List("SHADE"),
            (Lines{"SHADE", "    SHADE    SET", "      0000 RED", "      0001 GREEN", "      0002 ", "      0003 BLUE"}));
  // An alias lists the mode it names one level deeper.
  EXPECT_EQ(List("LVL2"), (Lines{"LVL2    LEVEL = RANGE (0000(LOW):0003(HIGH))", "      0000 LOW", "      0003 HIGH"}));
}

TEST_F(ListingTest, StructureWithCaseVarLengthVarParOptPar) {
  const Lines expected = {
      "REC",
      "  0000@0 000002 KIND    COLOUR = SET ",
      "    0000 RED",
      "    0001 GREEN",
      "    0002 ",
      "    0003 BLUE",
      "  0001@0 000024 P    PAIR ",
      "    0001@0 000016 A     = INT ",
      "    0003@0 000001 B     = BOOL ",
      "  CASE KIND OF (red)",
      "    0004@0 000016 X     = INT ",
      "  CASE KIND OF (green)",
      "    0004@0 000004 Y     = RANGE  = RANGE (00001:00009)",
      "    0005@0 000002 Z     = RANGE  = RANGE (0000(LOW):0003(HIGH))",
      "        0000 LOW",
      "        0003 HIGH",
      "  CASE KIND OF (ELSE)",
      "    0004@0 000008 W     = CHAR ",
      "  0006@0 000016 N     = INT ",
      "  0008@0 000024 D     = ARRAY VARLENGTH ( N - 00002 )",
      "    0008@0 000008 (00000)     = CHAR ",
      "    0009@0 000008 (00001)     = CHAR ",
      "    000A@0 000008 (00002)     = CHAR ",
      "  000B@0 000024 V    PAIR  VARPAR ",
      "    000B@0 000016 A     = INT ",
      "    000D@0 000001 B     = BOOL ",
      "  000C@0 000002 O     = RANGE  OPTPAR  = RANGE (0000(LOW):0003(HIGH))",
      "      0000 LOW",
      "      0003 HIGH",
      "  000D@0 000012 F     = BIT Pack",
  };
  EXPECT_EQ(List("REC"), expected);
  EXPECT_TRUE(Out.Messages.empty());
}

TEST_F(ListingTest, PackedStructureCarriesBitsIntoNestedPositions) {
  const Lines expected = {
      "FLAGS PACK",
      "  0000@0 000003 A     = BIT ",
      "  0000@3 000001 B     = BOOL ",
      "  0000@4 000005 C     = BIT RevPack",
      "  0001@1 000024 D    PAIR ",
      "    0001@1 000016 A     = INT ",
      "    0003@1 000001 B     = BOOL ",
  };
  EXPECT_EQ(List("FLAGS"), expected);
}

TEST_F(ListingTest, ArraysIndexBySetConstantsAndNumbers) {
  // Dimension 2 is shown because its bounds differ; the unnamed set value
  // prints as hex and a space.
  EXPECT_EQ(List("GRID"), (Lines{
                              "GRID = ARRAY",
                              "  0000@0 000001 (green,00001)     = BOOL ",
                              "  0001@0 000001 (green,00002)     = BOOL ",
                              "  0002@0 000001 (02 ,00001)     = BOOL ",
                              "  0003@0 000001 (02 ,00002)     = BOOL ",
                              "  0004@0 000001 (blue,00001)     = BOOL ",
                              "  0005@0 000001 (blue,00002)     = BOOL ",
                          }));
  EXPECT_EQ(List("BYNAME"), (Lines{
                                "BYNAME = ARRAY",
                                "  0000@0 000016 (0000(LOW))     = INT ",
                                "  0002@0 000016 (0001)     = INT ",
                                "  0004@0 000016 (0002)     = INT ",
                                "  0006@0 000016 (0003(HIGH))     = INT ",
                            }));
  // Packed elements step by their size, unpacked ones by the stride (24 -> 32 bits).
  EXPECT_EQ(List("BITS"), (Lines{
                              "BITS = ARRAY PACK",
                              "  0000@0 000002 (00000)     = BIT ",
                              "  0000@2 000002 (00001)     = BIT ",
                              "  0000@4 000002 (00002)     = BIT ",
                          }));
  EXPECT_EQ(List("PAIRS"), (Lines{
                               "PAIRS = ARRAY",
                               "  0000@0 000024 (00000)    PAIR ",
                               "    0000@0 000016 A     = INT ",
                               "    0002@0 000001 B     = BOOL ",
                               "  0004@0 000024 (00001)    PAIR ",
                               "    0004@0 000016 A     = INT ",
                               "    0006@0 000001 B     = BOOL ",
                           }));
}

TEST_F(ListingTest, NestingStopsAfterTenLevels) {
  const Lines lines = List("N0");
  ASSERT_EQ(lines.size(), 11u);
  EXPECT_EQ(lines[0], "N0");
  EXPECT_EQ(lines[1], "  0000@0 000016 Y    N1 ");
  // Level 9's component is the last line written; level 10 would hold N11's Z.
  EXPECT_EQ(lines[10], std::string(20, ' ') + "0000@0 000016 Y    N10 ");
}

// A break-off (Stop) ends a listing as Display Mode's break-key test shows.
TEST_F(ListingTest, HugeArraysAreCutOff) {
  TCollect out;
  TModeLister lister(*Files, out, true);
  lister.SetLimits(5, 100);
  ASSERT_TRUE(lister.ListName("HUGE"));
  ASSERT_EQ(out.Lines.size(), 6u);
  EXPECT_EQ(out.Lines[4], "  0000@3 000001 (00000,00003)     = BIT ");
  EXPECT_EQ(out.Lines[5], TModeLister::kTruncatedLine);
  EXPECT_TRUE(lister.CutOff());
  EXPECT_FALSE(lister.BrokenOff());
}

TEST_F(ListingTest, UnreadableRecordsAreReported) {
  TCollect out;
  TModeLister lister(*Files, out, true);
  lister.ListMode(0x12345, 0, 0, 0, "X", pmNone, 0);
  EXPECT_TRUE(out.Lines.empty());
  EXPECT_EQ(out.Messages, Lines{"Unable to read in the mode file. Mode index =00012345"});

  // .mod cut in the middle of PAIR's second component: the first is listed,
  // then the record that could not be read is named.
  const std::int32_t pair = Image.ModeIndex.at("PAIR");
  auto files = Image.Files;
  files[".mod"].resize(static_cast<std::size_t>(pair + 2) * kModeRecordSize + 50);
  TRecordingReporter reporter;
  auto cut = OpenMemory(files, reporter);
  ASSERT_NE(cut, nullptr);
  TCollect partial;
  TModeLister lister2(*cut, partial, true);
  ASSERT_TRUE(lister2.ListName("PAIR"));
  EXPECT_EQ(partial.Lines, (Lines{"PAIR", "  0000@0 000016 A     = INT "}));
  char index[9];
  std::snprintf(index, sizeof index, "%08X", static_cast<unsigned>(pair + 2));
  EXPECT_EQ(partial.Messages, Lines{std::string("Unable to read in the mode file. File Index =") + index});
}
}  // namespace
