// qelwin: the desktop program.
//   qelwin [--connect serial|network|ssh] [--trace] [--no-background] [--receive-limit MB] [SETTINGS[.mse]]
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QDir>
#include <QStandardPaths>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "desktop/mainwindow.h"

namespace {
constexpr qulonglong kReceiveLimitMaxMegabytes = 1u << 20;  // a terabyte

int Usage(const char* problem) {
  if (problem) std::fprintf(stderr, "qelwin: %s\n", problem);
  std::fprintf(stderr,
               "usage: qelwin [--connect serial|network|ssh] [--trace] [--no-background] [--receive-limit MB] "
               "[SETTINGS[.mse]]\n"
               "  --connect   connect at start, as Setup|Connect does\n"
               "  --trace     trace conversion on at start, as the CM button does\n"
               "  --no-background  start without the screen background file questions\n"
               "  --receive-limit MB  stop a receive the host starts after MB megabytes\n");
  return 2;
}

// SIGTERM, SIGHUP and SIGINT reach the window thread through a socket pair.
int SignalSockets[2] = {-1, -1};
void OnSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(SignalSockets[0], &byte, 1);
}

// $QELWIN_HOME, else the per-user data directory; made when missing.
std::string ProgramDirectory() {
  QString directory = qEnvironmentVariable("QELWIN_HOME");
  if (directory.isEmpty()) directory = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
  QDir().mkpath(directory);
  return QDir(directory).absolutePath().toLocal8Bit().toStdString() + "/";
}
}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);  // a peer that goes away is a socket error, not the end
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("QelWin"));

  TWindowOptions options;
  const QStringList arguments = QApplication::arguments();
  for (int i = 1; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
      Usage(nullptr);
      return 0;
    }
    if (argument == QLatin1String("--connect")) {
      if (++i >= arguments.size()) return Usage("--connect needs serial, network or ssh");
      options.Connect = arguments[i].toStdString();
      if (options.Connect != "serial" && options.Connect != "network" && options.Connect != "ssh") {
        return Usage("--connect takes serial, network or ssh");
      }
    } else if (argument == QLatin1String("--trace")) {
      options.Trace = true;
    } else if (argument == QLatin1String("--no-background")) {
      options.SkipBackgroundFile = true;
    } else if (argument == QLatin1String("--receive-limit")) {
      bool number = false;
      const qulonglong megabytes = ++i < arguments.size() ? arguments[i].toULongLong(&number) : 0;
      if (!number || megabytes == 0 || megabytes > kReceiveLimitMaxMegabytes) {
        return Usage("--receive-limit needs a number of megabytes from 1 to 1048576");
      }
      options.ReceiveLimit = static_cast<std::uint64_t>(megabytes) << 20;
    } else if (argument.startsWith(QLatin1String("--"))) {
      return Usage(("unknown option " + argument.toStdString()).c_str());
    } else if (options.SettingsFile.empty()) {
      options.SettingsFile = argument.toLocal8Bit().toStdString();
    } else {
      return Usage("only one settings file can be given");
    }
  }

  TMainWindow window(ProgramDirectory(), options);
  std::unique_ptr<QSocketNotifier> signalNotifier;
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, SignalSockets) == 0) {
    signalNotifier = std::make_unique<QSocketNotifier>(SignalSockets[1], QSocketNotifier::Read);
    QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, &window, [&window] {
      char byte;
      [[maybe_unused]] const ssize_t got = read(SignalSockets[1], &byte, 1);
      window.EndWithoutQuestions();
    });
    for (const int number : {SIGTERM, SIGHUP, SIGINT}) std::signal(number, OnSignal);
  }
  window.show();
  QTimer::singleShot(0, &window, [&window] { window.StartUp(); });
  return app.exec();
}
