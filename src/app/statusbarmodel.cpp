#include "app/statusbarmodel.h"

#include <malloc.h>
#include <sys/sysinfo.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>

// --- Memory figures ---

bool MemInfoValue(std::string_view meminfo, std::string_view key, std::uint64_t& bytes) {
  std::size_t start = 0;
  while (start < meminfo.size()) {
    std::size_t end = meminfo.find('\n', start);
    if (end == std::string_view::npos) end = meminfo.size();
    const std::string_view line = meminfo.substr(start, end - start);
    start = end + 1;
    if (line.size() <= key.size() || line.substr(0, key.size()) != key || line[key.size()] != ':') continue;
    std::size_t digits = key.size() + 1;
    while (digits < line.size() && line[digits] == ' ') ++digits;
    std::uint64_t value = 0;
    const char* first = line.data() + digits;
    const char* last = line.data() + line.size();
    const auto [next, error] = std::from_chars(first, last, value);
    if (error != std::errc() || next == first) return false;
    // The kernel writes "kB" for every sized line; a bare count stays as it is.
    const std::string_view unit = line.substr(static_cast<std::size_t>(next - line.data()));
    const bool kilobytes = unit.find("kB") != std::string_view::npos;
    bytes = kilobytes ? value * 1024 : value;
    return true;
  }
  return false;
}

TMemorySample ReadMemorySample() {
  TMemorySample sample;
  struct sysinfo info {};
  if (sysinfo(&info) == 0) {
    const std::uint64_t unit = info.mem_unit != 0 ? info.mem_unit : 1;
    sample.TotalRam = info.totalram * unit;
    sample.AvailableRam = info.freeram * unit;
    sample.FreeSwap = info.freeswap * unit;
  }
  // MemAvailable counts the page cache the kernel gives back on demand, which
  // is what "free" meant to the engineer; sysinfo's freeram is the fallback.
  std::ifstream file("/proc/meminfo");
  std::stringstream text;
  text << file.rdbuf();
  std::uint64_t value = 0;
  if (MemInfoValue(text.str(), "MemTotal", value)) sample.TotalRam = value;
  if (MemInfoValue(text.str(), "MemAvailable", value)) sample.AvailableRam = value;
  if (MemInfoValue(text.str(), "SwapFree", value)) sample.FreeSwap = value;
  const struct mallinfo2 heap = mallinfo2();
  sample.HeapFree = heap.fordblks;
  sample.HeapArena = heap.arena + heap.hblkhd;
  sample.HeapInUse = heap.uordblks;
  return sample;
}

TResourceFigures ResourceFigures(const TMemorySample& sample) {
  std::uint64_t load = 0;
  if (sample.TotalRam > 0) {
    const std::uint64_t available = std::min(sample.AvailableRam, sample.TotalRam);
    load = (sample.TotalRam - available) * 100 / sample.TotalRam;
  }
  return {load, sample.AvailableRam, sample.FreeSwap, sample.HeapFree, sample.HeapArena, sample.HeapInUse};
}

std::string GroupedNumber(std::uint64_t value, std::string_view separator) {
  const std::string digits = std::to_string(value);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += separator;
    out += digits[i];
  }
  return out;
}

// --- Properties ---

bool TStatusBarModel::SetGauge(bool on) {
  Gauge = on;
  return true;
}

bool TStatusBarModel::SetGaugeMin(int value) {
  if (value <= 0) return false;
  GaugeMin = value;
  return true;
}

bool TStatusBarModel::SetGaugeMax(int value) {
  if (value < 1 || value < GaugeMin) return false;
  GaugeMax = value;
  return true;
}

bool TStatusBarModel::SetGaugeProgress(int value) {
  if (value < GaugeMin || value > GaugeMax) return false;
  GaugeProgress = value;
  return true;
}

bool TStatusBarModel::SetSpace(int value) {
  Space = std::max(0, value);
  return true;
}

bool TStatusBarModel::Click() {
  if (!AllowClick) return false;
  PanelMode = PanelMode == pmClock ? pmResources : pmClock;
  std::swap(Hint, Hint2);
  DrawnWord = kNothingDrawn;
  DrawnTime.clear();
  DrawnFigures = {};
  DrawnScrollback = {};
  FiguresDrawn = false;
  return true;
}

// --- Timer ---

unsigned TStatusBarModel::IndicatorWord() const {
  unsigned word = 0;
  if (Locks.Num) word |= ibNumLock;
  if (Locks.Caps) word |= ibCapsLock;
  if (Locks.Scroll) word |= ibScrollLock;
  if (LogStatus) word |= ibLog;
  if (MiniStatus) word |= ibMini;
  if (TraceStatus) word |= ibTrace;
  if (PrintStatus) word |= ibPrint;
  if (ScreenSize) word |= ibScreen132;
  if (Connected) word |= ibConnected;
  return word;
}

