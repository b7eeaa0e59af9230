// The file layer under the log, transfer and settings files: plain POSIX byte
// files with the Windows name rules, reporting errno values, and a seam
// through which tests make the next open or write fail or fall short.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Faults the next operations of the files that share this object meet. Each
// fault fires once and is then cleared.
struct TFileFaults {
  int OpenErrno = 0;             // the next open or create fails with this errno
  int WriteErrno = 0;            // the next write fails with this errno, nothing written
  long ShortWrite = -1;          // the next write stores at most this many bytes (disk full)
  int WritesBeforeFault = 0;     // writes that succeed before a write fault fires
};

// What a read or write did: bytes moved, and the errno that stopped it (0 none).
struct TIoResult {
  std::size_t Done = 0;
  int Error = 0;
};

class TFile {
 public:
  TFile() = default;
  ~TFile() { Close(); }
  TFile(const TFile&) = delete;
  TFile& operator=(const TFile&) = delete;

  void SetFaults(TFileFaults* faults) { Faults = faults; }

  // Each returns 0 or the errno of the failure. Names go through NativeFileName.
  int OpenRead(const std::string& name);
  int OpenReadWrite(const std::string& name);  // existing file, not truncated
  int Create(const std::string& name);         // create or truncate
  int CreateNew(const std::string& name);      // EEXIST when the file is there

  bool IsOpen() const { return Fd >= 0; }
  // Writes all of count unless the disk fills (Error ENOSPC, Done short) or a
  // write fails (Error set): Error is set whenever Done falls short.
  TIoResult Write(const void* data, std::size_t count);
  // Reads up to count; Done 0 and Error 0 at the end of the file.
  TIoResult Read(void* data, std::size_t count);
  int Seek(std::uint64_t position);
  int SeekEnd();
  int Sync();  // 0 or errno
  // Size in bytes, or -1.
  std::int64_t Size() const;
  // True while open on the file that name stands for (by device and inode,
  // so another spelling or a link to it counts).
  bool IsFile(const std::string& name) const;
  void Close();

 private:
  int OpenWith(const std::string& name, int flags);
  int Fd = -1;
  TFileFaults* Faults = nullptr;
};

// A file read whole when it holds at most limit bytes: 0, or the errno of
// the failure, ENOMEM when it holds more (a device that never ends does), so
// a wrong name cannot take the memory.
int ReadWholeFile(const std::string& name, std::size_t limit, std::string& text);

// The file can be opened for reading.
bool FileCanBeOpened(const std::string& name);
// Something exists under the name (a dangling link included). Decides
// whether creating the name would replace anything: a file that exists but
// cannot be read (write-only, a socket) is still there to be lost.
bool FileExists(const std::string& name);
