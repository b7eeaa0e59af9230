#include "trace/decode_mode.h"

#include <algorithm>

#include "app/session.h"
#include "core/numbers.h"
#include "screen/writer.h"
#include "trace/decoder.h"
#include "trace/tracefiles.h"

namespace {
constexpr std::uint32_t kBufferEnd = TMessageBuffer::kSize;
// Aliases (a mode that only names another) followed before giving up.
constexpr int kMaxAliasHops = 16;

std::string_view Spaces(std::size_t n) {
  static const std::string kSpaces(512, ' ');
  return std::string_view(kSpaces).substr(0, std::min(n, kSpaces.size()));
}

std::string_view IndentOf(int level) { return Spaces(static_cast<std::size_t>(2 * level + 2)); }

bool IsBlank(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c == ' '; });
}

// "  NAME = " -> "  NAME": the stem an array element's index follows.
std::string_view StemOf(std::string_view line) {
  if (line.size() >= 3 && line.substr(line.size() - 3) == " = ") line.remove_suffix(3);
  return line;
}

std::uint32_t ClampedSum(std::uint64_t a, std::uint64_t b) {
  const std::uint64_t sum = a + b;
  return sum > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(sum);
}
}  // namespace

TModeDecoder::TModeDecoder(TSession& session, TTraceDecoder& decoder) : S(session), D(decoder) {}

void TModeDecoder::BeginTopLevel() {
  Steps = 0;
  BudgetReported = false;
}

std::uint32_t TModeDecoder::Count() const { return D.MessageBuffer.Count; }
std::uint8_t TModeDecoder::At(std::uint32_t i) const { return D.MessageBuffer.At(i); }

std::uint32_t TModeDecoder::ItemLength(std::uint8_t lengthByte, std::uint32_t& data) const {
  if (lengthByte != 0xFF) return lengthByte;
  const std::uint32_t length = D.MessageBuffer.Word(data);
  data += 2;
  return length;
}

int TModeDecoder::ScreenWidth() const { return S.Settings.ScreenSize == 1 ? 132 : 80; }

std::string& TModeDecoder::AcquireLine() {
  if (LinesInUse == LinePool.size()) LinePool.emplace_back().reserve(160);
  std::string& line = LinePool[LinesInUse++];
  line.clear();
  return line;
}

void TModeDecoder::ReleaseLine() { --LinesInUse; }

void TModeDecoder::Write(std::string_view line, TCategory category) { S.Writer->WriteLine(line, category); }

void TModeDecoder::WriteIfNotBlank(std::string_view line) {
  if (!IsBlank(line)) Write(line);
}

bool TModeDecoder::Step() {
  if (++Steps <= kMaxSteps) return true;
  if (!BudgetReported) {
    BudgetReported = true;
    Write("*** decoding stopped after " + std::to_string(kMaxSteps) + " items", caError);
  }
  return false;
}

void TModeDecoder::Cover(const TField& f, std::uint32_t bits, std::uint32_t limit) {
  const std::uint64_t end = std::min(std::uint64_t{f.Byte} * 8 + f.Bit + bits, std::uint64_t{limit} * 8);
  ReachBits = std::max(ReachBits, end);
}

bool TModeDecoder::Stop() { return !Step() || D.YieldStop(); }

std::shared_ptr<const TCachedMode> TModeDecoder::ReadMode(std::int64_t index) {
  TReadStatus status;
  std::shared_ptr<const TCachedMode> mode = D.Cache.Mode(index, &status);
  // No report when the files were closed under a running decode.
  if (!mode && D.Cache.Files()) {
    S.Errors->ReportError(ekFileAccess, status.Code,
                          "Mode File. Mode index =" + Hex(static_cast<std::uint32_t>(index), 8));
  }
  return mode;
}

// --- DecodeMode ---

