#include "desktop/printdialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "desktop/helpwindow.h"

TQelPrintDialog::TQelPrintDialog(QPrinter& printer, const TPrintChoice& preset, const std::string& logFileName,
                                 QWidget* parent)
    : QPrintDialog(&printer, parent) {
  setObjectName(QStringLiteral("QelPrintDialog"));
  setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintSelection |
             QAbstractPrintDialog::PrintShowPageSize);
  setPrintRange(preset.MarkedOnly ? QAbstractPrintDialog::Selection : QAbstractPrintDialog::AllPages);

  auto* page = new QWidget;
  page->setWindowTitle(QStringLiteral("Print to File"));
  ToFile = new QCheckBox(QStringLiteral("Print to file: the lines as text into the Log File Name"), page);
  ToFile->setObjectName(QStringLiteral("PrintToFile"));
  ToFile->setChecked(preset.ToFile);
  const QString name = QString::fromLocal8Bit(logFileName.c_str());
  FileName = new QLabel(name.isEmpty() ? QStringLiteral("(no Log File Name: Setup|Configure|Files)") : name, page);
  FileName->setTextInteractionFlags(Qt::TextSelectableByMouse);
  Help = new QPushButton(QStringLiteral("&Help"), page);
  connect(Help, &QPushButton::clicked, this, [this] { ShowHelpTopic(this, QString::fromLatin1(help::kPrinting)); });
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(ToFile);
  layout->addWidget(FileName);
  layout->addStretch(1);
  layout->addWidget(Help, 0, Qt::AlignRight);
  setOptionTabs({page});
}

TPrintChoice TQelPrintDialog::Choice() const {
  return {printRange() == QAbstractPrintDialog::Selection, ToFile->isChecked()};
}
