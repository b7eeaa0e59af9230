// TSession: the composition root. Every program-wide state of the terminal
// (settings, screen store, writer state, interpreter state, transmit flags,
// transfer engine, open files, trace decoder) is a member here, not a global.
// The main window owns one; a test builds a fresh one in a line.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/connectionsettings.h"
#include "core/ebcdicmap.h"
#include "core/settings.h"
#include "core/status.h"

class TDesktop;
class TBrowse;
class TScreenWriter;
class TReceiveInterpreter;
class TTransmitPath;
class TTransferEngine;
class TLogFiles;
class TErrorReporter;
class TSettingsFiles;
class TTraceDecoder;
class TMiniTrace;
class TTraceFiles;
class TKaspFiles;
class TKeyboard;
enum TSessionEventKind : int;  // transfer/engine.h

class TSession {
 public:
  // programDirectory: where the program's own files live ("QelWin.INI", ...);
  // a trailing '/' is added when missing.
  TSession(TDesktop& desktop, std::string programDirectory);
  ~TSession();
  TSession(const TSession&) = delete;
  TSession& operator=(const TSession&) = delete;

  TDesktop& Desktop;
  std::string ProgramDirectory;

  TSetupRecord Settings;
  // Settings beside the record (SSH, listen allow-list, reconnecting, FTP
  // protocol); saved after it in settings files.
  TConnectionSettings Connection;
  TEbcdicMap EbcdicMap;
  TStatusIndicators Status;

  std::unique_ptr<TErrorReporter> Errors;
  std::unique_ptr<TLogFiles> Files;
  std::unique_ptr<TSettingsFiles> SettingsFiles;
  std::unique_ptr<TBrowse> Screen;
  std::unique_ptr<TScreenWriter> Writer;
  std::unique_ptr<TTransmitPath> Transmit;
  std::unique_ptr<TTransferEngine> Transfer;
  std::unique_ptr<TTraceFiles> TraceFiles;
  std::unique_ptr<TKaspFiles> Kasp;
  std::unique_ptr<TTraceDecoder> Trace;
  std::unique_ptr<TMiniTrace> Mini;
  std::unique_ptr<TReceiveInterpreter> Interpreter;
  std::unique_ptr<TKeyboard> Keyboard;

  // The session event entry: the timer tick, a received byte, a key.
  void HandleSessionEvent(TSessionEventKind kind, int payload = 0);
  // Received bytes in order, exactly as HandleSessionEvent(sekReceivedByte, b) for each.
  void ReceiveBytes(const std::uint8_t* data, std::size_t count);
  // The main window's 100-ms timer where no window runs (tools, tests): the
  // countdown timers, then the tick.
  void TimerTick();

  // The state the main window leaves after start-up, without the greeting
  // line: the store padded to 101 blank lines and the terminal reset.
  void StartUp();

 private:
  // The hooks through which the lower floors report up, set once.
  void Wire();
};
