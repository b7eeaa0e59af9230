#include "trace/listing.h"

#include <algorithm>

#include "core/numbers.h"

namespace {
std::string PackingText(TPackMode mode) {
  switch (mode) {
    case pmPack: return "Pack";
    case pmRevPack: return "RevPack";
    default: return {};
  }
}

// Adds a bit offset above 7 to the byte offset, so positions read "0003@1"
// rather than "0002@9" however deep the bases add up.
void Normalise(std::uint64_t& byteOffset, std::uint64_t& bitOffset) {
  byteOffset += bitOffset / 8;
  bitOffset %= 8;
}

std::string VarLengthText(const std::string& lengthName, std::int16_t adjustment) {
  std::string text = "VARLENGTH ( " + lengthName;
  if (adjustment > 0) text += " + " + Dec(adjustment, 5);
  if (adjustment < 0) text += " - " + Dec(-static_cast<int>(adjustment), 5);
  return text + " )";
}

// Indentation of a nesting level: two spaces per level, plus two.
std::string ListingIndentation(int level) { return std::string(static_cast<std::size_t>(2 * level + 2), ' '); }
}  // namespace

bool TModeLister::Write(const std::string& line) {
  if (Broken || Truncated) return false;
  if (Lines >= MaxLines) {
    Out.Line(kTruncatedLine);
    Truncated = true;
    return false;
  }
  Out.Line(line);
  ++Lines;
  return true;
}

bool TModeLister::Stopped() {
  if (Broken || Truncated) return true;
  // Items that print nothing (levels past the limit) still count, so a huge
  // array of them ends as surely as one that prints.
  if (++Items > MaxItems) {
    Out.Line(kTruncatedLine);
    Truncated = true;
    return true;
  }
  if (Out.Stop()) Broken = true;
  return Broken;
}

bool TModeLister::ListName(std::string_view name) {
  const TModeLookup mode = Files.LookupModeByName(name);
  if (mode.Found) {
    const TModeHeaderRecord header = mode.Header.Header();
    ListMode(mode.Index, 0, 0, 0, std::string(name), header.Packing(), header.Size);
    return true;
  }
  const TSetLookup set = Files.LookupSetByName(name);
  if (set.Found) {
    Write(std::string(name) + " = SET ");
    ListSetElements(set.Offset, "");
    return true;
  }
  const TSynLookup syn = Files.LookupSynByName(name);
  if (syn.Found) {
    Write(std::string(name) + " = " + TrimName(syn.ModeName) + " (" + Dec(syn.Value, 5) + ")");
    return true;
  }
  return false;
}

void TModeLister::ReportModeIndex(std::int64_t mode) {
  Out.Message("Unable to read in the mode file. Mode index =" + Hex(static_cast<std::uint32_t>(mode), 8));
}

