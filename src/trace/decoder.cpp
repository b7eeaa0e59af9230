#include "trace/decoder.h"

#include <algorithm>

#include "app/session.h"
#include "core/desktop.h"
#include "core/numbers.h"
#include "core/text.h"
#include "screen/writer.h"
#include "trace/decode_mode.h"
#include "trace/linetext.h"
#include "trace/mini.h"
#include "trace/pcap.h"
#include "trace/tracefiles.h"
#include "transfer/engine.h"

namespace {
// Yield steps nested this deep answer "stop".
constexpr int kMaxYieldDepth = 8;
// The line timer (tenths of a second): a line held this long without its
// line feed is processed by the engine's tick.
constexpr std::uint16_t kLineTimer = 10;

const char kTooLong[] =
    "------------------# data size to long i.e. more then 4K bytes #-----------------";

// Character n (1-based) of a line, or 0 beyond its end.
char CharAt(std::string_view line, std::size_t n) { return n >= 1 && n <= line.size() ? line[n - 1] : '\0'; }

}  // namespace

TTraceDecoder::TTraceDecoder(TSession& session)
    : S(session), Modes(std::make_unique<TModeDecoder>(session, *this)) {
  Deferred.reserve(256);
  Out.reserve(256);
  Scratch.reserve(TLineAccumulator::kMaxLine);
  if (S.Transfer) {
    // The MINI trace shares the accumulator and handles its own lines.
    S.Transfer->TraceLineFlush = [this] {
      if (TraceState == tsConverting && !(S.Mini && S.Mini->WantsCharacters())) FlushHeldLine();
    };
  }
}

TTraceDecoder::~TTraceDecoder() = default;

// --- Line assembly ---

void TTraceDecoder::TraceReceiveChar(std::uint8_t c) {
  if (Busy > 0) {
    Deferred.push_back(static_cast<char>(c));
    return;
  }
  if (S.Transfer) S.Transfer->Timers[tmTraceLine] = kLineTimer;
  if (!Line.Take(c)) return;
  HeldLine.assign(Line.Text());
  Line.Clear();
  ProcessLine(HeldLine);
}

bool TTraceDecoder::FlushHeldLine() {
  if (Busy > 0 || Line.Empty()) return false;
  HeldLine.assign(Line.Text());
  Line.Clear();
  ProcessLine(HeldLine);
  return true;
}

void TTraceDecoder::EndOfInput() {
  FlushHeldLine();
  if (Busy > 0) return;
  ++Busy;
  DecodePartialMessage();
  FlushPending();
  FinishWordByteConversion();
  --Busy;
}

void TTraceDecoder::ProcessLine(std::string_view line) {
  ++Busy;
  ProcessLineNow(line);
  --Busy;
  if (Busy > 0) return;
  // Characters that came in while the line was decoded, in order.
  while (!Deferred.empty()) {
    Draining.swap(Deferred);
    Deferred.clear();
    for (const char c : Draining) TraceReceiveChar(static_cast<std::uint8_t>(c));
    Draining.clear();
  }
}

// --- Line processing ---

void TTraceDecoder::ProcessLineNow(std::string_view line) {
  const std::size_t p = line.find_first_not_of(' ');
  if (p == std::string_view::npos) {
    FlushPending();
    FinishWordByteConversion();
    return;
  }
  if (IsDigit(line[p])) {
    ProcessDigitLine(line, p);
  } else {
    ProcessKeywordLine(line, p);
  }
}

void TTraceDecoder::ProcessDigitLine(std::string_view line, std::size_t p) {
  FlushPending();
  FinishWordByteConversion();
  if (p + 1 > 5) {
    WriteAsIs(line);
    return;
  }
  if (line.size() > 78) {
    const std::optional<THeaderLayout> layout = HeaderLayoutOf(line);
    if (!layout) {
      // Long, but no field layout we know: shown, not guessed at.
      WriteAsIs(line);
      return;
    }
    DecodePartialMessage();
    TakeMessageName(line, p);
    MessageBuffer.Clear();
    ParseHeader(line, *layout);
    return;
  }
  if (CharAt(line, 5) == '>') {
    WriteAsIs(line);
    return;
  }
  MessageName.assign(TrimSpaces(line));
}

