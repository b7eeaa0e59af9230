#include "screen/blocks.h"

#include <zstd.h>

#include <algorithm>
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

struct THexValues {
  std::int8_t Of[256];
  THexValues() {
    for (int c = 0; c < 256; ++c) Of[c] = -1;
    for (int c = '0'; c <= '9'; ++c) Of[c] = static_cast<std::int8_t>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c) Of[c] = static_cast<std::int8_t>(c - 'A' + 10);
  }
};
const THexValues kHexValues;

// The byte of the " HH" at text[at], or -1.
int HexTriple(const char* text, int at, int length) {
  if (at + 3 > length || text[at] != ' ') return -1;
  const int high = kHexValues.Of[static_cast<std::uint8_t>(text[at + 1])];
  const int low = kHexValues.Of[static_cast<std::uint8_t>(text[at + 2])];
  return (high | low) < 0 ? -1 : high * 16 + low;
}

// Plain bytes, the mark byte doubled as mark and 0.
char* CopyPlain(const char* text, int length, char* out) {
  while (length > 0) {
    const void* mark = std::memchr(text, kHexRun, static_cast<std::size_t>(length));
    const int plain = mark ? static_cast<int>(static_cast<const char*>(mark) - text) : length;
    std::memcpy(out, text, static_cast<std::size_t>(plain));
    out += plain;
    if (!mark) break;
    *out++ = static_cast<char>(kHexRun);
    *out++ = '\0';
    text += plain + 1;
    length -= plain + 1;
  }
  return out;
}

