#include "trace/compiler.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <functional>
#include <limits>
#include <set>
#include <vector>

#include "trace/compiler_ast.h"
#include "trace/compiler_parser.h"
#include "trace/hostnames.h"
#include "trace/messagebuffer.h"
#include "trace/modefile.h"
#include "trace/modefile_records.h"

std::string TCompileError::Text() const {
  return File + ":" + std::to_string(Line) + ":" + std::to_string(Column) + ": " + Message;
}

namespace {

constexpr std::int32_t kFirstModeRecord = kDss1ReservedRecords;
constexpr int kMaxReferenceDepth = 1000;
constexpr std::uint64_t kMaxBits = 0xFFFFFFFFull;

const char* const kDss1RecordNames[kDss1ReservedRecords] = {
    "DSS1_MESSAGE_TYPES", "DSS1_CODESET_0", "DSS1_IE_CONTENTS", "DSS1_CODESET_1", "DSS1_CODESET_2",
    "DSS1_CODESET_3",     "DSS1_CODESET_4", "DSS1_CODESET_5",   "DSS1_CODESET_6", "DSS1_CODESET_7"};

[[noreturn]] void Fail(TSourcePos pos, const std::string& message) { throw ECompileError(pos, message); }

// " (first at 3:9)": where the name a duplicate repeats was declared.
std::string FirstAt(TSourcePos pos) {
  return " (first at " + std::to_string(pos.Line) + ":" + std::to_string(pos.Column) + ")";
}

std::uint8_t HeaderKindOf(const TModeNode& node) {
  switch (node.Form) {
    case TModeForm::Elementary: return node.Kind;
    case TModeForm::Set: return mkSet;
    case TModeForm::Range:
    case TModeForm::SetRange: return mkRange;
    case TModeForm::ConstantRange: return mkConstantRange;
    case TModeForm::Structure: return mkStructure;
    case TModeForm::Array: return mkArray;
    case TModeForm::Named: return mkReference;
  }
  return mkUndefined;
}

std::uint32_t ElementaryBits(const TModeNode& node) {
  switch (node.Kind) {
    case mkBool:
    case mkExtentionBit: return 1;
    case mkChar: return 8;
    case mkInt: return 16;
    case mkPtr:
    case mkRef: return 32;
    default: return node.Bits;  // BIT(n), BIN(n)
  }
}

// Bits needed for values 0..highest, at least 1.
std::uint32_t BitsFor(std::uint64_t highest) {
  std::uint32_t bits = 0;
  while (highest != 0) {
    highest >>= 1;
    ++bits;
  }
  return bits == 0 ? 1 : bits;
}

// How a component, an array element or an alias points at a mode.
struct TReference {
  std::uint8_t Kind = 0;         // the component's / element's kind
  std::int32_t Index = -1;       // .mod index or .sem offset
  std::uint8_t SecondKind = 0;   // the kind of what is referenced
  std::string ModeName;
};

// One component record of a structure.
struct TComponentPlan {
  const TFieldDecl* Field = nullptr;
  const TCaseDecl* Case = nullptr;  // a variant's CASE
  const TAlternative* Alternative = nullptr;
  const TCaseLabel* Label = nullptr;  // null for ELSE
  std::uint64_t BitPosition = 0;
};

struct TNodeInfo {
  std::string Name;
  bool IsNamed = false;
  std::int32_t HeaderIndex = -1;
  std::uint16_t ModeNumber = 0;
  std::int32_t SemOffset = -1;
  std::int32_t ChainStart = -1;
  int SizeState = 0;  // 0 not yet, 1 being computed, 2 known
  std::uint32_t Size = 0;
  std::vector<TComponentPlan> Components;
  std::vector<TSetElement> SetEntries;           // by value
  std::vector<std::string> ElementNames;         // by value ("" unnamed)
  std::int64_t Lower = 0, Upper = 0;             // ranges, resolved
};

class TCompiler {
 public:
  TModeFileImage Run(const std::vector<TStatement>& statements) {
    DeclareModes(statements);
    AllocateRecords();
    BuildSets();
    BuildConstants(statements);
    for (TModeNode* node : AllNodes) SizeOf(*node, 0);
    EmitModes(statements);
    EmitIndexes(statements);
    EmitNameFiles();
    EmitVersion(statements);
    EmitKasp(statements);
    return std::move(Image);
  }

 private:
  // --- Declarations ---

  void DeclareModes(const std::vector<TStatement>& statements) {
    for (const TStatement& s : statements) {
      if (s.Kind != TStatementKind::NewMode) continue;
      CheckNameLength(s.Name, s.NamePos, "a mode name");
      if (Named.count(s.Name)) Fail(s.NamePos, "mode " + s.Name + " is declared twice" + FirstAt(NamePos[s.Name]));
      Named[s.Name] = s.Mode.get();
      NamePos[s.Name] = s.NamePos;
      NamedOrder.push_back(s.Mode.get());
      TNodeInfo& info = Info[s.Mode.get()];
      info.Name = s.Name;
      info.IsNamed = true;
    }
  }

  static void CheckNameLength(const std::string& name, TSourcePos pos, const char* what) {
    if (name.size() > kRecordNameLength)
      Fail(pos, std::string(what) + " has at most 40 characters: " + name);
  }

  TModeNode& ResolveNamed(const std::string& name, TSourcePos pos) {
    const auto it = Named.find(name);
    if (it == Named.end()) {
      const std::string keyword = NearKeyword(name);
      Fail(pos, "mode " + name + " is not declared" + (keyword.empty() ? "" : " (a misspelt " + keyword + "?)"));
    }
    return *it->second;
  }

  // Follows aliases (NEWMODE a = b) to the mode that is not one.
  TModeNode& Underlying(TModeNode& node) {
    TModeNode* current = &node;
    for (int depth = 0; current->Form == TModeForm::Named; ++depth) {
      if (depth > kMaxReferenceDepth) Fail(node.Pos, "mode " + Info[&node].Name + " is defined in terms of itself");
      current = &ResolveNamed(current->RefName, current->RefPos);
    }
    return *current;
  }

  static bool NeedsHeader(const TModeNode& node, bool named) {
    if (named) return true;
    switch (node.Form) {
      case TModeForm::Range:
      case TModeForm::SetRange:
      case TModeForm::ConstantRange:
      case TModeForm::Structure:
      case TModeForm::Array: return true;
      default: return false;
    }
  }

