#include "trace/modefile_records.h"

#include <algorithm>
#include <cstring>

#include "core/numbers.h"
#include "core/text.h"

std::uint16_t ReadU16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

std::uint32_t ReadU32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

void WriteU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

void WriteU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

namespace {
std::int32_t ReadI32(const std::uint8_t* p) { return static_cast<std::int32_t>(ReadU32(p)); }
void WriteI32(std::uint8_t* p, std::int32_t v) { WriteU32(p, static_cast<std::uint32_t>(v)); }

// short string[40]: a length byte and room for 40 characters. A length above
// 40 (only in a damaged file) is cut to the room there is.
std::string ReadShortString40(const std::uint8_t* p) {
  const std::size_t length = std::min<std::size_t>(p[0], kRecordNameLength);
  return std::string(reinterpret_cast<const char*>(p + 1), length);
}

void WriteShortString40(std::uint8_t* p, std::string_view text) {
  const std::size_t length = std::min(text.size(), kRecordNameLength);
  p[0] = static_cast<std::uint8_t>(length);
  std::memcpy(p + 1, text.data(), length);
}

std::string ReadChars(const std::uint8_t* p, std::size_t n) {
  return std::string(reinterpret_cast<const char*>(p), n);
}

void WriteChars(std::uint8_t* p, std::string_view text, std::size_t n) {
  const std::string key = NameKey(text, n);
  std::memcpy(p, key.data(), n);
}

// Header offsets.
constexpr std::size_t kName = 6;
constexpr std::size_t kReference = 47;
constexpr std::size_t kKind = 51;
constexpr std::size_t kBaseKind = 52;
constexpr std::size_t kElementKind2 = 53;
constexpr std::size_t kPack = 54;
constexpr std::size_t kLower = 55;
constexpr std::size_t kUpper = 57;
constexpr std::size_t kConstantChain = 59;
constexpr std::size_t kDimensions = 63;  // 8 bytes each
constexpr std::size_t kElementSize = 87;
constexpr std::size_t kHeaderFlags = 91;
constexpr std::size_t kSpare = 93;

// Component offsets.
constexpr std::size_t kComponentSize = 47;
constexpr std::size_t kByteOffset = 51;
constexpr std::size_t kBitOffset = 53;
constexpr std::size_t kModeName = 54;
constexpr std::size_t kModeIndex = 95;
constexpr std::size_t kComponentKind = 99;
constexpr std::size_t kComponentPack = 100;
constexpr std::size_t kSelector = 101;
constexpr std::size_t kLabel = 105;
constexpr std::size_t kComponentFlags = 107;
}  // namespace

bool IsDefinedModeKind(std::uint8_t kind) { return kind >= 1 && kind <= 15 && kind != 5; }

bool RefersToMode(std::uint8_t kind) {
  return kind == mkReference || kind == mkRange || kind == mkStructure || kind == mkArray ||
         kind == mkConstantRange;
}

std::string ModeKindWord(std::uint8_t kind, bool headerLine) {
  switch (kind) {
    case mkReference: return {};
    case mkBit: return " = BIT";
    case mkBool: return headerLine ? " = Boolean" : " = BOOL";
    case mkInt: return " = INT";
    case mkPtr: return " = PTR";
    case mkRef: return " = REF";
    case mkSet: return " = SET";
    case mkRange: return " = RANGE";
    case mkStructure: return " = STRUCTURE";
    case mkArray: return " = ARRAY";
    case mkBin: return " = BIN";
    case mkChar: return " = CHAR";
    case mkConstantRange: return " = RANGE";
    case mkExtentionBit: return " = EXTENTIONBIT";
    default: return "*** UNDEFINED = " + Hex(kind, 2);
  }
}

TPackMode PackModeOf(std::uint8_t packFlag, bool revPackFlag) {
  if (packFlag != 1) return pmNone;
  return revPackFlag ? pmRevPack : pmPack;
}

std::uint64_t TModeHeaderRecord::ElementCount() const {
  std::uint64_t count = 1;
  for (const TArrayDimension& d : Dimensions) count *= d.Count();
  return count;
}

