// The few serial device calls that pseudo-terminals do not answer (modem
// lines, error counters, the modem-line wait, breaks). The serial component
// reaches them only through this interface, so tests can stand in a fake.
#pragma once

#include <cstdint>
#include <pthread.h>

// Modem lines, as bits.
enum TModemLine : unsigned {
  mlCts = 1,
  mlDsr = 2,
  mlRing = 4,
  mlDcd = 8,
  mlDtr = 16,
  mlRts = 32,
};

// The driver's running counts of line events since the device was opened.
struct TLineCounters {
  std::uint32_t Cts = 0, Dsr = 0, Ring = 0, Dcd = 0;  // modem line transitions
  std::uint32_t Frame = 0, Overrun = 0, Parity = 0, Break = 0;
  std::uint32_t BufOverrun = 0;  // bytes the driver's buffer could not hold
};

// Every call returns 0 or an errno value.
class TSerialDriver {
 public:
  virtual ~TSerialDriver() = default;
  virtual int GetModemLines(int fd, unsigned& lines) = 0;
  // Raises (on) or drops the given output lines (mlDtr, mlRts).
  virtual int SetModemLines(int fd, unsigned lines, bool on) = 0;
  virtual int GetCounters(int fd, TLineCounters& counters) = 0;
  // Blocks until one of the given input lines changes; EINTR when interrupted.
  virtual int WaitModemChange(int fd, unsigned lines) = 0;
  // Makes a WaitModemChange running on the given thread return EINTR soon.
  // It may be called again and again until that thread has noticed.
  virtual void InterruptModemWait(pthread_t waiter) = 0;
  // False when interrupting a wait is not possible in this process (the
  // component then does without the wait).
  virtual bool CanInterruptModemWait() = 0;
  virtual int SetBreak(int fd, bool on) = 0;
};

// The kernel's ioctls (TIOCMGET, TIOCMBIS/TIOCMBIC, TIOCGICOUNT, TIOCMIWAIT,
// TIOCSBRK/TIOCCBRK). Shared by every port of the process.
TSerialDriver& KernelSerialDriver();
