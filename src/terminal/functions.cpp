// The effects of the function numbers the sequence tables produce.
#include <algorithm>
#include <array>
#include <new>
#include <string>

#include "app/session.h"
#include "comms/transmit.h"
#include "core/numbers.h"
#include "core/paths.h"
#include "core/settings.h"
#include "log/logfiles.h"
#include "screen/store.h"
#include "screen/writer.h"
#include "terminal/interpreter.h"
#include "transfer/engine.h"

namespace {

constexpr std::uint8_t kCsi8Bit = 155;

// Foreground colours of SGR 30..37 and background colours of 40..47
// (red in the low byte). 36 and 46 are navy, 43 is maroon.
constexpr TColor kSgrForeground[8] = {0x000000, 0x0000FF, 0x008000, 0x00FFFF,
                                      0xFF0000, 0x800080, 0x800000, 0xFFFFFF};
constexpr TColor kSgrBackground[8] = {0x000000, 0x0000FF, 0x008000, 0x000080,
                                      0xFF0000, 0x800080, 0x800000, 0xC0C0C0};

int AtLeastOne(int count) { return count < 1 ? 1 : count; }

// The kind of an SGR parameter with an effect other than the reset (0):
// bold, underline, blink, reverse, a foreground, a background; -1 for none.
constexpr std::array<std::int8_t, 48> kSgrKind = [] {
  std::array<std::int8_t, 48> kinds{};
  kinds.fill(-1);
  kinds[1] = 0;
  kinds[4] = 1;
  kinds[5] = 2;
  kinds[7] = 3;
  for (int p = 30; p <= 37; ++p) kinds[p] = static_cast<std::int8_t>(p - 26);
  for (int p = 40; p <= 47; ++p) kinds[p] = static_cast<std::int8_t>(p - 28);
  return kinds;
}();

}  // namespace

int TReceiveInterpreter::Parameter(int index) const {
  if (index < 1 || index > ParameterCount) return 0;
  // Coordinates and counts never exceed a few hundred; capping keeps the
  // arithmetic below far from overflow.
  return std::min<std::int32_t>(Parameters[index - 1], 9999);
}

void TReceiveInterpreter::SendBytes(std::string_view bytes) {
  for (const char c : bytes) Send(static_cast<std::uint8_t>(c));
}

void TReceiveInterpreter::MoveCursor(int column, int row) {
  TTerminalState& t = S.Writer->State;
  t.CursorColumn = static_cast<std::uint8_t>(std::clamp(column, 1, 255));
  t.CursorRow = static_cast<std::uint8_t>(std::clamp(row, 1, 255));
  S.Writer->UpdateCursor();
}

void TReceiveInterpreter::SetRowLineSize(std::uint8_t size) {
  TTerminalState& t = S.Writer->State;
  if (t.CursorRow >= 1 && t.CursorRow <= std::size(t.LineSize)) t.LineSize[t.CursorRow - 1] = size;
}

