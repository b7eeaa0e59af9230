#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "app/session.h"
#include "comms/recordinglines.h"
#include "comms/transmit.h"
#include "core/desktop.h"
#include "support/scripteddesktop.h"
#include "support/testing.h"
#include "transfer/engine.h"
#include "transfer/pads.h"
#include "transfer/padssession.h"

using namespace pads;

namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (const int v : values) out.push_back(static_cast<char>(v));
  return out;
}

// ---------------------------------------------------------------- frames

TEST(PadsFrame, TheCheckByteNegatesTheSumOfLengthTypeExtensionAndData) {
  // 0 + 3 + 0 = 3; its two's complement is 0xFD.
  EXPECT_EQ(BuildFrame(ftExit, 0, "", false), Bytes({2, 0, 3, 0, 0xFD, 3}));
  // Open for reading device 1, file 2: 6+4+0+1+0+2+0+42+42 = 97, 256-97 = 159.
  EXPECT_EQ(BuildFrame(ftOpenRead, 0, Bytes({1, 0, 2, 0, '*', '*'}), false),
            Bytes({2, 6, 4, 0, 1, 0, 2, 0, '*', '*', 159, 3}));
  // The sum wraps at 8 bits: 64 bytes of 0xFF plus 64 + 12 + 0.
  const std::string frame = BuildFrame(ftData, 0, std::string(64, '\xFF'), false);
  const int sum = (64 + 12 + 64 * 0xFF) & 0xFF;
  EXPECT_EQ(static_cast<std::uint8_t>(frame[frame.size() - 2]), (256 - sum) & 0xFF);
}

TEST(PadsFrame, NewProtocolDataFramesCarryTheLengthsHighPartInTheExtension) {
  // The frame's size, its length byte and its extension byte.
  const auto shape = [](const std::string& frame) {
    return std::tuple(frame.size(), int{static_cast<std::uint8_t>(frame[1])}, int{static_cast<std::uint8_t>(frame[3])});
  };
  EXPECT_EQ(shape(BuildFrame(ftData, 0, std::string(4096, 'a'), true)), std::tuple(4096u + 6, 0, 64));
  EXPECT_EQ(shape(BuildFrame(ftData, 0, std::string(100, 'a'), true)), std::tuple(100u + 6, 36, 1));
  // Only type 12 under the new protocol: type 13 keeps its status extension.
  EXPECT_EQ(shape(BuildFrame(ftDataLast, 1, std::string(10, 'a'), true)), std::tuple(10u + 6, 10, 1));
}

struct Reader : ::testing::Test {
  TFrameReader R;
  std::vector<TFrameReader::TResult> Feed(const std::string& bytes) {
    std::vector<TFrameReader::TResult> results;
    for (const char c : bytes) {
      const auto r = R.Feed(static_cast<std::uint8_t>(c));
      if (r != TFrameReader::rsMore) results.push_back(r);
    }
    return results;
  }
};

TEST_F(Reader, SkipsBytesBeforeTheStxAndReadsTheFrame) {
  R.Start(false, false);
  const auto results = Feed("junk\x06\x0f" + Bytes({2, 2, 8, 13, 0x10, 0x20, 185, 3}));
  EXPECT_EQ(results, std::vector{TFrameReader::rsFrame});
  EXPECT_EQ(std::tuple(int{R.Frame.Type}, int{R.Frame.Status()}, int{Get16(R.Frame.Data, 0)}), std::tuple(8, 13, 0x2010));
}

// A bad frame is reported and the next one reads cleanly: a length byte
// of 65 only once the frame is skipped, also under the new protocol.
TEST_F(Reader, BadFramesAreReportedAndTheNextOneReads) {
  std::string noEtx = BuildFrame(ftClose, 0, "", false);
  noEtx.back() = 'X';
  const std::pair<std::string, TFrameReader::TResult> cases[] = {
      {Bytes({2, 0, 3, 0, 0xFC, 3}), TFrameReader::rsCrcError},
      {Bytes({2, 65, 12, 0}) + std::string(65, 'z') + Bytes({0, 3}), TFrameReader::rsLengthError},
      {noEtx, TFrameReader::rsLengthError},
  };
  for (const auto& [bytes, result] : cases) {
    R.Start(false, false);
    EXPECT_EQ(Feed(bytes), std::vector{result});
    R.Start(false, false);
    EXPECT_EQ(Feed(BuildFrame(ftClose, 0, "", false)), std::vector{TFrameReader::rsFrame});
  }
  R.Start(false, true);
  EXPECT_TRUE(Feed(Bytes({2, 65, 12, 1})).empty());
  EXPECT_TRUE(R.Draining());
}

