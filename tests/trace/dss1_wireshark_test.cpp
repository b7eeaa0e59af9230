// DSS1 decoding against Wireshark's Q.931 dissector: seeded random but valid
// Q.931 messages are written as message trace text (in word lines and in
// byte lines) and decoded with the sample modes, and the same octets are
// dissected by tshark from one capture file. Message type, call reference,
// the IE sequence with its codesets, cause values, number digits and display
// text must agree. Wireshark is the reference.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/numbers.h"
#include "trace/decoder_testing.h"
#include "trace/linetext.h"
#include "trace/pcap.h"

namespace {

using TOctets = std::vector<std::uint8_t>;

// --- The generator ---

// Every message type the samples name.
constexpr std::uint8_t kMessageTypes[] = {0x01, 0x02, 0x03, 0x05, 0x07, 0x0D, 0x0F, 0x20, 0x21, 0x22, 0x24,
                                          0x25, 0x26, 0x28, 0x2D, 0x2E, 0x30, 0x31, 0x33, 0x37, 0x45, 0x46,
                                          0x4D, 0x4E, 0x5A, 0x60, 0x62, 0x64, 0x6E, 0x75, 0x79, 0x7B, 0x7D};

class TQ931Generator {
 public:
  explicit TQ931Generator(std::uint32_t seed) : Rng(seed) {}

  TOctets Next() {
    TOctets m{0x08};
    CallReference(m);
    m.push_back(kMessageTypes[Pick(0, std::size(kMessageTypes) - 1)]);
    if (Chance(20)) m.push_back(0xA1);  // sending complete
    if (Chance(10)) m.push_back(0xA0);  // more data
    if (Chance(15)) m.push_back(static_cast<std::uint8_t>(0xB0 | (Chance(50) ? 0x0 : 0xF)));  // congestion level
    if (Chance(10)) m.push_back(static_cast<std::uint8_t>(0xD0 | Pick(1, 3)));                // repeat indicator
    for (int n = Pick(0, 6); n > 0; --n) CodesetZeroIe(m);
    if (Chance(30)) {
      ++NonLockingShifts;
      m.push_back(static_cast<std::uint8_t>(0x98 | Pick(5, 7)));  // non-locking: the next IE only
      OtherCodesetIe(m);
      if (Chance(50)) CodesetZeroIe(m);
    }
    if (Chance(25)) {
      ++LockingShifts;
      m.push_back(static_cast<std::uint8_t>(0x90 | Pick(5, 7)));  // locking: to the end
      for (int n = Pick(1, 2); n > 0; --n) OtherCodesetIe(m);
    }
    return m;
  }

  int LockingShifts = 0;
  int NonLockingShifts = 0;

 private:
  int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(Rng); }
  bool Chance(int percent) { return Pick(1, 100) <= percent; }

  void CallReference(TOctets& m) {
    const int length = Pick(0, 2);
    m.push_back(static_cast<std::uint8_t>(length));
    if (length == 0) return;
    m.push_back(static_cast<std::uint8_t>((Chance(50) ? 0x80 : 0) | Pick(0, 0x7F)));
    if (length == 2) m.push_back(static_cast<std::uint8_t>(Pick(0, 0xFF)));
  }

  void Ie(TOctets& m, std::uint8_t identifier, const TOctets& contents) {
    m.push_back(identifier);
    m.push_back(static_cast<std::uint8_t>(contents.size()));
    m.insert(m.end(), contents.begin(), contents.end());
  }

  std::string Digits(int lo, int hi, const char* alphabet) {
    std::string text;
    const int size = static_cast<int>(std::char_traits<char>::length(alphabet));
    for (int n = Pick(lo, hi); n > 0; --n) text += alphabet[Pick(0, size - 1)];
    return text;
  }

