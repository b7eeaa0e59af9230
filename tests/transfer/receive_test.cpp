#include "transfer/receive.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <random>
#include <string>
#include <tuple>

#include "app/mainform.h"
#include "app/session.h"
#include "comms/recordinglines.h"
#include "comms/transmit.h"
#include "log/errors.h"
#include "log/logfiles.h"
#include "screen/store.h"
#include "support/boxes.h"
#include "support/shown.h"
#include "support/testing.h"
#include "transfer/engine.h"

using namespace std::string_literals;

namespace {

constexpr char kCtrlZ = 26;

struct Receive : ::testing::Test {
  TConnectedSession T;
  TRecordingNetworkLine& Wire = T.Wire;
  TCommandState State;
  TFileReceive R{*T.S, State};
  std::optional<TReceiveParameters> Answer;  // what the dialog gives back
  std::vector<TReceiveParameters> Presets;   // what it was shown
  std::string Name = T.Dir.file("rx.dat");

  void SetUp() override {
    S().Settings.SendReceiveFileName.assign(Name);  // where a host's receive goes
    R.AskParameters = [this](bool, const TReceiveParameters& preset) {
      Presets.push_back(preset);
      return Answer;
    };
  }
  TSession& S() { return *T.S; }
  TTransferEngine& E() { return *T.S->Transfer; }
  TLogFiles& Files() { return *T.S->Files; }
  const std::vector<TScriptedDesktop::TRecordedBox>& Boxes() { return T.Desktop.Boxes; }
  void Push(const std::string& bytes) { T.Push(bytes); }
  bool Start(bool ascii, bool ctrlZ = false, bool suppress = false) {
    Answer = TReceiveParameters{Name, ctrlZ, suppress};
    return R.StartReceive(ascii);
  }
  std::string Row(int row) { return T.Row(row); }
  int Posted(int message) { return PostedCount(T.Desktop, message); }
  // The receive ended with its file closed holding bytes, and the window was told once.
  void ExpectEnded(const std::string& bytes) {
    EXPECT_FALSE(E().TransferActive);
    EXPECT_EQ(Files().TransferFileState, TLogFiles::tsClosed);
    EXPECT_EQ(ReadFileBytes(Name), bytes);
    EXPECT_EQ(Posted(wmTransferEnded), 1);
  }
};

// --------------------------------------------------------- user receives

TEST_F(Receive, AsciiWithCtrlZEndStoresUpToTheCtrlZAndEndsByItself) {
  ASSERT_TRUE(Start(true, true, false));
  EXPECT_FALSE(State.TransfersEnabled);
  Push(std::string("abc\x1b[1mdef") + kCtrlZ + "XYZ");
  ExpectEnded("abc\x1b[1mdef");
  // Received text is shown throughout, and what follows the end only there.
  EXPECT_EQ(Row(1), "abcdefXYZ");
}

TEST_F(Receive, SuppressingControlCharactersStoresTheTextAsShown) {
  ASSERT_TRUE(Start(true, false, true));
  Push("line1\r\n\x1b[31mred\x07\tx\x1b[2;40H!\r\n");
  Files().CloseTransferFile();
  EXPECT_EQ(ReadFileBytes(Name), "line1\r\nred\tx!\r\n");
}

TEST_F(Receive, BinaryStoresEveryByteAndNeverEndsByItself) {
  // Whatever the dialog's boxes said, a binary receive stores all.
  ASSERT_TRUE(Start(false, true, true));
  EXPECT_FALSE(E().CtrlZEnds);
  EXPECT_FALSE(E().SuppressControl);
  std::string bytes;
  for (int round = 0; round < 20; ++round) {
    for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
  }
  Push(bytes);
  EXPECT_TRUE(E().TransferActive);
  EXPECT_EQ(Files().ReceivedBytes, bytes.size());
  Files().CloseTransferFile();
  EXPECT_EQ(ReadFileBytes(Name), bytes);
}

TEST_F(Receive, TheDialogShowsAndStoresTheSettings) {
  const auto shown = [](const TReceiveParameters& p) { return std::tuple(p.FileName, p.CtrlZEnds, p.SuppressControl); };
  const auto stored = [this] {
    return std::tuple(S().Settings.SendReceiveFileName.str(), int{S().Settings.CtrlZEnd},
                      int{S().Settings.SuppressCtrlChar});
  };
  S().Settings.SendReceiveFileName.assign("old.txt");
  S().Settings.CtrlZEnd = 1;
  S().Settings.SuppressCtrlChar = 0;
  Answer = std::nullopt;
  EXPECT_FALSE(R.StartReceive(true));
  EXPECT_FALSE(R.StartReceive(false));
  ASSERT_EQ(Presets.size(), 2u);
  EXPECT_EQ(shown(Presets[0]), std::tuple("old.txt"s, true, false));
  EXPECT_EQ(shown(Presets[1]), std::tuple("old.txt"s, false, false));  // binary shows both off
  EXPECT_FALSE(E().TransferActive);
  EXPECT_TRUE(Boxes().empty());

  ASSERT_TRUE(Start(true, false, true));
  EXPECT_EQ(stored(), std::tuple(Name, 0, 1));
  Files().CloseTransferFile();
  // The binary receive stores the name only.
  Name = T.Dir.file("rx.bin");
  ASSERT_TRUE(Start(false, true, false));
  EXPECT_EQ(stored(), std::tuple(Name, 0, 1));
}

TEST_F(Receive, AnEmptyNameIsRefusedWithItsBox) {
  Name.clear();
  EXPECT_FALSE(Start(true));
  EXPECT_EQ(BoxesShown(T.Desktop), (std::vector<TBoxShown>{{"No Receive File Name specified\rCorrect in the "
                                                            "Setup|Configure|Files", mbOK | mbHelp, TMsgIcon::Error}}));
  EXPECT_FALSE(E().TransferActive);
  EXPECT_TRUE(State.TransfersEnabled);
}

TEST_F(Receive, AnExistingFileIsAppendedOverItsCtrlZOrReplacedOrLeftAlone) {
  WriteFileBytes(Name, std::string("old") + kCtrlZ);
  T.Desktop.Answers = {TMsgResult::OK};
  ASSERT_TRUE(Start(false));
  EXPECT_EQ(Boxes().back().Box.Text, "File " + Name + " already exist!\rDo you wish to append to the existing file?");
  Push("new");
  Files().CloseTransferFile();
  EXPECT_EQ(ReadFileBytes(Name), "oldnew");

  T.Desktop.Answers = {TMsgResult::Cancel};
  EXPECT_FALSE(Start(false));
  EXPECT_FALSE(E().TransferActive);
  Push("shown only");
  EXPECT_EQ(ReadFileBytes(Name), "oldnew");

  T.Desktop.Answers = {TMsgResult::Ignore};
  ASSERT_TRUE(Start(false));
  Push("fresh");
  Files().CloseTransferFile();
  EXPECT_EQ(ReadFileBytes(Name), "fresh");
}

TEST_F(Receive, ASecondReceiveIsRefusedAndTheFirstGoesOn) {
  ASSERT_TRUE(Start(false));
  Push("one");
  const std::string first = Name;
  Name = T.Dir.file("other.dat");
  EXPECT_FALSE(Start(false));
  EXPECT_EQ(Boxes().back().Box.Text, "Snd and rcv can't take place at the same time. Close log file first (LOFF)");
  EXPECT_TRUE(E().TransferActive);
  EXPECT_EQ(Files().TransferFileName, first);
  Push("two");
  Files().CloseTransferFile();
  EXPECT_EQ(ReadFileBytes(first), "onetwo");
}

TEST_F(Receive, OverTelnetADoubledIacIsOneByteAndCommandsAreStillAnswered) {
  S().Settings.Port = 5;  // Telnet
  ASSERT_TRUE(Start(false));
  Push("a\xff\xff" "b\xff\xfd\x18" "c");  // data 255, then IAC DO TERMINAL-TYPE
  EXPECT_EQ(Wire.Sent, "\xff\xfb\x18");   // IAC WILL TERMINAL-TYPE
  Files().CloseTransferFile();
  EXPECT_EQ(ReadFileBytes(Name), "a\xff" "bc");

  // The host's own binary receive counts the 255 once.
  Wire.Sent.clear();
  Push("\x1b[>0;1;3r" "\xff\xff" "xy" "after");
  EXPECT_EQ(Wire.Sent, "Y");
  EXPECT_FALSE(E().TransferActive);
  EXPECT_EQ(ReadFileBytes(Name), "\xffxy");
}

TEST_F(Receive, ReceivedBytesReachTheFileByTheNextTick) {
  ASSERT_TRUE(Start(false));
  Push("abc");
  S().TimerTick();
  EXPECT_EQ(ReadFileBytes(Name), "abc");  // while the receive still runs
  EXPECT_TRUE(E().TransferActive);
  Push("def");
  S().TimerTick();
  EXPECT_EQ(ReadFileBytes(Name), "abcdef");
}

// ------------------------------------------------------------- faults

TEST_F(Receive, AFullDiskEndsTheReceiveWithItsTextAndKeepsWhatWasWritten) {
  ASSERT_TRUE(Start(false));
  const std::string bytes = RandomBytes(3000, 7);
  Files().Faults.ShortWrite = 100;
  Push(bytes);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Trimmed(Boxes()[0].Box.Text), "File access error. File = Transfer File\rError = There is not enough space on the disk.");
  ExpectEnded(bytes.substr(0, 100));
  // The session goes on: the next bytes are shown.
  Push("\x1b[H\x1b[2Jstill here");
  EXPECT_EQ(Row(1), "still here");
}

