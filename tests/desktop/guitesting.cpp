#include "guitesting.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QThread>
#include <QtTest>

#include "app/session.h"
#include "desktop/mainwindow.h"
#include "screen/store.h"

QString ArtifactPath(const QString& name) {
  const QString dir = QStringLiteral(QEL_ARTIFACTS);
  QDir().mkpath(dir);
  return dir + QLatin1Char('/') + name;
}

QImage Shot(QWidget& widget, const QString& name) {
  const QImage image = widget.grab().toImage();
  image.save(ArtifactPath(name));
  return image;
}

int CountInk(const QImage& image, const QRect& rect) {
  int count = 0;
  for (int y = rect.top() + 2; y <= rect.bottom() - 2; ++y) {
    for (int x = rect.left() + 2; x <= rect.right() - 2; ++x) {
      if (qGray(image.pixel(x, y)) < 100) ++count;
    }
  }
  return count;
}

QStringList MissingTexts(const QWidget& root, const QStringList& texts) {
  QStringList shown;
  for (const QLabel* w : root.findChildren<QLabel*>()) {
    if (w->isVisibleTo(&root)) shown << w->text();
  }
  for (const QAbstractButton* w : root.findChildren<QAbstractButton*>()) {
    if (w->isVisibleTo(&root)) shown << w->text().remove(QLatin1Char('&'));
  }
  for (const QGroupBox* w : root.findChildren<QGroupBox*>()) {
    if (w->isVisibleTo(&root)) shown << w->title();
  }
  QStringList missing;
  for (const QString& text : texts) {
    if (!shown.contains(text)) missing << text;
  }
  return missing;
}

bool Exposed(QWidget& widget) {
  widget.show();
  return QTest::qWaitForWindowExposed(&widget);
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

TStartedWindow::TStartedWindow(const std::string& settingsFile, const std::function<void(const TTempDir&)>& before,
                               bool keepStartupPanel) {
  if (before) before(Dir);
  TWindowOptions options;
  options.SkipBackgroundFile = true;
  options.SettingsFile = settingsFile;
  W = std::make_unique<TMainWindow>(Dir.path().string(), options);
  W->show();
  if (!QTest::qWaitForWindowExposed(W.get())) qWarning("the window was not exposed");
  W->Form().Now = [] { return std::string("06.12.2026 21:22:18"); };
  W->StartUp();
  if (keepStartupPanel) return;
  if (QWidget* panel = W->findChild<QWidget*>("QelStartupPanel")) QTest::mouseClick(panel, Qt::LeftButton);
}

TStartedWindow::~TStartedWindow() = default;

TSession& TStartedWindow::S() { return W->Session(); }

void TStartedWindow::Receive(const std::string& bytes) {
  S().ReceiveBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  Settle();
}

void TStartedWindow::Settle() {
  WaitFor([&] { return S().Screen->PendingDamage().Empty(); });
  QTest::qWait(40);
}
