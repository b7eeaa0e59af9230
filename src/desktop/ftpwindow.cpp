#include "desktop/ftpwindow.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>

#include "app/configrules.h"
#include "core/connectionsettings.h"
#include "core/desktop.h"
#include "core/paths.h"
#include "core/settings.h"
#include "desktop/ftptransfer.h"

namespace {

constexpr int kSequenceTickMs = 100;
constexpr int kHistoryVisibleLines = 30;
// The history keeps this many lines; older ones give way (a server that
// talks without end must not fill the memory through the window).
constexpr int kHistoryLimit = 5000;
constexpr int kRoleIsDirectory = Qt::UserRole;

QString FromStd(const std::string& text) { return QString::fromStdString(text); }
std::string ToStd(const QString& text) { return text.toStdString(); }

}  // namespace

TFtpDropBox::TFtpDropBox(QWidget* parent) : QLabel(parent) {
  setAcceptDrops(true);
  setAlignment(Qt::AlignCenter);
  setFrameShape(QFrame::StyledPanel);
  setPixmap(style()->standardIcon(QStyle::SP_DriveNetIcon).pixmap(48, 48));
  setToolTip(QStringLiteral("Drop files here to transfer them"));
  setMinimumSize(72, 72);
}

void TFtpDropBox::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls() || event->source()) event->acceptProposedAction();
}

void TFtpDropBox::dropEvent(QDropEvent* event) {
  if (event->mimeData()->hasUrls()) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
      if (url.isLocalFile()) paths << url.toLocalFile();
    emit LocalFilesDropped(paths);
  } else {
    emit RemoteEntriesDropped();
  }
  event->acceptProposedAction();
}

TQelFTPDlg::TQelFTPDlg(TSetupRecord& settings, TDesktop& desktop, const std::string& programDirectory,
                       QWidget* parent, TConnectionSettings* connection)
    : QWidget(parent, Qt::Window), Settings(settings), Connection(connection), Desktop(desktop) {
  std::string directory = programDirectory;
  if (!directory.empty() && directory.back() != '/') directory += '/';
  WorkFileIn = directory + "Qelwin32.rdi";
  WorkFileOut = directory + "Qelwin32.rdo";
  DeleteWorkFiles();

  // Events come from the worker thread; they are taken on this one.
  Ftp = std::make_unique<TFtpClient>(
      [this] { QMetaObject::invokeMethod(this, &TQelFTPDlg::TakeClientEvents, Qt::QueuedConnection); });
  Ftp->SetListingFile(WorkFileOut);

  setWindowTitle(QString::fromLatin1(kFtpCaption));
  BuildControls();
  TransferWindow = new TQelFTPTransfer(this);
  SequenceTimer = new QTimer(this);
  SequenceTimer->setInterval(kSequenceTickMs);
  connect(SequenceTimer, &QTimer::timeout, this, &TQelFTPDlg::AdvanceTransfers);
  SequenceTimer->start();

  UserNameEdt->setText(FromStd(Settings.FTPUserName.str()));
  PasswordEdt->setText(FromStd(Settings.FTPPassword.str()));
  HostNameEdt->setText(FromStd(Settings.FTPHostName.str()));
  AccountEdt->setText(FromStd(Settings.FTPAccount.str()));
  if (Connection) ProtocolCmb->setCurrentIndex(ComboChoice(Connection->FTPProtocol, kFtpProtocolItems.size()));
  const QString localPath = FromStd(NativeFileName(Settings.LocalPath.view()));
  ShowLocalFolder(!localPath.isEmpty() && QFileInfo(localPath).isDir() ? localPath : QDir::homePath());
}

TQelFTPDlg::~TQelFTPDlg() {
  Ftp.reset();  // stops and joins the worker before the window goes
  DeleteWorkFiles();
}

