#include "desktop/softkeydialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "desktop/bytetext.h"
#include "desktop/helpwindow.h"

QString TQelFKeyDlg::Caption(TKind kind) {
  switch (kind) {
    case fkShift: return QStringLiteral("Define Shift-Function Keys F1 to F12");
    case fkCntrl: return QStringLiteral("Define Cntrl-Function Keys F1 to F12");
    case fkAnswerBack: return QStringLiteral("Define Answer back string");
    default: return QStringLiteral("Define Function Keys F1 to F12");
  }
}

TShortString<255>* TQelFKeyDlg::Fields(TSetupRecord& record) const {
  switch (Kind) {
    case fkShift: return record.ShiftSoftKeys;
    case fkCntrl: return record.CntrlSoftKeys;
    case fkAnswerBack: return &record.AnswerBack;
    default: return record.SoftKeys;
  }
}

TQelFKeyDlg::TQelFKeyDlg(const TSetupRecord& settings, TKind kind, QWidget* parent)
    : QDialog(parent), Draft(settings), Kind(kind) {
  setWindowTitle(Caption(kind));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  const int count = kind == fkAnswerBack ? 1 : 12;
  TShortString<255>* fields = Fields(Draft);
  auto* grid = new QGridLayout;
  for (int i = 0; i < 12; ++i) {
    Labels[i] = new QLabel(QStringLiteral("F%1").arg(i + 1), this);
    Edits[i] = new QLineEdit(this);
    Edits[i]->setMaxLength(255);
    Edits[i]->setMinimumWidth(360);
    Labels[i]->setBuddy(Edits[i]);
    grid->addWidget(Labels[i], i, 0);
    grid->addWidget(Edits[i], i, 1);
    if (i < count) {
      Edits[i]->setText(FromBytes(fields[i].view()));
    } else {
      Labels[i]->hide();
      Edits[i]->hide();
    }
  }
  if (kind == fkAnswerBack) Labels[0]->hide();
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help, this);
  OkBtn = buttons->button(QDialogButtonBox::Ok);
  CancelBtn = buttons->button(QDialogButtonBox::Cancel);
  HelpBtn = buttons->button(QDialogButtonBox::Help);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(buttons, &QDialogButtonBox::helpRequested, this, &TQelFKeyDlg::HelpRequested);
  connect(buttons, &QDialogButtonBox::helpRequested, this,
          [this] { ShowHelpTopic(this, QString::fromLatin1(help::kSoftKeys)); });
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

TSetupRecord TQelFKeyDlg::Settings() const {
  TSetupRecord result = Draft;
  TShortString<255>* fields = Fields(result);
  const int count = Kind == fkAnswerBack ? 1 : 12;
  for (int i = 0; i < count; ++i) {
    // Characters beyond Latin-1 cannot go to the host; they become '?'.
    const QByteArray bytes = Edits[i]->text().toLatin1();
    fields[i].assign(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
  }
  return result;
}
