// One session driven by a little program: chunks of received bytes
// interleaved with the state changes a user or the host makes in the middle
// of a stream (trace and MINI conversion switched, the terminal type, the
// line, line capture, a host transfer, timer ticks, typed keys and soft-key
// text, sends, the column mode, conversions of screen lines, Display Mode,
// start-up again). Faults that only show when a feature changes while
// another one is half-way through a line or a message live here.
//
// Program: a byte of initial settings, then operations, each an opcode byte
// and its arguments; the work of one input is capped.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include "app/session.h"
#include "comms/recordinglines.h"
#include "comms/transmit.h"
#include "core/desktop.h"
#include "core/settings.h"
#include "fuzzing.h"
#include "log/logfiles.h"
#include "support/scripteddesktop.h"
#include "terminal/keyboard.h"
#include "trace/compiler.h"
#include "trace/convert.h"
#include "trace/decoder.h"
#include "trace/display.h"
#include "trace/mini.h"
#include "trace/tracefiles.h"
#include "transfer/engine.h"

namespace {

// Received text that reaches the features quickly: MINI records, trace
// headers and data lines, host requests, Telnet commands, mode changes.
const std::string_view kFragments[] = {
    " WOR 3A00:0130    FFF1 000A 0012 0056 102F 2800 FFFF FFFF\r\n",
    " WOR 3A00:0140    0042 0202 0411 0007 3535 3135 3332 0034\r\n",
    " WOR 3A00:0000    FFF5 090F 0402 0001 86A0 0178 0000 0000\r\n",
    " WOR 3A00:0180    FFF3 0000 0000 0000 0000 0000 0000 0000\r\n",
    " WOR 3A00:0190    0580 0201 0172 0011 0000 0000 0000 0000\r\n",
    " WOR 3A00:0010    FFF0 1A2B 0040 0000 0123 0005 0000 0001\r\n",
    " WOR 3A00:0200    FFBB 0001 0002 0003 0004 0005 0006 0007\r\n",
    " WOR 3A00:00D0    FFF8 0201 0403 0605 0807 0A09 0C0B 0E0D\r\n",
    "10_CALLREQ   0012_0034 0056_0078 3710 2800 .... 1000:0200 001C  SND  09:15:02.17\r\n",
    " DATA = 0003 0001 0001 0002 0000 0003 0001 0001 0000 0000 0322 000A\r\n",
    " UBUF 0007 3535 3135 3332 0034 0000 0000 0200 1000 5A83 0001 0002\r\n",
    "04_ISDNL3    0070_0001 0012_0034 0C40 2800 .... ....:.... ....  RCV  09:15:03.55\r\n",
    " DATA = 08 01 85 45 08 02 80 90 1E 02 81 88\r\n",
    "03_MBIDDATA     0012_0034 0080_0002 1010 2800 .... ....:.... .... SND 09:15:04.0\r\n",
    "\x1b[>0f",
    "\x1b[>1f",
    "\x1b[>0;0;0;0;0r",
    "\x1b[>1;0;0;0;0s",
    "\xff\xfd\x19\xff\xfb\x19",
    "\xff\xfa\x18\x01\xff\xf0",
    "\xff\xfd\x01\xff\xfb\x03\xff\xfe\x19",
    "\x1b[?3h",
    "\x1b[?3l",
    "\x1b[?2l",
    "\x1b<",
    "\x1b#6",
    "\x1b[2;20r",
    "\x05",
    "\x1b[5n\x1b[c",
    ":COL\r\n",
    "\x1a",
    "\r\n",
    "\x03",
    "\x1bh\x1bJ\x1b&dB QUORIX \x1b&d@\r\n",
    "119_ERRREP   0012_0034 0056_0078 2210 2800 .... ....:.... ....  RCV  09:15:05.20\r\n",
    " DATA = 0001 0002 0003 0004 0005 0006 0007 0008 0009 000A 000B 000C\r\n",
    " DATA = 000D 000E 000F 0010 0011\r\n",
    "01_PAIR       0012_0034 0056_0078 0610 2800 .... 2000:0010 0008  DUP  09:15:06.00\r\n",
    " DATA = 0007 0001 0003\r\n",
};
constexpr std::size_t kFragmentCount = sizeof kFragments / sizeof kFragments[0];

// The work of one input.
constexpr int kMaxOperations = 160;
constexpr std::size_t kMaxReceived = 16384;
constexpr int kMaxTicks = 400;
constexpr int kMaxHeavy = 6;  // conversions, listings, start-ups

// The files every session shares, made once: the compiled mode files, the
// host name files, KASP.ERR and the transfer file's content.
struct TWorld {
  std::string Dir = FuzzDirectory();
  std::string TransferText;

