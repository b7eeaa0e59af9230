#include <gtest/gtest.h>

#include <cstring>

#include "app/settingsfields.h"
#include "support/testing.h"

namespace {
std::string Get(const TSetupRecord& r, const std::string& name) {
  std::string error;
  const auto value = GetSettingsField(r, name, error);
  EXPECT_TRUE(value) << name << ": " << error;
  return value.value_or("");
}

std::string SetError(TSetupRecord& r, const std::string& name, const std::string& value) {
  std::string error;
  EXPECT_FALSE(SetSettingsField(r, name, value, error)) << name << "=" << value;
  return error;
}

void Set(TSetupRecord& r, const std::string& name, const std::string& value) {
  std::string error;
  EXPECT_TRUE(SetSettingsField(r, name, value, error)) << name << "=" << value << ": " << error;
}

const std::uint8_t* Bytes(const TSetupRecord& r) { return reinterpret_cast<const std::uint8_t*>(&r); }
}  // namespace

TEST(SettingsFields, ValuesAreWrittenInTheirOwnForms) {
  TSetupRecord r = DefaultSettings();
  // softkeys[11]: names without regard to case.
  const std::pair<const char*, const char*> values[] = {
      {"BaudRate", "9600"}, {"BlinkColor", "0x0000FF"}, {"MarkBackgroundColor", "0xFF0000"},
      {"ErrorAttr", "fg:0x0000FF bg:0xFFFFFF style:bold size:8"}, {"SndRcvAttr.Style", "plain"},
      {"TriggerEntries[3]", "identity:0 offset:0 mask:0xFFFF value:0x0000"},
      {"TabStops", "8,16,24,32,40,48,56,64,72,80,88,96,104,112,120,128"}, {"TabStops[16]", "1"},
      {"TabStops[17]", "0"}, {"OrnetDirectoryName", "C:\\ORNET\\"}, {"HangUpString", "<P:20>+++<P:20>ATH<CR>"},
      {"WindowHeight", "492"}, {"softkeys[11]", ""}};
  for (const auto& [name, value] : values) EXPECT_EQ(Get(r, name), value) << name;
  r.WindowLeft = -20;
  EXPECT_EQ(Get(r, "WindowLeft"), "-20");
}

TEST(SettingsFields, EveryPrintedFieldReadsBackUnchanged) {
  TSetupRecord r = DefaultSettings();
  Set(r, "LogFileName", "C:\\xfer\\a b.log");
  Set(r, "AnswerBack", "\\x02ID\\x0D\\xFF");
  Set(r, "IEAttr.Style", "15");
  const auto lines = PrintSettingsFields(r);
  EXPECT_EQ(lines.front().first, "ComPort");
  EXPECT_EQ(lines.back().first, "BookmarkVisible");
  TSetupRecord copy = DefaultSettings();
  for (const auto& [name, value] : lines) {
    EXPECT_EQ(Get(r, name), value) << name;
    Set(copy, name, value);
  }
  EXPECT_EQ(std::memcmp(&copy, &r, sizeof r), 0);
}

TEST(SettingsFields, SetsLandAtTheirOffsets) {
  TSetupRecord r = DefaultSettings();
  Set(r, "ComPort", "3");
  Set(r, "SoftKeys[3]", "F4");
  Set(r, "CntrlSoftKeys[0]", "c");
  Set(r, "FontSize", "0x0A");
  Set(r, "TriggerEntries[1].Mask", "0x00F0");
  Set(r, "SoftKeyDelay", "100");
  const std::pair<std::size_t, int> stored[] = {{0, 3},    {2500 + 3 * 256, 2},  {2500 + 3 * 256 + 1, 'F'},
                                                {8644, 1}, {956, 10}, {746 + 8 + 4, 0xF0}, {11716, 100}};
  for (const auto& [offset, value] : stored) EXPECT_EQ(Bytes(r)[offset], value) << offset;
}

