// DSS1 messages of a trace written as a capture file that Wireshark and
// tshark read: each message a Q.931 PDU in a LAPD I frame (link type 203).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "log/file.h"

// One DSS1 message as the trace decoder has it.
struct TDss1Capture {
  const std::uint8_t* Bytes = nullptr;
  std::size_t Count = 0;
  std::string_view Time;       // the message header's time, "HH:MM:SS.hh"
  std::string_view Direction;  // the header's direction field ("SND", "RCV", "D")
};

// Seconds and microseconds since midnight of a trace time "HH:MM:SS" with an
// optional fraction of any number of digits; nullopt for anything else.
struct TTimeOfDay {
  std::uint32_t Seconds = 0;
  std::uint32_t Micros = 0;
};
std::optional<TTimeOfDay> ParseTraceTime(std::string_view text);

// True when the exchange sent the message (the direction field reads "S...").
// The exchange is the network side of the D channel.
bool SentByExchange(std::string_view direction);

// The LAPD I frame around a Q.931 PDU: SAPI 0, TEI 0, N(S) and N(R) 0, and
// the C/R bit set for frames of the network side (commands from the network
// carry C/R 1, from the user 0).
std::vector<std::uint8_t> LapdFrame(const std::uint8_t* pdu, std::size_t count, bool fromNetwork);

class TPcapWriter {
 public:
  static constexpr std::uint32_t kLinkTypeLapd = 203;

  // Creates (or empties) the file and writes the capture header: 0 or errno.
  int Open(const std::string& path);
  bool IsOpen() const { return File.IsOpen(); }
  // One frame per message, stamped DayStart + the header's time. A time
  // that cannot be read takes the stamp of the frame before. 0 or errno.
  int Write(const TDss1Capture& message);
  void Close() { File.Close(); }
  std::size_t Frames() const { return FrameCount; }

  // The trace header gives only the time of day; frames fall on this day
  // (seconds since the epoch of its midnight, UTC). Open sets today's.
  std::int64_t DayStart = 0;
  // Faults for tests (may be null).
  void SetFaults(TFileFaults* faults) { File.SetFaults(faults); }

 private:
  int WriteAll(const std::vector<std::uint8_t>& bytes);
  TFile File;
  std::size_t FrameCount = 0;
  TTimeOfDay Last;
};
