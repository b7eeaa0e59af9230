// The store's backing file: a plain text file read into the store as disk
// lines (the store keeps the text: the file may change behind its back), and
// the store written out as text.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/desktop.h"
#include "log/errors.h"
#include "screen/store.h"

namespace {
constexpr std::size_t kLoadBlock = 2049;
constexpr int kBlocksPerPump = 201;
constexpr std::size_t kBlocksPerRead = 64;
constexpr int kLinesPerPump = 201;
constexpr std::size_t kSaveBuffer = 64 * 1024;

// Line ends: CR, LF, CR LF and LF CR each end one line; a second CR after
// a CR (or LF after LF) ends an empty line. A line longer than 255
// characters continues as a new line after its 255th.
class TLineSplitter {
 public:
  // Bytes of the file from `offset`; emit(text, length, lineOffset) gets
  // each line as it ends.
  template <typename TEmit>
  void Feed(const char* data, std::size_t count, std::int64_t offset, const TEmit& emit) {
    const char* at = data;
    const char* const end = data + count;
    while (at < end) {
      // The text up to the next line end goes across in one piece.
      const char* stop = static_cast<const char*>(std::memchr(at, '\r', static_cast<std::size_t>(end - at)));
      if (!stop) stop = end;
      if (const void* lf = std::memchr(at, '\n', static_cast<std::size_t>(stop - at))) stop = static_cast<const char*>(lf);
      if (stop > at) {
        PairWith = 0;
        Take(at, stop, offset + (at - data), emit);
      }
      at = stop;
      if (at == end) break;
      const char c = *at++;
      if (PairWith == c) {
        PairWith = 0;  // second half of CR LF or LF CR
      } else {
        emit(Text, Length, LineStart);
        PairWith = c == '\r' ? '\n' : '\r';
      }
      LineStart = offset + (at - data);
      Length = 0;
    }
  }
  // The last line when the file does not end with a line end.
  template <typename TEmit>
  void Finish(const TEmit& emit) {
    if (Length > 0) emit(Text, Length, LineStart);
  }

 private:
  template <typename TEmit>
  void Take(const char* from, const char* to, std::int64_t offset, const TEmit& emit) {
    while (from < to) {
      if (Length == TBrowse::kMaxLineLength) {
        emit(Text, Length, LineStart);
        LineStart = offset;
        Length = 0;
      }
      const int n = static_cast<int>(std::min<std::ptrdiff_t>(to - from, TBrowse::kMaxLineLength - Length));
      std::memcpy(Text + Length, from, static_cast<std::size_t>(n));
      Length += n;
      from += n;
      offset += n;
    }
  }

  char Text[TBrowse::kMaxLineLength];
  int Length = 0;
  std::int64_t LineStart = 0;
  char PairWith = 0;  // the end character that may pair with the previous one
};

// Offsets are 32-bit in the line table; lines beyond 2 GB are still loaded
// (the store holds their text) but carry no offset.
std::int32_t LineOffset(std::int64_t offset) {
  return offset <= INT32_MAX ? static_cast<std::int32_t>(offset) : -1;
}

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}
}  // namespace

