// The FTP window's logic without a server: the error texts and status
// history lines, typed commands, listing lines, the transfer sequence, and
// how the client writes hosts, paths and URLs.
#include <gtest/gtest.h>

#include <tuple>
#include <utility>

#include "transfer/ftp.h"
#include "transfer/ftpdialog.h"

using namespace std::string_literals;

namespace {

std::vector<std::string> Lines(TFtpEventKind kind, int value = 0, const std::string& text = "",
                               std::int64_t bytes = 0) {
  return FtpStatusLines(TFtpEvent{kind, value, text, bytes});
}

using TLines = std::vector<std::string>;

}  // namespace

TEST(FtpTexts, ErrorCodesGiveTheirTextsWithTheirOwnSpacing) {
  EXPECT_EQ(FtpErrorText(2104), "Port Command Failed.  Unable to open Port");
  EXPECT_EQ(FtpErrorText(2120), "Put File Command Failed.  Unable to put file on remote host");
  EXPECT_EQ(FtpErrorText(2171), "Maximum connection(<number>) reached");
  // Codes between the table's runs have no text.
  EXPECT_EQ(FtpErrorText(2136), "");
  EXPECT_EQ(FtpErrorText(2103), "");
}

// Each kind of event once (the states and timeouts of a kind share its form).
TEST(FtpTexts, EveryEventListsItsLine) {
  EXPECT_EQ(Lines(fvState, fsConnected), TLines{"Status : Connected Wait Authentication"});
  EXPECT_EQ(Lines(fvProtocolState, fpTransaction), TLines{"Protocol-End Transaction"});
  EXPECT_EQ(Lines(fvBusy, 1), TLines{"Busy"});
  EXPECT_EQ(Lines(fvBusy, 0), TLines{"Free :"});
  EXPECT_EQ(Lines(fvLog, 0, "226 Transfer complete."), TLines{"LOG : 226 Transfer complete."});
  EXPECT_EQ(Lines(fvType, ftBinary), TLines{"Binary :"});
  EXPECT_EQ(Lines(fvAbort, 0, "big.trc"), TLines{"Transfer Aborted : big.trc"});
  EXPECT_EQ(Lines(fvAbort), TLines{"Transfer Aborted :"});
  EXPECT_EQ(Lines(fvDirectory, 0, "/ornet"), TLines{"Changed Remote Directory = /ornet"});
  EXPECT_EQ(Lines(fvPrintDirectory, 0, "/ornet"), TLines{"PWDR : /ornet"});
  EXPECT_EQ(Lines(fvSystem, 0, "UNIX Type: L8"), TLines{"Remote System = UNIX Type: L8"});
  EXPECT_EQ(Lines(fvExecute, 0, "200 NOOP ok"), TLines{"Execute : 200 NOOP ok"});
  EXPECT_EQ(Lines(fvAccount, 0, "acct"), TLines{"Account : acct"});
  EXPECT_EQ(Lines(fvListDone, 0, "/a"), TLines{"List : /a"});
  EXPECT_EQ(Lines(fvListDone, 1, "/a"), TLines{"Name List : /a"});
  EXPECT_EQ(Lines(fvTimeout, ftReceive), TLines{"Receive Timeout :"});
  // Progress and listing lines are shown elsewhere, never in the history.
  EXPECT_EQ(Lines(fvProgress, 0, "f", 100), TLines{});
  EXPECT_EQ(Lines(fvListItem, 0, "f"), TLines{});
}

TEST(FtpTexts, AnErrorIsItsTextAndItsCauseFollowsAsALogLine) {
  EXPECT_EQ(Lines(fvError, 2113), TLines{"Get File Command Failed. Unable to retrieve specified file"});
  EXPECT_EQ(Lines(fvError, 2113, "/dev/full : Disk FULL !"),
            (TLines{"Get File Command Failed. Unable to retrieve specified file", "LOG : /dev/full : Disk FULL !"}));
  EXPECT_EQ(Lines(fvError, 1999), TLines{"Error 1999"});
}

