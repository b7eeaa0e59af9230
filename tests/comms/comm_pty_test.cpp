// The serial component on real pseudo-terminals with the kernel's driver.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "comms/comm.h"
#include "comms/comm_support.h"
#include "comms/termios2.h"

namespace {

// Opens a transparent 8N1 line on the pair; collects what arrives on the event thread.
void OpenTransparent(TComm& comm, const TPtyPair& pty, TEventLog* log = nullptr) {
  comm.SetDeviceName(pty.SlavePath);
  comm.SetFlowControl(fcNone);
  if (log) {
    comm.OnRxChar = [&comm, log](int count) {
      const std::string bytes = ReadText(comm, count);
      std::lock_guard<std::mutex> guard(log->Lock);
      log->Events.push_back("rx");
      log->Data += bytes;
    };
  }
  comm.Open();
}

std::size_t OpenDescriptors() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

int WriteText(TComm& comm, const std::string& text) {
  return comm.Write(reinterpret_cast<const std::uint8_t*>(text.data()), static_cast<int>(text.size()));
}

// A port on a pty pair, opened as a transparent line; with collect, Log
// reads what arrives on the event thread.
class CommPty : public ::testing::Test {
 protected:
  void Open(bool collect = false) { OpenTransparent(Comm, Pty, collect ? &Log : nullptr); }
  TPtyPair Pty;
  TEventLog Log;
  TComm Comm;  // closed first: its event thread may still write to Log
};

}  // namespace

TEST(CommOpen, ComNamesPickTheConfiguredDevicesAndAMissingDeviceIsAnAccessError) {
  TPtyPair pty;
  TComm comm;
  std::vector<int> exceptions;
  comm.OnException = [&](int code) { exceptions.push_back(code); };
  comm.SetPortDevices({"/dev/qelwin-a", "/dev/qelwin-b", pty.SlavePath});
  comm.SetDeviceName("com3");
  EXPECT_EQ(comm.DevicePath(), pty.SlavePath);
  comm.SetDeviceName("COM4");  // beyond the list: a name like any other, and no device
  EXPECT_EQ(comm.DevicePath(), "COM4");
  EXPECT_EQ(MessageOf([&] { comm.Open(); }), "Error accessing specified device (Error: 2) ");
  EXPECT_EQ(exceptions, std::vector<int>{2});
  EXPECT_FALSE(comm.IsOpen());
  EXPECT_EQ(comm.InQueCount(), -1);
  comm.SetDeviceName("COM3");
  comm.SetFlowControl(fcNone);
  comm.Open();
  EXPECT_TRUE(comm.IsOpen());
  EXPECT_EQ(TComm::DefaultPortDevices().size(), 8u);
}


TEST(CommOpen, ASecondOpenOfTheSameDeviceIsDenied) {
  TPtyPair pty;
  TComm first;
  OpenTransparent(first, pty);
  TComm second;
  second.SetDeviceName(pty.SlavePath);
  EXPECT_EQ(MessageOf([&] { second.Open(); }), "Error accessing specified device (Error: 5) ");
  first.Close();
  second.SetFlowControl(fcNone);
  second.Open();  // free again once the first has let go
  EXPECT_TRUE(second.IsOpen());
}

TEST(CommOpen, AFailedOpenGivesItsReasonAndLeavesThePortClosed) {
  TPtyPair pty;
  const std::string file = std::filesystem::temp_directory_path() / "qelwin-comm-plain-file";
  std::ofstream(file) << "x";
  const std::string notSerial = "Invalid device handle, access denied (Error: -1) ";
  const std::pair<std::function<void(TComm&)>, std::string> rows[] = {
      {[&](TComm& c) { c.SetDeviceName(file); }, notSerial},
      {[](TComm& c) { c.SetDeviceName("/dev/null"); }, notSerial},
      {[](TComm& c) { c.SetDatabits(da4); }, "Error updating DataControlBlock (Error: 87) "},  // no UART has 4
      {[](TComm& c) { c.SetReadBufSize(0); }, "Error initializing Read/Write Buffers (Error: 87) "},
      {[](TComm& c) { c.SetCharsTimeOut(-1); }, "Error updating CommTimeouts (Error: 87) "}};
  for (const auto& [change, message] : rows) {
    TComm comm;
    comm.SetDeviceName(pty.SlavePath);
    change(comm);
    EXPECT_EQ(MessageOf([&] { comm.Open(); }), message);
    EXPECT_FALSE(comm.IsOpen()) << message;
  }
  std::filesystem::remove(file);
}

