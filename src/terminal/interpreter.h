// The receive interpreter: Telnet commands, input translation, control
// characters and table-driven escape-sequence recognition. The functions the
// recognised sequences perform live in functions.cpp.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "core/transferstate.h"

class TSession;

class TReceiveInterpreter {
 public:
  explicit TReceiveInterpreter(TSession& session);

  // The single entry: one received byte, in order.
  void ReceiveByte(std::uint8_t b);
  // Behaves as ReceiveByte for each byte, but hands runs of plain text to the
  // writer in one call. Returns how many bytes it took (at least one when
  // count > 0). It stops early after a byte whose handling may have changed
  // what the receive dispatcher must do (a transfer started by the host, the
  // answer-back, anything that can show a box or reach the trace decoders),
  // so the caller can look at the dispatcher's state again.
  std::size_t ReceiveBlock(const std::uint8_t* data, std::size_t count);

  // The path of a character that is not part of a control function.
  void HandleReceivedChar(std::uint8_t b);
  // One byte of a Telnet command; false when b is not part of the command and
  // must go on through ReceiveByte as data.
  bool TelnetByte(std::uint8_t b);
  // On a Telnet connection while a transfer takes the received bytes raw:
  // true when b belongs to a Telnet command (answered as ever), false for
  // data, the second byte of a doubled IAC included, so that IAC IAC is one
  // byte 255 in the transfer.
  bool TelnetDuringTransfer(std::uint8_t b);
  // The byte stream ended (the line went away): a sequence or Telnet command
  // left unfinished is dropped, so the next session's first bytes are its own.
  void StreamEnded();
  // One byte of an escape sequence.
  void EscapeByte(std::uint8_t b);
  // Fills Parameters and ParameterCount from EscapeBuffer.
  void ParseParameters();
  // The effect of a recognised sequence; numbers without an effect do nothing.
  void PerformFunction(int number);

  // True while received characters go to the trace decoder instead of the
  // screen: trace conversion on, or the error conversion file (KASP.ERR) open.
  bool TraceDecoderTakesChars() const;

  static constexpr std::size_t kEscapeBufferSize = 80;
  static constexpr std::size_t kRunawayLength = 30;
  static constexpr std::size_t kLineCaptureLimit = 255;
  static constexpr int kMaxParameters = 21;

  bool EscapeActive = false;
  std::string EscapeBuffer;  // the characters after ESC (ESC itself is not stored)
  bool TelnetActive = false;
  std::string TelnetBuffer;  // the bytes after IAC
  bool LineCaptureActive = false;
  std::string LineCaptureBuffer;

  std::int32_t Parameters[kMaxParameters] = {};
  int ParameterCount = 0;

 private:
  void StartEscape();
  void EndEscape(int function);
  void WriteEscapeLogRecord(int function);
  void CaptureLineByte(std::uint8_t b);
  bool ImmediateControl(std::uint8_t b);
  bool TelnetStarts(std::uint8_t b) const;
  bool TelnetConnection() const;
  // The bytes a run of plain text may hold now; null when none may be taken
  // as a run (an escape sequence or Telnet command going on, the decoders or
  // the line-drawing set taking characters, a type that translates them).
  const std::array<bool, 256>* PlainBytes() const;
  bool LineEndsGoStraight() const;
  std::size_t TakeParameters(const std::uint8_t* data, std::size_t count);
  int WholeSequenceType() const;
  std::size_t WholeControlSequence(const std::uint8_t* data, std::size_t count, int type, bool escapeLog);
  std::size_t CollectedSequence(const std::uint8_t* data, std::size_t start, std::size_t length, int function,
                                std::int16_t& known, std::int32_t (&values)[kMaxParameters], int parameters);
  void ParseParametersOf(std::string_view text);
  void UseTableOf(int emulation);
  // Parameters beyond `count` are 0. The first few are copied in one fixed
  // move, zeros included, when no more were set since: finding how many need
  // clearing takes longer than that. `values` past `count` may be overwritten.
  void SetParameters(std::int32_t (&values)[kMaxParameters], int count) {
    if (count > kFewParameters || SetParameterCount_ > kFewParameters) return SetManyParameters(values, count);
    std::memset(values + count, 0, sizeof(std::int32_t) * kFewParameters);
    std::memcpy(Parameters, values, sizeof(std::int32_t) * kFewParameters);
    SetParameterCount_ = count;
  }
  [[gnu::noinline]] void SetManyParameters(std::int32_t (&values)[kMaxParameters], int count);
  static constexpr int kFewParameters = 8;
  static_assert(2 * kFewParameters <= kMaxParameters, "the zeros after a few values stay inside");

