// The settings record: one packed little-endian record that is also the
// settings file format (*.MSE). Field offsets are binding: files written by
// the Windows tool must open, so every offset is pinned by a static_assert.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

static_assert(std::endian::native == std::endian::little,
              "the settings record is stored little-endian and read in place");

// Length-prefixed fixed-size string: one length byte, then N characters.
template <std::size_t N>
struct TShortString {
  std::uint8_t Length = 0;
  char Data[N] = {};

  std::string str() const { return std::string(Data, Length > N ? N : Length); }
  std::string_view view() const { return {Data, Length > N ? N : std::size_t(Length)}; }
  bool empty() const { return Length == 0; }
  // Texts longer than N are cut to N. Bytes after the length are left as
  // they were, so a file read and written again keeps them.
  void assign(std::string_view s) {
    const std::size_t n = s.size() > N ? N : s.size();
    std::memcpy(Data, s.data(), n);
    Length = static_cast<std::uint8_t>(n);
  }
  TShortString& operator=(std::string_view s) { assign(s); return *this; }
  static constexpr std::size_t Capacity = N;
};

using TColor = std::uint32_t;  // 0x00BBGGRR

namespace colors {
inline constexpr TColor Black = 0x000000;
inline constexpr TColor White = 0xFFFFFF;
inline constexpr TColor Red = 0x0000FF;
inline constexpr TColor Green = 0x008000;
inline constexpr TColor Blue = 0xFF0000;
inline constexpr TColor Yellow = 0x00FFFF;
inline constexpr TColor Aqua = 0xFFFF00;
inline constexpr TColor Maroon = 0x000080;
inline constexpr TColor Purple = 0x800080;
inline constexpr TColor Navy = 0x800000;
inline constexpr TColor Silver = 0xC0C0C0;
}  // namespace colors

// Style bits shared by attribute blocks, FontStyle and text attributes.
enum : std::uint8_t {
  fsBold = 1,
  fsItalic = 2,
  fsUnderline = 4,
  fsStrikeOut = 8,
};

#pragma pack(push, 1)

struct TAttributeBlock {
  TColor Foreground;
  TColor Background;
  std::uint8_t Style;
  std::uint8_t Size;
  std::uint8_t Reserved[10];
};
static_assert(sizeof(TAttributeBlock) == 20);

struct TTriggerEntry {
  std::uint16_t Identity;
  std::uint16_t Offset;
  std::uint16_t Mask;
  std::uint16_t Value;
};
static_assert(sizeof(TTriggerEntry) == 8);

enum TEmulation : std::uint8_t {
  emQuorix = 0,
  emVT100 = 1,
  emVT220 = 2,
  emTN3270 = 3,
  emVT52 = 4,  // only the host selects it; never stored by the dialog
};

