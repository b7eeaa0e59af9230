// Helpers of the decoder tests: a session with trace conversion on over a mode
// source compiled in memory, whose written lines are captured; modes written
// to a session's directory; tshark, when installed.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/session.h"
#include "screen/store.h"
#include "screen/writer.h"
#include "support/testing.h"
#include "trace/compiler.h"
#include "trace/decoder.h"
#include "trace/modefile_testing.h"
#include "trace/tracefiles.h"

inline std::shared_ptr<TMemoryModeFiles> CompileToMemory(const std::string& source) {
  return std::make_shared<TMemoryModeFiles>(CompiledModes(source).Files);
}

// The modes of `source` written into the session's directory as modes.*,
// the KASP files beside them, and the settings naming both; the directory
// with its trailing slash.
inline std::string UseModesOnDisk(TTestSession& t, const std::string& source) {
  const std::string dir = t.Dir.path().string() + "/";
  WriteModeFiles(source, dir + "modes", dir);
  t.S->Settings.ModeFileName = dir + "modes";
  t.S->Settings.OrnetDirectoryName = dir;
  return dir;
}

// A session decoding with the given modes; every written line goes to Out.
struct TDecoding {
  TTestSession T;
  TSession& S;
  std::ostringstream Out;

  explicit TDecoding(const std::string& source, bool capture = true)
      : TDecoding(CompiledModes(source).Files, capture) {}
  // Over a set of mode files as they are, damaged ones too.
  explicit TDecoding(std::map<std::string, std::string> files, bool capture = true) : S(*T.S) {
    S.StartUp();
    S.Settings.OrnetDirectoryName.assign("");
    S.Trace->TraceState = TTraceDecoder::tsConverting;
    EXPECT_TRUE(S.TraceFiles->OpenTraceFiles(std::make_shared<TMemoryModeFiles>(std::move(files))));
    if (capture) S.Writer->Redirect = &Out;
  }

  void Feed(const std::string& text) {
    for (const char c : text) S.Trace->TraceReceiveChar(static_cast<std::uint8_t>(c));
  }

  // The captured lines, without their CR LF.
  std::vector<std::string> Lines() const { return SplitLines(Out.str()); }
};

// The trace switches in one text: the trace state ("off", "host names",
// "converting"), then " files" when the trace files are open and " names"
// when the host name files (all three) are.
inline std::string TraceSwitches(const TSession& s) {
  const TTraceDecoder::TTraceState state = s.Trace->TraceState;
  std::string text = state == TTraceDecoder::tsOff          ? "off"
                     : state == TTraceDecoder::tsConverting ? "converting"
                                                            : "host names";
  if (s.TraceFiles->TraceFilesOpen()) text += " files";
  if (s.Kasp->Names.MsgOpen() && s.Kasp->Names.VmiOpen() && s.Kasp->Names.BidOpen()) text += " names";
  return text;
}

// What a shell command printed on its standard output.
inline std::string CommandOutput(const std::string& command) {
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return "";
  std::string out;
  char chunk[65536];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) out.append(chunk, got);
  pclose(pipe);
  return out;
}

// tshark found on the PATH; empty when it is not installed.
inline std::string TsharkPath() {
  std::string path = CommandOutput("command -v tshark 2>/dev/null");
  while (!path.empty() && path.back() == '\n') path.pop_back();
  return path;
}