void TQelFTPDlg::BuildControls() {
  auto* grid = new QGridLayout(this);
  grid->addWidget(BuildParameters(), 0, 0, 1, 3);
  grid->addWidget(BuildLocal(), 1, 0);
  grid->addWidget(BuildTransferBox(), 1, 1);
  grid->addWidget(BuildRemote(), 1, 2);
  grid->setColumnStretch(0, 3);
  grid->setColumnStretch(2, 2);
  grid->setRowStretch(1, 1);

  StatusCombo = new QComboBox;
  StatusCombo->setObjectName(QStringLiteral("StatusCombo"));
  StatusCombo->setMaxVisibleItems(kHistoryVisibleLines);
  StatusCombo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  grid->addWidget(StatusCombo, 2, 0, 1, 3);

  auto* commandRow = new QHBoxLayout;
  CommandEdt = new QLineEdit;
  CommandEdt->setObjectName(QStringLiteral("CommandEdt"));
  SendBtn = new QPushButton(QStringLiteral("Send"));
  commandRow->addWidget(new QLabel(QStringLiteral("Command")));
  commandRow->addWidget(CommandEdt, 1);
  commandRow->addWidget(SendBtn);
  grid->addLayout(commandRow, 3, 0, 1, 3);
  connect(SendBtn, &QPushButton::clicked, this, &TQelFTPDlg::SendClick);
  connect(CommandEdt, &QLineEdit::returnPressed, this, &TQelFTPDlg::SendClick);
  resize(880, 560);
}

QWidget* TQelFTPDlg::BuildParameters() {
  auto* row = new QWidget;
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);

  ParametersGroup = new QGroupBox(QStringLiteral("FTP Parameters"));
  auto* form = new QGridLayout(ParametersGroup);
  UserNameEdt = new QLineEdit;
  PasswordEdt = new QLineEdit;
  PasswordEdt->setEchoMode(QLineEdit::Password);
  HostNameEdt = new QLineEdit;
  AccountEdt = new QLineEdit;
  for (QLineEdit* edit : {UserNameEdt, PasswordEdt, HostNameEdt, AccountEdt}) edit->setMaxLength(80);
  form->addWidget(new QLabel(QStringLiteral("User name")), 0, 0);
  form->addWidget(UserNameEdt, 0, 1);
  form->addWidget(new QLabel(QStringLiteral("Host Name")), 0, 2);
  form->addWidget(HostNameEdt, 0, 3);
  ProtocolCmb = new QComboBox;
  ProtocolCmb->setObjectName(QStringLiteral("ProtocolCmb"));
  for (std::size_t i = 0; i < kFtpProtocolShortItems.size(); ++i) {
    ProtocolCmb->addItem(QString::fromLatin1(kFtpProtocolShortItems[i]));
    ProtocolCmb->setItemData(static_cast<int>(i), QString::fromLatin1(kFtpProtocolItems[i]), Qt::ToolTipRole);
  }
  ProtocolCmb->setToolTip(QStringLiteral("FTP, FTP with TLS (explicit AUTH TLS, or implicit on port 990), or SFTP "
                                         "over SSH; a host without a port takes the protocol's own"));
  form->addWidget(ProtocolCmb, 0, 4);
  form->setColumnStretch(1, 2);
  form->setColumnStretch(3, 3);
  form->addWidget(new QLabel(QStringLiteral("Password")), 1, 0);
  form->addWidget(PasswordEdt, 1, 1);
  form->addWidget(new QLabel(QStringLiteral("Account")), 1, 2);
  form->addWidget(AccountEdt, 1, 3);
  layout->addWidget(ParametersGroup, 1);

  auto* typeGroup = new QGroupBox(QStringLiteral("Transfer Type"));
  auto* typeLayout = new QVBoxLayout(typeGroup);
  AsciiRb = new QRadioButton(QStringLiteral("ASCII"));
  BinaryRb = new QRadioButton(QStringLiteral("BINARY"));
  BinaryRb->setChecked(true);
  typeLayout->addWidget(AsciiRb);
  typeLayout->addWidget(BinaryRb);
  layout->addWidget(typeGroup);

  auto* buttons = new QGridLayout;
  ConnectBtn = new QPushButton(QStringLiteral("Connect"));
  StartBtn = new QPushButton(QStringLiteral("Start"));
  AbortBtn = new QPushButton(QStringLiteral("Abort"));
  DisconnectBtn = new QPushButton(QStringLiteral("Discon."));
  CloseBtn = new QPushButton(QStringLiteral("Close"));
  AbortBtn->setEnabled(false);
  buttons->addWidget(ConnectBtn, 0, 0);
  buttons->addWidget(DisconnectBtn, 1, 0);
  buttons->addWidget(StartBtn, 0, 1);
  buttons->addWidget(AbortBtn, 1, 1);
  buttons->addWidget(CloseBtn, 0, 2);
  layout->addLayout(buttons);
  connect(ConnectBtn, &QPushButton::clicked, this, &TQelFTPDlg::ConnectClick);
  connect(StartBtn, &QPushButton::clicked, this, &TQelFTPDlg::StartClick);
  connect(AbortBtn, &QPushButton::clicked, this, &TQelFTPDlg::AbortClick);
  connect(DisconnectBtn, &QPushButton::clicked, this, &TQelFTPDlg::DisconnectClick);
  connect(CloseBtn, &QPushButton::clicked, this, &TQelFTPDlg::CloseClick);
  return row;
}

