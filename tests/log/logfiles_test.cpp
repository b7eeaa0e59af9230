#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <tuple>

#include "app/session.h"
#include "log/errors.h"
#include "log/file.h"
#include "log/logfiles.h"
#include "support/boxes.h"
#include "support/shown.h"
#include "support/testing.h"
#include "transfer/engine.h"

namespace {
const std::string CR = "\r";

struct TLogFixture : ::testing::Test {
  TTestSession T;
  TLogFiles& Files() { return *T.S->Files; }
  std::vector<TScriptedDesktop::TRecordedBox>& Boxes() { return T.Desktop.Boxes; }
  void LogText(const std::string& text) {
    for (char c : text) Files().LogChar(static_cast<std::uint8_t>(c));
  }
  // The settings' log file name set to `file` in the test's directory; its path.
  std::string UseLog(const std::string& file) {
    T.S->Settings.LogFileName = T.Dir.file(file);
    return T.Dir.file(file);
  }
};

std::uint32_t U32At(const std::string& bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(bytes[at + i]);
  return v;
}
}  // namespace

// ------------------------------------------------------------------ log file

using LogFile = TLogFixture;

TEST_F(LogFile, ToggleWithoutANameSaysSo) {
  Files().ToggleLogFile();
  EXPECT_EQ(BoxesShown(T.Desktop), (std::vector<TBoxShown>{{"No LogFile Name specified\rCorrect in the "
                                                            "Setup|Configure|Files", mbOK | mbHelp, TMsgIcon::Error}}));
  EXPECT_FALSE(Files().LogOpen);
}

TEST_F(LogFile, ANewFileIsCreatedAndHoldsCharactersAndLines) {
  UseLog("new.log");
  Files().ToggleLogFile();
  EXPECT_TRUE(Files().LogOpen);
  EXPECT_TRUE(T.S->Status.LogStatus);
  EXPECT_TRUE(Boxes().empty());
  LogText("ab\t\r\n");
  Files().LogLine("decoded");
  Files().ToggleLogFile();
  EXPECT_FALSE(Files().LogOpen);
  EXPECT_FALSE(T.S->Status.LogStatus);
  EXPECT_EQ(ReadFileBytes(T.Dir.file("new.log")), "ab\t\r\ndecoded\r\n");
}

// The append question: Cancel leaves the log closed and the file untouched, Ignore
// overwrites, OK (the box's default answer) appends over a final Ctrl-Z, only a final one.
TEST_F(LogFile, AppendQueryAnswers) {
  const std::string name = UseLog("old.log");
  const struct {
    std::string Old;
    std::optional<TMsgResult> Answer;
    std::string Added, After;
  } cases[] = {
      {"keep", TMsgResult::Cancel, "lost", "keep"}, {"keep", TMsgResult::OK, "+more", "keep+more"},
      {"keep", TMsgResult::Ignore, "new", "new"},   {"abc\x1A", std::nullopt, "de", "abcde"},
      {"a\x1A" "b", std::nullopt, "c", "a\x1A" "bc"}, {"", std::nullopt, "x", "x"},
  };
  for (const auto& c : cases) {
    WriteFileBytes(name, c.Old);
    if (c.Answer) T.Desktop.Answers.push_back(*c.Answer);
    Files().OpenLogFile();
    EXPECT_EQ(Files().LogOpen, c.Answer != TMsgResult::Cancel) << c.Added;
    LogText(c.Added);
    Files().CloseLogFile();
    EXPECT_EQ(ReadFileBytes(name), c.After) << c.Added;
  }
}

