// End-to-end receive throughput on real lines: a peer writes a stream of
// plain text lines, which travels over loopback TCP (the socket component)
// or a pty pair (the serial component and its event thread), through the
// main window's receive hand-over and the whole receive path into the store.
// The same stream handed to the session in memory, in socket-sized pieces,
// is measured in the same run; the TCP figure should be at least half of it.
#include <fcntl.h>
#include <netinet/in.h>
#include <pty.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "app/coredesktop.h"
#include "app/events.h"
#include "app/handover.h"
#include "app/linewiring.h"
#include "app/session.h"
#include "comms/comm.h"
#include "comms/sockets.h"
#include "comms/transmit.h"
#include "core/settings.h"
#include "receive_support.h"
#include "screen/store.h"

namespace {

constexpr std::size_t kStreamBytes = 32u * 1024 * 1024;
constexpr double kTcpTarget = 0.5;  // of the in-memory figure
constexpr int kRuns = 3;
constexpr int kTimeoutMs = 120000;

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "bench_line_throughput: %s\n", what);
  std::exit(1);
}

// The window side: a session with its components wired as the main window
// wires them, on this thread's event loop.
struct TWindow {
  TTemporaryDirectory Directory{"qelbench"};
  TCoreDesktop Desktop;
  TSession Session{Desktop, Directory.Path().string()};
  TComm Comm;
  TSockets Sockets{Desktop};
  TReceiveHandover Handover{Session};
  TSessionEvents Events{Session};
  TWindow() {
    Session.Settings.Emulation = emVT100;
    Session.StartUp();
    WireLines(Session, Comm, Sockets, Handover, Events);
    Desktop.Handler = [this](const TPostedMessage& message) { Handover.HandleMessage(message); };
  }
};

void RunLoopUntil(const std::function<bool()>& done) {
  QTimer check;
  QObject::connect(&check, &QTimer::timeout, [&] {
    if (done()) QCoreApplication::exit(0);
  });
  check.start(1);
  QTimer::singleShot(kTimeoutMs, [] { QCoreApplication::exit(1); });
  Check(QCoreApplication::exec() == 0, "timed out");
}

double TcpRate(const std::string& stream) {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  Check(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0, "bind");
  Check(listen(listener, 1) == 0, "listen");
  socklen_t size = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
  const int port = ntohs(address.sin_port);

  std::thread peer([&] {
    const int fd = accept(listener, nullptr, nullptr);
    for (std::size_t done = 0; done < stream.size();) {
      const ssize_t n = write(fd, stream.data() + done, stream.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    close(fd);
  });

  TWindow window;
  bool closed = false;
  std::chrono::steady_clock::time_point start;
  window.Events.OnChanged = [&] {
    if (window.Session.Transmit->NetworkConnected) start = std::chrono::steady_clock::now();
  };
  window.Events.OnSessionEnded = [&](const std::string&) { closed = true; };
  window.Session.Settings.HostName.assign("127.0.0.1:" + std::to_string(port));
  window.Session.Transmit->ConnectionControl(ckNetwork, ctOpen);
  RunLoopUntil([&] { return closed; });
  const double seconds = Seconds(start);
  peer.join();
  close(listener);
  Check(window.Session.Screen->Count() > static_cast<int>(stream.size() / 82), "the stream did not reach the store");
  return Megabytes(stream.size()) / seconds;
}

// Counts what the hand-over takes from the serial component.
class TCountingLine : public TSerialLine {
 public:
  explicit TCountingLine(TComm& comm) : Comm(comm) {}
  void SetParams(const TSerialParams& params) override { Comm.SetParams(params); }
  void Open() override { Comm.Open(); }
  void Close() override { Comm.Close(); }
  bool IsOpen() const override { return Comm.IsOpen(); }
  int Read(std::uint8_t* buffer, int count) override {
    const int n = Comm.Read(buffer, count);
    if (n > 0) Taken += static_cast<std::size_t>(n);
    return n;
  }
  int Write(const std::uint8_t* buffer, int count) override { return Comm.Write(buffer, count); }
  std::uint32_t LastError() const override { return Comm.LastError(); }
  int InQueCount() override { return Comm.InQueCount(); }
  void PurgeIn() override { Comm.PurgeIn(); }
  void SetBreak(bool on) override { Comm.SetBreak(on); }
  std::atomic<std::size_t> Taken{0};

 private:
  TComm& Comm;
};

double PtyRate(const std::string& stream) {
  int master = -1, slave = -1;
  char name[128] = {};
  Check(openpty(&master, &slave, name, nullptr, nullptr) == 0, "openpty");
  close(slave);

  TWindow window;
  TCountingLine counting(window.Comm);
  window.Comm.SetPortDevices({name});
  window.Handover.Serial = &counting;
  window.Session.Settings.ComPort = 0;
  window.Session.Settings.BaudRate = cbr115200;
  window.Session.Settings.FlowControl = fcNone;
  const std::uint8_t opened = window.Session.Transmit->ConnectionControl(ckSerial, ctOpen);
  Check(opened == crSerial, "the pty could not be opened");

  const auto start = std::chrono::steady_clock::now();
  std::thread peer([&] {
    for (std::size_t done = 0; done < stream.size();) {
      const ssize_t n = write(master, stream.data() + done, std::min<std::size_t>(65536, stream.size() - done));
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
  });
  RunLoopUntil([&] { return counting.Taken == stream.size() && window.Handover.SerialRxDepth == 0; });
  const double seconds = Seconds(start);
  peer.join();
  window.Session.Transmit->ConnectionControl(ckSerial, ctClose);
  close(master);
  return Megabytes(stream.size()) / seconds;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  const std::string stream = PlainLines(kStreamBytes);
  double memory = 0, tcp = 0, pty = 0;
  for (int run = 0; run < kRuns; ++run) {
    memory = std::max(memory, InMemoryRate(stream));
    tcp = std::max(tcp, TcpRate(stream));
    pty = std::max(pty, PtyRate(stream));
  }
  const double ratio = tcp / memory;
  std::printf("line %.1f MB of text lines  in memory %7.1f MB/s  tcp %7.1f MB/s  ratio %4.2f (target %.1f) %s\n",
              Megabytes(stream.size()), memory, tcp, ratio, kTcpTarget, ratio >= kTcpTarget ? "ok" : "MISSED");
  std::printf("line pty pair  %7.1f MB/s\n", pty);
  return 0;
}
