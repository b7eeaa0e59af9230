// The trace and KASP files of the session and the switches that open them,
// the record cache against the reader, and decoding that must stop.
#include "trace/decoder_testing.h"

#include <map>

#include "support/boxes.h"
#include "trace/hostnames.h"
#include "trace/mini.h"
#include "trace/modecache.h"

namespace {

const char kModes[] = R"(
NEWMODE state = SET (idle, busy, *, blocked);
NEWMODE prio = RANGE (0:3) CONSTANTS (low = 0, high = 2);
NEWMODE counter = INT;
MESSAGE 1 = counter;
KASP MSG 1 = "FIRST";
KASP VMI 2 = "VMI_TWO";
KASP BID 3 = "BID_THREE";
)";

// A session; the modes written to disk as <dir>/modes.* with the KASP files beside them.
struct TraceSwitch : ::testing::Test {
  TTempDir Modes;
  std::string Base = Modes.file("modes");
  TTestSession T;
  TSession& S = *T.S;
  void SetUp() override { WriteModeFiles(kModes, Base, Modes.path().string()); }
  // The settings name the modes and, when ornet, the KASP files' directory.
  void UseModes(bool ornet = true) {
    S.Settings.ModeFileName.assign(Base);
    if (ornet) S.Settings.OrnetDirectoryName.assign(Modes.path().string() + "/");
  }
};
using KaspFiles = TraceSwitch;

TEST_F(TraceSwitch, OnOpensTheFilesAndOffClosesThem) {
  UseModes();
  S.TraceFiles->TraceOn();
  EXPECT_EQ(TraceSwitches(S), "converting files names");
  EXPECT_TRUE(S.Status.TraceStatus);

  S.TraceFiles->TraceOff();
  EXPECT_EQ(TraceSwitches(S), "off");
  EXPECT_FALSE(S.Kasp->Names.MsgOpen());
  EXPECT_FALSE(S.Status.TraceStatus);
  EXPECT_TRUE(T.Desktop.Boxes.empty());
  // The MINI trace keeps the host name files open.
  S.TraceFiles->TraceOn();
  S.Mini->MiniTraceOn();
  S.TraceFiles->TraceOff();
  EXPECT_TRUE(S.Kasp->Names.BidOpen());
}

// From state 1 (host name files only) switching on must open the trace
// files too, or the decoder would run without them.
TEST_F(TraceSwitch, FromHostNameFilesOnly) {
  UseModes(false);
  S.Trace->TraceState = TTraceDecoder::tsHostNames;
  S.TraceFiles->TraceOn();
  EXPECT_EQ(TraceSwitches(S), "converting files");
}

TEST_F(TraceSwitch, FailuresLeaveItOff) {
  S.TraceFiles->TraceOn();  // no mode file name
  EXPECT_EQ(S.Trace->TraceState, TTraceDecoder::tsOff);
  S.Settings.ModeFileName.assign(T.Dir.file("missing"));
  S.TraceFiles->TraceOn();
  EXPECT_EQ(TraceSwitches(S), "off");
  EXPECT_EQ(BoxTexts(T.Desktop),
            (std::vector<std::string>{
                "No trace file specified. Enter the file name in the Configure|Files window",
                "The file =" + T.Dir.file("missing") + ".ver doesn't exist. Correct in the Configure|Files window"}));
}

TEST_F(TraceSwitch, TheButtonIsForQuorixOnly) {
  UseModes(false);
  S.Settings.Emulation = emVT100;
  EXPECT_FALSE(S.TraceFiles->ToggleTrace());
  EXPECT_EQ(S.Trace->TraceState, TTraceDecoder::tsOff);
  EXPECT_EQ(T.Desktop.Boxes.size(), 1u);  // its text is the main form's Quorix button box
  S.Settings.Emulation = emQuorix;
  S.Trace->AbortRequested = true;
  EXPECT_TRUE(S.TraceFiles->ToggleTrace());
  EXPECT_FALSE(S.Trace->AbortRequested);
  EXPECT_FALSE(S.TraceFiles->ToggleTrace());
  EXPECT_EQ(S.Trace->TraceState, TTraceDecoder::tsOff);
}

// Opening the host name files ends a break-off (their missing files' boxes
// are the Trace On test's below; no directory opens nothing, the host name
// reader's own test).
TEST_F(KaspFiles, OpeningEndsABreakOff) {
  S.Settings.OrnetDirectoryName.assign(T.Dir.path().string() + "/");
  S.Trace->AbortRequested = true;
  S.Kasp->OpenKaspFiles();
  EXPECT_FALSE(S.Trace->AbortRequested);
}

TEST_F(TraceSwitch, AMissingHostNameFileIsReportedOnceWhenTracingStarts) {
  TTempDir empty;
  UseModes(false);
  S.Settings.OrnetDirectoryName.assign(empty.path().string() + "/");
  S.TraceFiles->TraceOn();
  EXPECT_EQ(S.Trace->TraceState, TTraceDecoder::tsConverting);
  const std::string prefix = "File access error when trying to open a file.\rThe file = " + empty.path().string() + "/";
  EXPECT_EQ(BoxTexts(T.Desktop),
            (std::vector<std::string>{prefix + "KASP.MSG", prefix + "KASP.VMI", prefix + "KASP.BID"}));
}