TEST_F(Receive, TheRealFullDeviceGivesTheSameText) {
  Name = "/dev/full";
  T.Desktop.Answers = {TMsgResult::OK};  // it exists: append
  ASSERT_TRUE(Start(false));
  Push(std::string(TLogFiles::kTransferFlushSize, 'x'));
  ASSERT_EQ(Boxes().size(), 2u);
  EXPECT_EQ(Trimmed(Boxes()[1].Box.Text), "File access error. File = Transfer File\rError = There is not enough space on the disk.");
  EXPECT_FALSE(E().TransferActive);
}

TEST_F(Receive, ALostLineEndsTheReceiveAndKeepsItsBytes) {
  ASSERT_TRUE(Start(false));
  Push("kept");
  E().LineEnded();  // a line is still up: the receive goes on
  EXPECT_TRUE(E().TransferActive);
  T.S->Transmit->NetworkConnected = false;
  E().LineEnded();
  ExpectEnded("kept");
  E().LineEnded();  // nothing runs: nothing happens
  EXPECT_EQ(Posted(wmTransferEnded), 1);
}

// ----------------------------------------------------- host-initiated

TEST_F(Receive, AHostBinaryReceiveStoresTheCountedBytesUnshownThenEnds) {
  const std::string payload = RandomBytes(5000, 3) + kCtrlZ + "\x1b[2J";
  Push("\x1b[>0;1;" + std::to_string(payload.size()) + "r");
  EXPECT_EQ(Wire.Sent, "Y");
  EXPECT_TRUE(E().TransferActive);
  EXPECT_EQ(E().ReceiveKind, 1);
  EXPECT_FALSE(State.TransfersEnabled);
  Push(payload + "after");
  ExpectEnded(payload);
  EXPECT_EQ(Row(1), "after");  // nothing of the payload reached the screen
}

