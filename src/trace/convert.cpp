#include "trace/convert.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>

#include "app/session.h"
#include "core/desktop.h"
#include "core/numbers.h"
#include "core/paths.h"
#include "log/errors.h"
#include "screen/writer.h"
#include "trace/decoder.h"
#include "trace/display.h"
#include "trace/linetext.h"
#include "trace/mini.h"
#include "trace/tracefiles.h"

namespace {
enum class TLineClass { None, Message, Mbid, Ie, N7Par, WordDump, ByteDump, Buffer, Mail, MessageData };

// How many screen lines after a message header are read for its buffers.
constexpr std::size_t kMessageScanLines = 100;
// MINI lines rebuilt from a dump carry eight words each.
constexpr std::size_t kMiniWordsPerLine = 8;

std::size_t FirstNonBlank(std::string_view line) {
  const std::size_t p = line.find_first_not_of(' ');
  return p == std::string_view::npos ? line.size() : p;
}

TLineClass Classify(std::string_view line) {
  if (line.size() >= 69) {
    const std::string_view direction = line.substr(66, 3);
    if (direction == "SND" || direction == "RCV" || direction == "DUP") return TLineClass::Message;
  }
  const std::string_view text = line.substr(FirstNonBlank(line));
  if (text.starts_with("MBID_") || text.starts_with("MBID ")) return TLineClass::Mbid;
  if (text.starts_with("IE = ")) return TLineClass::Ie;
  if (text.starts_with("N7PAR = ")) return TLineClass::N7Par;
  if (text.starts_with("WOR ")) return TLineClass::WordDump;
  if (text.starts_with("BYT ")) return TLineClass::ByteDump;
  if (text.starts_with("UBUF ") || text.starts_with("DATA ") || text.starts_with("PARM ")) return TLineClass::Buffer;
  if (text.starts_with("MAIL ")) return TLineClass::Mail;
  if (text.starts_with("MSG_DATA ") || text.starts_with("USER_BUFFER ") || text.starts_with("B_"))
    return TLineClass::MessageData;
  return TLineClass::None;
}

bool IsDump(TLineClass c) { return c == TLineClass::WordDump || c == TLineClass::ByteDump; }

// The column (1-based) where the hex groups of a dump line start: 18
// characters after the keyword's first, and never before column 19.
std::size_t GroupStart(std::string_view line) { return std::max<std::size_t>(19, FirstNonBlank(line) + 14); }

bool OnGroup(std::string_view line, int column, TLineClass c) {
  const std::size_t start = GroupStart(line);
  const std::size_t step = c == TLineClass::ByteDump ? 3 : 5;
  const auto col = static_cast<std::size_t>(column);
  return col >= start && (col - start) % step == 0 && col < line.size();
}

// Where the values of a data line start (0-based): after the first "=" when
// there is one, else after the keyword; a line without a keyword is all values.
std::size_t ValuesStart(std::string_view line) {
  const std::size_t p = FirstNonBlank(line);
  const std::size_t equals = line.find('=', p);
  if (equals != std::string_view::npos) return equals + 1;
  if (Classify(line) == TLineClass::None) return p;
  const std::size_t blank = line.find(' ', p);
  return blank == std::string_view::npos ? line.size() : blank;
}

// The conversion file, the writer's output redirected into it while it is open.
class TConversionFile {
 public:
  explicit TConversionFile(TSession& s) : S(s) {}
  ~TConversionFile() { Close(); }

  bool Open() {
    Path = S.ProgramDirectory + kConversionFileName;
    errno = 0;
    File.open(Path, std::ios::binary | std::ios::trunc);
    if (!File) {
      S.Errors->ReportErrno(ekFileAccess, errno != 0 ? errno : ENOENT, kConversionDisplayName);
      return false;
    }
    Previous = S.Writer->Redirect;
    S.Writer->Redirect = &File;
    return true;
  }
  std::ostream& Stream() { return File; }
  void Close() {
    if (S.Writer->Redirect == &File) S.Writer->Redirect = Previous;
    if (File.is_open()) File.close();
  }
  // Closes the file and shows it in the memo viewer.
  void Show() {
    File.flush();
    const bool written = static_cast<bool>(File);
    Close();
    if (!written) {
      S.Errors->ReportErrno(ekFileAccess, errno != 0 ? errno : EIO, kConversionDisplayName);
      return;
    }
    ShowFileInMemo(S, Path, kConversionTitle, kConversionDisplayName);
  }

