// The transmit path: connection flags, opening and closing lines, and the
// single-byte sender every part of the system uses.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TDesktop;
class TLogFiles;
class TSerialLine;
class TNetworkLine;
struct TEbcdicMap;
struct TSetupRecord;
struct TConnectionSettings;
struct TTransferState;

// ckSecure opens the network session over SSH; closing ckNetwork closes it too.
enum TConnectionKind { ckSerial = 0, ckNetwork = 1, ckBoth = 2, ckSecure = 3 };
enum TConnectionAction { ctOpen = 0, ctClose = 1, ctReconfigure = 2 };
// ConnectionControl's result.
enum TConnectionResult : std::uint8_t { crSerial = 0, crNetwork = 1, crBoth = 2, crNone = 3 };

// What the transmit path uses of the session.
struct TTransmitContext {
  TDesktop& Desktop;
  const TSetupRecord& Settings;
  const TConnectionSettings& Connection;  // the SSH port, the listen allow-list
  const TEbcdicMap& EbcdicMap;
  TLogFiles& Files;                // the debug capture records what is sent
  const TTransferState& Transfer;  // no Telnet break during a receive
};

class TTransmitPath {
 public:
  explicit TTransmitPath(const TTransmitContext& context);

  // Set once by the session: the transfer engine's queued-string sender, and
  // what else must forget received input when the lines are flushed (the
  // capture ring).
  std::function<void(const std::string&)> QueueString;
  std::function<void()> InputFlushed;

  bool SerialConnected = false;
  bool NetworkConnected = false;
  bool ListenActive = false;
  bool TranslateEnabled = true;
  int CharsPerTick = 100;
  std::uint8_t ConnectionResult = crNone;
  // AND mask for received serial bytes, set by the serial open from the data bits.
  std::uint8_t ReceiveMask = 255;
  // Telnet END-OF-RECORD agreed (the receive interpreter negotiates it):
  // bytes are then sent a line at a time, each ended by IAC EOR.
  bool EorOption = false;
  // Bytes collected while the END-OF-RECORD option is agreed.
  std::vector<std::uint8_t> LineBuffer;

  TSerialLine* Serial = nullptr;    // not owned
  TNetworkLine* Network = nullptr;  // not owned: Telnet and plain TCP
  TNetworkLine* Secure = nullptr;   // not owned, may be null: SSH
  // The network session is (being) made over SSH: no Telnet handling, and
  // Secure carries the bytes.
  bool SecureSession = false;

  // kind 0 serial, 1 network, 2 both; action 0 open, 1 close, 2 reconfigure.
  std::uint8_t ConnectionControl(int kind, int action);
  void StartListen();

  void SendByte(std::uint8_t b);
  void SendLineByte(std::uint8_t b);
  void SendBreak();
  void QueueSendString(const std::string& text);
  void ReplaceTypedText(const std::string& oldText, const std::string& newText);
  void FlushInput();

  // A network session is up: connected out or a call accepted.
  bool NetworkSessionUp() const { return NetworkConnected || ListenActive; }
  // The line of the network session: Secure over SSH, else Network.
  TNetworkLine* SessionLine() const { return SecureSession ? Secure : Network; }
  // The terminal's size, passed on to a line that tells the host (SSH).
  void SetTerminalSize(int columns, int rows);

 private:
  bool SerialAction(int action);
  bool NetworkAction(int action, bool secure);
  void ApplySerialParams();
  void WriteSerialByte(std::uint8_t b);
  void WriteSerialLine();
  void SendOnSocket(const std::uint8_t* data, int length);
  bool TelnetDoubling() const;
  std::uint8_t Translate(std::uint8_t b) const;

  TTransmitContext S;
};
