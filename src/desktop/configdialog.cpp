#include "desktop/configdialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFontDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include "comms/addressfilter.h"
#include "core/desktop.h"
#include "desktop/attributechooser.h"
#include "desktop/helpwindow.h"

namespace {
constexpr const char* kShown = "shownValue";  // what a control showed when filled

template <std::size_t N>
void ShowText(QLineEdit* edit, const TShortString<N>& field) {
  const QString text = QString::fromLocal8Bit(field.view().data(), static_cast<int>(field.view().size()));
  edit->setMaxLength(static_cast<int>(N));
  edit->setText(text);
  edit->setCursorPosition(0);
  edit->setProperty(kShown, text);
}

// An edit the user left alone keeps the field's bytes as they are (a name
// from a Windows file need not be valid in the local encoding).
template <std::size_t N>
void StoreText(const QLineEdit* edit, TShortString<N>& field) {
  if (edit->text() == edit->property(kShown).toString()) return;
  field = edit->text().toLocal8Bit().toStdString();
}

template <typename T>
void StoreSpin(const QSpinBox* spin, T& field) {
  if (spin->value() != spin->property(kShown).toInt()) field = static_cast<T>(spin->value());
}

QGroupBox* RadioGroup(const char* title, const char* const* items, std::size_t count, int checked,
                      QButtonGroup*& group, QWidget* owner) {
  auto* box = new QGroupBox(title);
  auto* layout = new QVBoxLayout(box);
  group = new QButtonGroup(owner);
  for (std::size_t i = 0; i < count; ++i) {
    auto* radio = new QRadioButton(items[i]);
    group->addButton(radio, static_cast<int>(i));
    layout->addWidget(radio);
    radio->setChecked(static_cast<int>(i) == checked);
  }
  layout->addStretch();
  return box;
}

QPixmap Swatch(const QColor& foreground, const QColor& background, bool withText) {
  QPixmap pixmap(28, 16);
  pixmap.fill(background);
  QPainter painter(&pixmap);
  painter.setPen(Qt::gray);
  painter.drawRect(0, 0, 27, 15);
  if (withText) {
    QFont font = painter.font();
    font.setPixelSize(11);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(foreground);
    painter.drawText(pixmap.rect(), Qt::AlignCenter, "Ab");
  }
  return pixmap;
}

QFont FontOf(const TSetupRecord& r) {
  QFont font(QString::fromLatin1(r.FontName.view().data(), static_cast<int>(r.FontName.view().size())));
  font.setPointSize(r.FontSize > 0 ? r.FontSize : 8);
  font.setBold(r.FontStyle & fsBold);
  font.setItalic(r.FontStyle & fsItalic);
  font.setUnderline(r.FontStyle & fsUnderline);
  font.setStrikeOut(r.FontStyle & fsStrikeOut);
  return font;
}

QWidget* Page(QLayout* layout) {
  auto* page = new QWidget;
  page->setLayout(layout);
  return page;
}
}  // namespace

