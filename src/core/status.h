// What the status bar shows. The writer and the files fill it in; the window
// reads it after each event batch.
#pragma once

#include <cstdint>
#include <string>

struct TStatusIndicators {
  bool LogStatus = false;
  bool MiniStatus = false;
  bool TraceStatus = false;
  bool ScreenSize = false;  // 132 columns
  bool Connected = false;
  bool ScrollLock = false;  // keyboard locked by the host
  int LinesInBuffer = 0;
  std::string Reconnecting;  // the countdown to the next attempt ("RECON 12s"), empty when none
  std::uint32_t Changes = 0;  // raised on every update, so a view can tell
};
