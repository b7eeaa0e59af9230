// Random bytes as a Command File: parsed as the program loads one, each
// definition checked against the rules of a line, then the same bytes
// searched as a data file by every method, so a faulty line or a strange
// data file can neither crash nor hang a lookup.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "commands/definitions.h"
#include "commands/definitionsearch.h"
#include "fuzzing.h"

namespace {
const std::string& DataFileName() {
  static const std::string name = FuzzDirectory() + "DATA.DAT";
  return name;
}

bool IsUpper(std::string_view text) {
  for (const char c : text)
    if (c >= 'a' && c <= 'z') return false;
  return true;
}

void CheckDefinitions(const TCommandFile& file) {
  if (file.Errors.size() > file.Definitions.size()) std::abort();
  for (const TCommandDefinition& d : file.Definitions) {
    for (const std::string* field : {&d.Name, &d.DataFile, &d.Prefix, &d.SkipText})
      if (field->size() > TCommandDefinition::kFieldMax || !IsUpper(*field)) std::abort();
    if (d.SearchMethod > smNumberedSearch && d.RecordLength != 1) std::abort();
  }
}

void SearchEveryWay(std::string_view argument, std::uint8_t recordLength) {
  std::size_t lines = 0;
  TSearchHooks hooks;
  hooks.Line = [&lines](std::string_view) { ++lines; };
  for (std::uint8_t method = 0; method <= 5; ++method) {
    TCommandDefinition d;
    d.DataFile = DataFileName();
    d.SearchMethod = method;
    d.RecordLength = method <= smNumberedSearch ? recordLength : 1;
    d.Prefix = "P:";
    const TSearchResult result = RunSearch(d, argument, hooks);
    if (result.End != TSearchEnd::seFinished) std::abort();
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckDefinitions(ParseCommandFile(text));

  if (!WriteFuzzFile(DataFileName(), text)) return 0;
  // The first bytes choose the record length and the argument.
  const std::uint8_t recordLength = size > 0 ? data[0] : 0;
  const std::string_view argument = text.substr(size > 0 ? 1 : 0, 3);
  SearchEveryWay(argument, recordLength);
  return 0;
}
