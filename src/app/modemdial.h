// Modem dialling from the modem toolbar: the dial, hang-up and init strings
// (in soft-key notation, played out by the soft-key sender), the number box
// with its dial list "QELWIN.TEL", and the edits that write the settings.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

class TErrorReporter;
class TSession;
class TTransmitPath;
struct TSetupRecord;

// What the modem uses of the session.
struct TModemContext {
  TSetupRecord& Settings;         // the edits write the strings and the number there
  const TTransmitPath& Transmit;  // the buttons need an open serial port
  TErrorReporter& Errors;
  const std::string& ProgramDirectory;  // where the dial list is
  // The soft-key sender plays a modem string (the text stays in ModemString).
  std::function<void(const std::string&)> StartText;
};
// The session's parts, with the keyboard's soft-key sender.
TModemContext ModemContext(TSession& session);

class TModem {
 public:
  static constexpr const char* kDialListName = "QELWIN.TEL";

  explicit TModem(TModemContext context) : S(std::move(context)) {}

  // The modem string slot: the text the soft-key sender plays for '%'.
  std::string ModemString;

  // What the toolbar shows: the number box with its list, and the three edits.
  std::string DialBoxText;
  std::vector<std::string> DialList;
  std::string DialStringEdt;
  std::string HangUpStringEdt;
  std::string InitModemStringEdt;

  // Buttons. Each refuses with "No Comport connected" without an open serial port.
  void DBSDialClick();
  void DBSHangUpClick();
  void DBSInitModemClick();

  // Edits: each change goes into the settings at once.
  void DialStringEdtChange(std::string_view text);
  void HangUpStringEdtChange(std::string_view text);
  void InitModemStringEdtChange(std::string_view text);
  void DialListBoxChange(std::string_view text);  // typed into the number box

  // Opening the list reads the dial list file afresh.
  void DialListBoxDropDown();
  // An entry chosen (click or double click): "name=number" puts the number in the box.
  void DialListBoxSelect(std::size_t index);

  // The modem toolbar shown (placeholder entries offered) or hidden (list emptied).
  void ToolbarVisibilityChanged(bool visible);
  // The box and edits show the settings (start-up, a settings file opened).
  void ShowSettings();

  // The number an entry stands for: the text after its first "=", trimmed;
  // false for an entry without "=".
  static bool EntryNumber(std::string_view entry, std::string& number);

 private:
  bool RequireSerial();
  void Send(const std::string& text);

  TModemContext S;
};
