// TSendDialog: "Send File Selection", the file and pacing choices of
// "Send &Ascii". Edits its own copy of the settings and hands it back on OK;
// the main window stores it and starts the send:
//   PacedSend.SendAscii([&](TSetupRecord& draft) {
//     TSendDialog dialog(draft, desktop, this);
//     if (dialog.exec() != QDialog::Accepted) return false;
//     draft = dialog.Draft();
//     return true;
//   });
#pragma once

#include <QDialog>

#include "core/settings.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;
class TDesktop;

class TSendDialog : public QDialog {
  Q_OBJECT
 public:
  // desktop: Browse's file dialog goes through it.
  TSendDialog(const TSetupRecord& settings, TDesktop& desktop, QWidget* parent = nullptr);

  // The working copy, with the controls read into it on OK.
  const TSetupRecord& Draft() const { return Record; }

  QLineEdit* FileNameEdit() const { return FileName; }
  QComboBox* CharDelayBox() const { return CharDelay; }
  QComboBox* LineDelayBox() const { return LineDelay; }
  QComboBox* EndOfLineBox() const { return EndOfLine; }
  QLineEdit* WaitCharEdit() const { return WaitChar; }
  QCheckBox* CtrlZBox() const { return CtrlZ; }
  QSpinBox* WaitAfterLineBox() const { return WaitAfterLine; }
  QSpinBox* MaxEchoDelayBox() const { return MaxEchoDelay; }
  QPushButton* BrowseButton() const { return Browse; }

 private:
  QWidget* FileGroup();
  QWidget* PacingGroup();
  void BrowseFile();
  void ReadControls();

  TSetupRecord Record;
  TDesktop& Desktop;
  QLineEdit* FileName = nullptr;
  QPushButton* Browse = nullptr;
  QComboBox* CharDelay = nullptr;
  QComboBox* LineDelay = nullptr;
  QComboBox* EndOfLine = nullptr;
  QLineEdit* WaitChar = nullptr;
  QCheckBox* CtrlZ = nullptr;
  QSpinBox* WaitAfterLine = nullptr;
  QSpinBox* MaxEchoDelay = nullptr;
};
