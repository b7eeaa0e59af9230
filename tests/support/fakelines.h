// Serial and network lines that keep what was done to them, for the tests of
// the transmit path, of what changes a connection and of the receive
// hand-over: every write and send, the parameters, opens, connects and
// disconnects in order, faults the next writes, reads or an open meet, and
// the bytes a test puts in the driver's queue or the socket.
#pragma once

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "comms/lines.h"

using TBytes = std::vector<std::uint8_t>;

class TFakeSerial : public TSerialLine {
 public:
  void SetParams(const TSerialParams& p) override {
    Params.push_back(p);
    Events.push_back("params " + p.DeviceName + " baud " + std::to_string(p.BaudRate));
  }
  void Open() override {
    if (OpenError) throw ECommError("Unable to open com port (Error: 2) ", 2);
    Opened = true;
    Events.push_back("open");
  }
  void Close() override {
    Opened = false;
    ++Closes;
    Events.push_back("close");
  }
  bool IsOpen() const override { return Opened; }
  // Hands out what the test put in Held; nothing there is a pending read.
  int Read(std::uint8_t* buffer, int count) override {
    ++Reads;
    if (FailWith != 0) {
      Error = std::exchange(FailWith, 0);
      return -1;
    }
    const int n = std::min<int>(count, static_cast<int>(Held.size()));
    if (n == 0) {
      Error = kErrorIoPending;
      return -1;
    }
    std::copy_n(Held.begin(), n, buffer);
    Held.erase(0, static_cast<std::size_t>(n));
    return n;
  }
  int Write(const std::uint8_t* b, int n) override {
    ++WriteCalls;
    if (Failures > 0) {
      --Failures;
      return -1;
    }
    Writes.emplace_back(b, b + n);
    return n;
  }
  std::uint32_t LastError() const override { return Error; }
  int InQueCount() override { return static_cast<int>(Held.size()); }
  void PurgeIn() override {
    ++Purges;
    Held.clear();
  }
  void SetBreak(bool on) override { Breaks.push_back(on); }

  bool OpenError = false;
  bool Opened = false;
  int Closes = 0;
  int Failures = 0;  // the next writes that fail
  int WriteCalls = 0;
  std::uint32_t Error = 5;
  int Purges = 0;
  std::string Held;           // the driver's input queue
  std::uint32_t FailWith = 0;  // the next Read fails with this code
  int Reads = 0;
  std::vector<TSerialParams> Params;
  std::vector<std::string> Events;  // parameters, opens and closes in order
  std::vector<TBytes> Writes;
  std::vector<bool> Breaks;
  TBytes All() const {
    TBytes all;
    for (const TBytes& w : Writes) all.insert(all.end(), w.begin(), w.end());
    return all;
  }
};

class TFakeNetwork : public TNetworkLine {
 public:
  void SetAddress(const std::string& host, const std::string& port) override {
    Host = host;
    Port = port;
    Events.push_back("address " + host + " " + port);
  }
  void Connect() override {
    ++Connects;
    Events.push_back("connect");
  }
  void Listen() override {
    ++Listens;
    Events.push_back("listen");
  }
  void CancelListen() override { ++CancelListens; }
  void Disconnect() override {
    ++Disconnects;
    Events.push_back("disconnect");
  }
  int Send(const std::uint8_t* b, int n) override {
    Sends.emplace_back(b, b + n);
    return n;
  }
  // At most length bytes of Waiting; -1 when nothing is there, 0 once Closed.
  int Receive(std::uint8_t* buffer, int length) override {
    ReceiveLengths.push_back(length);
    if (Waiting.empty()) return Closed ? 0 : -1;
    const int n = std::min<int>(length, static_cast<int>(Waiting.size()));
    std::copy_n(Waiting.begin(), n, buffer);
    Waiting.erase(0, static_cast<std::size_t>(n));
    return n;
  }
  bool SendBreak() override {
    ++Breaks;
    return true;
  }
  void SetTerminalSize(int columns, int rows) override { Sizes.emplace_back(columns, rows); }
  bool SetAllowedCallers(const std::string& list, std::string& error) override {
    Allowed = list;
    return TNetworkLine::SetAllowedCallers(list, error);  // a line that cannot filter callers
  }
  std::string Host, Port, Allowed;
  std::string Waiting;  // what the host sent and the socket holds
  bool Closed = false;
  int Connects = 0, Listens = 0, CancelListens = 0, Disconnects = 0, Breaks = 0;
  std::vector<std::pair<int, int>> Sizes;
  std::vector<std::string> Events;  // addresses, connects, listens and disconnects in order
  std::vector<TBytes> Sends;
  std::vector<int> ReceiveLengths;
  TBytes All() const {
    TBytes all;
    for (const TBytes& s : Sends) all.insert(all.end(), s.begin(), s.end());
    return all;
  }
};

