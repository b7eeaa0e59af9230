// qel decode: a recorded trace decoded as trace conversion would show it,
// printed as the log text.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/batchdecode.h"
#include "app/session.h"
#include "core/desktop.h"
#include "core/tempdir.h"
#include "printing.h"
#include "progress.h"
#include "tools_common.h"
#include "trace/decoder.h"

namespace {

struct TDecodeOptions {
  TBatchDecodeOptions Decode;
  std::string Settings;
  std::string Input;
  std::string Pcap;  // every DSS1 message also goes to this capture file
  bool Quiet = false;
};

int ParseDecodeOptions(const TToolCommand& tool, int argc, char** argv, TDecodeOptions& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    std::string value;
    bool missing = false;
    if (TakeValue(argc, argv, i, "--mode", value, missing)) {
      if (missing) return tool.UsageError("--mode needs the base name of the mode files");
      options.Decode.ModeBase = ModeBaseOf(value);
    } else if (TakeValue(argc, argv, i, "--ornet", value, missing)) {
      if (missing) return tool.UsageError("--ornet needs a directory");
      options.Decode.OrnetDirectory = value;
      options.Decode.OrnetGiven = true;
    } else if (TakeValue(argc, argv, i, "--settings", value, missing)) {
      if (missing) return tool.UsageError("--settings needs a file name");
      options.Settings = value;
    } else if (TakeValue(argc, argv, i, "--type", value, missing)) {
      if (missing) return tool.UsageError("--type needs M1, M2 or M3");
      if (value == "M1" || value == "m1") options.Decode.QuorixType = 0;
      else if (value == "M2" || value == "m2") options.Decode.QuorixType = 1;
      else if (value == "M3" || value == "m3") options.Decode.QuorixType = 2;
      else return tool.UsageError("--type is M1, M2 or M3");
    } else if (TakeValue(argc, argv, i, "--pcap", value, missing)) {
      if (missing) return tool.UsageError("--pcap needs the name of the capture file");
      options.Pcap = value;
    } else if (arg == "--quiet") {
      options.Quiet = true;
    } else if (arg == "--mini") {
      options.Decode.Mini = true;
    } else if (arg == "--convert-error") {
      options.Decode.ConvertError = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return tool.UsageError("unknown option '" + arg + "'");
    } else if (!options.Input.empty()) {
      return tool.UsageError("more than one input file given");
    } else {
      options.Input = arg;
    }
  }
  if (options.Decode.ModeBase.empty()) return tool.UsageError("--mode is required");
  if (options.Input.empty()) return tool.UsageError("no input file given (use - for standard input)");
  return 0;
}

}  // namespace

int RunDecode(const TToolCommand& tool, int argc, char** argv) {
  TDecodeOptions options;
  if (const int status = ParseDecodeOptions(tool, argc, argv, options); status != 0) return status;

  // A trace may be larger than memory: it is decoded as it is read.
  TInputFile input;
  std::string reason;
  if (!input.Open(options.Input, reason)) return tool.Failure(InputName(options.Input), reason);

  // The session's program directory, removed at the end.
  const TTemporaryDirectory directory("qeldecode");
  if (directory.Path().empty()) return tool.Failure("temporary directory", std::strerror(errno));
  THeadlessDesktop desktop;
  TSession session(desktop, directory.Path().string());
  if (!options.Settings.empty() && !LoadSettings(session, options.Settings, reason)) {
    return tool.Failure(options.Settings, reason);
  }
  // Without a settings file the host name files are used only when named.
  if (options.Settings.empty() && !options.Decode.OrnetGiven) session.Settings.OrnetDirectoryName.assign("");

  TBatchDecoder decoder(session);
  decoder.Output = [](std::string_view line) { PrintLine(line, true); };
  if (!decoder.Start(options.Decode, &reason)) return tool.Failure(options.Decode.ModeBase, reason);
  if (!options.Pcap.empty()) {
    if (const int error = session.Trace->StartPcapExport(options.Pcap); error != 0)
      return tool.Failure(options.Pcap, std::strerror(error));
  }

  CatchInterrupt();
  TProgress progress("decoding " + InputName(options.Input), input.Size(), options.Quiet);
  std::int64_t done = 0;
  std::string chunk(1 << 16, '\0');
  for (;;) {
    const long got = input.Read(chunk.data(), chunk.size(), reason);
    if (got < 0) return tool.Failure(InputName(options.Input), reason);
    if (got > 0) decoder.Feed(reinterpret_cast<const std::uint8_t*>(chunk.data()), static_cast<std::size_t>(got));
    done += got;
    progress.Update(done);
    if (static_cast<std::size_t>(got) < chunk.size() || Interrupted()) break;
  }
  progress.Finish();
  // Stopped early, what was decoded is still printed.
  decoder.Finish();
  if (!StandardOutputWritten(reason)) return tool.Failure("standard output", reason);
  if (!options.Pcap.empty()) {
    // A capture that lost frames is no capture of the trace.
    if (session.Trace->PcapError != 0) return tool.Failure(options.Pcap, std::strerror(session.Trace->PcapError));
    session.Trace->StopPcapExport();
  }

  for (const auto& box : desktop.Boxes) tool.Note(box.Box.Text);
  if (Interrupted()) {
    tool.Note("stopped by Ctrl-C after " + std::to_string(done) + " bytes");
    return kInterruptedStatus;
  }
  return 0;
}
