// The two line interfaces the transmit path talks to. `TComm` and `TSockets`
// implement them on real devices; tests replace them by recording fakes.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

// Serial line parameters, in the settings record's codes (which are also the
// component's enumeration positions).
struct TSerialParams {
  std::string DeviceName = "Com2";
  std::uint8_t BaudRate = 6;     // index into the baud list: 0 = 110 .. 14 = 256000
  std::uint8_t Parity = 0;       // paNone, paOdd, paEven, paMark, paSpace
  std::uint8_t DataBits = 4;     // da4 .. da8
  std::uint8_t StopBits = 0;     // sb10, sb15, sb20
  std::uint8_t FlowControl = 4;  // fcNone, fcCTS, fcDTR, fcSoftware, fcDefault
  int ReadBufSize = 4096;
  int WriteBufSize = 2048;
  unsigned Options = 0;          // TCommOption bits
};

enum TCommOption : unsigned {
  coParityCheck = 1,
  coDsrSensitivity = 2,
  coIgnoreXOff = 4,  // kept, but Linux always stops sending on XOFF while software flow is on
  coErrorChar = 8,
  coNullStrip = 16,
};

// Raised by the serial component; carries the platform error code.
class ECommError : public std::runtime_error {
 public:
  ECommError(const std::string& message, int errorCode)
      : std::runtime_error(message), ErrorCode(errorCode) {}
  int ErrorCode;
};

// The port number text of a settings `Port` index; the index is taken modulo
// 128 and an index outside the table gives no port text.
inline std::string PortName(int portIndex) {
  static constexpr const char* kPorts[] = {"7",  "9",  "13", "15", "19", "23", "21", "1",
                                           "11", "20", "25", "37", "43", "53", "101", "111"};
  const int index = ((portIndex % 128) + 128) % 128;
  if (index >= static_cast<int>(sizeof(kPorts) / sizeof(kPorts[0]))) return {};
  return kPorts[index];
}

// Pending-operation code: a write the driver has queued counts as sent.
inline constexpr std::uint32_t kErrorIoPending = 997;

class TSerialLine {
 public:
  virtual ~TSerialLine() = default;
  virtual void SetParams(const TSerialParams& params) = 0;  // applied at once when open
  virtual void Open() = 0;                                  // raises ECommError
  virtual void Close() = 0;                                 // harmless when closed
  virtual bool IsOpen() const = 0;
  virtual int Read(std::uint8_t* buffer, int count) = 0;    // bytes read, -1 on failure
  virtual int Write(const std::uint8_t* buffer, int count) = 0;  // count sent, -1 on failure
  virtual std::uint32_t LastError() const = 0;              // platform code of the last failure
  virtual int InQueCount() = 0;                             // -1 when closed
  virtual void PurgeIn() = 0;
  virtual void SetBreak(bool on) = 0;                       // also purges the driver's queues
};

class TNetworkLine {
 public:
  virtual ~TNetworkLine() = default;
  virtual void SetAddress(const std::string& host, const std::string& port) = 0;  // IPAddr, Port
  virtual void Connect() = 0;       // the outcome arrives as a session event
  virtual void Listen() = 0;
  virtual void CancelListen() = 0;
  virtual void Disconnect() = 0;
  virtual int Send(const std::uint8_t* buffer, int length) = 0;  // bytes sent or negative
  virtual int Receive(std::uint8_t* buffer, int length) = 0;     // 0 at end, -1 nothing ready
  // A break of the line's own (SSH's break request); false when it has none.
  virtual bool SendBreak() { return false; }
  // The terminal's size, for lines that tell the host (SSH's PTY).
  virtual void SetTerminalSize(int columns, int rows) {}
  // The callers Listen takes: addresses or networks, blank-separated; empty:
  // anyone. False with the reason for a list that cannot be used (a line
  // that takes no calls takes only the empty list).
  virtual bool SetAllowedCallers(const std::string& list, std::string& error) {
    if (list.empty()) return true;
    error = "this line takes no calls";
    return false;
  }
};
