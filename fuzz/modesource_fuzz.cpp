// Random text as a mode source: the compiler either reports one fault or
// gives a file set that the reader opens and searches.
#include <cstddef>
#include <cstdint>
#include <string>

#include "trace/compiler.h"
#include "trace/modefile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string source(reinterpret_cast<const char*>(data), size);
  const TCompileResult result = CompileModeSource(source, "fuzz.mode");
  if (!result.Ok) {
    if (result.Error.Line < 1 || result.Error.Message.empty()) __builtin_trap();
    return 0;
  }
  TSilentReporter reporter;
  auto set = TTraceFileSet::Open(std::make_shared<TMemoryModeFiles>(result.Image.Files), reporter);
  // The compiler's own files always open, unless the version is below 1 on purpose.
  const bool tooOld = FindVersion(result.Image.Files.at(".ver")).value_or(0) < 1;
  if (!set && !tooOld) __builtin_trap();
  if (!set) return 0;
  for (const auto& [name, index] : result.Image.ModeIndex) {
    const bool found = set->LookupModeByName(name).Found || set->LookupSetByName(name).Found;
    if (!found) __builtin_trap();
    set->ReadModeRun(index);
  }
  for (const auto& [name, index] : result.Image.SynIndex) {
    if (set->LookupSynByName(name).SynIndex != index) __builtin_trap();
  }
  return 0;
}
