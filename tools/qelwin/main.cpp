// qelwin: the desktop program.
//   qelwin [--connect serial|network|ssh] [--trace] [--no-background] [--receive-limit MB] [SETTINGS[.mse]]
//   qelwin --help | --version
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "core/paths.h"
#include "desktop/mainwindow.h"
#include "help.h"

namespace {
constexpr qulonglong kReceiveLimitMaxMegabytes = 1u << 20;  // a terabyte

int Usage(const char* problem) {
  const std::string help = QelwinHelpText();
  std::fprintf(stderr, "qelwin: %s\n%s\n'qelwin --help' describes the options.\n", problem,
               help.substr(0, help.find('\n')).c_str());
  return 2;
}

// The help, and where the installed copy of the manual is, for reading it
// outside the window (Help|Help shows the program's own copy).
int Help() {
  std::printf("%s", QelwinHelpText().c_str());
  const QString copy = QString::fromStdString(BundledDataDirectory()) + QStringLiteral("../doc/qelwin/manual.html");
  if (QFileInfo(copy).isReadable()) {
    std::printf("\nThe manual: Help|Help, or %s in a browser.\n",
                QFileInfo(copy).canonicalFilePath().toLocal8Bit().constData());
  }
  return 0;
}

// The window's icon: the sizes installed beside the program (the build
// renders them into the same place under its own folder).
QIcon WindowIcon() {
  const QString hicolor = QString::fromStdString(BundledDataDirectory()) + QStringLiteral("../icons/hicolor/");
  QIcon icon;
  for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
    const QString file = hicolor + QStringLiteral("%1x%1/apps/org.qelwin.QelWin.png").arg(size);
    if (QFileInfo::exists(file)) icon.addFile(file, QSize(size, size));
  }
  return icon;
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
  // Answered before the window system is asked for: they work without a display.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return Help();
    if (std::strcmp(argv[i], "--version") == 0) {
      std::fputs(QelwinVersionText().c_str(), stdout);
      return 0;
    }
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("QelWin"));
  // The desktop entry and icon the window system matches the window with.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.qelwin.QelWin"));
  QApplication::setWindowIcon(WindowIcon());

  TWindowOptions options;
  const QStringList arguments = QApplication::arguments();
  for (int i = 1; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
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