  TWorld() {
    const TCompileResult r = CompileModeSource(kFuzzModes, "fuzz.mode");
    if (!r.Ok) std::abort();
    std::string error;
    if (!WriteModeFileImage(r.Image, Dir + "modes", Dir, &error)) std::abort();
    std::ofstream errors(Dir + "KASP.ERR", std::ios::binary);
    for (int n = 0; n < 32; ++n) {
      std::string record = "ERROR TEXT " + std::to_string(n);
      record.resize(TKaspFiles::kErrorRecordSize, ' ');
      errors << record;
    }
    for (int n = 0; n < 20; ++n) TransferText += "LINE " + std::to_string(n) + "\r\n";
  }
};

const TWorld& World() {
  static const TWorld world;
  return world;
}

struct TFuzzSession : TLineSession {
  TRecordingSerialLine Serial;
  std::size_t Received = 0;
  int Ticks = 0;
  int Heavy = 0;

  explicit TFuzzSession(std::uint8_t setup) {
    const TWorld& world = World();
    TSetupRecord& settings = S.Settings;
    settings.Emulation = static_cast<std::uint8_t>(setup % 4);
    settings.Wrap = (setup & 0x04) != 0;
    settings.NewLine = (setup & 0x08) != 0;
    settings.LocalEcho = (setup & 0x10) != 0;
    settings.SoftkeyEcho = (setup & 0x20) != 0;
    settings.MaxEchoDelay = 5;
    settings.ETXAck = 1;
    settings.BackgroundLogging = 1;
    settings.DisplayMsgHeader = 1;
    settings.DisplayMsgBuffer = 1;
    settings.DisplayUserBuffer = 1;
    settings.ModeFileName = world.Dir + "modes";
    settings.OrnetDirectoryName = world.Dir;
    settings.SendReceiveFileName = world.Dir + "transfer.txt";
    settings.LogFileName = world.Dir + "session.log";
    settings.AnswerBack = "QEL<CR>";
    settings.SoftKeys[0] = "LOGON<CR><W:62>DISP<P:2>";
    S.Files->BackgroundLogName = world.Dir + "QELWIN.BGL";
    // Every input starts from the same files: the transfer file as made, and
    // none of the numbered names an earlier receive took.
    std::ofstream(world.Dir + "transfer.txt", std::ios::binary) << world.TransferText;
    std::error_code ignored;
    for (char digit = '0'; digit <= '9'; ++digit) {
      std::filesystem::remove(world.Dir + "transfer.tx" + digit, ignored);
    }
    S.StartUp();
    UseLine(setup >> 6);
  }

  // 0 Telnet connection, 1 plain TCP, 2 serial, 3 nothing connected.
  void UseLine(int kind) {
    TTransmitPath& t = *S.Transmit;
    t.Network = &Line;
    t.Serial = &Serial;
    t.NetworkConnected = kind == 0 || kind == 1;
    t.SerialConnected = kind == 2;
    S.Settings.Port = static_cast<std::uint8_t>(kind == 0 ? kTelnetPortIndex : 0);
  }

  void Receive(std::string_view bytes, bool oneByOne) {
    bytes = bytes.substr(0, std::min(bytes.size(), kMaxReceived - std::min(Received, kMaxReceived)));
    Received += bytes.size();
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    if (!oneByOne) {
      S.ReceiveBytes(data, bytes.size());
      return;
    }
    for (std::size_t i = 0; i < bytes.size(); ++i) S.HandleSessionEvent(sekReceivedByte, data[i]);
  }

  void Tick(int count) {
    for (int i = 0; i < count && Ticks < kMaxTicks; ++i, ++Ticks) S.TimerTick();
  }

