// The simulated exchange's session logic, without a line: Telnet negotiation,
// line editing, the commands and their output, on a clock the test moves.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <regex>
#include <set>

#include "exchange_host.h"
#include "support/randombytes.h"
#include "support/testing.h"

using namespace std::string_literals;

namespace {

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

const std::string kIac = "\xFF";
const std::string kWillTtype = "\xFF\xFB\x18";
const std::string kTtypeSend = "\xFF\xFA\x18\x01\xFF\xF0";

std::string TtypeIs(const std::string& name) { return "\xFF\xFA\x18" + std::string(1, '\0') + name + "\xFF\xF0"; }

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

class Exchange : public ::testing::Test {
 protected:
  std::int64_t Now = 1000;
  TExchangeSamples Samples;  // none recorded
  std::unique_ptr<TExchangeHost> Host;

  // A new session; what it sends first, taken.
  std::string Make(bool telnet) {
    Host = std::make_unique<TExchangeHost>(telnet, Samples, [this] { return Now; });
    Host->Start();
    return Take();
  }
  // Everything the host has to send now, taken as a line would take it.
  std::string Take(std::size_t limit = 64 * 1024) {
    std::string all;
    for (;;) {
      const std::string_view piece = Host->Output(limit);
      if (piece.empty()) return all;
      EXPECT_LE(piece.size(), limit);
      all += piece;
      Host->Consume(piece.size());
    }
  }
  std::string Send(const std::string& bytes) {
    Host->Receive(bytes);
    return Take();
  }
  std::string Wait(std::int64_t ms) {
    Now += ms;
    Host->Tick();
    return Take();
  }
  // A Telnet session past its negotiation, as the terminal answers it.
  void LoggedIn() {
    EXPECT_EQ(Make(true), "\xFF\xFB\x01\xFF\xFB\x03\xFF\xFD\x18");  // WILL ECHO, WILL SGA, DO TTYPE
    EXPECT_EQ(Send(kWillTtype + "\xFF\xFD\x03"), kTtypeSend);  // DO SGA needs no answer
    const std::string banner = Send(TtypeIs("DEC-VT100"));
    ASSERT_NE(banner.find("Terminal type: DEC-VT100\r\n"), std::string::npos) << banner;
  }
};

}  // namespace

// --- Telnet ---

TEST_F(Exchange, ATerminalWithoutATypeOrAnAnswerGetsTheBannerAndTypingBeforeItIsKept) {
  Make(true);
  EXPECT_NE(Send("\xFF\xFC\x18").find("Terminal type: UNKNOWN\r\n"), std::string::npos);

  Make(true);
  EXPECT_EQ(Wait(TExchangeHost::kTerminalTypeWaitMs - 1), "");
  EXPECT_NE(Wait(1).find("Terminal type: UNKNOWN\r\n"), std::string::npos);

  Make(true);
  EXPECT_EQ(Send("HEL"), "");  // not echoed while the options are settled
  const std::string after = Send("P\r\xFF\xFC\x18");
  const std::size_t prompt = after.find("\r\n<");
  ASSERT_NE(prompt, std::string::npos);
  EXPECT_NE(after.find("<HELP\r\nSTATUS", prompt), std::string::npos) << after;
}

TEST_F(Exchange, AreYouThereIsAnsweredOptionsItDoesNotKnowRefusedAndOnlyChangesAnswered) {
  LoggedIn();
  EXPECT_EQ(Send("\xFF\xF6"), "\r\n[EXCHANGE DEMO-1: YES]\r\n");  // Are You There
  EXPECT_EQ(Send("\xFF\xFD\x1F"), "\xFF\xFC\x1F");  // DO NAWS: WONT
  EXPECT_EQ(Send("\xFF\xFB\x20"), "\xFF\xFE\x20");  // WILL TSPEED: DONT
  EXPECT_EQ(Send("\xFF\xFC\x20"), "");              // WONT needs no answer
  EXPECT_EQ(Send("\xFF\xFE\x01"), "\xFF\xFC\x01");  // DONT ECHO: WONT ECHO, once
  EXPECT_EQ(Send("\xFF\xFE\x01"), "");
  EXPECT_EQ(Send("ab"), "");  // no echo any more
  EXPECT_EQ(Send("\xFF\xFD\x01"), "\xFF\xFB\x01");
  EXPECT_EQ(Send("c"), "c");
}

