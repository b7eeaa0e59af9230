// qel decode: a recorded trace decoded as trace conversion would show it,
// printed as the log text.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include "app/settingsfile.h"
#include "core/cp437.h"
#include "core/desktop.h"
#include "core/session.h"
#include "tools_common.h"
#include "trace/batchdecode.h"

namespace {

constexpr const char* kUsage =
    "usage: qel decode --mode BASE [--ornet DIR] [--settings F.mse] [--type M1|M2|M3] [--mini] "
    "[--convert-error] FILE|-";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "qel decode: %s\n%s\n", message.c_str(), kUsage);
  return 2;
}

int Failure(const std::string& file, const std::string& reason) {
  std::fprintf(stderr, "qel decode: %s: %s\n", file.c_str(), reason.c_str());
  return 1;
}

struct TOptions {
  TBatchDecodeOptions Decode;
  bool ModeGiven = false;
  std::string Settings;
  std::string Input;
};

// "--name VALUE" or "--name=VALUE".
bool TakeValue(int argc, char** argv, int& i, const char* option, std::string& value, bool& missing) {
  const std::size_t length = std::strlen(option);
  if (std::strncmp(argv[i], option, length) != 0) return false;
  if (argv[i][length] == '=') {
    value = argv[i] + length + 1;
    missing = value.empty();
    return true;
  }
  if (argv[i][length] != '\0') return false;
  missing = i + 1 >= argc;
  if (!missing) value = argv[++i];
  return true;
}

int ParseOptions(int argc, char** argv, TOptions& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    std::string value;
    bool missing = false;
    if (TakeValue(argc, argv, i, "--mode", value, missing)) {
      if (missing) return UsageError("--mode needs the base name of the mode files");
      options.Decode.ModeBase = value;
      options.ModeGiven = true;
    } else if (TakeValue(argc, argv, i, "--ornet", value, missing)) {
      if (missing) return UsageError("--ornet needs a directory");
      options.Decode.OrnetDirectory = value;
      options.Decode.OrnetGiven = true;
    } else if (TakeValue(argc, argv, i, "--settings", value, missing)) {
      if (missing) return UsageError("--settings needs a file name");
      options.Settings = value;
    } else if (TakeValue(argc, argv, i, "--type", value, missing)) {
      if (value == "M1" || value == "m1") options.Decode.QuorixType = 0;
      else if (value == "M2" || value == "m2") options.Decode.QuorixType = 1;
      else if (value == "M3" || value == "m3") options.Decode.QuorixType = 2;
      else return UsageError("--type is M1, M2 or M3");
    } else if (arg == "--mini") {
      options.Decode.Mini = true;
    } else if (arg == "--convert-error") {
      options.Decode.ConvertError = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError("unknown option '" + arg + "'");
    } else if (!options.Input.empty()) {
      return UsageError("more than one input file given");
    } else {
      options.Input = arg;
    }
  }
  if (!options.ModeGiven) return UsageError("--mode is required");
  if (options.Input.empty()) return UsageError("no input file given (use - for standard input)");
  return 0;
}

// The program directory of the session: a fresh directory removed at the end.
class TScratchDirectory {
 public:
  TScratchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qeldecode.XXXXXX").string();
    if (mkdtemp(pattern.data())) Path = pattern;
  }
  ~TScratchDirectory() {
    std::error_code ignored;
    if (!Path.empty()) std::filesystem::remove_all(Path, ignored);
  }
  std::string Path;
};

// A line as the view shows it: trailing blanks dropped, bytes through code page 437.
void PrintLine(std::string_view text, std::string& out) {
  std::size_t end = text.size();
  while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\0')) --end;
  out.clear();
  for (const char c : text.substr(0, end)) {
    if (c == '\t') out.push_back(c);
    else AppendCp437AsUtf8(out, static_cast<std::uint8_t>(c));
  }
  out.push_back('\n');
  std::fwrite(out.data(), 1, out.size(), stdout);
}

}  // namespace

int RunDecode(int argc, char** argv) {
  TOptions options;
  if (const int status = ParseOptions(argc, argv, options); status != 0) return status;

  std::ifstream file;
  std::istream* in = &std::cin;
  if (options.Input != "-") {
    file.open(options.Input, std::ios::binary);
    if (!file) return Failure(options.Input, std::strerror(errno));
    in = &file;
  }

  TScratchDirectory directory;
  if (directory.Path.empty()) return Failure("temporary directory", std::strerror(errno));
  TScriptedDesktop desktop;
  TSession session(desktop, directory.Path);
  if (!options.Settings.empty() && !session.SettingsFiles->OpenQelSetFile(options.Settings)) {
    return Failure(options.Settings, "not a readable settings file");
  }
  // Without a settings file the host name files are used only when named.
  if (options.Settings.empty() && !options.Decode.OrnetGiven) session.Settings.OrnetDirectoryName.assign("");

  TBatchDecoder decoder(session);
  std::string printed;
  decoder.Output = [&](std::string_view line) { PrintLine(line, printed); };
  std::string reason;
  if (!decoder.Start(options.Decode, &reason)) return Failure(options.Decode.ModeBase, reason);

  std::string chunk(1 << 16, '\0');
  while (*in) {
    in->read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    const std::streamsize got = in->gcount();
    if (got <= 0) break;
    decoder.Feed(reinterpret_cast<const std::uint8_t*>(chunk.data()), static_cast<std::size_t>(got));
  }
  if (in->bad()) return Failure(options.Input, "read error");
  decoder.Finish();
  std::fflush(stdout);

  for (const auto& box : desktop.Boxes) {
    std::string text = box.Box.Text;
    for (char& c : text) {
      if (c == '\r') c = ' ';
    }
    std::fprintf(stderr, "qel decode: note: %s\n", text.c_str());
  }
  return 0;
}
