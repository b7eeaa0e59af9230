// The parsed form of a mode source (see docs/mode-language.md).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct TSourcePos {
  int Line = 0;
  int Column = 0;
};

// A number or a name where either may stand (bounds, labels, WITH values).
struct TValueRef {
  TSourcePos Pos;
  bool IsName = false;
  bool IsString = false;
  std::int64_t Number = 0;
  std::string Name;  // a name (upper-cased unless quoted) or a string's bytes
};

// WITH (field = value): sets a field of the record made for a declaration.
struct TOverride {
  TSourcePos Pos;
  std::string Field;  // lower-cased
  TValueRef Value;
};

struct TSetElementDecl {
  TSourcePos Pos;
  std::string Name;  // empty: an unnamed value ("*")
  std::optional<std::int64_t> Value;
  bool Flagged = false;
};

struct TConstantDecl {
  TSourcePos Pos;
  std::string Name;
  std::int64_t Value = 0;
};

struct TModeNode;
struct TFieldDecl;

enum class TModeForm {
  Elementary,     // BOOL INT CHAR PTR REF EXTENTIONBIT BIT(n) BIN(n)
  Set,            // SET (...)
  Range,          // RANGE (lo:hi)
  SetRange,       // setname (lo:hi)
  ConstantRange,  // RANGE (lo:hi) CONSTANTS (...)
  Structure,      // STRUCT (...)
  Array,          // ARRAY (...) element
  Named,          // a reference to a named mode
};

enum class TPacking : std::uint8_t { None, Pack, RevPack };

// One array dimension as written.
struct TIndexDecl {
  TSourcePos Pos;
  std::string ModeName;     // empty: plain integer bounds
  bool HasBounds = false;   // lo:hi given (after a set name: a subrange)
  TValueRef Lower, Upper;
};

struct TCaseLabel {
  TSourcePos Pos;
  TValueRef Value;
};

struct TAlternative {
  TSourcePos Pos;
  bool IsElse = false;
  std::vector<TCaseLabel> Labels;
  std::vector<TFieldDecl> Fields;
};

struct TCaseDecl {
  TSourcePos Pos;
  std::string Tag;
  TSourcePos TagPos;
  std::vector<TAlternative> Alternatives;
};

enum class TParameterForm { None, VarPar, OptPar, VarLength };

struct TFieldDecl {
  TSourcePos Pos;
  std::string Name;
  std::shared_ptr<TModeNode> Mode;
  std::optional<std::pair<std::int64_t, std::int64_t>> Position;  // POS (byte, bit)
  TParameterForm Parameter = TParameterForm::None;
  std::string LengthField;  // VARLENGTH (name +/- n)
  TSourcePos LengthPos;
  std::int64_t Adjustment = 0;
  std::vector<TOverride> Overrides;
};

struct TMemberDecl {
  std::optional<TFieldDecl> Field;
  std::shared_ptr<TCaseDecl> Case;
};

struct TModeNode {
  TSourcePos Pos;
  TModeForm Form = TModeForm::Elementary;
  TPacking Packing = TPacking::None;
  std::uint8_t Kind = 0;        // Elementary: the kind code
  std::uint32_t Bits = 0;       // BIT(n), BIN(n)
  std::string RefName;          // Named: the mode; REF: its target (optional); SetRange: the set
  TSourcePos RefPos;
  std::vector<TSetElementDecl> Elements;
  TValueRef Lower, Upper;
  std::vector<TConstantDecl> Constants;
  std::vector<TMemberDecl> Members;
  std::vector<TIndexDecl> Dimensions;
  std::shared_ptr<TModeNode> Element;
  std::vector<TOverride> Overrides;  // of a NEWMODE: its header (and a set's block)
};

// Where a message or user buffer entry points.
struct TIndexTarget {
  TSourcePos Pos;
  bool IsName = false;
  std::string Name;
  std::int64_t Value = -1;  // the raw entry when not a name
};

enum class TStatementKind { Version, NewMode, Syn, Message, UserBuffer, Mbid, Dss1, Kasp };

struct TStatement {
  TStatementKind Kind = TStatementKind::Version;
  TSourcePos Pos;
  std::string Name;       // NEWMODE / SYN name; KASP file ("MSG", "VMI", "BID")
  TSourcePos NamePos;
  std::shared_ptr<TModeNode> Mode;  // NEWMODE
  std::string Text;       // VERSION text; KASP name; SYN mode name
  std::int64_t Number = 0;  // MESSAGE / USERBUFFER / MBID / KASP number; SYN value; DSS1 record
  TIndexTarget Target;    // MESSAGE / USERBUFFER / MBID / DSS1
  bool RawMbid = false;   // MBID n = (kind, index)
  std::int64_t RawKind = 0;
  std::vector<TOverride> Overrides;  // DSS1
};
