// A real telnet server (inetutils telnetd behind socat) negotiating with the
// terminal: the terminal-type answer, echo and suppress-go-ahead, the shell's
// prompt and output on the screen, and its end as "Session Closed!".
#include <gtest/gtest.h>

#include "integration/integration_support.h"
#include "terminal/keyboard.h"
#include "transfer/engine.h"

namespace {

bool SentSequence(const std::string& sent, std::initializer_list<int> bytes) {
  std::string wanted;
  for (const int b : bytes) wanted.push_back(static_cast<char>(b));
  return sent.find(wanted) != std::string::npos;
}

TEST(Telnet, TelnetdNegotiatesWithTheTerminalAndItsShellAnswersOnTheScreen) {
  TTelnetServer server;
  ASSERT_TRUE(server.Ready());
  TWindow w;
  w.TapSends();
  const std::string& sent = w.Tap.Sent;
  w.Connect(server.Address());
  ASSERT_TRUE(RunUntil([&] { return w.S.Transmit->NetworkConnected; }));
  // The shell's prompt ("# " for root, "$ " otherwise) on a row of its own.
  ASSERT_TRUE(RunUntil([&] { return w.ShowsRow("#") || w.ShowsRow("$"); })) << w.ScreenText();

  const int IAC = 255, SB = 250, SE = 240, WILL = 251, DO = 253;
  // Answers to telnetd's DO TTYPE and WILL SGA, and the terminal type when asked.
  EXPECT_TRUE(SentSequence(sent, {IAC, WILL, 24})) << "terminal type offered";
  EXPECT_TRUE(SentSequence(sent, {IAC, SB, 24, 0, 'D', 'E', 'C', '-', 'V', 'T', '1', '0', '0', IAC, SE}));
  EXPECT_TRUE(SentSequence(sent, {IAC, DO, 3})) << "go-ahead suppressed";

  w.S.Keyboard->StartText("echo T=$TERM<CR>");
  // telnetd sets TERM from the answer, in lower case.
  ASSERT_TRUE(RunUntil([&] { return w.ShowsRow("T=dec-vt100"); })) << w.ScreenText();
  // The server echoes; the terminal does not echo as well.
  EXPECT_EQ(Count(w.ScreenText(), "echo T=$TERM"), 1) << w.ScreenText();
  EXPECT_EQ(w.S.Settings.LocalEcho, 0);

  w.S.Keyboard->StartText("exit<CR>");
  ASSERT_TRUE(RunUntil([&] { return w.Ended > 0; }));
  RunFor(200);
  EXPECT_EQ(w.Boxes, std::vector<std::string>{"Session Closed!"});
  EXPECT_FALSE(w.S.Transmit->NetworkConnected);
  EXPECT_TRUE(w.Events.Controls.ConnectItem);
}

}  // namespace