  // Record numbers: the ten DSS1 records, then each named mode's run followed
  // by the runs of the anonymous modes inside it.
  void AllocateRecords() {
    NextRecord = kFirstModeRecord;
    NextModeNumber = kFirstModeRecord;
    for (TModeNode* node : NamedOrder) Allocate(*node, Info[node].Name);
  }

  void Allocate(TModeNode& node, const std::string& name) {
    TNodeInfo& info = Info[&node];
    if (info.Name.empty()) info.Name = name.substr(0, kRecordNameLength);
    AllNodes.push_back(&node);
    if (NeedsHeader(node, info.IsNamed)) {
      if (NextRecord == std::numeric_limits<std::int32_t>::max()) Fail(node.Pos, "too many mode records");
      info.HeaderIndex = NextRecord++;
      info.ModeNumber = static_cast<std::uint16_t>(NextModeNumber++);
    }
    if (node.Form == TModeForm::Structure) {
      PlanComponents(node, info);
      NextRecord += static_cast<std::int32_t>(info.Components.size());
      for (const TComponentPlan& c : info.Components) {
        if (c.Label == nullptr || c.Label == &c.Alternative->Labels.front()) Allocate(*c.Field->Mode, c.Field->Name);
      }
    } else if (node.Form == TModeForm::Array) {
      Allocate(*node.Element, info.Name);
    }
  }

  void PlanComponents(const TModeNode& node, TNodeInfo& info) {
    std::map<std::string, TSourcePos> names;
    auto addName = [&](const TFieldDecl& f) {
      CheckNameLength(f.Name, f.Pos, "a component name");
      const auto [first, added] = names.emplace(f.Name, f.Pos);
      if (!added) Fail(f.Pos, "component " + f.Name + " is declared twice" + FirstAt(first->second));
    };
    for (const TMemberDecl& m : node.Members) {
      if (m.Field) {
        addName(*m.Field);
        info.Components.push_back({&*m.Field, nullptr, nullptr, nullptr, 0});
        continue;
      }
      for (const TAlternative& a : m.Case->Alternatives) {
        for (const TFieldDecl& f : a.Fields) addName(f);
        if (a.IsElse) {
          for (const TFieldDecl& f : a.Fields) info.Components.push_back({&f, m.Case.get(), &a, nullptr, 0});
          continue;
        }
        // A variant of several labels is stored once per label.
        for (const TCaseLabel& l : a.Labels) {
          for (const TFieldDecl& f : a.Fields) info.Components.push_back({&f, m.Case.get(), &a, &l, 0});
        }
      }
    }
    if (info.Components.size() > 65535) Fail(node.Pos, "a structure has at most 65535 components");
  }

  // --- Sets ---

  void BuildSets() {
    for (TModeNode* node : AllNodes) {
      if (node->Form != TModeForm::Set) continue;
      TNodeInfo& info = Info[node];
      std::map<std::string, TSourcePos> seen;
      for (const TSetElementDecl& e : node->Elements) {
        if (e.Value) {
          if (*e.Value < static_cast<std::int64_t>(info.SetEntries.size()))
            Fail(e.Pos, "element values must rise: " + std::to_string(*e.Value) + " is already taken");
          if (*e.Value > 65534) Fail(e.Pos, "an element value is 0 to 65534");
          while (static_cast<std::int64_t>(info.SetEntries.size()) < *e.Value) info.SetEntries.push_back({});
        }
        if (!e.Name.empty()) {
          if (e.Name.size() > 127) Fail(e.Pos, "an element name has at most 127 characters");
          const auto [first, added] = seen.emplace(e.Name, e.Pos);
          if (!added) Fail(e.Pos, "element " + e.Name + " is listed twice" + FirstAt(first->second));
        }
        if (info.SetEntries.size() >= 65535) Fail(e.Pos, "a set has at most 65535 elements");
        info.SetEntries.push_back({e.Name, e.Flagged});
      }
      std::string block = EncodeSetElementBlock(info.SetEntries);
      if (block.size() - TSetElementBlock::kCountsSize > 0xFFFF)
        Fail(node->Pos, "the element names of a set take more than 65535 bytes");
      for (const TOverride& o : node->Overrides) {
        if (o.Field != "count" && o.Field != "tablesize") continue;
        const std::uint16_t v = static_cast<std::uint16_t>(Number(o, -32768, 65535));
        WriteU16(reinterpret_cast<std::uint8_t*>(block.data()) + (o.Field == "count" ? 0 : 2), v);
      }
      std::string& sem = Image.Files[".sem"];
      if (sem.size() > 0x7FFFFFFF) Fail(node->Pos, "the set file is too large");
      info.SemOffset = static_cast<std::int32_t>(sem.size());
      sem += block;
      if (info.IsNamed) Image.SetOffset[info.Name] = info.SemOffset;
    }
  }

  // The value of a set element given by name or number.
  std::int64_t ElementValue(TModeNode& set, const TValueRef& v) {
    const TNodeInfo& info = Info[&set];
    if (!v.IsName) return v.Number;
    for (std::size_t i = 0; i < info.SetEntries.size(); ++i) {
      if (info.SetEntries[i].Name == v.Name && !v.Name.empty()) return static_cast<std::int64_t>(i);
    }
    Fail(v.Pos, v.Name + " is not an element of " + info.Name);
  }

  // --- Constants ---

  void BuildConstants(const std::vector<TStatement>& statements) {
    for (TModeNode* node : AllNodes) {
      if (node->Form != TModeForm::ConstantRange) continue;
      TNodeInfo& info = Info[node];
      ResolveRange(*node, info);
      const std::int32_t first = static_cast<std::int32_t>(Syn.size());
      for (std::size_t i = 0; i < node->Constants.size(); ++i) {
        const TConstantDecl& c = node->Constants[i];
        if (c.Value < info.Lower || c.Value > info.Upper)
          Fail(c.Pos, "constant " + c.Name + " lies outside the range " + std::to_string(info.Lower) + ":" +
                          std::to_string(info.Upper));
        const bool last = i + 1 == node->Constants.size();
        AddConstant(c.Name, c.Pos, info.Name, c.Value, last ? -1 : static_cast<std::int32_t>(Syn.size()) + 1);
      }
      info.ChainStart = node->Constants.empty() ? -1 : first;
    }
    for (const TStatement& s : statements) {
      if (s.Kind != TStatementKind::Syn) continue;
      if (s.Number < -32768 || s.Number > 65535) Fail(s.Pos, "a constant is -32768 to 65535");
      CheckNameLength(s.Text, s.Pos, "a mode name");
      AddConstant(s.Name, s.NamePos, s.Text, s.Number, -1);
    }
  }

