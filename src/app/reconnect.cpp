#include "app/reconnect.h"

#include <algorithm>

#include "app/connectionsettings.h"

namespace {
// Failures that another attempt cannot mend: the host's key, the user's keys.
bool Hopeless(const std::string& reason) {
  return reason.find("host key verification failed") != std::string::npos ||
         reason.find("HOST IDENTIFICATION HAS CHANGED") != std::string::npos ||
         reason.find("authentication failed") != std::string::npos;
}
}  // namespace

TReconnect::TReconnect(const TConnectionSettings& settings) : Settings(settings) {}

int TReconnect::WaitBefore(int attempt) const {
  long long wait = std::max<int>(1, Settings.ReconnectDelay);
  for (int i = 1; i < attempt && wait < kMaximumWaitSeconds; ++i) wait *= 2;
  return static_cast<int>(std::min<long long>(wait, kMaximumWaitSeconds));
}

void TReconnect::SessionUp(int kind) {
  Kind = kind;
  WasUp = true;
  InAttempt = false;
  Attempts = 0;
  TenthsLeft = 0;
}

bool TReconnect::SessionLost(int kind, const std::string& reason) {
  const bool ours = WasUp || InAttempt;
  WasUp = false;
  InAttempt = false;
  if (!Settings.Reconnect || !ours || Hopeless(reason) || Attempts >= Settings.ReconnectLimit) {
    Cancel();
    return false;
  }
  Kind = kind;
  TenthsLeft = WaitBefore(Attempts + 1) * 10;
  return true;
}

void TReconnect::Cancel() {
  Attempts = 0;
  TenthsLeft = 0;
  InAttempt = false;
  WasUp = false;
}

void TReconnect::Tick() {
  if (InAttempt && ++AttemptTenths > kAttemptSeconds * 10) {
    SessionLost(Kind, "no answer");
    return;
  }
  if (TenthsLeft <= 0 || --TenthsLeft > 0) return;
  ++Attempts;
  InAttempt = true;
  AttemptTenths = 0;
  if (Open) Open(Kind);
}

std::string TReconnect::PanelText() const {
  if (Waiting()) return "RECON " + std::to_string(SecondsLeft()) + "s";
  if (InAttempt) return "RECON...";
  return {};
}

std::string TReconnect::Description() const {
  const std::string of = " of " + std::to_string(Settings.ReconnectLimit);
  if (Waiting()) {
    return "reconnecting in " + std::to_string(SecondsLeft()) + " s (attempt " + std::to_string(Attempts + 1) + of + ")";
  }
  if (InAttempt) return "reconnecting (attempt " + std::to_string(Attempts) + of + ")";
  return {};
}
