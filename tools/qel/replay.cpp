// qel replay: feeds a recorded byte stream through the receive path as if it
// had come from the host and prints the screen, the scroll-back or the log.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "app/settings.h"
#include "app/settingsfile.h"
#include "comms/recordinglines.h"
#include "comms/transmit.h"
#include "core/desktop.h"
#include "core/session.h"
#include "log/errors.h"
#include "log/files.h"
#include "printing.h"
#include "tools_common.h"
#include "transfer/engine.h"

namespace {

constexpr const char* kUsage =
    "usage: qel replay [--emulation quorix|vt100|vt220|tn3270] [--settings F.mse] [--telnet] "
    "[--screen|--scrollback|--log] [--answers OUT] FILE|-";

// Reads from a socket arrive in pieces of this size.
constexpr std::size_t kReceiveChunk = 8192;
// Ticks allowed after the input for queued answers (answer-back) to leave.
constexpr int kMaxDrainTicks = 10000;

int UsageError(const std::string& message) {
  std::fprintf(stderr, "qel replay: %s\n%s\n", message.c_str(), kUsage);
  return 2;
}

int Failure(const std::string& file, const std::string& reason) {
  std::fprintf(stderr, "qel replay: %s: %s\n", file.c_str(), reason.c_str());
  return 1;
}

std::string SystemReason(std::uint32_t code) {
  if (code == 38) return "shorter than a settings record (14044 bytes)";
  std::string text = ErrorCodeText(code);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

enum class TOutput { Screen, Scrollback, Log };

struct TOptions {
  int Emulation = -1;  // -1: as the settings say
  std::string Settings;
  bool Telnet = false;
  TOutput Output = TOutput::Screen;
  int OutputChoices = 0;
  std::string Answers;
  std::string Input;
};

bool TakeValue(int argc, char** argv, int& i, const char* option, std::string& value,
               bool& missing) {
  const std::size_t length = std::strlen(option);
  if (std::strncmp(argv[i], option, length) != 0) return false;
  if (argv[i][length] == '=') {
    value = argv[i] + length + 1;
    missing = value.empty();
    return true;
  }
  if (argv[i][length] != '\0') return false;
  missing = i + 1 >= argc;
  if (!missing) value = argv[++i];
  return true;
}

// Returns 0 when the options are sound, else the exit status.
int ParseOptions(int argc, char** argv, TOptions& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    std::string value;
    bool missing = false;
    if (TakeValue(argc, argv, i, "--emulation", value, missing)) {
      if (missing) return UsageError("--emulation needs a terminal type");
      if (value == "quorix") options.Emulation = emQuorix;
      else if (value == "vt100") options.Emulation = emVT100;
      else if (value == "vt220") options.Emulation = emVT220;
      else if (value == "tn3270") options.Emulation = emTN3270;
      else return UsageError("unknown terminal type '" + value + "'");
    } else if (TakeValue(argc, argv, i, "--settings", value, missing)) {
      if (missing) return UsageError("--settings needs a file name");
      options.Settings = value;
    } else if (TakeValue(argc, argv, i, "--answers", value, missing)) {
      if (missing) return UsageError("--answers needs a file name");
      options.Answers = value;
    } else if (arg == "--telnet") {
      options.Telnet = true;
    } else if (arg == "--screen" || arg == "--scrollback" || arg == "--log") {
      options.Output = arg == "--screen"       ? TOutput::Screen
                       : arg == "--scrollback" ? TOutput::Scrollback
                                               : TOutput::Log;
      ++options.OutputChoices;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError("unknown option '" + arg + "'");
    } else if (!options.Input.empty()) {
      return UsageError("more than one input file given");
    } else {
      options.Input = arg;
    }
  }
  if (options.Input.empty()) return UsageError("no input file given (use - for standard input)");
  if (options.OutputChoices > 1) return UsageError("choose one of --screen, --scrollback and --log");
  return 0;
}

bool ReadInput(const std::string& name, std::string& bytes, std::string& reason) {
  if (name == "-") {
    bytes.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    if (std::cin.bad()) {
      reason = "read error";
      return false;
    }
    return true;
  }
  std::ifstream in(name, std::ios::binary);
  if (!in) {
    reason = std::strerror(errno);
    return false;
  }
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    reason = "read error";
    return false;
  }
  return true;
}

