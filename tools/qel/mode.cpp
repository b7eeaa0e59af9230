// qel mode --mode BASE NAME: the Display Mode listing of a mode, a set or a
// constant on stdout.
#include <cstdio>
#include <string>

#include "core/paths.h"
#include "tools_common.h"
#include "trace/listing.h"
#include "trace/modefile.h"

namespace {
int Usage() {
  std::fprintf(stderr, "usage: qel mode --mode BASE [--hex-sets] NAME\n");
  return 2;
}

// Boxes become lines on stderr; the CR that separates a box's lines too.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return text;
}

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

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}
}  // namespace

int RunMode(int argc, char** argv) {
  std::string base, name;
  bool convertSetElements = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--mode" && i + 1 < argc) {
      base = argv[++i];
    } else if (arg == "--hex-sets") {
      convertSetElements = false;
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage();
    } else if (name.empty()) {
      name = arg;
    } else {
      return Usage();
    }
  }
  // The dialog takes the name trimmed and upper-cased.
  name = UpperCase(Trimmed(name));
  if (base.empty() || name.empty()) return Usage();

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
