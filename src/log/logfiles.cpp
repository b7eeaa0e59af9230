#include "log/logfiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <new>

#include "core/ascii.h"
#include "core/desktop.h"
#include "core/paths.h"
#include "core/settings.h"
#include "core/status.h"
#include "core/transferstate.h"
#include "log/errors.h"

namespace {
constexpr const char* kBackgroundLogTitle = "Back ground logging file ( QELWIN.BGL )";

std::string CurrentDirectoryFile(const char* name) {
  char buffer[PATH_MAX];
  if (::getcwd(buffer, sizeof buffer) == nullptr) return name;
  std::string path(buffer);
  if (path.empty() || path.back() != '/') path += '/';
  return path + name;
}
}  // namespace

struct TLogFiles::TCapture {
  std::array<std::uint8_t, kCaptureBytes> Bytes{};
  std::array<std::uint8_t, kDirectionBytes> Direction{};
  std::array<std::uint32_t, kTickStamps> FirstTicks{};
  std::array<std::uint32_t, kTickStamps> SecondTicks{};
};

TLogFiles::TLogFiles(const TLogFilesContext& context)
    : BackgroundLogName(CurrentDirectoryFile("QELWIN.BGL")), S(context) {
  LogFile.SetFaults(&Faults);
  BackgroundFile.SetFaults(&Faults);
  TransferFile.SetFaults(&Faults);
  EscapeLog.SetFaults(&Faults);
  TransferBuffer.reserve(2 * kTransferFlushSize);
}

TLogFiles::~TLogFiles() = default;

std::string TLogFiles::ProgramFile(const char* name) const { return S.ProgramDirectory + name; }

std::string TLogFiles::EscapeLogTitle() const {
  return "Escape Sequence Log File = " + S.ProgramDirectory + "QELWIN.ESL";
}

void TLogFiles::RefreshStatus() {
  S.Status.LogStatus = LogOpen;
  ++S.Status.Changes;
}

// ---------------------------------------------------------------- log file

void TLogFiles::ToggleLogFile() {
  if (S.Settings.LogFileName.empty()) {
    S.Desktop.ShowMessage({TMsgIcon::Error, kNoLogFileNameText, "", mbOK | mbHelp, 0});
    return;
  }
  if (LogOpen) {
    CloseLogFile();
  } else {
    OpenLogFile();
  }
  RefreshStatus();
}

bool TLogFiles::OpenForAppend(TFile& file, const std::string& name) {
  if (file.OpenReadWrite(name) != 0) return false;
  const std::int64_t size = file.Size();
  if (size <= 0) return true;
  std::uint8_t last = 0;
  if (file.Seek(static_cast<std::uint64_t>(size - 1)) != 0) return true;
  const TIoResult read = file.Read(&last, 1);
  // The next write replaces a final Ctrl-Z.
  if (read.Done == 1 && last == CtrlZ) {
    file.Seek(static_cast<std::uint64_t>(size - 1));
  } else {
    file.SeekEnd();
  }
  return true;
}

void TLogFiles::OpenLogFile() {
  LogOpen = false;
  const std::string name = S.Settings.LogFileName.str();
  if (name.empty()) return;
  if (!FileExists(name)) {
    CreateLogFile();
    return;
  }
  const TMsgResult answer = S.Errors.ReportError(ekAppendQuery, 0, name);
  if (answer == TMsgResult::Ignore) {
    CreateLogFile();
    return;
  }
  if (answer != TMsgResult::OK) return;
  if (!OpenForAppend(LogFile, name)) {
    S.Errors.ReportError(ekMessage, 0, "Error opening Log File " + name);
    return;
  }
  LogOpen = true;
  LogFill = 0;
  RefreshStatus();
}

void TLogFiles::CreateLogFile() {
  const std::string name = S.Settings.LogFileName.str();
  if (LogFile.Create(name) != 0) {
    S.Errors.ReportError(ekMessage, 0, " Error opening log file -> " + name);
    return;
  }
  LogOpen = true;
  LogFill = 0;
  RefreshStatus();
}

