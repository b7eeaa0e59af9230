// The "PADS communication" window: the status group with its list, the
// "Commands" field, the exchange group (device and file ids, "Deallocate"),
// the local file name with "Browse", and "Read" and "Write". Modal; it links
// when shown and closes when the exit ran or the link could not be made.
#pragma once

#include <QDialog>
#include <QTimer>
#include <memory>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class TSession;

namespace pads {
class TPadsSession;
}

class TPadsWindow : public QDialog {
  Q_OBJECT

 public:
  TPadsWindow(TSession& session, QWidget* parent = nullptr);
  ~TPadsWindow() override;

  // Message 1142: the window, modally, until PADS is over.
  static void Run(TSession& session, QWidget* parent);

  pads::TPadsSession& Pads() { return *Session; }

  // The controls, for the window's tests.
  QLabel* StatusLabel = nullptr;
  QListWidget* List = nullptr;
  QLineEdit* Commands = nullptr;
  QLineEdit* DeviceId = nullptr;
  QLineEdit* FileId = nullptr;
  QLineEdit* LocalName = nullptr;
  QPushButton* Deallocate = nullptr;
  QPushButton* Browse = nullptr;
  QPushButton* Read = nullptr;
  QPushButton* Write = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void BuildControls();
  void Refresh();
  void Pump();
  void Execute(const QString& line);
  void BrowseClicked();
  QString Ids() const;

  TSession& S;
  std::unique_ptr<pads::TPadsSession> Session;
  QTimer Deadline;
  QMetaObject::Connection IdleHook;
  bool Opened = false;
};
