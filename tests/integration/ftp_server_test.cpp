// The FTP client against a real server (pyftpdlib) on loopback: logging in,
// listing, directories, files both ways in both types byte for byte, typed
// commands, abort, and the failures a user meets (refused login, missing
// file, full disk, a server that dies during a transfer), each with the text
// the status history shows; and a hostile server whose listing or greeting
// never ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <tuple>

#include "support/ftpserver.h"
#include "support/testing.h"
#include "transfer/ftp.h"
#include "transfer/ftpdialog.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> History(const TFtpEventLog& log) {
  std::vector<std::string> lines;
  for (const TFtpEvent& event : log.All)
    for (std::string& line : FtpStatusLines(event)) lines.push_back(std::move(line));
  return lines;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

std::string AllBytes() {
  std::string bytes;
  for (int round = 0; round < 64; ++round)
    for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
  return bytes + "\r\n\n\r";
}

// A client and a server started by the test in the given mode (a hostile
// one, or "" for a well-behaved one) on a directory of its own.
class FtpFixture : public ::testing::Test {
 protected:
  void Start(const std::string& mode) {
    fs::create_directories(Root());
    Server = std::make_unique<TFtpServer>(Root(), mode);
    ASSERT_TRUE(Server->Ready()) << "the server did not start";
  }
  std::string Root() const { return Dir.file("served"); }
  std::string Local(const std::string& name) const { return Dir.file(name); }
  // Whether the status history holds every line; the history when not.
  ::testing::AssertionResult Listed(std::initializer_list<std::string> wanted) const {
    const std::vector<std::string> lines = History(Log);
    for (const std::string& line : wanted)
      if (!Contains(lines, line))
        return ::testing::AssertionFailure() << "not listed: " << line << "\n" << Joined(lines);
    return ::testing::AssertionSuccess();
  }
  ::testing::AssertionResult Listed(const std::string& line) const { return Listed({line}); }
  // Starts with an empty history, makes the requests and waits until the client is free.
  bool Run(const std::function<void()>& requests, int timeoutMs = 10000) {
    Log.Clear();
    requests();
    return Log.WaitIdle(timeoutMs);
  }
  // Connects, waits for the login to complete and checks that it listed every state in order.
  void ConnectAndLogIn() {
    ASSERT_TRUE(Run([&] { Client.Connect(Server->Host(), 0, TFtpServer::kUser, TFtpServer::kPassword); }));
    const std::vector<std::string> lines = History(Log);
    auto at = lines.begin();
    for (const char* state : {"Status : Connecting", "Status : Resolving Host", "Status : Host Resolved",
                              "Status : Connected Wait Authentication", "Protocol-Authorization",
                              "Protocol-End Transaction", "Free :"}) {
      at = std::find(at, lines.end(), state);
      ASSERT_NE(at, lines.end()) << state << " missing or out of order in\n" << Joined(lines);
    }
    ASSERT_TRUE(Listed({"Remote System = UNIX Type: L8", "Changed Remote Directory = /"}));
    ASSERT_TRUE(Client.Connected() && !Log.HasKind(fvError)) << Joined(lines);
    Log.Clear();
  }
  // A large sparse file costs no disk on the server side.
  void ServeHugeFile() {
    { std::ofstream(Root() + "/huge.bin"); }
    fs::resize_file(Root() + "/huge.bin", 4ull << 30);
  }

  TTempDir Dir;
  std::unique_ptr<TFtpServer> Server;
  TFtpClient Client;
  TFtpEventLog Log{Client};
};

class FtpServerTest : public FtpFixture {
 protected:
  void SetUp() override {
    fs::create_directories(Root() + "/reports/2024");
    WriteFileBytes(Root() + "/hello.txt", "first\nsecond\n");
    Start("");
  }
};

}  // namespace