bool TStatusBarModel::ClockTick(const std::string& timeText) {
  const unsigned word = IndicatorWord();
  if (word == DrawnWord && timeText == DrawnTime) return false;
  DrawnWord = word;
  DrawnTime = timeText;
  return true;
}

bool TStatusBarModel::ResourcesTick(const TResourceFigures& figures, const TScrollbackFigures& scrollback) {
  if (FiguresDrawn && figures == DrawnFigures && scrollback == DrawnScrollback) return false;
  DrawnFigures = figures;
  DrawnScrollback = scrollback;
  FiguresDrawn = true;
  return true;
}

// --- Geometry ---

namespace {
// count panels from `left` to `right`, each (room - count * space) / count
// wide and `space` apart; the last one takes what is left.
std::vector<TPanelSpan> SharePanels(int left, int right, int count, int space) {
  std::vector<TPanelSpan> panels;
  const int room = std::max(0, right - left);
  const int each = std::max(0, (room - count * space) / count);
  int x = left;
  for (int i = 0; i < count; ++i) {
    const bool last = i == count - 1;
    const int width = last ? std::max(0, right - x) : each;
    panels.push_back({x, width});
    x += width + space;
  }
  return panels;
}
}  // namespace

TPanelSpan TStatusBarModel::ClockPanel() const { return {0, std::max(0, ClockWidth)}; }

std::vector<TPanelSpan> TStatusBarModel::IndicatorPanels(int width) const {
  const int left = ClockPanel().Width + Space;
  return SharePanels(left, std::max(left, width), kIndicatorPanels, Space);
}

std::vector<TPanelSpan> TStatusBarModel::ResourcePanels(int width) const {
  return SharePanels(0, std::max(0, width), kResourcePanels, Space);
}

// --- Contents ---

std::string TStatusBarModel::IndicatorText(int index, std::string_view separator) const {
  switch (index) {
    case 0: return Locks.Num ? "NUM" : "";
    case 1: return Locks.Caps ? "CAPS" : "";
    case 2: return Locks.Scroll ? "SCRL" : "";
    case 3: return LogStatus ? "LOG" : "";
    case 4: return MiniStatus ? "MINI" : "";
    case 5: return TraceStatus ? "CONV" : "";
    case 6: return PrintStatus ? "PRNT" : "";
    case 7:
      if (Gauge) return "";
      if (ReceivedBytes >= 0) return "RX " + GroupedNumber(static_cast<std::uint64_t>(ReceivedBytes), separator);
      return ScreenSize ? "132x24" : "80x24";
    case 8:
      if (LinesInBuffer == 0) return "";
      if (LinesInBuffer < 0) return "-" + GroupedNumber(0ull - static_cast<std::uint64_t>(LinesInBuffer), separator);
      return GroupedNumber(static_cast<std::uint64_t>(LinesInBuffer), separator);
    case 9: return Connected ? "CONN" : Reconnecting;
    default: return "";
  }
}

int TStatusBarModel::GaugePercent() const {
  const std::int64_t range = static_cast<std::int64_t>(GaugeMax) - GaugeMin;
  if (range <= 0) return 0;
  const std::int64_t done = static_cast<std::int64_t>(GaugeProgress) - GaugeMin;
  return static_cast<int>(done * 100 / range);
}

int TStatusBarModel::GaugeBarWidth(int panelWidth) const {
  if (panelWidth <= 0) return 0;
  const int bar = static_cast<int>(static_cast<std::int64_t>(GaugePercent()) * panelWidth / 100);
  return std::clamp(bar, 0, panelWidth);
}

std::string TStatusBarModel::FigureText(int index, std::string_view separator) const {
  if (index < 0 || index >= kResourcePanels) return "";
  if (index == kMemoryPanels) {
    const TScrollbackFigures& f = DrawnScrollback;
    char cost[48];
    std::snprintf(cost, sizeof cost, " lines %.1f MB %.1f:1", static_cast<double>(f.Bytes) / 1048576.0, f.Ratio);
    return GroupedNumber(static_cast<std::uint64_t>(std::max<std::int64_t>(f.Lines, 0)), separator) + cost;
  }
  const std::string number = GroupedNumber(DrawnFigures[static_cast<std::size_t>(index)], separator);
  return index == 0 ? number + "%" : number + " Bytes";
}

bool TStatusBarModel::FigureAlert(int index) const {
  if (index < 0 || index >= kMemoryPanels || !FiguresDrawn) return false;
  return DrawnFigures[static_cast<std::size_t>(index)] < static_cast<std::uint64_t>(std::max(0, AlertLevel));
}
