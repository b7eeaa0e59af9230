#include "comms/serialdriver.h"

#include <linux/serial.h>
#include <signal.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <mutex>

namespace {

// TIOCMIWAIT only returns early for a signal. SIGURG is ignored by default,
// so a stray one harms nobody; the handler does nothing but end the wait.
constexpr int kWakeSignal = SIGURG;

void IgnoreWakeSignal(int) {}

bool InstallWakeHandler() {
  struct sigaction current {};
  if (sigaction(kWakeSignal, nullptr, &current) != 0) return false;
  const bool ours = current.sa_handler == IgnoreWakeSignal;
  if (ours) return true;
  // Someone else handles the signal: leave it to them and do without the wait.
  if (current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN) return false;
  struct sigaction action {};
  action.sa_handler = IgnoreWakeSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: the ioctl must come back with EINTR
  return sigaction(kWakeSignal, &action, nullptr) == 0;
}

unsigned ToKernelLines(unsigned lines) {
  unsigned bits = 0;
  if (lines & mlCts) bits |= TIOCM_CTS;
  if (lines & mlDsr) bits |= TIOCM_DSR;
  if (lines & mlRing) bits |= TIOCM_RNG;
  if (lines & mlDcd) bits |= TIOCM_CD;
  if (lines & mlDtr) bits |= TIOCM_DTR;
  if (lines & mlRts) bits |= TIOCM_RTS;
  return bits;
}

unsigned FromKernelLines(unsigned bits) {
  unsigned lines = 0;
  if (bits & TIOCM_CTS) lines |= mlCts;
  if (bits & TIOCM_DSR) lines |= mlDsr;
  if (bits & TIOCM_RNG) lines |= mlRing;
  if (bits & TIOCM_CD) lines |= mlDcd;
  if (bits & TIOCM_DTR) lines |= mlDtr;
  if (bits & TIOCM_RTS) lines |= mlRts;
  return lines;
}

class TKernelSerialDriver : public TSerialDriver {
 public:
  int GetModemLines(int fd, unsigned& lines) override {
    int bits = 0;
    if (ioctl(fd, TIOCMGET, &bits) != 0) return errno;
    lines = FromKernelLines(static_cast<unsigned>(bits));
    return 0;
  }

  int SetModemLines(int fd, unsigned lines, bool on) override {
    const int bits = static_cast<int>(ToKernelLines(lines));
    return ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0 ? 0 : errno;
  }

  int GetCounters(int fd, TLineCounters& counters) override {
    struct serial_icounter_struct icount {};
    if (ioctl(fd, TIOCGICOUNT, &icount) != 0) return errno;
    counters.Cts = icount.cts;
    counters.Dsr = icount.dsr;
    counters.Ring = icount.rng;
    counters.Dcd = icount.dcd;
    counters.Frame = icount.frame;
    counters.Overrun = icount.overrun;
    counters.Parity = icount.parity;
    counters.Break = icount.brk;
    counters.BufOverrun = icount.buf_overrun;
    return 0;
  }

  int WaitModemChange(int fd, unsigned lines) override {
    return ioctl(fd, TIOCMIWAIT, static_cast<unsigned long>(ToKernelLines(lines))) == 0 ? 0 : errno;
  }

  void InterruptModemWait(pthread_t waiter) override { pthread_kill(waiter, kWakeSignal); }

  bool CanInterruptModemWait() override {
    std::call_once(HandlerOnce, [this] { HandlerInstalled = InstallWakeHandler(); });
    return HandlerInstalled;
  }

  int SetBreak(int fd, bool on) override {
    return ioctl(fd, on ? TIOCSBRK : TIOCCBRK) == 0 ? 0 : errno;
  }

 private:
  std::once_flag HandlerOnce;
  bool HandlerInstalled = false;
};

}  // namespace

TSerialDriver& KernelSerialDriver() {
  static TKernelSerialDriver driver;
  return driver;
}
