// A scratch directory for a run that must leave nothing behind: the tools'
// headless sessions, tests, fuzzers and benchmarks.
#pragma once

#include <filesystem>
#include <string>

// A fresh directory under the system's temporary directory, named
// PREFIX.XXXXXX, removed with everything in it when the object dies. Path()
// is empty when no directory could be made.
class TTemporaryDirectory {
 public:
  explicit TTemporaryDirectory(const std::string& prefix);
  ~TTemporaryDirectory();
  TTemporaryDirectory(const TTemporaryDirectory&) = delete;
  TTemporaryDirectory& operator=(const TTemporaryDirectory&) = delete;

  const std::filesystem::path& Path() const { return Directory; }
  // A name inside the directory.
  std::string File(const std::string& name) const { return (Directory / name).string(); }

 private:
  std::filesystem::path Directory;
};
