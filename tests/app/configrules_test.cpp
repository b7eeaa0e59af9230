#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "app/configrules.h"
#include "app/session.h"
#include "app/settingsfile.h"
#include "comms/lines.h"
#include "comms/transmit.h"
#include "log/logfiles.h"
#include "screen/store.h"
#include "screen/writer.h"
#include "support/fakelines.h"
#include "support/testing.h"

namespace {

class ConfigApply : public ::testing::Test {
 protected:
  ConfigApply() {
    S().Settings.ApplyDefaults();
    S().StartUp();
    S().Transmit->Serial = &Serial;
    S().Transmit->Network = &Network;
  }
  TSession& S() { return *T.S; }
  std::vector<TScriptedDesktop::TRecordedBox>& Boxes() { return T.Desktop.Boxes; }
  TSetupRecord Draft() { return S().Settings; }
  void SerialUp() {
    S().Transmit->ConnectionControl(ckSerial, ctOpen);
    Serial.Events.clear();
    Serial.Params.clear();
  }
  void NetworkUp() {
    S().Transmit->NetworkConnected = true;
    Network.Events.clear();
  }

  TTestSession T;
  TFakeSerial Serial;
  TFakeNetwork Network;
};

// ------------------------------------------------------------ wait character

// Typed wait characters read and shown back (the dialogs' tests check only
// that their fields go through these).
TEST(WaitChar, ShownAsItselfFrom32To122ElseAsDecimalCode) {
  const std::pair<int, std::string> shown[] = {{'>', ">"},     {' ', " "},      {'z', "z"},    {'{', "<123>"},
                                               {13, "<13>"},   {31, "<31>"},    {0, "<0>"},    {255, "<255>"}};
  for (const auto& [code, text] : shown) EXPECT_EQ(WaitCharText(static_cast<std::uint8_t>(code)), text) << code;
  const std::pair<std::string, int> read[] = {{"   ", '>'},     {"abc", 'a'},    {"\t#", '#'},  {" <7x", 7},
                                              {"<0>", 0},       {"<255>", 255},  {"<0065>", 'A'}, {"<", 'q'},
                                              {"< 13>", 'q'},   {"<a>", 'q'},    {"<99999999999999999999>", 'q'},
                                              {"", '>'},        {"<x", 'q'}};
  for (const auto& [typed, code] : read) EXPECT_EQ(ReadWaitChar(typed, 'q'), code) << typed;
}

// ------------------------------------------------------------ choices

TEST(ConfigChoices, APortTypedOutsideTheListIsNoPort) {
  const std::pair<const char*, int> ports[] = {{"Telnet", 5},           {"echo", 0},         {"Chargen", 4},
                                               {"8023", kNoPortIndex}, {"", kNoPortIndex}, {"Telnets", kNoPortIndex}};
  for (const auto& [typed, index] : ports) EXPECT_EQ(PortIndexOfText(typed), index) << typed;
}

// ------------------------------------------------------------ Browse

TEST(ConfigBrowse, EachFileEditHasItsOwnFilter) {
  EXPECT_EQ(std::string(FileEditInfo(feLog).Filter),
            "Log/TRC Files(*.LOG,*.TRC)|*.LOG;*.TRC|TXT Files    (*.TXT)|*.TXT|All File Types(*.*)|*.*");
  EXPECT_EQ(std::string(FileEditInfo(feMode).Filter), "All File Types (*.*)|*.*");
  EXPECT_EQ(std::string(FileEditInfo(feSimulate).Filter),
            "Log/TRC Files  (*.LOG,*.TRC)|*.LOG;*.TRC|TXT Files      (*.TXT)|*.TXT|All File Types (*.*)|*.*");
  EXPECT_EQ(std::string(FileEditInfo(feSendReceive).Filter),
            "Log/TRC Files(*.LOG,*.TRC)|*.LOG;*.TRC|TXT Files    (*.TXT)|*.TXT|All File Types (*.*)|*.*");
  EXPECT_EQ(std::string(FileEditInfo(feOrnet).Filter), "");
  EXPECT_EQ(std::string(FileEditInfo(feVMI).Filter), "VMI Files      (*.VMI)|*.VMI|All File Types (*.*)|*.*");
  EXPECT_EQ(std::string(FileEditInfo(feBID).Filter), "MBID Files(*.BID,*.MBI)|*.BID;*.MBI|All File Types (*.*)|*.*");
  EXPECT_EQ(std::string(FileEditInfo(feCommand).Filter), "Command Files  (*.FIL)|*.FIL|All File Types (*.*)|*.*");
  EXPECT_EQ(std::string(FileEditInfo(feEbcdicMap).Filter), "Map Files      (*.MMA)|*.MMA|All File Types (*.*)|*.*");
}

// A swapped entry would save a browsed name into another file's field.
TEST(ConfigBrowse, EachEditStandsForItsOwnField) {
  using TField = TShortString<80> TSetupRecord::*;
  const TField fields[] = {&TSetupRecord::LogFileName,        &TSetupRecord::ModeFileName,
                           &TSetupRecord::SimulateFileName,   &TSetupRecord::SendReceiveFileName,
                           &TSetupRecord::OrnetDirectoryName, &TSetupRecord::VMIFileName,
                           &TSetupRecord::BIDFileName,        &TSetupRecord::CommandFileName,
                           &TSetupRecord::EBCDICMapFileName};
  std::set<std::string> labels;
  for (int e = 0; e < feCount; ++e) {
    const TFileEditInfo& info = FileEditInfo(static_cast<TFileEdit>(e));
    EXPECT_TRUE(info.Field == fields[e]) << info.Label;
    EXPECT_EQ(info.Hidden, e == feVMI || e == feBID) << info.Label;
    labels.insert(info.Label);
  }
  EXPECT_EQ(labels.size(), std::size_t(feCount));
}

// ------------------------------------------------------------ attributes

TEST(ConfigAttributes, ButtonsOpenTheChooserWithTheirCaptionOnTheirBlock) {
  TSetupRecord r = DefaultSettings();
  const std::vector<std::string> captions{"IE Attributes",   "DSS1 Message Attributes", "SND/RCV Attributes",
                                          "MBID Attributes", "VMI Attributes",          "Data Attributes",
                                          "Error Attributes", "Message Attributes",     "Indicator Attributes"};
  const TAttributeBlock* blocks[] = {&r.IEAttr,   &r.DSS1MsgAttr, &r.SndRcvAttr, &r.MbidAttr, &r.VMIAttr,
                                     &r.DataAttr, &r.ErrorAttr,   &r.MsgAttr,    &r.IndicatorAttr};
  for (int i = 0; i < kAttributeButtonCount; ++i) {
    EXPECT_EQ(AttributeButton(i).ChooserCaption, captions[i]);
    EXPECT_EQ(&(r.*AttributeButton(i).Block), blocks[i]) << captions[i];
    EXPECT_EQ(AttributeButton(i).Hidden, i == 2) << captions[i];
  }
}

TEST(ConfigAttributes, ThePaletteHoldsSixteenColoursAndTheDefaults) {
  const auto& palette = ChooserPalette();
  const std::set<TColor> distinct(palette.begin(), palette.end());
  EXPECT_EQ(distinct.size(), std::size_t(kPaletteSize));
  for (TColor c : {colors::Black, colors::White, colors::Red, colors::Green, colors::Blue, colors::Yellow}) {
    EXPECT_TRUE(distinct.count(c)) << std::hex << c;
  }
}

// ------------------------------------------------------------ CompareSettings

TEST(ConfigCompare, EachGroupIsToldApartAndAnUnchangedRecordChangesNothing) {
  const TSetupRecord a = DefaultSettings();
  const TConfigChanges c = CompareSettings(a, a);
  EXPECT_FALSE(c.Any || c.NetworkTarget || c.ComPort || c.SerialParameters || c.Attributes || c.Font ||
               c.LogFileName || c.ScreenSize);
  TSetupRecord b = a;
  b.Port = 2;
  EXPECT_TRUE(CompareSettings(a, b).NetworkTarget);
  EXPECT_FALSE(CompareSettings(a, b).SerialParameters);
  b = a;
  b.FlowControl = 3;
  EXPECT_TRUE(CompareSettings(a, b).SerialParameters);
  EXPECT_FALSE(CompareSettings(a, b).ComPort);
  b = a;
  b.ErrorAttr.Style = 0;
  EXPECT_TRUE(CompareSettings(a, b).Attributes);
  EXPECT_FALSE(CompareSettings(a, b).Font);
  b = a;
  b.FontSize = 12;
  EXPECT_TRUE(CompareSettings(a, b).Font);
  EXPECT_TRUE(CompareSettings(a, b).Attributes);
  b = a;
  b.CommandFileName = "lookup.fil";
  EXPECT_TRUE(CompareSettings(a, b).CommandFileName);
  EXPECT_FALSE(CompareSettings(a, b).LogFileName);
  b = a;
  b.MarkBackgroundColor = colors::Red;
  EXPECT_TRUE(CompareSettings(a, b).MarkColors);
}

TEST(ConfigCompare, TextsCompareByTheirMeaningfulCharacters) {
  TSetupRecord a = DefaultSettings();
  a.LogFileName = "a.log";
  TSetupRecord b = a;
  b.LogFileName.Data[20] = 'x';  // behind the length: not part of the name
  EXPECT_FALSE(CompareSettings(a, b).LogFileName);
  EXPECT_TRUE(CompareSettings(a, b).Any);
}

// ------------------------------------------------------------ Apply

TEST_F(ConfigApply, ANewHostWhileConnectedAsksAndReconnectsToIt) {
  NetworkUp();
  TSetupRecord d = Draft();
  d.HostName = "exchange.example";
  ApplyConnectionSettings(S(), d);
  ASSERT_EQ(BoxTexts(T.Desktop),
            std::vector<std::string>{"Port changed. Do you wish to disconnect and re-connect?"});
  EXPECT_EQ(Boxes()[0].Box.Buttons, unsigned(mbOK | mbCancel));
  EXPECT_EQ(Boxes()[0].Box.Icon, TMsgIcon::Confirmation);
  EXPECT_EQ(Network.Events, (std::vector<std::string>{"disconnect", "address exchange.example 23", "connect"}));
  EXPECT_EQ(S().Settings.HostName.str(), "exchange.example");
}

TEST_F(ConfigApply, CancelToThePortQuestionKeepsTheSessionButStoresThePort) {
  NetworkUp();
  T.Desktop.Answers.push_back(TMsgResult::Cancel);
  TSetupRecord d = Draft();
  d.Port = 0;
  ApplyConnectionSettings(S(), d);
  EXPECT_EQ(Boxes().size(), 1u);
  EXPECT_TRUE(Network.Events.empty());
  EXPECT_TRUE(S().Transmit->NetworkConnected);
  EXPECT_EQ(S().Settings.Port, 0);
}

TEST_F(ConfigApply, WithoutAConnectionNothingIsAsked) {
  TSetupRecord d = Draft();
  d.HostName = "other";
  d.ComPort = 2;
  d.BaudRate = 12;
  ApplyConnectionSettings(S(), d);
  EXPECT_TRUE(Boxes().empty());
  EXPECT_TRUE(Network.Events.empty());
  EXPECT_TRUE(Serial.Events.empty());
  EXPECT_EQ(S().Settings.ComPort, 2);
  EXPECT_EQ(S().Settings.BaudRate, 12);
}

TEST_F(ConfigApply, NewLineParametersReconfigureTheOpenPortWithoutAQuestion) {
  SerialUp();
  TSetupRecord d = Draft();
  d.BaudRate = 12;
  d.Parity = 2;
  ApplyConnectionSettings(S(), d);
  EXPECT_TRUE(Boxes().empty());
  ASSERT_EQ(Serial.Params.size(), 1u);
  EXPECT_EQ(std::pair(int(Serial.Params[0].BaudRate), int(Serial.Params[0].Parity)), std::pair(12, 2));
  EXPECT_EQ(Serial.Events.size(), 1u);  // no close, no open
}

TEST_F(ConfigApply, ApplyStoresConnectionFieldsOnly) {
  TSetupRecord d = Draft();
  d.FTPUserName = "engineer";
  d.FTPPassword = "secret";
  d.FTPHostName = "files";
  d.RemotePath = "/pub";
  d.LocalPath = "/tmp";
  TSetupRecord expected = d;  // all but the two fields of other pages
  d.LogFileName = "not.yet";
  d.Wrap = 0;
  ApplyConnectionSettings(S(), d);
  EXPECT_EQ(0, std::memcmp(&S().Settings, &expected, sizeof expected));
}

// ------------------------------------------------------------ OK

TEST_F(ConfigApply, OkMakesTheWholeRecordLive) {
  TSetupRecord d = Draft();
  d.WaitChar = 13;
  d.SoftKeyDelay = 40;
  d.EscFlush = 1;
  d.Reserved12104[3] = 77;
  ApplyConfiguration(S(), d);
  EXPECT_EQ(0, std::memcmp(&S().Settings, &d, sizeof d));
}

TEST_F(ConfigApply, OkAsksThePortQuestionOnceAfterAnApply) {
  NetworkUp();
  TSetupRecord d = Draft();
  d.HostName = "new";
  ApplyConnectionSettings(S(), d);
  S().Transmit->NetworkConnected = true;  // the connect event of the re-connect
  ApplyConfiguration(S(), d);
  EXPECT_EQ(Boxes().size(), 1u);
}

TEST_F(ConfigApply, OkRunsApplyForAChangedPort) {
  SerialUp();
  TSetupRecord d = Draft();
  d.ComPort = 1;
  d.BaudRate = 9;
  ApplyConfiguration(S(), d);
  ASSERT_EQ(Boxes().size(), 1u);
  // Re-opened with the old line parameters, then reconfigured with the new.
  EXPECT_EQ(Serial.Events,
            (std::vector<std::string>{"close", "params COM2 baud 6", "open", "params COM2 baud 9"}));
}

TEST_F(ConfigApply, ANewLogFileNameClosesTheOpenLog) {
  S().Settings.LogFileName = T.Dir.file("first.log");
  S().Files->CreateLogFile();
  ASSERT_TRUE(S().Files->LogOpen);
  TSetupRecord d = Draft();
  ApplyConfiguration(S(), d);
  EXPECT_TRUE(S().Files->LogOpen);  // same name: the log goes on
  d.LogFileName = T.Dir.file("second.log");
  ApplyConfiguration(S(), d);
  EXPECT_FALSE(S().Files->LogOpen);
}

TEST_F(ConfigApply, ANewEbcdicMapNameLoadsTheMap) {
  std::string map;
  for (int i = 0; i < 256; ++i) map += static_cast<char>(255 - i);
  for (int i = 0; i < 256; ++i) map += static_cast<char>((i + 1) & 255);
  WriteFileBytes(T.Dir.file("map.mma"), map + "trailing");  // only the first 512 bytes count
  TSetupRecord d = Draft();
  d.EBCDICMapFileName = T.Dir.file("map.mma");
  ApplyConfiguration(S(), d);
  EXPECT_EQ(S().EbcdicMap.Outgoing[0], 255);
  EXPECT_EQ(S().EbcdicMap.Incoming[255], 0);
  EXPECT_TRUE(Boxes().empty());
  // Unchanged, the map is not read again.
  S().EbcdicMap.SetIdentity();
  ApplyConfiguration(S(), d);
  EXPECT_EQ(S().EbcdicMap.Outgoing[0], 0);
}

TEST_F(ConfigApply, NewColoursReachTheAttributesAndTheScreenAndOnlyANewCommandFileReloadsIt) {
  TConfigChanges seen;
  int reloads = 0;
  TConfigHooks hooks;
  hooks.ScreenProperties = [&](const TConfigChanges& c) { seen = c; };
  hooks.ReloadCommandDefinitions = [&] { ++reloads; };
  TSetupRecord d = Draft();
  d.ErrorAttr.Foreground = colors::Purple;
  d.ForegroundColor = colors::Navy;
  d.FontName = "Liberation Mono";
  ApplyConfiguration(S(), d, hooks);
  const TScreenWriter& w = *S().Writer;
  EXPECT_EQ(S().Screen->GetAttributeRecord(w.State.Category[caError]).Foreground, colors::Purple);
  EXPECT_EQ(S().Screen->GetAttributeRecord(w.State.CurrentAttribute).Foreground, colors::Navy);
  EXPECT_EQ(S().Screen->FontName, "Liberation Mono");
  EXPECT_TRUE(seen.Attributes && seen.Font);
  EXPECT_EQ(reloads, 0);
  d.CommandFileName = "lookup.fil";
  ApplyConfiguration(S(), d, hooks);
  EXPECT_EQ(reloads, 1);
}

TEST_F(ConfigApply, TheScreenResizesOnlyWhenItsSizeChanged) {
  TScreenWriter& w = *S().Writer;
  w.State.TopMargin = 5;  // a host's scrolling region
  TSetupRecord d = Draft();
  ApplyConfiguration(S(), d);
  EXPECT_EQ(w.State.TopMargin, 5);
  d.ScreenSize = 1;
  ApplyConfiguration(S(), d);
  EXPECT_EQ(std::tuple(S().Screen->Cols, int(w.State.RightMargin), int(w.State.TopMargin)),
            std::tuple(132, 132, 1));
  EXPECT_EQ(S().Settings.ScreenSize, 1);
  EXPECT_TRUE(S().Status.ScreenSize);
}

}  // namespace
