// The Display Mode command: the definition of the last mode name listed into
// the listing file "qel.%%%" and shown in the memo viewer. The mode files are
// opened for the command when trace conversion is off and the trace state is
// restored afterwards.
#pragma once

#include <string>

#include "trace/decoder.h"

class TSession;

// The mode files for the length of one command (Display Mode, a conversion):
// opened when trace conversion has them closed, and the trace state, the
// trigger switch and the host name files put back as they were when the
// scope ends.
class TModeCommandScope {
 public:
  explicit TModeCommandScope(TSession& session);
  ~TModeCommandScope();
  TModeCommandScope(const TModeCommandScope&) = delete;
  TModeCommandScope& operator=(const TModeCommandScope&) = delete;

  // Trace conversion on (tsConverting) with the trace files open (and, with
  // hostNames, the host name files). False when the files cannot be opened
  // (the reason was reported).
  bool Open(bool hostNames);
  // The trigger is off for the command and back on afterwards.
  void SuspendTrigger();

 private:
  TSession& S;
  TTraceDecoder::TTraceState SavedTraceState;
  bool SavedHostNames;
  bool SavedTrigger;
  bool TriggerSuspended = false;
  bool OpenedFiles = false;
};

// The listing file in the program directory.
constexpr const char* kListingFileName = "qel.%%%";
// How error texts name it.
constexpr const char* kListingDisplayName = "Qel.%%%";

// Shows a file a command has written in the memo viewer under `title`; a
// file that cannot be read back is reported as a file access error naming
// `displayName`.
void ShowFileInMemo(TSession& session, const std::string& path, const std::string& title, const char* displayName);

// Lists the mode, set or constant named by the "DisplayModeName" setting
// (the mode name dialog stores it upper-cased).
void DisplayMode(TSession& session);

// The mode name dialog: on OK the name, trimmed and upper-cased, becomes the
// last mode name; with displayOnOk Display Mode runs. False when cancelled.
bool ShowModeDialog(TSession& session, bool displayOnOk);
