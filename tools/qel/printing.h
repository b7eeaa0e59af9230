// How the qel subcommands print a session: screen rows, store lines and log
// text as the view shows them (trailing blanks dropped, bytes 128..255 as
// UTF-8 through code page 437).
#pragma once

#include <string>
#include <string_view>

class TSession;

// One line; with keepTabs the log's tabs stay layout, not screen characters.
void PrintLine(std::string_view text, bool keepTabs = false);
// A log text, line by line (CR LF or LF ends a line).
void PrintLogText(const std::string& log);
// The 24 screen rows, each with its whole stored text.
void PrintScreen(TSession& session);
// Every line of the scroll-back store.
void PrintScrollback(TSession& session);
