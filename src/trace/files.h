// The trace decoding file set and the KASP host name files.
#pragma once

#include <string>

class TSession;

class TTraceFiles {
 public:
  explicit TTraceFiles(TSession& session);
  ~TTraceFiles();

 private:
  TSession& S;
};

class TKaspFiles {
 public:
  explicit TKaspFiles(TSession& session);
  ~TKaspFiles();

  // Record `index` (25 bytes) of KASP.VMI when that file is open and the
  // record can be read in full.
  bool ReadVmiRecord(int index, char out[25]);

  // KASP.ERR is open for error conversion: received characters then go to
  // the trace decoder instead of the screen.
  bool ErrorFileOpen = false;

 private:
  TSession& S;
};
