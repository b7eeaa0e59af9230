// Compact storage for the text of lines that left the screen: fixed chunks of
// bytes addressed by a 32-bit position (chunk number and offset), so a line
// record needs no pointer and no per-line heap block.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

class TTextArena {
 public:
  static constexpr int kChunkBits = 20;  // 1 MB chunks
  static constexpr std::uint32_t kChunkSize = 1u << kChunkBits;
  static constexpr std::size_t kMaxChunks = std::size_t(1) << (32 - kChunkBits);

  // A place for `length` (1..255) bytes. Throws std::bad_alloc when full.
  std::uint32_t Allocate(std::uint32_t length) {
    if (Chunks.empty() || Used + length > kChunkSize) {
      if (Chunks.size() >= kMaxChunks) throw std::bad_alloc();
      // Left uninitialised: untouched pages of a fresh chunk cost no memory.
      Chunks.emplace_back(new char[kChunkSize]);
      Used = 0;
    }
    const std::uint32_t position =
        (static_cast<std::uint32_t>(Chunks.size() - 1) << kChunkBits) | Used;
    Used += length;
    return position;
  }
  char* At(std::uint32_t position) {
    return Chunks[position >> kChunkBits].get() + (position & (kChunkSize - 1));
  }
  const char* At(std::uint32_t position) const {
    return Chunks[position >> kChunkBits].get() + (position & (kChunkSize - 1));
  }
  std::size_t Bytes() const { return Chunks.size() * std::size_t(kChunkSize); }
  void Clear() {
    Chunks.clear();
    Chunks.shrink_to_fit();
    Used = 0;
  }

 private:
  std::vector<std::unique_ptr<char[]>> Chunks;
  std::uint32_t Used = 0;
};
