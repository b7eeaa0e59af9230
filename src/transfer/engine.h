// The transfer engine: activity bits, countdown timers, transfer state, the
// 100-ms tick and the received-byte dispatcher.
#pragma once

#include <cstdint>
#include <string>

class TSession;

class TTransferEngine {
 public:
  explicit TTransferEngine(TSession& session);

  void HandleSessionEvent(int kind, int payload);

 private:
  TSession& S;
};
