#include "exchange_host.h"
#include "core/ascii.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <sstream>
#include <utility>
#include <vector>

namespace {

constexpr std::uint8_t kIac = 255;
constexpr std::uint8_t tcSE = 240;
constexpr std::uint8_t tcIP = 244;
constexpr std::uint8_t tcAYT = 246;
constexpr std::uint8_t tcSB = 250;
constexpr std::uint8_t tcWILL = 251;
constexpr std::uint8_t tcWONT = 252;
constexpr std::uint8_t tcDO = 253;
constexpr std::uint8_t tcDONT = 254;
constexpr std::uint8_t toEcho = 1;
constexpr std::uint8_t toSuppressGoAhead = 3;
constexpr std::uint8_t toTerminalType = 24;
constexpr std::uint8_t kTerminalTypeIs = 0;
constexpr std::uint8_t kTerminalTypeSend = 1;
// A subnegotiation longer than this is not one we asked for: it is dropped,
// so a missing IAC SE cannot swallow the rest of the session.
constexpr std::size_t kSubLimit = 64;
constexpr std::size_t kTerminalNameLimit = 40;
constexpr std::size_t kAnswerBackLimit = 256;
constexpr std::size_t kChunk = 16 * 1024;

constexpr std::uint8_t kCtrlC = 3;
constexpr std::uint8_t kEnq = 5;
constexpr std::uint8_t kEot = 4;
constexpr std::uint8_t kBel = 7;
constexpr std::uint8_t kBs = 8;
constexpr std::uint8_t kDel = 127;

constexpr const char* kPrompt = "<";
constexpr const char* kExchangeName = "EXCHANGE DEMO-1";

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(Upper(word));
  return words;
}

// A decimal number within [low, high]; false for anything else.
bool Number(const std::string& text, unsigned low, unsigned high, unsigned& value) {
  const char* end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && at == end && value >= low && value <= high;
}

// Printable bytes as they are, others in the soft-key notation "<n>".
std::string Visible(const std::string& bytes) {
  std::string text;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 32 && b < 127) {
      text += c;
    } else {
      text += "<" + std::to_string(b) + ">";
    }
  }
  return text;
}

std::string Format(const char* format, auto... values) {
  char buffer[256];
  const int n = std::snprintf(buffer, sizeof buffer, format, values...);
  return std::string(buffer, static_cast<std::size_t>(std::clamp(n, 0, int(sizeof buffer) - 1)));
}

std::string At(int row, int column) { return Format("\x1b[%d;%dH", row, column); }

// --- the status page: four boxes of subsystems in line-drawing characters ---

struct TStatusBox {
  const char* Title;
  std::array<const char*, 3> Lines;
  const char* State;
  const char* StateLook;  // SGR of the state word
};

constexpr int kBoxWidth = 38;
constexpr int kBoxHeight = 8;

const TStatusBox kBoxes[] = {
    {"SWITCHING NETWORK", {"Planes      A: ACT   B: STBY", "Load        37 %", "Faults      0"}, "IN SERVICE", "1"},
    {"SIGNALLING", {"SS7 links   8 of 8 in service", "DSS1 D-ch   23 active", "Q.931 msgs  1842 /min"},
     "MINOR ALARM", "7"},
    {"SUBSCRIBER LINES", {"Equipped    12288", "Busy        1711", "Locked out  4"}, "IN SERVICE", "1"},
    {"TRUNKS AND ROUTES", {"Routes      42", "Circuits    3840", "Blocked     17"}, "IN SERVICE", "1"},
};

