// qel settings: reads (or makes from the defaults) a settings file, prints
// fields by name, changes fields and writes the result.
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/settings.h"
#include "app/settingsfields.h"
#include "app/settingsfile.h"
#include "log/errors.h"
#include "tools_common.h"

namespace {
constexpr const char* kUsage =
    "usage: qel settings [FILE.mse | --defaults] [--get NAME]... [--set NAME=VALUE]... [-o OUT.mse]";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "qel settings: %s\n%s\n", message.c_str(), kUsage);
  return 2;
}

int Failure(const std::string& file, const std::string& reason) {
  std::fprintf(stderr, "qel settings: %s: %s\n", file.c_str(), reason.c_str());
  return 1;
}

// The sentence of a system error code without its padding.
std::string Reason(std::uint32_t code) {
  if (code == 38) return "shorter than a settings record (14044 bytes)";
  std::string text = ErrorCodeText(code);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  if (!text.empty() && text[0] >= '0' && text[0] <= '9') text = "system error " + text;
  return text;
}

struct TOptions {
  std::string Input;
  bool Defaults = false;
  std::vector<std::string> Gets;
  std::vector<std::pair<std::string, std::string>> Sets;
  std::string Output;
};

// Takes the value of an option given as "--opt VALUE" or "--opt=VALUE".
bool OptionValue(int argc, char** argv, int& i, const char* option, std::string& value) {
  const std::size_t length = std::strlen(option);
  if (std::strncmp(argv[i], option, length) != 0) return false;
  if (argv[i][length] == '=') {
    value = argv[i] + length + 1;
    return true;
  }
  if (argv[i][length] != '\0') return false;
  if (i + 1 >= argc) {
    value.clear();
    ++i;
    return true;
  }
  value = argv[++i];
  return true;
}
}  // namespace

int RunSettings(int argc, char** argv) {
  TOptions options;
  bool haveOutput = false;
  for (int i = 1; i < argc; ++i) {
    std::string value;
    const std::string arg = argv[i];
    if (arg == "--defaults") {
      options.Defaults = true;
    } else if (arg == "-h" || arg == "--help") {
      std::printf("%s\n", kUsage);
      return 0;
    } else if (OptionValue(argc, argv, i, "--get", value)) {
      if (value.empty()) return UsageError("--get needs a field name");
      options.Gets.push_back(value);
    } else if (OptionValue(argc, argv, i, "--set", value)) {
      const std::size_t equals = value.find('=');
      if (equals == std::string::npos || equals == 0) return UsageError("--set needs NAME=VALUE, got '" + value + "'");
      options.Sets.emplace_back(value.substr(0, equals), value.substr(equals + 1));
    } else if (OptionValue(argc, argv, i, "-o", value)) {
      if (value.empty()) return UsageError("-o needs a file name");
      options.Output = value;
      haveOutput = true;
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      return UsageError("unknown option '" + arg + "'");
    } else if (options.Input.empty()) {
      options.Input = arg;
    } else {
      return UsageError("more than one settings file given");
    }
  }
  if (options.Defaults == !options.Input.empty()) {
    return UsageError(options.Defaults ? "give a settings file or --defaults, not both"
                                       : "give a settings file or --defaults");
  }

  TSetupRecord record;
  record.ApplyDefaults();
  if (!options.Defaults) {
    const TSettingsReadResult read = ReadSettingsRecord(options.Input, record);
    if (read.Error != 0) return Failure(options.Input, Reason(read.Error));
  }

  for (const auto& [name, value] : options.Sets) {
    std::string error;
    if (!SetSettingsField(record, name, value, error)) return UsageError("--set " + name + ": " + error);
  }

  std::vector<std::pair<std::string, std::string>> lines;
  if (options.Gets.empty()) {
    lines = PrintSettingsFields(record);
  } else {
    for (const std::string& name : options.Gets) {
      std::string error;
      const auto value = GetSettingsField(record, name, error);
      if (!value) return UsageError("--get " + name + ": " + error);
      lines.emplace_back(name, *value);
    }
  }
  for (const auto& [name, value] : lines) std::printf("%s=%s\n", name.c_str(), value.c_str());
  if (std::fflush(stdout) != 0) return Failure("stdout", "write failed");

  // Changes go back into the file they came from unless -o names another.
  std::string target = options.Output;
  if (!haveOutput && !options.Sets.empty() && !options.Defaults) target = options.Input;
  if (target.empty()) return 0;
  const std::uint32_t error = WriteSettingsRecord(target, record);
  if (error != 0) return Failure(target, Reason(error));
  return 0;
}
