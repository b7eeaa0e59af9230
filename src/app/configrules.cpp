#include "app/configrules.h"

#include <cstring>

#include "app/session.h"
#include "app/settingsfile.h"
#include "comms/transmit.h"
#include "core/desktop.h"
#include "core/paths.h"
#include "log/logfiles.h"
#include "screen/writer.h"
#include "trace/decoder.h"
#include "trace/tracefiles.h"

namespace {
constexpr std::uint8_t kDefaultWaitChar = '>';

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool SameText(const TShortString<80>& a, const TShortString<80>& b) { return a.view() == b.view(); }

bool SameBlock(const TAttributeBlock& a, const TAttributeBlock& b) {
  return a.Foreground == b.Foreground && a.Background == b.Background && a.Style == b.Style;
}

const TFileEditInfo kFileEdits[feCount] = {
    {"Log File Name:", "Log/TRC Files(*.LOG,*.TRC)|*.LOG;*.TRC|TXT Files    (*.TXT)|*.TXT|All File Types(*.*)|*.*",
     false, &TSetupRecord::LogFileName},
    {"Mode File Name:", "All File Types (*.*)|*.*", false, &TSetupRecord::ModeFileName},
    {"Simulate File Name:",
     "Log/TRC Files  (*.LOG,*.TRC)|*.LOG;*.TRC|TXT Files      (*.TXT)|*.TXT|All File Types (*.*)|*.*", false,
     &TSetupRecord::SimulateFileName},
    {"Send/Receive File Name:",
     "Log/TRC Files(*.LOG,*.TRC)|*.LOG;*.TRC|TXT Files    (*.TXT)|*.TXT|All File Types (*.*)|*.*", false,
     &TSetupRecord::SendReceiveFileName},
    {"Ornet Files Directory:", "", false, &TSetupRecord::OrnetDirectoryName},
    {"VMI File Name:", "VMI Files      (*.VMI)|*.VMI|All File Types (*.*)|*.*", true, &TSetupRecord::VMIFileName},
    {"BID File Name:", "MBID Files(*.BID,*.MBI)|*.BID;*.MBI|All File Types (*.*)|*.*", true,
     &TSetupRecord::BIDFileName},
    {"Command File Name:", "Command Files  (*.FIL)|*.FIL|All File Types (*.*)|*.*", false,
     &TSetupRecord::CommandFileName},
    {"EBCDIC Map File Name:", "Map Files      (*.MMA)|*.MMA|All File Types (*.*)|*.*", false,
     &TSetupRecord::EBCDICMapFileName},
};

const TAttributeButton kAttributeButtons[kAttributeButtonCount] = {
    {"IE Attr", "IE Attributes", false, &TSetupRecord::IEAttr},
    {"DSS1 Msg Attr", "DSS1 Message Attributes", false, &TSetupRecord::DSS1MsgAttr},
    {"SND/RCV Attr", "SND/RCV Attributes", true, &TSetupRecord::SndRcvAttr},
    {"MBID Attr", "MBID Attributes", false, &TSetupRecord::MbidAttr},
    {"VMI Attr", "VMI Attributes", false, &TSetupRecord::VMIAttr},
    {"Data Attr", "Data Attributes", false, &TSetupRecord::DataAttr},
    {"Error Attr", "Error Attributes", false, &TSetupRecord::ErrorAttr},
    {"MSG Attr", "Message Attributes", false, &TSetupRecord::MsgAttr},
    {"Indicator Attr", "Indicator Attributes", false, &TSetupRecord::IndicatorAttr},
};

// The sixteen colours of the system palette, 0x00BBGGRR.
constexpr std::array<TColor, kPaletteSize> kPalette{
    0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080, 0x808000, 0x808080,
    0xC0C0C0, 0x0000FF, 0x00FF00, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF,
};
}  // namespace

// ------------------------------------------------------------ control texts

std::uint8_t PortIndexOfText(std::string_view text) {
  const std::string_view trimmed = Trimmed(text);
  for (std::size_t i = 0; i < kPortItems.size(); ++i) {
    if (EqualsIgnoreCase(std::string(trimmed), kPortItems[i])) return static_cast<std::uint8_t>(i);
  }
  return kNoPortIndex;
}

int ComboChoice(std::uint8_t value, std::size_t items) { return value < items ? value : -1; }

std::uint8_t ValueOfChoice(int choice, std::uint8_t current) {
  return choice < 0 ? current : static_cast<std::uint8_t>(choice);
}

int ComPortChoice(std::uint8_t comPort) { return ComboChoice(comPort, kComPortItems.size()); }

std::uint8_t ComPortOfChoice(int choice, std::uint8_t current) { return ValueOfChoice(choice, current); }