std::string Box(const TStatusBox& box, int top, int left) {
  const int right = left + kBoxWidth - 1;
  std::string s = At(top, left) + "\x1b(0l" + std::string(kBoxWidth - 2, 'q') + "k\x1b(B";
  s += At(top, left + 2) + "\x1b[1m " + box.Title + " \x1b[0m";
  for (int row = top + 1; row < top + kBoxHeight - 1; ++row) {
    s += At(row, left) + "\x1b(0x\x1b(B" + At(row, right) + "\x1b(0x\x1b(B";
  }
  for (std::size_t i = 0; i < box.Lines.size(); ++i) s += At(top + 2 + int(i), left + 2) + box.Lines[i];
  s += At(top + 5, left + 2) + "State       \x1b[" + box.StateLook + "m" + box.State + "\x1b[0m";
  s += At(top + kBoxHeight - 1, left) + "\x1b(0m" + std::string(kBoxWidth - 2, 'q') + "j\x1b(B";
  return s;
}

// --- long outputs ---

const char* const kCategories[] = {"POTS", "ISDN", "PBX", "COIN", "DATA"};
const char* const kLineStates[] = {"IDLE", "BUSY", "IDLE", "LOCKOUT", "IDLE", "OOS", "BUSY"};

// Indented like an exchange's listing: a line with a digit in its first five
// columns would be taken for a message name while trace conversion is on.
std::string ListLine(unsigned n) {
  const unsigned dn = (n * 7919u) % 10000u;
  return Format("     %05u  5551%04u  01-%02u-%02u-%02u  %-5s %s\r\n", n, dn, (n / 256) % 16, (n / 16) % 16, n % 16,
                kCategories[n % 5], kLineStates[(n * 3) % 7]);
}

std::string FloodLine(std::uint64_t n) {
  const auto v = static_cast<unsigned>(n % 1000000u);
  return Format("%08u  TRUNK %03u/%02u  CIC %05u  STATE %-8s CALLS %6u  ERL %2u.%02u\r\n", v, v % 512, v % 31,
                (v * 37u) % 65536u, kLineStates[v % 7], (v * 13u) % 999983u, v % 24, (v * 7u) % 100);
}

std::string FloodCursorUnit(std::uint64_t n) {
  static const char* const kLooks[] = {"1", "7", "4", "1;7", "0", "1;4"};
  const auto v = static_cast<unsigned>(n % 1000000u);
  return At(int(v % 24) + 1, int((v * 7u) % 60) + 1) + "\x1b[" + kLooks[v % 6] + "m" +
         Format("CIC %05u %-7s", (v * 37u) % 65536u, kLineStates[v % 7]) + "\x1b[0m";
}

}  // namespace

TExchangeHost::TExchangeHost(bool telnet, TExchangeSamples samples, TClock clock)
    : Telnet(telnet), Samples(std::move(samples)), Clock(std::move(clock)) {}

void TExchangeHost::Start() {
  if (!Telnet) {
    Banner();
    return;
  }
  // The monitor echoes and never sends go-ahead; it wants the terminal's type.
  SendCommand(tcWILL, toEcho);
  SendCommand(tcWILL, toSuppressGoAhead);
  SendCommand(tcDO, toTerminalType);
  Deadline = Clock() + kTerminalTypeWaitMs;
}

void TExchangeHost::Receive(std::string_view bytes) {
  for (const char c : bytes) {
    const auto b = static_cast<std::uint8_t>(c);
    if (Telnet) {
      TelnetByte(b);
    } else {
      Input += c;
      Received += c;
    }
  }
  Pump();
}

void TExchangeHost::Tick() {
  if (State == stNegotiating && Telnet && Clock() >= Deadline) TerminalTypeSettled();
  if (State == stAnswerBack && Clock() >= Deadline) AnswerBackDone();
  if (State == stSendFileAnswer && SendFile.AnswerOverdue(Clock())) {
    Out += "\r\n?NO ANSWER FROM TERMINAL\r\n";
    Prompt();
  }
  if (State == stCursorReport && Clock() >= Deadline) {
    Out += "\r\nNO CURSOR POSITION REPORT\r\n";
    Prompt();
  }
  Pump();
}

std::string_view TExchangeHost::Output(std::size_t limit) {
  while (Producer && Out.size() - OutStart < limit) {
    if (!Producer(Out)) {
      Producer = nullptr;
      Pump();  // typed ahead while the output ran
    }
  }
  return std::string_view(Out).substr(OutStart, std::min(limit, Out.size() - OutStart));
}