TEST_F(LogFile, OpenFailures) {
  const std::string name = UseLog("f.log");
  Files().Faults.OpenErrno = EACCES;
  Files().OpenLogFile();
  EXPECT_FALSE(Files().LogOpen);
  EXPECT_EQ(BoxTexts(T.Desktop), std::vector<std::string>{" Error opening log file -> " + name});

  WriteFileBytes(name, "x");
  Files().Faults.OpenErrno = EACCES;  // the append open fails after the question
  Files().OpenLogFile();
  EXPECT_FALSE(Files().LogOpen);
  ASSERT_EQ(Boxes().size(), 3u);
  EXPECT_EQ(Boxes()[2].Box.Text, "Error opening Log File " + name);
}

TEST_F(LogFile, TheBufferIsWrittenWhenFull) {
  const std::string name = UseLog("big.log");
  Files().CreateLogFile();
  LogText(std::string(2048, 'a'));
  EXPECT_EQ(ReadFileBytes(name).size(), 0u);  // still buffered
  LogText("b");
  EXPECT_EQ(ReadFileBytes(name), std::string(2048, 'a'));
  Files().LogLine(std::string(3000, 'c'));  // a line longer than the buffer
  Files().CloseLogFile();
  EXPECT_EQ(ReadFileBytes(name), std::string(2048, 'a') + "b" + std::string(3000, 'c') + "\r\n");
}

TEST_F(LogFile, DiskFullWhileLoggingClosesTheLog) {
  const std::string name = UseLog("full.log");
  Files().CreateLogFile();
  LogText(std::string(2048, 'a'));
  Files().Faults.ShortWrite = 100;
  LogText("b");
  EXPECT_FALSE(Files().LogOpen);
  EXPECT_FALSE(T.S->Status.LogStatus);
  ASSERT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Boxes()[0].Box.Text, "Disk FULL !");
  EXPECT_EQ(Boxes()[0].Box.Buttons, unsigned(mbCancel));
  EXPECT_EQ(ReadFileBytes(name), std::string(100, 'a'));
  LogText("ignored");  // the log is closed: nothing is kept, nothing shown
  EXPECT_EQ(Files().LogBuffered(), 0u);
  EXPECT_EQ(Boxes().size(), 1u);
}

TEST_F(LogFile, AWriteFailureOnCloseIsAFileAccessError) {
  UseLog("io.log");
  Files().CreateLogFile();
  LogText("abc");
  Files().Faults.WriteErrno = EIO;
  Files().CloseLogFile();
  EXPECT_FALSE(Files().LogOpen);
  EXPECT_EQ(BoxTexts(T.Desktop),
            std::vector<std::string>{"File access error. File = Logfile used" + CR + "Error = " +
                                     Padded("The request could not be performed because of an I/O device error.")});
}

TEST_F(LogFile, ARealFullDeviceGivesDiskFull) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  T.S->Settings.LogFileName = "/dev/full";
  Files().OpenLogFile();  // it exists: the append question is answered OK
  ASSERT_TRUE(Files().LogOpen);
  LogText("xyz");
  Files().CloseLogFile();
  ASSERT_EQ(Boxes().size(), 2u);
  EXPECT_EQ(Boxes()[1].Box.Text, "Disk FULL !");
}

// ------------------------------------------------------------ background log

struct BackgroundLog : TLogFixture {
  void SetUp() override {
    Files().BackgroundLogName = T.Dir.file("QELWIN.BGL");
    T.S->Settings.BackgroundLogging = 1;
  }
  void Record(const std::string& bytes) {
    for (char c : bytes) Files().RecordBackground(static_cast<std::uint8_t>(c));
  }
};

TEST_F(BackgroundLog, StartsOnlyWhenTheSettingIsOn) {
  T.S->Settings.BackgroundLogging = 0;
  Files().StartBackgroundLog();
  EXPECT_FALSE(Files().BackgroundRecording);
  EXPECT_FALSE(std::filesystem::exists(Files().BackgroundLogName));
}

