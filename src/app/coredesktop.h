// TCoreDesktop: the desktop seam on a QtCore event loop, for headless runs
// (`qel connect`, real-peer tests). Posted messages are QEvents of type
// QEvent::User + (message - 1024) sent to this object and handed to Handler
// on the window thread; posting, looking for and removing queued messages
// are safe from any thread (the serial event thread posts). Boxes have no
// one to answer them: OnMessage decides, else the default answer.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/desktop.h"

class TCoreDesktop : public QObject, public TDesktop {
 public:
  TCoreDesktop();
  ~TCoreDesktop() override;

  // Runs each delivered message on the window thread.
  std::function<void(const TPostedMessage&)> Handler;
  // Sees every box and gives the answer; unset: the first of OK, Yes, Cancel,
  // No that the box offers.
  std::function<TMsgResult(const TMessageBox&)> OnMessage;
  // How long a box stays up, the event loop running under it as under a
  // modal box (0: answered at once).
  int BoxOpenMs = 0;
  // Pumps asked for sooner than this after the last one return at once: the
  // receive path asks every hundred bytes or so, and an event loop pass costs
  // more than the bytes; a millisecond is still responsive.
  int PumpIntervalUs = 1000;

  TMsgResult ShowMessage(const TMessageBox& box) override;
  std::optional<std::string> FileDialog(const TFileDialog& dialog) override { return std::nullopt; }
  // OnSecret when set, else the controlling terminal (echo off), as ssh
  // asks; nullopt without one.
  std::optional<std::string> AskSecret(const std::string& caption, const std::string& prompt, bool echo) override;
  std::function<std::optional<std::string>(const std::string& caption, const std::string& prompt, bool echo)>
      OnSecret;
  void PostMessage(int message, std::intptr_t wparam = 0, std::intptr_t lparam = 0) override;
  bool IsMessageQueued(int message) const override;
  void RemoveQueuedMessages(int message) override;
  void ProcessPendingMessages(bool systemOnly = false) override;
  bool PumpWanted() const override;
  void Wait(int milliseconds) override;
  void Beep() override {}
  std::optional<std::string> ClipboardText() override { return Clipboard; }
  void SetClipboardText(const std::string& text) override { Clipboard = text; }
  std::uint32_t TickCount() override;

  std::optional<std::string> Clipboard;

 protected:
  bool event(QEvent* event) override;

 private:
  class TMessageEvent;
  void Post(const TPostedMessage& message, std::uint64_t generation, bool ahead);

  std::int64_t LastPumpUs = 0;
  mutable std::mutex Lock;
  std::map<int, int> Queued;               // messages posted and not yet delivered or removed
  std::map<int, std::uint64_t> Removals;   // raised by each removal: older events are void
  int HoldDepth = 0;                       // inside a pump that leaves user messages queued
  std::vector<TMessageEvent*> Held;        // user messages met by such a pump, in order
};
