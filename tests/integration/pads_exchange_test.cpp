// PADS against qel exchange's file server over a pty pair made by socat:
// the session's serial component on one end, the exchange on the other.
// Read, write and deallocate round trips, each injected fault with one retry
// allowed, and the line's settings given back at the end.
#include <gtest/gtest.h>

#include <QAbstractEventDispatcher>
#include <filesystem>

#include "integration/integration_support.h"
#include "transfer/engine.h"
#include "transfer/padssession.h"

namespace {

using namespace pads;

// Runs the protocol as the window does: after every batch of events and
// when its own clock is due, never on a polling timer.
class TPadsDriver {
 public:
  TPadsDriver(TPadsSession& pads, TDesktop& desktop) : Pads(pads), Desktop(desktop) {
    Timer.setSingleShot(true);
    QObject::connect(&Timer, &QTimer::timeout, [this] { Pump(); });
    Connection = QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                                  [this] { Pump(); });
  }
  ~TPadsDriver() { QObject::disconnect(Connection); }
  void Pump() {
    Pads.Pump();
    if (const auto deadline = Pads.Deadline()) {
      const auto wait = static_cast<std::int32_t>(*deadline - Desktop.TickCount());
      Timer.start(std::max(0, wait));
    }
  }

 private:
  TPadsSession& Pads;
  TDesktop& Desktop;
  QTimer Timer;
  QMetaObject::Connection Connection;
};

// Waits the way a window's loop does, blocking until the next event, so the
// driver's hook runs whenever the loop falls idle.
bool RunIdleUntil(const std::function<bool()>& done, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

std::string Pattern(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + seed * 7 + i / 251) & 0xFF);
  return bytes;
}

// Members go in the reverse of the order they are made: the driver first, socat last.
struct PadsExchange : ::testing::Test {
  TTempDir Files;
  std::string LineA, LineB;
  std::unique_ptr<TSocat> Socat;
  std::unique_ptr<TChild> Exchange;
  std::unique_ptr<TWindow> W;
  std::unique_ptr<TPadsSession> Pads;
  std::unique_ptr<TPadsDriver> Driver;

  std::string ServerFile(int device, int file) const {
    char name[32];
    std::snprintf(name, sizeof name, "D%03uF%05u.PAD", unsigned(device), unsigned(file));
    return (Files.path() / "server" / name).string();
  }

  void SetUp() override {
    std::filesystem::create_directories(Files.path() / "server");
    LineA = Files.file("ttyA");
    LineB = Files.file("ttyB");
    Socat = std::make_unique<TSocat>(Files.file("socat.log"),
                                     std::vector<std::string>{"PTY,rawer,link=" + LineA, "PTY,rawer,link=" + LineB});
    ASSERT_TRUE(Socat->Ready()) << "socat did not make its ptys";
  }

  void StartExchange(const std::vector<std::string>& faults = {}) {
    std::vector<std::string> argv{QEL_TOOL, "exchange", "--serial", LineA, "--pads-dir", (Files.path() / "server").string()};
    argv.insert(argv.end(), faults.begin(), faults.end());
    Exchange = std::make_unique<TChild>(argv);
  }

  // The user's way in: PAD, the password prompt, the password, the window.
  void Link(int retries) {
    W = std::make_unique<TWindow>();
    TSetupRecord& settings = W->S.Settings;
    W->Comm.SetPortDevices({LineB});
    settings.ComPort = 0;
    settings.BaudRate = 10;
    // A pty keeps 8 data bits without parity; stop bits and flow control it takes.
    settings.StopBits = 2;
    settings.FlowControl = 3;
    settings.PadsRetries = static_cast<std::uint8_t>(retries);
    settings.PadsDelay = 0;
    settings.ImprovedProtocol = 1;
    ASSERT_EQ(W->S.Transmit->ConnectionControl(ckSerial, ctOpen), crSerial) << (W->Boxes.empty() ? "" : W->Boxes[0]);
    ASSERT_TRUE(RunUntil([&] { return W->Shows("QUORIX PADS FILE SERVER"); })) << W->ScreenText();
    W->Type("PAD");
    ArmPasswordWatch(W->S);
    W->Type("\r");
    ASSERT_TRUE(RunUntil([&] { return W->S.Transfer->PadsPrompt.Text.find("PASSWORD:") != std::string::npos; }));
    W->Type("SECRET");
    StartCapture(W->S);
    W->Type("\r");
    Pads = std::make_unique<TPadsSession>(W->S);
    Driver = std::make_unique<TPadsDriver>(*Pads, W->Desktop);
    ASSERT_TRUE(Pads->Open());
    Driver->Pump();
    ASSERT_TRUE(RunIdleUntil([&] { return !Pads->Protocol().Busy(); }, 30000)) << Listed() << W->ScreenText();
    ASSERT_EQ(Pads->Protocol().State, psActive) << Listed();
  }

