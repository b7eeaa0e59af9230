#include "trace/bytesource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "log/errors.h"

TReadStatus TByteSource::ReadExact(std::int64_t offset, void* out, std::size_t n) const {
  if (offset < 0) return TReadStatus::Fail(kErrorNegativeSeek);
  const std::uint64_t at = static_cast<std::uint64_t>(offset);
  if (at >= Size()) return TReadStatus::End();
  std::uint32_t code = 0;
  const std::int64_t got = ReadSome(at, out, n, &code);
  if (got < 0) return TReadStatus::Fail(code);
  if (static_cast<std::size_t>(got) < n) return TReadStatus::Fail(kErrorHandleEof);
  return TReadStatus::Good();
}

std::unique_ptr<TFileSource> TFileSource::Open(const std::string& path, std::uint32_t* code) {
  // Non-blocking, so that a FIFO does not wait for a writer; only a regular
  // file is read (a device such as /dev/zero would never end).
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (code) *code = SystemErrorCode(errno);
    return nullptr;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    if (code) *code = SystemErrorCode(EISDIR);
    return nullptr;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return std::unique_ptr<TFileSource>(new TFileSource(fd));
}

TFileSource::~TFileSource() { ::close(Fd); }

std::uint64_t TFileSource::Size() const {
  struct stat st;
  if (::fstat(Fd, &st) != 0 || st.st_size < 0) return 0;
  return static_cast<std::uint64_t>(st.st_size);
}

std::int64_t TFileSource::ReadSome(std::uint64_t offset, void* out, std::size_t n,
                                   std::uint32_t* code) const {
  auto* dest = static_cast<char*>(out);
  std::size_t done = 0;
  while (done < n) {
    const ssize_t got = ::pread(Fd, dest + done, n - done, static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      if (code) *code = SystemErrorCode(errno);
      return -1;
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(done);
}

std::int64_t TMemorySource::ReadSome(std::uint64_t offset, void* out, std::size_t n,
                                     std::uint32_t*) const {
  if (offset >= Bytes->size()) return 0;
  const std::size_t count = std::min<std::uint64_t>(n, Bytes->size() - offset);
  std::memcpy(out, Bytes->data() + offset, count);
  return static_cast<std::int64_t>(count);
}
