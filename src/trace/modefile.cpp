#include "trace/modefile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "core/numbers.h"
#include "core/paths.h"
#include "core/text.h"

namespace {
constexpr const char* kDataExtensions[] = {".msg", ".bid", ".mod", ".sem", ".syn", ".usb"};

std::string MissingFileText(const std::string& name) {
  return "The file =" + name + " doesn't exist. Correct in the Configure|Files window";
}

char LowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Strips `word` from the front of s, then the blanks after it.
bool TakeWord(std::string_view& s, std::string_view word) {
  if (s.substr(0, word.size()) != word) return false;
  s = TrimBlanks(s.substr(word.size()));
  return true;
}

// A .ver line longer than this cannot be anything but noise; the rest of it
// is dropped so a file without line ends cannot grow the line without bound.
constexpr std::size_t kMaxVersionLine = 4096;

// Reads ".ver" line by line until a version line is found.
std::optional<std::uint16_t> ScanVersionFile(const TByteSource& file) {
  std::string line;
  bool lineTooLong = false;
  char chunk[8192];
  std::uint64_t offset = 0;
  char previous = 0;
  for (;;) {
    std::uint32_t code = 0;
    const std::int64_t got = file.ReadSome(offset, chunk, sizeof chunk, &code);
    if (got <= 0) break;
    offset += static_cast<std::uint64_t>(got);
    for (std::int64_t i = 0; i < got; ++i) {
      const char c = chunk[i];
      if (c == '\n' && previous == '\r') {
        previous = c;
        continue;
      }
      previous = c;
      if (c == '\r' || c == '\n') {
        if (!lineTooLong) {
          if (auto version = ParseVersionLine(line)) return version;
        }
        line.clear();
        lineTooLong = false;
        continue;
      }
      if (line.size() < kMaxVersionLine) line.push_back(c);
      else lineTooLong = true;
    }
  }
  if (!lineTooLong) return ParseVersionLine(line);
  return std::nullopt;
}
}  // namespace

// --- Stores ---

std::string TDiskModeFiles::DisplayName(std::string_view extension) const {
  return Base + std::string(extension);
}

std::string TDiskModeFiles::PathOf(std::string_view extension) const {
  return NativeFileName(Base + std::string(extension));
}

bool TDiskModeFiles::Exists(std::string_view extension) const {
  struct stat st;
  return ::stat(PathOf(extension).c_str(), &st) == 0;
}

std::unique_ptr<TByteSource> TDiskModeFiles::Open(std::string_view extension, std::uint32_t* code) const {
  return TFileSource::Open(PathOf(extension), code);
}

TMemoryModeFiles::TMemoryModeFiles(const std::map<std::string, std::string>& files, std::string displayBase)
    : Base(std::move(displayBase)) {
  for (const auto& [extension, bytes] : files) Files[extension] = std::make_shared<const std::string>(bytes);
}

bool TMemoryModeFiles::Exists(std::string_view extension) const {
  return Files.count(std::string(extension)) != 0;
}

std::unique_ptr<TByteSource> TMemoryModeFiles::Open(std::string_view extension, std::uint32_t* code) const {
  const auto it = Files.find(std::string(extension));
  if (it == Files.end()) {
    if (code) *code = 2;  // the file cannot be found
    return nullptr;
  }
  return std::make_unique<TMemorySource>(it->second);
}

// --- Version ---

std::optional<std::uint16_t> ParseVersionLine(std::string_view line) {
  const std::string upper = UpperCase(TrimBlanks(line));
  std::string_view rest = upper;
  if (!TakeWord(rest, "VERSION")) return std::nullopt;
  if (!TakeWord(rest, "=")) return std::nullopt;
  if (!TakeWord(rest, "VERSION")) return std::nullopt;
  const std::size_t dot = rest.find('.');
  if (dot != std::string_view::npos) rest = rest.substr(0, dot);
  return ReadNumber16(rest);
}

