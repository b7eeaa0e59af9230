// Random bytes as a settings file: loaded the way the program loads one, then
// every field printed and read back by name, those of the trailer after the
// record too, and the trailer written again reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/session.h"
#include "app/settingsfields.h"
#include "app/settingsfile.h"
#include "core/desktop.h"
#include "fuzzing.h"
#include "support/scripteddesktop.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string name = FuzzDirectory() + "input.mse";
  if (!WriteFuzzFile(name, {reinterpret_cast<const char*>(data), size})) return 0;

  TScriptedDesktop desktop;
  TSession session(desktop, FuzzDirectory());
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