TEST_F(Receive, AHostReceiveFollowsTheHostsPolicyForAnExistingFile) {
  S().Settings.SendReceiveFileName.assign(T.Dir.file("host.da"));
  WriteFileBytes(T.Dir.file("host.da"), "old");
  WriteFileBytes(T.Dir.file("host.d0"), "old0");
  Push("\x1b[>0;2;3r" "abc");  // a new numbered name
  EXPECT_EQ(ReadFileBytes(T.Dir.file("host.d1")), "abc");
  Push("\x1b[>0;1;2r" "xy");  // overwrite
  EXPECT_EQ(ReadFileBytes(T.Dir.file("host.da")), "xy");
  EXPECT_EQ(ReadFileBytes(T.Dir.file("host.d0")), "old0");
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(Wire.Sent, "YY");
}

TEST_F(Receive, AHostReceiveKeepsEachFileItReplacesAsANumberedBackup) {
  WriteFileBytes(Name, "PRECIOUS USER DATA");
  Push("\x1b[>0;1;3r" "abc");  // overwrite, three bytes
  EXPECT_EQ(ReadFileBytes(Name), "abc");
  EXPECT_EQ(ReadFileBytes(Name + ".~1~"), "PRECIOUS USER DATA");
  Push("\x1b[>0;1;2r" "xy");
  EXPECT_EQ(ReadFileBytes(Name), "xy");
  EXPECT_EQ(ReadFileBytes(Name + ".~1~"), "PRECIOUS USER DATA");
  EXPECT_EQ(ReadFileBytes(Name + ".~2~"), "abc");
  // The host's text receive, where the user answers Ignore, keeps it too.
  T.Desktop.Answers = {TMsgResult::Ignore};
  Push("\x1b[>1r" "text\x1a");
  EXPECT_EQ(ReadFileBytes(Name), "text");
  EXPECT_EQ(ReadFileBytes(Name + ".~3~"), "xy");
  EXPECT_EQ(Wire.Sent, "YYY");
  // The user's own receive replaces as the user chose.
  T.Desktop.Answers = {TMsgResult::Ignore};
  ASSERT_TRUE(Start(false));
  Files().CloseTransferFile();
  EXPECT_EQ(ReadFileBytes(Name), "");
  EXPECT_FALSE(std::filesystem::exists(Name + ".~4~"));
}

