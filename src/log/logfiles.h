// Files kept open across events: the log file, the background log, the
// transfer file, the escape-sequence log and the debug capture.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "log/file.h"

class TDesktop;
class TErrorReporter;
struct TSetupRecord;
struct TStatusIndicators;
struct TTransferState;

// What the files use of the session.
struct TLogFilesContext {
  TDesktop& Desktop;
  TErrorReporter& Errors;
  const TSetupRecord& Settings;
  TStatusIndicators& Status;
  // The running transfer: its kind and options decide what the transfer file
  // takes; closing the file ends it.
  TTransferState& Transfer;
  const std::string& ProgramDirectory;
};

// The refusal of a command that needs the Log File Name when it is empty.
inline constexpr const char* kNoLogFileNameText = "No LogFile Name specified\rCorrect in the Setup|Configure|Files";

class TLogFiles {
 public:
  explicit TLogFiles(const TLogFilesContext& context);
  ~TLogFiles();

  // A receive ends by itself (Ctrl-Z, a failed write): the transfer engine
  // closes the file and tells the window. Set once by the session.
  std::function<void()> ReceiveEnded;

  // Faults for every file of this object (tests reach the disk-full and
  // write-failure paths through it).
  TFileFaults Faults;

  // --- Log file (what the screen shows) ---
  static constexpr std::size_t kLogBufferSize = 2048;
  bool LogOpen = false;
  // The "Log File On/Off" button and the "Logfile" menu item.
  void ToggleLogFile();
  void OpenLogFile();    // with the append query
  void CreateLogFile();  // create or truncate
  void CloseLogFile();   // flush and close
  // The screen writer's character output: c is 32 or above, CR, LF or TAB
  // (the caller filters). A full buffer is written first; a failed write
  // closes the log.
  void LogChar(std::uint8_t c) {
    if (!LogOpen) return;
    if (LogFill == kLogBufferSize && !FlushLogBuffer()) return;
    LogBuffer[LogFill++] = c;
  }
  void LogBytes(const std::uint8_t* data, std::size_t count);  // LogChar for each, faster
  // The screen writer's line output: text, CR, LF.
  void LogLine(std::string_view text);
  std::size_t LogBuffered() const { return LogFill; }

  // --- Background log "QELWIN.BGL" (raw received bytes) ---
  enum TBackgroundState { bsClosed = 0, bsReading = 1, bsWriting = 2 };
  static constexpr std::size_t kBackgroundBufferSize = 2048;
  std::string BackgroundLogName;  // bound at start-up, relative to the directory then current
  int BackgroundState = bsClosed;
  bool BackgroundRecording = false;
  bool PlaybackActive = false;
  std::uint64_t PlaybackLength = 0;
  void StartBackgroundLog();
  void ResumeBackgroundLog();
  void OpenBackgroundLogForPlayback();
  void CloseBackgroundLog();
  // The receive dispatcher's recording of one received byte.
  void RecordBackground(std::uint8_t c);
  // Playback reads: bytes read, 0 at the end, -1 on a failure or when not open for reading.
  long ReadBackgroundLog(std::uint8_t* buffer, std::size_t count);

