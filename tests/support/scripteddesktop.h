// TScriptedDesktop: the desktop the tests drive the logic through. It records
// every box, dialog, posted message, wait, beep, progress window and memo,
// answers boxes and dialogs from scripts (a box without a scripted answer
// gets its default button), and pumps posted messages to a handler on
// request.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/desktop.h"
#include "support/boxes.h"

class TScriptedDesktop : public THeadlessDesktop {
 public:
  TMsgResult ShowMessage(const TMessageBox& box) override;
  std::optional<std::string> FileDialog(const TFileDialog& dialog) override;
  void PostMessage(int message, std::intptr_t wparam, std::intptr_t lparam) override;
  bool IsMessageQueued(int message) const override;
  void RemoveQueuedMessages(int message) override;
  void ProcessPendingMessages(bool systemOnly) override;
  bool PumpWanted() const override { return PumpsWanted; }
  void Wait(int milliseconds) override;
  void Beep() override { ++Beeps; }
  void BeginProgress(const std::string& caption, std::int64_t maximum) override {
    ProgressCaptions.push_back(caption);
    ProgressMaximum = maximum;
    ProgressCalls = 0;
  }
  bool Progress(std::int64_t position) override {
    ProgressPositions.push_back(position);
    return ++ProgressCalls != CancelProgressAt;
  }
  void EndProgress() override { ++ProgressEnded; }
  void ShowMemo(const TMemoText& memo) override { Memos.push_back(memo); }
  std::optional<std::string> AskSecret(const std::string& caption, const std::string& prompt, bool echo) override {
    SecretsAsked.push_back(prompt);
    return Next(Secrets);
  }
  std::optional<std::string> AskModeName(const std::string& lastName, const std::string&) override {
    ModeNamesAsked.push_back(lastName);
    return Next(ModeNames);
  }

  // Delivers queued messages to Handler until the queue is empty (or limit reached).
  // Returns the number delivered.
  int Pump(int limit = 1000000);

  // Script and record.
  std::deque<TMsgResult> Answers;          // next box answers; empty: DefaultAnswer
  std::deque<std::optional<std::string>> DialogAnswers;  // next dialog results; empty: cancel
  // Boxes, Clipboard and Ticks as the headless desktop keeps them.
  std::vector<TFileDialog> Dialogs;
  std::vector<TPostedMessage> Posted;      // every message ever posted, in order
  std::deque<TPostedMessage> Queue;        // messages not yet delivered
  std::vector<int> Waits;                  // every Wait, in milliseconds
  int PendingPumps = 0;                    // ProcessPendingMessages calls
  bool PumpsWanted = true;                 // PumpWanted's answer
  int Beeps = 0;
  // Progress windows: captions shown, positions reported, windows closed.
  // The CancelProgressAt-th Progress call of a window answers "cancelled".
  std::vector<std::string> ProgressCaptions;
  std::vector<std::int64_t> ProgressPositions;
  std::int64_t ProgressMaximum = 0;
  int ProgressCalls = 0;
  int ProgressEnded = 0;
  int CancelProgressAt = -1;
  // Memo viewer windows shown; mode name dialogs: the presets shown and the
  // answers to give (nullopt or an empty queue: cancelled).
  std::vector<TMemoText> Memos;
  std::vector<std::string> ModeNamesAsked;
  std::deque<std::optional<std::string>> ModeNames;
  // Secrets asked: the prompts shown and the answers to give (nullopt or an
  // empty queue: cancelled).
  std::vector<std::string> SecretsAsked;
  std::deque<std::optional<std::string>> Secrets;
  // Called for each message delivered by Pump (and by ProcessPendingMessages
  // when DeliverOnProcess is set).
  std::function<void(const TPostedMessage&)> Handler;
  bool DeliverOnProcess = false;
  // Called by ShowMessage before it returns (tests use it to act "under" a box).
  std::function<void(const TMessageBox&)> OnShow;

 private:
  // The next scripted answer; none left: cancelled.
  static std::optional<std::string> Next(std::deque<std::optional<std::string>>& answers) {
    if (answers.empty()) return std::nullopt;
    std::optional<std::string> answer = std::move(answers.front());
    answers.pop_front();
    return answer;
  }
};
