// The MINI trace recogniser: sees every displayable character first.
#pragma once

#include <cstdint>

class TSession;

class TMiniTrace {
 public:
  explicit TMiniTrace(TSession& session);

  // MINI trace conversion is on. While it is off Recognise consumes nothing,
  // which lets the receive path skip it for runs of plain text.
  bool Active = false;

  // True when the recogniser consumed the character.
  bool Recognise(std::uint8_t c);

 private:
  TSession& S;
};
