#include "screen/store.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <atomic>
#include <cstdlib>
#include <new>
#include <system_error>
#include <thread>

namespace {
constexpr int kPaddedLineLength = 133;  // PutText pads a line to this before writing

int ClampColumn8(int column) { return std::clamp(column, 0, 255); }

// Copies and fills of a line's bytes (at most 256) in a few overlapping
// moves: the compiler's own inline code for a bounded size (rep movs, rep
// stos) takes longer to start than the short texts of a screen take to move.
void CopyBytes(char* to, const char* from, std::size_t n) {
  if (n >= 16) {
    for (std::size_t i = 0; i + 16 < n; i += 16) std::memcpy(to + i, from + i, 16);
    std::memcpy(to + n - 16, from + n - 16, 16);
  } else if (n >= 8) {
    std::uint64_t head, tail;
    std::memcpy(&head, from, 8);
    std::memcpy(&tail, from + n - 8, 8);
    std::memcpy(to, &head, 8);
    std::memcpy(to + n - 8, &tail, 8);
  } else if (n >= 4) {
    std::uint32_t head, tail;
    std::memcpy(&head, from, 4);
    std::memcpy(&tail, from + n - 4, 4);
    std::memcpy(to, &head, 4);
    std::memcpy(to + n - 4, &tail, 4);
  } else {
    for (std::size_t i = 0; i < n; ++i) to[i] = from[i];
  }
}

void FillBytes(char* to, char c, std::size_t n) {
  char pattern[16];
  std::memset(pattern, c, sizeof pattern);
  if (n >= 16) {
    for (std::size_t i = 0; i + 16 < n; i += 16) std::memcpy(to + i, pattern, 16);
    std::memcpy(to + n - 16, pattern, 16);
  } else if (n >= 8) {
    std::memcpy(to, pattern, 8);
    std::memcpy(to + n - 8, pattern, 8);
  } else {
    for (std::size_t i = 0; i < n; ++i) to[i] = c;
  }
}

// n cells (at most kLineCells) given the look a, in the same few
// overlapping moves: eight cells a move.
void FillCells(std::uint16_t* to, std::uint16_t a, std::size_t n) {
  std::uint16_t pattern[8];
  for (std::uint16_t& cell : pattern) cell = a;
  if (n >= 8) {
    for (std::size_t i = 0; i + 8 < n; i += 8) std::memcpy(to + i, pattern, sizeof pattern);
    std::memcpy(to + n - 8, pattern, sizeof pattern);
  } else if (n >= 4) {
    std::memcpy(to, pattern, 4 * sizeof a);
    std::memcpy(to + n - 4, pattern, 4 * sizeof a);
  } else {
    for (std::size_t i = 0; i < n; ++i) to[i] = a;
  }
}

// Whether any of n cells has a look other than a: all looked at without a
// branch, four at a time.
bool AnyCellDiffers(const std::uint16_t* cells, int n, std::uint16_t a) {
  const std::uint64_t pattern = a * 0x0001000100010001ULL;
  std::uint64_t differs = 0;
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    std::uint64_t four;
    std::memcpy(&four, cells + i, sizeof four);
    differs |= four ^ pattern;
  }
  for (; i < n; ++i) differs |= static_cast<std::uint64_t>(cells[i] ^ a);
  return differs != 0;
}

// The length of text without its trailing blanks, looked at eight bytes at a
// time: a line's padding runs far beyond its text.
int WithoutTrailingBlanks(const char* text, int length) {
  constexpr std::uint64_t kBlanks = 0x2020202020202020ULL;
  while (length >= 8) {
    std::uint64_t eight;
    std::memcpy(&eight, text + length - 8, sizeof eight);
    if (eight != kBlanks) break;
    length -= 8;
  }
  while (length > 0 && text[length - 1] == ' ') --length;
  return length;
}
}  // namespace

TBrowse::TBrowse() : Hot(new THotLine[kHotLines]) {
  for (int i = 0; i < kHotLines; ++i) {
    std::memset(Hot[i].Text, ' ', sizeof Hot[i].Text);
    Slots[i] = &Hot[i];
  }
}

TBrowse::~TBrowse() { CloseFile(); }

// ---------------------------------------------------------------------------
// Blocks

const TLineSegment& TBrowse::Segment(int block) const {
  const TStoredBlock& stored = Blocks[block];
  if (stored.Warm) return *stored.Warm;
  TUnpacked* slot = &Unpacked[0];
  for (TUnpacked& u : Unpacked) {
    if (u.Block == block) {
      u.Used = ++UseClock;
      return u.Segment;
    }
    if (u.Used < slot->Used) slot = &u;
  }
  slot->Block = -1;
  if (!Codec.Unpack(stored.Packed, slot->Segment)) {
    // Only damaged memory gets here: the block reads as blank lines.
    slot->Segment.Records.assign(kBlockLines, TLineRecord{});
    slot->Segment.Text.clear();
  }
  slot->Block = block;
  slot->Used = ++UseClock;
  return slot->Segment;
}

TBrowse::TLineRef TBrowse::Line(int line) const {
  const TLineSegment& segment = Segment(line >> kBlockShift);
  const TLineRecord& record = segment.Records[line & (kBlockLines - 1)];
  return {record, segment.TextOf(record)};
}

TLineSegment& TBrowse::WarmSegment(int block) {
  TStoredBlock& stored = Blocks[block];
  if (!stored.Warm) {
    auto segment = std::make_unique<TLineSegment>();
    bool taken = false;
    for (TUnpacked& u : Unpacked) {
      if (u.Block != block) continue;
      *segment = std::move(u.Segment);
      u.Segment = TLineSegment{};
      u.Block = -1;
      u.Used = 0;
      taken = true;
    }
    if (!taken && !Codec.Unpack(stored.Packed, *segment)) segment->Records.assign(kBlockLines, TLineRecord{});
    stored.Warm = std::move(segment);
    stored.Packed = TPackedBlock{};
    Thawed.push_back(block);
    RepackThawed();
  }
  ++stored.Version;
  return *stored.Warm;
}

