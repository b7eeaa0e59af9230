#include "trace/compiler_parser.h"

#include <algorithm>
#include <iterator>
#include <cstdint>
#include <limits>

#include "core/text.h"
#include "trace/linetext.h"
#include "trace/modefile_records.h"

namespace {

// --- Lexer ---

enum class TTokenKind { Identifier, Number, String, Punct, End };

struct TToken {
  TTokenKind Kind = TTokenKind::End;
  TSourcePos Pos;
  TSourcePos End;       // just after its last character
  std::string Text;     // as written (an identifier's upper-cased form is Word)
  std::string Word;     // identifiers: upper-cased; strings: the bytes
  std::int64_t Number = 0;
  char Punct = 0;
};

constexpr std::int64_t kMaxLiteral = 0xFFFFFFFFll;
constexpr std::size_t kMaxTokenLength = 255;

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
class TLexer {
 public:
  explicit TLexer(std::string_view text) : Text(text) {}

  std::vector<TToken> Run() {
    std::vector<TToken> tokens;
    for (;;) {
      SkipBlanksAndComments();
      TToken t;
      t.Pos = Here();
      if (At >= Text.size()) {
        tokens.push_back(t);
        return tokens;
      }
      const char c = Text[At];
      if ((c == 'H' || c == 'h' || c == 'B' || c == 'b' || c == 'D' || c == 'd') && Peek(1) == '\'') {
        LexPrefixedNumber(t);
      } else if (IsLetter(c)) {
        LexIdentifier(t);
      } else if (IsDigit(c)) {
        LexNumber(t);
      } else if (c == '"') {
        LexString(t);
      } else if (std::string_view("(),;:=+-*.").find(c) != std::string_view::npos) {
        t.Kind = TTokenKind::Punct;
        t.Punct = c;
        t.Text = std::string(1, c);
        Advance();
      } else {
        throw ECompileError(t.Pos, "unexpected character '" + Printable(c) + "'");
      }
      CheckLength(t);
      t.End = Here();
      tokens.push_back(std::move(t));
    }
  }

 private:
  static std::string Printable(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 32 && u < 127) return std::string(1, c);
    static const char kHex[] = "0123456789ABCDEF";
    return std::string("\\x") + kHex[u >> 4] + kHex[u & 15];
  }

  char Peek(std::size_t ahead) const { return At + ahead < Text.size() ? Text[At + ahead] : '\0'; }
  TSourcePos Here() const { return {Line, Column}; }
  void Advance() {
    if (Text[At] == '\n') {
      ++Line;
      Column = 1;
    } else {
      ++Column;
    }
    ++At;
  }

