// `qel decode` as engineers run it: options, exit status, the one line on
// stderr, and the decoded text on stdout.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/testing.h"
#include "support/toolruns.h"

namespace {

const char kSource[] =
    "NEWMODE pair = STRUCT (a INT, b BIT(8));\n"
    "MESSAGE 7 = pair;\n"
    "NEWMODE ids = SET (x, y);\n"
    "MBID 9 = ids;\n"
    "MESSAGE 8 = MBIDLIST;\n"
    "KASP BID 9 = \"NINE\";\n";

const char kHeader7[] = "00007        0001_0002 0003_0004 0310 0800 .... ....:.... ....  SND  12:34:56.78";
const char kHeader8[] = "00008        0001_0002 0003_0004 0810 0800 .... ....:.... ....  SND  12:34:56.78";

class DecodeTool : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(QEL_TOOL)) << "build the qel target first";
    WriteFileBytes(Dir.file("modes.txt"), kSource);
    ASSERT_EQ(RunQel(Dir, "compile " + Dir.file("modes.txt") + " -o " + Dir.file("modes")).Status, 0);
    WriteFileBytes(Dir.file("trace.txt"), std::string(kHeader7) + "\r\nDATA = 3412 00AB\r\nplain text\r\n");
  }
  TTempDir Dir;
};

// Decoding a named file is the documentation example's test.
TEST_F(DecodeTool, DecodesStandardInput) {
  const TQelRun piped = RunQel(Dir, "decode --mode=" + Dir.file("modes") + " -", ReadFileBytes(Dir.file("trace.txt")));
  EXPECT_EQ(Ending(piped), "exit 0: ");
  EXPECT_EQ(piped.Out, std::string(kHeader7) + "\n  A = 3412\n  B = AB\nplain text\n");
}

// A last line without its line end and a buffer still being collected are
// decoded at the end of the input: two of the three bytes, so B (byte 2)
// lies beyond what came.
TEST_F(DecodeTool, TheEndOfTheInputFinishesTheMessage) {
  const TQelRun run = RunQel(Dir, "decode --mode " + Dir.file("modes") + " -", std::string(kHeader7) + "\r\nDATA = 3412");
  EXPECT_EQ(run.Status, 0);
  EXPECT_EQ(run.Out, std::string(kHeader7) + "\n  A = 3412\n");
}

TEST_F(DecodeTool, HostNameFilesOnlyWhenNamed) {
  const std::string trace = std::string(kHeader8) + "\r\nDATA = 09 01 01\r\n";
  const TQelRun plain = RunQel(Dir, "decode --mode " + Dir.file("modes") + " -", trace);
  EXPECT_EQ(plain.Out, std::string(kHeader8) + "\nMBID_0009_\n   DATA = y\n");
  const TQelRun named = RunQel(Dir, "decode --mode " + Dir.file("modes") + " --ornet " + Dir.path().string() + " -", trace);
  EXPECT_EQ(named.Out, std::string(kHeader8) + "\nMBID_0009_NINE\n   DATA = y\n");
  EXPECT_EQ(named.Err, "");
  // M3 wants its frame signature: the same list is a hex dump.
  const TQelRun m3 = RunQel(Dir, "decode --type M3 --mode " + Dir.file("modes") + " -", trace);
  EXPECT_EQ(m3.Out, std::string(kHeader8) + "\n   DATA = 09 01 01\n");
}

TEST_F(DecodeTool, FailuresAndUsage) {
  const TQelRun missing = RunQel(Dir, "decode --mode " + Dir.file("nothing") + " " + Dir.file("trace.txt"));
  EXPECT_EQ(Ending(missing), "exit 1: qel decode: " + Dir.file("nothing") + ": The file =" + Dir.file("nothing") +
                                 ".ver doesn't exist. Correct in the Configure|Files window"
                                 " (on the command line: --mode BASE)\n");
  EXPECT_EQ(missing.Out, "");

  const TQelRun noInput = RunQel(Dir, "decode --mode " + Dir.file("modes") + " " + Dir.file("absent.txt"));
  EXPECT_EQ(noInput.Status, 1);
  EXPECT_NE(noInput.Err.find(Dir.file("absent.txt")), std::string::npos);

  for (const std::string& arguments : {"decode " + Dir.file("trace.txt"), "decode --mode " + Dir.file("modes"),
                                      "decode --mode " + Dir.file("modes") + " --bogus -"}) {
    const TQelRun usage = RunQel(Dir, arguments);
    EXPECT_EQ(usage.Status, 2) << arguments;
    EXPECT_NE(usage.Err.find("usage: qel decode --mode BASE"), std::string::npos) << usage.Err;
  }
}

// An input that cannot be read (a directory; the tools' shared input reader
// refuses a pipe without writer too, as replay's test shows): one line on
// stderr, status 1.
TEST_F(DecodeTool, InputsThatCannotBeReadFailAtOnce) {
  std::filesystem::create_directory(Dir.file("traces"));
  const TQelRun directory = RunQel(Dir, "decode --mode " + Dir.file("modes") + " " + Dir.file("traces"));
  EXPECT_EQ(Ending(directory), "exit 1: qel decode: " + Dir.file("traces") + ": Is a directory\n");
  EXPECT_EQ(directory.Out, "");
}

// A decoded text or a listing that could not be written is a failure, not a
// silently cut result.
TEST_F(DecodeTool, AnOutputThatCannotBeWrittenIsAFailure) {
  EXPECT_EQ(Ending(RunQelOnAFullDisk(Dir, "decode --mode " + Dir.file("modes") + " " + Dir.file("trace.txt"))),
            "exit 1: qel decode: standard output: No space left on device\n");
  EXPECT_EQ(Ending(RunQelOnAFullDisk(Dir, "mode --mode " + Dir.file("modes") + " pair")),
            "exit 1: qel mode: standard output: No space left on device\n");
}

}  // namespace