TLineRecord& TBrowse::WarmRecord(int line) {
  return WarmSegment(line >> kBlockShift).Records[line & (kBlockLines - 1)];
}

std::string_view TBrowse::StoredText(int line) const {
  if (const THotLine* hot = HotFor(line)) return {hot->Text, hot->Length};
  const TLineRef ref = Line(line);
  return {ref.Text, ref.Record.Stored};
}

// Blocks written after they were packed are packed again, the longest warm first.
void TBrowse::RepackThawed() {
  while (Thawed.size() > kThawedBlocks) {
    const int block = Thawed.front();
    Thawed.pop_front();
    StartPacking(block);
  }
}

void TBrowse::StartPacking(int block) {
  TStoredBlock& stored = Blocks[block];
  if (!stored.Warm || stored.Packing) return;
  // Lines of the block still hot go into it first; the slots stay free.
  for (int i = 0; i < kHotLines; ++i)
    if (Hot[i].Line >= 0 && (Hot[i].Line >> kBlockShift) == block) Evict(Hot[i]);
  TBlockPacker::TJob job;
  job.Block = block;
  job.Version = stored.Version;
  job.Generation = Generation;
  try {
    if (!Packer) Packer = std::make_unique<TBlockPacker>();
    if (Packer->InFlight() < kMaxPacking) {
      job.Segment = *stored.Warm;
      stored.Packing = true;
      Packer->Submit(std::move(job));
      return;
    }
    // The worker is behind: pack here rather than let warm blocks pile up.
    job.Packed = Codec.Pack(*stored.Warm);
  } catch (const std::bad_alloc&) {
    return;  // stays warm
  } catch (const std::system_error&) {
    job.Packed = Codec.Pack(*stored.Warm);  // no thread to be had
  }
  std::vector<TBlockPacker::TJob> done;
  done.push_back(std::move(job));
  stored.Packing = true;
  Install(std::move(done));
}

void TBrowse::Install(std::vector<TBlockPacker::TJob> jobs) {
  for (TBlockPacker::TJob& job : jobs) {
    if (job.Generation != Generation || job.Block >= static_cast<int>(Blocks.size())) continue;
    TStoredBlock& stored = Blocks[job.Block];
    stored.Packing = false;
    if (job.Failed || !stored.Warm) continue;
    if (stored.Version != job.Version) {
      // Written while the worker packed it: packed again later.
      Thawed.push_back(job.Block);
      continue;
    }
    stored.Packed = std::move(job.Packed);
    stored.Warm.reset();
  }
  RepackThawed();
}

void TBrowse::AfterLineAdded() {
  if (Packer && Packer->HasDone()) Install(Packer->Collect(false));
  while (static_cast<long>(PackCursor + 1) * kBlockLines + WarmLines <= LineCount) StartPacking(PackCursor++);
}

void TBrowse::Settle() {
  // Blocks written while they were packed are packed again, a few times at most.
  for (int round = 0; round < 3; ++round) {
    while (!Thawed.empty()) {
      const int block = Thawed.front();
      Thawed.pop_front();
      StartPacking(block);
    }
    if (!Packer) return;
    Install(Packer->Collect(true));
    if (Thawed.empty()) return;
  }
}

TStoreFigures TBrowse::Figures() const {
  TStoreFigures f;
  f.Lines = LineCount;
  std::int64_t bytes = static_cast<std::int64_t>(Blocks.capacity() * sizeof(TStoredBlock));
  for (const TStoredBlock& b : Blocks) {
    if (b.Warm) {
      bytes += static_cast<std::int64_t>(sizeof(TLineSegment) + b.Warm->Bytes());
    } else {
      f.PackedLines += kBlockLines;
      f.TextBytes += b.Packed.RawSize;
      f.PackedBytes += b.Packed.Size;
    }
    if (b.Marks) bytes += 4 * kBlockLines;
  }
  for (const TUnpacked& u : Unpacked) bytes += static_cast<std::int64_t>(u.Segment.Bytes());
  bytes += static_cast<std::int64_t>(kHotLines * sizeof(THotLine) + RunLists.Bytes() + Codec.Bytes());
  if (Packer) bytes += static_cast<std::int64_t>(sizeof(TBlockPacker) + Packer->Bytes());
  f.ResidentBytes = bytes + f.PackedBytes;
  return f;
}

// ---------------------------------------------------------------------------
// Scanning

int TBrowse::ScanBlock(int block, int from, int to, const TLineTest& test, TBlockCodec& codec,
                       TLineSegment& scratch) const {
  const TStoredBlock& stored = Blocks[block];
  const TLineSegment* segment = stored.Warm.get();
  if (!segment) {
    if (!codec.Unpack(stored.Packed, scratch)) return -1;
    segment = &scratch;
  }
  const int step = to >= from ? 1 : -1;
  for (int line = from;; line += step) {
    if (const THotLine* hot = HotFor(line)) {
      if (test({hot->Text, hot->Length}, hot->Length)) return line;
    } else {
      const TLineRecord& record = segment->Records[line & (kBlockLines - 1)];
      if (test({segment->TextOf(record), record.Stored}, record.Length)) return line;
    }
    if (line == to) return -1;
  }
}