  // --- Transfer file (the one file of a send or receive) ---
  enum TTransferFileState { tsClosed = 0, tsReading = 1, tsWriting = 2 };
  static constexpr std::size_t kTransferFlushSize = 2066;
  static constexpr int kBackupsMax = 999;  // NAME.~1~ .. NAME.~999~
  std::string TransferFileName;
  int TransferFileState = tsClosed;
  std::uint64_t ReceivedBytes = 0;     // reset on every open
  std::uint64_t TransferFileSize = 0;  // at open; the gauge's maximum for a send
  int HostFilePolicy = 0;              // receive kind 1: 0 ask, 1 overwrite, 2 new numbered name
  // Set around the open of a receive the host started: a file with data that
  // the receive would replace is first renamed to NAME.~N~ (the next free N),
  // so no host can destroy what the user had.
  bool KeepReplacedFile = false;
  std::string LastBackup;  // the name the last replaced file was kept under
  // mode 0 read, 1 write with existing-file handling, 2 create anew; returns success.
  bool OpenTransferFile(int mode);
  bool NextNumberedName();
  void CloseTransferFile();
  // File send reads: bytes read, 0 at the end, -1 on a failure or when not open for reading.
  long ReadTransferFile(std::uint8_t* buffer, std::size_t count);
  // The dispatcher's raw receive: appends c and counts it (no flush).
  void AppendTransferByte(std::uint8_t c);
  void DropLastTransferByte();
  std::size_t TransferBuffered() const { return TransferBuffer.size(); }
  // Writes the buffer out; 0 or the system error code of the failure (a short
  // write gives the disk-full code). The buffer is empty afterwards either way.
  std::uint32_t FlushTransferBuffer();

  // --- Transfer file, as the screen writer feeds a text receive ---
  // True while a text receive stores what the screen shows (suppress-control mode).
  bool TextReceiveActive() const;
  void TransferChar(std::uint8_t c);          // with the Ctrl-Z end rule
  void TransferLine(std::string_view text);   // text, CR, LF; no Ctrl-Z rule

  // --- Debug facility: escape-sequence log (qelwin.esl) and capture dump ---
  enum TDebugState { dsOff = 0, dsCapturing = 2, dsDumping = 3 };
  static constexpr std::size_t kCaptureBytes = 64000;
  static constexpr std::size_t kDirectionBytes = 16384;
  static constexpr std::size_t kTickStamps = 16376;     // per table
  static constexpr std::size_t kFirstTableStamps = 16375;  // stamps kept in the first table
  int DebugState = dsOff;
  // Returns whether capturing started.
  bool StartEscapeLog();
  void StopEscapeLog();
  bool Capturing() const { return DebugState == dsCapturing; }
  void RecordSent(std::uint8_t b) { if (DebugState == dsCapturing) RecordCapture(b, true); }
  void RecordReceived(std::uint8_t b) { if (DebugState == dsCapturing) RecordCapture(b, false); }
  std::uint16_t CaptureCount() const { return CaptureCountValue; }
  bool EscapeLogOpen() const { return EscapeLog.IsOpen(); }
  void WriteEscapeLog(std::string_view record);  // record lines, each ended by a line end

  // Which file kept open for writing a name stands for, so that nothing
  // replaces a file while it is being written.
  enum TWrittenFile { wfNone, wfLog, wfTransfer, wfBackground };
  TWrittenFile WritesTo(const std::string& name) const;

  // The window's close and Exit: flush and close every file, stop the capture.
  void CloseAll();

 private:
  bool FlushLogBuffer();  // false when the log had to be closed
  bool FlushBackgroundBuffer();  // false when the write failed; the buffer is empty either way
  void OpenBackgroundLog(bool append);
  bool OpenForAppend(TFile& file, const std::string& name);  // positioned before a final Ctrl-Z
  bool CreateTransferFile();
  bool BackUpTransferFile();
  void AppendTransferChecked(std::uint8_t c, bool ctrlZRule);
  void RecordCapture(std::uint8_t b, bool sent);
  void RefreshStatus();
  std::string ProgramFile(const char* name) const;
  std::string EscapeLogTitle() const;  // what its failures name

  TLogFilesContext S;

  TFile LogFile;
  std::array<std::uint8_t, kLogBufferSize> LogBuffer{};
  std::size_t LogFill = 0;

  TFile BackgroundFile;
  std::array<std::uint8_t, kBackgroundBufferSize> BackgroundBuffer{};
  std::size_t BackgroundFill = 0;

  TFile TransferFile;
  std::vector<std::uint8_t> TransferBuffer;

  TFile EscapeLog;
  struct TCapture;
  std::unique_ptr<TCapture> Capture;
  std::uint16_t CaptureCountValue = 0;
};
