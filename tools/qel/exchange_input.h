// The monitor's INPUT command: the terminal sends lines of text, as a paced
// file send does. Each line is echoed and answered with the line prompt ">";
// a "." line or a Ctrl-Z ends the input, and the monitor reports how many
// lines and bytes arrived and their CRC-32, so the sender can check that
// exactly its text arrived.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// CRC-32 (IEEE 802.3, reflected, as zlib and cksum -a crc32b compute it).
std::uint32_t Crc32(std::uint32_t crc, std::string_view bytes);

class TExchangeInput {
 public:
  static constexpr std::size_t kLineLimit = 4096;  // longer lines are counted in pieces

  bool Active() const { return Collecting; }
  // Starts collecting; afterCr: the command line ended with CR, so a LF or
  // NUL that follows belongs to it.
  void Start(std::string& out, bool afterCr);
  // One byte from the terminal while Active; the answers go to out. When the
  // input ends, the report is written and afterCr tells whether the ending
  // line ended with CR.
  void Byte(std::uint8_t b, std::string& out, bool echo, bool& afterCr);

  // What the last input received (also kept after it ended).
  std::uint64_t Lines() const { return LineCount; }
  std::uint64_t Bytes() const { return ByteCount; }
  std::uint32_t Crc() const { return Checksum; }

 private:
  void Count(std::string_view bytes);
  void LineEnd(std::uint8_t b, std::string& out, bool& afterCr);
  void End(std::string& out);

  bool Collecting = false;
  std::string Line;            // the line's bytes not yet counted
  bool LinePartCounted = false;  // part of this line was counted already
  std::uint8_t LastLineEnd = 0;  // CR or LF when the previous byte ended a line
  bool SkipCommandLineEnd = false;
  std::uint64_t LineCount = 0;
  std::uint64_t ByteCount = 0;
  std::uint32_t Checksum = 0;
};
