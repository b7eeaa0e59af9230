#include "transfer/ftpdialog.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <utility>

#include "core/paths.h"

namespace {

std::string StateLine(int state) {
  switch (state) {
    case fsConnecting: return "Status : Connecting";
    case fsResolvingHost: return "Status : Resolving Host";
    case fsHostResolved: return "Status : Host Resolved";
    case fsConnected: return "Status : Connected Wait Authentication";
    case fsDisconnecting: return "Status : Disconnecting";
    case fsDisconnected: return "Status : DisConnected";
    default: return "Status : " + std::to_string(state);
  }
}

std::string ProtocolLine(int state) {
  switch (state) {
    case fpAuthorization: return "Protocol-Authorization";
    case fpTransaction: return "Protocol-End Transaction";
    default: return "Protocol-Base";
  }
}

std::string TimeoutLine(int timeout) {
  switch (timeout) {
    case ftConnect: return "Connect Timeout :";
    case ftReceive: return "Receive Timeout :";
    case ftUser: return "User Timeout :";
    default: return "Undefined Timeout :";
  }
}

// Appends " " + text when there is a text.
std::string With(const char* label, const std::string& text) {
  return text.empty() ? std::string(label) : std::string(label) + " " + text;
}

}  // namespace

std::string FtpErrorText(int code) {
  static const std::pair<int, const char*> kTexts[] = {
      {2104, "Port Command Failed.  Unable to open Port"},
      {2105, "Abort Command Failed.  Unable to Abort last command"},
      {2106, "Account Command Failed.  Unable to complete"},
      {2107, "Change Directory Command Failed. Unable to change to specified directory"},
      {2108, "Connect Command Failed.  Unable to connect to remote host"},
      {2109, "Create Directory Command Failed. Unable to create specified directory"},
      {2110, "Delete Directory Command Failed. Unable to delete specified directory"},
      {2111, "Delete File Command Failed. Unable to delete specified file"},
      {2112, "Disconnect Command Failed. Unable to disconnect from remote host"},
      {2113, "Get File Command Failed. Unable to retrieve specified file"},
      {2114, "Help Command Failed. Unable to retrieve help from remote host"},
      {2115, "NOOP Command Failed. Control connection error"},
      {2116, "Name List Command Failed. Unable to retrieve Named list; possible data connection error"},
      {2117, "List Command Failed. Unable to retrieve detailed list; possible data connection error"},
      {2118, "Parent directory Command Failed.  Unable to change directory up"},
      {2119, "Print Directory Command Failed.  Unable to print current directory of remote host"},
      {2120, "Put File Command Failed.  Unable to put file on remote host"},
      {2121, "Put Unique File Command Failed.  Unable to put unique file on remote host"},
      {2122, "Reinitialize Command Failed.  Unable to reinitialize login on remote host"},
      {2123, "Rename File Command Failed.  Unable to rename specified file on remote host"},
      {2124, "Retrieve File Command Failed. Unable to retrieve specified file from remote host"},
      {2125, "Status Command Failed.  Unable to retrieve status from remote host"},
      {2126, "System Command Failed. Unable to issue SYST command to remote host"},
      {2127, "Type Command Failed.  Unable to set transfer type on remote host"},
      {2128, "Error setting OutputDocStream property"},
      {2129, "Error setting InputDocStream property"},
      {2130, "No error detected"},
      {2131, "Firewall host could not complete the OPEN command"},
      {2132, "Firewall host rejected the username"},
      {2133, "Authentication with the firewall host failed"},
      {2134, "Firewall host could not complete the SITE command"},
      {2135, "Firewall host could not complete the USER user@host command"},
      {2157, "Command not implemented"},
      {2171, "Maximum connection(<number>) reached"},
  };
  for (const auto& [number, text] : kTexts)
    if (number == code) return text;
  return "";
}

std::vector<std::string> FtpStatusLines(const TFtpEvent& event) {
  switch (event.Kind) {
    case fvState: return {StateLine(event.Value)};
    case fvProtocolState: return {ProtocolLine(event.Value)};
    case fvBusy: return {event.Value ? "Busy" : "Free :"};
    case fvLog: return {"LOG : " + event.Text};
    case fvListItem:
    case fvProgress: return {};
    case fvListDone: return {With(event.Value ? "Name List :" : "List :", event.Text)};
    case fvTransferDone:
      return {With(event.Value == fdReceive ? "Received :" : "Sent :", event.Text) + " (" +
              std::to_string(event.Bytes) + " bytes)"};
    case fvType: return {event.Value == ftAscii ? "ASCII :" : "Binary :"};
    case fvAccount: return {With("Account :", event.Text)};
    case fvAbort: return {With("Transfer Aborted :", event.Text)};
    case fvDirectory: return {With("Changed Remote Directory =", event.Text)};
    case fvPrintDirectory: return {With("PWDR :", event.Text)};
    case fvSystem: return {With("Remote System =", event.Text)};
    case fvExecute: return {With("Execute :", event.Text)};
    case fvHelp: return {"Help - List of supported commands"};
    case fvTimeout: return {TimeoutLine(event.Value)};
    // The whole question is in its box; the history keeps its first line.
    case fvQuestion: return {"Question : " + event.Text.substr(0, event.Text.find('\r'))};
    case fvError: {
      std::string text = FtpErrorText(event.Value);
      if (text.empty()) text = "Error " + std::to_string(event.Value);
      if (event.Text.empty()) return {text};
      return {text, "LOG : " + event.Text};
    }
  }
  return {};
}

