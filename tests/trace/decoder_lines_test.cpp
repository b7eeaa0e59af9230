// The decoder's line handling beyond the golden files: the accumulator's
// limits, the 4K limit, the trigger's status line, word/byte conversions,
// the yield step, characters arriving during a decode, the line timer, and
// texts whose trailing blanks matter.
#include "trace/decoder_testing.h"

#include <tuple>

#include "trace/mini.h"
#include "transfer/engine.h"

namespace {

const char kModes[] = R"(
NEWMODE state = SET (idle, busy, *, blocked);
NEWMODE two = STRUCT (s state, t state);
NEWMODE counter = INT;
MESSAGE 1 = HEXDUMP;
MESSAGE 2 = two;
USERBUFFER 1 = counter;
NEWMODE ie0 = RANGE (0:255) CONSTANTS (shift = 90H);
DSS1 CODESET 0 = ie0;
MESSAGE 3 = DSS1;
)";

// Layout A header of message `id`: length field, buffer size field, and the
// direction field, whose second character is S, R or D.
std::string Header(const std::string& id, const std::string& length, const std::string& size = "....",
                   const std::string& direction = " S ") {
  const std::string pointer = size == "...." ? "....:...." : "1000:2000";
  return id + "        0001_0002 0003_0004 " + length + " 0800 .... " + pointer + " " + size + "  " + direction +
         "  12:34:56.78";
}

TEST(LineAssembly, TheEightiethCharacterEndsTheLine) {
  TLineAccumulator line;
  for (int i = 0; i < 79; ++i) EXPECT_FALSE(line.Take('x'));
  EXPECT_TRUE(line.Take('y'));
  EXPECT_EQ(line.Text(), std::string(79, 'x') + "y");
  line.Clear();
  // With 79 held a control character ends the line without joining it.
  for (int i = 0; i < 79; ++i) line.Take('x');
  EXPECT_TRUE(line.Take('\r'));
  EXPECT_EQ(line.Text(), std::string(79, 'x'));
  line.Clear();
  EXPECT_FALSE(line.Take(8));  // backspace on an empty line
  EXPECT_TRUE(line.Empty());
  EXPECT_TRUE(line.Take('\n'));
  EXPECT_EQ(line.Text(), "");
}

// Past 4076 bytes every further value gives the 4K line and overwrites the
// last position; the count stays 4076.
TEST(DataLines, TheFourKilobyteLimit) {
  TDecoding d(kModes);
  d.Feed(Header("00001", "0410", "FFFF") + "\r\n");
  const std::string words = "UBUF 0101 0101 0101 0101 0101 0101 0101 0101\r\n";  // 16 bytes
  for (int i = 0; i < 254; ++i) d.Feed(words);  // 4064 bytes
  EXPECT_EQ(d.S.Trace->MessageBuffer.Count, 4064);
  d.Out.str("");
  d.Feed("UBUF 0202 0202 0202 0202 0202 0202 0303 0404\r\n");  // bytes 4064-4079
  EXPECT_EQ(d.S.Trace->MessageBuffer.Count, 4076);
  const std::string tooLong =
      "------------------# data size to long i.e. more then 4K bytes #-----------------";
  EXPECT_EQ(d.Lines(), std::vector<std::string>(2, tooLong));
  // The six 0202 words fill 4064-4075; 0303 and then 0404 went to 4076-4077
  // and were stepped back: the last value stays, inside the buffer.
  EXPECT_EQ(d.S.Trace->MessageBuffer.Bytes[4075], 0x02);
  EXPECT_EQ(d.S.Trace->MessageBuffer.Bytes[4076], 0x04);
  d.Out.str("");
  d.Feed("UBUF 05 06\r\n");  // bytes: two more values beyond the limit
  EXPECT_EQ(d.Lines(), std::vector<std::string>(2, tooLong));
  EXPECT_EQ(d.S.Trace->MessageBuffer.Count, 4076);
  EXPECT_EQ(d.S.Trace->MessageBuffer.Bytes[4076], 0x06);
}

// The trigger of type 0 armed on message `identity` with `action`.
void ArmTrigger(TDecoding& d, std::uint32_t identity, std::uint8_t action) {
  d.S.Settings.TriggerType = 0;
  d.S.Settings.TriggerEntries[0].Identity = identity;
  d.S.Settings.TriggerAction = action;
  d.S.Trace->SetTriggerEnabled(true);
}