void TTraceDecoder::ProcessKeywordLine(std::string_view line, std::size_t p) {
  const std::string_view rest = line.substr(p);
  if (rest.starts_with("DATA = ")) {
    DataLine(line, p + 7);
    return;
  }
  if (rest.starts_with("DATA")) {
    DataLine(line, p + 5);
    return;
  }
  if (rest.starts_with("BUFF")) {
    UserBufferLine(line, p, false);
    return;
  }
  if (rest.starts_with("UBUF")) {
    UserBufferLine(line, p, true);
    return;
  }
  if (rest.starts_with("WOR ")) {
    DumpLine(line, p, grWords);
    return;
  }
  if (rest.starts_with("BYT ")) {
    DumpLine(line, p, grBytes);
    return;
  }
  DecodePartialMessage();
  FlushPending();
  if (line.size() < 79) {
    FinishWordByteConversion();
    WriteAsIs(line);
  } else if (CharAt(line, 18) == '_' && CharAt(line, 28) == '_') {
    // No identity stands at its start: the message name is the one a short
    // digit line gave just before it.
    MessageBuffer.Clear();
    ParseHeader(line, THeaderLayout::A);
    return;
  } else {
    WriteAsIs(line);
  }
  MessageBuffer.Count = 0;
}

void TTraceDecoder::DataLine(std::string_view line, std::size_t skip) {
  if (MessageName.empty() || MessageBuffer.Count > ExpectedMessageLength) {
    WriteAsIs(line);
    return;
  }
  ParseDataLine(line, skip, grWords);
  MessageCollecting = true;
  if (MessageBuffer.Count < ExpectedMessageLength) return;
  DecodeCollectedMessage();
}

void TTraceDecoder::UserBufferLine(std::string_view line, std::size_t p, bool ubuf) {
  if (ubuf) FirstLine = false;
  ParseDataLine(line, p + 5, grWords);
  if (!ubuf && ExpectedUserBufferLength > 32) ExpectedUserBufferLength = 32;
  if (MessageBuffer.Count < ExpectedUserBufferLength) return;
  if (S.Settings.DisplayUserBuffer) DecodeBuffer(2);
  MessageBuffer.Clear();
  FirstLine = true;
}

void TTraceDecoder::DumpLine(std::string_view line, std::size_t p, TGrouping grouping) {
  FlushPending();
  if (ConversionState == 1) {
    ConversionState = 2;
    MessageBuffer.Clear();
  }
  // The keyword and the 9 characters after it go, then ParseDataLine's
  // first 5: the hex groups start in column 19.
  Scratch.assign(line);
  Scratch.erase(p, 13);
  ParseDataLine(Scratch, 5, grouping);
  // Outside a conversion the dump is shown as it came.
  if (ConversionState == 0) WriteAsIs(line);
}

void TTraceDecoder::WriteAsIs(std::string_view line) { S.Writer->WriteLine(line, caData); }

void TTraceDecoder::FinishWordByteConversion() {
  if (ConversionState != 2) return;
  ConversionState = 0;
  if (FinishConversion) FinishConversion();
}

void TTraceDecoder::TakeMessageName(std::string_view line, std::size_t p) {
  std::size_t end = std::min(line.size(), p + 9);
  while (end < line.size() && line[end] != ' ') ++end;
  MessageName.assign(TrimSpaces(line.substr(p, end - p)));
}

void TTraceDecoder::DecodePartialMessage() {
  if (!MessageCollecting) return;
  MessageCollecting = false;
  if (MessageDecoded || MessageBuffer.Count == 0) return;
  DecodeCollectedMessage();
}

void TTraceDecoder::DecodeCollectedMessage() {
  MessageCollecting = false;
  MessageDecoded = true;
  if (S.Settings.DisplayMsgBuffer) {
    SpecialDecoder = 0;
    DecodeBuffer(1);
  }
  MessageBuffer.Clear();
}

// --- Data lines ---

void TTraceDecoder::StoreValue(std::uint32_t value, int bytes) {
  TMessageBuffer& b = MessageBuffer;
  if (value != 0xFFFFFFFFu) {
    b.Bytes[b.Count] = static_cast<std::uint8_t>(value);
    if (bytes == 2) b.Bytes[b.Count + 1] = static_cast<std::uint8_t>(value >> 8);
  }
  b.Count = static_cast<std::uint16_t>(b.Count + bytes);
  if (b.Count > TMessageBuffer::kMaxCount) {
    S.Writer->WriteLine(kTooLong, caError);
    b.Count = static_cast<std::uint16_t>(b.Count - bytes);
  }
}

