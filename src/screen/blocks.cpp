#include "screen/blocks.h"

#include <zstd.h>

#include <cstring>
#include <new>

namespace {
// Level 1: the fastest, and on exchange output no worse than the higher ones.
constexpr int kLevel = 1;
// Marks a run of hex bytes in a serialised text: the mark, a count (1..255)
// and that many bytes, each standing for a blank and two upper-case hex
// digits. The mark followed by 0 is the mark byte itself.
constexpr std::uint8_t kHexRun = 0xFE;
constexpr int kShortestRun = 3;  // shorter runs do not pay for the mark and count

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The byte of the " HH" at text[at], or -1.
int HexTriple(const char* text, int at, int length) {
  if (at + 3 > length || text[at] != ' ') return -1;
  const int high = HexValue(text[at + 1]);
  const int low = HexValue(text[at + 2]);
  return high < 0 || low < 0 ? -1 : high * 16 + low;
}

void EncodeText(const char* text, int length, std::string& out) {
  int at = 0;
  while (at < length) {
    int count = 0;
    while (count < 255 && HexTriple(text, at + count * 3, length) >= 0) ++count;
    if (count >= kShortestRun) {
      out += static_cast<char>(kHexRun);
      out += static_cast<char>(count);
      for (int i = 0; i < count; ++i, at += 3) out += static_cast<char>(HexTriple(text, at, length));
      continue;
    }
    const char c = text[at++];
    out += c;
    if (static_cast<std::uint8_t>(c) == kHexRun) out += '\0';
  }
}

struct THexDigits {
  char Triple[256][3];
  THexDigits() {
    static const char kDigits[] = "0123456789ABCDEF";
    for (int b = 0; b < 256; ++b) {
      Triple[b][0] = ' ';
      Triple[b][1] = kDigits[b >> 4];
      Triple[b][2] = kDigits[b & 15];
    }
  }
};

// Decodes one line's text of `stored` bytes from raw[at...] into out;
// false when the bytes run out or a run overshoots the line.
bool DecodeText(std::string_view raw, std::size_t& at, int stored, char* out) {
  static const THexDigits digits;
  int done = 0;
  while (done < stored) {
    if (at >= raw.size()) return false;
    const auto c = static_cast<std::uint8_t>(raw[at++]);
    if (c != kHexRun) {
      out[done++] = static_cast<char>(c);
      continue;
    }
    if (at >= raw.size()) return false;
    const int count = static_cast<std::uint8_t>(raw[at++]);
    if (count == 0) {
      out[done++] = static_cast<char>(kHexRun);
      continue;
    }
    if (done + count * 3 > stored || at + static_cast<std::size_t>(count) > raw.size()) return false;
    for (int i = 0; i < count; ++i, done += 3)
      std::memcpy(out + done, digits.Triple[static_cast<std::uint8_t>(raw[at++])], 3);
  }
  return true;
}

void Put32(std::string& out, std::uint32_t v) {
  const char bytes[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                         static_cast<char>(v >> 24)};
  out.append(bytes, 4);
}

std::uint32_t Get32(const char* p) {
  const auto* b = reinterpret_cast<const std::uint8_t*>(p);
  return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}
}  // namespace

// ---------------------------------------------------------------------------
// Serialised form

void SerializeSegment(const TLineSegment& segment, std::string& out) {
  const auto& records = segment.Records;
  const std::size_t count = records.size();
  out.clear();
  out.reserve(4 + count * 11 + segment.Text.size());
  Put32(out, static_cast<std::uint32_t>(count));
  for (const TLineRecord& r : records) out += static_cast<char>(r.Length);
  for (const TLineRecord& r : records) out += static_cast<char>(r.Stored);
  for (const TLineRecord& r : records) out += static_cast<char>(r.State);
  for (const TLineRecord& r : records) Put32(out, r.Runs);
  // Offsets of loaded lines grow by about a line's length: deltas compress.
  std::int32_t previous = -1;
  for (const TLineRecord& r : records) {
    Put32(out, static_cast<std::uint32_t>(r.FileOffset) - static_cast<std::uint32_t>(previous));
    previous = r.FileOffset;
  }
  for (const TLineRecord& r : records) EncodeText(segment.TextOf(r), r.Stored, out);
}