  void CodesetZeroIe(TOctets& m) {
    switch (Pick(0, 9)) {
      case 0: {  // bearer capability
        const int capabilities[] = {0x00, 0x08, 0x09, 0x10, 0x11};
        const int rates[] = {0x10, 0x11, 0x13, 0x15, 0x17, 0x18};
        const int rate = rates[Pick(0, 5)];
        TOctets c{static_cast<std::uint8_t>(0x80 | capabilities[Pick(0, 4)]), static_cast<std::uint8_t>(0x80 | rate)};
        if (rate == 0x18) c.push_back(static_cast<std::uint8_t>(0x80 | Pick(2, 30)));
        if (Chance(70)) c.push_back(static_cast<std::uint8_t>(0xA0 | (Chance(50) ? 2 : 3)));
        Ie(m, 0x04, c);
        return;
      }
      case 1: {  // cause, with or without octet 3a, with diagnostics
        const int locations[] = {0, 1, 2, 3, 4, 5, 7, 10};
        const std::uint8_t location = static_cast<std::uint8_t>(locations[Pick(0, 7)]);
        TOctets c;
        if (Chance(40)) {
          c.push_back(location);  // extension bit 0: octet 3a follows
          c.push_back(0x80);      // Q.931
        } else {
          c.push_back(static_cast<std::uint8_t>(0x80 | location));
        }
        c.push_back(static_cast<std::uint8_t>(0x80 | Pick(1, 127)));
        for (int n = Pick(0, 3); n > 0; --n) c.push_back(static_cast<std::uint8_t>(Pick(0, 0x7F)));
        Ie(m, 0x08, c);
        return;
      }
      case 2: {  // channel identification, basic or primary rate
        if (Chance(40)) {
          Ie(m, 0x18, {static_cast<std::uint8_t>(0x80 | (Chance(50) ? 0x08 : 0) | Pick(0, 3))});
          return;
        }
        const bool interfaceId = Chance(30);
        TOctets c{static_cast<std::uint8_t>(0xA1 | (interfaceId ? 0x40 : 0) | (Chance(50) ? 0x08 : 0))};
        if (interfaceId) c.push_back(static_cast<std::uint8_t>(0x80 | Pick(0, 3)));
        c.push_back(0x83);  // ITU-T coding, channel by number, B-channel units
        c.push_back(static_cast<std::uint8_t>(0x80 | Pick(1, 31)));
        Ie(m, 0x18, c);
        return;
      }
      case 3:  // call state
        Ie(m, 0x14, {static_cast<std::uint8_t>(Pick(0, 25))});
        return;
      case 4: {  // progress indicator
        const int descriptions[] = {1, 2, 3, 4, 8};
        Ie(m, 0x1E, {static_cast<std::uint8_t>(0x80 | Pick(0, 5)), static_cast<std::uint8_t>(0x80 | descriptions[Pick(0, 4)])});
        return;
      }
      case 5: {  // display
        const std::string text = Digits(1, 24, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 .-");
        Ie(m, 0x28, TOctets(text.begin(), text.end()));
        return;
      }
      case 6: {  // keypad facility
        const std::string text = Digits(1, 8, "0123456789*#");
        Ie(m, 0x2C, TOctets(text.begin(), text.end()));
        return;
      }
      case 7:  // signal
        Ie(m, 0x34, {static_cast<std::uint8_t>(Pick(0, 8))});
        return;
      case 8: {  // calling party number, with or without octet 3a
        const std::uint8_t typePlan = static_cast<std::uint8_t>(Pick(0, 4) << 4 | (Chance(70) ? 1 : 9));
        TOctets c;
        if (Chance(50)) {
          c.push_back(typePlan);
          c.push_back(static_cast<std::uint8_t>(0x80 | Pick(0, 1) << 5 | Pick(0, 3)));
        } else {
          c.push_back(static_cast<std::uint8_t>(0x80 | typePlan));
        }
        const std::string digits = Digits(1, 20, "0123456789");
        c.insert(c.end(), digits.begin(), digits.end());
        Ie(m, 0x6C, c);
        return;
      }
      default: {  // called party number
        TOctets c{static_cast<std::uint8_t>(0x80 | Pick(0, 4) << 4 | (Chance(70) ? 1 : 9))};
        const std::string digits = Digits(1, 20, "0123456789");
        c.insert(c.end(), digits.begin(), digits.end());
        Ie(m, 0x70, c);
        return;
      }
    }
  }

  void OtherCodesetIe(TOctets& m) {
    TOctets c;
    for (int n = Pick(0, 4); n > 0; --n) c.push_back(static_cast<std::uint8_t>(Pick(0, 0xFF)));
    Ie(m, static_cast<std::uint8_t>(Pick(1, 0x7F)), c);
  }

  std::mt19937 Rng;
};

// --- Trace text ---

// A message 20 header (DSS1 in the samples) announcing `length` octets.
std::string HeaderLine(std::size_t length, bool sent) {
  std::string line = "20_ISDNL3    0070_0001 0012_0034 ";
  line += Hex(static_cast<std::uint32_t>(length), 2);
  line += "40 2800 .... ....:.... ....  ";
  line += sent ? "SND" : "RCV";
  line += "  09:15:03.55\r\n";
  return line;
}

// Sixteen octets to a line, or words of two octets, low octet first, twelve
// to a line (an odd last octet as "XXnn").
std::string DataLines(const TOctets& m, bool words) {
  const std::size_t step = words ? 2 : 1;
  std::string text;
  for (std::size_t i = 0; i < m.size(); i += words ? 24 : 16) {
    text += " DATA =";
    for (std::size_t k = i; k < std::min(i + (words ? 24 : 16), m.size()); k += step) {
      text += ' ';
      if (words && k + 1 < m.size()) AppendHex(text, m[k + 1], 2);
      else if (words) text += "XX";
      AppendHex(text, m[k], 2);
    }
    text += "\r\n";
  }
  return text;
}

// --- What both sides say about a message ---

struct TDissection {
  std::string CallReference;  // "" for the dummy call reference
  int Flag = -1;              // -1 without a call reference
  int Type = -1;
  std::vector<std::string> Ies;  // "codeset:identifier"; shifts as "shift N locking|once"
  std::vector<int> Causes;
  std::vector<std::string> Digits;
  std::vector<std::string> Displays;