TEST_F(Reader, RandomBytesNeverStopTheReader) {
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    R.Start(round % 2 == 0, round % 3 == 0);
    std::string noise(static_cast<std::size_t>(random() % 300), '\0');
    for (char& c : noise) c = static_cast<char>(random() % 8 == 0 ? 2 : random());
    Feed(noise);
    // Whatever came before, a clean frame after an ETX is read.
    R.Start(false, false);
    const auto results = Feed(Bytes({3}) + std::string(70, '\x03') + BuildFrame(ftExit, 0, "", false));
    ASSERT_FALSE(results.empty());
    EXPECT_EQ(results.back(), TFrameReader::rsFrame) << round;
  }
}

// ---------------------------------------------------------------- texts

// One row per shape of the list's lines: plain, with tries, with a block
// number (two widths), an error, an error with tries.
TEST(PadsText, ListTextsAndExchangeCodes) {
  const std::vector<std::pair<int, std::string>> texts = {
      {0, "Waiting for input"},
      {1, "Linking                  : tries = 2"},
      {7, "Reading block 00017      : tries = 2"},
      {9, "  Load block 00017    : tries = 2"},
      {10, "  Get block 00017    : tries = 2"},
      {12, "### ERROR ### Forced release error"},
      {30, "### ERROR ### CRC fault on reception   : tries = 2"},
      {34, "### ERROR ### Block No wrong"},
  };
  for (const auto& [code, text] : texts) EXPECT_EQ(StatusText(code, 2, 17), text) << code;
  const std::vector<std::pair<int, std::string>> names = {
      {3, "asy break"}, {10, "file not found"}, {20, "t91 msg invalid"}, {34, "slave timeout"}, {40, "40"}};
  for (const auto& [code, name] : names) EXPECT_EQ(ExchangeCodeName(code), name) << code;
  for (const int code : {3, 5, 6, 7, 16, 17}) EXPECT_GE(RejectionStatus(code), scFirstError) << code;
  for (const int code : {0, 1, 4, 8, 10, 13}) EXPECT_EQ(RejectionStatus(code), -1) << code;
  EXPECT_EQ(StateText(0), "Disconnected");
  EXPECT_EQ(StateText(1), "Wait for password");
}

TEST(PadsCommands, ExitAndItsAbbreviations) {
  for (const char* line : {"REL", "RE", "E", "EX", "EXI", "EXIT", "  exit  ", "e"})
    EXPECT_EQ(ParseCommand(line).Kind, ckExit) << line;
  EXPECT_EQ(ParseCommand("EXITS").Kind, ckUnknown);
  EXPECT_EQ(ParseCommand("EXITS").Error, "?? Unrecognized command /EXITS/");
  EXPECT_EQ(ParseCommand("   ").Kind, ckNone);
}

// A command line as (kind, device, file, local name, error).
std::tuple<TCommandKind, int, int, std::string, std::string> Parsed(const std::string& line) {
  const TCommand c = ParseCommand(line);
  return {c.Kind, c.Device, c.File, c.LocalName, c.Error};
}

TEST(PadsCommands, OnlyTheFirstThreeLettersOfTheKeywordCount) {
  // The local name keeps its case.
  EXPECT_EQ(Parsed("READ 1,2 Data/My.GLS"), std::tuple(ckRead, 1, 2, "Data/My.GLS", ""));
  EXPECT_EQ(Parsed("writing 1Fh , 300 out.txt"), std::tuple(ckWrite, 0x1F, 300, "out.txt", ""));
  EXPECT_EQ(Parsed("DEA 5,6"), std::tuple(ckDeallocate, 5, 6, "", ""));
}

TEST(PadsCommands, WrongIdsAndNames) {
  EXPECT_EQ(ParseCommand("REA X1,2 f").Error, "?? Wrong logical device id /X1/");
  EXPECT_EQ(ParseCommand("REA 1 2 f").Error, "?? Wrong logical device id /1 2 f/");
  EXPECT_EQ(ParseCommand("REA 1,70000 f").Error, "?? Wrong logical file id /70000/");
  EXPECT_EQ(ParseCommand("REA 1, f").Error, "?? Wrong logical file id /f/");
  EXPECT_EQ(ParseCommand("WRI 1,2").Error, "?? Wrong file specification /2/");
  EXPECT_EQ(ParseCommand("DEA").Error, "?? Wrong logical device id //");
}

