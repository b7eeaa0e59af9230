// The receive interpreter beyond the scripts: parameter parsing, the fast
// path's equivalence with the byte-wise path, routing to the trace decoder,
// and the session's receive hand-over.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "app/session.h"
#include "comms/recordinglines.h"
#include "comms/transmit.h"
#include "core/settings.h"
#include "log/logfiles.h"
#include "screen/store.h"
#include "screen/writer.h"
#include "support/testing.h"
#include "terminal/interpreter.h"
#include "trace/decoder.h"
#include "trace/tracefiles.h"
#include "transfer/engine.h"

namespace {

void Push(TSession& s, std::string_view bytes) {
  for (const char c : bytes) s.Interpreter->ReceiveByte(static_cast<std::uint8_t>(c));
}

std::size_t Block(TSession& s, std::string_view bytes) {
  return s.Interpreter->ReceiveBlock(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// A session started as the main window leaves it, on an open serial line or Telnet.
struct TSide {
  TTestSession T;
  TRecordingSerialLine Serial;
  TRecordingNetworkLine Network;
  explicit TSide(int emulation, bool telnet) {
    TSession& s = *T.S;
    s.StartUp();
    s.Settings.Emulation = static_cast<std::uint8_t>(emulation);
    if (telnet) {
      s.Transmit->Network = &Network;
      s.Transmit->NetworkConnected = true;
      s.Settings.Port = kTelnetPortIndex;
    } else {
      s.Transmit->Serial = &Serial;
      s.Transmit->SerialConnected = true;
    }
  }
};

struct Interpreter : ::testing::Test {
  TSide Side{emVT100, false};
  TSession& S = *Side.T.S;
  TTestSession& T = Side.T;
  TRecordingSerialLine& Serial = Side.Serial;
  std::vector<int> Parameters(std::string_view buffer) {
    S.Interpreter->EscapeBuffer = buffer;
    S.Interpreter->ParseParameters();
    return {S.Interpreter->Parameters, S.Interpreter->Parameters + S.Interpreter->ParameterCount};
  }
};

// Parameters split at semicolons, empty ones are 0, every other character is
// skipped (also between digits), at most 21 are kept, huge numbers saturate
// and each parse starts afresh.
TEST_F(Interpreter, Parameters) {
  const std::pair<std::string_view, std::vector<int>> cases[] = {
      {"5;10", {5, 10}}, {";5", {0, 5}}, {"5;", {5}}, {";;", {0, 0}}, {"", {}}, {"[H", {}},
      {"[?1;2h", {1, 2}}, {"&s0a1d1H", {11}},
      {"1;2;3;4;5;6;7;8;9;10;11;12;13;14;15;16;17;18;19;20;21;22;23;24",
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21}},
      {"99999999999999999999;2147483647;2147483648", {2147483647, 2147483647, 2147483647}},
  };
  for (const auto& [buffer, parameters] : cases) EXPECT_EQ(Parameters(buffer), parameters) << buffer;
  Parameters("7;8;9");
  EXPECT_EQ(Parameters(";4"), (std::vector<int>{0, 4}));
  EXPECT_EQ(S.Interpreter->Parameters[2], 0);
}

TEST_F(Interpreter, AnEscapeLogWriteFailureClosesTheLogAndTheTerminalGoesOn) {
  ASSERT_TRUE(S.Files->StartEscapeLog());
  ASSERT_TRUE(S.Files->EscapeLogOpen());
  S.Files->Faults.ShortWrite = 3;  // the disk fills up
  Push(S, "\x1B[5;5HA");
  EXPECT_FALSE(S.Files->EscapeLogOpen());
  EXPECT_EQ(ScreenRow(S, 5), "    A");
  ASSERT_EQ(T.Desktop.Boxes.size(), 1u);
  EXPECT_NE(T.Desktop.Boxes[0].Box.Text.find("Escape Sequence Log File"), std::string::npos);
}

TEST(TraceRouting, TextGoesToTheDecoderWhileConversionIsOn) {
  for (const bool errorFile : {false, true}) {
    TSide side(emVT100, false);
    TSession& s = *side.T.S;
    if (errorFile) {
      s.Kasp->ErrorFileOpen = true;
    } else {
      s.Trace->TraceState = TTraceDecoder::tsConverting;
    }
    // A short line starting with digits is kept as the message name: nothing shows.
    const std::string_view text = "12345 decoded, not shown\r\n";
    Push(s, text);
    for (std::size_t done = 0; done < text.size();) done += Block(s, text.substr(done));
    EXPECT_EQ(ScreenRow(s, 1) + ScreenRow(s, 2), "");
    // Sequences still act on the screen.
    Push(s, "\x1B[5;7H");
    EXPECT_EQ((std::pair<int, int>(s.Writer->State.CursorRow, s.Writer->State.CursorColumn)), std::pair(5, 7));
  }
}

// --- The fast path against the byte-wise path ---

// Pieces a host sends: plain text of every kind of byte, line ends,
// sequences that move, erase, scroll, change attributes and character sets,
// reports, Telnet commands, and broken or runaway sequences.
std::string RandomStream(std::mt19937& random, std::size_t pieces) {
  static const std::vector<std::string> kPieces = {
      "\r\n", "\n", "\r", "\t", "\b", "\x7F", "\x0E", "\x0F", "\x07", "\x05", "\x03", "\x0C",
      "\x1B[H", "\x1B[2J", "\x1B[K", "\x1B[1K", "\x1B[J", "\x1B[5;10H", "\x1B[24;75H",
      "\x1B[3;20r", "\x1B[r", "\x1B[?6h", "\x1B[?6l", "\x1B[?7l", "\x1B[?7h", "\x1B[1;31m",
      "\x1B[m", "\x1B[7m", "\x1B[44m", "\x1B(0", "\x1B(B", "\x1B)0", "\x1B" "7", "\x1B" "8",
      "\x1B" "D", "\x1B" "E", "\x1B" "M", "\x1B[2L", "\x1B[3M", "\x1B[4P", "\x1B[6n", "\x1B[c",
      "\x1B[>c", "\x1B[2A", "\x1B[3B", "\x1B[9C", "\x1B[4D", "\x1B#3", "\x1B#6", "\x1B#5",
      "\x1B[12", "\x1B[5;3z", "\x1B[\x18", "\x1B[1;2\x1A", "\x1BY%*", "\x1B[?2h", "\x1B<",
      "\x1B[2w", "\x1B[1w", "\x1B&dB", "\x1B&d@", "\x9B" "5;5H", "\x84", "\x8D",
      "\xFF\xFD\x18", "\xFF\xFF", "\xFF\xFA\x18\x01\xFF\xF0", "\xFF\xFB\x01", "\xFF\xF7",
      "\x1B[>0fcapture me\r\n", "\x1B[>1f", "\x1B[111111111111111111111111111111",
  };
  std::string stream;
  std::uniform_int_distribution<int> choice(0, 2);
  std::uniform_int_distribution<std::size_t> piece(0, kPieces.size() - 1);
  std::uniform_int_distribution<int> length(1, 120);
  std::uniform_int_distribution<int> printable(32, 126);
  std::uniform_int_distribution<int> anyByte(0, 255);
  for (std::size_t i = 0; i < pieces; ++i) {
    switch (choice(random)) {
      case 0: {
        const int n = length(random);
        for (int k = 0; k < n; ++k) stream.push_back(static_cast<char>(printable(random)));
        break;
      }
      case 1: stream += kPieces[piece(random)]; break;
      default: {
        const int n = length(random) / 10 + 1;
        for (int k = 0; k < n; ++k) stream.push_back(static_cast<char>(anyByte(random)));
        break;
      }
    }
  }
  return stream;
}

void ExpectSameTerminal(TSide& a, TSide& b, const std::string& context) {
  TSession& x = *a.T.S;
  TSession& y = *b.T.S;
  ASSERT_EQ(x.Screen->Count(), y.Screen->Count()) << context;
  std::string textX, textY;
  std::uint16_t attrX[132], attrY[132];
  for (int line = 0; line < x.Screen->Count(); ++line) {
    ASSERT_TRUE(x.Screen->GetLine(line, textX, attrX));
    ASSERT_TRUE(y.Screen->GetLine(line, textY, attrY));
    ASSERT_EQ(textX, textY) << context << " line " << line;
    for (int c = 0; c < 132; ++c) {
      ASSERT_EQ(x.Screen->GetAttributeRecord(attrX[c]).SameLook(y.Screen->GetAttributeRecord(attrY[c])),
                true)
          << context << " line " << line << " column " << c + 1;
    }
  }
  // Cursor, margins, character set, origin mode, the look, the interpreter's
  // state, the answers and the beeps.
  const auto state = [](TSide& side) {
    const TSession& s = *side.T.S;
    const TTerminalState& t = s.Writer->State;
    const TReceiveInterpreter& i = *s.Interpreter;
    return std::tuple(std::vector<int>{t.CursorRow, t.CursorColumn, t.TopMargin, t.BottomMargin, t.RightMargin,
                                       t.G0Selected, t.G0Graphics, t.OriginMode, s.Settings.Emulation,
                                       i.EscapeActive, i.TelnetActive, side.T.Desktop.Beeps},
                      i.EscapeBuffer, i.LineCaptureBuffer, side.Serial.Sent + side.Network.Sent);
  };
  EXPECT_EQ(state(a), state(b)) << context;
  EXPECT_TRUE(x.Screen->GetAttributeRecord(x.Writer->State.CurrentAttribute)
                  .SameLook(y.Screen->GetAttributeRecord(y.Writer->State.CurrentAttribute)))
      << context;
}

TEST(ReceiveBlock, BehavesExactlyAsReceiveByteForEveryByte) {
  std::mt19937 random(20240611);
  std::uniform_int_distribution<std::size_t> cut(1, 300);
  for (int emulation = 0; emulation <= 4; ++emulation) {
    for (const bool telnet : {false, true}) {
      for (int round = 0; round < 6; ++round) {
        TSide byteWise(emulation, telnet);
        TSide blocks(emulation, telnet);
        const std::string stream = RandomStream(random, 400);
        const auto* data = reinterpret_cast<const std::uint8_t*>(stream.data());
        for (std::size_t i = 0; i < stream.size(); ++i) byteWise.T.S->Interpreter->ReceiveByte(data[i]);
        // Blocks cut at random places, as reads from a line arrive.
        std::size_t done = 0;
        while (done < stream.size()) {
          const std::size_t end = std::min(stream.size(), done + cut(random));
          while (done < end) done += blocks.T.S->Interpreter->ReceiveBlock(data + done, end - done);
        }
        ExpectSameTerminal(byteWise, blocks,
                           "type " + std::to_string(emulation) + (telnet ? " telnet" : "") +
                               " round " + std::to_string(round));
      }
    }
  }
}

// A block takes text, controls and sequences in one call, and stops where the
// dispatcher may have to change.
TEST_F(Interpreter, ABlockTakesEverythingUpToWhereTheDispatcherMayChange) {
  EXPECT_EQ(Block(S, "plain text\r\n\x1B[1mmore\x1B[m\ttabbed"), 30u);
  EXPECT_EQ(Block(S, ""), 0u);
  EXPECT_EQ(ScreenRow(S, 1) + "|" + ScreenRow(S, 2), "plain text|more    tabbed");
  // The answer-back starts the soft-key sender.
  EXPECT_EQ(Block(S, "ab\x05" "cd"), 3u);
  // An answer to the host may ask the user about a failing line.
  EXPECT_EQ(Block(S, "ab\x1B[6ncd"), 6u);
  EXPECT_EQ(Serial.Sent, "\x1B[002;019R");
  // A transfer started by the host takes the bytes after its sequence.
  S.Settings.SendReceiveFileName.assign(T.Dir.file("host.txt"));
  EXPECT_EQ(Block(S, "\x1B[>1r" "data"), 5u);
  EXPECT_TRUE(S.Transfer->TransferActive);
}

TEST(ReceiveBlock, AResetAfterTheColoursChangedTakesTheNewOnes) {
  TSide side(emVT100, false);
  TSession& s = *side.T.S;
  const TColor before = s.Settings.ForegroundColor;
  Block(s, "\x1B[1;31ma\x1B[0mb");
  // Changed between two blocks, as the configuration dialog does.
  s.Settings.ForegroundColor = before ^ 0x123456;
  Block(s, "\x1B[0mc");
  s.Settings.ForegroundColor = before ^ 0x654321;
  Push(s, "\x1B[0md");
  const auto foreground = [&](int column) {
    return s.Screen->GetAttributeRecord(s.Screen->GetCellAttribute(column, 1)).Foreground;
  };
  EXPECT_EQ((std::vector<TColor>{foreground(2), foreground(3), foreground(4)}),
            (std::vector<TColor>{before, before ^ 0x123456, before ^ 0x654321}));
}

// --- The session's receive hand-over ---

TEST_F(Interpreter, AHostReceiveStartedInsideABlockStoresTheRestOfIt) {
  S.Settings.SendReceiveFileName.assign(T.Dir.file("host.txt"));
  PushBytes(S, "before\x1B[>1;0r" "file data\r\n");
  EXPECT_EQ(Serial.Sent, "Y");
  // A text receive still shows what it stores.
  EXPECT_EQ(ScreenRow(S, 1), "beforefile data");
  EXPECT_TRUE(S.Transfer->TransferActive);
  S.Files->CloseTransferFile();
  EXPECT_EQ(ReadFileBytes(T.Dir.file("host.txt")), "file data\r\n");
}

}  // namespace
