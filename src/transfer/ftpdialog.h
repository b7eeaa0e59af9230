// What the FTP window shows and decides, without the window: the status
// history's lines for the client's events, the error texts, the typed
// commands, listing lines, and the queue of files with the transfer sequence
// the window's timer advances.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "transfer/ftp.h"

inline constexpr const char* kFtpCaption = "Qel FTP Dialog.";
inline constexpr const char* kFtpConnectedCaption = "Qel FTP Dialog. Connected to";
inline constexpr const char* kNoHostName = "No HostName specified";

// The text of an error code the client reports; "" for an unknown code.
std::string FtpErrorText(int code);

// The status history lines of an event: none for progress and listing lines
// (the window shows those elsewhere), two for an error with a cause.
std::vector<std::string> FtpStatusLines(const TFtpEvent& event);

// A line typed into "Command", by its first word.
enum TTypedCommandKind { tcChangeDirectory, tcPrintDirectory, tcList, tcNameList, tcAbort, tcHelp, tcExecute };

struct TTypedCommand {
  TTypedCommandKind Kind = tcExecute;
  std::string Rest;        // the words after the first
  std::string StatusLine;  // what the history lists for it
};

// nullopt for a line of blanks only.
std::optional<TTypedCommand> ParseTypedCommand(const std::string& line);

// One line of a remote listing ("drwxr-xr-x 2 u g 4096 Jan 1 12:00 name",
// "01-02-03 10:00AM <DIR> name", or a bare name from a name list).
struct TFtpListEntry {
  std::string Name;
  bool IsDirectory = false;
};
TFtpListEntry ParseListLine(const std::string& line);

struct TFtpQueuedFile {
  std::string Name;  // local path for a send, remote name for a receive
  TFtpDirection Direction = fdSend;
};

// The files dropped on the transfer box and the sequence that moves them one
// at a time: once the client is free a tick starts the next transfer, the
// next refreshes the remote list, and after the last file one says done.
class TFtpTransferSequence {
 public:
  enum TStep { tsIdle, tsTransfer, tsRefresh, tsFinish };
  struct TAction {
    enum { aNone, aSend, aReceive, aRefresh, aDone } Kind = aNone;
    TFtpQueuedFile File;
  };

  // Adds a file unless the same name and direction are queued.
  void Add(const TFtpQueuedFile& file);
  void Remove(std::size_t index);
  void Clear() { Files.clear(); }
  const std::vector<TFtpQueuedFile>& Queued() const { return Files; }

  void Start();
  void Stop() { Step = tsIdle; }
  bool Running() const { return Step != tsIdle; }
  TStep CurrentStep() const { return Step; }
  // One timer tick: what to do now, given whether the client is still busy.
  TAction Advance(bool clientBusy);

 private:
  std::vector<TFtpQueuedFile> Files;
  TStep Step = tsIdle;
};

// The remote group's caption for a directory.
std::string RemoteDirectoryCaption(const std::string& directory);
// The local name a received file gets in a local folder, and the remote name
// of a sent file (the last part of a path).
std::string FtpFileName(const std::string& path);