  void AddConstant(const std::string& name, TSourcePos pos, const std::string& modeName, std::int64_t value,
                   std::int32_t next) {
    CheckNameLength(name, pos, "a constant name");
    if (Image.SynIndex.count(name)) Fail(pos, "constant " + name + " is declared twice" + FirstAt(ConstantPos[name]));
    ConstantPos[name] = pos;
    Image.SynIndex[name] = static_cast<std::int32_t>(Syn.size());
    TSynRecord r;
    r.Name = name;
    r.ModeName = modeName;
    r.Value = static_cast<std::uint16_t>(value);
    r.Next = next;
    Syn.push_back(r);
  }

  // The bounds of RANGE (lo:hi), setname (lo:hi) and RANGE ... CONSTANTS.
  void ResolveRange(TModeNode& node, TNodeInfo& info) {
    auto bound = [&](const TValueRef& v) -> std::int64_t {
      if (node.Form == TModeForm::SetRange) return ElementValue(SetOf(node), v);
      if (v.IsName) Fail(v.Pos, "a bound of RANGE is a number");
      return v.Number;
    };
    info.Lower = bound(node.Lower);
    info.Upper = bound(node.Upper);
    if (info.Lower < -32768 || info.Lower > 65535) Fail(node.Lower.Pos, "a bound is -32768 to 65535");
    if (info.Upper < -32768 || info.Upper > 65535) Fail(node.Upper.Pos, "a bound is -32768 to 65535");
    if (info.Upper < info.Lower) Fail(node.Upper.Pos, "the upper bound lies below the lower bound");
    // Bounds are 16 bits: signed when the range goes below 0, else unsigned.
    if (info.Lower < 0 && info.Upper > 32767) {
      Fail(node.Upper.Pos, "a RANGE that goes below 0 reaches at most 32767 (bounds are 16 bits)");
    }
  }

  // The set of setname (lo:hi).
  TModeNode& SetOf(TModeNode& node) {
    TModeNode& set = Underlying(ResolveNamed(node.RefName, node.RefPos));
    if (set.Form != TModeForm::Set) Fail(node.RefPos, node.RefName + " is not a SET mode");
    return set;
  }

  // --- Sizes and layout ---

  std::uint32_t SizeOf(TModeNode& node, int depth) {
    TNodeInfo& info = Info[&node];
    if (info.SizeState == 2) return info.Size;
    if (info.SizeState == 1 || depth > kMaxReferenceDepth)
      Fail(node.Pos, "mode " + info.Name + " is defined in terms of itself");
    info.SizeState = 1;
    std::uint64_t bits = 0;
    switch (node.Form) {
      case TModeForm::Elementary:
        bits = ElementaryBits(node);
        if (node.Kind == mkRef && !node.RefName.empty()) ResolveNamed(node.RefName, node.RefPos);
        break;
      case TModeForm::Set: bits = BitsFor(info.SetEntries.size() - (info.SetEntries.empty() ? 0 : 1)); break;
      case TModeForm::Range:
        ResolveRange(node, info);
        bits = info.Lower < 0 ? 16 : BitsFor(static_cast<std::uint64_t>(info.Upper));
        break;
      case TModeForm::SetRange: {
        ResolveRange(node, info);
        const TNodeInfo& set = Info[&SetOf(node)];
        bits = BitsFor(set.SetEntries.empty() ? 0 : set.SetEntries.size() - 1);
        break;
      }
      case TModeForm::ConstantRange: bits = info.Lower < 0 ? 16 : BitsFor(static_cast<std::uint64_t>(info.Upper)); break;
      case TModeForm::Structure: bits = LayOut(node, info, depth); break;
      case TModeForm::Array: {
        const std::uint64_t element = SizeOf(*node.Element, depth + 1);
        const bool packed = node.Packing != TPacking::None;
        const std::uint64_t stride = packed ? element : UnpackedStride(static_cast<std::uint32_t>(element));
        const std::uint64_t count = ArrayCount(node);
        bits = count != 0 && stride > kMaxBits / count ? kMaxBits + 1 : stride * count;
        break;
      }
      case TModeForm::Named: bits = SizeOf(ResolveNamed(node.RefName, node.RefPos), depth + 1); break;
    }
    if (bits > kMaxBits) Fail(node.Pos, "mode " + info.Name + " is larger than 4294967295 bits");
    info.Size = static_cast<std::uint32_t>(bits);
    info.SizeState = 2;
    return info.Size;
  }

  // Components follow each other; in a structure that is not packed each
  // starts on a byte and the next one starts on the byte after its end. The variants of a CASE all start
  // where the CASE starts; the CASE ends after its longest variant. POS puts a
  // component at a byte and bit; the next one follows it.
  std::uint64_t LayOut(TModeNode& node, TNodeInfo& info, int depth) {
    const bool packed = node.Packing != TPacking::None;
    std::uint64_t cursor = 0, end = 0;
    std::size_t plan = 0;
    auto place = [&](const TFieldDecl& f, std::uint64_t& at) -> std::uint64_t {
      if (f.Position) at = static_cast<std::uint64_t>(f.Position->first) * 8 + static_cast<std::uint64_t>(f.Position->second);
      else if (!packed) at = (at + 7) / 8 * 8;
      if (at / 8 > 0xFFFF) Fail(f.Pos, "component " + f.Name + " lies beyond byte 65535 of the structure");
      const std::uint64_t start = at;
      std::uint64_t storage = SizeOf(*f.Mode, depth + 1);
      if (f.Parameter == TParameterForm::VarPar || f.Parameter == TParameterForm::OptPar) storage = 8;  // the offset byte
      at += storage;
      if (!packed) at = (at + 7) / 8 * 8;
      end = std::max(end, at);
      return start;
    };
    for (const TMemberDecl& m : node.Members) {
      if (m.Field) {
        info.Components[plan++].BitPosition = place(*m.Field, cursor);
        continue;
      }
      const std::uint64_t start = packed ? cursor : (cursor + 7) / 8 * 8;
      std::uint64_t caseEnd = start;
      for (const TAlternative& a : m.Case->Alternatives) {
        std::uint64_t at = start;
        std::vector<std::uint64_t> positions;
        for (const TFieldDecl& f : a.Fields) positions.push_back(place(f, at));
        caseEnd = std::max(caseEnd, at);
        const std::size_t copies = a.IsElse ? 1 : a.Labels.size();
        for (std::size_t k = 0; k < copies; ++k) {
          for (std::uint64_t p : positions) info.Components[plan++].BitPosition = p;
        }
      }
      cursor = caseEnd;
    }
    return packed ? end : (end + 7) / 8 * 8;
  }