// A message that does not pass the trigger shows as one line in screen row 1
// (not in the log), overwritten by the next.
TEST(Trigger, ShortFormInRowOne) {
  TDecoding d(kModes, false);
  ArmTrigger(d, 99, 0);
  const std::string waiting = " Waiting for trigger                   -> Msg = ";
  // A direction without S, R or D writes nothing: the line before stays.
  for (const auto& [id, direction, shown] : {std::tuple<std::string, std::string, std::string>{
                                                 "00001", " S ", "00001                Send"},
                                             {"00002", " D ", "00002                Snd/rcvd"},
                                             {"00001", " R ", "00001                Received"},
                                             {"00002", "XXX", "00001                Received"}}) {
    d.Feed(Header(id, "0210", "....", direction) + "\r\n");
    EXPECT_EQ(ScreenRow(d.S, 1), waiting + shown) << direction;
  }
  EXPECT_EQ(d.S.Writer->State.CursorRow, 1);  // row 1 leaves the cursor alone
}

TEST(Trigger, StateTextAfterFiring) {
  TDecoding d(kModes, false);
  ArmTrigger(d, 2, 0);
  d.Feed(Header("00002", "0210") + "\r\nDATA = 0100\r\n");  // fires: state 1
  std::string other = Header("00001", "0210");
  other.replace(13, 9, "0009_0009");  // another source
  d.Feed(other + "\r\n");
  EXPECT_EQ(ScreenRow(d.S, 1),
            " Trigger reached cont with src         -> Msg = 00001                Send");
  // Switching the trigger on again starts over.
  d.S.Trace->SetTriggerEnabled(true);
  d.Feed(other + "\r\n");
  EXPECT_EQ(ScreenRow(d.S, 1),
            " Waiting for trigger                   -> Msg = 00001                Send");
}

// Actions above 10 (a settings file may hold them) change nothing: the
// trigger message passes, the trigger keeps waiting.
TEST(Trigger, AnActionAboveTen) {
  TDecoding d(kModes);
  ArmTrigger(d, 2, 11);
  const std::string trigger = Header("00002", "0210") + "\r\nDATA = 0100\r\n";
  d.Feed(trigger + Header("00001", "0210") + "\r\nDATA = 1234\r\n" + trigger);
  // The redirect also takes the one-line form that goes to row 1.
  const std::string waiting2 = " Waiting for trigger                   -> Msg = 00002                Send       ";
  const std::string waiting1 = " Waiting for trigger                   -> Msg = 00001                Send       ";
  const std::string header = Header("00002", "0210");
  EXPECT_EQ(d.Lines(), (std::vector<std::string>{waiting2, header, "  S = idle", "  T = busy", waiting1, waiting2,
                                                 header, "  S = idle", "  T = busy"}));
}

// An armed word/byte conversion collects the dump lines silently and is
// finished by the first other line, with the bytes still in the buffer.
TEST(Conversion, DumpLinesCollectUntilAnotherLine) {
  TDecoding d(kModes);
  std::vector<std::uint8_t> collected;
  d.S.Trace->FinishConversion = [&] {
    const TMessageBuffer& b = d.S.Trace->MessageBuffer;
    collected.assign(b.Bytes.begin(), b.Bytes.begin() + b.Count);
  };
  d.S.Trace->ConversionState = 1;
  d.Feed("WOR 00001000:     1234 5678\r\n");
  EXPECT_EQ(d.S.Trace->ConversionState, 2);
  d.Feed("WOR 00001004:     9ABC\r\n");
  EXPECT_TRUE(collected.empty());
  d.Feed("end of the dump\r\n");
  EXPECT_EQ(collected, (std::vector<std::uint8_t>{0x34, 0x12, 0x78, 0x56, 0xBC, 0x9A}));
  EXPECT_EQ(d.S.Trace->ConversionState, 0);
  EXPECT_EQ(d.Lines(), std::vector<std::string>{"end of the dump"});

  collected.clear();
  d.S.Trace->ConversionState = 1;
  d.Feed("BYT 00001000:     12 34 56\r\n\r\n");  // a blank line finishes too
  EXPECT_EQ(collected, (std::vector<std::uint8_t>{0x12, 0x34, 0x56}));
}

// A desktop whose message pump runs a callback (the user's break key, more
// received characters).
class TPumpingDesktop : public TScriptedDesktop {
 public:
  std::function<void()> OnPump;
  void ProcessPendingMessages(bool systemOnly) override {
    TScriptedDesktop::ProcessPendingMessages(systemOnly);
    if (OnPump) OnPump();
  }
};

struct TPumpedSession {
  TTempDir Dir;
  TPumpingDesktop Desktop;
  TSession S{Desktop, Dir.path().string()};
  std::ostringstream Out;
  TPumpedSession() {
    S.StartUp();
    S.Settings.OrnetDirectoryName.assign("");
    S.Trace->TraceState = TTraceDecoder::tsConverting;
    EXPECT_TRUE(S.TraceFiles->OpenTraceFiles(CompileToMemory(kModes)));
    S.Writer->Redirect = &Out;
  }
  void Feed(const std::string& text) {
    for (const char c : text) S.Trace->TraceReceiveChar(static_cast<std::uint8_t>(c));
  }
  int LineCount() const {
    const std::string text = Out.str();
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
  }
};

