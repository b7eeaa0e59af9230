#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <tuple>

#include "app/session.h"
#include "app/settingsfile.h"
#include "log/errors.h"
#include "screen/store.h"
#include "screen/writer.h"
#include "support/testing.h"

namespace {
using Texts = std::vector<std::string>;

// The box a file that cannot be read or written shows.
std::string AccessError(const std::string& name, const std::string& error) {
  return "File access error. File = " + name + "\rError = " + error;
}

std::string RecordBytes(const TSetupRecord& r) {
  return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

// A record unlike the defaults everywhere, reserved fields and the bytes
// behind string lengths included.
TSetupRecord OddRecord() {
  TSetupRecord r;
  auto* bytes = reinterpret_cast<std::uint8_t*>(&r);
  for (std::size_t i = 0; i < sizeof r; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
  r.LogFileName = "trace.log";
  r.EBCDICMapFileName = "";  // loading it would report a missing map file
  return r;
}
}  // namespace

TEST(SettingsFile, SavedAndOpenedAgainRestoresEveryByteAndADeletedRecentEntryChangesNothing) {
  TTestSession t;
  const std::string name = t.Dir.file("site.mse");
  const TSetupRecord odd = OddRecord();
  ASSERT_EQ(WriteSettingsRecord(name, odd), 0u);
  EXPECT_EQ(ReadFileBytes(name), RecordBytes(odd));
  EXPECT_TRUE(t.S->SettingsFiles->OpenQelSetFile(name));
  EXPECT_EQ(RecordBytes(t.S->Settings), RecordBytes(odd));
  EXPECT_TRUE(t.Desktop.Boxes.empty());
  const TSettingsFiles& files = *t.S->SettingsFiles;
  EXPECT_EQ((std::vector{files.CurrentName, files.Caption, files.ApplicationTitle, files.RecentItems[0]}),
            (std::vector<std::string>{name, "QEL for Windows : [" + name + "]", "site", "1. " + name}));
  // Once the file is deleted, its recent entry leaves the caption as it was.
  std::filesystem::remove(name);
  EXPECT_FALSE(t.S->SettingsFiles->OpenRecent(1));
  EXPECT_EQ(t.Desktop.Boxes.size(), 1u);
  EXPECT_EQ(t.S->SettingsFiles->Caption, "QEL for Windows : [" + name + "]");
}

TEST(SettingsFile, OpeningAppliesTheRecordWholeAndInOrder) {
  TTestSession t;
  TSettingsFiles& files = *t.S->SettingsFiles;
  TSetupRecord site = t.S->Settings;
  site.ForegroundColor = colors::White;
  site.BackgroundColor = colors::Red;
  site.ErrorAttr.Foreground = colors::Yellow;
  site.ErrorAttr.Background = colors::Navy;
  site.FontName = "Liberation Mono";
  site.FontSize = 12;
  site.WindowLeft = 40;
  site.WindowTop = 30;
  site.WindowWidth = 900;
  site.WindowHeight = 600;
  const std::string name = t.Dir.file("site.mse");
  ASSERT_EQ(WriteSettingsRecord(name, site), 0u);

  // What the window is asked to do, and what the session holds each time.
  std::vector<std::string> steps;
  auto currentLook = [&] { return t.S->Screen->GetAttributeRecord(t.S->Writer->State.CurrentAttribute); };
  files.ApplyWindowGeometry = [&](const TWindowGeometry& g) {
    steps.push_back("window " + std::to_string(g.Left) + "," + std::to_string(g.Top) + " " +
                    std::to_string(g.Width) + "x" + std::to_string(g.Height));
  };
  files.SettingsLoaded = [&] {
    // The attributes are built before the screen properties are applied.
    steps.push_back(currentLook().Background == colors::Red ? "screen, new colours" : "screen, old colours");
  };
  files.ReloadCommandDefinitions = [&] { steps.push_back("commands, " + std::to_string(t.S->Screen->Count()) + " lines"); };
  t.S->Screen->AddLine("a line before", 0, false);
  ASSERT_TRUE(files.OpenQelSetFile(name));
  EXPECT_EQ(steps, (std::vector<std::string>{"window 40,30 900x600", "screen, new colours", "commands, 101 lines"}));

  // Text that arrives afterwards takes the record's colours and font, trace
  // lines their category's.
  const std::string text = "after";
  t.S->ReceiveBytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  const TTextAttributes written = t.S->Screen->GetCellRecord(1, t.S->Writer->State.CursorRow);
  EXPECT_EQ(std::tuple(written.Foreground, written.Background, written.FontName, int(written.Size)),
            std::tuple(colors::White, colors::Red, std::string("Liberation Mono"), 12));
  const TTextAttributes error = t.S->Screen->GetAttributeRecord(t.S->Writer->State.Category[caError]);
  EXPECT_EQ(std::pair(error.Foreground, error.Background), std::pair(colors::Yellow, colors::Navy));
}

TEST(SettingsFile, ALongerFileGivesItsFirstRecordWhateverTheCaseOfItsName) {
  TTestSession t;
  const TSetupRecord odd = OddRecord();
  WriteFileBytes(t.Dir.file("Long.MSE"), RecordBytes(odd) + std::string(100, 'z'));
  // Another case, as a recent list written on Windows may hold it.
  EXPECT_TRUE(t.S->SettingsFiles->OpenQelSetFile(t.Dir.file("LONG.mse")));
  EXPECT_EQ(RecordBytes(t.S->Settings), RecordBytes(odd));
  EXPECT_TRUE(t.Desktop.Boxes.empty());
}

TEST(SettingsFile, AShortOrMissingFileIsReportedAndTheOldRecordStays) {
  TTestSession t;
  const std::string shortName = t.Dir.file("short.mse"), missing = t.Dir.file("gone.mse");
  WriteFileBytes(shortName, RecordBytes(OddRecord()).substr(0, 14043));
  const std::string before = RecordBytes(t.S->Settings);
  const std::string caption = t.S->SettingsFiles->Caption;
  EXPECT_FALSE(t.S->SettingsFiles->OpenQelSetFile(missing));
  EXPECT_EQ(t.S->SettingsFiles->Caption, caption);
  EXPECT_TRUE(t.S->SettingsFiles->CurrentName.empty());
  EXPECT_FALSE(std::filesystem::exists(t.Dir.file("QelWin.INI")));
  EXPECT_FALSE(t.S->SettingsFiles->OpenQelSetFile(shortName));
  EXPECT_EQ(RecordBytes(t.S->Settings), before);
  EXPECT_EQ(BoxTexts(t.Desktop), (Texts{AccessError(missing, Padded("The system cannot find the file specified.")),
                                        AccessError(shortName, "38")}));
  EXPECT_EQ(t.Desktop.Boxes[0].Box.HelpContext, 2);
  // The remaining steps run all the same: the name is taken.
  EXPECT_EQ(t.S->SettingsFiles->CurrentName, shortName);
}

TEST(SettingsFile, SaveWithoutANameAsksForOneAndSetsCaptionTitleAndList) {
  TTestSession t;
  const std::string name = t.Dir.file("new.mse");
  t.S->SettingsFiles->WindowGeometry = [] { return TWindowGeometry{11, 22, 333, 444}; };
  t.Desktop.DialogAnswers.push_back(name);
  EXPECT_TRUE(t.S->SettingsFiles->Save());
  ASSERT_EQ(t.Desktop.Dialogs.size(), 1u);
  const TFileDialog& d = t.Desktop.Dialogs[0];
  EXPECT_EQ(std::tuple(d.Save, d.Title, d.Filter, d.DefaultExtension, d.InitialDirectory, d.OverwritePrompt),
            std::tuple(true, std::string("Save Settings to an QEL Settings File"),
                       std::string("QEL Settings (*.MSE)|*.MSE"), std::string("MSE"), t.S->ProgramDirectory, true));
  TSetupRecord saved;
  ASSERT_EQ(ReadSettingsRecord(name, saved).Error, 0u);
  EXPECT_EQ(std::tuple(saved.WindowLeft, saved.WindowTop, saved.WindowWidth, saved.WindowHeight),
            std::tuple(11, 22, 333, 444));
  const TSettingsFiles& files = *t.S->SettingsFiles;
  EXPECT_EQ(std::tuple(files.Caption, files.ApplicationTitle, files.SaveEnabled),
            std::tuple("QEL for Windows : [" + name + "]", std::string("new"), true));
  EXPECT_EQ(ReadFileBytes(t.Dir.file("QelWin.INI")), name + "\r\n");
}

TEST(SettingsFile, SaveAsCancelledWritesNothing) {
  TTestSession t;
  EXPECT_FALSE(t.S->SettingsFiles->SaveAs());
  EXPECT_TRUE(t.S->SettingsFiles->CurrentName.empty());
  EXPECT_FALSE(std::filesystem::exists(t.Dir.file("QelWin.INI")));
}

TEST(SettingsFile, AFailedSaveReportsWithItsCodeAndKeepsTheOldFile) {
  const std::string ioError = "The request could not be performed because of an I/O device error.";
  for (const auto& [shortWrite, writeErrno, error] :
       {std::tuple{5000L, 0, "There is not enough space on the disk."}, {-1L, EIO, ioError.c_str()}}) {
    SCOPED_TRACE(error);
    TTestSession t;
    const std::string name = t.Dir.file("keep.mse");
    ASSERT_EQ(WriteSettingsRecord(name, OddRecord()), 0u);
    t.S->SettingsFiles->CurrentName = name;
    t.S->SettingsFiles->Faults.ShortWrite = shortWrite;  // the disk fills during the write
    t.S->SettingsFiles->Faults.WriteErrno = writeErrno;
    EXPECT_FALSE(t.S->SettingsFiles->Save());
    EXPECT_EQ(BoxTexts(t.Desktop), Texts{AccessError(name, Padded(error))});
    EXPECT_EQ(ReadFileBytes(name), RecordBytes(OddRecord()));
    EXPECT_FALSE(std::filesystem::exists(name + ".$$$"));
  }
}

TEST(SettingsFile, ANamedPipeOrDirectoryAsTheFileIsRefusedAndStays) {
  TTestSession t;
  const std::string pipe = t.Dir.file("pipe.mse");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  t.S->SettingsFiles->CurrentName = pipe;
  EXPECT_FALSE(t.S->SettingsFiles->Save());
  EXPECT_EQ(BoxTexts(t.Desktop), Texts{AccessError(pipe, Padded("Access is denied."))});
  struct stat st;
  ASSERT_EQ(::stat(pipe.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  const std::string folder = t.Dir.file("folder.mse");
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  EXPECT_EQ(WriteSettingsRecord(folder, OddRecord()), 5u);
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_FALSE(std::filesystem::exists(folder + ".$$$"));
}

TEST(BareFileName, DropsTheDirectoryAndTheExtension) {
  EXPECT_EQ(BareFileName("C:\\QEL\\SITE.MSE"), "SITE");
  EXPECT_EQ(BareFileName("A:NAME.MSE"), "NAME");
  EXPECT_EQ(BareFileName("/home/eng/x.y.mse"), "x.y");
  EXPECT_EQ(BareFileName("plain"), "plain");
}

TEST(RecentFiles, MostRecentFirstWithoutCaseDuplicatesAndAtMostFour) {
  TTestSession t;
  TSettingsFiles& f = *t.S->SettingsFiles;
  f.AddRecentFile("/a/one.mse");
  f.AddRecentFile("/a/two.mse");
  f.AddRecentFile("/a/three.mse");
  f.AddRecentFile("/a/ONE.MSE");  // moves to the top, the old spelling goes
  EXPECT_EQ(SplitLines(ReadFileBytes(t.Dir.file("QelWin.INI"))),
            (std::vector<std::string>{"/a/ONE.MSE", "/a/three.mse", "/a/two.mse"}));
  f.AddRecentFile("/a/four.mse");
  f.AddRecentFile("/a/five.mse");
  EXPECT_EQ(SplitLines(ReadFileBytes(t.Dir.file("QelWin.INI"))),
            (std::vector<std::string>{"/a/five.mse", "/a/four.mse", "/a/ONE.MSE", "/a/three.mse"}));
  EXPECT_EQ(f.RecentItems[0], "1. /a/five.mse");
  EXPECT_EQ(f.RecentItems[3], "4. /a/three.mse");
  EXPECT_TRUE(f.RecentSeparatorVisible);
  EXPECT_FALSE(std::filesystem::exists(t.Dir.file("###.$$$")));
  EXPECT_TRUE(t.Desktop.Boxes.empty());
}

TEST(RecentFiles, AListThatCannotBeWrittenStaysAsItWasWithoutAMessage) {
  TTestSession t;
  TSettingsFiles& f = *t.S->SettingsFiles;
  f.AddRecentFile("/a/one.mse");
  f.Faults.OpenErrno = EACCES;  // the temporary file cannot be created
  f.AddRecentFile("/a/two.mse");
  EXPECT_EQ(SplitLines(ReadFileBytes(t.Dir.file("QelWin.INI"))), std::vector<std::string>{"/a/one.mse"});
  EXPECT_EQ(f.RecentItems[0], "1. /a/one.mse");
  EXPECT_TRUE(f.RecentItems[1].empty());
  EXPECT_TRUE(t.Desktop.Boxes.empty());
}

TEST(RecentFiles, StartUpReadsFourLinesAndTakesTheFirstAsCurrent) {
  TTestSession t;
  TSettingsFiles& f = *t.S->SettingsFiles;
  f.ReadRecentList();  // no list yet: no items
  EXPECT_EQ(std::tuple(f.RecentSeparatorVisible, f.RecentItems[0], f.CurrentName), std::tuple(false, "", ""));
  WriteFileBytes(t.Dir.file("QelWin.INI"), "C:\\QEL\\A.MSE\r\nb.mse\r\nc.mse\r\nd.mse\r\ne.mse\r\n");
  f.ReadRecentList();
  EXPECT_EQ((std::vector{f.CurrentName, f.RecentItems[0], f.RecentItems[3]}),
            (std::vector<std::string>{"C:\\QEL\\A.MSE", "1. C:\\QEL\\A.MSE", "4. d.mse"}));
  EXPECT_TRUE(f.RecentSeparatorVisible);
  // The record itself is not loaded.
  EXPECT_TRUE(t.Desktop.Boxes.empty());
}

TEST(EbcdicMap, AShortOrMissingFileGivesTheIdentityAndAReport) {
  TTestSession t;
  WriteFileBytes(t.Dir.file("short.mma"), std::string(511, 'x'));
  t.S->EbcdicMap.Outgoing[65] = 0xC1;
  t.S->Settings.EBCDICMapFileName = t.Dir.file("short.mma");
  t.S->SettingsFiles->LoadEbcdicMap();
  EXPECT_EQ(t.S->EbcdicMap.Outgoing[65], 65);
  EXPECT_EQ(t.S->EbcdicMap.Incoming[200], 200);
  t.S->Settings.EBCDICMapFileName = t.Dir.file("none.mma");
  t.S->SettingsFiles->LoadEbcdicMap();
  EXPECT_EQ(BoxTexts(t.Desktop),
            (Texts{AccessError(t.Dir.file("short.mma"), "38"),
                   AccessError(t.Dir.file("none.mma"), Padded("The system cannot find the file specified."))}));
  // An empty name gives the identity silently.
  t.S->EbcdicMap.Incoming[1] = 9;
  t.S->Settings.EBCDICMapFileName = "";
  t.S->SettingsFiles->LoadEbcdicMap();
  EXPECT_EQ(t.S->EbcdicMap.Incoming[1], 1);
  EXPECT_EQ(t.Desktop.Boxes.size(), 2u);
}

TEST(EbcdicMap, AFifoNamedInTheSettingsDoesNotHang) {
  TTestSession t;
  const std::string fifo = t.Dir.file("pipe.mma");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  t.S->Settings.EBCDICMapFileName = fifo;
  t.S->SettingsFiles->LoadEbcdicMap();  // no writer: an empty read, not a wait
  EXPECT_EQ(t.S->EbcdicMap.Outgoing[7], 7);
  ASSERT_EQ(t.Desktop.Boxes.size(), 1u);
  // As a settings file it is short; the old record, naming it as the map, stays.
  EXPECT_FALSE(t.S->SettingsFiles->OpenQelSetFile(fifo));
  ASSERT_EQ(t.Desktop.Boxes.size(), 3u);
  EXPECT_EQ(t.Desktop.Boxes[1].Box.Text, AccessError(fifo, "38"));
}

TEST(SettingsFile, NoRightToMakeAFileBesideItMeansSavingInPlace) {
  TTestSession t;
  const std::string name = t.Dir.file("site.mse");
  WriteFileBytes(name, std::string(14044, '\0'));
  TFileFaults faults;
  faults.OpenErrno = EACCES;  // the file beside it cannot be made
  EXPECT_EQ(WriteSettingsRecord(name, OddRecord(), &faults), 0u);
  EXPECT_EQ(ReadFileBytes(name), RecordBytes(OddRecord()));

  // A full disk is no reason to give up the old file.
  faults.OpenErrno = ENOSPC;
  EXPECT_EQ(WriteSettingsRecord(name, t.S->Settings, &faults), 112u);
  EXPECT_EQ(ReadFileBytes(name), RecordBytes(OddRecord()));
}
