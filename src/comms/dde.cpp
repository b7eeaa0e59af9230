#include "comms/dde.h"

#include "core/paths.h"

namespace {
std::string_view TrimmedBlanks(std::string_view text) {
  std::size_t first = 0;
  while (first < text.size() && static_cast<unsigned char>(text[first]) <= ' ') ++first;
  std::size_t last = text.size();
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
  return text.substr(first, last - first);
}
}  // namespace

const std::vector<std::string>& TDdeServer::IdentificationLines() {
  static const std::vector<std::string> lines = {
      "Product Name : QEL for Windows - 32 Bit Version",
      "Version : 0.23",
      "Last Modified : April 12, 1998.",
  };
  return lines;
}

std::vector<std::string> TDdeServer::Execute(const std::vector<std::string>& macroLines) {
  std::string joined;
  for (std::size_t i = 0; i < macroLines.size(); ++i) {
    if (i > 0) joined += "\r\n";
    joined += macroLines[i];
  }
  HandleDDEData(joined);
  return IdentificationLines();
}

void TDdeServer::HandleDDEData(std::string_view text) {
  const std::string request = UpperCase(TrimmedBlanks(text));
  if (request.rfind("C:HELLO", 0) != 0) return;
  ItemLines = IdentificationLines();
}