// What the log keeps of the terminal's bytes: the exchange tool's integration test.
TEST_F(Exchange, BrokenTelnetCommandsNeverStopTheSession) {
  LoggedIn();
  // A subnegotiation that never ends gives up after a while: the session goes on.
  Send("\xFF\xFA\x18" + std::string(200, 'y') + "\r");
  EXPECT_NE(Send("HELP\r").find("LIST [N]"), std::string::npos);
  // An IAC split from its command, and a command byte nobody knows.
  Send(kIac);
  Send("\xF1");
  Send("\xFF\x41");
  EXPECT_NE(Send("HELP\r").find("LIST [N]"), std::string::npos);
  // A subnegotiation cut short by another command.
  EXPECT_EQ(Send("\xFF\xFA\x18\x00VT\xFF\xFD\x1F"s), "\xFF\xFC\x1F");
  EXPECT_EQ(Host->TerminalType(), "DEC-VT100");

  std::mt19937 random(42);
  for (int round = 0; round < 300; ++round) {
    std::string noise(random() % 64, '\0');
    for (char& c : noise) c = static_cast<char>(random() % 4 == 0 ? 0xFF : random() & 0xFF);
    Host->Receive(noise);
    Host->Output(4096);
    Host->Consume(random() % 5000);
    Now += random() % 100;
    Host->Tick();
  }
  Take();
  // Ends any command or subnegotiation, then interrupts whatever runs.
  Send("\xFF\xF0\x03");
  Wait(TExchangeHost::kCursorReportWaitMs);
  Send("\x03");
  EXPECT_NE(Send("HELP\r").find("LIST [N]"), std::string::npos);
}

// --- the monitor ---

TEST_F(Exchange, TypedCharactersAreEchoedAndEditedAndTooManyRingTheBell) {
  LoggedIn();
  EXPECT_EQ(Send("LISX"), "LISX");
  EXPECT_EQ(Send("\b"), "\b \b");
  EXPECT_EQ(Send("\x7F"), "\b \b");
  const std::string out = Send("ST 3\r");
  EXPECT_EQ(out.substr(0, 6), "ST 3\r\n");
  EXPECT_NE(out.find("\r\n     00003  "), std::string::npos);
  EXPECT_TRUE(EndsWith(out, "\r\nEND OF LISTING, 3 LINES\r\n<")) << out;
  EXPECT_EQ(Send("\b"), "");  // nothing left to erase
  // A line longer than the monitor takes rings the bell.
  EXPECT_EQ(Send(std::string(80, 'A')), std::string(80, 'A'));
  EXPECT_EQ(Send("BC"), "\a\a");
  EXPECT_EQ(Send("\r").substr(0, 2), "\r\n");
}

TEST_F(Exchange, CommandsAreCaseInsensitiveUnknownOnesErrorsAndALineEndsWithCrCrLfCrNulOrLf) {
  LoggedIn();
  EXPECT_EQ(Send("frobnicate\r"), "frobnicate\r\n?UNKNOWN COMMAND\r\n<");
  EXPECT_EQ(Send("\r"), "\r\n<");
  EXPECT_NE(Send("  hElP  \r").find("FLOOD N [CUP]"), std::string::npos);
  EXPECT_EQ(Send("HELP ME\r").substr(9), "?UNKNOWN COMMAND\r\n<");
  EXPECT_EQ(Count(Send("X\r\n"), "<"), 1);
  EXPECT_EQ(Count(Send(std::string("X\r\0", 3)), "<"), 1);
  EXPECT_EQ(Count(Send("X\n"), "<"), 1);
  EXPECT_EQ(Count(Send("X\r\rX\n\n"), "<"), 4);
}

TEST_F(Exchange, ListPrintsNumberedVariedLines) {
  LoggedIn();
  const std::vector<std::string> lines = SplitLines(Send("LIST\r"));
  const std::regex numbered(" {5}(\\d{5})  5551\\d{4}  01-\\d\\d-\\d\\d-\\d\\d  (POTS|ISDN|PBX|COIN|DATA) +[A-Z]+");
  int count = 0;
  std::set<std::string> states;
  for (const std::string& line : lines) {
    std::smatch match;
    if (!std::regex_match(line, match, numbered)) continue;
    ++count;
    EXPECT_EQ(std::stoi(match[1]), count);  // in order, none missing
    states.insert(line.substr(line.rfind(' ') + 1));
  }
  EXPECT_EQ(count, 5000);  // its last line and the prompt: the exchange tool's listing test
  EXPECT_GE(states.size(), 3u);

  EXPECT_EQ(Count(Send("list 0\r"), "  5551"), 0);
  EXPECT_EQ(Send("LIST many\r"), "LIST many\r\n?INVALID PARAMETER\r\n<");
  EXPECT_EQ(Send("LIST 1000001\r"), "LIST 1000001\r\n?INVALID PARAMETER\r\n<");
}

