#include "core/settings.h"

#include <string>

namespace {
constexpr std::uint16_t kDefaultFontSize = 8;

// The size byte of a block is a copy of the font size.
TAttributeBlock Block(TColor fg, TColor bg, std::uint8_t style) {
  TAttributeBlock b{};
  b.Foreground = fg;
  b.Background = bg;
  b.Style = style;
  b.Size = kDefaultFontSize;
  return b;
}
}  // namespace

void TSetupRecord::ApplyDefaults() {
  // Zero first: reserved bytes and the bytes behind each string's length too.
  std::memset(static_cast<void*>(this), 0, sizeof(*this));
  BaudRate = 6;
  DataBits = 4;
  Reserved253 = 3;
  Wrap = 1;
  NewLine = 1;
  BackSpaceSends = 1;
  for (int i = 8; i <= 128; i += 8) TabStops[i] = 1;
  DisplayMsgBuffer = 1;
  DisplayUserBuffer = 1;
  ShortValueLines = 1;
  Reserved556[0] = Reserved556[1] = 1;
  ConvertSetElements = 1;
  ColTurnsMiniTrace = 1;
  using namespace colors;
  IEAttr = Block(Blue, White, fsBold);
  DSS1MsgAttr = Block(Green, White, fsBold);
  SndRcvAttr = Block(Black, White, 0);
  MbidAttr = Block(Blue, White, fsBold);
  VMIAttr = Block(Green, White, fsBold);
  DataAttr = Block(Black, White, 0);
  ErrorAttr = Block(Red, White, fsBold);
  MsgAttr = Block(Black, White, fsBold);
  IndicatorAttr = Block(Black, White, fsBold);
  TriggerType = 2;
  Reserved745 = 1;
  for (auto& e : TriggerEntries) e = TTriggerEntry{0, 0, 0xFFFF, 0};
  TriggerAction = 9;
  WaitChar = '>';
  EOL = 2;
  ForegroundColor = Black;
  BackgroundColor = White;
  BlinkColor = Red;
  Reserved884 = Red;
  MarkForegroundColor = White;
  MarkBackgroundColor = Blue;
  Reserved896 = White;
  Reserved900 = Yellow;
  BookmarkColor1 = White;
  BookmarkColor2 = Green;
  FontName = "Courier New";
  FontSize = kDefaultFontSize;
  Reserved1120 = 9;
  Reserved1121 = 15;
  MaxEchoDelay = 6;
  PadsRetries = 3;
  PadsDelay = 2;
  ImprovedProtocol = 1;
  DialString = "ATDP 9,";
  HangUpString = "<P:20>+++<P:20>ATH<CR>";
  OrnetDirectoryName = "C:\\ORNET\\";
  Port = kTelnetPortIndex;
  StatusBarVisible = 1;
  ToolBarVisible = 1;
  QuorixToolBarVisible = 1;
  SoftKeyBarVisible = 1;
  WindowLeft = 5;
  WindowTop = 5;
  WindowHeight = 492;
  WindowWidth = 825;
  LazyScroll = 1;
  AnswerBack = "<2>" + std::string(kTerminalIdentifier) + "<13><4>";
  for (auto& c : Reserved13884) c = 0xFFFFFF;
}
