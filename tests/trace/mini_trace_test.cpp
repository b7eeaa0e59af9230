// The MINI trace through the receive path: message records of four lines
// and longer, and switching the trace on and off (the record types are the
// golden cases of golden/mini.golden). Expected lines are worked out by hand
// from the record layouts.
#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

#include "screen/store.h"
#include "trace/decoder_testing.h"
#include "trace/mini.h"

namespace {
const char* const kModes = R"(
VERSION 1.0;
NEWMODE pair = STRUCT (a INT, b BOOL);
MESSAGE 1 = pair;
MESSAGE 2 = HEXDUMP;
USERBUFFER 1 = pair;
KASP MSG 1 = "PAIR_MSG";
)";

// A MINI line: the address field and the words from column 19.
std::string Mini(const std::string& words) { return " WOR 1F00:0100    " + words + "\r\n"; }

using Lines = std::vector<std::string>;

// Trace conversion and the MINI trace on, after a time stamp.
class MiniMessageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UseModesOnDisk(T, kModes);
    TSession& s = *T.S;
    s.Settings.DisplayMsgHeader = 1;
    s.StartUp();
    s.Writer->Redirect = &Out;
    s.TraceFiles->TraceOn();
    ASSERT_EQ(s.Trace->TraceState, TTraceDecoder::tsConverting);
    s.Mini->MiniTraceOn();
    Feed(Mini("FFF5 0C22 3807 0001 2345 0102 0000 0000"));
    Take();
  }

  void Feed(const std::string& text) { PushBytes(*T.S, text); }

  // The lines written since the last call.
  Lines Take() {
    const Lines lines = SplitLines(Out.str());
    Out.str("");
    return lines;
  }

  TMiniState State() const { return T.S->Mini->CurrentState(); }

  TTestSession T;
  std::ostringstream Out;

  static Lines Header(const std::string& name, const std::string& direction, const std::string& length,
                      Lines extra = {}) {
    Lines lines = {"Message identity       = " + name,
                   "Message direction      = " + direction,
                   "Message type           = Basic",
                   "Message source         = 0000_0012",
                   "Message destination    = 0000_0034",
                   "Message length         = " + length,
                   "Message routing        = internal",
                   "Message priority       = 2",
                   "Message flags          = 00"};
    lines.insert(lines.end(), extra.begin(), extra.end());
    lines.push_back("Message time           = 12:34:56:70");
    return lines;
  }
  // Message 1 of five bytes sent, A = 1234 and B = True.
  static Lines PairMessage(const std::string& name) {
    Lines lines = Header(name, " S ", "05");
    lines.insert(lines.end(), {"  A = 1234", "  B = True"});
    return lines;
  }
};

// A message trace header of message 1 ("0001_PAIR"), five bytes sent.
const std::string kPairHeader = "0001_PAIR       0000_0012 0000_0034 0510 2800 .... ....:.... ....  S  12:34:56:7";

TEST_F(MiniMessageTest, FourLineRecordIsDecodedThroughItsMode) {
  Feed(Mini("FFF1 0001 0012 0034 1005 2800 FFFF FFFF"));
  EXPECT_EQ(State(), msMessageRecord);
  Feed(Mini("1234 0001 0000 0000 0000 0000 0000 0000") + Mini("0000 0000 0000 0000 0000 0000 0000 0000"));
  EXPECT_TRUE(Take().empty());
  Feed(Mini("0000 0000 0000 0000 0000 0000 0000 0000"));
  EXPECT_EQ(Take(), PairMessage("00001 PAIR_MSG  "));
  EXPECT_EQ(State(), msAfterData);
}

TEST_F(MiniMessageTest, UserBufferFollowsOnTheNextLine) {
  // Length 0B with a user buffer of 3: 11 - 8 = 3 message bytes.
  Feed(Mini("FFF2 0001 0012 0034 100B 2800 0003 FFFF") + Mini("1234 0001 9999 9999 9999 9999 9999 9999") +
       Mini("5678 0000 0000 0000 0000 0000 0000 0000") + Mini("0000 0000 0000 0000 0000 0000 0000 0000"));
  Lines expected = Header("00001 PAIR_MSG  ", " R ", "0B",
                          {"Message buffer pointer = ....:....", "Message buffer size    = 0003"});
  expected.insert(expected.end(), {"  A = 1234", "  B = True", "  A = 5678", "  B = False"});
  EXPECT_EQ(Take(), expected);
}