TEST_F(Exchange, ALongOutputIsMadeAsTheLineTakesIt) {
  LoggedIn();
  Host->Receive("LIST 1000000\r");
  const std::string_view first = Host->Output(1000);
  EXPECT_EQ(first.size(), 1000u);
  Host->Consume(first.size());
  // Typing meanwhile waits for the end of the output ...
  Host->Receive("STATUS\r");
  std::string out(Host->Output(1000));
  EXPECT_EQ(out.find("STATUS"), std::string::npos);
  // ... except an interrupt, which ends it and drops what was typed ahead.
  out = Send("\x03");
  EXPECT_TRUE(EndsWith(out, "^C\r\n<"));
  EXPECT_LT(out.size(), 200u * 1024);
  EXPECT_EQ(out.find("STATUS"), std::string::npos);
  EXPECT_EQ(Send("X"), "X");  // back at the prompt

  Send("\r");
  const std::string both = Send("LIST 2000\rHELP\r");
  const std::size_t end = both.find("END OF LISTING, 2000 LINES\r\n<");
  ASSERT_NE(end, std::string::npos);
  EXPECT_NE(both.find("<HELP\r\nSTATUS", end), std::string::npos);
}

TEST_F(Exchange, StatusPaintsAFullScreenPage) {
  LoggedIn();
  const std::string page = Send("STATUS\r");
  EXPECT_EQ(page.substr(0, 8), "STATUS\r\n");
  EXPECT_NE(page.find("\x1b[H\x1b[2J"), std::string::npos);
  // The boxes' sides in the special graphics set (the page as drawn is the
  // exchange tool's integration test).
  EXPECT_EQ(Count(page, "\x1b(0x\x1b(B"), 4 * 2 * 6);
  EXPECT_EQ(Count(page, "\x1b(0"), Count(page, "\x1b(B"));  // always back to ASCII
  EXPECT_NE(page.find("\x1b[1;7m QUORIX MAINTENANCE MONITOR"), std::string::npos);
  EXPECT_NE(page.find("\x1b[7mMINOR ALARM\x1b[0m"), std::string::npos);
  EXPECT_NE(page.find("\x1b[4m1 minor\x1b[0m"), std::string::npos);
  EXPECT_TRUE(EndsWith(page, "\x1b[24;1H<"));
}

// The answer-back's round trip with its end mark is the exchange tool's
// integration test; here the other ways it ends.
TEST_F(Exchange, EnqAsksForTheAnswerBackAndReportsIt) {
  LoggedIn();
  // Without an end mark it ends when the terminal falls quiet.
  EXPECT_EQ(Send("ENQ\r"), "ENQ\r\n\x05");
  Send("ABC");
  EXPECT_EQ(Wait(TExchangeHost::kAnswerBackQuietMs - 1), "");
  EXPECT_EQ(Wait(1), "Answer-back: ABC\r\n<");

  // The LF of the command's CR LF line end is not taken for the answer.
  EXPECT_EQ(Send("ENQ\r\n"), "ENQ\r\n\x05");
  EXPECT_EQ(Send("\nX\x04"), "Answer-back: <10>X<4>\r\n<");

  // A terminal that never answers.
  Send("ENQ\r");
  EXPECT_EQ(Wait(TExchangeHost::kAnswerBackWaitMs - 1), "");
  EXPECT_EQ(Wait(1), "Answer-back: (none)\r\n<");
}

// The recorded traces themselves: the exchange tool's integration test.
TEST_F(Exchange, TraceAndMiniWithoutARecordingSaySo) {
  LoggedIn();
  EXPECT_EQ(Send("TRACE\r"), "TRACE\r\n?NO MESSAGE TRACE RECORDED\r\n<");
  EXPECT_EQ(Send("mini\r"), "mini\r\n?NO MINI TRACE RECORDED\r\n<");
}

TEST_F(Exchange, ByeEndsTheSessionAndNothingIsTakenAfterIt) {
  LoggedIn();
  EXPECT_FALSE(Host->Finished());
  EXPECT_EQ(Send("bye\rHELP\r"), "bye\r\nSESSION ENDED\r\n");
  EXPECT_TRUE(Host->Finished());
  EXPECT_EQ(Send("HELP\r"), "");
  LoggedIn();
  Send("LOGOFF\r");
  EXPECT_TRUE(Host->Finished());
}