QWidget* TQelFTPDlg::BuildLocal() {
  LocalGroup = new QGroupBox(QStringLiteral("Local Directory"));
  auto* layout = new QHBoxLayout(LocalGroup);

  FolderModel = new QFileSystemModel(this);
  FolderModel->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
  FolderModel->setRootPath(QDir::rootPath());
  FolderTree = new QTreeView;
  FolderTree->setObjectName(QStringLiteral("FolderTree"));
  FolderTree->setModel(FolderModel);
  FolderTree->setRootIndex(FolderModel->index(QDir::rootPath()));
  for (int column = 1; column < FolderModel->columnCount(); ++column) FolderTree->hideColumn(column);
  FolderTree->header()->hide();
  FolderTree->setSortingEnabled(true);
  FolderTree->sortByColumn(0, Qt::AscendingOrder);
  layout->addWidget(FolderTree, 1);

  FileModel = new QFileSystemModel(this);
  FileModel->setFilter(QDir::Files | QDir::NoDotAndDotDot);
  LocalFileList = new QListView;
  LocalFileList->setObjectName(QStringLiteral("LocalFileList"));
  LocalFileList->setModel(FileModel);
  FileModel->sort(0, Qt::AscendingOrder);
  LocalFileList->setSelectionMode(QAbstractItemView::ExtendedSelection);
  LocalFileList->setDragEnabled(true);
  LocalFileList->setDragDropMode(QAbstractItemView::DragOnly);
  layout->addWidget(LocalFileList, 1);

  connect(FolderTree, &QTreeView::clicked, this,
          [this](const QModelIndex& index) { ShowLocalFolder(FolderModel->filePath(index)); });
  return LocalGroup;
}

QWidget* TQelFTPDlg::BuildRemote() {
  RemoteGroup = new QGroupBox(QStringLiteral("Remote Directory"));
  auto* layout = new QVBoxLayout(RemoteGroup);
  RemoteList = new QListWidget;
  RemoteList->setObjectName(QStringLiteral("RemoteList"));
  RemoteList->setSelectionMode(QAbstractItemView::ExtendedSelection);
  RemoteList->setDragEnabled(true);
  RemoteList->setDragDropMode(QAbstractItemView::DragOnly);
  layout->addWidget(RemoteList, 1);
  auto* buttons = new QHBoxLayout;
  CdupBtn = new QPushButton(QStringLiteral("CDUP"));
  DirBtn = new QPushButton(QStringLiteral("DIR"));
  HelpBtn = new QPushButton(QStringLiteral("HELP"));
  for (QPushButton* button : {CdupBtn, DirBtn, HelpBtn}) buttons->addWidget(button);
  layout->addLayout(buttons);
  connect(CdupBtn, &QPushButton::clicked, this, &TQelFTPDlg::CdupClick);
  connect(DirBtn, &QPushButton::clicked, this, &TQelFTPDlg::DirClick);
  connect(HelpBtn, &QPushButton::clicked, this, &TQelFTPDlg::HelpClick);
  connect(RemoteList, &QListWidget::itemDoubleClicked, this, &TQelFTPDlg::RemoteDoubleClicked);
  return RemoteGroup;
}

