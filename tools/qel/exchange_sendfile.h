// SENDFILE [N] of the simulated exchange: the host starts a binary receive
// on the terminal with its transfer sequence (ESC [ > 0 ; 1 ; N r: type 0
// binary, an existing file overwritten, N bytes), waits for the terminal's
// "Y" or "N", and on "Y" sends N bytes of seeded random data, Ctrl-Z and
// 255 among them, untouched; over Telnet each 255 goes out as IAC IAC, as
// Telnet data must, and the terminal stores it as one byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

// The bytes SENDFILE sends: the low byte of each draw of std::mt19937 seeded
// with kSeed, so a test can make the same bytes.
class TSendFilePayload {
 public:
  static constexpr std::uint32_t kSeed = 20261206;
  void Append(std::string& out, std::size_t count);

 private:
  std::mt19937 Random{kSeed};
};

class TExchangeSendFile {
 public:
  static constexpr std::uint64_t kDefaultBytes = 64 * 1024;
  static constexpr std::uint64_t kLimitBytes = 512ull * 1024 * 1024;
  static constexpr std::int64_t kAnswerWaitMs = 5000;

  enum TAnswer { anWaiting, anAccepted, anRefused };

  // "SENDFILE" or "SENDFILE N" (words upper-cased): the start sequence goes to
  // out. False, with the error line in out, for a bad count.
  bool Start(const std::vector<std::string>& words, std::string& out, std::int64_t now);
  // A byte from the terminal while its answer is due.
  TAnswer Answer(std::uint8_t b);
  bool AnswerOverdue(std::int64_t now) const { return now >= Deadline; }
  // Appends up to `chunk` bytes of the payload (a 255 doubled when telnet);
  // false once all are out.
  bool Produce(std::string& out, std::size_t chunk, bool telnet);
  // The line after the payload.
  std::string Report() const;

 private:
  TSendFilePayload Payload;
  std::uint64_t Total = 0;
  std::uint64_t Sent = 0;
  std::int64_t Deadline = 0;
};
