// The reader of the mode definition files: opening the file set with its
// version check, and every lookup the trace decoders are built on.
//
// The reader needs no session: files come from a TModeFileStore (disk or
// memory) and failures go to a TModeFileReporter (the session's adapter in
// modefile_session.h shows them through the error reporter). Every read turns
// I/O errors into result codes; where a lookup reports a failure it does so
// once, with the texts the program shows, and answers with the numeric form or
// "not found" so a decode can go on.
//
// Hostile files are bounded: a read never leaves its file, a name never leaves
// its record, a set table walk never leaves the table, a constant chain that
// comes back to a record it has read ends there, and a mode run stops after
// kMaxComponents components.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "log/errors.h"
#include "trace/bytesource.h"
#include "trace/messagebuffer.h"
#include "trace/modefile_records.h"

// Where the reader's failures go.
class TModeFileReporter {
 public:
  virtual ~TModeFileReporter() = default;
  // A box for the user: kind, system error code, text (as for ReportError).
  virtual void ReportError(TErrorKind kind, std::uint32_t code, const std::string& text) = 0;
  // A diagnostic line that is not shown in the window.
  virtual void Diagnostic(const std::string& line) {}
};

// Drops everything (the fuzzer, callers that only probe).
class TSilentReporter final : public TModeFileReporter {
 public:
  void ReportError(TErrorKind, std::uint32_t, const std::string&) override {}
};

// The files of one mode definition set, by extension (".ver", ".msg", ...).
class TModeFileStore {
 public:
  virtual ~TModeFileStore() = default;
  // The name shown in messages: the base name followed by the extension.
  virtual std::string DisplayName(std::string_view extension) const = 0;
  virtual bool Exists(std::string_view extension) const = 0;
  // nullptr with *code set when the file cannot be opened.
  virtual std::unique_ptr<TByteSource> Open(std::string_view extension, std::uint32_t* code) const = 0;
};

// The files <base><extension> on disk. The base may use "\" separators and a
// drive prefix; a name that does not exist is matched case-insensitively, so
// "MODES.MOD" made on Windows is found for the base "modes".
class TDiskModeFiles final : public TModeFileStore {
 public:
  explicit TDiskModeFiles(std::string baseName) : Base(std::move(baseName)) {}
  std::string DisplayName(std::string_view extension) const override;
  bool Exists(std::string_view extension) const override;
  std::unique_ptr<TByteSource> Open(std::string_view extension, std::uint32_t* code) const override;
  // The path that is opened for an extension.
  std::string PathOf(std::string_view extension) const;

 private:
  std::string Base;
};

// Files held in memory, by extension; a missing extension does not exist.
class TMemoryModeFiles final : public TModeFileStore {
 public:
  TMemoryModeFiles(const std::map<std::string, std::string>& files, std::string displayBase = "MEMORY");
  std::string DisplayName(std::string_view extension) const override { return Base + std::string(extension); }
  bool Exists(std::string_view extension) const override;
  std::unique_ptr<TByteSource> Open(std::string_view extension, std::uint32_t* code) const override;

 private:
  std::map<std::string, std::shared_ptr<const std::string>> Files;
  std::string Base;
};

// --- The version file ---

// The major version carried by one line of ".ver", or nullopt when the line is
// not a version line. The line is trimmed and upper-cased; it must read
// "VERSION", "=", "VERSION" and a number, each part separated by optional
// blanks; everything from the first "." of the number on is dropped and the
// rest is read as a 16-bit number (blanks ignored, a trailing "H" makes it
// hexadecimal).
std::optional<std::uint16_t> ParseVersionLine(std::string_view line);

// The major version of the first version line of a ".ver" text (lines end in
// CR LF, LF or CR), or nullopt when it has none.
std::optional<std::uint16_t> FindVersion(std::string_view text);

// --- Texts of set and constant values (the reader's and the decoders' cache) ---

