#include "printing.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "app/session.h"
#include "core/cp437.h"
#include "log/logfiles.h"
#include "screen/store.h"

void PrintLine(std::string_view text, bool keepTabs) {
  std::size_t end = text.size();
  while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\0')) --end;
  std::string line;
  line.reserve(end + 1);
  for (const char c : text.substr(0, end)) {
    if (keepTabs && c == '\t') {
      line.push_back(c);
    } else {
      AppendCp437AsUtf8(line, static_cast<std::uint8_t>(c));
    }
  }
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stdout);
}

bool StandardOutputWritten(std::string& reason) {
  errno = 0;
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return true;
  reason = errno != 0 ? std::strerror(errno) : "not all of it could be written";
  return false;
}

void PrintLogText(const std::string& log) {
  std::size_t start = 0;
  while (start < log.size()) {
    std::size_t end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    std::string_view line(log.data() + start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    PrintLine(line, true);
    start = end + 1;
  }
}

void PrintScreen(TSession& session) {
  const TBrowse& screen = *session.Screen;
  for (int row = 1; row <= screen.Rows; ++row) {
    const int line = screen.ScreenLine(row);
    PrintLine(line >= 0 ? screen.GetLineText(line) : std::string());
  }
}

void PrintScrollback(TSession& session) {
  const TBrowse& screen = *session.Screen;
  for (int line = 0; line < screen.Count(); ++line) PrintLine(screen.GetLineText(line));
}

std::optional<TOutput> OutputOption(const std::string& argument) {
  if (argument == "--screen") return TOutput::Screen;
  if (argument == "--scrollback") return TOutput::Scrollback;
  if (argument == "--log") return TOutput::Log;
  return std::nullopt;
}

bool StartLog(TSession& session, const std::string& logFile) {
  session.Settings.LogFileName.assign(logFile);
  session.Files->CreateLogFile();
  return session.Files->LogOpen;
}

void PrintOutput(TSession& session, TOutput output, const std::string& logFile) {
  switch (output) {
    case TOutput::Screen: PrintScreen(session); break;
    case TOutput::Scrollback: PrintScrollback(session); break;
    case TOutput::Log: {
      session.Files->CloseLogFile();
      std::ifstream log(logFile, std::ios::binary);
      PrintLogText(std::string(std::istreambuf_iterator<char>(log), std::istreambuf_iterator<char>()));
      break;
    }
  }
}
