#include "trace/mini.h"

#include <algorithm>

#include "app/session.h"
#include "core/numbers.h"
#include "screen/writer.h"
#include "trace/decoder.h"
#include "trace/linetext.h"
#include "trace/mini_names.h"
#include "trace/tracefiles.h"

namespace {
constexpr std::size_t kMinLineLength = 56;
constexpr std::size_t kMarkerColumn = 19;    // "FFF" and the record type
constexpr std::size_t kFirstWordColumn = 24; // the word after the marker
constexpr std::size_t kRegisterCount = 15;
constexpr int kMessageRecordLines = 4;

bool IsMiniLine(std::string_view line) {
  return line.size() >= kMinLineLength && line.substr(1, 4) == "WOR ";
}

bool HasMarker(std::string_view line) { return line.substr(kMarkerColumn - 1, 3) == "FFF"; }

bool IsDumpStart(std::string_view line) { return line.substr(kMarkerColumn - 1, 4) == "FFBB"; }

// Characters from..to (1-based, inclusive) as they stand, blank-padded when
// the line is shorter.
std::string Columns(std::string_view line, std::size_t from, std::size_t to) {
  std::string text(to - from + 1, ' ');
  for (std::size_t c = from; c <= to && c <= line.size(); ++c) text[c - from] = line[c - 1];
  return text;
}

// The word in the four columns from `from`; nullopt when they are not hex.
std::optional<std::uint16_t> WordAt(std::string_view line, std::size_t from) {
  const std::int32_t value = HexGroupValue(Columns(line, from, from + 3));
  if (value < 0) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

std::uint16_t WordOr(std::string_view line, std::size_t from, std::uint16_t fallback) {
  return WordAt(line, from).value_or(fallback);
}

// A 16-bit field shown as 4 hex digits, "...." when the exchange wrote FFFF.
std::string OptionalField(std::optional<std::uint16_t> word) {
  if (!word || *word == 0xFFFF) return "....";
  return Hex(*word, 4);
}
}  // namespace

TMiniTrace::TMiniTrace(TSession& session) : S(session) {}

// --- Switching ---

void TMiniTrace::MiniTraceOn() {
  // Switching on again (":COL" may come more than once) keeps a record that
  // is being collected.
  if (!Active) StartReading();
  Live = true;
  Active = true;
  S.Trace->Line.Clear();
  S.Kasp->OpenKaspFiles();
  S.Writer->UpdateStatusBar();
}

void TMiniTrace::MiniTraceOff() {
  if (Active) {
    FinishReading();
    // The part of a line held so far (a prompt, say) would otherwise never be
    // seen: unless the trace decoder goes on with it, it goes to the screen.
    TLineAccumulator& line = S.Trace->Line;
    if (!DecoderTakesCharacters() && !line.Empty()) {
      const std::string held(line.Text());
      line.Clear();
      for (char c : held) S.Writer->PutChar(static_cast<std::uint8_t>(c));
    }
  }
  Active = false;
  State = msOff;
  if (S.Trace->TraceState != TTraceDecoder::tsConverting) S.Kasp->CloseKaspFiles();
  S.Writer->UpdateStatusBar();
}

void TMiniTrace::StartReading() {
  State = msAfterTime;
  Live = false;
  KeptLine.clear();
  RecordLines.clear();
  Collecting = 0;
  DumpWords.clear();
  DumpOffset = 0;
}

void TMiniTrace::FinishReading() {
  // A message record cut short still shows what arrived of it.
  if (State == msMessageRecord && !RecordLines.empty()) FinishMessage();
  StopCollecting();
  if (State != msOff) State = msAfterTime;
}

// --- Lines ---

void TMiniTrace::TakeChar(std::uint8_t c) {
  if (Busy != 0) {
    Deferred.push_back(static_cast<char>(c));
    return;
  }
  TLineAccumulator& line = S.Trace->Line;
  if (!line.Take(c)) return;
  ++Busy;
  // The accumulator is reused for the next line while this one is handled.
  std::string text(line.Text());
  line.Clear();
  ProcessLine(text);
  while (!Deferred.empty()) {
    const std::string waiting = std::move(Deferred);
    Deferred.clear();
    for (char d : waiting) {
      const auto b = static_cast<std::uint8_t>(d);
      if (!Active) {
        // Switched off meanwhile: the rest goes where it would have gone.
        if (S.Trace->TraceState == TTraceDecoder::tsConverting) S.Trace->TraceReceiveChar(b);
        else S.Writer->PutChar(b);
        continue;
      }
      if (!line.Take(b)) continue;
      text.assign(line.Text());
      line.Clear();
      ProcessLine(text);
    }
  }
  --Busy;
}

bool TMiniTrace::DecoderTakesCharacters() const {
  return S.Trace->TraceState == TTraceDecoder::tsConverting || S.Kasp->ErrorFileOpen;
}

void TMiniTrace::Write(std::string_view text) { S.Writer->WriteLine(text, caIndicator); }

void TMiniTrace::ProcessLine(std::string_view line) {
  if (!IsMiniLine(line)) {
    // Message trace lines between MINI lines are still decoded when trace
    // conversion is on.
    if (S.Trace->TraceState == TTraceDecoder::tsConverting && Live) {
      S.Trace->ProcessLine(line);
    } else {
      S.Writer->WriteLine(line, caData);
    }
    return;
  }
  switch (State) {
    case msMessageRecord: MessageRecordLine(line); return;
    case msAfterDumpHeading:
      // The second line of a register dump, marker or not.
      TakeDumpWords(line, kMarkerColumn);
      DumpArea();
      return;
    default: break;
  }
  if (HasMarker(line) || IsDumpStart(line)) {
    // A new record ends a message that did not get all its words.
    StopCollecting();
    MiniTraceLine(line);
    return;
  }
  ContinuationLine(line);
}

void TMiniTrace::MiniTraceLine(std::string_view line) {
  if (IsDumpStart(line)) {
    Write(kRegisterHeading);
    KeptLine = std::string(line);
    DumpWords.clear();
    TakeDumpWords(line, kFirstWordColumn);
    State = msAfterDumpHeading;
    return;
  }
  if (!HasMarker(line) || line.size() < kMarkerColumn + 3) {
    S.Writer->WriteLine(line, caData);
    return;
  }
  switch (line[kMarkerColumn + 2]) {
    case '0':
    case 'D': CallRecord(line, true); return;
    case '4':
    case 'E': CallRecord(line, false); return;
    case '1':
    case '2':
    case 'F':
      KeptLine = std::string(line);
      RecordLines.assign(1, KeptLine);
      State = msMessageRecord;
      return;
    case '3':
      if (KeptLine.empty()) {
        S.Writer->WriteLine(line, caData);  // a header without its message start
        return;
      }
      StartMessage(KeptLine);
      return;
    case '5': TimeRecord(line, false); return;
    case 'C': TimeRecord(line, true); return;
    case '6': RoutingRecord(line); return;
    case '7': ShellTracing(line); return;
    case '8':
    case '9':
    case 'A':
    case 'B': PacketRecord(line, line[kMarkerColumn + 2]); return;
    default: S.Writer->WriteLine(line, caData); return;
  }
}

void TMiniTrace::ReadWords(std::string_view line, std::size_t column) {
  TTraceDecoder& t = *S.Trace;
  t.MessageBuffer.Clear();
  if (line.size() < column) return;
  t.ParseDataLine(line, column - 1, grWords);
}

// "         DATA = " (or UBUF) and the bytes read, 16 to a line.
void TMiniTrace::WriteData(std::string_view label) {
  const TMessageBuffer& b = S.Trace->MessageBuffer;
  for (std::uint32_t from = 0; from < b.Count; from += 16) {
    Out.assign("         ");
    Out.append(label);
    Out.append(" =");
    AppendHexBytes(Out, b, from, std::min<std::uint32_t>(from + 16, b.Count));
    S.Writer->WriteLine(Out, caData);
  }
}

void TMiniTrace::CallRecord(std::string_view line, bool interrupt) {
  Write((interrupt ? " SSM INTERUPT CS:IP = " : " OSN CALL     CS:IP = ") + Columns(line, 29, 32) + ":" +
        Columns(line, 24, 27) + (interrupt ? " Procedure ID = " : " Primitive nbr = ") + Columns(line, 39, 42));
  ReadWords(line, 44);
  WriteData("DATA");
  State = msAfterCall;
}

void TMiniTrace::TimeRecord(std::string_view line, bool secondForm) {
  ReadWords(line, kFirstWordColumn);
  const TMessageBuffer& buffer = S.Trace->MessageBuffer;
  const auto& b = buffer.Bytes;
  LastTime = Dec(b[1], 2) + ":" + Dec(b[0], 2) + ":" + Dec(b[3], 2) + ":" + Dec(b[2], 1);
  Out.assign(secondForm ? " TIME " : " TIME  121Ns resolution ");
  Out.append(LastTime);
  Out.append(7, ' ');
  AppendHex(Out, buffer.Word(4), 4);
  AppendHex(Out, buffer.Word(6), 4);
  Out.append(" MS    ");
  AppendDec(Out, b[8], 3);
  Out.append(" US");
  Write(Out);
  if (secondForm) {
    S.Writer->WriteLine("", S.Writer->DefaultAttribute());
  } else {
    Write("");
  }
  State = msAfterTime;
}

void TMiniTrace::RoutingRecord(std::string_view line) {
  const std::uint16_t who = WordOr(line, 24, 0);
  const std::uint16_t how = WordOr(line, 29, 0);
  const bool sent = how == 0xFFFF || how == 0xFFFD;
  const bool local = sent ? how == 0xFFFF : how == 0xFFFE;
  const std::string by = sent ? "   SEND BY " : "   RECEIVED BY ";
  if (who == 0xFFFE) {
    Write(by + "OSN ");
  } else if (local) {
    Write(by + "FMMID = H'" + Hex(who, 4) + " LOCAL");
  } else {
    Write(by + "NA = H'" + Hex(who, 4) + " EXTERNAL");
  }
  State = msAfterData;
}

void TMiniTrace::ShellTracing(std::string_view line) {
  Write("SHELL TRACING " + ShellEventText(WordOr(line, 24, 0), WordOr(line, 34, 0), WordOr(line, 39, 0)));
  State = msAfterPacket;
}

void TMiniTrace::PacketRecord(std::string_view line, char type) {
  switch (type) {
    case '8': Write(" RECEIVED PACKET ON LINK 1 "); break;
    case '9': Write(" SEND PACKET ON PCM LINK 1 "); break;
    case 'A': Write(" RECEIVED PACKET ON LINK 0 "); break;
    default: Write(" SEND PACKET ON PCM LINK 0 "); break;
  }
  // A received packet may turn out to be a message: a header record that
  // follows takes it as its header.
  if (type == '8' || type == 'A') KeptLine = std::string(line);
  ReadWords(line, kFirstWordColumn);
  WriteData("DATA");
  State = msAfterPacket;
}

void TMiniTrace::ContinuationLine(std::string_view line) {
  switch (State) {
    case msAfterHeader:
      MessageWords(line);
      return;
    case msAfterPacket:
    case msAfterCall:
      ReadWords(line, kMarkerColumn);
      WriteData("UBUF");
      return;
    case msDumpArea:
      ReadWords(line, kMarkerColumn);
      DumpBytes();
      return;
    default:
      S.Writer->WriteLine(line, caData);
      return;
  }
}

// --- Messages ---

void TMiniTrace::MessageRecordLine(std::string_view line) {
  RecordLines.emplace_back(line);
  if (static_cast<int>(RecordLines.size()) < kMessageRecordLines) return;
  FinishMessage();
}

void TMiniTrace::FinishMessage() {
  const std::vector<std::string> lines = std::move(RecordLines);
  RecordLines.clear();
  StartMessage(lines.front());
  for (std::size_t i = 1; i < lines.size() && Collecting != 0; ++i) MessageWords(lines[i]);
}

void TMiniTrace::StartMessage(std::string_view start) {
  TTraceDecoder& t = *S.Trace;
  const std::uint16_t identity = WordOr(start, 24, 0);
  std::string name = Dec(identity, 5);
  if (const auto kasp = S.Kasp->Names.MessageName(identity)) name += " " + *kasp;
  if (name.size() < 16) name.resize(16, ' ');

  const char type = start.size() >= kMarkerColumn + 3 ? start[kMarkerColumn + 2] : '1';
  const char* direction = type == '1' ? " S " : (type == 'F' ? " D " : " R ");
  const std::uint16_t length = WordOr(start, 39, 0);
  std::string time = LastTime.empty() ? std::string(10, ' ') : LastTime;
  time.resize(10, ' ');

  // The fields in the columns of a header line with fields from column 17.
  std::string header = name.substr(0, 16);
  header += "0000_" + Hex(WordOr(start, 29, 0), 4) + " ";
  header += "0000_" + Hex(WordOr(start, 34, 0), 4) + " ";
  header += Hex(length & 0xFF, 2) + Hex(length >> 8, 2) + " ";
  header += Hex(WordOr(start, 44, 0), 4) + " ";
  header += OptionalField(WordAt(start, 54)) + " ";
  header += "....:.... ";
  header += OptionalField(WordAt(start, 49)) + " ";
  header += direction;
  header += " " + time;

  t.MessageBuffer.Clear();
  t.MessageName = name.substr(0, name.find_last_not_of(' ') + 1);
  t.ParseHeader(header, THeaderLayout::B17);
  Collecting = t.ExpectedMessageLength > 0 ? 1 : (t.ExpectedUserBufferLength > 0 ? 2 : 0);
  State = Collecting == 0 ? msAfterData : msAfterHeader;
}

void TMiniTrace::MessageWords(std::string_view line) {
  if (Collecting == 0) {
    S.Writer->WriteLine(line, caData);
    return;
  }
  TTraceDecoder& t = *S.Trace;
  if (line.size() >= kMarkerColumn) t.ParseDataLine(line, kMarkerColumn - 1, grWords);
  const std::int32_t expected = Collecting == 1 ? t.ExpectedMessageLength : t.ExpectedUserBufferLength;
  if (t.MessageBuffer.Count < expected) return;
  // Words after the end of the buffer only pad the line. A message trace
  // header between the MINI lines may have set a length of nothing or less:
  // the words collected so far are then all there is.
  if (expected > 0) t.MessageBuffer.Count = static_cast<std::uint16_t>(expected);
  FinishCollecting();
}

void TMiniTrace::FinishCollecting() {
  TTraceDecoder& t = *S.Trace;
  const int which = Collecting;
  DecodeCollected(which);
  Collecting = which == 1 && t.ExpectedUserBufferLength > 0 ? 2 : 0;
  if (Collecting == 0) State = msAfterData;
}

void TMiniTrace::StopCollecting() {
  if (Collecting != 0 && S.Trace->MessageBuffer.Count != 0) DecodeCollected(Collecting);
  Collecting = 0;
}

void TMiniTrace::DecodeCollected(int which) {
  TTraceDecoder& t = *S.Trace;
  const bool shown = which == 1 ? S.Settings.DisplayMsgBuffer != 0 : S.Settings.DisplayUserBuffer != 0;
  if (shown && t.MessageBuffer.Count != 0) {
    if (which == 2) t.ExpectedUserBufferLength = t.MessageBuffer.Count;
    if (t.TraceState == TTraceDecoder::tsConverting) {
      t.SpecialDecoder = 0;
      t.DecodeBuffer(which);
    } else {
      // Without mode files the bytes are still shown.
      t.HexDump(0, t.MessageBuffer.Count, 0);
    }
  }
  t.MessageBuffer.Clear();
}

// --- Register dump ---

void TMiniTrace::TakeDumpWords(std::string_view line, std::size_t column) {
  for (; column + 3 <= line.size(); column += 5) {
    if (const auto word = WordAt(line, column)) DumpWords.push_back(*word);
  }
}

void TMiniTrace::DumpArea() {
  Out.clear();
  for (std::size_t i = 0; i < kRegisterCount; ++i) {
    Out.push_back(' ');
    if (i < DumpWords.size()) {
      AppendHex(Out, DumpWords[i], 4);
    } else {
      Out.append("....");  // the dump record ended early
    }
  }
  Write(Out);
  Write(LastTime.empty() ? " TIME" : " TIME " + LastTime);
  Write(" DUMP AREA ");
  State = msDumpArea;
  DumpOffset = 0;
  // Words beyond the registers are the first dumped bytes.
  TMessageBuffer& b = S.Trace->MessageBuffer;
  b.Clear();
  for (std::size_t i = kRegisterCount; i < DumpWords.size(); ++i) {
    b.Bytes[b.Count++] = static_cast<std::uint8_t>(DumpWords[i] & 0xFF);
    b.Bytes[b.Count++] = static_cast<std::uint8_t>(DumpWords[i] >> 8);
  }
  DumpWords.clear();
  DumpBytes();
}

// The bytes read from one dump line: "  " + the offset within the dump area
// as 4 hex digits + "  " + the bytes.
void TMiniTrace::DumpBytes() {
  const TMessageBuffer& b = S.Trace->MessageBuffer;
  if (b.Count == 0) return;
  Out.assign("  ");
  AppendHex(Out, DumpOffset, 4);
  Out.push_back(' ');
  AppendHexBytes(Out, b, 0, b.Count);
  DumpOffset += b.Count;
  S.Writer->WriteLine(Out, caData);
}
