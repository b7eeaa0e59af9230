#include "screen/screenfind.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "screen/selection.h"
#include "screen/store.h"

namespace {
struct TFoldTables {
  std::uint8_t Same[256];
  std::uint8_t Upper[256];
  TFoldTables() {
    for (int c = 0; c < 256; ++c) {
      Same[c] = static_cast<std::uint8_t>(c);
      Upper[c] = static_cast<std::uint8_t>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
  }
};

const TFoldTables& Folds() {
  static const TFoldTables tables;
  return tables;
}

std::uint8_t Byte(char c) { return static_cast<std::uint8_t>(c); }
}  // namespace

// ---------------------------------------------------------------------------
// TTSearch

void TTSearch::SetPattern(std::string_view pattern, bool caseSensitive) {
  Fold = caseSensitive ? Folds().Same : Folds().Upper;
  Pattern.resize(pattern.size());
  for (std::size_t i = 0; i < pattern.size(); ++i) Pattern[i] = static_cast<char>(Fold[Byte(pattern[i])]);
  const auto m = static_cast<std::uint32_t>(Pattern.size());
  // Shifts by the character just past (or before) the window: the last
  // occurrence in the pattern for going forward, the first for going back.
  Forward.fill(m + 1);
  for (std::uint32_t i = 0; i < m; ++i) Forward[Byte(Pattern[i])] = m - i;
  Backward.fill(m + 1);
  for (std::uint32_t i = m; i > 0; --i) Backward[Byte(Pattern[i - 1])] = i;
  // A lower-case letter of the text shifts as its upper-case form does.
  for (int c = 0; c < 256; ++c) {
    Forward[c] = Forward[Fold[c]];
    Backward[c] = Backward[Fold[c]];
  }
  SetTextFrom({}, 0);
}

bool TTSearch::SetText(std::string_view line) {
  SetTextFrom(line, 0);
  return SearchForward();
}

void TTSearch::SetTextFrom(std::string_view line, int position) {
  Text = line;
  Position = position;
  HitCount = 0;
  Hit = -1;
  IsFound = false;
}

bool TTSearch::Matches(std::string_view text, int start) const {
  const char* window = text.data() + start;
  for (int k = static_cast<int>(Pattern.size()) - 1; k >= 0; --k)
    if (Fold[Byte(window[k])] != Byte(Pattern[k])) return false;
  return true;
}

bool TTSearch::Record(int start) {
  IsFound = true;
  Hit = start;
  ++HitCount;
  return true;
}

// The first window from start on that matches, or -1.
int TTSearch::FirstFrom(std::string_view text, int start) const {
  const int m = PatternLength();
  const int n = static_cast<int>(text.size());
  if (m == 0 || !Fold) return -1;
  start = std::max(start, 0);
  while (start <= n - m) {
    if (Matches(text, start)) return start;
    if (start + m >= n) break;
    start += static_cast<int>(Forward[Byte(text[start + m])]);
  }
  return -1;
}

bool TTSearch::SearchForward() {
  IsFound = false;
  const int start = FirstFrom(Text, Position);
  if (start < 0) {
    Position = static_cast<int>(Text.size());
    return false;
  }
  Position = start + 1;
  return Record(start);
}

bool TTSearch::Occurs(std::string_view stored, int length) const {
  // A window reaching into the unstored blanks ends in a blank: only a
  // pattern that ends in one needs the line laid out whole.
  if (Pattern.empty() || Pattern.back() != ' ' || length <= static_cast<int>(stored.size()))
    return FirstFrom(stored, 0) >= 0;
  char line[256];
  const auto n = static_cast<std::size_t>(std::min(length, 256));
  const std::size_t kept = std::min(stored.size(), n);
  std::memcpy(line, stored.data(), kept);
  std::memset(line + kept, ' ', n - kept);
  return FirstFrom({line, n}, 0) >= 0;
}

bool TTSearch::SearchBackward() {
  IsFound = false;
  const int m = PatternLength();
  const int n = static_cast<int>(Text.size());
  if (m == 0 || !Fold) return false;
  int start = std::min(Position, n - m);
  while (start >= 0) {
    if (Matches(Text, start)) {
      Position = start - 1;
      return Record(start);
    }
    if (start == 0) break;
    start -= static_cast<int>(Backward[Byte(Text[start - 1])]);
  }
  Position = -1;
  return false;
}

// ---------------------------------------------------------------------------
// TScreenFind

std::string FindDialogCaption(int state) {
  switch (state) {
    case fsFound: return "Find Dialog - Found";
    case fsSearching: return "Find Dialog - Searching";
    case fsNotFound: return "Find Dialog - Not Found";
    default: return "Find Dialog";
  }
}

int TScreenFind::StartLine() const {
  if (!FindStartCursor) return 0;
  // The cursor's row is on the terminal screen, the last Rows lines.
  const int line = Screen.ScreenLine(Screen.CursorYPosition());
  return std::clamp(line, 0, Screen.Count() - 1);
}

bool TScreenFind::Prepare(const std::string& text) {
  if (Screen.Count() == 0 || text.empty()) return false;
  LastText = text;
  Search.SetPattern(text, FindCaseSensitive);
  return true;
}

std::string_view TScreenFind::LineText(int line, char* scratch) const {
  return Screen.GetLineTextView(line, scratch);
}

// The starting line is searched from the position; the lines after it are
// scanned whole by the store (on several threads for a long scroll-back),
// and the line it finds is searched again for the hit's column.
int TScreenFind::SearchDown(int line, int position) {
  char scratch[TBrowse::kMaxLineLength];
  const int first = std::max(line, 0);
  if (first >= Screen.Count()) return 0;
  Search.SetTextFrom(LineText(first, scratch), first == line ? position : 0);
  if (Search.SearchForward()) return Show(first, Search.HitPosition());
  if (first + 1 >= Screen.Count()) return 0;
  const int hit = Screen.ScanLines(first + 1, Screen.Count() - 1, Occurs());
  if (hit < 0) return 0;
  Search.SetTextFrom(LineText(hit, scratch), 0);
  return Search.SearchForward() ? Show(hit, Search.HitPosition()) : 0;
}

int TScreenFind::SearchUp(int line, int position) {
  char scratch[TBrowse::kMaxLineLength];
  const int first = std::min(line, Screen.Count() - 1);
  if (first < 0) return 0;
  Search.SetTextFrom(LineText(first, scratch), first == line ? position : INT_MAX);
  if (Search.SearchBackward()) return Show(first, Search.HitPosition());
  if (first == 0) return 0;
  const int hit = Screen.ScanLines(first - 1, 0, Occurs());
  if (hit < 0) return 0;
  Search.SetTextFrom(LineText(hit, scratch), INT_MAX);
  return Search.SearchBackward() ? Show(hit, Search.HitPosition()) : 0;
}

std::function<bool(std::string_view, int)> TScreenFind::Occurs() const {
  const TTSearch* search = &Search;
  return [search](std::string_view stored, int length) { return search->Occurs(stored, length); };
}

void TScreenFind::ClearFindMark() {
  TMarkAttributes* mark = Screen.Marks.Get(kFindMark);
  if (!mark || !mark->Placed()) return;
  const int top = mark->Top();
  const int bottom = mark->Bottom();
  for (int line = top; line <= bottom; ++line) Screen.ClearMarkSlot(line, kFindMark);
  Screen.InvalidateLines(top, bottom);
  Screen.Marks.Free(kFindMark);
}

int TScreenFind::Show(int line, int position) {
  const int column = position + 1;
  ClearFindMark();
  Screen.SetMarkTop(line, column, kFindMark);
  Screen.SetMarkBottom(line, column + Search.PatternLength() - 1, kFindMark);
  Screen.InvalidateLines(line, line);
  HitLine = line;
  HitColumn = column;
  if (ShowLine) ShowLine(line);
  return column;
}

int TScreenFind::Find(const std::string& text) {
  if (!Prepare(text)) return 0;
  return SearchDown(StartLine(), 0);
}

// The last hit is only followed while it still lies in the store.
int TScreenFind::FindNext(const std::string& text) {
  if (text != LastText || HitLine < 0 || HitLine >= Screen.Count()) return Find(text);
  if (!Prepare(text)) return 0;
  return SearchDown(HitLine, HitColumn);
}

int TScreenFind::FindPrevious(const std::string& text) {
  const bool again = text == LastText && HitLine >= 0 && HitLine < Screen.Count();
  if (!Prepare(text)) return 0;
  if (!again) return SearchUp(StartLine(), INT_MAX);
  // Windows that end before the last hit's end start before its start.
  return SearchUp(HitLine, HitColumn - 2);
}

void TScreenFind::HandleRequest(int request, const std::function<void(int state)>& report) {
  if (Busy || request < frFindNext || request > frFind) return;
  struct TBusy {
    bool& Flag;
    explicit TBusy(bool& flag) : Flag(flag) { Flag = true; }
    ~TBusy() { Flag = false; }
  } busy(Busy);
  if (report) report(fsSearching);
  FindStartCursor = SearchFromCursor;
  FindCaseSensitive = SearchCaseSensitive;
  int column = 0;
  switch (request) {
    case frFindNext: column = FindNext(SearchText); break;
    case frFindPrevious: column = FindPrevious(SearchText); break;
    default: column = Find(SearchText); break;
  }
  if (report) report(column > 0 ? fsFound : fsNotFound);
}
