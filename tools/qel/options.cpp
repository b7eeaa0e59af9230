#include "options.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>

#include "app/settings.h"
#include "app/settingsfile.h"
#include "core/session.h"
#include "log/errors.h"

int TToolCommand::ShowUsage() const {
  std::fprintf(stderr, "usage: %s\n", Usage);
  return 2;
}

int TToolCommand::UsageError(const std::string& message) const {
  std::fprintf(stderr, "qel %s: %s\n", Name, message.c_str());
  return ShowUsage();
}

int TToolCommand::Failure(const std::string& subject, const std::string& reason) const {
  std::fprintf(stderr, "qel %s: %s: %s\n", Name, subject.c_str(), reason.c_str());
  return 1;
}

void TToolCommand::Note(const std::string& text) const {
  std::fprintf(stderr, "qel %s: note: %s\n", Name, OneLine(text).c_str());
}

bool TakeValue(int argc, char** argv, int& i, const char* option, std::string& value, bool& missing) {
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

bool ReadInput(const std::string& name, std::string& bytes, std::string& reason) {
  std::ifstream file;
  if (name != "-") {
    file.open(name, std::ios::binary);
    if (!file) {
      reason = std::strerror(errno);
      return false;
    }
  }
  std::istream& in = name == "-" ? std::cin : file;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    reason = "read error";
    return false;
  }
  return true;
}

std::optional<std::uint8_t> EmulationOf(const std::string& name) {
  if (name == "quorix") return emQuorix;
  if (name == "vt100") return emVT100;
  if (name == "vt220") return emVT220;
  if (name == "tn3270") return emTN3270;
  return std::nullopt;
}

std::string OneLine(const std::string& text) {
  std::string line;
  for (const char c : text) {
    if (c != '\r' && c != '\n') {
      line.push_back(c);
    } else if (!line.empty() && line.back() != ' ') {
      line.push_back(' ');
    }
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

std::string SystemReason(std::uint32_t code) {
  std::string text = ErrorCodeText(code);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  if (!text.empty() && text[0] >= '0' && text[0] <= '9') text = "system error " + text;
  return text;
}

std::string SettingsReadReason(std::uint32_t code) {
  if (code == kErrorHandleEof) return "shorter than a settings record (" + std::to_string(kSetupRecordSize) + " bytes)";
  return SystemReason(code);
}

bool LoadSettings(TSession& session, const std::string& file, std::string& reason) {
  // Read once on its own for the reason: the session would only show a box.
  TSetupRecord probe;
  const TSettingsReadResult read = ReadSettingsRecord(file, probe);
  if (read.Error != 0) {
    reason = SettingsReadReason(read.Error);
    return false;
  }
  if (!session.SettingsFiles->OpenQelSetFile(file)) {
    reason = "not a readable settings file";
    return false;
  }
  return true;
}
