// The trace message decoder (character input of the receive path).
#pragma once

#include <cstdint>

class TSession;

class TTraceDecoder {
 public:
  explicit TTraceDecoder(TSession& session);

  int TraceState = 0;  // 0 off, 1 host name files only, 2 conversion on
  bool AbortRequested = false;

  void CharInput(std::uint8_t c);

 private:
  TSession& S;
};