TEST(FtpTypedCommands, TheFirstWordInAnyCaseSelectsTheRole) {
  struct TCase {
    std::string Line;
    TTypedCommandKind Kind;
    std::string Rest;
    std::string Status;
  };
  const TCase cases[] = {
      {"cwd /ornet/trace", tcChangeDirectory, "/ornet/trace", "S: CWD /ornet/trace"},
      {"  Cwd   my dir  ", tcChangeDirectory, "my dir", "S: CWD my dir"},
      {"PWD", tcPrintDirectory, "", "S: PWD"},
      {"list -l", tcList, "-l", "S: LIST -l"},
      {"LIST", tcList, "", "S: LIST "},
      {"nlst sub", tcNameList, "sub", "S: NAMELIST sub"},
      {"NameList", tcNameList, "", "S: NAMELIST "},
      {"abor", tcAbort, "", "S: ABORT "},
      {"ABORT now", tcAbort, "now", "S: ABORT now"},
      {"help retr", tcHelp, "retr", "S: HELP retr"},
      {"  mkd new dir", tcExecute, "mkd new dir", "EXEC : mkd new dir"},
      {"CWDX a", tcExecute, "CWDX a", "EXEC : CWDX a"},
  };
  for (const TCase& c : cases) {
    const auto command = ParseTypedCommand(c.Line);
    ASSERT_TRUE(command) << c.Line;
    EXPECT_EQ(std::tuple(command->Kind, command->Rest, command->StatusLine), std::tuple(c.Kind, c.Rest, c.Status))
        << c.Line;
  }
  EXPECT_FALSE(ParseTypedCommand(""));
  EXPECT_FALSE(ParseTypedCommand("   \t "));
}

TEST(FtpListing, UnixDosAndBareLinesGiveTheNameAndWhetherItIsADirectory) {
  const struct {
    std::string Line, Name;
    bool Directory;
  } cases[] = {
      {"drwxr-xr-x   2 root     root         4096 Mar 03 10:17 trace files", "trace files", true},
      {"-rw-r--r--   1 engineer staff      1048576 Jan 01  2024 ex01.trc", "ex01.trc", false},
      {"lrwxrwxrwx   1 root     root            7 Mar 03 10:17 latest -> ex01.trc", "latest", false},
      {"03-03-24  10:17AM       <DIR>          ORNET", "ORNET", true},
      {"03-03-24  10:17AM                 1234 KASP.MSG", "KASP.MSG", false},
      {"plain name.txt", "plain name.txt", false},
      {"drwx", "drwx", false},  // a short line that only looks like a mode is a name
  };
  for (const auto& c : cases) {
    const auto entry = ParseListLine(c.Line);
    EXPECT_EQ(std::pair(entry.Name, entry.IsDirectory), std::pair(c.Name, c.Directory)) << c.Line;
  }
}

TEST(FtpSequence, FilesMoveOneAtATimeWithARefreshAfterEachAndOnlyWhenTheClientIsFree) {
  TFtpTransferSequence sequence;
  sequence.Add({"/home/e/up.txt", fdSend});
  sequence.Add({"down.trc", fdReceive});
  sequence.Add({"/home/e/up.txt", fdSend});  // already queued
  sequence.Add({"up.txt", fdReceive});       // the same name the other way is another file
  ASSERT_EQ(sequence.Queued().size(), 3u);

  using A = TFtpTransferSequence::TAction;
  // The next action's kind and file, with the client busy or free.
  const auto next = [&](bool busy) {
    const A action = sequence.Advance(busy);
    return std::pair(action.Kind, action.File.Name);
  };
  EXPECT_EQ(next(false).first, A::aNone) << "not started";
  sequence.Start();
  EXPECT_EQ(next(false), std::pair(A::aSend, "/home/e/up.txt"s));
  EXPECT_EQ(sequence.Queued().size(), 2u);
  // While the put runs nothing else starts.
  EXPECT_EQ(next(true).first, A::aNone);
  EXPECT_EQ(next(false).first, A::aRefresh);
  EXPECT_EQ(next(true).first, A::aNone);
  EXPECT_EQ(next(false), std::pair(A::aReceive, "down.trc"s));
  EXPECT_EQ(next(false).first, A::aRefresh);
  EXPECT_EQ(next(false), std::pair(A::aReceive, "up.txt"s));
  EXPECT_EQ(next(false).first, A::aRefresh);
  EXPECT_TRUE(sequence.Running());
  EXPECT_EQ(next(false).first, A::aDone);
  EXPECT_FALSE(sequence.Running());
  EXPECT_EQ(next(false).first, A::aNone);
}