int StopBitsChoice(std::uint8_t stopBits) { return stopBits != 0 ? 1 : 0; }

std::uint8_t StopBitsOfChoice(int choice, std::uint8_t current) {
  if (choice < 0 || choice == StopBitsChoice(current)) return current;
  return choice == 0 ? 0 : 2;
}

int DataBitsChoice(std::uint8_t dataBits) { return dataBits != 3 ? 1 : 0; }

std::uint8_t DataBitsOfChoice(int choice, std::uint8_t current) {
  if (choice < 0 || choice == DataBitsChoice(current)) return current;
  return choice == 0 ? 3 : 4;
}

// ------------------------------------------------------------ wait character

std::string WaitCharText(std::uint8_t code) {
  if (code >= 32 && code <= 122) return std::string(1, static_cast<char>(code));
  return "<" + std::to_string(code) + ">";
}

std::uint8_t ReadWaitChar(std::string_view text, std::uint8_t current) {
  const std::string_view trimmed = Trimmed(text);
  if (trimmed.empty()) return kDefaultWaitChar;
  if (trimmed.front() != '<') return static_cast<std::uint8_t>(trimmed.front());
  int code = 0;
  std::size_t digits = 0;
  for (std::size_t i = 1; i < trimmed.size() && trimmed[i] >= '0' && trimmed[i] <= '9'; ++i, ++digits) {
    code = code * 10 + (trimmed[i] - '0');
    if (code > 255) return current;  // not a character code: it would wrap to another one
  }
  return digits == 0 ? current : static_cast<std::uint8_t>(code);
}

// ------------------------------------------------------------ file edits

const TFileEditInfo& FileEditInfo(TFileEdit edit) { return kFileEdits[edit]; }

TFileDialog BrowseDialog(TFileEdit edit, const std::string& text) {
  TFileDialog dialog;
  dialog.Filter = kFileEdits[edit].Filter;
  dialog.InitialName = text;
  return dialog;
}

std::string BrowsedName(TFileEdit edit, const std::string& chosen) {
  if (edit != feOrnet) return chosen;
  const std::size_t separator = chosen.find_last_of("/\\");
  return separator == std::string::npos ? chosen : chosen.substr(0, separator + 1);
}

// ------------------------------------------------------------ attributes

const TAttributeButton& AttributeButton(int index) { return kAttributeButtons[index]; }

const std::array<TColor, kPaletteSize>& ChooserPalette() { return kPalette; }

TAttributeChoice ChoiceOf(const TAttributeBlock& block) {
  return {block.Foreground, block.Background, block.Style};
}

void StoreChoice(const TAttributeChoice& choice, TAttributeBlock& block) {
  block.Foreground = choice.Foreground;
  block.Background = choice.Background;
  block.Style = choice.Style;
}

std::string StoredFontName(std::string_view name) {
  return std::string(name.substr(0, TShortString<40>::Capacity));
}

// ------------------------------------------------------------ Apply and OK

TConfigChanges CompareSettings(const TSetupRecord& before, const TSetupRecord& after) {
  TConfigChanges c;
  c.NetworkTarget = before.HostName.view() != after.HostName.view() || before.Port != after.Port;
  c.ComPort = before.ComPort != after.ComPort;
  c.SerialParameters = before.BaudRate != after.BaudRate || before.StopBits != after.StopBits ||
                       before.DataBits != after.DataBits || before.Parity != after.Parity ||
                       before.FlowControl != after.FlowControl;
  c.ScreenSize = before.ScreenSize != after.ScreenSize;
  c.Emulation = before.Emulation != after.Emulation;
  c.Font = before.FontName.view() != after.FontName.view() || before.FontSize != after.FontSize ||
           before.FontStyle != after.FontStyle;
  c.Attributes = c.Font || before.ForegroundColor != after.ForegroundColor ||
                 before.BackgroundColor != after.BackgroundColor || before.BlinkColor != after.BlinkColor;
  for (const TAttributeButton& button : kAttributeButtons) {
    if (!SameBlock(before.*button.Block, after.*button.Block)) c.Attributes = true;
  }
  c.MarkColors = before.MarkForegroundColor != after.MarkForegroundColor ||
                 before.MarkBackgroundColor != after.MarkBackgroundColor;
  c.LogFileName = !SameText(before.LogFileName, after.LogFileName);
  c.ModeFileName = !SameText(before.ModeFileName, after.ModeFileName);
  c.OrnetDirectory = !SameText(before.OrnetDirectoryName, after.OrnetDirectoryName);
  c.CommandFileName = !SameText(before.CommandFileName, after.CommandFileName);
  c.EbcdicMapFileName = !SameText(before.EBCDICMapFileName, after.EBCDICMapFileName);
  c.Any = std::memcmp(&before, &after, sizeof before) != 0;
  return c;
}

