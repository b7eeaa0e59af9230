// qel connect: a headless session on a real line. Opens the serial port or
// the network connection as the main window would (Telnet handling included),
// types the given texts through the keyboard path, runs until the peer closes
// or the time is up, and prints the screen, the scroll-back or the log.
#include <errno.h>  // program_invocation_name

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/batchdecode.h"
#include "app/coredesktop.h"
#include "app/events.h"
#include "app/handover.h"
#include "app/linewiring.h"
#include "app/session.h"
#include "comms/comm.h"
#include "comms/dbus.h"
#include "comms/dde.h"
#include "comms/sockets.h"
#include "comms/transmit.h"
#include "core/settings.h"
#include "core/tempdir.h"
#include "printing.h"
#include "terminal/keyboard.h"
#include "tools_common.h"
#include "transfer/commandstate.h"
#include "transfer/engine.h"
#include "transfer/receive.h"

namespace {

constexpr int kTickMs = 100;
// After the line went down, bytes already handed over are still shown; this
// long at most.
constexpr int kDrainMs = 2000;
constexpr int kDrainCheckMs = 5;

std::atomic<bool> StopRequested{false};

void RequestStop(int) { StopRequested = true; }

struct TOptions {
  std::string Device;
  int BaudIndex = -1;
  std::string Host;
  bool HostGiven = false;
  bool Listen = false;
  std::optional<std::uint8_t> Emulation;
  std::string Settings;
  std::vector<std::string> Sends;
  double Seconds = -1;
  TOutput Output = TOutput::Screen;
  int OutputChoices = 0;
  bool Decode = false;
  std::string ModeBase;
  std::string Ornet;
  bool OrnetGiven = false;
  std::string ReceiveDirectory;
  std::uint64_t ReceiveLimit = 0;
};

int BaudIndexOf(const std::string& text) {
  char* end = nullptr;
  errno = 0;
  const unsigned long rate = std::strtoul(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0) return -1;
  for (unsigned index = cbr110; index <= cbr256000; ++index) {
    if (BaudRateValue(index) == rate) return static_cast<int>(index);
  }
  return -1;
}

int ParseOptions(const TToolCommand& tool, int argc, char** argv, TOptions& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    std::string value;
    bool missing = false;
    if (TakeValue(argc, argv, i, "--serial", value, missing)) {
      if (missing) return tool.UsageError("--serial needs a device");
      options.Device = value;
    } else if (TakeValue(argc, argv, i, "--baud", value, missing)) {
      options.BaudIndex = BaudIndexOf(value);
      if (missing || options.BaudIndex < 0) {
        return tool.UsageError("--baud takes one of 110 300 600 1200 2400 4800 9600 14400 19200 38400 56000 "
                               "57600 115200 128000 256000");
      }
    } else if (TakeValue(argc, argv, i, "--host", value, missing)) {
      if (missing) return tool.UsageError("--host needs HOST or HOST:PORT");
      options.Host = value;
      options.HostGiven = true;
    } else if (arg == "--listen") {
      options.Listen = true;
    } else if (TakeValue(argc, argv, i, "--emulation", value, missing)) {
      if (missing) return tool.UsageError("--emulation needs a terminal type");
      options.Emulation = EmulationOf(value);
      if (!options.Emulation) return tool.UsageError(UnknownEmulation(value));
    } else if (TakeValue(argc, argv, i, "--settings", value, missing)) {
      if (missing) return tool.UsageError("--settings needs a file name");
      options.Settings = value;
    } else if (TakeValue(argc, argv, i, "--send", value, missing)) {
      // "--send=" is an empty text; a bare "--send" at the end lacks one.
      if (missing && std::strchr(argv[i], '=') == nullptr) return tool.UsageError("--send needs a text");
      options.Sends.push_back(value);
    } else if (TakeValue(argc, argv, i, "--for", value, missing)) {
      char* end = nullptr;
      const double seconds = missing ? -1 : std::strtod(value.c_str(), &end);
      if (missing || *end != '\0' || !(seconds > 0) || seconds > 1e6) {
        return tool.UsageError("--for needs a number of seconds above 0");
      }
      options.Seconds = seconds;
    } else if (const auto output = OutputOption(arg)) {
      options.Output = *output;
      ++options.OutputChoices;
    } else if (arg == "--decode") {
      options.Decode = true;
    } else if (TakeValue(argc, argv, i, "--mode", value, missing)) {
      if (missing) return tool.UsageError("--mode needs the base name of the mode files");
      options.ModeBase = ModeBaseOf(value);
    } else if (TakeValue(argc, argv, i, "--ornet", value, missing)) {
      if (missing) return tool.UsageError("--ornet needs a directory");
      options.Ornet = value;
      options.OrnetGiven = true;
    } else if (TakeValue(argc, argv, i, "--receive-dir", value, missing)) {
      if (missing) return tool.UsageError("--receive-dir needs a directory");
      options.ReceiveDirectory = value;
    } else if (TakeValue(argc, argv, i, "--receive-limit", value, missing)) {
      const std::optional<std::uint64_t> limit = ReceiveLimitOf(value);
      if (missing || !limit) return tool.UsageError("--receive-limit needs a number of megabytes from 1 to 1048576");
      options.ReceiveLimit = *limit;
    } else {
      return tool.UsageError("unknown argument '" + arg + "'");
    }
  }
  if (options.Device.empty() == !options.HostGiven) return tool.UsageError("give one of --serial and --host");
  if (options.BaudIndex >= 0 && options.Device.empty()) return tool.UsageError("--baud goes with --serial");
  if (options.Listen && !options.HostGiven) return tool.UsageError("--listen goes with --host");
  if (options.OutputChoices > 1) return tool.UsageError("choose one of --screen, --scrollback and --log");
  if (options.Decode != !options.ModeBase.empty()) return tool.UsageError("--decode and --mode go together");
  if (options.OrnetGiven && !options.Decode) return tool.UsageError("--ornet goes with --decode");
  if (options.Decode && options.Emulation && *options.Emulation != emQuorix) {
    return tool.UsageError("--decode decodes a QUORIX terminal's trace");
  }
  // Decoded output is the log unless another view is asked for.
  if (options.Decode && options.OutputChoices == 0) options.Output = TOutput::Log;
  return 0;
}

