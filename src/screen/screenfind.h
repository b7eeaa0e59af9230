// Text search in the scroll-back: TTSearch finds a pattern within one line
// (Sunday's quick search, both directions); TScreenFind walks the store's
// lines with it, keeps the last search and shows the hit as the find mark.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

class TBrowse;

class TTSearch {
 public:
  // Without caseSensitive, letters a-z of pattern and text compare as A-Z.
  void SetPattern(std::string_view pattern, bool caseSensitive = true);
  // Takes a new line and searches it forward from its start.
  bool SetText(std::string_view line);
  // Takes a new line without searching: a forward search tries windows from
  // position on, a backward one windows starting at position or before
  // (positions from 0).
  void SetTextFrom(std::string_view line, int position);
  // Each hit moves the position one past (or before) the hit, so repeated
  // calls find every occurrence, overlapping ones included.
  bool SearchForward();
  bool SearchBackward();
  // Whether the pattern occurs in a line of `length` characters whose first
  // stored.size() are stored and the rest blanks. Keeps no state: threads
  // may call it at once.
  bool Occurs(std::string_view stored, int length) const;

  bool Found() const { return IsFound; }
  int HitPosition() const { return Hit; }  // from 0; -1 before any hit
  int Hits() const { return HitCount; }    // hits in this line
  int PatternLength() const { return static_cast<int>(Pattern.size()); }

 private:
  bool Matches(std::string_view text, int start) const;
  int FirstFrom(std::string_view text, int start) const;
  bool Record(int start);

  std::string Pattern;  // folded
  const std::uint8_t* Fold = nullptr;
  std::array<std::uint32_t, 256> Forward{};
  std::array<std::uint32_t, 256> Backward{};
  std::string_view Text;
  int Position = 0;
  int HitCount = 0;
  int Hit = -1;
  bool IsFound = false;
};

// Requests of the find dialog and the menu (the main window's message 1139)
// and the states reported back to the dialog (message 1140).
enum TFindRequest : int { frFindNext = 0, frFindPrevious = 1, frFind = 2 };
enum TFindState : int { fsFound = 0, fsSearching = 1, fsNotFound = 2 };

// "Find Dialog - Found", "- Searching", "- Not Found".
std::string FindDialogCaption(int state);

class TScreenFind {
 public:
  explicit TScreenFind(TBrowse& screen) : Screen(screen) {}

  // The control's options.
  bool FindStartCursor = false;  // from the cursor line instead of line 0
  bool FindEntireText = true;    // kept, changes nothing
  bool FindCaseSensitive = false;

  // What the find dialog stored last; the menu's Find Forward and Find
  // Backward search with these too.
  std::string SearchText;
  bool SearchFromCursor = false;
  bool SearchCaseSensitive = false;
  // Raised while a request runs; Reset Terminal clears it.
  bool Busy = false;

  // Each gives the 1-based column of the hit, or 0 when nothing was found
  // (then neither the find mark nor the view changes).
  int Find(const std::string& text);
  int FindNext(const std::string& text);
  int FindPrevious(const std::string& text);

  // A find request with the stored text and options: reports fsSearching,
  // then fsFound or fsNotFound. Does nothing while one is running.
  void HandleRequest(int request, const std::function<void(int state)>& report);

  const std::string& LastSearchText() const { return LastText; }
  int LastHitLine() const { return HitLine; }      // -1 when none
  int LastHitColumn() const { return HitColumn; }  // 1-based, 0 when none

  // Brings a store line into view; the view centres it when it is not shown.
  std::function<void(int line)> ShowLine;

 private:
  int StartLine() const;
  std::string_view LineText(int line, char* scratch) const;
  bool Prepare(const std::string& text);
  int SearchDown(int line, int position);
  // The search as the store's line test (TBrowse::TLineTest).
  std::function<bool(std::string_view, int)> Occurs() const;
  int SearchUp(int line, int position);
  int Show(int line, int position);
  void ClearFindMark();

  TBrowse& Screen;
  TTSearch Search;
  std::string LastText;
  int HitLine = -1;
  int HitColumn = 0;
};