void TModeLister::ListMode(std::int64_t mode, std::uint32_t byteBase, std::uint32_t bitBase, int level,
                           const std::string& first, TPackMode pack, std::uint32_t size) {
  if (level > kMaxLevel || Stopped()) return;
  const std::string indentation = ListingIndentation(level);
  const TModeRun run = Files.ReadModeRun(mode);
  if (!run.ok()) {
    ReportModeIndex(mode);
    return;
  }
  const TModeHeaderRecord h = run.Header.Header();
  const std::string packed = h.Pack == 1 ? " PACK" : "";
  const TPackMode inner = h.Pack == 1 ? h.Packing() : pack;
  switch (h.Kind) {
    case mkReference: {
      if (h.BaseKind == mkSet) {
        Write(first + packed);
        Write(indentation + "  " + h.Name + "    SET");
        ListSetElements(h.Reference, indentation + "  ");
        return;
      }
      TModeRecord target;
      const std::string name = Files.ReadModeRecord(h.Reference, target).ok() ? target.Header().Name : h.Name;
      ListMode(h.Reference, byteBase, bitBase, level + 1, first + "    " + name, inner, size);
      return;
    }
    case mkBit: Write(first + " = BIT(" + Dec(size, 10) + ")" + packed); return;
    case mkBool: Write(first + " = Boolean" + packed); return;
    case mkInt: Write(first + " = INT" + packed); return;
    case mkPtr: Write(first + " = PTR" + packed); return;
    case mkRef: Write(first + " = REF" + packed); return;
    case mkSet:
      // The first line carries the name of whoever uses the set: keep it.
      Write(first + " = SET" + packed);
      ListSetElements(h.Reference, indentation);
      return;
    case mkRange: {
      const bool named = h.BaseKind == mkSet;
      const std::string lower = named ? SetName(h.Reference, h.Lower) : Hex(h.Lower, 4);
      const std::string upper = named ? SetName(h.Reference, h.Upper) : Hex(h.Upper, 4);
      Write(first + " = RANGE (" + lower + ":" + upper + ")" + packed);
      return;
    }
    case mkStructure:
      Write(first + packed);
      ListStructure(run, mode, byteBase, bitBase, level, inner);
      return;
    case mkArray:
      Write(first + " = ARRAY" + packed);
      ListArray(h, byteBase, bitBase, level, inner);
      return;
    case mkBin: Write(first + " = BIN(" + Dec(size, 10) + ")" + packed); return;
    case mkChar: Write(first + " = CHAR" + packed); return;
    case mkConstantRange:
      Write(first + " = RANGE (" + ConstantText(h.ConstantChain, h.Lower) + ":" +
            ConstantText(h.ConstantChain, h.Upper) + ")" + packed);
      ListConstants(h.ConstantChain, indentation);
      return;
    default:
      // EXTENTIONBIT is a component kind; as a header it lists as undefined.
      Write(first + "  *** UNDEFINED = " + Hex(h.Kind, 2) + packed);
      return;
  }
}

void TModeLister::ListStructure(const TModeRun& run, std::int64_t mode, std::uint32_t byteBase,
                                std::uint32_t bitBase, int level, TPackMode pack) {
  const std::string indentation = ListingIndentation(level);
  std::int32_t caseSelector = -1;  // the tag record of the CASE being listed
  bool labelShown = false;
  bool lastElse = false;
  std::uint16_t lastLabel = 0;
  if (ProgressLevel < 0) ProgressLevel = level;
  const std::uint64_t total = run.Components.size();
  std::uint64_t done = 0;
  for (const TModeRecord& record : run.Components) {
    if (level == ProgressLevel) Out.Progress(done++, total);
    if (Stopped()) return;
    const TModeComponentRecord c = record.Component();
    if (c.IsVariant()) {
      if (c.Selector != caseSelector) {
        // A CASE right after another one starts at the same depth.
        caseSelector = c.Selector;
        labelShown = false;
      }
      if (!labelShown || lastElse != c.IsElse() || lastLabel != c.Label) {
        TModeRecord tagRecord;
        std::string tagName;
        std::int64_t tagSet = -1;
        if (Files.ReadModeRecord(c.Selector, tagRecord).ok()) {
          const TModeComponentRecord tag = tagRecord.Component();
          tagName = tag.Name;
          tagSet = TagSetOffset(tag);
        } else {
          Out.Message("Unable to read in the mode file. File Index =" +
                      Hex(static_cast<std::uint32_t>(c.Selector), 8));
        }
        const std::string label =
            c.IsElse() ? "ELSE)" : (tagSet >= 0 ? SetName(tagSet, c.Label) : Dec(c.Label, 5)) + ")";
        if (!Write(indentation + "CASE " + tagName + " OF (" + label)) return;
        labelShown = true;
        lastElse = c.IsElse();
        lastLabel = c.Label;
      }
    } else {
      caseSelector = -1;
    }
    const bool inCase = caseSelector != -1;
    TItem item;
    item.Name = c.Name;
    item.Kind = c.Kind;
    item.ModeIndex = c.ModeIndex;
    item.ModeName = c.ModeName;
    item.Size = c.Size;
    item.OwnPacking = c.Packing();
    item.Flags = c.Flags;
    if (c.IsVarLength()) {
      TModeRecord lengthRecord;
      const std::string lengthName =
          Files.ReadModeRecord(c.Selector, lengthRecord).ok() ? lengthRecord.Component().Name : std::string();
      item.VarLengthText = VarLengthText(lengthName, c.Adjustment());
    }
    const TPackMode itemPack = item.OwnPacking != pmNone ? item.OwnPacking : pack;
    ListItem(item, std::uint64_t{byteBase} + c.ByteOffset, std::uint64_t{bitBase} + c.BitOffset, level,
             inCase ? indentation + "  " : indentation, itemPack);
  }
  if (run.End.Kind == TReadStatus::Failed && !Broken && !Truncated) {
    const std::uint64_t failed = static_cast<std::uint64_t>(mode) + 1 + run.Components.size();
    Out.Message("Unable to read in the mode file. File Index =" + Hex(static_cast<std::uint32_t>(failed), 8));
  }
}

