// TConfigDialog: "QelWin Configuration Parameters". Edits its own copy of
// the settings (Draft) and hands it back; it never touches the session.
// The main window:
//   TConfigDialog dialog(session.Settings, desktop, this);
//   connect(&dialog, &TConfigDialog::Applied, this,
//           [&](const TSetupRecord& d) { ApplyConnectionSettings(session, d); });
//   if (desktop.Modal([&] { return dialog.exec(); }) == QDialog::Accepted)
//     ApplyConfiguration(session, dialog.Draft(), hooks);
//   then refresh the screen properties whatever the outcome.
#pragma once

#include <QDialog>
#include <array>
#include <functional>
#include <optional>

#include "app/configrules.h"
#include "core/settings.h"

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabWidget;
class TDesktop;

class TConfigDialog : public QDialog {
  Q_OBJECT
 public:
  // desktop: Browse's file dialogs go through it. connection: the settings
  // kept beside the record (SSH, listen allow-list, reconnecting, FTP
  // protocol), edited on the " Connectivity " page.
  TConfigDialog(const TSetupRecord& settings, const TConnectionSettings& connection, TDesktop& desktop,
                QWidget* parent = nullptr);
  TConfigDialog(const TSetupRecord& settings, TDesktop& desktop, QWidget* parent = nullptr)
      : TConfigDialog(settings, TConnectionSettings{}, desktop, parent) {}

  // The working copy, with the controls read into it on Apply and OK.
  const TSetupRecord& Draft() const { return Record; }
  const TConnectionSettings& ConnectionDraft() const { return Connection; }

  // The controls of the settings beside the record, for tests.
  struct TSecureControls {
    QButtonGroup* Kind = nullptr;  // Telnet / TCP, SSH
    QLineEdit* User = nullptr;
    QSpinBox* Port = nullptr;
    QLineEdit* KeyFile = nullptr;
    QLineEdit* KnownHosts = nullptr;
    QSpinBox* KeepAlive = nullptr;
    QLineEdit* ListenAllow = nullptr;
    QCheckBox* Reconnect = nullptr;
    QSpinBox* ReconnectLimit = nullptr;
    QSpinBox* ReconnectDelay = nullptr;
    QComboBox* FtpProtocol = nullptr;
  };
  const TSecureControls& Secure() const { return SecureControls; }

  // The pickers the buttons open; replaceable so they can be scripted.
  // nullopt: cancelled.
  std::function<std::optional<TColor>(TColor current, const QString& title)> ChooseColor;
  std::function<std::optional<QFont>(const QFont& current)> ChooseFont;
  std::function<std::optional<TAttributeChoice>(const QString& caption, const TAttributeChoice& preset)>
      ChooseAttributes;

  QTabWidget* Pages() const { return Tabs; }
  // The file edit Browse fills (the one clicked last).
  TFileEdit BrowseTarget() const { return Target; }
  QLineEdit* FileEdit(TFileEdit edit) const { return FileEdits[edit]; }

 signals:
  // The Apply button: the main window applies the connection settings.
  void Applied(const TSetupRecord& draft);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  QWidget* DisplayPage();
  QWidget* FilesPage();
  QWidget* ConnectivityPage();
  QWidget* SecureGroup();
  QWidget* ListenAndReconnectGroup();
  QLineEdit* FileChooser(QLineEdit* edit, const char* title, QHBoxLayout*& row);
  bool ReadSecureControls();
  QWidget* TracePage();
  QWidget* TransferPage();
  QWidget* AdvancedPage();
  QCheckBox* Check(const char* caption, std::uint8_t TSetupRecord::*field);
  QComboBox* Combo(const char* const* items, std::size_t count, std::uint8_t value);
  QSpinBox* Spin(int minimum, int maximum, int value);
  QPushButton* ColorButton(const char* caption, TColor TSetupRecord::*field);
  void ShowColor(QPushButton* button, TColor color) const;
  void ShowFont();
  void ShowAttributes(QPushButton* button, const TAttributeBlock& block) const;
  void PickFont();
  void PickAttributes(int index, QPushButton* button);
  void Browse();
  void ReadControls();
  void ReadTexts();
  void Apply();
  void Ok();

  TSetupRecord Record;
  TConnectionSettings Connection;
  TSecureControls SecureControls;
  TDesktop& Desktop;
  QTabWidget* Tabs = nullptr;
  std::vector<std::pair<QCheckBox*, std::uint8_t TSetupRecord::*>> Checks;
  QButtonGroup* Emulation = nullptr;
  QButtonGroup* ScreenSize = nullptr;
  QButtonGroup* BackSpace = nullptr;
  QButtonGroup* ComPort = nullptr;
  QPushButton* FontButton = nullptr;
  QLabel* FontLabel = nullptr;
  std::array<QLineEdit*, feCount> FileEdits{};
  TFileEdit Target = feLog;
  QLineEdit* HostName = nullptr;
  QComboBox* Port = nullptr;
  QLineEdit* FtpUser = nullptr;
  QLineEdit* FtpPassword = nullptr;
  QLineEdit* FtpHost = nullptr;
  QLineEdit* RemotePath = nullptr;
  QLineEdit* LocalPath = nullptr;
  QComboBox* BaudRate = nullptr;
  QComboBox* Parity = nullptr;
  QComboBox* FlowControl = nullptr;
  QComboBox* StopBits = nullptr;
  QComboBox* DataBits = nullptr;
  QComboBox* QuorixType = nullptr;
  QComboBox* CharDelay = nullptr;
  QComboBox* LineDelay = nullptr;
  QComboBox* EndOfLine = nullptr;
  QLineEdit* WaitChar = nullptr;
  QSpinBox* LineDly = nullptr;
  QSpinBox* SoftKeyDelay = nullptr;
  QSpinBox* MaxEchoDelay = nullptr;
  QSpinBox* PadsRetries = nullptr;
  QSpinBox* PadsDelay = nullptr;
};
