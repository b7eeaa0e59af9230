// The screen writer: the terminal-level layer between every producer of
// screen output and the store. It owns the one TerminalState.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>

class TBrowse;
class TDesktop;
class TLogFiles;
struct TSetupRecord;
struct TStatusIndicators;

// Category attributes used by producers of trace output.
enum TCategory {
  caIE,
  caDSS1Msg,
  caSndRcv,
  caMbid,
  caVMI,
  caData,
  caError,
  caMsg,
  caIndicator,
  caCount,
};

struct TSavedCursor {
  std::uint8_t Row = 0, Column = 0;
  int Attribute = 0;
  bool G0Selected = true, G0Graphics = false, G1Graphics = false;
};

struct TTerminalState {
  std::uint8_t CursorColumn = 1, CursorRow = 1;
  std::uint8_t LeftMargin = 1, RightMargin = 80;
  std::uint8_t TopMargin = 1, BottomMargin = 24;
  std::uint8_t OriginColumn = 1, OriginRow = 1;
  std::uint8_t StoreColumns = 132, ScreenRows = 24;
  int CurrentAttribute = 0;
  std::uint8_t LineSize[24] = {};  // 0 normal, 1 double width, 2 double height top, 4 bottom
  bool G0Graphics = false, G1Graphics = false, G0Selected = true;
  TSavedCursor Saved;
  bool OriginMode = false;
  bool CursorKeysApplication = false, KeypadApplication = false;
  bool KeyboardLocked = false;
  int Category[caCount] = {};
};

// What the writer uses of the session.
struct TScreenWriterContext {
  TDesktop& Desktop;
  TSetupRecord& Settings;  // SetColumnMode keeps the screen size there
  TBrowse& Screen;
  TLogFiles& Files;        // the log and a text receive take what is written
  TStatusIndicators& Status;
};

class TScreenWriter {
 public:
  explicit TScreenWriter(const TScreenWriterContext& context);

  // Set once by the session: fills the indicators of the floors above the
  // writer (MINI, trace conversion, connection) when UpdateStatusBar runs.
  std::function<void(TStatusIndicators&)> FillStatus;

  TTerminalState State;
  // While set, WriteLine writes each line here instead of the screen
  // (decoded output redirected to a file).
  std::ostream* Redirect = nullptr;

  void ResetTerminal();
  // The default text attribute, the nine category attributes and the
  // screen font, from the settings (ResetTerminal's first half).
  void BuildAttributes();
  void PutChar(std::uint8_t c);
  // Plain text (every byte IsPlain, the line-drawing set not active) as
  // PutChar writes it, then PutChar of each CR and LF in ends (nothing else),
  // with the cursor shown once at the end: a line of output in one call.
  void PutTextAndLineEnds(const std::uint8_t* text, std::size_t count, const std::uint8_t* ends,
                          std::size_t endCount);
  // A character written as plain text: 32..255 but 127, outside the
  // line-drawing set's codes while that set is active.
  static constexpr bool IsPlain(std::uint8_t c, bool graphicsActive) {
    return c >= 32 && c != 127 && !(graphicsActive && c > 94 && c < 128);
  }
  void WriteLine(std::string_view text, int attribute, int row = 0);
  void WriteLine(std::string_view text, TCategory category) {
    WriteLine(text, State.Category[category], 0);
  }
  void PutCell(std::uint8_t c, int column, int row, bool paint, int attribute);
  std::uint8_t GetScreenChar(int column, int row) const;
  int GetScreenAttribute(int column, int row) const;
  void SetScreenAttribute(int column, int row, int attribute);
  void EraseArea(int fromColumn, int fromRow, int toColumn, int toRow, int attribute, bool paint);
  void ScrollRegion(bool up, int count, int attribute, int left, int top, int right, int bottom,
                    bool paint);
  void LineFeedScroll(int row);
  void SetColumnMode(int mode);
  void UpdateCursor();
  void RepaintArea(int left, int top, int right, int bottom);
  void UpdateStatusBar();
  void UpdateLinesInBuffer();
  int DefaultAttribute() const;
  // The same record at twice the settings' FontSize (double-height rows).
  int DoubleSizeAttribute(int attribute);
  // The same record at the settings' FontSize.
  int SingleSizeAttribute(int attribute);
  void ApplyAttributeToRegion();
  void Beep();
  void MakeRowDoubleHeight(int row);
  void MakeRowSingle(int row);
  // Double width: the character of each column c from RightMargin / 2 down
  // to 2 moves to column 2c and column 2c - 1 is blanked; column 1 keeps its
  // character and column 2 is blanked, so every character shows once.
  void MakeRowDoubleWidth(int row);

  // The line-drawing character shown for c (95..127) of the graphics set.
  static std::uint8_t LineDrawing(std::uint8_t c);

 private:
  bool GraphicsActive() const { return State.G0Selected ? State.G0Graphics : State.G1Graphics; }
  int RowSize(int row) const {
    return row >= 1 && row <= static_cast<int>(sizeof State.LineSize) ? State.LineSize[row - 1] : 0;
  }
  void WrapCheck();
  // The line-feed rule: scroll at the bottom margin after a line feed, else
  // keep the cursor on the screen.
  void LineFeedRule(bool lineFeed);
  void MoveLineSizesUp();
  void PutPrintable(std::uint8_t c);
  void WritePrintable(std::uint8_t c);  // by the row's LineSize, after the wrap check
  void WritePlain(const std::uint8_t* text, std::size_t count);  // a checked run, without the cursor update
  void FeedHooks(std::uint8_t c);
  void Blank(int row, int fromColumn, int toColumn, int attribute);
  int ResizedAttribute(int attribute, int size);

  TScreenWriterContext S;
  // Last double-size lookup: attribute, font size, result.
  int ResizeFrom = -1, ResizeSize = -1, ResizeTo = -1;
};
