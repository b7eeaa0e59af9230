// The local command interpreter of the Quorix command line: the keywords
// that act in the terminal itself (log on and off, include files, trace
// switches, line speed, the PADS prompt watch) and the Command File lookups.
// The keyboard offers every entered line here first.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "commands/definitions.h"

class TSession;

class TLocalCommands {
 public:
  // At most this many faulty lines of a Command File get a box of their own;
  // one more box counts the rest, so a wrong file cannot bury the window.
  static constexpr std::size_t kErrorBoxesMax = 10;
  // A command file larger than this is not loaded (a device or a wrong name
  // must not take the memory).
  static constexpr std::size_t kCommandFileLimit = 16u << 20;

  explicit TLocalCommands(TSession& session);
  ~TLocalCommands();
  TLocalCommands(const TLocalCommands&) = delete;
  TLocalCommands& operator=(const TLocalCommands&) = delete;

  // `LocalCommand`: true when the line was consumed (its Enter is not sent).
  bool LocalCommand(const std::string& line);

  // `LoadCommandDefinitions`: the old list dropped, the "Command File Name:"
  // file read; failures and faulty lines reported.
  void LoadCommandDefinitions();
  const TCommandDefinitionList& Definitions() const { return CommandDefinitionList; }

  // Set by the escape action while a lookup runs; ends it between records.
  bool Interrupted = false;
  bool LookupRunning() const { return Running; }

  // "PAD" typed: the prompt watch is armed; the PADS side shows "Wait for password".
  std::function<void()> StartPads;
  // The password line was entered: the capture for PADS has started (may be empty).
  std::function<void()> PadsCapturing;

 private:
  bool PadsPasswordEntered();
  void SwitchTraceOnCol();
  void SwitchMiniTraceOnCol();
  bool LogOn(const std::string& line, std::string_view rest);
  bool LogOff(const std::string& line);
  bool IncludeFile(const std::string& line, std::string_view rest);
  void ArmPadsWatch();
  void ChangeLineSpeed(std::string_view rest);
  bool MiniTrace(const std::string& line, bool on);
  bool LookUp(const std::string& line, const std::string& upper);
  void RunDefinition(const TCommandDefinition& definition, const std::string& argument);

  void EraseTypedText(const std::string& line);
  void EraseTypedTextSlowly(const std::string& line);
  std::optional<std::string> AskForFile(const char* title, const char* filter, std::string proposed);
  void Refresh();
  void ReportLoadErrors(const std::string& fileName, const TCommandFile& file);

  TSession& S;
  TCommandDefinitionList CommandDefinitionList;
  bool Running = false;
};

// Makes the keyboard offer every entered Quorix line to a new interpreter and
// loads the Command File. The window keeps the result for its whole life and
// lets it go before the session (it takes its offer back from the keyboard).
std::unique_ptr<TLocalCommands> InstallLocalCommands(TSession& session);

// Filter of the log and include file dialogs, preceded by an entry for the
// proposed name's own extension when it has one (".TRC|*.TRC|").
std::string FilterWithExtension(const std::string& proposed, const char* filter);
