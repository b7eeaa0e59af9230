#include "commands/definitions.h"

#include <optional>

#include "core/ascii.h"
#include "core/numbers.h"
#include "core/paths.h"
#include "core/text.h"

namespace {

// Hands out the comma-separated fields of a line in turn; the last one asked
// for takes the rest of the line.
class TFieldReader {
 public:
  explicit TFieldReader(std::string_view line) : Rest(line) {}
  std::string_view Next() {
    const std::size_t comma = Rest.find(',');
    const std::string_view field = Rest.substr(0, comma);
    Rest = comma == std::string_view::npos ? std::string_view() : Rest.substr(comma + 1);
    return field;
  }
  std::string_view Remainder() {
    const std::string_view rest = Rest;
    Rest = {};
    return rest;
  }

 private:
  std::string_view Rest;
};

std::string UpperField(std::string_view text) {
  return UpperCase(text.substr(0, TCommandDefinition::kFieldMax));
}

// Names, file names and numbers mean nothing with blanks around them; the
// prefix keeps its blanks, it is written as given.
std::string Word(std::string_view field) { return UpperField(TrimBlanks(field)); }

bool UsesRecordLength(unsigned method) { return method <= smNumberedSearch; }
}  // namespace

TCommandDefinition ParseCommandDefinition(std::string_view line, std::string& error) {
  error.clear();
  TCommandDefinition d;
  TFieldReader fields(line);
  d.Name = Word(fields.Next());
  d.DataFile = Word(fields.Next());

  const std::optional<std::uint16_t> method = ReadNumber16(TrimBlanks(fields.Next()));
  if (!method || *method > smTextSections) {
    error = kWrongSearchMethod;
    d.SearchMethod = method && *method < 256 ? static_cast<std::uint8_t>(*method) : 255;
  } else {
    d.SearchMethod = static_cast<std::uint8_t>(*method);
  }

  if (UsesRecordLength(d.SearchMethod)) {
    const std::optional<std::uint16_t> length = ReadNumber16(TrimBlanks(fields.Next()));
    if (!length || *length > 255) {
      error = kNotValidDecimal;
      d.RecordLength = 0;
    } else {
      d.RecordLength = static_cast<std::uint8_t>(*length);
      if (d.RecordLength == 0) error = kZeroLength;
    }
  }

  d.Prefix = UpperField(fields.Next());
  d.SkipText = Word(fields.Remainder());
  return d;
}

TCommandFile ParseCommandFile(std::string_view text) {
  TCommandFile file;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    start = end;
    if (start < text.size() && text[start] == CR) ++start;
    if (start < text.size() && text[start] == LF) ++start;
    if (TrimBlanks(line).empty()) continue;

    std::string error;
    file.Definitions.push_back(ParseCommandDefinition(line, error));
    if (!error.empty()) file.Errors.push_back({error, std::string(line)});
  }
  return file;
}

std::string CommandFileErrorText(const std::string& fileName, const TCommandFileLineError& error) {
  return "An error occurred processing the information in " + fileName + "." + CR + error.Message + error.Line;
}