QWidget* TQelFTPDlg::BuildTransferBox() {
  auto* column = new QWidget;
  auto* layout = new QVBoxLayout(column);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(new QLabel(QStringLiteral("Transfer")));
  TransferBox = new TFtpDropBox;
  TransferBox->setObjectName(QStringLiteral("TransferBox"));
  layout->addWidget(TransferBox);
  // The queue: each entry shows its direction; Delete removes it.
  QueueList = new QListWidget;
  QueueList->setObjectName(QStringLiteral("QueueList"));
  QueueList->setMaximumWidth(150);
  QueueList->installEventFilter(this);
  layout->addWidget(QueueList, 1);
  connect(TransferBox, &TFtpDropBox::LocalFilesDropped, this, &TQelFTPDlg::QueueLocalFiles);
  connect(TransferBox, &TFtpDropBox::RemoteEntriesDropped, this, [this] {
    QStringList names;
    for (const QListWidgetItem* item : RemoteList->selectedItems())
      if (!item->data(kRoleIsDirectory).toBool()) names << item->text();
    QueueRemoteEntries(names);
  });
  return column;
}

bool TQelFTPDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == QueueList && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if ((key == Qt::Key_Delete || key == Qt::Key_Backspace) && QueueList->currentRow() >= 0) {
      Transfers.Remove(static_cast<std::size_t>(QueueList->currentRow()));
      RefreshQueueList();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TQelFTPDlg::ConnectClick() {
  const std::string host = ToStd(HostNameEdt->text().trimmed());
  if (host.empty()) {
    TMessageBox box;
    box.Icon = TMsgIcon::Error;
    box.Text = kNoHostName;
    box.Buttons = mbOK;
    Desktop.ShowMessage(box);
    return;
  }
  ConnectBtn->setEnabled(false);
  HostShown = FromStd(host);
  TFtpSecurity security;
  security.Protocol = static_cast<std::uint8_t>(std::max(0, ProtocolCmb->currentIndex()));
  if (Connection) {
    security.KnownHostsFile = Connection->KnownHostsFile;
    security.KeyFile = Connection->SshKeyFile;
  }
  Ftp->SetSecurity(security);
  Ftp->Connect(host, TFtpClient::DefaultPort(security.Protocol), ToStd(UserNameEdt->text()),
               ToStd(PasswordEdt->text()), ToStd(AccountEdt->text()));
}

void TQelFTPDlg::StartClick() {
  SaveParameters();
  if (!Connected) return;
  Ftp->SetType(AsciiRb->isChecked() ? ftAscii : ftBinary);
  TransferWindow->Clear();
  TransferWindow->show();
  Transfers.Start();
  AbortBtn->setEnabled(Transfers.Running());
}

void TQelFTPDlg::AbortClick() {
  Transfers.Stop();
  if (Connected) Ftp->Abort();
  AbortBtn->setEnabled(false);
}

void TQelFTPDlg::DisconnectClick() { Ftp->Disconnect(); }

void TQelFTPDlg::CloseClick() {
  Ftp->Abort();
  Ftp->Disconnect();
  close();
}

void TQelFTPDlg::SendClick() {
  if (!Connected) return;
  const auto command = ParseTypedCommand(ToStd(CommandEdt->text()));
  if (!command) return;
  Say(command->StatusLine);
  switch (command->Kind) {
    case tcChangeDirectory: Ftp->ChangeDirectory(command->Rest); break;
    case tcPrintDirectory: Ftp->PrintDirectory(); break;
    case tcList: Ftp->List(command->Rest, false); break;
    case tcNameList: Ftp->List(command->Rest, true); break;
    case tcAbort:
      Transfers.Stop();
      Ftp->Abort();
      AbortBtn->setEnabled(false);
      break;
    case tcHelp: Ftp->Help(command->Rest); break;
    case tcExecute: Ftp->Execute(command->Rest); break;
  }
  CommandEdt->clear();
}

void TQelFTPDlg::CdupClick() {
  if (Connected) Ftp->ParentDirectory();
}

void TQelFTPDlg::DirClick() {
  if (!Connected) return;
  Say("S: LIST");
  Ftp->List("", false);
}

void TQelFTPDlg::HelpClick() {
  if (Connected) Ftp->Help("");
}

void TQelFTPDlg::QueueLocalFiles(const QStringList& paths) {
  for (const QString& path : paths)
    if (QFileInfo(path).isFile()) Transfers.Add({ToStd(path), fdSend});
  RefreshQueueList();
}

void TQelFTPDlg::QueueRemoteEntries(const QStringList& names) {
  for (const QString& name : names) Transfers.Add({ToStd(name), fdReceive});
  RefreshQueueList();
}

void TQelFTPDlg::ShowLocalFolder(const QString& path) {
  CurrentLocalFolder = QDir(path).absolutePath();
  const QModelIndex index = FolderModel->index(CurrentLocalFolder);
  FolderTree->setCurrentIndex(index);
  FolderTree->scrollTo(index);
  LocalFileList->setRootIndex(FileModel->setRootPath(CurrentLocalFolder));
  LocalGroup->setTitle(QStringLiteral("Local Directory : ") + CurrentLocalFolder);
}

QStringList TQelFTPDlg::History() const {
  QStringList lines;
  for (int i = 0; i < StatusCombo->count(); ++i) lines << StatusCombo->itemText(i);
  return lines;
}

void TQelFTPDlg::Say(const std::string& line) {
  if (StatusCombo->count() >= kHistoryLimit) StatusCombo->removeItem(0);
  StatusCombo->addItem(FromStd(line));
  StatusCombo->setCurrentIndex(StatusCombo->count() - 1);
}

void TQelFTPDlg::TakeClientEvents() {
  if (!Ftp) return;
  for (const TFtpEvent& event : Ftp->TakeEvents()) HandleEvent(event);
}

void TQelFTPDlg::HandleEvent(const TFtpEvent& event) {
  for (const std::string& line : FtpStatusLines(event)) Say(line);
  switch (event.Kind) {
    case fvState: HandleState(event.Value); break;
    case fvProtocolState: Authorised = event.Value == fpTransaction; break;
    case fvSystem: setWindowTitle(QString::fromLatin1(kFtpConnectedCaption) + QLatin1Char(' ') + HostShown); break;
    case fvDirectory:
      RemoteGroup->setTitle(FromStd(RemoteDirectoryCaption(event.Text)));
      Ftp->List("", false);  // the new directory's contents
      break;
    case fvPrintDirectory: RemoteGroup->setTitle(FromStd(RemoteDirectoryCaption(event.Text))); break;
    case fvListItem: {
      TFtpListEntry entry = ParseListLine(event.Text);
      if (!entry.Name.empty() && entry.Name != "." && entry.Name != "..") Listed.push_back(std::move(entry));
      break;
    }
    case fvListDone: FillRemoteList(); break;
    case fvError:
      // A listing that failed half-way is not the directory's contents.
      if (event.Value == fcListFailed || event.Value == fcNameListFailed) Listed.clear();
      break;
    case fvProgress: TransferWindow->ShowBytes(event.Bytes); break;
    case fvTransferDone: TransferWindow->ShowBytes(event.Bytes); break;
    case fvQuestion: Ftp->Answer(event.Value, AskTrust(event.Text)); break;
    default: break;
  }
}

void TQelFTPDlg::HandleState(int state) {
  if (state == fsConnected) Connected = true;
  if (state != fsDisconnected) return;
  setWindowTitle(QString::fromLatin1(kFtpCaption));
  ConnectBtn->setEnabled(true);
  Transfers.Stop();
  AbortBtn->setEnabled(false);
  Connected = false;
  Authorised = false;
  RemoteGroup->setTitle(QStringLiteral("Remote Directory"));
  RemoteList->clear();
  Listed.clear();
}

void TQelFTPDlg::FillRemoteList() {
  RemoteList->clear();
  const QIcon folder = style()->standardIcon(QStyle::SP_DirIcon);
  const QIcon file = style()->standardIcon(QStyle::SP_FileIcon);
  for (const TFtpListEntry& entry : Listed) {
    auto* item = new QListWidgetItem(entry.IsDirectory ? folder : file, FromStd(entry.Name), RemoteList);
    item->setData(kRoleIsDirectory, entry.IsDirectory);
  }
  Listed.clear();
}

void TQelFTPDlg::RemoteDoubleClicked(QListWidgetItem* item) {
  if (!Connected || !item || !item->data(kRoleIsDirectory).toBool()) return;
  Say("DIR : " + ToStd(item->text()));
  Ftp->ChangeDirectory(ToStd(item->text()));
}

void TQelFTPDlg::AdvanceTransfers() {
  if (!Transfers.Running()) return;
  const TFtpTransferSequence::TAction action = Transfers.Advance(Ftp->Busy());
  switch (action.Kind) {
    case TFtpTransferSequence::TAction::aSend: {
      const std::string name = FtpFileName(action.File.Name);
      Say("Sending File : " + action.File.Name);
      TransferWindow->ShowFile(QStringLiteral("Sending"), FromStd(name));
      Ftp->Put(action.File.Name, name);
      break;
    }
    case TFtpTransferSequence::TAction::aReceive: {
      const std::string local = ToStd(CurrentLocalFolder) + "/" + FtpFileName(action.File.Name);
      Say("Receiving File : " + action.File.Name);
      TransferWindow->ShowFile(QStringLiteral("Receiving"), FromStd(action.File.Name));
      Ftp->Get(action.File.Name, local);
      break;
    }
    case TFtpTransferSequence::TAction::aRefresh:
      Say("S: LIST");
      Say("S: NameLIST");
      Ftp->List("", false);
      break;
    case TFtpTransferSequence::TAction::aDone:
      AbortBtn->setEnabled(false);
      TransferWindow->hide();
      break;
    case TFtpTransferSequence::TAction::aNone: break;
  }
  RefreshQueueList();
}

void TQelFTPDlg::RefreshQueueList() {
  QueueList->clear();
  for (const TFtpQueuedFile& file : Transfers.Queued())
    QueueList->addItem((file.Direction == fdSend ? QStringLiteral("> ") : QStringLiteral("< ")) +
                       FromStd(FtpFileName(file.Name)));
}

void TQelFTPDlg::DeleteWorkFiles() {
  std::remove(WorkFileIn.c_str());
  std::remove(WorkFileOut.c_str());
}

// A host key or a certificate nobody vouches for: the user decides, No
// unless they say otherwise.
bool TQelFTPDlg::AskTrust(const std::string& question) {
  TMessageBox box;
  box.Icon = TMsgIcon::Warning;
  box.Text = question;
  box.Caption = "Qel FTP Dialog";
  box.Buttons = mbYes | mbNo | mbDefaultNo;
  const bool yes = Desktop.ShowMessage(box) == TMsgResult::Yes;
  Say(yes ? "Trusted by the user" : "Not trusted: connection refused");
  return yes;
}

void TQelFTPDlg::SaveParameters() {
  if (Connection) Connection->FTPProtocol = static_cast<std::uint8_t>(std::max(0, ProtocolCmb->currentIndex()));
  Settings.FTPUserName = ToStd(UserNameEdt->text());
  Settings.FTPPassword = ToStd(PasswordEdt->text());
  Settings.FTPHostName = ToStd(HostNameEdt->text());
  Settings.FTPAccount = ToStd(AccountEdt->text());
}
