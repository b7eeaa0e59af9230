// Running a command definition: its data file searched by one of the five
// methods, each line found handed to a sink. Knows nothing of the screen or
// the host, so each method is tested on plain files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "commands/definitions.h"

struct TSearchHooks {
  // A line to display (the prefix is already in it).
  std::function<void(std::string_view line)> Line;
  // Asked between records, after the window had its turn: true ends the run.
  std::function<bool()> Interrupted;
  // Record by number with an argument that is no number.
  std::function<void()> Bell;
};

enum class TSearchEnd {
  seOpenFailed,   // the data file could not be opened: Error says why
  seFinished,
  seInterrupted,
};

struct TSearchResult {
  TSearchEnd End = TSearchEnd::seFinished;
  int Error = 0;  // errno of a failed open
};

// Text lines longer than this are taken in pieces of this size.
inline constexpr std::size_t kSearchLineLimit = 65536;

// Opens the data file, displays an empty line, then the records the method
// finds for the argument (upper case, trimmed; may be empty).
TSearchResult RunSearch(const TCommandDefinition& definition, std::string_view argument,
                        const TSearchHooks& hooks);

// The argument as a record number: decimal digits only.
bool IsRecordNumber(std::string_view argument);
// "12 -> " cut to nine characters, before each line of a numbered search.
std::string RecordNumberLabel(std::uint64_t number);