TEST_F(CommPty, DeviceAndQueueSettersAreRefusedWhileOpen) {
  Open();
  const std::string refused = "Device already assigned (open) (Error: -1) ";
  EXPECT_EQ(MessageOf([&] { Comm.SetDeviceName("COM1"); }), refused);
  EXPECT_EQ(MessageOf([&] { Comm.SetReadBufSize(100); }), refused);
  EXPECT_EQ(MessageOf([&] { Comm.SetWriteBufSize(100); }), refused);
  EXPECT_EQ(MessageOf([&] { Comm.SetMonitorEvents(CommEvent(evRxChar)); }), refused);
  EXPECT_EQ(Comm.ReadBufSize(), 4096);
  EXPECT_EQ(Comm.DeviceName(), Pty.SlavePath);
  EXPECT_TRUE(Comm.IsOpen());
}

TEST(CommOpen, EscapeFunctionsNeedAnOpenPortAndOtherCallsAreHarmlessWhenClosed) {
  TComm comm;
  const std::string refused = "Port not open, unable to complete operation (Error: -1) ";
  EXPECT_EQ(MessageOf([&] { comm.SetBreak(true); }), refused);
  EXPECT_EQ(MessageOf([&] { comm.SetXonState(false); }), refused);
  std::uint8_t byte = 'x';
  EXPECT_EQ(comm.Write(&byte, 1), -1);
  EXPECT_EQ(comm.Read(&byte, 1), -1);
  EXPECT_EQ(comm.InQueCount(), -1);
  comm.PurgeIn();
  comm.Close();
  EXPECT_FALSE(comm.IsOpen());
}

TEST_F(CommPty, EveryBaudRateOfTheListReachesTheOpenDeviceAndNoOtherAndDataKeepsFlowing) {
  Open(true);
  const std::uint32_t expected[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                    19200, 38400, 56000, 57600, 115200, 128000, 256000};
  for (unsigned i = 0; i < 15; ++i) {
    Comm.SetBaudRate(static_cast<TBaudRate>(i));
    TLineSettings actual;
    ASSERT_TRUE(ReadLineSettings(Pty.Master, actual));  // the master sees the slave's settings
    EXPECT_EQ(actual.BaudRate, expected[i]) << "index " << i;
  }
  Pty.Send("after");
  EXPECT_TRUE(RunUntil([&] { return Log.Received() == "after"; }));
  EXPECT_EQ(WriteText(Comm, "written"), 7);
  EXPECT_EQ(Pty.Receive(7), "written");
  // An index outside the list is refused.
  TSerialParams params;
  params.DeviceName = Pty.SlavePath;
  params.BaudRate = 15;
  params.FlowControl = fcNone;
  EXPECT_EQ(MessageOf([&] { Comm.SetParams(params); }), "Error updating DataControlBlock (Error: 87) ");
}

TEST_F(CommPty, StopBitsFlowControlAndFlowCharactersReachTheDevice) {
  Open();
  // Each change, then two stop bits, CTS flow, software flow, XON and XOFF as the device has them.
  const std::pair<std::function<void()>, std::tuple<bool, bool, bool, int, int>> steps[] = {
      {[] {}, {false, false, false, 17, 19}},
      {[&] { Comm.SetStopbits(sb15); }, {true, false, false, 17, 19}},  // no 1.5 on this driver: two
      {[&] { Comm.SetStopbits(sb20); }, {true, false, false, 17, 19}},
      {[&] { Comm.SetFlowControl(fcCTS); }, {true, true, false, 17, 19}},
      {[&] { Comm.SetFlowControl(fcDefault); }, {true, true, false, 17, 19}},  // leaves them as they are
      {[&] { Comm.SetFlowControl(fcSoftware); }, {true, false, true, 17, 19}},
      {[&] { Comm.SetEventChars(TCommEventChars{0x21, 0x23, 0, 0}); }, {true, false, true, 0x21, 0x23}},
      {[&] { Comm.SetFlowControl(fcNone); }, {true, false, false, 0x21, 0x23}}};
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    steps[i].first();
    TLineSettings s;
    ASSERT_TRUE(ReadLineSettings(Pty.Master, s));
    EXPECT_EQ(std::make_tuple(s.TwoStopBits, s.CtsFlow, s.SoftwareFlow, int(s.XonChar), int(s.XoffChar)),
              steps[i].second)
        << "step " << i;
  }
}

