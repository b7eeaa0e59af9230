// Progress of long work on standard error, and Ctrl-C as a request to stop
// early and still report what was done.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// Ctrl-C (SIGINT) sets the flag instead of ending the program; a blocked read
// returns at once. Exit status of a run stopped so: 130.
void CatchInterrupt();
bool Interrupted();
inline constexpr int kInterruptedStatus = 130;

// "12.3 MB of 40.0 MB, 8.1 MB/s, 3 s left" on one line of standard error,
// redrawn at most a few times a second. Shown only while standard error is a
// terminal and not quiet; the line is cleared at the end.
class TProgress {
 public:
  // total: the input's size in bytes, or -1 when unknown (a pipe).
  TProgress(const std::string& what, std::int64_t total, bool quiet);
  ~TProgress();
  TProgress(const TProgress&) = delete;
  TProgress& operator=(const TProgress&) = delete;

  // Redrawn when the last drawing is old enough; Draw draws at once.
  void Update(std::int64_t done);
  void Draw(std::int64_t done);
  void Finish();

  // The line for done bytes after seconds (for tests of its wording).
  static std::string Line(const std::string& what, std::int64_t done, std::int64_t total, double seconds);

 private:
  std::string What;
  std::int64_t Total;
  bool Shown;
  bool Drawn = false;
  std::chrono::steady_clock::time_point Start, LastDraw;
};
