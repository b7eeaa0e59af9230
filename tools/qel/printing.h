// How the qel subcommands print a session: screen rows, store lines and log
// text as the view shows them (trailing blanks dropped, bytes 128..255 as
// UTF-8 through code page 437).
#pragma once

#include <optional>
#include <string>
#include <string_view>

class TSession;

// Which view of the session a subcommand prints.
enum class TOutput { Screen, Scrollback, Log };

// The view an argument names ("--screen", "--scrollback", "--log"), if any.
std::optional<TOutput> OutputOption(const std::string& argument);

// Starts the session's log in logFile, for TOutput::Log; false when the file
// could not be created.
bool StartLog(TSession& session, const std::string& logFile);

// Prints the view; the log is closed first and printed from logFile. The
// caller checks with StandardOutputWritten.
void PrintOutput(TSession& session, TOutput output, const std::string& logFile);

// Flushes standard output; false with the reason when anything printed was
// not written (a full disk behind a redirection).
bool StandardOutputWritten(std::string& reason);

// One line; with keepTabs the log's tabs stay layout, not screen characters.
void PrintLine(std::string_view text, bool keepTabs = false);
// A log text, line by line (CR LF or LF ends a line).
void PrintLogText(const std::string& log);
// The 24 screen rows, each with its whole stored text.
void PrintScreen(TSession& session);
// Every line of the scroll-back store.
void PrintScrollback(TSession& session);