  // Converts screen lines near the end of the store: from a line chosen by
  // `where` (or the last one of a kind a conversion reads), a few marked.
  void Convert(std::uint8_t how, std::uint8_t where) {
    const int lines = S.Screen->Count();
    const int marked = 1 + where % 6;
    int first = std::max(0, lines - 1 - (where >> 3) % 24);
    TMarkedText area;
    // Start at a line a conversion knows when one is near the end.
    const char* const kinds[] = {" SND ", " RCV ", " DUP ", "MBID", "IE = ", "WOR ", "DATA", "UBUF"};
    if (how & 0x04) {
      const char* const kind = kinds[where % 8];
      for (int line = lines - 1; line >= std::max(0, lines - 60); --line) {
        if (S.Screen->GetLineText(line).find(kind) == std::string::npos) continue;
        first = line;
        break;
      }
    }
    for (int line = first; line < lines && area.Lines.size() < 24; ++line) {
      area.Lines.push_back(S.Screen->GetLineText(line));
    }
    if (area.Lines.empty()) return;
    area.MarkedLines = std::min<std::size_t>(marked, area.Lines.size());
    area.FirstColumn = 1 + (how >> 4) % 4;
    area.LastColumn = (how & 0x08) ? 0 : 60 + how % 8;
    Desktop.ModeNames.push_back(kFuzzModeNames[how % kFuzzModeNameCount]);
    const TConvertKind conversions[] = {ckMarked, ckWordDump, ckByteDump};
    ConvertMarkedArea(S, conversions[(how >> 6) % 3], area);
    Desktop.ModeNames.clear();
  }