void TExchangeHost::Consume(std::size_t count) {
  OutStart = std::min(Out.size(), OutStart + count);
  if (OutStart == Out.size()) {
    Out.clear();
    OutStart = 0;
  } else if (OutStart >= kChunk * 4) {
    Out.erase(0, OutStart);
    OutStart = 0;
  }
}

std::string TExchangeHost::TakeReceived() {
  std::string taken;
  taken.swap(Received);
  return taken;
}

// --- Telnet ---

void TExchangeHost::TelnetByte(std::uint8_t b) {
  switch (TelnetState) {
    case tsData:
      if (b == kIac) {
        TelnetState = tsIac;
        return;
      }
      Input += static_cast<char>(b);
      Received += static_cast<char>(b);
      return;
    case tsIac:
      TelnetState = tsData;
      if (b == kIac) {  // a doubled IAC is the data byte 255
        Input += static_cast<char>(b);
        Received += static_cast<char>(b);
        return;
      }
      TelnetCommand(b);
      return;
    case tsOption:
      TelnetState = tsData;
      TelnetOption(Verb, b);
      return;
    case tsSub:
      if (b == kIac) {
        TelnetState = tsSubIac;
        return;
      }
      if (Sub.size() < kSubLimit) {
        Sub += static_cast<char>(b);
        return;
      }
      TelnetState = tsData;  // not a subnegotiation after all: this is data again
      TelnetByte(b);
      return;
    case tsSubIac:
      if (b == kIac) {
        TelnetState = tsSub;
        if (Sub.size() < kSubLimit) Sub += static_cast<char>(b);
        return;
      }
      TelnetState = tsData;
      if (b == tcSE) {
        Subnegotiation();
        return;
      }
      // Any other command ends the subnegotiation unfinished and counts itself.
      TelnetCommand(b);
      return;
  }
}

void TExchangeHost::TelnetCommand(std::uint8_t command) {
  switch (command) {
    case tcWILL: case tcWONT: case tcDO: case tcDONT:
      Verb = command;
      TelnetState = tsOption;
      return;
    case tcSB:
      Sub.clear();
      TelnetState = tsSub;
      return;
    case tcAYT:
      Out += "\r\n[" + std::string(kExchangeName) + ": YES]\r\n";
      return;
    case tcIP:
      Input += static_cast<char>(kCtrlC);
      return;
    default:
      return;  // NOP, DM, GA and unknown commands mean nothing here
  }
}

// Answers only what changes an option's state, so no two hosts loop.
void TExchangeHost::TelnetOption(std::uint8_t verb, std::uint8_t option) {
  auto ours = [&](bool& on) {
    if (verb == tcDO && !on) {
      on = true;
      SendCommand(tcWILL, option);
    } else if (verb == tcDONT && on) {
      on = false;
      SendCommand(tcWONT, option);
    }
  };
  switch (verb) {
    case tcDO: case tcDONT:
      if (option == toEcho) return ours(WillEcho);
      if (option == toSuppressGoAhead) return ours(WillSuppressGoAhead);
      if (verb == tcDO) SendCommand(tcWONT, option);
      return;
    case tcWILL:
      if (option != toTerminalType) {
        SendCommand(tcDONT, option);
        return;
      }
      if (!TerminalTypeAsked) {
        TerminalTypeAsked = true;
        Out += std::string{char(kIac), char(tcSB), char(toTerminalType), char(kTerminalTypeSend), char(kIac),
                           char(tcSE)};
      }
      return;
    case tcWONT:
      if (option == toTerminalType && State == stNegotiating) TerminalTypeSettled();
      return;
    default:
      return;
  }
}

