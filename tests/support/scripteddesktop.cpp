#include "support/scripteddesktop.h"

#include <algorithm>

TMsgResult TScriptedDesktop::ShowMessage(const TMessageBox& box) {
  TMsgResult answer = DefaultAnswer(box.Buttons);
  if (!Answers.empty()) {
    answer = Answers.front();
    Answers.pop_front();
  }
  Boxes.push_back({box, answer});
  if (OnShow) OnShow(box);
  return answer;
}

std::optional<std::string> TScriptedDesktop::FileDialog(const TFileDialog& dialog) {
  Dialogs.push_back(dialog);
  return Next(DialogAnswers);
}

void TScriptedDesktop::PostMessage(int message, std::intptr_t wparam, std::intptr_t lparam) {
  const TPostedMessage m{message, wparam, lparam};
  Posted.push_back(m);
  Queue.push_back(m);
}

bool TScriptedDesktop::IsMessageQueued(int message) const {
  return std::any_of(Queue.begin(), Queue.end(),
                     [message](const TPostedMessage& m) { return m.Message == message; });
}

void TScriptedDesktop::RemoveQueuedMessages(int message) {
  Queue.erase(std::remove_if(Queue.begin(), Queue.end(),
                             [message](const TPostedMessage& m) { return m.Message == message; }),
              Queue.end());
}

void TScriptedDesktop::ProcessPendingMessages(bool systemOnly) {
  ++PendingPumps;
  if (!DeliverOnProcess || systemOnly) return;
  // One pass over what is queued now; messages posted meanwhile wait for the next pass.
  Pump(static_cast<int>(Queue.size()));
}

void TScriptedDesktop::Wait(int milliseconds) {
  Waits.push_back(milliseconds);
  Ticks += static_cast<std::uint32_t>(milliseconds);
}

int TScriptedDesktop::Pump(int limit) {
  int delivered = 0;
  while (!Queue.empty() && delivered < limit) {
    const TPostedMessage m = Queue.front();
    Queue.pop_front();
    ++delivered;
    if (Handler) Handler(m);
  }
  return delivered;
}