  void SkipBlanksAndComments() {
    while (At < Text.size()) {
      const char c = Text[At];
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
        Advance();
      } else if (c == '-' && Peek(1) == '-') {
        while (At < Text.size() && Text[At] != '\n') Advance();
      } else if (c == '/' && Peek(1) == '*') {
        const TSourcePos start = Here();
        Advance();
        Advance();
        while (At < Text.size() && !(Text[At] == '*' && Peek(1) == '/')) Advance();
        if (At >= Text.size()) throw ECompileError(start, "comment is not closed");
        Advance();
        Advance();
      } else {
        return;
      }
    }
  }

  // No name the files hold comes near this; a longer word would only be
  // quoted back whole in an error line.
  static void CheckLength(const TToken& t) {
    if (t.Text.size() <= kMaxTokenLength) return;
    throw ECompileError(t.Pos, "a word or string has at most " + std::to_string(kMaxTokenLength) + " characters");
  }

  void LexIdentifier(TToken& t) {
    t.Kind = TTokenKind::Identifier;
    while (At < Text.size() && (IsLetter(Text[At]) || IsDigit(Text[At]))) {
      t.Text.push_back(Text[At]);
      Advance();
    }
    for (char c : t.Text) t.Word.push_back(Upper(c));
  }

  void LexNumber(TToken& t) {
    t.Kind = TTokenKind::Number;
    while (At < Text.size() && (HexDigitValue(Text[At]) >= 0 || Upper(Text[At]) == 'H')) {
      t.Text.push_back(Text[At]);
      Advance();
      if (Upper(t.Text.back()) == 'H') break;
    }
    CheckLength(t);
    const bool hex = Upper(t.Text.back()) == 'H';
    const std::string digits = hex ? t.Text.substr(0, t.Text.size() - 1) : t.Text;
    std::int64_t value = 0;
    for (char c : digits) {
      const int d = HexDigitValue(c);
      if (!hex && !IsDigit(c)) throw ECompileError(t.Pos, "'" + t.Text + "' is not a number (hexadecimal needs a trailing H)");
      value = value * (hex ? 16 : 10) + d;
      if (value > kMaxLiteral) throw ECompileError(t.Pos, "number '" + t.Text + "' is too large");
    }
    if (At < Text.size() && (IsLetter(Text[At]) || IsDigit(Text[At])))
      throw ECompileError(t.Pos, "'" + t.Text + Text[At] + "' is not a number");
    t.Number = value;
  }

  // H'1F', B'0101', D'12' as in CHILL.
  void LexPrefixedNumber(TToken& t) {
    t.Kind = TTokenKind::Number;
    const char prefix = Upper(Text[At]);
    const int base = prefix == 'H' ? 16 : prefix == 'B' ? 2 : 10;
    t.Text.push_back(Text[At]);
    Advance();
    t.Text.push_back(Text[At]);
    Advance();
    std::int64_t value = 0;
    bool any = false;
    while (At < Text.size() && Text[At] != '\'') {
      const char c = Text[At];
      const int d = HexDigitValue(c);
      if (c != '_') {
        if (d < 0 || d >= base) throw ECompileError(Here(), "'" + Printable(c) + "' is not a digit of this number");
        value = value * base + d;
        any = true;
        if (value > kMaxLiteral) throw ECompileError(t.Pos, "number is too large");
      }
      t.Text.push_back(c);
      Advance();
    }
    if (At >= Text.size()) throw ECompileError(t.Pos, "number is not closed with '");
    if (!any) throw ECompileError(t.Pos, "number has no digits");
    t.Text.push_back('\'');
    Advance();
    t.Number = value;
  }

  void LexString(TToken& t) {
    t.Kind = TTokenKind::String;
    Advance();
    for (;;) {
      if (At >= Text.size() || Text[At] == '\n') throw ECompileError(t.Pos, "string is not closed");
      char c = Text[At];
      if (c == '"') {
        Advance();
        break;
      }
      if (c == '\\') {
        const TSourcePos escapePos = Here();
        Advance();
        if (At >= Text.size()) throw ECompileError(t.Pos, "string is not closed");
        const char e = Text[At];
        Advance();
        if (e == 'x' || e == 'X') {
          const int hi = At < Text.size() ? HexDigitValue(Text[At]) : -1;
          const int lo = At + 1 < Text.size() ? HexDigitValue(Text[At + 1]) : -1;
          if (hi < 0 || lo < 0) throw ECompileError(escapePos, "\\x needs two hexadecimal digits");
          Advance();
          Advance();
          t.Word.push_back(static_cast<char>(hi * 16 + lo));
        } else if (e == '"' || e == '\\') {
          t.Word.push_back(e);
        } else {
          throw ECompileError(escapePos, "unknown escape '\\" + Printable(e) + "'");
        }
        continue;
      }
      t.Word.push_back(c);
      Advance();
    }
    t.Text = t.Word;
  }

  std::string_view Text;
  std::size_t At = 0;
  int Line = 1;
  int Column = 1;
};

// --- Parser ---

const char* const kReserved[] = {
    "VERSION", "NEWMODE", "SYNMODE", "SYN", "MESSAGE", "USERBUFFER", "MBID", "DSS1", "KASP",
    "SET", "RANGE", "CONSTANTS", "STRUCT", "ARRAY", "CASE", "OF", "ELSE", "ESAC", "PACK",
    "REVPACK", "POS", "VARPAR", "OPTPAR", "VARLENGTH", "WITH", "FLAGGED", "BOOL", "INT",
    "CHAR", "PTR", "REF", "EXTENTIONBIT", "BIT", "BIN", "HEXDUMP", "MBIDLIST", "SPECIAL",
    "MESSAGETYPES", "IECONTENTS", "CODESET"};

bool IsReserved(const std::string& word) {
  return std::any_of(std::begin(kReserved), std::end(kReserved), [&](const char* k) { return word == k; });
}

// Letters to change, insert, delete or swap (neighbours) to turn a into b.
std::size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