void TModeLister::ListArray(const TModeHeaderRecord& array, std::uint32_t byteBase, std::uint32_t bitBase,
                            int level, TPackMode pack) {
  const std::uint64_t count = array.ElementCount();
  if (count == 0) return;
  const bool packed = array.Pack == 1 || pack != pmNone;
  const std::uint64_t step = packed ? array.ElementSize : UnpackedStride(array.ElementSize);
  const std::string indentation = ListingIndentation(level);

  TItem item;
  item.Kind = array.BaseKind;
  item.ModeIndex = array.Reference;
  item.Size = array.ElementSize;
  if (item.Kind == mkReference) {
    TModeRecord element;
    if (Files.ReadModeRecord(array.Reference, element).ok()) item.ModeName = element.Header().Name;
  }
  const auto& d = array.Dimensions;
  const bool showSecond = d[1].Lower != d[1].Upper;
  const bool showThird = d[2].Lower != d[2].Upper;
  std::uint32_t i1 = d[0].Lower, i2 = d[1].Lower, i3 = d[2].Lower;
  std::uint64_t bits = std::uint64_t{byteBase} * 8 + bitBase;
  if (ProgressLevel < 0) ProgressLevel = level;
  for (std::uint64_t n = 0; n < count; ++n, bits += step) {
    if (level == ProgressLevel) Out.Progress(n, count);
    if (Stopped()) return;
    item.Name.assign(1, '(');
    item.Name += IndexText(array, 0, static_cast<std::uint16_t>(i1));
    if (showSecond) {
      item.Name += ',';
      item.Name += IndexText(array, 1, static_cast<std::uint16_t>(i2));
    }
    if (showThird) {
      item.Name += ',';
      item.Name += IndexText(array, 2, static_cast<std::uint16_t>(i3));
    }
    item.Name += ')';
    ListItem(item, bits / 8, bits % 8, level, indentation, pack != pmNone ? pack : array.Packing());
    // The last dimension varies fastest.
    if (i3 < d[2].Upper) {
      ++i3;
    } else {
      i3 = d[2].Lower;
      if (i2 < d[1].Upper) {
        ++i2;
      } else {
        i2 = d[1].Lower;
        ++i1;
      }
    }
  }
}

std::string TModeLister::ItemLine(const TItem& item, std::uint64_t byteOffset, std::uint64_t bitOffset,
                                  const std::string& indentation) const {
  std::string kind;
  switch (item.Kind) {
    case mkReference: kind = item.ModeName; break;
    case mkSet: kind = item.ModeName + " = SET"; break;
    default: kind = ModeKindWord(item.Kind); break;
  }
  std::string line = indentation + Hex(static_cast<std::uint32_t>(byteOffset), 4) + "@" +
                     Hex(static_cast<std::uint32_t>(bitOffset), 1) + " " + Dec(item.Size % 1000000, 6) + " " +
                     item.Name + "    " + kind + " " + PackingText(item.OwnPacking);
  if (item.Flags & mfVarPar) line += " VARPAR ";
  if (item.Flags & mfOptPar) line += " OPTPAR ";
  return line + item.VarLengthText;
}

