// The bundled demo: the sample vocabulary carries the standard ISDN codes,
// and the sample traces decode with every record kind they are meant to show.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "screen/writer.h"
#include "trace/decoder_testing.h"
#include "trace/mini.h"

namespace {
std::string Sample(const std::string& name) { return ReadFileBytes(std::string(QEL_TEST_DATA) + "/../samples/" + name); }

TEST(Samples, DssOneVocabularyUsesTheStandardCodes) {
  const TModeFileImage image = CompiledModes(Sample("exchange.mode"));
  TRecordingReporter reporter;
  const auto files = OpenMemory(image.Files, reporter);
  ASSERT_NE(files, nullptr);
  const std::pair<const char*, int> codes[] = {
      {"ALERTING", 0x01}, {"CALL_PROCEEDING", 0x02}, {"SETUP", 0x05}, {"CONNECT", 0x07},
      {"CONNECT_ACKNOWLEDGE", 0x0F}, {"DISCONNECT", 0x45}, {"RELEASE", 0x4D}, {"RELEASE_COMPLETE", 0x5A},
      {"STATUS_ENQUIRY", 0x75}, {"INFORMATION", 0x7B}, {"STATUS", 0x7D},
      {"BEARER_CAPABILITY", 0x04}, {"CAUSE", 0x08}, {"CHANNEL_IDENTIFICATION", 0x18}, {"FACILITY_IE", 0x1C},
      {"PROGRESS_INDICATOR", 0x1E}, {"DISPLAY", 0x28}, {"CALLING_PARTY_NUMBER", 0x6C},
      {"CALLED_PARTY_NUMBER", 0x70}, {"SHIFT", 0x90}, {"SENDING_COMPLETE", 0xA1}, {"CONGESTION_LEVEL", 0xB0},
      {"NORMAL_CLEARING", 16}, {"USER_BUSY", 17}, {"NO_ANSWER", 19}, {"NO_CIRCUIT_AVAILABLE", 34},
  };
  for (const auto& [name, value] : codes) {
    const TSynLookup syn = files->LookupSynByName(name);
    EXPECT_TRUE(syn.Found) << name;
    EXPECT_EQ(syn.Value, value) << name;
  }
  // The four DSS1 tables the walk needs are provided.
  for (int record : {0, 1, 2, 8}) {
    TModeRecord r;
    ASSERT_TRUE(files->ReadModeRecord(record, r).ok());
    EXPECT_NE(r.Header().Reference, -1) << record;
  }
  EXPECT_TRUE(image.Kasp.count("KASP.MSG"));
}

// The sample trace through a session with trace conversion on.
class SampleTraceTest : public ::testing::Test {
 protected:
  std::vector<std::string> Decode(const std::string& trace, bool mini) {
    TTestSession t;
    UseModesOnDisk(t, Sample("exchange.mode"));
    TSession& s = *t.S;
    s.Settings.DisplayMsgHeader = 1;
    s.StartUp();
    std::ostringstream out;
    s.Writer->Redirect = &out;
    s.TraceFiles->TraceOn();
    EXPECT_EQ(s.Trace->TraceState, TTraceDecoder::tsConverting);
    if (mini) s.Mini->MiniTraceOn();
    const std::string text = Sample(trace);
    s.ReceiveBytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    s.Trace->EndOfInput();
    EXPECT_TRUE(t.Desktop.Boxes.empty());
    return SplitLines(out.str());
  }
  static bool Has(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  static bool HasPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
  }
};

TEST_F(SampleTraceTest, MiniTraceShowsEveryRecordType) {
  const auto lines = Decode("mini.trace", true);
  // The records the sample is meant to show; the labels are tested one by one elsewhere.
  for (const char* expected : {
           " TIME  121Ns resolution 09:15:04:2       000186A0 MS    120 US",
           "   SEND BY NA = H'0471 EXTERNAL",
           " SEND PACKET ON PCM LINK 0 ",
           "Message identity       = 00010 CALL_REQ  ",
           "  ROUTE(called) = 0456",
           "Message identity       = 00030 MBID_DATA ",
           " DUMP AREA ",
       }) {
    EXPECT_TRUE(Has(lines, expected)) << expected;
  }
  EXPECT_TRUE(HasPrefix(lines, "     VMI_00017_TRUNK_SUPERVISOR"));
  EXPECT_FALSE(HasPrefix(lines, " WOR "));  // every MINI line was a record or part of one
}

TEST_F(SampleTraceTest, MessageTraceShowsEveryLineKind) {
  const auto lines = Decode("exchange.trace", false);
  for (const char* expected : {
           "Message identity       = 10_CALLREQ      ",
           "Message buffer size    = 001C",
           "  LINES(talking) = 0004",
           "Message identity       = 11_TRUNKREP     ",
           "Message path           = 0003",
           "  LOAD(00001,00002) = 1F",
           "Message identity       = 12_ALARM        ",
           "   DATA = 60 61 62 63 64 65 66 67 68 69 6A 6B 6C 6D 6E 6F",
           "  MSG TYPE      = 0005(SETUP)",
           "    IE = 0070(CALLED_PARTY_NUMBER)",
           "      New CodeSet   = 06",
           "    IE = 0002(CHARGING_ADVICE)",
           "      LEVEL = receiver_not_ready",
           "        VALUE = 0010(NORMAL_CLEARING)",
           // Octet 3a of the calling number is there (octet 3's extension bit is 0).
           "      SCREENING = 0",
           "      DIGITS_3A(00007) = 5",
           "        L1_PROTOCOL = 0003(G711_A_LAW)",
           "MBID_END",
           "Message identity       = 99_UNKNOWN      ",
           " BYT 1000:0200    07 00 35 35 35 31 32 33 34 00 00 00 00 00",
       }) {
    EXPECT_TRUE(Has(lines, expected)) << expected;
  }
  // The ALARM user buffer is announced with 48 bytes and cut at 32.
  EXPECT_FALSE(HasPrefix(lines, "   DATA = 70"));
  EXPECT_FALSE(HasPrefix(lines, "*** UNDEFINED"));
}
}  // namespace