int TBrowse::ScanLines(int from, int to, const TLineTest& test) const {
  if (Count() == 0) return -1;
  from = std::clamp(from, 0, Count() - 1);
  to = std::clamp(to, 0, Count() - 1);
  const int step = to >= from ? 1 : -1;
  const int firstBlock = from >> kBlockShift;
  const int blocks = std::abs((to >> kBlockShift) - firstBlock) + 1;
  // The lines of the i-th block of the scan.
  const auto range = [&](int i, int& block, int& first, int& last) {
    block = firstBlock + i * step;
    const int low = block << kBlockShift;
    const int high = low + kBlockLines - 1;
    first = step > 0 ? std::max(from, low) : std::min(from, high);
    last = step > 0 ? std::min(to, high) : std::max(to, low);
  };
  int packed = 0;
  for (int i = 0; i < blocks; ++i) packed += Blocks[firstBlock + i * step].Warm ? 0 : 1;
  const unsigned cores = std::thread::hardware_concurrency();
  const int workers = packed >= 4 ? static_cast<int>(std::min(cores, 8u)) : 1;

  // Blocks are handed out in scan order; a hit in block i makes every block
  // after i pointless, so workers stop taking them.
  std::vector<int> hits(static_cast<std::size_t>(blocks), -1);
  std::atomic<int> next{0};
  std::atomic<int> firstHit{blocks};
  const auto work = [&] {
    TBlockCodec codec;
    TLineSegment scratch;
    while (true) {
      const int i = next.fetch_add(1);
      if (i >= blocks || i > firstHit.load()) return;
      int block, first, last;
      range(i, block, first, last);
      const int hit = ScanBlock(block, first, last, test, codec, scratch);
      if (hit < 0) continue;
      hits[static_cast<std::size_t>(i)] = hit;
      int seen = firstHit.load();
      while (i < seen && !firstHit.compare_exchange_weak(seen, i)) {
      }
    }
  };
  std::vector<std::thread> helpers;
  for (int i = 1; i < workers; ++i) {
    try {
      helpers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // fewer helpers, same answer
    }
  }
  work();
  for (std::thread& helper : helpers) helper.join();
  const int hit = firstHit.load();
  return hit < blocks ? hits[static_cast<std::size_t>(hit)] : -1;
}

// ---------------------------------------------------------------------------
// Hot lines

void TBrowse::PackText(TLineSegment& segment, TLineRecord& record, const char* text, int length,
                       int extent) {
  const int stored = WithoutTrailingBlanks(text, std::min(length, extent));
  record.Length = static_cast<std::uint8_t>(length);
  // Rewritten in place when the old place is big enough; lines are rarely
  // rewritten once warm, and packing drops the space of a moved text.
  if (stored > record.Stored) {
    record.TextPos = static_cast<std::uint32_t>(segment.Text.size());
    segment.Text.append(text, static_cast<std::size_t>(stored));
  } else if (stored > 0) {
    std::memcpy(segment.Text.data() + record.TextPos, text, static_cast<std::size_t>(stored));
  }
  record.Stored = static_cast<std::uint8_t>(stored);
}

void TBrowse::Evict(THotLine& slot) {
  if (slot.Line < 0) return;
  const int line = slot.Line;
  if (line < Count() && (slot.TextDirty || slot.RunsDirty)) {
    // The slot stays valid until the line is stored: a failure loses nothing.
    try {
      TLineSegment& segment = WarmSegment(line >> kBlockShift);
      TLineRecord& record = segment.Records[line & (kBlockLines - 1)];
      if (slot.TextDirty) PackText(segment, record, slot.Text, slot.Length, slot.Extent);
      slot.TextDirty = false;
      if (slot.RunsDirty) record.Runs = RunLists.Intern(slot.Attr);
      slot.RunsDirty = false;
    } catch (const std::bad_alloc&) {
      throw EOutOfResources(kNoMemoryReplaceLine, line);
    }
  }
  slot.Line = -1;
}

TBrowse::THotLine& TBrowse::MakeHot(int line) {
  THotLine& slot = *Slots[line % kHotLines];
  Evict(slot);
  const TLineRef ref = Line(line);
  SetHotText(slot, ref.Text, ref.Record.Stored);
  slot.Length = ref.Record.Length;
  RunLists.Expand(ref.Record.Runs, slot.Attr);
  if (const int single = TRunPool::SingleAttribute(ref.Record.Runs); single >= 0)
    slot.SetOneLook(static_cast<std::uint16_t>(single));
  else
    slot.FindTail();
  slot.TextDirty = slot.RunsDirty = false;
  slot.Rewritten = ref.Record.State == lsRewritten;
  slot.Line = line;
  return slot;
}

void TBrowse::THotLine::LooksSet(int first, int last, std::uint16_t a) {
  if (a == TailAttr) {
    // Reaching the tail makes it start earlier.
    if (first < TailFrom && last + 1 >= TailFrom) TailFrom = static_cast<std::uint8_t>(first);
  } else if (last == kLineCells) {
    TailFrom = static_cast<std::uint8_t>(first);
    TailAttr = a;
  } else {
    LooksChanged(last);
  }
}

void TBrowse::THotLine::FindTail() {
  int from = kLineCells;
  while (from > 1 && Attr[from - 2] == Attr[kLineCells - 1]) --from;
  TailFrom = static_cast<std::uint8_t>(from);
  TailAttr = Attr[kLineCells - 1];
}

void TBrowse::SetHotText(THotLine& slot, const char* text, int length) {
  // A text's own trailing blanks are left out of its extent (a blank line
  // added as text has none), so that rows of blanks look alike.
  length = length > 0 ? WithoutTrailingBlanks(text, length) : 0;
  if (length > 0) CopyBytes(slot.Text, text, static_cast<std::size_t>(length));
  if (slot.Extent > length) FillBytes(slot.Text + length, ' ', static_cast<std::size_t>(slot.Extent - length));
  slot.Extent = static_cast<std::uint8_t>(length);
}

void TBrowse::MarkRewritten(THotLine& hot) {
  if (hot.Rewritten) return;
  WarmRecord(hot.Line).State = lsRewritten;
  hot.Rewritten = true;
}

// ---------------------------------------------------------------------------
// Damage and cursor

void TBrowse::NoteDamage() {
  if (DamagePending) return;
  DamagePending = true;
  if (OnDamage) OnDamage();
}

