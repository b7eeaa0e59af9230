#include "commands/definitionsearch.h"

#include <algorithm>

#include "core/ascii.h"
#include "core/paths.h"
#include "core/text.h"
#include "log/file.h"

namespace {
// Record numbers beyond this cannot lie inside any file; reading there finds nothing.
constexpr std::uint64_t kRecordNumberCap = std::uint64_t(1) << 40;

std::string WithoutLineEnds(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (const char c : bytes)
    if (c != CR && c != LF) text.push_back(c);
  return text;
}

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

std::uint64_t RecordNumberOf(std::string_view digits) {
  std::uint64_t n = 0;
  for (const char c : digits) {
    n = n * 10 + static_cast<std::uint64_t>(c - '0');
    if (n >= kRecordNumberCap) return kRecordNumberCap;
  }
  return n;
}

// A number typed with leading zeros ("007") also finds records that hold it
// without them ("7").
std::string WithoutLeadingZeros(std::string_view digits) {
  const std::size_t first = digits.find_first_not_of('0');
  return first == std::string_view::npos ? "0" : std::string(digits.substr(first));
}

class TSearchRun {
 public:
  TSearchRun(const TCommandDefinition& definition, std::string_view argument, const TSearchHooks& hooks)
      : D(definition), Argument(argument), Hooks(hooks) {}

  TSearchResult Run() {
    if (const int error = File.OpenRead(D.DataFile); error != 0) return {TSearchEnd::seOpenFailed, error};
    Show("");
    switch (D.SearchMethod) {
      case smRecordSearch: return Result(RecordSearch(false));
      case smRecordByNumber: RecordByNumber(); return Result(true);
      case smNumberedSearch:
        if (IsRecordNumber(Argument)) {
          RecordByNumber();
          return Result(true);
        }
        return Result(RecordSearch(true));
      case smTextSearch: return Result(TextSearch());
      case smTextSections: return Result(TextSections());
      default: return Result(true);  // a faulty definition finds nothing
    }
  }

 private:
  static TSearchResult Result(bool finished) {
    return {finished ? TSearchEnd::seFinished : TSearchEnd::seInterrupted, 0};
  }
  void Show(std::string_view line) {
    if (Hooks.Line) Hooks.Line(line);
  }
  bool Stopped() const { return Hooks.Interrupted && Hooks.Interrupted(); }

  // A whole record, or false at the end (a short read ends the file).
  bool ReadRecord(std::string& record) {
    record.assign(D.RecordLength, '\0');
    std::size_t got = 0;
    while (got < record.size()) {
      const TIoResult r = File.Read(record.data() + got, record.size() - got);
      if (r.Done == 0) return false;
      got += r.Done;
    }
    return true;
  }

  // Methods 0 and 2 without a number; false when interrupted.
  bool RecordSearch(bool numbered) {
    if (D.RecordLength == 0) return true;  // a faulty definition: no record could ever end
    const bool number = IsRecordNumber(Argument);
    const std::string plainNumber = number ? WithoutLeadingZeros(Argument) : std::string();
    std::string record;
    for (std::uint64_t index = 0; ReadRecord(record); ++index) {
      const std::string text = UpperCase(TrimBlanks(WithoutLineEnds(record)));
      const bool found = Argument.empty() || Contains(text, Argument) || (number && Contains(text, plainNumber));
      if (found && text != D.SkipText) Show((numbered ? RecordNumberLabel(index) : "") + D.Prefix + text);
      if (Stopped()) return false;
    }
    return true;
  }

  void RecordByNumber() {
    if (!IsRecordNumber(Argument)) {
      if (Hooks.Bell) Hooks.Bell();
      return;
    }
    if (D.RecordLength == 0) return;
    const std::uint64_t n = RecordNumberOf(Argument);
    std::string record;
    if (File.Seek(n * D.RecordLength) != 0 || !ReadRecord(record)) return;
    Show(D.Prefix + WithoutLineEnds(record));
  }

  // The next line of a text file, without its line end; false at the end.
  // A line longer than kSearchLineLimit comes in pieces of that size, so a file
  // without line feeds (or a device that never ends) costs no more memory
  // than one piece, and the run is asked about Esc after each piece.
  bool ReadLine(std::string& line) {
    line.clear();
    bool taken = false;  // bytes of this line seen, so an unended last line still counts
    for (;;) {
      if (Position == Buffer.size()) {
        Buffer.resize(kChunk);
        const TIoResult r = File.Read(Buffer.data(), kChunk);
        Buffer.resize(r.Done);
        Position = 0;
        if (r.Done == 0) break;
      }
      if (line.size() == kSearchLineLimit) {
        // A full piece whose line ends right here takes its line end along.
        const char c = Buffer[Position];
        if (c == CR) {
          ++Position;
          continue;
        }
        if (c == LF) ++Position;
        break;
      }
      taken = true;
      const std::size_t end = Buffer.find(LF, Position);
      const std::size_t stop = end == std::string::npos ? Buffer.size() : end;
      while (Position < stop && line.size() < kSearchLineLimit) {
        const char c = Buffer[Position++];
        if (c != CR) line.push_back(c);
      }
      if (Position == end) {
        ++Position;
        break;
      }
    }
    return taken;
  }

  bool TextSearch() {
    std::string line;
    while (ReadLine(line)) {
      const std::string upper = UpperCase(line);
      const bool found = Argument.empty() || Contains(upper, Argument);
      if (found && TrimBlanks(upper) != D.SkipText) Show(D.Prefix + line);
      if (Stopped()) return false;
    }
    return true;
  }

  bool TextSections() {
    std::string line;
    bool inSection = Argument.empty();
    while (ReadLine(line)) {
      const std::string upper = UpperCase(line);
      if (!Argument.empty()) {
        if (!inSection) {
          inSection = upper.compare(0, Argument.size(), Argument) == 0;
        } else if (TrimBlanks(upper) == D.SkipText) {
          return true;
        }
      }
      if (inSection) Show(D.Prefix + line);
      if (Stopped()) return false;
    }
    return true;
  }

  static constexpr std::size_t kChunk = 65536;
  const TCommandDefinition& D;
  const std::string_view Argument;
  const TSearchHooks& Hooks;
  TFile File;
  std::string Buffer;
  std::size_t Position = 0;
};
}  // namespace

bool IsRecordNumber(std::string_view argument) {
  return !argument.empty() &&
         std::all_of(argument.begin(), argument.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string RecordNumberLabel(std::uint64_t number) {
  return (std::to_string(number) + " -> ").substr(0, 9);
}

TSearchResult RunSearch(const TCommandDefinition& definition, std::string_view argument,
                        const TSearchHooks& hooks) {
  return TSearchRun(definition, argument, hooks).Run();
}