TEST_F(Receive, AHostReceiveStopsAtTheLimitWithItsBoxAndWhatFollowsIsShown) {
  E().HostTransfers.ReceiveLimit = 1000;
  Push("\x1b[>0r" + std::string(1000, 'a') + "\x1b[H\x1b[2Jshown");
  ExpectEnded(std::string(1000, 'a'));
  EXPECT_EQ(BoxTexts(T.Desktop), std::vector<std::string>{"The transfer the host started was stopped at the "
                                                          "receive limit of 1000 bytes.\rFile = " + Name});
  EXPECT_EQ(Row(1), "shown");
  // The user's own receive has no limit.
  Name = T.Dir.file("mine.dat");
  ASSERT_TRUE(Start(false));
  Push(std::string(5000, 'b'));
  Files().CloseTransferFile();
  EXPECT_EQ(ReadFileBytes(Name), std::string(5000, 'b'));
}

TEST_F(Receive, AHostTextReceiveEndsAtCtrlZWhateverTheLastDialogSaid) {
  ASSERT_TRUE(Start(false));  // leaves both options off
  Files().CloseTransferFile();
  Name = T.Dir.file("text.txt");
  S().Settings.SendReceiveFileName.assign(Name);
  Push("\x1b[>1r");
  ASSERT_EQ(Wire.Sent, "Y");
  Push(std::string("hello\r\n") + kCtrlZ + "after");
  EXPECT_FALSE(E().TransferActive);
  EXPECT_EQ(ReadFileBytes(Name), "hello\r\n");
  EXPECT_EQ(Row(2), "after");
}

TEST_F(Receive, AHostReceiveWithoutALengthRunsUntilCancelled) {
  Push("\x1b[>0r");
  const std::string bytes = RandomBytes(10000, 11);
  Push(bytes);
  EXPECT_TRUE(E().TransferActive);
  TMainForm form(S());
  form.CancelTransfer();
  EXPECT_FALSE(E().TransferActive);
  EXPECT_EQ(ReadFileBytes(Name), bytes);
}

// ------------------------------------------------------------- exit

// The log's own flush at exit is the main form's shutdown test.
TEST_F(Receive, ExitFlushesTheBackgroundLogAndTheTransferFile) {
  S().Settings.BackgroundLogging = 1;
  Files().BackgroundLogName = T.Dir.file("QELWIN.BGL");
  Files().StartBackgroundLog();
  ASSERT_TRUE(Start(false));
  Push("short text\r\n");  // far below every buffer's size
  TMainForm form(S());
  form.CloseConnectionsAndFiles();
  EXPECT_EQ(ReadFileBytes(Name), "short text\r\n");
  EXPECT_EQ(ReadFileBytes(Files().BackgroundLogName), "short text\r\n");
  EXPECT_EQ(Files().TransferFileState, TLogFiles::tsClosed);
  EXPECT_EQ(Files().BackgroundState, TLogFiles::bsClosed);
}

}  // namespace
