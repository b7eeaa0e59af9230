// Random text through the MINI trace recogniser (on the receive path, with
// trace conversion on) and through the conversion of marked text, against a
// small mode set compiled at start-up.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>

#include "app/session.h"
#include "core/desktop.h"
#include "fuzzing.h"
#include "support/scripteddesktop.h"
#include "trace/compiler.h"
#include "trace/convert.h"
#include "trace/decoder.h"
#include "trace/mini.h"
#include "trace/tracefiles.h"

namespace {
const char* const kModes = R"(
VERSION 1.0;
NEWMODE colour = SET (red, green, *, blue);
NEWMODE pair = STRUCT (a INT, b BOOL, c colour);
NEWMODE list = STRUCT (n INT, items ARRAY (0:7) pair VARLENGTH (n));
NEWMODE ie_id = RANGE (0:255) CONSTANTS (cause = 08H, display = 28H);
NEWMODE ie_contents = STRUCT (id ie_id, CASE id OF (cause): cause pair; ELSE other BIN(8); ESAC);
DSS1 CODESET 0 = ie_id;
DSS1 IECONTENTS = ie_contents;
MESSAGE 1 = pair;
MESSAGE 2 = HEXDUMP;
MESSAGE 3 = MBIDLIST;
MESSAGE 4 = DSS1;
MESSAGE 10 = list;
USERBUFFER 1 = list;
MBID 5 = colour;
MBID 6 = pair;
)";

const char* const kModeNames[] = {"PAIR", "LIST", "COLOUR", "ASCII", "MINI", "COMPLEX", "MSG", "NOTHING"};

struct TFixture {
  TScriptedDesktop Desktop;
  std::unique_ptr<TSession> S;

  TFixture() {
    S = std::make_unique<TSession>(Desktop, FuzzDirectory());
    S->Settings.OrnetDirectoryName = "";
    S->Settings.DisplayMsgHeader = 1;
    S->StartUp();
    const TCompileResult r = CompileModeSource(kModes, "fuzz.mode");
    if (!r.Ok) std::abort();
    if (!S->TraceFiles->OpenTraceFiles(std::make_shared<TMemoryModeFiles>(r.Image.Files))) std::abort();
    S->Trace->TraceState = TTraceDecoder::tsConverting;
  }

  void Forget() {
    Desktop.Boxes.clear();
    Desktop.Memos.clear();
    Desktop.ModeNamesAsked.clear();
    Desktop.ModeNames.clear();
    Desktop.Answers.clear();
  }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TFixture f;
  TSession& s = *f.S;
  std::ostringstream sink;
  s.Writer->Redirect = &sink;

  s.Mini->MiniTraceOn();
  s.ReceiveBytes(data, size);
  s.Mini->MiniTraceOff();

  // The same text as marked screen lines.
  if (size >= 3) {
    TMarkedText area;
    std::string line;
    for (std::size_t i = 3; i < size && area.Lines.size() < 120; ++i) {
      if (data[i] == '\n') {
        area.Lines.push_back(line);
        line.clear();
      } else if (line.size() < 132) {
        line.push_back(static_cast<char>(data[i]));
      }
    }
    area.Lines.push_back(line);
    area.MarkedLines = 1 + data[0] % area.Lines.size();
    area.FirstColumn = 1 + data[1] % 90;
    area.LastColumn = data[1] % 3 == 0 ? 0 : data[1] % 100;
    const TConvertKind kinds[] = {ckMarked, ckWordDump, ckByteDump};
    f.Desktop.Answers.push_back(data[2] & 1 ? TMsgResult::OK : TMsgResult::Cancel);
    f.Desktop.ModeNames.push_back(std::string(kModeNames[(data[2] >> 1) % 8]));
    ConvertMarkedArea(s, kinds[data[0] % 3], area);
  }
  f.Forget();
  s.Writer->Redirect = nullptr;
  return 0;
}
