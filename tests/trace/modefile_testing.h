// Helpers of the mode file tests: a reporter that records, byte builders
// that write the file layouts by hand (independent of the code under test),
// and mode sources compiled into file sets.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "trace/compiler.h"
#include "trace/modefile.h"

struct TReported {
  TErrorKind Kind;
  std::uint32_t Code;
  std::string Text;
  bool operator==(const TReported&) const = default;
};
inline void PrintTo(const TReported& r, std::ostream* out) {
  *out << "{kind " << r.Kind << ", code " << r.Code << ", \"" << r.Text << "\"}";
}

class TRecordingReporter final : public TModeFileReporter {
 public:
  void ReportError(TErrorKind kind, std::uint32_t code, const std::string& text) override {
    Errors.push_back({kind, code, text});
  }
  void Diagnostic(const std::string& line) override { Diagnostics.push_back(line); }

  std::vector<TReported> Errors;
  std::vector<std::string> Diagnostics;
};

// Little-endian numbers as bytes.
inline std::string Le16(std::uint32_t v) {
  return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
}
inline std::string Le32(std::uint32_t v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }

inline std::uint32_t U16At(const std::string& bytes, std::size_t at) {
  return static_cast<std::uint8_t>(bytes.at(at)) | static_cast<std::uint8_t>(bytes.at(at + 1)) << 8;
}
inline std::uint32_t U32At(const std::string& bytes, std::size_t at) {
  return U16At(bytes, at) | U16At(bytes, at + 2) << 16;
}

// chars[n]: the text padded with spaces.
inline std::string Chars(const std::string& text, std::size_t n) {
  std::string s = text.substr(0, n);
  s.resize(n, ' ');
  return s;
}

// short string[40]: length byte, text, zeros up to 41 bytes.
inline std::string Short40(const std::string& text) {
  std::string s(1, static_cast<char>(text.size()));
  s += text;
  s.resize(41, '\0');
  return s;
}

// A 44-byte .mna/.sna entry or a 52-byte .sen entry.
inline std::string NameEntry(const std::string& name, std::uint32_t index, std::size_t width = 40) {
  return Chars(name, width) + Le32(index);
}

// An 87-byte SynRecord.
inline std::string SynBytes(const std::string& name, const std::string& mode, std::uint16_t value, std::int32_t next) {
  return Chars(name, 40) + Chars(mode, 40) + std::string(1, '\0') + Le16(value) +
         Le32(static_cast<std::uint32_t>(next));
}

// A 109-byte record: the mode number, then the bytes from offset 2 on.
inline std::string RecordBytes(std::uint16_t modeNumber, std::map<std::size_t, std::string> fields = {}) {
  std::string r(109, '\0');
  r.replace(0, 2, Le16(modeNumber));
  for (const auto& [offset, bytes] : fields) r.replace(offset, bytes.size(), bytes);
  return r;
}

// A store with files in memory and, for chosen extensions, a file whose reads
// fail with an I/O error.
class TFaultySource final : public TByteSource {
 public:
  TFaultySource(std::uint64_t size, std::uint32_t code) : FakeSize(size), Code(code) {}
  std::uint64_t Size() const override { return FakeSize; }
  std::int64_t ReadSome(std::uint64_t, void*, std::size_t, std::uint32_t* code) const override {
    if (code) *code = Code;
    return -1;
  }

 private:
  std::uint64_t FakeSize;
  std::uint32_t Code;
};

class TFaultyStore final : public TModeFileStore {
 public:
  TFaultyStore(std::map<std::string, std::string> files, std::map<std::string, std::uint32_t> failing)
      : Files(std::move(files)), Failing(std::move(failing)) {}
  std::string DisplayName(std::string_view extension) const override { return "BASE" + std::string(extension); }
  bool Exists(std::string_view extension) const override {
    return Files.count(std::string(extension)) || Failing.count(std::string(extension));
  }
  std::unique_ptr<TByteSource> Open(std::string_view extension, std::uint32_t* code) const override {
    const std::string key(extension);
    if (Failing.count(key)) return std::make_unique<TFaultySource>(1 << 20, Failing.at(key));
    if (!Files.count(key)) {
      if (code) *code = 2;
      return nullptr;
    }
    return std::make_unique<TMemorySource>(Files.at(key));
  }

 private:
  std::map<std::string, std::string> Files;
  std::map<std::string, std::uint32_t> Failing;
};

// A complete, valid set of files: version 2, everything else as given.
inline std::map<std::string, std::string> MinimalFiles(std::map<std::string, std::string> overrides = {}) {
  std::map<std::string, std::string> files = {
      {".ver", "VERSION = VERSION 2.0\r\n"}, {".msg", ""}, {".usb", ""}, {".bid", ""}, {".mod", ""},
      {".sem", ""}, {".syn", ""}, {".mna", ""}, {".sen", ""}, {".sna", ""}};
  for (auto& [ext, bytes] : overrides) files[ext] = bytes;
  return files;
}

// The file set of a mode source; a source that does not compile fails the test.
inline TModeFileImage CompiledModes(const std::string& source) {
  const TCompileResult result = CompileModeSource(source, "test.mode");
  EXPECT_TRUE(result.Ok) << result.Error.Text();
  return result.Image;
}

// The file set of a mode source written as <base>.*, its KASP files into kaspDirectory.
inline void WriteModeFiles(const std::string& source, const std::string& base, const std::string& kaspDirectory) {
  std::string error;
  EXPECT_TRUE(WriteModeFileImage(CompiledModes(source), base, kaspDirectory, &error)) << error;
}

inline std::unique_ptr<TTraceFileSet> OpenMemory(std::map<std::string, std::string> files, TModeFileReporter& reporter) {
  return TTraceFileSet::Open(std::make_shared<TMemoryModeFiles>(std::move(files)), reporter);
}
