// DSS1 layer 3 messages: protocol discriminator, call reference, message
// type, then the information elements with codeset shifts.
#include "trace/dss1.h"

#include <algorithm>

#include "app/session.h"
#include "core/numbers.h"
#include "screen/writer.h"
#include "trace/decode_mode.h"
#include "trace/decoder.h"
#include "trace/pcap.h"

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

// The codeset an IE is named in: a locking shift holds until the next one,
// a non-locking shift for the one IE after it.
struct TCodesetShift {
  int Active = 0;
  int Saved = 0;
  bool RestoreAfterNext = false;

  void Shift(int next, bool nonLocking) {
    Saved = Active;
    Active = next;
    RestoreAfterNext = nonLocking;
  }
  void AfterIe() {
    if (!RestoreAfterNext) return;
    Active = Saved;
    RestoreAfterNext = false;
  }
};

void TTraceDecoder::DecodeDss1() {
  const TMessageBuffer& b = MessageBuffer;
  if (b.Count == 0 || b.Bytes[0] != kProtocolDiscriminator) {
    HexDump(0, b.Count, 0);
    return;
  }
  HandOnDss1Message();
  std::optional<std::uint32_t> i = DecodeDss1Header();
  if (!i) return;

  Dss1Contents.reset();
  if (const auto reserved = Cache.Mode(kDss1IeContentsRecord); reserved && reserved->Header.Reference != -1) {
    Dss1Contents = Cache.Mode(reserved->Header.Reference);
    if (Dss1Contents && Dss1Contents->Header.Kind != mkStructure) Dss1Contents.reset();
  }
  TCodesetShift codeset;
  while (*i < b.Count) {
    if (YieldStop()) break;
    const std::uint8_t o = b.Bytes[*i];
    if ((o & 0xF0) == kShift) {
      const int next = o & 7;
      const bool nonLocking = (o & 0x08) != 0;
      // The shift IE is named in the codeset it stands in.
      S.Writer->WriteLine("    IE = " + IeName(kShift, codeset.Active), caIE);
      S.Writer->WriteLine("      New CodeSet   = " + Hex(static_cast<std::uint32_t>(next), 2), caData);
      S.Writer->WriteLine(nonLocking ? "      Locking Shift = False" : "      Locking Shift = True ", caData);
      codeset.Shift(next, nonLocking);
      *i += 1;
      continue;
    }
    *i = (o & 0x80) ? DecodeSingleOctetIe(*i, codeset.Active) : DecodeVariableIe(*i, codeset.Active);
    codeset.AfterIe();
  }
  Dss1Contents.reset();
}

std::optional<std::uint32_t> TTraceDecoder::DecodeDss1Header() {
  TScreenWriter& w = *S.Writer;
  const TMessageBuffer& b = MessageBuffer;
  const std::uint32_t count = b.Count;
  w.WriteLine("  PROT DESCR    = DSS1", caData);
  std::uint32_t i = 1;
  if (i >= count) return std::nullopt;
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
  if (i >= count) return std::nullopt;
  w.WriteLine("  MSG TYPE      = " + MessageTypeName(b.Bytes[i] & 0x7F), caDSS1Msg);
  return i + 1;
}

std::uint32_t TTraceDecoder::DecodeSingleOctetIe(std::uint32_t i, int codeset) {
  const std::uint8_t o = MessageBuffer.Bytes[i];
  if ((o & 0x70) == 0x20) {
    // Type 2: the identifier is the whole octet.
    S.Writer->WriteLine("    IE = " + IeName(o, codeset), caIE);
    return i + 1;
  }
  const std::uint8_t identifier = o & 0xF0;
  S.Writer->WriteLine("    IE = " + IeName(identifier, codeset), caIE);
  if (const TModeComponentRecord* c = Dss1Variant(identifier)) {
    DecodeDss1Variant(*c, i, 1);
  } else {
    S.Writer->WriteLine("      IE_DATA = " + Hex(o & 0x0F, 2), caData);
  }
  return i + 1;
}

