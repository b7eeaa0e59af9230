// Fakes for the hand-over tests: a serial line whose driver queue the test
// fills, a network line that hands out what the host "sent", and a session
// whose screen path records every byte it is given.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "app/events.h"
#include "app/handover.h"
#include "app/session.h"
#include "comms/lines.h"
#include "comms/transmit.h"
#include "screen/store.h"
#include "support/testing.h"
#include "transfer/engine.h"

// The serial component's input queue, filled by the test.
class TQueueSerial : public TSerialLine {
 public:
  std::string Held;
  std::uint32_t FailWith = 0;  // the next Read fails with this code
  int Reads = 0;

  void SetParams(const TSerialParams&) override {}
  void Open() override {}
  void Close() override {}
  bool IsOpen() const override { return true; }
  int Read(std::uint8_t* buffer, int count) override {
    ++Reads;
    if (FailWith != 0) {
      Error = FailWith;
      FailWith = 0;
      return -1;
    }
    const int n = std::min<int>(count, static_cast<int>(Held.size()));
    if (n == 0) {
      Error = kErrorIoPending;
      return -1;
    }
    std::copy(Held.begin(), Held.begin() + n, buffer);
    Held.erase(0, static_cast<std::size_t>(n));
    return n;
  }
  int Write(const std::uint8_t*, int count) override { return count; }
  std::uint32_t LastError() const override { return Error; }
  int InQueCount() override { return static_cast<int>(Held.size()); }
  void PurgeIn() override { Held.clear(); }
  void SetBreak(bool) override {}

 private:
  std::uint32_t Error = 0;
};

// The host's side of a socket: chunks as they arrived; Receive hands out at
// most the asked length, -1 when nothing is there, 0 once closed and empty.
class TQueueNetwork : public TNetworkLine {
 public:
  std::string Waiting;
  bool Closed = false;
  std::vector<int> Asked;  // the length of each Receive
  std::vector<std::string> Sent;
  int Disconnects = 0;
  int ListenCancels = 0;

  void SetAddress(const std::string&, const std::string&) override {}
  void Connect() override {}
  void Listen() override {}
  void CancelListen() override { ++ListenCancels; }
  void Disconnect() override { ++Disconnects; }
  int Send(const std::uint8_t* buffer, int length) override {
    Sent.emplace_back(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(length));
    return length;
  }
  int Receive(std::uint8_t* buffer, int length) override {
    Asked.push_back(length);
    if (Waiting.empty()) return Closed ? 0 : -1;
    const int n = std::min<int>(length, static_cast<int>(Waiting.size()));
    std::copy(Waiting.begin(), Waiting.begin() + n, buffer);
    Waiting.erase(0, static_cast<std::size_t>(n));
    return n;
  }
};

struct THandoverFixture {
  TTestSession T;
  TSession& S = *T.S;
  TScriptedDesktop& Desktop = T.Desktop;
  TQueueSerial Serial;
  TQueueNetwork Network;
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
