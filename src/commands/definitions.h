// The Command File: one definition a line turning a typed keyword into a
// search of a local data file. Reading a file never throws; a faulty line
// still gives its definition (with what could be read) and an error message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum TSearchMethod : std::uint8_t {
  smRecordSearch = 0,    // records of a fixed length, searched for the argument
  smRecordByNumber = 1,  // the record whose number is the argument
  smNumberedSearch = 2,  // by number, or searched and shown with record numbers
  smTextSearch = 3,      // lines of a text file, searched
  smTextSections = 4,    // a section of a text file, from the argument to the skip text
};

struct TCommandDefinition {
  static constexpr std::size_t kFieldMax = 255;
  std::string Name;      // upper case: the command's first word
  std::string DataFile;  // upper case: the file searched
  std::uint8_t RecordLength = 1;  // methods 0..2; 1 for the text methods
  std::uint8_t SearchMethod = smRecordSearch;  // above 4 for a faulty line: nothing is found
  std::string Prefix;    // upper case: written before every displayed record
  std::string SkipText;  // upper case: a record equal to it is not shown (method 4: ends the section)
};

// In file order; the first definition of a name wins.
using TCommandDefinitionList = std::vector<TCommandDefinition>;

// Messages of a faulty line; each is followed by the whole line.
inline constexpr const char* kWrongSearchMethod = "Wrong search method value --> ";
inline constexpr const char* kNotValidDecimal = "Not valid decimal input --> ";
inline constexpr const char* kZeroLength = "Zero length defined for array element --> ";

// One non-empty line: name, data file, search method, record length (only
// for methods 0..2), prefix, skip text, separated by commas; the last field
// is the rest of the line. error gets the message of a faulty line, or is
// emptied.
TCommandDefinition ParseCommandDefinition(std::string_view line, std::string& error);

struct TCommandFileLineError {
  std::string Message;  // one of the three messages above
  std::string Line;     // the whole line as read
};

struct TCommandFile {
  TCommandDefinitionList Definitions;
  std::vector<TCommandFileLineError> Errors;
};

// A whole file's text: lines end in LF, CR LF or CR; blank lines are skipped.
TCommandFile ParseCommandFile(std::string_view text);

// The box text of a faulty line of the file `fileName`.
std::string CommandFileErrorText(const std::string& fileName, const TCommandFileLineError& error);