void TExchangeHost::Subnegotiation() {
  if (Sub.size() < 2 || static_cast<std::uint8_t>(Sub[0]) != toTerminalType ||
      static_cast<std::uint8_t>(Sub[1]) != kTerminalTypeIs) {
    return;
  }
  std::string name;
  for (const char c : Sub.substr(2)) {
    if (c > ' ' && c < 127 && name.size() < kTerminalNameLimit) name += c;
  }
  Terminal = name;
  if (State == stNegotiating) TerminalTypeSettled();
}

void TExchangeHost::SendCommand(std::uint8_t verb, std::uint8_t option) {
  Out += std::string{char(kIac), char(verb), char(option)};
}

void TExchangeHost::TerminalTypeSettled() {
  State = stCommand;
  Banner();
}

// --- the monitor ---

// Hands the bytes typed so far to whatever the session is doing; typing
// during a long output waits for its end, except an interrupt.
void TExchangeHost::Pump() {
  std::size_t i = 0;
  while (i < Input.size()) {
    const auto b = static_cast<std::uint8_t>(Input[i]);
    if (State == stNegotiating) break;
    if (State == stEnded) {
      i = Input.size();
      break;
    }
    if (State == stAnswerBack) {
      ++i;
      AnswerBackByte(b);
      continue;
    }
    if (State == stCursorReport) {
      ++i;
      CursorReportByte(b);
      continue;
    }
    if (State == stSendFileAnswer) {
      ++i;
      SendFileAnswer(b);
      continue;
    }
    if (LineInput.Active()) {
      ++i;
      LineInput.Byte(b, Out, WillEcho, AfterCr);
      if (!LineInput.Active()) Prompt();
      continue;
    }
    if (Producer) {
      const std::size_t interrupt = Input.find(static_cast<char>(kCtrlC), i);
      if (interrupt == std::string::npos) break;
      i = interrupt + 1;  // an interrupt also drops what was typed ahead of it
      Interrupt();
      continue;
    }
    ++i;
    EditLine(b);
  }
  Input.erase(0, i);
}

void TExchangeHost::EditLine(std::uint8_t b) {
  const bool afterCr = AfterCr;
  AfterCr = false;
  switch (b) {
    case CR:
      AfterCr = true;
      Out += "\r\n";
      Dispatch(std::exchange(Line, {}));
      return;
    case LF:
    case 0:
      if (afterCr) return;  // the CR LF and CR NUL of a Telnet line end
      if (b == LF) {
        Out += "\r\n";
        Dispatch(std::exchange(Line, {}));
      }
      return;
    case kBs:
    case kDel:
      if (Line.empty()) return;
      Line.pop_back();
      if (WillEcho) Out += "\b \b";
      return;
    case kCtrlC:
      Interrupt();
      return;
    default:
      break;
  }
  if (b < 32) return;
  if (Line.size() >= kLineLimit) {
    Out += static_cast<char>(kBel);
    return;
  }
  Line += static_cast<char>(b);
  if (WillEcho) Out += static_cast<char>(b);
}

void TExchangeHost::Interrupt() {
  Producer = nullptr;
  Line.clear();
  Out += "^C\r\n";
  Prompt();
}

