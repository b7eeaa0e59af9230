// What a newcomer meets first: help, version, usage errors and the manual.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>

#include "support/testing.h"

using namespace std::string_literals;

namespace {
bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// The pages the build makes beside the tool: <build>/man/man1.
std::filesystem::path ManDirectory() {
  return std::filesystem::path(QEL_TOOL).parent_path().parent_path() / "man" / "man1";
}
}  // namespace

// The version line is the install layout test's.
TEST(QelHelp, HelpGoesToStandardOutputWithStatusZero) {
  TTempDir dir;
  for (const std::string args : {"--help", "-h", "help"}) {
    const TQelRun run = RunQel(dir, args);
    EXPECT_EQ(run.Status, 0) << args;
    EXPECT_EQ(run.Err, "") << args;
    for (const char* command : {"replay", "decode", "compile", "mode", "connect", "exchange", "settings"}) {
      EXPECT_TRUE(Contains(run.Out, std::string("qel ") + command + " ")) << args << ": " << command;
    }
  }
}

TEST(QelHelp, EveryCommandExplainsItsOptionsThreeWays) {
  TTempDir dir;
  // The options a user must be able to find, and a word of what they take.
  const std::pair<const char*, std::vector<std::string>> expected[] = {
      {"replay", {"--emulation", "vt220", "--telnet", "--scrollback", "--answers OUT", "--quiet"}},
      {"decode", {"--type M1|M2|M3", "--pcap OUT.pcap", "--ornet DIR", "--mini", "--convert-error", "--quiet"}},
      {"compile", {"-o BASE", "--kasp DIR", "required"}},
      {"mode", {"--hex-sets", "--mode BASE"}},
      {"connect", {"--host HOST[:PORT]", "23", "--ornet DIR", "--listen", "--for SECONDS", "--baud N", "9600"}},
      {"exchange", {"--listen HOST:PORT", "--serial DEVICE", "--log FILE", "--samples DIR"}},
      {"settings", {"--get NAME", "--set NAME=VALUE", "--in-place", "Emulation=vt100", "-o OUT.mse"}},
  };
  for (const auto& [command, options] : expected) {
    const TQelRun viaHelp = RunQel(dir, std::string("help ") + command);
    const TQelRun viaFlag = RunQel(dir, std::string(command) + " --help");
    const TQelRun afterOptions = RunQel(dir, std::string(command) + " --quiet --help");
    EXPECT_EQ(std::tuple(viaFlag.Status, viaFlag.Out, afterOptions.Status, afterOptions.Out),
              std::tuple(0, viaHelp.Out, 0, viaHelp.Out)) << command << viaFlag.Err << afterOptions.Err;
    EXPECT_EQ(viaHelp.Status, 0) << command;
    EXPECT_EQ(FirstLine(viaHelp.Out).rfind(std::string("usage: qel ") + command, 0), 0u) << viaHelp.Out;
    for (const std::string& option : options) EXPECT_TRUE(Contains(viaHelp.Out, option)) << command << ": " << option;
  }
}

TEST(QelHelp, HelpForAnUnknownCommandIsAUsageErrorAndAsAnOptionsValueNoRequest) {
  TTempDir dir;
  const std::pair<const char*, const char*> cases[] = {
      {"help frobnicate", "qel help: unknown command 'frobnicate'"},
      {"frobnicate", "qel: unknown command 'frobnicate'"},
      {"", "qel: no command given"},
      // A --send text or a --set value that reads "--help" is data, not a request.
      {"settings --defaults --set --help", "qel settings: --set needs NAME=VALUE, got '--help'"},
  };
  for (const auto& [args, message] : cases) {
    const TQelRun run = RunQel(dir, args);
    EXPECT_EQ(std::pair(run.Status, FirstLine(run.Err)), std::pair(2, std::string(message))) << args;
  }
}