TEST_F(CommPty, ParityThePtyCannotCarryIsReportedAsRefused) {
  // Ptys force 8 bits without parity: the settings read back tell.
  Open();
  for (TParity parity : {paOdd, paEven, paMark, paSpace}) {
    Comm.SetParity(paNone);
    EXPECT_EQ(MessageOf([&] { Comm.SetParity(parity); }), "Error updating DataControlBlock (Error: 87) ")
        << int(parity);
  }
  Comm.SetParity(paNone);
  EXPECT_EQ(MessageOf([&] { Comm.SetDatabits(da7); }), "Error updating DataControlBlock (Error: 87) ");
}

TEST_F(CommPty, AFullInputQueueHoldsBackTheRestWithoutLosingIt) {
  Comm.SetReadBufSize(64);
  std::atomic<int> calls{0};
  std::atomic<int> largest{0};
  Comm.OnRxChar = [&](int count) {  // does not read, like a window that is busy
    ++calls;
    largest = std::max(largest.load(), count);
  };
  Open();
  std::string sent;
  for (int i = 0; i < 1000; ++i) sent += static_cast<char>('A' + i % 26);
  Pty.Send(sent);
  ASSERT_TRUE(RunUntil([&] { return Comm.InQueCount() == 64; }));
  // The event that filled the queue is the last one; once it has run, nothing more may come.
  ASSERT_TRUE(RunUntil([&] { return largest == 64; }));
  const int callsWhileFull = calls;
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(calls, callsWhileFull) << "events keep coming for data nobody takes";
  EXPECT_EQ(largest, 64);

  std::string got;
  ASSERT_TRUE(RunUntil([&] {
    const std::string piece = ReadText(Comm, 100);
    EXPECT_LE(piece.size(), 64u);
    got += piece;
    return got.size() >= sent.size();
  }));
  EXPECT_EQ(got, sent);
}

TEST_F(CommPty, PurgeInEmptiesTheQueueAndReadThenReportsNothingPending) {
  Open();
  Pty.Send("stale data");
  ASSERT_TRUE(RunUntil([&] { return Comm.InQueCount() == 10; }));
  Comm.PurgeIn();
  EXPECT_EQ(Comm.InQueCount(), 0);
  std::uint8_t buffer[16];
  EXPECT_EQ(Comm.Read(buffer, 16), -1);
  EXPECT_EQ(Comm.LastError(), kErrorIoPending);
  Pty.Send("new");
  ASSERT_TRUE(RunUntil([&] { return Comm.InQueCount() == 3; }));
  EXPECT_EQ(ReadText(Comm, 16), "new");
}

TEST_F(CommPty, NullStripAndTheEventCharacter) {
  Comm.SetOptions(coNullStrip);
  Comm.SetEventChars(TCommEventChars{17, 19, 0, '\r'});
  Comm.OnRxFlag = [&] { Log.Add("flag"); };
  Open(true);
  Pty.Send(std::string("A\0B\0", 4));
  ASSERT_TRUE(RunUntil([&] { return Log.Received() == "AB"; }));
  EXPECT_EQ(Log.Count("flag"), 0u);
  Pty.Send("C\r");
  ASSERT_TRUE(RunUntil([&] { return Log.Received() == "ABC\r"; }));
  EXPECT_EQ(Log.Count("flag"), 1u);
  // The flag comes after the received bytes' event of the same batch.
  const auto events = Log.Snapshot();
  EXPECT_EQ(events.back(), "flag");
}

TEST_F(CommPty, XoffHoldsWritesUntilXonAndAStuckWriteGivesUp) {
  Open();
  Comm.SetWriteTimeOut(200);
  Comm.SetXonState(false);
  const std::string text = "held";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WriteText(Comm, text), -1);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
  EXPECT_EQ(Comm.LastError(), static_cast<std::uint32_t>(kErrorCounterTimeout));
  EXPECT_EQ(Pty.Receive(1, 100), "");
  Comm.SetXonState(true);
  EXPECT_EQ(WriteText(Comm, text), 4);
  EXPECT_EQ(Pty.Receive(4), text);
}