bool TLogFiles::FlushLogBuffer() {
  if (LogFill == 0) return true;
  const TIoResult written = LogFile.Write(LogBuffer.data(), LogFill);
  if (written.Done == LogFill) {
    LogFill = 0;
    return true;
  }
  LogFile.Close();
  LogOpen = false;
  LogFill = 0;
  if (written.Error != ENOSPC) {
    S.Errors.ReportErrno(ekFileAccess, written.Error, "Logfile used");
  } else {
    S.Errors.ReportError(ekDiskFull, 0, "");
  }
  RefreshStatus();
  return false;
}

void TLogFiles::CloseLogFile() {
  if (FlushLogBuffer()) LogFile.Close();
  LogOpen = false;
  LogFill = 0;
  RefreshStatus();
}

void TLogFiles::LogBytes(const std::uint8_t* data, std::size_t count) {
  while (count > 0) {
    if (!LogOpen) return;
    if (LogFill == kLogBufferSize && !FlushLogBuffer()) return;
    std::size_t take = kLogBufferSize - LogFill;
    if (take > count) take = count;
    std::copy(data, data + take, LogBuffer.data() + LogFill);
    LogFill += take;
    data += take;
    count -= take;
  }
}

void TLogFiles::LogLine(std::string_view text) {
  LogBytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  static constexpr std::uint8_t kLineEnd[] = {13, 10};
  LogBytes(kLineEnd, sizeof kLineEnd);
}

// ---------------------------------------------------------- background log

bool TLogFiles::FlushBackgroundBuffer() {
  if (BackgroundFill == 0) return true;
  const std::size_t count = BackgroundFill;
  BackgroundFill = 0;
  return BackgroundFile.Write(BackgroundBuffer.data(), count).Done == count;
}

void TLogFiles::StartBackgroundLog() { OpenBackgroundLog(false); }

void TLogFiles::ResumeBackgroundLog() { OpenBackgroundLog(true); }

void TLogFiles::OpenBackgroundLog(bool append) {
  // Bytes still buffered from an earlier recording belong to the file.
  if (append && BackgroundState == bsWriting) FlushBackgroundBuffer();
  BackgroundFill = 0;
  if (!S.Settings.BackgroundLogging) return;
  BackgroundRecording = false;
  BackgroundFile.Close();
  const bool appending =
      append && BackgroundFile.OpenReadWrite(BackgroundLogName) == 0 && BackgroundFile.SeekEnd() == 0;
  if (!appending && BackgroundFile.Create(BackgroundLogName) != 0) {
    BackgroundState = bsClosed;
    S.Errors.ReportError(ekFileOpen, 0, kBackgroundLogTitle);
    return;
  }
  BackgroundState = bsWriting;
  BackgroundRecording = true;
}

void TLogFiles::OpenBackgroundLogForPlayback() {
  CloseBackgroundLog();
  if (BackgroundFile.OpenRead(BackgroundLogName) != 0) {
    BackgroundState = bsClosed;
    PlaybackActive = false;
    S.Errors.ReportError(ekFileOpen, 0, kBackgroundLogTitle);
    return;
  }
  PlaybackActive = true;
  BackgroundState = bsReading;
  const std::int64_t size = BackgroundFile.Size();
  PlaybackLength = size > 0 ? static_cast<std::uint64_t>(size) : 0;
}

void TLogFiles::CloseBackgroundLog() {
  BackgroundRecording = false;
  PlaybackActive = false;
  if (BackgroundState == bsWriting) FlushBackgroundBuffer();
  BackgroundFile.Close();
  BackgroundFill = 0;
  BackgroundState = bsClosed;
}

