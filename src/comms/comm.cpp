#include "comms/comm.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <system_error>

#include "comms/serialdriver.h"
#include "comms/serialinput.h"
#include "comms/termios2.h"
#include "log/errors.h"

namespace {

constexpr std::array<std::uint32_t, 15> kBaudRates = {
    110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};

constexpr int kMaxQueueSize = 16 * 1024 * 1024;
constexpr std::size_t kReadChunk = 4096;
// While a write waits to drain, the thread looks at the output queue this often.
constexpr int kTxEmptyPollMs = 10;
constexpr int kWritePollMs = 50;
constexpr int kDsrPollMs = 10;
constexpr int kModemRecheckMs = 1000;

unsigned ModemLinesOf(TCommEvents events) {
  unsigned lines = 0;
  if (events & CommEvent(evCTS)) lines |= mlCts;
  if (events & CommEvent(evDSR)) lines |= mlDsr;
  if (events & CommEvent(evRing)) lines |= mlRing;
  if (events & CommEvent(evRlsd)) lines |= mlDcd;
  return lines;
}

using TClock = std::chrono::steady_clock;

}  // namespace

std::uint32_t BaudRateValue(unsigned baudRate) {
  return baudRate < kBaudRates.size() ? kBaudRates[baudRate] : 0;
}

// One open device: shared by the component and its threads, so that a
// thread told to stop never outlives what it touches.
struct TComm::TPort {
  int Fd = -1;
  int Wake = -1;  // eventfd: stop requests, modem changes, room in the queue, writes
  TCommEvents Monitored = 0;
  unsigned ModemMask = 0;
  bool HasCounters = false;
  bool HasModemLines = false;
  // Taken at open, so that anything counted after Open returns is an event.
  TLineCounters Counters;
  unsigned Lines = 0;

  std::atomic<bool> Stop{false};
  std::atomic<bool> ModemDone{true};
  std::atomic<bool> TxPending{false};
  std::atomic<bool> ParityCheck{false};
  std::atomic<bool> DsrSensitive{false};

  std::mutex Lock;  // guards what follows
  TByteRing Input;
  TSerialInputDecoder Decoder;
  TInputFilter Filter;
  unsigned PendingErrors = 0;

  ~TPort() {
    if (Wake >= 0) ::close(Wake);
    if (Fd < 0) return;
    ioctl(Fd, TIOCNXCL);  // the exclusive flag outlives this descriptor otherwise
    ::close(Fd);
  }
  void Notify() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(Wake, &one, sizeof one);
  }
  // Empties the input queue and the driver's; wakes the thread if it had stopped reading.
  void DiscardInput() {
    std::lock_guard<std::mutex> guard(Lock);
    const bool wasFull = Input.Room() == 0;
    Input.Clear();
    Decoder.Reset();
    tcflush(Fd, TCIFLUSH);
    if (wasFull) Notify();
  }
};

TComm::TComm(TSerialDriver* driver)
    : Driver(driver ? *driver : KernelSerialDriver()), PortDevices(DefaultPortDevices()) {}

TComm::~TComm() {
  OnException = nullptr;
  Close();
}

std::vector<std::string> TComm::DefaultPortDevices() {
  std::vector<std::string> devices;
  for (int i = 0; i < 8; ++i) devices.push_back("/dev/ttyS" + std::to_string(i));
  const char* configured = std::getenv("QELWIN_COM_DEVICES");
  if (!configured) return devices;
  std::string list = configured;
  std::size_t index = 0;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t end = std::min(list.find(':', start), list.size());
    const std::string entry = list.substr(start, end - start);
    if (!entry.empty()) {
      if (index < devices.size()) {
        devices[index] = entry;
      } else {
        devices.push_back(entry);
      }
    }
    ++index;
    start = end + 1;
  }
  return devices;
}

std::string TComm::DevicePath() const {
  if (Name.size() > 3 && std::toupper(static_cast<unsigned char>(Name[0])) == 'C' &&
      std::toupper(static_cast<unsigned char>(Name[1])) == 'O' &&
      std::toupper(static_cast<unsigned char>(Name[2])) == 'M' &&
      std::all_of(Name.begin() + 3, Name.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }) &&
      Name.size() <= 6) {
    const std::size_t number = std::stoul(Name.substr(3));
    if (number >= 1 && number <= PortDevices.size()) return PortDevices[number - 1];
  }
  return Name;
}