  // --- Arrays ---

  struct TDimension {
    TArrayDimension Record;
    bool Constants = false;
  };

  TDimension DimensionOf(const TIndexDecl& d) {
    TDimension dim;
    auto check = [&](std::int64_t v, TSourcePos pos) {
      if (v < -32768 || v > 65535) Fail(pos, "an index bound is -32768 to 65535");
      return static_cast<std::uint16_t>(v);
    };
    if (d.ModeName.empty()) {
      if (d.Lower.IsName || d.Upper.IsName) Fail(d.Pos, "plain index bounds are numbers");
      if (d.Upper.Number < d.Lower.Number) Fail(d.Upper.Pos, "the upper index lies below the lower index");
      dim.Record = {check(d.Lower.Number, d.Lower.Pos), check(d.Upper.Number, d.Upper.Pos), -1};
      return dim;
    }
    TModeNode& mode = Underlying(ResolveNamed(d.ModeName, d.Pos));
    TNodeInfo& info = Info[&mode];
    switch (mode.Form) {
      case TModeForm::Set: {
        std::int64_t lower = 0, upper = static_cast<std::int64_t>(info.SetEntries.size()) - 1;
        if (d.HasBounds) {
          lower = ElementValue(mode, d.Lower);
          upper = ElementValue(mode, d.Upper);
        }
        if (upper < lower) Fail(d.Pos, "the index set has no elements in this range");
        dim.Record = {check(lower, d.Pos), check(upper, d.Pos), info.SemOffset};
        return dim;
      }
      case TModeForm::SetRange: {
        SizeOf(mode, 0);
        dim.Record = {check(info.Lower, d.Pos), check(info.Upper, d.Pos), Info[&SetOf(mode)].SemOffset};
        return dim;
      }
      case TModeForm::ConstantRange:
        dim.Record = {check(info.Lower, d.Pos), check(info.Upper, d.Pos), info.ChainStart};
        dim.Constants = true;
        return dim;
      case TModeForm::Range:
        SizeOf(mode, 0);
        dim.Record = {check(info.Lower, d.Pos), check(info.Upper, d.Pos), -1};
        return dim;
      default: Fail(d.Pos, d.ModeName + " cannot index an array (a SET or RANGE mode can)");
    }
  }

  std::uint64_t ArrayCount(TModeNode& node) {
    if (node.Dimensions.size() > 3) Fail(node.Dimensions[3].Pos, "an array has at most three dimensions");
    std::uint64_t count = 1;
    for (const TIndexDecl& d : node.Dimensions) count *= DimensionOf(d).Record.Count();
    return count;
  }

  // --- References ---

  TReference ReferenceTo(TModeNode& node) {
    const TNodeInfo& info = Info[&node];
    if (node.Form == TModeForm::Named) {
      TModeNode& target = ResolveNamed(node.RefName, node.RefPos);
      const TNodeInfo& t = Info[&target];
      switch (target.Form) {
        case TModeForm::Set: return {mkSet, t.SemOffset, mkSet, t.Name};
        case TModeForm::Range:
        case TModeForm::SetRange: return {mkRange, t.HeaderIndex, mkRange, t.Name};
        case TModeForm::ConstantRange: return {mkConstantRange, t.HeaderIndex, mkConstantRange, t.Name};
        case TModeForm::Array: return {mkArray, t.HeaderIndex, mkArray, t.Name};
        default: return {mkReference, t.HeaderIndex, HeaderKindOf(target), t.Name};
      }
    }
    switch (node.Form) {
      case TModeForm::Elementary: {
        std::int32_t index = -1;
        if (node.Kind == mkRef && !node.RefName.empty()) index = Info[&ResolveNamed(node.RefName, node.RefPos)].HeaderIndex;
        return {node.Kind, index, node.Kind, ""};
      }
      case TModeForm::Set: return {mkSet, info.SemOffset, mkSet, info.Name};
      case TModeForm::Range:
      case TModeForm::SetRange: return {mkRange, info.HeaderIndex, mkRange, info.Name};
      case TModeForm::ConstantRange: return {mkConstantRange, info.HeaderIndex, mkConstantRange, info.Name};
      case TModeForm::Array: return {mkArray, info.HeaderIndex, mkArray, info.Name};
      default: return {mkReference, info.HeaderIndex, mkStructure, info.Name};
    }
  }

  // --- Records ---

