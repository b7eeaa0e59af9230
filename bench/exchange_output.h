// A week of exchange output, as the scroll-back benchmarks feed it: half
// trunk-status lines (counters that grow, times that advance), a tenth alarm
// lines shown in red, the rest hex trace lines of random bytes. About 78.5
// bytes a line with the line end.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

class TExchangeOutput {
 public:
  // Appends the next line, ended by CR LF, to out.
  void AppendLine(std::string& out) {
    const std::uint32_t kind = Next() % 10;
    if (kind < 5)
      AppendTrunkStatus(out);
    else if (kind == 5)
      AppendAlarm(out);
    else
      AppendHexTrace(out);
    ++Lines;
    if (Lines % 40 == 0) Tick();
  }

 private:
  static constexpr const char* kStates[] = {"IDLE ", "BUSY ", "BLOCK", "SEIZD", "RLSD "};
  static constexpr const char* kAlarms[] = {"LOSS OF SIGNAL      ", "FRAME SLIP          ",
                                            "REMOTE ALARM IND    ", "LINK FAILURE        ",
                                            "CONGESTION LEVEL 1  ", "PROCESSOR LOAD HIGH "};

  std::uint32_t Next() {
    State = State * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>(State >> 33);
  }
  void Tick() {
    if (++Second == 60) {
      Second = 0;
      if (++Minute == 60) {
        Minute = 0;
        Hour = (Hour + 1) % 24;
      }
    }
  }
  void Append(std::string& out, const char* text, int n) { out.append(text, static_cast<std::size_t>(n)); }

  void AppendTrunkStatus(std::string& out) {
    const std::uint32_t group = Next() % 64;
    const std::uint32_t circuit = Next() % 32;
    std::uint32_t& seizures = Counters[group][circuit];
    seizures += 1 + Next() % 3;
    char line[128];
    const int n = std::snprintf(line, sizeof line,
                                "%02u:%02u:%02u TRK GRP %04u CCT %03u STATE %s SEIZ %07u ANS %07u BLK %05u\r\n",
                                Hour, Minute, Second, group, circuit, kStates[Next() % 5], seizures,
                                seizures - seizures / 7, seizures / 97);
    Append(out, line, n);
  }
  void AppendAlarm(std::string& out) {
    char line[128];
    const int n = std::snprintf(line, sizeof line,
                                "\x1b[31m%02u:%02u:%02u *** ALARM %04u MAJOR LINK %02u %s ACTIVE\x1b[0m\r\n", Hour,
                                Minute, Second, Next() % 10000, Next() % 64, kAlarms[Next() % 6]);
    Append(out, line, n);
  }
  void AppendHexTrace(std::string& out) {
    static const char kHex[] = "0123456789ABCDEF";
    char line[128];
    int n = std::snprintf(line, sizeof line, "  H'%04X ", TraceOffset);
    TraceOffset = (TraceOffset + 23) & 0xFFFF;
    for (int i = 0; i < 23; ++i) {
      const std::uint32_t byte = Next() & 0xFF;
      line[n++] = kHex[byte >> 4];
      line[n++] = kHex[byte & 15];
      line[n++] = ' ';
    }
    line[n - 1] = '\r';
    line[n++] = '\n';
    Append(out, line, n);
  }

  std::uint64_t State = 0x5EED;
  std::uint32_t Counters[64][32] = {};
  std::uint32_t Hour = 0, Minute = 0, Second = 0;
  std::uint32_t TraceOffset = 0;
  long Lines = 0;
};