void TReceiveInterpreter::PerformFunction(int number) {
  TScreenWriter& writer = *S.Writer;
  TTerminalState& t = writer.State;
  switch (number) {
    case 1: ParseParameters(); CursorUp(Parameter(1)); return;
    case 2: ParseParameters(); CursorDown(Parameter(1)); return;
    case 3: ParseParameters(); CursorForward(Parameter(1)); return;
    case 4: ParseParameters(); CursorBackward(Parameter(1)); return;
    case 5: ParseParameters(); CursorPosition(); return;
    case 6: writer.PutChar('\n'); return;
    case 7: writer.PutChar('\r'); writer.PutChar('\n'); return;
    case 8: ReverseIndex(); return;
    case 9: SaveCursor(); return;
    case 10: RestoreCursor(); return;
    case 11:
      writer.MakeRowDoubleHeight(t.CursorRow);
      SetRowLineSize(2);
      return;
    case 12: DoubleHeightBottom(); return;
    case 13:
      SetRowLineSize(0);
      writer.MakeRowSingle(t.CursorRow);
      return;
    case 14:
      SetRowLineSize(1);
      writer.MakeRowDoubleWidth(t.CursorRow);
      return;
    case 15: ParseParameters(); EraseInLine(); return;
    case 16: ParseParameters(); SetQuorixColumns(); return;
    case 18: ParseParameters(); EraseInDisplay(); return;
    case 21: ParseParameters(); SelectGraphicRendition(); return;
    case 42: case 44: t.G0Graphics = false; return;
    case 43: case 45: t.G1Graphics = false; return;
    case 46: t.G0Graphics = true; return;
    case 47: t.G1Graphics = true; return;
    case 48: ParseParameters(); SetModes(true); return;
    case 49: ParseParameters(); SetModes(false); return;
    case 50: ParseParameters(); SetPrivateModes(true); return;
    case 51: ParseParameters(); SetPrivateModes(false); return;
    case 63: t.KeypadApplication = true; return;
    case 64: t.KeypadApplication = false; return;
    case 65:
      S.Settings.Emulation = emVT100;
      writer.UpdateStatusBar();
      return;
    case 66: t.G0Graphics = true; t.G0Selected = true; return;
    case 67: t.G0Graphics = false; t.G0Selected = true; return;
    case 68: case 148: MoveCursor(t.OriginColumn, t.OriginRow); return;
    case 73: ParseParameters(); SetScrollingRegion(); return;
    case 74:
      if (t.CursorColumn >= 1 && t.CursorColumn <= std::size(S.Settings.TabStops)) {
        S.Settings.TabStops[t.CursorColumn - 1] = 1;
      }
      return;
    case 75: ParseParameters(); ClearTabStops(); return;
    case 77: ParseParameters(); DeviceStatusReport(); return;
    case 81: DeviceAttributes(); return;
    case 82: Vt52CursorAddress(); return;
    case 149:
      writer.EraseArea(t.OriginColumn, t.CursorRow, t.StoreColumns, t.ScreenRows,
                       Default(), true);
      return;
    case 150: SetVideo(true); return;
    case 151: SetVideo(false); return;
    case 163: case 164:
      ParseParameters();
      writer.ScrollRegion(number == 164, AtLeastOne(Parameter(1)), Default(),
                          t.LeftMargin, t.TopMargin, t.RightMargin, t.BottomMargin, true);
      return;
    case 165: ParseParameters(); DeleteCharacters(); return;
    case 168: SecondaryDeviceAttributes(); return;
    case 169: ParseParameters(); LineCaptureRequest(); return;
    case 170: ParseParameters(); HostTransfer(drSend); return;
    case 171: ParseParameters(); HostTransfer(drReceive); return;
    default: return;
  }
}

// --- Cursor movement ---
// A cursor inside the scrolling region stops at its margin; one already
// outside it (above or below) is limited by the screen edge only, so a move
// up never drags it down into the region and a move down never pulls it up.

void TReceiveInterpreter::CursorUp(int count) {
  const TTerminalState& t = S.Writer->State;
  const int limit = t.CursorRow >= t.TopMargin ? t.TopMargin : t.OriginRow;
  MoveCursor(t.CursorColumn, std::max(t.CursorRow - AtLeastOne(count), limit));
}

void TReceiveInterpreter::CursorDown(int count) {
  const TTerminalState& t = S.Writer->State;
  const int limit = t.CursorRow <= t.BottomMargin ? t.BottomMargin : t.ScreenRows;
  MoveCursor(t.CursorColumn, std::min(t.CursorRow + AtLeastOne(count), limit));
}

void TReceiveInterpreter::CursorForward(int count) {
  const TTerminalState& t = S.Writer->State;
  MoveCursor(std::min(t.CursorColumn + AtLeastOne(count), int(t.RightMargin)), t.CursorRow);
}

void TReceiveInterpreter::CursorBackward(int count) {
  const TTerminalState& t = S.Writer->State;
  MoveCursor(std::max(t.CursorColumn - AtLeastOne(count), int(t.LeftMargin)), t.CursorRow);
}

void TReceiveInterpreter::CursorPosition() {
  const TTerminalState& t = S.Writer->State;
  const int p1 = Parameter(1);
  const int p2 = Parameter(2);
  int row;
  if (t.OriginMode) {
    row = p1 == 0 ? t.TopMargin : std::min(t.TopMargin + p1 - 1, int(t.BottomMargin));
  } else {
    row = p1 == 0 ? 1 : std::min(p1, int(t.ScreenRows));
  }
  const int column = p2 == 0 ? t.LeftMargin : std::min(t.LeftMargin + p2 - 1, int(t.RightMargin));
  MoveCursor(column, row);
}

