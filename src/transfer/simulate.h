// Simulate and playback: a recorded file (any file, or the background log)
// handed to the screen path 256 bytes a tick, as if the host sent it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "log/file.h"

class TSession;
struct TCommandState;

inline constexpr const char* kNoSimulateFileName =
    "No Simulate File Name specified\rCorrect in the Setup|Configure|Files";
inline constexpr const char* kReplayAlreadyActive =
    "Replay is already active\rSimulate and Replay can't be active at the same time";
inline constexpr const char* kSimulateAlreadyActive =
    "Simulate is already active\rSimulate and Replay can't be active at the same time";
inline constexpr const char* kQuorixOnly =
    "Option only for Terminal Type = QUORIX\rChange in SETUP|CONFIGURE|DISPLAY|EMULATION";
inline constexpr const char* kSimulateOpenFailure = "Simulate File. Correct Filename in the Setup Menu.";

// Recorded bytes reach the screen path as a simulation hands them on: past
// the dispatcher, so nothing is logged, stored or waited for. The replay and
// decode tools use it too, so a recording shows there as it does here.
void ReplayBytes(TSession& session, const std::uint8_t* data, std::size_t count);

class TReplay {
 public:
  static constexpr std::size_t kChunk = 256;  // bytes a tick, for both

  // Takes over the engine's simulate and playback workers; gives them back
  // when it goes. The window owns one beside TMainForm and shares its
  // command state (the gauge, the transfer commands).
  TReplay(TSession& session, TCommandState& state);
  ~TReplay();
  TReplay(const TReplay&) = delete;
  TReplay& operator=(const TReplay&) = delete;

  // The send dialog with every pacing control disabled: the simulate file's
  // name, from the preset (nullopt: Cancel).
  std::function<std::optional<std::string>(const std::string& preset)> AskSimulateFile;

  // Faults for the simulate file (tests reach the read failure through it).
  TFileFaults Faults;

  // "&Simulate" and "&SIMULATE"; "&Playback" and "PLAY&BACK".
  void StartSimulate();
  void StartPlayback();
  // The tick's workers (bits 4 and 8).
  void SimulateStep();
  void PlaybackStep();
  // "&Cancel": both stop without the ended notification; the background log
  // records again after a playback.
  void Cancel();

  bool SimulateActive() const { return Simulating; }
  bool PlaybackActive() const;

  // Called whenever the gauge or the transfer commands' state changed.
  std::function<void()> OnStateChanged;

 private:
  void EndSimulate(bool notify);
  void EndPlayback(bool resume, bool notify);
  void Ended();
  void ShowGauge(std::int64_t maximum);
  void SetProgress();

  TSession& S;
  TCommandState& State;
  TFile SimulateFile;
  bool Simulating = false;
  std::uint64_t Position = 0;  // of the file being replayed
  std::int64_t Scale = 1;      // file bytes per gauge step
};
