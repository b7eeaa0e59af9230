#include "terminal/interpreter.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "app/session.h"
#include "comms/transmit.h"
#include "core/ascii.h"
#include "core/numbers.h"
#include "core/settings.h"
#include "log/logfiles.h"
#include "screen/writer.h"
#include "terminal/keyboard.h"
#include "terminal/tables.h"
#include "trace/decoder.h"
#include "trace/mini.h"
#include "trace/tracefiles.h"
#include "transfer/engine.h"

namespace {

constexpr std::uint8_t kCan = 24;
constexpr std::uint8_t kSub = 26;
constexpr std::uint8_t kIac = 255;
constexpr char kLineEnd[] = "\r\n";

// Telnet commands and options.
constexpr std::uint8_t tcSE = 240;
constexpr std::uint8_t tcSB = 250;
constexpr std::uint8_t tcWILL = 251;
constexpr std::uint8_t tcWONT = 252;
constexpr std::uint8_t tcDO = 253;
constexpr std::uint8_t tcDONT = 254;
constexpr std::uint8_t toBinary = 0;
constexpr std::uint8_t toEcho = 1;
constexpr std::uint8_t toSuppressGoAhead = 3;
constexpr std::uint8_t toStatus = 5;
constexpr std::uint8_t toTimingMark = 6;
constexpr std::uint8_t toTerminalType = 24;
constexpr std::uint8_t toEndOfRecord = 25;
constexpr std::uint8_t kTerminalTypeSend = 1;
constexpr std::uint8_t kTerminalTypeIs = 0;
constexpr std::size_t kSubnegotiationLimit = 21;

// The 8-bit controls of VT220-8bit, TN3270 and VT52 mode: the character that
// follows ESC in their 7-bit form, or 0.
constexpr std::array<std::uint8_t, 256> kEightBitControls = [] {
  std::array<std::uint8_t, 256> table{};
  table[132] = 'D';
  table[133] = 'E';
  table[136] = 'H';
  table[141] = 'M';
  table[142] = 'N';
  table[143] = 'O';
  table[144] = 'P';
  table[155] = '[';
  table[156] = '/';
  return table;
}();

// Bytes that reach the writer as printable characters, per kind of type: the
// writer's plain characters (no controls, no DEL); VT100 strips bit 7, so its
// high bytes are not plain; the 8-bit types lose their 8-bit controls. On a
// Telnet connection 255 is not plain either: it may start a command.
enum TPlainSet { psAll, ps7Bit, ps8BitControls };

constexpr std::array<bool, 256> PlainBytes(TPlainSet set, bool iacIsCommand) {
  std::array<bool, 256> plain{};
  for (int b = 0; b < 256; ++b) {
    plain[b] = TScreenWriter::IsPlain(static_cast<std::uint8_t>(b), false) &&
               !(set == ps7Bit && b >= 128) && !(set == ps8BitControls && kEightBitControls[b] != 0) &&
               !(iacIsCommand && b == 255);
  }
  return plain;
}
constexpr std::array<bool, 256> kPlain[3][2] = {
    {PlainBytes(psAll, false), PlainBytes(psAll, true)},
    {PlainBytes(ps7Bit, false), PlainBytes(ps7Bit, true)},
    {PlainBytes(ps8BitControls, false), PlainBytes(ps8BitControls, true)},
};

// How many bytes from the start are printable ASCII (32..126), found sixteen
// at a time where the processor has SSE2, else eight: plain text in every type
// that takes its bytes as they are.
static_assert(std::endian::native == std::endian::little, "the first byte is the lowest");
std::size_t PrintableAsciiPrefix(const std::uint8_t* data, std::size_t count) {
  std::size_t n = 0;
#if defined(__SSE2__)
  // As signed bytes the printable ones are exactly those above 31 and below
  // 127: every byte from 128 up is negative.
  const __m128i low = _mm_set1_epi8(31);
  const __m128i high = _mm_set1_epi8(127);
  while (n + 16 <= count) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + n));
    const __m128i printable = _mm_and_si128(_mm_cmpgt_epi8(bytes, low), _mm_cmplt_epi8(bytes, high));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(printable));
    if (mask != 0xFFFF) return n + static_cast<std::size_t>(std::countr_one(mask));
    n += 16;
  }
