// PADS on the terminal's own line: binds the protocol to the session. Bytes
// go out through the transmit path and come in through the capture ring
// that the received-byte dispatcher fills; the serial line is switched to
// 8 data bits, no parity, one stop bit and no flow control for the link and
// given back its settings afterwards.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "transfer/pads.h"

class TSession;

namespace pads {

// The typed "PAD" command: the host's next text is watched for "PASSWORD:".
void ArmPasswordWatch(TSession& session);
// The password line went to the host: the capture into the ring starts.
void StartCapture(TSession& session);
// The PADS state of the session when no PADS window runs.
int SessionState(const TSession& session);

class TPadsSession {
 public:
  explicit TPadsSession(TSession& session);
  ~TPadsSession();
  TPadsSession(const TPadsSession&) = delete;
  TPadsSession& operator=(const TPadsSession&) = delete;

  TPadsProtocol& Protocol() { return *Pads; }
  const TPadsProtocol& Protocol() const { return *Pads; }

  // The window is shown: false when no capture runs (state 2 not reached),
  // which ends the PADS receive; the window then closes at once.
  bool Open();
  // Takes what the capture ring holds and lets the time run; call it after
  // received data was handled and at Deadline().
  void Pump();
  // The ring's bytes, oldest first; the ring is then empty.
  std::string DrainRing();
  // Moves the ring's bytes aside; the ring fills faster than a block of the
  // improved protocol is read, so it is emptied as it goes.
  void TakeRing() { Inbox += DrainRing(); }
  std::optional<std::uint32_t> Deadline() const { return Pads->Deadline(); }

  void Execute(std::string_view line);
  void Close();

 private:
  struct TSavedLine {
    std::uint8_t BaudRate, DataBits, Parity, StopBits, FlowControl;
  };
  void Send(std::string_view bytes);
  void LineUp();
  void LineDown(bool exited);
  void StopCapture();

  TSession& S;
  std::unique_ptr<TPadsProtocol> Pads;
  std::optional<TSavedLine> Saved;
  std::string Inbox;  // taken from the ring, not yet given to the protocol
};

}  // namespace pads
