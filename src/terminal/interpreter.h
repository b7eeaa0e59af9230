// The receive interpreter: Telnet commands, input translation, control
// characters and table-driven escape-sequence recognition.
#pragma once

#include <cstdint>
#include <cstddef>

class TSession;

class TReceiveInterpreter {
 public:
  explicit TReceiveInterpreter(TSession& session);

  void ReceiveByte(std::uint8_t b);
  void HandleReceivedChar(std::uint8_t b);

  bool EorOption = false;

 private:
  TSession& S;
};