#endif
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
  while (n + 8 <= count) {
    std::uint64_t word;
    std::memcpy(&word, data + n, sizeof word);
    const std::uint64_t below32 = (word - kOnes * 32) & ~word & kHighBits;
    const std::uint64_t above126 = ((word + kOnes * 1) | word) & kHighBits;
    const std::uint64_t offending = below32 | above126;
    if (offending != 0) {
      // Borrows and carries only run upwards: the lowest mark is exact.
      return n + static_cast<std::size_t>(std::countr_zero(offending)) / 8;
    }
    n += 8;
  }
  return n;
}

bool HasEightBitControls(int type) { return type == emVT220 || type == emTN3270 || type == emVT52; }

std::string_view TerminalName(int type) {
  switch (type) {
    case emVT220: return "DEC-VT220";
    case emTN3270: return "IBM-3278-2";
    case emVT52: return "DEC-VT52";
    default: return "DEC-VT100";
  }
}

// While the interpreter answers a Telnet command its bytes leave untranslated
// and without 255-doubling or line collection.
class TUntranslated {
 public:
  explicit TUntranslated(TTransmitPath& transmit)
      : Transmit(transmit), Saved(transmit.TranslateEnabled) {
    Transmit.TranslateEnabled = false;
  }
  ~TUntranslated() { Transmit.TranslateEnabled = Saved; }
  TUntranslated(const TUntranslated&) = delete;
  TUntranslated& operator=(const TUntranslated&) = delete;

 private:
  TTransmitPath& Transmit;
  bool Saved;
};

}  // namespace

TReceiveInterpreter::TReceiveInterpreter(TSession& session) : S(session) {
  EscapeBuffer.reserve(kEscapeBufferSize);
  TelnetBuffer.reserve(kSubnegotiationLimit);
  LineCaptureBuffer.reserve(kLineCaptureLimit);
}

bool TReceiveInterpreter::TelnetConnection() const {
  // An SSH channel carries the bytes as they are: no Telnet layer.
  return S.Settings.Port == kTelnetPortIndex && !S.Transmit->SecureSession &&
         (S.Transmit->NetworkConnected || S.Transmit->ListenActive);
}

bool TReceiveInterpreter::TelnetStarts(std::uint8_t b) const {
  return b == kIac && !TelnetActive && TelnetConnection() && !S.Transfer->TransferActive;
}

void TReceiveInterpreter::StreamEnded() {
  EscapeActive = false;
  EscapeBuffer.clear();
  TelnetActive = false;
  TelnetBuffer.clear();
  LineCaptureActive = false;
  LineCaptureBuffer.clear();
}

bool TReceiveInterpreter::TelnetDuringTransfer(std::uint8_t b) {
  if (TelnetActive) return TelnetByte(b);
  if (b != kIac || !TelnetConnection()) return false;
  TelnetActive = true;
  TelnetBuffer.clear();
  return true;
}

bool TReceiveInterpreter::TraceDecoderTakesChars() const {
  return S.Trace->TraceState == TTraceDecoder::tsConverting || S.Kasp->ErrorFileOpen;
}

void TReceiveInterpreter::ReceiveByte(std::uint8_t b) {
  if (TelnetStarts(b)) {
    TelnetActive = true;
    TelnetBuffer.clear();
    return;
  }
  if (TelnetActive && TelnetByte(b)) return;

  const int type = S.Settings.Emulation;
  if (type == emTN3270) {
    b = S.EbcdicMap.Incoming[b];
  } else if (type == emVT100) {
    b &= 0x7F;
  }

  if (b == ESC) {
    StartEscape();
    return;
  }
  if (HasEightBitControls(type) && kEightBitControls[b] != 0) {
    StartEscape();
    EscapeByte(kEightBitControls[b]);
    return;
  }
  if (LineCaptureActive) {
    CaptureLineByte(b);
    return;
  }
  if (ImmediateControl(b)) return;
  if (EscapeActive) {
    EscapeByte(b);
    return;
  }
  HandleReceivedChar(b);
}

void TReceiveInterpreter::CaptureLineByte(std::uint8_t b) {
  const bool newLine = S.Settings.NewLine != 0;
  if ((b == '\r' && !newLine) || (b == '\n' && newLine)) {
    LineCaptureActive = false;
    return;
  }
  LineCaptureBuffer.push_back(static_cast<char>(b));
  if (LineCaptureBuffer.size() >= kLineCaptureLimit) {
    LineCaptureBuffer.clear();
    LineCaptureActive = false;
  }
}