TConfigDialog::TConfigDialog(const TSetupRecord& settings, const TConnectionSettings& connection, TDesktop& desktop,
                             QWidget* parent)
    : QDialog(parent), Record(settings), Connection(connection), Desktop(desktop) {
  setWindowTitle("QelWin Configuration Parameters");
  ChooseColor = [this](TColor current, const QString& title) -> std::optional<TColor> {
    const QColor chosen = QColorDialog::getColor(ToQColor(current), this, title);
    if (!chosen.isValid()) return std::nullopt;
    return FromQColor(chosen);
  };
  ChooseFont = [this](const QFont& current) -> std::optional<QFont> {
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, current, this, "Font");
    if (!ok) return std::nullopt;
    return chosen;
  };
  ChooseAttributes = [this](const QString& caption,
                            const TAttributeChoice& preset) -> std::optional<TAttributeChoice> {
    TAttributeChooser chooser(caption, preset, this);
    if (chooser.exec() != QDialog::Accepted) return std::nullopt;
    return chooser.Choice();
  };

  Tabs = new QTabWidget;
  Tabs->setTabPosition(QTabWidget::South);
  Tabs->addTab(DisplayPage(), " Display ");
  Tabs->addTab(FilesPage(), " Files ");
  Tabs->addTab(ConnectivityPage(), " Connectivity ");
  Tabs->addTab(TracePage(), " Trace Parameters ");
  Tabs->addTab(TransferPage(), " Transfer Parameters");
  Tabs->addTab(AdvancedPage(), " Advanced");

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply |
                                       QDialogButtonBox::Help);
  connect(buttons, &QDialogButtonBox::helpRequested, this,
          [this] { ShowHelpTopic(this, QString::fromLatin1(help::kConfigure)); });
  connect(buttons, &QDialogButtonBox::accepted, this, &TConfigDialog::Ok);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, this, &TConfigDialog::Apply);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Tabs);
  layout->addWidget(buttons);
  Tabs->setUsesScrollButtons(false);  // every tab in sight
  resize(700, 460);
}

// ------------------------------------------------------------ pages

QCheckBox* TConfigDialog::Check(const char* caption, std::uint8_t TSetupRecord::*field) {
  auto* box = new QCheckBox(caption);
  // "Lazy Scroll" is on only at 1; the others at anything but 0.
  box->setChecked(field == &TSetupRecord::LazyScroll ? Record.*field == 1 : Record.*field != 0);
  box->setProperty(kShown, box->isChecked());
  Checks.emplace_back(box, field);
  return box;
}

QComboBox* TConfigDialog::Combo(const char* const* items, std::size_t count, std::uint8_t value) {
  auto* combo = new QComboBox;
  for (std::size_t i = 0; i < count; ++i) combo->addItem(items[i]);
  combo->setCurrentIndex(ComboChoice(value, count));
  return combo;
}

QSpinBox* TConfigDialog::Spin(int minimum, int maximum, int value) {
  auto* spin = new QSpinBox;
  spin->setRange(minimum, maximum);
  spin->setValue(value);
  spin->setProperty(kShown, spin->value());
  spin->setMinimumWidth(70);
  spin->setMaximumWidth(90);
  return spin;
}

QPushButton* TConfigDialog::ColorButton(const char* caption, TColor TSetupRecord::*field) {
  auto* button = new QPushButton(caption);
  button->setIconSize({28, 16});
  ShowColor(button, Record.*field);
  connect(button, &QPushButton::clicked, this, [this, button, caption, field] {
    const std::optional<TColor> chosen = ChooseColor(Record.*field, caption);
    if (!chosen) return;
    Record.*field = *chosen;
    ShowColor(button, *chosen);
  });
  return button;
}

void TConfigDialog::ShowColor(QPushButton* button, TColor color) const {
  button->setIcon(Swatch(Qt::black, ToQColor(color), false));
}

