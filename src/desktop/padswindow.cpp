#include "desktop/padswindow.h"

#include <QAbstractEventDispatcher>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/session.h"
#include "core/desktop.h"
#include "transfer/padssession.h"

namespace {

constexpr const char* kFilter =
    "GLS/HOT/PLS/DUF Files (*.GLS,*.HOT,*.PLS,*.DUF)|*.GLS;*.HOT;*.PLS;*.DUF|TXT Files    (*.TXT)|*.TXT|All File "
    "Types(*.*)|*.*";

}  // namespace

TPadsWindow::TPadsWindow(TSession& session, QWidget* parent)
    : QDialog(parent), S(session), Session(std::make_unique<pads::TPadsSession>(session)) {
  setWindowTitle("PADS communication");
  setModal(true);
  BuildControls();
  Session->Protocol().Changed = [this] { Refresh(); };
  Deadline.setSingleShot(true);
  connect(&Deadline, &QTimer::timeout, this, &TPadsWindow::Pump);
  // Received bytes reach the ring while the window's events run; the
  // protocol takes them as soon as the loop falls idle, and its own waits
  // wake it through the deadline timer.
  IdleHook = connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
                     &TPadsWindow::Pump);
  Refresh();
}

TPadsWindow::~TPadsWindow() {
  disconnect(IdleHook);
  Session->Protocol().Changed = nullptr;
}

void TPadsWindow::Run(TSession& session, QWidget* parent) {
  TPadsWindow window(session, parent);
  window.exec();
}

void TPadsWindow::BuildControls() {
  auto* status = new QGroupBox("Status");
  auto* statusLayout = new QVBoxLayout(status);
  StatusLabel = new QLabel;
  List = new QListWidget;
  List->setFont(QFont("Courier New", 9));
  List->setMinimumSize(440, 200);
  statusLayout->addWidget(StatusLabel);
  statusLayout->addWidget(List);

  auto* commandsLabel = new QLabel("Commands");
  Commands = new QLineEdit;
  commandsLabel->setBuddy(Commands);
  connect(Commands, &QLineEdit::returnPressed, this, [this] {
    const QString line = Commands->text();
    Commands->clear();
    Execute(line);
  });

  auto* exchange = new QGroupBox("Exchange");
  auto* exchangeLayout = new QGridLayout(exchange);
  DeviceId = new QLineEdit;
  FileId = new QLineEdit;
  Deallocate = new QPushButton("Deallocate");
  exchangeLayout->addWidget(new QLabel("Device ID"), 0, 0);
  exchangeLayout->addWidget(DeviceId, 0, 1);
  exchangeLayout->addWidget(new QLabel("File ID"), 1, 0);
  exchangeLayout->addWidget(FileId, 1, 1);
  exchangeLayout->addWidget(Deallocate, 0, 2, 2, 1);
  connect(Deallocate, &QPushButton::clicked, this, [this] { Execute("DEA " + Ids()); });

  auto* local = new QGroupBox("Local File Name");
  auto* localLayout = new QHBoxLayout(local);
  LocalName = new QLineEdit;
  Browse = new QPushButton("Browse");
  localLayout->addWidget(LocalName);
  localLayout->addWidget(Browse);
  connect(Browse, &QPushButton::clicked, this, &TPadsWindow::BrowseClicked);

  Read = new QPushButton("Read");
  Write = new QPushButton("Write");
  connect(Read, &QPushButton::clicked, this, [this] { Execute("READ " + Ids() + " " + LocalName->text()); });
  connect(Write, &QPushButton::clicked, this, [this] { Execute("WRITE " + Ids() + " " + LocalName->text()); });
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(Read);
  buttons->addWidget(Write);

  // Enter belongs to the "Commands" field: no button is the dialog's default.
  for (QPushButton* button : {Deallocate, Browse, Read, Write}) button->setAutoDefault(false);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(status);
  auto* commandRow = new QHBoxLayout;
  commandRow->addWidget(commandsLabel);
  commandRow->addWidget(Commands);
  layout->addLayout(commandRow);
  layout->addWidget(exchange);
  layout->addWidget(local);
  layout->addLayout(buttons);
}

QString TPadsWindow::Ids() const { return DeviceId->text().trimmed() + "," + FileId->text().trimmed(); }

void TPadsWindow::Execute(const QString& line) {
  Session->Execute(line.toStdString());
  Pump();
}

void TPadsWindow::BrowseClicked() {
  TFileDialog dialog;
  dialog.Title = "Open File";
  dialog.Filter = kFilter;
  dialog.InitialName = LocalName->text().toStdString();
  if (const auto chosen = S.Desktop.FileDialog(dialog)) LocalName->setText(QString::fromStdString(*chosen));
}

void TPadsWindow::Pump() {
  if (!Opened) return;
  Session->Pump();
  if (const auto due = Session->Deadline()) {
    const auto wait = static_cast<std::int32_t>(*due - S.Desktop.TickCount());
    Deadline.start(std::max(0, wait));
  } else {
    Deadline.stop();
  }
  if (Session->Protocol().Finished && isVisible()) accept();
}

// The list follows the protocol's lines: a progress text replaces the one
// before it, so only the tail changes.
void TPadsWindow::Refresh() {
  const pads::TPadsProtocol& protocol = Session->Protocol();
  StatusLabel->setText(QString::fromStdString("Status : " + pads::StateText(protocol.State)));
  const auto& lines = protocol.Lines;
  const int shown = List->count();
  const int wanted = static_cast<int>(lines.size());
  if (shown > wanted || (shown > 0 && wanted > 0 && List->item(0)->text().toStdString() != lines.front())) {
    List->clear();
  }
  for (int i = std::max(0, List->count() - 1); i < wanted; ++i) {
    const QString text = QString::fromStdString(lines[static_cast<std::size_t>(i)]);
    if (i < List->count()) List->item(i)->setText(text);
    else List->addItem(text);
  }
  List->scrollToBottom();
  const bool ready = !protocol.Busy() && protocol.State == pads::psActive;
  for (QWidget* control : {static_cast<QWidget*>(Commands), static_cast<QWidget*>(DeviceId),
                           static_cast<QWidget*>(FileId), static_cast<QWidget*>(LocalName),
                           static_cast<QWidget*>(Deallocate), static_cast<QWidget*>(Browse),
                           static_cast<QWidget*>(Read), static_cast<QWidget*>(Write)}) {
    control->setEnabled(ready);
  }
}

void TPadsWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (Opened) return;
  Opened = true;
  // Without a capture running there is no PADS to talk to: close at once.
  if (!Session->Open()) {
    QMetaObject::invokeMethod(this, &QDialog::reject, Qt::QueuedConnection);
    return;
  }
  Refresh();
  Pump();
}

// Closing while linked runs the exit first; the window goes when it is done.
void TPadsWindow::closeEvent(QCloseEvent* event) {
  if (Session->Protocol().Finished) {
    QDialog::closeEvent(event);
    return;
  }
  event->ignore();
  Session->Close();
  Pump();
}

void TPadsWindow::reject() {
  if (Session->Protocol().Finished) {
    QDialog::reject();
    return;
  }
  Session->Close();
  Pump();
}
