// The reader's failures shown through the session's error reporter.
#pragma once

#include "trace/modefile.h"

class TSession;

class TSessionModeFileReporter final : public TModeFileReporter {
 public:
  explicit TSessionModeFileReporter(TSession& session) : S(session) {}
  void ReportError(TErrorKind kind, std::uint32_t code, const std::string& text) override;
  // Diagnostics go to stderr: they are not for the window, and stdout carries
  // the decoded text of the command-line tool.
  void Diagnostic(const std::string& line) override;

 private:
  TSession& S;
};
