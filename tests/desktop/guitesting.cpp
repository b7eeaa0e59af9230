#include "guitesting.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QThread>

QString ArtifactPath(const QString& name) {
  const QString dir = QStringLiteral(QEL_ARTIFACTS);
  QDir().mkpath(dir);
  return dir + QLatin1Char('/') + name;
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  while (!done()) {
    if (deadline.hasExpired()) return done();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  return true;
}
