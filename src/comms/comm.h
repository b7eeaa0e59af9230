// TComm: the serial port component. Opens a serial device (a UART, a USB
// adapter or a pseudo-terminal), configures the line, and watches it with an
// event thread of its own that turns the driver's line events into component
// events. Failures raise ECommError.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "comms/lines.h"

class TSerialDriver;

enum TBaudRate : std::uint8_t {
  cbr110, cbr300, cbr600, cbr1200, cbr2400, cbr4800, cbr9600, cbr14400,
  cbr19200, cbr38400, cbr56000, cbr57600, cbr115200, cbr128000, cbr256000,
};
enum TParity : std::uint8_t { paNone, paOdd, paEven, paMark, paSpace };
enum TStopbits : std::uint8_t { sb10, sb15, sb20 };
enum TDatabits : std::uint8_t { da4, da5, da6, da7, da8 };
enum TFlowControl : std::uint8_t { fcNone, fcCTS, fcDTR, fcSoftware, fcDefault };

// Line events, in the order they are fired.
enum TCommEventType : std::uint8_t {
  evBreak, evCTS, evDSR, evError, evRing, evRlsd, evRxChar, evRxFlag, evTxEmpty,
};
using TCommEvents = unsigned;  // set of TCommEventType, bit (1 << event)
inline constexpr TCommEvents CommEvent(TCommEventType event) { return 1u << event; }
inline constexpr TCommEvents kAllCommEvents = 0x1FF;

// Line error bits passed to OnError.
enum TCommErrorBits : unsigned {
  ceRxOver = 1,      // input queue overflow
  ceOverrun = 2,     // a character was overwritten before it could be retrieved
  ceRxParity = 4,
  ceFrame = 8,
  ceBreak = 16,
};

struct TCommEventChars {
  std::uint8_t XonChar = 17;
  std::uint8_t XoffChar = 19;
  std::uint8_t ErrorChar = 0;  // replaces bytes received with an error (coErrorChar)
  std::uint8_t EvtChar = 0;    // its arrival fires OnRxFlag
};

// Baud rate in bits per second of a TBaudRate; 0 for a value outside the list.
std::uint32_t BaudRateValue(unsigned baudRate);

// Codes the component reports besides errno-derived ones.
inline constexpr int kErrorInvalidHandle = 6;
inline constexpr int kErrorInvalidParameter = 87;
inline constexpr int kErrorCounterTimeout = 1121;  // a serial write gave up waiting

class TComm : public TSerialLine {
 public:
  // driver: the modem-line, counter and break calls; null for the kernel's.
  explicit TComm(TSerialDriver* driver = nullptr);
  ~TComm() override;
  TComm(const TComm&) = delete;
  TComm& operator=(const TComm&) = delete;

  // TSerialLine
  void SetParams(const TSerialParams& params) override;
  void Open() override;
  void Close() override;
  bool IsOpen() const override;
  int Read(std::uint8_t* buffer, int count) override;
  int Write(const std::uint8_t* buffer, int count) override;
  std::uint32_t LastError() const override { return LastErrorCode; }
  int InQueCount() override;
  void PurgeIn() override;
  void SetBreak(bool on) override;

  // On: the driver acts as if XON was received; off: as if XOFF was received.
  void SetXonState(bool on);

  // "COM1".."COMn" name the devices of this list in order; any other name is
  // a device path used as it is. The default list is /dev/ttyS0../dev/ttyS7;
  // QELWIN_COM_DEVICES ("path1:path2:...", an empty entry keeps the default)
  // replaces entries of it.
  static std::vector<std::string> DefaultPortDevices();
  void SetPortDevices(std::vector<std::string> devices) { PortDevices = std::move(devices); }
  // The device path DeviceName stands for.
  std::string DevicePath() const;

  // Properties. Setters of line settings apply them at once while open; the
  // others raise "Device already assigned (open)" while open.
  const std::string& DeviceName() const { return Name; }
  void SetDeviceName(const std::string& name);
  TCommEvents MonitorEvents() const { return Monitored; }
  void SetMonitorEvents(TCommEvents events);
  int ReadBufSize() const { return ReadSize; }
  void SetReadBufSize(int size);
  int WriteBufSize() const { return WriteSize; }
  void SetWriteBufSize(int size);

