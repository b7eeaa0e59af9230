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

// Every string of letters, each after the prefix.
std::string Each(const std::string& prefix, const std::string& letters) {
  std::string sent;
  for (const char c : letters) sent += prefix + c;
  return sent;
}

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
// application mode (TN3270 sends none); F1..F4 are SS3 P..S, F7..F10 the cursor
// keys up, down, left, right; with a modifier, F5 and every QUORIX function
// key start soft keys (Ctrl before Shift); navigation keys and F13..F24 send
// nothing. The keypad sends its characters outside application mode (QUORIX
// ignores the mode), SS3 letters in it.
TEST_F(Keys, CursorFunctionNavigationAndKeypadKeys) {
  Settings().ShiftSoftKeys[0] = "s1";
  Settings().CntrlSoftKeys[6] = "c7";
  Settings().CntrlSoftKeys[1] = "c2";
  Settings().SoftKeys[4] = "f5";
  Settings().SoftKeys[0] = "one";
  Settings().SoftKeys[9] = "ten";
  Settings().ShiftSoftKeys[11] = "s12";
  const std::vector<int> arrows = {vkUp, vkDown, vkRight, vkLeft};
  std::vector<int> keypad, digits;
  for (int key = vkNumpad0; key <= vkDivide; ++key) keypad.push_back(key);
  keypad.push_back(vkReturn);
  for (int key = vkNumpad0; key <= vkNumpad9; ++key) digits.push_back(key);
  const struct {
    int Emulation, DataBits;
    bool Application;
    std::vector<int> Keys;
    unsigned Modifiers;
    std::string Sent;
  } cases[] = {
      {emVT100, 3, false, arrows, 0, Each(ESC + "[", "ABCD")},
      {emVT100, 4, true, arrows, 0, Each(ESC + "O", "ABCD")},
      {emVT220, 3, false, arrows, 0, Each(ESC + "[", "ABCD")},
      {emVT220, 3, true, arrows, 0, Each(ESC + "O", "ABCD")},
      {emVT220, 4, false, arrows, 0, Each(CSI, "ABCD")},
      {emVT220, 4, true, arrows, 0, Each(SS3, "ABCD")},
      {emVT52, 3, false, arrows, 0, Each(ESC, "ABCD")},
      {emVT52, 3, true, arrows, 0, Each(ESC, "ABCD")},
      {emTN3270, 3, false, arrows, 0, ""},
      {emTN3270, 3, true, arrows, 0, ""},
      {emVT100, 3, false, {vkF1, vkF2, vkF3, vkF4}, 0, Each(ESC + "O", "PQRS")},
      {emVT220, 4, false, {vkF1}, 0, SS3 + "P"},
      {emVT52, 4, false, {vkF4}, 0, ESC + "S"},
      {emVT100, 3, false, {vkF7, vkF8, vkF9, vkF10}, 0, Each(ESC + "[", "ABDC")},
      {emVT100, 3, true, {vkF9}, 0, ESC + "OD"},
      {emVT100, 3, false, {vkPrior, vkNext, vkHome, vkEnd, vkF13, vkF24}, 0, ""},
      {emVT100, 3, false, {vkF1}, kmShift, "s1"},          // soft key 13
      {emVT100, 3, false, {vkF7}, kmCtrl, "c7"},           // soft key 31, not a cursor key
      {emVT100, 3, false, {vkF2}, kmCtrl | kmShift, "c2"},  // Ctrl wins: 26
      {emVT100, 3, false, {vkF5}, 0, "f5"},
      {emQuorix, 3, false, {vkF1}, 0, "one"},
      {emQuorix, 3, false, {vkF10}, 0, "ten"},
      {emQuorix, 3, false, {vkF12}, kmShift, "s12"},
      {emVT100, 3, false, keypad, 0, "0123456789*+,-./\r"},
      {emQuorix, 3, true, keypad, 0, "0123456789*+,-./\r"},
      {emVT100, 3, true, digits, 0, Each(ESC + "O", "pqrstuvwxy")},
      {emVT100, 3, true, {vkAdd, vkSubtract, vkDecimal, vkReturn}, 0, Each(ESC + "O", "MmnM")},
      {emVT100, 3, true, {vkMultiply, vkSeparator, vkDivide}, 0, "*,/"},
      {emVT220, 4, true, {vkNumpad5}, 0, SS3 + "u"},
      {emTN3270, 3, true, {vkNumpad5}, 0, ""},
  };
  for (const auto& c : cases) {
    Settings().Emulation = static_cast<std::uint8_t>(c.Emulation);
    Settings().DataBits = static_cast<std::uint8_t>(c.DataBits);
    State().CursorKeysApplication = State().KeypadApplication = c.Application;
    // The keypad's Enter is the extended Return.
    for (const int key : c.Keys) Press(key, c.Modifiers, key == vkReturn ? "\r" : "", key == vkReturn);
    Ticks(1);  // a soft key goes out on the next tick
    EXPECT_EQ(Sent(), c.Sent) << "type " << c.Emulation << " bits " << c.DataBits << " application "
                              << c.Application << " key " << c.Keys[0] << " mods " << c.Modifiers;
  }
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
  for (const int setting : {0, 1}) {  // "Backspace", "Delete"
    Settings().BackSpaceSends = static_cast<std::uint8_t>(setting);
    Press(vkBack, 0, "\b");
    Press(vkBack, kmCtrl, "\b");
    EXPECT_EQ(Sent(), setting ? "\x7f\b" : "\b\x7f") << setting;
  }
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
  EXPECT_EQ(ScreenRow(*T.S, 1), "hi");
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
  // Lock keys update the status line.
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
  // All 30 slots, "list" trimmed and selected.
  EXPECT_EQ(std::tuple(Shown[0].size(), Shown[0][0], Shown[0][1], Selected[0]),
            std::tuple(std::size_t{30}, std::string("status"), std::string("list"), 1));
  EXPECT_EQ(SentAfterTicks(), "list\r");
  // Stored at the ring index, the slot it came from; the next line goes after it.
  EXPECT_EQ(K().History[1], "list");
  EXPECT_EQ(K().TypedLine, "");
  Type("next\r");
  EXPECT_EQ(K().History[2], "next");
}

