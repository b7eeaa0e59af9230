#include <gtest/gtest.h>

#include <deque>
#include <tuple>
#include <vector>

#include "app/session.h"
#include "comms/lines.h"
#include "comms/transmit.h"
#include "log/logfiles.h"
#include "support/fakelines.h"
#include "support/testing.h"
#include "terminal/interpreter.h"
#include "transfer/engine.h"

namespace {
struct Transmit : ::testing::Test {
  TTestSession T;
  TFakeSerial Serial;
  TFakeNetwork Network;
  TFakeNetwork Secure;  // the SSH line
  TTransmitPath& Path() { return *T.S->Transmit; }
  void SetUp() override {
    Path().Serial = &Serial;
    Path().Network = &Network;
    Path().Secure = &Secure;
  }
  void Send(const std::string& text) {
    for (char c : text) Path().SendByte(static_cast<std::uint8_t>(c));
  }
  void ConnectTelnet() {
    Path().NetworkConnected = true;
    T.S->Settings.Port = 5;
  }
};
}  // namespace

TEST_F(Transmit, SerialOpenTakesTheSettings) {
  T.S->Settings.ComPort = 5;
  T.S->Settings.BaudRate = 1;
  T.S->Settings.DataBits = 3;
  T.S->Settings.Parity = 2;
  T.S->Settings.StopBits = 2;
  T.S->Settings.FlowControl = 3;
  EXPECT_EQ(Path().ConnectionControl(ckSerial, ctOpen), crSerial);
  EXPECT_TRUE(Path().SerialConnected);
  ASSERT_EQ(Serial.Params.size(), 1u);
  const TSerialParams& p = Serial.Params[0];
  EXPECT_EQ(std::tie(p.DeviceName, p.BaudRate, p.DataBits, p.Parity, p.StopBits, p.FlowControl),
            std::make_tuple(std::string("COM6"), 1, 3, 2, 2, 3));
  EXPECT_EQ(std::make_tuple(p.ReadBufSize, p.WriteBufSize, p.Options),
            std::make_tuple(4096, 2048, unsigned(coIgnoreXOff)));
}

TEST_F(Transmit, BudgetAndMaskFollowBaudAndDataBits) {
  const int budgets[] = {5, 15, 30, 60, 100, 100, 100};
  for (int baud = 0; baud < 7; ++baud) {
    T.S->Settings.BaudRate = static_cast<std::uint8_t>(baud);
    Path().ConnectionControl(ckSerial, ctReconfigure);
    EXPECT_EQ(Path().CharsPerTick, budgets[baud]) << baud;
  }
  const int masks[] = {15, 31, 63, 127, 255};
  for (int bits = 0; bits < 5; ++bits) {
    T.S->Settings.DataBits = static_cast<std::uint8_t>(bits);
    Path().ConnectionControl(ckSerial, ctOpen);
    EXPECT_EQ(Path().ReceiveMask, masks[bits]) << bits;
  }
}

TEST_F(Transmit, AFailedOpenIsShownAndLeavesThePortClosed) {
  Serial.OpenError = true;
  EXPECT_EQ(Path().ConnectionControl(ckSerial, ctOpen), crNone);
  EXPECT_FALSE(Path().SerialConnected);
  EXPECT_EQ(BoxTexts(T.Desktop), std::vector<std::string>{"Unable to open com port (Error: 2) "});
}

TEST_F(Transmit, ResultsCombineBothLines) {
  EXPECT_EQ(Path().ConnectionControl(ckNetwork, ctOpen), crNetwork);  // the connect was started
  EXPECT_FALSE(Path().NetworkConnected);  // only the connect event sets it
  EXPECT_EQ(Path().ConnectionControl(ckSerial, ctOpen), crSerial);
  EXPECT_EQ(Path().ConnectionControl(ckNetwork, ctOpen), crBoth);
  Path().NetworkConnected = true;  // the connect event
  EXPECT_EQ(Path().ConnectionControl(ckNetwork, ctReconfigure), crBoth);
  EXPECT_EQ(Path().ConnectionControl(ckSerial, ctClose), crBoth);  // an action that ran is a success
  EXPECT_FALSE(Path().SerialConnected);
  EXPECT_EQ(Serial.Closes, 1);
}

