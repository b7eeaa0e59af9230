// Random bytes as a mode definition file set, read through every lookup of
// the reader. The input is split into the files: for each of .ver .msg .usb
// .bid .mod .sem .syn .mna .sen .sna in turn a 16-bit little-endian length
// and that many bytes (cut at the end of the input); what is left fills the
// message buffer and drives the bit extractions.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "fuzzing.h"
#include "trace/hostnames.h"
#include "trace/modefile.h"

namespace {
const char* const kExtensions[] = {".ver", ".msg", ".usb", ".bid", ".mod", ".sem", ".syn", ".mna", ".sen", ".sna"};

class TCountingReporter final : public TModeFileReporter {
 public:
  void ReportError(TErrorKind, std::uint32_t, const std::string& text) override {
    ++Errors;
    Length += text.size();
  }
  void Diagnostic(const std::string& line) override { Length += line.size(); }
  std::size_t Errors = 0, Length = 0;
};

// Walks a mode the way the decoders do: references one level deeper, at most
// ten levels, every set and constant chain it names.
void Walk(const TTraceFileSet& set, std::int64_t index, int level, const TMessageBuffer& buffer,
          std::set<std::int64_t>& seen) {
  if (level > 10 || !seen.insert(index).second || seen.size() > 64) return;
  const TModeRun run = set.ReadModeRun(index);
  if (!run.ok()) return;
  const TModeHeaderRecord h = run.Header.Header();
  const std::uint8_t data = buffer.Bytes[static_cast<std::size_t>(level)];
  set.SetElementText(h.Reference, 0xFFFF, buffer, data, data & 7, h.Packing(), true);
  set.SynValueText(h.ConstantChain, data, data & 7, h.Size & 31, h.Packing(), buffer);
  if (h.Kind == mkReference || h.Kind == mkArray || h.Kind == mkRef) Walk(set, h.Reference, level + 1, buffer, seen);
  for (const TArrayDimension& d : h.Dimensions) {
    set.SetElementText(d.IndexMode, d.Lower, buffer, 0, 0, pmNone, true);
    set.SynValueText(d.IndexMode, d.Upper, 0, 0, pmNone, buffer);
  }
  (void)h.ElementCount();
  for (const TModeRecord& record : run.Components) {
    const TModeComponentRecord c = record.Component();
    TModeRecord selector;
    set.ReadModeRecord(c.Selector, selector);
    if (c.Kind == mkSet) {
      set.SetElementText(c.ModeIndex, 0xFFFF, buffer, c.ByteOffset, c.BitOffset, c.Packing(), data & 1);
    } else {
      Walk(set, c.ModeIndex, level + 1, buffer, seen);
    }
  }
}

void Exercise(const TTraceFileSet& set, const TMessageBuffer& buffer, const std::map<std::string, std::string>& files) {
  for (std::uint32_t n = 0; n < 48; ++n) {
    for (const TModeIndexRead read : {set.MessageModeIndex(n), set.UserBufferModeIndex(n)}) {
      std::set<std::int64_t> seen;
      if (read.Status == TIndexStatus::Found) Walk(set, read.Index, 0, buffer, seen);
    }
    const TMbidIndexRead mbid = set.MbidIndexEntry(n);
    if (mbid.Status == TIndexStatus::Found && mbid.Entry.IsSetOffset()) {
      set.SetElementText(mbid.Entry.Index, 0xFFFF, buffer, n, 0, pmNone, true);
    }
  }
  const std::uint64_t records = std::min<std::uint64_t>(set.ModeRecordCount(), 128);
  for (std::uint64_t i = 0; i < records; ++i) {
    std::set<std::int64_t> seen;
    Walk(set, static_cast<std::int64_t>(i), 0, buffer, seen);
  }
  const std::uint64_t constants = std::min<std::uint64_t>(set.SynRecordCount(), 32);
  for (std::uint64_t i = 0; i < constants; ++i) set.ConstantChain(static_cast<std::int64_t>(i));

  // Every name the indexes hold, as stored and cut.
  for (const auto& [ext, width] : {std::pair<const char*, std::size_t>{".mna", 44}, {".sen", 52}, {".sna", 44}}) {
    const std::string& index = files.at(ext);
    for (std::size_t at = 0; at + width <= index.size() && at < 32 * width; at += width) {
      const std::string key = index.substr(at, width - 4);
      set.LookupModeByName(key);
      set.LookupSetByName(key);
      set.LookupSynByName(key.substr(0, 7));
    }
  }
  set.LookupModeByName("");
  set.LookupSetByName("\xFF\xFF");

  // The index files read as host name files.
  THostNameFile kasp(std::make_unique<TMemorySource>(files.at(".mna")), 25);
  for (std::uint32_t n = 0; n < 8; ++n) kasp.Name(n);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TFuzzInput input(data, size);
  std::map<std::string, std::string> files;
  for (const char* ext : kExtensions) files[ext] = std::string(input.Bytes(static_cast<std::size_t>(input.Word())));

  TMessageBuffer buffer;
  const std::string rest(input.Bytes(TMessageBuffer::kSize));
  std::copy(rest.begin(), rest.end(), buffer.Bytes.begin());
  buffer.Count = static_cast<std::uint16_t>(rest.size());
  for (std::size_t i = 0; i + 3 < rest.size() && i < 64; i += 3) {
    const auto b = [&](std::size_t k) { return static_cast<std::uint8_t>(rest[i + k]); };
    for (TPackMode mode : {pmNone, pmPack, pmRevPack, pmByteWise})
      ExtractBits(buffer, b(0) | b(1) << 4, b(1), b(2), mode);
    std::uint32_t byte = b(0) * 16u, bit = b(1) & 7;
    AdvanceBitPosition(b(2) * 1000u, byte, bit);
    UnpackedStride(b(0) | b(2) << 8);
  }

  TCountingReporter reporter;
  // The version check as given, then the lookups over a set that opens.
  std::unique_ptr<TTraceFileSet> set = TTraceFileSet::Open(std::make_shared<TMemoryModeFiles>(files), reporter);
  if (!set) {
    files[".ver"] = "VERSION = VERSION 1\r\n";
    set = TTraceFileSet::Open(std::make_shared<TMemoryModeFiles>(files), reporter);
  }
  if (set) Exercise(*set, buffer, files);
  return 0;
}
