#include "app/settingsfields.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/numbers.h"
#include "core/paths.h"
#include "core/text.h"

namespace {
enum class TKind { U8, U16, I32, Color, Text, Attr, Trigger, TabStops };

struct TField {
  const char* Name;
  std::size_t Offset;
  TKind Kind;
  std::int64_t Min = 0;
  std::int64_t Max = 0;
  std::size_t Capacity = 0;  // characters of a string
  int Count = 1;             // elements of an array
  bool PortValues = false;   // 0..5, or 255 for a port typed outside the list
};

constexpr std::int64_t kI32Min = INT32_MIN;
constexpr std::int64_t kI32Max = INT32_MAX;

#define QEL_FIELD(name) #name, offsetof(TSetupRecord, name)

TField Flag(const char* name, std::size_t offset) { return {name, offset, TKind::U8, 0, 1}; }
TField Byte(const char* name, std::size_t offset, int min, int max) {
  return {name, offset, TKind::U8, min, max};
}
TField Text(const char* name, std::size_t offset, std::size_t capacity, int count = 1) {
  return {name, offset, TKind::Text, 0, 0, capacity, count};
}
TField Color(const char* name, std::size_t offset) { return {name, offset, TKind::Color, 0, 0xFFFFFF}; }
TField Attr(const char* name, std::size_t offset) { return {name, offset, TKind::Attr}; }

const std::vector<TField>& Fields() {
  static const std::vector<TField> fields = {
      Byte(QEL_FIELD(ComPort), 0, 7),
      Byte(QEL_FIELD(BaudRate), 0, 14),
      Byte(QEL_FIELD(DataBits), 0, 4),
      Byte(QEL_FIELD(StopBits), 0, 2),
      Byte(QEL_FIELD(Parity), 0, 4),
      Byte(QEL_FIELD(Emulation), 0, 3),
      Byte(QEL_FIELD(FlowControl), 0, 3),
      Flag(QEL_FIELD(LocalEcho)),
      Text(QEL_FIELD(LogFileName), 80),
      Text(QEL_FIELD(ModeFileName), 80),
      Text(QEL_FIELD(CommandFileName), 80),
      Flag(QEL_FIELD(FollowCursor)),
      Flag(QEL_FIELD(Wrap)),
      Flag(QEL_FIELD(NewLine)),
      Flag(QEL_FIELD(ScreenSize)),
      Text(QEL_FIELD(SimulateFileName), 80),
      Text(QEL_FIELD(SendReceiveFileName), 80),
      Flag(QEL_FIELD(BackSpaceSends)),
      {QEL_FIELD(TabStops), TKind::TabStops, 0, 1, 0, 132},
      Flag(QEL_FIELD(DisplayMsgHeader)),
      Flag(QEL_FIELD(DisplayMsgBuffer)),
      Flag(QEL_FIELD(DisplayUserBuffer)),
      Flag(QEL_FIELD(ShortValueLines)),
      Flag(QEL_FIELD(ConvertSetElements)),
      Flag(QEL_FIELD(BackgroundLogging)),
      Flag(QEL_FIELD(ColTurnsTrace)),
      Flag(QEL_FIELD(ColTurnsMiniTrace)),
      Attr(QEL_FIELD(IEAttr)),
      Attr(QEL_FIELD(DSS1MsgAttr)),
      Attr(QEL_FIELD(SndRcvAttr)),
      Attr(QEL_FIELD(MbidAttr)),
      Attr(QEL_FIELD(VMIAttr)),
      Attr(QEL_FIELD(DataAttr)),
      Attr(QEL_FIELD(ErrorAttr)),
      Attr(QEL_FIELD(MsgAttr)),
      Attr(QEL_FIELD(IndicatorAttr)),
      Byte(QEL_FIELD(TriggerType), 0, 3),
      {QEL_FIELD(TriggerEntries), TKind::Trigger, 0, 0xFFFF, 0, 4},
      Byte(QEL_FIELD(TriggerAction), 0, 10),
      Flag(QEL_FIELD(CharDelay)),
      Byte(QEL_FIELD(LineDelay), 0, 3),
      Byte(QEL_FIELD(WaitChar), 0, 255),
      Flag(QEL_FIELD(EOFCtrlZ)),
      Byte(QEL_FIELD(EOL), 0, 4),
      Byte(QEL_FIELD(LineDly), 0, 100),
      Flag(QEL_FIELD(CtrlZEnd)),
      Flag(QEL_FIELD(SuppressCtrlChar)),
      Text(QEL_FIELD(KeyMapFileName), 80),
      Color(QEL_FIELD(ForegroundColor)),
      Color(QEL_FIELD(BackgroundColor)),
      Color(QEL_FIELD(BlinkColor)),
      Color(QEL_FIELD(MarkForegroundColor)),
      Color(QEL_FIELD(MarkBackgroundColor)),
      Color(QEL_FIELD(BookmarkColor1)),
      Color(QEL_FIELD(BookmarkColor2)),
      Byte(QEL_FIELD(FontStyle), 0, 15),
      Text(QEL_FIELD(FontName), 40),
      {QEL_FIELD(FontSize), TKind::U16, 1, 255},
      Text(QEL_FIELD(DisplayModeName), 80),
      Flag(QEL_FIELD(SoftkeyEcho)),
      Byte(QEL_FIELD(MaxEchoDelay), 0, 50),
      Flag(QEL_FIELD(EscFlush)),
      Byte(QEL_FIELD(PadsRetries), 1, 5),
      Byte(QEL_FIELD(PadsDelay), 0, 10),
      Flag(QEL_FIELD(ImprovedProtocol)),
      Byte(QEL_FIELD(QuorixType), 0, 2),
      Text(QEL_FIELD(DialString), 32),
      Text(QEL_FIELD(DialNumber), 32),
      Text(QEL_FIELD(HangUpString), 32),
      Text(QEL_FIELD(InitModemString), 80),
      Text(QEL_FIELD(OrnetDirectoryName), 80),
      Text(QEL_FIELD(VMIFileName), 80),
      Text(QEL_FIELD(BIDFileName), 80),
      Text(QEL_FIELD(HostName), 80),
      {QEL_FIELD(Port), TKind::U8, 0, 255, 0, 1, true},
      Text(QEL_FIELD(FTPUserName), 80),
      Text(QEL_FIELD(FTPPassword), 80),
      Text(QEL_FIELD(FTPHostName), 80),
      Text(QEL_FIELD(FTPAccount), 80),
      Text(QEL_FIELD(RemotePath), 255),
      Text(QEL_FIELD(LocalPath), 255),
      Flag(QEL_FIELD(StatusBarVisible)),
      Flag(QEL_FIELD(ToolBarVisible)),
      Flag(QEL_FIELD(QuorixToolBarVisible)),
      Flag(QEL_FIELD(ModemToolBarVisible)),
      Flag(QEL_FIELD(SoftKeyBarVisible)),
      Flag(QEL_FIELD(ShiftSoftKeyBarVisible)),
      Flag(QEL_FIELD(CntrlSoftKeyBarVisible)),
      {QEL_FIELD(WindowLeft), TKind::I32, kI32Min, kI32Max},
      {QEL_FIELD(WindowTop), TKind::I32, kI32Min, kI32Max},
      {QEL_FIELD(WindowHeight), TKind::I32, kI32Min, kI32Max},
      {QEL_FIELD(WindowWidth), TKind::I32, kI32Min, kI32Max},
      Text(QEL_FIELD(SoftKeys), 255, 12),
      Text(QEL_FIELD(ShiftSoftKeys), 255, 12),
      Text(QEL_FIELD(CntrlSoftKeys), 255, 12),
      {QEL_FIELD(SoftKeyDelay), TKind::I32, 0, 100},
      Flag(QEL_FIELD(PrintRange)),
      Flag(QEL_FIELD(PrintToFile)),
      Flag(QEL_FIELD(LazyScroll)),
      Flag(QEL_FIELD(ETXAck)),
      Text(QEL_FIELD(EBCDICMapFileName), 80),
      Text(QEL_FIELD(AnswerBack), 255),
      Flag(QEL_FIELD(BookmarkVisible)),
  };
  return fields;
}

#undef QEL_FIELD

// ------------------------------------------------------------ value names

// Names of a coded field's values by code; a name list may also give
// aliases, which are read but never printed.
struct TValueNames {
  const char* Field;
  std::vector<const char*> Names;  // index = code
  std::vector<std::pair<const char*, int>> Aliases = {};
};

const std::vector<TValueNames>& ValueNames() {
  static const std::vector<TValueNames> names = {
      {"ComPort", {"com1", "com2", "com3", "com4", "com5", "com6", "com7", "com8"}},
      {"BaudRate",
       {"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "56000", "57600", "115200",
        "128000", "256000"}},
      {"DataBits", {"4-bits", "5-bits", "6-bits", "7-bits", "8-bits"}},
      {"StopBits", {"1-bit", "1.5-bits", "2-bits"}},
      {"Parity", {"none", "odd", "even", "mark", "space"}},
      {"Emulation", {"quorix", "vt100", "vt220", "tn3270"}, {{"vt220-8bit", 2}}},
      {"FlowControl", {"none", "rts-cts", "dtr", "xon-xoff"}, {{"rts/cts", 1}, {"xon/off", 3}, {"xon-off", 3}}},
      {"ScreenSize", {"80-columns", "132-columns"}},
      {"BackSpaceSends", {"backspace", "delete"}},
      {"CharDelay", {"no-wait", "paced-by-echo"}},
      {"LineDelay", {"no-wait", "wait-for-char", "wait-for-time", "wait-for-keystroke"}},
      {"EOL", {"cr", "lf", "no-change", "cr-lf", "lf-cr"}},
      {"QuorixType", {"m1", "m2", "m3"}},
      {"Port", {"echo", "discard", "daytime", "netstat", "chargen", "telnet"}, {{"none", 255}}},
      {"PrintRange", {"all", "selection"}},
  };
  return names;
}

const TValueNames* NamesOf(const TField& f) {
  for (const TValueNames& n : ValueNames()) {
    if (std::strcmp(n.Field, f.Name) == 0) return &n;
  }
  return nullptr;
}

// The name of a code; a code without one is shown as its number.
std::string CodeText(const TField& f, int code) {
  if (const TValueNames* names = NamesOf(f)) {
    if (code >= 0 && code < static_cast<int>(names->Names.size())) return names->Names[code];
    for (const auto& [alias, value] : names->Aliases) {
      if (value == code) return alias;
    }
  }
  return std::to_string(code);
}

std::optional<int> CodeOfName(const TField& f, std::string_view text) {
  const TValueNames* names = NamesOf(f);
  if (!names) return std::nullopt;
  for (std::size_t i = 0; i < names->Names.size(); ++i) {
    if (EqualsIgnoreCase(names->Names[i], text)) return static_cast<int>(i);
  }
  for (const auto& [alias, value] : names->Aliases) {
    if (EqualsIgnoreCase(alias, text)) return value;
  }
  return std::nullopt;
}

std::string NameList(const TField& f) {
  std::string text;
  if (const TValueNames* names = NamesOf(f)) {
    for (const char* name : names->Names) text += std::string(text.empty() ? "" : ", ") + name;
  }
  return text;
}

// ------------------------------------------------------------ raw access

std::uint32_t LoadU32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
std::uint16_t LoadU16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
void StoreU32(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, 4); }
void StoreU16(std::uint8_t* p, std::uint16_t v) { std::memcpy(p, &v, 2); }