void TModeLister::ListItem(const TItem& item, std::uint64_t byteOffset, std::uint64_t bitOffset, int level,
                           const std::string& indentation, TPackMode pack) {
  Normalise(byteOffset, bitOffset);
  std::string line = ItemLine(item, byteOffset, bitOffset, indentation);
  const auto byte32 = static_cast<std::uint32_t>(std::min<std::uint64_t>(byteOffset, 0xFFFFFFFF));
  const auto bit32 = static_cast<std::uint32_t>(bitOffset);
  switch (item.Kind) {
    case mkReference: ListMode(item.ModeIndex, byte32, bit32, level + 1, line, pack, item.Size); return;
    case mkSet:
      if (Write(line)) ListSetElements(item.ModeIndex, indentation);
      return;
    case mkRange:
    case mkConstantRange: {
      const bool constants = item.Kind == mkConstantRange;
      std::string range;
      TModeHeaderRecord header;
      if (RangeText(item.ModeIndex, constants, range, header)) line += range;
      if (Write(line) && constants && !range.empty()) ListConstants(header.ConstantChain, indentation + "  ");
      return;
    }
    case mkArray: {
      if (!Write(line)) return;
      TModeRecord record;
      if (!Files.ReadModeRecord(item.ModeIndex, record).ok()) {
        ReportModeIndex(item.ModeIndex);
        return;
      }
      if (level + 1 <= kMaxLevel) ListArray(record.Header(), byte32, bit32, level + 1, pack);
      return;
    }
    default: Write(line); return;
  }
}

bool TModeLister::RangeText(std::int64_t mode, bool constants, std::string& text, TModeHeaderRecord& header) {
  TModeRecord record;
  if (!Files.ReadModeRecord(mode, record).ok()) {
    ReportModeIndex(mode);
    return false;
  }
  header = record.Header();
  std::string lower, upper;
  if (constants) {
    lower = ConstantText(header.ConstantChain, header.Lower);
    upper = ConstantText(header.ConstantChain, header.Upper);
  } else if (header.BaseKind == mkSet) {
    lower = SetName(header.Reference, header.Lower);
    upper = SetName(header.Reference, header.Upper);
  } else {
    lower = Dec(header.Lower, 5);
    upper = Dec(header.Upper, 5);
  }
  text = " = RANGE (" + lower + ":" + upper + ")";
  return true;
}

std::string TModeLister::SetName(std::int64_t offset, std::uint16_t value) const {
  // 0xFFFF asks the reader to take the value from the buffer; as a bound it is
  // just above every element.
  if (value == 0xFFFF) return "FFFF";
  return Files.SetElementText(offset, value, NoBuffer, 0, 0, pmNone, ConvertSetElements);
}

std::string TModeLister::ConstantText(std::int64_t chain, std::uint16_t value) const {
  return Files.SynValueText(chain, value, 0, 0, pmNone, NoBuffer);
}

std::string TModeLister::IndexText(const TModeHeaderRecord& array, int dimension, std::uint16_t index) const {
  const TArrayDimension& d = array.Dimensions[static_cast<std::size_t>(dimension)];
  if (d.IndexMode == -1) return Dec(index, 5);
  if (array.Flags & (hfDim1Constants << dimension)) return ConstantText(d.IndexMode, index);
  return SetName(d.IndexMode, index);
}

std::int64_t TModeLister::TagSetOffset(const TModeComponentRecord& tag) const {
  if (tag.Kind == mkSet) return tag.ModeIndex;
  if (tag.Kind != mkReference) return -1;
  TModeRecord record;
  if (!Files.ReadModeRecord(tag.ModeIndex, record).ok()) return -1;
  const TModeHeaderRecord h = record.Header();
  if (h.Kind == mkSet || (h.Kind == mkReference && h.BaseKind == mkSet)) return h.Reference;
  return -1;
}

void TModeLister::ListSetElements(std::int64_t offset, const std::string& indentation) {
  TSetElementBlock block;
  const TReadStatus status = Files.ReadSetElementBlock(offset, block);
  if (!status.ok()) {
    Files.ReportSetBlockFailure(offset, status.Code);
    return;
  }
  const std::vector<TSetElement> elements = block.Elements();
  for (std::size_t v = 0; v < elements.size(); ++v) {
    if (Stopped()) return;
    if (!Write(indentation + "  " + Hex(static_cast<std::uint32_t>(v), 4) + " " + elements[v].Name)) return;
  }
}

void TModeLister::ListConstants(std::int64_t first, const std::string& indentation) {
  for (const TSynRecord& constant : Files.ConstantChain(first)) {
    if (Stopped()) return;
    if (!Write(indentation + "  " + Hex(constant.Value, 4) + " " + TrimName(constant.Name))) return;
  }
}