void TModeDecoder::DecodeMode(std::int64_t mode, std::uint32_t byteOffset, std::uint32_t bitOffset, int limitMode,
                              std::uint32_t sizeBits, TPackMode pack, int level, std::string_view prefix,
                              std::uint32_t byteLimit) {
  if (level > kMaxLevel) return;
  const std::uint32_t limit =
      limitMode == 0 ? std::min<std::uint32_t>(ClampedSum(byteOffset, byteLimit), Count()) : byteLimit;
  const std::shared_ptr<const TCachedMode> m = ReadMode(mode);
  if (!m) return;
  const TModeHeaderRecord& h = m->Header;
  const TPackMode own = h.Pack == 1 ? h.Packing() : pack;
  if (h.Kind == mkStructure) {
    DecodeStructure(*m, byteOffset, bitOffset, own, level, prefix, limit);
    return;
  }
  std::string& line = AcquireLine();
  if (prefix.empty()) {
    line += IndentOf(level);
    line += h.Name;
    line += " = ";
  } else {
    line += prefix;
  }
  TField f;
  f.Kind = h.Kind;
  f.Size = sizeBits != 0 ? sizeBits : h.Size;
  f.Ref = h.Kind == mkSet ? h.Reference : mode;
  f.Pack = own;
  f.Byte = byteOffset;
  f.Bit = bitOffset;
  DecodeValue(f, level, limit, line);
  ReleaseLine();
}

void TModeDecoder::DecodeStructure(const TCachedMode& mode, std::uint32_t base, std::uint32_t bit, TPackMode pack,
                                   int level, std::string_view prefix, std::uint32_t limit) {
  if (!prefix.empty()) {
    const std::size_t equals = prefix.find('=');
    const std::string_view head = equals == std::string_view::npos ? prefix : prefix.substr(0, equals + 1);
    WriteIfNotBlank(head);
  }
  std::vector<TCaseMatch> cases;
  for (const TModeComponentRecord& c : mode.Components) {
    if (Stop()) break;
    DecodeComponent(mode, c, base, bit, pack, level, limit, cases);
  }
}

void TModeDecoder::DecodeComponent(const TCachedMode& mode, const TModeComponentRecord& c, std::uint32_t base,
                                   std::uint32_t bit, TPackMode inherited, int level, std::uint32_t limit,
                                   std::vector<TCaseMatch>& cases) {
  const std::uint32_t start = ClampedSum(base, c.ByteOffset);
  if (start >= limit) return;
  const TPackMode pack = c.Pack == 1 ? c.Packing() : inherited;

  // The component the selector names: the CASE tag or the VARLENGTH length.
  auto selectorValue = [&](std::uint16_t& value) {
    std::optional<TModeComponentRecord> read;
    const TModeComponentRecord* tag = mode.ComponentAt(c.Selector);
    if (!tag) {
      read = D.Cache.ComponentRecord(c.Selector);
      if (!read) return false;
      tag = &*read;
    }
    const TPackMode tagPack = tag->Pack == 1 ? tag->Packing() : inherited;
    value = ExtractBits(D.MessageBuffer, ClampedSum(base, tag->ByteOffset), bit + tag->BitOffset, tag->Size, tagPack);
    return true;
  };

  if (c.IsVariant()) {
    auto it = std::find_if(cases.begin(), cases.end(), [&](const TCaseMatch& m) { return m.Selector == c.Selector; });
    if (it == cases.end()) {
      cases.push_back({c.Selector, false});
      it = cases.end() - 1;
    }
    if (c.IsElse()) {
      // Every field of the ELSE variant prints when no labelled variant did.
      if (it->Matched) return;
    } else {
      std::uint16_t tag = 0;
      if (!selectorValue(tag) || tag != c.Label) return;
      it->Matched = true;
    }
  }

  std::string& line = AcquireLine();
  line += IndentOf(level);
  line += c.Name;
  line += " = ";
  struct TRelease {
    TModeDecoder& M;
    ~TRelease() { M.ReleaseLine(); }
  } release{*this};

  TField f;
  f.Kind = c.Kind;
  f.Size = c.Size;
  f.Ref = c.ModeIndex;
  f.Pack = pack;

  // Without a selector there is no length to take: the flag alone is no VARLENGTH.
  if (c.IsVarLength() && c.Selector != -1) {
    std::uint16_t stored = 0;
    if (!selectorValue(stored)) return;
    const std::int64_t length = std::max<std::int64_t>(0, std::int64_t{stored} + c.Adjustment());
    f.Byte = start;
    f.Bit = 0;
    AdvanceBitPosition(bit + c.BitOffset, f.Byte, f.Bit);
    const std::uint32_t end = std::min<std::uint32_t>(ClampedSum(f.Byte, static_cast<std::uint64_t>(length)), limit);
    switch (c.Kind) {
      case mkArray:
        DecodeArray(f, length, level, limit, line);
        return;
      case mkBit:
      case mkBin:
        f.Size = static_cast<std::uint32_t>(std::min<std::int64_t>(length * 8, 0xFFFFFFF8));
        DecodeValue(f, level, end, line);
        return;
      default:
        if (RefersToMode(c.Kind)) {
          DecodeMode(c.ModeIndex, f.Byte, f.Bit, 1, c.Size, pack, level + 1, line, end);
          return;
        }
        break;  // an elementary value: its own size
    }
    DecodeValue(f, level, limit, line);
    return;
  }

  if (c.IsVarPar() || c.IsOptPar()) {
    const std::uint32_t q = start;
    const std::uint32_t at = ClampedSum(q, At(q));
    if (c.IsVarPar()) {
      const std::uint8_t length = At(at);
      f.Byte = ClampedSum(at, 1);
      f.Bit = 0;
      if (RefersToMode(c.Kind)) {
        DecodeMode(c.ModeIndex, f.Byte, 0, 0, std::uint32_t{length} * 8, pack, level + 1, line, length);
      } else {
        DecodeValue(f, level, std::min<std::uint32_t>(ClampedSum(f.Byte, length), limit), line);
      }
      return;
    }
    // OPTPAR: items of a tag byte and a length byte, up to a 0 tag.
    for (std::uint32_t item = at; item < limit && item < kBufferEnd && At(item) != 0;) {
      if (Stop()) break;
      const std::uint32_t length = At(item + 1);
      if (RefersToMode(c.Kind)) {
        DecodeMode(c.ModeIndex, item, 0, 0, (length + 2) * 8, pack, level + 1, line, length + 2);
      } else {
        f.Byte = item;
        f.Bit = 0;
        std::string& itemLine = AcquireLine();
        itemLine = line;
        DecodeValue(f, level, limit, itemLine);
        ReleaseLine();
      }
      item += length + 2;
    }
    return;
  }

  f.Byte = start;
  f.Bit = 0;
  AdvanceBitPosition(bit + c.BitOffset, f.Byte, f.Bit);
  DecodeValue(f, level, limit, line);
}