TEST_F(Transmit, NetworkOpenAndClose) {
  T.S->Settings.HostName = "exchange";
  T.S->Settings.Port = 0;
  Path().CharsPerTick = 5;
  Path().ConnectionControl(ckNetwork, ctOpen);
  EXPECT_EQ(std::tie(Network.Host, Network.Port, Network.Connects, Path().CharsPerTick),
            std::make_tuple(std::string("exchange"), std::string("7"), 1, 100));
  EXPECT_FALSE(Path().NetworkConnected);

  T.S->Settings.Port = 255;  // typed outside the list: no port
  Path().StartListen();
  EXPECT_EQ(Network.Port, "");
  EXPECT_EQ(Network.Listens, 1);
}

TEST(PortName, TheTableIsTakenModulo128) {
  const std::pair<int, const char*> names[] = {{5, "23"}, {15, "111"}, {16, ""}, {128 + 1, "9"}, {255, ""}};
  for (const auto& [index, name] : names) EXPECT_EQ(PortName(index), name) << index;
}

TEST_F(Transmit, ByteIacIsDoubledOnTelnetOnly) {
  ConnectTelnet();
  Path().SerialConnected = true;
  // Telnet; Echo; Telnet with the interpreter's own Telnet answers (no translation).
  const std::tuple<int, bool, TBytes> rows[] = {{5, true, {255, 255}}, {0, true, {255}}, {5, false, {255}}};
  for (const auto& [port, translate, sent] : rows) {
    Network.Sends.clear();
    T.S->Settings.Port = static_cast<std::uint8_t>(port);
    Path().TranslateEnabled = translate;
    Path().SendByte(255);
    EXPECT_EQ(Network.All(), sent) << port << translate;
  }
  EXPECT_EQ(Serial.All(), (TBytes{255, 255, 255}));
}

TEST_F(Transmit, EndOfRecordCollectsALine) {
  ConnectTelnet();
  Path().SerialConnected = true;
  T.S->Transmit->EorOption = true;
  Send("ls");
  EXPECT_TRUE(Network.Sends.empty());
  EXPECT_TRUE(Serial.Writes.empty());
  Path().SendByte(255);
  Path().SendByte(13);
  ASSERT_EQ(Network.Sends.size(), 1u);
  EXPECT_EQ(Network.Sends[0], (TBytes{'l', 's', 255, 255, 13, 255, 239}));
  ASSERT_EQ(Serial.Writes.size(), 1u);
  EXPECT_EQ(Serial.Writes[0], Network.Sends[0]);
  EXPECT_TRUE(Path().LineBuffer.empty());
}

TEST_F(Transmit, Tn3270TranslatesOutgoingBytes) {
  Path().NetworkConnected = true;
  T.S->Settings.Port = 0;
  T.S->Settings.Emulation = 3;
  T.S->EbcdicMap.Outgoing['A'] = 0xC1;
  Path().SendByte('A');
  EXPECT_EQ(Network.All(), (TBytes{0xC1}));
}

TEST_F(Transmit, SerialWritesRetryAHundredTimesThenAsk) {
  Path().SerialConnected = true;
  Serial.Failures = 150;
  Serial.Error = 0x1F;
  T.Desktop.Answers = {TMsgResult::Retry};
  Path().SendByte('x');
  // 100 silent attempts, the question, 50 more failures, then success.
  EXPECT_EQ(Serial.WriteCalls, 151);
  ASSERT_EQ(T.Desktop.Boxes.size(), 1u);
  const TMessageBox& box = T.Desktop.Boxes[0].Box;
  EXPECT_EQ(box.Text, "Error writing outgoing data!\r\nError = H'0000001F\r\nDo you wish to continue trying?");
  EXPECT_EQ(box.Buttons, unsigned(mbCancel | mbRetry));
  EXPECT_EQ(box.Icon, TMsgIcon::Error);
  EXPECT_EQ(Serial.All(), (TBytes{'x'}));
}