bool TReceiveInterpreter::ImmediateControl(std::uint8_t b) {
  TTerminalState& t = S.Writer->State;
  switch (b) {
    case 14:  // SO
      t.G0Selected = false;
      return true;
    case 15:  // SI
      t.G0Selected = true;
      return true;
    case 7:  // BEL
      S.Writer->Beep();
      return true;
    case 5:  // ENQ
      S.Keyboard->StartAnswerBack();
      YieldToDispatcher_ = true;
      return true;
    case 3:  // ETX
      if (S.Settings.ETXAck) Send(6);
      return true;
    case 12:  // FF
      if (S.Settings.Emulation != emQuorix) {
        HandleReceivedChar('\n');
        return true;
      }
      S.Writer->EraseArea(t.LeftMargin, t.TopMargin, t.RightMargin, t.BottomMargin,
                          t.CurrentAttribute, true);
      t.CursorColumn = t.LeftMargin;
      t.CursorRow = t.TopMargin;
      S.Writer->UpdateCursor();
      return true;
    default:
      return false;
  }
}

void TReceiveInterpreter::HandleReceivedChar(std::uint8_t b) {
  if (S.Mini->WantsCharacters()) YieldToDispatcher_ = true;
  if (S.Mini->MiniTraceReceiveChar(b)) return;
  if (TraceDecoderTakesChars()) {
    // The decoders open files and let the window run during long decodes.
    YieldToDispatcher_ = true;
    S.Trace->TraceReceiveChar(b);
    return;
  }
  S.Writer->PutChar(b);
}

void TReceiveInterpreter::Send(std::uint8_t b) {
  // A failing serial write asks the user; the window runs meanwhile.
  YieldToDispatcher_ = true;
  S.Transmit->SendByte(b);
}

// --- Escape sequences ---

void TReceiveInterpreter::StartEscape() {
  EscapeActive = true;
  EscapeBuffer.clear();
  ScanEntry_ = 0;
  Finals_ = nullptr;
}

void TReceiveInterpreter::UseTableOf(int emulation) {
  TableEmulation_ = emulation;
  Table_ = terminal_tables::SequenceTable(emulation);
  ShapeMemoUsable_ = terminal_tables::ParametersNeverDecide(Table_);
  std::fill(&ShapeMemo_[0][0][0], &ShapeMemo_[0][0][0] + sizeof ShapeMemo_ / sizeof(std::int16_t),
            std::int16_t{-1});
}

void TReceiveInterpreter::EscapeByte(std::uint8_t b) {
  if (b == kCan || b == kSub) {
    EscapeActive = false;
    EscapeBuffer.clear();
    return;
  }
  if (EscapeBuffer.size() < kEscapeBufferSize) EscapeBuffer.push_back(static_cast<char>(b));
  if (EscapeBuffer.size() >= kRunawayLength) return EndEscape(0);

  if (S.Settings.Emulation != TableEmulation_) {
    UseTableOf(S.Settings.Emulation);
    ScanEntry_ = 0;
    Finals_ = nullptr;
  }
  // Inside the parameters of a prefix entry only this character decides.
  if (Finals_) {
    if (terminal_tables::IsParameterChar(b)) return;
    return EndEscape(terminal_tables::LookUpFinal(Finals_, b));
  }
  const terminal_tables::TScanResult result =
      terminal_tables::ScanSequence(Table_, EscapeBuffer, ScanEntry_);
  if (result.Kind == terminal_tables::TScanKind::Incomplete) {
    ScanEntry_ = result.Entry;
    Finals_ = result.Finals;
    return;
  }
  EndEscape(result.Kind == terminal_tables::TScanKind::Complete ? result.Function : 0);
}

void TReceiveInterpreter::EndEscape(int function) {
  EscapeActive = false;
  ParameterCount = 0;
  PerformFunction(function);
  if (S.Files->EscapeLogOpen()) WriteEscapeLogRecord(function);
  EscapeBuffer.clear();
  ScanEntry_ = 0;
  Finals_ = nullptr;
}