// The program directory of the replay session: a fresh directory removed at the end.
class TScratchDirectory {
 public:
  TScratchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qelreplay.XXXXXX").string();
    if (mkdtemp(pattern.data())) Path = pattern;
  }
  ~TScratchDirectory() {
    std::error_code ignored;
    if (!Path.empty()) std::filesystem::remove_all(Path, ignored);
  }
  std::string Path;
};

}  // namespace

int RunReplay(int argc, char** argv) {
  TOptions options;
  if (const int status = ParseOptions(argc, argv, options); status != 0) return status;

  std::string input, reason;
  if (!ReadInput(options.Input, input, reason)) return Failure(options.Input, reason);
  if (!options.Settings.empty()) {
    TSetupRecord probe;
    const TSettingsReadResult read = ReadSettingsRecord(options.Settings, probe);
    if (read.Error != 0) return Failure(options.Settings, SystemReason(read.Error));
  }

  TScratchDirectory directory;
  if (directory.Path.empty()) return Failure("temporary directory", std::strerror(errno));
  TScriptedDesktop desktop;
  TSession session(desktop, directory.Path);
  if (!options.Settings.empty() && !session.SettingsFiles->OpenQelSetFile(options.Settings)) {
    return Failure(options.Settings, "not a readable settings file");
  }
  if (options.Emulation >= 0) session.Settings.Emulation = static_cast<std::uint8_t>(options.Emulation);
  session.StartUp();

  // They keep what the terminal sends back to the host.
  TRecordingSerialLine serial;
  TRecordingNetworkLine network;
  if (options.Telnet) {
    session.Settings.Port = kTelnetPortIndex;
    session.Transmit->Network = &network;
    session.Transmit->NetworkConnected = true;
  } else if (!options.Answers.empty()) {
    // Only so that the answers have somewhere to go; 255 stays data.
    session.Transmit->Serial = &serial;
    session.Transmit->SerialConnected = true;
  }

  const std::string logName = directory.Path + "/replay.log";
  if (options.Output == TOutput::Log) {
    session.Settings.LogFileName.assign(logName);
    session.Files->CreateLogFile();
    if (!session.Files->LogOpen) return Failure(logName, "the log file could not be created");
  }

  const auto* data = reinterpret_cast<const std::uint8_t*>(input.data());
  for (std::size_t done = 0; done < input.size(); done += kReceiveChunk) {
    session.ReceiveBytes(data + done, std::min(kReceiveChunk, input.size() - done));
  }
  // Let queued answers (answer-back, soft keys) leave as the timer would send them.
  for (int tick = 0; tick < kMaxDrainTicks && session.Transfer->Activities != 0; ++tick) {
    session.Transfer->DecrementTimers();
    session.HandleSessionEvent(1);
  }

  for (const auto& box : desktop.Boxes) {
    std::fprintf(stderr, "qel replay: note: %s\n", box.Box.Text.c_str());
  }

  switch (options.Output) {
    case TOutput::Screen: PrintScreen(session); break;
    case TOutput::Scrollback: PrintScrollback(session); break;
    case TOutput::Log: {
      session.Files->CloseLogFile();
      std::ifstream log(logName, std::ios::binary);
      PrintLogText(std::string(std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>()));
      break;
    }
  }
  std::fflush(stdout);

  if (!options.Answers.empty()) {
    std::ofstream out(options.Answers, std::ios::binary | std::ios::trunc);
    const std::string& sent = options.Telnet ? network.Sent : serial.Sent;
    out.write(sent.data(), static_cast<std::streamsize>(sent.size()));
    out.close();
    if (!out) return Failure(options.Answers, std::strerror(errno));
  }
  return 0;
}
