// Modem lines, line errors and breaks: a pty carries the data, a fake
// stands in for the driver calls ptys do not answer.
#include <gtest/gtest.h>

#include <atomic>

#include "comms/comm.h"
#include "comms/comm_support.h"

namespace {

class CommModem : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Pty.SlavePath.empty());
    Comm.SetDeviceName(Pty.SlavePath);
    Comm.SetFlowControl(fcNone);
    Comm.OnRxChar = [this](int count) {
      const std::string bytes = ReadText(Comm, count);
      Log.Add("rx " + std::to_string(count));
      std::lock_guard<std::mutex> guard(Log.Lock);
      Log.Data += bytes;
    };
    Comm.OnError = [this](unsigned errors) { Log.Add("error " + std::to_string(errors)); };
    Comm.OnBreak = [this] { Log.Add("break"); };
    Comm.OnCTS = [this] { Log.Add("cts"); };
    Comm.OnDSR = [this] { Log.Add("dsr"); };
    Comm.OnRing = [this] { Log.Add("ring"); };
    Comm.OnRLSD = [this] { Log.Add("rlsd"); };
  }

  // Sends one byte from the far end and waits until its batch has been reported.
  std::vector<std::string> EventsOfOneByte(char byte) {
    const std::size_t before = Log.Snapshot().size();
    const std::size_t dataBefore = Log.Received().size();
    Pty.Send(std::string(1, byte));
    EXPECT_TRUE(RunUntil([&] { return Log.Received().size() == dataBefore + 1; }));
    const auto all = Log.Snapshot();
    return std::vector<std::string>(all.begin() + static_cast<long>(before), all.end());
  }

  TPtyPair Pty;
  TFakeSerialDriver Driver;
  TEventLog Log;
  TComm Comm{&Driver};  // last: closed before what its handlers touch
};

using Events = std::vector<std::string>;

}  // namespace

TEST_F(CommModem, EachInputLineChangeFiresItsEventInTheFixedOrderAndCloseEndsAWait) {
  Comm.Open();
  ASSERT_TRUE(RunUntil([&] { return Driver.SomeoneWaits(); }));
  Driver.SetInputLines(mlDcd | mlDsr | mlCts | mlRing);
  ASSERT_TRUE(RunUntil([&] { return Log.Snapshot().size() == 3; }));
  ASSERT_TRUE(RunUntil([&] { return Driver.SomeoneWaits(); }));
  Driver.SetInputLines(mlDcd | mlDsr | mlCts);  // the ring ends: counted
  ASSERT_TRUE(RunUntil([&] { return Log.Count("ring") == 1; }));
  EXPECT_EQ(Log.Snapshot(), (Events{"cts", "dsr", "rlsd", "ring"}));
  // Closing ends the next wait at once.
  ASSERT_TRUE(RunUntil([&] { return Driver.SomeoneWaits(); }));
  const auto start = std::chrono::steady_clock::now();
  Comm.Close();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_FALSE(Driver.SomeoneWaits());
  EXPECT_FALSE(Comm.IsOpen());
}

TEST_F(CommModem, OnlyMonitoredEventsAndErrorsAreReported) {
  Comm.SetMonitorEvents(kAllCommEvents & ~CommEvent(evCTS) & ~CommEvent(evError));
  Comm.Open();
  ASSERT_TRUE(RunUntil([&] { return Driver.SomeoneWaits(); }));
  ASSERT_TRUE(Driver.SetInputLinesAndSettle(mlCts));
  Driver.SetInputLines(mlCts | mlDsr);
  ASSERT_TRUE(RunUntil([&] { return Log.Count("dsr") == 1; }));
  EXPECT_EQ(Log.Count("cts"), 0u);
  Driver.CountErrors({.Frame = 1});
  EXPECT_EQ(EventsOfOneByte('a'), (Events{"rx 1"}));
}

TEST_F(CommModem, LineErrorsComeBeforeTheBytesOfTheSameEventAndAreClearedOnceReported) {
  Comm.Open();
  Driver.CountErrors({.Frame = 1});
  EXPECT_EQ(EventsOfOneByte('a'), (Events{"error 8", "rx 1"}));
  EXPECT_EQ(EventsOfOneByte('b'), (Events{"rx 1"}));

  Driver.CountErrors({.Overrun = 2, .BufOverrun = 1});
  EXPECT_EQ(EventsOfOneByte('c'), (Events{"error 3", "rx 1"}));
  EXPECT_EQ(Log.Received(), "abc");
}

