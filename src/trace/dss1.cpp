// DSS1 layer 3 messages: protocol discriminator, call reference, message
// type, then the information elements with codeset shifts.
#include "trace/dss1.h"

#include "core/numbers.h"
#include "core/session.h"
#include "screen/writer.h"
#include "trace/decode_mode.h"
#include "trace/decoder.h"

std::string ProtocolProfileName(std::uint8_t octet) {
  // The profile is the low five bits; bit 8 is the extension bit (0x91 is ROSE).
  switch (octet & 0x1F) {
    case 0x11: return "Remote Operations Protocol";
    case 0x12: return "CMIP Protocol";
    default: return Hex(octet, 2);
  }
}

namespace {
constexpr std::uint8_t kProtocolDiscriminator = 0x08;
constexpr std::uint8_t kShift = 0x90;
constexpr std::uint8_t kFacility = 0x1C;
constexpr std::uint8_t kExtendedFacility = 0x0D;
constexpr int kContentsLevel = 2;
}  // namespace

std::optional<std::int64_t> TTraceDecoder::Dss1Table(int record) {
  const std::shared_ptr<const TCachedMode> reserved = Cache.Mode(record);
  if (!reserved || reserved->Header.Reference == -1) return std::nullopt;
  const std::shared_ptr<const TCachedMode> table = Cache.Mode(reserved->Header.Reference);
  if (!table || table->Header.Kind != mkConstantRange) return std::nullopt;
  return table->Header.ConstantChain;
}

std::string TTraceDecoder::MessageTypeName(std::uint8_t value) {
  const std::optional<std::int64_t> chain = Dss1Table(kDss1MessageTypesRecord);
  if (!chain) return Hex(value, 2);
  // A type the table does not name prints as its two digits, like a type
  // without a table.
  const std::optional<std::string> name = Cache.ConstantName(*chain, value);
  if (!name) return Hex(value, 2);
  return Hex(value, 4) + "(" + *name + ")";
}

std::string TTraceDecoder::IeName(std::uint8_t identifier, int codeset) {
  const std::optional<std::int64_t> chain = Dss1Table(Dss1CodesetRecord(codeset & 7));
  if (!chain) return Hex(identifier, 2);
  // The constant text: named "0070(CALLED)", unnamed in 4 digits.
  return Cache.SynValueText(*chain, identifier, 0, 0, pmNone, MessageBuffer);
}

