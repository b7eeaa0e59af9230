// qel compile SOURCE -o BASE [--kasp DIR]: the mode compiler.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "tools_common.h"
#include "trace/compiler.h"

namespace {
int Usage() {
  std::fprintf(stderr, "usage: qel compile SOURCE -o BASE [--kasp DIR]\n");
  return 2;
}
}  // namespace

int RunCompile(int argc, char** argv) {
  std::string source, base, kaspDirectory;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "-o" || arg == "--kasp") && i + 1 < argc) {
      (arg == "-o" ? base : kaspDirectory) = argv[++i];
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      return Usage();
    } else if (source.empty()) {
      source = arg;
    } else {
      return Usage();
    }
  }
  if (source.empty() || base.empty()) return Usage();

  std::string text;
  if (source == "-") {
    text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  } else {
    std::ifstream in(source, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "%s: cannot read: %s\n", source.c_str(), std::strerror(errno));
      return 1;
    }
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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
