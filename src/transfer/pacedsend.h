// The file send ("Send &Ascii"): a text file goes to the host at a pace the
// exchange's command interpreter can follow, with the end-of-line conversion,
// echo waits, line waits and a Ctrl-Z at the end, a bounded number of
// characters per 100-ms tick.
//
// The object plugs itself into the transfer engine's FileSender and
// FileSendStep hooks for its lifetime; the window owns one beside TMainForm
// and keeps the gauge from the TCommandState it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "core/settings.h"
#include "transfer/textbytes.h"

class TSession;
struct TCommandState;

// "Character Delay" and "Line Delay" codes of the settings.
enum TCharDelay : std::uint8_t { cdNoWait = 0, cdPacedByEcho = 1 };
enum TLineDelay : std::uint8_t { ldNoWait = 0, ldWaitForChar = 1, ldWaitTenths = 2, ldWaitForKey = 3 };

// The refusal shown while a playback runs.
inline constexpr const char* kPlaybackBusyText =
    "Playback is already active\rPlayBack and sending can't be active at the same time";
inline constexpr const char* kNoSendFileNameText =
    "No Send File Name specified\rCorrect in the Setup|Configure|Files";

class TPacedSend {
 public:
  static constexpr std::size_t kBufferSize = 2066;

  TPacedSend(TSession& session, TCommandState& state);
  ~TPacedSend();
  TPacedSend(const TPacedSend&) = delete;
  TPacedSend& operator=(const TPacedSend&) = delete;

  // The send dialog: edits the draft (a copy of the settings), true on OK.
  using TSendDialog = std::function<bool(TSetupRecord& draft)>;

  // "Send &Ascii": the playback refusal, the dialog, the settings stored on
  // OK, the empty-name refusal, then the send started. True when it started.
  bool SendAscii(const TSendDialog& dialog);
  // Starts a send of the settings' "Send/Receive File Name:" with the
  // current pacing settings (the dialog's OK, and command files).
  bool StartFileSend();
  // The host's transfer sequence opened the transfer file for sending: a
  // text transfer goes out as "Send &Ascii" sends it, a binary one byte for
  // byte (no line-end conversion, no Ctrl-Z rule) at the tick's budget.
  void StartHostSend();

  // The engine's bit-1 worker: up to the per-tick budget of send steps.
  void SenderTick();
  // One send step; false: nothing more goes out in this tick.
  bool SendStep();

  // Called whenever the gauge or the transfer commands' state changed.
  std::function<void()> OnStateChanged;

 private:
  void Begin();
  bool SendBinaryStep();
  bool PacingAllows(std::uint8_t c);
  bool Refill();
  void SendLineEnd(std::uint8_t c);
  void Finish(bool sendCtrlZ);
  void Changed();

  TSession& S;
  TCommandState& State;
  std::vector<std::uint8_t> Buffer;
  std::size_t Count = 0;  // valid bytes in Buffer
  std::size_t Index = 0;  // next byte to take
  std::uint64_t Position = 0;  // bytes read from the file so far
  bool EndOfFile = false;
  bool Binary = false;         // a host's binary transfer: every byte as it is
  std::uint8_t Previous = 0;   // the last byte taken from the file
};