// The text with its hex runs as the mark and a count, the runs' bytes at
// hex. Writes at most twice the length at out; returns the end of each.
char* EncodeText(const char* text, int length, char* out, char*& hex) {
  int at = 0;
  while (at < length) {
    // Runs start at a blank: what lies before the next one is plain.
    const void* blank = std::memchr(text + at, ' ', static_cast<std::size_t>(length - at));
    const int next = blank ? static_cast<int>(static_cast<const char*>(blank) - text) : length;
    out = CopyPlain(text + at, next - at, out);
    at = next;
    if (at == length) break;
    // The bytes go to hex as they are found; a run too short takes them back.
    int count = 0;
    for (int byte; count < 255 && (byte = HexTriple(text, at + count * 3, length)) >= 0; ++count)
      hex[count] = static_cast<char>(byte);
    if (count < kShortestRun) {
      *out++ = ' ';
      ++at;
      continue;
    }
    *out++ = static_cast<char>(kHexRun);
    *out++ = static_cast<char>(count);
    hex += count;
    at += count * 3;
  }
  return out;
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

// Decodes one line's text of `stored` bytes from text[at...] (runs' bytes
// from hex[hexAt...]) into out; false when the bytes run out or a run
// overshoots the line.
bool DecodeText(std::string_view text, std::size_t& at, std::string_view hex, std::size_t& hexAt, int stored,
                char* out) {
  static const THexDigits digits;
  int done = 0;
  while (done < stored) {
    // Plain bytes up to the next mark go across at once.
    const std::size_t span = std::min<std::size_t>(static_cast<std::size_t>(stored - done), text.size() - at);
    const void* mark = std::memchr(text.data() + at, kHexRun, span);
    const std::size_t plain = mark ? static_cast<const char*>(mark) - (text.data() + at) : span;
    std::memcpy(out + done, text.data() + at, plain);
    done += static_cast<int>(plain);
    at += plain;
    if (done == stored) break;
    if (!mark || at + 1 >= text.size()) return false;
    const int count = static_cast<std::uint8_t>(text[at + 1]);
    at += 2;
    if (count == 0) {
      out[done++] = static_cast<char>(kHexRun);
      continue;
    }
    if (done + count * 3 > stored || hexAt + static_cast<std::size_t>(count) > hex.size()) return false;
    for (int i = 0; i < count; ++i, done += 3)
      std::memcpy(out + done, digits.Triple[static_cast<std::uint8_t>(hex[hexAt++])], 3);
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

// Layout: line count, hex byte count, the record fields column by column,
// the texts, then the hex runs' bytes (kept apart: random bytes among text
// would make every literal of the block cost a byte).
void SerializeSegment(const TLineSegment& segment, std::string& out) {
  const auto& records = segment.Records;
  const std::size_t count = records.size();
  out.clear();
  out.reserve(8 + count * 11 + segment.Text.size());
  Put32(out, static_cast<std::uint32_t>(count));
  Put32(out, 0);
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
  // Room for the worst case (every byte the mark), trimmed at the end.
  std::size_t textBytes = 0;
  for (const TLineRecord& r : records) textBytes += r.Stored;
  const std::size_t head = out.size();
  out.resize(head + 2 * textBytes);
  std::string hex(textBytes / 3 + 1, '\0');
  char* const textStart = out.data() + head;
  char* at = textStart;
  char* hexAt = hex.data();
  for (const TLineRecord& r : records) at = EncodeText(segment.TextOf(r), r.Stored, at, hexAt);
  out.resize(head + static_cast<std::size_t>(at - textStart));
  const auto hexBytes = static_cast<std::uint32_t>(hexAt - hex.data());
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<char>(hexBytes >> (8 * i));
  out.append(hex.data(), hexBytes);
}

static std::size_t SerializedHexBytes(std::string_view raw) { return raw.size() < 8 ? 0 : Get32(raw.data() + 4); }

bool DeserializeSegment(std::string_view raw, TLineSegment& out) {
  if (raw.size() < 8) return false;
  const std::size_t count = Get32(raw.data());
  const std::size_t hexBytes = Get32(raw.data() + 4);
  const std::size_t head = 8 + count * 11;
  if (count > static_cast<std::size_t>(kBlockLines) || raw.size() < head || raw.size() - head < hexBytes) return false;
  const char* lengths = raw.data() + 8;
  const char* stored = lengths + count;
  const char* states = stored + count;
  const char* runs = states + count;
  const char* offsets = runs + count * 4;
  const std::string_view text = raw.substr(0, raw.size() - hexBytes);
  const std::string_view hex = raw.substr(raw.size() - hexBytes);
  out.Records.resize(count);
  std::size_t textBytes = 0;
  for (std::size_t i = 0; i < count; ++i) textBytes += static_cast<std::uint8_t>(stored[i]);
  out.Text.resize(textBytes);
  std::uint32_t offset = static_cast<std::uint32_t>(-1);
  std::size_t at = head;
  std::size_t hexAt = 0;
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
    if (!DecodeText(text, at, hex, hexAt, r.Stored, out.Text.data() + position)) return false;
    position += r.Stored;
  }
  return at == text.size() && hexAt == hex.size();
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

// Two frames: the block without its hex bytes, then those bytes.
TPackedBlock TBlockCodec::Pack(std::string_view raw) {
  if (!Contexts->Compress && !(Contexts->Compress = ZSTD_createCCtx())) throw std::bad_alloc();
  const std::size_t hexBytes = std::min(SerializedHexBytes(raw), raw.size());
  const std::string_view parts[2] = {raw.substr(0, raw.size() - hexBytes), raw.substr(raw.size() - hexBytes)};
  Scratch.resize(ZSTD_compressBound(parts[0].size()) + ZSTD_compressBound(parts[1].size()));
  std::size_t sizes[2] = {0, 0};
  for (int i = 0; i < 2; ++i) {
    if (parts[i].empty()) continue;
    char* at = Scratch.data() + sizes[0];
    sizes[i] = ZSTD_compressCCtx(Contexts->Compress, at, Scratch.size() - sizes[0], parts[i].data(), parts[i].size(),
                                 kLevel);
    if (ZSTD_isError(sizes[i])) throw std::bad_alloc();
  }
  // Exactly sized: a week of blocks must not carry the bound's slack.
  const std::size_t size = sizes[0] + sizes[1];
  TPackedBlock block;
  block.Data.reset(new char[size]);
  std::memcpy(block.Data.get(), Scratch.data(), size);
  block.Size = static_cast<std::uint32_t>(size);
  block.FirstSize = static_cast<std::uint32_t>(sizes[0]);
  block.RawSize = static_cast<std::uint32_t>(raw.size());
  return block;
}

TPackedBlock TBlockCodec::Pack(const TLineSegment& segment) {
  SerializeSegment(segment, Serialized);
  return Pack(Serialized);
}

bool TBlockCodec::Unpack(const TPackedBlock& block, TLineSegment& out) {
  if (!Contexts->Decompress && !(Contexts->Decompress = ZSTD_createDCtx())) throw std::bad_alloc();
  Scratch.resize(block.RawSize);
  std::size_t done = 0;
  const std::uint32_t frames[2][2] = {{0, block.FirstSize}, {block.FirstSize, block.Size - block.FirstSize}};
  for (const auto& [start, size] : frames) {
    if (size == 0) continue;
    const std::size_t n = ZSTD_decompressDCtx(Contexts->Decompress, Scratch.data() + done, Scratch.size() - done,
                                              block.Data.get() + start, size);
    if (ZSTD_isError(n)) return false;
    done += n;
  }
  return done == block.RawSize && DeserializeSegment(Scratch, out);
}

std::size_t TBlockCodec::Bytes() const {
  return ZSTD_sizeof_CCtx(Contexts->Compress) + ZSTD_sizeof_DCtx(Contexts->Decompress) + Scratch.capacity() +
         Serialized.capacity();
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
  // The thread first: when none can be made, nothing waits in the queue.
  if (!Worker.joinable()) Worker = std::thread([this] { Run(); });
  {
    std::lock_guard<std::mutex> hold(Lock);
    Queue.push_back(std::move(job));
    ++Submitted;
  }
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
      job.Packed = codec.Pack(job.Segment);
    } catch (const std::bad_alloc&) {
      job.Failed = true;  // the block stays warm
    }
    job.Segment = TLineSegment{};
    WorkerBytes.store(codec.Bytes(), std::memory_order_relaxed);
    hold.lock();
    Done.push_back(std::move(job));
    DoneCount.fetch_add(1, std::memory_order_release);
    Finished.notify_all();
  }
}