// ---------------------------------------------------------------- protocol

// The exchange's side, written from the rules: ACK a header, answer the
// rest with a frame of the request's type (type 13 for block data).
struct FakeExchange {
  bool NewProtocol = false;
  std::string HeaderSeen;
  std::vector<TFrame> Requests;
  std::string SentRaw;  // everything the terminal sent
  // Returns the bytes to answer a complete request with.
  std::function<std::string(const TFrame&)> Answer;
  std::function<std::string(const std::string& header)> HeaderAnswer = [](const std::string&) {
    return Bytes({kAck});
  };
  bool Silent = false;

  std::string Take(std::string_view bytes) {
    SentRaw.append(bytes);
    if (Silent) return {};
    if (HeaderSeen.empty() && bytes.size() == 4 && bytes[0] == kStx) {
      HeaderSeen = std::string(bytes);
      const std::string answer = HeaderAnswer(HeaderSeen);
      if (answer != Bytes({kAck})) HeaderSeen.clear();
      return answer;
    }
    if (HeaderSeen.empty()) return {};
    TFrameReader reader;
    reader.Start(false, NewProtocol);
    TFrameReader::TResult result = TFrameReader::rsMore;
    for (const char c : HeaderSeen + std::string(bytes)) result = reader.Feed(static_cast<std::uint8_t>(c));
    HeaderSeen.clear();
    if (result != TFrameReader::rsFrame) return BuildFrame(0, 7, "", false);
    Requests.push_back(reader.Frame);
    return Answer ? Answer(reader.Frame) : BuildFrame(reader.Frame.Type, 0, "", false);
  }
  std::vector<int> Types() const {
    std::vector<int> types;
    for (const TFrame& f : Requests) types.push_back(f.Type);
    return types;
  }
};

std::string LinkAnswer(int version, int load, int get) {
  std::string data;
  Put16(data, static_cast<std::uint16_t>(version));
  Put16(data, static_cast<std::uint16_t>(load));
  Put16(data, static_cast<std::uint16_t>(get));
  return BuildFrame(ftLink, 0, data, false);
}

// An exchange holding one file per (device, file), answering by the rules.
struct FileExchange {
  std::string Content;
  std::size_t GetBlock = 64;
  bool NewProtocol = false;
  std::string Written;
  std::string Pending;
  int OpenStatus = 0;
  std::string PhysicalName = "PHYS.FILE.NAME.XYZ";
  bool ShortBlock = false;

  std::string Answer(const TFrame& r) {
    switch (r.Type) {
      case ftGetBlock: {
        const std::size_t block = Get16(r.Data, 0);
        const std::size_t at = std::min(Content.size(), block * GetBlock);
        const std::string data = Content.substr(at, GetBlock);
        const bool last = at + GetBlock >= Content.size();
        std::string size;
        Put16(size, static_cast<std::uint16_t>(data.size() + (ShortBlock ? 5 : 0)));
        std::string out = BuildFrame(ftGetBlock, last ? 13 : 0, size, false);
        const std::size_t lastSize = data.empty() ? 0 : (data.size() - 1) % 64 + 1;
        const std::size_t body = data.size() - lastSize;
        const std::size_t step = NewProtocol ? body : 64;
        for (std::size_t i = 0; i < body; i += step) out += BuildFrame(ftData, 0, data.substr(i, step), NewProtocol);
        return out + BuildFrame(ftDataLast, 0, data.substr(body), NewProtocol);
      }
      case ftData:
      case ftDataLast:
        Pending += r.Data;
        return BuildFrame(ftDataLast, 0, "", false);
      case ftWriteBlock:
        Written += Pending;
        Pending.clear();
        return BuildFrame(ftWriteBlock, 0, "", false);
      case ftOpenRead:
      case ftOpenWrite: return BuildFrame(r.Type, static_cast<std::uint8_t>(OpenStatus), Bytes({2, 0}), false);
      case ftGetDescription: return BuildFrame(r.Type, 0, PhysicalName + "rest", false);
      default: return BuildFrame(r.Type, 0, "", false);
    }
  }
};