TEST_F(Transmit, CancelGivesTheByteUpAndAPendingWriteCountsAsSent) {
  Path().SerialConnected = true;
  Serial.Failures = 1000;
  T.Desktop.Answers = {TMsgResult::Cancel};
  Path().SendByte('x');
  EXPECT_EQ(Serial.WriteCalls, 100);
  EXPECT_TRUE(Serial.Writes.empty());
  T.Desktop.Boxes.clear();
  Serial.Failures = 1;
  Serial.Error = 997;
  Path().SendByte('y');
  EXPECT_EQ(Serial.WriteCalls, 101);
  EXPECT_TRUE(T.Desktop.Boxes.empty());
}

TEST_F(Transmit, LineWritesAskWithoutTheCodeAndCancelMakesOneLastAttempt) {
  Path().SerialConnected = true;
  T.S->Transmit->EorOption = true;
  Serial.Failures = 100;
  T.Desktop.Answers = {TMsgResult::Cancel};
  Send("a\r");
  EXPECT_EQ(BoxTexts(T.Desktop),
            std::vector<std::string>{"Error writing outgoing data!\r\nDo you wish to continue trying?"});
  EXPECT_EQ(Serial.WriteCalls, 101);
  ASSERT_EQ(Serial.Writes.size(), 1u);  // the last attempt got through
  EXPECT_EQ(Serial.Writes[0], (TBytes{'a', 13, 255, 239}));
}

TEST_F(Transmit, NothingOpenDropsTheByteButTheCaptureRecordsIt) {
  ASSERT_TRUE(T.S->Files->StartEscapeLog());
  Path().SendByte('q');
  EXPECT_EQ(Serial.WriteCalls, 0);
  EXPECT_TRUE(Network.Sends.empty());
  EXPECT_EQ(T.S->Files->CaptureCount(), 1u);
  T.S->Files->StopEscapeLog();
}

TEST_F(Transmit, BreakOnTelnetIsIacBrkAndNothingElsewhere) {
  ConnectTelnet();
  T.S->Settings.Emulation = 3;  // no translation and no doubling for the command
  T.S->EbcdicMap.Outgoing[255] = 0x9F;
  Path().SendBreak();
  EXPECT_EQ(Network.All(), (TBytes{255, 243}));
  EXPECT_TRUE(Path().TranslateEnabled);

  Network.Sends.clear();
  T.S->Settings.Port = 1;  // Discard
  Path().SendBreak();
  EXPECT_TRUE(Network.Sends.empty());

  T.S->Settings.Port = 5;
  T.S->Transfer->TransferActive = true;  // a receive to file runs
  T.S->Transfer->Direction = drReceive;
  Path().SendBreak();
  EXPECT_TRUE(Network.Sends.empty());
}

TEST_F(Transmit, FlushInputDiscardsEverywhere) {
  Path().SerialConnected = true;
  Path().NetworkConnected = true;
  T.S->Transfer->CaptureRing.Count = 12;
  T.S->Transfer->CaptureRing.WriteIndex = 12;
  Path().FlushInput();
  EXPECT_EQ(Serial.Purges, 1);
  EXPECT_EQ(Network.ReceiveLengths, std::vector<int>{8192});
  EXPECT_EQ(T.S->Transfer->CaptureRing.Count, 0);
  EXPECT_EQ(T.S->Transfer->CaptureRing.WriteIndex, 0);
}

TEST_F(Transmit, CloseTakesDownAnAcceptedCallAndAListenWaitingForOne) {
  Path().StartListen();
  EXPECT_EQ(Network.Listens, 1);
  Path().ConnectionControl(ckNetwork, ctClose);
  EXPECT_EQ(Network.CancelListens, 1);  // nobody called yet: the port is still closed
  EXPECT_EQ(Network.Disconnects, 0);

  Path().StartListen();
  Path().ListenActive = true;  // a call was accepted
  Path().NetworkConnected = true;
  Path().ConnectionControl(ckNetwork, ctClose);
  EXPECT_EQ(Network.CancelListens, 2);
  EXPECT_EQ(Network.Disconnects, 1);
  EXPECT_FALSE(Path().ListenActive || Path().NetworkConnected || Path().NetworkSessionUp());
}