std::uint32_t TTraceDecoder::DecodeVariableIe(std::uint32_t i, int codeset) {
  const TMessageBuffer& b = MessageBuffer;
  const std::uint8_t identifier = b.Bytes[i];
  S.Writer->WriteLine("    IE = " + IeName(identifier, codeset), caIE);
  const std::uint32_t lengthAt = i + 1;
  const std::uint32_t octets = lengthAt < b.Count ? b.Bytes[lengthAt] : 0;
  const std::uint32_t first = lengthAt + 1;
  const std::uint32_t end = std::min<std::uint32_t>(first + octets, b.Count);
  std::uint32_t shown = end;
  if (identifier == kFacility || identifier == kExtendedFacility) {
    DecodeFacility(first, end);
    return first + octets;
  }
  if (const TModeComponentRecord* c = Dss1Variant(identifier)) {
    shown = std::clamp(DecodeDss1Variant(*c, first, octets), first, end);
    // What the IE's mode does not describe is shown, never dropped.
    if (shown < end) Modes->WriteByteLine("      IE_DATA = ", shown, end - shown);
  } else if (end > first) {
    Modes->WriteByteLine("      IE_DATA = ", first, end - first);
  }
  return first + octets;
}

// Only what lies inside the IE's own length is read; the walk goes on after
// the IE whatever its contents say, and octets after the counted data are
// shown as they are.
void TTraceDecoder::DecodeFacility(std::uint32_t first, std::uint32_t end) {
  const TMessageBuffer& b = MessageBuffer;
  std::uint32_t shown = first;
  if (first < end) {
    S.Writer->WriteLine("      Protocol Profile = " + ProtocolProfileName(b.Bytes[first]), caData);
    shown = first + 1;
  }
  if (first + 3 < end) {
    S.Writer->WriteLine("        Protocol Profile = " + ProtocolProfileName(b.Bytes[first + 3]), caData);
    shown = first + 4;
  }
  if (first + 4 < end) {
    const std::uint32_t n = b.Bytes[first + 4];
    const std::uint32_t from = first + 5;
    const std::uint32_t to = std::min(from + n, end);
    if (to > from) Modes->WriteByteLine("        IE_DATA = ", from, to - from);
    shown = std::max(to, from);
  }
  if (shown < end) Modes->WriteByteLine("      IE_DATA = ", shown, end - shown);
}

const TModeComponentRecord* TTraceDecoder::Dss1Variant(std::uint8_t identifier) {
  if (!Dss1Contents) return nullptr;
  const auto& components = Dss1Contents->Components;
  for (std::size_t k = 1; k < components.size(); ++k) {
    const TModeComponentRecord& c = components[k];
    if (c.Selector != -1 && !c.IsElse() && c.Label == identifier) return &c;
  }
  return nullptr;
}

std::uint32_t TTraceDecoder::DecodeDss1Variant(const TModeComponentRecord& c, std::uint32_t at,
                                               std::uint32_t octets) {
  Modes->ResetReach(std::uint64_t{at} * 8);
  if (RefersToMode(c.Kind)) {
    Modes->DecodeMode(c.ModeIndex, at, 0, 0, c.Size, pmNone, kContentsLevel, "", octets);
  } else {
    Modes->DecodeComponentAt(c, at, 0, pmNone, kContentsLevel, std::min<std::uint32_t>(at + octets, MessageBuffer.Count));
  }
  return static_cast<std::uint32_t>(std::min<std::uint64_t>((Modes->Reach() + 7) / 8, 0xFFFFFFFFu));
}

void TTraceDecoder::HandOnDss1Message() {
  if (!Pcap && !OnDss1Message) return;
  const TDss1Capture message{MessageBuffer.Bytes.data(), MessageBuffer.Count, Header.Time, Header.Direction};
  if (Pcap) {
    if (const int error = Pcap->Write(message); error != 0) {
      PcapError = error;
      Pcap.reset();
    }
  }
  if (OnDss1Message) OnDss1Message(message);
}

int TTraceDecoder::StartPcapExport(const std::string& path, TFileFaults* faults) {
  auto writer = std::make_unique<TPcapWriter>();
  writer->SetFaults(faults);
  if (const int error = writer->Open(path); error != 0) return error;
  Pcap = std::move(writer);
  PcapError = 0;
  return 0;
}

void TTraceDecoder::StopPcapExport() { Pcap.reset(); }

bool TTraceDecoder::PcapExporting() const { return Pcap != nullptr; }

std::size_t TTraceDecoder::PcapFrames() const { return Pcap ? Pcap->Frames() : 0; }
