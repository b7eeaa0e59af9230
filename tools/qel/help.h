// What qel and qelwin say about themselves: the usage lines, `--help`, and
// the manual pages made from the same text at build time.
#pragma once

#include <string>
#include <vector>

inline constexpr const char* kQelVersion = "1.0";

struct THelpOption {
  const char* Option;  // "--type M1|M2|M3"
  const char* Text;    // what it does, its values and its default
};

struct THelpCommand {
  const char* Name;     // "decode"
  const char* Usage;    // "qel decode --mode BASE ... FILE|-"
  const char* Summary;  // one sentence
  std::vector<THelpOption> Options;
  const char* Notes = "";  // paragraphs after the options, "\n\n" between them
};

// Every qel subcommand, in the order the overview lists them.
const std::vector<THelpCommand>& HelpCommands();
// The subcommand named, or null.
const THelpCommand* FindHelp(const std::string& name);

// `qel --help`: what the tool is, every usage line and where to read more.
std::string OverviewText();
// `qel help CMD`, `qel CMD --help`: usage, summary, options, notes.
std::string CommandHelpText(const THelpCommand& command);
// `qel --version`.
std::string VersionText();

// `qelwin --help`: its usage and options, as its manual page has them.
std::string QelwinHelpText();
// `qelwin --version`.
std::string QelwinVersionText();

// A manual page in troff (man) form: "qel" or "qelwin"; empty for another name.
std::string ManPage(const std::string& page);
