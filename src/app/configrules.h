// The configuration dialog's rules, without the dialog: what its controls
// offer and store, the Browse filters, the colour and attribute chooser's
// palette, and what Apply and OK do to the session with a changed record.
// The Qt dialog (src/desktop/configdialog.h) only shows a working copy and
// hands it back; the main window passes it to ApplyConnectionSettings
// (Apply) or ApplyConfiguration (OK).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "app/connectionsettings.h"
#include "core/settings.h"

class TSession;

// ------------------------------------------------------------ control texts

inline constexpr std::array<const char*, 4> kEmulationItems{"QUORIX", "VT100", "VT220-8bit", "TN3270"};
inline constexpr std::array<const char*, 2> kScreenSizeItems{"80 Columns", "132 Columns"};
inline constexpr std::array<const char*, 2> kBackSpaceItems{"Backspace", "Delete"};
inline constexpr std::array<const char*, 4> kComPortItems{"COM1", "COM2", "COM3", "COM4"};
inline constexpr std::array<const char*, 15> kBaudRateItems{
    "110",   "300",   "600",   "1200",  "2400",   "4800",   "9600",  "14400",
    "19200", "38400", "56000", "57600", "115200", "128000", "256000"};
inline constexpr std::array<const char*, 5> kParityItems{"None", "Odd", "Even", "Mark", "Space"};
inline constexpr std::array<const char*, 4> kFlowControlItems{"NONE", "RTS/CTS", "DTR", "XON/OFF"};
inline constexpr std::array<const char*, 2> kStopBitsItems{"1 bit", "2 bits"};
inline constexpr std::array<const char*, 2> kDataBitsItems{"7 bits", "8 bits"};
inline constexpr std::array<const char*, 6> kPortItems{"Echo", "Discard", "Daytime", "Netstat", "Chargen", "Telnet"};
inline constexpr std::array<const char*, 3> kQuorixTypeItems{"M1", "M2", "M3"};
inline constexpr std::array<const char*, 2> kCharDelayItems{"No Wait", "Paced By Echo"};
inline constexpr std::array<const char*, 4> kLineDelayItems{"No Wait", "Wait For A Character",
                                                            "Wait For x/10 Seconds", "Wait For Keystroke"};
inline constexpr std::array<const char*, 5> kEndOfLineItems{"CR", "LF", "No Change", "CR-LF", "LF-CR"};

// A port index the combo does not offer: the next connect has no port number.
inline constexpr std::uint8_t kNoPortIndex = 255;

// The port combo's text as the stored index: an item's text (in any case)
// gives its index, anything else kNoPortIndex.
std::uint8_t PortIndexOfText(std::string_view text);

// "Communication Port" offers COM1..COM4. A record holding a higher port
// (from a file) shows no choice (-1), and no choice keeps that port.
int ComPortChoice(std::uint8_t comPort);
std::uint8_t ComPortOfChoice(int choice, std::uint8_t current);

// "Stop Bits" and "Data Bits" show two items; a record holding a code the
// dialog never writes (1.5 stop bits, 5 data bits) shows the nearest item
// and keeps its code unless the user picks the other item.
int StopBitsChoice(std::uint8_t stopBits);
std::uint8_t StopBitsOfChoice(int choice, std::uint8_t current);
int DataBitsChoice(std::uint8_t dataBits);
std::uint8_t DataBitsOfChoice(int choice, std::uint8_t current);

// A combo index for a stored value, and back: a value past the items shows
// no choice (-1) and is kept while nothing is chosen.
int ComboChoice(std::uint8_t value, std::size_t items);
std::uint8_t ValueOfChoice(int choice, std::uint8_t current);

// ------------------------------------------------------------ wait character

// "Char To Wait For" as shown: the character itself for codes 32..122,
// else "<" + decimal code + ">".
std::string WaitCharText(std::uint8_t code);
// The edit's text read back (bytes, one per character): empty or blank
// gives '>'; otherwise the blanks around it are removed and the first
// character is taken, or after a "<" the decimal digits up to the first
// non-digit as the code. No digit, or a code above 255, keeps current.
std::uint8_t ReadWaitChar(std::string_view text, std::uint8_t current);

// ------------------------------------------------------------ file edits

enum TFileEdit {
  feLog,
  feMode,
  feSimulate,
  feSendReceive,
  feOrnet,
  feVMI,
  feBID,
  feCommand,
  feEbcdicMap,
  feCount,
};

struct TFileEditInfo {
  const char* Label;   // the edit's label on the " Files " page
  const char* Filter;  // Browse's filter ("" for none)
  bool Hidden;         // kept in the record, not shown
  TShortString<80> TSetupRecord::*Field;
};
const TFileEditInfo& FileEditInfo(TFileEdit edit);