void TExchangeHost::Dispatch(const std::string& line) {
  const std::vector<std::string> words = Words(line);
  if (words.empty()) return Prompt();
  const std::string& command = words[0];
  unsigned number = 0;
  if (command == "HELP" && words.size() == 1) return Help();
  if (command == "STATUS" && words.size() == 1) return Status();
  if (command == "LIST" && words.size() == 1) return List(kListDefault);
  if (command == "LIST" && words.size() == 2) {
    if (!Number(words[1], 0, kListLimit, number)) {
      Out += "?INVALID PARAMETER\r\n";
      return Prompt();
    }
    return List(number);
  }
  if (command == "ENQ" && words.size() == 1) {
    Out += static_cast<char>(kEnq);
    AnswerBack.clear();
    State = stAnswerBack;
    Deadline = Clock() + kAnswerBackWaitMs;
    return;
  }
  if (command == "INPUT" && words.size() == 1) return LineInput.Start(Out, AfterCr);
  if (command == "SENDFILE") {
    if (!SendFile.Start(words, Out, Clock())) return Prompt();
    State = stSendFileAnswer;
    return;
  }
  if (command == "TRACE" && words.size() == 1) return PrintSample(Samples.Trace, "?NO MESSAGE TRACE RECORDED");
  if (command == "MINI" && words.size() == 1) return PrintSample(Samples.Mini, "?NO MINI TRACE RECORDED");
  if ((command == "BYE" || command == "LOGOFF") && words.size() == 1) {
    Out += "SESSION ENDED\r\n";
    State = stEnded;
    Input.clear();
    return;
  }
  if (command == "FLOOD") {
    const bool cursor = words.size() == 3 && words[2] == "CUP";
    if (words.size() == 1) {
      Out += "?MISSING PARAMETER\r\n";
      return Prompt();
    }
    if ((words.size() == 3 && !cursor) || words.size() > 3 || !Number(words[1], 1, kFloodLimitMb, number)) {
      Out += "?INVALID PARAMETER\r\n";
      return Prompt();
    }
    return Flood(number, cursor);
  }
  Out += "?UNKNOWN COMMAND\r\n";
  Prompt();
}

void TExchangeHost::Prompt() {
  State = stCommand;
  Out += kPrompt;
}

void TExchangeHost::Banner() {
  Out += "\r\nQUORIX MAINTENANCE MONITOR  V6.2   ";
  Out += kExchangeName;
  Out += "\r\n";
  if (Telnet) Out += "Terminal type: " + (Terminal.empty() ? std::string("UNKNOWN") : Terminal) + "\r\n";
  Out += "Type HELP for the list of commands.\r\n\r\n";
  Prompt();
}

void TExchangeHost::Help() {
  Out +=
      "STATUS          system status page\r\n"
      "LIST [N]        directory number listing, N lines (5000)\r\n"
      "ENQ             request the terminal's answer-back\r\n"
      "TRACE           message trace output\r\n"
      "MINI            MINI trace output\r\n"
      "INPUT           lines of text up to . or CTRL-Z, each prompted with >\r\n"
      "FLOOD N [CUP]   N megabytes of output, with CUP cursor addressed\r\n"
      "SENDFILE [N]    N random bytes into the terminal's receive file\r\n"
      "BYE, LOGOFF     end the session\r\n";
  Prompt();
}

void TExchangeHost::Status() {
  Out += "\x1b[0m\x1b[H\x1b[2J";
  std::string title = std::string(" QUORIX MAINTENANCE MONITOR        SYSTEM STATUS        ") + kExchangeName;
  title.resize(80, ' ');
  Out += "\x1b[1;7m" + title + "\x1b[0m";
  Out += Box(kBoxes[0], 3, 2) + Box(kBoxes[1], 3, 42) + Box(kBoxes[2], 12, 2) + Box(kBoxes[3], 12, 42);
  Out += At(21, 2) + "Alarms: \x1b[4m1 minor\x1b[0m, 0 major, 0 critical";
  Out += At(22, 2) + "\x1b[1mIN SERVICE\x1b[0m normal   \x1b[7mALARM\x1b[0m needs attention";
  Out += At(24, 1);
  Prompt();
}

void TExchangeHost::List(unsigned count) {
  Out += std::string("DIRECTORY NUMBER LISTING   ") + kExchangeName + "\r\n";
  Out += "     NO.    DN          LEN          CAT   STATE\r\n";
  unsigned next = 1;
  Producer = [this, count, next](std::string& out) mutable {
    const std::size_t end = out.size() + kChunk;
    while (next <= count && out.size() < end) out += ListLine(next++);
    if (next <= count) return true;
    out += "END OF LISTING, " + std::to_string(count) + " LINES\r\n";
    Prompt();
    return false;
  };
}

