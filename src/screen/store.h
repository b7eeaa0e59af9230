// TBrowse store: the unbounded scroll-back of 132-column attributed lines
// whose last `Rows` lines are the live terminal screen.
//
// Lines near the bottom are kept "hot" in expanded form (text plus 132
// attribute numbers) so terminal writes touch no heap; a line is packed into
// its warm form (text without trailing blanks in its block's buffer, a shared
// run list) when it leaves the hot window. Blocks of kBlockLines that fall
// well behind the bottom are compressed by a worker thread; reading one of
// their lines unpacks the block into a small cache, writing one makes the
// block warm again for a while. What callers see (texts, lengths, run lists,
// states, marks) does not depend on which form a line is in.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "screen/attributes.h"
#include "screen/blocks.h"
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

// What the scroll-back holds and costs, for the status bar.
struct TStoreFigures {
  std::int64_t Lines = 0;
  std::int64_t PackedLines = 0;   // in compressed blocks
  std::int64_t TextBytes = 0;     // serialised size of the compressed blocks' lines
  std::int64_t PackedBytes = 0;   // their compressed size
  std::int64_t ResidentBytes = 0; // everything the store holds
  double Ratio() const { return PackedBytes > 0 ? static_cast<double>(TextBytes) / PackedBytes : 1.0; }
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
  // Lines behind the newest that stay uncompressed (about 23 MB of exchange
  // output): the recent history scrolls, finds and takes rewrites without
  // unpacking, and a session that never gets that long never pays for the
  // packing; only what is older is compressed. Tests make it small.
  int WarmLines = 128 * kBlockLines;
  // Progress windows and message pumping while loading and saving; may be null.
  TDesktop* Desktop = nullptr;

  TAttributeManager Attributes;
  TMarkManager Marks;

  int Count() const { return LineCount; }
  // Lines the line table has room for before it doubles (2708 at first).
  int Capacity() const { return TableCapacity; }

  int CursorXPosition() const { return CursorX; }
  int CursorYPosition() const { return CursorY; }
  // In terminal use (none of boMarkCursorLine, boListBox, boEditor) limited to
  // Cols x Rows, otherwise to 132 columns and the visible rows.
  void SetCursor(int column, int row) {
    // The terminal's own moves, on its screen: nothing to limit.
    if (!(Options & (boMarkCursorLine | boListBox | boEditor | boSuppressCursor)) && column >= 1 &&
        column <= Cols && row >= 1 && row <= Rows) {
      CursorX = column;
      CursorY = row;
      Follow();
      return;
    }
    LimitCursor(column, row);
  }

  // --- Lines (from 0; a line outside the store is ignored) ---
  void AddLine(std::string_view text, int attribute, bool paint);
  // AddLine(BlankRow(), attribute, paint) without copying the blanks.
  void AddBlankLine(int attribute, bool paint);
  // A line of the backing file; the store keeps its own copy of the text, so
  // the file may change or vanish without the view noticing.
  void AddDiskLine(std::string_view text, std::int32_t fileOffset, int attribute);
  std::string GetLineText(int line) const;
  // The same text without a copy where a warm line holds it whole; other
  // lines are put together in scratch (kMaxLineLength bytes). Valid until
  // the store next changes.
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
  // Screen rows top..bottom scroll by count rows (up: towards the top) over
  // columns left..right as CopyBlock would move them, without moving cells:
  // the rows' lines take each other's expanded slots. Only while every row
  // of the region is expanded and the rows look alike outside those columns
  // (the common case: blanks in one attribute); false, with nothing moved,
  // otherwise. The count rows the scroll uncovers then hold what scrolled
  // out of the region, and all of its lines count as rewritten: the caller
  // erases columns left..right of those rows.
  bool RotateScreenRows(bool up, int count, int left, int top, int right, int bottom);
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