TEST_F(BackgroundLog, RecordsResumesAndPlaysBack) {
  WriteFileBytes(Files().BackgroundLogName, "stale");
  Files().StartBackgroundLog();
  EXPECT_TRUE(Files().BackgroundRecording);
  EXPECT_EQ(Files().BackgroundState, TLogFiles::bsWriting);
  Record(std::string("one\0\xff", 5));
  Files().CloseBackgroundLog();
  EXPECT_EQ(ReadFileBytes(Files().BackgroundLogName), std::string("one\0\xff", 5));

  Files().ResumeBackgroundLog();
  Record("two");
  // Resuming again while recording keeps what was still buffered.
  Files().ResumeBackgroundLog();
  Record("three");
  Files().CloseBackgroundLog();
  EXPECT_EQ(ReadFileBytes(Files().BackgroundLogName), std::string("one\0\xfftwothree", 13));

  Files().OpenBackgroundLogForPlayback();
  EXPECT_TRUE(Files().PlaybackActive);
  EXPECT_EQ(Files().BackgroundState, TLogFiles::bsReading);
  EXPECT_EQ(Files().PlaybackLength, 13u);
  std::uint8_t buffer[20];
  EXPECT_EQ(Files().ReadBackgroundLog(buffer, sizeof buffer), 13);
  EXPECT_EQ(Files().ReadBackgroundLog(buffer, sizeof buffer), 0);
  Files().CloseBackgroundLog();
  EXPECT_FALSE(Files().PlaybackActive);
  EXPECT_EQ(Files().ReadBackgroundLog(buffer, sizeof buffer), -1);
}

TEST_F(BackgroundLog, ResumeCreatesAMissingFile) {
  Files().ResumeBackgroundLog();
  Record("x");
  Files().CloseBackgroundLog();
  EXPECT_EQ(ReadFileBytes(Files().BackgroundLogName), "x");
}

// A playback without a log is the playback tests' (its box and state).
TEST_F(BackgroundLog, AFileThatCannotBeCreatedShowsTheFileOpenMessage) {
  Files().Faults.OpenErrno = EACCES;
  Files().StartBackgroundLog();
  EXPECT_FALSE(Files().BackgroundRecording);
  EXPECT_EQ(BoxTexts(T.Desktop),
            std::vector<std::string>{"File access error when trying to open a file." + CR +
                                     "The file = Back ground logging file ( QELWIN.BGL )"});
}

// ------------------------------------------------------------- transfer file

struct TransferFile : TLogFixture {
  std::string Name;
  void SetUp() override {
    Name = T.Dir.file("data.txt");
    Files().TransferFileName = Name;
  }
  // The box of a transfer file's write that found the disk full.
  static std::vector<std::string> NoSpace() {
    return {"File access error. File = Transfer file" + CR + "Error = " +
            Padded("There is not enough space on the disk.")};
  }
  void StartTextReceive() {
    TTransferEngine& e = *T.S->Transfer;
    e.TransferActive = true;
    e.Direction = drReceive;
    e.ReceiveKind = rkUser;
    e.SuppressControl = true;
  }
};

TEST_F(TransferFile, SendingNeedsAnExistingFileAndNoReceiveCanStartBeside) {
  EXPECT_FALSE(Files().OpenTransferFile(0));
  EXPECT_EQ(BoxTexts(T.Desktop), std::vector<std::string>{" File " + Name + " not found."});
  WriteFileBytes(Name, "12345");
  EXPECT_TRUE(Files().OpenTransferFile(0));
  EXPECT_EQ(Files().TransferFileState, TLogFiles::tsReading);
  EXPECT_EQ(Files().TransferFileSize, 5u);
  // A receive cannot start while the send runs.
  Files().TransferFileName = T.Dir.file("other.txt");
  EXPECT_FALSE(Files().OpenTransferFile(1));
  ASSERT_EQ(Boxes().size(), 2u);
  EXPECT_EQ(Boxes()[1].Box.Text, "Snd and rcv can't take place at the same time. Close log file first (LOFF)");
  EXPECT_EQ(Files().TransferFileState, TLogFiles::tsReading);  // the running one is untouched
  EXPECT_FALSE(std::filesystem::exists(T.Dir.file("other.txt")));
  std::uint8_t buffer[8];
  EXPECT_EQ(Files().ReadTransferFile(buffer, sizeof buffer), 5);
}

