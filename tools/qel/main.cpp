// qel: the command-line tool. One subcommand per file; each returns the exit
// status (0 success, 2 usage error, 1 any other failure).
#include <cstdio>
#include <cstring>
#include <string>

#include "help.h"
#include "tools_common.h"

namespace {
struct TCommand {
  const char* Name;
  int (*Run)(const TToolCommand& tool, int argc, char** argv);
};

const TCommand kCommands[] = {
    {"replay", RunReplay},   {"decode", RunDecode},     {"compile", RunCompile},   {"mode", RunMode},
    {"connect", RunConnect}, {"exchange", RunExchange}, {"settings", RunSettings},
};

int Usage() {
  std::fprintf(stderr, "usage:\n");
  for (const THelpCommand& c : HelpCommands()) std::fprintf(stderr, "  %s\n", c.Usage);
  std::fprintf(stderr, "  qel help COMMAND | qel COMMAND --help\n");
  return 2;
}

int Print(const std::string& text) {
  std::fputs(text.c_str(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

bool IsHelp(const char* argument) { return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0; }

// "--help" anywhere asks for help, except as the text of an option that takes one.
bool AsksForHelp(int argc, char** argv) {
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i - 1], "--send") == 0 || std::strcmp(argv[i - 1], "--set") == 0) continue;
    if (IsHelp(argv[i])) return true;
  }
  return false;
}

int Help(int argc, char** argv) {
  if (argc < 3) return Print(OverviewText());
  if (const THelpCommand* help = FindHelp(argv[2])) return Print(CommandHelpText(*help));
  std::fprintf(stderr, "qel help: unknown command '%s'\n", argv[2]);
  return Usage();
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "qel: no command given\n");
    return Usage();
  }
  if (IsHelp(argv[1])) return Print(OverviewText());
  if (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "version") == 0) return Print(VersionText());
  if (std::strcmp(argv[1], "help") == 0) return Help(argc, argv);
  for (const auto& c : kCommands) {
    if (std::strcmp(argv[1], c.Name) != 0) continue;
    const THelpCommand* help = FindHelp(c.Name);
    if (AsksForHelp(argc, argv)) return Print(CommandHelpText(*help));
    const TToolCommand tool{c.Name, help->Usage};
    return c.Run(tool, argc - 1, argv + 1);
  }
  std::fprintf(stderr, "qel: unknown command '%s'\n", argv[1]);
  return Usage();
}