  bool Run(const std::string& command, int timeoutMs = 40000) {
    Pads->Execute(command);
    Driver->Pump();
    return RunIdleUntil([&] { return !Pads->Protocol().Busy(); }, timeoutMs);
  }
  bool Listed(const std::string& line) const {
    const auto& lines = Pads->Protocol().Lines;
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  std::string Listed() const {
    std::string all;
    for (const auto& l : Pads->Protocol().Lines) all += l + "\n";
    return all;
  }

  void ExitAndCheckTheLine() {
    ASSERT_TRUE(Run("EXIT"));
    EXPECT_TRUE(Pads->Protocol().Finished);
    EXPECT_FALSE(W->S.Transfer->TransferActive);
    // Back in line mode on the line's own settings (Session's tests check
    // which), the server answers typed text again.
    W->Type("HELLO\r");
    EXPECT_TRUE(RunUntil([&] { return W->Shows("TYPE PAD TO START THE FILE SERVER"); }, 5000)) << W->ScreenText();
  }

  // One read with one retry allowed; the fault must be met and overcome.
  // Returns how long the read took, in milliseconds.
  long ReadThrough(const std::vector<std::string>& fault, const std::string& expectedLine) {
    const std::string content = Pattern(10000, 3);
    WriteFileBytes(ServerFile(1, 2), content);
    StartExchange(fault);
    Link(2);
    if (HasFatalFailure()) return 0;
    const std::string local = Files.file("read.GLS");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(Run("READ 1,2 " + local)) << Listed();
    const long took = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
    EXPECT_EQ(ReadFileBytes(local), content) << Listed();
    EXPECT_TRUE(Listed(expectedLine)) << Listed();
    EXPECT_EQ(Pads->Protocol().Lines.back(), "Waiting for input");
    ExitAndCheckTheLine();
    return took;
  }
};

TEST_F(PadsExchange, ReadWriteAndDeallocateRoundTrips) {
  const std::string content = Pattern(3 * 4096 + 77, 1);
  WriteFileBytes(ServerFile(1, 2), content);
  StartExchange();
  ASSERT_NO_FATAL_FAILURE(Link(3));
  EXPECT_TRUE(Listed("Blocksize Load : 4096")) << Listed();
  EXPECT_TRUE(Listed("New Protocol   : Yes"));

  const std::string local = Files.file("copy.GLS");
  ASSERT_TRUE(Run("READ 1,2 " + local));
  EXPECT_EQ(ReadFileBytes(local), content) << Listed();

  const std::string upload = Files.file("up.PLS");
  const std::string written = Pattern(2 * 4096, 9);  // an exact multiple: an empty last block
  WriteFileBytes(upload, written);
  ASSERT_TRUE(Run("WRITE 1,3 " + upload));
  EXPECT_EQ(ReadFileBytes(ServerFile(1, 3)), written) << Listed();

  ASSERT_TRUE(Run("DEA 1,3"));
  EXPECT_FALSE(std::filesystem::exists(ServerFile(1, 3))) << Listed();
  EXPECT_TRUE(Listed("Physical file name = D001F00003.PAD    "));
  ASSERT_FALSE(W->Boxes.empty());
  EXPECT_EQ(W->Boxes.back(), "D001F00003.PAD    \r\nConfirm Y/N");

  ASSERT_TRUE(Run("REA 1,3 " + Files.file("gone")));
  EXPECT_TRUE(Listed("?? Unsuccesfull open. Main code = 10")) << Listed();
  ExitAndCheckTheLine();
}

TEST_F(PadsExchange, ADroppedFrameTimesOutAndIsRetried) {
  // The link's answer: nothing else follows it, so the wait runs out.
  ReadThrough({"--drop-frame", "1"}, "### ERROR ### Timeout on reception     : tries = 1");
}

TEST_F(PadsExchange, ALostBlockAnswerIsTakenForTheWrongMessageAndRetried) {
  // The block's data frames come where its answer was due.
  ReadThrough({"--drop-frame", "3"}, "### ERROR ### Wrong msg error");
}

TEST_F(PadsExchange, AFrameStalledHalfwayIsWaitedFor) {
  // A data frame of the first block: the read waits for its second half
  // and goes on without an error or a second try.
  const long took = ReadThrough({"--stall", "4", "--stall-ms", "1500"}, "Waiting for input");
  EXPECT_GE(took, 1400);
  for (const std::string& line : Pads->Protocol().Lines) EXPECT_EQ(line.find("ERROR"), std::string::npos) << line;
}

TEST_F(PadsExchange, AWriteWithACorruptAnswerLosesNothing) {
  StartExchange({"--corrupt-check", "4"});  // the answer to the first data frame
  ASSERT_NO_FATAL_FAILURE(Link(2));
  const std::string upload = Files.file("up.DUF");
  const std::string written = Pattern(9000, 5);
  WriteFileBytes(upload, written);
  ASSERT_TRUE(Run("WRI 2,7 " + upload));
  EXPECT_EQ(ReadFileBytes(ServerFile(2, 7)), written) << Listed();
  EXPECT_TRUE(Listed("### ERROR ### CRC fault on reception   : tries = 1")) << Listed();
  ExitAndCheckTheLine();
}

}  // namespace