// "COM1".."COM8" pick a port of the device list; anything else is a device path.
int ComPortOf(const std::string& device) {
  if (device.size() != 4 || (device.compare(0, 3, "COM") != 0 && device.compare(0, 3, "com") != 0)) return -1;
  const char digit = device[3];
  return digit >= '1' && digit <= '8' ? digit - '1' : -1;
}

}  // namespace

int RunConnect(const TToolCommand& tool, int argc, char** argv) {
  TOptions options;
  if (const int status = ParseOptions(tool, argc, argv, options); status != 0) return status;
  std::string target = options.HostGiven ? options.Host : options.Device;

  // Qt takes the program's own name, which also names the D-Bus service.
  int qtArgc = 1;
  char* qtArgv[] = {program_invocation_name, nullptr};
  QCoreApplication application(qtArgc, qtArgv);

  // The session's program directory, removed at the end.
  const TTemporaryDirectory directory("qelconnect");
  if (directory.Path().empty()) return tool.Failure("temporary directory", std::strerror(errno));
  TCoreDesktop desktop;
  // Boxes are shown as notes at the end, where the box that gives a failure
  // its reason is left to the failure's own line.
  std::vector<std::string> notes;
  std::string lastBox;
  desktop.OnMessage = [&](const TMessageBox& box) {
    lastBox = OneLine(box.Text);
    notes.push_back(lastBox);
    return THeadlessDesktop::DefaultAnswer(box.Buttons);
  };
  auto showNotes = [&](const std::string& failure) {
    for (const std::string& note : notes) {
      if (note != failure) tool.Note(note);
    }
  };
  auto fail = [&](const std::string& subject, const std::string& reason) {
    showNotes(reason);
    return tool.Failure(subject, reason);
  };
  TSession session(desktop, directory.Path().string());
  std::string reason;
  if (!options.Settings.empty() && !LoadSettings(session, options.Settings, reason)) {
    return fail(options.Settings, reason);
  }
  if (options.Emulation) session.Settings.Emulation = *options.Emulation;
  if (!PermitHostTransfers(session, options.ReceiveDirectory, options.ReceiveLimit, reason)) return fail(options.ReceiveDirectory, reason);
  TCommandState commands;
  TFileReceive receive(session, commands);
  // Failures name the port too; without one the settings' Port gives it (Telnet, 23).
  if (options.HostGiven && target.find(':') == std::string::npos) target += ":" + PortName(session.Settings.Port);

  TBatchDecoder decoder(session);
  std::vector<std::string> decoded;
  if (options.Decode) {
    decoder.Output = [&decoded](std::string_view line) { decoded.emplace_back(line); };
    TBatchDecodeOptions decode;
    decode.ModeBase = options.ModeBase;
    decode.OrnetGiven = options.OrnetGiven;
    decode.OrnetDirectory = options.Ornet;
    if (!decoder.Start(decode, &reason)) return fail(options.ModeBase, reason);
  } else {
    session.StartUp();
  }
  const std::string logName = directory.File("connect.log");
  if (!options.Decode && options.Output == TOutput::Log && !StartLog(session, logName)) {
    return fail(logName, "the log file could not be created");
  }

  TComm comm;
  TSockets sockets(desktop);
  TReceiveHandover handover(session);
  TSessionEvents events(session);
  WireLines(session, comm, sockets, handover, events);
  desktop.Handler = [&handover](const TPostedMessage& message) { handover.HandleMessage(message); };

  TDdeServer dde;
  TDBusDdeServer dbus(dde);
  const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (bus && *bus) {
    std::string why;
    if (!dbus.Start(program_invocation_short_name, &why)) notes.push_back("D-Bus: " + why);
  }

  // How the run ends.
  bool lineUp = false;
  bool ending = false;
  std::string failure;  // set when the line failed or never came up
  std::size_t nextSend = 0;
  QTimer drain;
  auto drained = [&] {
    return !desktop.IsMessageQueued(wmSerialReceive) && !desktop.IsMessageQueued(wmSocketReceive) &&
           !desktop.IsMessageQueued(wmSerialLineEvents) && handover.SerialRxDepth == 0;
  };
  auto end = [&] {
    if (ending) return;
    ending = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDrainMs);
    QObject::connect(&drain, &QTimer::timeout, [&, deadline] {
      if (drained() || std::chrono::steady_clock::now() >= deadline) QCoreApplication::exit(0);
    });
    drain.start(kDrainCheckMs);
  };
  events.OnChanged = [&] {
    if (session.Transmit->NetworkSessionUp()) lineUp = true;
  };
  events.OnSessionEnded = [&](const std::string& text) {
    if (!text.empty() && text != "Session Closed!") failure = text;
    session.Transfer->LineEnded();
    end();
  };
  const auto serialFailure = handover.OnSerialFailure;
  handover.OnSerialFailure = [&, serialFailure](int code) {
    failure = code > 0 ? "the line failed: " + SystemReason(static_cast<std::uint32_t>(code)) : "the line failed";
    serialFailure(code);
  };

  TSetupRecord& settings = session.Settings;
  if (!options.Device.empty()) {
    const int comPort = ComPortOf(options.Device);
    if (comPort < 0) comm.SetPortDevices({options.Device});
    settings.ComPort = static_cast<std::uint8_t>(comPort < 0 ? 0 : comPort);
    if (options.BaudIndex >= 0) settings.BaudRate = static_cast<std::uint8_t>(options.BaudIndex);
    const std::uint8_t result = session.Transmit->ConnectionControl(ckSerial, ctOpen);
    if (result != crSerial && result != crBoth) return fail(target, lastBox.empty() ? "cannot be opened" : lastBox);
    lineUp = true;
  } else {
    settings.HostName.assign(options.Host);
    if (options.Listen) {
      session.Transmit->StartListen();
      if (sockets.ListenSocket() < 0) return fail(target, lastBox.empty() ? "cannot listen" : lastBox);
    } else {
      session.Transmit->ConnectionControl(ckNetwork, ctOpen);
      if (sockets.ClientSocket() < 0) return fail(target, lastBox.empty() ? "cannot connect" : lastBox);
    }
  }

  std::signal(SIGINT, RequestStop);
  std::signal(SIGTERM, RequestStop);
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    handover.TimerTick();
    if (StopRequested) end();
    if (!lineUp || ending || nextSend >= options.Sends.size()) return;
    if (session.Transfer->Activities & acSoftKey) return;
    session.Keyboard->StartText(options.Sends[nextSend++]);
  });
  tick.start(kTickMs);
  QTimer timeUp;
  timeUp.setSingleShot(true);
  QObject::connect(&timeUp, &QTimer::timeout, end);
  if (options.Seconds > 0) timeUp.start(static_cast<int>(options.Seconds * 1000));

  if (!ending) application.exec();
  tick.stop();
  session.Transmit->ConnectionControl(ckBoth, ctClose);
  session.Transfer->LineEnded();  // a receive still running keeps what came
  dbus.Stop();
  if (!lineUp) {
    if (!failure.empty()) return fail(target, failure);
    return fail(target, options.Listen ? "no call came in" : "the connection was not made");
  }

  if (options.Decode && options.Output == TOutput::Log) {
    decoder.Finish();
    for (const std::string& line : decoded) PrintLine(line, true);
  } else {
    PrintOutput(session, options.Output, logName);
  }
  if (!StandardOutputWritten(reason)) return fail("standard output", reason);
  if (!failure.empty()) return fail(target, failure);
  showNotes("");
  return 0;
}