void TReceiveInterpreter::Vt52CursorAddress() {
  const TTerminalState& t = S.Writer->State;
  if (EscapeBuffer.size() < 3) return;
  // Characters below code 32 would give 0 or less: row and column start at 1.
  const int row = std::clamp(std::uint8_t(EscapeBuffer[1]) - 31, 1, int(t.ScreenRows));
  const int column = std::clamp(std::uint8_t(EscapeBuffer[2]) - 31, 1, int(t.StoreColumns));
  MoveCursor(column, row);
}

void TReceiveInterpreter::ReverseIndex() {
  TScreenWriter& writer = *S.Writer;
  const TTerminalState& t = writer.State;
  if (t.CursorRow == t.TopMargin) {
    writer.ScrollRegion(false, 1, t.CurrentAttribute, t.LeftMargin, t.TopMargin, t.RightMargin,
                        t.BottomMargin, true);
    MoveCursor(t.CursorColumn, t.TopMargin);
    return;
  }
  // Inside the region the cursor moves up; above it, it stops at the top row.
  MoveCursor(t.CursorColumn, std::max(t.CursorRow - 1, int(t.OriginRow)));
}

void TReceiveInterpreter::SaveCursor() {
  TTerminalState& t = S.Writer->State;
  t.Saved.Row = t.CursorRow;
  t.Saved.Column = t.CursorColumn;
  t.Saved.Attribute = t.CurrentAttribute;
  t.Saved.G0Selected = t.G0Selected;
  t.Saved.G0Graphics = t.G0Graphics;
  t.Saved.G1Graphics = t.G1Graphics;
}

void TReceiveInterpreter::RestoreCursor() {
  TTerminalState& t = S.Writer->State;
  t.G0Selected = t.Saved.G0Selected;
  t.G0Graphics = t.Saved.G0Graphics;
  t.G1Graphics = t.Saved.G1Graphics;
  // Nothing saved yet (row 0): home with the default attribute rather than a
  // cursor on row 0, which would address the history line above the screen.
  if (t.Saved.Row == 0 || t.Saved.Column == 0) {
    t.CurrentAttribute = Default();
    MoveCursor(t.OriginColumn, t.OriginRow);
    return;
  }
  t.CurrentAttribute = t.Saved.Attribute;
  MoveCursor(t.Saved.Column, t.Saved.Row);
}

// --- Line size ---

void TReceiveInterpreter::DoubleHeightBottom() {
  TScreenWriter& writer = *S.Writer;
  const TTerminalState& t = writer.State;
  writer.EraseArea(t.LeftMargin, t.CursorRow, t.RightMargin, t.CursorRow, t.CurrentAttribute, true);
  // The row keeps no text of its own: what is written on it goes to the row above.
  S.Screen->ReplaceScreenLine(std::string(132, '\0'), t.CurrentAttribute, false, t.CursorRow);
  SetRowLineSize(4);
}

// --- Erasing and editing ---

void TReceiveInterpreter::EraseInLine() {
  TScreenWriter& writer = *S.Writer;
  const TTerminalState& t = writer.State;
  const int attribute = Default();
  switch (Parameter(1)) {
    case 0:
      writer.EraseArea(t.CursorColumn, t.CursorRow, t.RightMargin, t.CursorRow, attribute, true);
      return;
    case 1:
      writer.EraseArea(t.LeftMargin, t.CursorRow, t.CursorColumn, t.CursorRow, attribute, true);
      return;
    case 2:
      writer.EraseArea(t.LeftMargin, t.CursorRow, t.RightMargin, t.CursorRow, attribute, true);
      return;
    default:
      return;
  }
}

void TReceiveInterpreter::EraseInDisplay() {
  TScreenWriter& writer = *S.Writer;
  const TTerminalState& t = writer.State;
  const int attribute = Default();
  switch (Parameter(1)) {
    case 0:
      writer.EraseArea(t.CursorColumn, t.CursorRow, t.StoreColumns, t.ScreenRows, attribute, true);
      return;
    case 1:
      writer.EraseArea(t.OriginColumn, t.OriginRow, t.CursorColumn, t.CursorRow, attribute, true);
      MoveCursor(t.LeftMargin, t.TopMargin);
      return;
    case 2:
      writer.EraseArea(t.OriginColumn, t.OriginRow, t.StoreColumns, t.ScreenRows, attribute, true);
      return;
    default:
      return;
  }
}

