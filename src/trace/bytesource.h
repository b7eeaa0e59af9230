// Random-access reading of one binary file of the mode definition set, from
// disk or from memory (tests, the fuzzer, the compiler's output).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "log/errors.h"  // kErrorHandleEof: a record that reaches past the end

// A system error code used for reads that fail without an errno.
constexpr std::uint32_t kErrorNegativeSeek = 131; // a negative record index or offset

// The outcome of reading n bytes at an offset.
struct TReadStatus {
  enum TKind {
    Ok,       // all n bytes were read
    PastEnd,  // the offset is at or beyond the end of the file: nothing there
    Failed,   // a short read (the record is cut off) or an I/O error
  };
  TKind Kind = Ok;
  std::uint32_t Code = 0;  // system error code when Failed

  bool ok() const { return Kind == Ok; }
  static TReadStatus Good() { return {}; }
  static TReadStatus End() { return {PastEnd, kErrorHandleEof}; }
  static TReadStatus Fail(std::uint32_t code) { return {Failed, code}; }
};

class TByteSource {
 public:
  virtual ~TByteSource() = default;

  // The current size in bytes.
  virtual std::uint64_t Size() const = 0;

  // Reads up to n bytes at offset into out; returns how many were read
  // (fewer only at the end of the file), or -1 with *code set on an I/O error.
  virtual std::int64_t ReadSome(std::uint64_t offset, void* out, std::size_t n,
                                std::uint32_t* code) const = 0;

  // Reads exactly n bytes at offset. A negative offset fails with
  // kErrorNegativeSeek, an offset at or past the end gives PastEnd, a read cut
  // short by the end fails with kErrorHandleEof.
  TReadStatus ReadExact(std::int64_t offset, void* out, std::size_t n) const;
};

// A file opened read-only; reads with pread, so no file position is shared.
class TFileSource final : public TByteSource {
 public:
  // nullptr when the file cannot be opened; *code holds the system error code.
  static std::unique_ptr<TFileSource> Open(const std::string& path, std::uint32_t* code);
  ~TFileSource() override;

  std::uint64_t Size() const override;
  std::int64_t ReadSome(std::uint64_t offset, void* out, std::size_t n,
                        std::uint32_t* code) const override;

 private:
  explicit TFileSource(int fd) : Fd(fd) {}
  int Fd;
};

// Bytes held in memory (shared, so opening the same bytes again copies nothing).
class TMemorySource : public TByteSource {
 public:
  explicit TMemorySource(std::string bytes) : Bytes(std::make_shared<const std::string>(std::move(bytes))) {}
  explicit TMemorySource(std::shared_ptr<const std::string> bytes) : Bytes(std::move(bytes)) {}

  std::uint64_t Size() const override { return Bytes->size(); }
  std::int64_t ReadSome(std::uint64_t offset, void* out, std::size_t n,
                        std::uint32_t* code) const override;

 private:
  std::shared_ptr<const std::string> Bytes;
};
