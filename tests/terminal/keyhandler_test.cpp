// Keys as the user presses them, and the bytes that reach the host: through
// TKeyboard::KeyDown, the session's dispatcher and the transmit path onto a
// recording line.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/session.h"
#include "comms/recordinglines.h"
#include "comms/transmit.h"
#include "screen/writer.h"
#include "support/testing.h"
#include "terminal/keyboard.h"
#include "terminal/keyhandler.h"
#include "transfer/engine.h"

namespace {
const std::string ESC = "\x1b";
const std::string SS3 = "\x8f";
const std::string CSI = "\x9b";

class TBreakingSerial : public TRecordingSerialLine {
 public:
  std::vector<bool> Breaks;
  void SetBreak(bool on) override { Breaks.push_back(on); }
};

struct Keys : ::testing::Test {
  TWiredSession T;
  TRecordingNetworkLine& Wire = T.Wire;
  TKeyboard& K() { return *T.S->Keyboard; }
  TSetupRecord& Settings() { return T.Settings(); }
  TTerminalState& State() { return T.S->Writer->State; }
  void SetUp() override {
    Settings().NewLine = 0;
    Settings().LocalEcho = 0;
    Settings().BackSpaceSends = 0;
    Settings().DataBits = 3;  // 7 bits
    Settings().Emulation = emVT100;
  }
  void Press(int key, unsigned modifiers = 0, const std::string& text = "", bool extended = false) {
    K().KeyDown({key, modifiers, extended, text, 1});
  }
  void Type(const std::string& text) {
    for (const char c : text) Press(0, 0, std::string(1, c));
  }
  // What the host got since the last look.
  std::string Sent() { return T.TakeSent(); }
  void Ticks(int n) { T.Tick(n); }
};
}  // namespace

// ------------------------------------------------------- keyboard lock

TEST_F(Keys, AKeyboardLockedByTheHostSendsNothingUntilItIsUnlocked) {
  State().KeyboardLocked = true;  // the host's ESC [ 2 h
  Type("ab");
  Press(vkUp);
  EXPECT_EQ(Sent(), "");
  EXPECT_EQ(T.Desktop.Beeps, 2);
  State().KeyboardLocked = false;
  Type("c");
  EXPECT_EQ(Sent(), "c");
}

// ------------------------------------------------------- cursor and function keys

