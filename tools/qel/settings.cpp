// qel settings: reads (or makes from the defaults) a settings file, prints
// fields by name, changes fields and writes the result.
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "app/settings.h"
#include "app/settingsfields.h"
#include "app/settingsfile.h"
#include "tools_common.h"

namespace {
struct TOptions {
  std::string Input;
  bool Defaults = false;
  std::vector<std::string> Gets;
  std::vector<std::pair<std::string, std::string>> Sets;
  std::string Output;
};
}  // namespace

int RunSettings(const TToolCommand& tool, int argc, char** argv) {
  TOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string value;
    bool missing = false;
    const std::string arg = argv[i];
    if (arg == "--defaults") {
      options.Defaults = true;
    } else if (arg == "-h" || arg == "--help") {
      std::printf("usage: %s\n", tool.Usage);
      return 0;
    } else if (TakeValue(argc, argv, i, "--get", value, missing)) {
      if (missing) return tool.UsageError("--get needs a field name");
      options.Gets.push_back(value);
    } else if (TakeValue(argc, argv, i, "--set", value, missing)) {
      const std::size_t equals = value.find('=');
      if (equals == std::string::npos || equals == 0) {
        return tool.UsageError("--set needs NAME=VALUE, got '" + value + "'");
      }
      options.Sets.emplace_back(value.substr(0, equals), value.substr(equals + 1));
    } else if (TakeValue(argc, argv, i, "-o", value, missing)) {
      if (missing) return tool.UsageError("-o needs a file name");
      options.Output = value;
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      return tool.UsageError("unknown option '" + arg + "'");
    } else if (options.Input.empty()) {
      options.Input = arg;
    } else {
      return tool.UsageError("more than one settings file given");
    }
  }
  if (options.Defaults == !options.Input.empty()) {
    return tool.UsageError(options.Defaults ? "give a settings file or --defaults, not both"
                                            : "give a settings file or --defaults");
  }

  TSetupRecord record;
  record.ApplyDefaults();
  if (!options.Defaults) {
    const TSettingsReadResult read = ReadSettingsRecord(options.Input, record);
    if (read.Error != 0) return tool.Failure(options.Input, SettingsReadReason(read.Error));
  }

  for (const auto& [name, value] : options.Sets) {
    std::string error;
    if (!SetSettingsField(record, name, value, error)) return tool.UsageError("--set " + name + ": " + error);
  }

  // Changes go back into the file they came from unless -o names another.
  std::string target = options.Output;
  if (target.empty() && !options.Sets.empty() && !options.Defaults) target = options.Input;
  // The record is written beside the target and renamed over it, which would
  // put a plain file in place of a named pipe or a device.
  struct stat st {};
  if (!target.empty() && ::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
    return tool.Failure(target, "not a regular file");
  }

  std::vector<std::pair<std::string, std::string>> lines;
  if (options.Gets.empty()) {
    lines = PrintSettingsFields(record);
  } else {
    for (const std::string& name : options.Gets) {
      std::string error;
      const auto value = GetSettingsField(record, name, error);
      if (!value) return tool.UsageError("--get " + name + ": " + error);
      lines.emplace_back(name, *value);
    }
  }
  for (const auto& [name, value] : lines) std::printf("%s=%s\n", name.c_str(), value.c_str());
  if (std::fflush(stdout) != 0) return tool.Failure("stdout", "write failed");

  if (target.empty()) return 0;
  const std::uint32_t error = WriteSettingsRecord(target, record);
  if (error != 0) return tool.Failure(target, SystemReason(error));
  return 0;
}
