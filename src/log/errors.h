// The one modal error reporter and the system error texts.
#pragma once

#include <cstdint>
#include <string>

#include "core/desktop.h"

enum TErrorKind {
  ekFileAccess,
  ekSystemCode,
  ekTraceRead,
  ekFileOpen,
  ekDiskFull,
  ekMessage,
  ekAppendQuery,
  ekNetwork,
};

// The sentence of a system error code (low 16 bits), padded with blanks to 96
// characters; any code without a sentence gives its decimal value.
std::string ErrorCodeText(std::uint32_t code);

// errno value -> the system error code with the same meaning.
std::uint32_t SystemErrorCode(int errnoValue);

// The code of a read that ended before a whole record: it has no errno.
inline constexpr std::uint32_t kErrorHandleEof = 38;

class TErrorReporter {
 public:
  explicit TErrorReporter(TDesktop& desktop) : Desktop(desktop) {}

  // Shows the box of the kind; returns the button pressed.
  TMsgResult ReportError(TErrorKind kind, std::uint32_t code, const std::string& text);
  // Shorthand for the errno of a failed call.
  TMsgResult ReportErrno(TErrorKind kind, int errnoValue, const std::string& text) {
    return ReportError(kind, SystemErrorCode(errnoValue), text);
  }

  // True exactly while a report, or any other modal question of the window,
  // is on screen. Boxes nest (the window runs under a modal box), so the flag
  // stays up until the outermost one is answered.
  bool DialogShowing = false;
  void BeginModal() { ++ShowingDepth; DialogShowing = true; }
  void EndModal() { DialogShowing = --ShowingDepth > 0; }

 private:
  TDesktop& Desktop;
  int ShowingDepth = 0;
};