std::optional<std::uint16_t> FindVersion(std::string_view text) {
  return ScanVersionFile(TMemorySource(std::string(text)));
}

// --- Value texts ---

std::uint32_t SetValueWidth(std::uint16_t n) {
  std::uint16_t highest = static_cast<std::uint16_t>(n - 1);
  std::uint32_t width = 0;
  while (highest != 0) {
    highest >>= 1;
    ++width;
  }
  return width == 0 ? 1 : width;
}

std::string ShownElementName(std::string_view stored) {
  std::string name(stored);
  for (char& c : name) c = LowerChar(c);
  return name;
}

std::string SetValueText(std::uint16_t value, std::uint16_t n, const std::string* name, bool convertSetElements) {
  const bool named = value < n && convertSetElements && name;
  if (named && !name->empty()) return *name;
  std::string text;
  // Four digits for a large set, and for any value two digits cannot hold.
  AppendHex(text, value, n > 255 || value > 255 ? 4 : 2);
  if (named) text += ' ';  // an element without a name
  return text;
}

std::string ConstantValueText(std::uint16_t value, std::uint32_t width, const std::string* name) {
  std::string text;
  if (name) {
    AppendHex(text, value, 4);
    text += '(';
    text += *name;
    text += ')';
    return text;
  }
  int digits = 4;
  if (width >= 1 && width <= 4) digits = 1;
  else if (width >= 5 && width <= 8) digits = 2;
  AppendHex(text, value, digits);
  return text;
}

// --- Opening ---

TTraceFileSet::TTraceFileSet(std::shared_ptr<const TModeFileStore> store, TModeFileReporter& reporter)
    : Files(std::move(store)), Report(reporter) {}

std::unique_ptr<TTraceFileSet> TTraceFileSet::OpenBase(const std::string& modeFileName,
                                                      TModeFileReporter& reporter) {
  if (modeFileName.empty()) {
    reporter.ReportError(ekMessage, 0,
                         "No trace file specified. Enter the file name in the Configure|Files window");
    return nullptr;
  }
  return Open(std::make_shared<TDiskModeFiles>(modeFileName), reporter);
}

std::unique_ptr<TTraceFileSet> TTraceFileSet::Open(std::shared_ptr<const TModeFileStore> store,
                                                   TModeFileReporter& reporter) {
  const std::string versionName = store->DisplayName(".ver");
  if (!store->Exists(".ver")) {
    reporter.ReportError(ekMessage, 0, MissingFileText(versionName));
    return nullptr;
  }
  std::uint32_t code = 0;
  const std::unique_ptr<TByteSource> versionFile = store->Open(".ver", &code);
  if (!versionFile) {
    reporter.ReportError(ekFileOpen, code, versionName);
    return nullptr;
  }
  const std::optional<std::uint16_t> version = ScanVersionFile(*versionFile);
  if (!version) {
    reporter.ReportError(ekMessage, 0,
                         "The Version file =" + versionName + " didn't contain the correct information");
    return nullptr;
  }
  if (*version < 1) {
    reporter.ReportError(ekMessage, 0, "The Version of the trace File is too old");
    return nullptr;
  }

  // All six must be there before any is opened; a file that is there but
  // cannot be opened is an open failure, not a missing file.
  for (const char* extension : kDataExtensions) {
    if (store->Exists(extension)) continue;
    reporter.ReportError(ekMessage, 0, MissingFileText(store->DisplayName(extension)));
    return nullptr;
  }
  std::unique_ptr<TTraceFileSet> set(new TTraceFileSet(store, reporter));
  std::unique_ptr<TByteSource>* slots[] = {&set->Msg, &set->Bid, &set->Mod, &set->Sem, &set->Syn, &set->Usb};
  for (std::size_t i = 0; i < std::size(kDataExtensions); ++i) {
    *slots[i] = store->Open(kDataExtensions[i], &code);
    if (!*slots[i]) {
      reporter.ReportError(ekFileOpen, code, store->DisplayName(kDataExtensions[i]));
      return nullptr;
    }
  }
  return set;
}

