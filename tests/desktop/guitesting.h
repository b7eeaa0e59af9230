// What the window tests share: where screenshots go, a wait for a condition
// that keeps the event loop running, a step run inside a modal dialog, and
// a main window started on a fresh program directory.
#pragma once

#include <QApplication>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "support/testing.h"

class TMainWindow;
class TSession;

// A file name under the build's artifacts folder (made on first use); tests
// save screenshots there and name them in failure messages.
QString ArtifactPath(const QString& name);

// The widget's picture, saved under name as an artifact.
QImage Shot(QWidget& widget, const QString& name);
// Pixels much darker than the window colour inside rect, its 2-pixel frame left out.
int CountInk(const QImage& image, const QRect& rect);

// Shows the widget; true once the window system has put it on screen.
bool Exposed(QWidget& widget);

// Runs the event loop until done() holds or timeoutMs pass; done()'s last answer.
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000);

// The first child of root of type T with this text, or null.
template <typename T>
T* Named(QWidget* root, const QString& text) {
  for (T* w : root->findChildren<T*>()) {
    if (w->text() == text) return w;
  }
  return nullptr;
}

// The field a form label stands for, or null.
template <typename T>
T* Field(QWidget* root, const QString& label) {
  QLabel* l = Named<QLabel>(root, label);
  return l ? qobject_cast<T*>(l->buddy()) : nullptr;
}

// Those of texts that no label, button (its '&' left out) or group box under
// root shows, hidden ones not counted: empty when every caption is there.
QStringList MissingTexts(const QWidget& root, const QStringList& texts);

// A standard button of a dialog's button box.
inline QPushButton* DialogButton(QWidget& dialog, QDialogButtonBox::StandardButton which) {
  return dialog.findChild<QDialogButtonBox*>()->button(which);
}

// Runs step once a window of type T is up: a modal dialog the code under
// test opens (a progress window also before it shows, with anyVisibility).
template <typename T>
void WhenShown(std::function<void(T*)> step, bool anyVisibility = false) {
  auto* timer = new QTimer;
  timer->setInterval(20);
  QObject::connect(timer, &QTimer::timeout, [timer, step, anyVisibility] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (auto* found = qobject_cast<T*>(widget); found && (anyVisibility || found->isVisible())) {
        timer->stop();
        timer->deleteLater();
        step(found);
        return;
      }
    }
  });
  timer->start();
}

// The main window shown and started on a fresh program directory without the
// background file's questions, its start-up panel gone unless kept. before
// runs on the directory first; the settings file is the command line's.
struct TStartedWindow {
  TTempDir Dir;
  std::unique_ptr<TMainWindow> W;
  explicit TStartedWindow(const std::string& settingsFile = {},
                          const std::function<void(const TTempDir&)>& before = {}, bool keepStartupPanel = false);
  ~TStartedWindow();
  TSession& S();
  void Receive(const std::string& bytes);
  // Until the screen's damage is painted.
  void Settle();
};