  TBaudRate BaudRate() const { return Baud; }
  void SetBaudRate(TBaudRate rate);
  TParity Parity() const { return ParityMode; }
  void SetParity(TParity parity);
  TStopbits Stopbits() const { return StopBits; }
  void SetStopbits(TStopbits stopBits);
  TDatabits Databits() const { return DataBits; }
  void SetDatabits(TDatabits dataBits);
  TFlowControl FlowControl() const { return Flow; }
  void SetFlowControl(TFlowControl flow);
  unsigned Options() const { return OptionSet; }
  void SetOptions(unsigned options);
  const TCommEventChars& EventChars() const { return Chars; }
  void SetEventChars(const TCommEventChars& chars);
  // Read interval time-out in ms (0 = none). Reads hand over what has
  // arrived at once, so it bounds nothing here; kept for the settings' sake.
  int CharsTimeOut() const { return CharsTimeOutMs; }
  void SetCharsTimeOut(int milliseconds);
  // A write that makes no progress for this long (flow control held off by
  // the far end) gives up with kErrorCounterTimeout; 0 waits for ever.
  int WriteTimeOut() const { return WriteTimeOutMs; }
  void SetWriteTimeOut(int milliseconds) { WriteTimeOutMs = milliseconds; }

  // Events. They run on the port's event thread unless PostEvent is set.
  std::function<void(int count)> OnRxChar;        // bytes in the input queue
  std::function<void(unsigned errors)> OnError;   // TCommErrorBits
  std::function<void()> OnBreak, OnCTS, OnDSR, OnRing, OnRLSD, OnRxFlag, OnTxEmpty;
  // Called before an ECommError is raised, and on the event thread when the
  // device goes away while open (after which the port stays open, silent,
  // until closed).
  std::function<void(int code)> OnException;
  // When set, each line event is handed to it as a closure, to be run on
  // another thread (the window's); the closure does nothing once the
  // component is closed, reopened or gone.
  std::function<void(std::function<void()>)> PostEvent;

 private:
  struct TPort;

  std::shared_ptr<TPort> CurrentPort() const;
  void UpdateLineSettings();
  void ApplyCharsTimeOut();
  [[noreturn]] void Raise(const std::string& message, int code);
  void RequireClosed();
  std::shared_ptr<TPort> RequireOpen();
  void EventLoop(std::shared_ptr<TPort> port);
  void ModemLoop(std::shared_ptr<TPort> port);
  void Dispatch(const std::shared_ptr<TPort>& port, TCommEvents events, unsigned errors, int count);
  void DispatchException(const std::shared_ptr<TPort>& port, int code);
  void FireEvents(TPort& port, TCommEvents events, unsigned errors, int count);
  bool WaitForDsr(TPort& port);
  void JoinRetired();

  TSerialDriver& Driver;
  std::vector<std::string> PortDevices;
  std::string Name = "Com2";
  TCommEvents Monitored = kAllCommEvents;
  TBaudRate Baud = cbr9600;
  TParity ParityMode = paNone;
  TStopbits StopBits = sb10;
  TDatabits DataBits = da8;
  TFlowControl Flow = fcDefault;
  unsigned OptionSet = 0;
  TCommEventChars Chars;
  int ReadSize = 4096;
  int WriteSize = 2048;
  int CharsTimeOutMs = 250;
  int WriteTimeOutMs = 5000;
  std::atomic<std::uint32_t> LastErrorCode{0};  // set on both threads

  mutable std::mutex PortLock;  // guards Port: the event thread reads it too
  std::shared_ptr<TPort> Port;  // set while open
  std::thread EventThread;    // these three guarded by PortLock too
  std::thread ModemThread;
  std::thread RetiredThread;  // an event thread that closed its own port
  std::mutex WriteLock;  // one write at a time
  // Lets posted closures see whether the component still exists.
  std::shared_ptr<int> Alive = std::make_shared<int>(0);
};