void TModeDecoder::DecodeComponentAt(const TModeComponentRecord& c, std::uint32_t byteOffset,
                                     std::uint32_t bitOffset, TPackMode pack, int level, std::uint32_t byteLimit) {
  if (level > kMaxLevel) return;
  std::string& line = AcquireLine();
  line += IndentOf(level);
  line += c.Name;
  line += " = ";
  TField f;
  f.Kind = c.Kind;
  f.Size = c.Size;
  f.Ref = c.ModeIndex;
  f.Pack = c.Pack == 1 ? c.Packing() : pack;
  f.Byte = byteOffset;
  f.Bit = bitOffset;
  DecodeValue(f, level, byteLimit, line);
  ReleaseLine();
}

// --- Values ---

void TModeDecoder::DecodeValue(const TField& f, int level, std::uint32_t limit, std::string& line) {
  const TMessageBuffer& buffer = D.MessageBuffer;
  switch (f.Kind) {
    case mkReference:
      ReferenceValue(f, level, limit, line);
      return;
    case mkStructure:
      DecodeMode(f.Ref, f.Byte, f.Bit, 1, f.Size, f.Pack, level + 1, line, limit);
      return;
    case mkArray:
      DecodeArray(f, -1, level, limit, line);
      return;
    case mkBit:
    case mkRange:
    case mkBin:
      Cover(f, f.Size, limit);
      HexValue(f, limit, line);
      break;
    case mkBool:
      Cover(f, 1, limit);
      line += ExtractBits(buffer, f.Byte, f.Bit, 1, f.Pack) ? "True" : "False";
      break;
    case mkInt:
      Cover(f, 16, limit);
      AppendHex(line, ExtractBits(buffer, f.Byte, f.Bit, 16, f.Pack), 4);
      break;
    case mkPtr:
    case mkRef:
      Cover(f, 32, limit);
      AppendHex(line, ExtractBits(buffer, f.Byte, f.Bit, 16, f.Pack), 4);
      line += ':';
      AppendHex(line, ExtractBits(buffer, ClampedSum(f.Byte, 2), f.Bit, 16, f.Pack), 4);
      break;
    case mkSet:
      Cover(f, f.Size, limit);
      line += D.Cache.SetElementText(f.Ref, 0xFFFF, buffer, f.Byte, f.Bit, f.Pack, S.Settings.ConvertSetElements != 0);
      break;
    case mkChar: {
      Cover(f, std::min<std::uint32_t>(f.Size, 8), limit);
      // A control code would break the line (and the log) apart.
      const auto c = static_cast<std::uint8_t>(ExtractBits(buffer, f.Byte, f.Bit, std::min<std::uint32_t>(f.Size, 8), f.Pack));
      line += (c < 32 || c == 127) ? '.' : static_cast<char>(c);
      break;
    }
    case mkConstantRange: {
      const std::shared_ptr<const TCachedMode> range = ReadMode(f.Ref);
      if (!range) return;
      Cover(f, f.Size, limit);
      if (f.Size == 0) line += D.Cache.SynValueText(range->Header.ConstantChain, 0, 0, 0, f.Pack, buffer);
      else line += D.Cache.SynValueText(range->Header.ConstantChain, f.Byte, f.Bit, f.Size, f.Pack, buffer);
      break;
    }
    case mkExtentionBit:
      Cover(f, 1, limit);
      AppendHex(line, ExtractBits(buffer, f.Byte, f.Bit, 1, f.Pack), 1);
      break;
    default:
      line += "*** UNDEFINED = ";
      AppendHex(line, f.Kind, 2);
      break;
  }
  WriteIfNotBlank(line);
}

