// Converting marked screen text: the classification of the first marked
// line, byte and word dumps with their mark checks, each decoding the mode
// name dialog offers, messages with their buffers, MBIDs, information
// elements, mail records, and the conversion file's errors.
#include <gtest/gtest.h>

#include <sstream>

#include "app/session.h"
#include "screen/writer.h"
#include "support/boxes.h"
#include "support/testing.h"
#include "trace/compiler.h"
#include "trace/convert.h"
#include "trace/decoder.h"
#include "trace/mini.h"
#include "trace/decoder_testing.h"
#include "trace/tracefiles.h"

namespace {
const char* const kModes = R"(
VERSION 1.0;
NEWMODE pair   = STRUCT (a INT, b BOOL);
NEWMODE words  = STRUCT (w0 INT, w1 INT, w2 INT, w3 INT, w4 INT);
NEWMODE colour = SET (red, green);
NEWMODE ie_id  = RANGE (0:255) CONSTANTS (cause = 08H, display = 28H);
NEWMODE cause_ie = PACK STRUCT (ext BOOL, coding BIT(2), spare BIT(1), where BIT(4), ext2 BOOL, value BIT(7));
NEWMODE ie_contents = STRUCT (id ie_id, CASE id OF (cause): cause cause_ie; ELSE other BIN(8); ESAC);
DSS1 CODESET 0 = ie_id;
DSS1 IECONTENTS = ie_contents;
MESSAGE 1 = pair;
USERBUFFER 1 = pair;
MBID 7 = HEXDUMP;
KASP MSG 1 = "PAIR_MSG";
)";

using Lines = std::vector<std::string>;

// "text\r\n" for each line.
std::string Joined(const Lines& lines) {
  std::string text;
  for (const std::string& l : lines) text += l + "\r\n";
  return text;
}

class ConvertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = UseModesOnDisk(T, kModes);
    S().Settings.DisplayModeName = "LAST";
    S().StartUp();
  }
  TSession& S() { return *T.S; }

  // Converts the lines, all marked, from a column; answers the mode name dialog with `name`.
  void Convert(TConvertKind kind, const Lines& lines, int firstColumn, std::optional<std::string> name = {},
               int lastColumn = 0) {
    if (name) T.Desktop.ModeNames.push_back(*name);
    TMarkedText area;
    area.Lines = lines;
    area.MarkedLines = lines.size();
    area.FirstColumn = firstColumn;
    area.LastColumn = lastColumn;
    ConvertMarkedArea(S(), kind, area);
  }
  // The text of the one memo shown since the last look.
  std::string Shown() {
    EXPECT_EQ(T.Desktop.Memos.size(), 1u);
    if (T.Desktop.Memos.empty()) return "(nothing shown)";
    EXPECT_EQ(T.Desktop.Memos.back().Title, "Convert a Message into it's mode");
    const std::string text = T.Desktop.Memos.back().Text;
    T.Desktop.Memos.clear();
    return text;
  }

  TTestSession T;
  std::string Dir;
};

const std::string kByteLine = " BYT 0000:0000    34 12 01 00 FF";   // groups from column 19
const std::string kWordLine = " WOR 0000:0000    1234 0001 9999";
const std::string kPairText = Joined({"  A = 1234", "  B = True"});  // either line as PAIR

TEST_F(ConvertTest, ByteDumpThroughAModeName) {
  Convert(ckByteDump, {kByteLine}, 19, "  pair ");
  EXPECT_EQ(T.Desktop.ModeNamesAsked, Lines{"LAST"});
  EXPECT_EQ(S().Settings.DisplayModeName.str(), "PAIR");
  EXPECT_EQ(Shown(), kPairText);
  EXPECT_EQ(ReadFileBytes(Dir + "qel.w##"), kPairText);
  EXPECT_TRUE(T.Desktop.Boxes.empty());
  // The files were opened for the conversion only.
  EXPECT_EQ(TraceSwitches(S()), "off");
}

TEST_F(ConvertTest, MarkStartingOnALaterGroupLeavesTheFirstOut) {
  // Column 22 is the second byte group; the mark ends in the fourth (column
  // 29): neither X is read.
  Convert(ckByteDump, {" BYT 0000:0000    58 48 69 21 58"}, 22, "ASCII", 29);
  EXPECT_EQ(Shown(), "Hi!\r\n");
}

TEST_F(ConvertTest, MarksOffAGroupAsk) {
  // Column 20 is inside the first byte group.
  T.Desktop.Answers.push_back(TMsgResult::Cancel);
  Convert(ckByteDump, {kByteLine}, 20, "PAIR");
  ASSERT_EQ(T.Desktop.Boxes.size(), 1u);
  EXPECT_EQ(T.Desktop.Boxes[0].Box.Text,
            "Your mark didn't start on a Byte. OK to start from the beginning of the Line ?");
  EXPECT_TRUE(T.Desktop.Memos.empty());
  EXPECT_TRUE(T.Desktop.ModeNamesAsked.empty());

  T.Desktop.Answers.push_back(TMsgResult::OK);
  Convert(ckByteDump, {kByteLine}, 3);  // the dialog still holds "PAIR"
  EXPECT_EQ(Shown(), kPairText);
  T.Desktop.Answers.push_back(TMsgResult::OK);
  Convert(ckWordDump, {kWordLine}, 21, "PAIR");
  EXPECT_EQ(T.Desktop.Boxes.back().Box.Text,
            "Your mark didn't start on a Word. OK to start from the beginning of the Line ?");
  EXPECT_EQ(Shown(), kPairText);
}

