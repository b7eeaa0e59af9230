// The trace message decoder: received characters become lines; header lines
// are printed field by field, data lines collect the message and user buffers
// into the MessageBuffer, and complete buffers are decoded through their modes
// (DecodeMode and friends, decode_mode.cpp), as MBID lists or as DSS1
// (dss1.cpp). Every line goes out through the screen writer's WriteLine.
//
// The MINI trace and the mode display/conversion share the line accumulator,
// the MessageBuffer and the header fields, and call ParseDataLine, ParseHeader,
// PrintHeader, DecodeBuffer, DecodeMode, DecodeMbidList and MbidLine.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "trace/lineassembly.h"
#include "trace/messagebuffer.h"
#include "trace/modecache.h"

class TSession;
class TModeDecoder;
class TPcapWriter;
struct TDss1Capture;
struct TFileFaults;

// The three layouts of a message header line.
enum class THeaderLayout : std::uint8_t {
  A,   // fields from column 14, direction and time at the end
  B17, // fields from column 17
  B18, // fields from column 18
};

// The layout of a header line, by where the underscore of its source field
// stands: column 21 (B17), else 22 (B18), else 18 (A); nullopt for none.
std::optional<THeaderLayout> HeaderLayoutOf(std::string_view line);

// The fields of the last message header.
struct TMessageHeader {
  std::string Line;         // the header line as received
  std::string Source;       // 9 characters
  std::string Destination;  // 9
  std::string Length;       // 4: two hex digits of the length, routing, ...
  std::string Type;         // 4: priority, routing kind, flags
  std::string Path;         // 4, "...." when absent
  std::string BufferPointer;  // 9
  std::string BufferSize;   // 4, "...." without a user buffer
  std::string Direction;    // 3 (1 in layout B18); second character S, R or D
  std::string Time;         // 11
  THeaderLayout Layout = THeaderLayout::A;
};

// Data line grouping of ParseDataLine.
enum TGrouping : std::uint8_t { grWords = 0, grBytes = 1 };

class TTraceDecoder {
 public:
  explicit TTraceDecoder(TSession& session);
  ~TTraceDecoder();

  // --- Program-wide trace state ---
  enum TTraceState : int { tsOff = 0, tsHostNames = 1, tsConverting = 2 };  // 1: host name files only
  TTraceState TraceState = tsOff;
  bool AbortRequested = false;

  // A command on the mode files (a conversion, a Display Mode listing) is
  // running: meanwhile the window's break key sets AbortRequested, the
  // status bar's gauge shows how far it is, and no second one starts.
  struct TCommandProgress {
    bool Running = false;
    std::uint64_t Position = 0;
    std::uint64_t Maximum = 0;
    int Percent() const { return Maximum == 0 ? 0 : static_cast<int>(std::min<std::uint64_t>(Position, Maximum) * 100 / Maximum); }
  };
  TCommandProgress Command;
  // Called when a command starts or ends and when its percentage moves (the
  // window redraws its gauge); may be unset.
  std::function<void()> OnCommandProgress;
  void BeginCommand();
  // Ends it; a break-off requested meanwhile is forgotten with it.
  void EndCommand();
  void CommandProgress(std::uint64_t position, std::uint64_t maximum);
  // The "Trigger On/Off" switch: print only the messages around a chosen one.
  bool TriggerEnabled = false;

  // --- Shared with the MINI trace and the conversions ---
  TLineAccumulator Line;
  TMessageBuffer MessageBuffer;
  std::string MessageName;        // trimmed, without padding
  std::uint16_t MessageIdentity = 0;  // 0: none
  TMessageHeader Header;
  std::int32_t ExpectedMessageLength = 0;
  std::int32_t ExpectedUserBufferLength = 0;
  bool FirstLine = true;      // no data line taken since the last flush
  bool HeaderPrinted = false;
  int SpecialDecoder = 0;     // 0 modes, 1 MBID list, 2 DSS1, 3 and 4 not decoded, 5 (.msg -6)
  // Word/byte conversion of a marked dump: 0 idle, 1 armed, 2 collecting.
  int ConversionState = 0;
  // Called when a collecting conversion finishes (a line that is not part of
  // the dump arrived); the state is idle again before the call.
  std::function<void()> FinishConversion;

