#include "app/modemdial.h"

#include <string>

#include "app/session.h"
#include "comms/transmit.h"
#include "core/paths.h"
#include "core/text.h"
#include "log/errors.h"
#include "log/file.h"
#include "terminal/keyboard.h"

TModemContext ModemContext(TSession& session) {
  return {session.Settings, *session.Transmit, *session.Errors, session.ProgramDirectory,
          [&session](const std::string& text) { session.Keyboard->StartText(text); }};
}

bool TModem::RequireSerial() {
  if (S.Transmit.SerialConnected) return true;
  S.Errors.ReportError(ekMessage, 0, "No Comport connected");
  return false;
}

void TModem::Send(const std::string& text) {
  ModemString = text;
  if (S.StartText) S.StartText(ModemString);
}

void TModem::DBSDialClick() {
  if (!RequireSerial()) return;
  const TSetupRecord& settings = S.Settings;
  Send(settings.DialString.str() + settings.DialNumber.str() + '\r');
}

void TModem::DBSHangUpClick() {
  if (!RequireSerial()) return;
  Send(S.Settings.HangUpString.str());
}

void TModem::DBSInitModemClick() {
  if (!RequireSerial()) return;
  Send(S.Settings.InitModemString.str());
}

void TModem::DialStringEdtChange(std::string_view text) {
  DialStringEdt = text;
  S.Settings.DialString.assign(text);
}

void TModem::HangUpStringEdtChange(std::string_view text) {
  HangUpStringEdt = text;
  S.Settings.HangUpString.assign(text);
}

void TModem::InitModemStringEdtChange(std::string_view text) {
  InitModemStringEdt = text;
  S.Settings.InitModemString.assign(text);
}

void TModem::DialListBoxChange(std::string_view text) {
  DialBoxText = text;
  S.Settings.DialNumber.assign(text);
}

void TModem::DialListBoxDropDown() {
  DialList.clear();
  const std::string name = S.ProgramDirectory + kDialListName;
  // A dial list holds a few dozen numbers; a wrong file must not take the memory.
  constexpr std::size_t kDialListLimit = 1u << 20;
  std::string text;
  if (const int error = ReadWholeFile(MatchCaseInsensitive(name), kDialListLimit, text); error != 0) {
    S.Errors.ReportErrno(ekFileAccess, error, name);
    return;
  }
  // A file that ends with a line end gives no empty entry after it.
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    DialList.push_back(std::move(line));
    start = end + 1;
  }
}

bool TModem::EntryNumber(std::string_view entry, std::string& number) {
  const std::size_t equals = entry.find('=');
  if (equals == std::string_view::npos) return false;
  number = TrimBlanks(entry.substr(equals + 1));
  return true;
}

void TModem::DialListBoxSelect(std::size_t index) {
  if (index >= DialList.size()) return;
  std::string number;
  if (!EntryNumber(DialList[index], number)) {
    DialBoxText = DialList[index];
    return;
  }
  S.Settings.DialNumber.assign(number);
  DialBoxText = S.Settings.DialNumber.str();
}

void TModem::ToolbarVisibilityChanged(bool visible) {
  if (!visible) {
    DialList.clear();
    return;
  }
  for (const char* placeholder : {"Vorp", "Vorp1", "Vorp2", "Vorp3"}) DialList.emplace_back(placeholder);
}

void TModem::ShowSettings() {
  const TSetupRecord& settings = S.Settings;
  DialBoxText = settings.DialNumber.str();
  DialStringEdt = settings.DialString.str();
  HangUpStringEdt = settings.HangUpString.str();
  InitModemStringEdt = settings.InitModemString.str();
}