// --- Message and MBID indexes ---

TModeIndexRead TTraceFileSet::ReadModeIndex(const TByteSource& file, std::uint32_t n,
                                            const char* errorName) const {
  std::uint8_t bytes[kModeIndexEntrySize];
  const TReadStatus st = file.ReadExact(std::int64_t{n} * kModeIndexEntrySize, bytes, sizeof bytes);
  if (st.ok()) return {TIndexStatus::Found, static_cast<std::int32_t>(ReadU32(bytes))};
  if (st.Kind == TReadStatus::PastEnd || st.Code == kErrorHandleEof) return {TIndexStatus::Absent, kIndexHexDump};
  Report.ReportError(ekFileAccess, st.Code, errorName);
  return {TIndexStatus::Failed, kIndexHexDump};
}

TModeIndexRead TTraceFileSet::MessageModeIndex(std::uint32_t identity) const {
  return ReadModeIndex(*Msg, identity, "MSG Index File");
}

TModeIndexRead TTraceFileSet::UserBufferModeIndex(std::uint32_t identity) const {
  return ReadModeIndex(*Usb, identity, "Userbuffer Index File");
}

TMbidIndexRead TTraceFileSet::MbidIndexEntry(std::uint32_t mbid) const {
  std::uint8_t bytes[kMbidIndexEntrySize];
  const TReadStatus st = Bid->ReadExact(std::int64_t{mbid} * kMbidIndexEntrySize, bytes, sizeof bytes);
  if (st.ok()) return {TIndexStatus::Found, DecodeMbidIndexEntry(bytes)};
  if (st.Kind == TReadStatus::PastEnd || st.Code == kErrorHandleEof) return {TIndexStatus::Absent, {}};
  Report.ReportError(ekFileAccess, st.Code, "MBID Index File");
  return {TIndexStatus::Failed, {}};
}

// --- Modes ---

std::uint64_t TTraceFileSet::ModeRecordCount() const { return Mod->Size() / kModeRecordSize; }

TReadStatus TTraceFileSet::ReadModeRecord(std::int64_t index, TModeRecord& out) const {
  if (index < 0) return TReadStatus::Fail(kErrorNegativeSeek);
  if (static_cast<std::uint64_t>(index) > (std::uint64_t{1} << 48)) return TReadStatus::End();
  return Mod->ReadExact(index * static_cast<std::int64_t>(kModeRecordSize), out.Bytes.data(), kModeRecordSize);
}

TModeRun TTraceFileSet::ReadModeRun(std::int64_t index) const {
  TModeRun run;
  run.Status = ReadModeRecord(index, run.Header);
  if (!run.Status.ok()) return run;
  const std::uint16_t number = run.Header.ModeNumber();
  for (std::int64_t next = index + 1;; ++next) {
    if (run.Components.size() >= kMaxComponents) {
      run.Truncated = true;
      break;
    }
    TModeRecord record;
    run.End = ReadModeRecord(next, record);
    if (!run.End.ok()) break;
    if (record.ModeNumber() != number) break;
    run.Components.push_back(record);
  }
  return run;
}

// --- Sets ---

TReadStatus TTraceFileSet::ReadSetElementBlock(std::int64_t offset, TSetElementBlock& out) const {
  std::uint8_t counts[TSetElementBlock::kCountsSize];
  const TReadStatus st = Sem->ReadExact(offset, counts, sizeof counts);
  if (!st.ok()) return st;
  out.Count = ReadU16(counts);
  out.TableSize = ReadU16(counts + 2);
  // A table cut off by the end of the file keeps what is there.
  const std::uint64_t tableStart = static_cast<std::uint64_t>(offset) + sizeof counts;
  const std::uint64_t size = Sem->Size();
  out.Table.assign(static_cast<std::size_t>(std::min<std::uint64_t>(out.TableSize, size > tableStart ? size - tableStart : 0)), '\0');
  std::uint32_t code = 0;
  const std::int64_t got = Sem->ReadSome(tableStart, out.Table.data(), out.Table.size(), &code);
  out.Table.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
  return TReadStatus::Good();
}

