// qel connect: a headless session on a real line. Opens the serial port, the
// network connection (Telnet handling included) or an SSH session as the
// main window would, types the given texts through the keyboard path, runs
// until the peer closes or the time is up, and prints the screen, the
// scroll-back or the log.
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
#include "comms/addressfilter.h"
#include "comms/comm.h"
#include "comms/dbus.h"
#include "comms/dde.h"
#include "comms/sockets.h"
#include "comms/sshline.h"
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

constexpr int kConnectTickMs = 100;
// After the line went down, bytes already handed over are still shown; this
// long at most.
constexpr int kDrainMs = 2000;
constexpr int kDrainCheckMs = 5;

std::atomic<bool> ConnectStopRequested{false};

void RequestConnectStop(int) { ConnectStopRequested = true; }

enum class TLineKind { Serial, Network, Secure };

struct TConnectOptions {
  TLineKind Kind = TLineKind::Serial;
  int LineChoices = 0;
  std::string Device;
  int BaudIndex = -1;
  std::string Host;  // --host or --ssh
  bool Listen = false;
  TAddressFilter Allow;
  bool AllowGiven = false;
  std::string Identity;
  std::string KnownHosts;
  bool AcceptNewHostKey = false;
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

// One argument (and its value); 0, -1 when it is no option of connect's, or
// the usage error's status.
int ParseLineOption(const TToolCommand& tool, int argc, char** argv, int& i, TConnectOptions& o) {
  std::string value;
  bool missing = false;
  if (TakeValue(argc, argv, i, "--serial", value, missing)) {
    if (missing) return tool.UsageError("--serial needs a device");
    o.Device = value;
    o.Kind = TLineKind::Serial;
    ++o.LineChoices;
  } else if (TakeValue(argc, argv, i, "--baud", value, missing)) {
    o.BaudIndex = BaudIndexOf(value);
    if (missing || o.BaudIndex < 0) {
      return tool.UsageError("--baud takes one of 110 300 600 1200 2400 4800 9600 14400 19200 38400 56000 "
                             "57600 115200 128000 256000");
    }
  } else if (TakeValue(argc, argv, i, "--host", value, missing)) {
    if (missing) return tool.UsageError("--host needs HOST or HOST:PORT");
    o.Host = value;
    o.Kind = TLineKind::Network;
    ++o.LineChoices;
  } else if (TakeValue(argc, argv, i, "--ssh", value, missing)) {
    if (missing) return tool.UsageError("--ssh needs [USER@]HOST[:PORT]");
    o.Host = value;
    o.Kind = TLineKind::Secure;
    ++o.LineChoices;
  } else if (std::string(argv[i]) == "--listen") {
    o.Listen = true;
  } else if (TakeValue(argc, argv, i, "--allow", value, missing)) {
    std::string error;
    if (missing) return tool.UsageError("--allow needs an address or a network (ADDR[/BITS])");
    if (!o.Allow.Add(value, error)) return tool.UsageError("--allow: " + error);
    o.AllowGiven = true;
  } else if (TakeValue(argc, argv, i, "--identity", value, missing)) {
    if (missing) return tool.UsageError("--identity needs a key file");
    o.Identity = value;
  } else if (TakeValue(argc, argv, i, "--known-hosts", value, missing)) {
    if (missing) return tool.UsageError("--known-hosts needs a file");
    o.KnownHosts = value;
  } else if (std::string(argv[i]) == "--accept-new-host-key") {
    o.AcceptNewHostKey = true;
  } else {
    return -1;
  }
  return 0;
}

int ParseSessionOption(const TToolCommand& tool, int argc, char** argv, int& i, TConnectOptions& o) {
  const std::string arg = argv[i];
  std::string value;
  bool missing = false;
  if (TakeValue(argc, argv, i, "--emulation", value, missing)) {
    if (missing) return tool.UsageError("--emulation needs a terminal type");
    o.Emulation = EmulationOf(value);
    if (!o.Emulation) return tool.UsageError(UnknownEmulation(value));
  } else if (TakeValue(argc, argv, i, "--settings", value, missing)) {
    if (missing) return tool.UsageError("--settings needs a file name");
    o.Settings = value;
  } else if (TakeValue(argc, argv, i, "--send", value, missing)) {
    // "--send=" is an empty text; a bare "--send" at the end lacks one.
    if (missing && std::strchr(argv[i], '=') == nullptr) return tool.UsageError("--send needs a text");
    o.Sends.push_back(value);
  } else if (TakeValue(argc, argv, i, "--for", value, missing)) {
    char* end = nullptr;
    const double seconds = missing ? -1 : std::strtod(value.c_str(), &end);
    if (missing || *end != '\0' || !(seconds > 0) || seconds > 1e6) {
      return tool.UsageError("--for needs a number of seconds above 0");
    }
    o.Seconds = seconds;
  } else if (const auto output = OutputOption(arg)) {
    o.Output = *output;
    ++o.OutputChoices;
  } else if (arg == "--decode") {
    o.Decode = true;
  } else if (TakeValue(argc, argv, i, "--mode", value, missing)) {
    if (missing) return tool.UsageError("--mode needs the base name of the mode files");
    o.ModeBase = ModeBaseOf(value);
  } else if (TakeValue(argc, argv, i, "--ornet", value, missing)) {
    if (missing) return tool.UsageError("--ornet needs a directory");
    o.Ornet = value;
    o.OrnetGiven = true;
  } else if (TakeValue(argc, argv, i, "--receive-dir", value, missing)) {
    if (missing) return tool.UsageError("--receive-dir needs a directory");
    o.ReceiveDirectory = value;
  } else if (TakeValue(argc, argv, i, "--receive-limit", value, missing)) {
    const std::optional<std::uint64_t> limit = ReceiveLimitOf(value);
    if (missing || !limit) return tool.UsageError("--receive-limit needs a number of megabytes from 1 to 1048576");
    o.ReceiveLimit = *limit;
  } else {
    return tool.UsageError("unknown argument '" + arg + "'");
  }
  return 0;
}

int CheckConnectOptions(const TToolCommand& tool, TConnectOptions& o) {
  if (o.LineChoices != 1) return tool.UsageError("give one of --serial, --host and --ssh");
  const bool secure = o.Kind == TLineKind::Secure;
  if (o.BaudIndex >= 0 && o.Kind != TLineKind::Serial) return tool.UsageError("--baud goes with --serial");
  if (o.Listen && o.Kind != TLineKind::Network) return tool.UsageError("--listen goes with --host");
  if (o.AllowGiven && !o.Listen) return tool.UsageError("--allow goes with --listen");
  if (!secure && (!o.Identity.empty() || !o.KnownHosts.empty() || o.AcceptNewHostKey)) {
    return tool.UsageError("--identity, --known-hosts and --accept-new-host-key go with --ssh");
  }
  if (o.Kind != TLineKind::Serial && o.Host.size() > TShortString<80>::Capacity) {
    return tool.UsageError("the host is longer than 80 characters");
  }
  if (o.OutputChoices > 1) return tool.UsageError("choose one of --screen, --scrollback and --log");
  if (o.Decode != !o.ModeBase.empty()) return tool.UsageError("--decode and --mode go together");
  if (o.OrnetGiven && !o.Decode) return tool.UsageError("--ornet goes with --decode");
  if (o.Decode && o.Emulation && *o.Emulation != emQuorix) {
    return tool.UsageError("--decode decodes a QUORIX terminal's trace");
  }
  // Decoded output is the log unless another view is asked for.
  if (o.Decode && o.OutputChoices == 0) o.Output = TOutput::Log;
  return 0;
}

int ParseConnectOptions(const TToolCommand& tool, int argc, char** argv, TConnectOptions& options) {
  for (int i = 1; i < argc; ++i) {
    const int line = ParseLineOption(tool, argc, argv, i, options);
    if (line > 0) return line;
    if (line < 0) {
      if (const int status = ParseSessionOption(tool, argc, argv, i, options); status != 0) return status;
    }
  }
  return CheckConnectOptions(tool, options);
}

// "COM1".."COM8" pick a port of the device list; anything else is a device path.
int ComPortOf(const std::string& device) {
  if (device.size() != 4 || (device.compare(0, 3, "COM") != 0 && device.compare(0, 3, "com") != 0)) return -1;
  const char digit = device[3];
  return digit >= '1' && digit <= '8' ? digit - '1' : -1;
}

// One run of the command: the session, its lines, the loop and the report.
class TConnectRun {
 public:
  TConnectRun(const TToolCommand& tool, const TConnectOptions& options)
      : Tool(tool),
        O(options),
        Directory("qelconnect"),
        Session(Desktop, Directory.Path().string()),
        Receive(Session, Commands),
        Sockets(Desktop),
        Handover(Session),
        Events(Session),
        Decoder(Session),
        DBus(Dde) {}

