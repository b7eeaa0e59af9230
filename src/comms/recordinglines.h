// Lines that only keep every byte the terminal sends to the host: where a
// session runs without a real peer (qel replay, tests, fuzzers).
#pragma once

#include <string>

#include "comms/lines.h"

class TRecordingSerialLine : public TSerialLine {
 public:
  std::string Sent;
  bool Opened = true;

  void SetParams(const TSerialParams&) override {}
  void Open() override { Opened = true; }
  void Close() override { Opened = false; }
  bool IsOpen() const override { return Opened; }
  int Read(std::uint8_t*, int) override { return 0; }
  int Write(const std::uint8_t* buffer, int count) override {
    Sent.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(count));
    return count;
  }
  std::uint32_t LastError() const override { return 0; }
  int InQueCount() override { return 0; }
  void PurgeIn() override {}
  void SetBreak(bool) override {}
};

class TRecordingNetworkLine : public TNetworkLine {
 public:
  std::string Sent;

  void SetAddress(const std::string&, const std::string&) override {}
  void Connect() override {}
  void Listen() override {}
  void CancelListen() override {}
  void Disconnect() override {}
  int Send(const std::uint8_t* buffer, int length) override {
    Sent.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(length));
    return length;
  }
  int Receive(std::uint8_t*, int) override { return -1; }
};