std::string TTraceFileSet::SetElementText(std::int64_t blockOffset, std::uint16_t value,
                                          const TMessageBuffer& buffer, std::uint32_t byteOffset,
                                          std::uint32_t bitOffset, TPackMode mode,
                                          bool convertSetElements) const {
  TSetElementBlock block;
  const TReadStatus st = ReadSetElementBlock(blockOffset, block);
  if (!st.ok()) {
    ReportSetBlockFailure(blockOffset, st.Code);
    return {};
  }
  if (value == 0xFFFF) value = ExtractBits(buffer, byteOffset, bitOffset, SetValueWidth(block.Count), mode);
  const std::optional<TSetElement> element = block.Element(value);
  const std::string name = element ? ShownElementName(element->Name) : std::string();
  return SetValueText(value, block.Count, element ? &name : nullptr, convertSetElements);
}

void TTraceFileSet::ReportSetBlockFailure(std::int64_t offset, std::uint32_t code) const {
  Report.ReportError(ekFileAccess, code,
                     "Unable to read Set Element File. File Index =" + Hex(static_cast<std::uint32_t>(offset), 8));
}

// --- Named constants ---

std::uint64_t TTraceFileSet::SynRecordCount() const { return Syn->Size() / kSynRecordSize; }

TReadStatus TTraceFileSet::ReadSynRecord(std::int64_t index, TSynRecord& out) const {
  if (index < 0) return TReadStatus::Fail(kErrorNegativeSeek);
  std::uint8_t bytes[kSynRecordSize];
  const TReadStatus st = Syn->ReadExact(index * static_cast<std::int64_t>(kSynRecordSize), bytes, sizeof bytes);
  if (st.ok()) out = DecodeSynRecord(bytes);
  return st;
}

TConstantChain TTraceFileSet::ReadConstantChain(std::int64_t first, std::optional<std::uint16_t> until) const {
  TConstantChain chain;
  if (first == -1 || (first >= 0 && static_cast<std::uint64_t>(first) >= SynRecordCount())) return chain;
  std::set<std::int64_t> visited;
  // A chain that comes back to a record would only repeat what it has given.
  for (std::int64_t current = first; visited.insert(current).second;) {
    TSynRecord record;
    const TReadStatus st = ReadSynRecord(current, record);
    if (!st.ok()) {
      chain.Break = TChainBreak{current, st.Code};
      break;
    }
    const std::int32_t next = record.Next;
    const bool found = record.Value == until;
    chain.Records.push_back(std::move(record));
    if (found || next == -1) break;
    current = next;
  }
  return chain;
}

void TTraceFileSet::ReportChainBreak(const TChainBreak& at) const {
  Report.ReportError(ekFileAccess, at.Code,
                     "Unable to read Syn-Mode-File. File Index =" + Hex(static_cast<std::uint32_t>(at.Record), 8));
}

std::vector<TSynRecord> TTraceFileSet::ConstantChain(std::int64_t first) const {
  TConstantChain chain = ReadConstantChain(first);
  if (chain.Break) ReportChainBreak(*chain.Break);
  return std::move(chain.Records);
}

std::string TTraceFileSet::SynValueText(std::int64_t first, std::uint32_t valueOrOffset,
                                        std::uint32_t bitOffset, std::uint32_t width, TPackMode mode,
                                        const TMessageBuffer& buffer) const {
  const std::uint16_t value = width != 0 ? ExtractBits(buffer, valueOrOffset, bitOffset, width, mode)
                                         : static_cast<std::uint16_t>(valueOrOffset);
  const TConstantChain chain = ReadConstantChain(first, value);
  if (!chain.Records.empty() && chain.Records.back().Value == value) {
    const std::string name = TrimName(chain.Records.back().Name);
    return ConstantValueText(value, width, &name);
  }
  if (chain.Break) ReportChainBreak(*chain.Break);
  return ConstantValueText(value, width, nullptr);
}