// The cursor keys up, down, right, left per terminal type, 7 or 8 bits and
// cursor key mode (TN3270 sends none); F1..F4 are SS3 P..S, F7..F10 the cursor
// keys up, down, left, right; with a modifier, F5 and every QUORIX function
// key start soft keys (Ctrl before Shift); navigation keys and F13..F24 send
// nothing.
TEST_F(Keys, CursorFunctionAndNavigationKeys) {
  Settings().ShiftSoftKeys[0] = "s1";
  Settings().CntrlSoftKeys[6] = "c7";
  Settings().CntrlSoftKeys[1] = "c2";
  Settings().SoftKeys[4] = "f5";
  Settings().SoftKeys[0] = "one";
  Settings().SoftKeys[9] = "ten";
  Settings().ShiftSoftKeys[11] = "s12";
  const std::vector<int> arrows = {vkUp, vkDown, vkRight, vkLeft};
  const struct {
    int Emulation, DataBits;
    bool Application;
    std::vector<int> Keys;
    unsigned Modifiers;
    std::string Sent;
  } cases[] = {
      {emVT100, 3, false, arrows, 0, ESC + "[A" + ESC + "[B" + ESC + "[C" + ESC + "[D"},
      {emVT100, 4, true, arrows, 0, ESC + "OA" + ESC + "OB" + ESC + "OC" + ESC + "OD"},
      {emVT220, 3, false, arrows, 0, ESC + "[A" + ESC + "[B" + ESC + "[C" + ESC + "[D"},
      {emVT220, 3, true, arrows, 0, ESC + "OA" + ESC + "OB" + ESC + "OC" + ESC + "OD"},
      {emVT220, 4, false, arrows, 0, CSI + "A" + CSI + "B" + CSI + "C" + CSI + "D"},
      {emVT220, 4, true, arrows, 0, SS3 + "A" + SS3 + "B" + SS3 + "C" + SS3 + "D"},
      {emVT52, 3, false, arrows, 0, ESC + "A" + ESC + "B" + ESC + "C" + ESC + "D"},
      {emVT52, 3, true, arrows, 0, ESC + "A" + ESC + "B" + ESC + "C" + ESC + "D"},
      {emTN3270, 3, false, arrows, 0, ""},
      {emTN3270, 3, true, arrows, 0, ""},
      {emVT100, 3, false, {vkF1, vkF2, vkF3, vkF4}, 0, ESC + "OP" + ESC + "OQ" + ESC + "OR" + ESC + "OS"},
      {emVT220, 4, false, {vkF1}, 0, SS3 + "P"},
      {emVT52, 4, false, {vkF4}, 0, ESC + "S"},
      {emVT100, 3, false, {vkF7, vkF8, vkF9, vkF10}, 0, ESC + "[A" + ESC + "[B" + ESC + "[D" + ESC + "[C"},
      {emVT100, 3, true, {vkF9}, 0, ESC + "OD"},
      {emVT100, 3, false, {vkPrior, vkNext, vkHome, vkEnd, vkF13, vkF24}, 0, ""},
      {emVT100, 3, false, {vkF1}, kmShift, "s1"},          // soft key 13
      {emVT100, 3, false, {vkF7}, kmCtrl, "c7"},           // soft key 31, not a cursor key
      {emVT100, 3, false, {vkF2}, kmCtrl | kmShift, "c2"},  // Ctrl wins: 26
      {emVT100, 3, false, {vkF5}, 0, "f5"},
      {emQuorix, 3, false, {vkF1}, 0, "one"},
      {emQuorix, 3, false, {vkF10}, 0, "ten"},
      {emQuorix, 3, false, {vkF12}, kmShift, "s12"},
  };
  for (const auto& c : cases) {
    Settings().Emulation = static_cast<std::uint8_t>(c.Emulation);
    Settings().DataBits = static_cast<std::uint8_t>(c.DataBits);
    State().CursorKeysApplication = c.Application;
    for (const int key : c.Keys) Press(key, c.Modifiers);
    Ticks(1);  // a soft key goes out on the next tick
    EXPECT_EQ(Sent(), c.Sent) << "type " << c.Emulation << " bits " << c.DataBits << " application "
                              << c.Application << " key " << c.Keys[0] << " mods " << c.Modifiers;
  }
}

TEST_F(Keys, ASoftKeyPausesAndWaitsForEchoesKeyByKey) {
  Settings().Emulation = emQuorix;
  Settings().NewLine = 1;
  Settings().MaxEchoDelay = 6;
  Settings().SoftKeys[1] = "ls<CR>a<P:20>b<W:x>c";
  Press(vkF2);
  Ticks(1);
  EXPECT_EQ(Sent(), "ls\r\n");  // then waits for the LF echo
  T.S->HandleSessionEvent(sekReceivedByte, '\n');
  EXPECT_EQ(Sent(), "a");  // the echo came: on at once, up to the pause
  Ticks(19);
  EXPECT_EQ(Sent(), "");
  Ticks(1);
  EXPECT_EQ(Sent(), "b");  // two seconds later; now waits for x
  T.S->HandleSessionEvent(sekReceivedByte, 'x');
  EXPECT_EQ(Sent(), "c");
}

TEST_F(Keys, AKeyPressCutsASoftKeyPauseShortAndIsSentItself) {
  Settings().SoftKeys[0] = "<P:50>done";
  Settings().Emulation = emQuorix;
  Press(vkF1);
  Ticks(3);
  EXPECT_EQ(Sent(), "");
  Type("k");
  EXPECT_EQ(Sent(), "k");
  Ticks(1);
  EXPECT_EQ(Sent(), "done");
}

// ------------------------------------------------------- keypad

TEST_F(Keys, KeypadSendsItsCharactersOutsideApplicationMode) {
  for (const int emulation : {emQuorix, emVT100}) {
    Settings().Emulation = static_cast<std::uint8_t>(emulation);
    State().KeypadApplication = emulation == emQuorix;  // Quorix ignores the mode
    for (int key = vkNumpad0; key <= vkDivide; ++key) Press(key);
    EXPECT_EQ(Sent(), "0123456789*+,-./") << emulation;
    Press(vkReturn, 0, "\r", true);
    EXPECT_EQ(Sent(), "\r") << emulation;
  }
}