std::shared_ptr<TComm::TPort> TComm::CurrentPort() const {
  std::lock_guard<std::mutex> guard(PortLock);
  return Port;
}

bool TComm::IsOpen() const { return CurrentPort() != nullptr; }

void TComm::Raise(const std::string& message, int code) {
  LastErrorCode = static_cast<std::uint32_t>(code);
  if (OnException) OnException(code);
  throw ECommError(message + " (Error: " + std::to_string(code) + ") ", code);
}

void TComm::RequireClosed() {
  if (IsOpen()) Raise("Device already assigned (open)", -1);
}

std::shared_ptr<TComm::TPort> TComm::RequireOpen() {
  auto port = CurrentPort();
  if (!port) Raise("Port not open, unable to complete operation", -1);
  return port;
}

void TComm::Open() {
  Close();
  errno = 0;
  LastErrorCode = 0;

  const std::string path = DevicePath();
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    // A port held by someone else reads as access denied, as users know it.
    const int error = errno == EBUSY ? EACCES : errno;
    Raise("Error accessing specified device", static_cast<int>(SystemErrorCode(error)));
  }
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode) || !isatty(fd)) {
    ::close(fd);
    Raise("Invalid device handle, access denied", -1);
  }
  // Not shared: no second open of the device (TIOCEXCL) and no second
  // program that honours advisory locks.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno == EWOULDBLOCK ? EACCES : errno;
    ::close(fd);
    Raise("Error accessing specified device", static_cast<int>(SystemErrorCode(error)));
  }
  ioctl(fd, TIOCEXCL);

  auto port = std::make_shared<TPort>();
  port->Fd = fd;
  port->Wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (port->Wake < 0) Raise("Error accessing specified device", static_cast<int>(SystemErrorCode(errno)));
  port->Monitored = Monitored;
  port->ModemMask = ModemLinesOf(Monitored);
  port->HasCounters = Driver.GetCounters(fd, port->Counters) == 0;
  port->HasModemLines = Driver.GetModemLines(fd, port->Lines) == 0;
  {
    std::lock_guard<std::mutex> guard(PortLock);
    Port = port;
  }

  try {
    if (ReadSize <= 0 || WriteSize <= 0 || ReadSize > kMaxQueueSize || WriteSize > kMaxQueueSize)
      Raise("Error initializing Read/Write Buffers", kErrorInvalidParameter);
    port->Input.Reset(static_cast<std::size_t>(ReadSize));
    UpdateLineSettings();
    ApplyCharsTimeOut();
    const bool watchModem = port->HasModemLines && port->ModemMask != 0 && Driver.CanInterruptModemWait();
    port->ModemDone = !watchModem;  // before the event thread first looks at it
    std::lock_guard<std::mutex> guard(PortLock);
    EventThread = std::thread(&TComm::EventLoop, this, port);
    if (watchModem) ModemThread = std::thread(&TComm::ModemLoop, this, port);
  } catch (const std::system_error& error) {
    Close();
    Raise("Error accessing specified device", static_cast<int>(SystemErrorCode(error.code().value())));
  } catch (...) {
    Close();
    throw;
  }
}

