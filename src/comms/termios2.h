// Line settings of a serial device through the kernel's termios2 interface.
// Kept apart from <termios.h>, whose declarations clash with <asm/termbits.h>.
#pragma once

#include <cstdint>

// What the serial component asks of the line, in plain numbers.
struct TLineSettings {
  std::uint32_t BaudRate = 9600;  // any rate: the kernel's BOTHER encoding
  std::uint8_t Parity = 0;        // 0 none, 1 odd, 2 even, 3 mark, 4 space
  std::uint8_t DataBits = 8;      // 5..8
  bool TwoStopBits = false;       // 1.5 stop bits are asked for as two
  bool KeepFlowControl = false;   // leave the device's own flow settings alone
  bool CtsFlow = false;           // RTS/CTS hardware flow control
  bool SoftwareFlow = false;      // XON/XOFF both ways
  bool ParityCheck = false;       // mark bytes received with parity or framing errors
  std::uint8_t XonChar = 17;
  std::uint8_t XoffChar = 19;
};

// Why ApplyLineSettings did not succeed.
struct TLineSettingsResult {
  int Errno = 0;                 // the failed call's errno; 0 when the calls worked
  const char* Refused = nullptr;  // the setting the driver would not take ("baud rate", ...)
  bool Ok() const { return Errno == 0 && Refused == nullptr; }
};

// Puts the device into raw mode with the given line settings (input marking
// on, so breaks and line errors show in the byte stream), then reads the
// settings back: a driver that silently adjusts a setting is reported as
// refusing it.
TLineSettingsResult ApplyLineSettings(int fd, const TLineSettings& wanted);

// The settings the device holds now; false with errno set when they cannot be read.
bool ReadLineSettings(int fd, TLineSettings& actual);