  // The cached reads of the open mode files (empty while they are closed).
  TModeCache Cache;

  // --- Entries ---
  // Every received character while trace conversion (or error conversion) is on.
  void TraceReceiveChar(std::uint8_t c);
  // A complete line (as the accumulator gives it).
  void ProcessLine(std::string_view line);
  // The engine's line timer ran out: a line held without its line feed is
  // processed now. True when there was one.
  bool FlushHeldLine();
  // The end of a batch input: the held line is processed and a buffer still
  // being collected is decoded.
  void EndOfInput();
  // Everything about the current message is forgotten (TraceOn, opening files).
  void ResetMessageState();
  // The message being collected, put aside while a marked area is converted
  // through this decoder and taken up again afterwards.
  struct TMessageState {
    TMessageBuffer Buffer;
    std::string Name;
    std::uint16_t Identity = 0;
    TMessageHeader Header;
    std::int32_t ExpectedMessageLength = 0, ExpectedUserBufferLength = 0;
    bool FirstLine = true, HeaderPrinted = false, Collecting = false, Decoded = false;
    int SpecialDecoder = 0;
  };
  TMessageState SaveMessageState() const;
  void RestoreMessageState(const TMessageState& state);
  // The trigger switch; switching on clears the trigger's matching state.
  void SetTriggerEnabled(bool on);

  // --- DSS1 messages handed on ---
  // Called with every DSS1 message decoded (a buffer that opens with the
  // protocol discriminator 08), before its lines are written.
  std::function<void(const TDss1Capture&)> OnDss1Message;
  // The "trace to pcap" switch: from now on every DSS1 message decoded is
  // also written to a capture file for Wireshark. 0, or the errno of the
  // failed create (the switch then stays off).
  // faults: a test's seam into the file (may be null).
  int StartPcapExport(const std::string& path, TFileFaults* faults = nullptr);
  // Closes the capture file; the frames written so far stay.
  void StopPcapExport();
  bool PcapExporting() const;
  // A write that failed switched the export off; its errno (0: none).
  int PcapError = 0;
  // Frames written since StartPcapExport.
  std::size_t PcapFrames() const;

  // --- The operations of the message decoder ---
  // The header line at start column 14, 17 or 18 (1-based).
  void ParseHeader(std::string_view line, THeaderLayout layout);
  void PrintHeader(bool shortForm);
  // phase 0 header, 1 message buffer complete, 2 otherwise.
  bool TriggerFilter(int phase);
  // Appends the hex groups of a data line: the first `skip` characters are
  // removed, the rest trimmed; 2-digit groups (bytes) when the third
  // character is a blank, 4-digit groups (words) when the third and fourth
  // are not, a byte when the line is one 2-digit group, else `grouping`.
  // Words are stored low byte first; "XXnn" is the one byte nn.
  void ParseDataLine(std::string_view line, std::size_t skip, TGrouping grouping);
  void FlushPending();
  // which: 1 message buffer, 2 user buffer.
  void DecodeBuffer(int which);
  // Hex dump of bytes [from, to) of the MessageBuffer at a nesting level:
  // lines of the indentation, " DATA = " and 16 bytes.
  void HexDump(std::uint32_t from, std::uint32_t to, int level);
  // The error reports of ConvertError mode (identities 119 and 2777).
  void PrintErrorReport();