class TParser {
 public:
  explicit TParser(std::vector<TToken> tokens) : Tokens(std::move(tokens)) {}

  std::vector<TStatement> Run() {
    std::vector<TStatement> statements;
    while (Current().Kind != TTokenKind::End) statements.push_back(Statement());
    return statements;
  }

 private:
  const TToken& Current() const { return Tokens[At]; }
  const TToken& Next() const { return Tokens[std::min(At + 1, Tokens.size() - 1)]; }
  const TToken& After(std::size_t n) const { return Tokens[std::min(At + n, Tokens.size() - 1)]; }
  const TToken& Previous() const { return Tokens[At > 0 ? At - 1 : 0]; }
  TToken Take() {
    TToken t = Tokens[At];
    if (At + 1 < Tokens.size()) ++At;
    return t;
  }

  static std::string Describe(const TToken& t) {
    switch (t.Kind) {
      case TTokenKind::End: return "the end of the source";
      case TTokenKind::String: return "a string";
      default: return "'" + t.Text + "'";
    }
  }

  [[noreturn]] void Expected(const std::string& what) const {
    const TToken& t = Current();
    if (t.Kind == TTokenKind::Identifier && !IsReserved(t.Word)) {
      const std::string keyword = NearKeyword(t.Word);
      if (!keyword.empty()) throw ECompileError(t.Pos, t.Text + " is not a keyword: did you mean " + keyword + "?");
    }
    throw ECompileError(t.Pos, "expected " + what + ", found " + Describe(t));
  }

  bool IsKeyword(const char* word) const {
    return Current().Kind == TTokenKind::Identifier && Current().Word == word;
  }
  bool IsPunct(char c) const { return Current().Kind == TTokenKind::Punct && Current().Punct == c; }

  bool AcceptKeyword(const char* word) {
    if (!IsKeyword(word)) return false;
    Take();
    return true;
  }
  bool AcceptPunct(char c) {
    if (!IsPunct(c)) return false;
    Take();
    return true;
  }
  void ExpectKeyword(const char* word) {
    if (!AcceptKeyword(word)) Expected(word);
  }
  void ExpectPunct(char c) {
    if (!AcceptPunct(c)) Expected(std::string("'") + c + "'");
  }

  // A name: an identifier that is not a reserved word (upper-cased), or a
  // string (kept as written).
  bool AtName() const {
    return (Current().Kind == TTokenKind::Identifier && !IsReserved(Current().Word)) ||
           Current().Kind == TTokenKind::String;
  }
  std::string Name(const std::string& what, TSourcePos* pos = nullptr) {
    if (Current().Kind == TTokenKind::Identifier && IsReserved(Current().Word)) {
      throw ECompileError(Current().Pos, Current().Word + " is a reserved word; write it in double quotes (\"" +
                                             Current().Text + "\") to use it as " + what);
    }
    if (!AtName()) Expected(what);
    const TToken t = Take();
    if (pos) *pos = t.Pos;
    if (t.Kind == TTokenKind::String) {
      if (t.Word.empty()) throw ECompileError(t.Pos, "a name cannot be empty");
      // The name files pad with spaces and set names are trimmed before a
      // search: a name with blanks at either end could not be found.
      if (static_cast<unsigned char>(t.Word.front()) <= ' ' || static_cast<unsigned char>(t.Word.back()) <= ' ')
        throw ECompileError(t.Pos, "a name cannot begin or end with a blank");
    }
    return t.Word;
  }

  std::int64_t Integer(const std::string& what, TSourcePos* pos = nullptr) {
    if (pos) *pos = Current().Pos;
    const bool negative = AcceptPunct('-');
    if (Current().Kind != TTokenKind::Number) Expected(what);
    const std::int64_t value = Take().Number;
    return negative ? -value : value;
  }

  // An integer or a name.
  TValueRef Value(const std::string& what) {
    TValueRef v;
    v.Pos = Current().Pos;
    if (Current().Kind == TTokenKind::String) {
      v.IsString = true;
      v.IsName = true;
      v.Name = Take().Word;
      return v;
    }
    if (AtName()) {
      v.IsName = true;
      v.Name = Take().Word;
      return v;
    }
    v.Number = Integer(what);
    return v;
  }

