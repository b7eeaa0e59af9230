// Random bytes as a settings file: loaded the way the program loads one, then
// every field printed and read back by name, those of the trailer after the
// record too, and the trailer written again reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/session.h"
#include "app/settingsfields.h"
#include "app/settingsfile.h"
#include "core/desktop.h"
#include "core/tempdir.h"
#include "support/scripteddesktop.h"

namespace {
// The sessions' program directory, removed when the fuzzer exits.
const std::string& WorkDirectory() {
  static const TTemporaryDirectory directory("qelfuzz");
  if (directory.Path().empty()) std::abort();
  static const std::string path = directory.Path().string() + "/";
  return path;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string name = WorkDirectory() + "input.mse";
  FILE* file = std::fopen(name.c_str(), "wb");
  if (!file) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);

  TScriptedDesktop desktop;
  TSession session(desktop, WorkDirectory());
  const bool loaded = session.SettingsFiles->OpenQelSetFile(name);
  if (loaded != (size >= kSetupRecordSize)) std::abort();

  for (const auto& [field, value] : PrintSettingsFields(session.Settings, session.Connection)) {
    std::string error;
    const auto again = GetSettingsField(session.Settings, session.Connection, field, error);
    if (!again || *again != value) std::abort();
    // Setting the printed value back either fails a range check or changes nothing.
    TSetupRecord copy = session.Settings;
    TConnectionSettings extra = session.Connection;
    if (SetSettingsField(copy, extra, field, value, error)) {
      const auto after = GetSettingsField(copy, extra, field, error);
      if (!after || *after != value) std::abort();
    }
  }
  TConnectionSettings reread;
  if (!DecodeSettingsTrailer(EncodeSettingsTrailer(session.Connection), reread) || !(reread == session.Connection)) {
    std::abort();
  }
  return 0;
}