  int Run() {
    if (Directory.Path().empty()) return Tool.Failure("temporary directory", std::strerror(errno));
    WatchBoxes();
    if (const int status = PrepareSession(); status != 0) return status;
    WireSession();
    if (const int status = OpenLine(); status != 0) return status;
    Loop();
    return Report();
  }

 private:
  // Boxes are shown as notes at the end, where the box that gives a failure
  // its reason is left to the failure's own line.
  void WatchBoxes() {
    Desktop.OnMessage = [this](const TMessageBox& box) {
      LastBox = OneLine(box.Text);
      Notes.push_back(LastBox);
      return THeadlessDesktop::DefaultAnswer(box.Buttons);
    };
  }

  int Fail(const std::string& subject, const std::string& reason) {
    for (const std::string& note : Notes) {
      if (note != reason && note != Failure) Tool.Note(note);
    }
    return Tool.Failure(subject, reason);
  }

  int PrepareSession() {
    std::string reason;
    if (!O.Settings.empty() && !LoadSettings(Session, O.Settings, reason)) return Fail(O.Settings, reason);
    TSetupRecord& settings = Session.Settings;
    if (O.Emulation) settings.Emulation = *O.Emulation;
    if (!PermitHostTransfers(Session, O.ReceiveDirectory, O.ReceiveLimit, reason)) {
      return Fail(O.ReceiveDirectory, reason);
    }
    TConnectionSettings& connection = Session.Connection;
    if (!O.Identity.empty()) connection.SshKeyFile = O.Identity;
    if (!O.KnownHosts.empty()) connection.KnownHostsFile = O.KnownHosts;
    if (O.AllowGiven) connection.ListenAllow = O.Allow.Text();
    Target = O.Kind == TLineKind::Serial ? O.Device : O.Host;
    // Failures name the port too; without one the settings give it (Telnet 23, SSH 22).
    if (O.Kind != TLineKind::Serial) {
      const std::string hostPart = Target.substr(Target.rfind('@') == std::string::npos ? 0 : Target.rfind('@') + 1);
      if (SplitHostPort(hostPart).Port.empty()) {
        Target = JoinHostPort(Target, O.Kind == TLineKind::Secure ? std::to_string(connection.SshPort)
                                                                   : PortName(settings.Port));
      }
    }
    if (O.Decode) {
      Decoder.Output = [this](std::string_view line) { Decoded.emplace_back(line); };
      TBatchDecodeOptions decode;
      decode.ModeBase = O.ModeBase;
      decode.OrnetGiven = O.OrnetGiven;
      decode.OrnetDirectory = O.Ornet;
      if (!Decoder.Start(decode, &reason)) return Fail(O.ModeBase, reason);
    } else {
      Session.StartUp();
    }
    LogName = Directory.File("connect.log");
    if (!O.Decode && O.Output == TOutput::Log && !StartLog(Session, LogName)) {
      return Fail(LogName, "the log file could not be created");
    }
    return 0;
  }