QWidget* TConfigDialog::DisplayPage() {
  auto* groups = new QHBoxLayout;
  auto* left = new QVBoxLayout;
  left->addWidget(RadioGroup("Emulation", kEmulationItems.data(), kEmulationItems.size(),
                             ComboChoice(Record.Emulation, kEmulationItems.size()), Emulation, this));
  left->addWidget(RadioGroup("Screen Size", kScreenSizeItems.data(), kScreenSizeItems.size(),
                             ComboChoice(Record.ScreenSize, kScreenSizeItems.size()), ScreenSize, this));
  left->addWidget(RadioGroup("Backspace Sends", kBackSpaceItems.data(), kBackSpaceItems.size(),
                             ComboChoice(Record.BackSpaceSends, kBackSpaceItems.size()), BackSpace, this));
  groups->addLayout(left);

  auto* right = new QVBoxLayout;
  auto* options = new QGroupBox("Terminal");
  auto* optionsLayout = new QGridLayout(options);
  optionsLayout->addWidget(Check("Wrap", &TSetupRecord::Wrap), 0, 0);
  optionsLayout->addWidget(Check("Local Echo", &TSetupRecord::LocalEcho), 1, 0);
  optionsLayout->addWidget(Check("New Line", &TSetupRecord::NewLine), 2, 0);
  optionsLayout->addWidget(Check("Lazy Scroll", &TSetupRecord::LazyScroll), 0, 1);
  optionsLayout->addWidget(Check("Follow Cursor", &TSetupRecord::FollowCursor), 1, 1);
  optionsLayout->addWidget(Check("ETX Send Ack", &TSetupRecord::ETXAck), 2, 1);
  right->addWidget(options);

  auto* looks = new QGroupBox("Colours and Font");
  auto* looksLayout = new QGridLayout(looks);
  looksLayout->addWidget(ColorButton("Foreground", &TSetupRecord::ForegroundColor), 0, 0);
  looksLayout->addWidget(ColorButton("Background", &TSetupRecord::BackgroundColor), 1, 0);
  looksLayout->addWidget(ColorButton("Blink", &TSetupRecord::BlinkColor), 2, 0);
  looksLayout->addWidget(ColorButton("Mark Foreground", &TSetupRecord::MarkForegroundColor), 0, 1);
  looksLayout->addWidget(ColorButton("Mark Background", &TSetupRecord::MarkBackgroundColor), 1, 1);
  FontButton = new QPushButton("Font...");
  connect(FontButton, &QPushButton::clicked, this, &TConfigDialog::PickFont);
  looksLayout->addWidget(FontButton, 2, 1);
  FontLabel = new QLabel;
  FontLabel->setAlignment(Qt::AlignRight);
  looksLayout->addWidget(FontLabel, 3, 0, 1, 2);
  right->addWidget(looks);
  right->addStretch();
  groups->addLayout(right, 1);
  ShowFont();
  return Page(groups);
}

QWidget* TConfigDialog::FilesPage() {
  auto* layout = new QVBoxLayout;
  auto* form = new QFormLayout;
  form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
  for (int e = 0; e < feCount; ++e) {
    const TFileEditInfo& info = FileEditInfo(static_cast<TFileEdit>(e));
    auto* edit = new QLineEdit;
    ShowText(edit, Record.*info.Field);
    edit->installEventFilter(this);
    FileEdits[e] = edit;
    if (info.Hidden) {
      edit->hide();  // kept in the record; no row of its own
      edit->setParent(this);
      continue;
    }
    form->addRow(info.Label, edit);
  }
  layout->addLayout(form);
  auto* browse = new QPushButton("Browse...");
  connect(browse, &QPushButton::clicked, this, &TConfigDialog::Browse);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(browse);
  layout->addLayout(row);
  layout->addStretch();
  return Page(layout);
}