TEST(SettingsFields, RangesAreChecked) {
  TSetupRecord r = DefaultSettings();
  const TSetupRecord before = r;
  EXPECT_EQ(SetError(r, "Emulation", "4"), "value 4 out of range 0..3 (or one of quorix, vt100, vt220, tn3270)");
  EXPECT_EQ(SetError(r, "PadsRetries", "0"), "value 0 out of range 1..5");
  EXPECT_EQ(SetError(r, "MaxEchoDelay", "51"), "value 51 out of range 0..50");
  EXPECT_EQ(SetError(r, "LineDly", "x"), "not a number: 'x'");
  // In "IEAttr" nothing changes when one item is wrong.
  const std::pair<const char*, std::string> refused[] = {
      {"ForegroundColor", "0x1000000"}, {"LogFileName", std::string(81, 'a')}, {"FontName", std::string(41, 'a')},
      {"Port", "6"}, {"SoftKeys[12]", "x"}, {"SoftKeys", "x"}, {"ComPort[0]", "1"}, {"Nonsense", "1"},
      {"IEAttr.Colour", "1"}, {"IEAttr", "fg:0x000000 colour:1"}, {"IEAttr", ""}, {"TabStops", "8,132"},
      {"TabStops[3]", "2"}, {"WindowTop", "3000000000"}};
  for (const auto& [name, value] : refused) SetError(r, name, value);
  EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0);
  Set(r, "Port", "255");  // a port typed outside the list
  Set(r, "LogFileName", std::string(80, 'a'));
  EXPECT_EQ(r.Port, 255);
}

TEST(SettingsFields, CompositePartsChangeAlone) {
  TSetupRecord r = DefaultSettings();
  Set(r, "IEAttr", "style:italic+underline");
  EXPECT_EQ(Get(r, "IEAttr"), "fg:0xFF0000 bg:0xFFFFFF style:italic+underline size:8");
  Set(r, "IEAttr.Foreground", "0x0000FF");
  Set(r, "IEAttr", "bg:0 size:12");
  EXPECT_EQ(Get(r, "IEAttr"), "fg:0x0000FF bg:0x000000 style:italic+underline size:12");
  Set(r, "TriggerEntries[2]", "identity:300 value:0x12");
  EXPECT_EQ(Get(r, "TriggerEntries[2]"), "identity:300 offset:0 mask:0xFFFF value:0x0012");
}

TEST(SettingsFields, TabStopsAreSetAsAList) {
  TSetupRecord r = DefaultSettings();
  Set(r, "TabStops", "1, 2,131");
  for (int i = 0; i < 132; ++i) EXPECT_EQ(r.TabStops[i], (i == 1 || i == 2 || i == 131) ? 1 : 0) << i;
  Set(r, "TabStops", "");
  EXPECT_EQ(Get(r, "TabStops"), "");
  Set(r, "TabStops[5]", "1");
  EXPECT_EQ(Get(r, "TabStops"), "5");
}

TEST(SettingsText, EscapesAreUnambiguous) {
  EXPECT_EQ(EscapeSettingsText("C:\\ORNET\\"), "C:\\ORNET\\");
  EXPECT_EQ(EscapeSettingsText("\x1b[2J\x7f\xe4"), "\\x1B[2J\\x7F\\xE4");
  EXPECT_EQ(EscapeSettingsText("C:\\xfer"), "C:\\x5Cxfer");
  EXPECT_EQ(UnescapeSettingsText("C:\\x5Cxfer"), "C:\\xfer");
  EXPECT_EQ(UnescapeSettingsText("\\x1b\\xg\\x4"), "\x1b\\xg\\x4");
  const std::string all = [] {
    std::string s;
    for (int i = 0; i < 256; ++i) s.push_back(static_cast<char>(i));
    return s + "\\x\\\\x41";
  }();
  EXPECT_EQ(UnescapeSettingsText(EscapeSettingsText(all)), all);
}
