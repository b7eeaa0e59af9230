#include "comms/termios2.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdlib>

namespace {

tcflag_t SizeFlag(std::uint8_t dataBits) {
  switch (dataBits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
  }
}

std::uint8_t DataBitsOf(tcflag_t cflag) {
  switch (cflag & CSIZE) {
    case CS5: return 5;
    case CS6: return 6;
    case CS7: return 7;
    default: return 8;
  }
}

tcflag_t ParityFlags(std::uint8_t parity) {
  switch (parity) {
    case 1: return PARENB | PARODD;
    case 2: return PARENB;
    case 3: return PARENB | PARODD | CMSPAR;
    case 4: return PARENB | CMSPAR;
    default: return 0;
  }
}

std::uint8_t ParityOf(tcflag_t cflag) {
  if (!(cflag & PARENB)) return 0;
  const bool odd = cflag & PARODD;
  if (cflag & CMSPAR) return odd ? 3 : 4;
  return odd ? 1 : 2;
}

// UARTs divide a clock; a rate within 3% is what the line can carry.
bool CloseEnough(std::uint32_t wanted, std::uint32_t actual) {
  const long long diff = std::llabs(static_cast<long long>(wanted) - static_cast<long long>(actual));
  return diff * 100 <= static_cast<long long>(wanted) * 3;
}

}  // namespace

bool ReadLineSettings(int fd, TLineSettings& actual) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return false;
  actual.BaudRate = t.c_ospeed;
  actual.Parity = ParityOf(t.c_cflag);
  actual.DataBits = DataBitsOf(t.c_cflag);
  actual.TwoStopBits = t.c_cflag & CSTOPB;
  actual.KeepFlowControl = false;
  actual.CtsFlow = t.c_cflag & CRTSCTS;
  actual.SoftwareFlow = (t.c_iflag & IXON) && (t.c_iflag & IXOFF);
  actual.ParityCheck = t.c_iflag & INPCK;
  actual.XonChar = t.c_cc[VSTART];
  actual.XoffChar = t.c_cc[VSTOP];
  return true;
}

TLineSettingsResult ApplyLineSettings(int fd, const TLineSettings& wanted) {
  TLineSettingsResult result;
  if (wanted.DataBits < 5 || wanted.DataBits > 8) {
    result.Refused = "data bits";
    return result;
  }
  if (wanted.BaudRate == 0) {
    result.Refused = "baud rate";
    return result;
  }

  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) {
    result.Errno = errno;
    return result;
  }

  // Raw bytes in and out; breaks and bad bytes are marked in the stream
  // (PARMRK) instead of raising signals or vanishing.
  t.c_iflag &= ~(IGNBRK | BRKINT | IGNPAR | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC | IXANY |
                 IMAXBEL | IUTF8 | INPCK);
  t.c_iflag |= PARMRK;
  if (wanted.ParityCheck) t.c_iflag |= INPCK;
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ICANON | ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL | ECHOKE | ECHOPRT | ISIG |
                 IEXTEN | XCASE | TOSTOP | NOFLSH);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  t.c_cc[VSTART] = wanted.XonChar;
  t.c_cc[VSTOP] = wanted.XoffChar;

  t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT) | CSIZE | PARENB | PARODD | CMSPAR | CSTOPB);
  t.c_cflag |= BOTHER | (BOTHER << IBSHIFT) | CREAD | CLOCAL;
  t.c_ispeed = wanted.BaudRate;
  t.c_ospeed = wanted.BaudRate;
  t.c_cflag |= SizeFlag(wanted.DataBits) | ParityFlags(wanted.Parity);
  if (wanted.TwoStopBits) t.c_cflag |= CSTOPB;

  if (!wanted.KeepFlowControl) {
    t.c_cflag &= ~CRTSCTS;
    t.c_iflag &= ~(IXON | IXOFF);
    if (wanted.CtsFlow) t.c_cflag |= CRTSCTS;
    if (wanted.SoftwareFlow) t.c_iflag |= IXON | IXOFF;
  }

  if (ioctl(fd, TCSETS2, &t) != 0) {
    result.Errno = errno;
    return result;
  }

  TLineSettings actual;
  if (!ReadLineSettings(fd, actual)) {
    result.Errno = errno;
    return result;
  }
  if (!CloseEnough(wanted.BaudRate, actual.BaudRate)) {
    result.Refused = "baud rate";
  } else if (actual.DataBits != wanted.DataBits) {
    result.Refused = "data bits";
  } else if (actual.Parity != wanted.Parity) {
    result.Refused = "parity";
  } else if (actual.TwoStopBits != wanted.TwoStopBits) {
    result.Refused = "stop bits";
  } else if (!wanted.KeepFlowControl &&
             (actual.CtsFlow != wanted.CtsFlow || actual.SoftwareFlow != wanted.SoftwareFlow)) {
    result.Refused = "flow control";
  }
  return result;
}