void TModeDecoder::ReferenceValue(const TField& f, int level, std::uint32_t limit, std::string& line) {
  std::int64_t target = f.Ref;
  for (int hop = 0; hop < kMaxAliasHops; ++hop) {
    const std::shared_ptr<const TCachedMode> m = ReadMode(target);
    if (!m) return;
    const TModeHeaderRecord& h = m->Header;
    const bool names = h.Kind == mkReference || h.Kind == mkRange;
    if (names && h.BaseKind == mkSet) {
      Cover(f, f.Size, limit);
      line += D.Cache.SetElementText(h.Reference, 0xFFFF, D.MessageBuffer, f.Byte, f.Bit, f.Pack,
                                     S.Settings.ConvertSetElements != 0);
      WriteIfNotBlank(line);
      return;
    }
    if (h.Kind == mkReference && h.BaseKind == mkRange && (h.Flags & hfRangeConstants)) {
      Cover(f, f.Size, limit);
      line += D.Cache.SynValueText(h.ConstantChain, f.Byte, f.Bit, f.Size, f.Pack, D.MessageBuffer);
      WriteIfNotBlank(line);
      return;
    }
    if (h.Kind != mkReference) {
      DecodeMode(target, f.Byte, f.Bit, 1, f.Size, f.Pack, level + 1, line, limit);
      return;
    }
    // A mode that only names another: decode that one, at the same depth.
    target = h.Reference;
  }
}

void TModeDecoder::HexValue(const TField& f, std::uint32_t limit, std::string& line) {
  const TMessageBuffer& buffer = D.MessageBuffer;
  if (f.Size <= 4) {
    AppendHex(line, ExtractBits(buffer, f.Byte, f.Bit, f.Size, f.Pack), 1);
    return;
  }
  if (f.Size <= 8) {
    AppendHex(line, ExtractBits(buffer, f.Byte, f.Bit, f.Size, f.Pack), 2);
    return;
  }
  if (f.Size <= 16 && f.Pack != pmPack) {
    AppendHex(line, ExtractBits(buffer, f.Byte, f.Bit, f.Size, f.Pack), 4);
    return;
  }
  // Longer fields: the bytes, as far as the message reaches.
  const std::uint32_t end = std::min({limit, kBufferEnd, ClampedSum(f.Byte, (std::uint64_t{f.Size} + 7) / 8)});
  AppendByteGroups(f.Byte, end > f.Byte ? end - f.Byte : 0, line);
}

void TModeDecoder::AppendByteGroups(std::uint32_t from, std::uint32_t count, std::string& line) {
  const std::size_t column = line.size();
  char group[2];
  static const char kDigits[] = "0123456789ABCDEF";
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint8_t b = At(from + i);
    group[0] = kDigits[b >> 4];
    group[1] = kDigits[b & 15];
    AppendWrapped(std::string_view(group, 2), column, line);
  }
}

void TModeDecoder::WriteByteLine(std::string_view prefix, std::uint32_t from, std::uint32_t count) {
  std::string& line = AcquireLine();
  line += prefix;
  AppendByteGroups(from, count, line);
  Write(line);
  ReleaseLine();
}

void TModeDecoder::AppendWrapped(std::string_view piece, std::size_t valueColumn, std::string& line) {
  if (line.size() <= valueColumn) {
    line += piece;
    return;
  }
  if (line.size() + 1 + piece.size() > static_cast<std::size_t>(ScreenWidth())) {
    Write(line);
    line.assign(valueColumn, ' ');
    line += piece;
    return;
  }
  line += ' ';
  line += piece;
}

