// The simulated exchange's PADS file server: after "PAD" and a password on
// the line it answers PADS frames, serving reads and writes of logical
// files from a directory, with faults to inject on request. Bytes in, bytes
// out; the caller owns the line and the clock.
#pragma once

#include <poll.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>

#include "transfer/padsframe.h"

struct TPadsServerOptions {
  std::string Dir;
  int CorruptCheck = 0;  // the Nth frame sent goes with a wrong check byte
  int DropFrame = 0;     // the Nth frame sent is never sent
  int Nak = 0;           // the Nth header received is answered NAK
  int Stall = 0;         // the Nth frame sent stops halfway for StallMs
  int StallMs = 1500;
  int Block = 4096;      // load and get block size offered to the improved protocol
};

// argv[i] as one of the PADS switches: 1 taken, 0 another argument, -1 a
// usage error described in error.
int TakePadsOption(int argc, char** argv, int& i, TPadsServerOptions& options, std::string& error);

class TPadsServer {
 public:
  using TClock = std::function<std::int64_t()>;
  static constexpr std::int64_t kFrameGapMs = 3000;  // a frame cut off this long is dropped

  TPadsServer(TPadsServerOptions options, TClock clock);

  void Start();  // the banner
  void Receive(std::string_view bytes);
  void Tick();
  std::string_view Output() const { return Out; }
  void Consume(std::size_t count) { Out.erase(0, count); }

  // The physical file name of a logical file, 18 characters, blank padded.
  static std::string PhysicalName(std::uint16_t device, std::uint16_t file);

 private:
  enum TMode { mdLine, mdPassword, mdFrames };
  enum TFrameState { fsSeek, fsHeader, fsRest };

  void LineByte(std::uint8_t b);
  void FrameByte(std::uint8_t b);
  void HeaderDone();
  void FrameDone();
  void Answer(const pads::TFrame& request);
  void Emit(const std::string& frame);
  void Reply(std::uint8_t type, int status, const std::string& data = {});

  void Link(const pads::TFrame& request);
  void OpenFile(const pads::TFrame& request, bool writing);
  void GetBlock(const pads::TFrame& request);
  void WriteBlock(const pads::TFrame& request);
  void Deallocate(const pads::TFrame& request);
  void Describe(const pads::TFrame& request);
  std::string PathOf(const pads::TFrame& request) const;
  void CloseFiles();

  const TPadsServerOptions Options;
  const TClock Clock;

  TMode Mode = mdLine;
  std::string Line;
  std::string Out;
  std::string Held;  // output behind a stalled frame
  std::int64_t HeldUntil = 0;

  TFrameState State = fsSeek;
  std::string Frame;
  std::size_t Expected = 0;
  std::int64_t FrameStart = 0;
  int FramesSent = 0;
  int HeadersSeen = 0;

  bool NewProtocol = false;
  std::size_t LoadBlock = 64;
  std::size_t GetBlockSize = 64;
  std::ifstream Reading;
  std::fstream Writing;
  std::string Pending;  // block data waiting for its write-block request
  int LastWritten = -1;
};

// Serves the line fd (raw, non-blocking) until wait says stop or the line
// goes down; wait polls the given descriptors for a short while.
int ServePads(int fd, const TPadsServerOptions& options, const std::function<bool(pollfd*, nfds_t)>& wait);