TEST_F(Exchange, FloodSendsTheMegabytesThenWaitsForTheCursorReport) {
  LoggedIn();
  Send("\r");
  Host->Receive("FLOOD 2\r");
  const std::string out = Take(10000);
  const std::string echo = "FLOOD 2\r\n";
  ASSERT_EQ(out.substr(0, echo.size()), echo);
  ASSERT_TRUE(EndsWith(out, "\x1b[6n"));
  const std::string text = out.substr(echo.size(), out.size() - echo.size() - 4);
  const std::vector<std::string> lines = SplitLines(text);
  EXPECT_GE(text.size(), 2u * 1024 * 1024);
  EXPECT_LT(text.size(), 2u * 1024 * 1024 + 100);  // whole lines, no more than one past
  EXPECT_EQ(text.find('\x1b'), std::string::npos);
  EXPECT_GT(lines.size(), 20000u);
  EXPECT_NE(lines[0], lines[1]);

  // Until the report comes there is no prompt; other bytes do not count.
  EXPECT_EQ(Send("xyz\x1b[2"), "");
  Now += 1250;
  EXPECT_EQ(Send("4;1R"), "\r\nFLOOD 2 MB (" + std::to_string(text.size()) + " BYTES) IN 1.250 S, 1.60 MB/S\r\n<");
}

TEST_F(Exchange, FloodWithCursorAddressingIsDenseInSequences) {
  LoggedIn();
  const std::string out = Send("FLOOD 1 CUP\r");
  const std::regex position("\x1b\\[(\\d+);(\\d+)H");
  int positions = 0;
  for (auto it = std::sregex_iterator(out.begin(), out.end(), position); it != std::sregex_iterator(); ++it) {
    ++positions;
    EXPECT_LE(std::stoi((*it)[1]), 24);
    EXPECT_LE(std::stoi((*it)[2]), 80);
  }
  EXPECT_GT(positions, 1024 * 1024 / 40);
  EXPECT_GT(Count(out, "\x1b[0m"), 1024 * 1024 / 40);
  EXPECT_TRUE(EndsWith(out, "\x1b[0m\x1b[24;1H\x1b[6n"));
  EXPECT_EQ(out.find("\r\n", 13), std::string::npos);  // no line ends after the echo
}

TEST_F(Exchange, FloodParametersAreCheckedAndAFloodWithoutACursorReportGivesUp) {
  LoggedIn();
  EXPECT_EQ(Send("FLOOD\r"), "FLOOD\r\n?MISSING PARAMETER\r\n<");
  for (const std::string bad : {"FLOOD 0", "FLOOD 1025", "FLOOD 1 XYZ", "FLOOD x", "FLOOD 1 CUP 2"})
    EXPECT_EQ(Send(bad + "\r"), bad + "\r\n?INVALID PARAMETER\r\n<");
  Send("FLOOD 1\r");
  EXPECT_EQ(Wait(TExchangeHost::kCursorReportWaitMs - 1), "");
  EXPECT_EQ(Wait(1), "\r\nNO CURSOR POSITION REPORT\r\n<");
}

TEST_F(Exchange, OnASerialLineThereIsNoTelnet) {
  // The banner without Telnet is the serial integration test's.
  EXPECT_EQ(Make(false).find("Terminal type"), std::string::npos);
  // 255 is a character like any other.
  EXPECT_EQ(Send("\xFF\xFD\x18"), "\xFF\xFD");
  EXPECT_EQ(Host->TakeReceived(), "\xFF\xFD\x18");
}

// --- SENDFILE: the transfer sequence, the terminal's answer, the seeded bytes

TEST_F(Exchange, SendFileWithoutACountSends64KAndTheLineEndBeforeTheAnswerIsIgnored) {
  Make(false);
  EXPECT_EQ(Send("sendfile\r\n"), "sendfile\r\n\x1b[>0;1;65536r");
  const std::string sent = Send("Y");
  // The low byte of each mt19937 draw, seed 20261206.
  EXPECT_EQ(sent.substr(0, 65536), RandomBytes(65536, 20261206));
  EXPECT_EQ(sent.substr(65536), "\r\nFILE SENT, 65536 BYTES\r\n<");
}

TEST_F(Exchange, SendFileRefusedUnansweredOrWithABadCountSendsNothing) {
  Make(false);
  Send("SENDFILE 10\r");
  EXPECT_EQ(Send("N"), "\r\n?TRANSFER REFUSED BY TERMINAL\r\n<");
  Send("SENDFILE 10\r");
  EXPECT_EQ(Wait(4999), "");
  EXPECT_EQ(Wait(1), "\r\n?NO ANSWER FROM TERMINAL\r\n<");
  EXPECT_EQ(Send("Y"), "Y");  // too late: an ordinary typed character
  Send("\r");
  for (const char* line : {"SENDFILE 0\r", "SENDFILE -5\r", "SENDFILE 12X\r", "SENDFILE 1 2\r",
                           "SENDFILE 999999999999\r"}) {
    const std::string out = Send(line);
    EXPECT_NE(out.find("?INVALID PARAMETER\r\n<"), std::string::npos) << line;
    EXPECT_EQ(out.find("\x1b[>"), std::string::npos) << line;
  }
}