TScreenDamage TBrowse::TakeDamage() {
  TScreenDamage taken = Damage;
  Damage = TScreenDamage{};
  DamagePending = false;
  return taken;
}

void TBrowse::LimitCursor(int column, int row) {
  if (Options & (boMarkCursorLine | boListBox | boEditor)) {
    CursorX = std::clamp(column, 1, ScreenXSizeMax);
    CursorY = std::clamp(row, 1, std::max(1, VisibleRows > 0 ? VisibleRows : Rows));
  } else {
    CursorX = std::clamp(column, 1, std::max(1, Cols));
    CursorY = std::clamp(row, 1, std::max(1, Rows));
  }
  if (!(Options & boSuppressCursor)) Follow();
}

// ---------------------------------------------------------------------------
// Adding lines

// The line table's capacity follows the old rule (2708 lines, doubled when
// full), though blocks are added one at a time and nothing is copied.
void TBrowse::ReserveLine() {
  if (LineCount == INT_MAX) throw EOutOfResources(kNoMemoryNewLine, Count());
  if (LineCount >= TableCapacity)
    TableCapacity = TableCapacity ? static_cast<int>(std::min<long>(2L * TableCapacity, INT_MAX)) : kFirstCapacity;
}

// A new last line of one attribute, its record in the newest block.
TLineRecord& TBrowse::AppendRecord(int attribute) {
  if (attribute < 0) attribute = 0;
  ReserveLine();
  try {
    if ((LineCount & (kBlockLines - 1)) == 0) {
      TStoredBlock block;
      block.Warm = std::make_unique<TLineSegment>();
      block.Warm->Records.reserve(kBlockLines);
      Blocks.push_back(std::move(block));
    }
    TStoredBlock& newest = Blocks.back();
    ++newest.Version;
    TLineRecord& record = newest.Warm->Records.emplace_back();
    record.Runs = TRunPool::Single(static_cast<std::uint16_t>(attribute));
    ++LineCount;
    return record;
  } catch (const std::bad_alloc&) {
    throw EOutOfResources(kNoMemoryNewLine, Count());
  } catch (const std::length_error&) {
    throw EOutOfResources(kNoMemoryNewLine, Count());
  }
}

void TBrowse::AddLine(std::string_view text, int attribute, bool paint) {
  const int length = static_cast<int>(std::min<std::size_t>(text.size(), kMaxLineLength));
  AddHotLine(text.data(), length, attribute, paint);
}

void TBrowse::AddBlankLine(int attribute, bool paint) { AddHotLine(nullptr, ScreenXSizeMax, attribute, paint); }

// A new last line of `length` characters, `text` (null: blanks).
void TBrowse::AddHotLine(const char* text, int length, int attribute, bool paint) {
  if (attribute < 0) attribute = 0;
  const int line = Count();
  THotLine& slot = *Slots[line % kHotLines];
  Evict(slot);
  TLineRecord& record = AppendRecord(attribute);
  record.Length = static_cast<std::uint8_t>(length);
  // The new line starts hot: its text goes to the block when it leaves the window.
  SetHotText(slot, text, text ? length : 0);
  const auto a = static_cast<std::uint16_t>(attribute);
  if (!slot.AllLookLike(a)) std::fill_n(slot.Attr, kLineCells, a);
  slot.SetOneLook(a);
  slot.Length = static_cast<std::uint8_t>(length);
  slot.TextDirty = true;
  slot.RunsDirty = false;
  slot.Rewritten = false;
  slot.Line = line;
  ++Damage.LinesAdded;
  if (paint) AddDamage(line, 1, ScreenXSizeMax);
  NoteDamage();
  Follow();
  AfterLineAdded();
}

void TBrowse::AppendDiskLine(const char* text, int length, std::int32_t fileOffset, int attribute) {
  TLineRecord& record = AppendRecord(attribute);
  length = std::clamp(length, 0, kMaxLineLength);
  try {
    PackText(*Blocks.back().Warm, record, text, length, length);
  } catch (const std::bad_alloc&) {
    throw EOutOfResources(kNoMemoryNewLine, Count() - 1);
  }
  record.FileOffset = fileOffset;
  record.State = lsOnDisk;
  ++Damage.LinesAdded;
  NoteDamage();
  AfterLineAdded();
}

void TBrowse::AddDiskLine(std::string_view text, std::int32_t fileOffset, int attribute) {
  AppendDiskLine(text.data(), static_cast<int>(std::min<std::size_t>(text.size(), kMaxLineLength)), fileOffset,
                 attribute);
}

// ---------------------------------------------------------------------------
// Whole lines

std::string TBrowse::GetLineText(int line) const {
  if (!ValidLine(line)) return {};
  if (const THotLine* hot = HotFor(line)) return std::string(hot->Text, hot->Length);
  const TLineRef ref = Line(line);
  std::string text(ref.Record.Length, ' ');
  std::memcpy(text.data(), ref.Text, ref.Record.Stored);
  return text;
}

std::string_view TBrowse::GetLineTextView(int line, char* scratch) const {
  if (!ValidLine(line)) return {};
  if (const THotLine* hot = HotFor(line)) return {hot->Text, hot->Length};
  const TStoredBlock& block = Blocks[line >> kBlockShift];
  const TLineRef ref = Line(line);
  const TLineRecord& record = ref.Record;
  if (record.Length == 0) return {};
  // A packed block's text lives in the unpacking cache, which the next read may reuse.
  if (block.Warm && record.Stored == record.Length) return {ref.Text, record.Length};
  std::memcpy(scratch, ref.Text, record.Stored);
  std::memset(scratch + record.Stored, ' ', static_cast<std::size_t>(record.Length - record.Stored));
  return {scratch, record.Length};
}

int TBrowse::GetLineLength(int line) const {
  if (!ValidLine(line)) return 0;
  if (const THotLine* hot = HotFor(line)) return hot->Length;
  return Line(line).Record.Length;
}