TEST_F(FtpServerTest, ListingNamesFilesAndDirectoriesAndFillsTheListingFile) {
  ConnectAndLogIn();
  Client.SetListingFile(Local("Qelwin32.rdo"));
  ASSERT_TRUE(Run([&] { Client.List("", false); }));
  std::vector<TFtpListEntry> entries;
  for (const std::string& line : Log.Texts(fvListItem)) entries.push_back(ParseListLine(line));
  ASSERT_EQ(entries.size(), 2u) << Joined(Log.Texts(fvListItem));
  std::sort(entries.begin(), entries.end(), [](auto& a, auto& b) { return a.Name < b.Name; });
  EXPECT_EQ(std::tie(entries[0].Name, entries[0].IsDirectory, entries[1].Name, entries[1].IsDirectory),
            std::make_tuple(std::string("hello.txt"), false, std::string("reports"), true));
  EXPECT_TRUE(Listed("List : /"));
  // The listing file holds what was listed.
  const std::string listing = ReadFileBytes(Local("Qelwin32.rdo"));
  EXPECT_NE(listing.find("hello.txt"), std::string::npos) << listing;
  EXPECT_NE(listing.find("reports"), std::string::npos) << listing;

  ASSERT_TRUE(Run([&] { Client.List("reports", true); }));
  EXPECT_EQ(Log.Texts(fvListItem), std::vector<std::string>{"2024"});
  EXPECT_TRUE(Listed("Name List : /reports"));
}

TEST_F(FtpServerTest, DirectoriesChangeDownUpAndAMissingOneIsRefused) {
  ConnectAndLogIn();
  ASSERT_TRUE(Run([&] { Client.ChangeDirectory("reports/2024"); }));
  EXPECT_TRUE(Listed("Changed Remote Directory = /reports/2024"));
  EXPECT_EQ(Client.RemoteDirectory(), "/reports/2024");

  ASSERT_TRUE(Run([&] {
    Client.ParentDirectory();
    Client.PrintDirectory();
  }));
  EXPECT_TRUE(Listed("PWDR : /reports"));

  ASSERT_TRUE(Run([&] { Client.ChangeDirectory("no-such-dir"); }));
  EXPECT_TRUE(Listed("Change Directory Command Failed. Unable to change to specified directory"));
  EXPECT_EQ(Client.RemoteDirectory(), "/reports");
  EXPECT_TRUE(Client.Connected());

  // Files go to and come from the directory changed to.
  WriteFileBytes(Local("up.bin"), "in reports");
  ASSERT_TRUE(Run([&] { Client.Put(Local("up.bin"), "up.bin"); }));
  EXPECT_EQ(ReadFileBytes(Root() + "/reports/up.bin"), "in reports");
}

TEST_F(FtpServerTest, BinaryTransfersKeepEveryByteBothWays) {
  ConnectAndLogIn();
  const std::string bytes = AllBytes();
  WriteFileBytes(Local("all.bin"), bytes);
  Client.SetType(ftBinary);
  Client.Put(Local("all.bin"), "all.bin");
  Client.Get("all.bin", Local("back.bin"));
  ASSERT_TRUE(Log.WaitIdle());
  EXPECT_FALSE(Log.HasKind(fvError)) << Joined(History(Log));
  EXPECT_EQ(ReadFileBytes(Root() + "/all.bin"), bytes);
  EXPECT_EQ(ReadFileBytes(Local("back.bin")), bytes);
  const std::string sent = "Sent : " + Local("all.bin") + " (" + std::to_string(bytes.size()) + " bytes)";
  EXPECT_TRUE(Listed({"Binary :", sent}));
  // An empty file is a file too.
  WriteFileBytes(Root() + "/empty", "");
  ASSERT_TRUE(Run([&] { Client.Get("empty", Local("empty")); }));
  EXPECT_TRUE(fs::exists(Local("empty")));
  EXPECT_EQ(fs::file_size(Local("empty")), 0u);
}