TEST_F(ConvertTest, WrongLinesAreRefused) {
  Convert(ckMarked, {"just some text"}, 1, "PAIR");
  EXPECT_EQ(BoxTexts(T.Desktop),
            std::vector<std::string>{"Your mark didn't start on a Word or Byte. Please Correct your marked area"});
  EXPECT_EQ(T.Desktop.Beeps, 1);
  // A word conversion of a byte dump.
  Convert(ckWordDump, {kByteLine}, 19, "PAIR");
  EXPECT_EQ(T.Desktop.Boxes.size(), 2u);
  EXPECT_TRUE(T.Desktop.Memos.empty());
  EXPECT_TRUE(T.Desktop.ModeNamesAsked.empty());
}

TEST_F(ConvertTest, WordDumpOverSeveralLinesUpToTheMarkEnd) {
  // The mark ends in the second group of the second line (column 25).
  Convert(ckWordDump, {kWordLine, "some other line", " WOR 0000:0006    5678 0000 7777"}, 19, "words", 25);
  EXPECT_EQ(Shown(), Joined({"  W0 = 1234", "  W1 = 0001", "  W2 = 9999", "  W3 = 5678", "  W4 = 0000"}));
}

TEST_F(ConvertTest, AsciiSetAndUnknownNames) {
  Convert(ckByteDump, {" BYT 0000:0000    48 65 6C 6C 6F"}, 19, "ascii");
  EXPECT_EQ(Shown(), "Hello\r\n");
  Convert(ckByteDump, {" BYT 0000:0000    01"}, 19, "colour");
  EXPECT_EQ(Shown(), "  COLOUR = green\r\n");
  Convert(ckByteDump, {kByteLine}, 19, "nothing");
  EXPECT_EQ(BoxTexts(T.Desktop), std::vector<std::string>{"Mode Name not found !"});
  EXPECT_TRUE(T.Desktop.Memos.empty());

  // Cancelled dialog: nothing shown, the last name kept.
  Convert(ckByteDump, {kByteLine}, 19);
  EXPECT_TRUE(T.Desktop.Memos.empty());
  EXPECT_EQ(S().Settings.DisplayModeName.str(), "NOTHING");
}

TEST_F(ConvertTest, MiniDumpIsReadAsMiniRecords) {
  Convert(ckMarked, {" WOR 1F00:0100    FFF5 0C22 3807 0001 2345 0102 0000 0000"}, 19, "MINI");
  EXPECT_EQ(Shown(), Joined({" TIME  121Ns resolution 12:34:56:7       00012345 MS    002 US", ""}));
  // The receive path's MINI trace was not touched.
  EXPECT_FALSE(S().Mini->WantsCharacters());
}

TEST_F(ConvertTest, MessageListUnderItsHeading) {
  // One entry: identity 1, PIDs 00120034 and 00560078, length 05 routing 10,
  // type 28 flags 00, no path, pointer 10000200, no user buffer; then its 5 bytes.
  const std::string line = " BYT 0000:0000    01 00 34 00 12 00 78 00 56 00 05 10 28 00 FF FF 00 02 00 10 FF FF 00 00";
  const std::string data = " BYT 0000:0018    34 12 01 00 00";
  Convert(ckMarked, {line, data}, 19, "MSG");
  EXPECT_EQ(Shown(), Joined({" MSG  NAME       SRC_PID   DST_PID  LLRA PTFF PATH  BUF_PTR  SIZE",
                             "00001 PAIR_MSG   00120034  00560078 0510 2800 ....  10000200  ....", "  A = 1234",
                             "  B = True"}));
}

TEST_F(ConvertTest, MessageHeaderWithItsBuffers) {
  const std::string header =
      "0001_PAIR       0000_0012 0000_0034 0B10 2800 .... ....:.... 0003 SND 12:34:56:7";
  ASSERT_EQ(header.substr(66, 3), "SND");
  Convert(ckMarked, {header, " DATA = 34 12 01", " UBUF = 78 56 00 99", " not part of it", " UBUF = 11"}, 1);
  EXPECT_EQ(Shown(), Joined({"MSG00001 PAIR_MSG  ", "  A = 1234", "  B = True", "** Userbuffer **", "  A = 5678",
                             "  B = False"}));
}

