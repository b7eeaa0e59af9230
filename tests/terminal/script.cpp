#include "terminal/script.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "app/session.h"
#include "comms/recordinglines.h"
#include "comms/transmit.h"
#include "core/settings.h"
#include "log/logfiles.h"
#include "screen/store.h"
#include "screen/writer.h"
#include "support/testing.h"
#include "terminal/interpreter.h"
#include "transfer/commandstate.h"
#include "transfer/engine.h"
#include "transfer/pacedsend.h"

namespace {

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(" \t\r");
  return s.substr(first, last - first + 1);
}

bool ParseInt(const std::string& text, long long& value) {
  const std::string t = Trim(text);
  if (t.empty()) return false;
  int base = 10;
  const char* begin = t.data();
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    base = 16;
    begin += 2;
  }
  const auto result = std::from_chars(begin, t.data() + t.size(), value, base);
  return result.ec == std::errc() && result.ptr == t.data() + t.size();
}

bool ParsePair(const std::string& text, long long& a, long long& b) {
  const auto comma = text.find(',');
  if (comma == std::string::npos) return false;
  return ParseInt(text.substr(0, comma), a) && ParseInt(text.substr(comma + 1), b);
}

// "LEFT = RIGHT" split at the first '='.
bool SplitAssignment(const std::string& text, std::string& left, std::string& right) {
  const auto eq = text.find('=');
  if (eq == std::string::npos) return false;
  left = Trim(text.substr(0, eq));
  right = Trim(text.substr(eq + 1));
  return true;
}

bool Unquote(const std::string& text, std::string& bytes) {
  const std::string t = Trim(text);
  if (t.size() < 2 || t.front() != '"' || t.back() != '"') return false;
  return DecodeQuoted(t.substr(1, t.size() - 2), bytes);
}

const std::map<std::string, TColor>& ColourNames() {
  static const std::map<std::string, TColor> names = {
      {"black", 0x000000}, {"red", 0x0000FF},    {"green", 0x008000},  {"yellow", 0x00FFFF},
      {"blue", 0xFF0000},  {"purple", 0x800080}, {"navy", 0x800000},   {"white", 0xFFFFFF},
      {"maroon", 0x000080}, {"silver", 0xC0C0C0}, {"aqua", 0xFFFF00},
  };
  return names;
}

std::string ColourText(TColor c) {
  for (const auto& [name, value] : ColourNames()) {
    if (value == c) return name;
  }
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%06X", c);
  return buf;
}

std::string AttributeText(const TTextAttributes& a) {
  std::string s = "fg=" + ColourText(a.Foreground) + " bg=" + ColourText(a.Background);
  if (a.Style & fsBold) s += " bold";
  if (a.Style & fsItalic) s += " italic";
  if (a.Style & fsUnderline) s += " underline";
  if (a.Style & fsStrikeOut) s += " strike";
  return s + " size=" + std::to_string(a.Size) + " font=" + a.FontName;
}

// An integer field of the session that scripts may set and check.
struct TField {
  std::function<long long(TSession&)> Get;
  std::function<void(TSession&, long long)> Set;
};

// A field reached through a reference.
template <typename FRef>
TField Field(FRef ref) {
  return {[ref](TSession& s) -> long long { return ref(s); },
          [ref](TSession& s, long long v) {
            auto& field = ref(s);
            field = static_cast<std::remove_reference_t<decltype(field)>>(v);
          }};
}

// Settings colours are packed 32-bit fields: copied, not referenced.
#define QEL_COLOUR(name) \
  TField{[](TSession& s) -> long long { return s.Settings.name; }, \
         [](TSession& s, long long v) { s.Settings.name = static_cast<TColor>(v); }}