void TTraceDecoder::ParseDataLine(std::string_view line, std::size_t skip, TGrouping grouping) {
  std::string_view text = skip < line.size() ? TrimSpaces(line.substr(skip)) : std::string_view();
  if (text.size() >= 4) {
    if (text[2] == ' ') grouping = grBytes;
    else if (text[3] != ' ') grouping = grWords;
  } else if (text.size() == 2 && HexGroupValue(text) >= 0) {
    // The last line of a message of 16n + 1 bytes written in byte lines.
    grouping = grBytes;
  }
  if (grouping == grBytes) {
    for (std::size_t i = 0; i + 2 <= text.size(); i += 3) {
      const std::int32_t v = HexGroupValue(text.substr(i, 2));
      StoreValue(v < 0 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(v), 1);
    }
    return;
  }
  for (std::size_t i = 0; i + 4 <= text.size(); i += 5) {
    const std::string_view group = text.substr(i, 4);
    // "XXnn" is an odd last byte written as a word: the XX stand for no byte
    // at all, so it holds one byte.
    const bool oneByte = group[0] == 'X' && group[1] == 'X';
    const std::int32_t v = HexGroupValue(oneByte ? group.substr(2) : group);
    StoreValue(v < 0 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(v), oneByte ? 1 : 2);
  }
}

void TTraceDecoder::FlushPending() {
  if (MessageBuffer.Count != 0 && !FirstLine) {
    if (S.Settings.DisplayUserBuffer) {
      ExpectedUserBufferLength = MessageBuffer.Count;
      DecodeBuffer(2);
    }
    MessageBuffer.Clear();
  }
  FirstLine = true;
}

// --- Buffers ---

void TTraceDecoder::DecodeBuffer(int which) {
  struct TBusy {
    int& B;
    explicit TBusy(int& b) : B(b) { ++B; }
    ~TBusy() { --B; }
  } busy(Busy);
  Modes->BeginTopLevel();
  if (MessageIdentity == 0) return;
  if (!TriggerFilter(which)) {
    MessageIdentity = 0;
    MessageName.clear();
    return;
  }
  const bool convertError = S.Kasp->ErrorFileOpen;
  if (convertError && (MessageIdentity == 119 || MessageIdentity == 2777)) {
    PrintErrorReport();
    return;
  }
  if (TraceState != tsConverting) {
    if (!convertError) return;
    if (!HeaderPrinted) PrintHeader(false);
    HexDump(0, MessageBuffer.Count, 0);
    return;
  }
  if (!HeaderPrinted) PrintHeader(false);
  if (!Cache.Files()) {
    HexDump(0, MessageBuffer.Count, 0);
    return;
  }

  // Every buffer starts afresh: a special decoder never carries over.
  SpecialDecoder = 0;
  const TMessageBuffer& b = MessageBuffer;
  const int type = S.Settings.QuorixType;
  if (type == 2 && b.Count > 4 && b.Bytes[0] == 0x80 && b.Bytes[1] == 0xFF && b.Bytes[4] == 0x78 &&
      b.Bytes[5] == 0xFF)
    SpecialDecoder = 1;

  const TModeIndexRead read =
      which == 1 ? Cache.MessageModeIndex(MessageIdentity) : Cache.UserBufferModeIndex(MessageIdentity);
  if (read.Status != TIndexStatus::Found) return;
  const std::int32_t entry = read.Index;

  bool dump = false;
  if (entry == kIndexHexDump) {
    dump = SpecialDecoder == 0;
  } else if (entry == kIndexMbidList) {
    if (SpecialDecoder == 0) {
      // M1 always lists MBIDs; M2 only a buffer that opens with two
      // constructed MBIDs (0x80-0x8F); M3 only with its frame signature.
      const auto in8x = [](std::uint8_t v) { return v >= 0x80 && v <= 0x8F; };
      if (type == 0 || (type == 1 && b.Count > 4 && in8x(b.Bytes[0]) && in8x(b.Bytes[1]))) SpecialDecoder = 1;
      else dump = true;
    }
  } else if (entry == kIndexDss1) {
    SpecialDecoder = 2;
  } else if (entry == kIndexSpecial3) {
    SpecialDecoder = 3;
  } else if (entry == kIndexSpecial4) {
    SpecialDecoder = 4;
  } else if (entry == kIndexSpecial5 && which == 1) {
    SpecialDecoder = 5;
  } else if (entry < 0 && SpecialDecoder == 0) {
    dump = true;  // no mode can have a negative index
  }

  const std::int32_t expected = which == 1 ? ExpectedMessageLength : ExpectedUserBufferLength;
  if (dump || SpecialDecoder == 5) {
    HexDump(0, b.Count, 0);
  } else if (SpecialDecoder == 1) {
    if (type == 2) Modes->MbidFrames();
    else Modes->DecodeMbidList(0, b.Count, 0);
  } else if (SpecialDecoder == 2) {
    DecodeDss1();
  } else if (SpecialDecoder == 0) {
    const std::uint32_t limit = expected > 0 ? static_cast<std::uint32_t>(expected) : b.Count;
    Modes->DecodeMode(entry, 0, 0, 0, limit * 8, pmNone, 0, "", limit);
  }
  MessageBuffer.Count = 0;
}