struct Protocol : ::testing::Test {
  TScriptedDesktop Desktop;
  TPadsOptions Options{3, 0, true};
  std::unique_ptr<TPadsProtocol> P;
  FakeExchange X;
  std::uint32_t Now = 1000;
  std::vector<bool> LineDowns;
  int LineUps = 0;
  TTempDir Dir;

  void Make() {
    P = std::make_unique<TPadsProtocol>(Desktop, Options);
    P->Send = [this](std::string_view bytes) {
      const std::string answer = X.Take(bytes);
      if (!answer.empty()) P->Received(answer, Now);
    };
    P->LineUp = [this] { ++LineUps; };
    P->LineDown = [this](bool exited) { LineDowns.push_back(exited); };
  }
  void Advance(std::uint32_t ms) {
    const std::uint32_t until = Now + ms;
    while (P->Deadline() && static_cast<std::int32_t>(until - *P->Deadline()) >= 0) {
      Now = std::max(Now, *P->Deadline());
      P->Advance(Now);
    }
    Now = until;
    P->Advance(Now);
  }
  // Made and opened, the exchange answering each request by answer (empty: a frame of its type).
  void OpenWith(std::function<std::string(const TFrame&)> answer = nullptr) {
    Make();
    X.Answer = std::move(answer);
    P->Open(Now);
  }
  FileExchange Files;
  // Linked (old protocol unless newProtocol), then answered by Files.
  void LinkToFiles(int version = 1, int load = 64, int get = 64, bool newProtocol = false) {
    LinkWith(LinkAnswer(version, load, get), newProtocol);
    X.Answer = [this](const TFrame& r) { return Files.Answer(r); };
  }
  void LinkWith(const std::string& answer, bool newProtocol) {
    OpenWith([answer](const TFrame&) { return answer; });
    Advance(1000);
    ASSERT_EQ(P->State, psActive) << Listed();
    X.NewProtocol = newProtocol;
    X.Requests.clear();
    X.Answer = nullptr;
  }
  bool Listed(const std::string& line) const {
    return std::find(P->Lines.begin(), P->Lines.end(), line) != P->Lines.end();
  }
  std::string Listed() const {
    std::string all;
    for (const auto& l : P->Lines) all += l + "\n";
    return all;
  }
};

TEST_F(Protocol, LinkSendsTheImprovedRequestAndListsTheParameters) {
  OpenWith([](const TFrame&) { return LinkAnswer(3, 4096, 2048); });
  Advance(999);
  EXPECT_TRUE(X.SentRaw.empty()) << "a second passes before the link";
  Advance(1);
  EXPECT_EQ(X.SentRaw, Bytes({2, 0, 0, 2, 0xFE, 3}));
  EXPECT_EQ(LineUps, 1);
  EXPECT_EQ(P->State, psActive);
  EXPECT_TRUE(P->Link.NewProtocol);
  EXPECT_EQ(P->Lines, (std::vector<std::string>{"Linking                  : tries = 1", "Pads Version   : 3",
                                                 "Blocksize Load : 4096", "Blocksize Get  : 2048",
                                                 "New Protocol   : Yes", "Waiting for input"}));
}

TEST_F(Protocol, ALinkAnswerWithoutBodyMeansTheOldProtocol) {
  Options.Improved = false;
  OpenWith();
  Advance(1000);
  EXPECT_EQ(X.SentRaw.substr(0, 4), Bytes({2, 0, 0, 0}));
  EXPECT_EQ(P->State, psActive);
  EXPECT_TRUE(Listed("Pads Version   : 0"));
  EXPECT_TRUE(Listed("Blocksize Load : 64"));
  EXPECT_TRUE(Listed("New Protocol   : No"));
}

TEST_F(Protocol, HostTextAtTheStartEndsPadsWithoutAFrame) {
  OpenWith();
  P->Received("LOGIN INCORRECT", Now + 500);
  Advance(1000);
  EXPECT_TRUE(X.SentRaw.empty());
  EXPECT_EQ(P->State, psDisconnected);
  EXPECT_TRUE(P->Finished);
  EXPECT_EQ(LineDowns, std::vector<bool>{false});
}