 private:
  TSession& S;
  std::string Path;
  std::ofstream File;
  std::ostream* Previous = nullptr;
};

class TConverter {
 public:
  TConverter(TSession& s, const TMarkedText& area) : S(s), T(*s.Trace), Area(area) {}

  void Run(TConvertKind kind);

 private:
  bool CheckDumpMark(TConvertKind kind, TLineClass first, int& fromColumn);
  void WrongMark();
  std::size_t MarkedCount() const { return std::min(Area.MarkedLines, Area.Lines.size()); }
  // Between the lines of a long loop: the progress shown, and the yield
  // step, which is true when the user broke off.
  bool LineStop(std::size_t done, std::size_t total) {
    T.CommandProgress(done, total);
    return T.YieldStop();
  }

  void ConvertMessage();
  void ConvertMbid();
  void ConvertIe();
  void ConvertMail();
  void CollectDump(int fromColumn);
  void CollectValues();
  void DecodeByName();
  void DecodeAsMini(const TMessageBuffer& bytes);
  void DecodeMessageList(const TMessageBuffer& bytes);
  // The header fields of a line, parsed without printing it.
  void ParseHeaderQuietly(const std::string& line, THeaderLayout layout);
  std::string KaspName(std::uint16_t identity) const;

  TSession& S;
  TTraceDecoder& T;
  const TMarkedText& Area;
  TConversionFile* Output = nullptr;
};

void TConverter::WrongMark() {
  S.Desktop.Beep();
  S.Errors->ReportError(ekMessage, 0, "Your mark didn't start on a Word or Byte. Please Correct your marked area");
}

bool TConverter::CheckDumpMark(TConvertKind kind, TLineClass first, int& fromColumn) {
  const TLineClass wanted = kind == ckByteDump ? TLineClass::ByteDump : TLineClass::WordDump;
  if (first == wanted && OnGroup(Area.Lines.front(), Area.FirstColumn, first)) return true;
  if (first != wanted) {
    WrongMark();
    return false;
  }
  TMessageBox box;
  box.Icon = TMsgIcon::Confirmation;
  box.Buttons = mbOK | mbCancel;
  box.Text = kind == ckByteDump ? "Your mark didn't start on a Byte. OK to start from the beginning of the Line ?"
                                : "Your mark didn't start on a Word. OK to start from the beginning of the Line ?";
  if (S.Desktop.ShowMessage(box) != TMsgResult::OK) return false;
  fromColumn = 1;
  return true;
}

void TConverter::Run(TConvertKind kind) {
  if (Area.Lines.empty() || Area.MarkedLines == 0) return;
  TLineClass first = Classify(Area.Lines.front());
  int fromColumn = Area.FirstColumn;
  if (kind == ckByteDump || kind == ckWordDump) {
    if (!CheckDumpMark(kind, first, fromColumn)) return;
  } else if (first == TLineClass::None) {
    WrongMark();
    return;
  } else if (IsDump(first) && !OnGroup(Area.Lines.front(), fromColumn, first)) {
    fromColumn = 1;
  }

  TConversionFile file(S);
  if (!file.Open()) return;
  Output = &file;
  T.HeaderPrinted = true;
  switch (first) {
    case TLineClass::Message: ConvertMessage(); break;
    case TLineClass::Mbid: ConvertMbid(); break;
    case TLineClass::Ie: ConvertIe(); break;
    case TLineClass::Mail: ConvertMail(); break;
    case TLineClass::WordDump:
    case TLineClass::ByteDump:
      CollectDump(fromColumn);
      // Broken off while collecting: there is nothing to decode.
      if (!T.AbortRequested) DecodeByName();
      return;
    default:
      CollectValues();
      if (!T.AbortRequested) DecodeByName();
      return;
  }
  file.Show();
}

std::string TConverter::KaspName(std::uint16_t identity) const {
  return S.Kasp->Names.MessageName(identity).value_or("");
}

void TConverter::ParseHeaderQuietly(const std::string& line, THeaderLayout layout) {
  std::ostringstream discard;
  std::ostream* previous = S.Writer->Redirect;
  S.Writer->Redirect = &discard;
  T.ParseHeader(line, layout);
  S.Writer->Redirect = previous;
  T.HeaderPrinted = true;
}

// --- Collecting bytes ---

void TConverter::CollectDump(int fromColumn) {
  T.MessageBuffer.Clear();
  const std::size_t marked = MarkedCount();
  for (std::size_t i = 0; i < marked; ++i) {
    if (LineStop(i, marked)) break;
    std::string line = Area.Lines[i];
    const TLineClass c = Classify(line);
    if (!IsDump(c)) continue;
    const std::size_t start = GroupStart(line);
    const std::size_t step = c == TLineClass::ByteDump ? 3 : 5;
    const std::size_t width = step - 1;
    // Groups before the mark on its first line are left out.
    if (i == 0 && static_cast<std::size_t>(fromColumn) > start) {
      for (std::size_t col = start; col < static_cast<std::size_t>(fromColumn) && col <= line.size(); ++col)
        line[col - 1] = ' ';
    }
    if (i + 1 == marked && Area.LastColumn > 0) {
      const auto last = static_cast<std::size_t>(Area.LastColumn);
      if (last < start) continue;
      line.resize(std::min(line.size(), start + (last - start) / step * step + width));
    }
    T.ParseDataLine(line, start - 1, c == TLineClass::ByteDump ? grBytes : grWords);
  }
}

void TConverter::CollectValues() {
  T.MessageBuffer.Clear();
  const std::size_t marked = MarkedCount();
  for (std::size_t i = 0; i < marked; ++i) {
    if (LineStop(i, marked)) break;
    const std::string& line = Area.Lines[i];
    const TLineClass c = Classify(line);
    if (c == TLineClass::Message || c == TLineClass::Mail) continue;
    T.ParseDataLine(line, ValuesStart(line), grBytes);
  }
}

// --- Messages ---

void TConverter::ConvertMessage() {
  const std::string& header = Area.Lines.front();
  const std::size_t nameLength = S.Settings.QuorixType == 2 ? 6 : 16;
  T.MessageName = TrimSpaces(std::string_view(header).substr(0, nameLength));
  ParseHeaderQuietly(header, HeaderLayoutOf(header).value_or(THeaderLayout::B17));
  S.Writer->WriteLine("MSG" + Dec(T.MessageIdentity, 5) + " " + KaspName(T.MessageIdentity), caMsg);

  // The message buffer from the DATA lines under the header, the user buffer
  // from the UBUF lines after them; the first other line ends each.
  std::size_t i = 1;
  const std::size_t end = std::min(Area.Lines.size(), kMessageScanLines + 1);
  T.MessageBuffer.Clear();
  for (; i < end && std::string_view(Area.Lines[i]).substr(FirstNonBlank(Area.Lines[i])).starts_with("DATA"); ++i) {
    const std::string& line = Area.Lines[i];
    T.ParseDataLine(line, ValuesStart(line), grWords);
  }
  if (T.MessageBuffer.Count != 0) {
    if (T.ExpectedMessageLength <= 0) T.ExpectedMessageLength = T.MessageBuffer.Count;
    T.DecodeBuffer(1);
  }
  T.MessageBuffer.Clear();
  for (; i < end; ++i) {
    const std::string& line = Area.Lines[i];
    const std::string_view text = std::string_view(line).substr(FirstNonBlank(line));
    if (text.starts_with("UBUF = ")) {
      T.ParseDataLine(line, FirstNonBlank(line) + 7, grBytes);
    } else if (text.starts_with("UBUF ")) {
      T.ParseDataLine(line, FirstNonBlank(line) + 5, grWords);
    } else {
      break;
    }
  }
  if (T.MessageBuffer.Count == 0) return;
  if (T.ExpectedUserBufferLength > 0 && T.MessageBuffer.Count > T.ExpectedUserBufferLength)
    T.MessageBuffer.Count = static_cast<std::uint16_t>(T.ExpectedUserBufferLength);
  T.ExpectedUserBufferLength = T.MessageBuffer.Count;
  S.Writer->WriteLine("** Userbuffer **", caMsg);
  T.DecodeBuffer(2);
}

// --- MBIDs and information elements ---

void TConverter::ConvertMbid() {
  const std::string& line = Area.Lines.front();
  const std::size_t p = FirstNonBlank(line);
  std::uint32_t mbid = 0;
  for (std::size_t i = p + 5; i < line.size() && i < p + 9; ++i) {
    const char c = line[i];
    const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (digit < 0) break;
    mbid = mbid * 16 + static_cast<std::uint32_t>(digit);
  }
  T.MessageBuffer.Clear();
  const std::size_t marked = MarkedCount();
  for (std::size_t i = 0; i < marked; ++i) {
    if (LineStop(i, marked)) break;
    const std::string& l = Area.Lines[i];
    const std::size_t equals = l.find('=');
    if (equals != std::string::npos) T.ParseDataLine(l, equals + 1, grBytes);
  }
  T.MbidLine(mbid, T.MessageBuffer.Count, 0, 0);
}

void TConverter::ConvertIe() {
  const std::string& line = Area.Lines.front();
  const std::string name(TrimSpaces(std::string_view(line).substr(FirstNonBlank(line) + 5)));
  const TTraceFileSet& files = *S.TraceFiles->FileSet();
  int identifier = -1;  // -1: not an IE identifier we can read
  if (const TSynLookup syn = files.LookupSynByName(name); syn.Found) {
    identifier = syn.Value;
  } else if (name.size() == 2 || name.size() == 4) {
    // An IE without a name is printed as 2 hex digits (no table) or 4.
    if (const auto number = ReadNumber16(name + "H"); number && *number <= 0xFF) identifier = *number;
  }
  T.MessageBuffer.Clear();
  for (std::size_t i = 1; i < Area.Lines.size(); ++i) {
    const std::string& l = Area.Lines[i];
    if (!std::string_view(l).substr(FirstNonBlank(l)).starts_with("IE_DATA = ")) break;
    T.ParseDataLine(l, l.find('=') + 1, grBytes);
  }
  S.Writer->WriteLine("  IE = " + name, caIE);
  const std::uint32_t length = T.MessageBuffer.Count;
  // The contents structure: a CASE over the IE identifier.
  TModeRecord reserved;
  std::shared_ptr<const TCachedMode> contents;
  if (identifier >= 0 && files.ReadModeRecord(kDss1IeContentsRecord, reserved).ok()) {
    const TModeHeaderRecord h = reserved.Header();
    if (h.Reference >= 0) contents = T.Cache.Mode(h.Reference);
    if (contents && contents->Header.Kind != mkStructure) contents.reset();
  }
  if (contents) {
    for (const TModeComponentRecord& c : contents->Components) {
      if (c.Selector == -1 || c.IsVarLength() || c.IsElse() || c.Label != identifier) continue;
      if (c.Kind != mkReference) break;
      T.DecodeMode(c.ModeIndex, 0, 0, 0, c.Size, c.Packing(), 2, "", length);
      return;
    }
  }
  std::string text = "    IE_DATA =";
  AppendHexBytes(text, T.MessageBuffer, 0, length);
  S.Writer->WriteLine(text, caData);
}

// --- Mail records ---

void TConverter::ConvertMail() {
  S.Writer->WriteLine(kMailHeading, caMsg);
  const std::size_t marked = MarkedCount();
  for (std::size_t i = 0; i < marked;) {
    if (LineStop(i, marked)) break;
    const std::string& line = Area.Lines[i];
    if (Classify(line) != TLineClass::Mail) {
      ++i;
      continue;
    }
    S.Writer->WriteLine(TrimSpaces(line), caMsg);
    // Its data: the hex lines up to the next mail record.
    T.MessageBuffer.Clear();
    for (++i; i < marked && Classify(Area.Lines[i]) != TLineClass::Mail; ++i)
      T.ParseDataLine(Area.Lines[i], ValuesStart(Area.Lines[i]), grBytes);
    for (std::uint32_t at = 0; at < T.MessageBuffer.Count; at += 16) {
      std::string text = "    MAIL_DATA =";
      AppendHexBytes(text, T.MessageBuffer, at, std::min<std::uint32_t>(at + 16, T.MessageBuffer.Count));
      S.Writer->WriteLine(text, caData);
    }
  }
}

// --- Dumps: decoded by the name the user gives ---

void TConverter::DecodeByName() {
  const std::string list = S.Settings.ModeFileName.str() + ".mnt";
  const std::optional<std::string> answer = S.Desktop.AskModeName(S.Settings.DisplayModeName.str(), list);
  if (!answer) return;
  const std::string name = UpperCase(TrimSpaces(*answer));
  S.Settings.DisplayModeName = name;
  // Decoders below use the MessageBuffer themselves: work from a copy.
  const TMessageBuffer bytes = T.MessageBuffer;
  const TTraceFileSet& files = *S.TraceFiles->FileSet();

  if (name == "ASCII") {
    Output->Stream().write(reinterpret_cast<const char*>(bytes.Bytes.data()), bytes.Count);
    Output->Stream() << "\r\n";
  } else if (name == "MINI") {
    DecodeAsMini(bytes);
  } else if (name == "COMPLEX") {
    T.DecodeMbidList(0, bytes.Count);
  } else if (name == "MSG") {
    DecodeMessageList(bytes);
  } else {
    std::uint32_t code = 0;
    if (!files.Store().Open(".mna", &code)) {
      S.Errors->ReportError(ekFileOpen, code, files.Store().DisplayName(".mna"));
      return;
    }
    if (const TModeLookup mode = files.LookupModeByName(name); mode.Found) {
      const TModeHeaderRecord h = mode.Header.Header();
      T.DecodeMode(mode.Index, 0, 0, 0, bytes.Count * 8u, h.Packing(), 0, "", bytes.Count);
    } else if (const TSetLookup set = files.LookupSetByName(name); set.Found) {
      S.Writer->WriteLine("  " + name + " = " +
                              T.Cache.SetElementText(set.Offset, 0xFFFF, T.MessageBuffer, 0, 0, pmNone,
                                                     S.Settings.ConvertSetElements != 0),
                          caData);
    } else {
      S.Errors->ReportError(ekMessage, 0, "Mode Name not found !");
      return;
    }
  }
  Output->Show();
}

// The words again as MINI lines of eight, read by a recogniser of their own.
void TConverter::DecodeAsMini(const TMessageBuffer& bytes) {
  TMiniTrace reader(S);
  reader.StartReading();
  const std::size_t words = (bytes.Count + 1) / 2;
  for (std::size_t first = 0; first < words; first += kMiniWordsPerLine) {
    if (LineStop(first, words)) break;
    std::string line = " WOR 0000:" + Hex(static_cast<std::uint32_t>(first * 2), 4) + "    ";
    for (std::size_t w = first; w < first + kMiniWordsPerLine; ++w) {
      const std::uint32_t word = w < words ? bytes.Word(static_cast<std::uint32_t>(2 * w)) : 0;
      if (w != first) line += ' ';
      line += Hex(word, 4);
    }
    reader.ProcessLine(line);
  }
  reader.FinishReading();
}

// A message list: entries of a 24-byte head (identity, source and
// destination PIDs, length and routing, priority and type, flags, path,
// buffer pointer, user buffer size; little-endian) and the message bytes.
void TConverter::DecodeMessageList(const TMessageBuffer& bytes) {
  constexpr std::uint32_t kHead = 24;
  auto u16 = [&](std::uint32_t at) { return std::uint32_t{bytes.Word(at)}; };
  auto u32 = [&](std::uint32_t at) { return u16(at) | u16(at + 2) << 16; };
  auto optional16 = [&](std::uint32_t at) { return u16(at) == 0xFFFF ? std::string("....") : Hex(u16(at), 4); };
  S.Writer->WriteLine(kMessageListHeading, caMsg);
  for (std::uint32_t at = 0; at + kHead <= bytes.Count;) {
    if (LineStop(at, bytes.Count)) break;
    const auto identity = static_cast<std::uint16_t>(u16(at));
    if (identity == 0xFFFF) break;
    std::string name = KaspName(identity);
    name.resize(10, ' ');
    const std::string length = Hex(bytes.Bytes[at + 10], 2) + Hex(bytes.Bytes[at + 11], 2);
    const std::string type = Hex(bytes.Bytes[at + 12], 2) + Hex(bytes.Bytes[at + 13], 2);
    const std::string pointer = Hex(u32(at + 16), 8);
    S.Writer->WriteLine(Dec(identity, 5) + " " + name + " " + Hex(u32(at + 2), 8) + "  " + Hex(u32(at + 6), 8) +
                            " " + length + " " + type + " " + optional16(at + 14) + "  " + pointer + "  " +
                            optional16(at + 20),
                        caMsg);
    // The head as a header line, so the message's lengths follow its rules.
    std::string header = Dec(identity, 5);
    header.resize(16, ' ');
    header += Hex(u32(at + 2) >> 16, 4) + "_" + Hex(u32(at + 2) & 0xFFFF, 4) + " ";
    header += Hex(u32(at + 6) >> 16, 4) + "_" + Hex(u32(at + 6) & 0xFFFF, 4) + " ";
    header += length + " " + type + " " + optional16(at + 14) + " ";
    header += pointer.substr(0, 4) + ":" + pointer.substr(4) + " " + optional16(at + 20) + "  D ";
    T.MessageName = Dec(identity, 5);
    ParseHeaderQuietly(header, THeaderLayout::B17);
    const std::uint32_t data = at + kHead;
    const std::uint32_t size =
        std::min<std::uint32_t>(static_cast<std::uint32_t>(std::max(T.ExpectedMessageLength, 0)), bytes.Count - data);
    T.MessageBuffer.Clear();
    std::copy_n(bytes.Bytes.begin() + data, size, T.MessageBuffer.Bytes.begin());
    T.MessageBuffer.Count = static_cast<std::uint16_t>(size);
    if (size != 0) T.DecodeBuffer(1);
    at = data + size;
  }
}
}  // namespace

void ConvertMarkedArea(TSession& s, TConvertKind kind, const TMarkedText& area) {
  TTraceDecoder& trace = *s.Trace;
  if (trace.Command.Running) return;  // one command on the mode files at a time
  TModeCommandScope scope(s);
  scope.SuspendTrigger();
  // The live trace (or MINI trace) goes on afterwards with the message it was
  // collecting and the line the host has not finished yet.
  const TTraceDecoder::TMessageState live = trace.SaveMessageState();
  const std::string held(trace.Line.Text());
  if (!scope.Open(true)) return;
  trace.MessageIdentity = 0;
  trace.MessageName.clear();
  trace.Header = TMessageHeader();
  trace.Header.BufferPointer = "....:....";
  trace.Header.BufferSize = "....";
  TConverter(s, area).Run(kind);
  trace.RestoreMessageState(live);
  trace.AbortRequested = false;
  trace.Line.Clear();
  for (char c : held) trace.Line.Take(static_cast<std::uint8_t>(c));
}
