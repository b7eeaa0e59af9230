// qel mode --mode BASE NAME: the Display Mode listing of a mode, a set or a
// constant on stdout.
#include <cstdio>
#include <string>

#include "core/paths.h"
#include "core/text.h"
#include "tools_common.h"
#include "trace/listing.h"
#include "trace/modefile.h"

namespace {
// Boxes become lines on stderr.
class TStderrReporter final : public TModeFileReporter {
 public:
  void ReportError(TErrorKind, std::uint32_t, const std::string& text) override {
    std::fprintf(stderr, "%s\n", OneLine(text).c_str());
    Failed = true;
  }
  bool Failed = false;
};

class TStdoutListing final : public TListingOutput {
 public:
  explicit TStdoutListing(const std::string& base) : Base(base) {}
  void Line(std::string_view text) override {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
  }
  void Message(const std::string& text) override {
    std::fprintf(stderr, "%s: %s\n", Base.c_str(), OneLine(text).c_str());
    Failed = true;
  }
  bool Failed = false;

 private:
  std::string Base;
};
}  // namespace

int RunMode(const TToolCommand& tool, int argc, char** argv) {
  std::string base, name;
  bool convertSetElements = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    bool missing = false;
    if (TakeValue(argc, argv, i, "--mode", base, missing)) {
      if (missing) return tool.ShowUsage();
    } else if (arg == "--hex-sets") {
      convertSetElements = false;
    } else if (!arg.empty() && arg[0] == '-') {
      return tool.ShowUsage();
    } else if (name.empty()) {
      name = arg;
    } else {
      return tool.ShowUsage();
    }
  }
  // The dialog takes the name trimmed and upper-cased.
  name = UpperCase(TrimSpaces(name));
  if (base.empty() || name.empty()) return tool.ShowUsage();

  TStderrReporter reporter;
  const std::unique_ptr<TTraceFileSet> files = TTraceFileSet::OpenBase(base, reporter);
  if (!files) return 1;
  TStdoutListing output(base);
  TModeLister lister(*files, output, convertSetElements);
  if (!lister.ListName(name)) {
    std::fprintf(stderr, "%s: Mode name not found: %s\n", base.c_str(), name.c_str());
    return 1;
  }
  std::fflush(stdout);
  return output.Failed || reporter.Failed ? 1 : 0;
}