TEST_F(ConvertTest, MbidAndInformationElement) {
  Convert(ckMarked, {"MBID_0007_ = 0A 0B"}, 1);
  const std::string mbid = Shown();
  EXPECT_EQ(mbid.substr(0, mbid.find("\r\n")), "MBID_0007_");
  // An identifier that a table does not name shows as 4 hex digits.
  const std::string cause = Joined({"      EXT = True", "      CODING = 0", "      SPARE = 0", "      WHERE = 0",
                                    "      EXT2 = True", "      VALUE = 10"});
  Convert(ckMarked, {"    IE = CAUSE", "      IE_DATA = 80 90"}, 5);
  EXPECT_EQ(Shown(), "  IE = CAUSE\r\n" + cause);
  Convert(ckMarked, {"    IE = 0008", "      IE_DATA = 80 90"}, 5);
  EXPECT_EQ(Shown(), "  IE = 0008\r\n" + cause);
  // An IE without contents of its own is shown in hex.
  Convert(ckMarked, {"    IE = DISPLAY", "      IE_DATA = 41 42"}, 5);
  EXPECT_EQ(Shown(), Joined({"  IE = DISPLAY", "    IE_DATA = 41 42"}));
}

TEST_F(ConvertTest, MailRecords) {
  Convert(ckMarked, {"MAIL 0001 0002 0003", "  = 01 02 03", "MAIL 0004"}, 1);
  EXPECT_EQ(Shown(), Joined({"MAIL  OBCI  ADDR  TASK  SND   TASK  RCV   LEN                         TIME",
                             "MAIL 0001 0002 0003", "    MAIL_DATA = 01 02 03", "MAIL 0004"}));
}

TEST_F(ConvertTest, LiveMessageBeingCollectedGoesOnAfterAConversion) {
  // Message 1 (PAIR, 5 bytes) has its header and two bytes in when the user
  // converts a dump; the three bytes after it must still complete it.
  S().TraceFiles->TraceOn();
  std::ostringstream live;
  S().Writer->Redirect = &live;
  const std::string header =
      "0001_PAIR       0000_0012 0000_0034 0510 2800 .... ....:.... ....  S  12:34:56:7";
  PushBytes(S(), header + "\r\n DATA = 34 12\r\n");
  Convert(ckByteDump, {" BYT 0000:0000    78 56 00"}, 19, "PAIR");
  EXPECT_EQ(Shown(), Joined({"  A = 5678", "  B = False"}));
  EXPECT_EQ(S().Writer->Redirect, &live);
  live.str("");
  PushBytes(S(), " DATA = 01 00 00\r\n");
  EXPECT_EQ(live.str(), kPairText);
}

TEST_F(ConvertTest, StateIsPutBackAndFileErrorsReported) {
  S().TraceFiles->TraceOn();
  S().Trace->SetTriggerEnabled(true);
  Convert(ckByteDump, {kByteLine}, 19, "PAIR");
  EXPECT_EQ(Shown(), kPairText);
  EXPECT_EQ(TraceSwitches(S()), "converting files names");
  EXPECT_TRUE(S().Trace->TriggerEnabled);

  S().ProgramDirectory = Dir + "missing/";
  Convert(ckByteDump, {kByteLine}, 19, "PAIR");
  ASSERT_EQ(T.Desktop.Boxes.size(), 1u);
  EXPECT_EQ(T.Desktop.Boxes[0].Box.Text.substr(0, 33), "File access error. File = Qel.w##");
  EXPECT_TRUE(T.Desktop.Memos.empty());
  EXPECT_EQ(S().Writer->Redirect, nullptr);
}
TEST_F(ConvertTest, TheBreakKeyEndsALongConversionAtTheNextLine) {
  // 10,000 marked mail records; the user breaks off once a hundred are done.
  Lines marked;
  for (int i = 0; i < 10000; ++i) marked.push_back("MAIL " + std::to_string(10000 + i));
  int shownAtBreak = -1;
  S().Trace->OnCommandProgress = [&] {
    const TTraceDecoder::TCommandProgress& c = S().Trace->Command;
    if (c.Running && c.Position >= 100 && shownAtBreak < 0) {
      shownAtBreak = c.Percent();
      S().Trace->AbortRequested = true;
      // A second conversion asked for meanwhile does not start.
      Convert(ckMarked, {"MAIL 0001"}, 1);
    }
  };
  Convert(ckMarked, marked, 1);
  EXPECT_EQ(shownAtBreak, 1);
  Lines expected{kMailHeading};
  for (int i = 0; i < 100; ++i) expected.push_back("MAIL " + std::to_string(10000 + i));
  EXPECT_EQ(Shown(), Joined(expected));
  EXPECT_FALSE(S().Trace->Command.Running);
  EXPECT_FALSE(S().Trace->AbortRequested);
}

TEST_F(ConvertTest, ABrokenOffDumpIsNotDecoded) {
  Lines dump(500, kByteLine);
  S().Trace->OnCommandProgress = [&] {
    if (S().Trace->Command.Running && S().Trace->Command.Position >= 10) S().Trace->AbortRequested = true;
  };
  Convert(ckByteDump, dump, 19, "PAIR");
  EXPECT_TRUE(T.Desktop.Memos.empty());
  EXPECT_TRUE(T.Desktop.ModeNamesAsked.empty());  // no mode name asked for what will not be decoded
}
}  // namespace