const std::map<std::string, TField>& Fields() {
  static const std::map<std::string, TField> fields = {
      {"Emulation", Field([](TSession& s) -> auto& { return s.Settings.Emulation; })},
      {"Wrap", Field([](TSession& s) -> auto& { return s.Settings.Wrap; })},
      {"NewLine", Field([](TSession& s) -> auto& { return s.Settings.NewLine; })},
      {"LocalEcho", Field([](TSession& s) -> auto& { return s.Settings.LocalEcho; })},
      {"ETXAck", Field([](TSession& s) -> auto& { return s.Settings.ETXAck; })},
      {"BackSpaceSends", Field([](TSession& s) -> auto& { return s.Settings.BackSpaceSends; })},
      {"DataBits", Field([](TSession& s) -> auto& { return s.Settings.DataBits; })},
      {"ScreenSize", Field([](TSession& s) -> auto& { return s.Settings.ScreenSize; })},
      {"Port", Field([](TSession& s) -> auto& { return s.Settings.Port; })},
      {"BlinkColor", QEL_COLOUR(BlinkColor)},
      {"ForegroundColor", QEL_COLOUR(ForegroundColor)},
      {"BackgroundColor", QEL_COLOUR(BackgroundColor)},
      {"RightMargin", Field([](TSession& s) -> auto& { return s.Writer->State.RightMargin; })},
      {"TopMargin", Field([](TSession& s) -> auto& { return s.Writer->State.TopMargin; })},
      {"BottomMargin", Field([](TSession& s) -> auto& { return s.Writer->State.BottomMargin; })},
      {"OriginMode", Field([](TSession& s) -> auto& { return s.Writer->State.OriginMode; })},
      {"G0Graphics", Field([](TSession& s) -> auto& { return s.Writer->State.G0Graphics; })},
      {"G1Graphics", Field([](TSession& s) -> auto& { return s.Writer->State.G1Graphics; })},
      {"G0Selected", Field([](TSession& s) -> auto& { return s.Writer->State.G0Selected; })},
      {"KeypadApplication", Field([](TSession& s) -> auto& { return s.Writer->State.KeypadApplication; })},
      {"CursorKeysApplication", Field([](TSession& s) -> auto& { return s.Writer->State.CursorKeysApplication; })},
      {"KeyboardLocked", Field([](TSession& s) -> auto& { return s.Writer->State.KeyboardLocked; })},
      {"ScrollLock", Field([](TSession& s) -> auto& { return s.Status.ScrollLock; })},
      {"EscapeActive", Field([](TSession& s) -> auto& { return s.Interpreter->EscapeActive; })},
      {"TelnetActive", Field([](TSession& s) -> auto& { return s.Interpreter->TelnetActive; })},
      {"LineCaptureActive", Field([](TSession& s) -> auto& { return s.Interpreter->LineCaptureActive; })},
      {"EorOption", Field([](TSession& s) -> auto& { return s.Transmit->EorOption; })},
      {"TransferActive", Field([](TSession& s) -> auto& { return s.Transfer->TransferActive; })},
      {"Direction", Field([](TSession& s) -> auto& { return s.Transfer->Direction; })},
      {"ReceiveKind", Field([](TSession& s) -> auto& { return s.Transfer->ReceiveKind; })},
      {"HostTransferParam1", Field([](TSession& s) -> auto& { return s.Transfer->HostTransferParams[0]; })},
      {"HostTransferParam2", Field([](TSession& s) -> auto& { return s.Transfer->HostTransferParams[1]; })},
      {"HostTransferParam3", Field([](TSession& s) -> auto& { return s.Transfer->HostTransferParams[2]; })},
      {"HostTransferParam4", Field([](TSession& s) -> auto& { return s.Transfer->HostTransferParams[3]; })},
      {"HostTransferParam5", Field([](TSession& s) -> auto& { return s.Transfer->HostTransferParams[4]; })},
      {"NetworkConnected", Field([](TSession& s) -> auto& { return s.Transmit->NetworkConnected; })},
      {"ListenActive", Field([](TSession& s) -> auto& { return s.Transmit->ListenActive; })},
      {"TranslateEnabled", Field([](TSession& s) -> auto& { return s.Transmit->TranslateEnabled; })},
  };
  return fields;
}
#undef QEL_COLOUR

// TabStop<column> reaches the settings' tab stops by column.
bool TabStopField(const std::string& name, int& index) {
  long long column;
  if (name.rfind("TabStop", 0) != 0 || !ParseInt(name.substr(7), column)) return false;
  if (column < 1 || column > 132) return false;
  index = static_cast<int>(column - 1);
  return true;
}

