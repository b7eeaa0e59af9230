// Serial receive: the event thread reads and posts 1144, the window thread
// shows the bytes in bursts, fetches what arrived meanwhile, and waits while
// a box is up or the screen is held. Line errors reach the screen through
// the window thread.
#include <gtest/gtest.h>

#include <thread>

#include "app/handover_support.h"
#include "log/errors.h"
#include "screen/writer.h"

namespace {

TEST(HandoverSerial, BytesReachTheSessionThroughOneMessageAndWhatCameMeanwhileIsFetchedAfterIt) {
  THandoverFixture f;
  f.SerialArrives("first");
  f.SerialArrives(" second");  // the buffer is taken: only noted
  EXPECT_EQ(f.Shown, "");      // nothing is interpreted on the event thread
  EXPECT_EQ(std::tuple(f.Serial.Reads, bool(f.Handover.SerialDataPending), int(f.Handover.SerialRxDepth)),
            std::tuple(1, true, 1));
  ASSERT_EQ(f.Desktop.Queue.size(), 1u);
  EXPECT_EQ(f.Desktop.Queue.front().Message, wmSerialReceive);
  EXPECT_EQ(f.Desktop.Queue.front().WParam, 5);

  f.Desktop.Pump();
  EXPECT_EQ(f.Shown, "first second");
  EXPECT_EQ(std::pair(int(f.Handover.SerialRxDepth), bool(f.Handover.SerialDataPending)),
            std::pair(0, false));
  ASSERT_EQ(f.Desktop.Posted.size(), 2u);
  EXPECT_EQ(f.Desktop.Posted[1].Message, wmSerialReceive);
  EXPECT_EQ(f.Desktop.Posted[1].WParam, 7);
}

TEST(HandoverSerial, PendingMessagesRunAfterEvery201Bytes) {
  THandoverFixture f;
  f.SerialArrives(Pattern(402));
  f.Desktop.Pump();
  EXPECT_EQ(f.Desktop.PendingPumps, 2);
  // The count starts afresh with each message: 200 more bytes make no pump.
  f.SerialArrives(Pattern(200, 'A'));
  f.Desktop.Pump();
  EXPECT_EQ(f.Desktop.PendingPumps, 2);
  EXPECT_EQ(f.Shown, Pattern(402) + Pattern(200, 'A'));
}

TEST(HandoverSerial, SerialBytesAreMaskedByTheDataBitsSocketBytesNever) {
  THandoverFixture f;
  f.S.Transmit->ReceiveMask = 127;  // 7 data bits
  f.SerialArrives("\xC1\xE2\x7F");
  f.Desktop.Pump();
  EXPECT_EQ(f.Shown, "\x41\x62\x7F");

  f.Shown.clear();
  f.S.Transmit->ReceiveMask = 255;  // 8 data bits
  f.SerialArrives("\xC1\xE2");
  f.Desktop.Pump();
  EXPECT_EQ(f.Shown, "\xC1\xE2");

  f.Shown.clear();
  f.S.Transmit->ReceiveMask = 15;
  f.Network.Waiting = "\xC1";
  f.Handover.QelSocketDataAvailable();
  EXPECT_EQ(f.Shown, "\xC1");
}

TEST(HandoverSerial, MoreThanTheBufferHoldsIsFetchedInTurns) {
  THandoverFixture f;
  f.SerialArrives("x");
  const std::string burst = Pattern(TReceiveHandover::kReceiveBufferSize + 903);
  f.SerialArrives(burst);
  f.Desktop.Pump();
  EXPECT_EQ(f.Shown, "x" + burst);
  EXPECT_TRUE(f.Serial.Held.empty());
  EXPECT_EQ(f.Handover.SerialRxDepth, 0);
}

TEST(HandoverSerial, DataArrivingUnderABoxWaitsQuietlyAndIsShownAfterItInOrder) {
  THandoverFixture f;
  f.SerialArrives("before ");
  f.Desktop.Pump();
  std::string shownUnderBox;
  int deliveredUnderBox = 0;
  f.Desktop.OnShow = [&](const TMessageBox&) {
    f.SerialArrives("during ");
    // The message loop runs under the box: the message is taken once and
    // then waits, instead of going round and round for as long as the box is up.
    deliveredUnderBox = f.Desktop.Pump(50);
    f.Handover.TimerTick();  // the box is still up: nothing yet
    deliveredUnderBox += f.Desktop.Pump(50);
    shownUnderBox = f.Shown;
  };
  f.S.Errors->ReportError(ekMessage, 0, "Disk trouble");
  EXPECT_EQ(shownUnderBox, "before ");
  EXPECT_EQ(deliveredUnderBox, 1);
  EXPECT_EQ(f.Handover.SerialRxDepth, 1);  // the buffer stays claimed
  EXPECT_EQ(f.Serial.Reads, 2);

  f.SerialArrives("after");  // only noted: the parked message owns the buffer
  EXPECT_EQ(f.Serial.Reads, 2);
  f.Handover.TimerTick();  // the first tick after the box posts it again, once
  f.Handover.TimerTick();
  EXPECT_EQ(f.Queued(wmSerialReceive), 1);
  f.Desktop.Pump();
  EXPECT_EQ(f.Shown, "before during after");
  EXPECT_EQ(f.Handover.SerialRxDepth, 0);
}

TEST(HandoverSerial, AReadErrorIsWrittenByTheWindowThreadButNothingToReadIsNoError) {
  THandoverFixture f;
  f.Serial.Held = "xy";
  f.Serial.FailWith = 1117;
  std::thread eventThread([&] { f.Handover.QelCommRxChar(2); });
  eventThread.join();
  EXPECT_EQ(f.StoreText().find("[*** Error reading incoming data!]"), std::string::npos);
  EXPECT_EQ(f.Queued(wmSerialLineEvents), 1);
  EXPECT_EQ(f.Handover.SerialRxDepth, 0);

  f.Desktop.Pump();
  EXPECT_NE(f.StoreText().find("[*** Error reading incoming data!]"), std::string::npos);

  f.SerialArrives("z");
  f.Desktop.Pump();
  EXPECT_EQ(f.Shown, "xyz");
  // An announcement of bytes purged by Esc before they were read is no error.
  const std::string before = f.StoreText();
  f.Handover.QelCommRxChar(5);
  EXPECT_TRUE(f.Desktop.Queue.empty());
  EXPECT_EQ(f.Handover.SerialRxDepth, 0);
  EXPECT_EQ(f.StoreText(), before);
}

TEST(HandoverSerial, LineErrorsAreWrittenWithABlankLineAfterEach) {
  THandoverFixture f;
  std::thread eventThread([&] {
    for (unsigned errors : {8u, 12u, 0u, 32768u}) f.Handover.QelCommError(errors);
  });
  eventThread.join();
  EXPECT_EQ(ScreenRow(f.S, 1), "");
  f.Desktop.Pump();
  std::vector<std::string> rows;
  for (int row = 1; row <= 8; ++row) rows.push_back(ScreenRow(f.S, row));
  // 12: parity and framing together.
  EXPECT_EQ(rows, (std::vector<std::string>{"[*** Hardware detected a framing error.]", "",
                                            "[*** General error 12]", "", "[*** General error 0]", "",
                                            "[*** Requested mode is not supported.]", ""}));
}

TEST(HandoverSerial, AFailureOfThePortReachesTheWindowThread) {
  THandoverFixture f;
  std::vector<int> failures;
  f.Handover.OnSerialFailure = [&](int code) { failures.push_back(code); };
  std::thread eventThread([&] { f.Handover.QelCommException(1117); });
  eventThread.join();
  EXPECT_TRUE(failures.empty());
  f.Desktop.Pump();
  EXPECT_EQ(failures, std::vector<int>{1117});
  // On the window thread (a failed open) it is handled at once.
  f.Handover.QelCommException(2);
  EXPECT_EQ(failures, (std::vector<int>{1117, 2}));
}

TEST(HandoverSerial, HeldScreenKeepsDataBackUntilReleasedThenShowsItInOrder) {
  THandoverFixture f;
  int released = 0;
  f.Handover.OnHoldReleased = [&] { ++released; };
  f.SerialArrives("one ");  // its message is out when the hold goes on
  f.Handover.HoldScreenOn();
  f.Desktop.Pump();
  f.SerialArrives("two ");
  f.SerialArrives("three");
  std::thread eventThread([&] { f.Handover.QelCommError(4); });
  eventThread.join();
  f.Desktop.Pump();
  EXPECT_EQ(f.Shown, "");
  EXPECT_EQ(f.StoreText(), "");
  EXPECT_TRUE(f.Desktop.Queue.empty());  // parked, not posted round and round

  f.Handover.ReleaseHold();
  EXPECT_EQ(released, 1);
  f.Desktop.Pump();
  EXPECT_EQ(f.Shown, "one two three");
  EXPECT_NE(f.StoreText().find("[*** Hardware detected a parity error.]"), std::string::npos);
  EXPECT_EQ(f.Handover.SerialRxDepth, 0);
}

TEST(HandoverSerial, DataArrivingDuringTheHoldIsFetchedOnRelease) {
  THandoverFixture f;
  f.Handover.HoldScreenOn();
  f.SerialArrives("while held");
  EXPECT_EQ(f.Serial.Reads, 0);
  EXPECT_TRUE(f.Desktop.Queue.empty());
  f.Handover.ReleaseHold();
  f.Handover.ReleaseHold();  // a second Esc posts nothing more
  EXPECT_EQ(f.Queued(wmSerialReceive), 1);
  f.Desktop.Pump();
  EXPECT_EQ(f.Shown, "while held");
}

TEST(HandoverSerial, ReceivedDataEndsTheStartupPanelAtTheNextTick) {
  THandoverFixture f;
  int done = 0;
  f.Handover.OnStartupPanelDone = [&] { ++done; };
  f.Handover.TimerTick();
  EXPECT_EQ(f.Handover.StartupCountdown, TReceiveHandover::kStartupTicks - 1);
  f.SerialArrives("x");
  EXPECT_EQ(f.Handover.StartupCountdown, 1);
  f.Handover.TimerTick();
  f.Handover.TimerTick();
  EXPECT_EQ(done, 1);
  EXPECT_EQ(f.Handover.StartupCountdown, 0);
}

}  // namespace