// --- Arrays ---

std::string TModeDecoder::IndexText(const TModeHeaderRecord& array, int dimension, std::uint16_t index) {
  const TArrayDimension& d = array.Dimensions[static_cast<std::size_t>(dimension)];
  if (d.IndexMode == -1) return Dec(index, 5);
  if (array.Flags & (hfDim1Constants << dimension))
    return D.Cache.SynValueText(d.IndexMode, index, 0, 0, pmNone, D.MessageBuffer);
  // 0xFFFF would make the set text read a value from the message.
  if (index == 0xFFFF) return "FFFF";
  return D.Cache.SetElementText(d.IndexMode, index, D.MessageBuffer, 0, 0, pmNone, S.Settings.ConvertSetElements != 0);
}

void TModeDecoder::DecodeArray(const TField& f, std::int64_t elementCount, int level, std::uint32_t limit,
                               std::string& line) {
  const std::shared_ptr<const TCachedMode> m = ReadMode(f.Ref);
  if (!m) return;
  const TModeHeaderRecord& h = m->Header;
  const std::uint32_t n2 = h.Dimensions[1].Count(), n3 = h.Dimensions[2].Count();
  std::uint64_t count = elementCount >= 0 ? static_cast<std::uint64_t>(elementCount) : h.ElementCount();
  if (n2 == 0 || n3 == 0 || h.Dimensions[0].Count() == 0) count = 0;

  TField element;
  element.Kind = h.BaseKind;
  element.Size = h.ElementSize;
  element.Ref = h.Reference;
  element.Pack = h.Pack == 1 ? h.Packing() : f.Pack;
  const std::uint64_t stride = h.Pack == 1 ? h.ElementSize : UnpackedStride(h.ElementSize);
  const std::uint64_t first = std::uint64_t{f.Byte} * 8 + f.Bit;

  auto kindIs = [&](std::uint8_t kind) { return h.BaseKind == kind || h.ElementKind2 == kind; };
  const bool compact = S.Settings.ShortValueLines == 0 &&
                       (kindIs(mkBit) || kindIs(mkBool) || kindIs(mkInt) || kindIs(mkRange));
  const std::string_view stem = StemOf(line);
  const std::size_t valueColumn = line.size();

  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint64_t bitPosition = first + i * stride;
    // Elements past the message are not printed (and a hostile count ends here).
    if (bitPosition / 8 >= std::min(limit, kBufferEnd)) break;
    if (Stop()) break;
    element.Byte = static_cast<std::uint32_t>(bitPosition / 8);
    element.Bit = static_cast<std::uint32_t>(bitPosition % 8);
    if (compact) {
      Cover(element, kindIs(mkBool) ? 1 : kindIs(mkInt) ? 16 : element.Size, limit);
      std::string& value = AcquireLine();
      if (kindIs(mkBool)) {
        value.assign(1, ExtractBits(D.MessageBuffer, element.Byte, element.Bit, 1, element.Pack) ? 'T' : 'F');
      } else if (kindIs(mkInt)) {
        AppendHex(value, ExtractBits(D.MessageBuffer, element.Byte, element.Bit, 16, element.Pack), 4);
      } else {
        HexValue(element, limit, value);
      }
      AppendWrapped(value, valueColumn, line);
      ReleaseLine();
      continue;
    }
    const std::uint16_t i3 = static_cast<std::uint16_t>(h.Dimensions[2].Lower + i % n3);
    const std::uint16_t i2 = static_cast<std::uint16_t>(h.Dimensions[1].Lower + (i / n3) % n2);
    const std::uint16_t i1 = static_cast<std::uint16_t>(h.Dimensions[0].Lower + i / (std::uint64_t{n2} * n3));
    std::string& elementLine = AcquireLine();
    elementLine += stem;
    elementLine += '(';
    elementLine += IndexText(h, 0, i1);
    if (h.Dimensions[1].Lower != h.Dimensions[1].Upper) {
      elementLine += ',';
      elementLine += IndexText(h, 1, i2);
    }
    if (h.Dimensions[2].Lower != h.Dimensions[2].Upper) {
      elementLine += ',';
      elementLine += IndexText(h, 2, i3);
    }
    elementLine += ") = ";
    DecodeValue(element, level, limit, elementLine);
    ReleaseLine();
  }
  if (compact) WriteIfNotBlank(line);
}