  // --- Mode-driven decoding (decode_mode.cpp) ---
  // limitMode 0: the byte limit counts from byteOffset and stops at the byte
  // count; 1: it is an absolute offset. prefix: the line so far ("  NAME = ").
  void DecodeMode(std::int64_t mode, std::uint32_t byteOffset, std::uint32_t bitOffset, int limitMode,
                  std::uint32_t sizeBits, TPackMode pack, int level, std::string_view prefix,
                  std::uint32_t byteLimit);
  void DecodeMbidList(std::uint32_t start, std::uint32_t end);
  void MbidLine(std::uint32_t mbid, std::uint32_t length, std::uint32_t offset, int level);
  // DSS1 layer 3 message in the whole MessageBuffer (dss1.cpp).
  void DecodeDss1();
  // Names from the DSS1 vocabulary of the mode files ("0005(SETUP)"); the
  // value as 2 hex digits when the table is missing. A value the table does
  // not name: 2 digits for a message type, 4 (the constant text) for an IE.
  std::string MessageTypeName(std::uint8_t value);
  std::string IeName(std::uint8_t identifier, int codeset);

  // --- Helpers for every producer of trace lines ---
  // The yield step between items of long loops: true means stop (the user
  // broke off, or yields are nested 8 deep).
  bool YieldStop();

 private:

  void ProcessLineNow(std::string_view line);
  void ProcessDigitLine(std::string_view line, std::size_t p);
  void ProcessKeywordLine(std::string_view line, std::size_t p);
  void DataLine(std::string_view line, std::size_t skip);
  void UserBufferLine(std::string_view line, std::size_t p, bool ubuf);
  void DumpLine(std::string_view line, std::size_t p, TGrouping grouping);
  void WriteAsIs(std::string_view line);
  void FinishWordByteConversion();
  // A message buffer collected by data lines that never reached its expected
  // length is decoded before its bytes would be dropped.
  void DecodePartialMessage();
  // The message buffer collected from data lines is decoded (when shown) and emptied.
  void DecodeCollectedMessage();
  void TakeMessageName(std::string_view line, std::size_t p);
  // Stores a data value (0xFFFFFFFF: an invalid group, counted only) of 1 or 2 bytes.
  void StoreValue(std::uint32_t value, int bytes);
  void PrintFullHeader();
  // The constant chain of the DSS1 table that reserved record `record` names;
  // nullopt when the table is not provided (or not a RANGE over constants).
  std::optional<std::int64_t> Dss1Table(int record);
  // The DSS1 walk: the fixed part (the offset of the first IE, or nullopt
  // when the buffer ends first), then one IE at a time (the offset after it).
  std::optional<std::uint32_t> DecodeDss1Header();
  std::uint32_t DecodeSingleOctetIe(std::uint32_t i, int codeset);
  std::uint32_t DecodeVariableIe(std::uint32_t i, int codeset);
  void DecodeFacility(std::uint32_t first, std::uint32_t end);
  // The IE contents variant for an identifier (nullptr: none, or an ELSE).
  const TModeComponentRecord* Dss1Variant(std::uint8_t identifier);
  // Decodes the variant; returns the offset after the last octet it read.
  std::uint32_t DecodeDss1Variant(const TModeComponentRecord& c, std::uint32_t at, std::uint32_t octets);
  void HandOnDss1Message();
  void WordDump();

  TSession& S;
  std::unique_ptr<TModeDecoder> Modes;
  std::unique_ptr<TPcapWriter> Pcap;
  // The IE contents structure of the DSS1 message being decoded (may be null).
  std::shared_ptr<const TCachedMode> Dss1Contents;

  // Characters that arrive while a decode is running (a yield let the window
  // take more input) wait here and are processed in order afterwards.
  int Busy = 0;
  std::string Deferred, Draining;
  int YieldDepth = 0;
  std::string HeldLine;  // the line being processed, out of the accumulator
  std::string Scratch;

  // A message buffer is being collected from data lines.
  bool MessageCollecting = false;
  bool MessageDecoded = false;

  // Trigger state.
  int TriggerState = 0;
  bool TriggerArmed = false;
  int TriggerEntry = 0;
  std::string TriggerAddress1, TriggerAddress2;

  std::string Out;  // the line being built (reused)
};