TEST_F(CommPty, TheOutputQueueRunningEmptyIsAnEventWhenMonitored) {
  std::atomic<int> empties{0};
  Comm.OnTxEmpty = [&] { ++empties; };
  Open();
  const std::string text = "drain";
  EXPECT_EQ(WriteText(Comm, text), 5);
  EXPECT_EQ(Pty.Receive(5), text);
  ASSERT_TRUE(RunUntil([&] { return empties == 1; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(empties, 1);

  Comm.Close();
  Comm.SetMonitorEvents(kAllCommEvents & ~CommEvent(evTxEmpty));
  Comm.Open();
  EXPECT_EQ(WriteText(Comm, text), 5);
  EXPECT_EQ(Pty.Receive(5), text);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(empties, 1);
}

TEST(CommLifetime, TheDeviceGoingAwayIsReportedOnce) {
  // (The kernel drops what the slave had not yet read when the master goes:
  // the bytes are taken first here.)
  auto pty = std::make_unique<TPtyPair>();
  TComm comm;
  TEventLog log;
  comm.OnException = [&](int code) { log.Add("exception " + std::to_string(code)); };
  OpenTransparent(comm, *pty, &log);
  pty->Send("last words");
  ASSERT_TRUE(RunUntil([&] { return log.Received() == "last words"; }));
  pty->CloseMaster();
  ASSERT_TRUE(RunUntil([&] { return log.Count("exception 1117") == 1; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(log.Count("exception 1117"), 1u);
  EXPECT_EQ(log.Snapshot().back(), "exception 1117");
  const std::uint8_t byte = 'x';
  EXPECT_EQ(comm.Write(&byte, 1), -1);
  comm.Close();
  EXPECT_FALSE(comm.IsOpen());
}

TEST_F(CommPty, AHandlerMayCloseThePortFromTheEventThread) {
  std::atomic<int> calls{0};
  Comm.OnRxChar = [&](int) {
    if (++calls == 1) Comm.Close();
  };
  Open();
  Pty.Send("x");
  ASSERT_TRUE(RunUntil([&] { return calls == 1 && !Comm.IsOpen(); }));
  Pty.Send("y");
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(calls, 1);
  Comm.Open();  // and it opens again, on a new thread
  Pty.Send("z");
  // The "y" may have come after the closing thread purged the input and still
  // wait in the Pty: then it arrives first, in an event of its own.
  std::string received;
  EXPECT_TRUE(RunUntil([&] {
    received += ReadText(Comm, 16);
    return !received.empty() && received.back() == 'z';
  }));
  EXPECT_TRUE(received == "z" || received == "yz") << received;
  EXPECT_GE(calls, 2);
  EXPECT_TRUE(Comm.IsOpen());
}

TEST_F(CommPty, OpenAndCloseLeaveNoDescriptorsOrThreadsBehind) {
  Open();
  Comm.Close();
  const std::size_t before = OpenDescriptors();
  for (int i = 0; i < 25; ++i) {
    Comm.Open();
    Comm.Close();
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(CommPty, PostedEventsRunWhereTheyAreRunAndNotAfterClose) {
  std::mutex lock;
  std::vector<std::function<void()>> queue;
  Comm.PostEvent = [&](std::function<void()> event) {
    std::lock_guard<std::mutex> guard(lock);
    queue.push_back(std::move(event));
  };
  std::string got;
  std::thread::id handlerThread;
  Comm.OnRxChar = [&](int count) {
    handlerThread = std::this_thread::get_id();
    got += ReadText(Comm, count);
  };
  Open();
  Pty.Send("posted");
  auto runQueue = [&] {
    std::vector<std::function<void()>> events;
    {
      std::lock_guard<std::mutex> guard(lock);
      events.swap(queue);
    }
    for (auto& event : events) event();
    return events.size();
  };
  ASSERT_TRUE(RunUntil([&] {
    runQueue();
    return got == "posted";
  }));
  EXPECT_EQ(handlerThread, std::this_thread::get_id());

  Pty.Send("late");
  ASSERT_TRUE(RunUntil([&] {
    std::lock_guard<std::mutex> guard(lock);
    return !queue.empty();
  }));
  Comm.Close();
  runQueue();  // events of a closed port do nothing
  EXPECT_EQ(got, "posted");
}