namespace {
bool AskPortChanged(TSession& s) {
  const TMessageBox box{TMsgIcon::Confirmation, kPortChangedQuestion, "", mbOK | mbCancel, 0};
  return s.Desktop.ShowMessage(box) == TMsgResult::OK;
}

void StoreNetworkFields(TSetupRecord& live, const TSetupRecord& draft) {
  live.HostName = draft.HostName.view();
  live.Port = draft.Port;
  live.FTPUserName = draft.FTPUserName.view();
  live.FTPPassword = draft.FTPPassword.view();
  live.FTPHostName = draft.FTPHostName.view();
  live.RemotePath = draft.RemotePath.view();
  live.LocalPath = draft.LocalPath.view();
}

void StoreSerialFields(TSetupRecord& live, const TSetupRecord& draft) {
  live.ComPort = draft.ComPort;
  live.BaudRate = draft.BaudRate;
  live.StopBits = draft.StopBits;
  live.DataBits = draft.DataBits;
  live.Parity = draft.Parity;
  live.FlowControl = draft.FlowControl;
}
}  // namespace

void ApplyConnectionSettings(TSession& s, const TSetupRecord& draft) {
  ApplyConnectionSettings(s, draft, s.Connection);
}

namespace {
bool SecureTargetDiffers(const TConnectionSettings& a, const TConnectionSettings& b) {
  return a.SshUserName != b.SshUserName || a.SshPort != b.SshPort || a.SshKeyFile != b.SshKeyFile ||
         a.KnownHostsFile != b.KnownHostsFile;
}
}  // namespace

void ApplyConnectionSettings(TSession& s, const TSetupRecord& draft, const TConnectionSettings& connection) {
  const TConfigChanges changes = CompareSettings(s.Settings, draft);
  TTransmitPath& transmit = *s.Transmit;
  const bool secure = transmit.SecureSession;
  const bool secureTarget = secure && SecureTargetDiffers(s.Connection, connection);
  StoreNetworkFields(s.Settings, draft);
  s.Connection = connection;
  if ((changes.NetworkTarget || secureTarget) && transmit.NetworkConnected && AskPortChanged(s)) {
    transmit.ConnectionControl(ckNetwork, ctClose);
    transmit.ConnectionControl(secure ? ckSecure : ckNetwork, ctOpen);
  }
  if (changes.ComPort && transmit.SerialConnected && AskPortChanged(s)) {
    transmit.ConnectionControl(ckSerial, ctClose);
    s.Settings.ComPort = draft.ComPort;
    transmit.ConnectionControl(ckSerial, ctOpen);
  }
  StoreSerialFields(s.Settings, draft);
  if (changes.SerialParameters && transmit.SerialConnected) transmit.ConnectionControl(ckSerial, ctReconfigure);
}

namespace {
void RunFileFollowUps(TSession& s, const TConfigChanges& changes, const TConfigHooks& hooks) {
  if (changes.LogFileName) s.Files->CloseLogFile();
  if (changes.ModeFileName) s.TraceFiles->CloseTraceFiles();
  if (changes.OrnetDirectory && s.Trace->TraceState != TTraceDecoder::tsConverting) s.Kasp->CloseKaspFiles();
  if (changes.CommandFileName && hooks.ReloadCommandDefinitions) hooks.ReloadCommandDefinitions();
  if (changes.EbcdicMapFileName) s.SettingsFiles->LoadEbcdicMap();
}
}  // namespace

TConfigChanges ApplyConfiguration(TSession& s, const TSetupRecord& draft, const TConfigHooks& hooks) {
  return ApplyConfiguration(s, draft, s.Connection, hooks);
}

TConfigChanges ApplyConfiguration(TSession& s, const TSetupRecord& draft, const TConnectionSettings& connection,
                                  const TConfigHooks& hooks) {
  const TSetupRecord before = s.Settings;
  const TConfigChanges changes = CompareSettings(before, draft);
  // The connection fields are Apply's, which compares them with the live
  // record and may have to re-connect: they stay as they were until then.
  s.Settings = draft;
  StoreNetworkFields(s.Settings, before);
  StoreSerialFields(s.Settings, before);

  // A new column mode resets the margins: only a changed size may cost the
  // host's scrolling region.
  if (changes.ScreenSize) s.Writer->SetColumnMode(draft.ScreenSize);
  s.Writer->BuildAttributes();  // the screen's font with them
  RunFileFollowUps(s, changes, hooks);
  ApplyConnectionSettings(s, draft, connection);
  s.Writer->UpdateStatusBar();
  if (hooks.ScreenProperties) hooks.ScreenProperties(changes);
  return changes;
}