// A host that leaves an existing file to the user: OK takes a new numbered name.
TEST_F(TransferFile, AHostReceiveThatAsksTakesANewNumberedNameOnOk) {
  T.S->Transfer->ReceiveKind = rkHost;
  WriteFileBytes(Name, "old");
  Files().HostFilePolicy = 0;
  ASSERT_TRUE(Files().OpenTransferFile(1));
  EXPECT_EQ(Files().TransferFileName, T.Dir.file("data.tx0"));
  EXPECT_EQ(Boxes().size(), 1u);
  Files().CloseTransferFile();
  EXPECT_EQ(ReadFileBytes(Name), "old");
}

TEST_F(TransferFile, NumberedNamesRunOut) {
  for (char d = '0'; d <= '9'; ++d) WriteFileBytes(T.Dir.file(std::string("data.tx") + d), "");
  EXPECT_FALSE(Files().NextNumberedName());
  EXPECT_EQ(BoxTexts(T.Desktop),
            std::vector<std::string>{" Can't rename transfer file. Too many files with the same name."});
}

TEST_F(TransferFile, AFileThatCannotBeReadIsThereAllTheSame) {
  // Write-only files, as a user other than root meets them.
  namespace fs = std::filesystem;
  fs::permissions(T.Dir.path(), fs::perms::all);
  const std::string numbered = T.Dir.file("data.tx0");
  const std::string log = T.Dir.file("session.log");
  for (const std::string& name : {numbered, log}) {
    WriteFileBytes(name, "PRECIOUS");
    fs::permissions(name, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write);
  }
  T.S->Settings.LogFileName.assign(log);
  T.Desktop.Answers = {TMsgResult::Cancel};
  const int boxes = RunUnprivileged([&] {
    if (!Files().NextNumberedName()) return 100;
    Files().CloseTransferFile();
    Files().OpenLogFile();  // the append question, answered Cancel
    return static_cast<int>(Boxes().size());
  });
  ASSERT_EQ(boxes, 1);
  EXPECT_EQ(ReadFileBytes(numbered), "PRECIOUS");
  EXPECT_TRUE(fs::exists(T.Dir.file("data.tx1")));
  EXPECT_EQ(ReadFileBytes(log), "PRECIOUS");
}

TEST_F(TransferFile, AOneCharacterNameIsReplacedWhole) {
  const std::filesystem::path old = std::filesystem::current_path();
  std::filesystem::current_path(T.Dir.path());
  WriteFileBytes("0", "");
  Files().TransferFileName = "x";
  EXPECT_TRUE(Files().NextNumberedName());
  EXPECT_EQ(Files().TransferFileName, "1");
  EXPECT_TRUE(std::filesystem::exists("1"));
  std::filesystem::current_path(old);
}

TEST_F(TransferFile, CreateFailuresAreReportedWithTheName) {
  const std::string name = T.Dir.file("no/such/dir.txt");
  Files().TransferFileName = name;
  EXPECT_FALSE(Files().OpenTransferFile(2));
  EXPECT_EQ(Files().TransferFileState, TLogFiles::tsClosed);
  EXPECT_EQ(BoxTexts(T.Desktop),
            std::vector<std::string>{"File access error when trying to open a file." + CR + "The file = " + name});
  EXPECT_FALSE(Files().OpenTransferFile(1));
  EXPECT_EQ(Boxes().size(), 2u);
  Files().TransferFileName = "";
  EXPECT_FALSE(Files().OpenTransferFile(2));  // no name: failure without a message
  EXPECT_EQ(Boxes().size(), 2u);
}