class TScriptRun {
 public:
  TScriptRun(const TScriptCase& c, TFeedMode mode) : Case(c), Mode(mode) {
    TSession& s = *T.S;
    s.Transmit->Serial = &Serial;
    s.Transmit->SerialConnected = true;
    s.StartUp();
  }

  std::vector<std::string> Run() {
    for (const auto& command : Case.Commands) {
      Current = &command;
      Execute(command);
    }
    return Failures;
  }

 private:
  TSession& S() { return *T.S; }

  void Fail(const std::string& message) {
    std::ostringstream out;
    out << Case.File << ":" << Current->Line << ": " << Current->Verb << " " << Current->Args
        << "\n    " << message;
    Failures.push_back(out.str());
  }

  void Execute(const TScriptCommand& c) {
    const std::string& v = c.Verb;
    if (v == "EMULATION") return Emulation(c.Args);
    if (v == "SET") return Set(c.Args);
    if (v == "SETTEXT") return SetText(c.Args);
    if (v == "TELNET") return Telnet();
    if (v == "RESET") return S().Writer->ResetTerminal();
    if (v == "TICK") return Tick(c.Args);
    if (v == "EBCDIC") return Ebcdic(c.Args);
    if (v == "WRITEFILE") return WriteFile(c.Args);
    if (v == "ESCLOG") {
      if (!S().Files->StartEscapeLog()) Fail("the escape-sequence log did not start");
      return;
    }
    if (v == "PUSH") return Push(c.Args);
    if (v[0] == '?') return Check(v.substr(1), c.Args);
    Fail("unknown command");
  }

  void Emulation(const std::string& name) {
    static const std::map<std::string, int> types = {
        {"quorix", emQuorix}, {"vt100", emVT100}, {"vt220", emVT220},
        {"tn3270", emTN3270}, {"vt52", emVT52}};
    const auto it = types.find(Trim(name));
    if (it == types.end()) return Fail("unknown emulation");
    S().Settings.Emulation = static_cast<std::uint8_t>(it->second);
  }

  void Set(const std::string& args) {
    std::string name, value;
    long long number;
    if (!SplitAssignment(args, name, value) || !ParseInt(value, number)) return Fail("malformed SET");
    int tab;
    if (TabStopField(name, tab)) {
      S().Settings.TabStops[tab] = static_cast<std::uint8_t>(number);
      return;
    }
    const auto it = Fields().find(name);
    if (it == Fields().end()) return Fail("unknown field " + name);
    it->second.Set(S(), number);
  }

  void SetText(const std::string& args) {
    std::string name, quoted, text;
    if (!SplitAssignment(args, name, quoted) || !Unquote(quoted, text)) {
      return Fail("malformed SETTEXT");
    }
    const std::string dirMark = "$DIR";
    for (auto at = text.find(dirMark); at != std::string::npos; at = text.find(dirMark)) {
      text.replace(at, dirMark.size(), T.Dir.path().string());
    }
    if (name == "AnswerBack") return S().Settings.AnswerBack.assign(text);
    if (name == "SendReceiveFileName") return S().Settings.SendReceiveFileName.assign(text);
    Fail("unknown text field " + name);
  }

  void Telnet() {
    S().Transmit->SerialConnected = false;
    S().Transmit->Network = &Network;
    S().Transmit->NetworkConnected = true;
    S().Settings.Port = kTelnetPortIndex;
  }

  void Tick(const std::string& args) {
    long long count;
    if (!ParseInt(args, count)) return Fail("malformed TICK");
    for (long long i = 0; i < count; ++i) S().TimerTick();
  }

  // EBCDIC IN|OUT byte value: one entry of the map.
  void Ebcdic(const std::string& args) {
    std::istringstream words(args);
    std::string direction, from, to;
    long long index, value;
    words >> direction >> from >> to;
    if (!ParseInt(from, index) || !ParseInt(to, value) || index < 0 || index > 255) {
      return Fail("malformed EBCDIC");
    }
    auto& table = direction == "IN" ? S().EbcdicMap.Incoming : S().EbcdicMap.Outgoing;
    table[static_cast<std::size_t>(index)] = static_cast<std::uint8_t>(value);
  }

