// The records of the mode definition files, byte for byte: decoding from the
// bytes read and encoding (for the mode compiler). All integers little-endian.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "trace/messagebuffer.h"

// Record sizes in bytes.
constexpr std::size_t kModeRecordSize = 109;     // .mod
constexpr std::size_t kModeIndexEntrySize = 4;   // .msg, .usb
constexpr std::size_t kMbidIndexEntrySize = 5;   // .bid
constexpr std::size_t kSynRecordSize = 87;       // .syn
constexpr std::size_t kModeNameEntrySize = 44;   // .mna, .sna
constexpr std::size_t kSetNameEntrySize = 52;    // .sen
constexpr std::size_t kModeNameKeyWidth = 40;    // .mna, .sna keys
constexpr std::size_t kSetNameKeyWidth = 48;     // .sen keys
constexpr std::size_t kRecordNameLength = 40;    // short string[40] in .mod, chars[40] in .syn
constexpr std::size_t kModeHeaderCopySize = 93;  // what LookupModeByName returns of a header

// The special entries of .msg and .usb (and the "no description" of .bid).
constexpr std::int32_t kIndexHexDump = -1;   // no mode: hex dump
constexpr std::int32_t kIndexMbidList = -2;  // special decoder 1 (MBID list)
constexpr std::int32_t kIndexDss1 = -3;      // special decoder 2 (DSS1)
constexpr std::int32_t kIndexSpecial3 = -4;  // special decoder 3 (not decoded)
constexpr std::int32_t kIndexSpecial4 = -5;  // special decoder 4 (not decoded)
constexpr std::int32_t kIndexSpecial5 = -6;  // special decoder 5 (.msg only)

// The first ten .mod records are headers whose reference names the DSS1
// vocabulary (-1: not provided).
constexpr int kDss1MessageTypesRecord = 0;  // RANGE over named constants: message types
constexpr int kDss1Codeset0Record = 1;      // RANGE over named constants: IEs of codeset 0
constexpr int kDss1IeContentsRecord = 2;    // STRUCTURE: CASE over the IE identifier
constexpr int kDss1FirstCodesetRecord = 3;  // records 3..9: IEs of codesets 1..7
constexpr int kDss1ReservedRecords = 10;
// The reserved record naming the IEs of codeset c (0-7).
constexpr int Dss1CodesetRecord(int codeset) { return codeset == 0 ? 1 : 2 + codeset; }

enum TModeKind : std::uint8_t {
  mkUndefined = 0,
  mkReference = 1,  // a named mode
  mkBit = 2,
  mkBool = 3,
  mkInt = 4,
  mkPtr = 6,
  mkRef = 7,
  mkSet = 8,
  mkRange = 9,
  mkStructure = 10,
  mkArray = 11,
  mkBin = 12,
  mkChar = 13,
  mkConstantRange = 14,  // RANGE over named constants
  mkExtentionBit = 15,
};

// True for the codes that have a kind (1-4, 6-15).
bool IsDefinedModeKind(std::uint8_t kind);
// True for the kinds whose reference is a .mod index (SET refers to .sem).
bool RefersToMode(std::uint8_t kind);
// The printed word of a kind: " = BIT", " = INT", ...; " = Boolean" for BOOL on
// a header line; "*** UNDEFINED = " + 2 hex digits for 0, 5 and 16-255; empty
// for kind 1, which prints the mode's name instead.
std::string ModeKindWord(std::uint8_t kind, bool headerLine = false);

// `ModeFlags` of a component.
enum TModeFlags : std::uint16_t {
  mfElse = 1,       // the ELSE variant of its CASE
  mfRevPack = 2,    // packed as "RevPack" rather than "Pack"
  mfOptPar = 4,     // optional parameter list
  mfVarPar = 8,     // variable parameter reached through an offset byte
  mfVarLength = 16, // the length is held in the selector component
};

// The flag word of a header (offset 91).
enum THeaderFlags : std::uint16_t {
  hfDim1Constants = 1,  // ARRAY index mode of dimension 1 is a chain in .syn (else a set)
  hfDim2Constants = 2,
  hfDim3Constants = 4,
  hfRangeConstants = 8,  // kind 1 with base RANGE: the range is over the chain at offset 59
  hfRevPack = 16,        // a packed mode uses "RevPack"
};

// Packing of a field: a pack flag of 1 gives Pack, or RevPack when the
// RevPack flag is set; 0 gives pmNone (for a component: inherit).
TPackMode PackModeOf(std::uint8_t packFlag, bool revPackFlag);

struct TArrayDimension {
  std::uint16_t Lower = 0;
  std::uint16_t Upper = 0;
  std::int32_t IndexMode = -1;  // -1 plain number; else a .sem offset or a .syn record index

  // upper - lower + 1, or 0 when upper < lower.
  std::uint32_t Count() const { return Upper < Lower ? 0 : std::uint32_t{Upper} - Lower + 1; }
};

// `ModeHeaderRecord`: the first record of a mode.
struct TModeHeaderRecord {
  std::uint16_t ModeNumber = 0;
  std::uint32_t Size = 0;         // bits
  std::string Name;               // short string[40]
  std::int32_t Reference = -1;    // kind 1: mode index; SET, RANGE over a set: .sem offset; ARRAY: element
  std::uint8_t Kind = 0;          // `ModeKind`
  std::uint8_t BaseKind = 0;      // kind of the referenced or base mode; ARRAY: element kind
  std::uint8_t ElementKind2 = 0;  // ARRAY: second element kind code
  std::uint8_t Pack = 0;          // 1 packed
  std::uint16_t Lower = 0;        // RANGE bounds
  std::uint16_t Upper = 0;
  std::int32_t ConstantChain = -1;  // kind 14 (or flag hfRangeConstants): first .syn record
  std::array<TArrayDimension, 3> Dimensions{};
  std::uint32_t ElementSize = 0;  // ARRAY: bits
  std::uint16_t Flags = 0;        // THeaderFlags
  std::array<std::uint8_t, 16> Spare{};  // offsets 93-108, not used