void TReceiveInterpreter::DeleteCharacters() {
  const TTerminalState& t = S.Writer->State;
  const int lastColumn = 132;
  const int column = t.CursorColumn;
  if (column < 1 || column > lastColumn) return;
  // More characters than the cursor has to its right delete those only,
  // never columns left of the cursor.
  const int n = std::min(AtLeastOne(Parameter(1)), lastColumn - column + 1);
  const int line = S.Screen->ScreenLine(t.CursorRow);
  if (line < 0) return;
  if (column + n <= lastColumn) {
    S.Screen->CopyBlock({column + n, line, lastColumn, line}, {column, line, lastColumn - n, line},
                        true, false);
  }
  S.Screen->FillText(' ', n, lastColumn - n + 1, true, Default(), t.CursorRow);
}

// --- Attributes ---

void TReceiveInterpreter::RefreshAttributeMemo() {
  if (MemoChecked_) return;
  MemoChecked_ = InBlock_;
  const TSetupRecord& settings = S.Settings;
  TAttributeMemo& m = Memo_;
  if (m.DefaultAttribute >= 0 && m.Foreground == settings.ForegroundColor &&
      m.Background == settings.BackgroundColor && m.Blink == settings.BlinkColor &&
      m.FontSize == settings.FontSize && m.FontName == settings.FontName.view()) {
    return;
  }
  m.Foreground = settings.ForegroundColor;
  m.Background = settings.BackgroundColor;
  m.Blink = settings.BlinkColor;
  m.FontSize = settings.FontSize;
  m.FontName = settings.FontName.view();
  m.DefaultAttribute = S.Writer->DefaultAttribute();
  m.Steps.clear();
}

int TReceiveInterpreter::Default() {
  RefreshAttributeMemo();
  return Memo_.DefaultAttribute;
}

// The attribute after one SGR parameter; -1 for a parameter without effect.
// The memo must be fresh (RefreshAttributeMemo).
int TReceiveInterpreter::ApplySgrParameter(int attribute, int p) {
  if (p == 0) return Memo_.DefaultAttribute;
  const int kind = static_cast<unsigned>(p) < kSgrKind.size() ? kSgrKind[static_cast<unsigned>(p)] : -1;
  if (kind < 0) return -1;
  const std::vector<std::int32_t>& steps = Memo_.Steps;
  const std::size_t slot = static_cast<std::size_t>(attribute) * kSgrKinds + static_cast<std::size_t>(kind);
  if (slot < steps.size() && steps[slot] >= 0) return steps[slot];
  return LearnSgrParameter(attribute, p);
}

// ApplySgrParameter the first time it meets the attribute and the parameter.
int TReceiveInterpreter::LearnSgrParameter(int attribute, int p) {
  TTextAttributes working = S.Screen->GetAttributeRecord(attribute);
  if (p == 1) {
    working.Style |= fsBold;
  } else if (p == 4) {
    working.Style |= fsUnderline;
  } else if (p == 5) {
    working.Foreground = S.Settings.BlinkColor;
  } else if (p == 7) {
    std::swap(working.Foreground, working.Background);
  } else if (p >= 30 && p <= 37) {
    working.Foreground = kSgrForeground[p - 30];
  } else {
    working.Background = kSgrBackground[p - 40];
  }
  const int result = S.Screen->InternAttribute(working);
  if (attribute < 0) return result;
  std::vector<std::int32_t>& steps = Memo_.Steps;
  const std::size_t row = static_cast<std::size_t>(attribute) * kSgrKinds;
  try {
    if (row >= steps.size()) steps.resize(row + kSgrKinds, -1);
    steps[row + static_cast<std::size_t>(kSgrKind[static_cast<unsigned>(p)])] = result;
  } catch (const std::bad_alloc&) {
    // Not remembered: worked out again next time.
  }
  return result;
}

