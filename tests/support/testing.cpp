#include "support/testing.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

TTempDir::TTempDir() {
  if (Dir.Path().empty()) throw std::runtime_error("no temporary directory could be made");
}

TTestSession::TTestSession() : S(std::make_unique<TSession>(Desktop, Dir.path().string())) {}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