  void WriteFile(const std::string& args) {
    const auto space = args.find(' ');
    std::string bytes;
    if (space == std::string::npos || !Unquote(args.substr(space), bytes)) {
      return Fail("malformed WRITEFILE");
    }
    WriteFileBytes(T.Dir.file(args.substr(0, space)), bytes);
  }

  void Push(const std::string& args) {
    std::string bytes;
    if (!Unquote(args, bytes)) return Fail("malformed text");
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    if (Mode == TFeedMode::ByteWise) {
      for (std::size_t i = 0; i < bytes.size(); ++i) S().Interpreter->ReceiveByte(data[i]);
      return;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
      const std::size_t taken = S().Interpreter->ReceiveBlock(data + done, bytes.size() - done);
      if (taken == 0) return Fail("ReceiveBlock took nothing");
      done += taken;
    }
  }

  // The default attribute's record changed by the words of the expectation.
  bool BuildAttribute(const std::string& look, TTextAttributes& expected) {
    expected = S().Screen->GetAttributeRecord(S().Writer->DefaultAttribute());
    std::istringstream words(look);
    std::string word;
    while (words >> word) {
      if (word == "default") continue;
      if (word == "bold") { expected.Style |= fsBold; continue; }
      if (word == "underline") { expected.Style |= fsUnderline; continue; }
      if (word == "italic") { expected.Style |= fsItalic; continue; }
      const auto eq = word.find('=');
      if (eq == std::string::npos) return false;
      const std::string key = word.substr(0, eq), value = word.substr(eq + 1);
      long long number;
      TColor colour;
      const auto named = ColourNames().find(value);
      if (named != ColourNames().end()) {
        colour = named->second;
      } else if (ParseInt(value, number)) {
        colour = static_cast<TColor>(number);
      } else {
        return false;
      }
      if (key == "fg") expected.Foreground = colour;
      else if (key == "bg") expected.Background = colour;
      else if (key == "size") expected.Size = static_cast<std::uint8_t>(colour);
      else return false;
    }
    return true;
  }

  // "?what subject = expected": what the session holds and what the check
  // expects, both as the text the expectation is written in.
  void Check(const std::string& what, const std::string& args) {
    std::string subject, right, expected, actual;
    if (!SplitAssignment(args, subject, right)) return Fail("malformed check");
    if (const char* error = Values(what, subject, right, expected, actual)) return Fail(error);
    if (actual == expected) return;
    Fail("expected \"" + EncodeQuoted(expected) + "\"\n         got \"" + EncodeQuoted(actual) + "\"");
  }

  // Null when the values were read, else what is wrong with the check.
  const char* Values(const std::string& what, const std::string& subject, const std::string& right,
                     std::string& expected, std::string& actual) {
    TSession& s = S();
    long long a, b;
    if (what == "row" || what == "line") {
      if (!ParseInt(subject, a) || !Unquote(right, expected)) return "malformed row expectation";
      const int line = what == "row" ? s.Screen->ScreenLine(static_cast<int>(a)) : static_cast<int>(a);
      if (line < 0 || line >= s.Screen->Count()) return "no such line";
      actual = Trimmed(s.Screen->GetLineText(line));
    } else if (what == "answers") {
      actual = Serial.Sent + Network.Sent;
      Serial.Sent.clear();
      Network.Sent.clear();
      if (!Unquote(right, expected)) return "malformed ?answers";
    } else if (what == "file") {
      actual = ReadFileBytes(T.Dir.file(subject));
      if (!Unquote(right, expected)) return "malformed ?file";
    } else if (what == "attr" || what == "current") {
      int number = s.Writer->State.CurrentAttribute;
      if (what == "attr" && !ParsePair(subject, a, b)) return "malformed ?attr";
      if (what == "attr") number = s.Screen->GetCellAttribute(static_cast<int>(b), static_cast<int>(a));
      TTextAttributes look;
      if (!BuildAttribute(right, look)) return "malformed attribute";
      expected = AttributeText(look);
      actual = AttributeText(s.Screen->GetAttributeRecord(number));
    } else if (what == "cursor") {
      if (!ParsePair(right, a, b)) return "malformed ?cursor";
      expected = std::to_string(a) + "," + std::to_string(b);
      actual = std::to_string(s.Writer->State.CursorRow) + "," + std::to_string(s.Writer->State.CursorColumn);
    } else {
      if (!ParseInt(right, a)) return "malformed number";
      expected = std::to_string(a);
      long long value;
      if (const char* error = Number(what, subject, value)) return error;
      actual = std::to_string(value);
    }
    return nullptr;
  }

