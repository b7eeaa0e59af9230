// TBrowse store: the unbounded scroll-back of 132-column attributed lines
// whose last `Rows` lines are the live terminal screen.
//
// Lines near the bottom are kept "hot" in expanded form (text plus 132
// attribute numbers) so terminal writes touch no heap; a line is packed into
// its compact form (text without trailing blanks in an arena, a shared run
// list) when it leaves the hot window. What callers see (texts, lengths, run
// lists, states) does not depend on which form a line is in.
#pragma once

#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "screen/arena.h"
#include "screen/attributes.h"
#include "screen/failures.h"
#include "screen/marks.h"
#include "screen/runs.h"

class TDesktop;

enum TBrowserOption : unsigned {
  boAutoTracking = 1u << 0,
  boLazyWrite = 1u << 1,
  boFixedPitchOnly = 1u << 2,
  boMarkCursorLine = 1u << 3,
  boListBox = 1u << 4,
  boEditor = 1u << 5,
  boSuppressCursor = 1u << 6,
};

enum TLineState : std::uint8_t {
  lsAdded = 0,      // in memory as added
  lsRewritten = 1,  // in memory, rewritten since
  lsOnDisk = 2,     // text read from the backing file when needed
};

// A block of lines and columns (columns 1..132; lines from 0, or screen rows).
struct TBlock {
  int Left = 1, Top = 0, Right = 1, Bottom = 0;
};

// What changed since the view last looked: the view repaints from this
// instead of being called for every write.
struct TScreenDamage {
  int FirstLine = INT_MAX, LastLine = -1;  // store lines with changed cells
  int LeftColumn = INT_MAX, RightColumn = 0;
  int LinesAdded = 0;
  bool All = false;           // repaint everything, recompute sizes and ranges
  bool ShowTop = false;       // scroll to the first line
  bool FollowCursor = false;  // bring the cursor into view
  bool Empty() const {
    return LastLine < 0 && LinesAdded == 0 && !All && !ShowTop && !FollowCursor;
  }
};

// SaveToFile result when the user cancelled (the file is incomplete).
inline constexpr int kSaveCancelled = 1;

class TBrowse {
 public:
  TBrowse();
  ~TBrowse();
  TBrowse(const TBrowse&) = delete;
  TBrowse& operator=(const TBrowse&) = delete;

  static constexpr int ScreenXSizeMax = 132;
  // A row of ScreenXSizeMax blanks, for lines that start empty.
  static std::string_view BlankRow();
  static constexpr int ScreenYSizeMax = 24;
  static constexpr int kFirstCapacity = 2708;
  static constexpr int kMaxLineLength = 255;

  // Kept inside the control: TFile is also the log subsystem's file class.
  enum TMedium { mtMemoryOnly, mtMemoryDisk, mtDiskReadOnly, mtDiskReadWrite };
  enum TFile { ftBinary, ftText, ftRTF };

  int Cols = 80;
  int Rows = 24;
  unsigned Options = boAutoTracking | boLazyWrite | boFixedPitchOnly;
  TMedium Medium = mtMemoryOnly;
  TFile FileType = ftText;
  std::string FileName;
  TColor ForeColor = colors::Black;
  TColor BackColor = colors::White;
  std::string FontName = "Courier New";
  int FontSize = 8;
  std::uint8_t FontStyle = 0;
  // Whole rows the window shows; set by the view (0: `Rows`).
  int VisibleRows = 0;
  // Progress windows and message pumping while loading and saving; may be null.
  TDesktop* Desktop = nullptr;

  TAttributeManager Attributes;
  TMarkManager Marks;

  int Count() const { return static_cast<int>(Lines.size()); }
  // Records the line table has room for before it doubles.
  int Capacity() const { return static_cast<int>(Lines.capacity()); }

  int CursorXPosition() const { return CursorX; }
  int CursorYPosition() const { return CursorY; }
  // In terminal use (none of boMarkCursorLine, boListBox, boEditor) limited to
  // Cols x Rows, otherwise to 132 columns and the visible rows.
  void SetCursor(int column, int row);

  // --- Lines (from 0; a line outside the store is ignored) ---
  void AddLine(std::string_view text, int attribute, bool paint);
  void AddDiskLine(std::string_view text, std::int32_t fileOffset, int attribute);
  std::string GetLineText(int line) const;
  // The same text without a copy where the line holds it whole; a line whose
  // trailing blanks are not stored, or that lives on disk, is put together
  // in scratch (kMaxLineLength bytes). Valid until the store next changes.
  std::string_view GetLineTextView(int line, char* scratch) const;
  int GetLineLength(int line) const;
  void SetLineText(int line, std::string_view text);
  void ReplaceLine(int line, std::string_view text);
  // Text and the 132 attribute numbers; false for a line outside the store.
  bool GetLine(int line, std::string& text, std::uint16_t* attributes) const;
  int GetAttributeAt(int line, int column) const;
  void SetAttributeAt(int line, int column, int attribute);
  std::vector<TRun> GetRuns(int line) const;
  std::string GetRunBytes(int line) const;  // the 3-byte entries
  int GetLineState(int line) const;
  std::int32_t GetFileOffset(int line) const;