TEST_F(FtpServerTest, AsciiTransfersGiveEachSideItsOwnLineEnds) {
  // This server keeps ASCII files in their network form (CR LF) and passes
  // them through as they are, so its files show what went over the wire.
  WriteFileBytes(Root() + "/dos.txt", "first\r\nsecond\r\n");
  ConnectAndLogIn();
  Client.SetType(ftAscii);
  Client.Get("dos.txt", Local("got.txt"));
  // Text from here goes out with CR LF, whether its lines ended in LF or CR LF.
  WriteFileBytes(Local("mixed.txt"), "one\r\ntwo\nthree\r\n\nend");
  Client.Put(Local("mixed.txt"), "mixed.txt");
  ASSERT_TRUE(Log.WaitIdle());
  EXPECT_FALSE(Log.HasKind(fvError)) << Joined(History(Log));
  EXPECT_TRUE(Listed("ASCII :"));
  EXPECT_EQ(ReadFileBytes(Local("got.txt")), "first\nsecond\n");
  EXPECT_EQ(ReadFileBytes(Root() + "/mixed.txt"), "one\r\ntwo\r\nthree\r\n\r\nend");

  // Back to binary: the same file comes byte for byte.
  ASSERT_TRUE(Run([&] {
    Client.SetType(ftBinary);
    Client.Get("dos.txt", Local("raw.txt"));
  }));
  EXPECT_EQ(ReadFileBytes(Local("raw.txt")), "first\r\nsecond\r\n");
}

TEST_F(FtpServerTest, AMissingRemoteFileOrAFullDiskFailsTheGetKeepsTheLocalFileAndTheSession) {
  ConnectAndLogIn();
  WriteFileBytes(Local("keep.txt"), "the engineer's notes");
  ASSERT_TRUE(Run([&] { Client.Get("no-such-file", Local("keep.txt")); }));
  EXPECT_TRUE(Listed("Get File Command Failed. Unable to retrieve specified file"));
  EXPECT_EQ(ReadFileBytes(Local("keep.txt")), "the engineer's notes");
  EXPECT_FALSE(fs::exists(Local("keep.txt.qelpart")));
  EXPECT_TRUE(Client.Connected());

  WriteFileBytes(Root() + "/trace.bin", std::string(300000, 'x'));
  ASSERT_TRUE(Run([&] { Client.Get("trace.bin", "/dev/full"); }));
  EXPECT_TRUE(Listed({"Get File Command Failed. Unable to retrieve specified file",
                      "LOG : /dev/full : Disk FULL !"}));
  EXPECT_TRUE(Client.Connected());
}

TEST_F(FtpServerTest, ARefusedLoginIsListedWithTheServersAnswerAndEndsDisconnected) {
  ASSERT_TRUE(Run([&] { Client.Connect(Server->Host(), 0, TFtpServer::kUser, "wrong password"); }));
  const std::vector<std::string> lines = History(Log);
  EXPECT_TRUE(Listed({"Connect Command Failed.  Unable to connect to remote host",
                      "LOG : 530 Authentication failed."}));
  EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
            (std::vector<std::string>{"Status : DisConnected", "Free :"}));
  EXPECT_FALSE(Contains(lines, "Protocol-End Transaction"));
  EXPECT_FALSE(Client.Connected());
}

TEST_F(FtpServerTest, TypedCommandsRunOnTheServerAndUnknownOnesAreNotImplemented) {
  ConnectAndLogIn();
  ASSERT_TRUE(Run([&] {
    Client.ChangeDirectory("reports");
    Client.Execute("MKD made-by-hand");
  }));
  // Made in the directory the user is in.
  EXPECT_TRUE(fs::is_directory(Root() + "/reports/made-by-hand"));
  const std::vector<std::string> executes = Log.Texts(fvExecute);
  ASSERT_EQ(executes.size(), 1u);
  EXPECT_EQ(executes[0].substr(0, 4), "257 ");

  ASSERT_TRUE(Run([&] { Client.Execute("XYZZY now"); }));
  EXPECT_TRUE(Listed("Command not implemented"));
  EXPECT_TRUE(Client.Connected());

  ASSERT_TRUE(Run([&] { Client.Help(""); }));
  const std::vector<std::string> lines = History(Log);
  const auto title = std::find(lines.begin(), lines.end(), "Help - List of supported commands");
  ASSERT_NE(title, lines.end()) << Joined(lines);
  // The server's own help follows, naming its commands.
  const std::string rest = Joined(std::vector<std::string>(title, lines.end()));
  EXPECT_NE(rest.find("LOG : 214"), std::string::npos) << rest;
  EXPECT_NE(rest.find("RETR"), std::string::npos) << rest;
}

