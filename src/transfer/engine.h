// The transfer engine: activity bits, countdown timers, transfer state, the
// 100-ms tick and the received-byte dispatcher.
#pragma once

#include <cstdint>
#include <string>

class TSession;

enum TActivity : std::uint32_t {
  acFileSend = 1,
  acSoftKey = 2,
  acSimulate = 4,
  acPlayback = 8,
  acQueuedString = 16,
  acPasteSend = 32,
  acPasteReceive = 64,
};

class TTransferEngine {
 public:
  explicit TTransferEngine(TSession& session);

  std::uint32_t Activities = 0;
  std::uint16_t Timers[8] = {};

  // Transfer state shared with the files and the interpreter.
  bool TransferActive = false;
  int Direction = 0;     // 0 send, 1 receive
  int ReceiveKind = 0;   // 0 user file receive, 1 and 3 host-initiated, 2 trace capture
  int HostTransferParams[5] = {};  // P1..P5 of a host-initiated transfer

  // kind 1 tick, 2 received byte, 3 key.
  void HandleSessionEvent(int kind, int payload);

  // Appends text to the send queue and raises its job flag.
  void QueueSendString(const std::string& text);
  // Selects the answer-back text for the soft-key sender.
  void StartAnswerBack();

 private:
  TSession& S;
};