TEST(FtpSequence, StopLeavesTheRestQueuedAndAnEmptyQueueDoesNotStart) {
  TFtpTransferSequence sequence;
  sequence.Start();
  EXPECT_FALSE(sequence.Running());
  sequence.Add({"a", fdReceive});
  sequence.Add({"b", fdReceive});
  sequence.Add({"c", fdReceive});
  sequence.Remove(1);
  sequence.Remove(7);  // past the end: nothing
  ASSERT_EQ(sequence.Queued().size(), 2u);
  EXPECT_EQ(sequence.Queued()[1].Name, "c");
  sequence.Start();
  EXPECT_EQ(sequence.Advance(false).File.Name, "a");
  sequence.Stop();
  EXPECT_EQ(sequence.Advance(false).Kind, TFtpTransferSequence::TAction::aNone);
  EXPECT_EQ(sequence.Queued().size(), 1u);
}

TEST(FtpClientNames, HostsWithPortsPathsAndUrls) {
  const auto split = [](const std::string& name, int defaultPort) {
    std::string host;
    int port = 0;
    TFtpClient::SplitHost(name, defaultPort, host, port);
    return std::pair(host, port);
  };
  EXPECT_EQ(split("exchange.example", 0), (std::pair<std::string, int>("exchange.example", 21)));
  EXPECT_EQ(split("10.1.2.3:2121", 21), (std::pair<std::string, int>("10.1.2.3", 2121)));
  // No such port: all of it is the name; IPv6 keeps its colons.
  EXPECT_EQ(split("box:70000", 21), (std::pair<std::string, int>("box:70000", 21)));
  EXPECT_EQ(split("fe80::1", 990), (std::pair<std::string, int>("fe80::1", 990)));

  EXPECT_EQ(TFtpClient::JoinPath("/", ""), "/");
  EXPECT_EQ(TFtpClient::JoinPath("/a/b", "c"), "/a/b/c");
  EXPECT_EQ(TFtpClient::JoinPath("/a/b", "../c/./d/"), "/a/c/d");
  EXPECT_EQ(TFtpClient::JoinPath("/a/b", "/x"), "/x");
  EXPECT_EQ(TFtpClient::JoinPath("/a", "../../.."), "/");

  // The root is "/" itself, written %2F: already a directory.
  EXPECT_EQ(TFtpClient::Url("h", 21, "/", true), "ftp://h:21/%2F");
  EXPECT_EQ(TFtpClient::Url("h", 2121, "/a b/f#1.trc", false), "ftp://h:2121/%2Fa%20b/f%231.trc");
  EXPECT_EQ(TFtpClient::Url("h", 21, "/dir", true), "ftp://h:21/%2Fdir/");
  EXPECT_EQ(TFtpClient::Url("::1", 21, "/f", false), "ftp://[::1]:21/%2Ff");
}

TEST(FtpClientWithoutServer, RequestsBeforeAConnectionFailWithTheirTexts) {
  TFtpClient client;
  client.Get("a", "/tmp/never-written-by-ftp-test");
  client.ChangeDirectory("x");
  for (int i = 0; i < 500 && client.Busy(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_FALSE(client.Busy());
  std::vector<int> codes;
  for (const TFtpEvent& event : client.TakeEvents())
    if (event.Kind == fvError) codes.push_back(event.Value);
  EXPECT_EQ(codes, (std::vector<int>{2113, 2107}));
}