TEST_F(MiniMessageTest, LongMessageContinuesAfterTheRecord) {
  // Length 0x44 with a path: 66 bytes; the record's three lines hold 48, the
  // rest follows on the lines after it.
  Feed(Mini("FFFF 0002 0012 0034 1044 2800 FFFF 0001") + Mini("0100 0302 0504 0706 0908 0B0A 0D0C 0F0E") +
       Mini("1110 1312 1514 1716 1918 1B1A 1D1C 1F1E") + Mini("2120 2322 2524 2726 2928 2B2A 2D2C 2F2E"));
  Lines expected = Header("00002           ", " D ", "44", {"Message path           = 0001"});
  EXPECT_EQ(Take(), expected);
  EXPECT_EQ(State(), msAfterHeader);
  Feed(Mini("3130 3332 3534 3736 3938 3B3A 3D3C 3F3E") + Mini("4140 0000 0000 0000 0000 0000 0000 0000"));
  EXPECT_EQ(Take(), (Lines{"   DATA = 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F",
                           "   DATA = 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F",
                           "   DATA = 20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 2E 2F",
                           "   DATA = 30 31 32 33 34 35 36 37 38 39 3A 3B 3C 3D 3E 3F", "   DATA = 40 41"}));
  EXPECT_EQ(State(), msAfterData);
}

TEST_F(MiniMessageTest, HeaderRecordTakesAReceivedPacket) {
  Feed(Mini("FFFA 0002 0012 0034 1004 2800 FFFF FFFF"));
  EXPECT_EQ(Take(), (Lines{" RECEIVED PACKET ON LINK 0 ",
                           "         DATA = 02 00 12 00 34 00 04 10 00 28 FF FF FF FF"}));
  Feed(Mini("FFF3 0000 0000 0000 0000 0000 0000 0000"));
  EXPECT_EQ(Take(), Header("00002           ", " R ", "04"));
  EXPECT_EQ(State(), msAfterHeader);
  Feed(Mini("AABB CCDD 0000 0000 0000 0000 0000 0000"));
  EXPECT_EQ(Take(), Lines{"   DATA = BB AA DD CC"});
}

TEST_F(MiniMessageTest, SwitchingOnAgainKeepsARecordInProgress) {
  Feed(Mini("FFF1 0001 0012 0034 1005 2800 FFFF FFFF") + Mini("1234 0001 0000 0000 0000 0000 0000 0000"));
  T.S->Mini->MiniTraceOn();
  EXPECT_EQ(State(), msMessageRecord);
  Feed(Mini("0000 0000 0000 0000 0000 0000 0000 0000") + Mini("0000 0000 0000 0000 0000 0000 0000 0000"));
  const Lines lines = Take();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "  A = 1234");
}

TEST_F(MiniMessageTest, CutShortMessagesStillShowWhatArrived) {
  // A new record ends a message still waiting for words.
  Feed(Mini("FFF1 0002 0012 0034 1040 2800 FFFF FFFF") + Mini("0100 0302 0000 0000 0000 0000 0000 0000") +
       Mini("0000 0000 0000 0000 0000 0000 0000 0000") + Mini("0000 0000 0000 0000 0000 0000 0000 0000"));
  Take();
  EXPECT_EQ(State(), msAfterHeader);
  Feed(Mini("FFF6 0012 FFFF 0000 0000 0000 0000 0000"));
  // 48 of the 64 bytes arrived.
  const std::string zeros = "   DATA = 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";
  EXPECT_EQ(Take(), (Lines{"   DATA = 00 01 02 03 00 00 00 00 00 00 00 00 00 00 00 00", zeros, zeros,
                           "   SEND BY FMMID = H'0012 LOCAL"}));
  // Switching off in the middle of a record decodes what it has.
  Feed(Mini("FFF1 0001 0012 0034 1005 2800 FFFF FFFF") + Mini("1234 0001 0000 0000 0000 0000 0000 0000"));
  T.S->Mini->MiniTraceOff();
  EXPECT_EQ(Take(), PairMessage("00001 PAIR_MSG  "));
}

TEST_F(MiniMessageTest, SwitchedOffMidLineTheDecoderGoesOnWithIt) {
  Feed(kPairHeader.substr(0, 30));
  T.S->Mini->MiniTraceOff();
  EXPECT_TRUE(Take().empty());
  Feed(kPairHeader.substr(30) + "\r\n DATA = 34 12 01 00 00\r\n");
  EXPECT_EQ(Take(), PairMessage("0001_PAIR       "));
}