TEST_F(TransferFile, TheWritersTextReceiveFlushesAbove2066) {
  ASSERT_TRUE(Files().OpenTransferFile(2));
  EXPECT_FALSE(Files().TextReceiveActive());  // no receive runs yet
  StartTextReceive();
  ASSERT_TRUE(Files().TextReceiveActive());
  for (int i = 0; i < 2066; ++i) Files().TransferChar('a');
  EXPECT_EQ(ReadFileBytes(Name).size(), 0u);
  Files().TransferChar('b');
  EXPECT_EQ(ReadFileBytes(Name), std::string(2066, 'a'));
  Files().TransferLine("line");
  EXPECT_EQ(Files().ReceivedBytes, 2066u + 1 + 6);
  Files().CloseTransferFile();
  EXPECT_FALSE(T.S->Transfer->TransferActive);
  EXPECT_EQ(ReadFileBytes(Name), std::string(2066, 'a') + "bline\r\n");
}

TEST_F(TransferFile, AFailedWriteFromTheWriterClosesAndReports) {
  ASSERT_TRUE(Files().OpenTransferFile(2));
  StartTextReceive();
  for (int i = 0; i < 2066; ++i) Files().TransferChar('a');
  Files().Faults.WriteErrno = ENOSPC;
  Files().TransferChar('b');
  EXPECT_EQ(Files().TransferFileState, TLogFiles::tsClosed);
  EXPECT_FALSE(T.S->Transfer->TransferActive);
  EXPECT_EQ(BoxTexts(T.Desktop), NoSpace());
}

TEST_F(TransferFile, AFailedLastWriteOnCloseIsReported) {
  // The bytes still buffered when the receive ends are the end of the file:
  // losing them must not pass as a complete receive.
  ASSERT_TRUE(Files().OpenTransferFile(2));
  StartTextReceive();
  Files().TransferChar('a');
  Files().Faults.WriteErrno = ENOSPC;
  Files().CloseTransferFile();
  EXPECT_EQ(Files().TransferFileState, TLogFiles::tsClosed);
  EXPECT_EQ(BoxTexts(T.Desktop), NoSpace());

  // A send's file is only read: closing it writes nothing and reports nothing.
  WriteFileBytes(Name, "abc");
  ASSERT_TRUE(Files().OpenTransferFile(0));
  Files().Faults.WriteErrno = ENOSPC;
  Files().CloseTransferFile();
  EXPECT_EQ(Boxes().size(), 1u);
  Files().Faults.WriteErrno = 0;
}

TEST_F(TransferFile, CtrlZEndsTheWritersTextReceiveWhenAsked) {
  ASSERT_TRUE(Files().OpenTransferFile(2));
  StartTextReceive();
  T.S->Transfer->CtrlZEnds = true;
  Files().TransferChar('a');
  Files().TransferChar(26);
  EXPECT_FALSE(T.S->Transfer->TransferActive);
  EXPECT_EQ(T.S->Transfer->WaitFlag, wfFinished);
  EXPECT_EQ(ReadFileBytes(Name), "a");
}

// ------------------------------------------------------------ debug capture

using DebugCapture = TLogFixture;

TEST_F(DebugCapture, BytesDirectionsAndTicksAreDumped) {
  ASSERT_TRUE(Files().StartEscapeLog());
  EXPECT_FALSE(Files().StartEscapeLog());  // already running
  EXPECT_TRUE(Files().EscapeLogOpen());
  Files().WriteEscapeLog("ESC [ H\r\n");
  T.Desktop.Ticks = 1000;
  Files().RecordReceived('r');
  T.Desktop.Ticks = 0x01020304;
  Files().RecordSent('s');
  Files().StopEscapeLog();
  EXPECT_EQ(Files().DebugState, TLogFiles::dsOff);
  EXPECT_FALSE(Files().EscapeLogOpen());
  EXPECT_EQ(ReadFileBytes(T.Dir.file("qelwin.esl")), "ESC [ H\r\n");
  const std::string dump = ReadFileBytes(T.Dir.file("debu_qel.log"));
  ASSERT_EQ(dump.size(), 2u + 2 + 16384 + 65504 + 65504);
  EXPECT_EQ(dump.substr(0, 4), std::string("\x02\x00rs", 4));
  EXPECT_EQ(static_cast<std::uint8_t>(dump[4]), 0x02);  // bit 1: the second byte was sent
  const std::size_t ticks = 4 + 16384;
  EXPECT_EQ(U32At(dump, ticks), 1000u);
  EXPECT_EQ(U32At(dump, ticks + 4), 0x01020304u);
}