struct TSetupRecord {
  std::uint8_t ComPort;
  std::uint8_t BaudRate;
  std::uint8_t DataBits;
  std::uint8_t StopBits;
  std::uint8_t Parity;
  std::uint8_t Emulation;
  std::uint8_t FlowControl;
  std::uint8_t LocalEcho;
  TShortString<80> LogFileName;
  TShortString<80> ModeFileName;
  TShortString<80> CommandFileName;
  std::uint8_t FollowCursor;
  std::uint8_t Reserved252;
  std::uint8_t Reserved253;
  std::uint8_t Wrap;
  std::uint8_t NewLine;
  std::uint8_t ScreenSize;
  TShortString<80> SimulateFileName;
  TShortString<80> SendReceiveFileName;
  std::uint8_t BackSpaceSends;
  std::uint8_t TabStops[132];
  std::uint8_t DisplayMsgHeader;
  std::uint8_t DisplayMsgBuffer;
  std::uint8_t DisplayUserBuffer;
  std::uint8_t ShortValueLines;
  std::uint8_t Reserved556[2];
  std::uint8_t ConvertSetElements;
  std::uint8_t BackgroundLogging;
  std::uint8_t ColTurnsTrace;
  std::uint8_t ColTurnsMiniTrace;
  std::uint8_t Reserved562[2];
  TAttributeBlock IEAttr;
  TAttributeBlock DSS1MsgAttr;
  TAttributeBlock SndRcvAttr;
  TAttributeBlock MbidAttr;
  TAttributeBlock VMIAttr;
  TAttributeBlock DataAttr;
  TAttributeBlock ErrorAttr;
  TAttributeBlock MsgAttr;
  TAttributeBlock IndicatorAttr;
  std::uint8_t TriggerType;
  std::uint8_t Reserved745;
  TTriggerEntry TriggerEntries[4];
  std::uint8_t TriggerAction;
  std::uint8_t Reserved779;
  std::uint8_t CharDelay;
  std::uint8_t LineDelay;
  std::uint8_t WaitChar;
  std::uint8_t EOFCtrlZ;
  std::uint8_t EOL;
  std::uint8_t Reserved785;
  std::uint8_t LineDly;
  std::uint8_t CtrlZEnd;
  std::uint8_t SuppressCtrlChar;
  std::uint8_t Reserved789[2];
  TShortString<80> KeyMapFileName;
  TColor ForegroundColor;
  TColor BackgroundColor;
  TColor BlinkColor;
  TColor Reserved884;
  TColor MarkForegroundColor;
  TColor MarkBackgroundColor;
  TColor Reserved896;
  TColor Reserved900;
  TColor BookmarkColor1;
  TColor BookmarkColor2;
  std::uint8_t Reserved912;
  std::uint8_t FontStyle;
  TShortString<40> FontName;
  std::uint8_t Reserved955;
  std::uint16_t FontSize;
  TShortString<80> Reserved958;
  TShortString<80> DisplayModeName;
  std::uint8_t Reserved1120;
  std::uint8_t Reserved1121;
  std::uint8_t Reserved1122[2];
  std::uint8_t SoftkeyEcho;
  std::uint8_t MaxEchoDelay;
  std::uint8_t EscFlush;
  std::uint8_t PadsRetries;
  std::uint8_t PadsDelay;
  std::uint8_t Reserved1129[2];
  std::uint8_t ImprovedProtocol;
  std::uint8_t QuorixType;
  TShortString<32> DialString;
  TShortString<32> DialNumber;
  TShortString<32> HangUpString;
  TShortString<80> InitModemString;
  TShortString<80> OrnetDirectoryName;
  TShortString<80> VMIFileName;
  TShortString<80> BIDFileName;
  std::uint8_t Reserved1556;
  TShortString<80> HostName;
  std::uint8_t Port;
  TShortString<80> FTPUserName;
  TShortString<80> FTPPassword;
  TShortString<80> FTPHostName;
  TShortString<80> FTPAccount;
  TShortString<255> RemotePath;
  TShortString<255> LocalPath;
  std::uint8_t StatusBarVisible;
  std::uint8_t ToolBarVisible;
  std::uint8_t QuorixToolBarVisible;
  std::uint8_t ModemToolBarVisible;
  std::uint8_t SoftKeyBarVisible;
  std::uint8_t ShiftSoftKeyBarVisible;
  std::uint8_t CntrlSoftKeyBarVisible;
  std::uint8_t Reserved2482[2];
  std::int32_t WindowLeft;
  std::int32_t WindowTop;
  std::int32_t WindowHeight;
  std::int32_t WindowWidth;
  TShortString<255> SoftKeys[12];
  TShortString<255> ShiftSoftKeys[12];
  TShortString<255> CntrlSoftKeys[12];
  std::int32_t SoftKeyDelay;
  std::uint8_t PrintRange;
  std::uint8_t PrintToFile;
  std::uint8_t LazyScroll;
  std::uint8_t ETXAck;
  TShortString<80> EBCDICMapFileName;
  TShortString<255> AnswerBack;
  std::uint8_t BookmarkVisible;
  std::uint8_t Reserved12062[40];
  std::uint8_t Reserved12102[2];
  std::uint32_t Reserved12104[40];
  TShortString<80> Reserved12264[20];
  std::uint32_t Reserved13884[40];

  // Fills every field with its default, reserved fields included.
  void ApplyDefaults();
};

#pragma pack(pop)

inline constexpr std::size_t kSetupRecordSize = 14044;
static_assert(sizeof(TSetupRecord) == kSetupRecordSize);

