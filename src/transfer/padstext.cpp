#include "transfer/padstext.h"

#include "core/numbers.h"
#include "core/paths.h"
#include "core/text.h"

namespace pads {

namespace {

constexpr const char* kTries = "      : tries = ";
constexpr const char* kBlockTries = "    : tries = ";

const char* FixedText(int code) {
  switch (code) {
    case scWaiting: return "Waiting for input";
    case scLinking: return "Linking                  : tries = ";
    case scExiting: return "Exiting                  : tries = ";
    case scOpeningRead: return "Opening file for reading : tries = ";
    case scOpeningWrite: return "Opening file for writing : tries = ";
    case scClosing: return "Closing file             : tries = ";
    case scDeallocating: return "Deallocating file        : tries = ";
    case scForcedRelease: return "Forced release error";
    case scAsyBreak: return "Asy break error";
    case scMsgLength: return "Msg length error";
    case scCrc: return "CRC error";
    case scOpenFile: return "Error opening file";
    case scWrongMsg: return "Wrong msg error";
    case scFileSyntax: return "File syntax error";
    case scIosTimeout: return "IOS timeout error";
    case scWritingFile: return "Error writing file";
    case scEof: return "EOF error";
    case scReadingFile: return "Error reading file";
    case scClosingFile: return "Error closing file";
    case scDeallocatingFile: return "Error deallocating file";
    case scWrongFileSpec: return "Wrong file specification";
    case scUnexistingFile: return "Unexisting file";
    case scNackReceived: return "Nack received";
    case scTransmissionFault: return "Transmission fault       : tries = ";
    case scTimeout: return "Timeout on reception     : tries = ";
    case scCrcFault: return "CRC fault on reception   : tries = ";
    case scWrongLength: return "Wrong msg length received: tries = ";
    case scPrematureEtx: return "Premature ETX received   : tries = ";
    case scHeaderNacked: return "Header of CMD nacked";
    case scBlockNumber: return "Block No wrong";
    default: return nullptr;
  }
}

bool EndsInTries(const std::string& text) {
  const std::string tail = "tries = ";
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

std::string StatusText(int code, int tries, int block) {
  std::string text;
  switch (code) {
    case scReadingBlock: text = "Reading block " + Dec(block, 5) + kTries; break;
    case scWritingBlock: text = "Writing block " + Dec(block, 5) + kTries; break;
    case scLoadBlock: text = "  Load block " + Dec(block, 5) + kBlockTries; break;
    case scGetBlock: text = "  Get block " + Dec(block, 5) + kBlockTries; break;
    default: {
      const char* fixed = FixedText(code);
      text = fixed ? fixed : "?? Status " + std::to_string(code);
    }
  }
  if (EndsInTries(text)) text += std::to_string(tries);
  if (code >= scFirstError) text = "### ERROR ### " + text;
  return text;
}

std::string ExchangeCodeName(int code) {
  switch (code) {
    case 3: return "asy break";
    case 4: return "forced release";
    case 5: return "cmd type";
    case 6: return "cmd length";
    case 7: return "crc";
    case 8: return "file";
    case 9: return "open";
    case 10: return "file not found";
    case 11: return "write cc";
    case 12: return "read";
    case 13: return "eof";
    case 14: return "close cc";
    case 15: return "dealloc cc";
    case 16: return "ios timeout";
    case 17: return "block no";
    case 18: return "buffer empty";
    case 19: return "fdb cc";
    case 20: return "t91 msg invalid";
    case 21: return "open cc";
    case 22: return "read cc";
    case 32: return "p release";
    case 33: return "wait loop";
    case 34: return "slave timeout";
    default: return std::to_string(code);
  }
}

int RejectionStatus(int exchangeCode) {
  switch (exchangeCode) {
    case 3: return scAsyBreak;
    case 5: return scWrongMsg;
    case 6: return scMsgLength;
    case 7: return scCrc;
    case 16: return scIosTimeout;
    case 17: return scBlockNumber;
    default: return -1;
  }
}

std::string StateText(int state) {
  switch (state) {
    case psWaitForPassword: return "Wait for password";
    case psLinking: return "Linking";
    case psActive: return "Active";
    default: return "Disconnected";
  }
}

namespace {

bool IsExit(const std::string& line) {
  return line == "REL" || line == "RE" || line == "E" || line == "EX" || line == "EXI" || line == "EXIT";
}

// "DEV,FILE NAME" after the keyword.
void ParseIds(std::string_view rest, bool needsName, TCommand& command) {
  rest = TrimSpaces(rest);
  const std::size_t comma = rest.find(',');
  const std::string_view device = TrimSpaces(rest.substr(0, comma));
  const std::optional<std::uint16_t> deviceId = ReadNumber16(UpperCase(device));
  if (comma == std::string_view::npos || device.empty() || !deviceId) {
    command.Error = "?? Wrong logical device id /" + std::string(device) + "/";
    return;
  }
  command.Device = *deviceId;
  rest = TrimSpaces(rest.substr(comma + 1));
  const std::size_t blank = rest.find(' ');
  const std::string_view file = rest.substr(0, blank);
  const std::optional<std::uint16_t> fileId = ReadNumber16(UpperCase(file));
  if (file.empty() || !fileId) {
    command.Error = "?? Wrong logical file id /" + std::string(file) + "/";
    return;
  }
  command.File = *fileId;
  if (!needsName) return;
  const std::string_view name = blank == std::string_view::npos ? std::string_view{} : TrimSpaces(rest.substr(blank));
  if (name.empty()) {
    command.Error = "?? Wrong file specification /" + std::string(rest) + "/";
    return;
  }
  command.LocalName = std::string(name);
}

}  // namespace

TCommand ParseCommand(std::string_view line) {
  TCommand command;
  const std::string_view trimmed = TrimSpaces(line);
  const std::string upper = UpperCase(trimmed);
  if (upper.empty()) return command;
  if (IsExit(upper)) {
    command.Kind = ckExit;
    return command;
  }
  const std::size_t blank = trimmed.find(' ');
  const std::string_view rest = blank == std::string_view::npos ? std::string_view{} : trimmed.substr(blank);
  const std::string keyword = upper.substr(0, 3);
  if (keyword == "REA") command.Kind = ckRead;
  else if (keyword == "WRI") command.Kind = ckWrite;
  else if (keyword == "DEA") command.Kind = ckDeallocate;
  if (command.Kind == ckNone) {
    command.Kind = ckUnknown;
    command.Error = "?? Unrecognized command /" + std::string(trimmed) + "/";
    return command;
  }
  ParseIds(rest, command.Kind != ckDeallocate, command);
  return command;
}

}  // namespace pads
