// Receives over a real serial line (a pty pair): megabytes of random bytes
// into a binary receive whose peer goes away in the middle, and a
// host-started receive from qel exchange's SENDFILE through socat into an
// existing file with a limit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>

#include "integration/integration_support.h"
#include "log/logfiles.h"
#include "transfer/commandstate.h"
#include "transfer/engine.h"
#include "transfer/receive.h"

namespace {

// The host's side of a pty: writes the bytes while it reads (and drops)
// whatever the terminal answers, so neither side can block the other, then
// hangs up.
class TPtyHost {
 public:
  explicit TPtyHost(int master) : Master(master) { fcntl(Master, F_SETFL, fcntl(Master, F_GETFL) | O_NONBLOCK); }
  ~TPtyHost() { Join(); }
  void SendAndHangUp(std::string bytes) {
    Worker = std::thread([this, bytes = std::move(bytes)] {
      std::size_t done = 0;
      char sink[4096];
      while (done < bytes.size()) {
        pollfd fd{Master, POLLIN | POLLOUT, 0};
        if (::poll(&fd, 1, 100) <= 0) continue;
        if (fd.revents & POLLIN) {
          [[maybe_unused]] const ssize_t n = ::read(Master, sink, sizeof sink);
        }
        if (fd.revents & POLLOUT) {
          const ssize_t n = ::write(Master, bytes.data() + done, std::min<std::size_t>(4096, bytes.size() - done));
          if (n > 0) done += static_cast<std::size_t>(n);
        }
      }
      Written = done;
      ::close(Master);
    });
  }
  void Join() {
    if (Worker.joinable()) Worker.join();
  }
  std::atomic<std::size_t> Written{0};  // set once the writing is over

 private:
  int Master;
  std::thread Worker;
};

struct TSerialReceive {
  TWindow W;
  TCommandState State;
  TFileReceive Receive{W.S, State};
  std::string Name = W.Dir.file("received.bin");
  int Master = -1;

  // The terminal on the slave end of a fresh pty pair, or on a named device.
  bool Open(const std::string& device = {}) {
    std::string port = device;
    if (port.empty()) {
      int slave = -1;
      char name[256] = {};
      if (openpty(&Master, &slave, name, nullptr, nullptr) != 0) return false;
      ::close(slave);
      port = name;
    }
    W.Comm.SetPortDevices({port});
    W.S.Settings.ComPort = 0;
    W.S.Settings.FlowControl = fcNone;  // XON and XOFF are data here
    W.Events.OnSessionEnded = [this](const std::string&) { W.S.Transfer->LineEnded(); };
    return W.S.Transmit->ConnectionControl(ckSerial, ctOpen) == crSerial;
  }
  bool StartBinary() {
    Receive.AskParameters = [this](bool, const TReceiveParameters&) {
      return std::optional<TReceiveParameters>({Name, false, false});
    };
    return Receive.StartReceive(false);
  }
};

TEST(ReceivePty, APeerThatGoesAwayEndsTheReceiveAndKeepsWhatCame) {
  TSerialReceive r;
  ASSERT_TRUE(r.Open());
  ASSERT_TRUE(r.StartBinary());
  const std::string bytes = RandomBytes(2 * 1024 * 1024, 5);
  TPtyHost host(r.Master);
  host.SendAndHangUp(bytes);
  ASSERT_TRUE(RunUntil([&] { return host.Written == bytes.size(); }, 30000));
  host.Join();
  ASSERT_TRUE(RunUntil([&] { return !r.W.S.Transfer->TransferActive; }, 30000))
      << r.W.S.Files->ReceivedBytes << " received";
  EXPECT_FALSE(r.W.S.Transmit->SerialConnected);
  EXPECT_EQ(r.W.S.Files->TransferFileState, TLogFiles::tsClosed);
  const std::string stored = ReadFileBytes(r.Name);
  // Whatever reached the terminal is in the file, in order.
  EXPECT_GT(stored.size(), 0u);
  EXPECT_TRUE(bytes.compare(0, stored.size(), stored) == 0);
  EXPECT_EQ(stored.size(), r.W.S.Files->ReceivedBytes);
}

// The exchange's SENDFILE data: the low byte of each mt19937 draw, seed 20261206.
std::string SendFileBytes(std::size_t count) { return RandomBytes(count, 20261206); }

// qel exchange on the far end of a socat pty pair, greeted, with the
// terminal's receive file set.
struct TExchangeOnPty {
  TTempDir Dir;
  std::string HostEnd = Dir.file("host");
  std::string TerminalEnd = Dir.file("terminal");
  TSocat Line{Dir.file("socat.log"), {"PTY,rawer,link=" + HostEnd, "PTY,rawer,link=" + TerminalEnd}};
  TSerialReceive R;
  QProcess Exchange;

  ~TExchangeOnPty() {
    R.W.S.Transmit->ConnectionControl(ckSerial, ctClose);
    Exchange.kill();
    Exchange.waitForFinished(5000);
  }
  void Start() {
    ASSERT_TRUE(Line.Ready()) << "socat did not make its ptys";
    ASSERT_TRUE(R.Open(std::filesystem::canonical(TerminalEnd).string()));
    R.W.S.Settings.SendReceiveFileName.assign(R.Name);
    Exchange.start(QEL_TOOL, {"exchange", "--serial", QString::fromStdString(HostEnd)});
    ASSERT_TRUE(Exchange.waitForStarted(5000));
    R.W.Type("\r");  // the exchange greets on the first byte
    ASSERT_TRUE(RunUntil([&] { return R.W.Shows("QUORIX MAINTENANCE MONITOR"); }, 10000)) << R.W.ScreenText();
  }
};

TEST(ReceivePty, TheExchangesReceiveKeepsTheFileItReplacesAndStopsAtTheLimit) {
  TExchangeOnPty x;
  WriteFileBytes(x.R.Name, "PRECIOUS USER DATA");
  ASSERT_NO_FATAL_FAILURE(x.Start());
  TSerialReceive& r = x.R;
  r.W.S.Transfer->HostTransfers.ReceiveLimit = 1 << 20;
  // What comes past the limit is shown: its ENQs must not answer the host.
  r.W.S.Settings.AnswerBack.assign("");
  r.W.Type("SENDFILE 3000000\r");  // an existing file overwritten, says the exchange
  const TBrowse& store = *r.W.S.Screen;
  const auto sent = [&] {
    for (int line = store.Count() - 1; line >= 0 && line >= store.Count() - 200; --line) {
      if (store.GetLineText(line).find("FILE SENT, 3000000 BYTES") != std::string::npos) return true;
    }
    return false;
  };
  ASSERT_TRUE(RunUntil(sent, 120000)) << r.W.S.Files->ReceivedBytes << " received\n" << r.W.ScreenText();
  EXPECT_FALSE(r.W.S.Transfer->TransferActive);
  EXPECT_EQ(ReadFileBytes(r.Name + ".~1~"), "PRECIOUS USER DATA");
  const std::string stored = ReadFileBytes(r.Name);
  EXPECT_EQ(stored.size(), std::size_t(1) << 20);
  const std::string expected = SendFileBytes(1 << 20);
  const auto differ = std::mismatch(stored.begin(), stored.end(), expected.begin(), expected.end());
  EXPECT_TRUE(differ.first == stored.end()) << "the stored bytes differ from the exchange's from byte "
                                            << (differ.first - stored.begin());
  ASSERT_EQ(r.W.Boxes.size(), 1u);
  EXPECT_EQ(r.W.Boxes[0], "The transfer the host started was stopped at the receive limit of 1 MB.\rFile = " + r.Name);
}

}  // namespace
