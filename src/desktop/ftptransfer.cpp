#include "desktop/ftptransfer.h"

#include <QFormLayout>
#include <QLabel>
#include <QLocale>

TQelFTPTransfer::TQelFTPTransfer(QWidget* parent) : QWidget(parent, Qt::Tool) {
  setWindowTitle(QStringLiteral("FTP Transfer"));
  FileLabel = new QLabel;
  FileLabel->setObjectName(QStringLiteral("FileLabel"));
  FileLabel->setMinimumWidth(260);
  BytesLabel = new QLabel;
  BytesLabel->setObjectName(QStringLiteral("BytesLabel"));
  auto* form = new QFormLayout(this);
  form->addRow(QStringLiteral("File :"), FileLabel);
  form->addRow(QStringLiteral("Bytes :"), BytesLabel);
}

void TQelFTPTransfer::Clear() {
  FileLabel->clear();
  BytesLabel->clear();
}

void TQelFTPTransfer::ShowFile(const QString& direction, const QString& name) {
  FileLabel->setText(direction + QLatin1Char(' ') + name);
  BytesLabel->clear();
}

void TQelFTPTransfer::ShowBytes(std::int64_t bytes) {
  // Grouped digits: a 200 MB count is read at a glance.
  BytesLabel->setText(QLocale::system().toString(static_cast<qlonglong>(bytes)));
}