TEST_F(Keys, KeypadInApplicationModeSendsSs3Letters) {
  State().KeypadApplication = true;
  std::string expected;
  for (int key = vkNumpad0; key <= vkNumpad9; ++key) {
    Press(key);
    expected += ESC + "O" + static_cast<char>('p' + key - vkNumpad0);
  }
  EXPECT_EQ(Sent(), expected);
  Press(vkAdd);
  Press(vkSubtract);
  Press(vkDecimal);
  Press(vkReturn, 0, "\r", true);
  EXPECT_EQ(Sent(), ESC + "OM" + ESC + "Om" + ESC + "On" + ESC + "OM");
  Press(vkMultiply);
  Press(vkSeparator);
  Press(vkDivide);
  EXPECT_EQ(Sent(), "*,/");
  Settings().Emulation = emVT220;
  Settings().DataBits = 4;
  Press(vkNumpad5);
  EXPECT_EQ(Sent(), SS3 + "u");
  Settings().Emulation = emTN3270;
  Press(vkNumpad5);
  EXPECT_EQ(Sent(), "");
}

TEST_F(Keys, WithNumLockOffKeypadMinusIsAPlainMinus) {
  State().KeypadApplication = true;
  K().KeyUp(vkNumLock, {false, false, false});
  // The layout makes "-" of it; without Num Lock it is no keypad event.
  Press(vkSubtract, 0, "-");
  EXPECT_EQ(Sent(), "-");
  Press(vkReturn, 0, "\r", true);
  EXPECT_EQ(Sent(), "\r");
  Press(vkNumpad7);  // digits stay keypad keys
  EXPECT_EQ(Sent(), ESC + "Ow");
}

// ------------------------------------------------------- character rules

TEST_F(Keys, BackspaceFollowsTheSettingAndCtrlReversesIt) {
  Settings().BackSpaceSends = 0;  // "Backspace"
  Press(vkBack, 0, "\b");
  EXPECT_EQ(Sent(), "\b");
  Press(vkBack, kmCtrl, "\b");
  EXPECT_EQ(Sent(), "\x7f");
  Settings().BackSpaceSends = 1;  // "Delete"
  Press(vkBack, 0, "\b");
  EXPECT_EQ(Sent(), "\x7f");
  Press(vkBack, kmCtrl, "\b");
  EXPECT_EQ(Sent(), "\b");
  K().KeyUp(vkControl, {});
  Press(vkBack, 0, "\b");
  EXPECT_EQ(Sent(), "\x7f");
}

// The main Enter is a character, not the keypad's, in keypad application mode too.
TEST_F(Keys, EnterSendsCrAndWithNewLineAnLf) {
  State().KeypadApplication = true;
  Press(vkReturn, 0, "\r");
  EXPECT_EQ(Sent(), "\r");
  Settings().NewLine = 1;
  Press(vkReturn, 0, "\r");
  EXPECT_EQ(Sent(), "\r\n");
}

TEST_F(Keys, LocalEchoWritesTypedCharactersToTheScreen) {
  T.S->StartUp();
  Settings().LocalEcho = 1;
  Type("hi");
  EXPECT_EQ(Sent(), "hi");
  EXPECT_EQ(T.S->Writer->GetScreenChar(1, 1), 'h');
  EXPECT_EQ(T.S->Writer->GetScreenChar(2, 1), 'i');
}

TEST_F(Keys, AutoRepeatSendsOnceForEachRepeat) {
  K().KeyDown({0, 0, false, "z", 3});
  EXPECT_EQ(Sent(), "zzz");
  K().KeyDown({vkUp, 0, false, "", 2});
  EXPECT_EQ(Sent(), ESC + "[A" + ESC + "[A");
}

TEST_F(Keys, CtrlBreakHoldsABreakOnTheSerialLineAndSendsIacBrkOnTelnet) {
  TBreakingSerial serial;
  T.S->Transmit->Serial = &serial;
  T.S->Transmit->SerialConnected = true;
  Settings().Port = 5;  // Telnet
  Press(vkCancel, kmCtrl);
  EXPECT_EQ(serial.Breaks, (std::vector<bool>{true, false}));
  EXPECT_EQ(T.Desktop.Waits, std::vector<int>{250});
  EXPECT_EQ(Sent(), "\xff\xf3");
}

