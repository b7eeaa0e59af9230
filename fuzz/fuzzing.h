// What the harnesses share: a work directory that lives as long as the
// fuzzer, the input read as a little program of bytes, a session on a
// recording line, and the limits the receive path keeps whatever arrives.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "app/session.h"
#include "comms/recordinglines.h"
#include "comms/transmit.h"
#include "core/settings.h"
#include "core/tempdir.h"
#include "screen/store.h"
#include "screen/writer.h"
#include "support/scripteddesktop.h"
#include "terminal/interpreter.h"

// The work directory, with its trailing '/'; removed when the fuzzer exits.
inline const std::string& FuzzDirectory() {
  static const TTemporaryDirectory directory("qelfuzz");
  if (directory.Path().empty()) std::abort();
  static const std::string path = directory.Path().string() + "/";
  return path;
}

// The bytes as the file `name`; false when it cannot be written.
inline bool WriteFuzzFile(const std::string& name, std::string_view bytes) {
  std::FILE* file = std::fopen(name.c_str(), "wb");
  if (!file) return false;
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  return std::fclose(file) == 0;
}

// The file's bytes ("" when it cannot be read).
inline std::string ReadFuzzFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A session in the work directory whose desktop answers every box, on a
// recording network line that keeps what the terminal sends the host.
struct TLineSession {
  TScriptedDesktop Desktop;
  TSession S{Desktop, FuzzDirectory()};
  TRecordingNetworkLine Line;
  // Starts the session as the settings now stand, on a connected Telnet or plain line.
  void Start(bool telnet) {
    S.Settings.Port = static_cast<std::uint8_t>(telnet ? kTelnetPortIndex : 0);
    S.StartUp();
    S.Transmit->Network = &Line;
    S.Transmit->NetworkConnected = true;
  }
  // Bytes from the host in one block, as a socket read delivers them.
  void Receive(std::string_view bytes) {
    S.ReceiveBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
};

// A mode set with every kind the MINI and trace conversions meet, and the
// names a user may type for a conversion, known and unknown.
inline const char* const kFuzzModes = R"(
VERSION 1.0;
NEWMODE colour = SET (red, green, *, blue);
NEWMODE pair = STRUCT (a INT, b BOOL, c colour);
NEWMODE list = STRUCT (n INT, items ARRAY (0:7) pair VARLENGTH (n));
NEWMODE q931_message = RANGE (0:127) CONSTANTS (alerting = 01H, setup = 05H, connect = 07H, release = 4DH);
NEWMODE ie_id = RANGE (0:255) CONSTANTS (bearer = 04H, cause = 08H, display = 28H, called = 70H);
NEWMODE cause_ie = PACK STRUCT (ext BOOL, coding BIT(2), spare BIT(1), where BIT(4), ext4 BOOL, value BIT(7));
NEWMODE ie_contents = STRUCT (id ie_id, CASE id OF (cause): cause cause_ie; ELSE other BIN(8); ESAC);
DSS1 MESSAGETYPES = q931_message;
DSS1 CODESET 0 = ie_id;
DSS1 IECONTENTS = ie_contents;
SYN max_items INT = 8;
MESSAGE 1 = pair;
MESSAGE 2 = HEXDUMP;
MESSAGE 3 = MBIDLIST;
MESSAGE 4 = DSS1;
MESSAGE 10 = list;
MESSAGE 11 = list;
USERBUFFER 1 = list;
USERBUFFER 10 = pair;
MBID 5 = colour;
MBID 6 = pair;
KASP MSG 1 = "PAIR_MSG";
KASP MSG 10 = "LIST_MSG";
KASP BID 5 = "COLOUR";
KASP BID 6 = "PAIR";
KASP VMI 3 = "LINE_HANDLER";
)";

inline const char* const kFuzzModeNames[] = {"PAIR", "LIST", "COLOUR", "ASCII", "MINI",
                                             "COMPLEX", "MSG", "MAX_ITEMS", "NOTHING"};
inline constexpr std::size_t kFuzzModeNameCount = sizeof kFuzzModeNames / sizeof kFuzzModeNames[0];

// The input read front to back; past its end bytes read as 0 and runs are short.
class TFuzzInput {
 public:
  TFuzzInput(const std::uint8_t* data, std::size_t size) : Data(data), Size(size) {}
  bool More() const { return At < Size; }
  std::uint8_t Byte() { return At < Size ? Data[At++] : 0; }
  // Two bytes, low first.
  int Word() {
    const int low = Byte();
    return low | Byte() << 8;
  }
  // Up to `count` bytes as they stand.
  std::string_view Bytes(std::size_t count) {
    count = std::min(count, Size - At);
    const std::string_view bytes(reinterpret_cast<const char*>(Data + At), count);
    At += count;
    return bytes;
  }

 private:
  const std::uint8_t* Data;
  std::size_t Size;
  std::size_t At = 0;
};

// The interpreter's buffers and the cursor and margins stay in their bounds;
// the escape buffer below escapeLimit.
inline void CheckTerminalLimits(const TSession& s, std::size_t escapeLimit) {
  const TReceiveInterpreter& i = *s.Interpreter;
  if (i.EscapeBuffer.size() >= escapeLimit) std::abort();
  if (i.TelnetBuffer.size() > 21) std::abort();
  if (i.LineCaptureBuffer.size() >= TReceiveInterpreter::kLineCaptureLimit) std::abort();
  if (i.ParameterCount < 0 || i.ParameterCount > TReceiveInterpreter::kMaxParameters) std::abort();
  const TTerminalState& t = s.Writer->State;
  if (t.CursorRow < 1 || t.CursorRow > t.ScreenRows) std::abort();
  // A double-width row advances by two beyond the last column.
  if (t.CursorColumn < 1 || t.CursorColumn > 134) std::abort();
  if (t.TopMargin < 1 || t.TopMargin > t.BottomMargin || t.BottomMargin > t.ScreenRows) std::abort();
}

// Every store line of the two sessions reads the same.
inline bool SameStoreLines(const TSession& a, const TSession& b) {
  if (a.Screen->Count() != b.Screen->Count()) return false;
  for (int line = 0; line < a.Screen->Count(); ++line) {
    if (a.Screen->GetLineText(line) != b.Screen->GetLineText(line)) return false;
  }
  return true;
}
