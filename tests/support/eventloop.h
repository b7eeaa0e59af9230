// Waiting in tests whose components run on this thread's QtCore event loop,
// and running other programs (the qel tool, D-Bus clients) meanwhile.
#pragma once

#include <QCoreApplication>
#include <QProcess>
#include <QTimer>
#include <chrono>
#include <functional>
#include <string>

// Serves the event loop until done() holds; false when the time ran out first.
inline bool RunUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
  }
  return true;
}

inline void RunFor(int ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  RunUntil([&] { return std::chrono::steady_clock::now() >= deadline; }, ms + 1000);
}

// How a program run ended: its exit code (-1 when it did not exit normally
// or was stopped at the time limit) and what it printed.
struct TProcessRun {
  int ExitCode = -1;
  std::string Out;
  std::string Err;
};

// Runs a program to its end while the event loop keeps serving this
// process's components; killed after timeoutMs.
inline TProcessRun RunProcess(const QString& program, const QStringList& arguments, int timeoutMs = 20000) {
  QProcess process;
  process.start(program, arguments);
  TProcessRun run;
  if (!process.waitForStarted(5000)) return run;
  bool killed = false;
  QTimer limit;
  limit.setSingleShot(true);
  QObject::connect(&limit, &QTimer::timeout, [&] {
    killed = true;
    process.kill();
  });
  limit.start(timeoutMs);
  RunUntil([&] { return process.state() == QProcess::NotRunning; }, timeoutMs + 5000);
  if (killed || process.state() != QProcess::NotRunning) return run;
  run.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  run.Out = process.readAllStandardOutput().toStdString();
  run.Err = process.readAllStandardError().toStdString();
  return run;
}
