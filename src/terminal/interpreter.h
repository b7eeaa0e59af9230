// The receive interpreter: Telnet commands, input translation, control
// characters and table-driven escape-sequence recognition. The functions the
// recognised sequences perform live in functions.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class TSession;

class TReceiveInterpreter {
 public:
  explicit TReceiveInterpreter(TSession& session);

  // The single entry: one received byte, in order.
  void ReceiveByte(std::uint8_t b);
  // Behaves as ReceiveByte for each byte, but hands runs of plain text to the
  // writer in one call. Returns how many bytes it took (at least one when
  // count > 0): it stops after the first byte that needed the byte-wise path,
  // so the caller can look at the dispatcher's state again.
  std::size_t ReceiveBlock(const std::uint8_t* data, std::size_t count);

  // The path of a character that is not part of a control function.
  void HandleReceivedChar(std::uint8_t b);
  // One byte of a Telnet command; false when b is not part of the command and
  // must go on through ReceiveByte as data.
  bool TelnetByte(std::uint8_t b);
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
  bool EorOption = false;  // Telnet END-OF-RECORD agreed; read by the transmit path

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
  std::size_t PlainRunLength(const std::uint8_t* data, std::size_t count) const;

  // Telnet answers leave untranslated and unescaped.
  void SendTelnetAnswer(std::uint8_t command, std::uint8_t option);
  void AnswerSubnegotiation();
  void AnswerOption(std::uint8_t command, std::uint8_t option);

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
  void HostTransfer(int direction);
  void ColumnModeChange(int mode);
  void DoubleHeightBottom();
  void SetRowLineSize(std::uint8_t size);

  TSession& S;
  const std::uint8_t* Table_ = nullptr;  // table of the type when the sequence started
  std::size_t ScanEntry_ = 0;  // first table entry still in the race for this sequence
};
