// `qel compile` as engineers run it: exit status, the one line on stderr,
// the files it leaves.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/testing.h"
#include "support/toolruns.h"
#include "trace/modefile_testing.h"

namespace {
class CompileTool : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(QEL_TOOL)) << "build the qel target first";
  }
  TTempDir Dir;
};

TEST_F(CompileTool, WritesTheWholeFileSet) {
  WriteFileBytes(Dir.file("modes.txt"), "VERSION 4;\nNEWMODE a = INT;\nMESSAGE 0 = a;\nKASP BID 0 = \"A\";\n");
  const TQelRun run = RunQel(Dir, "compile " + Dir.file("modes.txt") + " -o " + Dir.file("out"));
  EXPECT_EQ(Ending(run), "exit 0: ");
  EXPECT_EQ(run.Out, "");
  // Each file holds what the compiler made of the source.
  const TModeFileImage image = CompiledModes(ReadFileBytes(Dir.file("modes.txt")));
  for (const char* ext : {".ver", ".msg", ".usb", ".bid", ".mod", ".sem", ".syn", ".mna", ".sen", ".sna", ".mnt"})
    EXPECT_EQ(ReadFileBytes(Dir.file(std::string("out") + ext)), image.Files.at(ext)) << ext;
  EXPECT_EQ(ReadFileBytes(Dir.file("KASP.BID")), "A" + std::string(24, ' '));

  std::filesystem::create_directory(Dir.file("ornet"));
  EXPECT_EQ(RunQel(Dir, "compile " + Dir.file("modes.txt") + " -o " + Dir.file("out") + " --kasp " + Dir.file("ornet")).Status, 0);
  EXPECT_TRUE(std::filesystem::exists(Dir.file("ornet/KASP.MSG")));
}

TEST_F(CompileTool, ABadSourceGivesOneLineWithFileLineAndColumn) {
  WriteFileBytes(Dir.file("bad.mode"), "NEWMODE a = INT;\nNEWMODE b = STRUCT (x c);\n");
  const TQelRun run = RunQel(Dir, "compile " + Dir.file("bad.mode") + " -o " + Dir.file("out"));
  EXPECT_EQ(Ending(run), "exit 1: " + Dir.file("bad.mode") + ":2:23: mode C is not declared\n");
  EXPECT_FALSE(std::filesystem::exists(Dir.file("out.mod")));  // nothing half written
}

TEST_F(CompileTool, UnreadableSourcesAndUnwritableTargets) {
  EXPECT_EQ(Ending(RunQel(Dir, "compile " + Dir.file("none.mode") + " -o " + Dir.file("out"))),
            "exit 1: " + Dir.file("none.mode") + ": cannot read: No such file or directory\n");
  WriteFileBytes(Dir.file("ok.mode"), "NEWMODE a = INT;");
  EXPECT_EQ(Ending(RunQel(Dir, "compile " + Dir.file("ok.mode") + " -o " + Dir.file("no/such/dir/out"))),
            "exit 1: " + Dir.file("no/such/dir/out") + ".bid: cannot write: No such file or directory\n");
}

// The input reader is the one replay's test tries with a pipe without writer.
TEST_F(CompileTool, ADirectoryIsNoSource) {
  std::filesystem::create_directory(Dir.file("sources"));
  EXPECT_EQ(Ending(RunQel(Dir, "compile " + Dir.file("sources") + " -o " + Dir.file("out"))),
            "exit 1: " + Dir.file("sources") + ": cannot read: Is a directory\n");
  EXPECT_FALSE(std::filesystem::exists(Dir.file("out.ver")));
}

TEST_F(CompileTool, ReadsTheSourceFromStandardInput) {
  EXPECT_EQ(Ending(RunQel(Dir, "compile - -o " + Dir.file("out"), "NEWMODE a = ;")),
            "exit 1: <stdin>:1:13: expected a mode, found ';'\n");
}
}  // namespace