// The bits a value of a set of n elements is read with: as many as n - 1
// needs, at least 1. n - 1 is taken in 16 bits (an empty set needs 16).
std::uint32_t SetValueWidth(std::uint16_t n);
// A set element's name as it is shown: in lower case.
std::string ShownElementName(std::string_view stored);
// `SetElementText` of a known value in a set of n elements; `name` is the
// element's ShownElementName, nullptr when the table does not hold it whole.
// A value not below n, or convertSetElements off: the value in hex (4 digits
// when n > 255 or the value > 255, else 2). An empty name: that hex form and
// a space. Otherwise the name.
std::string SetValueText(std::uint16_t value, std::uint16_t n, const std::string* name, bool convertSetElements);
// `SynValueText` of a known value; `name` is the trimmed name its chain
// gives it, nullptr when it has none. Named: 4 hex digits + "(" + name + ")".
// Otherwise by the field's width: 0 or above 16: 4 hex digits; 1-4: 1; 5-8: 2;
// 9-16: 4.
std::string ConstantValueText(std::uint16_t value, std::uint32_t width, const std::string* name);

// --- The open file set ---

// Result of reading entry n of .msg, .usb or .bid.
enum class TIndexStatus {
  Found,
  Absent,  // the entry lies (partly) beyond the end of the file: no decoding
  Failed,  // an I/O error, already reported
};

struct TModeIndexRead {
  TIndexStatus Status = TIndexStatus::Absent;
  std::int32_t Index = kIndexHexDump;  // when Found: a .mod index or -1..-6
};

struct TMbidIndexRead {
  TIndexStatus Status = TIndexStatus::Absent;
  TMbidIndexEntry Entry;
};

// A mode: its header record and the component records that follow it with the
// same mode number.
struct TModeRun {
  TReadStatus Status;          // of the header; nothing else is set when it failed
  TModeRecord Header;
  std::vector<TModeRecord> Components;
  // How the run ended after the last component: Ok when a record with another
  // mode number followed, PastEnd at the end of the file (a header-only mode
  // may be the last record), Failed when the next record could not be read.
  TReadStatus End;
  bool Truncated = false;      // kMaxComponents reached

  bool ok() const { return Status.ok(); }
};

struct TModeLookup {
  bool Found = false;
  std::int32_t Index = -1;   // the mode index in .mod
  TModeRecord Header;        // offsets 0-92 of the header record; 93-108 are 0
};

struct TSetLookup {
  bool Found = false;
  std::int32_t Offset = -1;  // of the SetElementBlock in .sem
};

// A constant chain as read: its records in order, and the record where it
// broke off when one could not be read.
struct TChainBreak {
  std::int64_t Record = 0;
  std::uint32_t Code = 0;
};
struct TConstantChain {
  std::vector<TSynRecord> Records;
  std::optional<TChainBreak> Break;
};

struct TSynLookup {
  bool Found = false;
  std::int32_t Record = -1;  // the .sna record number
  std::int32_t SynIndex = -1;  // the SynRecord it names
  std::uint16_t Value = 0;
  std::string ModeName;      // 40 characters as stored
};

// `TraceFileSet`: .msg, .usb, .bid, .mod, .sem and .syn, open together; the
// name indexes .mna, .sen and .sna are opened at each lookup.
class TTraceFileSet {
 public:
  static constexpr std::size_t kMaxComponents = 65535;

  // The checks and opens of trace conversion: the version in ".ver" (missing,
  // unreadable, too old, or without a version line), then .msg, .bid, .mod,
  // .sem, .syn, .usb must all exist, and then open, in that order. The first
  // failure is reported with the program's text and gives nullptr.
  static std::unique_ptr<TTraceFileSet> Open(std::shared_ptr<const TModeFileStore> store,
                                             TModeFileReporter& reporter);
  // The same for the "Mode File Name" setting (a base without extension); an
  // empty name reports "No trace file specified. ...".
  static std::unique_ptr<TTraceFileSet> OpenBase(const std::string& modeFileName,
                                                 TModeFileReporter& reporter);

  TModeFileReporter& Reporter() const { return Report; }
  const TModeFileStore& Store() const { return *Files; }