  void EmitModes(const std::vector<TStatement>& statements) {
    Mod.assign(static_cast<std::size_t>(NextRecord), TModeRecordBytes{});
    EmitDss1Records(statements);
    for (TModeNode* node : AllNodes) {
      TNodeInfo& info = Info[node];
      if (info.HeaderIndex < 0) continue;
      TModeHeaderRecord h = HeaderOf(*node, info);
      ApplyHeaderOverrides(h, node->Overrides);
      Mod[static_cast<std::size_t>(info.HeaderIndex)] = EncodeModeHeader(h);
      if (info.IsNamed) Image.ModeIndex[info.Name] = info.HeaderIndex;
      if (node->Form == TModeForm::Structure) EmitComponents(*node, info);
    }
    std::string& mod = Image.Files[".mod"];
    for (const TModeRecordBytes& r : Mod) mod.append(reinterpret_cast<const char*>(r.data()), r.size());
    std::string& syn = Image.Files[".syn"];
    for (const TSynRecord& r : Syn) {
      const auto bytes = EncodeSynRecord(r);
      syn.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    Image.Files[".sem"];  // present even without sets
  }

  void EmitDss1Records(const std::vector<TStatement>& statements) {
    std::set<std::int64_t> given;
    for (int r = 0; r < kDss1ReservedRecords; ++r) {
      TModeHeaderRecord h;
      h.ModeNumber = static_cast<std::uint16_t>(r);
      h.Name = kDss1RecordNames[r];
      h.Kind = mkUndefined;
      h.Reference = -1;
      for (const TStatement& s : statements) {
        if (s.Kind != TStatementKind::Dss1 || s.Number != r) continue;
        if (!given.insert(r).second) Fail(s.Pos, std::string("the DSS1 record ") + kDss1RecordNames[r] + " is given twice");
        if (s.Target.IsName) {
          TModeNode& target = ResolveNamed(s.Target.Name, s.Target.Pos);
          const TNodeInfo& t = Info[&target];
          h.Kind = mkReference;
          h.Reference = t.HeaderIndex;
          h.BaseKind = HeaderKindOf(target);
          h.Size = t.Size;
        }
        ApplyHeaderOverrides(h, s.Overrides);
      }
      Mod[static_cast<std::size_t>(r)] = EncodeModeHeader(h);
    }
  }

  TModeHeaderRecord HeaderOf(TModeNode& node, TNodeInfo& info) {
    TModeHeaderRecord h;
    h.ModeNumber = info.ModeNumber;
    h.Size = info.Size;
    h.Name = info.Name;
    h.Kind = HeaderKindOf(node);
    h.Pack = node.Packing != TPacking::None ? 1 : 0;
    if (node.Packing == TPacking::RevPack) h.Flags |= hfRevPack;
    switch (node.Form) {
      case TModeForm::Elementary:
        if (node.Kind == mkRef && !node.RefName.empty()) {
          TModeNode& target = ResolveNamed(node.RefName, node.RefPos);
          h.Reference = Info[&target].HeaderIndex;
          h.BaseKind = HeaderKindOf(target);
        }
        break;
      case TModeForm::Set: h.Reference = info.SemOffset; break;
      case TModeForm::Range:
        h.BaseKind = mkInt;
        h.Lower = static_cast<std::uint16_t>(info.Lower);
        h.Upper = static_cast<std::uint16_t>(info.Upper);
        break;
      case TModeForm::SetRange:
        h.BaseKind = mkSet;
        h.Reference = Info[&SetOf(node)].SemOffset;
        h.Lower = static_cast<std::uint16_t>(info.Lower);
        h.Upper = static_cast<std::uint16_t>(info.Upper);
        break;
      case TModeForm::ConstantRange:
        h.BaseKind = mkInt;
        h.Lower = static_cast<std::uint16_t>(info.Lower);
        h.Upper = static_cast<std::uint16_t>(info.Upper);
        h.ConstantChain = info.ChainStart;
        break;
      case TModeForm::Structure: break;
      case TModeForm::Array: {
        const TReference element = ReferenceTo(*node.Element);
        h.Reference = element.Index;
        h.BaseKind = element.Kind;
        h.ElementKind2 = element.SecondKind;
        h.ElementSize = Info[node.Element.get()].Size;
        for (std::size_t d = 0; d < node.Dimensions.size(); ++d) {
          const TDimension dim = DimensionOf(node.Dimensions[d]);
          h.Dimensions[d] = dim.Record;
          if (dim.Constants) h.Flags |= static_cast<std::uint16_t>(hfDim1Constants << d);
        }
        break;
      }
      case TModeForm::Named: {
        TModeNode& target = ResolveNamed(node.RefName, node.RefPos);
        const TNodeInfo& t = Info[&target];
        h.BaseKind = HeaderKindOf(target);
        h.Reference = t.HeaderIndex;
        if (target.Form == TModeForm::Set) {
          h.Reference = t.SemOffset;
        } else if (target.Form == TModeForm::ConstantRange) {
          h.BaseKind = mkRange;
          h.Flags |= hfRangeConstants;
          h.ConstantChain = t.ChainStart;
          h.Lower = static_cast<std::uint16_t>(t.Lower);
          h.Upper = static_cast<std::uint16_t>(t.Upper);
        }
        break;
      }
    }
    return h;
  }

  // The record index of the component named `name` in this structure.
  std::int32_t ComponentRecord(const TNodeInfo& info, const std::string& name, TSourcePos pos) {
    for (std::size_t i = 0; i < info.Components.size(); ++i) {
      if (info.Components[i].Field->Name == name) return info.HeaderIndex + 1 + static_cast<std::int32_t>(i);
    }
    Fail(pos, "the structure has no component " + name);
  }

  const TFieldDecl& ComponentField(const TNodeInfo& info, const std::string& name) {
    for (const TComponentPlan& c : info.Components) {
      if (c.Field->Name == name) return *c.Field;
    }
    throw std::logic_error("component vanished");
  }

  std::uint16_t LabelValue(const TNodeInfo& info, const TComponentPlan& c) {
    const TValueRef& v = c.Label->Value;
    std::int64_t value = v.Number;
    if (v.IsName) {
      const TFieldDecl& tag = ComponentField(info, c.Case->Tag);
      TModeNode& mode = Underlying(*tag.Mode);
      if (mode.Form == TModeForm::Set) {
        value = ElementValue(mode, v);
      } else if (mode.Form == TModeForm::ConstantRange) {
        const auto it = std::find_if(mode.Constants.begin(), mode.Constants.end(),
                                     [&](const TConstantDecl& k) { return k.Name == v.Name; });
        if (it == mode.Constants.end()) Fail(v.Pos, v.Name + " is not a constant of the tag's mode");
        value = it->Value;
      } else {
        Fail(v.Pos, "a label name needs a tag of a SET mode or a RANGE with CONSTANTS");
      }
    }
    if (value < -32768 || value > 65535) Fail(v.Pos, "a label is -32768 to 65535");
    return static_cast<std::uint16_t>(value);
  }

  // A tag is one value that a label can be compared with.
  void CheckTag(const TNodeInfo& info, const TCaseDecl& c) {
    TModeNode& mode = Underlying(*ComponentField(info, c.Tag).Mode);
    if (mode.Form == TModeForm::Structure || mode.Form == TModeForm::Array) {
      Fail(c.TagPos, "the CASE tag " + c.Tag + " is " + (mode.Form == TModeForm::Structure ? "a STRUCT" : "an ARRAY") +
                         "; a tag is a single value (BOOL, INT, CHAR, BIT, BIN, a SET or a RANGE)");
    }
  }

  // The values the tag can hold, when they are fewer than a label's.
  std::optional<std::pair<std::int64_t, std::int64_t>> TagValues(TModeNode& mode) {
    const TNodeInfo& info = Info[&mode];
    switch (mode.Form) {
      case TModeForm::Set: return std::make_pair<std::int64_t, std::int64_t>(0, info.SetEntries.size() - 1);
      case TModeForm::Range:
      case TModeForm::SetRange:
      case TModeForm::ConstantRange: return std::make_pair(info.Lower, info.Upper);
      case TModeForm::Elementary: {
        const std::uint32_t bits = ElementaryBits(mode);
        if (bits >= 16) return std::nullopt;
        return std::make_pair<std::int64_t, std::int64_t>(0, (std::int64_t(1) << bits) - 1);
      }
      default: return std::nullopt;
    }
  }

  // A label the tag can never hold, or one already given in this CASE, is a
  // variant that can never be decoded.
  void CheckLabel(const TNodeInfo& info, const TComponentPlan& plan, std::uint16_t label) {
    const TValueRef& v = plan.Label->Value;
    TModeNode& mode = Underlying(*ComponentField(info, plan.Case->Tag).Mode);
    if (const auto values = TagValues(mode)) {
      // Negative range bounds are stored as 16-bit values.
      std::int64_t value = label;
      if (values->first < 0 && value > 32767) value -= 65536;
      if (value < values->first || value > values->second) {
        Fail(v.Pos, "label " + std::to_string(value) + " lies outside the tag's values " +
                        std::to_string(values->first) + ":" + std::to_string(values->second));
      }
    }
    const auto [first, added] = Labels[plan.Case].emplace(label, v.Pos);
    // Each component of a variant carries its labels: only another label repeats one.
    const bool sameLabel = first->second.Line == v.Pos.Line && first->second.Column == v.Pos.Column;
    if (!added && !sameLabel) {
      Fail(v.Pos, "label " + std::to_string(label) + " is given twice in this CASE" + FirstAt(first->second));
    }
  }

  // VARLENGTH bounds a structure (a named mode) or counts an array's
  // elements; its length component holds one number.
  void CheckVarLength(const TNodeInfo& info, const TFieldDecl& f) {
    const TReference ref = ReferenceTo(*f.Mode);
    if (ref.Kind != mkReference && ref.Kind != mkArray) {
      Fail(f.LengthPos, "VARLENGTH applies to an ARRAY or a STRUCT mode, not to " + f.Name);
    }
    if (f.LengthField == f.Name) Fail(f.LengthPos, "a component cannot hold its own length");
    ComponentRecord(info, f.LengthField, f.LengthPos);
    TModeNode& length = Underlying(*ComponentField(info, f.LengthField).Mode);
    if (length.Form == TModeForm::Structure || length.Form == TModeForm::Array) {
      Fail(f.LengthPos, "the length " + f.LengthField + " is a STRUCT or an ARRAY; it must hold a number");
    }
  }

  void EmitComponents(TModeNode& node, TNodeInfo& info) {
    for (std::size_t i = 0; i < info.Components.size(); ++i) {
      const TComponentPlan& plan = info.Components[i];
      const TFieldDecl& f = *plan.Field;
      TModeComponentRecord c;
      c.ModeNumber = info.ModeNumber;
      c.Name = f.Name;
      c.Size = Info[f.Mode.get()].Size;
      c.ByteOffset = static_cast<std::uint16_t>(plan.BitPosition / 8);
      c.BitOffset = static_cast<std::uint8_t>(plan.BitPosition % 8);
      const TReference ref = ReferenceTo(*f.Mode);
      c.Kind = ref.Kind;
      c.ModeIndex = ref.Index;
      c.ModeName = ref.ModeName;
      c.Pack = f.Mode->Packing != TPacking::None ? 1 : 0;
      if (f.Mode->Packing == TPacking::RevPack) c.Flags |= mfRevPack;
      if (plan.Case) {
        c.Selector = ComponentRecord(info, plan.Case->Tag, plan.Case->TagPos);
        CheckTag(info, *plan.Case);
        if (plan.Label) {
          c.Label = LabelValue(info, plan);
          CheckLabel(info, plan, c.Label);
        } else {
          c.Flags |= mfElse;
        }
      }
      switch (f.Parameter) {
        case TParameterForm::VarPar: c.Flags |= mfVarPar; break;
        case TParameterForm::OptPar: c.Flags |= mfOptPar; break;
        case TParameterForm::VarLength:
          if (plan.Case) Fail(f.LengthPos, "a variant cannot have VARLENGTH (both use the selector)");
          CheckVarLength(info, f);
          c.Flags |= mfVarLength;
          c.Selector = ComponentRecord(info, f.LengthField, f.LengthPos);
          c.Label = static_cast<std::uint16_t>(static_cast<std::int16_t>(f.Adjustment));
          break;
        case TParameterForm::None: break;
      }
      ApplyComponentOverrides(c, f.Overrides);
      Mod[static_cast<std::size_t>(info.HeaderIndex) + 1 + i] = EncodeModeComponent(c);
    }
  }

  // --- WITH ---

  std::int64_t Number(const TOverride& o, std::int64_t low, std::int64_t high) {
    std::int64_t v = o.Value.Number;
    if (o.Value.IsString) Fail(o.Value.Pos, o.Field + " takes a number");
    if (o.Value.IsName) v = Info[&ResolveNamed(o.Value.Name, o.Value.Pos)].HeaderIndex;
    if (v < low || v > high)
      Fail(o.Value.Pos, o.Field + " is " + std::to_string(low) + " to " + std::to_string(high));
    return v;
  }
  std::uint8_t U8(const TOverride& o) { return static_cast<std::uint8_t>(Number(o, -128, 255)); }
  std::uint16_t U16(const TOverride& o) { return static_cast<std::uint16_t>(Number(o, -32768, 65535)); }
  std::uint32_t U32(const TOverride& o) {
    return static_cast<std::uint32_t>(Number(o, std::numeric_limits<std::int32_t>::min(), 0xFFFFFFFFll));
  }
  std::int32_t I32(const TOverride& o) { return static_cast<std::int32_t>(U32(o)); }
  std::string Text(const TOverride& o, std::size_t max) {
    if (!o.Value.IsString && !o.Value.IsName) Fail(o.Value.Pos, o.Field + " takes a string");
    if (o.Value.Name.size() > max) Fail(o.Value.Pos, o.Field + " has at most " + std::to_string(max) + " characters");
    return o.Value.Name;
  }
  template <std::size_t N>
  void Bytes(const TOverride& o, std::array<std::uint8_t, N>& out) {
    const std::string text = Text(o, N);
    out.fill(0);
    std::copy_n(text.begin(), std::min(text.size(), N), out.begin());
  }

  void ApplyHeaderOverrides(TModeHeaderRecord& h, const std::vector<TOverride>& overrides) {
    for (const TOverride& o : overrides) {
      const std::string& f = o.Field;
      if (f == "count" || f == "tablesize") continue;  // a set's block
      if (f == "modenumber") h.ModeNumber = U16(o);
      else if (f == "size") h.Size = U32(o);
      else if (f == "name") h.Name = Text(o, kRecordNameLength);
      else if (f == "reference") h.Reference = I32(o);
      else if (f == "kind") h.Kind = U8(o);
      else if (f == "basekind") h.BaseKind = U8(o);
      else if (f == "kind2") h.ElementKind2 = U8(o);
      else if (f == "pack") h.Pack = U8(o);
      else if (f == "lower") h.Lower = U16(o);
      else if (f == "upper") h.Upper = U16(o);
      else if (f == "constantchain") h.ConstantChain = I32(o);
      else if (f == "elementsize") h.ElementSize = U32(o);
      else if (f == "flags") h.Flags = U16(o);
      else if (f == "spare") Bytes(o, h.Spare);
      else if (f.size() > 4 && f.compare(0, 3, "dim") == 0 && f[3] >= '1' && f[3] <= '3') {
        TArrayDimension& d = h.Dimensions[static_cast<std::size_t>(f[3] - '1')];
        const std::string part = f.substr(4);
        if (part == "lower") d.Lower = U16(o);
        else if (part == "upper") d.Upper = U16(o);
        else if (part == "index") d.IndexMode = I32(o);
        else Fail(o.Pos, "a header has no field " + f);
      } else {
        Fail(o.Pos, "a header has no field " + f);
      }
    }
  }

  void ApplyComponentOverrides(TModeComponentRecord& c, const std::vector<TOverride>& overrides) {
    for (const TOverride& o : overrides) {
      const std::string& f = o.Field;
      if (f == "modenumber") c.ModeNumber = U16(o);
      else if (f == "unused") Bytes(o, c.Unused);
      else if (f == "name") c.Name = Text(o, kRecordNameLength);
      else if (f == "size") c.Size = U32(o);
      else if (f == "byte") c.ByteOffset = U16(o);
      else if (f == "bit") c.BitOffset = U8(o);
      else if (f == "modename") c.ModeName = Text(o, kRecordNameLength);
      else if (f == "index") c.ModeIndex = I32(o);
      else if (f == "kind") c.Kind = U8(o);
      else if (f == "pack") c.Pack = U8(o);
      else if (f == "selector") c.Selector = I32(o);
      else if (f == "label") c.Label = U16(o);
      else if (f == "flags") c.Flags = U16(o);
      else Fail(o.Pos, "a component has no field " + f);
    }
  }

  // --- Indexes ---

  std::int32_t TargetIndex(const TIndexTarget& t) {
    if (t.IsName) return Info[&ResolveNamed(t.Name, t.Pos)].HeaderIndex;
    if (t.Value < std::numeric_limits<std::int32_t>::min() || t.Value > std::numeric_limits<std::int32_t>::max())
      Fail(t.Pos, "an index entry is a signed 32-bit number");
    return static_cast<std::int32_t>(t.Value);
  }

  void EmitIndexes(const std::vector<TStatement>& statements) {
    std::map<std::int64_t, std::int32_t> messages, userBuffers;
    std::map<std::int64_t, TMbidIndexEntry> mbids;
    for (const TStatement& s : statements) {
      if (s.Kind == TStatementKind::Message || s.Kind == TStatementKind::UserBuffer) {
        if (s.Number < 0 || s.Number > 65535) Fail(s.Pos, "a message identity is 0 to 65535");
        const bool user = s.Kind == TStatementKind::UserBuffer;
        if (user && !s.Target.IsName && s.Target.Value == kIndexSpecial5)
          Fail(s.Target.Pos, "SPECIAL 5 (-6) is for message buffers only");
        auto& table = user ? userBuffers : messages;
        if (!table.emplace(s.Number, TargetIndex(s.Target)).second)
          Fail(s.Pos, (user ? "user buffer " : "message ") + std::to_string(s.Number) + " is given twice");
      } else if (s.Kind == TStatementKind::Mbid) {
        if (s.Number < 0 || s.Number > 65535) Fail(s.Pos, "an MBID number is 0 to 65535");
        TMbidIndexEntry e{1, kIndexHexDump};
        if (s.RawMbid) {
          if (s.RawKind < 0 || s.RawKind > 255) Fail(s.Target.Pos, "the kind byte is 0 to 255");
          e.Kind = static_cast<std::uint8_t>(s.RawKind);
          e.Index = TargetIndex(s.Target);
        } else if (s.Target.IsName) {
          TModeNode& target = ResolveNamed(s.Target.Name, s.Target.Pos);
          if (target.Form == TModeForm::Set) e = {0, Info[&target].SemOffset};
          else e.Index = Info[&target].HeaderIndex;
        }
        if (!mbids.emplace(s.Number, e).second) Fail(s.Pos, "MBID " + std::to_string(s.Number) + " is given twice");
      }
    }
    auto indexFile = [](const std::map<std::int64_t, std::int32_t>& table) {
      std::string bytes;
      if (table.empty()) return bytes;
      bytes.resize(static_cast<std::size_t>(table.rbegin()->first + 1) * kModeIndexEntrySize);
      for (std::size_t n = 0; n * kModeIndexEntrySize < bytes.size(); ++n) {
        const auto it = table.find(static_cast<std::int64_t>(n));
        WriteU32(reinterpret_cast<std::uint8_t*>(bytes.data()) + n * kModeIndexEntrySize,
                 static_cast<std::uint32_t>(it == table.end() ? kIndexHexDump : it->second));
      }
      return bytes;
    };
    Image.Files[".msg"] = indexFile(messages);
    Image.Files[".usb"] = indexFile(userBuffers);
    std::string& bid = Image.Files[".bid"];
    if (!mbids.empty()) {
      const std::size_t count = static_cast<std::size_t>(mbids.rbegin()->first + 1);
      for (std::size_t n = 0; n < count; ++n) {
        const auto it = mbids.find(static_cast<std::int64_t>(n));
        const auto bytes = EncodeMbidIndexEntry(it == mbids.end() ? TMbidIndexEntry{1, kIndexHexDump} : it->second);
        bid.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
      }
    }
  }

  void EmitNameFiles() {
    std::vector<std::pair<std::string, std::string>> modes, sets, constants;  // key, entry
    std::vector<std::string> names;
    for (TModeNode* node : NamedOrder) {
      const TNodeInfo& info = Info[node];
      names.push_back(info.Name);
      if (node->Form == TModeForm::Set) {
        sets.emplace_back(NameKey(info.Name, kSetNameKeyWidth),
                          EncodeNameEntry(info.Name, info.SemOffset, kSetNameKeyWidth));
      } else {
        modes.emplace_back(NameKey(info.Name, kModeNameKeyWidth),
                           EncodeNameEntry(info.Name, info.HeaderIndex, kModeNameKeyWidth));
      }
    }
    for (const auto& [name, index] : Image.SynIndex)
      constants.emplace_back(NameKey(name, kModeNameKeyWidth), EncodeNameEntry(name, index, kModeNameKeyWidth));
    if (sets.size() > 65535) Fail({1, 1}, "the set index holds at most 65535 sets");
    // Sorted by the key's bytes taken as unsigned, as the reader's search expects.
    auto sorted = [](std::vector<std::pair<std::string, std::string>> entries) {
      std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return std::memcmp(a.first.data(), b.first.data(), a.first.size()) < 0;
      });
      std::string bytes;
      for (const auto& e : entries) bytes += e.second;
      return bytes;
    };
    Image.Files[".mna"] = sorted(modes);
    Image.Files[".sen"] = sorted(sets);
    Image.Files[".sna"] = sorted(constants);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
      return NameKey(a, kModeNameKeyWidth) < NameKey(b, kModeNameKeyWidth);
    });
    std::string& list = Image.Files[".mnt"];
    for (const std::string& n : names) list += n + "\r\n";
  }

  void EmitVersion(const std::vector<TStatement>& statements) {
    std::string version = "1.0";
    bool seen = false;
    for (const TStatement& s : statements) {
      if (s.Kind != TStatementKind::Version) continue;
      if (seen) Fail(s.Pos, "VERSION is given twice");
      seen = true;
      version = s.Text;
      // A text the reader would not take as a version gives a set that never opens.
      if (!ParseVersionLine("VERSION = VERSION " + version))
        Fail(s.Pos, "VERSION needs a number such as 2.1 (a trailing H makes it hexadecimal)");
    }
    Image.Files[".ver"] = "VERSION = VERSION " + version + "\r\n";
  }

  void EmitKasp(const std::vector<TStatement>& statements) {
    struct TFile {
      const char* Kind;
      const char* Name;
      std::size_t RecordSize;
      std::map<std::int64_t, std::string> Entries;
    };
    TFile files[] = {{"MSG", "KASP.MSG", THostNameFiles::kMsgNameSize, {}},
                     {"VMI", "KASP.VMI", THostNameFiles::kVmiNameSize, {}},
                     {"BID", "KASP.BID", THostNameFiles::kBidNameSize, {}}};
    bool any = false;
    for (const TStatement& s : statements) {
      if (s.Kind != TStatementKind::Kasp) continue;
      any = true;
      for (TFile& f : files) {
        if (s.Name != f.Kind) continue;
        if (s.Number < 0 || s.Number > 65535) Fail(s.Pos, "a KASP number is 0 to 65535");
        if (s.Text.size() > f.RecordSize)
          Fail(s.Pos, std::string(f.Name) + " names have at most " + std::to_string(f.RecordSize) + " characters");
        if (!f.Entries.emplace(s.Number, s.Text).second)
          Fail(s.Pos, std::string(f.Name) + " record " + std::to_string(s.Number) + " is given twice");
      }
    }
    if (!any) return;
    for (const TFile& f : files) {
      std::string bytes;
      if (!f.Entries.empty()) {
        bytes.assign(static_cast<std::size_t>(f.Entries.rbegin()->first + 1) * f.RecordSize, ' ');
        for (const auto& [n, name] : f.Entries)
          std::copy(name.begin(), name.end(), bytes.begin() + static_cast<std::ptrdiff_t>(n) * static_cast<std::ptrdiff_t>(f.RecordSize));
      }
      Image.Kasp[f.Name] = bytes;
    }
  }

  std::map<std::string, TModeNode*> Named;
  std::vector<TModeNode*> NamedOrder;
  std::vector<TModeNode*> AllNodes;
  std::map<const TModeNode*, TNodeInfo> Info;
  std::vector<TSynRecord> Syn;
  std::vector<TModeRecordBytes> Mod;
  std::int32_t NextRecord = 0;
  std::uint32_t NextModeNumber = 0;
  TModeFileImage Image;
  std::map<std::string, TSourcePos> NamePos;      // where each named mode was declared
  std::map<std::string, TSourcePos> ConstantPos;  // where each constant was declared
  std::map<const TCaseDecl*, std::map<std::uint16_t, TSourcePos>> Labels;  // the labels of each CASE so far
};
}  // namespace

