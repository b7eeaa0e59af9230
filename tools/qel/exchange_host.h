// The simulated exchange's side of one session: Telnet negotiation, the
// maintenance monitor's line editing, its commands and their output. Bytes
// in, bytes out; the caller owns the line and the clock, so the whole
// dialogue is testable without a socket.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "exchange_sendfile.h"

#include "exchange_input.h"

// Trace texts the monitor prints for TRACE and MINI (the exchange's own
// recorded output; empty when none was found).
struct TExchangeSamples {
  std::string Trace;
  std::string Mini;
};

class TExchangeHost {
 public:
  // Milliseconds on a monotonic clock.
  using TClock = std::function<std::int64_t()>;

  // How long the host waits for the terminal before going on without it.
  static constexpr std::int64_t kTerminalTypeWaitMs = 3000;
  static constexpr std::int64_t kAnswerBackWaitMs = 3000;   // for the first byte
  static constexpr std::int64_t kAnswerBackQuietMs = 500;   // after the last byte
  static constexpr std::int64_t kCursorReportWaitMs = 60000;
  static constexpr std::size_t kLineLimit = 80;
  static constexpr unsigned kListDefault = 5000;
  static constexpr unsigned kListLimit = 1000000;
  static constexpr unsigned kFloodLimitMb = 1024;

  // telnet: the line is a Telnet connection (options are negotiated and IAC
  // is a command); otherwise plain bytes, as on a serial line.
  TExchangeHost(bool telnet, TExchangeSamples samples, TClock clock);

  // Opens the session: the option offers over Telnet, else the banner at once.
  void Start();
  // Bytes from the terminal, in any pieces.
  void Receive(std::string_view bytes);
  // Gives up waiting for the terminal where its time is up; call it often.
  void Tick();

  // Bytes for the terminal, about limit at most; long outputs are made as
  // the line takes them. Empty when there is nothing to send now.
  std::string_view Output(std::size_t limit = 64 * 1024);
  // The first count bytes of Output were sent.
  void Consume(std::size_t count);

  // The session was ended by the user; close the line once Output is empty.
  bool Finished() const { return State == stEnded; }
  // What the terminal sent since the last call, Telnet commands taken out.
  std::string TakeReceived();
  // The terminal type the terminal named; empty when it named none.
  const std::string& TerminalType() const { return Terminal; }

 private:
  enum TState { stNegotiating, stCommand, stAnswerBack, stCursorReport, stEnded, stSendFileAnswer };
  enum TTelnetState { tsData, tsIac, tsOption, tsSub, tsSubIac };
  // Makes the next piece of a long output; false once it is complete.
  using TProducer = std::function<bool(std::string& out)>;

  void TelnetByte(std::uint8_t b);
  void TelnetCommand(std::uint8_t command);
  void TelnetOption(std::uint8_t verb, std::uint8_t option);
  void Subnegotiation();
  void SendCommand(std::uint8_t verb, std::uint8_t option);
  void TerminalTypeSettled();

  void Pump();
  void EditLine(std::uint8_t b);
  void Interrupt();
  void Dispatch(const std::string& line);
  void Prompt();
  void Banner();
  void Help();
  void Status();
  void List(unsigned count);
  void Flood(unsigned megabytes, bool cursorAddressing);
  void AnswerBackByte(std::uint8_t b);
  void AnswerBackDone();
  void CursorReportByte(std::uint8_t b);
  void PrintSample(const std::string& text, const char* missing);
  void SendFileAnswer(std::uint8_t b);

  const bool Telnet;
  const TExchangeSamples Samples;
  const TClock Clock;

  TState State = stNegotiating;
  std::string Out;
  std::size_t OutStart = 0;
  TProducer Producer;
  std::string Input;  // data bytes not yet taken by the monitor
  std::string Received;
  std::string Line;
  bool AfterCr = false;

  // Telnet
  TTelnetState TelnetState = tsData;
  std::uint8_t Verb = 0;
  std::string Sub;
  bool WillEcho = true;
  bool WillSuppressGoAhead = true;
  bool TerminalTypeAsked = false;
  std::string Terminal;
  std::int64_t Deadline = 0;

  // ENQ and FLOOD
  std::string AnswerBack;
  std::int64_t FloodStart = 0;
  std::uint64_t FloodBytes = 0;
  unsigned FloodMegabytes = 0;
  std::string Report;  // the tail of what came while a cursor report is due
  TExchangeSendFile SendFile;
  TExchangeInput LineInput;  // INPUT
};