std::optional<TTypedCommand> ParseTypedCommand(const std::string& line) {
  const auto first = line.find_first_not_of(" \t");
  if (first == std::string::npos) return std::nullopt;
  const auto wordEnd = std::min(line.find_first_of(" \t", first), line.size());
  const std::string word = UpperCase(line.substr(first, wordEnd - first));
  const auto restStart = line.find_first_not_of(" \t", wordEnd);
  std::string rest = restStart == std::string::npos ? "" : line.substr(restStart);
  while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t')) rest.pop_back();

  TTypedCommand command;
  command.Rest = rest;
  if (word == "CWD") {
    command.Kind = tcChangeDirectory;
    command.StatusLine = "S: CWD " + rest;
  } else if (word == "PWD") {
    command.Kind = tcPrintDirectory;
    command.StatusLine = "S: PWD";
  } else if (word == "LIST") {
    command.Kind = tcList;
    command.StatusLine = "S: LIST " + rest;
  } else if (word == "NLST" || word == "NAMELIST") {
    command.Kind = tcNameList;
    command.StatusLine = "S: NAMELIST " + rest;
  } else if (word == "ABOR" || word == "ABORT") {
    command.Kind = tcAbort;
    command.StatusLine = "S: ABORT " + rest;
  } else if (word == "HELP") {
    command.Kind = tcHelp;
    command.StatusLine = "S: HELP " + rest;
  } else {
    command.Kind = tcExecute;
    command.Rest = line.substr(first);
    command.StatusLine = "EXEC : " + line.substr(first);
  }
  return command;
}

TFtpListEntry ParseListLine(const std::string& line) {
  std::istringstream words(line);
  std::vector<std::string> fields;
  std::string word;
  while (fields.size() < 4 && words >> word) fields.push_back(word);
  TFtpListEntry entry;
  // DOS style: date, time, "<DIR>" or a size, then the name.
  if (fields.size() >= 4 && (fields[2] == "<DIR>" || std::isdigit(static_cast<unsigned char>(fields[2][0]))) &&
      fields[0].size() >= 8 && std::isdigit(static_cast<unsigned char>(fields[0][0])) &&
      (fields[0][2] == '-' || fields[0][2] == '/')) {
    entry.IsDirectory = fields[2] == "<DIR>";
    std::size_t at = 0;
    for (int i = 0; i < 3; ++i) {
      at = line.find_first_not_of(" \t", at);
      at = line.find_first_of(" \t", at);
    }
    entry.Name = line.substr(line.find_first_not_of(" \t", at));
    return entry;
  }
  // Unix style: ten mode characters, eight fields, then the name.
  const bool unix = line.size() > 10 && std::string("-dlbcps").find(line[0]) != std::string::npos &&
                    line.find_first_of(" \t") >= 10;
  if (!unix) {
    entry.Name = line;
    return entry;
  }
  std::size_t at = 0;
  for (int i = 0; i < 8 && at != std::string::npos; ++i) {
    at = line.find_first_not_of(" \t", at);
    if (at != std::string::npos) at = line.find_first_of(" \t", at);
  }
  if (at == std::string::npos) {
    entry.Name = line;
    return entry;
  }
  at = line.find_first_not_of(" \t", at);
  entry.Name = at == std::string::npos ? "" : line.substr(at);
  entry.IsDirectory = line[0] == 'd';
  if (line[0] == 'l') {
    const auto arrow = entry.Name.find(" -> ");
    if (arrow != std::string::npos) entry.Name.resize(arrow);
  }
  return entry;
}

void TFtpTransferSequence::Add(const TFtpQueuedFile& file) {
  for (const TFtpQueuedFile& queued : Files)
    if (queued.Name == file.Name && queued.Direction == file.Direction) return;
  Files.push_back(file);
}

void TFtpTransferSequence::Remove(std::size_t index) {
  if (index < Files.size()) Files.erase(Files.begin() + static_cast<std::ptrdiff_t>(index));
}

void TFtpTransferSequence::Start() {
  Step = Files.empty() ? tsIdle : tsTransfer;
}

TFtpTransferSequence::TAction TFtpTransferSequence::Advance(bool clientBusy) {
  TAction action;
  if (Step == tsIdle || clientBusy) return action;
  switch (Step) {
    case tsTransfer:
      // The next file leaves the queue as its transfer starts.
      action.File = Files.front();
      Files.erase(Files.begin());
      action.Kind = action.File.Direction == fdSend ? TAction::aSend : TAction::aReceive;
      Step = tsRefresh;
      break;
    case tsRefresh:
      action.Kind = TAction::aRefresh;
      Step = Files.empty() ? tsFinish : tsTransfer;
      break;
    case tsFinish:
      action.Kind = TAction::aDone;
      Step = tsIdle;
      break;
    case tsIdle:
      break;
  }
  return action;
}

std::string RemoteDirectoryCaption(const std::string& directory) {
  return directory.empty() ? "Remote Directory" : "Remote Directory : " + directory;
}

std::string FtpFileName(const std::string& path) {
  const auto slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
