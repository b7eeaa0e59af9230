// Helpers of the serial port tests: pseudo-terminal pairs, a fake of the
// driver calls ptys do not answer, and waiting for the event thread.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "comms/lines.h"
#include "comms/serialdriver.h"
#include "support/eventloop.h"

// A pty pair: the component opens SlavePath, the test plays the far end on Master.
struct TPtyPair {
  int Master = -1;
  int Slave = -1;  // kept open so the pair survives the component's closes
  std::string SlavePath;

  TPtyPair() {
    char name[128] = {};
    if (openpty(&Master, &Slave, name, nullptr, nullptr) != 0) return;
    SlavePath = name;
    fcntl(Master, F_SETFL, fcntl(Master, F_GETFL) | O_NONBLOCK);
  }
  ~TPtyPair() {
    CloseMaster();
    if (Slave >= 0) ::close(Slave);
  }
  void CloseMaster() {
    if (Master >= 0) ::close(Master);
    Master = -1;
  }
  void Send(const std::string& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(Master, bytes.data() + done, bytes.size() - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
        continue;
      }
      pollfd ready{Master, POLLOUT, 0};
      poll(&ready, 1, 50);
    }
  }
  // Reads what the component wrote until count bytes came or the time is up.
  std::string Receive(std::size_t count, int timeoutMs = 3000) const {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
      char buffer[4096];
      const ssize_t n = ::read(Master, buffer, sizeof buffer);
      if (n > 0) {
        got.append(buffer, static_cast<std::size_t>(n));
        continue;
      }
      pollfd ready{Master, POLLIN, 0};
      poll(&ready, 1, 20);
    }
    return got;
  }
};

// Reads up to most bytes from the port; what came, or nothing.
inline std::string ReadText(TSerialLine& port, int most) {
  std::string bytes(static_cast<std::size_t>(most), '\0');
  const int n = port.Read(reinterpret_cast<std::uint8_t*>(bytes.data()), most);
  bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return bytes;
}

// The text of the port error the call raises; its code is added when the text names another.
template <typename F>
std::string MessageOf(F&& call) {
  try {
    call();
  } catch (const ECommError& e) {
    const std::string code = std::to_string(e.ErrorCode);
    const std::string text = e.what();
    return text.find("(Error: " + code + ")") != std::string::npos ? text : text + "[code " + code + "]";
  }
  return "(nothing raised)";
}

// Records what the event thread reports, in order, as short words.
struct TEventLog {
  mutable std::mutex Lock;
  std::vector<std::string> Events;
  std::string Data;

  void Add(const std::string& event) {
    std::lock_guard<std::mutex> guard(Lock);
    Events.push_back(event);
  }
  std::vector<std::string> Snapshot() const {
    std::lock_guard<std::mutex> guard(Lock);
    return Events;
  }
  std::string Received() const {
    std::lock_guard<std::mutex> guard(Lock);
    return Data;
  }
  std::size_t Count(const std::string& event) const {
    const std::vector<std::string> events = Snapshot();
    return static_cast<std::size_t>(std::count(events.begin(), events.end(), event));
  }
};

// Modem lines, error counters, the modem wait and breaks as a UART would
// give them; the test moves the lines and raises the counters.
class TFakeSerialDriver : public TSerialDriver {
 public:
  bool CountersSupported = true;
  int BreakError = 0;
  bool BlindWaits = false;  // the modem wait misses every change (only an interrupt ends it)

  int GetModemLines(int, unsigned& lines) override {
    std::lock_guard<std::mutex> guard(Lock);
    ++LineReads;
    lines = Lines;
    return 0;
  }
  int SetModemLines(int, unsigned lines, bool on) override {
    std::lock_guard<std::mutex> guard(Lock);
    Lines = on ? (Lines | lines) : (Lines & ~lines);
    return 0;
  }
  int GetCounters(int, TLineCounters& counters) override {
    std::lock_guard<std::mutex> guard(Lock);
    if (!CountersSupported) return ENOTTY;
    counters = Counters;
    return 0;
  }
  int WaitModemChange(int, unsigned) override {
    std::unique_lock<std::mutex> guard(Lock);
    ++Waiting;
    ++WaitsBegun;
    const unsigned start = Generation;
    Changed.wait(guard, [&] { return (Generation != start && !BlindWaits) || Interrupted; });
    --Waiting;
    if (Interrupted) {
      Interrupted = false;
      return EINTR;
    }
    return 0;
  }
  void InterruptModemWait(pthread_t) override {
    std::lock_guard<std::mutex> guard(Lock);
    Interrupted = true;
    Changed.notify_all();
  }
  bool CanInterruptModemWait() override { return true; }
  int SetBreak(int, bool on) override {
    std::lock_guard<std::mutex> guard(Lock);
    Breaks.push_back(on);
    return BreakError;
  }

  // Sets the input lines; each line that changes is counted as a UART does.
  void SetInputLines(unsigned lines) {
    std::lock_guard<std::mutex> guard(Lock);
    const unsigned changed = (Lines ^ lines) & (mlCts | mlDsr | mlRing | mlDcd);
    if (changed & mlCts) ++Counters.Cts;
    if (changed & mlDsr) ++Counters.Dsr;
    if ((changed & mlRing) && !(lines & mlRing)) ++Counters.Ring;  // trailing edge
    if (changed & mlDcd) ++Counters.Dcd;
    Lines = (Lines & (mlDtr | mlRts)) | lines;
    ++Generation;
    Changed.notify_all();
  }
  void CountErrors(const TLineCounters& more) {
    std::lock_guard<std::mutex> guard(Lock);
    Counters.Frame += more.Frame;
    Counters.Overrun += more.Overrun;
    Counters.Parity += more.Parity;
    Counters.Break += more.Break;
    Counters.BufOverrun += more.BufOverrun;
  }
  unsigned OutputLines() { return Locked([&] { return Lines & (mlDtr | mlRts); }); }
  std::vector<bool> BreakCalls() { return Locked([&] { return Breaks; }); }
  bool SomeoneWaits() { return Locked([&] { return Waiting > 0; }); }
  // How often the input lines were looked at.
  int LineReadCount() { return Locked([&] { return LineReads; }); }
  int WaitCount() { return Locked([&] { return WaitsBegun; }); }
  // Changes the lines and returns once the component waits for the next change.
  bool SetInputLinesAndSettle(unsigned lines) {
    const int before = WaitCount();
    SetInputLines(lines);
    return RunUntil([&] { return WaitCount() > before; });
  }

 private:
  template <typename F>
  auto Locked(F read) -> decltype(read()) {
    std::lock_guard<std::mutex> guard(Lock);
    return read();
  }
  std::mutex Lock;
  std::condition_variable Changed;
  unsigned Lines = 0;
  TLineCounters Counters;
  unsigned Generation = 0;
  int Waiting = 0;
  int WaitsBegun = 0;
  int LineReads = 0;
  bool Interrupted = false;
  std::vector<bool> Breaks;
};