QWidget* TConfigDialog::ConnectivityPage() {
  auto* columns = new QHBoxLayout;
  auto* left = new QVBoxLayout;
  left->addWidget(RadioGroup("Communication Port", kComPortItems.data(), kComPortItems.size(),
                             ComPortChoice(Record.ComPort), ComPort, this));
  auto* line = new QGroupBox("Line");
  auto* lineForm = new QFormLayout(line);
  BaudRate = Combo(kBaudRateItems.data(), kBaudRateItems.size(), Record.BaudRate);
  Parity = Combo(kParityItems.data(), kParityItems.size(), Record.Parity);
  FlowControl = Combo(kFlowControlItems.data(), kFlowControlItems.size(), Record.FlowControl);
  StopBits = Combo(kStopBitsItems.data(), kStopBitsItems.size(), 0);
  StopBits->setCurrentIndex(StopBitsChoice(Record.StopBits));
  DataBits = Combo(kDataBitsItems.data(), kDataBitsItems.size(), 0);
  DataBits->setCurrentIndex(DataBitsChoice(Record.DataBits));
  lineForm->addRow("Baudrate", BaudRate);
  lineForm->addRow("Parity", Parity);
  lineForm->addRow("Flow Control", FlowControl);
  lineForm->addRow("Stop Bits", StopBits);
  lineForm->addRow("Data Bits", DataBits);
  left->addWidget(line);
  left->addStretch();
  columns->addLayout(left);

  auto* right = new QVBoxLayout;
  auto* network = new QGroupBox("Network");
  auto* networkForm = new QFormLayout(network);
  HostName = new QLineEdit;
  ShowText(HostName, Record.HostName);
  Port = Combo(kPortItems.data(), kPortItems.size(), Record.Port);
  Port->setEditable(true);
  Port->setInsertPolicy(QComboBox::NoInsert);
  if (Port->currentIndex() < 0) Port->setEditText("");
  networkForm->addRow("Host Name:", HostName);
  networkForm->addRow("Port", Port);
  right->addWidget(network);
  right->addWidget(SecureGroup());

  auto* ftp = new QGroupBox("FTP");
  auto* ftpForm = new QFormLayout(ftp);
  FtpUser = new QLineEdit;
  FtpPassword = new QLineEdit;
  FtpPassword->setEchoMode(QLineEdit::Password);
  FtpHost = new QLineEdit;
  RemotePath = new QLineEdit;
  LocalPath = new QLineEdit;
  RemotePath->setEnabled(false);
  LocalPath->setEnabled(false);
  ShowText(FtpUser, Record.FTPUserName);
  ShowText(FtpPassword, Record.FTPPassword);
  ShowText(FtpHost, Record.FTPHostName);
  ShowText(RemotePath, Record.RemotePath);
  ShowText(LocalPath, Record.LocalPath);
  SecureControls.FtpProtocol = Combo(kFtpProtocolItems.data(), kFtpProtocolItems.size(), Connection.FTPProtocol);
  ftpForm->addRow("Protocol: ", SecureControls.FtpProtocol);
  ftpForm->addRow("User Name: ", FtpUser);
  ftpForm->addRow("Password: ", FtpPassword);
  ftpForm->addRow("Host Name: ", FtpHost);
  ftpForm->addRow("Remote Path: ", RemotePath);
  ftpForm->addRow("Local Path: ", LocalPath);
  right->addWidget(ftp);
  right->addStretch();
  left->insertWidget(left->count() - 1, ListenAndReconnectGroup());
  columns->addLayout(right, 1);
  return Page(columns);
}

QLineEdit* TConfigDialog::FileChooser(QLineEdit* edit, const char* title, QHBoxLayout*& row) {
  row = new QHBoxLayout;
  row->setContentsMargins(0, 0, 0, 0);
  auto* browse = new QPushButton("...");
  browse->setMaximumWidth(28);
  browse->setToolTip(title);
  row->addWidget(edit, 1);
  row->addWidget(browse);
  connect(browse, &QPushButton::clicked, this, [this, edit, title] {
    TFileDialog dialog;
    dialog.Title = title;
    dialog.Filter = "All File Types (*.*)|*.*";
    dialog.InitialName = edit->text().toStdString();
    const std::optional<std::string> chosen = Desktop.FileDialog(dialog);
    if (chosen && !chosen->empty()) edit->setText(QString::fromStdString(*chosen));
  });
  return edit;
}

