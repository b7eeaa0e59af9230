// qel: the command-line tool. One subcommand per file; each returns the exit
// status (0 success, 2 usage error, 1 any other failure).
#include <cstdio>
#include <cstring>
#include <string>

#include "tools_common.h"

namespace {
struct TCommand {
  TToolCommand Tool;
  int (*Run)(const TToolCommand& tool, int argc, char** argv);
};

const TCommand kCommands[] = {
    {{"replay",
      "qel replay [--emulation quorix|vt100|vt220|tn3270] [--settings F.mse] [--telnet] "
      "[--screen|--scrollback|--log] [--answers OUT] FILE|-"},
     RunReplay},
    {{"decode",
      "qel decode --mode BASE [--ornet DIR] [--settings F.mse] [--type M1|M2|M3] [--mini] [--convert-error] FILE|-"},
     RunDecode},
    {{"compile", "qel compile SOURCE -o BASE [--kasp DIR]"}, RunCompile},
    {{"mode", "qel mode --mode BASE [--hex-sets] NAME"}, RunMode},
    {{"connect",
      "qel connect (--serial DEVICE [--baud N] | --host HOST[:PORT] [--listen]) "
      "[--emulation quorix|vt100|vt220|tn3270] [--settings F.mse] [--send TEXT]... [--for SECONDS] "
      "[--screen|--scrollback|--log] [--decode --mode BASE]"},
     RunConnect},
    {{"exchange", "qel exchange (--listen HOST:PORT | --serial DEVICE) [--log FILE] [--samples DIR]"}, RunExchange},
    {{"settings", "qel settings [FILE.mse | --defaults] [--get NAME]... [--set NAME=VALUE]... [-o OUT.mse]"},
     RunSettings},
};

int Usage() {
  std::fprintf(stderr, "usage:\n");
  for (const auto& c : kCommands) std::fprintf(stderr, "  %s\n", c.Tool.Usage);
  return 2;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  for (const auto& c : kCommands) {
    if (std::strcmp(argv[1], c.Tool.Name) == 0) return c.Run(c.Tool, argc - 1, argv + 1);
  }
  std::fprintf(stderr, "qel: unknown command '%s'\n", argv[1]);
  return Usage();
}