  // A missing ';' is reported where it belongs: after the statement's last
  // word, not at the next line's first.
  void ExpectEnd() {
    if (AcceptPunct(';')) return;
    if (At > 0 && Current().Kind != TTokenKind::End && Current().Pos.Line > Previous().End.Line) {
      throw ECompileError(Previous().End, "missing ';' at the end of the line");
    }
    throw ECompileError(At > 0 ? Previous().End : Current().Pos, "expected ';', found " + Describe(Current()));
  }

  std::vector<TOverride> With() {
    std::vector<TOverride> overrides;
    ExpectPunct('(');
    do {
      TOverride o;
      o.Pos = Current().Pos;
      if (Current().Kind != TTokenKind::Identifier) Expected("a record field name");
      for (char c : Take().Word) o.Field.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
      ExpectPunct('=');
      o.Value = Value("a number, name or string");
      overrides.push_back(std::move(o));
    } while (AcceptPunct(','));
    ExpectPunct(')');
    return overrides;
  }

  TStatement Statement() {
    TStatement s;
    s.Pos = Current().Pos;
    if (AcceptKeyword("VERSION")) {
      s.Kind = TStatementKind::Version;
      if (Current().Kind == TTokenKind::String) {
        s.Text = Take().Word;
      } else {
        while (!IsPunct(';') && Current().Kind != TTokenKind::End) {
          if (Current().Kind == TTokenKind::String) Expected("';'");
          s.Text += Take().Text;
        }
      }
      if (s.Text.empty()) Expected("a version number");
      ExpectEnd();
      return s;
    }
    if (AcceptKeyword("NEWMODE") || AcceptKeyword("SYNMODE")) {
      s.Kind = TStatementKind::NewMode;
      s.Name = Name("a mode name", &s.NamePos);
      ExpectPunct('=');
      s.Mode = Mode();
      if (AcceptKeyword("WITH")) s.Mode->Overrides = With();
      ExpectEnd();
      return s;
    }
    if (AcceptKeyword("SYN")) {
      s.Kind = TStatementKind::Syn;
      s.Name = Name("a constant name", &s.NamePos);
      if (!IsPunct('=')) {
        if (Current().Kind != TTokenKind::Identifier && Current().Kind != TTokenKind::String)
          Expected("a mode name or '='");
        s.Text = Take().Word;
      }
      ExpectPunct('=');
      s.Number = Integer("a value");
      ExpectEnd();
      return s;
    }
    if (IsKeyword("MESSAGE") || IsKeyword("USERBUFFER")) {
      s.Kind = Take().Word == "MESSAGE" ? TStatementKind::Message : TStatementKind::UserBuffer;
      s.Number = Integer("a message identity");
      ExpectPunct('=');
      s.Target = IndexTarget();
      ExpectEnd();
      return s;
    }
    if (AcceptKeyword("MBID")) {
      s.Kind = TStatementKind::Mbid;
      s.Number = Integer("an MBID number");
      ExpectPunct('=');
      if (AcceptPunct('(')) {
        s.RawMbid = true;
        s.RawKind = Integer("the kind byte", &s.Target.Pos);
        ExpectPunct(',');
        s.Target.Value = Integer("the index");
        ExpectPunct(')');
      } else {
        s.Target.Pos = Current().Pos;
        if (AcceptKeyword("HEXDUMP")) {
          s.Target.Value = kIndexHexDump;
        } else {
          s.Target.IsName = true;
          s.Target.Name = Name("a mode name, HEXDUMP or (kind, index)");
        }
      }
      ExpectEnd();
      return s;
    }
    if (AcceptKeyword("DSS1")) {
      s.Kind = TStatementKind::Dss1;
      if (AcceptKeyword("MESSAGETYPES")) {
        s.Number = kDss1MessageTypesRecord;
      } else if (AcceptKeyword("IECONTENTS")) {
        s.Number = kDss1IeContentsRecord;
      } else if (AcceptKeyword("CODESET")) {
        TSourcePos pos;
        const std::int64_t codeset = Integer("a codeset number 0-7", &pos);
        if (codeset < 0 || codeset > 7) throw ECompileError(pos, "a codeset is 0 to 7");
        s.Number = Dss1CodesetRecord(static_cast<int>(codeset));
      } else {
        Expected("MESSAGETYPES, IECONTENTS or CODESET");
      }
      if (AcceptPunct('=')) {
        s.Target.IsName = true;
        s.Target.Name = Name("a mode name", &s.Target.Pos);
      }
      if (AcceptKeyword("WITH")) s.Overrides = With();
      ExpectEnd();
      return s;
    }
    if (AcceptKeyword("KASP")) {
      s.Kind = TStatementKind::Kasp;
      if (Current().Kind != TTokenKind::Identifier ||
          (Current().Word != "MSG" && Current().Word != "VMI" && Current().Word != "BID"))
        Expected("MSG, VMI or BID");
      s.Name = Take().Word;
      s.Number = Integer("a number");
      ExpectPunct('=');
      if (Current().Kind != TTokenKind::String) Expected("a name in double quotes");
      s.Text = Take().Word;
      ExpectEnd();
      return s;
    }
    Expected("a statement (VERSION, NEWMODE, SYN, MESSAGE, USERBUFFER, MBID, DSS1 or KASP)");
  }

