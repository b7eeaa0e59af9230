#include "desktop/editbox.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TEditBox::TEditBox(const QString& caption, const QString& text, QWidget* parent) : QDialog(parent) {
  setWindowTitle(caption);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  Edit = new QLineEdit(text, this);
  Edit->setMinimumWidth(280);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  OkBtn = buttons->button(QDialogButtonBox::Ok);
  CancelBtn = buttons->button(QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Edit);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

std::string TEditBox::Text() const {
  const QByteArray bytes = Edit->text().toLatin1();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

std::optional<std::string> TEditBox::Ask(QWidget* parent, const QString& caption, const QString& text) {
  TEditBox box(caption, text, parent);
  if (box.exec() != QDialog::Accepted) return std::nullopt;
  return box.Text();
}
