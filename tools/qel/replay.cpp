// qel replay: feeds a recorded byte stream through the receive path as if it
// had come from the host and prints the screen, the scroll-back or the log.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/session.h"
#include "comms/recordinglines.h"
#include "comms/transmit.h"
#include "core/desktop.h"
#include "core/settings.h"
#include "core/tempdir.h"
#include "printing.h"
#include "progress.h"
#include "tools_common.h"
#include "terminal/interpreter.h"
#include "transfer/commandstate.h"
#include "transfer/engine.h"
#include "transfer/receive.h"

namespace {

// Reads from a socket arrive in pieces of this size.
constexpr std::size_t kReceiveChunk = 8192;
// Ticks allowed after the input for queued answers (answer-back) to leave.
constexpr int kMaxDrainTicks = 10000;

struct TReplayOptions {
  std::optional<std::uint8_t> Emulation;  // as the settings say when not given
  std::string Settings;
  bool Telnet = false;
  TOutput Output = TOutput::Screen;
  int OutputChoices = 0;
  std::string Answers;
  std::string ReceiveDirectory;
  std::uint64_t ReceiveLimit = 0;
  std::string Input;
  bool Quiet = false;
};

// Returns 0 when the options are sound, else the exit status.
int ParseReplayOptions(const TToolCommand& tool, int argc, char** argv, TReplayOptions& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    std::string value;
    bool missing = false;
    if (TakeValue(argc, argv, i, "--emulation", value, missing)) {
      if (missing) return tool.UsageError("--emulation needs a terminal type");
      options.Emulation = EmulationOf(value);
      if (!options.Emulation) return tool.UsageError(UnknownEmulation(value));
    } else if (TakeValue(argc, argv, i, "--settings", value, missing)) {
      if (missing) return tool.UsageError("--settings needs a file name");
      options.Settings = value;
    } else if (TakeValue(argc, argv, i, "--answers", value, missing)) {
      if (missing) return tool.UsageError("--answers needs a file name");
      options.Answers = value;
    } else if (TakeValue(argc, argv, i, "--receive-dir", value, missing)) {
      if (missing) return tool.UsageError("--receive-dir needs a directory");
      options.ReceiveDirectory = value;
    } else if (TakeValue(argc, argv, i, "--receive-limit", value, missing)) {
      const std::optional<std::uint64_t> limit = ReceiveLimitOf(value);
      if (missing || !limit) return tool.UsageError("--receive-limit needs a number of megabytes from 1 to 1048576");
      options.ReceiveLimit = *limit;
    } else if (arg == "--quiet") {
      options.Quiet = true;
    } else if (arg == "--telnet") {
      options.Telnet = true;
    } else if (const auto output = OutputOption(arg)) {
      options.Output = *output;
      ++options.OutputChoices;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return tool.UsageError("unknown option '" + arg + "'");
    } else if (!options.Input.empty()) {
      return tool.UsageError("more than one input file given");
    } else {
      options.Input = arg;
    }
  }
  if (options.Input.empty()) return tool.UsageError("no input file given (use - for standard input)");
  if (options.OutputChoices > 1) return tool.UsageError("choose one of --screen, --scrollback and --log");
  return 0;
}

// As simulate hands a file to the screen, so both show a recording alike;
// but a receive the recording started (only with --receive-dir) takes the
// bytes after it as it would take them from the line.
void Feed(TSession& session, const std::uint8_t* data, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    if (session.Transfer->TransferActive) {
      session.HandleSessionEvent(sekReceivedByte, data[done++]);
      continue;
    }
    // The interpreter stops after a byte that may have started a transfer.
    const std::size_t taken = session.Interpreter->ReceiveBlock(data + done, count - done);
    done += taken;
  }
}

}  // namespace

int RunReplay(const TToolCommand& tool, int argc, char** argv) {
  TReplayOptions options;
  if (const int status = ParseReplayOptions(tool, argc, argv, options); status != 0) return status;

  TInputFile input;
  std::string reason;
  if (!input.Open(options.Input, reason)) return tool.Failure(InputName(options.Input), reason);

  // The session's program directory, removed at the end.
  const TTemporaryDirectory directory("qelreplay");
  if (directory.Path().empty()) return tool.Failure("temporary directory", std::strerror(errno));
  THeadlessDesktop desktop;
  TSession session(desktop, directory.Path().string());
  if (!options.Settings.empty() && !LoadSettings(session, options.Settings, reason)) {
    return tool.Failure(options.Settings, reason);
  }
  if (options.Emulation) session.Settings.Emulation = *options.Emulation;
  if (!PermitHostTransfers(session, options.ReceiveDirectory, options.ReceiveLimit, reason)) {
    return tool.Failure(options.ReceiveDirectory, reason);
  }
  TCommandState commands;
  TFileReceive receive(session, commands);
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

  const std::string logName = directory.File("replay.log");
  if (options.Output == TOutput::Log && !StartLog(session, logName)) {
    return tool.Failure(logName, "the log file could not be created");
  }

  // Opened before the run, so that a file that cannot take the answers stops
  // it before anything is printed; a named pipe must have its reader already.
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> answers(nullptr, std::fclose);
  if (!options.Answers.empty()) {
    const int fd = ::open(options.Answers.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
      return tool.Failure(options.Answers,
                          errno == ENXIO ? "a named pipe with nothing reading from it" : std::strerror(errno));
    }
    ::fcntl(fd, F_SETFL, O_WRONLY);
    answers.reset(::fdopen(fd, "wb"));
    if (!answers) {
      ::close(fd);
      return tool.Failure(options.Answers, std::strerror(errno));
    }
  }

  // Read as it is fed: a recording may be larger than memory.
  CatchInterrupt();
  TProgress progress("replaying " + InputName(options.Input), input.Size(), options.Quiet);
  std::int64_t done = 0;
  std::string chunk(kReceiveChunk, '\0');
  for (;;) {
    const long got = input.Read(chunk.data(), chunk.size(), reason);
    if (got < 0) return tool.Failure(InputName(options.Input), reason);
    if (got > 0) Feed(session, reinterpret_cast<const std::uint8_t*>(chunk.data()), static_cast<std::size_t>(got));
    done += got;
    progress.Update(done);
    if (static_cast<std::size_t>(got) < chunk.size() || Interrupted()) break;
  }
  progress.Finish();
  // Let queued answers (answer-back, soft keys) leave as the timer would send them.
  for (int tick = 0; tick < kMaxDrainTicks && session.Transfer->Activities != 0; ++tick) session.TimerTick();
  // A receive without an end (binary, no length) keeps what the recording held.
  if (session.Transfer->TransferActive) session.Transfer->EndReceive();

  for (const auto& box : desktop.Boxes) tool.Note(box.Box.Text);
  PrintOutput(session, options.Output, logName);
  if (!StandardOutputWritten(reason)) return tool.Failure("standard output", reason);

  if (answers) {
    const std::string& sent = options.Telnet ? network.Sent : serial.Sent;
    const bool written = std::fwrite(sent.data(), 1, sent.size(), answers.get()) == sent.size();
    if (!written || std::fclose(answers.release()) != 0) return tool.Failure(options.Answers, std::strerror(errno));
  }
  if (Interrupted()) {
    tool.Note("stopped by Ctrl-C after " + std::to_string(done) + " bytes");
    return kInterruptedStatus;
  }
  return 0;
}