TModeHeaderRecord TModeRecord::Header() const {
  const std::uint8_t* p = Bytes.data();
  TModeHeaderRecord h;
  h.ModeNumber = ReadU16(p);
  h.Size = ReadU32(p + 2);
  h.Name = ReadShortString40(p + kName);
  h.Reference = ReadI32(p + kReference);
  h.Kind = p[kKind];
  h.BaseKind = p[kBaseKind];
  h.ElementKind2 = p[kElementKind2];
  h.Pack = p[kPack];
  h.Lower = ReadU16(p + kLower);
  h.Upper = ReadU16(p + kUpper);
  h.ConstantChain = ReadI32(p + kConstantChain);
  for (std::size_t d = 0; d < 3; ++d) {
    const std::uint8_t* q = p + kDimensions + 8 * d;
    h.Dimensions[d] = {ReadU16(q), ReadU16(q + 2), ReadI32(q + 4)};
  }
  h.ElementSize = ReadU32(p + kElementSize);
  h.Flags = ReadU16(p + kHeaderFlags);
  std::copy_n(p + kSpare, h.Spare.size(), h.Spare.begin());
  return h;
}

TModeComponentRecord TModeRecord::Component() const {
  const std::uint8_t* p = Bytes.data();
  TModeComponentRecord c;
  c.ModeNumber = ReadU16(p);
  std::copy_n(p + 2, c.Unused.size(), c.Unused.begin());
  c.Name = ReadShortString40(p + kName);
  c.Size = ReadU32(p + kComponentSize);
  c.ByteOffset = ReadU16(p + kByteOffset);
  c.BitOffset = p[kBitOffset];
  c.ModeName = ReadShortString40(p + kModeName);
  c.ModeIndex = ReadI32(p + kModeIndex);
  c.Kind = p[kComponentKind];
  c.Pack = p[kComponentPack];
  c.Selector = ReadI32(p + kSelector);
  c.Label = ReadU16(p + kLabel);
  c.Flags = ReadU16(p + kComponentFlags);
  return c;
}

TModeRecordBytes EncodeModeHeader(const TModeHeaderRecord& h) {
  TModeRecordBytes b{};
  std::uint8_t* p = b.data();
  WriteU16(p, h.ModeNumber);
  WriteU32(p + 2, h.Size);
  WriteShortString40(p + kName, h.Name);
  WriteI32(p + kReference, h.Reference);
  p[kKind] = h.Kind;
  p[kBaseKind] = h.BaseKind;
  p[kElementKind2] = h.ElementKind2;
  p[kPack] = h.Pack;
  WriteU16(p + kLower, h.Lower);
  WriteU16(p + kUpper, h.Upper);
  WriteI32(p + kConstantChain, h.ConstantChain);
  for (std::size_t d = 0; d < 3; ++d) {
    std::uint8_t* q = p + kDimensions + 8 * d;
    WriteU16(q, h.Dimensions[d].Lower);
    WriteU16(q + 2, h.Dimensions[d].Upper);
    WriteI32(q + 4, h.Dimensions[d].IndexMode);
  }
  WriteU32(p + kElementSize, h.ElementSize);
  WriteU16(p + kHeaderFlags, h.Flags);
  std::copy(h.Spare.begin(), h.Spare.end(), p + kSpare);
  return b;
}

TModeRecordBytes EncodeModeComponent(const TModeComponentRecord& c) {
  TModeRecordBytes b{};
  std::uint8_t* p = b.data();
  WriteU16(p, c.ModeNumber);
  std::copy(c.Unused.begin(), c.Unused.end(), p + 2);
  WriteShortString40(p + kName, c.Name);
  WriteU32(p + kComponentSize, c.Size);
  WriteU16(p + kByteOffset, c.ByteOffset);
  p[kBitOffset] = c.BitOffset;
  WriteShortString40(p + kModeName, c.ModeName);
  WriteI32(p + kModeIndex, c.ModeIndex);
  p[kComponentKind] = c.Kind;
  p[kComponentPack] = c.Pack;
  WriteI32(p + kSelector, c.Selector);
  WriteU16(p + kLabel, c.Label);
  WriteU16(p + kComponentFlags, c.Flags);
  return b;
}