// Browse's file dialog for an edit, preset with the edit's text.
struct TFileDialog;
TFileDialog BrowseDialog(TFileEdit edit, const std::string& text);
// The chosen name as the edit shows it: the Ornet edit holds a directory
// (with its separator), so a file chosen there gives its directory.
std::string BrowsedName(TFileEdit edit, const std::string& chosen);

// ------------------------------------------------------------ attributes

// The attribute buttons of the " Trace Parameters " page and the chooser's
// caption for each.
struct TAttributeButton {
  const char* Caption;         // "IE Attr"
  const char* ChooserCaption;  // "IE Attributes"
  bool Hidden;                 // "SND/RCV Attr"
  TAttributeBlock TSetupRecord::*Block;
};
inline constexpr int kAttributeButtonCount = 9;
const TAttributeButton& AttributeButton(int index);

// The chooser's 16-colour grid, row by row, and its label.
inline constexpr int kPaletteSize = 16;
const std::array<TColor, kPaletteSize>& ChooserPalette();
inline constexpr const char* kChooserLabel = "Left Mousebutton = FG               Right Mousebutton = BG";

// What the chooser holds: the block's colours and style. The check boxes
// edit bold, italic and underline; other style bits stay as they came.
struct TAttributeChoice {
  TColor Foreground = colors::Black;
  TColor Background = colors::White;
  std::uint8_t Style = 0;
  void SetStyle(std::uint8_t bit, bool on) { Style = on ? (Style | bit) : (Style & ~bit); }
  bool HasStyle(std::uint8_t bit) const { return (Style & bit) != 0; }
};
TAttributeChoice ChoiceOf(const TAttributeBlock& block);
void StoreChoice(const TAttributeChoice& choice, TAttributeBlock& block);

// The font name as stored: cut to its field's 40 characters.
std::string StoredFontName(std::string_view name);

// ------------------------------------------------------------ Apply and OK

// What differs between the live record and the dialog's record, so the main
// window knows what to re-apply.
struct TConfigChanges {
  bool NetworkTarget = false;     // host name or port index
  bool ComPort = false;
  bool SerialParameters = false;  // baud rate, stop bits, data bits, parity, flow control
  bool ScreenSize = false;
  bool Emulation = false;
  bool Attributes = false;        // colours, font style, attribute blocks: rebuild them
  bool Font = false;              // name, size or style
  bool MarkColors = false;
  bool LogFileName = false;
  bool ModeFileName = false;
  bool OrnetDirectory = false;
  bool CommandFileName = false;
  bool EbcdicMapFileName = false;
  bool Any = false;               // any byte of the record
};
TConfigChanges CompareSettings(const TSetupRecord& before, const TSetupRecord& after);

inline constexpr const char* kPortChangedQuestion = "Port changed. Do you wish to disconnect and re-connect?";

// Apply: the connection fields of the dialog's record go into the live
// record; a changed host or port with a network session up, or a changed
// serial port while it is open, asks kPortChangedQuestion and on OK
// re-connects; changed line parameters reconfigure an open serial port.
void ApplyConnectionSettings(TSession& session, const TSetupRecord& draft);
// The same with the settings beside the record (SSH, allow-list, reconnect,
// FTP protocol), which become live too; a change in how an SSH session that
// is up is reached (user, port, key file, known hosts) asks the same question.
void ApplyConnectionSettings(TSession& session, const TSetupRecord& draft, const TConnectionSettings& connection);
// What the dialog offers for them.
inline constexpr std::array<const char*, 2> kNetworkKindItems{"Telnet / TCP", "SSH"};
inline constexpr std::array<const char*, 4> kFtpProtocolItems{"FTP", "FTPS (explicit TLS)", "FTPS (implicit TLS)",
                                                              "SFTP (SSH)"};
// The same beside the FTP window's host, where room is short.
inline constexpr std::array<const char*, 4> kFtpProtocolShortItems{"FTP", "FTPS", "FTPS:990", "SFTP"};

// What the window does itself after OK (may be empty).
struct TConfigHooks {
  // The screen's font, colours, mark colours, bars and scrolling options.
  std::function<void(const TConfigChanges&)> ScreenProperties;
  // The command file name changed: drop and load the command definitions.
  std::function<void()> ReloadCommandDefinitions;
};

// OK: the whole record becomes live, the screen takes its size and rebuilds
// its attributes, changed file names run their follow-ups (log file closed,
// trace files closed, Ornet files closed unless decoding, EBCDIC map
// loaded), then Apply. Returns what changed.
TConfigChanges ApplyConfiguration(TSession& session, const TSetupRecord& draft, const TConfigHooks& hooks = {});
TConfigChanges ApplyConfiguration(TSession& session, const TSetupRecord& draft, const TConnectionSettings& connection,
                                  const TConfigHooks& hooks = {});