TEST_F(Keys, KeysAreIgnoredWhileAFileIsSentOrTheHostTransfers) {
  T.S->Transfer->Activities |= acFileSend;
  Type("a");
  Press(vkUp);
  EXPECT_EQ(Sent(), "");
  T.S->Transfer->Direction = drReceive;  // the same job bit receiving to a file
  Type("r");
  EXPECT_EQ(Sent(), "r");
  T.S->Transfer->Activities = 0;
  T.S->Transfer->TransferActive = true;
  T.S->Transfer->Direction = drReceive;
  T.S->Transfer->ReceiveKind = rkHost;  // started by the host
  Type("b");
  EXPECT_EQ(Sent(), "");
  T.S->Transfer->ReceiveKind = rkUser;  // a receive the user started: typing goes on
  Type("c");
  EXPECT_EQ(Sent(), "c");
}

TEST_F(Keys, WhileTheScreenIsHeldKeysWaitAndEscReleasesIt) {
  bool held = true;
  int releases = 0;
  K().ScreenHeld = [&] { return held; };
  K().ReleaseScreen = [&] {
    ++releases;
    held = false;
  };
  Type("ab");
  Press(vkUp);
  EXPECT_EQ(Sent(), "");
  EXPECT_EQ(releases, 0);
  Type(ESC);
  EXPECT_EQ(Sent(), "");  // Esc only ends the hold
  EXPECT_EQ(releases, 1);
  Type("c");
  EXPECT_EQ(Sent(), "c");
}

// ------------------------------------------------------- lock keys

TEST_F(Keys, ScrollLockStopsAndRestartsTheHostWithXonXoff) {
  Settings().FlowControl = 3;  // XON/XOFF
  K().KeyUp(vkScroll, {true, false, true});
  EXPECT_EQ(Sent(), "\x13");
  EXPECT_TRUE(K().Locks.ScrollLock);
  K().KeyUp(vkScroll, {true, false, true});  // still on: XOFF only once
  EXPECT_EQ(Sent(), "");
  K().KeyUp(vkScroll, {true, false, false});
  EXPECT_EQ(Sent(), "\x11");

  Settings().FlowControl = 1;  // hardware flow: Scroll Lock sends nothing
  K().KeyUp(vkScroll, {true, false, true});
  K().KeyUp(vkScroll, {true, false, false});
  EXPECT_EQ(Sent(), "");
}

TEST_F(Keys, LockKeysUpdateTheStatusLine) {
  const std::uint32_t before = T.S->Status.Changes;
  K().KeyUp(vkCapital, {true, true, false});
  EXPECT_TRUE(K().Locks.CapsLock);
  EXPECT_GT(T.S->Status.Changes, before);
}

// ------------------------------------------------------- Quorix history

struct History : Keys {
  std::vector<std::vector<std::string>> Shown;
  std::vector<int> Selected;
  std::optional<std::string> Answer;
  void SetUp() override {
    Keys::SetUp();
    Settings().Emulation = emQuorix;
    K().ShowHistoryBox = [this](const std::vector<std::string>& lines, int selected) {
      Shown.push_back(lines);
      Selected.push_back(selected);
      return Answer;
    };
  }
  // The queued string goes out over ticks.
  std::string SentAfterTicks() {
    Ticks(5);
    return Sent();
  }
};

TEST_F(History, UpShowsTheLastLineAndConfirmingSendsItAgain) {
  Type("status\r");
  Type("list  \r");
  EXPECT_EQ(Sent(), "status\rlist  \r");
  Answer = "list";
  Press(vkUp);
  ASSERT_EQ(Shown.size(), 1u);
  EXPECT_EQ(Shown[0].size(), 30u);
  EXPECT_EQ(Shown[0][0], "status");
  EXPECT_EQ(Shown[0][1], "list");  // trimmed
  EXPECT_EQ(Selected[0], 1);
  EXPECT_EQ(SentAfterTicks(), "list\r");
  // Stored at the ring index, the slot it came from; the next line goes after it.
  EXPECT_EQ(K().History[1], "list");
  EXPECT_EQ(K().TypedLine, "");
  Type("next\r");
  EXPECT_EQ(K().History[2], "next");
}