  TPackMode Packing() const { return PackModeOf(Pack, (Flags & hfRevPack) != 0); }
  // The product of the dimensions' counts (up to 65536^3).
  std::uint64_t ElementCount() const;
};

// `ModeComponentRecord`: one component of a STRUCTURE.
struct TModeComponentRecord {
  std::uint16_t ModeNumber = 0;
  std::array<std::uint8_t, 4> Unused{};  // offsets 2-5
  std::string Name;             // short string[40]
  std::uint32_t Size = 0;       // bits
  std::uint16_t ByteOffset = 0; // from the start of the structure
  std::uint8_t BitOffset = 0;   // 0-7 within that byte
  std::string ModeName;         // short string[40]
  std::int32_t ModeIndex = -1;  // kind 1, RANGE, ARRAY: .mod index; SET: .sem offset
  std::uint8_t Kind = 0;        // `ModeKind`
  std::uint8_t Pack = 0;        // 1 packed, 0 inherits
  std::int32_t Selector = -1;   // absolute .mod record of the CASE tag or the length component
  std::uint16_t Label = 0;      // CASE label; with VARLENGTH the signed adjustment
  std::uint16_t Flags = 0;      // TModeFlags

  bool IsElse() const { return (Flags & mfElse) != 0; }
  bool IsOptPar() const { return (Flags & mfOptPar) != 0; }
  bool IsVarPar() const { return (Flags & mfVarPar) != 0; }
  bool IsVarLength() const { return (Flags & mfVarLength) != 0; }
  // A variant of a CASE: a selector without the VARLENGTH flag.
  bool IsVariant() const { return Selector != -1 && !IsVarLength(); }
  std::int16_t Adjustment() const { return static_cast<std::int16_t>(Label); }
  // The own packing, or pmNone when the component inherits its structure's.
  TPackMode Packing() const { return PackModeOf(Pack, (Flags & mfRevPack) != 0); }
};

using TModeRecordBytes = std::array<std::uint8_t, kModeRecordSize>;

// One .mod record as read; decoded as a header or a component on demand.
struct TModeRecord {
  TModeRecordBytes Bytes{};

  std::uint16_t ModeNumber() const { return static_cast<std::uint16_t>(Bytes[0] | Bytes[1] << 8); }
  TModeHeaderRecord Header() const;
  TModeComponentRecord Component() const;
};

TModeRecordBytes EncodeModeHeader(const TModeHeaderRecord& header);
TModeRecordBytes EncodeModeComponent(const TModeComponentRecord& component);

// `MbidIndexEntry`.
struct TMbidIndexEntry {
  std::uint8_t Kind = 0;      // 0: Index is a .sem offset; otherwise a .mod index
  std::int32_t Index = -1;    // -1: no description (hex dump)

  bool IsSetOffset() const { return Kind == 0; }
};
TMbidIndexEntry DecodeMbidIndexEntry(const std::uint8_t* bytes);
std::array<std::uint8_t, kMbidIndexEntrySize> EncodeMbidIndexEntry(const TMbidIndexEntry& entry);

// `SetElementBlock`: element count N, table size S and the table of names.
struct TSetElement {
  std::string Name;      // bit 7 of the length byte cleared
  bool Flagged = false;  // bit 7 of the length byte was set
};

struct TSetElementBlock {
  static constexpr std::size_t kCountsSize = 4;

  std::uint16_t Count = 0;      // N
  std::uint16_t TableSize = 0;  // S as stored
  std::string Table;            // the table bytes that could be read (up to S)

  // Name of value v: v names are skipped (length byte + 1 bytes each). nullopt
  // when the table ends before the name is whole.
  std::optional<TSetElement> Element(std::uint32_t v) const;
  // Every name in value order until the table ends (a name cut off by the end
  // is left out).
  std::vector<TSetElement> Elements() const;
};
// N, S and the names (each at most 127 characters) as stored in .sem.
std::string EncodeSetElementBlock(const std::vector<TSetElement>& elements);

// `SynRecord`.
struct TSynRecord {
  std::string Name;      // chars[40], as stored (space padded)
  std::string ModeName;  // chars[40]
  std::uint8_t Unused = 0;
  std::uint16_t Value = 0;
  std::int32_t Next = -1;  // -1 ends the chain
};
TSynRecord DecodeSynRecord(const std::uint8_t* bytes);
std::array<std::uint8_t, kSynRecordSize> EncodeSynRecord(const TSynRecord& record);

// `ModeNameEntry`, `SynNameEntry` (key width 40) and `SetNameEntry` (48).
struct TNameEntry {
  std::string Key;  // key width bytes, space padded
  std::int32_t Index = -1;
};
std::string EncodeNameEntry(std::string_view name, std::int32_t index, std::size_t keyWidth);

// A name as a search key: cut to width characters, padded with spaces.
std::string NameKey(std::string_view name, std::size_t width);
// Without leading and trailing characters up to and including the space.
std::string TrimName(std::string_view text);

// Little-endian field access.
std::uint16_t ReadU16(const std::uint8_t* p);
std::uint32_t ReadU32(const std::uint8_t* p);
void WriteU16(std::uint8_t* p, std::uint16_t v);
void WriteU32(std::uint8_t* p, std::uint32_t v);