std::size_t ElementSize(const TField& f) {
  switch (f.Kind) {
    case TKind::Text: return f.Capacity + 1;
    case TKind::Trigger: return 8;
    case TKind::TabStops: return 1;
    default: return 0;
  }
}

// ------------------------------------------------------------ numbers

std::optional<std::int64_t> ParseInteger(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  std::int64_t value = 0;
  for (const char c : text) {
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return std::nullopt;
    value = value * base + digit;
    if (value > (std::int64_t(1) << 40)) return std::nullopt;
  }
  return negative ? -value : value;
}

std::string HexColor(std::uint32_t value) { return "0x" + Hex(value, value > 0xFFFFFF ? 8 : 6); }

bool ParseInRange(std::string_view text, std::int64_t min, std::int64_t max, std::int64_t& out,
                  std::string& error) {
  const auto value = ParseInteger(text);
  if (!value) {
    error = "not a number: '" + std::string(text) + "'";
    return false;
  }
  if (*value < min || *value > max) {
    error = "value " + std::to_string(*value) + " out of range " + std::to_string(min) + ".." +
            std::to_string(max);
    return false;
  }
  out = *value;
  return true;
}

// ------------------------------------------------------------ styles

constexpr struct {
  const char* Name;
  std::uint8_t Bit;
} kStyles[] = {{"bold", fsBold}, {"italic", fsItalic}, {"underline", fsUnderline}, {"strikeout", fsStrikeOut}};