void TLogFiles::RecordBackground(std::uint8_t c) {
  if (!BackgroundRecording) return;
  // What did not fit is gone with a failed write; the close does not try it again.
  if (BackgroundFill == kBackgroundBufferSize && !FlushBackgroundBuffer()) {
    CloseBackgroundLog();
    return;
  }
  BackgroundBuffer[BackgroundFill++] = c;
}

long TLogFiles::ReadBackgroundLog(std::uint8_t* buffer, std::size_t count) {
  if (BackgroundState != bsReading) return -1;
  const TIoResult read = BackgroundFile.Read(buffer, count);
  if (read.Error != 0 && read.Done == 0) return -1;
  return static_cast<long>(read.Done);
}

// ----------------------------------------------------------- transfer file

bool TLogFiles::CreateTransferFile() {
  const int error = TransferFile.Create(TransferFileName);
  if (error != 0) {
    S.Errors.ReportError(ekFileOpen, 0, TransferFileName);
    return false;
  }
  return true;
}

bool TLogFiles::BackUpTransferFile() {
  LastBackup.clear();
  if (!KeepReplacedFile) return true;
  const std::string path = NativeFileName(TransferFileName);
  struct stat st {};
  // Only data can be lost: a device, a pipe or an empty file is replaced as it is.
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) return true;
  for (int n = 1; n <= kBackupsMax; ++n) {
    const std::string backup = path + ".~" + std::to_string(n) + "~";
    // Never over a name that is there, even one made meanwhile.
    int moved = ::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, backup.c_str(), RENAME_NOREPLACE);
    if (moved != 0 && errno == EINVAL) {  // a file system without the flag
      if (FileExists(backup)) continue;
      moved = ::rename(path.c_str(), backup.c_str());
    }
    if (moved == 0) {
      LastBackup = backup;
      return true;
    }
    if (errno == EEXIST) continue;
    S.Errors.ReportErrno(ekFileAccess, errno, TransferFileName);
    return false;
  }
  S.Errors.ReportError(ekMessage, 0, " Can't keep transfer file. Too many files with the same name.");
  return false;
}

bool TLogFiles::NextNumberedName() {
  if (TransferFileName.empty()) return false;
  std::string name = TransferFileName;
  for (char digit = '0'; digit <= '9'; ++digit) {
    name.back() = digit;
    if (FileExists(name)) continue;
    TransferFileName = name;
    return CreateTransferFile();
  }
  S.Errors.ReportError(ekMessage, 0,
                        " Can't rename transfer file. Too many files with the same name.");
  return false;
}

bool TLogFiles::OpenTransferFile(int mode) {
  if (TransferFileState != tsClosed) {
    S.Errors.ReportError(ekMessage, 0,
                          "Snd and rcv can't take place at the same time. Close log file first (LOFF)");
    return false;
  }
  ReceivedBytes = 0;
  TransferBuffer.clear();
  if (TransferFileName.empty()) return false;

  // A send needs the file readable; a receive asks about anything that is
  // there, readable or not, before it writes over it.
  const bool exists =
      mode == 0 ? TransferFile.OpenRead(TransferFileName) == 0 : FileExists(TransferFileName);
  bool opened = false;
  int state = tsWriting;
  switch (mode) {
    case 0:
      if (!exists) {
        S.Errors.ReportError(ekMessage, 0, " File " + TransferFileName + " not found.");
        return false;
      }
      state = tsReading;
      opened = true;
      break;
    case 1: {
      TransferFile.Close();
      if (!exists) {
        // Exclusive create: a file another program made meanwhile is never
        // truncated without the question.
        const int error = TransferFile.CreateNew(TransferFileName);
        if (error == 0) {
          opened = true;
          break;
        }
        if (error != EEXIST) {
          S.Errors.ReportError(ekFileOpen, 0, TransferFileName);
          return false;
        }
      }
      const TReceiveKind kind = S.Transfer.ReceiveKind;
      int policy = kind == rkHost ? HostFilePolicy : -1;  // -1: the user's append query
      if (policy == 1) {
        opened = BackUpTransferFile() && CreateTransferFile();
        break;
      }
      if (policy == 2) {
        opened = NextNumberedName();
        break;
      }
      const TMsgResult answer = S.Errors.ReportError(ekAppendQuery, 0, TransferFileName);
      if (answer == TMsgResult::Ignore) {
        opened = BackUpTransferFile() && CreateTransferFile();
      } else if (answer == TMsgResult::OK) {
        if (kind == rkHost) {
          opened = NextNumberedName();
        } else {
          opened = OpenForAppend(TransferFile, TransferFileName);
          if (!opened) S.Errors.ReportError(ekFileOpen, 0, TransferFileName);
        }
      }
      break;
    }
    case 2:
      TransferFile.Close();
      opened = BackUpTransferFile() && CreateTransferFile();
      break;
    default:
      TransferFile.Close();
      return false;
  }
  if (!opened) {
    TransferFile.Close();
    return false;
  }
  TransferFileState = state;
  ReceivedBytes = 0;
  TransferBuffer.clear();
  const std::int64_t size = TransferFile.Size();
  TransferFileSize = size > 0 ? static_cast<std::uint64_t>(size) : 0;
  return true;
}