void TTraceDecoder::HexDump(std::uint32_t from, std::uint32_t to, int level) {
  to = std::min<std::uint32_t>(to, TMessageBuffer::kSize);
  for (std::uint32_t at = from; at < to; at += 16) {
    if (at != from && YieldStop()) break;
    Out.assign(static_cast<std::size_t>(2 * level + 2), ' ');
    Out += " DATA =";
    AppendHexBytes(Out, MessageBuffer, at, std::min(at + 16, to));
    S.Writer->WriteLine(Out, caData);
  }
}

// --- Shared helpers ---

bool TTraceDecoder::YieldStop() {
  if (AbortRequested || YieldDepth >= kMaxYieldDepth) return true;
  ++YieldDepth;
  S.Desktop.ProcessPendingMessages(true);
  --YieldDepth;
  return AbortRequested;
}

void TTraceDecoder::BeginCommand() {
  Command = {true, 0, 0};
  AbortRequested = false;
  if (OnCommandProgress) OnCommandProgress();
}

void TTraceDecoder::EndCommand() {
  Command = {};
  AbortRequested = false;
  if (OnCommandProgress) OnCommandProgress();
}

void TTraceDecoder::CommandProgress(std::uint64_t position, std::uint64_t maximum) {
  if (!Command.Running) return;
  const int before = Command.Percent();
  const bool newRange = maximum != Command.Maximum;
  Command.Position = position;
  Command.Maximum = maximum;
  if ((newRange || Command.Percent() != before) && OnCommandProgress) OnCommandProgress();
}

void TTraceDecoder::ResetMessageState() {
  Line.Clear();
  MessageBuffer.Clear();
  MessageName.clear();
  MessageIdentity = 0;
  ExpectedMessageLength = 0;
  ExpectedUserBufferLength = 0;
  FirstLine = true;
  HeaderPrinted = false;
  SpecialDecoder = 0;
  MessageCollecting = false;
  MessageDecoded = false;
  AbortRequested = false;
}

TTraceDecoder::TMessageState TTraceDecoder::SaveMessageState() const {
  return {MessageBuffer, MessageName,   MessageIdentity, Header,         ExpectedMessageLength,
          ExpectedUserBufferLength, FirstLine, HeaderPrinted, MessageCollecting, MessageDecoded,
          SpecialDecoder};
}

void TTraceDecoder::RestoreMessageState(const TMessageState& state) {
  MessageBuffer = state.Buffer;
  MessageName = state.Name;
  MessageIdentity = state.Identity;
  Header = state.Header;
  ExpectedMessageLength = state.ExpectedMessageLength;
  ExpectedUserBufferLength = state.ExpectedUserBufferLength;
  FirstLine = state.FirstLine;
  HeaderPrinted = state.HeaderPrinted;
  MessageCollecting = state.Collecting;
  MessageDecoded = state.Decoded;
  SpecialDecoder = state.SpecialDecoder;
}

void TTraceDecoder::SetTriggerEnabled(bool on) {
  TriggerEnabled = on;
  if (!on) return;
  TriggerState = 0;
  TriggerArmed = false;
  TriggerEntry = 0;
  TriggerAddress1.clear();
  TriggerAddress2.clear();
}

// --- Public entries of mode decoding ---

void TTraceDecoder::DecodeMode(std::int64_t mode, std::uint32_t byteOffset, std::uint32_t bitOffset, int limitMode,
                               std::uint32_t sizeBits, TPackMode pack, int level, std::string_view prefix,
                               std::uint32_t byteLimit) {
  if (Busy == 0) Modes->BeginTopLevel();
  ++Busy;
  Modes->DecodeMode(mode, byteOffset, bitOffset, limitMode, sizeBits, pack, level, prefix, byteLimit);
  --Busy;
}

void TTraceDecoder::DecodeMbidList(std::uint32_t start, std::uint32_t end) {
  if (Busy == 0) Modes->BeginTopLevel();
  ++Busy;
  Modes->DecodeMbidList(start, end, 0);
  --Busy;
}

void TTraceDecoder::MbidLine(std::uint32_t mbid, std::uint32_t length, std::uint32_t offset, int level) {
  if (Busy == 0) Modes->BeginTopLevel();
  ++Busy;
  Modes->MbidLine(mbid, length, offset, level);
  --Busy;
}