std::string StyleText(std::uint8_t style) {
  if (style == 0) return "plain";
  if (style > 15) return std::to_string(style);
  std::string text;
  for (const auto& s : kStyles) {
    if (!(style & s.Bit)) continue;
    if (!text.empty()) text += '+';
    text += s.Name;
  }
  return text;
}

bool ParseStyle(std::string_view text, std::uint8_t& out, std::string& error) {
  if (EqualsIgnoreCase(text, "plain")) {
    out = 0;
    return true;
  }
  if (!text.empty() && text[0] >= '0' && text[0] <= '9') {
    std::int64_t value = 0;
    if (!ParseInRange(text, 0, 255, value, error)) return false;
    out = static_cast<std::uint8_t>(value);
    return true;
  }
  std::uint8_t style = 0;
  while (!text.empty()) {
    const std::size_t plus = text.find('+');
    const std::string_view word = text.substr(0, plus);
    bool known = false;
    for (const auto& s : kStyles) {
      if (EqualsIgnoreCase(word, s.Name)) {
        style |= s.Bit;
        known = true;
      }
    }
    if (!known) {
      error = "unknown style '" + std::string(word) + "' (bold, italic, underline, strikeout, plain or a number)";
      return false;
    }
    if (plus == std::string_view::npos) break;
    text.remove_prefix(plus + 1);
  }
  out = style;
  return true;
}

// ------------------------------------------------------------ names

struct TName {
  const TField* Field = nullptr;
  int Index = -1;    // -1: no index given
  std::string Part;  // after the dot
};