TEST_F(MiniMessageTest, AMessageTraceHeaderWithoutLengthDoesNotOverrunTheCollection) {
  // A 64-byte MINI message is being collected when a message trace header
  // arrives whose length (00 with a path: 0 - 2) leaves nothing to collect.
  Feed(Mini("FFF1 0002 0012 0034 1040 2800 FFFF FFFF") + Mini("0100 0302 0000 0000 0000 0000 0000 0000") +
       Mini("0000 0000 0000 0000 0000 0000 0000 0000") + Mini("0000 0000 0000 0000 0000 0000 0000 0000"));
  Take();
  ASSERT_EQ(State(), msAfterHeader);
  Feed("0002_DUMP       0000_0012 0000_0034 0010 2800 0001 ....:.... ....  S  12:34:56:7\r\n");
  Take();
  // The next words are all the message has: shown once, as its hex dump.
  Feed(Mini("0504 0706 0000 0000 0000 0000 0000 0000"));
  EXPECT_EQ(Take(), Lines{"   DATA = 04 05 06 07 00 00 00 00 00 00 00 00 00 00 00 00"});
  EXPECT_EQ(State(), msAfterData);
}

TEST(MiniWithoutModes, RawHeaderAndHexDump) {
  // MINI alone: no mode files, so the header is the line as made and the
  // message bytes are dumped.
  TTestSession t;
  UseModesOnDisk(t, kModes);
  t.S->StartUp();
  std::ostringstream out;
  t.S->Writer->Redirect = &out;
  t.S->Mini->MiniTraceOn();
  EXPECT_TRUE(t.S->Kasp->Names.MsgOpen());
  const std::string text = Mini("FFF5 0C22 3807 0001 2345 0102 0000 0000") +
                           Mini("FFF1 0001 0012 0034 1005 2800 FFFF FFFF") +
                           Mini("1234 0001 0000 0000 0000 0000 0000 0000") +
                           Mini("0000 0000 0000 0000 0000 0000 0000 0000") +
                           Mini("0000 0000 0000 0000 0000 0000 0000 0000");
  PushBytes(*t.S, text);
  EXPECT_EQ(out.str(),
            " TIME  121Ns resolution 12:34:56:7       00012345 MS    002 US\r\n\r\n"
            "00001 PAIR_MSG  0000_0012 0000_0034 0510 2800 .... ....:.... ....  S  12:34:56:7\r\n"
            "   DATA = 34 12 01 00 00\r\n");
  t.S->Mini->MiniTraceOff();
  EXPECT_FALSE(t.S->Kasp->Names.MsgOpen());
}

TEST(MiniSwitching, OffLeavesCharactersToTheScreen) {
  TTestSession t;
  t.S->StartUp();
  TMiniTrace& mini = *t.S->Mini;
  // Whether it takes characters, its state and the status bar's MINI field.
  const auto switches = [&] {
    return std::tuple(mini.WantsCharacters(), mini.CurrentState(), t.S->Status.MiniStatus);
  };
  EXPECT_FALSE(mini.WantsCharacters());
  EXPECT_FALSE(mini.MiniTraceReceiveChar('A'));
  mini.MiniTraceOn();
  EXPECT_EQ(switches(), std::tuple(true, msAfterTime, true));
  // While on every character is taken, a held line included.
  EXPECT_TRUE(mini.MiniTraceReceiveChar('x'));
  EXPECT_EQ(t.S->Trace->Line.Text(), "x");
  // Switched off without trace conversion, the part of a line it holds (a
  // prompt, say) goes to the screen rather than being lost.
  mini.MiniTraceOff();
  EXPECT_EQ(switches(), std::tuple(false, msOff, false));
  EXPECT_TRUE(t.S->Trace->Line.Empty());
  // Switching on again starts with an empty line.
  t.S->Trace->Line.Take('y');
  mini.MiniTraceOn();
  EXPECT_TRUE(t.S->Trace->Line.Empty());
  mini.MiniTraceOff();
  PushBytes(*t.S, "hello");
  // Row 1 of the screen, where the cursor stood after start-up.
  EXPECT_EQ(ScreenRow(*t.S, 1), "xhello");
}
}  // namespace
