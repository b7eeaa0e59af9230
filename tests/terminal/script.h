// Terminal behaviour scripts (tests/terminal/*.test).
//
// A script is a list of cases. Lines before the first CASE are a prologue
// that every case of the file runs first. Each case runs in a fresh session
// (started as the main window leaves it), with answers recorded from a serial
// line that counts as open.
//
//   # comment
//   EMULATION vt100             quorix | vt100 | vt220 | tn3270 | vt52
//   SET Wrap=0                  a named field (see FieldNames in script.cpp)
//   SETTEXT AnswerBack="..."    a text field of the settings; $DIR is the temp dir
//   TELNET                      a connected Telnet session instead of the serial line
//   RESET                       ResetTerminal
//   TICK N                      N timer ticks of the session (100 ms each)
//   EBCDIC IN|OUT index value   one entry of the EBCDIC map
//   WRITEFILE name "bytes"      a file in the temp dir
//   ESCLOG                      starts the escape-sequence log (qelwin.esl)
//   CASE name of the case
//   PUSH "bytes"                received bytes; \e \r \n \t \a \b \f \0 \\ \" \xHH
//   ?cursor = row,col
//   ?row N = "text"             screen row N, trailing blanks removed
//   ?line N = "text"            store line N (from 0), trailing blanks removed
//   ?lines = N                  store line count
//   ?answers = "bytes"          what was sent since the last ?answers
//   ?attr row,col = look        cell attribute: default, bold, underline,
//   ?current = look               italic, fg=COLOUR, bg=COLOUR, size=N
//   ?linesize row = N
//   ?state Field = N            a named field (as SET)
//   ?beeps = N
//   ?file NAME = "bytes"        content of a file in the temp dir
//
// Every case runs twice: byte by byte through ReceiveByte, and in blocks
// through ReceiveBlock; both runs must meet every expectation.
#pragma once

#include <string>
#include <vector>

struct TScriptCommand {
  int Line = 0;
  std::string Verb;  // "PUSH", "?row", ...
  std::string Args;  // the rest of the line, trimmed
};

struct TScriptCase {
  std::string File;  // base name
  std::string Name;
  int Line = 0;
  std::vector<TScriptCommand> Commands;  // prologue included
};

// Reads every case of one script; a malformed line becomes a case that fails.
std::vector<TScriptCase> ReadScript(const std::string& path);

enum class TFeedMode { ByteWise, Blocks };

// Runs a case; returns the failures, one line each, empty when it passed.
std::vector<std::string> RunScriptCase(const TScriptCase& c, TFeedMode mode);

// "\e[1m" style escapes to bytes; false on a malformed text.
bool DecodeQuoted(const std::string& text, std::string& bytes);
// Bytes to the same escape notation, for messages.
std::string EncodeQuoted(const std::string& bytes);

#include <ostream>
inline void PrintTo(const TScriptCase& c, std::ostream* os) { *os << c.File << ":" << c.Line << " " << c.Name; }