bool ResolveName(std::string_view name, TName& out, std::string& error) {
  std::string_view base = name;
  const std::size_t cut = name.find_first_of("[.");
  if (cut != std::string_view::npos) base = name.substr(0, cut);
  for (const TField& f : Fields()) {
    if (EqualsIgnoreCase(f.Name, base)) out.Field = &f;
  }
  if (!out.Field) {
    error = "unknown field '" + std::string(name) + "'";
    return false;
  }
  std::string_view rest = cut == std::string_view::npos ? std::string_view() : name.substr(cut);
  if (!rest.empty() && rest[0] == '[') {
    const std::size_t close = rest.find(']');
    const auto index = close == std::string_view::npos ? std::nullopt : ParseInteger(rest.substr(1, close - 1));
    if (!index || *index < 0 || *index >= out.Field->Count) {
      error = "bad index in '" + std::string(name) + "' (0.." + std::to_string(out.Field->Count - 1) + ")";
      return false;
    }
    out.Index = static_cast<int>(*index);
    rest.remove_prefix(close + 1);
  }
  if (!rest.empty() && rest[0] == '.') {
    out.Part = std::string(rest.substr(1));
    rest = {};
  }
  if (!rest.empty()) {
    error = "unknown field '" + std::string(name) + "'";
    return false;
  }
  const bool array = out.Field->Count > 1;
  if (array && out.Index < 0 && out.Field->Kind != TKind::TabStops) {
    error = "'" + std::string(name) + "' needs an index (0.." + std::to_string(out.Field->Count - 1) + ")";
    return false;
  }
  if (!array && out.Index >= 0) {
    error = "'" + std::string(out.Field->Name) + "' has no index";
    return false;
  }
  const bool parts = out.Field->Kind == TKind::Attr || out.Field->Kind == TKind::Trigger;
  if (!out.Part.empty() && !parts) {
    error = "'" + std::string(out.Field->Name) + "' has no part '" + out.Part + "'";
    return false;
  }
  return true;
}

// Parts of the composite fields: name, byte offset, size (1, 2 or 4), hex.
struct TPart {
  const char* Name;
  const char* Key;
  std::size_t Offset;
  int Size;
  bool Hex;
};
constexpr TPart kAttrParts[] = {
    {"Foreground", "fg", 0, 4, true}, {"Background", "bg", 4, 4, true},
    {"Style", "style", 8, 1, false},  {"Size", "size", 9, 1, false}};
constexpr TPart kTriggerParts[] = {
    {"Identity", "identity", 0, 2, false}, {"Offset", "offset", 2, 2, false},
    {"Mask", "mask", 4, 2, true},          {"Value", "value", 6, 2, true}};

template <std::size_t N>
const TPart* FindPart(const TPart (&parts)[N], std::string_view name) {
  for (const TPart& p : parts) {
    if (EqualsIgnoreCase(p.Name, name) || EqualsIgnoreCase(p.Key, name)) return &p;
  }
  return nullptr;
}

std::string PartText(const TPart& part, const std::uint8_t* base) {
  const std::uint8_t* p = base + part.Offset;
  if (part.Size == 4) return HexColor(LoadU32(p));
  if (part.Size == 2) {
    const std::uint16_t v = LoadU16(p);
    return part.Hex ? "0x" + Hex(v, 4) : std::to_string(v);
  }
  if (std::strcmp(part.Key, "style") == 0) return StyleText(*p);
  return std::to_string(*p);
}

bool SetPart(const TPart& part, std::uint8_t* base, std::string_view value, std::string& error) {
  std::uint8_t* p = base + part.Offset;
  std::int64_t number = 0;
  if (part.Size == 4) {
    if (!ParseInRange(value, 0, 0xFFFFFF, number, error)) return false;
    StoreU32(p, static_cast<std::uint32_t>(number));
    return true;
  }
  if (part.Size == 2) {
    if (!ParseInRange(value, 0, 0xFFFF, number, error)) return false;
    StoreU16(p, static_cast<std::uint16_t>(number));
    return true;
  }
  if (std::strcmp(part.Key, "style") == 0) return ParseStyle(value, *p, error);
  if (!ParseInRange(value, 0, 255, number, error)) return false;
  *p = static_cast<std::uint8_t>(number);
  return true;
}

template <std::size_t N>
std::string CompositeText(const TPart (&parts)[N], const std::uint8_t* base) {
  std::string text;
  for (const TPart& p : parts) {
    if (!text.empty()) text += ' ';
    text += std::string(p.Key) + ':' + PartText(p, base);
  }
  return text;
}

// "key:value key:value": only the keys given change.
template <std::size_t N>
bool SetComposite(const TPart (&parts)[N], std::uint8_t* base, std::size_t size, std::string_view value,
                  std::string& error) {
  std::vector<std::uint8_t> work(base, base + size);
  std::size_t pos = 0;
  bool any = false;
  while (pos < value.size()) {
    if (value[pos] == ' ') {
      ++pos;
      continue;
    }
    std::size_t end = value.find(' ', pos);
    if (end == std::string_view::npos) end = value.size();
    const std::string_view item = value.substr(pos, end - pos);
    pos = end;
    const std::size_t colon = item.find(':');
    const TPart* part = colon == std::string_view::npos ? nullptr : FindPart(parts, item.substr(0, colon));
    if (!part) {
      std::string keys;
      for (const TPart& p : parts) keys += std::string(keys.empty() ? "" : ", ") + p.Key;
      error = "expected key:value items with the keys " + keys + ", got '" + std::string(item) + "'";
      return false;
    }
    if (!SetPart(*part, work.data(), item.substr(colon + 1), error)) return false;
    any = true;
  }
  if (!any) {
    error = "no key:value items";
    return false;
  }
  std::memcpy(base, work.data(), size);
  return true;
}