TCompileResult CompileModeSource(std::string_view source, std::string_view fileName) {
  TCompileResult result;
  try {
    const std::vector<TStatement> statements = ParseModeSource(source);
    if (statements.empty()) throw ECompileError({1, 1}, "the source declares nothing (an empty source makes no mode files)");
    result.Image = TCompiler().Run(statements);
    result.Ok = true;
  } catch (const ECompileError& e) {
    result.Error = {std::string(fileName), e.Pos.Line, e.Pos.Column, e.what()};
  }
  return result;
}

bool WriteModeFileImage(const TModeFileImage& image, const std::string& base, const std::string& kaspDirectory,
                        std::string* error) {
  // "dir/" or a directory would make hidden files ".mod", ".ver", ... in it.
  std::error_code failed;
  if (base.empty() || base.back() == '/' || std::filesystem::is_directory(base, failed)) {
    if (error) *error = base + ": is a directory; give the base name of the files, such as " +
                        (base.empty() || base.back() == '/' ? base : base + "/") + "line";
    return false;
  }
  auto write = [&](const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out) out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (out) out.close();
    if (!out) {
      if (error) *error = path + ": cannot write: " + std::strerror(errno);
      return false;
    }
    return true;
  };
  for (const auto& [extension, bytes] : image.Files) {
    if (!write(base + extension, bytes)) return false;
  }
  std::string directory = kaspDirectory;
  if (directory.empty()) {
    const std::size_t slash = base.rfind('/');
    directory = slash == std::string::npos ? "." : base.substr(0, slash);
    if (directory.empty()) directory = "/";
  }
  if (directory.back() != '/') directory += '/';
  for (const auto& [name, bytes] : image.Kasp) {
    if (!write(directory + name, bytes)) return false;
  }
  return true;
}
