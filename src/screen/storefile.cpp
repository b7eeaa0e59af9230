// The store's backing file: a plain text file read into the store as disk
// lines (the store keeps the text: the file may change behind its back), and
// the store written out as text.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>

#include "core/desktop.h"
#include "log/errors.h"
#include "screen/store.h"

namespace {
constexpr std::size_t kLoadBlock = 2049;
constexpr int kBlocksPerPump = 201;
constexpr int kLinesPerPump = 201;
constexpr std::size_t kSaveBuffer = 64 * 1024;

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

  // Line ends: CR, LF, CR LF and LF CR each end one line; a second CR after
  // a CR (or LF after LF) ends an empty line. A line longer than 255
  // characters continues as a new line after its 255th.
  char block[kLoadBlock];
  char text[kMaxLineLength];
  std::int64_t offset = 0;  // of the next byte read
  std::int64_t lineStart = 0;
  int length = 0;
  char pairWith = 0;  // the end character that may pair with the previous one
  int blocks = 0;
  int result = 0;
  bool cancelled = false;
  while (!cancelled) {
    const ssize_t n = pread(Fd, block, kLoadBlock, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      LastError = SystemErrorCode(errno);
      result = -1;
      break;
    }
    if (n == 0) break;
    for (ssize_t i = 0; i < n; ++i) {
      const char c = block[i];
      const std::int64_t at = offset + i;
      if (c == '\r' || c == '\n') {
        if (pairWith == c) {
          pairWith = 0;  // second half of CR LF or LF CR
        } else {
          AppendDiskLine(text, length, LineOffset(lineStart), attribute);
          pairWith = c == '\r' ? '\n' : '\r';
        }
        lineStart = at + 1;
        length = 0;
        continue;
      }
      pairWith = 0;
      if (length == kMaxLineLength) {
        AppendDiskLine(text, length, LineOffset(lineStart), attribute);
        lineStart = at;
        length = 0;
      }
      text[length++] = c;
    }
    offset += n;
    if (++blocks % kBlocksPerPump == 0 && Desktop) Desktop->ProcessPendingMessages();
    if (Desktop && !Desktop->Progress(offset)) cancelled = true;
  }
  if (!cancelled && result == 0 && length > 0) AppendDiskLine(text, length, LineOffset(lineStart), attribute);
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