// --- MBID lists ---

void TModeDecoder::DecodeMbidList(std::uint32_t start, std::uint32_t end, int level) {
  end = std::min(end, Count());
  for (std::uint32_t i = start; i < end;) {
    if (Stop()) break;
    const std::uint8_t t = At(i);
    if (t == 0x00) {
      level = std::max(level - 1, 0);
      std::string& line = AcquireLine();
      line += Spaces(static_cast<std::size_t>(4 * std::min(level, kMaxMbidIndent)));
      line += "MBID_END";
      Write(line, caMbid);
      ReleaseLine();
      i += 1;
    } else if (t < 0x80) {
      std::uint32_t data = i + 2;
      const std::uint32_t length = ItemLength(At(i + 1), data);
      MbidLine(t, length, data, level);
      i = data + length;
    } else if (t < 0xE0) {
      MbidLine(t, 0, i, level);
      ++level;
      i += 1;
    } else if (t < 0xFF) {
      MbidLine(t, 0, i, level);
      i += 1;
    } else {
      std::uint32_t data = i + 4;
      const std::uint32_t length = ItemLength(At(i + 1), data);
      MbidLine(D.MessageBuffer.Word(i + 2), length, data, level);
      i = data + length;
    }
  }
}

void TModeDecoder::MbidFrames() {
  const std::uint32_t count = Count();
  for (std::uint32_t i = 0; i + 1 < count && At(i) == 0x80 && At(i + 1) == 0xFF;) {
    if (Stop()) break;
    // Each frame carries its own length.
    const std::uint32_t length = D.MessageBuffer.Word(i + 2);
    MbidLine(0x80, 0, i, 0);
    DecodeMbidList(i + 4, std::min(i + 4 + length, count), 1);
    Write("END_MBID", caMbid);
    i += length + 4;
  }
}

void TModeDecoder::WriteVmiLine(int index, int level) {
  std::string line(static_cast<std::size_t>(4 * std::max(level, 0) + 1), ' ');
  line += "VMI_";
  AppendDec(line, index, 5);
  line += '_';
  char record[25];
  if (S.Kasp->ReadVmiRecord(index, record)) line.append(record, sizeof record);
  Write(line, caVMI);
}

void TModeDecoder::MbidLine(std::uint32_t mbid, std::uint32_t length, std::uint32_t offset, int level) {
  const int indent = std::min(std::max(level, 0), kMaxMbidIndent);
  {
    std::string& line = AcquireLine();
    line += Spaces(static_cast<std::size_t>(4 * indent));
    line += "MBID_";
    AppendHex(line, mbid, 4);
    line += '_';
    if (const std::optional<std::string> name = S.Kasp->MbidName(mbid)) line += *name;
    Write(line, caMbid);
    ReleaseLine();
  }
  if (mbid == 114) {
    const bool m3 = S.Settings.QuorixType == 2;
    const int vmi = m3 ? D.MessageBuffer.Word(offset) : At(offset);
    WriteVmiLine(vmi, indent);
    return;
  }
  if (length == 0) return;
  const std::uint32_t end = std::min({ClampedSum(offset, length), Count(), kBufferEnd});
  const int dataLevel = 2 * indent;
  if (D.TraceState != TTraceDecoder::tsConverting || !D.Cache.Files()) {
    D.HexDump(offset, end, dataLevel);
    return;
  }
  const TMbidIndexRead entry = D.Cache.MbidIndexEntry(mbid);
  if (entry.Status == TIndexStatus::Failed) return;
  // Beyond the printed depth the data is shown as bytes rather than dropped.
  if (entry.Status == TIndexStatus::Absent || entry.Entry.Index == kIndexHexDump ||
      (!entry.Entry.IsSetOffset() && dataLevel > kMaxLevel)) {
    D.HexDump(offset, end, dataLevel);
    return;
  }
  if (!entry.Entry.IsSetOffset()) {
    DecodeMode(entry.Entry.Index, offset, 0, 0, length * 8, pmNone, dataLevel, "", length);
    return;
  }
  std::string& line = AcquireLine();
  line += IndentOf(dataLevel);
  line += " DATA = ";
  line += D.Cache.SetElementText(entry.Entry.Index, 0xFFFF, D.MessageBuffer, offset, 0, pmNone,
                                 S.Settings.ConvertSetElements != 0);
  Write(line);
  ReleaseLine();
}