void TBrowse::StoreText(int line, std::string_view text, bool dropOffset) {
  if (!ValidLine(line)) return;
  const int length = static_cast<int>(std::min<std::size_t>(text.size(), kMaxLineLength));
  if (THotLine* hot = HotFor(line)) {
    SetHotText(*hot, text.data(), length);
    hot->Length = static_cast<std::uint8_t>(length);
    hot->TextDirty = true;
  }
  try {
    TLineSegment& segment = WarmSegment(line >> kBlockShift);
    TLineRecord& record = segment.Records[line & (kBlockLines - 1)];
    // A line of the history is rewritten in its warm form; the screen stays hot.
    THotLine* hot = HotFor(line);
    if (!hot) PackText(segment, record, text.data(), length, length);
    record.State = lsRewritten;
    if (hot) hot->Rewritten = true;
    if (dropOffset) record.FileOffset = -1;
  } catch (const std::bad_alloc&) {
    throw EOutOfResources(kNoMemoryReplaceLine, line);
  }
  AddDamage(line, 1, ScreenXSizeMax);
}

void TBrowse::SetLineText(int line, std::string_view text) { StoreText(line, text, false); }

void TBrowse::ReplaceLine(int line, std::string_view text) { StoreText(line, text, true); }

bool TBrowse::GetLine(int line, std::string& text, std::uint16_t* attributes) const {
  if (!ValidLine(line)) {
    text.clear();
    std::fill_n(attributes, kLineCells, std::uint16_t{0});
    return false;
  }
  if (const THotLine* hot = HotFor(line)) {
    text.assign(hot->Text, hot->Length);
    std::copy_n(hot->Attr, kLineCells, attributes);
    return true;
  }
  const TLineRef ref = Line(line);
  text.assign(ref.Record.Length, ' ');
  std::memcpy(text.data(), ref.Text, ref.Record.Stored);
  RunLists.Expand(ref.Record.Runs, attributes);
  return true;
}

int TBrowse::GetAttributeAt(int line, int column) const {
  if (!ValidLine(line) || column < 1 || column > kLineCells) return 0;
  if (const THotLine* hot = HotFor(line)) return hot->Attr[column - 1];
  return RunLists.AttributeAt(Line(line).Record.Runs, column);
}

void TBrowse::SetAttributeAt(int line, int column, int attribute) {
  if (!ValidLine(line) || column < 1 || column > kLineCells) return;
  if (attribute < 0) attribute = 0;
  const auto a = static_cast<std::uint16_t>(attribute);
  if (THotLine* hot = HotFor(line)) {
    if (hot->Attr[column - 1] != a) {
      hot->Attr[column - 1] = a;
      hot->LooksSet(column, column, a);
      hot->RunsDirty = true;
    }
  } else {
    std::uint16_t cells[kLineCells];
    RunLists.Expand(Line(line).Record.Runs, cells);
    if (cells[column - 1] == a) return;
    cells[column - 1] = a;
    const TRunPool::THandle runs = RunLists.Intern(cells);
    WarmRecord(line).Runs = runs;
  }
  AddDamage(line, column, column);
}

std::vector<TRun> TBrowse::GetRuns(int line) const { return DecodeRuns(GetRunBytes(line)); }

std::string TBrowse::GetRunBytes(int line) const {
  if (!ValidLine(line)) return {};
  if (const THotLine* hot = HotFor(line)) return EncodeRuns(hot->Attr);
  return RunLists.Encoded(Line(line).Record.Runs);
}

int TBrowse::GetLineState(int line) const { return ValidLine(line) ? Line(line).Record.State : 0; }

std::int32_t TBrowse::GetFileOffset(int line) const {
  return ValidLine(line) ? Line(line).Record.FileOffset : -1;
}

// ---------------------------------------------------------------------------
// Screen rows

template <typename TWriteText>
void TBrowse::WriteRow(int row, int column, int count, int attribute, bool damage, bool blanks,
                       TWriteText writeText) {
  const int line = ScreenLine(row);
  if (line < 0 || count < 0) return;
  const auto a = static_cast<std::uint16_t>(std::max(attribute, 0));
  THotLine& hot = Materialize(line);
  if (hot.Length < kPaddedLineLength) hot.Length = kPaddedLineLength;
  // Characters before column 1 or beyond the longest line are dropped.
  const int first = std::max(1, column);
  const int last = std::min(column + count - 1, kMaxLineLength);
  // Only characters that land lengthen the line: an empty text, or one wholly
  // past the longest line, leaves just the padding.
  if (first <= last) {
    writeText(hot.Text, first, last);
    if (last > hot.Length) hot.Length = static_cast<std::uint8_t>(last);
    if (!blanks) {
      if (last > hot.Extent) hot.Extent = static_cast<std::uint8_t>(last);
    } else if (first <= hot.Extent && last >= hot.Extent) {
      // Blanks up to the end of the text end it earlier.
      hot.Extent = static_cast<std::uint8_t>(first - 1);
    }
  }
  const int lastCell = std::min(last, kLineCells);
  if (first <= lastCell && !hot.AllLookLike(a)) {
    std::uint16_t* cells = hot.Attr + first - 1;
    const int n = lastCell - first + 1;
    // Written, and the run list made stale, only when a cell differs; with
    // the run list stale already there is nothing to compare.
    if (hot.RunsDirty || AnyCellDiffers(cells, n, a)) {
      FillCells(cells, a, static_cast<std::size_t>(n));
      hot.RunsDirty = true;
      hot.LooksSet(first, lastCell, a);
    }
  }
  hot.TextDirty = true;
  MarkRewritten(hot);
  if (damage && count > 0 && first <= last) AddDamage(line, first, last);
  Follow();
}

std::string_view TBrowse::BlankRow() {
  static const std::string row(ScreenXSizeMax, ' ');
  return row;
}

