// The trace format guide and the packing section of the mode language page
// show what qel decode really prints: every example marked
// "<!-- checked: qel ... -->" is decoded (against the sample exchange, or the
// mode source a "<!-- compiled: NAME.mode -->" block gives) and must print
// exactly the output block that follows its input block.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/testing.h"

namespace {

const std::string kMarker = "<!-- checked: qel ";
const std::string kSourceMarker = "<!-- compiled: ";
const std::string kMarkerEnd = " -->";
const std::string kFence = "```";
const std::string kRuler = "12345678901234567890123456789012345678901234567890123456789012345678901234567890";

std::string SourceFile(const std::string& name) { return std::string(QEL_TEST_DATA) + "/../" + name; }

struct TExample {
  int Line = 0;                    // of the marker, for the failure text
  std::vector<std::string> Words;  // the qel arguments; the last names the input file
  std::string Input, Output;
};

// The next fenced block from line i on; only prose may stand before it.
bool TakeBlock(const std::vector<std::string>& lines, std::size_t& i, std::string& block) {
  while (i < lines.size() && lines[i] != kFence) {
    if (lines[i].starts_with(kFence) || lines[i].starts_with(kMarker)) return false;
    ++i;
  }
  if (i == lines.size()) return false;
  block.clear();
  for (++i; i < lines.size() && lines[i] != kFence; ++i) block += lines[i] + "\n";
  if (i == lines.size()) return false;
  ++i;
  return true;
}

struct TSource {
  std::string Name, Text;
};

struct TPage {
  std::vector<TSource> Sources;  // compiled before the examples run
  std::vector<TExample> Examples;
  std::vector<std::string> Faults;
  std::vector<std::string> RulerBlocks;  // the lines shown above a column ruler
};

TPage ReadPage(const std::string& text) {
  TPage page;
  const std::vector<std::string> lines = SplitLines(text);
  std::size_t i = 0;
  while (i < lines.size()) {
    const std::string& line = lines[i];
    if (line == kFence) {
      std::string block;
      if (!TakeBlock(lines, i, block)) {
        page.Faults.push_back("unclosed block at line " + std::to_string(i + 1));
        break;
      }
      const std::vector<std::string> shown = SplitLines(block);
      if (!shown.empty() && shown.back() == kRuler) {
        for (std::size_t k = 0; k + 2 < shown.size(); ++k) page.RulerBlocks.push_back(shown[k]);
      }
      continue;
    }
    if (line.starts_with(kSourceMarker) && line.ends_with(kMarkerEnd)) {
      TSource source;
      source.Name = line.substr(kSourceMarker.size(), line.size() - kSourceMarker.size() - kMarkerEnd.size());
      ++i;
      if (source.Name.empty() || !TakeBlock(lines, i, source.Text)) {
        page.Faults.push_back("mode source without its block before line " + std::to_string(i + 1));
        continue;
      }
      page.Sources.push_back(source);
      continue;
    }
    if (!line.starts_with(kMarker)) {
      ++i;
      continue;
    }
    TExample example;
    example.Line = static_cast<int>(i + 1);
    if (!line.ends_with(kMarkerEnd)) {
      page.Faults.push_back("marker without end at line " + std::to_string(example.Line));
      ++i;
      continue;
    }
    std::istringstream words(line.substr(kMarker.size(), line.size() - kMarker.size() - kMarkerEnd.size()));
    for (std::string word; words >> word;) example.Words.push_back(word);
    ++i;
    if (example.Words.size() < 2 || !TakeBlock(lines, i, example.Input) || !TakeBlock(lines, i, example.Output)) {
      page.Faults.push_back("marker at line " + std::to_string(example.Line) + " lacks its input and output blocks");
      continue;
    }
    page.Examples.push_back(example);
  }
  return page;
}

// The sample exchange as the build makes it, in dir/samples.
void MakeSamples(const TTempDir& dir) {
  std::filesystem::create_directories(dir.file("samples"));
  const TQelRun compiled = RunQel(dir, "compile " + ShellQuoted(SourceFile("samples/exchange.mode")) + " -o " +
                                           ShellQuoted(dir.file("samples/exchange")) + " --kasp " +
                                           ShellQuoted(dir.file("samples")));
  ASSERT_EQ(compiled.Status, 0) << compiled.Err;
  const TQelRun settings = RunQel(dir, "settings --defaults --set Emulation=0 --set DisplayMsgHeader=1 -o " +
                                           ShellQuoted(dir.file("samples/demo.mse")));
  ASSERT_EQ(settings.Status, 0) << settings.Err;
}

// Runs in dir so the page's relative paths (samples/..., the input) hold.
class TInDirectory {
 public:
  explicit TInDirectory(const std::filesystem::path& dir) : Previous(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~TInDirectory() { std::filesystem::current_path(Previous); }

 private:
  std::filesystem::path Previous;
};

std::string Joined(const std::vector<std::string>& words, std::size_t count) {
  std::string text;
  for (std::size_t k = 0; k < count; ++k) text += (k ? " " : "") + ShellQuoted(words[k]);
  return text;
}

TPage GuidePage() { return ReadPage(ReadFileBytes(SourceFile("docs/trace-format.md"))); }

void RunExamples(const TTempDir& dir, const TPage& page) {
  TInDirectory here(dir.path());
  for (const TSource& source : page.Sources) {
    WriteFileBytes(dir.file(source.Name), source.Text);
    const std::string base = source.Name.substr(0, source.Name.rfind('.'));
    const TQelRun compiled = RunQel(dir, "compile " + ShellQuoted(source.Name) + " -o " + ShellQuoted(base));
    EXPECT_EQ(compiled.Status, 0) << source.Name << ": " << compiled.Err;
  }
  for (const TExample& example : page.Examples) {
    SCOPED_TRACE("example at line " + std::to_string(example.Line));
    EXPECT_EQ(example.Words.front(), "decode");
    WriteFileBytes(dir.file(example.Words.back()), example.Input);
    const TQelRun run = RunQel(dir, Joined(example.Words, example.Words.size()));
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Err, "");
    EXPECT_EQ(run.Out, example.Output);
  }
}

}  // namespace