#define QEL_AT(field, off) static_assert(offsetof(TSetupRecord, field) == (off), #field)
QEL_AT(ComPort, 0);
QEL_AT(LocalEcho, 7);
QEL_AT(LogFileName, 8);
QEL_AT(ModeFileName, 89);
QEL_AT(CommandFileName, 170);
QEL_AT(FollowCursor, 251);
QEL_AT(Wrap, 254);
QEL_AT(ScreenSize, 256);
QEL_AT(SimulateFileName, 257);
QEL_AT(SendReceiveFileName, 338);
QEL_AT(BackSpaceSends, 419);
QEL_AT(TabStops, 420);
QEL_AT(DisplayMsgHeader, 552);
QEL_AT(ShortValueLines, 555);
QEL_AT(ConvertSetElements, 558);
QEL_AT(ColTurnsMiniTrace, 561);
QEL_AT(IEAttr, 564);
QEL_AT(DSS1MsgAttr, 584);
QEL_AT(SndRcvAttr, 604);
QEL_AT(MbidAttr, 624);
QEL_AT(VMIAttr, 644);
QEL_AT(DataAttr, 664);
QEL_AT(ErrorAttr, 684);
QEL_AT(MsgAttr, 704);
QEL_AT(IndicatorAttr, 724);
QEL_AT(TriggerType, 744);
QEL_AT(TriggerEntries, 746);
QEL_AT(TriggerAction, 778);
QEL_AT(CharDelay, 780);
QEL_AT(WaitChar, 782);
QEL_AT(EOL, 784);
QEL_AT(LineDly, 786);
QEL_AT(SuppressCtrlChar, 788);
QEL_AT(KeyMapFileName, 791);
QEL_AT(ForegroundColor, 872);
QEL_AT(BlinkColor, 880);
QEL_AT(MarkForegroundColor, 888);
QEL_AT(BookmarkColor1, 904);
QEL_AT(BookmarkColor2, 908);
QEL_AT(FontStyle, 913);
QEL_AT(FontName, 914);
QEL_AT(FontSize, 956);
QEL_AT(Reserved958, 958);
QEL_AT(DisplayModeName, 1039);
QEL_AT(Reserved1120, 1120);
QEL_AT(SoftkeyEcho, 1124);
QEL_AT(MaxEchoDelay, 1125);
QEL_AT(EscFlush, 1126);
QEL_AT(PadsRetries, 1127);
QEL_AT(PadsDelay, 1128);
QEL_AT(ImprovedProtocol, 1131);
QEL_AT(QuorixType, 1132);
QEL_AT(DialString, 1133);
QEL_AT(DialNumber, 1166);
QEL_AT(HangUpString, 1199);
QEL_AT(InitModemString, 1232);
QEL_AT(OrnetDirectoryName, 1313);
QEL_AT(VMIFileName, 1394);
QEL_AT(BIDFileName, 1475);
QEL_AT(HostName, 1557);
QEL_AT(Port, 1638);
QEL_AT(FTPUserName, 1639);
QEL_AT(FTPPassword, 1720);
QEL_AT(FTPHostName, 1801);
QEL_AT(FTPAccount, 1882);
QEL_AT(RemotePath, 1963);
QEL_AT(LocalPath, 2219);
QEL_AT(StatusBarVisible, 2475);
QEL_AT(CntrlSoftKeyBarVisible, 2481);
QEL_AT(WindowLeft, 2484);
QEL_AT(WindowTop, 2488);
QEL_AT(WindowHeight, 2492);
QEL_AT(WindowWidth, 2496);
QEL_AT(SoftKeys, 2500);
QEL_AT(ShiftSoftKeys, 5572);
QEL_AT(CntrlSoftKeys, 8644);
QEL_AT(SoftKeyDelay, 11716);
QEL_AT(PrintRange, 11720);
QEL_AT(LazyScroll, 11722);
QEL_AT(ETXAck, 11723);
QEL_AT(EBCDICMapFileName, 11724);
QEL_AT(AnswerBack, 11805);
QEL_AT(BookmarkVisible, 12061);
QEL_AT(Reserved12062, 12062);
QEL_AT(Reserved12104, 12104);
QEL_AT(Reserved12264, 12264);
QEL_AT(Reserved13884, 13884);
#undef QEL_AT

// Port numbers of the `Port` index (Echo, Discard, Daytime, Netstat, Chargen, Telnet).
inline constexpr int kTelnetPortIndex = 5;

// The terminal identifier inside the default answer-back text.
inline constexpr std::string_view kTerminalIdentifier = "QELWIN-32";
static_assert(kTerminalIdentifier.size() == 9);