TEST_F(FtpServerTest, AbortStopsAGetAtOnceAndTheSessionGoesOnAndAFrozenServerIsAReceiveTimeout) {
  ServeHugeFile();
  ConnectAndLogIn();
  Client.Get("huge.bin", Local("huge.bin"));
  Client.PrintDirectory();  // dropped by the abort
  ASSERT_TRUE(Log.WaitFor([&] { return Log.HasKind(fvProgress); }));
  const auto asked = std::chrono::steady_clock::now();
  Client.Abort();
  ASSERT_TRUE(Log.WaitIdle(5000));
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(2));
  EXPECT_TRUE(Listed("Transfer Aborted : huge.bin"));
  EXPECT_FALSE(Log.HasKind(fvPrintDirectory) || Log.HasKind(fvError)) << Joined(History(Log));
  EXPECT_FALSE(fs::exists(Local("huge.bin")) || fs::exists(Local("huge.bin.qelpart")));

  ASSERT_TRUE(Run([&] { Client.PrintDirectory(); }));
  EXPECT_TRUE(Listed("PWDR : /"));

  // A server that freezes during the next Get is a receive timeout.
  Log.Clear();
  Client.SetTimeouts(1, 1);
  Client.Get("huge.bin", Local("huge.bin"));
  ASSERT_TRUE(Log.WaitFor([&] { return Log.HasKind(fvProgress); }));
  Server->Signal(SIGSTOP);
  const bool ended = Log.WaitIdle(10000);
  Server->Signal(SIGCONT);
  ASSERT_TRUE(ended) << "the client waits for ever on a frozen server";
  EXPECT_TRUE(Listed({"Receive Timeout :", "Get File Command Failed. Unable to retrieve specified file"}));
  EXPECT_FALSE(fs::exists(Local("huge.bin")));
}

TEST_F(FtpServerTest, AServerKilledDuringAGetEndsTheTransferAndTheConnection) {
  ServeHugeFile();
  ConnectAndLogIn();
  Client.Get("huge.bin", Local("huge.bin"));
  ASSERT_TRUE(Log.WaitFor([&] { return Log.HasKind(fvProgress); }));
  Server->Kill();
  ASSERT_TRUE(Log.WaitIdle(15000)) << "the client hangs after the server died";
  const std::vector<std::string> lines = History(Log);
  EXPECT_TRUE(Listed("Get File Command Failed. Unable to retrieve specified file"));
  EXPECT_TRUE(lines.back() == "Free :" && Log.Has(fvState, fsDisconnected)) << Joined(lines);
  EXPECT_FALSE(Client.Connected());
  EXPECT_FALSE(fs::exists(Local("huge.bin")));
}

TEST_F(FtpServerTest, ClosingDuringATransferReturnsPromptly) {
  ServeHugeFile();
  auto client = std::make_unique<TFtpClient>();
  TFtpEventLog log(*client);
  client->Connect(Server->Host(), 0, TFtpServer::kUser, TFtpServer::kPassword);
  client->Get("huge.bin", Local("huge.bin"));
  ASSERT_TRUE(log.WaitFor([&] { return log.HasKind(fvProgress); }));
  const auto start = std::chrono::steady_clock::now();
  client.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_FALSE(fs::exists(Local("huge.bin.qelpart")));
}