void TComm::Close() {
  std::shared_ptr<TPort> port;
  std::thread events;
  std::thread modem;
  std::thread previous;
  bool ownEvent = false;
  {
    // Taken out under the lock: a handler on the event thread may close too.
    // Closed from one of its own events, the event thread ends when the
    // handler returns; it is retired here at once, so that an Open on
    // another thread waits for it before the device is opened again.
    std::lock_guard<std::mutex> guard(PortLock);
    port = std::move(Port);
    Port = nullptr;
    events = std::move(EventThread);
    modem = std::move(ModemThread);
    ownEvent = events.joinable() && events.get_id() == std::this_thread::get_id();
    if (ownEvent) {
      previous = std::move(RetiredThread);
      RetiredThread = std::move(events);
    }
  }
  if (previous.joinable()) previous.join();
  if (port) {
    port->Stop = true;
    port->Notify();
  }
  if (modem.joinable()) {
    // The modem wait only ends for a signal; repeat it until the thread has
    // seen it, in case it arrived just before the wait began.
    const auto deadline = TClock::now() + std::chrono::seconds(2);
    while (!port->ModemDone && TClock::now() < deadline) {
      Driver.InterruptModemWait(modem.native_handle());
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (port->ModemDone) {
      modem.join();
    } else {
      modem.detach();  // stuck in the driver; it holds its own reference to the port
    }
  }
  if (ownEvent) return;
  if (events.joinable()) events.join();
  JoinRetired();
}

void TComm::JoinRetired() {
  std::thread retired;
  {
    std::lock_guard<std::mutex> guard(PortLock);
    if (!RetiredThread.joinable() || RetiredThread.get_id() == std::this_thread::get_id()) return;
    retired = std::move(RetiredThread);
  }
  retired.join();
}

void TComm::UpdateLineSettings() {
  auto port = CurrentPort();
  if (!port) return;

  TLineSettings wanted;
  wanted.BaudRate = BaudRateValue(Baud);
  wanted.Parity = ParityMode;
  wanted.DataBits = static_cast<std::uint8_t>(4 + DataBits);
  wanted.TwoStopBits = StopBits != sb10;  // 1.5 is two where the driver knows no 1.5
  wanted.KeepFlowControl = Flow == fcDefault;
  wanted.CtsFlow = Flow == fcCTS;
  wanted.SoftwareFlow = Flow == fcSoftware;
  wanted.ParityCheck = OptionSet & coParityCheck;
  wanted.XonChar = Chars.XonChar;
  wanted.XoffChar = Chars.XoffChar;
  if (DataBits > da8 || ParityMode > paSpace || StopBits > sb20 || Flow > fcDefault)
    Raise("Error updating DataControlBlock", kErrorInvalidParameter);

  const TLineSettingsResult result = ApplyLineSettings(port->Fd, wanted);
  if (result.Errno != 0)
    Raise("Error updating DataControlBlock", static_cast<int>(SystemErrorCode(result.Errno)));
  if (result.Refused) Raise("Error updating DataControlBlock", kErrorInvalidParameter);

  // DTR on for every flow mode but the device's own; RTS on as well (the
  // kernel has no transmit-toggled RTS for plain RS-232). Lines a device
  // does not have are no error.
  if (Flow != fcDefault) Driver.SetModemLines(port->Fd, mlDtr | mlRts, true);

  port->ParityCheck = OptionSet & coParityCheck;
  port->DsrSensitive = OptionSet & coDsrSensitivity;
  std::lock_guard<std::mutex> guard(port->Lock);
  port->Filter.NullStrip = OptionSet & coNullStrip;
  port->Filter.ReplaceErrors = OptionSet & coErrorChar;
  port->Filter.ErrorChar = Chars.ErrorChar;
  port->Filter.EventChar = Chars.EvtChar;
}

void TComm::ApplyCharsTimeOut() {
  if (!IsOpen()) return;
  if (CharsTimeOutMs < 0) Raise("Error updating CommTimeouts", kErrorInvalidParameter);
}

void TComm::SetParams(const TSerialParams& params) {
  if (params.DeviceName != Name) SetDeviceName(params.DeviceName);
  if (params.ReadBufSize != ReadSize) SetReadBufSize(params.ReadBufSize);
  if (params.WriteBufSize != WriteSize) SetWriteBufSize(params.WriteBufSize);
  Baud = static_cast<TBaudRate>(params.BaudRate);
  ParityMode = static_cast<TParity>(params.Parity);
  DataBits = static_cast<TDatabits>(params.DataBits);
  StopBits = static_cast<TStopbits>(params.StopBits);
  Flow = static_cast<TFlowControl>(params.FlowControl);
  OptionSet = params.Options;
  UpdateLineSettings();
}

void TComm::SetDeviceName(const std::string& name) {
  RequireClosed();
  Name = name;
}

void TComm::SetMonitorEvents(TCommEvents events) {
  RequireClosed();
  Monitored = events & kAllCommEvents;
}

void TComm::SetReadBufSize(int size) {
  RequireClosed();
  ReadSize = size;
}

void TComm::SetWriteBufSize(int size) {
  RequireClosed();
  WriteSize = size;
}

void TComm::SetBaudRate(TBaudRate rate) {
  if (rate == Baud) return;
  Baud = rate;
  UpdateLineSettings();
}

void TComm::SetParity(TParity parity) {
  if (parity == ParityMode) return;
  ParityMode = parity;
  UpdateLineSettings();
}

void TComm::SetStopbits(TStopbits stopBits) {
  if (stopBits == StopBits) return;
  StopBits = stopBits;
  UpdateLineSettings();
}

void TComm::SetDatabits(TDatabits dataBits) {
  if (dataBits == DataBits) return;
  DataBits = dataBits;
  UpdateLineSettings();
}

void TComm::SetFlowControl(TFlowControl flow) {
  if (flow == Flow) return;
  Flow = flow;
  UpdateLineSettings();
}

void TComm::SetOptions(unsigned options) {
  if (options == OptionSet) return;
  OptionSet = options;
  UpdateLineSettings();
}

void TComm::SetEventChars(const TCommEventChars& chars) {
  Chars = chars;
  UpdateLineSettings();
}

void TComm::SetCharsTimeOut(int milliseconds) {
  CharsTimeOutMs = milliseconds;
  ApplyCharsTimeOut();
}

int TComm::Read(std::uint8_t* buffer, int count) {
  auto port = CurrentPort();
  if (!port) {
    LastErrorCode = kErrorInvalidHandle;
    return -1;
  }
  if (count <= 0) return 0;
  std::size_t taken = 0;
  bool wasFull = false;
  {
    std::lock_guard<std::mutex> guard(port->Lock);
    wasFull = port->Input.Room() == 0;
    taken = port->Input.Take(buffer, static_cast<std::size_t>(count));
  }
  if (wasFull && taken > 0) port->Notify();
  if (taken == 0) {
    LastErrorCode = kErrorIoPending;  // nothing has arrived: as a read still pending
    return -1;
  }
  return static_cast<int>(taken);
}

bool TComm::WaitForDsr(TPort& port) {
  unsigned lines = 0;
  if (!port.HasModemLines || Driver.GetModemLines(port.Fd, lines) != 0) return true;
  return lines & mlDsr;
}

int TComm::Write(const std::uint8_t* buffer, int count) {
  std::lock_guard<std::mutex> writing(WriteLock);
  auto port = CurrentPort();
  if (!port) {
    LastErrorCode = kErrorInvalidHandle;
    return -1;
  }
  if (count <= 0) return 0;

  int written = 0;
  auto lastProgress = TClock::now();
  auto givenUp = [&] {
    return WriteTimeOutMs > 0 &&
           TClock::now() - lastProgress >= std::chrono::milliseconds(WriteTimeOutMs);
  };
  auto fail = [&](std::uint32_t code) {
    LastErrorCode = code;
    return written > 0 ? written : -1;
  };
  while (written < count) {
    if (Flow == fcDTR && !WaitForDsr(*port)) {
      if (givenUp()) return fail(kErrorCounterTimeout);
      std::this_thread::sleep_for(std::chrono::milliseconds(kDsrPollMs));
      continue;
    }
    const ssize_t n = ::write(port->Fd, buffer + written, static_cast<std::size_t>(count - written));
    if (n > 0) {
      written += static_cast<int>(n);
      lastProgress = TClock::now();
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) return fail(SystemErrorCode(errno));
    if (givenUp()) return fail(kErrorCounterTimeout);
    pollfd ready{port->Fd, POLLOUT, 0};
    poll(&ready, 1, kWritePollMs);
  }
  if (port->Monitored & CommEvent(evTxEmpty)) {
    port->TxPending = true;
    port->Notify();
  }
  return written;
}

int TComm::InQueCount() {
  auto port = CurrentPort();
  if (!port) return -1;
  std::lock_guard<std::mutex> guard(port->Lock);
  return static_cast<int>(port->Input.Size());
}

void TComm::PurgeIn() {
  if (auto port = CurrentPort()) port->DiscardInput();
}

void TComm::SetBreak(bool on) {
  auto port = RequireOpen();
  const int error = Driver.SetBreak(port->Fd, on);
  if (error != 0) Raise("EscapeCommFunction failure", static_cast<int>(SystemErrorCode(error)));
  tcflush(port->Fd, TCOFLUSH);
  port->DiscardInput();
}

void TComm::SetXonState(bool on) {
  auto port = RequireOpen();
  if (tcflow(port->Fd, on ? TCOON : TCOOFF) != 0)
    Raise("EscapeCommFunction failure", static_cast<int>(SystemErrorCode(errno)));
}

void TComm::ModemLoop(std::shared_ptr<TPort> port) {
  TSerialDriver& driver = Driver;
  // The wait only sees changes made while it waits; what changed between
  // two waits shows in the counters (or the lines) looked at before each.
  TLineCounters seenCounters = port->Counters;
  unsigned seenLines = port->Lines;
  auto changedMeanwhile = [&] {
    if (port->HasCounters) {
      TLineCounters now;
      if (driver.GetCounters(port->Fd, now) != 0) return false;
      const bool changed = now.Cts != seenCounters.Cts || now.Dsr != seenCounters.Dsr ||
                           now.Ring != seenCounters.Ring || now.Dcd != seenCounters.Dcd;
      seenCounters = now;
      return changed;
    }
    unsigned now = 0;
    if (driver.GetModemLines(port->Fd, now) != 0) return false;
    const bool changed = ((now ^ seenLines) & port->ModemMask) != 0;
    seenLines = now;
    return changed;
  };
  while (!port->Stop) {
    int error = 0;
    if (!changedMeanwhile()) {
      error = driver.WaitModemChange(port->Fd, port->ModemMask);
      if (port->Stop) break;
      if (error == EINTR) continue;
      if (error != 0) break;  // no modem wait on this device, or the device is gone
    }
    port->Notify();  // the event thread looks at the lines on each wake
  }
  port->ModemDone = true;
}

void TComm::EventLoop(std::shared_ptr<TPort> port) {
  // Only port and these locals are touched once the port is told to stop:
  // a close from one of the events detaches this thread.
  TSerialDriver& driver = Driver;
  std::vector<std::uint8_t> raw(kReadChunk);
  std::vector<std::uint8_t> decoded(kReadChunk);
  TLineCounters lastCounters = port->Counters;
  unsigned lastLines = port->Lines;

  while (!port->Stop) {
    std::size_t room = 0;
    {
      std::lock_guard<std::mutex> guard(port->Lock);
      room = port->Input.Room();
    }
    // A full queue stops reading until Read makes room (the driver then holds
    // the bytes, and flow control can act).
    pollfd fds[2] = {{port->Wake, POLLIN, 0}, {room > 0 ? port->Fd : -1, POLLIN, 0}};
    // A line change in the instant between two modem waits escapes them;
    // with a waiter running, the lines are looked at now and then as well.
    const int timeout = port->TxPending ? kTxEmptyPollMs : (port->ModemDone ? -1 : kModemRecheckMs);
    const int ready = poll(fds, 2, timeout);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents & POLLIN) {
      std::uint64_t value = 0;
      [[maybe_unused]] const ssize_t n = ::read(port->Wake, &value, sizeof value);
    }
    if (port->Stop) break;

    TCommEvents events = 0;
    unsigned errors = 0;
    int lostErrno = 0;
    if (fds[1].revents != 0) {
      const ssize_t n = ::read(port->Fd, raw.data(), std::min(room, raw.size()));
      if (n > 0) {
        unsigned lines = 0;
        const bool dropped = port->DsrSensitive && port->HasModemLines &&
                             driver.GetModemLines(port->Fd, lines) == 0 && !(lines & mlDsr);
        if (!dropped) {
          std::lock_guard<std::mutex> guard(port->Lock);
          const TDecodedInput input =
              port->Decoder.Decode(raw.data(), static_cast<std::size_t>(n), decoded.data(), port->Filter);
          port->Input.Push(decoded.data(), input.Count);
          if (input.Count > 0) events |= CommEvent(evRxChar);
          if (input.EventChar) events |= CommEvent(evRxFlag);
          if (!port->HasCounters) {
            // Without the driver's counters the marks in the stream tell the errors.
            if (input.Breaks > 0) {
              events |= CommEvent(evBreak);
              errors |= ceBreak;
            }
            if (input.BadBytes > 0) errors |= ceRxParity;
          }
        }
      } else if (n == 0) {
        lostErrno = EIO;  // end of file on a tty: hung up
      } else if (errno != EAGAIN && errno != EINTR) {
        lostErrno = errno;
      }
    }

    if (port->HasCounters) {
      TLineCounters now;
      if (driver.GetCounters(port->Fd, now) == 0) {
        if (now.Break != lastCounters.Break) {
          events |= CommEvent(evBreak);
          errors |= ceBreak;
        }
        if (now.Frame != lastCounters.Frame) errors |= ceFrame;
        if (now.Overrun != lastCounters.Overrun) errors |= ceOverrun;
        if (now.Parity != lastCounters.Parity && port->ParityCheck) errors |= ceRxParity;
        if (now.BufOverrun != lastCounters.BufOverrun) errors |= ceRxOver;
        if (now.Cts != lastCounters.Cts) events |= CommEvent(evCTS);
        if (now.Dsr != lastCounters.Dsr) events |= CommEvent(evDSR);
        if (now.Ring != lastCounters.Ring) events |= CommEvent(evRing);
        if (now.Dcd != lastCounters.Dcd) events |= CommEvent(evRlsd);
        lastCounters = now;
      }
    }
    // With counters, their transitions tell the line changes (and count
    // a ring once, at its end); without, the lines are compared.
    if (port->HasModemLines && !port->HasCounters) {
      unsigned lines = 0;
      if (driver.GetModemLines(port->Fd, lines) == 0) {
        const unsigned changed = lines ^ lastLines;
        if (changed & mlCts) events |= CommEvent(evCTS);
        if (changed & mlDsr) events |= CommEvent(evDSR);
        if (changed & lines & mlRing) events |= CommEvent(evRing);
        if (changed & mlDcd) events |= CommEvent(evRlsd);
        lastLines = lines;
      }
    }
    if (port->TxPending) {
      int queued = 0;
      if (ioctl(port->Fd, TIOCOUTQ, &queued) != 0 || queued == 0) {
        port->TxPending = false;
        events |= CommEvent(evTxEmpty);
      }
    }
    if (errors != 0) events |= CommEvent(evError);

    {
      std::lock_guard<std::mutex> guard(port->Lock);
      port->PendingErrors |= errors;
    }
    const TCommEvents fired = events & port->Monitored;
    if (fired != 0) {
      unsigned pending = 0;
      int count = 0;
      {
        // Fetching the line status clears the error mask, as the driver's does.
        std::lock_guard<std::mutex> guard(port->Lock);
        pending = port->PendingErrors;
        port->PendingErrors = 0;
        count = static_cast<int>(port->Input.Size());
      }
      Dispatch(port, fired, pending, count);
    }
    if (lostErrno != 0 && !port->Stop) {
      const int code = static_cast<int>(SystemErrorCode(lostErrno));
      DispatchException(port, code);
      return;
    }
  }
  if (port->Stop) port->DiscardInput();
}

