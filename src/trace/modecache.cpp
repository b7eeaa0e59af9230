#include "trace/modecache.h"

#include <climits>
#include <functional>

namespace {
constexpr std::int64_t kAbsent = INT64_MIN + 1;
constexpr std::size_t kMaxIndexedNumber = 65536;

template <typename TMap>
void MakeRoom(TMap& map, std::size_t limit) {
  if (map.size() >= limit) map.clear();
}
}  // namespace

void TModeCache::Attach(const TTraceFileSet* files) {
  Set = files;
  Modes.clear();
  Sets.clear();
  Chains.clear();
  MsgEntries.clear();
  UsbEntries.clear();
  BidEntries.clear();
}

std::shared_ptr<const TCachedMode> TModeCache::Mode(std::int64_t index, TReadStatus* status) {
  if (const auto it = Modes.find(index); it != Modes.end()) {
    if (status) *status = TReadStatus::Good();
    return it->second;
  }
  if (!Set) {
    if (status) *status = TReadStatus::Fail(kErrorHandleEof);
    return nullptr;
  }
  const TModeRun run = Set->ReadModeRun(index);
  if (status) *status = run.Status;
  if (!run.ok()) return nullptr;
  auto mode = std::make_shared<TCachedMode>();
  mode->Index = index;
  mode->Header = run.Header.Header();
  mode->Components.reserve(run.Components.size());
  for (const TModeRecord& r : run.Components) mode->Components.push_back(r.Component());
  MakeRoom(Modes, kMaxModes);
  Modes.emplace(index, mode);
  return mode;
}

std::optional<TModeComponentRecord> TModeCache::ComponentRecord(std::int64_t index) {
  if (!Set) return std::nullopt;
  TModeRecord record;
  if (!Set->ReadModeRecord(index, record).ok()) return std::nullopt;
  return record.Component();
}

// --- Sets ---

const TModeCache::TCachedSet* TModeCache::SetBlock(std::int64_t offset) {
  if (const auto it = Sets.find(offset); it != Sets.end()) return it->second.get();
  if (!Set) return nullptr;
  TSetElementBlock block;
  const TReadStatus st = Set->ReadSetElementBlock(offset, block);
  if (!st.ok()) {
    Set->ReportSetBlockFailure(offset, st.Code);
    return nullptr;
  }
  auto set = std::make_unique<TCachedSet>();
  set->Count = block.Count;
  for (const TSetElement& e : block.Elements()) set->Names.push_back(ShownElementName(e.Name));
  MakeRoom(Sets, kMaxSets);
  return Sets.emplace(offset, std::move(set)).first->second.get();
}

std::string TModeCache::SetElementText(std::int64_t blockOffset, std::uint16_t value,
                                       const TMessageBuffer& buffer, std::uint32_t byteOffset,
                                       std::uint32_t bitOffset, TPackMode mode, bool convertSetElements) {
  const TCachedSet* set = SetBlock(blockOffset);
  if (!set) return {};
  if (value == 0xFFFF) value = ExtractBits(buffer, byteOffset, bitOffset, SetValueWidth(set->Count), mode);
  const std::string* name = value < set->Names.size() ? &set->Names[value] : nullptr;
  return SetValueText(value, set->Count, name, convertSetElements);
}

// --- Constant chains ---

const TModeCache::TCachedChain* TModeCache::Chain(std::int64_t first) {
  if (const auto it = Chains.find(first); it != Chains.end()) return it->second.get();
  TConstantChain read = Set->ReadConstantChain(first);
  auto chain = std::make_unique<TCachedChain>();
  chain->Entries.reserve(read.Records.size());
  for (const TSynRecord& record : read.Records) chain->Entries.push_back({record.Value, TrimName(record.Name)});
  chain->Break = read.Break;
  MakeRoom(Chains, kMaxChains);
  return Chains.emplace(first, std::move(chain)).first->second.get();
}

std::optional<std::string> TModeCache::ConstantName(std::int64_t first, std::uint16_t value) {
  if (!Set) return std::nullopt;
  const TCachedChain* chain = Chain(first);
  for (const TChainEntry& e : chain->Entries) {
    if (e.Value == value) return e.Name;
  }
  if (chain->Break) Set->ReportChainBreak(*chain->Break);
  return std::nullopt;
}

std::string TModeCache::SynValueText(std::int64_t first, std::uint32_t valueOrOffset,
                                     std::uint32_t bitOffset, std::uint32_t width, TPackMode mode,
                                     const TMessageBuffer& buffer) {
  const std::uint16_t value = width != 0 ? ExtractBits(buffer, valueOrOffset, bitOffset, width, mode)
                                         : static_cast<std::uint16_t>(valueOrOffset);
  const std::optional<std::string> name = ConstantName(first, value);
  return ConstantValueText(value, width, name ? &*name : nullptr);
}

// --- Index entries ---

namespace {
TModeIndexRead CachedIndex(std::vector<std::int64_t>& entries, std::uint32_t n,
                           const std::function<TModeIndexRead(std::uint32_t)>& read) {
  if (n >= kMaxIndexedNumber) return read(n);
  if (entries.empty()) entries.assign(kMaxIndexedNumber, INT64_MIN);
  const std::int64_t known = entries[n];
  if (known == kAbsent) return {TIndexStatus::Absent, kIndexHexDump};
  if (known != INT64_MIN) return {TIndexStatus::Found, static_cast<std::int32_t>(known)};
  const TModeIndexRead r = read(n);
  if (r.Status == TIndexStatus::Found) entries[n] = r.Index;
  else if (r.Status == TIndexStatus::Absent) entries[n] = kAbsent;
  return r;
}
}  // namespace

TModeIndexRead TModeCache::MessageModeIndex(std::uint32_t identity) {
  if (!Set) return {TIndexStatus::Absent, kIndexHexDump};
  return CachedIndex(MsgEntries, identity, [this](std::uint32_t n) { return Set->MessageModeIndex(n); });
}

TModeIndexRead TModeCache::UserBufferModeIndex(std::uint32_t identity) {
  if (!Set) return {TIndexStatus::Absent, kIndexHexDump};
  return CachedIndex(UsbEntries, identity, [this](std::uint32_t n) { return Set->UserBufferModeIndex(n); });
}

TMbidIndexRead TModeCache::MbidIndexEntry(std::uint32_t mbid) {
  if (!Set) return {TIndexStatus::Absent, {}};
  if (const auto it = BidEntries.find(mbid); it != BidEntries.end()) return it->second;
  const TMbidIndexRead r = Set->MbidIndexEntry(mbid);
  if (r.Status != TIndexStatus::Failed) {
    MakeRoom(BidEntries, kMaxIndexedNumber);
    BidEntries.emplace(mbid, r);
  }
  return r;
}
