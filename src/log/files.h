// Files kept open across events: the log file, the background log, the
// transfer file, the escape-sequence log and the debug capture.
#pragma once

#include <cstdint>
#include <string>

class TSession;

class TLogFiles {
 public:
  explicit TLogFiles(TSession& session);
  ~TLogFiles();

  bool LogOpen = false;

 private:
  TSession& S;
};
