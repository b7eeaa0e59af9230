// The MINI trace recogniser: sees every displayable character first.
#pragma once

#include <cstdint>

class TSession;

class TMiniTrace {
 public:
  explicit TMiniTrace(TSession& session);

  // True when the recogniser consumed the character.
  bool Recognise(std::uint8_t c);

 private:
  TSession& S;
};
