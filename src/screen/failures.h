// Failures of the screen buffer store. Allocation failures carry the store's
// fixed texts; the line number, where there is one, is kept apart so the text
// stays exactly as shown to the user.
#pragma once

#include <stdexcept>
#include <string>

inline constexpr const char* kNoMemoryNewLine = "Out of Memory creating a new Line ";
inline constexpr const char* kNoMemoryReplaceLine = "Out of Memory replacing a new Line ";
inline constexpr const char* kNoAttributeMemory = "Out of Attribute Memory at line ";
inline constexpr const char* kNoMemoryInsertAttribute = "Out of Memory inserting a new Attribute";
inline constexpr const char* kNoMarkMemory = "Out of Mark Attribute Memory at line ";
inline constexpr const char* kNoMemoryTemporaryFont = "Out of Memory creating temporary font";

class EOutOfResources : public std::runtime_error {
 public:
  explicit EOutOfResources(const char* text, int line = -1)
      : std::runtime_error(text), Line(line) {}
  int Line;  // store line concerned, -1 when none
};

