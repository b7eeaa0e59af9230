#include "log/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/paths.h"

int TFile::OpenWith(const std::string& name, int flags) {
  Close();
  if (Faults && Faults->OpenErrno != 0) {
    const int error = Faults->OpenErrno;
    Faults->OpenErrno = 0;
    return error;
  }
  if (name.empty()) return ENOENT;
  const std::string path = NativeFileName(name);
  // Non-blocking first: a name from a settings file may be a FIFO or a
  // terminal, and opening or reading one must not hang the program.
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const int error = errno;
    ::close(fd);
    return error;
  }
  if (S_ISDIR(st.st_mode)) {
    ::close(fd);
    return EISDIR;
  }
  if (S_ISREG(st.st_mode)) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  Fd = fd;
  return 0;
}

int TFile::OpenRead(const std::string& name) { return OpenWith(name, O_RDONLY); }
int TFile::OpenReadWrite(const std::string& name) { return OpenWith(name, O_RDWR); }
int TFile::Create(const std::string& name) { return OpenWith(name, O_RDWR | O_CREAT | O_TRUNC); }
int TFile::CreateNew(const std::string& name) { return OpenWith(name, O_RDWR | O_CREAT | O_EXCL); }

TIoResult TFile::Write(const void* data, std::size_t count) {
  TIoResult result;
  if (Fd < 0) {
    result.Error = EBADF;
    return result;
  }
  std::size_t limit = count;
  if (Faults && (Faults->WriteErrno != 0 || Faults->ShortWrite >= 0)) {
    if (Faults->WritesBeforeFault > 0) {
      --Faults->WritesBeforeFault;
    } else if (Faults->WriteErrno != 0) {
      result.Error = Faults->WriteErrno;
      Faults->WriteErrno = 0;
      return result;
    } else {
      if (static_cast<std::size_t>(Faults->ShortWrite) < limit) {
        limit = static_cast<std::size_t>(Faults->ShortWrite);
      }
      Faults->ShortWrite = -1;
      if (limit < count) result.Error = ENOSPC;
    }
  }
  const char* bytes = static_cast<const char*>(data);
  while (result.Done < limit) {
    const ssize_t n = ::write(Fd, bytes + result.Done, limit - result.Done);
    if (n < 0) {
      if (errno == EINTR) continue;
      result.Error = errno;
      return result;
    }
    if (n == 0) {
      result.Error = ENOSPC;
      return result;
    }
    result.Done += static_cast<std::size_t>(n);
  }
  return result;
}

TIoResult TFile::Read(void* data, std::size_t count) {
  TIoResult result;
  if (Fd < 0) {
    result.Error = EBADF;
    return result;
  }
  char* bytes = static_cast<char*>(data);
  while (result.Done < count) {
    const ssize_t n = ::read(Fd, bytes + result.Done, count - result.Done);
    if (n < 0) {
      if (errno == EINTR) continue;
      result.Error = errno;
      return result;
    }
    if (n == 0) break;
    result.Done += static_cast<std::size_t>(n);
  }
  return result;
}

int TFile::Seek(std::uint64_t position) {
  if (Fd < 0) return EBADF;
  return ::lseek(Fd, static_cast<off_t>(position), SEEK_SET) < 0 ? errno : 0;
}

int TFile::SeekEnd() {
  if (Fd < 0) return EBADF;
  return ::lseek(Fd, 0, SEEK_END) < 0 ? errno : 0;
}

int TFile::Sync() {
  if (Fd < 0) return EBADF;
  return ::fsync(Fd) != 0 ? errno : 0;
}

std::int64_t TFile::Size() const {
  struct stat st;
  if (Fd < 0 || ::fstat(Fd, &st) != 0) return -1;
  return st.st_size;
}

bool TFile::IsFile(const std::string& name) const {
  struct stat open, named;
  if (Fd < 0 || name.empty() || ::fstat(Fd, &open) != 0) return false;
  if (::stat(NativeFileName(name).c_str(), &named) != 0) return false;
  return open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

void TFile::Close() {
  if (Fd < 0) return;
  ::close(Fd);
  Fd = -1;
}

bool FileCanBeOpened(const std::string& name) {
  TFile file;
  return file.OpenRead(name) == 0;
}

bool FileExists(const std::string& name) {
  if (name.empty()) return false;
  struct stat st;
  return ::lstat(NativeFileName(name).c_str(), &st) == 0;
}

int ReadWholeFile(const std::string& name, std::size_t limit, std::string& text) {
  text.clear();
  TFile file;
  if (const int error = file.OpenRead(name); error != 0) return error;
  char chunk[65536];
  for (;;) {
    const TIoResult r = file.Read(chunk, sizeof chunk);
    if (r.Error != 0 && r.Error != EAGAIN) return r.Error;
    if (text.size() + r.Done > limit) {
      text.clear();
      return ENOMEM;
    }
    text.append(chunk, r.Done);
    if (r.Done < sizeof chunk) return 0;
  }
}