// How the network session is made, and SSH's own parameters.
QWidget* TConfigDialog::SecureGroup() {
  TSecureControls& c = SecureControls;
  auto* box = new QGroupBox("Secure Shell (SSH)");
  auto* form = new QFormLayout(box);
  auto* kinds = new QHBoxLayout;
  c.Kind = new QButtonGroup(this);
  for (std::size_t i = 0; i < kNetworkKindItems.size(); ++i) {
    auto* radio = new QRadioButton(kNetworkKindItems[i]);
    c.Kind->addButton(radio, static_cast<int>(i));
    radio->setChecked(Connection.NetworkKind == i);
    kinds->addWidget(radio);
  }
  kinds->addStretch();
  form->addRow("Network Button:", kinds);
  c.User = new QLineEdit(QString::fromStdString(Connection.SshUserName));
  c.User->setMaxLength(static_cast<int>(TConnectionSettings::kNameCapacity));
  c.User->setPlaceholderText("the local user");
  form->addRow("User Name:", c.User);
  c.Port = Spin(1, 65535, Connection.SshPort);
  c.KeepAlive = Spin(0, 3600, Connection.SshKeepAlive);
  auto* numbers = new QHBoxLayout;
  numbers->addWidget(c.Port);
  numbers->addWidget(new QLabel("Keep-alive (s):"));
  numbers->addWidget(c.KeepAlive);
  numbers->addStretch();
  form->addRow("SSH Port:", numbers);
  QHBoxLayout* row = nullptr;
  c.KeyFile = FileChooser(new QLineEdit(QString::fromStdString(Connection.SshKeyFile)), "SSH Key File", row);
  c.KeyFile->setMaxLength(static_cast<int>(TConnectionSettings::kPathCapacity));
  c.KeyFile->setPlaceholderText("~/.ssh/id_rsa, id_ecdsa, id_ed25519");
  form->addRow("Key File:", row);
  c.KnownHosts = FileChooser(new QLineEdit(QString::fromStdString(Connection.KnownHostsFile)), "Known Hosts File", row);
  c.KnownHosts->setMaxLength(static_cast<int>(TConnectionSettings::kPathCapacity));
  c.KnownHosts->setPlaceholderText("~/.ssh/known_hosts");
  form->addRow("Known Hosts:", row);
  return box;
}

// Who may call the listening port, and coming back after a drop.
QWidget* TConfigDialog::ListenAndReconnectGroup() {
  TSecureControls& c = SecureControls;
  auto* box = new QGroupBox("Listen and Reconnect");
  auto* form = new QFormLayout(box);
  c.ListenAllow = new QLineEdit(QString::fromStdString(Connection.ListenAllow));
  c.ListenAllow->setMaxLength(static_cast<int>(TConnectionSettings::kAllowCapacity));
  c.ListenAllow->setPlaceholderText("anyone");
  c.ListenAllow->setToolTip("Listen Port takes calls only from these addresses and networks, e.g. "
                            "10.20.0.0/16 192.168.7.5 2001:db8:40::/48 ::1; empty: from anyone");
  form->addRow("Allow Callers:", c.ListenAllow);
  c.Reconnect = new QCheckBox("Reconnect after a drop");
  c.Reconnect->setChecked(Connection.Reconnect != 0);
  form->addRow(c.Reconnect);
  c.ReconnectLimit = Spin(1, 100, Connection.ReconnectLimit);
  c.ReconnectDelay = Spin(1, 600, Connection.ReconnectDelay);
  form->addRow("Attempts:", c.ReconnectLimit);
  form->addRow("First Wait (s):", c.ReconnectDelay);
  return box;
}

