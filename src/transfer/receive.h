// Receive to file: "Receive &Ascii" and "Receive &Binary" started by the
// user, and the receives the host starts with its transfer sequence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class TSession;
struct TCommandState;

// The receive dialog's fields.
struct TReceiveParameters {
  std::string FileName;
  bool CtrlZEnds = false;
  bool SuppressControl = false;
};

inline constexpr const char* kNoReceiveFileName =
    "No Receive File Name specified\rCorrect in the Setup|Configure|Files";

// Host-initiated transfer types (the first parameter of the sequence).
enum THostTransferType { htBinary = 0, htText = 1 };

class TFileReceive {
 public:
  // Takes over the engine's host-receive hooks; gives them back when it goes.
  // The window owns one beside TMainForm and shares its command state.
  TFileReceive(TSession& session, TCommandState& state);
  ~TFileReceive();
  TFileReceive(const TFileReceive&) = delete;
  TFileReceive& operator=(const TFileReceive&) = delete;

  // The receive dialog: the preset shown, the choice made (nullopt: Cancel).
  std::function<std::optional<TReceiveParameters>(bool ascii, const TReceiveParameters& preset)> AskParameters;

  TReceiveParameters Preset(bool ascii) const;
  // "Receive &Ascii" (ascii) or "Receive &Binary": the dialog, the settings
  // stored, the transfer file opened. True when the receive runs.
  bool StartReceive(bool ascii);

  // The host's transfer sequence opened the transfer file for receiving.
  // A text receive (type 1) stores what comes and ends at Ctrl-Z; a binary
  // receive (type 0) stores the next P3 bytes untouched and shows none of
  // them (P3 0: until cancelled).
  void HostReceiveStarted();
  // Bytes of a binary host receive, as they arrive.
  void HostReceiveByte(std::uint8_t c);
  std::uint64_t HostBytesLeft() const { return BytesLeft; }

  // Called whenever the transfer commands' state changed.
  std::function<void()> OnStateChanged;

 private:
  void Started();

  TSession& S;
  TCommandState& State;
  std::uint64_t BytesLeft = 0;
  bool Counted = false;  // a binary host receive with a length
};