void TTraceDecoder::DecodeDss1() {
  TScreenWriter& w = *S.Writer;
  const TMessageBuffer& b = MessageBuffer;
  const std::uint32_t count = b.Count;
  if (count == 0 || b.Bytes[0] != kProtocolDiscriminator) {
    HexDump(0, count, 0);
    return;
  }
  w.WriteLine("  PROT DESCR    = DSS1", caData);
  std::uint32_t i = 1;
  if (i >= count) return;
  const std::uint32_t length = b.Bytes[i] & 0x0F;
  ++i;
  if (length == 0) {
    w.WriteLine("  CALL REF      = DUMMY", caData);
  } else if (i < count) {
    w.WriteLine((b.Bytes[i] & 0x80) ? "  CALL REF FLAG = True" : "  CALL REF FLAG = False", caData);
    std::string value = "  CALL REF      = ";
    AppendHex(value, b.Bytes[i] & 0x7F, 2);
    for (std::uint32_t k = 1; k < length && i + k < count; ++k) AppendHex(value, b.Bytes[i + k], 2);
    w.WriteLine(value, caData);
  }
  i += length;
  if (i >= count) return;
  w.WriteLine("  MSG TYPE      = " + MessageTypeName(b.Bytes[i] & 0x7F), caDSS1Msg);
  ++i;

  // The IE contents structure: a CASE over the IE identifier.
  std::shared_ptr<const TCachedMode> contents;
  if (const auto reserved = Cache.Mode(kDss1IeContentsRecord); reserved && reserved->Header.Reference != -1) {
    contents = Cache.Mode(reserved->Header.Reference);
    if (contents && contents->Header.Kind != mkStructure) contents.reset();
  }
  // The variant for an identifier, or nullptr (no match, an ELSE, no structure).
  auto variantFor = [&](std::uint8_t identifier) -> const TModeComponentRecord* {
    if (!contents) return nullptr;
    const auto& components = contents->Components;
    for (std::size_t k = 1; k < components.size(); ++k) {
      const TModeComponentRecord& c = components[k];
      if (c.Selector != -1 && !c.IsElse() && c.Label == identifier) return &c;
    }
    return nullptr;
  };
  auto decodeVariant = [&](const TModeComponentRecord& c, std::uint32_t at, std::uint32_t octets) {
    if (RefersToMode(c.Kind)) {
      Modes->DecodeMode(c.ModeIndex, at, 0, 0, c.Size, pmNone, kContentsLevel, "", octets);
    } else {
      Modes->DecodeComponentAt(c, at, 0, pmNone, kContentsLevel, std::min(at + octets, count));
    }
  };
  auto ieLine = [&](std::uint8_t identifier, int codeset) {
    w.WriteLine("    IE = " + IeName(identifier, codeset), caIE);
  };

  int codeset = 0;
  int savedCodeset = 0;
  bool restoreAfterNext = false;
  while (i < count) {
    if (YieldStop()) break;
    const std::uint8_t o = b.Bytes[i];
    bool shifted = false;
    bool nonLocking = false;
    if (o & 0x80) {
      if ((o & 0x70) == 0x20) {
        ieLine(o, codeset);
      } else if ((o & 0xF0) == kShift) {
        const int next = o & 7;
        nonLocking = (o & 0x08) != 0;
        // The shift IE is named in the codeset it stands in.
        ieLine(kShift, codeset);
        w.WriteLine("      New CodeSet   = " + Hex(static_cast<std::uint32_t>(next), 2), caData);
        w.WriteLine(nonLocking ? "      Locking Shift = False" : "      Locking Shift = True ", caData);
        savedCodeset = codeset;
        codeset = next;
        shifted = true;
      } else {
        const std::uint8_t identifier = o & 0xF0;
        ieLine(identifier, codeset);
        if (const TModeComponentRecord* c = variantFor(identifier)) {
          decodeVariant(*c, i, 1);
        } else {
          w.WriteLine("      IE_DATA = " + Hex(o & 0x0F, 2), caData);
        }
      }
      i += 1;
    } else {
      ieLine(o, codeset);
      i += 1;
      const std::uint32_t octets = i < count ? b.Bytes[i] : 0;
      const std::uint32_t first = i + 1;
      const std::uint32_t end = std::min(first + octets, count);
      if (o == kFacility || o == kExtendedFacility) {
        // Only what lies inside the IE's own length is read; the walk goes
        // on after the IE whatever its contents say.
        if (first < end) w.WriteLine("      Protocol Profile = " + ProtocolProfileName(b.Bytes[first]), caData);
        if (first + 3 < end)
          w.WriteLine("        Protocol Profile = " + ProtocolProfileName(b.Bytes[first + 3]), caData);
        if (first + 4 < end) {
          const std::uint32_t n = b.Bytes[first + 4];
          const std::uint32_t from = first + 5;
          const std::uint32_t to = std::min(from + n, end);
          if (to > from) Modes->WriteByteLine("        IE_DATA = ", from, to - from);
        }
      } else if (const TModeComponentRecord* c = variantFor(o)) {
        decodeVariant(*c, first, octets);
      } else if (end > first) {
        Modes->WriteByteLine("      IE_DATA = ", first, end - first);
      }
      i = first + octets;
    }
    // A non-locking shift holds for the one IE after it.
    if (shifted) {
      restoreAfterNext = nonLocking;
    } else if (restoreAfterNext) {
      codeset = savedCodeset;
      restoreAfterNext = false;
    }
  }
}