std::string TabStopsText(const std::uint8_t* flags) {
  std::string text;
  for (int i = 0; i < 132; ++i) {
    if (!flags[i]) continue;
    if (!text.empty()) text += ',';
    text += std::to_string(i);
  }
  return text;
}

bool SetTabStops(std::uint8_t* flags, std::string_view value, std::string& error) {
  std::uint8_t work[132] = {};
  while (!value.empty()) {
    const std::size_t comma = value.find(',');
    std::string_view item = value.substr(0, comma);
    item = TrimSpaces(item);
    std::int64_t index = 0;
    if (!ParseInRange(item, 0, 131, index, error)) {
      error = "tab stop " + error;
      return false;
    }
    work[index] = 1;
    if (comma == std::string_view::npos) break;
    value.remove_prefix(comma + 1);
  }
  std::memcpy(flags, work, sizeof work);
  return true;
}

std::string FieldText(const TField& f, const std::uint8_t* p) {
  switch (f.Kind) {
    case TKind::U8: return CodeText(f, *p);
    case TKind::U16: return std::to_string(LoadU16(p));
    case TKind::I32: return std::to_string(static_cast<std::int32_t>(LoadU32(p)));
    case TKind::Color: return HexColor(LoadU32(p));
    case TKind::Text: {
      const std::size_t length = std::min<std::size_t>(*p, f.Capacity);
      return EscapeSettingsText(std::string_view(reinterpret_cast<const char*>(p + 1), length));
    }
    case TKind::Attr: return CompositeText(kAttrParts, p);
    case TKind::Trigger: return CompositeText(kTriggerParts, p);
    case TKind::TabStops: return TabStopsText(p);
  }
  return {};
}

bool SetFieldValue(const TField& f, std::uint8_t* p, std::string_view value, std::string& error) {
  std::int64_t number = 0;
  switch (f.Kind) {
    case TKind::U8:
      // A name where the field has names; baud rates are names, so 9600
      // is the rate and 6 its code.
      if (const auto code = CodeOfName(f, value)) {
        *p = static_cast<std::uint8_t>(*code);
        return true;
      }
      if (!ParseInRange(value, f.Min, f.Max, number, error)) {
        if (NamesOf(f)) error += " (or one of " + NameList(f) + ")";
        return false;
      }
      if (f.PortValues && number > 5 && number != 255) {
        error = "value " + std::to_string(number) + " is not a port index (0..5, or 255 for none)";
        return false;
      }
      *p = static_cast<std::uint8_t>(number);
      return true;
    case TKind::U16:
      if (!ParseInRange(value, f.Min, f.Max, number, error)) return false;
      StoreU16(p, static_cast<std::uint16_t>(number));
      return true;
    case TKind::I32:
    case TKind::Color:
      if (!ParseInRange(value, f.Min, f.Max, number, error)) return false;
      StoreU32(p, static_cast<std::uint32_t>(number));
      return true;
    case TKind::Text: {
      const std::string text = UnescapeSettingsText(value);
      if (text.size() > f.Capacity) {
        error = "text of " + std::to_string(text.size()) + " characters is longer than " +
                std::to_string(f.Capacity);
        return false;
      }
      *p = static_cast<std::uint8_t>(text.size());
      std::memcpy(p + 1, text.data(), text.size());
      return true;
    }
    case TKind::Attr: return SetComposite(kAttrParts, p, sizeof(TAttributeBlock), value, error);
    case TKind::Trigger: return SetComposite(kTriggerParts, p, sizeof(TTriggerEntry), value, error);
    case TKind::TabStops: return SetTabStops(p, value, error);
  }
  return false;
}

std::string IndexedName(const TField& f, int index) {
  return std::string(f.Name) + "[" + std::to_string(index) + "]";
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

std::string EscapeSettingsText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<std::uint8_t>(text[i]);
    const bool escapedBackslash = c == '\\' && i + 1 < text.size() && text[i + 1] == 'x';
    if (c < 32 || c > 126 || escapedBackslash) {
      out += "\\x" + Hex(c, 2);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

std::string UnescapeSettingsText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x' && HexDigit(text[i + 2]) >= 0 &&
        HexDigit(text[i + 3]) >= 0) {
      out.push_back(static_cast<char>(HexDigit(text[i + 2]) * 16 + HexDigit(text[i + 3])));
      i += 3;
      continue;
    }
    out.push_back(text[i]);
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> PrintSettingsFields(const TSetupRecord& record) {
  std::vector<std::pair<std::string, std::string>> lines;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&record);
  for (const TField& f : Fields()) {
    const std::uint8_t* p = bytes + f.Offset;
    if (f.Count > 1 && f.Kind != TKind::TabStops) {
      for (int i = 0; i < f.Count; ++i) lines.emplace_back(IndexedName(f, i), FieldText(f, p + i * ElementSize(f)));
    } else {
      lines.emplace_back(f.Name, FieldText(f, p));
    }
  }
  return lines;
}