TEST_F(History, ATypedLineIsErasedOnTheHostBeforeTheBox) {
  Type("ab");
  EXPECT_EQ(Sent(), "ab");
  Answer = std::nullopt;  // cancelled
  Press(vkUp);
  EXPECT_EQ(SentAfterTicks(), "\b\b");
  EXPECT_EQ(K().TypedLine, "");
  Settings().BackSpaceSends = 1;
  Type("xyz");
  Sent();
  Press(vkDown);
  EXPECT_EQ(SentAfterTicks(), "\x7f\x7f\x7f");
}

TEST_F(History, TheRingIndexWrapsBothWays) {
  Answer = std::nullopt;
  Press(vkUp);  // from 1 back to 30
  EXPECT_EQ(K().HistoryIndex, 30);
  EXPECT_EQ(Selected.back(), 29);
  Press(vkDown);
  EXPECT_EQ(K().HistoryIndex, 1);
  EXPECT_EQ(Selected.back(), 0);
  for (int i = 0; i < 31; ++i) Type("c" + std::to_string(i) + "\r");
  EXPECT_EQ(K().History[0], "c30");  // the 31st line took the first slot
  EXPECT_EQ(K().HistoryIndex, 2);
}

TEST_F(History, LeftStoresTheTypedLineAndShowsIt) {
  Answer = std::nullopt;
  Type("half");
  Sent();
  Press(vkLeft);
  ASSERT_EQ(Shown.size(), 1u);
  EXPECT_EQ(Shown[0][Selected[0]], "half");
  EXPECT_EQ(SentAfterTicks(), "\b\b\b\b");
  Press(vkRight);  // nothing in Quorix
  EXPECT_EQ(Shown.size(), 1u);
  EXPECT_EQ(SentAfterTicks(), "");
}

TEST_F(History, ALocalCommandFromTheBoxIsNotSent) {
  std::vector<std::string> offered;
  K().OfferLocalCommand = [&](const std::string& line) {
    offered.push_back(line);
    return line == "LOG ON";
  };
  Answer = "LOG ON";
  Press(vkUp);
  EXPECT_EQ(offered, std::vector<std::string>{"LOG ON"});
  EXPECT_EQ(SentAfterTicks(), "");
  EXPECT_EQ(K().History[29], "LOG ON");  // Up went from slot 1 back to 30
}

// ------------------------------------------------------- pure rules

TEST(KeyTranslation, WhichKeysMakeWhichEvents) {
  using E = TKeyEvent;
  EXPECT_EQ(TranslateKeyDown({vkNumpad3, 0, false, "3"}, false), (std::vector<E>{{E::keKeypad, vkNumpad3}}));
  EXPECT_EQ(TranslateKeyDown({vkAdd, 0, false, "+"}, true), (std::vector<E>{{E::keKeypad, vkAdd}}));
  EXPECT_EQ(TranslateKeyDown({vkAdd, 0, false, "+"}, false), (std::vector<E>{{E::keChar, '+'}}));
  EXPECT_EQ(TranslateKeyDown({vkReturn, 0, true, "\r"}, false), (std::vector<E>{{E::keKeypad, 13}}));
  EXPECT_EQ(TranslateKeyDown({vkReturn, 0, false, "\r"}, true), (std::vector<E>{{E::keChar, 13}}));
  EXPECT_EQ(TranslateKeyDown({vkCancel, kmCtrl, false, ""}, true), (std::vector<E>{{E::keVirtual, vkCancel}}));
  EXPECT_EQ(TranslateKeyDown({vkF24, 0, false, ""}, true), (std::vector<E>{{E::keVirtual, vkF24}}));
  EXPECT_EQ(TranslateKeyDown({vkPrior, 0, false, ""}, true), (std::vector<E>{{E::keVirtual, vkPrior}}));
  EXPECT_TRUE(TranslateKeyDown({vkShift, kmShift, false, ""}, true).empty());
  EXPECT_TRUE(TranslateKeyDown({vkControl, kmCtrl, false, ""}, true).empty());
  EXPECT_EQ(TranslateKeyDown({0, 0, false, "\xe9x"}, true), (std::vector<E>{{E::keChar, 0xe9}, {E::keChar, 'x'}}));
}