TMbidIndexEntry DecodeMbidIndexEntry(const std::uint8_t* bytes) {
  return {bytes[0], ReadI32(bytes + 1)};
}

std::array<std::uint8_t, kMbidIndexEntrySize> EncodeMbidIndexEntry(const TMbidIndexEntry& entry) {
  std::array<std::uint8_t, kMbidIndexEntrySize> b{};
  b[0] = entry.Kind;
  WriteI32(b.data() + 1, entry.Index);
  return b;
}

std::optional<TSetElement> TSetElementBlock::Element(std::uint32_t v) const {
  std::size_t pos = 0;
  for (std::uint32_t i = 0; i < v; ++i) {
    if (pos >= Table.size()) return std::nullopt;
    pos += (static_cast<std::uint8_t>(Table[pos]) & 0x7F) + 1u;
  }
  if (pos >= Table.size()) return std::nullopt;
  const std::uint8_t lengthByte = static_cast<std::uint8_t>(Table[pos]);
  const std::size_t length = lengthByte & 0x7F;
  if (pos + 1 + length > Table.size()) return std::nullopt;
  return TSetElement{Table.substr(pos + 1, length), (lengthByte & 0x80) != 0};
}

std::vector<TSetElement> TSetElementBlock::Elements() const {
  std::vector<TSetElement> names;
  std::size_t pos = 0;
  while (pos < Table.size()) {
    const std::uint8_t lengthByte = static_cast<std::uint8_t>(Table[pos]);
    const std::size_t length = lengthByte & 0x7F;
    if (pos + 1 + length > Table.size()) break;
    names.push_back({Table.substr(pos + 1, length), (lengthByte & 0x80) != 0});
    pos += length + 1;
  }
  return names;
}

std::string EncodeSetElementBlock(const std::vector<TSetElement>& elements) {
  std::string table;
  for (const TSetElement& e : elements) {
    const std::size_t length = std::min<std::size_t>(e.Name.size(), 127);
    table.push_back(static_cast<char>(length | (e.Flagged ? 0x80 : 0)));
    table.append(e.Name, 0, length);
  }
  std::string block(TSetElementBlock::kCountsSize, '\0');
  WriteU16(reinterpret_cast<std::uint8_t*>(block.data()), static_cast<std::uint16_t>(elements.size()));
  WriteU16(reinterpret_cast<std::uint8_t*>(block.data()) + 2, static_cast<std::uint16_t>(table.size()));
  return block + table;
}

TSynRecord DecodeSynRecord(const std::uint8_t* bytes) {
  TSynRecord r;
  r.Name = ReadChars(bytes, kRecordNameLength);
  r.ModeName = ReadChars(bytes + 40, kRecordNameLength);
  r.Unused = bytes[80];
  r.Value = ReadU16(bytes + 81);
  r.Next = ReadI32(bytes + 83);
  return r;
}

std::array<std::uint8_t, kSynRecordSize> EncodeSynRecord(const TSynRecord& r) {
  std::array<std::uint8_t, kSynRecordSize> b{};
  WriteChars(b.data(), r.Name, kRecordNameLength);
  WriteChars(b.data() + 40, r.ModeName, kRecordNameLength);
  b[80] = r.Unused;
  WriteU16(b.data() + 81, r.Value);
  WriteI32(b.data() + 83, r.Next);
  return b;
}

std::string EncodeNameEntry(std::string_view name, std::int32_t index, std::size_t keyWidth) {
  std::string entry = NameKey(name, keyWidth);
  entry.resize(keyWidth + 4);
  WriteI32(reinterpret_cast<std::uint8_t*>(entry.data()) + keyWidth, index);
  return entry;
}

std::string NameKey(std::string_view name, std::size_t width) {
  std::string key(name.substr(0, width));
  key.resize(width, ' ');
  return key;
}

std::string TrimName(std::string_view text) { return std::string(TrimBlanks(text)); }