void TReceiveInterpreter::SelectGraphicRendition() {
  TTerminalState& t = S.Writer->State;
  RefreshAttributeMemo();
  if (ParameterCount == 0) {
    t.CurrentAttribute = Memo_.DefaultAttribute;
    return;
  }
  // Each parameter acts on the record of the attribute the one before left.
  for (int i = 0; i < ParameterCount; ++i) {
    const int next = ApplySgrParameter(t.CurrentAttribute, Parameters[i]);
    if (next >= 0) t.CurrentAttribute = next;
  }
}

void TReceiveInterpreter::SetVideo(bool inverse) {
  TTerminalState& t = S.Writer->State;
  TTextAttributes working = S.Screen->GetAttributeRecord(t.CurrentAttribute);
  working.Foreground = inverse ? S.Settings.BackgroundColor : S.Settings.ForegroundColor;
  working.Background = inverse ? S.Settings.ForegroundColor : S.Settings.BackgroundColor;
  t.CurrentAttribute = S.Screen->InternAttribute(working);
}

// --- Modes ---

void TReceiveInterpreter::SetModes(bool set) {
  TTerminalState& t = S.Writer->State;
  for (int i = 1; i <= ParameterCount; ++i) {
    switch (Parameter(i)) {
      case 2:
        t.KeyboardLocked = set;
        S.Status.ScrollLock = set;
        S.Writer->UpdateStatusBar();
        break;
      case 12: S.Settings.LocalEcho = set; break;
      case 20: S.Settings.NewLine = set; break;
      default: break;
    }
  }
}

void TReceiveInterpreter::ColumnModeChange(int mode) {
  TScreenWriter& writer = *S.Writer;
  TTerminalState& t = writer.State;
  writer.SetColumnMode(mode);
  MoveCursor(t.OriginColumn, t.OriginRow);
  t.CurrentAttribute = Default();
  writer.EraseArea(t.OriginColumn, t.OriginRow, t.StoreColumns, t.ScreenRows, t.CurrentAttribute,
                   true);
}

void TReceiveInterpreter::SetPrivateModes(bool set) {
  TScreenWriter& writer = *S.Writer;
  TTerminalState& t = writer.State;
  for (int i = 1; i <= ParameterCount; ++i) {
    switch (Parameter(i)) {
      case 1: t.CursorKeysApplication = set; break;
      case 2:
        if (set) {
          S.Settings.Emulation = emVT52;
          writer.UpdateStatusBar();
        }
        break;
      case 3: ColumnModeChange(set ? 1 : 0); break;
      case 5:
        if (set) {
          SetVideo(true);
        } else {
          t.CurrentAttribute = Default();
        }
        writer.ApplyAttributeToRegion();
        break;
      case 6: t.OriginMode = set; break;
      case 7: S.Settings.Wrap = set; break;
      default: break;
    }
  }
}

void TReceiveInterpreter::SetQuorixColumns() {
  for (int i = 1; i <= ParameterCount; ++i) {
    switch (Parameter(i)) {
      case 1: S.Writer->SetColumnMode(0); break;
      case 2: case 4: case 6: S.Writer->SetColumnMode(1); break;
      default: break;
    }
  }
}

void TReceiveInterpreter::ClearTabStops() {
  const TTerminalState& t = S.Writer->State;
  auto& stops = S.Settings.TabStops;
  switch (Parameter(1)) {
    case 0:
      if (t.CursorColumn >= 1 && t.CursorColumn <= std::size(stops)) stops[t.CursorColumn - 1] = 0;
      return;
    case 3:
      std::fill(std::begin(stops), std::end(stops), 0);
      return;
    default:
      return;
  }
}

void TReceiveInterpreter::SetScrollingRegion() {
  TTerminalState& t = S.Writer->State;
  int top = t.OriginRow;
  int bottom = t.ScreenRows;
  if (ParameterCount > 0) {
    top = Parameter(1);
    bottom = Parameter(2);
  }
  if (top == 0 || top < t.OriginRow) top = t.OriginRow;
  if (bottom == 0 || bottom > t.ScreenRows) bottom = t.ScreenRows;
  if (top > bottom) {
    top = t.OriginRow;
    bottom = t.ScreenRows;
  }
  t.TopMargin = static_cast<std::uint8_t>(top);
  t.BottomMargin = static_cast<std::uint8_t>(bottom);
  MoveCursor(t.LeftMargin, t.OriginMode ? t.TopMargin : t.OriginRow);
}

