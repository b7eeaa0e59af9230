// A line that comes back by itself: after a network or SSH session that was
// up ends without the user asking (the host closed it, the line dropped), the
// same kind of session is opened again after a wait that doubles each time,
// until one comes up or the attempts run out. The user's own connect or
// disconnect ends the waiting. Driven by the main window's 100-ms timer;
// nothing here waits.
#pragma once

#include <functional>
#include <string>

struct TConnectionSettings;

class TReconnect {
 public:
  static constexpr int kMaximumWaitSeconds = 600;
  // An attempt that has neither come up nor failed by then counts as failed.
  static constexpr int kAttemptSeconds = 90;

  explicit TReconnect(const TConnectionSettings& settings);

  // Opens the session again: kind is the transmit path's ckNetwork or ckSecure.
  std::function<void(int kind)> Open;

  // A session of the kind came up: the attempts start again from the first.
  void SessionUp(int kind);
  // A session ended without the user asking. True when it will be opened
  // again (reconnecting is on, the session had been up or an attempt was
  // running, attempts remain, and the reason is one that may pass).
  bool SessionLost(int kind, const std::string& reason);
  // The user connected or disconnected: no more attempts.
  void Cancel();
  // The 100-ms timer.
  void Tick();

  bool Waiting() const { return TenthsLeft > 0; }
  bool Attempting() const { return InAttempt; }
  int Attempt() const { return Attempts; }  // attempts made in this round
  // Whole seconds to the next attempt, rounded up.
  int SecondsLeft() const { return (TenthsLeft + 9) / 10; }
  // The wait before attempt n (from 1) of a round, in seconds.
  int WaitBefore(int attempt) const;
  // For the status bar's connection panel: "RECON 12s" while waiting,
  // "RECON..." during an attempt, empty otherwise.
  std::string PanelText() const;
  // The same in words, for the screen line and the panel's hint.
  std::string Description() const;

 private:
  const TConnectionSettings& Settings;
  int Kind = 0;
  int Attempts = 0;
  int TenthsLeft = 0;
  int AttemptTenths = 0;
  bool WasUp = false;
  bool InAttempt = false;
};