TEST(QelHelp, UsageErrorsSayWhatIsWrongBeforeTheUsage) {
  TTempDir dir;
  const std::pair<const char*, const char*> cases[] = {
      {"compile x.mode", "qel compile: -o BASE is required: the base name of the mode files to write"},
      {"compile -o out", "qel compile: no mode source given (use - for standard input)"},
      {"compile x.mode -o", "qel compile: -o needs the base name of the files to write"},
      {"compile a.mode b.mode -o out", "qel compile: more than one source given ('a.mode' and 'b.mode')"},
      {"compile x.mode -o out --bogus", "qel compile: unknown option '--bogus'"},
      {"mode --bogus", "qel mode: unknown option '--bogus'"},
      {"mode NAME", "qel mode: --mode BASE is required"},
      {"mode --mode base", "qel mode: no mode, set or constant name given"},
      {"mode --mode", "qel mode: --mode needs the base name of the mode files"},
      {"decode --mode m --type", "qel decode: --type needs M1, M2 or M3"},
      {"decode --mode m --type M4 x", "qel decode: --type is M1, M2 or M3"},
      {"replay --bogus x", "qel replay: unknown option '--bogus'"},
      {"connect --host h --ornet d", "qel connect: --ornet goes with --decode"},
  };
  for (const auto& [args, message] : cases) {
    const TQelRun run = RunQel(dir, args);
    EXPECT_EQ(std::tuple(run.Status, FirstLine(run.Err), run.Out), std::tuple(2, std::string(message), "")) << args;
    // Then the command's usage line.
    const std::string second = run.Err.substr(run.Err.find('\n') + 1);
    EXPECT_EQ(second.rfind("usage: qel ", 0), 0u) << args << ": " << run.Err;
  }
}

TEST(QelHelp, TerminalTypesInAnyCaseAndVt52Explained) {
  TTempDir dir;
  WriteFileBytes(dir.file("in.vt"), "AB");
  for (const std::string type : {"VT100", "Vt220", "vt220-8bit", "QUORIX", "TN3270"}) {
    const TQelRun run = RunQel(dir, "replay --emulation " + type + " " + dir.file("in.vt"));
    EXPECT_EQ(run.Status, 0) << type << ": " << run.Err;
    EXPECT_EQ(FirstLine(run.Out), "AB") << type;
  }
  TQelRun run = RunQel(dir, "replay --emulation VT52 " + dir.file("in.vt"));
  EXPECT_EQ(std::pair(run.Status, FirstLine(run.Err)),
            std::pair(2, "qel replay: VT52 is not chosen here: a VT100 host selects it (ESC [ ? 2 h); give "s
                         "--emulation vt100"));
  run = RunQel(dir, "replay --emulation vt330 " + dir.file("in.vt"));
  EXPECT_EQ(FirstLine(run.Err), "qel replay: unknown terminal type 'vt330' (quorix, vt100, vt220 or tn3270)");
}

TEST(QelHelp, ConnectFailuresNameTheDefaultPort) {
  TTempDir dir;
  // Without a port the settings' Port gives it: Telnet (23) by default.
  const TQelRun noPort = RunQel(dir, "connect --host 127.0.0.1 --for 5");
  EXPECT_EQ(noPort.Status, 1);
  EXPECT_EQ(noPort.Err.rfind("qel connect: 127.0.0.1:23: ", 0), 0u) << noPort.Err;
  ASSERT_EQ(RunQel(dir, "settings --defaults --set Port=discard -o " + dir.file("discard.mse")).Status, 0);
  const TQelRun discard = RunQel(dir, "connect --host 127.0.0.1 --settings " + dir.file("discard.mse") + " --for 5");
  EXPECT_EQ(discard.Err.rfind("qel connect: 127.0.0.1:9: ", 0), 0u) << discard.Err;
}

TEST(QelManual, PagesAreBuiltFromTheHelpText) {
  const auto qel = ManDirectory() / "qel.1";
  const auto qelwin = ManDirectory() / "qelwin.1";
  const std::string page = ReadFileBytes(qel.string());
  ASSERT_FALSE(page.empty()) << qel;
  for (const char* option : {"\\-\\-pcap OUT.pcap", "\\-\\-type M1|M2|M3", "\\-\\-in\\-place", "qel exchange",
                             "\\-\\-hex\\-sets", "\\-\\-kasp DIR", "\\-\\-quiet"}) {
    EXPECT_TRUE(Contains(page, option)) << option;
  }
  const std::string window = ReadFileBytes(qelwin.string());
  for (const char* option : {"\\-\\-connect serial|network", "\\-\\-trace", "\\-\\-no\\-background", "QELWIN_HOME"}) {
    EXPECT_TRUE(Contains(window, option)) << option;
  }
}

TEST(QelManual, ManReadsThePageFromTheBuildFolder) {
  if (std::system("command -v man >/dev/null 2>&1") != 0) GTEST_SKIP() << "man is not installed";
  TTempDir dir;
  const std::string out = dir.file("man.txt");
  const std::string command = "MANWIDTH=200 man -l " + (ManDirectory() / "qel.1").string() + " >" + out + " 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << ReadFileBytes(out);
  const std::string text = ReadFileBytes(out);
  EXPECT_TRUE(Contains(text, "qel decode --mode BASE")) << text.substr(0, 400);
  EXPECT_TRUE(Contains(text, "EXIT STATUS"));
}
