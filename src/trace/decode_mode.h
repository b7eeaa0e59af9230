// Mode-driven decoding of the MessageBuffer: structures component by
// component, CASE variants, VARLENGTH, VARPAR and OPTPAR components, arrays,
// elementary values, and MBID lists. Internal to the trace decoder; callers
// use TTraceDecoder's DecodeMode, DecodeMbidList and MbidLine.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "screen/writer.h"
#include "trace/modecache.h"

class TSession;
class TTraceDecoder;

class TModeDecoder {
 public:
  // Deepest nesting level that is printed.
  static constexpr int kMaxLevel = 10;
  // Items (components, elements, MBIDs) one top-level decode may print; a
  // hostile mode file can describe far more (every component of a wide
  // structure referring to the structure again), and the decode then stops.
  static constexpr std::uint32_t kMaxSteps = 200000;
  // MBID nesting deeper than this is printed at this depth.
  static constexpr int kMaxMbidIndent = 32;

  TModeDecoder(TSession& session, TTraceDecoder& decoder);

  void DecodeMode(std::int64_t mode, std::uint32_t byteOffset, std::uint32_t bitOffset, int limitMode,
                  std::uint32_t sizeBits, TPackMode pack, int level, std::string_view prefix,
                  std::uint32_t byteLimit);
  void DecodeMbidList(std::uint32_t start, std::uint32_t end, int level);
  void MbidLine(std::uint32_t mbid, std::uint32_t length, std::uint32_t offset, int level);
  // The line of VMI index under an MBID 114 line: indented one deeper than
  // level, the number, and its KASP.VMI name when the record reads whole.
  void WriteVmiLine(int index, int level);
  // The special decoder 1 of Quorix type M3: frames of 80 FF, a 16-bit
  // length and that many bytes of MBID list.
  void MbidFrames();

  // Decodes one component record of a structure or a DSS1 contents variant
  // whose position is already known (no CASE, VARLENGTH, VARPAR, OPTPAR).
  void DecodeComponentAt(const TModeComponentRecord& c, std::uint32_t byteOffset, std::uint32_t bitOffset,
                         TPackMode pack, int level, std::uint32_t byteLimit);

  // One line of `prefix` and `count` bytes from `from` as 2-digit groups,
  // continued on lines indented to the first group when it would pass the
  // screen width.
  void WriteByteLine(std::string_view prefix, std::uint32_t from, std::uint32_t count);

  // A top-level decode starts: the step budget is full again.
  void BeginTopLevel();

  // How far the values decoded since ResetReach have read: the bit after
  // the last bit of any value (never past the limit it was decoded under).
  // What a DSS1 IE's mode leaves of the IE is shown rather than dropped.
  void ResetReach(std::uint64_t bit) { ReachBits = bit; }
  std::uint64_t Reach() const { return ReachBits; }

 private:
  struct TField {
    std::uint8_t Kind = 0;
    std::uint32_t Size = 0;   // bits
    std::int64_t Ref = -1;    // .mod index, or .sem offset for SET
    TPackMode Pack = pmNone;
    std::uint32_t Byte = 0;
    std::uint32_t Bit = 0;
  };
  struct TCaseMatch {
    std::int64_t Selector;
    bool Matched;
  };

  void DecodeStructure(const TCachedMode& mode, std::uint32_t base, std::uint32_t bit, TPackMode pack, int level,
                       std::string_view prefix, std::uint32_t limit);
  void DecodeComponent(const TCachedMode& mode, const TModeComponentRecord& c, std::uint32_t base,
                       std::uint32_t bit, TPackMode inherited, int level, std::uint32_t limit,
                       std::vector<TCaseMatch>& cases);
  // The value of a field appended to `line`; nested modes and arrays write
  // their own lines. The line is written when the value completes it.
  void DecodeValue(const TField& f, int level, std::uint32_t limit, std::string& line);
  // Kind 1: the referenced mode, through aliases, as a set or constant text
  // or as a nested mode.
  void ReferenceValue(const TField& f, int level, std::uint32_t limit, std::string& line);
  void HexValue(const TField& f, std::uint32_t limit, std::string& line);
  // The array at header `array`; elementCount overrides the dimensions' count (VARLENGTH).
  void DecodeArray(const TField& f, std::int64_t elementCount, int level, std::uint32_t limit, std::string& line);
  std::string IndexText(const TModeHeaderRecord& array, int dimension, std::uint16_t index);
  // Adds byte groups of `count` bytes from `from`, wrapping at the screen width.
  void AppendByteGroups(std::uint32_t from, std::uint32_t count, std::string& line);
  void AppendWrapped(std::string_view piece, std::size_t valueColumn, std::string& line);

  // The value at f, `bits` wide, has been read.
  void Cover(const TField& f, std::uint32_t bits, std::uint32_t limit);

  bool Step();  // one more item; false when the budget is spent (reported once)
  bool Stop();  // the yield step or an empty budget
  void Write(std::string_view line, TCategory category = caData);
  void WriteIfNotBlank(std::string_view line);
  // The mode at `index`; nullptr when it cannot be read (reported).
  std::shared_ptr<const TCachedMode> ReadMode(std::int64_t index);
  int ScreenWidth() const;
  std::uint32_t Count() const;
  std::uint8_t At(std::uint32_t i) const;
  // The length of an MBID list item from its length byte; 0xFF: the 16-bit
  // length at `data`, which then moves past it to the item's bytes.
  std::uint32_t ItemLength(std::uint8_t lengthByte, std::uint32_t& data) const;

  // Line buffers by nesting depth, reused so decoding allocates no strings per value.
  std::string& AcquireLine();
  void ReleaseLine();

  TSession& S;
  TTraceDecoder& D;
  std::uint32_t Steps = 0;
  std::uint64_t ReachBits = 0;
  bool BudgetReported = false;
  std::deque<std::string> LinePool;  // a deque keeps references stable as it grows
  std::size_t LinesInUse = 0;
};