  // --- Scanning and accounting ---
  // A line's text as far as it is stored (the rest up to length is blanks).
  using TLineTest = std::function<bool(std::string_view stored, int length)>;
  // The first line from `from` towards `to` (upward when to < from, both
  // clipped to the store) that passes test, or -1. Compressed blocks are
  // unpacked on several threads at once where that pays, so test may run
  // concurrently and must only read what it was given.
  int ScanLines(int from, int to, const TLineTest& test) const;
  TStoreFigures Figures() const;
  // Compresses every block behind the warm tail, the ones written to since
  // included, and waits for the worker.
  void Settle();

  // --- Damage ---
  const TScreenDamage& PendingDamage() const { return Damage; }
  TScreenDamage TakeDamage();
  // Called when damage appears while none was pending (the view schedules a paint).
  std::function<void()> OnDamage;

 private:
  // Expanded form of a line being written. Text beyond Length is always
  // blanks, and so is text from Extent on, in a free slot too: filling a slot
  // blanks only what its last line wrote, and packing a line looks for its
  // trailing blanks only below Extent. Every cell from column TailFrom on has
  // the attribute TailAttr (TailFrom past the last cell: no such column is
  // known); from column 1 the line has one look, and writes in it compare
  // nothing. Rows alike beyond a region's columns can change places.
  struct THotLine {
    int Line = -1;
    bool TextDirty = false;  // the warm text is stale
    bool RunsDirty = false;  // the run list is stale
    bool Rewritten = false;  // the line's record says lsRewritten already
    std::uint8_t Length = 0;
    std::uint8_t Extent = 0;
    std::uint8_t TailFrom = kLineCells + 1;
    std::uint16_t TailAttr = 0;
    char Text[256];
    std::uint16_t Attr[kLineCells];

    bool AllLookLike(std::uint16_t a) const { return TailFrom == 1 && TailAttr == a; }
    void SetOneLook(std::uint16_t a) {
      TailFrom = 1;
      TailAttr = a;
    }
    // Cells first..last were given the look a (LooksSet), or cells up to
    // last any looks (LooksChanged).
    void LooksSet(int first, int last, std::uint16_t a);
    void LooksChanged(int last) {
      if (last >= TailFrom) TailFrom = static_cast<std::uint8_t>(last + 1);
    }
    void FindTail();  // TailFrom and TailAttr from the cells
  };
  static constexpr int kHotLines = 64;

  struct TStoredBlock {
    std::unique_ptr<TLineSegment> Warm;  // null while packed
    TPackedBlock Packed;
    std::unique_ptr<std::uint8_t[]> Marks;  // four slots a line; null while none is set
    std::uint32_t MarkedSlots = 0;
    std::uint32_t Version = 0;  // changes with every write to the warm form
    bool Packing = false;       // with the worker
  };
  // A packed block unpacked for reading.
  struct TUnpacked {
    int Block = -1;
    std::uint64_t Used = 0;
    TLineSegment Segment;
  };
  struct TLineRef {
    const TLineRecord& Record;
    const char* Text;  // Record.Stored bytes
  };
  static constexpr int kUnpackedBlocks = 4;
  static constexpr int kThawedBlocks = 4;  // older blocks kept warm after a write
  static constexpr std::size_t kMaxPacking = 8;  // jobs with the worker before the window thread packs itself