  // --- Screen rows 1..Rows ---
  // Store line of a screen row, -1 when the row addresses nothing.
  int ScreenLine(int row) const {
    if (row < 1 || row > Rows) return -1;
    const int line = Count() - Rows + row - 1;
    return line >= 0 ? line : -1;
  }
  void PutText(std::string_view text, int column, bool paint, int attribute, int row);
  // PutText of `count` copies of c, without building the text.
  void FillText(char c, int count, int column, bool paint, int attribute, int row);
  void ReplaceScreenLine(std::string_view text, int attribute, bool paint, int row);
  std::uint8_t GetCellChar(int column, int row) const;
  int GetCellAttribute(int column, int row) const;
  void SetCellAttribute(int column, int row, int attribute);
  TTextAttributes GetCellRecord(int column, int row) const;
  void SetCellRecord(int column, int row, const TTextAttributes& record);
  void CopyBlock(const TBlock& source, const TBlock& destination, bool paint, bool screenRelative);
  void InvalidateCells(int left, int top, int bottom, int right);
  // Repaints whole store lines whose look changed without their cells (marks).
  void InvalidateLines(int first, int last);

  int InternAttribute(const TTextAttributes& record) { return Attributes.Intern(record); }
  const TTextAttributes& GetAttributeRecord(int number) const { return Attributes.Get(number); }

  // Frees every line and the line table; the view goes back to the top.
  void Clear();

  // --- Mark slots ---
  void SetMarkTop(int line, int column, int mark);
  void SetMarkBottom(int line, int column, int mark);
  void ClearMarkSlot(int line, int mark);
  void SetMarkSlot(int line, int mark, int value);
  bool HasMark(int line, int mark) const;
  int GetMarkSlot(int line, int mark) const;
  int MarkStartColumn(int line, int mark) const;
  int MarkEndColumn(int line, int mark) const;

  // --- Backing file ---
  // 0 when open; -1 when FileName is empty or the open failed (LastError).
  int OpenFile();
  // Indexes the open file as disk lines (ftText). 0, or -1 on a read error.
  int LoadFile();
  // 0 written; -1 empty name or failure (LastError); kSaveCancelled.
  int SaveToFile(const std::string& name);
  void CloseFile();
  int FileState() const { return StreamState; }  // 0 none, 1 read-only, 2 read-write
  std::uint32_t LastError = 0;                     // system error code of the last file failure

  // --- Damage ---
  const TScreenDamage& PendingDamage() const { return Damage; }
  TScreenDamage TakeDamage();
  // Called when damage appears while none was pending (the view schedules a paint).
  std::function<void()> OnDamage;

 private:
  struct TLineRecord {
    TRunPool::THandle Runs = 0;
    std::uint32_t TextPos = 0;  // arena position of the stored text
    std::int32_t FileOffset = -1;
    std::uint8_t Marks[4] = {};  // mark 2, mark 1, mark 3, user mark
    std::uint8_t Length = 0;
    std::uint8_t Stored = 0;  // bytes held in the arena; the rest of the text is blanks
    std::uint8_t State = lsAdded;
  };

  // Expanded form of a line being written. Text beyond Length is always blanks.
  struct THotLine {
    int Line = -1;
    bool TextDirty = false;  // the packed text is stale
    bool RunsDirty = false;  // the run list is stale
    std::uint8_t Length = 0;
    char Text[256];
    std::uint16_t Attr[kLineCells];
  };
  static constexpr int kHotLines = 64;

  bool ValidLine(int line) const { return line >= 0 && line < Count(); }
  THotLine* HotFor(int line) const {
    THotLine& slot = Hot[line % kHotLines];
    return slot.Line == line ? &slot : nullptr;
  }
  THotLine& Materialize(int line);
  void Evict(THotLine& slot);
  void PackText(TLineRecord& record, const char* text, int length);
  void ReadDisk(const TLineRecord& record, char* out) const;
  void ReserveLine();
  void StoreText(int line, std::string_view text, bool dropOffset);
  void AppendDiskLine(int length, std::int32_t fileOffset, int attribute);
  static int SlotIndex(int mark);

  // What every write to a screen row does: the row's line made hot and
  // padded, the columns first..last it covers (clipped to the line) given
  // their text by writeText(cells, first, last) and the attribute, the line
  // marked rewritten and, with damage, repainted.
  template <typename TWriteText>
  void WriteRow(int row, int column, int count, int attribute, bool damage, TWriteText writeText);

  void AddDamage(int line, int left, int right);
  void NoteDamage();
  void Follow() {
    if (Options & boAutoTracking) {
      if (!Damage.FollowCursor) {
        Damage.FollowCursor = true;
        NoteDamage();
      }
    }
  }

  std::vector<TLineRecord> Lines;
  std::unique_ptr<THotLine[]> Hot;
  TTextArena Arena;
  TRunPool RunLists;
  TScreenDamage Damage;
  bool DamagePending = false;
  int CursorX = 1, CursorY = 1;
  int Fd = -1;
  int StreamState = 0;
};
