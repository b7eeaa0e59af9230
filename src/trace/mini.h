// The MINI trace: the exchange's compact trace of hex word lines. Each line
// " WOR <address>    FFFt w2 w3 ..." carries a record marker FFFt in columns
// 19-22 (t the record type) and 16-bit words every five columns after it;
// the recogniser prints each record as labelled lines, register dumps with
// their DUMP AREA, and passes traced messages to the message decoder.
//
// Record layouts beyond the marker (words counted from w2 in columns 24-27):
//   0, D  SSM interrupt    w2 IP, w3 CS, w5 procedure id; words from w6 on
//                          are printed as a DATA line
//   4, E  OS call          as 0, w5 the primitive number
//   5, C  time stamp       b1:b0:b3:b2 (bytes of w2, w3) the time of day,
//                          w4 w5 the milliseconds, low byte of w6 microseconds
//   6     routing          w2 the FMMID (FFFE: the OS nucleus), w3 FFFF sent
//                          locally, FFFD sent externally, FFFE received
//                          locally, else received externally
//   7     shell tracing    w2 event code, w4 task word, w5 field word
//   8-B   packet           words from w2 on are printed as a DATA line
//   1, 2, F  start of a traced message: w2 identity, w3 source, w4
//          destination, w5 length field (bytes low first: length, routing
//          and flag digits), w6 type field, w7 user buffer size and w8 path
//          (FFFF: none). Record types 1, 2 and F mean sent, received and
//          both. The three lines after it hold the message words; a message
//          longer than those continues on the lines that follow, and a user
//          buffer starts on the line after the message's last word.
//   3     message header: the last kept line (a message start or a received
//          packet) is taken as the header; the message words follow on the
//          lines after it.
//   FFBB  register dump: the 15 register words BRP FL CS IP AX BX CX DX SS
//          SP BP DS SI ES DI fill the rest of this line and the next one;
//          words beyond them and the lines that follow are the DUMP AREA.
// A line without a marker continues the record before it: message words
// after a message header, more data after packets, interrupts and calls
// (printed as UBUF lines), more bytes of a DUMP AREA.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TSession;

// MINI states.
enum TMiniState : std::uint8_t {
  msOff = 0,
  msAfterTime = 1,
  msMessageRecord = 2,   // collecting the four lines of a message record
  msAfterHeader = 3,     // message words follow
  msAfterPacket = 5,     // after a packet or shell tracing record
  msAfterDumpHeading = 6,
  msAfterData = 7,       // a record whose data has been printed
  msDumpArea = 8,        // after the " DUMP AREA " line
  msAfterCall = 9,       // after an interrupt or call record
};

class TMiniTrace {
 public:
  explicit TMiniTrace(TSession& session);

  static constexpr const char* kRegisterHeading =
      " BRP   FL   CS   IP   AX   BX   CX   DX   SS   SP   BP   DS   SI   ES   DI";

  // The receive path asks this before handing a character over; false while
  // MINI trace is off, so plain text never pays for the recogniser.
  bool WantsCharacters() const { return Active; }
  TMiniState CurrentState() const { return State; }

  // Every received character while MINI trace is on; true when consumed
  // (always while on).
  bool MiniTraceReceiveChar(std::uint8_t c) {
    if (!Active) return false;
    TakeChar(c);
    return true;
  }

  // Switches MINI trace on: state "after a time record", the line
  // accumulator emptied, the host name files opened.
  void MiniTraceOn();
  // Switches it off; a message still being collected is decoded first. The
  // host name files are closed unless trace conversion is on.
  void MiniTraceOff();

  // Starts reading without the host name file handling (the conversion of a
  // marked dump reads its lines through a recogniser of its own).
  void StartReading();
  // Ends a reading: a message still being collected is decoded.
  void FinishReading();

  // One complete received line.
  void ProcessLine(std::string_view line);
  // A line that carries a record marker.
  void MiniTraceLine(std::string_view line);
  // Prints the register values under the heading, the " TIME" line, the
  // " DUMP AREA " line and dump bytes beyond the registers.
  void DumpArea();

 private:
  void TakeChar(std::uint8_t c);
  // Received characters go to the trace decoder when MINI trace does not
  // take them (trace conversion on, or the error conversion file open).
  bool DecoderTakesCharacters() const;
  void Write(std::string_view text);
  void WriteData(std::string_view label);
  // Words of a line into a cleared MessageBuffer: from column 24 (after the
  // marker) or from column 19 (a line without one).
  void ReadWords(std::string_view line, std::size_t column);
  void TimeRecord(std::string_view line, bool secondForm);
  void CallRecord(std::string_view line, bool interrupt);
  void RoutingRecord(std::string_view line);
  void ShellTracing(std::string_view line);
  void PacketRecord(std::string_view line, char type);
  void ContinuationLine(std::string_view line);

  // Messages.
  void MessageRecordLine(std::string_view line);
  void StartMessage(std::string_view startLine);
  void MessageWords(std::string_view line);
  void FinishMessage();
  // The buffer being collected is complete: decode it and go on with the
  // user buffer, if the message has one.
  void FinishCollecting();
  void DecodeCollected(int which);
  // A message that did not get all its words is decoded with what it has.
  void StopCollecting();

  // The register dump words of a line from `column` on, every five columns.
  void TakeDumpWords(std::string_view line, std::size_t column);
  // One line of DUMP AREA bytes from the MessageBuffer.
  void DumpBytes();

  TSession& S;
  bool Active = false;  // MINI trace is on: received characters come here first
  TMiniState State = msOff;
  bool Live = true;  // the recogniser of the receive path (not a conversion's)

  std::string KeptLine;                 // the last message start or received packet
  std::vector<std::string> RecordLines;  // the lines of a message record
  int Collecting = 0;                   // 0 none, 1 message buffer, 2 user buffer
  std::string LastTime;                 // "hh:mm:ss:t" of the last time stamp
  std::vector<std::uint16_t> DumpWords;  // register dump words read so far
  std::uint32_t DumpOffset = 0;         // bytes of the DUMP AREA printed so far
  std::string Out;
  // A decode may let the window run; characters that arrive meanwhile wait
  // here and are taken in order afterwards.
  int Busy = 0;
  std::string Deferred;
};