std::optional<std::string> GetSettingsField(const TSetupRecord& record, std::string_view name,
                                            std::string& error) {
  TName resolved;
  if (!ResolveName(name, resolved, error)) return std::nullopt;
  const TField& f = *resolved.Field;
  const std::uint8_t* p = reinterpret_cast<const std::uint8_t*>(&record) + f.Offset;
  if (resolved.Index >= 0) p += resolved.Index * ElementSize(f);
  if (f.Kind == TKind::TabStops && resolved.Index >= 0) return std::to_string(*p);
  if (resolved.Part.empty()) return FieldText(f, p);
  const TPart* part = f.Kind == TKind::Attr ? FindPart(kAttrParts, resolved.Part)
                                            : FindPart(kTriggerParts, resolved.Part);
  if (!part) {
    error = "'" + std::string(f.Name) + "' has no part '" + resolved.Part + "'";
    return std::nullopt;
  }
  return PartText(*part, p);
}

bool SetSettingsField(TSetupRecord& record, std::string_view name, std::string_view value,
                      std::string& error) {
  TName resolved;
  if (!ResolveName(name, resolved, error)) return false;
  const TField& f = *resolved.Field;
  std::uint8_t* p = reinterpret_cast<std::uint8_t*>(&record) + f.Offset;
  if (resolved.Index >= 0) p += resolved.Index * ElementSize(f);
  if (f.Kind == TKind::TabStops && resolved.Index >= 0) {
    std::int64_t flag = 0;
    if (!ParseInRange(value, 0, 1, flag, error)) return false;
    *p = static_cast<std::uint8_t>(flag);
    return true;
  }
  if (resolved.Part.empty()) return SetFieldValue(f, p, value, error);
  const TPart* part = f.Kind == TKind::Attr ? FindPart(kAttrParts, resolved.Part)
                                            : FindPart(kTriggerParts, resolved.Part);
  if (!part) {
    error = "'" + std::string(f.Name) + "' has no part '" + resolved.Part + "'";
    return false;
  }
  return SetPart(*part, p, value, error);
}

std::vector<std::pair<std::string, std::string>> PrintSettingsFields(const TSetupRecord& record,
                                                                     const TConnectionSettings& extra) {
  auto lines = PrintSettingsFields(record);
  for (auto& line : PrintConnectionFields(extra)) lines.push_back(std::move(line));
  return lines;
}

std::optional<std::string> GetSettingsField(const TSetupRecord& record, const TConnectionSettings& extra,
                                            std::string_view name, std::string& error) {
  if (auto value = GetConnectionField(extra, name)) return value;
  return GetSettingsField(record, name, error);
}

bool SetSettingsField(TSetupRecord& record, TConnectionSettings& extra, std::string_view name,
                      std::string_view value, std::string& error) {
  const int set = SetConnectionField(extra, name, value, error);
  if (set != 0) return set > 0;
  return SetSettingsField(record, name, value, error);
}

// ------------------------------------------------------------ reference