  bool ValidLine(int line) const { return line >= 0 && line < Count(); }
  // Lines are never negative here: the place is found without a sign.
  THotLine* HotFor(int line) const {
    THotLine* slot = Slots[static_cast<unsigned>(line) % kHotLines];
    return slot->Line == line ? slot : nullptr;
  }
  // The line's slot, the line made hot first when it is not.
  THotLine& Materialize(int line) {
    THotLine* slot = HotFor(line);
    return slot ? *slot : MakeHot(line);
  }
  THotLine& MakeHot(int line);
  void Evict(THotLine& slot);
  // Text and looks of `width` columns of one hot line to another (or the same).
  static void MoveCells(const THotLine& source, int from, THotLine& target, int targetFrom, int width);
  // CopyBlock of screen rows up or down over the same columns while every
  // line is expanded (a region scrolling); false, having moved nothing, when
  // one is not.
  bool MoveScreenRows(int sourceTop, int targetTop, int height, int from, int width);
  // A slot's text made `length` bytes of text and blanks after them.
  static void SetHotText(THotLine& slot, const char* text, int length);
  // A write reached the line: its record says so once.
  void MarkRewritten(THotLine& hot);
  // `extent`: no byte from there up to length is other than a blank.
  void PackText(TLineSegment& segment, TLineRecord& record, const char* text, int length, int extent);
  void AddHotLine(const char* text, int length, int attribute, bool paint);
  void ReserveLine();
  TLineRecord& AppendRecord(int attribute);
  void StoreText(int line, std::string_view text, bool dropOffset);
  void AppendDiskLine(const char* text, int length, std::int32_t fileOffset, int attribute);
  static int SlotIndex(int mark);

  // Blocks: reading any line, writing a warm one (a packed block is unpacked
  // and packed again once others have been written), and the packing of
  // blocks behind the warm tail.
  const TLineSegment& Segment(int block) const;
  TLineRef Line(int line) const;
  TLineSegment& WarmSegment(int block);
  TLineRecord& WarmRecord(int line);
  std::string_view StoredText(int line) const;
  void AfterLineAdded();
  void StartPacking(int block);
  void Install(std::vector<TBlockPacker::TJob> jobs);
  void RepackThawed();
  int ScanBlock(int block, int from, int to, const TLineTest& test, TBlockCodec& codec,
                TLineSegment& scratch) const;
  const std::uint8_t* MarkSlots(int line) const;
  void SetSlot(int line, int slot, std::uint8_t value);

  // What every write to a screen row does: the row's line made hot and
  // padded, the columns first..last it covers (clipped to the line) given
  // their text by writeText(cells, first, last) and the attribute, the line
  // marked rewritten and, with damage, repainted.
  // Blanks (`blanks`) raise no line's Extent.
  template <typename TWriteText>
  void WriteRow(int row, int column, int count, int attribute, bool damage, bool blanks,
                TWriteText writeText);

  void LimitCursor(int column, int row);
  void AddDamage(int line, int left, int right) {
    // Mostly the rows of the last damage again: tests, not stores.
    left = std::max(left, 1);
    right = std::min(right, kMaxLineLength);
    if (line < Damage.FirstLine) Damage.FirstLine = line;
    if (line > Damage.LastLine) Damage.LastLine = line;
    if (left < Damage.LeftColumn) Damage.LeftColumn = left;
    if (right > Damage.RightColumn) Damage.RightColumn = right;
    if (!DamagePending) NoteDamage();
  }
  void NoteDamage();
  void Follow() {
    if (Options & boAutoTracking) {
      if (!Damage.FollowCursor) {
        Damage.FollowCursor = true;
        NoteDamage();
      }
    }
  }

  std::vector<TStoredBlock> Blocks;
  int LineCount = 0;
  int TableCapacity = 0;
  std::unique_ptr<THotLine[]> Hot;
  // The slot of each line's place (line % kHotLines): a region scrolls by
  // handing its rows' slots round.
  THotLine* Slots[kHotLines];
  TRunPool RunLists;
  mutable TUnpacked Unpacked[kUnpackedBlocks];
  mutable std::uint64_t UseClock = 0;
  mutable TBlockCodec Codec;
  std::unique_ptr<TBlockPacker> Packer;
  std::uint32_t Generation = 0;  // Clear starts a new one: older packing results are dropped
  int PackCursor = 0;             // the next block to pack once it is behind the warm tail
  std::deque<int> Thawed;         // older blocks made warm by writes, oldest first
  TScreenDamage Damage;
  bool DamagePending = false;
  int CursorX = 1, CursorY = 1;
  int Fd = -1;
  int StreamState = 0;
};
