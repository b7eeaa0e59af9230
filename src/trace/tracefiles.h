// The trace decoding file set and the KASP host files of the session, and
// the switches that open and close them: trace conversion on and off, and
// error conversion ("ConvertError ON/OFF") with KASP.ERR.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "trace/hostnames.h"
#include "trace/modefile.h"
#include "trace/modefile_session.h"

class TSession;

class TTraceFiles {
 public:
  explicit TTraceFiles(TSession& session);
  ~TTraceFiles();

  // `TraceFilesOpen`.
  bool TraceFilesOpen() const { return Set != nullptr; }
  const TTraceFileSet* FileSet() const { return Set.get(); }

  // `OpenTraceFiles`: the files of the "Mode File Name" setting, with the
  // version check; nothing when they are open already. On a failure the
  // reason was reported and TraceState is 0. True when the files are open.
  bool OpenTraceFiles();
  // The same for a given file store (files in memory, a fixture).
  bool OpenTraceFiles(std::shared_ptr<const TModeFileStore> store);
  // `CloseTraceFiles`: TraceState 0, no current message.
  void CloseTraceFiles();

  // `TraceOn`: conversion on (TraceState 2) with the trace files and the
  // host name files open; the decoder starts with a fresh line.
  void TraceOn();
  // Conversion off: the trace files closed, and the host name files too
  // unless the MINI trace uses them.
  void TraceOff();
  // The "Convert to mode while tracing On/Off" button: refused unless the
  // emulation is QUORIX; else switches. True when conversion is on after it.
  bool ToggleTrace();

 private:
  bool Opened();

  TSession& S;
  TSessionModeFileReporter Reporter;  // before Set: the set reports through it
  std::unique_ptr<TTraceFileSet> Set;
};

class TKaspFiles {
 public:
  static constexpr std::size_t kErrorRecordSize = 17;

  explicit TKaspFiles(TSession& session);
  ~TKaspFiles();

  // KASP.MSG, KASP.VMI, KASP.BID in the "Ornet Files Directory".
  THostNameFiles Names;
  // `OpenKaspFiles`: opens those not open yet (when the directory is set)
  // and clears AbortRequested. `CloseKaspFiles` closes them.
  void OpenKaspFiles();
  void CloseKaspFiles();

  // Record `index` (25 bytes) of KASP.VMI when that file is open and the
  // record can be read in full.
  bool ReadVmiRecord(int index, char out[25]);
  // The name of an MBID in KASP.BID as stored (25 characters); nullopt when
  // the file is closed or the record is not there whole. Names are kept
  // after the first read: a trace names the same few MBIDs over and over.
  std::optional<std::string> MbidName(std::uint32_t mbid);

  // KASP.ERR is open for error conversion: received characters then go to
  // the trace decoder instead of the screen.
  bool ErrorFileOpen = false;
  // Opens KASP.ERR from the "Ornet Files Directory" (when set); a failure is
  // reported with the full name. True when it is open.
  bool OpenErrorFile();
  void CloseErrorFile();
  // The "ConvertError ON/OFF" button: refused unless the emulation is
  // QUORIX; else switches. True when error conversion is on after it.
  bool ToggleConvertError();
  // The 17 characters of error number n; false when the record cannot be read whole.
  bool ReadErrorRecord(std::uint32_t n, char out[kErrorRecordSize]);

 private:
  static constexpr std::size_t kMaxKeptNames = 4096;
  using TNameCache = std::unordered_map<std::uint32_t, std::optional<std::string>>;
  std::optional<std::string> Kept(TNameCache& cache, std::uint32_t n,
                                  std::optional<std::string> (THostNameFiles::*read)(std::uint32_t) const);

  TSession& S;
  TSessionModeFileReporter Reporter;
  std::unique_ptr<TByteSource> ErrorFile;
  TNameCache KeptMbidNames, KeptVmiNames;
};

// Refused commands of the QUORIX toolbar: the box shown when the emulation
// is not QUORIX. True when the command may go on.
bool QuorixOnly(TSession& session);