// --- Name indexes ---

std::optional<TTraceFileSet::TSearchHit> TTraceFileSet::SearchIndex(std::string_view extension,
                                                                   const std::string& key,
                                                                   std::size_t entrySize,
                                                                   std::uint32_t maxRecords) const {
  std::uint32_t code = 0;
  const std::unique_ptr<TByteSource> index = Files->Open(extension, &code);
  if (!index) {
    Report.ReportError(ekFileAccess, code, Files->DisplayName(extension));
    return std::nullopt;
  }
  const std::size_t keyWidth = entrySize - 4;
  std::int64_t lo = 0;
  std::int64_t hi = static_cast<std::int64_t>(std::min<std::uint64_t>(index->Size() / entrySize, maxRecords));
  std::uint8_t entry[kSetNameEntrySize];
  while (lo <= hi) {
    const std::int64_t mid = (lo + hi) / 2;
    const TReadStatus st = index->ReadExact(mid * static_cast<std::int64_t>(entrySize), entry, entrySize);
    if (st.Kind == TReadStatus::PastEnd) return std::nullopt;
    if (!st.ok()) {
      Report.ReportError(ekFileAccess, st.Code, Files->DisplayName(extension));
      return std::nullopt;
    }
    const int order = std::memcmp(key.data(), entry, keyWidth);  // unsigned bytes
    if (order < 0) {
      hi = mid - 1;
    } else if (order > 0) {
      lo = mid + 1;
    } else {
      return TSearchHit{static_cast<std::int32_t>(mid), static_cast<std::int32_t>(ReadU32(entry + keyWidth))};
    }
  }
  return std::nullopt;
}

TModeLookup TTraceFileSet::LookupModeByName(std::string_view name) const {
  const std::string key = NameKey(name, kModeNameKeyWidth);
  const auto hit = SearchIndex(".mna", key, kModeNameEntrySize, 0x7FFFFFFF);
  if (!hit) return {};
  TModeLookup result;
  const TReadStatus st = ReadModeRecord(hit->Index, result.Header);
  if (!st.ok()) {
    Report.ReportError(ekFileAccess, st.Code, Files->DisplayName(".mod"));
    Report.Diagnostic(" Mode file index =" + std::to_string(hit->Index));
    Report.Diagnostic(" Mode name =" + key);
    return {};
  }
  std::fill(result.Header.Bytes.begin() + kModeHeaderCopySize, result.Header.Bytes.end(), 0);
  result.Found = true;
  result.Index = hit->Index;
  return result;
}

TSetLookup TTraceFileSet::LookupSetByName(std::string_view name) const {
  const std::string key = NameKey(TrimBlanks(name), kSetNameKeyWidth);
  // Set index record numbers are 16-bit.
  const auto hit = SearchIndex(".sen", key, kSetNameEntrySize, 0xFFFF);
  if (!hit) return {};
  return {true, hit->Index};
}

TSynLookup TTraceFileSet::LookupSynByName(std::string_view name) const {
  const std::string key = NameKey(name, kModeNameKeyWidth);
  const auto hit = SearchIndex(".sna", key, kModeNameEntrySize, 0x7FFFFFFF);
  if (!hit) return {};
  TSynRecord record;
  const TReadStatus st = ReadSynRecord(hit->Index, record);
  if (!st.ok()) {
    Report.ReportError(ekFileAccess, st.Code, Files->DisplayName(".syn"));
    return {};
  }
  TSynLookup result;
  result.Found = true;
  result.Record = hit->Record;
  result.SynIndex = hit->Index;
  result.Value = record.Value;
  result.ModeName = record.ModeName;
  return result;
}
