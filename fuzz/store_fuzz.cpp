// The scroll-back store under random operations, compared with a plain model
// (a vector of lines): adds in bulk so blocks get compressed, rewrites of old
// and new lines, cell attributes, screen-row writes, mark slots, waits for
// the packing worker, clears, and scans for a text.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzzing.h"
#include "screen/store.h"

namespace {
struct TModelLine {
  std::string Text;
  std::uint16_t Cells[kLineCells];
  std::uint8_t Slots[4] = {};  // marks 2, 1, 3, user
};

// A text of up to 47 bytes, its length first.
std::string Text(TFuzzInput& in) { return std::string(in.Bytes(in.Byte() % 48)); }

// Generated lines: hex dumps, text, blanks; some with the hex run mark byte.
std::string BulkLine(int i) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text = "  H'" + std::to_string(i);
  for (int k = 0; k < (i % 5) * 6; ++k) {
    text += ' ';
    text += kHex[(i * 7 + k) % 16];
    text += kHex[(i + k * 3) % 16];
  }
  if (i % 11 == 0) text += "\xFE end";
  if (i % 13 == 0) text.clear();
  return text;
}

void Fail(const char* what, int line) {
  std::fprintf(stderr, "store and model differ: %s at line %d\n", what, line);
  std::abort();
}

class THarness {
 public:
  THarness() { Store.WarmLines = 300; }

  void Run(TFuzzInput& in) {
    while (in.More()) Step(in);
    Store.Settle();
    CheckAll();
  }

 private:
  int Count() const { return static_cast<int>(Model.size()); }
  int AnyLine(TFuzzInput& in) { return Model.empty() ? 0 : in.Word() % Count(); }

  void Add(const std::string& text, int attribute) {
    Store.AddLine(text, attribute, false);
    TModelLine line;
    line.Text = text.substr(0, TBrowse::kMaxLineLength);
    std::fill_n(line.Cells, kLineCells, static_cast<std::uint16_t>(attribute));
    Model.push_back(line);
  }

  void Step(TFuzzInput& in) {
    switch (in.Byte() % 10) {
      case 0: Add(Text(in), in.Byte() % 4); break;
      case 1: {
        const int lines = std::min(in.Byte() * 24, 20000 - Count());
        for (int i = 0; i < lines; ++i) Add(BulkLine(Count()), i % 3);
        break;
      }
      case 2:
      case 3: {
        if (Model.empty()) break;
        const int line = AnyLine(in);
        const std::string text = Text(in);
        if (in.Byte() & 1) Store.SetLineText(line, text); else Store.ReplaceLine(line, text);
        Model[line].Text = text;
        break;
      }
      case 4: {
        if (Model.empty()) break;
        const int line = AnyLine(in);
        const int column = 1 + in.Byte() % kLineCells;
        const int attribute = in.Byte() % 5;
        Store.SetAttributeAt(line, column, attribute);
        Model[line].Cells[column - 1] = static_cast<std::uint16_t>(attribute);
        break;
      }
      case 5: PutText(in); break;
      case 6: {
        if (Model.empty()) break;
        static const int kMarks[] = {2, 1, 3, 5, 6};
        const int line = AnyLine(in);
        const int mark = kMarks[in.Byte() % 5];
        const int value = in.Byte() % 8;
        Store.SetMarkSlot(line, mark, value);
        Model[line].Slots[mark == 2 ? 0 : mark == 1 ? 1 : mark == 3 ? 2 : 3] = static_cast<std::uint8_t>(value);
        break;
      }
      case 7: Store.Settle(); break;
      case 8:
        if (in.Byte() % 8 == 0) {
          Store.Clear();
          Model.clear();
        }
        break;
      default: Scan(in); break;
    }
  }

  // A screen-row write as the terminal makes it: the line padded to 133.
  void PutText(TFuzzInput& in) {
    const int row = 1 + in.Byte() % Store.Rows;
    const int column = in.Byte() % 140 - 2;
    const int attribute = in.Byte() % 5;
    const std::string text = Text(in);
    const int line = Store.ScreenLine(row);
    Store.PutText(text, column, false, attribute, row);
    if (line < 0) return;
    TModelLine& m = Model[line];
    if (m.Text.size() < 133) m.Text.resize(133, ' ');
    for (int i = 0; i < static_cast<int>(text.size()); ++i) {
      const int at = column + i;
      if (at < 1 || at > TBrowse::kMaxLineLength) continue;
      if (at > static_cast<int>(m.Text.size())) m.Text.resize(static_cast<std::size_t>(at), ' ');
      m.Text[static_cast<std::size_t>(at - 1)] = text[static_cast<std::size_t>(i)];
      if (at <= kLineCells) m.Cells[at - 1] = static_cast<std::uint16_t>(attribute);
    }
  }

  void Scan(TFuzzInput& in) {
    std::string pattern = Text(in).substr(0, 4);
    if (pattern.empty()) pattern = "H'1";
    const bool up = in.Byte() & 1;
    const auto contains = [&](std::string_view stored, int length) {
      std::string text(stored);
      text.resize(static_cast<std::size_t>(std::max<int>(length, static_cast<int>(stored.size()))), ' ');
      return text.find(pattern) != std::string::npos;
    };
    const int found = Store.ScanLines(up ? Count() - 1 : 0, up ? 0 : Count() - 1, contains);
    int expected = -1;
    for (int k = 0; k < Count() && expected < 0; ++k) {
      const int line = up ? Count() - 1 - k : k;
      if (Model[line].Text.find(pattern) != std::string::npos) expected = line;
    }
    if (found != expected) Fail("scan", found);
  }

  void CheckAll() {
    if (Store.Count() != Count()) Fail("count", Store.Count());
    std::string text;
    std::uint16_t cells[kLineCells];
    static const int kMarks[] = {2, 1, 3, 5};
    for (int line = 0; line < Count(); ++line) {
      Store.GetLine(line, text, cells);
      if (text != Model[line].Text) Fail("text", line);
      if (!std::equal(cells, cells + kLineCells, Model[line].Cells)) Fail("attributes", line);
      for (int slot = 0; slot < 4; ++slot)
        if (Store.GetMarkSlot(line, kMarks[slot]) != Model[line].Slots[slot]) Fail("mark slot", line);
    }
  }

  TBrowse Store;
  std::vector<TModelLine> Model;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TFuzzInput in(data, size);
  THarness harness;
  harness.Run(in);
  return 0;
}
