// Helpers shared by the tests: a fresh session in a temporary program directory.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "core/desktop.h"
#include "core/session.h"
#include "core/tempdir.h"

// A temporary directory removed when the object dies; a test cannot run
// without one, so failing to make it throws.
class TTempDir {
 public:
  TTempDir();
  const std::filesystem::path& path() const { return Dir.Path(); }
  std::string file(const std::string& name) const { return Dir.File(name); }

 private:
  TTemporaryDirectory Dir{"qeltest"};
};

// A session wired to a scripted desktop, with its program directory in a
// fresh temporary directory.
struct TTestSession {
  TTempDir Dir;
  TScriptedDesktop Desktop;
  std::unique_ptr<TSession> S;
  TTestSession();
};

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