TEST_F(FtpServerTest, NobodyListeningIsAFailedConnectAndAHostThatNeverGreetsAConnectTimeout) {
  ASSERT_TRUE(Run([&] { Client.Connect("127.0.0.1:" + std::to_string(FreePort()), 0, "u", "p"); }));
  EXPECT_TRUE(Log.Has(fvError, fcConnectFailed) && Log.Has(fvState, fsDisconnected)) << Joined(History(Log));
  EXPECT_FALSE(Log.Has(fvState, fsConnected));

  TLoopbackHost silent;  // accepts, then says nothing
  Client.SetTimeouts(1, 1);
  ASSERT_TRUE(Run([&] { Client.Connect("127.0.0.1:" + std::to_string(silent.Port), 0, "u", "p"); }, 8000))
      << "the connect never ended";
  EXPECT_TRUE(Listed({"Connect Timeout :", "Connect Command Failed.  Unable to connect to remote host"}));
  EXPECT_FALSE(Client.Connected());
}

// ------------------------------------------------- a server that misbehaves

class HostileFtpServerTest : public FtpFixture {
 protected:
  std::size_t IndexOf(TFtpEventKind kind) const {
    for (std::size_t i = 0; i < Log.All.size(); ++i)
      if (Log.All[i].Kind == kind) return i;
    return Log.All.size();
  }
};

TEST_F(HostileFtpServerTest, AListingThatNeverEndsIsCutOffWithItsErrorAndTheSessionGoesOn) {
  Start("endless-list");
  ConnectAndLogIn();
  Client.SetListingFile(Dir.file("Qelwin32.rdo"));
  ASSERT_TRUE(Run([&] { Client.List("", false); }, 120000)) << "the listing never ended";
  const std::vector<std::string> lines = History(Log);
  EXPECT_TRUE(Listed({"List Command Failed. Unable to retrieve detailed list; possible data connection error",
                      "LOG : The listing is larger than 64 MB; the rest was not read"}));
  EXPECT_FALSE(Contains(lines, "List : /")) << "a cut-off listing is not a finished one";
  // The lines came as they arrived, before the listing failed, and never
  // more than the listing's limit.
  const std::vector<std::string> items = Log.Texts(fvListItem);
  ASSERT_FALSE(items.empty());
  EXPECT_LT(IndexOf(fvListItem), IndexOf(fvError));
  std::uint64_t listed = 0;
  for (const std::string& item : items) listed += item.size();
  EXPECT_LE(listed, TFtpClient::kListingLimit);
  EXPECT_EQ(ParseListLine(items.front()).Name, std::string(900, 'n') + "000000001");
  EXPECT_LE(fs::file_size(Dir.file("Qelwin32.rdo")), TFtpClient::kListingLimit);

  ASSERT_TRUE(Run([&] { Client.PrintDirectory(); }));
  EXPECT_TRUE(Log.HasKind(fvPrintDirectory)) << Joined(History(Log));
}

TEST_F(HostileFtpServerTest, AListingLineIsKeptUpToItsLimitAndTheNextLineIsWhole) {
  Start("long-line");
  ConnectAndLogIn();
  ASSERT_TRUE(Run([&] { Client.List("", false); }));
  const std::vector<std::string> items = Log.Texts(fvListItem);
  ASSERT_EQ(items.size(), 2u) << Joined(History(Log));
  const std::string head = "-rw-r--r--   1 owner group  1 Jan 01 00:00 ";
  EXPECT_EQ(items[0], head + std::string(TFtpClient::kListLineLimit - head.size(), 'y'));
  EXPECT_EQ(ParseListLine(items[1]).Name, "after.txt");
  EXPECT_FALSE(Log.HasKind(fvError)) << Joined(History(Log));
}

TEST_F(HostileFtpServerTest, AGreetingThatNeverEndsIsAFailedConnect) {
  Start("endless-greeting");
  ASSERT_TRUE(Run([&] { Client.Connect(Server->Host(), 0, TFtpServer::kUser, TFtpServer::kPassword); }, 60000))
      << "the connect never ended";
  const std::vector<std::string> lines = History(Log);
  EXPECT_TRUE(Listed("Connect Command Failed.  Unable to connect to remote host"));
  EXPECT_FALSE(Contains(lines, "Connect Timeout :")) << Joined(lines);
  EXPECT_FALSE(Client.Connected());
  // The greeting's lines are listed; the state is told once, not per line.
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Status : Connected Wait Authentication"), 0);
}