void TBrowse::PutText(std::string_view text, int column, bool paint, int attribute, int row) {
  const bool shown = !text.empty() && static_cast<std::uint8_t>(text[0]) >= 32;
  WriteRow(row, column, static_cast<int>(text.size()), attribute, paint && shown, false,
           [&](char* cells, int first, int last) {
             CopyBytes(cells + first - 1, text.data() + (first - column), static_cast<std::size_t>(last - first + 1));
           });
}

void TBrowse::FillText(char c, int count, int column, bool paint, int attribute, int row) {
  WriteRow(row, column, count, attribute, paint && static_cast<std::uint8_t>(c) >= 32, c == ' ',
           [&](char* cells, int first, int last) {
             FillBytes(cells + first - 1, c, static_cast<std::size_t>(last - first + 1));
           });
}

void TBrowse::ReplaceScreenLine(std::string_view text, int attribute, bool paint, int row) {
  const int line = ScreenLine(row);
  if (line < 0) return;
  if (attribute < 0) attribute = 0;
  THotLine& hot = Materialize(line);
  const int length = static_cast<int>(std::min<std::size_t>(text.size(), kMaxLineLength));
  SetHotText(hot, text.data(), length);
  hot.Length = static_cast<std::uint8_t>(length);
  std::fill_n(hot.Attr, kLineCells, static_cast<std::uint16_t>(attribute));
  hot.SetOneLook(static_cast<std::uint16_t>(attribute));
  hot.TextDirty = true;
  hot.RunsDirty = false;
  TLineRecord& record = WarmRecord(line);
  record.Runs = TRunPool::Single(static_cast<std::uint16_t>(attribute));
  record.State = lsRewritten;
  hot.Rewritten = true;
  record.FileOffset = -1;
  if (paint) AddDamage(line, 1, ScreenXSizeMax);
}

std::uint8_t TBrowse::GetCellChar(int column, int row) const {
  const int line = ScreenLine(row);
  if (line < 0 || column < 1 || column > kMaxLineLength) return 0;
  if (const THotLine* hot = HotFor(line)) return static_cast<std::uint8_t>(hot->Text[column - 1]);
  const TLineRef ref = Line(line);
  if (column > ref.Record.Length) return ' ';
  if (column > ref.Record.Stored) return ' ';
  return static_cast<std::uint8_t>(ref.Text[column - 1]);
}

int TBrowse::GetCellAttribute(int column, int row) const {
  const int line = ScreenLine(row);
  return line < 0 ? 0 : GetAttributeAt(line, column);
}

void TBrowse::SetCellAttribute(int column, int row, int attribute) {
  const int line = ScreenLine(row);
  if (line >= 0) SetAttributeAt(line, column, attribute);
}

TTextAttributes TBrowse::GetCellRecord(int column, int row) const {
  return Attributes.Get(GetCellAttribute(column, row));
}

void TBrowse::SetCellRecord(int column, int row, const TTextAttributes& record) {
  SetCellAttribute(column, row, Attributes.Intern(record));
}

void TBrowse::CopyBlock(const TBlock& source, const TBlock& destination, bool paint,
                        bool screenRelative) {
  const int height = source.Bottom - source.Top + 1;
  const int left = std::max(1, source.Left);
  const int shift = destination.Left - source.Left;
  // Columns whose source and destination both lie on the line.
  const int from = std::max(left, 1 - shift);
  const int to = std::min({source.Right, kLineCells, kLineCells - shift});
  if (height <= 0 || from > to) return;
  const int width = to - from + 1;
  if (screenRelative && shift == 0 && !paint && MoveScreenRows(source.Top, destination.Top, height, from, width))
    return;
  const auto lineOf = [&](int top, int i) {
    if (!screenRelative) return ValidLine(top + i) ? top + i : -1;
    return ScreenLine(top + i);
  };
  const bool upward = destination.Top > source.Top;
  char text[kLineCells];
  std::uint16_t cells[kLineCells];
  std::uint16_t sourceCells[kLineCells];
  for (int step = 0; step < height; ++step) {
    const int i = upward ? height - 1 - step : step;
    const int sourceLine = lineOf(source.Top, i);
    const int targetLine = lineOf(destination.Top, i);
    if (sourceLine < 0 || targetLine < 0) continue;
    const int targetFrom = from + shift;
    const int targetTo = to + shift;
    const THotLine* hot = HotFor(sourceLine);
    THotLine* hotTarget = hot ? HotFor(targetLine) : nullptr;
    if (hotTarget) {
      // Both lines expanded (a region of the screen scrolling): the cells
      // move straight across, the same line's overlapping ones included.
      MoveCells(*hot, from, *hotTarget, targetFrom, width);
    } else {
      if (hot) {
        std::memcpy(text, hot->Text + from - 1, static_cast<std::size_t>(width));
        std::copy_n(hot->Attr, kLineCells, sourceCells);
      } else {
        const std::string sourceText = GetLineText(sourceLine);
        for (int k = 0; k < width; ++k) {
          const int at = from - 1 + k;
          text[k] = at < static_cast<int>(sourceText.size()) ? sourceText[at] : ' ';
        }
        RunLists.Expand(Line(sourceLine).Record.Runs, sourceCells);
      }
      std::copy_n(sourceCells + from - 1, width, cells);
      THotLine& target = Materialize(targetLine);
      std::memcpy(target.Text + targetFrom - 1, text, static_cast<std::size_t>(width));
      target.Extent = std::max(target.Extent, static_cast<std::uint8_t>(targetTo));
      for (int k = 0; k < width; ++k) {
        if (target.Attr[targetFrom - 1 + k] != cells[k]) {
          target.Attr[targetFrom - 1 + k] = cells[k];
          target.LooksChanged(targetFrom + k);
          target.RunsDirty = true;
        }
      }
      hotTarget = &target;
    }
    THotLine& target = *hotTarget;
    if (targetTo > target.Length) target.Length = static_cast<std::uint8_t>(targetTo);
    target.TextDirty = true;
    MarkRewritten(target);
    if (paint) {
      AddDamage(sourceLine, from, to);
      AddDamage(targetLine, targetFrom, targetTo);
    }
  }
}