int TBrowse::OpenFile() {
  LastError = 0;
  if (FileName.empty()) return -1;
  CloseFile();
  const bool readOnly = Medium == mtDiskReadOnly;
  const int fd = open(FileName.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
  if (fd < 0) {
    LastError = SystemErrorCode(errno);
    return -1;
  }
  Fd = fd;
  StreamState = readOnly ? 1 : 2;
  return 0;
}

void TBrowse::CloseFile() {
  if (Fd >= 0) close(Fd);
  Fd = -1;
  StreamState = 0;
}

int TBrowse::LoadFile() {
  LastError = 0;
  if (FileType != ftText) {
    Damage.All = Damage.ShowTop = true;
    NoteDamage();
    return 0;
  }
  if (Fd < 0) {
    LastError = SystemErrorCode(EBADF);
    return -1;
  }
  struct stat info {};
  const std::int64_t size = fstat(Fd, &info) == 0 ? info.st_size : 0;
  TTextAttributes look;
  look.Foreground = colors::Black;
  look.Background = colors::White;
  look.Style = 0;
  look.Size = 8;
  look.FontName = "Courier New";
  const int attribute = Attributes.Intern(look);
  if (Desktop) Desktop->BeginProgress("LOADING", size);

  // The file is read many blocks at a time; progress, cancelling and the
  // message pump still go by blocks of 2049 bytes.
  std::vector<char> buffer(kLoadBlock * kBlocksPerRead);
  TLineSplitter lines;
  const auto emit = [&](const char* text, int length, std::int64_t start) {
    AppendDiskLine(text, length, LineOffset(start), attribute);
  };
  std::int64_t offset = 0;  // of the next byte read
  int blocks = 0;
  int result = 0;
  bool cancelled = false;
  while (!cancelled) {
    const ssize_t n = pread(Fd, buffer.data(), buffer.size(), static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      LastError = SystemErrorCode(errno);
      result = -1;
      break;
    }
    if (n == 0) break;
    for (ssize_t at = 0; at < n && !cancelled; at += static_cast<ssize_t>(kLoadBlock)) {
      const auto count = static_cast<std::size_t>(std::min<ssize_t>(n - at, kLoadBlock));
      lines.Feed(buffer.data() + at, count, offset, emit);
      offset += static_cast<std::int64_t>(count);
      if (++blocks % kBlocksPerPump == 0 && Desktop) Desktop->ProcessPendingMessages();
      if (Desktop && !Desktop->Progress(offset)) cancelled = true;
    }
  }
  if (!cancelled && result == 0) lines.Finish(emit);
  if (Desktop) Desktop->EndProgress();
  Damage.All = Damage.ShowTop = true;
  NoteDamage();
  return result;
}

int TBrowse::SaveToFile(const std::string& name) {
  LastError = 0;
  if (name.empty()) return -1;
  // Saving over the open backing file must not destroy the disk lines before
  // they are read: write beside it and rename at the end.
  std::string target = name;
  struct stat backing {}, existing {};
  const bool overBacking = Fd >= 0 && fstat(Fd, &backing) == 0 &&
                           stat(name.c_str(), &existing) == 0 &&
                           backing.st_dev == existing.st_dev && backing.st_ino == existing.st_ino;
  if (overBacking) target = name + ".~sv";
  const int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    LastError = SystemErrorCode(errno);
    return -1;
  }
  const auto fail = [&](int error) {
    LastError = SystemErrorCode(error);
    close(fd);
    if (overBacking) unlink(target.c_str());
    if (Desktop) Desktop->EndProgress();
    return -1;
  };
  if (Desktop) Desktop->BeginProgress("SAVING", Count());
  std::string out;
  out.reserve(kSaveBuffer + 512);
  for (int line = 0; line < Count(); ++line) {
    const std::string_view text = StoredText(line);
    std::size_t keep = text.size();
    while (keep > 0 && text[keep - 1] == ' ') --keep;
    out.append(text.data(), keep);
    out += "\r\n";
    if (out.size() >= kSaveBuffer) {
      if (!WriteAll(fd, out)) return fail(errno);
      out.clear();
    }
    if ((line + 1) % kLinesPerPump == 0 && Desktop) Desktop->ProcessPendingMessages();
    if (Desktop && !Desktop->Progress(line + 1)) {
      // What was written stays; the caller learns the file is incomplete.
      const bool written = WriteAll(fd, out);
      close(fd);
      if (overBacking) unlink(target.c_str());
      Desktop->EndProgress();
      if (!written) LastError = SystemErrorCode(errno);
      return written ? kSaveCancelled : -1;
    }
  }
  if (!WriteAll(fd, out)) return fail(errno);
  if (close(fd) != 0) {
    LastError = SystemErrorCode(errno);
    if (overBacking) unlink(target.c_str());
    if (Desktop) Desktop->EndProgress();
    return -1;
  }
  if (Desktop) Desktop->EndProgress();
  if (overBacking && std::rename(target.c_str(), name.c_str()) != 0) {
    LastError = SystemErrorCode(errno);
    unlink(target.c_str());
    return -1;
  }
  return 0;
}
