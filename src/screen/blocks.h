// The store's lines in blocks of kBlockLines: a block is either warm (line
// records pointing into one text buffer, written in place) or packed (the
// same records and texts serialised column by column and compressed with
// zstd). Old blocks are packed so a week of output fits in memory; a packed
// block is unpacked whole when one of its lines is read.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "screen/runs.h"

inline constexpr int kBlockShift = 11;
inline constexpr int kBlockLines = 1 << kBlockShift;

// A line in its warm form. The text is Length characters: the Stored bytes
// at TextPos in the block's text, then blanks.
struct TLineRecord {
  TRunPool::THandle Runs = 0;
  std::uint32_t TextPos = 0;
  std::int32_t FileOffset = -1;
  std::uint8_t Length = 0;
  std::uint8_t Stored = 0;
  std::uint8_t State = 0;
};

// The lines of one block in warm form.
struct TLineSegment {
  std::vector<TLineRecord> Records;
  std::string Text;

  const char* TextOf(const TLineRecord& record) const { return Text.data() + record.TextPos; }
  // Bytes held, for the store's accounting.
  std::size_t Bytes() const { return Records.capacity() * sizeof(TLineRecord) + Text.capacity(); }
};

// A block in packed form: the serialised segment as two zstd frames, the
// hex runs' bytes apart from the rest.
struct TPackedBlock {
  std::unique_ptr<char[]> Data;
  std::uint32_t Size = 0;
  std::uint32_t FirstSize = 0;  // of the first frame
  std::uint32_t RawSize = 0;    // serialised bytes before compression
};

// The serialised form: the record fields column by column, then the texts,
// where runs of hex bytes (" 3F A2 07 ...") are written as binary bytes
// after all texts; hex dumps are the bulk of exchange traces and compress
// badly as text.
void SerializeSegment(const TLineSegment& segment, std::string& out);
// Rebuilds the segment; false when the bytes are not a serialised segment.
bool DeserializeSegment(std::string_view raw, TLineSegment& out);

// Compression and decompression with their reusable contexts.
class TBlockCodec {
 public:
  TBlockCodec();
  ~TBlockCodec();
  TBlockCodec(const TBlockCodec&) = delete;
  TBlockCodec(TBlockCodec&&) = default;
  TBlockCodec& operator=(const TBlockCodec&) = delete;

  // Throws std::bad_alloc when memory runs out.
  TPackedBlock Pack(std::string_view raw);
  TPackedBlock Pack(const TLineSegment& segment);
  // False when the block does not unpack (never for a block made by Pack).
  bool Unpack(const TPackedBlock& block, TLineSegment& out);
  // The contexts' and buffers' memory.
  std::size_t Bytes() const;

 private:
  struct TContexts;
  std::unique_ptr<TContexts> Contexts;
  std::string Scratch;
  std::string Serialized;
};

// A worker thread that compresses serialised blocks while the window thread
// goes on taking lines in. Results are collected by the owner's thread.
class TBlockPacker {
 public:
  struct TJob {
    int Block = 0;
    std::uint32_t Version = 0;     // the block's version when serialised
    std::uint32_t Generation = 0;  // the store's generation (Clear starts a new one)
    TLineSegment Segment;          // a copy: the window thread may go on writing the block
    TPackedBlock Packed;
    bool Failed = false;
  };

  TBlockPacker() = default;
  ~TBlockPacker();
  TBlockPacker(const TBlockPacker&) = delete;
  TBlockPacker& operator=(const TBlockPacker&) = delete;

  void Submit(TJob job);
  // Jobs submitted and not yet collected.
  std::size_t InFlight() const { return Submitted - Collected; }
  // Cheap check for finished jobs, for every added line.
  bool HasDone() const { return DoneCount.load(std::memory_order_acquire) != Collected; }
  // Moves the finished jobs out; with wait, first waits for every job.
  std::vector<TJob> Collect(bool wait);
  // The worker's codec memory.
  std::size_t Bytes() const { return WorkerBytes.load(std::memory_order_relaxed); }

 private:
  void Run();

  std::thread Worker;
  std::mutex Lock;
  std::condition_variable Wake, Finished;
  std::deque<TJob> Queue;
  std::vector<TJob> Done;
  std::atomic<std::size_t> DoneCount{0};
  std::atomic<std::size_t> WorkerBytes{0};
  std::size_t Submitted = 0;
  std::size_t Collected = 0;
  bool Stopping = false;
};