bool TBrowse::MoveScreenRows(int sourceTop, int targetTop, int height, int from, int width) {
  const int top = std::min(sourceTop, targetTop);
  const int bottom = std::max(sourceTop, targetTop) + height - 1;
  if (sourceTop == targetTop || top < 1 || bottom > Rows || bottom - top >= kHotLines || ScreenLine(top) < 0)
    return false;
  const int firstLine = ScreenLine(top);
  // Marking a line rewritten may pack an older block and take its lines out
  // of their slots: done first, so the slots looked up after it stay.
  THotLine* rows[kHotLines];
  for (int row = top; row <= bottom; ++row) {
    rows[row - top] = HotFor(firstLine + row - top);
    if (!rows[row - top]) return false;
  }
  for (int i = 0; i < height; ++i) {
    THotLine& target = *rows[targetTop - top + i];
    if (target.Line != firstLine + targetTop - top + i) return false;  // taken out by an earlier mark
    MarkRewritten(target);
  }
  for (int row = top; row <= bottom; ++row)
    if (rows[row - top]->Line != firstLine + row - top) return false;
  const bool upward = targetTop > sourceTop;
  const auto textBytes = static_cast<std::size_t>(width);
  const std::uint8_t reach = static_cast<std::uint8_t>(from - 1 + width);
  for (int step = 0; step < height; ++step) {
    const int i = upward ? height - 1 - step : step;
    const THotLine& source = *rows[sourceTop - top + i];
    THotLine& target = *rows[targetTop - top + i];
    std::memcpy(target.Text + from - 1, source.Text + from - 1, textBytes);
    std::memcpy(target.Attr + from - 1, source.Attr + from - 1, textBytes * sizeof(std::uint16_t));
    target.Extent = std::max(target.Extent, reach);
    target.Length = std::max(target.Length, reach);
    target.TextDirty = target.RunsDirty = true;
    target.LooksChanged(reach);
  }
  return true;
}

bool TBrowse::RotateScreenRows(bool up, int count, int left, int top, int right, int bottom) {
  static_assert((kHotLines & (kHotLines - 1)) == 0, "places wrap by masking");
  const int height = bottom - top + 1;
  const int to = std::min(right, kLineCells);
  const int firstLine = ScreenLine(top);
  if (left > 1 || to < 1 || count < 1 || count >= height || bottom > Rows || height > kHotLines || firstLine < 0)
    return false;
  // Every row expanded and alike outside the columns: the same length, only
  // blanks beyond them, and (short of the last cell) one look from the next on.
  const unsigned place = static_cast<unsigned>(firstLine) % kHotLines;
  const THotLine& first = *Slots[place];
  // With `to` the last cell there is no look beyond it to share.
  const int tailFrom = to < kLineCells ? to + 1 : kLineCells + 1;
  const bool anyTailLook = to >= kLineCells;
  THotLine* rows[kHotLines];
  bool unmarked = false;
  for (int i = 0; i < height; ++i) {
    THotLine* row = Slots[(place + static_cast<unsigned>(i)) & (kHotLines - 1)];
    if (row->Line != firstLine + i || row->Length != first.Length || row->Extent > to || row->TailFrom > tailFrom)
      return false;
    if (!anyTailLook && row->TailAttr != first.TailAttr) return false;
    unmarked |= !row->Rewritten;
    rows[i] = row;
  }
  // Every line of the region is rewritten: the rows the scroll uncovers are
  // erased after it. Marking one may pack an older block and take its lines
  // out of their slots, which is looked for after it.
  if (unmarked) {
    for (int i = 0; i < height; ++i) {
      if (rows[i]->Line != firstLine + i) return false;
      MarkRewritten(*rows[i]);
    }
    for (int i = 0; i < height; ++i)
      if (rows[i]->Line != firstLine + i) return false;
  }
  // Row i takes the slot of the row count below it (above it, scrolling
  // down); the uncovered rows take those that scrolled out.
  const int shift = up ? count : height - count;
  const auto give = [&](int i, THotLine& slot) {
    slot.Line = firstLine + i;
    slot.TextDirty = slot.RunsDirty = slot.Rewritten = true;
    Slots[(place + static_cast<unsigned>(i)) & (kHotLines - 1)] = &slot;
  };
  for (int from = shift; from < height; ++from) give(from - shift, *rows[from]);
  for (int from = 0; from < shift; ++from) give(height - shift + from, *rows[from]);
  return true;
}

void TBrowse::MoveCells(const THotLine& source, int from, THotLine& target, int targetFrom, int width) {
  std::memmove(target.Text + targetFrom - 1, source.Text + from - 1, static_cast<std::size_t>(width));
  target.Extent = std::max(target.Extent, static_cast<std::uint8_t>(targetFrom - 1 + width));
  // Rows that move bring other looks nearly always: the run list is taken
  // as stale without comparing (it is only remade when the line is packed).
  std::memmove(target.Attr + targetFrom - 1, source.Attr + from - 1, static_cast<std::size_t>(width) * sizeof(std::uint16_t));
  target.RunsDirty = true;
  target.LooksChanged(targetFrom - 1 + width);
}

void TBrowse::InvalidateCells(int left, int top, int bottom, int right) {
  int firstRow = std::max(top, 1);
  const int lastRow = std::min(bottom, Rows);
  // Rows address lines from the top one that exists; damage is a span of
  // lines, so its two ends say as much as every row between.
  while (firstRow <= lastRow && ScreenLine(firstRow) < 0) ++firstRow;
  if (firstRow > lastRow) return;
  AddDamage(ScreenLine(firstRow), left, right);
  if (lastRow > firstRow) AddDamage(ScreenLine(lastRow), left, right);
}

