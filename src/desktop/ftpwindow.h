// TQelFTPDlg: the FTP window ("Qel FTP Dialog"). The connection fields, the
// local folders and files, the remote list, a transfer box files are dragged
// onto, the status history and a command line. All network work runs on the
// client's worker thread; the window only queues requests and lists what
// comes back, so it never waits on the server.
#pragma once

#include <QLabel>
#include <QWidget>
#include <memory>
#include <string>

#include "transfer/ftp.h"
#include "transfer/ftpdialog.h"

class QComboBox;
class QFileSystemModel;
class QGroupBox;
class QLineEdit;
class QListView;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QRadioButton;
class QTimer;
class QTreeView;
class TDesktop;
class TQelFTPTransfer;
struct TSetupRecord;
struct TConnectionSettings;

// The picture files are dropped on: local files (as URLs) and remote entries.
class TFtpDropBox : public QLabel {
  Q_OBJECT
 public:
  explicit TFtpDropBox(QWidget* parent = nullptr);
 signals:
  void LocalFilesDropped(const QStringList& paths);
  void RemoteEntriesDropped();

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
};

class TQelFTPDlg : public QWidget {
  Q_OBJECT
 public:
  // Preset from the settings' FTP fields; "Start" writes them back.
  // programDirectory holds the work files "Qelwin32.rdi" and "Qelwin32.rdo".
  // connection: the protocol (FTP, FTPS, SFTP), and SFTP's known_hosts and
  // key file; null: plain FTP, nothing saved.
  TQelFTPDlg(TSetupRecord& settings, TDesktop& desktop, const std::string& programDirectory,
             QWidget* parent = nullptr, TConnectionSettings* connection = nullptr);
  ~TQelFTPDlg() override;

  // The buttons' actions, callable as a click would.
  void ConnectClick();
  void StartClick();
  void AbortClick();
  void DisconnectClick();
  void CloseClick();
  void SendClick();
  void CdupClick();
  void DirClick();
  void HelpClick();

  // What a drop on the transfer box queues.
  void QueueLocalFiles(const QStringList& paths);
  void QueueRemoteEntries(const QStringList& names);
  // Shows this local folder (tree selection, file list, caption).
  void ShowLocalFolder(const QString& path);
  QString LocalFolder() const { return CurrentLocalFolder; }

  // The status history, oldest first.
  QStringList History() const;
  bool IsConnected() const { return Connected; }
  bool IsAuthorised() const { return Authorised; }
  const TFtpTransferSequence& Sequence() const { return Transfers; }
  TFtpClient& Client() { return *Ftp; }

  QLineEdit* UserNameEdt;
  QLineEdit* PasswordEdt;
  QComboBox* ProtocolCmb;  // beside the host: FTP, FTPS (explicit, implicit), SFTP
  QLineEdit* HostNameEdt;
  QLineEdit* AccountEdt;
  QRadioButton* AsciiRb;
  QRadioButton* BinaryRb;
  QGroupBox* ParametersGroup;
  QGroupBox* LocalGroup;
  QGroupBox* RemoteGroup;
  QTreeView* FolderTree;
  QListView* LocalFileList;
  QListWidget* RemoteList;
  TFtpDropBox* TransferBox;
  QListWidget* QueueList;
  QComboBox* StatusCombo;
  QLineEdit* CommandEdt;
  QPushButton* SendBtn;
  QPushButton* ConnectBtn;
  QPushButton* StartBtn;
  QPushButton* AbortBtn;
  QPushButton* DisconnectBtn;
  QPushButton* CdupBtn;
  QPushButton* DirBtn;
  QPushButton* HelpBtn;
  QPushButton* CloseBtn;
  TQelFTPTransfer* TransferWindow;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  QWidget* BuildParameters();
  QWidget* BuildLocal();
  QWidget* BuildRemote();
  QWidget* BuildTransferBox();
  void Say(const std::string& line);
  void TakeClientEvents();
  void HandleEvent(const TFtpEvent& event);
  void HandleState(int state);
  void FillRemoteList();
  void AdvanceTransfers();
  void RemoteDoubleClicked(QListWidgetItem* item);
  void RefreshQueueList();
  void DeleteWorkFiles();
  void SaveParameters();
  bool AskTrust(const std::string& question);

  TSetupRecord& Settings;
  TConnectionSettings* Connection;
  TDesktop& Desktop;
  std::string WorkFileIn, WorkFileOut;
  std::unique_ptr<TFtpClient> Ftp;
  TFtpTransferSequence Transfers;
  QFileSystemModel* FolderModel;
  QFileSystemModel* FileModel;
  QTimer* SequenceTimer;
  QString CurrentLocalFolder;
  QString HostShown;
  std::vector<TFtpListEntry> Listed;  // the listing being received, read as its lines come
  bool Connected = false;
  bool Authorised = false;
};