  // The numbers ?lines, ?beeps, ?linesize ROW and ?state FIELD read.
  const char* Number(const std::string& what, const std::string& subject, long long& value) {
    TSession& s = S();
    long long row;
    int tab;
    if (what == "lines") {
      value = s.Screen->Count();
    } else if (what == "beeps") {
      value = T.Desktop.Beeps;
    } else if (what == "linesize") {
      if (!ParseInt(subject, row) || row < 1 || row > 24) return "malformed ?linesize";
      value = s.Writer->State.LineSize[row - 1];
    } else if (what == "state" && TabStopField(subject, tab)) {
      value = s.Settings.TabStops[tab];
    } else if (what == "state") {
      const auto it = Fields().find(subject);
      if (it == Fields().end()) return "unknown field";
      value = it->second.Get(s);
    } else {
      return "unknown command";
    }
    return nullptr;
  }

  const TScriptCase& Case;
  TFeedMode Mode;
  TTestSession T;
  // The window's sender: a host's send request has someone to send the file.
  TCommandState Commands;
  TPacedSend Sender{*T.S, Commands};
  TRecordingSerialLine Serial;
  TRecordingNetworkLine Network;
  const TScriptCommand* Current = nullptr;
  std::vector<std::string> Failures;
};

}  // namespace

bool DecodeQuoted(const std::string& text, std::string& bytes) {
  bytes.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\\') {
      bytes.push_back(c);
      continue;
    }
    if (++i >= text.size()) return false;
    switch (text[i]) {
      case 'e': bytes.push_back('\x1B'); break;
      case 'r': bytes.push_back('\r'); break;
      case 'n': bytes.push_back('\n'); break;
      case 't': bytes.push_back('\t'); break;
      case 'a': bytes.push_back('\a'); break;
      case 'b': bytes.push_back('\b'); break;
      case 'f': bytes.push_back('\f'); break;
      case '0': bytes.push_back('\0'); break;
      case '\\': bytes.push_back('\\'); break;
      case '"': bytes.push_back('"'); break;
      case 'x': {
        if (i + 2 >= text.size()) return false;
        unsigned value = 0;
        const auto result = std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16);
        if (result.ec != std::errc() || result.ptr != text.data() + i + 3) return false;
        bytes.push_back(static_cast<char>(value));
        i += 2;
        break;
      }
      default: return false;
    }
  }
  return true;
}

std::string EncodeQuoted(const std::string& bytes) {
  std::string out;
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == 27) out += "\\e";
    else if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else if (c == '\\') out += "\\\\";
    else if (c == '"') out += "\\\"";
    else if (c < 32 || c >= 127) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out.push_back(ch);
    }
  }
  return out;
}

std::vector<TScriptCase> ReadScript(const std::string& path) {
  std::vector<TScriptCase> cases;
  std::ifstream in(path);
  const std::string file = path.substr(path.find_last_of('/') + 1);
  if (!in) {
    cases.push_back({file, "unreadable", 0, {{0, "UNREADABLE", path}}});
    return cases;
  }
  std::vector<TScriptCommand> prologue;
  std::string raw;
  int number = 0;
  while (std::getline(in, raw)) {
    ++number;
    const std::string line = Trim(raw);
    if (line.empty() || line[0] == '#') continue;
    const auto space = line.find_first_of(" \t");
    TScriptCommand command{number, line.substr(0, space),
                           space == std::string::npos ? "" : Trim(line.substr(space))};
    if (command.Verb == "CASE") {
      cases.push_back({file, command.Args, number, prologue});
      continue;
    }
    if (cases.empty()) {
      prologue.push_back(command);
    } else {
      cases.back().Commands.push_back(command);
    }
  }
  return cases;
}

std::vector<std::string> RunScriptCase(const TScriptCase& c, TFeedMode mode) {
  TScriptRun run(c, mode);
  return run.Run();
}
