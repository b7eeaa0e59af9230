// qel compile SOURCE -o BASE [--kasp DIR]: the mode compiler.
#include <cstdio>
#include <string>

#include "tools_common.h"
#include "trace/compiler.h"

int RunCompile(const TToolCommand& tool, int argc, char** argv) {
  std::string source, base, kaspDirectory;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    bool missing = false;
    if (TakeValue(argc, argv, i, "-o", base, missing) || TakeValue(argc, argv, i, "--kasp", kaspDirectory, missing)) {
      if (missing) return tool.ShowUsage();
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      return tool.ShowUsage();
    } else if (source.empty()) {
      source = arg;
    } else {
      return tool.ShowUsage();
    }
  }
  if (source.empty() || base.empty()) return tool.ShowUsage();

  std::string text, reason;
  if (!ReadInput(source, text, reason)) {
    std::fprintf(stderr, "%s: cannot read: %s\n", source.c_str(), reason.c_str());
    return 1;
  }

  const TCompileResult result = CompileModeSource(text, source == "-" ? "<stdin>" : source);
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
