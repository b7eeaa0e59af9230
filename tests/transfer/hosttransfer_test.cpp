// Transfers the host starts with its sequence (ESC [ > P1 ; ... s or r) in a
// whole session: the interpreter recognises them, the sender and the receiver
// of the window run them, and the keyboard and the screen work again as soon
// as they end, however they end.
#include <gtest/gtest.h>

#include <string>

#include "app/mainform.h"
#include "app/session.h"
#include "comms/recordinglines.h"
#include "comms/transmit.h"
#include "log/logfiles.h"
#include "screen/store.h"
#include "support/testing.h"
#include "transfer/commandstate.h"
#include "transfer/engine.h"
#include "transfer/pacedsend.h"
#include "transfer/receive.h"
#include "transfer/simulate.h"

namespace {

std::string AllBytes() {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
  return bytes;
}

struct HostTransfer : ::testing::Test {
  TConnectedSession T;
  TRecordingNetworkLine& Wire = T.Wire;
  TCommandState State;
  TPacedSend Sender{*T.S, State};
  TFileReceive Receiver{*T.S, State};
  std::string Name;

  void SetUp() override {
    Settings().Emulation = emVT100;
    Settings().LocalEcho = 0;
    Settings().NewLine = 0;
    Name = T.Dir.file("exchange.txt");
    Settings().SendReceiveFileName.assign(Name);
  }
  TSetupRecord& Settings() { return T.S->Settings; }
  TTransferEngine& E() { return *T.S->Transfer; }
  void Push(const std::string& bytes) { T.Push(bytes); }
  void Type(const std::string& keys) {
    for (const char c : keys) T.S->HandleSessionEvent(sekKey, static_cast<std::uint8_t>(c));
  }
  void TickWhileSending() {
    for (int i = 0; i < 100000 && (E().Activities & acFileSend); ++i) T.S->TimerTick();
  }
  std::string Row(int row) { return T.Row(row); }
  // Nothing of a transfer is left: no file open, no activity, keys typed
  // reach the host and the host's text reaches the screen.
  void ExpectIdleAndResponsive(int row) {
    EXPECT_FALSE(E().TransferActive);
    EXPECT_EQ(E().Activities & acFileSend, 0u);
    EXPECT_EQ(T.S->Files->TransferFileState, TLogFiles::tsClosed);
    Wire.Sent.clear();
    Type("ok\r");
    EXPECT_EQ(Wire.Sent, "ok\r");
    Push("\x1b[" + std::to_string(row) + ";1Hhost text");
    EXPECT_EQ(Row(row), "host text");
  }
};

TEST_F(HostTransfer, ATextSendGoesOutPacedLikeSendAsciiThenKeysWorkAgain) {
  WriteFileBytes(Name, "line one\nline two\n");
  Settings().EOL = 3;  // CR-LF
  Push("\x1b[>1s");
  EXPECT_EQ(Wire.Sent, "Y");
  EXPECT_TRUE(E().Activities & acFileSend);
  EXPECT_FALSE(State.TransfersEnabled);
  Type("lost");  // keys wait while the file goes out
  Push("echo");  // the host's text is shown meanwhile
  EXPECT_EQ(Row(1), "echo");
  TickWhileSending();
  EXPECT_EQ(Wire.Sent, "Yline one\r\nline two\r\n");
  ExpectIdleAndResponsive(5);
}

TEST_F(HostTransfer, ABinarySendGoesOutByteForByteWithoutAnyConversion) {
  const std::string bytes = AllBytes() + "\r\n\n\r" + AllBytes();
  WriteFileBytes(Name, bytes);
  Settings().EOL = 0;        // CR: a text send would convert every line end
  Settings().EOFCtrlZ = 1;   // and add a Ctrl-Z
  Push("\x1b[>0s");
  TickWhileSending();
  EXPECT_TRUE(Wire.Sent == "Y" + bytes) << "sent " << Wire.Sent.size() << " bytes";
  ExpectIdleAndResponsive(5);
}

TEST_F(HostTransfer, ASendOfAMissingFileIsRefusedAndChangesNothing) {
  Push("\x1b[>1s");
  EXPECT_EQ(Wire.Sent, "N");
  ExpectIdleAndResponsive(3);
}

TEST_F(HostTransfer, CancelStopsASendAtOnce) {
  WriteFileBytes(Name, std::string(1 << 20, 'x'));
  Push("\x1b[>1s");
  T.S->TimerTick();
  TMainForm form(*T.S);
  form.CancelTransfer();
  EXPECT_EQ(E().Activities & acFileSend, 0u);
  const std::size_t sent = Wire.Sent.size();
  T.S->TimerTick();
  EXPECT_EQ(Wire.Sent.size(), sent);
  ExpectIdleAndResponsive(4);
}

TEST_F(HostTransfer, ALostLineEndsASendAndTheNextSessionStartsClean) {
  WriteFileBytes(Name, std::string(1 << 20, 'x'));
  Push("\x1b[>1s");
  T.S->TimerTick();
  ASSERT_TRUE(E().TransferActive);
  Push("\x1b[12;");  // the line drops inside a sequence
  T.S->Transmit->NetworkConnected = false;
  E().LineEnded();
  EXPECT_FALSE(E().TransferActive);
  EXPECT_EQ(T.Desktop.Posted.back().Message, wmTransferEnded);
  T.S->TimerTick();
  EXPECT_EQ(E().Activities & acFileSend, 0u);
  // The next session: its first bytes are its own, and typing reaches it.
  T.S->Transmit->NetworkConnected = true;
  Push("banner");
  EXPECT_EQ(Row(1), "banner");
  ExpectIdleAndResponsive(4);
}

TEST_F(HostTransfer, ARecordingReplayedStartsNoTransfer) {
  WriteFileBytes(Name, "PRECIOUS USER DATA");
  E().Activities |= acSimulate;  // a simulate file is being shown
  const std::string recorded = "\x1b[>0;1;4rdata";
  ReplayBytes(*T.S, reinterpret_cast<const std::uint8_t*>(recorded.data()), recorded.size());
  EXPECT_EQ(Wire.Sent, "N");
  EXPECT_FALSE(E().TransferActive);
  EXPECT_EQ(ReadFileBytes(Name), "PRECIOUS USER DATA");
  EXPECT_EQ(Row(1), "data");
}

TEST_F(HostTransfer, WithoutASenderTheHostsSendIsRefused) {
  WriteFileBytes(Name, "file");
  TConnectedSession bare;  // a session nobody sends files for
  bare.S->Settings.SendReceiveFileName.assign(Name);
  bare.Push("\x1b[>1s");
  EXPECT_EQ(bare.Wire.Sent, "N");
  EXPECT_FALSE(bare.S->Transfer->TransferActive);
}

}  // namespace
