// The transfer engine: activity bits, countdown timers, transfer state, the
// 100-ms tick, the received-byte dispatcher and the queued-string sender.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "core/transferstate.h"

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

// The eight countdown timers, in tenths of a second.
enum TTimer {
  tmCharDelay = 0,
  tmLineDelay = 1,
  tmTraceLine = 4,
  tmEcho = 5,
};

// What HandleSessionEvent is given: the timer tick, a received byte, a key.
enum TSessionEventKind : int { sekTick = 1, sekReceivedByte = 2, sekKey = 3 };

// Wait flag shown by the status line.
enum TWaitFlag { wfRunning = 0, wfWaiting = 1, wfFinished = 2 };

// The PADS exchange collecting the host's "PASSWORD:" prompt.
struct TPadsPromptWatch {
  bool Collecting = false;
  std::string Text;
  // Ends the PADS receive (the prompt was not the password prompt, or Esc).
  std::function<void()> StopPadsReceive;
};

// The 4096-byte ring that a trace capture (receive kind 2) fills and PADS reads.
struct TCaptureRing {
  static constexpr int kSize = 4096;
  std::mutex Lock;  // the main window's receive-queue lock
  std::uint8_t Bytes[kSize] = {};
  int WriteIndex = 0;
  int Count = 0;
  // Called after a byte is stored once the ring is half full, so its reader
  // can take the bytes before they are overwritten. May be empty.
  std::function<void()> Filling;
  void Reset() {
    std::lock_guard<std::mutex> guard(Lock);
    WriteIndex = 0;
    Count = 0;
  }
};

// What the host's transfer sequences may start in this session. The window
// lets the host send and receive the configured send/receive file; a tool
// that replays or scripts a session lets it only what its options say, so
// offline work never writes a file the user did not name.
struct THostTransferPermit {
  bool Send = true;
  bool Receive = true;
  // When set, a receive writes into this directory, under the file name part
  // of the configured name ("received" when none is configured).
  std::string ReceiveDirectory;
  // Bytes one receive may store before it is stopped; 0: no limit.
  std::uint64_t ReceiveLimit = 0;
};

class TTransferEngine : public TTransferState {
 public:
  explicit TTransferEngine(TSession& session);

  std::uint32_t Activities = 0;
  std::uint16_t Timers[8] = {};
  int TickSkip = 0;  // ticks still to skip

  // The transfer state (TTransferState) is shared with the files and the
  // interpreter; these are the engine's own.
  int HostTransferParams[5] = {};  // P1..P5 of a host-initiated transfer
  THostTransferPermit HostTransfers;
  std::uint64_t ReceiveLimit = 0;  // of the running receive: bytes it may store, 0 no limit
  std::uint8_t AwaitedEcho = 0;
  bool KeyPressed = false;
  int WaitFlag = wfRunning;

  std::string SendQueue;  // the queued string
  TCaptureRing CaptureRing;
  TPadsPromptWatch PadsPrompt;

  // Workers of later parts; the tick runs each while its bit is on. An empty
  // hook does nothing (the bit stays as it is).
  std::function<void()> FileSender;       // bit 1, once per tick
  std::function<void()> FileSendStep;     // one send step, run by each byte a file send receives
  std::function<void()> SimulateWorker;   // bit 4
  std::function<void()> PlaybackWorker;   // bit 8
  std::function<void()> PasteSender;      // bit 32
  std::function<void()> PasteReceiver;    // bit 64
  // Flushes the trace decoder's pending line when decoding is on and one is pending.
  std::function<void()> TraceLineFlush;
  // The terminal above the engine, wired once by the session: the keyboard's
  // key handler for kind 3 events, the soft-key sender's step, and the
  // receive interpreter for shown bytes, one at a time or as a replayed run
  // (which it takes in part: the count it took, at least one).
  std::function<void(int key)> KeyHandler;
  std::function<void()> SoftKeyStep;
  std::function<void(std::uint8_t)> Interpret;
  std::function<std::size_t(const std::uint8_t*, std::size_t)> InterpretRun;
  // While a transfer takes the received bytes raw, the interpreter's Telnet
  // layer: true when it took the byte as part of a Telnet command.
  std::function<bool(std::uint8_t)> TelnetDuringTransfer;
  // The line went away: the interpreter drops what it was collecting.
  std::function<void()> StreamEnded;
  // Host-initiated transfers: the sequence opened the transfer file for a
  // receive or a send, and each received byte of a receive of kind 1. Without
  // a send hook the host's send requests are refused.
  std::function<void()> HostReceiveStarted;
  std::function<void()> HostSendStarted;
  std::function<void(std::uint8_t)> HostReceiveStep;
  // When set, bytes for the screen path go here instead of the receive
  // interpreter (tests and tools that watch what the dispatcher passes on).
  std::function<void(std::uint8_t)> ScreenPathOverride;

  // The main window's 100-ms timer: every running timer counts down by one.
  void DecrementTimers();
  bool TimerRunning(int timer) const { return Timers[timer] > 0; }
  bool SendDelayRunning() const {
    return Timers[tmCharDelay] > 0 || Timers[tmLineDelay] > 0 || Timers[tmEcho] > 0;
  }
  // Waits for c to come back, at most MaxEchoDelay tenths (0: no wait).
  void AwaitEcho(std::uint8_t c);

  void HandleSessionEvent(TSessionEventKind kind, int payload);
  void Tick();
  void DispatchReceivedByte(std::uint8_t c);
  // True when a received byte would go straight to the interpreter with no
  // other effect, so a run of bytes may skip the dispatcher.
  bool PassesThrough() const;

  // Appends text to the send queue and raises its job flag.
  void QueueSendString(const std::string& text);
  // The queued-string sender: many = up to the per-tick budget, else one character.
  void SendQueuedString(bool many);

  // Received data shown: the receive interpreter.
  void ScreenPath(std::uint8_t c);
  // Replayed data shown (simulate, playback, batch decoding): runs of text
  // go to the interpreter in one piece.
  void ReplayBytes(const std::uint8_t* data, std::size_t count);

  // A receive ends by itself (Ctrl-Z, write error): the file is closed and
  // the window told.
  void EndReceive();
  // The line went away (lost, or closed by the user) and no other is up:
  // a running send or receive ends and keeps what it moved, and nothing
  // half-received (an escape sequence, a Telnet command) reaches the next
  // session. The PADS capture ends with its own window.
  void LineEnded();
  // After a byte was stored: true when the receive has reached its limit
  // and was ended, with a box that says so.
  bool ReceiveLimitReached();
  // What a running receive holds goes to its file (every tick, so a crash
  // loses at most a tick's bytes); a failed write ends the receive.
  void FlushReceive();

 private:
  void FileReceiveStep(std::uint8_t c);
  void PadsPromptByte(std::uint8_t c);

  TSession& S;
};