  // --- Message indexes (.msg, .usb) and MBID index (.bid) ---
  // Entry n of .msg / .usb; a read failure reports a file access error for
  // "MSG Index File" / "Userbuffer Index File".
  TModeIndexRead MessageModeIndex(std::uint32_t identity) const;
  TModeIndexRead UserBufferModeIndex(std::uint32_t identity) const;
  // Record n of .bid; a read failure reports "MBID Index File".
  TMbidIndexRead MbidIndexEntry(std::uint32_t mbid) const;

  // --- Modes (.mod) ---
  std::uint64_t ModeRecordCount() const;
  // Record `index`; nothing is reported (callers name the failure their way).
  TReadStatus ReadModeRecord(std::int64_t index, TModeRecord& out) const;
  // The header at `index` and its components.
  TModeRun ReadModeRun(std::int64_t index) const;

  // --- Sets (.sem) ---
  // N, S and up to S bytes of names (fewer when the file ends first).
  TReadStatus ReadSetElementBlock(std::int64_t offset, TSetElementBlock& out) const;
  // `SetElementText` (see SetValueText). value 0xFFFF: the value is read from
  // the buffer at byteOffset/bitOffset with SetValueWidth(N) bits. A failed
  // read of N and S is reported (ReportSetBlockFailure) and gives "".
  std::string SetElementText(std::int64_t blockOffset, std::uint16_t value, const TMessageBuffer& buffer,
                             std::uint32_t byteOffset, std::uint32_t bitOffset, TPackMode mode,
                             bool convertSetElements) const;
  // "Unable to read Set Element File. File Index =" and the offset in 8 hex digits.
  void ReportSetBlockFailure(std::int64_t offset, std::uint32_t code) const;

  // --- Named constants (.syn) ---
  std::uint64_t SynRecordCount() const;
  TReadStatus ReadSynRecord(std::int64_t index, TSynRecord& out) const;
  // The chain from `first` (-1 or beyond the file: none), ending at a -1
  // link, at a record that cannot be read, when it comes back to a record it
  // has read, or at the first record that holds `until`. Nothing is reported.
  TConstantChain ReadConstantChain(std::int64_t first, std::optional<std::uint16_t> until = std::nullopt) const;
  // "Unable to read Syn-Mode-File. File Index =" and the record's index in 8 hex digits.
  void ReportChainBreak(const TChainBreak& at) const;
  // The records of the chain from `first`; a break is reported.
  std::vector<TSynRecord> ConstantChain(std::int64_t first) const;
  // `SynValueText` (see ConstantValueText). width 0: the value is valueOrOffset
  // itself; otherwise it is read from the buffer at valueOrOffset/bitOffset.
  // A break in the chain before the value is found is reported.
  std::string SynValueText(std::int64_t first, std::uint32_t valueOrOffset, std::uint32_t bitOffset,
                           std::uint32_t width, TPackMode mode, const TMessageBuffer& buffer) const;

  // --- Name indexes (.mna, .sen, .sna): binary search, exact bytes ---
  // The name is cut to 40 (48 for sets, which are trimmed first) characters and
  // padded with spaces; no case folding. A read past the last record ends the
  // search quietly; an unreadable index or record reports a file access error.
  TModeLookup LookupModeByName(std::string_view name) const;
  TSetLookup LookupSetByName(std::string_view name) const;
  TSynLookup LookupSynByName(std::string_view name) const;

 private:
  TTraceFileSet(std::shared_ptr<const TModeFileStore> store, TModeFileReporter& reporter);

  TModeIndexRead ReadModeIndex(const TByteSource& file, std::uint32_t n, const char* errorName) const;
  // Binary search of an index file; the entry's index or nullopt.
  struct TSearchHit {
    std::int32_t Record;
    std::int32_t Index;
  };
  std::optional<TSearchHit> SearchIndex(std::string_view extension, const std::string& key,
                                        std::size_t entrySize, std::uint32_t maxRecords) const;

  std::shared_ptr<const TModeFileStore> Files;
  TModeFileReporter& Report;
  std::unique_ptr<TByteSource> Msg, Bid, Mod, Sem, Syn, Usb;
};