TEST_F(DebugCapture, TheStoreStopsAt64000AndStampsAtTheSecondTablesEnd) {
  ASSERT_TRUE(Files().StartEscapeLog());
  for (std::uint32_t i = 0; i < 70000; ++i) {
    T.Desktop.Ticks = i + 1;
    Files().RecordReceived(static_cast<std::uint8_t>(i));
  }
  EXPECT_EQ(Files().CaptureCount(), 64000u);
  Files().StopEscapeLog();
  const std::string dump = ReadFileBytes(T.Dir.file("debu_qel.log"));
  ASSERT_EQ(dump.size(), 2u + 64000 + 16384 + 65504 + 65504);
  EXPECT_EQ(static_cast<std::uint8_t>(dump[0]), 64000 & 0xFF);
  EXPECT_EQ(static_cast<std::uint8_t>(dump[1]), 64000 >> 8);
  const std::size_t first = 2 + 64000 + 16384;
  const std::size_t second = first + 65504;
  EXPECT_EQ(U32At(dump, first + 4 * 16374), 16375u);  // the last stamp of the first table
  EXPECT_EQ(U32At(dump, first + 4 * 16375), 0u);      // its last slot stays unused
  EXPECT_EQ(U32At(dump, second), 16376u);             // byte 16375 is stamped in the second
  EXPECT_EQ(U32At(dump, second + 4 * 16375), 32751u); // the last stamp of all
}

TEST_F(DebugCapture, TheTextFileCannotBeCreatedButCapturingGoesOn) {
  Files().Faults.OpenErrno = EACCES;
  EXPECT_TRUE(Files().StartEscapeLog());
  EXPECT_TRUE(Files().Capturing());
  EXPECT_FALSE(Files().EscapeLogOpen());
  EXPECT_EQ(BoxTexts(T.Desktop), std::vector<std::string>{"File access error. File = Escape Sequence Log File = " +
                                                            T.S->ProgramDirectory + "QELWIN.ESL" + CR + "Error = " +
                                                            Padded("Access is denied.")});
}

TEST_F(DebugCapture, NothingIsRecordedWhileOff) {
  Files().RecordSent('x');
  EXPECT_EQ(Files().CaptureCount(), 0u);
  Files().StopEscapeLog();
  EXPECT_FALSE(std::filesystem::exists(T.Dir.file("debu_qel.log")));
}

// ------------------------------------------------------- whole text files

TEST(WholeFile, AFileUpToTheLimitIsReadAndALargerOneOrADeviceIsRefused) {
  TTempDir dir;
  const std::string name = dir.file("list.txt");
  WriteFileBytes(name, std::string(100000, 'a'));
  std::string text;
  EXPECT_EQ(ReadWholeFile(name, 100000, text), 0);
  EXPECT_EQ(text.size(), 100000u);
  EXPECT_EQ(ReadWholeFile(name, 99999, text), ENOMEM);
  EXPECT_TRUE(text.empty());
  EXPECT_EQ(ReadWholeFile("/dev/zero", 1u << 20, text), ENOMEM);
  EXPECT_EQ(ReadWholeFile(dir.file("none.txt"), 10, text), ENOENT);
}
