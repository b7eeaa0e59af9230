#include "app/batchdecode.h"

#include <ostream>
#include <streambuf>

#include "app/session.h"
#include "core/desktop.h"
#include "core/settings.h"
#include "screen/writer.h"
#include "trace/decoder.h"
#include "trace/mini.h"
#include "trace/tracefiles.h"
#include "transfer/simulate.h"

namespace {
// Received bytes are handed over in socket-sized pieces.
constexpr std::size_t kReceiveChunk = 8192;

std::string WithoutReturns(std::string text) {
  for (char& c : text) {
    if (c == '\r') c = ' ';
  }
  return text;
}
}  // namespace

// While trace conversion is on every received character goes to the
// decoders, which write whole lines: the lines the writer hands out are the
// log text. (The trigger's status line in row 1 is the one line the log
// would not hold; a batch run never switches the trigger on.) Taking them
// from the writer keeps a recording of any size out of the scroll-back.
class TBatchDecoder::TLineSink final : public std::streambuf {
 public:
  explicit TLineSink(TBatchDecoder& owner) : Owner(owner), Stream(this) { Line.reserve(256); }
  std::ostream& stream() { return Stream; }

 protected:
  int_type overflow(int_type c) override {
    if (c != traits_type::eof()) Take(static_cast<char>(c));
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    std::string_view rest(s, static_cast<std::size_t>(n));
    for (std::size_t end; (end = rest.find('\n')) != std::string_view::npos; rest.remove_prefix(end + 1)) {
      Line.append(rest.substr(0, end));
      EndLine();
    }
    Line.append(rest);
    return n;
  }

 private:
  void Take(char c) {
    if (c == '\n') EndLine();
    else Line.push_back(c);
  }
  // The writer ends each line with CR LF.
  void EndLine() {
    if (!Line.empty() && Line.back() == '\r') Line.pop_back();
    if (Owner.Output) Owner.Output(Line);
    Line.clear();
  }

  TBatchDecoder& Owner;
  std::ostream Stream;
  std::string Line;
};

TBatchDecoder::TBatchDecoder(TSession& session) : S(session), Sink(std::make_unique<TLineSink>(*this)) {}

TBatchDecoder::~TBatchDecoder() {
  if (S.Writer->Redirect == &Sink->stream()) S.Writer->Redirect = nullptr;
}

bool TBatchDecoder::Start(const TBatchDecodeOptions& options, std::string* error) {
  TSetupRecord& settings = S.Settings;
  settings.Emulation = emQuorix;
  settings.ModeFileName.assign(options.ModeBase);
  if (options.OrnetGiven) settings.OrnetDirectoryName.assign(options.OrnetDirectory);
  if (options.QuorixType >= 0) settings.QuorixType = static_cast<std::uint8_t>(options.QuorixType);
  S.StartUp();

  auto* desktop = dynamic_cast<THeadlessDesktop*>(&S.Desktop);
  const std::size_t boxesBefore = desktop ? desktop->Boxes.size() : 0;
  S.TraceFiles->TraceOn();
  if (S.Trace->TraceState != TTraceDecoder::tsConverting) {
    if (error) {
      *error = desktop && desktop->Boxes.size() > boxesBefore ? WithoutReturns(desktop->Boxes.back().Box.Text)
                                                               : "the mode files could not be opened";
    }
    return false;
  }
  if (options.ConvertError) S.Kasp->OpenErrorFile();
  if (options.Mini) S.Mini->MiniTraceOn();
  S.Writer->Redirect = &Sink->stream();
  return true;
}

void TBatchDecoder::Feed(const std::uint8_t* data, std::size_t count) {
  for (std::size_t done = 0; done < count;) {
    const std::size_t piece = std::min(kReceiveChunk, count - done);
    ReplayBytes(S, data + done, piece);  // as simulate shows a trace file
    done += piece;
  }
}

void TBatchDecoder::Finish() {
  if (S.Mini->WantsCharacters()) S.Mini->MiniTraceOff();
  S.Trace->EndOfInput();
}