void TReceiveInterpreter::WriteEscapeLogRecord(int function) {
  std::string record = EscapeBuffer;
  record += " = ";
  AppendDec(record, function, 5);
  record += kLineEnd;
  if (ParameterCount > 0) {
    record += "       Parameters are :";
    record += kLineEnd;
    for (int i = 0; i < ParameterCount; ++i) {
      record += "\n         #";
      AppendDec(record, i + 1, 5);
      record += " = ";
      AppendDec(record, Parameters[i], 5);
      record += kLineEnd;
    }
  }
  // A failed write is reported in a box, during which the window runs on.
  YieldToDispatcher_ = true;
  S.Files->WriteEscapeLog(record);
}

void TReceiveInterpreter::ParseParameters() {
  if (PreparsedCount_ >= 0) {
    // WholeControlSequence read them from the same characters already.
    ParameterCount = PreparsedCount_;
    PreparsedCount_ = -1;
    return;
  }
  ParseParametersOf(EscapeBuffer);
}

void TReceiveInterpreter::ParseParametersOf(std::string_view text) {
  std::int32_t values[kMaxParameters];
  int count = 0;
  std::int64_t value = 0;
  bool haveDigits = false;
  for (const char c : text) {
    const unsigned digit = static_cast<unsigned char>(c) - '0';
    if (digit <= 9) {
      // A number too large for 32 bits stays at the largest one.
      value = std::min<std::int64_t>(value * 10 + digit, INT32_MAX);
      haveDigits = true;
      continue;
    }
    if (c != ';') continue;
    if (count < kMaxParameters) values[count++] = static_cast<std::int32_t>(value);
    value = 0;
    haveDigits = false;
  }
  if (haveDigits && count < kMaxParameters) values[count++] = static_cast<std::int32_t>(value);
  SetParameters(values, count);
  ParameterCount = count;
}

void TReceiveInterpreter::SetManyParameters(std::int32_t (&values)[kMaxParameters], int count) {
  std::fill(values + count, values + kMaxParameters, 0);
  std::memcpy(Parameters, values, sizeof Parameters);
  SetParameterCount_ = count;
}

// --- Telnet ---

bool TReceiveInterpreter::TelnetByte(std::uint8_t b) {
  TelnetBuffer.push_back(static_cast<char>(b));
  const std::uint8_t command = static_cast<std::uint8_t>(TelnetBuffer[0]);
  auto end = [this] {
    TelnetBuffer.clear();
    TelnetActive = false;
  };

  switch (command) {
    case 239: case 240: case 241: case 242: case 243: case 244: case 245: case 246: case 249:
      end();
      return true;
    case 247: {  // EC: erase the character before the cursor
      end();
      HandleReceivedChar(S.Settings.BackSpaceSends == 0 ? 127 : 8);
      return true;
    }
    case 248: {  // EL: erase the cursor row
      end();
      const TTerminalState& t = S.Writer->State;
      S.Writer->EraseArea(t.LeftMargin, t.CursorRow, t.RightMargin, t.CursorRow,
                          Default(), true);
      return true;
    }
    case tcSB: {
      const std::size_t size = TelnetBuffer.size();
      for (std::size_t i = 1; i + 1 < size; ++i) {
        if (static_cast<std::uint8_t>(TelnetBuffer[i]) != kIac) continue;
        const std::uint8_t next = static_cast<std::uint8_t>(TelnetBuffer[i + 1]);
        if (next == kIac) {
          ++i;  // a doubled IAC is data
          continue;
        }
        if (next == tcSE) AnswerSubnegotiation();
        end();
        return true;
      }
      if (size >= kSubnegotiationLimit) end();
      return true;
    }
    case tcWILL: case tcWONT: case tcDO: case tcDONT:
      if (TelnetBuffer.size() >= 2) {
        const std::uint8_t option = static_cast<std::uint8_t>(TelnetBuffer[1]);
        end();
        AnswerOption(command, option);
      }
      return true;
    default:
      end();
      return false;
  }
}

void TReceiveInterpreter::AnswerSubnegotiation() {
  constexpr char kSendRequest[] = {static_cast<char>(tcSB), static_cast<char>(toTerminalType),
                                   static_cast<char>(kTerminalTypeSend), static_cast<char>(kIac),
                                   static_cast<char>(tcSE)};
  if (TelnetBuffer != std::string_view(kSendRequest, sizeof kSendRequest)) return;
  TUntranslated untranslated(*S.Transmit);
  for (const std::uint8_t b : {kIac, tcSB, toTerminalType, kTerminalTypeIs}) Send(b);
  for (const char c : TerminalName(S.Settings.Emulation)) Send(static_cast<std::uint8_t>(c));
  Send(kIac);
  Send(tcSE);
}

