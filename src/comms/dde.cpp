#include "comms/dde.h"

#include "core/paths.h"
#include "core/text.h"

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
  const std::string request = UpperCase(TrimBlanks(text));
  if (request.rfind("C:HELLO", 0) != 0) return;
  ItemLines = IdentificationLines();
}
