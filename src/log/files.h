// Files kept open across events: the log file, the background log, the
// transfer file, the escape-sequence log and the debug capture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class TSession;

class TLogFiles {
 public:
  explicit TLogFiles(TSession& session);
  ~TLogFiles();

  // --- Log file (what the screen shows) ---
  bool LogOpen = false;
  // The screen writer's character output: c is 32 or above, CR, LF or TAB
  // (the caller filters). A full buffer is written first; a failed write
  // closes the log.
  void LogChar(std::uint8_t c);
  void LogBytes(const std::uint8_t* data, std::size_t count);  // LogChar for each, faster
  // The screen writer's line output: text, CR, LF.
  void LogLine(std::string_view text);

  // --- Transfer file, as the screen writer feeds a text receive ---
  // True while a text receive stores what the screen shows (suppress-control mode).
  bool TextReceiveActive() const;
  void TransferChar(std::uint8_t c);          // with the Ctrl-Z end rule
  void TransferLine(std::string_view text);   // text, CR, LF; no Ctrl-Z rule
  bool OpenTransferFile(int mode);            // 0 read, 1 write with existing-file handling, 2 create

  // --- Escape-sequence log (qelwin.esl) ---
  bool EscapeLogOpen() const;
  void WriteEscapeLog(std::string_view record);  // record lines, each ended by a line end

 private:
  TSession& S;
};