  void Step(TFuzzInput& p);
  void CheckState() const;
};

void TFuzzSession::Step(TFuzzInput& p) {
  const std::uint8_t op = p.Byte();
  switch (op % 28) {
    case 0: case 1: case 2: case 3: case 4: case 5: {
      const std::size_t count = 1 + p.Byte() % 96;
      Receive(p.Bytes(count), op % 28 == 5);
      return;
    }
    case 6: case 7: {
      const std::uint8_t which = p.Byte();
      Receive(kFragments[which % kFragmentCount], (which & 0x80) != 0);
      return;
    }
    case 8:
      switch (p.Byte() % 3) {
        case 0: S.TraceFiles->TraceOn(); return;
        case 1: S.TraceFiles->TraceOff(); return;
        default: S.TraceFiles->ToggleTrace(); return;
      }
    case 9:
      if (p.Byte() & 1) S.Mini->MiniTraceOn();
      else S.Mini->MiniTraceOff();
      return;
    case 10: {
      // The configuration dialog's OK: the terminal type and the screen
      // size; or the host selecting VT52; with the Reset Terminal command.
      const std::uint8_t arg = p.Byte();
      S.Settings.Emulation = static_cast<std::uint8_t>(arg % 5);
      S.Writer->SetColumnMode((arg >> 3) & 1);
      if (arg & 0x10) S.Writer->ResetTerminal();
      return;
    }
    case 11:
      UseLine(p.Byte() % 4);
      return;
    case 12:
      // The host's line capture: start, or send what was captured.
      Receive(kFragments[14 + (p.Byte() & 1)], false);
      return;
    case 13: {
      // A host-initiated transfer: receive or send, type 0 or 1.
      const std::uint8_t arg = p.Byte();
      const std::string request = "\x1b[>" + std::to_string(arg % 4) + ";0;0;0;0" + ((arg & 4) ? "s" : "r");
      Receive(request, false);
      return;
    }
    case 14:
      Tick(1 + p.Byte() % 16);
      return;
    case 15: {
      const std::uint8_t key = p.Byte();
      S.Keyboard->SendCharacter(key);
      return;
    }
    case 16: {
      const std::size_t count = p.Byte() % 24;
      S.Keyboard->StartText(std::string(p.Bytes(count)));
      return;
    }
    case 17: {
      const std::uint8_t arg = p.Byte();
      if (arg < 128) S.Keyboard->StartSoftKey(1 + arg % 36);
      else S.Keyboard->StartAnswerBack();
      return;
    }
    case 18: {
      const std::size_t count = p.Byte() % 24;
      const std::string text(p.Bytes(count));
      S.Transmit->QueueSendString(text);
      return;
    }
    case 19: {
      const std::uint8_t arg = p.Byte();
      if (arg & 0x80) S.Transmit->SendBreak();
      else S.Transmit->SendByte(arg);
      return;
    }
    case 20: {
      const std::uint8_t how = p.Byte();
      const std::uint8_t where = p.Byte();
      if (Heavy++ < kMaxHeavy) Convert(how, where);
      return;
    }
    case 21: {
      const std::uint8_t arg = p.Byte();
      if (Heavy++ >= kMaxHeavy) return;
      if (arg & 0x80) {
        Desktop.ModeNames.push_back(kFuzzModeNames[arg % kFuzzModeNameCount]);
        ShowModeDialog(S, true);
        Desktop.ModeNames.clear();
      } else {
        S.Settings.DisplayModeName = kFuzzModeNames[arg % kFuzzModeNameCount];
        DisplayMode(S);
      }
      return;
    }
    case 22:
      if (Heavy++ < kMaxHeavy) S.StartUp();
      return;
    case 23:
      S.Kasp->ToggleConvertError();
      return;
    case 24:
      switch (p.Byte() % 6) {
        case 0: S.Files->CreateLogFile(); return;
        case 1: S.Files->CloseLogFile(); return;
        case 2: S.Files->StartEscapeLog(); return;
        case 3: S.Files->StopEscapeLog(); return;
        case 4: S.Files->StartBackgroundLog(); return;
        default: S.Files->CloseBackgroundLog(); return;
      }
    case 25: {
      // The trigger: its entry, type and action from the settings, then on or off.
      const std::uint8_t arg = p.Byte();
      const std::uint8_t identities[] = {10, 1, 4, 119};
      TSetupRecord& settings = S.Settings;
      settings.TriggerType = arg % 4;
      settings.TriggerAction = (arg >> 2) % 11;
      settings.TriggerEntries[0] = {identities[(arg >> 6) % 4], 2, static_cast<std::uint16_t>(arg & 0x20 ? 0xFF : 0), 1};
      S.Trace->SetTriggerEnabled((arg & 1) != 0);
      return;
    }
    case 26: {
      // The trace check boxes and the line rules of the configuration dialog.
      const std::uint8_t arg = p.Byte();
      TSetupRecord& settings = S.Settings;
      settings.DisplayMsgHeader = arg & 1;
      settings.DisplayMsgBuffer = (arg >> 1) & 1;
      settings.DisplayUserBuffer = (arg >> 2) & 1;
      settings.ShortValueLines = (arg >> 3) & 1;
      settings.ConvertSetElements = (arg >> 4) & 1;
      settings.QuorixType = (arg >> 5) & 1;
      settings.NewLine = (arg >> 6) & 1;
      settings.Wrap = (arg >> 7) & 1;
      return;
    }
    default:
      S.Keyboard->EscapeAction();
      return;
  }
}

void TFuzzSession::CheckState() const {
  CheckTerminalLimits(S, TReceiveInterpreter::kEscapeBufferSize + 1);
  if (S.Screen->Count() < S.Writer->State.ScreenRows) std::abort();
  const TTraceDecoder& trace = *S.Trace;
  if (trace.MessageBuffer.Count > TMessageBuffer::kMaxCount) std::abort();
  if (trace.TraceState < TTraceDecoder::tsOff || trace.TraceState > TTraceDecoder::tsConverting) std::abort();
  if (trace.TraceState == TTraceDecoder::tsConverting && !S.TraceFiles->TraceFilesOpen()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  TFuzzInput program(data + 1, size - 1);
  TFuzzSession session(data[0]);
  for (int n = 0; n < kMaxOperations && program.More(); ++n) {
    session.Step(program);
    session.CheckState();
  }
  // Whatever is still running winds down as the timer would run it.
  session.Tick(20);
  session.S.Mini->MiniTraceOff();
  session.S.TraceFiles->TraceOff();
  session.S.Files->CloseAll();
  session.CheckState();
  return 0;
}