// What the reader finds in a sound page is the pages' own tests (a wrong
// input or output fails them, a lost example the count); here the broken
// pages it must report.
TEST(DocsTraceFormat, TheReaderRejectsBrokenPages) {
  EXPECT_EQ(ReadPage("<!-- compiled: m.mode -->\ntext\n").Faults.size(), 1u);
  // A marker followed by only one block, or by a block that never closes, is
  // a fault of the page, not an example that silently passes.
  EXPECT_EQ(ReadPage("<!-- checked: qel decode x.trace -->\n```\na\n```\n").Faults.size(), 1u);
  EXPECT_EQ(ReadPage("<!-- checked: qel decode x.trace -->\n```\na\n```\n```\nb\n").Faults.size(), 1u);
  EXPECT_EQ(ReadPage("<!-- checked: qel decode x.trace\n```\na\n```\n```\nb\n```\n").Faults.size(), 1u);
  EXPECT_EQ(ReadPage("<!-- checked: qel x.trace -->\n```\na\n```\n```\nb\n```\n").Faults.size(), 1u);
  // A second marker before the blocks: the first one has none of its own.
  EXPECT_FALSE(ReadPage("<!-- checked: qel decode a.trace -->\n<!-- checked: qel decode b.trace -->\n"
                        "```\na\n```\n```\nb\n```\n")
                   .Faults.empty());
}

TEST(DocsTraceFormat, EveryMarkedExampleDecodesAsShown) {
  const TPage page = GuidePage();
  for (const std::string& fault : page.Faults) ADD_FAILURE() << fault;
  // Word, byte, BUFF, mode, DSS1, MBID and pass-through examples and the
  // four MINI ones: a lost marker must not quietly shrink what is checked.
  ASSERT_GE(page.Examples.size(), 11u);
  bool mini = false;
  for (const TExample& example : page.Examples) mini = mini || example.Words[1] == "--mini";
  EXPECT_TRUE(mini) << "no MINI example is checked";

  TTempDir dir;
  MakeSamples(dir);
  if (HasFatalFailure()) return;
  RunExamples(dir, page);
}

TEST(DocsTraceFormat, ThePackingExampleOfTheModePageDecodesAsShown) {
  const TPage page = ReadPage(ReadFileBytes(SourceFile("docs/mode-language.md")));
  for (const std::string& fault : page.Faults) ADD_FAILURE() << fault;
  ASSERT_EQ(page.Sources.size(), 1u);
  ASSERT_GE(page.Examples.size(), 1u);
  TTempDir dir;
  RunExamples(dir, page);
}

// The header lines shown above a column ruler are decoded too, so the columns
// the ruler points at are the ones the decoder reads.
TEST(DocsTraceFormat, TheRuledHeaderLinesAreAmongTheCheckedInputs) {
  const TPage page = GuidePage();
  ASSERT_EQ(page.RulerBlocks.size(), 3u);
  for (const std::string& header : page.RulerBlocks) {
    EXPECT_EQ(header.size(), 80u) << header;
    bool checked = false;
    for (const TExample& example : page.Examples) checked = checked || example.Input.find(header + "\n") != std::string::npos;
    EXPECT_TRUE(checked) << "not decoded by any example: " << header;
  }
}

TEST(DocsTraceFormat, NoPagePointsIntoTheSources) {
  for (const char* name : {"docs/trace-format.md", "docs/samples.md", "docs/terminal.md", "docs/mode-language.md",
                           "docs/settings.md"}) {
    const std::string page = ReadFileBytes(SourceFile(name));
    ASSERT_FALSE(page.empty()) << name;
    EXPECT_EQ(page.find("src/"), std::string::npos) << name;
    EXPECT_EQ(page.find("tests/"), std::string::npos) << name;
  }
}
