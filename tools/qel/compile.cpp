// qel compile SOURCE -o BASE [--kasp DIR]: the mode compiler.
#include <cstdio>
#include <string>

#include "progress.h"
#include "tools_common.h"
#include "trace/compiler.h"

namespace {
constexpr std::size_t kLargeSource = 1 << 20;
}  // namespace

int RunCompile(const TToolCommand& tool, int argc, char** argv) {
  std::string source, base, kaspDirectory;
  bool quiet = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    bool missing = false;
    if (TakeValue(argc, argv, i, "-o", base, missing)) {
      if (missing) return tool.UsageError("-o needs the base name of the files to write");
    } else if (TakeValue(argc, argv, i, "--kasp", kaspDirectory, missing)) {
      if (missing) return tool.UsageError("--kasp needs a directory");
    } else if (arg == "--quiet") {
      quiet = true;
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      return tool.UsageError("unknown option '" + arg + "'");
    } else if (source.empty()) {
      source = arg;
    } else {
      return tool.UsageError("more than one source given ('" + source + "' and '" + arg + "')");
    }
  }
  if (source.empty()) return tool.UsageError("no mode source given (use - for standard input)");
  if (base.empty()) return tool.UsageError("-o BASE is required: the base name of the mode files to write");

  std::string text, reason;
  CatchInterrupt();
  if (!ReadInput(source, text, reason) || Interrupted()) {
    if (Interrupted()) return kInterruptedStatus;
    std::fprintf(stderr, "%s: cannot read: %s\n", source.c_str(), reason.c_str());
    return 1;
  }

  // One step that cannot report its share: a large source says it is at work.
  TProgress progress("compiling " + InputName(source), static_cast<std::int64_t>(text.size()), quiet);
  if (text.size() >= kLargeSource) progress.Draw(0);
  const TCompileResult result = CompileModeSource(text, source == "-" ? "<stdin>" : source);
  progress.Finish();
  if (!result.Ok) {
    std::fprintf(stderr, "%s\n", result.Error.Text().c_str());
    return 1;
  }
  std::string error;
  if (!WriteModeFileImage(result.Image, base, kaspDirectory, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  return 0;
}