  TIndexTarget IndexTarget() {
    TIndexTarget t;
    t.Pos = Current().Pos;
    if (AcceptKeyword("HEXDUMP")) {
      t.Value = kIndexHexDump;
    } else if (AcceptKeyword("MBIDLIST")) {
      t.Value = kIndexMbidList;
    } else if (AcceptKeyword("DSS1")) {
      t.Value = kIndexDss1;
    } else if (AcceptKeyword("SPECIAL")) {
      TSourcePos pos;
      const std::int64_t n = Integer("a special decoder 3, 4 or 5", &pos);
      if (n < 3 || n > 5) throw ECompileError(pos, "SPECIAL is 3, 4 or 5 (MBIDLIST and DSS1 are 1 and 2)");
      t.Value = -(n + 1);
    } else if (AtName()) {
      t.IsName = true;
      t.Name = Name("a mode name");
    } else {
      t.Value = Integer("a mode name, HEXDUMP, MBIDLIST, DSS1, SPECIAL n or a number");
    }
    return t;
  }

  // [PACK | REVPACK] base mode
  std::shared_ptr<TModeNode> Mode() {
    auto node = std::make_shared<TModeNode>();
    node->Pos = Current().Pos;
    if (Depth >= kMaxNesting) throw ECompileError(node->Pos, "modes are nested too deeply");
    ++Depth;
    struct TLeave {
      int& D;
      ~TLeave() { --D; }
    } leave{Depth};
    if (AcceptKeyword("PACK")) node->Packing = TPacking::Pack;
    else if (AcceptKeyword("REVPACK")) node->Packing = TPacking::RevPack;
    BaseMode(*node);
    return node;
  }

