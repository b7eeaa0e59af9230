// qel: the command-line tool. One subcommand per file; each returns the exit
// status (0 success, 2 usage error, 1 any other failure).
#include <cstdio>
#include <cstring>
#include <string>

#include "tools_common.h"

namespace {
struct TCommand {
  const char* Name;
  int (*Run)(int argc, char** argv);
  const char* Usage;
};

const TCommand kCommands[] = {
    {"replay", RunReplay, "qel replay [--emulation quorix|vt100|vt220|tn3270] [--settings F.mse] [--telnet] [--screen|--scrollback|--log] [--answers OUT] FILE|-"},
    {"decode", RunDecode, "qel decode --mode BASE [--ornet DIR] [--settings F.mse] [--type M1|M2|M3] [--mini] [--convert-error] FILE|-"},
    {"compile", RunCompile, "qel compile SOURCE -o BASE [--kasp DIR]"},
    {"mode", RunMode, "qel mode --mode BASE [--hex-sets] NAME"},
    {"connect", RunConnect, "qel connect (--serial DEVICE [--baud N] | --host HOST[:PORT] [--listen]) [--emulation quorix|vt100|vt220|tn3270] [--settings F.mse] [--send TEXT]... [--for SECONDS] [--screen|--scrollback|--log] [--decode --mode BASE]"},
    {"settings", RunSettings, "qel settings [FILE.mse | --defaults] [--get NAME]... [--set NAME=VALUE]... [-o OUT.mse]"},
};

int Usage() {
  std::fprintf(stderr, "usage:\n");
  for (const auto& c : kCommands) std::fprintf(stderr, "  %s\n", c.Usage);
  return 2;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  for (const auto& c : kCommands) {
    if (std::strcmp(argv[1], c.Name) == 0) return c.Run(argc - 1, argv + 1);
  }
  std::fprintf(stderr, "qel: unknown command '%s'\n", argv[1]);
  return Usage();
}