QWidget* TConfigDialog::TracePage() {
  auto* columns = new QHBoxLayout;
  auto* left = new QVBoxLayout;
  auto* display = new QGroupBox("Trace");
  auto* displayLayout = new QVBoxLayout(display);
  displayLayout->addWidget(Check("Display Msg Header", &TSetupRecord::DisplayMsgHeader));
  displayLayout->addWidget(Check("Display Msg Buffer", &TSetupRecord::DisplayMsgBuffer));
  displayLayout->addWidget(Check("Display User Buffer", &TSetupRecord::DisplayUserBuffer));
  displayLayout->addWidget(Check("Convert Set Elements", &TSetupRecord::ConvertSetElements));
  displayLayout->addWidget(Check("Background Logging", &TSetupRecord::BackgroundLogging));
  displayLayout->addWidget(Check("'COL' turns trace on", &TSetupRecord::ColTurnsTrace));
  displayLayout->addWidget(Check("':COL' turns MINI-trace on", &TSetupRecord::ColTurnsMiniTrace));
  left->addWidget(display);
  auto* typeForm = new QFormLayout;
  QuorixType = Combo(kQuorixTypeItems.data(), kQuorixTypeItems.size(), Record.QuorixType);
  typeForm->addRow("Quorix Type", QuorixType);
  left->addLayout(typeForm);
  left->addStretch();
  columns->addLayout(left);

  auto* attributes = new QGroupBox("Attributes");
  auto* grid = new QGridLayout(attributes);
  int shown = 0;
  for (int i = 0; i < kAttributeButtonCount; ++i) {
    const TAttributeButton& info = AttributeButton(i);
    auto* button = new QPushButton(info.Caption);
    button->setIconSize({28, 16});
    ShowAttributes(button, Record.*info.Block);
    connect(button, &QPushButton::clicked, this, [this, i, button] { PickAttributes(i, button); });
    if (info.Hidden) {
      button->hide();
      button->setParent(this);
      continue;
    }
    grid->addWidget(button, shown / 2, shown % 2);
    ++shown;
  }
  grid->setRowStretch(grid->rowCount(), 1);
  columns->addWidget(attributes, 1);
  return Page(columns);
}

QWidget* TConfigDialog::TransferPage() {
  auto* columns = new QHBoxLayout;
  auto* send = new QGroupBox("Send");
  auto* sendForm = new QFormLayout(send);
  CharDelay = Combo(kCharDelayItems.data(), kCharDelayItems.size(), Record.CharDelay);
  LineDelay = Combo(kLineDelayItems.data(), kLineDelayItems.size(), Record.LineDelay);
  EndOfLine = Combo(kEndOfLineItems.data(), kEndOfLineItems.size(), Record.EOL);
  WaitChar = new QLineEdit(QString::fromLatin1(WaitCharText(Record.WaitChar).c_str()));
  WaitChar->setMaximumWidth(80);
  LineDly = Spin(0, 100, Record.LineDly);
  sendForm->addRow("Character Delay", CharDelay);
  sendForm->addRow("Line Delay", LineDelay);
  sendForm->addRow("Wait After Line", LineDly);
  sendForm->addRow("Char To Wait For", WaitChar);
  sendForm->addRow("End Of Line", EndOfLine);
  sendForm->addRow(Check("Send Ctrl-Z at EOF", &TSetupRecord::EOFCtrlZ));
  sendForm->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
  auto* left = new QVBoxLayout;
  left->addWidget(send);
  left->addStretch();
  columns->addLayout(left, 1);

  auto* right = new QVBoxLayout;
  auto* receive = new QGroupBox("Receive");
  auto* receiveLayout = new QVBoxLayout(receive);
  receiveLayout->addWidget(Check("Ctrl-Z EOF", &TSetupRecord::CtrlZEnd));
  receiveLayout->addWidget(Check("Suppress Ctrl-Char", &TSetupRecord::SuppressCtrlChar));
  right->addWidget(receive);
  right->addStretch();
  columns->addLayout(right);
  return Page(columns);
}

