#include "desktop/receivedialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "desktop/helpwindow.h"

namespace {
QString FromLocal(const std::string& text) { return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())); }
}  // namespace

TReceiveDialog::TReceiveDialog(TDesktop& desktop, bool ascii, const TReceiveParameters& preset, QWidget* parent)
    : QDialog(parent), Desktop(desktop) {
  setObjectName(QStringLiteral("ReceiveDialog"));
  setWindowTitle(QString::fromLatin1(kTitle));

  auto* fileGroup = new QGroupBox(QStringLiteral("File Name"), this);
  Name = new QLineEdit(fileGroup);
  Name->setObjectName(QStringLiteral("FileNameEdt"));
  Name->setMaxLength(80);  // the settings keep 80 characters
  Name->setMinimumWidth(Name->fontMetrics().horizontalAdvance(QLatin1Char('M')) * 28);
  Name->setText(FromLocal(preset.FileName));
  BrowseBtn = new QPushButton(QStringLiteral("Browse"), fileGroup);
  BrowseBtn->setObjectName(QStringLiteral("BrowseBtn"));
  BrowseBtn->setAutoDefault(false);
  auto* fileLayout = new QHBoxLayout(fileGroup);
  fileLayout->addWidget(Name, 1);
  fileLayout->addWidget(BrowseBtn);

  auto* optionGroup = new QGroupBox(QStringLiteral("Parameters"), this);
  CtrlZ = new QCheckBox(QStringLiteral("Ctrl-Z Ends Transfer"), optionGroup);
  CtrlZ->setObjectName(QStringLiteral("CtrlZEndsChk"));
  Suppress = new QCheckBox(QStringLiteral("Suppress Control Characters"), optionGroup);
  Suppress->setObjectName(QStringLiteral("SuppressCtrlChk"));
  CtrlZ->setChecked(ascii && preset.CtrlZEnds);
  Suppress->setChecked(ascii && preset.SuppressControl);
  CtrlZ->setEnabled(ascii);
  Suppress->setEnabled(ascii);
  auto* optionLayout = new QVBoxLayout(optionGroup);
  optionLayout->addWidget(CtrlZ);
  optionLayout->addWidget(Suppress);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton(QDialogButtonBox::Ok);
  buttons->addButton(QDialogButtonBox::Cancel);
  QPushButton* help = buttons->addButton(QDialogButtonBox::Help);
  ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(help, &QPushButton::clicked, this, [this] { ShowHelpTopic(this, QString::fromLatin1(help::kTransfer)); });
  connect(BrowseBtn, &QPushButton::clicked, this, &TReceiveDialog::Browse);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(fileGroup);
  layout->addWidget(optionGroup);
  layout->addWidget(buttons);
  Name->setFocus();
}

TReceiveParameters TReceiveDialog::Parameters() const {
  TReceiveParameters chosen;
  chosen.FileName = Name->text().toLocal8Bit().toStdString();
  chosen.CtrlZEnds = CtrlZ->isEnabled() && CtrlZ->isChecked();
  chosen.SuppressControl = Suppress->isEnabled() && Suppress->isChecked();
  return chosen;
}

void TReceiveDialog::Browse() {
  TFileDialog dialog;
  dialog.Save = true;
  dialog.Title = kBrowseTitle;
  dialog.Filter = "All Files (*.*)|*.*";
  dialog.InitialName = Name->text().toLocal8Bit().toStdString();
  const std::optional<std::string> chosen = Desktop.FileDialog(dialog);
  if (!chosen) return;
  Name->setText(FromLocal(*chosen));
}

std::optional<TReceiveParameters> TReceiveDialog::Ask(TDesktop& desktop, QWidget* parent, bool ascii,
                                                      const TReceiveParameters& preset) {
  TReceiveDialog dialog(desktop, ascii, preset, parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Parameters();
}