  void BaseMode(TModeNode& node) {
    struct TElementary {
      const char* Word;
      TModeKind Kind;
    };
    static const TElementary kElementary[] = {{"BOOL", mkBool}, {"INT", mkInt}, {"CHAR", mkChar},
                                              {"PTR", mkPtr}, {"EXTENTIONBIT", mkExtentionBit}};
    for (const TElementary& e : kElementary) {
      if (AcceptKeyword(e.Word)) {
        node.Form = TModeForm::Elementary;
        node.Kind = e.Kind;
        return;
      }
    }
    if (AcceptKeyword("REF")) {
      node.Form = TModeForm::Elementary;
      node.Kind = mkRef;
      if (AtName()) node.RefName = Name("a mode name", &node.RefPos);
      return;
    }
    if (IsKeyword("BIT") || IsKeyword("BIN")) {
      node.Form = TModeForm::Elementary;
      node.Kind = Take().Word == "BIT" ? mkBit : mkBin;
      ExpectPunct('(');
      TSourcePos pos;
      const std::int64_t bits = Integer("a size in bits", &pos);
      if (bits < 1) throw ECompileError(pos, "a size is 1 or more bits");
      // Nothing wider than a whole message buffer (4096 bytes) can be decoded.
      if (bits > 32768) throw ECompileError(pos, "a size is at most 32768 bits (a message holds 4096 bytes)");
      node.Bits = static_cast<std::uint32_t>(bits);
      ExpectPunct(')');
      return;
    }
    if (AcceptKeyword("SET")) {
      node.Form = TModeForm::Set;
      ExpectPunct('(');
      do {
        TSetElementDecl e;
        e.Pos = Current().Pos;
        if (!AcceptPunct('*')) e.Name = Name("an element name or *");
        if (AcceptPunct('=')) e.Value = Integer("the element's value");
        if (AcceptKeyword("FLAGGED")) e.Flagged = true;
        node.Elements.push_back(std::move(e));
      } while (AcceptPunct(','));
      ExpectPunct(')');
      return;
    }
    if (AcceptKeyword("RANGE")) {
      node.Form = TModeForm::Range;
      Bounds(node.Lower, node.Upper);
      if (AcceptKeyword("CONSTANTS")) {
        node.Form = TModeForm::ConstantRange;
        ExpectPunct('(');
        do {
          TConstantDecl c;
          c.Name = Name("a constant name", &c.Pos);
          ExpectPunct('=');
          c.Value = Integer("the constant's value");
          node.Constants.push_back(std::move(c));
        } while (AcceptPunct(','));
        ExpectPunct(')');
      }
      return;
    }
    if (AcceptKeyword("STRUCT")) {
      node.Form = TModeForm::Structure;
      ExpectPunct('(');
      do {
        node.Members.push_back(Member());
      } while (AcceptPunct(','));
      ExpectPunct(')');
      return;
    }
    if (AcceptKeyword("ARRAY")) {
      node.Form = TModeForm::Array;
      ExpectPunct('(');
      do {
        node.Dimensions.push_back(Index());
      } while (AcceptPunct(','));
      ExpectPunct(')');
      node.Element = Mode();
      return;
    }
    if (AtName()) {
      // "STRCUT (a INT)" is no subrange "set (lo:hi)": the word after '('
      // is not followed by ':'. A word near a keyword is a misspelling.
      if (Current().Kind == TTokenKind::Identifier && Next().Kind == TTokenKind::Punct && Next().Punct == '(' &&
          !(After(3).Kind == TTokenKind::Punct && After(3).Punct == ':')) {
        const std::string keyword = NearKeyword(Current().Word);
        if (!keyword.empty()) {
          throw ECompileError(Current().Pos, Current().Text + " is not a keyword: did you mean " + keyword + "?");
        }
      }
      node.RefName = Name("a mode", &node.RefPos);
      if (IsPunct('(')) {
        node.Form = TModeForm::SetRange;
        Bounds(node.Lower, node.Upper);
        // "ARRY (0:3) INT": a mode after the bounds makes it an array.
        const bool modeFollows = AtName() || IsKeyword("INT") || IsKeyword("CHAR") || IsKeyword("BOOL") ||
                                 IsKeyword("STRUCT") || IsKeyword("ARRAY") || IsKeyword("BIT") || IsKeyword("BIN");
        if (modeFollows) {
          const std::string keyword = NearKeyword(node.RefName);
          if (!keyword.empty()) {
            throw ECompileError(node.RefPos, node.RefName + " is not a keyword: did you mean " + keyword + "?");
          }
        }
      } else {
        node.Form = TModeForm::Named;
      }
      return;
    }
    Expected("a mode");
  }

  void Bounds(TValueRef& lower, TValueRef& upper) {
    ExpectPunct('(');
    lower = Value("a lower bound");
    ExpectPunct(':');
    upper = Value("an upper bound");
    ExpectPunct(')');
  }

  TIndexDecl Index() {
    TIndexDecl d;
    d.Pos = Current().Pos;
    if (AtName()) {
      d.ModeName = Name("an index mode");
      if (IsPunct('(')) {
        d.HasBounds = true;
        Bounds(d.Lower, d.Upper);
      }
      return d;
    }
    d.HasBounds = true;
    d.Lower = Value("a lower index");
    ExpectPunct(':');
    d.Upper = Value("an upper index");
    return d;
  }

  TMemberDecl Member() {
    TMemberDecl m;
    if (IsKeyword("CASE")) m.Case = Case();
    else m.Field = Field();
    return m;
  }