TEST_F(Transmit, AReconfigureTheDriverRefusesIsShownAndKeepsThePortOpen) {
  struct TRefusingSerial : TFakeSerial {
    void SetParams(const TSerialParams& p) override {
      if (Opened) throw ECommError("Device already assigned (open) (Error: 5) ", 5);
      TFakeSerial::SetParams(p);
    }
  } refusing;
  Path().Serial = &refusing;
  ASSERT_EQ(Path().ConnectionControl(ckSerial, ctOpen), crSerial);
  T.S->Settings.BaudRate = 12;
  EXPECT_EQ(Path().ConnectionControl(ckSerial, ctReconfigure), crSerial);
  EXPECT_EQ(BoxTexts(T.Desktop), std::vector<std::string>{"Device already assigned (open) (Error: 5) "});
  EXPECT_TRUE(Path().SerialConnected);
  Path().Serial = &Serial;
}

TEST_F(Transmit, AnSshOpenTakesTheSshPortAndEndsATelnetSessionFirst) {
  ConnectTelnet();
  T.S->Settings.HostName = "eng@exchange";
  T.S->Connection.SshPort = 2222;
  Path().ConnectionControl(ckSecure, ctOpen);
  EXPECT_EQ(Network.Disconnects, 1);
  EXPECT_EQ(std::tie(Secure.Host, Secure.Port, Secure.Connects),
            std::make_tuple(std::string("eng@exchange"), std::string("2222"), 1));
  EXPECT_TRUE(Path().SecureSession);
  EXPECT_FALSE(Path().NetworkConnected) << "the session's connect event sets it";
  EXPECT_EQ(Path().ConnectionResult, crNetwork);

  Path().NetworkConnected = true;
  Path().ConnectionControl(ckNetwork, ctOpen);  // Telnet again: the SSH session goes
  EXPECT_EQ(Secure.Disconnects, 1);
  EXPECT_FALSE(Path().SecureSession);
  EXPECT_EQ(Network.Connects, 1);
}

TEST_F(Transmit, AnSshSessionCarriesBytesAsTheyAreWithoutTelnet) {
  T.S->Settings.Port = kTelnetPortIndex;
  Path().ConnectionControl(ckSecure, ctOpen);
  Path().NetworkConnected = true;
  Send("a\xff");
  EXPECT_EQ(Secure.All(), (TBytes{'a', 255})) << "no IAC doubling";
  EXPECT_TRUE(Network.Sends.empty());

  Secure.Sends.clear();
  Path().SendBreak();
  EXPECT_EQ(Secure.Breaks, 1) << "SSH's own break";
  EXPECT_TRUE(Secure.Sends.empty()) << "no IAC BRK";

  // A host's IAC DO ECHO is text here, not a command to answer.
  const std::uint8_t command[] = {255, 253, 1};
  T.S->ReceiveBytes(command, sizeof command);
  EXPECT_TRUE(Secure.Sends.empty());

  Path().SetTerminalSize(132, 24);
  EXPECT_EQ(Secure.Sizes, (std::vector<std::pair<int, int>>{{132, 24}}));
  Path().ConnectionControl(ckNetwork, ctClose);
  EXPECT_EQ(Secure.Disconnects, 1);
  EXPECT_FALSE(Path().SecureSession);
  Path().SetTerminalSize(80, 24);
  EXPECT_EQ(Secure.Sizes.size(), 1u) << "only an SSH session hears of sizes";
}

TEST_F(Transmit, ListenPassesTheAllowListAndAListTheLineCannotUseKeepsThePortClosed) {
  T.S->Connection.ListenAllow = "10.0.0.0/8";
  Path().StartListen();
  EXPECT_EQ(Network.Allowed, "10.0.0.0/8");
  EXPECT_EQ(Network.Listens, 0) << "this fake takes no list: nothing may listen";
  ASSERT_EQ(T.Desktop.Boxes.size(), 1u);
  EXPECT_NE(T.Desktop.Boxes[0].Box.Text.find("ListenAllow"), std::string::npos);
  T.S->Connection.ListenAllow.clear();
  Path().StartListen();
  EXPECT_EQ(Network.Listens, 1);
}
