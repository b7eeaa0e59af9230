// The worked example of docs/mode-language.md is real: its files compile and
// decode to the output the page shows, and the page shows those files.
#include <gtest/gtest.h>

#include <string>

#include "support/testing.h"

namespace {
std::string DocsFile(const std::string& name) { return std::string(QEL_TEST_DATA) + "/../docs/" + name; }
}  // namespace

TEST(DocsExample, ThePageShowsTheFilesWholeAndTheyDecodeAsShown) {
  TTempDir dir;
  const TQelRun compiled = RunQel(dir, "compile " + DocsFile("example/line.mode") + " -o " + dir.file("line"));
  ASSERT_EQ(compiled.Status, 0) << compiled.Err;
  const TQelRun decoded = RunQel(dir, "decode --mode " + dir.file("line") + " " + DocsFile("example/line.trace"));
  ASSERT_EQ(decoded.Status, 0) << decoded.Err;
  EXPECT_EQ(decoded.Err, "");
  const std::string expected = ReadFileBytes(DocsFile("example/line.out"));
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(decoded.Out, expected);
  const std::string page = ReadFileBytes(DocsFile("mode-language.md"));
  for (const char* name : {"example/line.mode", "example/line.trace", "example/line.out"}) {
    const std::string text = ReadFileBytes(DocsFile(name));
    ASSERT_FALSE(text.empty()) << name;
    EXPECT_NE(page.find("```\n" + text + "```\n"), std::string::npos) << name << " differs from the page";
  }
}