// The break key stops a hex dump at the next line.
TEST(Yield, BreakStopsAtTheNextItem) {
  TPumpedSession p;
  p.Desktop.OnPump = [&] { p.S.Trace->AbortRequested = true; };
  p.Feed(Header("00001", "4010") + "\r\n");  // 64 bytes: four dump lines
  p.Out.str("");
  for (int i = 0; i < 4; ++i) p.Feed("DATA = 0000 0000 0000 0000 0000 0000 0000 0000\r\n");
  EXPECT_EQ(p.LineCount(), 1);
  EXPECT_GT(p.Desktop.PendingPumps, 0);
}

// Yields nested eight deep answer "stop" without pumping again.
TEST(Yield, EightNestedYieldsStop) {
  TPumpedSession p;
  int depth = 0, deepest = 0;
  p.Desktop.OnPump = [&] {
    ++depth;
    deepest = std::max(deepest, depth);
    EXPECT_TRUE(p.S.Trace->YieldStop() || depth < 8);
    --depth;
  };
  EXPECT_FALSE(p.S.Trace->YieldStop());
  EXPECT_EQ(deepest, 8);
  EXPECT_FALSE(p.S.Trace->AbortRequested);
}

// Characters that arrive while a buffer is decoded (a yield let the window
// read more) wait and are processed after it, in order.
TEST(Yield, CharactersDuringADecodeWait) {
  TPumpedSession p;
  std::string pending = "second line\r\n";
  p.Desktop.OnPump = [&] {
    const std::string now = pending;
    pending.clear();
    p.Feed(now);
  };
  p.Feed(Header("00001", "2010") + "\r\n");  // 32 bytes: two dump lines with a yield between
  p.Out.str("");
  p.Feed("DATA = 0000 0000 0000 0000 0000 0000 0000 0000\r\nDATA = 1111 1111 1111 1111 1111 1111 1111 1111\r\n");
  const std::vector<std::string> lines = SplitLines(p.Out.str());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].substr(0, 14), "   DATA = 00 0");
  EXPECT_EQ(lines[1].substr(0, 14), "   DATA = 11 1");
  EXPECT_EQ(lines[2], "second line");
}

// The engine's tick processes a line held without its line feed once the
// line timer has run out.
TEST(LineTimer, AHeldLineIsShownAfterTheTimer) {
  TDecoding d(kModes);
  d.Feed("prompt>");
  EXPECT_TRUE(d.Lines().empty());
  EXPECT_GT(d.S.Transfer->Timers[tmTraceLine], 0);
  d.S.Transfer->Tick();
  EXPECT_TRUE(d.Lines().empty());  // still running
  while (d.S.Transfer->Timers[tmTraceLine] > 0) d.S.Transfer->DecrementTimers();
  d.S.Transfer->Tick();
  EXPECT_EQ(d.Lines(), std::vector<std::string>{"prompt>"});
  d.Feed("\r\n");  // the line feed that follows is a blank line: nothing more
  EXPECT_EQ(d.Lines().size(), 1u);

  // A line the MINI trace is assembling in the shared accumulator is its own.
  d.S.Mini->MiniTraceOn();
  for (const char c : std::string(" WOR 0000")) d.S.Trace->Line.Take(static_cast<std::uint8_t>(c));
  d.S.Transfer->Tick();
  EXPECT_EQ(d.S.Trace->Line.Text(), " WOR 0000");
  EXPECT_EQ(d.Lines().size(), 1u);
}

// Texts whose trailing blank is part of them (the golden files ignore trailing blanks).
TEST(ExactTexts, TrailingBlanks) {
  TDecoding d(kModes);
  d.Feed(Header("00002", "0210") + "\r\nDATA = 0302\r\n");
  // Value 2 has no name: hex and a blank.
  EXPECT_EQ(d.Lines(), (std::vector<std::string>{Header("00002", "0210"), "  S = 02 ", "  T = blocked"}));

  d.Out.str("");
  d.Feed(Header("00003", "0510") + "\r\nDATA = 08 01 01 05 95\r\n");
  const std::vector<std::string> dss1 = d.Lines();
  ASSERT_EQ(dss1.size(), 8u);
  EXPECT_EQ(dss1[7], "      Locking Shift = True ");
  EXPECT_EQ(dss1[5], "    IE = 0090(SHIFT)");

  d.Out.str("");
  d.S.Settings.DisplayMsgHeader = 1;
  d.Feed(Header("00001", "0210") + "\r\n");
  EXPECT_EQ(d.Lines()[0], "Message identity       = 00001           ");
}

}  // namespace
