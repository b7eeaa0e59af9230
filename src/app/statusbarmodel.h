// TStatusBarModel: what the status bar `TQelClock` decides, without a window.
// Clock mode shows the time and ten indicator panels; resources mode six
// memory figures. The widget asks this model for the panel geometry and
// texts, feeds it the timer ticks and clicks, and repaints when told to.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum TPanelMode { pmClock, pmResources };

// Toggle states of the keyboard's lock keys.
struct TKeyLocks {
  bool Num = false;
  bool Caps = false;
  bool Scroll = false;
  bool operator==(const TKeyLocks&) const = default;
};

// Bits of the indicator word, as last drawn.
enum TIndicatorBit : unsigned {
  ibNumLock = 1u << 0,
  ibCapsLock = 1u << 1,
  ibScrollLock = 1u << 2,
  ibLog = 1u << 3,
  ibMini = 1u << 4,
  ibTrace = 1u << 5,
  ibPrint = 1u << 6,
  ibScreen132 = 1u << 7,
  ibConnected = 1u << 9,
};

// One panel across the bar: its left edge and width in pixels.
struct TPanelSpan {
  int Left = 0;
  int Width = 0;
  bool operator==(const TPanelSpan&) const = default;
};

// The six figures of resources mode: 1 memory load in percent, 2 free
// physical memory, 3 free page file (swap), 4 heap total free, 5 heap
// address space, 6 heap total allocated (bytes).
using TResourceFigures = std::array<std::uint64_t, 6>;

// What the scroll-back holds and costs: resources mode's seventh panel.
struct TScrollbackFigures {
  std::int64_t Lines = 0;
  std::int64_t Bytes = 0;  // held by the store
  double Ratio = 1.0;      // of its compressed blocks: text to compressed
  bool operator==(const TScrollbackFigures&) const = default;
};

// What the figures are made of: /proc/meminfo, sysinfo and mallinfo2.
struct TMemorySample {
  std::uint64_t TotalRam = 0;      // bytes
  std::uint64_t AvailableRam = 0;  // bytes
  std::uint64_t FreeSwap = 0;      // bytes
  std::uint64_t HeapFree = 0;      // mallinfo2 fordblks
  std::uint64_t HeapArena = 0;     // mallinfo2 arena + hblkhd
  std::uint64_t HeapInUse = 0;     // mallinfo2 uordblks
};

// A value of /proc/meminfo ("MemAvailable") in bytes; false when the text
// has no such line.
bool MemInfoValue(std::string_view meminfo, std::string_view key, std::uint64_t& bytes);

// Reads the machine's and the program's memory now.
TMemorySample ReadMemorySample();

TResourceFigures ResourceFigures(const TMemorySample& sample);

// The number with a separator between groups of three digits (none when
// separator is empty).
std::string GroupedNumber(std::uint64_t value, std::string_view separator);

class TStatusBarModel {
 public:
  static constexpr const char* kClockHint = "Click to see system resources";
  static constexpr const char* kResourcesHint = "Click to see clock";
  static constexpr int kIndicatorPanels = 10;
  static constexpr int kMemoryPanels = 6;
  static constexpr int kResourcePanels = 7;  // the memory figures, then the scroll-back
  static constexpr int kGaugePanel = 7;  // panel 8, from 0

  TPanelMode PanelMode = pmClock;
  int ClockWidth = 96;
  int Space = 1;
  bool AllowClick = true;
  int AlertLevel = 20;
  std::string Hint = kClockHint;
  std::string Hint2 = kResourcesHint;

  bool LogStatus = false;
  bool MiniStatus = false;
  bool TraceStatus = false;
  bool PrintStatus = false;
  bool ScreenSize = false;  // 132 columns
  bool Connected = false;
  std::string Reconnecting;  // shown in the connection panel while not connected
  int LinesInBuffer = 0;
  TKeyLocks Locks;

  // Bytes the running receive stored so far; -1 while none runs. Shown in
  // the gauge's panel while no gauge is.
  std::int64_t ReceivedBytes = -1;

  bool Gauge = false;
  int GaugeMin = 0;
  int GaugeMax = 100;
  int GaugeProgress = 0;

  // Setters: true when the bar is to be repainted. The gauge setters refuse
  // values outside their rules and then leave the bar as it is.
  bool SetGauge(bool on);
  bool SetGaugeMin(int value);
  bool SetGaugeMax(int value);
  bool SetGaugeProgress(int value);
  bool SetSpace(int value);
  // LinesInBuffer waits for the next timer repaint.
  void SetLinesInBuffer(int value) { LinesInBuffer = value; }

  // A click: with AllowClick the mode switches, the hints swap and what was
  // drawn is forgotten. True when the mode switched.
  bool Click();

  // The 800-ms timer in clock mode: true when the locks, the indicators or
  // the time text differ from what was last drawn (which they then become).
  bool ClockTick(const std::string& timeText);
  // The timer in resources mode: true when the figures changed.
  bool ResourcesTick(const TResourceFigures& figures, const TScrollbackFigures& scrollback = {});

  unsigned IndicatorWord() const;
  const std::string& TimeText() const { return DrawnTime; }
  const TResourceFigures& Figures() const { return DrawnFigures; }

  // Clock mode: the clock panel, then the ten indicator panels.
  TPanelSpan ClockPanel() const;
  std::vector<TPanelSpan> IndicatorPanels(int width) const;
  // Resources mode: seven panels across the whole width.
  std::vector<TPanelSpan> ResourcePanels(int width) const;

  // The text of indicator panel `index` (0..9); panel 8 (index 7) is empty
  // while the gauge shows, and counts the bytes of a running receive ("RX 12,345"). Panel 9 groups its digits with `separator`.
  std::string IndicatorText(int index, std::string_view separator = ",") const;
  bool GaugeShown() const { return Gauge; }
  int GaugePercent() const;
  // The blue bar's width inside a gauge panel of panelWidth pixels.
  int GaugeBarWidth(int panelWidth) const;

  // Resources mode: the text of panel `index` (0..6; 6 is the scroll-back:
  // "1,234 lines 5.6 MB 4.2:1") and whether it is drawn in the alert font.
  std::string FigureText(int index, std::string_view separator = ",") const;
  bool FigureAlert(int index) const;

 private:
  // Nothing drawn yet: the next tick repaints whatever it finds.
  static constexpr unsigned kNothingDrawn = ~0u;
  unsigned DrawnWord = kNothingDrawn;
  std::string DrawnTime;
  TResourceFigures DrawnFigures{};
  TScrollbackFigures DrawnScrollback;
  bool FiguresDrawn = false;
};
