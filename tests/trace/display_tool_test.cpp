// `qel mode` as engineers run it: the listing on stdout, exit status and the
// one line on stderr.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/testing.h"
#include "support/toolruns.h"

namespace {
class ModeTool : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(QEL_TOOL)) << "build the qel target first";
    WriteFileBytes(Dir.file("modes.txt"),
                   "VERSION 1;\nNEWMODE pair = STRUCT (a INT, b BOOL);\nNEWMODE hue = SET (red, green);\n"
                   "NEWMODE shade = hue (green:green);\n");
    ASSERT_EQ(Qel("compile " + Dir.file("modes.txt") + " -o " + Dir.file("modes")).Status, 0);
  }

  TQelRun Qel(const std::string& arguments) { return RunQel(Dir, arguments); }

  TTempDir Dir;
};

TEST_F(ModeTool, ListsTheNameAsTheDialogWouldTakeIt) {
  const TQelRun run = Qel("mode --mode " + Dir.file("modes") + " ' pair '");
  EXPECT_EQ(Ending(run), "exit 0: ");
  EXPECT_EQ(run.Out, "PAIR\n  0000@0 000016 A     = INT \n  0002@0 000001 B     = BOOL \n");
  EXPECT_EQ(Qel("mode --mode " + Dir.file("modes") + " shade").Out, "SHADE = RANGE (green:green)\n");
  EXPECT_EQ(Qel("mode --hex-sets --mode " + Dir.file("modes") + " shade").Out, "SHADE = RANGE (01:01)\n");
}

TEST_F(ModeTool, FailuresAndUsage) {
  const TQelRun missing = Qel("mode --mode " + Dir.file("modes") + " nothing");
  EXPECT_EQ(Ending(missing), "exit 1: " + Dir.file("modes") + ": Mode name not found: NOTHING\n");
  EXPECT_EQ(missing.Out, "");
  EXPECT_EQ(Ending(Qel("mode --mode " + Dir.file("absent") + " pair")),
            "exit 1: The file =" + Dir.file("absent") +
                ".ver doesn't exist. Correct in the Configure|Files window (on the command line: --mode BASE)\n");

  EXPECT_EQ(Qel("mode --mode " + Dir.file("modes") + " a b").Status, 2);
}
// A file that fails under the listing is the one line on stderr, worded as
// the window's box (kind, file, and the system error's number when it has no
// sentence), not a bare file name or "not found".
TEST_F(ModeTool, AFileThatFailsIsNamedWithItsReason) {
  std::filesystem::resize_file(Dir.file("modes.mod"), 5);  // shorter than one mode record
  EXPECT_EQ(Ending(Qel("mode --mode " + Dir.file("modes") + " pair")),
            "exit 1: File access error. File = " + Dir.file("modes") + ".mod Error = 38\n");
  ASSERT_EQ(mkfifo(Dir.file("piped.ver").c_str(), 0600), 0);
  EXPECT_EQ(Ending(Qel("mode --mode " + Dir.file("piped") + " pair")),
            "exit 1: File access error when trying to open a file. The file = " + Dir.file("piped") + ".ver\n");
}
}  // namespace