QWidget* TConfigDialog::AdvancedPage() {
  auto* columns = new QHBoxLayout;
  auto* keys = new QGroupBox("Soft Keys");
  auto* keysForm = new QFormLayout(keys);
  SoftKeyDelay = Spin(0, 100, Record.SoftKeyDelay);
  MaxEchoDelay = Spin(0, 50, Record.MaxEchoDelay);
  keysForm->addRow("SoftKey Delay", SoftKeyDelay);
  keysForm->addRow("Max Echo Delay", MaxEchoDelay);
  keysForm->addRow(Check("Wait for Echo", &TSetupRecord::SoftkeyEcho));
  keysForm->addRow(Check("Esc Flushes Inbuffer", &TSetupRecord::EscFlush));

  auto* pads = new QGroupBox("PADS");
  auto* padsForm = new QFormLayout(pads);
  PadsRetries = Spin(1, 5, Record.PadsRetries);
  PadsDelay = Spin(0, 10, Record.PadsDelay);
  padsForm->addRow(Check("Use Improved Protocol", &TSetupRecord::ImprovedProtocol));
  padsForm->addRow("Nbr of Retries", PadsRetries);
  padsForm->addRow("Pads Delay", PadsDelay);
  auto* right = new QVBoxLayout;
  right->addWidget(pads);
  right->addStretch();
  auto* left = new QVBoxLayout;
  left->addWidget(keys);
  left->addStretch();
  columns->addLayout(left, 1);
  columns->addLayout(right, 1);
  return Page(columns);
}

// ------------------------------------------------------------ pickers

void TConfigDialog::ShowFont() {
  FontLabel->setText(QString("Screen font: %1, %2 pt")
                         .arg(QString::fromLatin1(Record.FontName.str().c_str()))
                         .arg(Record.FontSize));
}

void TConfigDialog::PickFont() {
  const std::optional<QFont> chosen = ChooseFont(FontOf(Record));
  if (!chosen) return;
  Record.FontName = StoredFontName(chosen->family().toLatin1().toStdString());
  if (chosen->pointSize() > 0) Record.FontSize = static_cast<std::uint16_t>(chosen->pointSize());
  std::uint8_t style = 0;
  if (chosen->bold()) style |= fsBold;
  if (chosen->italic()) style |= fsItalic;
  if (chosen->underline()) style |= fsUnderline;
  if (chosen->strikeOut()) style |= fsStrikeOut;
  Record.FontStyle = style;
  ShowFont();
}

void TConfigDialog::ShowAttributes(QPushButton* button, const TAttributeBlock& block) const {
  button->setIcon(Swatch(ToQColor(block.Foreground), ToQColor(block.Background), true));
}

void TConfigDialog::PickAttributes(int index, QPushButton* button) {
  const TAttributeButton& info = AttributeButton(index);
  TAttributeBlock& block = Record.*info.Block;
  const std::optional<TAttributeChoice> chosen = ChooseAttributes(info.ChooserCaption, ChoiceOf(block));
  if (!chosen) return;
  StoreChoice(*chosen, block);
  ShowAttributes(button, block);
}

// ------------------------------------------------------------ Browse