namespace {
// What each field is for, as an engineer looks it up.
const char* MeaningOf(std::string_view name) {
  static const std::pair<const char*, const char*> kMeanings[] = {
      {"ComPort", "serial port COM1..COM8 (the device list maps them to /dev/ttyS0..7)"},
      {"BaudRate", "serial line rate"},
      {"DataBits", "data bits per character"},
      {"StopBits", "stop bits"},
      {"Parity", "parity"},
      {"Emulation", "terminal type; VT52 is not chosen here, a VT100 host selects it"},
      {"FlowControl", "serial flow control"},
      {"LocalEcho", "show typed characters locally"},
      {"LogFileName", "log file"},
      {"ModeFileName", "mode definition files used to decode traces"},
      {"CommandFileName", "command definitions file"},
      {"FollowCursor", "the view follows the cursor"},
      {"Wrap", "wrap at the right margin"},
      {"NewLine", "a line feed also returns the carriage"},
      {"ScreenSize", "screen width"},
      {"SimulateFileName", "file played as if received (Simulate)"},
      {"SendReceiveFileName", "file sent or received"},
      {"BackSpaceSends", "what the Backspace key sends: code 8 or 127"},
      {"TabStops", "columns (0..131) with a tab stop"},
      {"DisplayMsgHeader", "trace decoding shows the message header"},
      {"DisplayMsgBuffer", "trace decoding shows message buffers"},
      {"DisplayUserBuffer", "trace decoding shows user buffers"},
      {"ShortValueLines", "short BIT and BIN values go on a line of their own"},
      {"ConvertSetElements", "set values are shown by their element names"},
      {"BackgroundLogging", "log in the background"},
      {"ColTurnsTrace", "'COL' from the host turns trace decoding on"},
      {"ColTurnsMiniTrace", "':COL' from the host turns MINI trace decoding on"},
      {"IEAttr", "look of information elements"},
      {"DSS1MsgAttr", "look of DSS1 messages"},
      {"SndRcvAttr", "look of SND/RCV lines"},
      {"MbidAttr", "look of MBID lines"},
      {"VMIAttr", "look of VMI lines"},
      {"DataAttr", "look of data lines"},
      {"ErrorAttr", "look of decoding errors"},
      {"MsgAttr", "look of message headers"},
      {"IndicatorAttr", "look of indicators"},
      {"TriggerType", "trace trigger type"},
      {"TriggerEntries", "trace trigger entries: message identity, byte offset, mask, value"},
      {"TriggerAction", "what a trigger does (larger values do nothing)"},
      {"CharDelay", "sending a file: wait between characters"},
      {"LineDelay", "sending a file: wait between lines"},
      {"WaitChar", "sending a file: the character waited for (code)"},
      {"EOFCtrlZ", "sending a file: Ctrl-Z at its end"},
      {"EOL", "sending a file: what ends a line"},
      {"LineDly", "sending a file: tenths of a second after a line"},
      {"CtrlZEnd", "receiving a file: Ctrl-Z ends it"},
      {"SuppressCtrlChar", "receiving a file: control characters are dropped"},
      {"KeyMapFileName", "key map file"},
      {"ForegroundColor", "text colour"},
      {"BackgroundColor", "background colour"},
      {"BlinkColor", "colour of blinking text"},
      {"MarkForegroundColor", "text colour of marked text"},
      {"MarkBackgroundColor", "background colour of marked text"},
      {"BookmarkColor1", "first colour of a new bookmark"},
      {"BookmarkColor2", "second colour of a new bookmark"},
      {"FontStyle", "screen font style"},
      {"FontName", "screen font"},
      {"FontSize", "screen font size in points"},
      {"DisplayModeName", "last mode chosen for Display Mode"},
      {"SoftkeyEcho", "soft keys wait for the echo"},
      {"MaxEchoDelay", "longest wait for a soft key's echo"},
      {"EscFlush", "Escape discards pending input"},
      {"PadsRetries", "PADS file transfer: retries"},
      {"PadsDelay", "PADS file transfer: delay"},
      {"ImprovedProtocol", "PADS file transfer: the improved protocol"},
      {"QuorixType", "QUORIX type; selects the trace header layout"},
      {"DialString", "modem: dial prefix"},
      {"DialNumber", "modem: number dialled"},
      {"HangUpString", "modem: hang-up string"},
      {"InitModemString", "modem: initialisation string"},
      {"OrnetDirectoryName", "directory of KASP.MSG, KASP.VMI and KASP.BID"},
      {"VMIFileName", "VMI file"},
      {"BIDFileName", "BID file"},
      {"HostName", "network host; HOST:PORT overrides the port number"},
      {"Port", "network service; telnet is port 23 with Telnet handling"},
      {"FTPUserName", "FTP user"},
      {"FTPPassword", "FTP password"},
      {"FTPHostName", "FTP host"},
      {"FTPAccount", "FTP account"},
      {"RemotePath", "FTP remote path"},
      {"LocalPath", "FTP local path"},
      {"StatusBarVisible", "status bar shown"},
      {"ToolBarVisible", "tool bar shown"},
      {"QuorixToolBarVisible", "QUORIX bar shown"},
      {"ModemToolBarVisible", "modem bar shown"},
      {"SoftKeyBarVisible", "soft-key bar shown"},
      {"ShiftSoftKeyBarVisible", "Shift soft-key bar shown"},
      {"CntrlSoftKeyBarVisible", "Ctrl soft-key bar shown"},
      {"WindowLeft", "window position, pixels"},
      {"WindowTop", "window position, pixels"},
      {"WindowHeight", "window size, pixels"},
      {"WindowWidth", "window size, pixels"},
      {"SoftKeys", "F1..F12 (index 0..11), in soft-key notation"},
      {"ShiftSoftKeys", "Shift-F1..F12"},
      {"CntrlSoftKeys", "Ctrl-F1..F12"},
      {"SoftKeyDelay", "delay between soft-key characters"},
      {"PrintRange", "print all or the selection"},
      {"PrintToFile", "print to a file"},
      {"LazyScroll", "scroll lazily"},
      {"ETXAck", "answer ETX with ACK"},
      {"EBCDICMapFileName", "EBCDIC map file (TN3270)"},
      {"AnswerBack", "answer-back text, in soft-key notation"},
      {"BookmarkVisible", "bookmark window shown"},
  };
  for (const auto& [field, meaning] : kMeanings) {
    if (name == field) return meaning;
  }
  return "";
}

std::string ValuesText(const TField& f) {
  switch (f.Kind) {
    case TKind::U8:
      if (NamesOf(f)) {
        std::string text = NameList(f) + " (or " + std::to_string(f.Min) + ".." + std::to_string(f.Max) + ")";
        if (f.PortValues) text += "; none (255) for a port typed outside the list";
        return text;
      }
      if (f.Min == 0 && f.Max == 1) return "0 off, 1 on";
      [[fallthrough]];
    case TKind::U16:
    case TKind::I32: return std::to_string(f.Min) + ".." + std::to_string(f.Max);
    case TKind::Color: return "colour 0xBBGGRR";
    case TKind::Text: return "text of up to " + std::to_string(f.Capacity) + " characters";
    case TKind::Attr: return "fg:COLOUR bg:COLOUR style:STYLE size:POINTS";
    case TKind::Trigger: return "identity:N offset:N mask:0xHHHH value:0xHHHH";
    case TKind::TabStops: return "column list, e.g. 8,16,24";
  }
  return {};
}

std::string FieldNameText(const TField& f) {
  if (f.Kind == TKind::TabStops) return std::string("`") + f.Name + "`, `" + f.Name + "[i]`";
  if (f.Count > 1) return std::string("`") + f.Name + "[0]`..`" + f.Name + "[" + std::to_string(f.Count - 1) + "]`";
  return std::string("`") + f.Name + "`";
}

// A table cell: a pipe would end the cell.
std::string Cell(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '|') out += "\\|";
    else out += c;
  }
  return out;
}
}  // namespace

