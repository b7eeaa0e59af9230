// A prompt-paced file send to qel exchange over loopback Telnet: the
// exchange's INPUT command prompts every line with ">" and reports the lines,
// bytes and CRC-32 that arrived. The pacing rules have their own tests.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>

#include "integration/integration_support.h"
#include "terminal/interpreter.h"
#include "transfer/commandstate.h"
#include "transfer/engine.h"
#include "transfer/pacedsend.h"

namespace {

std::uint32_t Crc32(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (const char c : bytes) {
    crc ^= static_cast<std::uint8_t>(c);
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
  }
  return ~crc;
}

std::string Report(std::size_t lines, const std::string& bytes) {
  char text[96];
  std::snprintf(text, sizeof text, "INPUT ENDED: %zu LINES, %zu BYTES, CRC32 %08X", lines, bytes.size(),
                static_cast<unsigned>(Crc32(bytes)));
  return text;
}

// Passes the terminal's sends on, noting for each how many ">" prompts had
// come back from the exchange.
class TPacingTap : public TSendTap {
 public:
  struct TSend {
    char Byte;
    int Prompts;
  };
  using TSendTap::TSendTap;
  std::vector<TSend> Sends;
  int Prompts = 0;
  int Send(const std::uint8_t* buffer, int length) override {
    for (int i = 0; i < length; ++i) Sends.push_back({static_cast<char>(buffer[i]), Prompts});
    return TSendTap::Send(buffer, length);
  }
};

struct PacedSendExchange : ::testing::Test {
  TExchangeProcess Exchange;
  TWindow W;
  TCommandState State;
  TPacedSend Sender{W.S, State};
  TPacingTap Tap{W.Sockets};
  TNetworkLine* Line = nullptr;  // the session's own line, put back at the end

  void SetUp() override {
    ASSERT_NE(Exchange.Port, 0) << "the exchange did not say where it listens";
    W.Connect(Exchange.Address());
    ASSERT_TRUE(RunUntil([&] { return W.Shows("Type HELP"); })) << W.ScreenText();
    // Counted on the way to the screen, so each send knows what had come back.
    W.S.Transfer->ScreenPathOverride = [this](std::uint8_t c) {
      if (c == '>') ++Tap.Prompts;
      W.S.Interpreter->ReceiveByte(c);
    };
    Line = W.S.Transmit->Network;
    W.S.Transmit->Network = &Tap;
    W.S.Transfer->QueueSendString("INPUT\r");
    ASSERT_TRUE(RunUntil([&] { return W.Shows("ENTER TEXT"); })) << W.ScreenText();
  }
  // The tap goes before the window does: the window's end must not reach it.
  void TearDown() override {
    if (Line) W.S.Transmit->Network = Line;
    W.S.Transfer->ScreenPathOverride = nullptr;
  }
  void SendFile(const std::string& text) {
    const std::string name = W.Dir.file("upload.txt");
    WriteFileBytes(name, text);
    W.S.Settings.SendReceiveFileName.assign(name);
    W.S.Settings.EOFCtrlZ = 1;  // the Ctrl-Z ends the exchange's input
    Tap.Sends.clear();
    ASSERT_TRUE(Sender.StartFileSend());
    ASSERT_TRUE(RunUntil([&] { return !(W.S.Transfer->Activities & acFileSend); }, 60000));
  }
  std::string Sent() const {
    std::string bytes;
    for (const auto& send : Tap.Sends) bytes += send.Byte;
    return bytes;
  }
};

std::string NumberedLines(int count, const char* lineEnd) {
  std::string text;
  for (int i = 1; i <= count; ++i) text += "LINE " + std::to_string(i) + " OF THE UPLOAD" + lineEnd;
  return text;
}

TEST_F(PacedSendExchange, PromptPacedLinesEachWaitForTheirPrompt) {
  TSetupRecord& settings = W.S.Settings;
  settings.EOL = elCR;
  settings.LineDelay = ldWaitForChar;
  settings.WaitChar = '>';
  settings.MaxEchoDelay = 50;  // a missed prompt would hold a line for 5 s
  const int lines = 25;
  SendFile(NumberedLines(lines, "\r\n"));
  const std::string expected = NumberedLines(lines, "\r");
  EXPECT_EQ(Sent(), expected + "\x1A");
  ASSERT_TRUE(RunUntil([&] { return W.Shows("INPUT ENDED"); })) << W.ScreenText();
  EXPECT_TRUE(W.Shows(Report(lines, expected))) << W.ScreenText();
  // Line n + 1 started only after the n-th prompt of the input (the first
  // came with the command) had arrived.
  // The Ctrl-Z after the end of the file is no line and waits for nothing.
  int line = 0;
  for (std::size_t i = 0; i + 1 < Tap.Sends.size(); ++i) {
    if (i > 0 && Tap.Sends[i - 1].Byte != '\r') continue;
    ++line;
    EXPECT_GE(Tap.Sends[i].Prompts, line) << "line " << line;
  }
  EXPECT_EQ(line, lines);
}

}  // namespace
