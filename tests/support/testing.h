// Helpers shared by the tests: a fresh session in a temporary program
// directory, file contents, and runs of the built qel tool.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/session.h"
#include "comms/recordinglines.h"
#include "core/desktop.h"
#include "core/tempdir.h"
#include "support/randombytes.h"
#include "support/scripteddesktop.h"

// A temporary directory removed when the object dies; a test cannot run
// without one, so failing to make it throws.
class TTempDir {
 public:
  TTempDir();
  const std::filesystem::path& path() const { return Dir.Path(); }
  std::string file(const std::string& name) const { return Dir.File(name); }

 private:
  TTemporaryDirectory Dir{"qeltest"};
};

// A settings record as a new installation has it.
inline TSetupRecord DefaultSettings() {
  TSetupRecord record;
  record.ApplyDefaults();
  return record;
}

// A session wired to a scripted desktop, with its program directory in a
// fresh temporary directory.
struct TTestSession {
  TTempDir Dir;
  TScriptedDesktop Desktop;
  std::unique_ptr<TSession> S;
  TTestSession();
};

// A test session on a connected recording network line (the Echo port: no
// Telnet doubling) whose screen path ends in Shown instead of the receive
// interpreter: the transfers' and the keyboard's tests watch what goes to
// the host and what the dispatcher passes on.
struct TWiredSession : TTestSession {
  TRecordingNetworkLine Wire;
  std::string Shown;
  TWiredSession();
  TTransferEngine& Engine() { return *S->Transfer; }
  TSetupRecord& Settings() { return S->Settings; }
  // Puts another line in the recording line's place.
  void Use(TNetworkLine& line);
  // Each byte as one received-byte event of the session.
  void Receive(const std::string& bytes);
  // The window's 100-ms timer: the countdowns, then the tick.
  void Tick(int count = 1);
  // Ticks while the activity bit is on; false when it is still on after limit ticks.
  bool TickWhile(std::uint32_t bit, int limit = 10000);
  // What the host got since the last call.
  std::string TakeSent();
};

// The same started as the main window leaves it, its screen path ending in
// the receive interpreter.
struct TConnectedSession : TWiredSession {
  TConnectedSession();
  // Bytes from the host in one block, as a socket read delivers them.
  void Push(std::string_view bytes);
  // Screen row `row` (from 1), trailing blanks removed.
  std::string Row(int row) const;
};

// Bytes from the host in one block, as a socket read delivers them.
void PushBytes(TSession& s, std::string_view bytes);
// Screen row `row` (from 1) as stored, trailing blanks removed.
std::string ScreenRow(const TSession& s, int row);
// Whether some screen row holds text.
bool ScreenShows(const TSession& s, const std::string& text);
// How often `message` was posted.
int PostedCount(const TScriptedDesktop& desktop, int message);

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

// A system error's sentence as the error table holds it: padded to 96 characters.
std::string Padded(std::string sentence);
// The text without its trailing blanks.
std::string Trimmed(std::string text);
// The text's lines, split at each "\n", a "\r" before it dropped.
std::vector<std::string> SplitLines(const std::string& text);

// The text as one shell word.
std::string ShellQuoted(const std::string& text);

// How a run of the built qel tool ended: its exit status (-1 when it did not
// exit normally) and what it printed.
struct TQelRun {
  int Status = -1;
  std::string Out;
  std::string Err;
};

// Runs `qel ARGUMENTS` through the shell (ARGUMENTS are shell words) with
// INPUT on its standard input; its streams pass through files in dir.
TQelRun RunQel(const TTempDir& dir, const std::string& arguments, const std::string& input = "");
// The same with standard output on a full disk (/dev/full) and nothing on standard input.
TQelRun RunQelOnAFullDisk(const TTempDir& dir, const std::string& arguments);

// Runs work where file permissions hold: as the user nobody in a child
// process when the tests run as root (root reads any file), in this process
// otherwise. Returns work's result (0..255), or -1 when it could not run.
int RunUnprivileged(const std::function<int()>& work);
