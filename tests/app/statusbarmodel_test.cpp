#include "app/statusbarmodel.h"

#include <gtest/gtest.h>

#include <iterator>
#include <limits>

namespace {

TEST(StatusBarGeometry, TenPanelsShareWhatTheClockLeavesWhateverTheGaps) {
  TStatusBarModel bar;
  bar.ClockWidth = 90;
  bar.Space = 1;
  // 800 - 90 - 1 = 709 left; (709 - 10) / 10 = 69 each, the tenth takes the rest.
  const std::vector<TPanelSpan> panels = bar.IndicatorPanels(800);
  ASSERT_EQ(panels.size(), 10u);
  EXPECT_EQ(bar.ClockPanel(), (TPanelSpan{0, 90}));
  EXPECT_EQ(panels[0], (TPanelSpan{91, 69}));
  EXPECT_EQ(panels[1], (TPanelSpan{161, 69}));
  EXPECT_EQ(panels[8].Left, 91 + 8 * 70);
  EXPECT_EQ(panels[9].Left, 91 + 9 * 70);
  EXPECT_EQ(panels[9].Left + panels[9].Width, 800);

  TStatusBarModel wide;  // the default clock: 96 wide
  wide.SetSpace(3);
  // 400 - 96 - 3 = 301; (301 - 30) / 10 = 27.
  const std::vector<TPanelSpan> gapped = wide.IndicatorPanels(400);
  EXPECT_EQ(gapped[0], (TPanelSpan{99, 27}));
  EXPECT_EQ(gapped[1].Left, 99 + 30);
  EXPECT_EQ(gapped[9].Left + gapped[9].Width, 400);
}

TEST(StatusBarGeometry, SevenResourcePanelsAcrossTheWholeWidth) {
  TStatusBarModel bar;
  // (640 - 7) / 7 = 90 each, 1 apart; the seventh, the scroll-back's, ends at the edge.
  const std::vector<TPanelSpan> panels = bar.ResourcePanels(640);
  ASSERT_EQ(panels.size(), 7u);
  EXPECT_EQ(panels[0], (TPanelSpan{0, 90}));
  EXPECT_EQ(panels[1], (TPanelSpan{91, 90}));
  EXPECT_EQ(panels[6].Left, 6 * 91);
  EXPECT_EQ(panels[6].Left + panels[6].Width, 640);
}

TEST(StatusBarGeometry, ABarNarrowerThanItsClockHasNoNegativePanels) {
  TStatusBarModel bar;
  for (const int width : {0, 10, 96, 100}) {
    for (const TPanelSpan& panel : bar.IndicatorPanels(width)) EXPECT_GE(panel.Width, 0) << width;
    for (const TPanelSpan& panel : bar.ResourcePanels(width)) EXPECT_GE(panel.Width, 0) << width;
  }
}

TEST(StatusBarIndicators, EachPanelShowsItsWordOnlyWhenItsStateIsOn) {
  TStatusBarModel bar;
  for (int i = 0; i < 10; ++i) {
    if (i == 7) continue;
    EXPECT_EQ(bar.IndicatorText(i), "") << i;
  }
  EXPECT_EQ(bar.IndicatorText(7), "80x24");
  bar.Locks = {true, true, true};
  bar.LogStatus = bar.MiniStatus = bar.TraceStatus = bar.PrintStatus = true;
  bar.ScreenSize = bar.Connected = true;
  bar.SetLinesInBuffer(1234567);
  const char* expected[] = {"NUM", "CAPS", "SCRL", "LOG", "MINI", "CONV", "PRNT", "132x24", "1,234,567", "CONN"};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(bar.IndicatorText(i), expected[i]) << i;
  EXPECT_EQ(bar.IndicatorText(8, ""), "1234567");
}

TEST(StatusBarTimer, ClockRepaintsOnlyWhenAnIndicatorOrTheTimeChanged) {
  TStatusBarModel bar;
  EXPECT_TRUE(bar.ClockTick("10:00:00"));  // nothing drawn yet
  EXPECT_FALSE(bar.ClockTick("10:00:00"));
  bool* const indicators[] = {&bar.Locks.Num,   &bar.Locks.Caps, &bar.Locks.Scroll,
                              &bar.LogStatus,   &bar.MiniStatus, &bar.TraceStatus,
                              &bar.PrintStatus, &bar.ScreenSize, &bar.Connected};
  for (std::size_t i = 0; i < std::size(indicators); ++i) {
    *indicators[i] = true;
    EXPECT_TRUE(bar.ClockTick("10:00:00")) << i;
    *indicators[i] = false;
    EXPECT_TRUE(bar.ClockTick("10:00:00")) << i;
  }
  EXPECT_FALSE(bar.ClockTick("10:00:00"));
  EXPECT_TRUE(bar.ClockTick("10:00:01"));
  EXPECT_EQ(bar.TimeText(), "10:00:01");
  // The line count alone waits for a repaint the time brings.
  bar.SetLinesInBuffer(300);
  EXPECT_FALSE(bar.ClockTick("10:00:01"));
  EXPECT_EQ(bar.IndicatorText(8), "300");
}

TEST(StatusBarTimer, ResourcesRepaintOnlyWhenAFigureChanged) {
  TStatusBarModel bar;
  bar.Click();
  const TResourceFigures zero{};
  EXPECT_TRUE(bar.ResourcesTick(zero));  // even all zero is drawn once
  EXPECT_FALSE(bar.ResourcesTick(zero));
  TResourceFigures figures{42, 1000, 2000, 3000, 4000, 5000};
  EXPECT_TRUE(bar.ResourcesTick(figures));
  EXPECT_FALSE(bar.ResourcesTick(figures));
  figures[5] = 5001;
  EXPECT_TRUE(bar.ResourcesTick(figures));
  // The scroll-back's panel: lines, what they cost, the compression.
  EXPECT_FALSE(bar.ResourcesTick(figures, {}));
  EXPECT_TRUE(bar.ResourcesTick(figures, {10000000, 175 * 1048576 + 104858, 4.44}));
  EXPECT_EQ(bar.FigureText(6), "10,000,000 lines 175.1 MB 4.4:1");
  EXPECT_FALSE(bar.FigureAlert(6));
  EXPECT_FALSE(bar.ResourcesTick(figures, {10000000, 175 * 1048576 + 104858, 4.44}));
  EXPECT_TRUE(bar.ResourcesTick(figures, {10000001, 175 * 1048576 + 104858, 4.44}));
}

TEST(StatusBarGauge, SettersKeepTheirRules) {
  TStatusBarModel bar;
  const auto gauge = [&] { return std::tuple(bar.GaugeMin, bar.GaugeMax, bar.GaugeProgress); };
  EXPECT_EQ(gauge(), std::tuple(0, 100, 0));
  // Each call in turn and its answer: the minimum only above 0, the maximum
  // never below the minimum, the progress inside the range; a refusal changes nothing.
  enum TSetter { kMin, kMax, kProgress };
  const std::tuple<TSetter, int, bool> calls[] = {
      {kMin, 0, false},     {kMin, -5, false},        {kMax, 0, false},      {kMax, 1, true},
      {kMin, 10, true},     {kMax, 9, false},         {kMax, 10, true},      {kMax, 5000, true},
      {kProgress, 9, false}, {kProgress, 5001, false}, {kProgress, 10, true}, {kProgress, 5000, true}};
  for (const auto& [setter, value, taken] : calls) {
    const auto before = gauge();
    EXPECT_EQ(setter == kMin ? bar.SetGaugeMin(value) : setter == kMax ? bar.SetGaugeMax(value)
                                                                     : bar.SetGaugeProgress(value),
              taken) << setter << " " << value;
    if (!taken) {
      EXPECT_EQ(gauge(), before) << setter << " " << value;
    }
  }
  EXPECT_EQ(gauge(), std::tuple(10, 5000, 5000));
}

TEST(StatusBarGauge, PercentAndBarWidth) {
  TStatusBarModel bar;
  bar.SetGaugeMax(200);
  // {progress, percent, panel width, bar width}: integer percent, never rounded up.
  for (const auto& [progress, percent, panel, width] :
       {std::tuple{50, 25, 80, 20}, {200, 100, 69, 69}, {199, 99, 69, 68}}) {
    bar.SetGaugeProgress(progress);
    EXPECT_EQ(std::pair(bar.GaugePercent(), bar.GaugeBarWidth(panel)), std::pair(percent, width)) << progress;
  }
}

TEST(StatusBarGauge, AnEmptyOrInvertedRangeShowsNothingAndNeverOverflows) {
  TStatusBarModel bar;
  bar.SetGaugeMin(5);
  bar.SetGaugeMax(5);
  bar.SetGaugeProgress(5);
  EXPECT_EQ(std::pair(bar.GaugePercent(), bar.GaugeBarWidth(50)), std::pair(0, 0));
  bar.SetGaugeMin(50);  // above the maximum and the progress: allowed
  EXPECT_EQ(std::pair(bar.GaugePercent(), bar.GaugeBarWidth(50)), std::pair(0, 0));

  TStatusBarModel big;
  const int most = std::numeric_limits<int>::max();
  ASSERT_TRUE(big.SetGaugeMax(most));
  ASSERT_TRUE(big.SetGaugeProgress(most - 1));
  EXPECT_EQ(std::pair(big.GaugePercent(), big.GaugeBarWidth(100)), std::pair(99, 99));
}

TEST(StatusBarGauge, PanelEightCountsARunningReceiveUnlessTheGaugeShows) {
  TStatusBarModel bar;
  bar.ReceivedBytes = 0;
  EXPECT_EQ(bar.IndicatorText(7), "RX 0");
  bar.ReceivedBytes = 20969900;
  EXPECT_EQ(bar.IndicatorText(7), "RX 20,969,900");
  EXPECT_EQ(bar.IndicatorText(7, ""), "RX 20969900");
  bar.SetGauge(true);
  EXPECT_EQ(bar.IndicatorText(7), "");
  bar.SetGauge(false);
  bar.ReceivedBytes = -1;
  EXPECT_EQ(bar.IndicatorText(7), "80x24");
}

TEST(StatusBarResources, FiguresFromAMemorySampleAndFromThisMachine) {
  TMemorySample sample;
  sample.TotalRam = 8000;
  sample.AvailableRam = 2000;
  sample.FreeSwap = 777;
  sample.HeapFree = 11;
  sample.HeapArena = 22;
  sample.HeapInUse = 33;
  const TResourceFigures figures = ResourceFigures(sample);
  EXPECT_EQ(figures, (TResourceFigures{75, 2000, 777, 11, 22, 33}));
  sample.TotalRam = 0;  // an unreadable machine is no division by zero
  EXPECT_EQ(ResourceFigures(sample)[0], 0u);
  const TResourceFigures here = ResourceFigures(ReadMemorySample());
  EXPECT_LE(here[0], 100u);
  EXPECT_GT(here[1], 0u);  // some memory is free on a running machine
  EXPECT_GT(here[5], 0u);  // this test program has allocated
}

TEST(StatusBarResources, FigureTextsAndTheAlertLevel) {
  TStatusBarModel bar;
  bar.Click();
  bar.ResourcesTick({19, 20, 1048576, 0, 5, 100});
  EXPECT_EQ((std::vector<std::string>{bar.FigureText(0), bar.FigureText(1), bar.FigureText(2)}),
            (std::vector<std::string>{"19%", "20 Bytes", "1,048,576 Bytes"}));
  EXPECT_EQ(bar.FigureText(2, "."), "1.048.576 Bytes");
  // 19 is below 20, 20 is not.
  std::vector<bool> alerts;
  for (int i = 0; i < 6; ++i) alerts.push_back(bar.FigureAlert(i));
  EXPECT_EQ(alerts, (std::vector<bool>{true, false, false, true, true, false}));
}

TEST(StatusBarResources, MemInfoLinesAreReadInBytes) {
  const std::string meminfo =
      "MemTotal:       16303376 kB\n"
      "MemFree:          812340 kB\n"
      "MemAvailable:    9023456 kB\n"
      "SwapFree:              0 kB\n"
      "HugePages_Total:       3\n";
  std::uint64_t value = 0;
  const auto read = [&](const char* key) { return MemInfoValue(meminfo, key, value) ? value : ~0ull; };
  EXPECT_EQ(read("MemAvailable"), 9023456ull * 1024);
  EXPECT_EQ(read("MemTotal"), 16303376ull * 1024);
  EXPECT_EQ(read("SwapFree"), 0u);
  EXPECT_EQ(read("HugePages_Total"), 3u);
  EXPECT_FALSE(MemInfoValue(meminfo, "Mem", value));  // a prefix of a key is not the key
  EXPECT_FALSE(MemInfoValue(meminfo, "Cached", value));
  EXPECT_FALSE(MemInfoValue("MemTotal: lots kB\n", "MemTotal", value));
  EXPECT_FALSE(MemInfoValue("", "MemTotal", value));
}

TEST(StatusBarNumbers, DigitsAreGroupedInThrees) {
  const std::pair<std::uint64_t, const char*> grouped[] = {
      {0, "0"}, {999, "999"}, {1000, "1,000"}, {123456, "123,456"}};
  for (const auto& [number, text] : grouped) EXPECT_EQ(GroupedNumber(number, ","), text);
  EXPECT_EQ(GroupedNumber(1234567, "\xA0"), "1\xA0" "234\xA0" "567");
  EXPECT_EQ(GroupedNumber(18446744073709551615ull, ""), "18446744073709551615");
}

}  // namespace
