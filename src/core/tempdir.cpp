#include "core/tempdir.h"

#include <stdlib.h>

TTemporaryDirectory::TTemporaryDirectory(const std::string& prefix) {
  std::error_code error;
  const std::filesystem::path base = std::filesystem::temp_directory_path(error);
  if (error) return;
  std::string pattern = (base / (prefix + ".XXXXXX")).string();
  if (::mkdtemp(pattern.data())) Directory = pattern;
}

TTemporaryDirectory::~TTemporaryDirectory() {
  if (Directory.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(Directory, ignored);
}
