#include "trace/modefile_session.h"

#include <cstdio>

#include "app/session.h"
#include "log/errors.h"

void TSessionModeFileReporter::ReportError(TErrorKind kind, std::uint32_t code, const std::string& text) {
  S.Errors->ReportError(kind, code, text);
}

void TSessionModeFileReporter::Diagnostic(const std::string& line) {
  std::fprintf(stderr, "%s\n", line.c_str());
}