void TComm::Dispatch(const std::shared_ptr<TPort>& port, TCommEvents events, unsigned errors, int count) {
  if (!PostEvent) {
    FireEvents(*port, events, errors, count);
    return;
  }
  std::weak_ptr<int> alive = Alive;
  std::weak_ptr<TPort> weakPort = port;
  PostEvent([this, alive, weakPort, events, errors, count] {
    if (alive.expired()) return;
    auto open = weakPort.lock();
    if (!open || open != CurrentPort()) return;
    FireEvents(*open, events, errors, count);
  });
}

void TComm::DispatchException(const std::shared_ptr<TPort>& port, int code) {
  if (!PostEvent) {
    if (OnException && !port->Stop) OnException(code);
    return;
  }
  std::weak_ptr<int> alive = Alive;
  std::weak_ptr<TPort> weakPort = port;
  PostEvent([this, alive, weakPort, code] {
    if (alive.expired()) return;
    auto open = weakPort.lock();
    if (!open || open != CurrentPort()) return;
    if (OnException) OnException(code);
  });
}

void TComm::FireEvents(TPort& port, TCommEvents events, unsigned errors, int count) {
  // Each handler may close the port; nothing more is fired once it has.
  auto fire = [&](TCommEventType event, const std::function<void()>& handler) {
    if ((events & CommEvent(event)) && handler && !port.Stop) handler();
  };
  fire(evBreak, OnBreak);
  fire(evCTS, OnCTS);
  fire(evDSR, OnDSR);
  if ((events & CommEvent(evError)) && OnError && !port.Stop) OnError(errors);
  fire(evRing, OnRing);
  fire(evRlsd, OnRLSD);
  if ((events & CommEvent(evRxChar)) && OnRxChar && !port.Stop) OnRxChar(count);
  fire(evRxFlag, OnRxFlag);
  fire(evTxEmpty, OnTxEmpty);
}