// --- Reports ---

void TReceiveInterpreter::DeviceStatusReport() {
  const TTerminalState& t = S.Writer->State;
  switch (Parameter(1)) {
    case 6: {
      int row = t.CursorRow;
      int column = t.CursorColumn;
      if (t.OriginMode) {
        // Origin mode set with the cursor above the region leaves it there;
        // its nearest position inside is the first row, and a negative
        // field would garble the answer.
        row = std::max(row - t.TopMargin + 1, 1);
        column = std::max(column - t.LeftMargin + 1, 1);
      }
      std::string answer = "\x1B[";
      AppendDec(answer, row, 3);
      answer += ';';
      AppendDec(answer, column, 3);
      answer += 'R';
      SendBytes(answer);
      return;
    }
    case 5:
      SendBytes("\x1B[0n");
      return;
    default:
      return;
  }
}

void TReceiveInterpreter::DeviceAttributes() {
  switch (S.Settings.Emulation) {
    case emVT100:
      SendBytes("\x1B[?1;2c");
      return;
    case emVT220:
      Send(kCsi8Bit);
      SendBytes("?62;1;6c");
      return;
    case emVT52:
      SendBytes("\x1B/Z");
      return;
    default:
      return;
  }
}

void TReceiveInterpreter::SecondaryDeviceAttributes() {
  if (S.Settings.Emulation != emVT220) return;
  Send(kCsi8Bit);
  SendBytes(">1;10;0c");
}

// --- Host requests ---

void TReceiveInterpreter::LineCaptureRequest() {
  switch (Parameter(1)) {
    case 0:
      LineCaptureActive = true;
      LineCaptureBuffer.clear();
      return;
    case 1:
      SendBytes(LineCaptureBuffer);
      Send('\r');
      return;
    default:
      return;
  }
}

void TReceiveInterpreter::HostTransfer(TDirection direction) {
  TTransferEngine& transfer = *S.Transfer;
  const int type = Parameters[0];
  for (int i = 0; i < 3; ++i) transfer.HostTransferParams[i] = Parameters[i];
  if (type != 3) {
    transfer.HostTransferParams[3] = Parameters[3];
    transfer.HostTransferParams[4] = Parameters[4];
  }
  // A transfer already running keeps its file: a second one is refused. A
  // recording replayed (simulate, playback) starts none, and a session may
  // permit neither direction.
  const THostTransferPermit& permit = transfer.HostTransfers;
  const bool replaying = (transfer.Activities & (acSimulate | acPlayback)) != 0;
  // Nobody to send the file: a send is refused too.
  const bool permitted = direction == drSend ? permit.Send && transfer.HostSendStarted : permit.Receive;
  if (type == 2 || type == 3 || transfer.TransferActive || replaying || !permitted) {
    Send('N');
    return;
  }
  if (type == 0) transfer.ReceiveKind = rkHost;
  if (type == 1) transfer.ReceiveKind = rkUser;
  if (type == 0) S.Files->HostFilePolicy = Parameters[1];  // 0 ask, 1 overwrite, 2 a new numbered name
  // The host names no file: the transfer uses the configured send/receive file.
  S.Files->TransferFileName = S.Settings.SendReceiveFileName.str();
  if (direction == drReceive && !permit.ReceiveDirectory.empty()) {
    const std::string name = FileNamePart(S.Files->TransferFileName);
    S.Files->TransferFileName = permit.ReceiveDirectory + "/" + (name.empty() ? "received" : name);
  }
  // A file the host's receive replaces is kept beside it.
  S.Files->KeepReplacedFile = direction == drReceive;
  const bool opened = S.Files->OpenTransferFile(direction == drSend ? 0 : 1);
  S.Files->KeepReplacedFile = false;
  if (!opened) {
    Send('N');
    return;
  }
  transfer.ReceiveLimit = direction == drReceive ? permit.ReceiveLimit : 0;
  transfer.TransferActive = true;
  transfer.Direction = direction;
  Send('Y');
  const auto& started = direction == drSend ? transfer.HostSendStarted : transfer.HostReceiveStarted;
  if (started) started();
}