TEST_F(Protocol, WithOneTryASingleNakEndsTheLink) {
  Options.Retries = 1;
  X.HeaderAnswer = [](const std::string&) { return Bytes({kNak}); };
  OpenWith();
  Advance(1000);
  Advance(1000);  // the pause after the refusal
  EXPECT_TRUE(Listed("### ERROR ### Header of CMD nacked")) << Listed();
  EXPECT_EQ(X.SentRaw, Bytes({2, 0, 0, 2})) << "the rest never follows a NAK";
  EXPECT_EQ(P->State, psDisconnected);
  EXPECT_FALSE(P->Busy());
  EXPECT_EQ(LineDowns, std::vector<bool>{false});
}

TEST_F(Protocol, ANakIsRetriedAfterASecond) {
  int naks = 1;
  X.HeaderAnswer = [&](const std::string&) { return Bytes({naks-- > 0 ? kNak : kAck}); };
  OpenWith([](const TFrame&) { return LinkAnswer(1, 64, 64); });
  Advance(1000);
  EXPECT_EQ(P->State, psLinking);
  Advance(1000);
  EXPECT_EQ(P->State, psActive) << Listed();
  EXPECT_TRUE(Listed("Linking                  : tries = 2")) << Listed();
}

// A damaged answer is read again after a resync; a refused request (a
// status of its own) is sent again without one.
TEST_F(Protocol, AFaultyLinkAnswerIsRetriedAsItsKindSays) {
  std::string badCheck = LinkAnswer(1, 64, 64);
  badCheck[badCheck.size() - 2] ^= 0x55;
  const struct {
    std::string First;
    std::vector<int> Types;
    std::string Line;
  } cases[] = {
      {badCheck, {ftLink, ftResync, ftLink}, "### ERROR ### CRC fault on reception   : tries = 1"},
      {Bytes({2, 65, 0, 0}) + std::string(66, 'q') + Bytes({3}), {ftLink, ftResync, ftLink},
       "### ERROR ### Wrong msg length received: tries = 1"},
      {BuildFrame(ftLink, 7, "", false), {ftLink, ftLink}, "### ERROR ### CRC error"},
  };
  for (const auto& c : cases) {
    X = FakeExchange();
    int answers = 0;
    OpenWith([&](const TFrame& request) {
      if (request.Type == ftResync) return BuildFrame(ftResync, 0, "", false);
      return answers++ == 0 ? c.First : LinkAnswer(1, 64, 64);
    });
    Advance(2000);
    EXPECT_EQ(X.Types(), c.Types) << c.Line;
    EXPECT_TRUE(Listed(c.Line)) << Listed();
    EXPECT_EQ(P->State, psActive) << c.Line;
  }
}

TEST_F(Protocol, ATimeoutSendsEtxWaitsASecondAndRetries) {
  int answers = 0;
  OpenWith([&](const TFrame&) { return answers++ == 0 ? std::string() : LinkAnswer(1, 64, 64); });
  Advance(1000);
  EXPECT_EQ(P->State, psLinking);
  const std::size_t sent = X.SentRaw.size();
  Advance(5999);
  EXPECT_EQ(X.SentRaw.size(), sent) << "6 s for a link answer";
  Advance(1);
  EXPECT_EQ(X.SentRaw.substr(sent), Bytes({3}));
  Advance(1000);
  EXPECT_TRUE(Listed("### ERROR ### Timeout on reception     : tries = 1"));
  EXPECT_EQ(P->State, psActive) << Listed();
  EXPECT_EQ(X.Types(), (std::vector<int>{ftLink, ftLink}));
}

