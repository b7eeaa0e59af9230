// The Display Mode listing: the definition of a mode, a set or a constant
// read from the mode definition files and written as text lines, with byte
// and bit positions, sizes, kinds and packing of every component.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "trace/messagebuffer.h"
#include "trace/modefile.h"

// Where the lines of a listing go.
class TListingOutput {
 public:
  virtual ~TListingOutput() = default;
  virtual void Line(std::string_view text) = 0;
  // A message box for the user.
  virtual void Message(const std::string& text) = 0;
  // Asked before every item: true when the user has broken off.
  virtual bool Stop() { return false; }
  // How far the listing is: items done of the outermost structure or array.
  virtual void Progress(std::uint64_t done, std::uint64_t total) {}
};

class TModeLister {
 public:
  // A hostile file can describe arrays of 2^48 elements; a listing ends with
  // kTruncatedLine after this many lines or items (items past the nesting
  // limit print nothing but still take time).
  static constexpr std::uint64_t kMaxLines = 1000000;
  static constexpr std::uint64_t kMaxItems = 4000000;
  static constexpr const char* kTruncatedLine = "*** LISTING CUT OFF: TOO MANY LINES ***";
  // Nesting beyond this level lists nothing.
  static constexpr int kMaxLevel = 10;

  TModeLister(const TTraceFileSet& files, TListingOutput& output, bool convertSetElements)
      : Files(files), Out(output), ConvertSetElements(convertSetElements) {}

  // Lower limits than kMaxLines and kMaxItems (tests).
  void SetLimits(std::uint64_t lines, std::uint64_t items) {
    MaxLines = lines;
    MaxItems = items;
  }

  // Display Mode of a name: a mode (its layout), else a set ("NAME = SET " and
  // its elements), else a constant ("NAME = MODE (00042)"). False when the
  // name is none of these; nothing is written then.
  bool ListName(std::string_view name);

  // The mode at `mode` placed at byteBase/bitBase, at a nesting level; `first`
  // is the text its first line starts with.
  void ListMode(std::int64_t mode, std::uint32_t byteBase, std::uint32_t bitBase, int level,
                const std::string& first, TPackMode pack, std::uint32_t size);
  // One line per element of the set at `offset`: indentation, two spaces, the
  // value as 4 hex digits, a space and the name.
  void ListSetElements(std::int64_t offset, const std::string& indentation);
  // One line per constant of the chain from `first`: indentation, two spaces,
  // the value as 4 hex digits, a space and the trimmed name.
  void ListConstants(std::int64_t first, const std::string& indentation);

  // The user broke off the listing.
  bool BrokenOff() const { return Broken; }
  // The listing was cut off at kMaxLines or kMaxItems.
  bool CutOff() const { return Truncated; }

 private:
  // Something listed at a position: a structure component or an array element.
  struct TItem {
    std::string Name;
    std::uint8_t Kind = 0;
    std::int64_t ModeIndex = -1;  // .mod index, or .sem offset for SET
    std::string ModeName;         // printed for kind 1
    std::uint32_t Size = 0;
    TPackMode OwnPacking = pmNone;
    std::uint16_t Flags = 0;      // TModeFlags
    std::string VarLengthText;
  };

  bool Write(const std::string& line);
  bool Stopped();
  void ListStructure(const TModeRun& run, std::int64_t mode, std::uint32_t byteBase,
                     std::uint32_t bitBase, int level, TPackMode pack);
  void ListArray(const TModeHeaderRecord& array, std::uint32_t byteBase, std::uint32_t bitBase,
                 int level, TPackMode pack);
  // Writes the line of an item and what follows it by its kind.
  void ListItem(const TItem& item, std::uint64_t byteOffset, std::uint64_t bitOffset, int level,
                const std::string& indentation, TPackMode pack);
  std::string ItemLine(const TItem& item, std::uint64_t byteOffset, std::uint64_t bitOffset,
                       const std::string& indentation) const;
  // " = RANGE (lo:hi)" of the range mode at `mode`; false when its header
  // cannot be read (reported).
  bool RangeText(std::int64_t mode, bool constants, std::string& text, TModeHeaderRecord& header);
  std::string SetName(std::int64_t offset, std::uint16_t value) const;
  std::string ConstantText(std::int64_t chain, std::uint16_t value) const;
  std::string IndexText(const TModeHeaderRecord& array, int dimension, std::uint16_t index) const;
  // The .sem offset of a CASE tag whose mode is a set, or -1.
  std::int64_t TagSetOffset(const TModeComponentRecord& tag) const;
  void ReportModeIndex(std::int64_t mode);

  const TTraceFileSet& Files;
  TListingOutput& Out;
  bool ConvertSetElements;
  std::uint64_t MaxLines = kMaxLines;
  std::uint64_t MaxItems = kMaxItems;
  std::uint64_t Lines = 0;
  std::uint64_t Items = 0;
  bool Broken = false;
  bool Truncated = false;
  int ProgressLevel = -1;  // the level of the outermost structure or array
  TMessageBuffer NoBuffer;  // the set and constant texts are given values, not read
};
