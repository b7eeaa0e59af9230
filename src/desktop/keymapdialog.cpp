#include "desktop/keymapdialog.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <qdrawutil.h>

#include "desktop/bytetext.h"
#include "desktop/qtdesktop.h"
#include "terminal/keymap.h"

namespace {
std::optional<std::string> QtOpenDialog(QWidget* parent, const TFileDialog& dialog) {
  const QString name = QFileDialog::getOpenFileName(parent, FromBytes(dialog.Title), FromBytes(dialog.InitialName),
                                                    TQtDesktop::QtFilter(dialog.Filter));
  if (name.isEmpty()) return std::nullopt;
  return ToBytes(name);
}
}  // namespace

TKeyboardPicture::TKeyboardPicture(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

int TKeyboardPicture::Unit() const {
  // A key is a little wider than its longest caption ("Break", "Shift").
  return std::max(6, (fontMetrics().horizontalAdvance(QStringLiteral("Break")) + 8) / 4);
}

QSize TKeyboardPicture::sizeHint() const { return {kKeyboardWidth * Unit() + 1, kKeyboardHeight * Unit() + 1}; }

QRect TKeyboardPicture::PanelRect(int index) const {
  const TKeyPanel& p = PcKeyboardPanels()[static_cast<std::size_t>(index)];
  const int u = Unit();
  return {p.X * u, p.Y * u, p.Width * u - 1, p.Height * u - 1};
}

void TKeyboardPicture::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const auto panels = PcKeyboardPanels();
  for (std::size_t i = 0; i < panels.size(); ++i) {
    const QRect r = PanelRect(static_cast<int>(i));
    qDrawShadePanel(&painter, r, palette(), false, 1, &palette().button());
    painter.setPen(palette().buttonText().color());
    painter.drawText(r, Qt::AlignCenter, QString::fromLatin1(panels[i].Caption));
  }
}

TQelKeyboard::TQelKeyboard(const TSetupRecord& settings, QWidget* parent) : QDialog(parent), Draft(settings) {
  setWindowTitle(QStringLiteral("Keyboard"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  Picture = new TKeyboardPicture(this);
  auto* group = new QGroupBox(QStringLiteral("Keyboard Map File Name"), this);
  FileNameEdit = new QLineEdit(FromBytes(settings.KeyMapFileName.view()), group);
  FileNameEdit->setMaxLength(static_cast<int>(kKeyMapNameMax));
  BrowseBtn = new QPushButton(QStringLiteral("Browse"), group);
  auto* groupLayout = new QHBoxLayout(group);
  groupLayout->addWidget(FileNameEdit, 1);
  groupLayout->addWidget(BrowseBtn);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  OkBtn = buttons->button(QDialogButtonBox::Ok);
  CancelBtn = buttons->button(QDialogButtonBox::Cancel);
  connect(BrowseBtn, &QPushButton::clicked, this, &TQelKeyboard::Browse);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  ChooseFile = [this](const TFileDialog& dialog) { return QtOpenDialog(this, dialog); };
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Picture);
  layout->addWidget(group);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void TQelKeyboard::Browse() {
  TFileDialog dialog;
  dialog.Filter = kKeyMapFileFilter;
  dialog.InitialName = ToBytes(FileNameEdit->text());
  dialog.MustExist = true;
  const std::optional<std::string> chosen = ChooseFile(dialog);
  if (chosen) FileNameEdit->setText(FromBytes(*chosen));
}

TSetupRecord TQelKeyboard::Settings() const {
  TSetupRecord result = Draft;
  result.KeyMapFileName.assign(ToBytes(FileNameEdit->text()));  // at most 80: the field cuts
  return result;
}