TEST_F(Protocol, TriesUsedUpOnGarbageEndTheLink) {
  std::mt19937 random(3);
  OpenWith([&](const TFrame&) {
    std::string noise(200, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    return noise;
  });
  for (int i = 0; i < 200 && P->Busy(); ++i) Advance(1000);
  EXPECT_FALSE(P->Busy());
  EXPECT_EQ(P->State, psDisconnected);
  EXPECT_EQ(LineDowns, std::vector<bool>{false});
}

TEST_F(Protocol, AnUnexpectedStatusNamesTheExchangeCode) {
  OpenWith([](const TFrame&) { return BuildFrame(ftLink, 4, "", false); });
  Advance(1000);
  EXPECT_TRUE(Listed("?? Unexpected error received forced release")) << Listed();
  EXPECT_EQ(P->State, psDisconnected);
}

TEST_F(Protocol, ReadFetchesBlocksUntilTheLastAndClosesTheFile) {
  LinkToFiles();
  for (int i = 0; i < 150; ++i) Files.Content.push_back(static_cast<char>(i * 3));
  const std::string local = Dir.file("READ.GLS");
  P->Execute("read 1,2 " + local, Now);
  EXPECT_FALSE(P->Busy()) << Listed();
  EXPECT_EQ(ReadFileBytes(local), Files.Content);
  EXPECT_EQ(X.Types(), (std::vector<int>{ftOpenRead, ftGetBlock, ftGetBlock, ftGetBlock, ftClose}));
  EXPECT_EQ(X.Requests[0].Data, Bytes({1, 0, 2, 0, '*', '*'}));
  EXPECT_EQ(Get16(X.Requests[2].Data, 0), 1);
  EXPECT_EQ(P->Lines.back(), "Waiting for input");
}

TEST_F(Protocol, ReadAsksBeforeOverwritingAndNoKeepsTheFile) {
  LinkToFiles();
  const std::string local = Dir.file("old.txt");
  WriteFileBytes(local, "keep me");
  Desktop.Answers.push_back(TMsgResult::No);
  P->Execute("REA 1,2 " + local, Now);
  ASSERT_EQ(Desktop.Boxes.size(), 1u);
  EXPECT_EQ(Desktop.Boxes[0].Box.Text, " File already exists !\r\n Do you wish to overwrite !");
  EXPECT_EQ(Desktop.Boxes[0].Box.Buttons, unsigned{mbYes | mbNo});
  EXPECT_EQ(ReadFileBytes(local), "keep me");
  EXPECT_TRUE(X.Requests.empty());
}

TEST_F(Protocol, ReadReportsAShortBlockAndAFailedOpen) {
  LinkToFiles();
  Files.Content = "short";
  Files.ShortBlock = true;
  P->Execute("REA 1,2 " + Dir.file("a"), Now);
  EXPECT_TRUE(Listed("?? Record size received too small")) << Listed();
  EXPECT_EQ(X.Types().back(), ftClose) << "the exchange file is closed after a failure";

  Files.OpenStatus = 10;
  X.Requests.clear();
  P->Execute("REA 1,2 " + Dir.file("b"), Now);
  EXPECT_TRUE(Listed("?? Unsuccesfull open. Main code = 10")) << Listed();
  EXPECT_TRUE(Listed("Sub  code = 2"));
  EXPECT_EQ(X.Types(), std::vector<int>{ftOpenRead});
}

TEST_F(Protocol, ReadIntoAFullDeviceStopsWithTheWriteError) {
  LinkToFiles();
  Files.Content.assign(300, 'x');
  P->Execute("REA 1,2 /dev/full", Now);
  EXPECT_TRUE(Listed("?? Error while writing file = /dev/full")) << Listed();
  EXPECT_EQ(X.Types().back(), ftClose);
  EXPECT_FALSE(P->Busy());
}

TEST_F(Protocol, ADamagedDataFrameAsksForTheBlockAgain) {
  LinkToFiles();
  Files.Content.assign(100, 'd');
  int gets = 0;
  X.Answer = [&](const TFrame& r) {
    std::string out = Files.Answer(r);
    if (r.Type == ftGetBlock && gets++ == 0) out[out.size() - 8] ^= 1;  // inside the type-13 frame
    return out;
  };
  P->Execute("REA 1,2 " + Dir.file("c"), Now);
  EXPECT_EQ(ReadFileBytes(Dir.file("c")), Files.Content) << Listed();
  EXPECT_EQ(X.Types(), (std::vector<int>{ftOpenRead, ftGetBlock, ftResync, ftGetBlock, ftGetBlock, ftClose}));
}

TEST_F(Protocol, WriteSendsBlocksOfTheLoadSizeEndingWithAShortOne) {
  LinkToFiles();
  std::string content(128, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(255 - i);
  WriteFileBytes(Dir.file("up.PLS"), content);
  P->Execute("WRI 7,8 " + Dir.file("up.PLS"), Now);
  EXPECT_EQ(Files.Written, content) << Listed();
  // Two full blocks of one 64-byte type-13 frame each, then an empty last block.
  EXPECT_EQ(X.Types(), (std::vector<int>{ftGetDescription, ftOpenWrite, ftDataLast, ftWriteBlock, ftDataLast,
                                         ftWriteBlock, ftDataLast, ftWriteBlock, ftClose}));
  X.Requests.clear();
  P->Execute("WRI 1,2 " + Dir.file("none"), Now);
  EXPECT_TRUE(Listed("?? File " + Dir.file("none") + " does not exist"));
  EXPECT_TRUE(X.Requests.empty());
}

TEST_F(Protocol, WriteUnderTheNewProtocolSendsALongFramePerBlock) {
  LinkToFiles(2, 4096, 4096, true);
  std::string content(5000, 'w');
  content[4095] = 'A';
  content[4096] = 'B';
  WriteFileBytes(Dir.file("up"), content);
  P->Execute("WRI 1,2 " + Dir.file("up"), Now);
  EXPECT_EQ(Files.Written, content) << Listed();
  EXPECT_EQ(X.Requests[2].Type, ftData);
  EXPECT_EQ(X.Requests[2].Data.size(), 4032u);
}

TEST_F(Protocol, AWriteFrameLostOnTheWaySendsTheWholeBlockAgain) {
  LinkWith(LinkAnswer(1, 128, 128), true);
  int dataFrames = 0;
  X.Answer = [&](const TFrame& r) {
    std::string out = Files.Answer(r);
    if (r.Type == ftResync) Files.Pending.clear();
    if (r.Type == ftDataLast && dataFrames++ == 0) out[out.size() - 2] ^= 1;  // the exchange took it
    return out;
  };
  std::string content(100, 'p');
  content[0] = 'S';
  WriteFileBytes(Dir.file("up"), content);
  P->Execute("WRI 1,2 " + Dir.file("up"), Now);
  EXPECT_EQ(Files.Written, content) << Listed();
}

TEST_F(Protocol, DeallocateShowsTheDescriptionAndAsks) {
  LinkToFiles();
  Desktop.Answers.push_back(TMsgResult::Cancel);
  P->Execute("DEA 0AH,11", Now);
  ASSERT_EQ(Desktop.Boxes.size(), 1u);
  EXPECT_EQ(Desktop.Boxes[0].Box.Text, "PHYS.FILE.NAME.XYZ\r\nConfirm Y/N");
  EXPECT_EQ(Desktop.Boxes[0].Box.Buttons, unsigned{mbOK | mbCancel});
  EXPECT_TRUE(Listed("Physical file name = PHYS.FILE.NAME.XYZ"));
  EXPECT_TRUE(Listed("Logical file id   = 11"));
  EXPECT_TRUE(Listed("Logical device id = 10"));
  EXPECT_EQ(X.Types(), std::vector<int>{ftGetDescription});
  Desktop.Answers.push_back(TMsgResult::OK);
  P->Execute("DEA 10,11", Now);
  EXPECT_EQ(X.Types(), (std::vector<int>{ftGetDescription, ftGetDescription, ftDeallocate}));
  EXPECT_EQ(X.Requests.back().Data, Bytes({10, 0, 11, 0, '*', '*'}));
}

TEST_F(Protocol, ExitEndsTheLinkAndTheWindow) {
  LinkToFiles();
  P->Execute("E", Now);
  EXPECT_EQ(X.Types(), std::vector<int>{ftExit});
  EXPECT_EQ(P->State, psDisconnected);
  EXPECT_TRUE(P->Finished);
  EXPECT_EQ(LineDowns, std::vector<bool>{true});
}

// Commands wait while a read runs; closing the window stops it and exits.
TEST_F(Protocol, CommandsWaitWhileOneRunsAndClosingTheWindowStopsItAndExits) {
  LinkToFiles();
  X.Silent = true;
  P->Execute("REA 1,2 " + Dir.file("x"), Now);
  EXPECT_TRUE(P->Busy());
  const std::size_t sent = X.SentRaw.size();
  P->Execute("DEA 1,2", Now);
  P->Execute("nonsense", Now);
  EXPECT_EQ(X.SentRaw.size(), sent);
  EXPECT_FALSE(Listed("?? Unrecognized command /nonsense/"));
  X.Silent = false;
  X.Requests.clear();
  P->Close(Now);
  EXPECT_EQ(X.Types(), std::vector<int>{ftExit});
  EXPECT_TRUE(P->Finished);
}

TEST_F(Protocol, PadsDelaySpacesEveryPartOfAFrame) {
  Options.DelayTenths = 3;
  OpenWith([](const TFrame&) { return LinkAnswer(1, 64, 64); });
  Advance(1000 + 299);
  EXPECT_TRUE(X.SentRaw.empty());
  Advance(1);
  EXPECT_EQ(X.SentRaw.size(), 4u);
  Advance(299);
  EXPECT_EQ(X.SentRaw.size(), 4u);
  Advance(1);
  EXPECT_EQ(P->State, psActive);
}

// ---------------------------------------------------------------- session

struct Session : ::testing::Test {
  TTestSession T;
  TRecordingSerialLine Line;
  void SetUp() override {
    T.S->Transmit->Serial = &Line;
    T.S->Transmit->SerialConnected = true;
  }
  // The host's bytes through the session, then the window's pump.
  void Answer(TPadsSession& pads, const std::string& bytes) {
    T.S->ReceiveBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    pads.Pump();
  }
  // Data bits, parity, stop bits and flow control.
  std::vector<int> LineSettings() const {
    const TSetupRecord& s = T.S->Settings;
    return {s.DataBits, s.Parity, s.StopBits, s.FlowControl};
  }
};

TEST_F(Session, CapturedBytesReachTheProtocolAndTheLineIsGivenBack) {
  TSetupRecord& settings = T.S->Settings;
  settings.DataBits = 2;
  settings.Parity = 2;
  settings.StopBits = 2;
  settings.FlowControl = 3;
  settings.PadsDelay = 0;
  ArmPasswordWatch(*T.S);
  EXPECT_EQ(SessionState(*T.S), psWaitForPassword);
  StartCapture(*T.S);
  EXPECT_EQ(SessionState(*T.S), psLinking);
  TPadsSession pads(*T.S);
  ASSERT_TRUE(pads.Open());
  T.Desktop.Ticks += 1000;
  pads.Pump();
  EXPECT_EQ(Line.Sent, Bytes({2, 0, 0, 2})) << "the link header";
  EXPECT_EQ(LineSettings(), (std::vector<int>{4, 0, 0, 0}));  // 8 bits, no parity, 1 stop bit, no flow
  Answer(pads, Bytes({kAck}));
  Answer(pads, LinkAnswer(1, 64, 64));
  EXPECT_EQ(pads.Protocol().State, psActive);
  Line.Sent.clear();
  pads.Execute("EXIT");
  Answer(pads, Bytes({kAck}));
  Answer(pads, BuildFrame(ftExit, 0, "", false));
  EXPECT_TRUE(pads.Protocol().Finished);
  EXPECT_EQ(Line.Sent, Bytes({2, 0, 3, 0, 0xFD, 3, 27})) << "the exit frame, then ESC";
  EXPECT_EQ(LineSettings(), (std::vector<int>{2, 2, 2, 3}));
  EXPECT_EQ(SessionState(*T.S), psDisconnected);
}

TEST_F(Session, ABlockLargerThanTheRingArrivesWhole) {
  T.S->Settings.PadsDelay = 0;
  StartCapture(*T.S);
  TPadsSession pads(*T.S);
  ASSERT_TRUE(pads.Open());
  T.Desktop.Ticks += 1000;
  pads.Pump();
  Answer(pads, Bytes({kAck}));
  Answer(pads, LinkAnswer(2, 4096, 4096));
  ASSERT_TRUE(pads.Protocol().Link.NewProtocol);
  const std::string local = T.Dir.file("block.dat");
  pads.Execute("REA 1,2 " + local);
  Answer(pads, Bytes({kAck}));
  Answer(pads, BuildFrame(ftOpenRead, 0, "", false));
  Answer(pads, Bytes({kAck}));
  // The answer and both data frames come in one piece, past the ring's 4096 bytes.
  std::string data(4096, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i % 251);
  std::string size;
  Put16(size, 4096);
  Answer(pads, BuildFrame(ftGetBlock, 13, size, true) + BuildFrame(ftData, 0, data.substr(0, 4032), true) +
                   BuildFrame(ftDataLast, 0, data.substr(4032), true));
  Answer(pads, Bytes({kAck}));
  Answer(pads, BuildFrame(ftClose, 0, "", true));
  EXPECT_FALSE(pads.Protocol().Busy());
  EXPECT_EQ(ReadFileBytes(local), data);
}

}  // namespace
