// Random text through the MINI trace recogniser (on the receive path, with
// trace conversion on) and through the conversion of marked text, against the
// harnesses' mode set compiled at start-up.
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
// One session for every input, its line not connected.
struct TFixture : TLineSession {
  TFixture() {
    S.Settings.OrnetDirectoryName = "";
    S.Settings.DisplayMsgHeader = 1;
    S.StartUp();
    const TCompileResult r = CompileModeSource(kFuzzModes, "fuzz.mode");
    if (!r.Ok) std::abort();
    if (!S.TraceFiles->OpenTraceFiles(std::make_shared<TMemoryModeFiles>(r.Image.Files))) std::abort();
    S.Trace->TraceState = TTraceDecoder::tsConverting;
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
  TSession& s = f.S;
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
    f.Desktop.ModeNames.push_back(std::string(kFuzzModeNames[(data[2] >> 1) % kFuzzModeNameCount]));
    ConvertMarkedArea(s, kinds[data[0] % 3], area);
  }
  f.Forget();
  s.Writer->Redirect = nullptr;
  return 0;
}