  void WireSession() {
    WireLines(Session, Comm, Sockets, Handover, Events);
    WireSecureLine(Session, Ssh, Handover, Events);
    Desktop.Handler = [this](const TPostedMessage& message) { Handover.HandleMessage(message); };
    // An unknown host key is taken only when the command line says so.
    Ssh.AcceptNewHostKey = [this](const TNewHostKey&) { return O.AcceptNewHostKey; };
    Ssh.AskSecret = [this](const TSecretPrompt& prompt) {
      return Desktop.AskSecret(prompt.Title, prompt.Prompt, prompt.Echo);
    };
    Ssh.OnNote = [this](const std::string& text) { Notes.push_back(text); };
    Sockets.OnCallerRefused = [this](const std::string& text) { Refusals.push_back(text); };

    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (bus && *bus) {
      std::string why;
      if (!DBus.Start(program_invocation_short_name, &why)) Notes.push_back("D-Bus: " + why);
    }
    Events.OnChanged = [this] {
      if (Session.Transmit->NetworkSessionUp()) LineUp = true;
    };
    Events.OnSessionEnded = [this](const std::string& text) {
      if (!text.empty() && text != "Session Closed!") Failure = text;
      Session.Transfer->LineEnded();
      End();
    };
    const auto serialFailure = Handover.OnSerialFailure;
    Handover.OnSerialFailure = [this, serialFailure](int code) {
      Failure = code > 0 ? "the line failed: " + SystemReason(static_cast<std::uint32_t>(code)) : "the line failed";
      serialFailure(code);
    };
  }

  int OpenLine() {
    TSetupRecord& settings = Session.Settings;
    TTransmitPath& transmit = *Session.Transmit;
    switch (O.Kind) {
      case TLineKind::Serial: {
        const int comPort = ComPortOf(O.Device);
        if (comPort < 0) Comm.SetPortDevices({O.Device});
        settings.ComPort = static_cast<std::uint8_t>(comPort < 0 ? 0 : comPort);
        if (O.BaudIndex >= 0) settings.BaudRate = static_cast<std::uint8_t>(O.BaudIndex);
        const std::uint8_t result = transmit.ConnectionControl(ckSerial, ctOpen);
        if (result != crSerial && result != crBoth) return Fail(Target, LastBox.empty() ? "cannot be opened" : LastBox);
        LineUp = true;
        return 0;
      }
      case TLineKind::Network:
        settings.HostName.assign(O.Host);
        if (O.Listen) {
          transmit.StartListen();
          if (Sockets.ListenSocket() < 0) return Fail(Target, LastBox.empty() ? "cannot listen" : LastBox);
          return 0;
        }
        transmit.ConnectionControl(ckNetwork, ctOpen);
        if (Sockets.ClientSocket() < 0) return Fail(Target, LastBox.empty() ? "cannot connect" : LastBox);
        return 0;
      case TLineKind::Secure:
        settings.HostName.assign(O.Host);
        transmit.ConnectionControl(ckSecure, ctOpen);
        return 0;
    }
    return 0;
  }

