// The mode compiler: a mode source (docs/mode-language.md) compiled into the
// complete binary file set (.ver .msg .usb .bid .mod .sem .syn .mna .sen .sna
// .mnt) and, when the source names any, the host name files KASP.MSG,
// KASP.VMI and KASP.BID.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

struct TCompileError {
  std::string File;
  int Line = 0;
  int Column = 0;
  std::string Message;

  // "file:line:column: message"
  std::string Text() const;
};

// The compiled files in memory.
struct TModeFileImage {
  std::map<std::string, std::string> Files;  // by extension: ".ver", ".msg", ...
  std::map<std::string, std::string> Kasp;   // "KASP.MSG", "KASP.VMI", "KASP.BID"; empty when unused
  // Where the compiler put things, for tests and listings.
  std::map<std::string, std::int32_t> ModeIndex;   // named mode -> header record in .mod
  std::map<std::string, std::int32_t> SetOffset;   // named set -> SetElementBlock offset in .sem
  std::map<std::string, std::int32_t> SynIndex;    // constant -> SynRecord index in .syn
};

struct TCompileResult {
  bool Ok = false;
  TCompileError Error;  // when not Ok
  TModeFileImage Image;
};

// fileName only names the source in error messages.
TCompileResult CompileModeSource(std::string_view source, std::string_view fileName);

// Writes <base><extension> for each file and the KASP files into
// kaspDirectory ("" for the directory of base). False with *error set (one
// line naming the file and the reason) when a file cannot be written.
bool WriteModeFileImage(const TModeFileImage& image, const std::string& base, const std::string& kaspDirectory,
                        std::string* error);