void TReceiveInterpreter::SendTelnetAnswer(std::uint8_t command, std::uint8_t option) {
  TUntranslated untranslated(*S.Transmit);
  Send(kIac);
  Send(command);
  Send(option);
}

void TReceiveInterpreter::AnswerOption(std::uint8_t command, std::uint8_t option) {
  TSetupRecord& settings = S.Settings;
  auto quietOption = [option] {
    switch (option) {
      case 27: case 28: case 31: case 32: case 33: case 34: case 255: return true;
      default: return false;
    }
  };

  switch (command) {
    case tcWILL:
      switch (option) {
        case toBinary:
          settings.DataBits = 4;
          SendTelnetAnswer(tcDO, option);
          return;
        case toEcho:
          return;
        case toSuppressGoAhead: case toStatus: case toTimingMark: case toTerminalType:
          SendTelnetAnswer(tcDO, option);
          return;
        case toEndOfRecord:
          S.Transmit->EorOption = true;
          SendTelnetAnswer(tcDO, option);
          return;
        default:
          if (!quietOption()) SendTelnetAnswer(tcDONT, option);
          return;
      }
    case tcWONT:
      switch (option) {
        case toBinary: {
          const bool wasSevenBits = settings.DataBits == 3;
          settings.DataBits = 3;
          if (!wasSevenBits) SendTelnetAnswer(tcDONT, option);
          return;
        }
        case toEcho:
          settings.LocalEcho = 0;
          SendTelnetAnswer(tcDONT, option);
          return;
        case toStatus: case toTerminalType:
          return;
        case toEndOfRecord:
          S.Transmit->EorOption = false;
          SendTelnetAnswer(tcDONT, option);
          return;
        default:
          if (!quietOption()) SendTelnetAnswer(tcDONT, option);
          return;
      }
    case tcDO:
      switch (option) {
        case toBinary:
          settings.DataBits = 4;
          break;
        case toEcho:
          settings.LocalEcho = 1;
          break;
        case toSuppressGoAhead: case toStatus: case toTerminalType: case 255:
          break;
        case toEndOfRecord:
          S.Transmit->EorOption = true;
          break;
        default:
          SendTelnetAnswer(tcWONT, option);
          return;
      }
      SendTelnetAnswer(tcWILL, option);
      return;
    case tcDONT:
      switch (option) {
        case toBinary: settings.DataBits = 3; break;
        case toEcho: settings.LocalEcho = 0; break;
        case toEndOfRecord: S.Transmit->EorOption = false; break;
        default: break;
      }
      SendTelnetAnswer(tcWONT, option);
      return;
    default:
      return;
  }
}

// --- Fast path for plain text ---

const std::array<bool, 256>* TReceiveInterpreter::PlainBytes() const {
  if (TelnetActive || EscapeActive || LineCaptureActive) return nullptr;
  if (S.Mini->WantsCharacters() || TraceDecoderTakesChars()) return nullptr;
  const TTerminalState& t = S.Writer->State;
  if (t.G0Selected ? t.G0Graphics : t.G1Graphics) return nullptr;

  TPlainSet set;
  switch (S.Settings.Emulation) {
    case emQuorix: set = psAll; break;
    case emVT100: set = ps7Bit; break;
    case emVT220: case emVT52: set = ps8BitControls; break;
    default: return nullptr;  // TN3270 translates every byte first
  }
  const bool iacIsCommand = TelnetConnection() && !S.Transfer->TransferActive;
  return &kPlain[set][iacIsCommand];
}

namespace {
std::size_t PlainRun(const std::array<bool, 256>& plain, const std::uint8_t* data, std::size_t count) {
  std::size_t n = PrintableAsciiPrefix(data, count);
  while (n < count && plain[data[n]]) ++n;
  return n;
}

bool LineEnd(std::uint8_t b) { return b == '\r' || b == '\n'; }

// Functions that only move the cursor, erase, or set looks or margins: what
// text and line ends may take is the same after them.
bool LeavesPlainBytes(int function) {
  switch (function) {
    case 1: case 2: case 3: case 4: case 5:  // cursor moves
    case 15: case 18:                        // erase in line, in display
    case 21:                                 // graphic rendition
    case 73:                                 // scrolling region
      return true;
    default:
      return false;
  }
}
}  // namespace