bool TConfigDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn || event->type() == QEvent::MouseButtonPress) {
    for (int e = 0; e < feCount; ++e) {
      if (watched == FileEdits[e]) Target = static_cast<TFileEdit>(e);
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TConfigDialog::Browse() {
  QLineEdit* edit = FileEdits[Target];
  const std::optional<std::string> chosen =
      Desktop.FileDialog(BrowseDialog(Target, edit->text().toLocal8Bit().toStdString()));
  if (!chosen || chosen->empty()) return;
  edit->setText(QString::fromLocal8Bit(BrowsedName(Target, *chosen).c_str()));
  edit->setCursorPosition(0);
}

// ------------------------------------------------------------ Apply and OK

void TConfigDialog::ReadTexts() {
  for (int e = 0; e < feCount; ++e) StoreText(FileEdits[e], Record.*FileEditInfo(static_cast<TFileEdit>(e)).Field);
  StoreText(HostName, Record.HostName);
  StoreText(FtpUser, Record.FTPUserName);
  StoreText(FtpPassword, Record.FTPPassword);
  StoreText(FtpHost, Record.FTPHostName);
  StoreText(RemotePath, Record.RemotePath);
  StoreText(LocalPath, Record.LocalPath);
}

void TConfigDialog::ReadControls() {
  ReadTexts();
  TSetupRecord& r = Record;
  for (const auto& [box, field] : Checks) {
    if (box->isChecked() != box->property(kShown).toBool()) r.*field = box->isChecked() ? 1 : 0;
  }
  r.Emulation = ValueOfChoice(Emulation->checkedId(), r.Emulation);
  r.ScreenSize = ValueOfChoice(ScreenSize->checkedId(), r.ScreenSize);
  r.BackSpaceSends = ValueOfChoice(BackSpace->checkedId(), r.BackSpaceSends);
  r.ComPort = ComPortOfChoice(ComPort->checkedId(), r.ComPort);
  r.BaudRate = ValueOfChoice(BaudRate->currentIndex(), r.BaudRate);
  r.Parity = ValueOfChoice(Parity->currentIndex(), r.Parity);
  r.FlowControl = ValueOfChoice(FlowControl->currentIndex(), r.FlowControl);
  r.StopBits = StopBitsOfChoice(StopBits->currentIndex(), r.StopBits);
  r.DataBits = DataBitsOfChoice(DataBits->currentIndex(), r.DataBits);
  r.Port = PortIndexOfText(Port->currentText().toLatin1().toStdString());
  r.QuorixType = ValueOfChoice(QuorixType->currentIndex(), r.QuorixType);
  r.CharDelay = ValueOfChoice(CharDelay->currentIndex(), r.CharDelay);
  r.LineDelay = ValueOfChoice(LineDelay->currentIndex(), r.LineDelay);
  r.EOL = ValueOfChoice(EndOfLine->currentIndex(), r.EOL);
  r.WaitChar = ReadWaitChar(WaitChar->text().toLatin1().toStdString(), r.WaitChar);
  StoreSpin(LineDly, r.LineDly);
  StoreSpin(SoftKeyDelay, r.SoftKeyDelay);
  StoreSpin(MaxEchoDelay, r.MaxEchoDelay);
  StoreSpin(PadsRetries, r.PadsRetries);
  StoreSpin(PadsDelay, r.PadsDelay);
}

// False, with the reason shown, when a text cannot be used (the allow-list).
bool TConfigDialog::ReadSecureControls() {
  const TSecureControls& c = SecureControls;
  TConnectionSettings& s = Connection;
  TAddressFilter allow;
  std::string error;
  if (!allow.Parse(c.ListenAllow->text().toStdString(), error)) {
    Tabs->setCurrentIndex(2);
    c.ListenAllow->setFocus();
    Desktop.ShowMessage({TMsgIcon::Error, "Allow Callers: " + error, "", mbOK, 0});
    return false;
  }
  s.ListenAllow = allow.Text();
  s.NetworkKind = ValueOfChoice(c.Kind->checkedId(), s.NetworkKind);
  s.SshUserName = c.User->text().trimmed().toStdString();
  s.SshPort = static_cast<std::uint16_t>(c.Port->value());
  s.SshKeyFile = c.KeyFile->text().trimmed().toStdString();
  s.KnownHostsFile = c.KnownHosts->text().trimmed().toStdString();
  s.SshKeepAlive = static_cast<std::uint16_t>(c.KeepAlive->value());
  s.Reconnect = c.Reconnect->isChecked() ? 1 : 0;
  s.ReconnectLimit = static_cast<std::uint8_t>(c.ReconnectLimit->value());
  s.ReconnectDelay = static_cast<std::uint16_t>(c.ReconnectDelay->value());
  s.FTPProtocol = ValueOfChoice(c.FtpProtocol->currentIndex(), s.FTPProtocol);
  return true;
}

void TConfigDialog::Apply() {
  if (!ReadSecureControls()) return;
  ReadControls();
  emit Applied(Record);
}

void TConfigDialog::Ok() {
  if (!ReadSecureControls()) return;
  ReadControls();
  accept();
}

void TConfigDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (const QScreen* screen = this->screen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}
