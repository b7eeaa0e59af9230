// What the qel subcommands share: their lines on stderr, option values, the
// terminal type names, and loading a settings file into a headless session.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

class TSession;

// One subcommand's name and usage, for what it prints on stderr.
struct TToolCommand {
  const char* Name;   // "replay"
  const char* Usage;  // "qel replay [--emulation ...] FILE|-"

  // "usage: USAGE"; the usage error status 2.
  int ShowUsage() const;
  // "qel NAME: MESSAGE" and the usage; the usage error status 2.
  int UsageError(const std::string& message) const;
  // "qel NAME: SUBJECT: REASON"; the failure status 1.
  int Failure(const std::string& subject, const std::string& reason) const;
  // "qel NAME: note: TEXT" with a box's text on one line.
  void Note(const std::string& text) const;
};

// argv[i] as "OPTION VALUE" or "OPTION=VALUE". False when argv[i] is another
// argument. Otherwise i moves past the value, value is set, and missing tells
// that no value (or an empty one after "=") was given.
bool TakeValue(int argc, char** argv, int& i, const char* option, std::string& value, bool& missing);

// An input file, or standard input for "-", read as a stream. A directory is
// refused, and a named pipe is read only while something writes to it
// (opening one without a writer would wait for ever).
class TInputFile {
 public:
  TInputFile() = default;
  ~TInputFile();
  TInputFile(const TInputFile&) = delete;
  TInputFile& operator=(const TInputFile&) = delete;

  // False with the reason when the file cannot be read.
  bool Open(const std::string& name, std::string& reason);
  // Fills buffer as far as the input goes: size bytes, fewer only at its end.
  // -1 with the reason on a read error. Ctrl-C (see progress.h) ends a
  // read early with what it has.
  long Read(char* buffer, std::size_t size, std::string& reason);
  // The size of a regular file; -1 for a pipe, a terminal or a device.
  std::int64_t Size() const { return FileSize; }

 private:
  int Descriptor = -1;
  bool Owned = false;
  std::int64_t FileSize = -1;
  std::string Pending;  // read while checking a named pipe for a writer
};

// The whole of FILE, or of standard input for "-"; false with the reason.
bool ReadInput(const std::string& name, std::string& bytes, std::string& reason);

// How a failure names an input: "standard input" for "-".
std::string InputName(const std::string& name);

// The settings' Emulation code of a terminal type name, in any case
// ("vt220-8bit" is vt220).
inline constexpr const char* kEmulationNames = "quorix|vt100|vt220|tn3270";
std::optional<std::uint8_t> EmulationOf(const std::string& name);
// Why a name is no terminal type, for the usage error.
std::string UnknownEmulation(const std::string& name);

// The base name of a set of mode files given with or without one of their
// extensions: "line.mod" and "line" both mean "line".
std::string ModeBaseOf(const std::string& name);

// A box's text written for the window, with the option that does the same
// on the command line added where it names a window to correct it in.
std::string WithCommandLineHint(const std::string& text);

// A box's text on one line: its CR and LF line breaks become single blanks.
std::string OneLine(const std::string& text);

// The sentence of a system error code without its padding; a code without a
// sentence reads "system error N".
std::string SystemReason(std::uint32_t code);

// Why a settings record could not be read, from ReadSettingsRecord's code.
std::string SettingsReadReason(std::uint32_t code);

// Loads a settings file into the session as the Open command does. False,
// with the reason, when the file gives no complete settings record.
bool LoadSettings(TSession& session, const std::string& file, std::string& reason);

// What a headless session lets the host's transfer sequences do: receive
// into receiveDirectory when one is given (--receive-dir), nothing else, so
// a replayed or scripted session writes no file it was not told to. False
// with the reason when the directory is not one.
bool PermitHostTransfers(TSession& session, const std::string& receiveDirectory, std::uint64_t receiveLimit,
                         std::string& reason);
// --receive-limit MB as bytes; nullopt for anything but 1..1048576 megabytes.
std::optional<std::uint64_t> ReceiveLimitOf(const std::string& megabytes);