std::string SettingsReferenceText() {
  TSetupRecord defaults;
  defaults.ApplyDefaults();
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&defaults);
  std::string out =
      "# Settings fields\n\n"
      "<!-- Made by the build from the field table of `qel settings`; a test checks that it is current. -->\n\n"
      "A settings file (`.mse`) is one record of 14044 bytes. `qel settings` reads and writes it by the\n"
      "field names below (names in any case):\n\n"
      "```\n"
      "qel settings --defaults --set Emulation=vt100 --set BaudRate=9600 -o site.mse\n"
      "qel settings site.mse --get Emulation --get Port\n"
      "qel settings site.mse --set Parity=even --in-place\n"
      "```\n\n"
      "Fields with names take the name or the number (the code stored in the file); they are printed by\n"
      "name. `BaudRate` names are the rates, so `BaudRate=9600` is the rate and `BaudRate=6` its code.\n"
      "Strings show bytes outside 32..126 as `\\xHH`. Colours are `0xBBGGRR` (0x0000FF is red).\n"
      "A style is `plain` or names joined by `+`: `bold` (bit 0), `italic` (bit 1), `underline` (bit 2),\n"
      "`strikeout` (bit 3), or a number 0..255. Attribute blocks and trigger entries are set whole\n"
      "(`IEAttr=fg:0xFF0000 style:bold`, only the keys given change) or by part (`IEAttr.Style=italic`,\n"
      "`TriggerEntries[0].Mask=0x00F0`). `TabStops[8]=1` sets one tab stop.\n\n"
      "| Field | Values | Default | Meaning |\n|---|---|---|---|\n";
  for (const TField& f : Fields()) {
    const std::uint8_t* p = bytes + f.Offset;
    std::string value = FieldText(f, p);
    if (f.Count > 1 && f.Kind != TKind::TabStops) {
      bool same = true;
      for (int i = 1; i < f.Count; ++i) same = same && FieldText(f, p + i * ElementSize(f)) == value;
      if (same) value = "each " + (value.empty() ? std::string("empty") : "`" + value + "`");
    } else {
      value = value.empty() ? "empty" : "`" + value + "`";
    }
    out += "| " + FieldNameText(f) + " | " + Cell(ValuesText(f)) + " | " + Cell(value) + " | " +
           Cell(MeaningOf(f.Name)) + " |\n";
  }
  out +=
      "\n## Fields after the record\n\n"
      "These fields are not part of the 14044-byte record. A settings file keeps them in a trailer after\n"
      "the record: the four bytes `QELX`, the length of what follows (u32, little-endian), then one entry\n"
      "per field that differs from its default: its tag (u16), the length of its value (u16) and the\n"
      "value (numbers little-endian, texts as bytes). A program that reads only the record takes the\n"
      "first 14044 bytes and never sees the trailer. A file whose fields below are all at their defaults\n"
      "has no trailer, so a file made without them opens and is saved again byte for byte; entries with\n"
      "tags this version does not know are kept as they are. Opening a file without a trailer sets these\n"
      "fields to their defaults, as opening a file sets every field of the record.\n\n"
      "| Field | Values | Default | Meaning |\n|---|---|---|---|\n";
  for (const TConnectionFieldRow& row : ConnectionFieldReference()) {
    out += "| `" + row.Name + "` | " + Cell(row.Values) + " | " + Cell(row.Default) + " | " + Cell(row.Meaning) +
           " |\n";
  }
  return out;
}