// CR and LF between lines of text: ReceiveByte would hand them to the
// writer untouched unless a Telnet command, an escape sequence, a line
// capture, the MINI trace or the trace decoder has a claim on them, or the
// type translates every byte first.
bool TReceiveInterpreter::LineEndsGoStraight() const {
  return !TelnetActive && !EscapeActive && !LineCaptureActive && S.Settings.Emulation != emTN3270 &&
         !S.Mini->WantsCharacters() && !TraceDecoderTakesChars();
}

// The type whose control sequences WholeControlSequence may take as they
// come, or -1 while a Telnet command or a line capture has a claim on the
// bytes or the type has no such sequences.
int TReceiveInterpreter::WholeSequenceType() const {
  if (TelnetActive || LineCaptureActive) return -1;
  const int type = S.Settings.Emulation;
  return type == emQuorix || type == emVT100 || type == emVT220 ? type : -1;
}

// A control sequence that lies whole in the block (ESC [ or the 8-bit CSI, an
// optional '?' or '>', parameters, a final character) is recognised with one
// scan of the table: every shorter piece of it is incomplete, so the byte-wise
// scans would come to the same result. Returns the bytes taken, or 0. The
// type is WholeSequenceType's; escapeLog says whether the escape log is open.
std::size_t TReceiveInterpreter::WholeControlSequence(const std::uint8_t* data, std::size_t count, int type,
                                                      bool escapeLog) {
  WholeFunction_ = -1;
  std::size_t end;  // first byte after "ESC ["
  if (count >= 3 && data[0] == ESC && data[1] == '[') {
    end = 2;
  } else if (type == emVT220 && count >= 2 && data[0] == 155) {
    end = 1;
  } else {
    return 0;
  }
  const std::size_t start = end;
  int marker = 0;
  if (data[end] == '?') {
    marker = 1;
    ++end;
  } else if (data[end] == '>') {
    marker = 2;
    ++end;
  }
  const std::size_t firstParameter = end;
  // The parameters are read on the way, as ParseParameters would read them.
  std::int32_t values[kMaxParameters];
  int parameters = 0;
  std::int64_t value = 0;
  bool haveDigits = false;
  for (; end < count; ++end) {
    const unsigned digit = data[end] - '0';
    if (digit <= 9) {
      value = std::min<std::int64_t>(value * 10 + digit, INT32_MAX);
      haveDigits = true;
    } else if (data[end] == ';') {
      if (parameters < kMaxParameters) values[parameters++] = static_cast<std::int32_t>(value);
      value = 0;
      haveDigits = false;
    } else {
      break;
    }
  }
  if (end >= count || data[end] < 0x40 || data[end] > 0x7E) return 0;
  const std::size_t length = end + 1;  // with the final character
  // The buffer holds '[' and what follows; at the runaway length it is dropped byte-wise.
  if (length - start + 1 >= kRunawayLength) return 0;
  if (haveDigits && parameters < kMaxParameters) values[parameters++] = static_cast<std::int32_t>(value);

  if (type != TableEmulation_) UseTableOf(type);
  std::int16_t* const known = &ShapeMemo_[marker][end > firstParameter][data[end] - 0x40];
  const int function = ShapeMemoUsable_ ? *known : -1;
  // The common kinds (cursor moves, erases, looks, margins), known and with
  // no escape log to write, are performed straight from their parameters:
  // nothing is collected, and nothing is left of a sequence before.
  if (function > 0 && !escapeLog && !EscapeActive && LeavesPlainBytes(function)) {
    SetParameters(values, parameters);
    if (function == 21) {
      // Looks, by far the commonest: straight to them.
      ParameterCount = parameters;
      SelectGraphicRendition();
    } else {
      PreparsedCount_ = parameters;
      PerformFunction(function);
      PreparsedCount_ = -1;
    }
    WholeFunction_ = function;
    return length;
  }
  return CollectedSequence(data, start, length, function, *known, values, parameters);
}