// A typed line is erased on the host before the box, Left also stores it.
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
  // Left stores the typed line and shows it; Right does nothing in QUORIX.
  Settings().BackSpaceSends = 0;
  Type("half");
  Sent();
  Press(vkLeft);
  ASSERT_EQ(Shown.size(), 3u);
  EXPECT_EQ(Shown[2][Selected[2]], "half");
  EXPECT_EQ(SentAfterTicks(), "\b\b\b\b");
  Press(vkRight);
  EXPECT_EQ(Shown.size(), 3u);
  EXPECT_EQ(SentAfterTicks(), "");
}

TEST_F(History, TheRingIndexWrapsBothWays) {
  Answer = std::nullopt;
  Press(vkUp);  // from 1 back to 30
  EXPECT_EQ(std::pair(K().HistoryIndex, Selected.back()), std::pair(30, 29));
  Press(vkDown);
  EXPECT_EQ(std::pair(K().HistoryIndex, Selected.back()), std::pair(1, 0));
  for (int i = 0; i < 31; ++i) Type("c" + std::to_string(i) + "\r");
  EXPECT_EQ(K().History[0], "c30");  // the 31st line took the first slot
  EXPECT_EQ(K().HistoryIndex, 2);
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

// Num Lock, the keypad's Enter and the virtual keys are in the tests above;
// here what no key sends: Shift and Ctrl make no event, a text one per character.
TEST(KeyTranslation, WhichKeysMakeWhichEvents) {
  using E = TKeyEvent;
  EXPECT_TRUE(TranslateKeyDown({vkShift, kmShift, false, ""}, true).empty());
  EXPECT_TRUE(TranslateKeyDown({vkControl, kmCtrl, false, ""}, true).empty());
  EXPECT_EQ(TranslateKeyDown({vkF24, 0, false, ""}, true), (std::vector<E>{{E::keVirtual, vkF24}}));
  EXPECT_EQ(TranslateKeyDown({0, 0, false, "\xe9x"}, true), (std::vector<E>{{E::keChar, 0xe9}, {E::keChar, 'x'}}));
}