void TExchangeHost::Flood(unsigned megabytes, bool cursorAddressing) {
  FloodStart = Clock();
  FloodMegabytes = megabytes;
  FloodBytes = 0;
  const std::uint64_t total = std::uint64_t(megabytes) * 1024 * 1024;
  std::uint64_t n = 0;
  Producer = [this, total, n, cursorAddressing](std::string& out) mutable {
    const std::size_t start = out.size();
    while (FloodBytes + (out.size() - start) < total && out.size() - start < kChunk) {
      out += cursorAddressing ? FloodCursorUnit(n++) : FloodLine(n++);
    }
    FloodBytes += out.size() - start;
    if (FloodBytes < total) return true;
    // The cursor report answers once the terminal has taken everything before it.
    if (cursorAddressing) out += "\x1b[0m" + At(24, 1);
    out += "\x1b[6n";
    State = stCursorReport;
    Report.clear();
    Deadline = Clock() + kCursorReportWaitMs;
    return false;
  };
}

void TExchangeHost::SendFileAnswer(std::uint8_t b) {
  switch (SendFile.Answer(b)) {
    case TExchangeSendFile::anWaiting: return;
    case TExchangeSendFile::anRefused:
      Out += "\r\n?TRANSFER REFUSED BY TERMINAL\r\n";
      Prompt();
      return;
    case TExchangeSendFile::anAccepted:
      State = stCommand;
      Producer = [this](std::string& out) {
        if (SendFile.Produce(out, kChunk, Telnet)) return true;
        out += SendFile.Report();
        Prompt();
        return false;
      };
      return;
  }
}

void TExchangeHost::AnswerBackByte(std::uint8_t b) {
  // The LF or NUL that completes the command's own line end is not part of it.
  const bool lineEnd = std::exchange(AfterCr, false) && AnswerBack.empty() && (b == LF || b == 0);
  if (lineEnd) return;
  if (AnswerBack.size() < kAnswerBackLimit) AnswerBack += static_cast<char>(b);
  Deadline = Clock() + kAnswerBackQuietMs;
  if (b == kEot) AnswerBackDone();
}

void TExchangeHost::AnswerBackDone() {
  Out += "Answer-back: " + (AnswerBack.empty() ? std::string("(none)") : Visible(AnswerBack)) + "\r\n";
  Prompt();
}

void TExchangeHost::CursorReportByte(std::uint8_t b) {
  Report += static_cast<char>(b);
  if (Report.size() > 32) Report.erase(0, Report.size() - 32);
  if (b != 'R') return;
  // ESC [ row ; column R
  const std::size_t esc = Report.rfind('\x1b');
  if (esc == std::string::npos || esc + 1 >= Report.size() || Report[esc + 1] != '[') return;
  const std::string body = Report.substr(esc + 2, Report.size() - esc - 3);
  const std::size_t semicolon = body.find(';');
  unsigned row = 0;
  unsigned column = 0;
  if (semicolon == std::string::npos || !Number(body.substr(0, semicolon), 1, 9999, row) ||
      !Number(body.substr(semicolon + 1), 1, 9999, column)) {
    return;
  }
  const std::int64_t elapsed = std::max<std::int64_t>(Clock() - FloodStart, 1);
  const double seconds = double(elapsed) / 1000.0;
  Out += "\r\n" + Format("FLOOD %u MB (%llu BYTES) IN %.3f S, %.2f MB/S", FloodMegabytes,
                         static_cast<unsigned long long>(FloodBytes), seconds,
                         double(FloodBytes) / (1024.0 * 1024.0) / seconds) +
         "\r\n";
  Prompt();
}

void TExchangeHost::PrintSample(const std::string& text, const char* missing) {
  if (text.empty()) {
    Out += std::string(missing) + "\r\n";
    return Prompt();
  }
  // The recorded text may have bare line feeds; the line carries CR LF.
  char previous = 0;
  for (const char c : text) {
    if (c == '\n' && previous != '\r') Out += '\r';
    Out += c;
    previous = c;
  }
  if (previous != '\n') Out += "\r\n";
  Prompt();
}
