// Random trace text through the trace message decoder, against a mode set
// compiled at start-up that holds every kind and flag, the special decoders,
// a DSS1 vocabulary and modes that refer to themselves. The first byte of an
// input picks the settings (Quorix type, header display, trigger, error
// conversion, one value per line, set names); the rest is received text.
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
#include "trace/decoder.h"
#include "trace/tracefiles.h"

namespace {

const char kModes[] = R"(
NEWMODE state = SET (idle, busy, *, blocked);
NEWMODE wide = SET (zero, one) WITH (count = 300);
NEWMODE prio = RANGE (0:3) CONSTANTS (low = 0, high = 2);
NEWMODE counter = INT;
NEWMODE state_alias = state;
NEWMODE prio_alias = prio;
NEWMODE kinds = STRUCT (
  i INT, b BOOL, c CHAR, p PTR, r REF, e EXTENTIONBIT, b4 BIT(4), b8 BIT(8), b12 BIT(12),
  b24 BIN(24), rg RANGE (0:1000), st state, w wide, pr prio, sa state_alias, pa prio_alias,
  cnt counter, u INT WITH (kind = 5), big BIN(9000), odd INT WITH (kind = 200));
NEWMODE cases = STRUCT (
  tag state,
  CASE tag OF (idle): a INT; (busy, blocked): b CHAR, c CHAR; ELSE d BIN(16); ESAC,
  n INT,
  list ARRAY (0:9) CHAR VARLENGTH (n - 1),
  tail INT);
NEWMODE arrays = STRUCT (
  plain ARRAY (0:2) BIT(8), byset ARRAY (state) CHAR, bycon ARRAY (prio) BOOL,
  twod ARRAY (0:1, 1:2, 0:3) BIT(8), packed PACK ARRAY (0:3) BIT(2), huge liar);
-- An array whose header claims 65536^3 elements.
NEWMODE liar = ARRAY (0:1) BIT(8) WITH (dim1upper = 65535, dim2upper = 65535, dim3upper = 65535);
NEWMODE item = STRUCT (tag BIT(8), len BIT(8), val INT);
NEWMODE params = STRUCT (first BIT(8), vp item VARPAR, op item OPTPAR);
NEWMODE outer = STRUCT (head INT, in item, pk PACK STRUCT (hi BIT(4), lo BIT(4)),
                        rp REVPACK STRUCT (hi BIT(4), lo BIT(4)));
NEWMODE loop = STRUCT (a BIT(8), again INT WITH (kind = 1, index = loop));
NEWMODE loop0 = STRUCT (a BIT(8), again INT WITH (kind = 1, index = loop0, byte = 0),
                        more INT WITH (kind = 1, index = loop0, byte = 0));
NEWMODE wrong = STRUCT (x INT WITH (selector = 100000, label = 3),
                        y INT WITH (kind = 1, index = -7), z INT WITH (kind = 11, index = 5),
                        s INT WITH (kind = 8, index = 99999));
NEWMODE alias_loop = INT WITH (kind = 1, reference = alias_loop);
MESSAGE 100 = kinds;
MESSAGE 101 = cases;
MESSAGE 103 = arrays;
MESSAGE 104 = params;
MESSAGE 105 = outer;
MESSAGE 106 = loop;
MESSAGE 107 = loop0;
MESSAGE 108 = wrong;
MESSAGE 109 = alias_loop;
MESSAGE 1 = HEXDUMP;
MESSAGE 2 = MBIDLIST;
MESSAGE 3 = DSS1;
MESSAGE 4 = SPECIAL 3;
MESSAGE 6 = SPECIAL 5;
MESSAGE 7 = 999999;
MESSAGE 8 = -77;
USERBUFFER 100 = counter;
USERBUFFER 2 = MBIDLIST;
USERBUFFER 3 = DSS1;
MBID 5 = state;
MBID 6 = item;
MBID 7 = HEXDUMP;
MBID 8 = loop0;
MBID 9 = (1, 123456);
NEWMODE dss1_types = RANGE (0:127) CONSTANTS (setup = 05H, connect = 07H);
NEWMODE ie0 = RANGE (0:255) CONSTANTS (bearer = 04H, facility = 1CH, shift = 90H, congestion = 0B0H);
NEWMODE ie5 = RANGE (0:255) CONSTANTS (charge = 02H);
NEWMODE bearer_cap = STRUCT (coding BIT(8), rate BIT(8));
NEWMODE cong = PACK STRUCT (id BIT(4), level BIT(4));
NEWMODE ie_contents = STRUCT (
  id BIT(8),
  CASE id OF (04H): bc bearer_cap; (0B0H): cl cong; (02H): chg counter; (70H): ar arrays; ELSE other BIN(8); ESAC);
DSS1 MESSAGETYPES = dss1_types;
DSS1 CODESET 0 = ie0;
DSS1 CODESET 5 = ie5;
DSS1 CODESET 6 = counter;
DSS1 IECONTENTS = ie_contents;
)";

// The mode set, compiled once.
std::shared_ptr<TMemoryModeFiles> Modes() {
  static const std::shared_ptr<TMemoryModeFiles> modes = [] {
    const TCompileResult r = CompileModeSource(kModes, "trace_fuzz.mode");
    if (!r.Ok) std::abort();
    return std::make_shared<TMemoryModeFiles>(r.Image.Files);
  }();
  return modes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  TScriptedDesktop desktop;
  TSession session(desktop, FuzzDirectory());
  TSetupRecord& settings = session.Settings;
  settings.OrnetDirectoryName.assign("");
  const std::uint8_t choice = data[0];
  settings.QuorixType = choice % 3;
  settings.DisplayMsgHeader = (choice >> 2) & 1;
  settings.ShortValueLines = (choice >> 3) & 1;
  settings.ConvertSetElements = (choice >> 4) & 1;
  settings.ScreenSize = (choice >> 7) & 1;
  session.StartUp();
  session.Trace->TraceState = TTraceDecoder::tsConverting;
  if (!session.TraceFiles->OpenTraceFiles(Modes())) std::abort();
  if (choice & 0x20) {
    settings.TriggerType = choice % 4;
    settings.TriggerAction = choice % 12;
    settings.TriggerEntries[0].Identity = 100;
    session.Trace->SetTriggerEnabled(true);
  }
  session.Kasp->ErrorFileOpen = (choice & 0x40) != 0;
  std::ostringstream decoded;  // the lines themselves are not looked at
  session.Writer->Redirect = &decoded;
  for (std::size_t i = 1; i < size; ++i) session.Trace->TraceReceiveChar(data[i]);
  session.Trace->EndOfInput();
  // The decoder keeps its own invariants whatever came.
  if (session.Trace->MessageBuffer.Count > TMessageBuffer::kMaxCount) std::abort();
  session.Writer->Redirect = nullptr;
  session.Kasp->ErrorFileOpen = false;
  return 0;
}