// The rest of WholeControlSequence, where the sequence is collected as the
// byte-wise path collects it: its function not yet known, or for the escape
// log, or one other than the common kinds.
std::size_t TReceiveInterpreter::CollectedSequence(const std::uint8_t* data, std::size_t start, std::size_t length,
                                                   int function, std::int16_t& known,
                                                   std::int32_t (&values)[kMaxParameters], int parameters) {
  StartEscape();
  // The collected sequence is needed only to scan it and for the escape log;
  // the function has its parameters already and the buffer is emptied after it.
  if (function < 0 || S.Files->EscapeLogOpen()) {
    EscapeBuffer.push_back('[');
    EscapeBuffer.append(reinterpret_cast<const char*>(data + start), length - start);
  }
  if (function < 0) {
    const terminal_tables::TScanResult result = terminal_tables::ScanSequence(Table_, EscapeBuffer);
    if (result.Kind == terminal_tables::TScanKind::Incomplete) {
      ScanEntry_ = result.Entry;
      Finals_ = result.Finals;
      return length;
    }
    function = result.Kind == terminal_tables::TScanKind::Complete ? result.Function : 0;
    known = static_cast<std::int16_t>(function);
  }
  // The function gets the parameters when it asks; the count stays 0 for one that does not.
  SetParameters(values, parameters);
  PreparsedCount_ = parameters;
  EndEscape(function);
  PreparsedCount_ = -1;
  WholeFunction_ = function;
  return length;
}

// Digits and ';' inside a prefix entry's parameters, as ReceiveByte would take
// them one by one: stored, with nothing else to decide until the final
// character or the runaway length.
std::size_t TReceiveInterpreter::TakeParameters(const std::uint8_t* data, std::size_t count) {
  if (!EscapeActive || !Finals_ || TelnetActive || LineCaptureActive ||
      S.Settings.Emulation != TableEmulation_ || S.Settings.Emulation == emTN3270) {
    return 0;
  }
  std::size_t n = 0;
  while (n < count && EscapeBuffer.size() + 1 < kRunawayLength &&
         terminal_tables::IsParameterChar(data[n])) {
    EscapeBuffer.push_back(static_cast<char>(data[n++]));
  }
  return n;
}

std::size_t TReceiveInterpreter::ReceiveBlock(const std::uint8_t* data, std::size_t count) {
  struct TBlockScope {
    TReceiveInterpreter& I;
    explicit TBlockScope(TReceiveInterpreter& i) : I(i) { I.InBlock_ = true; }
    ~TBlockScope() { I.InBlock_ = I.MemoChecked_ = false; }
  } scope(*this);
  std::size_t done = 0;
  YieldToDispatcher_ = false;
  // What text and line ends may take: writing them changes none of it, so it
  // is worked out again only after a sequence or another control.
  // Where text may go as a run, so may line ends (and also while the
  // line-drawing set is active).
  const std::array<bool, 256>* plain = PlainBytes();
  bool lineEnds = plain || LineEndsGoStraight();
  int wholeType = WholeSequenceType();
  // Opened only by the user and closed by a failed write, which ends the block.
  const bool escapeLog = S.Files->EscapeLogOpen();
  while (done < count) {
    const std::size_t run = plain ? PlainRun(*plain, data + done, count - done) : 0;
    const std::uint8_t* text = data + done;
    done += run;
    std::size_t ends = 0;
    if (lineEnds)
      while (done + ends < count && LineEnd(data[done + ends])) ++ends;
    // Nothing at all between two sequences: nothing to write.
    if (run + ends > 0) S.Writer->PutTextAndLineEnds(text, run, data + done, ends);
    done += ends;
    if (done == count) break;
    if (ends > 0) continue;
    const std::size_t length =
        wholeType >= 0 ? WholeControlSequence(data + done, count - done, wholeType, escapeLog) : 0;
    if (length > 0) {
      done += length;
      if (YieldToDispatcher_) break;
      if (LeavesPlainBytes(WholeFunction_)) continue;
    } else {
      ReceiveByte(data[done++]);
    }
    if (YieldToDispatcher_) break;
    done += TakeParameters(data + done, count - done);
    plain = PlainBytes();
    lineEnds = plain || LineEndsGoStraight();
    wholeType = WholeSequenceType();
  }
  return done;
}