  // Telnet answers leave untranslated and unescaped.
  void SendTelnetAnswer(std::uint8_t command, std::uint8_t option);
  void AnswerSubnegotiation();
  void AnswerOption(std::uint8_t command, std::uint8_t option);

  void Send(std::uint8_t b);

  // functions.cpp
  void SendBytes(std::string_view bytes);
  int Parameter(int index) const;  // 1-based; 0 when absent
  void MoveCursor(int column, int row);
  void CursorUp(int count);
  void CursorDown(int count);
  void CursorForward(int count);
  void CursorBackward(int count);
  void CursorPosition();
  void Vt52CursorAddress();
  void ReverseIndex();
  void SaveCursor();
  void RestoreCursor();
  void EraseInLine();
  void EraseInDisplay();
  void DeleteCharacters();
  void SelectGraphicRendition();
  void SetVideo(bool inverse);
  void SetModes(bool set);
  void SetPrivateModes(bool set);
  void SetQuorixColumns();
  void ClearTabStops();
  void SetScrollingRegion();
  void DeviceStatusReport();
  void DeviceAttributes();
  void SecondaryDeviceAttributes();
  void LineCaptureRequest();
  void HostTransfer(TDirection direction);
  void ColumnModeChange(int mode);
  void DoubleHeightBottom();
  void SetRowLineSize(std::uint8_t size);
  int Default();
  int ApplySgrParameter(int attribute, int parameter);
  // Its first time: out of line, so that the look-up stays small enough to inline.
  [[gnu::noinline]] int LearnSgrParameter(int attribute, int parameter);
  void RefreshAttributeMemo();

  TSession& S;
  int TableEmulation_ = -1;  // the type whose table Table_ is
  const std::uint8_t* Table_ = nullptr;
  std::size_t ScanEntry_ = 0;  // first table entry still in the race for this sequence
  const std::uint8_t* Finals_ = nullptr;  // final table while inside a prefix entry's parameters
  bool YieldToDispatcher_ = false;
  int PreparsedCount_ = -1;  // parameters already read for the sequence being performed
  int WholeFunction_ = -1;    // performed by the last WholeControlSequence, else -1
  int SetParameterCount_ = 0;  // Parameters that may be non-zero
  // Functions of whole control sequences by shape (marker, parameters or
  // none, final 0x40..0x7E) for the current table; -1 unknown, 0 no match.
  bool ShapeMemoUsable_ = false;
  std::int16_t ShapeMemo_[3][2][63] = {};

  // Attribute numbers the functions need again and again: the default
  // attribute and the result of each SGR parameter with an effect on each
  // attribute met (Steps[attribute * kSgrKinds + kind], -1 while not known).
  // Interning is deterministic, so a remembered number is the one interning
  // would give, as long as the settings it depends on stay the same.
  static constexpr int kSgrKinds = 20;  // 1, 4, 5, 7, 30..37, 40..47
  struct TAttributeMemo {
    std::uint32_t Foreground = 0, Background = 0, Blink = 0;
    std::uint16_t FontSize = 0;
    std::string FontName;
    int DefaultAttribute = -1;
    std::vector<std::int32_t> Steps;
  };
  TAttributeMemo Memo_;
  // Inside ReceiveBlock the settings cannot change (the block ends after any
  // byte that may let the window run), so the memo is checked against them
  // once a block; outside a block, at every use.
  bool InBlock_ = false;
  bool MemoChecked_ = false;
};