void TBrowse::InvalidateLines(int first, int last) {
  first = std::max(first, 0);
  last = std::min(last, Count() - 1);
  if (first > last) return;
  AddDamage(first, 1, ScreenXSizeMax);
  AddDamage(last, 1, ScreenXSizeMax);
}

void TBrowse::Clear() {
  for (int i = 0; i < kHotLines; ++i) Hot[i].Line = -1;
  std::vector<TStoredBlock>().swap(Blocks);
  for (TUnpacked& u : Unpacked) u = TUnpacked{};
  LineCount = 0;
  TableCapacity = 0;
  PackCursor = 0;
  Thawed.clear();
  ++Generation;  // packing still under way belongs to the old lines
  RunLists.Clear();
  Damage = TScreenDamage{};
  Damage.All = Damage.ShowTop = true;
  DamagePending = false;
  NoteDamage();
}

// ---------------------------------------------------------------------------
// Mark slots

int TBrowse::SlotIndex(int mark) {
  switch (mark) {
    case 2: return 0;
    case 1: return 1;
    case 3: return 2;
    default: return mark >= TMarkManager::kFirstUserMark ? 3 : -1;
  }
}

const std::uint8_t* TBrowse::MarkSlots(int line) const {
  const TStoredBlock& block = Blocks[line >> kBlockShift];
  return block.Marks ? block.Marks.get() + 4 * (line & (kBlockLines - 1)) : nullptr;
}

// Most blocks never carry a mark: their slots are made on the first one and
// freed with the last.
void TBrowse::SetSlot(int line, int slot, std::uint8_t value) {
  TStoredBlock& block = Blocks[line >> kBlockShift];
  if (!block.Marks) {
    if (value == 0) return;
    try {
      block.Marks.reset(new std::uint8_t[4 * kBlockLines]());
    } catch (const std::bad_alloc&) {
      throw EOutOfResources(kNoMarkMemory, line);
    }
  }
  std::uint8_t& cell = block.Marks[4 * (line & (kBlockLines - 1)) + slot];
  if ((cell == 0) != (value == 0)) block.MarkedSlots += value ? 1 : -1;
  cell = value;
  if (block.MarkedSlots == 0) block.Marks.reset();
}

void TBrowse::SetMarkTop(int line, int column, int mark) {
  TMarkAttributes* m = Marks.Get(mark);
  const int slot = SlotIndex(mark);
  if (!ValidLine(line) || !m || slot < 0) return;
  if (m->FirstLine < 0 || m->LastLine < 0) {
    m->FirstLine = m->LastLine = line;
    m->TopColumn = static_cast<std::uint8_t>(ClampColumn8(column));
  } else if (line <= m->Top()) {
    (m->FirstLine <= m->LastLine ? m->FirstLine : m->LastLine) = line;
    m->TopColumn = static_cast<std::uint8_t>(ClampColumn8(column));
  }
  SetSlot(line, slot, static_cast<std::uint8_t>(mark));
  m->Type = static_cast<std::uint8_t>(mark < TMarkManager::kFirstUserMark ? mark : 4);
}

void TBrowse::SetMarkBottom(int line, int column, int mark) {
  TMarkAttributes* m = Marks.Get(mark);
  const int slot = SlotIndex(mark);
  if (!ValidLine(line) || !m || slot < 0) return;
  if (m->FirstLine < 0 || m->LastLine < 0) {
    m->FirstLine = m->LastLine = line;
    m->BottomColumn = static_cast<std::uint8_t>(ClampColumn8(column));
  } else if (line >= m->Bottom()) {
    (m->FirstLine <= m->LastLine ? m->LastLine : m->FirstLine) = line;
    m->BottomColumn = static_cast<std::uint8_t>(ClampColumn8(column));
  }
  SetSlot(line, slot, static_cast<std::uint8_t>(mark));
  m->Type = static_cast<std::uint8_t>(mark < TMarkManager::kFirstUserMark ? mark : 4);
}

void TBrowse::ClearMarkSlot(int line, int mark) {
  const int slot = SlotIndex(mark);
  if (!ValidLine(line) || slot < 0) return;
  // The user slot is shared by every user mark: only this mark's number is cleared.
  if (slot == 3 && GetMarkSlot(line, mark) != mark) return;
  SetSlot(line, slot, 0);
}

void TBrowse::SetMarkSlot(int line, int mark, int value) {
  const int slot = SlotIndex(mark);
  if (!ValidLine(line) || slot < 0) return;
  SetSlot(line, slot, static_cast<std::uint8_t>(std::clamp(value, 0, 255)));
}

bool TBrowse::HasMark(int line, int mark) const {
  const int slot = SlotIndex(mark);
  if (!ValidLine(line) || slot < 0) return false;
  return GetMarkSlot(line, mark) == mark;
}

int TBrowse::GetMarkSlot(int line, int mark) const {
  const int slot = SlotIndex(mark);
  if (!ValidLine(line) || slot < 0) return 0;
  const std::uint8_t* slots = MarkSlots(line);
  return slots ? slots[slot] : 0;
}

int TBrowse::MarkStartColumn(int line, int mark) const {
  const TMarkAttributes* m = Marks.Get(mark);
  if (!m || m->FirstLine < 0 || m->LastLine < 0) return 0;
  if (line < m->Top() || line > m->Bottom()) return 0;
  return line == m->Top() ? m->TopColumn : 1;
}

int TBrowse::MarkEndColumn(int line, int mark) const {
  const TMarkAttributes* m = Marks.Get(mark);
  if (!m || m->FirstLine < 0 || m->LastLine < 0) return 0;
  if (line < m->Top() || line > m->Bottom()) return 0;
  return line == m->Bottom() ? m->BottomColumn : kLineCells;
}