  TFieldDecl Field() {
    TFieldDecl f;
    f.Name = Name("a component name", &f.Pos);
    f.Mode = Mode();
    bool hasPos = false, hasParameter = false, hasWith = false;
    for (;;) {
      const TSourcePos pos = Current().Pos;
      if (AcceptKeyword("POS")) {
        if (hasPos) throw ECompileError(pos, "POS is given twice");
        hasPos = true;
        ExpectPunct('(');
        TSourcePos bytePos, bitPos;
        const std::int64_t byte = Integer("a byte offset", &bytePos);
        ExpectPunct(',');
        const std::int64_t bit = Integer("a bit offset", &bitPos);
        ExpectPunct(')');
        if (byte < 0 || byte > 0xFFFF) throw ECompileError(bytePos, "a byte offset is 0 to 65535");
        if (bit < 0 || bit > 7) throw ECompileError(bitPos, "a bit offset is 0 to 7");
        f.Position = std::make_pair(byte, bit);
      } else if (IsKeyword("VARPAR") || IsKeyword("OPTPAR") || IsKeyword("VARLENGTH")) {
        if (hasParameter) throw ECompileError(pos, "only one of VARPAR, OPTPAR and VARLENGTH may be given");
        hasParameter = true;
        const std::string word = Take().Word;
        if (word == "VARPAR") {
          f.Parameter = TParameterForm::VarPar;
        } else if (word == "OPTPAR") {
          f.Parameter = TParameterForm::OptPar;
        } else {
          f.Parameter = TParameterForm::VarLength;
          ExpectPunct('(');
          f.LengthField = Name("the length component", &f.LengthPos);
          if (IsPunct('+') || IsPunct('-')) {
            const bool minus = Take().Punct == '-';
            TSourcePos adjustPos;
            const std::int64_t n = Integer("an adjustment", &adjustPos);
            f.Adjustment = minus ? -n : n;
            if (f.Adjustment < -32768 || f.Adjustment > 32767)
              throw ECompileError(adjustPos, "an adjustment is -32768 to 32767");
          }
          ExpectPunct(')');
        }
      } else if (AcceptKeyword("WITH")) {
        if (hasWith) throw ECompileError(pos, "WITH is given twice");
        hasWith = true;
        f.Overrides = With();
      } else {
        return f;
      }
    }
  }

  std::shared_ptr<TCaseDecl> Case() {
    auto c = std::make_shared<TCaseDecl>();
    c->Pos = Current().Pos;
    ExpectKeyword("CASE");
    c->Tag = Name("the tag component", &c->TagPos);
    ExpectKeyword("OF");
    bool sawElse = false;
    for (;;) {
      TAlternative a;
      a.Pos = Current().Pos;
      if (AcceptKeyword("ESAC")) break;
      if (sawElse) Expected("ESAC after the ELSE variant");
      if (AcceptKeyword("ELSE")) {
        a.IsElse = true;
        sawElse = true;
      } else {
        ExpectPunct('(');
        do {
          TCaseLabel l;
          l.Pos = Current().Pos;
          l.Value = Value("a label");
          a.Labels.push_back(std::move(l));
        } while (AcceptPunct(','));
        ExpectPunct(')');
        ExpectPunct(':');
      }
      if (IsKeyword("CASE")) throw ECompileError(Current().Pos, "a CASE cannot be nested in a variant");
      a.Fields.push_back(Field());
      while (AcceptPunct(',')) {
        if (IsKeyword("CASE")) throw ECompileError(Current().Pos, "a CASE cannot be nested in a variant");
        a.Fields.push_back(Field());
      }
      AcceptPunct(';');
      c->Alternatives.push_back(std::move(a));
    }
    if (c->Alternatives.empty()) throw ECompileError(c->Pos, "a CASE needs at least one variant");
    return c;
  }

  static constexpr int kMaxNesting = 100;

  std::vector<TToken> Tokens;
  std::size_t At = 0;
  int Depth = 0;
};
}  // namespace

std::string NearKeyword(const std::string& word) {
  if (word.size() < 3 || IsReserved(word)) return {};
  std::string upper;
  for (const char c : word) upper.push_back(Upper(c));
  std::string best;
  std::size_t bestDistance = 3;
  for (const char* k : kReserved) {
    const std::string keyword = k;
    if (keyword.size() < 3) continue;
    // One slip in a short word, two in a long one.
    const std::size_t allowed = keyword.size() <= 4 ? 1 : 2;
    const std::size_t d = EditDistance(upper, keyword);
    if (d <= allowed && d < bestDistance) {
      best = keyword;
      bestDistance = d;
    }
  }
  return best;
}

std::vector<TStatement> ParseModeSource(std::string_view source) {
  return TParser(TLexer(source).Run()).Run();
}
