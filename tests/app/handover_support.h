// The hand-over tests' session: its screen path records every byte it is
// given, its serial driver queue and socket are the fake lines' (filled by
// the test).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/events.h"
#include "app/handover.h"
#include "app/session.h"
#include "comms/transmit.h"
#include "screen/store.h"
#include "support/fakelines.h"
#include "support/testing.h"
#include "transfer/engine.h"

struct THandoverFixture {
  TTestSession T;
  TSession& S = *T.S;
  TScriptedDesktop& Desktop = T.Desktop;
  TFakeSerial Serial;
  TFakeNetwork Network;
  TReceiveHandover Handover{S};
  std::string Shown;  // every byte the screen path was given, in order

  THandoverFixture() {
    S.StartUp();
    Handover.Serial = &Serial;
    Handover.Network = &Network;
    S.Transfer->ScreenPathOverride = [this](std::uint8_t c) { Shown.push_back(static_cast<char>(c)); };
    Desktop.Handler = [this](const TPostedMessage& m) { Handover.HandleMessage(m); };
  }

  // The serial event thread announces what the driver now holds.
  void SerialArrives(const std::string& bytes) {
    Serial.Held += bytes;
    Handover.QelCommRxChar(static_cast<int>(Serial.Held.size()));
  }
  int Queued(int message) const {
    int n = 0;
    for (const auto& m : Desktop.Queue) n += m.Message == message;
    return n;
  }
  // Every store line, trailing blanks dropped, one per line.
  std::string StoreText() const {
    std::string text;
    for (int line = 0; line < S.Screen->Count(); ++line) {
      std::string row = S.Screen->GetLineText(line);
      while (!row.empty() && (row.back() == ' ' || row.back() == '\0')) row.pop_back();
      if (!row.empty()) text += row + "\n";
    }
    return text;
  }
};

inline std::string Pattern(std::size_t length, char first = 'a') {
  std::string s;
  for (std::size_t i = 0; i < length; ++i) s.push_back(static_cast<char>(first + i % 26));
  return s;
}