TEST_F(KaspFiles, ErrorDescriptionFile) {
  S.Settings.OrnetDirectoryName.assign(T.Dir.path().string());
  EXPECT_FALSE(S.Kasp->ToggleConvertError());
  EXPECT_EQ(BoxTexts(T.Desktop), std::vector<std::string>{"File access error when trying to open a file.\rThe file = " +
                                                          T.Dir.path().string() + "/KASP.ERR"});

  WriteFileBytes(T.Dir.file("KASP.ERR"), std::string("RECORD ZERO      RECORD ONE       SHORT"));
  EXPECT_TRUE(S.Kasp->ToggleConvertError());
  EXPECT_TRUE(S.Kasp->ErrorFileOpen);
  char record[17];
  ASSERT_TRUE(S.Kasp->ReadErrorRecord(1, record));
  EXPECT_EQ(std::string(record, 17), "RECORD ONE       ");
  EXPECT_FALSE(S.Kasp->ReadErrorRecord(2, record));  // 5 bytes only
  EXPECT_FALSE(S.Kasp->ToggleConvertError());
  EXPECT_FALSE(S.Kasp->ErrorFileOpen);
  EXPECT_FALSE(S.Kasp->ReadErrorRecord(0, record));
}

// The cache gives the reader's texts, including its failure reports.
TEST(ModeCache, SameTextsAsTheReader) {
  TRecordingReporter reporter;
  const auto store = CompileToMemory(kModes);
  const std::unique_ptr<TTraceFileSet> files = TTraceFileSet::Open(store, reporter);
  ASSERT_TRUE(files);
  TModeCache cache;
  cache.Attach(files.get());
  const TModeFileImage compiled = CompiledModes(kModes);
  const std::int32_t state = compiled.SetOffset.at("STATE");
  const std::int32_t low = compiled.SynIndex.at("LOW");
  TMessageBuffer buffer;
  buffer.Bytes[0] = 0x02;
  buffer.Count = 1;
  for (const bool convert : {true, false}) {
    for (const std::uint16_t value : {0, 2, 3, 4, 300, 0xFFFF}) {
      EXPECT_EQ(cache.SetElementText(state, value, buffer, 0, 0, pmNone, convert),
                files->SetElementText(state, value, buffer, 0, 0, pmNone, convert))
          << value;
    }
  }
  for (const std::uint32_t width : {0u, 2u, 6u, 12u, 20u}) {
    for (const std::uint32_t value : {0u, 1u, 2u}) {
      EXPECT_EQ(cache.SynValueText(low, value, 0, width, pmNone, buffer),
                files->SynValueText(low, value, 0, width, pmNone, buffer));
    }
  }
  // Unreadable places: the same reports, each time they are asked for.
  EXPECT_EQ(cache.SetElementText(1 << 20, 0, buffer, 0, 0, pmNone, true), "");
  EXPECT_EQ(cache.SetElementText(1 << 20, 0, buffer, 0, 0, pmNone, true), "");
  EXPECT_EQ(cache.SynValueText(-5, 1, 0, 0, pmNone, buffer), "0001");
  const std::string set = "Unable to read Set Element File. File Index =00100000";
  std::vector<std::string> texts;
  for (const TReported& e : reporter.Errors) texts.push_back(e.Text);
  EXPECT_EQ(texts, (std::vector<std::string>{set, set, "Unable to read Syn-Mode-File. File Index =FFFFFFFB"}));
}

// A structure whose components all refer to the structure again would print
// more lines than there are atoms: the decode stops and says so.
TEST(Hostile, AWideSelfReferenceStops) {
  std::string source = "NEWMODE wide = STRUCT (";
  for (int i = 0; i < 12; ++i) {
    source += (i ? ", c" : "c") + std::to_string(i) + " INT WITH (kind = 1, index = wide, byte = 0)";
  }
  source += ");\nMESSAGE 1 = wide;\n";
  TDecoding d(source);
  d.Feed("00001        0001_0002 0003_0004 0210 0800 .... ....:.... ....  SND  12:34:56.78\r\nDATA = 1234\r\n");
  const std::vector<std::string> lines = d.Lines();
  ASSERT_GT(lines.size(), 2u);
  EXPECT_EQ(lines.back(), "*** decoding stopped after 200000 items");
  EXPECT_LT(lines.size(), 200010u);
  // The next decode has its budget again: at level 9 the twelve components
  // print their prefix lines, and level 11 nothing.
  d.Out.str("");
  d.S.Trace->DecodeMode(10, 0, 0, 1, 16, pmNone, 9, "", 2);
  ASSERT_EQ(d.Lines().size(), 12u);
  EXPECT_EQ(d.Lines()[11], std::string(20, ' ') + "C11 =");
}

// A mode file that is cut short and a mode index that leads nowhere.
TEST(Hostile, UnreadableModeRecords) {
  std::map<std::string, std::string> files = CompiledModes("NEWMODE a = STRUCT (x INT, y INT);\nMESSAGE 1 = a;\n").Files;
  files[".mod"].resize(files[".mod"].size() - 50);  // the last component is cut off
  TDecoding d(files);
  const std::string header = "00001        0001_0002 0003_0004 0410 0800 .... ....:.... ....  SND  12:34:56.78";
  d.Feed(header + "\r\nDATA = 1234 5678\r\n");
  EXPECT_EQ(d.Lines(), (std::vector<std::string>{header, "  X = 1234"}));
  d.S.Trace->DecodeMode(-3, 0, 0, 0, 16, pmNone, 0, "", 2);
  ASSERT_EQ(d.T.Desktop.Boxes.size(), 1u);
  EXPECT_EQ(d.T.Desktop.Boxes[0].Box.Text.substr(0, 58), "File access error. File = Mode File. Mode index =FFFFFFFD\r");
}

}  // namespace
