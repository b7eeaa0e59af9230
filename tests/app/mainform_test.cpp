// The main window's logic: start-up with and without the screen background
// file, the shutdown questions and the save-and-rename, and the commands'
// refusals and enabling.
#include "app/mainform.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/handover.h"
#include "app/session.h"
#include "app/settingsfile.h"
#include "comms/transmit.h"
#include "log/errors.h"
#include "log/logfiles.h"
#include "screen/store.h"
#include "screen/writer.h"
#include "support/testing.h"
#include "trace/convert.h"
#include "trace/decoder.h"
#include "transfer/engine.h"

namespace {
struct MainFormTest : ::testing::Test {
  TTestSession T;
  TSession& S = *T.S;
  TScriptedDesktop& Desktop = T.Desktop;
  TMainForm Form{S};
  std::string Dir = T.Dir.path().string() + "/";

  MainFormTest() {
    Form.Now = [] { return std::string("06.12.2026 21:22:18"); };
  }
  std::string BoxText(std::size_t i) const { return Desktop.Boxes.at(i).Box.Text; }
  void StartUp(const std::string& argument = "") { Form.StartUp(argument); }
};

TEST_F(MainFormTest, WithoutABackgroundFileNoGivesPaddingAndTheGreeting) {
  Desktop.Answers = {TMsgResult::No};
  StartUp();
  ASSERT_EQ(BoxTexts(Desktop), std::vector<std::string>{"Screen background file " + Dir + "QELWIN.SBF does not " +
                                                         "exist.\rDo you which to load another file?"});
  EXPECT_EQ(Desktop.Boxes[0].Box.Buttons, unsigned(mbYes | mbNo));
  EXPECT_TRUE(Desktop.Dialogs.empty());
  // 101 blank lines; the greeting goes where the reset left the cursor, the
  // first row of the terminal screen, and the cursor moves on below it.
  const TBrowse& screen = *S.Screen;
  ASSERT_EQ(screen.Count(), 101);
  for (int line = 0; line < 101; ++line) {
    if (line == screen.ScreenLine(1)) continue;
    ASSERT_EQ(screen.GetLineText(line).find_first_not_of(' '), std::string::npos) << line;
  }
  EXPECT_EQ(screen.GetLineText(screen.ScreenLine(1)).substr(0, 34), "Logged in at : 06.12.2026 21:22:18");
  EXPECT_EQ(screen.CursorYPosition(), 3);
}

TEST_F(MainFormTest, YesToAnotherFileOpensTheDialogAndLoadsTheChosenFile) {
  WriteFileBytes(Dir + "other.sbf", "first line\r\nsecond line\r\n");
  Desktop.Answers = {TMsgResult::Yes};
  Desktop.DialogAnswers = {Dir + "other.sbf"};
  StartUp();
  ASSERT_EQ(Desktop.Dialogs.size(), 1u);
  const TFileDialog& d = Desktop.Dialogs[0];
  EXPECT_EQ(std::tuple(d.Title, d.Filter, d.DefaultExtension, d.MustExist),
            std::tuple(std::string("Open QEL Screen Background File"),
                       std::string("QEL Screen Background File (*.SBF)|*.SBF"), std::string("SBF"), true));
  EXPECT_EQ(Trimmed(S.Screen->GetLineText(0)) + "|" + Trimmed(S.Screen->GetLineText(1)), "first line|second line");
  EXPECT_EQ(S.Screen->GetLineText(S.Screen->ScreenLine(1)).substr(0, 15), "Logged in at : ");
}

TEST_F(MainFormTest, AnExistingBackgroundFileIsOfferedAndFoundWhateverItsCase) {
  WriteFileBytes(Dir + "QELWIN.SBF", "kept from yesterday\r\n");
  Desktop.Answers = {TMsgResult::Yes};
  StartUp();
  ASSERT_EQ(BoxTexts(Desktop), std::vector<std::string>{"Screen background file " + Dir + "QELWIN.SBF already " +
                                                         "exists.\rDo you which to load this file?"});
  EXPECT_EQ(Desktop.Boxes[0].Box.Buttons, unsigned(mbYes | mbNo | mbCancel));
  EXPECT_EQ(S.Screen->GetLineText(0).substr(0, 19), "kept from yesterday");
}

TEST_F(MainFormTest, CancelAtTheExistingFileQuestionStartsEmpty) {
  WriteFileBytes(Dir + "QelWin.sbf", "not wanted\r\n");
  Desktop.Answers = {TMsgResult::Cancel};
  StartUp();
  EXPECT_TRUE(Desktop.Dialogs.empty());
  EXPECT_EQ(S.Screen->GetLineText(0).find("not wanted"), std::string::npos);
  EXPECT_TRUE(S.Screen->FileName.empty());
}

TEST_F(MainFormTest, ASettingsNameWithoutADotGetsMseEvenInADottedDirectory) {
  Desktop.Answers = {TMsgResult::No};
  StartUp(Dir + "site");
  // The file does not exist: the failure names the name with ".mse" added.
  bool named = false;
  for (const auto& box : Desktop.Boxes) named |= box.Box.Text.find(Dir + "site.mse") != std::string::npos;
  EXPECT_TRUE(named) << (Desktop.Boxes.empty() ? "no box" : BoxText(0));
}

TEST_F(MainFormTest, NoToQuitOrCancelAtTheSaveQuestionKeepsTheWindow) {
  Desktop.Answers = {TMsgResult::No, TMsgResult::Yes, TMsgResult::Cancel};
  EXPECT_FALSE(Form.CloseQuery());
  EXPECT_FALSE(Form.CloseQuery());
  EXPECT_EQ(BoxTexts(Desktop), (std::vector<std::string>{"Do you really want to quit?", "Do you really want to quit?",
                                                          "Do you which to save the Screen Background File ?"}));
  EXPECT_EQ(Desktop.Boxes[0].Box.Icon, TMsgIcon::Warning);
}

TEST_F(MainFormTest, SavingWithoutAnOldFileRenamesTheCopyIntoPlace) {
  Desktop.Answers = {TMsgResult::No};
  StartUp();
  S.Screen->SetLineText(0, "remember me");
  Desktop.Boxes.clear();
  Desktop.Answers = {TMsgResult::Yes, TMsgResult::Yes};
  EXPECT_TRUE(Form.CloseQuery());
  EXPECT_EQ(Desktop.Boxes.size(), 2u);
  EXPECT_FALSE(std::filesystem::exists(Dir + kBackgroundCopy));
  const std::string saved = ReadFileBytes(Dir + "QelWin.SBF");
  EXPECT_EQ(saved.substr(0, 13), "remember me\r\n");
  EXPECT_NE(saved.find("Logged in at : 06.12.2026 21:22:18\r\n"), std::string::npos);
}

TEST_F(MainFormTest, CancelAtTheOverwriteQuestionLeavesTheCopyAndTheOldFile) {
  WriteFileBytes(Dir + "QelWin.SBF", "old\r\n");
  Desktop.Answers = {TMsgResult::No};  // do not load it
  StartUp();
  Desktop.Boxes.clear();
  Desktop.Answers = {TMsgResult::Yes, TMsgResult::Yes, TMsgResult::Cancel};
  EXPECT_TRUE(Form.CloseQuery());
  ASSERT_EQ(Desktop.Boxes.size(), 3u);
  EXPECT_EQ(BoxText(2), "Screen Background File " + Dir + "QELWIN.SBF already exists.\n\rDo you which to overwrite?");
  EXPECT_EQ(ReadFileBytes(Dir + "QelWin.SBF"), "old\r\n");
  EXPECT_NE(ReadFileBytes(Dir + kBackgroundCopy).find("Logged in at"), std::string::npos);
}

TEST_F(MainFormTest, NoAtTheOverwriteQuestionSavesWhereTheUserChooses) {
  WriteFileBytes(Dir + "QelWin.SBF", "old\r\n");
  Desktop.Answers = {TMsgResult::No};
  StartUp();
  Desktop.Answers = {TMsgResult::Yes, TMsgResult::Yes, TMsgResult::No};
  Desktop.DialogAnswers = {Dir + "elsewhere.sbf"};
  EXPECT_TRUE(Form.CloseQuery());
  ASSERT_EQ(Desktop.Dialogs.size(), 2u);  // the start-up one was not shown: No
  EXPECT_EQ(std::pair(Desktop.Dialogs.back().Title, Desktop.Dialogs.back().InitialName),
            std::pair(std::string("Save Screen Background File"), std::string("QELWIN.SBF")));
  EXPECT_EQ(ReadFileBytes(Dir + "QelWin.SBF"), "old\r\n");
  EXPECT_NE(ReadFileBytes(Dir + "elsewhere.sbf").find("Logged in at"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(Dir + kBackgroundCopy));
}

// Each start puts its greeting after the restored lines, so a file carried
// from run to run loses nothing. 300 lines: more than the padding, so the
// terminal screen would otherwise start inside them.
TEST_F(MainFormTest, ABackgroundFileLoadedAndSavedTenTimesKeepsEveryLine) {
  std::string original;
  for (int i = 0; i < 300; ++i) original += "restored line " + std::to_string(i) + " of the record\r\n";
  WriteFileBytes(Dir + "QelWin.SBF", original);
  // Started with a settings file as well: opening it pads no blank lines
  // above the restored ones.
  ASSERT_EQ(WriteSettingsRecord(Dir + "site.mse", S.Settings), 0u);
  const std::string greeting = "Logged in at : 06.12.2026 21:22:18";
  for (int run = 0; run < 10; ++run) {
    TScriptedDesktop desktop;
    TSession session(desktop, T.Dir.path().string());
    TMainForm form(session);
    form.Now = [] { return std::string("06.12.2026 21:22:18"); };
    desktop.Answers = {TMsgResult::Yes};
    form.StartUp(Dir + "site.mse");
    session.Writer->WriteLine("typed in run " + std::to_string(run), 0);
    desktop.Answers = {TMsgResult::Yes, TMsgResult::Yes, TMsgResult::Yes};
    ASSERT_TRUE(form.CloseQuery()) << run;
  }
  const std::string saved = ReadFileBytes(Dir + "QelWin.SBF");
  ASSERT_EQ(saved.substr(0, original.size()), original);
  ASSERT_TRUE(saved.ends_with("\r\n"));
  // Every later line is a greeting, a run's own line or blank: nothing was written over.
  const std::vector<std::string> later = SplitLines(saved.substr(original.size()));
  int greetings = 0, runs = 0;
  for (const std::string& line : later) {
    if (line == greeting) {
      ++greetings;
    } else if (line.starts_with("typed in run ")) {
      EXPECT_EQ(line, "typed in run " + std::to_string(runs++));
    } else {
      EXPECT_EQ(line, "");
    }
  }
  EXPECT_EQ(greetings, 10);
  EXPECT_EQ(runs, 10);
  // Each start adds its greeting, the blank line under it and the run's own
  // line; the last session's empty screen rows are taken over, not kept.
  EXPECT_LE(later.size(), 10u * 3 + 24) << "the file grew by a screen of blank lines at every start";
}

TEST_F(MainFormTest, ShutdownClosesTheLogFile) {
  S.Settings.LogFileName.assign(Dir + "session.log");
  Form.LogFile();
  ASSERT_TRUE(S.Files->LogOpen);
  S.Files->LogLine("kept");
  Desktop.Answers = {TMsgResult::Yes, TMsgResult::No};
  EXPECT_TRUE(Form.CloseQuery());
  EXPECT_FALSE(S.Files->LogOpen);
  EXPECT_NE(ReadFileBytes(Dir + "session.log").find("kept"), std::string::npos);
}

TEST_F(MainFormTest, QuorixButtonsRefuseOtherTerminalTypesAndChangeNothing) {
  S.Settings.Emulation = emVT100;
  const std::uint8_t header = S.Settings.DisplayMsgHeader;
  for (int b = 0; b < qbCount; ++b) Form.QuorixCommand(static_cast<TQuorixButton>(b));
  ASSERT_EQ(Desktop.Boxes.size(), static_cast<std::size_t>(qbCount));
  for (const auto& box : Desktop.Boxes) {
    EXPECT_EQ(box.Box.Text, "Option only for Terminal Type = QUORIX\rChange in SETUP|CONFIGURE|DISPLAY|EMULATION");
    EXPECT_EQ(box.Box.Buttons, unsigned(mbOK | mbHelp));
  }
  EXPECT_EQ(S.Settings.DisplayMsgHeader, header);
  EXPECT_FALSE(S.Trace->TriggerEnabled);
}

TEST_F(MainFormTest, QuorixSwitchesFlipAndShowTheirStateAndEachButtonItsCaptionAndHint) {
  S.Settings.Emulation = emQuorix;
  for (TQuorixButton b : {qbMsgHeader, qbMsgBuffer, qbUserBuffer, qbConvertSet, qbTrigger}) {
    const bool before = Form.QuorixButtonOn(b);
    Form.QuorixCommand(b);
    EXPECT_NE(Form.QuorixButtonOn(b), before) << QuorixButtonText(b).Caption;
    Form.QuorixCommand(b);
    EXPECT_EQ(Form.QuorixButtonOn(b), before) << QuorixButtonText(b).Caption;
  }
  EXPECT_TRUE(Desktop.Boxes.empty());
  const char* captions[] = {"MH", "MB", "UB", "CS", "TR", "CW", "CB", "DM", "CM", "MI", "CE"};
  for (int b = 0; b < qbCount; ++b) EXPECT_STREQ(QuorixButtonText(TQuorixButton(b)).Caption, captions[b]);
  EXPECT_STREQ(QuorixButtonText(qbTrace).Hint, "Convert to mode while tracing On/Off");
  EXPECT_STREQ(QuorixButtonText(qbConvertError).Hint, "ConvertError ON/OFF");
  EXPECT_TRUE(QuorixButtonText(qbDisplayMode).OneShot);
  EXPECT_FALSE(QuorixButtonText(qbMini).OneShot);
}

TEST_F(MainFormTest, ASerialPortThatCannotOpenLeavesConnectEnabled) {
  // No serial line is wired: the open fails as a missing device does.
  Form.ConnectSerial();
  const auto& c = Form.Events.Controls;
  EXPECT_EQ(std::tuple(c.ConnectItem, c.SerialConnectButton, c.DisconnectItem, S.Transmit->SerialConnected),
            std::tuple(true, true, false, false));
}

TEST_F(MainFormTest, CancelEndsPasteSimulateAndPlaybackButNoOtherJob) {
  S.Transfer->Activities = acPasteSend | acPasteReceive | acSimulate | acPlayback | acFileSend;
  Form.TransferStarted(10);
  Form.CancelTransfer();
  EXPECT_EQ(S.Transfer->Activities, std::uint32_t(acFileSend));
  EXPECT_TRUE(Form.State.TransfersEnabled);
  EXPECT_FALSE(Form.State.GaugeVisible);
}

TEST_F(MainFormTest, ResetTerminalClearsJobsHoldAndDialogFlag) {
  Desktop.Answers = {TMsgResult::No};
  StartUp();
  S.Transfer->Activities = acQueuedString | acSoftKey;
  S.Transfer->SendQueue = "pending";
  Form.HoldScreen();
  S.Errors->BeginModal();
  bool held = true;
  Form.OnHoldChanged = [&](bool on) { held = on; };
  Form.ResetTerminal();
  EXPECT_EQ(S.Transfer->Activities, 0u);
  EXPECT_EQ(std::tuple(S.Transfer->SendQueue, Form.Handover.HoldScreen(), held, S.Errors->DialogShowing),
            std::tuple(std::string(), false, false, false));
  EXPECT_TRUE(Form.Events.Controls.ConnectItem && Form.Events.Controls.DisconnectItem);
}

TEST_F(MainFormTest, HoldMarksTheCursorLineUntilEscapeReleasesIt) {
  Form.HoldScreen();
  EXPECT_TRUE(Form.Handover.HoldScreen());
  EXPECT_TRUE(S.Screen->Options & boMarkCursorLine);
  EXPECT_TRUE(S.Screen->Options & boListBox);
  EXPECT_TRUE(Form.ReleaseHold());
  EXPECT_FALSE(S.Screen->Options & (boMarkCursorLine | boListBox));
  EXPECT_FALSE(Form.ReleaseHold());
}
}  // namespace