bool DeserializeSegment(std::string_view raw, TLineSegment& out) {
  if (raw.size() < 4) return false;
  const std::size_t count = Get32(raw.data());
  if (count > static_cast<std::size_t>(kBlockLines) || raw.size() < 4 + count * 11) return false;
  const char* lengths = raw.data() + 4;
  const char* stored = lengths + count;
  const char* states = stored + count;
  const char* runs = states + count;
  const char* offsets = runs + count * 4;
  out.Records.resize(count);
  std::size_t textBytes = 0;
  for (std::size_t i = 0; i < count; ++i) textBytes += static_cast<std::uint8_t>(stored[i]);
  out.Text.resize(textBytes);
  std::uint32_t offset = static_cast<std::uint32_t>(-1);
  std::size_t at = 4 + count * 11;
  std::uint32_t position = 0;
  for (std::size_t i = 0; i < count; ++i) {
    TLineRecord& r = out.Records[i];
    r.Length = static_cast<std::uint8_t>(lengths[i]);
    r.Stored = static_cast<std::uint8_t>(stored[i]);
    r.State = static_cast<std::uint8_t>(states[i]);
    r.Runs = Get32(runs + i * 4);
    offset += Get32(offsets + i * 4);
    r.FileOffset = static_cast<std::int32_t>(offset);
    r.TextPos = position;
    if (!DecodeText(raw, at, r.Stored, out.Text.data() + position)) return false;
    position += r.Stored;
  }
  return at == raw.size();
}

// ---------------------------------------------------------------------------
// Codec

struct TBlockCodec::TContexts {
  ZSTD_CCtx* Compress = nullptr;
  ZSTD_DCtx* Decompress = nullptr;
  ~TContexts() {
    ZSTD_freeCCtx(Compress);
    ZSTD_freeDCtx(Decompress);
  }
};

TBlockCodec::TBlockCodec() : Contexts(std::make_unique<TContexts>()) {}

TBlockCodec::~TBlockCodec() = default;

TPackedBlock TBlockCodec::Pack(std::string_view raw) {
  if (!Contexts->Compress && !(Contexts->Compress = ZSTD_createCCtx())) throw std::bad_alloc();
  Scratch.resize(ZSTD_compressBound(raw.size()));
  const std::size_t size =
      ZSTD_compressCCtx(Contexts->Compress, Scratch.data(), Scratch.size(), raw.data(), raw.size(), kLevel);
  if (ZSTD_isError(size)) throw std::bad_alloc();
  // Exactly sized: a week of blocks must not carry the bound's slack.
  TPackedBlock block;
  block.Data.reset(new char[size]);
  std::memcpy(block.Data.get(), Scratch.data(), size);
  block.Size = static_cast<std::uint32_t>(size);
  block.RawSize = static_cast<std::uint32_t>(raw.size());
  return block;
}

bool TBlockCodec::Unpack(const TPackedBlock& block, TLineSegment& out) {
  if (!Contexts->Decompress && !(Contexts->Decompress = ZSTD_createDCtx())) throw std::bad_alloc();
  Scratch.resize(block.RawSize);
  const std::size_t size =
      ZSTD_decompressDCtx(Contexts->Decompress, Scratch.data(), Scratch.size(), block.Data.get(), block.Size);
  if (ZSTD_isError(size) || size != block.RawSize) return false;
  return DeserializeSegment(Scratch, out);
}

std::size_t TBlockCodec::Bytes() const {
  return ZSTD_sizeof_CCtx(Contexts->Compress) + ZSTD_sizeof_DCtx(Contexts->Decompress) + Scratch.capacity();
}

// ---------------------------------------------------------------------------
// Worker

TBlockPacker::~TBlockPacker() {
  {
    std::lock_guard<std::mutex> hold(Lock);
    Stopping = true;
  }
  Wake.notify_all();
  if (Worker.joinable()) Worker.join();
}

void TBlockPacker::Submit(TJob job) {
  {
    std::lock_guard<std::mutex> hold(Lock);
    Queue.push_back(std::move(job));
    ++Submitted;
  }
  if (!Worker.joinable()) Worker = std::thread([this] { Run(); });
  Wake.notify_one();
}

std::vector<TBlockPacker::TJob> TBlockPacker::Collect(bool wait) {
  std::unique_lock<std::mutex> hold(Lock);
  if (wait) Finished.wait(hold, [&] { return DoneCount.load() == Submitted; });
  std::vector<TJob> done = std::move(Done);
  Done.clear();
  Collected += done.size();
  return done;
}

void TBlockPacker::Run() {
  TBlockCodec codec;
  std::unique_lock<std::mutex> hold(Lock);
  while (true) {
    Wake.wait(hold, [&] { return Stopping || !Queue.empty(); });
    if (Stopping) return;  // the store is going: its blocks are not wanted
    TJob job = std::move(Queue.front());
    Queue.pop_front();
    hold.unlock();
    try {
      job.Packed = codec.Pack(job.Raw);
    } catch (const std::bad_alloc&) {
      job.Failed = true;  // the block stays warm
    }
    std::string().swap(job.Raw);
    WorkerBytes.store(codec.Bytes(), std::memory_order_relaxed);
    hold.lock();
    Done.push_back(std::move(job));
    DoneCount.fetch_add(1, std::memory_order_release);
    Finished.notify_all();
  }
}
