#include "desktop/senddialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/configrules.h"
#include "core/desktop.h"
#include "desktop/bytetext.h"

namespace {
const char* const kSendCharDelays[] = {"No Wait", "Paced By Echo"};
// The send dialog words the last line delay "Wait For A Keystroke".
const char* const kSendLineDelays[] = {"No Wait", "Wait For A Character", "Wait For x/10 Seconds",
                                       "Wait For A Keystroke"};
const char* const kSendLineEnds[] = {"CR", "LF", "No Change", "CR-LF", "LF-CR"};
constexpr const char* kSendFileFilter =
    "All File Types(*.*)|*.*|TXT Files     (*.TXT)|*.TXT|MAC Files     (*.MAC)|*.MAC|"
    "Log/TRC Files (*.LOG,*.TRC)|*.LOG;*.TRC";

template <std::size_t N>
QComboBox* Combo(const char* const (&items)[N], std::uint8_t value) {
  auto* combo = new QComboBox;
  for (const char* item : items) combo->addItem(QString::fromLatin1(item));
  combo->setCurrentIndex(ComboChoice(value, N));
  return combo;
}

QSpinBox* Spin(int maximum, int value) {
  auto* spin = new QSpinBox;
  spin->setRange(0, maximum);
  spin->setValue(value);
  return spin;
}

}  // namespace

TSendDialog::TSendDialog(const TSetupRecord& settings, TDesktop& desktop, QWidget* parent)
    : QDialog(parent), Record(settings), Desktop(desktop) {
  setWindowTitle(QStringLiteral("Send File Selection"));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    ReadControls();
    accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(FileGroup());
  layout->addWidget(PacingGroup());
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

QWidget* TSendDialog::FileGroup() {
  auto* group = new QGroupBox(QStringLiteral("Send/Receive File Name:"));
  FileName = new QLineEdit(QString::fromLocal8Bit(Record.SendReceiveFileName.str().c_str()));
  FileName->setMaxLength(static_cast<int>(decltype(Record.SendReceiveFileName)::Capacity));
  FileName->setMinimumWidth(fontMetrics().averageCharWidth() * 48);
  FileName->setCursorPosition(0);
  Browse = new QPushButton(QStringLiteral("Browse"));
  connect(Browse, &QPushButton::clicked, this, &TSendDialog::BrowseFile);
  auto* row = new QHBoxLayout(group);
  row->addWidget(FileName, 1);
  row->addWidget(Browse);
  return group;
}

QWidget* TSendDialog::PacingGroup() {
  auto* group = new QGroupBox(QStringLiteral("Transmit - ASCII"));
  CharDelay = Combo(kSendCharDelays, Record.CharDelay);
  LineDelay = Combo(kSendLineDelays, Record.LineDelay);
  EndOfLine = Combo(kSendLineEnds, Record.EOL);
  WaitChar = new QLineEdit(QString::fromLatin1(WaitCharText(Record.WaitChar).c_str()));
  WaitChar->setMaximumWidth(fontMetrics().averageCharWidth() * 10);
  CtrlZ = new QCheckBox(QStringLiteral("Ctrl-Z at EOF"));
  CtrlZ->setChecked(Record.EOFCtrlZ != 0);
  WaitAfterLine = Spin(100, Record.LineDly);
  MaxEchoDelay = Spin(50, Record.MaxEchoDelay);
  auto* form = new QFormLayout(group);
  form->addRow(QStringLiteral("Character Delay"), CharDelay);
  form->addRow(QStringLiteral("Line Delay"), LineDelay);
  form->addRow(QStringLiteral("Char To Wait For"), WaitChar);
  form->addRow(QStringLiteral("End Of Line"), EndOfLine);
  form->addRow(QStringLiteral("Wait After Line"), WaitAfterLine);
  form->addRow(QStringLiteral("Max Echo Delay"), MaxEchoDelay);
  form->addRow(CtrlZ);
  form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
  return group;
}

void TSendDialog::BrowseFile() {
  TFileDialog dialog;
  dialog.Title = "Find Send File";
  dialog.Filter = kSendFileFilter;
  dialog.InitialName = FileName->text().toLocal8Bit().toStdString();
  dialog.MustExist = true;
  const std::optional<std::string> chosen = Desktop.FileDialog(dialog);
  if (chosen) FileName->setText(QString::fromLocal8Bit(chosen->c_str()));
}

void TSendDialog::ReadControls() {
  Record.SendReceiveFileName.assign(FileName->text().trimmed().toLocal8Bit().toStdString());
  Record.CharDelay = ValueOfChoice(CharDelay->currentIndex(), Record.CharDelay);
  Record.LineDelay = ValueOfChoice(LineDelay->currentIndex(), Record.LineDelay);
  Record.EOL = ValueOfChoice(EndOfLine->currentIndex(), Record.EOL);
  Record.WaitChar = ReadWaitChar(ToBytes(WaitChar->text()), Record.WaitChar);
  Record.EOFCtrlZ = CtrlZ->isChecked() ? 1 : 0;
  Record.LineDly = static_cast<std::uint8_t>(WaitAfterLine->value());
  Record.MaxEchoDelay = static_cast<std::uint8_t>(MaxEchoDelay->value());
}
