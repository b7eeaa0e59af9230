// The transmit path: connection flags, opening and closing lines, and the
// single-byte sender every part of the system uses.
#pragma once

#include <cstdint>
#include <string>

class TSession;
class TSerialLine;
class TNetworkLine;

class TTransmitPath {
 public:
  explicit TTransmitPath(TSession& session);

  bool SerialConnected = false;
  bool NetworkConnected = false;
  bool ListenActive = false;
  bool TranslateEnabled = true;
  int CharsPerTick = 100;

  TSerialLine* Serial = nullptr;    // not owned
  TNetworkLine* Network = nullptr;  // not owned

  void SendByte(std::uint8_t b);

 private:
  TSession& S;
};