  bool Drained() const {
    return !Desktop.IsMessageQueued(wmSerialReceive) && !Desktop.IsMessageQueued(wmSocketReceive) &&
           !Desktop.IsMessageQueued(wmSerialLineEvents) && Handover.SerialRxDepth == 0;
  }

  void End() {
    if (Ending) return;
    Ending = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDrainMs);
    QObject::connect(&Drain, &QTimer::timeout, [this, deadline] {
      if (Drained() || std::chrono::steady_clock::now() >= deadline) QCoreApplication::exit(0);
    });
    Drain.start(kDrainCheckMs);
  }

  void Tick() {
    Handover.TimerTick();
    if (ConnectStopRequested) End();
    if (!LineUp || Ending || NextSend >= O.Sends.size()) return;
    if (Session.Transfer->Activities & acSoftKey) return;
    Session.Keyboard->StartText(O.Sends[NextSend++]);
  }

  void Loop() {
    std::signal(SIGINT, RequestConnectStop);
    std::signal(SIGTERM, RequestConnectStop);
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [this] { Tick(); });
    tick.start(kConnectTickMs);
    QTimer timeUp;
    timeUp.setSingleShot(true);
    QObject::connect(&timeUp, &QTimer::timeout, [this] { End(); });
    if (O.Seconds > 0) timeUp.start(static_cast<int>(O.Seconds * 1000));
    if (!Ending) QCoreApplication::exec();
    tick.stop();
    Session.Transmit->ConnectionControl(ckBoth, ctClose);
    Session.Transfer->LineEnded();  // a receive still running keeps what came
    DBus.Stop();
  }

  std::string NoLineReason() const {
    if (!O.Listen) return "the connection was not made";
    std::string reason = "no call came in";
    for (std::size_t i = 0; i < Refusals.size(); ++i) reason += (i == 0 ? "; refused: " : ", ") + Refusals[i];
    return reason;
  }

  int Report() {
    if (!LineUp) {
      if (!Failure.empty()) return Fail(Target, WithSecureHint(Failure));
      return Fail(Target, NoLineReason());
    }
    for (const std::string& refusal : Refusals) Notes.push_back("refused: " + refusal);
    if (O.Decode && O.Output == TOutput::Log) {
      Decoder.Finish();
      for (const std::string& line : Decoded) PrintLine(line, true);
    } else {
      PrintOutput(Session, O.Output, LogName);
    }
    std::string reason;
    if (!StandardOutputWritten(reason)) return Fail("standard output", reason);
    if (!Failure.empty()) return Fail(Target, Failure);
    for (const std::string& note : Notes) Tool.Note(note);
    return 0;
  }

  // What the command line offers where the window would have asked.
  std::string WithSecureHint(const std::string& text) const {
    if (O.Kind == TLineKind::Secure && text.find("not known and was not accepted") != std::string::npos) {
      return text + " (on the command line: --accept-new-host-key)";
    }
    return text;
  }

  const TToolCommand& Tool;
  const TConnectOptions& O;
  TTemporaryDirectory Directory;  // the session's program directory, removed at the end
  TCoreDesktop Desktop;
  TSession Session;
  TCommandState Commands;
  TFileReceive Receive;
  TComm Comm;
  TSockets Sockets;
  TSshLine Ssh;
  TReceiveHandover Handover;
  TSessionEvents Events;
  TBatchDecoder Decoder;
  TDdeServer Dde;
  TDBusDdeServer DBus;
  QTimer Drain;

  std::string Target;
  std::string LogName;
  std::vector<std::string> Decoded;
  std::vector<std::string> Notes;
  std::vector<std::string> Refusals;
  std::string LastBox;
  bool LineUp = false;
  bool Ending = false;
  std::string Failure;  // set when the line failed or never came up
  std::size_t NextSend = 0;
};

}  // namespace

int RunConnect(const TToolCommand& tool, int argc, char** argv) {
  TConnectOptions options;
  if (const int status = ParseConnectOptions(tool, argc, argv, options); status != 0) return status;
  // Qt takes the program's own name, which also names the D-Bus service.
  int qtArgc = 1;
  char* qtArgv[] = {program_invocation_name, nullptr};
  QCoreApplication application(qtArgc, qtArgv);
  TConnectRun run(tool, options);
  return run.Run();
}