std::uint32_t TLogFiles::FlushTransferBuffer() {
  if (TransferBuffer.empty()) return 0;
  const TIoResult written = TransferFile.Write(TransferBuffer.data(), TransferBuffer.size());
  const bool complete = written.Done == TransferBuffer.size();
  TransferBuffer.clear();
  if (complete) return 0;
  return SystemErrorCode(written.Error);
}

void TLogFiles::CloseTransferFile() {
  // The last bytes of a receive are part of the file: a failure to write
  // them is reported, once the file is closed, like any other.
  const std::uint32_t error = TransferFileState == tsWriting ? FlushTransferBuffer() : 0;
  TransferFile.Close();
  TransferBuffer.clear();
  S.Transfer.TransferActive = false;
  TransferFileState = tsClosed;
  if (error != 0) S.Errors.ReportError(ekFileAccess, error, "Transfer file");
}

long TLogFiles::ReadTransferFile(std::uint8_t* buffer, std::size_t count) {
  if (TransferFileState != tsReading) return -1;
  const TIoResult read = TransferFile.Read(buffer, count);
  if (read.Error != 0 && read.Done == 0) return -1;
  return static_cast<long>(read.Done);
}

void TLogFiles::AppendTransferByte(std::uint8_t c) {
  TransferBuffer.push_back(c);
  ++ReceivedBytes;
}

void TLogFiles::DropLastTransferByte() {
  if (TransferBuffer.empty()) return;
  TransferBuffer.pop_back();
  --ReceivedBytes;
}

bool TLogFiles::TextReceiveActive() const {
  const TTransferState& transfer = S.Transfer;
  return TransferFileState == tsWriting && transfer.TransferActive && transfer.Direction == drReceive &&
         transfer.ReceiveKind == rkUser && transfer.SuppressControl;
}

void TLogFiles::AppendTransferChecked(std::uint8_t c, bool ctrlZRule) {
  if (TransferFileState != tsWriting) return;
  if (TransferBuffer.size() >= kTransferFlushSize) {
    const std::uint32_t error = FlushTransferBuffer();
    if (error != 0) {
      if (ReceiveEnded) ReceiveEnded();
      S.Errors.ReportError(ekFileAccess, error, "Transfer file");
      return;
    }
  }
  if (ctrlZRule && c == CtrlZ && S.Transfer.CtrlZEnds) {
    if (ReceiveEnded) ReceiveEnded();
    return;
  }
  AppendTransferByte(c);
  ++S.Status.Changes;
}

void TLogFiles::TransferChar(std::uint8_t c) {
  if (!TextReceiveActive()) return;
  AppendTransferChecked(c, true);
}

