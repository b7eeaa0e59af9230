#include "screen/runs.h"

#include <new>

#include "screen/failures.h"

namespace {
void AppendEntry(std::string& out, std::uint16_t attribute, int column) {
  out += static_cast<char>(attribute & 0xFF);
  out += static_cast<char>(attribute >> 8);
  out += static_cast<char>(column);
}

std::uint16_t EntryAttribute(std::string_view e, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(e[at]) |
                                    (static_cast<std::uint8_t>(e[at + 1]) << 8));
}
}  // namespace

std::string EncodeRuns(const std::uint16_t* cells) {
  std::string out;
  out.reserve(12);
  AppendEntry(out, cells[0], 1);
  for (int column = 2; column < kLineCells; ++column)
    if (cells[column - 1] != cells[column - 2]) AppendEntry(out, cells[column - 1], column);
  AppendEntry(out, cells[kLineCells - 1], kLineCells);
  return out;
}

void ExpandRuns(std::string_view encoded, std::uint16_t* cells) {
  const std::size_t entries = encoded.size() / 3;
  std::uint16_t fill = entries ? EntryAttribute(encoded, 0) : 0;
  int column = 1;
  for (std::size_t i = 0; i < entries; ++i) {
    const int start = static_cast<std::uint8_t>(encoded[i * 3 + 2]);
    const int until = start < 1 ? 1 : (start > kLineCells ? kLineCells + 1 : start);
    for (; column < until; ++column) cells[column - 1] = fill;
    fill = EntryAttribute(encoded, i * 3);
  }
  for (; column <= kLineCells; ++column) cells[column - 1] = fill;
}

std::vector<TRun> DecodeRuns(std::string_view encoded) {
  std::vector<TRun> runs;
  for (std::size_t at = 0; at + 3 <= encoded.size(); at += 3)
    runs.push_back({EntryAttribute(encoded, at), static_cast<std::uint8_t>(encoded[at + 2])});
  return runs;
}

TRunPool::THandle TRunPool::Intern(const std::uint16_t* cells) {
  bool uniform = true;
  for (int i = 1; i < kLineCells && uniform; ++i) uniform = cells[i] == cells[0];
  if (uniform) return Single(cells[0]);
  try {
    std::string encoded = EncodeRuns(cells);
    if (const auto found = Index.find(encoded); found != Index.end()) return found->second;
    const THandle handle = static_cast<THandle>(Lists.size());
    if (handle >= kSingleFlag) throw std::bad_alloc();
    Lists.push_back(std::move(encoded));
    Index.emplace(Lists.back(), handle);
    return handle;
  } catch (const std::bad_alloc&) {
    throw EOutOfResources(kNoMemoryInsertAttribute);
  }
}

void TRunPool::Expand(THandle handle, std::uint16_t* cells) const {
  if (IsSingle(handle) || handle >= Lists.size()) {
    const std::uint16_t a = IsSingle(handle) ? static_cast<std::uint16_t>(handle & 0xFFFF) : 0;
    for (int i = 0; i < kLineCells; ++i) cells[i] = a;
    return;
  }
  ExpandRuns(Lists[handle], cells);
}

std::string TRunPool::Encoded(THandle handle) const {
  if (!IsSingle(handle) && handle < Lists.size()) return Lists[handle];
  std::uint16_t cells[kLineCells];
  Expand(handle, cells);
  return EncodeRuns(cells);
}

std::uint16_t TRunPool::AttributeAt(THandle handle, int column) const {
  if (IsSingle(handle)) return static_cast<std::uint16_t>(handle & 0xFFFF);
  if (handle >= Lists.size() || column < 1 || column > kLineCells) return 0;
  const std::string& e = Lists[handle];
  std::uint16_t attribute = 0;
  // Entries are in column order: the last one starting at or before the column wins.
  for (std::size_t at = 0; at + 3 <= e.size(); at += 3) {
    if (static_cast<std::uint8_t>(e[at + 2]) > column) break;
    attribute = EntryAttribute(e, at);
  }
  return attribute;
}

void TRunPool::Clear() {
  Index.clear();
  Lists.clear();
}

std::size_t TRunPool::Bytes() const {
  // A list, its index entry and the hash table's bucket.
  constexpr std::size_t kPerList = sizeof(std::string) + sizeof(std::string_view) + sizeof(THandle) + 32;
  std::size_t bytes = Lists.size() * kPerList;
  for (const std::string& list : Lists)
    if (list.capacity() > 15) bytes += list.capacity() + 1;  // beyond the small-string buffer
  return bytes;
}