  std::string Text() const {
    std::string t = "type " + std::to_string(Type) + " cr '" + CallReference + "' flag " + std::to_string(Flag) + "\n ies";
    for (const auto& ie : Ies) t += " " + ie;
    t += "\n causes";
    for (const int c : Causes) t += " " + std::to_string(c);
    t += "\n digits";
    for (const auto& d : Digits) t += " '" + d + "'";
    t += "\n displays";
    for (const auto& d : Displays) t += " '" + d + "'";
    return t;
  }
};

// The IE being read, with the codeset it stands in.
struct TIeTracker {
  int Active = 0, Saved = 0;
  bool Once = false;
  int Codeset = 0;
  int Identifier = -1;

  void Ie(TDissection& d, int identifier) {
    Codeset = Active;
    Identifier = identifier;
    d.Ies.push_back(std::to_string(Active) + ":" + Hex(static_cast<std::uint32_t>(identifier), 2));
    if (Once) {
      Active = Saved;
      Once = false;
    }
  }
  void Shift(TDissection& d, int codeset, bool locking) {
    d.Ies.push_back("shift " + std::to_string(codeset) + (locking ? " locking" : " once"));
    Saved = Active;
    Active = codeset;
    Once = !locking;
    Identifier = -1;
  }
  bool In(int identifier) const { return Codeset == 0 && Identifier == identifier; }
};

int HexPrefix(std::string_view text) { return HexGroupValue(text.substr(0, text.find('('))); }

std::string_view After(std::string_view line, std::string_view key) {
  const std::size_t at = line.find(key);
  return at == std::string_view::npos ? std::string_view() : line.substr(at + key.size());
}

// The decoder's lines, one dissection per "PROT DESCR" line.
std::vector<TDissection> OurDissections(const std::vector<std::string>& lines) {
  std::vector<TDissection> all;
  TIeTracker ie;
  int pendingShift = -1;
  for (const std::string& line : lines) {
    const std::string_view l = line;
    if (l == "  PROT DESCR    = DSS1") {
      all.emplace_back();
      ie = {};
      continue;
    }
    if (all.empty()) continue;
    TDissection& d = all.back();
    if (l.starts_with("  CALL REF FLAG = ")) {
      d.Flag = After(l, "= ").starts_with("True") ? 1 : 0;
    } else if (l.starts_with("  CALL REF      = ")) {
      const std::string_view v = After(l, "= ");
      d.CallReference = v == "DUMMY" ? "" : std::string(v);
    } else if (l.starts_with("  MSG TYPE      = ")) {
      d.Type = HexPrefix(After(l, "= "));
    } else if (l.starts_with("    IE = ")) {
      const int identifier = HexPrefix(After(l, "= "));
      if (identifier == 0x90) pendingShift = 0;
      else ie.Ie(d, identifier);
    } else if (l.starts_with("      New CodeSet   = ")) {
      pendingShift = HexPrefix(After(l, "= "));
    } else if (l.starts_with("      Locking Shift = ")) {
      ie.Shift(d, pendingShift, After(l, "= ").starts_with("True"));
    } else if (ie.In(0x08) && l.find(" VALUE = ") != std::string_view::npos) {
      d.Causes.push_back(HexPrefix(After(l, " VALUE = ")));
    } else if ((ie.In(0x6C) || ie.In(0x70)) && l.find(" DIGITS") != std::string_view::npos) {
      const std::string_view v = After(l, ") = ");
      if (l.find("(00000)") != std::string_view::npos) d.Digits.emplace_back();
      if (!d.Digits.empty()) d.Digits.back() += v.empty() ? ' ' : v[0];
    } else if (ie.In(0x28) && l.find(" TEXT(") != std::string_view::npos) {
      const std::string_view v = After(l, ") = ");
      if (l.find("TEXT(00000)") != std::string_view::npos) d.Displays.emplace_back();
      if (!d.Displays.empty()) d.Displays.back() += v.empty() ? ' ' : v[0];
    }
  }
  return all;
}

// --- tshark's side ---

// An attribute's text as PDML writes it. The generated texts hold no
// character XML escapes (display text is letters, digits, blank, '.' and '-').
std::string Attribute(std::string_view line, std::string_view name) {
  const std::string key = " " + std::string(name) + "=\"";
  const std::size_t at = line.find(key);
  if (at == std::string_view::npos) return "";
  const std::size_t from = at + key.size();
  return std::string(line.substr(from, line.find('"', from) - from));
}

int HexNumber(const std::string& text) { return static_cast<int>(std::strtol(text.c_str(), nullptr, 16)); }

// One dissection per packet of tshark's PDML.
std::vector<TDissection> WiresharkDissections(const std::string& pdml, const std::vector<TOctets>& messages) {
  std::vector<TDissection> all;
  TIeTracker ie;
  std::size_t from = 0;
  std::size_t nextIe = 0;
  // The Q.931 PDU starts after the 4 octets of the LAPD header.
  auto octetAt = [&](const std::string& pos) {
    const TOctets& m = messages[all.size() - 1];
    const std::size_t at = static_cast<std::size_t>(std::stoul(pos)) - 4;
    return at < m.size() ? m[at] : -1;
  };
  while (from < pdml.size()) {
    std::size_t end = pdml.find('\n', from);
    if (end == std::string::npos) end = pdml.size();
    const std::string_view line(pdml.data() + from, end - from);
    from = end + 1;
    if (line.find("<packet>") != std::string_view::npos) {
      all.emplace_back();
      ie = {};
      nextIe = 0;
      continue;
    }
    if (all.empty() || all.size() > messages.size()) continue;
    if (line.find("<field name=\"q931.") == std::string_view::npos &&
        line.find("<field name=\"qsig.ie.") == std::string_view::npos)
      continue;
    TDissection& d = all.back();
    const std::string name = Attribute(line, "name");
    const std::string show = Attribute(line, "show");
    const std::string pos = Attribute(line, "pos");
    // An IE starts where the one before it ends: the identifiers a cause's
    // diagnostics name are shown with the same field inside the cause.
    const bool ieStart = !pos.empty() && std::stoul(pos) >= nextIe;
    if (ieStart && (name == "q931.information_element" || name == "qsig.ie.type")) {
      // Codeset 5 IEs that Wireshark knows are dissected as QSIG ones.
      ie.Ie(d, HexNumber(Attribute(line, "value")));
      const std::size_t at = std::stoul(pos) - 4;
      const TOctets& m = messages[all.size() - 1];
      nextIe = std::stoul(pos) + 2 + (at + 1 < m.size() ? m[at + 1] : 0);
      continue;
    }
    if (ieStart && (name == "q931.more_data" || name == "q931.sending_complete" || name == "q931.congestion_level" ||
                    name == "q931.repeat_indicator" || name == "q931.locking_codeset"))
      nextIe = std::stoul(pos) + 1;
    if (name == "q931.call_ref_flag") {
      d.Flag = std::stoi(show);
    } else if (name == "q931.call_ref") {
      for (const char c : show)
        if (c != ':') d.CallReference += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    } else if (name == "q931.message_type") {
      d.Type = HexNumber(Attribute(line, "value"));
    } else if (name == "q931.more_data" || name == "q931.sending_complete") {
      ie.Ie(d, octetAt(Attribute(line, "pos")));
    } else if (name == "q931.congestion_level" || name == "q931.repeat_indicator") {
      ie.Ie(d, octetAt(Attribute(line, "pos")) & 0xF0);
    } else if (name == "q931.locking_codeset") {
      ie.Shift(d, std::stoi(show), Attribute(line, "showname").starts_with("Locking"));
    } else if (name == "q931.cause_value" && ie.In(0x08)) {
      d.Causes.push_back(std::stoi(show));
    } else if ((name == "q931.calling_party_number.digits" && ie.In(0x6C)) ||
               (name == "q931.called_party_number.digits" && ie.In(0x70))) {
      d.Digits.push_back(show);
    } else if (name == "q931.display_information" && ie.In(0x28)) {
      d.Displays.push_back(show);
    }
  }
  return all;
}

constexpr int kMessages = 200;

TEST(Dss1Wireshark, RandomMessagesInWordAndByteLinesDecodeAsWiresharkDissectsThem) {
  const std::string tshark = TsharkPath();
  if (tshark.empty()) GTEST_SKIP() << "tshark is not installed (Debian package tshark)";
  TQ931Generator generator(20240917);
  std::vector<TOctets> messages;
  for (int n = 0; n < kMessages; ++n) messages.push_back(generator.Next());
  // The messages cover what the comparison is about: odd lengths in word
  // lines, 16n + 1 octets in byte lines, every message type, all three call
  // reference lengths, both shifts; the header's length field has two digits.
  std::set<int> types, references;
  int odd = 0, oneOver = 0;
  for (const TOctets& m : messages) {
    ASSERT_LT(m.size(), 256u);
    odd += m.size() % 2;
    oneOver += m.size() % 16 == 1;
    references.insert(m[1]);
    types.insert(m[2 + m[1]]);
  }
  ASSERT_TRUE(odd > 20 && oneOver > 3 && generator.LockingShifts > 10 && generator.NonLockingShifts > 10);
  ASSERT_EQ(types.size(), std::size(kMessageTypes));
  ASSERT_EQ(references, (std::set<int>{0, 1, 2}));

  TDecoding d(ReadFileBytes(std::string(QEL_TEST_DATA) + "/../samples/exchange.mode"));
  std::string trace;
  for (const TOctets& m : messages) trace += HeaderLine(m.size(), false) + DataLines(m, true) + "\r\n";
  for (const TOctets& m : messages) trace += HeaderLine(m.size(), true) + DataLines(m, false) + "\r\n";
  d.Feed(trace);
  d.S.Trace->EndOfInput();
  const std::vector<TDissection> ours = OurDissections(d.Lines());
  ASSERT_EQ(ours.size(), 2u * kMessages);

  const std::string capture = d.T.Dir.file("random.pcap");
  TPcapWriter writer;
  ASSERT_EQ(writer.Open(capture), 0);
  for (const TOctets& m : messages) ASSERT_EQ(writer.Write({m.data(), m.size(), "09:15:03.55", "RCV"}), 0);
  writer.Close();
  const std::vector<TDissection> theirs = WiresharkDissections(CommandOutput(tshark + " -r " + capture + " -T pdml 2>/dev/null"), messages);
  ASSERT_EQ(theirs.size(), messages.size());

  int agreeWords = 0, agreeBytes = 0;
  for (int n = 0; n < kMessages; ++n) {
    const std::string reference = theirs[n].Text();
    const std::string words = ours[n].Text();
    const std::string bytes = ours[kMessages + n].Text();
    agreeWords += words == reference;
    agreeBytes += bytes == reference;
    EXPECT_EQ(words, reference) << "message " << n << " in word lines:\n" << DataLines(messages[n], false);
    EXPECT_EQ(bytes, reference) << "message " << n << " in byte lines:\n" << DataLines(messages[n], false);
  }
  std::printf("agreement with Wireshark: word lines %d of %d, byte lines %d of %d\n", agreeWords, kMessages,
              agreeBytes, kMessages);
}

}  // namespace