TEST_F(CommModem, ParityErrorsCountOnlyWithParityCheckingAndABreakComesFirst) {
  Comm.Open();
  Driver.CountErrors({.Parity = 1});
  EXPECT_EQ(EventsOfOneByte('a'), (Events{"rx 1"}));
  Comm.SetOptions(coParityCheck);
  Driver.CountErrors({.Parity = 1});
  EXPECT_EQ(EventsOfOneByte('b'), (Events{"error 4", "rx 1"}));
  // A break fires the break, then the error, then the bytes.
  Driver.CountErrors({.Break = 1});
  EXPECT_EQ(EventsOfOneByte('z'), (Events{"break", "error 16", "rx 1"}));
}

TEST_F(CommModem, SetBreakReachesTheDriverAndPurgesTheQueue) {
  Comm.OnRxChar = nullptr;
  Comm.Open();
  Pty.Send("pending");
  ASSERT_TRUE(RunUntil([&] { return Comm.InQueCount() == 7; }));
  Comm.SetBreak(true);
  EXPECT_EQ(Comm.InQueCount(), 0);
  Comm.SetBreak(false);
  EXPECT_EQ(Driver.BreakCalls(), (std::vector<bool>{true, false}));

  Driver.BreakError = EIO;
  std::vector<int> exceptions;
  Comm.OnException = [&](int code) { exceptions.push_back(code); };
  EXPECT_EQ(MessageOf([&] { Comm.SetBreak(true); }), "EscapeCommFunction failure (Error: 1117) ");
  EXPECT_EQ(exceptions, std::vector<int>{1117});
}

TEST_F(CommModem, DtrAndRtsAreRaisedUnlessTheDeviceKeepsItsOwnFlowSettings) {
  Comm.SetFlowControl(fcDefault);
  Comm.Open();
  EXPECT_EQ(Driver.OutputLines(), 0u);
  Comm.SetFlowControl(fcNone);
  EXPECT_EQ(Driver.OutputLines(), unsigned(mlDtr | mlRts));
}

TEST_F(CommModem, DsrFlowControlHoldsWritesWhileDsrIsLow) {
  Comm.SetFlowControl(fcDTR);
  Comm.SetWriteTimeOut(150);
  Comm.Open();
  const std::string text = "go";
  EXPECT_EQ(Comm.Write(reinterpret_cast<const std::uint8_t*>(text.data()), 2), -1);
  EXPECT_EQ(Comm.LastError(), static_cast<std::uint32_t>(kErrorCounterTimeout));
  EXPECT_EQ(Pty.Receive(1, 100), "");
  Driver.SetInputLines(mlDsr);
  EXPECT_EQ(Comm.Write(reinterpret_cast<const std::uint8_t*>(text.data()), 2), 2);
  EXPECT_EQ(Pty.Receive(2), text);
}

TEST_F(CommModem, DsrSensitivityDropsBytesReceivedWhileDsrIsLow) {
  Comm.SetOptions(coDsrSensitivity);
  Comm.Open();
  // With the counters there, the event thread looks at the lines only to
  // decide about the byte it has just read.
  const int looked = Driver.LineReadCount();
  Pty.Send("L");
  ASSERT_TRUE(RunUntil([&] { return Driver.LineReadCount() > looked; }));
  Driver.SetInputLines(mlDsr);
  ASSERT_TRUE(RunUntil([&] { return Log.Count("dsr") == 1; }));
  Pty.Send("kept");
  ASSERT_TRUE(RunUntil([&] { return Log.Received().size() >= 4; }));
  EXPECT_EQ(Log.Received(), "kept");
}

TEST_F(CommModem, WithoutCountersA377FromTheFarEndIsStillData) {
  // Without counters the marks in the stream tell the errors; a 377 sent by
  // the far end is doubled by the tty layer and must come out as one data byte.
  Driver.CountersSupported = false;
  Comm.Open();
  EXPECT_EQ(EventsOfOneByte('\377'), (Events{"rx 1"}));
  EXPECT_EQ(Log.Received(), "\377");
}

TEST_F(CommModem, AChangeBetweenTwoWaitsIsNotLost) {
  // A change in the instant before a wait begins does not wake that wait;
  // it is seen all the same, a little later.
  Driver.BlindWaits = true;
  Comm.Open();
  ASSERT_TRUE(RunUntil([&] { return Driver.SomeoneWaits(); }));
  Driver.SetInputLines(mlDsr);
  EXPECT_TRUE(RunUntil([&] { return Log.Count("dsr") == 1; }, 3000));
  EXPECT_EQ(Log.Snapshot(), Events{"dsr"});
}
