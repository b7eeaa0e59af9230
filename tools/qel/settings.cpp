// qel settings: reads (or makes from the defaults) a settings file, prints
// and changes fields by name in the order given, and writes the result only
// where -o or --in-place says.
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "app/settingsfields.h"
#include "app/settingsfile.h"
#include "core/settings.h"
#include "tools_common.h"

namespace {
// One --get NAME or --set NAME=VALUE, kept in command-line order.
struct TStep {
  bool Set = false;
  std::string Name;
  std::string Value;
};

struct TSettingsOptions {
  std::string Input;
  bool Defaults = false;
  bool InPlace = false;
  std::vector<TStep> Steps;
  std::string Output;
};

int ParseSettingsOptions(const TToolCommand& tool, int argc, char** argv, TSettingsOptions& options) {
  for (int i = 1; i < argc; ++i) {
    std::string value;
    bool missing = false;
    const std::string arg = argv[i];
    if (arg == "--defaults") {
      options.Defaults = true;
    } else if (arg == "--in-place") {
      options.InPlace = true;
    } else if (TakeValue(argc, argv, i, "--get", value, missing)) {
      if (missing) return tool.UsageError("--get needs a field name");
      options.Steps.push_back({false, value, {}});
    } else if (TakeValue(argc, argv, i, "--set", value, missing)) {
      const std::size_t equals = value.find('=');
      if (equals == std::string::npos || equals == 0) {
        return tool.UsageError("--set needs NAME=VALUE, got '" + value + "'");
      }
      options.Steps.push_back({true, value.substr(0, equals), value.substr(equals + 1)});
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
  if (options.InPlace && !options.Output.empty()) return tool.UsageError("give -o or --in-place, not both");
  if (options.InPlace && options.Defaults) return tool.UsageError("--in-place needs a settings file to write back");
  return 0;
}

bool AnyGet(const std::vector<TStep>& steps) {
  for (const TStep& step : steps) {
    if (!step.Set) return true;
  }
  return false;
}
}  // namespace

int RunSettings(const TToolCommand& tool, int argc, char** argv) {
  TSettingsOptions options;
  if (const int status = ParseSettingsOptions(tool, argc, argv, options); status != 0) return status;

  TSetupRecord record;
  record.ApplyDefaults();
  TConnectionSettings extra;
  if (!options.Defaults) {
    const TSettingsReadResult read = ReadSettingsRecord(options.Input, record, nullptr, &extra);
    if (read.Error != 0) return tool.Failure(options.Input, SettingsReadReason(read.Error));
    if (read.TrailerDamaged) tool.Note(options.Input + ": the fields after the record are damaged; defaults used");
  }

  const std::string target = options.InPlace ? options.Input : options.Output;
  // The record is written beside the target and renamed over it, which would
  // put a plain file in place of a named pipe or a device.
  struct stat st {};
  if (!target.empty() && ::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
    return tool.Failure(target, "not a regular file");
  }

  // All steps run before anything is printed: a bad one prints nothing.
  std::vector<std::pair<std::string, std::string>> lines;
  for (const TStep& step : options.Steps) {
    std::string error;
    if (step.Set) {
      if (!SetSettingsField(record, extra, step.Name, step.Value, error)) {
        return tool.UsageError("--set " + step.Name + ": " + error);
      }
      continue;
    }
    const auto value = GetSettingsField(record, extra, step.Name, error);
    if (!value) return tool.UsageError("--get " + step.Name + ": " + error);
    lines.emplace_back(step.Name, *value);
  }
  // Everything only when nothing else was asked.
  if (options.Steps.empty() && target.empty()) lines = PrintSettingsFields(record, extra);
  else if (!AnyGet(options.Steps) && target.empty()) {
    tool.Note("nothing written: give -o OUT.mse or --in-place to keep the changes");
  }
  for (const auto& [name, value] : lines) std::printf("%s=%s\n", name.c_str(), value.c_str());
  if (std::fflush(stdout) != 0) return tool.Failure("stdout", "write failed");

  if (target.empty()) return 0;
  const std::uint32_t error = WriteSettingsRecord(target, record, nullptr, &extra);
  if (error != 0) return tool.Failure(target, SystemReason(error));
  return 0;
}
