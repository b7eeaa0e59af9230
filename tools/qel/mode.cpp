// qel mode --mode BASE NAME: the Display Mode listing of a mode, a set or a
// constant on stdout.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/session.h"
#include "core/desktop.h"
#include "core/paths.h"
#include "core/tempdir.h"
#include "core/text.h"
#include "log/errors.h"
#include "printing.h"
#include "tools_common.h"
#include "trace/listing.h"
#include "trace/modefile.h"

namespace {
// The reader's boxes as the window would word them (kind, file, system error);
// its diagnostics are for the window's developer, not for this line.
class TBoxReporter final : public TModeFileReporter {
 public:
  explicit TBoxReporter(TSession& session) : S(session) {}
  void ReportError(TErrorKind kind, std::uint32_t code, const std::string& text) override {
    S.Errors->ReportError(kind, code, text);
  }

 private:
  TSession& S;
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
      if (missing) return tool.UsageError("--mode needs the base name of the mode files");
      base = ModeBaseOf(base);
    } else if (arg == "--hex-sets") {
      convertSetElements = false;
    } else if (!arg.empty() && arg[0] == '-') {
      return tool.UsageError("unknown option '" + arg + "'");
    } else if (name.empty()) {
      name = arg;
    } else {
      return tool.UsageError("more than one name given ('" + name + "' and '" + arg + "')");
    }
  }
  // The dialog takes the name trimmed and upper-cased.
  name = UpperCase(TrimSpaces(name));
  if (base.empty()) return tool.UsageError("--mode BASE is required");
  if (name.empty()) return tool.UsageError("no mode, set or constant name given");

  const TTemporaryDirectory directory("qelmode");
  if (directory.Path().empty()) return tool.Failure("temporary directory", std::strerror(errno));
  THeadlessDesktop desktop;
  TSession session(desktop, directory.Path().string());
  TBoxReporter reporter(session);
  // Each box is one line on stderr.
  auto showBoxes = [&desktop] {
    for (const auto& box : desktop.Boxes) std::fprintf(stderr, "%s\n", OneLine(WithCommandLineHint(box.Box.Text)).c_str());
    return !desktop.Boxes.empty();
  };

  const std::unique_ptr<TTraceFileSet> files = TTraceFileSet::OpenBase(base, reporter);
  if (!files) {
    showBoxes();
    return 1;
  }
  TStdoutListing output(base);
  TModeLister lister(*files, output, convertSetElements);
  const bool found = lister.ListName(name);
  std::string reason;
  if (!StandardOutputWritten(reason)) return tool.Failure("standard output", reason);
  // A file that failed under the lookup is the reason, not the name.
  if (showBoxes()) return 1;
  if (!found) {
    std::fprintf(stderr, "%s: Mode name not found: %s\n", base.c_str(), name.c_str());
    return 1;
  }
  return output.Failed ? 1 : 0;
}
