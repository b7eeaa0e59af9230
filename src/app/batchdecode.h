// Batch decoding of a recorded trace (`qel decode`, the decode benchmark): a
// session set up as a QUORIX terminal with trace conversion on, fed the
// recording as received bytes; what comes out is the log text, line by line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class TSession;

struct TBatchDecodeOptions {
  std::string ModeBase;        // the "Mode File Name"
  bool OrnetGiven = false;     // else the settings' directory (empty without a settings file)
  std::string OrnetDirectory;
  int QuorixType = -1;         // 0 M1, 1 M2, 2 M3; -1: as the settings say
  bool Mini = false;           // MINI trace on
  bool ConvertError = false;   // error conversion with KASP.ERR
};

class TBatchDecoder {
 public:
  explicit TBatchDecoder(TSession& session);
  ~TBatchDecoder();

  // Each line of the log text, without its line end.
  std::function<void(std::string_view line)> Output;

  // Switches the session to decoding; false with *error set (the text of the
  // box that was shown) when the trace files cannot be used.
  bool Start(const TBatchDecodeOptions& options, std::string* error);
  void Feed(const std::uint8_t* data, std::size_t count);
  // The end of the recording: a line without its line end and a buffer still
  // being collected are decoded.
  void Finish();

 private:
  class TLineSink;

  TSession& S;
  std::unique_ptr<TLineSink> Sink;
};