void TLogFiles::TransferLine(std::string_view text) {
  if (!TextReceiveActive()) return;
  for (const char c : text) AppendTransferChecked(static_cast<std::uint8_t>(c), false);
  AppendTransferChecked(13, false);
  AppendTransferChecked(10, false);
}

// ---------------------------------------------------------- debug facility

bool TLogFiles::StartEscapeLog() {
  if (DebugState != dsOff) return false;
  try {
    Capture = std::make_unique<TCapture>();
  } catch (const std::bad_alloc&) {
    Capture.reset();
    S.Errors.ReportError(ekMessage, 0, "Not enough memory");
    return false;
  }
  CaptureCountValue = 0;
  DebugState = dsCapturing;
  const int error = EscapeLog.Create(ProgramFile("qelwin.esl"));
  if (error != 0) {
    S.Errors.ReportErrno(ekFileAccess, error, EscapeLogTitle());
  }
  return true;
}

void TLogFiles::RecordCapture(std::uint8_t b, bool sent) {
  if (!Capture || CaptureCountValue >= kCaptureBytes) return;
  const std::size_t index = CaptureCountValue;
  Capture->Bytes[index] = b;
  if (sent) Capture->Direction[index / 8] |= static_cast<std::uint8_t>(1u << (index % 8));
  // The stamps end where the second table does; the bytes go on to 64000.
  if (index < kFirstTableStamps) {
    Capture->FirstTicks[index] = S.Desktop.TickCount();
  } else if (index - kFirstTableStamps < kTickStamps) {
    Capture->SecondTicks[index - kFirstTableStamps] = S.Desktop.TickCount();
  }
  ++CaptureCountValue;
}

void TLogFiles::WriteEscapeLog(std::string_view record) {
  if (!EscapeLog.IsOpen()) return;
  const TIoResult written = EscapeLog.Write(record.data(), record.size());
  if (written.Done == record.size()) return;
  EscapeLog.Close();
  S.Errors.ReportErrno(ekFileAccess, written.Error, EscapeLogTitle());
}

void TLogFiles::StopEscapeLog() {
  if (DebugState != dsCapturing) return;
  EscapeLog.Close();
  DebugState = dsDumping;
  const std::string name = ProgramFile("debu_qel.log");
  TFile dump;
  dump.SetFaults(&Faults);
  int error = dump.Create(name);
  if (error == 0 && Capture) {
    const std::uint8_t count[2] = {static_cast<std::uint8_t>(CaptureCountValue & 0xFF),
                                   static_cast<std::uint8_t>(CaptureCountValue >> 8)};
    const auto put = [&](const void* data, std::size_t size) {
      if (error != 0) return;
      const TIoResult written = dump.Write(data, size);
      if (written.Done != size) error = written.Error;
    };
    put(count, sizeof count);
    put(Capture->Bytes.data(), CaptureCountValue);
    put(Capture->Direction.data(), kDirectionBytes);
    // The tables are stored as little-endian 32-bit stamps, as in memory here.
    put(Capture->FirstTicks.data(), kTickStamps * 4);
    put(Capture->SecondTicks.data(), kTickStamps * 4);
  }
  dump.Close();
  if (error != 0) S.Errors.ReportErrno(ekFileAccess, error, name);
  Capture.reset();
  CaptureCountValue = 0;
  DebugState = dsOff;
}

void TLogFiles::CloseAll() {
  CloseLogFile();
  CloseBackgroundLog();
  if (TransferFileState != tsClosed) CloseTransferFile();
  StopEscapeLog();
}

TLogFiles::TWrittenFile TLogFiles::WritesTo(const std::string& name) const {
  if (LogOpen && LogFile.IsFile(name)) return wfLog;
  if (TransferFileState == tsWriting && TransferFile.IsFile(name)) return wfTransfer;
  if (BackgroundState == bsWriting && BackgroundFile.IsFile(name)) return wfBackground;
  return wfNone;
}
